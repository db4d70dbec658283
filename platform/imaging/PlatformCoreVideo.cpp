#include "PlatformCoreVideo.h"

#include "PlatformPixelFormats.h"

#include <cstdlib>
#include <new>

namespace {

enum : CFTypeID {
    kPixelBufferTypeID = 211,
    kVisualContextTypeID = 212,
};

struct ConstantString {
    explicit ConstantString(const char* text) : string(text) { string.immortal = true; }
    CFLiteString string;
};

ConstantString gPixelFormatTypeKey("PixelFormatType");
ConstantString gWidthKey("Width");
ConstantString gHeightKey("Height");
ConstantString gBytesPerRowAlignmentKey("BytesPerRowAlignment");
ConstantString gFormatName("Name");
ConstantString gFormatConstant("PixelFormat");
ConstantString gFormatCodecType("CodecType");
ConstantString gFormatBitsPerBlock("BitsPerBlock");
ConstantString gFormatContainsAlpha("ContainsAlpha");
ConstantString gFormatCGBitmapInfo("CGBitmapInfo");
ConstantString gFormatQD("QDCompatibility");
ConstantString gFormatCGBitmapContext("CGBitmapContextCompatibility");
ConstantString gFormatCGImage("CGImageCompatibility");
ConstantString gFormatOpenGL("OpenGLCompatibility");
ConstantString gPixelBufferAttributesKey("PixelBufferAttributes");

} // namespace

const CFStringRef kCVPixelBufferPixelFormatTypeKey = &gPixelFormatTypeKey.string;
const CFStringRef kCVPixelBufferWidthKey = &gWidthKey.string;
const CFStringRef kCVPixelBufferHeightKey = &gHeightKey.string;
const CFStringRef kCVPixelBufferBytesPerRowAlignmentKey = &gBytesPerRowAlignmentKey.string;
const CFStringRef kCVPixelFormatName = &gFormatName.string;
const CFStringRef kCVPixelFormatConstant = &gFormatConstant.string;
const CFStringRef kCVPixelFormatCodecType = &gFormatCodecType.string;
const CFStringRef kCVPixelFormatBitsPerBlock = &gFormatBitsPerBlock.string;
const CFStringRef kCVPixelFormatContainsAlpha = &gFormatContainsAlpha.string;
const CFStringRef kCVPixelFormatCGBitmapInfo = &gFormatCGBitmapInfo.string;
const CFStringRef kCVPixelFormatQDCompatibility = &gFormatQD.string;
const CFStringRef kCVPixelFormatCGBitmapContextCompatibility = &gFormatCGBitmapContext.string;
const CFStringRef kCVPixelFormatCGImageCompatibility = &gFormatCGImage.string;
const CFStringRef kCVPixelFormatOpenGLCompatibility = &gFormatOpenGL.string;
const CFStringRef kQTVisualContextPixelBufferAttributesKey = &gPixelBufferAttributesKey.string;

CVLitePixelBuffer::~CVLitePixelBuffer() {
    if (ownsBytes)
        std::free(base);
    else if (release)
        release(releaseRefCon, base);
}
CFTypeID CVLitePixelBuffer::typeID() const {
    return kPixelBufferTypeID;
}

QTLiteVisualContext::~QTLiteVisualContext() {
    if (attributes) CFRelease(attributes);
}
CFTypeID QTLiteVisualContext::typeID() const {
    return kVisualContextTypeID;
}

namespace {

CVPixelBufferRef checked(CVPixelBufferRef buffer) {
    return buffer && buffer->typeID() == kPixelBufferTypeID ? buffer : nullptr;
}

bool numberIn(CFDictionaryRef dict, CFStringRef key, int64_t& value) {
    if (!dict) return false;
    auto number = static_cast<CFNumberRef>(CFDictionaryGetValue(dict, key));
    if (!number || CFGetTypeID(number) != CFNumberGetTypeID()) return false;
    return CFNumberGetValue(number, kCFNumberSInt64Type, &value);
}

// Checks the size and format; the smallest row length in `rowBytes`.
CVReturn checkShape(size_t width, size_t height, OSType format, int64_t& rowBytes) {
    const platform::PixelFormatInfo* info = platform::pixelFormatInfo(format);
    if (!info) return kCVReturnInvalidPixelFormat;
    if (width == 0 || height == 0 || width > 0x7FFFFFFF || height > 0x7FFFFFFF) return kCVReturnInvalidSize;
    rowBytes = platform::minimumRowBytes(*info, int32_t(width));
    return kCVReturnSuccess;
}

bool setNumber(CFMutableDictionaryRef dict, CFStringRef key, int64_t value) {
    CFNumberRef number = CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt64Type, &value);
    if (!number) return false;
    CFDictionarySetValue(dict, key, number);
    CFRelease(number);
    return true;
}

