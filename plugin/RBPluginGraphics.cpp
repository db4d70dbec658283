#include "RBPluginGraphics.h"

#include "KelvoCoreGraphics.h"
#include "KelvoGraphicsDisplay.h"
#include "KelvoVideo.h"
#include "PlatformGeometry.h"
#include "PlatformPictures.h"
#include "PlatformPixelFormats.h"
#include "PlatformRegions.h"

#include <limits>
#include <memory>
#include <new>
#include <vector>

namespace {

constexpr OSErr kBadArgument = paramErr;
constexpr OSErr kNoMemory = memFullErr;

// The bitmap layout of a host surface: bytes A, R, G, B, the alpha byte not read (host pictures
// are opaque).
constexpr CGBitmapInfo kSurfaceBitmapInfo = kCGImageAlphaNoneSkipFirst | kCGBitmapByteOrder32Big;

bool describe(REALobject picture, REALPictureDescription& description) {
    description = REALPictureDescription{};
    if (!picture || !REALGetPictureDescription(picture, &description)) return false;
    const REALGraphicsSurface& s = description.surface;
    return s.pixels && s.width > 0 && s.height > 0 && s.pixelFormat == kREALSurfaceFormatARGB32 &&
           s.rowBytes >= s.width * 4;
}

// A bitmap context of this plug-in over a surface's pixels (the caller releases it).
CGContextRef contextOverSurface(const REALGraphicsSurface& s) {
    CGColorSpaceRef space = CGColorSpaceCreateDeviceRGB();
    CGContextRef context = CGBitmapContextCreate(s.pixels, size_t(s.width), size_t(s.height), 8,
                                                 size_t(s.rowBytes), space, kSurfaceBitmapInfo);
    CGColorSpaceRelease(space);
    return context;
}

// An offscreen world of this plug-in over a surface's pixels (the caller disposes it; the
// pixels stay the host's).
GWorldPtr worldOverSurface(const REALGraphicsSurface& s) {
    if (s.width > std::numeric_limits<int16_t>::max() || s.height > std::numeric_limits<int16_t>::max())
        return nullptr;
    Rect bounds;
    SetRect(&bounds, 0, 0, int16_t(s.width), int16_t(s.height));
    GWorldPtr world = nullptr;
    if (QTNewGWorldFromPtr(&world, k32ARGBPixelFormat, &bounds, nullptr, nullptr, 0, s.pixels, s.rowBytes) != noErr)
        return nullptr;
    return world;
}

CGRect wholeSurface(const REALGraphicsSurface& s) {
    return CGRectMake(0, 0, CGFloat(s.width), CGFloat(s.height));
}

// Draws the image over the whole surface: through a QuickDraw world for a QuickDraw picture,
// straight into a bitmap context for a context picture.
bool drawImageInto(const REALPictureDescription& description, CGImageRef image) {
    const REALGraphicsSurface& s = description.surface;
    if (description.type == kREALPictureDescriptionQuickDraw) {
        GWorldPtr world = worldOverSurface(s);
        if (!world) return false;
        CGContextRef context = nullptr;
        bool ok = QDBeginCGContext(world, &context) == noErr && context;
        if (ok) {
            CGContextDrawImage(context, wholeSurface(s), image);
            QDEndCGContext(world, &context);
        }
        DisposeGWorld(world);
        return ok;
    }
    if (description.type != kREALPictureDescriptionCGContext) return false;
    CGContextRef context = contextOverSurface(s);
    if (!context) return false;
    CGContextDrawImage(context, wholeSurface(s), image);
    CGContextRelease(context);
    return true;
}

bool validRect(const Rect* r) {
    return r && r->right > r->left && r->bottom > r->top;
}

// The rectangle of a picture of the size, at the origin.
Rect pictureFrame(int32_t width, int32_t height) {
    Rect r{};
    if (width > 0 && height > 0 && width <= std::numeric_limits<int16_t>::max() &&
        height <= std::numeric_limits<int16_t>::max())
        SetRect(&r, 0, 0, int16_t(width), int16_t(height));
    return r;
}

template <class T> T handlePointer(REALobject object, const char* property) {
    RBInteger handle = 0;
    if (!object || !REALGetPropValue(object, property, &handle) || !handle) return nullptr;
    return static_cast<T>(REALHandlePointer(handle));
}

// A new instance of a host class looked up once.
REALobject newCachedInstance(REALclassRef& cached, const char* className) {
    if (!cached) cached = REALGetClassRef(className);
    return cached ? REALnewInstance(cached) : nullptr;
}

// Sets the handle a new host object holds to the pointer; the object is released on failure.
REALobject holdPointer(REALobject object, const char* property, void* pointer) {
    RBInteger handle = 0;
    if (!object) return nullptr;
    if (!REALGetPropValue(object, property, &handle) || !REALSetHandlePointer(handle, pointer)) {
        REALUnlockObject(object);
        return nullptr;
    }
    return object;
}

RBPictureRoutes& routes() {
    static RBPictureRoutes installed{};
    return installed;
}

} // namespace

