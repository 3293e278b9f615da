#include "ctl_session.h"

#include "controller_choice.h"
#include "device_list.h"
#include "exchange.h"
#include "frames.h"
#include "motion_commands.h"
#include "status_words.h"
#include "usbxpress.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace kvx::ctl {
namespace {

// GO, R and ZERO are held for this many exchanges, as a short mouse press.
constexpr int HeldTicks = 3;
// A move has reached its target when the axis stands within a step of it.
constexpr int64_t ReachedWithinSteps = 1;

bool isBusy(const Reading& reading) { return isAlert(reading.alerts, StatusElement::Busy); }

const char* commandName(Command command)
{
    switch (command) {
    case Command::Move: return "move";
    case Command::Jog: return "jog";
    case Command::Stop: return "stop";
    case Command::WaitIdle: return "wait-idle";
    case Command::Home: return "home";
    default: return "command";
    }
}

} // namespace

Session::Session(UsbLink& link, Request request, QTextStream& out, QTextStream& err)
    : link_(link), request_(std::move(request)), out_(out), err_(err)
{
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(ExchangePeriodMs);
    connect(&timer_, &QTimer::timeout, this, &Session::tick);
    const Settings& settings = request_.settings;
    sliders_ = settings.sliders;
    sliders_.Slider1 = 0;
    state_.Demultiplication = settings.demultiplication;
    state_.ReverseMotorFlag = settings.reverseMotor ? OptionBit::ReverseMotor : 0;
    state_.ReverseLimitFlag = settings.reverseLimit ? OptionBit::ReverseLimit : 0;
    state_.LimitActiveHighFlag = settings.limitActiveHigh ? OptionBit::LimitActiveHigh : 0;
}

bool Session::start()
{
    try {
        const DeviceListing listing = listDevices(link_, state_);
        if (!listing.counted) {
            printPanelMessage(noDeviceMessage());
            end(ExitStatus::LinkFailure);
            return false;
        }
        products_ = listing.entries;
        if (!request_.sequence && step().command == Command::List) {
            print(listText(products_, request_.json));
            end(ExitStatus::Done);
            return false;
        }
        if (!openChosen())
            return false;
    } catch (const LinkUnavailable& missing) {
        printPanelMessage(QString::fromStdString(missing.what()));
        end(ExitStatus::LinkFailure);
        return false;
    }
    open_ = true;
    // From the panel's activation on, every frame enables the drive.
    state_.EnableFlag = CommandBit::Enable;
    beginStep();
    if (ended_)
        return false;
    tick();
    if (ended_)
        return false;
    timer_.start();
    return true;
}

bool Session::openChosen()
{
    const ControllerChoice choice = chooseController(products_, request_.device);
    if (!choice.device) {
        printError(choice.error);
        end(ExitStatus::NoController);
        return false;
    }
    const uint32_t device = *choice.device;
    if (openDevice(link_, state_, device))
        return true;
    // Another program holds it: nothing to reset, so not the panel's advice.
    if (state_.LinkStatus == SiStatus::DeviceBusy) {
        printError(QStringLiteral("controller %1 (%2) is in use by another program; end that program first")
                       .arg(device).arg(products_[int(device)]));
        end(ExitStatus::ControllerInUse);
        return false;
    }
    printPanelMessage(openFailureMessage(products_[int(device)]));
    end(ExitStatus::LinkFailure);
    return false;
}

void Session::beginStep()
{
    phase_ = Phase::Held;
    phaseTicks_ = 0;
    stepClock_.start();
    const Step& current = step();
    switch (current.command) {
    case Command::List:
        print(listText(products_, request_.json));
        nextStep();
        return;
    case Command::Move:
        // The position entry, then the press of GO or R.
        targetPosition_ = current.targetPosition;
        current.relative ? holdRelative(state_) : holdGo(state_);
        return;
    case Command::Zero:
        pressZero(state_);
        return;
    case Command::Stop:
        pressStopNow();
        phase_ = Phase::Stopping;
        return;
    case Command::Jog:
        // The slider dragged to the speed, then its click.
        sliders_.Slider1 = current.jogSpeed;
        selectJogMode(state_);
        return;
    case Command::Home:
        sliders_.Slider1 = current.side == HomeSide::Left ? -current.jogSpeed : current.jogSpeed;
        selectJogMode(state_);
        homeLeaving_ = false;
        phase_ = Phase::Seeking;
        return;
    case Command::Watch: {
        WatchFormat format = current.format;
        if (format == WatchFormat::Text && request_.json)
            format = WatchFormat::Jsonl;
        request_.steps[stepIndex_].format = format;
        print(watchHeader(format));
        return;
    }
    case Command::Status:
    case Command::Wait:
    case Command::WaitIdle:
    case Command::Doctor:
        return;
    }
}

