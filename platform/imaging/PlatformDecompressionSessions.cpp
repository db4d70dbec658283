#include "PlatformDecompressionSessions.h"

#include "PlatformAtoms.h"
#include "PlatformCodecRaw.h"
#include "PlatformComponents.h"
#include "PlatformEndian.h"
#include "PlatformImageDescriptions.h"
#include "PlatformMemory.h"
#include "PlatformPixelFormats.h"
#include "PlatformProperties.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <set>
#include <vector>

using CodecPicture = platform::codec::Picture;

namespace {

// Decompression sequences take their identifiers from a range of their own, so that
// CDSequenceEnd tells them from compression sequences.
constexpr ImageSequence kFirstDecompressionSequence = 0x40000000;

struct Source {
    ImageSequence sequence = 0;
    int16_t input = 0;
    Handle desc = nullptr;
    const uint8_t* data = nullptr;
    int32_t size = 0;
};

struct DSequence {
    Handle desc = nullptr;
    CGrafPtr port = nullptr;
    bool hasSrcRect = false;
    Rect srcRect{0, 0, 0, 0};
    bool hasMatrix = false;
    MatrixRecord matrix{};
    int16_t mode = srcCopy;
    RGBColor opColor{0, 0, 0};
    RgnHandle mask = nullptr;
    int32_t flags = 0;
    TimeBase timeBase = nullptr;
    bool effect = false;
    int16_t brightness = 0;
    int16_t contrast = 0;
};

struct Registry {
    std::recursive_mutex mutex;
    std::map<ImageSequence, DSequence> sequences;
    std::map<ImageSequenceDataSource, Source> sources;
    ImageSequence nextSequence = kFirstDecompressionSequence;
    ImageSequenceDataSource nextSource = 1;
};

Registry& registry() {
    static Registry* r = new Registry(); // lives as long as the process
    return *r;
}

const ImageDescription& recordOf(Handle desc) {
    return *reinterpret_cast<const ImageDescription*>(*desc);
}

// Reads the effect's parameters from its description (a flattened atom container); absent ones
// stay 0.
void readEffectParameters(DSequence& s, const void* data, int32_t size) {
    if (!data || size <= 0) return;
    QTAtomContainer container = nullptr;
    if (QTUnflattenAtomContainer(data, size_t(size), &container) != noErr || !container) return;
    // A value is a big-endian 16-bit or 32-bit integer: the effect's defaults are the one, what
    // presentations store the other.
    auto read = [&](OSType type, int16_t& out) {
        QTAtom atom = QTFindChildByIndex(container, kParentAtomIsContainer, type, 1, nullptr);
        int32_t size = 0;
        Ptr p = nullptr;
        if (!atom || QTGetAtomDataPtr(container, atom, &size, &p) != noErr || !p) return;
        int32_t v = 0;
        if (size == 2) {
            uint16_t b = 0;
            std::memcpy(&b, p, 2);
            v = int16_t(EndianU16_BtoN(b));
        } else if (size == 4) {
            uint32_t b = 0;
            std::memcpy(&b, p, 4);
            v = int32_t(EndianU32_BtoN(b));
        } else {
            return;
        }
        out = int16_t(std::clamp<int32_t>(v, -100, 100));
    };
    read(kEffectBrightnessParameter, s.brightness);
    read(kEffectContrastParameter, s.contrast);
    QTDisposeAtomContainer(container);
}

// A world over a frame's bytes when they are a pixel layout of the worlds (no decoding needed).
GWorldPtr worldOverRawFrame(const ImageDescription& d, const void* data, int32_t size) {
    if (d.clutID == 0) return nullptr;
    OSType format = 0;
    if (d.cType == kRawCodecType) {
        switch (d.depth) {
        case 1:
        case 8:
        case 16:
        case 24:
        case 32:
        case 40:
            format = OSType(d.depth);
            break;
        default:
            return nullptr;
        }
    } else if (d.cType == k16GrayPixelFormat || d.cType == k48RGBPixelFormat) {
        format = d.cType;
    } else {
        return nullptr;
    }
    if (size < 0 || d.height <= 0) return nullptr;
    // Rows as the sample pads them.
    const size_t rowBytes = platform::codec::rawRowBytes(d.cType, d.depth, d.width, d.height, size_t(size));
    if (rowBytes == 0 || rowBytes > size_t(INT32_MAX)) return nullptr;
    const Rect bounds{0, 0, d.height, d.width};
    GWorldPtr world = nullptr;
    if (QTNewGWorldFromPtr(&world, format, &bounds, nullptr, nullptr, 0, const_cast<void*>(data),
                           int32_t(rowBytes)) != noErr)
        return nullptr;
    return world;
}

// A world holding a decoded picture in its natural depth.
OSErr worldOfPicture(const CodecPicture& p, GWorldPtr* world) {
    OSType format = k32ARGBPixelFormat;
    if (p.bitsPerSample == 16) format = p.components <= 2 ? k16GrayPixelFormat : k48RGBPixelFormat;
    const Rect bounds{0, 0, int16_t(p.height), int16_t(p.width)};
    if (p.width > 0x7FFF || p.height > 0x7FFF) return codecSizeErr;
    OSErr err = QTNewGWorld(world, format, &bounds, nullptr, nullptr, 0);
    if (err) return err;
    err = platform::pictureToPixMap(p, GetGWorldPixMap(*world));
    if (err) {
        DisposeGWorld(*world);
        *world = nullptr;
    }
    return err;
}

OSErr drawWorld(const DSequence& s, GWorldPtr world) {
    PixMapHandle dst = GetGWorldPixMap(s.port);
    if (!dst) return paramErr;
    return platform::drawPixMap(GetGWorldPixMap(world), s.hasSrcRect ? &s.srcRect : nullptr, dst,
                                s.hasMatrix ? &s.matrix : nullptr, s.mask, s.mode);
}

bool isIdentity(const MatrixRecord& m) {
    MatrixRecord identity;
    SetIdentityMatrix(&identity);
    return std::memcmp(&m, &identity, sizeof m) == 0;
}

// The destination's pixels when the frame lands on them one to one, as they are: a 32-bit A, R,
// G, B world of the frame's size at the origin, copied without mask, matrix or part taken.
bool directTarget(const DSequence& s, const ImageDescription& d, platform::codec::RowTarget& target) {
    PixMapHandle dst = GetGWorldPixMap(s.port);
    if (!dst || !*dst || s.mask || (s.mode & ~ditherCopy) != srcCopy) return false;
    if (s.hasMatrix && !isIdentity(s.matrix)) return false;
    const Rect frame{0, 0, d.height, d.width};
    if (s.hasSrcRect && std::memcmp(&s.srcRect, &frame, sizeof frame) != 0) return false;
    const PixMap& map = **dst;
    const platform::PixelRaster raster = platform::rasterOfPixMap(map);
    if (!platform::rasterIsUsable(raster) || raster.info->format != k32ARGBPixelFormat) return false;
    if (map.bounds.left != 0 || map.bounds.top != 0 || raster.width != d.width || raster.height != d.height)
        return false;
    target.base = raster.base;
    target.rowBytes = size_t(raster.rowBytes);
    target.width = raster.width;
    target.height = raster.height;
    target.layout = platform::codec::RowLayout::ARGB32;
    return true;
}

OSErr drawFrame(const DSequence& s, const void* data, int32_t size) {
    if (!data || size <= 0) return paramErr;
    const ImageDescription& d = recordOf(s.desc);
    if (GWorldPtr raw = worldOverRawFrame(d, data, size)) {
        OSErr err = drawWorld(s, raw);
        DisposeGWorld(raw);
        return err;
    }
    // Rows the codec can write in the destination's own format go there directly.
    platform::codec::RowTarget target;
    if (directTarget(s, d, target)) {
        const OSErr err =
            platform::codecDecodeFrameInto(reinterpret_cast<ImageDescriptionHandle>(s.desc),
                                           static_cast<const uint8_t*>(data), size_t(size), target);
        if (err != codecUnimpErr) return err;
    }
    CodecPicture picture;
    OSErr err = platform::codecDecodeFrame(reinterpret_cast<ImageDescriptionHandle>(s.desc),
                                           static_cast<const uint8_t*>(data), size_t(size), picture);
    if (err) return err;
    GWorldPtr world = nullptr;
    err = worldOfPicture(picture, &world);
    if (err) return err;
    err = drawWorld(s, world);
    DisposeGWorld(world);
    return err;
}

uint8_t brco(uint8_t v, int16_t brightness, int16_t contrast) {
    const double out =
        (double(v) - 127.5) * double(100 + contrast) / 100.0 + 127.5 + double(brightness) * 2.55;
    return uint8_t(std::clamp(std::lround(out), 0L, 255L));
}

// The effect: source A through its brightness and contrast, drawn like a frame.
OSErr drawEffect(ImageSequence id, const DSequence& s) {
    Registry& r = registry();
    const Source* a = nullptr;
    for (const auto& [sid, src] : r.sources)
        if (src.sequence == id && src.input == 1) a = &src;
    if (!a || !a->data || !a->desc) return paramErr;
    const ImageDescription& d = recordOf(a->desc);
    const OSType format = platform::pixelFormatOfDescription(d);
    const int16_t bits = QTGetPixelSize(format);
    if (format == 0 || bits == 0 || d.width <= 0 || d.height <= 0) return paramErr;
    // Rows of the source world: the data size spread over its rows, at least a row of pixels.
    const int32_t minimum = int32_t((int64_t(d.width) * bits + 7) / 8);
    const int32_t rowBytes = std::max(minimum, a->size / d.height);
    if (int64_t(rowBytes) * d.height > a->size) return paramErr;
    const Rect bounds{0, 0, d.height, d.width};
    GWorldPtr source = nullptr;
    OSErr err = QTNewGWorldFromPtr(&source, format, &bounds, nullptr, nullptr, 0,
                                   const_cast<uint8_t*>(a->data), rowBytes);
    if (err) return err;
    // Neither brightness nor contrast changes an 8-bit sample: the source is drawn as it is,
    // without a world of its own for each frame.
    const platform::PixelFormatInfo* info = platform::pixelFormatInfo(format);
    if (s.brightness == 0 && s.contrast == 0 && info && !info->deep) {
        err = drawWorld(s, source);
        DisposeGWorld(source);
        return err;
    }
    GWorldPtr work = nullptr;
    err = QTNewGWorld(&work, k32ARGBPixelFormat, &bounds, nullptr, nullptr, 0);
    if (err == noErr)
        err = platform::drawPixMap(GetGWorldPixMap(source), nullptr, GetGWorldPixMap(work), nullptr, nullptr,
                                   srcCopy);
    DisposeGWorld(source);
    if (err == noErr) {
        PixMapHandle map = GetGWorldPixMap(work);
        auto* base = reinterpret_cast<uint8_t*>(GetPixBaseAddr(map));
        const int32_t workRow = GetPixRowBytes(map);
        uint8_t table[256];
        for (int v = 0; v < 256; ++v)
            table[v] = brco(uint8_t(v), s.brightness, s.contrast);
        for (int32_t y = 0; y < d.height; ++y) {
            uint8_t* px = base + size_t(y) * size_t(workRow);
            for (int32_t x = 0; x < d.width; ++x, px += 4) {
                px[1] = table[px[1]];
                px[2] = table[px[2]];
                px[3] = table[px[3]];
            }
        }
        err = drawWorld(s, work);
    }
    if (work) DisposeGWorld(work);
    return err;
}

OSErr withSequence(ImageSequence id, OSErr (*fn)(ImageSequence, DSequence&, const void*), const void* arg) {
    Registry& r = registry();
    std::lock_guard<std::recursive_mutex> lock(r.mutex);
    auto it = r.sequences.find(id);
    if (it == r.sequences.end()) return paramErr;
    return fn(id, it->second, arg);
}

OSErr frame(ImageSequence id, const void* data, int32_t size) {
    Registry& r = registry();
    std::lock_guard<std::recursive_mutex> lock(r.mutex);
    auto it = r.sequences.find(id);
    if (it == r.sequences.end()) return paramErr;
    if (!it->second.effect) return drawFrame(it->second, data, size);
    // An effect's frame data is its description: parameters changed since the last frame apply.
    readEffectParameters(it->second, data, size);
    return drawEffect(id, it->second);
}

} // namespace

