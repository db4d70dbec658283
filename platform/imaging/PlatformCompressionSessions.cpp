#include "PlatformCompressionSessions.h"

#include "PlatformCodecRaw.h"
#include "PlatformDecompressionSessions.h"
#include "PlatformMemory.h"
#include "PlatformPixelFormats.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <set>
#include <vector>

using CodecPicture = platform::codec::Picture;

namespace {

constexpr OSType kJPEG = FOUR_CHAR_CODE("jpeg");

bool isGreyDepth(int16_t depth) {
    return depth == 1 || depth == 8 || depth == 33 || depth == 34 || depth == 36 || depth == 40;
}

bool takesSixteenBits(CodecType cType) {
    return cType == FOUR_CHAR_CODE("mjp2") || cType == FOUR_CHAR_CODE("png ") ||
           cType == FOUR_CHAR_CODE("b16g") || cType == FOUR_CHAR_CODE("b48r") ||
           cType == FOUR_CHAR_CODE("v216");
}

uint32_t sampleAt(const CodecPicture& p, size_t index) {
    if (p.bitsPerSample == 16) {
        uint16_t v;
        std::memcpy(&v, p.samples.data() + index * 2, 2);
        return v;
    }
    return p.samples[index];
}

// The picture in `components` samples of `bits` bits: alpha dropped or made opaque, colour
// weighted into grey (grey = (117 B + 601 G + 306 R) >> 10) or grey repeated into colour, 16-bit
// samples scaled to 8 bits by their precision.
CodecPicture reshape(const CodecPicture& in, int32_t components, int32_t bits) {
    CodecPicture out;
    out.width = in.width;
    out.height = in.height;
    out.components = components;
    out.bitsPerSample = bits;
    const bool narrow = in.bitsPerSample == 16 && bits == 8;
    out.precision = narrow ? 8 : in.precision;
    const uint32_t inMax = (1u << in.precision) - 1u;
    // Alpha made opaque is the input's largest sample, which narrowing then takes to 255.
    const uint32_t opaque = inMax;
    const size_t pixels = size_t(in.width) * size_t(in.height);
    out.samples.resize(pixels * size_t(components) * size_t(bits / 8));
    for (size_t i = 0; i < pixels; ++i) {
        uint32_t c[4] = {0, 0, 0, opaque};
        const size_t base = i * size_t(in.components);
        if (in.components <= 2) {
            c[0] = c[1] = c[2] = sampleAt(in, base);
            if (in.components == 2) c[3] = sampleAt(in, base + 1);
        } else {
            for (int k = 0; k < 3; ++k)
                c[k] = sampleAt(in, base + size_t(k));
            if (in.components == 4) c[3] = sampleAt(in, base + 3);
        }
        if (in.components >= 3 && components <= 2) {
            const uint64_t grey = (117ull * c[2] + 601ull * c[1] + 306ull * c[0]) >> 10;
            c[0] = uint32_t(grey);
        }
        for (int k = 0; k < 4; ++k)
            if (narrow && inMax > 0) c[k] = (c[k] * 255u + inMax / 2) / inMax;
        // Which of grey-or-red, green, blue, alpha each output sample takes.
        static const int32_t kOrder[4][4] = {{0}, {0, 3}, {0, 1, 2}, {0, 1, 2, 3}};
        for (int32_t k = 0; k < components; ++k) {
            const uint32_t v = c[kOrder[components - 1][k]];
            const size_t at = (i * size_t(components) + size_t(k)) * size_t(bits / 8);
            if (bits == 16) {
                const uint16_t w = uint16_t(v);
                std::memcpy(out.samples.data() + at, &w, 2);
            } else {
                out.samples[at] = uint8_t(v);
            }
        }
    }
    return out;
}

// ---------------------------------------------------------------------------------------------
// Image sequences

struct Sequence {
    CodecType cType;
    int16_t depth;
    CodecQ quality;
    int32_t width;
    int32_t height;
};

struct Sequences {
    std::mutex mutex;
    std::map<ImageSequence, Sequence> open;
    ImageSequence next = 1;
};

Sequences& sequences() {
    static Sequences* s = new Sequences(); // lives as long as the process
    return *s;
}

bool rectInside(const Rect& r, const Rect& bounds) {
    return r.left < r.right && r.top < r.bottom && r.left >= bounds.left && r.top >= bounds.top &&
           r.right <= bounds.right && r.bottom <= bounds.bottom;
}

// The rectangle of the map a call reads (the whole map when none is given), when it is a
// non-empty part of the map.
bool sourceRect(PixMapHandle src, const Rect* srcRect, Rect& rect) {
    Rect bounds{};
    if (!GetPixBounds(src, &bounds)) return false;
    rect = srcRect ? *srcRect : bounds;
    return rectInside(rect, bounds);
}

// `picture` holds the frame on its way to the codec; callers that encode frame after frame keep
// it (and `out`) between frames so that neither is allocated again.
OSErr encodeRect(PixMapHandle src, const Rect& rect, CodecType cType, int16_t depth, CodecQ quality,
                 CodecPicture& picture, std::vector<uint8_t>& out) {
    OSErr err = platform::framePicture(src, rect, cType, depth, picture);
    if (err) return err;
    return platform::codecEncodeFrame(cType, depth, quality, picture, out);
}

void describe(ImageDescriptionHandle desc, CodecType cType, int32_t width, int32_t height, int16_t depth,
              CodecQ spatial, CodecQ temporal, int32_t dataSize) {
    ImageDescription d{};
    d.idSize = int32_t(sizeof d);
    d.cType = cType;
    CodecInfo info{};
    if (GetCodecInfo(&info, cType, anyCodec) == noErr) {
        d.vendor = info.vendor;
        std::memcpy(d.name, info.typeName, sizeof d.name);
    }
    d.spatialQuality = spatial;
    d.temporalQuality = temporal;
    d.width = int16_t(width);
    d.height = int16_t(height);
    d.hRes = d.vRes = 0x00480000;
    d.dataSize = dataSize;
    d.frameCount = 1;
    d.depth = depth;
    d.clutID = -1;
    std::memcpy(*desc, &d, sizeof d);
}

} // namespace

