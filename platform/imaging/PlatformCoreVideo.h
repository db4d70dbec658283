// A stand-in for the Core Video pixel buffers through which frames reach compression sessions,
// their pixel-format descriptions, and the pixel-buffer visual context. Pixel buffers and visual
// contexts are reference-counted objects of the CF-like layer (CFRetain, CFRelease and
// CFGetRetainCount work on them); each starts with a count of one and belongs to its creator.
//
// A pixel buffer is `height` rows of `bytesPerRow` bytes in one pixel format of
// PlatformPixelFormats.h, over its own zeroed memory or over the caller's.
#pragma once

#include "PlatformCF.h"
#include "PlatformTypes.h"

#include <cstddef>
#include <cstdint>

using CVReturn = int32_t;
enum : CVReturn {
    kCVReturnSuccess = 0,
    kCVReturnError = -6660,
    kCVReturnInvalidArgument = -6661,
    kCVReturnAllocationFailed = -6662,
    kCVReturnInvalidPixelFormat = -6680,
    kCVReturnInvalidSize = -6681,
};
using CVOptionFlags = uint64_t;
constexpr CVOptionFlags kCVPixelBufferLock_ReadOnly = 1;

// Called once when a buffer made over the caller's bytes goes.
using CVPixelBufferReleaseBytesCallback = void (*)(void* releaseRefCon, const void* baseAddress);

struct CVLitePixelBuffer final : CFLiteObject {
    ~CVLitePixelBuffer() override;
    CFTypeID typeID() const override;
    uint8_t* base = nullptr;
    size_t width = 0, height = 0, bytesPerRow = 0;
    OSType format = 0;
    bool ownsBytes = false;
    CVPixelBufferReleaseBytesCallback release = nullptr;
    void* releaseRefCon = nullptr;
    int32_t locks = 0;
};
using CVPixelBufferRef = CVLitePixelBuffer*;
using CVImageBufferRef = CVPixelBufferRef;
using CVBufferRef = CVPixelBufferRef;

// Keys of pixel buffer attribute dictionaries.
extern const CFStringRef kCVPixelBufferPixelFormatTypeKey;      // number
extern const CFStringRef kCVPixelBufferWidthKey;                // number
extern const CFStringRef kCVPixelBufferHeightKey;               // number
extern const CFStringRef kCVPixelBufferBytesPerRowAlignmentKey; // number (a power of two)

// Keys of pixel format descriptions.
extern const CFStringRef kCVPixelFormatName;                         // string
extern const CFStringRef kCVPixelFormatConstant;                     // number: the format
extern const CFStringRef kCVPixelFormatCodecType;                    // string of four characters
extern const CFStringRef kCVPixelFormatBitsPerBlock;                 // number
extern const CFStringRef kCVPixelFormatContainsAlpha;                // boolean
extern const CFStringRef kCVPixelFormatCGBitmapInfo;                 // number
extern const CFStringRef kCVPixelFormatQDCompatibility;              // boolean
extern const CFStringRef kCVPixelFormatCGBitmapContextCompatibility; // boolean
extern const CFStringRef kCVPixelFormatCGImageCompatibility;         // boolean
extern const CFStringRef kCVPixelFormatOpenGLCompatibility;          // boolean

CFTypeID CVPixelBufferGetTypeID();

// A new buffer with zeroed rows aligned to 16 bytes (or to the attributes' alignment).
// kCVReturnInvalidPixelFormat for an unknown format, kCVReturnInvalidSize for an empty size or
// one beyond 2 GiB of rows.
CVReturn CVPixelBufferCreate(CFAllocatorRef allocator, size_t width, size_t height, OSType pixelFormatType,
                             CFDictionaryRef pixelBufferAttributes, CVPixelBufferRef* pixelBufferOut);
// A new buffer over the caller's bytes; kCVReturnInvalidArgument for null bytes or rows shorter
// than a row of pixels.
CVReturn CVPixelBufferCreateWithBytes(CFAllocatorRef allocator, size_t width, size_t height,
                                      OSType pixelFormatType, void* baseAddress, size_t bytesPerRow,
                                      CVPixelBufferReleaseBytesCallback releaseCallback, void* releaseRefCon,
                                      CFDictionaryRef pixelBufferAttributes,
                                      CVPixelBufferRef* pixelBufferOut);
CVPixelBufferRef CVPixelBufferRetain(CVPixelBufferRef buffer);
void CVPixelBufferRelease(CVPixelBufferRef buffer);
// The buffer's reference count (0 for null).
CFIndex CVPixelBufferGetRetainCount(CVPixelBufferRef buffer);

// Locks nest; unlocking a buffer that is not locked gives kCVReturnError.
CVReturn CVPixelBufferLockBaseAddress(CVPixelBufferRef buffer, CVOptionFlags lockFlags);
CVReturn CVPixelBufferUnlockBaseAddress(CVPixelBufferRef buffer, CVOptionFlags unlockFlags);
bool CVPixelBufferIsLocked(CVPixelBufferRef buffer);

void* CVPixelBufferGetBaseAddress(CVPixelBufferRef buffer);
size_t CVPixelBufferGetBytesPerRow(CVPixelBufferRef buffer);
size_t CVPixelBufferGetWidth(CVPixelBufferRef buffer);
size_t CVPixelBufferGetHeight(CVPixelBufferRef buffer);
OSType CVPixelBufferGetPixelFormatType(CVPixelBufferRef buffer);
// Rows times bytes a row.
size_t CVPixelBufferGetDataSize(CVPixelBufferRef buffer);
// Buffers here are never planar ('8BPS' keeps its planes within each row).
bool CVPixelBufferIsPlanar(CVPixelBufferRef buffer);

// A new dictionary describing the format (the caller releases it); null for an unknown format.
CFDictionaryRef CVPixelFormatDescriptionCreateWithPixelFormatType(CFAllocatorRef allocator,
                                                                  OSType pixelFormat);

// ---------------------------------------------------------------------------------------------
// Visual contexts: where a movie or a decompression hands its frames as pixel buffers.

struct QTLiteVisualContext final : CFLiteObject {
    ~QTLiteVisualContext() override;
    CFTypeID typeID() const override;
    CFDictionaryRef attributes = nullptr; // the pixel buffer attributes, retained
};
using QTVisualContextRef = QTLiteVisualContext*;

// Key of the options of QTPixelBufferContextCreate: the pixel buffer attributes (a dictionary).
extern const CFStringRef kQTVisualContextPixelBufferAttributesKey;

CFTypeID QTVisualContextGetTypeID();
// A new pixel-buffer visual context (the caller releases it). The options may be null; their
// pixel buffer attributes, when given, must be a dictionary whose pixel format, when given, is
// known (else paramErr).
OSStatus QTPixelBufferContextCreate(CFAllocatorRef allocator, CFDictionaryRef options,
                                    QTVisualContextRef* newContext);
QTVisualContextRef QTVisualContextRetain(QTVisualContextRef context);
void QTVisualContextRelease(QTVisualContextRef context);
// The context's attribute (kQTVisualContextPixelBufferAttributesKey: the pixel buffer attributes
// it was made with), not retained for the caller; paramErr for another key or none set.
OSStatus QTVisualContextGetAttribute(QTVisualContextRef context, CFStringRef attributeKey,
                                     CFTypeRef* attributeValue);