void RBInstallPictureRoutes(const RBPictureRoutes& r) {
    routes() = r;
}

// ---- Host SDK calls made in this plug-in's platform copy ----

CGImage* REALCopyPictureCGImage(REALobject picture) {
    REALPictureDescription description;
    if (!describe(picture, description)) return nullptr;
    CGContextRef context = contextOverSurface(description.surface);
    if (!context) return nullptr;
    CGImageRef image = CGBitmapContextCreateImage(context);
    CGContextRelease(context);
    return image;
}

RBBoolean REALDrawPicturePrimitive(REALobject picture, const Rect* rect, RBBoolean) {
    REALPictureDescription description;
    if (!validRect(rect) || !describe(picture, description)) return 0;
    CGrafPtr port = nullptr;
    GDHandle device = nullptr;
    GetGWorld(&port, &device);
    if (!port) return 0;
    GWorldPtr source = worldOverSurface(description.surface);
    if (!source) return 0;
    Rect sourceBounds;
    GetPortBounds(source, &sourceBounds);
    OSErr err = CopyBits(GetPortBitMapForCopyBits(source), GetPortBitMapForCopyBits(port), &sourceBounds, rect,
                         srcCopy, nullptr);
    DisposeGWorld(source);
    // The world over the picture was made while drawing; the caller's port stays current.
    SetGWorld(port, device);
    return err == noErr ? 1 : 0;
}

REALobject REALBuildPictureFromGWorld(OpaqueGrafPort* world, RBBoolean dispose) {
    REALobject picture = nullptr;
    Rect bounds{};
    if (world && platform::isGWorld(world) && validRect(GetPortBounds(world, &bounds))) {
        const int32_t width = bounds.right - bounds.left, height = bounds.bottom - bounds.top;
        std::vector<uint8_t> pixels;
        pixels.resize(size_t(width) * 4 * size_t(height));
        REALPictureDescription description{};
        description.type = kREALPictureDescriptionQuickDraw;
        description.surface = REALGraphicsSurface{width, height, width * 4, 32, kREALSurfaceFormatARGB32,
                                                  pixels.data()};
        if (GWorldPtr copy = worldOverSurface(description.surface)) {
            Rect target = pictureFrame(width, height);
            if (CopyBits(GetPortBitMapForCopyBits(world), GetPortBitMapForCopyBits(copy), &bounds, &target,
                         srcCopy, nullptr) == noErr)
                picture = REALBuildPictureFromPictureDescription(&description);
            DisposeGWorld(copy);
        }
    }
    if (dispose && world) DisposeGWorld(world);
    return picture;
}

// ---- Pictures and graphics ----

