#include "soak_operator.h"

#include "motion_commands.h"
#include "number_text.h"

namespace kvx::soak {

void SoakOperator::beforeTick(MotionState& state, SliderValues& sliders, double& targetPosition)
{
    if (held_ != Held::Nothing) {
        if (--ticksLeft_ <= 0)
            release(state, sliders);
        return;
    }
    if (pauseLeft_ > 0) {
        --pauseLeft_;
        return;
    }
    // About one action every 60 ticks (1.8 s): most moves have time to end.
    if (between(0, 59) == 0)
        startSomething(state, sliders, targetPosition);
}

void SoakOperator::startSomething(MotionState& state, SliderValues& sliders, double& targetPosition)
{
    const int pick = between(0, 9);
    ticksLeft_ = between(1, 4);
    if (pick <= 2) {
        // Mostly near, now and then beyond the switches.
        const bool far = between(0, 9) == 0;
        if (typeEntry(state.Demultiplication, far ? 15000 : 150, targetPosition)) {
            holdGo(state);
            held_ = Held::Go;
            ++moves;
            if (far)
                maybeWalkAway();
        }
    } else if (pick <= 4) {
        if (typeEntry(state.Demultiplication, 100, targetPosition)) {
            holdRelative(state);
            held_ = Held::Relative;
            ++relativeMoves;
        }
    } else if (pick == 5) {
        selectJogMode(state);
        sliders.Slider1 = between(-10000, 10000);
        ++jogs;
        maybeWalkAway();
    } else if (pick == 6) {
        pressStop(state);
        sliders.Slider1 = 0; // the jog slider springs back with STOP
        held_ = Held::Stop;
        ++stops;
    } else if (pick == 7) {
        pressZero(state);
        held_ = Held::Zero;
        ++zeroes;
    } else {
        moveASlider(sliders);
    }
}

void SoakOperator::release(MotionState& state, SliderValues& sliders)
{
    switch (held_) {
    case Held::Go:
        releaseGo(state);
        selectPositionMode(state);
        break;
    case Held::Relative:
        releaseRelative(state);
        selectPositionMode(state);
        break;
    case Held::Stop:
        releaseStop(state);
        sliders.Slider1 = 0;
        break;
    case Held::Zero:
        releaseZero(state);
        break;
    case Held::Nothing:
        break;
    }
    held_ = Held::Nothing;
}

// Types a number the way an operator would, two decimals or none, and reads
// it through the panel's own entry; false when the entry is refused.
bool SoakOperator::typeEntry(double demultiplication, double unitsRange, double& targetPosition)
{
    const double units = between(static_cast<int>(-unitsRange * 100), static_cast<int>(unitsRange * 100)) / 100.0;
    const QString typed = between(0, 1) ? generalForm(units) : formatPosition(units);
    const auto entry = readPositionEntry(typed, demultiplication);
    if (!entry)
        return false;
    targetPosition = entry->targetPosition;
    return true;
}

// Long moves and jogs are sometimes left to run for a minute or two, so
// that the axis reaches its switches.
void SoakOperator::maybeWalkAway()
{
    if (between(0, 2) == 0) {
        pauseLeft_ = between(1000, 4000);
        ++pauses;
    }
}

void SoakOperator::moveASlider(SliderValues& sliders)
{
    ++sliderChanges;
    switch (between(0, 3)) {
    case 0: sliders.Slider2 = between(0, 255); break;
    case 1: sliders.Slider3 = between(0, 255); break;
    case 2: sliders.Slider4 = between(0, 255); break;
    default: sliders.Slider5 = between(0, 100); break;
    }
}

} // namespace kvx::soak
