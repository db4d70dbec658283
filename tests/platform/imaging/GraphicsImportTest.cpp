// The graphics importers against Python PIL: PNG, JPEG, BMP and GIF files that PIL writes, under
// names that say nothing of their format, are found an importer by their content, and drawn into
// a 32-bit world they equal PIL's pixels. Data references to files, handles and blocks reach the
// same importers; bad sources and foreign instances give statuses. Drawn through matrices, clips,
// source rectangles and notSrcCopy, and as CG images, a PNG gives what PIL's nearest-neighbour
// resize, crop and invert give. Importers keep export settings of their own, answer the export
// dialog as cancelled, tell progress procedures what a draw does, and say through the component
// manager which calls they can do.
#include "PlatformAtoms.h"
#include "PlatformDataRef.h"
#include "PlatformFixed.h"
#include "PlatformGWorlds.h"
#include "PlatformGraphicsImport.h"
#include "PlatformMatrix.h"
#include "PlatformMemory.h"
#include "PlatformPixelFormats.h"
#include "PlatformRegions.h"

#include "PythonPeer.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Writes the fixtures into a folder, each NAME.img with NAME.view: "width height" and PIL's
// pixels as A, R, G, B bytes.
const char* kPeer = R"PY(
import os, sys
import numpy as np
from PIL import Image, ImageOps

out = sys.argv[1]
rng = np.random.default_rng(5)
rgb = Image.fromarray(rng.integers(0, 256, (13, 17, 3), dtype=np.uint8), 'RGB')
smooth = Image.fromarray(np.fromfunction(lambda y, x, c: (x * 9 + y * 5 + c * 40) % 256, (24, 31, 3)).astype(np.uint8))
pal = Image.fromarray(rng.integers(0, 64, (9, 14), dtype=np.uint8), 'P')
pal.putpalette(rng.integers(0, 256, (64, 3), dtype=np.uint8).tobytes())
pal.putpixel((0, 0), 5)
fixtures = {
    'png-rgb': (rgb, 'PNG', {}),
    'png-grey': (rgb.convert('L'), 'PNG', {}),
    'png-rgba': (Image.fromarray(rng.integers(0, 256, (7, 5, 4), dtype=np.uint8), 'RGBA'), 'PNG', {}),
    'jpeg-rgb': (smooth, 'JPEG', {'quality': 90}),
    'jpeg-grey': (smooth.convert('L'), 'JPEG', {'quality': 90}),
    'bmp-rgb': (rgb, 'BMP', {}),
    'bmp-palette': (pal.convert('RGB').quantize(16), 'BMP', {}),
    'gif-palette': (pal, 'GIF', {}),
    'gif-transparent': (pal, 'GIF', {'transparency': 5, 'optimize': False}),
}
def view(name, im):
    a = np.asarray(im if im.mode in ('RGBA', 'RGBa') else im.convert('RGBA'))
    h, w, _ = a.shape
    argb = a[:, :, [3, 0, 1, 2]]
    open(os.path.join(out, name + '.view'), 'wb').write(b'%d %d\n' % (w, h) + argb.tobytes())

for name, (im, fmt, kw) in fixtures.items():
    path = os.path.join(out, name + '.img')
    im.save(path, fmt, **kw)
    view(name, Image.open(path))

# The drawing settings' references: a 6 x 4 PNG (colour and grey) resized nearest neighbour,
# inverted, and with its alpha premultiplied.
nearest = Image.Resampling.NEAREST
settings = Image.fromarray(np.random.default_rng(11).integers(0, 256, (4, 6, 3), dtype=np.uint8), 'RGB')
settings.save(os.path.join(out, 'settings.img'), 'PNG')
settings.convert('L').save(os.path.join(out, 'settings-grey.img'), 'PNG')
grey = Image.open(os.path.join(out, 'settings-grey.img'))
view('settings', settings)
view('settings-x2', settings.resize((12, 8), nearest))
view('settings-half', settings.resize((3, 2), nearest))
view('settings-inverted', ImageOps.invert(settings))
view('settings-grey', grey)
view('settings-grey-x2', grey.resize((12, 8), nearest))
view('png-rgba-premultiplied', Image.open(os.path.join(out, 'png-rgba.img')).convert('RGBa'))
# 16-bit grey, with its samples as PIL reads them back, in host order.
Image.fromarray(np.random.default_rng(12).integers(0, 65536, (3, 5), dtype=np.uint16)).save(
    os.path.join(out, 'grey16.img'), 'PNG')
samples = np.asarray(Image.open(os.path.join(out, 'grey16.img'))).astype(np.uint16)
open(os.path.join(out, 'grey16.samples'), 'wb').write(samples.tobytes())
)PY";

// The fixture folder, made once a process: tests run in processes of their own, in parallel,
// and each makes its own.
std::string fixtureFolder() {
    static testsupport::ScratchDir scratch("graphics-import");
    static const std::string folder = testsupport::makePeerFixtures(scratch, kPeer);
    return folder;
}

FSSpec specOf(const std::string& path) {
    FSSpec spec{};
    std::snprintf(spec.path, sizeof spec.path, "%s", path.c_str());
    return spec;
}

Handle handleWith(const std::string& bytes) {
    Handle h = NewHandle(Size(bytes.size()));
    if (h && !bytes.empty()) std::memcpy(*h, bytes.data(), bytes.size());
    return h;
}

OSType subTypeOf(ComponentInstance ci) {
    ComponentDescription cd{};
    EXPECT_EQ(GetComponentInfo(reinterpret_cast<Component>(ci), &cd, nullptr, nullptr, nullptr), noErr);
    EXPECT_EQ(cd.componentType, GraphicsImporterComponentType);
    return cd.componentSubType;
}

// A 32-bit world of the size, every byte 0x5A.
GWorldPtr newWorld(int16_t width, int16_t height) {
    GWorldPtr world = nullptr;
    const Rect bounds{0, 0, height, width};
    EXPECT_EQ(QTNewGWorld(&world, k32ARGBPixelFormat, &bounds, nullptr, nullptr, 0), noErr);
    if (!world) return nullptr;
    PixMapHandle pm = GetGWorldPixMap(world);
    for (int16_t y = 0; y < height; ++y)
        std::memset(GetPixBaseAddr(pm) + size_t(y) * size_t(GetPixRowBytes(pm)), 0x5A, size_t(width) * 4);
    return world;
}

// The world's pixels (A, R, G, B), rows packed.
std::string pixelsOf(GWorldPtr world, int16_t width, int16_t height) {
    PixMapHandle pm = GetGWorldPixMap(world);
    std::string out;
    for (int16_t y = 0; y < height; ++y)
        out.append(GetPixBaseAddr(pm) + size_t(y) * size_t(GetPixRowBytes(pm)), size_t(width) * 4);
    return out;
}

struct View {
    int width = 0, height = 0;
    std::string argb;
};

View viewOf(const std::string& name) {
    View v;
    const std::string text = testsupport::readFile(fixtureFolder() + "/" + name + ".view");
    const size_t eol = text.find('\n');
    if (eol == std::string::npos) return v;
    std::istringstream(text.substr(0, eol)) >> v.width >> v.height;
    v.argb = text.substr(eol + 1);
    return v;
}

// The largest difference of two byte strings of one length.
int largestDifference(const std::string& a, const std::string& b) {
    int most = 0;
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        most = std::max(most, std::abs(int(uint8_t(a[i])) - int(uint8_t(b[i]))));
    return most;
}

} // namespace

