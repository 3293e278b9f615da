#include "number_text.h"

#include <QLocale>
#include <gtest/gtest.h>

using namespace kvx;

TEST(LeadingNumber, ReadsTheNumberAtTheStartOfAText)
{
    struct Case { const char16_t* text; double value; };
    const Case cases[] = {
        {u"12.5 mm", 12.5},  {u"1,5", 1},         {u" - 3 ", -3},      {u"1e2", 100},
        {u"&H10", 16},       {u"&hff", 255},      {u"&O17", 15},       {u"&O9", 0},
        {u"abc", 0},         {u"", 0},            {u".5", 0.5},        {u"-.5", -0.5},
        {u"+7", 7},          {u"1 2\t3\n4", 1234}, {u"2.5D1", 25},     {u"1e-2x", 0.01},
        {u"1e", 1},          {u"1e+", 1},         {u"1.2.3", 1.2},     {u"--3", 0},
        {u"&", 0},           {u"&X1", 0},         {u"12\r3", 12},      {u"1e-400", 0},
        {u"0.000e99999", 0}, {u"2.345678", 2.345678}, {u"\u00e912", 0}, {u"3\u00b2", 3},
    };
    for (const Case& c : cases) {
        const auto value = leadingNumber(QStringView(c.text));
        ASSERT_TRUE(value.has_value()) << QString::fromUtf16(c.text).toStdString();
        EXPECT_DOUBLE_EQ(*value, c.value) << QString::fromUtf16(c.text).toStdString();
    }
}

TEST(LeadingNumber, ReportsNumbersBeyondTheDoubleRange)
{
    for (const char16_t* text : {u"1e309", u"-1e400", u"1e99999999999999999999", u"&H1"
                                 "0000000000000000000000000000000000000000000000000000000000000000"
                                 "0000000000000000000000000000000000000000000000000000000000000000"
                                 "0000000000000000000000000000000000000000000000000000000000000000"
                                 "0000000000000000000000000000000000000000000000000000000000000000"})
        EXPECT_FALSE(leadingNumber(QStringView(text)).has_value()) << QString::fromUtf16(text).toStdString();
    EXPECT_TRUE(leadingNumber(u"1.7e308").has_value());
    EXPECT_TRUE(leadingNumber(u"0.0001e-320").has_value());
}

TEST(NumberForms, GeneralAndSignBlankForms)
{
    struct Case { double value; const char* general; const char* signBlank; };
    const Case cases[] = {
        {15, "15", " 15"},       {2.5, "2.5", " 2.5"},  {0.5, "0.5", " .5"},   {-0.5, "-0.5", "-.5"},
        {0.01, "0.01", " .01"},  {1, "1", " 1"},         {0, "0", " 0"},        {-3, "-3", "-3"},
        {100, "100", " 100"},    {1234567890, "1234567890", " 1234567890"},
        {2.345678, "2.345678", " 2.345678"},
        {1.0 / 3.0, "0.333333333333333", " .333333333333333"},
        {1e15, "1E+15", " 1E+15"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(generalForm(c.value).toStdString(), c.general) << c.value;
        EXPECT_EQ(signBlankForm(c.value).toStdString(), c.signBlank) << c.value;
    }
    // What the general form writes, the leading-number reader reads back.
    for (double v : {1e15, 1e-7, -2.5e100, 123456789012345.0})
        EXPECT_DOUBLE_EQ(*leadingNumber(generalForm(v)), v);
}

TEST(NumberForms, FixedPatternsIgnoreTheLocale)
{
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(formatPosition(12.5).toStdString(), "12.50");
    EXPECT_EQ(formatPosition(0).toStdString(), "0.00");
    EXPECT_EQ(formatPosition(-3).toStdString(), "-3.00");
    EXPECT_EQ(formatPosition(188.0 / 15).toStdString(), "12.53");
    EXPECT_EQ(formatPosition(200.0 / 3).toStdString(), "66.67");
    EXPECT_EQ(formatPosition(1234567890).toStdString(), "1234567890.00");
    EXPECT_EQ(formatPosition(-0.001).toStdString(), "0.00");
    EXPECT_EQ(formatPosition(-1.0 / 15).toStdString(), "-0.07");
    EXPECT_EQ(formatReciprocal(1.0 / 15).toStdString(), "0.0666666667");
    EXPECT_EQ(formatReciprocal(1.0 / 7).toStdString(), "0.1428571429");
    EXPECT_EQ(formatReciprocal(100).toStdString(), "100.0000000000");
    QLocale::setDefault(QLocale::c());
}
