// The host's picture, graphics, window, movie and movie player classes, and the services that let
// a plug-in reach their pixels and platform objects.
//
// The host and each plug-in link their own copy of the platform, so nothing made by the host's
// copy is handed to a plug-in as a platform object. A picture or window owns plain pixel memory
// (32-bit ARGB, rows of width * 4 bytes) described by a REALGraphicsSurface; a plug-in wraps that
// memory in its own bitmap context or offscreen world. The "Handle" integers are numbers from a
// table of the host, looked up through REALHandlePointer: a number that was never given out, or
// whose object is gone, stands for nothing instead of for a stale address.
#include "HostObjects.h"
#include "HostRuntime.h"
#include "PlatformCodecEngines.h"
#include "PlatformFiles.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <new>
#include <vector>

namespace sylhost {

namespace {

HostRuntime* host() {
    return HostRuntime::active();
}

// ---- Handles ----

enum class HandleKind { Surface, Settable };

struct HandleEntry {
    HandleKind kind;
    void* pointer;
};

std::map<RBInteger, HandleEntry>& handleTable() {
    static std::map<RBInteger, HandleEntry> table;
    return table;
}

// Numbers start well away from 0 and small values, so that a count or a flag passed by mistake
// does not name a handle.
RBInteger newHandle(HandleKind kind, void* pointer) {
    static RBInteger next = 0x10000;
    RBInteger handle = next++;
    handleTable()[handle] = HandleEntry{kind, pointer};
    return handle;
}

void dropHandle(RBInteger handle) {
    handleTable().erase(handle);
}

// ---- Surfaces ----

constexpr int32_t kMaxSide = 32767;

bool validDepth(RBInteger depth) {
    return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16 || depth == 24 || depth == 32;
}

// A new surface of opaque white pixels; null for sizes out of range.
REALGraphicsSurface* newSurface(RBInteger width, RBInteger height, RBInteger depth) {
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide || !validDepth(depth))
        return nullptr;
    auto* surface = new REALGraphicsSurface{};
    surface->width = width;
    surface->height = height;
    surface->rowBytes = width * 4;
    surface->depth = depth;
    surface->pixelFormat = kREALSurfaceFormatARGB32;
    size_t bytes = size_t(surface->rowBytes) * size_t(height);
    auto* pixels = new (std::nothrow) uint8_t[bytes];
    if (!pixels) {
        delete surface;
        return nullptr;
    }
    std::memset(pixels, 0xFF, bytes);
    surface->pixels = pixels;
    return surface;
}

void deleteSurface(REALGraphicsSurface* surface) {
    if (!surface) return;
    delete[] static_cast<uint8_t*>(surface->pixels);
    delete surface;
}

// Writes the surface as an RGB PNG file (the alpha byte is not kept: host pictures are opaque).
bool saveSurfacePNG(const REALGraphicsSurface* surface, const std::string& path) {
    if (!surface || path.empty()) return false;
    platform::codec::Picture picture;
    picture.width = surface->width;
    picture.height = surface->height;
    picture.components = 3;
    picture.samples.resize(picture.rowBytes() * size_t(picture.height));
    const auto* pixels = static_cast<const uint8_t*>(surface->pixels);
    for (int32_t y = 0; y < surface->height; ++y) {
        const uint8_t* row = pixels + size_t(y) * size_t(surface->rowBytes);
        uint8_t* out = picture.samples.data() + size_t(y) * picture.rowBytes();
        for (int32_t x = 0; x < surface->width; ++x) {
            out[3 * x] = row[4 * x + 1];
            out[3 * x + 1] = row[4 * x + 2];
            out[3 * x + 2] = row[4 * x + 3];
        }
    }
    std::vector<uint8_t> bytes;
    if (platform::codec::encode(platform::codec::Format::PNG, picture, {}, bytes) != 0) return false;
    return PlatformWriteWholeFile(path.c_str(), bytes.data(), bytes.size()) == noErr;
}

// The instance data of `record`'s class in an object of that class (or a subclass).
template <class Data> Data* dataOf(REALobject object, REALClassRecord& record) {
    HostObject* o = liveObject(object);
    if (!o || !o->cls->isKindOf(record.name)) return nullptr;
    ClassInfo* cls = o->host->classOfRecord(&record);
    if (!cls) return nullptr;
    return reinterpret_cast<Data*>(o->data + cls->dataOffset);
}

REALClassRecord makeRecord(const char* name, RBRecordWord dataSize, REALproc constructor, REALproc destructor,
                           REALPropertyRecord* properties, RBRecordWord propertyCount,
                           REALMethodRecord* methods, RBRecordWord methodCount) {
    REALClassRecord record{};
    record.version = kREALPluginVersion;
    record.name = name;
    record.dataSize = dataSize;
    record.constructor = constructor;
    record.destructor = destructor;
    record.properties = properties;
    record.propertyCount = propertyCount;
    record.methods = methods;
    record.methodCount = methodCount;
    record.flags = kREALConsoleSafe;
    return record;
}

// ---- Picture ----

struct PictureData {
    REALGraphicsSurface* surface;
    RBInteger handle;
};

REALClassRecord& pictureClass();
REALClassRecord& graphicsClass();

PictureData* pictureData(REALobject picture) {
    return dataOf<PictureData>(picture, pictureClass());
}

void pictureDestructor(REALobject self) {
    if (PictureData* d = pictureData(self)) {
        if (d->handle) dropHandle(d->handle);
        deleteSurface(d->surface);
        *d = PictureData{};
    }
}

// A picture is given its pixels once; a second constructor call changes nothing.
void buildPicture(REALobject self, RBInteger width, RBInteger height, RBInteger depth) {
    PictureData* d = pictureData(self);
    if (!d || d->surface) return;
    d->surface = newSurface(width, height, depth);
    if (d->surface) d->handle = newHandle(HandleKind::Surface, d->surface);
}

void pictureConstructor2(REALobject self, RBInteger width, RBInteger height) {
    buildPicture(self, width, height, 32);
}

void pictureConstructor3(REALobject self, RBInteger width, RBInteger height, RBInteger depth) {
    buildPicture(self, width, height, depth);
}

RBInteger pictureWidth(REALobject self, RBInteger) {
    PictureData* d = pictureData(self);
    return d && d->surface ? d->surface->width : 0;
}

RBInteger pictureHeight(REALobject self, RBInteger) {
    PictureData* d = pictureData(self);
    return d && d->surface ? d->surface->height : 0;
}

RBInteger pictureDepth(REALobject self, RBInteger) {
    PictureData* d = pictureData(self);
    return d && d->surface ? d->surface->depth : 0;
}

struct GraphicsData {
    // The picture drawn into, kept alive by the graphics object.
    REALobject picture;
};

GraphicsData* graphicsData(REALobject graphics) {
    return dataOf<GraphicsData>(graphics, graphicsClass());
}

// A new graphics object over the picture; nil for a picture without pixels.
REALobject pictureGraphics(REALobject self, RBInteger) {
    HostRuntime* h = host();
    PictureData* d = pictureData(self);
    if (!h || !d || !d->surface) return nullptr;
    REALobject graphics = h->makeObject(h->classNamed("Graphics"));
    GraphicsData* g = graphicsData(graphics);
    if (!g) {
        releaseObject(graphics);
        return nullptr;
    }
    retainObject(self);
    g->picture = self;
    return graphics;
}

RBBoolean pictureSave(REALobject self, REALobject file) {
    PictureData* d = pictureData(self);
    return d && saveSurfacePNG(d->surface, folderItemPath(file)) ? 1 : 0;
}

REALPropertyRecord pictureProperties[] = {
    {nullptr, "Width", "integer", kREALConsoleSafe, (REALproc)&pictureWidth, nullptr, 0, {}},
    {nullptr, "Height", "integer", kREALConsoleSafe, (REALproc)&pictureHeight, nullptr, 0, {}},
    {nullptr, "Depth", "integer", kREALConsoleSafe, (REALproc)&pictureDepth, nullptr, 0, {}},
    {nullptr, "Graphics", "Graphics", kREALConsoleSafe, (REALproc)&pictureGraphics, nullptr, 0, {}},
};

REALMethodRecord pictureMethods[] = {
    {(REALproc)&pictureConstructor2, nullptr, "Constructor(w as Integer,h as integer)", kREALConsoleSafe, {}},
    {(REALproc)&pictureConstructor3,
     nullptr,
     "Constructor(w as Integer,h as integer,depth as integer)",
     kREALConsoleSafe,
     {}},
    {(REALproc)&pictureSave, nullptr, "Save(f as FolderItem) as Boolean", kREALConsoleSafe, {}},
};

REALClassRecord& pictureClass() {
    static REALClassRecord record =
        makeRecord("Picture", sizeof(PictureData), nullptr, (REALproc)&pictureDestructor, pictureProperties,
                   std::size(pictureProperties), pictureMethods, std::size(pictureMethods));
    return record;
}

// ---- Graphics ----

void graphicsDestructor(REALobject self) {
    if (GraphicsData* g = graphicsData(self)) {
        REALobject picture = g->picture;
        g->picture = nullptr;
        releaseObject(picture);
    }
}

// Type 5 answers the drawing surface of the picture; other types 0.
RBInteger graphicsHandle(REALobject self, RBInteger type) {
    GraphicsData* g = graphicsData(self);
    PictureData* d = g ? pictureData(g->picture) : nullptr;
    if (!d || type != kREALGraphicsHandleContext) return 0;
    return d->handle;
}

REALMethodRecord graphicsMethods[] = {
    {(REALproc)&graphicsHandle, nullptr, "Handle(Type as Integer) as Integer", kREALConsoleSafe, {}},
};

REALClassRecord& graphicsClass() {
    static REALClassRecord record =
        makeRecord("Graphics", sizeof(GraphicsData), nullptr, (REALproc)&graphicsDestructor, nullptr, 0,
                   graphicsMethods, std::size(graphicsMethods));
    return record;
}

// ---- Window ----

struct WindowData {
    REALGraphicsSurface* surface;
    RBInteger handle;
    RBInteger left, top;
};

REALClassRecord& windowClass();

WindowData* windowData(REALobject window) {
    return dataOf<WindowData>(window, windowClass());
}

void windowDestructor(REALobject self) {
    if (WindowData* d = windowData(self)) {
        if (d->handle) dropHandle(d->handle);
        deleteSurface(d->surface);
        *d = WindowData{};
    }
}

void windowConstructor(REALobject self, RBInteger width, RBInteger height) {
    WindowData* d = windowData(self);
    if (!d || d->surface) return;
    d->surface = newSurface(width, height, 32);
    if (d->surface) d->handle = newHandle(HandleKind::Surface, d->surface);
}

RBInteger windowHandle(REALobject self, RBInteger) {
    WindowData* d = windowData(self);
    return d ? d->handle : 0;
}

RBInteger windowLeft(REALobject self, RBInteger) {
    WindowData* d = windowData(self);
    return d ? d->left : 0;
}

void setWindowLeft(REALobject self, RBInteger, RBInteger value) {
    if (WindowData* d = windowData(self)) d->left = value;
}

RBInteger windowTop(REALobject self, RBInteger) {
    WindowData* d = windowData(self);
    return d ? d->top : 0;
}

void setWindowTop(REALobject self, RBInteger, RBInteger value) {
    if (WindowData* d = windowData(self)) d->top = value;
}

RBInteger windowWidth(REALobject self, RBInteger) {
    WindowData* d = windowData(self);
    return d && d->surface ? d->surface->width : 0;
}

RBInteger windowHeight(REALobject self, RBInteger) {
    WindowData* d = windowData(self);
    return d && d->surface ? d->surface->height : 0;
}

RBBoolean windowSave(REALobject self, REALobject file) {
    WindowData* d = windowData(self);
    return d && saveSurfacePNG(d->surface, folderItemPath(file)) ? 1 : 0;
}

REALPropertyRecord windowProperties[] = {
    {nullptr, "Handle", "integer", kREALConsoleSafe, (REALproc)&windowHandle, nullptr, 0, {}},
    {nullptr, "Left", "integer", kREALConsoleSafe, (REALproc)&windowLeft, (REALproc)&setWindowLeft, 0, {}},
    {nullptr, "Top", "integer", kREALConsoleSafe, (REALproc)&windowTop, (REALproc)&setWindowTop, 0, {}},
    {nullptr, "Width", "integer", kREALConsoleSafe, (REALproc)&windowWidth, nullptr, 0, {}},
    {nullptr, "Height", "integer", kREALConsoleSafe, (REALproc)&windowHeight, nullptr, 0, {}},
};

REALMethodRecord windowMethods[] = {
    {(REALproc)&windowConstructor, nullptr, "Constructor(w as Integer,h as integer)", kREALConsoleSafe, {}},
    {(REALproc)&windowSave, nullptr, "Save(f as FolderItem) as Boolean", kREALConsoleSafe, {}},
};

REALClassRecord& windowClass() {
    static REALClassRecord record =
        makeRecord("Window", sizeof(WindowData), nullptr, (REALproc)&windowDestructor, windowProperties,
                   std::size(windowProperties), windowMethods, std::size(windowMethods));
    return record;
}

// ---- Movie and MoviePlayer: each holds one settable handle from its making ----

struct HandleData {
    RBInteger handle;
};

REALClassRecord& movieClass();
REALClassRecord& moviePlayerClass();

HandleData* movieData(REALobject movie) {
    return dataOf<HandleData>(movie, movieClass());
}

HandleData* playerData(REALobject player) {
    return dataOf<HandleData>(player, moviePlayerClass());
}

void movieConstructor(REALobject self) {
    if (HandleData* d = movieData(self)) d->handle = newHandle(HandleKind::Settable, nullptr);
}

void movieDestructor(REALobject self) {
    if (HandleData* d = movieData(self)) {
        dropHandle(d->handle);
        d->handle = 0;
    }
}

RBInteger movieHandle(REALobject self, RBInteger) {
    HandleData* d = movieData(self);
    return d ? d->handle : 0;
}

void playerConstructor(REALobject self) {
    if (HandleData* d = playerData(self)) d->handle = newHandle(HandleKind::Settable, nullptr);
}

void playerDestructor(REALobject self) {
    if (HandleData* d = playerData(self)) {
        dropHandle(d->handle);
        d->handle = 0;
    }
}

RBInteger playerController(REALobject self, RBInteger) {
    HandleData* d = playerData(self);
    return d ? d->handle : 0;
}

REALPropertyRecord movieProperties[] = {
    {nullptr, "Handle", "integer", kREALConsoleSafe, (REALproc)&movieHandle, nullptr, 0, {}},
};

REALPropertyRecord playerProperties[] = {
    {nullptr, "QTMovieController", "integer", kREALConsoleSafe, (REALproc)&playerController, nullptr, 0, {}},
};

REALClassRecord& movieClass() {
    static REALClassRecord record =
        makeRecord("Movie", sizeof(HandleData), (REALproc)&movieConstructor, (REALproc)&movieDestructor,
                   movieProperties, std::size(movieProperties), nullptr, 0);
    return record;
}

REALClassRecord& moviePlayerClass() {
    static REALClassRecord record =
        makeRecord("MoviePlayer", sizeof(HandleData), (REALproc)&playerConstructor,
                   (REALproc)&playerDestructor, playerProperties, std::size(playerProperties), nullptr, 0);
    return record;
}

// ---- Services ----

void* svcHandlePointer(RBInteger handle) {
    auto it = handleTable().find(handle);
    return it == handleTable().end() ? nullptr : it->second.pointer;
}

RBBoolean svcSetHandlePointer(RBInteger handle, void* pointer) {
    auto it = handleTable().find(handle);
    if (it == handleTable().end() || it->second.kind != HandleKind::Settable) return 0;
    it->second.pointer = pointer;
    return 1;
}

RBInteger& descriptionType() {
    static RBInteger type = kREALPictureDescriptionCGContext;
    return type;
}

RBBoolean svcGetPictureDescription(REALobject picture, REALPictureDescription* description) {
    PictureData* d = pictureData(picture);
    if (!d || !d->surface || !description) return 0;
    description->type = descriptionType();
    description->surface = *d->surface;
    return 1;
}

REALobject svcBuildPictureFromPictureDescription(const REALPictureDescription* description) {
    HostRuntime* h = host();
    if (!h || !description) return nullptr;
    if (description->type != kREALPictureDescriptionCGContext &&
        description->type != kREALPictureDescriptionQuickDraw)
        return nullptr;
    const REALGraphicsSurface& in = description->surface;
    if (in.pixelFormat != kREALSurfaceFormatARGB32 || !in.pixels || in.width <= 0 || in.height <= 0 ||
        in.rowBytes < in.width * 4)
        return nullptr;
    REALobject picture = h->makeObject(h->classNamed("Picture"));
    buildPicture(picture, in.width, in.height, validDepth(in.depth) ? in.depth : 32);
    PictureData* d = pictureData(picture);
    if (!d || !d->surface) {
        releaseObject(picture);
        return nullptr;
    }
    for (int32_t y = 0; y < in.height; ++y)
        std::memcpy(static_cast<uint8_t*>(d->surface->pixels) + size_t(y) * size_t(d->surface->rowBytes),
                    static_cast<const uint8_t*>(in.pixels) + size_t(y) * size_t(in.rowBytes),
                    size_t(in.width) * 4);
    return picture;
}

void svcSetMovieMovie(REALobject movie, void* platformMovie) {
    if (HandleData* d = movieData(movie)) svcSetHandlePointer(d->handle, platformMovie);
}

struct Service {
    const char* name;
    void* function;
};

const Service kGraphicsServices[] = {
    {"REALHandlePointer", reinterpret_cast<void*>(&svcHandlePointer)},
    {"REALSetHandlePointer", reinterpret_cast<void*>(&svcSetHandlePointer)},
    {"REALGetPictureDescription", reinterpret_cast<void*>(&svcGetPictureDescription)},
    {"REALBuildPictureFromPictureDescription",
     reinterpret_cast<void*>(&svcBuildPictureFromPictureDescription)},
    {"REALSetMovieMovie", reinterpret_cast<void*>(&svcSetMovieMovie)},
};

} // namespace

void registerGraphicsClasses(HostRuntime& h) {
    h.registerClass(&pictureClass(), -1);
    h.registerClass(&graphicsClass(), -1);
    h.registerClass(&windowClass(), -1);
    h.registerClass(&movieClass(), -1);
    h.registerClass(&moviePlayerClass(), -1);
}

void setPictureDescriptionType(RBInteger type) {
    if (type == kREALPictureDescriptionQuickDraw || type == kREALPictureDescriptionCGContext)
        descriptionType() = type;
}

void* graphicsService(const char* name) {
    for (const auto& s : kGraphicsServices)
        if (std::strcmp(s.name, name) == 0) return s.function;
    return nullptr;
}

} // namespace sylhost
