// kvx340ctl's sessions on a scripted library: which controller, what goes
// on the wire, what is printed and how the program ends.
#include "ctl_options.h"
#include "ctl_session.h"
#include "scripted_link.h"

#include <QTest>
#include <gtest/gtest.h>

using namespace kvx;
using namespace kvx::ctl;

namespace {

constexpr uint8_t Busy = StatusBit::Busy;

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
            EXPECT_TRUE(QTest::qWaitFor([&] { return session->ended() || (until && until()); }, 5000));
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
                   "Max Speed: not reached\nReverse: off\nAct Hi: on\n");
}

TEST_F(SessionTest, ControllerChosenByNumberOrProductString)
{
    link.products = {"A1", "B2", "C3"};
    EXPECT_EQ(run(QStringLiteral("-d B2 status")), ExitStatus::Done);
    EXPECT_EQ(link.openedDevice, 1u);
    EXPECT_EQ(run(QStringLiteral("-d 2 status")), ExitStatus::Done);
    EXPECT_EQ(link.openedDevice, 2u);
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
    EXPECT_TRUE(QTest::qWaitFor([&] { return session->ended(); }, 3000));
    EXPECT_EQ(session->exitStatus(), 130);
    const std::vector<int> bytes = commandBytes();
    EXPECT_EQ(bytes.back(), 2 | 8 | 32); // STOP, in the position mode the click chose
    const qsizetype close = link.calls.lastIndexOf(QStringLiteral("SI_Close"));
    EXPECT_EQ(link.calls.lastIndexOf(QStringLiteral("SI_Write")), close - 2);
}

TEST_F(SessionTest, SecondInterruptClosesAtOnce)
{
    link.answer(0, Busy); // busy for good: STOP alone would wait 2 s
    EXPECT_EQ(run(QStringLiteral("jog 100 --for 10"), [&] { return link.written.size() >= 2; }), ExitStatus::Done);
    session->interrupt(143);
    EXPECT_TRUE(QTest::qWaitFor([&] { return (link.written.back()[3] & CommandBit::Stop) != 0; }, 1000));
    session->interrupt(130);
    EXPECT_TRUE(session->ended());
    EXPECT_EQ(session->exitStatus(), 143);
    EXPECT_EQ(link.calls.last(), QLatin1String("SI_Close"));
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

} // namespace
