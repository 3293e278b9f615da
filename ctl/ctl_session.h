// One run of kvx340ctl's command line or run file on one controller: the
// commands in turn on the axis drive, what they print, and how the program
// ends. Nobody watches a script: every way out that may leave the axis
// moving sends STOP first and closes the controller.
#pragma once

#include "axis_drive.h"
#include "ctl_output.h"
#include "ctl_request.h"
#include "exit_status.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTextStream>

namespace kvx::ctl {

class Session : public QObject {
    Q_OBJECT
public:
    Session(UsbLink& link, Request request, QTextStream& out, QTextStream& err);

    // Lists the controllers and opens the chosen one; the first exchange
    // follows at once. False when it has already ended (a listing, or a
    // failure): exitStatus() then says how.
    bool start();

    // Ctrl+C, SIGTERM, a closed console. While the axis may be moving, STOP
    // is held until idle (2 s at most) before the close, whatever else comes
    // meanwhile; a second interruption may shorten the wait, never the STOP.
    // Otherwise the controller is closed at once.
    void interrupt(int exitStatus);

    bool ended() const { return ended_; }
    int exitStatus() const { return exitStatus_; }
    // Standard output or error could not be written; the error number then.
    bool outputFailed() const { return outputFailed_; }
    int outputError() const { return outputError_; }

signals:
    void finished(int exitStatus);

private:
    void beginStep();
    void nextStep();
    void onExchanged(const Reading& reading);
    void onMotionEnded(const MotionOutcome& outcome);
    bool axisMayBeMoving() const;
    void stopAndEnd(int status);
    void onLinkFailed(const QString& message);
    void closeAndEnd(int status);
    void end(int status);
    void print(const QString& text);
    void printError(const QString& text);
    void printPanelMessage(const QString& text);
    void checkOutput(QTextStream& stream);
    const Step& step() const { return request_.steps[stepIndex_]; }

    Request request_;
    AxisDrive drive_;
    QTextStream& out_;
    QTextStream& err_;

    std::size_t stepIndex_ = 0;
    uint64_t stepFromExchange_ = 0; // readings after this one belong to the step
    QElapsedTimer stepClock_;
    bool ending_ = false;       // STOP held on a way out, then the close
    int endingStatus_ = 0;
    int interruptions_ = 0;
    bool ended_ = false;
    bool outputFailed_ = false;
    int outputError_ = 0;
    int exitStatus_ = ExitStatus::Done;
};

} // namespace kvx::ctl
