// Words that a screen reader speaks as they come, without the focus. Orca
// speaks a description change only for the focused element, but it speaks
// an element of the notification role as that element becomes showing.
// The notice takes no room and draws nothing: the window looks the same.
#pragma once

#include <QStringList>
#include <QWidget>

namespace kvx {

class SpokenNotice : public QWidget {
public:
    explicit SpokenNotice(QWidget* parent);

    // Shows the notice anew with these words, so that they are spoken once.
    // A screen reader passes over what a window says before it is active
    // (the panel's first status comes as the window manager activates it):
    // until then the words wait, the latest of each element's kept.
    void say(const QString& words);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void show(const QString& words);

    QStringList waiting_;
};

} // namespace kvx
