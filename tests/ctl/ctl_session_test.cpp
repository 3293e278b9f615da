// kvx340ctl's sessions on a scripted library: which controller, what goes
// on the wire, what is printed and how the program ends.
#include "ctl_options.h"
#include "ctl_session.h"
#include "scripted_link.h"
#include "usbxpress.h"

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace kvx;
using namespace kvx::ctl;

namespace {

constexpr uint8_t Busy = StatusBit::Busy;
// Every wait ends as soon as its condition holds; the bound only names a
// hang, and a loaded machine meets it.
constexpr int WaitBoundMs = 30000;

class SessionTest : public ::testing::Test {
protected:
    SessionTest() { link.products = {"KVX-340 X"}; }

    // Runs the command line to its end (or until `until` says to stop
    // waiting); the exit status.
    int run(const QString& line, const std::function<bool()>& until = {})
    {
        QStringList arguments{QStringLiteral("kvx340ctl")};
        arguments += line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        const Parsed parsed = parseCommandLine(arguments);
        EXPECT_EQ(parsed.kind, Parsed::Kind::Run) << parsed.text.toStdString();
        session = std::make_unique<Session>(link, parsed.request, outStream, errStream);
        if (session->start()) {
            EXPECT_TRUE(QTest::qWaitFor([&] { return session->ended() || (until && until()); }, WaitBoundMs));
        }
        return session->exitStatus();
    }

    // Command bytes without the toggle bit.
    std::vector<int> commandBytes() const
    {
        std::vector<int> bytes;
        for (const Frame& frame : link.written)
            bytes.push_back(frame[3] & 0x7F);
        return bytes;
    }

