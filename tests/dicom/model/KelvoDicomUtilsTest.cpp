#include "KelvoDicomUtils.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <set>
#include <string>

using namespace std::string_literals;

namespace {

using testsupport::capture;

bool wellFormedUID(const std::string& uid) {
    if (uid.empty() || uid.size() > 64) return false;
    static const std::regex form(R"((0|[1-9][0-9]*)(\.(0|[1-9][0-9]*))*)");
    return std::regex_match(uid, form);
}

TEST(Uids, NeverRepeatAndStayWellFormed) {
    std::set<std::string> seen;
    for (const char* root :
         {static_cast<const char*>(nullptr), "1.2.840.10008", "1.2.826.0.1.3680043.2.1125"}) {
        for (int i = 0; i < 1000; ++i) {
            char* uid = DicmUtils_UIDCreate(root);
            std::string s(uid);
            delete[] uid;
            EXPECT_TRUE(wellFormedUID(s)) << s;
            EXPECT_TRUE(seen.insert(s).second) << "repeated " << s;
            if (!root || std::strcmp(root, "1.2.840.10008") == 0) {
                EXPECT_EQ(s.rfind("1.650.", 0), 0u) << s;
            }
        }
    }
    // Root plus stamp plus number.
    char* uid = DicmUtils_UIDCreate("1.2.3.4.5.6.7.8.9.10");
    EXPECT_TRUE(std::regex_match(uid, std::regex(R"(1\.2\.3\.4\.5\.6\.7\.8\.9\.10\.[0-9]{14}\.[0-9]+)")))
        << uid;
    delete[] uid;
    // Long roots: 64 characters come back as they are, longer ones are cut, and a cut never
    // leaves an empty last component.
    std::string root64 = "1." + std::string(62, '2');
    uid = DicmUtils_UIDCreate(root64.c_str());
    EXPECT_EQ(std::string(uid), root64);
    delete[] uid;
    uid = DicmUtils_UIDCreate(("1." + std::string(68, '3')).c_str());
    EXPECT_EQ(std::string(uid), "1." + std::string(62, '3'));
    delete[] uid;
    std::string root63 = "1." + std::string(61, '4');
    uid = DicmUtils_UIDCreate(root63.c_str());
    EXPECT_EQ(std::string(uid), root63);
    delete[] uid;
}

TEST(Anonymisation, StampsAndStrings) {
    char stamp[17];
    DicmUtils_GetAnonymousID(stamp);
    EXPECT_TRUE(std::regex_match(stamp, std::regex("[0-9]{14}"))) << stamp;
    char* id = nullptr;
    DicmUtils_IDAnonymizer(&id);
    EXPECT_EQ(std::strlen(id), 14u);
    delete[] id;

    char shortId[] = "ABCDEFGH";
    DicmUtils_IDAnonymizer(shortId);
    EXPECT_EQ(std::string(shortId),
              std::string(stamp, 8).substr(0, 4) + std::string(shortId).substr(4)); // year kept
    EXPECT_EQ(std::strlen(shortId), 8u);
    char longId[] = "ABCDEFGHIJKLMNOPQRST";
    DicmUtils_IDAnonymizer(longId);
    EXPECT_EQ(std::strlen(longId), 14u);
    EXPECT_TRUE(std::memcmp(longId + 14, "\0\0\0\0\0\0", 6) == 0);

    char pn[] = "Smith^John=Jones";
    EXPECT_STREQ(DicmUtils_StringAnonymizer(pn, "PN"), "XXXXX^XXXX=XXXXX");
    char tm4[] = "1234";
    EXPECT_STREQ(DicmUtils_StringAnonymizer(tm4, "TM"), "XXXX");
    char tm13[] = "123456.123456";
    DicmUtils_StringAnonymizer(tm13, "TM");
    EXPECT_TRUE(std::regex_match(tm13, std::regex("[0-9]{6}"))) << tm13;
    char da[] = "20010203";
    DicmUtils_StringAnonymizer(da, "DA");
    EXPECT_TRUE(std::regex_match(da, std::regex("[0-9]{8}"))) << da;
    char keep[] = "abc";
    EXPECT_STREQ(DicmUtils_StringAnonymizer(keep, ""), "abc");
}

TEST(NumberTexts, DecimalAndIntegerStrings) {
    EXPECT_EQ(DicmUtils_ISToNumber(" 42"), 42);
    EXPECT_EQ(DicmUtils_ISToNumber("042"), 42);
    EXPECT_EQ(DicmUtils_ISToNumber(""), 0);
    EXPECT_EQ(DicmUtils_ISToNumber(nullptr), 0);
    EXPECT_EQ(DicmUtils_ISToNumber("99999999999"), INT32_MAX);
    EXPECT_EQ(DicmUtils_ISToNumber("-99999999999"), INT32_MIN);
    EXPECT_FLOAT_EQ(DicmUtils_DSToNumber(" 1.5"), 1.5f);
    EXPECT_EQ(DicmUtils_DSToNumber("1e300"), HUGE_VALF);
    EXPECT_EQ(DicmUtils_DSToNumber("nan"), 0.0f);
    float* values = nullptr;
    int count = 0;
    DicmUtils_StringDecimalToNumber(" 1.5\\-2\\3e2", &values, &count);
    ASSERT_EQ(count, 3);
    EXPECT_FLOAT_EQ(values[2], 300.0f);
    std::free(values);
    DicmUtils_StringDecimalToNumber("1\\1e999\\2", &values, &count);
    EXPECT_EQ(count, 1); // stops at the infinite value
    std::free(values);
}

TEST(Swaps, WordsAndFloats) {
    uint8_t ow[] = {1, 2, 3, 4, 5};
    DicmUtils_OWSwap(ow, 5);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(ow), 5), "\x02\x01\x04\x03\x05");
    uint8_t of[] = {1, 2, 3, 4, 5, 6};
    DicmUtils_OFSwap(of, 6);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(of), 6), "\x04\x03\x02\x01\x05\x06");
    DicmUtils_OWSwap(nullptr, 4);
}

