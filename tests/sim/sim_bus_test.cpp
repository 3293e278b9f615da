#include "manual_clock.h"
#include "design_frame.h"
#include "sim_bus.h"
#include "usb_link.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace kvx;
using namespace kvx::sim;
using kvx::sim::test::ManualClock;

using kvx::sim::test::designFrame;

namespace {

struct Transfer {
    int status;
    uint32_t count;
};

class Bus : public ::testing::Test {
protected:
    explicit Bus(const FaultScript& script = {}) : bus(clock, script) {}

    void* openFirst()
    {
        void* handle = nullptr;
        EXPECT_EQ(bus.open(0, &handle), SiStatus::Success);
        return handle;
    }
    Transfer write(void* handle, Frame frame = designFrame(), uint32_t count = FrameSize)
    {
        uint32_t written = 99;
        const int status = bus.write(handle, frame.data(), count, &written);
        return {status, written};
    }
    Transfer read(void* handle, uint32_t count = FrameSize)
    {
        uint32_t got = 99;
        const int status = bus.read(handle, received.data(), count, &got);
        return {status, got};
    }
    // One tick of the panel: the write, then the read; 30 ms pass first.
    StatusFrame exchange(void* handle, const Frame& frame)
    {
        clock.seconds += 0.03;
        EXPECT_EQ(write(handle, frame).count, FrameSize);
        EXPECT_EQ(read(handle).count, FrameSize);
        return decodeStatusFrame(received.data());
    }

    ManualClock clock;
    SimBus bus;
    std::array<uint8_t, 64> received{};
};

FaultScript scriptWith(const char* text) { return parseFaultScript(text); }

} // namespace

TEST_F(Bus, ListsTwoControllersByProductString)
{
    uint32_t count = 0;
    ASSERT_EQ(bus.getNumDevices(&count), SiStatus::Success);
    ASSERT_EQ(count, 2u);
    char buffer[257];
    for (const auto& [device, product] : {std::pair{0u, "KVX-340 X"}, std::pair{1u, "KVX-340 Y"}}) {
        std::memset(buffer, 'x', sizeof buffer);
        EXPECT_EQ(bus.getProductString(device, buffer, 0), SiStatus::Success);
        EXPECT_STREQ(buffer, product);
    }
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(bus.getProductString(2, buffer, 0), SiStatus::DeviceNotFound);
    EXPECT_EQ(buffer[0], 'x'); // untouched
    EXPECT_EQ(bus.getProductString(0, nullptr, 0), SiStatus::InvalidParameter);
    EXPECT_EQ(bus.getNumDevices(nullptr), SiStatus::InvalidParameter);
}

TEST_F(Bus, ProductStringStopsAt256BytesWithItsTerminator)
{
    FaultScript script;
    script.products = {std::string(400, 'Q')};
    ASSERT_TRUE(bus.restart(script));
    char buffer[300];
    std::memset(buffer, 'x', sizeof buffer);
    ASSERT_EQ(bus.getProductString(0, buffer, 0), SiStatus::Success);
    EXPECT_EQ(std::strlen(buffer), 255u);
    EXPECT_EQ(buffer[256], 'x'); // nothing written beyond byte 256
}

TEST_F(Bus, OpensListedControllersOnlyAndEachOnce)
{
    void* handle = reinterpret_cast<void*>(0x1234);
    EXPECT_EQ(bus.open(2, &handle), SiStatus::DeviceNotFound);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(bus.open(NoDevice, &handle), SiStatus::DeviceNotFound);
    EXPECT_EQ(bus.open(0, nullptr), SiStatus::InvalidParameter);

    void* first = openFirst();
    ASSERT_NE(first, nullptr);
    void* again = nullptr;
    EXPECT_EQ(bus.open(0, &again), SiStatus::DeviceBusy);
    void* second = nullptr;
    EXPECT_EQ(bus.open(1, &second), SiStatus::Success);
    EXPECT_NE(second, first);
    // Fits the 32 bits the panel keeps it in.
    EXPECT_LE(reinterpret_cast<uintptr_t>(second), 0xFFFFFFFFu);

    EXPECT_EQ(bus.close(first), SiStatus::Success);
    EXPECT_EQ(bus.close(first), SiStatus::InvalidHandle);
    EXPECT_EQ(write(first).status, SiStatus::InvalidHandle);
    EXPECT_EQ(read(first).status, SiStatus::InvalidHandle);
    void* reopened = openFirst();
    EXPECT_NE(reopened, first); // a stale handle never comes back to life
}

