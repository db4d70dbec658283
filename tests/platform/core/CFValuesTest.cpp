#include "PlatformCF.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::string utf8Of(CFStringRef s) {
    char buf[256];
    return CFStringGetCString(s, buf, sizeof buf, kCFStringEncodingUTF8) ? std::string(buf)
                                                                         : std::string("<fail>");
}

TEST(CFLite, EightBitWesternEncodings) {
    struct Case {
        CFStringEncoding encoding;
        const char* bytes;
        const char* utf8;
    } cases[] = {
        {kCFStringEncodingMacRoman, "caf\x8E", "caf\xC3\xA9"},
        {kCFStringEncodingMacRoman, "\xDB\xA5\xF0", "\xE2\x82\xAC\xE2\x80\xA2\xEF\xA3\xBF"},
        {kCFStringEncodingWindowsLatin1, "\x80\x99\xE9", "\xE2\x82\xAC\xE2\x84\xA2\xC3\xA9"},
        {kCFStringEncodingWindowsLatin1, "\x81", "\xC2\x81"}, // an undefined byte keeps its number
    };
    for (auto const& c : cases) {
        CFStringRef s = CFStringCreateWithCString(nullptr, c.bytes, c.encoding);
        ASSERT_NE(s, nullptr) << c.bytes;
        EXPECT_EQ(utf8Of(s), c.utf8);
        char back[64];
        ASSERT_TRUE(CFStringGetCString(s, back, sizeof back, c.encoding));
        EXPECT_STREQ(back, c.bytes);
        CFRelease(s);
    }
    // Every byte of either encoding comes back as itself.
    for (CFStringEncoding enc : {kCFStringEncodingMacRoman, kCFStringEncodingWindowsLatin1}) {
        for (int b = 1; b < 256; ++b) {
            const char one[2] = {char(b), 0};
            CFStringRef s = CFStringCreateWithCString(nullptr, one, enc);
            char back[8];
            ASSERT_TRUE(CFStringGetCString(s, back, sizeof back, enc)) << enc << " " << b;
            EXPECT_EQ(uint8_t(back[0]), b);
            CFRelease(s);
        }
    }
    CFStringRef rupee = CFStringCreateWithCString(nullptr, "\xE2\x82\xB9", kCFStringEncodingUTF8);
    char out[8];
    EXPECT_FALSE(CFStringGetCString(rupee, out, sizeof out, kCFStringEncodingMacRoman));
    EXPECT_FALSE(CFStringGetCString(rupee, out, sizeof out, kCFStringEncodingWindowsLatin1));
    CFRelease(rupee);
}

TEST(CFLite, NumbersBooleansAndData) {
    const int32_t big = 100000;
    CFNumberRef n = CFNumberCreate(nullptr, kCFNumberSInt32Type, &big);
    int32_t i32 = 0;
    EXPECT_TRUE(CFNumberGetValue(n, kCFNumberSInt32Type, &i32));
    EXPECT_EQ(i32, 100000);
    int16_t i16 = 0;
    EXPECT_FALSE(CFNumberGetValue(n, kCFNumberSInt16Type, &i16)); // does not fit: saturated
    EXPECT_EQ(i16, INT16_MAX);
    double d = 0;
    EXPECT_TRUE(CFNumberGetValue(n, kCFNumberFloat64Type, &d));
    EXPECT_EQ(d, 100000.0);
    const double half = 2.5;
    CFNumberRef f = CFNumberCreate(nullptr, kCFNumberFloat64Type, &half);
    EXPECT_FALSE(CFNumberGetValue(f, kCFNumberSInt32Type, &i32));
    EXPECT_EQ(i32, 2);
    const double huge = 1e300;
    CFNumberRef h = CFNumberCreate(nullptr, kCFNumberFloat64Type, &huge);
    int64_t i64 = 0;
    EXPECT_FALSE(CFNumberGetValue(h, kCFNumberSInt64Type, &i64));
    EXPECT_EQ(i64, INT64_MAX);
    EXPECT_EQ(CFNumberCreate(nullptr, 99, &big), nullptr);
    const int32_t same = 100000;
    CFNumberRef n2 = CFNumberCreate(nullptr, kCFNumberSInt32Type, &same);
    EXPECT_TRUE(CFEqual(n, n2));
    EXPECT_FALSE(CFEqual(n, f));
    for (CFNumberRef x : {n, f, h, n2})
        CFRelease(x);

    EXPECT_TRUE(CFBooleanGetValue(kCFBooleanTrue));
    EXPECT_FALSE(CFBooleanGetValue(kCFBooleanFalse));
    CFRelease(kCFBooleanTrue); // a shared constant outlives any release
    EXPECT_TRUE(CFBooleanGetValue(kCFBooleanTrue));
    EXPECT_EQ(CFGetTypeID(kCFBooleanTrue), CFBooleanGetTypeID());

    const UInt8 bytes[3] = {1, 0, 2};
    CFDataRef data = CFDataCreate(nullptr, bytes, 3);
    EXPECT_EQ(CFDataGetLength(data), 3);
    EXPECT_EQ(std::memcmp(CFDataGetBytePtr(data), bytes, 3), 0);
    EXPECT_EQ(CFDataCreate(nullptr, nullptr, 2), nullptr);
    CFRelease(data);
}

