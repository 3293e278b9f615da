// The soak: the real exchange cycle, tick after tick, against a simulated
// controller, with a scripted operator and the checker watching every frame.
#pragma once

#include "soak_checker.h"
#include "soak_operator.h"

#include <QString>
#include <cstdint>

namespace kvx::soak {

struct SoakOptions {
    uint64_t exchanges = 100000;
    uint32_t seed = 340;
};

struct SoakReport {
    uint64_t exchanges = 0;      // completed without a failed exchange
    double seconds = 0;          // wall-clock time of the exchanges
    long residentStartKiB = 0;   // after the warm-up
    long residentEndKiB = 0;
    QString linkFailure;         // the tick's failure message, if one ended the run
    SoakChecker checker;
    SoakOperator operatorScript{0};
    uint64_t modelViolations = 0; // model mode only: reports against the model itself
    uint64_t switchTicks = 0;     // model mode only: ticks with the axis on a switch
};

// Through the program's own binding, libkvx340sim loaded from the given
// file, on its steady clock: ticks as fast as the link answers.
SoakReport runLinkSoak(const QString& libraryFile, const SoakOptions& options);

// The simulated bus in this process on a hand-driven clock, 30 ms per tick,
// so a shift of motion passes in seconds; each status is also held against
// the model's own state.
SoakReport runModelSoak(const SoakOptions& options);

// The report in a few lines, for people.
QString describe(const SoakReport& report, const char* mode);

} // namespace kvx::soak
