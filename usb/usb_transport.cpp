#include "usb_transport.h"

#include "device_strings.h"

#include <libusb.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <tuple>

namespace kvx::usb {
namespace {

constexpr uint8_t VendorSpecificClass = 0xFF;

// libusb waits without end on 0; the library's 0 asks for no waiting,
// which libusb's shortest wait comes closest to.
unsigned libusbTimeout(uint32_t ms)
{
    if (ms == WaitForever)
        return 0;
    return std::max<uint32_t>(ms, 1);
}

// Bus number, then the ports from the root down: a controller keeps its
// number while nothing is plugged or unplugged.
auto placeOf(libusb_device* device)
{
    std::array<uint8_t, MaxPortDepth> ports{};
    libusb_get_port_numbers(device, ports.data(), int(ports.size()));
    return std::tuple(libusb_get_bus_number(device), ports, libusb_get_device_address(device));
}


// An open that libusb finds busy (the interface claimed by another program,
// or by another handle of this one) is told apart: nothing is wrong with
// the controller.
int openFailure(int libusbError)
{
    return libusbError == LIBUSB_ERROR_BUSY ? SiStatus::DeviceBusy : SiStatus::DeviceIoFailed;
}

int linkRequest(libusb_device_handle* handle, uint16_t value, unsigned timeout)
{
    return libusb_control_transfer(handle, LinkRequest::RequestType, LinkRequest::Request, value, 0, nullptr, 0,
                                   timeout);
}

} // namespace

UsbTransport::UsbTransport()
{
    if (libusb_init(&context_) != LIBUSB_SUCCESS)
        context_ = nullptr;
}

UsbTransport::~UsbTransport()
{
    // A program that ends without closing (after a failed exchange) still
    // gives a borrowed interface back to its serial driver.
    for (auto& [id, s] : sessions_) {
        if (!s->device)
            continue;
        libusb_release_interface(s->device, s->interfaceNumber);
        if (s->driverDetached)
            libusb_attach_kernel_driver(s->device, s->interfaceNumber);
        libusb_close(s->device);
    }
    for (libusb_device* device : devices_)
        libusb_unref_device(device);
    if (context_)
        libusb_exit(context_);
}

unsigned UsbTransport::readTimeout() const
{
    std::lock_guard lock(mutex_);
    return libusbTimeout(readTimeoutMs_);
}

unsigned UsbTransport::writeTimeout() const
{
    std::lock_guard lock(mutex_);
    return libusbTimeout(writeTimeoutMs_);
}

void UsbTransport::listDevices()
{
    for (libusb_device* device : devices_)
        libusb_unref_device(device);
    devices_.clear();
    listed_ = true;
    libusb_device** all = nullptr;
    const ssize_t count = libusb_get_device_list(context_, &all);
    if (count < 0)
        return;
    const std::vector<DeviceId> wanted = deviceIdsFromEnvironment();
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device_descriptor descriptor{};
        if (libusb_get_device_descriptor(all[i], &descriptor) != LIBUSB_SUCCESS)
            continue;
        if (std::find(wanted.begin(), wanted.end(), DeviceId{descriptor.idVendor, descriptor.idProduct}) !=
            wanted.end())
            devices_.push_back(libusb_ref_device(all[i]));
    }
    libusb_free_device_list(all, 1);
    std::sort(devices_.begin(), devices_.end(),
              [](libusb_device* a, libusb_device* b) { return placeOf(a) < placeOf(b); });
}

libusb_device* UsbTransport::listedDevice(uint32_t deviceNumber)
{
    if (!listed_)
        listDevices();
    return deviceNumber < devices_.size() ? devices_[deviceNumber] : nullptr;
}

std::shared_ptr<UsbTransport::Session> UsbTransport::session(void* handle)
{
    std::lock_guard lock(mutex_);
    const auto found = sessions_.find(reinterpret_cast<uintptr_t>(handle));
    return found == sessions_.end() ? nullptr : found->second;
}

