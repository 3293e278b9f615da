// Which controllers are attached, each named by the product string the USB
// library reports for it. Entry n is device n, so a list position can be
// handed straight to SI_Open.
#pragma once

#include "motion_state.h"
#include "usb_link.h"

#include <QStringList>
#include <cstdint>

namespace kvx {

// Device numbers travel as 16-bit signed list positions: 0 to 32767.
inline constexpr uint32_t MaxListedDevices = 32768;

struct DeviceListing {
    QStringList entries; // entry n names device n
    bool counted = false; // the count succeeded
    bool found = false;   // the count succeeded and there is something to offer
};

// Counts the controllers and reads each one's product string, storing every
// call's status in LinkStatus. A failed count, or a count of 0, gives no
// entries and found == false. A failed product-string call is not reported:
// the buffer is shared across devices, so such an entry repeats the previous
// device's text (or is empty for device 0).
DeviceListing listDevices(UsbLink& link, MotionState& state);

// The time-outs of both transfers, set before the open.
inline constexpr uint32_t LinkTimeoutMs = 10000;

// Sets the time-outs, then opens the device: each status goes to LinkStatus
// (the time-outs' is overwritten at once), the handle to DeviceHandle. True
// when the device is open.
bool openDevice(UsbLink& link, MotionState& state, uint32_t device);

// What the program says when the count fails, and when the open of the
// entry with this text fails.
QString noDeviceMessage();
QString openFailureMessage(const QString& entryText);

} // namespace kvx