TEST_F(Bus, KeepsTheTimeouts)
{
    uint32_t readMs = 0;
    uint32_t writeMs = 0;
    ASSERT_EQ(bus.getTimeouts(&readMs, &writeMs), SiStatus::Success);
    EXPECT_EQ(readMs, DefaultTimeoutMs);
    EXPECT_EQ(bus.setTimeouts(10000, 250), SiStatus::Success);
    ASSERT_EQ(bus.getTimeouts(&readMs, &writeMs), SiStatus::Success);
    EXPECT_EQ(readMs, 10000u);
    EXPECT_EQ(writeMs, 250u);
    EXPECT_EQ(bus.getTimeouts(nullptr, &writeMs), SiStatus::InvalidParameter);
}

TEST_F(Bus, EachWriteIsAnsweredByOneStatusFrame)
{
    void* handle = openFirst();
    uint32_t queued = 99;
    uint32_t queueStatus = 99;
    ASSERT_EQ(bus.checkRxQueue(handle, &queued, &queueStatus), SiStatus::Success);
    EXPECT_EQ(queued, 0u);
    EXPECT_EQ(queueStatus, RxQueueEmpty);

    const Transfer written = write(handle, designFrame(CommandBit::Go, 300));
    EXPECT_EQ(written.status, SiStatus::Success);
    EXPECT_EQ(written.count, FrameSize);
    ASSERT_EQ(bus.checkRxQueue(handle, &queued, &queueStatus), SiStatus::Success);
    EXPECT_EQ(queued, 12u);
    EXPECT_EQ(queueStatus, RxQueueHasBytes);

    const Transfer got = read(handle);
    EXPECT_EQ(got.status, SiStatus::Success);
    EXPECT_EQ(got.count, FrameSize);
    const StatusFrame status = decodeStatusFrame(received.data());
    EXPECT_EQ(status.MotorPosition, 0);
    EXPECT_EQ(status.StatusByte, StatusBit::Busy);
    ASSERT_EQ(bus.checkRxQueue(handle, &queued, &queueStatus), SiStatus::Success);
    EXPECT_EQ(queued, 0u);
}

TEST_F(Bus, TheModelRunsOnTheClockBetweenExchanges)
{
    void* handle = openFirst();
    exchange(handle, designFrame(CommandBit::Go, 1500));
    const StatusFrame early = exchange(handle, designFrame(CommandBit::Go, 1500));
    EXPECT_GT(early.MotorPosition, 0);
    EXPECT_LT(early.MotorPosition, 100);
    clock.seconds += 2.0;
    const StatusFrame done = exchange(handle, designFrame(CommandBit::PositionMode));
    EXPECT_EQ(done.MotorPosition, 1500);
    EXPECT_EQ(done.StatusByte & StatusBit::Busy, 0);
}

TEST_F(Bus, AReadWithNothingPendingWaitsForTheReadTimeout)
{
    void* handle = openFirst();
    bus.setTimeouts(750, 10000);
    const Transfer got = read(handle);
    EXPECT_EQ(got.status, SiStatus::ReadTimedOut);
    EXPECT_EQ(got.count, 0u);
    EXPECT_DOUBLE_EQ(clock.slept, 0.75);
}

TEST_F(Bus, OtherLengthsGetShortCountsAndStayInsideTheBuffers)
{
    void* handle = openFirst();
    // A part of a frame is taken but neither acted on nor answered.
    Transfer written = write(handle, designFrame(CommandBit::Go, 500), 11);
    EXPECT_EQ(written.status, SiStatus::Success);
    EXPECT_EQ(written.count, 11u);
    uint32_t queued = 0;
    uint32_t queueStatus = 0;
    bus.checkRxQueue(handle, &queued, &queueStatus);
    EXPECT_EQ(queued, 0u);
    EXPECT_FALSE(bus.model(0).movePending());

    // More than a frame: one frame is taken.
    std::array<uint8_t, 20> longer{};
    const Frame frame = designFrame(CommandBit::Go, 500);
    std::copy(frame.begin(), frame.end(), longer.begin());
    uint32_t count = 0;
    EXPECT_EQ(bus.write(handle, longer.data(), 20, &count), SiStatus::Success);
    EXPECT_EQ(count, 12u);
    EXPECT_TRUE(bus.model(0).movePending());

    // A read of 5 takes 5 and leaves 7; a read of 20 then gets those 7.
    received.fill(0xEE);
    EXPECT_EQ(read(handle, 5).count, 5u);
    EXPECT_EQ(received[5], 0xEE);
    bus.checkRxQueue(handle, &queued, &queueStatus);
    EXPECT_EQ(queued, 7u);
    const Transfer rest = read(handle, 20);
    EXPECT_EQ(rest.status, SiStatus::Success);
    EXPECT_EQ(rest.count, 7u);

    EXPECT_EQ(bus.write(handle, nullptr, 12, &count), SiStatus::InvalidParameter);
    EXPECT_EQ(bus.write(handle, longer.data(), 12, nullptr), SiStatus::InvalidParameter);
    EXPECT_EQ(bus.read(handle, nullptr, 12, &count), SiStatus::InvalidParameter);
}

