#include "PlatformBlitter.h"

#include "PlatformFixed.h"
#include "PlatformPictures.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

namespace {

using platform::ARGB16;
using platform::BlitSurface;
using platform::PixelLayout;
using platform::PixelRaster;

constexpr int16_t kSrcCopy = 0, kNotSrcCopy = 4, kDitherCopy = 64;

struct Box {
    int32_t left, top, right, bottom;
    bool empty() const { return right <= left || bottom <= top; }
};

Box intersect(const Box& a, const Box& b) {
    return Box{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
               std::min(a.bottom, b.bottom)};
}

Box boxOf(const Rect& r) {
    return Box{r.left, r.top, r.right, r.bottom};
}

// The surface's pixels in its own coordinates, the far edges held to the 32-bit range.
Box extentOf(const BlitSurface& s) {
    const int64_t right = int64_t(s.left) + s.raster.width, bottom = int64_t(s.top) + s.raster.height;
    return Box{s.left, s.top, int32_t(std::min<int64_t>(right, INT32_MAX)),
               int32_t(std::min<int64_t>(bottom, INT32_MAX))};
}

int64_t floorDiv(int64_t a, int64_t b) { // b > 0
    const int64_t q = a / b;
    return (a % b != 0 && a < 0) ? q - 1 : q;
}

// A double clamped into [lo, hi] and taken to an integer (NaN gives lo).
int32_t clampToInt(double v, int32_t lo, int32_t hi) {
    if (!(v > double(lo))) return lo;
    if (v >= double(hi)) return hi;
    return int32_t(v);
}

// One axis of a mapping without rotation or skew: destination coordinate d takes source
// coordinate floor(((2d + 1) * p - q) / r) + s, the exact image of the pixel's centre.
struct AxisMap {
    int64_t p, q, r, s;
    int64_t operator()(int64_t d) const { return floorDiv((2 * d + 1) * p - q, r) + s; }
};

// The source index (from the raster's first pixel) of each destination coordinate in [from, to),
// -1 where the centre maps outside [lo, hi). The valid entries form one interval, returned in
// [*first, *last).
bool axisTable(const AxisMap& map, int32_t from, int32_t to, int32_t lo, int32_t hi, int32_t origin,
               std::vector<int32_t>& table, int32_t* first, int32_t* last) {
    try {
        table.assign(size_t(std::max(0, to - from)), -1);
    } catch (const std::bad_alloc&) {
        return false;
    }
    *first = to, *last = from;
    for (int32_t d = from; d < to; ++d) {
        const int64_t s = map(d);
        if (s < lo || s >= hi) continue;
        table[size_t(d - from)] = int32_t(s - origin);
        *first = std::min(*first, d);
        *last = std::max(*last, d + 1);
    }
    return true;
}

bool isPacked(const platform::PixelFormatInfo& info) {
    return info.bitsPerPixel % 8 == 0 && info.layout != PixelLayout::YCbCr422 &&
           info.layout != PixelLayout::YCbCr422Wide && info.layout != PixelLayout::PlanarRGB;
}

bool defaultColours(const PixelRaster& r) {
    return !r.colors || r.colorCount <= 0;
}

// Whether the two rasters hold the same kind of pixels, whole bytes each, so that bytes copy as
// they are.
bool sameBytes(const PixelRaster& a, const PixelRaster& b) {
    if (a.info != b.info || !isPacked(*a.info)) return false;
    if (a.info->layout != PixelLayout::Indexed) return true;
    if (defaultColours(a) || defaultColours(b)) return defaultColours(a) && defaultColours(b);
    return a.colorCount == b.colorCount &&
           std::memcmp(a.colors, b.colors, sizeof(ColorSpec) * size_t(a.colorCount)) == 0;
}

bool overlaps(const PixelRaster& a, const PixelRaster& b) {
    const uint8_t* aEnd = a.base + ptrdiff_t(a.height) * a.rowBytes;
    const uint8_t* bEnd = b.base + ptrdiff_t(b.height) * b.rowBytes;
    return a.base < bEnd && b.base < aEnd;
}

uint8_t* rowOf(const PixelRaster& r, int32_t y) {
    return r.base + ptrdiff_t(y) * r.rowBytes;
}

uint16_t k16(uint8_t v) {
    return uint16_t(v * 257u);
}

// What convertPixels does to a pixel between reading and writing.
void prepare(ARGB16* p, size_t n, bool deep, bool invert) {
    if (deep && !invert) return;
    using platform::to8;
    for (size_t i = 0; i < n; ++i) {
        ARGB16& v = p[i];
        if (!deep) v = ARGB16{k16(to8(v.a)), k16(to8(v.r)), k16(to8(v.g)), k16(to8(v.b))};
        if (invert) v.r = uint16_t(~v.r), v.g = uint16_t(~v.g), v.b = uint16_t(~v.b);
    }
}

// Draws rows of an axis-aligned mapping: each destination row of a piece takes one source row
// and each destination column one source column, both looked up in precomputed tables.
class RowDrawer {
  public:
    RowDrawer(const PixelRaster& src, const PixelRaster& dst, bool invert)
        : _src(src), _dst(dst), _invert(invert), _deep(src.info->deep && dst.info->deep) {
        _dstBytes = dst.info->bitsPerPixel / 8;
        if (sameBytes(src, dst) && !invert) {
            _kind = Kind::Bytes;
        } else if (isPacked(*dst.info) && src.info->bitsPerPixel == 8 &&
                   (src.info->layout == PixelLayout::GreyInverted8 ||
                    src.info->layout == PixelLayout::Indexed)) {
            _kind = Kind::Table;
        }
        _rowsRepeat = isPacked(*dst.info);
        if (_kind == Kind::Engine && dst.info->layout == PixelLayout::ARGB32) chooseSwizzle(src.info->layout);
    }