    test::ScriptedLink link;
    QString out, err;
    QTextStream outStream{&out};
    QTextStream errStream{&err};
    std::unique_ptr<Session> session;
};

TEST_F(SessionTest, StatusIsOneEnabledExchangeWithoutRequestThenTheClose)
{
    link.answer(150, StatusBit::LowerLimit | StatusBit::ActiveHigh);
    EXPECT_EQ(run(QStringLiteral("status")), ExitStatus::Done);
    EXPECT_EQ(link.calls, QStringList({"SI_GetNumDevices", "SI_GetProductString", "SI_SetTimeouts", "SI_Open",
                                       "SI_Write", "SI_Read", "SI_Close"}));
    EXPECT_EQ(link.readTimeout, 10000u);
    ASSERT_EQ(link.written.size(), 1u);
    EXPECT_EQ(link.written[0][3], CommandBit::Enable | CommandBit::Toggle);
    EXPECT_EQ(out, "Position: 10.00\nLeft limit: switch active\nRight limit: clear\nBusy: idle\n"
                   "Max speed: not reached\nReverse limit switch: off\nLimit switch active high: on\n");
    // The JSON keys are those words in camelCase.
    out.clear();
    link.answer(150, StatusBit::ReverseLimit);
    EXPECT_EQ(run(QStringLiteral("status --json")), ExitStatus::Done);
    EXPECT_EQ(out, "{\"busy\":false,\"command\":\"status\",\"leftLimit\":false,\"limitSwitchActiveHigh\":false,"
                   "\"maxSpeed\":false,\"position\":10,\"reverseLimitSwitch\":true,\"rightLimit\":false,\"steps\":150}\n");
}

// A product string that equals the text wins over a number; digits that
// name no product are a number, "#N" always; a text fitting several
// controllers opens none.
TEST_F(SessionTest, ControllerChosenByProductStringFirstThenNumber)
{
    struct Case {
        const char* device;
        int exit;
        uint32_t opened;
        const char* err;
    };
    const Case cases[] = {
        {"0001", ExitStatus::Done, 0, ""},
        {"1", ExitStatus::Done, 1, ""},
        {"#0", ExitStatus::Done, 0, ""},
        {"7", ExitStatus::Done, 3, ""},
        {"3", ExitStatus::Done, 3, ""},
        {"#3", ExitStatus::Done, 3, ""},
        {"Achse", ExitStatus::NoController, 0,
         "kvx340ctl: \"Achse\" could mean 2 controllers; choose one by number:\n  -d '#1'   Achse\n  -d '#2'   Achse\n"},
        {"#7", ExitStatus::NoController, 0, "kvx340ctl: no controller number #7\n"},
        {"9", ExitStatus::NoController, 0, "kvx340ctl: no controller number 9\n"},
        {"-1", ExitStatus::NoController, 0, "kvx340ctl: no controller \"-1\"\n"},
        {"00001x", ExitStatus::NoController, 0, "kvx340ctl: no controller \"00001x\"\n"},
    };
    for (const Case& c : cases) {
        link = {};
        link.products = {"0001", "Achse", "Achse", "7"};
        err.clear();
        EXPECT_EQ(run(QStringLiteral("status -d ") + QLatin1String(c.device)), c.exit) << c.device;
        EXPECT_EQ(err, QLatin1String(c.err)) << c.device;
        EXPECT_EQ(link.calls.contains(QStringLiteral("SI_Open")), c.exit == ExitStatus::Done) << c.device;
        if (c.exit == ExitStatus::Done) {
            EXPECT_EQ(link.openedDevice, c.opened) << c.device;
        }
    }
    // A product string that is also a number in range: "#N" names the
    // other one, plain digits the product.
    link = {};
    link.products = {"1", "B"};
    err.clear();
    EXPECT_EQ(run(QStringLiteral("status -d 1")), ExitStatus::Done);
    EXPECT_EQ(link.openedDevice, 0u);
    link = {};
    link.products = {"#1", "B"};
    EXPECT_EQ(run(QStringLiteral("status -d #1")), ExitStatus::NoController);
    EXPECT_TRUE(err.contains(QLatin1String("could mean 2 controllers"))) << err.toStdString();
}

TEST_F(SessionTest, ListPrintsNumberAndProductStringWithoutOpening)
{
    link.products = {"A1", "B2"};
    EXPECT_EQ(run(QStringLiteral("list")), ExitStatus::Done);
    EXPECT_EQ(out, "0 A1\n1 B2\n");
    EXPECT_FALSE(link.calls.contains(QStringLiteral("SI_Open")));
    out.clear();
    EXPECT_EQ(run(QStringLiteral("list --json")), ExitStatus::Done);
    EXPECT_EQ(out, "{\"controllers\":[{\"number\":0,\"product\":\"A1\"},{\"number\":1,\"product\":\"B2\"}]}\n");
}

// GO held for three exchanges, released with its click (position mode),
// then exchanges until the controller is idle.
TEST_F(SessionTest, MoveHoldsGoForThreeTicksThenWaitsForIdleAtTheTarget)
{
    for (int i = 0; i < 5; ++i)
        link.answer(i * 10, Busy);
    link.answer(150, 0);
    EXPECT_EQ(run(QStringLiteral("move 10 --json")), ExitStatus::Done);
    const std::vector<int> expected = {1 | 8, 1 | 8, 1 | 8, 32 | 8, 32 | 8, 32 | 8};
    EXPECT_EQ(commandBytes(), expected);
    EXPECT_EQ(decodeCommandFrame(link.written[0].data()).TargetSteps, 150);
    EXPECT_TRUE(out.contains(QLatin1String("\"reached\":true"))) << out.toStdString();
    EXPECT_EQ(link.calls.last(), QLatin1String("SI_Close"));
}

TEST_F(SessionTest, MoveEndingAwayFromItsTargetExitsWithFour)
{
    link.answer(0, Busy);
    link.answer(40, Busy);
    link.answer(80, Busy);
    link.answer(90, StatusBit::UpperLimit);
    EXPECT_EQ(run(QStringLiteral("move 10")), ExitStatus::TargetMissed);
    EXPECT_EQ(out, "Position: 6.00 (target 10.00 not reached)\n");
}

TEST_F(SessionTest, JogSendsTheSliderValueThenStopUntilIdleThenTheRelease)
{
    link.answer(0, Busy);
    // Busy until STOP has gone out twice.
    const auto idleAfterStop = [&] {
        const auto stops = std::count_if(link.written.begin(), link.written.end(),
                                         [](const Frame& f) { return (f[3] & CommandBit::Stop) != 0; });
        if (stops == 2 && link.statusFrames.empty())
            link.answer(0, 0);
        return false;
    };
    EXPECT_EQ(run(QStringLiteral("jog -2500 --for 0.1 --max-speed 99"), idleAfterStop), ExitStatus::Done);
    const auto& frames = link.written;
    ASSERT_GE(frames.size(), 4u);
    EXPECT_EQ(decodeCommandFrame(frames[0].data()).JogWord, 32767 - 2500);
    EXPECT_EQ(frames[0][0], 99);
    EXPECT_EQ(frames[0][3] & 0x7F, 16 | 8);
    // STOP with the slider back in the middle while busy, then released.
    const std::vector<int> bytes = commandBytes();
    const std::vector<int> end(bytes.end() - 3, bytes.end());
    EXPECT_EQ(end, (std::vector<int>{2 | 8, 2 | 8, 8}));
    EXPECT_EQ(decodeCommandFrame(frames.back().data()).JogWord, 32767);
}

TEST_F(SessionTest, InterruptedMoveSendsStopBeforeTheClose)
{
    for (int i = 0; i < 200; ++i)
        link.answer(i, Busy);
    EXPECT_EQ(run(QStringLiteral("move 100"), [&] { return link.written.size() >= 5; }), ExitStatus::Done);
    session->interrupt(130);
    link.statusFrames.clear();
    link.answer(200, Busy);
    link.answer(210, 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return session->ended(); }, WaitBoundMs));
    EXPECT_EQ(session->exitStatus(), 130);
    const std::vector<int> bytes = commandBytes();
    EXPECT_EQ(bytes.back(), 2 | 8 | 32); // STOP, in the position mode the click chose
    const qsizetype close = link.calls.lastIndexOf(QStringLiteral("SI_Close"));
    EXPECT_EQ(link.calls.lastIndexOf(QStringLiteral("SI_Write")), close - 2);
}