TEST(GraphicsImport, FilesPILWritesAreFoundByContentAndDrawAsPILSeesThem) {
    const std::string dir = fixtureFolder();
    ASSERT_FALSE(dir.empty()) << "the PIL peer could not write the fixtures";
    struct Case {
        const char* name;
        OSType subType;
        OSType cType;
        int16_t depth;
    } cases[] = {
        {"png-rgb", kQTFileTypePNG, FOUR_CHAR_CODE("png "), 24},
        {"png-grey", kQTFileTypePNG, FOUR_CHAR_CODE("png "), 40},
        {"png-rgba", kQTFileTypePNG, FOUR_CHAR_CODE("png "), 32},
        {"jpeg-rgb", kQTFileTypeJPEG, FOUR_CHAR_CODE("jpeg"), 24},
        {"jpeg-grey", kQTFileTypeJPEG, FOUR_CHAR_CODE("jpeg"), 40},
        {"bmp-rgb", kQTFileTypeBMP, FOUR_CHAR_CODE("WRLE"), 24},
        {"bmp-palette", kQTFileTypeBMP, FOUR_CHAR_CODE("WRLE"), 24},
        {"gif-palette", kQTFileTypeGIF, FOUR_CHAR_CODE("gif "), 24},
        {"gif-transparent", kQTFileTypeGIF, FOUR_CHAR_CODE("gif "), 32},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const View view = viewOf(c.name);
        ASSERT_GT(view.width, 0);
        ASSERT_EQ(view.argb.size(), size_t(view.width) * size_t(view.height) * 4);
        const FSSpec spec = specOf(dir + "/" + c.name + ".img");
        GraphicsImportComponent importer = nullptr;
        ASSERT_EQ(GetGraphicsImporterForFile(&spec, &importer), noErr);
        ASSERT_NE(importer, nullptr);
        EXPECT_EQ(subTypeOf(importer), c.subType);

        Rect bounds{1, 1, 1, 1};
        ASSERT_EQ(GraphicsImportGetNaturalBounds(importer, &bounds), noErr);
        EXPECT_EQ(bounds.top, 0);
        EXPECT_EQ(bounds.left, 0);
        EXPECT_EQ(bounds.bottom, view.height);
        EXPECT_EQ(bounds.right, view.width);

        ImageDescriptionHandle desc = nullptr;
        ASSERT_EQ(GraphicsImportGetImageDescription(importer, &desc), noErr);
        ASSERT_NE(desc, nullptr);
        EXPECT_EQ((**desc).cType, c.cType);
        EXPECT_EQ((**desc).width, view.width);
        EXPECT_EQ((**desc).height, view.height);
        EXPECT_EQ((**desc).depth, c.depth);
        EXPECT_EQ((**desc).idSize, int32_t(sizeof(ImageDescription)));
        DisposeHandle(reinterpret_cast<Handle>(desc));

        // Drawn into the top-left of a larger world; the rest of the world is left as it was.
        const int16_t w = int16_t(view.width + 3), h = int16_t(view.height + 2);
        GWorldPtr world = newWorld(w, h);
        ASSERT_NE(world, nullptr);
        ASSERT_EQ(GraphicsImportSetGWorld(importer, world, nullptr), noErr);
        ASSERT_EQ(GraphicsImportDraw(importer), noErr);
        const std::string got = pixelsOf(world, w, h);
        std::string drawn, around;
        for (int16_t y = 0; y < h; ++y) {
            const std::string row = got.substr(size_t(y) * size_t(w) * 4, size_t(w) * 4);
            if (y < view.height) {
                drawn += row.substr(0, size_t(view.width) * 4);
                around += row.substr(size_t(view.width) * 4);
            } else {
                around += row;
            }
        }
        EXPECT_EQ(around, std::string(around.size(), '\x5A'));
        // PIL decodes JPEG with the same libjpeg; allow the last bit for its colour conversion.
        EXPECT_LE(largestDifference(drawn, view.argb), c.subType == kQTFileTypeJPEG ? 1 : 0);
        DisposeGWorld(world);
        EXPECT_EQ(CloseComponent(importer), noErr);
    }
}

TEST(GraphicsImport, DataReferencesReachTheSameImporters) {
    const std::string dir = fixtureFolder();
    ASSERT_FALSE(dir.empty());
    const std::string png = testsupport::readFile(dir + "/png-rgb.img");
    const std::string gif = testsupport::readFile(dir + "/gif-palette.img");
    ASSERT_FALSE(png.empty());

    // A file, through an alias reference.
    const FSSpec spec = specOf(dir + "/bmp-rgb.img");
    Handle alias = nullptr;
    OSType aliasType = 0;
    ASSERT_EQ(QTNewDataReferenceFromFSSpec(&spec, 0, &alias, &aliasType), noErr);
    GraphicsImportComponent importer = nullptr;
    ASSERT_EQ(GetGraphicsImporterForDataRefWithFlags(alias, aliasType, &importer, 0), noErr);
    EXPECT_EQ(subTypeOf(importer), kQTFileTypeBMP);
    EXPECT_EQ(CloseComponent(importer), noErr);
    DisposeHandle(alias);

    // A handle: the importer reads it as it is when asked.
    Handle data = handleWith(png);
    Handle ref = NewHandle(Size(sizeof(Handle)));
    std::memcpy(*ref, &data, sizeof(Handle));
    ASSERT_EQ(GetGraphicsImporterForDataRefWithFlags(ref, HandleDataHandlerSubType, &importer, 0), noErr);
    EXPECT_EQ(subTypeOf(importer), kQTFileTypePNG);
    Rect bounds{};
    ASSERT_EQ(GraphicsImportGetNaturalBounds(importer, &bounds), noErr);
    EXPECT_EQ(bounds.right, 17);
    SetHandleSize(data, 20); // its header cut short
    EXPECT_EQ(GraphicsImportGetNaturalBounds(importer, &bounds), codecBadDataErr);
    EXPECT_EQ(bounds.right, 0);
    // Another source for the same importer: a file.
    const FSSpec pngSpec = specOf(dir + "/png-grey.img");
    ASSERT_EQ(GraphicsImportSetDataFile(importer, &pngSpec), noErr);
    ASSERT_EQ(GraphicsImportGetNaturalBounds(importer, &bounds), noErr);
    EXPECT_EQ(bounds.bottom, 13);
    EXPECT_EQ(CloseComponent(importer), noErr);

    // With validation a source that is not what its signature says finds no importer; without
    // it the importer is found and its calls fail.
    ASSERT_EQ(GetGraphicsImporterForDataRefWithFlags(ref, HandleDataHandlerSubType, &importer, 0),
              cantFindHandler);
    EXPECT_EQ(importer, nullptr);
    ASSERT_EQ(GetGraphicsImporterForDataRefWithFlags(ref, HandleDataHandlerSubType, &importer,
                                                     kGraphicsImporterDontValidate),
              noErr);
    EXPECT_EQ(GraphicsImportGetNaturalBounds(importer, &bounds), codecBadDataErr);
    EXPECT_EQ(CloseComponent(importer), noErr);
    DisposeHandle(ref);
    DisposeHandle(data);

    // A block: address and length.
    std::vector<uint8_t> ptrRef(sizeof(void*) + sizeof(int32_t));
    const void* address = gif.data();
    const int32_t length = int32_t(gif.size());
    std::memcpy(ptrRef.data(), &address, sizeof address);
    std::memcpy(ptrRef.data() + sizeof address, &length, sizeof length);
    Handle blockRef = handleWith(std::string(ptrRef.begin(), ptrRef.end()));
    ASSERT_EQ(GetGraphicsImporterForDataRefWithFlags(blockRef, PointerDataHandlerSubType, &importer, 0),
              noErr);
    EXPECT_EQ(subTypeOf(importer), kQTFileTypeGIF);
    ASSERT_EQ(GraphicsImportGetNaturalBounds(importer, &bounds), noErr);
    EXPECT_EQ(bounds.right, 14);
    EXPECT_EQ(CloseComponent(importer), noErr);
    DisposeHandle(blockRef);
}

