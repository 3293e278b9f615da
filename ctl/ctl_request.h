// What kvx340ctl is asked to do, once its command line, settings file and
// run file have been read and checked: nothing here can be out of range.
#pragma once

#include "exchange.h"

#include <QString>
#include <vector>

namespace kvx::ctl {

enum class Command { List, Status, Move, Jog, Stop, Zero, Watch, Wait, WaitIdle, Home, Doctor };

enum class WatchFormat { Text, Csv, Jsonl };

// Which limit switch `home` looks for: left is the panel's left lamp, met
// jogging toward negative positions (the jog slider to the left).
enum class HomeSide { Left, Right };

// The longest span any command accepts, in seconds: a week. Anything longer
// is a typing error, and a time-out of a week is no time-out at all.
inline constexpr double MaxSeconds = 604800;

// home gives up after this long unless told otherwise: from one end of a
// long axis to the other at a moderate speed.
inline constexpr double DefaultHomeTimeout = 300;

// One command of a session: the command line's, or one line of a run file.
struct Step {
    Command command = Command::Status;
    // move: the position or distance as typed, and its target in steps.
    QString positionText;
    double targetPosition = 0;
    bool relative = false;
    bool noWait = false;
    int jogSpeed = 0;     // jog: the jog slider's value; home: the seek speed
    double seconds = -1;  // jog, wait, watch: how long; watch: below 0 until interrupted
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

struct Request {
    bool simulator = false;
    bool json = false;
    QString device; // empty: the only one attached
    Settings settings;
    std::vector<Step> steps;
    bool sequence = false; // from `run`: the steps share one open controller
};

// Whether a command sets the axis moving (or may find it moving and must
// leave it stopped): these send STOP on every way out.
bool movesTheAxis(Command command);

} // namespace kvx::ctl