namespace platform {

bool isEffectType(OSType type) {
    return type == kBrightnessContrastEffect;
}

QTAtomContainer newEffectParameterList(OSType effectType) {
    if (!isEffectType(effectType)) return nullptr;
    QTAtomContainer list = nullptr;
    if (QTNewAtomContainer(&list) != noErr) return nullptr;
    const int32_t sources = int32_t(EndianU32_NtoB(1));
    const int16_t zero = 0;
    const uint32_t what = EndianU32_NtoB(effectType);
    if (QTInsertChild(list, kParentAtomIsContainer, FOUR_CHAR_CODE("what"), 1, 0, 4,
                      const_cast<uint32_t*>(&what), nullptr) != noErr ||
        QTInsertChild(list, kParentAtomIsContainer, FOUR_CHAR_CODE("srcs"), 1, 0, 4,
                      const_cast<int32_t*>(&sources), nullptr) != noErr ||
        QTInsertChild(list, kParentAtomIsContainer, kEffectBrightnessParameter, 1, 0, 2,
                      const_cast<int16_t*>(&zero), nullptr) != noErr ||
        QTInsertChild(list, kParentAtomIsContainer, kEffectContrastParameter, 1, 0, 2,
                      const_cast<int16_t*>(&zero), nullptr) != noErr) {
        QTDisposeAtomContainer(list);
        return nullptr;
    }
    return list;
}

namespace detail {

void installEffectComponents() {
    CodecInfo info{};
    const char name[] = "Brightness and Contrast";
    info.typeName[0] = uint8_t(sizeof name - 1);
    std::memcpy(info.typeName + 1, name, sizeof name - 1);
    info.vendor = int32_t(kVendorCode);
    info.decompressFlags = codecInfoDoesEffect | codecInfoDoes32;
    info.formatFlags = codecInfoDepth32;
    registerCodecComponent(decompressorComponentType, kBrightnessContrastEffect, name, info, true,
                           ComponentCallbacks{}, nullptr);
}

} // namespace detail

OSErr endDecompressionSequence(ImageSequence seqID) {
    Registry& r = registry();
    std::lock_guard<std::recursive_mutex> lock(r.mutex);
    auto it = r.sequences.find(seqID);
    if (it == r.sequences.end()) return paramErr;
    DisposeHandle(it->second.desc);
    if (it->second.mask) DisposeRgn(it->second.mask);
    for (auto s = r.sources.begin(); s != r.sources.end();) {
        if (s->second.sequence == seqID) {
            DisposeHandle(s->second.desc);
            s = r.sources.erase(s);
        } else {
            ++s;
        }
    }
    r.sequences.erase(it);
    return noErr;
}

} // namespace platform

