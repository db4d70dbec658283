#include "PlatformPixelFormats.h"

#include "PlatformEndian.h"
#include "PlatformMemory.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>
#include <unordered_map>
#include <vector>

namespace {

using platform::ARGB16;
using platform::PixelFormatInfo;
using platform::PixelLayout;
using platform::PixelRaster;

// Core Graphics bitmap information (alpha info in the low bits, byte order above).
constexpr uint32_t kAlphaNone = 0, kAlphaLast = 3, kAlphaFirst = 4, kAlphaNoneSkipFirst = 6;
constexpr uint32_t kOrder16Little = 1u << 12, kOrder32Little = 2u << 12, kOrder16Big = 3u << 12,
                   kOrder32Big = 4u << 12;
constexpr uint32_t kOrder16Host = platform::kHostIsLittleEndian ? kOrder16Little : kOrder16Big;

// clang-format off
constexpr PixelFormatInfo kFormats[] = {
    // format, name, layout, bits, description depth, codec type, components, component bits, alpha,
    // deep, QD, CG bitmap context, CG image, OpenGL, CG bitmap info
    {k1MonochromePixelFormat, "1-bit indexed", PixelLayout::Indexed, 1, 1, kRawCodecType, 1, 1,
     false, false, true, false, false, false, kAlphaNone},
    {k2IndexedPixelFormat, "2-bit indexed", PixelLayout::Indexed, 2, 2, kRawCodecType, 1, 2,
     false, false, true, false, false, false, kAlphaNone},
    {k4IndexedPixelFormat, "4-bit indexed", PixelLayout::Indexed, 4, 4, kRawCodecType, 1, 4,
     false, false, true, false, false, false, kAlphaNone},
    {k8IndexedPixelFormat, "8-bit indexed", PixelLayout::Indexed, 8, 8, kRawCodecType, 1, 8,
     false, false, true, false, false, false, kAlphaNone},
    {k16BE555PixelFormat, "16-bit RGB 5-5-5 big-endian", PixelLayout::RGB555, 16, 16, kRawCodecType, 3, 5,
     false, false, true, true, true, false, kAlphaNoneSkipFirst | kOrder16Big},
    {k24RGBPixelFormat, "24-bit RGB", PixelLayout::RGB24, 24, 24, kRawCodecType, 3, 8,
     false, false, true, false, true, true, kAlphaNone},
    {k32ARGBPixelFormat, "32-bit ARGB", PixelLayout::ARGB32, 32, 32, kRawCodecType, 3, 8,
     true, false, true, true, true, true, kAlphaFirst | kOrder32Big},
    {k8IndexedGrayPixelFormat, "8-bit grey (0 is white)", PixelLayout::GreyInverted8, 8, 40, kRawCodecType, 1, 8,
     false, false, true, false, false, false, kAlphaNone},
    {k24BGRPixelFormat, "24-bit BGR", PixelLayout::BGR24, 24, 24, k24BGRPixelFormat, 3, 8,
     false, false, false, false, false, true, kAlphaNone},
    {k32BGRAPixelFormat, "32-bit BGRA", PixelLayout::BGRA32, 32, 32, k32BGRAPixelFormat, 3, 8,
     true, false, false, true, true, true, kAlphaFirst | kOrder32Little},
    {k32ABGRPixelFormat, "32-bit ABGR", PixelLayout::ABGR32, 32, 32, k32ABGRPixelFormat, 3, 8,
     true, false, false, true, true, true, kAlphaLast | kOrder32Little},
    {k32RGBAPixelFormat, "32-bit RGBA", PixelLayout::RGBA32, 32, 32, k32RGBAPixelFormat, 3, 8,
     true, false, false, true, true, true, kAlphaLast | kOrder32Big},
    {k16GrayPixelFormat, "16-bit grey", PixelLayout::Grey16, 16, 40, k16GrayPixelFormat, 1, 16,
     false, true, false, false, true, false, kAlphaNone | kOrder16Host},
    {k48RGBPixelFormat, "48-bit RGB", PixelLayout::RGB48, 48, 24, k48RGBPixelFormat, 3, 16,
     false, true, false, false, true, false, kAlphaNone | kOrder16Host},
    {k2vuyPixelFormat, "Component Y'CbCr 8-bit 4:2:2", PixelLayout::YCbCr422, 16, 24, k2vuyPixelFormat, 3, 8,
     false, false, false, false, false, true, kAlphaNone},
    {k422YpCbCr16PixelFormat, "Component Y'CbCr 16-bit 4:2:2", PixelLayout::YCbCr422Wide, 32, 24,
     k422YpCbCr16PixelFormat, 3, 16, false, true, false, false, false, false, kAlphaNone},
    {k32CMYKPixelFormat, "32-bit CMYK", PixelLayout::CMYK, 32, 32, k32CMYKPixelFormat, 4, 8,
     false, false, false, false, false, false, kAlphaNone},
    {k24PlanarRGBPixelFormat, "Planar RGB", PixelLayout::PlanarRGB, 24, 24, k24PlanarRGBPixelFormat, 3, 8,
     false, false, false, false, false, false, kAlphaNone},
};
// clang-format on

constexpr uint16_t k16(uint8_t v) {
    return uint16_t(v * 257u);
}

// ---------------------------------------------------------------------------------------------
// Y'CbCr: BT.601 with luma 16..235 and chroma 16..240 around 128 (scaled by 256 for 16-bit
// samples), the same coding as the raw codecs use.

constexpr double kKr = 0.299, kKg = 0.587, kKb = 0.114;
constexpr double kCrToR = 2.0 * (1.0 - kKr);
constexpr double kCbToB = 2.0 * (1.0 - kKb);
constexpr double kCbToG = kCbToB * kKb / kKg;
constexpr double kCrToG = kCrToR * kKr / kKg;

struct VideoRange {
    double black, lumaSpan, zero, chromaSpan;
};
constexpr VideoRange kVideo8{16.0, 219.0, 128.0, 224.0};
constexpr VideoRange kVideo16{4096.0, 219.0 * 256.0, 32768.0, 224.0 * 256.0};

uint16_t clampTo(double v, double full) {
    if (!(v > 0.0)) return 0;
    if (v >= full) return uint16_t(full);
    return uint16_t(std::floor(v + 0.5));
}

// RGB of one luma and a pair's chroma, in samples of `full`.
void videoToRGB(const VideoRange& v, double full, double y, double cb, double cr, uint16_t rgb[3]) {
    const double l = (y - v.black) * (full / v.lumaSpan);
    const double b = (cb - v.zero) * (full / v.chromaSpan);
    const double r = (cr - v.zero) * (full / v.chromaSpan);
    rgb[0] = clampTo(l + kCrToR * r, full);
    rgb[1] = clampTo(l - kCbToG * b - kCrToG * r, full);
    rgb[2] = clampTo(l + kCbToB * b, full);
}

void lumaChroma(double r, double g, double b, double out[3]) {
    const double l = kKr * r + kKg * g + kKb * b;
    out[0] = l;
    out[1] = (b - l) / kCbToB;
    out[2] = (r - l) / kCrToR;
}

// ---------------------------------------------------------------------------------------------
// Rows

uint8_t* rowOf(const PixelRaster& r, int32_t y) {
    return r.base + ptrdiff_t(y) * r.rowBytes;
}

int32_t planeBytesOf(const PixelRaster& r) {
    return r.planeBytes > 0 ? r.planeBytes : r.width;
}

bool isDefaultRamp(const PixelRaster& r) {
    return !r.colors || r.colorCount <= 0;
}

// The pair (Cb, Y0, Cr, Y1) at pair index p of a 4:2:2 row.
void loadPair(const uint8_t* row, bool wide, int32_t p, double q[4]) {
    if (wide) {
        const uint8_t* s = row + ptrdiff_t(p) * 8;
        for (int k = 0; k < 4; ++k)
            q[k] = double(platform::loadLE16(s + 2 * k));
    } else {
        const uint8_t* s = row + ptrdiff_t(p) * 4;
        for (int k = 0; k < 4; ++k)
            q[k] = double(s[k]);
    }
}

void readRow(const PixelRaster& r, int32_t x, int32_t y, int32_t count, ARGB16* out) {
    const uint8_t* row = rowOf(r, y);
    const PixelFormatInfo& info = *r.info;
    switch (info.layout) {
    case PixelLayout::Indexed: {
        const int bits = info.bitsPerPixel;
        const int32_t entries = 1 << bits;
        for (int32_t i = 0; i < count; ++i) {
            const int64_t bit = int64_t(x + i) * bits;
            const unsigned byte = row[bit >> 3];
            const int32_t index = int32_t((byte >> (8 - bits - (bit & 7))) & unsigned(entries - 1));
            RGBColor c;
            if (isDefaultRamp(r))
                c = platform::defaultIndexedColor(bits, index);
            else if (index < r.colorCount)
                c = r.colors[index].rgb;
            else
                c = RGBColor{0, 0, 0};
            out[i] = ARGB16{0xFFFF, c.red, c.green, c.blue};
        }
        break;
    }
    case PixelLayout::GreyInverted8:
        for (int32_t i = 0; i < count; ++i) {
            const uint16_t g = k16(uint8_t(255 - row[x + i]));
            out[i] = ARGB16{0xFFFF, g, g, g};
        }
        break;
    case PixelLayout::RGB555:
        for (int32_t i = 0; i < count; ++i) {
            const unsigned v = platform::loadBE16(row + 2 * ptrdiff_t(x + i));
            auto expand = [](unsigned c) { return k16(uint8_t((c << 3) | (c >> 2))); };
            out[i] = ARGB16{0xFFFF, expand((v >> 10) & 31), expand((v >> 5) & 31), expand(v & 31)};
        }
        break;
    case PixelLayout::RGB24:
    case PixelLayout::BGR24: {
        const bool bgr = info.layout == PixelLayout::BGR24;
        for (int32_t i = 0; i < count; ++i) {
            const uint8_t* p = row + 3 * ptrdiff_t(x + i);
            out[i] = ARGB16{0xFFFF, k16(p[bgr ? 2 : 0]), k16(p[1]), k16(p[bgr ? 0 : 2])};
        }
        break;
    }
    case PixelLayout::ARGB32:
    case PixelLayout::BGRA32:
    case PixelLayout::ABGR32:
    case PixelLayout::RGBA32: {
        // Byte positions of A, R, G, B.
        int ia = 0, ir = 1, ig = 2, ib = 3;
        if (info.layout == PixelLayout::BGRA32) ib = 0, ig = 1, ir = 2, ia = 3;
        if (info.layout == PixelLayout::ABGR32) ia = 0, ib = 1, ig = 2, ir = 3;
        if (info.layout == PixelLayout::RGBA32) ir = 0, ig = 1, ib = 2, ia = 3;
        for (int32_t i = 0; i < count; ++i) {
            const uint8_t* p = row + 4 * ptrdiff_t(x + i);
            out[i] = ARGB16{k16(p[ia]), k16(p[ir]), k16(p[ig]), k16(p[ib])};
        }
        break;
    }
    case PixelLayout::Grey16:
        for (int32_t i = 0; i < count; ++i) {
            uint16_t g;
            std::memcpy(&g, row + 2 * ptrdiff_t(x + i), 2);
            out[i] = ARGB16{0xFFFF, g, g, g};
        }
        break;
    case PixelLayout::RGB48:
        for (int32_t i = 0; i < count; ++i) {
            uint16_t c[3];
            std::memcpy(c, row + 6 * ptrdiff_t(x + i), 6);
            out[i] = ARGB16{0xFFFF, c[0], c[1], c[2]};
        }
        break;
    case PixelLayout::YCbCr422:
    case PixelLayout::YCbCr422Wide: {
        const bool wide = info.layout == PixelLayout::YCbCr422Wide;
        const VideoRange& range = wide ? kVideo16 : kVideo8;
        for (int32_t i = 0; i < count; ++i) {
            const int32_t px = x + i;
            double q[4];
            loadPair(row, wide, px / 2, q);
            uint16_t rgb[3];
            videoToRGB(range, wide ? 65535.0 : 255.0, q[(px & 1) ? 3 : 1], q[0], q[2], rgb);
            if (wide)
                out[i] = ARGB16{0xFFFF, rgb[0], rgb[1], rgb[2]};
            else
                out[i] = ARGB16{0xFFFF, k16(uint8_t(rgb[0])), k16(uint8_t(rgb[1])), k16(uint8_t(rgb[2]))};
        }
        break;
    }
    case PixelLayout::CMYK:
        for (int32_t i = 0; i < count; ++i) {
            const uint8_t* p = row + 4 * ptrdiff_t(x + i);
            const unsigned k = 255u - p[3];
            auto channel = [k](uint8_t c) { return k16(uint8_t(((255u - c) * k + 127u) / 255u)); };
            out[i] = ARGB16{0xFFFF, channel(p[0]), channel(p[1]), channel(p[2])};
        }
        break;
    case PixelLayout::PlanarRGB: {
        const ptrdiff_t plane = planeBytesOf(r);
        for (int32_t i = 0; i < count; ++i) {
            const uint8_t* p = row + (x + i);
            out[i] = ARGB16{0xFFFF, k16(p[0]), k16(p[plane]), k16(p[2 * plane])};
        }
        break;
    }
    }
}

// Nearest colour of a custom table, remembered per colour for the rest of the copy.
class NearestIndex {
  public:
    explicit NearestIndex(const PixelRaster& r) : _r(r) {}
    uint32_t operator()(uint8_t red, uint8_t green, uint8_t blue) {
        const uint32_t key = (uint32_t(red) << 16) | (uint32_t(green) << 8) | blue;
        auto found = _memo.find(key);
        if (found != _memo.end()) return found->second;
        const int32_t limit = std::min(_r.colorCount, int32_t(1) << _r.info->bitsPerPixel);
        uint32_t best = 0;
        int64_t bestDistance = INT64_MAX;
        for (int32_t i = 0; i < limit; ++i) {
            const RGBColor& c = _r.colors[i].rgb;
            const int64_t dr = int64_t(platform::to8(c.red)) - red,
                          dg = int64_t(platform::to8(c.green)) - green,
                          db = int64_t(platform::to8(c.blue)) - blue;
            const int64_t d = dr * dr + dg * dg + db * db;
            if (d < bestDistance) bestDistance = d, best = uint32_t(i);
        }
        _memo.emplace(key, best);
        return best;
    }

