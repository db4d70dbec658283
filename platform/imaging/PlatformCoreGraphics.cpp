#include "PlatformCoreGraphics.h"

#include "PlatformGWorlds.h"
#include "PlatformPixelFormats.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

namespace {

enum : CFTypeID {
    kColorSpaceTypeID = 201,
    kDataProviderTypeID = 202,
    kImageTypeID = 203,
    kContextTypeID = 204,
};

// A shared string constant, never counted nor deleted.
struct ConstantString {
    explicit ConstantString(const char* text) : string(text) { string.immortal = true; }
    CFLiteString string;
};

ConstantString gGenericRGB("kCGColorSpaceGenericRGB");
ConstantString gGenericGray("kCGColorSpaceGenericGray");
ConstantString gGenericCMYK("kCGColorSpaceGenericCMYK");

} // namespace

const CFStringRef kCGColorSpaceGenericRGB = &gGenericRGB.string;
const CFStringRef kCGColorSpaceGenericGray = &gGenericGray.string;
const CFStringRef kCGColorSpaceGenericCMYK = &gGenericCMYK.string;

struct CGLiteColorSpace final : CFLiteObject {
    CFTypeID typeID() const override { return kColorSpaceTypeID; }
    CGColorSpaceModel model = kCGColorSpaceModelRGB;
    CFStringRef name = nullptr; // a constant, or null for device spaces
};

struct CGLiteDataProvider final : CFLiteObject {
    ~CGLiteDataProvider() override {
        if (release) release(info, data, size);
    }
    CFTypeID typeID() const override { return kDataProviderTypeID; }
    void* info = nullptr;
    const void* data = nullptr;
    size_t size = 0;
    CGDataProviderReleaseDataCallback release = nullptr;
};

struct CGImage final : CFLiteObject {
    ~CGImage() override {
        CGColorSpaceRelease(space);
        CGDataProviderRelease(provider);
    }
    CFTypeID typeID() const override { return kImageTypeID; }
    size_t width = 0, height = 0, bitsPerComponent = 0, bitsPerPixel = 0, bytesPerRow = 0;
    CGColorSpaceRef space = nullptr;
    CGBitmapInfo bitmapInfo = 0;
    CGDataProviderRef provider = nullptr;
    bool hasDecode = false;
    CGFloat decode[8] = {};
    bool interpolate = false;
};

struct CGContext final : CFLiteObject {
    ~CGContext() override {
        if (release) release(releaseInfo, data);
        if (ownsData) std::free(data);
        CGColorSpaceRelease(space);
    }
    CFTypeID typeID() const override { return kContextTypeID; }
    void* data = nullptr;
    bool ownsData = false;
    size_t width = 0, height = 0, bitsPerComponent = 0, bitsPerPixel = 0, bytesPerRow = 0;
    CGColorSpaceRef space = nullptr;
    CGBitmapInfo bitmapInfo = 0;
    CGBitmapContextReleaseDataCallback release = nullptr;
    void* releaseInfo = nullptr;
};

namespace {

template <class T> T* checked(T* object, CFTypeID id) {
    return object && object->typeID() == id ? object : nullptr;
}

CGColorSpaceRef newSpace(CGColorSpaceModel model, CFStringRef name) {
    auto* space = new (std::nothrow) CGLiteColorSpace;
    if (!space) return nullptr;
    space->model = model;
    space->name = name;
    return space;
}

size_t componentsOf(CGColorSpaceRef space) {
    switch (space ? space->model : kCGColorSpaceModelUnknown) {
    case kCGColorSpaceModelMonochrome:
        return 1;
    case kCGColorSpaceModelRGB:
        return 3;
    case kCGColorSpaceModelCMYK:
        return 4;
    default:
        return 0;
    }
}

bool goodComponentBits(size_t bits) {
    return bits == 1 || bits == 2 || bits == 4 || bits == 5 || bits == 8 || bits == 16 || bits == 32;
}

// Bits a pixel needs for the space, the alpha and the component size; 0 for a bad combination.
size_t pixelBitsFor(CGColorSpaceRef space, CGBitmapInfo info, size_t bitsPerComponent) {
    const size_t components = componentsOf(space);
    const CGImageAlphaInfo alpha = info & kCGBitmapAlphaInfoMask;
    if (components == 0 || alpha > kCGImageAlphaOnly || !goodComponentBits(bitsPerComponent)) return 0;
    if (bitsPerComponent == 5) return components == 3 ? 16 : 0;
    const size_t extra = alpha == kCGImageAlphaNone ? 0 : 1;
    if (alpha == kCGImageAlphaOnly) return bitsPerComponent;
    return bitsPerComponent * (components + extra);
}

bool fitsSize(size_t width, size_t height) {
    return width > 0 && height > 0 && width <= 0x7FFFFFFF && height <= 0x7FFFFFFF;
}

} // namespace

