// The blitter: nearest-neighbour mapping of pixel centres, scaling, flips, matrices, clipping,
// transfer modes and format conversion; CopyBits and drawPixMap over it.
#include "PlatformBlitter.h"
#include "PlatformFixed.h"
#include "PlatformGWorlds.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

using platform::BlitSurface;
using platform::PixelRaster;

namespace {

// Pixels in a vector, rows as short as the format allows.
struct Pixels {
    std::vector<uint8_t> bytes;
    PixelRaster raster;
    Pixels(OSType format, int32_t w, int32_t h, uint8_t fill = 0) {
        raster.info = platform::pixelFormatInfo(format);
        raster.width = w, raster.height = h;
        raster.rowBytes = int32_t(platform::minimumRowBytes(*raster.info, w));
        bytes.assign(size_t(raster.rowBytes) * size_t(h), fill);
        raster.base = bytes.data();
    }
    Pixels(OSType format, int32_t w, int32_t h, std::vector<uint8_t> init) : Pixels(format, w, h) {
        std::memcpy(bytes.data(), init.data(), std::min(init.size(), bytes.size()));
    }
    BlitSurface surface() const { return BlitSurface{raster, 0, 0}; }
    uint8_t* at(int32_t x, int32_t y) const {
        return raster.base + ptrdiff_t(y) * raster.rowBytes + ptrdiff_t(x) * (raster.info->bitsPerPixel / 8);
    }
};

Rect rect(int16_t left, int16_t top, int16_t right, int16_t bottom) {
    return Rect{top, left, bottom, right};
}

Fixed fx(double v) {
    return Fixed(v * 65536.0);
}

MatrixRecord affine(Fixed a, Fixed b, Fixed c, Fixed d, Fixed tx, Fixed ty) {
    MatrixRecord m{};
    m.matrix[0][0] = a, m.matrix[0][1] = b;
    m.matrix[1][0] = c, m.matrix[1][1] = d;
    m.matrix[2][0] = tx, m.matrix[2][1] = ty;
    m.matrix[2][2] = fract1;
    return m;
}

MatrixRecord scaleMove(double sx, double sy, double tx, double ty) {
    return affine(fx(sx), 0, 0, fx(sy), fx(tx), fx(ty));
}

// The bytes of a one-byte-per-pixel raster, rows separated by '|'.
std::string grid(const Pixels& p) {
    std::string s;
    for (int32_t y = 0; y < p.raster.height; ++y) {
        if (y) s += '|';
        for (int32_t x = 0; x < p.raster.width; ++x)
            s += (x ? " " : "") + std::to_string(*p.at(x, y));
    }
    return s;
}

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

OSErr blitAll(const Pixels& src, const Rect& s, const Pixels& dst, const Rect& d,
              const MatrixRecord* m = nullptr, RgnHandle clip = nullptr, int16_t mode = srcCopy) {
    return platform::blit(src.surface(), s, dst.surface(), d, m, clip, mode, nullptr);
}

} // namespace

