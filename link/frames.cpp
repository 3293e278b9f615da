#include "frames.h"

#include <cfenv>
#include <cmath>

namespace kvx {

double roundHalfEven(double value)
{
    // nearbyint follows the current rounding mode; pin it rather than trust it.
    const int saved = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const double rounded = std::nearbyint(value);
    std::fesetround(saved);
    return rounded;
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