REALobject RBPictureCreate(int32_t width, int32_t height, int32_t depth) {
    if (routes().create) return routes().create(width, height, depth);
    static REALclassRef pictureClass = nullptr;
    REALobject picture = newCachedInstance(pictureClass, "Picture");
    if (!picture) return nullptr;
    bool built = false;
    if (depth == 32) {
        using Constructor = void (*)(REALobject, RBInteger, RBInteger);
        auto constructor =
            reinterpret_cast<Constructor>(REALLoadObjectMethod(picture, "Constructor(w as Integer,h as integer)"));
        if (constructor) {
            constructor(picture, width, height);
            built = true;
        }
    } else {
        using Constructor = void (*)(REALobject, RBInteger, RBInteger, RBInteger);
        auto constructor = reinterpret_cast<Constructor>(
            REALLoadObjectMethod(picture, "Constructor(w as Integer,h as integer,depth as integer)"));
        if (constructor) {
            constructor(picture, width, height, depth);
            built = true;
        }
    }
    // A picture the host refused to give pixels is no picture.
    REALPictureDescription description;
    if (!built || !describe(picture, description)) {
        REALUnlockObject(picture);
        return nullptr;
    }
    return picture;
}

RBInteger RBPictureGraphicsHandle(REALobject picture) {
    REALobject graphics = nullptr;
    if (!picture || !REALGetPropValue(picture, "graphics", &graphics) || !graphics) return 0;
    using Handle = RBInteger (*)(REALobject, RBInteger);
    auto handle = reinterpret_cast<Handle>(REALLoadObjectMethod(graphics, "Handle(Type as Integer) as Integer"));
    RBInteger value = handle ? handle(graphics, kREALGraphicsHandleContext) : 0;
    REALUnlockObject(graphics);
    return value;
}

CGContextRef RBPictureToCGContext(REALobject picture) {
    RBInteger handle = RBPictureGraphicsHandle(picture);
    auto* surface = handle ? static_cast<REALGraphicsSurface*>(REALHandlePointer(handle)) : nullptr;
    if (!surface || surface->pixelFormat != kREALSurfaceFormatARGB32 || !surface->pixels) return nullptr;
    return contextOverSurface(*surface);
}

CGImageRef RBPictureToCGImage(REALobject picture) {
    if (routes().toCGImage) return routes().toCGImage(picture);
    return REALCopyPictureCGImage(picture);
}

REALobject CGContextToRBPicture(CGContextRef context) {
    if (!context) return nullptr;
    const size_t width = CGBitmapContextGetWidth(context), height = CGBitmapContextGetHeight(context);
    if (!width || !height || width > size_t(std::numeric_limits<int16_t>::max()) ||
        height > size_t(std::numeric_limits<int16_t>::max()))
        return nullptr;
    // The context's pixels as the host reads them: 32-bit ARGB rows, drawn from its image.
    CGImageRef image = CGBitmapContextCreateImage(context);
    if (!image) return nullptr;
    REALPictureDescription description{};
    description.type = kREALPictureDescriptionCGContext;
    std::vector<uint8_t> pixels(width * 4 * height, 0xFF);
    description.surface = REALGraphicsSurface{int32_t(width), int32_t(height), int32_t(width * 4), 32,
                                              kREALSurfaceFormatARGB32, pixels.data()};
    REALobject picture = nullptr;
    if (drawImageInto(description, image)) picture = REALBuildPictureFromPictureDescription(&description);
    CGImageRelease(image);
    return picture;
}

REALobject CGImageToRBPicture(CGImageRef image) {
    if (!image) return nullptr;
    const size_t width = CGImageGetWidth(image), height = CGImageGetHeight(image);
    if (width > size_t(std::numeric_limits<int32_t>::max()) || height > size_t(std::numeric_limits<int32_t>::max()))
        return nullptr;
    REALobject picture = RBPictureCreate(int32_t(width), int32_t(height), int32_t(CGImageGetBitsPerPixel(image)));
    REALPictureDescription description;
    if (!picture || !describe(picture, description) || !drawImageInto(description, image)) {
        if (picture) REALUnlockObject(picture);
        return nullptr;
    }
    return picture;
}

REALobject RBPictureFromGWorld(GWorldPtr gworld, bool dispose) {
    if (routes().fromGWorld) return routes().fromGWorld(gworld, dispose);
    REALobject picture = nullptr;
    CGContextRef context = nullptr;
    if (gworld && QDBeginCGContext(gworld, &context) == noErr && context) {
        CGImageRef image = CGBitmapContextCreateImage(context);
        QDEndCGContext(gworld, &context);
        if (image) {
            picture = CGImageToRBPicture(image);
            CGImageRelease(image);
        }
    }
    if (dispose && gworld) DisposeGWorld(gworld);
    return picture;
}

