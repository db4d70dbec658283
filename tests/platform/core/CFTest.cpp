#include "PlatformCF.h"

#include <gtest/gtest.h>

namespace {

TEST(CFLite, StringsConvertAndCount) {
    CFStringRef s = CFStringCreateWithCString(kCFAllocatorDefault, "caf\xE9", kCFStringEncodingISOLatin1);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(CFStringGetLength(s), 4);
    char buf[16];
    EXPECT_TRUE(CFStringGetCString(s, buf, sizeof buf, kCFStringEncodingUTF8));
    EXPECT_STREQ(buf, "caf\xC3\xA9");
    EXPECT_FALSE(CFStringGetCString(s, buf, sizeof buf, kCFStringEncodingASCII));
    EXPECT_FALSE(CFStringGetCString(s, buf, 4, kCFStringEncodingISOLatin1)); // no room for the terminator
    CFRetain(s);
    EXPECT_EQ(CFGetRetainCount(s), 2);
    CFRelease(s);
    CFRelease(s);
    EXPECT_EQ(CFStringCreateWithCString(nullptr, "\xC3", kCFStringEncodingUTF8), nullptr);
    EXPECT_EQ(CFStringCreateWithCString(nullptr, "\xED\xA0\x80", kCFStringEncodingUTF8), nullptr);
}

TEST(CFLite, FourCharCodes) {
    CFStringRef s = UTCreateStringForOSType(0x6D6F6F76);
    EXPECT_EQ(UTGetOSTypeFromString(s), 0x6D6F6F76u);
    CFRelease(s);
    CFStringRef five = CFStringCreateWithCString(nullptr, "moovy", kCFStringEncodingUTF8);
    EXPECT_EQ(UTGetOSTypeFromString(five), 0u);
    CFRelease(five);
    EXPECT_EQ(UTGetOSTypeFromString(nullptr), 0u);
}

} // namespace
