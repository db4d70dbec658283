// A small reference-counted stand-in for the platform's Core Foundation objects: strings for now.
// Objects start with a count of one; CFRelease deletes an object when its count reaches zero.
#pragma once

#include "PlatformTypes.h"

#include <string>

using CFIndex = long;
using CFStringEncoding = uint32_t;
using CFTypeID = unsigned long;

struct CFLiteObject;
using CFTypeRef = const CFLiteObject*;
struct CFLiteString;
using CFStringRef = const CFLiteString*;
using CFMutableStringRef = CFLiteString*;
using CFAllocatorRef = const void*;

constexpr CFAllocatorRef kCFAllocatorDefault = nullptr;

enum : CFStringEncoding {
    kCFStringEncodingMacRoman = 0,
    kCFStringEncodingWindowsLatin1 = 0x0500,
    kCFStringEncodingISOLatin1 = 0x0201,
    kCFStringEncodingASCII = 0x0600,
    kCFStringEncodingUTF8 = 0x08000100,
    kCFStringEncodingInvalidId = 0xFFFFFFFFu,
};

struct CFLiteObject {
    virtual ~CFLiteObject() = default;
    virtual CFTypeID typeID() const = 0;
    mutable long refCount = 1;
};

// Text is kept as UTF-8.
struct CFLiteString final : CFLiteObject {
    explicit CFLiteString(std::string s) : utf8(std::move(s)) {}
    CFTypeID typeID() const override;
    std::string utf8;
};

CFTypeRef CFRetain(CFTypeRef object);
void CFRelease(CFTypeRef object);
CFIndex CFGetRetainCount(CFTypeRef object);
CFTypeID CFGetTypeID(CFTypeRef object);
CFTypeID CFStringGetTypeID();

// Null when the bytes are not valid in the encoding.
CFStringRef CFStringCreateWithCString(CFAllocatorRef alloc, const char* cStr, CFStringEncoding encoding);
CFStringRef CFStringCreateWithBytes(CFAllocatorRef alloc, const UInt8* bytes, CFIndex numBytes,
                                    CFStringEncoding encoding, Boolean isExternalRepresentation);
// Number of UTF-16 code units, as the platform counts a string's length.
CFIndex CFStringGetLength(CFStringRef str);
// False when the buffer is too small or a character has no form in the encoding.
Boolean CFStringGetCString(CFStringRef str, char* buffer, CFIndex bufferSize, CFStringEncoding encoding);
const char* CFStringGetCStringPtr(CFStringRef str, CFStringEncoding encoding);
Boolean CFStringEqual(CFStringRef a, CFStringRef b);

// Four-character codes as strings of four characters.
OSType UTGetOSTypeFromString(CFStringRef str);
CFStringRef UTCreateStringForOSType(OSType code);