int UsbTransport::getNumDevices(uint32_t* numDevices)
{
    if (!numDevices)
        return SiStatus::InvalidParameter;
    *numDevices = 0;
    std::lock_guard lock(mutex_);
    if (!context_)
        return SiStatus::DeviceIoFailed;
    listDevices();
    *numDevices = static_cast<uint32_t>(devices_.size());
    return SiStatus::Success;
}

int UsbTransport::getProductString(uint32_t deviceNumber, void* buffer, uint32_t options)
{
    if (!buffer || options > ProductOption::ProductId)
        return SiStatus::InvalidParameter;
    auto* out = static_cast<char*>(buffer);
    out[0] = '\0';
    std::unique_lock lock(mutex_);
    if (!context_)
        return SiStatus::DeviceIoFailed;
    libusb_device* device = listedDevice(deviceNumber);
    if (!device)
        return SiStatus::DeviceNotFound;
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(device, &descriptor) != LIBUSB_SUCCESS)
        return SiStatus::DeviceIoFailed;
    if (options == ProductOption::VendorId || options == ProductOption::ProductId) {
        std::snprintf(out, ProductStringCapacity + 1, "%04x",
                      options == ProductOption::VendorId ? descriptor.idVendor : descriptor.idProduct);
        return SiStatus::Success;
    }
    const uint8_t index = options == ProductOption::SerialNumber ? descriptor.iSerialNumber
                          : options == ProductOption::Description ? descriptor.iProduct
                                                                  : descriptor.iManufacturer;
    // Strings live on the device: ask through the handle open on it, if
    // any, else through one opened for the question.
    std::shared_ptr<Session> holder;
    for (auto& [id, s] : sessions_)
        if (s->device && libusb_get_device(s->device) == device)
            holder = s;
    const unsigned timeout = libusbTimeout(readTimeoutMs_);
    libusb_ref_device(device);
    lock.unlock();

    std::string text;
    int status = SiStatus::DeviceIoFailed;
    if (holder) {
        std::lock_guard transfer(holder->mutex);
        if (holder->device)
            status = readString(holder->device, index, timeout, text);
    } else {
        libusb_device_handle* handle = nullptr;
        if (libusb_open(device, &handle) == LIBUSB_SUCCESS) {
            status = readString(handle, index, timeout, text);
            libusb_close(handle);
        } else if (readSysfsString(device,
                                   options == ProductOption::SerialNumber ? "serial"
                                   : options == ProductOption::Description ? "product"
                                                                           : "manufacturer",
                                   text)) {
            status = SiStatus::Success;
        }
    }
    libusb_unref_device(device);
    std::memcpy(out, text.c_str(), text.size() + 1);
    return status;
}

int UsbTransport::openSession(libusb_device* device, Session& s)
{
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_active_config_descriptor(device, &config) != LIBUSB_SUCCESS)
        return SiStatus::DeviceIoFailed;
    // The one vendor-specific interface, with a bulk endpoint each way; the
    // addresses differ between devices.
    bool found = false;
    for (int i = 0; i < config->bNumInterfaces && !found; ++i) {
        if (config->interface[i].num_altsetting < 1)
            continue;
        const libusb_interface_descriptor& interface = config->interface[i].altsetting[0];
        if (interface.bInterfaceClass != VendorSpecificClass)
            continue;
        s.inEndpoint = s.outEndpoint = 0;
        for (int e = 0; e < interface.bNumEndpoints; ++e) {
            const libusb_endpoint_descriptor& endpoint = interface.endpoint[e];
            if ((endpoint.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) != LIBUSB_TRANSFER_TYPE_BULK)
                continue;
            if (endpoint.bEndpointAddress & LIBUSB_ENDPOINT_IN) {
                s.inEndpoint = endpoint.bEndpointAddress;
                s.inPacketSize = std::max<uint16_t>(endpoint.wMaxPacketSize, 1);
            } else {
                s.outEndpoint = endpoint.bEndpointAddress;
            }
        }
        s.interfaceNumber = interface.bInterfaceNumber;
        found = s.inEndpoint && s.outEndpoint;
    }
    libusb_free_config_descriptor(config);
    if (!found)
        return SiStatus::DeviceIoFailed;

    if (const int opened = libusb_open(device, &s.device); opened != LIBUSB_SUCCESS) {
        s.device = nullptr;
        return openFailure(opened);
    }
    // A serial driver may have taken the interface, as the family's ids are
    // also a serial adapter's: borrow it, and give it back on close.
    if (libusb_kernel_driver_active(s.device, s.interfaceNumber) == 1) {
        if (const int detached = libusb_detach_kernel_driver(s.device, s.interfaceNumber);
            detached != LIBUSB_SUCCESS)
            return openFailure(detached);
        s.driverDetached = true;
    }
    if (const int claimed = libusb_claim_interface(s.device, s.interfaceNumber); claimed != LIBUSB_SUCCESS)
        return openFailure(claimed);
    const unsigned timeout = writeTimeout();
    if (libusb_clear_halt(s.device, s.inEndpoint) != LIBUSB_SUCCESS ||
        libusb_clear_halt(s.device, s.outEndpoint) != LIBUSB_SUCCESS ||
        linkRequest(s.device, LinkRequest::Flush, timeout) < 0 ||
        linkRequest(s.device, LinkRequest::Open, timeout) < 0) {
        libusb_release_interface(s.device, s.interfaceNumber);
        return SiStatus::DeviceIoFailed;
    }
    return SiStatus::Success;
}