namespace platform {

OSErr framePicture(PixMapHandle src, const Rect& rect, CodecType cType, int16_t depth, codec::Picture& out) {
    Rect bounds{};
    if (!src || !GetPixBounds(src, &bounds) || !rectInside(rect, bounds)) {
        out = CodecPicture();
        return paramErr;
    }
    int32_t components = 3;
    if (isGreyDepth(depth) || cType == FOUR_CHAR_CODE("b16g"))
        components = 1;
    else if (depth == 32 && cType != kJPEG)
        components = 4;
    // The worlds frames are drawn in are read straight into the shape the codec takes.
    OSErr err = pixMapRectToPicture8(src, rect, components, out);
    if (err != codecUnimpErr) {
        if (err) out = CodecPicture();
        return err;
    }
    out = CodecPicture();
    CodecPicture whole;
    err = pixMapToPicture(src, whole);
    if (err) return err;
    // The rectangle's rows, in the map's coordinates.
    CodecPicture cut;
    cut.width = rect.right - rect.left;
    cut.height = rect.bottom - rect.top;
    cut.components = whole.components;
    cut.bitsPerSample = whole.bitsPerSample;
    cut.precision = whole.precision;
    const size_t pixelBytes = size_t(whole.components) * size_t(whole.bitsPerSample / 8);
    cut.samples.resize(cut.rowBytes() * size_t(cut.height));
    for (int32_t y = 0; y < cut.height; ++y)
        std::memcpy(cut.samples.data() + size_t(y) * cut.rowBytes(),
                    whole.samples.data() + size_t(y + rect.top - bounds.top) * whole.rowBytes() +
                        size_t(rect.left - bounds.left) * pixelBytes,
                    cut.rowBytes());
    const int32_t bits = cut.bitsPerSample == 16 && takesSixteenBits(cType) ? 16 : 8;
    if (components == cut.components && bits == cut.bitsPerSample) {
        out = std::move(cut);
        return noErr;
    }
    out = reshape(cut, components, bits);
    return noErr;
}

} // namespace platform

