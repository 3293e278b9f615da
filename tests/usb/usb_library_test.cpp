// The USB library (libkvx340usb) in this process, against emulated
// controllers on an emulated bus: each case is a sequence of library calls
// with the statuses and bytes they must give, and the requests, claims and
// frames the devices must have seen, in order.
#include "device_ids.h"
#include "emulated_bus.h"
#include "frames.h"
#include "usb_transport.h"
#include "usbxpress.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <optional>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

using kvx::usbtest::ControllerFaults;
using kvx::usbtest::ControllerIdentity;
using kvx::usbtest::EmulatedBus;
using kvx::usbtest::WithoutFileModeOverride;

// Added out of order, so that the library's order (by port) shows: X on
// port 2, Y on port 3 with other endpoint addresses, and Z on port 1 with
// a product id of its own and a name beyond ASCII, listed only when
// KVX340_USB_IDS names it.
enum Emulated { Y, X, Z };

EmulatedBus& bus()
{
    static EmulatedBus instance({
        {"KVX-340 Y", 0x10C4, 0xEA61, 0x82, 0x02, 3},
        {"KVX-340 X", 0x10C4, 0xEA61, 0x81, 0x01, 2},
        {"Achse \u00c4 Z", 0x10C4, 0x8A5E, 0x81, 0x01, 1},
    });
    return instance;
}

// An enabled drive, idle, at the design values; and the move to 188 steps.
constexpr const char* EnableFrame = "b44b6408ff7f329000000040";
constexpr const char* GoFrame = "b44b6409ff7f3290bc000040";

