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
    box.exec();
}

} // namespace kvx
