#include "frames.h"

#include <cmath>

namespace kvx {

// Exact in any rounding mode: a double's fraction above its floor is a
// double, and so is the integer above. Not nearbyint under a pinned mode:
// MinGW's reading and setting of the mode asks the processor for SSE each
// time (CPUID), which a virtual machine answers in microseconds. The sign
// is the value's, as nearbyint gives it to a zero.
double roundHalfEven(double value)
{
    const double below = std::floor(value);
    const double fraction = value - below;
    const bool up = fraction > 0.5 || (fraction == 0.5 && std::fmod(below, 2.0) != 0.0);
    return std::copysign(up ? below + 1.0 : below, value);
}

std::optional<int64_t> frameablePosition(double targetPosition)
{
    if (!std::isfinite(targetPosition))
        return std::nullopt;
    const double steps = roundHalfEven(targetPosition);
    if (steps < static_cast<double>(MinPosition) || steps > static_cast<double>(MaxPosition))
        return std::nullopt;
    return static_cast<int64_t>(steps);
}

uint8_t idleAmplitude(int amplitude, int idlePercent)
{
    const int32_t product = amplitude * idlePercent;
    return static_cast<uint8_t>(roundHalfEven(product / 100.0));
}

void encodePosition(int64_t position, uint8_t* fourBytes)
{
    const auto wire = static_cast<uint32_t>(position + PositionOffset);
    for (int i = 0; i < 4; ++i)
        fourBytes[i] = static_cast<uint8_t>(wire >> (8 * i));
}

int64_t decodePosition(const uint8_t* fourBytes)
{
    int64_t wire = 0;
    for (int i = 3; i >= 0; --i)
        wire = wire * 256 + fourBytes[i];
    return wire - PositionOffset;
}

Frame encodeCommandFrame(const CommandFrame& frame)
{
    Frame bytes{};
    bytes[0] = frame.MaxSpeed;
    bytes[1] = frame.Acceleration;
    bytes[2] = frame.Amplitude;
    bytes[3] = frame.CommandByte;
    bytes[4] = static_cast<uint8_t>(frame.JogWord & 0xFF);
    bytes[5] = static_cast<uint8_t>(frame.JogWord >> 8);
    bytes[6] = frame.IdlePercent;
    bytes[7] = frame.OptionsByte;
    encodePosition(frame.TargetSteps, &bytes[8]);
    return bytes;
}

CommandFrame decodeCommandFrame(const uint8_t* twelveBytes)
{
    CommandFrame frame;
    frame.MaxSpeed = twelveBytes[0];
    frame.Acceleration = twelveBytes[1];
    frame.Amplitude = twelveBytes[2];
    frame.CommandByte = twelveBytes[3];
    frame.JogWord = static_cast<uint16_t>(twelveBytes[4] | (twelveBytes[5] << 8));
    frame.IdlePercent = twelveBytes[6];
    frame.OptionsByte = twelveBytes[7];
    frame.TargetSteps = decodePosition(&twelveBytes[8]);
    return frame;
}

Frame encodeStatusFrame(const StatusFrame& frame)
{
    Frame bytes{};
    encodePosition(frame.MotorPosition, &bytes[0]);
    bytes[4] = frame.StatusByte;
    encodePosition(frame.IdealPosition, &bytes[8]);
    return bytes;
}

StatusFrame decodeStatusFrame(const uint8_t* twelveBytes)
{
    StatusFrame frame;
    frame.MotorPosition = decodePosition(&twelveBytes[0]);
    frame.StatusByte = twelveBytes[4];
    frame.IdealPosition = decodePosition(&twelveBytes[8]);
    return frame;
}

} // namespace kvx
