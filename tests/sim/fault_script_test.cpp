#include "fault_script.h"

#include <gtest/gtest.h>

#include <random>

using namespace kvx::sim;

namespace {

TimedFault atExchange(FaultKind kind, uint64_t exchange)
{
    TimedFault fault;
    fault.kind = kind;
    fault.exchange = exchange;
    return fault;
}

TimedFault atSeconds(FaultKind kind, double seconds)
{
    TimedFault fault;
    fault.kind = kind;
    fault.atTime = true;
    fault.seconds = seconds;
    return fault;
}

const std::vector<std::string> DefaultProducts{"KVX-340 X", "KVX-340 Y"};

} // namespace

TEST(FaultScript, EmptyTextGivesTheTwoDefaultControllersAndNoFault)
{
    EXPECT_EQ(parseFaultScript(""), FaultScript{});
    EXPECT_EQ(parseFaultScript("").products, DefaultProducts);
}

TEST(FaultScript, ReadsEveryKindOfItem)
{
    const FaultScript script = parseFaultScript(
        "count-fails;open-fails;products=A1,B2;short-write@50;fail-read@t=2.5s;read-timeout@10;unplug@100;"
        "fail-write@t=1;short-read@3;switches-active-high");
    EXPECT_TRUE(script.countFails);
    EXPECT_TRUE(script.switchesActiveHigh);
    EXPECT_TRUE(script.openFails);
    EXPECT_EQ(script.products, (std::vector<std::string>{"A1", "B2"}));
    const std::vector<TimedFault> expected{
        atExchange(FaultKind::ShortWrite, 50), atSeconds(FaultKind::FailRead, 2.5),
        atExchange(FaultKind::ReadTimeout, 10), atExchange(FaultKind::Unplug, 100),
        atSeconds(FaultKind::FailWrite, 1.0),  atExchange(FaultKind::ShortRead, 3),
    };
    EXPECT_EQ(script.faults, expected);
}

TEST(FaultScript, BlanksAroundItemsAndNamesAreDropped)
{
    const FaultScript script = parseFaultScript("  products = ;products= KVX-340 Z , Axis  Q ,, ; fail-write @ 7 ");
    EXPECT_EQ(script.products, (std::vector<std::string>{"KVX-340 Z", "Axis  Q"}));
    EXPECT_EQ(script.faults, std::vector<TimedFault>{atExchange(FaultKind::FailWrite, 7)});
}

TEST(FaultScript, NoDevicesWinsOverAProductList)
{
    EXPECT_TRUE(parseFaultScript("no-devices;products=A").products.empty());
    EXPECT_TRUE(parseFaultScript("products=A;no-devices").products.empty());
}

TEST(FaultScript, MalformedItemsAreIgnored)
{
    for (const char* text : {"fail-write", "fail-write@", "fail-write@0", "fail-write@-3", "fail-write@1.5",
                             "fail-write@12x", "fail-write@t=", "fail-write@t=-1s", "fail-write@t=nan",
                             "fail-write@t=inf", "fail-write@t=1e300", "fail-write@99999999999999999999",
                             "melt@3", "@3", "COUNT-FAILS", "products=", "products=,,", "products", ";;;", "=",
                             "fail-write@t=2.5ss", "switches-active-high=1", "SWITCHES-ACTIVE-HIGH"}) {
        EXPECT_EQ(parseFaultScript(text), FaultScript{}) << text;
    }
    // Good items around a bad one still count.
    EXPECT_EQ(parseFaultScript("bogus;unplug@4;fail-read@x").faults,
              std::vector<TimedFault>{atExchange(FaultKind::Unplug, 4)});
}

TEST(FaultScript, ProductListIsBounded)
{
    std::string many = "products=";
    for (int i = 0; i < 1000; ++i)
        many += "P" + std::to_string(i) + ",";
    EXPECT_EQ(parseFaultScript(many).products.size(), MaxProducts);
}

TEST(FaultScript, ArbitraryBytesNeverCrash)
{
    std::mt19937 random(340);
    const std::string alphabet = "count-fails;no-devices;products=A,B@t=0123456789.s \t\xff";
    for (int round = 0; round < 2000; ++round) {
        std::string text(random() % 80, ' ');
        for (char& c : text)
            c = alphabet[random() % alphabet.size()];
        const FaultScript script = parseFaultScript(text);
        EXPECT_LE(script.products.size(), MaxProducts);
        for (const TimedFault& fault : script.faults)
            EXPECT_TRUE(fault.atTime ? fault.seconds >= 0 : fault.exchange >= 1) << text;
    }
}
