// The simulator's sense of time: the steady clock when the program runs it,
// a hand-driven clock in tests.
#pragma once

#include <chrono>
#include <thread>

namespace kvx::sim {

class SimClock {
public:
    virtual ~SimClock() = default;
    virtual double now() = 0; // seconds from an arbitrary start
    virtual void sleepFor(double seconds) = 0;
};

class SteadyClock final : public SimClock {
public:
    double now() override
    {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    }
    void sleepFor(double seconds) override
    {
        if (seconds > 0)
            std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    }
};

} // namespace kvx::sim
