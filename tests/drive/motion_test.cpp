// The motions as the panel's presses, advanced by readings: on the
// simulator's axis model, on its own clock, and on readings made up here.
#include "axis_model.h"
#include "motion.h"
#include "status_words.h"

#include <gtest/gtest.h>

using namespace kvx;
using namespace kvx::ctl;

namespace {

constexpr double Limit = sim::AxisConstants::TravelLimit;

// The panel's exchange on a simulated axis, 30 ms of its time per frame.
struct Bench {
    MotionState state;
    SliderValues sliders;
    double target = 0;
    sim::AxisModel axis;
    qint64 nowMs = 0;
    uint64_t exchange = 0;

    Bench(bool reverseMotor, bool reverseLimit, double startTravel, bool activeHigh = false)
    {
        state.EnableFlag = CommandBit::Enable;
        // Switches wired to read high when active, and the option that says so.
        state.LimitActiveHighFlag = activeHigh ? OptionBit::LimitActiveHigh : 0;
        axis.setSwitchesActiveHigh(activeHigh);
        state.Demultiplication = 1;
        state.ReverseMotorFlag = reverseMotor ? OptionBit::ReverseMotor : 0;
        state.ReverseLimitFlag = reverseLimit ? OptionBit::ReverseLimit : 0;
        sim::AxisModel::Snapshot placed;
        placed.travel = startTravel;
        axis.restore(placed);
    }
    AxisControls controls() { return {state, sliders, target}; }
    Reading exchangeOnce()
    {
        EXPECT_TRUE(composeCommandFrame(state, sliders, target));
        axis.apply(decodeCommandFrame(state.FrameBuffer.data()));
        axis.advance(0.030);
        nowMs += 30;
        const Frame status = encodeStatusFrame(axis.status());
        std::copy(status.begin(), status.end(), state.FrameBuffer.begin());
        const PanelDisplay display = decodeStatusIntoDisplay(state);
        return {decodeStatusFrame(status.data()).MotorPosition, 1, display.alerts, 0, ++exchange};
    }
    // Runs the motion to its end; the lamps seen at the first STOP.
    MotionOutcome run(const Step& step, IndicatorAlerts* atFirstStop = nullptr)
    {
        Motion motion = beginMotion(step, controls(), nowMs);
        bool stopped = false;
        for (int i = 0; i < 20000; ++i) {
            const Reading reading = exchangeOnce();
            const MotionOutcome outcome = advanceMotion(motion, controls(), reading, nowMs);
            if (!stopped && state.StopFlag && atFirstStop) {
                *atFirstStop = reading.alerts;
                stopped = true;
            }
            if (outcome.result != MotionResult::Running)
                return outcome;
        }
        ADD_FAILURE() << "the motion never ended";
        return {};
    }
};

Step home(HomeSide side, int speed = 10000)
{
    Step step;
    step.command = Command::Home;
    step.side = side;
    step.jogSpeed = speed;
    return step;
}

// home seeks the switch of the lamp it names, whichever way the options
// turn the motor and swap the lamps, from anywhere on the axis.
TEST(Home, FindsTheLampItNamesInEveryDriveOption)
{
    enum class Start { Between, OnSought, OnOther };
    for (bool activeHigh : {false, true})
    for (bool reverseMotor : {false, true})
        for (bool reverseLimit : {false, true})
            for (HomeSide side : {HomeSide::Left, HomeSide::Right})
                for (Start start : {Start::Between, Start::OnSought, Start::OnOther}) {
                    // The left lamp shows the lower end of travel, unless the
                    // switches are reversed.
                    const double soughtEnd = ((side == HomeSide::Left) != reverseLimit) ? -Limit : Limit;
                    const double startTravel = start == Start::Between ? soughtEnd * 0.99
                                               : start == Start::OnSought ? soughtEnd
                                                                          : -soughtEnd;
                    Bench bench(reverseMotor, reverseLimit, startTravel, activeHigh);
                    IndicatorAlerts atStop;
                    const MotionOutcome outcome = bench.run(home(side), &atStop);
                    const std::string row = std::string(activeHigh ? "active-high " : "")
                                            + (reverseMotor ? "reverse-motor " : "")
                                            + (reverseLimit ? "reverse-limit " : "")
                                            + (side == HomeSide::Left ? "left" : "right") + " from "
                                            + std::to_string(int(start));
                    ASSERT_EQ(outcome.result, MotionResult::Done) << row << ": " << outcome.message.toStdString();
                    const auto sought = side == HomeSide::Left ? StatusElement::LeftLimit : StatusElement::RightLimit;
                    const auto other = side == HomeSide::Left ? StatusElement::RightLimit : StatusElement::LeftLimit;
                    EXPECT_TRUE(isAlert(atStop, sought)) << row;
                    EXPECT_FALSE(isAlert(atStop, other)) << row;
                    // The origin is where the switch let go: a step or two off it.
                    EXPECT_NEAR(std::fabs(bench.axis.travel()), Limit, 3.0) << row;
                    EXPECT_LT(std::fabs(bench.axis.travel()), Limit) << row;
                    EXPECT_NEAR(bench.axis.position(), 0.0, 1.0) << row;
                    EXPECT_TRUE(outcome.originSet) << row;
                    EXPECT_NE(outcome.foundUnits, 0.0) << row;
                }
}

// Readings of the test's making: lamps and busy per exchange.
struct Scripted {
    bool left = false, right = false, busy = true;
};

Reading reading(const Scripted& s, uint64_t exchange)
{
    Reading r;
    r.demultiplication = 1;
    r.alerts.Shape3 = s.left;
    r.alerts.Shape4 = s.right;
    r.alerts.Shape2 = s.busy;
    r.exchange = exchange;
    return r;
}

// Where home gives up, and what it says: the wrong switch only when it
// becomes active, both switches active at once, a time-out in each phase.
TEST(Home, FailsWithThePhaseAndWhatItMeansForTheOrigin)
{
    const Scripted free{}, onLeft{true, false, false}, onRight{false, true, true}, both{true, true, false},
        leftBusy{true, false, true};
    struct Case {
        const char* what;
        bool limitActiveHigh;
        double timeout;
        std::vector<Scripted> readings; // the last one repeats
        MotionResult result;
        const char* message;
        bool originSet;
    };
    const Case cases[] = {
        {"started on the right switch, seeking left", false, -1, {onRight, onRight, free, free, onLeft, onLeft, leftBusy},
         MotionResult::Running, "", false},
        {"the right switch trips during the seek", false, -1, {free, free, onRight}, MotionResult::HomingFailed,
         "home: met the right switch instead; STOP sent", false},
        {"the right switch trips while leaving the left", false, -1,
         {free, onLeft, onLeft, leftBusy, leftBusy, onRight}, MotionResult::HomingFailed,
         "home: met the right switch instead; STOP sent", false},
        {"both read active", false, -1, {both}, MotionResult::HomingFailed,
         "home: both limit switches read active, so neither can be sought; STOP sent; if the switches read high "
         "when active, give --limit-active-high",
         false},
        {"both read active, told active-high", true, -1, {both}, MotionResult::HomingFailed,
         "home: both limit switches read active, so neither can be sought; STOP sent; --limit-active-high is on: "
         "leave it off unless the switches read high when active",
         false},
        {"no switch in time", false, 0.3, {free}, MotionResult::HomingFailed,
         "home: no switch found within 0.3 s; STOP sent", false},
        {"found, then the time-out while leaving", false, 0.5, {free, onLeft, onLeft, onLeft, leftBusy},
         MotionResult::TimedOut, "home: timed out after 0.5 s while leaving the left switch; STOP sent; the origin "
                                 "was not set",
         false},
        {"ZERO pressed, not yet sent, at the time-out", false, 0.7,
         {free, onLeft, onLeft, onLeft, free, {false, false, false}}, MotionResult::TimedOut,
         "home: timed out after 0.7 s while leaving the left switch; STOP sent; the origin was not set", false},
        {"ZERO sent, the time-out while zeroing", false, 0.8,
         {free, onLeft, onLeft, onLeft, free, {false, false, false}}, MotionResult::TimedOut,
         "home: timed out after 0.8 s while zeroing; STOP sent; the origin was set where the left switch cleared, at "
         "0.00",
         true},
    };
    for (const Case& c : cases) {
        MotionState state;
        state.Demultiplication = 1;
        state.LimitActiveHighFlag = c.limitActiveHigh ? OptionBit::LimitActiveHigh : 0;
        SliderValues sliders;
        double target = 0;
        AxisControls controls{state, sliders, target};
        Step step = home(HomeSide::Left, 3000);
        step.timeout = c.timeout;
        Motion motion = beginMotion(step, controls, 0);
        MotionOutcome outcome;
        // 100 ms an exchange: a time-out of 0.3 s comes on the third.
        for (uint64_t i = 0; i < 12 && outcome.result == MotionResult::Running; ++i) {
            const Scripted& s = c.readings[std::min<std::size_t>(i, c.readings.size() - 1)];
            outcome = advanceMotion(motion, controls, reading(s, i + 1), qint64(i + 1) * 100);
            if (c.timeout < 0 && i + 1 == 12)
                break;
        }
        EXPECT_EQ(outcome.result, c.result) << c.what;
        EXPECT_EQ(outcome.message.toStdString(), c.message) << c.what;
        EXPECT_EQ(outcome.originSet, c.originSet) << c.what;
        if (c.result != MotionResult::Running && c.result != MotionResult::Done) {
            EXPECT_TRUE(outcome.stopFirst) << c.what;
        }
    }
}

// A time-out is judged after the reading: a motion whose reading says it is
// done is done, however short the time-out.
TEST(Motion, TheReadingIsJudgedBeforeTheClock)
{
    MotionState state;
    SliderValues sliders;
    double target = 0;
    AxisControls controls{state, sliders, target};
    Step stop;
    stop.command = Command::Stop;
    stop.timeout = 0.0001;
    Motion motion = beginMotion(stop, controls, 0);
    const Scripted idle{false, false, false};
    // Idle: STOP comes up, then the stop is done, past its time-out.
    EXPECT_EQ(advanceMotion(motion, controls, reading(idle, 1), 30).result, MotionResult::Running);
    EXPECT_EQ(state.StopFlag, 0);
    EXPECT_EQ(advanceMotion(motion, controls, reading(idle, 2), 60).result, MotionResult::Done);
    // Still busy: the clock decides.
    Motion busy = beginMotion(stop, controls, 0);
    EXPECT_EQ(advanceMotion(busy, controls, reading(Scripted{}, 1), 30).result, MotionResult::TimedOut);
}

} // namespace
