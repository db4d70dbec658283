#include "PlatformRegions.h"

#include "PlatformEndian.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <unordered_set>

namespace {

struct Band {
    int32_t top;
    int32_t bottom;
    std::vector<int32_t> xs; // [left, right) pairs, ascending, neither overlapping nor touching
    bool operator==(const Band&) const = default;
};

using Bands = std::vector<Band>;

} // namespace

struct OpaqueRgnHandle {
    Bands bands;
};

namespace {

thread_local OSErr gQDError = noErr;

struct Registry {
    std::mutex mutex;
    std::unordered_set<RgnHandle> live;
};

Registry& registry() {
    static Registry* r = new Registry(); // lives as long as the process
    return *r;
}

bool live(RgnHandle rgn) {
    if (!rgn) return false;
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    return r.live.count(rgn) != 0;
}

OSErr setError(OSErr err) {
    return gQDError = err;
}

// Merges vertically adjacent bands with the same spans and drops empty ones.
Bands canonical(Bands in) {
    Bands out;
    out.reserve(in.size());
    for (Band& b : in) {
        if (b.xs.empty() || b.bottom <= b.top) continue;
        if (!out.empty() && out.back().bottom == b.top && out.back().xs == b.xs) {
            out.back().bottom = b.bottom;
        } else {
            out.push_back(std::move(b));
        }
    }
    return out;
}

// Appends [l, r) to ascending spans, joining it to the last span when they touch or overlap.
void appendSpan(std::vector<int32_t>& xs, int32_t l, int32_t r) {
    if (r <= l) return;
    if (!xs.empty() && xs.back() >= l) {
        xs.back() = std::max(xs.back(), r);
        return;
    }
    xs.push_back(l);
    xs.push_back(r);
}

enum class Op { Union, Diff, Sect, Xor };

bool apply(Op op, bool a, bool b) {
    switch (op) {
    case Op::Union:
        return a || b;
    case Op::Diff:
        return a && !b;
    case Op::Sect:
        return a && b;
    case Op::Xor:
        return a != b;
    }
    return false;
}

std::vector<int32_t> combineSpans(const std::vector<int32_t>& a, const std::vector<int32_t>& b, Op op) {
    std::vector<int32_t> edges;
    edges.reserve(a.size() + b.size());
    std::merge(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(edges));
    edges.erase(std::unique(edges.begin(), edges.end()), edges.end());
    std::vector<int32_t> out;
    size_t ia = 0, ib = 0;
    for (size_t i = 0; i + 1 < edges.size(); ++i) {
        int32_t x0 = edges[i], x1 = edges[i + 1];
        while (ia < a.size() && a[ia + 1] <= x0)
            ia += 2;
        while (ib < b.size() && b[ib + 1] <= x0)
            ib += 2;
        bool inA = ia < a.size() && a[ia] <= x0;
        bool inB = ib < b.size() && b[ib] <= x0;
        if (apply(op, inA, inB)) appendSpan(out, x0, x1);
    }
    return out;
}

Bands combine(const Bands& a, const Bands& b, Op op) {
    std::vector<int32_t> ys;
    for (const Band& x : a) {
        ys.push_back(x.top);
        ys.push_back(x.bottom);
    }
    for (const Band& x : b) {
        ys.push_back(x.top);
        ys.push_back(x.bottom);
    }
    std::sort(ys.begin(), ys.end());
    ys.erase(std::unique(ys.begin(), ys.end()), ys.end());
    static const std::vector<int32_t> none;
    Bands out;
    size_t ia = 0, ib = 0;
    for (size_t i = 0; i + 1 < ys.size(); ++i) {
        int32_t y0 = ys[i], y1 = ys[i + 1];
        while (ia < a.size() && a[ia].bottom <= y0)
            ++ia;
        while (ib < b.size() && b[ib].bottom <= y0)
            ++ib;
        const auto& sa = (ia < a.size() && a[ia].top <= y0) ? a[ia].xs : none;
        const auto& sb = (ib < b.size() && b[ib].top <= y0) ? b[ib].xs : none;
        std::vector<int32_t> xs = combineSpans(sa, sb, op);
        if (!xs.empty()) out.push_back(Band{y0, y1, std::move(xs)});
    }
    return canonical(std::move(out));
}

Bands rectBands(int32_t left, int32_t top, int32_t right, int32_t bottom) {
    if (right <= left || bottom <= top) return {};
    return Bands{Band{top, bottom, {left, right}}};
}

// Rows of spans (row -> spans) to bands.
Bands fromRows(std::map<int32_t, std::vector<int32_t>>& rows) {
    Bands out;
    for (auto& [y, xs] : rows) {
        if (xs.empty() || y == INT32_MAX) continue;
        out.push_back(Band{y, y + 1, std::move(xs)});
    }
    return canonical(std::move(out));
}

// The recording of an open region: line outlines and framed ovals.
struct Segment {
    int32_t x1, y1, x2, y2;
};

struct Recording {
    bool open = false;
    int32_t penH = 0;
    int32_t penV = 0;
    std::vector<Segment> segments;
    Bands ovals;
};

thread_local Recording gRecording;

int64_t floorDiv64(int64_t n, int64_t d) {
    int64_t q = n / d;
    if ((n % d != 0) && ((n < 0) != (d < 0))) --q;
    return q;
}

// A sloped outline has a band for every row it crosses; past this many rows in one recording the
// region is refused instead of exhausting memory.
constexpr int64_t kMaxOutlineRows = int64_t(1) << 24;

bool outlineBands(const std::vector<Segment>& segments, Bands& out) {
    int64_t rows = 0;
    for (const Segment& s : segments)
        rows += s.y1 < s.y2 ? int64_t(s.y2) - s.y1 : int64_t(s.y1) - s.y2;
    if (rows > kMaxOutlineRows) return false;
    std::map<int32_t, std::vector<int32_t>> crossings;
    for (const Segment& s : segments) {
        if (s.y1 == s.y2) continue;
        // Walk from the upper end so both directions of a line give the same crossings.
        int64_t xt = s.y1 < s.y2 ? s.x1 : s.x2, yt = s.y1 < s.y2 ? s.y1 : s.y2;
        int64_t xb = s.y1 < s.y2 ? s.x2 : s.x1, yb = s.y1 < s.y2 ? s.y2 : s.y1;
        int64_t dx = xb - xt, dy = yb - yt;
        for (int64_t y = yt; y < yb; ++y) {
            int64_t x = xt + floorDiv64(2 * (y - yt) * dx + dy, 2 * dy);
            crossings[int32_t(y)].push_back(int32_t(x));
        }
    }
    std::map<int32_t, std::vector<int32_t>> spanRows;
    for (auto& [y, xs] : crossings) {
        std::sort(xs.begin(), xs.end());
        std::vector<int32_t> spans;
        for (size_t i = 0; i + 1 < xs.size(); i += 2)
            appendSpan(spans, xs[i], xs[i + 1]);
        if (!spans.empty()) spanRows[y] = std::move(spans);
    }
    out = fromRows(spanRows);
    return true;
}

using i128 = __int128;

int64_t isqrt(int64_t v) {
    if (v <= 0) return 0;
    auto x = int64_t(std::sqrt(double(v)));
    while (x > 0 && x * x > v)
        --x;
    while ((x + 1) * (x + 1) <= v)
        ++x;
    return x;
}

// Pixels whose centres lie inside the ellipse inscribed in the rectangle. In half-pixel units
// about the centre, pixel (x, y) has u = 2(x - left) + 1 - W and v = 2(y - top) + 1 - H, and lies
// inside when u^2 H^2 + v^2 W^2 <= W^2 H^2.
Bands ovalBands(const Rect& r) {
    int64_t W = int64_t(r.right) - r.left, H = int64_t(r.bottom) - r.top;
    if (W <= 0 || H <= 0) return {};
    std::map<int32_t, std::vector<int32_t>> rows;
    i128 W2 = i128(W) * W, H2 = i128(H) * H;
    for (int64_t y = 0; y < H; ++y) {
        i128 v = 2 * y + 1 - H;
        i128 limit = W2 * (H2 - v * v) / H2; // u^2 <= limit
        i128 umax = isqrt(int64_t(limit));   // limit <= W^2 < 2^32
        // u has the parity of W + 1.
        if ((umax & 1) != ((W + 1) & 1)) --umax;
        if (umax < 0) continue;
        int64_t x0 = int64_t((-umax + W - 1) / 2), x1 = int64_t((umax + W - 1) / 2);
        rows[int32_t(r.top + y)] = {int32_t(r.left + x0), int32_t(r.left + x1 + 1)};
    }
    return fromRows(rows);
}

void put16(std::vector<uint8_t>& out, uint16_t v) {
    uint8_t b[2];
    std::memcpy(b, &v, 2);
    out.insert(out.end(), b, b + 2);
}
void put32(std::vector<uint8_t>& out, int32_t v) {
    put16(out, uint16_t(uint32_t(v) >> 16));
    put16(out, uint16_t(uint32_t(v)));
}

struct Reader {
    const uint8_t* p;
    size_t n;
    size_t at = 0;
    bool swapped;
    bool get16(uint16_t& v) {
        if (n - at < 2) return false;
        std::memcpy(&v, p + at, 2);
        if (swapped) v = platform::swap16(v);
        at += 2;
        return true;
    }
    bool get32(int32_t& v) {
        uint16_t hi, lo;
        if (!get16(hi) || !get16(lo)) return false;
        v = int32_t((uint32_t(hi) << 16) | lo);
        return true;
    }
};

bool parseFlat(const uint8_t* p, size_t n, bool swapped, Bands& out) {
    Reader rd{p, n, 0, swapped};
    uint16_t size, count;
    if (!rd.get16(size) || size != n || !rd.get16(count)) return false;
    Bands bands;
    for (uint16_t i = 0; i < count; ++i) {
        Band b;
        uint16_t nx;
        if (!rd.get32(b.top) || !rd.get32(b.bottom) || !rd.get16(nx)) return false;
        if (b.bottom <= b.top || nx == 0 || (nx & 1)) return false;
        if (!bands.empty() && b.top < bands.back().bottom) return false;
        if (size_t(nx) * 4 > n - rd.at) return false;
        b.xs.resize(nx);
        for (uint16_t k = 0; k < nx; ++k) {
            if (!rd.get32(b.xs[k])) return false;
            if (k > 0 && b.xs[k] <= b.xs[k - 1]) return false;
        }
        bands.push_back(std::move(b));
    }
    if (rd.at != n) return false;
    out = canonical(std::move(bands));
    return true;
}

// Runs a region operation, turning an allocation failure into memFullErr; false when it failed so.
template <class F> bool guarded(F f) {
    try {
        f();
        return true;
    } catch (const std::bad_alloc&) {
        setError(memFullErr);
        return false;
    }
}

} // namespace

