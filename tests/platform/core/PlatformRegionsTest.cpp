#include "PlatformMemory.h"
#include "PlatformRegions.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

namespace {

using platform::RegionRect;
using Rects = std::vector<RegionRect>;

struct RgnDeleter {
    void operator()(OpaqueRgnHandle* r) const { DisposeRgn(r); }
};
using Rgn = std::unique_ptr<OpaqueRgnHandle, RgnDeleter>;

Rgn rect(int32_t l, int32_t t, int32_t r, int32_t b) {
    Rgn rgn(NewRgn());
    SetRectRgn(rgn.get(), l, t, r, b);
    return rgn;
}

Rects rectsOf(const Rgn& r) {
    return platform::regionRects(r.get());
}

} // namespace

TEST(RegionsTest, BooleanOperationsOnOverlappingRectangles) {
    Rgn a = rect(0, 0, 10, 10), b = rect(5, 5, 15, 15), out(NewRgn());
    struct Case {
        void (*op)(RgnHandle, RgnHandle, RgnHandle);
        Rects expected;
    };
    const Case cases[] = {
        {UnionRgn, {{0, 0, 10, 5}, {0, 5, 15, 10}, {5, 10, 15, 15}}},
        {DiffRgn, {{0, 0, 10, 5}, {0, 5, 5, 10}}},
        {SectRgn, {{5, 5, 10, 10}}},
        {XorRgn, {{0, 0, 10, 5}, {0, 5, 5, 10}, {10, 5, 15, 10}, {5, 10, 15, 15}}},
    };
    for (const Case& c : cases) {
        c.op(a.get(), b.get(), out.get());
        EXPECT_EQ(QDError(), noErr);
        EXPECT_EQ(rectsOf(out), c.expected);
    }
    // In place, and back: the canonical form makes equal pixel sets equal regions.
    Rgn u(NewRgn()), onlyB(NewRgn());
    CopyRgn(a.get(), u.get());
    UnionRgn(u.get(), b.get(), u.get());
    DiffRgn(b.get(), a.get(), onlyB.get());
    DiffRgn(u.get(), onlyB.get(), u.get());
    EXPECT_TRUE(EqualRgn(u.get(), a.get()));
    EXPECT_EQ(platform::regionArea(a.get()), 100);
}

TEST(RegionsTest, EmptinessPointsAndBounds) {
    Rgn r(NewRgn());
    EXPECT_TRUE(EmptyRgn(r.get()));
    SetRectRgn(r.get(), 10, 10, 10, 20); // no width
    EXPECT_TRUE(EmptyRgn(r.get()));
    SetRectRgn(r.get(), -100000, 5, 100000, 7); // 32-bit coordinates are kept
    EXPECT_TRUE(platform::regionContains(r.get(), 99999, 6));
    EXPECT_FALSE(platform::regionContains(r.get(), 100000, 6)); // right edge outside
    EXPECT_TRUE(PtInRgn(Point{5, -100}, r.get()));              // v, h
    EXPECT_FALSE(PtInRgn(Point{7, 0}, r.get()));                // bottom edge outside
    Rect bounds;
    GetRegionBounds(r.get(), &bounds);
    EXPECT_EQ(bounds.left, -32768);
    EXPECT_EQ(bounds.right, 32767);
    EXPECT_EQ(bounds.top, 5);
    EXPECT_EQ(bounds.bottom, 7);
}

TEST(RegionsTest, OffsetRefusesOverflow) {
    Rgn r = rect(0, 0, INT32_MAX - 5, 10);
    OffsetRgn(r.get(), 10, 0);
    EXPECT_EQ(QDError(), rgnOverflowErr);
    EXPECT_EQ(rectsOf(r), (Rects{{0, 0, INT32_MAX - 5, 10}}));
    OffsetRgn(r.get(), -3, 4);
    EXPECT_EQ(rectsOf(r), (Rects{{-3, 4, INT32_MAX - 8, 14}}));
}

TEST(RegionsTest, OvalsHoldThePixelsWhoseCentresAreInside) {
    struct Case {
        Rect r; // top, left, bottom, right
        Rects expected;
    };
    const Case cases[] = {
        {{0, 0, 1, 1}, {{0, 0, 1, 1}}},
        {{0, 0, 4, 4}, {{1, 0, 3, 1}, {0, 1, 4, 3}, {1, 3, 3, 4}}},
        {{10, 20, 12, 26}, {{20, 10, 26, 12}}},
        {{0, 0, 5, 5}, {{1, 0, 4, 1}, {0, 1, 5, 4}, {1, 4, 4, 5}}},
        {{0, 0, 0, 5}, {}},
    };
    for (const Case& c : cases) {
        Rgn r(NewRgn());
        OpenRgn();
        FrameOval(&c.r);
        CloseRgn(r.get());
        EXPECT_EQ(QDError(), noErr);
        EXPECT_EQ(rectsOf(r), c.expected) << c.r.right;
    }
}

