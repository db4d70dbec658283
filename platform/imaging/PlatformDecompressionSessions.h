// Decompressing frames: image sequences that decode each frame with the codec registry and draw
// it into a port through the blitter (source rectangle, matrix, transfer mode, mask), video
// effects that draw their source worlds through their parameters, and the newer decompression
// session interface with its options.
//
// The brightness and contrast effect ('brco') takes one source and two parameters, 'bryt'
// (brightness) and 'cntr' (contrast), big-endian 16-bit integers clamped to -100..100 in the
// effect description. Each colour sample v (0..255) becomes
//     v' = clamp(round((v - 127.5) * (100 + contrast) / 100 + 127.5 + brightness * 2.55), 0, 255)
// so 0 and 0 leave every sample as it is, and the result never decreases as v grows (contrast
// -100 gives a flat grey); alpha is kept.
#pragma once

#include "PlatformAtoms.h"
#include "PlatformCodecRegistry.h"
#include "PlatformCoreVideo.h"
#include "PlatformDescriptions.h"
#include "PlatformGWorlds.h"
#include "PlatformMatrix.h"
#include "PlatformObjects.h"
#include "PlatformProperties.h"
#include "PlatformRegions.h"
#include "PlatformTimeBase.h"

#include <cstdint>

using ImageSequence = int32_t;
using ImageSequenceDataSource = int32_t;
using CodecQ = uint32_t;
using CodecFlags = uint16_t;

constexpr OSType kBrightnessContrastEffect = FOUR_CHAR_CODE("brco");
constexpr OSType kEffectBrightnessParameter = FOUR_CHAR_CODE("bryt");
constexpr OSType kEffectContrastParameter = FOUR_CHAR_CODE("cntr");
constexpr OSErr codecTooSlowForTimedFrameErr = -8974;

// The frame time of a timed frame (56 bytes in the platform's layout).
#pragma pack(push, 2)
struct ICMFrameTimeRecord {
    wide value;
    TimeScale scale;
    void* base; // a time base, unused here
    int32_t duration;
    Fixed rate;
    int32_t recordSize;
    int32_t frameNumber;
    int32_t flags;
    wide virtualStartTime;
    int32_t virtualDuration;
    int64_t decodeTime;
};
#pragma pack(pop)

// Opens a sequence that draws frames of `desc` into `port`. The description is copied; `data`
// (size bytes) is the first frame or, for an effect, its description (a flattened atom
// container). An unknown codec is noCodecErr, a port that is not a world paramErr.
OSErr DecompressSequenceBeginS(ImageSequence* seqID, ImageDescriptionHandle desc, Ptr data, int32_t dataSize,
                               CGrafPtr port, GDHandle gdh, const Rect* srcRect, const MatrixRecord* matrix,
                               int16_t mode, RgnHandle mask, CodecFlags flags, CodecQ accuracy,
                               DecompressorComponent codec);
// Decodes one frame and draws it; an effect draws its sources.
OSErr DecompressSequenceFrameS(ImageSequence seqID, Ptr data, int32_t dataSize, CodecFlags inFlags,
                               CodecFlags* outFlags, void* asyncCompletionProc);
OSErr DecompressSequenceFrameWhen(ImageSequence seqID, Ptr data, int32_t dataSize, CodecFlags inFlags,
                                  CodecFlags* outFlags, void* asyncCompletionProc,
                                  const ICMFrameTimeRecord* frameTime);
OSErr SetDSequenceFlags(ImageSequence seqID, int32_t flags, int32_t flagsMask);
// The part of each decoded frame that is drawn (null: all of it).
OSErr SetDSequenceSrcRect(ImageSequence seqID, const Rect* srcRect);
// A copy of the region; null: none.
OSErr SetDSequenceMask(ImageSequence seqID, RgnHandle mask);
OSErr SetDSequenceTransferMode(ImageSequence seqID, int16_t mode, const RGBColor* opColor);
// Frame (or source rectangle) coordinates to port coordinates; null: the identity.
OSErr SetDSequenceMatrix(ImageSequence seqID, const MatrixRecord* matrix);
OSErr CDSequenceSetTimeBase(ImageSequence seqID, TimeBase base);
// The sources of an effect: one for each input number 1..3, reading a world's pixels.
OSErr CDSequenceNewDataSource(ImageSequence seqID, ImageSequenceDataSource* sourceID, OSType sourceType,
                              int16_t sourceInputNumber, Handle dataDescription, void* transferProc,
                              void* refCon);
OSErr CDSequenceSetSourceData(ImageSequenceDataSource sourceID, void* data, int32_t dataSize);

namespace platform {
// Ends a decompression sequence (CDSequenceEnd ends either kind); paramErr for an unknown one.
OSErr endDecompressionSequence(ImageSequence seqID);
// Whether the type is a video effect this platform draws.
bool isEffectType(OSType type);
// A new parameter description of the effect (the caller disposes it): 'srcs' (the number of
// sources, a big-endian 32-bit count) and its parameters at their defaults; null for another type.
QTAtomContainer newEffectParameterList(OSType effectType);
namespace detail {
// Registers the effects as decompressor components; the component manager calls it once.
void installEffectComponents();
} // namespace detail
} // namespace platform

