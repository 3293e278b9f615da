#include "axis_model.h"
#include "design_frame.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace kvx;
using namespace kvx::sim;

using kvx::sim::test::designCommand;

namespace {

constexpr double Tick = 0.03;
constexpr uint16_t JogFullForward = 42767;
constexpr uint16_t JogFullBackward = 22767;

bool has(const StatusFrame& status, uint8_t bit) { return (status.StatusByte & bit) != 0; }

// Drives the model the way the panel's timer does: a frame every 30 ms.
class Axis : public ::testing::Test {
protected:
    StatusFrame tick(const CommandFrame& frame)
    {
        model.advance(Tick);
        model.apply(frame);
        return model.status();
    }
    // Sends the frame until the axis is idle; returns the seconds it took.
    double runUntilIdle(const CommandFrame& frame, double limitSeconds = 120)
    {
        double elapsed = 0;
        while (has(tick(frame), StatusBit::Busy) && elapsed < limitSeconds)
            elapsed += Tick;
        return elapsed;
    }
    AxisModel model;
};

} // namespace

TEST_F(Axis, MoveTo187AndAHalfStepsEndsAt188WithBusyCleared)
{
    const int64_t target = *frameablePosition(187.5);
    EXPECT_TRUE(has(tick(designCommand(CommandBit::Go, target)), StatusBit::Busy));
    tick(designCommand(CommandBit::Go, target));
    // Go released: the axis finishes the move to the last target.
    runUntilIdle(designCommand(CommandBit::PositionMode));
    const StatusFrame status = model.status();
    EXPECT_EQ(status.MotorPosition, 188);
    EXPECT_EQ(status.IdealPosition, 188);
    EXPECT_FALSE(has(status, StatusBit::Busy));
    EXPECT_EQ(model.velocity(), 0.0);
}

TEST_F(Axis, HundredUnitsAtRatio15TakeAboutASecondOnATrapezoid)
{
    const CommandFrame go = designCommand(CommandBit::Go, 1500);
    bool cruised = false;
    double elapsed = 0;
    double previous = 0;
    while (has(tick(go), StatusBit::Busy) && elapsed < 5) {
        cruised = cruised || has(model.status(), StatusBit::MaxSpeed);
        EXPECT_GE(model.position(), previous); // never backs up
        EXPECT_LE(model.position(), 1500.0);   // never overshoots
        EXPECT_LE(std::fabs(model.velocity()), 1800.0);
        previous = model.position();
        elapsed += Tick;
    }
    EXPECT_TRUE(cruised);
    EXPECT_NEAR(elapsed, 1.07, 0.1); // 1500/1800 s cruising plus one ramp of 0.24 s
    EXPECT_EQ(model.status().MotorPosition, 1500);
}

TEST_F(Axis, JogFollowsTheJogWordUpToMaxSpeed)
{
    struct Case {
        uint16_t jogWord;
        double speed;
        bool maxSpeedBit;
    };
    for (const Case c : {Case{JogFullForward, 1800, true}, Case{JogFullBackward, -1800, true},
                         Case{37767, 900, false}, Case{65535, 1800, true}, Case{32767, 0, false}}) {
        AxisModel fresh;
        model = fresh;
        CommandFrame jog = designCommand(CommandBit::JogMode);
        jog.JogWord = c.jogWord;
        for (int i = 0; i < 20; ++i) // 0.6 s: more than the 0.24 s ramp
            tick(jog);
        EXPECT_DOUBLE_EQ(model.velocity(), c.speed) << c.jogWord;
        EXPECT_EQ(has(model.status(), StatusBit::MaxSpeed), c.maxSpeedBit) << c.jogWord;
        EXPECT_EQ(has(model.status(), StatusBit::Busy), c.speed != 0) << c.jogWord;
    }
}