    // Builds what the drawing needs; false when memory runs out.
    bool prepareTable() {
        if (_kind != Kind::Table) return true;
        // Every byte value through the engine once: the table is the engine's own answer.
        uint8_t values[256];
        for (int i = 0; i < 256; ++i)
            values[i] = uint8_t(i);
        try {
            _table.assign(size_t(256) * size_t(_dstBytes), 0);
        } catch (const std::bad_alloc&) {
            return false;
        }
        PixelRaster from = _src, to = _dst;
        from.base = values, from.rowBytes = 256, from.width = 256, from.height = 1;
        to.base = _table.data(), to.rowBytes = 256 * _dstBytes, to.width = 256, to.height = 1;
        if (!platform::convertPixels(from, 0, 0, to, 0, 0, 256, 1, _invert)) return false;
        if (_dstBytes == 4) std::memcpy(_table32, _table.data(), sizeof _table32);
        return true;
    }

    // Destination row y, columns [x0, x1), from source row sy; cols[x - x0] is the source column.
    bool draw(int32_t y, int32_t x0, int32_t x1, int32_t sy, const int32_t* cols) {
        const int32_t w = x1 - x0;
        uint8_t* out = rowOf(_dst, y);
        if (_rowsRepeat && sy == _lastSy && x0 == _lastX0 && x1 == _lastX1 && _lastY >= 0) {
            // Scaled up: the row is the one drawn just before.
            std::memcpy(out + ptrdiff_t(x0) * _dstBytes, rowOf(_dst, _lastY) + ptrdiff_t(x0) * _dstBytes,
                        size_t(w) * size_t(_dstBytes));
            _lastY = y;
            return true;
        }
        const uint8_t* in = rowOf(_src, sy);
        const bool unit = cols[w - 1] - cols[0] == w - 1 && (w == 1 || cols[1] == cols[0] + 1);
        switch (_kind) {
        case Kind::Bytes:
            if (unit) {
                std::memcpy(out + ptrdiff_t(x0) * _dstBytes, in + ptrdiff_t(cols[0]) * _dstBytes,
                            size_t(w) * size_t(_dstBytes));
            } else {
                gather(out + ptrdiff_t(x0) * _dstBytes, in, cols, w);
            }
            break;
        case Kind::Table:
            if (unit && _dstBytes == 4)
                lookUpRun(out + ptrdiff_t(x0) * 4, in + cols[0], w);
            else
                lookUp(out + ptrdiff_t(x0) * _dstBytes, in, cols, w);
            break;
        case Kind::Swizzle:
            swizzle(out + ptrdiff_t(x0) * 4, in, cols, w, unit);
            break;
        case Kind::Engine:
            if (!convert(y, x0, w, in, sy, cols)) return false;
            break;
        }
        _lastSy = sy, _lastX0 = x0, _lastX1 = x1, _lastY = y;
        return true;
    }