OSErr DecompressSequenceBeginS(ImageSequence* seqID, ImageDescriptionHandle desc, Ptr data, int32_t dataSize,
                               CGrafPtr port, GDHandle, const Rect* srcRect, const MatrixRecord* matrix,
                               int16_t mode, RgnHandle mask, CodecFlags flags, CodecQ,
                               DecompressorComponent) {
    if (seqID) *seqID = 0;
    if (!seqID || !desc || !*desc ||
        GetHandleSize(reinterpret_cast<Handle>(desc)) < Size(sizeof(ImageDescription)))
        return paramErr;
    if (!port || !platform::isGWorld(port)) return paramErr;
    const OSType cType = (*desc)->cType;
    const bool effect = platform::isEffectType(cType);
    if (!effect) {
        CodecInfo info{};
        OSErr err = GetCodecInfo(&info, cType, anyCodec);
        if (err) return err;
    }
    DSequence s;
    Handle copy = reinterpret_cast<Handle>(desc);
    OSErr err = HandToHand(&copy);
    if (err) return err;
    s.desc = copy;
    s.port = port;
    s.effect = effect;
    s.flags = flags;
    s.mode = mode;
    if (srcRect) {
        s.hasSrcRect = true;
        s.srcRect = *srcRect;
    }
    if (matrix) {
        s.hasMatrix = true;
        s.matrix = *matrix;
    }
    if (mask) {
        s.mask = NewRgn();
        CopyRgn(mask, s.mask);
    }
    if (effect) readEffectParameters(s, data, dataSize);
    Registry& r = registry();
    std::lock_guard<std::recursive_mutex> lock(r.mutex);
    const ImageSequence id = r.nextSequence++;
    r.sequences[id] = s;
    *seqID = id;
    return noErr;
}

