// The controllers on the USB bus, reached through libusb: the list of
// matching devices, the handles open on them, the bytes a read brought
// beyond what was asked, and the time-outs. It offers the nine library
// operations with the library's arguments; the exported C functions forward
// to one instance of it.
#pragma once

#include "device_ids.h"
#include "usbxpress.h"

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

struct libusb_context;
struct libusb_device;
struct libusb_device_handle;

namespace kvx::usb {

// The product string options of SI_GetProductString.
namespace ProductOption {
inline constexpr uint32_t SerialNumber = 0;
inline constexpr uint32_t Description = 1;
inline constexpr uint32_t Manufacturer = 2;
inline constexpr uint32_t VendorId = 3;
inline constexpr uint32_t ProductId = 4;
} // namespace ProductOption

// The device's one vendor request, without data stage, that opens, closes
// and flushes its link; the values are wValue.
namespace LinkRequest {
inline constexpr uint8_t RequestType = 0x40; // vendor, host to device, device
inline constexpr uint8_t Request = 0x02;
inline constexpr uint16_t Flush = 0x0001;
inline constexpr uint16_t Open = 0x0002;
inline constexpr uint16_t Close = 0x0004;
} // namespace LinkRequest

inline constexpr uint32_t WaitForever = 0xFFFFFFFF;
// The most one read asks of the device in one transfer: whole packets of
// any size up to 1024 bytes, and far below libusb's int length.
inline constexpr std::size_t MaxReadTransfer = 64 * 1024;
inline constexpr uint32_t DefaultTimeoutMs = 1000;
inline constexpr std::size_t ProductStringCapacity = 256; // without the terminator

class UsbTransport {
public:
    UsbTransport();
    ~UsbTransport();
    UsbTransport(const UsbTransport&) = delete;
    UsbTransport& operator=(const UsbTransport&) = delete;

    int getNumDevices(uint32_t* numDevices);
    int getProductString(uint32_t deviceNumber, void* buffer, uint32_t options);
    int open(uint32_t deviceNumber, void** handle);
    int close(void* handle);
    int read(void* handle, void* buffer, uint32_t bytesToRead, uint32_t* bytesRead);
    int write(void* handle, const void* buffer, uint32_t bytesToWrite, uint32_t* bytesWritten);
    int setTimeouts(uint32_t readTimeoutMs, uint32_t writeTimeoutMs);
    int getTimeouts(uint32_t* readTimeoutMs, uint32_t* writeTimeoutMs);
    int checkRxQueue(void* handle, uint32_t* bytesInQueue, uint32_t* queueStatus);

private:
    struct Session {
        // Held through every transfer, so that a close waits for the one
        // under way (which ends within its time-out) instead of pulling the
        // device from under it.
        std::mutex mutex;
        libusb_device_handle* device = nullptr;
        int interfaceNumber = 0;
        bool driverDetached = false;
        uint8_t inEndpoint = 0;
        uint8_t outEndpoint = 0;
        uint16_t inPacketSize = 64;
        std::deque<uint8_t> received; // what a read brought beyond its request
    };

    void listDevices();
    libusb_device* listedDevice(uint32_t deviceNumber);
    std::shared_ptr<Session> session(void* handle);
    std::shared_ptr<Session> transferSession(void* handle, const void* buffer, uint32_t bytes, uint32_t* moved,
                                             int& status);
    int openSession(libusb_device* device, Session& s);
    unsigned readTimeout() const;
    unsigned writeTimeout() const;

    mutable std::mutex mutex_;
    libusb_context* context_ = nullptr;
    bool listed_ = false;
    std::vector<libusb_device*> devices_;
    std::map<uintptr_t, std::shared_ptr<Session>> sessions_;
    uintptr_t nextHandle_ = 1;
    uint32_t readTimeoutMs_ = DefaultTimeoutMs;
    uint32_t writeTimeoutMs_ = DefaultTimeoutMs;
};

} // namespace kvx::usb
