// Pixel buffers, their format descriptions and visual contexts; CG colour spaces, data providers,
// images and bitmap contexts.
#include "PlatformCoreGraphics.h"
#include "PlatformCoreVideo.h"
#include "PlatformPixelFormats.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

int gReleases = 0;
const void* gReleasedBytes = nullptr;

void countRelease(void* refCon, const void* bytes) {
    ++gReleases;
    gReleasedBytes = bytes;
    EXPECT_EQ(refCon, &gReleases);
}

void countProviderRelease(void* info, const void*, size_t size) {
    ++gReleases;
    EXPECT_EQ(info, &gReleases);
    EXPECT_EQ(size, 64u);
}

void countContextRelease(void* info, void*) {
    ++gReleases;
    EXPECT_EQ(info, &gReleases);
}

bool boolIn(CFDictionaryRef dict, CFStringRef key) {
    auto value = static_cast<CFBooleanRef>(CFDictionaryGetValue(dict, key));
    EXPECT_TRUE(value);
    return value && CFBooleanGetValue(value);
}

int64_t numberIn(CFDictionaryRef dict, CFStringRef key) {
    int64_t v = -1;
    auto number = static_cast<CFNumberRef>(CFDictionaryGetValue(dict, key));
    EXPECT_TRUE(number && CFNumberGetValue(number, kCFNumberSInt64Type, &v));
    return v;
}

std::string textIn(CFDictionaryRef dict, CFStringRef key) {
    auto text = static_cast<CFStringRef>(CFDictionaryGetValue(dict, key));
    return text ? text->utf8 : std::string("(none)");
}

} // namespace

TEST(PixelBuffersTest, CreateAlignsRowsAndRefusesBadShapes) {
    CVPixelBufferRef buffer = nullptr;
    ASSERT_EQ(CVPixelBufferCreate(kCFAllocatorDefault, 5, 3, k32ARGBPixelFormat, nullptr, &buffer),
              kCVReturnSuccess);
    EXPECT_EQ(CVPixelBufferGetWidth(buffer), 5u);
    EXPECT_EQ(CVPixelBufferGetHeight(buffer), 3u);
    EXPECT_EQ(CVPixelBufferGetBytesPerRow(buffer), 32u); // 20 bytes rounded to 16
    EXPECT_EQ(CVPixelBufferGetDataSize(buffer), 96u);
    EXPECT_EQ(CVPixelBufferGetPixelFormatType(buffer), k32ARGBPixelFormat);
    EXPECT_FALSE(CVPixelBufferIsPlanar(buffer));
    const auto* bytes = static_cast<const uint8_t*>(CVPixelBufferGetBaseAddress(buffer));
    EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + 96), std::vector<uint8_t>(96, 0));
    CVPixelBufferRelease(buffer);
    // A requested alignment, and a 4:2:2 row of an odd width holds a whole pair.
    CFMutableDictionaryRef attributes = CFDictionaryCreateMutable(
        kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    const int32_t alignment = 64;
    CFNumberRef number = CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt32Type, &alignment);
    CFDictionarySetValue(attributes, kCVPixelBufferBytesPerRowAlignmentKey, number);
    CFRelease(number);
    ASSERT_EQ(CVPixelBufferCreate(kCFAllocatorDefault, 33, 2, k2vuyPixelFormat, attributes, &buffer),
              kCVReturnSuccess);
    EXPECT_EQ(CVPixelBufferGetBytesPerRow(buffer), 128u); // 17 pairs of 4 bytes
    CVPixelBufferRelease(buffer);
    const int32_t bad = 48;
    number = CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt32Type, &bad);
    CFDictionarySetValue(attributes, kCVPixelBufferBytesPerRowAlignmentKey, number);
    CFRelease(number);
    EXPECT_EQ(CVPixelBufferCreate(kCFAllocatorDefault, 4, 4, 32, attributes, &buffer),
              kCVReturnInvalidArgument);
    CFRelease(attributes);
    EXPECT_EQ(CVPixelBufferCreate(kCFAllocatorDefault, 4, 4, FOUR_CHAR_CODE("jpeg"), nullptr, &buffer),
              kCVReturnInvalidPixelFormat);
    EXPECT_EQ(buffer, nullptr);
    EXPECT_EQ(CVPixelBufferCreate(kCFAllocatorDefault, 0, 4, 32, nullptr, &buffer), kCVReturnInvalidSize);
    EXPECT_EQ(CVPixelBufferCreate(kCFAllocatorDefault, 40000, 40000, 32, nullptr, &buffer),
              kCVReturnInvalidSize);
    EXPECT_EQ(CVPixelBufferCreate(kCFAllocatorDefault, 4, 4, 32, nullptr, nullptr), kCVReturnInvalidArgument);
    // Null buffers answer nothing.
    EXPECT_EQ(CVPixelBufferGetWidth(nullptr), 0u);
    EXPECT_EQ(CVPixelBufferGetBaseAddress(nullptr), nullptr);
    EXPECT_EQ(CVPixelBufferLockBaseAddress(nullptr, 0), kCVReturnInvalidArgument);
    CVPixelBufferRelease(nullptr);
}

