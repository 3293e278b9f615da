// A short soak in CTest (the long one is kvx340-soak), the model runs the
// performance page quotes, and proof that the checker the soak relies on
// does catch wrong frames.
#include "soak_run.h"

#include <QFile>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

using namespace kvx;
using namespace kvx::soak;

namespace {

// Leak checkers keep freed memory aside on purpose; resident size means
// nothing under them.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool ResidentSizeMeaningful = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool ResidentSizeMeaningful = false;
#else
constexpr bool ResidentSizeMeaningful = true;
#endif
#else
constexpr bool ResidentSizeMeaningful = true;
#endif

constexpr uint64_t ShortSoak = 3000;
// Ten simulated minutes: the hand-driven clock makes them cost milliseconds.
constexpr uint64_t ShortModelSoak = 20000;
const QString SimLibrary = QStringLiteral(SIM_LIBRARY_PATH);

void expectClean(const SoakReport& report, uint64_t exchanges)
{
    EXPECT_EQ(report.exchanges, exchanges);
    EXPECT_TRUE(report.linkFailure.isEmpty()) << report.linkFailure.toStdString();
    EXPECT_EQ(report.checker.violations(), 0u) << describe(report, "short").toStdString();
    if (ResidentSizeMeaningful) {
        EXPECT_LE(report.residentEndKiB - report.residentStartKiB, 1024);
    }
}

} // namespace

TEST(Soak, ThroughTheLibraryBoundByFileEveryFrameIsSound)
{
    qunsetenv("KVX340_SIM_FAULTS");
    const SoakReport report = runLinkSoak(SimLibrary, {ShortSoak, 340});
    expectClean(report, ShortSoak);
    const SoakOperator& op = report.operatorScript;
    EXPECT_GT(op.moves * op.relativeMoves * op.jogs * op.stops * op.zeroes * op.sliderChanges, 0u);
    EXPECT_GT(report.checker.zeroesSeen(), 0u);
}

// Every seed picks other drive options and another ratio.
class ModelSoak : public ::testing::TestWithParam<uint32_t> {};

