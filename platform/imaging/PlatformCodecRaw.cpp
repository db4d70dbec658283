#include "PlatformCodecRaw.h"

#include "PlatformEndian.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace platform::codec {

namespace {

enum class Layout {
    None,
    Bit1,      // 'raw ' 1
    GreyInv8,  // 'raw ' 8 and 40
    RGB555,    // 'raw ' 16
    RGB24,     // 'raw ' 24
    ARGB32,    // 'raw ' 32
    Planar24,  // '8BPS' 24
    Planar32,  // '8BPS' 32
    CMYK,      // 'cmyk'
    YCbCr422,  // '2vuy'
    YCbCr422W, // 'v216'
    Grey16,    // 'b16g'
    RGB48,     // 'b48r'
};

constexpr OSType kRaw = FOUR_CHAR_CODE("raw ");
constexpr OSType kPlanar = FOUR_CHAR_CODE("8BPS");
constexpr OSType kCMYK = FOUR_CHAR_CODE("cmyk");
constexpr OSType k2vuy = FOUR_CHAR_CODE("2vuy");
constexpr OSType kV216 = FOUR_CHAR_CODE("v216");
constexpr OSType kB16g = FOUR_CHAR_CODE("b16g");
constexpr OSType kB48r = FOUR_CHAR_CODE("b48r");

Layout layoutOf(OSType cType, int32_t depth) {
    switch (cType) {
    case kRaw:
        switch (depth) {
        case 1:
            return Layout::Bit1;
        case 8:
        case 40:
            return Layout::GreyInv8;
        case 16:
            return Layout::RGB555;
        case 24:
            return Layout::RGB24;
        case 32:
            return Layout::ARGB32;
        default:
            return Layout::None;
        }
    case kPlanar:
        if (depth == 24) return Layout::Planar24;
        if (depth == 32) return Layout::Planar32;
        return Layout::None;
    case kCMYK:
        return Layout::CMYK;
    case k2vuy:
        return Layout::YCbCr422;
    case kV216:
        return Layout::YCbCr422W;
    case kB16g:
        return Layout::Grey16;
    case kB48r:
        return Layout::RGB48;
    default:
        return Layout::None;
    }
}

// The picture a layout decodes to.
struct Shape {
    int32_t components;
    int32_t bits;
};

Shape shapeOf(Layout layout) {
    switch (layout) {
    case Layout::Bit1:
    case Layout::GreyInv8:
        return {1, 8};
    case Layout::ARGB32:
    case Layout::Planar32:
        return {4, 8};
    case Layout::Grey16:
        return {1, 16};
    case Layout::YCbCr422W:
    case Layout::RGB48:
        return {3, 16};
    default:
        return {3, 8};
    }
}

// Bytes of one row of the layout (planar layouts: of all planes' rows together).
uint64_t rowBytesOf(Layout layout, uint64_t width) {
    switch (layout) {
    case Layout::Bit1:
        return (width + 7) / 8;
    case Layout::GreyInv8:
        return width;
    case Layout::RGB555:
    case Layout::Grey16:
        return width * 2;
    case Layout::RGB24:
    case Layout::Planar24:
        return width * 3;
    case Layout::ARGB32:
    case Layout::Planar32:
    case Layout::CMYK:
        return width * 4;
    case Layout::YCbCr422:
        return (width + 1) / 2 * 4;
    case Layout::YCbCr422W:
        return (width + 1) / 2 * 8;
    case Layout::RGB48:
        return width * 6;
    case Layout::None:
        break;
    }
    return 0;
}

uint64_t frameBytes(Layout layout, int32_t width, int32_t height) {
    return rowBytesOf(layout, uint64_t(width)) * uint64_t(height);
}

uint8_t clamp8(double v) {
    if (!(v > 0.0)) return 0;
    if (v >= 255.0) return 255;
    return uint8_t(std::floor(v + 0.5));
}

uint16_t clamp16(double v) {
    if (!(v > 0.0)) return 0;
    if (v >= 65535.0) return 65535;
    return uint16_t(std::floor(v + 0.5));
}

// BT.601 with luma 16..235 and chroma 16..240 around 128 (scaled by 256 for 16-bit samples).
constexpr double kKr = 0.299, kKg = 0.587, kKb = 0.114;
constexpr double kCrToR = 2.0 * (1.0 - kKr);  // 1.402
constexpr double kCbToB = 2.0 * (1.0 - kKb);  // 1.772
constexpr double kCbToG = kCbToB * kKb / kKg; // 0.344136
constexpr double kCrToG = kCrToR * kKr / kKg; // 0.714136

struct VideoRange {
    double black;    // luma of black
    double lumaSpan; // luma of white - luma of black
    double zero;     // chroma of no colour
    double chromaSpan;
    double full; // the largest RGB sample
};
constexpr VideoRange kVideo8{16.0, 219.0, 128.0, 224.0, 255.0};
constexpr VideoRange kVideo16{4096.0, 219.0 * 256.0, 32768.0, 224.0 * 256.0, 65535.0};

void toRGB(const VideoRange& v, double y, double cb, double cr, double rgb[3]) {
    const double l = (y - v.black) * (v.full / v.lumaSpan);
    const double b = (cb - v.zero) * (v.full / v.chromaSpan);
    const double r = (cr - v.zero) * (v.full / v.chromaSpan);
    rgb[0] = l + kCrToR * r;
    rgb[1] = l - kCbToG * b - kCrToG * r;
    rgb[2] = l + kCbToB * b;
}

// Luma and the two colour differences of an RGB pixel, in units of the RGB samples.
void toLumaChroma(double r, double g, double b, double out[3]) {
    const double l = kKr * r + kKg * g + kKb * b;
    out[0] = l;
    out[1] = (b - l) / kCbToB;
    out[2] = (r - l) / kCrToR;
}

double lumaCode(const VideoRange& v, double l) {
    return v.black + l * (v.lumaSpan / v.full);
}
double chromaCode(const VideoRange& v, double c) {
    return v.zero + c * (v.chromaSpan / v.full);
}

uint8_t expand5(unsigned v) {
    return uint8_t((v << 3) | (v >> 2));
}

// Rows of `rowIn` bytes (at least the layout's own; planar layouts are packed) into a picture.
void decodeFrame(Layout layout, int32_t width, int32_t height, const uint8_t* src, size_t rowIn,
                 uint8_t* dst) {
    const size_t w = size_t(width), h = size_t(height);
    switch (layout) {
    case Layout::Planar24:
    case Layout::Planar32: {
        const size_t planes = layout == Layout::Planar24 ? 3 : 4, n = w * h;
        for (size_t i = 0; i < n; ++i)
            for (size_t p = 0; p < planes; ++p)
                *dst++ = src[p * n + i];
        return;
    }
    default:
        break;
    }
    const bool wide = layout == Layout::YCbCr422W;
    const VideoRange& range = wide ? kVideo16 : kVideo8;
    for (size_t y = 0; y < h; ++y) {
        const uint8_t* s = src + y * rowIn;
        switch (layout) {
        case Layout::Bit1:
            for (size_t x = 0; x < w; ++x)
                *dst++ = (s[x >> 3] & (0x80u >> (x & 7))) ? 0 : 255;
            break;
        case Layout::GreyInv8:
            for (size_t x = 0; x < w; ++x)
                *dst++ = uint8_t(255 - s[x]);
            break;
        case Layout::RGB555:
            for (size_t x = 0; x < w; ++x) {
                const unsigned v = unsigned(s[2 * x] << 8) | s[2 * x + 1];
                *dst++ = expand5((v >> 10) & 31);
                *dst++ = expand5((v >> 5) & 31);
                *dst++ = expand5(v & 31);
            }
            break;
        case Layout::RGB24:
            std::memcpy(dst, s, w * 3);
            dst += w * 3;
            break;
        case Layout::ARGB32:
            for (size_t x = 0; x < w; ++x, s += 4, dst += 4) {
                dst[0] = s[1];
                dst[1] = s[2];
                dst[2] = s[3];
                dst[3] = s[0];
            }
            break;
        case Layout::CMYK:
            for (size_t x = 0; x < w; ++x, s += 4) {
                const unsigned k = 255u - s[3];
                for (int c = 0; c < 3; ++c)
                    *dst++ = uint8_t(((255u - s[c]) * k + 127u) / 255u);
            }
            break;
        case Layout::YCbCr422:
        case Layout::YCbCr422W:
            for (size_t x = 0; x < w; x += 2) {
                double q[4]; // Cb, Y0, Cr, Y1
                for (int k = 0; k < 4; ++k)
                    q[k] = wide ? double(loadLE16(s + 2 * k)) : double(s[k]);
                s += wide ? 8 : 4;
                for (size_t i = 0; i < 2 && x + i < w; ++i) {
                    double rgb[3];
                    toRGB(range, q[i == 0 ? 1 : 3], q[0], q[2], rgb);
                    for (int c = 0; c < 3; ++c) {
                        if (wide) {
                            const uint16_t v = clamp16(rgb[c]);
                            std::memcpy(dst, &v, 2);
                            dst += 2;
                        } else {
                            *dst++ = clamp8(rgb[c]);
                        }
                    }
                }
            }
            break;
        case Layout::Grey16:
            std::memcpy(dst, s, w * 2);
            dst += w * 2;
            break;
        case Layout::RGB48:
            std::memcpy(dst, s, w * 6);
            dst += w * 6;
            break;
        case Layout::Planar24:
        case Layout::Planar32:
        case Layout::None:
            break;
        }
    }
}

// The row stride of a frame of the layout held in `size` bytes (see rawRowBytes); 0 when the
// bytes are short of a frame.
uint64_t strideIn(Layout layout, int32_t width, int32_t height, size_t size) {
    const uint64_t row = rowBytesOf(layout, uint64_t(width));
    if (height <= 0 || row == 0 || size < row * uint64_t(height)) return 0;
    if (layout == Layout::Planar24 || layout == Layout::Planar32) return row;
    // Writers pad each row (ffmpeg and the platform's own to an even number of bytes); a sample
    // that is a whole number of rows longer than the layout's tells the padding.
    if (size % size_t(height) == 0) return size / size_t(height);
    return row;
}

// Whether a picture has a shape the layout encodes from.
bool encodable(Layout layout, const Picture& in) {
    const int32_t bits = shapeOf(layout).bits;
    if (in.bitsPerSample != bits) return false;
    switch (layout) {
    case Layout::Bit1:
    case Layout::GreyInv8:
    case Layout::Grey16:
        return in.components == 1;
    default:
        return in.components == 3 || in.components == 4;
    }
}

void encodeFrame(Layout layout, const Picture& in, uint8_t* dst) {
    const size_t w = size_t(in.width), h = size_t(in.height), n = w * h;
    const size_t comps = size_t(in.components);
    const size_t rowOut = size_t(rowBytesOf(layout, w));
    const uint8_t* src = in.samples.data();
    // The alpha of pixel i, 255 (or 65535) when the picture has none.
    auto alpha8 = [&](size_t i) -> uint8_t { return comps == 4 ? src[i * 4 + 3] : 255; };
    switch (layout) {
    case Layout::Bit1:
        for (size_t y = 0; y < h; ++y) {
            uint8_t* d = dst + y * rowOut;
            for (size_t x = 0; x < w; ++x)
                if (src[y * w + x] < 128) d[x >> 3] = uint8_t(d[x >> 3] | (0x80u >> (x & 7)));
        }
        break;
    case Layout::GreyInv8:
        for (size_t i = 0; i < n; ++i)
            dst[i] = uint8_t(255 - src[i]);
        break;
    case Layout::RGB555:
        for (size_t i = 0; i < n; ++i) {
            const uint8_t* p = src + i * comps;
            const unsigned v = unsigned(p[0] >> 3) << 10 | unsigned(p[1] >> 3) << 5 | unsigned(p[2] >> 3);
            dst[2 * i] = uint8_t(v >> 8);
            dst[2 * i + 1] = uint8_t(v);
        }
        break;
    case Layout::RGB24:
        for (size_t i = 0; i < n; ++i)
            std::memcpy(dst + 3 * i, src + i * comps, 3);
        break;
    case Layout::ARGB32:
        for (size_t i = 0; i < n; ++i) {
            dst[4 * i] = alpha8(i);
            std::memcpy(dst + 4 * i + 1, src + i * comps, 3);
        }
        break;
    case Layout::Planar24:
    case Layout::Planar32:
        for (size_t i = 0; i < n; ++i) {
            for (size_t c = 0; c < 3; ++c)
                dst[c * n + i] = src[i * comps + c];
            if (layout == Layout::Planar32) dst[3 * n + i] = alpha8(i);
        }
        break;
    case Layout::CMYK:
        // The inverse of the decoding: K takes what the three share, and each of C, M, Y is chosen
        // so that the decoding gives the sample back exactly.
        for (size_t i = 0; i < n; ++i) {
            const uint8_t* p = src + i * comps;
            const unsigned m = std::max({p[0], p[1], p[2]});
            uint8_t* d = dst + 4 * i;
            d[3] = uint8_t(255 - m);
            for (int c = 0; c < 3; ++c)
                d[c] = m == 0 ? 0 : uint8_t(255 - (unsigned(p[c]) * 255u + m / 2) / m);
        }
        break;
    case Layout::YCbCr422:
    case Layout::YCbCr422W: {
        const bool wide = layout == Layout::YCbCr422W;
        const VideoRange& range = wide ? kVideo16 : kVideo8;
        const double scale = wide ? 65535.0 / double((1u << in.precision) - 1u) : 1.0;
        auto sample = [&](size_t i, size_t c) -> double {
            if (!wide) return src[i * comps + c];
            uint16_t v;
            std::memcpy(&v, src + (i * comps + c) * 2, 2);
            return double(v) * scale;
        };
        auto put = [&](uint8_t*& d, double v) {
            if (wide) {
                storeLE16(d, clamp16(v));
                d += 2;
            } else {
                *d++ = clamp8(v);
            }
        };
        for (size_t y = 0; y < h; ++y) {
            uint8_t* d = dst + y * rowOut;
            for (size_t x = 0; x < w; x += 2) {
                const size_t i0 = y * w + x, i1 = x + 1 < w ? i0 + 1 : i0; // an odd row's pad repeats
                double a[3], b[3];
                toLumaChroma(sample(i0, 0), sample(i0, 1), sample(i0, 2), a);
                toLumaChroma(sample(i1, 0), sample(i1, 1), sample(i1, 2), b);
                put(d, chromaCode(range, (a[1] + b[1]) / 2.0));
                put(d, lumaCode(range, a[0]));
                put(d, chromaCode(range, (a[2] + b[2]) / 2.0));
                put(d, lumaCode(range, b[0]));
            }
        }
        break;
    }
    case Layout::Grey16:
        std::memcpy(dst, src, n * 2);
        break;
    case Layout::RGB48:
        for (size_t i = 0; i < n; ++i)
            std::memcpy(dst + 6 * i, src + i * comps * 2, 6);
        break;
    case Layout::None:
        break;
    }
}

} // namespace

