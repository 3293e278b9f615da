// What screen readers get beyond Qt's defaults. Each window gives its own
// widgets a role where it builds them: the windows are windows (not
// anonymous panes), the lamps and the marker are pictures, a text box that
// nobody reads is nothing.
#pragma once

#include <QAccessible>

class QWidget;

namespace kvx {

// Installs the program's accessible interfaces; once is enough, more is
// harmless. Call it before the first window is made.
void installScreenReaderSupport();

// The role a screen reader gets for the widget instead of Qt's own. Set it
// before the widget is first shown: an interface, once made, is kept.
void setScreenReaderRole(QWidget* widget, QAccessible::Role role);

} // namespace kvx
