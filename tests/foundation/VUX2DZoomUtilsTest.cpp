#include "VUX2DZoomUtils.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using namespace VUX::VUXGraphics2D;

// Pixels as 32-bit values whose bytes in memory are A, R, G, B.
uint32_t px(uint8_t a, uint8_t r, uint8_t g, uint8_t b) {
    uint32_t v;
    const uint8_t bytes[4] = {a, r, g, b};
    std::memcpy(&v, bytes, 4);
    return v;
}
uint8_t byteOf(uint32_t v, int k) {
    uint8_t bytes[4];
    std::memcpy(bytes, &v, 4);
    return bytes[k];
}

double box(double d) {
    return (d > -0.5 && d <= 0.5) ? 1.0 : 0.0;
}
double tent(double d) {
    d = d < 0 ? -d : d;
    return d < 1.0 ? 1.0 - d : 0.0;
}

TEST(VUX2DZoom, NearestNeighbourAndStepping) {
    const uint32_t a = px(1, 1, 1, 1), b = px(2, 2, 2, 2), c = px(3, 3, 3, 3), d = px(4, 4, 4, 4);
    const uint32_t src[4] = {a, b, c, d};
    std::vector<uint32_t> out(16);
    zoomNearestNeighbor<uint32_t, 1>(out.data(), src, VUXZoomSize(2, 2), VUXZoomSize(4, 4));
    EXPECT_EQ(out, (std::vector<uint32_t>{a, a, b, b, a, a, b, b, c, c, d, d, c, c, d, d}));

    // From 3 wide to 2: columns 0 and 1.
    const uint32_t row[3] = {a, b, c};
    uint32_t two[2] = {};
    algZoomLinear<uint32_t, 1>(two, row, VUXZoomSize(3, 1), VUXZoomSize(2, 1));
    EXPECT_EQ(two[0], a);
    EXPECT_EQ(two[1], b);
    // From 2 high to 5: each row is repeated, the first row of every output row is a source row.
    const uint32_t column[2] = {a, b};
    uint32_t five[5] = {};
    algZoomLinear<uint32_t, 1>(five, column, VUXZoomSize(1, 2), VUXZoomSize(1, 5));
    EXPECT_EQ(std::vector<uint32_t>(five, five + 5), (std::vector<uint32_t>{a, a, a, b, b}));

    // Zero sizes and null pointers do nothing.
    uint32_t untouched = 7;
    zoomNearestNeighbor<uint32_t, 1>(&untouched, src, VUXZoomSize(2, 2), VUXZoomSize(0, 4));
    algZoomBilinear<uint32_t, 1>(&untouched, nullptr, VUXZoomSize(2, 2), VUXZoomSize(1, 1));
    EXPECT_EQ(untouched, 7u);
}

TEST(VUX2DZoom, Bilinear) {
    const uint32_t src[4] = {px(9, 0, 0, 0), px(9, 100, 40, 8), px(9, 200, 80, 16), px(9, 40, 160, 32)};
    std::vector<uint32_t> out(16);
    algZoomBilinear<uint32_t, 1>(out.data(), src, VUXZoomSize(2, 2), VUXZoomSize(4, 4));
    for (uint32_t v : out)
        EXPECT_EQ(byteOf(v, 0), 0);
    EXPECT_EQ(out[0], px(0, 0, 0, 0));
    // (2, 2): the four source pixels weigh 0.25 each.
    EXPECT_EQ(out[2 * 4 + 2], px(0, 85, 70, 14));
    // (1, 0): a quarter of the way to the right neighbour.
    EXPECT_EQ(out[1], px(0, 25, 10, 2));

    // Enlarging a column interpolates between rows.
    const uint32_t col[2] = {px(0, 0, 0, 0), px(0, 200, 100, 40)};
    uint32_t tall[4] = {};
    algZoomBilinear<uint32_t, 1>(tall, col, VUXZoomSize(1, 2), VUXZoomSize(1, 4));
    EXPECT_EQ(tall[1], px(0, 50, 25, 10));
    EXPECT_EQ(tall[3], px(0, 150, 75, 30));
}