bool setString(CFMutableDictionaryRef dict, CFStringRef key, CFStringRef value) {
    if (!value) return false;
    CFDictionarySetValue(dict, key, value);
    CFRelease(value);
    return true;
}

} // namespace

CFTypeID CVPixelBufferGetTypeID() {
    return kPixelBufferTypeID;
}

CVReturn CVPixelBufferCreate(CFAllocatorRef, size_t width, size_t height, OSType pixelFormatType,
                             CFDictionaryRef pixelBufferAttributes, CVPixelBufferRef* pixelBufferOut) {
    if (!pixelBufferOut) return kCVReturnInvalidArgument;
    *pixelBufferOut = nullptr;
    int64_t rowBytes = 0;
    const CVReturn shape = checkShape(width, height, pixelFormatType, rowBytes);
    if (shape != kCVReturnSuccess) return shape;
    int64_t alignment = 16;
    if (numberIn(pixelBufferAttributes, kCVPixelBufferBytesPerRowAlignmentKey, alignment) &&
        (alignment <= 0 || alignment > 4096 || (alignment & (alignment - 1)) != 0))
        return kCVReturnInvalidArgument;
    rowBytes = (rowBytes + alignment - 1) / alignment * alignment;
    if (rowBytes * int64_t(height) > INT32_MAX) return kCVReturnInvalidSize;
    auto* buffer = new (std::nothrow) CVLitePixelBuffer;
    if (!buffer) return kCVReturnAllocationFailed;
    buffer->base = static_cast<uint8_t*>(std::calloc(size_t(rowBytes) * height, 1));
    if (!buffer->base) {
        delete buffer;
        return kCVReturnAllocationFailed;
    }
    buffer->ownsBytes = true;
    buffer->width = width;
    buffer->height = height;
    buffer->bytesPerRow = size_t(rowBytes);
    buffer->format = pixelFormatType;
    *pixelBufferOut = buffer;
    return kCVReturnSuccess;
}

CVReturn CVPixelBufferCreateWithBytes(CFAllocatorRef, size_t width, size_t height, OSType pixelFormatType,
                                      void* baseAddress, size_t bytesPerRow,
                                      CVPixelBufferReleaseBytesCallback releaseCallback, void* releaseRefCon,
                                      CFDictionaryRef, CVPixelBufferRef* pixelBufferOut) {
    if (!pixelBufferOut) return kCVReturnInvalidArgument;
    *pixelBufferOut = nullptr;
    int64_t rowBytes = 0;
    const CVReturn shape = checkShape(width, height, pixelFormatType, rowBytes);
    if (shape != kCVReturnSuccess) return shape;
    if (!baseAddress || int64_t(bytesPerRow) < rowBytes || bytesPerRow > size_t(INT32_MAX))
        return kCVReturnInvalidArgument;
    auto* buffer = new (std::nothrow) CVLitePixelBuffer;
    if (!buffer) return kCVReturnAllocationFailed;
    buffer->base = static_cast<uint8_t*>(baseAddress);
    buffer->width = width;
    buffer->height = height;
    buffer->bytesPerRow = bytesPerRow;
    buffer->format = pixelFormatType;
    buffer->release = releaseCallback;
    buffer->releaseRefCon = releaseRefCon;
    *pixelBufferOut = buffer;
    return kCVReturnSuccess;
}

CVPixelBufferRef CVPixelBufferRetain(CVPixelBufferRef buffer) {
    if (buffer) CFRetain(buffer);
    return buffer;
}

void CVPixelBufferRelease(CVPixelBufferRef buffer) {
    if (buffer) CFRelease(buffer);
}

CFIndex CVPixelBufferGetRetainCount(CVPixelBufferRef buffer) {
    return CFGetRetainCount(buffer);
}

CVReturn CVPixelBufferLockBaseAddress(CVPixelBufferRef buffer, CVOptionFlags) {
    buffer = checked(buffer);
    if (!buffer) return kCVReturnInvalidArgument;
    ++buffer->locks;
    return kCVReturnSuccess;
}

CVReturn CVPixelBufferUnlockBaseAddress(CVPixelBufferRef buffer, CVOptionFlags) {
    buffer = checked(buffer);
    if (!buffer) return kCVReturnInvalidArgument;
    if (buffer->locks == 0) return kCVReturnError;
    --buffer->locks;
    return kCVReturnSuccess;
}

bool CVPixelBufferIsLocked(CVPixelBufferRef buffer) {
    buffer = checked(buffer);
    return buffer && buffer->locks > 0;
}

