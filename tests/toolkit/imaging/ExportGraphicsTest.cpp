// The graphics export service against Python PIL: buffers, CG images, bitmap contexts, pointer
// data and data references drawn at a target size are exported as PNG, BMP and JPEG into handles,
// files and data references, and PIL reads back what they hold. Also the events of an export,
// settings documents written and read back, the settings text, the default extension, metadata,
// the video parameters and the copy of a service.
#include "KelvoExportGraphics.h"

#include "KelvoCoreObjectsDocument.h"
#include "KelvoUserData.h"

#include "PlatformAtoms.h"
#include "PlatformCF.h"
#include "PlatformCoreGraphics.h"
#include "PlatformEndian.h"
#include "PlatformErrors.h"
#include "PlatformGWorlds.h"
#include "PlatformGraphicsImport.h"
#include "PlatformMemory.h"
#include "PythonPeer.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

// `make FOLDER`: smooth RGB pixels with a little noise, so that JPEG stays close, as source.png
// and as source.rgba ("width height", then R, G, B, A bytes). `read FILE...`: each FILE.view
// holds "width height" and the R, G, B bytes PIL decodes.
const char* kPeer = R"PY(
import os, sys
import numpy as np
from PIL import Image

def make(folder):
    h, w = 21, 34
    y, x = np.mgrid[0:h, 0:w]
    rng = np.random.default_rng(5)
    rgb = np.stack([30 + 6 * x + y, 200 - 2 * x - 5 * y, 60 + 3 * x + 4 * y], axis=2)
    rgb = (rgb + rng.integers(0, 3, (h, w, 3))).astype(np.uint8)
    Image.fromarray(rgb, 'RGB').save(os.path.join(folder, 'source.png'))
    rgba = np.concatenate([rgb, np.full((h, w, 1), 255, np.uint8)], axis=2)
    with open(os.path.join(folder, 'source.rgba'), 'wb') as f:
        f.write(b'%d %d\n' % (w, h) + rgba.tobytes())

def read(paths):
    for path in paths:
        im = Image.open(path).convert('RGB')
        with open(path + '.view', 'wb') as f:
            f.write(b'%d %d\n' % (im.width, im.height) + np.asarray(im).tobytes())

if sys.argv[1] == 'make':
    make(sys.argv[2])
else:
    read(sys.argv[2:])
)PY";

testsupport::ScratchDir& scratch() {
    static testsupport::ScratchDir dir("export-graphics");
    return dir;
}

std::string runPeer(const std::string& arguments) {
    static const std::string script = testsupport::writePeerScript(scratch(), kPeer);
    return testsupport::runPeerScript(script, arguments);
}

struct Source {
    int32_t width = 0, height = 0;
    std::vector<uint8_t> rgba;
    std::string png;
    std::string pngPath;
};

const Source& source() {
    static const Source s = [] {
        Source out;
        const std::string failure = runPeer("make " + scratch().path().string());
        if (!failure.empty()) {
            ADD_FAILURE() << failure;
            return out;
        }
        const std::string text = testsupport::readFile(scratch().file("source.rgba"));
        const size_t eol = text.find('\n');
        if (eol == std::string::npos) return out;
        std::istringstream(text.substr(0, eol)) >> out.width >> out.height;
        if (text.size() != eol + 1 + size_t(out.width) * size_t(out.height) * 4) return Source();
        out.rgba.assign(text.begin() + std::ptrdiff_t(eol + 1), text.end());
        out.pngPath = scratch().file("source.png");
        out.png = testsupport::readFile(out.pngPath);
        return out;
    }();
    return s;
}

// The source's R, G, B samples, or those of the source drawn `scale` times larger.
std::vector<uint8_t> sourceRGB(int scale = 1) {
    const Source& s = source();
    std::vector<uint8_t> out;
    for (int32_t y = 0; y < s.height * scale; ++y)
        for (int32_t x = 0; x < s.width * scale; ++x) {
            const uint8_t* p = &s.rgba[(size_t(y / scale) * size_t(s.width) + size_t(x / scale)) * 4];
            out.insert(out.end(), p, p + 3);
        }
    return out;
}

// A 32-bit buffer of the source pixels.
std::unique_ptr<Kelvo_QDGWorldBuffer> sourceBuffer() {
    const Source& s = source();
    auto buffer = std::make_unique<Kelvo_QDGWorldBuffer>(s.width, s.height, k32ARGBPixelFormat);
    EXPECT_TRUE(buffer->qtObjIsValid());
    for (int32_t y = 0; y < s.height; ++y)
        for (int32_t x = 0; x < s.width; ++x) {
            const uint8_t* p = &s.rgba[(size_t(y) * size_t(s.width) + size_t(x)) * 4];
            uint8_t* q = reinterpret_cast<uint8_t*>(buffer->baseAddress()) +
                         size_t(y) * size_t(buffer->rowBytes()) + size_t(x) * 4;
            q[0] = p[3], q[1] = p[0], q[2] = p[1], q[3] = p[2];
        }
    return buffer;
}

