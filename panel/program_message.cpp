#include "program_message.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>

namespace kvx {

void showProgramMessage(const QString& message, QWidget* parent)
{
    QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), message, QMessageBox::Ok, parent);
    // Some styles decorate the OK button with an icon of their own.
    box.button(QMessageBox::Ok)->setIcon(QIcon());
    // A screen reader announcing the box reads its text with it, not only
    // its title.
    box.setAccessibleDescription(message);
    box.exec();
}

} // namespace kvx
