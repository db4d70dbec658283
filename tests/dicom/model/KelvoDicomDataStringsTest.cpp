#include "KelvoDicomDataStrings.h"
#include "KelvoDicomDataStringsCodes.h"
#include "KelvoDicomDataStringsTags.h"
#include "KelvoDicomDataStringsTestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace stringstest;

namespace {

TEST(StringValues, CreateWithVRChoosesTheClassByVR) {
    struct Case {
        const char* vr;
        const char* name;
    };
    const Case cases[] = {
        {"AS", "KelvoDicomDataAge"},           {"AE", "KelvoDicomDataApplicationEntity"},
        {"CS", "KelvoDicomDataCodeString"},    {"UI", "KelvoDicomDataUID"},
        {"DA", "KelvoDicomDataDate"},          {"DT", "KelvoDicomDataDateTime"},
        {"DS", "KelvoDicomDecimalString"},     {"IS", "KelvoDicomIntegerString"},
        {"LO", "KelvoDicomDataLongString"},    {"PN", "KelvoDicomDataPersonName"},
        {"SH", "KelvoDicomDataShortString"},   {"TM", "KelvoDicomDataTime"},
        {"LT", "KelvoDicomDataLongText"},      {"ST", "KelvoDicomDataShortText"},
        {"UT", "KelvoDicomDataUnlimitedText"},
    };
    for (const Case& c : cases) {
        std::unique_ptr<KelvoDicomDataElementValue> value(
            KelvoDicomDataElementValueString::createWithVR(c.vr, nullptr));
        ASSERT_NE(value, nullptr) << c.vr;
        EXPECT_STREQ(value->qtObjName(), c.name);
        EXPECT_STREQ(value->vr(), c.vr);
        EXPECT_TRUE(value->isA("KelvoDicomDataElementValueString"));
        EXPECT_TRUE(value->isA("KelvoDicomDataElementValue"));
        EXPECT_TRUE(value->isA(c.name));
    }
    for (const char* bad : {"XX", "C", "CSS", "", "OB", "SQ", "AT", "US"})
        EXPECT_EQ(KelvoDicomDataElementValueString::createWithVR(bad, "x"), nullptr) << bad;
    EXPECT_EQ(KelvoDicomDataElementValueString::createWithVR(nullptr, "x"), nullptr);
    EXPECT_EQ(KelvoDicomDataElementValueText::createWithVR("CS", "x"), nullptr);

    std::unique_ptr<KelvoDicomDataElementValue> lt(
        KelvoDicomDataElementValueString::createWithVR("LT", "a\\b"));
    EXPECT_STREQ(lt->stringValue(), "a\\b");
    EXPECT_TRUE(lt->isA("KelvoDicomDataElementValueText"));
    std::unique_ptr<KelvoDicomDataElementValue> cs(
        KelvoDicomDataElementValueString::createWithVR("CS", "axial"));
    EXPECT_STREQ(cs->stringValue(), "AXIAL");
}

// An element's text as the reader stores it, split into values, joined and written back.
TEST(StringValues, NodeTextsSplitJoinAndEncode) {
    struct Case {
        const char* vr;
        std::string file; // the value bytes in the file
        std::vector<std::string> values;
        std::string joined;
        std::string written; // explicit-VR little-endian: VR, length, value
    };
    const Case cases[] = {
        {"CS",
         "ORIGINAL\\PRIMARY\\AXIAL",
         {"ORIGINAL", "PRIMARY", "AXIAL"},
         "ORIGINAL\\PRIMARY\\AXIAL",
         element("CS", "ORIGINAL\\PRIMARY\\AXIAL")},
        {"LO", "ab\\cd ", {"ab", "cd"}, "ab\\cd", element("LO", "ab\\cd ")},
        {"LT", "a\\b ", {"a\\b"}, "a\\b", element("LT", "a\\b ")},
        // Empty values keep their places.
        {"CS", "A\\\\B", {"A", "", "B"}, "A\\\\B", element("CS", "A\\\\B")},
        {"CS", "A\\", {"A", ""}, "A\\", element("CS", "A\\")},
        {"CS", "", {""}, "(null)", element("CS", "")},
        {"UI",
         std::string("1.2.840.10008.1.2.1\0", 20),
         {"1.2.840.10008.1.2.1"},
         "1.2.840.10008.1.2.1",
         element("UI", std::string("1.2.840.10008.1.2.1\0", 20))},
        {"SH", "x\\y\\z ", {"x", "y", "z"}, "x\\y\\z", element("SH", "x\\y\\z ")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.vr) + " [" + c.file + "]");
        auto node = nodeFromFile(c.vr, c.file);
        std::unique_ptr<KelvoDicomDataElementValue> base(
            KelvoDicomDataElementValueString::createWithVR(c.vr, nullptr));
        auto& value = static_cast<KelvoDicomDataElementValueString&>(*base);
        ASSERT_TRUE(value.value(node.get()));
        EXPECT_EQ(texts(value), c.values);
        EXPECT_EQ(joined(value), c.joined);
        const uint32_t length = c.joined == "(null)" ? 0 : uint32_t(c.joined.size());
        EXPECT_EQ(value._dataLengthForDicom(), length);
        EXPECT_EQ(value.lengthForDicom(), length + (length & 1));
        EXPECT_EQ(encoded(value), c.written);
    }
}

