// Emulated KVX-340 controllers on an emulated USB bus, for tests and for
// anyone without hardware. umockdev presents each as a real usbdevfs device
// (sysfs, udev, /dev/bus/usb) to the programs of this process and to those
// it starts with umockdev's preload; the usbdevfs calls they make are
// answered here, in umockdev's ioctl handler, and behind each device runs
// the simulator's axis model. What each device receives and sends is logged.
#pragma once

#include "axis_model.h"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kvx::usbtest {

struct ControllerIdentity {
    std::string serial;                // the serial-number string: "KVX-340 X"
    uint16_t vendor = 0x10C4;
    uint16_t product = 0xEA61;
    uint8_t inEndpoint = 0x81;
    uint8_t outEndpoint = 0x01;
    int port = 1;                      // on bus 1
};

// How a device misbehaves; set before or between uses.
struct ControllerFaults {
    bool driverBound = false;  // a serial driver holds the interface
    bool heldElsewhere = false; // another program has claimed the interface
    // The device node may not be opened (EACCES). Root may open any file: a
    // process running as root must set aside CAP_DAC_OVERRIDE for this.
    bool refuseOpen = false;
    double unplugAfter = -1;   // seconds after the open request; < 0: never
    bool silent = false;       // takes frames but never answers
};

class EmulatedBus {
public:
    // logPath: a file each log line is also appended to ("" for none),
    // after the seconds since the bus was made when logTimes is set.
    explicit EmulatedBus(const std::vector<ControllerIdentity>& controllers, const std::string& logPath = {},
                         bool logTimes = false);
    ~EmulatedBus();
    EmulatedBus(const EmulatedBus&) = delete;
    EmulatedBus& operator=(const EmulatedBus&) = delete;

    // Faults, state and log start afresh for the device.
    void reset(std::size_t controller, const ControllerFaults& faults = {});
    void unplug(std::size_t controller);

    // The log so far, one line per event, each naming the device by the
    // last character of its serial: "X request open", "X frame out 8c...".
    std::vector<std::string> log() const;
    void clearLog();
    bool driverBound(std::size_t controller) const;
    sim::AxisModel model(std::size_t controller) const;

    class Device; // one emulated controller and its ioctl handler

private:
    struct Testbed;
    std::unique_ptr<Testbed> testbed_;
    std::vector<std::unique_ptr<Device>> devices_;
};

// Root opens any file whatever its mode: while it lives, this thread (which
// makes the library's calls) sets aside the capabilities that let it, as an
// ordinary user never has them.
class WithoutFileModeOverride {
public:
    WithoutFileModeOverride()
    {
        syscall(SYS_capget, &header_, saved_);
        __user_cap_data_struct lowered[2] = {saved_[0], saved_[1]};
        lowered[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        syscall(SYS_capset, &header_, lowered);
    }
    ~WithoutFileModeOverride() { syscall(SYS_capset, &header_, saved_); }

private:
    __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved_[2] = {};
};

// The environment a program needs to see the bus: umockdev's preload in
// front of any other.
std::string preloadWithUmockdev(const char* existingPreload);

} // namespace kvx::usbtest
