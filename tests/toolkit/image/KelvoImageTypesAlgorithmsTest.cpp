// Pixel algorithms: nearest-neighbour resizing, unpacking world pixels, stretching to bytes
// (checked against numpy), range normalisation, combinations, and drawing sample arrays into
// worlds.
#include "ImagePeer.h"
#include "KelvoImageTypesAlgorithms.h"
#include "WorldSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <numeric>
#include <vector>

namespace {

using worldsupport::rgbAt;

template <class T, int N>
std::vector<T> zoomed(const std::vector<T>& src, double sw, double sh, double dw, double dh, size_t room) {
    std::vector<T> dst(room, T(77));
    algZoomNearestNeighbor<T, N>(dst.data(), src.data(), Kelvo_Size(sw, sh), Kelvo_Size(dw, dh));
    return dst;
}

TEST(AlgZoomNearestNeighbor, RepeatsAndSkipsPixels) {
    // 2 x 2 to 4 x 4: each pixel becomes a 2 x 2 block.
    EXPECT_EQ((zoomed<uint8_t, 1>({1, 2, 3, 4}, 2, 2, 4, 4, 16)),
              (std::vector<uint8_t>{1, 1, 2, 2, 1, 1, 2, 2, 3, 3, 4, 4, 3, 3, 4, 4}));
    // 4 x 4 to 2 x 2 keeps (0, 0), (2, 0), (0, 2), (2, 2).
    std::vector<uint16_t> ramp(16);
    std::iota(ramp.begin(), ramp.end(), 100);
    EXPECT_EQ((zoomed<uint16_t, 1>(ramp, 4, 4, 2, 2, 4)), (std::vector<uint16_t>{100, 102, 108, 110}));
    // 3 x 1 to 2 x 1: x scale 1.5 takes pixels 0 and 1.
    EXPECT_EQ((zoomed<float, 1>({0.5f, 1.5f, 2.5f}, 3, 1, 2, 1, 2)), (std::vector<float>{0.5f, 1.5f}));
    EXPECT_EQ((zoomed<uint32_t, 1>({0xAABBCCDD, 7}, 2, 1, 4, 1, 4)),
              (std::vector<uint32_t>{0xAABBCCDD, 0xAABBCCDD, 7, 7}));
    // Whole pixels of three and four samples move together.
    EXPECT_EQ((zoomed<uint8_t, 3>({1, 2, 3, 4, 5, 6}, 2, 1, 4, 1, 12)),
              (std::vector<uint8_t>{1, 2, 3, 1, 2, 3, 4, 5, 6, 4, 5, 6}));
    EXPECT_EQ((zoomed<uint8_t, 4>({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}, 2, 2, 1, 2, 8)),
              (std::vector<uint8_t>{1, 2, 3, 4, 9, 10, 11, 12}));
}

TEST(AlgZoomNearestNeighbor, WritesOnlyWholeDestinationRows) {
    // An empty destination or a missing source: nothing written.
    EXPECT_EQ((zoomed<uint8_t, 1>({1, 2, 3, 4}, 2, 2, 2, 0, 4)), (std::vector<uint8_t>(4, 77)));
    EXPECT_EQ((zoomed<uint8_t, 1>({1, 2, 3, 4}, 2, 2, -3, 2, 4)), (std::vector<uint8_t>(4, 77)));
    std::vector<uint8_t> dst(4, 77);
    algZoomNearestNeighbor<uint8_t, 1>(dst.data(), nullptr, Kelvo_Size(2, 2), Kelvo_Size(2, 2));
    EXPECT_EQ(dst, std::vector<uint8_t>(4, 77));
    // A fractional height counts whole rows only: 2 x 2.5 fills two rows, not a third.
    EXPECT_EQ((zoomed<uint8_t, 1>({1, 2, 3, 4}, 2, 2, 2, 2.5, 6)),
              (std::vector<uint8_t>{1, 2, 3, 4, 77, 77}));
}

TEST(PixelToData, EachInstanceUnpacksOnePixel) {
    const uint32_t pixel = 0x11223344; // A 0x11, R 0x22, G 0x33, B 0x44
    uint32_t whole[2] = {};
    uint32_t* w = whole;
    pixelToData<uint32_t, 1>(pixel, w);
    EXPECT_EQ(w, whole + 1);
    const uint8_t argb[4] = {0x11, 0x22, 0x33, 0x44};
    EXPECT_EQ(std::memcmp(whole, argb, 4), 0);
    int32_t signedWhole = 0;
    int32_t* sw = &signedWhole;
    pixelToData<int32_t, 1>(pixel, sw);
    EXPECT_EQ(std::memcmp(&signedWhole, argb, 4), 0);

    struct Grey {
        uint32_t pixel;
        uint16_t want;
    } greys[] = {
        {0xFFFFFFFF, 65535}, {0x00FF0000, 76 * 257}, {0x0000FF00, 149 * 257}, {0x000000FF, 29 * 257}};
    for (const Grey& g : greys) {
        uint16_t v = 0;
        uint16_t* p = &v;
        pixelToData<uint16_t, 1>(g.pixel, p);
        EXPECT_EQ(v, g.want) << std::hex << g.pixel;
        EXPECT_EQ(p, &v + 1);
    }
    int16_t s = 0;
    int16_t* sp = &s;
    pixelToData<int16_t, 1>(0xFFFFFFFF, sp);
    EXPECT_EQ(s, -1);

    uint8_t rgb[3] = {};
    uint8_t* r = rgb;
    pixelToData<uint8_t, 3>(pixel, r);
    EXPECT_EQ(r, rgb + 3);
    EXPECT_EQ(std::memcmp(rgb, argb + 1, 3), 0);
    uint8_t four[4] = {};
    uint8_t* f = four;
    pixelToData<uint8_t, 4>(pixel, f);
    EXPECT_EQ(f, four + 4);
    EXPECT_EQ(std::memcmp(four, argb, 4), 0);
}

TEST(ScaleToUInt8, ByHandAndFailures) {
    const float f[3] = {1.0f, 2.0f, 3.0f};
    const double d[3] = {1.0, 2.0, 3.0};
    uint8_t* out = nullptr;
    EXPECT_EQ(scaleToUInt8<float>(f, out, 3), 0);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 3), (std::vector<uint8_t>{0, 127, 255}));
    delete[] out;
    EXPECT_EQ(scaleToUInt8<double>(d, out, 3), 0);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 3), (std::vector<uint8_t>{0, 127, 255}));
    delete[] out;

    const float flat[4] = {5.0f, 5.0f, 5.0f, 5.0f};
    EXPECT_EQ(scaleToUInt8<float>(flat, out, 4), 0);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 4), std::vector<uint8_t>(4, 0));
    delete[] out;

    // Given bounds: samples beyond them are clamped; 16-bit samples truncate first.
    const uint16_t u[5] = {100, 1100, 2100, 3000, 50};
    EXPECT_EQ(scaleToUInt8<uint16_t>(u, out, 100, 2100, 5), 0);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 5), (std::vector<uint8_t>{0, 127, 255, 255, 0}));
    delete[] out;

    out = reinterpret_cast<uint8_t*>(&out); // replaced by null on failure
    EXPECT_EQ(scaleToUInt8<float>(nullptr, out, 3), -50);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(scaleToUInt8<float>(f, out, 0), -50);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(scaleToUInt8<uint16_t>(u, out, 0, 1, 0), -50);
    EXPECT_EQ(out, nullptr);
}