TEST(GraphicsImport, TheImportersAreComponentsAndStrangersGetStatuses) {
    platform::installGraphicsImporters();
    ComponentDescription looking{GraphicsImporterComponentType, 0, 0, 0, 0};
    EXPECT_EQ(CountComponents(&looking), 5);
    for (OSType subType :
         {kQTFileTypePNG, kQTFileTypeJPEG, kQTFileTypeBMP, kQTFileTypeGIF, kQTFileTypeJPEG2000}) {
        looking.componentSubType = subType;
        EXPECT_NE(FindNextComponent(nullptr, &looking), nullptr);
    }

    // Opened directly, an importer has no source until it is given one.
    looking.componentSubType = kQTFileTypeGIF;
    GraphicsImportComponent importer = OpenComponent(FindNextComponent(nullptr, &looking));
    ASSERT_NE(importer, nullptr);
    Rect bounds{};
    EXPECT_EQ(GraphicsImportGetNaturalBounds(importer, &bounds), paramErr);
    const std::string dir = fixtureFolder();
    ASSERT_FALSE(dir.empty());
    Handle data = handleWith(testsupport::readFile(dir + "/gif-transparent.img"));
    ASSERT_EQ(GraphicsImportSetDataHandle(importer, data), noErr);
    // Drawing with no world set draws into the current one.
    GWorldPtr world = newWorld(14, 9);
    CGrafPtr savedPort = nullptr;
    GDHandle savedDevice = nullptr;
    GetGWorld(&savedPort, &savedDevice);
    SetGWorld(world, nullptr);
    EXPECT_EQ(GraphicsImportDraw(importer), noErr);
    SetGWorld(savedPort, savedDevice);
    EXPECT_EQ(pixelsOf(world, 14, 9), viewOf("gif-transparent").argb);
    DisposeGWorld(world);
    EXPECT_EQ(CloseComponent(importer), noErr);
    DisposeHandle(data);
    // A closed importer is no longer one.
    EXPECT_EQ(GraphicsImportGetNaturalBounds(importer, &bounds), badComponentInstance);

    // Content no importer knows, a file that does not exist, references of other kinds.
    testsupport::ScratchDir scratch("graphics-import");
    testsupport::writeFile(scratch.file("text.png"), "just some text, whatever the name says");
    FSSpec spec = specOf(scratch.file("text.png"));
    EXPECT_EQ(GetGraphicsImporterForFile(&spec, &importer), cantFindHandler);
    EXPECT_EQ(importer, nullptr);
    spec = specOf(scratch.file("missing.png"));
    EXPECT_EQ(GetGraphicsImporterForFile(&spec, &importer), fnfErr);
    EXPECT_EQ(GetGraphicsImporterForFile(nullptr, &importer), paramErr);
    Handle url = handleWith("http://example.invalid/a.png");
    EXPECT_EQ(GetGraphicsImporterForDataRefWithFlags(url, URLDataHandlerSubType, &importer, 0),
              cantFindHandler);
    DisposeHandle(url);

    // Calls on what is no importer.
    ImageDescriptionHandle desc = nullptr;
    for (GraphicsImportComponent stranger :
         {GraphicsImportComponent(nullptr), reinterpret_cast<GraphicsImportComponent>(&bounds)}) {
        EXPECT_EQ(GraphicsImportGetNaturalBounds(stranger, &bounds), badComponentInstance);
        EXPECT_EQ(GraphicsImportGetImageDescription(stranger, &desc), badComponentInstance);
        EXPECT_EQ(GraphicsImportSetDataHandle(stranger, reinterpret_cast<Handle>(&desc)),
                  badComponentInstance);
        EXPECT_EQ(GraphicsImportSetGWorld(stranger, nullptr, nullptr), badComponentInstance);
        EXPECT_EQ(GraphicsImportDraw(stranger), badComponentInstance);
    }
}

namespace {

Rect rectLTRB(int16_t left, int16_t top, int16_t right, int16_t bottom) {
    return Rect{top, left, bottom, right};
}

bool sameRect(const Rect& a, const Rect& b) {
    return a.top == b.top && a.left == b.left && a.bottom == b.bottom && a.right == b.right;
}

MatrixRecord scaleAndMove(Fixed scale, int32_t dx, int32_t dy) {
    MatrixRecord m;
    SetIdentityMatrix(&m);
    ScaleMatrix(&m, scale, scale, 0, 0);
    TranslateMatrix(&m, Long2Fix(dx), Long2Fix(dy));
    return m;
}

GraphicsImportComponent importerForFixture(const std::string& name) {
    const FSSpec spec = specOf(fixtureFolder() + "/" + name + ".img");
    GraphicsImportComponent importer = nullptr;
    EXPECT_EQ(GetGraphicsImporterForFile(&spec, &importer), noErr);
    return importer;
}

// The image's bytes (A, R, G, B, rows packed), its layout checked.
std::string bytesOfImage(CGImageRef image, size_t width, size_t height) {
    EXPECT_EQ(CGImageGetWidth(image), width);
    EXPECT_EQ(CGImageGetHeight(image), height);
    EXPECT_EQ(CGImageGetBitsPerComponent(image), 8u);
    EXPECT_EQ(CGImageGetBitsPerPixel(image), 32u);
    EXPECT_EQ(CGImageGetBytesPerRow(image), width * 4);
    EXPECT_EQ(CGImageGetBitmapInfo(image), CGBitmapInfo(kCGImageAlphaPremultipliedFirst));
    EXPECT_EQ(CGColorSpaceGetModel(CGImageGetColorSpace(image)), kCGColorSpaceModelRGB);
    CFDataRef data = CGDataProviderCopyData(CGImageGetDataProvider(image));
    std::string out;
    if (data) {
        out.assign(reinterpret_cast<const char*>(CFDataGetBytePtr(data)), size_t(CFDataGetLength(data)));
        CFRelease(data);
    }
    return out;
}

// What lies at (x, y) of a world or image when the importer draws `view`'s pixel (x - dx, y - dy)
// inside `box` and the clip, and leaves `blank` elsewhere.
constexpr Rect kEverywhere{INT16_MIN, INT16_MIN, INT16_MAX, INT16_MAX};

struct Drawing {
    Drawing(const char* name, int x = 0, int y = 0, Rect within = kEverywhere,
            std::vector<Rect> clipRects = {})
        : viewName(name), dx(x), dy(y), box(within), clip(std::move(clipRects)) {}
    std::string viewName;
    int dx, dy;
    Rect box;
    std::vector<Rect> clip; // none: unclipped
};

std::string expected(const Drawing& d, const Rect& area, const std::string& blank) {
    const View v = viewOf(d.viewName);
    std::string out;
    for (int y = area.top; y < area.bottom; ++y)
        for (int x = area.left; x < area.right; ++x) {
            const int vx = x - d.dx, vy = y - d.dy;
            bool drawn = vx >= 0 && vy >= 0 && vx < v.width && vy < v.height && x >= d.box.left &&
                         x < d.box.right && y >= d.box.top && y < d.box.bottom;
            if (drawn && !d.clip.empty()) {
                drawn = false;
                for (const Rect& r : d.clip)
                    drawn = drawn || (x >= r.left && x < r.right && y >= r.top && y < r.bottom);
            }
            out += drawn ? v.argb.substr((size_t(vy) * size_t(v.width) + size_t(vx)) * 4, 4) : blank;
        }
    return out;
}

RgnHandle regionOf(const std::vector<Rect>& rects) {
    RgnHandle all = NewRgn(), one = NewRgn();
    for (const Rect& r : rects) {
        RectRgn(one, &r);
        UnionRgn(all, one, all);
    }
    DisposeRgn(one);
    return all;
}

} // namespace

