// The panel with helpers that press and release its keys and buttons and
// run its ticks, for the checks of its commands.
#pragma once

#include "frames.h"
#include "panel_fixture.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QWindow>
#include <qpa/qwindowsysteminterface.h>
#include <utility>

namespace kvx::test {

class Commands : public kvx::test::PanelTest {
protected:
    Commands() { open(); }

    // Straight to the widget, or (throughWindow) as the platform delivers a
    // key: to the target's window, which hands it to its focus widget. Then
    // what the key posted, as the event loop delivers it before the next
    // tick.
    void key(QWidget* target, QEvent::Type type, int code, bool autoRepeat = false,
             Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        if (throughWindow)
            windowKey(target, type, code, autoRepeat, ++keyTime, modifiers);
        else {
            QKeyEvent event(type, code, modifiers, QString(), autoRepeat);
            QApplication::sendEvent(target, &event);
        }
        QCoreApplication::sendPostedEvents();
    }

    // The X server's repeat of a held key whose press Qt read too late to
    // flag the pair: a release and a press, neither a repeat, with one
    // timestamp; the press comes before the loop's next round, or after it
    // (pressLater). Gives the command bytes of an exchange between the two
    // and of one after them.
    std::pair<uint8_t, uint8_t> latePair(QWidget* target, int code, bool pressLater = false)
    {
        windowKey(target, QEvent::KeyRelease, code, false, ++keyTime);
        if (pressLater)
            QCoreApplication::sendPostedEvents();
        const uint8_t between = tickCommandByte();
        windowKey(target, QEvent::KeyPress, code, false, keyTime);
        QCoreApplication::sendPostedEvents();
        return {between, tickCommandByte()};
    }

    void windowKey(QWidget* target, QEvent::Type type, int code, bool autoRepeat, ulong timestamp,
                   Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        target->setFocus();
        QWindow* window = target->window()->windowHandle();
        ASSERT_NE(window, nullptr);
        QWindowSystemInterface::handleKeyEvent<QWindowSystemInterface::SynchronousDelivery>(
            window, timestamp, type, code, modifiers, QString(), autoRepeat);
    }

    bool throughWindow = false;
    ulong keyTime = 1000;

    void enterHeldWithAutoRepeat();

    void mouse(QWidget* target, QEvent::Type type, Qt::MouseButton button, QPoint at = {5, 5})
    {
        const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
        QMouseEvent event(type, at, target->mapToGlobal(at), button, held, Qt::NoModifier);
        QApplication::sendEvent(target, &event);
    }

    uint8_t tickCommandByte()
    {
        panel.Timer1_Timer();
        return lastFrame()[3] & 0x7F; // without the toggle bit
    }

    int64_t tickTarget()
    {
        panel.Timer1_Timer();
        return decodeCommandFrame(lastFrame().data()).TargetSteps;
    }
};

} // namespace kvx::test
