// One thing asked of the axis: a motion, a wait or a reading. The command
// line, its run files and the serve session all ask in these terms, each
// value already read and checked, so nothing here can be out of range.
#pragma once

#include "exchange.h"

#include <QString>

namespace kvx::ctl {

enum class Command { List, Status, Move, Jog, Stop, Zero, Watch, Wait, WaitIdle, Home, Doctor, Serve };

enum class WatchFormat { Text, Csv, Jsonl };

// Which limit switch `home` looks for: left is the panel's left lamp,
// right the right one, whatever the drive options.
enum class HomeSide { Left, Right };

// The longest span any command accepts, in seconds: a week. Anything longer
// is a typing error, and a time-out of a week is no time-out at all.
inline constexpr double MaxSeconds = 604800;

// home gives up after this long unless told otherwise: from one end of a
// long axis to the other at a moderate speed.
inline constexpr double DefaultHomeTimeout = 300;

struct Step {
    Command command = Command::Status;
    // move: the position or distance as typed, and its target in steps.
    QString positionText;
    double targetPosition = 0;
    bool relative = false;
    bool noWait = false;
    int jogSpeed = 0;     // jog: the jog slider's value; home: the seek speed
    double seconds = -1;  // jog, wait, watch: how long; below 0: until told otherwise
    double timeout = -1;  // commands that wait for the axis: below 0 as long as it takes
    HomeSide side = HomeSide::Left;
    WatchFormat format = WatchFormat::Text;
    int line = 0;         // in a run file, counted from 1
};

// Every setting travels in every frame.
struct Settings {
    double demultiplication = 15;
    bool reverseMotor = false;
    bool reverseLimit = false;
    bool limitActiveHigh = false;
    SliderValues sliders; // Slider1 (jog) is set by the commands
};

// Whether a command sets the axis moving (or may find it moving and must
// leave it stopped): these send STOP on every way out.
bool movesTheAxis(Command command);

// move, jog, stop, zero and home: one at a time, each ending the one before.
bool isMotion(Command command);

} // namespace kvx::ctl
