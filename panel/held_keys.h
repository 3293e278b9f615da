// The commands that keys hold. A key's release ends its command wherever the
// release lands: on the panel, in a message box over it, or on another
// control that took the focus meanwhile. When the program loses the
// keyboard to another program, no release will ever come, so every command
// held by a key ends at once. While a key is held, windows other than the
// panel (a refusal box) do not see its auto-repeats: they would press the
// box's buttons or close it before it can be read.
//
// An X server repeats a held key as a release and a press with one
// timestamp; Qt flags the pair as a repeat only when the press is already
// queued as it reads the release. A press of a key this object held, with
// the timestamp of that key's last release, is therefore handed on as the
// repeat it is, wherever it lands. Where the server can, it is asked to
// repeat a held key as presses alone instead; Qt flags none of them, so a
// press of a key this object holds, with another timestamp than the press
// that took it down, is handed on as a repeat too.
//
// So that a late pair's release does not end the command before its press
// is seen, a release of a held key ends the command only once the events
// already queued have been delivered: a press among them keeps the command
// held, and a real release still ends it before the next exchange, a
// timer's event. A press that comes later holds the command again.
#pragma once

#include <QObject>
#include <functional>
#include <map>

class QKeyEvent;
class QWidget;

namespace kvx {

class HeldKeys : public QObject {
public:
    // Watches every key event of the application for as long as it lives.
    explicit HeldKeys(QWidget* panel);
    ~HeldKeys() override;

    // The key now holds a command; release runs once, when the key comes up,
    // and again holds it anew if a late press shows that the key had not
    // come up. A key already holding one keeps its first. Empty functions
    // hold the key alone, until a later hold gives it a command.
    void hold(int key, std::function<void()> release, std::function<void()> again);
    bool isHeld(int key) const;
    // Ends what the key holds, if anything.
    void release(int key);
    // Ends what every key holds and forgets the keys.
    void releaseAll();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool onPanel(QObject* watched) const;
    bool isUnflaggedRepeat(const QKeyEvent* press);
    void noteRelease(const QKeyEvent* release);
    void endAfterQueuedEvents(int key, unsigned long timestamp);
    void endNowIfEnding(int key);
    void holdAgain(int key);

    struct Command {
        std::function<void()> release, again;
    };
    QWidget* panel_;
    std::map<int, Command> held_;
    // The timestamp of the last release of each key held since its last
    // fresh press.
    std::map<int, unsigned long> lastRelease_;
    // The timestamp of the press that took each key down, while it is down.
    std::map<int, unsigned long> down_;
    // The keys released whose commands end once the queued events are in,
    // with the timestamp of that release.
    std::map<int, unsigned long> ending_;
    // What each key held until its last release ended it.
    std::map<int, Command> ended_;
};

} // namespace kvx
