#include "axis_model.h"

#include <algorithm>
#include <cmath>

namespace kvx::sim {

using namespace AxisConstants;

namespace {

double sign(double value) { return value > 0 ? 1.0 : (value < 0 ? -1.0 : 0.0); }

// A profile finishing its move crosses the target at about twice the speed
// one integration step of ramp gives; faster crossings are overshoots.
constexpr double FinishingSpeedInSteps = 4.0;

} // namespace

bool hasValidConstantBits(const CommandFrame& frame)
{
    const uint8_t optionBits = OptionBit::LimitActiveHigh | OptionBit::ReverseLimit | OptionBit::ReverseMotor;
    return (frame.OptionsByte & ~optionBits) == OptionBit::Constant && frame.IdlePercent <= 100;
}

AxisModel::Snapshot AxisModel::snapshot() const
{
    return {command_, previousCommandByte_, position_, velocity_, travel_,
            movePending_, moveTarget_, jogging_, stopping_};
}

void AxisModel::restore(const Snapshot& s)
{
    command_ = s.command;
    previousCommandByte_ = s.previousCommandByte;
    position_ = s.position;
    velocity_ = s.velocity;
    travel_ = s.travel;
    movePending_ = s.movePending;
    moveTarget_ = s.moveTarget;
    jogging_ = s.jogging;
    stopping_ = s.stopping;
}

double AxisModel::topSpeed() const { return command_.MaxSpeed * StepsPerSecondPerSpeedUnit; }

double AxisModel::ramp() const
{
    return std::max<int>(command_.Acceleration, 1) * StepsPerSecondSquaredPerUnit;
}

double AxisModel::stoppingRamp() const { return std::max(ramp(), FirmestStopRamp); }

bool AxisModel::energised() const
{
    return hasCommand(CommandBit::Enable) && command_.Amplitude > 0 && !wiringRefusesMotion();
}

// Told the wrong level ("Limit Switch Active on HI" on active-low
// switches, or not on active-high ones), the controller sees both pressed
// and will not move at all.
bool AxisModel::wiringRefusesMotion() const
{
    return hasOption(OptionBit::LimitActiveHigh) != switchesActiveHigh_;
}

double AxisModel::jogSpeed() const
{
    const double share = (static_cast<int>(command_.JogWord) - JogCentre) / JogFullScale;
    return std::clamp(share, -1.0, 1.0) * topSpeed();
}

bool AxisModel::atLowerEnd() const { return travel_ <= -TravelLimit; }
bool AxisModel::atUpperEnd() const { return travel_ >= TravelLimit; }
double AxisModel::travelDirection() const { return hasOption(OptionBit::ReverseMotor) ? -1.0 : 1.0; }

bool AxisModel::intoPressedSwitch(double positionChange) const
{
    const double towardsTravel = sign(positionChange) * travelDirection();
    return (towardsTravel > 0 && atUpperEnd()) || (towardsTravel < 0 && atLowerEnd());
}

bool AxisModel::apply(const CommandFrame& frame)
{
    if (!hasValidConstantBits(frame)) {
        ++rejectedFrames_;
        return false;
    }
    const uint8_t rising = frame.CommandByte & ~previousCommandByte_;
    const bool jogWordChanged = frame.JogWord != command_.JogWord;
    command_ = frame;
    previousCommandByte_ = frame.CommandByte;

    if (!hasCommand(CommandBit::Enable) || wiringRefusesMotion()) {
        dropMoveAndJog();
        velocity_ = 0.0;
        stopping_ = false;
        return true;
    }
    // Selecting jog mode, or moving the slider while it stays selected, asks
    // for a jog; an unchanged jog word after a move asks for nothing.
    if (!hasCommand(CommandBit::JogMode))
        jogging_ = false;
    else if ((rising & CommandBit::JogMode) || jogWordChanged)
        startJog();
    if (hasCommand(CommandBit::Zero)) {
        position_ = 0.0;
        movePending_ = false;
    }
    if (hasCommand(CommandBit::Stop)) {
        dropMoveAndJog();
        stopping_ = true;
        return true;
    }
    if (rising & CommandBit::Relative)
        startMove(static_cast<int64_t>(roundHalfEven(position_)) + frame.TargetSteps);
    if (hasCommand(CommandBit::Go))
        startMove(frame.TargetSteps);
    return true;
}

void AxisModel::startMove(int64_t target)
{
    jogging_ = false;
    const bool intoSwitch = intoPressedSwitch(static_cast<double>(target) - position_);
    const bool alreadyThere = velocity_ == 0.0 && position_ == static_cast<double>(target);
    movePending_ = !intoSwitch && !alreadyThere;
    moveTarget_ = target;
    stopping_ = stopping_ && !movePending_;
}

// A jog takes over from a move; one into a pressed switch is refused and
// ends at once, so the axis is not left busy against the switch.
void AxisModel::startJog()
{
    movePending_ = false;
    jogging_ = !intoPressedSwitch(jogSpeed());
    stopping_ = stopping_ && !jogging_;
}

void AxisModel::dropMoveAndJog()
{
    movePending_ = false;
    jogging_ = false;
}

double AxisModel::wantedVelocity() const
{
    if (hasCommand(CommandBit::Stop))
        return 0.0;
    if (movePending_) {
        // The fastest speed from which the ramp, changing speed once per
        // integration step, still stops at the target.
        const double remaining = static_cast<double>(moveTarget_) - position_;
        const double halfStepOfRamp = ramp() * IntegrationStep / 2;
        const double braking = std::sqrt(halfStepOfRamp * halfStepOfRamp + 2.0 * ramp() * std::fabs(remaining))
                               - halfStepOfRamp;
        return sign(remaining) * std::min(topSpeed(), braking);
    }
    if (jogging_)
        return jogSpeed();
    return 0.0;
}

bool AxisModel::hasWorkToDo() const
{
    if (velocity_ != 0.0)
        return true;
    return energised() && topSpeed() > 0 && (movePending_ || (jogging_ && jogSpeed() != 0.0));
}

void AxisModel::advance(double seconds)
{
    if (!(seconds > 0))
        return; // also refuses NaN
    const double stepLength = std::max(IntegrationStep, seconds / MaxStepsPerAdvance);
    double remaining = seconds;
    while (remaining > 1e-9 && hasWorkToDo()) {
        const double h = std::min(stepLength, remaining);
        step(h);
        remaining -= h;
    }
}

void AxisModel::step(double h)
{
    if (!energised()) {
        velocity_ = 0.0; // no torque: the axis stands where it is
        return;
    }
    const double maxChange = (stopping_ ? stoppingRamp() : ramp()) * h;
    velocity_ += std::clamp(wantedVelocity() - velocity_, -maxChange, maxChange);

    if (movePending_) {
        const double target = static_cast<double>(moveTarget_);
        const double next = position_ + velocity_ * h;
        const bool reachesTarget = (target - next) * (target - position_) <= 0;
        if (reachesTarget && std::fabs(velocity_) <= FinishingSpeedInSteps * maxChange) {
            moveBy(target - position_);
            // Exactly on it: after ZERO the travel and the position differ
            // by a fraction, and the sum in moveBy() may miss the target by
            // a rounding residue that would make a move to here a move.
            if (movePending_)
                position_ = target;
            velocity_ = 0.0;
            movePending_ = false;
            return;
        }
    }
    moveBy(velocity_ * h);
}

// Moves the profile, stopping at a limit switch: the switch ends the move,
// and a jog into it. A jog already turned away from it goes on.
void AxisModel::moveBy(double distance)
{
    const double direction = travelDirection();
    const double wantedTravel = travel_ + direction * distance;
    const double reachedTravel = std::clamp(wantedTravel, -TravelLimit, TravelLimit);
    const double towardsTravel = direction * distance;
    const bool hitSwitch = (towardsTravel > 0 && reachedTravel >= TravelLimit)
                           || (towardsTravel < 0 && reachedTravel <= -TravelLimit);
    position_ += (reachedTravel - travel_) * direction;
    travel_ = reachedTravel;
    if (hitSwitch) {
        velocity_ = 0.0;
        movePending_ = false;
        jogging_ = jogging_ && !intoPressedSwitch(jogSpeed());
    }
}

StatusFrame AxisModel::status() const
{
    // The motor takes a step only once the profile has passed it, so while
    // running it trails the ideal position by less than a step.
    double motor = roundHalfEven(position_);
    if (velocity_ > 0)
        motor = std::floor(position_);
    else if (velocity_ < 0)
        motor = std::ceil(position_);

    bool lower = atLowerEnd() || wiringRefusesMotion();
    bool upper = atUpperEnd() || wiringRefusesMotion();
    if (hasOption(OptionBit::ReverseLimit))
        std::swap(lower, upper);

    const double top = topSpeed();
    const bool cruising = top > 0 && std::fabs(std::fabs(velocity_) - top) <= 1e-9 * top;
    const bool busy = velocity_ != 0.0 || movePending_ || (jogging_ && jogSpeed() != 0.0);

    StatusFrame frame;
    frame.MotorPosition = static_cast<int64_t>(motor);
    frame.IdealPosition = static_cast<int64_t>(roundHalfEven(position_));
    frame.StatusByte = static_cast<uint8_t>((lower ? StatusBit::LowerLimit : 0) | (upper ? StatusBit::UpperLimit : 0)
                                            | (hasOption(OptionBit::ReverseLimit) ? StatusBit::ReverseLimit : 0)
                                            | (cruising ? StatusBit::MaxSpeed : 0) | (busy ? StatusBit::Busy : 0)
                                            | (hasOption(OptionBit::LimitActiveHigh) ? StatusBit::ActiveHigh : 0));
    return frame;
}

} // namespace kvx::sim
