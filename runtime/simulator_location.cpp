#include "simulator_location.h"

#include <QDir>
#include <QFileInfo>
#include <QLibrary>

namespace kvx {

QStringList simulatorLibraryCandidates(const QString& appDir)
{
    const QString file = QStringLiteral(KVX_SIM_LIBRARY_FILE);
    const QDir here(appDir);
    return {
        here.filePath(file),
        QDir::cleanPath(here.filePath(QStringLiteral(KVX_SIM_RELATIVE_INSTALL_DIR "/") + file)),
    };
}

namespace {

// The first candidate that exists, else the bare name.
QString firstExisting(const QStringList& candidates, const QString& bareName)
{
    for (const QString& candidate : candidates)
        if (QFileInfo::exists(candidate))
            return candidate;
    return bareName;
}

} // namespace

QString simulatorLibraryPath(const QString& appDir)
{
    return firstExisting(simulatorLibraryCandidates(appDir), QStringLiteral("kvx340sim"));
}

LibraryChoice simulatorLibrary(const QString& appDir)
{
    return {simulatorLibraryPath(appDir), QStringLiteral("kvx340sim"), LibrarySource::Simulator};
}

LibraryChoice hardwareLibrary([[maybe_unused]] const QString& appDir)
{
#ifdef KVX_USB_LIBRARY_FILE
    const QString file = QStringLiteral(KVX_USB_LIBRARY_FILE);
    const QDir here(appDir);
    const QStringList candidates = {
        here.filePath(file),
        QDir::cleanPath(here.filePath(QStringLiteral(KVX_USB_RELATIVE_INSTALL_DIR "/") + file)),
    };
    return {firstExisting(candidates, QStringLiteral("kvx340usb")), QStringLiteral("kvx340usb"),
            LibrarySource::Bundled};
#else
    return {QStringLiteral("SiUSBXp"), QStringLiteral("SiUSBXp"), LibrarySource::Vendor};
#endif
}

} // namespace kvx