    // A new piece: rows are not repeated across pieces.
    void newPiece() { _lastY = -1, _lineSy = -1; }

  private:
    enum class Kind { Bytes, Table, Swizzle, Engine };

    // Byte sources of 24 and 32 bits into A, R, G, B: each sample where it lies in the source
    // pixel (alpha 255 where there is none), inverted for notSrcCopy; what the engine gives.
    void chooseSwizzle(PixelLayout layout) {
        switch (layout) {
        case PixelLayout::RGB24:
            _offsets = {-1, 0, 1, 2}, _srcBytes = 3;
            break;
        case PixelLayout::BGR24:
            _offsets = {-1, 2, 1, 0}, _srcBytes = 3;
            break;
        case PixelLayout::ARGB32:
            _offsets = {0, 1, 2, 3}, _srcBytes = 4;
            break;
        case PixelLayout::BGRA32:
            _offsets = {3, 2, 1, 0}, _srcBytes = 4;
            break;
        case PixelLayout::ABGR32:
            _offsets = {0, 3, 2, 1}, _srcBytes = 4;
            break;
        case PixelLayout::RGBA32:
            _offsets = {3, 0, 1, 2}, _srcBytes = 4;
            break;
        default:
            return;
        }
        _kind = Kind::Swizzle;
    }

    void swizzle(uint8_t* out, const uint8_t* in, const int32_t* cols, int32_t w, bool unit) const {
        const int a = _offsets[0], r = _offsets[1], g = _offsets[2], b = _offsets[3];
        const uint8_t flip = _invert ? 0xFF : 0x00;
        const ptrdiff_t step = _srcBytes;
        const uint8_t* p = in + ptrdiff_t(cols[0]) * step;
        for (int32_t i = 0; i < w; ++i, out += 4) {
            if (!unit) p = in + ptrdiff_t(cols[i]) * step;
            out[0] = a < 0 ? uint8_t(255) : p[a];
            out[1] = uint8_t(p[r] ^ flip);
            out[2] = uint8_t(p[g] ^ flip);
            out[3] = uint8_t(p[b] ^ flip);
            if (unit) p += step;
        }
    }

    void gather(uint8_t* out, const uint8_t* in, const int32_t* cols, int32_t w) const {
        switch (_dstBytes) {
        case 1:
            for (int32_t i = 0; i < w; ++i)
                out[i] = in[cols[i]];
            break;
        case 4:
            for (int32_t i = 0; i < w; ++i)
                std::memcpy(out + 4 * ptrdiff_t(i), in + 4 * ptrdiff_t(cols[i]), 4);
            break;
        default:
            for (int32_t i = 0; i < w; ++i)
                std::memcpy(out + ptrdiff_t(i) * _dstBytes, in + ptrdiff_t(cols[i]) * _dstBytes,
                            size_t(_dstBytes));
            break;
        }
    }

    // Source pixels side by side, four bytes out for each: the commonest drawing of frames.
    void lookUpRun(uint8_t* out, const uint8_t* in, int32_t w) const {
        int32_t i = 0;
        for (; i + 4 <= w; i += 4) {
            const uint32_t four[4] = {_table32[in[i]], _table32[in[i + 1]], _table32[in[i + 2]],
                                      _table32[in[i + 3]]};
            std::memcpy(out + 4 * ptrdiff_t(i), four, 16);
        }
        for (; i < w; ++i)
            std::memcpy(out + 4 * ptrdiff_t(i), &_table32[in[i]], 4);
    }

