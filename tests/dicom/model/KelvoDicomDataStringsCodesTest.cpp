#include "KelvoDicomDataStringsCodes.h"
#include "KelvoDicomDataStringsTestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace stringstest;

namespace {

// Each class's reading of a text, its validity and its DICOM bytes.
TEST(CodeStrings, TextsAreAdmittedByEachClassesRule) {
    struct Case {
        const char* vr;
        std::string text;
        std::string held;
        bool valid;
        std::string written;
    };
    const std::string twenty = "abcdefghijklmnopqrst";
    const std::string seventy(70, '1');
    const Case cases[] = {
        {"CS", "axial", "AXIAL", true, element("CS", "AXIAL ")},
        {"CS", "ab-c", "AB-C", true, element("CS", "AB-C")},
        {"CS", "primary\\secondary", "PRIMARY", true, element("CS", "PRIMARY ")},
        {"CS", twenty, "ABCDEFGHIJKLMNOP", true, element("CS", "ABCDEFGHIJKLMNOP")},
        {"CS", "iso_ir 100", "ISO_IR 100", true, element("CS", "ISO_IR 100")},
        {"CS", "\xe9t\xe9", "\xe9T\xe9", true, element("CS", "\xe9T\xe9 ")}, // ASCII letters only
        {"CS", "", "", false, element("CS", "")},
        {"UI", "1.2.840.10008.1.2.1", "1.2.840.10008.1.2.1", true,
         element("UI", std::string("1.2.840.10008.1.2.1\0", 20))},
        {"UI", "1.2.abc", "1.2.000", true, element("UI", std::string("1.2.000\0", 8))},
        {"UI", seventy, std::string(64, '1'), true, element("UI", std::string(64, '1'))},
        {"UI", "1.2\\3.4", "1.2", true, element("UI", std::string("1.2\0", 4))},
        {"AE", "STATION", "STATION", true, element("AE", "STATION ")},
        {"AE", "    ", "    ", false, element("AE", "    ")},
        {"AE", "", "", true, element("AE", "")},
        {"AE",
         "A\x1b"
         "B",
         "A_B", true, element("AE", "A_B ")},
        {"AE", twenty, "abcdefghijklmnop", true, element("AE", "abcdefghijklmnop")},
        {"LO", "line\nfeed", "line_feed", true, element("LO", "line_feed ")},
        {"LO", "keeps\x1b", "keeps\x1b", true, element("LO", "keeps\x1b")},
        {"LO", std::string(70, 'x'), std::string(64, 'x'), true, element("LO", std::string(64, 'x'))},
        {"SH", "a\\b", "a_b", true, element("SH", "a_b ")},
        {"SH", "cr\rff\f", "cr_ff_", true, element("SH", "cr_ff_")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.vr) + " [" + c.text + "]");
        // Through the constructor from a text and through the setter.
        std::unique_ptr<KelvoDicomDataElementValue> made(
            KelvoDicomDataElementValueString::createWithVR(c.vr, c.text.c_str()));
        std::unique_ptr<KelvoDicomDataElementValue> set(
            KelvoDicomDataElementValueString::createWithVR(c.vr, nullptr));
        set->stringValue(c.text.c_str());
        for (KelvoDicomDataElementValue* value : {made.get(), set.get()}) {
            EXPECT_EQ(std::string(value->stringValue()), c.held);
            EXPECT_EQ(value->qtObjIsValid(), c.valid);
            EXPECT_EQ(encoded(*value), c.written);
        }
    }
}

TEST(CodeStrings, PaddingBytesAndMaxima) {
    KelvoDicomDataCodeString cs;
    KelvoDicomDataUID ui;
    KelvoDicomDataApplicationEntity ae;
    KelvoDicomDataLongString lo;
    KelvoDicomDataShortString sh;
    EXPECT_EQ(cs.paddingByte(), ' ');
    EXPECT_EQ(ui.paddingByte(), 0);
    EXPECT_EQ(ae.paddingByte(), ' ');
    EXPECT_EQ(cs.maxSizeAllowed(), 16u);
    EXPECT_EQ(ui.maxSizeAllowed(), 64u);
    EXPECT_EQ(ae.maxSizeAllowed(), 16u);
    EXPECT_EQ(lo.maxSizeAllowed(), 64u);
    EXPECT_EQ(sh.maxSizeAllowed(), 16u);
    EXPECT_TRUE(lo.qtObjIsValid());
    EXPECT_TRUE(sh.qtObjIsValid());
}

TEST(CodeStrings, SettingATextDropsOrKeepsFurtherValues) {
    // CS and UI start again; AE, LO and SH replace value 0 only.
    auto csNode = nodeFromFile("CS", "A\\B\\C ");
    KelvoDicomDataCodeString cs(csNode.get());
    ASSERT_EQ(cs.valuesCount(), 3u);
    cs.stringValue("new");
    EXPECT_EQ(texts(cs), std::vector<std::string>{"NEW"});

    auto loNode = nodeFromFile("LO", "a\\b\\c ");
    KelvoDicomDataLongString lo(loNode.get());
    lo.stringValue("new");
    EXPECT_EQ(texts(lo), (std::vector<std::string>{"new", "b", "c"}));
    EXPECT_EQ(joined(lo), "new\\b\\c");
}

TEST(CodeStrings, CopiesAndClones) {
    auto node = nodeFromFile("UI", std::string("1.2.3\\4.5\0", 10));
    KelvoDicomDataUID ui(node.get());
    KelvoDicomDataUID copy(ui);
    EXPECT_EQ(texts(copy), (std::vector<std::string>{"1.2.3", "4.5"}));
    std::unique_ptr<Kelvo_QTObj> clone(ui.clone());
    EXPECT_STREQ(static_cast<KelvoDicomDataUID*>(clone.get())->qtObjName(), "KelvoDicomDataUID");
    EXPECT_EQ(joined(*static_cast<KelvoDicomDataUID*>(clone.get())), "1.2.3\\4.5");

    KelvoDicomDataApplicationEntity spaces("    ");
    EXPECT_EQ(spaces.clone(), nullptr); // not valid
    KelvoDicomDataApplicationEntity station("STATION");
    std::unique_ptr<Kelvo_QTObj> ae(station.clone());
    EXPECT_STREQ(static_cast<KelvoDicomDataApplicationEntity*>(ae.get())->stringValue(), "STATION");

    // AE, LO and SH take over any string value through its text and their own rule.
    KelvoDicomDataLongString lo("with\\backslash");
    KelvoDicomDataShortString sh;
    sh.copy(lo);
    EXPECT_STREQ(sh.stringValue(), "with_backslash");
}

TEST(CodeStrings, GeneratedUIDs) {
    std::unique_ptr<KelvoDicomDataUID> a(KelvoDicomDataUID::generate("1.2.826.0.1.3680043.2"));
    std::unique_ptr<KelvoDicomDataUID> b(KelvoDicomDataUID::generate("1.2.826.0.1.3680043.2"));
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_STRNE(a->stringValue(), b->stringValue());
    EXPECT_EQ(std::string(a->stringValue()).rfind("1.2.826.0.1.3680043.2.", 0), 0u);
    EXPECT_LE(std::strlen(a->stringValue()), 64u);
    EXPECT_EQ(std::string(a->stringValue()).find_first_not_of("0123456789."), std::string::npos);
    std::unique_ptr<KelvoDicomDataUID> rootless(KelvoDicomDataUID::generate(nullptr));
    ASSERT_NE(rootless, nullptr);
    EXPECT_TRUE(rootless->qtObjIsValid());
}

} // namespace
