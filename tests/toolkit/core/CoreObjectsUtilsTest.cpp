#include "KelvoCoreObjectsTypes.h"
#include "KelvoCoreObjectsUtils.h"

#include "PlatformMemory.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <ctime>
#include <memory>
#include <regex>
#include <set>
#include <string>

// ---------------------------------------------------------------------------------------------
// Utilities

TEST(Utils, NewFileStreamReportsTheToolkitCodes) {
    testsupport::ScratchDir dir("tka-utils");
    struct Case {
        std::string path;
        const char* mode;
        bool nullPath;
        int32_t expected;
    };
    const Case cases[] = {
        {dir.file("missing.bin"), "rb", false, 100},
        {dir.file("no/such/folder/out.bin"), "w", false, 101},
        {dir.file("no/such/folder/out.bin"), "ab", false, 101},
        {dir.file("x"), nullptr, false, -50},
        {"", "rb", true, -50},
    };
    for (const Case& c : cases) {
        int32_t error = 7;
        FILE* f = Kelvo_NewFileStream(c.nullPath ? nullptr : c.path.c_str(), c.mode, error);
        EXPECT_EQ(f, nullptr);
        EXPECT_EQ(error, c.expected) << c.path;
    }
    int32_t error = 7;
    FILE* f = Kelvo_NewFileStream(dir.file("ok.bin").c_str(), "wb", error);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(error, 7); // left alone on success
    std::fclose(f);
}

// A file opened to be written anew keeps what it held until the stream is closed whole.
TEST(Utils, NewFileStreamPutsAWrittenFileInPlaceOnClose) {
    testsupport::ScratchDir dir("tka-utils-whole");
    const std::string path = dir.file("out.bin");
    testsupport::writeFile(path, "before");
    int32_t error = 0;
    FILE* f = Kelvo_NewFileStream(path.c_str(), "w+b", error);
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fputs("0123456789", f), 1);
    ASSERT_EQ(std::fflush(f), 0);
    EXPECT_EQ(testsupport::readFile(path), "before");
    // Read back and overwritten through the same stream.
    ASSERT_EQ(std::fseek(f, 3, SEEK_SET), 0);
    char got[4] = {};
    ASSERT_EQ(std::fread(got, 1, 3, f), 3u);
    EXPECT_STREQ(got, "345");
    ASSERT_EQ(std::fseek(f, 0, SEEK_END), 0);
    EXPECT_EQ(std::ftell(f), 10);
    ASSERT_EQ(std::fseek(f, 0, SEEK_SET), 0);
    std::fputs("ab", f);
    EXPECT_EQ(std::fclose(f), 0);
    EXPECT_EQ(testsupport::readFile(path), "ab23456789");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
    // "x" refuses a file that is there.
    EXPECT_EQ(Kelvo_NewFileStream(path.c_str(), "wx", error), nullptr);
    EXPECT_EQ(error, 101);
    EXPECT_EQ(testsupport::readFile(path), "ab23456789");
}

