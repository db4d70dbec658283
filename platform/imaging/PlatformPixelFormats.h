// Pixel formats of offscreen worlds, pixel buffers and images, and the one conversion engine that
// reads and writes every one of them.
//
// A format is named by a small number (a QuickDraw depth) or a four-character code:
//   1, 2, 4, 8   indexed through a colour table; the default tables are grey ramps where index 0
//                is white and the last index black (so 8-bit pixels read as depth 40 does)
//   16           RGB 5-5-5 in big-endian words, top bit unused
//   24           R, G, B bytes                     '24BG'  B, G, R bytes
//   32           A, R, G, B bytes                  'BGRA', 'RGBA', 'ABGR'  as the code says
//   40           8-bit grey where 0 is white and 255 black
//   'b16g'       16-bit grey in host byte order (0 is black)
//   'b48r'       16-bit R, G, B in host byte order
//   '2vuy'       Cb, Y0, Cr, Y1 bytes, 4:2:2, BT.601 video range
//   'v216'       the same order in 16-bit little-endian samples, video range scaled by 256
//   'cmyk'       C, M, Y, K bytes
//   '8BPS'       planar R, G, B, line by line: each row holds the row's R samples, then its G
//                samples, then its B samples; the runs are `planeBytes` apart (the row's width
//                unless a raster says otherwise)
//
// Conversions go through 8-bit A, R, G, B, or through 16-bit samples when both ends hold 16-bit
// samples ('b16g', 'b48r', 'v216'). A pixel of colour becomes one grey sample by
// grey = (117 * B + 601 * G + 306 * R) >> 10; the one-bit default table cuts at grey < 129.
// Formats without alpha read as opaque.
#pragma once

#include "PlatformTypes.h"

#include <cstddef>
#include <cstdint>

enum : OSType {
    k1MonochromePixelFormat = 1,
    k2IndexedPixelFormat = 2,
    k4IndexedPixelFormat = 4,
    k8IndexedPixelFormat = 8,
    k16BE555PixelFormat = 16,
    k24RGBPixelFormat = 24,
    k32ARGBPixelFormat = 32,
    k8IndexedGrayPixelFormat = 40,
    k24BGRPixelFormat = FOUR_CHAR_CODE("24BG"),
    k32BGRAPixelFormat = FOUR_CHAR_CODE("BGRA"),
    k32ABGRPixelFormat = FOUR_CHAR_CODE("ABGR"),
    k32RGBAPixelFormat = FOUR_CHAR_CODE("RGBA"),
    k16GrayPixelFormat = FOUR_CHAR_CODE("b16g"),
    k48RGBPixelFormat = FOUR_CHAR_CODE("b48r"),
    k2vuyPixelFormat = FOUR_CHAR_CODE("2vuy"),
    k422YpCbCr16PixelFormat = FOUR_CHAR_CODE("v216"),
    k32CMYKPixelFormat = FOUR_CHAR_CODE("cmyk"),
    k24PlanarRGBPixelFormat = FOUR_CHAR_CODE("8BPS"),
};

// Compression type of image descriptions of uncompressed classic pixels.
constexpr OSType kRawCodecType = FOUR_CHAR_CODE("raw ");

// Colour tables, as QuickDraw lays them out (host order). Entry i of a table is the colour of
// pixel value i.
struct ColorSpec {
    int16_t value;
    RGBColor rgb;
};
static_assert(sizeof(ColorSpec) == 8);

struct ColorTable {
    int32_t ctSeed;
    int16_t ctFlags;
    int16_t ctSize; // entries less one
    ColorSpec ctTable[1];
};
static_assert(sizeof(ColorTable) == 16);
using CTabPtr = ColorTable*;
using CTabHandle = ColorTable**;

// Bits per pixel of the format (0 for an unknown one).
int16_t QTGetPixelSize(OSType pixelFormat);
// The depth an image description of such pixels carries: 1, 2, 4, 8, 16, 24, 32 for the classic
// depths, 24 or 32 (alpha) for colour formats, 40 for the grey formats; 0 for an unknown format.
int16_t QTGetPixelFormatDepthForImageDescription(OSType pixelFormat);

// Colour tables: the default table of depth 1, 2, 4 or 8 (also 33, 34, 36, 40: the grey tables
// of those depths, which are the same ramps). Null for another id. The caller disposes it.
CTabHandle GetCTable(int16_t ctID);
void DisposeCTable(CTabHandle table);

