#include "VUXQTUtils.h"

#include "PlatformErrors.h"
#include "PlatformMemory.h"
#include "PlatformMovies.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>

namespace {

using VUX::VUXQT::VUXAtomCoordinate;
using VUX::VUXQT::VUXQTUtils;

std::string handleBytes(Handle h) {
    return std::string(*h, static_cast<size_t>(GetHandleSize(h)));
}

TEST(VUXQTUtils, ScriptCodes) {
    EXPECT_EQ(VUXQTUtils::regionCodeToScriptCode("frx"), 1); // only two characters count
    EXPECT_EQ(VUXQTUtils::regionCodeToScriptCode("FR"), 32767);
    EXPECT_EQ(VUXQTUtils::regionCodeToScriptCode("ko"), 23);
    EXPECT_EQ(VUXQTUtils::regionCodeToScriptCode(""), 32767);
    EXPECT_EQ(VUXQTUtils::regionCodeToScriptCode(nullptr), 32767);
    EXPECT_EQ(VUXQTUtils::regionCodeToScriptCode("e"), 32767);
    EXPECT_STREQ(VUXQTUtils::scriptCodeToRegionCode(0), "en");
    EXPECT_STREQ(VUXQTUtils::scriptCodeToRegionCode(19), "zh");
    EXPECT_STREQ(VUXQTUtils::scriptCodeToRegionCode(24), "");
    EXPECT_STREQ(VUXQTUtils::scriptCodeToRegionCode(-1), "");
}

TEST(VUXQTUtils, FixedPoint) {
    EXPECT_EQ(VUXQTUtils::valueToFixed<float>(1.5f), 0x18000);
    EXPECT_EQ(VUXQTUtils::valueToFixed<float>(40000.0f), 0x7FFFFFFF);
    EXPECT_EQ(VUXQTUtils::valueToFixed<float>(-40000.0f), int32_t(0x80000000u));
    EXPECT_EQ(VUXQTUtils::valueToFixed<float>(-1.99999f), -0x1FFFF); // toward zero
    EXPECT_EQ(VUXQTUtils::valueToFixed<float>(std::nanf("")), 0);
    EXPECT_EQ(VUXQTUtils::valueToFixed<int16_t>(3), 0x30000);
    EXPECT_EQ(VUXQTUtils::valueToFixed<uint32_t>(0xFFFFFFFFu), 0x7FFFFFFF);
    EXPECT_EQ(VUXQTUtils::valueToFixed<double>(0.5), 0x8000);
    EXPECT_EQ(VUXQTUtils::fixedToValue<int32_t>(0x18000), 2);
    EXPECT_EQ(VUXQTUtils::fixedToValue<int16_t>(0x28000), 3);
    EXPECT_EQ(VUXQTUtils::fixedToValue<float>(0x8000), 0.5f);
    EXPECT_EQ(VUXQTUtils::fixedToValue<double>(-0x10000), -1.0);
}

TEST(VUXQTUtils, Time) {
    // The test runs with TZ=UTC.
    EXPECT_EQ(VUXQTUtils::macTimeToCTime(0), -2082844800);
    EXPECT_EQ(VUXQTUtils::macTimeToCTime(86400) - VUXQTUtils::macTimeToCTime(0), 86400);
    // Past 2038 the calendar value still fits.
    EXPECT_EQ(VUXQTUtils::macTimeToCTime(0xFFFFFFFFu), -2082844800 + int64_t(0xFFFFFFFF));
}

TEST(VUXQTUtils, HandlesAndPascalStrings) {
    Handle h = NewHandle(3);
    std::memcpy(*h, "abc", 3);
    char* text = nullptr;
    EXPECT_EQ(VUXQTUtils::handleToCString(h, text), 0);
    EXPECT_STREQ(text, "abc");
    delete[] text;
    EXPECT_EQ(GetHandleSize(h), 3); // the handle is left as it was
    EXPECT_EQ(handleBytes(h), "abc");
    SetHandleSize(h, 5);
    std::memcpy(*h, "ab\0cd", 5);
    EXPECT_EQ(VUXQTUtils::handleToCString(h, text), 0);
    EXPECT_STREQ(text, "ab");
    delete[] text;
    EXPECT_EQ(VUXQTUtils::handleToCString(nullptr, text), -50);

    int32_t err = 1;
    Handle copy = VUXQTUtils::handleCopy(h, err);
    EXPECT_EQ(err, 0);
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(*copy, *h);
    EXPECT_EQ(handleBytes(copy), handleBytes(h));
    DisposeHandle(copy);
    Handle fromPtr = VUXQTUtils::handleCopy(const_cast<char*>("xyz"), 3, err);
    EXPECT_EQ(handleBytes(fromPtr), "xyz");
    DisposeHandle(fromPtr);
    EXPECT_EQ(VUXQTUtils::handleCopy(static_cast<Ptr>(nullptr), 3, err), nullptr);
    EXPECT_EQ(err, -107);
    EXPECT_EQ(VUXQTUtils::handleCopy(static_cast<Handle>(nullptr), err), nullptr);
    EXPECT_EQ(err, -107);

    CFDataRef data = VUXQTUtils::HandleToCFData(h);
    EXPECT_EQ(CFDataGetLength(data), 5);
    Handle back = VUXQTUtils::CFDataToHandle(data);
    EXPECT_EQ(handleBytes(back), handleBytes(h));
    DisposeHandle(back);
    CFRelease(data);
    CFStringRef notData = CFStringCreateWithCString(nullptr, "x", kCFStringEncodingUTF8);
    EXPECT_EQ(VUXQTUtils::CFDataToHandle(reinterpret_cast<CFDataRef>(notData)), nullptr);
    CFRelease(notData);
    DisposeHandle(h);

    unsigned char pascal[256];
    const std::string longText(300, 'q');
    EXPECT_EQ(VUXQTUtils::CToPascalString(longText.c_str(), pascal), pascal);
    EXPECT_EQ(pascal[0], 255);
    EXPECT_EQ(pascal[255], 'q');
    VUXQTUtils::CToPascalString(nullptr, pascal);
    EXPECT_EQ(pascal[0], 0);
    EXPECT_EQ(VUXQTUtils::PascalToCString(pascal), nullptr);
    VUXQTUtils::CToPascalString("hi", pascal);
    char* c = VUXQTUtils::PascalToCString(pascal);
    EXPECT_STREQ(c, "hi");
    delete[] c;
}

TEST(VUXQTUtils, CoreFoundationStrings) {
    // 0x8E is e with an acute accent in Mac Roman.
    CFStringRef s = VUXQTUtils::CStringToCFString("caf\x8E");
    ASSERT_NE(s, nullptr);
    char utf8[16];
    ASSERT_TRUE(CFStringGetCString(s, utf8, sizeof utf8, kCFStringEncodingUTF8));
    EXPECT_STREQ(utf8, "caf\xC3\xA9");
    CFRetain(s);
    std::unique_ptr<VUX::VUXCString> v(VUXQTUtils::CFStringToVUXCString(s, true));
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(std::string(v->data()), "caf\x8E");
    EXPECT_EQ(v->length(), 4);
    EXPECT_EQ(CFGetRetainCount(s), 1); // released once
    char* text = nullptr;
    EXPECT_EQ(VUXQTUtils::CFStringToCString(s, text, false), 0);
    EXPECT_STREQ(text, "caf\x8E");
    delete[] text;
    CFRelease(s);

    CFStringRef empty = CFStringCreateWithCString(nullptr, "", kCFStringEncodingUTF8);
    EXPECT_EQ(VUXQTUtils::CFStringToVUXCString(empty, false), nullptr);
    EXPECT_EQ(VUXQTUtils::CFStringToCString(empty, text, true), 0);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(VUXQTUtils::CFStringToCString(nullptr, text, true), -50);
    // A character that Mac Roman lacks.
    CFStringRef foreign = CFStringCreateWithCString(nullptr, "\xE2\x82\xB9", kCFStringEncodingUTF8);
    EXPECT_EQ(VUXQTUtils::CFStringToVUXCString(foreign, true), nullptr);
}

TEST(VUXQTUtils, CoreFoundationDictionaries) {
    CFMutableDictionaryRef dict = CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                                                            &kCFTypeDictionaryValueCallBacks);
    CFStringRef count = CFStringCreateWithCString(nullptr, "count", kCFStringEncodingUTF8);
    CFStringRef flag = CFStringCreateWithCString(nullptr, "flag", kCFStringEncodingUTF8);
    VUXQTUtils::CFDictSetSInt32(dict, count, -42);
    EXPECT_EQ(VUXQTUtils::CFDictGetSInt32(dict, count), -42);
    EXPECT_EQ(VUXQTUtils::CFDictGetSInt32(dict, flag), 0);
    EXPECT_FALSE(VUXQTUtils::CFDictGetBool(dict, flag));
    VUXQTUtils::CFDictSetValue(dict, flag, kCFBooleanTrue);
    EXPECT_TRUE(VUXQTUtils::CFDictGetBool(dict, flag));
    EXPECT_FALSE(VUXQTUtils::CFDictGetBool(dict, count)); // a number is no boolean
    EXPECT_EQ(VUXQTUtils::CFDictGetValue(dict, flag), kCFBooleanTrue);
    // Anything that is not a dictionary.
    EXPECT_EQ(VUXQTUtils::CFDictGetValue(count, flag), nullptr);
    VUXQTUtils::CFDictSetSInt32(count, flag, 1);
    EXPECT_EQ(VUXQTUtils::CFDictGetSInt32(nullptr, count), 0);
    CFRelease(dict);
    CFRelease(count);
    CFRelease(flag);
}

