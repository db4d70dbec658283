// Image description records: extensions after the record (and its colour table), and the
// property accessor over them.
#include "PlatformImageDescriptions.h"

#include "PlatformCodecEngines.h"
#include "PlatformFixed.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

struct Desc {
    ImageDescriptionHandle h = nullptr;
    explicit Desc(Size extra = 0) {
        Handle raw = NewHandleClear(Size(sizeof(ImageDescription)) + extra);
        h = reinterpret_cast<ImageDescriptionHandle>(raw);
        (*h)->idSize = int32_t(GetHandleSize(raw));
        (*h)->width = 640;
        (*h)->height = 480;
        (*h)->clutID = -1;
    }
    ~Desc() { DisposeHandle(reinterpret_cast<Handle>(h)); }
    Size size() const { return GetHandleSize(reinterpret_cast<Handle>(h)); }
    std::string tail() const {
        return std::string(reinterpret_cast<const char*>(*h) + 86, size_t(size() - 86));
    }
};

Handle bytes(const std::string& s) {
    Handle h = nullptr;
    PtrToHand(s.data(), &h, Size(s.size()));
    return h;
}

template <class T> OSStatus get(const Desc& d, OSType id, T& v) {
    ByteCount used = 0;
    return ICMImageDescriptionGetProperty(d.h, kQTPropertyClass_ImageDescription, id, sizeof v, &v, &used);
}

template <class T> OSStatus set(const Desc& d, OSType id, const T& v) {
    return ICMImageDescriptionSetProperty(d.h, kQTPropertyClass_ImageDescription, id, sizeof v, &v);
}

TEST(ImageDescriptionExtensions, AtomsFollowTheRecordAndAreCountedInItsSize) {
    Desc d;
    Handle a = bytes("abc");
    Handle b = bytes("12345678");
    ASSERT_EQ(AddImageDescriptionExtension(d.h, a, FOUR_CHAR_CODE("test")), noErr);
    ASSERT_EQ(AddImageDescriptionExtension(d.h, b, FOUR_CHAR_CODE("test")), noErr);
    ASSERT_EQ(AddImageDescriptionExtension(d.h, a, FOUR_CHAR_CODE("aaaa")), noErr);
    EXPECT_EQ(d.tail(), std::string("\0\0\0\x0btestabc", 11) + std::string("\0\0\0\x10test12345678", 16) +
                            std::string("\0\0\0\x0b"
                                        "aaaaabc",
                                        11));
    EXPECT_EQ((*d.h)->idSize, 86 + 38);

    int32_t count = 0;
    EXPECT_EQ(CountImageDescriptionExtensionType(d.h, FOUR_CHAR_CODE("test"), &count), noErr);
    EXPECT_EQ(count, 2);
    Handle got = nullptr;
    ASSERT_EQ(GetImageDescriptionExtension(d.h, &got, FOUR_CHAR_CODE("test"), 2), noErr);
    EXPECT_EQ(std::string(*got, size_t(GetHandleSize(got))), "12345678");
    DisposeHandle(got);
    EXPECT_EQ(GetImageDescriptionExtension(d.h, &got, FOUR_CHAR_CODE("test"), 3), codecExtensionNotFoundErr);
    EXPECT_EQ(got, nullptr);

    int32_t type = 0;
    GetNextImageDescriptionExtensionType(d.h, &type);
    EXPECT_EQ(OSType(type), FOUR_CHAR_CODE("aaaa"));
    GetNextImageDescriptionExtensionType(d.h, &type);
    EXPECT_EQ(OSType(type), FOUR_CHAR_CODE("test"));
    GetNextImageDescriptionExtensionType(d.h, &type);
    EXPECT_EQ(type, 0);

    EXPECT_EQ(RemoveImageDescriptionExtension(d.h, FOUR_CHAR_CODE("test"), 1), noErr);
    EXPECT_EQ(d.tail(), std::string("\0\0\0\x10test12345678", 16) + std::string("\0\0\0\x0b"
                                                                                "aaaaabc",
                                                                                11));
    EXPECT_EQ((*d.h)->idSize, 86 + 27);
    DisposeHandle(a);
    DisposeHandle(b);
}