  private:
    const PixelRaster& _r;
    std::unordered_map<uint32_t, uint32_t> _memo;
};

uint32_t defaultRampIndex(int bits, uint8_t grey) {
    if (bits == 1) return grey < 129 ? 1u : 0u;
    const uint32_t last = (1u << bits) - 1u;
    return last - (uint32_t(grey) * last + 127u) / 255u;
}

uint16_t grey16(const ARGB16& p) {
    return uint16_t((117u * p.b + 601u * p.g + 306u * p.r) >> 10);
}
uint8_t grey8(const ARGB16& p) {
    return platform::greyOf(platform::to8(p.r), platform::to8(p.g), platform::to8(p.b));
}

void writeYCbCrRow(const PixelRaster& r, int32_t x, int32_t y, int32_t count, const ARGB16* in, bool deep) {
    const bool wide = r.info->layout == PixelLayout::YCbCr422Wide;
    const VideoRange& range = wide ? kVideo16 : kVideo8;
    const double full = wide ? 65535.0 : 255.0;
    uint8_t* row = rowOf(r, y);
    const int32_t firstPair = x / 2, lastPair = (x + count - 1) / 2;
    for (int32_t p = firstPair; p <= lastPair; ++p) {
        double q[4];
        loadPair(row, wide, p, q);
        double rgb[2][3];
        for (int half = 0; half < 2; ++half) {
            const int32_t px = 2 * p + half;
            if (px >= x && px < x + count) {
                const ARGB16& s = in[px - x];
                if (wide && deep) {
                    rgb[half][0] = s.r, rgb[half][1] = s.g, rgb[half][2] = s.b;
                } else {
                    const double scale = wide ? 257.0 : 1.0;
                    rgb[half][0] = platform::to8(s.r) * scale;
                    rgb[half][1] = platform::to8(s.g) * scale;
                    rgb[half][2] = platform::to8(s.b) * scale;
                }
            } else {
                // A neighbour outside the range keeps its colour (the one its pair codes now).
                uint16_t old[3];
                videoToRGB(range, full, q[half ? 3 : 1], q[0], q[2], old);
                for (int c = 0; c < 3; ++c)
                    rgb[half][c] = old[c];
            }
        }
        double a[3], b[3];
        lumaChroma(rgb[0][0], rgb[0][1], rgb[0][2], a);
        lumaChroma(rgb[1][0], rgb[1][1], rgb[1][2], b);
        const double codes[4] = {
            range.zero + (a[1] + b[1]) / 2.0 * (range.chromaSpan / full),
            range.black + a[0] * (range.lumaSpan / full),
            range.zero + (a[2] + b[2]) / 2.0 * (range.chromaSpan / full),
            range.black + b[0] * (range.lumaSpan / full),
        };
        for (int k = 0; k < 4; ++k) {
            if (wide)
                platform::storeLE16(row + ptrdiff_t(p) * 8 + 2 * k, clampTo(codes[k], 65535.0));
            else
                row[ptrdiff_t(p) * 4 + k] = uint8_t(clampTo(codes[k], 255.0));
        }
    }
}

void writeRow(const PixelRaster& r, int32_t x, int32_t y, int32_t count, const ARGB16* in, bool deep,
              NearestIndex* nearest) {
    uint8_t* row = rowOf(r, y);
    const PixelFormatInfo& info = *r.info;
    using platform::to8;
    switch (info.layout) {
    case PixelLayout::Indexed: {
        const int bits = info.bitsPerPixel;
        const unsigned mask = (1u << bits) - 1u;
        for (int32_t i = 0; i < count; ++i) {
            const ARGB16& p = in[i];
            const uint32_t index = isDefaultRamp(r) || !nearest ? defaultRampIndex(bits, grey8(p))
                                                                : (*nearest)(to8(p.r), to8(p.g), to8(p.b));
            const int64_t bit = int64_t(x + i) * bits;
            uint8_t& byte = row[bit >> 3];
            const int shift = 8 - bits - int(bit & 7);
            byte = uint8_t((byte & ~(mask << shift)) | ((index & mask) << shift));
        }
        break;
    }
    case PixelLayout::GreyInverted8:
        for (int32_t i = 0; i < count; ++i)
            row[x + i] = uint8_t(255 - grey8(in[i]));
        break;
    case PixelLayout::RGB555:
        for (int32_t i = 0; i < count; ++i) {
            const ARGB16& p = in[i];
            const unsigned v =
                unsigned(to8(p.r) >> 3) << 10 | unsigned(to8(p.g) >> 3) << 5 | unsigned(to8(p.b) >> 3);
            platform::storeBE16(row + 2 * ptrdiff_t(x + i), uint16_t(v));
        }
        break;
    case PixelLayout::RGB24:
    case PixelLayout::BGR24: {
        const bool bgr = info.layout == PixelLayout::BGR24;
        for (int32_t i = 0; i < count; ++i) {
            uint8_t* d = row + 3 * ptrdiff_t(x + i);
            d[bgr ? 2 : 0] = to8(in[i].r);
            d[1] = to8(in[i].g);
            d[bgr ? 0 : 2] = to8(in[i].b);
        }
        break;
    }
    case PixelLayout::ARGB32:
    case PixelLayout::BGRA32:
    case PixelLayout::ABGR32:
    case PixelLayout::RGBA32: {
        int ia = 0, ir = 1, ig = 2, ib = 3;
        if (info.layout == PixelLayout::BGRA32) ib = 0, ig = 1, ir = 2, ia = 3;
        if (info.layout == PixelLayout::ABGR32) ia = 0, ib = 1, ig = 2, ir = 3;
        if (info.layout == PixelLayout::RGBA32) ir = 0, ig = 1, ib = 2, ia = 3;
        for (int32_t i = 0; i < count; ++i) {
            uint8_t* d = row + 4 * ptrdiff_t(x + i);
            d[ia] = to8(in[i].a);
            d[ir] = to8(in[i].r);
            d[ig] = to8(in[i].g);
            d[ib] = to8(in[i].b);
        }
        break;
    }
    case PixelLayout::Grey16:
        for (int32_t i = 0; i < count; ++i) {
            const uint16_t g = deep ? grey16(in[i]) : k16(grey8(in[i]));
            std::memcpy(row + 2 * ptrdiff_t(x + i), &g, 2);
        }
        break;
    case PixelLayout::RGB48:
        for (int32_t i = 0; i < count; ++i) {
            const ARGB16& p = in[i];
            const uint16_t c[3] = {deep ? p.r : k16(to8(p.r)), deep ? p.g : k16(to8(p.g)),
                                   deep ? p.b : k16(to8(p.b))};
            std::memcpy(row + 6 * ptrdiff_t(x + i), c, 6);
        }
        break;
    case PixelLayout::YCbCr422:
    case PixelLayout::YCbCr422Wide:
        writeYCbCrRow(r, x, y, count, in, deep);
        break;
    case PixelLayout::CMYK:
        // K takes what the three share; C, M, Y are chosen so that reading gives the colour back.
        for (int32_t i = 0; i < count; ++i) {
            const uint8_t rgb[3] = {to8(in[i].r), to8(in[i].g), to8(in[i].b)};
            const unsigned m = std::max({rgb[0], rgb[1], rgb[2]});
            uint8_t* d = row + 4 * ptrdiff_t(x + i);
            d[3] = uint8_t(255 - m);
            for (int c = 0; c < 3; ++c)
                d[c] = m == 0 ? 0 : uint8_t(255 - (unsigned(rgb[c]) * 255u + m / 2) / m);
        }
        break;
    case PixelLayout::PlanarRGB: {
        const ptrdiff_t plane = planeBytesOf(r);
        for (int32_t i = 0; i < count; ++i) {
            uint8_t* d = row + (x + i);
            d[0] = to8(in[i].r);
            d[plane] = to8(in[i].g);
            d[2 * plane] = to8(in[i].b);
        }
        break;
    }
    }
}

// Whether two rasters hold the same kind of pixels, so that bytes copy as they are.
bool sameBytes(const PixelRaster& a, const PixelRaster& b) {
    if (a.info != b.info || a.info->bitsPerPixel % 8 != 0) return false;
    switch (a.info->layout) {
    case PixelLayout::YCbCr422:
    case PixelLayout::YCbCr422Wide:
    case PixelLayout::PlanarRGB:
        return false;
    case PixelLayout::Indexed:
        if (isDefaultRamp(a) || isDefaultRamp(b)) return isDefaultRamp(a) && isDefaultRamp(b);
        return a.colorCount == b.colorCount &&
               std::memcmp(a.colors, b.colors, sizeof(ColorSpec) * size_t(a.colorCount)) == 0;
    default:
        return true;
    }
}

bool memoryOverlaps(const PixelRaster& a, const PixelRaster& b) {
    const uint8_t* aEnd = a.base + ptrdiff_t(a.height) * a.rowBytes;
    const uint8_t* bEnd = b.base + ptrdiff_t(b.height) * b.rowBytes;
    return a.base < bEnd && b.base < aEnd;
}

} // namespace

