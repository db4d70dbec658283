// The graphics import service against Python PIL: PNG, JPEG, BMP and GIF files that PIL writes
// are opened through a data handle, a component and a data reference, drawn into buffers and CG
// images equal to PIL's pixels (at natural size and, through the graphics context, at twice it as
// PIL's nearest-neighbour resize gives), with the importer's progress heard as events. Settings
// documents are written and read back, and foreign ones refused; metadata, descriptions, the
// settings text and files drawn into new worlds complete it.
#include "KelvoImportGraphics.h"

#include "KelvoAtomicsDictionary.h"
#include "KelvoCoreObjectsDocument.h"

#include "PlatformAtoms.h"
#include "PlatformErrors.h"
#include "PlatformGWorlds.h"
#include "PlatformGraphicsImport.h"
#include "PlatformGraphicsMetaData.h"
#include "PlatformMemory.h"
#include "PythonPeer.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Writes the fixtures into a folder: NAME.img with NAME.view ("width height" and PIL's pixels as
// A, R, G, B bytes), the PNG's nearest-neighbour double, a PNG cut after its header, and text.
const char* kPeer = R"PY(
import os, sys
import numpy as np
from PIL import Image

out = sys.argv[1]
rng = np.random.default_rng(21)
rgb = Image.fromarray(rng.integers(0, 256, (4, 6, 3), dtype=np.uint8), 'RGB')
smooth = Image.fromarray(np.fromfunction(lambda y, x, c: (x * 11 + y * 7 + c * 50) % 256, (6, 8, 3)).astype(np.uint8))
pal = Image.fromarray(rng.integers(0, 32, (5, 7), dtype=np.uint8), 'P')
pal.putpalette(rng.integers(0, 256, (32, 3), dtype=np.uint8).tobytes())

def view(name, im):
    a = np.asarray(im.convert('RGBA'))
    h, w, _ = a.shape
    open(os.path.join(out, name + '.view'), 'wb').write(b'%d %d\n' % (w, h) + a[:, :, [3, 0, 1, 2]].tobytes())

for name, (im, fmt, kw) in {
    'png': (rgb, 'PNG', {}),
    'jpeg': (smooth, 'JPEG', {'quality': 92}),
    'bmp': (rgb, 'BMP', {}),
    'gif': (pal, 'GIF', {}),
}.items():
    path = os.path.join(out, name + '.img')
    im.save(path, fmt, **kw)
    view(name, Image.open(path))
view('png-x2', Image.open(os.path.join(out, 'png.img')).resize((12, 8), Image.Resampling.NEAREST))

