#include "KelvoDicomDataStringsNumbers.h"
#include "KelvoDicomDataStringsTestSupport.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

using namespace stringstest;

namespace {

TEST(IntegerStrings, TextsAndNumbers) {
    struct Case {
        const char* text;
        int32_t value;
        int32_t status;
        const char* written;
    };
    const Case cases[] = {
        {"-5", -5, 0, "-5"},
        {"42", 42, 0, "42"},
        {"0042", 42, 0, "42"},
        {" 42", 42, 0, "42"},
        {"+7 ", 7, 0, "7"},
        {"-2147483648", INT32_MIN, 0, "-2147483648"},
        {"2147483647", INT32_MAX, 0, "2147483647"},
        {"2147483648", 0, -50, "0"}, // beyond 32 bits: refused, not wrapped
        {"-2147483649", 0, -50, "0"},
        {"99999999999999999999999", 0, -50, "0"},
        {"12\\34", 12, 0, "12"},
        {"abc", 0, 0, "0"},
        {"", 0, 0, "0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        KelvoDicomIntegerString is(c.text);
        EXPECT_EQ(is.integerValue(), c.value);
        EXPECT_EQ(is.Error(), c.status);
        EXPECT_STREQ(is.stringValue(), c.written);
        KelvoDicomIntegerString set;
        set.stringValue(c.text);
        EXPECT_EQ(int32_t(set), c.value);
    }
    KelvoDicomIntegerString seven(7);
    EXPECT_EQ(seven.integerValue(), 7);
    seven.integerValue(9);
    EXPECT_STREQ(seven.stringValue(), "9");
    EXPECT_EQ(seven.maxSizeAllowed(), 12u);
}

TEST(IntegerStrings, SeveralValues) {
    auto node = nodeFromFile("IS", "1\\-2\\3 ");
    KelvoDicomIntegerString is(node.get());
    ASSERT_EQ(is.valuesCount(), 3u);
    EXPECT_EQ(int32_t(*static_cast<KelvoDicomIntegerString*>(is.getValue(0))), -2);
    // Setting the number keeps the further values; setting a text drops them.
    is = 10;
    EXPECT_EQ(joined(is), "10\\-2\\3");
    EXPECT_EQ(encoded(is), element("IS", "10\\-2\\3 "));
    KelvoDicomIntegerString copy(is);
    EXPECT_EQ(joined(copy), "10\\-2\\3");
    is.stringValue("5");
    EXPECT_EQ(joined(is), "5");
}

TEST(DecimalStrings, TextsAndTheirShortestForms) {
    struct Case {
        const char* text;
        double value;
        int32_t status;
        const char* written;
        const char* exponential;
    };
    const Case cases[] = {
        {"1.5", 1.5, 0, "1.5", "1.5E+00"},
        {"1e-5", 1e-5, 0, "1e-5", "1E-05"},
        {"123456789.123", 123456789.123, 0, "123456789.123", "1.2345678912E+08"},
        {"123456789", 123456789.0, 0, "123456789", "1.23456789E+08"},
        {"3.25\\2.5", 3.25, 0, "3.25", "3.25E+00"},
        {" 3.25", 3.25, 0, "3.25", "3.25E+00"},
        {"+2.5", 2.5, 0, "2.5", "2.5E+00"},
        {"-0.1", -0.1, 0, "-0.1", "-1E-01"},
        {"6.02214076e23", 6.02214076e23, 0, "6.02214076e23", "6.02214076E+23"},
        {"1E20", 1e20, 0, "1e20", "1E+20"},
        {"-0.0", 0.0, 0, "0", "0E+00"},
        {"1e-999", 0.0, 0, "0", "0E+00"}, // below the smallest double
        {"1e999", 0.0, -50, "0", "0E+00"},
        {"-1e999", 0.0, -50, "0", "0E+00"},
        {"nan", 0.0, -50, "0", "0E+00"},
        {"inf", 0.0, -50, "0", "0E+00"},
        {"+-2", 0.0, 0, "0", "0E+00"},
        {"abc", 0.0, 0, "0", "0E+00"},
        {"", 0.0, 0, "0", "0E+00"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        KelvoDicomDecimalString ds(c.text);
        EXPECT_EQ(ds.doubleValue(), c.value);
        EXPECT_EQ(ds.Error(), c.status);
        EXPECT_STREQ(ds.stringValue(), c.written);
        ds.exponentialNotation() = 1;
        EXPECT_STREQ(ds.stringValue(), c.exponential);
        // Setting a text resets the flag.
        ds.stringValue(c.text);
        EXPECT_EQ(ds.exponentialNotation(), 0);
    }
}

// Whatever the number, the text fits 16 characters and reads back as the same number when any
// text that short can, else as the nearest that 16 characters hold.
TEST(DecimalStrings, WrittenFormsReadBack) {
    const double values[] = {0.1,
                             1.0 / 3.0,
                             -2.0 / 3.0,
                             1e-300,
                             5e-324,
                             std::numeric_limits<double>::max(),
                             -std::numeric_limits<double>::max(),
                             123456789012345678.0,
                             0.000123456789012345,
                             -9.87654321e-7,
                             9007199254740993.0,
                             1e16,
                             999999999999999.9,
                             -1.2345678901234567e-308,
                             3.141592653589793};
    for (double value : values) {
        for (uint8_t exponential : {0, 1}) {
            SCOPED_TRACE(std::to_string(value) + (exponential ? " E" : ""));
            KelvoDicomDecimalString ds(value);
            ds.exponentialNotation() = exponential;
            const std::string text = ds.stringValue();
            ASSERT_FALSE(text.empty());
            EXPECT_LE(text.size(), 16u);
            KelvoDicomDecimalString back(text.c_str());
            EXPECT_EQ(back.Error(), 0);
            char shortest[64];
            auto end = std::to_chars(shortest, shortest + sizeof shortest, value).ptr;
            std::string exact(shortest, end);
            // "e+308" is written "e308": three characters fewer than C writes at most.
            if (exact.size() <= 14 && !exponential)
                EXPECT_EQ(back.doubleValue(), value) << text;
            else
                EXPECT_LE(std::fabs(back.doubleValue() - value), std::fabs(value) * 1e-8) << text;
        }
    }
}

TEST(DecimalStrings, NumbersFlagAndPrecision) {
    KelvoDicomDecimalString ds(1.5);
    EXPECT_EQ(double(ds), 1.5);
    EXPECT_EQ(ds.floatValue(), 1.5f);
    ds = 1e300;
    EXPECT_EQ(ds.floatValue(), std::numeric_limits<float>::infinity());
    ds = -1e300;
    EXPECT_EQ(ds.floatValue(), -std::numeric_limits<float>::infinity());
    ds = std::nan("");
    EXPECT_EQ(ds.Error(), -50);
    EXPECT_EQ(ds.doubleValue(), -1e300);
    ds.doubleValue() = 0.25;
    EXPECT_STREQ(ds.stringValue(), "0.25");
    // Set in place to a number that is not finite, the value writes no text.
    ds.doubleValue() = std::numeric_limits<double>::infinity();
    EXPECT_STREQ(ds.stringValue(), "");
    KelvoDicomDecimalString refused(std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(refused.Error(), -50);
    EXPECT_EQ(refused.doubleValue(), 0.0);
    // Double precision is kept: the float 123456792 is not what was stored.
    KelvoDicomDecimalString big(123456789.0);
    EXPECT_STREQ(big.stringValue(), "123456789");
    KelvoDicomDecimalString copy(big);
    copy.exponentialNotation() = 1;
    KelvoDicomDecimalString copied(copy);
    EXPECT_EQ(copied.exponentialNotation(), 1);
    EXPECT_STREQ(copied.stringValue(), "1.23456789E+08");
    EXPECT_EQ(copied.maxSizeAllowed(), 16u);

    auto node = nodeFromFile("DS", "1.5\\-2.25e-3 ");
    KelvoDicomDecimalString two(node.get());
    EXPECT_EQ(joined(two), "1.5\\-0.00225");
    EXPECT_EQ(encoded(two), element("DS", "1.5\\-0.00225"));
}

} // namespace
