// Words that a screen reader speaks as they come, without the focus. Orca
// speaks a description change only for the focused element, but it speaks
// an element of the notification role as that element becomes showing.
// The notice takes no room and draws nothing: the window looks the same.
#pragma once

#include <QWidget>

namespace kvx {

class SpokenNotice : public QWidget {
public:
    explicit SpokenNotice(QWidget* parent);

    // Shows the notice anew with these words, so that they are spoken once.
    void say(const QString& words);
};

} // namespace kvx