TEST(StreamWriters, ItemDelimiterAndSequenceHeaders) {
    EXPECT_EQ(capture([](FILE* f) { DicomUtils_WriteItemStart(f, 0, nullptr); }),
              "\xFE\xFF\x00\xE0\xFF\xFF\xFF\xFF"s);
    uint32_t sixteen = 16;
    EXPECT_EQ(capture([&](FILE* f) { DicomUtils_WriteItemStart(f, kDicomWriteBigEndian, &sixteen); }),
              "\xFF\xFE\xE0\x00\x00\x00\x00\x10"s);
    EXPECT_EQ(capture([](FILE* f) { DicomUtils_WriteEndofDelimiter(f, 0, 0xE00D); }),
              "\xFE\xFF\x0D\xE0\0\0\0\0"s);
    EXPECT_EQ(capture([](FILE* f) { DicomUtils_WriteEndofDelimiter(f, kDicomWriteBigEndian, 0xE0DD); }),
              "\xFF\xFE\xE0\xDD\0\0\0\0"s);
    dicomNodeDescRecord sq{0x0008, 0x1140, {'S', 'Q'}, {0, 0}, 0xFFFFFFFF};
    EXPECT_EQ(capture([&](FILE* f) { DicomUtils_WriteItemsContainerStart(f, 0, sq); }),
              "\x08\x00\x40\x11SQ\0\0\xFF\xFF\xFF\xFF"s);
    dicomNodeDescRecord px{0x7FE0, 0x0010, {'O', 'B'}, {0, 0}, 0x20};
    EXPECT_EQ(capture([&](FILE* f) { DicomUtils_WriteItemsContainerStart(f, kDicomWriteImplicitVR, px); }),
              "\xE0\x7F\x10\x00\x20\0\0\0"s);
    EXPECT_EQ(capture([&](FILE* f) { DicomUtils_WriteItemsContainerStart(f, kDicomWriteBigEndian, px); }),
              "\x7F\xE0\x00\x10OB\0\0\0\0\0\x20"s);
    DicomUtils_WriteItemStart(nullptr, 0, nullptr);
}

TEST(Misc, SyntaxFlagsDirectoriesAndGroups) {
    bool implicit = true, big = true;
    DicomUtils_XferSyntaxInfo("1.2.840.10008.1.2.1", implicit, big);
    EXPECT_FALSE(implicit || big);
    DicomUtils_XferSyntaxInfo("1.2.840.10008.1.2", implicit, big);
    EXPECT_TRUE(implicit);
    DicomUtils_XferSyntaxInfo("1.2.840.10008.1.2.2", implicit, big);
    EXPECT_TRUE(big && !implicit);
    EXPECT_TRUE(DicomUtils_IsFileDicomDirectory("1.2.840.10008.1.3.10"));
    EXPECT_FALSE(DicomUtils_IsFileDicomDirectory(nullptr));

    char dst[4];
    DicmUtils_SecureStringCopy(dst, "abcdef", 3);
    EXPECT_STREQ(dst, "abc");

    Kelvo_AtomContainer tree;
    int32_t status = 0;
    QTAtom g8 = DicmUtils_AddDataSetNode(tree.container(), 0, 0x0008, status, 0);
    QTAtom g0 = DicmUtils_AddDataSetNode(tree.container(), 0, 0x0000, status, 1);
    EXPECT_EQ(DicmUtils_AddDataSetNode(tree.container(), 0, 0x0008, status, 0), g8);
    QTAtomID id = 0;
    EXPECT_EQ(QTFindChildByIndex(tree.container(), 0, kDicomGroupAtom, 1, &id), g0);
    EXPECT_EQ(id, kDicomZeroID);
    EXPECT_EQ(DicmUtils_AddDataSetNode(nullptr, 0, 1, status, 0), 0);
    EXPECT_EQ(status, -50);
}

} // namespace
