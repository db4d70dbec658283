// Options of a compression session and the multipass storage they can carry. Options are
// reference-counted objects with a few switches of their own (temporal compression, frame
// reordering, key-frame interval, frame-time changes, durations) and typed properties in class
// 'icso'. A multipass storage set as the 'imps' property is retained by the options and released
// with them.
#pragma once

#include "PlatformCF.h"
#include "PlatformFiles.h"
#include "PlatformObjects.h"
#include "PlatformProperties.h"
#include "PlatformTypes.h"

#include <cstdio>

struct OpaqueICMMultiPassStorage;
using ICMMultiPassStorageRef = OpaqueICMMultiPassStorage*;
using ICMMultiPassStorageCreationFlags = uint32_t;

constexpr OSType kQTPropertyClass_ICMCompressionSessionOptions = FOUR_CHAR_CODE("icso");

// The properties of the options, their value types and sizes.
enum : OSType {
    kICMCompressionSessionOptionsPropertyID_ExpectedFrameCount = FOUR_CHAR_CODE("frco"), // SInt32
    kICMCompressionSessionOptionsPropertyID_Depth = FOUR_CHAR_CODE("deep"),              // SInt32
    kICMCompressionSessionOptionsPropertyID_Quality = FOUR_CHAR_CODE("qual"),            // UInt32
    kICMCompressionSessionOptionsPropertyID_AverageDataRate = FOUR_CHAR_CODE("aver"),    // SInt32
    kICMCompressionSessionOptionsPropertyID_ExpectedFrameRate = FOUR_CHAR_CODE("fran"),  // Fixed
    kICMCompressionSessionOptionsPropertyID_MultiPassStorage =
        FOUR_CHAR_CODE("imps"), // ICMMultiPassStorageRef
};

// New options with every switch off, no key-frame limit (0), no multipass storage, and the
// properties above at 0 (quality: normal, 512).
OSStatus ICMCompressionSessionOptionsCreate(CFAllocatorRef allocator,
                                            ICMCompressionSessionOptionsRef* options);
ICMCompressionSessionOptionsRef ICMCompressionSessionOptionsRetain(ICMCompressionSessionOptionsRef options);
void ICMCompressionSessionOptionsRelease(ICMCompressionSessionOptionsRef options);

// Switches: paramErr for options that are not (or no longer) options; getters answer false / 0.
OSStatus ICMCompressionSessionOptionsSetAllowTemporalCompression(ICMCompressionSessionOptionsRef options,
                                                                 Boolean allow);
Boolean ICMCompressionSessionOptionsGetAllowTemporalCompression(ICMCompressionSessionOptionsRef options);
OSStatus ICMCompressionSessionOptionsSetAllowFrameReordering(ICMCompressionSessionOptionsRef options,
                                                             Boolean allow);
Boolean ICMCompressionSessionOptionsGetAllowFrameReordering(ICMCompressionSessionOptionsRef options);
// Negative intervals are refused.
OSStatus ICMCompressionSessionOptionsSetMaxKeyFrameInterval(ICMCompressionSessionOptionsRef options,
                                                            int32_t interval);
int32_t ICMCompressionSessionOptionsGetMaxKeyFrameInterval(ICMCompressionSessionOptionsRef options);
OSStatus ICMCompressionSessionOptionsSetAllowFrameTimeChanges(ICMCompressionSessionOptionsRef options,
                                                              Boolean allow);
Boolean ICMCompressionSessionOptionsGetAllowFrameTimeChanges(ICMCompressionSessionOptionsRef options);
OSStatus ICMCompressionSessionOptionsSetDurationsNeeded(ICMCompressionSessionOptionsRef options,
                                                        Boolean needed);
Boolean ICMCompressionSessionOptionsGetDurationsNeeded(ICMCompressionSessionOptionsRef options);

OSStatus ICMCompressionSessionOptionsGetPropertyInfo(ICMCompressionSessionOptionsRef options,
                                                     ComponentPropertyClass cls, ComponentPropertyID id,
                                                     ComponentValueType* type, ByteCount* size,
                                                     UInt32* flags);
OSStatus ICMCompressionSessionOptionsGetProperty(ICMCompressionSessionOptionsRef options,
                                                 ComponentPropertyClass cls, ComponentPropertyID id,
                                                 ByteCount size, ComponentValuePtr value,
                                                 ByteCount* sizeUsed);
OSStatus ICMCompressionSessionOptionsSetProperty(ICMCompressionSessionOptionsRef options,
                                                 ComponentPropertyClass cls, ComponentPropertyID id,
                                                 ByteCount size, ConstComponentValuePtr value);

// A multipass storage over a temporary file of its own, removed when the storage goes (the
// folder and name are not used: the file never has a name that outlives it).
OSStatus ICMMultiPassStorageCreateWithTemporaryFile(CFAllocatorRef allocator, const FSRef* directory,
                                                    CFStringRef fileName,
                                                    ICMMultiPassStorageCreationFlags flags,
                                                    ICMMultiPassStorageRef* storage);
ICMMultiPassStorageRef ICMMultiPassStorageRetain(ICMMultiPassStorageRef storage);
void ICMMultiPassStorageRelease(ICMMultiPassStorageRef storage);

namespace platform {
// The storage's file (for the sessions that write passes into it); null for a bad storage.
std::FILE* multiPassStorageFile(ICMMultiPassStorageRef storage);
// The live references of a storage (0 for one that is gone), for tests of ownership.
int32_t multiPassStorageRetainCount(ICMMultiPassStorageRef storage);
} // namespace platform
