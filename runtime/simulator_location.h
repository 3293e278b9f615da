// Where the simulator edition finds the simulated controller's library:
// beside the program (as in the build tree), or in the installed library
// folder relative to it, so the operator never has to set a path and a
// moved installation still works.
#pragma once

#include "usb_library.h"

#include <QString>
#include <QStringList>

namespace kvx {

// Candidate files, most likely first, for a program living in appDir.
QStringList simulatorLibraryCandidates(const QString& appDir);

// The first candidate that exists; the bare library name when none does,
// so the loader's own search and its error message take over.
QString simulatorLibraryPath(const QString& appDir);

// What the hardware edition binds. On Windows the vendor's SiUSBXp.dll by
// name, whose driver owns the device there; on Linux the USB library of our
// own on libusb, found as the simulator's is.
struct LibraryChoice {
    QString name; // as UsbLibrary takes it: a bare name or a file path
    QString displayName;
    LibrarySource source;
};
LibraryChoice hardwareLibrary(const QString& appDir);

// What the simulator edition binds: simulatorLibraryPath(), ours.
LibraryChoice simulatorLibrary(const QString& appDir);

} // namespace kvx