TEST_F(Bus, UnreadAnswersAreBounded)
{
    void* handle = openFirst();
    for (int i = 0; i < 1000; ++i)
        write(handle);
    uint32_t queued = 0;
    uint32_t queueStatus = 0;
    bus.checkRxQueue(handle, &queued, &queueStatus);
    EXPECT_EQ(queued, MaxQueuedBytes);
}

// Found by fuzz_sim_command: a partly read answer followed by more unread
// answers than are kept used to leave the reader in the middle of a frame.
TEST_F(Bus, OverflowKeepsTheRestOfAPartlyReadAnswer)
{
    void* handle = openFirst();
    std::array<uint8_t, FrameSize> first{};
    uint32_t got = 0;
    write(handle, designFrame(CommandBit::Go, 1));
    ASSERT_EQ(bus.read(handle, first.data(), 6, &got), SiStatus::Success);
    ASSERT_EQ(got, 6u);
    // Answers that each tell another position, more than the queue keeps.
    for (int i = 0; i < 70; ++i) {
        clock.seconds += 1.0;
        write(handle, designFrame(CommandBit::Go, 1000 * (i + 2)));
    }
    uint32_t queued = 0, queueStatus = 0;
    bus.checkRxQueue(handle, &queued, &queueStatus);
    EXPECT_EQ(queued % FrameSize, 6u);
    EXPECT_LE(queued, MaxQueuedBytes);

    ASSERT_EQ(bus.read(handle, first.data() + 6, 6, &got), SiStatus::Success);
    const StatusFrame rest = decodeStatusFrame(first.data());
    EXPECT_EQ(rest.MotorPosition, rest.IdealPosition);
    // Every whole answer after it is one frame, motor and ideal together.
    while (read(handle).count == FrameSize) {
        const StatusFrame status = decodeStatusFrame(received.data());
        EXPECT_EQ(status.MotorPosition, status.IdealPosition);
        EXPECT_EQ(received[5] | received[6] | received[7], 0);
    }
}

TEST_F(Bus, FramesWithWrongConstantBitsAreAnsweredButNotActedOn)
{
    void* handle = openFirst();
    Frame bad = designFrame(CommandBit::Go, 1000);
    bad[7] = 0; // options byte without its constant bits
    EXPECT_EQ(write(handle, bad).count, FrameSize);
    EXPECT_EQ(read(handle).count, FrameSize);
    bad = designFrame(CommandBit::Go, 1000);
    bad[6] = 101; // idle percentage
    write(handle, bad);
    EXPECT_EQ(bus.model(0).rejectedFrames(), 2u);
    EXPECT_FALSE(bus.model(0).movePending());
}

TEST_F(Bus, RestartIsRefusedWhileAHandleIsOpen)
{
    void* handle = openFirst();
    EXPECT_FALSE(bus.restart(scriptWith("no-devices")));
    uint32_t count = 0;
    bus.getNumDevices(&count);
    EXPECT_EQ(count, 2u);
    bus.close(handle);
    EXPECT_TRUE(bus.restart(scriptWith("no-devices")));
    bus.getNumDevices(&count);
    EXPECT_EQ(count, 0u);
}

TEST_F(Bus, ListingFaults)
{
    uint32_t count = 77;
    ASSERT_TRUE(bus.restart(scriptWith("count-fails")));
    EXPECT_EQ(bus.getNumDevices(&count), SiStatus::DeviceIoFailed);
    EXPECT_EQ(count, 0u);

    ASSERT_TRUE(bus.restart(scriptWith("products=A1,B2,C3")));
    EXPECT_EQ(bus.getNumDevices(&count), SiStatus::Success);
    EXPECT_EQ(count, 3u);
    char buffer[257];
    bus.getProductString(2, buffer, 0);
    EXPECT_STREQ(buffer, "C3");

    ASSERT_TRUE(bus.restart(scriptWith("open-fails")));
    void* handle = nullptr;
    EXPECT_EQ(bus.open(0, &handle), SiStatus::DeviceIoFailed);
    EXPECT_EQ(handle, nullptr);
}