// A STOP held on a way out goes on whatever comes meanwhile: the first
// signal says how the program ends, a second may cut the wait for idle
// short, and nothing closes before a STOP frame is on the wire.
TEST_F(SessionTest, InterruptionsDuringTheStopHold)
{
    struct Case {
        const char* line;
        int interruptions;  // at once, with no exchange between them
        bool afterTimeout;  // the first comes after the time-out's message
        int exit;
    };
    const Case cases[] = {
        {"jog 100 --for 10", 1, false, 143},
        {"jog 100 --for 10", 2, false, 143},
        {"move 100", 2, false, 143},
        {"wait-idle --timeout 0.05", 1, true, 143},
        {"wait-idle --timeout 0.05", 2, true, 143},
    };
    for (const Case& c : cases) {
        link = {};
        link.products = {"KVX-340 X"};
        link.answer(0, Busy); // busy for good: the STOP is held its 2 s unless cut short
        err.clear();
        const auto ready = [&] { return c.afterTimeout ? err.contains(QLatin1String("timed out")) : link.written.size() >= 2; };
        EXPECT_EQ(run(QLatin1String(c.line), ready), ExitStatus::Done); // not ended yet
        const std::size_t before = link.written.size();
        for (int i = 0; i < c.interruptions; ++i)
            session->interrupt(i == 0 ? 143 : 130);
        EXPECT_FALSE(session->ended()) << c.line;
        EXPECT_TRUE(QTest::qWaitFor([&] { return session->ended(); }, WaitBoundMs)) << c.line;
        EXPECT_EQ(session->exitStatus(), c.exit) << c.line;
        ASSERT_EQ(link.calls.last(), QLatin1String("SI_Close")) << c.line;
        EXPECT_NE(link.written.back()[3] & CommandBit::Stop, 0) << c.line;
        // One signal waits out the hold; a second ends it with the next STOP frame.
        if (c.interruptions == 2) {
            EXPECT_LE(link.written.size(), before + 1) << c.line;
        } else {
            EXPECT_GT(link.written.size(), before + 10) << c.line;
        }
    }
}

TEST_F(SessionTest, InterruptedWatchClosesWithoutStop)
{
    EXPECT_EQ(run(QStringLiteral("watch"), [&] { return link.written.size() >= 3; }), ExitStatus::Done);
    session->interrupt(130);
    EXPECT_TRUE(session->ended());
    EXPECT_EQ(session->exitStatus(), 130);
    for (int byte : commandBytes())
        EXPECT_EQ(byte, 8);
    EXPECT_EQ(link.calls.last(), QLatin1String("SI_Close"));
}

