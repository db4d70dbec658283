#include "PlatformQTTime.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string text(QTTime t) {
    return QTStringFromTime(t)->UTF8String();
}

QTTime parse(const char* s) {
    return QTTimeFromString(NSString::stringWithUTF8String(s));
}

void expectTime(QTTime t, int64_t value, int32_t scale, int32_t flags = 0) {
    EXPECT_EQ(t.timeValue, value);
    EXPECT_EQ(t.timeScale, scale);
    EXPECT_EQ(t.flags, flags);
}

} // namespace

TEST(QTTime, TextFormsAndTheirRoundTrip) {
    NSAutoreleasePool pool;
    struct Case {
        QTTime time;
        const char* text;
    } cases[] = {
        {QTMakeTime(0, 600), "0:00:00:00.00/600"},
        {QTMakeTime(600, 600), "0:00:00:01.00/600"},
        {QTMakeTime(900, 600), "0:00:00:01.300/600"},
        {QTMakeTime(1, 600), "0:00:00:00.01/600"},
        {QTMakeTime(((2 * 24 + 3) * 60 + 4) * 60 + 5, 1), "2:03:04:05.00/1"},
        {QTMakeTime(-900, 600), "-0:00:00:01.300/600"},
        // Without a positive scale the whole value is leftover units.
        {QTMakeTime(600, 0), "0:00:00:00.600/0"},
        {QTMakeTime(-7, -3), "-0:00:00:00.07/-3"},
        {QTMakeTime(INT64_MAX, 1), "106751991167300:15:30:07.00/1"},
        {QTMakeTime(INT64_MIN, 1), "-106751991167300:15:30:08.00/1"},
        {QTMakeTime(INT64_MIN, INT32_MAX), "-49710:06:28:18.02/2147483647"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(text(c.time), c.text);
        EXPECT_TRUE(QTEqualTimes(parse(c.text), c.time));
    }
    EXPECT_EQ(text(QTIndefiniteTime), "INDEFINITE");
    expectTime(parse("INDEFINITE"), 0, 1, kQTTimeIsIndefinite);
}

TEST(QTTime, ParseTakesShortFormsAndRefusesTheRest) {
    NSAutoreleasePool pool;
    struct Good {
        const char* text;
        int64_t value;
        int32_t scale;
    } good[] = {
        {"90/1", 90, 1},
        {"1:30/1", 90, 1},
        {"1:30.5/10", 905, 10},
        {"00:00:00:10.00/1", 10, 1},
        {" 0:00:00:01.00/600\n", 600, 600},
        {"1:00:00:00.0/1", 86400, 1},
        {"-1.5/10", -15, 10},
        // Leftover units at or past the scale still count.
        {"0:00:00:00.900/600", 900, 600},
    };
    for (const Good& g : good) {
        SCOPED_TRACE(g.text);
        expectTime(parse(g.text), g.value, g.scale);
    }
    const char* bad[] = {"",
                         "abc",
                         "1.0",
                         "1.0/",
                         "1./600",
                         "/600",
                         "0:00:00:01.00/600x",
                         "1:2:3:4:5/1",
                         "1::2/1",
                         "+1/1",
                         "1/3000000000",
                         "99999999999999999999/1",
                         "106751991167301:0:0:0/1",
                         "-106751991167300:15:30:08.01/1",
                         "indefinite",
                         "1 /1"};
    for (const char* b : bad) {
        SCOPED_TRACE(b);
        EXPECT_TRUE(QTEqualTimes(parse(b), QTZeroTime));
    }
    EXPECT_TRUE(QTEqualTimes(QTTimeFromString(nullptr), QTZeroTime));
}

TEST(QTTime, RangeTextAndParse) {
    NSAutoreleasePool pool;
    QTTimeRange r = QTMakeTimeRange(QTMakeTime(300, 600), QTMakeTime(600, 600));
    NSString* s = QTStringFromTimeRange(r);
    EXPECT_STREQ(s->UTF8String(), "0:00:00:00.300/600~0:00:00:01.00/600");
    EXPECT_TRUE(QTEqualTimeRanges(QTTimeRangeFromString(s), r));

    const QTTimeRange zero{QTZeroTime, QTZeroTime};
    for (const char* b :
         {"0:00:00:00.300/600", "0:00:00:00.300/600~", "~0:00:00:01.00/600", "x~1/1", "1/1~1/1~1/1"}) {
        SCOPED_TRACE(b);
        EXPECT_TRUE(QTEqualTimeRanges(QTTimeRangeFromString(NSString::stringWithUTF8String(b)), zero));
    }
    EXPECT_TRUE(QTEqualTimeRanges(QTTimeRangeFromString(nullptr), zero));
}

TEST(QTTime, ScalingAndSums) {
    // Rounded to the nearest unit, halves away from zero.
    expectTime(QTMakeTimeScaled(QTMakeTime(1, 3), 2), 1, 2); // 0.667
    expectTime(QTMakeTimeScaled(QTMakeTime(1, 4), 2), 1, 2); // 0.5
    expectTime(QTMakeTimeScaled(QTMakeTime(-1, 4), 2), -1, 2);
    expectTime(QTMakeTimeScaled(QTMakeTime(1, 5), 2), 0, 2); // 0.4
    expectTime(QTMakeTimeScaled(QTMakeTime(300, 600), 30), 15, 30);
    expectTime(QTMakeTimeScaled(QTMakeTime(INT64_MAX, 1), 600), INT64_MAX, 600);
    expectTime(QTMakeTimeScaled(QTMakeTime(5, 0), 600), 0, 600);
    expectTime(QTMakeTimeScaled(QTMakeTime(5, 600), 0), 0, 0);
    expectTime(QTMakeTimeScaled(QTIndefiniteTime, 600), 0, 600, kQTTimeIsIndefinite);

    expectTime(QTTimeRangeEnd(QTMakeTimeRange(QTMakeTime(300, 600), QTMakeTime(600, 600))), 900, 600);
    // Different scales meet at the finer one.
    expectTime(QTTimeRangeEnd(QTMakeTimeRange(QTMakeTime(1, 1), QTMakeTime(300, 600))), 900, 600);
    expectTime(QTTimeIncrement(QTMakeTime(INT64_MAX, 600), QTMakeTime(1, 600)), INT64_MAX, 600);
    expectTime(QTTimeIncrement(QTMakeTime(1, 600), QTIndefiniteTime), 0, 1, kQTTimeIsIndefinite);
    // Scale 0 meets scale 0 as raw units.
    expectTime(QTTimeRangeEnd(QTMakeTimeRange(QTMakeTime(2, 0), QTMakeTime(3, 0))), 5, 0);
}