int16_t QTGetPixelSize(OSType pixelFormat) {
    const PixelFormatInfo* info = platform::pixelFormatInfo(pixelFormat);
    return info ? info->bitsPerPixel : 0;
}

int16_t QTGetPixelFormatDepthForImageDescription(OSType pixelFormat) {
    const PixelFormatInfo* info = platform::pixelFormatInfo(pixelFormat);
    return info ? info->descriptionDepth : 0;
}

CTabHandle GetCTable(int16_t ctID) {
    int32_t depth = ctID > 32 ? ctID - 32 : ctID;
    if (depth != 1 && depth != 2 && depth != 4 && depth != 8) return nullptr;
    const int32_t entries = 1 << depth;
    Handle h = NewHandleClear(Size(8 + 8 * entries));
    if (!h) return nullptr;
    auto* table = reinterpret_cast<ColorTable*>(*h);
    table->ctSeed = ctID;
    table->ctFlags = 0;
    table->ctSize = int16_t(entries - 1);
    for (int32_t i = 0; i < entries; ++i) {
        table->ctTable[i].value = int16_t(i);
        table->ctTable[i].rgb = platform::defaultIndexedColor(depth, i);
    }
    return reinterpret_cast<CTabHandle>(h);
}

void DisposeCTable(CTabHandle table) {
    if (table) DisposeHandle(reinterpret_cast<Handle>(table));
}

