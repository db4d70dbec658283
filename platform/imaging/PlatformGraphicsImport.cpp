// The graphics importers over the codec engines. Each importer instance keeps its data source,
// its world, its drawing settings, its export settings and its progress procedure in a table of
// this file, keyed by the instance the component manager made; the manager's open and close
// callbacks add and remove the entries, and its dispatch callback answers the can-do question.
#include "PlatformGraphicsImport.h"
#include "PlatformGraphicsMetaData.h"

#include "PlatformCodecEngines.h"
#include "PlatformDataRef.h"
#include "PlatformFixed.h"
#include "PlatformGeometry.h"
#include "PlatformMemory.h"
#include "PlatformPixelFormats.h"

#include <algorithm>
#include <cstddef>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

namespace {

using platform::codec::Format;

struct Kind {
    OSType subType;
    Format format;
    OSType cType; // of the descriptions the importer gives
    const char* name;
};

constexpr Kind kKinds[] = {
    {kQTFileTypePNG, Format::PNG, FOUR_CHAR_CODE("png "), "PNG"},
    {kQTFileTypeJPEG, Format::JPEG, FOUR_CHAR_CODE("jpeg"), "JPEG"},
    {kQTFileTypeBMP, Format::BMP, FOUR_CHAR_CODE("WRLE"), "BMP"},
    {kQTFileTypeGIF, Format::GIF, FOUR_CHAR_CODE("gif "), "GIF"},
    {kQTFileTypeJPEG2000, Format::JPEG2000, FOUR_CHAR_CODE("mjp2"), "JPEG 2000"},
};

// The kind whose signature the bytes start with.
const Kind* kindOfContent(const uint8_t* p, size_t n) {
    auto starts = [&](const char* sig, size_t len) { return n >= len && std::memcmp(p, sig, len) == 0; };
    if (starts("\x89PNG\r\n\x1a\n", 8)) return &kKinds[0];
    if (starts("\xFF\xD8\xFF", 3)) return &kKinds[1];
    if (starts("BM", 2)) return &kKinds[2];
    if (starts("GIF87a", 6) || starts("GIF89a", 6)) return &kKinds[3];
    if (starts("\0\0\0\x0CjP  \r\n\x87\n", 12) || starts("\xFF\x4F\xFF\x51", 4)) return &kKinds[4];
    return nullptr;
}

// Bytes of the first signature test.
constexpr size_t kSignatureBytes = 12;
// The largest source an importer reads: no picture of the engines comes from more.
constexpr int64_t kLargestSource = int64_t(platform::codec::kMaxPictureBytes);

enum class Source { None, File, Handle, Pointer };

constexpr CodecQ kNormalQuality = 512;

MatrixRecord identityMatrix() {
    MatrixRecord m;
    SetIdentityMatrix(&m);
    return m;
}

struct Importer {
    const Kind* kind = nullptr;
    Source source = Source::None;
    std::string path;
    Handle handle = nullptr;
    const uint8_t* pointer = nullptr;
    size_t pointerSize = 0;
    CGrafPtr port = nullptr;
    GDHandle device = nullptr;
    // Drawing settings. A clip region, once made, is never changed, so a copy of this state taken
    // for a draw keeps a region that another thread's SetClip replaces.
    std::shared_ptr<OpaqueRgnHandle> clip;
    MatrixRecord matrix = identityMatrix();
    int32_t mode = ditherCopy;
    RGBColor opColor{0x8000, 0x8000, 0x8000};
    bool hasSourceRect = false; // without one, the source rectangle is the natural bounds
    Rect sourceRect{0, 0, 0, 0};
    CodecQ quality = kNormalQuality;
    int32_t flags = 0;
    // The export settings in the flat form, when there are any.
    bool hasExportSettings = false;
    std::string exportSettings;
    // The caller's progress procedure; none without one (the platform's own shows nothing).
    ICMProgressProcRecord progress{nullptr, 0};
    // The picture GraphicsImportValidate decoded, which the next draw takes instead of decoding
    // again; a new source drops it.
    std::shared_ptr<const platform::codec::Picture> decoded;
};

struct Table {
    std::mutex mutex;
    std::map<ComponentInstance, Importer> importers;
    std::map<OSType, Component> components;
};

Table& table() {
    static Table* t = new Table(); // lives as long as the process, as the components do
    return *t;
}

OSErr openImporter(void* refcon, Component, ComponentInstance* instance) {
    Table& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    try {
        t.importers[*instance].kind = static_cast<const Kind*>(refcon);
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
    return noErr;
}

OSErr closeImporter(void*, ComponentInstance instance) {
    {
        Table& t = table();
        std::lock_guard<std::mutex> lock(t.mutex);
        t.importers.erase(instance);
    }
    platform::forgetGraphicsMetaData(instance);
    return noErr;
}

// The calls an importer answers, for the component manager's can-do question.
constexpr int16_t kSelectors[] = {
    kGraphicsImportSetDataFileSelect,
    kGraphicsImportSetDataHandleSelect,
    kGraphicsImportGetImageDescriptionSelect,
    kGraphicsImportSetClipSelect,
    kGraphicsImportGetClipSelect,
    kGraphicsImportSetSourceRectSelect,
    kGraphicsImportGetSourceRectSelect,
    kGraphicsImportGetNaturalBoundsSelect,
    kGraphicsImportDrawSelect,
    kGraphicsImportSetGWorldSelect,
    kGraphicsImportSetMatrixSelect,
    kGraphicsImportGetMatrixSelect,
    kGraphicsImportSetBoundsRectSelect,
    kGraphicsImportSetGraphicsModeSelect,
    kGraphicsImportGetGraphicsModeSelect,
    kGraphicsImportSetQualitySelect,
    kGraphicsImportGetQualitySelect,
    kGraphicsImportGetMetaDataSelect,
    kGraphicsImportDoExportImageFileDialogSelect,
    kGraphicsImportGetExportSettingsAsAtomContainerSelect,
    kGraphicsImportSetExportSettingsFromAtomContainerSelect,
    kGraphicsImportSetProgressProcSelect,
    kGraphicsImportGetImageCountSelect,
    kGraphicsImportSetImageIndexSelect,
    kGraphicsImportGetImageIndexSelect,
    kGraphicsImportSetDestRectSelect,
    kGraphicsImportGetDestRectSelect,
    kGraphicsImportSetFlagsSelect,
    kGraphicsImportGetFlagsSelect,
    kGraphicsImportCreateCGImageSelect,
};

ComponentResult dispatchImporter(void*, ComponentInstance, int32_t selector, void* params) {
    if (selector != kComponentCanDoSelect) return badComponentSelector;
    if (!params) return paramErr;
    const int16_t asked = *static_cast<const int16_t*>(params);
    return std::find(std::begin(kSelectors), std::end(kSelectors), asked) != std::end(kSelectors) ? 1 : 0;
}

// Tells the importer's progress procedure, when it has one.
void tellProgress(const Importer& imp, int16_t message, Fixed done) {
    if (imp.progress.progressProc) imp.progress.progressProc(message, done, imp.progress.progressRefCon);
}

// A copy of the instance's state; false for an instance that is no importer.
bool stateOf(ComponentInstance ci, Importer& out) {
    platform::installGraphicsImporters();
    Table& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    auto it = t.importers.find(ci);
    if (!ci || it == t.importers.end()) return false;
    out = it->second;
    return true;
}

template <class F> ComponentResult update(ComponentInstance ci, F change) {
    platform::installGraphicsImporters();
    Table& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    auto it = t.importers.find(ci);
    if (!ci || it == t.importers.end()) return badComponentInstance;
    change(it->second);
    return noErr;
}

// Bytes read from a file, in memory that is not cleared first (the read fills it).
struct FileBytes {
    std::unique_ptr<uint8_t[]> data;
    size_t size = 0;
    uint64_t fileSize = 0; // the whole file's
};

// Reads up to `most` bytes of a file, or all of it when `most` is 0 (memFullErr for a file larger
// than any source).
OSErr readFile(const std::string& path, size_t most, FileBytes& out) {
    out = FileBytes();
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return fnfErr;
    OSErr err = noErr;
    int64_t length = -1;
    if (fseeko(f, 0, SEEK_END) == 0) length = int64_t(ftello(f));
    if (length < 0 || fseeko(f, 0, SEEK_SET) != 0) {
        err = ioErr;
    } else if (most == 0 && length > kLargestSource) {
        err = memFullErr;
    } else {
        const size_t wanted = most ? std::min(size_t(length), most) : size_t(length);
        out.fileSize = uint64_t(length);
        if (wanted > 0) {
            out.data.reset(new (std::nothrow) uint8_t[wanted]);
            if (!out.data)
                err = memFullErr;
            else if (std::fread(out.data.get(), 1, wanted, f) != wanted)
                err = ioErr;
            else
                out.size = wanted;
        }
    }
    std::fclose(f);
    if (err != noErr) out = FileBytes();
    return err;
}

// The source's bytes as they are now: a file's read into `storage`, a handle's and a pointer's
// where they lie (no copy).
OSErr sourceBytes(const Importer& imp, FileBytes& storage, const uint8_t*& data, size_t& size) {
    storage = FileBytes();
    data = nullptr;
    size = 0;
    switch (imp.source) {
    case Source::File: {
        const OSErr err = readFile(imp.path, 0, storage);
        if (err != noErr) return err;
        data = storage.data.get();
        size = storage.size;
        return noErr;
    }
    case Source::Handle: {
        if (!imp.handle || !*imp.handle) return paramErr;
        const Size n = GetHandleSize(imp.handle);
        if (n < 0 || int64_t(n) > kLargestSource) return memFullErr;
        data = reinterpret_cast<const uint8_t*>(*imp.handle);
        size = size_t(n);
        return noErr;
    }
    case Source::Pointer:
        data = imp.pointer;
        size = imp.pointerSize;
        return noErr;
    case Source::None:
        break;
    }
    return paramErr;
}

// The first bytes of a file that its header is looked for in; a header further on (a JPEG after
// large metadata) is read from the whole file.
constexpr size_t kHeaderBytes = 64 * 1024;

// The layout (inspect) or the whole picture (decode) of the importer's image.
OSErr pictureOf(const Importer& imp, bool decode, platform::codec::Picture& out) {
    out = platform::codec::Picture();
    if (!decode && imp.decoded) {
        // The layout of the picture a check has just decoded.
        out.width = imp.decoded->width;
        out.height = imp.decoded->height;
        out.components = imp.decoded->components;
        out.bitsPerSample = imp.decoded->bitsPerSample;
        out.precision = imp.decoded->precision;
        return noErr;
    }
    if (!decode && imp.source == Source::File) {
        // Headers are at the start: the layout is read without the whole file when it is there.
        FileBytes head;
        if (readFile(imp.path, kHeaderBytes, head) == noErr && head.size == kHeaderBytes &&
            platform::codec::inspectHead(imp.kind->format, head.data.get(), head.size, head.fileSize, out) ==
                noErr)
            return noErr;
    }
    FileBytes storage;
    const uint8_t* data = nullptr;
    size_t size = 0;
    OSErr err = sourceBytes(imp, storage, data, size);
    if (err != noErr) return err;
    static const uint8_t kNothing = 0;
    if (!data) data = &kNothing, size = 0;
    return decode ? platform::codec::decode(imp.kind->format, data, size, out)
                  : platform::codec::inspect(imp.kind->format, data, size, out);
}

// The decoded picture for a draw: the one Validate left (taken, so that it is used once), else
// decoded now.
OSErr pictureToDraw(ComponentInstance ci, const Importer& imp,
                    std::shared_ptr<const platform::codec::Picture>& picture) {
    picture.reset();
    update(ci, [&](Importer& i) { picture = std::move(i.decoded); });
    if (picture) return noErr;
    std::shared_ptr<platform::codec::Picture> made;
    try {
        made = std::make_shared<platform::codec::Picture>();
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
    const OSErr err = pictureOf(imp, true, *made);
    if (err != noErr) return err;
    picture = std::move(made);
    return noErr;
}

// The image's natural bounds, read from its header.
OSErr naturalBoundsOf(const Importer& imp, Rect& bounds) {
    bounds = Rect{0, 0, 0, 0};
    platform::codec::Picture layout;
    const OSErr err = pictureOf(imp, false, layout);
    if (err != noErr) return err;
    if (layout.width > INT16_MAX || layout.height > INT16_MAX) return paramErr;
    bounds = Rect{0, 0, int16_t(layout.height), int16_t(layout.width)};
    return noErr;
}

OSErr sourceRectOf(const Importer& imp, Rect& rect) {
    if (imp.hasSourceRect) {
        rect = imp.sourceRect;
        return noErr;
    }
    return naturalBoundsOf(imp, rect);
}

// Whether the blitter can draw through the matrix: no perspective, a positive [2][2] term, and an
// inverse.
bool drawableMatrix(const MatrixRecord& m) {
    const auto& a = m.matrix;
    if (a[0][2] != 0 || a[1][2] != 0 || a[2][2] <= 0) return false;
    return int64_t(a[0][0]) * a[1][1] - int64_t(a[0][1]) * a[1][0] != 0;
}

// The bounding box of the rectangle carried through the matrix, edges rounded to nearest.
OSErr destRectOf(const MatrixRecord& m, const Rect& source, Rect& dest) {
    dest = Rect{0, 0, 0, 0};
    if (!drawableMatrix(m)) return paramErr;
    const auto& a = m.matrix;
    const double w = double(a[2][2]) / double(fract1);
    auto fixed = [](Fixed f) { return double(f) / 65536.0; };
    double minX = INFINITY, minY = INFINITY, maxX = -INFINITY, maxY = -INFINITY;
    for (int corner = 0; corner < 4; ++corner) {
        const double x = corner & 1 ? source.right : source.left;
        const double y = corner & 2 ? source.bottom : source.top;
        const double X = (x * fixed(a[0][0]) + y * fixed(a[1][0]) + fixed(a[2][0])) / w;
        const double Y = (x * fixed(a[0][1]) + y * fixed(a[1][1]) + fixed(a[2][1])) / w;
        minX = std::min(minX, X), maxX = std::max(maxX, X);
        minY = std::min(minY, Y), maxY = std::max(maxY, Y);
    }
    const double edges[4] = {std::floor(minY + 0.5), std::floor(minX + 0.5), std::floor(maxY + 0.5),
                             std::floor(maxX + 0.5)};
    for (double e : edges)
        if (!(e >= INT16_MIN && e <= INT16_MAX)) return paramErr;
    dest = Rect{int16_t(edges[0]), int16_t(edges[1]), int16_t(edges[2]), int16_t(edges[3])};
    return noErr;
}

// The matrix that maps the source rectangle onto `dest`.
ComponentResult mapSourceOnto(GraphicsImportComponent importer, const Rect* dest) {
    if (!dest || EmptyRect(dest)) return paramErr;
    Importer imp;
    if (!stateOf(importer, imp)) return badComponentInstance;
    Rect source;
    const OSErr err = sourceRectOf(imp, source);
    if (err != noErr) return err;
    MatrixRecord m = identityMatrix();
    MapMatrix(&m, &source, dest);
    if (!drawableMatrix(m)) return paramErr;
    return update(importer, [&](Importer& i) { i.matrix = m; });
}

// A world over a decoded picture, in a format that keeps its samples: 8-bit colour is drawn from
// the picture's own memory, 16-bit grey and colour stay 16-bit, 8-bit grey is a depth-40 world
// (which pictureToPixMap fills with the inverted encoding), and anything else with alpha is
// 32-bit.
class PictureWorld {
  public:
    PictureWorld() = default;
    PictureWorld(const PictureWorld&) = delete;
    PictureWorld& operator=(const PictureWorld&) = delete;
    ~PictureWorld() {
        if (world_) DisposeGWorld(world_);
    }

    // The picture must outlive this world, which only reads it.
    OSErr make(const platform::codec::Picture& picture) {
        if (picture.width > INT16_MAX || picture.height > INT16_MAX) return paramErr;
        const Rect bounds{0, 0, int16_t(picture.height), int16_t(picture.width)};
        const bool plain8 = picture.bitsPerSample == 8 && picture.precision == 8;
        if (plain8 && (picture.components == 3 || picture.components == 4))
            return QTNewGWorldFromPtr(
                &world_, picture.components == 3 ? k24RGBPixelFormat : k32RGBAPixelFormat, &bounds, nullptr,
                nullptr, 0, const_cast<uint8_t*>(picture.samples.data()), int32_t(picture.rowBytes()));
        if (plain8 && picture.components == 1) {
            // Grey is drawn from the picture's own memory too, as indices of a ramp where 0 is
            // black.
            CTabHandle ramp = greyRamp();
            if (!ramp) return memFullErr;
            const OSErr err =
                QTNewGWorldFromPtr(&world_, k8IndexedPixelFormat, &bounds, ramp, nullptr, 0,
                                   const_cast<uint8_t*>(picture.samples.data()), int32_t(picture.rowBytes()));
            DisposeHandle(reinterpret_cast<Handle>(ramp));
            return err;
        }
        const bool wide = picture.bitsPerSample == 16;
        OSType format = k32ARGBPixelFormat;
        if (picture.components == 1) format = wide ? k16GrayPixelFormat : k8IndexedGrayPixelFormat;
        if (picture.components == 3) format = wide ? k48RGBPixelFormat : k24RGBPixelFormat;
        const OSErr err = QTNewGWorld(&world_, format, &bounds, nullptr, nullptr, 0);
        if (err != noErr) return err;
        return platform::pictureToPixMap(picture, map());
    }
    PixMapHandle map() const { return GetGWorldPixMap(world_); }
    GWorldPtr world() const { return world_; }

  private:
    // 256 entries, entry i the grey i.
    static CTabHandle greyRamp() {
        Handle h = NewHandleClear(Size(offsetof(ColorTable, ctTable) + 256 * sizeof(ColorSpec)));
        if (!h) return nullptr;
        auto* table = reinterpret_cast<ColorTable*>(*h);
        table->ctSize = 255;
        ColorSpec* entries = table->ctTable;
        for (int i = 0; i < 256; ++i) {
            const uint16_t v = uint16_t(i * 257);
            entries[i] = ColorSpec{int16_t(i), RGBColor{v, v, v}};
        }
        return reinterpret_cast<CTabHandle>(h);
    }

    GWorldPtr world_ = nullptr;
};

// Draws the decoded picture into the map with the importer's settings.
OSErr drawWithSettings(const Importer& imp, const platform::codec::Picture& picture, PixMapHandle dst) {
    if (imp.mode < INT16_MIN || imp.mode > INT16_MAX) return paramErr;
    const Rect source = imp.hasSourceRect ? imp.sourceRect
                                          : Rect{0, 0, platform::clampToInt16(picture.height),
                                                 platform::clampToInt16(picture.width)};
    PictureWorld from;
    OSErr err = from.make(picture);
    if (err != noErr) return err;
    return platform::drawPixMap(from.map(), &source, dst, &imp.matrix, imp.clip.get(), int16_t(imp.mode));
}

void freeImageBytes(void*, const void* data, size_t) {
    std::free(const_cast<void*>(data));
}

// A new image of a 32-bit world's pixels, the colour premultiplied by the alpha.
OSErr imageOfWorld(GWorldPtr world, CGImageRef* image) {
    PixMapHandle pm = GetGWorldPixMap(world);
    Rect bounds{};
    GetPixBounds(pm, &bounds);
    const size_t width = size_t(bounds.right - bounds.left), height = size_t(bounds.bottom - bounds.top);
    const size_t rowBytes = width * 4;
    auto* bytes = static_cast<uint8_t*>(std::malloc(rowBytes * height));
    if (!bytes) return memFullErr;
    const auto* base = reinterpret_cast<const uint8_t*>(GetPixBaseAddr(pm));
    const size_t stride = size_t(GetPixRowBytes(pm));
    for (size_t y = 0; y < height; ++y) {
        const uint8_t* from = base + y * stride;
        uint8_t* to = bytes + y * rowBytes;
        for (size_t x = 0; x < width * 4; x += 4) {
            const unsigned alpha = from[x];
            to[x] = uint8_t(alpha);
            for (size_t c = 1; c < 4; ++c)
                to[x + c] = uint8_t((from[x + c] * alpha + 127) / 255);
        }
    }
    CGDataProviderRef provider =
        CGDataProviderCreateWithData(nullptr, bytes, rowBytes * height, freeImageBytes);
    if (!provider) {
        std::free(bytes);
        return memFullErr;
    }
    CGColorSpaceRef space = CGColorSpaceCreateDeviceRGB();
    CGImageRef made =
        space ? CGImageCreate(width, height, 8, 32, rowBytes, space, kCGImageAlphaPremultipliedFirst,
                              provider, nullptr, false, kCGRenderingIntentDefault)
              : nullptr;
    CGColorSpaceRelease(space);
    CGDataProviderRelease(provider); // the image holds it, or it frees the bytes
    if (!made) return memFullErr;
    *image = made;
    return noErr;
}

// Opens the importer of a kind; null on failure.
OSErr openKind(const Kind* kind, GraphicsImportComponent* importer) {
    Component c = nullptr;
    {
        Table& t = table();
        std::lock_guard<std::mutex> lock(t.mutex);
        auto it = t.components.find(kind->subType);
        if (it != t.components.end()) c = it->second;
    }
    if (!c) return cantFindHandler;
    return OpenAComponent(c, importer);
}

// Opens the importer for `bytes` (the source's first bytes) and gives it its source; with
// `validate`, the source must also inspect as an image of that kind.
OSErr importerFor(const uint8_t* head, size_t n, const Importer& source, bool validate,
                  GraphicsImportComponent* importer) {
    const Kind* kind = kindOfContent(head, n);
    if (!kind) return cantFindHandler;
    GraphicsImportComponent ci = nullptr;
    OSErr err = openKind(kind, &ci);
    if (err != noErr) return err;
    update(ci, [&](Importer& imp) {
        imp.source = source.source;
        imp.decoded.reset();
        imp.path = source.path;
        imp.handle = source.handle;
        imp.pointer = source.pointer;
        imp.pointerSize = source.pointerSize;
    });
    if (validate) {
        Importer imp;
        platform::codec::Picture layout;
        if (!stateOf(ci, imp) || pictureOf(imp, false, layout) != noErr) {
            CloseComponent(ci);
            return cantFindHandler;
        }
    }
    *importer = ci;
    return noErr;
}

// The picture as a new image: the whole image, or with kGraphicsImportCreateCGImageUsingCurrentSettings
// what Draw would draw.
OSErr imageOf(const Importer& imp, CGImageRef* imageRef, uint32_t flags) {
    platform::codec::Picture picture;
    OSErr err = pictureOf(imp, true, picture);
    if (err != noErr) return err;
    tellProgress(imp, kICMProgressUpdate, fixed1 / 2);
    if (picture.width > INT16_MAX || picture.height > INT16_MAX) return paramErr;
    const bool current = (flags & kGraphicsImportCreateCGImageUsingCurrentSettings) != 0;
    Rect bounds{0, 0, int16_t(picture.height), int16_t(picture.width)};
    if (current) {
        const Rect source = imp.hasSourceRect ? imp.sourceRect : bounds;
        err = destRectOf(imp.matrix, source, bounds);
        if (err != noErr) return err;
        if (EmptyRect(&bounds)) return paramErr;
    }
    GWorldPtr world = nullptr;
    err = QTNewGWorld(&world, k32ARGBPixelFormat, &bounds, nullptr, nullptr, 0);
    if (err != noErr) return err;
    err = current ? drawWithSettings(imp, picture, GetGWorldPixMap(world))
                  : platform::pictureToPixMap(picture, GetGWorldPixMap(world));
    if (err == noErr) err = imageOfWorld(world, imageRef);
    DisposeGWorld(world);
    return err;
}

} // namespace

namespace platform {

void installGraphicsImporters() {
    static std::once_flag once;
    std::call_once(once, [] {
        Handle icon = newPlainIconSuite(0xFFF0F0D0u, 0xFF404040u);
        for (const Kind& k : kKinds) {
            ComponentCallbacks callbacks;
            callbacks.open = openImporter;
            callbacks.close = closeImporter;
            callbacks.dispatch = dispatchImporter;
            const std::string info = std::string("Imports ") + k.name + " images";
            Component c =
                registerComponent({GraphicsImporterComponentType, k.subType, kVendorCode, cmpThreadSafe, 0},
                                  k.name, info.c_str(), icon, callbacks, const_cast<Kind*>(&k));
            if (!c) continue;
            Table& t = table();
            std::lock_guard<std::mutex> lock(t.mutex);
            t.components[k.subType] = c;
        }
        if (icon) DisposeHandle(icon);
    });
}

ComponentResult graphicsImportDecodeInto(GraphicsImportComponent importer, const codec::RowTarget& target) {
    Importer imp;
    if (!stateOf(importer, imp)) return badComponentInstance;
    // Only these engines write rows of a caller's: the others are not read for nothing.
    if (imp.kind->format != Format::BMP && imp.kind->format != Format::PNG) return codecUnimpErr;
    if (imp.source == Source::File) {
        // A file the engine reads a piece at a time is never held whole.
        FILE* f = std::fopen(imp.path.c_str(), "rb");
        if (!f) return fnfErr;
        // Pieces go straight into the engine's memory, with no stream buffer between.
        std::setvbuf(f, nullptr, _IONBF, 0);
        int64_t length = -1;
        if (fseeko(f, 0, SEEK_END) == 0) length = int64_t(ftello(f));
        OSErr err = codecUnimpErr;
        if (length >= 0) {
            codec::ByteSource source;
            source.context = f;
            source.size = uint64_t(length);
            source.read = [](void* context, uint64_t offset, size_t count, uint8_t* out) {
                auto* file = static_cast<FILE*>(context);
                return offset <= uint64_t(INT64_MAX) && fseeko(file, off_t(offset), SEEK_SET) == 0 &&
                       std::fread(out, 1, count, file) == count;
            };
            err = codec::decodeInto(imp.kind->format, source, codec::DecodeOptions(), target);
        }
        std::fclose(f);
        if (err != codecUnimpErr) return err;
    }
    FileBytes storage;
    const uint8_t* data = nullptr;
    size_t size = 0;
    const OSErr err = sourceBytes(imp, storage, data, size);
    if (err != noErr) return err;
    static const uint8_t kNothing = 0;
    if (!data) data = &kNothing, size = 0;
    return codec::decodeInto(imp.kind->format, data, size, codec::DecodeOptions(), target);
}

} // namespace platform

OSErr GetGraphicsImporterForFile(const FSSpec* file, GraphicsImportComponent* importer) {
    if (importer) *importer = nullptr;
    if (!file || !importer) return paramErr;
    platform::installGraphicsImporters();
    Importer source;
    source.source = Source::File;
    source.path.assign(file->path, strnlen(file->path, sizeof file->path));
    FileBytes head;
    OSErr err = readFile(source.path, kSignatureBytes, head);
    if (err != noErr) return err;
    return importerFor(head.data.get(), head.size, source, false, importer);
}

OSErr GetGraphicsImporterForDataRefWithFlags(Handle dataRef, OSType dataRefType,
                                             GraphicsImportComponent* importer, int32_t flags) {
    if (importer) *importer = nullptr;
    if (!dataRef || !*dataRef || !importer) return paramErr;
    platform::installGraphicsImporters();
    const bool validate = (flags & kGraphicsImporterDontValidate) == 0;
    Importer source;
    std::vector<uint8_t> head;
    const Size refSize = GetHandleSize(dataRef);
    if (dataRefType == AliasDataHandlerSubType) {
        source.source = Source::File;
        source.path = platform::aliasPath(dataRef);
        if (source.path.empty()) return couldNotResolveDataRef;
        FileBytes read;
        OSErr err = readFile(source.path, kSignatureBytes, read);
        if (err != noErr) return err;
        head.assign(read.data.get(), read.data.get() + read.size);
    } else if (dataRefType == HandleDataHandlerSubType) {
        if (refSize < Size(sizeof(Handle))) return paramErr;
        std::memcpy(&source.handle, *dataRef, sizeof(Handle));
        if (!source.handle || !*source.handle) return paramErr;
        source.source = Source::Handle;
        const size_t n = std::min(size_t(GetHandleSize(source.handle)), kSignatureBytes);
        head.assign(reinterpret_cast<const uint8_t*>(*source.handle),
                    reinterpret_cast<const uint8_t*>(*source.handle) + n);
    } else if (dataRefType == PointerDataHandlerSubType) {
        if (refSize < Size(sizeof(void*) + sizeof(int32_t))) return paramErr;
        int32_t length = 0;
        std::memcpy(&source.pointer, *dataRef, sizeof(void*));
        std::memcpy(&length, *dataRef + sizeof(void*), sizeof length);
        if (!source.pointer || length < 0) return paramErr;
        source.source = Source::Pointer;
        source.pointerSize = size_t(length);
        head.assign(source.pointer, source.pointer + std::min(source.pointerSize, kSignatureBytes));
    } else {
        return cantFindHandler;
    }
    return importerFor(head.data(), head.size(), source, validate, importer);
}

ComponentResult GraphicsImportSetDataFile(GraphicsImportComponent importer, const FSSpec* file) {
    if (!file) return paramErr;
    const std::string path(file->path, strnlen(file->path, sizeof file->path));
    return update(importer, [&](Importer& imp) {
        imp.source = Source::File;
        imp.decoded.reset();
        imp.path = path;
        imp.handle = nullptr;
        imp.pointer = nullptr;
        imp.hasSourceRect = false;
    });
}

ComponentResult GraphicsImportSetDataHandle(GraphicsImportComponent importer, Handle data) {
    if (!data) return paramErr;
    return update(importer, [&](Importer& imp) {
        imp.source = Source::Handle;
        imp.decoded.reset();
        imp.path.clear();
        imp.handle = data;
        imp.pointer = nullptr;
        imp.hasSourceRect = false;
    });
}

ComponentResult GraphicsImportGetNaturalBounds(GraphicsImportComponent importer, Rect* bounds) {
    if (bounds) std::memset(bounds, 0, sizeof *bounds);
    Importer imp;
    if (!stateOf(importer, imp)) return badComponentInstance;
    Rect natural;
    const OSErr err = naturalBoundsOf(imp, natural);
    if (err == noErr && bounds) *bounds = natural;
    return err;
}

ComponentResult GraphicsImportGetImageDescription(GraphicsImportComponent importer,
                                                  ImageDescriptionHandle* desc) {
    if (desc) *desc = nullptr;
    if (!desc) return paramErr;
    Importer imp;
    if (!stateOf(importer, imp)) return badComponentInstance;
    platform::codec::Picture layout;
    const OSErr err = pictureOf(imp, false, layout);
    if (err != noErr) return err;
    if (layout.width > INT16_MAX || layout.height > INT16_MAX) return paramErr;
    Handle h = NewHandleClear(Size(sizeof(ImageDescription)));
    if (!h) return memFullErr;
    ImageDescription d{};
    d.idSize = int32_t(sizeof(ImageDescription));
    d.cType = imp.kind->cType;
    d.vendor = int32_t(platform::kVendorCode);
    d.width = int16_t(layout.width);
    d.height = int16_t(layout.height);
    d.hRes = d.vRes = 0x00480000;
    d.frameCount = 1;
    const size_t nameLength = std::strlen(imp.kind->name);
    d.name[0] = uint8_t(nameLength);
    std::memcpy(d.name + 1, imp.kind->name, nameLength);
    // Grey images are depth 40, colour 24, anything with alpha 32.
    d.depth = layout.components == 1 ? 40 : layout.components == 3 ? 24 : 32;
    d.clutID = -1;
    std::memcpy(*h, &d, sizeof d);
    *desc = reinterpret_cast<ImageDescriptionHandle>(h);
    return noErr;
}

ComponentResult GraphicsImportSetGWorld(GraphicsImportComponent importer, CGrafPtr port, GDHandle gd) {
    return update(importer, [&](Importer& imp) {
        imp.port = port;
        imp.device = gd;
    });
}

ComponentResult GraphicsImportDraw(GraphicsImportComponent importer) {
    Importer imp;
    if (!stateOf(importer, imp)) return badComponentInstance;
    CGrafPtr port = imp.port;
    if (!port) {
        GDHandle ignored = nullptr;
        GetGWorld(&port, &ignored);
    }
    PixMapHandle pixMap = port ? GetGWorldPixMap(port) : nullptr;
    if (!pixMap) return paramErr;
    tellProgress(imp, kICMProgressOpen, 0);
    std::shared_ptr<const platform::codec::Picture> picture;
    OSErr err = pictureToDraw(importer, imp, picture);
    if (err == noErr) {
        tellProgress(imp, kICMProgressUpdate, fixed1 / 2);
        err = drawWithSettings(imp, *picture, pixMap);
    }
    if (err == noErr) tellProgress(imp, kICMProgressUpdate, fixed1);
    tellProgress(imp, kICMProgressClose, 0);
    return err;
}

ComponentResult GraphicsImportValidate(GraphicsImportComponent importer, Boolean* valid) {
    if (valid) *valid = false;
    if (!valid) return paramErr;
    Importer imp;
    if (!stateOf(importer, imp)) return badComponentInstance;
    std::shared_ptr<platform::codec::Picture> made;
    try {
        made = std::make_shared<platform::codec::Picture>();
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
    const OSErr err = pictureOf(imp, true, *made);
    if (err != noErr) {
        // A check that fails is the failed start of a draw: the progress procedure hears it
        // begin and end, as it would from the draw.
        tellProgress(imp, kICMProgressOpen, 0);
        tellProgress(imp, kICMProgressClose, 0);
        return err;
    }
    update(importer, [&](Importer& i) { i.decoded = std::move(made); });
    *valid = true;
    return noErr;
}

ComponentResult GraphicsImportSetClip(GraphicsImportComponent importer, RgnHandle clipRgn) {
    if (clipRgn && !platform::isRegion(clipRgn)) return paramErr;
    std::shared_ptr<OpaqueRgnHandle> copy;
    if (clipRgn) {
        RgnHandle r = NewRgn();
        if (!r) return memFullErr;
        CopyRgn(clipRgn, r);
        if (QDError() != noErr) {
            DisposeRgn(r);
            return memFullErr;
        }
        try {
            copy = std::shared_ptr<OpaqueRgnHandle>(r, DisposeRgn);
        } catch (const std::bad_alloc&) {
            DisposeRgn(r);
            return memFullErr;
        }
    }
    // The region this replaces goes when the last copy of the state holding it does.
    return update(importer, [&](Importer& imp) { imp.clip.swap(copy); });
}

ComponentResult GraphicsImportGetClip(GraphicsImportComponent importer, RgnHandle* clipRgn) {
    if (!clipRgn) return paramErr;
    *clipRgn = nullptr;
    Importer imp;
    if (!stateOf(importer, imp)) return badComponentInstance;
    if (!imp.clip) return noErr;
    RgnHandle r = NewRgn();
    if (!r) return memFullErr;
    CopyRgn(imp.clip.get(), r);
    if (QDError() != noErr) {
        DisposeRgn(r);
        return memFullErr;
    }
    *clipRgn = r;
    return noErr;
}

ComponentResult GraphicsImportSetMatrix(GraphicsImportComponent importer, const MatrixRecord* matrix) {
    const MatrixRecord m = matrix ? *matrix : identityMatrix();
    if (!drawableMatrix(m)) return paramErr;
    return update(importer, [&](Importer& imp) { imp.matrix = m; });
}

ComponentResult GraphicsImportGetMatrix(GraphicsImportComponent importer, MatrixRecord* matrix) {
    if (!matrix) return paramErr;
    Importer imp;
    if (!stateOf(importer, imp)) return badComponentInstance;
    *matrix = imp.matrix;
    return noErr;
}

ComponentResult GraphicsImportSetGraphicsMode(GraphicsImportComponent importer, int32_t graphicsMode,
                                              const RGBColor* opColor) {
    return update(importer, [&](Importer& imp) {
        imp.mode = graphicsMode;
        if (opColor) imp.opColor = *opColor;
    });
}

ComponentResult GraphicsImportGetGraphicsMode(GraphicsImportComponent importer, int32_t* graphicsMode,
                                              RGBColor* opColor) {
    if (!graphicsMode || !opColor) return paramErr;
    Importer imp;
    if (!stateOf(importer, imp)) return badComponentInstance;
    *graphicsMode = imp.mode;
    *opColor = imp.opColor;
    return noErr;
}

ComponentResult GraphicsImportSetSourceRect(GraphicsImportComponent importer, const Rect* sourceRect) {
    if (!sourceRect || EmptyRect(sourceRect)) return paramErr;
    Importer imp;
    if (!stateOf(importer, imp)) return badComponentInstance;
    Rect natural;
    const OSErr err = naturalBoundsOf(imp, natural);
    if (err != noErr) return err;
    if (sourceRect->left < natural.left || sourceRect->top < natural.top ||
        sourceRect->right > natural.right || sourceRect->bottom > natural.bottom)
        return paramErr;
    return update(importer, [&](Importer& i) {
        i.hasSourceRect = true;
        i.sourceRect = *sourceRect;
    });
}

ComponentResult GraphicsImportGetSourceRect(GraphicsImportComponent importer, Rect* sourceRect) {
    if (!sourceRect) return paramErr;
    *sourceRect = Rect{0, 0, 0, 0};
    Importer imp;
    if (!stateOf(importer, imp)) return badComponentInstance;
    return sourceRectOf(imp, *sourceRect);
}

ComponentResult GraphicsImportGetDestRect(GraphicsImportComponent importer, Rect* destRect) {
    if (!destRect) return paramErr;
    *destRect = Rect{0, 0, 0, 0};
    Importer imp;
    if (!stateOf(importer, imp)) return badComponentInstance;
    Rect source;
    const OSErr err = sourceRectOf(imp, source);
    if (err != noErr) return err;
    return destRectOf(imp.matrix, source, *destRect);
}

ComponentResult GraphicsImportSetDestRect(GraphicsImportComponent importer, const Rect* destRect) {
    return mapSourceOnto(importer, destRect);
}

ComponentResult GraphicsImportSetBoundsRect(GraphicsImportComponent importer, const Rect* bounds) {
    return mapSourceOnto(importer, bounds);
}

ComponentResult GraphicsImportSetQuality(GraphicsImportComponent importer, CodecQ quality) {
    return update(importer, [&](Importer& imp) { imp.quality = quality; });
}

ComponentResult GraphicsImportGetQuality(GraphicsImportComponent importer, CodecQ* quality) {
    if (!quality) return paramErr;
    Importer imp;
    if (!stateOf(importer, imp)) return badComponentInstance;
    *quality = imp.quality;
    return noErr;
}

ComponentResult GraphicsImportSetFlags(GraphicsImportComponent importer, int32_t flags) {
    return update(importer, [&](Importer& imp) { imp.flags = flags; });
}

ComponentResult GraphicsImportGetFlags(GraphicsImportComponent importer, int32_t* flags) {
    if (!flags) return paramErr;
    Importer imp;
    if (!stateOf(importer, imp)) return badComponentInstance;
    *flags = imp.flags;
    return noErr;
}

ComponentResult GraphicsImportGetImageCount(GraphicsImportComponent importer, uint32_t* imageCount) {
    if (!imageCount) return paramErr;
    Importer imp;
    if (!stateOf(importer, imp)) return badComponentInstance;
    *imageCount = 1;
    return noErr;
}

ComponentResult GraphicsImportGetImageIndex(GraphicsImportComponent importer, uint32_t* imageIndex) {
    if (!imageIndex) return paramErr;
    Importer imp;
    if (!stateOf(importer, imp)) return badComponentInstance;
    *imageIndex = 1;
    return noErr;
}

ComponentResult GraphicsImportSetImageIndex(GraphicsImportComponent importer, uint32_t imageIndex) {
    Importer imp;
    if (!stateOf(importer, imp)) return badComponentInstance;
    return imageIndex == 1 ? noErr : paramErr;
}

ComponentResult GraphicsImportCreateCGImage(GraphicsImportComponent importer, CGImageRef* imageRef,
                                            uint32_t flags) {
    if (!imageRef) return paramErr;
    *imageRef = nullptr;
    Importer imp;
    if (!stateOf(importer, imp)) return badComponentInstance;
    tellProgress(imp, kICMProgressOpen, 0);
    const OSErr err = imageOf(imp, imageRef, flags);
    if (err == noErr) tellProgress(imp, kICMProgressUpdate, fixed1);
    tellProgress(imp, kICMProgressClose, 0);
    return err;
}

ComponentResult GraphicsImportGetExportSettingsAsAtomContainer(GraphicsImportComponent importer,
                                                               QTAtomContainer* settings) {
    if (!settings) return paramErr;
    *settings = nullptr;
    Importer imp;
    if (!stateOf(importer, imp)) return badComponentInstance;
    if (!imp.hasExportSettings) return noErr;
    return QTUnflattenAtomContainer(imp.exportSettings.data(), imp.exportSettings.size(), settings);
}

ComponentResult GraphicsImportSetExportSettingsFromAtomContainer(GraphicsImportComponent importer,
                                                                 QTAtomContainer settings) {
    Importer imp;
    if (!stateOf(importer, imp)) return badComponentInstance;
    if (!settings) return paramErr;
    // At most one export type, a non-zero OSType.
    const int32_t types = QTCountChildrenOfType(settings, 0, kGraphicsImportExportTypeAtom);
    if (types > 1) return paramErr;
    if (types == 1) {
        const QTAtom atom = QTFindChildByIndex(settings, 0, kGraphicsImportExportTypeAtom, 1, nullptr);
        uint8_t type[4] = {0, 0, 0, 0};
        int32_t size = 0, got = 0;
        if (!atom || QTGetAtomDataSize(settings, atom, &size) != noErr || size != 4 ||
            QTCopyAtomDataToPtr(settings, atom, false, 4, type, &got) != noErr || got != 4 ||
            (type[0] | type[1] | type[2] | type[3]) == 0)
            return paramErr;
    }
    Handle flat = nullptr;
    OSErr err = QTFlattenAtomContainer(settings, &flat);
    if (err != noErr) return err;
    std::string bytes;
    try {
        bytes.assign(*flat, size_t(GetHandleSize(flat)));
    } catch (const std::bad_alloc&) {
        err = memFullErr;
    }
    DisposeHandle(flat);
    if (err != noErr) return err;
    return update(importer, [&](Importer& i) {
        i.exportSettings.swap(bytes);
        i.hasExportSettings = true;
    });
}

ComponentResult GraphicsImportDoExportImageFileDialog(GraphicsImportComponent importer, const FSSpec*,
                                                      ConstStringPtr, const void*, OSType* exportedType,
                                                      OSType* exportedSubType) {
    if (exportedType) *exportedType = 0;
    if (exportedSubType) *exportedSubType = 0;
    Importer imp;
    if (!stateOf(importer, imp)) return badComponentInstance;
    return userCanceledErr;
}

ComponentResult GraphicsImportSetProgressProc(GraphicsImportComponent importer,
                                              ICMProgressProcRecord* progressProc) {
    ICMProgressProcRecord record{nullptr, 0};
    // -1 asks for the platform's own procedure, which shows nothing here.
    if (progressProc && reinterpret_cast<intptr_t>(progressProc) != -1) record = *progressProc;
    if (!record.progressProc) record.progressRefCon = 0;
    return update(importer, [&](Importer& imp) { imp.progress = record; });
}
