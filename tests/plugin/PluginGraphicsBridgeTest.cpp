// The binding's picture, movie, window and control conversions, linked into this program and
// entered as a plug-in of a host that also loaded the companion. The host's pictures and windows
// are its own pixel memory; what the plug-in draws reaches them through its own platform objects,
// and what the host saves as PNG is read back by PIL.
//
// Built twice: for the shared conversions with a host whose pictures are bitmap contexts, and with
// the Carbon build's picture routes (SYLMARK_CARBON_PICTURES) and a host whose pictures are
// QuickDraw drawings; the results are the same.
#include "HostObjects.h"
#include "HostRuntime.h"
#include "KelvoVideo.h"
#include "PlatformMovieControllers.h"
#include "PlatformMovies.h"
#include "PlatformPictures.h"
#include "PlatformPixelFormats.h"
#include "PythonPeer.h"
#include "RBPluginGraphics.h"
#include "TestFiles.h"

#ifndef SYLMARK_CARBON_PICTURES
#include "PluginScript.h"
#endif
#ifdef SYLMARK_CARBON_PICTURES
#include "RBCarbonGraphics.h"
// The same cases under their own names.
#define GraphicsBridge CarbonGraphicsBridge
#endif

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <sstream>
#include <vector>

extern "C" void REALPluginMain(REALresolver resolver);

using namespace sylhost;

namespace {

HostRuntime& host() {
    static HostRuntime* h = [] {
        auto* runtime = new HostRuntime();
        std::string error;
        EXPECT_GE(runtime->loadPlugin(FENRA_BASE_PLUGIN, error), 0) << error;
        EXPECT_EQ(runtime->loadLinkedPlugin("linked", &REALPluginMain), 1);
#ifdef SYLMARK_CARBON_PICTURES
        setPictureDescriptionType(kREALPictureDescriptionQuickDraw);
#endif
        return runtime;
    }();
    return *h;
}

// The plug-in's functions run as they would inside a call from the host; every test leaves as
// many host objects and strings alive as it found.
class GraphicsBridge : public ::testing::Test {
  protected:
    void SetUp() override {
        scope = std::make_unique<HostRuntime::Scope>(&host());
        objects = host().liveObjects();
        strings = host().liveStrings();
    }
    void TearDown() override {
        EXPECT_EQ(host().liveObjects(), objects);
        EXPECT_EQ(host().liveStrings(), strings);
        scope.reset();
    }
    std::unique_ptr<HostRuntime::Scope> scope;
    size_t objects = 0, strings = 0;
};

struct RGB {
    uint8_t r, g, b;
    bool operator==(const RGB&) const = default;
};

std::ostream& operator<<(std::ostream& os, const RGB& c) {
    return os << "(" << int(c.r) << "," << int(c.g) << "," << int(c.b) << ")";
}

using Pixels = std::vector<RGB>;

// A 32-bit world of the size filled by `colour(x, y)` (alpha 255).
template <class F> GWorldPtr patternWorld(int16_t width, int16_t height, F colour) {
    Rect bounds{0, 0, height, width};
    GWorldPtr world = nullptr;
    EXPECT_EQ(QTNewGWorld(&world, k32ARGBPixelFormat, &bounds, nullptr, nullptr, 0), noErr);
    PixMapHandle pm = GetGWorldPixMap(world);
    LockPixels(pm);
    auto* base = reinterpret_cast<uint8_t*>(GetPixBaseAddr(pm));
    const int32_t rowBytes = GetPixRowBytes(pm);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            RGB c = colour(x, y);
            uint8_t* p = base + y * rowBytes + 4 * x;
            p[0] = 255, p[1] = c.r, p[2] = c.g, p[3] = c.b;
        }
    return world;
}

Pixels worldPixels(GWorldPtr world) {
    Rect bounds;
    GetPortBounds(world, &bounds);
    PixMapHandle pm = GetGWorldPixMap(world);
    const auto* base = reinterpret_cast<const uint8_t*>(GetPixBaseAddr(pm));
    const int32_t rowBytes = GetPixRowBytes(pm);
    Pixels out;
    for (int y = 0; y < bounds.bottom - bounds.top; ++y)
        for (int x = 0; x < bounds.right - bounds.left; ++x) {
            const uint8_t* p = base + y * rowBytes + 4 * x;
            out.push_back(RGB{p[1], p[2], p[3]});
        }
    return out;
}