void RBUtils_GetPictDimensions(REALobject picture, int32_t& width, int32_t& height) {
    width = height = 0;
    REALPictureDescription description;
    if (!describe(picture, description)) return;
    width = description.surface.width;
    height = description.surface.height;
}

OSErr RBUtils_DrawRBPicture(REALobject picture, GWorldPtr gworld, const Rect* rect, PicHandle* pict) {
    if (pict) *pict = nullptr;
    if (!picture || !gworld || !platform::isGWorld(gworld) || !validRect(rect)) return kBadArgument;
    CGrafPtr savedPort = nullptr;
    GDHandle savedDevice = nullptr;
    GetGWorld(&savedPort, &savedDevice);
    SetGWorld(gworld, nullptr);
    PicHandle recording = nullptr;
    OSErr err = noErr;
    if (pict) {
        recording = OpenPicture(rect);
        if (!recording) err = QDError() ? QDError() : kNoMemory;
    }
    if (err == noErr && !REALDrawPicturePrimitive(picture, rect, 0)) err = kBadArgument;
    if (recording) {
        ClosePicture();
        if (err == noErr)
            *pict = recording;
        else
            KillPicture(recording);
    }
    SetGWorld(savedPort, savedDevice);
    return err;
}

OSErr RBQTUtils_DrawPictInGWorld1(REALobject picture, GWorldPtr gworld) {
    if (!picture || !gworld || !platform::isGWorld(gworld)) return kBadArgument;
    Rect bounds{};
    if (!validRect(GetPortBounds(gworld, &bounds))) return kBadArgument;
    return RBUtils_DrawRBPicture(picture, gworld, &bounds, nullptr);
}

OSErr RBUtils_NewGWorldForRBPicture(REALobject picture, GWorldPtr* gworld, const Rect* rect, Rect* bounds) {
    if (gworld) *gworld = nullptr;
    if (!gworld) return kBadArgument;
    int32_t width = 0, height = 0;
    RBUtils_GetPictDimensions(picture, width, height);
    if (!width || !height) return kBadArgument;
    Rect frame = rect ? *rect : pictureFrame(width, height);
    if (!validRect(&frame)) return kBadArgument;
    GWorldPtr world = nullptr;
    OSErr err = QTNewGWorld(&world, k32ARGBPixelFormat, &frame, nullptr, nullptr, 0);
    if (err != noErr) return err;
    if (!LockPixels(GetGWorldPixMap(world))) {
        err = QDError() ? QDError() : kBadArgument;
        DisposeGWorld(world);
        return err;
    }
    *gworld = world;
    if (bounds) *bounds = frame;
    return noErr;
}

OSErr RBQTUtils_DrawPictInGWorld(REALobject picture, GWorldPtr* gworld, const Rect* rect) {
    Rect bounds{};
    OSErr err = RBUtils_NewGWorldForRBPicture(picture, gworld, rect, &bounds);
    if (err != noErr) return err;
    err = RBUtils_DrawRBPicture(picture, *gworld, &bounds, nullptr);
    if (err != noErr) {
        DisposeGWorld(*gworld);
        *gworld = nullptr;
    }
    return err;
}

OSErr RBQTUtils_DrawPicHandle(REALobject picture, PicHandle* pict, const Rect* rect) {
    if (pict) *pict = nullptr;
    if (!pict) return kBadArgument;
    GWorldPtr world = nullptr;
    Rect bounds{};
    OSErr err = RBUtils_NewGWorldForRBPicture(picture, &world, rect, &bounds);
    if (err != noErr) return err;
    err = RBUtils_DrawRBPicture(picture, world, &bounds, pict);
    DisposeGWorld(world);
    if (err == noErr && !*pict) err = kNoMemory;
    return err;
}

