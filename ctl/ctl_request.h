// What kvx340ctl is asked to do, once its command line, settings file and
// run file have been read and checked: nothing here can be out of range.
#pragma once

#include "exchange.h"

#include <QString>
#include <vector>

namespace kvx::ctl {

enum class Command { List, Status, Move, Jog, Stop, Zero, Watch, Wait };

enum class WatchFormat { Text, Csv, Jsonl };

// One command of a session: the command line's, or one line of a run file.
struct Step {
    Command command = Command::Status;
    // move: the position or distance as typed, and its target in steps.
    QString positionText;
    double targetPosition = 0;
    bool relative = false;
    bool noWait = false;
    int jogSpeed = 0;     // jog: the jog slider's value
    double seconds = -1;  // jog, wait, watch: how long; watch: below 0 until interrupted
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

} // namespace kvx::ctl
