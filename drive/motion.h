// One motion of the axis (move, jog, stop, zero, home) as a sequence of the
// panel's own presses and releases, advanced by each status frame. Plain
// state and free functions: the drive runs them on its exchange, tests run
// them on readings of their own.
#pragma once

#include "drive_step.h"
#include "motion_state.h"
#include "reading.h"

#include <QString>

namespace kvx::ctl {

// GO, R and ZERO are held for this many exchanges, as a short mouse press.
inline constexpr int HeldTicks = 3;
// home leaves its switch at this speed (jog slider scale), so that the
// origin lies close to where the switch lets go.
inline constexpr int HomeLeaveSpeed = 300;

enum class MotionPhase { Held, Released, Stopping, StopReleased, Seeking, Leaving, Zeroing };

enum class MotionResult { Running, Done, NotReached, TimedOut, HomingFailed };

// Why a motion ended short of its goal.
enum class MotionEnding { None, Stopped, Limit, Preempted };

struct MotionOutcome {
    Command command = Command::Move;
    MotionResult result = MotionResult::Running;
    MotionEnding ending = MotionEnding::None;
    QString message;        // a failure in the command line's words
    bool stopFirst = false; // STOP is to be held until idle before the outcome stands
    Reading reading;
    double targetUnits = 0; // move
    bool waited = true;     // move: false with no-wait, once it has started
    bool running = false;   // jog without an end: under way
    bool left = true;       // home: which switch
    double foundUnits = 0;  // home: where the switch cleared
    bool originSet = false; // home: ZERO has been sent
};

struct Motion {
    Step step;
    MotionPhase phase = MotionPhase::Held;
    int phaseTicks = 0;
    qint64 startedMs = 0;
    int64_t targetSteps = 0;
    bool found = false;          // home: the switch was met
    bool leaving = false;        // home: jogging off the switch found
    bool oppositeActive = false; // home: the other switch, at the last reading
    bool firstReading = true;
    double foundUnits = 0;
};

// What a motion presses: the panel's flags, its sliders and its target.
struct AxisControls {
    MotionState& state;
    SliderValues& sliders;
    double& targetPosition;
};

// The jog slider's sign that drives toward the switch the panel shows on
// that side: Reverse Motor Direction turns the motor, Reverse Limit Switch
// swaps the lamps.
int homeDirection(HomeSide side, const MotionState& state);

// The first presses of the motion; they go out with the next frame.
Motion beginMotion(const Step& step, AxisControls controls, qint64 nowMs);

// Takes the reading of an exchange: the next presses, and the outcome once
// the motion has ended (Running until then). The reading is judged before
// the clock, so a motion already done is never timed out.
MotionOutcome advanceMotion(Motion& motion, AxisControls controls, const Reading& reading, qint64 nowMs);

// STOP pressed, the jog slider back to its middle.
void pressStopNow(AxisControls controls);

// Held GO, R or ZERO come up as STOP goes down: a way out.
void pressStopInPlaceOfHeld(AxisControls controls);

// Every held button comes up: a motion ended before its releases.
void releaseHeld(AxisControls controls);

} // namespace kvx::ctl

namespace kvx::ctl {

// The outcome of a motion ended by another one (or by stop) before its own
// end: not reached, with the reason.
MotionOutcome endedByAnother(const Motion& motion, MotionEnding why, const Reading& reading,
                             double demultiplication);

} // namespace kvx::ctl