struct View {
    int32_t width = 0, height = 0;
    std::vector<uint8_t> rgb;
};

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
        if (eol != std::string::npos) {
            std::istringstream(text.substr(0, eol)) >> v.width >> v.height;
            v.rgb.assign(text.begin() + std::ptrdiff_t(eol + 1), text.end());
        }
        views.push_back(v);
    }
    return views;
}

// The largest difference between two sample lists of the same length, or 256 when they differ
// in length.
int largestDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    if (a.size() != b.size()) return 256;
    int largest = 0;
    for (size_t i = 0; i < a.size(); ++i)
        largest = std::max(largest, std::abs(int(a[i]) - int(b[i])));
    return largest;
}

FSSpec specOf(const std::string& path) {
    FSSpec spec{};
    std::snprintf(spec.path, sizeof spec.path, "%s", path.c_str());
    return spec;
}

std::string bytesOf(Handle h) {
    return h && *h ? std::string(*h, size_t(GetHandleSize(h))) : std::string();
}

compressionOutputRecord toHandle(Handle h) {
    compressionOutputRecord out{};
    out.kind = kCompressionOutputHandle;
    out.handle = h;
    return out;
}

compressionOutputRecord toFile(const FSSpec* file) {
    compressionOutputRecord out{};
    out.kind = kCompressionOutputFile;
    out.file = file;
    return out;
}

compressionOutputRecord toReference(const Kelvo_DataReference* reference) {
    compressionOutputRecord out{};
    out.kind = kCompressionOutputDataReference;
    out.dataReference = reference;
    return out;
}

// What the events handler hears.
struct Heard {
    uint32_t code;
    int32_t parameter;
    double progress;
    const void* data;
};

class Recorder {
  public:
    static void callback(uint32_t event, void* data, int32_t parameter, void* reference) {
        auto* self = static_cast<Recorder*>(reference);
        const double progress = event == kKelvoEventWorkProgress ? *static_cast<double*>(data) : -1.0;
        self->heard.push_back({event, parameter, progress, data});
    }
    void listenTo(Kelvo_ComponentService& service) {
        service.eventsHandler().setEventsHandler(callback, this);
    }
    std::vector<uint32_t> codes() const {
        std::vector<uint32_t> out;
        for (const Heard& h : heard)
            out.push_back(h.code);
        return out;
    }
    std::vector<Heard> heard;
};

// A service whose default extension a test can choose.
class ExtensionProbe : public Kelvo_ExportGraphics {
  public:
    explicit ExtensionProbe(OSType extension) : Kelvo_ExportGraphics(kQTFileTypePNGExport) {
        _defaultExtension = extension;
    }
};

std::string tagText(uint32_t tag) {
    return std::string(reinterpret_cast<const char*>(&tag), 4);
}

// The bytes of the first root atom of the type.
std::string atomBytes(QTAtomContainer settings, QTAtomType type) {
    const QTAtom atom = QTFindChildByIndex(settings, 0, type, 1, nullptr);
    int32_t size = 0;
    Ptr data = nullptr;
    if (!atom || QTGetAtomDataPtr(settings, atom, &size, &data) != noErr) return "missing";
    return std::string(data, size_t(size));
}

} // namespace