TEST(Utils, FourCharacterCodesAndStrings) {
    const char* first = Kelvo_Utils::OSTypeToCString(FOUR_CHAR_CODE("abcd"));
    EXPECT_STREQ(first, "abcd");
    Kelvo_Utils::OSTypeToCString(FOUR_CHAR_CODE("wxyz"));
    EXPECT_STREQ(first, "wxyz"); // one shared buffer
    EXPECT_STREQ(Kelvo_Utils::OSTypeToCString(0), "");
    EXPECT_EQ(Kelvo_Utils::CStringToOSType("moov"), 0x6D6F6F76u);
    EXPECT_EQ(Kelvo_Utils::CStringToOSType("abc"), 0u);
    EXPECT_EQ(Kelvo_Utils::CStringToOSType("abcde"), 0u);
    EXPECT_EQ(Kelvo_Utils::CStringToOSType(nullptr), 0u);

    unsigned char pascal[256];
    std::string longText(300, 'q');
    Kelvo_Utils::CToPString(longText.c_str(), pascal);
    EXPECT_EQ(pascal[0], 255);
    EXPECT_EQ(pascal[255], 'q');
    Kelvo_Utils::CToPString(nullptr, pascal);
    EXPECT_EQ(pascal[0], 0);
    Kelvo_Utils::CToPString("abc", nullptr); // nothing to write to

    char* text = reinterpret_cast<char*>(1);
    Kelvo_Utils::CToPString("hello", pascal);
    EXPECT_EQ(Kelvo_Utils::PToCStringCreate(pascal, text), 0);
    EXPECT_STREQ(text, "hello");
    delete[] text;
    pascal[0] = 0;
    Kelvo_Utils::PToCStringCreate(pascal, text);
    EXPECT_EQ(text, nullptr);

    CFStringRef s = Kelvo_Utils::CStringToCFString("Fenra");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(Kelvo_Utils::CFStringToCString(s, text, true), 0);
    EXPECT_STREQ(text, "Fenra");
    delete[] text;
    // Texts are Mac Roman: 0x8E is e-acute both ways; a character outside it gives no text.
    s = Kelvo_Utils::CStringToCFString("caf\x8E");
    EXPECT_EQ(s->utf8, "caf\xC3\xA9");
    Kelvo_Utils::CFStringToCString(s, text, true);
    EXPECT_STREQ(text, "caf\x8E");
    delete[] text;
    s = CFStringCreateWithCString(nullptr, "\xC5\x82", kCFStringEncodingUTF8); // l with stroke
    EXPECT_EQ(Kelvo_Utils::CFStringToCString(s, text, true), 0);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(Kelvo_Utils::CFStringToCString(nullptr, text, false), -50);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(Kelvo_Utils::CStringToCFString(nullptr), nullptr);
}

TEST(Utils, DictionaryAccess) {
    CFMutableDictionaryRef dict = CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                                                            &kCFTypeDictionaryValueCallBacks);
    CFStringRef key = CFStringCreateWithCString(nullptr, "key", kCFStringEncodingUTF8);
    CFStringRef other = CFStringCreateWithCString(nullptr, "other", kCFStringEncodingUTF8);
    CFStringRef value = CFStringCreateWithCString(nullptr, "value", kCFStringEncodingUTF8);
    int32_t err = 1;
    EXPECT_EQ(Kelvo_Utils::CFDictSetValue(dict, key, value), 0);
    EXPECT_EQ(Kelvo_Utils::CFDictGetValue(dict, key, err), static_cast<CFTypeRef>(value));
    EXPECT_EQ(err, 0);
    EXPECT_EQ(Kelvo_Utils::CFDictGetValue(dict, other, err), nullptr);
    EXPECT_EQ(err, 321);
    EXPECT_EQ(Kelvo_Utils::CFDictGetValue(value, key, err), nullptr); // not a dictionary
    EXPECT_EQ(err, -50);
    EXPECT_EQ(Kelvo_Utils::CFDictGetValue(nullptr, key, err), nullptr);
    EXPECT_EQ(err, -50);
    EXPECT_EQ(Kelvo_Utils::CFDictSetValue(nullptr, key, value), -50);
    EXPECT_EQ(Kelvo_Utils::CFDictSetValue(value, key, value), -50);
    EXPECT_EQ(Kelvo_Utils::CFDictSetValue(dict, nullptr, value), -50);
    EXPECT_EQ(Kelvo_Utils::CFDictSetValue(dict, other, nullptr), -50);
    EXPECT_EQ(CFDictionaryGetCount(dict), 1);
    for (CFTypeRef o : {static_cast<CFTypeRef>(dict), static_cast<CFTypeRef>(key),
                        static_cast<CFTypeRef>(other), static_cast<CFTypeRef>(value)})
        CFRelease(o);
}