void Session::nextStep()
{
    if (ended_ || phase_ == Phase::Interrupted)
        return;
    if (++stepIndex_ >= request_.steps.size()) {
        closeAndEnd(exitStatus_);
        return;
    }
    beginStep();
}

void Session::pressStopNow()
{
    pressStop(state_);
    // STOP returns the jog slider to its middle.
    sliders_.Slider1 = 0;
}

bool Session::axisMayBeMoving() const
{
    return request_.sequence || movesTheAxis(step().command);
}

void Session::tick()
{
    if (ended_)
        return;
    const qint64 sinceStart = stepClock_.elapsed();
    const TickResult result = runExchange(state_, sliders_, targetPosition_, link_);
    if (result.failed) {
        abandonAfterLinkFailure(result.failureMessage);
        return;
    }
    ++phaseTicks_;
    const Reading reading{decodeStatusFrame(state_.FrameBuffer.data()).MotorPosition, state_.Demultiplication,
                          result.display.alerts};
    if (phase_ == Phase::Interrupted) {
        if (!isBusy(reading) || interruptClock_.elapsed() >= InterruptStopMs)
            closeAndEnd(interruptStatus_);
        return;
    }
    if (checkTimeout())
        return;
    if (step().command == Command::Watch) {
        print(watchLine(step().format, sinceStart, reading));
        if (step().seconds >= 0 && stepClock_.elapsed() >= qint64(step().seconds * 1000))
            nextStep();
        return;
    }
    advance(reading);
}

bool Session::checkTimeout()
{
    double timeout = step().timeout;
    if (timeout < 0 && step().command == Command::Home)
        timeout = DefaultHomeTimeout;
    if (timeout < 0 || stepClock_.elapsed() < qint64(timeout * 1000))
        return false;
    const char* name = commandName(step().command);
    if (step().command == Command::Home) {
        printError(QStringLiteral("home: no switch found within %1 s; STOP sent").arg(timeout));
        stopAndEnd(ExitStatus::HomingFailed);
    } else {
        printError(QStringLiteral("%1: timed out after %2 s; STOP sent").arg(QLatin1String(name)).arg(timeout));
        stopAndEnd(ExitStatus::TimedOut);
    }
    return true;
}

void Session::advance(const Reading& reading)
{
    switch (step().command) {
    case Command::Status:
        print(statusText(reading, request_.json));
        nextStep();
        return;
    case Command::Wait:
        if (stepClock_.elapsed() >= qint64(step().seconds * 1000))
            nextStep();
        return;
    case Command::WaitIdle:
        if (!isBusy(reading)) {
            print(commandText("wait-idle", reading, nullptr, request_.json));
            nextStep();
        }
        return;
    case Command::Zero:
        if (phase_ == Phase::Held && phaseTicks_ == HeldTicks) {
            releaseZero(state_);
            phase_ = Phase::Released;
        } else if (phase_ == Phase::Released) {
            print(commandText("zero", reading, nullptr, request_.json));
            nextStep();
        }
        return;
    case Command::Jog:
        if (phase_ == Phase::Held && stepClock_.elapsed() >= qint64(step().seconds * 1000)) {
            pressStopNow();
            phase_ = Phase::Stopping;
            return;
        }
        advanceStop(reading, "jog");
        return;
    case Command::Stop:
        advanceStop(reading, "stop");
        return;
    case Command::Move:
        advanceMove(reading);
        return;
    case Command::Home:
        advanceHome(reading);
        return;
    default:
        return;
    }
}

void Session::advanceStop(const Reading& reading, const char* command)
{
    if (phase_ == Phase::Stopping && !isBusy(reading)) {
        releaseStop(state_);
        phase_ = Phase::StopReleased;
    } else if (phase_ == Phase::StopReleased) {
        print(commandText(command, reading, nullptr, request_.json));
        nextStep();
    }
}

void Session::advanceMove(const Reading& reading)
{
    const Step& move = step();
    if (phase_ == Phase::Held) {
        if (phaseTicks_ == 1) {
            moveStartSteps_ = reading.steps;
            const int64_t sent = frameablePosition(move.targetPosition).value_or(0);
            moveTargetSteps_ = move.relative ? moveStartSteps_ + sent : sent;
        }
        if (phaseTicks_ == HeldTicks) {
            // The release, then the finished click.
            move.relative ? releaseRelative(state_) : releaseGo(state_);
            selectPositionMode(state_);
            phase_ = Phase::Released;
        }
        return;
    }
    MoveOutcome outcome;
    outcome.targetUnits = static_cast<double>(moveTargetSteps_) / state_.Demultiplication;
    if (move.noWait) {
        outcome.waited = false;
        print(commandText("move", reading, &outcome, request_.json));
        nextStep();
        return;
    }
    if (isBusy(reading))
        return;
    outcome.reached = std::llabs(reading.steps - moveTargetSteps_) <= ReachedWithinSteps;
    print(commandText("move", reading, &outcome, request_.json));
    if (!outcome.reached) {
        closeAndEnd(ExitStatus::TargetMissed);
        return;
    }
    nextStep();
}

