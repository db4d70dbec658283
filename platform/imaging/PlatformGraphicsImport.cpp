// The graphics importers over the codec engines. Each importer instance keeps its data source
// and its world in a table of this file, keyed by the instance the component manager made; the
// manager's open and close callbacks add and remove the entries.
#include "PlatformGraphicsImport.h"

#include "PlatformCodecEngines.h"
#include "PlatformDataRef.h"
#include "PlatformMemory.h"

#include <cstdio>
#include <cstring>
#include <map>
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

struct Importer {
    const Kind* kind = nullptr;
    Source source = Source::None;
    std::string path;
    Handle handle = nullptr;
    const uint8_t* pointer = nullptr;
    size_t pointerSize = 0;
    CGrafPtr port = nullptr;
    GDHandle device = nullptr;
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
    Table& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    t.importers.erase(instance);
    return noErr;
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

// Reads up to `most` bytes of a file (all of it when `most` is 0).
OSErr readFile(const std::string& path, size_t most, std::vector<uint8_t>& out) {
    out.clear();
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return fnfErr;
    OSErr err = noErr;
    int64_t size = -1;
    if (fseeko(f, 0, SEEK_END) == 0) size = int64_t(ftello(f));
    if (size < 0 || fseeko(f, 0, SEEK_SET) != 0) {
        err = ioErr;
    } else if (most == 0 && size > kLargestSource) {
        err = memFullErr;
    } else {
        const size_t wanted = most ? std::min(size_t(size), most) : size_t(size);
        try {
            out.resize(wanted);
        } catch (const std::bad_alloc&) {
            err = memFullErr;
        }
        if (err == noErr && wanted && std::fread(out.data(), 1, wanted, f) != wanted) err = ioErr;
    }
    std::fclose(f);
    if (err != noErr) out.clear();
    return err;
}

// The source's bytes as they are now.
OSErr sourceBytes(const Importer& imp, std::vector<uint8_t>& out) {
    out.clear();
    switch (imp.source) {
    case Source::File:
        return readFile(imp.path, 0, out);
    case Source::Handle: {
        if (!imp.handle || !*imp.handle) return paramErr;
        const Size n = GetHandleSize(imp.handle);
        if (n < 0 || int64_t(n) > kLargestSource) return memFullErr;
        try {
            out.assign(reinterpret_cast<const uint8_t*>(*imp.handle),
                       reinterpret_cast<const uint8_t*>(*imp.handle) + n);
        } catch (const std::bad_alloc&) {
            return memFullErr;
        }
        return noErr;
    }
    case Source::Pointer:
        try {
            out.assign(imp.pointer, imp.pointer + imp.pointerSize);
        } catch (const std::bad_alloc&) {
            return memFullErr;
        }
        return noErr;
    case Source::None:
        break;
    }
    return paramErr;
}

// The layout (inspect) or the whole picture (decode) of the importer's image.
OSErr pictureOf(const Importer& imp, bool decode, platform::codec::Picture& out) {
    out = platform::codec::Picture();
    std::vector<uint8_t> bytes;
    OSErr err = sourceBytes(imp, bytes);
    if (err != noErr) return err;
    return decode ? platform::codec::decode(imp.kind->format, bytes.data(), bytes.size(), out)
                  : platform::codec::inspect(imp.kind->format, bytes.data(), bytes.size(), out);
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

} // namespace platform

OSErr GetGraphicsImporterForFile(const FSSpec* file, GraphicsImportComponent* importer) {
    if (importer) *importer = nullptr;
    if (!file || !importer) return paramErr;
    platform::installGraphicsImporters();
    Importer source;
    source.source = Source::File;
    source.path.assign(file->path, strnlen(file->path, sizeof file->path));
    std::vector<uint8_t> head;
    OSErr err = readFile(source.path, kSignatureBytes, head);
    if (err != noErr) return err;
    return importerFor(head.data(), head.size(), source, false, importer);
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
        OSErr err = readFile(source.path, kSignatureBytes, head);
        if (err != noErr) return err;
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
        imp.path = path;
        imp.handle = nullptr;
        imp.pointer = nullptr;
    });
}

ComponentResult GraphicsImportSetDataHandle(GraphicsImportComponent importer, Handle data) {
    if (!data) return paramErr;
    return update(importer, [&](Importer& imp) {
        imp.source = Source::Handle;
        imp.path.clear();
        imp.handle = data;
        imp.pointer = nullptr;
    });
}

ComponentResult GraphicsImportGetNaturalBounds(GraphicsImportComponent importer, Rect* bounds) {
    if (bounds) std::memset(bounds, 0, sizeof *bounds);
    Importer imp;
    if (!stateOf(importer, imp)) return badComponentInstance;
    platform::codec::Picture layout;
    const OSErr err = pictureOf(imp, false, layout);
    if (err != noErr) return err;
    if (layout.width > INT16_MAX || layout.height > INT16_MAX) return paramErr;
    if (bounds) *bounds = Rect{0, 0, int16_t(layout.height), int16_t(layout.width)};
    return noErr;
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
    platform::codec::Picture picture;
    const OSErr err = pictureOf(imp, true, picture);
    if (err != noErr) return err;
    return platform::pictureToPixMap(picture, pixMap);
}