// Scaling by 2 and by 1/2, in the rectangle form and the matrix form, which must agree. Halving
// takes the pixel right of and below each centre's mapped-back point: (1, 1), (3, 1), (1, 3), (3, 3).
TEST(BlitterTest, ScalesUpAndDownByRectanglesOrMatrix) {
    const Pixels small(40, 2, 2, {1, 2, 3, 4});
    std::vector<uint8_t> sixteen;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            sixteen.push_back(uint8_t(10 * y + x));
    const Pixels big(40, 4, 4, sixteen);
    const MatrixRecord twice = scaleMove(2, 2, 0, 0), half = scaleMove(0.5, 0.5, 0, 0);
    struct Case {
        const char* name;
        const Pixels& src;
        Rect s, d;
        const MatrixRecord* m;
        int32_t size;
        const char* expected;
    } cases[] = {
        {"up, rectangles", small, rect(0, 0, 2, 2), rect(0, 0, 4, 4), nullptr, 4,
         "1 1 2 2|1 1 2 2|3 3 4 4|3 3 4 4"},
        {"up, matrix", small, rect(0, 0, 2, 2), rect(0, 0, 0, 0), &twice, 4,
         "1 1 2 2|1 1 2 2|3 3 4 4|3 3 4 4"},
        {"down, rectangles", big, rect(0, 0, 4, 4), rect(0, 0, 2, 2), nullptr, 2, "11 13|31 33"},
        {"down, matrix", big, rect(0, 0, 4, 4), rect(0, 0, 0, 0), &half, 2, "11 13|31 33"},
        // 2 onto 3: centres map back to 1/3, 1, 5/3.
        {"2 to 3", small, rect(0, 0, 2, 2), rect(0, 0, 3, 3), nullptr, 3, "1 2 2|3 4 4|3 4 4"},
        // A source rectangle inside the source: 2 x 2 from (1, 1) onto 4 x 4.
        {"part up", big, rect(1, 1, 3, 3), rect(0, 0, 4, 4), nullptr, 4,
         "11 11 12 12|11 11 12 12|21 21 22 22|21 21 22 22"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Pixels dst(40, c.size, c.size);
        ASSERT_EQ(blitAll(c.src, c.s, dst, c.d, c.m), noErr);
        EXPECT_EQ(grid(dst), c.expected);
    }
}

// The same 2 x 2 -> 4 x 4 scale through each way of drawing rows: bytes as they are (same
// format), a table of converted values (8-bit sources), the engine (other pairs), and the
// per-pixel path of rotated matrices.
TEST(BlitterTest, ScaledCopiesConvertFormats) {
    // Depth 40 -> 32: 0 is white, 255 black.
    const Pixels grey(40, 2, 2, {0, 255, 0x40, 0x80});
    Pixels argb(32, 4, 4);
    ASSERT_EQ(blitAll(grey, rect(0, 0, 2, 2), argb, rect(0, 0, 4, 4)), noErr);
    EXPECT_EQ(hex(argb.at(0, 0), 8), "FF FF FF FF FF FF FF FF");
    EXPECT_EQ(hex(argb.at(2, 1), 8), "FF 00 00 00 FF 00 00 00");
    EXPECT_EQ(hex(argb.at(1, 3), 12), "FF BF BF BF FF 7F 7F 7F FF 7F 7F 7F");

    // 24 -> 32 through the engine, opaque.
    const Pixels rgb(24, 2, 1, {0x10, 0x20, 0x30, 0xA0, 0xB0, 0xC0});
    Pixels wide(32, 4, 2);
    ASSERT_EQ(blitAll(rgb, rect(0, 0, 2, 1), wide, rect(0, 0, 4, 2)), noErr);
    EXPECT_EQ(hex(wide.at(0, 1), 16), "FF 10 20 30 FF 10 20 30 FF A0 B0 C0 FF A0 B0 C0");

    // 32 -> 40: white 0, black 255, pure red grey (306 * 255) >> 10 = 76, so 179.
    const Pixels colours(32, 3, 1, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0xFF, 0xFF, 0, 0});
    Pixels grey3(40, 6, 1);
    ASSERT_EQ(blitAll(colours, rect(0, 0, 3, 1), grey3, rect(0, 0, 6, 1)), noErr);
    EXPECT_EQ(grid(grey3), "0 0 255 255 179 179");
}

// 16-bit grey keeps all 16 bits when scaled, into 16-bit grey and into 48-bit RGB.
TEST(BlitterTest, SixteenBitSamplesSurviveScaling) {
    const uint16_t samples[2] = {0x1234, 0xFEDC};
    Pixels src(k16GrayPixelFormat, 2, 1);
    std::memcpy(src.bytes.data(), samples, 4);
    Pixels grey(k16GrayPixelFormat, 4, 1), rgb(k48RGBPixelFormat, 3, 1);
    ASSERT_EQ(blitAll(src, rect(0, 0, 2, 1), grey, rect(0, 0, 4, 1)), noErr);
    uint16_t out[12];
    std::memcpy(out, grey.bytes.data(), 8);
    EXPECT_EQ(std::vector<uint16_t>(out, out + 4), (std::vector<uint16_t>{0x1234, 0x1234, 0xFEDC, 0xFEDC}));
    ASSERT_EQ(blitAll(src, rect(0, 0, 2, 1), rgb, rect(0, 0, 3, 1)), noErr);
    std::memcpy(out, rgb.bytes.data(), 18);
    EXPECT_EQ(
        std::vector<uint16_t>(out, out + 9),
        (std::vector<uint16_t>{0x1234, 0x1234, 0x1234, 0xFEDC, 0xFEDC, 0xFEDC, 0xFEDC, 0xFEDC, 0xFEDC}));
}

