#include "motion.h"

#include "frames.h"
#include "motion_commands.h"
#include "number_text.h"
#include "status_words.h"

#include <cstdlib>

namespace kvx::ctl {
namespace {

// A move has reached its target when the axis stands within a step of it.
constexpr int64_t ReachedWithinSteps = 1;

bool onLeft(const Reading& reading) { return isAlert(reading.alerts, StatusElement::LeftLimit); }
bool onRight(const Reading& reading) { return isAlert(reading.alerts, StatusElement::RightLimit); }

QString sideName(HomeSide side) { return side == HomeSide::Left ? QStringLiteral("left") : QStringLiteral("right"); }

MotionOutcome ended(const Motion& motion, MotionResult result)
{
    MotionOutcome outcome;
    outcome.command = motion.step.command;
    outcome.result = result;
    outcome.left = motion.step.side == HomeSide::Left;
    outcome.foundUnits = motion.foundUnits;
    return outcome;
}

MotionOutcome failed(const Motion& motion, MotionResult result, const QString& message)
{
    MotionOutcome outcome = ended(motion, result);
    outcome.message = message;
    outcome.stopFirst = true;
    return outcome;
}

const MotionOutcome Running{};

MotionOutcome advanceMove(Motion& motion, AxisControls c, const Reading& reading)
{
    const Step& move = motion.step;
    if (motion.phase == MotionPhase::Held) {
        if (motion.phaseTicks == 1) {
            const int64_t sent = frameablePosition(move.targetPosition).value_or(0);
            motion.targetSteps = move.relative ? reading.steps + sent : sent;
        }
        if (motion.phaseTicks == HeldTicks) {
            // The release, then the finished click.
            move.relative ? releaseRelative(c.state) : releaseGo(c.state);
            selectPositionMode(c.state);
            motion.phase = MotionPhase::Released;
        }
        return Running;
    }
    const double targetUnits = static_cast<double>(motion.targetSteps) / c.state.Demultiplication;
    if (move.noWait) {
        MotionOutcome outcome = ended(motion, MotionResult::Done);
        outcome.waited = false;
        outcome.targetUnits = targetUnits;
        return outcome;
    }
    if (isBusy(reading))
        return Running;
    const bool reached = std::llabs(reading.steps - motion.targetSteps) <= ReachedWithinSteps;
    MotionOutcome outcome = ended(motion, reached ? MotionResult::Done : MotionResult::NotReached);
    outcome.targetUnits = targetUnits;
    if (!reached) {
        outcome.ending = onLeft(reading) || onRight(reading) ? MotionEnding::Limit : MotionEnding::Stopped;
        outcome.message = QStringLiteral("move: target %1 not reached (%2)")
                              .arg(formatPosition(targetUnits),
                                   outcome.ending == MotionEnding::Limit ? QStringLiteral("a limit switch")
                                                                         : QStringLiteral("stopped"));
    }
    return outcome;
}

// STOP held until idle, then released; the motion ends on the next reading.
MotionOutcome advanceStop(Motion& motion, AxisControls c, const Reading& reading)
{
    if (motion.phase == MotionPhase::Stopping && !isBusy(reading)) {
        releaseStop(c.state);
        motion.phase = MotionPhase::StopReleased;
    } else if (motion.phase == MotionPhase::StopReleased) {
        return ended(motion, MotionResult::Done);
    }
    return Running;
}

QString bothActiveMessage(const MotionState& state)
{
    QString text = QStringLiteral("home: both limit switches read active, so neither can be sought; STOP sent; ");
    if (state.LimitActiveHighFlag)
        return text + QStringLiteral("--limit-active-high is on: leave it off unless the switches read high when "
                                     "active");
    return text + QStringLiteral("if the switches read high when active, give --limit-active-high");
}

// Seek the switch, STOP, leave it slowly, STOP where it clears, ZERO there.
MotionOutcome advanceHome(Motion& motion, AxisControls c, const Reading& reading)
{
    const HomeSide side = motion.step.side;
    const bool left = side == HomeSide::Left;
    const bool onSwitch = left ? onLeft(reading) : onRight(reading);
    const bool onOpposite = left ? onRight(reading) : onLeft(reading);
    const bool oppositeBecameActive = onOpposite && !motion.oppositeActive;
    const bool first = motion.firstReading;
    motion.oppositeActive = onOpposite;
    motion.firstReading = false;
    if (first && onSwitch && onOpposite)
        return failed(motion, MotionResult::HomingFailed, bothActiveMessage(c.state));
    // A switch that was already active when the seek began is the one the
    // axis jogs away from; only one that becomes active is the wrong one.
    const bool seekingOrLeaving = motion.phase == MotionPhase::Seeking || motion.phase == MotionPhase::Leaving;
    if (!first && oppositeBecameActive && seekingOrLeaving)
        return failed(motion, MotionResult::HomingFailed,
                      QStringLiteral("home: met the %1 switch instead; STOP sent")
                          .arg(sideName(left ? HomeSide::Right : HomeSide::Left)));
    switch (motion.phase) {
    case MotionPhase::Seeking:
        if (onSwitch) {
            motion.found = true;
            pressStopNow(c);
            motion.phase = MotionPhase::Stopping;
        }
        break;
    case MotionPhase::Leaving:
        if (!onSwitch) {
            motion.foundUnits = reading.units();
            pressStopNow(c);
            motion.phase = MotionPhase::Stopping;
        }
        break;
    case MotionPhase::Stopping:
        if (!isBusy(reading)) {
            releaseStop(c.state);
            motion.phase = MotionPhase::StopReleased;
        }
        break;
    case MotionPhase::StopReleased:
        if (!motion.leaving) {
            motion.leaving = true;
            c.sliders.Slider1 = -homeDirection(side, c.state) * HomeLeaveSpeed;
            selectJogMode(c.state);
            motion.phase = MotionPhase::Leaving;
        } else {
            pressZero(c.state);
            motion.phase = MotionPhase::Zeroing;
            motion.phaseTicks = 0;
        }
        break;
    case MotionPhase::Zeroing:
        if (motion.phaseTicks == HeldTicks) {
            releaseZero(c.state);
            motion.phase = MotionPhase::Released;
        }
        break;
    case MotionPhase::Released: {
        MotionOutcome outcome = ended(motion, MotionResult::Done);
        outcome.originSet = true;
        return outcome;
    }
    default:
        break;
    }
    return Running;
}

MotionOutcome timedOut(const Motion& motion, double timeout)
{
    const Step& step = motion.step;
    if (step.command != Command::Home)
        return failed(motion, MotionResult::TimedOut,
                      QStringLiteral("%1: timed out after %2 s; STOP sent")
                          .arg(QLatin1String(commandName(step.command)))
                          .arg(timeout));
    const QString side = sideName(step.side);
    if (!motion.found)
        return failed(motion, MotionResult::HomingFailed,
                      QStringLiteral("home: no switch found within %1 s; STOP sent").arg(timeout));
    // ZERO is on the wire once an exchange has carried it.
    const bool zeroing = (motion.phase == MotionPhase::Zeroing && motion.phaseTicks >= 1)
                         || motion.phase == MotionPhase::Released;
    if (!zeroing)
        return failed(motion, MotionResult::TimedOut,
                      QStringLiteral("home: timed out after %1 s while %2 the %3 switch; STOP sent; the origin was "
                                     "not set")
                          .arg(timeout)
                          .arg(motion.leaving ? QStringLiteral("leaving") : QStringLiteral("stopping at"), side));
    MotionOutcome outcome = failed(
        motion, MotionResult::TimedOut,
        QStringLiteral("home: timed out after %1 s while zeroing; STOP sent; the origin was set where the %2 switch "
                       "cleared, at %3")
            .arg(timeout)
            .arg(side, formatPosition(motion.foundUnits)));
    outcome.originSet = true;
    return outcome;
}

// What is left is only the release of a button after the goal was met:
// the clock no longer counts.
bool goalMet(const Motion& motion)
{
    switch (motion.step.command) {
    case Command::Jog:
    case Command::Stop:
        return motion.phase == MotionPhase::StopReleased;
    case Command::Zero:
        return motion.phase == MotionPhase::Released;
    default:
        return false;
    }
}

} // namespace

bool isBusy(const Reading& reading) { return isAlert(reading.alerts, StatusElement::Busy); }

const char* commandName(Command command)
{
    switch (command) {
    case Command::List: return "list";
    case Command::Status: return "status";
    case Command::Move: return "move";
    case Command::Jog: return "jog";
    case Command::Stop: return "stop";
    case Command::Zero: return "zero";
    case Command::Watch: return "watch";
    case Command::Wait: return "wait";
    case Command::WaitIdle: return "wait-idle";
    case Command::Home: return "home";
    case Command::Doctor: return "doctor";
    case Command::Serve: return "serve";
    }
    return "command";
}

bool movesTheAxis(Command command)
{
    switch (command) {
    case Command::Move:
    case Command::Jog:
    case Command::Stop:
    case Command::WaitIdle:
    case Command::Home:
        return true;
    default:
        return false;
    }
}

bool isMotion(Command command)
{
    switch (command) {
    case Command::Move:
    case Command::Jog:
    case Command::Stop:
    case Command::Zero:
    case Command::Home:
        return true;
    default:
        return false;
    }
}

int homeDirection(HomeSide side, const MotionState& state)
{
    int direction = side == HomeSide::Left ? -1 : 1;
    if (state.ReverseMotorFlag)
        direction = -direction;
    if (state.ReverseLimitFlag)
        direction = -direction;
    return direction;
}

void pressStopNow(AxisControls c)
{
    pressStop(c.state);
    // STOP returns the jog slider to its middle.
    c.sliders.Slider1 = 0;
}

void pressStopInPlaceOfHeld(AxisControls c)
{
    releaseGo(c.state);
    releaseRelative(c.state);
    releaseZero(c.state);
    pressStopNow(c);
}

void releaseHeld(AxisControls c)
{
    releaseGo(c.state);
    releaseRelative(c.state);
    releaseZero(c.state);
    releaseStop(c.state);
}

Motion beginMotion(const Step& step, AxisControls c, qint64 nowMs)
{
    Motion motion;
    motion.step = step;
    motion.startedMs = nowMs;
    switch (step.command) {
    case Command::Move:
        // The position entry, then the press of GO or R.
        c.targetPosition = step.targetPosition;
        step.relative ? holdRelative(c.state) : holdGo(c.state);
        break;
    case Command::Zero:
        pressZero(c.state);
        break;
    case Command::Stop:
        pressStopNow(c);
        motion.phase = MotionPhase::Stopping;
        break;
    case Command::Jog:
        // The slider dragged to the speed, then its click.
        c.sliders.Slider1 = step.jogSpeed;
        selectJogMode(c.state);
        break;
    case Command::Home:
        c.sliders.Slider1 = homeDirection(step.side, c.state) * step.jogSpeed;
        selectJogMode(c.state);
        motion.phase = MotionPhase::Seeking;
        break;
    default:
        break;
    }
    return motion;
}

MotionOutcome advanceMotion(Motion& motion, AxisControls c, const Reading& reading, qint64 nowMs)
{
    ++motion.phaseTicks;
    MotionOutcome outcome;
    switch (motion.step.command) {
    case Command::Move:
        outcome = advanceMove(motion, c, reading);
        break;
    case Command::Jog:
        if (motion.phase == MotionPhase::Held && motion.step.seconds < 0) {
            outcome = ended(motion, MotionResult::Done);
            outcome.running = true;
        } else if (motion.phase == MotionPhase::Held) {
            if (nowMs - motion.startedMs >= qint64(motion.step.seconds * 1000)) {
                pressStopNow(c);
                motion.phase = MotionPhase::Stopping;
            }
        } else {
            outcome = advanceStop(motion, c, reading);
        }
        break;
    case Command::Stop:
        outcome = advanceStop(motion, c, reading);
        break;
    case Command::Zero:
        if (motion.phase == MotionPhase::Held && motion.phaseTicks == HeldTicks) {
            releaseZero(c.state);
            motion.phase = MotionPhase::Released;
        } else if (motion.phase == MotionPhase::Released) {
            outcome = ended(motion, MotionResult::Done);
        }
        break;
    case Command::Home:
        outcome = advanceHome(motion, c, reading);
        break;
    default:
        outcome = ended(motion, MotionResult::Done);
        break;
    }
    if (outcome.result == MotionResult::Running && !goalMet(motion)) {
        double timeout = motion.step.timeout;
        if (timeout < 0 && motion.step.command == Command::Home)
            timeout = DefaultHomeTimeout;
        if (timeout >= 0 && nowMs - motion.startedMs >= qint64(timeout * 1000))
            outcome = timedOut(motion, timeout);
    }
    outcome.reading = reading;
    return outcome;
}

} // namespace kvx::ctl

namespace kvx::ctl {

MotionOutcome endedByAnother(const Motion& motion, MotionEnding why, const Reading& reading, double demultiplication)
{
    MotionOutcome outcome = ended(motion, MotionResult::NotReached);
    outcome.ending = why;
    outcome.reading = reading;
    const QString reason = why == MotionEnding::Stopped ? QStringLiteral("stopped") : QStringLiteral("preempted");
    if (motion.step.command == Command::Move) {
        // Before its first reading the target is still the one asked for.
        const double steps = motion.phaseTicks > 0 ? static_cast<double>(motion.targetSteps) : motion.step.targetPosition;
        outcome.targetUnits = steps / demultiplication;
        outcome.message = QStringLiteral("move: target %1 not reached (%2)").arg(formatPosition(outcome.targetUnits), reason);
    } else {
        const QString text = why == MotionEnding::Stopped ? QStringLiteral("%1: stopped before its end")
                                                          : QStringLiteral("%1: ended by a newer motion");
        outcome.message = text.arg(QLatin1String(commandName(motion.step.command)));
    }
    return outcome;
}

} // namespace kvx::ctl
