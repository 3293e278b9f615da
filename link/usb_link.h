// The program's view of the controller's USB library: the nine calls with
// their statuses narrowed to 16 bits. UsbLibrary binds a real library by
// name; tests put a scripted link in its place.
#pragma once

#include <cstdint>
#include <stdexcept>

namespace kvx {

// Opaque and pointer-sized: a 32-bit handle would truncate on 64-bit hosts.
using UsbHandle = void*;

// Passed to SI_Open when no list entry is selected (index -1).
inline constexpr uint32_t NoDevice = 0xFFFFFFFFu;

// A library that cannot be loaded, or lacks a function, fails its first call
// with this; the message names what is missing and why.
class LinkUnavailable : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class UsbLink {
public:
    virtual ~UsbLink() = default;

    virtual int16_t SI_GetNumDevices(uint32_t* numDevices) = 0;
    virtual int16_t SI_GetProductString(uint32_t deviceNumber, void* buffer, uint32_t options) = 0;
    virtual int16_t SI_Open(uint32_t deviceNumber, UsbHandle* handle) = 0;
    virtual int16_t SI_Close(UsbHandle handle) = 0;
    virtual int16_t SI_Read(UsbHandle handle, void* buffer, uint32_t bytesToRead, uint32_t* bytesRead) = 0;
    virtual int16_t SI_Write(UsbHandle handle, void* buffer, uint32_t bytesToWrite, uint32_t* bytesWritten) = 0;
    virtual int16_t SI_SetTimeouts(uint32_t readTimeoutMs, uint32_t writeTimeoutMs) = 0;
    virtual int16_t SI_GetTimeouts(uint32_t* readTimeoutMs, uint32_t* writeTimeoutMs) = 0;
    virtual int16_t SI_CheckRXQueue(UsbHandle handle, uint32_t* bytesInQueue, uint32_t* queueStatus) = 0;
};

// The library's status is an int; only its low 16 bits carry meaning.
inline int16_t narrowStatus(int status) { return static_cast<int16_t>(static_cast<uint16_t>(status)); }

} // namespace kvx
