#include "frames.h"

#include <cfenv>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>

using namespace kvx;

namespace {
std::array<uint8_t, 4> positionBytes(int64_t position)
{
    std::array<uint8_t, 4> bytes{};
    encodePosition(position, bytes.data());
    return bytes;
}
} // namespace

TEST(Frames, TargetPositionsEncodeRoundedHalfToEven)
{
    struct Case { double target; int64_t sent; std::array<uint8_t, 4> bytes; };
    const Case cases[] = {
        {0, 0, {0, 0, 0, 64}},
        {-1073741824, -1073741824, {0, 0, 0, 0}},
        {1073741823, 1073741823, {255, 255, 255, 127}},
        {2.5, 2, {2, 0, 0, 64}},
        {3.5, 4, {4, 0, 0, 64}},
        {-0.4, 0, {0, 0, 0, 64}},
        {187.5, 188, {188, 0, 0, 64}},
        {-1, -1, {255, 255, 255, 63}},
        {-1073741824.5, -1073741824, {0, 0, 0, 0}},
    };
    // Whatever rounding mode the rest of the program leaves set.
    for (const int mode : {FE_TONEAREST, FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO}) {
        std::fesetround(mode);
        for (const Case& c : cases) {
            const auto sent = frameablePosition(c.target);
            ASSERT_TRUE(sent.has_value()) << c.target;
            EXPECT_EQ(*sent, c.sent) << c.target << " in mode " << mode;
            EXPECT_EQ(positionBytes(*sent), c.bytes) << c.target;
            EXPECT_EQ(decodePosition(c.bytes.data()), c.sent) << c.target;
        }
    }
    std::fesetround(FE_TONEAREST);
}

TEST(Frames, TargetsTheFrameCannotCarryAreRefusedNotWrapped)
{
    const double refused[] = {1073741823.5, 1073741824, -1073741825, 1e300, -1e300,
                              std::numeric_limits<double>::infinity(), std::nan("")};
    for (double target : refused)
        EXPECT_FALSE(frameablePosition(target).has_value()) << target;
}

TEST(Frames, StatusPositionsDecodeWithoutOverflow)
{
    const uint8_t topByteHigh[4] = {255, 255, 255, 255};
    EXPECT_EQ(decodePosition(topByteHigh), 3221225471);
    const uint8_t allZero[4] = {0, 0, 0, 0};
    EXPECT_EQ(decodePosition(allZero), -1073741824);

    const uint8_t status[12] = {200, 0, 0, 64, 0x3F, 1, 2, 3, 255, 255, 255, 63};
    const StatusFrame frame = decodeStatusFrame(status);
    EXPECT_EQ(frame.MotorPosition, 200);
    EXPECT_EQ(frame.StatusByte, 0x3F);
    EXPECT_EQ(frame.IdealPosition, -1);
}

TEST(Frames, IdleAmplitudeRoundsHalfToEven)
{
    EXPECT_EQ(idleAmplitude(160, 50), 80);
    EXPECT_EQ(idleAmplitude(5, 50), 2);
    EXPECT_EQ(idleAmplitude(7, 50), 4);
    EXPECT_EQ(idleAmplitude(255, 100), 255);
    EXPECT_EQ(idleAmplitude(255, 0), 0);
    EXPECT_EQ(idleAmplitude(1, 50), 0);
    EXPECT_EQ(idleAmplitude(3, 50), 2);
}

TEST(Frames, CommandFrameBytesAndJogWord)
{
    struct Case { int slider1; uint8_t low, high; };
    for (const Case c : {Case{0, 255, 127}, Case{-10000, 239, 88}, Case{10000, 15, 167}}) {
        CommandFrame frame;
        frame.JogWord = static_cast<uint16_t>(c.slider1 + 32767);
        const Frame bytes = encodeCommandFrame(frame);
        EXPECT_EQ(bytes[4], c.low) << c.slider1;
        EXPECT_EQ(bytes[5], c.high) << c.slider1;
    }

    CommandFrame frame{180, 75, 80, 136, 32767, 50, 151, -5};
    const Frame bytes = encodeCommandFrame(frame);
    const Frame expected{180, 75, 80, 136, 255, 127, 50, 151, 251, 255, 255, 63};
    EXPECT_EQ(bytes, expected);
    const CommandFrame back = decodeCommandFrame(bytes.data());
    EXPECT_EQ(encodeCommandFrame(back), bytes);
    EXPECT_EQ(back.TargetSteps, -5);
}