TEST(ImageDescriptionExtensions, ColourTableComesFirstAndDamagedTailsAreNotRead) {
    // A colour table of two entries (size word 1): 8 + 2 * 8 bytes after the record.
    Desc d(24);
    (*d.h)->clutID = 0;
    uint16_t ctSize = 1;
    std::memcpy(reinterpret_cast<char*>(*d.h) + 86 + 6, &ctSize, 2);
    EXPECT_EQ(ImageDescriptionColorTableSize(d.h), 24);
    Handle e = bytes("xy");
    ASSERT_EQ(AddImageDescriptionExtension(d.h, e, FOUR_CHAR_CODE("exte")), noErr);
    EXPECT_EQ(d.size(), 86 + 24 + 10);
    Handle got = nullptr;
    ASSERT_EQ(GetImageDescriptionExtension(d.h, &got, FOUR_CHAR_CODE("exte"), 1), noErr);
    EXPECT_EQ(std::string(*got, 2), "xy");
    DisposeHandle(got);

    // An atom claiming more than the handle holds ends the list: nothing past it is read.
    char* tail = reinterpret_cast<char*>(*d.h) + 86 + 24;
    tail[3] = 0x7F;
    int32_t count = 5;
    EXPECT_EQ(CountImageDescriptionExtensionType(d.h, FOUR_CHAR_CODE("exte"), &count), noErr);
    EXPECT_EQ(count, 0);
    // A table announcing more entries than the handle holds is no table.
    ctSize = 1000;
    std::memcpy(reinterpret_cast<char*>(*d.h) + 86 + 6, &ctSize, 2);
    EXPECT_EQ(ImageDescriptionColorTableSize(d.h), 0);
    DisposeHandle(e);
}

TEST(ImageDescriptionProperties, StoredValuesAreBigEndianInTheDescriptionAndHostOrderOutside) {
    Desc d;
    const Fixed gamma = X2Fix(2.2);
    ASSERT_EQ(set(d, kICMImageDescriptionPropertyID_GammaLevel, gamma), noErr);
    EXPECT_EQ(d.tail(), std::string("\0\0\0\x0cgama\x00\x02\x33\x33", 12));
    Fixed back = 0;
    EXPECT_EQ(get(d, kICMImageDescriptionPropertyID_GammaLevel, back), noErr);
    EXPECT_EQ(back, gamma);
    // Setting again replaces the one extension.
    ASSERT_EQ(set(d, kICMImageDescriptionPropertyID_GammaLevel, Long2Fix(1)), noErr);
    EXPECT_EQ(d.size(), 86 + 12);

    NCLCColorInfoImageDescriptionExtension nclc{};
    std::memcpy(&nclc.colorParamType, "nclc", 4);
    nclc.primaries = 1;
    nclc.transferFunction = 7;
    nclc.matrix = 6;
    ASSERT_EQ(set(d, kICMImageDescriptionPropertyID_NCLCColorInfo, nclc), noErr);
    EXPECT_EQ(d.tail().substr(12), std::string("\0\0\0\x12nclcnclc\0\x01\0\x07\0\x06", 18));
    NCLCColorInfoImageDescriptionExtension read{};
    ASSERT_EQ(get(d, kICMImageDescriptionPropertyID_NCLCColorInfo, read), noErr);
    EXPECT_EQ(std::memcmp(&read, &nclc, sizeof nclc), 0);

    FieldInfoImageDescriptionExtension2 fiel{};
    EXPECT_EQ(get(d, kICMImageDescriptionPropertyID_FieldInfo, fiel), codecExtensionNotFoundErr);
    // A value of the wrong size is refused before anything is written.
    const uint8_t three[3] = {1, 2, 3};
    EXPECT_EQ(ICMImageDescriptionSetProperty(d.h, kQTPropertyClass_ImageDescription,
                                             kICMImageDescriptionPropertyID_FieldInfo, 3, three),
              kQTPropertyBadValueSizeErr);
    EXPECT_EQ(ICMImageDescriptionSetProperty(d.h, FOUR_CHAR_CODE("othr"),
                                             kICMImageDescriptionPropertyID_FieldInfo, 2, three),
              kQTPropertyNotSupportedErr);
}