TEST(StringValues, TextSetDirectlyIsOneValue) {
    KelvoDicomDataLongString lo;
    lo.stringValue("ab\\cd");
    EXPECT_EQ(texts(lo), std::vector<std::string>{"ab_cd"});
    EXPECT_EQ(encoded(lo), element("LO", "ab_cd "));
}

TEST(StringValues, TextClassesCutAtTheirOwnMaximum) {
    const std::string text(2000, 'x');
    KelvoDicomDataShortText st(text.c_str());
    KelvoDicomDataLongText lt(text.c_str());
    EXPECT_EQ(std::strlen(st.stringValue()), 1024u);
    EXPECT_EQ(std::strlen(lt.stringValue()), 2000u);
    std::unique_ptr<Kelvo_QTObj> clone(lt.clone());
    EXPECT_EQ(std::strlen(static_cast<KelvoDicomDataLongText*>(clone.get())->stringValue()), 2000u);
    // Copying into an ST cuts at the ST's maximum.
    st.copy(lt);
    EXPECT_EQ(std::strlen(st.stringValue()), 1024u);
    const std::string huge(12000, 'y');
    std::unique_ptr<KelvoDicomDataElementValueText> made(
        KelvoDicomDataElementValueText::createWithLongText(huge.c_str()));
    EXPECT_EQ(std::strlen(made->stringValue()), 10240u);
    std::unique_ptr<KelvoDicomDataElementValueText> ut(
        KelvoDicomDataElementValueText::createWithUnlimitedText(huge.c_str()));
    EXPECT_EQ(std::strlen(ut->stringValue()), 12000u);
    EXPECT_EQ(ut->maxSizeAllowed(), 4294967293u);
    // Text values are single: no list, no separator, nothing cleaned.
    EXPECT_FALSE(lt.appendValue(&lt));
    EXPECT_EQ(lt.valuesCount(), 1u);
    EXPECT_EQ(lt.multipleValuesSeparator(), 0);
    KelvoDicomDataUnlimitedText raw("a\nb\\c");
    EXPECT_STREQ(raw.stringValue(), "a\nb\\c");
    // A text value without text holds null and encodes as an empty value.
    KelvoDicomDataLongText none;
    EXPECT_EQ(none.stringValue(), nullptr);
    EXPECT_EQ(encoded(none), element("LT", ""));
    none = "set";
    EXPECT_STREQ(none.stringValue(), "set");
    none.stringValue(none.stringValue()); // its own text
    EXPECT_STREQ(none.stringValue(), "set");
}

TEST(StringValues, CleanUpAndSetValue) {
    KelvoDicomDataLongString lo;
    uint8_t allocated = 9;
    const char* plain = "plain text";
    EXPECT_EQ(lo._cleanUpString(plain, allocated), plain);
    EXPECT_EQ(allocated, 0);
    const char* dirty = "a\\b\nc\fd\re\x1b";
    const char* clean = lo._cleanUpString(dirty, allocated);
    EXPECT_EQ(allocated, 1);
    EXPECT_STREQ(clean, "a_b_c_d_e\x1b"); // LO keeps ESC
    delete[] clean;
    EXPECT_EQ(lo._cleanUpString(nullptr, allocated), nullptr);
    // No forbidden list: the text itself.
    KelvoDicomDataCodeString cs;
    EXPECT_EQ(cs._cleanUpString(dirty, allocated), dirty);

    char buffer[16] = "untouched";
    lo._setValue(buffer, "abc", 0);
    EXPECT_STREQ(buffer, "");
    std::strcpy(buffer, "untouched");
    lo._setValue(buffer, nullptr, 5);
    EXPECT_STREQ(buffer, "");
    lo._setValue(buffer, "abcdefgh", 5);
    EXPECT_STREQ(buffer, "abcde");
    // A class whose separator is no forbidden character writes it as '|'.
    cs._setValue(buffer, "a\\b", 10);
    EXPECT_STREQ(buffer, "a|b");
}

