#include "device_list.h"
#include "scripted_link.h"

#include <gtest/gtest.h>

using kvx::listDevices;
using kvx::MotionState;
using kvx::test::ScriptedLink;

namespace {

struct Listing : ::testing::Test {
    ScriptedLink link;
    MotionState state;
};

TEST_F(Listing, EntriesFollowDeviceNumbers)
{
    link.products = {"A1", "B2"};
    const auto listing = listDevices(link, state);
    EXPECT_TRUE(listing.found);
    EXPECT_EQ(listing.entries, QStringList({"A1", "B2"}));
    EXPECT_EQ(link.calls, QStringList({"SI_GetNumDevices", "SI_GetProductString", "SI_GetProductString"}));
    EXPECT_EQ(state.LinkStatus, 0);
}

TEST_F(Listing, ProductStringsAreCutAtTheirFirstZeroAndKeepAll256Bytes)
{
    link.products = {QByteArray(256, 'x'), QByteArray("AB\0CD", 5)};
    const auto listing = listDevices(link, state);
    ASSERT_EQ(listing.entries.size(), 2);
    EXPECT_EQ(listing.entries[0], QString(256, u'x'));
    EXPECT_EQ(listing.entries[1], QStringLiteral("AB"));
}

// Our USB library's names are UTF-8; a vendor library's 8-bit names, which
// are not valid UTF-8, read byte by byte as they always did.
TEST_F(Listing, ProductStringsAreUtf8WhenValidElseOneCharacterPerByte)
{
    link.products = {"Achse \xc3\x84", "Achse \xc4", "Achse \xc3", "\xe8\xbd\xb4 \xf0\x9f\x94\xa7"};
    const auto listing = listDevices(link, state);
    EXPECT_EQ(listing.entries, QStringList({QStringLiteral("Achse \u00c4"), QStringLiteral("Achse \u00c4"),
                                            QStringLiteral("Achse \u00c3"), QStringLiteral("\u8f74 \U0001f527")}));
}

TEST_F(Listing, FailedCountListsNothing)
{
    link.products = {"A1"};
    link.countStatus = 3;
    const auto listing = listDevices(link, state);
    EXPECT_FALSE(listing.found);
    EXPECT_TRUE(listing.entries.isEmpty());
    EXPECT_EQ(state.LinkStatus, 3);
    EXPECT_EQ(link.calls, QStringList({"SI_GetNumDevices"}));
}

TEST_F(Listing, NoControllerIsNotFound)
{
    const auto listing = listDevices(link, state);
    EXPECT_FALSE(listing.found);
    EXPECT_TRUE(listing.entries.isEmpty());
    EXPECT_EQ(state.LinkStatus, 0);
}

TEST_F(Listing, FailedProductStringRepeatsWhatTheBufferHolds)
{
    link.products = {"LONGER", "B2", "C3"};
    link.failingProductStrings = {0, 2};
    const auto listing = listDevices(link, state);
    EXPECT_TRUE(listing.found);
    EXPECT_EQ(listing.entries, QStringList({"", "B2", "B2"}));
    EXPECT_EQ(state.LinkStatus, 1); // the last call's status, not examined
}

TEST_F(Listing, CountIsLimitedToSixteenBitPositions)
{
    link.products.assign(kvx::MaxListedDevices + 5, QByteArray("D"));
    const auto listing = listDevices(link, state);
    EXPECT_TRUE(listing.found);
    EXPECT_EQ(listing.entries.size(), 32768);
    EXPECT_EQ(link.calls.size(), 1 + 32768);
}

TEST_F(Listing, MissingFunctionIsPassedOn)
{
    link.products = {"A1"};
    link.missing = {"SI_GetProductString"};
    EXPECT_THROW(listDevices(link, state), kvx::LinkUnavailable);
}

} // namespace
