#include "spoken_notice.h"

#include "screen_reader.h"

namespace kvx {

SpokenNotice::SpokenNotice(QWidget* parent) : QWidget(parent)
{
    // Before anything asks for its interface, which is then kept.
    setScreenReaderRole(this, QAccessible::Notification);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setGeometry(0, 0, 0, 0);
    hide();
}

void SpokenNotice::say(const QString& words)
{
    hide();
    setAccessibleName(words);
    show();
}

} // namespace kvx
