#include "GraphicsTestSupport.h"
#include "KelvoGraphicsRegion.h"
#include "PlatformMemory.h"

#include "PlatformPictures.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

using platform::RegionRect;
using Rects = std::vector<RegionRect>;

Rects rectsOf(const Kelvo_Region& r) {
    return platform::regionRects(r.region());
}

Kelvo_Rect qdRect(int16_t top, int16_t left, int16_t bottom, int16_t right) {
    return Kelvo_Rect(Rect{top, left, bottom, right});
}

Kelvo_Contour contour(std::vector<std::pair<int32_t, int32_t>> points, bool closed) {
    Kelvo_Contour c;
    for (auto [x, y] : points) {
        Kelvo_Point p(x, y);
        c.add(&p);
    }
    c.isClosed() = closed;
    return c;
}

} // namespace

TEST(GraphicsRegionTest, DefaultResetAndValidity) {
    Kelvo_Region r;
    EXPECT_TRUE(r.qtObjIsValid());
    EXPECT_TRUE(r.empty());
    EXPECT_EQ(r.qtObjReference(), r.region());
    r.reset();
    EXPECT_FALSE(r.qtObjIsValid());
    EXPECT_TRUE(r.empty());
    EXPECT_EQ(r.clone(), nullptr);
    EXPECT_FALSE(r.isInRegion(Kelvo_Point(0, 0)));
    // Merging into nothing does nothing; a missing operand is a bad argument.
    Kelvo_Region other;
    r.Merge(other.region());
    EXPECT_FALSE(r.qtObjIsValid());
    other.Merge(nullptr);
    EXPECT_EQ(other.Error(), paramErr);
}

TEST(GraphicsRegionTest, SumAndDifferenceAreNewObjects) {
    Kelvo_Rect ra = qdRect(0, 0, 10, 10), rb = qdRect(5, 5, 15, 15);
    Kelvo_Region a, b;
    a = ra;
    b = rb;
    std::unique_ptr<Kelvo_Region> sum(a + b), diff(a - b);
    ASSERT_TRUE(sum && diff);
    EXPECT_EQ(rectsOf(*sum), (Rects{{0, 0, 10, 5}, {0, 5, 15, 10}, {5, 10, 15, 15}}));
    EXPECT_EQ(rectsOf(*diff), (Rects{{0, 0, 10, 5}, {0, 5, 5, 10}}));
    EXPECT_EQ(rectsOf(a), (Rects{{0, 0, 10, 10}}));
    EXPECT_EQ(rectsOf(b), (Rects{{5, 5, 15, 15}}));
    a += b;
    EXPECT_TRUE(a == *sum);
    a -= b;
    EXPECT_TRUE(a == *diff);
    EXPECT_TRUE(a.isInRegion(Kelvo_Point(4, 9)));
    EXPECT_FALSE(a.isInRegion(Kelvo_Point(5, 9)));
}

TEST(GraphicsRegionTest, EqualityNeedsTwoRegions) {
    Kelvo_Region a, b;
    EXPECT_TRUE(a == b);
    EXPECT_FALSE(a != b);
    a.reset();
    EXPECT_FALSE(a == b);
    EXPECT_TRUE(a != b);
    b.reset();
    EXPECT_FALSE(a == b); // neither holds one
    EXPECT_TRUE(a != b);
}

TEST(GraphicsRegionTest, InitWithAnEqualRegionKeepsItsHandle) {
    Kelvo_Rect r = qdRect(0, 0, 4, 4);
    Kelvo_Region a, b;
    a.RectToRegion(&r);
    b.RectToRegion(&r);
    RgnHandle before = a.region();
    a.RectToRegion(nullptr); // leaves a status behind
    EXPECT_EQ(a.Error(), -108);
    a.RectToRegion(&r);
    before = a.region();
    a.initWithObject(&b);
    EXPECT_EQ(a.region(), before);
    EXPECT_EQ(a.Error(), 0);
    // A different region is copied into a new handle; the source is untouched.
    Kelvo_Rect s = qdRect(1, 1, 2, 2);
    b.RectToRegion(&s);
    a.copy(b);
    EXPECT_TRUE(a == b);
    EXPECT_NE(a.region(), b.region());
    std::unique_ptr<Kelvo_QTObj> c(a.clone());
    ASSERT_TRUE(c);
    EXPECT_TRUE(static_cast<Kelvo_Region&>(*c) == a);
}

