#include "PlatformGWorlds.h"
#include "PlatformPictures.h"

#include "PlatformBlitter.h"
#include "PlatformCompressionSessions.h"
#include "PlatformCoreGraphics.h"
#include "PlatformFixed.h"
#include "PlatformGeometry.h"
#include "PlatformImageDescriptions.h"
#include "PlatformMemory.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace {

using platform::ARGB16;
using platform::PixelFormatInfo;
using platform::PixelLayout;
using platform::PixelRaster;

constexpr Fixed k72dpi = 72 << 16;
constexpr Size kDescriptionSize = Size(sizeof(ImageDescription));

// The worlds that exist, and the world of each pixel map.
struct Registry {
    std::mutex lock;
    std::unordered_set<GWorldPtr> worlds;
    std::unordered_map<PixMapHandle, GWorldPtr> maps;
};

Registry& registry() {
    static Registry* r = new Registry; // never destroyed: worlds may outlive static destruction
    return *r;
}

GWorldPtr worldOfMap(PixMapHandle pm) {
    if (!pm) return nullptr;
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    auto found = r.maps.find(pm);
    return found == r.maps.end() ? nullptr : found->second;
}

thread_local CGrafPtr gCurrentPort = nullptr;
thread_local GDHandle gCurrentDevice = nullptr;

int32_t widthOf(const Rect& r) {
    return int32_t(r.right) - r.left;
}
int32_t heightOf(const Rect& r) {
    return int32_t(r.bottom) - r.top;
}

// The table's entries, as many as the handle really holds.
int32_t tableEntries(CTabHandle table) {
    if (!table || !*table) return 0;
    const Size size = GetHandleSize(reinterpret_cast<Handle>(table));
    if (size < 8) return 0;
    const int32_t announced = int32_t((*table)->ctSize) + 1;
    const int32_t held = int32_t((size - 8) / 8);
    return std::clamp(announced, 0, held);
}

bool isDefaultTable(CTabHandle table, int32_t depth) {
    const int32_t entries = tableEntries(table);
    if (entries != (1 << depth)) return false;
    for (int32_t i = 0; i < entries; ++i) {
        const RGBColor a = (*table)->ctTable[i].rgb, b = platform::defaultIndexedColor(depth, i);
        if (a.red != b.red || a.green != b.green || a.blue != b.blue) return false;
    }
    return true;
}

// A copy of the caller's table (the default ramp without one); null when the caller's is unusable.
CTabHandle worldTable(CTabHandle given, int32_t depth) {
    if (!given) return GetCTable(int16_t(depth));
    const int32_t entries = tableEntries(given);
    if (entries <= 0) return nullptr;
    Handle copy = reinterpret_cast<Handle>(given);
    if (HandToHand(&copy) != noErr) return nullptr;
    return reinterpret_cast<CTabHandle>(copy);
}

int32_t alignRowBytes(int64_t bytes) {
    return int32_t((bytes + 3) & ~int64_t(3));
}