OSErr DecompressSequenceFrameS(ImageSequence seqID, Ptr data, int32_t dataSize, CodecFlags,
                               CodecFlags* outFlags, void*) {
    if (outFlags) *outFlags = 0;
    return frame(seqID, data, dataSize);
}

OSErr DecompressSequenceFrameWhen(ImageSequence seqID, Ptr data, int32_t dataSize, CodecFlags,
                                  CodecFlags* outFlags, void*, const ICMFrameTimeRecord*) {
    // Frames are drawn when asked: the effects here do not change over time.
    if (outFlags) *outFlags = 0;
    return frame(seqID, data, dataSize);
}

OSErr SetDSequenceFlags(ImageSequence seqID, int32_t flags, int32_t flagsMask) {
    struct Arg {
        int32_t flags, mask;
    } arg{flags, flagsMask};
    return withSequence(
        seqID,
        [](ImageSequence, DSequence& s, const void* a) {
            const auto* v = static_cast<const Arg*>(a);
            s.flags = (s.flags & ~v->mask) | (v->flags & v->mask);
            return noErr;
        },
        &arg);
}

OSErr SetDSequenceSrcRect(ImageSequence seqID, const Rect* srcRect) {
    return withSequence(
        seqID,
        [](ImageSequence, DSequence& s, const void* a) {
            const auto* r = static_cast<const Rect*>(a);
            s.hasSrcRect = r != nullptr;
            if (r) s.srcRect = *r;
            return noErr;
        },
        srcRect);
}