TEST(VUXQTUtils, ValuesAndColours) {
    const int64_t v = -0x123456789ALL;
    const wide w = VUXQTUtils::sint64ToWide(v);
    EXPECT_EQ(w.hi, -0x13);
    EXPECT_EQ(w.lo, 0xCBA98766u);
    EXPECT_EQ(VUXQTUtils::wideToSInt64(w), v);
    RGBColor color{0x1234, 0x5678, 0x9ABC};
    VUXQTUtils::rgbColorNtoB(color);
    EXPECT_EQ(std::memcmp(&color, "\x12\x34\x56\x78\x9A\xBC", 6), 0);
    VUXQTUtils::rgbColorBtoN(color);
    EXPECT_EQ(color.red, 0x1234);
    EXPECT_FALSE(VUXQTUtils::vuxQTImageRelease(nullptr));
}

TEST(VUXQTUtils, FittingRectangles) {
    struct Case {
        Rect area, shape, expected;
        int32_t err;
    } cases[] = {
        // Rects are top, left, bottom, right.
        {{0, 0, 100, 100}, {0, 0, 100, 200}, {25, 0, 75, 100}, 0},
        {{0, 0, 100, 100}, {0, 0, 200, 100}, {0, 25, 100, 75}, 0},
        {{10, 20, 110, 220}, {0, 0, 3, 4}, {10, 53, 110, 186}, 0},
        {{0, 0, 10, 10}, {5, 5, 5, 9}, {0, 0, 0, 0}, -50},   // a shape without height
        {{0, 10, 10, 0}, {0, 0, 10, 10}, {0, 0, 0, 0}, -50}, // an area turned inside out
        // An area wider than 32767 keeps its sizes in 32 bits.
        {{-100, -30000, 100, 30000}, {0, 0, 1, 2}, {-100, -200, 100, 200}, 0},
        {{0, -30000, 30000, 30000}, {0, 0, 1, 1}, {0, -15000, 30000, 15000}, 0},
    };
    for (auto const& c : cases) {
        Rect result{1, 2, 3, 4};
        EXPECT_EQ(VUXQTUtils::scaleRectInRect(c.area, c.shape, result), c.err);
        EXPECT_EQ(result.left, c.expected.left);
        EXPECT_EQ(result.top, c.expected.top);
        EXPECT_EQ(result.right, c.expected.right);
        EXPECT_EQ(result.bottom, c.expected.bottom);
    }
}

