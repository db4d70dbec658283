#include "KelvoDicomUtils.h"
#include "VUXDicomLib.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
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
    // Roots of every length from 1 to 64: 10,000 UIDs each, every one well formed and within 64
    // characters, never two alike; a root that leaves no room gives the empty result.
    for (size_t length = 1; length <= 64; ++length) {
        std::string root = "1";
        while (root.size() < length)
            root += root.size() + 1 < length ? ".2" : "3";
        root.resize(length);
        std::set<std::string> made;
        for (int i = 0; i < 10000; ++i) {
            char* fresh = DicmUtils_UIDCreate(root.c_str());
            const std::string s(fresh ? fresh : "");
            delete[] fresh;
            if (s.empty()) continue;
            EXPECT_LE(s.size(), 64u);
            EXPECT_TRUE(wellFormedUID(s)) << s;
            EXPECT_EQ(s.rfind(root + ".", 0), 0u) << s;
            EXPECT_TRUE(made.insert(s).second) << "repeated " << s;
        }
    }
    // Root plus stamp plus number.
    char* uid = DicmUtils_UIDCreate("1.2.3.4.5.6.7.8.9.10");
    EXPECT_TRUE(std::regex_match(uid, std::regex(R"(1\.2\.3\.4\.5\.6\.7\.8\.9\.10\.[0-9]{14}\.[0-9]+)")))
        << uid;
    delete[] uid;
}

// A root is taken only when it is digits and dots as a UID has them and leaves room for the
// stamp and the number (26 characters) within 64; any other is refused with an empty result, for
// no UID cut to fit could be kept apart from the next.
TEST(Uids, RootsThatCannotMakeUniqueUIDsAreRefused) {
    const std::string longest = "1." + std::string(36, '2'); // 38 characters: 38 + 26 = 64
    struct Case {
        std::string root;
        bool taken;
    };
    const Case cases[] = {
        {longest, true},
        {longest + "2", false},
        {"1." + std::string(61, '4'), false},
        {"1." + std::string(62, '2'), false},
        {"1." + std::string(68, '3'), false},
        {"abc.def", false},
        {"1.2.3.", false},
        {".1.2.3", false},
        {"1..2", false},
        {"1.02.3", false},
        {"1.2.3a", false},
        {"1.2 .3", false},
        {"0.1.2", true},
        {"2.25", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.root);
        char* uid = DicmUtils_UIDCreate(c.root.c_str());
        ASSERT_NE(uid, nullptr);
        char* twin = VUX::VUXDCM::VUXDicomLibrary::dicomUIDCreate(c.root.c_str());
        ASSERT_NE(twin, nullptr);
        for (const std::string& made : {std::string(uid), std::string(twin)}) {
            if (c.taken) {
                EXPECT_TRUE(wellFormedUID(made)) << made;
                EXPECT_EQ(made.rfind(c.root + ".", 0), 0u) << made;
            } else {
                EXPECT_EQ(made, "");
            }
        }
        if (c.taken) {
            EXPECT_NE(std::string(uid), std::string(twin));
        }
        delete[] uid;
        delete[] twin;
    }
}

// The library's twins answer as the DicmUtils_ forms do, and share their clock and sequences.
TEST(LibraryTwins, AnswerAsTheUtilities) {
    using Library = VUX::VUXDCM::VUXDicomLibrary;
    for (const char* text : {"", " 42", "042", "-7", "99999999999", "-99999999999", "12abc"})
        EXPECT_EQ(Library::integerStringToNumber(text), DicmUtils_ISToNumber(text)) << text;
    EXPECT_EQ(Library::integerStringToNumber(nullptr), DicmUtils_ISToNumber(nullptr));
    for (const char* text : {"", " 1.5", "-2.25e3", "1e300", "nan", "x"}) {
        const float a = Library::decimalStringToNumber(text), b = DicmUtils_DSToNumber(text);
        EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0) << text;
    }
    EXPECT_EQ(Library::decimalStringToNumber(nullptr), 0.0f);

    struct Anonymised {
        const char* value;
        const char* vr;
    };
    for (const Anonymised& c : {Anonymised{"Smith^John=Jones", "PN"}, Anonymised{"1234", "TM"},
                                Anonymised{"abc", ""}, Anonymised{"abc", "P"}, Anonymised{"ID42", "LO"}}) {
        std::string a = c.value, b = c.value;
        EXPECT_STREQ(Library::anonymizeString(a.data(), c.vr), DicmUtils_StringAnonymizer(b.data(), c.vr));
    }
    EXPECT_EQ(Library::anonymizeString(nullptr, "PN"), nullptr);
    Library::copyDicomCurrentTime(nullptr);
    Library::copyDicomCurrentDate(nullptr);
    Library::anonymizeID(nullptr);
}

