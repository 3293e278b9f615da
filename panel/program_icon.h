// The program's icon, a diagonal double-headed arrow in 16 and 32 pixels,
// and the panel's banner, both compiled into the program.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace kvx {

QIcon programIcon();
QPixmap bannerPicture();

} // namespace kvx
