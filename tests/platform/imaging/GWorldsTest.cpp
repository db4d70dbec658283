// Offscreen worlds, pixel maps, the pixel-format table and pixel copies between formats.
#include "PlatformCoreGraphics.h"
#include "PlatformGWorlds.h"
#include "PlatformImageDescriptions.h"
#include "PlatformMemory.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct World {
    GWorldPtr w = nullptr;
    World(OSType format, Rect bounds, CTabHandle table = nullptr, GWorldFlags flags = 0) {
        err = QTNewGWorld(&w, format, &bounds, table, nullptr, flags);
    }
    World(const World&) = delete;
    ~World() { DisposeGWorld(w); }
    PixMapHandle pm() const { return GetGWorldPixMap(w); }
    uint8_t* base() const { return reinterpret_cast<uint8_t*>(GetPixBaseAddr(pm())); }
    int32_t rowBytes() const { return GetPixRowBytes(pm()); }
    uint8_t* at(int32_t x, int32_t y, int32_t bytesPerPixel) const {
        return base() + ptrdiff_t(y) * rowBytes() + ptrdiff_t(x) * bytesPerPixel;
    }
    const BitMap* bits() const { return GetPortBitMapForCopyBits(w); }
    OSErr err;
};

std::string hex(const uint8_t* p, size_t n) {
    static const char* digits = "0123456789ABCDEF";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        if (i) s += ' ';
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}

std::string fourCC(OSType t) {
    if (t < 256) return std::to_string(t);
    return std::string{char(t >> 24), char(t >> 16), char(t >> 8), char(t)};
}

// Copies all of `src` onto all of `dst` (same sizes).
OSErr copyAll(const World& src, const World& dst, int16_t mode = srcCopy) {
    Rect s{}, d{};
    GetPortBounds(src.w, &s);
    GetPortBounds(dst.w, &d);
    return CopyBits(src.bits(), dst.bits(), &s, &d, mode, nullptr);
}

} // namespace

// Every format: its bits, the depth of its descriptions, its rows (padded to 4 bytes, 4:2:2 rows
// to whole pairs) and the description made of a world of it.
TEST(GWorldsTest, EveryFormatsSizesAndDescription) {
    struct Case {
        OSType format;
        int16_t bits, depth;
        int32_t rowBytes11; // for 11 columns
        OSType cType;
    };
    const OSType raw = kRawCodecType;
    const Case cases[] = {
        {1, 1, 1, 4, raw},
        {2, 2, 2, 4, raw},
        {4, 4, 4, 8, raw},
        {8, 8, 8, 12, raw},
        {16, 16, 16, 24, raw},
        {24, 24, 24, 36, raw},
        {32, 32, 32, 44, raw},
        {40, 8, 40, 12, raw},
        {k24BGRPixelFormat, 24, 24, 36, k24BGRPixelFormat},
        {k32BGRAPixelFormat, 32, 32, 44, k32BGRAPixelFormat},
        {k32ABGRPixelFormat, 32, 32, 44, k32ABGRPixelFormat},
        {k32RGBAPixelFormat, 32, 32, 44, k32RGBAPixelFormat},
        {k16GrayPixelFormat, 16, 40, 24, k16GrayPixelFormat},
        {k48RGBPixelFormat, 48, 24, 68, k48RGBPixelFormat},
        {k2vuyPixelFormat, 16, 24, 24, k2vuyPixelFormat},
        {k422YpCbCr16PixelFormat, 32, 24, 48, k422YpCbCr16PixelFormat},
        {k32CMYKPixelFormat, 32, 32, 44, k32CMYKPixelFormat},
        {k24PlanarRGBPixelFormat, 24, 24, 36, k24PlanarRGBPixelFormat},
    };
    size_t known = 0;
    platform::pixelFormatTable(&known);
    EXPECT_EQ(known, std::size(cases));
    for (const Case& c : cases) {
        SCOPED_TRACE(fourCC(c.format));
        EXPECT_EQ(QTGetPixelSize(c.format), c.bits);
        EXPECT_EQ(QTGetPixelFormatDepthForImageDescription(c.format), c.depth);
        World w(c.format, Rect{0, 0, 3, 11});
        ASSERT_EQ(w.err, noErr);
        const PixMap& map = **w.pm();
        EXPECT_EQ(w.rowBytes(), c.rowBytes11);
        EXPECT_EQ(uint16_t(map.rowBytes), kPixMapFlag | c.rowBytes11);
        EXPECT_EQ(map.pixelSize, c.bits);
        EXPECT_EQ(map.pixelFormat, c.format);
        EXPECT_EQ(map.hRes, 72 << 16);
        EXPECT_EQ(map.pmTable != nullptr, c.format <= 8);
        ImageDescriptionHandle desc = nullptr;
        ASSERT_EQ(MakeImageDescriptionForPixMap(w.pm(), &desc), noErr);
        EXPECT_EQ((*desc)->idSize, 86);
        EXPECT_EQ((*desc)->cType, c.cType);
        EXPECT_EQ((*desc)->depth, c.depth);
        EXPECT_EQ((*desc)->width, 11);
        EXPECT_EQ((*desc)->height, 3);
        EXPECT_EQ((*desc)->hRes, 72 << 16);
        EXPECT_EQ((*desc)->vRes, 72 << 16);
        EXPECT_EQ((*desc)->clutID, -1);
        // A world made from the description has the same format (depth 8 and 40 stay apart).
        GWorldPtr again = nullptr;
        ASSERT_EQ(NewImageGWorld(&again, desc, 0), noErr);
        EXPECT_EQ((*GetGWorldPixMap(again))->pixelFormat, c.format);
        DisposeGWorld(again);
        DisposeHandle(reinterpret_cast<Handle>(desc));
    }
    EXPECT_EQ(QTGetPixelSize(FOUR_CHAR_CODE("jpeg")), 0);
    EXPECT_EQ(QTGetPixelFormatDepthForImageDescription(36), 0);
}