TEST(Utils, FlagsWidesColoursAndAngles) {
    EXPECT_TRUE(Kelvo_Utils::flagCheck(0x6, 0x2));
    EXPECT_FALSE(Kelvo_Utils::flagCheck(0x6, 0x3));
    uint32_t f = 0x6;
    Kelvo_Utils::flagSet(f, 0x1);
    EXPECT_EQ(f, 0x7u);
    Kelvo_Utils::flagClear(f, 0x2);
    EXPECT_EQ(f, 0x5u);
    Kelvo_Utils::flagToggle(f, 0x5);
    EXPECT_EQ(f, 0u);

    wide w = Kelvo_Utils::ConvertSInt64ToWide(-2);
    EXPECT_EQ(w.hi, -1);
    EXPECT_EQ(w.lo, 0xFFFFFFFEu);
    EXPECT_EQ(Kelvo_Utils::ConvertWideToSInt64(w), -2);
    EXPECT_EQ(Kelvo_Utils::ConvertWideToSInt64(Kelvo_Utils::ConvertSInt64ToWide(INT64_MIN)), INT64_MIN);

    RGBColor c{0x0102, 0x0304, 0x0506};
    Kelvo_Utils::EndianRGBColorNtoB(c);
    if (!Kelvo_Utils::isPlatformBigEndian()) {
        EXPECT_EQ(c.red, 0x0201);
    }
    Kelvo_Utils::EndianRGBColorBtoN(c);
    EXPECT_EQ(c.blue, 0x0506);

    EXPECT_FLOAT_EQ(Kelvo_Utils::degreesToRadians(180.0f), 3.141592f);
    EXPECT_FLOAT_EQ(Kelvo_Utils::radiansToDegrees(3.141592f), 180.0f);
    EXPECT_EQ(Kelvo_Utils::libraryVersion(), 0x06708000u);
    EXPECT_STREQ(Kelvo_Utils::libraryVersionStr(), "6.7.0");
}

TEST(Utils, HandleToCStringLeavesTheHandleAsItWas) {
    Handle h = nullptr;
    ASSERT_EQ(PtrToHand("abc", &h, 3), 0);
    char* text = nullptr;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Kelvo_Utils::HandleToCString(h, text), 0);
        EXPECT_STREQ(text, "abc");
        delete[] text;
        EXPECT_EQ(GetHandleSize(h), 3); // no zero byte appended, however often it is asked
    }
    DisposeHandle(h);
    EXPECT_EQ(Kelvo_Utils::HandleToCString(nullptr, text), -50);
}

TEST(Utils, HandleCopiesOwnTheirBytes) {
    int32_t err = 1;
    Handle a = Kelvo_Utils::HandleCopy("xyz", 3, err);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(err, 0);
    Handle b = Kelvo_Utils::HandleCopy(a, err);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(*a, *b);
    (*a)[0] = 'Q';
    EXPECT_EQ((*b)[0], 'x');
    EXPECT_EQ(HGetState(a) & kHandleIsLockedBit, 0); // unlocked again
    DisposeHandle(a);
    DisposeHandle(b);
    EXPECT_EQ(Kelvo_Utils::HandleCopy(static_cast<const char*>(nullptr), 3, err), nullptr);
    EXPECT_EQ(err, -108);
    EXPECT_EQ(Kelvo_Utils::HandleCopy(static_cast<Handle>(nullptr), err), nullptr);
    EXPECT_EQ(err, -108);

    EXPECT_EQ(Kelvo_Utils::MovieCopy(nullptr, err, true), nullptr);
    EXPECT_EQ(err, -2010);
}

TEST(Utils, InitUIDTextsNeverRepeat) {
    // Many identifiers made within the same second: all differ, and each starts with the local
    // time's fourteen digits and a point.
    std::set<std::string> seen;
    std::regex shape("^[0-9]{14}\\.[0-9]{1,10}\\.[0-9]{1,10}$");
    std::time_t before = std::time(nullptr);
    for (int i = 0; i < 2000; ++i) {
        char text[37];
        std::memset(text, 'x', sizeof text);
        Kelvo_Utils::initUID(text);
        ASSERT_LE(std::strlen(text), 36u);
        ASSERT_TRUE(std::regex_match(text, shape)) << text;
        seen.insert(text + 14); // the numbers alone
    }
    std::time_t after = std::time(nullptr);
    EXPECT_EQ(seen.size(), 2000u);

    char text[37];
    Kelvo_Utils::initUID(text);
    std::tm t{};
    localtime_r(&before, &t);
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%04d%02d%02d%02d%02d%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                  t.tm_hour, t.tm_min, t.tm_sec);
    std::string prefix(text, 14);
    EXPECT_GE(prefix, std::string(stamp));
    localtime_r(&after, &t);
    std::snprintf(stamp, sizeof stamp, "%04d%02d%02d%02d%02d%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                  t.tm_hour, t.tm_min, t.tm_sec + 1);
    EXPECT_LE(prefix, std::string(stamp));
}

