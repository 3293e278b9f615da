// Linux: what stands between the user and a controller before the USB
// library is called: the device on the bus, the udev rule, the device
// node's permissions and a kernel driver on the interface. Read from sysfs
// and the device nodes, so that it works when the library cannot open one.
#pragma once

#include "doctor_report.h"

#include <QStringList>

namespace kvx::ctl {

struct UsbPaths {
    QString sysfs = QStringLiteral("/sys");
    QString dev = QStringLiteral("/dev");
    // Every folder udev reads rules from, first the one whose file replaces
    // a file of the same name in those after it.
    QStringList udevRuleDirs = {QStringLiteral("/etc/udev/rules.d"), QStringLiteral("/run/udev/rules.d"),
                                QStringLiteral("/usr/local/lib/udev/rules.d"), QStringLiteral("/usr/lib/udev/rules.d"),
                                QStringLiteral("/lib/udev/rules.d")};
};

struct UsbNodeReport {
    Findings findings;
    // The serial strings of controllers whose interface another program has
    // claimed: their failed open is no broken link.
    QStringList heldElsewhere;
};

UsbNodeReport checkUsbNodes(const UsbPaths& paths);

} // namespace kvx::ctl
