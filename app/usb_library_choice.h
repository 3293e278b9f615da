// Which USB library a program binds, the same for every program of an
// edition: the vendor's for the hardware, ours for the simulated controllers.
#pragma once

#include "usb_library.h"

#include <QString>
#include <memory>

namespace kvx {

// The vendor's library, by its name through the loader's search.
std::unique_ptr<UsbLibrary> hardwareUsbLibrary();

// The simulated controllers' library, found from the program's folder
// (simulator_location.h).
std::unique_ptr<UsbLibrary> simulatorUsbLibrary(const QString& appDir);

// Before any library is loaded: on Windows, libraries come from the
// program's folder and the system folder only, never from the current
// folder or PATH, where a planted SiUSBXp.dll would otherwise run inside the
// program. Elsewhere nothing to do.
void restrictLibrarySearch();

} // namespace kvx
