#include "VUX2DImageUtils.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

namespace {

using namespace VUX::VUXGraphics2D;

TEST(VUX2DImageUtils, ARGBToData) {
    uint32_t word = 0;
    uint32_t* wp = &word;
    ARGBToData<uint32_t, 1>(0x11223344, wp);
    EXPECT_EQ(wp, &word + 1);
    EXPECT_EQ(std::memcmp(&word, "\x11\x22\x33\x44", 4), 0);

    int32_t sword = 0;
    int32_t* sp = &sword;
    ARGBToData<int32_t, 1>(0xAABBCCDD, sp);
    EXPECT_EQ(std::memcmp(&sword, "\xAA\xBB\xCC\xDD", 4), 0);

    struct Grey {
        uint32_t argb;
        uint16_t word;
    } greys[] = {
        {0xFFFFFFFF, 65535}, {0x00FF0000, 76 * 257}, {0xFF00FF00, 149 * 257}, {0x000000FF, 29 * 257}};
    for (auto const& g : greys) {
        uint16_t grey[2] = {0, 0};
        uint16_t* gp = grey;
        ARGBToData<uint16_t, 1>(g.argb, gp);
        EXPECT_EQ(grey[0], g.word) << std::hex << g.argb;
        EXPECT_EQ(gp, grey + 1);
        int16_t sgrey = 0;
        int16_t* sgp = &sgrey;
        ARGBToData<int16_t, 1>(g.argb, sgp);
        EXPECT_EQ(static_cast<uint16_t>(sgrey), g.word);
    }

    uint8_t rgb[4] = {0, 0, 0, 0x77};
    uint8_t* p3 = rgb;
    ARGBToData<uint8_t, 3>(0x80102030, p3);
    EXPECT_EQ(p3, rgb + 3);
    EXPECT_EQ(std::memcmp(rgb, "\x10\x20\x30\x77", 4), 0);
    uint8_t argb[4] = {};
    uint8_t* p4 = argb;
    ARGBToData<uint8_t, 4>(0x80102030, p4);
    EXPECT_EQ(p4, argb + 4);
    EXPECT_EQ(std::memcmp(argb, "\x80\x10\x20\x30", 4), 0);
}

TEST(VUX2DImageUtils, LinearParameters) {
    VUXLinearParams params(9.0f, 9.0f);
    EXPECT_EQ(
        linearParamsFromRanges(VUX::VUXRange<double>(2.0, 2.0), VUX::VUXRange<unsigned char>(0, 255), params),
        1);
    EXPECT_EQ(params.left, 0.0f);
    EXPECT_EQ(params.right, 0.0f);
    EXPECT_EQ(linearParamsFromRanges(VUX::VUXRange<double>(-1.0, 1.0), VUX::VUXRange<unsigned char>(0, 255),
                                     params),
              0);
    EXPECT_EQ(params.left, 127.5f);
    EXPECT_EQ(params.right, 127.5f);
}

TEST(VUX2DImageUtils, LogicalOperations) {
    const float a[2] = {0.0f, 1.0f}, b[2] = {0.0f, 2.0f};
    float out[2] = {-1.0f, -1.0f};
    imageOp_Or(out, a, b, 2);
    EXPECT_EQ(out[0], 0.0f);
    EXPECT_EQ(out[1], 255.0f);

    const double da[3] = {0.0, 1.0, 2.0}, db[3] = {2.0, 1.0, 0.0};
    double dout[3] = {};
    imageOp_XOr(dout, da, db, 3);
    EXPECT_EQ(dout[0], 255.0); // 0 ^ 255
    EXPECT_EQ(dout[1], 0.0);   // 127 ^ 127
    EXPECT_EQ(dout[2], 255.0); // 255 ^ 0
    imageOp_And(dout, da, db, 3);
    EXPECT_EQ(dout[1], 127.0);

    // A constant operand: nothing is written.
    const float flat[2] = {3.0f, 3.0f};
    float untouched[2] = {-1.0f, -1.0f};
    imageOp_And(untouched, flat, b, 2);
    imageOp_And(untouched, b, flat, 2);
    imageOp_And(untouched, a, b, 0);
    imageOp_And(untouched, a, static_cast<const float*>(nullptr), 2);
    EXPECT_EQ(untouched[0], -1.0f);
    EXPECT_EQ(untouched[1], -1.0f);

    // Samples without a finite stretched value give defined results.
    const float odd[3] = {std::numeric_limits<float>::quiet_NaN(), 0.0f,
                          std::numeric_limits<float>::infinity()};
    const float ramp[3] = {0.0f, 1.0f, 2.0f};
    float oddOut[3] = {};
    imageOp_Or(oddOut, odd, ramp, 3);
    for (float v : oddOut)
        EXPECT_TRUE(v >= 0.0f && v <= 255.0f);

    const float n[2] = {1.5f, -0.0f};
    float notOut[2];
    imageOp_Not(notOut, n, 2);
    EXPECT_EQ(notOut[0], -1.5f);
    EXPECT_EQ(notOut[1], 0.0f);
    EXPECT_FALSE(std::signbit(notOut[1]));
    const double nan = std::nan("7");
    double nanOut;
    imageOp_Not(&nanOut, &nan, 1);
    EXPECT_TRUE(std::isnan(nanOut));
    EXPECT_TRUE(std::signbit(nanOut));
}

} // namespace