TEST(GWorldsTest, RefusedWorlds) {
    GWorldPtr w = reinterpret_cast<GWorldPtr>(1);
    const Rect good{0, 0, 4, 4}, empty{0, 0, 0, 4};
    EXPECT_EQ(QTNewGWorld(&w, FOUR_CHAR_CODE("jpeg"), &good, nullptr, nullptr, 0), cDepthErr);
    EXPECT_EQ(w, nullptr);
    EXPECT_EQ(QTNewGWorld(&w, 32, &empty, nullptr, nullptr, 0), paramErr);
    EXPECT_EQ(QTNewGWorld(&w, 32, nullptr, nullptr, nullptr, 0), paramErr);
    EXPECT_EQ(QTNewGWorld(nullptr, 32, &good, nullptr, nullptr, 0), paramErr);
    EXPECT_EQ(NewGWorld(&w, 3, &good, nullptr, nullptr, 0), cDepthErr);
    // 32767 x 32767 pixels of 4 bytes do not fit 2 GiB.
    const Rect huge{0, 0, 32767, 32767};
    EXPECT_EQ(QTNewGWorld(&w, 32, &huge, nullptr, nullptr, 0), memFullErr);
    // Over the caller's memory: rows must hold a row of pixels.
    std::vector<uint8_t> pixels(64);
    EXPECT_EQ(QTNewGWorldFromPtr(&w, 32, &good, nullptr, nullptr, 0, pixels.data(), 15), paramErr);
    EXPECT_EQ(QTNewGWorldFromPtr(&w, 32, &good, nullptr, nullptr, 0, nullptr, 16), paramErr);
    // Depth 0 is 32 bits.
    ASSERT_EQ(NewGWorld(&w, 0, &good, nullptr, nullptr, 0), noErr);
    EXPECT_EQ((*GetGWorldPixMap(w))->pixelFormat, k32ARGBPixelFormat);
    DisposeGWorld(w);
    // Unknown and disposed worlds are refused without being read.
    int bogus = 0;
    auto* fake = reinterpret_cast<GWorldPtr>(&bogus);
    EXPECT_EQ(GetGWorldPixMap(fake), nullptr);
    EXPECT_EQ(GetGWorldPixMap(w), nullptr);
    Rect r{1, 1, 1, 1};
    GetPortBounds(fake, &r);
    EXPECT_TRUE(EmptyRect(&r));
    auto fakeMap = reinterpret_cast<PixMapHandle>(&bogus);
    EXPECT_FALSE(LockPixels(fakeMap));
    EXPECT_EQ(GetPixBaseAddr(fakeMap), nullptr);
    EXPECT_EQ(GetPixRowBytes(fakeMap), 0);
    DisposeGWorld(fake);
    DisposeGWorld(nullptr);
}

