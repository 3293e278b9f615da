#include "held_key_watch.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <utility>

namespace kvx {
namespace {

// Return and the keypad's Enter are one key to the operator.
int sameKey(int key) { return key == Qt::Key_Enter ? Qt::Key_Return : key; }

} // namespace

HeldKeyWatch::HeldKeyWatch(int key, std::function<void()> onRelease)
    : key_(sameKey(key)), onRelease_(std::move(onRelease))
{
    QCoreApplication::instance()->installEventFilter(this);
}

HeldKeyWatch::~HeldKeyWatch() { QCoreApplication::instance()->removeEventFilter(this); }

bool HeldKeyWatch::eventFilter(QObject*, QEvent* event)
{
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease)
        return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (sameKey(key->key()) != key_)
        return false;
    if (key->isAutoRepeat())
        return true;
    if (event->type() == QEvent::KeyPress)
        released_ = false;
    else if (!std::exchange(released_, true))
        onRelease_();
    return false;
}

} // namespace kvx