OSErr SetDSequenceMask(ImageSequence seqID, RgnHandle mask) {
    return withSequence(
        seqID,
        [](ImageSequence, DSequence& s, const void* a) {
            auto m = static_cast<RgnHandle>(const_cast<void*>(a));
            if (!m) {
                if (s.mask) DisposeRgn(s.mask);
                s.mask = nullptr;
                return noErr;
            }
            if (!s.mask) s.mask = NewRgn();
            CopyRgn(m, s.mask);
            return noErr;
        },
        mask);
}

OSErr SetDSequenceTransferMode(ImageSequence seqID, int16_t mode, const RGBColor* opColor) {
    struct Arg {
        int16_t mode;
        const RGBColor* color;
    } arg{mode, opColor};
    return withSequence(
        seqID,
        [](ImageSequence, DSequence& s, const void* a) {
            const auto* v = static_cast<const Arg*>(a);
            s.mode = v->mode;
            if (v->color) s.opColor = *v->color;
            return noErr;
        },
        &arg);
}

OSErr SetDSequenceMatrix(ImageSequence seqID, const MatrixRecord* matrix) {
    return withSequence(
        seqID,
        [](ImageSequence, DSequence& s, const void* a) {
            const auto* m = static_cast<const MatrixRecord*>(a);
            s.hasMatrix = m != nullptr;
            if (m) s.matrix = *m;
            return noErr;
        },
        matrix);
}

