#include "ratio.h"

#include <gtest/gtest.h>

namespace {

struct RatioCase {
    const char* entry;
    double demultiplication;
    const char* ratioText;
    const char* reciprocalText;
};

void PrintTo(const RatioCase& c, std::ostream* out) { *out << '"' << c.entry << '"'; }

class ApplyRatio : public ::testing::TestWithParam<RatioCase> {};

TEST_P(ApplyRatio, CorrectsRewritesAndShowsTheReciprocal)
{
    const RatioCase& c = GetParam();
    const kvx::AppliedRatio applied = kvx::applyRatio(QString::fromUtf8(c.entry));
    EXPECT_DOUBLE_EQ(applied.demultiplication, c.demultiplication);
    EXPECT_EQ(applied.ratioText, QString::fromUtf8(c.ratioText));
    EXPECT_EQ(applied.reciprocalText, QString::fromUtf8(c.reciprocalText));
}

INSTANTIATE_TEST_SUITE_P(Entries, ApplyRatio, ::testing::Values(
    RatioCase{"15", 15, " 15", "0.0666666667"},
    RatioCase{"0", 1, " 1", "1.0000000000"},
    RatioCase{"-3", 1, " 1", "1.0000000000"},
    RatioCase{"abc", 1, " 1", "1.0000000000"},
    RatioCase{"", 1, " 1", "1.0000000000"},
    RatioCase{"0.009", 1, " 1", "1.0000000000"},
    RatioCase{"0.01", 0.01, " .01", "100.0000000000"},
    RatioCase{"2.5 mm", 2.5, " 2.5", "0.4000000000"},
    RatioCase{"1,5", 1, " 1", "1.0000000000"},
    RatioCase{"3", 3, " 3", "0.3333333333"},
    RatioCase{"7", 7, " 7", "0.1428571429"},
    RatioCase{" 0.5", 0.5, " .5", "2.0000000000"},
    RatioCase{"&H10", 16, " 16", "0.0625000000"},
    RatioCase{"1e400", 1, " 1", "1.0000000000"},
    RatioCase{"1e300", 1e300, " 1E+300", "0.0000000000"}),
    [](const auto& info) { return "Case" + std::to_string(info.index); });

TEST(PlainNumberOrOne, GivesThePlainTextOfTheLeadingNumber)
{
    const std::pair<const char*, const char*> cases[] = {
        {"1.0000000000", "1"}, {"0.0666666667", "0.0666666667"}, {" .5", "0.5"}, {"2.5 mm", "2.5"},
        {"-2", "-2"},          {"0", "1"},                       {"abc", "1"},  {"", "1"},
        {"1e400", "1"},        {"100.0000000000", "100"}};
    for (const auto& [text, plain] : cases)
        EXPECT_EQ(kvx::plainNumberOrOne(QString::fromUtf8(text)), QString::fromUtf8(plain)) << text;
}

} // namespace
