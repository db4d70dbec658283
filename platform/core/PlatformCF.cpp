#include "PlatformCF.h"

#include <cstring>

namespace {

enum : CFTypeID { kStringTypeID = 7 };

bool validUtf8(const std::string& s) {
    size_t i = 0, n = s.size();
    while (i < n) {
        auto c = uint8_t(s[i]);
        int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
        if (extra < 0 || n - i - 1 < size_t(extra)) return false;
        uint32_t cp = extra == 0 ? c : c & (0x3F >> extra);
        for (int k = 1; k <= extra; ++k) {
            auto cc = uint8_t(s[i + size_t(k)]);
            if ((cc & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        if ((extra == 1 && cp < 0x80) || (extra == 2 && cp < 0x800) ||
            (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += size_t(extra) + 1;
    }
    return true;
}

// Decodes to code points; false on invalid UTF-8.
bool decodeUtf8(const std::string& s, std::u32string& out) {
    if (!validUtf8(s)) return false;
    out.clear();
    for (size_t i = 0; i < s.size();) {
        auto c = uint8_t(s[i]);
        int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : 3;
        uint32_t cp = extra == 0 ? c : c & (0x3F >> extra);
        for (int k = 1; k <= extra; ++k)
            cp = (cp << 6) | (uint8_t(s[i + size_t(k)]) & 0x3F);
        out.push_back(cp);
        i += size_t(extra) + 1;
    }
    return true;
}

void appendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

// Converts bytes in an encoding to UTF-8; false when they have no meaning in it.
bool toUtf8(const char* bytes, size_t n, CFStringEncoding enc, std::string& out) {
    out.clear();
    switch (enc) {
    case kCFStringEncodingUTF8:
        out.assign(bytes, n);
        return validUtf8(out);
    case kCFStringEncodingASCII:
        for (size_t i = 0; i < n; ++i) {
            if (uint8_t(bytes[i]) >= 0x80) return false;
            out += bytes[i];
        }
        return true;
    case kCFStringEncodingISOLatin1:
        for (size_t i = 0; i < n; ++i)
            appendUtf8(out, uint8_t(bytes[i]));
        return true;
    case kCFStringEncodingMacRoman:
    case kCFStringEncodingWindowsLatin1:
        // Only the shared ASCII half is known to this layer so far.
        for (size_t i = 0; i < n; ++i) {
            if (uint8_t(bytes[i]) >= 0x80) return false;
            out += bytes[i];
        }
        return true;
    default:
        return false;
    }
}

bool fromUtf8(const std::string& s, CFStringEncoding enc, std::string& out) {
    out.clear();
    if (enc == kCFStringEncodingUTF8) {
        out = s;
        return true;
    }
    std::u32string cps;
    if (!decodeUtf8(s, cps)) return false;
    uint32_t limit = enc == kCFStringEncodingISOLatin1 ? 0x100 : 0x80;
    if (enc != kCFStringEncodingISOLatin1 && enc != kCFStringEncodingASCII &&
        enc != kCFStringEncodingMacRoman && enc != kCFStringEncodingWindowsLatin1)
        return false;
    for (uint32_t cp : cps) {
        if (cp >= limit) return false;
        out += char(cp);
    }
    return true;
}

} // namespace

CFTypeID CFLiteString::typeID() const {
    return kStringTypeID;
}

CFTypeRef CFRetain(CFTypeRef object) {
    if (object) ++object->refCount;
    return object;
}

void CFRelease(CFTypeRef object) {
    if (object && --object->refCount == 0) delete object;
}

CFIndex CFGetRetainCount(CFTypeRef object) {
    return object ? object->refCount : 0;
}
CFTypeID CFGetTypeID(CFTypeRef object) {
    return object ? object->typeID() : 0;
}
CFTypeID CFStringGetTypeID() {
    return kStringTypeID;
}

CFStringRef CFStringCreateWithCString(CFAllocatorRef, const char* cStr, CFStringEncoding encoding) {
    if (!cStr) return nullptr;
    std::string utf8;
    if (!toUtf8(cStr, std::strlen(cStr), encoding, utf8)) return nullptr;
    return new CFLiteString(std::move(utf8));
}

CFStringRef CFStringCreateWithBytes(CFAllocatorRef, const UInt8* bytes, CFIndex numBytes,
                                    CFStringEncoding encoding, Boolean) {
    if (numBytes < 0 || (!bytes && numBytes > 0)) return nullptr;
    std::string utf8;
    if (!toUtf8(reinterpret_cast<const char*>(bytes), size_t(numBytes), encoding, utf8)) return nullptr;
    return new CFLiteString(std::move(utf8));
}

CFIndex CFStringGetLength(CFStringRef str) {
    if (!str) return 0;
    std::u32string cps;
    decodeUtf8(str->utf8, cps);
    CFIndex n = 0;
    for (uint32_t cp : cps)
        n += cp >= 0x10000 ? 2 : 1;
    return n;
}

Boolean CFStringGetCString(CFStringRef str, char* buffer, CFIndex bufferSize, CFStringEncoding encoding) {
    if (!str || !buffer || bufferSize <= 0) return false;
    std::string out;
    if (!fromUtf8(str->utf8, encoding, out) || CFIndex(out.size()) + 1 > bufferSize) {
        buffer[0] = 0;
        return false;
    }
    std::memcpy(buffer, out.c_str(), out.size() + 1);
    return true;
}

const char* CFStringGetCStringPtr(CFStringRef str, CFStringEncoding encoding) {
    if (!str || encoding != kCFStringEncodingUTF8) return nullptr;
    return str->utf8.c_str();
}

Boolean CFStringEqual(CFStringRef a, CFStringRef b) {
    return a && b && a->utf8 == b->utf8;
}

OSType UTGetOSTypeFromString(CFStringRef str) {
    char buf[8];
    if (!CFStringGetCString(str, buf, sizeof buf, kCFStringEncodingISOLatin1) || std::strlen(buf) != 4)
        return 0;
    return (uint32_t(uint8_t(buf[0])) << 24) | (uint32_t(uint8_t(buf[1])) << 16) |
           (uint32_t(uint8_t(buf[2])) << 8) | uint32_t(uint8_t(buf[3]));
}

CFStringRef UTCreateStringForOSType(OSType code) {
    if (code == 0) return new CFLiteString(std::string());
    char buf[4] = {char(code >> 24), char(code >> 16), char(code >> 8), char(code)};
    return CFStringCreateWithBytes(nullptr, reinterpret_cast<const UInt8*>(buf), 4,
                                   kCFStringEncodingISOLatin1, false);
}