// The script wires every controller, a placed one too.
TEST_F(Bus, SwitchesWiredActiveHighWantTheOption)
{
    ASSERT_TRUE(bus.restart(scriptWith("switches-active-high;start-at=-1000")));
    CommandFrame go = test::designCommand(CommandBit::Go, 300);
    go.OptionsByte |= OptionBit::LimitActiveHigh;
    void* handle = openFirst();
    EXPECT_EQ(exchange(handle, encodeCommandFrame(go)).StatusByte, StatusBit::Busy | StatusBit::ActiveHigh);
    EXPECT_GT(exchange(handle, encodeCommandFrame(go)).MotorPosition, -1000);
}

// Each timed fault, scripted at exchange 3: the first two exchanges go
// through, the third gives the promised status and count.
TEST_F(Bus, TimedFaultsStrikeAtTheirExchange)
{
    struct Case {
        const char* script;
        Transfer write;
        Transfer read; // not made when the write fails
    };
    const Transfer ok{SiStatus::Success, 12};
    for (const Case c : {
             Case{"fail-write@3", {SiStatus::WriteError, 0}, {}},
             Case{"short-write@3", {SiStatus::Success, ShortWriteBytes}, {SiStatus::ReadTimedOut, 0}},
             Case{"fail-read@3", ok, {SiStatus::ReadError, 0}},
             Case{"short-read@3", ok, {SiStatus::Success, ShortReadBytes}},
             Case{"read-timeout@3", ok, {SiStatus::ReadTimedOut, 0}},
             Case{"unplug@3", {SiStatus::DeviceIoFailed, 0}, {}},
         }) {
        ManualClock localClock;
        SimBus local(localClock, scriptWith(c.script));
        local.setTimeouts(100, 100);
        void* handle = nullptr;
        ASSERT_EQ(local.open(0, &handle), SiStatus::Success);
        const Frame frame = designFrame();
        std::array<uint8_t, 12> buffer{};
        uint32_t count = 0;
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(local.write(handle, frame.data(), 12, &count), SiStatus::Success) << c.script;
            EXPECT_EQ(local.read(handle, buffer.data(), 12, &count), SiStatus::Success) << c.script;
            EXPECT_EQ(count, 12u) << c.script;
        }
        EXPECT_EQ(local.write(handle, frame.data(), 12, &count), c.write.status) << c.script;
        EXPECT_EQ(count, c.write.count) << c.script;
        if (c.write.status == SiStatus::Success) {
            EXPECT_EQ(local.read(handle, buffer.data(), 12, &count), c.read.status) << c.script;
            EXPECT_EQ(count, c.read.count) << c.script;
        }
        // Later exchanges go through again, except on an unplugged controller.
        const bool unplugged = std::string(c.script).starts_with("unplug");
        EXPECT_EQ(local.write(handle, frame.data(), 12, &count),
                  unplugged ? SiStatus::DeviceIoFailed : SiStatus::Success)
            << c.script;
        EXPECT_EQ(local.isPlugged(0), !unplugged) << c.script;
    }
}

TEST_F(Bus, TimedFaultsStrikeAtTheirTimeAfterTheOpen)
{
    ASSERT_TRUE(bus.restart(scriptWith("fail-read@t=2.5s")));
    void* handle = openFirst();
    clock.seconds += 2.4;
    write(handle);
    EXPECT_EQ(read(handle).status, SiStatus::Success);
    clock.seconds += 0.1;
    write(handle);
    const Transfer failed = read(handle);
    EXPECT_EQ(failed.status, SiStatus::ReadError);
    EXPECT_EQ(failed.count, 0u);
    write(handle);
    EXPECT_EQ(read(handle).status, SiStatus::Success); // once per open
}

TEST_F(Bus, AnUnpluggedControllerLeavesTheList)
{
    ASSERT_TRUE(bus.restart(scriptWith("unplug@1")));
    void* handle = openFirst();
    EXPECT_EQ(write(handle).status, SiStatus::DeviceIoFailed);
    EXPECT_EQ(read(handle).status, SiStatus::DeviceIoFailed);
    uint32_t queued = 0;
    uint32_t queueStatus = 0;
    EXPECT_EQ(bus.checkRxQueue(handle, &queued, &queueStatus), SiStatus::DeviceIoFailed);
    uint32_t count = 0;
    bus.getNumDevices(&count);
    EXPECT_EQ(count, 1u);
    char buffer[257];
    bus.getProductString(0, buffer, 0);
    EXPECT_STREQ(buffer, "KVX-340 Y");
    // The handle is the host's: closing it releases it, so the bus can list
    // its controllers afresh.
    EXPECT_EQ(bus.close(handle), SiStatus::Success);
    EXPECT_TRUE(bus.restart(scriptWith("")));
}
