// A clock that moves only when told to: sleeping moves it at once.
#pragma once

#include "sim_clock.h"

namespace kvx::sim::test {

class ManualClock final : public SimClock {
public:
    double now() override { return seconds; }
    void sleepFor(double duration) override
    {
        slept += duration;
        seconds += duration;
    }

    double seconds = 1000.0;
    double slept = 0.0;
};

} // namespace kvx::sim::test