OSErr QDError() {
    return gQDError;
}

RgnHandle NewRgn() {
    Ptr block = NewPtr(Size(sizeof(OpaqueRgnHandle)));
    if (!block) {
        setError(memFullErr);
        return nullptr;
    }
    RgnHandle rgn = new (block) OpaqueRgnHandle();
    bool ok = true;
    try {
        Registry& r = registry();
        std::lock_guard<std::mutex> lock(r.mutex);
        r.live.insert(rgn);
    } catch (const std::bad_alloc&) {
        ok = false;
    }
    if (!ok) {
        rgn->~OpaqueRgnHandle();
        DisposePtr(block);
        setError(memFullErr);
        return nullptr;
    }
    setError(noErr);
    return rgn;
}

void DisposeRgn(RgnHandle rgn) {
    if (!rgn) return;
    {
        Registry& r = registry();
        std::lock_guard<std::mutex> lock(r.mutex);
        if (!r.live.erase(rgn)) {
            setError(paramErr);
            return;
        }
    }
    rgn->~OpaqueRgnHandle();
    DisposePtr(reinterpret_cast<Ptr>(rgn));
    setError(noErr);
}

void CopyRgn(RgnHandle src, RgnHandle dst) {
    if (!live(src) || !live(dst)) {
        setError(paramErr);
        return;
    }
    guarded([&] {
        if (src != dst) dst->bands = src->bands;
        setError(noErr);
    });
}

