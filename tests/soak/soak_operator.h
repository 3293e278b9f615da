// A restless operator, scripted at random from a seed: moves the sliders,
// jogs, types targets and distances, holds Go, R, STOP and ZERO for a few
// ticks each, through the same motion commands the panel's handlers call.
#pragma once

#include "exchange.h"
#include "motion_state.h"

#include <cstdint>
#include <random>

namespace kvx::soak {

class SoakOperator {
public:
    explicit SoakOperator(uint32_t seed) : random_(seed) {}

    // Acts, or not, before the next tick: releases what has been held long
    // enough, or now and then starts something new.
    void beforeTick(MotionState& state, SliderValues& sliders, double& targetPosition);

    // What was done, for the soak's figures.
    uint64_t moves = 0, relativeMoves = 0, jogs = 0, stops = 0, zeroes = 0, sliderChanges = 0, pauses = 0;

private:
    enum class Held { Nothing, Go, Relative, Stop, Zero };

    int between(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
    void startSomething(MotionState& state, SliderValues& sliders, double& targetPosition);
    void release(MotionState& state, SliderValues& sliders);
    bool typeEntry(double demultiplication, double unitsRange, double& targetPosition);
    void moveASlider(SliderValues& sliders);
    void maybeWalkAway();

    std::mt19937 random_;
    Held held_ = Held::Nothing;
    int ticksLeft_ = 0;
    int pauseLeft_ = 0; // ticks the operator leaves the panel alone
};

} // namespace kvx::soak
