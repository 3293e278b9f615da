// A command frame at the panel's design values, enabled, with the given
// extra command bits and target: the starting point of most simulator tests.
#pragma once

#include "frames.h"

namespace kvx::sim::test {

inline CommandFrame designCommand(uint8_t commandBits = 0, int64_t target = 0)
{
    CommandFrame frame;
    frame.MaxSpeed = 180;
    frame.Acceleration = 75;
    frame.Amplitude = 160;
    frame.CommandByte = CommandBit::Enable | commandBits;
    frame.JogWord = 32767;
    frame.IdlePercent = 50;
    frame.OptionsByte = OptionBit::Constant;
    frame.TargetSteps = target;
    return frame;
}

inline Frame designFrame(uint8_t commandBits = 0, int64_t target = 0)
{
    return encodeCommandFrame(designCommand(commandBits, target));
}

} // namespace kvx::sim::test
