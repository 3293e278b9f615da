#include "motion_state.h"

#include <gtest/gtest.h>

using namespace kvx;

TEST(MotionState, FillBufferSetsOnlyTheCountedElements)
{
    FrameBufferArray buffer;
    buffer.fill(7);
    FillBuffer(buffer.data(), 0, 12);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(buffer[i], 0) << i;
    EXPECT_EQ(buffer[12], 7);
    FillBuffer(buffer.data(), 9, 0);
    FillBuffer(buffer.data(), 9, -5);
    EXPECT_EQ(buffer[0], 0);
}

TEST(MotionState, BufferToStringStopsAtZeroOrAfter256Characters)
{
    uint8_t buffer[257] = {};
    const char* text = "KVX-340 X";
    std::copy(text, text + 9, buffer);
    EXPECT_EQ(BufferToString(buffer), QStringLiteral("KVX-340 X"));

    buffer[3] = 0;
    EXPECT_EQ(BufferToString(buffer), QStringLiteral("KVX"));

    std::fill(buffer, buffer + 257, 'A');
    buffer[0] = 0xE9; // one byte, one Latin-1 character
    const QString full = BufferToString(buffer);
    EXPECT_EQ(full.size(), 256);
    EXPECT_EQ(full.at(0), QChar(0xE9));
}
