#include "soak_run.h"

#include "axis_model.h"
#include "resident_memory.h"
#include "frame_tap.h"
#include "sim_bus.h"
#include "sim_bus_link.h"
#include "usb_library.h"

#include <QStringList>
#include <chrono>
#include <cmath>
#include <functional>

namespace kvx::soak {

using kvx::test::residentKiB;

namespace {

class HandClock final : public sim::SimClock {
public:
    double now() override { return seconds; }
    void sleepFor(double duration) override { seconds += duration; }
    double seconds = 0.0;
};

// Drive options and ratio as an operator might have chosen them in the
// dialog; "Limit Switch Active on HI" is left out, it stops every motion.
void confirmDialog(MotionState& state, uint32_t seed)
{
    static constexpr double ratios[] = {3.7, 15, 1, 12};
    state.ReverseMotorFlag = (seed & 1) ? OptionBit::ReverseMotor : 0;
    state.ReverseLimitFlag = (seed & 2) ? OptionBit::ReverseLimit : 0;
    state.Demultiplication = ratios[(seed >> 2) & 3];
    state.AxisCaption = QStringLiteral("X");
    state.EnableFlag = CommandBit::Enable; // the panel's activation
}

using AfterTick = std::function<void(SoakReport&, const MotionState&)>;

void runTicks(SoakReport& report, UsbLink& inner, UsbHandle handle, const SoakOptions& options,
              const std::function<void()>& beforeTick, const AfterTick& afterTick)
{
    FrameTap tap(inner);
    MotionState state;
    state.DeviceHandle = handle;
    confirmDialog(state, options.seed);
    SliderValues sliders;
    double targetPosition = 0;
    report.operatorScript = SoakOperator(options.seed);
    const uint64_t warmUp = std::min<uint64_t>(options.exchanges / 10, 2000);

    const auto start = std::chrono::steady_clock::now();
    report.residentStartKiB = residentKiB();
    for (uint64_t tick = 0; tick < options.exchanges; ++tick) {
        if (tick == warmUp)
            report.residentStartKiB = residentKiB();
        report.operatorScript.beforeTick(state, sliders, targetPosition);
        beforeTick();
        const TickResult result = runExchange(state, sliders, targetPosition, tap);
        if (tap.lastWriteLength != FrameSize)
            report.checker.fail("the tick wrote " + std::to_string(tap.lastWriteLength) + " bytes");
        report.checker.commandFrame(tap.lastWritten, state, sliders, targetPosition);
        if (result.failed) {
            report.linkFailure = result.failureMessage;
            break;
        }
        Frame status;
        std::copy_n(state.FrameBuffer.begin(), FrameSize, status.begin());
        report.checker.statusFrame(status);
        afterTick(report, state);
        ++report.exchanges;
    }
    report.residentEndKiB = residentKiB();
    report.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The model's own view: the switches bound its travel, the reported ideal
// position is its profile rounded, and only ZERO moves its origin.
class ModelWatch {
public:
    explicit ModelWatch(const sim::SimBus& bus) : bus_(bus) {}

    void check(SoakReport& report, const MotionState& state)
    {
        const sim::AxisModel model = bus_.model(0);
        const StatusFrame status = decodeStatusFrame(state.FrameBuffer.data());
        const double direction = state.ReverseMotorFlag ? -1.0 : 1.0;
        const double origin = model.position() - direction * model.travel();
        const bool zeroed = state.ZeroFlag != 0;
        auto fail = [&](const std::string& what) {
            ++report.modelViolations;
            report.checker.fail("model: " + what);
        };
        if (std::fabs(model.travel()) > sim::AxisConstants::TravelLimit)
            fail("travel beyond the switches: " + std::to_string(model.travel()));
        if (status.IdealPosition != static_cast<int64_t>(roundHalfEven(model.position())))
            fail("reported ideal position " + std::to_string(status.IdealPosition) + ", model at " +
                 std::to_string(model.position()));
        if (origin_ && !zeroed && std::fabs(origin - *origin_) > 1e-6)
            fail("origin moved without ZERO");
        origin_ = origin;
        bool lower = model.travel() <= -sim::AxisConstants::TravelLimit;
        bool upper = model.travel() >= sim::AxisConstants::TravelLimit;
        if (state.ReverseLimitFlag)
            std::swap(lower, upper);
        if (bool(status.StatusByte & StatusBit::LowerLimit) != lower ||
            bool(status.StatusByte & StatusBit::UpperLimit) != upper)
            fail("limit bits do not match the travel");
        if (lower || upper)
            ++report.switchTicks;
    }

private:
    const sim::SimBus& bus_;
    std::optional<double> origin_;
};

} // namespace

SoakReport runLinkSoak(const QString& libraryFile, const SoakOptions& options)
{
    SoakReport report;
    UsbLibrary library(libraryFile, QStringLiteral("kvx340sim"));
    uint32_t devices = 0;
    UsbHandle handle = nullptr;
    // As the dialog does it: count, set the time-outs, open the first.
    if (library.SI_GetNumDevices(&devices) != 0 || devices == 0 || library.SI_SetTimeouts(10000, 10000) != 0 ||
        library.SI_Open(0, &handle) != 0) {
        report.linkFailure = QStringLiteral("the simulated controller could not be opened");
        return report;
    }
    runTicks(report, library, handle, options, [] {}, [](SoakReport&, const MotionState&) {});
    library.SI_Close(handle);
    return report;
}

SoakReport runModelSoak(const SoakOptions& options)
{
    SoakReport report;
    HandClock clock;
    sim::SimBus bus(clock);
    SimBusLink link(bus);
    UsbHandle handle = nullptr;
    link.SI_SetTimeouts(10000, 10000);
    if (link.SI_Open(0, &handle) != 0) {
        report.linkFailure = QStringLiteral("the simulated controller could not be opened");
        return report;
    }
    ModelWatch watch(bus);
    runTicks(
        report, link, handle, options, [&] { clock.seconds += 0.030; },
        [&](SoakReport& r, const MotionState& state) { watch.check(r, state); });
    link.SI_Close(handle);
    return report;
}

QString describe(const SoakReport& r, const char* mode)
{
    const SoakOperator& op = r.operatorScript;
    QStringList lines;
    lines << QStringLiteral("%1 soak: %2 exchanges in %3 s (%4 us each)")
                 .arg(QLatin1String(mode))
                 .arg(r.exchanges)
                 .arg(r.seconds, 0, 'f', 2)
                 .arg(r.exchanges ? r.seconds * 1e6 / r.exchanges : 0, 0, 'f', 2);
    lines << QStringLiteral("  operator: %1 moves, %2 relative moves, %3 jogs, %4 stops, %5 zeroes, %6 slider "
                            "changes, %7 long waits")
                 .arg(op.moves)
                 .arg(op.relativeMoves)
                 .arg(op.jogs)
                 .arg(op.stops)
                 .arg(op.zeroes)
                 .arg(op.sliderChanges)
                 .arg(op.pauses);
    lines << QStringLiteral("  checked: %1 command frames, %2 completed moves on target, %3 frames after ZERO, "
                            "%4 ticks on a switch")
                 .arg(r.checker.frames())
                 .arg(r.checker.completedMoves())
                 .arg(r.checker.zeroesSeen())
                 .arg(r.switchTicks);
    lines << QStringLiteral("  resident memory: %1 KiB after warm-up, %2 KiB at the end (%3%4 KiB)")
                 .arg(r.residentStartKiB)
                 .arg(r.residentEndKiB)
                 .arg(r.residentEndKiB >= r.residentStartKiB ? "+" : "")
                 .arg(r.residentEndKiB - r.residentStartKiB);
    lines << QStringLiteral("  violations: %1").arg(r.checker.violations());
    for (const std::string& v : r.checker.firstViolations())
        lines << QStringLiteral("    %1").arg(QString::fromStdString(v));
    if (!r.linkFailure.isEmpty())
        lines << QStringLiteral("  ended by: %1").arg(r.linkFailure);
    return lines.join(u'\n');
}

} // namespace kvx::soak