TEST(ExportGraphics, EveryInputKindAndOutputReadsBackInPIL) {
    const Source& s = source();
    ASSERT_GT(s.width, 0) << "the PIL peer could not make the source pixels";
    constexpr int kEqual = 0;
    constexpr int kJPEGClose = 24;
    enum class Input { Buffer, CGImage, CGContext, Pointer, Reference };
    enum class Output { Handle, File, FileReference, HandleReference };
    struct Case {
        Input input;
        OSType subtype;
        Output output;
        int scale;
        int closeness;
    } cases[] = {
        {Input::Buffer, kQTFileTypePNGExport, Output::Handle, 1, kEqual},
        {Input::Buffer, kQTFileTypeJPEGExport, Output::File, 1, kJPEGClose},
        {Input::CGImage, kQTFileTypeBMPExport, Output::File, 1, kEqual},
        {Input::CGImage, kQTFileTypePNGExport, Output::HandleReference, 1, kEqual},
        {Input::CGContext, kQTFileTypeJPEGExport, Output::FileReference, 1, kJPEGClose},
        {Input::CGContext, kQTFileTypePNGExport, Output::Handle, 1, kEqual},
        {Input::Pointer, kQTFileTypeBMPExport, Output::HandleReference, 1, kEqual},
        {Input::Pointer, kQTFileTypeJPEGExport, Output::Handle, 1, kJPEGClose},
        {Input::Reference, kQTFileTypePNGExport, Output::File, 2, kEqual},
        {Input::Reference, kQTFileTypeBMPExport, Output::FileReference, 1, kEqual},
    };

    // The CG objects over the source's bytes: an image of R, G, B, A and a context of B, G, R, A.
    std::vector<uint8_t> rgba = s.rgba;
    std::vector<uint8_t> bgra(rgba.size());
    for (size_t i = 0; i < rgba.size(); i += 4) {
        const uint8_t pixel[4] = {rgba[i + 2], rgba[i + 1], rgba[i], rgba[i + 3]};
        std::memcpy(&bgra[i], pixel, 4);
    }
    CGColorSpaceRef space = CGColorSpaceCreateDeviceRGB();
    CGDataProviderRef provider = CGDataProviderCreateWithData(nullptr, rgba.data(), rgba.size(), nullptr);
    CGImageRef image = CGImageCreate(size_t(s.width), size_t(s.height), 8, 32, size_t(s.width) * 4, space,
                                     kCGImageAlphaLast, provider, nullptr, false, kCGRenderingIntentDefault);
    CGContextRef context =
        CGBitmapContextCreate(bgra.data(), size_t(s.width), size_t(s.height), 8, size_t(s.width) * 4, space,
                              kCGImageAlphaFirst | kCGBitmapByteOrder32Little);
    ASSERT_NE(image, nullptr);
    ASSERT_NE(context, nullptr);
    // PIL's PNG bytes described as the importer describes them.
    FSSpec pngSpec = specOf(s.pngPath);
    GraphicsImportComponent importer = nullptr;
    ASSERT_EQ(GetGraphicsImporterForFile(&pngSpec, &importer), noErr);
    Kelvo_ImgDesc description(importer);
    CloseComponent(importer);
    ASSERT_TRUE(description.qtObjIsValid());
    std::string pngBytes = s.png;
    Kelvo_DataReference pngReference(&pngSpec);
    ASSERT_TRUE(pngReference.qtObjIsValid());

    std::vector<std::string> files;
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(i);
        Kelvo_ExportGraphics service(c.subtype);
        ASSERT_TRUE(service.qtObjIsValid());
        const std::string path = scratch().file("case-" + std::to_string(i));
        FSSpec spec = specOf(path);
        Handle h = NewHandle(0);
        Kelvo_DataReference fileReference(&spec);
        Kelvo_DataReference handleReference(true);
        compressionOutputRecord out{};
        switch (c.output) {
        case Output::Handle:
            out = toHandle(h);
            break;
        case Output::File:
            out = toFile(&spec);
            break;
        case Output::FileReference:
            out = toReference(&fileReference);
            break;
        case Output::HandleReference:
            out = toReference(&handleReference);
            break;
        }

        uint32_t written = 0;
        std::unique_ptr<Kelvo_QDGWorldBuffer> buffer;
        switch (c.input) {
        case Input::Buffer:
            buffer = sourceBuffer();
            written = service.doService(buffer.get(), &out);
            break;
        case Input::CGImage:
            written = service.doService(static_cast<const void*>(image), &out);
            break;
        case Input::CGContext:
            written = service.doService(static_cast<const void*>(context), &out);
            break;
        case Input::Pointer: {
            compressionInputRecord input{};
            input.kind = 2;
            input.pointer = {pngBytes.data(), int32_t(pngBytes.size()), &description};
            service._setInputData(&input);
            ASSERT_EQ(service.Error(), noErr);
            written = service.doService(&out);
            break;
        }
        case Input::Reference: {
            Kelvo_ImgDesc target;
            target.size(Kelvo_Size(s.width * c.scale, s.height * c.scale));
            service.videoParams(&target);
            ASSERT_EQ(service.Error(), noErr);
            written = service.doService(&pngReference, &out);
            break;
        }
        }
        EXPECT_EQ(service.Error(), noErr);
        ASSERT_GT(written, 0u);
        // Where the stream went, saved where PIL can read it.
        std::string stream;
        switch (c.output) {
        case Output::Handle:
            stream = bytesOf(h);
            break;
        case Output::File:
        case Output::FileReference:
            stream = testsupport::readFile(path);
            break;
        case Output::HandleReference:
            stream = bytesOf(handleReference.storage());
            break;
        }
        EXPECT_EQ(stream.size(), written);
        testsupport::writeFile(path, stream);
        files.push_back(path);
        DisposeHandle(h);
    }

    const std::vector<View> views = readBack(files);
    ASSERT_EQ(views.size(), std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(views[i].width, s.width * cases[i].scale);
        EXPECT_EQ(views[i].height, s.height * cases[i].scale);
        EXPECT_LE(largestDifference(views[i].rgb, sourceRGB(cases[i].scale)), cases[i].closeness);
    }
    CGImageRelease(image);
    CGContextRelease(context);
    CGDataProviderRelease(provider);
    CGColorSpaceRelease(space);
}