TEST(ImageDescriptionProperties, ComputedDimensionsFollowTheCleanApertureAndAspectRatio) {
    Desc d;
    Fixed w = 0, h = 0;
    ASSERT_EQ(get(d, kICMImageDescriptionPropertyID_CleanApertureWidth, w), noErr);
    ASSERT_EQ(get(d, kICMImageDescriptionPropertyID_CleanApertureHeight, h), noErr);
    EXPECT_EQ(w, Long2Fix(640));
    EXPECT_EQ(h, Long2Fix(480));

    CleanApertureImageDescriptionExtension clap{704, 1, 480, 1, 0, 1, 0, 1};
    ASSERT_EQ(set(d, kICMImageDescriptionPropertyID_CleanAperture, clap), noErr);
    PixelAspectRatioImageDescriptionExtension pasp{10, 11};
    ASSERT_EQ(set(d, kICMImageDescriptionPropertyID_PixelAspectRatio, pasp), noErr);
    FixedPoint clean{}, production{}, encoded{};
    ASSERT_EQ(get(d, kICMImageDescriptionPropertyID_CleanApertureDimensions, clean), noErr);
    ASSERT_EQ(get(d, kICMImageDescriptionPropertyID_ProductionApertureDimensions, production), noErr);
    ASSERT_EQ(get(d, kICMImageDescriptionPropertyID_EncodedPixelsDimensions, encoded), noErr);
    EXPECT_EQ(clean.x, Long2Fix(704));
    EXPECT_EQ(clean.y, Long2Fix(480));
    EXPECT_EQ(production.x, Long2Fix(640)); // 704 * 10 / 11
    EXPECT_EQ(production.y, Long2Fix(480));
    EXPECT_EQ(encoded.x, Long2Fix(640));

    // The encoded width and height are the record's, and can be set there.
    int32_t encw = 0;
    ASSERT_EQ(get(d, kICMImageDescriptionPropertyID_EncodedWidth, encw), noErr);
    EXPECT_EQ(encw, 640);
    ASSERT_EQ(set(d, kICMImageDescriptionPropertyID_EncodedWidth, int32_t(720)), noErr);
    EXPECT_EQ((*d.h)->width, 720);
    EXPECT_EQ(set(d, kICMImageDescriptionPropertyID_EncodedWidth, int32_t(40000)), paramErr);
    EXPECT_EQ(set(d, kICMImageDescriptionPropertyID_CleanApertureWidth, Fixed(0)), kQTPropertyReadOnlyErr);

    CFStringRef summary = nullptr;
    std::memcpy((*d.h)->name, "\x04JPEG", 5);
    ASSERT_EQ(get(d, kICMImageDescriptionPropertyID_SummaryString, summary), noErr);
    char text[64];
    ASSERT_TRUE(CFStringGetCString(summary, text, sizeof text, kCFStringEncodingUTF8));
    EXPECT_STREQ(text, "JPEG, 720 x 480");
    CFRelease(summary);

    ComponentValueType type = 0;
    ByteCount size = 0;
    UInt32 flags = 0;
    ASSERT_EQ(ICMImageDescriptionGetPropertyInfo(d.h, kQTPropertyClass_ImageDescription,
                                                 kICMImageDescriptionPropertyID_SummaryString, &type, &size,
                                                 &flags),
              noErr);
    EXPECT_EQ(type, kQTPropertyValueType_CFStringRef);
    EXPECT_TRUE(flags & kComponentPropertyFlagValueMustBeReleased);
    EXPECT_FALSE(flags & kComponentPropertyFlagCanSetNow);
    EXPECT_EQ(ICMImageDescriptionGetPropertyInfo(d.h, kQTPropertyClass_ImageDescription,
                                                 FOUR_CHAR_CODE("zzzz"), &type, &size, &flags),
              kQTPropertyNotSupportedErr);
}

TEST(ImageDescriptionProperties, ShortOrMissingDescriptionsAreRefused) {
    Handle small = NewHandleClear(40);
    auto h = reinterpret_cast<ImageDescriptionHandle>(small);
    Fixed v = 0;
    ByteCount used = 0;
    EXPECT_EQ(ICMImageDescriptionGetProperty(h, kQTPropertyClass_ImageDescription,
                                             kICMImageDescriptionPropertyID_GammaLevel, 4, &v, &used),
              paramErr);
    EXPECT_EQ(ICMImageDescriptionGetProperty(nullptr, kQTPropertyClass_ImageDescription,
                                             kICMImageDescriptionPropertyID_GammaLevel, 4, &v, &used),
              paramErr);
    Handle e = bytes("x");
    EXPECT_EQ(AddImageDescriptionExtension(h, e, FOUR_CHAR_CODE("test")), paramErr);
    DisposeHandle(e);
    DisposeHandle(small);
}

} // namespace
