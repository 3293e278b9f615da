#include "serve_session.h"

#include "ctl_output.h"
#include "number_text.h"
#include "serve_params.h"
#include "status_words.h"

namespace kvx::ctl {
namespace {

QString endingName(MotionEnding ending)
{
    switch (ending) {
    case MotionEnding::Limit: return QStringLiteral("limit");
    case MotionEnding::Preempted: return QStringLiteral("preempted");
    default: return QStringLiteral("stopped");
    }
}

} // namespace

ServeSession::ServeSession(UsbLink& link, Request request, QTextStream& err)
    : request_(std::move(request)), drive_(link, request_.settings), err_(err), input_(MaxMessageBytes)
{
    connect(&drive_, &AxisDrive::exchanged, this, &ServeSession::onExchanged);
    connect(&drive_, &AxisDrive::motionEnded, this, &ServeSession::onMotionEnded);
    connect(&drive_, &AxisDrive::linkFailed, this, &ServeSession::onLinkFailed);
}

bool ServeSession::start()
{
    QString failure;
    if (!drive_.list(failure)) {
        err_ << failure << '\n';
        end(ExitStatus::LinkFailure);
        return false;
    }
    const OpenResult opened = drive_.open(request_.device);
    if (opened.status != ExitStatus::Done) {
        err_ << (opened.panelMessage ? QString() : QStringLiteral("kvx340ctl: ")) << opened.message << '\n';
        end(opened.status);
        return false;
    }
    clock_.start();
    output_.start();
    QJsonObject params{{QStringLiteral("number"), int(opened.device)},
                       {QStringLiteral("product"), drive_.products()[int(opened.device)]},
                       {QStringLiteral("ratio"), drive_.settings().demultiplication},
                       {QStringLiteral("settings"), settingsObject(drive_.settings())}};
    // Before the first exchange: exchange 0.
    params.insert(QStringLiteral("time"), wallClockSeconds());
    params.insert(QStringLiteral("exchange"), 0);
    output_.write(rpcNotification(QStringLiteral("opened"), params));
    // Requests are taken as they come, between exchanges: a status is
    // answered by the very next one.
    input_.start(this, [this] {
        if (!leaving_ && !ended_)
            takeInput();
    });
    drive_.start();
    return !ended_;
}

QJsonObject ServeSession::withTime(QJsonObject object, const Reading& reading) const
{
    object.insert(QStringLiteral("time"), reading.time);
    object.insert(QStringLiteral("exchange"), static_cast<double>(reading.exchange));
    return object;
}

void ServeSession::send(const QJsonValue& id, bool answered, const QJsonObject& result)
{
    if (answered)
        output_.write(rpcResult(id, result));
}

void ServeSession::sendError(const QJsonValue& id, bool answered, int code, const QString& message,
                             const QJsonObject& data)
{
    if (answered)
        output_.write(rpcError(id, code, message, data));
}

bool ServeSession::mayBeMoving() const { return motionsBegun_ || isBusy(drive_.reading()); }

void ServeSession::onExchanged(const Reading& reading)
{
    if (ended_)
        return;
    answerWaiting(reading);
    if (subscribed_) {
        QJsonObject params = withTime(readingObject(reading), reading);
        if (dropped_ > 0)
            params.insert(QStringLiteral("dropped"), static_cast<double>(dropped_));
        if (output_.offerReading(rpcNotification(QStringLiteral("reading"), params)))
            dropped_ = 0;
        else
            ++dropped_;
    }
    checkOutput();
}

// status is answered by the first exchange after it; wait-idle by the first
// idle one, or by its time-out after a STOP.
void ServeSession::answerWaiting(const Reading& reading)
{
    std::vector<Waiting> still;
    std::vector<Waiting> timedOut;
    for (Waiting& w : waiting_) {
        if (reading.exchange <= w.fromExchange) {
            still.push_back(w);
        } else if (w.method == ServeMethod::Status) {
            send(w.id, w.answered, withTime(statusObject(reading), reading));
        } else if (!isBusy(reading)) {
            send(w.id, w.answered, withTime(commandObject("wait-idle", reading, nullptr), reading));
        } else if (w.step.timeout >= 0 && clock_.elapsed() - w.sinceMs >= qint64(w.step.timeout * 1000)) {
            timedOut.push_back(w);
        } else {
            still.push_back(w);
        }
    }
    waiting_ = std::move(still);
    for (const Waiting& w : timedOut)
        stopThen([this, w] {
            const Reading& last = drive_.reading();
            sendError(w.id, w.answered, ExitStatus::TimedOut,
                      QStringLiteral("wait-idle: timed out after %1 s; STOP sent").arg(w.step.timeout),
                      withTime(readingObject(last), last));
        });
}

void ServeSession::stopThen(std::function<void()> done)
{
    motionsBegun_ = true;
    drive_.holdStopThen(std::move(done), true);
}

void ServeSession::onMotionEnded(const MotionOutcome& outcome)
{
    if (!motion_)
        return;
    const Waiting w = *motion_;
    motion_.reset();
    const Reading& reading = outcome.reading;
    QJsonObject data = withTime(readingObject(reading), reading);
    const MoveOutcome move{outcome.targetUnits, outcome.result == MotionResult::Done, outcome.waited};
    switch (outcome.result) {
    case MotionResult::Done: {
        QJsonObject result = outcome.command == Command::Home
                                 ? homeObject(reading, outcome.left, outcome.foundUnits)
                                 : commandObject(commandName(outcome.command), reading,
                                                 outcome.command == Command::Move ? &move : nullptr);
        if (outcome.running)
            result.insert(QStringLiteral("running"), true);
        send(w.id, w.answered, withTime(result, reading));
        return;
    }
    case MotionResult::NotReached:
        data.insert(QStringLiteral("ended"), endingName(outcome.ending));
        if (outcome.command == Command::Move)
            data.insert(QStringLiteral("target"), formatPosition(outcome.targetUnits).toDouble());
        sendError(w.id, w.answered, ExitStatus::TargetMissed, outcome.message, data);
        return;
    case MotionResult::TimedOut:
    case MotionResult::HomingFailed:
        if (outcome.command == Command::Home) {
            data.insert(QStringLiteral("originSet"), outcome.originSet);
            if (outcome.originSet)
                data.insert(QStringLiteral("found"), formatPosition(outcome.foundUnits).toDouble());
        }
        sendError(w.id, w.answered,
                  outcome.result == MotionResult::TimedOut ? ExitStatus::TimedOut : ExitStatus::HomingFailed,
                  outcome.message, data);
        return;
    case MotionResult::Running:
        return;
    }
}

// One try at STOP and one at the close, then everything pending hears why.
void ServeSession::onLinkFailed(const QString& message)
{
    drive_.abandon();
    err_ << message << '\n';
    err_.flush();
    const Reading& last = drive_.reading();
    const QJsonObject data = withTime(readingObject(last), last);
    std::vector<Waiting> pending = std::move(waiting_);
    waiting_.clear();
    if (motion_)
        pending.push_back(*motion_);
    if (closing_)
        pending.push_back(*closing_);
    motion_.reset();
    closing_.reset();
    for (const Waiting& w : pending)
        sendError(w.id, w.answered, ExitStatus::LinkFailure, message, data);
    end(ExitStatus::LinkFailure);
}

void ServeSession::takeInput()
{
    bool inputEnded = false;
    const std::vector<InputLine> lines = input_.take(inputEnded);
    for (const InputLine& line : lines) {
        if (leaving_ || ended_)
            return;
        handle(line);
    }
    // The script ended, was killed, or closed the pipe.
    if (inputEnded && !leaving_ && !ended_)
        leave(ExitStatus::Done);
}

void ServeSession::handle(const InputLine& line)
{
    if (line.tooLong) {
        const RpcRefusal refusal = tooLongRefusal();
        output_.write(rpcError(refusal.id, refusal.code, refusal.message));
        return;
    }
    if (line.text.trimmed().isEmpty())
        return;
    const RpcRead read = readRpcLine(line.text);
    if (read.call)
        call(*read.call);
    else if (read.refusal.code != 0)
        output_.write(rpcError(read.refusal.id, read.refusal.code, read.refusal.message));
}

void ServeSession::call(const RpcCall& c)
{
    const bool answered = !c.notification;
    const Reading& last = drive_.reading();
    const ServeMethod method = serveMethod(c.method);
    const auto invalid = [&](const QString& refusal) {
        sendError(c.id, answered, RpcCode::InvalidParams, refusal);
    };
    Waiting w{c.id, answered, method, {}, drive_.exchanges(), clock_.elapsed()};
    switch (method) {
    case ServeMethod::Unknown:
        sendError(c.id, answered, RpcCode::MethodNotFound, QStringLiteral("Method not found: %1").arg(c.method));
        return;
    case ServeMethod::Status:
    case ServeMethod::WaitIdle: {
        const QString refusal = readServeStep(c.method, c.params, drive_.settings(), w.step);
        if (!refusal.isEmpty())
            return invalid(refusal);
        waiting_.push_back(w);
        return;
    }
    case ServeMethod::Motion: {
        const QString refusal = readServeStep(c.method, c.params, drive_.settings(), w.step);
        if (!refusal.isEmpty())
            return invalid(refusal);
        motionsBegun_ = true;
        // The motion under way ends first, and is answered first.
        drive_.begin(w.step);
        motion_ = w;
        return;
    }
    case ServeMethod::Set: {
        Settings settings = drive_.settings();
        const QString refusal = readServeSet(c.params, settings);
        if (!refusal.isEmpty())
            return invalid(refusal);
        drive_.setSliders(settings.sliders);
        send(c.id, answered, withTime({{QStringLiteral("settings"), settingsObject(drive_.settings())}}, last));
        return;
    }
    case ServeMethod::Subscribe:
    case ServeMethod::Unsubscribe: {
        const QString refusal = refuseParameters(c.method, c.params);
        if (!refusal.isEmpty())
            return invalid(refusal);
        subscribed_ = method == ServeMethod::Subscribe;
        dropped_ = 0;
        send(c.id, answered, withTime({{QStringLiteral("subscribed"), subscribed_}}, last));
        return;
    }
    case ServeMethod::Close: {
        const QString refusal = refuseParameters(c.method, c.params);
        if (!refusal.isEmpty())
            return invalid(refusal);
        closing_ = w;
        leave(ExitStatus::Done);
        return;
    }
    }
}

// Every way out but a failed link: STOP held until idle (2 s at most)
// while the axis may be moving, then the close.
void ServeSession::leave(int status)
{
    if (leaving_ || ended_)
        return;
    leaving_ = true;
    leavingStatus_ = status;
    if (mayBeMoving() || drive_.holdingStop())
        stopThen([this] { closeAndEnd(leavingStatus_); });
    else
        closeAndEnd(status);
}

void ServeSession::interrupt(int exitStatus)
{
    if (ended_)
        return;
    if (!drive_.isOpen()) {
        end(exitStatus);
        return;
    }
    ++interruptions_;
    const bool holding = leaving_ || drive_.holdingStop();
    if (!leaving_)
        leave(exitStatus);
    else if (interruptions_ == 1)
        leavingStatus_ = exitStatus;
    if (holding && interruptions_ >= 2)
        drive_.hurry();
}

void ServeSession::closeAndEnd(int status)
{
    drive_.close();
    const Reading& last = drive_.reading();
    for (const Waiting& w : waiting_)
        sendError(w.id, w.answered, ExitStatus::TargetMissed,
                  QStringLiteral("wait-idle: the session closed before the axis was idle"),
                  withTime(readingObject(last), last));
    waiting_.clear();
    if (closing_) {
        QJsonObject result = withTime(readingObject(last), last);
        result.insert(QStringLiteral("closed"), true);
        send(closing_->id, closing_->answered, result);
        closing_.reset();
    }
    end(status);
}

void ServeSession::checkOutput()
{
    int error = 0;
    if (outputFailed_ || !output_.failed(error))
        return;
    outputFailed_ = true;
    outputError_ = error;
    leave(ExitStatus::OutputFailed);
}

void ServeSession::end(int status)
{
    if (ended_)
        return;
    ended_ = true;
    // What is still queued goes out if the reader takes it; a reader that
    // stopped reading does not hold the program.
    output_.drain(1000);
    int error = 0;
    if (!outputFailed_ && output_.failed(error)) {
        outputFailed_ = true;
        outputError_ = error;
    }
    if (outputFailed_ && status == ExitStatus::Done)
        status = ExitStatus::OutputFailed;
    exitStatus_ = status;
    err_.flush();
    emit finished(status);
}

} // namespace kvx::ctl