// Every way out while the axis may be moving: STOP goes out before the
// close, and the exit status says which way it was.
TEST_F(SessionTest, WaysOutWhileTheAxisMayMoveSendStopBeforeTheClose)
{
    QTemporaryDir folder;
    const QString runFile = folder.filePath(QStringLiteral("scan.run"));
    QFile file(runFile);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("move 10 --no-wait\nwait 30\n");
    file.close();

    enum class Act { Nothing, Interrupt, FailRead, FailAtOnce, BreakOutput };
    struct Case {
        QString line;
        Act act;
        int exit;
        bool stopThenClose; // else: closed without STOP (or not at all)
        bool closed;
        const char* err;    // contained in standard error
    };
    const Case cases[] = {
        {"jog 2000 --for 30", Act::FailRead, ExitStatus::LinkFailure, true, true, "Error writing to USB. Read  0 of"},
        {"move 100", Act::FailRead, ExitStatus::LinkFailure, true, true, "Application is aborting"},
        {"status", Act::FailAtOnce, ExitStatus::LinkFailure, false, false, "Error writing to USB. Read  0 of"},
        {"watch", Act::FailRead, ExitStatus::LinkFailure, false, false, "Error writing to USB"},
        {"move 100 --timeout 0.05", Act::Nothing, ExitStatus::TimedOut, true, true, "move: timed out after 0.05 s"},
        {"wait-idle --timeout 0.05", Act::Nothing, ExitStatus::TimedOut, true, true, "wait-idle: timed out"},
        {"home right --timeout 0.05", Act::Nothing, ExitStatus::HomingFailed, true, true,
         "home: no switch found within 0.05 s"},
        {"run " + runFile, Act::Interrupt, 130, true, true, ""},
        {"run " + runFile, Act::BreakOutput, ExitStatus::OutputFailed, true, true, ""},
        {"watch", Act::BreakOutput, ExitStatus::OutputFailed, false, true, ""},
    };
    for (const Case& c : cases) {
        link = {};
        link.products = {"KVX-340 X"};
        // Busy until STOP has gone out, then idle.
        link.respond = [](const Frame& command) {
            return encodeStatusFrame({0, uint8_t((command[3] & CommandBit::Stop) ? 0 : Busy), 0});
        };
        err.clear();
        QBuffer broken; // opened for reading only: every write fails
        broken.open(QIODevice::ReadOnly);
        if (c.act == Act::BreakOutput)
            outStream.setDevice(&broken);
        if (c.act == Act::FailAtOnce)
            link.readStatus = SiStatus::ReadError;
        const int exit = run(c.line, [&] {
            // An interruption comes during the run file's wait, after the
            // move has started (GO held three exchanges, its click, then the wait).
            const std::size_t after = c.act == Act::Interrupt ? 8 : 3;
            if (link.written.size() < after || c.act == Act::Nothing || c.act == Act::FailAtOnce)
                return false;
            if (c.act == Act::FailRead)
                link.readStatus = SiStatus::ReadError;
            if (c.act == Act::Interrupt)
                session->interrupt(130);
            return true;
        });
        EXPECT_TRUE(QTest::qWaitFor([&] { return session->ended(); }, WaitBoundMs)) << c.line.toStdString();
        outStream.setString(&out);
        if (c.act == Act::Nothing) {
            EXPECT_EQ(exit, c.exit) << c.line.toStdString();
        }
        EXPECT_EQ(session->exitStatus(), c.exit) << c.line.toStdString() << " " << err.toStdString();
        EXPECT_TRUE(err.contains(QLatin1String(c.err))) << c.line.toStdString() << ": " << err.toStdString();
        const qsizetype close = link.calls.lastIndexOf(QStringLiteral("SI_Close"));
        EXPECT_EQ(close >= 0, c.closed) << c.line.toStdString();
        const bool stopped = !link.written.empty() && (link.written.back()[3] & CommandBit::Stop) != 0;
        EXPECT_EQ(stopped, c.stopThenClose) << c.line.toStdString();
        if (c.closed) {
            EXPECT_EQ(close, link.calls.size() - 1) << c.line.toStdString();
        }
    }
}

TEST_F(SessionTest, ControllerInUseIsNotABrokenLink)
{
    link.openStatus = SiStatus::DeviceBusy;
    EXPECT_EQ(run(QStringLiteral("move 10")), ExitStatus::ControllerInUse);
    EXPECT_EQ(err, "kvx340ctl: controller 0 (KVX-340 X) is in use by another program; end that program first\n");
    EXPECT_FALSE(link.calls.contains(QStringLiteral("SI_Write")));
    link = {};
    link.products = {"KVX-340 X"};
    link.openStatus = SiStatus::DeviceIoFailed;
    err.clear();
    EXPECT_EQ(run(QStringLiteral("move 10")), ExitStatus::LinkFailure);
    EXPECT_TRUE(err.contains(QLatin1String("Reset hardware and try again"))) << err.toStdString();
}

