// One simulated stepper axis as the controller drives it: it takes command
// frames, follows a trapezoidal speed profile and reports status frames.
// Time only passes through advance(), so tests run it on their own clock.
// sim/README.md describes the machine in an operator's words.
#pragma once

#include "frames.h"

#include <cstdint>

namespace kvx::sim {

namespace AxisConstants {
// Byte 0 (MaxSpeed) times this is the top speed in steps per second:
// the design value 180 gives 1800 steps/s.
inline constexpr double StepsPerSecondPerSpeedUnit = 10.0;
// Byte 1 (Acceleration) times this is the ramp in steps per second squared:
// the design value 75 gives 7500 steps/s^2. 0 counts as 1, so a moving axis
// can always be brought to rest.
inline constexpr double StepsPerSecondSquaredPerUnit = 100.0;
// STOP brakes at least this firmly (the design ramp, Acceleration 75), so
// that a gentle ramp chosen for moves cannot make a stopped axis coast on.
inline constexpr double FirmestStopRamp = 75 * StepsPerSecondSquaredPerUnit;
// The limit switches stand this many steps either side of the position the
// axis had when the simulator started.
inline constexpr double TravelLimit = 150000.0;
// JogWord - JogCentre, over JogFullScale, is the jog speed as a share of
// the top speed (clipped to -1..1).
inline constexpr int JogCentre = 32767;
inline constexpr double JogFullScale = 10000.0;
// Longest integration step; long gaps use coarser steps, bounded in number.
inline constexpr double IntegrationStep = 0.001;
inline constexpr int MaxStepsPerAdvance = 100000;
} // namespace AxisConstants

class AxisModel {
public:
    // Everything the axis is, for keeping it while no program runs it.
    struct Snapshot {
        CommandFrame command;
        uint8_t previousCommandByte = 0;
        double position = 0.0;
        double velocity = 0.0;
        double travel = 0.0;
        bool movePending = false;
        int64_t moveTarget = 0;
        bool jogging = false;
        bool stopping = false;
    };
    Snapshot snapshot() const;
    void restore(const Snapshot& snapshot);

    // How the machine's switches are wired: active-low unless told so. The
    // wiring belongs to the machine, not to its state, so restore() keeps it.
    void setSwitchesActiveHigh(bool activeHigh) { switchesActiveHigh_ = activeHigh; }

    // Takes the frame as the controller's current command. A frame whose
    // constant bits are wrong is not acted on: false, and counted.
    bool apply(const CommandFrame& frame);

    // Lets the axis run for the given time under the current command.
    void advance(double seconds);

    StatusFrame status() const;

    double position() const { return position_; }  // profile, in steps
    double velocity() const { return velocity_; }  // steps per second
    double travel() const { return travel_; }      // from the centre of travel
    bool movePending() const { return movePending_; }
    bool jogging() const { return jogging_; }
    uint64_t rejectedFrames() const { return rejectedFrames_; }

    double topSpeed() const;
    double ramp() const;
    double stoppingRamp() const;

private:
    bool hasCommand(uint8_t bit) const { return (command_.CommandByte & bit) != 0; }
    bool hasOption(uint8_t bit) const { return (command_.OptionsByte & bit) != 0; }
    bool energised() const;
    bool wiringRefusesMotion() const;
    double jogSpeed() const;
    double wantedVelocity() const;
    bool hasWorkToDo() const;
    void step(double seconds);
    void moveBy(double distance);
    void startMove(int64_t target);
    void startJog();
    void dropMoveAndJog();
    bool atLowerEnd() const;
    bool atUpperEnd() const;
    double travelDirection() const;
    bool intoPressedSwitch(double positionChange) const;

    CommandFrame command_;
    uint8_t previousCommandByte_ = 0;
    double position_ = 0.0;
    double velocity_ = 0.0;
    double travel_ = 0.0;
    bool movePending_ = false;
    int64_t moveTarget_ = 0;
    bool jogging_ = false;
    bool stopping_ = false; // braking since STOP, until a move or jog takes over
    bool switchesActiveHigh_ = false;
    uint64_t rejectedFrames_ = 0;
};

// Whether the bytes that never change (the options byte's constant bits,
// the idle percentage's range) are as the panel always sends them.
bool hasValidConstantBits(const CommandFrame& frame);

} // namespace kvx::sim