// The pixels of an image, read back through the platform's own reader of images.
Pixels imagePixels(CGImageRef image) {
    platform::codec::Picture picture;
    EXPECT_EQ(platform::cgImageToPicture(image, picture), noErr);
    Pixels out;
    const int n = picture.components;
    for (size_t i = 0; i + size_t(n) <= picture.samples.size(); i += size_t(n))
        out.push_back(RGB{picture.samples[i], picture.samples[i + 1], picture.samples[i + 2]});
    return out;
}

Pixels picturePixels(REALobject picture) {
    CGImageRef image = RBPictureToCGImage(picture);
    EXPECT_TRUE(image);
    if (!image) return {};
    Pixels out = imagePixels(image);
    CGImageRelease(image);
    return out;
}

// The expected pixels of `colour` over a size.
template <class F> Pixels expected(int width, int height, F colour) {
    Pixels out;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            out.push_back(colour(x, y));
    return out;
}

RGB gradient(int x, int y) {
    return RGB{uint8_t(10 + 30 * x), uint8_t(200 - 25 * y), uint8_t(7 * x + 11 * y)};
}

// A 2 x 2 picture of four colours, for the scaling cases.
const RGB kQuadrants[4] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {250, 250, 0}};
RGB quadrant(int x, int y, int width, int height) {
    return kQuadrants[(y * 2 >= height ? 2 : 0) + (x * 2 >= width ? 1 : 0)];
}

REALobject quadrantPicture() {
    GWorldPtr world = patternWorld(2, 2, [](int x, int y) { return quadrant(x, y, 2, 2); });
    return RBPictureFromGWorld(world, true);
}

// The PIL peer: the PNG's size and its RGB pixels as hexadecimal triples.
const char* kReadPngPeer = R"(
import sys
from PIL import Image
im = Image.open(sys.argv[1]).convert('RGB')
w, h = im.size
print(w, h)
print(' '.join('%02x%02x%02x' % im.getpixel((x, y)) for y in range(h) for x in range(w)))
)";

std::string describePixels(int width, int height, const Pixels& pixels) {
    std::ostringstream out;
    out << width << " " << height << "\n";
    char hex[8];
    for (size_t i = 0; i < pixels.size(); ++i) {
        std::snprintf(hex, sizeof hex, "%02x%02x%02x", pixels[i].r, pixels[i].g, pixels[i].b);
        out << (i ? " " : "") << hex;
    }
    out << "\n";
    return out.str();
}

// Saves a host picture or window through its "Save" method and reads the PNG back with PIL.
std::string savedByTheHost(const testsupport::ScratchDir& dir, const Value& object) {
    const std::string path = dir.file("saved.png");
    CallOutcome saved = host().callMethod(object, "Save", {host().newFolderItem(path)});
    EXPECT_TRUE(saved.ok) << saved.error;
    EXPECT_TRUE(saved.result.asBoolean());
    const std::string peer = testsupport::writePeerScript(dir, kReadPngPeer);
    return testsupport::run("/usr/bin/python3 " + peer + " " + path + " 2>&1");
}

Value adopt(REALobject object) {
    return Value::adoptObject(object);
}

} // namespace

TEST_F(GraphicsBridge, PictureFromAWorldHoldsTheWorldsPixelsAndSavesThemAsPNG) {
    testsupport::ScratchDir dir("graphics-bridge");
    GWorldPtr world = patternWorld(7, 5, gradient);
    const Pixels original = worldPixels(world);
    Value picture = adopt(RBPictureFromGWorld(world, true));
    ASSERT_FALSE(picture.isNil());
    EXPECT_EQ(picture.className(), "Picture");
    int32_t width = -1, height = -1;
    RBUtils_GetPictDimensions(picture.object(), width, height);
    EXPECT_EQ(width, 7);
    EXPECT_EQ(height, 5);
    EXPECT_EQ(picturePixels(picture.object()), original);
    EXPECT_EQ(savedByTheHost(dir, picture), describePixels(7, 5, original));
}

