// The graphics exporters against Python PIL: worlds of 32-bit colour, depth-40 grey and 16-bit
// grey pixels that numpy made are exported as PNG, BMP, JPEG and JPEG 2000 into files, handles
// and data references, and PIL reads back what they hold. Depths reshape the pixels; compressed
// data, CG images and bitmap contexts export as the world of the same pixels does; a failed
// export leaves its output as it was; closed and foreign exporters get statuses.
#include "PlatformAtoms.h"
#include "PlatformCoreGraphics.h"
#include "PlatformDataRef.h"
#include "PlatformEndian.h"
#include "PlatformFixed.h"
#include "PlatformGWorlds.h"
#include "PlatformGraphicsExport.h"
#include "PlatformPictures.h"
#include "PlatformGraphicsImport.h"
#include "PlatformMemory.h"
#include "PlatformPixelFormats.h"

#include "PythonPeer.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace {

// `make FOLDER`: the source pixels (smooth, with a little noise, so that lossy formats stay
// close) as source.pixels ("width height", R, G, B, A bytes, then 16-bit grey samples, little
// endian) and as source.png. `read FILE...`: each FILE.view holds "mode width height bytes" and
// the samples PIL decodes (16-bit ones little endian).
const char* kPeer = R"PY(
import os, sys
import numpy as np
from PIL import Image

def make(folder):
    h, w = 23, 37
    y, x = np.mgrid[0:h, 0:w]
    rng = np.random.default_rng(11)
    rgba = np.stack([20 + 5 * x + 2 * y, 10 + x + 8 * y, 240 - 3 * x - 4 * y, 100 + 2 * x + 3 * y], axis=2)
    rgba = (rgba + rng.integers(0, 4, (h, w, 4))).astype(np.uint8)
    Image.fromarray(rgba, 'RGBA').save(os.path.join(folder, 'source.png'))
    grey16 = (1200 * x + 900 * y + rng.integers(0, 100, (h, w))).astype('<u2')
    with open(os.path.join(folder, 'source.pixels'), 'wb') as f:
        f.write(b'%d %d\n' % (w, h) + rgba.tobytes() + grey16.tobytes())

def read(paths):
    for path in paths:
        im = Image.open(path)
        a = np.asarray(im)
        wide = a.dtype.itemsize > 1
        a = a.astype('<u2' if wide else np.uint8)
        with open(path + '.view', 'wb') as f:
            f.write(b'%s %d %d %d\n' % (im.mode.encode(), im.width, im.height, 2 if wide else 1) + a.tobytes())

if sys.argv[1] == 'make':
    make(sys.argv[2])
else:
    read(sys.argv[2:])
)PY";

testsupport::ScratchDir& scratch() {
    static testsupport::ScratchDir dir("graphics-export");
    return dir;
}

std::string runPeer(const std::string& arguments) {
    static const std::string script = testsupport::writePeerScript(scratch(), kPeer);
    return testsupport::runPeerScript(script, arguments);
}

struct Source {
    int32_t width = 0, height = 0;
    std::vector<uint8_t> rgba;
    std::vector<uint16_t> grey16;
    std::string png; // PIL's PNG of the RGBA pixels
};

const Source& source() {
    static const Source s = [] {
        Source out;
        const std::string failure = runPeer("make " + scratch().path().string());
        if (!failure.empty()) {
            ADD_FAILURE() << failure;
            return out;
        }
        const std::string text = testsupport::readFile(scratch().file("source.pixels"));
        const size_t eol = text.find('\n');
        if (eol == std::string::npos) return out;
        std::istringstream(text.substr(0, eol)) >> out.width >> out.height;
        const size_t n = size_t(out.width) * size_t(out.height);
        if (text.size() != eol + 1 + n * 6) return Source();
        out.rgba.assign(text.begin() + std::ptrdiff_t(eol + 1),
                        text.begin() + std::ptrdiff_t(eol + 1 + n * 4));
        out.grey16.resize(n);
        std::memcpy(out.grey16.data(), text.data() + eol + 1 + n * 4, n * 2);
        out.png = testsupport::readFile(scratch().file("source.png"));
        return out;
    }();
    return s;
}

// The three worlds of the source pixels.
enum class Pixels { ARGB, Grey40, Grey16 };

// The depth-40 world shows the green samples as its grey.
uint8_t greyOfSource(const Source& s, size_t i) {
    return s.rgba[i * 4 + 1];
}

GWorldPtr newWorld(Pixels kind) {
    const Source& s = source();
    const OSType format = kind == Pixels::ARGB     ? OSType(k32ARGBPixelFormat)
                          : kind == Pixels::Grey40 ? OSType(k8IndexedGrayPixelFormat)
                                                   : OSType(k16GrayPixelFormat);
    const Rect bounds{0, 0, int16_t(s.height), int16_t(s.width)};
    GWorldPtr world = nullptr;
    EXPECT_EQ(QTNewGWorld(&world, format, &bounds, nullptr, nullptr, 0), noErr);
    if (!world) return nullptr;
    PixMapHandle pm = GetGWorldPixMap(world);
    for (int32_t y = 0; y < s.height; ++y) {
        uint8_t* row =
            reinterpret_cast<uint8_t*>(GetPixBaseAddr(pm)) + size_t(y) * size_t(GetPixRowBytes(pm));
        for (int32_t x = 0; x < s.width; ++x) {
            const size_t i = size_t(y) * size_t(s.width) + size_t(x);
            if (kind == Pixels::ARGB) {
                const uint8_t* p = &s.rgba[i * 4];
                const uint8_t argb[4] = {p[3], p[0], p[1], p[2]};
                std::memcpy(row + size_t(x) * 4, argb, 4);
            } else if (kind == Pixels::Grey40) {
                row[x] = uint8_t(255 - greyOfSource(s, i)); // depth 40 keeps 0 for white
            } else {
                std::memcpy(row + size_t(x) * 2, &s.grey16[i], 2);
            }
        }
    }
    return world;
}

// The samples an image of the source pixels holds in `components` samples of 8 or 16 bits.
std::vector<uint32_t> expected(Pixels kind, int components, bool wide) {
    const Source& s = source();
    std::vector<uint32_t> out;
    for (size_t i = 0; i < size_t(s.width) * size_t(s.height); ++i) {
        uint32_t r, g, b, a = 255;
        if (kind == Pixels::ARGB) {
            r = s.rgba[i * 4], g = s.rgba[i * 4 + 1], b = s.rgba[i * 4 + 2], a = s.rgba[i * 4 + 3];
        } else {
            r = g = b = kind == Pixels::Grey40 ? greyOfSource(s, i)
                        : wide                 ? s.grey16[i]
                                               : platform::to8(s.grey16[i]);
            if (wide) a = 0xFFFF;
        }
        if (components == 1) {
            out.push_back(kind == Pixels::ARGB ? platform::greyOf(uint8_t(r), uint8_t(g), uint8_t(b)) : r);
        } else {
            out.insert(out.end(), {r, g, b});
            if (components == 4) out.push_back(a);
        }
    }
    return out;
}

struct View {
    std::string mode;
    int32_t width = 0, height = 0, components = 0;
    bool wide = false;
    std::vector<uint32_t> samples;
};

// What PIL reads from each file.
std::vector<View> readBack(const std::vector<std::string>& paths) {
    std::string arguments = "read";
    for (const std::string& p : paths)
        arguments += " " + p;
    const std::string failure = runPeer(arguments);
    EXPECT_TRUE(failure.empty()) << failure;
    std::vector<View> views;
    for (const std::string& p : paths) {
        View v;
        const std::string text = testsupport::readFile(p + ".view");
        const size_t eol = text.find('\n');
        int bytes = 1;
        if (eol != std::string::npos)
            std::istringstream(text.substr(0, eol)) >> v.mode >> v.width >> v.height >> bytes;
        v.wide = bytes == 2;
        v.components = v.mode == "RGBA" ? 4 : v.mode == "RGB" ? 3 : 1;
        for (size_t at = eol + 1; eol != std::string::npos && at + size_t(bytes) <= text.size();
             at += size_t(bytes))
            v.samples.push_back(bytes == 2 ? uint32_t(uint8_t(text[at]) | uint8_t(text[at + 1]) << 8)
                                           : uint32_t(uint8_t(text[at])));
        views.push_back(v);
    }
    return views;
}