noise = Image.fromarray(rng.integers(0, 256, (40, 50, 3), dtype=np.uint8), 'RGB')
noise.save(os.path.join(out, 'noise.png'), 'PNG')
whole = open(os.path.join(out, 'noise.png'), 'rb').read()
open(os.path.join(out, 'cut.img'), 'wb').write(whole[:len(whole) // 2])
open(os.path.join(out, 'text.img'), 'w').write('not an image, whatever its name says')
)PY";

const std::string& fixtureFolder() {
    static testsupport::ScratchDir scratch("import-graphics");
    static const std::string folder = testsupport::makePeerFixtures(scratch, kPeer);
    return folder;
}

std::string fixture(const std::string& name) {
    return fixtureFolder() + "/" + name;
}

FSSpec specOf(const std::string& path) {
    FSSpec spec{};
    std::snprintf(spec.path, sizeof spec.path, "%s", path.c_str());
    return spec;
}

struct View {
    int width = 0, height = 0;
    std::string argb;
};

View viewOf(const std::string& name) {
    View v;
    const std::string text = testsupport::readFile(fixture(name + ".view"));
    const size_t eol = text.find('\n');
    if (eol == std::string::npos) return v;
    std::istringstream(text.substr(0, eol)) >> v.width >> v.height;
    v.argb = text.substr(eol + 1);
    return v;
}

// A handle holding a file's bytes, disposed of with the object.
struct FileHandle {
    explicit FileHandle(const std::string& path) {
        const std::string bytes = testsupport::readFile(path);
        if (PtrToHand(bytes.data(), &handle, Size(bytes.size())) != noErr) handle = nullptr;
    }
    ~FileHandle() {
        if (handle) DisposeHandle(handle);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    Handle handle = nullptr;
};

// The world's pixels (A, R, G, B), rows packed.
std::string pixelsOf(GWorldPtr world) {
    PixMapHandle pm = GetGWorldPixMap(world);
    Rect b{};
    GetPixBounds(pm, &b);
    std::string out;
    for (int y = 0; y < b.bottom - b.top; ++y)
        out.append(GetPixBaseAddr(pm) + size_t(y) * size_t(GetPixRowBytes(pm)), size_t(b.right - b.left) * 4);
    return out;
}

// The image's A, R, G, B bytes (premultiplied, which opaque pixels are as they are).
std::string pixelsOf(CGImageRef image) {
    EXPECT_EQ(CGImageGetBitsPerPixel(image), 32u);
    EXPECT_EQ(CGImageGetBitmapInfo(image), CGBitmapInfo(kCGImageAlphaPremultipliedFirst));
    CFDataRef data = CGDataProviderCopyData(CGImageGetDataProvider(image));
    std::string out;
    if (data) {
        const size_t rowBytes = CGImageGetBytesPerRow(image), width = CGImageGetWidth(image);
        for (size_t y = 0; y < CGImageGetHeight(image); ++y)
            out.append(reinterpret_cast<const char*>(CFDataGetBytePtr(data)) + y * rowBytes, width * 4);
        CFRelease(data);
    }
    return out;
}

int largestDifference(const std::string& a, const std::string& b) {
    int most = a.size() == b.size() ? 0 : 256;
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        most = std::max(most, std::abs(int(uint8_t(a[i])) - int(uint8_t(b[i]))));
    return most;
}

std::string fourChars(uint32_t inMemory) {
    return std::string(reinterpret_cast<const char*>(&inMemory), 4);
}

OSType subTypeOf(GraphicsImportComponent importer) {
    ComponentDescription cd{};
    EXPECT_EQ(GetComponentInfo(reinterpret_cast<Component>(importer), &cd, nullptr, nullptr, nullptr), noErr);
    return cd.componentSubType;
}

// A container of root atoms (type, bytes), owned by the object.
struct Settings {
    explicit Settings(const std::vector<std::pair<QTAtomType, std::string>>& atoms) {
        EXPECT_EQ(QTNewAtomContainer(&container), noErr);
        for (const auto& [type, bytes] : atoms)
            EXPECT_EQ(QTInsertChild(container, 0, type, 0, 0, int32_t(bytes.size()), bytes.data(), nullptr),
                      noErr);
    }
    ~Settings() { QTDisposeAtomContainer(container); }
    Settings(const Settings&) = delete;
    Settings& operator=(const Settings&) = delete;
    QTAtomContainer container = nullptr;
};

std::string flatOf(QTAtomContainer c) {
    if (!c) return std::string();
    Handle flat = nullptr;
    EXPECT_EQ(QTFlattenAtomContainer(c, &flat), noErr);
    std::string out = flat ? std::string(*flat, size_t(GetHandleSize(flat))) : std::string();
    if (flat) DisposeHandle(flat);
    return out;
}

std::string importerSettingsOf(GraphicsImportComponent importer) {
    QTAtomContainer c = nullptr;
    EXPECT_EQ(GraphicsImportGetExportSettingsAsAtomContainer(importer, &c), noErr);
    const std::string flat = flatOf(c);
    if (c) QTDisposeAtomContainer(c);
    return flat;
}

std::string settingsText(Kelvo_ImportGraphics& service) {
    char* text = reinterpret_cast<char*>(&service);
    service.settingsToString(text);
    const std::string out = text ? text : "(null)";
    delete[] text;
    return out;
}

// What the events handler heard.
struct Heard {
    uint32_t code;
    double progress;
    bool fromService;
};

struct Recorder {
    static void callback(uint32_t event, void* data, int32_t, void* reference) {
        auto* self = static_cast<Recorder*>(reference);
        if (event == kKelvoEventWorkProgress)
            self->heard.push_back({event, *static_cast<double*>(data), false});
        else
            self->heard.push_back({event, -1.0, data && *static_cast<Kelvo_UUID*>(data) == self->uid});
    }
    Kelvo_UUID uid;
    std::vector<Heard> heard;
};

} // namespace

TEST(ImportGraphics, ConstructorsFindTheirImporterOrSayWhyNot) {
    ASSERT_FALSE(fixtureFolder().empty()) << "the PIL peer could not write the fixtures";
    struct Case {
        const char* name;
        OSType subType;
        const char* chars;
    } cases[] = {
        {"png", kQTFileTypePNG, "PNGf"},
        {"jpeg", kQTFileTypeJPEG, "JPEG"},
        {"bmp", kQTFileTypeBMP, "BMPf"},
        {"gif", kQTFileTypeGIF, "GIFf"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FileHandle data(fixture(std::string(c.name) + ".img"));
        Kelvo_ImportGraphics byHandle(c.subType, data.handle);
        ASSERT_TRUE(byHandle.qtObjIsValid());
        EXPECT_EQ(byHandle.Error(), noErr);
        EXPECT_EQ(byHandle.ImageCount(), 1u);
        EXPECT_EQ(byHandle.DefaultType(), c.subType);
        EXPECT_EQ(byHandle.FileType(), c.subType);
        EXPECT_EQ(byHandle.DefaultCreator(), FOUR_CHAR_CODE("TVOD"));
        EXPECT_EQ(byHandle.FileCreator(), FOUR_CHAR_CODE("TVOD"));
        EXPECT_EQ(fourChars(byHandle.settingsTag()), c.chars) << "the tag's bytes read as the subtype";
        EXPECT_EQ(byHandle.Flags() & kGraphicsImporterDontDoGammaCorrection, 1);
        EXPECT_TRUE(byHandle.hasGUI());
        EXPECT_TRUE(byHandle.isA("Kelvo_ComponentService"));
        EXPECT_STREQ(byHandle.qtObjName(), "Kelvo_ImportGraphics");

        // A data reference finds the importer by the file's content.
        FSSpec spec = specOf(fixture(std::string(c.name) + ".img"));
        Kelvo_DataReference reference(&spec);
        Kelvo_ImportGraphics byReference(&reference, false);
        ASSERT_TRUE(byReference.qtObjIsValid());
        EXPECT_EQ(byReference.Error(), noErr);
        EXPECT_EQ(subTypeOf(byReference.importer()), c.subType);
        EXPECT_EQ(byReference.DefaultType(), c.subType);
    }

    ComponentDescription gif{GraphicsImporterComponentType, kQTFileTypeGIF, 0, 0, 0};
    Kelvo_ImportGraphics byComponent(FindNextComponent(nullptr, &gif));
    ASSERT_TRUE(byComponent.qtObjIsValid());
    EXPECT_EQ(byComponent.Error(), noErr);
    EXPECT_EQ(subTypeOf(byComponent.importer()), kQTFileTypeGIF);
    EXPECT_EQ(fourChars(byComponent.settingsTag()), "GIFf");

    // Nothing to connect: no importer, and every call answers nothing.
    FileHandle png(fixture("png.img"));
    Kelvo_ImportGraphics unknown(FOUR_CHAR_CODE("zzzz"), png.handle);
    EXPECT_FALSE(unknown.qtObjIsValid());
    EXPECT_EQ(unknown.Error(), paramErr);
    EXPECT_EQ(unknown.ImageCount(), 0u);
    EXPECT_EQ(unknown.Flags(), 0);
    EXPECT_FALSE(unknown.ShowDialog());
    EXPECT_EQ(settingsText(unknown), "(null)");
    EXPECT_EQ(unknown.videoParams(), nullptr);
    EXPECT_EQ(unknown.metaData(), nullptr);
    Kelvo_QDGWorldBuffer* buffer = reinterpret_cast<Kelvo_QDGWorldBuffer*>(&unknown);
    EXPECT_EQ(unknown.doService(buffer), nullptr);
    EXPECT_EQ(buffer, nullptr);
    EXPECT_EQ(unknown.Error(), paramErr);
    EXPECT_EQ(Kelvo_ImportGraphics(static_cast<Component>(nullptr)).Error(), paramErr);

    // Bad data references.
    EXPECT_EQ(Kelvo_ImportGraphics(static_cast<const Kelvo_DataReference*>(nullptr), false).Error(),
              memFullErr);
    Kelvo_DataReference empty;
    Kelvo_ImportGraphics fromEmpty(&empty, false);
    EXPECT_FALSE(fromEmpty.qtObjIsValid());
    EXPECT_EQ(fromEmpty.Error(), paramErr);
    FSSpec text = specOf(fixture("text.img"));
    Kelvo_DataReference textReference(&text);
    Kelvo_ImportGraphics fromText(&textReference, false);
    EXPECT_FALSE(fromText.qtObjIsValid());
    EXPECT_EQ(fromText.Error(), cantFindHandler);
    FSSpec missing = specOf(fixture("missing.png"));
    Kelvo_DataReference missingReference(&missing);
    Kelvo_ImportGraphics fromMissing(&missingReference, false);
    EXPECT_FALSE(fromMissing.qtObjIsValid());
    EXPECT_NE(fromMissing.Error(), noErr);

    // Content that only looks like a PNG: found without validation, and then it cannot be drawn.
    FileHandle garbage(fixture("text.img"));
    const std::string signature = "\x89PNG\r\n\x1a\n";
    std::memcpy(*garbage.handle, signature.data(), signature.size());
    Kelvo_DataReference handleReference(garbage.handle, "");
    EXPECT_EQ(Kelvo_ImportGraphics(&handleReference, false).Error(), cantFindHandler);
    Kelvo_ImportGraphics unvalidated(&handleReference, true);
    ASSERT_TRUE(unvalidated.qtObjIsValid());
    EXPECT_EQ(unvalidated.doService(buffer), nullptr);
    EXPECT_EQ(buffer, nullptr);
    EXPECT_NE(unvalidated.Error(), noErr);
}

TEST(ImportGraphics, ImageIndexDialogAndSettingsTextEdgeCases) {
    ASSERT_FALSE(fixtureFolder().empty());
    FileHandle data(fixture("png.img"));
    Kelvo_ImportGraphics service(kQTFileTypePNG, data.handle);
    ASSERT_TRUE(service.qtObjIsValid());

    // 0-based on the service, 1-based on the platform.
    service.ImageIndex(0);
    EXPECT_EQ(service.Error(), noErr);
    EXPECT_EQ(service.ImageIndex(), 0u);
    service.ImageIndex(1);
    EXPECT_EQ(service.Error(), paramErr) << "a single-image importer has no second image";
    EXPECT_EQ(service.ImageIndex(), 0u);

    // A cancelled dialog is no failure, and no success either.
    EXPECT_FALSE(service.ShowDialog());
    EXPECT_EQ(service.Error(), noErr);
    service.ImageIndex(7);
    EXPECT_FALSE(service.ShowDialogWithin(nullptr));
    EXPECT_EQ(service.Error(), noErr);

    EXPECT_EQ(settingsText(service), "Decompressor=PNG\nImages=1\nImage Index=0\nHas Export Settings=NO\n"
                                     "Do gamma correction=NO\n");
    service.Flags(0);
    Settings some({{kGraphicsImportExportTypeAtom, "BMPf"}});
    Kelvo_Dictionary dictionary;
    dictionary.Copy(some.container);
    service.Properties(&dictionary);
    EXPECT_EQ(settingsText(service), "Decompressor=PNG\nImages=1\nImage Index=0\nHas Export Settings=YES\n"
                                     "Do gamma correction=YES\n");
}

// The image through the graphics context: at natural size, and at twice it once a description
// with that size is given, into a buffer and into a CG image.
TEST(ImportGraphics, DoServiceDrawsWhatPILReads) {
    ASSERT_FALSE(fixtureFolder().empty());
    struct Case {
        const char* name;
        OSType subType;
        int tolerance; // PIL decodes JPEG with the same libjpeg; its colour conversion may differ by 1
    } cases[] = {
        {"png", kQTFileTypePNG, 0},
        {"jpeg", kQTFileTypeJPEG, 1},
        {"bmp", kQTFileTypeBMP, 0},
        {"gif", kQTFileTypeGIF, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const View view = viewOf(c.name);
        ASSERT_GT(view.width, 0);
        FileHandle data(fixture(std::string(c.name) + ".img"));
        Kelvo_ImportGraphics service(c.subType, data.handle);
        ASSERT_TRUE(service.qtObjIsValid());

        Kelvo_QDGWorldBuffer* buffer = nullptr;
        ASSERT_EQ(service.doService(buffer), buffer);
        ASSERT_NE(buffer, nullptr);
        EXPECT_EQ(service.Error(), noErr);
        EXPECT_EQ(buffer->width(), view.width);
        EXPECT_EQ(buffer->height(), view.height);
        EXPECT_LE(largestDifference(pixelsOf(buffer->buffer()), view.argb), c.tolerance);
        delete buffer;

        CGImageRef image = nullptr;
        ASSERT_EQ(service.doService(image), image);
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(service.Error(), noErr);
        EXPECT_EQ(CGImageGetWidth(image), size_t(view.width));
        EXPECT_EQ(CGImageGetHeight(image), size_t(view.height));
        EXPECT_LE(largestDifference(pixelsOf(image), view.argb), c.tolerance);
        CGImageRelease(image);
    }

    const View doubled = viewOf("png-x2");
    FileHandle data(fixture("png.img"));
    Kelvo_ImportGraphics service(kQTFileTypePNG, data.handle);
    std::unique_ptr<Kelvo_ImgDesc> description(service.videoParams());
    ASSERT_TRUE(description);
    description->size(Kelvo_Size(12, 8));
    service.videoParams(description.get());
    ASSERT_EQ(service.Error(), noErr);
    Kelvo_QDGWorldBuffer* buffer = nullptr;
    std::unique_ptr<Kelvo_QDGWorldBuffer> owned(service.doService(buffer));
    ASSERT_TRUE(owned);
    EXPECT_EQ(owned->width(), 12);
    EXPECT_EQ(owned->height(), 8);
    EXPECT_EQ(pixelsOf(owned->buffer()), doubled.argb);
    CGImageRef image = nullptr;
    ASSERT_NE(service.doService(image), nullptr);
    EXPECT_EQ(CGImageGetWidth(image), 12u);
    EXPECT_EQ(pixelsOf(image), doubled.argb);
    CGImageRelease(image);
}

TEST(ImportGraphics, SettingsDocumentsAreWrittenReadBackAndForeignOnesRefused) {
    ASSERT_FALSE(fixtureFolder().empty());
    testsupport::ScratchDir scratch("import-graphics-settings");
    FileHandle png(fixture("png.img"));
    FileHandle jpeg(fixture("jpeg.img"));

    // Written by one PNG service, read by another: the settings reach its importer.
    Settings forBmp({{kGraphicsImportExportTypeAtom, "BMPf"}, {FOUR_CHAR_CODE("note"), "kept as given"}});
    const std::string pngDocument = scratch.file("png.impi");
    {
        Kelvo_ImportGraphics writer(kQTFileTypePNG, png.handle);
        Kelvo_Dictionary dictionary;
        dictionary.Copy(forBmp.container);
        writer.Properties(&dictionary);
        writer.Description("export as BMP");
        writer.WriteSettings(pngDocument.c_str());
        ASSERT_EQ(writer.Error(), noErr);
    }
    Kelvo_ImportGraphics reader(kQTFileTypePNG, png.handle);
    ASSERT_EQ(reader.settings(), nullptr);
    reader.ReadSettings(pngDocument.c_str());
    EXPECT_EQ(reader.Error(), noErr);
    EXPECT_EQ(flatOf(reader.settings()), flatOf(forBmp.container));
    EXPECT_EQ(importerSettingsOf(reader.importer()), flatOf(forBmp.container));
    EXPECT_STREQ(reader.Description(), "export as BMP");

    // A JPEG service whose importer holds settings of its own keeps them against every document
    // it refuses.
    Kelvo_ImportGraphics service(kQTFileTypeJPEG, jpeg.handle);
    Settings own({{kGraphicsImportExportTypeAtom, "JPEG"}});
    ASSERT_EQ(GraphicsImportSetExportSettingsFromAtomContainer(service.importer(), own.container), noErr);
    auto document = [&](uint32_t type, uint32_t tag, QTAtomContainer settings, const char* name) {
        Kelvo_QTObjDocument d(type);
        Handle flat = nullptr;
        EXPECT_EQ(QTFlattenAtomContainer(settings, &flat), noErr);
        d.Doc_NodeData(flat, &tag, nullptr);
        DisposeHandle(flat);
        const std::string path = scratch.file(name);
        d.Doc_Write(path.c_str());
        EXPECT_EQ(d.Error(), noErr);
        return path;
    };
    Settings badType({{kGraphicsImportExportTypeAtom, "BMP"}});
    struct Case {
        const char* what;
        std::string path;
        int32_t status;
    } cases[] = {
        {"an export service's document",
         document(FOUR_CHAR_CODE("EXPI"), service.settingsTag(), forBmp.container, "export.expi"), 113},
        {"another importer's document", pngDocument, 113},
        {"settings the importer refuses",
         document(FOUR_CHAR_CODE("IMPI"), service.settingsTag(), badType.container, "bad.impi"), paramErr},
        {"no document", scratch.file("missing.impi"), 0 /* the document's own */},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        service.ReadSettings(c.path.c_str());
        if (c.status != 0)
            EXPECT_EQ(service.Error(), c.status);
        else
            EXPECT_NE(service.Error(), noErr);
        EXPECT_EQ(flatOf(service.settings()), flatOf(own.container));
        EXPECT_EQ(importerSettingsOf(service.importer()), flatOf(own.container));
    }

    // A service without settings writes a document without node, which reads as no settings.
    Kelvo_ImportGraphics bare(kQTFileTypeJPEG, jpeg.handle);
    const std::string bareDocument = scratch.file("bare.impi");
    bare.WriteSettings(bareDocument.c_str());
    ASSERT_EQ(bare.Error(), noErr);
    service.ReadSettings(bareDocument.c_str());
    EXPECT_EQ(service.Error(), 113);
    EXPECT_EQ(flatOf(service.settings()), flatOf(own.container));
}

TEST(ImportGraphics, ProgressArrivesAsEventsDuringDoService) {
    ASSERT_FALSE(fixtureFolder().empty());
    FileHandle data(fixture("png.img"));
    Kelvo_ImportGraphics service(kQTFileTypePNG, data.handle);
    Recorder recorder;
    recorder.uid = service.uid();
    service.eventsHandler().setEventsHandler(Recorder::callback, &recorder);
    static std::vector<double> notified;
    notified.clear();
    Kelvo_ProgressNotifier notifier([](double p, void*, int32_t) { notified.push_back(p); }, nullptr);
    service.Callback(&notifier);

    auto expectWholeRun = [&] {
        ASSERT_EQ(recorder.heard.size(), 4u);
        EXPECT_EQ(recorder.heard[0].code, kKelvoEventWorkStarted);
        EXPECT_TRUE(recorder.heard[0].fromService);
        EXPECT_EQ(recorder.heard[1].code, kKelvoEventWorkProgress);
        EXPECT_EQ(recorder.heard[1].progress, 0.5);
        EXPECT_EQ(recorder.heard[2].code, kKelvoEventWorkProgress);
        EXPECT_EQ(recorder.heard[2].progress, 1.0);
        EXPECT_EQ(recorder.heard[3].code, kKelvoEventWorkEnded);
        EXPECT_TRUE(recorder.heard[3].fromService);
        EXPECT_EQ(notified, (std::vector<double>{0.5, 1.0, 1.0}));
        recorder.heard.clear();
        notified.clear();
    };
    Kelvo_QDGWorldBuffer* buffer = nullptr;
    delete service.doService(buffer);
    ASSERT_EQ(service.Error(), noErr);
    expectWholeRun();
    CGImageRef image = nullptr;
    CGImageRelease(service.doService(image));
    ASSERT_EQ(service.Error(), noErr);
    expectWholeRun();

    // Nobody listening: the importer is told to report to nobody (or to the platform's own).
    service.eventsHandler().setEventsHandler(nullptr, nullptr);
    service.Callback(nullptr);
    for (bool platformsOwn : {true, false}) {
        service.DefaultCallback(platformsOwn);
        delete service.doService(buffer);
        EXPECT_EQ(service.Error(), noErr);
    }
    EXPECT_TRUE(recorder.heard.empty());
    EXPECT_TRUE(notified.empty());

    // A draw that fails ends what it started.
    FileHandle cut(fixture("cut.img"));
    Kelvo_ImportGraphics broken(kQTFileTypePNG, cut.handle);
    broken.eventsHandler().setEventsHandler(Recorder::callback, &recorder);
    EXPECT_EQ(broken.doService(buffer), nullptr);
    EXPECT_NE(broken.Error(), noErr);
    ASSERT_EQ(recorder.heard.size(), 2u);
    EXPECT_EQ(recorder.heard[0].code, kKelvoEventWorkStarted);
    EXPECT_EQ(recorder.heard[1].code, kKelvoEventWorkEnded);
}

TEST(ImportGraphics, MetadataListsCopyTheImportersMetadata) {
    ASSERT_FALSE(fixtureFolder().empty());
    FileHandle data(fixture("gif.img"));
    Kelvo_ImportGraphics service(kQTFileTypeGIF, data.handle);
    std::unique_ptr<Kelvo_UDataList> none(service.metaData());
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->qtObjIsValid());
    EXPECT_EQ(none->Count(), 0);

    // The metadata store keys items by instance, so the importer's are stored through it.
    Kelvo_UDataList stored;
    stored.addItemText(FOUR_CHAR_CODE("\xA9nam"), "palette", 0);
    stored.addItem(FOUR_CHAR_CODE("info"), "xyz", 3);
    ASSERT_EQ(GraphicsExportSetMetaData(service.importer(), stored.UDList()), noErr);

    std::unique_ptr<Kelvo_UDataList> list(service.metaData());
    ASSERT_TRUE(list);
    EXPECT_EQ(list->Count(), 2);
    Handle text = list->ItemText(FOUR_CHAR_CODE("\xA9nam"), 0, 1);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::string(*text, size_t(GetHandleSize(text))), "palette");
    DisposeHandle(text);

    Kelvo_UDataList target;
    target.addItem(FOUR_CHAR_CODE("mine"), "1", 1);
    service.metaDataCopyTo(&target);
    EXPECT_EQ(service.Error(), noErr);
    EXPECT_EQ(target.Count(), 3) << "appended to what the list held";
    EXPECT_EQ(target.ListType(0), FOUR_CHAR_CODE("mine"));

    service.metaDataCopyTo(nullptr);
    EXPECT_EQ(service.Error(), paramErr);
    Kelvo_UDataList invalid(static_cast<Kelvo_UDataList*>(nullptr));
    service.Flags(1);
    service.metaDataCopyTo(&invalid);
    EXPECT_EQ(service.Error(), paramErr);
}

TEST(ImportGraphics, VideoParamsGraphicsContextAndFeatures) {
    ASSERT_FALSE(fixtureFolder().empty());
    FileHandle data(fixture("png.img"));
    Kelvo_ImportGraphics service(kQTFileTypePNG, data.handle);

    std::unique_ptr<Kelvo_ImgDesc> described(service.videoParams());
    ASSERT_TRUE(described);
    EXPECT_EQ(described->qtWidth(), 6);
    EXPECT_EQ(described->qtHeight(), 4);
    EXPECT_EQ(described->qtSpatialQuality(), 512u);
    EXPECT_TRUE(EmptyRect(&described->qtROI())) << "the whole image is drawn";
    const Rect part{1, 1, 3, 5};
    ASSERT_EQ(GraphicsImportSetSourceRect(service.importer(), &part), noErr);
    described.reset(service.videoParams());
    ASSERT_TRUE(described);
    EXPECT_EQ(std::memcmp(&described->qtROI(), &part, sizeof part), 0);

    // The other way: quality to the importer, size and region of interest to the context.
    Kelvo_ImgDesc wanted;
    wanted.qtSpatialQuality(768);
    wanted.size(Kelvo_Size(12, 8));
    const Rect roi{0, 2, 2, 5};
    wanted.qtROI(&roi);
    service.videoParams(&wanted);
    EXPECT_EQ(service.Error(), noErr);
    CodecQ quality = 0;
    ASSERT_EQ(GraphicsImportGetQuality(service.importer(), &quality), noErr);
    EXPECT_EQ(quality, 768u);
    Kelvo_DisplayTransform* context = service.graphicsContext();
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(context->qtDstRect().width(), 12);
    EXPECT_EQ(context->qtDstRect().height(), 8);
    EXPECT_EQ(std::memcmp(context->SrcRect(), &roi, sizeof roi), 0);
    // A region outside the image is not taken.
    const Rect outside{0, 0, 5, 7};
    wanted.qtROI(&outside);
    service.videoParams(&wanted);
    EXPECT_EQ(std::memcmp(context->SrcRect(), &roi, sizeof roi), 0);

    service.videoParams(nullptr);
    EXPECT_EQ(service.Error(), paramErr);
    Kelvo_ImgDesc nothing(uint32_t(0));
    service.Flags(1);
    service.videoParams(&nothing);
    EXPECT_EQ(service.Error(), paramErr);

    Rect dst{0, 0, 2, 3};
    Kelvo_DisplayTransform small(nullptr, &dst);
    service.graphicsContext(&small);
    EXPECT_EQ(service.graphicsContext(), context) << "copied into the service's own";
    EXPECT_EQ(context->qtDstRect().width(), 3);
    service.graphicsContext(nullptr);
    EXPECT_EQ(service.Error(), paramErr);

    EXPECT_TRUE(service.HasFeature(kGraphicsImportDrawSelect));
    EXPECT_TRUE(service.HasFeature(kGraphicsImportGetExportSettingsAsAtomContainerSelect));
    EXPECT_FALSE(service.HasFeature(0x0001));
}

TEST(ImportGraphics, FilesDrawIntoNewWorlds) {
    ASSERT_FALSE(fixtureFolder().empty());
    const View natural = viewOf("png");
    const View doubled = viewOf("png-x2");
    FSSpec spec = specOf(fixture("png.img"));
    struct Case {
        const char* what;
        std::unique_ptr<Rect> bounds;
        Rect world;
        const View& view;
    };
    Case cases[] = {
        {"natural bounds", nullptr, Rect{0, 0, 4, 6}, natural},
        {"twice the size", std::make_unique<Rect>(Rect{0, 0, 8, 12}), Rect{0, 0, 8, 12}, doubled},
        {"twice the size, elsewhere", std::make_unique<Rect>(Rect{20, 10, 28, 22}), Rect{20, 10, 28, 22},
         doubled},
        {"empty bounds: natural ones", std::make_unique<Rect>(Rect{5, 5, 5, 9}), Rect{0, 0, 4, 6}, natural},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.what);
        GWorldPtr world = nullptr;
        ASSERT_EQ(KelvoFile_ImportGraphicsFile(&spec, &world, c.bounds.get()), noErr);
        ASSERT_NE(world, nullptr);
        Rect got{};
        GetPortBounds(world, &got);
        EXPECT_EQ(std::memcmp(&got, &c.world, sizeof got), 0);
        EXPECT_EQ(pixelsOf(world), c.view.argb);
        EXPECT_TRUE(GetPixelsState(GetGWorldPixMap(world)) & pixelsLocked);
        DisposeGWorld(world);
    }

    GWorldPtr world = reinterpret_cast<GWorldPtr>(&spec);
    EXPECT_EQ(KelvoFile_ImportGraphicsFile(nullptr, &world, nullptr), paramErr);
    EXPECT_EQ(world, nullptr);
    EXPECT_EQ(KelvoFile_ImportGraphicsFile(&spec, nullptr, nullptr), paramErr);
    FSSpec missing = specOf(fixture("missing.png"));
    EXPECT_EQ(KelvoFile_ImportGraphicsFile(&missing, &world, nullptr), fnfErr);
    FSSpec text = specOf(fixture("text.img"));
    EXPECT_EQ(KelvoFile_ImportGraphicsFile(&text, &world, nullptr), cantFindHandler);
    EXPECT_EQ(world, nullptr);
    // A file whose header reads but whose pixels do not: an error, and no half-made world.
    FSSpec cut = specOf(fixture("cut.img"));
    EXPECT_NE(KelvoFile_ImportGraphicsFile(&cut, &world, nullptr), noErr);
    EXPECT_EQ(world, nullptr);
}