bool isRawFamily(OSType cType) {
    switch (cType) {
    case kRaw:
    case kPlanar:
    case kCMYK:
    case k2vuy:
    case kV216:
    case kB16g:
    case kB48r:
        return true;
    default:
        return false;
    }
}

size_t rawFrameSize(OSType cType, int32_t depth, int32_t width, int32_t height) {
    const Layout layout = layoutOf(cType, depth);
    if (layout == Layout::None) return 0;
    const Shape shape = shapeOf(layout);
    if (!pictureFits(width, height, shape.components, shape.bits)) return 0;
    return size_t(frameBytes(layout, width, height));
}

size_t rawRowBytes(OSType cType, int32_t depth, int32_t width, int32_t height, size_t size) {
    if (rawFrameSize(cType, depth, width, height) == 0) return 0;
    return size_t(strideIn(layoutOf(cType, depth), width, height, size));
}

OSErr decodeRaw(OSType cType, int32_t depth, int32_t width, int32_t height, const uint8_t* data, size_t size,
                Picture& out) {
    out = Picture();
    const Layout layout = layoutOf(cType, depth);
    if (layout == Layout::None) return codecUnimpErr;
    const Shape shape = shapeOf(layout);
    if (!pictureFits(width, height, shape.components, shape.bits)) return codecSizeErr;
    const uint64_t stride = data ? strideIn(layout, width, height, size) : 0;
    if (stride == 0) return codecBadDataErr;
    Picture pic;
    pic.width = width;
    pic.height = height;
    pic.components = shape.components;
    pic.bitsPerSample = pic.precision = shape.bits;
    try {
        pic.samples.resize(pic.rowBytes() * size_t(height));
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
    decodeFrame(layout, width, height, data, size_t(stride), pic.samples.data());
    out = std::move(pic);
    return noErr;
}

OSErr encodeRaw(OSType cType, int32_t depth, const Picture& in, std::vector<uint8_t>& out) {
    out.clear();
    const Layout layout = layoutOf(cType, depth);
    if (layout == Layout::None) return codecUnimpErr;
    if (!in.isConsistent() || !encodable(layout, in)) return paramErr;
    try {
        // Into the storage `out` has: frames of one size allocate once.
        out.assign(size_t(frameBytes(layout, in.width, in.height)), 0);
    } catch (const std::bad_alloc&) {
        out = std::vector<uint8_t>();
        return memFullErr;
    }
    encodeFrame(layout, in, out.data());
    return noErr;
}

} // namespace platform::codec
