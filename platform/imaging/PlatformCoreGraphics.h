// A stand-in for the Core Graphics objects that the toolkit hands its pixels to: colour spaces,
// data providers, images and bitmap contexts. They are reference-counted objects of the CF-like
// layer (CFRetain and CFRelease work on them); each starts with a count of one and belongs to its
// creator. Images and contexts keep their parameters and point at their pixels; nothing is drawn
// through them. Creation checks the parameters as the platform does and answers null for a
// combination it refuses.
#pragma once

#include "PlatformCF.h"
#include "PlatformCodecEngines.h"
#include "PlatformGeometry.h"
#include "PlatformObjects.h"
#include "PlatformTypes.h"

#include <cstddef>
#include <cstdint>

struct CGLiteColorSpace;
using CGColorSpaceRef = CGLiteColorSpace*;
struct CGLiteDataProvider;
using CGDataProviderRef = CGLiteDataProvider*;
struct CGImage;
using CGImageRef = CGImage*;
struct CGContext;
using CGContextRef = CGContext*;

// Alpha infos and the other bitmap information bits, in one set so that they combine.
using CGBitmapInfo = uint32_t;
using CGImageAlphaInfo = uint32_t;
enum : CGBitmapInfo {
    kCGImageAlphaNone = 0,
    kCGImageAlphaPremultipliedLast = 1,
    kCGImageAlphaPremultipliedFirst = 2,
    kCGImageAlphaLast = 3,
    kCGImageAlphaFirst = 4,
    kCGImageAlphaNoneSkipLast = 5,
    kCGImageAlphaNoneSkipFirst = 6,
    kCGImageAlphaOnly = 7,
    kCGBitmapAlphaInfoMask = 0x1F,
    kCGBitmapFloatComponents = 1u << 8,
    kCGBitmapByteOrderMask = 0x7000,
    kCGBitmapByteOrderDefault = 0,
    kCGBitmapByteOrder16Little = 1u << 12,
    kCGBitmapByteOrder32Little = 2u << 12,
    kCGBitmapByteOrder16Big = 3u << 12,
    kCGBitmapByteOrder32Big = 4u << 12,
};

using CGColorRenderingIntent = int32_t;
constexpr CGColorRenderingIntent kCGRenderingIntentDefault = 0;

using CGColorSpaceModel = int32_t;
enum : CGColorSpaceModel {
    kCGColorSpaceModelUnknown = -1,
    kCGColorSpaceModelMonochrome = 0,
    kCGColorSpaceModelRGB = 1,
    kCGColorSpaceModelCMYK = 2,
};

// Names of the generic colour spaces.
extern const CFStringRef kCGColorSpaceGenericRGB;
extern const CFStringRef kCGColorSpaceGenericGray;
extern const CFStringRef kCGColorSpaceGenericCMYK;

CFTypeID CGColorSpaceGetTypeID();
CFTypeID CGDataProviderGetTypeID();
CFTypeID CGImageGetTypeID();
CFTypeID CGContextGetTypeID();

// Colour spaces. An unknown name gives null.
CGColorSpaceRef CGColorSpaceCreateWithName(CFStringRef name);
CGColorSpaceRef CGColorSpaceCreateDeviceRGB();
CGColorSpaceRef CGColorSpaceCreateDeviceGray();
CGColorSpaceRef CGColorSpaceCreateDeviceCMYK();
CGColorSpaceRef CGColorSpaceRetain(CGColorSpaceRef space);
void CGColorSpaceRelease(CGColorSpaceRef space);
size_t CGColorSpaceGetNumberOfComponents(CGColorSpaceRef space);
CGColorSpaceModel CGColorSpaceGetModel(CGColorSpaceRef space);
// The name of a named space (retained for the caller), null for a device space.
CFStringRef CGColorSpaceCopyName(CGColorSpaceRef space);

// Data providers over the caller's bytes; `releaseData` is called once when the provider goes.
using CGDataProviderReleaseDataCallback = void (*)(void* info, const void* data, size_t size);
CGDataProviderRef CGDataProviderCreateWithData(void* info, const void* data, size_t size,
                                               CGDataProviderReleaseDataCallback releaseData);
CGDataProviderRef CGDataProviderRetain(CGDataProviderRef provider);
void CGDataProviderRelease(CGDataProviderRef provider);
// A copy of the provider's bytes (the caller releases it).
CFDataRef CGDataProviderCopyData(CGDataProviderRef provider);

// Images. The image retains the colour space and the provider. Null unless the width and height
// are positive, the bits per component are 1, 2, 4, 5, 8, 16 or 32, the bits per pixel hold the
// space's components and the alpha (5 bits per component: exactly 16 bits a pixel), the rows
// hold a pixel row, and the provider holds every row.
CGImageRef CGImageCreate(size_t width, size_t height, size_t bitsPerComponent, size_t bitsPerPixel,
                         size_t bytesPerRow, CGColorSpaceRef space, CGBitmapInfo bitmapInfo,
                         CGDataProviderRef provider, const CGFloat* decode, bool shouldInterpolate,
                         CGColorRenderingIntent intent);
