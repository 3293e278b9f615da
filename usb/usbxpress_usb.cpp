// The nine library functions, exported from libkvx340usb and forwarded to
// one transport on libusb. Nothing else is exported.
#include "usb_transport.h"
#include "usbxpress.h"

namespace {

using kvx::usb::UsbTransport;

UsbTransport& transport()
{
    static UsbTransport instance;
    return instance;
}

// No C++ exception may cross into the caller.
template <typename Call>
int guarded(Call call) noexcept
{
    try {
        return call(transport());
    } catch (...) {
        return kvx::SiStatus::DeviceIoFailed;
    }
}

} // namespace

extern "C" {

SI_EXPORT int SI_API SI_GetNumDevices(uint32_t* numDevices)
{
    return guarded([&](UsbTransport& t) { return t.getNumDevices(numDevices); });
}

SI_EXPORT int SI_API SI_GetProductString(uint32_t deviceNumber, void* buffer, uint32_t options)
{
    return guarded([&](UsbTransport& t) { return t.getProductString(deviceNumber, buffer, options); });
}

SI_EXPORT int SI_API SI_Open(uint32_t deviceNumber, void** handle)
{
    return guarded([&](UsbTransport& t) { return t.open(deviceNumber, handle); });
}

SI_EXPORT int SI_API SI_Close(void* handle)
{
    return guarded([&](UsbTransport& t) { return t.close(handle); });
}

SI_EXPORT int SI_API SI_Read(void* handle, void* buffer, uint32_t bytesToRead, uint32_t* bytesRead, void*)
{
    return guarded([&](UsbTransport& t) { return t.read(handle, buffer, bytesToRead, bytesRead); });
}

SI_EXPORT int SI_API SI_Write(void* handle, void* buffer, uint32_t bytesToWrite, uint32_t* bytesWritten, void*)
{
    return guarded([&](UsbTransport& t) { return t.write(handle, buffer, bytesToWrite, bytesWritten); });
}

SI_EXPORT int SI_API SI_SetTimeouts(uint32_t readTimeoutMs, uint32_t writeTimeoutMs)
{
    return guarded([&](UsbTransport& t) { return t.setTimeouts(readTimeoutMs, writeTimeoutMs); });
}

SI_EXPORT int SI_API SI_GetTimeouts(uint32_t* readTimeoutMs, uint32_t* writeTimeoutMs)
{
    return guarded([&](UsbTransport& t) { return t.getTimeouts(readTimeoutMs, writeTimeoutMs); });
}

SI_EXPORT int SI_API SI_CheckRXQueue(void* handle, uint32_t* bytesInQueue, uint32_t* queueStatus)
{
    return guarded([&](UsbTransport& t) { return t.checkRxQueue(handle, bytesInQueue, queueStatus); });
}
}