// Seek the switch, STOP, leave it slowly, STOP where it clears, ZERO there.
void Session::advanceHome(const Reading& reading)
{
    const bool left = step().side == HomeSide::Left;
    const bool onSwitch = isAlert(reading.alerts, left ? StatusElement::LeftLimit : StatusElement::RightLimit);
    const bool onOpposite = isAlert(reading.alerts, left ? StatusElement::RightLimit : StatusElement::LeftLimit);
    if (onOpposite && (phase_ == Phase::Seeking || phase_ == Phase::Leaving)) {
        printError(QStringLiteral("home: met the %1 switch instead; STOP sent")
                       .arg(left ? QStringLiteral("right") : QStringLiteral("left")));
        stopAndEnd(ExitStatus::HomingFailed);
        return;
    }
    switch (phase_) {
    case Phase::Seeking:
        if (onSwitch) {
            pressStopNow();
            phase_ = Phase::Stopping;
        }
        return;
    case Phase::Leaving:
        if (!onSwitch) {
            homeFoundUnits_ = reading.units();
            pressStopNow();
            phase_ = Phase::Stopping;
        }
        return;
    case Phase::Stopping:
        if (!isBusy(reading)) {
            releaseStop(state_);
            phase_ = Phase::StopReleased;
        }
        return;
    case Phase::StopReleased:
        if (!homeLeaving_) {
            homeLeaving_ = true;
            sliders_.Slider1 = left ? HomeLeaveSpeed : -HomeLeaveSpeed;
            selectJogMode(state_);
            phase_ = Phase::Leaving;
        } else {
            pressZero(state_);
            phase_ = Phase::Zeroing;
            phaseTicks_ = 0;
        }
        return;
    case Phase::Zeroing:
        if (phaseTicks_ == HeldTicks) {
            releaseZero(state_);
            phase_ = Phase::Released;
        }
        return;
    case Phase::Released:
        print(homeText(reading, left, homeFoundUnits_, request_.json));
        nextStep();
        return;
    default:
        return;
    }
}

void Session::interrupt(int exitStatus)
{
    if (ended_)
        return;
    if (!open_) {
        end(exitStatus);
        return;
    }
    if (phase_ == Phase::Interrupted) {
        closeAndEnd(interruptStatus_);
        return;
    }
    stopAndEnd(exitStatus);
}

// STOP held until idle (2 s at most) while the axis may be moving, then the
// close; the close at once otherwise.
void Session::stopAndEnd(int status)
{
    if (ended_ || phase_ == Phase::Interrupted)
        return;
    if (!axisMayBeMoving()) {
        closeAndEnd(status);
        return;
    }
    interruptStatus_ = status;
    phase_ = Phase::Interrupted;
    interruptClock_.start();
    stopInPlaceOfHeld();
}

// Held GO, R or ZERO come up as STOP goes down.
void Session::stopInPlaceOfHeld()
{
    releaseGo(state_);
    releaseRelative(state_);
    releaseZero(state_);
    pressStopNow();
}

// The panel ends here with its message and no close. A script has nobody
// watching: while the axis may be moving, one try at STOP and one at the
// close, whatever they return, then the panel's message.
void Session::abandonAfterLinkFailure(const QString& message)
{
    if (axisMayBeMoving()) {
        timer_.stop();
        stopInPlaceOfHeld();
        try {
            if (composeCommandFrame(state_, sliders_, targetPosition_)) {
                uint32_t written = 0;
                link_.SI_Write(state_.DeviceHandle, state_.FrameBuffer.data(), FrameSize, &written);
            }
            link_.SI_Close(state_.DeviceHandle);
        } catch (const LinkUnavailable&) {
            // Nothing more can be tried.
        }
        open_ = false;
    }
    printPanelMessage(message);
    end(ExitStatus::LinkFailure);
}

void Session::closeAndEnd(int status)
{
    if (ended_)
        return;
    timer_.stop();
    try {
        link_.SI_Close(state_.DeviceHandle);
    } catch (const LinkUnavailable&) {
        // The program ends regardless.
    }
    open_ = false;
    end(status);
}

void Session::end(int status)
{
    if (ended_)
        return;
    timer_.stop();
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
    if (open_)
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