TEST(VUXQTUtils, ClassicAtomsAndAtomData) {
    int32_t err = 1;
    Handle atom =
        VUXQTUtils::createClassicAtom(FOUR_CHAR_CODE("abcd"), const_cast<char*>("\x01\x02\x03\x04"), 4, err);
    EXPECT_EQ(err, 0);
    EXPECT_EQ(handleBytes(atom), std::string("\x00\x00\x00\x0C"
                                             "abcd\x01\x02\x03\x04",
                                             12));
    Handle data = NewHandle(2);
    std::memcpy(*data, "zz", 2);
    Handle fromHandle = VUXQTUtils::createClassicAtom(FOUR_CHAR_CODE("wxyz"), data, err);
    EXPECT_EQ(handleBytes(fromHandle), std::string("\x00\x00\x00\x0A"
                                                   "wxyzzz",
                                                   10));
    Handle header = VUXQTUtils::createClassicAtom(FOUR_CHAR_CODE("wxyz"), static_cast<Handle>(nullptr), err);
    EXPECT_EQ(handleBytes(header), std::string("\x00\x00\x00\x08wxyz", 8));
    // No data and a size: the header claims no bytes that are not there.
    for (uint32_t size : {0u, 4u, 100u}) {
        err = 1;
        Handle none =
            VUXQTUtils::createClassicAtom(FOUR_CHAR_CODE("wxyz"), static_cast<Ptr>(nullptr), size, err);
        EXPECT_EQ(err, 0);
        EXPECT_EQ(handleBytes(none), std::string("\x00\x00\x00\x08wxyz", 8)) << size;
        DisposeHandle(none);
    }
    EXPECT_EQ(VUXQTUtils::createClassicAtom(0, data, err), nullptr);
    EXPECT_EQ(err, -50);
    for (Handle h : {atom, fromHandle, header, data})
        DisposeHandle(h);

    QTAtomContainer container = nullptr;
    ASSERT_EQ(QTNewAtomContainer(&container), 0);
    QTAtom parent = 0;
    ASSERT_EQ(QTInsertChild(container, 0, FOUR_CHAR_CODE("prnt"), 1, 0, 0, nullptr, &parent), 0);
    ASSERT_EQ(QTInsertChild(container, parent, FOUR_CHAR_CODE("leaf"), 1, 0, 3, "one", nullptr), 0);
    ASSERT_EQ(QTInsertChild(container, parent, FOUR_CHAR_CODE("leaf"), 2, 0, 3, "two", nullptr), 0);
    Handle second = VUXQTUtils::atomData(container, FOUR_CHAR_CODE("leaf"), 2, parent);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(handleBytes(second), "two");
    DisposeHandle(second);
    EXPECT_EQ(VUXQTUtils::atomData(container, FOUR_CHAR_CODE("leaf"), 3, parent), nullptr);
    EXPECT_EQ(VUXQTUtils::atomData(nullptr, FOUR_CHAR_CODE("leaf"), 1, parent), nullptr);
    VUXAtomCoordinate at;
    at.left.left = parent;
    at.left.right = FOUR_CHAR_CODE("leaf");
    at.right.right = 1;
    Handle first = VUXQTUtils::atomData(container, at);
    EXPECT_EQ(handleBytes(first), "one");
    DisposeHandle(first);
    at.right.right = 0;
    EXPECT_EQ(VUXQTUtils::atomData(container, at), nullptr);
    QTDisposeAtomContainer(container);
}

