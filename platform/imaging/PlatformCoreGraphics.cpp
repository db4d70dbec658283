#include "PlatformCoreGraphics.h"

#include "PlatformGWorlds.h"
#include "PlatformPixelFormats.h"

#include <algorithm>
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
    CGFloat fill[4] = {0, 0, 0, 1}; // R, G, B, A
};

namespace {

// Asked through CFGetTypeID: called on a final class, typeID would be bound to that class's own
// at compile time, and an object of another kind passed as one would pass.
template <class T> T* checked(T* object, CFTypeID id) {
    return object && CFGetTypeID(object) == id ? object : nullptr;
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

// ---------------------------------------------------------------------------------------------
// Pixels of images and contexts as pictures

namespace {

struct CGPixels {
    const uint8_t* data = nullptr;
    size_t width = 0, height = 0, bitsPerComponent = 0, bitsPerPixel = 0, bytesPerRow = 0;
    CGColorSpaceRef space = nullptr;
    CGBitmapInfo info = 0;
};

// Where a pixel's grey or R, G and B bytes and its alpha byte lie (alphaAt -1: no alpha).
struct CGLayout {
    size_t pixelBytes = 0;
    size_t colours = 0;
    int colourAt[3] = {0, 0, 0};
    int alphaAt = -1;
    bool premultiplied = false;
};

// The layouts of 8-bit components these calls read and draw into: grey without alpha, RGB in 24
// bits, and RGB in 32 bits with alpha first or last, premultiplied, plain or skipped, in either
// byte order of the word. cDepthErr for any other.
OSErr layoutOf(const CGPixels& p, CGLayout& out) {
    const CGImageAlphaInfo alpha = p.info & kCGBitmapAlphaInfoMask;
    const CGBitmapInfo order = p.info & kCGBitmapByteOrderMask;
    if (p.bitsPerComponent != 8 || (p.info & kCGBitmapFloatComponents) != 0) return cDepthErr;
    if (order != kCGBitmapByteOrderDefault && order != kCGBitmapByteOrder32Big &&
        order != kCGBitmapByteOrder32Little)
        return cDepthErr;
    CGLayout l;
    l.colours = componentsOf(p.space);
    if (l.colours == 1) {
        if (alpha != kCGImageAlphaNone || p.bitsPerPixel != 8 || order == kCGBitmapByteOrder32Little)
            return cDepthErr;
        l.pixelBytes = 1;
    } else if (l.colours == 3) {
        bool first = false;
        switch (alpha) {
        case kCGImageAlphaNone:
            if (p.bitsPerPixel != 24 || order == kCGBitmapByteOrder32Little) return cDepthErr;
            l.pixelBytes = 3;
            l.colourAt[1] = 1;
            l.colourAt[2] = 2;
            break;
        case kCGImageAlphaPremultipliedFirst:
        case kCGImageAlphaFirst:
        case kCGImageAlphaNoneSkipFirst:
            first = true;
            [[fallthrough]];
        case kCGImageAlphaPremultipliedLast:
        case kCGImageAlphaLast:
        case kCGImageAlphaNoneSkipLast:
            if (p.bitsPerPixel != 32) return cDepthErr;
            l.pixelBytes = 4;
            l.premultiplied =
                alpha == kCGImageAlphaPremultipliedFirst || alpha == kCGImageAlphaPremultipliedLast;
            if (alpha != kCGImageAlphaNoneSkipFirst && alpha != kCGImageAlphaNoneSkipLast)
                l.alphaAt = first ? 0 : 3;
            for (int c = 0; c < 3; ++c)
                l.colourAt[c] = first ? c + 1 : c;
            break;
        default:
            return cDepthErr;
        }
        // A little-endian 32-bit pixel holds its bytes the other way round.
        if (order == kCGBitmapByteOrder32Little) {
            for (int& at : l.colourAt)
                at = 3 - at;
            if (l.alphaAt >= 0) l.alphaAt = 3 - l.alphaAt;
        }
    } else {
        return cDepthErr;
    }
    out = l;
    return noErr;
}

CGPixels pixelsOf(const CGContext& c) {
    CGPixels p;
    p.data = static_cast<const uint8_t*>(c.data);
    p.width = c.width;
    p.height = c.height;
    p.bitsPerComponent = c.bitsPerComponent;
    p.bitsPerPixel = c.bitsPerPixel;
    p.bytesPerRow = c.bytesPerRow;
    p.space = c.space;
    p.info = c.bitmapInfo;
    return p;
}

OSErr cgPixelsToPicture(const CGPixels& p, platform::codec::Picture& out) {
    if (!p.data) return paramErr;
    CGLayout layout;
    if (OSErr err = layoutOf(p, layout)) return err;
    const size_t colours = layout.colours, pixelBytes = layout.pixelBytes;
    const int alphaAt = layout.alphaAt;
    const int* colourAt = layout.colourAt;
    const bool premultiplied = layout.premultiplied;

    platform::codec::Picture pic;
    pic.components = colours == 1 ? 1 : alphaAt >= 0 ? 4 : 3;
    if (!platform::codec::pictureFits(int64_t(p.width), int64_t(p.height), pic.components, 8))
        return codecSizeErr;
    pic.width = int32_t(p.width);
    pic.height = int32_t(p.height);
    pic.bitsPerSample = pic.precision = 8;
    try {
        pic.samples.resize(pic.rowBytes() * p.height);
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
    const size_t comps = size_t(pic.components);
    for (size_t y = 0; y < p.height; ++y) {
        const uint8_t* src = p.data + y * p.bytesPerRow;
        uint8_t* dst = pic.samples.data() + y * pic.rowBytes();
        for (size_t x = 0; x < p.width; ++x, src += pixelBytes, dst += comps) {
            if (comps == 1) {
                dst[0] = src[0];
                continue;
            }
            const uint32_t a = alphaAt >= 0 ? src[alphaAt] : 255u;
            for (int c = 0; c < 3; ++c) {
                uint32_t v = src[colourAt[c]];
                if (premultiplied) v = a == 0 ? 0 : std::min<uint32_t>(255u, (v * 255u + a / 2) / a);
                dst[c] = uint8_t(v);
            }
            if (comps == 4) dst[3] = uint8_t(a);
        }
    }
    out = std::move(pic);
    return noErr;
}

} // namespace

namespace platform {

OSErr cgImageToPicture(CGImageRef image, codec::Picture& out) {
    out = codec::Picture();
    if (!checked(image, kImageTypeID) || !image->provider) return paramErr;
    if (image->hasDecode) {
        // A decode array remaps the samples; only the identity is read as the samples are.
        const CGImageAlphaInfo alpha = image->bitmapInfo & kCGBitmapAlphaInfoMask;
        size_t values = 2 * componentsOf(image->space);
        if (alpha != kCGImageAlphaNone && alpha != kCGImageAlphaNoneSkipFirst &&
            alpha != kCGImageAlphaNoneSkipLast)
            values += 2;
        for (size_t i = 0; i < std::min<size_t>(values, 8); ++i)
            if (image->decode[i] != CGFloat(i % 2)) return cDepthErr;
    }
    CGPixels p;
    p.data = static_cast<const uint8_t*>(image->provider->data);
    p.width = image->width;
    p.height = image->height;
    p.bitsPerComponent = image->bitsPerComponent;
    p.bitsPerPixel = image->bitsPerPixel;
    p.bytesPerRow = image->bytesPerRow;
    p.space = image->space;
    p.info = image->bitmapInfo;
    return cgPixelsToPicture(p, out);
}

OSErr cgBitmapContextToPicture(CGContextRef context, codec::Picture& out) {
    out = codec::Picture();
    if (!checked(context, kContextTypeID)) return paramErr;
    return cgPixelsToPicture(pixelsOf(*context), out);
}

} // namespace platform

// ---------------------------------------------------------------------------------------------
// Drawing into bitmap contexts

namespace {

uint8_t unit8(CGFloat v) {
    if (!(v > 0)) return 0;
    if (v >= 1) return 255;
    return uint8_t(std::lround(double(v) * 255.0));
}

// One colour laid over one pixel of the context ("source over"): R, G, B not premultiplied.
void blend(uint8_t* px, const CGLayout& l, uint32_t r, uint32_t g, uint32_t b, uint32_t a) {
    if (a == 0) return;
    if (l.colours == 1) {
        const uint32_t grey = platform::greyOf(uint8_t(r), uint8_t(g), uint8_t(b));
        px[0] = uint8_t((grey * a + px[0] * (255 - a) + 127) / 255);
        return;
    }
    const uint32_t src[3] = {r, g, b};
    const uint32_t dstA = l.alphaAt >= 0 ? px[l.alphaAt] : 255u;
    const uint32_t outA = a + (dstA * (255 - a) + 127) / 255;
    for (int c = 0; c < 3; ++c) {
        // Both sides premultiplied, then back to the layout's own form.
        uint32_t d = px[l.colourAt[c]];
        if (l.alphaAt >= 0 && !l.premultiplied) d = (d * dstA + 127) / 255;
        uint32_t v = (src[c] * a + 127) / 255 + (d * (255 - a) + 127) / 255;
        if (l.alphaAt >= 0 && !l.premultiplied)
            v = outA == 0 ? 0 : std::min<uint32_t>(255u, (v * 255u + outA / 2) / outA);
        px[l.colourAt[c]] = uint8_t(std::min<uint32_t>(v, 255u));
    }
    if (l.alphaAt >= 0) px[l.alphaAt] = uint8_t(std::min<uint32_t>(outA, 255u));
}

// The device pixels whose centres lie in the rectangle (user space: origin at the bottom left),
// as columns [x0, x1) and rows from the bottom [y0, y1).
struct Span {
    int64_t x0, x1, y0, y1;
};

Span spanOf(const CGContext& c, const CGRect& r) {
    const double left = std::min<double>(r.origin.x, double(r.origin.x) + r.size.width);
    const double right = std::max<double>(r.origin.x, double(r.origin.x) + r.size.width);
    const double bottom = std::min<double>(r.origin.y, double(r.origin.y) + r.size.height);
    const double top = std::max<double>(r.origin.y, double(r.origin.y) + r.size.height);
    auto first = [](double edge, size_t limit) {
        const double v = std::ceil(edge - 0.5);
        return int64_t(std::clamp(v, 0.0, double(limit)));
    };
    return Span{first(left, c.width), first(right, c.width), first(bottom, c.height), first(top, c.height)};
}

} // namespace

void CGContextSetRGBFillColor(CGContextRef context, CGFloat red, CGFloat green, CGFloat blue, CGFloat alpha) {
    context = checked(context, kContextTypeID);
    if (!context) return;
    context->fill[0] = red;
    context->fill[1] = green;
    context->fill[2] = blue;
    context->fill[3] = alpha;
}

void CGContextFillRect(CGContextRef context, CGRect rect) {
    context = checked(context, kContextTypeID);
    CGLayout l;
    if (!context || !context->data || layoutOf(pixelsOf(*context), l) != noErr) return;
    const Span s = spanOf(*context, rect);
    const uint8_t r = unit8(context->fill[0]), g = unit8(context->fill[1]), b = unit8(context->fill[2]),
                  a = unit8(context->fill[3]);
    auto* base = static_cast<uint8_t*>(context->data);
    for (int64_t y = s.y0; y < s.y1; ++y) {
        uint8_t* row = base + size_t(int64_t(context->height) - 1 - y) * context->bytesPerRow;
        for (int64_t x = s.x0; x < s.x1; ++x)
            blend(row + size_t(x) * l.pixelBytes, l, r, g, b, a);
    }
}

void CGContextDrawImage(CGContextRef context, CGRect rect, CGImageRef image) {
    context = checked(context, kContextTypeID);
    CGLayout l;
    if (!context || !context->data || layoutOf(pixelsOf(*context), l) != noErr) return;
    platform::codec::Picture pic;
    if (platform::cgImageToPicture(image, pic) != noErr || pic.width <= 0 || pic.height <= 0) return;
    const double w = std::fabs(double(rect.size.width)), h = std::fabs(double(rect.size.height));
    if (!(w > 0) || !(h > 0)) return;
    const double left = std::min<double>(rect.origin.x, double(rect.origin.x) + rect.size.width);
    const double top = std::max<double>(rect.origin.y, double(rect.origin.y) + rect.size.height);
    const Span s = spanOf(*context, rect);
    const size_t comps = size_t(pic.components);
    auto* base = static_cast<uint8_t*>(context->data);
    for (int64_t y = s.y0; y < s.y1; ++y) {
        // The image stands upright: its first row at the rectangle's top.
        const int64_t v = std::clamp<int64_t>(int64_t(std::floor((top - (double(y) + 0.5)) / h * pic.height)),
                                              0, pic.height - 1);
        const uint8_t* src = pic.samples.data() + size_t(v) * pic.rowBytes();
        uint8_t* row = base + size_t(int64_t(context->height) - 1 - y) * context->bytesPerRow;
        for (int64_t x = s.x0; x < s.x1; ++x) {
            const int64_t u = std::clamp<int64_t>(
                int64_t(std::floor((double(x) + 0.5 - left) / w * pic.width)), 0, pic.width - 1);
            const uint8_t* px = src + size_t(u) * comps;
            const uint8_t r = px[0], g = comps >= 3 ? px[1] : px[0], b = comps >= 3 ? px[2] : px[0];
            blend(row + size_t(x) * l.pixelBytes, l, r, g, b, comps == 4 ? px[3] : 255);
        }
    }
}

CGImageRef CGBitmapContextCreateImage(CGContextRef context) {
    context = checked(context, kContextTypeID);
    if (!context || !context->data) return nullptr;
    const size_t bytes = context->bytesPerRow * context->height;
    void* copy = std::malloc(bytes);
    if (!copy) return nullptr;
    std::memcpy(copy, context->data, bytes);
    CGDataProviderRef provider = CGDataProviderCreateWithData(
        nullptr, copy, bytes, [](void*, const void* data, size_t) { std::free(const_cast<void*>(data)); });
    if (!provider) {
        std::free(copy);
        return nullptr;
    }
    CGImageRef image =
        CGImageCreate(context->width, context->height, context->bitsPerComponent, context->bitsPerPixel,
                      context->bytesPerRow, context->space, context->bitmapInfo, provider, nullptr, false,
                      kCGRenderingIntentDefault);
    CGDataProviderRelease(provider);
    return image;
}