// Row bytes have no cap: 4096 and 5000 columns of 32 bits keep their exact rows, and the map's
// 16-bit word keeps only the flags when the length does not fit it.
TEST(GWorldsTest, WideWorldsKeepExactRowBytes) {
    struct Case {
        int16_t columns;
        int32_t rowBytes;
        uint16_t word;
    };
    const Case cases[] = {
        {4000, 16000, uint16_t(kPixMapFlag | 16000)},
        {4096, 16384, kPixMapFlag | kLongRowBytesFlag},
        {5000, 20000, kPixMapFlag | kLongRowBytesFlag},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.columns);
        World w(32, Rect{0, 0, 3, c.columns});
        ASSERT_EQ(w.err, noErr);
        EXPECT_EQ(w.rowBytes(), c.rowBytes);
        EXPECT_EQ(QTGetPixMapHandleRowBytes(w.pm()), c.rowBytes);
        EXPECT_EQ(QTGetPixMapPtrRowBytes(*w.pm()), c.rowBytes);
        EXPECT_EQ(uint16_t((*w.pm())->rowBytes), c.word);
        // The last pixel of a row and the first of the next stay apart through a copy.
        std::memset(w.at(c.columns - 1, 0, 4), 0xAB, 4);
        std::memset(w.at(0, 1, 4), 0xCD, 4);
        World dst(32, Rect{0, 0, 3, c.columns});
        ASSERT_EQ(copyAll(w, dst), noErr);
        EXPECT_EQ(hex(dst.at(c.columns - 1, 0, 4), 4), "AB AB AB AB");
        EXPECT_EQ(hex(dst.at(0, 1, 4), 4), "CD CD CD CD");
        EXPECT_EQ(hex(dst.at(c.columns - 1, 1, 4), 4), "00 00 00 00");
    }
    // The widest one-bit world still reads as a BitMap through the 16-bit word.
    World bits(1, Rect{-32768, -32768, -32767, 32767});
    ASSERT_EQ(bits.err, noErr);
    EXPECT_EQ(bits.rowBytes(), 8192);
    EXPECT_EQ(bits.bits()->rowBytes & 0x3FFF, 8192);
}

// Depth 40 is grey where 0 is white: drawn into a 32-bit world, 0 shows white and 255 black;
// notSrcCopy inverts. The way back uses the grey weighting.
TEST(GWorldsTest, Depth40ReadsZeroAsWhite) {
    World grey(40, Rect{0, 0, 1, 3});
    grey.base()[0] = 0;
    grey.base()[1] = 255;
    grey.base()[2] = 100;
    World argb(32, Rect{0, 0, 1, 3});
    ASSERT_EQ(copyAll(grey, argb), noErr);
    EXPECT_EQ(hex(argb.base(), 12), "FF FF FF FF FF 00 00 00 FF 9B 9B 9B");
    ASSERT_EQ(copyAll(grey, argb, notSrcCopy), noErr);
    EXPECT_EQ(hex(argb.base(), 12), "FF 00 00 00 FF FF FF FF FF 64 64 64");
    ASSERT_EQ(copyAll(grey, argb, srcCopy | ditherCopy), noErr);
    EXPECT_EQ(hex(argb.base(), 4), "FF FF FF FF");
    // (R, G, B) = (200, 100, 50): grey (117 * 50 + 601 * 100 + 306 * 200) >> 10 = 124, sample 131.
    const uint8_t colour[12] = {0xFF, 200, 100, 50, 0xFF, 255, 255, 255, 0x00, 0, 0, 0};
    std::memcpy(argb.base(), colour, 12);
    ASSERT_EQ(copyAll(argb, grey), noErr);
    EXPECT_EQ(hex(grey.base(), 3), "83 00 FF");
    // The same through the indexed 8-bit default table, whose index 0 is white too.
    World indexed(8, Rect{0, 0, 1, 3});
    ASSERT_EQ(copyAll(argb, indexed), noErr);
    EXPECT_EQ(hex(indexed.base(), 3), "83 00 FF");
    ASSERT_EQ(copyAll(indexed, argb), noErr);
    EXPECT_EQ(hex(argb.base(), 12), "FF 7C 7C 7C FF FF FF FF FF 00 00 00");
}