TEST(ExportGraphics, InputsStaySetUntilARefusalAndOthersAreRefused) {
    ASSERT_GT(source().width, 0);
    Kelvo_ExportGraphics service(kQTFileTypePNGExport);
    std::unique_ptr<Kelvo_QDGWorldBuffer> buffer = sourceBuffer();
    Handle first = NewHandle(0), second = NewHandle(0);
    compressionOutputRecord out = toHandle(first);
    const uint32_t written = service.doService(buffer.get(), &out);
    ASSERT_GT(written, 0u);
    // The same input, exported again.
    out = toHandle(second);
    EXPECT_EQ(service.doService(&out), written);
    EXPECT_EQ(bytesOf(second), bytesOf(first));

    // An output the exporter cannot write to is refused, and nothing goes to the one set before.
    SetHandleSize(second, 0);
    for (compressionOutputRecord strange : {compressionOutputRecord{5, {nullptr}}, toReference(nullptr)}) {
        EXPECT_EQ(service.doService(&strange), 0u);
        EXPECT_EQ(service.Error(), 80);
        EXPECT_EQ(GetHandleSize(second), 0);
    }
    service._setOutputData(nullptr);
    EXPECT_EQ(service.Error(), paramErr);

    // Inputs that are refused leave no input set.
    struct Refused {
        compressionInputRecord input;
        int32_t status;
    };
    std::vector<Refused> refused;
    compressionInputRecord input{};
    input.kind = 2;
    input.pointer = {buffer->baseAddress(), 100, nullptr};
    refused.push_back({input, 9}); // pointer data without description
    Kelvo_ImgDesc description;
    input.pointer = {buffer->baseAddress(), -1, &description};
    refused.push_back({input, paramErr}); // a negative size is refused, never read as a huge one
    input = {};
    input.kind = 8; // a file: the exporters take no file
    refused.push_back({input, 79});
    input = {};
    input.kind = 4; // no world
    refused.push_back({input, paramErr});
    for (Refused& r : refused) {
        service._setInputData(&r.input);
        EXPECT_EQ(service.Error(), r.status);
        EXPECT_FALSE(service.inputSet());
        EXPECT_EQ(service.doService(&out), 0u);
        EXPECT_EQ(service.Error(), 79);
        // Set the input again for the next case.
        ASSERT_GT(service.doService(buffer.get(), &out), 0u);
    }
    service._setInputData(nullptr);
    EXPECT_EQ(service.Error(), paramErr);

    // Neither a CF string nor nothing is exported; nothing is written.
    CFStringRef text = CFStringCreateWithCString(nullptr, "no image", kCFStringEncodingASCII);
    SetHandleSize(second, 0);
    EXPECT_EQ(service.doService(static_cast<const void*>(text), &out), 0u);
    EXPECT_EQ(service.Error(), 79);
    EXPECT_EQ(GetHandleSize(second), 0);
    EXPECT_EQ(service.doService(static_cast<const void*>(nullptr), &out), 0u);
    CFRelease(text);
    Kelvo_QDGWorldBuffer empty(k32ARGBPixelFormat);
    EXPECT_EQ(service.doService(&empty, &out), 0u);
    EXPECT_EQ(service.Error(), 79);

    // After a data reference is exported, its drawn buffer is gone: the input is no longer set.
    FSSpec pngSpec = specOf(source().pngPath);
    Kelvo_DataReference reference(&pngSpec);
    ASSERT_GT(service.doService(&reference, &out), 0u);
    EXPECT_FALSE(service.inputSet());
    EXPECT_EQ(service.doService(&out), 0u);
    EXPECT_EQ(service.Error(), 79);
    // A reference that names no image, and none at all.
    FSSpec missing = specOf(scratch().file("missing.png"));
    Kelvo_DataReference nowhere(&missing);
    EXPECT_EQ(service.doService(&nowhere, &out), 0u);
    EXPECT_NE(service.Error(), noErr);
    EXPECT_EQ(service.doService(static_cast<const Kelvo_DataReference*>(nullptr), &out), 0u);
    EXPECT_NE(service.Error(), noErr);
    DisposeHandle(first);
    DisposeHandle(second);
}