// Copies keep every value in its place, empty ones included (an empty code string cannot be
// cloned on its own).
TEST(StringValues, CopiesKeepEmptyFurtherValues) {
    auto node = nodeFromFile("CS", "A\\\\B\\");
    KelvoDicomDataCodeString cs(node.get());
    ASSERT_EQ(texts(cs), (std::vector<std::string>{"A", "", "B", ""}));
    KelvoDicomDataCodeString copied(cs);
    EXPECT_EQ(joined(copied), "A\\\\B\\");
    std::unique_ptr<Kelvo_QTObj> clone(cs.clone());
    EXPECT_EQ(joined(*static_cast<KelvoDicomDataCodeString*>(clone.get())), "A\\\\B\\");
    KelvoDicomDataCodeString assigned("X\\Y");
    assigned.appendValue(&cs); // its own further values come along
    assigned.copy(cs);
    EXPECT_EQ(joined(assigned), "A\\\\B\\");
    // A copy from a value without further values drops the old ones.
    KelvoDicomDataCodeString single("ONE");
    assigned.copy(single);
    EXPECT_EQ(joined(assigned), "ONE");
    // An empty value on its own is not valid and does not clone.
    KelvoDicomDataCodeString empty;
    EXPECT_FALSE(empty.qtObjIsValid());
    EXPECT_EQ(empty.clone(), nullptr);
}

TEST(StringValues, CopyBetweenClassesGoesThroughTheText) {
    auto node = nodeFromFile("CS", "ORIGINAL\\PRIMARY");
    KelvoDicomDataCodeString cs(node.get());
    KelvoDicomDataShortString sh("old");
    sh.copy(cs);
    EXPECT_EQ(texts(sh), (std::vector<std::string>{"ORIGINAL", "PRIMARY"}));
    EXPECT_STREQ(sh.getValue(0)->vr(), "SH");
    KelvoDicomDataCodeString back;
    back.copy(sh);
    EXPECT_EQ(joined(back), "ORIGINAL\\PRIMARY");
    // Values of other kinds are not taken over.
    KelvoDicomDataAttributeTag tag(0x0028, 0x0010);
    back.copy(tag);
    EXPECT_EQ(joined(back), "ORIGINAL\\PRIMARY");
    back.copy(back);
    EXPECT_EQ(joined(back), "ORIGINAL\\PRIMARY");
}

// A value may be given one of its own further values to copy, which the copy replaces.
TEST(StringValues, CopyFromOwnFurtherValue) {
    struct Case {
        const char* vr;
        std::string file;
        std::string joined;
    };
    const Case cases[] = {
        {"CS", "A\\B\\C ", "B"},
        {"PN", "Doe^John\\Roe^Jane=R^J", "Roe^Jane=R^J"},
        {"IS", "1\\2\\3 ", "2"},
        {"DA", "20240101\\20240202", "20240202"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.vr);
        auto node = nodeFromFile(c.vr, c.file);
        std::unique_ptr<KelvoDicomDataElementValue> value(
            KelvoDicomDataElementValueString::createWithVR(c.vr, nullptr));
        ASSERT_TRUE(value->value(node.get()));
        value->copy(*value->getValue(0));
        EXPECT_EQ(joined(static_cast<KelvoDicomDataElementValueString&>(*value)), c.joined);
    }
}

TEST(StringValues, NodeOfAnotherVRIsRefused) {
    auto node = nodeFromFile("LO", "text");
    KelvoDicomDataCodeString cs("KEEP");
    EXPECT_FALSE(cs.value(node.get()));
    EXPECT_EQ(cs.Error(), kKelvoWrongType);
    EXPECT_STREQ(cs.stringValue(), "KEEP");
    // A node without any value leaves the value empty.
    KelvoDicomDataNode bare("CS");
    KelvoDicomDataCodeString fromBare(&bare);
    EXPECT_STREQ(fromBare.stringValue(), "");
    EXPECT_EQ(fromBare.Error(), 0);
}

// In ISO 2022 text, the bytes of a two-byte character are not delimiters: the second byte of
// JIS X 0208 0x305C is a backslash.
TEST(StringValues, TwoByteCharactersAreNotCutAtTheirBackslashByte) {
    const std::string kanji = "\x1b$B0\\\x1b(B";
    auto node = nodeFromFile("LO", kanji + "\\ab ");
    KelvoDicomDataLongString lo(node.get());
    EXPECT_EQ(texts(lo), (std::vector<std::string>{kanji, "ab"}));
    EXPECT_EQ(encoded(lo), element("LO", kanji + "\\ab "));
}

} // namespace