TEST(Utils, PlatformQueriesWithoutImportersAnswerNo) {
    testsupport::ScratchDir dir("tka-utils");
    testsupport::writeFile(dir.file("a.mov"), "data");
    FSSpec spec;
    ASSERT_EQ(FSPathMakeFSSpec(dir.file("a.mov").c_str(), &spec), 0);
    EXPECT_FALSE(Kelvo_Utils::isImageFile(&spec));
    EXPECT_FALSE(Kelvo_Utils::isMovieFile(&spec));
    EXPECT_FALSE(Kelvo_Utils::isImageFile(nullptr));
    EXPECT_FALSE(Kelvo_Utils::isMovieFile(nullptr));
}

// ---------------------------------------------------------------------------------------------
// Four-character codes, UUIDs and time ranges

TEST(OSType, ValueAndText) {
    Kelvo_OSType a("abcd");
    EXPECT_EQ(a.getOSType(), FOUR_CHAR_CODE("abcd"));
    EXPECT_STREQ(a.stringValue(), "abcd");
    EXPECT_EQ(a.nativeToBig(), FOUR_CHAR_CODE("dcba"));
    EXPECT_EQ(Kelvo_OSType(0u).nativeToBig(), 0u);
    Kelvo_OSType b("abc");
    EXPECT_EQ(b.getOSType(), 0u);
    EXPECT_STREQ(b.stringValue(), "");
    b = FOUR_CHAR_CODE("moov");
    EXPECT_STREQ(b.stringValue(), "moov");
    EXPECT_TRUE(b == Kelvo_OSType("moov"));
    EXPECT_TRUE(b != a);
    b = a;
    EXPECT_EQ(uint32_t(b), FOUR_CHAR_CODE("abcd"));
    b.defaultStatus();
    EXPECT_EQ(b.getOSType(), 0u);
    EXPECT_STREQ(b.stringValue(), "");
    std::unique_ptr<Kelvo_QTObj> c(a.clone());
    EXPECT_STREQ(static_cast<Kelvo_OSType*>(c.get())->stringValue(), "abcd");
}

TEST(UUID, TextForms) {
    Kelvo_UUID u;
    QTUUID raw{0x1234, 0x56, 0x78, {0x01, 0x00, 0x00, 0x00, 0xFF, 0xEE, 0xDD, 0xCC}};
    u.uuid(raw);
    u.splitter('-');
    u.formatType(2);
    EXPECT_STREQ(u.stringValue(), "1234-56-78-0001-CCDDEEFF");
    u.formatType(3); // ignored
    EXPECT_EQ(u.formatType(), 2);
    u.formatType(0);
    EXPECT_STREQ(u.stringValue(), "4660-86-120-1-3437096703");
    u.splitter(0);
    EXPECT_STREQ(u.stringValue(), "46608612013437096703");
    u.formatType(2);
    EXPECT_STREQ(u.stringValue(), "12345678"
                                  "0001"
                                  "CCDDEEFF");

    QTUUID big{0xFFFFFFFF, 0xFFFF, 0xFFFF, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}};
    u.uuid(big);
    u.splitter('.');
    u.formatType(1);
    EXPECT_STREQ(u.stringValue(), "4294967295.65535.65535.4294967295.4294967295"); // the longest, 44
}