// A buffer over the caller's bytes calls its release callback once, when the last reference goes.
TEST(PixelBuffersTest, BytesOfTheCallerAndReferences) {
    std::vector<uint8_t> pixels(4 * 40);
    gReleases = 0;
    CVPixelBufferRef buffer = nullptr;
    ASSERT_EQ(CVPixelBufferCreateWithBytes(kCFAllocatorDefault, 10, 4, 32, pixels.data(), 40, countRelease,
                                           &gReleases, nullptr, &buffer),
              kCVReturnSuccess);
    EXPECT_EQ(CVPixelBufferGetBaseAddress(buffer), pixels.data());
    EXPECT_EQ(CVPixelBufferGetRetainCount(buffer), 1);
    EXPECT_EQ(CVPixelBufferRetain(buffer), buffer);
    EXPECT_EQ(CFGetRetainCount(buffer), 2);
    CVPixelBufferRelease(buffer);
    EXPECT_EQ(gReleases, 0);
    // Locks nest; one unlock too many is an error.
    EXPECT_EQ(CVPixelBufferLockBaseAddress(buffer, 0), kCVReturnSuccess);
    EXPECT_EQ(CVPixelBufferLockBaseAddress(buffer, kCVPixelBufferLock_ReadOnly), kCVReturnSuccess);
    EXPECT_EQ(CVPixelBufferUnlockBaseAddress(buffer, 0), kCVReturnSuccess);
    EXPECT_TRUE(CVPixelBufferIsLocked(buffer));
    EXPECT_EQ(CVPixelBufferUnlockBaseAddress(buffer, 0), kCVReturnSuccess);
    EXPECT_EQ(CVPixelBufferUnlockBaseAddress(buffer, 0), kCVReturnError);
    CVPixelBufferRelease(buffer);
    EXPECT_EQ(gReleases, 1);
    EXPECT_EQ(gReleasedBytes, pixels.data());
    // Rows shorter than a row of pixels, or no bytes, are refused.
    EXPECT_EQ(CVPixelBufferCreateWithBytes(kCFAllocatorDefault, 10, 4, 32, pixels.data(), 39, nullptr,
                                           nullptr, nullptr, &buffer),
              kCVReturnInvalidArgument);
    EXPECT_EQ(CVPixelBufferCreateWithBytes(kCFAllocatorDefault, 10, 4, 32, nullptr, 40, nullptr, nullptr,
                                           nullptr, &buffer),
              kCVReturnInvalidArgument);
    EXPECT_EQ(gReleases, 1);
}

