// The panel's two type faces. Arial and MS Sans Serif are pinned to
// substitutes with similar metrics where they are not installed, so that
// captions fit the controls drawn for them.
#pragma once

#include <QFont>

namespace kvx {

enum class Weight { Bold, Regular };

void installFontSubstitutes();
QFont arial(double points, Weight weight = Weight::Bold);
QFont msSansSerif(double points, Weight weight = Weight::Bold);

} // namespace kvx
