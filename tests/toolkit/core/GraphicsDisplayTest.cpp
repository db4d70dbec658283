#include "GraphicsTestSupport.h"
#include "KelvoGraphicsDisplay.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

namespace {

using platform::RegionRect;
using Rects = std::vector<RegionRect>;

// Rotation, translation and scale have no operations of their own: the drawers and tests reach
// the fields.
class TestTransform : public Kelvo_DisplayTransform {
  public:
    using Kelvo_DisplayTransform::Kelvo_DisplayTransform;
    void set(int32_t rotation, int32_t tx, int32_t ty, double scale, bool discard) {
        _rotation = rotation;
        _translationX = tx;
        _translationY = ty;
        _scale = scale;
        _discardColor = discard ? 1 : 0;
    }
    int32_t rotation() const { return _rotation; }
    double scale() const { return _scale; }
    int32_t tx() const { return _translationX; }
};

// Where the transform's matrix puts a point.
std::pair<int32_t, int32_t> map(Kelvo_DisplayTransform& t, int32_t x, int32_t y) {
    FixedPoint p{Long2Fix(x), Long2Fix(y)};
    TransformFixedPoints(t.Matrix(), &p, 1);
    return {Fix2Long(p.x), Fix2Long(p.y)};
}

Kelvo_Rect qd(int16_t top, int16_t left, int16_t bottom, int16_t right) {
    return Kelvo_Rect(Rect{top, left, bottom, right});
}

} // namespace

TEST(GraphicsDisplayTest, Defaults) {
    Kelvo_DisplayTransform t;
    EXPECT_EQ(t.Gamma(), 1.0);
    ASSERT_NE(t.GammaTable(), nullptr);
    // Gamma 1.0 is not the identity: 0, 0, 1, 2, ..., 253, 254.
    EXPECT_EQ(t.GammaTable()[0], 0);
    for (int i = 1; i < 256; ++i)
        ASSERT_EQ(t.GammaTable()[i], i - 1) << i;
    EXPECT_EQ(t.Clip(), nullptr);
    EXPECT_FALSE(t.discardColor());
    EXPECT_EQ(t.getFlipHor(), 0u);
    MatrixRecord id;
    SetIdentityMatrix(&id);
    EXPECT_TRUE(EqualMatrix(t.Matrix(), &id)); // both rectangles are empty
    EXPECT_FALSE(t.qtSrcRect().qtObjIsValid());
}

TEST(GraphicsDisplayTest, GammaTableEntries) {
    EXPECT_EQ(LUT_GAMMA_HASH[0], 0.0);
    EXPECT_EQ(LUT_GAMMA_HASH[1], 0.003906);
    EXPECT_EQ(LUT_GAMMA_HASH[2], 0.007812);
    EXPECT_EQ(LUT_GAMMA_HASH[3], 0.011719);
    EXPECT_EQ(LUT_GAMMA_HASH[128], 0.5);
    EXPECT_EQ(LUT_GAMMA_HASH[255], 0.996094);
    struct Case {
        double gamma;
        int index[6];
        int value[6];
    };
    const Case cases[] = {
        {2.2, {1, 2, 64, 128, 200, 255}, {0, 0, 12, 55, 148, 252}},
        {0.45, {1, 2, 64, 128, 200, 255}, {21, 28, 136, 186, 228, 254}},
    };
    for (const Case& c : cases) {
        unsigned char table[256];
        Kelvo_GammaTable(c.gamma, table);
        for (int k = 0; k < 6; ++k)
            EXPECT_EQ(table[c.index[k]], c.value[k]) << c.gamma << " " << c.index[k];
    }
    // No test of the value, and still no undefined conversion: NaN gives 0, infinity saturates.
    unsigned char table[256];
    Kelvo_GammaTable(std::nan(""), table);
    EXPECT_EQ(table[128], 0);
    Kelvo_GammaTable(-1.0, table); // pow(0, -1) is infinite
    EXPECT_EQ(table[0], 255);
    Kelvo_GammaTable(1.0, nullptr);
}

TEST(GraphicsDisplayTest, RefusedGammaRemembersThePreviousOne) {
    Kelvo_DisplayTransform t;
    t.Gamma(2.2);
    t.Gamma(0.0);
    EXPECT_EQ(t.Error(), paramErr);
    EXPECT_EQ(t.GammaTable(), nullptr);
    EXPECT_EQ(t.Gamma(), 2.2);
    Kelvo_DisplayTransform copy;
    copy.Copy(t); // the table is rebuilt from the remembered gamma
    ASSERT_NE(copy.GammaTable(), nullptr);
    EXPECT_EQ(copy.GammaTable()[128], 55);
    EXPECT_EQ(copy.Gamma(), 2.2);
}

