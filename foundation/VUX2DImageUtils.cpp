#include "VUX2DImageUtils.h"

#include "PlatformEndian.h"

#include <cmath>
#include <cstring>
#include <type_traits>

namespace VUX::VUXGraphics2D {

namespace {

uint16_t greyWord(uint32_t argb) {
    const uint32_t r = (argb >> 16) & 0xFF, g = (argb >> 8) & 0xFF, b = argb & 0xFF;
    const uint32_t grey = (r * 306 + g * 601 + b * 117) >> 10;
    return static_cast<uint16_t>(grey * 257);
}

// Truncation toward zero into 32 bits, saturating, with NaN as 0: the stretched value of a
// NaN or infinite sample has no integer of its own.
template <typename F> int32_t truncToInt32(F v) {
    if (!(v == v)) return 0;
    if (v >= static_cast<F>(2147483647.0)) return INT32_MAX;
    if (v <= static_cast<F>(-2147483648.0)) return INT32_MIN;
    return static_cast<int32_t>(v);
}

template <typename T> void scanRange(const T* p, int64_t count, T& min, T& max) {
    min = max = p[0];
    for (int64_t i = 1; i < count; ++i) {
        if (p[i] < min)
            min = p[i];
        else if (p[i] > max)
            max = p[i];
    }
}

bool linearParamsFromFloats(const float* a, const float* b, int64_t count,
                            VUXPair<VUXLinearParams, VUXLinearParams>& params) {
    float min, max;
    scanRange(a, count, min, max);
    if (!(min < max)) {
        params.left.left = params.left.right = 0.0f;
        return false;
    }
    params.left.left = 255.0f / (max - min);
    params.left.right = -(params.left.left * min);
    scanRange(b, count, min, max);
    if (!(min < max)) {
        params.right.left = params.right.right = 0.0f;
        return false;
    }
    params.right.left = 255.0f / (max - min);
    params.right.right = -(params.right.left * min);
    return true;
}

bool linearParamsFromDoubles(const double* a, const double* b, int64_t count,
                             VUXPair<VUXLinearParams, VUXLinearParams>& params) {
    const VUXRange<unsigned char> target(0, 255);
    VUXRange<double> range;
    scanRange(a, count, range.left, range.right);
    if (linearParamsFromRanges(range, target, params.left) != vuxNoErr) return false;
    scanRange(b, count, range.left, range.right);
    return linearParamsFromRanges(range, target, params.right) == vuxNoErr;
}

template <typename T, typename Op> void imageOp(T* dst, const T* a, const T* b, int64_t count, Op op) {
    if (!dst || !a || !b || count <= 0) return;
    VUXPair<VUXLinearParams, VUXLinearParams> params;
    bool ok;
    if constexpr (std::is_same_v<T, float>)
        ok = linearParamsFromFloats(a, b, count, params);
    else
        ok = linearParamsFromDoubles(a, b, count, params);
    if (!ok) return;
    const T scaleA = params.left.left, offsetA = params.left.right;
    const T scaleB = params.right.left, offsetB = params.right.right;
    for (int64_t i = 0; i < count; ++i) {
        const T va = a[i] * scaleA + offsetA;
        const T vb = b[i] * scaleB + offsetB;
        const int32_t p = truncToInt32(va);
        const int32_t q = truncToInt32(vb);
        dst[i] = static_cast<T>(op(p, q) & 255);
    }
}

} // namespace

template <> void ARGBToData<uint32_t, 1>(uint32_t argb, uint32_t*& p) {
    platform::storeBE32(p, argb);
    ++p;
}

template <> void ARGBToData<int32_t, 1>(uint32_t argb, int32_t*& p) {
    platform::storeBE32(p, argb);
    ++p;
}

template <> void ARGBToData<uint16_t, 1>(uint32_t argb, uint16_t*& p) {
    *p++ = greyWord(argb);
}

template <> void ARGBToData<int16_t, 1>(uint32_t argb, int16_t*& p) {
    const uint16_t word = greyWord(argb);
    std::memcpy(p, &word, sizeof word);
    ++p;
}

template <> void ARGBToData<uint8_t, 3>(uint32_t argb, uint8_t*& p) {
    p[0] = static_cast<uint8_t>(argb >> 16);
    p[1] = static_cast<uint8_t>(argb >> 8);
    p[2] = static_cast<uint8_t>(argb);
    p += 3;
}

template <> void ARGBToData<uint8_t, 4>(uint32_t argb, uint8_t*& p) {
    platform::storeBE32(p, argb);
    p += 4;
}

vuxErrors linearParamsFromRanges(VUXRange<double> const& from, VUXRange<unsigned char> const& to,
                                 VUXLinearParams& params) {
    if (from.left < from.right && to.right > to.left) {
        const float scale =
            static_cast<float>(to.right - to.left) / static_cast<float>(from.right - from.left);
        params.left = scale;
        params.right = -(static_cast<float>(from.left) * scale);
        return vuxNoErr;
    }
    params.defaultStatus();
    return vuxRangeErr;
}

template <typename T> void imageOp_And(T* dst, const T* a, const T* b, int64_t count) {
    imageOp(dst, a, b, count, [](int32_t p, int32_t q) { return p & q; });
}
template <typename T> void imageOp_Or(T* dst, const T* a, const T* b, int64_t count) {
    imageOp(dst, a, b, count, [](int32_t p, int32_t q) { return p | q; });
}
template <typename T> void imageOp_XOr(T* dst, const T* a, const T* b, int64_t count) {
    imageOp(dst, a, b, count, [](int32_t p, int32_t q) { return p ^ q; });
}

template <typename T> void imageOp_Not(T* dst, const T* src, int64_t count) {
    if (!dst || !src || count <= 0) return;
    using Bits = std::conditional_t<sizeof(T) == 4, uint32_t, uint64_t>;
    constexpr Bits sign = Bits(1) << (sizeof(T) * 8 - 1);
    for (int64_t i = 0; i < count; ++i) {
        Bits bits;
        std::memcpy(&bits, &src[i], sizeof bits);
        bits ^= sign;
        std::memcpy(&dst[i], &bits, sizeof bits);
    }
}

template void imageOp_And<float>(float*, const float*, const float*, int64_t);
template void imageOp_And<double>(double*, const double*, const double*, int64_t);
template void imageOp_Or<float>(float*, const float*, const float*, int64_t);
template void imageOp_Or<double>(double*, const double*, const double*, int64_t);
template void imageOp_XOr<float>(float*, const float*, const float*, int64_t);
template void imageOp_XOr<double>(double*, const double*, const double*, int64_t);
template void imageOp_Not<float>(float*, const float*, int64_t);
template void imageOp_Not<double>(double*, const double*, int64_t);

} // namespace VUX::VUXGraphics2D