// How far decoded samples may lie from the source's: the largest difference and the mean one.
struct Closeness {
    int largest;
    double mean;
};
constexpr Closeness kEqual{0, 0.0};
// Lossy formats on these smooth pixels: JPEG at the normal quality, JPEG 2000 at the high one
// (about 4:1).
constexpr Closeness kJPEGClose{24, 3.0};
constexpr Closeness kJPEG2000Close{6, 1.0};

void expectClose(const std::vector<uint32_t>& got, const std::vector<uint32_t>& want, Closeness allowed) {
    ASSERT_EQ(got.size(), want.size());
    int largest = 0;
    double sum = 0;
    for (size_t i = 0; i < got.size(); ++i) {
        const int d = std::abs(int(got[i]) - int(want[i]));
        largest = std::max(largest, d);
        sum += d;
    }
    EXPECT_LE(largest, allowed.largest);
    EXPECT_LE(sum / double(std::max<size_t>(got.size(), 1)), allowed.mean);
}

FSSpec specOf(const std::string& path) {
    FSSpec spec{};
    std::snprintf(spec.path, sizeof spec.path, "%s", path.c_str());
    return spec;
}

std::string bytesOf(Handle h) {
    return h && *h ? std::string(*h, size_t(GetHandleSize(h))) : std::string();
}

Handle handleWith(const std::string& bytes) {
    Handle h = nullptr;
    PtrToHand(bytes.data(), &h, Size(bytes.size()));
    return h;
}

// A 'hndl' data reference to `h`.
Handle handleReference(Handle h) {
    return handleWith(std::string(reinterpret_cast<const char*>(&h), sizeof h));
}

GraphicsExportComponent openExporter(OSType subType) {
    GraphicsExportComponent exporter = nullptr;
    EXPECT_EQ(OpenADefaultComponent(GraphicsExporterComponentType, subType, &exporter), noErr);
    return exporter;
}

// The stream the exporter writes into a handle.
std::string exportToHandle(GraphicsExportComponent exporter, ComponentResult* status = nullptr) {
    Handle h = NewHandle(0);
    UInt32 written = 0;
    EXPECT_EQ(GraphicsExportSetOutputHandle(exporter, h), noErr);
    const ComponentResult err = GraphicsExportDoExport(exporter, &written);
    if (status)
        *status = err;
    else
        EXPECT_EQ(err, noErr);
    std::string out = bytesOf(h);
    EXPECT_EQ(written, out.size());
    DisposeHandle(h);
    return out;
}

} // namespace

TEST(GraphicsExport, WorldsExportToEveryFormatAndOutputAsPILReadsThem) {
    const Source& s = source();
    ASSERT_GT(s.width, 0) << "the PIL peer could not make the source pixels";
    struct Case {
        OSType subType;
        CodecQ quality;
        Pixels pixels;
        int components; // as PIL reads them
        bool wide;
        Closeness closeness;
    } cases[] = {
        {kQTFileTypePNGExport, codecNormalQuality, Pixels::ARGB, 4, false, kEqual},
        {kQTFileTypePNGExport, codecNormalQuality, Pixels::Grey40, 1, false, kEqual},
        {kQTFileTypePNGExport, codecNormalQuality, Pixels::Grey16, 1, true, kEqual},
        {kQTFileTypeBMPExport, codecNormalQuality, Pixels::ARGB, 4, false, kEqual},
        {kQTFileTypeBMPExport, codecNormalQuality, Pixels::Grey40, 1, false, kEqual},
        {kQTFileTypeBMPExport, codecNormalQuality, Pixels::Grey16, 1, false, kEqual},
        {kQTFileTypeJPEGExport, codecNormalQuality, Pixels::ARGB, 3, false, kJPEGClose},
        {kQTFileTypeJPEGExport, codecNormalQuality, Pixels::Grey40, 1, false, kJPEGClose},
        {kQTFileTypeJPEGExport, codecNormalQuality, Pixels::Grey16, 1, false, kJPEGClose},
        {kQTFileTypeJPEG2000Export, codecLosslessQuality, Pixels::ARGB, 4, false, kEqual},
        {kQTFileTypeJPEG2000Export, codecLosslessQuality, Pixels::Grey40, 1, false, kEqual},
        {kQTFileTypeJPEG2000Export, codecLosslessQuality, Pixels::Grey16, 1, true, kEqual},
        {kQTFileTypeJPEG2000Export, codecHighQuality, Pixels::ARGB, 4, false, kJPEG2000Close},
    };
    std::vector<std::string> files;
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(i);
        GraphicsExportComponent exporter = openExporter(c.subType);
        ASSERT_NE(exporter, nullptr);
        GWorldPtr world = newWorld(c.pixels);
        ASSERT_EQ(GraphicsExportSetCompressionQuality(exporter, c.quality), noErr);
        ASSERT_EQ(GraphicsExportSetInputGWorld(exporter, world), noErr);

        // The same stream into a file, a file reference, a handle (resized from larger) and a
        // handle reference; the input stays set from one export to the next.
        const std::string file = scratch().file("case-" + std::to_string(i));
        const std::string aliasFile = file + "-alias";
        std::vector<std::string> streams;
        UInt32 written = 0;
        const FSSpec spec = specOf(file);
        ASSERT_EQ(GraphicsExportSetOutputFile(exporter, &spec), noErr);
        ASSERT_EQ(GraphicsExportDoExport(exporter, &written), noErr);
        streams.push_back(testsupport::readFile(file));
        EXPECT_EQ(written, streams.back().size());

        const FSSpec aliasSpec = specOf(aliasFile);
        Handle alias = nullptr;
        OSType aliasType = 0;
        ASSERT_EQ(QTNewDataReferenceFromFSSpec(&aliasSpec, 0, &alias, &aliasType), noErr);
        ASSERT_EQ(GraphicsExportSetOutputDataReference(exporter, alias, aliasType), noErr);
        DisposeHandle(alias); // the exporter keeps what it names
        ASSERT_EQ(GraphicsExportDoExport(exporter, &written), noErr);
        streams.push_back(testsupport::readFile(aliasFile));

        Handle big = NewHandleClear(100000);
        ASSERT_EQ(GraphicsExportSetOutputHandle(exporter, big), noErr);
        ASSERT_EQ(GraphicsExportDoExport(exporter, &written), noErr);
        streams.push_back(bytesOf(big));
        EXPECT_EQ(written, streams.back().size());

        Handle target = NewHandle(1);
        Handle ref = handleReference(target);
        ASSERT_EQ(GraphicsExportSetOutputDataReference(exporter, ref, HandleDataHandlerSubType), noErr);
        ASSERT_EQ(GraphicsExportDoExport(exporter, nullptr), noErr);
        streams.push_back(bytesOf(target));

        EXPECT_GT(streams[0].size(), 0u);
        for (const std::string& stream : streams)
            EXPECT_TRUE(stream == streams[0]) << stream.size() << " bytes against " << streams[0].size();
        files.push_back(file);
        DisposeHandle(ref);
        DisposeHandle(target);
        DisposeHandle(big);
        DisposeGWorld(world);
        EXPECT_EQ(CloseComponent(exporter), noErr);
    }

    const std::vector<View> views = readBack(files);
    ASSERT_EQ(views.size(), std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        const View& v = views[i];
        SCOPED_TRACE(std::to_string(i) + " read as " + v.mode);
        EXPECT_EQ(v.width, s.width);
        EXPECT_EQ(v.height, s.height);
        EXPECT_EQ(v.components, c.components);
        EXPECT_EQ(v.wide, c.wide);
        expectClose(v.samples, expected(c.pixels, c.components, c.wide), c.closeness);
    }
}

