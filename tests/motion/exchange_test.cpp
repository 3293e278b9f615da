#include "exchange.h"
#include "frames.h"
#include "scripted_link.h"

#include <gtest/gtest.h>

using namespace kvx;
using kvx::test::ScriptedLink;

namespace {

class Exchange : public ::testing::Test {
protected:
    Exchange()
    {
        state.Demultiplication = 15;
        state.EnableFlag = CommandBit::Enable;
        state.DeviceHandle = link.handleToGive;
    }
    TickResult tick(double target = 0) { return runExchange(state, sliders, target, link); }

    MotionState state;
    SliderValues sliders;
    ScriptedLink link;
};

} // namespace

TEST_F(Exchange, FirstFrameAtDesignValues)
{
    const TickResult result = tick();
    ASSERT_FALSE(result.failed) << result.failureMessage.toStdString();
    ASSERT_EQ(link.written.size(), 1u);
    const Frame expected{180, 75, 80, 136, 255, 127, 50, 144, 0, 0, 0, 64};
    EXPECT_EQ(link.written[0], expected);
    EXPECT_EQ(state.CommandByte, 136);
    EXPECT_EQ(state.JogWord, 32767);
    EXPECT_EQ(link.calls, QStringList({"SI_Write", "SI_Read"}));
}

TEST_F(Exchange, EveryFlagAndOptionLandsOnItsOwnBit)
{
    state.GoFlag = 1;
    state.StopFlag = 2;
    state.ZeroFlag = 4;
    state.JogModeFlag = 16;
    state.PositionModeFlag = 32;
    state.RelativeFlag = 64;
    state.LimitActiveHighFlag = 1;
    state.ReverseLimitFlag = 2;
    state.ReverseMotorFlag = 4;
    sliders = {-10000, 255, 0, 7, 50};
    ASSERT_FALSE(tick(-2.5).failed);
    const Frame expected{255, 0, 4, 255, 239, 88, 50, 151, 254, 255, 255, 63};
    EXPECT_EQ(link.written[0], expected);
}

TEST_F(Exchange, ConsecutiveFramesDifferOnlyInTheToggleBit)
{
    for (int i = 0; i < 4; ++i)
        ASSERT_FALSE(tick(42).failed);
    for (size_t i = 1; i < link.written.size(); ++i) {
        Frame a = link.written[i - 1], b = link.written[i];
        EXPECT_EQ(a[3] ^ b[3], 128);
        a[3] = b[3] = 0;
        EXPECT_EQ(a, b);
    }
    EXPECT_EQ(link.written[0][3] & 128, 128);
}

TEST_F(Exchange, BusyBitSwitchesTheNextFrameToFullAmplitudeAndBack)
{
    link.answer(0, StatusBit::Busy);
    link.answer(0, 0);
    link.answer(0, 0);
    TickResult first = tick();
    EXPECT_TRUE(first.display.alerts.Shape2);
    EXPECT_FALSE(first.display.alerts.Shape3);
    EXPECT_FALSE(first.display.alerts.Shape4);
    EXPECT_EQ(state.DriveBusy, -1);
    tick();
    EXPECT_EQ(state.DriveBusy, 0);
    tick();
    EXPECT_EQ(link.written[0][2], 80);  // idle before any status
    EXPECT_EQ(link.written[1][2], 160); // busy reported
    EXPECT_EQ(link.written[2][2], 80);  // idle again
}

TEST_F(Exchange, StatusFrameBecomesTheDisplay)
{
    state.Demultiplication = 3;
    link.answer(200, 0x2F, -1);
    TickResult result = tick();
    EXPECT_EQ(result.display.Text1.toStdString(), "66.67");
    EXPECT_EQ(result.display.Text3.toStdString(), "-1");
    const IndicatorAlerts& a = result.display.alerts;
    EXPECT_TRUE(a.Shape3 && a.Shape4 && a.Command6 && a.Label3 && a.Command3);
    EXPECT_FALSE(a.Shape2);

    link.answer(0, 192, 0);
    state.Demultiplication = 2;
    result = tick();
    EXPECT_EQ(result.display.Text1.toStdString(), "0.00");
    EXPECT_EQ(result.display.Text3.toStdString(), "0");
    EXPECT_FALSE(result.display.alerts.Shape3 || result.display.alerts.Shape4 || result.display.alerts.Command6 ||
                 result.display.alerts.Label3 || result.display.alerts.Shape2 || result.display.alerts.Command3);
}

TEST_F(Exchange, OutOfRangeStatusPositionsAreShownAsTheyDecode)
{
    state.Demultiplication = 1;
    Frame frame{255, 255, 255, 255, 0, 0, 0, 0, 0, 0, 0, 128};
    link.statusFrames.push_back(frame);
    const TickResult result = tick();
    EXPECT_EQ(result.display.Text1.toStdString(), "3221225471.00");
    EXPECT_EQ(result.display.Text3.toStdString(), "1073741824");
}

TEST_F(Exchange, ShortOrFailedTransfersEndWithTheExactMessage)
{
    const QString tail = QStringLiteral(" bytes. Application is aborting. Reset hardware and try again.");
    {
        link.writeCount = 11;
        const TickResult result = tick();
        ASSERT_TRUE(result.failed);
        EXPECT_EQ(result.failureMessage, "Error writing to USB. Wrote  11 of  12" + tail);
        EXPECT_EQ(link.calls, QStringList({"SI_Write"}));
    }
    {
        ScriptedLink fresh;
        fresh.writeStatus = 3;
        const TickResult result = runExchange(state, sliders, 0, fresh);
        EXPECT_EQ(result.failureMessage, "Error writing to USB. Wrote  0 of  12" + tail);
        EXPECT_EQ(state.LinkStatus, 3);
    }
    {
        ScriptedLink fresh;
        fresh.readCount = 0;
        const TickResult result = runExchange(state, sliders, 0, fresh);
        EXPECT_EQ(result.failureMessage, "Error writing to USB. Read  0 of  12" + tail);
    }
    {
        ScriptedLink fresh;
        fresh.readStatus = -2;
        fresh.readCount = 12;
        const TickResult result = runExchange(state, sliders, 0, fresh);
        EXPECT_EQ(result.failureMessage, "Error writing to USB. Read  12 of  12" + tail);
        EXPECT_EQ(state.LinkStatus, -2);
    }
}

TEST_F(Exchange, ReadBufferIsClearedBeforeTheRead)
{
    link.readCount = 5; // a short read leaves the rest of the buffer as cleared
    tick(12345);
    for (int i = 5; i < 12; ++i)
        EXPECT_EQ(state.FrameBuffer[i], 0) << i;
}

TEST_F(Exchange, MissingLibraryFunctionIsAFailure)
{
    link.missing.insert(QStringLiteral("SI_Read"));
    const TickResult result = tick();
    ASSERT_TRUE(result.failed);
    EXPECT_EQ(result.failureMessage.toStdString(), "The USB library SiUSBXp has no function SI_Read.");
}

TEST_F(Exchange, UnsendableTargetNeverReachesTheLink)
{
    const TickResult result = tick(1073741824.0);
    EXPECT_TRUE(result.failed);
    EXPECT_TRUE(link.written.empty());
}
