// Pixel algorithms over plain sample arrays.
#include "KelvoImageTypesAlgorithms.h"

#include "KelvoDrawingUtils.h"
#include "KelvoGraphicsDisplay.h"
#include "PlatformErrors.h"

#include <cmath>
#include <limits>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

namespace {

constexpr int32_t kBadArgument = -50;
constexpr int32_t kNoMemory = -108;
constexpr int32_t kNoSource = 79;
// The platform's notSrcCopy: in 8-bit grey where 0 is white, it shows sample 0 as black.
constexpr int32_t kInvertingMode = 4;

// A size's whole pixels; fractions, negatives, NaN and sizes past 32 bits give 0.
uint32_t wholePixels(double extent) {
    if (!(extent >= 1.0)) return 0;
    if (extent >= 4294967295.0) return 0;
    return uint32_t(extent);
}

// A single-precision value clamped into 0 .. 255 and truncated; NaN gives 0.
uint8_t clampedByte(float v) {
    if (!(v > 0.0f)) return 0;
    if (v > 255.0f) return 255;
    return uint8_t(v);
}

uint8_t clampedByte(double v) {
    if (!(v > 0.0)) return 0;
    if (v > 255.0) return 255;
    return uint8_t(v);
}

template <class T> void minMaxOf(const T* src, uint32_t count, T& lo, T& hi) {
    lo = hi = src[0];
    for (uint32_t i = 1; i < count; ++i) {
        const T x = src[i];
        if (x < lo)
            lo = x;
        else if (x > hi)
            hi = x;
    }
}

// The byte forms of a and b, each by its own range, combined byte by byte.
template <class T, class Op> void combineAsBytes(T* dst, const T* a, const T* b, uint32_t count, Op op) {
    if (!dst || !a || !b) return;
    uint8_t* bytesA = nullptr;
    uint8_t* bytesB = nullptr;
    scaleToUInt8<T>(a, bytesA, count);
    scaleToUInt8<T>(b, bytesB, count);
    if (bytesA && bytesB && count != 0)
        for (uint32_t i = 0; i < count; ++i)
            dst[i] = T(op(bytesA[i], bytesB[i]));
    delete[] bytesA;
    delete[] bytesB;
}

// Draws a record of the samples through a transform from their rectangle to itself.
int32_t drawRecord(const void* data, Kelvo_ImgDesc& desc, bool inverting, Kelvo_QDGWorldBuffer*& result) {
    Kelvo_Rect rect(int32_t(desc.qtWidth()), int32_t(desc.qtHeight()));
    Kelvo_DisplayTransform transform(rect, rect);
    if (inverting) transform.drawingMode().mode() = kInvertingMode;
    pointerDataRecordForCompression record{const_cast<void*>(data), desc.qtDataSize(), &desc};
    int32_t err = noErr;
    result = Kelvo_DrawingUtils::draw(record, &transform, err);
    // A draw that made no world has failed, whatever it said.
    if (!result && err == noErr) err = kNoMemory;
    return err;
}

// Width x height of the description, 0 when either is not positive.
uint32_t pixelCountOf(Kelvo_ImgDesc& desc) {
    const int32_t w = desc.qtWidth();
    const int32_t h = desc.qtHeight();
    if (w <= 0 || h <= 0) return 0;
    return uint32_t(w) * uint32_t(h);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Resizing

template <class T, int N>
void algZoomNearestNeighbor(T* dst, const T* src, const Kelvo_Size& srcSize, const Kelvo_Size& dstSize) {
    const uint32_t srcW = wholePixels(srcSize.width());
    const uint32_t srcH = wholePixels(srcSize.height());
    const uint32_t dstW = wholePixels(dstSize.width());
    const uint32_t dstH = wholePixels(dstSize.height());
    if (!dst || !src || dstW == 0 || dstH == 0 || srcW == 0 || srcH == 0) return;
    // Scales and positions in single precision, as the images have always been resized.
    const float srcWidth = float(srcW);
    const float xScale = srcWidth / float(dstW);
    const float yScale = float(srcH) / float(dstH);
    const uint64_t lastPixel = uint64_t(srcW) * srcH - 1;
    for (uint32_t y = 0; y < dstH; ++y) {
        const float rowBase = std::floor(float(y) * yScale) * srcWidth;
        T* out = dst + uint64_t(y) * dstW * N;
        for (uint32_t x = 0; x < dstW; ++x, out += N) {
            uint64_t at = uint64_t(std::floor(float(x) * xScale) + rowBase);
            // Rounding of the single-precision steps must never reach past the source.
            if (at > lastPixel) at = lastPixel;
            const T* in = src + at * N;
            for (int c = 0; c < N; ++c)
                out[c] = in[c];
        }
    }
}

template void algZoomNearestNeighbor<uint8_t, 1>(uint8_t*, const uint8_t*, const Kelvo_Size&,
                                                 const Kelvo_Size&);
template void algZoomNearestNeighbor<uint16_t, 1>(uint16_t*, const uint16_t*, const Kelvo_Size&,
                                                  const Kelvo_Size&);
template void algZoomNearestNeighbor<float, 1>(float*, const float*, const Kelvo_Size&, const Kelvo_Size&);
template void algZoomNearestNeighbor<uint32_t, 1>(uint32_t*, const uint32_t*, const Kelvo_Size&,
                                                  const Kelvo_Size&);
template void algZoomNearestNeighbor<uint8_t, 3>(uint8_t*, const uint8_t*, const Kelvo_Size&,
                                                 const Kelvo_Size&);
template void algZoomNearestNeighbor<uint8_t, 4>(uint8_t*, const uint8_t*, const Kelvo_Size&,
                                                 const Kelvo_Size&);

// ---------------------------------------------------------------------------------------------
// One world pixel

template <class T, int N> void pixelToData(uint32_t pixel, T*& out) {
    if (!out) return;
    const uint8_t argb[4] = {uint8_t(pixel >> 24), uint8_t(pixel >> 16), uint8_t(pixel >> 8), uint8_t(pixel)};
    if constexpr (sizeof(T) == 4 && N == 1) {
        std::memcpy(out, argb, 4);
    } else if constexpr (sizeof(T) == 2 && N == 1) {
        *out = T(Kelvo_GreyOfPixel(pixel) * 257u);
    } else if constexpr (N == 3) {
        out[0] = argb[1], out[1] = argb[2], out[2] = argb[3];
    } else {
        static_assert(N == 4);
        out[0] = argb[0], out[1] = argb[1], out[2] = argb[2], out[3] = argb[3];
    }
    out += N;
}

template void pixelToData<uint32_t, 1>(uint32_t, uint32_t*&);
template void pixelToData<int32_t, 1>(uint32_t, int32_t*&);
template void pixelToData<uint16_t, 1>(uint32_t, uint16_t*&);
template void pixelToData<int16_t, 1>(uint32_t, int16_t*&);
template void pixelToData<uint8_t, 3>(uint32_t, uint8_t*&);
template void pixelToData<uint8_t, 4>(uint32_t, uint8_t*&);

// ---------------------------------------------------------------------------------------------
// Stretching to bytes

template <class T> int32_t scaleToUInt8(const T* src, uint8_t*& out, T min, T max, uint32_t count) {
    out = nullptr;
    if (!src || count == 0) return kBadArgument;
    out = new (std::nothrow) uint8_t[count]();
    if (!out) return kNoMemory;
    if (max == min) return noErr;
    if constexpr (std::is_same_v<T, uint16_t>) {
        const float factor = 255.0f / float(int32_t(max) - int32_t(min));
        const float offset = float(min) * factor;
        for (uint32_t i = 0; i < count; ++i) {
            const float v = float(src[i]) * factor - offset;
            // Truncated first; anything from 256 up is white.
            if (!(v >= 1.0f))
                out[i] = 0;
            else if (v >= 256.0f)
                out[i] = 255;
            else
                out[i] = uint8_t(v);
        }
    } else if constexpr (std::is_same_v<T, float>) {
        if (!std::isfinite(max - min) && std::isfinite(double(max) - double(min))) {
            // A span wider than the largest float: in double, where it fits.
            const double factor = 255.0 / (double(max) - double(min));
            const double offset = double(min) * factor;
            for (uint32_t i = 0; i < count; ++i)
                out[i] = clampedByte(double(src[i]) * factor - offset);
            return noErr;
        }
        const float factor = 255.0f / (max - min);
        const float offset = min * factor;
        for (uint32_t i = 0; i < count; ++i)
            out[i] = clampedByte(src[i] * factor - offset);
    } else {
        static_assert(std::is_same_v<T, double>);
        const float factor = float(255.0 / (max - min));
        const float offset = float(min) * factor;
        for (uint32_t i = 0; i < count; ++i)
            out[i] = clampedByte(src[i] * double(factor) - double(offset));
    }
    return noErr;
}

template <class T> int32_t scaleToUInt8(const T* src, uint8_t*& out, uint32_t count) {
    out = nullptr;
    if (!src || count == 0) return kBadArgument;
    T lo, hi;
    minMaxOf(src, count, lo, hi);
    return scaleToUInt8<T>(src, out, lo, hi, count);
}

template int32_t scaleToUInt8<float>(const float*, uint8_t*&, float, float, uint32_t);
template int32_t scaleToUInt8<double>(const double*, uint8_t*&, double, double, uint32_t);
template int32_t scaleToUInt8<uint16_t>(const uint16_t*, uint8_t*&, uint16_t, uint16_t, uint32_t);
template int32_t scaleToUInt8<float>(const float*, uint8_t*&, uint32_t);
template int32_t scaleToUInt8<double>(const double*, uint8_t*&, uint32_t);

// ---------------------------------------------------------------------------------------------
// Range normalisation

template <class S, class D>
int32_t normalizeDataT(const S* src, D* dst, S& srcMin, S& srcMax, D& low, D& high, uint32_t count) {
    if (!src || !dst || count == 0) return kBadArgument;
    if (low > high) std::swap(low, high);
    if (srcMin > srcMax) std::swap(srcMin, srcMax);
    if (srcMax == srcMin || high == low) {
        for (uint32_t i = 0; i < count; ++i)
            dst[i] = low;
        return noErr;
    }
    if constexpr (std::is_integral_v<S> && std::is_integral_v<D>) {
        // In 64 bits: a 16-bit span times a 16-bit span does not fit 32.
        const int64_t span = int64_t(high) - int64_t(low);
        const int64_t srcSpan = int64_t(srcMax) - int64_t(srcMin);
        for (uint32_t i = 0; i < count; ++i) {
            int64_t v = (int64_t(src[i]) - int64_t(srcMin)) * span / srcSpan + int64_t(low);
            if (v < int64_t(low)) v = int64_t(low);
            if (v > int64_t(high)) v = int64_t(high);
            dst[i] = D(v);
        }
    } else {
        const float fLow = float(low);
        const float fHigh = float(high);
        const float span = fHigh - fLow;
        const float srcSpan = float(srcMax) - float(srcMin);
        // Spans whose product (or either span) leaves the float range are worked in double, where
        // they fit; everything else keeps its single-precision result.
        const double dSpan = double(fHigh) - double(fLow);
        const double dSrcSpan = double(srcMax) - double(srcMin);
        constexpr double kFloatMax = double(std::numeric_limits<float>::max());
        if (dSpan > kFloatMax || dSrcSpan > kFloatMax || dSpan * dSrcSpan > kFloatMax) {
            for (uint32_t i = 0; i < count; ++i) {
                double v = (double(src[i]) - double(srcMin)) * dSpan / dSrcSpan + double(fLow);
                if (v < double(fLow)) v = double(fLow);
                if (v > double(fHigh)) v = double(fHigh);
                if constexpr (std::is_integral_v<D>)
                    dst[i] = (v >= double(fLow) && v <= double(fHigh)) ? D(v) : low;
                else
                    dst[i] = (v >= double(fLow) && v <= double(fHigh)) ? D(v) : D(fLow);
            }
            return noErr;
        }
        for (uint32_t i = 0; i < count; ++i) {
            float v = (float(src[i]) - float(srcMin)) * span / srcSpan + fLow;
            if (v < fLow) v = fLow;
            if (v > fHigh) v = fHigh;
            if constexpr (std::is_integral_v<D>) {
                // NaN stays low: it cannot reach the integer conversion.
                dst[i] = (v >= fLow && v <= fHigh) ? D(v) : low;
            } else {
                dst[i] = D(v);
            }
        }
    }
    return noErr;
}

template <class S, class D> int32_t normalizeDataT(const S* src, D* dst, D& low, D& high, uint32_t count) {
    if (!src || count == 0) return kBadArgument;
    S lo, hi;
    minMaxOf(src, count, lo, hi);
    return normalizeDataT<S, D>(src, dst, lo, hi, low, high, count);
}

template int32_t normalizeDataT<uint8_t, uint8_t>(const uint8_t*, uint8_t*, uint8_t&, uint8_t&, uint8_t&,
                                                  uint8_t&, uint32_t);
template int32_t normalizeDataT<uint16_t, uint16_t>(const uint16_t*, uint16_t*, uint16_t&, uint16_t&,
                                                    uint16_t&, uint16_t&, uint32_t);
template int32_t normalizeDataT<float, float>(const float*, float*, float&, float&, float&, float&, uint32_t);
template int32_t normalizeDataT<float, uint8_t>(const float*, uint8_t*, float&, float&, uint8_t&, uint8_t&,
                                                uint32_t);
template int32_t normalizeDataT<uint8_t, uint8_t>(const uint8_t*, uint8_t*, uint8_t&, uint8_t&, uint32_t);
template int32_t normalizeDataT<uint16_t, uint16_t>(const uint16_t*, uint16_t*, uint16_t&, uint16_t&,
                                                    uint32_t);
template int32_t normalizeDataT<float, float>(const float*, float*, float&, float&, uint32_t);

// ---------------------------------------------------------------------------------------------
// Combinations

template <class T> void imageOp_And(T* dst, const T* a, const T* b, uint32_t count) {
    combineAsBytes(dst, a, b, count, [](uint8_t x, uint8_t y) { return uint8_t(x & y); });
}
template <class T> void imageOp_Or(T* dst, const T* a, const T* b, uint32_t count) {
    combineAsBytes(dst, a, b, count, [](uint8_t x, uint8_t y) { return uint8_t(x | y); });
}
template <class T> void imageOp_XOr(T* dst, const T* a, const T* b, uint32_t count) {
    combineAsBytes(dst, a, b, count, [](uint8_t x, uint8_t y) { return uint8_t(x ^ y); });
}
template <class T> void imageOp_Not(T* dst, const T* src, uint32_t count) {
    if (!dst || !src) return;
    for (uint32_t i = 0; i < count; ++i)
        dst[i] = -src[i];
}

template void imageOp_And<float>(float*, const float*, const float*, uint32_t);
template void imageOp_And<double>(double*, const double*, const double*, uint32_t);
template void imageOp_Or<float>(float*, const float*, const float*, uint32_t);
template void imageOp_Or<double>(double*, const double*, const double*, uint32_t);
template void imageOp_XOr<float>(float*, const float*, const float*, uint32_t);
template void imageOp_XOr<double>(double*, const double*, const double*, uint32_t);
template void imageOp_Not<float>(float*, const float*, uint32_t);
template void imageOp_Not<double>(double*, const double*, uint32_t);

// ---------------------------------------------------------------------------------------------
// Drawing sample arrays

template <>
int32_t qdContextFromData<uint8_t>(const uint8_t* data, Kelvo_QDGWorldBuffer*& result, Kelvo_ImgDesc& desc,
                                   uint8_t monochrome) {
    result = nullptr;
    if (!data) return kNoSource;
    return drawRecord(data, desc, monochrome != 0, result);
}

template <>
int32_t qdContextFromData<uint16_t>(const uint16_t* data, Kelvo_QDGWorldBuffer*& result, Kelvo_ImgDesc& desc,
                                    uint8_t) {
    result = nullptr;
    if (!data) return kNoSource;
    const uint32_t count = pixelCountOf(desc);
    if (count == 0) return kBadArgument;
    uint16_t lo, hi;
    minMaxOf(data, count, lo, hi);
    // Samples beyond 12 bits are drawn as the 16-bit grey they are.
    if (hi > 4095) return drawRecord(data, desc, false, result);
    uint8_t* bytes = nullptr;
    const int32_t stretched = scaleToUInt8<uint16_t>(data, bytes, lo, hi, count);
    if (!bytes) return stretched;
    desc.dataFormat(FOUR_CHAR_CODE("raw "));
    desc.qtDepth(40);
    desc.qtDataSize(int32_t(count));
    const int32_t err = drawRecord(bytes, desc, true, result);
    delete[] bytes;
    return err;
}

namespace {

template <class T> int32_t drawFloating(const T* data, Kelvo_QDGWorldBuffer*& result, Kelvo_ImgDesc& desc) {
    result = nullptr;
    if (!data) return kNoSource;
    uint8_t* bytes = nullptr;
    const int32_t stretched = scaleToUInt8<T>(data, bytes, pixelCountOf(desc));
    if (!bytes) return stretched;
    desc.qtDepth(40);
    desc.qtDataSize(int32_t(pixelCountOf(desc)));
    const int32_t err = qdContextFromData<uint8_t>(bytes, result, desc, 1);
    delete[] bytes;
    return err;
}

} // namespace

template <>
int32_t qdContextFromData<float>(const float* data, Kelvo_QDGWorldBuffer*& result, Kelvo_ImgDesc& desc,
                                 uint8_t) {
    return drawFloating(data, result, desc);
}

template <>
int32_t qdContextFromData<double>(const double* data, Kelvo_QDGWorldBuffer*& result, Kelvo_ImgDesc& desc,
                                  uint8_t) {
    return drawFloating(data, result, desc);
}