TEST(GraphicsExport, DepthsReshapeThePixels) {
    ASSERT_GT(source().width, 0);
    struct Case {
        Pixels pixels;
        OSType subType;
        int32_t depth;
        int components; // as PIL reads them
        Closeness closeness;
    } cases[] = {
        {Pixels::ARGB, kQTFileTypePNGExport, 8, 1, kEqual},
        {Pixels::ARGB, kQTFileTypePNGExport, 40, 1, kEqual},
        {Pixels::ARGB, kQTFileTypePNGExport, 24, 3, kEqual},
        {Pixels::ARGB, kQTFileTypeBMPExport, 24, 3, kEqual},
        {Pixels::ARGB, kQTFileTypeJPEGExport, 32, 3, kJPEGClose}, // JPEG holds no alpha
        {Pixels::Grey40, kQTFileTypePNGExport, 24, 3, kEqual},
        {Pixels::Grey40, kQTFileTypeBMPExport, 32, 4, kEqual},
        {Pixels::Grey16, kQTFileTypePNGExport, 8, 1, kEqual},
        {Pixels::Grey16, kQTFileTypeJPEG2000Export, 24, 3, kEqual},
    };
    std::vector<std::string> files;
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(i);
        GraphicsExportComponent exporter = openExporter(c.subType);
        ASSERT_NE(exporter, nullptr);
        GWorldPtr world = newWorld(c.pixels);
        ASSERT_EQ(GraphicsExportSetInputGWorld(exporter, world), noErr);
        ASSERT_EQ(GraphicsExportSetCompressionQuality(exporter, codecLosslessQuality), noErr);
        ASSERT_EQ(GraphicsExportSetDepth(exporter, c.depth), noErr);
        // A depth the exporters do not write is refused and leaves the one set.
        EXPECT_EQ(GraphicsExportSetDepth(exporter, 16), paramErr);
        int32_t depth = -1;
        ASSERT_EQ(GraphicsExportGetDepth(exporter, &depth), noErr);
        EXPECT_EQ(depth, c.depth);
        files.push_back(scratch().file("depth-" + std::to_string(i)));
        testsupport::writeFile(files.back(), exportToHandle(exporter));
        DisposeGWorld(world);
        EXPECT_EQ(CloseComponent(exporter), noErr);
    }
    const std::vector<View> views = readBack(files);
    ASSERT_EQ(views.size(), std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(std::to_string(i) + " read as " + views[i].mode);
        EXPECT_EQ(views[i].components, c.components);
        EXPECT_FALSE(views[i].wide);
        expectClose(views[i].samples, expected(c.pixels, c.components, false), c.closeness);
    }
}

TEST(GraphicsExport, CompressedDataImagesAndContextsExportAsTheWorldOfTheirPixels) {
    const Source& s = source();
    ASSERT_GT(s.width, 0);
    GWorldPtr world = newWorld(Pixels::ARGB);
    GraphicsExportComponent png = openExporter(kQTFileTypePNGExport);
    GraphicsExportComponent bmp = openExporter(kQTFileTypeBMPExport);
    ASSERT_EQ(GraphicsExportSetInputGWorld(png, world), noErr);
    ASSERT_EQ(GraphicsExportSetInputPixmap(bmp, GetGWorldPixMap(world)), noErr);
    const std::string worldPNG = exportToHandle(png);
    const std::string worldBMP = exportToHandle(bmp);
    ASSERT_FALSE(worldPNG.empty());
    ASSERT_FALSE(worldBMP.empty());

    // PIL's PNG, described as the importer describes it, decoded when the export runs.
    const FSSpec pilPNG = specOf(scratch().file("source.png"));
    GraphicsImportComponent importer = nullptr;
    ASSERT_EQ(GetGraphicsImporterForFile(&pilPNG, &importer), noErr);
    ImageDescriptionHandle desc = nullptr;
    ASSERT_EQ(GraphicsImportGetImageDescription(importer, &desc), noErr);
    CloseComponent(importer);
    std::string data = s.png;
    ASSERT_EQ(GraphicsExportSetInputPtr(bmp, data.data(), UInt32(data.size()), desc), noErr);
    EXPECT_EQ(exportToHandle(bmp), worldBMP);
    Handle dataHandle = handleWith(s.png);
    ASSERT_EQ(GraphicsExportSetInputHandle(png, dataHandle, desc), noErr);
    EXPECT_EQ(exportToHandle(png), worldPNG);

    // An image of R, G, B, A bytes, which the exporter keeps alive after its maker lets it go.
    std::vector<uint8_t> rgba = s.rgba;
    CGColorSpaceRef space = CGColorSpaceCreateDeviceRGB();
    CGDataProviderRef provider = CGDataProviderCreateWithData(nullptr, rgba.data(), rgba.size(), nullptr);
    CGImageRef image = CGImageCreate(size_t(s.width), size_t(s.height), 8, 32, size_t(s.width) * 4, space,
                                     kCGImageAlphaLast, provider, nullptr, false, kCGRenderingIntentDefault);
    ASSERT_NE(image, nullptr);
    ASSERT_EQ(GraphicsExportSetInputCGImage(png, image), noErr);
    CGImageRelease(image);
    CGDataProviderRelease(provider);
    EXPECT_EQ(exportToHandle(png), worldPNG);

    // A context of B, G, R, A bytes: alpha first in a little-endian word.
    std::vector<uint8_t> bgra(rgba.size());
    for (size_t i = 0; i < rgba.size(); i += 4) {
        const uint8_t pixel[4] = {rgba[i + 2], rgba[i + 1], rgba[i], rgba[i + 3]};
        std::memcpy(&bgra[i], pixel, 4);
    }
    CGContextRef context =
        CGBitmapContextCreate(bgra.data(), size_t(s.width), size_t(s.height), 8, size_t(s.width) * 4, space,
                              kCGImageAlphaFirst | kCGBitmapByteOrder32Little);
    ASSERT_NE(context, nullptr);
    ASSERT_EQ(GraphicsExportSetInputCGBitmapContext(bmp, context), noErr);
    EXPECT_EQ(exportToHandle(bmp), worldBMP);
    // A picture recorded from the world's pixels.
    GWorldPtr port = nullptr;
    Rect frame{0, 0, int16_t(s.height), int16_t(s.width)};
    ASSERT_EQ(QTNewGWorld(&port, k32ARGBPixelFormat, &frame, nullptr, nullptr, 0), noErr);
    CGrafPtr savedPort = nullptr;
    GDHandle savedDevice = nullptr;
    GetGWorld(&savedPort, &savedDevice);
    SetGWorld(port, nullptr);
    PicHandle recorded = OpenPicture(&frame);
    ASSERT_NE(recorded, nullptr);
    CopyBits(GetPortBitMapForCopyBits(world), GetPortBitMapForCopyBits(port), &frame, &frame, srcCopy,
             nullptr);
    ClosePicture();
    SetGWorld(savedPort, savedDevice);
    ASSERT_EQ(GraphicsExportSetInputPicture(png, recorded), noErr);
    EXPECT_EQ(exportToHandle(png), worldPNG);
    KillPicture(recorded);
    DisposeGWorld(port);
    // Another input releases the context the exporter held; closing releases the image.
    ASSERT_EQ(GraphicsExportSetInputGWorld(bmp, world), noErr);
    CGContextRelease(context);
    CGColorSpaceRelease(space);

    EXPECT_EQ(CloseComponent(png), noErr);
    EXPECT_EQ(CloseComponent(bmp), noErr);
    DisposeHandle(dataHandle);
    DisposeHandle(reinterpret_cast<Handle>(desc));
    DisposeGWorld(world);
}