TEST(ExportGraphics, EventsTellTheStartProgressAndOutcome) {
    ASSERT_GT(source().width, 0);
    Kelvo_ExportGraphics service(kQTFileTypePNGExport);
    Recorder recorder;
    recorder.listenTo(service);
    std::vector<double> notified;
    Kelvo_ProgressNotifier notifier(
        [](double progress, void* reference, int32_t) {
            static_cast<std::vector<double>*>(reference)->push_back(progress);
        },
        &notified);
    service.Callback(&notifier);
    std::unique_ptr<Kelvo_QDGWorldBuffer> buffer = sourceBuffer();
    Handle h = NewHandle(0);
    compressionOutputRecord out = toHandle(h);

    ASSERT_GT(service.doService(buffer.get(), &out), 0u);
    std::vector<uint32_t> codes = recorder.codes();
    ASSERT_FALSE(codes.empty());
    EXPECT_EQ(codes.front(), kKelvoEventWorkStarted);
    EXPECT_EQ(codes.back(), kKelvoEventWorkEnded);
    EXPECT_EQ(std::count(codes.begin(), codes.end(), kKelvoEventWorkFailed), 0);
    std::vector<double> progress;
    for (const Heard& heard : recorder.heard) {
        if (heard.code == kKelvoEventWorkProgress)
            progress.push_back(heard.progress);
        else
            EXPECT_EQ(heard.data, &service.uid());
    }
    ASSERT_GE(progress.size(), 2u);
    EXPECT_EQ(progress.front(), 0.0);
    EXPECT_EQ(progress.back(), 1.0);
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    ASSERT_FALSE(notified.empty());
    EXPECT_EQ(notified.back(), 1.0);

    // Failures: no output record, no input, and data that does not decode (started, never ended).
    struct Failure {
        const char* name;
        int32_t status;
        bool started;
    };
    const std::string garbage = "\xFF\xD8\xFF\xE0 no JPEG stream";
    Kelvo_ImgDesc jpeg;
    jpeg.dataFormat(FOUR_CHAR_CODE("jpeg"));
    jpeg.qtWidth(8);
    jpeg.qtHeight(8);
    jpeg.qtDepth(24);
    for (const Failure& f : {Failure{"no output", 80, false}, Failure{"no input", 79, false},
                             Failure{"bad data", codecBadDataErr, true}}) {
        SCOPED_TRACE(f.name);
        recorder.heard.clear();
        if (std::strcmp(f.name, "no output") == 0) {
            EXPECT_EQ(service.doService(nullptr), 0u);
        } else if (std::strcmp(f.name, "no input") == 0) {
            compressionInputRecord none{};
            service._setInputData(&none);
            EXPECT_EQ(service.doService(&out), 0u);
        } else {
            compressionInputRecord input{};
            input.kind = 2;
            input.pointer = {const_cast<char*>(garbage.data()), int32_t(garbage.size()), &jpeg};
            service._setInputData(&input);
            ASSERT_EQ(service.Error(), noErr);
            EXPECT_EQ(service.doService(&out), 0u);
        }
        EXPECT_EQ(service.Error(), f.status);
        codes = recorder.codes();
        ASSERT_FALSE(codes.empty());
        EXPECT_EQ(codes.back(), kKelvoEventWorkFailed);
        EXPECT_EQ(recorder.heard.back().parameter, f.status);
        EXPECT_EQ(recorder.heard.back().data, &service.uid());
        EXPECT_EQ(codes.front(), f.started ? kKelvoEventWorkStarted : kKelvoEventWorkFailed);
        EXPECT_EQ(std::count(codes.begin(), codes.end(), kKelvoEventWorkEnded), 0);
    }

    // Nobody listening: the export runs all the same, with or without the platform's procedure.
    service.eventsHandler().setEventsHandler(nullptr, nullptr);
    service.Callback(nullptr);
    for (bool platformProcedure : {true, false}) {
        recorder.heard.clear();
        service.DefaultCallback(platformProcedure);
        EXPECT_GT(service.doService(buffer.get(), &out), 0u);
        EXPECT_TRUE(recorder.heard.empty());
    }
    DisposeHandle(h);
}