TEST_F(GraphicsBridge, PicturesAreMadeByTheHostsConstructors) {
    struct Case {
        int32_t width, height, depth;
        bool made;
    };
    const Case cases[] = {{10, 4, 32, true}, {10, 4, 8, true}, {3, 3, 24, true},
                          {0, 4, 32, false}, {4, -1, 8, false}, {4, 4, 7, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << "x" << c.depth);
        Value picture = adopt(RBPictureCreate(c.width, c.height, c.depth));
        ASSERT_EQ(!picture.isNil(), c.made);
        if (!c.made) continue;
        EXPECT_EQ(host().getProperty(picture, "Depth").asInteger(), c.depth);
        int32_t width = 0, height = 0;
        RBUtils_GetPictDimensions(picture.object(), width, height);
        EXPECT_EQ(width, c.width);
        EXPECT_EQ(height, c.height);
        // A new picture is opaque white.
        EXPECT_EQ(picturePixels(picture.object()), Pixels(size_t(c.width * c.height), RGB{255, 255, 255}));
    }
}

TEST_F(GraphicsBridge, TheGraphicsHandleIsTheHostsNumberForThePicturesPixels) {
    RBInteger handle = 0;
    {
        Value picture = adopt(RBPictureCreate(6, 3, 32));
        ASSERT_FALSE(picture.isNil());
        handle = RBPictureGraphicsHandle(picture.object());
        ASSERT_NE(handle, 0);
        auto* surface = static_cast<REALGraphicsSurface*>(REALHandlePointer(handle));
        ASSERT_TRUE(surface);
        EXPECT_EQ(surface->width, 6);
        EXPECT_EQ(surface->height, 3);
        // Drawing through the context of this plug-in reaches the host's picture.
        CGContextRef context = RBPictureToCGContext(picture.object());
        ASSERT_TRUE(context);
        EXPECT_EQ(CGBitmapContextGetData(context), surface->pixels);
        CGContextSetRGBFillColor(context, 1.0, 0.0, 0.0, 1.0);
        CGContextFillRect(context, CGRectMake(0, 0, 3, 3));
        CGContextRelease(context);
        EXPECT_EQ(picturePixels(picture.object()),
                  expected(6, 3, [](int x, int) { return x < 3 ? RGB{255, 0, 0} : RGB{255, 255, 255}; }));
        // Only type 5 answers.
        Value graphics = host().getProperty(picture, "Graphics");
        CallOutcome other = host().callMethod(graphics, "Handle", {Value::integer(4)});
        ASSERT_TRUE(other.ok) << other.error;
        EXPECT_EQ(other.result.asInteger(), 0);
    }
    // The number of a picture that is gone stands for nothing.
    EXPECT_FALSE(REALHandlePointer(handle));
    EXPECT_FALSE(REALHandlePointer(0));
    EXPECT_FALSE(REALHandlePointer(5));
}

TEST_F(GraphicsBridge, ImagesAndContextsBecomePictures) {
    // A context of its own pixels, half filled.
    CGColorSpaceRef space = CGColorSpaceCreateDeviceRGB();
    CGContextRef context = CGBitmapContextCreate(nullptr, 4, 2, 8, 0, space, kCGImageAlphaPremultipliedFirst);
    CGColorSpaceRelease(space);
    ASSERT_TRUE(context);
    CGContextSetRGBFillColor(context, 0.0, 0.0, 1.0, 1.0);
    CGContextFillRect(context, CGRectMake(0, 0, 4, 2));
    CGContextSetRGBFillColor(context, 0.0, 1.0, 0.0, 1.0);
    CGContextFillRect(context, CGRectMake(2, 0, 2, 2));
    const Pixels drawn = expected(4, 2, [](int x, int) { return x < 2 ? RGB{0, 0, 255} : RGB{0, 255, 0}; });

    Value fromContext = adopt(CGContextToRBPicture(context));
    ASSERT_FALSE(fromContext.isNil());
    EXPECT_EQ(picturePixels(fromContext.object()), drawn);

    CGImageRef image = CGBitmapContextCreateImage(context);
    Value fromImage = adopt(CGImageToRBPicture(image));
    ASSERT_FALSE(fromImage.isNil());
    EXPECT_EQ(host().getProperty(fromImage, "Depth").asInteger(), 32);
    EXPECT_EQ(picturePixels(fromImage.object()), drawn);
    CGImageRelease(image);
    CGContextRelease(context);

    EXPECT_TRUE(adopt(CGContextToRBPicture(nullptr)).isNil());
    EXPECT_TRUE(adopt(CGImageToRBPicture(nullptr)).isNil());
    EXPECT_FALSE(RBPictureToCGImage(nullptr));
    EXPECT_FALSE(RBPictureToCGContext(nullptr));
    EXPECT_EQ(RBPictureGraphicsHandle(nullptr), 0);
    int32_t width = 9, height = 9;
    RBUtils_GetPictDimensions(nullptr, width, height);
    EXPECT_EQ(width, 0);
    EXPECT_EQ(height, 0);
}