// Each way of setting up the drawing, drawn into a 14 x 10 world and made into a CG image with the
// current settings, against PIL's nearest-neighbour resize (which takes, as the blitter does, the
// source pixel under each destination pixel's centre), crop and invert.
TEST(GraphicsImportSettings, MatricesClipsModesAndSourceRectsDrawWhatPILComputes) {
    ASSERT_FALSE(fixtureFolder().empty());
    const Fixed half = fixed1 / 2;
    const std::vector<Rect> clip = {rectLTRB(1, 1, 5, 4), rectLTRB(7, 5, 13, 9)};
    struct Case {
        const char* name;
        std::function<void(GraphicsImportComponent)> setUp;
        Rect dest;
        Drawing drawing;
    } cases[] = {
        {"scaled by 2",
         [](GraphicsImportComponent gi) {
             const MatrixRecord m = scaleAndMove(2 * fixed1, 0, 0);
             EXPECT_EQ(GraphicsImportSetMatrix(gi, &m), noErr);
         },
         rectLTRB(0, 0, 12, 8),
         {"settings-x2"}},
        {"scaled by 1/2",
         [&](GraphicsImportComponent gi) {
             const MatrixRecord m = scaleAndMove(half, 0, 0);
             EXPECT_EQ(GraphicsImportSetMatrix(gi, &m), noErr);
         },
         rectLTRB(0, 0, 3, 2),
         {"settings-half"}},
        {"scaled by 2 and clipped",
         [&](GraphicsImportComponent gi) {
             const MatrixRecord m = scaleAndMove(2 * fixed1, 0, 0);
             EXPECT_EQ(GraphicsImportSetMatrix(gi, &m), noErr);
             RgnHandle rgn = regionOf(clip);
             EXPECT_EQ(GraphicsImportSetClip(gi, rgn), noErr);
             DisposeRgn(rgn); // the importer keeps its own copy
         },
         rectLTRB(0, 0, 12, 8),
         {"settings-x2", 0, 0, kEverywhere, clip}},
        {"notSrcCopy",
         [](GraphicsImportComponent gi) {
             const RGBColor black{0, 0, 0};
             EXPECT_EQ(GraphicsImportSetGraphicsMode(gi, notSrcCopy, &black), noErr);
         },
         rectLTRB(0, 0, 6, 4),
         {"settings-inverted"}},
        {"source rectangle, scaled by 2 and moved by (1, 1)",
         [](GraphicsImportComponent gi) {
             const Rect source = rectLTRB(1, 1, 5, 3);
             EXPECT_EQ(GraphicsImportSetSourceRect(gi, &source), noErr);
             const MatrixRecord m = scaleAndMove(2 * fixed1, 1, 1);
             EXPECT_EQ(GraphicsImportSetMatrix(gi, &m), noErr);
         },
         rectLTRB(3, 3, 11, 7),
         {"settings-x2", 1, 1, rectLTRB(3, 3, 11, 7)}},
        {"destination rectangle",
         [](GraphicsImportComponent gi) {
             const Rect dest = rectLTRB(2, 1, 14, 9);
             EXPECT_EQ(GraphicsImportSetDestRect(gi, &dest), noErr);
         },
         rectLTRB(2, 1, 14, 9),
         {"settings-x2", 2, 1}},
        {"bounds rectangle",
         [](GraphicsImportComponent gi) {
             const Rect bounds = rectLTRB(2, 1, 14, 9);
             EXPECT_EQ(GraphicsImportSetBoundsRect(gi, &bounds), noErr);
         },
         rectLTRB(2, 1, 14, 9),
         {"settings-x2", 2, 1}},
        {"source rectangle mapped onto a destination rectangle",
         [](GraphicsImportComponent gi) {
             const Rect source = rectLTRB(1, 1, 5, 3);
             EXPECT_EQ(GraphicsImportSetSourceRect(gi, &source), noErr);
             const Rect dest = rectLTRB(0, 0, 8, 4);
             EXPECT_EQ(GraphicsImportSetDestRect(gi, &dest), noErr);
         },
         rectLTRB(0, 0, 8, 4),
         {"settings-x2", -2, -2, rectLTRB(0, 0, 8, 4)}},
    };
    const int16_t w = 14, h = 10;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GraphicsImportComponent importer = importerForFixture("settings");
        ASSERT_NE(importer, nullptr);
        c.setUp(importer);
        Rect dest{};
        ASSERT_EQ(GraphicsImportGetDestRect(importer, &dest), noErr);
        EXPECT_TRUE(sameRect(dest, c.dest))
            << dest.left << "," << dest.top << "," << dest.right << "," << dest.bottom;

        GWorldPtr world = newWorld(w, h);
        ASSERT_NE(world, nullptr);
        ASSERT_EQ(GraphicsImportSetGWorld(importer, world, nullptr), noErr);
        ASSERT_EQ(GraphicsImportDraw(importer), noErr);
        EXPECT_EQ(pixelsOf(world, w, h), expected(c.drawing, rectLTRB(0, 0, w, h), std::string(4, '\x5A')));
        DisposeGWorld(world);

        // The image is the destination rectangle of what Draw draws, transparent where it draws
        // nothing.
        CGImageRef image = nullptr;
        ASSERT_EQ(
            GraphicsImportCreateCGImage(importer, &image, kGraphicsImportCreateCGImageUsingCurrentSettings),
            noErr);
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(bytesOfImage(image, size_t(c.dest.right - c.dest.left), size_t(c.dest.bottom - c.dest.top)),
                  expected(c.drawing, c.dest, std::string(4, '\0')));
        CGImageRelease(image);
        EXPECT_EQ(CloseComponent(importer), noErr);
    }
}

// The destination rectangle sets the matrix that maps the source rectangle onto it, and the
// matrix set is the one read back.
TEST(GraphicsImportSettings, DestinationRectanglesSetTheMatrix) {
    ASSERT_FALSE(fixtureFolder().empty());
    GraphicsImportComponent importer = importerForFixture("settings");
    ASSERT_NE(importer, nullptr);
    const Rect dest = rectLTRB(2, 1, 14, 9);
    ASSERT_EQ(GraphicsImportSetDestRect(importer, &dest), noErr);
    MatrixRecord m{};
    ASSERT_EQ(GraphicsImportGetMatrix(importer, &m), noErr);
    MatrixRecord want = scaleAndMove(2 * fixed1, 2, 1);
    EXPECT_TRUE(EqualMatrix(&m, &want));
    // A rectangle of another shape stretches each axis on its own; a source rectangle is what
    // is mapped.
    const Rect source = rectLTRB(3, 0, 6, 4);
    ASSERT_EQ(GraphicsImportSetSourceRect(importer, &source), noErr);
    const Rect bounds = rectLTRB(10, 20, 16, 22);
    ASSERT_EQ(GraphicsImportSetBoundsRect(importer, &bounds), noErr);
    ASSERT_EQ(GraphicsImportGetMatrix(importer, &m), noErr);
    SetIdentityMatrix(&want);
    TranslateMatrix(&want, Long2Fix(-3), 0);
    ScaleMatrix(&want, 2 * fixed1, fixed1 / 2, 0, 0);
    TranslateMatrix(&want, Long2Fix(10), Long2Fix(20));
    EXPECT_TRUE(EqualMatrix(&m, &want));
    Rect got{};
    ASSERT_EQ(GraphicsImportGetDestRect(importer, &got), noErr);
    EXPECT_TRUE(sameRect(got, bounds));
    // A matrix set directly moves the destination rectangle with it.
    SetIdentityMatrix(&want);
    ScaleMatrix(&want, -fixed1, fixed1, 0, 0);
    TranslateMatrix(&want, Long2Fix(20), 0);
    ASSERT_EQ(GraphicsImportSetMatrix(importer, &want), noErr);
    ASSERT_EQ(GraphicsImportGetDestRect(importer, &got), noErr);
    EXPECT_TRUE(sameRect(got, rectLTRB(14, 0, 17, 4)));
    EXPECT_EQ(CloseComponent(importer), noErr);
}