std::vector<uint8_t> bytesOf(const std::string& hex)
{
    std::vector<uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(uint8_t(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

std::string hexOf(const uint8_t* bytes, std::size_t n)
{
    std::string hex;
    char two[3];
    for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(two, sizeof two, "%02x", bytes[i]);
        hex += two;
    }
    return hex;
}

// What the simulator's axis answers to a first frame.
std::string answerTo(const char* frame)
{
    kvx::sim::AxisModel model;
    model.apply(kvx::decodeCommandFrame(bytesOf(frame).data()));
    const kvx::Frame answer = kvx::encodeStatusFrame(model.status());
    return hexOf(answer.data(), answer.size());
}

// EndUnclosed: a program of its own opens the device and ends without
// closing it.
enum class Op { Count, String, Open, Close, CloseStale, WriteStale, Write, Read, Queue, Timeouts, Sleep, Unplug, Garbage,
                EndUnclosed };

struct Step {
    Op op;
    uint32_t arg = 0;      // device number, option, byte count, milliseconds
    std::string text = {}; // string or bytes (hex) expected, or written
    int status = 0;
    uint32_t count = 0;    // count expected
    uint32_t option = 0;
};

struct Case {
    const char* name;
    ControllerFaults faults; // of X
    const char* ids;         // KVX340_USB_IDS, or none
    std::vector<Step> steps;
    std::vector<std::string> log;
};

// Named by its case in test listings, not by its bytes.
void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

const std::string EnableAnswer = answerTo(EnableFrame);
const std::vector<std::string> OpenX = {"X claim", "X clear-halt 81", "X clear-halt 01", "X request flush",
                                        "X request open"};
const std::vector<std::string> CloseX = {"X request close", "X release"};

std::vector<std::string> joined(std::initializer_list<std::vector<std::string>> parts)
{
    std::vector<std::string> all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

const std::vector<Case>& cases()
{
    static const std::vector<Case> table = {
        {"ListsByPortWithSerialStrings", {}, nullptr,
         {{Op::Count, 0, "", 0, 2},
          {Op::String, 0, "KVX-340 X"},
          {Op::String, 1, "KVX-340 Y"},
          {Op::String, 0, "KVX-340 stepper controller (emulated)", 0, 0, 1},
          {Op::String, 0, "KVX test bench", 0, 0, 2},
          {Op::String, 1, "10c4", 0, 0, 3},
          {Op::String, 1, "ea61", 0, 0, 4},
          {Op::String, 2, "", 0xFF},
          {Op::String, 0, "", 0x06, 0, 5}},
         {}},
        {"OtherProductIdsOnlyWhenNamed", {}, " 10c4:ea61 , 10C4:8A5E",
         {{Op::Count, 0, "", 0, 3}, {Op::String, 0, "Achse \xc3\x84 Z"}, {Op::String, 1, "KVX-340 X"},
          {Op::String, 0, "8a5e", 0, 0, 4}},
         {}},
        {"MalformedIdsAreIgnored", {}, "10c4-8a5e",
         {{Op::Count, 0, "", 0, 2}, {Op::String, 0, "KVX-340 X"}},
         {}},
        {"OpensExchangesAndClosesInOrder", {}, nullptr,
         {{Op::Count, 0, "", 0, 2},
          {Op::Open, 0},
          {Op::Write, 12, EnableFrame, 0, 12},
          {Op::Read, 12, EnableAnswer, 0, 12},
          {Op::Write, 12, GoFrame, 0, 12},
          {Op::Queue, 0, "", 0, 0},
          {Op::String, 0, "KVX-340 X"}, // asked through the open handle
          {Op::Close}},
         joined({OpenX, {std::string("X frame out ") + EnableFrame, "X frame in " + EnableAnswer,
                         std::string("X frame out ") + GoFrame},
                 CloseX})},
        {"EndpointsAreReadFromTheInterface", {}, nullptr,
         {{Op::Count, 0, "", 0, 2}, {Op::Open, 1}, {Op::Write, 12, EnableFrame, 0, 12},
          {Op::Read, 12, EnableAnswer, 0, 12}, {Op::Close}},
         {"Y claim", "Y clear-halt 82", "Y clear-halt 02", "Y request flush", "Y request open",
          std::string("Y frame out ") + EnableFrame, "Y frame in " + EnableAnswer, "Y request close", "Y release"}},
        {"ShortReadsLeaveTheRestQueued", {}, nullptr,
         {{Op::Count, 0, "", 0, 2},
          {Op::Open, 0},
          {Op::Write, 12, EnableFrame, 0, 12},
          {Op::Read, 5, EnableAnswer.substr(0, 10), 0, 5},
          {Op::Queue, 0, "", 0, 7},
          {Op::Read, 12, EnableAnswer.substr(10), 0, 7},
          {Op::Queue, 0, "", 0, 0},
          {Op::Close}},
         joined({OpenX, {std::string("X frame out ") + EnableFrame, "X frame in " + EnableAnswer}, CloseX})},
        {"QueuedBytesServeAReadWithoutAskingTheDevice", {}, nullptr,
         {{Op::Count, 0, "", 0, 2},
          {Op::Open, 0},
          {Op::Write, 12, EnableFrame, 0, 12},
          {Op::Read, 5, EnableAnswer.substr(0, 10), 0, 5},
          {Op::Write, 12, EnableFrame, 0, 12}, // its answer waits on the device
          {Op::Read, 12, EnableAnswer.substr(10), 0, 7},
          {Op::Queue, 0, "", 0, 0},
          {Op::Close}},
         joined({OpenX,
                 {std::string("X frame out ") + EnableFrame, "X frame in " + EnableAnswer,
                  std::string("X frame out ") + EnableFrame},
                 CloseX})},
        {"ReadsOfAnySizeAskForOneTransfer", {}, nullptr,
         {{Op::Count, 0, "", 0, 2},
          {Op::Open, 0},
          {Op::Write, 12, EnableFrame, 0, 12},
          {Op::Read, 0xFFFFFFF0, EnableAnswer, 0, 12}, // the count of packets would overflow
          {Op::Write, 12, EnableFrame, 0, 12},
          {Op::Read, 0x80000001, EnableAnswer, 0, 12}, // above INT_MAX
          {Op::Close}},
         joined({OpenX,
                 {std::string("X frame out ") + EnableFrame, "X frame in " + EnableAnswer,
                  std::string("X frame out ") + EnableFrame, "X frame in " + EnableAnswer},
                 CloseX})},
        {"ReadWithNoTimeOutReturnsAtOnce", {.silent = true}, nullptr,
         {{Op::Count, 0, "", 0, 2},
          {Op::Timeouts, 0},
          {Op::Open, 0},
          {Op::Write, 12, EnableFrame, 0, 12},
          {Op::Read, 12, "", 0x0D, 0},
          {Op::Close}},
         joined({OpenX, {std::string("X frame out ") + EnableFrame}, CloseX})},
        {"ReadWithNothingToComeTimesOut", {.silent = true}, nullptr,
         {{Op::Count, 0, "", 0, 2},
          {Op::Timeouts, 150},
          {Op::Open, 0},
          {Op::Write, 12, EnableFrame, 0, 12},
          {Op::Read, 12, "", 0x0D, 0},
          {Op::Close}},
         joined({OpenX, {std::string("X frame out ") + EnableFrame}, CloseX})},
        {"UnpluggedDeviceFailsTransfersButCloses", {}, nullptr,
         {{Op::Count, 0, "", 0, 2},
          {Op::Open, 0},
          {Op::Write, 12, EnableFrame, 0, 12},
          {Op::Read, 12, EnableAnswer, 0, 12},
          {Op::Unplug},
          {Op::Write, 12, EnableFrame, 0x08, 0},
          {Op::Read, 12, "", 0x08, 0},
          {Op::Close}},
         joined({OpenX, {std::string("X frame out ") + EnableFrame, "X frame in " + EnableAnswer, "X unplugged",
                         "X release"}})},
        {"UnpluggedAtAGivenTime", {.unplugAfter = 0.2}, nullptr,
         {{Op::Count, 0, "", 0, 2},
          {Op::Open, 0},
          {Op::Write, 12, EnableFrame, 0, 12},
          {Op::Read, 12, EnableAnswer, 0, 12},
          {Op::Sleep, 300},
          {Op::Write, 12, EnableFrame, 0x08, 0},
          {Op::Close}},
         joined({OpenX, {std::string("X frame out ") + EnableFrame, "X frame in " + EnableAnswer, "X unplugged",
                         "X release"}})},
        {"BoundDriverIsDetachedAndGivenBack", {.driverBound = true}, nullptr,
         {{Op::Count, 0, "", 0, 2}, {Op::Open, 0}, {Op::Close}},
         joined({{"X driver detached cp210x"}, OpenX, CloseX, {"X driver attached cp210x"}})},
        {"BoundDriverIsGivenBackByAProgramEndingWithoutClose", {.driverBound = true}, nullptr,
         {{Op::EndUnclosed, 0}},
         joined({{"X driver detached cp210x"}, OpenX, {"X release", "X driver attached cp210x"}})},
        {"InterfaceHeldElsewhereIsBusy", {.heldElsewhere = true}, nullptr,
         {{Op::Count, 0, "", 0, 2}, {Op::Open, 0, "", 0x13}},
         {}},
        {"RefusedOpenIsAFailedOpenButTheNameIsListed", {.refuseOpen = true}, nullptr,
         {{Op::Count, 0, "", 0, 2}, {Op::String, 0, "KVX-340 X"}, {Op::Open, 0, "", 0x08}},
         {}},
        {"OpenTwiceFailsTheSecond", {}, nullptr,
         {{Op::Count, 0, "", 0, 2}, {Op::Open, 0}, {Op::Open, 0, "", 0x13}, {Op::Close}},
         joined({OpenX, CloseX})},
        {"NoDeviceNumbersBeyondTheList", {}, nullptr,
         {{Op::Count, 0, "", 0, 2}, {Op::Open, 0xFFFFFFFF, "", 0xFF}, {Op::Open, 2, "", 0xFF}},
         {}},
        {"ForeignOrClosedHandlesAreRefused", {}, nullptr,
         {{Op::Count, 0, "", 0, 2},
          {Op::Garbage},
          {Op::Open, 0},
          {Op::Close},
          {Op::CloseStale, 0, "", 0x01},
          {Op::Open, 0}, // the device again, under a new handle
          {Op::WriteStale, 12, EnableFrame, 0x01},
          {Op::Close}},
         joined({OpenX, CloseX, OpenX, CloseX})},
    };
    return table;
}

// A call that never returns would hold the run until CTest's limit: the
// test program ends at once instead, after the case's name.
constexpr unsigned StepLimitSeconds = 30;

void onStepLimit(int)
{
    static const char said[] = "a library call has not returned after 30 s\n";
    [[maybe_unused]] const auto written = write(STDERR_FILENO, said, sizeof said - 1);
    _exit(1);
}

class UsbLibrary : public testing::TestWithParam<Case> {
protected:
    void SetUp() override
    {
        for (Emulated device : {Y, X, Z})
            bus().reset(device);
        bus().reset(X, GetParam().faults);
        bus().clearLog();
        if (GetParam().ids)
            setenv(kvx::usb::DeviceIdsVariable, GetParam().ids, 1);
        else
            unsetenv(kvx::usb::DeviceIdsVariable);
        SI_SetTimeouts(1000, 1000);
    }
};

TEST_P(UsbLibrary, CallsGiveTheirStatusesAndTheDevicesSeeTheTraffic)
{
    void* handle = nullptr;
    void* stale = nullptr;
    uint32_t readTimeout = 1000;
    std::optional<WithoutFileModeOverride> ordinaryUser;
    if (GetParam().faults.refuseOpen)
        ordinaryUser.emplace();
    for (std::size_t i = 0; i < GetParam().steps.size(); ++i) {
        const Step& step = GetParam().steps[i];
        SCOPED_TRACE("step " + std::to_string(i));
        const auto started = std::chrono::steady_clock::now();
        std::signal(SIGALRM, onStepLimit);
        alarm(StepLimitSeconds);
        uint32_t count = 0xDEAD;
        switch (step.op) {
        case Op::Count:
            EXPECT_EQ(SI_GetNumDevices(&count), step.status);
            EXPECT_EQ(count, step.count);
            break;
        case Op::String: {
            char buffer[257];
            std::memset(buffer, 'x', sizeof buffer);
            EXPECT_EQ(SI_GetProductString(step.arg, buffer, step.option), step.status);
            if (step.status == 0) {
                EXPECT_EQ(std::string(buffer), step.text);
            }
            break;
        }
        case Op::Open: {
            void* opened = reinterpret_cast<void*>(0x1);
            EXPECT_EQ(SI_Open(step.arg, &opened), step.status);
            if (step.status == 0) {
                handle = opened;
            } else {
                EXPECT_EQ(opened, nullptr);
            }
            break;
        }
        case Op::Close:
            EXPECT_EQ(SI_Close(handle), step.status);
            stale = handle;
            break;
        case Op::CloseStale:
            EXPECT_EQ(SI_Close(stale), step.status);
            break;
        case Op::WriteStale: {
            std::vector<uint8_t> frame = bytesOf(step.text);
            EXPECT_EQ(SI_Write(stale, frame.data(), step.arg, &count, nullptr), step.status);
            break;
        }
        case Op::EndUnclosed: {
            kvx::usb::UsbTransport program;
            void* opened = nullptr;
            EXPECT_EQ(program.getNumDevices(&count), 0);
            EXPECT_EQ(program.open(step.arg, &opened), 0);
            break;
        }
        case Op::Write: {
            std::vector<uint8_t> frame = bytesOf(step.text);
            EXPECT_EQ(SI_Write(handle, frame.data(), step.arg, &count, nullptr), step.status);
            EXPECT_EQ(count, step.count);
            break;
        }
        case Op::Read: {
            uint8_t buffer[64] = {};
            EXPECT_EQ(SI_Read(handle, buffer, step.arg, &count, nullptr), step.status);
            EXPECT_EQ(count, step.count);
            EXPECT_EQ(hexOf(buffer, count == 0xDEAD ? 0 : count), step.text);
            break;
        }
        case Op::Queue: {
            uint32_t queueStatus = 7;
            EXPECT_EQ(SI_CheckRXQueue(handle, &count, &queueStatus), 0);
            EXPECT_EQ(count, step.count);
            EXPECT_EQ(queueStatus, step.count ? 1u : 0u);
            break;
        }
        case Op::Timeouts: {
            uint32_t r = 0, w = 0;
            EXPECT_EQ(SI_SetTimeouts(step.arg, step.arg), 0);
            EXPECT_EQ(SI_GetTimeouts(&r, &w), 0);
            EXPECT_EQ(r, step.arg);
            EXPECT_EQ(w, step.arg);
            readTimeout = step.arg;
            break;
        }
        case Op::Sleep:
            std::this_thread::sleep_for(std::chrono::milliseconds(step.arg));
            break;
        case Op::Unplug:
            bus().unplug(X);
            break;
        case Op::Garbage: {
            // Never handed out: refused, not followed.
            void* foreign = reinterpret_cast<void*>(uintptr_t(0xBADC0DE));
            uint8_t buffer[12] = {};
            uint32_t queueStatus = 0;
            EXPECT_EQ(SI_Close(foreign), 0x01);
            EXPECT_EQ(SI_Close(nullptr), 0x01);
            EXPECT_EQ(SI_Write(foreign, buffer, 12, &count, nullptr), 0x01);
            EXPECT_EQ(SI_Read(foreign, buffer, 12, &count, nullptr), 0x01);
            EXPECT_EQ(count, 0u);
            EXPECT_EQ(SI_CheckRXQueue(foreign, &count, &queueStatus), 0x01);
            break;
        }
        }
        alarm(0);
        // No call waits for good: a bound a loaded machine meets. Whether a
        // call waited at all is told by the device's log, not the clock.
        if (step.op != Op::Sleep) {
            EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(readTimeout + 20000));
        }
    }
    EXPECT_EQ(bus().log(), GetParam().log);
}

INSTANTIATE_TEST_SUITE_P(Emulated, UsbLibrary, testing::ValuesIn(cases()),
                         [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// The list a controller with its own product id is named in.
TEST(DeviceIds, ReadsPairsOfHexadecimalIdsAndRefusesAnythingElse)
{
    using kvx::usb::DeviceId;
    using kvx::usb::parseDeviceIds;
    const struct {
        const char* text;
        std::optional<std::vector<DeviceId>> ids;
    } table[] = {
        {"10c4:ea61", std::vector<DeviceId>{{0x10C4, 0xEA61}}},
        {" 10C4:EA61 ,10c4:8a5e", std::vector<DeviceId>{{0x10C4, 0xEA61}, {0x10C4, 0x8A5E}}},
        {"1:2", std::vector<DeviceId>{{1, 2}}},
        {"", std::nullopt},
        {"10c4", std::nullopt},
        {"10c4:ea61,", std::nullopt},
        {"10c4:ea611", std::nullopt},
        {"10c4:-ea6", std::nullopt},
        {"10c4:xyz1", std::nullopt},
        {"0x10c4:ea61", std::nullopt},
        {"10c4 ea61", std::nullopt},
    };
    for (const auto& row : table)
        EXPECT_EQ(parseDeviceIds(row.text), row.ids) << row.text;
}

} // namespace
