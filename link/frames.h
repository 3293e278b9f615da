// The two 12-byte records exchanged with the controller on every tick, and
// the arithmetic that fills and reads them. No header, no checksum: a frame
// is its bytes in fixed places, multi-byte numbers little-endian.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace kvx {

inline constexpr int FrameSize = 12;
using Frame = std::array<uint8_t, FrameSize>;

// Positions travel as unsigned 32-bit numbers with this offset added.
inline constexpr int64_t PositionOffset = 1073741824;
inline constexpr int64_t MinPosition = -PositionOffset;
inline constexpr int64_t MaxPosition = PositionOffset - 1;

// Bits of the command byte (frame byte 3).
namespace CommandBit {
inline constexpr uint8_t Go = 1;
inline constexpr uint8_t Stop = 2;
inline constexpr uint8_t Zero = 4;
inline constexpr uint8_t Enable = 8;
inline constexpr uint8_t JogMode = 16;
inline constexpr uint8_t PositionMode = 32;
inline constexpr uint8_t Relative = 64;
inline constexpr uint8_t Toggle = 128;
} // namespace CommandBit

// Bits of the options byte (frame byte 7); 144 sets the two constant ones.
namespace OptionBit {
inline constexpr uint8_t Constant = 144;
inline constexpr uint8_t LimitActiveHigh = 1;
inline constexpr uint8_t ReverseLimit = 2;
inline constexpr uint8_t ReverseMotor = 4;
} // namespace OptionBit

// Bits of the status byte (status frame byte 4).
namespace StatusBit {
inline constexpr uint8_t LowerLimit = 1;
inline constexpr uint8_t UpperLimit = 2;
inline constexpr uint8_t ReverseLimit = 4;
inline constexpr uint8_t MaxSpeed = 8;
inline constexpr uint8_t Busy = 16;
inline constexpr uint8_t ActiveHigh = 32;
} // namespace StatusBit

// Nearest integer, halves to the even neighbour.
double roundHalfEven(double value);

// The step count a target position is sent as, or nothing when the frame
// cannot carry it (not finite, or outside MinPosition..MaxPosition once
// rounded). Never wraps.
std::optional<int64_t> frameablePosition(double targetPosition);

// Current amplitude sent while the drive is idle: amplitude * percent / 100,
// halves to even.
uint8_t idleAmplitude(int amplitude, int idlePercent);

void encodePosition(int64_t position, uint8_t* fourBytes);
// Exact, and 64-bit so that top bytes of 128 and more cannot overflow.
int64_t decodePosition(const uint8_t* fourBytes);

struct CommandFrame {
    uint8_t MaxSpeed = 0;
    uint8_t Acceleration = 0;
    uint8_t Amplitude = 0;
    uint8_t CommandByte = 0;
    uint16_t JogWord = 0;
    uint8_t IdlePercent = 0;
    uint8_t OptionsByte = 0;
    int64_t TargetSteps = 0; // MinPosition..MaxPosition
};

struct StatusFrame {
    int64_t MotorPosition = 0;
    uint8_t StatusByte = 0;
    int64_t IdealPosition = 0;
};

Frame encodeCommandFrame(const CommandFrame& frame);
CommandFrame decodeCommandFrame(const uint8_t* twelveBytes);
// Bytes 5 to 7 are sent as 0; the panel never looks at them.
Frame encodeStatusFrame(const StatusFrame& frame);
StatusFrame decodeStatusFrame(const uint8_t* twelveBytes);

} // namespace kvx