TEST_P(ModelSoak, PositionsFollowTheSimulatedAxis)
{
    const SoakReport report = runModelSoak({ShortModelSoak, GetParam()});
    expectClean(report, ShortModelSoak);
    EXPECT_EQ(report.modelViolations, 0u);
    // Moves must have ended, and on their targets (the checker looks).
    EXPECT_GT(report.checker.completedMoves(), 10u);
    EXPECT_GT(report.checker.zeroesSeen(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Seeds, ModelSoak, ::testing::Values(340u, 1u, 2u, 7u));

// The model runs are deterministic (the seed scripts the operator, the clock
// is driven by hand), so docs/PERFORMANCE.md quotes what the soak prints for
// them line for line. A change to the model or the operator that moves a
// figure fails here until the page quotes the new line.
TEST(Soak, ThePerformancePageQuotesTheModelRunsAsTheyCome)
{
    QFile page(QStringLiteral(PERFORMANCE_PAGE));
    ASSERT_TRUE(page.open(QIODevice::ReadOnly | QIODevice::Text)) << PERFORMANCE_PAGE;
    const QString quoted = QString::fromUtf8(page.readAll());
    for (const uint64_t exchanges : {100000u, 960000u}) {
        const QStringList printed = describe(runModelSoak({exchanges, 340}), "model").split(u'\n');
        const QStringList figures = printed.filter(QRegularExpression(QStringLiteral("^  (operator|checked): ")));
        ASSERT_EQ(figures.size(), 2);
        for (const QString& line : figures)
            EXPECT_TRUE(quoted.contains(line + u'\n')) << "not quoted in " PERFORMANCE_PAGE ":\n" << line.toStdString();
    }
}

TEST(Soak, AFailedExchangeEndsTheRunWithTheReadMessage)
{
    qputenv("KVX340_SIM_FAULTS", "fail-read@50");
    const SoakReport report = runLinkSoak(SimLibrary, {ShortSoak, 340});
    qunsetenv("KVX340_SIM_FAULTS");
    EXPECT_EQ(report.exchanges, 49u);
    EXPECT_TRUE(report.linkFailure.startsWith(QStringLiteral("Error writing to USB. Read  0 of  12 bytes.")))
        << report.linkFailure.toStdString();
}

// The checker against frames with one thing wrong each.
struct Corruption {
    const char* name;
    std::function<void(Frame& command, Frame& status)> spoil;
    friend void PrintTo(const Corruption& c, std::ostream* out) { *out << c.name; }
};

class CheckerCatches : public ::testing::TestWithParam<Corruption> {};

namespace {

struct Tick {
    MotionState state;
    SliderValues sliders;
    double target = 187.5;
    Frame command{};
    Frame status{};

    Tick()
    {
        state.EnableFlag = CommandBit::Enable;
        state.GoFlag = CommandBit::Go;
        state.Demultiplication = 15;
        composeCommandFrame(state, sliders, target);
        std::copy_n(state.FrameBuffer.begin(), FrameSize, command.begin());
        status = encodeStatusFrame({100, StatusBit::Busy, 100});
    }
};

} // namespace

TEST(CheckerCatches, NothingInASoundTick)
{
    Tick tick;
    SoakChecker checker;
    checker.commandFrame(tick.command, tick.state, tick.sliders, tick.target);
    checker.statusFrame(tick.status);
    EXPECT_EQ(checker.violations(), 0u);
}

TEST_P(CheckerCatches, OneWrongByte)
{
    Tick tick;
    GetParam().spoil(tick.command, tick.status);
    SoakChecker checker;
    checker.commandFrame(tick.command, tick.state, tick.sliders, tick.target);
    checker.statusFrame(tick.status);
    EXPECT_EQ(checker.violations(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, CheckerCatches,
    ::testing::Values(
        Corruption{"OptionsByteConstantBitsWrong", [](Frame& c, Frame&) { c[7] = 152; }},
        Corruption{"OptionsByteOptionNotChosen", [](Frame& c, Frame&) { c[7] = 145; }},
        Corruption{"IdlePercentAbove100", [](Frame& c, Frame&) { c[6] = 101; }},
        Corruption{"CommandByteMissesAFlag", [](Frame& c, Frame&) { c[3] &= ~CommandBit::Go; }},
        Corruption{"AmplitudeNotTheIdleOne", [](Frame& c, Frame&) { c[2] = 160; }},
        Corruption{"JogWordOff", [](Frame& c, Frame&) { c[4] ^= 1; }},
        Corruption{"TargetOff", [](Frame& c, Frame&) { c[8] ^= 1; }},
        Corruption{"MotorTrailsByTwoSteps", [](Frame&, Frame& s) { s[0] = 98 + 0; s[1] = 0; }},
        Corruption{"PositionBeyondTheSwitches",
                   [](Frame&, Frame& s) {
                       encodePosition(400000, &s[0]);
                       encodePosition(400000, &s[8]);
                   }},
        Corruption{"MoveEndsOffTarget",
                   [](Frame&, Frame& s) { s = encodeStatusFrame({187, 0, 187}); }},
        Corruption{"UnusedStatusBytesSet", [](Frame&, Frame& s) { s[6] = 1; }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CheckerCatches, AToggleBitThatDoesNotAlternate)
{
    Tick tick;
    SoakChecker checker;
    checker.commandFrame(tick.command, tick.state, tick.sliders, tick.target);
    checker.commandFrame(tick.command, tick.state, tick.sliders, tick.target);
    EXPECT_EQ(checker.violations(), 1u);
}

TEST(CheckerCatches, APositionOtherThanZeroAfterZero)
{
    Tick tick;
    tick.state.GoFlag = 0;
    tick.state.ZeroFlag = CommandBit::Zero;
    composeCommandFrame(tick.state, tick.sliders, tick.target);
    std::copy_n(tick.state.FrameBuffer.begin(), FrameSize, tick.command.begin());
    SoakChecker checker;
    checker.commandFrame(tick.command, tick.state, tick.sliders, tick.target);
    checker.statusFrame(encodeStatusFrame({0, 0, 0}));
    EXPECT_EQ(checker.violations(), 0u);
    checker.commandFrame(tick.command, tick.state, tick.sliders, tick.target); // toggle now wrong too
    checker.statusFrame(encodeStatusFrame({5, 0, 5}));
    EXPECT_EQ(checker.violations(), 2u);
}