TEST(GraphicsRegionTest, ShapesFromRectanglesAndOvals) {
    Kelvo_Region r;
    Kelvo_Rect empty = qdRect(5, 5, 5, 9);
    EXPECT_EQ(r.RectToRegion(&empty), 0); // an empty rectangle passes and gives an empty region
    EXPECT_TRUE(r.qtObjIsValid());
    EXPECT_TRUE(r.empty());
    EXPECT_EQ(r.RectToRegion(nullptr), -108);
    Kelvo_Rect oval = qdRect(0, 0, 4, 4);
    EXPECT_EQ(r.OvalToRegion(&oval), 0);
    EXPECT_EQ(rectsOf(r), (Rects{{1, 0, 3, 1}, {0, 1, 4, 3}, {1, 3, 3, 4}}));
}

TEST(GraphicsRegionTest, ContoursAreBuiltFromTheirSegments) {
    Kelvo_Region r;
    Kelvo_Contour open = contour({{0, 0}, {10, 0}, {10, 10}}, false);
    r.ContourToRegion(&open);
    EXPECT_TRUE(r.qtObjIsValid());
    EXPECT_TRUE(r.empty()); // two segments enclose nothing
    Kelvo_Contour closed = contour({{0, 0}, {10, 0}, {10, 10}}, true);
    r = closed;
    EXPECT_EQ(platform::regionArea(r.region()), 55); // the closing segment makes a triangle
    EXPECT_EQ(rectsOf(r).front(), (RegionRect{0, 0, 10, 1}));
    // Coordinates beyond 16 bits are kept, not wrapped.
    Kelvo_Contour far = contour({{70000, 0}, {70010, 0}, {70010, 10}, {70000, 10}}, true);
    r.ContourToRegion(&far);
    EXPECT_EQ(rectsOf(r), (Rects{{70000, 0, 70010, 10}}));
    // Without points: the spare point (-1, -1) and no line.
    Kelvo_Contour none;
    none.isClosed() = true;
    EXPECT_EQ(r.ContourToRegion(&none), 0);
    EXPECT_TRUE(r.qtObjIsValid());
    EXPECT_TRUE(r.empty());
}

TEST(GraphicsRegionTest, WorldsPicturesAndChannels) {
    Kelvo_Region r;
    EXPECT_EQ(r.GraphicsToRegion(nullptr), paramErr);
    EXPECT_FALSE(r.qtObjIsValid());
    int bogus = 0;
    auto* world = reinterpret_cast<GWorldPtr>(&bogus);
    EXPECT_EQ(r.GraphicsToRegion(world), 0); // a world without pixels leaves an empty region
    EXPECT_TRUE(r.qtObjIsValid());
    // A picture whose frame is empty leaves no region and the rectangle's status.
    Picture pic{10, Rect{5, 5, 5, 20}};
    Handle h = nullptr;
    PtrToHand(&pic, &h, sizeof pic);
    EXPECT_EQ(r.PictureToRegion(reinterpret_cast<PicHandle>(h)), 0);
    EXPECT_FALSE(r.qtObjIsValid());
    // With a frame, the picture is drawn into a one-bit world erased to white; a picture that
    // draws nothing leaves an empty region, and the current port is given back.
    pic.picFrame = Rect{0, 0, 8, 8};
    PtrToXHand(&pic, h, sizeof pic);
    GWorldPtr port = nullptr;
    const Rect portBounds{0, 0, 4, 4};
    ASSERT_EQ(QTNewGWorld(&port, k32ARGBPixelFormat, &portBounds, nullptr, nullptr, 0), noErr);
    SetGWorld(port, nullptr);
    Kelvo_Region s;
    EXPECT_EQ(s.PictureToRegion(reinterpret_cast<PicHandle>(h)), 0);
    EXPECT_TRUE(s.qtObjIsValid());
    EXPECT_TRUE(s.empty());
    CGrafPtr current = nullptr;
    GetGWorld(&current, nullptr);
    EXPECT_EQ(current, port);
    // A recorded picture's drawn dark pixels become the region.
    GWorldPtr ink = nullptr;
    const Rect inkBounds{0, 0, 1, 1};
    ASSERT_EQ(QTNewGWorld(&ink, k32ARGBPixelFormat, &inkBounds, nullptr, nullptr, 0), noErr);
    const Rect frame{0, 0, 8, 8}, dark{2, 3, 4, 6};
    PicHandle recorded = OpenPicture(&frame);
    ASSERT_NE(recorded, nullptr);
    EraseRect(&frame);
    CopyBits(GetPortBitMapForCopyBits(ink), GetPortBitMapForCopyBits(port), &inkBounds, &dark, srcCopy, nullptr);
    ClosePicture();
    Kelvo_Region fromPicture;
    EXPECT_EQ(fromPicture.PictureToRegion(recorded), 0);
    RgnHandle expected = NewRgn();
    RectRgn(expected, &dark);
    EXPECT_TRUE(EqualRgn(fromPicture.region(), expected));
    DisposeRgn(expected);
    KillPicture(recorded);
    DisposeGWorld(ink);
    DisposeGWorld(port);
    DisposeHandle(h);
    EXPECT_EQ(s.getRegionFromSGChannel(nullptr), paramErr);
    EXPECT_FALSE(s.qtObjIsValid());
}

