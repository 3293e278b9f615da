// The nine library functions, exported from libkvx340sim and forwarded to
// one simulated bus running on the steady clock. Nothing else is exported.
#include "sim_bus.h"
#include "usbxpress.h"

#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

using kvx::sim::SimBus;

kvx::sim::FaultScript scriptFromEnvironment()
{
    const char* text = std::getenv(kvx::sim::FaultScriptVariable);
    return kvx::sim::parseFaultScript(text ? text : "");
}

SimBus& bus()
{
    static kvx::sim::SteadyClock clock;
    static SimBus instance(clock, scriptFromEnvironment());
    return instance;
}

// For checks that watch the real program from outside: with this variable
// naming a file, the calls that list, open and close controllers are
// appended to it, one line each: the function and its status.
constexpr const char* CallLogVariable = "KVX340_SIM_CALL_LOG";

int logged(const char* function, int status)
{
    static const char* const path = std::getenv(CallLogVariable);
    if (path) {
        if (std::FILE* log = std::fopen(path, "a")) {
            std::fprintf(log, "%s %d\n", function, status);
            std::fclose(log);
        }
    }
    return status;
}

// No C++ exception may cross into the caller.
template <typename Call>
int guarded(Call call) noexcept
{
    try {
        return call(bus());
    } catch (...) {
        return kvx::sim::SimStatus::DeviceIoFailed;
    }
}

} // namespace

extern "C" {

// Each listing taken while no controller is open reads the fault script
// afresh and starts over with new controllers.
SI_EXPORT int SI_API SI_GetNumDevices(uint32_t* numDevices)
{
    return logged("SI_GetNumDevices", guarded([&](SimBus& b) {
        b.restart(scriptFromEnvironment());
        return b.getNumDevices(numDevices);
    }));
}

SI_EXPORT int SI_API SI_GetProductString(uint32_t deviceNumber, void* buffer, uint32_t options)
{
    return guarded([&](SimBus& b) { return b.getProductString(deviceNumber, buffer, options); });
}

SI_EXPORT int SI_API SI_Open(uint32_t deviceNumber, void** handle)
{
    return logged("SI_Open", guarded([&](SimBus& b) { return b.open(deviceNumber, handle); }));
}

SI_EXPORT int SI_API SI_Close(void* handle)
{
    return logged("SI_Close", guarded([&](SimBus& b) { return b.close(handle); }));
}

SI_EXPORT int SI_API SI_Read(void* handle, void* buffer, uint32_t bytesToRead, uint32_t* bytesRead, void*)
{
    return guarded([&](SimBus& b) { return b.read(handle, buffer, bytesToRead, bytesRead); });
}

SI_EXPORT int SI_API SI_Write(void* handle, void* buffer, uint32_t bytesToWrite, uint32_t* bytesWritten, void*)
{
    return guarded([&](SimBus& b) { return b.write(handle, buffer, bytesToWrite, bytesWritten); });
}

SI_EXPORT int SI_API SI_SetTimeouts(uint32_t readTimeoutMs, uint32_t writeTimeoutMs)
{
    return guarded([&](SimBus& b) { return b.setTimeouts(readTimeoutMs, writeTimeoutMs); });
}

SI_EXPORT int SI_API SI_GetTimeouts(uint32_t* readTimeoutMs, uint32_t* writeTimeoutMs)
{
    return guarded([&](SimBus& b) { return b.getTimeouts(readTimeoutMs, writeTimeoutMs); });
}

SI_EXPORT int SI_API SI_CheckRXQueue(void* handle, uint32_t* bytesInQueue, uint32_t* queueStatus)
{
    return guarded([&](SimBus& b) { return b.checkRxQueue(handle, bytesInQueue, queueStatus); });
}
}