TEST(PixelBuffersTest, FormatDescriptions) {
    struct Case {
        OSType format;
        const char* codec;
        int64_t bits;
        bool alpha, qd, context, image, gl;
    };
    const Case cases[] = {
        {1, "raw ", 1, false, true, false, false, false},
        {16, "raw ", 16, false, true, true, true, false},
        {24, "raw ", 24, false, true, false, true, true},
        {32, "raw ", 32, true, true, true, true, true},
        {40, "raw ", 8, false, true, false, false, false},
        {k32BGRAPixelFormat, "BGRA", 32, true, false, true, true, true},
        {k24BGRPixelFormat, "24BG", 24, false, false, false, false, true},
        {k16GrayPixelFormat, "b16g", 16, false, false, false, true, false},
        {k48RGBPixelFormat, "b48r", 48, false, false, false, true, false},
        {k2vuyPixelFormat, "2vuy", 16, false, false, false, false, true},
        {k32CMYKPixelFormat, "cmyk", 32, false, false, false, false, false},
        {k24PlanarRGBPixelFormat, "8BPS", 24, false, false, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.codec + std::to_string(c.format));
        CFDictionaryRef d = CVPixelFormatDescriptionCreateWithPixelFormatType(kCFAllocatorDefault, c.format);
        ASSERT_TRUE(d);
        EXPECT_EQ(textIn(d, kCVPixelFormatCodecType), c.codec);
        EXPECT_EQ(numberIn(d, kCVPixelFormatConstant), int64_t(c.format));
        EXPECT_EQ(numberIn(d, kCVPixelFormatBitsPerBlock), c.bits);
        EXPECT_EQ(boolIn(d, kCVPixelFormatContainsAlpha), c.alpha);
        EXPECT_EQ(boolIn(d, kCVPixelFormatQDCompatibility), c.qd);
        EXPECT_EQ(boolIn(d, kCVPixelFormatCGBitmapContextCompatibility), c.context);
        EXPECT_EQ(boolIn(d, kCVPixelFormatCGImageCompatibility), c.image);
        EXPECT_EQ(boolIn(d, kCVPixelFormatOpenGLCompatibility), c.gl);
        EXPECT_NE(textIn(d, kCVPixelFormatName), "(none)");
        CFRelease(d);
    }
    CFDictionaryRef d = CVPixelFormatDescriptionCreateWithPixelFormatType(kCFAllocatorDefault, 32);
    EXPECT_EQ(numberIn(d, kCVPixelFormatCGBitmapInfo), int64_t(kCGImageAlphaFirst | kCGBitmapByteOrder32Big));
    CFRelease(d);
    EXPECT_EQ(CVPixelFormatDescriptionCreateWithPixelFormatType(kCFAllocatorDefault, 3), nullptr);
}

TEST(PixelBuffersTest, VisualContexts) {
    QTVisualContextRef context = nullptr;
    ASSERT_EQ(QTPixelBufferContextCreate(kCFAllocatorDefault, nullptr, &context), noErr);
    CFTypeRef value = nullptr;
    EXPECT_EQ(QTVisualContextGetAttribute(context, kQTVisualContextPixelBufferAttributesKey, &value),
              paramErr);
    QTVisualContextRelease(context);

    CFMutableDictionaryRef attributes = CFDictionaryCreateMutable(
        kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    CFMutableDictionaryRef options = CFDictionaryCreateMutable(
        kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    const int32_t format = k32ARGBPixelFormat;
    CFNumberRef number = CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt32Type, &format);
    CFDictionarySetValue(attributes, kCVPixelBufferPixelFormatTypeKey, number);
    CFRelease(number);
    CFDictionarySetValue(options, kQTVisualContextPixelBufferAttributesKey, attributes);
    ASSERT_EQ(QTPixelBufferContextCreate(kCFAllocatorDefault, options, &context), noErr);
    ASSERT_EQ(QTVisualContextGetAttribute(context, kQTVisualContextPixelBufferAttributesKey, &value), noErr);
    EXPECT_EQ(value, attributes);
    EXPECT_EQ(QTVisualContextRetain(context), context);
    EXPECT_EQ(CFGetRetainCount(context), 2);
    QTVisualContextRelease(context);
    QTVisualContextRelease(context);
    // An unknown pixel format, or attributes that are not a dictionary, are refused.
    const int32_t unknown = 3;
    number = CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt32Type, &unknown);
    CFDictionarySetValue(attributes, kCVPixelBufferPixelFormatTypeKey, number);
    CFDictionarySetValue(options, kQTVisualContextPixelBufferAttributesKey, attributes);
    EXPECT_EQ(QTPixelBufferContextCreate(kCFAllocatorDefault, options, &context), paramErr);
    CFDictionarySetValue(options, kQTVisualContextPixelBufferAttributesKey, number);
    EXPECT_EQ(QTPixelBufferContextCreate(kCFAllocatorDefault, options, &context), paramErr);
    EXPECT_EQ(context, nullptr);
    CFRelease(number);
    CFRelease(attributes);
    CFRelease(options);
}

