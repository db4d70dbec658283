#include "VUX2DZoomUtils.h"

#include "VUXContainer.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <vector>

namespace VUX::VUXGraphics2D {

namespace {

struct Extent {
    uint32_t width;
    uint32_t height;
};

// The pixel count of a size, or 0 when it is empty or too large to address.
uint64_t pixelCount(VUXZoomSize const& size) {
    const uint64_t n = uint64_t(size.width) * uint64_t(size.height);
    if (n > uint64_t(std::numeric_limits<int64_t>::max()) / 4 || n > std::numeric_limits<size_t>::max() / 4)
        return 0;
    return n;
}

bool usable(const void* dst, const void* src, VUXZoomSize const& srcSize, VUXZoomSize const& dstSize) {
    return dst && src && pixelCount(srcSize) && pixelCount(dstSize);
}

inline void copyPixel(uint8_t* dst, const uint8_t* src) {
    std::memcpy(dst, src, 4);
}

// Nearest neighbour with single-precision ratios. The source row and column are worked out
// apart and kept inside the image: single precision cannot hold every pixel index of a large
// image, so the index itself is formed in integers.
void nearestPixels(uint8_t* dst, const uint8_t* src, Extent s, Extent d) {
    const float xr = float(s.width) / float(d.width);
    const float yr = float(s.height) / float(d.height);
    for (uint32_t y = 0; y < d.height; ++y) {
        const auto sy = std::min<uint64_t>(uint64_t(std::floor(float(y) * yr)), s.height - 1);
        const uint64_t base = sy * s.width;
        uint8_t* out = dst + uint64_t(y) * d.width * 4;
        for (uint32_t x = 0; x < d.width; ++x) {
            const auto sx = std::min<uint64_t>(uint64_t(std::floor(float(x) * xr)), s.width - 1);
            copyPixel(out + uint64_t(x) * 4, src + (base + sx) * 4);
        }
    }
}

// Integer stepping: a Bresenham walk over the source that copies whole pixels.
void steppedPixels(uint8_t* dst, const uint8_t* src, Extent s, Extent d) {
    const uint64_t yStep = s.height / d.height, yRem = s.height % d.height;
    const uint64_t xStep = s.width / d.width, xRem = s.width % d.width;
    uint64_t row = 0, yErr = 0;
    uint8_t* out = dst;
    for (uint32_t y = 0; y < d.height; ++y) {
        const uint64_t rowIndex = std::min<uint64_t>(row, s.height - 1);
        uint64_t col = 0, xErr = 0;
        for (uint32_t x = 0; x < d.width; ++x) {
            const uint64_t t = xErr + xRem;
            copyPixel(out, src + (rowIndex * s.width + std::min<uint64_t>(col, s.width - 1)) * 4);
            out += 4;
            col += xStep + (t >= d.width ? 1 : 0);
            xErr = t >= d.width ? t - d.width : t;
        }
        const uint64_t t = yErr + yRem;
        row += yStep + (t >= d.height ? 1 : 0);
        yErr = t >= d.height ? t - d.height : t;
    }
}

uint8_t truncByte(float v) {
    if (!(v > 0.0f)) return 0;
    if (v >= 255.0f) return 255;
    return static_cast<uint8_t>(v);
}

// Bilinear interpolation of bytes 1 to 3; byte 0 of the result is 0.
void bilinearPixels(uint8_t* dst, const uint8_t* src, Extent s, Extent d) {
    const float xr = float(s.width - 1) / float(d.width);
    const float yr = float(s.height - 1) / float(d.height);
    for (uint32_t y = 0; y < d.height; ++y) {
        const float fy = float(y) * yr;
        const auto iy = std::min<uint64_t>(uint64_t(fy), s.height - 1);
        const float wy = fy - float(iy);
        const uint64_t iy1 = std::min<uint64_t>(iy + 1, s.height - 1);
        for (uint32_t x = 0; x < d.width; ++x) {
            const float fx = float(x) * xr;
            const auto ix = std::min<uint64_t>(uint64_t(fx), s.width - 1);
            const float wx = fx - float(ix);
            const uint64_t ix1 = std::min<uint64_t>(ix + 1, s.width - 1);
            const uint8_t* a = src + (iy * s.width + ix) * 4;
            const uint8_t* b = src + (iy * s.width + ix1) * 4;
            const uint8_t* c = src + (iy1 * s.width + ix) * 4;
            const uint8_t* e = src + (iy1 * s.width + ix1) * 4;
            uint8_t* out = dst + (uint64_t(y) * d.width + x) * 4;
            out[0] = 0;
            for (int k = 1; k < 4; ++k) {
                const float v = float(a[k]) * (1.0f - wx) * (1.0f - wy) + float(b[k]) * wx * (1.0f - wy) +
                                float(c[k]) * (1.0f - wx) * wy + float(e[k]) * (wx * wy);
                out[k] = truncByte(v);
            }
        }
    }
}

struct Contributor {
    uint32_t index;
    double weight;
};

// For each destination position along one axis, the source positions that weigh in and the sum
// of their weights.
struct Contributions {
    std::vector<Contributor> pool;
    std::vector<size_t> first; // per destination position, plus one end
    std::vector<double> sum;
};

void buildContributions(Contributions& c, uint32_t srcExtent, uint32_t dstExtent, double support,
                        VUXZoomFilter filter) {
    const double scale = double(dstExtent) / double(srcExtent);
    double radius, fscale;
    if (scale <= 1.0) {
        radius = support / scale;
        fscale = scale;
    } else {
        radius = support;
        fscale = 1.0;
    }
    c.first.assign(size_t(dstExtent) + 1, 0);
    c.sum.assign(dstExtent, 0.0);
    c.pool.clear();
    for (uint32_t x = 0; x < dstExtent; ++x) {
        c.first[x] = c.pool.size();
        const double centre = double(x) / scale;
        const double left = std::trunc(centre + 0.5 - radius);
        const double right = std::trunc(left + 2.0 * radius);
        // Only positions inside the source take part; the ends are clamped before they become
        // integers.
        const double lo = std::max(left, 0.0);
        const double hi = std::min(right, double(srcExtent) - 1.0);
        if (lo <= hi) {
            for (auto j = uint32_t(lo); j <= uint32_t(hi); ++j) {
                const double weight = filter((centre - double(j)) * fscale);
                if (weight != 0.0) {
                    c.pool.push_back({j, weight});
                    c.sum[x] += weight;
                }
            }
        }
    }
    c.first[dstExtent] = c.pool.size();
}

uint8_t normalisedByte(double acc, double sum) {
    const double v = acc / sum;
    if (!(v > 0.0)) return 0;
    if (v >= 255.0) return 255;
    return static_cast<uint8_t>(v);
}

// One pass along rows (stride 4 between pixels) or columns (stride 4 * width).
void filterPass(uint8_t* dst, const uint8_t* src, Contributions const& c, uint64_t lines, uint64_t dstExtent,
                uint64_t srcLineStride, uint64_t srcStep, uint64_t dstLineStride, uint64_t dstStep) {
    for (uint64_t line = 0; line < lines; ++line) {
        const uint8_t* in = src + line * srcLineStride;
        uint8_t* out = dst + line * dstLineStride;
        for (uint64_t x = 0; x < dstExtent; ++x) {
            uint8_t* pixel = out + x * dstStep;
            const size_t begin = c.first[x], end = c.first[x + 1];
            for (int k = 0; k < 4; ++k) {
                if (begin == end) {
                    pixel[k] = 0;
                    continue;
                }
                double acc = 0.0;
                for (size_t n = begin; n < end; ++n)
                    acc += double(in[uint64_t(c.pool[n].index) * srcStep + uint64_t(k)]) * c.pool[n].weight;
                pixel[k] = normalisedByte(acc, c.sum[x]);
            }
        }
    }
}

void filteredPixels(uint8_t* dst, const uint8_t* src, Extent s, Extent d, double support,
                    VUXZoomFilter filter) {
    try {
        Contributions horizontal, vertical;
        buildContributions(horizontal, s.width, d.width, support, filter);
        std::vector<uint8_t> temp(uint64_t(d.width) * s.height * 4);
        // Rows of the source into rows of the temporary image (dstW x srcH).
        filterPass(temp.data(), src, horizontal, s.height, d.width, uint64_t(s.width) * 4, 4,
                   uint64_t(d.width) * 4, 4);
        buildContributions(vertical, s.height, d.height, support, filter);
        // Columns of the temporary image into columns of the destination.
        filterPass(dst, temp.data(), vertical, d.width, d.height, 4, uint64_t(d.width) * 4, 4,
                   uint64_t(d.width) * 4);
    } catch (std::bad_alloc const&) {
        // Not enough memory for the working storage: nothing is drawn.
    }
}

// The <uint8_t, 3> instances: widen to (255, R, G, B), resize as 32-bit pixels, narrow back.
template <typename Resize>
void throughWidePixels(uint8_t* dst, const uint8_t* src, VUXZoomSize const& srcSize,
                       VUXZoomSize const& dstSize, Resize resize) {
    if (!usable(dst, src, srcSize, dstSize)) return;
    const uint64_t srcCount = pixelCount(srcSize), dstCount = pixelCount(dstSize);
    VUXArray<uint32_t> wideSrc(int64_t(srcCount), true);
    VUXArray<uint32_t> wideDst(int64_t(dstCount), true);
    if (!wideSrc.isValid() || !wideDst.isValid()) return;
    auto* in = reinterpret_cast<uint8_t*>(wideSrc.data());
    for (uint64_t i = 0; i < srcCount; ++i) {
        in[i * 4] = 255;
        in[i * 4 + 1] = src[i * 3];
        in[i * 4 + 2] = src[i * 3 + 1];
        in[i * 4 + 3] = src[i * 3 + 2];
    }
    auto* out = reinterpret_cast<uint8_t*>(wideDst.data());
    resize(out, in, Extent{srcSize.width, srcSize.height}, Extent{dstSize.width, dstSize.height});
    for (uint64_t i = 0; i < dstCount; ++i) {
        dst[i * 3] = out[i * 4 + 1];
        dst[i * 3 + 1] = out[i * 4 + 2];
        dst[i * 3 + 2] = out[i * 4 + 3];
    }
}

template <typename T, typename Resize>
void directPixels(T* dst, const T* src, VUXZoomSize const& srcSize, VUXZoomSize const& dstSize,
                  Resize resize) {
    if (!usable(dst, src, srcSize, dstSize)) return;
    resize(reinterpret_cast<uint8_t*>(dst), reinterpret_cast<const uint8_t*>(src),
           Extent{srcSize.width, srcSize.height}, Extent{dstSize.width, dstSize.height});
}

} // namespace

template <>
void zoomNearestNeighbor<uint32_t, 1>(uint32_t* dst, const uint32_t* src, VUXZoomSize const& srcSize,
                                      VUXZoomSize const& dstSize) {
    directPixels(dst, src, srcSize, dstSize, nearestPixels);
}
template <>
void zoomNearestNeighbor<uint8_t, 4>(uint8_t* dst, const uint8_t* src, VUXZoomSize const& srcSize,
                                     VUXZoomSize const& dstSize) {
    directPixels(dst, src, srcSize, dstSize, nearestPixels);
}
template <>
void zoomNearestNeighbor<uint8_t, 3>(uint8_t* dst, const uint8_t* src, VUXZoomSize const& srcSize,
                                     VUXZoomSize const& dstSize) {
    throughWidePixels(dst, src, srcSize, dstSize, nearestPixels);
}

template <>
void algZoomLinear<uint32_t, 1>(uint32_t* dst, const uint32_t* src, VUXZoomSize const& srcSize,
                                VUXZoomSize const& dstSize) {
    directPixels(dst, src, srcSize, dstSize, steppedPixels);
}
template <>
void algZoomLinear<uint8_t, 4>(uint8_t* dst, const uint8_t* src, VUXZoomSize const& srcSize,
                               VUXZoomSize const& dstSize) {
    directPixels(dst, src, srcSize, dstSize, steppedPixels);
}
template <>
void algZoomLinear<uint8_t, 3>(uint8_t* dst, const uint8_t* src, VUXZoomSize const& srcSize,
                               VUXZoomSize const& dstSize) {
    throughWidePixels(dst, src, srcSize, dstSize, steppedPixels);
}

template <>
void algZoomBilinear<uint32_t, 1>(uint32_t* dst, const uint32_t* src, VUXZoomSize const& srcSize,
                                  VUXZoomSize const& dstSize) {
    directPixels(dst, src, srcSize, dstSize, bilinearPixels);
}
template <>
void algZoomBilinear<uint8_t, 4>(uint8_t* dst, const uint8_t* src, VUXZoomSize const& srcSize,
                                 VUXZoomSize const& dstSize) {
    directPixels(dst, src, srcSize, dstSize, bilinearPixels);
}
template <>
void algZoomBilinear<uint8_t, 3>(uint8_t* dst, const uint8_t* src, VUXZoomSize const& srcSize,
                                 VUXZoomSize const& dstSize) {
    throughWidePixels(dst, src, srcSize, dstSize, bilinearPixels);
}

namespace {
bool usableFilter(double support, VUXZoomFilter filter) {
    return filter && std::isfinite(support) && support >= 0.0;
}
} // namespace

template <>
void algZoomFilterResampling<uint8_t, 4>(uint8_t* dst, const uint8_t* src, VUXZoomSize const& srcSize,
                                         VUXZoomSize const& dstSize, double support, VUXZoomFilter filter) {
    if (!usableFilter(support, filter)) return;
    directPixels(dst, src, srcSize, dstSize, [&](uint8_t* out, const uint8_t* in, Extent s, Extent d) {
        filteredPixels(out, in, s, d, support, filter);
    });
}
template <>
void algZoomFilterResampling<uint8_t, 3>(uint8_t* dst, const uint8_t* src, VUXZoomSize const& srcSize,
                                         VUXZoomSize const& dstSize, double support, VUXZoomFilter filter) {
    if (!usableFilter(support, filter)) return;
    throughWidePixels(dst, src, srcSize, dstSize, [&](uint8_t* out, const uint8_t* in, Extent s, Extent d) {
        filteredPixels(out, in, s, d, support, filter);
    });
}

} // namespace VUX::VUXGraphics2D