TEST(GraphicsDisplayTest, MapsSourceOntoDestinationAndFlips) {
    struct Case {
        bool hor, ver;
        int32_t x, y;       // a source point
        int32_t outX, outY; // where it lands
    };
    // Source 100 x 100, destination 200 wide and 100 high (top, left, bottom, right).
    const Case cases[] = {
        {false, false, 0, 0, 0, 0},    {false, false, 100, 50, 200, 50}, {true, false, 0, 10, 200, 10},
        {true, false, 100, 10, 0, 10}, {false, true, 10, 0, 20, 100},    {true, true, 25, 100, 150, 0},
    };
    for (const Case& c : cases) {
        Kelvo_DisplayTransform t(qd(0, 0, 100, 100), qd(0, 0, 100, 200));
        t.setFlipHor(c.hor);
        t.setFlipVer(c.ver);
        EXPECT_EQ(map(t, c.x, c.y), std::make_pair(c.outX, c.outY)) << c.hor << c.ver << c.x;
    }
    Kelvo_DisplayTransform t(qd(0, 0, 100, 100), qd(0, 0, 100, 200));
    EXPECT_EQ(t.Matrix()->matrix[0][0], 2 * fixed1); // x doubled
    EXPECT_EQ(t.Matrix()->matrix[1][1], fixed1);
    t.setFlipVer(true);
    t.setFlipVer(true);
    EXPECT_EQ(t.getFlipVer(), 2u);
    t.setFlipVer(false);
    EXPECT_EQ(t.getFlipVer(), 0u);
}

TEST(GraphicsDisplayTest, AnchorRotationScaleAndTranslation) {
    TestTransform t;
    Rect dst{10, 20, 30, 41};
    t.DstRect(&dst);
    EXPECT_EQ(t.getMatrix().anchorPoint(), Kelvo_Point(30, 20));
    t.set(90, 0, 0, 1.0, false);
    EXPECT_EQ(map(t, 31, 20), std::make_pair(30, 21)); // a quarter turn about (30, 20)
    EXPECT_EQ(map(t, 30, 20), std::make_pair(30, 20));
    t.set(0, 0, 0, 2.0, false);
    EXPECT_EQ(map(t, 31, 21), std::make_pair(32, 22)); // scaled about the anchor
    t.set(0, 5, -3, 0.0, false);                       // scale 0 skips the scaling step
    EXPECT_EQ(map(t, 1, 1), std::make_pair(6, -2));
    // Every call rebuilds: the matrix does not accumulate.
    EXPECT_EQ(map(t, 1, 1), std::make_pair(6, -2));
}

TEST(GraphicsDisplayTest, CopyAndClips) {
    TestTransform a;
    Rect src{0, 0, 50, 50}, dst{0, 0, 100, 100};
    a.SrcRect(&src);
    a.DstRect(&dst);
    a.setFlipHor(true);
    a.set(90, 3, 4, 0.5, true);
    a.drawingMode().mode() = 36;
    EXPECT_EQ(a.ClipToDestRect(), 0);
    EXPECT_EQ(platform::regionRects(a.Clip()->region()), (Rects{{0, 0, 100, 100}}));
    TestTransform b(a);
    EXPECT_EQ(b.qtSrcRect(), a.qtSrcRect());
    EXPECT_EQ(b.qtDstRect(), a.qtDstRect());
    EXPECT_EQ(b.getFlipHor(), 1u);
    EXPECT_EQ(b.rotation(), 90);
    EXPECT_EQ(b.scale(), 0.5);
    EXPECT_EQ(b.tx(), 3);
    EXPECT_TRUE(b.discardColor());
    EXPECT_EQ(b.drawingMode().mode(), 36);
    ASSERT_NE(b.Clip(), nullptr);
    EXPECT_NE(b.Clip(), a.Clip()); // its own copy
    EXPECT_TRUE(*b.Clip() == *a.Clip());
    EXPECT_TRUE(EqualMatrix(b.Matrix(), a.Matrix()));
    // A copy onto itself changes nothing.
    b.Copy(b);
    EXPECT_EQ(b.rotation(), 90);
    ASSERT_NE(b.Clip(), nullptr);
    b.Clip(b.Clip()); // its own clip stays
    ASSERT_NE(b.Clip(), nullptr);
    // Copying a transform without a clip leaves none.
    Kelvo_DisplayTransform noClip;
    b.Copy(noClip);
    EXPECT_EQ(b.Clip(), nullptr);
    EXPECT_EQ(b.rotation(), 0);
    // Clip(): a region without a handle is refused.
    Kelvo_Region holdsNothing;
    holdsNothing.reset();
    a.Clip(&holdsNothing);
    EXPECT_EQ(a.Error(), paramErr);
    EXPECT_EQ(a.Clip(), nullptr);
    std::unique_ptr<Kelvo_QTObj> c(a.clone());
    ASSERT_TRUE(c);
    EXPECT_EQ(static_cast<Kelvo_DisplayTransform&>(*c).getFlipHor(), 1u);
}

