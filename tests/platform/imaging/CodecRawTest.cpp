// The raw family: each layout decoded from small hand-worked frames, encoded back, and refused
// with the right status when the frame is short, the dimensions absurd or the layout unknown.
#include "PlatformCodecRaw.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace platform::codec;

namespace {

std::string fourCC(OSType t) {
    return {char(t >> 24), char(t >> 16), char(t >> 8), char(t)};
}

std::vector<uint8_t> hostWords(std::initializer_list<uint16_t> words) {
    std::vector<uint8_t> bytes(words.size() * 2);
    std::memcpy(bytes.data(), std::data(words), bytes.size());
    return bytes;
}

std::vector<uint8_t> littleWords(std::initializer_list<uint16_t> words) {
    std::vector<uint8_t> bytes;
    for (uint16_t w : words)
        bytes.insert(bytes.end(), {uint8_t(w), uint8_t(w >> 8)});
    return bytes;
}

Picture picture(int32_t w, int32_t h, int32_t comps, int32_t bits, std::vector<uint8_t> samples) {
    Picture p;
    p.width = w;
    p.height = h;
    p.components = comps;
    p.bitsPerSample = p.precision = bits;
    p.samples = std::move(samples);
    return p;
}

struct Fixture {
    const char* name;
    OSType type;
    int32_t depth;
    int32_t width, height;
    std::vector<uint8_t> frame;
    Picture expected;
    bool roundTrips; // whether encoding the expected picture gives the frame back
};

std::vector<Fixture> fixtures() {
    const OSType raw = FOUR_CHAR_CODE("raw ");
    return {
        // 1 = black; rows padded to whole bytes.
        {"mono", raw, 1, 2, 2, {0x80, 0x40}, picture(2, 2, 1, 8, {0, 255, 255, 0}), true},
        {"mono 9 wide",
         raw,
         1,
         9,
         2,
         {0xAA, 0x80, 0x01, 0x00},
         picture(9, 2, 1, 8, {0, 255, 0, 255, 0, 255, 0, 255, 0, 255, 255, 255, 255, 255, 255, 255, 0, 255}),
         true},
        {"mono padding bits ignored", raw, 1, 3, 1, {0x5F}, picture(3, 1, 1, 8, {255, 0, 255}), false},
        // 0 is white at depths 8 and 40.
        {"grey 8", raw, 8, 2, 2, {0x00, 0xFF, 0x10, 0x80}, picture(2, 2, 1, 8, {255, 0, 0xEF, 0x7F}), true},
        {"grey 40", raw, 40, 2, 2, {0x00, 0xFF, 0x10, 0x80}, picture(2, 2, 1, 8, {255, 0, 0xEF, 0x7F}), true},
        // 5-5-5 big-endian words, high bits replicated.
        {"rgb 555",
         raw,
         16,
         2,
         2,
         {0x7C, 0x00, 0x03, 0xE0, 0x00, 0x1F, 0x42, 0x10},
         picture(2, 2, 3, 8, {255, 0, 0, 0, 255, 0, 0, 0, 255, 132, 132, 132}),
         true},
        {"rgb 555 top bit unused", raw, 16, 1, 1, {0xFC, 0x01}, picture(1, 1, 3, 8, {255, 0, 8}), false},
        {"rgb 24", raw, 24, 2, 1, {1, 2, 3, 4, 5, 6}, picture(2, 1, 3, 8, {1, 2, 3, 4, 5, 6}), true},
        {"argb 32",
         raw,
         32,
         2,
         1,
         {0x80, 1, 2, 3, 0xFF, 4, 5, 6},
         picture(2, 1, 4, 8, {1, 2, 3, 0x80, 4, 5, 6, 0xFF}),
         true},
        {"planar 24",
         FOUR_CHAR_CODE("8BPS"),
         24,
         2,
         2,
         {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12},
         picture(2, 2, 3, 8, {1, 5, 9, 2, 6, 10, 3, 7, 11, 4, 8, 12}),
         true},
        {"planar 32: R, G, B, A planes",
         FOUR_CHAR_CODE("8BPS"),
         32,
         2,
         1,
         {1, 2, 3, 4, 5, 6, 7, 8},
         picture(2, 1, 4, 8, {1, 3, 5, 7, 2, 4, 6, 8}),
         true},
        // R = (255 - C)(255 - K) / 255 rounded: (0, 128, 255, 64) -> 191, 127 * 191 / 255 = 95.1, 0.
        {"cmyk",
         FOUR_CHAR_CODE("cmyk"),
         32,
         2,
         2,
         {0, 0, 0, 0, 0, 0, 0, 255, 255, 0, 0, 0, 0, 128, 255, 64},
         picture(2, 2, 3, 8, {255, 255, 255, 0, 0, 0, 0, 255, 255, 191, 95, 0}),
         true},
        // BT.601 video range: Y 16 black, 235 white; (Y 81, Cb 90, Cr 240) is red at 254.44, -0.48, -0.97.
        {"2vuy",
         FOUR_CHAR_CODE("2vuy"),
         24,
         2,
         2,
         {128, 16, 128, 235, 90, 81, 240, 81},
         picture(2, 2, 3, 8, {0, 0, 0, 255, 255, 255, 254, 0, 0, 254, 0, 0}),
         true},
        // An odd row still holds a whole pair; its second luma is padding.
        {"2vuy odd width",
         FOUR_CHAR_CODE("2vuy"),
         24,
         3,
         1,
         {128, 16, 128, 235, 128, 126, 128, 0},
         picture(3, 1, 3, 8, {0, 0, 0, 255, 255, 255, 128, 128, 128}),
         false},
        // The same in 16-bit little-endian samples: red is 65391.06.
        {"v216", FOUR_CHAR_CODE("v216"), 24, 2, 2,
         littleWords({0x8000, 0x1000, 0x8000, 0xEB00, 0x5A00, 0x5100, 0xF000, 0x5100}),
         picture(2, 2, 3, 16, hostWords({0, 0, 0, 65535, 65535, 65535, 65391, 0, 0, 65391, 0, 0})), false},
        {"grey 16 host order", FOUR_CHAR_CODE("b16g"), 16, 2, 2, hostWords({0, 1, 0x1234, 0xFFFF}),
         picture(2, 2, 1, 16, hostWords({0, 1, 0x1234, 0xFFFF})), true},
        {"rgb 48 host order", FOUR_CHAR_CODE("b48r"), 48, 2, 1, hostWords({1, 2, 3, 0xFFFF, 0x8000, 0x0102}),
         picture(2, 1, 3, 16, hostWords({1, 2, 3, 0xFFFF, 0x8000, 0x0102})), true},
    };
}

} // namespace