TEST(GraphicsExport, CGPixelsOfEachLayoutBecomePictures) {
    // Three pixels (R, G, B, A): (10, 20, 30, 255), (200, 100, 50, 128), (7, 8, 9, 0), in two
    // rows whose stride is longer than the pixels. Premultiplied colours are divided back by
    // their alpha, rounded; a pixel of alpha 0 is black.
    struct Case {
        const char* name;
        bool grey;
        CGBitmapInfo info;
        size_t bitsPerPixel;
        std::vector<uint8_t> memory; // one row
        int components;
        std::vector<uint8_t> picture; // one row
    } cases[] = {
        {"grey", true, kCGImageAlphaNone, 8, {10, 200, 7}, 1, {10, 200, 7}},
        {"RGB",
         false,
         kCGImageAlphaNone,
         24,
         {10, 20, 30, 200, 100, 50, 7, 8, 9},
         3,
         {10, 20, 30, 200, 100, 50, 7, 8, 9}},
        {"RGBX",
         false,
         kCGImageAlphaNoneSkipLast,
         32,
         {10, 20, 30, 1, 200, 100, 50, 1, 7, 8, 9, 1},
         3,
         {10, 20, 30, 200, 100, 50, 7, 8, 9}},
        {"XRGB",
         false,
         kCGImageAlphaNoneSkipFirst,
         32,
         {1, 10, 20, 30, 1, 200, 100, 50, 1, 7, 8, 9},
         3,
         {10, 20, 30, 200, 100, 50, 7, 8, 9}},
        {"BGRX little",
         false,
         kCGImageAlphaNoneSkipFirst | kCGBitmapByteOrder32Little,
         32,
         {30, 20, 10, 1, 50, 100, 200, 1, 9, 8, 7, 1},
         3,
         {10, 20, 30, 200, 100, 50, 7, 8, 9}},
        {"RGBA",
         false,
         kCGImageAlphaLast,
         32,
         {10, 20, 30, 255, 200, 100, 50, 128, 7, 8, 9, 0},
         4,
         {10, 20, 30, 255, 200, 100, 50, 128, 7, 8, 9, 0}},
        {"ARGB",
         false,
         kCGImageAlphaFirst | kCGBitmapByteOrder32Big,
         32,
         {255, 10, 20, 30, 128, 200, 100, 50, 0, 7, 8, 9},
         4,
         {10, 20, 30, 255, 200, 100, 50, 128, 7, 8, 9, 0}},
        {"premultiplied RGBA",
         false,
         kCGImageAlphaPremultipliedLast,
         32,
         {10, 20, 30, 255, 100, 50, 25, 128, 7, 8, 9, 0},
         4,
         {10, 20, 30, 255, 199, 100, 50, 128, 0, 0, 0, 0}},
        {"premultiplied BGRA little",
         false,
         kCGImageAlphaPremultipliedFirst | kCGBitmapByteOrder32Little,
         32,
         {30, 20, 10, 255, 25, 50, 100, 128, 9, 8, 7, 0},
         4,
         {10, 20, 30, 255, 199, 100, 50, 128, 0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t stride = c.memory.size() + 5;
        std::vector<uint8_t> memory(stride * 2, 0xEE);
        std::memcpy(memory.data(), c.memory.data(), c.memory.size());
        std::memcpy(memory.data() + stride, c.memory.data(), c.memory.size());
        std::vector<uint8_t> want = c.picture;
        want.insert(want.end(), c.picture.begin(), c.picture.end());
        CGColorSpaceRef space = c.grey ? CGColorSpaceCreateDeviceGray() : CGColorSpaceCreateDeviceRGB();
        CGDataProviderRef provider =
            CGDataProviderCreateWithData(nullptr, memory.data(), memory.size(), nullptr);
        CGImageRef image = CGImageCreate(3, 2, 8, c.bitsPerPixel, stride, space, c.info, provider, nullptr,
                                         false, kCGRenderingIntentDefault);
        CGContextRef context = CGBitmapContextCreate(memory.data(), 3, 2, 8, stride, space, c.info);
        ASSERT_NE(image, nullptr);
        ASSERT_NE(context, nullptr);
        platform::codec::Picture fromImage, fromContext;
        ASSERT_EQ(platform::cgImageToPicture(image, fromImage), noErr);
        ASSERT_EQ(platform::cgBitmapContextToPicture(context, fromContext), noErr);
        for (const platform::codec::Picture* p : {&fromImage, &fromContext}) {
            EXPECT_EQ(p->width, 3);
            EXPECT_EQ(p->height, 2);
            EXPECT_EQ(p->components, c.components);
            EXPECT_EQ(p->bitsPerSample, 8);
            EXPECT_EQ(p->samples, want);
        }
        CGContextRelease(context);
        CGImageRelease(image);
        CGDataProviderRelease(provider);
        CGColorSpaceRelease(space);
    }

    // Layouts that are not read.
    std::vector<uint8_t> memory(256, 0);
    CGColorSpaceRef rgb = CGColorSpaceCreateDeviceRGB(), grey = CGColorSpaceCreateDeviceGray(),
                    cmyk = CGColorSpaceCreateDeviceCMYK();
    struct Refused {
        const char* name;
        CGColorSpaceRef space;
        size_t bitsPerComponent;
        CGBitmapInfo info;
    } refused[] = {
        {"16-bit components", rgb, 16, kCGImageAlphaNone},
        {"float components", rgb, 32, kCGImageAlphaPremultipliedLast | kCGBitmapFloatComponents},
        {"16-bit byte order", rgb, 8, kCGImageAlphaPremultipliedFirst | kCGBitmapByteOrder16Little},
        {"CMYK", cmyk, 8, kCGImageAlphaNone},
        {"alpha only", rgb, 8, kCGImageAlphaOnly},
        {"grey with alpha", grey, 8, kCGImageAlphaPremultipliedLast},
    };
    platform::codec::Picture picture;
    for (const Refused& r : refused) {
        SCOPED_TRACE(r.name);
        CGContextRef context =
            CGBitmapContextCreate(memory.data(), 2, 2, r.bitsPerComponent, 64, r.space, r.info);
        ASSERT_NE(context, nullptr);
        EXPECT_EQ(platform::cgBitmapContextToPicture(context, picture), cDepthErr);
        EXPECT_TRUE(picture.samples.empty());
        CGContextRelease(context);
    }
    // An image whose pixels are wider than its components need, or whose decode array remaps
    // them; the identity decode array is read as no array.
    CGDataProviderRef provider = CGDataProviderCreateWithData(nullptr, memory.data(), memory.size(), nullptr);
    CGImageRef wide = CGImageCreate(2, 2, 8, 32, 8, rgb, kCGImageAlphaNone, provider, nullptr, false, 0);
    EXPECT_EQ(platform::cgImageToPicture(wide, picture), cDepthErr);
    const CGFloat inverted[2] = {1, 0}, identity[2] = {0, 1};
    CGImageRef invertedImage =
        CGImageCreate(2, 2, 8, 8, 8, grey, kCGImageAlphaNone, provider, inverted, false, 0);
    EXPECT_EQ(platform::cgImageToPicture(invertedImage, picture), cDepthErr);
    CGImageRef identityImage =
        CGImageCreate(2, 2, 8, 8, 8, grey, kCGImageAlphaNone, provider, identity, false, 0);
    EXPECT_EQ(platform::cgImageToPicture(identityImage, picture), noErr);
    // Nothing, or another kind of object.
    EXPECT_EQ(platform::cgImageToPicture(nullptr, picture), paramErr);
    EXPECT_EQ(platform::cgBitmapContextToPicture(reinterpret_cast<CGContextRef>(identityImage), picture),
              paramErr);
    EXPECT_TRUE(picture.samples.empty());
    for (CGImageRef image : {wide, invertedImage, identityImage})
        CGImageRelease(image);
    CGDataProviderRelease(provider);
    for (CGColorSpaceRef space : {rgb, grey, cmyk})
        CGColorSpaceRelease(space);
}

TEST(GraphicsExport, AFailedExportLeavesItsOutputAsItWas) {
    ASSERT_GT(source().width, 0);
    GWorldPtr world = newWorld(Pixels::ARGB);
    GraphicsExportComponent exporter = openExporter(kQTFileTypeJPEGExport);
    ASSERT_NE(exporter, nullptr);
    UInt32 written = 99;

    // Nothing to read, nowhere to write.
    EXPECT_EQ(GraphicsExportDoExport(exporter, &written), paramErr);
    EXPECT_EQ(written, 0u);
    ASSERT_EQ(GraphicsExportSetInputGWorld(exporter, world), noErr);
    EXPECT_EQ(GraphicsExportDoExport(exporter, &written), dataNoDataRef);

    // A folder that does not exist: nothing is made.
    const std::string missing = scratch().file("no-such-folder/out.jpg");
    FSSpec spec = specOf(missing);
    ASSERT_EQ(GraphicsExportSetOutputFile(exporter, &spec), noErr);
    written = 99;
    EXPECT_EQ(GraphicsExportDoExport(exporter, &written), fnfErr);
    EXPECT_EQ(written, 0u);
    EXPECT_FALSE(std::filesystem::exists(scratch().file("no-such-folder")));
    // A folder where the file should be.
    const std::string folder = scratch().file("a-folder");
    std::filesystem::create_directories(folder);
    spec = specOf(folder);
    ASSERT_EQ(GraphicsExportSetOutputFile(exporter, &spec), noErr);
    EXPECT_EQ(GraphicsExportDoExport(exporter, &written), ioErr);
    EXPECT_TRUE(std::filesystem::is_directory(folder));

    // Data that does not decode as its description says: the file, the handle and the handle
    // behind a reference keep what they held, and no stray file is left beside the output.
    const std::string garbage = "\xFF\xD8\xFF\xE0 this is no JPEG stream at all";
    ImageDescriptionHandle desc =
        reinterpret_cast<ImageDescriptionHandle>(NewHandleClear(sizeof(ImageDescription)));
    (**desc).idSize = sizeof(ImageDescription);
    (**desc).cType = FOUR_CHAR_CODE("jpeg");
    (**desc).width = 8;
    (**desc).height = 8;
    (**desc).depth = 24;
    ASSERT_EQ(
        GraphicsExportSetInputPtr(exporter, const_cast<char*>(garbage.data()), UInt32(garbage.size()), desc),
        noErr);
    const testsupport::ScratchDir outputs("graphics-export-failed");
    const std::string kept = outputs.file("kept.jpg");
    testsupport::writeFile(kept, "what the file held");
    spec = specOf(kept);
    ASSERT_EQ(GraphicsExportSetOutputFile(exporter, &spec), noErr);
    const ComponentResult failure = GraphicsExportDoExport(exporter, &written);
    EXPECT_EQ(failure, codecBadDataErr);
    EXPECT_EQ(testsupport::readFile(kept), "what the file held");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(outputs.path()),
                            std::filesystem::directory_iterator()),
              1);
    Handle h = handleWith("what the handle held");
    ASSERT_EQ(GraphicsExportSetOutputHandle(exporter, h), noErr);
    EXPECT_EQ(GraphicsExportDoExport(exporter, &written), failure);
    EXPECT_EQ(bytesOf(h), "what the handle held");
    Handle ref = handleReference(h);
    ASSERT_EQ(GraphicsExportSetOutputDataReference(exporter, ref, HandleDataHandlerSubType), noErr);
    EXPECT_EQ(GraphicsExportDoExport(exporter, &written), failure);
    EXPECT_EQ(bytesOf(h), "what the handle held");
    EXPECT_EQ(written, 0u);

    // Inputs refused when they are set leave the input that was set.
    PicHandle shortPicture = reinterpret_cast<PicHandle>(NewHandleClear(5));
    PicHandle emptyPicture = reinterpret_cast<PicHandle>(NewHandleClear(sizeof(Picture)));
    Handle shortDesc = NewHandleClear(40);
    EXPECT_EQ(GraphicsExportSetInputPicture(exporter, nullptr), paramErr);
    EXPECT_EQ(GraphicsExportSetInputPicture(exporter, shortPicture), paramErr);
    EXPECT_EQ(GraphicsExportSetInputPicture(exporter, emptyPicture), paramErr);
    EXPECT_EQ(GraphicsExportSetInputPtr(exporter, nullptr, 10, desc), paramErr);
    EXPECT_EQ(GraphicsExportSetInputPtr(exporter, const_cast<char*>(garbage.data()), 0, desc), paramErr);
    EXPECT_EQ(GraphicsExportSetInputHandle(exporter, h, reinterpret_cast<ImageDescriptionHandle>(shortDesc)),
              paramErr);
    EXPECT_EQ(GraphicsExportSetInputGWorld(exporter, reinterpret_cast<GWorldPtr>(&spec)), paramErr);
    EXPECT_EQ(GraphicsExportSetInputPixmap(exporter, nullptr), paramErr);
    EXPECT_EQ(GraphicsExportSetInputCGImage(exporter, nullptr), paramErr);
    EXPECT_EQ(GraphicsExportSetInputCGBitmapContext(exporter, nullptr), paramErr);
    CGColorSpaceRef space = CGColorSpaceCreateDeviceRGB(); // neither an image nor a context
    EXPECT_EQ(GraphicsExportSetInputCGImage(exporter, reinterpret_cast<CGImageRef>(space)), paramErr);
    EXPECT_EQ(GraphicsExportSetInputCGBitmapContext(exporter, reinterpret_cast<CGContextRef>(space)),
              paramErr);
    CGColorSpaceRelease(space);
    EXPECT_EQ(GraphicsExportDoExport(exporter, &written), failure);

    // Outputs refused.
    Handle url = handleWith(std::string("http://example.invalid/a.jpg") + '\0');
    EXPECT_EQ(GraphicsExportSetOutputDataReference(exporter, url, URLDataHandlerSubType), cantFindHandler);
    EXPECT_EQ(GraphicsExportSetOutputDataReference(exporter, nullptr, AliasDataHandlerSubType), paramErr);
    Handle nullRef = handleReference(nullptr);
    EXPECT_EQ(GraphicsExportSetOutputDataReference(exporter, nullRef, HandleDataHandlerSubType), paramErr);
    EXPECT_EQ(GraphicsExportSetOutputFile(exporter, nullptr), paramErr);
    EXPECT_EQ(GraphicsExportSetOutputHandle(exporter, nullptr), paramErr);

    for (Handle each : {reinterpret_cast<Handle>(shortPicture), reinterpret_cast<Handle>(emptyPicture),
                        shortDesc, url, nullRef, ref, h, reinterpret_cast<Handle>(desc)})
        DisposeHandle(each);
    EXPECT_EQ(CloseComponent(exporter), noErr);
    DisposeGWorld(world);
}

