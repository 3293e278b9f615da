#include "sim_bus.h"

#include <algorithm>
#include <cstring>

namespace kvx::sim {

namespace {

bool strikesOn(FaultKind kind, bool onWrite)
{
    switch (kind) {
    case FaultKind::FailWrite:
    case FaultKind::ShortWrite:
    case FaultKind::ReadTimeout: // the write's answer is lost
        return onWrite;
    case FaultKind::FailRead:
    case FaultKind::ShortRead:
        return !onWrite;
    case FaultKind::Unplug:
        return true;
    }
    return false;
}

// Whether the frame just taken changed what the axis will do from now on:
// a move, a jog or its speed, STOP, ZERO, the commands pressed or released
// (whose edges the next frames are weighed against) or the settings that
// shape the motion. Frames that only repeat the last are not.
bool motionChanged(const AxisModel::Snapshot& before, const AxisModel::Snapshot& after)
{
    const auto commands = [](const CommandFrame& f) { return uint8_t(f.CommandByte & ~CommandBit::Toggle); };
    const auto jogWord = [](const CommandFrame& f) { return (f.CommandByte & CommandBit::JogMode) ? f.JogWord : 0; };
    const CommandFrame &was = before.command, &is = after.command;
    return before.movePending != after.movePending || before.moveTarget != after.moveTarget
           || before.jogging != after.jogging || before.stopping != after.stopping
           || before.position != after.position // ZERO
           || commands(was) != commands(is) || jogWord(was) != jogWord(is) || was.MaxSpeed != is.MaxSpeed
           || was.Acceleration != is.Acceleration || (was.Amplitude > 0) != (is.Amplitude > 0)
           || was.OptionsByte != is.OptionsByte;
}

} // namespace

SimBus::SimBus(SimClock& clock, FaultScript script, ControllerStore* store) : clock_(clock), store_(store)
{
    restart(script);
}

SimBus::~SimBus()
{
    std::lock_guard lock(mutex_);
    for (const auto& [id, open] : sessions_)
        release(open);
}

void SimBus::release(const Session& s)
{
    Controller& controller = controllers_[s.controller];
    if (!store_)
        return;
    advanceTo(controller, clock_.now());
    store_->release(s.controller, SavedAxis{controller.model.snapshot(), wallClockNow()});
}

bool SimBus::restart(const FaultScript& script)
{
    std::lock_guard lock(mutex_);
    if (!sessions_.empty())
        return false;
    script_ = script;
    controllers_.clear();
    for (const auto& product : script_.products) {
        controllers_.push_back(Controller{product, {}, true, false, false, 0.0});
        AxisModel& model = controllers_.back().model;
        model.setSwitchesActiveHigh(script_.switchesActiveHigh);
        if (script_.startAt != 0) {
            AxisModel::Snapshot placed;
            placed.position = placed.travel = static_cast<double>(script_.startAt);
            model.restore(placed);
        }
    }
    return true;
}

SimBus::Controller* SimBus::pluggedController(uint32_t deviceNumber)
{
    uint32_t index = 0;
    for (auto& controller : controllers_) {
        if (!controller.plugged)
            continue;
        if (index == deviceNumber)
            return &controller;
        ++index;
    }
    return nullptr;
}

SimBus::Session* SimBus::session(void* handle)
{
    const auto found = sessions_.find(reinterpret_cast<uintptr_t>(handle));
    return found == sessions_.end() ? nullptr : &found->second;
}

int SimBus::getNumDevices(uint32_t* numDevices)
{
    std::lock_guard lock(mutex_);
    if (!numDevices)
        return SiStatus::InvalidParameter;
    if (script_.countFails) {
        *numDevices = 0;
        return SiStatus::DeviceIoFailed;
    }
    *numDevices = static_cast<uint32_t>(
        std::count_if(controllers_.begin(), controllers_.end(), [](const Controller& c) { return c.plugged; }));
    return SiStatus::Success;
}

int SimBus::getProductString(uint32_t deviceNumber, void* buffer, uint32_t options)
{
    std::lock_guard lock(mutex_);
    if (!buffer || options != 0)
        return SiStatus::InvalidParameter;
    const Controller* controller = pluggedController(deviceNumber);
    if (!controller)
        return SiStatus::DeviceNotFound;
    const std::size_t length = std::min(controller->product.size(), ProductStringCapacity - 1);
    auto* bytes = static_cast<char*>(buffer);
    std::memcpy(bytes, controller->product.data(), length);
    bytes[length] = '\0';
    return SiStatus::Success;
}

int SimBus::open(uint32_t deviceNumber, void** handle)
{
    std::lock_guard lock(mutex_);
    if (!handle)
        return SiStatus::InvalidParameter;
    *handle = nullptr;
    Controller* controller = pluggedController(deviceNumber);
    if (!controller)
        return SiStatus::DeviceNotFound;
    if (script_.openFails)
        return SiStatus::DeviceIoFailed;
    if (controller->open)
        return SiStatus::DeviceBusy;

    const double now = clock_.now();
    const std::size_t index = static_cast<std::size_t>(controller - controllers_.data());
    std::optional<SavedAxis> saved;
    if (store_ && !store_->claim(index, controller->product, saved))
        return SiStatus::DeviceBusy; // another program holds it open
    if (saved) {
        // Powered all along: the axis ran on under its last command.
        controller->model.restore(saved->axis);
        controller->model.advance(std::max(0.0, wallClockNow() - saved->savedAt));
        controller->everExchanged = true;
        controller->lastExchange = now;
    }
    if (!controller->everExchanged) {
        controller->everExchanged = true;
        controller->lastExchange = now;
    }
    controller->open = true;
    Session opened;
    opened.controller = index;
    opened.openedAt = now;
    opened.fired.assign(script_.faults.size(), false);
    // Handles are never reused, so a stale one cannot reach another session.
    const uintptr_t id = nextHandle_++;
    sessions_.emplace(id, std::move(opened));
    *handle = reinterpret_cast<void*>(id);
    return SiStatus::Success;
}

int SimBus::close(void* handle)
{
    std::lock_guard lock(mutex_);
    Session* closing = session(handle);
    if (!closing)
        return SiStatus::InvalidHandle;
    release(*closing);
    controllers_[closing->controller].open = false;
    sessions_.erase(reinterpret_cast<uintptr_t>(handle));
    return SiStatus::Success;
}

bool SimBus::takeDueFault(Session& s, CallKind call, double now, FaultKind& kind)
{
    for (std::size_t i = 0; i < script_.faults.size(); ++i) {
        const TimedFault& fault = script_.faults[i];
        if (s.fired[i] || !strikesOn(fault.kind, call == CallKind::Write))
            continue;
        const bool due = fault.atTime ? now - s.openedAt >= fault.seconds : s.exchanges == fault.exchange;
        if (due) {
            s.fired[i] = true;
            kind = fault.kind;
            return true;
        }
    }
    return false;
}

void SimBus::advanceTo(Controller& controller, double now)
{
    controller.model.advance(now - controller.lastExchange);
    controller.lastExchange = now;
}

void SimBus::queueAnswer(Session& s, const AxisModel& model)
{
    const Frame answer = encodeStatusFrame(model.status());
    s.answer.insert(s.answer.end(), answer.begin(), answer.end());
    // A host that never reads loses the oldest whole answers, not memory. The
    // rest of an answer it has begun to read stays, or its next reads would
    // start in the middle of a frame.
    while (s.answer.size() > MaxQueuedBytes) {
        const auto oldestWhole = s.answer.begin() + static_cast<std::ptrdiff_t>(s.answer.size() % FrameSize);
        s.answer.erase(oldestWhole, oldestWhole + FrameSize);
    }
}

uint32_t SimBus::deliver(Session& s, void* buffer, uint32_t count)
{
    const auto n = static_cast<uint32_t>(std::min<std::size_t>(count, s.answer.size()));
    std::copy_n(s.answer.begin(), n, static_cast<uint8_t*>(buffer));
    s.answer.erase(s.answer.begin(), s.answer.begin() + n);
    return n;
}

int SimBus::beginTransfer(void* handle, const void* buffer, uint32_t bytes, uint32_t* counted, Session*& s)
{
    if (!counted)
        return SiStatus::InvalidParameter;
    *counted = 0;
    s = session(handle);
    if (!s)
        return SiStatus::InvalidHandle;
    if (bytes > 0 && !buffer)
        return SiStatus::InvalidParameter;
    if (!controllers_[s->controller].plugged)
        return SiStatus::DeviceIoFailed;
    return SiStatus::Success;
}

int SimBus::write(void* handle, const void* buffer, uint32_t bytesToWrite, uint32_t* bytesWritten)
{
    std::lock_guard lock(mutex_);
    Session* s = nullptr;
    if (const int status = beginTransfer(handle, buffer, bytesToWrite, bytesWritten, s))
        return status;
    Controller& controller = controllers_[s->controller];

    const double now = clock_.now();
    advanceTo(controller, now);
    ++s->exchanges;
    FaultKind fault{};
    const bool faulted = takeDueFault(*s, CallKind::Write, now, fault);
    if (faulted && fault == FaultKind::Unplug) {
        controller.plugged = false;
        return SiStatus::DeviceIoFailed;
    }
    if (faulted && fault == FaultKind::FailWrite)
        return SiStatus::WriteError;
    if (faulted && fault == FaultKind::ShortWrite) {
        *bytesWritten = std::min(bytesToWrite, ShortWriteBytes);
        return SiStatus::Success;
    }
    if (bytesToWrite < FrameSize) {
        // Part of a frame: taken off the wire, never acted on or answered.
        *bytesWritten = bytesToWrite;
        return SiStatus::Success;
    }
    // One transfer carries one frame; bytes beyond it are not taken.
    const AxisModel::Snapshot before = controller.model.snapshot();
    controller.model.apply(decodeCommandFrame(static_cast<const uint8_t*>(buffer)));
    // Kept at once, not only at the close: a program killed outright leaves
    // the controller carrying on with its last command, as a powered one
    // would. A frame every 30 ms that changes nothing writes nothing.
    if (store_ && motionChanged(before, controller.model.snapshot()))
        store_->keep(s->controller, SavedAxis{controller.model.snapshot(), wallClockNow()});
    *bytesWritten = FrameSize;
    if (!(faulted && fault == FaultKind::ReadTimeout))
        queueAnswer(*s, controller.model);
    return SiStatus::Success;
}

int SimBus::read(void* handle, void* buffer, uint32_t bytesToRead, uint32_t* bytesRead)
{
    std::unique_lock lock(mutex_);
    Session* s = nullptr;
    if (const int status = beginTransfer(handle, buffer, bytesToRead, bytesRead, s))
        return status;
    Controller& controller = controllers_[s->controller];

    FaultKind fault{};
    if (takeDueFault(*s, CallKind::Read, clock_.now(), fault)) {
        switch (fault) {
        case FaultKind::Unplug:
            controller.plugged = false;
            return SiStatus::DeviceIoFailed;
        case FaultKind::FailRead:
            s->answer.clear();
            return SiStatus::ReadError;
        case FaultKind::ShortRead:
            *bytesRead = deliver(*s, buffer, std::min(bytesToRead, ShortReadBytes));
            return SiStatus::Success;
        default:
            break;
        }
    }
    if (bytesToRead == 0)
        return SiStatus::Success;
    if (s->answer.empty()) {
        // Nothing can arrive unasked: wait out the time-out as a real link would.
        const double timeout = readTimeoutMs_ / 1000.0;
        lock.unlock();
        clock_.sleepFor(timeout);
        lock.lock();
        s = session(handle); // it may have been closed meanwhile
        if (!s)
            return SiStatus::InvalidHandle;
        if (s->answer.empty())
            return SiStatus::ReadTimedOut;
    }
    *bytesRead = deliver(*s, buffer, bytesToRead);
    return SiStatus::Success;
}

int SimBus::setTimeouts(uint32_t readTimeoutMs, uint32_t writeTimeoutMs)
{
    std::lock_guard lock(mutex_);
    readTimeoutMs_ = readTimeoutMs;
    writeTimeoutMs_ = writeTimeoutMs;
    return SiStatus::Success;
}

int SimBus::getTimeouts(uint32_t* readTimeoutMs, uint32_t* writeTimeoutMs)
{
    std::lock_guard lock(mutex_);
    if (!readTimeoutMs || !writeTimeoutMs)
        return SiStatus::InvalidParameter;
    *readTimeoutMs = readTimeoutMs_;
    *writeTimeoutMs = writeTimeoutMs_;
    return SiStatus::Success;
}

int SimBus::checkRxQueue(void* handle, uint32_t* bytesInQueue, uint32_t* queueStatus)
{
    std::lock_guard lock(mutex_);
    if (!bytesInQueue || !queueStatus)
        return SiStatus::InvalidParameter;
    const Session* s = session(handle);
    if (!s)
        return SiStatus::InvalidHandle;
    if (!controllers_[s->controller].plugged)
        return SiStatus::DeviceIoFailed;
    *bytesInQueue = static_cast<uint32_t>(s->answer.size());
    *queueStatus = s->answer.empty() ? RxQueueEmpty : RxQueueHasBytes;
    return SiStatus::Success;
}

std::size_t SimBus::controllerCount() const
{
    std::lock_guard lock(mutex_);
    return controllers_.size();
}

AxisModel SimBus::model(std::size_t controller) const
{
    std::lock_guard lock(mutex_);
    return controllers_.at(controller).model;
}

bool SimBus::isPlugged(std::size_t controller) const
{
    std::lock_guard lock(mutex_);
    return controllers_.at(controller).plugged;
}

} // namespace kvx::sim