TEST_F(Axis, StopBrakesWithTheSetRampButNeverSofterThanTheDesignOne)
{
    struct Case {
        uint8_t acceleration;
        double brakingRamp;
        bool stopHeld; // else one frame only, as a quick click
    };
    CommandFrame jog = designCommand(CommandBit::JogMode);
    jog.JogWord = JogFullForward;
    for (const Case c : {Case{75, 7500, true}, Case{0, 7500, true}, Case{0, 7500, false}, Case{255, 25500, true}}) {
        AxisModel fresh;
        model = fresh;
        jog.Acceleration = c.acceleration;
        model.apply(jog);
        model.advance(20); // the slowest ramp, 100 steps/s^2, reaches top speed in 18 s
        ASSERT_DOUBLE_EQ(model.velocity(), 1800.0);

        CommandFrame stop = jog;
        stop.CommandByte |= CommandBit::Stop;
        tick(stop);
        const double stoppedAt = model.position();
        runUntilIdle(c.stopHeld ? stop : jog);
        const double brakingDistance = 1800.0 * 1800.0 / (2 * c.brakingRamp); // 216 steps at 7500
        const std::string label = "acceleration " + std::to_string(c.acceleration) + (c.stopHeld ? " held" : " click");
        EXPECT_EQ(model.velocity(), 0.0) << label;
        EXPECT_LE(model.position() - stoppedAt, brakingDistance + 2) << label;
        EXPECT_GE(model.position() - stoppedAt, brakingDistance - 5) << label; // a ramp, not a wall
    }

    // Stop dropped the jog: it stays dropped with jog mode still set...
    const double restedAt = model.position();
    for (int i = 0; i < 5; ++i)
        tick(jog);
    EXPECT_EQ(model.position(), restedAt);
    // ...until jog mode is selected again.
    tick(designCommand());
    tick(jog);
    tick(jog);
    EXPECT_GT(model.position(), restedAt);
}

TEST_F(Axis, ZeroMakesTheCurrentPositionTheOrigin)
{
    runUntilIdle(designCommand(CommandBit::Go, 500));
    const StatusFrame zeroed = tick(designCommand(CommandBit::Zero, 500));
    EXPECT_EQ(zeroed.MotorPosition, 0);
    EXPECT_EQ(zeroed.IdealPosition, 0);
    EXPECT_FALSE(has(zeroed, StatusBit::Busy));
    runUntilIdle(designCommand(CommandBit::Go, 100));
    EXPECT_EQ(model.status().MotorPosition, 100);
    EXPECT_DOUBLE_EQ(model.travel(), 600.0); // the machine itself moved on
}

// After a jog, STOP and ZERO the travel and the position differ by a
// fraction, which once left a finished move a rounding residue off its
// target, so that a GO to the reported position set the busy bit.
TEST_F(Axis, AGoToWhereTheAxisStandsIsNoMoveAfterJogStopAndZero)
{
    CommandFrame jog = designCommand(CommandBit::JogMode);
    jog.JogWord = 37767; // half speed
    for (int i = 0; i < 20; ++i)
        tick(jog);
    runUntilIdle(designCommand(CommandBit::Stop));
    tick(designCommand(CommandBit::Zero));
    for (const int64_t target : {600, 777, 1001, 250, -1, -4321, 0}) {
        tick(designCommand(CommandBit::Go, target)); // one frame, as Enter sends it
        runUntilIdle(designCommand(CommandBit::PositionMode, target));
        const StatusFrame again = tick(designCommand(CommandBit::Go, model.status().MotorPosition));
        EXPECT_FALSE(has(again, StatusBit::Busy)) << target;
        EXPECT_EQ(model.position(), static_cast<double>(target)) << target;
    }
}