// One-bit sources (1 black, most significant bit first), scaled by 2 into depth 40 and into a
// one-bit destination.
TEST(BlitterTest, OneBitSources) {
    const Pixels bits(1, 4, 1, {0xA0}); // black, white, black, white
    Pixels grey(40, 8, 1), bits8(1, 8, 1);
    ASSERT_EQ(blitAll(bits, rect(0, 0, 4, 1), grey, rect(0, 0, 8, 1)), noErr);
    EXPECT_EQ(grid(grey), "255 255 0 0 255 255 0 0");
    ASSERT_EQ(blitAll(bits, rect(0, 0, 4, 1), bits8, rect(0, 0, 8, 1)), noErr);
    EXPECT_EQ(bits8.bytes[0], 0xCC);
}

// Flips and a half turn (negative scales), a quarter turn (the per-pixel path), and a move
// that leaves part of the image outside the destination.
TEST(BlitterTest, FlipsTurnsAndMoves) {
    const Pixels src(40, 2, 2, {1, 2, 3, 4});
    struct Case {
        const char* name;
        MatrixRecord m;
        const char* expected;
    } cases[] = {
        {"mirror", scaleMove(-1, 1, 2, 0), "2 1 0|4 3 0|0 0 0"},
        {"upside down", scaleMove(1, -1, 0, 2), "3 4 0|1 2 0|0 0 0"},
        {"half turn", scaleMove(-1, -1, 3, 3), "0 0 0|0 4 3|0 2 1"},
        // (x, y) -> (-y + 2, x): a quarter turn clockwise on a screen whose y axis points down.
        {"quarter turn", affine(0, fx(1), fx(-1), 0, fx(2), 0), "3 1 0|4 2 0|0 0 0"},
        // Moved left by 1 and down by 2: only source column 1 of row 0 lands inside.
        {"moved out", scaleMove(1, 1, -1, 2), "0 0 0|0 0 0|2 0 0"},
        // Scaled by 2, moved right by 1 and up by 2: the image's pixel (0, 1) covers x 1..3 and
        // y 0..2; the rest falls outside.
        {"scaled out", scaleMove(2, 2, 1, -2), "0 3 3|0 3 3|0 0 0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Pixels dst(40, 3, 3);
        ASSERT_EQ(blitAll(src, rect(0, 0, 2, 2), dst, rect(0, 0, 0, 0), &c.m), noErr);
        EXPECT_EQ(grid(dst), c.expected);
    }
    // A turn by a non-right angle: 45 degrees about the image's centre keeps the centre pixel.
    const Pixels nine(40, 3, 3, {1, 2, 3, 4, 5, 6, 7, 8, 9});
    MatrixRecord turn;
    SetIdentityMatrix(&turn);
    RotateMatrix(&turn, fx(45), fx(1.5), fx(1.5));
    Pixels dst(40, 3, 3);
    ASSERT_EQ(blitAll(nine, rect(0, 0, 3, 3), dst, rect(0, 0, 0, 0), &turn), noErr);
    EXPECT_EQ(*dst.at(1, 1), 5);
}

// Clipping: a rectangle region and an L-shaped one, in destination coordinates; nothing outside
// is touched.
TEST(BlitterTest, ClipRegions) {
    const Pixels src(40, 2, 2, {1, 2, 3, 4});
    RgnHandle box = NewRgn(), ell = NewRgn(), foot = NewRgn();
    SetRectRgn(box, 1, 1, 3, 3);
    SetRectRgn(ell, 0, 0, 1, 4);
    SetRectRgn(foot, 0, 3, 4, 4);
    UnionRgn(ell, foot, ell);
    struct Case {
        const char* name;
        RgnHandle clip;
        const char* expected;
    } cases[] = {
        {"rectangle", box, "9 9 9 9|9 1 2 9|9 3 4 9|9 9 9 9"},
        {"L", ell, "1 9 9 9|1 9 9 9|3 9 9 9|3 3 4 4"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Pixels dst(40, 4, 4, 9);
        ASSERT_EQ(blitAll(src, rect(0, 0, 2, 2), dst, rect(0, 0, 4, 4), nullptr, c.clip), noErr);
        EXPECT_EQ(grid(dst), c.expected);
    }
    DisposeRgn(box);
    DisposeRgn(ell);
    DisposeRgn(foot);
}

// notSrcCopy inverts the colour in every path; ditherCopy is only a flag; other modes are
// refused.
TEST(BlitterTest, TransferModes) {
    const Pixels grey(40, 2, 1, {0, 0x30});
    Pixels same(40, 2, 1), scaled(40, 4, 1), argb(32, 2, 1);
    ASSERT_EQ(blitAll(grey, rect(0, 0, 2, 1), same, rect(0, 0, 2, 1), nullptr, nullptr, notSrcCopy), noErr);
    EXPECT_EQ(grid(same), "255 207");
    ASSERT_EQ(
        blitAll(grey, rect(0, 0, 2, 1), scaled, rect(0, 0, 4, 1), nullptr, nullptr, notSrcCopy | ditherCopy),
        noErr);
    EXPECT_EQ(grid(scaled), "255 255 207 207");
    ASSERT_EQ(blitAll(grey, rect(0, 0, 2, 1), argb, rect(0, 0, 2, 1), nullptr, nullptr, notSrcCopy), noErr);
    EXPECT_EQ(hex(argb.bytes.data(), 8), "FF 00 00 00 FF 30 30 30");
    Pixels untouched(40, 2, 1, 7);
    for (int16_t mode : std::vector<int16_t>{srcOr, srcXor, srcBic, 32})
        EXPECT_EQ(blitAll(grey, rect(0, 0, 2, 1), untouched, rect(0, 0, 2, 1), nullptr, nullptr, mode),
                  paramErr);
    EXPECT_EQ(grid(untouched), "7 7");
}

// Matrices without an inverse, with perspective, and at the edges of the Fixed range: refused or
// drawn, never undefined.
TEST(BlitterTest, DegenerateAndExtremeMatrices) {
    const Pixels src(40, 2, 2, {1, 2, 3, 4});
    MatrixRecord perspective = scaleMove(1, 1, 0, 0);
    perspective.matrix[0][2] = fract1 / 4;
    MatrixRecord noW = scaleMove(1, 1, 0, 0);
    noW.matrix[2][2] = 0;
    const MatrixRecord refused[] = {
        scaleMove(0, 1, 0, 0),
        scaleMove(1, 0, 0, 0),
        affine(fx(1), fx(1), fx(1), fx(1), 0, 0), // rows equal: a line
        affine(fx(2), fx(1), fx(4), fx(2), 0, 0),
        perspective,
        noW,
    };
    for (const MatrixRecord& m : refused) {
        Pixels dst(40, 2, 2, 9);
        EXPECT_EQ(blitAll(src, rect(0, 0, 2, 2), dst, rect(0, 0, 0, 0), &m), paramErr);
        EXPECT_EQ(grid(dst), "9 9|9 9");
    }
    struct Case {
        const char* name;
        MatrixRecord m;
        const char* expected;
    } cases[] = {
        // 32767 times: every pixel of the destination lies in source pixel (0, 0).
        {"largest scale", affine(INT32_MAX, 0, 0, INT32_MAX, 0, 0), "1 1|1 1"},
        // x -> -32768 x + 32768 - 1/65536: the destination's pixels lie in source pixel (0, 0)
        // too, just left of its right edge.
        {"largest negative scale", affine(INT32_MIN, 0, 0, INT32_MIN, INT32_MAX, INT32_MAX), "1 1|1 1"},
        // The image shrinks to under a pixel: no centre maps back inside.
        {"smallest scale", affine(1, 0, 0, 1, 0, 0), "9 9|9 9"},
        {"far away", scaleMove(1, 1, 0, 0), "9 9|9 9"},
        {"largest skew", affine(INT32_MAX, INT32_MAX, INT32_MIN, INT32_MAX, INT32_MIN, INT32_MAX), nullptr},
        {"smallest skew", affine(1, 1, -1, 1, 0, 0), "9 9|9 9"},
    };
    cases[3].m.matrix[2][0] = INT32_MIN;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Pixels dst(40, 2, 2, 9);
        ASSERT_EQ(blitAll(src, rect(0, 0, 2, 2), dst, rect(0, 0, 0, 0), &c.m), noErr);
        if (c.expected) {
            EXPECT_EQ(grid(dst), c.expected);
        }
    }
}

// Empty rectangles draw nothing and succeed; unusable rasters are refused.
TEST(BlitterTest, EmptyAndUnusable) {
    const Pixels src(40, 2, 2, {1, 2, 3, 4});
    Pixels dst(40, 2, 2, 9);
    EXPECT_EQ(blitAll(src, rect(0, 0, 0, 2), dst, rect(0, 0, 2, 2)), noErr);
    EXPECT_EQ(blitAll(src, rect(0, 0, 2, 2), dst, rect(2, 0, 1, 2)), noErr);
    EXPECT_EQ(blitAll(src, rect(5, 5, 7, 7), dst, rect(0, 0, 2, 2)), noErr); // beyond the source
    EXPECT_EQ(grid(dst), "9 9|9 9");
    PixelRaster broken = dst.raster;
    broken.rowBytes = 1;
    EXPECT_EQ(platform::blit(src.surface(), rect(0, 0, 2, 2), BlitSurface{broken, 0, 0}, rect(0, 0, 2, 2),
                             nullptr, nullptr, srcCopy, nullptr),
              paramErr);
}

// Scaling within one raster reads the source as it was, not as the copy rewrites it.
TEST(BlitterTest, OverlappingSourceAndDestination) {
    Pixels row(40, 4, 1, {1, 2, 3, 4});
    ASSERT_EQ(blitAll(row, rect(0, 0, 2, 1), row, rect(0, 0, 4, 1)), noErr);
    EXPECT_EQ(grid(row), "1 1 2 2");
}

// Surfaces placed away from (0, 0): CopyBits scales between worlds' coordinates, and drawPixMap
// draws through a matrix in them.
TEST(BlitterTest, WorldsCoordinates) {
    GWorldPtr from = nullptr, to = nullptr;
    const Rect fromBounds = rect(10, 20, 12, 22), toBounds = rect(-2, -2, 2, 2);
    ASSERT_EQ(QTNewGWorld(&from, 40, &fromBounds, nullptr, nullptr, 0), noErr);
    ASSERT_EQ(QTNewGWorld(&to, 40, &toBounds, nullptr, nullptr, 0), noErr);
    PixMapHandle src = GetGWorldPixMap(from), dst = GetGWorldPixMap(to);
    const int32_t srcRow = GetPixRowBytes(src), dstRow = GetPixRowBytes(dst);
    uint8_t* s = reinterpret_cast<uint8_t*>(GetPixBaseAddr(src));
    s[0] = 1, s[1] = 2, s[srcRow] = 3, s[srcRow + 1] = 4;
    auto dump = [&] {
        const uint8_t* d = reinterpret_cast<uint8_t*>(GetPixBaseAddr(dst));
        std::string out;
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x)
                out += std::to_string(d[y * dstRow + x]) + (x == 3 ? (y == 3 ? "" : "|") : " ");
        return out;
    };
    const Rect whole = rect(-2, -2, 2, 2);
    ASSERT_EQ(CopyBits(GetPortBitMapForCopyBits(from), GetPortBitMapForCopyBits(to), &fromBounds, &whole,
                       srcCopy, nullptr),
              noErr);
    EXPECT_EQ(dump(), "1 1 2 2|1 1 2 2|3 3 4 4|3 3 4 4");

    // Source (10, 20) lands at (0, 0): the image's top-left pixel only, drawn at the origin.
    const MatrixRecord move = scaleMove(1, 1, -10, -20);
    const Rect topLeft = rect(10, 20, 11, 21);
    RgnHandle clip = NewRgn();
    SetRectRgn(clip, -2, -2, 1, 1);
    ASSERT_EQ(platform::drawPixMap(src, &topLeft, dst, &move, clip, notSrcCopy), noErr);
    EXPECT_EQ(dump(), "1 1 2 2|1 1 2 2|3 3 254 4|3 3 4 4");
    // The whole image without a matrix lies at (10, 20): outside the destination.
    ASSERT_EQ(platform::drawPixMap(src, nullptr, dst, nullptr, nullptr, srcCopy), noErr);
    EXPECT_EQ(dump(), "1 1 2 2|1 1 2 2|3 3 254 4|3 3 4 4");
    EXPECT_EQ(platform::drawPixMap(nullptr, nullptr, dst, nullptr, nullptr, srcCopy), paramErr);
    DisposeRgn(clip);
    DisposeGWorld(from);
    DisposeGWorld(to);
}