// A local clock the tests set by hand; `clockWorks` false stands for a local time that cannot
// be had.
std::tm pinnedTime{};
bool clockWorks = true;

bool pinnedClock(std::tm& out) {
    if (!clockWorks) return false;
    out = pinnedTime;
    return true;
}

void pinClock(int year, int month, int day, int hour, int minute, int second) {
    pinnedTime = std::tm{};
    pinnedTime.tm_year = year - 1900;
    pinnedTime.tm_mon = month - 1;
    pinnedTime.tm_mday = day;
    pinnedTime.tm_hour = hour;
    pinnedTime.tm_min = minute;
    pinnedTime.tm_sec = second;
    clockWorks = true;
}

// Puts the pinned clock in place (a fresh sequence of identifiers) and the system's back after.
class PinnedClock : public ::testing::Test {
  protected:
    void SetUp() override { DicmUtils_SetLocalTimeSource(&pinnedClock); }
    void TearDown() override { DicmUtils_SetLocalTimeSource(nullptr); }
    static std::string nextID() {
        char stamp[17];
        DicmUtils_GetAnonymousID(stamp);
        return stamp;
    }
};

// On one clock the twins and the utilities give the same times, dates and anonymised texts, and
// their identifiers are one sequence: each takes the next value.
TEST_F(PinnedClock, LibraryTwinsShareTheClockAndTheIdentifiers) {
    using Library = VUX::VUXDCM::VUXDicomLibrary;
    pinClock(2024, 2, 29, 23, 59, 58);
    char ours[9], theirs[9];
    Library::copyDicomCurrentTime(ours);
    DicmUtils_CopyDicomCurrentTime(theirs);
    EXPECT_STREQ(ours, "235958");
    EXPECT_STREQ(ours, theirs);
    Library::copyDicomCurrentDate(ours);
    DicmUtils_CopyDicomCurrentDate(theirs);
    EXPECT_STREQ(ours, "20240229");
    EXPECT_STREQ(ours, theirs);
    for (const char* vr : {"TM", "DA"}) {
        std::string a = "19991231235959", b = a;
        EXPECT_STREQ(Library::anonymizeString(a.data(), vr), DicmUtils_StringAnonymizer(b.data(), vr)) << vr;
    }

    char* made = Library::anonymousIDCreate();
    ASSERT_NE(made, nullptr);
    EXPECT_STREQ(made, "20240229235958");
    delete[] made;
    DicmUtils_IDAnonymizer(&made);
    EXPECT_STREQ(made, "20240229235959");
    delete[] made;
    char longId[] = "PATIENT-0000000001";
    Library::anonymizeID(longId);
    EXPECT_STREQ(longId, "20240301000000");
    char shortId[] = "P001";
    Library::anonymizeID(shortId);
    EXPECT_STREQ(shortId, "2024");
    char other[] = "P0000001";
    DicmUtils_IDAnonymizer(other);
    EXPECT_STREQ(other, "20240301");
    EXPECT_EQ(nextID(), "20240301000003");

    // UIDs of both read the same clock, never repeat, and neither advances the identifiers.
    std::set<std::string> uids;
    for (int i = 0; i < 10; ++i) {
        for (char* uid : {Library::dicomUIDCreate("1.2.826.0.1"), DicmUtils_UIDCreate("1.2.826.0.1")}) {
            EXPECT_EQ(std::string(uid).rfind("1.2.826.0.1.20240229235958.", 0), 0u) << uid;
            uids.insert(uid);
            delete[] uid;
        }
    }
    EXPECT_EQ(uids.size(), 20u);
    // Without a local time the stamp of a UID is a 0, so that the UID stays digits and dots.
    clockWorks = false;
    char* uid = Library::dicomUIDCreate("1.2.826.0.1");
    EXPECT_TRUE(std::regex_match(uid, std::regex(R"(1\.2\.826\.0\.1\.0\.[0-9]+)"))) << uid;
    delete[] uid;
    uid = DicmUtils_UIDCreate(nullptr);
    EXPECT_TRUE(wellFormedUID(uid)) << uid;
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

TEST_F(PinnedClock, AnonymousIDsNeverRepeatAndCarryThroughTheCalendar) {
    struct Case {
        int start[6]; // year, month, day, hour, minute, second of the clock, which stays there
        const char* ids[3];
    };
    const Case cases[] = {
        {{2023, 12, 31, 23, 59, 58}, {"20231231235958", "20231231235959", "20240101000000"}},
        {{2024, 2, 28, 23, 59, 59}, {"20240228235959", "20240229000000", "20240229000001"}},
        {{2023, 2, 28, 23, 59, 59}, {"20230228235959", "20230301000000", "20230301000001"}},
        {{2024, 4, 30, 23, 59, 59}, {"20240430235959", "20240501000000", "20240501000001"}},
        {{2024, 7, 9, 9, 59, 59}, {"20240709095959", "20240709100000", "20240709100001"}},
        {{2024, 7, 9, 10, 8, 59}, {"20240709100859", "20240709100900", "20240709100901"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ids[0]);
        DicmUtils_SetLocalTimeSource(&pinnedClock); // each case starts a sequence of its own
        pinClock(c.start[0], c.start[1], c.start[2], c.start[3], c.start[4], c.start[5]);
        for (const char* id : c.ids)
            EXPECT_EQ(nextID(), id);
    }

    // The clock catching up is followed; a clock stepping back is not.
    DicmUtils_SetLocalTimeSource(&pinnedClock);
    pinClock(2024, 10, 27, 2, 30, 0);
    EXPECT_EQ(nextID(), "20241027023000");
    pinClock(2024, 10, 27, 2, 30, 5);
    EXPECT_EQ(nextID(), "20241027023005");
    pinClock(2024, 10, 27, 2, 0, 0); // summer time ended
    EXPECT_EQ(nextID(), "20241027023006");
    // Every way of making one takes the next value.
    char* made = nullptr;
    DicmUtils_IDAnonymizer(&made);
    ASSERT_NE(made, nullptr);
    EXPECT_STREQ(made, "20241027023007");
    delete[] made;
    char longId[] = "PATIENT-0000000001";
    DicmUtils_IDAnonymizer(longId);
    EXPECT_STREQ(longId, "20241027023008");
    char shortId[] = "P0000001";
    DicmUtils_IDAnonymizer(shortId);
    EXPECT_STREQ(shortId, "20241027");
    EXPECT_EQ(nextID(), "20241027023010");
}

TEST_F(PinnedClock, WithoutALocalTimeIdentifiersStillDiffer) {
    clockWorks = false;
    EXPECT_EQ(nextID(), "XX000000000000");
    EXPECT_EQ(nextID(), "XX000000000001");
    // Once a stamp was handed out, a clock that fails continues from it.
    pinClock(2024, 1, 1, 0, 0, 0);
    EXPECT_EQ(nextID(), "20240101000000");
    clockWorks = false;
    EXPECT_EQ(nextID(), "20240101000001");
}

TEST_F(PinnedClock, UIDsAndDatesReadTheClockWithoutAdvancingTheIdentifiers) {
    pinClock(2024, 3, 5, 7, 8, 9);
    std::set<std::string> uids;
    for (int i = 0; i < 20; ++i) {
        char* uid = DicmUtils_UIDCreate("1.2.826.0.1");
        EXPECT_EQ(std::string(uid).rfind("1.2.826.0.1.20240305070809.", 0), 0u) << uid;
        uids.insert(uid);
        delete[] uid;
    }
    EXPECT_EQ(uids.size(), 20u);
    EXPECT_EQ(nextID(), "20240305070809");

    char tm[] = "235959.000";
    EXPECT_STREQ(DicmUtils_StringAnonymizer(tm, "TM"), "070809");
    char da[] = "19991231";
    EXPECT_STREQ(DicmUtils_StringAnonymizer(da, "DA"), "20240305");
    clockWorks = false;
    char noTime[] = "235959";
    EXPECT_STREQ(DicmUtils_StringAnonymizer(noTime, "TM"), "000000");
    char noDate[] = "19991231";
    EXPECT_STREQ(DicmUtils_StringAnonymizer(noDate, "DA"), "19000101");
}

TEST(Anonymisation, IdentifiersInARowDifferAndIncrease) {
    std::string previous;
    for (int i = 0; i < 5; ++i) {
        char* id = nullptr;
        DicmUtils_IDAnonymizer(&id);
        ASSERT_NE(id, nullptr);
        std::string current = id;
        delete[] id;
        ASSERT_TRUE(std::regex_match(current, std::regex("[0-9]{14}"))) << current;
        if (!previous.empty()) {
            EXPECT_GT(current, previous);
        }
        previous = current;
    }
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
