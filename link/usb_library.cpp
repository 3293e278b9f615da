#include "usb_library.h"

#include <QFileInfo>

namespace kvx {
namespace {

// The file the loader looks for when given a bare name, as it names it.
QString libraryFile(const QString& name)
{
    if (name.contains(u'/'))
        return name;
#ifdef Q_OS_WIN
    return name + QStringLiteral(".dll");
#else
    return QStringLiteral("lib%1.so").arg(name);
#endif
}

// Qt wraps the loader's own words as "Cannot load library X: (reason)",
// on Windows without the parentheses; the operator needs only the reason.
QString loaderReason(const QString& qtError)
{
    const QString wrapper = QStringLiteral("Cannot load library ");
    const qsizetype colon = qtError.indexOf(QStringLiteral(": "), wrapper.size());
    if (!qtError.startsWith(wrapper) || colon < 0)
        return qtError;
    const QString reason = qtError.mid(colon + 2);
    if (reason.startsWith(u'(') && reason.endsWith(u')'))
        return reason.mid(1, reason.size() - 2);
    return reason;
}

// Where the operator finds how to install the vendor's library.
#ifdef Q_OS_WIN
// Windows has no manual pages; the program loads the library from its own
// folder or the system folder only.
constexpr char VendorLibraryAdvice[] = "placed beside kvx340.exe or in the Windows system folder";
#else
constexpr char VendorLibraryAdvice[] = "installed: see kvx340(1)";
#endif

// What the operator is told when the library cannot be loaded: which
// library and file, the loader's reason, what to do, and that the program ends.
QString missingLibraryMessage(LibrarySource source, const QString& displayName, const QString& fileName,
                              const QString& qtError)
{
    const QString file = libraryFile(fileName);
    if (source != LibrarySource::Vendor)
        return QStringLiteral("%1 cannot load its own %2 %3 (%4): it is missing from this "
                              "installation, which should be reinstalled. Application is aborting.")
            .arg(source == LibrarySource::Simulator ? QStringLiteral("kvx340-sim") : QStringLiteral("kvx340"),
                 source == LibrarySource::Simulator ? QStringLiteral("library") : QStringLiteral("USB library"),
                 QFileInfo(file).fileName(), loaderReason(qtError));
    return QStringLiteral("The controller's USB library %1 could not be loaded from %2 (%3) and must be "
                          "%4. Application is aborting.")
        .arg(displayName, file, loaderReason(qtError), QLatin1String(VendorLibraryAdvice));
}

} // namespace

UsbLibrary::UsbLibrary(const QString& name, const QString& displayName, LibrarySource source)
    : library_(name), displayName_(displayName.isEmpty() ? name : displayName), source_(source)
{
}

template <typename Fn>
Fn UsbLibrary::bind(Fn& slot, const char* functionName)
{
    if (slot)
        return slot;
    if (!library_.isLoaded() && !library_.load())
        throw LinkUnavailable(missingLibraryMessage(source_, displayName_, library_.fileName(), library_.errorString())
                                  .toStdString());
    slot = reinterpret_cast<Fn>(library_.resolve(functionName));
    if (!slot)
        throw LinkUnavailable(QStringLiteral("The USB library %1 has no function %2. Application is aborting.")
                                  .arg(displayName_, QLatin1String(functionName))
                                  .toStdString());
    return slot;
}

int16_t UsbLibrary::SI_GetNumDevices(uint32_t* numDevices)
{
    return narrowStatus(bind(getNumDevices_, "SI_GetNumDevices")(numDevices));
}

int16_t UsbLibrary::SI_GetProductString(uint32_t deviceNumber, void* buffer, uint32_t options)
{
    return narrowStatus(bind(getProductString_, "SI_GetProductString")(deviceNumber, buffer, options));
}

int16_t UsbLibrary::SI_Open(uint32_t deviceNumber, UsbHandle* handle)
{
    return narrowStatus(bind(open_, "SI_Open")(deviceNumber, handle));
}

int16_t UsbLibrary::SI_Close(UsbHandle handle)
{
    return narrowStatus(bind(close_, "SI_Close")(handle));
}

int16_t UsbLibrary::SI_Read(UsbHandle handle, void* buffer, uint32_t bytesToRead, uint32_t* bytesRead)
{
    return narrowStatus(bind(read_, "SI_Read")(handle, buffer, bytesToRead, bytesRead, nullptr));
}

int16_t UsbLibrary::SI_Write(UsbHandle handle, void* buffer, uint32_t bytesToWrite, uint32_t* bytesWritten)
{
    return narrowStatus(bind(write_, "SI_Write")(handle, buffer, bytesToWrite, bytesWritten, nullptr));
}

int16_t UsbLibrary::SI_SetTimeouts(uint32_t readTimeoutMs, uint32_t writeTimeoutMs)
{
    return narrowStatus(bind(setTimeouts_, "SI_SetTimeouts")(readTimeoutMs, writeTimeoutMs));
}

int16_t UsbLibrary::SI_GetTimeouts(uint32_t* readTimeoutMs, uint32_t* writeTimeoutMs)
{
    return narrowStatus(bind(getTimeouts_, "SI_GetTimeouts")(readTimeoutMs, writeTimeoutMs));
}

int16_t UsbLibrary::SI_CheckRXQueue(UsbHandle handle, uint32_t* bytesInQueue, uint32_t* queueStatus)
{
    return narrowStatus(bind(checkRxQueue_, "SI_CheckRXQueue")(handle, bytesInQueue, queueStatus));
}

} // namespace kvx
