#include "usb_library_choice.h"

#include "simulator_location.h"

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace kvx {

std::unique_ptr<UsbLibrary> hardwareUsbLibrary(const QString& appDir)
{
    const LibraryChoice choice = hardwareLibrary(appDir);
    return std::make_unique<UsbLibrary>(choice.name, choice.displayName, choice.source);
}

std::unique_ptr<UsbLibrary> simulatorUsbLibrary(const QString& appDir)
{
    return std::make_unique<UsbLibrary>(simulatorLibraryPath(appDir), QStringLiteral("kvx340sim"),
                                        LibrarySource::Simulator);
}

void restrictLibrarySearch()
{
#ifdef Q_OS_WIN
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
#endif
}

} // namespace kvx