// Movies come from the movie layer; the calls it refuses answer with defined statuses.
TEST(VUXQTUtils, MoviesFromTheMovieLayer) {
    int32_t err = -1;
    Movie empty = VUXQTUtils::createEmptyMovie(err);
    EXPECT_NE(empty, nullptr);
    EXPECT_EQ(err, 0);
    DisposeMovie(empty);
    VUXQTUtils::stickyError(true);
    EXPECT_EQ(VUXQTUtils::createFromHandle(err, nullptr, true), nullptr);
    EXPECT_EQ(err, 1000);
    EXPECT_EQ(VUXQTUtils::copyMovie(nullptr, err, true), nullptr);
    EXPECT_EQ(err, -2010);
    EXPECT_EQ(VUXQTUtils::movieControllerType(nullptr, err), 0x3F3F3F3Fu);
    EXPECT_EQ(err, -2010);
    const uint32_t type = FOUR_CHAR_CODE("vrct");
    EXPECT_EQ(VUXQTUtils::movieControllerType(nullptr, type, err), -2010);
    // A movie the toolbox does not know.
    Movie unknown = reinterpret_cast<Movie>(&err);
    EXPECT_EQ(VUXQTUtils::copyMovie(unknown, err, false), nullptr);
    EXPECT_EQ(err, -2010);
    EXPECT_EQ(VUXQTUtils::movieControllerType(unknown, err), 0x3F3F3F3Fu);
    EXPECT_EQ(err, -2010);
    // The sticky error kept the first failure until it was cleared.
    EXPECT_EQ(VUXQTUtils::stickyError(true), -2010);
    EXPECT_EQ(VUXQTUtils::stickyError(false), 0);

    Handle path = NewHandle(4);
    DataReferenceRecord ref{FOUR_CHAR_CODE("alis"), path};
    EXPECT_FALSE(VUXQTUtils::isImageDataRef(ref));
    EXPECT_FALSE(VUXQTUtils::isMovieDataRef(ref));
    EXPECT_FALSE(VUXQTUtils::isImageDataRef(DataReferenceRecord{0, path}));
    int16_t resID = 7;
    // A reference that names no file: no movie, and the unresolved reference is no error.
    std::memset(*path, 0, 4);
    EXPECT_EQ(VUXQTUtils::createFromDataReference(err, ref, resID, false), nullptr);
    EXPECT_EQ(err, 0);
    DisposeHandle(path);
}

} // namespace
