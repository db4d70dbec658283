#include "VUXOSType.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <typeinfo>

namespace {

using VUX::VUXObject;
using VUX::VUXOSType;

TEST(VUXOSType, TextFollowsCode) {
    VUXOSType moov(0x6D6F6F76u);
    EXPECT_STREQ(moov.stringValue(), "moov");
    EXPECT_EQ(moov.value(), 0x6D6F6F76u);
    EXPECT_EQ(uint32_t(moov), 0x6D6F6F76u);
    EXPECT_STREQ(static_cast<const char*>(moov), "moov");

    VUXOSType empty;
    EXPECT_EQ(empty.value(), 0u);
    EXPECT_EQ(std::memcmp(empty.stringValue(), "\0\0\0\0\0", 5), 0);

    moov.value(0);
    EXPECT_STREQ(moov.stringValue(), "");
    moov = 0x4A503335u;
    EXPECT_STREQ(moov.stringValue(), "JP35");
}

TEST(VUXOSType, FromText) {
    VUXOSType t("mjp2");
    EXPECT_EQ(t.value(), 0x6D6A7032u);
    EXPECT_EQ(t.error(), 0);

    EXPECT_EQ(t.stringValue("abc"), -50);
    EXPECT_EQ(t.value(), 0u);
    EXPECT_STREQ(t.stringValue(), "");
    EXPECT_EQ(t.error(), -50);

    VUXOSType n(static_cast<const char*>(nullptr));
    EXPECT_EQ(n.error(), -107);
    EXPECT_EQ(n.value(), 0u);

    t = "raw ";
    EXPECT_EQ(t.value(), 0x72617720u);
    EXPECT_EQ(t.error(), 0);
    // defaultStatus clears the code and text but leaves the error.
    t = "toolong";
    t.value(0x41424344u);
    t.defaultStatus();
    EXPECT_EQ(t.value(), 0u);
    EXPECT_EQ(t.error(), -50);
}

TEST(VUXOSType, PlatformStrings) {
    CFStringRef s = CFStringCreateWithCString(nullptr, "jpeg", kCFStringEncodingUTF8);
    VUXOSType fromCF(s);
    EXPECT_STREQ(fromCF.stringValue(), "jpeg");
    VUXOSType* made = VUXOSType::createWithString(s);
    EXPECT_EQ(made->value(), fromCF.value());
    delete made;
    made = VUXOSType::createWithString(nullptr);
    EXPECT_EQ(made->value(), 0u);
    delete made;
    CFRelease(s);

    VUXOSType t(0x6D6F6F76u);
    t = static_cast<CFStringRef>(nullptr); // a null string changes nothing
    EXPECT_EQ(t.value(), 0x6D6F6F76u);

    CFStringRef back = static_cast<CFStringRef>(t);
    char buf[8];
    ASSERT_TRUE(CFStringGetCString(back, buf, sizeof buf, kCFStringEncodingUTF8));
    EXPECT_STREQ(buf, "moov");
    CFRelease(back);
    back = VUXOSType::stringFromOSType(VUXOSType(0x4D494D45u));
    ASSERT_TRUE(CFStringGetCString(back, buf, sizeof buf, kCFStringEncodingUTF8));
    EXPECT_STREQ(buf, "MIME");
    CFRelease(back);
}

TEST(VUXOSType, ByteOrder) {
    EXPECT_EQ(VUXOSType::nativeToBigEndian(0), 0u);
    EXPECT_EQ(VUXOSType::nativeToBigEndian(0x11223344u), 0x44332211u);
    EXPECT_EQ(VUXOSType::bigEndianToNative(0x44332211u), 0x11223344u);
    VUXOSType t(0x11223344u);
    EXPECT_EQ(t.swap().value(), 0x44332211u);
    EXPECT_EQ(t.toBigEndian().value(), 0x44332211u);
    EXPECT_EQ(t.toNative().value(), 0x44332211u);
    EXPECT_EQ(VUXOSType(0u).swap().value(), 0u);
}

TEST(VUXOSType, StreamForm) {
    VUXOSType moov(0x6D6F6F76u);
    std::ostringstream out;
    out << moov << VUXOSType(0u);
    EXPECT_EQ(out.str(), std::string("\x6D\x6F\x6F\x76\0\0\0\0", 8));

    std::istringstream in(out.str());
    VUXOSType a, b;
    in >> a >> b;
    EXPECT_EQ(a.value(), 0x6D6F6F76u);
    EXPECT_STREQ(a.stringValue(), "moov");
    EXPECT_EQ(b.value(), 0u);

    // A short read leaves the missing bytes zero.
    std::istringstream shortIn(std::string("\x41\x42", 2));
    VUXOSType c;
    shortIn >> c;
    EXPECT_EQ(c.value(), 0x41420000u);
    // A failed stream is not read at all.
    VUXOSType d(0x31323334u);
    shortIn >> d;
    EXPECT_EQ(d.value(), 0x31323334u);
}

TEST(VUXOSType, ObjectModel) {
    VUXOSType a(0x6D6F6F76u), b(0x6D6F6F76u), c(0x7472616Bu);
    EXPECT_TRUE(a == b);
    EXPECT_FALSE(a == c);
    EXPECT_TRUE(a.isA("VUXOSType"));
    EXPECT_FALSE(a.isA("VUXObject"));
    EXPECT_STREQ(a.className(), "VUXOSType");
    EXPECT_STREQ(VUXOSType::objectName(), "VUXOSType");

    VUXObject root;
    EXPECT_FALSE(a.equal(root));

    c = a;
    EXPECT_EQ(c.value(), 0x6D6F6F76u);
    EXPECT_STREQ(c.stringValue(), "moov");
    EXPECT_STRNE(c.uid(), a.uid());

    VUXObject* copy = a.clone();
    ASSERT_NE(copy, nullptr);
    EXPECT_TRUE(copy->equal(a));
    delete copy;

    VUXOSType copied(a);
    EXPECT_EQ(copied.value(), a.value());

    std::ostringstream d;
    VUXOSType("a<&b").readableDescription(d);
    const std::string text = d.str();
    EXPECT_NE(text.find("<Object\tclass=VUXOSType uid=\""), std::string::npos);
    EXPECT_NE(text.find("<ostype>1631331938</ostype>\n<stringValue>a&lt;&amp;b</stringValue>\n</Object>\n"),
              std::string::npos);
}

// The hooks take their argument as a VUXOSType; anything else is a programming error that the
// checked down-cast reports.
struct HookAccess : VUXOSType {
    using VUXOSType::_compare;
    using VUXOSType::_copy;
};

TEST(VUXOSType, HooksRefuseOtherClasses) {
    HookAccess t;
    VUXObject root;
    EXPECT_THROW((void)t._compare(root), std::bad_cast);
    EXPECT_THROW(t._copy(root), std::bad_cast);
    VUXOSType other(0x41424344u);
    t._copy(other);
    EXPECT_TRUE(t._compare(other));
}

} // namespace