TEST_F(GraphicsBridge, AWorldThatCannotBeReadGivesNilAndIsStillDisposedWhenAsked) {
    EXPECT_TRUE(adopt(RBPictureFromGWorld(nullptr, true)).isNil());
    // An indexed world has no bitmap context; the host's own call of the Carbon build reads it.
    Rect bounds{0, 0, 2, 2};
    GWorldPtr indexed = nullptr;
    ASSERT_EQ(NewGWorld(&indexed, 8, &bounds, nullptr, nullptr, 0), noErr);
#ifdef SYLMARK_CARBON_PICTURES
    EXPECT_FALSE(adopt(RBPictureFromGWorld(indexed, true)).isNil());
#else
    EXPECT_TRUE(adopt(RBPictureFromGWorld(indexed, true)).isNil());
#endif
    EXPECT_FALSE(platform::isGWorld(indexed));
    // Kept when not asked.
    GWorldPtr world = patternWorld(2, 2, gradient);
    Value picture = adopt(RBPictureFromGWorld(world, false));
    EXPECT_FALSE(picture.isNil());
    EXPECT_TRUE(platform::isGWorld(world));
    DisposeGWorld(world);
}

TEST_F(GraphicsBridge, PicturesDrawScaledIntoWorldsAndBuffers) {
    Value picture = adopt(quadrantPicture());
    ASSERT_FALSE(picture.isNil());
    auto scaled = [](int size) {
        return expected(size, size, [size](int x, int y) { return quadrant(x, y, size, size); });
    };

    // Onto the whole of a given world, which stays the caller's and not current.
    GWorldPtr world = patternWorld(4, 4, gradient);
    CGrafPtr before = nullptr;
    GDHandle device = nullptr;
    GetGWorld(&before, &device);
    EXPECT_EQ(RBQTUtils_DrawPictInGWorld1(picture.object(), world), noErr);
    EXPECT_EQ(worldPixels(world), scaled(4));
    CGrafPtr after = nullptr;
    GetGWorld(&after, &device);
    EXPECT_EQ(after, before);

    // Into a rectangle of it only.
    Rect corner{0, 0, 2, 2};
    DisposeGWorld(world);
    world = patternWorld(4, 4, gradient);
    EXPECT_EQ(RBUtils_DrawRBPicture(picture.object(), world, &corner, nullptr), noErr);
    EXPECT_EQ(worldPixels(world), expected(4, 4, [](int x, int y) {
                  return x < 2 && y < 2 ? quadrant(x, y, 2, 2) : gradient(x, y);
              }));
    DisposeGWorld(world);

    // A new world of the picture's size, or of a rectangle.
    GWorldPtr made = nullptr;
    EXPECT_EQ(RBQTUtils_DrawPictInGWorld(picture.object(), &made, nullptr), noErr);
    ASSERT_TRUE(made);
    EXPECT_EQ(worldPixels(made), scaled(2));
    EXPECT_TRUE(GetPixelsState(GetGWorldPixMap(made)) & pixelsLocked);
    DisposeGWorld(made);
    Rect six{0, 0, 6, 6};
    EXPECT_EQ(RBQTUtils_DrawPictInGWorld(picture.object(), &made, &six), noErr);
    ASSERT_TRUE(made);
    EXPECT_EQ(worldPixels(made), scaled(6));
    DisposeGWorld(made);

    // A toolkit buffer of the picture's size, or of a given one.
    Kelvo_QDGWorldBuffer* buffer = nullptr;
    EXPECT_EQ(RBQTUtils_RBPicToQDContext(picture.object(), buffer, nullptr), noErr);
    ASSERT_TRUE(buffer);
    EXPECT_EQ(buffer->bitsPerPixel(), 32);
    EXPECT_EQ(worldPixels(buffer->buffer()), scaled(2));
    delete buffer;
    Rect eight{0, 0, 8, 8};
    EXPECT_EQ(RBQTUtils_RBPicToQDContext(picture.object(), buffer, &eight), noErr);
    ASSERT_TRUE(buffer);
    EXPECT_EQ(worldPixels(buffer->buffer()), scaled(8));
    delete buffer;
}