OSErr CDSequenceSetTimeBase(ImageSequence seqID, TimeBase base) {
    return withSequence(
        seqID,
        [](ImageSequence, DSequence& s, const void* a) {
            s.timeBase = static_cast<TimeBase>(const_cast<void*>(a));
            return noErr;
        },
        base);
}

OSErr CDSequenceNewDataSource(ImageSequence seqID, ImageSequenceDataSource* sourceID, OSType sourceType,
                              int16_t sourceInputNumber, Handle dataDescription, void*, void*) {
    if (sourceID) *sourceID = 0;
    if (!sourceID || !dataDescription || !*dataDescription ||
        GetHandleSize(dataDescription) < Size(sizeof(ImageDescription)) || sourceInputNumber < 1 ||
        sourceInputNumber > 3)
        return paramErr;
    (void)sourceType;
    Registry& r = registry();
    std::lock_guard<std::recursive_mutex> lock(r.mutex);
    auto it = r.sequences.find(seqID);
    if (it == r.sequences.end() || !it->second.effect) return paramErr;
    Source source;
    source.sequence = seqID;
    source.input = sourceInputNumber;
    Handle copy = dataDescription;
    OSErr err = HandToHand(&copy);
    if (err) return err;
    source.desc = copy;
    const ImageSequenceDataSource id = r.nextSource++;
    r.sources[id] = source;
    *sourceID = id;
    return noErr;
}

OSErr CDSequenceSetSourceData(ImageSequenceDataSource sourceID, void* data, int32_t dataSize) {
    Registry& r = registry();
    std::lock_guard<std::recursive_mutex> lock(r.mutex);
    auto it = r.sources.find(sourceID);
    if (it == r.sources.end() || !data || dataSize <= 0) return paramErr;
    it->second.data = static_cast<const uint8_t*>(data);
    it->second.size = dataSize;
    return noErr;
}

// ---------------------------------------------------------------------------------------------
// The newer interface

struct OpaqueICMDecompressionSessionOptions {};
struct OpaqueICMDecompressionFrameOptions {};
struct OpaqueICMDecompressionSession {
    Handle desc = nullptr;
    ICMDecompressionTrackingCallbackRecord tracking{};
};

namespace {

constexpr uint32_t kReadWrite = kComponentPropertyFlagCanGetNow | kComponentPropertyFlagCanGetLater |
                                kComponentPropertyFlagCanSetNow | kComponentPropertyFlagCanSetLater;

struct LiveObjects {
    std::recursive_mutex mutex;
    std::set<const void*> objects;
};

LiveObjects& liveObjects() {
    static LiveObjects* l = new LiveObjects(); // lives as long as the process
    return *l;
}

bool alive(const void* p) {
    LiveObjects& l = liveObjects();
    std::lock_guard<std::recursive_mutex> lock(l.mutex);
    return p && l.objects.count(p) != 0;
}

template <class T> T* track(T* p) {
    LiveObjects& l = liveObjects();
    std::lock_guard<std::recursive_mutex> lock(l.mutex);
    l.objects.insert(p);
    return p;
}

bool untrack(const void* p) {
    LiveObjects& l = liveObjects();
    std::lock_guard<std::recursive_mutex> lock(l.mutex);
    return p && l.objects.erase(p) != 0;
}

CVPixelBufferRef destinationOf(ICMDecompressionFrameOptionsRef options) {
    CVPixelBufferRef buffer = nullptr;
    uint32_t used = 0;
    if (alive(options))
        platform::storedPropertyGet(options, kQTPropertyClass_ICMDecompressionFrameOptions,
                                    kICMDecompressionFrameOptionsPropertyID_DestinationPixelBuffer,
                                    sizeof buffer, &buffer, &used);
    return buffer;
}

} // namespace

