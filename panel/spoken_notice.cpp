#include "spoken_notice.h"

#include "screen_reader.h"

#include <QEvent>

namespace kvx {

SpokenNotice::SpokenNotice(QWidget* parent) : QWidget(parent)
{
    // Before anything asks for its interface, which is then kept.
    setScreenReaderRole(this, QAccessible::Notification);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setGeometry(0, 0, 0, 0);
    hide();
    window()->installEventFilter(this);
}

void SpokenNotice::say(const QString& words)
{
    if (isActiveWindow()) {
        show(words);
        return;
    }
    // "Busy: busy. Left limit: clear": a newer state of an element replaces
    // its older one.
    for (const QString& said : words.split(QStringLiteral(". "))) {
        const QString element = said.section(QLatin1Char(':'), 0, 0) + QLatin1Char(':');
        waiting_.removeIf([&](const QString& kept) { return kept.startsWith(element); });
        waiting_ << said;
    }
}

bool SpokenNotice::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::WindowActivate && !waiting_.isEmpty()) {
        show(waiting_.join(QStringLiteral(". ")));
        waiting_.clear();
    }
    return QWidget::eventFilter(watched, event);
}

void SpokenNotice::show(const QString& words)
{
    hide();
    setAccessibleName(words);
    QWidget::show();
}

} // namespace kvx