int UsbTransport::open(uint32_t deviceNumber, void** handle)
{
    if (!handle)
        return SiStatus::InvalidParameter;
    *handle = nullptr;
    std::unique_lock lock(mutex_);
    if (!context_)
        return SiStatus::DeviceIoFailed;
    libusb_device* device = listedDevice(deviceNumber);
    if (!device)
        return SiStatus::DeviceNotFound;
    libusb_ref_device(device);
    lock.unlock();

    auto s = std::make_shared<Session>();
    const int status = openSession(device, *s);
    libusb_unref_device(device);
    if (status != SiStatus::Success) {
        if (s->device) {
            if (s->driverDetached)
                libusb_attach_kernel_driver(s->device, s->interfaceNumber);
            libusb_close(s->device);
        }
        return status;
    }
    lock.lock();
    // Handles are never reused, so a stale one cannot reach another device.
    const uintptr_t id = nextHandle_++;
    sessions_.emplace(id, std::move(s));
    *handle = reinterpret_cast<void*>(id);
    return SiStatus::Success;
}

int UsbTransport::close(void* handle)
{
    std::shared_ptr<Session> s;
    {
        std::lock_guard lock(mutex_);
        const auto found = sessions_.find(reinterpret_cast<uintptr_t>(handle));
        if (found == sessions_.end())
            return SiStatus::InvalidHandle;
        s = std::move(found->second);
        sessions_.erase(found);
    }
    std::lock_guard transfer(s->mutex);
    // Each step is tried even when the device has gone: the handle is the
    // host's, and is released whatever the device answers.
    linkRequest(s->device, LinkRequest::Close, writeTimeout());
    libusb_release_interface(s->device, s->interfaceNumber);
    if (s->driverDetached)
        libusb_attach_kernel_driver(s->device, s->interfaceNumber);
    libusb_close(s->device);
    s->device = nullptr;
    return SiStatus::Success;
}

// What a write or a read checks first. No session means the call ends at
// once with status: a bad argument or handle, or no byte to move.
std::shared_ptr<UsbTransport::Session> UsbTransport::transferSession(void* handle, const void* buffer, uint32_t bytes,
                                                                     uint32_t* moved, int& status)
{
    status = SiStatus::InvalidParameter;
    if (!moved)
        return nullptr;
    *moved = 0;
    std::shared_ptr<Session> s = session(handle);
    if (!s) {
        status = SiStatus::InvalidHandle;
        return nullptr;
    }
    if (bytes > 0 && !buffer)
        return nullptr;
    status = SiStatus::Success;
    return bytes == 0 ? nullptr : s;
}