OSStatus ICMDecompressionSessionOptionsCreate(CFAllocatorRef, ICMDecompressionSessionOptionsRef* options) {
    if (!options) return paramErr;
    *options = track(new (std::nothrow) OpaqueICMDecompressionSessionOptions());
    return *options ? noErr : memFullErr;
}

void ICMDecompressionSessionOptionsRelease(ICMDecompressionSessionOptionsRef options) {
    if (!untrack(options)) return;
    platform::removeStoredProperties(options);
    delete options;
}

OSStatus ICMDecompressionFrameOptionsCreate(CFAllocatorRef, ICMDecompressionFrameOptionsRef* options) {
    if (!options) return paramErr;
    auto* o = new (std::nothrow) OpaqueICMDecompressionFrameOptions();
    if (!o) return memFullErr;
    const CVPixelBufferRef none = nullptr;
    platform::setStoredProperty(o, kQTPropertyClass_ICMDecompressionFrameOptions,
                                kICMDecompressionFrameOptionsPropertyID_DestinationPixelBuffer,
                                FOUR_CHAR_CODE("cvpb"), kReadWrite, &none, sizeof none);
    *options = track(o);
    return noErr;
}

void ICMDecompressionFrameOptionsRelease(ICMDecompressionFrameOptionsRef options) {
    if (!untrack(options)) return;
    // The options hold a reference to their destination buffer.
    CVPixelBufferRef buffer = nullptr;
    uint32_t used = 0;
    platform::storedPropertyGet(options, kQTPropertyClass_ICMDecompressionFrameOptions,
                                kICMDecompressionFrameOptionsPropertyID_DestinationPixelBuffer, sizeof buffer,
                                &buffer, &used);
    if (buffer) CVPixelBufferRelease(buffer);
    platform::removeStoredProperties(options);
    delete options;
}

OSStatus ICMDecompressionSessionCreate(CFAllocatorRef, ImageDescriptionHandle desc,
                                       ICMDecompressionSessionOptionsRef, CFDictionaryRef,
                                       const ICMDecompressionTrackingCallbackRecord* tracking,
                                       ICMDecompressionSessionRef* session) {
    if (!session) return paramErr;
    *session = nullptr;
    if (!desc || !*desc || GetHandleSize(reinterpret_cast<Handle>(desc)) < Size(sizeof(ImageDescription)))
        return paramErr;
    CodecInfo info{};
    OSErr err = GetCodecInfo(&info, (*desc)->cType, anyCodec);
    if (err) return err;
    auto* s = new (std::nothrow) OpaqueICMDecompressionSession();
    if (!s) return memFullErr;
    Handle copy = reinterpret_cast<Handle>(desc);
    err = HandToHand(&copy);
    if (err) {
        delete s;
        return err;
    }
    s->desc = copy;
    if (tracking) s->tracking = *tracking;
    *session = track(s);
    return noErr;
}

void ICMDecompressionSessionRelease(ICMDecompressionSessionRef session) {
    if (!untrack(session)) return;
    DisposeHandle(session->desc);
    platform::removeStoredProperties(session);
    delete session;
}