void SetEmptyRgn(RgnHandle rgn) {
    if (!live(rgn)) {
        setError(paramErr);
        return;
    }
    rgn->bands.clear();
    setError(noErr);
}

void SetRectRgn(RgnHandle rgn, int32_t left, int32_t top, int32_t right, int32_t bottom) {
    if (!live(rgn)) {
        setError(paramErr);
        return;
    }
    guarded([&] {
        rgn->bands = rectBands(left, top, right, bottom);
        setError(noErr);
    });
}

void RectRgn(RgnHandle rgn, const Rect* r) {
    if (!r) {
        setError(paramErr);
        return;
    }
    SetRectRgn(rgn, r->left, r->top, r->right, r->bottom);
}

void OffsetRgn(RgnHandle rgn, int32_t dh, int32_t dv) {
    if (!live(rgn)) {
        setError(paramErr);
        return;
    }
    for (const Band& b : rgn->bands) {
        int32_t t;
        bool bad = __builtin_add_overflow(b.top, dv, &t) || __builtin_add_overflow(b.bottom, dv, &t) ||
                   __builtin_add_overflow(b.xs.front(), dh, &t) ||
                   __builtin_add_overflow(b.xs.back(), dh, &t);
        if (bad) {
            setError(rgnOverflowErr);
            return;
        }
    }
    for (Band& b : rgn->bands) {
        b.top += dv;
        b.bottom += dv;
        for (int32_t& x : b.xs)
            x += dh;
    }
    setError(noErr);
}

