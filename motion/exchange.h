// One tick of the panel's timer: compose the command frame from the motion
// request state, write it, read the status frame and work out what the panel
// shows. The only code that talks to the controller once the panel is open.
#pragma once

#include "motion_state.h"
#include "usb_link.h"

#include <QString>

namespace kvx {

// Current values of the panel's five sliders, design values by default.
struct SliderValues {
    int Slider1 = 0;   // jog, -10000..10000
    int Slider2 = 180; // maximal speed, 0..255
    int Slider3 = 75;  // acceleration, 0..255
    int Slider4 = 160; // current amplitude, 0..255
    int Slider5 = 50;  // % of amplitude when idle, 0..100
};

// True where the status bit is set and the element takes its alert look.
struct IndicatorAlerts {
    bool Shape3 = false;   // left limit lamp: green / red
    bool Shape4 = false;   // right limit lamp: green / red
    bool Command6 = false; // "Reverse": button face / yellow
    bool Label3 = false;   // "Max Speed": button text / red
    bool Shape2 = false;   // busy lamp: button face / red
    bool Command3 = false; // "Act Hi": button face / yellow
};

struct PanelDisplay {
    QString Text1; // motor position in the operator's units
    QString Text3; // ideal position in steps, never shown
    IndicatorAlerts alerts;
};

struct TickResult {
    bool failed = false;
    QString failureMessage; // set when failed: show it, then end the program
    PanelDisplay display;   // set when not failed
};

// Composes the command frame into FrameBuffer[0..11]; toggles ToggleFlag and
// updates CommandByte and JogWord on the way. False when the target cannot
// be carried by the frame (the buffer is then left as it was).
bool composeCommandFrame(MotionState& state, const SliderValues& sliders, double targetPosition);

// Decodes the status frame held in FrameBuffer into what the panel shows,
// and updates DriveBusy.
PanelDisplay decodeStatusIntoDisplay(MotionState& state);

// The whole tick. A failed or short write or read, or a missing library
// function, comes back as a failure message.
TickResult runExchange(MotionState& state, const SliderValues& sliders, double targetPosition, UsbLink& link);

} // namespace kvx