TEST_F(Axis, LimitSwitchesStopTheAxisAndLightTheirBits)
{
    struct Case {
        uint8_t options;
        uint16_t jogWord;
        double endPosition;
        uint8_t limitBit;
    };
    const uint8_t reverseLimit = OptionBit::ReverseLimit;
    const uint8_t reverseMotor = OptionBit::ReverseMotor;
    for (const Case c : {
             Case{0, JogFullForward, 150000, StatusBit::UpperLimit},
             Case{0, JogFullBackward, -150000, StatusBit::LowerLimit},
             Case{reverseLimit, JogFullForward, 150000, StatusBit::LowerLimit},
             Case{reverseLimit, JogFullBackward, -150000, StatusBit::UpperLimit},
             Case{reverseMotor, JogFullForward, 150000, StatusBit::LowerLimit},
             Case{reverseMotor, JogFullBackward, -150000, StatusBit::UpperLimit},
         }) {
        AxisModel fresh;
        model = fresh;
        CommandFrame jog = designCommand(CommandBit::JogMode);
        jog.MaxSpeed = 255;
        jog.OptionsByte |= c.options;
        jog.JogWord = c.jogWord;
        model.apply(jog);
        model.advance(70); // 150000 steps at 2550 steps/s take under a minute
        const StatusFrame status = model.status();
        const std::string label = "options " + std::to_string(c.options) + " jog " + std::to_string(c.jogWord);
        EXPECT_EQ(status.MotorPosition, c.endPosition) << label;
        EXPECT_EQ(status.StatusByte & (StatusBit::LowerLimit | StatusBit::UpperLimit), c.limitBit) << label;
        EXPECT_EQ(has(status, StatusBit::ReverseLimit), (c.options & reverseLimit) != 0) << label;
        EXPECT_EQ(model.velocity(), 0.0) << label;
        EXPECT_FALSE(has(status, StatusBit::Busy)) << label; // the switch ended the jog

        // With the jog bit kept set, a faster jog or a move further into the
        // switch is refused and leaves the axis idle...
        jog.JogWord = c.jogWord > AxisConstants::JogCentre ? 65535 : 0;
        EXPECT_FALSE(has(tick(jog), StatusBit::Busy)) << label;
        CommandFrame into = jog;
        into.CommandByte |= CommandBit::Go;
        into.TargetSteps = static_cast<int64_t>(c.endPosition * 1.5);
        EXPECT_FALSE(has(tick(into), StatusBit::Busy)) << label;
        EXPECT_EQ(model.status().MotorPosition, c.endPosition) << label;
        // ...while the slider moved toward the free side jogs away.
        jog.JogWord = static_cast<uint16_t>(2 * AxisConstants::JogCentre - c.jogWord);
        tick(jog);
        EXPECT_TRUE(has(tick(jog), StatusBit::Busy)) << label;
        EXPECT_LT(std::fabs(model.travel()), AxisConstants::TravelLimit) << label;

        // A move away from the switch runs.
        CommandFrame away = into;
        away.TargetSteps = 0;
        runUntilIdle(away);
        EXPECT_EQ(model.status().MotorPosition, 0) << label;
        EXPECT_EQ(model.status().StatusByte & (StatusBit::LowerLimit | StatusBit::UpperLimit), 0) << label;
    }

    // A jog turned round too late to brake before the switch bumps it, then goes away.
    AxisModel fresh;
    model = fresh;
    CommandFrame jog = designCommand(CommandBit::JogMode);
    jog.JogWord = JogFullForward;
    model.apply(jog);
    model.advance(83.4); // about 100 steps short of the switch, 216 needed to brake
    jog.JogWord = JogFullBackward;
    model.apply(jog);
    model.advance(2);
    EXPECT_LT(model.travel(), AxisConstants::TravelLimit - 1000);
}

TEST_F(Axis, ReverseMotorDirectionTurnsTheMachineTheOtherWay)
{
    CommandFrame go = designCommand(CommandBit::Go, 1000);
    go.OptionsByte |= OptionBit::ReverseMotor;
    runUntilIdle(go);
    EXPECT_EQ(model.status().MotorPosition, 1000);
    EXPECT_DOUBLE_EQ(model.travel(), -1000.0);
}

// "Limit Switch Active on HI" must match the wiring: told the wrong level,
// the controller reads both switches pressed and refuses to move; told the
// right one, the axis runs onto its switch and lights that switch's bit only.
TEST_F(Axis, MiswiredSwitchesReadPressedAndTheAxisRefusesToMove)
{
    for (const bool wiredHigh : {false, true}) {
        for (const bool option : {false, true}) {
            SCOPED_TRACE(testing::Message() << "wired high " << wiredHigh << ", option " << option);
            model = AxisModel();
            model.setSwitchesActiveHigh(wiredHigh);
            AxisModel::Snapshot nearTheSwitch; // the wiring is the machine's: a restored state keeps it
            nearTheSwitch.position = nearTheSwitch.travel = 149000;
            model.restore(nearTheSwitch);
            CommandFrame go = designCommand(CommandBit::Go, 151000);
            go.OptionsByte |= option ? OptionBit::LimitActiveHigh : 0;
            runUntilIdle(go, 10);
            const bool moves = wiredHigh == option;
            EXPECT_EQ(model.status().MotorPosition, moves ? 150000 : 149000);
            const int lit = moves ? StatusBit::UpperLimit : StatusBit::LowerLimit | StatusBit::UpperLimit;
            EXPECT_EQ(model.status().StatusByte, (option ? StatusBit::ActiveHigh : 0) | lit);
        }
    }
}

TEST_F(Axis, NoMotionWithoutEnableOrCurrent)
{
    // Enable clear drops the request; amplitude 0 keeps it waiting, busy,
    // so that the panel sends the full amplitude on its next frame.
    CommandFrame disabled = designCommand(CommandBit::Go, 1000);
    disabled.CommandByte &= ~CommandBit::Enable;
    for (int i = 0; i < 10; ++i)
        EXPECT_FALSE(has(tick(disabled), StatusBit::Busy));
    EXPECT_EQ(model.position(), 0.0);

    CommandFrame noCurrent = designCommand(CommandBit::Go, 1000);
    noCurrent.Amplitude = 0;
    for (int i = 0; i < 10; ++i)
        EXPECT_TRUE(has(tick(noCurrent), StatusBit::Busy));
    EXPECT_EQ(model.position(), 0.0);

    runUntilIdle(designCommand(CommandBit::PositionMode));
    EXPECT_EQ(model.status().MotorPosition, 1000);
}

