// kvx340ctl serve: one controller held open on the axis drive, driven by
// JSON-RPC 2.0 messages a line on standard input, answered a line on
// standard output. However the script ends (its input closes, a signal,
// its output goes, the link fails) the axis is left stopped and the
// controller closed.
#pragma once

#include "axis_drive.h"
#include "ctl_request.h"
#include "exit_status.h"
#include "rpc_message.h"
#include "serve_io.h"
#include "serve_params.h"

#include <QJsonValue>
#include <QObject>
#include <QTextStream>
#include <optional>
#include <vector>

namespace kvx::ctl {

class ServeSession : public QObject {
    Q_OBJECT
public:
    ServeSession(UsbLink& link, Request request, QTextStream& err);

    // Lists, opens and says so; false when the open failed (exitStatus()
    // then says how, and nothing was written on standard output).
    bool start();
    // A signal: STOP held until idle (2 s at most), whatever comes
    // meanwhile; a second one may cut the wait short, never the STOP.
    void interrupt(int exitStatus);

    bool ended() const { return ended_; }
    int exitStatus() const { return exitStatus_; }
    bool outputFailed() const { return outputFailed_; }
    int outputError() const { return outputError_; }

signals:
    void finished(int exitStatus);

private:
    // A request that waits for the axis.
    struct Waiting {
        QJsonValue id;
        bool answered = true; // false for a notification
        ServeMethod method = ServeMethod::Status;
        Step step;
        uint64_t fromExchange = 0;
        qint64 sinceMs = 0;
    };

    void onExchanged(const Reading& reading);
    void onMotionEnded(const MotionOutcome& outcome);
    void onLinkFailed(const QString& message);
    void takeInput();
    void handle(const InputLine& line);
    void call(const RpcCall& call);
    void beginMotion(const RpcCall& call, const Step& step);
    void answerWaiting(const Reading& reading);
    void stopThen(std::function<void()> done);
    void leave(int status);
    void closeAndEnd(int status);
    void end(int status);
    bool mayBeMoving() const;
    void send(const QJsonValue& id, bool answered, const QJsonObject& result);
    void sendError(const QJsonValue& id, bool answered, int code, const QString& message,
                   const QJsonObject& data = {});
    QJsonObject withTime(QJsonObject object, const Reading& reading) const;
    void checkOutput();

    Request request_;
    AxisDrive drive_;
    QTextStream& err_;
    InputLines input_;
    OutputLines output_;
    QElapsedTimer clock_;
    std::optional<Waiting> motion_;
    std::vector<Waiting> waiting_;
    bool subscribed_ = false;
    uint64_t dropped_ = 0;
    bool motionsBegun_ = false;
    bool leaving_ = false;
    int leavingStatus_ = 0;
    int interruptions_ = 0;
    std::optional<Waiting> closing_;
    bool ended_ = false;
    bool outputFailed_ = false;
    int outputError_ = 0;
    int exitStatus_ = ExitStatus::Done;
};

} // namespace kvx::ctl