CGImageRef CGImageRetain(CGImageRef image);
void CGImageRelease(CGImageRef image);
size_t CGImageGetWidth(CGImageRef image);
size_t CGImageGetHeight(CGImageRef image);
size_t CGImageGetBitsPerComponent(CGImageRef image);
size_t CGImageGetBitsPerPixel(CGImageRef image);
size_t CGImageGetBytesPerRow(CGImageRef image);
CGColorSpaceRef CGImageGetColorSpace(CGImageRef image);
CGBitmapInfo CGImageGetBitmapInfo(CGImageRef image);
CGImageAlphaInfo CGImageGetAlphaInfo(CGImageRef image);
CGDataProviderRef CGImageGetDataProvider(CGImageRef image);
// Two values a component, or null when the image has no decode array.
const CGFloat* CGImageGetDecode(CGImageRef image);
bool CGImageGetShouldInterpolate(CGImageRef image);

// Bitmap contexts: over the caller's pixels, or over their own (zeroed) when `data` is null and
// then a bytesPerRow of 0 picks the row length. The bits per pixel follow from the space, the
// alpha and the bits per component (5 bits per component: 16 bits a pixel). Null for rows too
// short or a bad combination.
using CGBitmapContextReleaseDataCallback = void (*)(void* releaseInfo, void* data);
CGContextRef CGBitmapContextCreate(void* data, size_t width, size_t height, size_t bitsPerComponent,
                                   size_t bytesPerRow, CGColorSpaceRef space, CGBitmapInfo bitmapInfo);
// The same; `releaseCallback` is called once with the data when the context goes.
CGContextRef CGBitmapContextCreateWithData(void* data, size_t width, size_t height, size_t bitsPerComponent,
                                           size_t bytesPerRow, CGColorSpaceRef space, CGBitmapInfo bitmapInfo,
                                           CGBitmapContextReleaseDataCallback releaseCallback,
                                           void* releaseInfo);
CGContextRef CGContextRetain(CGContextRef context);
void CGContextRelease(CGContextRef context);
void* CGBitmapContextGetData(CGContextRef context);
size_t CGBitmapContextGetWidth(CGContextRef context);
size_t CGBitmapContextGetHeight(CGContextRef context);
size_t CGBitmapContextGetBitsPerComponent(CGContextRef context);
size_t CGBitmapContextGetBitsPerPixel(CGContextRef context);
size_t CGBitmapContextGetBytesPerRow(CGContextRef context);
CGColorSpaceRef CGBitmapContextGetColorSpace(CGContextRef context);
CGBitmapInfo CGBitmapContextGetBitmapInfo(CGContextRef context);
CGImageAlphaInfo CGBitmapContextGetAlphaInfo(CGContextRef context);

// A bitmap context over an offscreen world's pixels, for formats a bitmap context can hold
// (cDepthErr for others; paramErr for an unknown port, a null result pointer, or a port whose
// context is already open). The port keeps the context until QDEndCGContext, which takes the
// same context back and sets it null.
OSStatus QDBeginCGContext(CGrafPtr port, CGContextRef* context);
OSStatus QDEndCGContext(CGrafPtr port, CGContextRef* context);

// Drawing into bitmap contexts of the layouts that cgImageToPicture reads (below): a fill colour
// (black by default), rectangles filled with it, and images drawn into a rectangle. Coordinates
// are the context's user space, origin at the bottom left, one unit a pixel; a pixel is drawn
// when its centre lies in the rectangle, an image is scaled to the rectangle nearest neighbour and
// stands upright, and colours are laid over what is there by their alpha ("source over").
// Contexts of other layouts, and images that cannot be read, draw nothing.
void CGContextSetRGBFillColor(CGContextRef context, CGFloat red, CGFloat green, CGFloat blue, CGFloat alpha);
void CGContextFillRect(CGContextRef context, CGRect rect);
void CGContextDrawImage(CGContextRef context, CGRect rect, CGImageRef image);
// A new image of a copy of the context's pixels (the caller releases it); null for a bad context.
CGImageRef CGBitmapContextCreateImage(CGContextRef context);

namespace platform {

// The pixels of an image or a bitmap context as a picture of 8-bit samples: grey images (8 bits a
// pixel, no alpha) give 1 component; RGB images give 3 (no alpha, 24 bits a pixel, or alpha
// skipped, 32 bits) or 4 (alpha first or last, 32 bits), alpha last in the picture and
// premultiplied colours divided back by their alpha. The 32-bit little-endian byte order reverses
// the four bytes of a pixel. paramErr for a null or foreign object; cDepthErr for any other
// layout (components other than 8 bits, floats, 16-bit byte orders, alpha-only or CMYK pixels,
// an image with a decode array other than the identity); codecSizeErr for a picture beyond the
// engines' limits.
OSErr cgImageToPicture(CGImageRef image, codec::Picture& out);
OSErr cgBitmapContextToPicture(CGContextRef context, codec::Picture& out);

} // namespace platform
