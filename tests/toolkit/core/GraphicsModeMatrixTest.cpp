#include "GraphicsTestSupport.h"
#include "KelvoGraphicsMatrix.h"
#include "KelvoGraphicsMode.h"
#include "PlatformMedia.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

TEST(GraphicsModeTest, SourcesOfAMode) {
    ModifierTrackGraphicsModeRecord rec{36, {1, 2, 3}};
    Kelvo_GraphicsMode set(rec);
    // Another mode is copied; a movie or any other class gives mode 0 and black.
    Kelvo_GraphicsMode copied(&set);
    EXPECT_TRUE(copied == set);
    int bogus = 0;
    FakeWrapper movie("Kelvo_Movie", &bogus);
    copied.initWithObject(&movie);
    EXPECT_EQ(copied.mode(), 0);
    EXPECT_TRUE(Kelvo_EqualColor(&copied.color(), &(const RGBColor&)RGBColor{0, 0, 0}));
    // A media without a handler has no drawing mode.
    Media media = platform::newDetachedMedia();
    FakeWrapper mediaWrapper("Kelvo_Media", media);
    copied = set;
    copied.initWithMedia(mediaWrapper);
    EXPECT_EQ(copied.mode(), 0);
    copied = set;
    copied = media;
    EXPECT_EQ(copied.mode(), 0);
    platform::disposeMedia(media);
    // A null source: status -108 and the defaults.
    copied = set;
    copied.initWithObject(nullptr);
    EXPECT_EQ(copied.Error(), -108);
    EXPECT_EQ(copied.mode(), 0);
    // The object is laid out as the platform record.
    auto* r = static_cast<ModifierTrackGraphicsModeRecord*>(set.qtObjReference());
    EXPECT_EQ(r->graphicsMode, 36);
    EXPECT_EQ(r->opColor.blue, 3);
    EXPECT_EQ(static_cast<ModifierTrackGraphicsModeRecord*>(set), r);
}

TEST(GraphicsModeTest, ComparisonAndByteOrder) {
    Kelvo_GraphicsMode a(ModifierTrackGraphicsModeRecord{36, {1, 2, 3}});
    Kelvo_GraphicsMode b(a);
    b.color().blue = 4;
    EXPECT_TRUE(a != b);
    ModifierTrackGraphicsModeRecord big = a.nativeToBig();
    uint8_t modeBytes[4];
    std::memcpy(modeBytes, &big.graphicsMode, 4);
    int32_t native = 36;
    uint8_t nativeBytes[4];
    std::memcpy(nativeBytes, &native, 4);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(modeBytes[i], nativeBytes[3 - i]);
    EXPECT_EQ(big.opColor.red, 256);
    EXPECT_EQ(big.opColor.green, 512);
    EXPECT_EQ(big.opColor.blue, 768);
    EXPECT_EQ(a.mode(), 36); // unchanged
    Kelvo_GraphicsMode::NtoB(a);
    Kelvo_GraphicsMode::BtoN(a);
    EXPECT_EQ(a.mode(), 36);
    EXPECT_EQ(a.color().green, 2);
}

TEST(GraphicsModeTest, ColoursAndRanges) {
    RGBColor black{0, 0, 0}, c{1, 2, 3};
    EXPECT_FALSE(Kelvo_EqualColor(nullptr, &black));
    EXPECT_FALSE(Kelvo_EqualColor(&black, nullptr));
    EXPECT_EQ(Kelvo_ColorCopy(&black, &c), &black);
    EXPECT_TRUE(Kelvo_EqualColor(&black, &c));
    EXPECT_EQ(Kelvo_ColorCopy(&black, nullptr), &black);
    Kelvo_ColorRange range;
    EXPECT_EQ(range.start().red, 0);
    EXPECT_EQ(range.end().red, 65535);
    EXPECT_EQ(range.end().blue, 65535);
    range(c, c);
    Kelvo_ColorRange swapped = range.nativeToBig();
    EXPECT_EQ(swapped.start().red, 256);
    EXPECT_EQ(range.start().red, 1);
    EXPECT_TRUE(swapped != range);
    Kelvo_ColorRange::BtoN(swapped);
    EXPECT_TRUE(swapped == range);
    range.defaultStatus();
    EXPECT_TRUE(range == Kelvo_ColorRange());
}