TEST(ExportGraphics, SettingsDocumentsCarryTheExporterAndItsSettings) {
    const testsupport::ScratchDir dir("export-graphics-settings");
    Kelvo_ExportGraphics png(kQTFileTypePNGExport);
    ASSERT_TRUE(png.qtObjIsValid());
    EXPECT_EQ(tagText(png.settingsTag()), "PNGf");
    Kelvo_ImgDesc wanted;
    wanted.qtSpatialQuality(codecHighQuality);
    wanted.qtDepth(24);
    wanted.qtFixHRes(300 << 16);
    wanted.qtFixVRes(150 << 16);
    png.videoParams(&wanted);
    ASSERT_EQ(png.Error(), noErr);
    png.RecompressEnabled(false);
    png.TargetDataSize(5000);
    png.FileType(FOUR_CHAR_CODE("TEST"));
    png.Description("for print");
    const std::string path = dir.file("png.settings");
    png.WriteSettings(path.c_str());
    ASSERT_EQ(png.Error(), noErr);

    // A new service on the exporter the document names, with the settings the exporter had.
    Kelvo_ExportGraphics read(path.c_str());
    ASSERT_EQ(read.Error(), noErr);
    ASSERT_TRUE(read.qtObjIsValid());
    EXPECT_EQ(read.component()->SubType(), kQTFileTypePNGExport);
    EXPECT_EQ(read.settingsTag(), png.settingsTag());
    EXPECT_STREQ(read.Description(), "for print");
    std::unique_ptr<Kelvo_ImgDesc> params(read.videoParams());
    EXPECT_EQ(params->qtSpatialQuality(), codecHighQuality);
    EXPECT_EQ(params->qtDepth(), 24);
    EXPECT_EQ(params->qtFixHRes(), 300 << 16);
    EXPECT_EQ(params->qtFixVRes(), 150 << 16);
    EXPECT_FALSE(read.RecompressEnabled());
    EXPECT_EQ(read.TargetDataSize(), 5000u);
    EXPECT_EQ(read.FileType(), FOUR_CHAR_CODE("TEST"));
    EXPECT_EQ(read.DefaultType(), kQTFileTypePNGExport);

    // Documents that name no exporter, or another service's.
    auto writeDocument = [&](const std::string& name, uint32_t type, uint32_t* flags, bool node) {
        Kelvo_QTObjDocument document(type);
        if (node) {
            Handle flat = nullptr;
            EXPECT_EQ(QTFlattenAtomContainer(png.settings(), &flat), noErr);
            document.Doc_NodeData(flat, flags, nullptr);
            DisposeHandle(flat);
        }
        document.Doc_Write(dir.file(name).c_str());
        EXPECT_EQ(document.Error(), noErr);
        return dir.file(name);
    };
    uint32_t pngTag = png.settingsTag();
    uint32_t zero = 0;
    uint32_t gifTag = 0;
    std::memcpy(&gifTag, "GIFf", 4);
    const struct {
        std::string path;
        int32_t status;
    } refused[] = {
        {writeDocument("import.settings", FOUR_CHAR_CODE("IMPI"), &pngTag, true), 113},
        {writeDocument("zero.settings", Kelvo_ExportGraphics::kServiceId, &zero, true), 113},
        {writeDocument("untagged.settings", Kelvo_ExportGraphics::kServiceId, nullptr, true), 113},
        {writeDocument("empty.settings", Kelvo_ExportGraphics::kServiceId, nullptr, false), 113},
        {writeDocument("gif.settings", Kelvo_ExportGraphics::kServiceId, &gifTag, true), paramErr},
        {dir.file("missing.settings"), kKelvoCannotOpenForReading},
    };
    for (const auto& r : refused) {
        SCOPED_TRACE(r.path);
        Kelvo_ExportGraphics none(r.path.c_str());
        EXPECT_FALSE(none.qtObjIsValid());
        EXPECT_EQ(none.Error(), r.status);
    }

    // Read into a service: a document of its own exporter is applied; another exporter's, or
    // another service's, is refused and the service keeps what its exporter has.
    Kelvo_ExportGraphics other(kQTFileTypePNGExport);
    other.ReadSettings(path.c_str());
    EXPECT_EQ(other.Error(), noErr);
    EXPECT_EQ(other.TargetDataSize(), 5000u);
    EXPECT_STREQ(other.Description(), "for print");
    Kelvo_ExportGraphics jpeg(kQTFileTypeJPEGExport);
    jpeg.TargetDataSize(77);
    for (const std::string& p : {path, dir.file("import.settings"), dir.file("missing.settings")}) {
        SCOPED_TRACE(p);
        jpeg.ReadSettings(p.c_str());
        EXPECT_NE(jpeg.Error(), noErr);
        EXPECT_EQ(jpeg.TargetDataSize(), 77u);
        EXPECT_EQ(atomBytes(jpeg.settings(), kGraphicsExportTargetDataSizeAtom),
                  std::string("\0\0\0\x4D", 4));
        EXPECT_STREQ(jpeg.Description(), "");
    }
    // Settings the exporter refuses leave it, and the held settings, as they were.
    const uint8_t badDepth[4] = {0, 0, 0, 16};
    const QTAtom depthAtom = QTFindChildByIndex(png.settings(), 0, kGraphicsExportDepthAtom, 1, nullptr);
    ASSERT_NE(depthAtom, 0);
    ASSERT_EQ(QTSetAtomData(png.settings(), depthAtom, 4, badDepth), noErr);
    const std::string badPath = dir.file("bad.settings");
    png.WriteSettings(badPath.c_str());
    other.ReadSettings(badPath.c_str());
    EXPECT_EQ(other.Error(), paramErr);
    params.reset(other.videoParams());
    EXPECT_EQ(params->qtDepth(), 24);
    EXPECT_EQ(atomBytes(other.settings(), kGraphicsExportDepthAtom), std::string("\0\0\0\x18", 4));
    Kelvo_ExportGraphics fromBad(badPath.c_str());
    EXPECT_TRUE(fromBad.qtObjIsValid());
    EXPECT_EQ(fromBad.Error(), paramErr);
    EXPECT_EQ(atomBytes(fromBad.settings(), kGraphicsExportDepthAtom), std::string(4, '\0'));
}