// Every format keeps what it can hold of a colour through a round trip from 32-bit ARGB: exact
// for the 8-bit RGB formats, the grey weighting for grey ones, 5 bits for 16-bit RGB, and a small
// error for 4:2:2 Y'CbCr (a pair of equal colours).
TEST(GWorldsTest, RoundTripsThroughEveryFormat) {
    enum Kind { Exact, Grey, Bits5, Video, OneBit };
    struct Case {
        OSType format;
        Kind kind;
        bool alpha;
    };
    const Case cases[] = {
        {1, OneBit, false},
        {8, Grey, false},
        {16, Bits5, false},
        {24, Exact, false},
        {32, Exact, true},
        {40, Grey, false},
        {k24BGRPixelFormat, Exact, false},
        {k32BGRAPixelFormat, Exact, true},
        {k32ABGRPixelFormat, Exact, true},
        {k32RGBAPixelFormat, Exact, true},
        {k16GrayPixelFormat, Grey, false},
        {k48RGBPixelFormat, Exact, false},
        {k2vuyPixelFormat, Video, false},
        {k422YpCbCr16PixelFormat, Video, false},
        {k32CMYKPixelFormat, Exact, false},
        {k24PlanarRGBPixelFormat, Exact, false},
    };
    // Pixels as A, R, G, B; each colour twice so that 4:2:2 pairs hold one colour.
    const std::array<std::array<uint8_t, 4>, 5> colours = {{
        {0x80, 200, 100, 50},
        {0xFF, 0, 0, 0},
        {0x00, 255, 255, 255},
        {0x40, 12, 240, 77},
        {0xFF, 128, 128, 128},
    }};
    World src(32, Rect{0, 0, 1, 10});
    for (size_t i = 0; i < 10; ++i)
        std::memcpy(src.at(int32_t(i), 0, 4), colours[i / 2].data(), 4);
    for (const Case& c : cases) {
        SCOPED_TRACE(fourCC(c.format));
        World mid(c.format, Rect{0, 0, 1, 10});
        World back(32, Rect{0, 0, 1, 10});
        ASSERT_EQ(copyAll(src, mid), noErr);
        ASSERT_EQ(copyAll(mid, back), noErr);
        for (size_t i = 0; i < 10; ++i) {
            const auto& in = colours[i / 2];
            const uint8_t* out = back.at(int32_t(i), 0, 4);
            EXPECT_EQ(out[0], c.alpha ? in[0] : 0xFF) << i;
            const int grey = platform::greyOf(in[1], in[2], in[3]);
            for (int k = 1; k < 4; ++k) {
                switch (c.kind) {
                case Exact:
                    EXPECT_EQ(out[k], in[k]) << i;
                    break;
                case Grey:
                    EXPECT_EQ(out[k], grey) << i;
                    break;
                case OneBit:
                    EXPECT_EQ(out[k], grey < 129 ? 0 : 255) << i;
                    break;
                case Bits5:
                    EXPECT_EQ(out[k], (in[k] & 0xF8) | (in[k] >> 5)) << i;
                    break;
                case Video:
                    EXPECT_NEAR(out[k], in[k], 3) << i;
                    break;
                }
            }
        }
    }
}

// Both ends of 16-bit samples convert in 16 bits; a 16-bit end meeting an 8-bit one goes
// through 8 bits.
TEST(GWorldsTest, SixteenBitFormatsKeepTheirPrecision) {
    World grey(k16GrayPixelFormat, Rect{0, 0, 1, 2});
    const uint16_t samples[2] = {0x1234, 0xFEDC};
    std::memcpy(grey.base(), samples, 4);
    World rgb(k48RGBPixelFormat, Rect{0, 0, 1, 2});
    ASSERT_EQ(copyAll(grey, rgb), noErr);
    uint16_t got[6];
    std::memcpy(got, rgb.base(), 12);
    EXPECT_EQ(std::vector<uint16_t>(got, got + 6),
              (std::vector<uint16_t>{0x1234, 0x1234, 0x1234, 0xFEDC, 0xFEDC, 0xFEDC}));
    // Colour to 16-bit grey weighs the 16-bit samples.
    const uint16_t colour[6] = {1000, 2000, 3000, 0, 0, 0};
    std::memcpy(rgb.base(), colour, 12);
    ASSERT_EQ(copyAll(rgb, grey), noErr);
    std::memcpy(got, grey.base(), 4);
    EXPECT_EQ(got[0], (117 * 3000 + 601 * 2000 + 306 * 1000) >> 10);
    // Inverted, still in 16 bits.
    ASSERT_EQ(copyAll(rgb, grey, notSrcCopy), noErr);
    std::memcpy(got, grey.base(), 4);
    EXPECT_EQ(got[1], 0xFFFF);
    // To 8 bits: rounded to the nearest 8-bit value.
    World argb(32, Rect{0, 0, 1, 2});
    std::memcpy(grey.base(), samples, 4);
    ASSERT_EQ(copyAll(grey, argb), noErr);
    EXPECT_EQ(hex(argb.base(), 8), "FF 12 12 12 FF FE FE FE");
    // From 8 bits: v * 257.
    ASSERT_EQ(copyAll(argb, rgb), noErr);
    std::memcpy(got, rgb.base(), 2);
    EXPECT_EQ(got[0], 0x1212);
}

