// The simulator as the program meets it: libkvx340sim loaded from its build
// folder through the same binding as the vendor's library, on the steady clock.
#include "exchange.h"
#include "design_frame.h"
#include "fault_script.h"
#include "frames.h"
#include "sim_bus.h"
#include "usb_library.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

using namespace kvx;

using kvx::sim::test::designFrame;

namespace {

const QString SimLibraryPath = QStringLiteral(KVX_SIM_LIBRARY_DIR "/kvx340sim");

struct Transfer {
    int16_t status;
    uint32_t count;
};

// The library keeps its bus for the whole process, so every test closes
// what it opens, and picks its fault script with a fresh device count.
class SimLibrary : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (handle)
            link.SI_Close(handle);
        qunsetenv(sim::FaultScriptVariable);
    }
    uint32_t listWith(const char* faults, int16_t expectedStatus = 0)
    {
        qputenv(sim::FaultScriptVariable, faults);
        uint32_t count = 99;
        EXPECT_EQ(link.SI_GetNumDevices(&count), expectedStatus) << faults;
        return count;
    }
    void openFirst()
    {
        ASSERT_EQ(link.SI_SetTimeouts(50, 50), 0);
        ASSERT_EQ(link.SI_Open(0, &handle), 0);
    }
    Transfer write(Frame frame = designFrame())
    {
        uint32_t written = 0;
        const int16_t status = link.SI_Write(handle, frame.data(), FrameSize, &written);
        return {status, written};
    }
    Transfer read()
    {
        uint32_t got = 0;
        const int16_t status = link.SI_Read(handle, buffer.data(), FrameSize, &got);
        return {status, got};
    }

    UsbLibrary link{SimLibraryPath, QStringLiteral("kvx340sim")};
    UsbHandle handle = nullptr;
    std::array<uint8_t, 13> buffer{};
};

} // namespace

TEST_F(SimLibrary, ListsTheTwoControllers)
{
    ASSERT_EQ(listWith(""), 2u);
    std::array<uint8_t, 257> product{};
    EXPECT_EQ(link.SI_GetProductString(0, product.data(), 0), 0);
    EXPECT_STREQ(reinterpret_cast<char*>(product.data()), "KVX-340 X");
    EXPECT_EQ(link.SI_GetProductString(1, product.data(), 0), 0);
    EXPECT_STREQ(reinterpret_cast<char*>(product.data()), "KVX-340 Y");

    uint32_t readMs = 0;
    uint32_t writeMs = 0;
    EXPECT_EQ(link.SI_SetTimeouts(10000, 10000), 0);
    EXPECT_EQ(link.SI_GetTimeouts(&readMs, &writeMs), 0);
    EXPECT_EQ(readMs, 10000u);
    EXPECT_EQ(writeMs, 10000u);
}

TEST_F(SimLibrary, OpensOnlyListedControllers)
{
    listWith("");
    EXPECT_NE(link.SI_Open(NoDevice, &handle), 0);
    EXPECT_NE(link.SI_Open(2, &handle), 0);
    EXPECT_EQ(link.SI_Open(1, &handle), 0);
    EXPECT_NE(handle, nullptr);
}

TEST_F(SimLibrary, ThePositionMovesTowardTheTargetAsTimePasses)
{
    listWith("");
    openFirst();
    int64_t previous = 0;
    int moved = 0;
    for (int tick = 0; tick < 10; ++tick) {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        ASSERT_EQ(write(designFrame(CommandBit::Go, 100000)).count, FrameSize); // far off
        uint32_t queued = 0;
        uint32_t queueStatus = 0;
        EXPECT_EQ(link.SI_CheckRXQueue(handle, &queued, &queueStatus), 0);
        EXPECT_EQ(queued, 12u);
        ASSERT_EQ(read().count, FrameSize);
        const StatusFrame status = decodeStatusFrame(buffer.data());
        EXPECT_TRUE(status.StatusByte & StatusBit::Busy);
        EXPECT_GE(status.MotorPosition, previous);
        moved += status.MotorPosition > previous ? 1 : 0;
        previous = status.MotorPosition;
    }
    EXPECT_GE(moved, 8);
    EXPECT_GT(previous, 100); // 0.3 s at up to 1800 steps/s
}

