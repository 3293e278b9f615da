// The simulated USB bus: the attached controllers, the handles open on them,
// the status frames waiting to be read and the scripted faults. It offers the
// nine library operations with the library's arguments; the exported C
// functions forward to one instance of it, and tests drive their own.
#pragma once

#include "axis_model.h"
#include "controller_store.h"
#include "fault_script.h"
#include "sim_clock.h"
#include "usbxpress.h"

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace kvx::sim {

// Queue status reported by checkRxQueue.
inline constexpr uint32_t RxQueueEmpty = 0;
inline constexpr uint32_t RxQueueHasBytes = 1;

inline constexpr uint32_t DefaultTimeoutMs = 1000;
inline constexpr std::size_t ProductStringCapacity = 256; // terminator included
inline constexpr std::size_t MaxQueuedBytes = 64 * 12;

class SimBus {
public:
    // A store keeps the controllers between programs and makes each one
    // exclusive to the program that opens it; without one (the default)
    // every program meets fresh controllers.
    explicit SimBus(SimClock& clock, FaultScript script = {}, ControllerStore* store = nullptr);
    // Saves every controller still open into the store, if there is one.
    ~SimBus();

    // Starts over with fresh controllers and the given script, unless a
    // handle is open (false then, and nothing changes).
    bool restart(const FaultScript& script);

    int getNumDevices(uint32_t* numDevices);
    int getProductString(uint32_t deviceNumber, void* buffer, uint32_t options);
    int open(uint32_t deviceNumber, void** handle);
    int close(void* handle);
    int read(void* handle, void* buffer, uint32_t bytesToRead, uint32_t* bytesRead);
    int write(void* handle, const void* buffer, uint32_t bytesToWrite, uint32_t* bytesWritten);
    int setTimeouts(uint32_t readTimeoutMs, uint32_t writeTimeoutMs);
    int getTimeouts(uint32_t* readTimeoutMs, uint32_t* writeTimeoutMs);
    int checkRxQueue(void* handle, uint32_t* bytesInQueue, uint32_t* queueStatus);

    // For tests: every controller of the script, unplugged ones included.
    std::size_t controllerCount() const;
    AxisModel model(std::size_t controller) const;
    bool isPlugged(std::size_t controller) const;

private:
    struct Controller {
        std::string product;
        AxisModel model;
        bool plugged = true;
        bool open = false;
        bool everExchanged = false;
        double lastExchange = 0.0;
    };
    struct Session {
        std::size_t controller = 0;
        double openedAt = 0.0;
        uint64_t exchanges = 0;
        std::deque<uint8_t> answer;
        std::vector<bool> fired;
    };
    enum class CallKind { Write, Read };

    Controller* pluggedController(uint32_t deviceNumber);
    Session* session(void* handle);
    // The checks a write and a read share: the counter is zeroed, then the
    // handle, the buffer and the controller's presence are tested.
    int beginTransfer(void* handle, const void* buffer, uint32_t bytes, uint32_t* counted, Session*& s);
    bool takeDueFault(Session& session, CallKind call, double now, FaultKind& kind);
    void advanceTo(Controller& controller, double now);
    void release(const Session& session);
    void queueAnswer(Session& session, const AxisModel& model);
    static uint32_t deliver(Session& session, void* buffer, uint32_t count);

    mutable std::mutex mutex_;
    SimClock& clock_;
    ControllerStore* store_ = nullptr;
    FaultScript script_;
    std::vector<Controller> controllers_;
    std::map<uintptr_t, Session> sessions_;
    uintptr_t nextHandle_ = 1;
    uint32_t readTimeoutMs_ = DefaultTimeoutMs;
    uint32_t writeTimeoutMs_ = DefaultTimeoutMs;
};

} // namespace kvx::sim
