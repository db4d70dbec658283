// A small reference-counted stand-in for the platform's Core Foundation objects: strings, numbers,
// booleans, data, dictionaries and file URLs. Objects start with a count of one; CFRelease
// deletes an object when its count reaches zero. The two booleans are shared constants that are
// never deleted.
#pragma once

#include "PlatformTypes.h"

#include <string>
#include <utility>
#include <vector>

using CFIndex = long;
using CFStringEncoding = uint32_t;
using CFTypeID = unsigned long;

struct CFLiteObject;
using CFTypeRef = const CFLiteObject*;
struct CFLiteString;
using CFStringRef = const CFLiteString*;
using CFMutableStringRef = CFLiteString*;
struct CFLiteNumber;
using CFNumberRef = const CFLiteNumber*;
struct CFLiteBoolean;
using CFBooleanRef = const CFLiteBoolean*;
struct CFLiteData;
using CFDataRef = const CFLiteData*;
struct CFLiteDictionary;
using CFDictionaryRef = const CFLiteDictionary*;
using CFMutableDictionaryRef = CFLiteDictionary*;
struct CFLiteURL;
using CFURLRef = const CFLiteURL*;
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
    // Shared constants are neither counted nor deleted.
    bool immortal = false;
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

// MacRoman and Windows Latin-1 convert through their full tables (the five bytes that Windows
// Latin-1 leaves undefined stand for the control characters of the same number).

// Equality of two objects of the same kind: strings by text, numbers by value, data by bytes,
// URLs by their text; anything else by identity.
Boolean CFEqual(CFTypeRef a, CFTypeRef b);

// Numbers.
using CFNumberType = CFIndex;
enum : CFNumberType {
    kCFNumberSInt8Type = 1,
    kCFNumberSInt16Type = 2,
    kCFNumberSInt32Type = 3,
    kCFNumberSInt64Type = 4,
    kCFNumberFloat32Type = 5,
    kCFNumberFloat64Type = 6,
};
struct CFLiteNumber final : CFLiteObject {
    CFTypeID typeID() const override;
    bool isFloat = false;
    int64_t integer = 0;
    double real = 0.0;
};
CFTypeID CFNumberGetTypeID();
// Null for a null value pointer or a type outside the table above.
CFNumberRef CFNumberCreate(CFAllocatorRef alloc, CFNumberType type, const void* valuePtr);
// The value converted to `type`; false when it does not fit exactly (the converted value is
// still stored, saturated), as the platform does.
Boolean CFNumberGetValue(CFNumberRef number, CFNumberType type, void* valuePtr);

// Booleans.
struct CFLiteBoolean final : CFLiteObject {
    explicit CFLiteBoolean(bool v) : value(v) { immortal = true; }
    CFTypeID typeID() const override;
    bool value;
};
extern const CFBooleanRef kCFBooleanTrue;
extern const CFBooleanRef kCFBooleanFalse;
CFTypeID CFBooleanGetTypeID();
Boolean CFBooleanGetValue(CFBooleanRef boolean);

// Data.
struct CFLiteData final : CFLiteObject {
    CFTypeID typeID() const override;
    std::string bytes;
};
CFTypeID CFDataGetTypeID();
// Null for a negative length or null bytes with a non-zero length.
CFDataRef CFDataCreate(CFAllocatorRef alloc, const UInt8* bytes, CFIndex length);
CFIndex CFDataGetLength(CFDataRef data);
const UInt8* CFDataGetBytePtr(CFDataRef data);

// Dictionaries. Keys and values are retained while they are in the dictionary; keys are
// compared with CFEqual.
struct CFDictionaryKeyCallBacks {
    int version;
};
struct CFDictionaryValueCallBacks {
    int version;
};
extern const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks;
extern const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks;
struct CFLiteDictionary final : CFLiteObject {
    ~CFLiteDictionary() override;
    CFTypeID typeID() const override;
    std::vector<std::pair<CFTypeRef, CFTypeRef>> entries;
};
CFTypeID CFDictionaryGetTypeID();
CFMutableDictionaryRef CFDictionaryCreateMutable(CFAllocatorRef alloc, CFIndex capacity,
                                                 const CFDictionaryKeyCallBacks* keyCallBacks,
                                                 const CFDictionaryValueCallBacks* valueCallBacks);
CFIndex CFDictionaryGetCount(CFDictionaryRef dict);
// The value for the key (not retained for the caller), or null.
const void* CFDictionaryGetValue(CFDictionaryRef dict, const void* key);
Boolean CFDictionaryContainsKey(CFDictionaryRef dict, const void* key);
// Adds or replaces; null keys and values are refused.
void CFDictionarySetValue(CFMutableDictionaryRef dict, const void* key, const void* value);
void CFDictionaryRemoveValue(CFMutableDictionaryRef dict, const void* key);

// File URLs: "file://" and the percent-encoded POSIX path.
using CFURLPathStyle = CFIndex;
enum : CFURLPathStyle { kCFURLPOSIXPathStyle = 0 };
struct CFLiteURL final : CFLiteObject {
    CFTypeID typeID() const override;
    std::string text;
};
CFTypeID CFURLGetTypeID();
// Null for a null or empty path or another path style. A directory URL ends with a slash.
CFURLRef CFURLCreateWithFileSystemPath(CFAllocatorRef alloc, CFStringRef filePath, CFURLPathStyle pathStyle,
                                       Boolean isDirectory);
// The URL of the folder that holds the last path component (the root stays the root).
CFURLRef CFURLCreateCopyDeletingLastPathComponent(CFAllocatorRef alloc, CFURLRef url);
// The path part, still percent-encoded, as the platform answers it (the caller releases it).
CFStringRef CFURLCopyPath(CFURLRef url);

// Four-character codes as strings of four characters.
OSType UTGetOSTypeFromString(CFStringRef str);
CFStringRef UTCreateStringForOSType(OSType code);