CFTypeID CGColorSpaceGetTypeID() {
    return kColorSpaceTypeID;
}
CFTypeID CGDataProviderGetTypeID() {
    return kDataProviderTypeID;
}
CFTypeID CGImageGetTypeID() {
    return kImageTypeID;
}
CFTypeID CGContextGetTypeID() {
    return kContextTypeID;
}

// ---------------------------------------------------------------------------------------------
// Colour spaces

CGColorSpaceRef CGColorSpaceCreateWithName(CFStringRef name) {
    if (!name) return nullptr;
    if (CFEqual(name, kCGColorSpaceGenericRGB))
        return newSpace(kCGColorSpaceModelRGB, kCGColorSpaceGenericRGB);
    if (CFEqual(name, kCGColorSpaceGenericGray))
        return newSpace(kCGColorSpaceModelMonochrome, kCGColorSpaceGenericGray);
    if (CFEqual(name, kCGColorSpaceGenericCMYK))
        return newSpace(kCGColorSpaceModelCMYK, kCGColorSpaceGenericCMYK);
    return nullptr;
}

CGColorSpaceRef CGColorSpaceCreateDeviceRGB() {
    return newSpace(kCGColorSpaceModelRGB, nullptr);
}
CGColorSpaceRef CGColorSpaceCreateDeviceGray() {
    return newSpace(kCGColorSpaceModelMonochrome, nullptr);
}
CGColorSpaceRef CGColorSpaceCreateDeviceCMYK() {
    return newSpace(kCGColorSpaceModelCMYK, nullptr);
}

CGColorSpaceRef CGColorSpaceRetain(CGColorSpaceRef space) {
    if (space) CFRetain(space);
    return space;
}
void CGColorSpaceRelease(CGColorSpaceRef space) {
    if (space) CFRelease(space);
}
size_t CGColorSpaceGetNumberOfComponents(CGColorSpaceRef space) {
    return componentsOf(checked(space, kColorSpaceTypeID));
}
CGColorSpaceModel CGColorSpaceGetModel(CGColorSpaceRef space) {
    space = checked(space, kColorSpaceTypeID);
    return space ? space->model : kCGColorSpaceModelUnknown;
}
CFStringRef CGColorSpaceCopyName(CGColorSpaceRef space) {
    space = checked(space, kColorSpaceTypeID);
    if (!space || !space->name) return nullptr;
    CFRetain(space->name);
    return space->name;
}

// ---------------------------------------------------------------------------------------------
// Data providers

CGDataProviderRef CGDataProviderCreateWithData(void* info, const void* data, size_t size,
                                               CGDataProviderReleaseDataCallback releaseData) {
    if (!data && size > 0) return nullptr;
    auto* provider = new (std::nothrow) CGLiteDataProvider;
    if (!provider) return nullptr;
    provider->info = info;
    provider->data = data;
    provider->size = size;
    provider->release = releaseData;
    return provider;
}

CGDataProviderRef CGDataProviderRetain(CGDataProviderRef provider) {
    if (provider) CFRetain(provider);
    return provider;
}
void CGDataProviderRelease(CGDataProviderRef provider) {
    if (provider) CFRelease(provider);
}
CFDataRef CGDataProviderCopyData(CGDataProviderRef provider) {
    provider = checked(provider, kDataProviderTypeID);
    if (!provider || provider->size > size_t(INT32_MAX)) return nullptr;
    return CFDataCreate(kCFAllocatorDefault, static_cast<const UInt8*>(provider->data),
                        CFIndex(provider->size));
}

// ---------------------------------------------------------------------------------------------
// Images