TEST(GraphicsExport, SettingsAreKeptAndTheOutputFileGetsItsTypeAndCreator) {
    ASSERT_GT(source().width, 0);
    struct Case {
        OSType subType;
        OSType extension;
    } cases[] = {
        {kQTFileTypePNGExport, FOUR_CHAR_CODE("png ")},
        {kQTFileTypeBMPExport, FOUR_CHAR_CODE("bmp ")},
        {kQTFileTypeJPEGExport, FOUR_CHAR_CODE("jpg ")},
        {kQTFileTypeJPEG2000Export, FOUR_CHAR_CODE("jp2 ")},
    };
    for (const Case& c : cases) {
        GraphicsExportComponent exporter = openExporter(c.subType);
        ASSERT_NE(exporter, nullptr);
        OSType type = 0, creator = 0, extension = 0;
        ASSERT_EQ(GraphicsExportGetDefaultFileTypeAndCreator(exporter, &type, &creator), noErr);
        EXPECT_EQ(type, c.subType);
        EXPECT_EQ(creator, platform::kVendorCode);
        ASSERT_EQ(GraphicsExportGetOutputFileTypeAndCreator(exporter, &type, &creator), noErr);
        EXPECT_EQ(type, c.subType);
        EXPECT_EQ(creator, platform::kVendorCode);
        ASSERT_EQ(GraphicsExportGetDefaultFileNameExtension(exporter, &extension), noErr);
        EXPECT_EQ(extension, c.extension);
        EXPECT_EQ(CloseComponent(exporter), noErr);
    }

    GraphicsExportComponent exporter = openExporter(kQTFileTypePNGExport);
    ASSERT_NE(exporter, nullptr);
    CodecQ quality = 0;
    ASSERT_EQ(GraphicsExportGetCompressionQuality(exporter, &quality), noErr);
    EXPECT_EQ(quality, codecNormalQuality);
    ASSERT_EQ(GraphicsExportSetCompressionQuality(exporter, 5000), noErr);
    ASSERT_EQ(GraphicsExportGetCompressionQuality(exporter, &quality), noErr);
    EXPECT_EQ(quality, codecLosslessQuality);

    Fixed h = 0, v = 0;
    ASSERT_EQ(GraphicsExportGetResolution(exporter, &h, &v), noErr);
    EXPECT_EQ(h, Fixed(72 << 16));
    EXPECT_EQ(v, Fixed(72 << 16));
    ASSERT_EQ(GraphicsExportSetResolution(exporter, 300 << 16, 150 << 16), noErr);
    EXPECT_EQ(GraphicsExportSetResolution(exporter, 0, 150 << 16), paramErr);
    ASSERT_EQ(GraphicsExportGetResolution(exporter, &h, &v), noErr);
    EXPECT_EQ(h, Fixed(300 << 16));
    EXPECT_EQ(v, Fixed(150 << 16));

    UInt32 target = 1;
    ASSERT_EQ(GraphicsExportGetTargetDataSize(exporter, &target), noErr);
    EXPECT_EQ(target, 0u);
    ASSERT_EQ(GraphicsExportSetTargetDataSize(exporter, 123456), noErr);
    ASSERT_EQ(GraphicsExportGetTargetDataSize(exporter, &target), noErr);
    EXPECT_EQ(target, 123456u);

    Boolean dontRecompress = 1;
    ASSERT_EQ(GraphicsExportGetDontRecompress(exporter, &dontRecompress), noErr);
    EXPECT_EQ(dontRecompress, 0);
    ASSERT_EQ(GraphicsExportSetDontRecompress(exporter, 1), noErr);
    ASSERT_EQ(GraphicsExportGetDontRecompress(exporter, &dontRecompress), noErr);
    EXPECT_EQ(dontRecompress, 1);

    // The file written takes the output type and creator; one it replaces keeps its mode.
    ASSERT_EQ(
        GraphicsExportSetOutputFileTypeAndCreator(exporter, FOUR_CHAR_CODE("TEST"), FOUR_CHAR_CODE("crea")),
        noErr);
    OSType type = 0, creator = 0;
    ASSERT_EQ(GraphicsExportGetOutputFileTypeAndCreator(exporter, &type, &creator), noErr);
    EXPECT_EQ(type, FOUR_CHAR_CODE("TEST"));
    EXPECT_EQ(creator, FOUR_CHAR_CODE("crea"));
    GWorldPtr world = newWorld(Pixels::Grey40);
    ASSERT_EQ(GraphicsExportSetInputGWorld(exporter, world), noErr);
    const std::string path = scratch().file("typed.png");
    testsupport::writeFile(path, "older");
    std::filesystem::permissions(path, std::filesystem::perms::owner_read |
                                           std::filesystem::perms::owner_write |
                                           std::filesystem::perms::group_read);
    const FSSpec spec = specOf(path);
    ASSERT_EQ(GraphicsExportSetOutputFile(exporter, &spec), noErr);
    ASSERT_EQ(GraphicsExportDoExport(exporter, nullptr), noErr);
    EXPECT_EQ(testsupport::readFile(path).substr(1, 3), "PNG");
    EXPECT_EQ(std::filesystem::status(path).permissions(), std::filesystem::perms::owner_read |
                                                               std::filesystem::perms::owner_write |
                                                               std::filesystem::perms::group_read);
    FInfo info{};
    ASSERT_EQ(FSpGetFInfo(&spec, &info), noErr);
    EXPECT_EQ(info.fdType, FOUR_CHAR_CODE("TEST"));
    EXPECT_EQ(info.fdCreator, FOUR_CHAR_CODE("crea"));

    // Results need somewhere to go.
    EXPECT_EQ(GraphicsExportGetCompressionQuality(exporter, nullptr), paramErr);
    EXPECT_EQ(GraphicsExportGetDepth(exporter, nullptr), paramErr);
    EXPECT_EQ(GraphicsExportGetResolution(exporter, &h, nullptr), paramErr);
    EXPECT_EQ(GraphicsExportGetDefaultFileNameExtension(exporter, nullptr), paramErr);
    EXPECT_EQ(CloseComponent(exporter), noErr);
    DisposeGWorld(world);
}

