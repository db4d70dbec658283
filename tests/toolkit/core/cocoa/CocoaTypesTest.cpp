#include "KelvoCoreObjectsTypes.h"
#include "PlatformCocoa.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace {

NSString* str(const char* s) {
    return NSString::stringWithUTF8String(s);
}

std::string text(const Kelvo_OSType& t) {
    NSString* s = static_cast<NSString*>(t);
    return s ? s->UTF8String() : "<null>";
}

void expectTime(QTTime t, int64_t value, int32_t scale) {
    EXPECT_EQ(t.timeValue, value);
    EXPECT_EQ(t.timeScale, scale);
    EXPECT_EQ(t.flags, 0);
}

void expectRange(const Kelvo_TimeRange64& r, int32_t scale, double start, double duration) {
    EXPECT_EQ(r.scale(), scale);
    EXPECT_EQ(r.start(), start);
    EXPECT_EQ(r.duration(), duration);
}

} // namespace

TEST(CocoaOSType, StringRoundTrips) {
    NSAutoreleasePool pool;
    for (uint32_t code : {FOUR_CHAR_CODE("abcd"), FOUR_CHAR_CODE("url "), 0xA9787971u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(code);
        Kelvo_OSType t(code);
        Kelvo_OSType back;
        back = static_cast<NSString*>(t);
        EXPECT_EQ(back.getOSType(), code);
        EXPECT_STREQ(back.stringValue(), t.stringValue());
    }
    EXPECT_EQ(text(Kelvo_OSType(FOUR_CHAR_CODE("alis"))), "alis");
    EXPECT_EQ(text(Kelvo_OSType()), "");

    // Only four characters make a code; a null string changes nothing.
    Kelvo_OSType t(FOUR_CHAR_CODE("abcd"));
    t = static_cast<NSString*>(nullptr);
    EXPECT_EQ(t.getOSType(), FOUR_CHAR_CODE("abcd"));
    t = str("abc");
    EXPECT_EQ(t.getOSType(), 0u);
    EXPECT_STREQ(t.stringValue(), "");
    t = str("wxyz");
    EXPECT_EQ(t.getOSType(), FOUR_CHAR_CODE("wxyz"));
    t = str("abcde");
    EXPECT_EQ(t.getOSType(), 0u);
}

TEST(CocoaTimeRange64, ToQTTimeRange) {
    Kelvo_TimeRange64 r(300, 600);
    r.scale() = 600;
    QTTimeRange q = r;
    expectTime(q.time, 300, 600);
    expectTime(q.duration, 600, 600);
    expectTime(r.startInQTTime(), 300, 600);
    expectTime(r.durationInQTTime(), 600, 600);
    expectTime(r.endInQTTime(), 900, 600);
    QTTimeRange viaCall{};
    r.toQTTimeRange(viaCall);
    EXPECT_TRUE(QTEqualTimeRanges(viaCall, q));

    // Without a positive scale both are the zero time, whatever the values.
    for (int32_t scale : {0, -600}) {
        SCOPED_TRACE(scale);
        Kelvo_TimeRange64 unscaled(300, 600);
        unscaled.scale() = scale;
        QTTimeRange z = unscaled;
        EXPECT_TRUE(QTEqualTimes(z.time, QTZeroTime));
        EXPECT_TRUE(QTEqualTimes(z.duration, QTZeroTime));
        EXPECT_TRUE(QTEqualTimes(unscaled.endInQTTime(), QTZeroTime));
    }

    // Values are truncated toward zero; NaN gives 0 and values beyond 64 bits the nearest limit.
    Kelvo_TimeRange64 odd(2.9, std::nan(""));
    odd.scale() = 10;
    expectTime(odd.startInQTTime(), 2, 10);
    expectTime(odd.durationInQTTime(), 0, 10);
    odd.start() = -1e300;
    odd.duration() = std::numeric_limits<double>::infinity();
    expectTime(odd.startInQTTime(), INT64_MIN, 10);
    expectTime(odd.durationInQTTime(), INT64_MAX, 10);
}

TEST(CocoaTimeRange64, FromQTTimeRange) {
    Kelvo_TimeRange64 r(QTMakeTimeRange(QTMakeTime(300, 600), QTMakeTime(600, 600)));
    expectRange(r, 600, 300, 600);
    EXPECT_EQ(r.endInSeconds(), 1.5);

    // A duration in another scale is brought to the time's scale.
    r = QTMakeTimeRange(QTMakeTime(30, 30), QTMakeTime(3, 1));
    expectRange(r, 30, 30, 90);
    // A scale-0 range comes back as the zero time's scale 1.
    Kelvo_TimeRange64 unscaled(300, 600);
    Kelvo_TimeRange64 back{QTTimeRange(unscaled)};
    expectRange(back, 1, 0, 0);
}

TEST(CocoaTimeRange64, TextRoundTripAndNullStrings) {
    NSAutoreleasePool pool;
    Kelvo_TimeRange64 r(600, 1200);
    r.scale() = 600;
    NSString* s = static_cast<NSString*>(r);
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(s->UTF8String(), "0:00:00:01.00/600~0:00:00:02.00/600");
    Kelvo_TimeRange64 parsed(s);
    expectRange(parsed, 600, 600, 1200);
    EXPECT_TRUE(parsed == r);

    Kelvo_TimeRange64 unscaled(5, 6);
    EXPECT_STREQ(static_cast<NSString*>(unscaled)->UTF8String(), "0:00:00:00.00/1~0:00:00:00.00/1");

    // A null string changes nothing; a text the parse cannot read gives the zero range.
    parsed = static_cast<NSString*>(nullptr);
    expectRange(parsed, 600, 600, 1200);
    Kelvo_TimeRange64 fromNull(static_cast<NSString*>(nullptr));
    expectRange(fromNull, 0, 0, 0);
    parsed = str("one second");
    expectRange(parsed, 1, 0, 0);
    parsed = str("1/30~2/30");
    expectRange(parsed, 30, 30, 60);
}