namespace platform {

enum class PixelLayout : uint8_t {
    Indexed,
    GreyInverted8,
    RGB555,
    RGB24,
    BGR24,
    ARGB32,
    BGRA32,
    ABGR32,
    RGBA32,
    Grey16,
    RGB48,
    YCbCr422,
    YCbCr422Wide,
    CMYK,
    PlanarRGB,
};

struct PixelFormatInfo {
    OSType format;
    const char* name;
    PixelLayout layout;
    int16_t bitsPerPixel;
    int16_t descriptionDepth;
    OSType codecType;      // of an image description of the pixels
    int16_t components;    // colour components: 1 grey or indexed, 3 RGB, 4 CMYK
    int16_t componentBits; // bits of one component
    bool hasAlpha;
    bool deep; // 16-bit samples
    bool qdCompatible;
    bool cgBitmapContextCompatible;
    bool cgImageCompatible;
    bool openGLCompatible;
    uint32_t cgBitmapInfo; // alpha info and byte order as Core Graphics takes them
};

// The format's entry; null for an unknown format.
const PixelFormatInfo* pixelFormatInfo(OSType pixelFormat);
// Every known format, in the table's order.
const PixelFormatInfo* pixelFormatTable(size_t* count);

// Bytes that a row of `width` pixels needs (4:2:2 rows hold whole pairs); 0 for a bad width.
int64_t minimumRowBytes(const PixelFormatInfo& info, int32_t width);

// One pixel in 16-bit samples. 8-bit values v are held as v * 257.
struct ARGB16 {
    uint16_t a, r, g, b;
    bool operator==(const ARGB16&) const = default;
};

// Pixels in memory: `height` rows of `rowBytes` from `base`, `width` pixels a row, pixel (0, 0)
// first. Indexed rasters read their colours from `colors` (`colorCount` entries); without them,
// from the default ramp of their depth.
struct PixelRaster {
    uint8_t* base = nullptr;
    int32_t rowBytes = 0;
    int32_t width = 0;
    int32_t height = 0;
    const PixelFormatInfo* info = nullptr;
    const ColorSpec* colors = nullptr;
    int32_t colorCount = 0;
    int32_t planeBytes = 0; // planar rasters: bytes from one plane's run to the next
};

// Whether the raster describes pixels that can be read (known format, rows long enough).
bool rasterIsUsable(const PixelRaster& raster);

// Reads `count` pixels of row y from x. The range must lie within the raster.
void readPixels(const PixelRaster& raster, int32_t x, int32_t y, int32_t count, ARGB16* out);
// Writes `count` pixels of row y from x. `deep` keeps 16-bit precision for formats that hold it;
// otherwise every sample is taken to 8 bits first. Pixels sharing their 4:2:2 pair with a pixel
// outside the range keep that neighbour as it was.
void writePixels(const PixelRaster& raster, int32_t x, int32_t y, int32_t count, const ARGB16* in, bool deep);

// Copies a w x h block from (sx, sy) of `src` to (dx, dy) of `dst`, converting the format and,
// with `invert`, inverting the colour (not the alpha). The rasters may share memory. Both blocks
// must lie within their rasters. False when memory runs out.
bool convertPixels(const PixelRaster& src, int32_t sx, int32_t sy, const PixelRaster& dst, int32_t dx,
                   int32_t dy, int32_t w, int32_t h, bool invert);
// Paints a w x h block from (x, y) with one colour.
bool fillPixels(const PixelRaster& dst, int32_t x, int32_t y, int32_t w, int32_t h, ARGB16 color);

// The grey sample of an 8-bit colour.
constexpr uint8_t greyOf(uint8_t r, uint8_t g, uint8_t b) {
    return uint8_t((117u * b + 601u * g + 306u * r) >> 10);
}
// A 16-bit sample taken to 8 bits, rounded (exact for v * 257).
constexpr uint8_t to8(uint16_t v) {
    return uint8_t((uint32_t(v) * 255u + 32895u) >> 16);
}

// The default grey ramp of an indexed depth (1, 2, 4 or 8): index 0 white, the last black.
RGBColor defaultIndexedColor(int32_t depth, int32_t index);

} // namespace platform
