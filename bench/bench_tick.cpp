// One whole tick of the panel, headless: frmMain on the simulated bus in
// this process (steady clock, as in the simulator library), its timer
// stopped and Timer1_Timer() called directly, so the figure is the tick's
// own work: compose, write, read, decode, and the panel's elements handed
// what changed (a text only when it differs, a status look only when its
// state does); one variant also repaints the whole window.
#include "exchange.h"
#include "frm_main.h"
#include "recording_end.h"
#include "sim_bus.h"
#include "sim_bus_link.h"
#include "manual_clock.h"

#include <QApplication>
#include <QLineEdit>
#include <QSlider>
#include <QTimer>
#include <benchmark/benchmark.h>

using namespace kvx;

namespace {

template <typename Clock = sim::SteadyClock>
struct SimulatedPanel {
    Clock clock;
    sim::SimBus bus{clock};
    kvx::soak::SimBusLink link{bus};
    kvx::MotionState state;
    kvx::test::RecordingEnd end;
    std::unique_ptr<kvx::frmMain> panel;

    SimulatedPanel()
    {
        link.SI_SetTimeouts(10000, 10000);
        link.SI_Open(0, &state.DeviceHandle);
        state.Demultiplication = 15;
        state.AxisCaption = QStringLiteral("X");
        panel = std::make_unique<kvx::frmMain>(state, link, end);
        panel->show();
        QApplication::processEvents(); // load and activate
        panel->Timer1->stop();
    }
};

// The panel as the operator leaves it most of the time: enabled, idle.
void WholeTickIdle(benchmark::State& run)
{
    SimulatedPanel<> p;
    for (auto _ : run)
        p.panel->Timer1_Timer();
    if (p.end.isEnding())
        run.SkipWithError("the tick failed");
}
BENCHMARK(WholeTickIdle)->Unit(benchmark::kMicrosecond);

// The same with a jog under way at full speed on a clock that moves 30 ms
// per tick, as the real timer's does, so the readout really changes. The
// jog turns round before each limit switch; "readout changed" is the share
// of ticks that handed Text1 a new text.
void WholeTickJogging(benchmark::State& run)
{
    SimulatedPanel<sim::test::ManualClock> p;
    p.state.JogModeFlag = CommandBit::JogMode;
    int speed = 10000;
    p.panel->Slider1->setValue(speed);
    int64_t ticks = 0, changed = 0;
    QString shown = p.panel->Text1->text();
    for (auto _ : run) {
        p.clock.seconds += 0.030;
        p.panel->Timer1_Timer();
        ++ticks;
        if (p.panel->Text1->text() != shown) {
            ++changed;
            shown = p.panel->Text1->text();
        }
        if (ticks % 2000 == 0) {
            speed = -speed;
            p.panel->Slider1->setValue(speed);
        }
    }
    run.counters["readout changed"] = ticks ? double(changed) / double(ticks) : 0.0;
    if (p.end.isEnding())
        run.SkipWithError("the tick failed");
}
BENCHMARK(WholeTickJogging)->Unit(benchmark::kMicrosecond);

// The same again with the whole window repainted at once after each tick:
// an upper bound of what Qt paints per tick (it repaints only what changed,
// and at most once per frame).
void WholeTickJoggingPainted(benchmark::State& run)
{
    SimulatedPanel<> p;
    p.panel->Slider1->setValue(10000);
    p.state.JogModeFlag = CommandBit::JogMode;
    for (auto _ : run) {
        p.panel->Timer1_Timer();
        p.panel->repaint();
    }
    if (p.end.isEnding())
        run.SkipWithError("the tick failed");
}
BENCHMARK(WholeTickJoggingPainted)->Unit(benchmark::kMicrosecond);

// The exchange alone, without the window: what the display update adds is
// the difference.
void ExchangeWithoutWindow(benchmark::State& run)
{
    SimulatedPanel<> p;
    const SliderValues sliders;
    for (auto _ : run) {
        TickResult result = runExchange(p.state, sliders, 0, p.link);
        benchmark::DoNotOptimize(result);
    }
}
BENCHMARK(ExchangeWithoutWindow)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