static void binary(RgnHandle a, RgnHandle b, RgnHandle dst, Op op) {
    if (!live(a) || !live(b) || !live(dst)) {
        setError(paramErr);
        return;
    }
    guarded([&] {
        dst->bands = combine(a->bands, b->bands, op);
        setError(noErr);
    });
}

void UnionRgn(RgnHandle a, RgnHandle b, RgnHandle dst) {
    binary(a, b, dst, Op::Union);
}
void DiffRgn(RgnHandle a, RgnHandle b, RgnHandle dst) {
    binary(a, b, dst, Op::Diff);
}
void SectRgn(RgnHandle a, RgnHandle b, RgnHandle dst) {
    binary(a, b, dst, Op::Sect);
}
void XorRgn(RgnHandle a, RgnHandle b, RgnHandle dst) {
    binary(a, b, dst, Op::Xor);
}

Boolean EqualRgn(RgnHandle a, RgnHandle b) {
    if (!live(a) || !live(b)) {
        setError(paramErr);
        return false;
    }
    setError(noErr);
    return a->bands == b->bands;
}

Boolean EmptyRgn(RgnHandle rgn) {
    if (!live(rgn)) {
        setError(paramErr);
        return true;
    }
    setError(noErr);
    return rgn->bands.empty();
}

Boolean PtInRgn(Point pt, RgnHandle rgn) {
    return platform::regionContains(rgn, pt.h, pt.v);
}

Rect* GetRegionBounds(RgnHandle rgn, Rect* bounds) {
    if (!bounds) {
        setError(paramErr);
        return bounds;
    }
    std::memset(bounds, 0, sizeof *bounds);
    if (!live(rgn)) {
        setError(paramErr);
        return bounds;
    }
    setError(noErr);
    if (rgn->bands.empty()) return bounds;
    int32_t l = INT32_MAX, r = INT32_MIN;
    for (const Band& b : rgn->bands) {
        l = std::min(l, b.xs.front());
        r = std::max(r, b.xs.back());
    }
    auto clamp = [](int32_t v) { return int16_t(std::clamp<int32_t>(v, INT16_MIN, INT16_MAX)); };
    bounds->left = clamp(l);
    bounds->right = clamp(r);
    bounds->top = clamp(rgn->bands.front().top);
    bounds->bottom = clamp(rgn->bands.back().bottom);
    return bounds;
}

void OpenRgn() {
    gRecording.segments.clear();
    gRecording.ovals.clear();
    gRecording.open = true;
    setError(noErr);
}

void CloseRgn(RgnHandle dst) {
    if (!gRecording.open) {
        setError(paramErr);
        return;
    }
    gRecording.open = false;
    if (!live(dst)) {
        setError(paramErr);
        return;
    }
    guarded([&] {
        Bands outline;
        if (!outlineBands(gRecording.segments, outline)) {
            setError(rgnTooBigErr);
            return;
        }
        dst->bands = combine(outline, gRecording.ovals, Op::Xor);
        setError(noErr);
    });
    gRecording.segments.clear();
    gRecording.ovals.clear();
}

void MoveTo(int32_t h, int32_t v) {
    gRecording.penH = h;
    gRecording.penV = v;
}

void LineTo(int32_t h, int32_t v) {
    if (gRecording.open) {
        guarded([&] { gRecording.segments.push_back(Segment{gRecording.penH, gRecording.penV, h, v}); });
    }
    gRecording.penH = h;
    gRecording.penV = v;
}

void FrameOval(const Rect* r) {
    if (!r || !gRecording.open) return;
    guarded([&] { gRecording.ovals = combine(gRecording.ovals, ovalBands(*r), Op::Xor); });
}

