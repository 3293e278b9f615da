#include "device_strings.h"

#include "usb_transport.h"

#include <libusb.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <string>

namespace kvx::usb {
namespace {

void appendUtf8(std::string& out, uint32_t c)
{
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

} // namespace

std::string utf8FromDescriptor(const uint8_t* descriptor, int length)
{
    std::string text;
    const int units = (std::min<int>(length, descriptor[0]) - 2) / 2;
    for (int i = 0; i < units; ++i) {
        uint32_t c = descriptor[2 + 2 * i] | (descriptor[3 + 2 * i] << 8);
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < units) {
            const uint32_t low = descriptor[4 + 2 * i] | (descriptor[5 + 2 * i] << 8);
            if (low >= 0xDC00 && low < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        std::string character;
        appendUtf8(character, c);
        if (text.size() + character.size() > ProductStringCapacity)
            break;
        text += character;
    }
    return text;
}

int readString(libusb_device_handle* handle, uint8_t index, unsigned timeout, std::string& text)
{
    text.clear();
    if (index == 0)
        return SiStatus::Success; // the device has no such string
    uint8_t descriptor[255];
    // The first language the device offers; English (US) when it lists none.
    uint16_t language = 0x0409;
    int length = libusb_get_string_descriptor(handle, 0, 0, descriptor, sizeof descriptor);
    if (length >= 4 && descriptor[1] == LIBUSB_DT_STRING)
        language = uint16_t(descriptor[2] | (descriptor[3] << 8));
    length = libusb_control_transfer(handle, LIBUSB_ENDPOINT_IN, LIBUSB_REQUEST_GET_DESCRIPTOR,
                                     uint16_t((LIBUSB_DT_STRING << 8) | index), language, descriptor,
                                     sizeof descriptor, timeout);
    if (length < 2 || descriptor[1] != LIBUSB_DT_STRING)
        return SiStatus::DeviceIoFailed;
    text = utf8FromDescriptor(descriptor, length);
    return SiStatus::Success;
}

bool readSysfsString(libusb_device* device, const char* attribute, std::string& text)
{
    std::array<uint8_t, MaxPortDepth> ports{};
    const int depth = libusb_get_port_numbers(device, ports.data(), int(ports.size()));
    if (depth <= 0)
        return false;
    std::string path = "/sys/bus/usb/devices/" + std::to_string(libusb_get_bus_number(device)) + "-";
    for (int i = 0; i < depth; ++i) {
        if (i > 0)
            path += '.';
        path += std::to_string(ports[i]);
    }
    path.append("/").append(attribute);
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return false;
    char line[ProductStringCapacity + 2] = {};
    const bool read = std::fgets(line, sizeof line, file) != nullptr;
    std::fclose(file);
    if (!read)
        return false;
    text = line;
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    text.resize(std::min(text.size(), ProductStringCapacity));
    return true;
}

} // namespace kvx::usb
