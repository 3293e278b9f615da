// Turns Qt's events into the panel's handlers. A mouse press of any button
// (the second press of a double click included) is a MouseDown; the real
// release, wherever the pointer is, a MouseUp; a Click is the button's
// clicked signal. Every press of a command key is a KeyDown, auto-repeats
// included; only the final release is a KeyUp.
#include "frm_main.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QShowEvent>
#include <QSlider>
#include <QTimer>

namespace kvx {
namespace {

bool isPrimary(QEvent* event) { return static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton; }

bool isPress(QEvent* event)
{
    return event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick;
}

bool isEnterKey(const QKeyEvent* key) { return key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter; }

} // namespace

void frmMain::showEvent(QShowEvent* event)
{
    if (!loaded_)
        Form_Load();
    QWidget::showEvent(event);
    // Some platforms (offscreen, a bare X server) never activate the window:
    // run the activation right after the first show if none has come by then.
    if (!activated_)
        QTimer::singleShot(0, this, [this] {
            if (!activated_)
                Form_Activate();
        });
}

bool frmMain::event(QEvent* event)
{
    if (event->type() == QEvent::WindowActivate && loaded_ && !activated_)
        Form_Activate();
    return QWidget::event(event);
}

void frmMain::closeEvent(QCloseEvent* event)
{
    Form_Unload();
    event->accept();
}

bool frmMain::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Text2)
        return text2Key(event);
    if (watched == Slider1) {
        slider1Mouse(event);
        return false;
    }
    if (watched == Command7 && command7Key(event))
        return true;
    return buttonEvent(watched, event);
}

// Non-primary mouse events are consumed so that the form does not see them
// again; a press whose position entry was refused is consumed too, so the
// button neither goes down nor clicks.
bool frmMain::buttonEvent(QObject* button, QEvent* event)
{
    if (isPress(event)) {
        const bool accepted = mouseDown(button);
        return !accepted || !isPrimary(event);
    }
    if (event->type() == QEvent::MouseButtonRelease) {
        mouseUp(button);
        return !isPrimary(event);
    }
    return false;
}

bool frmMain::mouseDown(QObject* button)
{
    if (button == Command1)
        Command1_MouseDown();
    else if (button == Command2)
        Command2_MouseDown();
    else if (button == Command7)
        return Command7_MouseDown();
    else if (button == Go)
        return Go_MouseDown();
    return true;
}

void frmMain::mouseUp(QObject* button)
{
    if (button == Command1)
        Command1_MouseUp();
    else if (button == Command2)
        Command2_MouseUp();
    else if (button == Command7)
        Command7_MouseUp();
    else if (button == Go)
        Go_MouseUp();
}

bool frmMain::command7Key(QEvent* event)
{
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease)
        return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() != Qt::Key_Space)
        return false;
    if (event->type() == QEvent::KeyPress)
        return !commandKeyDown(key, &frmMain::Command7_KeyDown);
    if (!key->isAutoRepeat())
        Command7_KeyUp();
    return false;
}

// Enter belongs to the position box alone: it is consumed, never passed on.
bool frmMain::text2Key(QEvent* event)
{
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease)
        return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (!isEnterKey(key))
        return false;
    if (event->type() == QEvent::KeyPress)
        commandKeyDown(key, &frmMain::Text2_KeyDown);
    else if (!key->isAutoRepeat())
        Text2_KeyUp();
    return true;
}

// One refusal answers a whole press of a held key: its auto-repeats start
// nothing more until the key is pressed anew.
bool frmMain::commandKeyDown(const QKeyEvent* key, bool (frmMain::*keyDown)())
{
    if (key->isAutoRepeat() && keyPressRefused_)
        return false;
    const QScopedValueRollback<int> pressed(commandKey_, key->key());
    const bool accepted = (this->*keyDown)();
    keyPressRefused_ = !accepted;
    return accepted;
}

void frmMain::commandKeyUp(int key)
{
    if (key == Qt::Key_Space)
        Command7_KeyUp();
    else
        Text2_KeyUp();
}

// A click of the slider is a primary press and release over it, on the
// handle or on the groove.
void frmMain::slider1Mouse(QEvent* event)
{
    if (isPress(event)) {
        if (isPrimary(event))
            slider1Armed_ = true;
        return;
    }
    if (event->type() != QEvent::MouseButtonRelease || !isPrimary(event))
        return;
    const bool inside = Slider1->rect().contains(static_cast<QMouseEvent*>(event)->position().toPoint());
    if (slider1Armed_ && inside)
        Slider1_Click();
    slider1Armed_ = false;
}

} // namespace kvx
