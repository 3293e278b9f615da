#include "program_message.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <memory>

namespace kvx {

void showProgramMessage(const QString& message, QWidget* parent)
{
    // Outlives the box, which keeps a pointer to it.
    std::unique_ptr<QLabel> emptyIcon;
    QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), message, QMessageBox::Ok, parent);
    // The box keeps an empty, hidden picture where an icon would go, which
    // a screen reader would still find; taken out, the box looks the same.
    emptyIcon.reset(box.findChild<QLabel*>(QStringLiteral("qt_msgboxex_icon_label")));
    if (emptyIcon)
        emptyIcon->setParent(nullptr);
    // Some styles decorate the OK button with an icon of their own.
    box.button(QMessageBox::Ok)->setIcon(QIcon());
    // A screen reader announcing the box reads its text with it, not only
    // its title.
    box.setAccessibleDescription(message);
    box.exec();
}

} // namespace kvx