// A one-bit world reads as a bitmap: its black pixels become the region, placed at the world's
// bounds.
TEST(GraphicsRegionTest, OneBitWorldToRegion) {
    GWorldPtr world = nullptr;
    const Rect bounds{10, 20, 14, 60}; // 40 x 4 pixels from (20, 10)
    ASSERT_EQ(QTNewGWorld(&world, k1MonochromePixelFormat, &bounds, nullptr, nullptr, 0), noErr);
    PixMapHandle pm = GetGWorldPixMap(world);
    auto* bits = reinterpret_cast<uint8_t*>(GetPixBaseAddr(pm));
    const int32_t rowBytes = GetPixRowBytes(pm);
    bits[1 * rowBytes + 0] = 0x0F; // pixels 4..7 of row 1
    bits[2 * rowBytes + 4] = 0x80; // pixel 32 of row 2
    Kelvo_Region r;
    EXPECT_EQ(r.GraphicsToRegion(world), 0);
    EXPECT_EQ(rectsOf(r), (Rects{{24, 11, 28, 12}, {52, 12, 53, 13}}));
    DisposeGWorld(world);
}

TEST(GraphicsRegionTest, PlatformObjectsAndWrappers) {
    int bogus = 0;
    // A movie, track or media without video leaves no region, and status 0.
    const char* names[] = {"Kelvo_Movie", "Kelvo_Track", "Kelvo_Media"};
    for (const char* name : names) {
        FakeWrapper w(name, &bogus);
        Kelvo_Region r(&w);
        EXPECT_FALSE(r.qtObjIsValid()) << name;
        EXPECT_EQ(r.Error(), 0);
    }
    Kelvo_Region r;
    r = reinterpret_cast<Movie>(&bogus);
    EXPECT_FALSE(r.qtObjIsValid());
    // A null platform object makes an invalid wrapper: a new empty region.
    r = static_cast<Movie>(nullptr);
    EXPECT_TRUE(r.qtObjIsValid());
    r.reset();
    r = static_cast<Media>(nullptr);
    EXPECT_TRUE(r.qtObjIsValid());
    // An unknown class leaves no region; a null object an empty one.
    Kelvo_QTObj plain;
    r.initWithObject(&plain);
    EXPECT_FALSE(r.qtObjIsValid());
    r.initWithObject(nullptr);
    EXPECT_TRUE(r.qtObjIsValid());
    EXPECT_EQ(r.Error(), 0);
    // Importers: the constructor reports, the assignment falls back to an empty region.
    Kelvo_Region none(static_cast<ComponentInstance>(nullptr));
    EXPECT_EQ(none.Error(), paramErr);
    EXPECT_FALSE(none.qtObjIsValid());
    Kelvo_Region fromImporter(reinterpret_cast<ComponentInstance>(&bogus));
    EXPECT_EQ(fromImporter.Error(), badComponentInstance);
    fromImporter = reinterpret_cast<ComponentInstance>(&bogus);
    EXPECT_TRUE(fromImporter.qtObjIsValid());
    EXPECT_TRUE(fromImporter.empty());
}

TEST(GraphicsRegionTest, ByteOrderRoundTrips) {
    Kelvo_Rect a = qdRect(0, 0, 10, 10), b = qdRect(20, -5, 30, 3);
    Kelvo_Region r, s;
    r = a;
    s = b;
    r += s;
    Kelvo_Region original(r);
    Kelvo_Region::NtoB(r);
    Kelvo_Region::BtoN(r);
    EXPECT_TRUE(r == original);
    RgnHandle big = r.nativeToBig();
    ASSERT_NE(big, nullptr);
    EXPECT_NE(big, r.region());
    EXPECT_TRUE(r == original); // the object itself is not converted
    DisposeRgn(big);
    Kelvo_Region empty;
    empty.reset();
    EXPECT_EQ(empty.nativeToBig(), nullptr);
    Kelvo_Region::NtoB(empty);
}
