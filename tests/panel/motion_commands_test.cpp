#include "motion_commands.h"

#include <QStringList>
#include <gtest/gtest.h>

using namespace kvx;

namespace {

struct EntryCase {
    const char* typed;
    double ratio;
    const char* shown;
    double target;
};

void PrintTo(const EntryCase& c, std::ostream* os) { *os << '"' << c.typed << "\" at " << c.ratio; }

class PositionEntryCases : public ::testing::TestWithParam<EntryCase> {};

} // namespace

TEST_P(PositionEntryCases, ShowsTwoDecimalsAndTargetsTheRatioTimesTheValue)
{
    const EntryCase c = GetParam();
    const auto entry = readPositionEntry(QString::fromUtf8(c.typed), c.ratio);
    ASSERT_TRUE(entry.has_value());
    EXPECT_EQ(entry->text, QLatin1String(c.shown));
    EXPECT_DOUBLE_EQ(entry->targetPosition, c.target);
}

INSTANTIATE_TEST_SUITE_P(
    TypedTexts, PositionEntryCases,
    ::testing::Values(EntryCase{"abc", 15, "0.00", 0}, EntryCase{"", 15, "0.00", 0},
                      EntryCase{"12.5 mm", 15, "12.50", 187.5}, EntryCase{"1,5", 15, "1.00", 15},
                      EntryCase{" - 3 ", 15, "-3.00", -45}, EntryCase{"1e2", 15, "100.00", 1500},
                      EntryCase{"&H10", 15, "16.00", 240}, EntryCase{"2.345678", 200, "2.35", 469.1356},
                      EntryCase{"2.35", 200, "2.35", 470},
                      EntryCase{"1234567890", 0.01, "1234567890.00", 12345678.9},
                      EntryCase{"-0.001", 15, "0.00", -0.015},
                      // The boundary of what a frame carries, at the ratio 15: 71582788.2 x 15 = 2^30 - 1.
                      EntryCase{"71582788.2", 15, "71582788.20", 1073741823.0},
                      EntryCase{"-71582788.2666", 15, "-71582788.27", -1073741823.999}));

TEST(PositionEntry, TargetKeepsFifteenSignificantDigitsOfTheEntry)
{
    const auto entry = readPositionEntry(QStringLiteral("0.123456789012345678"), 1);
    ASSERT_TRUE(entry.has_value());
    EXPECT_EQ(entry->targetPosition, 0.123456789012346);
    EXPECT_EQ(entry->text, QLatin1String("0.12"));
}

TEST(PositionEntry, RefusesWhatTheFrameCannotCarry)
{
    for (const char* typed : {"71582788.27", "-71582788.31", "1e300", "-1e300", "1e400", "-1e400", "&HFFFFFFFFFF"})
        EXPECT_FALSE(readPositionEntry(QLatin1String(typed), 15).has_value()) << typed;
    // A product beyond the double range.
    EXPECT_FALSE(readPositionEntry(QStringLiteral("1e308"), 100).has_value());
}

TEST(PositionEntry, RefusalNamesTheRangeInTheOperatorsUnits)
{
    EXPECT_EQ(positionOutOfRangeMessage(15),
              QStringLiteral("Position out of range. Enter a position from -71582788.27 to 71582788.20."));
    EXPECT_EQ(positionOutOfRangeMessage(0.01),
              QStringLiteral("Position out of range. Enter a position from -107374182400.00 to 107374182300.00."));
    // Both bounds shown are accepted.
    for (double ratio : {15.0, 0.01, 3.0, 7.0, 1.0}) {
        const QString message = positionOutOfRangeMessage(ratio);
        const QStringList words = message.chopped(1).split(QLatin1Char(' '));
        EXPECT_TRUE(readPositionEntry(words.at(words.size() - 3), ratio).has_value()) << message.toStdString();
        EXPECT_TRUE(readPositionEntry(words.last(), ratio).has_value()) << message.toStdString();
    }
}

TEST(MotionFlags, HeldAndLatchedCommandsOwnTheirBits)
{
    MotionState state;
    state.JogModeFlag = 16;
    pressStop(state);
    EXPECT_EQ(state.StopFlag, 2);
    EXPECT_EQ(state.JogModeFlag, 0);
    pressZero(state);
    holdGo(state);
    holdRelative(state);
    selectJogMode(state);
    EXPECT_EQ(state.ZeroFlag + state.GoFlag + state.RelativeFlag + state.JogModeFlag, 4 + 1 + 64 + 16);
    selectPositionMode(state);
    EXPECT_EQ(state.PositionModeFlag, 32);
    EXPECT_EQ(state.JogModeFlag, 0);
    releaseStop(state);
    releaseZero(state);
    releaseGo(state);
    releaseRelative(state);
    EXPECT_EQ(state.StopFlag + state.ZeroFlag + state.GoFlag + state.RelativeFlag, 0);
    EXPECT_EQ(state.PositionModeFlag, 32);
}