TEST(CFLite, DictionariesRetainWhatTheyHold) {
    CFMutableDictionaryRef dict = CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                                                            &kCFTypeDictionaryValueCallBacks);
    CFStringRef key = CFStringCreateWithCString(nullptr, "key", kCFStringEncodingUTF8);
    CFStringRef sameKey = CFStringCreateWithCString(nullptr, "key", kCFStringEncodingUTF8);
    CFStringRef value = CFStringCreateWithCString(nullptr, "value", kCFStringEncodingUTF8);
    CFDictionarySetValue(dict, key, value);
    EXPECT_EQ(CFGetRetainCount(value), 2);
    EXPECT_EQ(CFDictionaryGetValue(dict, sameKey), value); // keys match by text
    CFDictionarySetValue(dict, sameKey, kCFBooleanFalse);
    EXPECT_EQ(CFDictionaryGetCount(dict), 1);
    EXPECT_EQ(CFGetRetainCount(value), 1);
    EXPECT_TRUE(CFDictionaryContainsKey(dict, key));
    CFDictionaryRemoveValue(dict, key);
    EXPECT_EQ(CFDictionaryGetCount(dict), 0);
    CFDictionarySetValue(dict, key, value);
    CFRelease(dict); // releases what it holds
    EXPECT_EQ(CFGetRetainCount(value), 1);
    EXPECT_EQ(CFGetRetainCount(key), 1);
    for (CFStringRef s : {key, sameKey, value})
        CFRelease(s);
}

TEST(CFLite, FileURLs) {
    CFStringRef path =
        CFStringCreateWithCString(nullptr, "/Applications/Movie Player.app", kCFStringEncodingUTF8);
    CFURLRef url = CFURLCreateWithFileSystemPath(nullptr, path, kCFURLPOSIXPathStyle, true);
    CFStringRef urlPath = CFURLCopyPath(url);
    EXPECT_EQ(utf8Of(urlPath), "/Applications/Movie%20Player.app/");
    CFURLRef folder = CFURLCreateCopyDeletingLastPathComponent(nullptr, url);
    CFStringRef folderPath = CFURLCopyPath(folder);
    EXPECT_EQ(utf8Of(folderPath), "/Applications/");
    CFURLRef root = CFURLCreateCopyDeletingLastPathComponent(nullptr, folder);
    CFStringRef rootPath = CFURLCopyPath(root);
    EXPECT_EQ(utf8Of(rootPath), "/");
    for (CFTypeRef o : {CFTypeRef(path), CFTypeRef(url), CFTypeRef(urlPath), CFTypeRef(folder),
                        CFTypeRef(folderPath), CFTypeRef(root), CFTypeRef(rootPath)})
        CFRelease(o);
    EXPECT_EQ(CFURLCreateWithFileSystemPath(nullptr, nullptr, kCFURLPOSIXPathStyle, false), nullptr);
}

} // namespace