TEST(CodecRaw, DecodesHandWorkedFramesAndEncodesThemBack) {
    for (const Fixture& f : fixtures()) {
        SCOPED_TRACE(f.name);
        EXPECT_TRUE(isRawFamily(f.type));
        EXPECT_EQ(rawFrameSize(f.type, f.depth, f.width, f.height), f.frame.size());
        Picture got;
        ASSERT_EQ(decodeRaw(f.type, f.depth, f.width, f.height, f.frame.data(), f.frame.size(), got), noErr);
        EXPECT_TRUE(got.isConsistent());
        EXPECT_EQ(got.width, f.expected.width);
        EXPECT_EQ(got.height, f.expected.height);
        EXPECT_EQ(got.components, f.expected.components);
        EXPECT_EQ(got.bitsPerSample, f.expected.bitsPerSample);
        EXPECT_EQ(got.precision, f.expected.bitsPerSample);
        EXPECT_EQ(got.samples, f.expected.samples);
        // Bytes after a frame are not part of it.
        std::vector<uint8_t> longer = f.frame;
        longer.push_back(0xA5);
        Picture again;
        ASSERT_EQ(decodeRaw(f.type, f.depth, f.width, f.height, longer.data(), longer.size(), again), noErr);
        EXPECT_EQ(again.samples, f.expected.samples);
        if (f.roundTrips) {
            std::vector<uint8_t> encoded;
            ASSERT_EQ(encodeRaw(f.type, f.depth, f.expected, encoded), noErr);
            EXPECT_EQ(encoded, f.frame);
        }
    }
}