// EraseRect paints white in the port's encoding, within the rectangle and the port's bounds,
// in the port's coordinates.
TEST(GWorldsTest, EraseRectPaintsWhiteInEachEncoding) {
    struct Case {
        OSType format;
        int32_t pixelBytes;
        int32_t shown; // bytes shown from a pixel (a whole pair for 4:2:2)
        std::string white;
    };
    const Case cases[] = {
        {32, 4, 4, "FF FF FF FF"},
        {40, 1, 1, "00"},
        {8, 1, 1, "00"},
        {16, 2, 2, "7F FF"},
        {k16GrayPixelFormat, 2, 2, "FF FF"},
        {k2vuyPixelFormat, 2, 4, "80 EB 80 EB"},
        {k32CMYKPixelFormat, 4, 4, "00 00 00 00"},
        {k32RGBAPixelFormat, 4, 4, "FF FF FF FF"},
    };
    CGrafPtr savedPort = nullptr;
    GDHandle savedDevice = nullptr;
    GetGWorld(&savedPort, &savedDevice);
    for (const Case& c : cases) {
        SCOPED_TRACE(fourCC(c.format));
        World w(c.format, Rect{100, 200, 104, 208}); // 8 x 4 from (200, 100)
        const size_t size = size_t(w.rowBytes()) * 4;
        std::memset(w.base(), 0x11, size);
        const std::string old = hex(w.base(), size_t(c.shown));
        SetGWorld(w.w, nullptr);
        const Rect r{101, 202, 200, 206}; // columns 2..5 of rows 1..3, clipped at the bottom
        EraseRect(&r);
        auto shown = [&](int32_t x, int32_t y) { return hex(w.at(x, y, c.pixelBytes), size_t(c.shown)); };
        EXPECT_EQ(shown(2, 1), c.white);
        EXPECT_EQ(shown(4, 3), c.white);
        // Outside the rectangle nothing changed.
        EXPECT_EQ(shown(2, 0), old);
        EXPECT_EQ(shown(0, 2), old);
        EXPECT_EQ(shown(6, 2), old);
        SetGWorld(savedPort, savedDevice);
    }
    // One-bit worlds: white is a cleared bit, partial bytes kept.
    World bits(1, Rect{0, 0, 1, 16});
    bits.base()[0] = bits.base()[1] = 0xFF;
    SetGWorld(bits.w, nullptr);
    const Rect r{0, 3, 1, 13};
    EraseRect(&r);
    EXPECT_EQ(hex(bits.base(), 2), "E0 07");
    SetGWorld(savedPort, savedDevice);
    EraseRect(&r); // no port: nothing
}

TEST(GWorldsTest, CurrentPortAndPixelsState) {
    CGrafPtr savedPort = nullptr;
    GDHandle savedDevice = nullptr;
    GetGWorld(&savedPort, &savedDevice);
    GWorldPtr w = nullptr;
    const Rect bounds{0, 0, 2, 2};
    ASSERT_EQ(QTNewGWorld(&w, 32, &bounds, nullptr, nullptr, pixelsLocked), noErr);
    PixMapHandle pm = GetGWorldPixMap(w);
    EXPECT_EQ(GetPixelsState(pm), GWorldFlags(pixelsLocked));
    UnlockPixels(pm);
    EXPECT_EQ(GetPixelsState(pm), 0u);
    EXPECT_TRUE(LockPixels(pm));
    EXPECT_EQ(GetPixelsState(pm) & pixelsLocked, GWorldFlags(pixelsLocked));
    SetPixelsState(pm, pixelsPurgeable | 0x100);
    EXPECT_EQ(GetPixelsState(pm), GWorldFlags(pixelsPurgeable));
    EXPECT_EQ(GetPixDepth(pm), 32);
    Rect r{};
    EXPECT_EQ(GetPixBounds(pm, &r)->right, 2);
    // The current port takes the world's device.
    SetGWorld(w, nullptr);
    CGrafPtr port = nullptr;
    GDHandle device = nullptr;
    GetGWorld(&port, &device);
    EXPECT_EQ(port, w);
    EXPECT_EQ(device, GetGWorldDevice(w));
    EXPECT_EQ((*device)->gdPMap, pm);
    // Disposing the current world leaves no current port behind.
    DisposeGWorld(w);
    GetGWorld(&port, &device);
    EXPECT_EQ(port, nullptr);
    EXPECT_EQ(device, nullptr);
    SetGWorld(savedPort, savedDevice);
}