TEST(GraphicsImportSettings, DefaultsAndKeptValues) {
    ASSERT_FALSE(fixtureFolder().empty());
    GraphicsImportComponent importer = importerForFixture("settings");
    ASSERT_NE(importer, nullptr);

    MatrixRecord m{}, identity;
    SetIdentityMatrix(&identity);
    ASSERT_EQ(GraphicsImportGetMatrix(importer, &m), noErr);
    EXPECT_TRUE(EqualMatrix(&m, &identity));
    int32_t mode = -1;
    RGBColor op{1, 2, 3};
    ASSERT_EQ(GraphicsImportGetGraphicsMode(importer, &mode, &op), noErr);
    EXPECT_EQ(mode, ditherCopy);
    EXPECT_EQ(op.red, 0x8000);
    EXPECT_EQ(op.green, 0x8000);
    EXPECT_EQ(op.blue, 0x8000);
    RgnHandle clip = reinterpret_cast<RgnHandle>(&m);
    ASSERT_EQ(GraphicsImportGetClip(importer, &clip), noErr);
    EXPECT_EQ(clip, nullptr);
    Rect r{};
    ASSERT_EQ(GraphicsImportGetSourceRect(importer, &r), noErr);
    EXPECT_TRUE(sameRect(r, rectLTRB(0, 0, 6, 4)));
    ASSERT_EQ(GraphicsImportGetDestRect(importer, &r), noErr);
    EXPECT_TRUE(sameRect(r, rectLTRB(0, 0, 6, 4)));
    CodecQ quality = 0;
    int32_t flags = -1;
    uint32_t count = 0, index = 0;
    ASSERT_EQ(GraphicsImportGetQuality(importer, &quality), noErr);
    EXPECT_EQ(quality, 512u);
    ASSERT_EQ(GraphicsImportGetFlags(importer, &flags), noErr);
    EXPECT_EQ(flags, 0);
    ASSERT_EQ(GraphicsImportGetImageCount(importer, &count), noErr);
    EXPECT_EQ(count, 1u);
    ASSERT_EQ(GraphicsImportGetImageIndex(importer, &index), noErr);
    EXPECT_EQ(index, 1u);

    // Values are kept as given.
    ASSERT_EQ(GraphicsImportSetQuality(importer, 1023), noErr);
    ASSERT_EQ(GraphicsImportSetFlags(importer, 1), noErr);
    ASSERT_EQ(GraphicsImportGetQuality(importer, &quality), noErr);
    EXPECT_EQ(quality, 1023u);
    ASSERT_EQ(GraphicsImportGetFlags(importer, &flags), noErr);
    EXPECT_EQ(flags, 1);
    EXPECT_EQ(GraphicsImportSetImageIndex(importer, 1), noErr);
    EXPECT_EQ(GraphicsImportSetImageIndex(importer, 0), paramErr);
    EXPECT_EQ(GraphicsImportSetImageIndex(importer, 2), paramErr);
    const RGBColor red{0xFFFF, 0, 0};
    ASSERT_EQ(GraphicsImportSetGraphicsMode(importer, notSrcCopy, &red), noErr);
    ASSERT_EQ(GraphicsImportSetGraphicsMode(importer, srcCopy, nullptr), noErr); // keeps the colour
    ASSERT_EQ(GraphicsImportGetGraphicsMode(importer, &mode, &op), noErr);
    EXPECT_EQ(mode, srcCopy);
    EXPECT_EQ(op.red, 0xFFFF);
    EXPECT_EQ(op.green, 0);

    // The clip read back is a new region equal to the one given; null removes it.
    RgnHandle given = regionOf({rectLTRB(1, 1, 3, 2), rectLTRB(4, 0, 6, 4)});
    ASSERT_EQ(GraphicsImportSetClip(importer, given), noErr);
    RgnHandle first = nullptr, second = nullptr;
    ASSERT_EQ(GraphicsImportGetClip(importer, &first), noErr);
    ASSERT_EQ(GraphicsImportGetClip(importer, &second), noErr);
    ASSERT_NE(first, nullptr);
    EXPECT_NE(first, given);
    EXPECT_NE(first, second);
    EXPECT_TRUE(EqualRgn(first, given));
    EXPECT_TRUE(EqualRgn(second, given));
    DisposeRgn(first);
    DisposeRgn(given);
    DisposeRgn(second);
    ASSERT_EQ(GraphicsImportSetClip(importer, nullptr), noErr);
    ASSERT_EQ(GraphicsImportGetClip(importer, &clip), noErr);
    EXPECT_EQ(clip, nullptr);

    // Source rectangles that are empty or leave the natural bounds, and matrices the blitter
    // cannot draw, are refused and change nothing.
    const Rect inside = rectLTRB(1, 1, 4, 3);
    ASSERT_EQ(GraphicsImportSetSourceRect(importer, &inside), noErr);
    for (const Rect& bad : {rectLTRB(-1, 0, 3, 3), rectLTRB(0, 0, 7, 4), rectLTRB(0, 0, 6, 5),
                            rectLTRB(2, 2, 2, 3), rectLTRB(3, 3, 1, 1)}) {
        EXPECT_EQ(GraphicsImportSetSourceRect(importer, &bad), paramErr);
        EXPECT_EQ(GraphicsImportSetDestRect(importer, EmptyRect(&bad) ? &bad : nullptr), paramErr);
    }
    ASSERT_EQ(GraphicsImportGetSourceRect(importer, &r), noErr);
    EXPECT_TRUE(sameRect(r, inside));
    const MatrixRecord scaled = scaleAndMove(3 * fixed1, 0, 0);
    ASSERT_EQ(GraphicsImportSetMatrix(importer, &scaled), noErr);
    MatrixRecord perspective = identity, flat = identity, noScale = identity, singular = identity;
    perspective.matrix[0][2] = 1;
    flat.matrix[2][2] = 0;
    noScale.matrix[0][0] = 0;
    singular.matrix[0][1] = fixed1;
    singular.matrix[1][0] = fixed1;
    singular.matrix[1][1] = fixed1;
    for (const MatrixRecord& bad : {perspective, flat, noScale, singular})
        EXPECT_EQ(GraphicsImportSetMatrix(importer, &bad), paramErr);
    ASSERT_EQ(GraphicsImportGetMatrix(importer, &m), noErr);
    EXPECT_TRUE(EqualMatrix(&m, &scaled));
    ASSERT_EQ(GraphicsImportSetMatrix(importer, nullptr), noErr);
    ASSERT_EQ(GraphicsImportGetMatrix(importer, &m), noErr);
    EXPECT_TRUE(EqualMatrix(&m, &identity));

    // Another image: the source rectangle is the new natural bounds again.
    Handle data = handleWith(testsupport::readFile(fixtureFolder() + "/png-rgba.img"));
    ASSERT_EQ(GraphicsImportSetDataHandle(importer, data), noErr);
    ASSERT_EQ(GraphicsImportGetSourceRect(importer, &r), noErr);
    EXPECT_TRUE(sameRect(r, rectLTRB(0, 0, 5, 7)));
    EXPECT_EQ(CloseComponent(importer), noErr);
    DisposeHandle(data);
}

