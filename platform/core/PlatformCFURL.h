// URLs of any scheme beside the file URLs of PlatformCF.h: creation from text with validation,
// the last path component and the file-system path of a file URL.
#pragma once

#include "PlatformCF.h"

// Null when the bytes are not a URL: characters outside those a URL may hold, or a '%' not
// followed by two hexadecimal digits.
CFURLRef CFURLCreateWithBytes(CFAllocatorRef alloc, const UInt8* bytes, CFIndex length,
                              CFStringEncoding encoding, CFURLRef baseURL);
CFURLRef CFURLCreateWithString(CFAllocatorRef alloc, CFStringRef text, CFURLRef baseURL);
// The URL's text (the caller releases it).
CFStringRef CFURLCopyString(CFURLRef url);
// The last component of the path, percent-decoded ("/" for the root, empty without a path).
CFStringRef CFURLCopyLastPathComponent(CFURLRef url);
// The decoded path of a file URL; null for other schemes.
CFStringRef CFURLCopyFileSystemPath(CFURLRef url, CFURLPathStyle pathStyle);

namespace platform {
bool isFileURLText(const std::string& text);
// The path part of a URL text (still encoded): after the scheme and authority, before '?' or '#'.
std::string urlPathPart(const std::string& text);
std::string percentDecode(const std::string& text);
} // namespace platform
