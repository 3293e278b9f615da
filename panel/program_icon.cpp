#include "program_icon.h"

// Resources in a static library are not registered unless asked for.
static void registerPanelResources() { Q_INIT_RESOURCE(resources); }

namespace kvx {

QIcon programIcon()
{
    registerPanelResources();
    QIcon icon;
    icon.addFile(QStringLiteral(":/kvx/icon-16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/kvx/icon-32.png"), QSize(32, 32));
    return icon;
}

QPixmap bannerPicture()
{
    registerPanelResources();
    return QPixmap(QStringLiteral(":/kvx/banner.png"));
}

} // namespace kvx
