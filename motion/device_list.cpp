#include "device_list.h"

#include <QStringDecoder>

#include <algorithm>
#include <array>

namespace kvx {
namespace {

// One zero-terminated product string of at most 256 bytes, plus its zero.
constexpr int32_t ProductBufferSize = 257;
constexpr uint32_t ProductStringOption = 0;

// Our Linux USB library hands product strings over as UTF-8, the vendor's
// library as 8-bit text: valid UTF-8 is read as such, anything else as
// before, byte by byte.
QString productText(const uint8_t* buffer)
{
    const QString bytewise = BufferToString(buffer);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = utf8(bytewise.toLatin1());
    return utf8.hasError() ? bytewise : decoded;
}

} // namespace

DeviceListing listDevices(UsbLink& link, MotionState& state)
{
    std::array<uint8_t, ProductBufferSize> buffer;
    // Zeroed once: a device whose call writes nothing shows what is left.
    FillBuffer(buffer.data(), 0, ProductBufferSize);

    DeviceListing listing;
    uint32_t count = 0;
    state.LinkStatus = link.SI_GetNumDevices(&count);
    if (state.LinkStatus != 0)
        return listing;

    listing.counted = true;
    count = std::min(count, MaxListedDevices);
    for (uint32_t device = 0; device < count; ++device) {
        state.LinkStatus = link.SI_GetProductString(device, buffer.data(), ProductStringOption);
        listing.entries << productText(buffer.data());
    }
    listing.found = count > 0;
    return listing;
}

bool openDevice(UsbLink& link, MotionState& state, uint32_t device)
{
    state.LinkStatus = link.SI_SetTimeouts(LinkTimeoutMs, LinkTimeoutMs);
    UsbHandle handle = nullptr;
    state.LinkStatus = link.SI_Open(device, &handle);
    state.DeviceHandle = handle;
    return state.LinkStatus == 0;
}

QString noDeviceMessage() { return QStringLiteral("Error finding USB device. Aborting application."); }

QString openFailureMessage(const QString& entryText)
{
    return QStringLiteral("Error opening device: ") + entryText +
           QStringLiteral(". Application is aborting. Reset hardware and try again.");
}

} // namespace kvx