namespace platform {

const PixelFormatInfo* pixelFormatInfo(OSType pixelFormat) {
    for (const PixelFormatInfo& info : kFormats)
        if (info.format == pixelFormat) return &info;
    return nullptr;
}

const PixelFormatInfo* pixelFormatTable(size_t* count) {
    if (count) *count = std::size(kFormats);
    return kFormats;
}

int64_t minimumRowBytes(const PixelFormatInfo& info, int32_t width) {
    if (width <= 0) return 0;
    int64_t w = width;
    if (info.layout == PixelLayout::YCbCr422 || info.layout == PixelLayout::YCbCr422Wide)
        w = (w + 1) & ~int64_t(1);
    return (w * info.bitsPerPixel + 7) / 8;
}

RGBColor defaultIndexedColor(int32_t depth, int32_t index) {
    const int32_t last = (1 << depth) - 1;
    const uint16_t v = uint16_t(65535 - int64_t(index) * 65535 / last);
    return RGBColor{v, v, v};
}

bool rasterIsUsable(const PixelRaster& r) {
    if (!r.base || !r.info || r.width <= 0 || r.height <= 0) return false;
    int64_t need = minimumRowBytes(*r.info, r.width);
    if (r.info->layout == PixelLayout::PlanarRGB)
        need = std::max<int64_t>(need, 2 * int64_t(planeBytesOf(r)) + r.width);
    return r.rowBytes >= need;
}

void readPixels(const PixelRaster& raster, int32_t x, int32_t y, int32_t count, ARGB16* out) {
    if (count > 0) readRow(raster, x, y, count, out);
}

void writePixels(const PixelRaster& raster, int32_t x, int32_t y, int32_t count, const ARGB16* in,
                 bool deep) {
    if (count <= 0) return;
    if (raster.info->layout == PixelLayout::Indexed && !isDefaultRamp(raster)) {
        NearestIndex nearest(raster);
        writeRow(raster, x, y, count, in, deep, &nearest);
    } else {
        writeRow(raster, x, y, count, in, deep, nullptr);
    }
}

bool convertPixels(const PixelRaster& src, int32_t sx, int32_t sy, const PixelRaster& dst, int32_t dx,
                   int32_t dy, int32_t w, int32_t h, bool invert) {
    if (w <= 0 || h <= 0) return true;
    // Rows run bottom-up when the destination lies below a source in the same memory.
    const bool upward = memoryOverlaps(src, dst) && rowOf(dst, dy) > rowOf(src, sy);
    if (!invert && sameBytes(src, dst)) {
        const size_t bytes = size_t(w) * size_t(src.info->bitsPerPixel / 8);
        const size_t sOff = size_t(sx) * size_t(src.info->bitsPerPixel / 8);
        const size_t dOff = size_t(dx) * size_t(dst.info->bitsPerPixel / 8);
        for (int32_t i = 0; i < h; ++i) {
            const int32_t k = upward ? h - 1 - i : i;
            std::memmove(rowOf(dst, dy + k) + dOff, rowOf(src, sy + k) + sOff, bytes);
        }
        return true;
    }
    std::vector<ARGB16> line;
    try {
        line.resize(size_t(w));
    } catch (const std::bad_alloc&) {
        return false;
    }
    const bool deep = src.info->deep && dst.info->deep;
    std::unique_ptr<NearestIndex> nearest;
    if (dst.info->layout == PixelLayout::Indexed && !isDefaultRamp(dst))
        nearest.reset(new (std::nothrow) NearestIndex(dst));
    for (int32_t i = 0; i < h; ++i) {
        const int32_t k = upward ? h - 1 - i : i;
        readRow(src, sx, sy + k, w, line.data());
        if (!deep || invert) {
            for (ARGB16& p : line) {
                if (!deep) p = ARGB16{k16(to8(p.a)), k16(to8(p.r)), k16(to8(p.g)), k16(to8(p.b))};
                if (invert) p.r = uint16_t(~p.r), p.g = uint16_t(~p.g), p.b = uint16_t(~p.b);
            }
        }
        writeRow(dst, dx, dy + k, w, line.data(), deep, nearest.get());
    }
    return true;
}

bool fillPixels(const PixelRaster& dst, int32_t x, int32_t y, int32_t w, int32_t h, ARGB16 color) {
    if (w <= 0 || h <= 0) return true;
    std::vector<ARGB16> line;
    try {
        line.assign(size_t(w), color);
    } catch (const std::bad_alloc&) {
        return false;
    }
    std::unique_ptr<NearestIndex> nearest;
    if (dst.info->layout == PixelLayout::Indexed && !isDefaultRamp(dst))
        nearest.reset(new (std::nothrow) NearestIndex(dst));
    for (int32_t i = 0; i < h; ++i)
        writeRow(dst, x, y + i, w, line.data(), true, nearest.get());
    return true;
}

} // namespace platform
