// Whatever a host may put on the wire: the simulated bus takes writes of any
// length and content, reads of any size and time steps of any length, and
// must keep its counts, its statuses, its answer stream and its axis sound.
#include "axis_model.h"
#include "frames.h"
#include "sim_bus.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

using namespace kvx;
using namespace kvx::sim;

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

class HandClock final : public SimClock {
public:
    double now() override { return seconds; }
    void sleepFor(double duration) override { seconds += duration; }
    double seconds = 10.0;
};

// Reads the fuzzer's bytes one at a time; zeros once they run out.
class Input {
public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool more() const { return at_ < size_; }
    uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    std::vector<uint8_t> bytes(size_t count)
    {
        const size_t n = std::min(count, size_ - at_);
        std::vector<uint8_t> out(data_ + at_, data_ + at_ + n);
        at_ += n;
        out.resize(count, 0);
        return out;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

// Checks every whole status frame the host has read: the reader's stream
// must stay cut into the 12-byte frames the controller sent.
class AnswerStream {
public:
    void received(const uint8_t* bytes, uint32_t count)
    {
        pending_.insert(pending_.end(), bytes, bytes + count);
        while (pending_.size() >= FrameSize) {
            checkFrame(pending_.data());
            pending_.erase(pending_.begin(), pending_.begin() + FrameSize);
        }
    }

private:
    static void checkFrame(const uint8_t* frame)
    {
        // Bytes 5 to 7 and the status byte's top bits are never sent set.
        check(frame[5] == 0 && frame[6] == 0 && frame[7] == 0);
        check((frame[4] & 0xC0) == 0);
        const StatusFrame status = decodeStatusFrame(frame);
        // The motor trails the profile by less than a step.
        check(std::llabs(status.MotorPosition - status.IdealPosition) <= 1);
    }

    std::vector<uint8_t> pending_;
};

struct Shadow {
    size_t queued = 0; // unread answer bytes
    uint64_t rejected = 0;
};

constexpr double MaxSpeedSteps = 255 * AxisConstants::StepsPerSecondPerSpeedUnit;

void checkAxis(const AxisModel& axis)
{
    check(std::isfinite(axis.position()) && std::isfinite(axis.velocity()));
    check(std::fabs(axis.travel()) <= AxisConstants::TravelLimit);
    check(std::fabs(axis.velocity()) <= MaxSpeedSteps * (1 + 1e-9));
}

// Mostly frames the controller acts on, so that the model gets exercised;
// sometimes the raw bytes, whose constant bits are then most likely wrong.
std::vector<uint8_t> frameBytes(Input& in, size_t length, bool repair)
{
    std::vector<uint8_t> bytes = in.bytes(length);
    if (repair && length >= FrameSize) {
        bytes[6] = static_cast<uint8_t>(bytes[6] % 101);
        bytes[7] = static_cast<uint8_t>(OptionBit::Constant | (bytes[7] & 7));
    }
    return bytes;
}

void writeOnce(SimBus& bus, void* handle, const std::vector<uint8_t>& bytes, Shadow& shadow)
{
    const size_t length = bytes.size();
    // Exactly the bytes offered, on the heap, so that a read past them is caught.
    auto* exact = length ? new uint8_t[length] : nullptr;
    if (length)
        std::memcpy(exact, bytes.data(), length);
    const uint64_t rejectedBefore = bus.model(0).rejectedFrames();

    uint32_t written = 99;
    const int status = bus.write(handle, exact, static_cast<uint32_t>(length), &written);
    check(status == SiStatus::Success);
    check(written == std::min<uint32_t>(static_cast<uint32_t>(length), FrameSize));
    if (length >= FrameSize) {
        // Beyond the limit the oldest whole answers go; the rest of one
        // begun by a short read stays.
        shadow.queued += FrameSize;
        while (shadow.queued > MaxQueuedBytes)
            shadow.queued -= FrameSize;
        const CommandFrame frame = decodeCommandFrame(exact);
        const bool acted = hasValidConstantBits(frame);
        shadow.rejected += acted ? 0 : 1;
        check(bus.model(0).rejectedFrames() == rejectedBefore + (acted ? 0 : 1));
        const bool enabled = (frame.CommandByte & CommandBit::Enable) && !(frame.OptionsByte & OptionBit::LimitActiveHigh);
        if (acted && enabled && (frame.CommandByte & CommandBit::Zero))
            check(bus.model(0).position() == 0.0);
    }
    check(bus.model(0).rejectedFrames() == shadow.rejected);
    delete[] exact;
}

// One write, or the same bytes again and again with a tick's time between
// them: a host that writes and never reads.
void writeOp(SimBus& bus, void* handle, Input& in, Shadow& shadow, HandClock& clock, uint8_t op)
{
    const size_t length = in.byte() % 32;
    const bool repair = (op & 0x10) == 0;
    const std::vector<uint8_t> bytes = frameBytes(in, length, repair);
    const int times = (op & 0x20) ? 1 + in.byte() % 128 : 1;
    for (int i = 0; i < times; ++i) {
        writeOnce(bus, handle, bytes, shadow);
        if (op & 0x40)
            clock.seconds += 0.030;
    }
}

void readOp(SimBus& bus, void* handle, Input& in, Shadow& shadow, AnswerStream& stream, HandClock& clock)
{
    const uint32_t length = in.byte() % 40;
    std::vector<uint8_t> exact(length);
    const double before = clock.seconds;
    uint32_t got = 99;
    const int status = bus.read(handle, exact.data(), length, &got);
    if (length > 0 && shadow.queued == 0) {
        // Nothing will come: the read waits out its time-out and fails.
        check(status == SiStatus::ReadTimedOut && got == 0);
        check(clock.seconds > before);
        return;
    }
    check(status == SiStatus::Success);
    check(got == std::min<size_t>(length, shadow.queued));
    shadow.queued -= got;
    stream.received(exact.data(), got);
}

void timeOp(Input& in, HandClock& clock)
{
    // Usually a tick's worth; now and then a long idle spell.
    const unsigned low = in.byte();
    const unsigned ms = low | (in.byte() & 0x0Fu) << 8;
    clock.seconds += ms / 1000.0;
}

void queueOp(SimBus& bus, void* handle, const Shadow& shadow)
{
    uint32_t bytes = 99, queueStatus = 99;
    check(bus.checkRxQueue(handle, &bytes, &queueStatus) == SiStatus::Success);
    check(bytes == shadow.queued);
    check(queueStatus == (shadow.queued ? RxQueueHasBytes : RxQueueEmpty));
    // Null pointers are refused, never followed.
    uint32_t written = 99;
    check(bus.write(handle, nullptr, 12, &written) == SiStatus::InvalidParameter && written == 0);
    check(bus.read(handle, nullptr, 12, &written) == SiStatus::InvalidParameter && written == 0);
    check(bus.write(handle, nullptr, 0, nullptr) == SiStatus::InvalidParameter);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    HandClock clock;
    SimBus bus(clock);
    // Short read time-outs: the hand clock jumps over them anyway.
    bus.setTimeouts(5, 5);
    void* handle = nullptr;
    check(bus.open(0, &handle) == SiStatus::Success);

    Input in(data, size);
    Shadow shadow;
    AnswerStream stream;
    for (int ops = 0; in.more() && ops < 4096; ++ops) {
        const uint8_t op = in.byte();
        switch (op & 3) {
        case 0: writeOp(bus, handle, in, shadow, clock, op); break;
        case 1: readOp(bus, handle, in, shadow, stream, clock); break;
        case 2: timeOp(in, clock); break;
        case 3: queueOp(bus, handle, shadow); break;
        }
        checkAxis(bus.model(0));
    }
    check(bus.close(handle) == SiStatus::Success);
    uint32_t written = 99;
    check(bus.write(handle, nullptr, 12, &written) == SiStatus::InvalidHandle && written == 0);
    return 0;
}
