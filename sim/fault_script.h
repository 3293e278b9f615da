// What goes wrong on the simulated bus, scripted by tests or by a person
// through the KVX340_SIM_FAULTS environment variable (syntax in README.md).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kvx::sim {

enum class FaultKind {
    FailWrite,   // the write fails: error status, 0 bytes written
    ShortWrite,  // the write reports success with ShortWriteBytes written
    FailRead,    // the read fails: error status, 0 bytes read
    ShortRead,   // the read reports success with ShortReadBytes read
    ReadTimeout, // the controller does not answer: the read waits and fails
    Unplug,      // the controller is gone from then on
};

inline constexpr uint32_t ShortWriteBytes = 11;
inline constexpr uint32_t ShortReadBytes = 6;

// Strikes once per open handle, at the given exchange (the n-th write since
// the open, and the read that follows it), or at the first such call made
// the given number of seconds after the open or later.
struct TimedFault {
    FaultKind kind = FaultKind::FailWrite;
    bool atTime = false;
    uint64_t exchange = 0; // 1 is the first exchange
    double seconds = 0.0;

    friend bool operator==(const TimedFault&, const TimedFault&) = default;
};

struct FaultScript {
    bool countFails = false;
    bool openFails = false;
    std::vector<std::string> products{"KVX-340 X", "KVX-340 Y"};
    std::vector<TimedFault> faults;
    // Where a fresh controller's axis stands, in steps from the middle of
    // its travel: homing tests start near a switch rather than minutes away.
    int64_t startAt = 0;
    // The switches read high when pressed, so "Limit Switch Active on HI"
    // is the right setting for them (active-low without this).
    bool switchesActiveHigh = false;

    friend bool operator==(const FaultScript&, const FaultScript&) = default;
};

inline constexpr const char* FaultScriptVariable = "KVX340_SIM_FAULTS";
inline constexpr std::size_t MaxProducts = 256;

// Reads "item;item;...". Items it cannot read are skipped; it never throws
// on any input.
FaultScript parseFaultScript(std::string_view text);

} // namespace kvx::sim