TEST(PixelBuffersTest, ColorSpaces) {
    struct Case {
        CFStringRef name;
        CGColorSpaceModel model;
        size_t components;
    };
    const Case cases[] = {
        {kCGColorSpaceGenericRGB, kCGColorSpaceModelRGB, 3},
        {kCGColorSpaceGenericGray, kCGColorSpaceModelMonochrome, 1},
        {kCGColorSpaceGenericCMYK, kCGColorSpaceModelCMYK, 4},
    };
    for (const Case& c : cases) {
        CGColorSpaceRef space = CGColorSpaceCreateWithName(c.name);
        ASSERT_TRUE(space);
        EXPECT_EQ(CGColorSpaceGetModel(space), c.model);
        EXPECT_EQ(CGColorSpaceGetNumberOfComponents(space), c.components);
        CFStringRef name = CGColorSpaceCopyName(space);
        EXPECT_TRUE(CFEqual(name, c.name));
        CFRelease(name);
        CGColorSpaceRelease(space);
    }
    CFStringRef other =
        CFStringCreateWithCString(kCFAllocatorDefault, "kCGColorSpaceSRGB", kCFStringEncodingUTF8);
    EXPECT_EQ(CGColorSpaceCreateWithName(other), nullptr);
    CFRelease(other);
    CGColorSpaceRef device = CGColorSpaceCreateDeviceRGB();
    EXPECT_EQ(CGColorSpaceGetNumberOfComponents(device), 3u);
    EXPECT_EQ(CGColorSpaceCopyName(device), nullptr);
    CGColorSpaceRelease(device);
}

// Images check their parameters as the platform does, keep their space and provider alive, and
// the provider's bytes are the caller's until its release callback.
TEST(PixelBuffersTest, ImagesAndTheirParameters) {
    std::vector<uint8_t> pixels(64, 7);
    gReleases = 0;
    CGDataProviderRef provider =
        CGDataProviderCreateWithData(&gReleases, pixels.data(), 64, countProviderRelease);
    CGColorSpaceRef rgb = CGColorSpaceCreateWithName(kCGColorSpaceGenericRGB);
    CGColorSpaceRef grey = CGColorSpaceCreateWithName(kCGColorSpaceGenericGray);
    struct Case {
        size_t width, height, bpc, bpp, rowBytes;
        CGColorSpaceRef space;
        CGBitmapInfo info;
        bool made;
    };
    const Case cases[] = {
        {4, 4, 8, 32, 16, rgb, kCGImageAlphaFirst, true},
        {4, 4, 8, 32, 16, rgb, kCGImageAlphaNone, true}, // a padding byte is allowed
        {5, 4, 8, 24, 16, rgb, kCGImageAlphaNone, true},
        {8, 4, 5, 16, 16, rgb, kCGImageAlphaNoneSkipFirst, true},
        {4, 4, 8, 8, 16, grey, kCGImageAlphaNone, true},
        {4, 4, 8, 8, 16, rgb, kCGImageAlphaNone, false},   // RGB in 8 bits
        {4, 4, 8, 24, 16, rgb, kCGImageAlphaFirst, false}, // no room for alpha
        {4, 4, 5, 24, 16, rgb, kCGImageAlphaNoneSkipFirst, false},
        {5, 4, 8, 32, 16, rgb, kCGImageAlphaFirst, false}, // rows too short
        {4, 5, 8, 32, 16, rgb, kCGImageAlphaFirst, false}, // provider too small
        {4, 4, 3, 12, 16, rgb, kCGImageAlphaNone, false},
        {0, 4, 8, 32, 16, rgb, kCGImageAlphaFirst, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " " + std::to_string(c.bpc) +
                     "/" + std::to_string(c.bpp));
        CGImageRef image = CGImageCreate(c.width, c.height, c.bpc, c.bpp, c.rowBytes, c.space, c.info,
                                         provider, nullptr, true, kCGRenderingIntentDefault);
        EXPECT_EQ(image != nullptr, c.made);
        if (!image) continue;
        EXPECT_EQ(CGImageGetWidth(image), c.width);
        EXPECT_EQ(CGImageGetBitsPerComponent(image), c.bpc);
        EXPECT_EQ(CGImageGetBitsPerPixel(image), c.bpp);
        EXPECT_EQ(CGImageGetBytesPerRow(image), c.rowBytes);
        EXPECT_EQ(CGImageGetAlphaInfo(image), c.info);
        EXPECT_EQ(CGImageGetColorSpace(image), c.space);
        EXPECT_TRUE(CGImageGetShouldInterpolate(image));
        EXPECT_EQ(CGImageGetDecode(image), nullptr);
        CGImageRelease(image);
    }
    // The image holds the provider after the caller let go of it.
    const CGFloat inverted[2] = {1.0f, 0.0f};
    CGImageRef image = CGImageCreate(4, 4, 8, 8, 16, grey, kCGImageAlphaNone, provider, inverted, false,
                                     kCGRenderingIntentDefault);
    ASSERT_TRUE(image);
    CGDataProviderRelease(provider);
    CGColorSpaceRelease(grey);
    CGColorSpaceRelease(rgb);
    EXPECT_EQ(gReleases, 0);
    ASSERT_TRUE(CGImageGetDecode(image));
    EXPECT_EQ(CGImageGetDecode(image)[0], 1.0f);
    CFDataRef copy = CGDataProviderCopyData(CGImageGetDataProvider(image));
    EXPECT_EQ(CFDataGetLength(copy), 64);
    EXPECT_EQ(CFDataGetBytePtr(copy)[63], 7);
    CFRelease(copy);
    // An object of another kind passed as an image is refused, not read as one.
    CGColorSpaceRef space = CGColorSpaceCreateDeviceRGB();
    CGContextRef context = CGBitmapContextCreate(nullptr, 3, 3, 8, 0, space, kCGImageAlphaPremultipliedFirst);
    ASSERT_TRUE(context);
    EXPECT_EQ(CGImageGetWidth(reinterpret_cast<CGImageRef>(context)), 0u);
    EXPECT_EQ(CGBitmapContextGetWidth(reinterpret_cast<CGContextRef>(image)), 0u);
    CGContextRelease(context);
    CGColorSpaceRelease(space);
    CGImageRelease(image);
    EXPECT_EQ(gReleases, 1);
}