OSErr CompressSequenceBegin(ImageSequence* seqID, PixMapHandle src, PixMapHandle, const Rect* srcRect,
                            const Rect*, int16_t colorDepth, CodecType cType, CompressorComponent,
                            CodecQ spatialQuality, CodecQ temporalQuality, int32_t, CTabHandle, CodecFlags,
                            ImageDescriptionHandle desc) {
    if (seqID) *seqID = 0;
    if (!seqID || !src || !desc) return paramErr;
    Rect rect{};
    if (!sourceRect(src, srcRect, rect)) return paramErr;
    CodecInfo info{};
    OSErr err = GetCodecInfo(&info, cType, anyCodec);
    if (err) return err;
    const int16_t depth = colorDepth != 0 ? colorDepth : GetPixDepth(src);
    SetHandleSize(reinterpret_cast<Handle>(desc), Size(sizeof(ImageDescription)));
    if (MemError()) return MemError();
    describe(desc, cType, rect.right - rect.left, rect.bottom - rect.top, depth, spatialQuality,
             temporalQuality, 0);
    Sequences& s = sequences();
    std::lock_guard<std::mutex> lock(s.mutex);
    const ImageSequence id = s.next++;
    s.open[id] = Sequence{cType, depth, spatialQuality, rect.right - rect.left, rect.bottom - rect.top};
    *seqID = id;
    return noErr;
}

OSErr CompressSequenceFrame(ImageSequence seqID, PixMapHandle src, const Rect* srcRect, CodecFlags, Ptr data,
                            int32_t* dataSize, uint8_t* similarity, void*) {
    if (similarity) *similarity = 0;
    if (!src || !data || !dataSize || *dataSize < 0) return paramErr;
    Sequence seq;
    {
        Sequences& s = sequences();
        std::lock_guard<std::mutex> lock(s.mutex);
        auto it = s.open.find(seqID);
        if (it == s.open.end()) return paramErr;
        seq = it->second;
    }
    Rect bounds{};
    if (!GetPixBounds(src, &bounds)) return paramErr;
    const Rect rect = srcRect ? *srcRect : bounds;
    // Every frame of a sequence has the size it began with.
    if (rect.right - rect.left != seq.width || rect.bottom - rect.top != seq.height) return paramErr;
    CodecPicture picture;
    std::vector<uint8_t> out;
    OSErr err = encodeRect(src, rect, seq.cType, seq.depth, seq.quality, picture, out);
    if (err) return err;
    if (out.size() > size_t(*dataSize)) return codecSpoolErr;
    std::memcpy(data, out.data(), out.size());
    *dataSize = int32_t(out.size());
    return noErr;
}

OSErr CDSequenceEnd(ImageSequence seqID) {
    {
        Sequences& s = sequences();
        std::lock_guard<std::mutex> lock(s.mutex);
        if (s.open.erase(seqID)) return noErr;
    }
    return platform::endDecompressionSequence(seqID);
}

OSErr GetMaxCompressionSize(PixMapHandle src, const Rect* srcRect, int16_t, CodecQ, CodecType cType,
                            CompressorComponent, int32_t* size) {
    if (size) *size = 0;
    if (!src || !size) return paramErr;
    Rect rect{};
    if (!sourceRect(src, srcRect, rect)) return paramErr;
    CodecInfo info{};
    OSErr err = GetCodecInfo(&info, cType, anyCodec);
    if (err) return err;
    // Eight bytes a pixel hold every layout uncompressed (48-bit RGB plus alpha); the encoders
    // never grow a frame beyond that by more than their headers and tables.
    const int64_t bytes = int64_t(rect.right - rect.left) * int64_t(rect.bottom - rect.top) * 8 + 65536;
    if (bytes > INT32_MAX) return codecSizeErr;
    *size = int32_t(bytes);
    return noErr;
}

// ---------------------------------------------------------------------------------------------
// Compression sessions

struct OpaqueICMEncodedFrame {
    std::vector<uint8_t> data;
    TimeValue64 decodeDuration = 0;
    TimeValue64 displayTimeStamp = 0;
    TimeScale timeScale = 0;
    MediaSampleFlags flags = 0;
    ImageDescriptionHandle desc = nullptr;
};

