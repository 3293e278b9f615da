#include "usb_library_choice.h"

#include "simulator_location.h"

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace kvx {

namespace {

std::unique_ptr<UsbLibrary> bound(const LibraryChoice& choice)
{
    return std::make_unique<UsbLibrary>(choice.name, choice.displayName, choice.source);
}

} // namespace

std::unique_ptr<UsbLibrary> hardwareUsbLibrary(const QString& appDir) { return bound(hardwareLibrary(appDir)); }

std::unique_ptr<UsbLibrary> simulatorUsbLibrary(const QString& appDir) { return bound(simulatorLibrary(appDir)); }

void restrictLibrarySearch()
{
#ifdef Q_OS_WIN
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
#endif
}

} // namespace kvx