OSErr RBQTUtils_RBPicToQDContext(REALobject picture, Kelvo_QDGWorldBuffer*& buffer, const Rect* size) {
    buffer = nullptr;
    int32_t width = 0, height = 0;
    RBUtils_GetPictDimensions(picture, width, height);
    if (!width || !height) return kBadArgument;
    if (size) {
        if (!validRect(size)) return kBadArgument;
        width = size->right - size->left;
        height = size->bottom - size->top;
    }
    auto* made = new (std::nothrow) Kelvo_QDGWorldBuffer(width, height, k32ARGBPixelFormat);
    if (!made) return kNoMemory;
    OSErr err = made->qtObjIsValid() && made->buffer() ? OSErr(0) : OSErr(made->Error() ? made->Error() : kNoMemory);
    if (err == noErr) err = RBQTUtils_DrawPictInGWorld1(picture, made->buffer());
    if (err != noErr) {
        delete made;
        return err;
    }
    buffer = made;
    return noErr;
}

REALobject RBQTUtils_RBPicFromQTPicture(PicHandle pict, const Rect* rect) {
    Rect frame{};
    if (!pict || QDGetPictureBounds(pict, &frame) != noErr || !validRect(&frame)) return nullptr;
    Rect target = rect ? *rect : frame;
    if (!validRect(&target)) return nullptr;
    Kelvo_DisplayTransform transform{Kelvo_Rect(frame), Kelvo_Rect(target)};
    Rect destination = *transform.DstRect();
    // The world is the destination's size with its origin at the destination's corner.
    GWorldPtr world = nullptr;
    if (QTNewGWorld(&world, k32ARGBPixelFormat, &destination, nullptr, nullptr, 0) != noErr) return nullptr;
    CGrafPtr savedPort = nullptr;
    GDHandle savedDevice = nullptr;
    GetGWorld(&savedPort, &savedDevice);
    SetGWorld(world, nullptr);
    EraseRect(&destination);
    DrawPicture(pict, &destination);
    SetGWorld(savedPort, savedDevice);
    return RBPictureFromGWorld(world, true);
}

// ---- Movies, windows and controls ----

MovieController FenraRBMoviePlayerToMovieController(REALobject player) {
    return handlePointer<MovieController>(player, "QTMovieController");
}

REALobject FenraMovieControllerToRBMoviePlayer(MovieController controller) {
    if (!controller) return nullptr;
    static REALclassRef playerClass = nullptr;
    return holdPointer(newCachedInstance(playerClass, "MoviePlayer"), "QTMovieController", controller);
}

Movie FenraRBMovieToMovie(REALobject movie) {
    return handlePointer<Movie>(movie, "Handle");
}

REALobject FenraMovieToRBMovie(Movie movie) {
    if (!movie) return nullptr;
    static REALclassRef movieClass = nullptr;
    REALobject object = newCachedInstance(movieClass, "Movie");
    if (!object) return nullptr;
    REALSetMovieMovie(object, movie);
    if (FenraRBMovieToMovie(object) != movie) {
        REALUnlockObject(object);
        return nullptr;
    }
    return object;
}

REALGraphicsSurface* RBWindowToNativeWindow(REALobject window) {
    return handlePointer<REALGraphicsSurface*>(window, "Handle");
}

void FenraRBControlBounds(REALobject control, Rect* rect) {
    if (!rect) return;
    *rect = Rect{};
    if (!control) return;
    RBInteger left = 0, top = 0, width = 0, height = 0;
    REALGetPropValue(control, "left", &left);
    REALGetPropValue(control, "top", &top);
    REALGetPropValue(control, "width", &width);
    REALGetPropValue(control, "height", &height);
    // A rectangle that cannot hold the edges is refused (left zeroed) rather than wrapped elsewhere.
    const int64_t right = int64_t(left) + width, bottom = int64_t(top) + height;
    auto fits = [](int64_t v) {
        return v >= std::numeric_limits<int16_t>::min() && v <= std::numeric_limits<int16_t>::max();
    };
    if (!fits(left) || !fits(top) || !fits(right) || !fits(bottom)) return;
    SetRect(rect, int16_t(left), int16_t(top), int16_t(right), int16_t(bottom));
}