struct OpaqueICMCompressionSession {
    int32_t refs = 1;
    int32_t width = 0;
    int32_t height = 0;
    CodecType cType = 0;
    TimeScale timeScale = 0;
    int16_t depth = 0;
    CodecQ quality = 512;
    ICMEncodedFrameOutputRecord output{};
    ImageDescriptionHandle desc = nullptr;
    ICMCompressionPassModeFlags pass = 0;
    bool inPass = false;
    // What each frame is encoded in, kept from frame to frame; `encoding` while a frame is on its
    // way (an output callback that encodes again gets storage of its own).
    CodecPicture picture;
    OpaqueICMEncodedFrame frame;
    bool encoding = false;
};

namespace {

struct Sessions {
    std::recursive_mutex mutex;
    std::set<const void*> live;
};

Sessions& sessions() {
    static Sessions* s = new Sessions(); // lives as long as the process
    return *s;
}

bool aliveSession(ICMCompressionSessionRef session) {
    Sessions& s = sessions();
    std::lock_guard<std::recursive_mutex> lock(s.mutex);
    return session && s.live.count(session) != 0;
}

template <class T> T option(ICMCompressionSessionOptionsRef options, OSType id, T fallback) {
    T v{};
    ByteCount used = 0;
    if (options &&
        ICMCompressionSessionOptionsGetProperty(options, kQTPropertyClass_ICMCompressionSessionOptions, id,
                                                sizeof v, &v, &used) == noErr &&
        used == sizeof v)
        return v;
    return fallback;
}

} // namespace

OSStatus ICMCompressionSessionCreate(CFAllocatorRef, int32_t width, int32_t height, CodecType cType,
                                     TimeScale timeScale, ICMCompressionSessionOptionsRef options,
                                     CFDictionaryRef, const ICMEncodedFrameOutputRecord* record,
                                     ICMCompressionSessionRef* session) {
    if (!session) return paramErr;
    *session = nullptr;
    if (width <= 0 || height <= 0 || width > 0x7FFF || height > 0x7FFF || timeScale <= 0 || !record ||
        !record->encodedFrameOutputCallback)
        return paramErr;
    CodecInfo info{};
    OSErr err = GetCodecInfo(&info, cType, anyCodec);
    if (err) return err;
    auto* s = new (std::nothrow) OpaqueICMCompressionSession();
    if (!s) return memFullErr;
    s->width = width;
    s->height = height;
    s->cType = cType;
    s->timeScale = timeScale;
    s->depth = int16_t(option<int32_t>(options, kICMCompressionSessionOptionsPropertyID_Depth, 0));
    s->quality = option<uint32_t>(options, kICMCompressionSessionOptionsPropertyID_Quality, 512);
    s->output = *record;
    s->desc = reinterpret_cast<ImageDescriptionHandle>(NewHandleClear(Size(sizeof(ImageDescription))));
    if (!s->desc) {
        delete s;
        return memFullErr;
    }
    describe(s->desc, cType, width, height, s->depth != 0 ? s->depth : 32, s->quality, 0, 0);
    Sessions& all = sessions();
    std::lock_guard<std::recursive_mutex> lock(all.mutex);
    all.live.insert(s);
    *session = s;
    return noErr;
}

ICMCompressionSessionRef ICMCompressionSessionRetain(ICMCompressionSessionRef session) {
    Sessions& all = sessions();
    std::lock_guard<std::recursive_mutex> lock(all.mutex);
    if (!aliveSession(session)) return nullptr;
    ++session->refs;
    return session;
}

void ICMCompressionSessionRelease(ICMCompressionSessionRef session) {
    Sessions& all = sessions();
    std::lock_guard<std::recursive_mutex> lock(all.mutex);
    if (!aliveSession(session) || --session->refs > 0) return;
    all.live.erase(session);
    DisposeHandle(reinterpret_cast<Handle>(session->desc));
    delete session;
}

TimeScale ICMCompressionSessionGetTimeScale(ICMCompressionSessionRef session) {
    return aliveSession(session) ? session->timeScale : 0;
}