TEST_F(Axis, RelativeMovesOnceOnEachPressFromWhereTheAxisStands)
{
    runUntilIdle(designCommand(CommandBit::Go, 200));
    const CommandFrame held = designCommand(CommandBit::Relative, -50);
    for (int i = 0; i < 5; ++i) // held across several frames: still one move
        tick(held);
    runUntilIdle(designCommand(CommandBit::PositionMode, -50));
    EXPECT_EQ(model.status().MotorPosition, 150);
    tick(held);
    runUntilIdle(designCommand(CommandBit::PositionMode, -50));
    EXPECT_EQ(model.status().MotorPosition, 100);
}

TEST_F(Axis, GoFollowsTheLatestTargetWhileHeld)
{
    tick(designCommand(CommandBit::Go, 5000));
    tick(designCommand(CommandBit::Go, 5000));
    runUntilIdle(designCommand(CommandBit::Go, -300)); // retargeted while moving
    EXPECT_EQ(model.status().MotorPosition, -300);
    EXPECT_FALSE(model.movePending());
}

TEST_F(Axis, AMoveRequestEndsJoggingUntilTheSliderMovesAgain)
{
    // Enter in the position box sends the move with the jog bit still set.
    CommandFrame jog = designCommand(CommandBit::JogMode);
    jog.JogWord = JogFullForward;
    tick(jog);
    CommandFrame goWhileJogging = jog;
    goWhileJogging.CommandByte |= CommandBit::Go;
    goWhileJogging.TargetSteps = 0;
    runUntilIdle(goWhileJogging);
    EXPECT_EQ(model.status().MotorPosition, 0);
    EXPECT_FALSE(model.jogging());
    runUntilIdle(jog, 1); // the same jog word: no surprise motion
    EXPECT_EQ(model.status().MotorPosition, 0);

    jog.JogWord = JogFullBackward; // the slider dragged, jog bit still set
    for (int i = 0; i < 20; ++i)
        tick(jog);
    EXPECT_DOUBLE_EQ(model.velocity(), -1800.0);

    // A move request still takes over, even in a frame with a new jog word.
    goWhileJogging.JogWord = 37767;
    runUntilIdle(goWhileJogging);
    EXPECT_EQ(model.status().MotorPosition, 0);
    EXPECT_FALSE(model.jogging());
}

TEST_F(Axis, FramesWithWrongConstantBitsAreCountedAndIgnored)
{
    struct Case {
        uint8_t options;
        uint8_t idlePercent;
        bool valid;
    };
    uint64_t expectedRejections = 0;
    for (const Case c : {Case{144, 100, true}, Case{151, 0, true}, Case{144, 101, false}, Case{152, 50, false},
                         Case{16, 50, false}, Case{128, 50, false}, Case{176, 50, false}, Case{208, 50, false}}) {
        CommandFrame frame = designCommand(CommandBit::Go, 1000);
        frame.OptionsByte = c.options;
        frame.IdlePercent = c.idlePercent;
        EXPECT_EQ(model.apply(frame), c.valid) << int(c.options) << " " << int(c.idlePercent);
        EXPECT_EQ(hasValidConstantBits(frame), c.valid);
        expectedRejections += c.valid ? 0 : 1;
    }
    EXPECT_EQ(model.rejectedFrames(), expectedRejections);

    AxisModel fresh;
    CommandFrame bad = designCommand(CommandBit::Go, 1000);
    bad.OptionsByte = 0;
    fresh.apply(bad);
    fresh.advance(2);
    EXPECT_EQ(fresh.position(), 0.0);
    EXPECT_FALSE(fresh.movePending());
}

TEST_F(Axis, LongGapsAndOddTimesAreSafe)
{
    model.apply(designCommand(CommandBit::Go, 1500));
    model.advance(-1);
    model.advance(std::nan(""));
    EXPECT_EQ(model.position(), 0.0);
    model.advance(3600); // an hour in one step still ends the move exactly
    EXPECT_EQ(model.status().MotorPosition, 1500);
    EXPECT_FALSE(has(model.status(), StatusBit::Busy));
}
