#include "x11_repeats.h"

#include <QGuiApplication>
// After Qt's headers: Xlib's macros (KeyPress, None, Bool) clash with Qt's
// names, so nothing of Qt follows.
#include <X11/XKBlib.h>

namespace kvx {

bool askForPressOnlyRepeats()
{
    const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->display())
        return false;
    Bool supported = False;
    return XkbSetDetectableAutoRepeat(x11->display(), True, &supported) && supported;
}

} // namespace kvx