TEST(RegionsTest, RecordedOutlinesInvertWhatTheyEnclose) {
    using Path = std::vector<std::pair<int32_t, int32_t>>;
    auto record = [](std::vector<Path> paths) {
        Rgn r(NewRgn());
        OpenRgn();
        for (const Path& pts : paths) {
            MoveTo(pts[0].first, pts[0].second);
            for (size_t i = 1; i < pts.size(); ++i)
                LineTo(pts[i].first, pts[i].second);
        }
        CloseRgn(r.get());
        return r;
    };
    // A closed triangle: row y spans [y, 10).
    Rgn tri = record({{{0, 0}, {10, 0}, {10, 10}, {0, 0}}});
    EXPECT_EQ(platform::regionArea(tri.get()), 55);
    EXPECT_EQ(rectsOf(tri).front(), (RegionRect{0, 0, 10, 1}));
    EXPECT_EQ(rectsOf(tri).back(), (RegionRect{9, 9, 10, 10}));
    // Left open, the same outline encloses nothing; an open U still bounds its square.
    EXPECT_TRUE(EmptyRgn(record({{{0, 0}, {10, 0}, {10, 10}}}).get()));
    EXPECT_EQ(rectsOf(record({{{0, 0}, {0, 10}, {10, 10}, {10, 0}}})), (Rects{{0, 0, 10, 10}}));
    // Two overlapping squares in one recording: what both enclose is inverted twice.
    Rgn both =
        record({{{0, 0}, {10, 0}, {10, 10}, {0, 10}, {0, 0}}, {{5, 5}, {15, 5}, {15, 15}, {5, 15}, {5, 5}}});
    Rgn x(NewRgn());
    XorRgn(rect(0, 0, 10, 10).get(), rect(5, 5, 15, 15).get(), x.get());
    EXPECT_TRUE(EqualRgn(both.get(), x.get()));
    // An outline too tall to hold as bands is refused, leaving the region as it was.
    Rgn tall = rect(1, 1, 2, 2);
    OpenRgn();
    MoveTo(0, -2000000000);
    LineTo(1, 2000000000);
    LineTo(0, -2000000000);
    CloseRgn(tall.get());
    EXPECT_EQ(QDError(), rgnTooBigErr);
    EXPECT_EQ(rectsOf(tall), (Rects{{1, 1, 2, 2}}));
    // Closing without opening is refused.
    CloseRgn(tall.get());
    EXPECT_EQ(QDError(), paramErr);
}

TEST(RegionsTest, BitMapToRegionTakesTheSetBits) {
    uint8_t bits[6] = {0xF0, 0x00, 0x0F, 0xC0, 0x00, 0x00};
    BitMap bm{reinterpret_cast<Ptr>(bits), 2, Rect{100, 50, 103, 60}};
    Rgn r(NewRgn());
    EXPECT_EQ(BitMapToRegion(r.get(), &bm), noErr);
    EXPECT_EQ(rectsOf(r), (Rects{{50, 100, 54, 101}, {54, 101, 60, 102}}));
    // Rows shorter than the bounds, a missing base address, an unknown region: refused.
    BitMap wide{reinterpret_cast<Ptr>(bits), 2, Rect{0, 0, 1, 17}};
    EXPECT_EQ(BitMapToRegion(r.get(), &wide), paramErr);
    BitMap none{nullptr, 2, Rect{0, 0, 1, 8}};
    EXPECT_EQ(BitMapToRegion(r.get(), &none), paramErr);
    EXPECT_EQ(rectsOf(r).size(), 2u);
}

TEST(RegionsTest, FlatFormRoundTripsInEitherByteOrder) {
    Rgn src(NewRgn());
    XorRgn(rect(0, 0, 10, 10).get(), rect(-70000, 5, 15, 15).get(), src.get());
    Handle h = NewHandle(0);
    ASSERT_EQ(RgnToHandle(src.get(), h), noErr);
    Size n = GetHandleSize(h);
    uint16_t first;
    std::memcpy(&first, *h, 2);
    EXPECT_EQ(first, n); // the first word counts the bytes
    Rgn back(NewRgn());
    EXPECT_EQ(HandleToRgn(h, back.get()), noErr);
    EXPECT_TRUE(EqualRgn(src.get(), back.get()));
    // Every word swapped: still read.
    for (Size i = 0; i + 1 < n; i += 2)
        std::swap((*h)[i], (*h)[i + 1]);
    SetEmptyRgn(back.get());
    EXPECT_EQ(HandleToRgn(h, back.get()), noErr);
    EXPECT_TRUE(EqualRgn(src.get(), back.get()));
    // Truncated or inconsistent data is refused and the region kept.
    SetHandleSize(h, n - 2);
    EXPECT_EQ(HandleToRgn(h, back.get()), paramErr);
    std::vector<uint8_t> junk(n, 0xFF);
    PtrToXHand(junk.data(), h, n);
    EXPECT_EQ(HandleToRgn(h, back.get()), paramErr);
    EXPECT_TRUE(EqualRgn(src.get(), back.get()));
    DisposeHandle(h);
}

TEST(RegionsTest, UnknownRegionsAreRefused) {
    int bogus = 0;
    auto* fake = reinterpret_cast<RgnHandle>(&bogus);
    Rgn r(NewRgn());
    UnionRgn(fake, r.get(), r.get());
    EXPECT_EQ(QDError(), paramErr);
    EXPECT_TRUE(EmptyRgn(fake));
    EXPECT_FALSE(EqualRgn(fake, fake));
    DisposeRgn(fake);
    EXPECT_EQ(QDError(), paramErr);
    RgnHandle gone = NewRgn();
    DisposeRgn(gone);
    EXPECT_FALSE(platform::isRegion(gone));
}
