// The graphics importers against Python PIL: PNG, JPEG, BMP and GIF files that PIL writes, under
// names that say nothing of their format, are found an importer by their content, and drawn into
// a 32-bit world they equal PIL's pixels. Data references to files, handles and blocks reach the
// same importers; bad sources and foreign instances give statuses.
#include "PlatformDataRef.h"
#include "PlatformGWorlds.h"
#include "PlatformGraphicsImport.h"
#include "PlatformMemory.h"
#include "PlatformPixelFormats.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Writes the fixtures into a folder, each NAME.img with NAME.view: "width height" and PIL's
// pixels as A, R, G, B bytes.
const char* kPeer = R"PY(
import os, sys
import numpy as np
from PIL import Image

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
for name, (im, fmt, kw) in fixtures.items():
    path = os.path.join(out, name + '.img')
    im.save(path, fmt, **kw)
    back = Image.open(path)
    a = np.asarray(back.convert('RGBA'))
    h, w, _ = a.shape
    argb = a[:, :, [3, 0, 1, 2]]
    open(os.path.join(out, name + '.view'), 'wb').write(b'%d %d\n' % (w, h) + argb.tobytes())
)PY";

// The fixture folder, made once a process: tests run in processes of their own, in parallel,
// and each makes its own.
std::string fixtureFolder() {
    static testsupport::ScratchDir scratch("graphics-import");
    static const std::string folder = [] {
        const std::string script = scratch.file("peer.py");
        testsupport::writeFile(script, kPeer);
        const std::string dir = scratch.file("files");
        std::filesystem::create_directories(dir);
        int status = -1;
        const std::string said =
            testsupport::run("/usr/bin/python3 " + script + " " + dir + " 2>&1", &status);
        if (status != 0) ADD_FAILURE() << said;
        return status == 0 ? dir : std::string();
    }();
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
