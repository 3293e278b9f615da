// Turns Qt's events into the panel's handlers. A mouse press of any button
// (the second press of a double click included) is a MouseDown; the real
// release, wherever the pointer is, a MouseUp; a Click is the button's
// clicked signal. Every press of a move key is a KeyDown, auto-repeats
// included; a held stop or zero key presses once. An accepted press hands
// the key to heldKeys_, which makes its final release, wherever it lands,
// the KeyUp.
#include "frm_main.h"

#include "held_keys.h"
#include "motion_commands.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
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

const QKeyEvent* keyEvent(QEvent* event)
{
    const bool isKey = event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease;
    return isKey ? static_cast<QKeyEvent*>(event) : nullptr;
}

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

void frmMain::keyPressEvent(QKeyEvent* event)
{
    if (!stopKey(event))
        QWidget::keyPressEvent(event);
}

void frmMain::keyReleaseEvent(QKeyEvent* event)
{
    if (!stopKey(event))
        QWidget::keyReleaseEvent(event);
}

bool frmMain::eventFilter(QObject* watched, QEvent* event)
{
    if (stopKey(event))
        return true;
    if (watched == Text2)
        return text2Key(event);
    if (watched == Slider1) {
        slider1Mouse(event);
        return false;
    }
    if (watched == Command7 && command7Key(event))
        return true;
    if (watched == Command1 || watched == Command2)
        heldButtonKey(watched, event);
    if (watched == Command1 || watched == Command2 || watched == Command7 || watched == Go)
        return buttonEvent(watched, event);
    return false;
}

// Escape, whichever control has the focus: held, it holds STOP. It is taken
// here, so no control acts on it as well.
bool frmMain::stopKey(QEvent* event)
{
    const QKeyEvent* key = keyEvent(event);
    if (!key || key->key() != Qt::Key_Escape)
        return false;
    if (event->type() == QEvent::KeyPress && !key->isAutoRepeat() && !end_.isEnding()) {
        accessiblePresses_.erase(Command1);
        Form_KeyDown(key->key());
        heldKeys_->hold(
            key->key(), [this] { Form_KeyUp(Qt::Key_Escape); }, [this] { Form_KeyDown(Qt::Key_Escape); });
    }
    return true;
}

// Space on a focused STOP or ZERO holds it as the mouse does. The button
// still goes down and comes up on it as usual.
void frmMain::heldButtonKey(QObject* button, QEvent* event)
{
    const QKeyEvent* key = keyEvent(event);
    if (!key || key->key() != Qt::Key_Space || key->isAutoRepeat() || event->type() != QEvent::KeyPress ||
        end_.isEnding())
        return;
    accessiblePresses_.erase(button);
    const bool stop = button == Command1;
    stop ? Command1_KeyDown() : Command2_KeyDown();
    heldKeys_->hold(
        Qt::Key_Space, [this, stop] { stop ? Command1_KeyUp() : Command2_KeyUp(); },
        [this, stop] { stop ? Command1_KeyDown() : Command2_KeyDown(); });
}

// A screen reader's press action is Qt's animated click: the button goes
// down and comes up 100 ms later, with no mouse or key event on the way. A
// press whose flag no mouse or key handler has set first is such a press;
// it holds the flag until that button comes up, so frames carry it. Each
// button's press is its own; a mouse or key press of the same command
// takes the hold over, and the animation's end then leaves it alone.
void frmMain::connectAccessiblePress(QPushButton* button, const uint8_t& flag)
{
    connect(button, &QPushButton::pressed, this, [this, button, &flag] {
        if (flag || end_.isEnding())
            return;
        accessiblePresses_.insert(button);
        mouseDown(button);
    });
    connect(button, &QPushButton::released, this, [this, button] {
        if (accessiblePresses_.erase(button))
            mouseUp(button);
    });
}

// Non-primary mouse events are consumed so that the form does not see them
// again; a press whose position entry was refused is consumed too, so the
// button neither goes down nor clicks.
bool frmMain::buttonEvent(QObject* button, QEvent* event)
{
    if (isPress(event)) {
        accessiblePresses_.erase(button);
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
    const QKeyEvent* key = keyEvent(event);
    if (!key || key->key() != Qt::Key_Space)
        return false;
    if (event->type() == QEvent::KeyPress)
        return !commandKeyDown(key, &frmMain::Command7_KeyDown, &frmMain::Command7_KeyUp, holdRelative);
    return false;
}

// Enter belongs to the position box alone: it is consumed, never passed on.
bool frmMain::text2Key(QEvent* event)
{
    const QKeyEvent* key = keyEvent(event);
    if (!key || !isEnterKey(key))
        return false;
    if (event->type() == QEvent::KeyPress)
        commandKeyDown(key, &frmMain::Text2_KeyDown, &frmMain::Text2_KeyUp, holdGo);
    return true;
}

// One refusal answers a whole press of a held key: its auto-repeats start
// nothing more until the key is pressed anew. The key is held before its
// press is answered, so that a refused key, holding nothing, still has its
// repeats taken for repeats, and a release in the refusal's box ends that
// hold. Held again after a late press, the command keeps its target.
bool frmMain::commandKeyDown(const QKeyEvent* key, bool (frmMain::*keyDown)(), void (frmMain::*keyUp)(),
                             void (*holdAgain)(MotionState&))
{
    if (key->isAutoRepeat() && keyPressRefused_)
        return false;
    if (!end_.isEnding())
        heldKeys_->hold(key->key(), {}, {});
    const bool accepted = (this->*keyDown)();
    keyPressRefused_ = !accepted;
    if (accepted && !end_.isEnding())
        heldKeys_->hold(
            key->key(), [this, keyUp] { (this->*keyUp)(); },
            [this, holdAgain] {
                if (!end_.isEnding())
                    holdAgain(state_);
            });
    return accepted;
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
