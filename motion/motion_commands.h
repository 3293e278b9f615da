// What the panel's motion commands do to the motion request state, apart
// from any window: the position entry and the flags of the held and latched
// commands. The window calls these from its event handlers.
#pragma once

#include "motion_state.h"

#include <QString>
#include <optional>

namespace kvx {

// The outcome of reading the position box: its new text and the target in
// motor steps.
struct PositionEntry {
    QString text;          // "########0.00"
    double targetPosition; // steps, to 15 significant digits of the entry
};

// Reads the box's leading number, rewrites it in general form, reads that
// back and multiplies it by the ratio. Empty when the entry lies beyond the
// double range or the target is more than a command frame can carry: the
// panel then changes nothing.
std::optional<PositionEntry> readPositionEntry(const QString& text, double demultiplication);

// Tells the operator an entry was refused and which positions, in the
// operator's units, the controller can be sent.
QString positionOutOfRangeMessage(double demultiplication);

// Held commands: set on the press, cleared on the release.
void pressStop(MotionState& state); // also ends jog mode; the jog slider returns to 0
void releaseStop(MotionState& state);
void pressZero(MotionState& state);
void releaseZero(MotionState& state);
void holdGo(MotionState& state);
void releaseGo(MotionState& state);
void holdRelative(MotionState& state);
void releaseRelative(MotionState& state);

// Latched modes.
void selectPositionMode(MotionState& state); // a finished click of a move button
void selectJogMode(MotionState& state);      // a click on the jog slider

} // namespace kvx
