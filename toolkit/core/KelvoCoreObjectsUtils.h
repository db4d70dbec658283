// Static helpers used throughout the toolkit: bit flags, four-character codes, C, Pascal and
// Core Foundation strings, handle copies, a movie copy, identifier texts, angles and platform
// queries, and the file opener that reports the toolkit's status codes.
#pragma once

#include "KelvoCoreObjects.h"
#include "PlatformCF.h"
#include "PlatformFiles.h"
#include "PlatformObjects.h"
#include "PlatformTypes.h"

#include <cstdio>

// The C library's fopen with the toolkit's codes: -50 for a null path or mode, 101 when a file
// to write or append cannot be opened, 100 for one to read. `error` is left alone on success.
// A file opened to be written anew ("w", "wb", "w+"...) is written to a temporary beside it and
// put in its place by fclose, and only when every write, the flush and the close succeeded:
// fclose answers EOF for a failed write, and the file is then as it was. Such a stream has no
// descriptor (fileno answers -1). Appending ("a") and updating ("r+") work on the file itself.
FILE* Kelvo_NewFileStream(const char* path, const char* mode, int32_t& error);

class Kelvo_Utils {
  public:
    Kelvo_Utils() = delete;

    static constexpr float piGreco = 3.141592f;
    static const float DegToRad;
    static const float RadToDeg;

    // The foundation library's version, as a number and as text.
    static uint32_t libraryVersion();
    static const char* libraryVersionStr();

    static bool isPlatformBigEndian();
    static bool isImageFile(FSSpec* file);
    static bool isMovieFile(FSSpec* file);

    static bool flagCheck(uint32_t flags, uint32_t mask) { return (flags & mask) == mask; }
    static void flagSet(uint32_t& flags, uint32_t mask) { flags |= mask; }
    static void flagClear(uint32_t& flags, uint32_t mask) { flags &= ~mask; }
    static void flagToggle(uint32_t& flags, uint32_t mask) { flags ^= mask; }

    // The code's four characters in a shared buffer that the next call overwrites (code 0
    // gives the empty text). Main thread only.
    static const char* OSTypeToCString(uint32_t value);
    // Exactly four characters, first character most significant; anything else gives 0.
    static uint32_t CStringToOSType(const char* text);

    static void CToPString(const char* text, unsigned char* pascal);
    // A new array (delete[] by the caller), or null for an empty Pascal string. Returns 0.
    static int32_t PToCStringCreate(const unsigned char* pascal, char*& text);
    // A new Mac Roman array (delete[] by the caller) for a non-empty string; null on a failed
    // conversion. -50 for a null string, otherwise 0. `release` releases the string.
    static int32_t CFStringToCString(CFStringRef string, char*& text, bool release);
    static CFStringRef CStringToCFString(const char* text);

    // The value for `key` (not retained): -50 and null for a null object or one that is no
    // dictionary, 321 and null for an absent key.
    static CFTypeRef CFDictGetValue(CFTypeRef dictionary, CFTypeRef key, int32_t& error);
    // -50 for a null object, one that is no dictionary, or a null key or value; otherwise sets
    // the value (the dictionary retains it) and returns 0.
    static int32_t CFDictSetValue(CFTypeRef dictionary, CFTypeRef key, CFTypeRef value);

    static int64_t ConvertWideToSInt64(const wide& w);
    static wide ConvertSInt64ToWide(int64_t v);
    static RGBColor& EndianRGBColorNtoB(RGBColor& color);
    static RGBColor& EndianRGBColorBtoN(RGBColor& color) { return EndianRGBColorNtoB(color); }
    static float degreesToRadians(float degrees) { return degrees * DegToRad; }
    static float radiansToDegrees(float radians) { return radians * RadToDeg; }

    // A new array (delete[] by the caller) with the handle's text up to its first zero byte or
    // its end. The handle is left exactly as it was. -50 for a null handle.
    static int32_t HandleToCString(Handle handle, char*& text);
    static Handle HandleCopy(const char* data, uint32_t size, int32_t& error);
    static Handle HandleCopy(Handle handle, int32_t& error);
    // A new movie (owned by the caller) made from a copy of `movie`; with `resetMatrix` the new
    // movie and its visual tracks get the identity matrix.
    static Movie MovieCopy(Movie movie, int32_t& error, bool resetMatrix);

    // Writes "YYYYMMDDhhmmss.<n>.<n>" (local time) into `text`, which holds at least 37 bytes.
    // The two numbers never repeat within a process, so identifiers made in the same second
    // still differ.
    static void initUID(char* text);
};
