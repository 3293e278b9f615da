// The program-wide motion request state: what the dialog, the panel's
// handlers and the exchange tick tell each other. The program holds one
// instance for its whole run; tests make their own.
#pragma once

#include "usb_link.h"

#include <QString>
#include <array>
#include <cstdint>

namespace kvx {

inline constexpr int FrameBufferSize = 13;
using FrameBufferArray = std::array<uint8_t, FrameBufferSize>;

struct MotionState {
    // Link and buffer
    UsbHandle DeviceHandle = nullptr;
    int16_t LinkStatus = 0;
    // Both directions share it; only indices 0 to 11 ever travel.
    FrameBufferArray FrameBuffer{};

    // Command flags: each holds 0 or its own bit, so their sum is the command byte.
    uint8_t GoFlag = 0;           // 1
    uint8_t StopFlag = 0;         // 2
    uint8_t ZeroFlag = 0;         // 4
    uint8_t EnableFlag = 0;       // 8
    uint8_t JogModeFlag = 0;      // 16
    uint8_t PositionModeFlag = 0; // 32
    uint8_t RelativeFlag = 0;     // 64
    uint8_t ToggleFlag = 0;       // 128

    // Drive options, set once on confirming the selection dialog.
    uint8_t LimitActiveHighFlag = 0; // 1
    uint8_t ReverseLimitFlag = 0;    // 2
    uint8_t ReverseMotorFlag = 0;    // 4

    int32_t JogWord = 0;
    uint8_t CommandByte = 0;
    int16_t DriveBusy = 0; // -1 true, 0 false
    double Demultiplication = 0;
    QString AxisCaption;
};

// Sets elements 0..count-1 to value; a count of 0 or less changes nothing.
void FillBuffer(uint8_t* array, uint8_t value, int32_t count);

// Bytes from index 0 up to the first zero, at most 256, each a Latin-1
// character. The array must hold at least 257 bytes.
QString BufferToString(const uint8_t* array);

} // namespace kvx