TEST(GraphicsExport, TheExportersAreComponentsAndStrangersGetStatuses) {
    platform::installGraphicsExporters();
    ComponentDescription looking{GraphicsExporterComponentType, 0, 0, 0, 0};
    EXPECT_EQ(CountComponents(&looking), 4);
    // None of them is a base exporter (flag bit 0), so the toolkit lists them all.
    looking.componentFlagsMask = 1;
    EXPECT_EQ(CountComponents(&looking), 4);

    GraphicsExportComponent exporter = reinterpret_cast<GraphicsExportComponent>(&looking);
    EXPECT_EQ(OpenADefaultComponent(GraphicsExporterComponentType, FOUR_CHAR_CODE("GIFf"), &exporter),
              cantFindHandler);
    EXPECT_EQ(exporter, nullptr);
    GraphicsImportComponent importer = nullptr;
    ASSERT_EQ(OpenADefaultComponent(GraphicsImporterComponentType, FOUR_CHAR_CODE("GIFf"), &importer), noErr);
    exporter = openExporter(kQTFileTypeJPEG2000Export);
    ASSERT_NE(exporter, nullptr);
    EXPECT_EQ(CloseComponent(exporter), noErr);

    // A closed exporter, an importer, a null instance and a pointer to something else.
    Handle h = NewHandle(4);
    const FSSpec spec = specOf(scratch().file("never-written"));
    for (GraphicsExportComponent stranger : {exporter, importer, GraphicsExportComponent(nullptr),
                                             reinterpret_cast<GraphicsExportComponent>(h)}) {
        UInt32 written = 7;
        CodecQ quality = 0;
        int32_t depth = 0;
        OSType type = 0, creator = 0;
        EXPECT_EQ(GraphicsExportDoExport(stranger, &written), badComponentInstance);
        EXPECT_EQ(written, 0u);
        EXPECT_EQ(GraphicsExportSetInputGWorld(stranger, nullptr), badComponentInstance);
        EXPECT_EQ(GraphicsExportSetInputPicture(stranger, nullptr), badComponentInstance);
        EXPECT_EQ(GraphicsExportSetOutputHandle(stranger, h), badComponentInstance);
        EXPECT_EQ(GraphicsExportSetOutputFile(stranger, &spec), badComponentInstance);
        EXPECT_EQ(GraphicsExportSetOutputDataReference(stranger, h, FOUR_CHAR_CODE("url ")),
                  badComponentInstance);
        EXPECT_EQ(GraphicsExportSetCompressionQuality(stranger, 0), badComponentInstance);
        EXPECT_EQ(GraphicsExportGetCompressionQuality(stranger, &quality), badComponentInstance);
        EXPECT_EQ(GraphicsExportSetDepth(stranger, 24), badComponentInstance);
        EXPECT_EQ(GraphicsExportGetDepth(stranger, &depth), badComponentInstance);
        EXPECT_EQ(GraphicsExportGetDefaultFileTypeAndCreator(stranger, &type, &creator),
                  badComponentInstance);
        EXPECT_EQ(GraphicsExportSetOutputFileTypeAndCreator(stranger, type, creator), badComponentInstance);
        QTAtomContainer settings = reinterpret_cast<QTAtomContainer>(h);
        Handle text = h;
        EXPECT_EQ(GraphicsExportGetSettingsAsAtomContainer(stranger, &settings), badComponentInstance);
        EXPECT_EQ(settings, nullptr);
        EXPECT_EQ(GraphicsExportSetSettingsFromAtomContainer(stranger, nullptr), badComponentInstance);
        EXPECT_EQ(GraphicsExportGetSettingsAsText(stranger, &text), badComponentInstance);
        EXPECT_EQ(text, nullptr);
        EXPECT_EQ(GraphicsExportRequestSettings(stranger, nullptr, nullptr), badComponentInstance);
        EXPECT_EQ(GraphicsExportSetProgressProc(stranger, nullptr), badComponentInstance);
    }
    EXPECT_FALSE(std::filesystem::exists(spec.path));
    EXPECT_EQ(CloseComponent(importer), noErr);
    DisposeHandle(h);
}