TEST_F(GraphicsBridge, PicturesRecordIntoQuickDrawPicturesAndBack) {
    Value picture = adopt(quadrantPicture());
    ASSERT_FALSE(picture.isNil());
    PicHandle pict = nullptr;
    Rect four{0, 0, 4, 4};
    ASSERT_EQ(RBQTUtils_DrawPicHandle(picture.object(), &pict, &four), noErr);
    ASSERT_TRUE(pict);
    Rect frame{};
    EXPECT_EQ(QDGetPictureBounds(pict, &frame), noErr);
    EXPECT_EQ(frame.right, 4);
    EXPECT_EQ(frame.bottom, 4);

    // Replayed by the platform into a world, and turned back into a host picture.
    GWorldPtr world = patternWorld(4, 4, gradient);
    CGrafPtr port = nullptr;
    GDHandle device = nullptr;
    GetGWorld(&port, &device);
    SetGWorld(world, nullptr);
    DrawPicture(pict, &four);
    SetGWorld(port, device);
    const Pixels scaled = expected(4, 4, [](int x, int y) { return quadrant(x, y, 4, 4); });
    EXPECT_EQ(worldPixels(world), scaled);
    DisposeGWorld(world);

    Value back = adopt(RBQTUtils_RBPicFromQTPicture(pict, nullptr));
    ASSERT_FALSE(back.isNil());
    EXPECT_EQ(picturePixels(back.object()), scaled);
    Rect two{0, 0, 2, 2};
    Value smaller = adopt(RBQTUtils_RBPicFromQTPicture(pict, &two));
    ASSERT_FALSE(smaller.isNil());
    EXPECT_EQ(picturePixels(smaller.object()), expected(2, 2, [](int x, int y) { return quadrant(x, y, 2, 2); }));
    KillPicture(pict);
    EXPECT_TRUE(adopt(RBQTUtils_RBPicFromQTPicture(nullptr, nullptr)).isNil());
}

TEST_F(GraphicsBridge, DrawingFailuresAnswerTheirCodes) {
    Value picture = adopt(quadrantPicture());
    ASSERT_FALSE(picture.isNil());
    GWorldPtr world = patternWorld(2, 2, gradient);
    Rect empty{0, 0, 0, 5};
    Rect fine{0, 0, 2, 2};
    EXPECT_EQ(RBQTUtils_DrawPictInGWorld1(nullptr, world), paramErr);
    EXPECT_EQ(RBQTUtils_DrawPictInGWorld1(picture.object(), nullptr), paramErr);
    PicHandle pict = reinterpret_cast<PicHandle>(&fine);
    EXPECT_EQ(RBUtils_DrawRBPicture(picture.object(), world, &empty, &pict), paramErr);
    EXPECT_FALSE(pict);
    EXPECT_EQ(RBUtils_DrawRBPicture(nullptr, world, &fine, nullptr), paramErr);
    EXPECT_EQ(worldPixels(world), expected(2, 2, gradient));
    DisposeGWorld(world);

    GWorldPtr made = reinterpret_cast<GWorldPtr>(&fine);
    EXPECT_EQ(RBUtils_NewGWorldForRBPicture(picture.object(), &made, &empty, nullptr), paramErr);
    EXPECT_FALSE(made);
    EXPECT_EQ(RBUtils_NewGWorldForRBPicture(nullptr, &made, nullptr, nullptr), paramErr);
    EXPECT_EQ(RBQTUtils_DrawPictInGWorld(nullptr, &made, nullptr), paramErr);
    EXPECT_FALSE(made);
    EXPECT_EQ(RBQTUtils_DrawPicHandle(nullptr, &pict, nullptr), paramErr);
    EXPECT_FALSE(pict);
    EXPECT_EQ(RBQTUtils_DrawPicHandle(picture.object(), nullptr, nullptr), paramErr);
    Kelvo_QDGWorldBuffer* buffer = reinterpret_cast<Kelvo_QDGWorldBuffer*>(&fine);
    EXPECT_EQ(RBQTUtils_RBPicToQDContext(nullptr, buffer, nullptr), paramErr);
    EXPECT_FALSE(buffer);
    EXPECT_EQ(RBQTUtils_RBPicToQDContext(picture.object(), buffer, &empty), paramErr);
    EXPECT_FALSE(buffer);
}