    void lookUp(uint8_t* out, const uint8_t* in, const int32_t* cols, int32_t w) const {
        const uint8_t* table = _table.data();
        if (_dstBytes == 4) {
            for (int32_t i = 0; i < w; ++i)
                std::memcpy(out + 4 * ptrdiff_t(i), &_table32[in[cols[i]]], 4);
        } else {
            for (int32_t i = 0; i < w; ++i)
                std::memcpy(out + ptrdiff_t(i) * _dstBytes, table + size_t(in[cols[i]]) * size_t(_dstBytes),
                            size_t(_dstBytes));
        }
    }

    // Through the engine: the source columns the row uses are read once, then picked.
    bool convert(int32_t y, int32_t x0, int32_t w, const uint8_t*, int32_t sy, const int32_t* cols) {
        const int32_t lo = std::min(cols[0], cols[w - 1]), hi = std::max(cols[0], cols[w - 1]);
        try {
            if (_line.size() < size_t(hi - lo + 1)) _line.resize(size_t(hi - lo + 1));
            if (_out.size() < size_t(w)) _out.resize(size_t(w));
        } catch (const std::bad_alloc&) {
            return false;
        }
        if (sy != _lineSy || lo != _lineLo || hi != _lineHi) {
            platform::readPixels(_src, lo, sy, hi - lo + 1, _line.data());
            prepare(_line.data(), size_t(hi - lo + 1), _deep, _invert);
            _lineSy = sy, _lineLo = lo, _lineHi = hi;
        }
        for (int32_t i = 0; i < w; ++i)
            _out[size_t(i)] = _line[size_t(cols[i] - lo)];
        platform::writePixels(_dst, x0, y, w, _out.data(), _deep);
        return true;
    }

