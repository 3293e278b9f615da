// One status frame as the program saw it: the motor's position in steps,
// the ratio in force, the indicators as the panel's tick reads them, and
// when and in which exchange it came.
#pragma once

#include "exchange.h"

#include <cstdint>

namespace kvx::ctl {

struct Reading {
    int64_t steps = 0;
    double demultiplication = 15;
    IndicatorAlerts alerts;
    double time = 0;       // the host's wall clock, seconds since the epoch
    uint64_t exchange = 0; // counted from the open, the first is 1
    double units() const { return static_cast<double>(steps) / demultiplication; }
};

// Seconds since the epoch, to the microsecond.
double wallClockSeconds();

} // namespace kvx::ctl