// Grey images drawn into a depth-40 world keep its encoding (0 is white), and notSrcCopy inverts
// what is seen; 16-bit grey keeps its precision; as CG images, grey pixels are R = G = B.
TEST(GraphicsImportSettings, GreyAndDeepImagesIntoTheirWorldsAndCGImagesAtNaturalSize) {
    ASSERT_FALSE(fixtureFolder().empty());
    GraphicsImportComponent importer = importerForFixture("settings-grey");
    ASSERT_NE(importer, nullptr);
    const View x2 = viewOf("settings-grey-x2");
    ASSERT_EQ(x2.argb.size(), size_t(12 * 8 * 4));
    const MatrixRecord m = scaleAndMove(2 * fixed1, 0, 0);
    ASSERT_EQ(GraphicsImportSetMatrix(importer, &m), noErr);
    for (int16_t mode : {srcCopy, notSrcCopy}) {
        SCOPED_TRACE(mode);
        const Rect bounds = rectLTRB(0, 0, 12, 8);
        GWorldPtr world = nullptr;
        ASSERT_EQ(QTNewGWorld(&world, k8IndexedGrayPixelFormat, &bounds, nullptr, nullptr, 0), noErr);
        ASSERT_EQ(GraphicsImportSetGWorld(importer, world, nullptr), noErr);
        ASSERT_EQ(GraphicsImportSetGraphicsMode(importer, mode, nullptr), noErr);
        ASSERT_EQ(GraphicsImportDraw(importer), noErr);
        PixMapHandle pm = GetGWorldPixMap(world);
        std::string stored, want;
        for (int y = 0; y < 8; ++y) {
            stored.append(GetPixBaseAddr(pm) + size_t(y) * size_t(GetPixRowBytes(pm)), 12);
            for (int x = 0; x < 12; ++x) {
                const uint8_t grey = uint8_t(x2.argb[(size_t(y) * 12 + size_t(x)) * 4 + 1]);
                want += char(mode == srcCopy ? 255 - grey : grey);
            }
        }
        EXPECT_EQ(stored, want);
        DisposeGWorld(world);
    }

    // 16-bit samples drawn into a 16-bit world keep every bit.
    GraphicsImportComponent deep = importerForFixture("grey16");
    ASSERT_NE(deep, nullptr);
    const Rect deepBounds = rectLTRB(0, 0, 5, 3);
    GWorldPtr deepWorld = nullptr;
    ASSERT_EQ(QTNewGWorld(&deepWorld, k16GrayPixelFormat, &deepBounds, nullptr, nullptr, 0), noErr);
    ASSERT_EQ(GraphicsImportSetGWorld(deep, deepWorld, nullptr), noErr);
    ASSERT_EQ(GraphicsImportDraw(deep), noErr);
    PixMapHandle deepMap = GetGWorldPixMap(deepWorld);
    std::string deepSamples;
    for (int y = 0; y < 3; ++y)
        deepSamples.append(GetPixBaseAddr(deepMap) + size_t(y) * size_t(GetPixRowBytes(deepMap)), 10);
    EXPECT_EQ(deepSamples, testsupport::readFile(fixtureFolder() + "/grey16.samples"));
    DisposeGWorld(deepWorld);
    EXPECT_EQ(CloseComponent(deep), noErr);

    // Without the current-settings flag, the image is the natural one whatever the settings.
    struct Case {
        const char* fixture;
        const char* view;
    } cases[] = {
        {"settings", "settings"},
        {"settings-grey", "settings-grey"},
        {"png-rgba", "png-rgba-premultiplied"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fixture);
        GraphicsImportComponent gi = importerForFixture(c.fixture);
        ASSERT_NE(gi, nullptr);
        const Rect source = rectLTRB(1, 1, 2, 2);
        ASSERT_EQ(GraphicsImportSetSourceRect(gi, &source), noErr);
        ASSERT_EQ(GraphicsImportSetMatrix(gi, &m), noErr);
        ASSERT_EQ(GraphicsImportSetGraphicsMode(gi, notSrcCopy, nullptr), noErr);
        const View v = viewOf(c.view);
        CGImageRef image = nullptr;
        ASSERT_EQ(GraphicsImportCreateCGImage(gi, &image, 0), noErr);
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(bytesOfImage(image, size_t(v.width), size_t(v.height)), v.argb);
        CGImageRelease(image);
        EXPECT_EQ(CloseComponent(gi), noErr);
    }
    EXPECT_EQ(CloseComponent(importer), noErr);
}

TEST(GraphicsImportSettings, ClosedImportersAndBadArgumentsGetStatuses) {
    ASSERT_FALSE(fixtureFolder().empty());
    Rect r{};
    MatrixRecord m{};
    RgnHandle rgn = nullptr;
    int32_t mode = 0, flags = 0;
    RGBColor op{};
    CodecQ quality = 0;
    uint32_t count = 0;
    CGImageRef image = nullptr;
    const Rect some = rectLTRB(0, 0, 2, 2);

    // Every call on a closed importer and on what never was one.
    GraphicsImportComponent closed = importerForFixture("settings");
    ASSERT_NE(closed, nullptr);
    ASSERT_EQ(CloseComponent(closed), noErr);
    for (GraphicsImportComponent gone : {closed, reinterpret_cast<GraphicsImportComponent>(&r)}) {
        EXPECT_EQ(GraphicsImportSetClip(gone, nullptr), badComponentInstance);
        EXPECT_EQ(GraphicsImportGetClip(gone, &rgn), badComponentInstance);
        EXPECT_EQ(rgn, nullptr);
        EXPECT_EQ(GraphicsImportSetMatrix(gone, nullptr), badComponentInstance);
        EXPECT_EQ(GraphicsImportGetMatrix(gone, &m), badComponentInstance);
        EXPECT_EQ(GraphicsImportSetGraphicsMode(gone, srcCopy, nullptr), badComponentInstance);
        EXPECT_EQ(GraphicsImportGetGraphicsMode(gone, &mode, &op), badComponentInstance);
        EXPECT_EQ(GraphicsImportSetSourceRect(gone, &some), badComponentInstance);
        EXPECT_EQ(GraphicsImportGetSourceRect(gone, &r), badComponentInstance);
        EXPECT_EQ(GraphicsImportGetDestRect(gone, &r), badComponentInstance);
        EXPECT_EQ(GraphicsImportSetDestRect(gone, &some), badComponentInstance);
        EXPECT_EQ(GraphicsImportSetBoundsRect(gone, &some), badComponentInstance);
        EXPECT_EQ(GraphicsImportSetQuality(gone, 0), badComponentInstance);
        EXPECT_EQ(GraphicsImportGetQuality(gone, &quality), badComponentInstance);
        EXPECT_EQ(GraphicsImportSetFlags(gone, 0), badComponentInstance);
        EXPECT_EQ(GraphicsImportGetFlags(gone, &flags), badComponentInstance);
        EXPECT_EQ(GraphicsImportGetImageCount(gone, &count), badComponentInstance);
        EXPECT_EQ(GraphicsImportGetImageIndex(gone, &count), badComponentInstance);
        EXPECT_EQ(GraphicsImportSetImageIndex(gone, 1), badComponentInstance);
        EXPECT_EQ(GraphicsImportCreateCGImage(gone, &image, 0), badComponentInstance);
        EXPECT_EQ(image, nullptr);
    }

    // Null result pointers, a clip that is no region, modes the blitter has not, and a mode
    // that only its low 16 bits would make srcCopy.
    GraphicsImportComponent importer = importerForFixture("settings");
    ASSERT_NE(importer, nullptr);
    EXPECT_EQ(GraphicsImportGetClip(importer, nullptr), paramErr);
    EXPECT_EQ(GraphicsImportGetMatrix(importer, nullptr), paramErr);
    EXPECT_EQ(GraphicsImportGetGraphicsMode(importer, nullptr, &op), paramErr);
    EXPECT_EQ(GraphicsImportGetGraphicsMode(importer, &mode, nullptr), paramErr);
    EXPECT_EQ(GraphicsImportGetSourceRect(importer, nullptr), paramErr);
    EXPECT_EQ(GraphicsImportGetDestRect(importer, nullptr), paramErr);
    EXPECT_EQ(GraphicsImportSetSourceRect(importer, nullptr), paramErr);
    EXPECT_EQ(GraphicsImportSetBoundsRect(importer, nullptr), paramErr);
    EXPECT_EQ(GraphicsImportGetQuality(importer, nullptr), paramErr);
    EXPECT_EQ(GraphicsImportGetFlags(importer, nullptr), paramErr);
    EXPECT_EQ(GraphicsImportGetImageCount(importer, nullptr), paramErr);
    EXPECT_EQ(GraphicsImportGetImageIndex(importer, nullptr), paramErr);
    EXPECT_EQ(GraphicsImportCreateCGImage(importer, nullptr, 0), paramErr);
    EXPECT_EQ(GraphicsImportSetClip(importer, reinterpret_cast<RgnHandle>(&r)), paramErr);
    GWorldPtr world = newWorld(6, 4);
    ASSERT_NE(world, nullptr);
    ASSERT_EQ(GraphicsImportSetGWorld(importer, world, nullptr), noErr);
    for (int32_t badMode : {int32_t(srcOr), int32_t(srcXor), 0x10000}) {
        SCOPED_TRACE(badMode);
        ASSERT_EQ(GraphicsImportSetGraphicsMode(importer, badMode, nullptr), noErr);
        EXPECT_EQ(GraphicsImportDraw(importer), paramErr);
        EXPECT_EQ(
            GraphicsImportCreateCGImage(importer, &image, kGraphicsImportCreateCGImageUsingCurrentSettings),
            paramErr);
        EXPECT_EQ(image, nullptr);
    }
    EXPECT_EQ(pixelsOf(world, 6, 4), std::string(6 * 4 * 4, '\x5A'));
    DisposeGWorld(world);
    // A matrix that shrinks the image to nothing leaves no destination to make an image of.
    ASSERT_EQ(GraphicsImportSetGraphicsMode(importer, srcCopy, nullptr), noErr);
    const MatrixRecord tiny = scaleAndMove(fixed1 / 64, 0, 0);
    ASSERT_EQ(GraphicsImportSetMatrix(importer, &tiny), noErr);
    EXPECT_EQ(GraphicsImportCreateCGImage(importer, &image, kGraphicsImportCreateCGImageUsingCurrentSettings),
              paramErr);
    EXPECT_EQ(image, nullptr);

    // Data the codec refuses gives the codec's status; no data at all gives paramErr.
    Handle cut = handleWith(testsupport::readFile(fixtureFolder() + "/settings.img").substr(0, 40));
    ASSERT_EQ(GraphicsImportSetDataHandle(importer, cut), noErr);
    EXPECT_EQ(GraphicsImportCreateCGImage(importer, &image, 0), codecBadDataErr);
    EXPECT_EQ(image, nullptr);
    EXPECT_EQ(GraphicsImportGetSourceRect(importer, &r), codecBadDataErr);
    EXPECT_EQ(GraphicsImportSetDestRect(importer, &some), codecBadDataErr);
    EXPECT_EQ(CloseComponent(importer), noErr);
    DisposeHandle(cut);
    ComponentDescription png{GraphicsImporterComponentType, kQTFileTypePNG, 0, 0, 0};
    importer = OpenComponent(FindNextComponent(nullptr, &png));
    ASSERT_NE(importer, nullptr);
    EXPECT_EQ(GraphicsImportGetDestRect(importer, &r), paramErr);
    EXPECT_EQ(GraphicsImportSetSourceRect(importer, &some), paramErr);
    EXPECT_EQ(CloseComponent(importer), noErr);
}

