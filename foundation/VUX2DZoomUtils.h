// Resizing of interleaved 8-bit colour images by four methods: nearest neighbour, integer
// stepping (algZoomLinear), bilinear interpolation and separable filtered resampling with a
// caller's filter. Each method works on 32-bit pixels: the <uint8_t, 4> instances take their
// bytes as 32-bit pixels, the <uint8_t, 3> ones widen R, G, B to (255, R, G, B), resize and
// narrow back. Images are rows of width pixels without gaps; pixel (x, y) is element
// y * width + x. The destination must hold dstSize.width * dstSize.height pixels.
//
// Nothing is done for a null pointer, a zero width or height, or (filtered resampling) a null
// filter or a support that is negative or not finite. No source pixel outside the image is
// ever read, whatever the sizes.
#pragma once

#include "VUXObject.h"

#include <cstdint>
#include <cstring>

namespace VUX {

namespace VUXGeometry2D {

// A size in pixels: width, then height.
template <typename T> class VUX2DSize : public VUXObject {
  public:
    VUX2DSize() : width(), height() {}
    VUX2DSize(T w, T h) : width(w), height(h) {}
    VUX2DSize(VUX2DSize const& other) : VUXObject(other), width(other.width), height(other.height) {}
    ~VUX2DSize() override = default;
    VUX2DSize& operator=(VUX2DSize const& other) {
        copy(other);
        return *this;
    }

    static const char* objectName() { return "VUX2DSize"; }
    const char* className() const override { return "VUX2DSize"; }

    T width;
    T height;

  protected:
    VUXObject* _clone() const override { return new VUX2DSize(*this); }
    bool _compare(VUXObject const& other) const override {
        auto const& o = dynamic_cast<VUX2DSize const&>(other);
        return width == o.width && height == o.height;
    }
    void _copy(VUXObject const& other) override {
        auto const& o = dynamic_cast<VUX2DSize const&>(other);
        width = o.width;
        height = o.height;
    }
};

} // namespace VUXGeometry2D

namespace VUXGraphics2D {

using VUXZoomSize = VUXGeometry2D::VUX2DSize<uint32_t>;
// The weight of a distance in source pixels.
using VUXZoomFilter = double (*)(double);

// Instances <uint32_t, 1>, <uint8_t, 4>, <uint8_t, 3>.
template <typename T, int N>
void zoomNearestNeighbor(T* dst, const T* src, VUXZoomSize const& srcSize, VUXZoomSize const& dstSize);
template <typename T, int N>
void algZoomLinear(T* dst, const T* src, VUXZoomSize const& srcSize, VUXZoomSize const& dstSize);
// Byte 0 of every destination pixel is 0 (of the 32-bit forms).
template <typename T, int N>
void algZoomBilinear(T* dst, const T* src, VUXZoomSize const& srcSize, VUXZoomSize const& dstSize);
// Instances <uint8_t, 4>, <uint8_t, 3>. `support` is the filter's radius at scale 1.
template <typename T, int N>
void algZoomFilterResampling(T* dst, const T* src, VUXZoomSize const& srcSize, VUXZoomSize const& dstSize,
                             double support, VUXZoomFilter filter);

} // namespace VUXGraphics2D

} // namespace VUX