TEST(VUX2DZoom, FilteredResampling) {
    std::vector<uint8_t> src(5 * 3 * 4);
    for (size_t i = 0; i < src.size(); ++i)
        src[i] = uint8_t(i * 7);
    std::vector<uint8_t> same(src.size());
    algZoomFilterResampling<uint8_t, 4>(same.data(), src.data(), VUXZoomSize(5, 3), VUXZoomSize(5, 3), 0.5,
                                        box);
    EXPECT_EQ(same, src); // a box at scale 1 copies, alpha included

    // Halving a ramp with a tent filter averages neighbours.
    const uint8_t ramp[4 * 4] = {0, 0, 0, 0, 100, 100, 100, 100, 200, 200, 200, 200, 250, 250, 250, 250};
    uint8_t half[2 * 4] = {};
    algZoomFilterResampling<uint8_t, 4>(half, ramp, VUXZoomSize(4, 1), VUXZoomSize(2, 1), 1.0, tent);
    EXPECT_EQ(half[0], 33);  // (0 * 1 + 100 * 0.5) / 1.5
    EXPECT_EQ(half[4], 187); // (100 * 0.5 + 200 * 1 + 250 * 0.5) / 2

    uint8_t untouched[4] = {1, 2, 3, 4};
    algZoomFilterResampling<uint8_t, 4>(untouched, ramp, VUXZoomSize(4, 1), VUXZoomSize(1, 1), -1.0, tent);
    algZoomFilterResampling<uint8_t, 4>(untouched, ramp, VUXZoomSize(4, 1), VUXZoomSize(1, 1), 1.0, nullptr);
    EXPECT_EQ(untouched[0], 1);
    // Weights that cancel out give 0, not an undefined conversion.
    uint8_t cancelled[4] = {9, 9, 9, 9};
    algZoomFilterResampling<uint8_t, 4>(cancelled, ramp, VUXZoomSize(4, 1), VUXZoomSize(1, 1), 4.0,
                                        [](double d) { return d == 0.0     ? 1.0
                                                              : d == -0.25 ? -1.0
                                                                           : 0.0; });
    EXPECT_EQ(std::vector<uint8_t>(cancelled, cancelled + 4), (std::vector<uint8_t>{0, 0, 0, 0}));
}

TEST(VUX2DZoom, ThreeBytePixelsKeepOnlyTheirColours) {
    const uint8_t src[2 * 2 * 3] = {10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120};
    std::vector<uint8_t> out(4 * 4 * 3 + 1, 0xEE);
    zoomNearestNeighbor<uint8_t, 3>(out.data(), src, VUXZoomSize(2, 2), VUXZoomSize(4, 4));
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 6),
              (std::vector<uint8_t>{10, 20, 30, 10, 20, 30}));
    EXPECT_EQ(std::vector<uint8_t>(out.begin() + 45, out.begin() + 48),
              (std::vector<uint8_t>{100, 110, 120}));
    EXPECT_EQ(out[48], 0xEE); // nothing written past the image

    uint8_t same[12] = {};
    algZoomLinear<uint8_t, 3>(same, src, VUXZoomSize(2, 2), VUXZoomSize(2, 2));
    EXPECT_EQ(std::memcmp(same, src, 12), 0);
    algZoomFilterResampling<uint8_t, 3>(same, src, VUXZoomSize(2, 2), VUXZoomSize(2, 2), 0.5, box);
    EXPECT_EQ(std::memcmp(same, src, 12), 0); // the alpha added on the way never shows
    uint8_t one[3] = {};
    algZoomBilinear<uint8_t, 3>(one, src, VUXZoomSize(2, 2), VUXZoomSize(1, 1));
    EXPECT_EQ(std::vector<uint8_t>(one, one + 3), (std::vector<uint8_t>{10, 20, 30}));
    uint8_t argb[4 * 4] = {};
    const uint8_t src4[4] = {255, 1, 2, 3};
    algZoomBilinear<uint8_t, 4>(argb, src4, VUXZoomSize(1, 1), VUXZoomSize(2, 2));
    EXPECT_EQ(std::vector<uint8_t>(argb, argb + 4), (std::vector<uint8_t>{0, 1, 2, 3}));
}

// A large image: every index stays inside the source (the sanitizer build reads exactly sized
// buffers), and an identity resize gives the image back pixel for pixel.
TEST(VUX2DZoom, LargeImagesStayInBounds) {
    const uint32_t n = 5000;
    std::vector<uint32_t> src(size_t(n) * n);
    for (size_t i = 0; i < src.size(); ++i)
        src[i] = uint32_t(i * 2654435761u);
    std::vector<uint32_t> out(src.size());
    zoomNearestNeighbor<uint32_t, 1>(out.data(), src.data(), VUXZoomSize(n, n), VUXZoomSize(n, n));
    EXPECT_TRUE(out == src);
    algZoomLinear<uint32_t, 1>(out.data(), src.data(), VUXZoomSize(n, n), VUXZoomSize(n, n));
    EXPECT_TRUE(out == src);
    algZoomBilinear<uint32_t, 1>(out.data(), src.data(), VUXZoomSize(n, n), VUXZoomSize(n, n));
    EXPECT_EQ(byteOf(out.back(), 0), 0);
    std::vector<uint32_t> small(7 * 7);
    algZoomFilterResampling<uint8_t, 4>(reinterpret_cast<uint8_t*>(small.data()),
                                        reinterpret_cast<const uint8_t*>(src.data()), VUXZoomSize(n, n),
                                        VUXZoomSize(7, 7), 1.0, tent);
    std::vector<uint32_t> back(src.size());
    zoomNearestNeighbor<uint32_t, 1>(back.data(), small.data(), VUXZoomSize(7, 7), VUXZoomSize(n, n));
    EXPECT_EQ(back.back(), small.back());
}

} // namespace