namespace {

// An atom container of the given root atoms, each (type, bytes).
QTAtomContainer containerOf(const std::vector<std::pair<QTAtomType, std::string>>& atoms) {
    QTAtomContainer c = nullptr;
    EXPECT_EQ(QTNewAtomContainer(&c), noErr);
    for (const auto& [type, bytes] : atoms)
        EXPECT_EQ(QTInsertChild(c, 0, type, 0, 0, int32_t(bytes.size()), bytes.data(), nullptr), noErr);
    return c;
}

// The container's flat form, to compare containers by content.
std::string flatOf(QTAtomContainer c) {
    Handle flat = nullptr;
    EXPECT_EQ(QTFlattenAtomContainer(c, &flat), noErr);
    std::string out = flat ? std::string(*flat, size_t(GetHandleSize(flat))) : std::string();
    if (flat) DisposeHandle(flat);
    return out;
}

// The importer's export settings in the flat form; "" when it holds none.
std::string exportSettingsOf(GraphicsImportComponent importer) {
    QTAtomContainer c = nullptr;
    EXPECT_EQ(GraphicsImportGetExportSettingsAsAtomContainer(importer, &c), noErr);
    if (!c) return std::string();
    const std::string flat = flatOf(c);
    QTDisposeAtomContainer(c);
    return flat;
}

// What a progress procedure was told, in order, by the importer it asks back.
struct Told {
    GraphicsImportComponent importer = nullptr;
    std::vector<std::pair<int16_t, Fixed>> messages;

    // The messages so far; the list starts again.
    std::vector<std::pair<int16_t, Fixed>> take() {
        std::vector<std::pair<int16_t, Fixed>> out;
        out.swap(messages);
        return out;
    }
};

OSErr recordProgress(int16_t message, Fixed done, intptr_t refcon) {
    auto* told = reinterpret_cast<Told*>(refcon);
    // The importer answers while it reports: the procedure runs outside its lock.
    int32_t flags = -1;
    EXPECT_EQ(GraphicsImportGetFlags(told->importer, &flags), noErr);
    told->messages.emplace_back(message, done);
    return noErr;
}

} // namespace

// Export settings are each importer's own copy: none at first, kept as given, refused whole when
// their export type is not one OSType.
TEST(GraphicsImportServiceCalls, ExportSettingsAreKeptPerImporterAndValidated) {
    ASSERT_FALSE(fixtureFolder().empty());
    GraphicsImportComponent importer = importerForFixture("settings");
    GraphicsImportComponent other = importerForFixture("settings");
    ASSERT_NE(importer, nullptr);
    ASSERT_NE(other, nullptr);

    QTAtomContainer got = reinterpret_cast<QTAtomContainer>(&got);
    EXPECT_EQ(GraphicsImportGetExportSettingsAsAtomContainer(importer, &got), noErr);
    EXPECT_EQ(got, nullptr) << "a new importer holds no export settings";

    QTAtomContainer settings =
        containerOf({{kGraphicsImportExportTypeAtom, "BMPf"}, {FOUR_CHAR_CODE("note"), "kept"}});
    const std::string given = flatOf(settings);
    ASSERT_EQ(GraphicsImportSetExportSettingsFromAtomContainer(importer, settings), noErr);
    QTDisposeAtomContainer(settings); // the importer keeps its own copy
    EXPECT_EQ(exportSettingsOf(importer), given);
    EXPECT_EQ(exportSettingsOf(other), "");
    // Each Get is a new container the caller owns.
    QTAtomContainer first = nullptr, second = nullptr;
    ASSERT_EQ(GraphicsImportGetExportSettingsAsAtomContainer(importer, &first), noErr);
    ASSERT_EQ(GraphicsImportGetExportSettingsAsAtomContainer(importer, &second), noErr);
    EXPECT_NE(first, second);
    QTDisposeAtomContainer(first);
    QTDisposeAtomContainer(second);

    // Refused settings leave those held before.
    const std::vector<std::vector<std::pair<QTAtomType, std::string>>> refused = {
        {{kGraphicsImportExportTypeAtom, "BMP"}},
        {{kGraphicsImportExportTypeAtom, std::string(4, '\0')}},
        {{kGraphicsImportExportTypeAtom, "PNGf"}, {kGraphicsImportExportTypeAtom, "JPEG"}},
    };
    for (const auto& atoms : refused) {
        QTAtomContainer bad = containerOf(atoms);
        EXPECT_EQ(GraphicsImportSetExportSettingsFromAtomContainer(importer, bad), paramErr);
        QTDisposeAtomContainer(bad);
        EXPECT_EQ(exportSettingsOf(importer), given);
    }
    EXPECT_EQ(GraphicsImportSetExportSettingsFromAtomContainer(importer, nullptr), paramErr);
    // Settings without an export type, even empty ones, are settings.
    QTAtomContainer empty = containerOf({});
    ASSERT_EQ(GraphicsImportSetExportSettingsFromAtomContainer(other, empty), noErr);
    EXPECT_EQ(exportSettingsOf(other), flatOf(empty));
    QTDisposeAtomContainer(empty);

    EXPECT_EQ(GraphicsImportGetExportSettingsAsAtomContainer(importer, nullptr), paramErr);
    EXPECT_EQ(CloseComponent(importer), noErr);
    EXPECT_EQ(CloseComponent(other), noErr);
    for (GraphicsImportComponent stranger : {GraphicsImportComponent(nullptr), importer /* closed */,
                                             reinterpret_cast<GraphicsImportComponent>(&got)}) {
        EXPECT_EQ(GraphicsImportGetExportSettingsAsAtomContainer(stranger, &got), badComponentInstance);
        EXPECT_EQ(got, nullptr);
        QTAtomContainer some = containerOf({});
        EXPECT_EQ(GraphicsImportSetExportSettingsFromAtomContainer(stranger, some), badComponentInstance);
        QTDisposeAtomContainer(some);
        EXPECT_EQ(
            GraphicsImportDoExportImageFileDialog(stranger, nullptr, nullptr, nullptr, nullptr, nullptr),
            badComponentInstance);
        ICMProgressProcRecord none{nullptr, 0};
        EXPECT_EQ(GraphicsImportSetProgressProc(stranger, &none), badComponentInstance);
    }
}