TEST(ScaleToUInt8, FloatSamplesMatchNumpy) {
    testsupport::ScratchDir scratch("scale-to-bytes");
    ASSERT_TRUE(imagepeer::runPeer(scratch, R"(import sys, os
import numpy as np
out = sys.argv[1]
a = (np.random.default_rng(5).standard_normal(999) * 40.0 - 7.0).astype(np.float32)
a.tofile(os.path.join(out, 'f.bin'))
mn, mx = a.min(), a.max()
factor = np.float32(255) / (mx - mn)
v = a * factor - mn * factor
np.clip(np.trunc(v), 0, 255).astype(np.uint8).tofile(os.path.join(out, 'bytes.bin'))
)"));
    const std::vector<float> samples = imagepeer::samplesOf<float>(scratch.file("f.bin"));
    const std::vector<uint8_t> want = imagepeer::samplesOf<uint8_t>(scratch.file("bytes.bin"));
    ASSERT_EQ(samples.size(), 999u);
    uint8_t* out = nullptr;
    ASSERT_EQ(scaleToUInt8<float>(samples.data(), out, uint32_t(samples.size())), 0);
    std::unique_ptr<uint8_t[]> owned(out);
    EXPECT_EQ(std::vector<uint8_t>(out, out + samples.size()), want);
}

TEST(NormalizeDataT, RangesByHand) {
    // 0 .. 100 onto 0 .. 255: 50 becomes 127 in integers.
    const uint8_t b[3] = {0, 50, 100};
    uint8_t bo[3] = {};
    uint8_t bmin = 0, bmax = 100, blow = 0, bhigh = 255;
    EXPECT_EQ((normalizeDataT<uint8_t, uint8_t>(b, bo, bmin, bmax, blow, bhigh, 3)), 0);
    EXPECT_EQ(std::vector<uint8_t>(bo, bo + 3), (std::vector<uint8_t>{0, 127, 255}));
    const uint16_t w[3] = {0, 50, 100};
    uint16_t wo[3] = {};
    uint16_t wmin = 0, wmax = 100, wlow = 0, whigh = 255;
    EXPECT_EQ((normalizeDataT<uint16_t, uint16_t>(w, wo, wmin, wmax, wlow, whigh, 3)), 0);
    EXPECT_EQ(std::vector<uint16_t>(wo, wo + 3), (std::vector<uint16_t>{0, 127, 255}));

    // Bounds out of order are swapped in the caller's variables too.
    uint8_t smin = 100, smax = 0, slow = 255, shigh = 0;
    EXPECT_EQ((normalizeDataT<uint8_t, uint8_t>(b, bo, smin, smax, slow, shigh, 3)), 0);
    EXPECT_EQ(smin, 0);
    EXPECT_EQ(smax, 100);
    EXPECT_EQ(slow, 0);
    EXPECT_EQ(shigh, 255);
    EXPECT_EQ(bo[1], 127);

    // The full 16-bit range onto itself is the identity: the products need more than 32 bits.
    const uint16_t full[4] = {0, 1, 40000, 65535};
    uint16_t fo[4] = {};
    uint16_t fmin = 0, fmax = 65535, flow = 0, fhigh = 65535;
    EXPECT_EQ((normalizeDataT<uint16_t, uint16_t>(full, fo, fmin, fmax, flow, fhigh, 4)), 0);
    EXPECT_EQ(std::vector<uint16_t>(fo, fo + 4), std::vector<uint16_t>(full, full + 4));

    // Samples beyond the source range are clamped; empty ranges give low.
    const uint8_t beyond[2] = {200, 10};
    uint8_t cmin = 20, cmax = 100, clow = 10, chigh = 90;
    EXPECT_EQ((normalizeDataT<uint8_t, uint8_t>(beyond, bo, cmin, cmax, clow, chigh, 2)), 0);
    EXPECT_EQ(bo[0], 90);
    EXPECT_EQ(bo[1], 10);
    uint8_t emin = 5, emax = 5, elow = 3, ehigh = 9;
    EXPECT_EQ((normalizeDataT<uint8_t, uint8_t>(b, bo, emin, emax, elow, ehigh, 3)), 0);
    EXPECT_EQ(std::vector<uint8_t>(bo, bo + 3), std::vector<uint8_t>(3, 3));

    // Floats onto bytes: clamped, then truncated.
    const float fl[3] = {-1.0f, 0.5f, 2.0f};
    uint8_t flo[3] = {};
    float fmn = 0.0f, fmx = 1.0f;
    uint8_t flw = 0, fhg = 255;
    EXPECT_EQ((normalizeDataT<float, uint8_t>(fl, flo, fmn, fmx, flw, fhg, 3)), 0);
    EXPECT_EQ(std::vector<uint8_t>(flo, flo + 3), (std::vector<uint8_t>{0, 127, 255}));

    // The five-argument form takes the source's own range.
    const float own[3] = {2.0f, 4.0f, 6.0f};
    float oo[3] = {};
    float olow = 1.0f, ohigh = 0.0f;
    EXPECT_EQ((normalizeDataT<float, float>(own, oo, olow, ohigh, 3)), 0);
    EXPECT_EQ(olow, 0.0f);
    EXPECT_EQ(std::vector<float>(oo, oo + 3), (std::vector<float>{0.0f, 0.5f, 1.0f}));

    EXPECT_EQ((normalizeDataT<uint8_t, uint8_t>(nullptr, bo, blow, bhigh, 3)), -50);
    EXPECT_EQ((normalizeDataT<uint8_t, uint8_t>(b, nullptr, bmin, bmax, blow, bhigh, 3)), -50);
    EXPECT_EQ((normalizeDataT<uint8_t, uint8_t>(b, bo, blow, bhigh, 0)), -50);
}

TEST(ImageOps, BitwiseOnStretchedBytesAndNegation) {
    const float a[3] = {0.0f, 1.0f, 2.0f}; // bytes 0, 127, 255
    const float b[3] = {2.0f, 1.0f, 0.0f}; // bytes 255, 127, 0
    float out[3] = {};
    imageOp_And<float>(out, a, b, 3);
    EXPECT_EQ(std::vector<float>(out, out + 3), (std::vector<float>{0, 127, 0}));
    imageOp_Or<float>(out, a, b, 3);
    EXPECT_EQ(std::vector<float>(out, out + 3), (std::vector<float>{255, 127, 255}));
    const double da[3] = {0.0, 1.0, 2.0};
    const double db[3] = {2.0, 1.0, 0.0};
    double dout[3] = {};
    imageOp_XOr<double>(dout, da, db, 3);
    EXPECT_EQ(std::vector<double>(dout, dout + 3), (std::vector<double>{255, 0, 255}));
    imageOp_Not<double>(dout, da, 3);
    EXPECT_EQ(std::vector<double>(dout, dout + 3), (std::vector<double>{-0.0, -1.0, -2.0}));

    float untouched[3] = {9, 9, 9};
    imageOp_And<float>(untouched, nullptr, b, 3);
    imageOp_Not<float>(untouched, nullptr, 3);
    EXPECT_EQ(std::vector<float>(untouched, untouched + 3), std::vector<float>(3, 9));
}

// A description of w x h samples of the given codec and depth.
std::unique_ptr<Kelvo_ImgDesc> descOf(OSType type, int16_t depth, int16_t w, int16_t h, int32_t bytes) {
    auto d = std::make_unique<Kelvo_ImgDesc>();
    d->dataFormat(type);
    d->qtDepth(depth);
    d->qtWidth(w);
    d->qtHeight(h);
    d->qtDataSize(bytes);
    return d;
}

TEST(QdContextFromData, DrawsEachSampleType) {
    Kelvo_QDGWorldBuffer* world = reinterpret_cast<Kelvo_QDGWorldBuffer*>(&world);
    auto grey = descOf(FOUR_CHAR_CODE("raw "), 40, 2, 1, 2);
    EXPECT_EQ(qdContextFromData<uint8_t>(nullptr, world, *grey, 1), 79);
    EXPECT_EQ(world, nullptr);

    // Bytes in 8-bit grey where 0 is white: the monochrome flag shows 0 as black.
    const uint8_t bytes[2] = {0, 255};
    ASSERT_EQ(qdContextFromData<uint8_t>(bytes, world, *grey, 1), 0);
    std::unique_ptr<Kelvo_QDGWorldBuffer> mono(world);
    ASSERT_TRUE(mono);
    EXPECT_EQ(rgbAt(*mono, 0, 0), 0x000000u);
    EXPECT_EQ(rgbAt(*mono, 1, 0), 0xFFFFFFu);
    ASSERT_EQ(qdContextFromData<uint8_t>(bytes, world, *grey, 0), 0);
    std::unique_ptr<Kelvo_QDGWorldBuffer> plain(world);
    EXPECT_EQ(rgbAt(*plain, 0, 0), 0xFFFFFFu);
    EXPECT_EQ(rgbAt(*plain, 1, 0), 0x000000u);

    // 16-bit samples up to 4095 are stretched between their extremes; from 4096 on they are
    // drawn as the 16-bit grey they are (4096 is dark: 16 of 255).
    struct Case {
        uint16_t top;
        uint32_t second;
    } cases[] = {{4095, 0xFFFFFFu}, {4096, 0x101010u}};
    for (const Case& c : cases) {
        const uint16_t words[3] = {0, c.top, 0};
        auto wide = descOf(FOUR_CHAR_CODE("b16g"), 16, 3, 1, 6);
        ASSERT_EQ(qdContextFromData<uint16_t>(words, world, *wide, 0), 0) << c.top;
        std::unique_ptr<Kelvo_QDGWorldBuffer> drawn(world);
        ASSERT_TRUE(drawn);
        EXPECT_EQ(rgbAt(*drawn, 0, 0), 0u) << c.top;
        EXPECT_EQ(rgbAt(*drawn, 1, 0), c.second) << c.top;
    }

    // Floats and doubles are stretched to grey with 0 black.
    const float f[3] = {1.0f, 2.0f, 3.0f};
    auto fd = descOf(FOUR_CHAR_CODE("raw "), 32, 3, 1, 12);
    ASSERT_EQ(qdContextFromData<float>(f, world, *fd, 0), 0);
    std::unique_ptr<Kelvo_QDGWorldBuffer> fw(world);
    EXPECT_EQ(rgbAt(*fw, 0, 0), 0x000000u);
    EXPECT_EQ(rgbAt(*fw, 1, 0), 0x7F7F7Fu);
    EXPECT_EQ(rgbAt(*fw, 2, 0), 0xFFFFFFu);
    const double d[3] = {3.0, 2.0, 1.0};
    auto dd = descOf(FOUR_CHAR_CODE("raw "), 32, 3, 1, 24);
    ASSERT_EQ(qdContextFromData<double>(d, world, *dd, 0), 0);
    std::unique_ptr<Kelvo_QDGWorldBuffer> dw(world);
    EXPECT_EQ(rgbAt(*dw, 0, 0), 0xFFFFFFu);
    EXPECT_EQ(rgbAt(*dw, 2, 0), 0x000000u);
}

} // namespace