TEST(GraphicsDisplayTest, FromImporters) {
    Kelvo_DisplayTransform t(static_cast<ComponentInstance>(nullptr));
    EXPECT_EQ(t.Error(), paramErr);
    EXPECT_EQ(t.Clip(), nullptr);
    int bogus = 0;
    // A component that is no importer has no clip to read: its error stays and the clip is the
    // destination rectangle.
    Kelvo_DisplayTransform u(reinterpret_cast<ComponentInstance>(&bogus));
    EXPECT_EQ(u.Error(), badComponentInstance);
    ASSERT_NE(u.Clip(), nullptr);
    EXPECT_TRUE(u.Clip()->qtObjIsValid());
}

TEST(GraphicsDisplayTest, DisplayParameters) {
    Kelvo_CoreDisplayParams p;
    EXPECT_TRUE(p.clipRegion().qtObjIsValid());
    EXPECT_TRUE(p.clipRegion().empty());
    EXPECT_FALSE(p.displayBounds().qtObjIsValid());
    EXPECT_EQ(p.matrix().getType(), identityMatrixType);
    EXPECT_TRUE(p.isA("Kelvo_CoreDisplayParams"));

    // From a transform without a clip: its own empty region stays.
    Kelvo_DisplayTransform t(qd(0, 0, 10, 10), qd(0, 0, 20, 40));
    t.drawingMode().mode() = 4;
    p = t;
    EXPECT_EQ(p.displayBounds(), qd(0, 0, 20, 40));
    EXPECT_EQ(p.graphicsMode().mode(), 4);
    EXPECT_EQ(p.matrix()(0, 0), 4 * fixed1);
    EXPECT_TRUE(p.clipRegion().qtObjIsValid());
    EXPECT_TRUE(p.clipRegion().empty());
    // With a clip, the clip is copied.
    t.ClipToDestRect();
    p = t;
    EXPECT_EQ(platform::regionRects(p.clipRegion().region()), (Rects{{0, 0, 40, 20}}));
    // Copies, a copy onto itself, and a null source keep what is there.
    Kelvo_CoreDisplayParams q(p);
    EXPECT_EQ(q.displayBounds(), p.displayBounds());
    EXPECT_TRUE(q.clipRegion() == p.clipRegion());
    q.copy(q);
    EXPECT_EQ(q.displayBounds(), p.displayBounds());
    q.initWithObject(nullptr);
    EXPECT_EQ(q.Error(), 0);
    EXPECT_EQ(q.graphicsMode().mode(), 4);
    std::unique_ptr<Kelvo_QTObj> c(q.clone());
    ASSERT_TRUE(c);
    EXPECT_EQ(static_cast<Kelvo_CoreDisplayParams&>(*c).displayBounds(), p.displayBounds());
    // From a rectangle: its bounds and its region; the mode and matrix reset or stay.
    Kelvo_Rect r = qd(1, 2, 3, 4);
    Kelvo_CoreDisplayParams fromRect(&r);
    EXPECT_EQ(fromRect.displayBounds(), r);
    EXPECT_EQ(platform::regionRects(fromRect.clipRegion().region()), (Rects{{2, 1, 4, 3}}));
    // From a movie of no movie layer: empty bounds, no clip, status 0.
    int bogus = 0;
    FakeWrapper movie("Kelvo_Movie", &bogus);
    Kelvo_CoreDisplayParams fromMovie(&movie);
    EXPECT_EQ(fromMovie.Error(), 0);
    EXPECT_FALSE(fromMovie.displayBounds().qtObjIsValid());
    EXPECT_FALSE(fromMovie.clipRegion().qtObjIsValid());
    fromMovie.defaultStatus();
    EXPECT_TRUE(fromMovie.clipRegion().qtObjIsValid());
}
