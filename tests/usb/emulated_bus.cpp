#include "emulated_controller.h"

namespace kvx::usbtest {

EmulatedBus::EmulatedBus(const std::vector<ControllerIdentity>& controllers, const std::string& logPath,
                         bool logTimes)
    : testbed_(std::make_unique<Testbed>())
{
    testbed_->bed = umockdev_testbed_new();
    gchar* root = umockdev_testbed_get_root_dir(testbed_->bed);
    testbed_->root = root;
    g_free(root);
    testbed_->log.path = logPath;
    testbed_->log.times = logTimes;
    // The root hub the controllers hang from: listed, but no controller.
    umockdev_testbed_add_from_string(testbed_->bed,
                                     "P: /devices/usb1\nN: bus/usb/001/001\nE: SUBSYSTEM=usb\n"
                                     "E: DEVTYPE=usb_device\nE: DRIVER=usb\nE: BUSNUM=001\nE: DEVNUM=001\n"
                                     "E: DEVNAME=/dev/bus/usb/001/001\nA: busnum=1\\n\nA: devnum=1\\n\n"
                                     "A: bConfigurationValue=1\\n\nA: speed=480\\n\n"
                                     "H: descriptors=12010002090001406b1d020000010302010109021900010100e0000904"
                                     "000001090000000705810304000c\n",
                                     nullptr);
    int devnum = 2;
    for (const ControllerIdentity& identity : controllers) {
        auto device = std::make_unique<Device>(identity, testbed_->log);
        device->reset({});
        char node[64];
        std::snprintf(node, sizeof node, "/dev/bus/usb/001/%03d", devnum);
        // The handler first, so that the device can be opened as soon as it appears.
        if (!umockdev_testbed_attach_ioctl(testbed_->bed, node, device->handler(), nullptr))
            throw std::runtime_error(std::string("umockdev cannot emulate ") + node);
        const std::vector<uint8_t> d = descriptors(identity);
        char record[1024];
        std::snprintf(record, sizeof record,
                      "P: /devices/usb1/1-%d\nN: bus/usb/001/%03d\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n"
                      "E: DRIVER=usb\nE: BUSNUM=001\nE: DEVNUM=%03d\nE: DEVNAME=%s\nA: busnum=1\\n\n"
                      "A: devnum=%d\\n\nA: idVendor=%04x\\n\nA: idProduct=%04x\\n\nA: bConfigurationValue=1\\n\n"
                      "A: speed=12\\n\nA: serial=%s\\n\n"
                      "A: product=%s\\n\nA: manufacturer=%s\\n\nH: descriptors=%s\n",
                      identity.port, devnum, devnum, node, devnum, unsigned(identity.vendor), unsigned(identity.product),
                      identity.serial.c_str(), ProductString,
                      ManufacturerString, hex(d.data(), d.size()).c_str());
        umockdev_testbed_add_from_string(testbed_->bed, record, nullptr);
        devices_.push_back(std::move(device));
        testbed_->nodes.push_back(testbed_->root + node);
        ++devnum;
    }
}

EmulatedBus::~EmulatedBus()
{
    g_object_unref(testbed_->bed);
}

void EmulatedBus::reset(std::size_t controller, const ControllerFaults& faults)
{
    devices_.at(controller)->reset(faults);
    // A node nobody may open: the open fails with EACCES before any ioctl,
    // for a process without the capability to override file modes.
    chmod(testbed_->nodes.at(controller).c_str(), faults.refuseOpen ? 0 : 0644);
}

void EmulatedBus::unplug(std::size_t controller) { devices_.at(controller)->unplug(); }

std::vector<std::string> EmulatedBus::log() const
{
    std::lock_guard lock(testbed_->log.mutex);
    return testbed_->log.lines;
}

void EmulatedBus::clearLog()
{
    std::lock_guard lock(testbed_->log.mutex);
    testbed_->log.lines.clear();
}

bool EmulatedBus::driverBound(std::size_t controller) const { return devices_.at(controller)->driverBound(); }

sim::AxisModel EmulatedBus::model(std::size_t controller) const { return devices_.at(controller)->model(); }

std::string preloadWithUmockdev(const char* existingPreload)
{
    std::string preload = "libumockdev-preload.so.0";
    if (existingPreload && *existingPreload)
        preload.append(":").append(existingPreload);
    return preload;
}

} // namespace kvx::usbtest
