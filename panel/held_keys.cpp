#include "held_keys.h"

#ifdef KVX_X11_REPEATS
#include "x11_repeats.h"
#endif

#include <QGuiApplication>
#include <QKeyEvent>
#include <QWidget>
#include <QWindow>
#include <utility>

namespace kvx {
namespace {

// Return and the keypad's Enter are one key to the operator.
int sameKey(int key) { return key == Qt::Key_Enter ? Qt::Key_Return : key; }

} // namespace

HeldKeys::HeldKeys(QWidget* panel) : QObject(panel), panel_(panel)
{
#ifdef KVX_X11_REPEATS
    askForPressOnlyRepeats();
#endif
    QCoreApplication::instance()->installEventFilter(this);
    connect(qGuiApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state != Qt::ApplicationActive)
            releaseAll();
    });
}

HeldKeys::~HeldKeys() { QCoreApplication::instance()->removeEventFilter(this); }

void HeldKeys::hold(int key, std::function<void()> release, std::function<void()> again)
{
    Command& held = held_[sameKey(key)];
    if (!held.release)
        held = Command{std::move(release), std::move(again)};
}

bool HeldKeys::isHeld(int key) const { return held_.count(sameKey(key)) != 0; }

void HeldKeys::release(int key)
{
    ending_.erase(sameKey(key));
    const auto found = held_.find(sameKey(key));
    if (found == held_.end())
        return;
    // Forgotten first: the release may open a box whose events come back here.
    const Command command = std::move(found->second);
    held_.erase(found);
    ended_.insert_or_assign(sameKey(key), command);
    if (command.release)
        command.release();
}

void HeldKeys::releaseAll()
{
    while (!held_.empty())
        release(held_.begin()->first);
    lastRelease_.clear();
    down_.clear();
    ended_.clear();
}

bool HeldKeys::onPanel(QObject* watched) const
{
    if (const auto* widget = qobject_cast<QWidget*>(watched))
        return widget->window() == panel_;
    if (const auto* window = qobject_cast<QWindow*>(watched))
        return window == panel_->windowHandle();
    return false;
}

// A press passes here once for every object it travels through: one with
// the timestamp of the press that took the key down is that press again.
bool HeldKeys::isUnflaggedRepeat(const QKeyEvent* press)
{
    const int key = sameKey(press->key());
    if (press->isAutoRepeat() || press->timestamp() == 0)
        return false;
    const auto down = down_.find(key);
    if (down != down_.end() && down->second == press->timestamp())
        return false;
    if (down != down_.end() && isHeld(key))
        return true; // the server's repeat, a press alone
    down_[key] = press->timestamp();
    const auto found = lastRelease_.find(key);
    if (found == lastRelease_.end())
        return false;
    if (press->timestamp() == found->second)
        return true;
    lastRelease_.erase(found); // a fresh press
    return false;
}

// A timestamp of 0 is none: an event the program made itself pairs with
// nothing.
void HeldKeys::noteRelease(const QKeyEvent* release)
{
    const int key = sameKey(release->key());
    if (release->isAutoRepeat() || release->timestamp() == 0)
        return;
    down_.erase(key);
    if (isHeld(key) || lastRelease_.count(key))
        lastRelease_[key] = release->timestamp();
}

// Posted, so it runs once the events queued before it have been delivered.
void HeldKeys::endAfterQueuedEvents(int key, unsigned long timestamp)
{
    if (!ending_.try_emplace(key, timestamp).second)
        return; // the same release, seen again on its way up
    QMetaObject::invokeMethod(
        this,
        [this, key, timestamp] {
            const auto found = ending_.find(key);
            if (found != ending_.end() && found->second == timestamp)
                release(key);
        },
        Qt::QueuedConnection);
}

// A fresh press after a release still waiting to end: that release was a
// real one, and its end comes before what the new press starts.
void HeldKeys::endNowIfEnding(int key)
{
    if (ending_.count(key))
        release(key);
    ended_.erase(key);
}

// The press of a late pair: the key never came up. If its release has
// ended the command already, the command is held again.
void HeldKeys::holdAgain(int key)
{
    const auto found = ended_.find(key);
    if (ending_.erase(key) || found == ended_.end() || isHeld(key))
        return;
    const Command command = std::move(found->second);
    ended_.erase(found);
    held_.emplace(key, command);
    if (command.again)
        command.again();
}

// A key event passes here once for every object it travels through on its
// way (the window, then each widget up from the focus); the end that a
// final release brings is set once. A release the program made itself has
// no pair to wait for and ends at once. A late repeat is taken on the
// first object it reaches and sent on from there as the repeat it is,
// which only the panel sees.
bool HeldKeys::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease)
        return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    const int code = sameKey(key->key());
    if (event->type() == QEvent::KeyRelease)
        noteRelease(key);
    else if (isUnflaggedRepeat(key)) {
        holdAgain(code);
        QKeyEvent repeat(QEvent::KeyPress, key->key(), key->modifiers(), key->nativeScanCode(),
                         key->nativeVirtualKey(), key->nativeModifiers(), key->text(), true, key->count(),
                         key->device());
        repeat.setTimestamp(key->timestamp());
        QCoreApplication::sendEvent(watched, &repeat);
        return true;
    } else if (!key->isAutoRepeat())
        endNowIfEnding(code);
    const bool repeating = lastRelease_.count(code) != 0;
    if (key->isAutoRepeat() && (isHeld(key->key()) || repeating))
        return !onPanel(watched);
    if (event->type() != QEvent::KeyRelease || !isHeld(code))
        return false;
    if (key->timestamp() == 0)
        release(code);
    else
        endAfterQueuedEvents(code, key->timestamp());
    return false;
}

} // namespace kvx