// Copies clip to both maps' bounds (the clipping of one moving the other) and to the mask;
// rectangles are in each map's own coordinates.
TEST(GWorldsTest, CopyBitsClipsAndRefuses) {
    World src(32, Rect{10, 10, 14, 14}); // 4 x 4 from (10, 10)
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 4; ++x) {
            uint8_t* p = src.at(x, y, 4);
            p[0] = 0xFF, p[1] = uint8_t(y), p[2] = uint8_t(x), p[3] = 0;
        }
    World dst(32, Rect{0, 0, 4, 4});
    // Source rectangle sticks out at the top-left by 2: the first copied pixel is source (0, 0)
    // landing at destination (2, 2); the destination's edge cuts the rest.
    const Rect s{8, 8, 12, 12}, d{0, 0, 4, 4};
    ASSERT_EQ(CopyBits(src.bits(), dst.bits(), &s, &d, srcCopy, nullptr), noErr);
    EXPECT_EQ(hex(dst.at(1, 1, 4), 4), "00 00 00 00");
    EXPECT_EQ(hex(dst.at(2, 2, 4), 4), "FF 00 00 00");
    EXPECT_EQ(hex(dst.at(3, 3, 4), 4), "FF 01 01 00");
    // A destination rectangle beyond the destination's bounds.
    World dst2(32, Rect{0, 0, 4, 4});
    const Rect s2{10, 10, 14, 14}, d2{-2, 3, 2, 7};
    ASSERT_EQ(CopyBits(src.bits(), dst2.bits(), &s2, &d2, srcCopy, nullptr), noErr);
    EXPECT_EQ(hex(dst2.at(3, 0, 4), 4), "FF 02 00 00");
    EXPECT_EQ(hex(dst2.at(3, 1, 4), 4), "FF 03 00 00");
    EXPECT_EQ(hex(dst2.at(2, 0, 4), 4), "00 00 00 00");
    // A mask keeps the copy to its pixels (destination coordinates).
    World dst3(32, Rect{0, 0, 4, 4});
    RgnHandle mask = NewRgn();
    SetRectRgn(mask, 1, 1, 2, 3);
    ASSERT_EQ(CopyBits(src.bits(), dst3.bits(), &s2, &d, srcCopy, mask), noErr);
    EXPECT_EQ(hex(dst3.at(1, 1, 4), 4), "FF 01 01 00");
    EXPECT_EQ(hex(dst3.at(1, 2, 4), 4), "FF 02 01 00");
    EXPECT_EQ(hex(dst3.at(0, 1, 4), 4), "00 00 00 00");
    EXPECT_EQ(hex(dst3.at(2, 1, 4), 4), "00 00 00 00");
    DisposeRgn(mask);
    // Different sizes scale: 4 rows onto 5 take source rows 0, 1, 2, 2, 3 (the centre of
    // destination row y maps back to (2y + 1) * 4 / 10).
    World tall(32, Rect{0, 0, 5, 4});
    const Rect high{0, 0, 5, 4};
    ASSERT_EQ(CopyBits(src.bits(), tall.bits(), &s2, &high, srcCopy, nullptr), noErr);
    std::string rows;
    for (int32_t y = 0; y < 5; ++y)
        rows += hex(tall.at(3, y, 4) + 1, 2) + " ";
    EXPECT_EQ(rows, "00 03 01 03 02 03 02 03 03 03 ");
    // Other modes and missing arguments are refused.
    EXPECT_EQ(CopyBits(src.bits(), dst.bits(), &s2, &d, srcXor, nullptr), paramErr);
    EXPECT_EQ(CopyBits(nullptr, dst.bits(), &s2, &d, srcCopy, nullptr), paramErr);
    // Within one world, overlapping: rows shift down without smearing.
    World self(32, Rect{0, 0, 3, 1});
    for (int32_t y = 0; y < 3; ++y)
        std::memset(self.at(0, y, 4), 0x10 * (y + 1), 4);
    const Rect top{0, 0, 2, 1}, lower{1, 0, 3, 1};
    ASSERT_EQ(CopyBits(self.bits(), self.bits(), &top, &lower, srcCopy, nullptr), noErr);
    EXPECT_EQ(hex(self.base(), 1) + " " + hex(self.at(0, 1, 4), 1) + " " + hex(self.at(0, 2, 4), 1),
              "10 10 20");
}

// A plain BitMap (no pixel-map flag) is a one-bit source where 1 is black.
TEST(GWorldsTest, CopyBitsFromAPlainBitMap) {
    uint8_t rows[2][2] = {{0xA0, 0x00}, {0x00, 0x01}};
    BitMap bitmap{reinterpret_cast<Ptr>(rows), 2, Rect{0, 0, 2, 16}};
    World dst(40, Rect{0, 0, 2, 16});
    const Rect all{0, 0, 2, 16};
    ASSERT_EQ(CopyBits(&bitmap, dst.bits(), &all, &all, srcCopy, nullptr), noErr);
    EXPECT_EQ(hex(dst.base(), 4), "FF 00 FF 00");
    EXPECT_EQ(dst.at(15, 1, 1)[0], 0xFF);
}

