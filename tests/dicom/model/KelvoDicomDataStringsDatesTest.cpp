#include "KelvoDicomDataStringsDates.h"
#include "KelvoDicomDataStringsTestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace stringstest;

namespace {

TEST(Dates, TextsOfDates) {
    struct Case {
        const char* text;
        uint32_t year, month, day;
        bool valid;
        const char* dicom;
        const char* sql;
    };
    const Case cases[] = {
        {"20240229", 2024, 2, 29, true, "20240229", "2024-02-29"},
        {"2024-02-29", 2024, 2, 29, true, "20240229", "2024-02-29"},
        {"2024.02.29", 2024, 2, 29, true, "20240229", "2024-02-29"},
        {"20230229", 2023, 2, 0, false, "20230200", ""}, // no 29 February in 2023
        {"20241301", 2024, 0, 1, false, "20240001", ""},
        {"2024", 0, 0, 0, false, "", ""},
        {"-123-01-01", 0, 0, 0, false, "", ""}, // no sign is read into a field
        {"abc", 0, 0, 0, false, "", ""},
        {"", 0, 0, 0, false, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        KelvoDicomDataDate date(c.text);
        EXPECT_EQ(date.year(), c.year);
        EXPECT_EQ(date.month(), c.month);
        EXPECT_EQ(date.day(), c.day);
        EXPECT_EQ(date.qtObjIsValid(), c.valid);
        EXPECT_STREQ(date.stringValue(), c.dicom);
        EXPECT_STREQ(date.sqlDate(), c.sql);
    }
}

TEST(Dates, NumbersAndSetters) {
    EXPECT_EQ(KelvoDicomDataDate(2000, 2, 29).day(), 29u);
    EXPECT_EQ(KelvoDicomDataDate(1900, 2, 29).day(), 0u);
    EXPECT_EQ(KelvoDicomDataDate(2023, 4, 31).day(), 0u);
    EXPECT_EQ(KelvoDicomDataDate(2023, 4, 30).day(), 30u);
    KelvoDicomDataDate date(2024, 3, 7);
    EXPECT_STREQ(date.sqlDate(), "2024-03-07");
    EXPECT_STREQ(date.stringValue(), "20240307");
    date.month(13);
    date.year(10000); // would not fit the four digits of the text
    EXPECT_STREQ(date.stringValue(), "20240307");
    // A text that does not read leaves the date as it was.
    date.stringValue("bad");
    EXPECT_STREQ(date.stringValue(), "20240307");
    date.sqlDate("1999-12-31");
    EXPECT_STREQ(date.stringValue(), "19991231");
    EXPECT_EQ(date.paddingByte(), 0);
    EXPECT_EQ(date.maxSizeAllowed(), 8u);
    // An empty date is empty: never today.
    KelvoDicomDataDate empty;
    EXPECT_STREQ(empty.stringValue(), "");
    EXPECT_FALSE(empty.qtObjIsValid());
    date.defaultStatus();
    EXPECT_STREQ(date.stringValue(), "");
}

// Empty dates, times and date-times read from a file are written back empty.
TEST(Dates, EmptyValuesFromAFileStayEmpty) {
    struct Case {
        const char* vr;
        std::string file;
        std::string written;
    };
    const Case cases[] = {
        {"DA", "", element("DA", "")},
        {"TM", "", element("TM", "")},
        {"DT", "", element("DT", "")},
        {"DA", "20240101\\ ", element("DA", "20240101\\ ")},
        {"DA", "\\20240101 ", element("DA", "\\20240101 ")},
        {"TM", "\\101500 ", element("TM", "\\101500 ")},
        {"DA", "20240307", element("DA", "20240307")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.vr) + " [" + c.file + "]");
        auto node = nodeFromFile(c.vr, c.file);
        std::unique_ptr<KelvoDicomDataElementValue> value(
            KelvoDicomDataElementValueString::createWithVR(c.vr, nullptr));
        ASSERT_TRUE(value->value(node.get()));
        EXPECT_EQ(encoded(*value), c.written);
        // And so are their copies.
        std::unique_ptr<Kelvo_QTObj> clone(value->clone());
        EXPECT_EQ(encoded(*static_cast<KelvoDicomDataElementValue*>(clone.get())), c.written);
    }
}

TEST(Times, TextsOfTimes) {
    struct Case {
        const char* text;
        uint32_t hours, minutes, seconds, microseconds;
        const char* dicom;
    };
    const Case cases[] = {
        {"1015", 10, 15, 0, 0, "101500"},
        {"10", 10, 0, 0, 0, "100000"},
        {"101530.250000", 10, 15, 30, 250000, "101530.250000"},
        {"101530.25", 10, 15, 30, 250000, "101530.250000"}, // a fraction, not 25 microseconds
        {"101530.000001", 10, 15, 30, 1, "101530.000001"},
        {"101530.1234567", 10, 15, 30, 123456, "101530.123456"},
        {"235959.999999", 23, 59, 59, 999999, "235959.999999"},
        {"000000", 0, 0, 0, 0, "000000"},
        {"10:15:30.250000", 10, 15, 30, 250000, "101530.250000"},
        {"10:15:30.5", 10, 15, 30, 500000, "101530.500000"},
        {"10:15:30", 10, 15, 30, 0, "101530"},
        {"", 0, 0, 0, 0, ""},
        {"xyz", 0, 0, 0, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        KelvoDicomDataTime time(c.text);
        EXPECT_EQ(time.hours(), c.hours);
        EXPECT_EQ(time.minutes(), c.minutes);
        EXPECT_EQ(time.seconds(), c.seconds);
        EXPECT_EQ(time.microseconds(), c.microseconds);
        EXPECT_STREQ(time.stringValue(), c.dicom);
        // Written and read again, the time is the same.
        KelvoDicomDataTime again(time.stringValue());
        EXPECT_STREQ(again.stringValue(), c.dicom);
    }
}

TEST(Times, SettersAndTheColonForm) {
    KelvoDicomDataTime time(8, 30, 0);
    EXPECT_STREQ(time.sqlTime(), "08:30:00");
    // With ':' only a complete, in-range text replaces fields; the others stay.
    time.stringValue("25:00:00");
    EXPECT_EQ(time.hours(), 8u);
    EXPECT_EQ(time.minutes(), 0u);
    time.stringValue("10:15");
    EXPECT_STREQ(time.stringValue(), "080000");
    time.microseconds(5);
    time.sqlTime("09:10:11");
    EXPECT_STREQ(time.stringValue(), "091011.000005");
    time.hours(24);
    time.minutes(60);
    time.seconds(61);
    time.microseconds(1000000);
    EXPECT_STREQ(time.stringValue(), "091011.000005");
    time.seconds(60); // a leap second
    EXPECT_EQ(time.seconds(), 60u);
    KelvoDicomDataTime empty;
    EXPECT_STREQ(empty.stringValue(), "");
    empty.hours(0);
    EXPECT_STREQ(empty.stringValue(), "000000"); // midnight, set
    // The current time is a time of the day (not compared with the clock).
    KelvoDicomDataTime now;
    now.useCurrentTime();
    EXPECT_LT(now.hours(), 24u);
    EXPECT_EQ(now.microseconds(), 0u);
    EXPECT_EQ(std::strlen(now.stringValue()), 6u);
}

TEST(DateTimes, NodesOfDateTimes) {
    struct Case {
        const char* file;
        uint32_t year, month, day, hours, minutes, seconds, microseconds;
        int32_t offsetHours;
        uint32_t offsetMinutes;
        const char* dicom;
    };
    const Case cases[] = {
        {"20240307101530.000001+0100", 2024, 3, 7, 10, 15, 30, 1, 1, 0, "20240307101530.000001+0100"},
        {"20240307", 2024, 3, 7, 0, 0, 0, 0, 0, 0, "20240307000000"},
        {"20240307101530.25-0030", 2024, 3, 7, 10, 15, 30, 250000, 0, 30, "20240307101530.250000-0030"},
        {"20240307101530-0500", 2024, 3, 7, 10, 15, 30, 0, -5, 0, "20240307101530-0500"},
        {"20240307101530+0000", 2024, 3, 7, 10, 15, 30, 0, 0, 0, "20240307101530+0000"},
        {"20240307101530+0545", 2024, 3, 7, 10, 15, 30, 0, 5, 45, "20240307101530+0545"},
        {"", 0, 0, 0, 0, 0, 0, 0, 0, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        std::string bytes = c.file;
        if (bytes.size() % 2) bytes += ' ';
        auto node = nodeFromFile("DT", bytes);
        KelvoDicomDataDateTime dt(node.get());
        EXPECT_EQ(dt.date().year(), c.year);
        EXPECT_EQ(dt.date().month(), c.month);
        EXPECT_EQ(dt.date().day(), c.day);
        EXPECT_EQ(dt.time().hours(), c.hours);
        EXPECT_EQ(dt.time().minutes(), c.minutes);
        EXPECT_EQ(dt.time().seconds(), c.seconds);
        EXPECT_EQ(dt.time().microseconds(), c.microseconds);
        EXPECT_EQ(dt.utcOffsetHours(), c.offsetHours);
        EXPECT_EQ(dt.utcOffsetMinutes(), c.offsetMinutes);
        EXPECT_STREQ(dt.stringValue(), c.dicom);
        std::string written = c.dicom;
        if (written.size() % 2) written += ' ';
        EXPECT_EQ(encoded(dt), element("DT", written));
        // Copies keep the offset and its sign.
        KelvoDicomDataDateTime copy(dt);
        EXPECT_STREQ(copy.stringValue(), c.dicom);
        KelvoDicomDataDateTime assigned;
        assigned.copy(dt);
        EXPECT_STREQ(assigned.stringValue(), c.dicom);
    }
    // Several values: each keeps its own fields.
    auto node = nodeFromFile("DT", "20240307101530-0030\\19991231235959.5");
    KelvoDicomDataDateTime two(node.get());
    EXPECT_EQ(joined(two), "20240307101530-0030\\19991231235959.500000");
}

TEST(DateTimes, TextsAndSetters) {
    KelvoDicomDataDateTime dt("2024-03-07 10:15:30");
    EXPECT_EQ(dt.date().day(), 7u);
    EXPECT_EQ(dt.time().seconds(), 30u);
    EXPECT_STREQ(dt.sqlDateTime(), "2024-03-07 10:15:30");
    EXPECT_STREQ(dt.stringValue(), "20240307101530");
    // A plain date replaces the date and leaves the time.
    dt.stringValue("20230101");
    EXPECT_STREQ(dt.stringValue(), "20230101101530");
    // The text form is the SQL one: a DICOM text with a fraction leaves the date at zeros.
    KelvoDicomDataDateTime fraction("20240307101530.5");
    EXPECT_FALSE(fraction.date().qtObjIsValid());
    // An offset of hours 0 set through the setters is no offset.
    dt.utcOffsetMinutes(30);
    EXPECT_STREQ(dt.stringValue(), "20230101101530");
    dt.utcOffsetHours(-3);
    EXPECT_STREQ(dt.stringValue(), "20230101101530-0330");
    dt.utcOffsetHours(15);
    dt.utcOffsetMinutes(60);
    EXPECT_EQ(dt.utcOffsetHours(), -3);
    EXPECT_EQ(dt.utcOffsetMinutes(), 30u);
    dt.utcOffsetHours(0);
    EXPECT_STREQ(dt.stringValue(), "20230101101530");
    // The parts are set in place.
    dt.date().year(2025);
    dt.time().microseconds(250000);
    EXPECT_STREQ(dt.stringValue(), "20250101101530.250000");
    dt.defaultStatus();
    EXPECT_STREQ(dt.stringValue(), "");
    KelvoDicomDataDateTime empty;
    EXPECT_STREQ(empty.stringValue(), "");
    EXPECT_EQ(empty.maxSizeAllowed(), 26u);
}

TEST(Ages, TextsAndSetters) {
    struct Case {
        const char* text;
        int32_t days, weeks, months, years;
        int32_t status;
        const char* dicom;
    };
    const Case cases[] = {
        {"045Y", 0, 0, 0, 45, 0, "045Y"}, {"001D", 1, 0, 0, 0, 0, "001D"}, {"052W", 0, 52, 0, 0, 0, "052W"},
        {"18M", 0, 0, 18, 0, 0, "018M"},  {"045X", 0, 0, 0, 0, -50, ""},   {"000D", 0, 0, 0, 0, -50, ""},
        {"", 0, 0, 0, 0, 0, ""},          {"Y", 0, 0, 0, 0, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        KelvoDicomDataAge age(c.text);
        EXPECT_EQ(age.days(), c.days);
        EXPECT_EQ(age.weeks(), c.weeks);
        EXPECT_EQ(age.months(), c.months);
        EXPECT_EQ(age.years(), c.years);
        EXPECT_EQ(age.Error(), c.status);
        EXPECT_STREQ(age.stringValue(), c.dicom);
        EXPECT_EQ(age.qtObjIsValid(), c.dicom[0] != 0);
    }
    KelvoDicomDataAge age("045Y");
    age.weeks(1000);
    EXPECT_EQ(age.Error(), -50);
    EXPECT_STREQ(age.stringValue(), "045Y");
    age.days(3);
    EXPECT_EQ(age.Error(), 0);
    EXPECT_EQ(age.years(), 0);
    EXPECT_STREQ(age.stringValue(), "003D");
    EXPECT_EQ(encoded(age), element("AS", "003D"));
    std::unique_ptr<Kelvo_QTObj> clone(age.clone());
    EXPECT_STREQ(static_cast<KelvoDicomDataAge*>(clone.get())->stringValue(), "003D");
}

} // namespace