QDErr makeWorld(GWorldPtr* out, OSType pixelFormat, const Rect* bounds, CTabHandle cTable, GWorldFlags flags,
                void* pixels, int32_t rowBytes) {
    if (!out) return paramErr;
    *out = nullptr;
    if (!bounds || EmptyRect(bounds)) return paramErr;
    const PixelFormatInfo* info = platform::pixelFormatInfo(pixelFormat);
    if (!info) return cDepthErr;
    const int32_t width = widthOf(*bounds), height = heightOf(*bounds);
    const int64_t minimum = platform::minimumRowBytes(*info, width);
    const bool own = pixels == nullptr;
    if (own)
        rowBytes = alignRowBytes(minimum);
    else if (rowBytes < minimum)
        return paramErr;
    if (int64_t(rowBytes) * height > INT32_MAX) return memFullErr;

    CTabHandle table = nullptr;
    if (info->layout == PixelLayout::Indexed) {
        table = worldTable(cTable, info->bitsPerPixel);
        if (!table) return cTable ? paramErr : memFullErr;
    }
    auto* world = new (std::nothrow) OpaqueGrafPort{};
    Handle pmHandle = NewHandleClear(Size(sizeof(PixMap)));
    Handle gdHandle = NewHandleClear(Size(sizeof(GDevice)));
    if (own && world && pmHandle && gdHandle) pixels = std::calloc(size_t(rowBytes) * size_t(height), 1);
    if (!world || !pmHandle || !gdHandle || !pixels) {
        if (own) std::free(pixels);
        DisposeCTable(table);
        if (pmHandle) DisposeHandle(pmHandle);
        if (gdHandle) DisposeHandle(gdHandle);
        delete world;
        return memFullErr;
    }
    auto pm = reinterpret_cast<PixMapHandle>(pmHandle);
    PixMap& map = **pm;
    map.baseAddr = static_cast<Ptr>(pixels);
    const uint16_t word =
        rowBytes <= 0x3FFF ? uint16_t(kPixMapFlag | rowBytes) : uint16_t(kPixMapFlag | kLongRowBytesFlag);
    map.rowBytes = int16_t(word);
    map.bounds = *bounds;
    map.hRes = map.vRes = k72dpi;
    map.pixelType = info->layout == PixelLayout::Indexed || info->layout == PixelLayout::GreyInverted8
                        ? kChunkyPixelType
                        : RGBDirect;
    map.pixelSize = info->bitsPerPixel;
    map.cmpCount = info->components;
    map.cmpSize = info->componentBits;
    map.pixelFormat = info->format;
    map.pmTable = table;
    map.longRowBytes = rowBytes;
    map.planeBytes = info->layout == PixelLayout::PlanarRGB ? width : 0;

    auto gd = reinterpret_cast<GDHandle>(gdHandle);
    (*gd)->gdType = map.pixelType == RGBDirect ? directType : clutType;
    (*gd)->gdPMap = pm;
    (*gd)->gdRect = *bounds;

    world->portPixMap = pm;
    world->portRect = *bounds;
    world->device = gd;
    world->flags = flags;
    world->pixelsState = flags & pixelsLocked;
    world->ownsPixels = own;
    {
        Registry& r = registry();
        std::lock_guard<std::mutex> guard(r.lock);
        r.worlds.insert(world);
        r.maps.emplace(pm, world);
    }
    *out = world;
    return noErr;
}

OSType formatOfDescription(const ImageDescription& d) {
    return platform::pixelFormatOfDescription(d);
}

} // namespace

OSType platform::pixelFormatOfDescription(const ImageDescription& d) {
    if (d.cType == kRawCodecType) {
        switch (d.depth) {
        case 1:
        case 2:
        case 4:
        case 8:
        case 16:
        case 24:
        case 32:
        case 40:
            return OSType(d.depth);
        default:
            return 0;
        }
    }
    return platform::pixelFormatInfo(d.cType) ? d.cType : 0;
}