TEST(ExportGraphics, SettingsFollowTheExporterAndKeepOtherAtoms) {
    Kelvo_ExportGraphics service(kQTFileTypePNGExport);
    ASSERT_NE(service.SetComponentDescToSetting(), 0);
    EXPECT_TRUE(service.RecompressEnabled());
    service.RecompressEnabled(false);
    EXPECT_FALSE(service.RecompressEnabled());
    EXPECT_EQ(atomBytes(service.settings(), kGraphicsExportDontRecompressAtom), std::string(1, '\1'));
    service.RecompressEnabled(true);
    EXPECT_TRUE(service.RecompressEnabled());
    EXPECT_EQ(service.TargetDataSize(), 0u);
    service.TargetDataSize(123456);
    EXPECT_EQ(service.TargetDataSize(), 123456u);
    EXPECT_EQ(atomBytes(service.settings(), kGraphicsExportTargetDataSizeAtom),
              std::string("\0\x01\xE2\x40", 4));
    EXPECT_EQ(QTCountChildrenOfType(service.settings(), 0, kGraphicsExportTargetDataSizeAtom), 1);
    // The atom naming the component stays first.
    ComponentDescription described{};
    EXPECT_NE(service.GetComponentDescFromSetting(&described), 0);
    EXPECT_EQ(described.componentSubType, kQTFileTypePNGExport);
    QTAtom firstAtom = 0;
    ASSERT_EQ(QTNextChildAnyType(service.settings(), 0, 0, &firstAtom), noErr);
    QTAtomType firstType = 0;
    QTGetAtomTypeAndID(service.settings(), firstAtom, &firstType, nullptr);
    EXPECT_EQ(firstType, kKelvoComponentDescAtom);

    service.FileCreator(FOUR_CHAR_CODE("abcd"));
    EXPECT_EQ(service.FileCreator(), FOUR_CHAR_CODE("abcd"));
    EXPECT_EQ(service.FileType(), kQTFileTypePNGExport);
    EXPECT_EQ(atomBytes(service.settings(), kGraphicsExportOutputTypeAtom), "PNGfabcd");

    // The settings as text, and a dialog that is never shown.
    char* text = nullptr;
    service.settingsToString(text);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "Format=PNG\nQuality=512\nDepth=0\nResolution=72 x 72 dpi\nTarget data size=123456\n"
                       "Don't recompress=NO\nFile type=PNGf\nFile creator=abcd\n");
    delete[] text;
    EXPECT_TRUE(service.hasGUI());
    EXPECT_FALSE(service.ShowDialog());
    EXPECT_EQ(service.Error(), userCanceledErr);
    EXPECT_FALSE(service.ShowDialogWithin(nullptr));
    EXPECT_EQ(service.TargetDataSize(), 123456u);
    EXPECT_FALSE(service.ExportExifEnabled());
    service.CreateThumbnailEnabled(true);
    EXPECT_FALSE(service.CreateThumbnailEnabled());
}

TEST(ExportGraphics, VideoParametersBothWays) {
    Kelvo_ExportGraphics service(kQTFileTypeJPEGExport);
    std::unique_ptr<Kelvo_ImgDesc> params(service.videoParams());
    ASSERT_NE(params, nullptr);
    EXPECT_EQ(params->qtSpatialQuality(), codecNormalQuality);
    EXPECT_EQ(params->qtFixHRes(), 72 << 16);
    EXPECT_FALSE(service.targetSize().qtObjIsValid());

    Kelvo_ImgDesc wanted;
    wanted.qtSpatialQuality(codecLowQuality);
    wanted.qtDepth(40);
    wanted.qtFixHRes(96 << 16);
    wanted.qtFixVRes(96 << 16);
    wanted.size(Kelvo_Size(64, 48));
    service.videoParams(&wanted);
    EXPECT_EQ(service.Error(), noErr);
    params.reset(service.videoParams());
    EXPECT_EQ(params->qtSpatialQuality(), codecLowQuality);
    EXPECT_EQ(params->qtDepth(), 40);
    EXPECT_EQ(params->qtFixVRes(), 96 << 16);
    EXPECT_EQ(params->qtWidth(), 64);
    EXPECT_EQ(params->qtHeight(), 48);

    // A depth the exporter does not write is refused; the rest is taken.
    wanted.qtDepth(16);
    wanted.qtSpatialQuality(codecMaxQuality);
    service.videoParams(&wanted);
    EXPECT_EQ(service.Error(), paramErr);
    params.reset(service.videoParams());
    EXPECT_EQ(params->qtDepth(), 40);
    EXPECT_EQ(params->qtSpatialQuality(), codecMaxQuality);
    service.videoParams(nullptr);
    EXPECT_EQ(service.Error(), -108);
    Kelvo_ImgDesc none(0u);
    service.videoParams(&none);
    EXPECT_EQ(service.Error(), paramErr);
}

TEST(ExportGraphics, DefaultExtensionAsText) {
    const struct {
        OSType subtype;
        const char* text;
    } exporters[] = {{kQTFileTypePNGExport, "png"},
                     {kQTFileTypeBMPExport, "bmp"},
                     {kQTFileTypeJPEGExport, "jpg"},
                     {kQTFileTypeJPEG2000Export, "jp2"}};
    for (const auto& e : exporters) {
        Kelvo_ExportGraphics service(e.subtype);
        EXPECT_EQ(service.DefaultExtension(), platform::loadBE32(std::string(e.text).append(" ").data()));
        EXPECT_STREQ(service.DefaultExtensionStr(), e.text);
    }
    const struct {
        OSType extension;
        const char* text;
    } extensions[] = {{FOUR_CHAR_CODE("JPEG"), "jpeg"},
                      {FOUR_CHAR_CODE("TIF "), "tif"},
                      {FOUR_CHAR_CODE("Ab C"), "ab"},
                      {FOUR_CHAR_CODE("x2_Z"), "x2_z"},
                      {0, ""}};
    ExtensionProbe probe(FOUR_CHAR_CODE("JPEG"));
    const char* kept = probe.DefaultExtensionStr();
    for (const auto& e : extensions) {
        ExtensionProbe service(e.extension);
        EXPECT_STREQ(service.DefaultExtensionStr(), e.text);
    }
    EXPECT_EQ(probe.DefaultExtensionStr(), kept); // the service's own text, made once
    Kelvo_ExportGraphics none(FOUR_CHAR_CODE("GIFf"));
    EXPECT_EQ(none.DefaultExtensionStr(), nullptr);
}