// An indexed world with its own table: writes pick the nearest entry; its description carries
// the table, and a world made from the description uses it.
TEST(GWorldsTest, IndexedWorldsWithTheirOwnTable) {
    Handle h = NewHandleClear(8 + 4 * 8);
    auto table = reinterpret_cast<CTabHandle>(h);
    (*table)->ctSize = 3;
    const RGBColor colours[4] = {{0xFFFF, 0, 0}, {0, 0xFFFF, 0}, {0, 0, 0xFFFF}, {0xFFFF, 0xFFFF, 0xFFFF}};
    for (int i = 0; i < 4; ++i)
        (*table)->ctTable[i] = ColorSpec{int16_t(i), colours[i]};
    World indexed(2, Rect{0, 0, 1, 4}, table);
    ASSERT_EQ(indexed.err, noErr);
    EXPECT_NE((*indexed.pm())->pmTable, table); // a copy
    DisposeCTable(table);
    World argb(32, Rect{0, 0, 1, 4});
    const uint8_t pixels[16] = {0xFF, 250, 240, 230, 0xFF, 0, 10, 200, 0xFF, 220, 5, 5, 0xFF, 5, 200, 5};
    std::memcpy(argb.base(), pixels, 16);
    ASSERT_EQ(copyAll(argb, indexed), noErr);
    EXPECT_EQ(indexed.base()[0], 0xE1); // 11 10 00 01: white, blue, red, green
    ImageDescriptionHandle desc = nullptr;
    ASSERT_EQ(MakeImageDescriptionForPixMap(indexed.pm(), &desc), noErr);
    EXPECT_EQ((*desc)->clutID, 0);
    EXPECT_EQ((*desc)->idSize, 86 + 8 + 32);
    EXPECT_EQ(ImageDescriptionColorTableSize(desc), 40);
    GWorldPtr again = nullptr;
    ASSERT_EQ(NewImageGWorld(&again, desc, 0), noErr);
    DisposeHandle(reinterpret_cast<Handle>(desc));
    PixMapHandle pm = GetGWorldPixMap(again);
    EXPECT_EQ((*(*pm)->pmTable)->ctTable[2].rgb.blue, 0xFFFF);
    std::memcpy(GetPixBaseAddr(pm), indexed.base(), 1);
    ASSERT_EQ(CopyBits(GetPortBitMapForCopyBits(again), argb.bits(), &(*pm)->bounds, &(*pm)->bounds, srcCopy,
                       nullptr),
              noErr);
    EXPECT_EQ(hex(argb.base(), 16), "FF FF FF FF FF 00 00 FF FF FF 00 00 FF 00 FF 00");
    DisposeGWorld(again);
    // The default tables are grey ramps from white.
    CTabHandle grey = GetCTable(4);
    ASSERT_TRUE(grey);
    EXPECT_EQ((*grey)->ctSize, 15);
    EXPECT_EQ((*grey)->ctTable[0].rgb.red, 0xFFFF);
    EXPECT_EQ((*grey)->ctTable[15].rgb.red, 0);
    DisposeCTable(grey);
    EXPECT_EQ(GetCTable(5), nullptr);
}

TEST(GWorldsTest, WorldsOverCallerMemoryAndDescriptions) {
    // The caller's pixels stay the caller's; rows may be longer than needed.
    std::vector<uint8_t> pixels(3 * 24, 0x55);
    GWorldPtr w = nullptr;
    const Rect bounds{0, 0, 3, 5};
    ASSERT_EQ(
        NewGWorldFromPtr(&w, 32, &bounds, nullptr, nullptr, 0, reinterpret_cast<Ptr>(pixels.data()), 24),
        noErr);
    EXPECT_EQ(GetPixRowBytes(GetGWorldPixMap(w)), 24);
    EXPECT_EQ(GetPixBaseAddr(GetGWorldPixMap(w)), reinterpret_cast<Ptr>(pixels.data()));
    DisposeGWorld(w);
    EXPECT_EQ(pixels[0], 0x55);
    // Descriptions that are not pixels, or are too short, make no world.
    ImageDescriptionHandle desc = nullptr;
    World w40(40, Rect{0, 0, 2, 2});
    ASSERT_EQ(MakeImageDescriptionForPixMap(w40.pm(), &desc), noErr);
    (*desc)->cType = FOUR_CHAR_CODE("jpeg");
    EXPECT_EQ(NewImageGWorld(&w, desc, 0), cDepthErr);
    (*desc)->cType = kRawCodecType;
    (*desc)->depth = 36;
    EXPECT_EQ(NewImageGWorld(&w, desc, 0), cDepthErr);
    SetHandleSize(reinterpret_cast<Handle>(desc), 40);
    EXPECT_EQ(NewImageGWorld(&w, desc, 0), paramErr);
    DisposeHandle(reinterpret_cast<Handle>(desc));
    EXPECT_EQ(MakeImageDescriptionForPixMap(nullptr, &desc), paramErr);
    EXPECT_EQ(desc, nullptr);
}