// Every pair of formats, in both modes: a copy at its own size gives the bytes convertPixels
// gives, and a copy scaled by 2 gives the bytes convertPixels gives for the source with every
// pixel doubled by hand. This holds the shortcuts (bytes as they are, tables of converted values,
// repeated rows) to the engine's answers.
TEST(BlitterTest, EveryFormatPairMatchesTheEngine) {
    size_t count = 0;
    const platform::PixelFormatInfo* table = platform::pixelFormatTable(&count);
    for (size_t i = 0; i < count; ++i) {
        const platform::PixelFormatInfo& from = table[i];
        Pixels src(from.format, 4, 2);
        for (size_t k = 0; k < src.bytes.size(); ++k)
            src.bytes[k] = uint8_t(k * 37 + 11);
        // Doubled by hand, for formats whose pixels are whole bytes each.
        const int32_t bytes = from.bitsPerPixel / 8;
        const bool doubles = from.bitsPerPixel % 8 == 0 && from.layout != platform::PixelLayout::YCbCr422 &&
                             from.layout != platform::PixelLayout::YCbCr422Wide &&
                             from.layout != platform::PixelLayout::PlanarRGB;
        Pixels twice(from.format, 8, 4);
        if (doubles)
            for (int32_t y = 0; y < 4; ++y)
                for (int32_t x = 0; x < 8; ++x)
                    std::memcpy(twice.at(x, y), src.at(x / 2, y / 2), size_t(bytes));
        for (size_t j = 0; j < count; ++j) {
            const OSType to = table[j].format;
            for (const bool invert : {false, true}) {
                SCOPED_TRACE(std::string(from.name) + " -> " + table[j].name + (invert ? ", inverted" : ""));
                const int16_t mode = invert ? notSrcCopy : srcCopy;
                Pixels got(to, 4, 2, 0x5A), want(to, 4, 2, 0x5A);
                ASSERT_EQ(blitAll(src, rect(0, 0, 4, 2), got, rect(0, 0, 4, 2), nullptr, nullptr, mode),
                          noErr);
                ASSERT_TRUE(platform::convertPixels(src.raster, 0, 0, want.raster, 0, 0, 4, 2, invert));
                EXPECT_EQ(got.bytes, want.bytes);
                if (!doubles) continue;
                Pixels gotScaled(to, 8, 4, 0x5A), wantScaled(to, 8, 4, 0x5A);
                ASSERT_EQ(blitAll(src, rect(0, 0, 4, 2), gotScaled, rect(0, 0, 8, 4), nullptr, nullptr, mode),
                          noErr);
                ASSERT_TRUE(
                    platform::convertPixels(twice.raster, 0, 0, wantScaled.raster, 0, 0, 8, 4, invert));
                EXPECT_EQ(gotScaled.bytes, wantScaled.bytes);
            }
        }
    }
}
