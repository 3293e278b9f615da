// What the soak holds the exchange cycle to, tick by tick: every command
// frame is the one the state and the sliders call for, and every status
// frame agrees with what the axis was told to do.
#pragma once

#include "exchange.h"
#include "frames.h"
#include "motion_state.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kvx::soak {

// The positions a fixed-direction axis can report: the switches stand this
// far either side of its start, and a new origin lies between them.
inline constexpr int64_t ReachablePositions = 2 * 150000;

class SoakChecker {
public:
    // The frame written on this tick, with the state and the sliders the
    // tick composed it from (ToggleFlag and CommandByte as the tick left them).
    void commandFrame(const Frame& written, const MotionState& state, const SliderValues& sliders,
                      double targetPosition);
    // The status frame read on the same tick.
    void statusFrame(const Frame& read);

    // A finding, kept in words (the first few only) and counted.
    void fail(const std::string& what);

    uint64_t frames() const { return frames_; }
    uint64_t violations() const { return violations_; }
    uint64_t completedMoves() const { return completedMoves_; }
    uint64_t zeroesSeen() const { return zeroesSeen_; }
    const std::vector<std::string>& firstViolations() const { return first_; }

private:
    void checkStatic(const Frame& written, const MotionState& state, const SliderValues& sliders,
                     double targetPosition);
    void followMoves(const CommandFrame& frame, const MotionState& state);

    uint64_t frames_ = 0;
    uint64_t violations_ = 0;
    uint64_t completedMoves_ = 0;
    uint64_t zeroesSeen_ = 0;
    std::vector<std::string> first_;

    std::optional<uint8_t> previousCommandByte_;
    bool reportedBusy_ = false; // busy bit of the last status frame
    int64_t lastIdeal_ = 0;
    bool zeroSent_ = false;
    uint8_t previousBits_ = 0;
    uint16_t previousJogWord_ = 0;
    std::optional<int64_t> expectedEnd_; // where the move under way must end
};

} // namespace kvx::soak