TEST(PixelBuffersTest, BitmapContexts) {
    CGColorSpaceRef rgb = CGColorSpaceCreateDeviceRGB();
    // Own pixels: zeroed, rows picked when not given.
    CGContextRef context = CGBitmapContextCreate(nullptr, 5, 2, 8, 0, rgb, kCGImageAlphaPremultipliedFirst);
    ASSERT_TRUE(context);
    EXPECT_EQ(CGBitmapContextGetBitsPerPixel(context), 32u);
    EXPECT_EQ(CGBitmapContextGetBytesPerRow(context), 32u);
    const auto* bytes = static_cast<const uint8_t*>(CGBitmapContextGetData(context));
    EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + 64), std::vector<uint8_t>(64, 0));
    EXPECT_EQ(CGBitmapContextGetColorSpace(context), rgb);
    CGContextRelease(context);
    // Over the caller's pixels, with a release callback.
    std::vector<uint8_t> pixels(4 * 16);
    gReleases = 0;
    context = CGBitmapContextCreateWithData(pixels.data(), 8, 4, 5, 16, rgb, kCGImageAlphaNoneSkipFirst,
                                            countContextRelease, &gReleases);
    ASSERT_TRUE(context);
    EXPECT_EQ(CGBitmapContextGetData(context), pixels.data());
    EXPECT_EQ(CGBitmapContextGetBitsPerPixel(context), 16u);
    EXPECT_EQ(CGBitmapContextGetAlphaInfo(context), kCGImageAlphaNoneSkipFirst);
    EXPECT_EQ(CGContextRetain(context), context);
    CGContextRelease(context);
    EXPECT_EQ(gReleases, 0);
    CGContextRelease(context);
    EXPECT_EQ(gReleases, 1);
    // Rows too short, a bad component size, no space.
    EXPECT_EQ(CGBitmapContextCreate(pixels.data(), 5, 4, 8, 16, rgb, kCGImageAlphaFirst), nullptr);
    EXPECT_EQ(CGBitmapContextCreate(pixels.data(), 2, 2, 7, 16, rgb, kCGImageAlphaFirst), nullptr);
    EXPECT_EQ(CGBitmapContextCreate(pixels.data(), 2, 2, 8, 16, nullptr, kCGImageAlphaFirst), nullptr);
    CGColorSpaceRelease(rgb);
}