TEST(GraphicsMatrixTest, FlipsScalesAndTranslations) {
    Kelvo_Matrix m;
    m.setFlip(3);
    EXPECT_EQ(m(0, 0), -fixed1);
    EXPECT_EQ(m(1, 1), -fixed1);
    EXPECT_EQ(m.getFlip(), 3);
    double sx = 0, sy = 0;
    m.getScale(sx, sy);
    EXPECT_EQ(sx, 1.0);
    EXPECT_EQ(sy, 1.0);
    m.setFlip(4); // other bits are ignored
    EXPECT_EQ(m.getFlip(), 3);

    Kelvo_Matrix t;
    t.setTranslation(1, 1);
    Kelvo_Point p(5, 7);
    t += p; // replaces
    int32_t x = 0, y = 0;
    t.getTranslation(x, y);
    EXPECT_EQ(x, 5);
    EXPECT_EQ(y, 7);
    t.setTranslation(5, 7); // adds
    t.getTranslation(x, y);
    EXPECT_EQ(x, 10);
    EXPECT_EQ(y, 14);
    // Beyond the 16.16 range: refused, nothing changes.
    Kelvo_Point far(40000, 0);
    t += far;
    EXPECT_EQ(t.Error(), paramErr);
    t.setTranslation(0, -40000);
    t.getTranslation(x, y);
    EXPECT_EQ(x, 10);
    EXPECT_EQ(y, 14);
}

TEST(GraphicsMatrixTest, EntriesBoundsAndInverse) {
    Kelvo_Matrix m;
    EXPECT_EQ(m(3, 0), 0);
    EXPECT_EQ(m(-1, 0), 0);
    EXPECT_EQ(m(0, 3), 0);
    EXPECT_EQ(m(2, 2), fract1);
    EXPECT_EQ(m.getType(), identityMatrixType);
    Kelvo_Rect empty(Rect{0, 0, 0, 10}), to(Rect{0, 0, 20, 20});
    m.bounds(empty, to);
    EXPECT_EQ(m.getType(), identityMatrixType);
    Kelvo_Rect from(Rect{0, 0, 10, 10});
    m.bounds(from, to);
    EXPECT_EQ(m(0, 0), 2 * fixed1);
    MatrixRecord inv = !m;
    EXPECT_EQ(inv.matrix[0][0], fixed1 / 2);
    EXPECT_EQ(m(0, 0), 2 * fixed1); // unchanged
    Kelvo_Matrix flat;
    flat.setScale(0.0, 1.0);
    MatrixRecord id;
    SetIdentityMatrix(&id);
    MatrixRecord none = !flat;
    EXPECT_TRUE(EqualMatrix(&none, &id));
}

TEST(GraphicsMatrixTest, RotationTurnsAboutTheAnchor) {
    Kelvo_Matrix m;
    m.anchorPoint()(30, 20);
    m.setRotation(90.0);
    FixedPoint p{Long2Fix(31), Long2Fix(20)};
    TransformFixedPoints(m, &p, 1);
    EXPECT_EQ(p.x, Long2Fix(30));
    EXPECT_EQ(p.y, Long2Fix(21));
}

TEST(GraphicsMatrixTest, SourcesAndCopies) {
    Kelvo_Matrix m;
    m.setScale(2.0, 3.0);
    m.anchorPoint()(4, 5);
    Kelvo_Point outOfRange(40000, 0);
    m += outOfRange; // status -50
    // An object of another class changes nothing, and the status becomes 0.
    Kelvo_Rect unrelated(Rect{0, 0, 1, 1});
    MatrixRecord before = *static_cast<MatrixRecord*>(m);
    m.initWithObject(&unrelated);
    EXPECT_EQ(m.Error(), 0);
    EXPECT_TRUE(m == before);
    EXPECT_EQ(m.anchorPoint(), Kelvo_Point(4, 5));
    Kelvo_Matrix copy;
    copy = m;
    EXPECT_TRUE(copy == m);
    EXPECT_EQ(copy.anchorPoint(), Kelvo_Point(4, 5));
    std::unique_ptr<Kelvo_QTObj> c(m.clone());
    ASSERT_TRUE(c);
    EXPECT_TRUE(static_cast<Kelvo_Matrix&>(*c) == m);
    // Movies without a movie layer: the matrix stays; a null movie resets it.
    int bogus = 0;
    FakeWrapper movie("Kelvo_Movie", &bogus);
    copy.initWithObject(&movie);
    EXPECT_TRUE(copy == m);
    copy = static_cast<Movie>(nullptr);
    EXPECT_EQ(copy.getType(), identityMatrixType);
    EXPECT_EQ(copy.anchorPoint(), Kelvo_Point(0, 0));
    // Concatenation and byte order.
    Kelvo_Matrix shift;
    shift.setTranslation(1, 0);
    shift += m; // m's scale first, then the shift: x' = 2x + 1
    EXPECT_EQ(shift(0, 0), 2 * fixed1);
    EXPECT_EQ(shift(0, 2), fixed1);
    MatrixRecord big = m.nativeToBig();
    EXPECT_EQ(big.matrix[0][0], Fixed(0x00000200)); // 2.0 = 0x00020000 reversed
    Kelvo_Matrix::NtoB(big);
    EXPECT_TRUE(m == big);
}