// The newer interface. Options and frame options carry properties ('idso', 'idfo'); the frame
// options' 'cvpb' names the pixel buffer frames are drawn into.
struct OpaqueICMDecompressionSession;
using ICMDecompressionSessionRef = OpaqueICMDecompressionSession*;
struct OpaqueICMDecompressionSessionOptions;
using ICMDecompressionSessionOptionsRef = OpaqueICMDecompressionSessionOptions*;
struct OpaqueICMDecompressionFrameOptions;
using ICMDecompressionFrameOptionsRef = OpaqueICMDecompressionFrameOptions*;
using ICMDecompressionTrackingCallback = void (*)(void* refCon, OSStatus result, uint32_t flags,
                                                  CVPixelBufferRef pixelBuffer, void* frameTime,
                                                  void* sourceFrameRefCon);
struct ICMDecompressionTrackingCallbackRecord {
    ICMDecompressionTrackingCallback decompressionTrackingCallback;
    void* decompressionTrackingRefCon;
};

constexpr OSType kQTPropertyClass_ICMDecompressionSessionOptions = FOUR_CHAR_CODE("idso");
constexpr OSType kQTPropertyClass_ICMDecompressionFrameOptions = FOUR_CHAR_CODE("idfo");
constexpr OSType kQTPropertyClass_ICMDecompressionSession = FOUR_CHAR_CODE("icds");
constexpr OSType kICMDecompressionFrameOptionsPropertyID_DestinationPixelBuffer = FOUR_CHAR_CODE("cvpb");

OSStatus ICMDecompressionSessionOptionsCreate(CFAllocatorRef allocator,
                                              ICMDecompressionSessionOptionsRef* options);
void ICMDecompressionSessionOptionsRelease(ICMDecompressionSessionOptionsRef options);
OSStatus ICMDecompressionFrameOptionsCreate(CFAllocatorRef allocator,
                                            ICMDecompressionFrameOptionsRef* options);
void ICMDecompressionFrameOptionsRelease(ICMDecompressionFrameOptionsRef options);
// A session for frames of the description (copied); noCodecErr for an unknown codec.
OSStatus ICMDecompressionSessionCreate(CFAllocatorRef allocator, ImageDescriptionHandle desc,
                                       ICMDecompressionSessionOptionsRef options,
                                       CFDictionaryRef destinationPixelBufferAttributes,
                                       const ICMDecompressionTrackingCallbackRecord* trackingCallbackRecord,
                                       ICMDecompressionSessionRef* session);
void ICMDecompressionSessionRelease(ICMDecompressionSessionRef session);
// Decodes the frame into the frame options' destination buffer (or a buffer of its own, released
// at once) and reports to the tracking callback.
OSStatus ICMDecompressionSessionDecodeFrame(ICMDecompressionSessionRef session, const uint8_t* data,
                                            ByteCount size, ICMDecompressionFrameOptionsRef frameOptions,
                                            void* frameTime, void* sourceFrameRefCon);

#define SYLMARK_DECOMPRESSION_PROPERTY_FAMILY(Obj, Info, Get, Set)                                           \
    OSStatus Info(Obj o, ComponentPropertyClass c, ComponentPropertyID i, ComponentValueType* t,             \
                  ByteCount* s, UInt32* f);                                                                  \
    OSStatus Get(Obj o, ComponentPropertyClass c, ComponentPropertyID i, ByteCount s, ComponentValuePtr v,   \
                 ByteCount* u);                                                                              \
    OSStatus Set(Obj o, ComponentPropertyClass c, ComponentPropertyID i, ByteCount s,                        \
                 ConstComponentValuePtr v);
SYLMARK_DECOMPRESSION_PROPERTY_FAMILY(ICMDecompressionSessionOptionsRef,
                                      ICMDecompressionSessionOptionsGetPropertyInfo,
                                      ICMDecompressionSessionOptionsGetProperty,
                                      ICMDecompressionSessionOptionsSetProperty)
SYLMARK_DECOMPRESSION_PROPERTY_FAMILY(ICMDecompressionFrameOptionsRef,
                                      ICMDecompressionFrameOptionsGetPropertyInfo,
                                      ICMDecompressionFrameOptionsGetProperty,
                                      ICMDecompressionFrameOptionsSetProperty)
SYLMARK_DECOMPRESSION_PROPERTY_FAMILY(ICMDecompressionSessionRef, ICMDecompressionSessionGetPropertyInfo,
                                      ICMDecompressionSessionGetProperty, ICMDecompressionSessionSetProperty)
#undef SYLMARK_DECOMPRESSION_PROPERTY_FAMILY