OSStatus BitMapToRegion(RgnHandle region, const BitMap* bitmap) {
    if (!live(region) || !bitmap) return setError(paramErr);
    const Rect& b = bitmap->bounds;
    int64_t width = int64_t(b.right) - b.left, height = int64_t(b.bottom) - b.top;
    if (width <= 0 || height <= 0) {
        region->bands.clear();
        return setError(noErr);
    }
    int64_t rowBytes = bitmap->rowBytes & 0x3FFF;
    if (!bitmap->baseAddr || rowBytes * 8 < width) return setError(paramErr);
    bool ok = guarded([&] {
        Bands bands;
        const auto* base = reinterpret_cast<const uint8_t*>(bitmap->baseAddr);
        for (int64_t y = 0; y < height; ++y) {
            const uint8_t* row = base + y * rowBytes;
            std::vector<int32_t> xs;
            int64_t x = 0;
            while (x < width) {
                while (x < width && !(row[x >> 3] & (0x80 >> (x & 7))))
                    ++x;
                int64_t start = x;
                while (x < width && (row[x >> 3] & (0x80 >> (x & 7))))
                    ++x;
                if (x > start) appendSpan(xs, int32_t(b.left + start), int32_t(b.left + x));
            }
            if (!xs.empty()) bands.push_back(Band{int32_t(b.top + y), int32_t(b.top + y + 1), std::move(xs)});
        }
        region->bands = canonical(std::move(bands));
    });
    return setError(ok ? noErr : memFullErr);
}

OSStatus RgnToHandle(RgnHandle region, Handle flattenedRgnDataHdl) {
    if (!live(region) || !flattenedRgnDataHdl) return setError(paramErr);
    std::vector<uint8_t> out;
    size_t size = 4;
    for (const Band& b : region->bands)
        size += 10 + 4 * b.xs.size();
    if (size > 32767) {
        SetHandleSize(flattenedRgnDataHdl, 0);
        return setError(rgnTooBigErr);
    }
    bool ok = guarded([&] {
        out.reserve(size);
        put16(out, uint16_t(size));
        put16(out, uint16_t(region->bands.size()));
        for (const Band& b : region->bands) {
            put32(out, b.top);
            put32(out, b.bottom);
            put16(out, uint16_t(b.xs.size()));
            for (int32_t x : b.xs)
                put32(out, x);
        }
    });
    if (!ok) return memFullErr;
    return setError(PtrToXHand(out.data(), flattenedRgnDataHdl, Size(out.size())));
}

OSStatus HandleToRgn(Handle oldRegion, RgnHandle region) {
    if (!live(region) || !oldRegion || !*oldRegion) return setError(paramErr);
    Size n = GetHandleSize(oldRegion);
    if (n < 4) return setError(paramErr);
    const auto* p = reinterpret_cast<const uint8_t*>(*oldRegion);
    OSErr err = paramErr;
    bool ok = guarded([&] {
        Bands bands;
        if (parseFlat(p, size_t(n), false, bands) || parseFlat(p, size_t(n), true, bands)) {
            region->bands = std::move(bands);
            err = noErr;
        }
    });
    return ok ? setError(err) : memFullErr;
}

namespace platform {

std::vector<RegionRect> regionRects(RgnHandle rgn) {
    std::vector<RegionRect> out;
    if (!live(rgn)) return out;
    for (const Band& b : rgn->bands)
        for (size_t i = 0; i + 1 < b.xs.size(); i += 2)
            out.push_back({b.xs[i], b.top, b.xs[i + 1], b.bottom});
    return out;
}

bool regionContains(RgnHandle rgn, int32_t x, int32_t y) {
    if (!live(rgn)) {
        setError(paramErr);
        return false;
    }
    setError(noErr);
    for (const Band& b : rgn->bands) {
        if (y < b.top) return false;
        if (y >= b.bottom) continue;
        for (size_t i = 0; i + 1 < b.xs.size(); i += 2)
            if (x >= b.xs[i] && x < b.xs[i + 1]) return true;
        return false;
    }
    return false;
}

int64_t regionArea(RgnHandle rgn) {
    if (!live(rgn)) return 0;
    i128 total = 0;
    for (const Band& b : rgn->bands)
        for (size_t i = 0; i + 1 < b.xs.size(); i += 2)
            total += i128(int64_t(b.bottom) - b.top) * (int64_t(b.xs[i + 1]) - b.xs[i]);
    return total > INT64_MAX ? INT64_MAX : int64_t(total);
}

bool isRegion(RgnHandle rgn) {
    return live(rgn);
}

void setQDError(OSErr err) {
    setError(err);
}

} // namespace platform
