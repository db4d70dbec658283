// Pixel algorithms over plain sample arrays, shared by the 2D image template and the image
// classes: nearest-neighbour resizing, unpacking one 32-bit world pixel, stretching samples to
// bytes, linear range normalisation, bitwise and arithmetic combinations of floating samples, and
// drawing a sample array into a new offscreen world through its image description.
//
// They keep no state, allocate only the outputs they document and report through a status (0 on
// success). Each family exists for the sample types listed with it.
#pragma once

#include "KelvoCoreGraphics.h"
#include "KelvoCoreVideoDataDescriptors.h"
#include "KelvoVideo.h"

#include <cstdint>

// Resizes an image of N samples a pixel from `srcSize` to `dstSize`, taking for each destination
// pixel the source pixel under its top-left corner. Sizes count whole pixels (fractions are
// dropped); nothing happens for an empty destination or null arrays. Instances: <uint8_t, 1>,
// <uint16_t, 1>, <float, 1>, <uint32_t, 1>, <uint8_t, 3>, <uint8_t, 4>.
template <class T, int N>
void algZoomNearestNeighbor(T* dst, const T* src, const Kelvo_Size& srcSize, const Kelvo_Size& dstSize);

// Stores the samples of one world pixel (A << 24 | R << 16 | G << 8 | B) at `out` and moves `out`
// past them: <uint32_t, 1> and <int32_t, 1> the whole pixel with its bytes A, R, G, B in memory;
// <uint16_t, 1> and <int16_t, 1> its grey in both bytes; <uint8_t, 3> R, G, B; <uint8_t, 4>
// A, R, G, B.
template <class T, int N> void pixelToData(uint32_t pixel, T*& out);

// The grey of a world pixel: (117 B + 601 G + 306 R) >> 10.
inline uint32_t Kelvo_GreyOfPixel(uint32_t pixel) {
    return (117u * (pixel & 0xFF) + 601u * ((pixel >> 8) & 0xFF) + 306u * ((pixel >> 16) & 0xFF)) >> 10;
}

// A new array of `count` bytes in `out` (the caller deletes it with delete[]): the samples
// stretched linearly from [min, max] onto 0 .. 255, clamped; all zeros when min equals max.
// `out` is null and the status -50 for null samples or a zero count, -108 without memory.
// Instances: float, double, uint16_t. The three-argument form (float, double) stretches from
// the samples' own minimum and maximum.
template <class T> int32_t scaleToUInt8(const T* src, uint8_t*& out, T min, T max, uint32_t count);
template <class T> int32_t scaleToUInt8(const T* src, uint8_t*& out, uint32_t count);

// Maps [srcMin, srcMax] linearly onto [low, high] into `dst`, clamping. Bounds given out of order
// are swapped, in the caller's variables too; an empty source or target range fills `dst` with
// low. -50 for null arrays or a zero count. Instances (S, D): (uint8_t, uint8_t), (uint16_t,
// uint16_t), (float, float) and (float, uint8_t). The five-argument form (the first three pairs)
// maps from the source's own minimum and maximum.
template <class S, class D>
int32_t normalizeDataT(const S* src, D* dst, S& srcMin, S& srcMax, D& low, D& high, uint32_t count);
template <class S, class D> int32_t normalizeDataT(const S* src, D* dst, D& low, D& high, uint32_t count);

// dst = the bytes of a AND / OR / XOR the bytes of b, each stretched to bytes by its own range;
// nothing for a null array. imageOp_Not: dst = -src. Instances: float, double.
template <class T> void imageOp_And(T* dst, const T* a, const T* b, uint32_t count);
template <class T> void imageOp_Or(T* dst, const T* a, const T* b, uint32_t count);
template <class T> void imageOp_XOr(T* dst, const T* a, const T* b, uint32_t count);
template <class T> void imageOp_Not(T* dst, const T* src, uint32_t count);

// Draws the samples, as `desc` describes them, into a new 32-bit world buffer in `result` (the
// caller owns it; null on failure) and returns the drawing status; 79 for null samples.
// - uint8_t: drawn as they are; with `monochrome`, through the inverting transfer mode, so that
//   0 shows black in 8-bit grey where 0 is white.
// - uint16_t: samples above 4095 are drawn as they are; otherwise they are stretched to 8-bit grey
//   between their minimum and maximum first (`desc` becomes 'raw ' of depth 40).
// - float, double: stretched to 8-bit grey between their minimum and maximum, then drawn as bytes
//   with `monochrome` on (`desc` gets depth 40).
template <class T>
int32_t qdContextFromData(const T* data, Kelvo_QDGWorldBuffer*& result, Kelvo_ImgDesc& desc,
                          uint8_t monochrome);
template <>
int32_t qdContextFromData<uint8_t>(const uint8_t* data, Kelvo_QDGWorldBuffer*& result, Kelvo_ImgDesc& desc,
                                   uint8_t monochrome);
template <>
int32_t qdContextFromData<uint16_t>(const uint16_t* data, Kelvo_QDGWorldBuffer*& result, Kelvo_ImgDesc& desc,
                                    uint8_t monochrome);
template <>
int32_t qdContextFromData<float>(const float* data, Kelvo_QDGWorldBuffer*& result, Kelvo_ImgDesc& desc,
                                 uint8_t monochrome);
template <>
int32_t qdContextFromData<double>(const double* data, Kelvo_QDGWorldBuffer*& result, Kelvo_ImgDesc& desc,
                                  uint8_t monochrome);
