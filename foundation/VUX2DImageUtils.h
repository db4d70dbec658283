// Stateless pixel helpers of the foundation: packing one ARGB value into pixels of other
// formats, the linear mapping that stretches a value range onto 0..255, and the logical
// operations AND, OR, XOR and NOT on floating-point images (the two operands of AND, OR and XOR
// are each stretched onto 0..255 first). An image is a run of `count` elements.
#pragma once

#include "VUXObject.h"
#include "VUXRawData.h"

#include <cstdint>

namespace VUX::VUXGraphics2D {

// Linear mapping parameters: left is the scale, right the offset (v maps to v * scale + offset).
using VUXLinearParams = VUXPair<float, float>;

// Writes one pixel of `argb` (alpha in bits 24-31, then red, green, blue) at `p` and moves `p`
// past it. Instances: <uint32_t, 1> and <int32_t, 1> (the value big-endian: bytes A, R, G, B),
// <uint16_t, 1> and <int16_t, 1> (grey (R*306 + G*601 + B*117) >> 10, stored as grey * 257),
// <uint8_t, 3> (R, G, B) and <uint8_t, 4> (A, R, G, B).
template <typename T, int N> void ARGBToData(uint32_t argb, T*& p);
template <> void ARGBToData<uint32_t, 1>(uint32_t argb, uint32_t*& p);
template <> void ARGBToData<int32_t, 1>(uint32_t argb, int32_t*& p);
template <> void ARGBToData<uint16_t, 1>(uint32_t argb, uint16_t*& p);
template <> void ARGBToData<int16_t, 1>(uint32_t argb, int16_t*& p);
template <> void ARGBToData<uint8_t, 3>(uint32_t argb, uint8_t*& p);
template <> void ARGBToData<uint8_t, 4>(uint32_t argb, uint8_t*& p);

// Scale and offset that map `from` onto `to`: 0 when from.left < from.right and to.right >
// to.left; otherwise the pair is reset to (0, 0) and the result is 1.
vuxErrors linearParamsFromRanges(VUXRange<double> const& from, VUXRange<unsigned char> const& to,
                                 VUXLinearParams& params);

// dst[i] = (stretched a[i] OP stretched b[i]) & 255. Nothing is written when a pointer is null,
// the count is not positive or either operand is constant. Instances for float and double.
template <typename T> void imageOp_And(T* dst, const T* a, const T* b, int64_t count);
template <typename T> void imageOp_Or(T* dst, const T* a, const T* b, int64_t count);
template <typename T> void imageOp_XOr(T* dst, const T* a, const T* b, int64_t count);
// dst[i] = src[i] with its sign bit inverted (0 becomes -0, a NaN keeps its payload).
template <typename T> void imageOp_Not(T* dst, const T* src, int64_t count);

} // namespace VUX::VUXGraphics2D
