#include "ctl_session.h"

#include "device_list.h"
#include "exchange.h"
#include "frames.h"
#include "motion_commands.h"
#include "status_words.h"

#include <cmath>
#include <cstdlib>

namespace kvx::ctl {
namespace {

// GO, R and ZERO are held for this many exchanges, as a short mouse press.
constexpr int HeldTicks = 3;
// A move has reached its target when the axis stands within a step of it.
constexpr int64_t ReachedWithinSteps = 1;

bool isBusy(const Reading& reading) { return isAlert(reading.alerts, StatusElement::Busy); }

bool isNumber(const QString& text)
{
    bool ok = false;
    text.toUInt(&ok);
    return ok && !text.startsWith(QLatin1Char('+'));
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
        uint32_t device = 0;
        if (!chooseController(products_, device)) {
            end(ExitStatus::NoController);
            return false;
        }
        if (!openDevice(link_, state_, device)) {
            printPanelMessage(openFailureMessage(products_[int(device)]));
            end(ExitStatus::LinkFailure);
            return false;
        }
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

bool Session::chooseController(const QStringList& products, uint32_t& device)
{
    const QString& wanted = request_.device;
    if (products.isEmpty()) {
        printError(QStringLiteral("no controller attached"));
        return false;
    }
    if (wanted.isEmpty()) {
        if (products.size() == 1)
            return true;
        printError(QStringLiteral("several controllers attached; choose one with -d:\n") +
                   listText(products, false).trimmed());
        return false;
    }
    if (isNumber(wanted)) {
        device = wanted.toUInt();
        if (device < uint32_t(products.size()))
            return true;
        printError(QStringLiteral("no controller number %1").arg(wanted));
        return false;
    }
    const qsizetype found = products.indexOf(wanted);
    if (found < 0) {
        printError(QStringLiteral("no controller \"%1\"").arg(wanted));
        return false;
    }
    device = uint32_t(found);
    return true;
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
        return;
    }
}

void Session::nextStep()
{
    if (ended_)
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

void Session::tick()
{
    if (ended_)
        return;
    const qint64 sinceStart = stepClock_.elapsed();
    const TickResult result = runExchange(state_, sliders_, targetPosition_, link_);
    if (result.failed) {
        // As the panel: the message, and no close.
        printPanelMessage(result.failureMessage);
        end(ExitStatus::LinkFailure);
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
    if (step().command == Command::Watch) {
        print(watchLine(step().format, sinceStart, reading));
        if (step().seconds >= 0 && stepClock_.elapsed() >= qint64(step().seconds * 1000))
            nextStep();
        return;
    }
    advance(reading);
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

void Session::interrupt(int exitStatus)
{
    if (ended_)
        return;
    if (!open_) {
        end(exitStatus);
        return;
    }
    const bool moving = request_.sequence || step().command == Command::Move || step().command == Command::Jog;
    if (phase_ == Phase::Interrupted || !moving) {
        closeAndEnd(phase_ == Phase::Interrupted ? interruptStatus_ : exitStatus);
        return;
    }
    interruptStatus_ = exitStatus;
    phase_ = Phase::Interrupted;
    interruptClock_.start();
    // Held GO, R or ZERO come up as STOP goes down.
    releaseGo(state_);
    releaseRelative(state_);
    releaseZero(state_);
    pressStopNow();
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
    exitStatus_ = status;
    out_.flush();
    err_.flush();
    emit finished(status);
}

void Session::print(const QString& text)
{
    if (text.isEmpty())
        return;
    out_ << text;
    out_.flush();
}

// The panel's own messages, word for word, for scripts that look for them.
void Session::printPanelMessage(const QString& text)
{
    err_ << text << QLatin1Char('\n');
    err_.flush();
}

void Session::printError(const QString& text)
{
    err_ << QStringLiteral("kvx340ctl: ") << text << QLatin1Char('\n');
    err_.flush();
}

} // namespace kvx::ctl
