// The nine library functions, exported from libkvx340sim and forwarded to
// one simulated bus running on the steady clock. Nothing else is exported.
#include "frames.h"
#include "sim_bus.h"
#include "usbxpress.h"

#include <cstdio>
#include <cstdlib>
#include <new>
#include <optional>
#include <string>
#include <utility>

namespace {

using kvx::sim::SimBus;

kvx::sim::FaultScript scriptFromEnvironment()
{
    const char* text = std::getenv(kvx::sim::FaultScriptVariable);
    return kvx::sim::parseFaultScript(text ? text : "");
}

SimBus& bus()
{
    // Destroyed in the reverse order: the bus saves what is open into the
    // store as the program ends.
    static kvx::sim::SteadyClock clock;
    static kvx::sim::FileControllerStore store;
    static SimBus instance(clock, scriptFromEnvironment(), &store);
    return instance;
}

// For checks that watch the real program from outside: with this variable
// naming a file, the calls that list, open and close controllers are
// appended to it, one line each: the function and its status, and the
// product string listed. So are the exchanges in which the program's
// command byte (without the toggle bit) or the controller's status byte
// changes, with the new byte, so that a check sees what the operator's
// commands sent and what the axis did without a line every 30 ms.
constexpr const char* CallLogVariable = "KVX340_SIM_CALL_LOG";

const char* callLogPath()
{
    static const char* const path = std::getenv(CallLogVariable);
    return path;
}

int logged(const char* function, int status, const std::string& detail = {})
{
    if (const char* path = callLogPath()) {
        if (std::FILE* log = std::fopen(path, "ab")) {
            std::fprintf(log, "%s %d%s\n", function, status, detail.c_str());
            std::fclose(log);
        }
    }
    return status;
}

// A whole frame exchanged is logged only when its byte (from byteAndDetail,
// with the words that follow the status) differs from the last one logged;
// anything else, a failure or a part of a frame, always. Every 30 ms: nothing
// is decoded unless a log was asked for.
template <typename ByteAndDetail>
int loggedOnChange(const char* function, int status, uint32_t count, std::optional<uint8_t>& last,
                   ByteAndDetail byteAndDetail)
{
    if (!callLogPath())
        return status;
    if (status != 0 || count != uint32_t(kvx::FrameSize))
        return logged(function, status);
    const auto [byte, detail] = byteAndDetail();
    if (last == byte)
        return status;
    last = byte;
    return logged(function, status, detail);
}

// With this variable naming a file, every whole command frame written is
// appended to it as 24 hexadecimal digits, one line each: checks compare
// what two programs sent byte for byte.
constexpr const char* FrameLogVariable = "KVX340_SIM_FRAME_LOG";

void logFrame(int status, const void* buffer, uint32_t written)
{
    const char* path = std::getenv(FrameLogVariable);
    if (!path || status != 0 || written != uint32_t(kvx::FrameSize))
        return;
    if (std::FILE* log = std::fopen(path, "ab")) {
        const auto* bytes = static_cast<const uint8_t*>(buffer);
        for (int i = 0; i < kvx::FrameSize; ++i)
            std::fprintf(log, "%02x", unsigned(bytes[i]));
        std::fputc('\n', log);
        std::fclose(log);
    }
}

int loggedWrite(int status, const void* buffer, uint32_t written)
{
    logFrame(status, buffer, written);
    static std::optional<uint8_t> lastCommand;
    return loggedOnChange("SI_Write", status, written, lastCommand, [buffer] {
        const uint8_t command = kvx::decodeCommandFrame(static_cast<const uint8_t*>(buffer)).CommandByte &
                                uint8_t(~kvx::CommandBit::Toggle);
        char detail[32];
        std::snprintf(detail, sizeof detail, " command %02x", unsigned(command));
        return std::pair{command, std::string(detail)};
    });
}

int loggedRead(int status, const void* buffer, uint32_t read)
{
    static std::optional<uint8_t> lastStatus;
    return loggedOnChange("SI_Read", status, read, lastStatus, [buffer] {
        const kvx::StatusFrame frame = kvx::decodeStatusFrame(static_cast<const uint8_t*>(buffer));
        char detail[64];
        std::snprintf(detail, sizeof detail, " status %02x %s position %lld", unsigned(frame.StatusByte),
                      frame.StatusByte & kvx::StatusBit::Busy ? "busy" : "idle", (long long)frame.MotorPosition);
        return std::pair{frame.StatusByte, std::string(detail)};
    });
}

// No C++ exception may cross into the caller.
template <typename Call>
int guarded(Call call) noexcept
{
    try {
        return call(bus());
    } catch (...) {
        return kvx::SiStatus::DeviceIoFailed;
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
    const int status = guarded([&](SimBus& b) { return b.getProductString(deviceNumber, buffer, options); });
    std::string detail;
    if (status == 0)
        detail.append(" ").append(static_cast<const char*>(buffer));
    return logged("SI_GetProductString", status, detail);
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
    const int status = guarded([&](SimBus& b) { return b.read(handle, buffer, bytesToRead, bytesRead); });
    return loggedRead(status, buffer, bytesRead ? *bytesRead : 0);
}

SI_EXPORT int SI_API SI_Write(void* handle, void* buffer, uint32_t bytesToWrite, uint32_t* bytesWritten, void*)
{
    const int status = guarded([&](SimBus& b) { return b.write(handle, buffer, bytesToWrite, bytesWritten); });
    return loggedWrite(status, buffer, bytesWritten ? *bytesWritten : 0);
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
