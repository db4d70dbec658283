#include "KelvoCoreGraphics.h"
#include "PlatformCocoaGeometry.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(CocoaPoint, ConvertsAsTheCoreGraphicsForm) {
    struct Case {
        NSPoint ns;
        int32_t x, y;
    } cases[] = {
        {{-1.7f, 2.9f}, -1, 2},
        {{0.f, -0.99f}, 0, 0},
        {{NAN, 1e20f}, 0, INT32_MAX},
        {{-1e20f, 70000.5f}, INT32_MIN, 70000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.ns.x << ", " << c.ns.y);
        Kelvo_Point p(c.ns);
        EXPECT_EQ(p.x(), c.x);
        EXPECT_EQ(p.y(), c.y);
        Kelvo_Point q(5, 5);
        q = c.ns;
        EXPECT_EQ(q, p);
        EXPECT_EQ(p == c.ns, p == NSPointToCGPoint(c.ns));
        EXPECT_TRUE(p == c.ns);
        EXPECT_FALSE(p != c.ns);
    }
    EXPECT_TRUE(Kelvo_Point(3, 4) != NSMakePoint(3.f, 5.f));

    NSPoint out = Kelvo_Point(-3, 16777217);
    EXPECT_EQ(out.x, -3.f);
    EXPECT_EQ(out.y, 16777216.f); // as the CGPoint form: the nearest float
}

TEST(CocoaSize, ConvertsAsTheCoreGraphicsForm) {
    Kelvo_Size s(NSMakeSize(0.1f, 2.5f));
    EXPECT_EQ(s.width(), double(0.1f));
    EXPECT_EQ(s.height(), 2.5);
    EXPECT_TRUE(s == NSMakeSize(0.1f, 2.5f));
    EXPECT_FALSE(s != NSMakeSize(0.1f, 2.5f));

    Kelvo_Size t(0.1, 3.0);
    EXPECT_FALSE(t == NSMakeSize(0.1f, 3.f)); // 0.1 is not the float 0.1 widened
    NSSize out = t;
    EXPECT_EQ(out.width, 0.1f);
    EXPECT_EQ(out.height, 3.f);
    t = NSMakeSize(4.f, NAN);
    EXPECT_EQ(t.width(), 4.0);
    EXPECT_TRUE(std::isnan(t.height()));
    EXPECT_TRUE(t != NSMakeSize(4.f, NAN));
}
