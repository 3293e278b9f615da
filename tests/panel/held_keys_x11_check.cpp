// On an X server the held keys ask for repeats as presses alone: a repeat's
// release read before its press would otherwise end what the key holds.
// Run on a desktop (with-desktop sets the xcb platform).
#include "held_keys.h"

#include <QGuiApplication>
#include <QWidget>
#include <gtest/gtest.h>
// After Qt's headers: Xlib's macros clash with Qt's names.
#include <X11/XKBlib.h>

TEST(HeldKeysOnX11, TheServerRepeatsAHeldKeyAsPressesAlone)
{
    const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    ASSERT_NE(x11, nullptr) << "not on an X server";
    Bool supported = False;
    ASSERT_FALSE(XkbGetDetectableAutoRepeat(x11->display(), &supported)) << "asked before the panel";
    QWidget panel;
    kvx::HeldKeys keys(&panel);
    EXPECT_TRUE(XkbGetDetectableAutoRepeat(x11->display(), &supported));
    EXPECT_TRUE(supported);
}