// Without a user interface the dialog is a cancelled one, and changes nothing.
TEST(GraphicsImportServiceCalls, TheExportDialogAnswersCancelled) {
    ASSERT_FALSE(fixtureFolder().empty());
    GraphicsImportComponent importer = importerForFixture("settings");
    ASSERT_NE(importer, nullptr);
    const FSSpec spec = specOf(fixtureFolder() + "/exported.png");
    OSType type = 1, subType = 1;
    const unsigned char prompt[] = "\x04Save";
    EXPECT_EQ(GraphicsImportDoExportImageFileDialog(importer, &spec, prompt, nullptr, &type, &subType),
              userCanceledErr);
    EXPECT_EQ(type, 0u);
    EXPECT_EQ(subType, 0u);
    EXPECT_FALSE(std::filesystem::exists(spec.path));
    EXPECT_EQ(exportSettingsOf(importer), "");
    EXPECT_EQ(CloseComponent(importer), noErr);
}

// Draw and CreateCGImage tell the caller's procedure open, half done once decoded, done once
// drawn, and close; a failure still closes what was opened. The platform's own procedure and
// none tell nothing.
TEST(GraphicsImportServiceCalls, ProgressProceduresHearOpenUpdatesAndClose) {
    ASSERT_FALSE(fixtureFolder().empty());
    GraphicsImportComponent importer = importerForFixture("settings");
    ASSERT_NE(importer, nullptr);
    Told told;
    told.importer = importer;
    ICMProgressProcRecord record{recordProgress, reinterpret_cast<intptr_t>(&told)};
    ASSERT_EQ(GraphicsImportSetProgressProc(importer, &record), noErr);
    record.progressRefCon = 0; // the importer keeps its own copy

    auto messages = [&] { return told.take(); };
    const std::vector<std::pair<int16_t, Fixed>> whole = {{kICMProgressOpen, 0},
                                                          {kICMProgressUpdate, fixed1 / 2},
                                                          {kICMProgressUpdate, fixed1},
                                                          {kICMProgressClose, 0}};
    GWorldPtr world = newWorld(6, 4);
    ASSERT_EQ(GraphicsImportSetGWorld(importer, world, nullptr), noErr);
    ASSERT_EQ(GraphicsImportDraw(importer), noErr);
    EXPECT_EQ(messages(), whole);
    CGImageRef image = nullptr;
    ASSERT_EQ(GraphicsImportCreateCGImage(importer, &image, 0), noErr);
    CGImageRelease(image);
    EXPECT_EQ(messages(), whole);

    // A source that no longer decodes: opened and closed, no update.
    Handle cut = handleWith(testsupport::readFile(fixtureFolder() + "/settings.img").substr(0, 60));
    ASSERT_EQ(GraphicsImportSetDataHandle(importer, cut), noErr);
    EXPECT_NE(GraphicsImportDraw(importer), noErr);
    const std::vector<std::pair<int16_t, Fixed>> failed = {{kICMProgressOpen, 0}, {kICMProgressClose, 0}};
    EXPECT_EQ(messages(), failed);
    // Nothing to draw into: refused before anything is opened.
    ASSERT_EQ(GraphicsImportSetGWorld(importer, nullptr, nullptr), noErr);
    CGrafPtr savedPort = nullptr;
    GDHandle savedDevice = nullptr;
    GetGWorld(&savedPort, &savedDevice);
    SetGWorld(nullptr, nullptr);
    EXPECT_EQ(GraphicsImportDraw(importer), paramErr);
    SetGWorld(savedPort, savedDevice);
    EXPECT_TRUE(messages().empty());

    const FSSpec spec = specOf(fixtureFolder() + "/settings.img");
    ASSERT_EQ(GraphicsImportSetDataFile(importer, &spec), noErr);
    ASSERT_EQ(GraphicsImportSetGWorld(importer, world, nullptr), noErr);
    for (ICMProgressProcRecord* quiet : {reinterpret_cast<ICMProgressProcRecord*>(intptr_t(-1)),
                                         static_cast<ICMProgressProcRecord*>(nullptr)}) {
        ASSERT_EQ(GraphicsImportSetProgressProc(importer, quiet), noErr);
        ASSERT_EQ(GraphicsImportDraw(importer), noErr);
        EXPECT_TRUE(messages().empty());
    }
    DisposeGWorld(world);
    DisposeHandle(cut);
    EXPECT_EQ(CloseComponent(importer), noErr);
}

// Asked through the component manager, an importer can do exactly the calls it answers.
TEST(GraphicsImportServiceCalls, ImportersAnswerTheCanDoQuestion) {
    ASSERT_FALSE(fixtureFolder().empty());
    GraphicsImportComponent importer = importerForFixture("settings");
    ASSERT_NE(importer, nullptr);
    struct Case {
        int16_t selector;
        ComponentResult answer;
    } cases[] = {
        {kGraphicsImportDrawSelect, 1},
        {kGraphicsImportGetNaturalBoundsSelect, 1},
        {kGraphicsImportGetMetaDataSelect, 1},
        {kGraphicsImportDoExportImageFileDialogSelect, 1},
        {kGraphicsImportGetExportSettingsAsAtomContainerSelect, 1},
        {kGraphicsImportSetExportSettingsFromAtomContainerSelect, 1},
        {kGraphicsImportSetProgressProcSelect, 1},
        {kGraphicsImportGetImageIndexSelect, 1},
        {kGraphicsImportCreateCGImageSelect, 1},
        {0x0001, 0}, // setting a data reference
        {0x0016, 0}, // saving as a picture
        {0x002A, 0}, // reading the progress procedure back
        {0, 0},
        {-7, 0},
    };
    for (const Case& c : cases) {
        int16_t asked = c.selector;
        EXPECT_EQ(platform::callComponent(importer, kComponentCanDoSelect, &asked), c.answer) << c.selector;
    }
    EXPECT_EQ(platform::callComponent(importer, kComponentCanDoSelect, nullptr), paramErr);
    int16_t asked = kGraphicsImportDrawSelect;
    EXPECT_EQ(platform::callComponent(importer, kGraphicsImportDrawSelect, &asked), badComponentSelector)
        << "the calls themselves are made directly, not through the manager";
    EXPECT_EQ(CloseComponent(importer), noErr);
}
