#include "KelvoCoreGraphics.h"
#include "KelvoCoreObjectsRange.h"

#include "PlatformFixed.h"
#include "PlatformMemory.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

namespace {

Rect R(int16_t top, int16_t left, int16_t bottom, int16_t right) {
    return Rect{top, left, bottom, right};
}

void expectRect(const Rect& r, int left, int top, int right, int bottom) {
    EXPECT_EQ(r.left, left);
    EXPECT_EQ(r.top, top);
    EXPECT_EQ(r.right, right);
    EXPECT_EQ(r.bottom, bottom);
}

std::vector<std::pair<int, int>> pointsOf(Kelvo_Contour& c) {
    std::vector<std::pair<int, int>> out;
    for (int32_t i = 0; i < c.count(); ++i)
        out.emplace_back(c[i].x(), c[i].y());
    return out;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Numerical ranges

TEST(NumericalRange, ScaleReexpressesTheStoredValues) {
    Kelvo_NumericalRange r(2, 4);
    EXPECT_EQ(r.getCenter(), 3.0);
    r.setScale(2.0);
    EXPECT_EQ(r.getStart(), 1.0);
    EXPECT_EQ(r.getEnd(), 2.0);
    EXPECT_EQ(r.getScale(), 2.0);
    r.setScale(0.0); // ignored
    EXPECT_EQ(r.getScale(), 2.0);
    EXPECT_EQ(r.getStart(), 1.0);
    r.setStart(3);
    EXPECT_EQ(r.getStart(), 6.0);
    r(1, 5);
    EXPECT_EQ(r.getStart(), 2.0);
    EXPECT_EQ(r.getEnd(), 10.0);
    r.setFixedEnd(fixed1 / 2);
    EXPECT_EQ(r.getEnd(), 1.0);
}

TEST(NumericalRange, FixedFormsAndComparisonAreDefinedForEveryDouble) {
    Kelvo_NumericalRange r(1.5, std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(r.getFixedStart(), 0x18000);
    EXPECT_EQ(r.getFixedEnd(), 0); // NaN
    Kelvo_NumericalRange huge(1e300, -1e300);
    EXPECT_EQ(huge.getFixedStart(), kFixedMax);
    EXPECT_EQ(huge.getFixedEnd(), kFixedMin);
    EXPECT_FALSE(r == r); // a NaN end never compares equal
    EXPECT_TRUE(Kelvo_NumericalRange(1, 2) == Kelvo_NumericalRange(1, 2));

    Kelvo_NumericalRange scaled(2, 4);
    scaled.setScale(4.0);
    Kelvo_NumericalRange copy;
    copy = scaled;
    EXPECT_EQ(copy.getScale(), 4.0);
    std::unique_ptr<Kelvo_QTObj> c(scaled.clone());
    ASSERT_TRUE(c);
    EXPECT_STREQ(c->qtObjName(), "Kelvo_NumericalRange");
    EXPECT_TRUE(*static_cast<Kelvo_NumericalRange*>(c.get()) == scaled);
    copy.defaultStatus();
    EXPECT_EQ(copy.getScale(), 1.0);
    EXPECT_EQ(copy.getEnd(), 0.0);
}

// ---------------------------------------------------------------------------------------------
// Points

TEST(Point, ConversionsFromPlatformForms) {
    EXPECT_TRUE(Kelvo_Point(CGPoint{-1.7f, 2.9f}) == Kelvo_Point(-1, 2));
    EXPECT_TRUE(Kelvo_Point(FixedPoint{X2Fix(1.25), X2Fix(2.75)}) == Kelvo_Point(1, 3));
    EXPECT_TRUE(Kelvo_Point(Point{-5, 7}) == Kelvo_Point(7, -5));
    // Floats that are no integer coordinate give defined values.
    Kelvo_Point p(CGPoint{std::numeric_limits<float>::quiet_NaN(), 1e20f});
    EXPECT_EQ(p.x(), 0);
    EXPECT_EQ(p.y(), INT32_MAX);
    EXPECT_TRUE((Kelvo_Point(3, 4) == CGPoint{3.9f, 4.2f}));
    FixedPoint fp;
    Kelvo_Point(2, -3).toFixed(fp);
    EXPECT_EQ(fp.x, 0x20000);
    EXPECT_EQ(fp.y, -0x30000);
}

TEST(Point, QuickDrawFormNeverWrapsPastSixteenBits) {
    // Keeping only the low 16 bits would put x = 70000 at 4464, on the wrong side of the plane.
    Point qd = Kelvo_Point(70000, -1);
    EXPECT_EQ(qd.h, 32767);
    EXPECT_EQ(qd.v, -1);
    qd = Kelvo_Point(-70000, 12);
    EXPECT_EQ(qd.h, -32768);

    Kelvo_Point big(70000, 1);
    Kelvo_Point::NtoB(big);
    EXPECT_EQ(big.Error(), -50);
    EXPECT_EQ(big.x(), 70000);

    Kelvo_Point p(0x0102, -2);
    Point be = p.nativeToBig();
    EXPECT_EQ(uint16_t(be.h), 0x0201);
    EXPECT_EQ(uint16_t(be.v), 0xFEFF);
    Kelvo_Point::NtoB(p);
    EXPECT_EQ(p.x(), 0x0201);
    EXPECT_EQ(p.y(), int16_t(0xFEFF));
    Kelvo_Point::BtoN(p);
    EXPECT_TRUE(p == Kelvo_Point(0x0102, -2));
}

TEST(Point, ArithmeticDistanceAndMidpoint) {
    Kelvo_Point p(3, 4);
    p += p;
    EXPECT_TRUE(p == Kelvo_Point(6, 8));
    p -= p;
    EXPECT_TRUE(p == Kelvo_Point(0, 0));
    EXPECT_TRUE(Kelvo_Point(1, 2) + Kelvo_Point(3, 4) == Kelvo_Point(4, 6));
    EXPECT_TRUE(Kelvo_Point(1, 2) - Kelvo_Point(3, 4) == Kelvo_Point(-2, -2));
    Kelvo_Point w(INT32_MAX, 0);
    w.move(1, 0); // wraps as 32-bit two's complement, without undefined overflow
    EXPECT_EQ(w.x(), INT32_MIN);

    EXPECT_EQ(Kelvo_Point::distance(Kelvo_Point(0, 0), Kelvo_Point(3, 4)), 5.0f);
    // Far beyond 2^31 for the sum of squares: still the true distance.
    EXPECT_FLOAT_EQ(Kelvo_Point(INT32_MIN, 0).distance(Kelvo_Point(INT32_MAX, 0)), 4294967295.0f);

    EXPECT_TRUE(Kelvo_Point::midPoint(Kelvo_Point(-3, 0), Kelvo_Point(0, 0)) == Kelvo_Point(-2, 0));
    EXPECT_TRUE(Kelvo_Point(INT32_MAX, INT32_MIN).midPoint(Kelvo_Point(INT32_MAX, INT32_MIN)) ==
                Kelvo_Point(INT32_MAX, INT32_MIN));
}

TEST(Point, CopyHasItsOwnIdentityAndStatus) {
    Kelvo_Point a(70000, 0);
    Kelvo_Point::NtoB(a);
    ASSERT_EQ(a.Error(), -50);
    Kelvo_Point b(a);
    EXPECT_EQ(b.Error(), 0);
    EXPECT_STRNE(a.objUID(), b.objUID());
    std::unique_ptr<Kelvo_QTObj> c(b.clone());
    EXPECT_TRUE(c->isA("Kelvo_Point"));
    EXPECT_TRUE(*static_cast<Kelvo_Point*>(c.get()) == b);
}

// ---------------------------------------------------------------------------------------------
// Sizes and lines

TEST(Size, ComparisonsAndValidity) {
    struct Case {
        double w1, h1, w2, h2;
        bool lt, le, gt, ge, eq;
    };
    const Case cases[] = {
        {2, 3, 3, 4, true, true, false, false, false},   {2, 3, 3, 3, false, false, false, false, false},
        {1, 2, 1, 3, false, false, false, false, false}, {3, 4, 2, 3, false, false, true, true, false},
        {2, 3, 2, 3, false, true, false, true, true},
    };
    for (const Case& c : cases) {
        Kelvo_Size a(c.w1, c.h1), b(c.w2, c.h2);
        SCOPED_TRACE(testing::Message() << c.w1 << "x" << c.h1 << " vs " << c.w2 << "x" << c.h2);
        EXPECT_EQ(a < b, c.lt);
        EXPECT_EQ(a <= b, c.le);
        EXPECT_EQ(a > b, c.gt);
        EXPECT_EQ(a >= b, c.ge);
        EXPECT_EQ(a == b, c.eq);
    }
    Kelvo_Size nan(std::nan(""), 1);
    EXPECT_FALSE(nan == nan);

    Kelvo_Size zero(0, 5);
    EXPECT_FALSE(zero.qtObjIsValid());
    EXPECT_EQ(zero.clone(), nullptr);
    EXPECT_EQ(Kelvo_Size(4, 0).ratio(), 0.0);
    EXPECT_EQ(Kelvo_Size(4, 2).ratio(), 2.0);

    Kelvo_Size s(CGSize{1.5f, 2.5f});
    EXPECT_TRUE((s == CGSize{1.5f, 2.5f}));
    Kelvo_Point notASize(1, 1);
    s.copy(notASize);
    EXPECT_EQ(s.width(), 1.5);
    Kelvo_Size other(7, 8);
    s.copy(other);
    EXPECT_EQ(s.height(), 8.0);
}

TEST(Line, LengthCenterAndValidity) {
    Kelvo_Line line(Kelvo_Point(0, 0), Kelvo_Point(3, 4));
    EXPECT_EQ(line.length(), 5.0f);
    Kelvo_Point c(9, 9);
    line.center(c);
    EXPECT_TRUE(c == Kelvo_Point(1, 2));

    Kelvo_Line dot(Kelvo_Point(2, 2), Kelvo_Point(2, 2));
    EXPECT_FALSE(dot.qtObjIsValid());
    EXPECT_EQ(dot.clone(), nullptr);
    dot.center(c);
    EXPECT_TRUE(c == Kelvo_Point(0, 0));

    Kelvo_Line copy;
    copy = line;
    EXPECT_TRUE(copy == line);
    std::unique_ptr<Kelvo_QTObj> cl(line.clone());
    EXPECT_TRUE(*static_cast<Kelvo_Line*>(cl.get()) == line);
}

// ---------------------------------------------------------------------------------------------
// Contours

TEST(Contour, PointsAreOwnedCopies) {
    Kelvo_Contour c;
    EXPECT_EQ(c.count(), 0);
    Kelvo_Point& spare = c[0];
    EXPECT_TRUE(spare == Kelvo_Point(-1, -1));

    Kelvo_Point a(0, 0), b(1, 0), d(2, 1);
    EXPECT_EQ(c.add(&a), 0);
    c += b;
    c += d;
    ASSERT_EQ(c.count(), 3);
    a(50, 50); // the contour holds its own copy
    EXPECT_TRUE(c[0] == Kelvo_Point(0, 0));
    Kelvo_Point center;
    c.center(center);
    EXPECT_TRUE(center == Kelvo_Point(1, 0));

    EXPECT_EQ(c.add(nullptr), 9);
    EXPECT_EQ(c.count(), 3);

    {
        // Replacing a point takes a copy: the caller's stack object stays the caller's.
        Kelvo_Point local(7, 7);
        EXPECT_EQ(c.point(1, &local), 0);
        local(8, 8);
    }
    EXPECT_TRUE(c[1] == Kelvo_Point(7, 7));
    EXPECT_EQ(c.point(5, &b), 320);

    std::unique_ptr<Kelvo_Point> got(c.point(2));
    ASSERT_TRUE(got);
    EXPECT_TRUE(*got == Kelvo_Point(2, 1));
    EXPECT_EQ(c.point(3), nullptr);
    EXPECT_EQ(c.Error(), 320);

    c.isClosed() = true;
    Kelvo_Contour copy(c);
    EXPECT_TRUE(copy.isClosed());
    EXPECT_EQ(copy.count(), 3);
    EXPECT_NE(&copy[0], &c[0]);

    std::unique_ptr<Kelvo_Contour> sum(c + c);
    ASSERT_TRUE(sum);
    EXPECT_EQ(sum->count(), 6);
    EXPECT_EQ(c.count(), 3);

    EXPECT_EQ(c.remove(0), 0);
    EXPECT_EQ(c.count(), 2);
    EXPECT_EQ(c.clear(), 0);
    EXPECT_EQ(c.count(), 0);
    EXPECT_EQ(copy.count(), 3);

    Kelvo_Point p;
    copy.copy(p); // another type: status 10, nothing copied
    EXPECT_EQ(copy.Error(), 10);
    EXPECT_EQ(copy.count(), 3);
}

TEST(Contour, CenterSumsDoNotOverflow) {
    Kelvo_Contour c;
    Kelvo_Point p(INT32_MAX, INT32_MIN);
    c += p;
    c += p;
    Kelvo_Point m;
    c.center(m);
    EXPECT_TRUE(m == p);
}

TEST(Contour, DigitalLine) {
    struct Case {
        Kelvo_Point a, b;
        std::vector<std::pair<int, int>> expected;
    };
    const Case cases[] = {
        {Kelvo_Point(0, 0), Kelvo_Point(3, 1), {{0, 0}, {1, 0}, {2, 1}, {3, 1}}},
        {Kelvo_Point(0, 0), Kelvo_Point(-3, -1), {{0, 0}, {-1, 0}, {-2, -1}, {-3, -1}}},
        {Kelvo_Point(2, 5), Kelvo_Point(2, 2), {{2, 5}, {2, 4}, {2, 3}, {2, 2}}},
        {Kelvo_Point(0, 0), Kelvo_Point(1, 1), {{0, 0}, {1, 1}}},
    };
    for (const Case& c : cases) {
        Kelvo_Point a(c.a), b(c.b);
        std::unique_ptr<Kelvo_Contour> line(Kelvo_CreateInterpolatedLineDDA(a, b));
        ASSERT_TRUE(line);
        EXPECT_EQ(pointsOf(*line), c.expected);
    }
    Kelvo_Point o(0, 0), o2(0, 0);
    EXPECT_EQ(Kelvo_CreateInterpolatedLineDDA(o, o2), nullptr);
    // A line whose step count no 16-bit plane holds is refused instead of exhausting memory.
    Kelvo_Point far1(INT32_MIN, 0), far2(INT32_MAX, 0);
    EXPECT_EQ(Kelvo_CreateInterpolatedLineDDA(far1, far2), nullptr);
}

// ---------------------------------------------------------------------------------------------
// Rectangles

TEST(Rect, ConstructionFromEverySource) {
    Kelvo_Rect cg(CGRectMake(10.9f, 20.2f, 100.7f, 50.5f));
    expectRect(*cg.rPtr(), 10, 20, 110, 70);
    Kelvo_Rect neg(CGRectMake(-1.5f, -2.5f, 3.9f, 4.9f));
    expectRect(*neg.rPtr(), -1, -2, 2, 2);

    Kelvo_Rect wh(640, 480);
    expectRect(*wh.rPtr(), 0, 0, 640, 480);
    Kelvo_Rect sz(Kelvo_Size(10.9, 20.9));
    expectRect(*sz.rPtr(), 0, 0, 10, 20);

    Rect qd = R(1, 2, 3, 4);
    expectRect(*Kelvo_Rect(qd).rPtr(), 2, 1, 4, 3);
    expectRect(*Kelvo_Rect(&qd).rPtr(), 2, 1, 4, 3);
    Kelvo_Rect fromNull(static_cast<const Rect*>(nullptr));
    expectRect(*fromNull.rPtr(), 0, 0, 0, 0);
    Kelvo_Rect self(qd);
    self.rPtr(self.rPtr()); // its own field as source: nothing
    expectRect(*self.rPtr(), 2, 1, 4, 3);

    // An image description: width and height of its record.
    Handle h = NewHandleClear(Size(sizeof(ImageDescription)));
    auto desc = reinterpret_cast<ImageDescriptionHandle>(h);
    (*desc)->width = 512;
    (*desc)->height = 256;
    expectRect(*Kelvo_Rect(desc).rPtr(), 0, 0, 512, 256);
    // A handle too short to hold them is not read.
    SetHandleSize(h, 20);
    Kelvo_Rect shortDesc(desc);
    EXPECT_EQ(shortDesc.Error(), -50);
    expectRect(*shortDesc.rPtr(), 0, 0, 0, 0);
    DisposeHandle(h);

    // A picture: its frame.
    Handle ph = NewHandleClear(Size(sizeof(Picture)));
    auto pic = reinterpret_cast<PicHandle>(ph);
    (*pic)->picFrame = R(5, 6, 7, 8);
    expectRect(*Kelvo_Rect(pic).rPtr(), 6, 5, 8, 7);
    DisposeHandle(ph);
    Kelvo_Rect noPic(static_cast<PicHandle>(nullptr));
    EXPECT_EQ(noPic.Error(), 0);

    EXPECT_EQ(Kelvo_Rect(static_cast<CGrafPtr>(nullptr)).Error(), -50);
    EXPECT_EQ(Kelvo_Rect(static_cast<ImageDescriptionHandle>(nullptr)).Error(), -50);
    EXPECT_EQ(Kelvo_Rect(static_cast<GraphicsImportComponent>(nullptr)).Error(), -50);

    // Null movies, tracks and media reset the rect without a status.
    for (int i = 0; i < 3; ++i) {
        Kelvo_Rect r(qd);
        if (i == 0) r = static_cast<Movie>(nullptr);
        if (i == 1) r = static_cast<Track>(nullptr);
        if (i == 2) r = static_cast<Media>(nullptr);
        expectRect(*r.rPtr(), 0, 0, 0, 0);
        EXPECT_EQ(r.Error(), 0);
    }
}

TEST(Rect, EdgesThatWouldLeaveSixteenBitsAreRefused) {
    // Each source gives -50 and leaves the rect as it was rather than keeping the low 16 bits.
    EXPECT_EQ(Kelvo_Rect(70000, 10).Error(), -50);
    expectRect(*Kelvo_Rect(70000, 10).rPtr(), 0, 0, 0, 0);
    EXPECT_EQ(Kelvo_Rect(10, -40000).Error(), -50);
    EXPECT_EQ(Kelvo_Rect(Kelvo_Size(1e12, 1)).Error(), -50);
    EXPECT_EQ(Kelvo_Rect(Kelvo_Size(std::nan(""), 1)).Error(), -50);
    EXPECT_EQ(Kelvo_Rect(CGRectMake(30000, 0, 5000, 1)).Error(), -50);
    EXPECT_EQ(Kelvo_Rect(CGRectMake(std::numeric_limits<float>::infinity(), 0, 1, 1)).Error(), -50);

    Kelvo_Rect r(R(0, 30000, 10, 30010));
    r.width(5000);
    EXPECT_EQ(r.Error(), -50);
    EXPECT_EQ(r.right(), 30010);
    Kelvo_Rect h(R(-30000, 0, 0, 10));
    h.height(-5000);
    EXPECT_EQ(h.Error(), -50);
    EXPECT_EQ(h.bottom(), 0);

    Kelvo_Rect m(R(0, 0, 10, 20));
    m.move(32760, 0, true);
    EXPECT_EQ(m.Error(), -50);
    expectRect(*m.rPtr(), 0, 0, 20, 10);
    Kelvo_Rect m2(R(0, 0, 10, 20));
    m2.move(-32760, 0, false);
    EXPECT_EQ(m2.Error(), -50);

    Kelvo_Rect c(R(0, 0, 10, 10));
    Kelvo_Point farCorner(40000, 5);
    c.setBottomCorner(farCorner);
    EXPECT_EQ(c.Error(), -50);
    expectRect(*c.rPtr(), 0, 0, 10, 10);
    // A point beyond the plane is outside, not folded back into it (its low 16 bits are 5).
    EXPECT_FALSE(Kelvo_Rect(R(-30000, -30000, 10, 10)).isInRect(Kelvo_Point(-65536 + 5, 0)));

    // Width and height of a rect spanning the whole plane are kept in 32 bits.
    Kelvo_Rect whole(R(-32768, -32768, 32767, 32767));
    EXPECT_EQ(whole.width(), 65535);
    EXPECT_EQ(whole.height(), 65535);
}

TEST(Rect, SizeCornersAndMove) {
    Kelvo_Rect r(R(0, 0, 10, 20));
    r.move(100, 100, false);
    expectRect(*r.rPtr(), 80, 90, 100, 100);
    r.move(5, 6, true);
    expectRect(*r.rPtr(), 5, 6, 25, 16);
    r(1, 2, true);
    expectRect(*r.rPtr(), 1, 2, 25, 16);
    r(30, 40, false);
    expectRect(*r.rPtr(), 1, 2, 30, 40);

    Kelvo_Rect c(R(0, 0, 5, 5));
    int32_t h = 0, v = 0;
    c.center(&h, &v);
    EXPECT_EQ(h, 2);
    EXPECT_EQ(v, 2);
    c.center(nullptr, &v);
    Kelvo_Rect inverted(R(0, 0, -3, -3)); // arithmetic shift rounds toward minus infinity
    inverted.center(&h, &v);
    EXPECT_EQ(h, -2);

    Kelvo_Point p(3, 4);
    c.setTopCorner(p);
    Kelvo_Point q;
    c.getTopCorner(q);
    EXPECT_TRUE(q == Kelvo_Point(3, 4));
    c.getBottomCorner(q);
    EXPECT_TRUE(q == Kelvo_Point(5, 5));

    Kelvo_Rect s(R(10, 10, 20, 50));
    EXPECT_EQ(s.size().width(), 40.0);
    EXPECT_EQ(s.rRatio(), 4.0);
    s.size(Kelvo_Size(5.9, 6.9));
    expectRect(*s.rPtr(), 10, 10, 15, 16);
    s.width(100);
    s.height(200);
    expectRect(*s.rPtr(), 10, 10, 110, 210);
    EXPECT_EQ(s.widthAsFixed(), 100 << 16);

    Kelvo_Rect flat(R(0, 0, 0, 10));
    EXPECT_FALSE(flat.qtObjIsValid());
    EXPECT_EQ(flat.clone(), nullptr);
    EXPECT_EQ(flat.rRatio(), 0.0);

    CGRect cg = Kelvo_Rect(R(1, 2, 11, 22));
    EXPECT_EQ(cg.origin.x, 2.0f);
    EXPECT_EQ(cg.origin.y, 1.0f);
    EXPECT_EQ(cg.size.width, 20.0f);
    EXPECT_EQ(cg.size.height, 10.0f);
}

TEST(Rect, ContainmentAndComparison) {
    struct Case {
        Rect inner, outer;
        bool strict, loose;
    };
    const Case cases[] = {
        {R(1, 1, 9, 9), R(0, 0, 10, 10), true, true},
        {R(0, 0, 10, 10), R(0, 0, 10, 10), false, true},
        {R(0, 0, 11, 10), R(0, 0, 10, 10), false, false},
        {R(5, 5, 5, 9), R(0, 0, 10, 10), false, false}, // empty inner
        {R(1, 1, 9, 9), R(0, 0, 0, 10), false, false},  // invalid outer
    };
    for (const Case& c : cases) {
        Kelvo_Rect in(c.inner), out(c.outer);
        EXPECT_EQ(in.isInRect(out, true), c.strict);
        EXPECT_EQ(in.isInRect(out, false), c.loose);
    }
    Kelvo_Rect r(R(0, 0, 10, 10));
    EXPECT_TRUE(r.isInRect(Kelvo_Point(0, 0)));
    EXPECT_TRUE(r.isInRect(Kelvo_Point(9, 9)));
    EXPECT_FALSE(r.isInRect(Kelvo_Point(10, 5)));
    EXPECT_FALSE(r.isInRect(Kelvo_Point(5, 10)));

    Kelvo_Rect square(10, 10), tall(5, 20);
    EXPECT_TRUE(square < tall); // lower
    EXPECT_TRUE(square > tall); // wider
    EXPECT_TRUE(Kelvo_Rect(R(1, 2, 3, 4)) == Kelvo_Rect(R(1, 2, 3, 4)));
    EXPECT_TRUE(Kelvo_Rect(R(1, 2, 3, 4)) != Kelvo_Rect(R(1, 2, 3, 5)));
}

TEST(Rect, ByteOrder) {
    Kelvo_Rect r(R(0x0102, 0x0304, 0x0506, 0x0708));
    Rect be = r.nativeToBig();
    EXPECT_EQ(uint16_t(be.top), 0x0201);
    EXPECT_EQ(uint16_t(be.left), 0x0403);
    EXPECT_EQ(uint16_t(be.bottom), 0x0605);
    EXPECT_EQ(uint16_t(be.right), 0x0807);
    Kelvo_Rect::NtoB(r);
    EXPECT_EQ(uint16_t(r.top()), 0x0201);
    Kelvo_Rect invalid(R(5, 5, 5, 5));
    Kelvo_Rect::NtoB(invalid);
    EXPECT_EQ(invalid.top(), 5);
    Rect raw = R(1, 2, 3, 4);
    Kelvo_Rect::BtoN(raw);
    EXPECT_EQ(raw.top, 0x0100);
}

TEST(Rect, FittingKeepsProportionsCentred) {
    struct Case {
        Rect area, shape;
        int left, top, right, bottom;
    };
    const Case cases[] = {
        // A 200 x 100 shape in a 100 x 100 area, and a 100 x 200 one.
        {R(0, 0, 100, 100), R(0, 0, 100, 200), 0, 25, 100, 75},
        {R(0, 0, 100, 100), R(0, 0, 200, 100), 25, 0, 75, 100},
        // Offset area, equal proportions: the area itself.
        {R(10, 20, 110, 220), R(0, 0, 50, 100), 20, 10, 220, 110},
        // 4:3 into 16:9 (height limits, w = trunc(1.3333334f * 1080) = 1440).
        {R(0, 0, 1080, 1920), R(0, 0, 480, 640), 240, 0, 1680, 1080},
        // 3:1 into 10 x 10: h = trunc((1 / 3.0f) * 10) = 3, dy = 3.
        {R(0, 0, 10, 10), R(0, 0, 1, 3), 0, 3, 10, 6},
        // An area spanning the whole plane still centres (sizes are kept in 32 bits).
        {R(-32768, -32768, 32767, 32767), R(0, 0, 10, 10), -32768, -32768, 32767, 32767},
        // A shape without height: no width-to-height ratio, a flat rect across the area.
        {R(0, 0, 100, 100), R(0, 0, 0, 50), 0, 50, 100, 50},
        // A shape without width or height: an empty rect in the middle.
        {R(0, 0, 100, 100), R(0, 0, 0, 0), 50, 0, 50, 100},
    };
    for (const Case& c : cases) {
        Rect out{};
        Kelvo_RectScaleInRect(&c.area, &c.shape, &out);
        SCOPED_TRACE(testing::Message()
                     << "area " << c.area.right - c.area.left << "x" << c.area.bottom - c.area.top);
        expectRect(out, c.left, c.top, c.right, c.bottom);
    }

    Kelvo_Rect area(100, 100), shape(200, 100);
    std::unique_ptr<Kelvo_Rect> fitted(area.fitToRect(shape));
    ASSERT_TRUE(fitted);
    expectRect(*fitted->rPtr(), 0, 25, 100, 75);
    Kelvo_Rect result;
    Kelvo_Rect::scaleToFit(shape, area, result);
    EXPECT_TRUE(result == *fitted);

    Kelvo_Rect empty;
    EXPECT_EQ(area.fitToRect(empty), nullptr);
    EXPECT_EQ(area.Error(), 9);

    Rect dst = R(1, 1, 1, 1);
    Kelvo_RectCopy(&dst, nullptr);
    expectRect(dst, 0, 0, 0, 0);
    Rect src = R(1, 2, 3, 4);
    Kelvo_RectCopy(&dst, &src);
    expectRect(dst, 2, 1, 4, 3);
    Kelvo_RectCopy(nullptr, &src);
}

TEST(Rect, CopyCloneAndTypeTests) {
    Kelvo_Rect a(R(1, 2, 3, 4));
    Kelvo_Rect b;
    b.copy(a);
    EXPECT_TRUE(a == b);
    Kelvo_Point p;
    b.copy(p); // not a rect: nothing
    EXPECT_TRUE(a == b);
    std::unique_ptr<Kelvo_QTObj> c(a.clone());
    ASSERT_TRUE(c);
    EXPECT_TRUE(c->isA("Kelvo_Rect"));
    EXPECT_FALSE(c->isA("Kelvo_Point"));
    EXPECT_EQ(a.qtObjReference(), static_cast<void*>(a.rPtr()));
    a.defaultStatus();
    expectRect(*a.rPtr(), 0, 0, 0, 0);
}