TEST(UUID, MadeInOneProcessNeverRepeatAndCopiesCompareEqual) {
    std::set<std::string> seen;
    for (int i = 0; i < 20000; ++i) {
        Kelvo_UUID u;
        ASSERT_EQ(u.Error(), 0);
        u.formatType(2);
        u.splitter('-');
        seen.insert(u.stringValue());
    }
    EXPECT_EQ(seen.size(), 20000u);

    Kelvo_UUID a, b;
    EXPECT_FALSE(a == b);
    a.splitter(':');
    b = a;
    EXPECT_TRUE(a == b);
    EXPECT_EQ(b.splitter(), ':');
    Kelvo_UUID c(a);
    EXPECT_TRUE(c.isEqual(a));
    Kelvo_OSType other("abcd");
    c.copy(other);
    EXPECT_EQ(c.Error(), 10);
}

TEST(TimeRange, ValidityEndAndComparison) {
    Kelvo_TimeRange r(10, 20);
    EXPECT_EQ(r.End(), 30);
    EXPECT_EQ(Kelvo_TimeRange(INT32_MAX, INT32_MAX).End(), int64_t(INT32_MAX) * 2);
    Kelvo_TimeRange bad(-1, 5);
    EXPECT_FALSE(bad.qtObjIsValid());
    EXPECT_EQ(bad.clone(), nullptr);
    EXPECT_TRUE(r == r);
    EXPECT_FALSE(r != r);
    EXPECT_FALSE(r == bad);
    EXPECT_TRUE(r != bad);
    EXPECT_TRUE(r == Kelvo_TimeRange(10, 20));
    EXPECT_TRUE(r != Kelvo_TimeRange(10, 21));

    Kelvo_TimeRange fromMovie(static_cast<Movie>(nullptr));
    EXPECT_EQ(fromMovie.Error(), -2010);
    Kelvo_TimeRange fromController(static_cast<MovieController>(nullptr));
    EXPECT_EQ(fromController.Error(), -50);
    EXPECT_EQ(fromController.start(), 0);
}

TEST(TimeRange64, SecondsComparisonAndConversion) {
    Kelvo_TimeRange64 a, b;
    a.scale() = 600;
    a.start() = 600;
    a.duration() = 1200;
    b.scale() = 1;
    b.start() = 1;
    b.duration() = 2;
    EXPECT_TRUE(a == b);
    Kelvo_TimeRange64 raw(1, 2); // scale 0: raw values
    EXPECT_TRUE(raw == b);
    EXPECT_TRUE(raw == a);                             // 1 and 2 seconds on both sides
    EXPECT_FALSE(raw == Kelvo_TimeRange64(600, 1200)); // raw values, not seconds
    Kelvo_TimeRange64 invalid(-1, 2);
    EXPECT_FALSE(a == invalid);
    EXPECT_TRUE(invalid == invalid);

    Kelvo_TimeRange64 s;
    s.start() = 600;
    EXPECT_EQ(s.startInSeconds(), 0.0); // no scale
    s.scale() = 600;
    s.duration() = 300;
    EXPECT_EQ(s.startInSeconds(), 1.0);
    EXPECT_EQ(s.durationInSeconds(), 0.5);
    EXPECT_EQ(s.endInSeconds(), 1.5);
    EXPECT_EQ(s.end(), 900.0);

    Kelvo_TimeRange t = s;
    EXPECT_EQ(t.start(), 600);
    EXPECT_EQ(t.duration(), 300);
    Kelvo_TimeRange64 huge(1e30, std::nan(""));
    huge.toTimeRange(t); // defined for every double
    EXPECT_EQ(t.start(), INT32_MAX);
    EXPECT_EQ(t.duration(), 0);

    Kelvo_TimeRange64 from;
    from.scale() = 600;
    from = Kelvo_TimeRange(5, 6);
    EXPECT_EQ(from.scale(), 0);
    EXPECT_EQ(from.start(), 5.0);
    from(7, 8);
    EXPECT_EQ(from.duration(), 8.0);
    std::unique_ptr<Kelvo_QTObj> c(from.clone());
    EXPECT_TRUE(*static_cast<Kelvo_TimeRange64*>(c.get()) == from);
    EXPECT_EQ(invalid.clone(), nullptr);

    Kelvo_TimeRange64 mc(static_cast<MovieController>(nullptr));
    EXPECT_EQ(mc.Error(), -50);
}