CGImageRef CGImageCreate(size_t width, size_t height, size_t bitsPerComponent, size_t bitsPerPixel,
                         size_t bytesPerRow, CGColorSpaceRef space, CGBitmapInfo bitmapInfo,
                         CGDataProviderRef provider, const CGFloat* decode, bool shouldInterpolate,
                         CGColorRenderingIntent) {
    space = checked(space, kColorSpaceTypeID);
    provider = checked(provider, kDataProviderTypeID);
    if (!space || !provider || !fitsSize(width, height)) return nullptr;
    const size_t needed = pixelBitsFor(space, bitmapInfo, bitsPerComponent);
    if (needed == 0 || bitsPerPixel < needed || (bitsPerComponent == 5 && bitsPerPixel != 16)) return nullptr;
    const uint64_t rowBits = uint64_t(width) * bitsPerPixel;
    const uint64_t rowNeeded = (rowBits + 7) / 8;
    if (bytesPerRow < rowNeeded) return nullptr;
    if (uint64_t(provider->size) < uint64_t(bytesPerRow) * (height - 1) + rowNeeded) return nullptr;
    auto* image = new (std::nothrow) CGImage;
    if (!image) return nullptr;
    image->width = width;
    image->height = height;
    image->bitsPerComponent = bitsPerComponent;
    image->bitsPerPixel = bitsPerPixel;
    image->bytesPerRow = bytesPerRow;
    image->space = CGColorSpaceRetain(space);
    image->bitmapInfo = bitmapInfo;
    image->provider = CGDataProviderRetain(provider);
    if (decode) {
        const CGImageAlphaInfo alpha = bitmapInfo & kCGBitmapAlphaInfoMask;
        size_t values = 2 * componentsOf(space);
        if (alpha != kCGImageAlphaNone && alpha != kCGImageAlphaNoneSkipFirst &&
            alpha != kCGImageAlphaNoneSkipLast)
            values += 2;
        image->hasDecode = true;
        std::memcpy(image->decode, decode, sizeof(CGFloat) * std::min<size_t>(values, 8));
    }
    image->interpolate = shouldInterpolate;
    return image;
}

CGImageRef CGImageRetain(CGImageRef image) {
    if (image) CFRetain(image);
    return image;
}
void CGImageRelease(CGImageRef image) {
    if (image) CFRelease(image);
}
size_t CGImageGetWidth(CGImageRef image) {
    image = checked(image, kImageTypeID);
    return image ? image->width : 0;
}
size_t CGImageGetHeight(CGImageRef image) {
    image = checked(image, kImageTypeID);
    return image ? image->height : 0;
}
size_t CGImageGetBitsPerComponent(CGImageRef image) {
    image = checked(image, kImageTypeID);
    return image ? image->bitsPerComponent : 0;
}
size_t CGImageGetBitsPerPixel(CGImageRef image) {
    image = checked(image, kImageTypeID);
    return image ? image->bitsPerPixel : 0;
}
size_t CGImageGetBytesPerRow(CGImageRef image) {
    image = checked(image, kImageTypeID);
    return image ? image->bytesPerRow : 0;
}
CGColorSpaceRef CGImageGetColorSpace(CGImageRef image) {
    image = checked(image, kImageTypeID);
    return image ? image->space : nullptr;
}
CGBitmapInfo CGImageGetBitmapInfo(CGImageRef image) {
    image = checked(image, kImageTypeID);
    return image ? image->bitmapInfo : 0;
}
CGImageAlphaInfo CGImageGetAlphaInfo(CGImageRef image) {
    return CGImageGetBitmapInfo(image) & kCGBitmapAlphaInfoMask;
}
CGDataProviderRef CGImageGetDataProvider(CGImageRef image) {
    image = checked(image, kImageTypeID);
    return image ? image->provider : nullptr;
}
const CGFloat* CGImageGetDecode(CGImageRef image) {
    image = checked(image, kImageTypeID);
    return image && image->hasDecode ? image->decode : nullptr;
}
bool CGImageGetShouldInterpolate(CGImageRef image) {
    image = checked(image, kImageTypeID);
    return image && image->interpolate;
}

// ---------------------------------------------------------------------------------------------
// Bitmap contexts

CGContextRef CGBitmapContextCreateWithData(void* data, size_t width, size_t height, size_t bitsPerComponent,
                                           size_t bytesPerRow, CGColorSpaceRef space, CGBitmapInfo bitmapInfo,
                                           CGBitmapContextReleaseDataCallback releaseCallback,
                                           void* releaseInfo) {
    space = checked(space, kColorSpaceTypeID);
    if (!space || !fitsSize(width, height)) return nullptr;
    const size_t bitsPerPixel = pixelBitsFor(space, bitmapInfo, bitsPerComponent);
    if (bitsPerPixel == 0) return nullptr;
    const uint64_t rowNeeded = (uint64_t(width) * bitsPerPixel + 7) / 8;
    if (!data && bytesPerRow == 0) bytesPerRow = size_t((rowNeeded + 15) & ~uint64_t(15));
    if (bytesPerRow < rowNeeded || uint64_t(bytesPerRow) * height > uint64_t(INT32_MAX)) return nullptr;
    auto* context = new (std::nothrow) CGContext;
    if (!context) return nullptr;
    if (!data) {
        data = std::calloc(bytesPerRow * height, 1);
        if (!data) {
            delete context;
            return nullptr;
        }
        context->ownsData = true;
    }
    context->data = data;
    context->width = width;
    context->height = height;
    context->bitsPerComponent = bitsPerComponent;
    context->bitsPerPixel = bitsPerPixel;
    context->bytesPerRow = bytesPerRow;
    context->space = CGColorSpaceRetain(space);
    context->bitmapInfo = bitmapInfo;
    context->release = releaseCallback;
    context->releaseInfo = releaseInfo;
    return context;
}