TEST_F(SimLibrary, ThePanelsTickDrivesAMoveToItsEnd)
{
    listWith("");
    openFirst();
    MotionState state;
    state.DeviceHandle = handle;
    state.EnableFlag = CommandBit::Enable;
    state.Demultiplication = 15;
    state.GoFlag = CommandBit::Go;
    const SliderValues sliders;
    TickResult result;
    for (int tick = 0; tick < 50; ++tick) {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        result = runExchange(state, sliders, 187.5, link);
        ASSERT_FALSE(result.failed) << result.failureMessage.toStdString();
        state.GoFlag = 0; // released after the first frame
        if (tick > 0 && !result.display.alerts.Shape2)
            break;
    }
    EXPECT_EQ(result.display.Text1, QStringLiteral("12.53")); // 188 steps
    EXPECT_EQ(result.display.Text3, QStringLiteral("188"));
    EXPECT_FALSE(result.display.alerts.Shape2);
}

TEST_F(SimLibrary, AReadWithNothingPendingWaitsForTheTimeoutAndFails)
{
    listWith("");
    openFirst();
    const auto start = std::chrono::steady_clock::now();
    const Transfer got = read();
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(got.status, SiStatus::ReadTimedOut);
    EXPECT_EQ(got.count, 0u);
    // At least the time-out; the upper bound only names a read that waits
    // for good, and a loaded machine meets it.
    EXPECT_GE(waited, std::chrono::milliseconds(45));
    EXPECT_LT(waited, std::chrono::seconds(30));
}

TEST_F(SimLibrary, ScriptedListingFaults)
{
    EXPECT_EQ(listWith("count-fails", SiStatus::DeviceIoFailed), 0u);
    EXPECT_EQ(listWith("no-devices"), 0u);
    EXPECT_NE(link.SI_Open(0, &handle), 0);

    ASSERT_EQ(listWith("products=A1,B2"), 2u);
    std::array<uint8_t, 257> product{};
    link.SI_GetProductString(1, product.data(), 0);
    EXPECT_STREQ(reinterpret_cast<char*>(product.data()), "B2");

    listWith("open-fails");
    EXPECT_EQ(link.SI_Open(0, &handle), SiStatus::DeviceIoFailed);

    // Malformed items are skipped: the good ones still apply.
    EXPECT_EQ(listWith("products=;;@@;fail-write@x;products=Q"), 1u);
}

TEST_F(SimLibrary, ScriptedExchangeFaultsGiveTheirStatusAndCount)
{
    struct Case {
        const char* script;
        Transfer write;
        Transfer read; // made only after a successful write
        int pauseMs = 0; // before the second exchange
    };
    const Transfer ok{0, 12};
    for (const Case c : {
             Case{"fail-write@2", {SiStatus::WriteError, 0}, {}},
             Case{"short-write@2", {0, 11}, {SiStatus::ReadTimedOut, 0}},
             Case{"fail-read@2", ok, {SiStatus::ReadError, 0}},
             Case{"short-read@2", ok, {0, 6}},
             Case{"read-timeout@2", ok, {SiStatus::ReadTimedOut, 0}},
             Case{"unplug@2", {SiStatus::DeviceIoFailed, 0}, {}},
             Case{"fail-write@t=0.15s", {SiStatus::WriteError, 0}, {}, 200},
         }) {
        listWith(c.script);
        openFirst();
        const Transfer firstWrite = write();
        const Transfer firstRead = read();
        EXPECT_EQ(firstWrite.count, 12u) << c.script;
        EXPECT_EQ(firstRead.count, 12u) << c.script;
        std::this_thread::sleep_for(std::chrono::milliseconds(c.pauseMs));
        const Transfer written = write();
        EXPECT_EQ(written.status, c.write.status) << c.script;
        EXPECT_EQ(written.count, c.write.count) << c.script;
        if (c.write.status == 0) {
            const Transfer got = read();
            EXPECT_EQ(got.status, c.read.status) << c.script;
            EXPECT_EQ(got.count, c.read.count) << c.script;
        }
        EXPECT_EQ(link.SI_Close(handle), 0) << c.script;
        handle = nullptr;
    }
}