void* CVPixelBufferGetBaseAddress(CVPixelBufferRef buffer) {
    buffer = checked(buffer);
    return buffer ? buffer->base : nullptr;
}
size_t CVPixelBufferGetBytesPerRow(CVPixelBufferRef buffer) {
    buffer = checked(buffer);
    return buffer ? buffer->bytesPerRow : 0;
}
size_t CVPixelBufferGetWidth(CVPixelBufferRef buffer) {
    buffer = checked(buffer);
    return buffer ? buffer->width : 0;
}
size_t CVPixelBufferGetHeight(CVPixelBufferRef buffer) {
    buffer = checked(buffer);
    return buffer ? buffer->height : 0;
}
OSType CVPixelBufferGetPixelFormatType(CVPixelBufferRef buffer) {
    buffer = checked(buffer);
    return buffer ? buffer->format : 0;
}
size_t CVPixelBufferGetDataSize(CVPixelBufferRef buffer) {
    buffer = checked(buffer);
    return buffer ? buffer->bytesPerRow * buffer->height : 0;
}
bool CVPixelBufferIsPlanar(CVPixelBufferRef) {
    return false;
}

CFDictionaryRef CVPixelFormatDescriptionCreateWithPixelFormatType(CFAllocatorRef, OSType pixelFormat) {
    const platform::PixelFormatInfo* info = platform::pixelFormatInfo(pixelFormat);
    if (!info) return nullptr;
    CFMutableDictionaryRef dict = CFDictionaryCreateMutable(
        kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    if (!dict) return nullptr;
    auto flag = [dict](CFStringRef key, bool on) {
        CFDictionarySetValue(dict, key, on ? kCFBooleanTrue : kCFBooleanFalse);
    };
    bool ok = setString(dict, kCVPixelFormatName,
                        CFStringCreateWithCString(kCFAllocatorDefault, info->name, kCFStringEncodingUTF8)) &&
              setNumber(dict, kCVPixelFormatConstant, info->format) &&
              setString(dict, kCVPixelFormatCodecType, UTCreateStringForOSType(info->codecType)) &&
              setNumber(dict, kCVPixelFormatBitsPerBlock, info->bitsPerPixel) &&
              setNumber(dict, kCVPixelFormatCGBitmapInfo, info->cgBitmapInfo);
    if (!ok) {
        CFRelease(dict);
        return nullptr;
    }
    flag(kCVPixelFormatContainsAlpha, info->hasAlpha);
    flag(kCVPixelFormatQDCompatibility, info->qdCompatible);
    flag(kCVPixelFormatCGBitmapContextCompatibility, info->cgBitmapContextCompatible);
    flag(kCVPixelFormatCGImageCompatibility, info->cgImageCompatible);
    flag(kCVPixelFormatOpenGLCompatibility, info->openGLCompatible);
    return dict;
}

// ---------------------------------------------------------------------------------------------
// Visual contexts

CFTypeID QTVisualContextGetTypeID() {
    return kVisualContextTypeID;
}

OSStatus QTPixelBufferContextCreate(CFAllocatorRef, CFDictionaryRef options, QTVisualContextRef* newContext) {
    if (!newContext) return paramErr;
    *newContext = nullptr;
    CFDictionaryRef attributes = nullptr;
    if (options) {
        if (CFGetTypeID(options) != CFDictionaryGetTypeID()) return paramErr;
        auto value =
            static_cast<CFTypeRef>(CFDictionaryGetValue(options, kQTVisualContextPixelBufferAttributesKey));
        if (value) {
            if (CFGetTypeID(value) != CFDictionaryGetTypeID()) return paramErr;
            attributes = static_cast<CFDictionaryRef>(value);
            int64_t format = 0;
            if (CFDictionaryContainsKey(attributes, kCVPixelBufferPixelFormatTypeKey) &&
                (!numberIn(attributes, kCVPixelBufferPixelFormatTypeKey, format) || format < 0 ||
                 format > int64_t(UINT32_MAX) || !platform::pixelFormatInfo(OSType(format))))
                return paramErr;
        }
    }
    auto* context = new (std::nothrow) QTLiteVisualContext;
    if (!context) return memFullErr;
    if (attributes) context->attributes = static_cast<CFDictionaryRef>(CFRetain(attributes));
    *newContext = context;
    return noErr;
}

QTVisualContextRef QTVisualContextRetain(QTVisualContextRef context) {
    if (context) CFRetain(context);
    return context;
}

void QTVisualContextRelease(QTVisualContextRef context) {
    if (context) CFRelease(context);
}

OSStatus QTVisualContextGetAttribute(QTVisualContextRef context, CFStringRef attributeKey,
                                     CFTypeRef* attributeValue) {
    if (attributeValue) *attributeValue = nullptr;
    if (!context || context->typeID() != kVisualContextTypeID || !attributeValue || !attributeKey)
        return paramErr;
    if (!CFEqual(attributeKey, kQTVisualContextPixelBufferAttributesKey) || !context->attributes)
        return paramErr;
    *attributeValue = context->attributes;
    return noErr;
}