CGContextRef CGBitmapContextCreate(void* data, size_t width, size_t height, size_t bitsPerComponent,
                                   size_t bytesPerRow, CGColorSpaceRef space, CGBitmapInfo bitmapInfo) {
    return CGBitmapContextCreateWithData(data, width, height, bitsPerComponent, bytesPerRow, space,
                                         bitmapInfo, nullptr, nullptr);
}

CGContextRef CGContextRetain(CGContextRef context) {
    if (context) CFRetain(context);
    return context;
}
void CGContextRelease(CGContextRef context) {
    if (context) CFRelease(context);
}
void* CGBitmapContextGetData(CGContextRef context) {
    context = checked(context, kContextTypeID);
    return context ? context->data : nullptr;
}
size_t CGBitmapContextGetWidth(CGContextRef context) {
    context = checked(context, kContextTypeID);
    return context ? context->width : 0;
}
size_t CGBitmapContextGetHeight(CGContextRef context) {
    context = checked(context, kContextTypeID);
    return context ? context->height : 0;
}
size_t CGBitmapContextGetBitsPerComponent(CGContextRef context) {
    context = checked(context, kContextTypeID);
    return context ? context->bitsPerComponent : 0;
}
size_t CGBitmapContextGetBitsPerPixel(CGContextRef context) {
    context = checked(context, kContextTypeID);
    return context ? context->bitsPerPixel : 0;
}
size_t CGBitmapContextGetBytesPerRow(CGContextRef context) {
    context = checked(context, kContextTypeID);
    return context ? context->bytesPerRow : 0;
}
CGColorSpaceRef CGBitmapContextGetColorSpace(CGContextRef context) {
    context = checked(context, kContextTypeID);
    return context ? context->space : nullptr;
}
CGBitmapInfo CGBitmapContextGetBitmapInfo(CGContextRef context) {
    context = checked(context, kContextTypeID);
    return context ? context->bitmapInfo : 0;
}
CGImageAlphaInfo CGBitmapContextGetAlphaInfo(CGContextRef context) {
    return CGBitmapContextGetBitmapInfo(context) & kCGBitmapAlphaInfoMask;
}

// ---------------------------------------------------------------------------------------------
// Contexts over offscreen worlds

OSStatus QDBeginCGContext(CGrafPtr port, CGContextRef* context) {
    if (!context) return paramErr;
    *context = nullptr;
    if (!platform::isGWorld(port) || port->cgContext) return paramErr;
    const PixMap& map = **port->portPixMap;
    const platform::PixelFormatInfo* info = platform::pixelFormatInfo(map.pixelFormat);
    if (!info || !info->cgBitmapContextCompatible) return cDepthErr;
    CGColorSpaceRef space = CGColorSpaceCreateWithName(kCGColorSpaceGenericRGB);
    if (!space) return memFullErr;
    const size_t width = size_t(int32_t(map.bounds.right) - map.bounds.left);
    const size_t height = size_t(int32_t(map.bounds.bottom) - map.bounds.top);
    CGContextRef made = CGBitmapContextCreate(map.baseAddr, width, height, size_t(info->componentBits),
                                              size_t(QTGetPixMapPtrRowBytes(const_cast<PixMap*>(&map))),
                                              space, info->cgBitmapInfo);
    CGColorSpaceRelease(space);
    if (!made) return paramErr;
    port->cgContext = made;
    *context = made;
    return noErr;
}

OSStatus QDEndCGContext(CGrafPtr port, CGContextRef* context) {
    if (!context || !platform::isGWorld(port) || !port->cgContext || *context != port->cgContext)
        return paramErr;
    CGContextRelease(port->cgContext);
    port->cgContext = nullptr;
    *context = nullptr;
    return noErr;
}