OSStatus ICMCompressionSessionEncodeFrame(ICMCompressionSessionRef session, CVPixelBufferRef pixelBuffer,
                                          TimeValue64 displayTimeStamp, TimeValue64 displayDuration,
                                          ICMValidTimeFlags validTimeFlags, void*, void*, void*) {
    if (!aliveSession(session)) return paramErr;
    if (!pixelBuffer)
        return session->inPass && (session->pass & kICMCompressionPassMode_NoSourceFrames) ? noErr : paramErr;
    const int32_t width = int32_t(CVPixelBufferGetWidth(pixelBuffer));
    const int32_t height = int32_t(CVPixelBufferGetHeight(pixelBuffer));
    if (width != session->width || height != session->height) return paramErr;
    // The buffer's pixels seen as a world, to read them like any other map.
    const OSType format = CVPixelBufferGetPixelFormatType(pixelBuffer);
    CVPixelBufferLockBaseAddress(pixelBuffer, kCVPixelBufferLock_ReadOnly);
    const Rect bounds{0, 0, int16_t(height), int16_t(width)};
    GWorldPtr world = nullptr;
    OSErr err = QTNewGWorldFromPtr(&world, format, &bounds, nullptr, nullptr, 0,
                                   CVPixelBufferGetBaseAddress(pixelBuffer),
                                   int32_t(CVPixelBufferGetBytesPerRow(pixelBuffer)));
    const bool reuse = !session->encoding;
    OpaqueICMEncodedFrame local;
    CodecPicture localPicture;
    OpaqueICMEncodedFrame& frame = reuse ? session->frame : local;
    CodecPicture& picture = reuse ? session->picture : localPicture;
    if (err == noErr) {
        const int16_t depth = session->depth != 0 ? session->depth : GetPixDepth(GetGWorldPixMap(world));
        err = encodeRect(GetGWorldPixMap(world), bounds, session->cType, depth, session->quality, picture,
                         frame.data);
        DisposeGWorld(world);
    }
    CVPixelBufferUnlockBaseAddress(pixelBuffer, kCVPixelBufferLock_ReadOnly);
    ICMEncodedFrameOutputRecord output = session->output;
    if (err != noErr) {
        output.encodedFrameOutputCallback(output.encodedFrameOutputRefCon, session, err, nullptr, nullptr);
        return err;
    }
    frame.decodeDuration = (validTimeFlags & kICMValidTime_DisplayDurationIsValid) ? displayDuration : 0;
    frame.displayTimeStamp = (validTimeFlags & kICMValidTime_DisplayTimeStampIsValid) ? displayTimeStamp : 0;
    frame.timeScale = session->timeScale;
    frame.flags = 0; // every frame is a key frame
    frame.desc = session->desc;
    reinterpret_cast<ImageDescription*>(*session->desc)->dataSize = int32_t(frame.data.size());
    // The callback may release the session: it is kept until the frame is handed over.
    ICMCompressionSessionRetain(session);
    if (reuse) session->encoding = true;
    const OSStatus result =
        output.encodedFrameOutputCallback(output.encodedFrameOutputRefCon, session, noErr, &frame, nullptr);
    if (reuse) session->encoding = false;
    ICMCompressionSessionRelease(session);
    return result;
}

OSStatus ICMCompressionSessionCompleteFrames(ICMCompressionSessionRef session, Boolean, TimeValue64,
                                             TimeValue64) {
    // Frames are handed over as they are encoded: nothing waits here.
    return aliveSession(session) ? noErr : paramErr;
}

OSStatus ICMCompressionSessionSupportsMultiPassEncoding(ICMCompressionSessionRef session,
                                                        ICMCompressionPassModeFlags,
                                                        ICMCompressionPassModeFlags* firstPassModeFlags) {
    if (firstPassModeFlags) *firstPassModeFlags = 0;
    return aliveSession(session) ? noErr : paramErr;
}

OSStatus ICMCompressionSessionBeginPass(ICMCompressionSessionRef session,
                                        ICMCompressionPassModeFlags passModeFlags, uint32_t) {
    if (!aliveSession(session)) return paramErr;
    session->pass = passModeFlags;
    session->inPass = true;
    return noErr;
}

OSStatus ICMCompressionSessionEndPass(ICMCompressionSessionRef session) {
    if (!aliveSession(session)) return paramErr;
    session->inPass = false;
    return noErr;
}

