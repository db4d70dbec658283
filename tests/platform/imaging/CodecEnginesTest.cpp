// The engines' shared limits on picture sizes.
#include "PlatformCodecEngines.h"

#include <gtest/gtest.h>

using platform::codec::Picture;
using platform::codec::pictureFits;

TEST(CodecPictures, SizeLimits) {
    struct Case {
        int64_t w, h, c, bits;
        bool fits;
    } cases[] = {
        {1, 1, 1, 8, true},           {65535, 1, 4, 16, true},     {65536, 1, 1, 8, false},
        {0, 10, 1, 8, false},         {10, -1, 1, 8, false},       {10, 10, 0, 8, false},
        {10, 10, 5, 8, false},        {10, 10, 3, 12, false},      {16384, 16384, 4, 8, true},
        {16384, 16384, 4, 16, false}, {65535, 65535, 1, 8, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(pictureFits(c.w, c.h, c.c, c.bits), c.fits)
            << c.w << "x" << c.h << "x" << c.c << "x" << c.bits;
}

TEST(CodecPictures, ConsistencyCountsSamples) {
    Picture p;
    p.width = 3;
    p.height = 2;
    p.components = 3;
    p.bitsPerSample = 16;
    p.precision = 12;
    p.samples.resize(3 * 2 * 3 * 2);
    EXPECT_TRUE(p.isConsistent());
    p.precision = 17;
    EXPECT_FALSE(p.isConsistent());
    p.precision = 12;
    p.samples.pop_back();
    EXPECT_FALSE(p.isConsistent());
}
