// FenraImage and its pixel-format classes: an image read from an image file, size and format,
// and saving as a PNG file; and FenraImageStatistics, what an image reports of its samples.
//
// An image may come from another plug-in (a frame grabbed from its presentation). Saving copies
// its pixels, read through its virtual operations, into an image of the companion's own, so that
// the offscreen world and the exporter that write the file are all of this plug-in's platform.
#include "FenraBase.h"
#include "KelvoExportGraphics.h"
#include "KelvoImageBase.h"
#include "KelvoImageDescriptors.h"
#include "KelvoImportGraphics.h"
#include "PlatformCodecEngines.h"
#include "PlatformGWorlds.h"
#include "PlatformGraphicsImport.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

namespace {

constexpr const char* kImage = "Kelvo_Image";

Kelvo_Image* image(REALobject self) {
    return FenraObjectAs<Kelvo_Image>(self, kImage);
}

// The pixel format an image file's samples keep: grey files stay grey, colour files keep their
// colour and alpha. Anything else (an indexed file, say) is read as colour.
uint32_t formatForDepth(int16_t depth) {
    switch (depth) {
    case 40:
        return Kelvo_Image::kGrey;
    case 32:
        return Kelvo_Image::kARGB;
    default:
        return Kelvo_Image::kRGB;
    }
}

// Draws the importer's image into a world over the colour image's own pixels (R, G, B or A, R, G,
// B rows, as the world of that format lays them out), once a check has decoded it.
OSErr drawIntoImage(GraphicsImportComponent importer, const Rect& bounds, OSType worldFormat,
                    Kelvo_Image& image) {
    Boolean valid = false;
    OSErr err = GraphicsImportValidate(importer, &valid);
    if (err == noErr && !valid) err = paramErr;
    GWorldPtr world = nullptr;
    if (err == noErr)
        err = QTNewGWorldFromPtr(&world, worldFormat, &bounds, nullptr, nullptr, 0,
                                 static_cast<Ptr>(image.buffer()), int32_t(image.rowBytes()));
    if (err == noErr) {
        GraphicsImportSetGWorld(importer, world, nullptr);
        err = GraphicsImportDraw(importer);
        GraphicsImportSetGWorld(importer, nullptr, nullptr);
    }
    if (world) DisposeGWorld(world);
    return err;
}

// A new image of the file the importer that recognises its content reads (PNG, JPEG, BMP, GIF,
// JPEG 2000), at its natural size; null when the file cannot be read or is no image.
//
// Colour files land in the image's own pixels: decoded straight into them where the file's engine
// writes rows of their layout, else drawn into a world over them. Those pixels are not cleared
// first (every one is written), and memory of them is touched only as the data fills it, so data
// that cannot fill the size it announces costs none of it. Grey files are drawn through a 32-bit
// world, once decoded, and the grey of its pixels taken.
Kelvo_Image* importImage(const std::string& path) {
    FSSpec spec{};
    if (path.empty() || path.size() >= sizeof spec.path) return nullptr;
    std::memcpy(spec.path, path.data(), path.size());
    GraphicsImportComponent importer = nullptr;
    if (GetGraphicsImporterForFile(&spec, &importer) != noErr || !importer) return nullptr;
    int16_t depth = 24;
    ImageDescriptionHandle description = nullptr;
    if (GraphicsImportGetImageDescription(importer, &description) == noErr && description) {
        depth = (**description).depth;
        DisposeHandle(reinterpret_cast<Handle>(description));
    }
    Rect bounds{};
    OSErr err = GraphicsImportGetNaturalBounds(importer, &bounds);
    const uint32_t format = formatForDepth(depth);
    Kelvo_Image* result = nullptr;
    if (err == noErr && format != Kelvo_Image::kGrey) {
        const Kelvo_Size size(double(bounds.right - bounds.left), double(bounds.bottom - bounds.top));
        result = Kelvo_Image::createUncleared(Kelvo_OSType(format), size);
        if (!result || !result->qtObjIsValid()) {
            err = memFullErr;
        } else {
            err = codecUnimpErr;
            if (format == Kelvo_Image::kRGB) {
                platform::codec::RowTarget target;
                target.base = static_cast<uint8_t*>(result->buffer());
                target.rowBytes = result->rowBytes();
                target.width = int32_t(result->width());
                target.height = int32_t(result->height());
                target.layout = platform::codec::RowLayout::RGB24;
                err = platform::graphicsImportDecodeInto(importer, target);
            }
            if (err == codecUnimpErr)
                err = drawIntoImage(importer, bounds,
                                    format == Kelvo_Image::kRGB ? OSType(k24RGBPixelFormat)
                                                                : OSType(k32ARGBPixelFormat),
                                    *result);
        }
    } else if (err == noErr) {
        Boolean valid = false;
        err = GraphicsImportValidate(importer, &valid);
        if (err == noErr && !valid) err = paramErr;
        GWorldPtr drawn = nullptr;
        if (err == noErr) err = QTNewGWorld(&drawn, k32ARGBPixelFormat, &bounds, nullptr, nullptr, 0);
        if (err == noErr) {
            GraphicsImportSetGWorld(importer, drawn, nullptr);
            err = GraphicsImportDraw(importer);
            GraphicsImportSetGWorld(importer, nullptr, nullptr);
        }
        if (err == noErr) {
            Kelvo_QDGWorldBuffer world(drawn, false);
            if (world.Error() == 0)
                result = Kelvo_Image::createWithQDContext(world, Kelvo_OSType(format), nullptr);
        }
        if (drawn) DisposeGWorld(drawn);
    }
    CloseComponent(importer);
    if (err != noErr || (result && !result->qtObjIsValid())) {
        delete result;
        result = nullptr;
    }
    return result;
}

// An empty image, to be given one by the program that made it.
void imageEmptyCtr(REALobject) {}

// The image of the file the folder item names. A file that is no image, or an item without a
// path, leaves the instance empty (no size, no pixel format).
void imageFileCtr(REALobject self, REALobject file) {
    const std::string path = FenraFolderItemPath(file);
    if (path.empty()) return;
    if (Kelvo_Image* read = importImage(path)) FenraSetObject(self, read);
}

RBInteger width(REALobject self, RBInteger) {
    auto* i = image(self);
    return i && i->qtObjIsValid() ? RBInteger(i->width()) : 0;
}
RBInteger height(REALobject self, RBInteger) {
    auto* i = image(self);
    return i && i->qtObjIsValid() ? RBInteger(i->height()) : 0;
}
RBInteger pixelFormat(REALobject self, RBInteger) {
    auto* i = image(self);
    return i && i->qtObjIsValid() ? RBInteger(i->pixelFormat()) : 0;
}
RBInteger depth(REALobject self, RBInteger) {
    auto* i = image(self);
    return i && i->qtObjIsValid() ? RBInteger(i->depth()) : 0;
}

// Writes the image as a PNG file at the folder item's path: 0, or -50 for an invalid image or an
// item without a usable path, the exporter's status, or 101 when nothing was written.
RBInteger saveAsPNG(REALobject self, REALobject destination) {
    Kelvo_Image* source = image(self);
    if (!source || !source->qtObjIsValid()) return -50;
    const std::string path = FenraFolderItemPath(destination);
    FSSpec spec{};
    if (path.empty() || path.size() >= sizeof spec.path) return -50;
    std::memcpy(spec.path, path.data(), path.size());

    std::unique_ptr<Kelvo_Image> own(Kelvo_Image::createWithData(
        Kelvo_OSType(source->pixelFormat()), Kelvo_Size(double(source->width()), double(source->height())),
        source->buffer()));
    if (!own || !own->qtObjIsValid()) return own && own->Error() != 0 ? own->Error() : -50;
    std::unique_ptr<Kelvo_QDGWorldBuffer> world(own->image(static_cast<Kelvo_DisplayTransform*>(nullptr)));
    if (!world) return own->Error() != 0 ? own->Error() : -50;
    Kelvo_ExportGraphics exporter(kQTFileTypePNGExport);
    if (!exporter.qtObjIsValid()) return exporter.Error() != 0 ? exporter.Error() : -50;
    compressionOutputRecord out{};
    out.kind = kCompressionOutputFile;
    out.file = &spec;
    const uint32_t written = exporter.doService(world.get(), &out);
    if (exporter.Error() != 0) return exporter.Error();
    return written > 0 ? 0 : 101;
}

// ---- FenraImageStatistics ----

Kelvo_ImageInfo* info(REALobject self) {
    return FenraObjectAs<Kelvo_ImageInfo>(self, "Kelvo_ImageInfo");
}
RBInteger statCount(REALobject self, RBInteger) {
    auto* s = info(self);
    return s ? RBInteger(s->count) : 0;
}
// The double fields, chosen by the property's parameter.
double statValue(REALobject self, RBInteger field) {
    auto* s = info(self);
    if (!s) return 0.0;
    switch (field) {
    case 0:
        return s->mean;
    case 1:
        return s->variance;
    case 2:
        return s->stdDeviation;
    case 3:
        return s->meanAbsDeviation;
    case 4:
        return s->min;
    case 5:
        return s->max;
    default:
        return 0.0;
    }
}

} // namespace

void FenraImageMembers(const char* className, FenraMembers& m) {
    const std::string_view name = className;
    if (name == "FenraImage") {
        m.method("Constructor()", FenraProc(&imageEmptyCtr))
            .method("Constructor(f as folderitem)", FenraProc(&imageFileCtr))
            .property("width", "integer", FenraProc(&width))
            .property("height", "integer", FenraProc(&height))
            .property("pixelFormat", "integer", FenraProc(&pixelFormat))
            .property("depth", "integer", FenraProc(&depth))
            .method("saveAsPNG(destination as folderitem) as integer", FenraProc(&saveAsPNG))
            .constant("kMonochrome = 1")
            .constant("kRGB = 24")
            .constant("kARGB = 32")
            .constant("kGrey = 40");
    } else if (name == "FenraImageStatistics") {
        m.property("count", "integer", FenraProc(&statCount));
        const char* fields[] = {"mean", "variance", "stdDeviation", "meanAbsDeviation", "min", "max"};
        for (RBInteger i = 0; i < 6; ++i) {
            m.property(fields[i], "double", FenraProc(&statValue));
            m.properties.back().param = i;
        }
    }
}