TEST_F(GraphicsBridge, MoviesAndPlayersCarryTheirPlatformObjects) {
    Movie movie = NewMovie(0);
    ASSERT_TRUE(movie);
    {
        Value hostMovie = adopt(FenraMovieToRBMovie(movie));
        ASSERT_FALSE(hostMovie.isNil());
        EXPECT_EQ(hostMovie.className(), "Movie");
        EXPECT_EQ(FenraRBMovieToMovie(hostMovie.object()), movie);
        // A host movie given no platform movie has none.
        Value empty = host().newInstance("Movie");
        EXPECT_FALSE(FenraRBMovieToMovie(empty.object()));

        Rect bounds{0, 0, 20, 20};
        MovieController controller = NewMovieController(movie, &bounds, 0);
        ASSERT_TRUE(controller);
        Value player = adopt(FenraMovieControllerToRBMoviePlayer(controller));
        ASSERT_FALSE(player.isNil());
        EXPECT_EQ(player.className(), "MoviePlayer");
        EXPECT_EQ(FenraRBMoviePlayerToMovieController(player.object()), controller);
        DisposeMovieController(controller);
    }
    DisposeMovie(movie);
    EXPECT_TRUE(adopt(FenraMovieToRBMovie(nullptr)).isNil());
    EXPECT_TRUE(adopt(FenraMovieControllerToRBMoviePlayer(nullptr)).isNil());
    EXPECT_FALSE(FenraRBMovieToMovie(nullptr));
    EXPECT_FALSE(FenraRBMoviePlayerToMovieController(nullptr));
    // A movie's property asked of another class gives nothing.
    Value date = host().newInstance("Date");
    EXPECT_FALSE(FenraRBMovieToMovie(date.object()));
}

TEST_F(GraphicsBridge, WindowsAreSurfacesToDrawIntoAndControlsGiveTheirBounds) {
    testsupport::ScratchDir dir("graphics-bridge");
    CallOutcome made = host().construct("Window", {Value::integer(5), Value::integer(3)});
    ASSERT_TRUE(made.ok) << made.error;
    Value window = made.result;
    REALGraphicsSurface* surface = RBWindowToNativeWindow(window.object());
    ASSERT_TRUE(surface);
    ASSERT_EQ(surface->pixelFormat, kREALSurfaceFormatARGB32);
    // Drawn by this plug-in through a world of its own over the window's pixels.
    Rect bounds{0, 0, int16_t(surface->height), int16_t(surface->width)};
    GWorldPtr over = nullptr;
    ASSERT_EQ(QTNewGWorldFromPtr(&over, k32ARGBPixelFormat, &bounds, nullptr, nullptr, 0, surface->pixels,
                                 surface->rowBytes),
              noErr);
    GWorldPtr pattern = patternWorld(5, 3, gradient);
    ASSERT_EQ(CopyBits(GetPortBitMapForCopyBits(pattern), GetPortBitMapForCopyBits(over), &bounds, &bounds, srcCopy,
                       nullptr),
              noErr);
    DisposeGWorld(pattern);
    DisposeGWorld(over);
    EXPECT_EQ(savedByTheHost(dir, window), describePixels(5, 3, expected(5, 3, gradient)));

    std::string error;
    ASSERT_TRUE(host().setProperty(window, "Left", Value::integer(30), error)) << error;
    ASSERT_TRUE(host().setProperty(window, "Top", Value::integer(-4), error)) << error;
    Rect rect{1, 1, 1, 1};
    FenraRBControlBounds(window.object(), &rect);
    EXPECT_EQ(rect.left, 30);
    EXPECT_EQ(rect.top, -4);
    EXPECT_EQ(rect.right, 35);
    EXPECT_EQ(rect.bottom, -1);
    // Edges a rectangle can hold up to its limit, and none beyond it.
    ASSERT_TRUE(host().setProperty(window, "Left", Value::integer(32762), error)) << error;
    FenraRBControlBounds(window.object(), &rect);
    EXPECT_EQ(rect.left, 32762);
    EXPECT_EQ(rect.right, 32767);
    ASSERT_TRUE(host().setProperty(window, "Left", Value::integer(32763), error)) << error;
    FenraRBControlBounds(window.object(), &rect);
    EXPECT_EQ(rect.left | rect.top | rect.right | rect.bottom, 0);
    rect = Rect{1, 1, 1, 1};
    FenraRBControlBounds(nullptr, &rect);
    EXPECT_EQ(rect.left | rect.top | rect.right | rect.bottom, 0);
    FenraRBControlBounds(window.object(), nullptr);
    EXPECT_FALSE(RBWindowToNativeWindow(nullptr));
}

