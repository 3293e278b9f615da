// Which USB library a program binds, the same for every program of an
// edition: the hardware's transport, or ours for the simulated controllers.
#pragma once

#include "usb_library.h"

#include <QString>
#include <memory>

namespace kvx {

// The hardware edition's library (hardwareLibrary() in simulator_location.h):
// on Linux our own, found from the program's folder; on Windows the vendor's.
std::unique_ptr<UsbLibrary> hardwareUsbLibrary(const QString& appDir);

// The simulated controllers' library, found from the program's folder
// (simulator_location.h).
std::unique_ptr<UsbLibrary> simulatorUsbLibrary(const QString& appDir);

// Before any library is loaded: on Windows, libraries come from the
// program's folder and the system folder only, never from the current
// folder or PATH, where a planted SiUSBXp.dll would otherwise run inside the
// program. Elsewhere nothing to do.
void restrictLibrarySearch();

} // namespace kvx