namespace {

// The root atoms of a container as "type:bytes" pairs, in order.
std::vector<std::string> atomsOf(QTAtomContainer container) {
    std::vector<std::string> out;
    QTAtom atom = 0;
    while (QTNextChildAnyType(container, 0, atom, &atom) == noErr && atom != 0) {
        QTAtomType type = 0;
        QTGetAtomTypeAndID(container, atom, &type, nullptr);
        int32_t size = 0;
        Ptr data = nullptr;
        QTGetAtomDataPtr(container, atom, &size, &data);
        char code[4];
        platform::storeBE32(code, type);
        out.push_back(std::string(code, 4) + ":" + std::string(data, size_t(size)));
    }
    return out;
}

std::string settingsText(GraphicsExportComponent exporter) {
    Handle text = nullptr;
    EXPECT_EQ(GraphicsExportGetSettingsAsText(exporter, &text), noErr);
    std::string out = bytesOf(text);
    DisposeHandle(text);
    return out;
}

} // namespace

TEST(GraphicsExport, SettingsTravelAsAtomsAndAsText) {
    GraphicsExportComponent png = openExporter(kQTFileTypePNGExport);
    GraphicsExportComponent jpeg = openExporter(kQTFileTypeJPEGExport);
    ASSERT_NE(png, nullptr);
    ASSERT_NE(jpeg, nullptr);
    const std::string jpegDefaults = settingsText(jpeg);
    EXPECT_EQ(jpegDefaults, "Format=JPEG\nQuality=512\nDepth=0\nResolution=72 x 72 dpi\nTarget data size=0\n"
                            "Don't recompress=NO\nFile type=JPEG\nFile creator=sylm\n");

    ASSERT_EQ(GraphicsExportSetCompressionQuality(png, codecHighQuality), noErr);
    ASSERT_EQ(GraphicsExportSetDepth(png, 24), noErr);
    ASSERT_EQ(GraphicsExportSetResolution(png, 300 << 16, (150 << 16) + 0x8000), noErr);
    ASSERT_EQ(GraphicsExportSetTargetDataSize(png, 1234), noErr);
    ASSERT_EQ(GraphicsExportSetDontRecompress(png, 1), noErr);
    ASSERT_EQ(GraphicsExportSetOutputFileTypeAndCreator(png, FOUR_CHAR_CODE("TEST"), 0x01020304), noErr);
    QTAtomContainer settings = nullptr;
    ASSERT_EQ(GraphicsExportGetSettingsAsAtomContainer(png, &settings), noErr);
    ASSERT_NE(settings, nullptr);
    const std::vector<std::string> expected = {
        std::string("qual:\0\0\x03\0", 9),
        std::string("dpth:\0\0\0\x18", 9),
        std::string("dpi :\x01\x2C\0\0\0\x96\x80\0", 13),
        std::string("tsiz:\0\0\x04\xD2", 9),
        std::string("dntr:\x01", 6),
        std::string("otyp:TEST\x01\x02\x03\x04", 13),
    };
    EXPECT_EQ(atomsOf(settings), expected);
    EXPECT_EQ(settingsText(png), "Format=PNG\nQuality=768\nDepth=24\nResolution=300 x 150.5 dpi\n"
                                 "Target data size=1234\nDon't recompress=YES\nFile type=TEST\n"
                                 "File creator=0x01020304\n");

    // Another exporter takes them, passing over atoms it does not know.
    const char other[] = "someone else's";
    ASSERT_EQ(QTInsertChild(settings, 0, FOUR_CHAR_CODE("CDSC"), 0, 1, sizeof other, other, nullptr), noErr);
    ASSERT_EQ(GraphicsExportSetSettingsFromAtomContainer(jpeg, settings), noErr);
    QTAtomContainer taken = nullptr;
    ASSERT_EQ(GraphicsExportGetSettingsAsAtomContainer(jpeg, &taken), noErr);
    EXPECT_EQ(atomsOf(taken), expected);
    QTDisposeAtomContainer(taken);

    // A container that holds some settings changes only those.
    QTAtomContainer some = nullptr;
    ASSERT_EQ(QTNewAtomContainer(&some), noErr);
    ASSERT_EQ(GraphicsExportSetSettingsFromAtomContainer(jpeg, some), noErr);
    const uint8_t eight[4] = {0, 0, 0, 8};
    ASSERT_EQ(QTInsertChild(some, 0, kGraphicsExportDepthAtom, 0, 0, 4, eight, nullptr), noErr);
    ASSERT_EQ(GraphicsExportSetSettingsFromAtomContainer(jpeg, some), noErr);
    int32_t depth = 0;
    ASSERT_EQ(GraphicsExportGetDepth(jpeg, &depth), noErr);
    EXPECT_EQ(depth, 8);
    CodecQ quality = 0;
    ASSERT_EQ(GraphicsExportGetCompressionQuality(jpeg, &quality), noErr);
    EXPECT_EQ(quality, codecHighQuality);
    QTDisposeAtomContainer(some);

    // Malformed settings are refused whole: a good quality atom comes first in each, and stays
    // unapplied.
    const struct {
        QTAtomType type;
        std::string bytes;
    } malformed[] = {
        {kGraphicsExportQualityAtom, std::string("\0\0\x02", 3)},
        {kGraphicsExportQualityAtom, std::string("\0\0\x04\x01", 4)},
        {kGraphicsExportDepthAtom, std::string("\0\0\0\x10", 4)},
        {kGraphicsExportDepthAtom, std::string("\0\0\0\x18\0", 5)},
        {kGraphicsExportResolutionAtom, std::string("\0\x48\0\0\0\0\0\0", 8)},
        {kGraphicsExportResolutionAtom, std::string("\xFF\xB8\0\0\0\x48\0\0", 8)},
        {kGraphicsExportResolutionAtom, std::string("\0\x48\0\0", 4)},
        {kGraphicsExportTargetDataSizeAtom, std::string("\0\x01", 2)},
        {kGraphicsExportDontRecompressAtom, std::string("\x02", 1)},
        {kGraphicsExportDontRecompressAtom, std::string("\0\0", 2)},
        {kGraphicsExportOutputTypeAtom, std::string("TEST", 4)},
    };
    const std::string before = settingsText(jpeg);
    for (const auto& m : malformed) {
        SCOPED_TRACE(m.bytes.size());
        QTAtomContainer bad = nullptr;
        ASSERT_EQ(QTNewAtomContainer(&bad), noErr);
        const uint8_t low[4] = {0, 0, 0, 0};
        if (m.type != kGraphicsExportQualityAtom) {
            ASSERT_EQ(QTInsertChild(bad, 0, kGraphicsExportQualityAtom, 0, 0, 4, low, nullptr), noErr);
        }
        ASSERT_EQ(QTInsertChild(bad, 0, m.type, 0, 0, int32_t(m.bytes.size()), m.bytes.data(), nullptr),
                  noErr);
        EXPECT_EQ(GraphicsExportSetSettingsFromAtomContainer(jpeg, bad), paramErr);
        EXPECT_EQ(settingsText(jpeg), before);
        QTDisposeAtomContainer(bad);
    }
    // An atom with children in place of data.
    QTAtomContainer parent = nullptr;
    ASSERT_EQ(QTNewAtomContainer(&parent), noErr);
    QTAtom depthParent = 0;
    ASSERT_EQ(QTInsertChild(parent, 0, kGraphicsExportDepthAtom, 0, 0, 0, nullptr, &depthParent), noErr);
    ASSERT_EQ(QTInsertChild(parent, depthParent, kGraphicsExportDepthAtom, 0, 0, 4, eight, nullptr), noErr);
    EXPECT_EQ(GraphicsExportSetSettingsFromAtomContainer(jpeg, parent), paramErr);
    QTDisposeAtomContainer(parent);
    EXPECT_EQ(GraphicsExportSetSettingsFromAtomContainer(jpeg, nullptr), paramErr);
    EXPECT_EQ(GraphicsExportGetSettingsAsAtomContainer(jpeg, nullptr), paramErr);
    EXPECT_EQ(GraphicsExportGetSettingsAsText(jpeg, nullptr), paramErr);

    // There is no dialog: the user is taken to have cancelled it, and nothing changes.
    EXPECT_EQ(GraphicsExportRequestSettings(jpeg, nullptr, nullptr), userCanceledErr);
    EXPECT_EQ(settingsText(jpeg), before);

    QTDisposeAtomContainer(settings);
    EXPECT_EQ(CloseComponent(png), noErr);
    EXPECT_EQ(CloseComponent(jpeg), noErr);
}

