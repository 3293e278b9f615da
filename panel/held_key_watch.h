// While a refusal box is open over a held command key, the key belongs to
// the box: its auto-repeats must not press the box's button (and so open
// the next box), and its release, which the box receives, must still end
// the command the key was holding.
#pragma once

#include <QObject>
#include <functional>

namespace kvx {

class HeldKeyWatch : public QObject {
public:
    // Watches every key event of the application for as long as it lives.
    HeldKeyWatch(int key, std::function<void()> onRelease);
    ~HeldKeyWatch() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int key_;
    std::function<void()> onRelease_;
    // A key event passes the filter once for every widget it travels up
    // through; a release is taken once, until the key is pressed anew.
    bool released_ = false;
};

} // namespace kvx