OSStatus ICMCompressionSessionProcessBetweenPasses(ICMCompressionSessionRef session, uint32_t, Boolean* done,
                                                   ICMCompressionPassModeFlags* next) {
    if (done) *done = true;
    if (next) *next = 0;
    return aliveSession(session) ? noErr : paramErr;
}

OSStatus ICMCompressionSessionGetPropertyInfo(ICMCompressionSessionRef session, ComponentPropertyClass cls,
                                              ComponentPropertyID id, ComponentValueType* type,
                                              ByteCount* size, UInt32* flags) {
    if (type) *type = 0;
    if (size) *size = 0;
    if (flags) *flags = 0;
    if (!aliveSession(session)) return paramErr;
    if (cls != kQTPropertyClass_ICMCompressionSession ||
        id != kICMCompressionSessionPropertyID_ImageDescription)
        return kQTPropertyNotSupportedErr;
    if (type) *type = FOUR_CHAR_CODE("idsc");
    if (size) *size = ByteCount(sizeof(ImageDescriptionHandle));
    if (flags) *flags = kComponentPropertyFlagCanGetNow | kComponentPropertyFlagValueMustBeReleased;
    return noErr;
}

OSStatus ICMCompressionSessionGetProperty(ICMCompressionSessionRef session, ComponentPropertyClass cls,
                                          ComponentPropertyID id, ByteCount size, ComponentValuePtr value,
                                          ByteCount* sizeUsed) {
    if (sizeUsed) *sizeUsed = 0;
    if (!aliveSession(session) || !value) return paramErr;
    if (cls != kQTPropertyClass_ICMCompressionSession ||
        id != kICMCompressionSessionPropertyID_ImageDescription)
        return kQTPropertyNotSupportedErr;
    if (size < sizeof(ImageDescriptionHandle)) return kQTPropertyBadValueSizeErr;
    Handle copy = reinterpret_cast<Handle>(session->desc);
    OSErr err = HandToHand(&copy);
    if (err) return err;
    std::memcpy(value, &copy, sizeof copy);
    if (sizeUsed) *sizeUsed = ByteCount(sizeof copy);
    return noErr;
}

OSStatus ICMCompressionSessionSetProperty(ICMCompressionSessionRef session, ComponentPropertyClass cls,
                                          ComponentPropertyID id, ByteCount, ConstComponentValuePtr) {
    if (!aliveSession(session)) return paramErr;
    if (cls == kQTPropertyClass_ICMCompressionSession &&
        id == kICMCompressionSessionPropertyID_ImageDescription)
        return kQTPropertyReadOnlyErr;
    return kQTPropertyNotSupportedErr;
}

const uint8_t* ICMEncodedFrameGetDataPtr(ICMEncodedFrameRef frame) {
    return frame && !frame->data.empty() ? frame->data.data() : nullptr;
}
ByteCount ICMEncodedFrameGetDataSize(ICMEncodedFrameRef frame) {
    return frame ? ByteCount(frame->data.size()) : 0;
}
TimeValue64 ICMEncodedFrameGetDecodeDuration(ICMEncodedFrameRef frame) {
    return frame ? frame->decodeDuration : 0;
}
TimeValue64 ICMEncodedFrameGetDisplayOffset(ICMEncodedFrameRef) {
    // Frames are never reordered: each is displayed when it is decoded.
    return 0;
}
TimeValue64 ICMEncodedFrameGetDisplayTimeStamp(ICMEncodedFrameRef frame) {
    return frame ? frame->displayTimeStamp : 0;
}
TimeScale ICMEncodedFrameGetTimeScale(ICMEncodedFrameRef frame) {
    return frame ? frame->timeScale : 0;
}
MediaSampleFlags ICMEncodedFrameGetMediaSampleFlags(ICMEncodedFrameRef frame) {
    return frame ? frame->flags : 0;
}
OSStatus ICMEncodedFrameGetImageDescription(ICMEncodedFrameRef frame, ImageDescriptionHandle* desc) {
    if (desc) *desc = nullptr;
    if (!frame || !desc || !frame->desc) return paramErr;
    Handle copy = reinterpret_cast<Handle>(frame->desc);
    OSErr err = HandToHand(&copy);
    if (err) return err;
    *desc = reinterpret_cast<ImageDescriptionHandle>(copy);
    return noErr;
}
