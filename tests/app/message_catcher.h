// Answers the program's modal message boxes as an operator would: reads the
// text, presses OK.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>

namespace kvx::test {

class MessageCatcher {
public:
    MessageCatcher()
    {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            messages << box->text();
            titles << box->windowTitle();
            icons << box->icon();
            box->button(QMessageBox::Ok)->click();
        });
        timer_.start();
    }

    QStringList messages;
    QStringList titles;
    QList<QMessageBox::Icon> icons;

private:
    QTimer timer_;
};

} // namespace kvx::test