#ifdef SYLMARK_CARBON_PICTURES
TEST_F(GraphicsBridge, TheCarbonBuildReadsBothKindsOfPictureDescription) {
    ASSERT_TRUE(tarnwick::pictureRoutesInstalled());
    GWorldPtr world = patternWorld(3, 2, gradient);
    Value picture = adopt(RBPictureFromGWorld(world, true));
    ASSERT_FALSE(picture.isNil());
    EXPECT_EQ(host().getProperty(picture, "Depth").asInteger(), 32);
    const Pixels drawn = expected(3, 2, gradient);
    for (RBInteger type : {kREALPictureDescriptionQuickDraw, kREALPictureDescriptionCGContext}) {
        SCOPED_TRACE(type);
        setPictureDescriptionType(type);
        EXPECT_EQ(picturePixels(picture.object()), drawn);
    }
    setPictureDescriptionType(kREALPictureDescriptionQuickDraw);
    EXPECT_TRUE(adopt(tarnwick::RBPictureFromGWorld(nullptr, true)).isNil());
    EXPECT_FALSE(tarnwick::RBPictureToCGImage(nullptr));
}
#endif

#ifndef SYLMARK_CARBON_PICTURES
// The host program's scripts make pictures and windows and save them; a graphics object answers
// its handle for type 5 alone.
TEST(GraphicsScripts, PicturesAndWindowsAreMadeAndSavedByScripts) {
    testsupport::ScratchDir dir("graphics-script");
    std::string script = R"(p = Picture.Constructor(3, 2)
print p.Width
print p.Depth
q = Picture.Constructor(2, 2, 8)
print q.Depth
g = p.Graphics
print g.Handle(4)
saved = p.Save("@OUT@/picture.png")
print saved
w = Window.Constructor(4, 1)
w.Left = 7
print w.Left
print w.Width
saved = w.Save("@OUT@/window.png")
print saved
)";
    plugintest::replaceAll(script, "@OUT@", dir.path().string());
    EXPECT_EQ(plugintest::successfulOutput(plugintest::runScript(dir, script)), "3\n32\n8\n0\ntrue\n7\n4\ntrue\n");
    const std::string peer = testsupport::writePeerScript(dir, kReadPngPeer);
    const std::string white = "ffffff";
    EXPECT_EQ(testsupport::run("/usr/bin/python3 " + peer + " " + dir.file("picture.png") + " 2>&1"),
              "3 2\n" + white + " " + white + " " + white + " " + white + " " + white + " " + white + "\n");
    EXPECT_EQ(testsupport::run("/usr/bin/python3 " + peer + " " + dir.file("window.png") + " 2>&1"),
              "4 1\n" + white + " " + white + " " + white + " " + white + "\n");
}
#endif
