#include "KelvoDicomNumbers.h"

#include "KelvoDicomNumbersFixtures.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

namespace {

using Number = std::unique_ptr<KelvoDicomDataNumber>;

Number make(const char* vr) {
    return Number(KelvoDicomDataNumber::createWithVR(vr));
}

// The stored first value, read in the class's own type (exact for every class).
double stored(KelvoDicomDataNumber& n) {
    const char* vr = n.vr();
    if (!std::strcmp(vr, "UL")) return n.unsignedLongValue();
    if (!std::strcmp(vr, "SL")) return n.signedLongValue();
    if (!std::strcmp(vr, "US")) return n.unsignedShortValue();
    if (!std::strcmp(vr, "SS")) return n.signedShortValue();
    if (!std::strcmp(vr, "FL")) return n.floatValue();
    return n.doubleValue();
}

std::string bytes(std::initializer_list<int> list) {
    std::string s;
    for (int b : list)
        s.push_back(char(b));
    return s;
}

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

TEST(KelvoDicomNumbers, CreateWithVR) {
    struct {
        const char* vr;
        const char* name; // null: no value
    } cases[] = {
        {"FL", "KelvoDicomDataFloat"},
        {"FD", "KelvoDicomDataDouble"},
        {"UL", "KelvoDicomDataUnsignedLong"},
        {"SL", "KelvoDicomDataSignedLong"},
        {"US", "KelvoDicomDataUnsignedShort"},
        {"SS", "KelvoDicomDataSignedShort"},
        {"fl", nullptr},
        {"F", nullptr},
        {"FLX", nullptr},
        {"OB", nullptr},
        {"", nullptr},
        {nullptr, nullptr},
    };
    for (auto& c : cases) {
        Number n = make(c.vr);
        if (!c.name) {
            EXPECT_FALSE(n) << (c.vr ? c.vr : "(null)");
            continue;
        }
        ASSERT_TRUE(n) << c.vr;
        EXPECT_STREQ(n->qtObjName(), c.name);
        EXPECT_STREQ(n->vr(), c.vr);
        EXPECT_TRUE(n->isA("KelvoDicomDataNumber"));
        EXPECT_TRUE(n->isA(c.name));
        EXPECT_TRUE(n->isA("KelvoDicomDataElementValue"));
        EXPECT_TRUE(n->qtObjIsValid());
        EXPECT_EQ(stored(*n), 0.0);
        EXPECT_EQ(n->paddingByte(), 0);
        EXPECT_EQ(n->valuesCount(), 1u);
    }

    EXPECT_EQ(Number(KelvoDicomDataNumber::createWithFloat(1.25f))->floatValue(), 1.25f);
    EXPECT_EQ(Number(KelvoDicomDataNumber::createWithDouble(-0.1))->doubleValue(), -0.1);
    EXPECT_EQ(Number(KelvoDicomDataNumber::createWithSignedLong(-7))->signedLongValue(), -7);
    EXPECT_EQ(Number(KelvoDicomDataNumber::createWithUnsignedLong(4000000000u))->unsignedLongValue(),
              4000000000u);
    EXPECT_EQ(Number(KelvoDicomDataNumber::createWithSignedShort(-300))->signedShortValue(), -300);
    EXPECT_EQ(Number(KelvoDicomDataNumber::createWithUnsignedShort(65000))->unsignedShortValue(), 65000);
}

// Floating arguments into integer storage round with ties towards minus infinity and wrap to the
// stored width; NaN and values beyond 64 bits are defined too (they store 0 or the lowest value).
TEST(KelvoDicomNumbers, FloatingSettersRoundAndWrap) {
    struct {
        const char* vr;
        bool asFloat; // floatValue(float) rather than doubleValue(double)
        double in;
        double want;
    } cases[] = {
        {"US", true, 2.5, 2},
        {"US", false, 2.5000001, 3},
        {"US", true, -2.5, 65533},
        {"US", false, 65536.0, 0},
        {"US", false, -1.0, 65535},
        {"US", false, 70000.0, 4464},
        {"US", false, 2.6, 3},
        {"US", false, -0.4, 0},
        {"SS", false, -2.5, -3},
        {"SS", false, 40000.0, -25536},
        {"UL", false, 4294967296.0, 0},
        {"UL", false, -1.0, 4294967295.0},
        {"UL", false, 1e30, 0},
        {"UL", true, 3e9, 3e9},
        {"SL", false, 3e10, -2147483648.0},
        {"SL", false, -3e10, -2147483648.0},
        {"SL", false, 2147483647.4, 2147483647.0},
        {"SL", false, kInf, -2147483648.0},
        {"SL", false, kNaN, 0},
        {"UL", false, kNaN, 0},
        {"US", true, kNaN, 0},
        {"US", false, 3e10, 0},
        {"FL", false, 0.1, double(0.1f)},
        {"FL", false, 1e300, kInf},
        {"FL", false, -1e300, -kInf},
        {"FL", false, double(FLT_MAX) * (1 + 1e-10), double(FLT_MAX)},
        {"FD", true, 0.1f, double(0.1f)},
        {"FD", false, 2.5, 2.5},
    };
    for (auto& c : cases) {
        Number n = make(c.vr);
        if (c.asFloat)
            n->floatValue(float(c.in));
        else
            n->doubleValue(c.in);
        EXPECT_EQ(stored(*n), c.want) << c.vr << (c.asFloat ? " float " : " double ") << c.in;
    }
}

TEST(KelvoDicomNumbers, IntegerSetters) {
    struct {
        const char* vr;
        char kind; // 'l' signedLong, 'L' unsignedLong, 's' signedShort, 'S' unsignedShort
        int64_t in;
        double want;
    } cases[] = {
        {"UL", 'l', -1, 4294967295.0},
        {"SL", 'L', 4294967295, -1},
        {"US", 'L', 0x12345678, 0x5678},
        {"SS", 'l', 70000, 4464},
        {"SS", 'S', 65535, -1},
        {"UL", 's', -1, 4294967295.0},
        {"SL", 's', -2, -2},
        {"UL", 'S', 65535, 65535},
        {"FL", 'L', 4294967295, 4294967296.0},
        {"FL", 'l', 16777217, 16777216.0},
        {"FD", 'l', -2147483648, -2147483648.0},
        {"FD", 'L', 4294967295, 4294967295.0},
        {"US", 's', -2, 65534},
    };
    for (auto& c : cases) {
        Number n = make(c.vr);
        switch (c.kind) {
        case 'l':
            n->signedLongValue(int32_t(c.in));
            break;
        case 'L':
            n->unsignedLongValue(uint32_t(c.in));
            break;
        case 's':
            n->signedShortValue(int16_t(c.in));
            break;
        default:
            n->unsignedShortValue(uint16_t(c.in));
            break;
        }
        EXPECT_EQ(stored(*n), c.want) << c.vr << " " << c.kind << " " << c.in;
    }
}

// Every getter of every stored type, with the wrapping of the table and floors for floating
// values; out-of-range and NaN floating values give defined results.
TEST(KelvoDicomNumbers, Getters) {
    struct {
        const char* vr;
        const char* text; // the stored value, set through the class's own setter below
        double value;
        float f;
        double d;
        int32_t sl;
        uint32_t ul;
        int16_t ss;
        uint16_t us;
    } cases[] = {
        {"UL", "", 305419896, 305419904.0f, 305419896, 305419896, 305419896, 22136, 22136},
        {"UL", "", 4294967295.0, 4294967296.0f, 4294967295.0, -1, 4294967295u, -1, 65535},
        {"SL", "", -1, -1.0f, -1, -1, 4294967295u, -1, 65535},
        {"US", "", 65535, 65535.0f, 65535, 65535, 65535, -1, 65535},
        {"SS", "", -1, -1.0f, -1, -1, 4294967295u, -1, 65535},
        {"SS", "", -32768, -32768.0f, -32768, -32768, 4294934528u, -32768, 32768},
        {"FL", "", -1.5, -1.5f, -1.5, -2, 4294967294u, -2, 65534},
        {"FD", "", -0.5, -0.5f, -0.5, -1, 4294967295u, -1, 65535},
        {"FD", "", 3.0e10, 3.0e10f, 3.0e10, INT32_MIN, 4230196224u, 0, 0},
        {"FD", "", 5e9, 5e9f, 5e9, INT32_MIN, 705032704u, 0, 0},
        {"FD", "", 1e300, std::numeric_limits<float>::infinity(), 1e300, INT32_MIN, 0, 0, 0},
        {"FD", "", 70000.7, 70000.7f, 70000.7, 70000, 70000, 4464, 4464},
    };
    for (auto& c : cases) {
        Number n = make(c.vr);
        n->doubleValue(c.value); // exact for these values in every class
        SCOPED_TRACE(std::string(c.vr) + " " + std::to_string(c.value));
        EXPECT_EQ(n->floatValue(), c.f);
        EXPECT_EQ(n->doubleValue(), c.d);
        EXPECT_EQ(n->signedLongValue(), c.sl);
        EXPECT_EQ(n->unsignedLongValue(), c.ul);
        EXPECT_EQ(n->signedShortValue(), c.ss);
        EXPECT_EQ(n->unsignedShortValue(), c.us);
        // The conversion operators ask the same getters.
        EXPECT_EQ(int32_t(*n), c.sl);
        EXPECT_EQ(uint16_t(*n), c.us);
    }

    KelvoDicomDataDouble nan(kNaN);
    EXPECT_TRUE(std::isnan(nan.floatValue()));
    EXPECT_EQ(nan.signedLongValue(), 0);
    EXPECT_EQ(nan.unsignedLongValue(), 0u);
    EXPECT_EQ(nan.unsignedShortValue(), 0);
    KelvoDicomDataFloat fnan(std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(fnan.signedShortValue(), 0);
}

TEST(KelvoDicomNumbers, TextForm) {
    char big[400];
    std::snprintf(big, sizeof big, "%f", 1e300);
    struct {
        const char* vr;
        double value;
        std::string want;
    } cases[] = {
        {"FL", 1.5, "1.500000"},
        {"SS", -2, "-2"},
        {"FD", 1e300, std::string(big, 39)},
        {"UL", 4294967295.0, "4294967295"},
        {"SL", -2147483648.0, "-2147483648"},
        {"US", 65535, "65535"},
        {"FD", -kInf, "-inf"},
        {"FD", -0.0000004, "-0.000000"},
    };
    for (auto& c : cases) {
        Number n = make(c.vr);
        n->doubleValue(c.value);
        EXPECT_EQ(n->stringValue(), c.want) << c.vr;
        EXPECT_STREQ(static_cast<const char*>(*n), c.want.c_str());
    }
}

TEST(KelvoDicomNumbers, Parsing) {
    struct {
        const char* vr;
        const char* text;
        double want;
    } cases[] = {
        {"US", "12abc", 12},
        {"US", "abc", 0},
        {"US", "70000", 4464},
        {"US", "-1", 65535},
        {"SS", " \t+7", 7},
        {"SL", "99999999999", 2147483647},
        {"SL", "-99999999999", -2147483648.0},
        {"UL", "-1", 4294967295.0},
        // Unsigned texts keep their value, so a UL survives its own text form.
        {"UL", "4294967295", 4294967295.0},
        {"UL", "3000000000", 3000000000.0},
        {"UL", "99999999999", 4294967295.0},
        {"FL", "1.5e2", 150},
        {"FL", "0.1", double(0.1f)},
        {"FD", "1\\2\\3", 1},
        {"FD", "  -2.25x", -2.25},
        {"FD", "1e400", kInf},
    };
    for (auto& c : cases) {
        Number n = make(c.vr);
        n->stringValue(c.text);
        EXPECT_EQ(stored(*n), c.want) << c.vr << " '" << c.text << "'";
    }

    // The text constructors parse the same way.
    EXPECT_EQ(KelvoDicomDataUnsignedShort("12abc").unsignedShortValue(), 12);
    EXPECT_EQ(KelvoDicomDataUnsignedLong("-1").unsignedLongValue(), 4294967295u);
    EXPECT_EQ(KelvoDicomDataDouble(static_cast<const char*>(nullptr)).doubleValue(), 0.0);

    // Parsing sets only the first value; a null text resets the value and drops the others.
    KelvoDicomDataSignedShort s(int16_t(5));
    ASSERT_TRUE(s.appendValue(std::make_unique<KelvoDicomDataSignedShort>(int16_t(6)).get()));
    s.stringValue("9");
    EXPECT_EQ(s.signedShortValue(), 9);
    EXPECT_EQ(s.valuesCount(), 2u);
    s.stringValue(static_cast<const char*>(nullptr));
    EXPECT_EQ(s.signedShortValue(), 0);
    EXPECT_EQ(s.valuesCount(), 1u);
}

// Texts are read and written with a decimal point whatever locale the host chose. The German
// locale (decimal comma) is compiled into the build tree with localedef.
TEST(KelvoDicomNumbers, TextIgnoresTheLocale) {
    std::string folder = numbersfixtures::fixtureFolder() + "/locales";
    std::string german = folder + "/de_DE.UTF-8";
    std::filesystem::create_directories(folder);
    if (!std::filesystem::exists(german)) {
        std::string partial = german + "." + std::to_string(getpid());
        int status = 0;
        testsupport::run("localedef -i de_DE -f UTF-8 '" + partial + "' 2>&1", &status);
        if (status != 0) GTEST_SKIP() << "localedef could not make a German locale";
        std::error_code ignored;
        std::filesystem::rename(partial, german, ignored);
        std::filesystem::remove_all(partial, ignored);
    }
    setenv("LOCPATH", folder.c_str(), 1);
    ASSERT_TRUE(std::setlocale(LC_NUMERIC, "de_DE.UTF-8"));
    char shown[16];
    std::snprintf(shown, sizeof shown, "%.1f", 1.5);
    KelvoDicomDataDouble d("2.75");
    KelvoDicomDataFloat f(1.5f);
    std::string text = f.stringValue();
    std::setlocale(LC_NUMERIC, "C");
    unsetenv("LOCPATH");
    EXPECT_STREQ(shown, "1,5"); // the locale is in force
    EXPECT_EQ(d.doubleValue(), 2.75);
    EXPECT_EQ(text, "1.500000");
}

TEST(KelvoDicomNumbers, LengthsAndEncoding) {
    struct {
        const char* vr;
        double values[3];
        uint32_t oneLength;
        std::string little; // the three values in DICOM little-endian form
    } cases[] = {
        {"US", {1, 2, 3}, 2, bytes({1, 0, 2, 0, 3, 0})},
        {"SS", {-2, 256, 0}, 2, bytes({0xFE, 0xFF, 0, 1, 0, 0})},
        {"UL", {1, 4294967295.0, 0x01020304}, 4, bytes({1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 4, 3, 2, 1})},
        {"SL", {-1, 2, -2147483648.0}, 4, bytes({0xFF, 0xFF, 0xFF, 0xFF, 2, 0, 0, 0, 0, 0, 0, 0x80})},
        {"FL", {1.0, -2.0, 0.5}, 4, bytes({0, 0, 0x80, 0x3F, 0, 0, 0, 0xC0, 0, 0, 0, 0x3F})},
        {"FD", {1.0, -2.0, 0.5}, 8, bytes({0, 0, 0, 0,    0, 0, 0xF0, 0x3F, 0, 0, 0,    0,
                                           0, 0, 0, 0xC0, 0, 0, 0,    0,    0, 0, 0xE0, 0x3F})},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.vr);
        Number n = make(c.vr);
        n->doubleValue(c.values[0]);
        for (int i = 1; i < 3; ++i) {
            Number more = make(c.vr);
            more->doubleValue(c.values[i]);
            ASSERT_TRUE(n->appendValue(more.get()));
        }
        EXPECT_EQ(n->valuesCount(), 3u);
        EXPECT_EQ(n->_dataLengthForDicom(), c.oneLength);
        EXPECT_EQ(n->lengthForDicom(), 3 * c.oneLength);

        std::unique_ptr<KelvoDicomDataNode> node(n->_encodeForDicom());
        ASSERT_TRUE(node);
        EXPECT_STREQ(node->VR(), c.vr);
        EXPECT_EQ(node->valueCount(), 3);
        // Explicit VR little endian: VR, 16-bit length, values; big endian swaps each value.
        std::string head = std::string(c.vr, 2) + char(c.little.size()) + '\0';
        EXPECT_EQ(numbersfixtures::flushed(*node, false), head + c.little);
        std::string big;
        for (size_t at = 0; at < c.little.size(); at += c.oneLength) {
            std::string one = c.little.substr(at, c.oneLength);
            big.append(one.rbegin(), one.rend());
        }
        EXPECT_EQ(numbersfixtures::flushed(*node, true),
                  std::string(c.vr, 2) + '\0' + char(c.little.size()) + big);

        // And back: the node read gives the three values in order.
        Number back = make(c.vr);
        ASSERT_TRUE(back->value(node.get()));
        ASSERT_EQ(back->valuesCount(), 3u);
        EXPECT_EQ(back->doubleValue(), n->doubleValue());
        for (uint32_t i = 0; i < 2; ++i) {
            auto* further = static_cast<KelvoDicomDataNumber*>(back->getValue(i));
            ASSERT_TRUE(further);
            EXPECT_STREQ(further->qtObjName(), n->qtObjName());
            EXPECT_EQ(further->doubleValue(),
                      static_cast<KelvoDicomDataNumber*>(n->getValue(i))->doubleValue());
        }
    }

    KelvoDicomDataUnsignedShort one(uint16_t(1));
    EXPECT_EQ(one.lengthForDicom(), 2u);
}

TEST(KelvoDicomNumbers, NodeReading) {
    KelvoDicomDataNode node("US");
    for (uint16_t v : {1, 2, 3})
        node.usValueSet(v, -1);
    KelvoDicomDataUnsignedShort us(&node);
    EXPECT_EQ(us.Error(), 0);
    EXPECT_EQ(us.valuesCount(), 3u);
    EXPECT_EQ(us.unsignedShortValue(), 1);
    EXPECT_EQ(static_cast<KelvoDicomDataNumber*>(us.getValue(1))->unsignedShortValue(), 3);
    EXPECT_EQ(us.lengthForDicom(), 6u);

    // A node of another VR leaves the value as it was, with status 10.
    KelvoDicomDataSignedShort ss(&node);
    EXPECT_EQ(ss.Error(), 10);
    EXPECT_EQ(ss.valuesCount(), 1u);
    KelvoDicomDataUnsignedLong ul(uint32_t(77));
    EXPECT_FALSE(ul.value(&node));
    EXPECT_EQ(ul.Error(), 10);
    EXPECT_EQ(ul.unsignedLongValue(), 77u);

    // An empty node gives 0 and one value.
    KelvoDicomDataNode empty("FD");
    KelvoDicomDataDouble d(&empty);
    EXPECT_EQ(d.doubleValue(), 0.0);
    EXPECT_EQ(d.valuesCount(), 1u);

    // Reading replaces what the value held.
    KelvoDicomDataNode two("US");
    two.usValueSet(8, -1);
    us._initWithData(&two);
    EXPECT_EQ(us.valuesCount(), 1u);
    EXPECT_EQ(us.unsignedShortValue(), 8);
}

// A node of more values than a signed 16-bit count holds keeps them all.
TEST(KelvoDicomNumbers, NodeOfMoreThan32767Values) {
    const int32_t count = 33000;
    Handle raw = NewHandle(Size(count * 2));
    ASSERT_TRUE(raw);
    for (int32_t i = 0; i < count; ++i) {
        uint16_t v = uint16_t(i);
        std::memcpy(*raw + 2 * i, &v, 2);
    }
    KelvoDicomDataNode node("US");
    node.AddDicomNodeData(raw, uint32_t(count), false);
    DisposeHandle(raw);
    ASSERT_EQ(node.valueCount(), count);

    KelvoDicomDataUnsignedShort lut(&node);
    ASSERT_EQ(lut.valuesCount(), uint32_t(count));
    EXPECT_EQ(static_cast<KelvoDicomDataNumber*>(lut.getValue(uint32_t(count - 2)))->unsignedShortValue(),
              count - 1);
    EXPECT_EQ(lut.lengthForDicom(), uint32_t(2 * count));
    std::unique_ptr<KelvoDicomDataNode> back(lut._encodeForDicom());
    EXPECT_EQ(back->valueCount(), count);
    EXPECT_EQ(back->usValue(count - 1), count - 1);
}

TEST(KelvoDicomNumbers, CopyAndClone) {
    KelvoDicomDataFloat f(1.5f);
    KelvoDicomDataDouble d(2.5);
    f.copy(d);
    EXPECT_EQ(f.floatValue(), 1.5f);
    d.copy(f);
    EXPECT_EQ(d.doubleValue(), 2.5);
    f.copy(f);
    EXPECT_EQ(f.floatValue(), 1.5f);

    KelvoDicomDataSignedLong three(int32_t(1));
    three.appendValue(std::make_unique<KelvoDicomDataSignedLong>(int32_t(2)).get());
    three.appendValue(std::make_unique<KelvoDicomDataSignedLong>(int32_t(3)).get());
    std::unique_ptr<KelvoDicomDataSignedLong> clone(three.clone());
    ASSERT_TRUE(clone);
    EXPECT_EQ(clone->valuesCount(), 3u);
    EXPECT_EQ(static_cast<KelvoDicomDataNumber*>(clone->getValue(1))->signedLongValue(), 3);
    EXPECT_NE(clone->getValue(1), three.getValue(1));

    // A copy takes exactly the source's values: further values held before are dropped.
    KelvoDicomDataSignedLong single(int32_t(9));
    three.copy(single);
    EXPECT_EQ(three.valuesCount(), 1u);
    EXPECT_EQ(three.signedLongValue(), 9);
    single = *clone;
    EXPECT_EQ(single.valuesCount(), 3u);
    EXPECT_EQ(single.signedLongValue(), 1);
    EXPECT_EQ(single.stringValue(), std::string("1"));

    // defaultStatus: value 0, no further values, the number type kept.
    single.defaultStatus();
    EXPECT_EQ(single.valuesCount(), 1u);
    EXPECT_EQ(single.signedLongValue(), 0);
    EXPECT_EQ(single._numberType(), 5);

    KelvoDicomDataUnsignedShort us(uint16_t(4));
    KelvoDicomDataUnsignedShort copied(us);
    EXPECT_EQ(copied.unsignedShortValue(), 4);
    us.unsignedShortValue(5); // the copy has its own storage
    EXPECT_EQ(copied.unsignedShortValue(), 4);
}

// Real elements: every number element of CT_small (explicit VR little endian) and of its
// big-endian form made with dcmconv is read by the node reader, matches pydicom's values, and is
// written back byte for byte.
TEST(KelvoDicomNumbers, RealFilesRoundTrip) {
    using namespace numbersfixtures;
    std::string little = pydicomFile("CT_small.dcm");
    std::string big = bigEndianCT();
    ASSERT_FALSE(big.empty()) << "dcmconv could not make the big-endian fixture";
    int checked = 0;
    for (const std::string& path : {little, big}) {
        auto elements = listElements(path);
        ASSERT_GT(elements.size(), 100u) << path;
        for (const RealElement& e : elements) {
            if (e.values.empty()) continue;
            SCOPED_TRACE(path + " " + e.vr + " at " + std::to_string(e.elementPosition));
            KelvoDicomDataNode node;
            readNode(path, e, node);
            ASSERT_EQ(node.Error(), 0);
            Number n = make(e.vr.c_str());
            ASSERT_TRUE(n->value(&node));
            ASSERT_EQ(n->valuesCount(), e.values.size());
            for (size_t i = 0; i < e.values.size(); ++i) {
                KelvoDicomDataNumber* v =
                    i == 0 ? n.get() : static_cast<KelvoDicomDataNumber*>(n->getValue(i - 1));
                if (e.vr == "FL" || e.vr == "FD")
                    EXPECT_EQ(v->doubleValue(), std::strtod(e.values[i].c_str(), nullptr));
                else
                    EXPECT_EQ(v->stringValue(), e.values[i]);
            }
            EXPECT_EQ(n->lengthForDicom(), e.length);
            std::unique_ptr<KelvoDicomDataNode> out(n->_encodeForDicom());
            EXPECT_EQ(valueBytes(*out, e.bigEndian),
                      fileBytes(path, e.valuePosition, e.valuePosition + e.length));
            EXPECT_EQ(flushed(*out, e.bigEndian),
                      fileBytes(path, e.elementPosition + 4, e.valuePosition + e.length));
            ++checked;
        }
    }
    EXPECT_GT(checked, 200);
}

} // namespace
