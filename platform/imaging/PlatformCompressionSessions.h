// Compressing frames: the classic image sequence (begin with a source pixel map and a codec,
// compress frame after frame into the caller's buffer) and the newer compression session (frames
// as pixel buffers, encoded frames handed to a callback, passes for multipass encoders). Both run
// the codec registry's encoders on the pixels of the source, shaped for the codec: one grey
// sample for the grey depths, RGB for 24 bits (and for 32 bits where the codec takes no alpha),
// RGBA for 32 bits, 16-bit samples from the 16- and 48-bit formats.
#pragma once

#include "PlatformCodecRegistry.h"
#include "PlatformCompressionOptions.h"
#include "PlatformCoreVideo.h"
#include "PlatformDescriptions.h"
#include "PlatformGWorlds.h"
#include "PlatformObjects.h"

using ImageSequence = int32_t;
using TimeValue64 = int64_t;
using CodecQ = uint32_t;
using CodecFlags = uint16_t;

// Image sequences. The description handle receives the description of the compressed frames
// (resized to 86 bytes). Rectangles must lie inside the source map; a depth of 0 takes the map's.
OSErr CompressSequenceBegin(ImageSequence* seqID, PixMapHandle src, PixMapHandle prev, const Rect* srcRect,
                            const Rect* prevRect, int16_t colorDepth, CodecType cType,
                            CompressorComponent codec, CodecQ spatialQuality, CodecQ temporalQuality,
                            int32_t keyFrameRate, CTabHandle ctable, CodecFlags flags,
                            ImageDescriptionHandle desc);
// Compresses the source's pixels of srcRect into `data`, which holds *dataSize bytes (as
// GetMaxCompressionSize gave); *dataSize receives the frame's size. A frame that would not fit is
// codecSpoolErr. Every frame is a key frame: *similarity is 0.
OSErr CompressSequenceFrame(ImageSequence seqID, PixMapHandle src, const Rect* srcRect, CodecFlags flags,
                            Ptr data, int32_t* dataSize, uint8_t* similarity, void* asyncCompletionProc);
OSErr CDSequenceEnd(ImageSequence seqID);
// A size no compressed frame of those pixels exceeds.
OSErr GetMaxCompressionSize(PixMapHandle src, const Rect* srcRect, int16_t colorDepth, CodecQ quality,
                            CodecType cType, CompressorComponent codec, int32_t* size);

constexpr OSErr codecSpoolErr = -8966;

// Compression sessions.
struct OpaqueICMEncodedFrame;
using ICMEncodedFrameRef = OpaqueICMEncodedFrame*;
using ICMValidTimeFlags = uint32_t;
enum : ICMValidTimeFlags {
    kICMValidTime_DisplayTimeStampIsValid = 1u << 0,
    kICMValidTime_DisplayDurationIsValid = 1u << 1,
};
using ICMCompressionPassModeFlags = uint32_t;
enum : ICMCompressionPassModeFlags {
    kICMCompressionPassMode_OutputEncodedFrames = 1u << 0,
    kICMCompressionPassMode_NoSourceFrames = 1u << 1,
    kICMCompressionPassMode_WriteToMultiPassStorage = 1u << 2,
    kICMCompressionPassMode_ReadFromMultiPassStorage = 1u << 3,
};
using MediaSampleFlags = uint32_t;
constexpr MediaSampleFlags mediaSampleNotSync = 1;

using ICMEncodedFrameOutputCallback = OSStatus (*)(void* encodedFrameOutputRefCon,
                                                   ICMCompressionSessionRef session, OSStatus error,
                                                   ICMEncodedFrameRef frame, void* reserved);
struct ICMEncodedFrameOutputRecord {
    ICMEncodedFrameOutputCallback encodedFrameOutputCallback;
    void* encodedFrameOutputRefCon;
    CFAllocatorRef frameDataAllocator;
};

constexpr OSType kQTPropertyClass_ICMCompressionSession = FOUR_CHAR_CODE("icse");
// The description of the session's frames (an ImageDescriptionHandle the caller disposes).
constexpr OSType kICMCompressionSessionPropertyID_ImageDescription = FOUR_CHAR_CODE("idsc");

// A session for frames of width x height in `cType`, at `timeScale`; the options are copied
// (null: the defaults). Encoded frames reach the callback, during EncodeFrame or CompleteFrames.
OSStatus ICMCompressionSessionCreate(CFAllocatorRef allocator, int32_t width, int32_t height, CodecType cType,
                                     TimeScale timeScale, ICMCompressionSessionOptionsRef options,
                                     CFDictionaryRef sourcePixelBufferAttributes,
                                     const ICMEncodedFrameOutputRecord* encodedFrameOutputRecord,
                                     ICMCompressionSessionRef* session);
