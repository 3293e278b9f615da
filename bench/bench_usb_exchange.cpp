// One exchange, a 12-byte write and a 12-byte read, through the Linux USB
// library on an emulated controller, beside the same through the simulated
// bus. Run with umockdev's preload (umockdev-wrapper), as scripts/bench does.
#include "emulated_bus.h"
#include "sim_bus.h"
#include "usbxpress.h"

#include <benchmark/benchmark.h>

#include <array>

namespace {

// An enabled drive at the design values, target 0.
constexpr std::array<uint8_t, 12> Frame = {0xb4, 0x4b, 0x64, 0x08, 0xff, 0x7f, 0x32, 0x90, 0x00, 0x00, 0x00, 0x40};

void UsbLibraryOnEmulatedController(benchmark::State& run)
{
    static kvx::usbtest::EmulatedBus bus({{"KVX-340 X"}});
    uint32_t count = 0;
    void* handle = nullptr;
    if (SI_GetNumDevices(&count) != 0 || count != 1 || SI_Open(0, &handle) != 0) {
        run.SkipWithError("no emulated controller: run under umockdev-wrapper");
        return;
    }
    std::array<uint8_t, 12> frame = Frame, answer{};
    for (auto _ : run) {
        uint32_t written = 0, read = 0;
        if (SI_Write(handle, frame.data(), 12, &written, nullptr) != 0 ||
            SI_Read(handle, answer.data(), 12, &read, nullptr) != 0 || read != 12) {
            run.SkipWithError("exchange failed");
            break;
        }
        benchmark::DoNotOptimize(answer);
    }
    SI_Close(handle);
}
BENCHMARK(UsbLibraryOnEmulatedController)->UseRealTime();

void SimulatedBus(benchmark::State& run)
{
    kvx::sim::SteadyClock clock;
    kvx::sim::SimBus bus{clock};
    uint32_t count = 0;
    void* handle = nullptr;
    bus.getNumDevices(&count);
    bus.open(0, &handle);
    std::array<uint8_t, 12> answer{};
    for (auto _ : run) {
        uint32_t written = 0, read = 0;
        bus.write(handle, Frame.data(), 12, &written);
        bus.read(handle, answer.data(), 12, &read);
        benchmark::DoNotOptimize(answer);
    }
    bus.close(handle);
}
BENCHMARK(SimulatedBus)->UseRealTime();

} // namespace