// Pictures of the codec engines: visual values (0 black) in and out of any pixel map.
TEST(GWorldsTest, PicturesToAndFromPixMaps) {
    // A grey picture into a depth-40 world stores inverted samples and reads back as it was.
    platform::codec::Picture grey;
    grey.width = 3, grey.height = 1, grey.components = 1;
    grey.samples = {0, 128, 255};
    World w40(40, Rect{0, 0, 2, 2}); // smaller than the picture: the rest is dropped
    ASSERT_EQ(platform::pictureToPixMap(grey, w40.pm()), noErr);
    EXPECT_EQ(hex(w40.base(), 2), "FF 7F");
    platform::codec::Picture out;
    ASSERT_EQ(platform::pixMapToPicture(w40.pm(), out), noErr);
    EXPECT_EQ(out.components, 1);
    EXPECT_EQ(out.bitsPerSample, 8);
    EXPECT_EQ(hex(out.samples.data(), 2), "00 80");
    // 12-bit samples in 16 bits are scaled to the full 16-bit range.
    platform::codec::Picture deep;
    deep.width = 2, deep.height = 1, deep.components = 1, deep.bitsPerSample = 16, deep.precision = 12;
    const uint16_t samples[2] = {4095, 2048};
    deep.samples.resize(4);
    std::memcpy(deep.samples.data(), samples, 4);
    World w16(k16GrayPixelFormat, Rect{0, 0, 1, 2});
    ASSERT_EQ(platform::pictureToPixMap(deep, w16.pm()), noErr);
    uint16_t got[2];
    std::memcpy(got, w16.base(), 4);
    EXPECT_EQ(got[0], 65535);
    EXPECT_EQ(got[1], 32776); // 2048 * 65535 / 4095, rounded
    ASSERT_EQ(platform::pixMapToPicture(w16.pm(), out), noErr);
    EXPECT_EQ(out.bitsPerSample, 16);
    EXPECT_EQ(out.samples.size(), 4u);
    // RGBA into 32-bit ARGB and back; RGB from a 24-bit world.
    platform::codec::Picture rgba;
    rgba.width = 1, rgba.height = 1, rgba.components = 4;
    rgba.samples = {10, 20, 30, 40};
    World w32(32, Rect{0, 0, 1, 1});
    ASSERT_EQ(platform::pictureToPixMap(rgba, w32.pm()), noErr);
    EXPECT_EQ(hex(w32.base(), 4), "28 0A 14 1E");
    ASSERT_EQ(platform::pixMapToPicture(w32.pm(), out), noErr);
    EXPECT_EQ(out.components, 4);
    EXPECT_EQ(hex(out.samples.data(), 4), "0A 14 1E 28");
    World w24(24, Rect{0, 0, 1, 1});
    ASSERT_EQ(platform::pictureToPixMap(rgba, w24.pm()), noErr);
    ASSERT_EQ(platform::pixMapToPicture(w24.pm(), out), noErr);
    EXPECT_EQ(out.components, 3);
    EXPECT_EQ(hex(out.samples.data(), 3), "0A 14 1E");
    // Pictures that are not consistent are refused.
    rgba.samples.pop_back();
    EXPECT_EQ(platform::pictureToPixMap(rgba, w32.pm()), paramErr);
    EXPECT_EQ(platform::pixMapToPicture(nullptr, out), paramErr);
}

// A CG context over a world: for formats a bitmap context holds, one at a time.
TEST(GWorldsTest, CGContextsOverWorlds) {
    World w(32, Rect{0, 0, 3, 5});
    CGContextRef context = nullptr;
    ASSERT_EQ(QDBeginCGContext(w.w, &context), noErr);
    EXPECT_EQ(CGBitmapContextGetData(context), w.base());
    EXPECT_EQ(CGBitmapContextGetBytesPerRow(context), size_t(w.rowBytes()));
    EXPECT_EQ(CGBitmapContextGetWidth(context), 5u);
    EXPECT_EQ(CGBitmapContextGetBitsPerPixel(context), 32u);
    CGContextRef second = nullptr;
    EXPECT_EQ(QDBeginCGContext(w.w, &second), paramErr);
    CGContextRef other = nullptr;
    EXPECT_EQ(QDEndCGContext(w.w, &other), paramErr);
    EXPECT_EQ(QDEndCGContext(w.w, &context), noErr);
    EXPECT_EQ(context, nullptr);
    World grey(40, Rect{0, 0, 3, 5});
    EXPECT_EQ(QDBeginCGContext(grey.w, &context), cDepthErr);
    // A world disposed with its context open releases it.
    World open(16, Rect{0, 0, 3, 5});
    ASSERT_EQ(QDBeginCGContext(open.w, &context), noErr);
    EXPECT_EQ(CGBitmapContextGetBitsPerComponent(context), 5u);
}
