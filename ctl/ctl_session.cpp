#include "ctl_session.h"

#include "status_words.h"

#include <cerrno>

namespace kvx::ctl {

Session::Session(UsbLink& link, Request request, QTextStream& out, QTextStream& err)
    : request_(std::move(request)), drive_(link, request_.settings), out_(out), err_(err)
{
    connect(&drive_, &AxisDrive::exchanged, this, &Session::onExchanged);
    connect(&drive_, &AxisDrive::motionEnded, this, &Session::onMotionEnded);
    connect(&drive_, &AxisDrive::linkFailed, this, &Session::onLinkFailed);
}

bool Session::start()
{
    QString failure;
    if (!drive_.list(failure)) {
        printPanelMessage(failure);
        end(ExitStatus::LinkFailure);
        return false;
    }
    if (!request_.sequence && step().command == Command::List) {
        print(listText(drive_.products(), request_.json));
        end(ExitStatus::Done);
        return false;
    }
    const OpenResult opened = drive_.open(request_.device);
    if (opened.status != ExitStatus::Done) {
        opened.panelMessage ? printPanelMessage(opened.message) : printError(opened.message);
        end(opened.status);
        return false;
    }
    beginStep();
    if (!ended_)
        drive_.start();
    return !ended_;
}

void Session::beginStep()
{
    stepClock_.start();
    stepFromExchange_ = drive_.exchanges();
    const Command command = step().command;
    if (command == Command::List) {
        print(listText(drive_.products(), request_.json));
        nextStep();
    } else if (command == Command::Watch) {
        Step& watch = request_.steps[stepIndex_];
        if (watch.format == WatchFormat::Text && request_.json)
            watch.format = WatchFormat::Jsonl;
        print(watchHeader(watch.format));
    } else if (isMotion(command)) {
        drive_.begin(step());
    }
}

void Session::nextStep()
{
    if (ended_ || ending_)
        return;
    if (++stepIndex_ >= request_.steps.size()) {
        closeAndEnd(exitStatus_);
        return;
    }
    beginStep();
}

bool Session::axisMayBeMoving() const
{
    return request_.sequence || (stepIndex_ < request_.steps.size() && movesTheAxis(step().command));
}

// What is not a motion reads the exchanges that follow its start.
void Session::onExchanged(const Reading& reading)
{
    if (ended_ || ending_ || reading.exchange <= stepFromExchange_ || isMotion(step().command))
        return;
    const qint64 elapsed = stepClock_.elapsed();
    const Step& current = step();
    switch (current.command) {
    case Command::Status:
        print(statusText(reading, request_.json));
        nextStep();
        return;
    case Command::Wait:
        if (elapsed >= qint64(current.seconds * 1000))
            nextStep();
        return;
    case Command::WaitIdle:
        if (!isBusy(reading)) {
            print(commandText("wait-idle", reading, nullptr, request_.json));
            nextStep();
        } else if (current.timeout >= 0 && elapsed >= qint64(current.timeout * 1000)) {
            printError(QStringLiteral("wait-idle: timed out after %1 s; STOP sent").arg(current.timeout));
            stopAndEnd(ExitStatus::TimedOut);
        }
        return;
    case Command::Watch:
        print(watchLine(current.format, elapsed, reading));
        if (current.seconds >= 0 && elapsed >= qint64(current.seconds * 1000))
            nextStep();
        return;
    default:
        return;
    }
}

void Session::onMotionEnded(const MotionOutcome& outcome)
{
    if (ended_)
        return;
    const Reading& reading = outcome.reading;
    const bool json = request_.json;
    MoveOutcome move{outcome.targetUnits, outcome.result == MotionResult::Done, outcome.waited};
    const char* name = commandName(outcome.command);
    const MoveOutcome* moved = outcome.command == Command::Move ? &move : nullptr;
    int status = ExitStatus::Done;
    switch (outcome.result) {
    case MotionResult::Done:
        if (outcome.command == Command::Home)
            print(homeText(reading, outcome.left, outcome.foundUnits, json));
        else
            print(commandText(name, reading, moved, json));
        break;
    case MotionResult::NotReached:
        print(commandText(name, reading, moved, json));
        status = ExitStatus::TargetMissed;
        break;
    case MotionResult::TimedOut:
    case MotionResult::HomingFailed:
        // ZERO went out: the origin has moved, and the script must know where.
        if (outcome.originSet)
            print(homeText(reading, outcome.left, outcome.foundUnits, json));
        printError(outcome.message);
        status = outcome.result == MotionResult::TimedOut ? ExitStatus::TimedOut : ExitStatus::HomingFailed;
        break;
    case MotionResult::Running:
        return;
    }
    if (status == ExitStatus::Done && !ending_) {
        nextStep();
        return;
    }
    // A way out that came meanwhile holds its own STOP, and closes after it.
    if (!drive_.holdingStop())
        closeAndEnd(ending_ ? endingStatus_ : status);
}

void Session::interrupt(int exitStatus)
{
    if (ended_)
        return;
    if (!drive_.isOpen()) {
        end(exitStatus);
        return;
    }
    ++interruptions_;
    if (ending_ || drive_.holdingStop()) {
        // The STOP under way goes on; the first signal says how the program
        // ends, and a second one may cut the wait for idle short.
        if (interruptions_ == 1)
            endingStatus_ = exitStatus;
        ending_ = true;
        if (interruptions_ >= 2)
            drive_.hurry();
        return;
    }
    stopAndEnd(exitStatus);
}

// STOP held until idle (2 s at most) while the axis may be moving, then the
// close; the close at once otherwise.
void Session::stopAndEnd(int status)
{
    if (ended_ || ending_)
        return;
    ending_ = true;
    endingStatus_ = status;
    if (!axisMayBeMoving()) {
        closeAndEnd(status);
        return;
    }
    drive_.holdStopThen([this] { closeAndEnd(endingStatus_); });
}

// The panel ends here with its message and no close. A script has nobody
// watching: while the axis may be moving, one try at STOP and one at the
// close, whatever they return, then the panel's message.
void Session::onLinkFailed(const QString& message)
{
    if (axisMayBeMoving())
        drive_.abandon();
    printPanelMessage(message);
    end(ExitStatus::LinkFailure);
}

void Session::closeAndEnd(int status)
{
    drive_.close();
    end(status);
}

void Session::end(int status)
{
    if (ended_)
        return;
    ended_ = true;
    if (outputFailed_ && status == ExitStatus::Done)
        status = ExitStatus::OutputFailed;
    exitStatus_ = status;
    out_.flush();
    err_.flush();
    emit finished(status);
}

// A write that fails ends the program as an interruption does: nobody reads
// what it says any more, so it must not go on moving the axis.
void Session::checkOutput(QTextStream& stream)
{
    const int error = errno;
    if (stream.status() == QTextStream::Ok || outputFailed_)
        return;
    outputFailed_ = true;
    outputError_ = error;
    if (drive_.isOpen())
        stopAndEnd(ExitStatus::OutputFailed);
}

void Session::print(const QString& text)
{
    if (text.isEmpty() || outputFailed_)
        return;
    out_ << text;
    out_.flush();
    checkOutput(out_);
}

// The panel's own messages, word for word, for scripts that look for them.
void Session::printPanelMessage(const QString& text)
{
    if (outputFailed_)
        return;
    err_ << text << QLatin1Char('\n');
    err_.flush();
    checkOutput(err_);
}

void Session::printError(const QString& text)
{
    if (outputFailed_)
        return;
    err_ << QStringLiteral("kvx340ctl: ") << text << QLatin1Char('\n');
    err_.flush();
    checkOutput(err_);
}

} // namespace kvx::ctl