namespace {

struct ProgressCall {
    int16_t message;
    Fixed completeness;
    intptr_t refcon;
};

std::vector<ProgressCall>& progressCalls() {
    static std::vector<ProgressCall> calls;
    return calls;
}

OSErr recordProgress(int16_t message, Fixed completeness, intptr_t refcon) {
    progressCalls().push_back({message, completeness, refcon});
    return -1; // what the procedure answers changes nothing
}

} // namespace

TEST(GraphicsExport, ProgressProceduresHearTheExport) {
    ASSERT_GT(source().width, 0);
    GraphicsExportComponent exporter = openExporter(kQTFileTypePNGExport);
    ASSERT_NE(exporter, nullptr);
    GWorldPtr world = newWorld(Pixels::ARGB);
    ASSERT_EQ(GraphicsExportSetInputGWorld(exporter, world), noErr);

    // The record is copied when it is set.
    {
        ICMProgressProcRecord record{recordProgress, 42};
        ASSERT_EQ(GraphicsExportSetProgressProc(exporter, &record), noErr);
        record.progressRefCon = 7;
    }
    progressCalls().clear();
    const std::string stream = exportToHandle(exporter);
    ASSERT_FALSE(stream.empty());
    const std::vector<ProgressCall> calls = progressCalls();
    ASSERT_GE(calls.size(), 4u);
    EXPECT_EQ(calls.front().message, kICMProgressOpen);
    EXPECT_EQ(calls.back().message, kICMProgressClose);
    Fixed last = -1;
    for (size_t i = 1; i + 1 < calls.size(); ++i) {
        EXPECT_EQ(calls[i].message, kICMProgressUpdate);
        EXPECT_GE(calls[i].completeness, last);
        last = calls[i].completeness;
    }
    EXPECT_EQ(calls[1].completeness, 0);
    EXPECT_EQ(last, fixed1);
    for (const ProgressCall& c : calls)
        EXPECT_EQ(c.refcon, 42);

    // A failed export is opened and never closed; one that cannot start is not reported at all.
    const std::string garbage = "\xFF\xD8\xFF\xE0 this is no JPEG stream at all";
    ImageDescriptionHandle desc =
        reinterpret_cast<ImageDescriptionHandle>(NewHandleClear(sizeof(ImageDescription)));
    (**desc).idSize = sizeof(ImageDescription);
    (**desc).cType = FOUR_CHAR_CODE("jpeg");
    (**desc).width = 8;
    (**desc).height = 8;
    (**desc).depth = 24;
    ASSERT_EQ(
        GraphicsExportSetInputPtr(exporter, const_cast<char*>(garbage.data()), UInt32(garbage.size()), desc),
        noErr);
    progressCalls().clear();
    ComponentResult status = noErr;
    exportToHandle(exporter, &status);
    EXPECT_NE(status, noErr);
    ASSERT_FALSE(progressCalls().empty());
    EXPECT_EQ(progressCalls().front().message, kICMProgressOpen);
    for (const ProgressCall& c : progressCalls())
        EXPECT_NE(c.message, kICMProgressClose);
    GraphicsExportComponent fresh = openExporter(kQTFileTypePNGExport);
    ICMProgressProcRecord record{recordProgress, 1};
    ASSERT_EQ(GraphicsExportSetProgressProc(fresh, &record), noErr);
    progressCalls().clear();
    UInt32 written = 0;
    EXPECT_EQ(GraphicsExportDoExport(fresh, &written), paramErr);
    EXPECT_TRUE(progressCalls().empty());

    // The platform's own procedure, none, and a record without procedure: the export runs and
    // nobody else hears of it.
    ASSERT_EQ(GraphicsExportSetInputGWorld(exporter, world), noErr);
    const ICMProgressProcRecord empty{nullptr, 5};
    for (const ICMProgressProcRecord* progress :
         {static_cast<const ICMProgressProcRecord*>(kGraphicsExportDefaultProgress),
          static_cast<const ICMProgressProcRecord*>(nullptr), &empty}) {
        ASSERT_EQ(GraphicsExportSetProgressProc(exporter, progress), noErr);
        progressCalls().clear();
        EXPECT_EQ(exportToHandle(exporter), stream);
        EXPECT_TRUE(progressCalls().empty());
    }
    DisposeHandle(reinterpret_cast<Handle>(desc));
    DisposeGWorld(world);
    EXPECT_EQ(CloseComponent(exporter), noErr);
    EXPECT_EQ(CloseComponent(fresh), noErr);
}

TEST(GraphicsExport, TheExportersSayWhichSelectorsTheyAnswer) {
    GraphicsExportComponent exporter = openExporter(kQTFileTypeBMPExport);
    ASSERT_NE(exporter, nullptr);
    const struct {
        int16_t selector;
        ComponentResult answer;
    } cases[] = {
        {kGraphicsExportRequestSettingsSelect, 1},
        {kGraphicsExportSetMetaDataSelect, 1},
        {kGraphicsExportGetMetaDataSelect, 1},
        {int16_t(kComponentCanDoSelect), 1},
        {0, 0},
        {12, 0},
        {-1, 0},
    };
    for (const auto& c : cases) {
        int16_t asked = c.selector;
        EXPECT_EQ(platform::callComponent(exporter, kComponentCanDoSelect, &asked), c.answer) << c.selector;
    }
    EXPECT_EQ(platform::callComponent(exporter, kComponentCanDoSelect, nullptr), paramErr);
    int16_t asked = 11;
    EXPECT_EQ(platform::callComponent(exporter, kGraphicsExportRequestSettingsSelect, &asked),
              badComponentSelector);
    EXPECT_EQ(CloseComponent(exporter), noErr);
    EXPECT_EQ(platform::callComponent(exporter, kComponentCanDoSelect, &asked), badComponentInstance);
}