TEST(ExportGraphics, MetaDataBothWays) {
    Kelvo_ExportGraphics service(kQTFileTypeJPEGExport);
    std::unique_ptr<Kelvo_UDataList> empty(service.MetaData());
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->Count(), 0);

    Kelvo_UDataList list;
    list.addItemText(FOUR_CHAR_CODE("\xA9nam"), "Chest PA", 0);
    list.addItemText(FOUR_CHAR_CODE("\xA9"
                                    "cpy"),
                     "Sylmark", 0);
    service.MetaData(&list);
    EXPECT_EQ(service.Error(), noErr);
    std::unique_ptr<Kelvo_UDataList> back(service.MetaData());
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->Count(), 2);
    Handle name = back->ItemText(FOUR_CHAR_CODE("\xA9nam"), 0, 1);
    EXPECT_EQ(bytesOf(name), "Chest PA");
    DisposeHandle(name);
    service.MetaData(nullptr); // nothing to give: nothing changes
    back.reset(service.MetaData());
    EXPECT_EQ(back->Count(), 2);

    Kelvo_ExportGraphics none(FOUR_CHAR_CODE("GIFf"));
    EXPECT_EQ(none.MetaData(), nullptr);
}

TEST(ExportGraphics, ConstructionCopiesAndClones) {
    Kelvo_ExportGraphics jpeg;
    ASSERT_TRUE(jpeg.qtObjIsValid());
    EXPECT_EQ(jpeg.component()->SubType(), kQTFileTypeJPEGExport);
    EXPECT_EQ(jpeg.serviceId(), FOUR_CHAR_CODE("EXPI"));
    EXPECT_TRUE(jpeg.isA("Kelvo_ExportGraphics"));
    EXPECT_TRUE(jpeg.isA("Kelvo_ComponentService"));
    EXPECT_STREQ(jpeg.qtObjName(), "Kelvo_ExportGraphics");
    EXPECT_EQ(jpeg.DefaultCreator(), platform::kVendorCode);
    EXPECT_EQ(jpeg.FileType(), kQTFileTypeJPEGExport);

    Kelvo_ExportGraphics byComponent(jpeg.component()->id());
    EXPECT_TRUE(byComponent.qtObjIsValid());
    EXPECT_NE(byComponent.qtObjReference(), jpeg.qtObjReference());
    Kelvo_ExportGraphics byObject(*jpeg.component());
    EXPECT_TRUE(byObject.qtObjIsValid());
    EXPECT_EQ(tagText(byObject.settingsTag()), "JPEG");
    Kelvo_ExportGraphics gif(FOUR_CHAR_CODE("GIFf"));
    EXPECT_FALSE(gif.qtObjIsValid());
    EXPECT_EQ(gif.Error(), paramErr);

    // A copy connects its own exporter and applies the original's settings to it.
    Kelvo_ExportGraphics png(kQTFileTypePNGExport);
    Kelvo_ImgDesc wanted;
    wanted.qtSpatialQuality(codecLowQuality);
    wanted.qtDepth(8);
    wanted.qtFixHRes(200 << 16);
    wanted.qtFixVRes(200 << 16);
    png.videoParams(&wanted);
    png.FileType(FOUR_CHAR_CODE("TEST"));
    png.TargetDataSize(999);
    Kelvo_ExportGraphics copy(png);
    EXPECT_EQ(copy.Error(), noErr);
    ASSERT_TRUE(copy.qtObjIsValid());
    EXPECT_NE(copy.qtObjReference(), png.qtObjReference());
    std::unique_ptr<Kelvo_ImgDesc> params(copy.videoParams());
    EXPECT_EQ(params->qtSpatialQuality(), codecLowQuality);
    EXPECT_EQ(params->qtDepth(), 8);
    EXPECT_EQ(params->qtFixHRes(), 200 << 16);
    EXPECT_EQ(copy.FileType(), FOUR_CHAR_CODE("TEST"));
    EXPECT_EQ(copy.TargetDataSize(), 999u);
    EXPECT_EQ(copy.settingsTag(), png.settingsTag());
    std::unique_ptr<Kelvo_QTObj> cloned(png.clone());
    ASSERT_NE(cloned, nullptr);
    ASSERT_TRUE(cloned->isA("Kelvo_ExportGraphics"));
    EXPECT_EQ(static_cast<Kelvo_ExportGraphics&>(*cloned).TargetDataSize(), 999u);

    Kelvo_ExportGraphics invalidCopy(gif);
    EXPECT_FALSE(invalidCopy.qtObjIsValid());
    EXPECT_EQ(invalidCopy.Error(), paramErr);
    EXPECT_EQ(gif.clone(), nullptr);
    // An invalid service answers nothing.
    compressionOutputRecord out = toHandle(nullptr);
    EXPECT_EQ(gif.doService(&out), 0u);
    EXPECT_FALSE(gif.RecompressEnabled());
    EXPECT_EQ(gif.TargetDataSize(), 0u);
    char* text = reinterpret_cast<char*>(&out);
    gif.settingsToString(text);
    EXPECT_EQ(text, nullptr);
}