TEST(CodecRaw, EveryShortFrameIsBadData) {
    for (const Fixture& f : fixtures()) {
        for (size_t cut = 0; cut < f.frame.size(); ++cut) {
            Picture got = f.expected;
            EXPECT_EQ(decodeRaw(f.type, f.depth, f.width, f.height, f.frame.data(), cut, got),
                      codecBadDataErr)
                << f.name << " cut at " << cut;
            EXPECT_TRUE(got.samples.empty() && got.width == 0);
        }
        Picture got;
        EXPECT_EQ(decodeRaw(f.type, f.depth, f.width, f.height, nullptr, 1000, got), codecBadDataErr)
            << f.name;
    }
}

TEST(CodecRaw, FrameSizesAndRefusals) {
    const OSType raw = FOUR_CHAR_CODE("raw ");
    struct Case {
        OSType type;
        int32_t depth, width, height;
        size_t frame;  // rawFrameSize
        OSErr decoded; // decodeRaw over a frame of that size (or 64 bytes when 0)
    } cases[] = {
        {raw, 1, 9, 3, 6, noErr},
        {raw, 1, 16, 1, 2, noErr},
        {raw, 40, 3, 3, 9, noErr},
        {raw, 16, 3, 1, 6, noErr},
        {raw, 32, 65535, 1, 262140, noErr},
        {FOUR_CHAR_CODE("2vuy"), 0, 5, 2, 24, noErr},
        {FOUR_CHAR_CODE("v216"), 32, 1, 1, 8, noErr},
        {FOUR_CHAR_CODE("b48r"), 48, 3, 1, 18, noErr},
        {raw, 2, 4, 4, 0, codecUnimpErr},
        {raw, 12, 4, 4, 0, codecUnimpErr},
        {raw, 0, 4, 4, 0, codecUnimpErr},
        {FOUR_CHAR_CODE("8BPS"), 8, 4, 4, 0, codecUnimpErr},
        {FOUR_CHAR_CODE("jpeg"), 24, 4, 4, 0, codecUnimpErr},
        {0, 24, 4, 4, 0, codecUnimpErr},
        {raw, 24, 0, 4, 0, codecSizeErr},
        {raw, 24, 4, -1, 0, codecSizeErr},
        {raw, 24, 65536, 1, 0, codecSizeErr},
        {raw, 8, INT32_MAX, INT32_MAX, 0, codecSizeErr},
        {raw, 32, INT32_MIN, 2, 0, codecSizeErr},
        {raw, 32, 32768, 32768, 0, codecSizeErr}, // 4 GiB of samples
        {FOUR_CHAR_CODE("b48r"), 48, 16384, 16384, 0, codecSizeErr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(fourCC(c.type) + " " + std::to_string(c.depth) + " " + std::to_string(c.width) + "x" +
                     std::to_string(c.height));
        EXPECT_EQ(isRawFamily(c.type), c.type != FOUR_CHAR_CODE("jpeg") && c.type != 0);
        EXPECT_EQ(rawFrameSize(c.type, c.depth, c.width, c.height), c.frame);
        std::vector<uint8_t> bytes(c.frame ? c.frame : 64, 0x5A);
        Picture got;
        EXPECT_EQ(decodeRaw(c.type, c.depth, c.width, c.height, bytes.data(), bytes.size(), got), c.decoded);
        EXPECT_EQ(got.isConsistent(), c.decoded == noErr);
    }
}

TEST(CodecRaw, EncodingTakesTheLayoutsShapesOnly) {
    const OSType raw = FOUR_CHAR_CODE("raw ");
    const Picture grey = picture(2, 1, 1, 8, {127, 128});
    const Picture rgb = picture(1, 1, 3, 8, {10, 20, 30});
    const Picture rgba = picture(1, 1, 4, 8, {10, 20, 30, 40});
    const Picture grey16 = picture(1, 1, 1, 16, hostWords({300}));
    Picture inconsistent = rgb;
    inconsistent.samples.pop_back();
    struct Case {
        const char* name;
        OSType type;
        int32_t depth;
        const Picture& in;
        OSErr status;
        std::vector<uint8_t> frame;
    } cases[] = {
        {"rgb to raw 32 gets opaque alpha", raw, 32, rgb, noErr, {255, 10, 20, 30}},
        {"rgba to raw 24 drops alpha", raw, 24, rgba, noErr, {10, 20, 30}},
        {"rgba to 8BPS 24 drops alpha", FOUR_CHAR_CODE("8BPS"), 24, rgba, noErr, {10, 20, 30}},
        {"rgb to 8BPS 32 gets opaque alpha", FOUR_CHAR_CODE("8BPS"), 32, rgb, noErr, {10, 20, 30, 255}},
        {"mono threshold at half", raw, 1, grey, noErr, {0x80}},
        {"rgb to grey", raw, 8, rgb, paramErr, {}},
        {"grey to rgb", raw, 24, grey, paramErr, {}},
        {"16-bit to 8-bit layout", raw, 40, grey16, paramErr, {}},
        {"8-bit to 16-bit layout", FOUR_CHAR_CODE("b16g"), 16, grey, paramErr, {}},
        {"inconsistent picture", raw, 24, inconsistent, paramErr, {}},
        {"unknown depth", raw, 12, rgb, codecUnimpErr, {}},
        {"unknown type", FOUR_CHAR_CODE("rle "), 24, rgb, codecUnimpErr, {}},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> out = {1, 2, 3};
        EXPECT_EQ(encodeRaw(c.type, c.depth, c.in, out), c.status) << c.name;
        EXPECT_EQ(out, c.frame) << c.name;
    }
}

// The CMYK encoding is an exact inverse of the decoding over the whole RGB cube.
TEST(CodecRaw, CMYKRoundTripsEveryColour) {
    const OSType cmyk = FOUR_CHAR_CODE("cmyk");
    Picture slice = picture(256, 256, 3, 8, {});
    slice.samples.resize(256 * 256 * 3);
    for (int red = 0; red < 256; ++red) {
        for (size_t i = 0; i < 256 * 256; ++i) {
            slice.samples[3 * i] = uint8_t(red);
            slice.samples[3 * i + 1] = uint8_t(i >> 8);
            slice.samples[3 * i + 2] = uint8_t(i);
        }
        std::vector<uint8_t> frame;
        ASSERT_EQ(encodeRaw(cmyk, 32, slice, frame), noErr);
        Picture back;
        ASSERT_EQ(decodeRaw(cmyk, 32, 256, 256, frame.data(), frame.size(), back), noErr);
        ASSERT_TRUE(back.samples == slice.samples) << "red " << red;
    }
    // K holds what the three share: a grey is K alone.
    std::vector<uint8_t> frame;
    ASSERT_EQ(encodeRaw(cmyk, 32, picture(1, 1, 3, 8, {128, 128, 128}), frame), noErr);
    EXPECT_EQ(frame, (std::vector<uint8_t>{0, 0, 0, 127}));
}

// 4:2:2 is lossy: pairs of equal pixels come back within the quantisation of video range.
TEST(CodecRaw, VideoRangeRoundTripsWithinQuantisation) {
    struct Case {
        OSType type;
        int32_t bits;
        int tolerance;
    } cases[] = {{FOUR_CHAR_CODE("2vuy"), 8, 2}, {FOUR_CHAR_CODE("v216"), 16, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(fourCC(c.type));
        const int32_t w = 64, h = 48;
        Picture in = picture(w, h, 3, c.bits, {});
        in.samples.resize(in.rowBytes() * h);
        const int32_t maxv = (1 << c.bits) - 1;
        uint32_t seed = 12345;
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; x += 2)
                for (int k = 0; k < 3; ++k) {
                    seed = seed * 1103515245u + 12345u;
                    const uint32_t v = (seed >> 8) % uint32_t(maxv + 1);
                    for (int32_t dx = 0; dx < 2; ++dx) {
                        const size_t at = (size_t(y) * w + x + dx) * 3 + k;
                        if (c.bits == 8)
                            in.samples[at] = uint8_t(v);
                        else
                            std::memcpy(&in.samples[at * 2], &v, 2); // little-endian host
                    }
                }
        std::vector<uint8_t> frame;
        ASSERT_EQ(encodeRaw(c.type, 24, in, frame), noErr);
        ASSERT_EQ(frame.size(), rawFrameSize(c.type, 24, w, h));
        Picture back;
        ASSERT_EQ(decodeRaw(c.type, 24, w, h, frame.data(), frame.size(), back), noErr);
        int worst = 0;
        for (size_t i = 0; i < size_t(w) * h * 3; ++i) {
            int a, b;
            if (c.bits == 8) {
                a = in.samples[i], b = back.samples[i];
            } else {
                uint16_t u, v;
                std::memcpy(&u, &in.samples[2 * i], 2);
                std::memcpy(&v, &back.samples[2 * i], 2);
                a = u, b = v;
            }
            worst = std::max(worst, std::abs(a - b));
        }
        EXPECT_LE(worst, c.tolerance);
    }
    // Black and white land on the ends of video range; an odd row's pad repeats its last luma.
    std::vector<uint8_t> frame;
    ASSERT_EQ(
        encodeRaw(FOUR_CHAR_CODE("2vuy"), 24, picture(3, 1, 3, 8, {0, 0, 0, 255, 255, 255, 0, 0, 0}), frame),
        noErr);
    EXPECT_EQ(frame, (std::vector<uint8_t>{128, 16, 128, 235, 128, 16, 128, 16}));
}

// Writers pad rows (ffmpeg and the platform's own to an even number of bytes, others further): a
// sample that is a whole number of rows longer than the layout's is read at that stride, with
// the padding skipped; planar frames and samples of no whole rows are read packed.
TEST(CodecRaw, PaddedRowsAreReadAtTheSamplesStride) {
    const OSType raw = FOUR_CHAR_CODE("raw ");
    for (const Fixture& f : fixtures()) {
        if (f.height < 2) continue;
        const size_t packed = f.frame.size() / size_t(f.height);
        for (size_t pad : {1u, 2u, 3u, 16u}) {
            SCOPED_TRACE(std::string(f.name) + " padded by " + std::to_string(pad));
            const bool planar = f.type == FOUR_CHAR_CODE("8BPS");
            std::vector<uint8_t> padded;
            for (int32_t y = 0; y < f.height; ++y) {
                padded.insert(padded.end(), f.frame.begin() + ptrdiff_t(y * packed),
                              f.frame.begin() + ptrdiff_t((y + 1) * packed));
                padded.insert(padded.end(), pad, uint8_t(0xC3));
            }
            EXPECT_EQ(rawRowBytes(f.type, f.depth, f.width, f.height, padded.size()),
                      planar ? packed : packed + pad);
            Picture got;
            ASSERT_EQ(decodeRaw(f.type, f.depth, f.width, f.height, padded.data(), padded.size(), got),
                      noErr);
            if (!planar) {
                EXPECT_EQ(got.samples, f.expected.samples);
            }
        }
        // Bytes beyond the frame that are no whole rows leave the rows packed.
        EXPECT_EQ(rawRowBytes(f.type, f.depth, f.width, f.height, f.frame.size() + size_t(f.height) + 1),
                  packed)
            << f.name;
    }
    // ffmpeg's 33 x 17 rgb24 frame: 17 rows of 100 bytes.
    EXPECT_EQ(rawRowBytes(raw, 24, 33, 17, 1700), 100u);
    EXPECT_EQ(rawRowBytes(raw, 40, 33, 17, 578), 34u);
    EXPECT_EQ(rawRowBytes(raw, 24, 33, 17, 1683), 99u);
    EXPECT_EQ(rawRowBytes(raw, 24, 33, 17, 1682), 0u);
    EXPECT_EQ(rawRowBytes(raw, 12, 33, 17, 1700), 0u);
}
