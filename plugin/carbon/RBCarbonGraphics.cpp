#include "RBCarbonGraphics.h"

#include "PlatformGeometry.h"
#include "PlatformPixelFormats.h"

#include <limits>

namespace {

constexpr CGBitmapInfo kSurfaceBitmapInfo = kCGImageAlphaNoneSkipFirst | kCGBitmapByteOrder32Big;

bool readableSurface(const REALGraphicsSurface& s) {
    return s.pixels && s.width > 0 && s.height > 0 && s.width <= std::numeric_limits<int16_t>::max() &&
           s.height <= std::numeric_limits<int16_t>::max() && s.pixelFormat == kREALSurfaceFormatARGB32 &&
           s.rowBytes >= s.width * 4;
}

CGImageRef imageOfContext(CGContextRef context) {
    return context ? CGBitmapContextCreateImage(context) : nullptr;
}

// The image of a world's pixels through the bitmap context the platform opens over them.
CGImageRef imageOfWorld(GWorldPtr world) {
    CGContextRef context = nullptr;
    if (!world || QDBeginCGContext(world, &context) != noErr || !context) return nullptr;
    CGImageRef image = CGBitmapContextCreateImage(context);
    QDEndCGContext(world, &context);
    return image;
}

const bool kInstalled = [] {
    RBInstallPictureRoutes(
        RBPictureRoutes{&tarnwick::RBPictureCreate, &tarnwick::RBPictureToCGImage, &tarnwick::RBPictureFromGWorld});
    return true;
}();

} // namespace

namespace tarnwick {

REALobject RBPictureCreate(int32_t width, int32_t height, int32_t depth) {
    static REALclassRef pictureClass = nullptr;
    if (!pictureClass) pictureClass = REALGetClassRef("Picture");
    REALobject picture = pictureClass ? REALnewInstance(pictureClass) : nullptr;
    if (!picture) return nullptr;
    using Constructor = void (*)(REALobject, RBInteger, RBInteger, RBInteger);
    auto constructor = reinterpret_cast<Constructor>(
        REALLoadObjectMethod(picture, "Constructor(w as Integer,h as integer,depth as integer)"));
    REALPictureDescription description{};
    if (constructor) constructor(picture, width, height, depth);
    if (!constructor || !REALGetPictureDescription(picture, &description) || !readableSurface(description.surface)) {
        REALUnlockObject(picture);
        return nullptr;
    }
    return picture;
}

CGImageRef RBPictureToCGImage(REALobject picture) {
    REALPictureDescription description{};
    if (!picture || !REALGetPictureDescription(picture, &description) || !readableSurface(description.surface))
        return nullptr;
    const REALGraphicsSurface& s = description.surface;
    if (description.type == kREALPictureDescriptionQuickDraw) {
        Rect bounds;
        SetRect(&bounds, 0, 0, int16_t(s.width), int16_t(s.height));
        GWorldPtr world = nullptr;
        if (QTNewGWorldFromPtr(&world, k32ARGBPixelFormat, &bounds, nullptr, nullptr, 0, s.pixels, s.rowBytes) != noErr)
            return nullptr;
        CGImageRef image = imageOfWorld(world);
        DisposeGWorld(world);
        return image;
    }
    if (description.type != kREALPictureDescriptionCGContext) return nullptr;
    CGColorSpaceRef space = CGColorSpaceCreateDeviceRGB();
    CGContextRef context = CGBitmapContextCreate(s.pixels, size_t(s.width), size_t(s.height), 8, size_t(s.rowBytes),
                                                 space, kSurfaceBitmapInfo);
    CGColorSpaceRelease(space);
    CGImageRef image = imageOfContext(context);
    if (context) CGContextRelease(context);
    return image;
}

REALobject RBPictureFromGWorld(GWorldPtr gworld, bool dispose) {
    if (!gworld) return nullptr;
    // The host's own call is asked to keep the world: the image route may still need it.
    REALobject picture = REALBuildPictureFromGWorld(gworld, 0);
    if (!picture) {
        if (CGImageRef image = imageOfWorld(gworld)) {
            picture = CGImageToRBPicture(image);
            CGImageRelease(image);
        }
    }
    if (dispose) DisposeGWorld(gworld);
    return picture;
}

bool pictureRoutesInstalled() {
    return kInstalled;
}

} // namespace tarnwick