namespace {

PixelRaster bitMapRaster(const BitMap& bits) {
    PixelRaster r;
    r.base = reinterpret_cast<uint8_t*>(bits.baseAddr);
    r.rowBytes = bits.rowBytes & 0x3FFF;
    r.width = widthOf(bits.bounds);
    r.height = heightOf(bits.bounds);
    r.info = platform::pixelFormatInfo(k1MonochromePixelFormat);
    return r;
}

PixelRaster rasterOf(const BitMap& bits) {
    if (uint16_t(bits.rowBytes) & kPixMapFlag)
        return platform::rasterOfPixMap(reinterpret_cast<const PixMap&>(bits));
    return bitMapRaster(bits);
}

// The intersection of two rectangles in 32-bit coordinates; false when empty.
struct Box {
    int32_t left, top, right, bottom;
    bool empty() const { return right <= left || bottom <= top; }
};
Box boxOf(const Rect& r) {
    return Box{r.left, r.top, r.right, r.bottom};
}
Box intersect(const Box& a, const Box& b) {
    return Box{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
               std::min(a.bottom, b.bottom)};
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Worlds

QDErr QTNewGWorld(GWorldPtr* offscreenGWorld, OSType pixelFormat, const Rect* boundsRect, CTabHandle cTable,
                  GDHandle, GWorldFlags flags) {
    return makeWorld(offscreenGWorld, pixelFormat, boundsRect, cTable, flags, nullptr, 0);
}

QDErr NewGWorld(GWorldPtr* offscreenGWorld, int16_t pixelDepth, const Rect* boundsRect, CTabHandle cTable,
                GDHandle aGDevice, GWorldFlags flags) {
    if (pixelDepth < 0) {
        if (offscreenGWorld) *offscreenGWorld = nullptr;
        return cDepthErr;
    }
    const OSType format = pixelDepth == 0 ? k32ARGBPixelFormat : OSType(pixelDepth);
    return QTNewGWorld(offscreenGWorld, format, boundsRect, cTable, aGDevice, flags);
}

QDErr QTNewGWorldFromPtr(GWorldPtr* gw, OSType pixelFormat, const Rect* boundsRect, CTabHandle cTable,
                         GDHandle, GWorldFlags flags, void* baseAddr, int32_t rowBytes) {
    if (!baseAddr) {
        if (gw) *gw = nullptr;
        return paramErr;
    }
    return makeWorld(gw, pixelFormat, boundsRect, cTable, flags, baseAddr, rowBytes);
}

QDErr NewGWorldFromPtr(GWorldPtr* offscreenGWorld, uint32_t pixelFormat, const Rect* boundsRect,
                       CTabHandle cTable, GDHandle aGDevice, GWorldFlags flags, Ptr newBuffer,
                       int32_t rowBytes) {
    return QTNewGWorldFromPtr(offscreenGWorld, pixelFormat, boundsRect, cTable, aGDevice, flags, newBuffer,
                              rowBytes);
}

OSErr NewImageGWorld(GWorldPtr* gworld, ImageDescriptionHandle idh, GWorldFlags flags) {
    if (!gworld) return paramErr;
    *gworld = nullptr;
    if (!idh || !*idh || GetHandleSize(reinterpret_cast<Handle>(idh)) < kDescriptionSize) return paramErr;
    const ImageDescription& d = **idh;
    if (d.width <= 0 || d.height <= 0) return paramErr;
    const OSType format = formatOfDescription(d);
    if (format == 0) return cDepthErr;
    // A colour table after the record, in the layout of ColorTable.
    CTabHandle table = nullptr;
    const Size tableBytes = ImageDescriptionColorTableSize(idh);
    if (tableBytes > 0) {
        Handle h = nullptr;
        if (PtrToHand(reinterpret_cast<const char*>(*idh) + kDescriptionSize, &h, tableBytes) != noErr)
            return memFullErr;
        table = reinterpret_cast<CTabHandle>(h);
    }
    const Rect bounds{0, 0, d.height, d.width};
    const QDErr err = QTNewGWorld(gworld, format, &bounds, table, nullptr, flags);
    DisposeCTable(table);
    return err;
}

void DisposeGWorld(GWorldPtr world) {
    {
        Registry& r = registry();
        std::lock_guard<std::mutex> guard(r.lock);
        if (!world || !r.worlds.erase(world)) return;
        r.maps.erase(world->portPixMap);
    }
    if (gCurrentPort == world) {
        gCurrentPort = nullptr;
        gCurrentDevice = nullptr;
    }
    if (world->cgContext) CGContextRelease(world->cgContext);
    PixMap& map = **world->portPixMap;
    if (world->ownsPixels) std::free(map.baseAddr);
    DisposeCTable(map.pmTable);
    DisposeHandle(reinterpret_cast<Handle>(world->portPixMap));
    DisposeHandle(reinterpret_cast<Handle>(world->device));
    delete world;
}

PixMapHandle GetGWorldPixMap(GWorldPtr world) {
    return platform::isGWorld(world) ? world->portPixMap : nullptr;
}

PixMapHandle GetPortPixMap(CGrafPtr port) {
    return GetGWorldPixMap(port);
}

GDHandle GetGWorldDevice(GWorldPtr world) {
    return platform::isGWorld(world) ? world->device : nullptr;
}

Rect* GetPortBounds(CGrafPtr port, Rect* bounds) {
    if (!bounds) return bounds;
    if (platform::isGWorld(port))
        *bounds = port->portRect;
    else
        *bounds = Rect{0, 0, 0, 0};
    return bounds;
}

Rect* GetPixBounds(PixMapHandle pm, Rect* bounds) {
    if (!bounds) return bounds;
    if (worldOfMap(pm))
        *bounds = (*pm)->bounds;
    else
        *bounds = Rect{0, 0, 0, 0};
    return bounds;
}

const BitMap* GetPortBitMapForCopyBits(CGrafPtr port) {
    return platform::isGWorld(port) ? reinterpret_cast<const BitMap*>(*port->portPixMap) : nullptr;
}

Boolean LockPixels(PixMapHandle pm) {
    GWorldPtr world = worldOfMap(pm);
    if (!world) return false;
    world->pixelsState |= pixelsLocked;
    return true;
}

void UnlockPixels(PixMapHandle pm) {
    if (GWorldPtr world = worldOfMap(pm)) world->pixelsState &= ~GWorldFlags(pixelsLocked);
}

GWorldFlags GetPixelsState(PixMapHandle pm) {
    GWorldPtr world = worldOfMap(pm);
    return world ? world->pixelsState : 0;
}

void SetPixelsState(PixMapHandle pm, GWorldFlags state) {
    if (GWorldPtr world = worldOfMap(pm)) world->pixelsState = state & (pixelsLocked | pixelsPurgeable);
}

Ptr GetPixBaseAddr(PixMapHandle pm) {
    return worldOfMap(pm) ? (*pm)->baseAddr : nullptr;
}

int32_t GetPixRowBytes(PixMapHandle pm) {
    return worldOfMap(pm) ? QTGetPixMapPtrRowBytes(*pm) : 0;
}

int32_t QTGetPixMapHandleRowBytes(PixMapHandle pm) {
    return GetPixRowBytes(pm);
}

int32_t QTGetPixMapPtrRowBytes(PixMapPtr pm) {
    if (!pm) return 0;
    if (uint16_t(pm->rowBytes) & kPixMapFlag) return pm->longRowBytes;
    return pm->rowBytes & 0x3FFF;
}

int16_t GetPixDepth(PixMapHandle pm) {
    return worldOfMap(pm) ? (*pm)->pixelSize : 0;
}

// ---------------------------------------------------------------------------------------------
// The current port

void GetGWorld(CGrafPtr* port, GDHandle* gdh) {
    if (port) *port = gCurrentPort;
    if (gdh) *gdh = gCurrentDevice;
}

void SetGWorld(CGrafPtr port, GDHandle gdh) {
    gCurrentPort = port;
    gCurrentDevice = platform::isGWorld(port) ? port->device : gdh;
}

void EraseRect(const Rect* r) {
    CGrafPtr port = gCurrentPort;
    if (!r || !platform::isGWorld(port)) return;
    platform::recordErase(port, *r);
    const PixMap& map = **port->portPixMap;
    const PixelRaster raster = platform::rasterOfPixMap(map);
    if (!platform::rasterIsUsable(raster)) return;
    const Box area = intersect(boxOf(*r), boxOf(map.bounds));
    if (area.empty()) return;
    platform::fillPixels(raster, area.left - map.bounds.left, area.top - map.bounds.top,
                         area.right - area.left, area.bottom - area.top,
                         ARGB16{0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF});
}

// ---------------------------------------------------------------------------------------------
// Descriptions and copies

OSErr MakeImageDescriptionForPixMap(PixMapHandle pixmap, ImageDescriptionHandle* idh) {
    if (!idh) return paramErr;
    *idh = nullptr;
    if (!worldOfMap(pixmap)) return paramErr;
    const PixMap& map = **pixmap;
    const PixelFormatInfo* info = platform::pixelFormatInfo(map.pixelFormat);
    if (!info) return cDepthErr;
    // An indexed map whose table is not the default one carries its table after the record.
    const bool withTable =
        info->layout == PixelLayout::Indexed && !isDefaultTable(map.pmTable, info->bitsPerPixel);
    const int32_t entries = withTable ? tableEntries(map.pmTable) : 0;
    const Size tableBytes = withTable ? Size(8 + 8 * entries) : 0;
    Handle h = NewHandleClear(kDescriptionSize + tableBytes);
    if (!h) return memFullErr;
    auto* d = reinterpret_cast<ImageDescription*>(*h);
    d->idSize = int32_t(kDescriptionSize + tableBytes);
    d->cType = info->codecType;
    d->width = int16_t(widthOf(map.bounds));
    d->height = int16_t(heightOf(map.bounds));
    d->hRes = d->vRes = k72dpi;
    d->frameCount = 1;
    d->depth = info->descriptionDepth;
    d->clutID = withTable ? 0 : -1;
    if (withTable) {
        // The table follows the 86-byte record unaligned: written as bytes.
        char* table = *h + kDescriptionSize;
        std::memcpy(table, *map.pmTable, size_t(tableBytes));
        const int16_t ctSize = int16_t(entries - 1);
        std::memcpy(table + offsetof(ColorTable, ctSize), &ctSize, sizeof ctSize);
    }
    *idh = reinterpret_cast<ImageDescriptionHandle>(h);
    return noErr;
}

OSErr CopyBits(const BitMap* srcBits, const BitMap* dstBits, const Rect* srcRect, const Rect* dstRect,
               int16_t mode, RgnHandle maskRgn) {
    if (!srcBits || !dstBits || !srcRect || !dstRect) return paramErr;
    const int16_t transfer = int16_t(mode & ~ditherCopy);
    if (transfer != srcCopy && transfer != notSrcCopy) return paramErr;
    if (EmptyRect(srcRect) || EmptyRect(dstRect)) return noErr;
    const platform::BlitSurface src{rasterOf(*srcBits), srcBits->bounds.left, srcBits->bounds.top};
    const platform::BlitSurface dst{rasterOf(*dstBits), dstBits->bounds.left, dstBits->bounds.top};
    return platform::blit(src, *srcRect, dst, *dstRect, nullptr, maskRgn, mode, nullptr);
}

// ---------------------------------------------------------------------------------------------

namespace platform {

bool isGWorld(GWorldPtr world) {
    if (!world) return false;
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    return r.worlds.count(world) != 0;
}

OSErr drawPixMap(PixMapHandle src, const Rect* srcRect, PixMapHandle dst, const MatrixRecord* matrix,
                 RgnHandle clip, int16_t mode) {
    if (!worldOfMap(src) || !worldOfMap(dst)) return paramErr;
    const PixMap& from = **src;
    const PixMap& to = **dst;
    const Rect area = srcRect ? *srcRect : from.bounds;
    if (EmptyRect(&area)) return noErr;
    MatrixRecord identity;
    SetIdentityMatrix(&identity);
    const BlitSurface s{rasterOfPixMap(from), from.bounds.left, from.bounds.top};
    const BlitSurface d{rasterOfPixMap(to), to.bounds.left, to.bounds.top};
    return blit(s, area, d, to.bounds, matrix ? matrix : &identity, clip, mode, nullptr);
}

PixelRaster rasterOfPixMap(const PixMap& map) {
    PixelRaster r;
    const OSType format = map.pixelFormat ? map.pixelFormat : OSType(map.pixelSize);
    r.info = pixelFormatInfo(format);
    if (!r.info) return PixelRaster{};
    r.base = reinterpret_cast<uint8_t*>(map.baseAddr);
    r.rowBytes = QTGetPixMapPtrRowBytes(const_cast<PixMap*>(&map));
    r.width = widthOf(map.bounds);
    r.height = heightOf(map.bounds);
    r.planeBytes = map.planeBytes;
    if (r.info->layout == PixelLayout::Indexed && !isDefaultTable(map.pmTable, r.info->bitsPerPixel)) {
        r.colorCount = tableEntries(map.pmTable);
        r.colors = r.colorCount > 0 ? (*map.pmTable)->ctTable : nullptr;
    }
    return r;
}

OSErr pixMapToPicture(PixMapHandle pixMap, codec::Picture& out) {
    out = codec::Picture();
    if (!worldOfMap(pixMap)) return paramErr;
    const PixelRaster raster = rasterOfPixMap(**pixMap);
    if (!rasterIsUsable(raster)) return paramErr;
    const PixelFormatInfo& info = *raster.info;
    bool grey = info.layout == PixelLayout::GreyInverted8 || info.layout == PixelLayout::Grey16;
    if (info.layout == PixelLayout::Indexed) {
        grey = true;
        for (int32_t i = 0; i < raster.colorCount; ++i) {
            const RGBColor& c = raster.colors[i].rgb;
            if (c.red != c.green || c.green != c.blue) grey = false;
        }
    }
    codec::Picture pic;
    pic.width = raster.width;
    pic.height = raster.height;
    pic.components = grey ? 1 : (info.hasAlpha ? 4 : 3);
    pic.bitsPerSample = pic.precision = info.deep ? 16 : 8;
    std::vector<ARGB16> line;
    try {
        pic.samples.resize(pic.rowBytes() * size_t(pic.height));
        line.resize(size_t(raster.width));
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
    const size_t comps = size_t(pic.components);
    for (int32_t y = 0; y < raster.height; ++y) {
        readPixels(raster, 0, y, raster.width, line.data());
        uint8_t* row = pic.samples.data() + size_t(y) * pic.rowBytes();
        for (size_t x = 0; x < line.size(); ++x) {
            const ARGB16& p = line[x];
            const uint16_t values[4] = {p.r, p.g, p.b, p.a};
            for (size_t c = 0; c < comps; ++c) {
                if (info.deep)
                    std::memcpy(row + (x * comps + c) * 2, &values[c], 2);
                else
                    row[x * comps + c] = to8(values[c]);
            }
        }
    }
    out = std::move(pic);
    return noErr;
}

namespace {

// Full-precision 8-bit pictures into the worlds that frames are drawn in, sample by sample, as the
// engine would convert them (a sample of 8 bits stays what it is; grey is one sample in R, G and
// B; depth 40 holds grey inverted). False, with nothing written, for other layouts.
bool picturePlacedDirectly(const codec::Picture& picture, const PixelRaster& raster, int32_t w, int32_t h) {
    const PixelLayout layout = raster.info->layout;
    const size_t comps = size_t(picture.components);
    if (layout == PixelLayout::ARGB32) {
        for (int32_t y = 0; y < h; ++y) {
            const uint8_t* in = picture.samples.data() + size_t(y) * picture.rowBytes();
            uint8_t* out = raster.base + ptrdiff_t(y) * raster.rowBytes;
            switch (comps) {
            case 1:
                for (int32_t x = 0; x < w; ++x, out += 4)
                    out[0] = 255, out[1] = out[2] = out[3] = in[x];
                break;
            case 2:
                for (int32_t x = 0; x < w; ++x, in += 2, out += 4)
                    out[0] = in[1], out[1] = out[2] = out[3] = in[0];
                break;
            case 3:
                for (int32_t x = 0; x < w; ++x, in += 3, out += 4)
                    out[0] = 255, out[1] = in[0], out[2] = in[1], out[3] = in[2];
                break;
            default:
                for (int32_t x = 0; x < w; ++x, in += 4, out += 4)
                    out[0] = in[3], out[1] = in[0], out[2] = in[1], out[3] = in[2];
                break;
            }
        }
        return true;
    }
    if (layout == PixelLayout::GreyInverted8 && comps == 1) {
        for (int32_t y = 0; y < h; ++y) {
            const uint8_t* in = picture.samples.data() + size_t(y) * picture.rowBytes();
            uint8_t* out = raster.base + ptrdiff_t(y) * raster.rowBytes;
            for (int32_t x = 0; x < w; ++x)
                out[x] = uint8_t(255 - in[x]);
        }
        return true;
    }
    if (layout == PixelLayout::RGB24 && comps == 3) {
        for (int32_t y = 0; y < h; ++y)
            std::memcpy(raster.base + ptrdiff_t(y) * raster.rowBytes,
                        picture.samples.data() + size_t(y) * picture.rowBytes(), size_t(w) * 3);
        return true;
    }
    return false;
}

} // namespace

OSErr pixMapRectToPicture8(PixMapHandle pixMap, const Rect& rect, int32_t components, codec::Picture& out) {
    if (components != 1 && components != 3 && components != 4) return paramErr;
    if (!worldOfMap(pixMap)) return paramErr;
    const PixelRaster raster = rasterOfPixMap(**pixMap);
    if (!rasterIsUsable(raster)) return paramErr;
    const PixelFormatInfo& info = *raster.info;
    const PixelLayout layout = info.layout;
    if (layout != PixelLayout::ARGB32 && layout != PixelLayout::RGB24 && layout != PixelLayout::GreyInverted8)
        return codecUnimpErr;
    const Rect& bounds = (**pixMap).bounds;
    if (rect.left >= rect.right || rect.top >= rect.bottom || rect.left < bounds.left ||
        rect.top < bounds.top || rect.right > bounds.right || rect.bottom > bounds.bottom)
        return paramErr;
    const int32_t w = widthOf(rect), h = heightOf(rect);
    out.width = w;
    out.height = h;
    out.components = components;
    out.bitsPerSample = out.precision = 8;
    try {
        // resize keeps the storage of the frame before: a frame of the same size allocates nothing.
        out.samples.resize(out.rowBytes() * size_t(h));
    } catch (const std::bad_alloc&) {
        out = codec::Picture();
        return memFullErr;
    }
    const size_t pixelBytes = size_t(info.bitsPerPixel / 8);
    const bool alpha = info.hasAlpha;
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* s = raster.base + size_t(y + rect.top - bounds.top) * size_t(raster.rowBytes) +
                           size_t(rect.left - bounds.left) * pixelBytes;
        uint8_t* d = out.samples.data() + size_t(y) * out.rowBytes();
        switch (layout) {
        case PixelLayout::ARGB32:
            if (components == 3) {
                for (int32_t x = 0; x < w; ++x, s += 4, d += 3) {
                    d[0] = s[1];
                    d[1] = s[2];
                    d[2] = s[3];
                }
            } else if (components == 4) {
                for (int32_t x = 0; x < w; ++x, s += 4, d += 4) {
                    d[0] = s[1];
                    d[1] = s[2];
                    d[2] = s[3];
                    d[3] = alpha ? s[0] : 255;
                }
            } else {
                // The weights by which colour pictures are made grey everywhere in the platform.
                for (int32_t x = 0; x < w; ++x, s += 4)
                    *d++ = uint8_t((117u * s[3] + 601u * s[2] + 306u * s[1]) >> 10);
            }
            break;
        case PixelLayout::RGB24:
            if (components == 3) {
                std::memcpy(d, s, size_t(w) * 3);
            } else if (components == 4) {
                for (int32_t x = 0; x < w; ++x, s += 3, d += 4) {
                    std::memcpy(d, s, 3);
                    d[3] = 255;
                }
            } else {
                for (int32_t x = 0; x < w; ++x, s += 3)
                    *d++ = uint8_t((117u * s[2] + 601u * s[1] + 306u * s[0]) >> 10);
            }
            break;
        default: // GreyInverted8: 0 is white.
            for (int32_t x = 0; x < w; ++x) {
                const uint8_t v = uint8_t(255 - s[x]);
                for (int32_t c = 0; c < components; ++c)
                    *d++ = c == 3 ? 255 : v;
            }
            break;
        }
    }
    return noErr;
}

OSErr pictureToPixMap(const codec::Picture& picture, PixMapHandle pixMap) {
    if (!worldOfMap(pixMap)) return paramErr;
    if (!picture.isConsistent() || picture.components < 1 || picture.components > 4 ||
        (picture.bitsPerSample != 8 && picture.bitsPerSample != 16) || picture.precision < 1 ||
        picture.precision > picture.bitsPerSample)
        return paramErr;
    const PixelRaster raster = rasterOfPixMap(**pixMap);
    if (!rasterIsUsable(raster)) return paramErr;
    const int32_t w = std::min(picture.width, raster.width), h = std::min(picture.height, raster.height);
    if (w <= 0 || h <= 0) return noErr;
    if (picture.bitsPerSample == 8 && picture.precision == 8 && picturePlacedDirectly(picture, raster, w, h))
        return noErr;
    std::vector<ARGB16> line;
    try {
        line.resize(size_t(w));
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
    const bool wide = picture.bitsPerSample == 16;
    const bool deep = wide && raster.info->deep;
    const uint32_t top = (1u << picture.precision) - 1u;
    // A sample right-aligned in `precision` bits, to 16 bits.
    auto scale = [top](uint32_t v) -> uint16_t {
        v = std::min(v, top);
        return uint16_t((uint64_t(v) * 65535u + top / 2) / top);
    };
    const size_t comps = size_t(picture.components);
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* row = picture.samples.data() + size_t(y) * picture.rowBytes();
        for (int32_t x = 0; x < w; ++x) {
            uint16_t s[4];
            for (size_t c = 0; c < comps; ++c) {
                if (wide) {
                    uint16_t v;
                    std::memcpy(&v, row + (size_t(x) * comps + c) * 2, 2);
                    s[c] = scale(v);
                } else {
                    s[c] = scale(row[size_t(x) * comps + c]);
                }
            }
            ARGB16& p = line[size_t(x)];
            if (comps <= 2)
                p = ARGB16{comps == 2 ? s[1] : uint16_t(0xFFFF), s[0], s[0], s[0]};
            else
                p = ARGB16{comps == 4 ? s[3] : uint16_t(0xFFFF), s[0], s[1], s[2]};
        }
        writePixels(raster, 0, y, w, line.data(), deep);
    }
    return noErr;
}

} // namespace platform
