// The program's life: the selection dialog first, then the control panel,
// sharing one motion request state and one USB library.
#pragma once

#include "motion_state.h"
#include "qt_program_end.h"
#include "usb_link.h"

#include <QObject>
#include <memory>

namespace kvx {

class frmSelect;
class frmMain;

class Program {
public:
    explicit Program(UsbLink& link);
    ~Program();

    // Loads the selection dialog and shows it. False when that already ended
    // the program (no controller, no usable library): do not run the event loop.
    bool start();

    // A termination signal: ends the program as the operator's own way out
    // from where it stands. The panel closes the controller as its close box
    // does; the dialog ends as Cancel does; a failure message that is open
    // ends as when the operator closes it, without a close.
    void endOnSignal();

    // The desktop session's end (a logout, a shutdown) ends the program as a
    // signal does, closing an open controller, before the session takes the
    // program down. A save request alone is not an end: a logout can still
    // be cancelled after it, and a session checkpoint sends it too.
    void followSessionEnd();

    bool ended() const { return end_.isEnding(); }
    int exitCode() const { return end_.exitCode(); }

    MotionState& state() { return state_; }
    frmSelect* selectWindow() const { return select_.get(); }
    frmMain* panelWindow() const { return panel_.get(); }

private:
    // The dialog's hand-over once the controller is open.
    void showPanel();

    UsbLink& link_;
    MotionState state_;
    QtProgramEnd end_;
    std::unique_ptr<frmSelect> select_;
    std::unique_ptr<frmMain> panel_;
    // Holds the session's connection for the program's life.
    QObject session_;
};

} // namespace kvx