int UsbTransport::write(void* handle, const void* buffer, uint32_t bytesToWrite, uint32_t* bytesWritten)
{
    int status = SiStatus::Success;
    const std::shared_ptr<Session> s = transferSession(handle, buffer, bytesToWrite, bytesWritten, status);
    if (!s)
        return status;
    const unsigned timeout = writeTimeout();
    std::lock_guard transfer(s->mutex);
    if (!s->device)
        return SiStatus::InvalidHandle;
    int written = 0;
    const int result = libusb_bulk_transfer(s->device, s->outEndpoint,
                                            static_cast<unsigned char*>(const_cast<void*>(buffer)),
                                            int(bytesToWrite), &written, timeout);
    *bytesWritten = static_cast<uint32_t>(std::max(written, 0));
    switch (result) {
    case LIBUSB_SUCCESS:
        return SiStatus::Success;
    case LIBUSB_ERROR_TIMEOUT:
        return SiStatus::WriteTimedOut;
    case LIBUSB_ERROR_NO_DEVICE:
        return SiStatus::DeviceIoFailed;
    default:
        return SiStatus::WriteError;
    }
}

int UsbTransport::read(void* handle, void* buffer, uint32_t bytesToRead, uint32_t* bytesRead)
{
    int status = SiStatus::Success;
    const std::shared_ptr<Session> s = transferSession(handle, buffer, bytesToRead, bytesRead, status);
    if (!s)
        return status;
    const unsigned timeout = readTimeout();
    std::lock_guard transfer(s->mutex);
    if (!s->device)
        return SiStatus::InvalidHandle;
    if (s->received.empty()) {
        // A bulk endpoint is read in whole packets; what they bring beyond
        // the request waits in the queue for the next read. One transfer
        // carries at most MaxReadTransfer bytes: a larger request is served
        // in part, as any read may be.
        const std::size_t wanted = std::min<std::size_t>(bytesToRead, MaxReadTransfer);
        const std::size_t packets = (wanted + s->inPacketSize - 1) / s->inPacketSize;
        std::vector<unsigned char> packet(packets * s->inPacketSize);
        int got = 0;
        const int result =
            libusb_bulk_transfer(s->device, s->inEndpoint, packet.data(), int(packet.size()), &got, timeout);
        s->received.insert(s->received.end(), packet.begin(), packet.begin() + std::max(got, 0));
        if (s->received.empty()) {
            switch (result) {
            case LIBUSB_ERROR_TIMEOUT:
                return SiStatus::ReadTimedOut;
            case LIBUSB_ERROR_NO_DEVICE:
                return SiStatus::DeviceIoFailed;
            default:
                return SiStatus::ReadError;
            }
        }
    }
    // What has arrived, up to the request: possibly fewer bytes than asked.
    const auto n = static_cast<uint32_t>(std::min<std::size_t>(bytesToRead, s->received.size()));
    std::copy_n(s->received.begin(), n, static_cast<uint8_t*>(buffer));
    s->received.erase(s->received.begin(), s->received.begin() + n);
    *bytesRead = n;
    return SiStatus::Success;
}

int UsbTransport::setTimeouts(uint32_t readTimeoutMs, uint32_t writeTimeoutMs)
{
    std::lock_guard lock(mutex_);
    readTimeoutMs_ = readTimeoutMs;
    writeTimeoutMs_ = writeTimeoutMs;
    return SiStatus::Success;
}

int UsbTransport::getTimeouts(uint32_t* readTimeoutMs, uint32_t* writeTimeoutMs)
{
    if (!readTimeoutMs || !writeTimeoutMs)
        return SiStatus::InvalidParameter;
    std::lock_guard lock(mutex_);
    *readTimeoutMs = readTimeoutMs_;
    *writeTimeoutMs = writeTimeoutMs_;
    return SiStatus::Success;
}

int UsbTransport::checkRxQueue(void* handle, uint32_t* bytesInQueue, uint32_t* queueStatus)
{
    if (!bytesInQueue || !queueStatus)
        return SiStatus::InvalidParameter;
    const std::shared_ptr<Session> s = session(handle);
    if (!s)
        return SiStatus::InvalidHandle;
    std::lock_guard transfer(s->mutex);
    *bytesInQueue = static_cast<uint32_t>(s->received.size());
    *queueStatus = s->received.empty() ? 0 : 1;
    return SiStatus::Success;
}

} // namespace kvx::usb
