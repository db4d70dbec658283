#include "PlatformCocoaString.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <string>

TEST(CocoaString, MadeFromTextOrBridgedFromCoreFoundation) {
    NSAutoreleasePool pool;
    NSString* s = NSString::stringWithUTF8String("d\xC3\xA9j\xC3\xA0 \xF0\x9D\x84\x9E"); // "déjà 𝄞"
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(s->UTF8String(), "d\xC3\xA9j\xC3\xA0 \xF0\x9D\x84\x9E");
    EXPECT_EQ(s->length(), 7u); // UTF-16 units: the clef takes two
    EXPECT_EQ(NSString::stringWithUTF8String(nullptr), nullptr);
    EXPECT_EQ(NSString::stringWithUTF8String("\xC3("), nullptr);

    // Bridging shares the Core Foundation string rather than copying it.
    CFStringRef cf = CFStringCreateWithCString(nullptr, "abc", kCFStringEncodingUTF8);
    NSString* bridged = NSString::stringWithCFString(cf);
    ASSERT_NE(bridged, nullptr);
    EXPECT_EQ(bridged->cfString(), cf);
    EXPECT_EQ(CFGetRetainCount(cf), 2);
    EXPECT_TRUE(bridged->isEqualToString(NSString::stringWithUTF8String("abc")));
    EXPECT_FALSE(bridged->isEqualToString(NSString::stringWithUTF8String("abd")));
    EXPECT_FALSE(bridged->isEqualToString(nullptr));
    pool.drain();
    EXPECT_EQ(CFGetRetainCount(cf), 1);
    CFRelease(cf);

    // Only strings bridge.
    int32_t n = 5;
    CFNumberRef number = CFNumberCreate(nullptr, kCFNumberSInt32Type, &n);
    ASSERT_NE(number, nullptr);
    EXPECT_EQ(NSString::stringWithCFString(number), nullptr);
    EXPECT_EQ(NSString::stringWithCFString(nullptr), nullptr);
    CFRelease(number);
}

TEST(CocoaString, URLs) {
    NSAutoreleasePool pool;
    NSURL* web = NSURL::URLWithString(NSString::stringWithUTF8String("http://example.com/a%20b/c.mov"));
    ASSERT_NE(web, nullptr);
    EXPECT_STREQ(web->absoluteString()->UTF8String(), "http://example.com/a%20b/c.mov");
    EXPECT_FALSE(web->isFileURL());
    EXPECT_EQ(web->path(), nullptr);
    EXPECT_EQ(NSURL::URLWithString(NSString::stringWithUTF8String("not a url")), nullptr);
    EXPECT_EQ(NSURL::URLWithString(nullptr), nullptr);

    testsupport::ScratchDir dir("cocoa-url");
    NSURL* file = NSURL::fileURLWithPath(NSString::stringWithUTF8String((dir.file("a b.dcm")).c_str()));
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(file->isFileURL());
    EXPECT_EQ(std::string(file->path()->UTF8String()), dir.file("a b.dcm"));
    EXPECT_NE(std::string(file->absoluteString()->UTF8String()).find("a%20b.dcm"), std::string::npos);
    // An existing folder's URL ends with a slash.
    NSURL* folder = NSURL::fileURLWithPath(NSString::stringWithUTF8String(dir.path().c_str()));
    ASSERT_NE(folder, nullptr);
    EXPECT_EQ(std::string(folder->absoluteString()->UTF8String()).back(), '/');
    EXPECT_EQ(NSURL::fileURLWithPath(NSString::stringWithUTF8String("")), nullptr);
    EXPECT_EQ(NSURL::fileURLWithPath(nullptr), nullptr);
}
