// One run of kvx340ctl on one controller: list, choose and open it, run the
// commands on the panel's 30 ms exchange, close it. The commands set the
// motion request state exactly as the panel's mouse handlers do, so the
// frames are the panel's. Nobody watches a script: every way out that may
// leave the axis moving sends STOP first and closes the controller.
#pragma once

#include "ctl_output.h"
#include "ctl_request.h"
#include "exit_status.h"
#include "motion_state.h"
#include "usb_link.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTextStream>
#include <QTimer>

namespace kvx::ctl {

// A STOP on interruption is held this long at most before the close.
inline constexpr int InterruptStopMs = 2000;
inline constexpr int ExchangePeriodMs = 30;
// home leaves its switch at this speed (jog slider scale), so that the
// origin lies close to where the switch lets go.
inline constexpr int HomeLeaveSpeed = 300;

class Session : public QObject {
    Q_OBJECT
public:
    Session(UsbLink& link, Request request, QTextStream& out, QTextStream& err);

    // Lists the controllers and opens the chosen one; the first exchange
    // follows at once. False when it has already ended (a listing, or a
    // failure): exitStatus() then says how.
    bool start();

    // Ctrl+C, SIGTERM, a closed console. While the axis may be moving, STOP
    // is held until idle (2 s at most) before the close; otherwise, and on a
    // second interruption, the controller is closed at once.
    void interrupt(int exitStatus);

    bool ended() const { return ended_; }
    int exitStatus() const { return exitStatus_; }
    // Standard output or error could not be written; the error number then.
    bool outputFailed() const { return outputFailed_; }
    int outputError() const { return outputError_; }

signals:
    void finished(int exitStatus);

private:
    enum class Phase { Held, Released, Stopping, StopReleased, Seeking, Leaving, Zeroing, Interrupted };

    bool openChosen();
    void beginStep();
    void nextStep();
    void tick();
    void advance(const Reading& reading);
    void advanceMove(const Reading& reading);
    void advanceStop(const Reading& reading, const char* command);
    void advanceHome(const Reading& reading);
    bool axisMayBeMoving() const;
    bool checkTimeout();
    void pressStopNow();
    void stopInPlaceOfHeld();
    void stopAndEnd(int status);
    void abandonAfterLinkFailure(const QString& message);
    void closeAndEnd(int status);
    void end(int status);
    void print(const QString& text);
    void printError(const QString& text);
    void printPanelMessage(const QString& text);
    void checkOutput(QTextStream& stream);
    const Step& step() const { return request_.steps[stepIndex_]; }

    UsbLink& link_;
    Request request_;
    QTextStream& out_;
    QTextStream& err_;
    MotionState state_;
    SliderValues sliders_;
    double targetPosition_ = 0;
    QTimer timer_;
    QStringList products_;

    std::size_t stepIndex_ = 0;
    Phase phase_ = Phase::Held;
    int phaseTicks_ = 0;
    QElapsedTimer stepClock_;
    QElapsedTimer interruptClock_;
    int64_t moveStartSteps_ = 0;
    int64_t moveTargetSteps_ = 0;
    bool homeLeaving_ = false;
    double homeFoundUnits_ = 0;
    bool open_ = false;
    bool ended_ = false;
    bool outputFailed_ = false;
    int outputError_ = 0;
    int interruptStatus_ = 0;
    int exitStatus_ = ExitStatus::Done;
};

} // namespace kvx::ctl
