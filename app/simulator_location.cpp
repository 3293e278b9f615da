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

QString simulatorLibraryPath(const QString& appDir)
{
    for (const QString& candidate : simulatorLibraryCandidates(appDir))
        if (QFileInfo::exists(candidate))
            return candidate;
    return QStringLiteral("kvx340sim");
}

} // namespace kvx
