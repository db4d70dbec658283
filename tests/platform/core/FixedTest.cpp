#include "PlatformEndian.h"
#include "PlatformFixed.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

TEST(Fixed, RoundingAndSaturation) {
    struct Case {
        Fixed got, want;
    };
    const Case cases[] = {
        {FixMul(fixed1 * 3, fixed1 / 2), fixed1 * 3 / 2},
        {FixMul(1, fixed1 / 2), 1}, // 0.5 ulp rounds away from zero
        {FixMul(-1, fixed1 / 2), -1},
        {FixMul(0x40000000, 0x40000000), kFixedMax}, // saturates
        {FixMul(0x40000000, -0x40000000), kFixedMin},
        {FixDiv(fixed1, fixed1 * 3), 0x5555},
        {FixDiv(fixed1 * 2, fixed1 * 3), 0xAAAB},
        {FixDiv(fixed1, 0), kFixedMax},
        {FixDiv(-fixed1, 0), kFixedMin},
        {FixDiv(kFixedMax, 1), kFixedMax},
        {FixRatio(1, 3), 0x5555},
        {FixRatio(-1, 0), kFixedMin},
        {Long2Fix(3), 3 * fixed1},
        {Long2Fix(40000), kFixedMax},
        {Long2Fix(-40000), kFixedMin},
        {Fix2Long(fixed1 * 5 / 2), 3},
        {Fix2Long(-fixed1 * 5 / 2), -3},
        {X2Fix(1.5), fixed1 * 3 / 2},
        {X2Fix(1e12), kFixedMax},
        {X2Fix(-1e12), kFixedMin},
        {X2Fix(std::numeric_limits<double>::quiet_NaN()), 0},
        {X2Frac(0.5), fract1 / 2},
        {FracMul(fract1, fract1 / 4), fract1 / 4},
        {Fix2Frac(fixed1), fract1},
        {Frac2Fix(fract1), fixed1},
        {FixRound(fixed1 * 7 / 2), 4},
    };
    int row = 0;
    for (const Case& c : cases)
        EXPECT_EQ(c.got, c.want) << "row " << row++;
    EXPECT_DOUBLE_EQ(Fix2X(fixed1 / 4), 0.25);
    EXPECT_EQ(platform::roundToInt16(1e9), INT16_MAX);
    EXPECT_EQ(platform::roundToInt32(-HUGE_VAL), INT32_MIN);
}

TEST(Endian, SwapsAndStores) {
    EXPECT_EQ(platform::swap16(0x1234), 0x3412);
    EXPECT_EQ(platform::swap32(0x11223344u), 0x44332211u);
    EXPECT_EQ(platform::swap64(0x0102030405060708ull), 0x0807060504030201ull);
    uint8_t b[4];
    platform::storeBE32(b, 0x6D6F6F76);
    EXPECT_EQ(b[0], 'm');
    EXPECT_EQ(platform::loadBE32(b), 0x6D6F6F76u);
    EXPECT_EQ(platform::loadLE32(b), 0x766F6F6Du);
    EXPECT_EQ(EndianU32_NtoB(EndianU32_BtoN(0xCAFEBABE)), 0xCAFEBABEu);
    EXPECT_EQ(FOUR_CHAR_CODE("moov"), 0x6D6F6F76u);
}

} // namespace
