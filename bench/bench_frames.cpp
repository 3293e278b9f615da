// Composing a command frame and decoding a status frame: the codec's share of a tick.
#include "exchange.h"
#include "frames.h"

#include <benchmark/benchmark.h>

namespace {

void ComposeCommandFrame(benchmark::State& run)
{
    kvx::MotionState state;
    state.EnableFlag = 8;
    kvx::SliderValues sliders;
    double target = 187.5;
    for (auto _ : run) {
        kvx::composeCommandFrame(state, sliders, target);
        benchmark::DoNotOptimize(state.FrameBuffer);
        target += 1;
    }
}
BENCHMARK(ComposeCommandFrame);

void DecodeStatusFrame(benchmark::State& run)
{
    const kvx::Frame frame = kvx::encodeStatusFrame({188, 16, 188});
    for (auto _ : run) {
        kvx::StatusFrame status = kvx::decodeStatusFrame(frame.data());
        benchmark::DoNotOptimize(status);
    }
}
BENCHMARK(DecodeStatusFrame);

// Decoding plus the texts and lamp states the panel shows.
void DecodeStatusIntoDisplay(benchmark::State& run)
{
    kvx::MotionState state;
    state.Demultiplication = 15;
    const kvx::Frame frame = kvx::encodeStatusFrame({188, 16, 188});
    std::copy(frame.begin(), frame.end(), state.FrameBuffer.begin());
    for (auto _ : run) {
        kvx::PanelDisplay display = kvx::decodeStatusIntoDisplay(state);
        benchmark::DoNotOptimize(display);
    }
}
BENCHMARK(DecodeStatusIntoDisplay);

} // namespace