TEST(PixelBuffersTest, DrawingIntoBitmapContexts) {
    CGColorSpaceRef rgb = CGColorSpaceCreateDeviceRGB();
    CGColorSpaceRef grey = CGColorSpaceCreateDeviceGray();
    CGContextRef argb = CGBitmapContextCreate(nullptr, 4, 4, 8, 16, rgb, kCGImageAlphaPremultipliedFirst);
    ASSERT_TRUE(argb);
    auto at = [&](int x, int y) { // y from the top, as the bytes lie
        const auto* p = static_cast<const uint8_t*>(CGBitmapContextGetData(argb)) + y * 16 + x * 4;
        return std::vector<int>{p[0], p[1], p[2], p[3]};
    };
    // Black is the fill colour until another is set; the rectangle's origin is the bottom left.
    CGContextFillRect(argb, CGRectMake(0, 0, 4, 4));
    EXPECT_EQ(at(3, 3), (std::vector<int>{255, 0, 0, 0}));
    CGContextSetRGBFillColor(argb, 0, 0, 1, 1);
    CGContextFillRect(argb, CGRectMake(0, 0, 2, 1));
    EXPECT_EQ(at(0, 3), (std::vector<int>{255, 0, 0, 255}));
    EXPECT_EQ(at(2, 3), (std::vector<int>{255, 0, 0, 0}));
    EXPECT_EQ(at(0, 2), (std::vector<int>{255, 0, 0, 0}));
    // Half-transparent white over black.
    CGContextSetRGBFillColor(argb, 1, 1, 1, 0.5f);
    CGContextFillRect(argb, CGRectMake(3, 0, 1, 4));
    EXPECT_EQ(at(3, 0), (std::vector<int>{255, 128, 128, 128}));

    // A 2 x 2 image (red, green / blue, white) drawn upright and doubled.
    const uint8_t pixels[12] = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255};
    CGDataProviderRef provider = CGDataProviderCreateWithData(nullptr, pixels, sizeof pixels, nullptr);
    CGImageRef image =
        CGImageCreate(2, 2, 8, 24, 6, rgb, kCGImageAlphaNone, provider, nullptr, false, kCGRenderingIntentDefault);
    ASSERT_TRUE(image);
    CGContextDrawImage(argb, CGRectMake(0, 0, 4, 4), image);
    EXPECT_EQ(at(0, 0), (std::vector<int>{255, 255, 0, 0}));
    EXPECT_EQ(at(1, 1), (std::vector<int>{255, 255, 0, 0}));
    EXPECT_EQ(at(2, 1), (std::vector<int>{255, 0, 255, 0}));
    EXPECT_EQ(at(0, 2), (std::vector<int>{255, 0, 0, 255}));
    EXPECT_EQ(at(3, 3), (std::vector<int>{255, 255, 255, 255}));
    // Into a grey context, colours become their grey.
    CGContextRef mono = CGBitmapContextCreate(nullptr, 2, 2, 8, 2, grey, kCGImageAlphaNone);
    ASSERT_TRUE(mono);
    CGContextDrawImage(mono, CGRectMake(0, 0, 2, 2), image);
    const auto* m = static_cast<const uint8_t*>(CGBitmapContextGetData(mono));
    EXPECT_EQ(int(m[0]), 76);
    EXPECT_EQ(int(m[3]), 255);

    // The context's image is a copy: later drawing does not change it.
    CGImageRef snapshot = CGBitmapContextCreateImage(argb);
    ASSERT_TRUE(snapshot);
    CGContextSetRGBFillColor(argb, 0, 0, 0, 1);
    CGContextFillRect(argb, CGRectMake(0, 0, 4, 4));
    platform::codec::Picture back;
    ASSERT_EQ(platform::cgImageToPicture(snapshot, back), noErr);
    ASSERT_EQ(back.components, 4);
    EXPECT_EQ(int(back.samples[0]), 255);
    EXPECT_EQ(int(back.samples[1]), 0);
    EXPECT_EQ(CGBitmapContextCreateImage(nullptr), nullptr);
    CGImageRelease(snapshot);
    CGContextRelease(mono);
    CGImageRelease(image);
    CGDataProviderRelease(provider);
    CGContextRelease(argb);
    CGColorSpaceRelease(grey);
    CGColorSpaceRelease(rgb);
}
