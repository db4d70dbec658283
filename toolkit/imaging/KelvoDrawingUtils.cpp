#include "KelvoDrawingUtils.h"

#include "KelvoCoreObjectsUtils.h"
#include "KelvoCoreVideoDataDescriptors.h"
#include "PlatformErrors.h"
#include "PlatformGWorlds.h"
#include "PlatformGraphicsImport.h"
#include "PlatformMoviePlayback.h"
#include "PlatformMovies.h"
#include "PlatformPendingCalls.h"
#include "PlatformPictures.h"

#include <cstdlib>
#include <new>
#include <vector>

namespace {

constexpr int32_t kNoSource = 79;
constexpr int32_t kMissingData = memFullErr; // -108: no data, no picture, no pixel map
constexpr int32_t kNoFile = fnfErr;          // -43
// GraphicsImportCreateCGImage: the image as the importer's current settings draw it.
constexpr uint32_t kUseCurrentSettings = 1;

// A world's own rectangle moved to the origin: the decompression sessions place an image's first
// pixel at (0, 0), so a world whose bounds start elsewhere is drawn from there too.
Kelvo_Rect originBoundsOf(GWorldPtr world) {
    Kelvo_Rect bounds(world);
    return Kelvo_Rect(bounds.width(), bounds.height());
}

// The 32-bit world's rows, or a status: -50 for a null or empty world, -108 without pixels.
struct Rows {
    uint8_t* base = nullptr;
    int32_t rowBytes = 0, width = 0, height = 0;
    OSType format = 0;
};

int32_t rowsOf(GWorldPtr world, Rows& out) {
    if (!world) return paramErr;
    PixMapHandle map = GetGWorldPixMap(world);
    if (!map || !*map || !(*map)->baseAddr) return kMissingData;
    const Rect& b = (*map)->bounds;
    out.width = int32_t(b.right) - b.left;
    out.height = int32_t(b.bottom) - b.top;
    if (out.width <= 0 || out.height <= 0) return paramErr;
    out.base = reinterpret_cast<uint8_t*>((*map)->baseAddr);
    out.rowBytes = GetPixRowBytes(map);
    out.format = (*map)->pixelFormat;
    return noErr;
}

// Runs `change` over every pixel as 8-bit A, R, G, B: in place for the 32-bit A, R, G, B
// worlds the utilities make, through the conversion engine for other formats.
template <class F> int32_t eachPixel(GWorldPtr world, F change) {
    Rows rows;
    if (int32_t err = rowsOf(world, rows)) return err;
    if (rows.format == k32ARGBPixelFormat) {
        for (int32_t y = 0; y < rows.height; ++y) {
            uint8_t* p = rows.base + ptrdiff_t(y) * rows.rowBytes;
            for (int32_t x = 0; x < rows.width; ++x, p += 4)
                change(p);
        }
        return noErr;
    }
    const platform::PixelRaster raster = platform::rasterOfPixMap(**GetGWorldPixMap(world));
    if (!platform::rasterIsUsable(raster)) return paramErr;
    std::vector<platform::ARGB16> line;
    try {
        line.resize(size_t(rows.width));
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
    for (int32_t y = 0; y < rows.height; ++y) {
        platform::readPixels(raster, 0, y, rows.width, line.data());
        for (platform::ARGB16& px : line) {
            uint8_t p[4] = {platform::to8(px.a), platform::to8(px.r), platform::to8(px.g),
                            platform::to8(px.b)};
            change(p);
            px = platform::ARGB16{uint16_t(p[0] * 257), uint16_t(p[1] * 257), uint16_t(p[2] * 257),
                                  uint16_t(p[3] * 257)};
        }
        platform::writePixels(raster, 0, y, rows.width, line.data(), false);
    }
    return noErr;
}

bool validTransform(Kelvo_DisplayTransform* t) {
    return t && t->qtObjIsValid();
}

// Fits the transform's destination (or `bounds` when it has none) into `bounds`, taking `bounds`
// as the source when the transform has none and clipping to the destination when it has no clip;
// answers the rectangle it fitted, which is what gets drawn.
Kelvo_Rect fitTransform(Kelvo_DisplayTransform& t, Kelvo_Rect& bounds) {
    if (!t.qtSrcRect().qtObjIsValid()) t.SrcRect(bounds.rPtr());
    Kelvo_Rect work(bounds);
    if (t.qtDstRect().qtObjIsValid()) work = t.qtDstRect();
    Rect fitted{};
    Kelvo_RectScaleInRect(work.rPtr(), bounds.rPtr(), &fitted);
    t.DstRect(&fitted);
    if (!t.Clip()) t.ClipToDestRect();
    return work;
}

// Draws through an importer the caller opened, then closes it.
Kelvo_QDGWorldBuffer* drawAndClose(GraphicsImportComponent importer, Kelvo_DisplayTransform* t,
                                   int32_t& err) {
    Kelvo_QDGWorldBuffer* buffer = Kelvo_DrawingUtils::draw(importer, t, err);
    CloseComponent(importer);
    return buffer;
}

// One frame of the input decompressed into the prepared buffer through a local image-sequence
// session, then the post-steps. A session that cannot be made leaves the buffer blank; one that
// does not start loses the buffer.
Kelvo_QDGWorldBuffer* decompressInto(Kelvo_QDGWorldBuffer* buffer, Kelvo_ImgDesc* parameters,
                                     compressionInputRecord& input, Kelvo_DisplayTransform* t, int32_t& err) {
    Kelvo_ISDecompressionSession session(parameters);
    if (!session.qtObjIsValid()) {
        err = session.Error();
        return buffer;
    }
    session.inputStorage(&input);
    err = noErr;
    session.displayTransformations(t);
    if (!session.beginSession(buffer)) {
        err = session.Error();
        delete buffer;
        return nullptr;
    }
    session.decompressData(0, 0);
    err = session.Error();
    session.endSession();
    if (err == noErr) err = Kelvo_DrawingUtils::postProcessingDrawingContext(*buffer, t);
    return buffer;
}

// What prepareDrawingContext makes, with the reason when it makes nothing (-108 without memory).
// A new world's pixels are zero from the start and untouched: a huge picture costs memory only
// where it is drawn, so nothing here clears it again.
Kelvo_QDGWorldBuffer* preparedBuffer(Kelvo_Rect& bounds, Kelvo_DisplayTransform* t, int32_t& err) {
    Kelvo_Rect work = validTransform(t) ? fitTransform(*t, bounds) : Kelvo_Rect(bounds);
    auto* buffer = new (std::nothrow) Kelvo_QDGWorldBuffer(work, k32ARGBPixelFormat);
    if (!buffer) {
        err = memFullErr;
        return nullptr;
    }
    if (!buffer->qtObjIsValid()) {
        err = buffer->Error() != noErr ? buffer->Error() : int32_t(paramErr);
        delete buffer;
        return nullptr;
    }
    return buffer;
}

} // namespace

Kelvo_QDGWorldBuffer* Kelvo_DrawingUtils::prepareDrawingContext(Kelvo_Rect& bounds,
                                                                Kelvo_DisplayTransform* t) {
    int32_t ignored = noErr;
    return preparedBuffer(bounds, t, ignored);
}

int32_t Kelvo_DrawingUtils::postProcessingDrawingContext(Kelvo_QDGWorldBuffer& buffer,
                                                         Kelvo_DisplayTransform* t) {
    if (!t) return noErr;
    int32_t status = noErr;
    if (t->Gamma() != 1.0) status = changeGamma(buffer.buffer(), t->GammaTable());
    if (t->discardColor()) status = discardColor(buffer.buffer());
    return status;
}

Kelvo_QDGWorldBuffer* Kelvo_DrawingUtils::draw(GWorldPtr world, Kelvo_DisplayTransform* t, int32_t& err) {
    if (!world) {
        err = kNoSource;
        return nullptr;
    }
    Kelvo_Rect bounds = originBoundsOf(world);
    Kelvo_QDGWorldBuffer* buffer = prepareDrawingContext(bounds, t);
    if (!buffer) return nullptr;
    Kelvo_ImgDesc parameters(world);
    compressionInputRecord input{};
    input.kind = 4;
    input.world = world;
    return decompressInto(buffer, &parameters, input, t, err);
}

Kelvo_QDGWorldBuffer* Kelvo_DrawingUtils::draw(pointerDataRecordForCompression& record,
                                               Kelvo_DisplayTransform* t, int32_t& err) {
    if (!record.data || record.size <= 0 || !record.desc) {
        err = kMissingData;
        return nullptr;
    }
    Kelvo_Rect bounds(int32_t(record.desc->qtWidth()), int32_t(record.desc->qtHeight()));
    Kelvo_QDGWorldBuffer* buffer = prepareDrawingContext(bounds, t);
    if (!buffer) return nullptr;
    compressionInputRecord input{};
    input.kind = 2;
    input.pointer = record;
    return decompressInto(buffer, record.desc, input, t, err);
}

Kelvo_QDGWorldBuffer* Kelvo_DrawingUtils::draw(Movie movie, int32_t time, Kelvo_DisplayTransform* t,
                                               int32_t& err) {
    Movie copy = Kelvo_Utils::MovieCopy(movie, err, true);
    if (!copy) return nullptr;
    Rect natural{};
    GetMovieNaturalBoundsRect(copy, &natural);
    Kelvo_QDGWorldBuffer local(Kelvo_Rect(natural), k32ARGBPixelFormat);
    Kelvo_QDGWorldBuffer* result = nullptr;
    if (!local.qtObjIsValid()) {
        err = local.Error();
    } else {
        SetMovieGWorld(copy, local.buffer(), nullptr);
        err = GetMoviesError();
        if (err == noErr) {
            SetMovieTimeValue(copy, time);
            MoviesTask(copy, 0);
            result = draw(local.buffer(), t, err);
        }
    }
    DisposeMovie(copy);
    return result;
}

Kelvo_QDGWorldBuffer* Kelvo_DrawingUtils::draw(PicHandle picture, Kelvo_DisplayTransform* t, int32_t& err) {
    if (!picture) {
        err = kMissingData;
        return nullptr;
    }
    // The picture is drawn at its frame's size with the frame's corner at the origin, where the
    // session takes the world's pixels from.
    Kelvo_Rect frame(picture);
    Kelvo_Rect size(frame.width(), frame.height());
    Kelvo_QDGWorldBuffer local(size, k32ARGBPixelFormat);
    if (!local.qtObjIsValid()) {
        err = local.Error() != noErr ? local.Error() : frame.Error();
        return nullptr;
    }
    CGrafPtr savedPort = nullptr;
    GDHandle savedDevice = nullptr;
    GetGWorld(&savedPort, &savedDevice);
    SetGWorld(local.buffer(), nullptr);
    DrawPicture(picture, size.rPtr());
    SetGWorld(savedPort, savedDevice);
    return draw(local.buffer(), t, err);
}

Kelvo_QDGWorldBuffer* Kelvo_DrawingUtils::draw(GraphicsImportComponent importer, Kelvo_DisplayTransform* t,
                                               int32_t& err) {
    if (!importer) {
        err = badComponentInstance;
        return nullptr;
    }
    Kelvo_Rect bounds(importer);
    // The image is decoded before its world is made: a header announcing a picture its data
    // cannot fill fails here, before memory of that size is asked for.
    Boolean valid = false;
    err = GraphicsImportValidate(importer, &valid);
    if (err != noErr || !valid) {
        if (err == noErr) err = codecBadDataErr;
        return nullptr;
    }
    Kelvo_QDGWorldBuffer* buffer = preparedBuffer(bounds, t, err);
    if (!buffer) return nullptr;
    GraphicsImportSetGWorld(importer, buffer->buffer(), nullptr);
    if (t) {
        if (t->Clip()) GraphicsImportSetClip(importer, t->Clip()->region());
        GraphicsImportSetMatrix(importer, t->Matrix());
        GraphicsImportSetGraphicsMode(importer, t->drawingMode().mode(), &t->drawingMode().color());
    }
    err = GraphicsImportDraw(importer);
    if (err != noErr) {
        delete buffer;
        return nullptr;
    }
    err = postProcessingDrawingContext(*buffer, t);
    return buffer;
}

CGImageRef Kelvo_DrawingUtils::drawCGImage(GraphicsImportComponent importer, Kelvo_DisplayTransform* t,
                                           int32_t& err) {
    if (!importer) {
        err = badComponentInstance;
        return nullptr;
    }
    Kelvo_Rect source(importer);
    Kelvo_DisplayTransform local(source, source);
    if (t) {
        // A copy: the caller's transform stays as it is on this road.
        local.Copy(*t);
        fitTransform(local, source);
        GraphicsImportSetClip(importer, local.Clip() ? local.Clip()->region() : nullptr);
        GraphicsImportSetMatrix(importer, local.Matrix());
    }
    GraphicsImportSetGraphicsMode(importer, local.drawingMode().mode(), &local.drawingMode().color());
    CGImageRef image = nullptr;
    err = GraphicsImportCreateCGImage(importer, &image, kUseCurrentSettings);
    if (err != noErr) {
        if (image) CGImageRelease(image);
        return nullptr;
    }
    // Redrawn over opaque black: grey without alpha when the transform discards colour, else
    // premultiplied A, R, G, B.
    const bool grey = local.discardColor();
    const size_t width = CGImageGetWidth(image), height = CGImageGetHeight(image);
    const size_t rowBytes = grey ? width : width * 4;
    void* pixels = std::calloc(rowBytes * height, 1);
    CGColorSpaceRef space =
        grey ? CGColorSpaceCreateWithName(kCGColorSpaceGenericGray) : CGColorSpaceCreateDeviceRGB();
    CGContextRef context =
        pixels && space ? CGBitmapContextCreate(pixels, width, height, 8, rowBytes, space,
                                                grey ? kCGImageAlphaNone : kCGImageAlphaPremultipliedFirst)
                        : nullptr;
    if (context) {
        const CGRect all = CGRectMake(0, 0, CGFloat(width), CGFloat(height));
        CGContextSetRGBFillColor(context, 0, 0, 0, 1);
        CGContextFillRect(context, all);
        CGContextDrawImage(context, all, image);
        CGImageRef redrawn = CGBitmapContextCreateImage(context);
        if (redrawn) {
            CGImageRelease(image);
            image = redrawn;
        }
        CGContextRelease(context);
    }
    if (space) CGColorSpaceRelease(space);
    std::free(pixels);
    return image;
}

Kelvo_QDGWorldBuffer* Kelvo_DrawingUtils::draw(const FSSpec* file, Kelvo_DisplayTransform* t, int32_t& err) {
    if (!file) {
        err = kNoFile;
        return nullptr;
    }
    GraphicsImportComponent importer = nullptr;
    err = GetGraphicsImporterForFile(file, &importer);
    if (err != noErr || !importer) return nullptr;
    return drawAndClose(importer, t, err);
}

Kelvo_QDGWorldBuffer* Kelvo_DrawingUtils::draw(Kelvo_DataReference* reference, Kelvo_DisplayTransform* t,
                                               int32_t& err) {
    if (!Kelvo_QTObj::isValidInstance(reference, err, false)) return nullptr;
    GraphicsImportComponent importer = nullptr;
    err = GetGraphicsImporterForDataRefWithFlags(reference->DataRef(), reference->Type(), &importer, 0);
    if (err != noErr || !importer) return nullptr;
    return drawAndClose(importer, t, err);
}

Kelvo_QDGWorldBuffer* Kelvo_DrawingUtils::draw(compressionInputRecord& record, Kelvo_DisplayTransform* t,
                                               int32_t& err) {
    switch (record.kind) {
    case 2:
        return draw(record.pointer, t, err);
    case 3:
        return draw(record.picture, t, err);
    case 4:
        return draw(record.world, t, err);
    case 8:
        return draw(record.file, t, err);
    default:
        err = kNoSource;
        return nullptr;
    }
}

int32_t Kelvo_DrawingUtils::discardColor(GWorldPtr world) {
    return eachPixel(world, [](uint8_t* p) {
        const uint8_t grey = uint8_t((306u * p[1] + 601u * p[2] + 117u * p[3]) >> 10);
        p[0] = 255;
        p[1] = p[2] = p[3] = grey;
    });
}

int32_t Kelvo_DrawingUtils::changeGamma(GWorldPtr world, const unsigned char* table) {
    if (!table) return paramErr;
    return eachPixel(world, [table](uint8_t* p) {
        p[0] = 255;
        p[1] = table[p[1]];
        p[2] = table[p[2]];
        p[3] = table[p[3]];
    });
}
