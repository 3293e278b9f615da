// A controller's strings: from its string descriptors over USB, or as the
// kernel read them when it arrived, from sysfs.
#pragma once

#include <cstdint>
#include <string>

struct libusb_device;
struct libusb_device_handle;

namespace kvx::usb {

// A USB device lies at most this many hubs deep.
inline constexpr int MaxPortDepth = 7;

// A string descriptor's UTF-16 text as UTF-8, cut at a character boundary
// so that it fits the caller's buffer.
std::string utf8FromDescriptor(const uint8_t* descriptor, int length);

// The string at index, as UTF-8; the library's status for it.
int readString(libusb_device_handle* handle, uint8_t index, unsigned timeout, std::string& text);

// The same string as the kernel read it when the device arrived, from sysfs:
// readable by anyone, so that a controller the user may not open is still
// listed by its name.
bool readSysfsString(libusb_device* device, const char* attribute, std::string& text);

} // namespace kvx::usb