    const PixelRaster& _src;
    const PixelRaster& _dst;
    bool _invert, _deep;
    Kind _kind = Kind::Engine;
    int32_t _dstBytes = 0;
    bool _rowsRepeat = false;
    std::vector<uint8_t> _table;
    uint32_t _table32[256] = {};   // the table's pixels as words, when they are four bytes
    std::array<int, 4> _offsets{}; // Swizzle: where A, R, G, B lie in a source pixel (-1: none)
    int32_t _srcBytes = 0;
    std::vector<ARGB16> _line, _out;
    int32_t _lastSy = -1, _lastX0 = 0, _lastX1 = 0, _lastY = -1;
    int32_t _lineSy = -1, _lineLo = 0, _lineHi = 0;
};

// The pieces of `area` inside the clip region (the whole area without one).
bool clipPieces(const Box& area, RgnHandle clip, std::vector<Box>& pieces) {
    try {
        if (!clip) {
            pieces.push_back(area);
            return true;
        }
        for (const platform::RegionRect& m : platform::regionRects(clip)) {
            const Box piece = intersect(area, Box{m.left, m.top, m.right, m.bottom});
            if (!piece.empty()) pieces.push_back(piece);
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

double fixedValue(Fixed f) {
    return double(f) / 65536.0;
}

} // namespace

namespace platform {

namespace {

OSErr draw(const BlitSurface& srcSurface, const Rect& srcRect, const BlitSurface& dstSurface,
           const Rect& dstRect, const MatrixRecord* matrix, RgnHandle clip, int16_t mode,
           const RGBColor* opColor) {
    (void)opColor; // no blending mode is offered
    const int16_t transfer = int16_t(mode & ~kDitherCopy);
    if (transfer != kSrcCopy && transfer != kNotSrcCopy) return paramErr;
    if (!rasterIsUsable(srcSurface.raster) || !rasterIsUsable(dstSurface.raster)) return paramErr;
    if (clip && !isRegion(clip)) return paramErr;
    const bool invert = transfer == kNotSrcCopy;

    // The mapping, checked before anything is drawn.
    bool axisAligned = true;
    AxisMap mapX{}, mapY{};
    double inv[6] = {}; // general affine: source x = inv0 X + inv1 Y + inv2, y = inv3 X + inv4 Y + inv5
    const Box srcBox = boxOf(srcRect);
    if (matrix) {
        const auto& m = matrix->matrix;
        if (m[0][2] != 0 || m[1][2] != 0 || m[2][2] <= 0) return paramErr;
        if (m[0][1] == 0 && m[1][0] == 0 && m[2][2] == fract1) {
            if (m[0][0] == 0 || m[1][1] == 0) return paramErr;
            // d + 0.5 = s * A / 65536 + T / 65536, so s = ((2d + 1) * 65536 - 2T) / 2A.
            const int64_t a = m[0][0], d = m[1][1];
            mapX =
                AxisMap{a > 0 ? 65536 : -65536, (a > 0 ? 2 : -2) * int64_t(m[2][0]), 2 * (a > 0 ? a : -a), 0};
            mapY =
                AxisMap{d > 0 ? 65536 : -65536, (d > 0 ? 2 : -2) * int64_t(m[2][1]), 2 * (d > 0 ? d : -d), 0};
        } else {
            axisAligned = false;
            const double w = double(m[2][2]) / double(fract1);
            const double a = fixedValue(m[0][0]) / w, b = fixedValue(m[0][1]) / w,
                         c = fixedValue(m[1][0]) / w, d = fixedValue(m[1][1]) / w,
                         e = fixedValue(m[2][0]) / w, f = fixedValue(m[2][1]) / w;
            const double det = a * d - b * c;
            if (!(std::fabs(det) > 0.0) || !std::isfinite(det)) return paramErr;
            inv[0] = d / det, inv[1] = -c / det, inv[2] = (c * f - d * e) / det;
            inv[3] = -b / det, inv[4] = a / det, inv[5] = (b * e - a * f) / det;
            for (double v : inv)
                if (!std::isfinite(v)) return paramErr;
        }
    } else {
        const int64_t sw = int64_t(srcRect.right) - srcRect.left, sh = int64_t(srcRect.bottom) - srcRect.top;
        const int64_t dw = int64_t(dstRect.right) - dstRect.left, dh = int64_t(dstRect.bottom) - dstRect.top;
        if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0) return noErr;
        // s = sL + (d + 0.5 - dL) * sw / dw
        mapX = AxisMap{sw, 2 * dstRect.left * sw, 2 * dw, srcRect.left};
        mapY = AxisMap{sh, 2 * dstRect.top * sh, 2 * dh, srcRect.top};
    }

    // Source pixels that may be read: srcRect within the source's bounds.
    const Box readable = intersect(srcBox, extentOf(srcSurface));
    if (readable.empty()) return noErr;

    // Destination area: the destination's bounds, and dstRect or the bounding box of the image.
    Box area = extentOf(dstSurface);
    if (!matrix) {
        area = intersect(area, boxOf(dstRect));
    } else {
        const auto& m = matrix->matrix;
        const double w = double(m[2][2]) / double(fract1);
        double minX = INFINITY, minY = INFINITY, maxX = -INFINITY, maxY = -INFINITY;
        for (int corner = 0; corner < 4; ++corner) {
            const double x = corner & 1 ? readable.right : readable.left;
            const double y = corner & 2 ? readable.bottom : readable.top;
            const double X = (x * fixedValue(m[0][0]) + y * fixedValue(m[1][0]) + fixedValue(m[2][0])) / w;
            const double Y = (x * fixedValue(m[0][1]) + y * fixedValue(m[1][1]) + fixedValue(m[2][1])) / w;
            minX = std::min(minX, X), maxX = std::max(maxX, X);
            minY = std::min(minY, Y), maxY = std::max(maxY, Y);
        }
        const Box image{clampToInt(std::floor(minX), area.left, area.right),
                        clampToInt(std::floor(minY), area.top, area.bottom),
                        clampToInt(std::ceil(maxX), area.left, area.right),
                        clampToInt(std::ceil(maxY), area.top, area.bottom)};
        area = intersect(area, image);
    }
    if (area.empty()) return noErr;

    std::vector<Box> pieces;
    if (!clipPieces(area, clip, pieces)) return memFullErr;
    if (pieces.empty()) return noErr;

    // A source sharing memory with the destination is read from a copy.
    PixelRaster src = srcSurface.raster;
    const PixelRaster& dst = dstSurface.raster;
    std::vector<uint8_t> copy;
    if (overlaps(src, dst)) {
        try {
            copy.assign(src.base, src.base + ptrdiff_t(src.height) * src.rowBytes);
        } catch (const std::bad_alloc&) {
            return memFullErr;
        }
        src.base = copy.data();
    }

    if (axisAligned) {
        RowDrawer drawer(src, dst, invert);
        if (!drawer.prepareTable()) return memFullErr;
        std::vector<int32_t> cols, rows;
        int32_t cx0, cx1, cy0, cy1;
        if (!axisTable(mapX, area.left, area.right, readable.left, readable.right, srcSurface.left, cols,
                       &cx0, &cx1) ||
            !axisTable(mapY, area.top, area.bottom, readable.top, readable.bottom, srcSurface.top, rows, &cy0,
                       &cy1))
            return memFullErr;
        for (const Box& piece : pieces) {
            const Box b = intersect(piece, Box{cx0, cy0, cx1, cy1});
            if (b.empty()) continue;
            drawer.newPiece();
            const int32_t* pieceCols = cols.data() + (b.left - area.left);
            for (int32_t y = b.top; y < b.bottom; ++y)
                if (!drawer.draw(y - dstSurface.top, b.left - dstSurface.left, b.right - dstSurface.left,
                                 rows[size_t(y - area.top)], pieceCols))
                    return memFullErr;
        }
        return noErr;
    }

    // Rotation or skew: each pixel's centre is mapped back on its own, and runs of drawn pixels
    // are written together.
    const bool deep = src.info->deep && dst.info->deep;
    std::vector<ARGB16> run;
    try {
        run.resize(size_t(area.right - area.left));
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
    for (const Box& b : pieces) {
        for (int32_t y = b.top; y < b.bottom; ++y) {
            const double cy = double(y) + 0.5;
            int32_t runStart = 0, runLength = 0;
            auto flush = [&]() {
                if (runLength == 0) return;
                prepare(run.data(), size_t(runLength), deep, invert);
                writePixels(dst, runStart - dstSurface.left, y - dstSurface.top, runLength, run.data(), deep);
                runLength = 0;
            };
            for (int32_t x = b.left; x < b.right; ++x) {
                const double cx = double(x) + 0.5;
                const double sx = inv[0] * cx + inv[1] * cy + inv[2];
                const double sy = inv[3] * cx + inv[4] * cy + inv[5];
                if (!(sx >= readable.left && sx < readable.right && sy >= readable.top &&
                      sy < readable.bottom)) {
                    flush();
                    continue;
                }
                const int32_t px = clampToInt(std::floor(sx), readable.left, readable.right - 1);
                const int32_t py = clampToInt(std::floor(sy), readable.top, readable.bottom - 1);
                if (runLength == 0) runStart = x;
                readPixels(src, px - srcSurface.left, py - srcSurface.top, 1, &run[size_t(runLength)]);
                ++runLength;
            }
            flush();
        }
    }
    return noErr;
}

} // namespace

OSErr blit(const BlitSurface& srcSurface, const Rect& srcRect, const BlitSurface& dstSurface,
           const Rect& dstRect, const MatrixRecord* matrix, RgnHandle clip, int16_t mode,
           const RGBColor* opColor) {
    const OSErr err = draw(srcSurface, srcRect, dstSurface, dstRect, matrix, clip, mode, opColor);
    if (err == noErr) recordBlit(srcSurface, srcRect, dstSurface, dstRect, matrix, clip, mode, opColor);
    return err;
}

} // namespace platform