OSStatus ICMDecompressionSessionDecodeFrame(ICMDecompressionSessionRef session, const uint8_t* data,
                                            ByteCount size, ICMDecompressionFrameOptionsRef frameOptions,
                                            void* frameTime, void* sourceFrameRefCon) {
    if (!alive(session) || !data || size == 0) return paramErr;
    CVPixelBufferRef buffer = destinationOf(frameOptions);
    OSStatus err = paramErr;
    if (buffer) {
        CVPixelBufferLockBaseAddress(buffer, 0);
        const Rect bounds{0, 0, int16_t(CVPixelBufferGetHeight(buffer)),
                          int16_t(CVPixelBufferGetWidth(buffer))};
        GWorldPtr port = nullptr;
        err = QTNewGWorldFromPtr(&port, CVPixelBufferGetPixelFormatType(buffer), &bounds, nullptr, nullptr, 0,
                                 CVPixelBufferGetBaseAddress(buffer),
                                 int32_t(CVPixelBufferGetBytesPerRow(buffer)));
        if (err == noErr) {
            DSequence s;
            s.desc = session->desc;
            s.port = port;
            err = drawFrame(s, data, int32_t(size));
            DisposeGWorld(port);
        }
        CVPixelBufferUnlockBaseAddress(buffer, 0);
    }
    if (session->tracking.decompressionTrackingCallback)
        session->tracking.decompressionTrackingCallback(session->tracking.decompressionTrackingRefCon, err, 0,
                                                        buffer, frameTime, sourceFrameRefCon);
    return err;
}

#define DECOMPRESSION_FAMILY(Obj, Info, Get, Set)                                                            \
    OSStatus Info(Obj o, ComponentPropertyClass c, ComponentPropertyID i, ComponentValueType* t,             \
                  ByteCount* s, UInt32* f) {                                                                 \
        if (!alive(o)) return paramErr;                                                                      \
        return platform::storedPropertyInfo(o, c, i, t, s, f);                                               \
    }                                                                                                        \
    OSStatus Get(Obj o, ComponentPropertyClass c, ComponentPropertyID i, ByteCount s, ComponentValuePtr v,   \
                 ByteCount* u) {                                                                             \
        if (!alive(o)) return paramErr;                                                                      \
        return platform::storedPropertyGet(o, c, i, s, v, u);                                                \
    }                                                                                                        \
    OSStatus Set(Obj o, ComponentPropertyClass c, ComponentPropertyID i, ByteCount s,                        \
                 ConstComponentValuePtr v) {                                                                 \
        if (!alive(o) || !v) return paramErr;                                                                \
        return setProperty(o, c, i, s, v);                                                                   \
    }

namespace {

template <class Obj>
OSStatus setProperty(Obj o, ComponentPropertyClass c, ComponentPropertyID i, ByteCount s,
                     ConstComponentValuePtr v) {
    return platform::storedPropertySet(o, c, i, s, v);
}

// The destination buffer is retained by the frame options that name it.
template <>
OSStatus setProperty(ICMDecompressionFrameOptionsRef o, ComponentPropertyClass c, ComponentPropertyID i,
                     ByteCount s, ConstComponentValuePtr v) {
    if (c != kQTPropertyClass_ICMDecompressionFrameOptions ||
        i != kICMDecompressionFrameOptionsPropertyID_DestinationPixelBuffer)
        return platform::storedPropertySet(o, c, i, s, v);
    if (s != sizeof(CVPixelBufferRef)) return kQTPropertyBadValueSizeErr;
    CVPixelBufferRef next = nullptr;
    std::memcpy(&next, v, sizeof next);
    CVPixelBufferRef previous = destinationOf(o);
    OSStatus err = platform::storedPropertySet(o, c, i, s, v);
    if (err) return err;
    if (next) CVPixelBufferRetain(next);
    if (previous) CVPixelBufferRelease(previous);
    return noErr;
}

} // namespace

DECOMPRESSION_FAMILY(ICMDecompressionSessionOptionsRef, ICMDecompressionSessionOptionsGetPropertyInfo,
                     ICMDecompressionSessionOptionsGetProperty, ICMDecompressionSessionOptionsSetProperty)
DECOMPRESSION_FAMILY(ICMDecompressionFrameOptionsRef, ICMDecompressionFrameOptionsGetPropertyInfo,
                     ICMDecompressionFrameOptionsGetProperty, ICMDecompressionFrameOptionsSetProperty)
DECOMPRESSION_FAMILY(ICMDecompressionSessionRef, ICMDecompressionSessionGetPropertyInfo,
                     ICMDecompressionSessionGetProperty, ICMDecompressionSessionSetProperty)

#undef DECOMPRESSION_FAMILY