// A controller of the test's making: the left switch 100 steps below the
// start, 7 steps per exchange while jogging, STOP at once.
TEST_F(SessionTest, HomeSeeksLeavesSlowlyAndZeroesWhereTheSwitchClears)
{
    int64_t position = 0;
    std::vector<int> jogSpeeds;
    link.respond = [&](const Frame& frame) {
        const CommandFrame command = decodeCommandFrame(frame.data());
        const int speed = int(command.JogWord) - 32767;
        const bool jogging = (frame[3] & CommandBit::JogMode) && !(frame[3] & CommandBit::Stop) && speed != 0;
        if (jogging && (jogSpeeds.empty() || jogSpeeds.back() != speed))
            jogSpeeds.push_back(speed);
        if (frame[3] & CommandBit::Zero)
            position = 0;
        else if (jogging)
            position = std::max<int64_t>(-100, position + (speed > 0 ? 7 : -7));
        const bool onSwitch = position <= -100;
        const bool busy = jogging && !(onSwitch && speed < 0);
        return encodeStatusFrame({position, uint8_t((onSwitch ? StatusBit::LowerLimit : 0) | (busy ? Busy : 0)), 0});
    };
    EXPECT_EQ(run(QStringLiteral("home left --speed 4000 --json --ratio 1")), ExitStatus::Done) << err.toStdString();
    EXPECT_EQ(jogSpeeds, (std::vector<int>{-4000, HomeLeaveSpeed}));
    EXPECT_EQ(out, "{\"busy\":false,\"command\":\"home\",\"found\":-93,\"leftLimit\":false,"
                   "\"limitSwitchActiveHigh\":false,\"maxSpeed\":false,\"position\":0,\"reverseLimitSwitch\":false,"
                   "\"rightLimit\":false,\"steps\":0,\"switch\":\"left\"}\n");
    // ZERO held three exchanges after the second STOP's release, then let go.
    const std::vector<int> bytes = commandBytes();
    ASSERT_GE(bytes.size(), 5u);
    EXPECT_EQ(std::vector<int>(bytes.end() - 5, bytes.end()), (std::vector<int>{8, 4 | 8, 4 | 8, 4 | 8, 8}));

    // Heading for the left switch, the right one trips: STOP, the close, 7.
    link = {};
    link.products = {"KVX-340 X"};
    link.respond = [&](const Frame& frame) {
        const uint8_t right = link.written.size() > 3 ? StatusBit::UpperLimit : 0;
        return encodeStatusFrame({0, uint8_t(right | ((frame[3] & CommandBit::Stop) ? 0 : Busy)), 0});
    };
    err.clear();
    EXPECT_EQ(run(QStringLiteral("home left")), ExitStatus::HomingFailed);
    EXPECT_EQ(err, "kvx340ctl: home: met the right switch instead; STOP sent\n");
    EXPECT_NE(link.written.back()[3] & CommandBit::Stop, 0);
    EXPECT_EQ(link.calls.last(), QLatin1String("SI_Close"));
}

TEST_F(SessionTest, WaitIdleExchangesWithoutRequestsUntilIdle)
{
    link.answer(0, Busy);
    link.answer(5, Busy);
    link.answer(9, 0);
    EXPECT_EQ(run(QStringLiteral("wait-idle")), ExitStatus::Done);
    EXPECT_EQ(commandBytes(), (std::vector<int>{8, 8, 8}));
    EXPECT_EQ(out, "Position: 0.60\n");
}

// A relative move reports where it was sent, not how far; --json turns a
// watch into JSON lines.
TEST_F(SessionTest, RelativeTargetAndJsonWatch)
{
    link.answer(75, Busy);
    link.answer(75, Busy);
    link.answer(75, Busy);
    link.answer(105, 0);
    EXPECT_EQ(run(QStringLiteral("move --relative 2 --json")), ExitStatus::Done);
    EXPECT_TRUE(out.contains(QLatin1String("\"target\":7}"))) << out.toStdString();
    out.clear();
    run(QStringLiteral("watch --json"), [&] { return out.count(QLatin1Char('\n')) >= 2; });
    session->interrupt(130);
    const QStringList lines = out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_GE(lines.size(), 2);
    for (const QString& line : lines)
        EXPECT_TRUE(line.startsWith(QLatin1String("{\"busy\":"))) << line.toStdString();
}

} // namespace