ICMCompressionSessionRef ICMCompressionSessionRetain(ICMCompressionSessionRef session);
void ICMCompressionSessionRelease(ICMCompressionSessionRef session);
TimeScale ICMCompressionSessionGetTimeScale(ICMCompressionSessionRef session);
// Encodes one frame (a null buffer only in a pass without source frames).
OSStatus ICMCompressionSessionEncodeFrame(ICMCompressionSessionRef session, CVPixelBufferRef pixelBuffer,
                                          TimeValue64 displayTimeStamp, TimeValue64 displayDuration,
                                          ICMValidTimeFlags validTimeFlags, void* frameOptions,
                                          void* sourceTrackingCallback, void* sourceFrameRefCon);
OSStatus ICMCompressionSessionCompleteFrames(ICMCompressionSessionRef session, Boolean completeAllFrames,
                                             TimeValue64 completeUntilDisplayTimeStamp,
                                             TimeValue64 nextDisplayTimeStamp);
// The codecs here encode in one pass: a multipass request answers with no pass flags.
OSStatus ICMCompressionSessionSupportsMultiPassEncoding(ICMCompressionSessionRef session,
                                                        ICMCompressionPassModeFlags multiPassStyleFlags,
                                                        ICMCompressionPassModeFlags* firstPassModeFlags);
OSStatus ICMCompressionSessionBeginPass(ICMCompressionSessionRef session,
                                        ICMCompressionPassModeFlags passModeFlags, uint32_t flags);
OSStatus ICMCompressionSessionEndPass(ICMCompressionSessionRef session);
OSStatus
ICMCompressionSessionProcessBetweenPasses(ICMCompressionSessionRef session, uint32_t flags,
                                          Boolean* interpassProcessingDoneOut,
                                          ICMCompressionPassModeFlags* requestedNextPassModeFlagsOut);
OSStatus ICMCompressionSessionGetPropertyInfo(ICMCompressionSessionRef session, ComponentPropertyClass cls,
                                              ComponentPropertyID id, ComponentValueType* type,
                                              ByteCount* size, UInt32* flags);
OSStatus ICMCompressionSessionGetProperty(ICMCompressionSessionRef session, ComponentPropertyClass cls,
                                          ComponentPropertyID id, ByteCount size, ComponentValuePtr value,
                                          ByteCount* sizeUsed);
OSStatus ICMCompressionSessionSetProperty(ICMCompressionSessionRef session, ComponentPropertyClass cls,
                                          ComponentPropertyID id, ByteCount size,
                                          ConstComponentValuePtr value);

// Encoded frames (valid during the callback).
const uint8_t* ICMEncodedFrameGetDataPtr(ICMEncodedFrameRef frame);
ByteCount ICMEncodedFrameGetDataSize(ICMEncodedFrameRef frame);
TimeValue64 ICMEncodedFrameGetDecodeDuration(ICMEncodedFrameRef frame);
TimeValue64 ICMEncodedFrameGetDisplayOffset(ICMEncodedFrameRef frame);
TimeValue64 ICMEncodedFrameGetDisplayTimeStamp(ICMEncodedFrameRef frame);
TimeScale ICMEncodedFrameGetTimeScale(ICMEncodedFrameRef frame);
MediaSampleFlags ICMEncodedFrameGetMediaSampleFlags(ICMEncodedFrameRef frame);
// A new copy of the frame's description (the caller disposes it).
OSStatus ICMEncodedFrameGetImageDescription(ICMEncodedFrameRef frame, ImageDescriptionHandle* desc);

namespace platform {
// The pixels of `rect` (in the map's coordinates, inside its bounds) as 8-bit samples read
// straight from the map's rows: `components` 1 (colour weighted into grey as (117 B + 601 G +
// 306 R) >> 10), 3 (RGB) or 4 (RGBA, opaque where the map has no alpha). Only maps of 32-bit
// ARGB, 24-bit RGB and 8-bit grey pixels; codecUnimpErr for others, which take pixMapToPicture's
// way; paramErr for a map of no world. `out`'s storage is reused: a frame of the size before
// allocates nothing. Defined beside pixMapToPicture, with the worlds.
OSErr pixMapRectToPicture8(PixMapHandle pixMap, const Rect& rect, int32_t components, codec::Picture& out);
// The pixels of `rect` of the map shaped for `cType` at `depth` (see the head of this file).
OSErr framePicture(PixMapHandle src, const Rect& rect, CodecType cType, int16_t depth, codec::Picture& out);
} // namespace platform
