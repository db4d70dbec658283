#include "PlatformCF.h"

#include <cctype>
#include <cstring>
#include <limits>

namespace {

enum : CFTypeID {
    kStringTypeID = 7,
    kNumberTypeID = 22,
    kBooleanTypeID = 21,
    kDataTypeID = 20,
    kDictionaryTypeID = 18,
    kURLTypeID = 29,
};

// The characters 0x80 to 0xFF of the two 8-bit Western encodings.
const uint16_t kMacRomanHigh[128] = {
    0x00C4, 0x00C5, 0x00C7, 0x00C9, 0x00D1, 0x00D6, 0x00DC, 0x00E1, 0x00E0, 0x00E2, 0x00E4, 0x00E3, 0x00E5,
    0x00E7, 0x00E9, 0x00E8, 0x00EA, 0x00EB, 0x00ED, 0x00EC, 0x00EE, 0x00EF, 0x00F1, 0x00F3, 0x00F2, 0x00F4,
    0x00F6, 0x00F5, 0x00FA, 0x00F9, 0x00FB, 0x00FC, 0x2020, 0x00B0, 0x00A2, 0x00A3, 0x00A7, 0x2022, 0x00B6,
    0x00DF, 0x00AE, 0x00A9, 0x2122, 0x00B4, 0x00A8, 0x2260, 0x00C6, 0x00D8, 0x221E, 0x00B1, 0x2264, 0x2265,
    0x00A5, 0x00B5, 0x2202, 0x2211, 0x220F, 0x03C0, 0x222B, 0x00AA, 0x00BA, 0x03A9, 0x00E6, 0x00F8, 0x00BF,
    0x00A1, 0x00AC, 0x221A, 0x0192, 0x2248, 0x2206, 0x00AB, 0x00BB, 0x2026, 0x00A0, 0x00C0, 0x00C3, 0x00D5,
    0x0152, 0x0153, 0x2013, 0x2014, 0x201C, 0x201D, 0x2018, 0x2019, 0x00F7, 0x25CA, 0x00FF, 0x0178, 0x2044,
    0x20AC, 0x2039, 0x203A, 0xFB01, 0xFB02, 0x2021, 0x00B7, 0x201A, 0x201E, 0x2030, 0x00C2, 0x00CA, 0x00C1,
    0x00CB, 0x00C8, 0x00CD, 0x00CE, 0x00CF, 0x00CC, 0x00D3, 0x00D4, 0xF8FF, 0x00D2, 0x00DA, 0x00DB, 0x00D9,
    0x0131, 0x02C6, 0x02DC, 0x00AF, 0x02D8, 0x02D9, 0x02DA, 0x00B8, 0x02DD, 0x02DB, 0x02C7,
};
const uint16_t kWindowsLatin1High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// The character of a byte in an 8-bit encoding, or false when the encoding is not one of them.
bool byteToCodePoint(uint8_t b, CFStringEncoding enc, uint32_t& cp) {
    if (b < 0x80) {
        cp = b;
        return true;
    }
    switch (enc) {
    case kCFStringEncodingMacRoman:
        cp = kMacRomanHigh[b - 0x80];
        return true;
    case kCFStringEncodingWindowsLatin1:
        cp = b < 0xA0 ? kWindowsLatin1High[b - 0x80] : b;
        return true;
    case kCFStringEncodingISOLatin1:
        cp = b;
        return true;
    default:
        return false;
    }
}

// The byte of a character in an 8-bit encoding; false when it has none there.
bool codePointToByte(uint32_t cp, CFStringEncoding enc, uint8_t& b) {
    if (cp < 0x80) {
        b = uint8_t(cp);
        return true;
    }
    switch (enc) {
    case kCFStringEncodingISOLatin1:
        if (cp > 0xFF) return false;
        b = uint8_t(cp);
        return true;
    case kCFStringEncodingWindowsLatin1:
        if (cp >= 0xA0 && cp <= 0xFF) {
            b = uint8_t(cp);
            return true;
        }
        for (int i = 0; i < 32; ++i)
            if (kWindowsLatin1High[i] == cp) {
                b = uint8_t(0x80 + i);
                return true;
            }
        return false;
    case kCFStringEncodingMacRoman:
        for (int i = 0; i < 128; ++i)
            if (kMacRomanHigh[i] == cp) {
                b = uint8_t(0x80 + i);
                return true;
            }
        return false;
    default:
        return false;
    }
}

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
    case kCFStringEncodingMacRoman:
    case kCFStringEncodingWindowsLatin1:
        for (size_t i = 0; i < n; ++i) {
            uint32_t cp = 0;
            byteToCodePoint(uint8_t(bytes[i]), enc, cp);
            appendUtf8(out, cp);
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
    if (enc != kCFStringEncodingISOLatin1 && enc != kCFStringEncodingASCII &&
        enc != kCFStringEncodingMacRoman && enc != kCFStringEncodingWindowsLatin1)
        return false;
    for (uint32_t cp : cps) {
        uint8_t b = 0;
        if (enc == kCFStringEncodingASCII ? cp >= 0x80 : !codePointToByte(cp, enc, b)) return false;
        out += char(enc == kCFStringEncodingASCII ? cp : b);
    }
    return true;
}

} // namespace

CFTypeID CFLiteString::typeID() const {
    return kStringTypeID;
}

CFTypeRef CFRetain(CFTypeRef object) {
    if (object && !object->immortal) ++object->refCount;
    return object;
}

void CFRelease(CFTypeRef object) {
    if (object && !object->immortal && --object->refCount == 0) delete object;
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

// ---------------------------------------------------------------------------------------------
// Equality

Boolean CFEqual(CFTypeRef a, CFTypeRef b) {
    if (a == b) return a != nullptr;
    if (!a || !b || a->typeID() != b->typeID()) return false;
    switch (a->typeID()) {
    case kStringTypeID:
        return static_cast<CFStringRef>(a)->utf8 == static_cast<CFStringRef>(b)->utf8;
    case kNumberTypeID: {
        auto* x = static_cast<CFNumberRef>(a);
        auto* y = static_cast<CFNumberRef>(b);
        if (x->isFloat || y->isFloat) {
            const double dx = x->isFloat ? x->real : double(x->integer);
            const double dy = y->isFloat ? y->real : double(y->integer);
            return dx == dy;
        }
        return x->integer == y->integer;
    }
    case kDataTypeID:
        return static_cast<CFDataRef>(a)->bytes == static_cast<CFDataRef>(b)->bytes;
    case kURLTypeID:
        return static_cast<CFURLRef>(a)->text == static_cast<CFURLRef>(b)->text;
    default:
        return false;
    }
}

// ---------------------------------------------------------------------------------------------
// Numbers

CFTypeID CFLiteNumber::typeID() const {
    return kNumberTypeID;
}
CFTypeID CFNumberGetTypeID() {
    return kNumberTypeID;
}

CFNumberRef CFNumberCreate(CFAllocatorRef, CFNumberType type, const void* valuePtr) {
    if (!valuePtr) return nullptr;
    auto* n = new CFLiteNumber();
    switch (type) {
    case kCFNumberSInt8Type: {
        int8_t v;
        std::memcpy(&v, valuePtr, sizeof v);
        n->integer = v;
        break;
    }
    case kCFNumberSInt16Type: {
        int16_t v;
        std::memcpy(&v, valuePtr, sizeof v);
        n->integer = v;
        break;
    }
    case kCFNumberSInt32Type: {
        int32_t v;
        std::memcpy(&v, valuePtr, sizeof v);
        n->integer = v;
        break;
    }
    case kCFNumberSInt64Type: {
        int64_t v;
        std::memcpy(&v, valuePtr, sizeof v);
        n->integer = v;
        break;
    }
    case kCFNumberFloat32Type: {
        float v;
        std::memcpy(&v, valuePtr, sizeof v);
        n->isFloat = true;
        n->real = v;
        break;
    }
    case kCFNumberFloat64Type: {
        double v;
        std::memcpy(&v, valuePtr, sizeof v);
        n->isFloat = true;
        n->real = v;
        break;
    }
    default:
        delete n;
        return nullptr;
    }
    return n;
}

namespace {
// A double into an integer type with saturation (NaN gives 0); exact tells whether it fitted.
template <typename I> I doubleToInteger(double v, bool& exact) {
    if (v != v) {
        exact = false;
        return 0;
    }
    if (v <= double(std::numeric_limits<I>::min())) {
        exact = v == double(std::numeric_limits<I>::min());
        return std::numeric_limits<I>::min();
    }
    if (v >= double(std::numeric_limits<I>::max())) {
        exact = v == double(std::numeric_limits<I>::max()) && double(std::numeric_limits<I>::max()) < 9.2e18;
        return std::numeric_limits<I>::max();
    }
    const I i = I(v);
    exact = double(i) == v;
    return i;
}
template <typename I> I integerToInteger(int64_t v, bool& exact) {
    if (v < int64_t(std::numeric_limits<I>::min())) {
        exact = false;
        return std::numeric_limits<I>::min();
    }
    if (v > int64_t(std::numeric_limits<I>::max())) {
        exact = false;
        return std::numeric_limits<I>::max();
    }
    exact = true;
    return I(v);
}
// Whether a double holds exactly the given 64-bit integer.
bool sameInteger(double v, int64_t i) {
    return v >= -9223372036854775808.0 && v < 9223372036854775808.0 && int64_t(v) == i;
}
template <typename I> void storeInteger(CFNumberRef n, void* out, bool& exact) {
    const I v = n->isFloat ? doubleToInteger<I>(n->real, exact) : integerToInteger<I>(n->integer, exact);
    std::memcpy(out, &v, sizeof v);
}
} // namespace

Boolean CFNumberGetValue(CFNumberRef number, CFNumberType type, void* valuePtr) {
    if (!number || !valuePtr) return false;
    bool exact = true;
    switch (type) {
    case kCFNumberSInt8Type:
        storeInteger<int8_t>(number, valuePtr, exact);
        break;
    case kCFNumberSInt16Type:
        storeInteger<int16_t>(number, valuePtr, exact);
        break;
    case kCFNumberSInt32Type:
        storeInteger<int32_t>(number, valuePtr, exact);
        break;
    case kCFNumberSInt64Type:
        storeInteger<int64_t>(number, valuePtr, exact);
        break;
    case kCFNumberFloat32Type: {
        const float v = number->isFloat ? float(number->real) : float(number->integer);
        exact = number->isFloat ? (double(v) == number->real || number->real != number->real)
                                : sameInteger(double(v), number->integer);
        std::memcpy(valuePtr, &v, sizeof v);
        break;
    }
    case kCFNumberFloat64Type: {
        const double v = number->isFloat ? number->real : double(number->integer);
        exact = number->isFloat || sameInteger(v, number->integer);
        std::memcpy(valuePtr, &v, sizeof v);
        break;
    }
    default:
        return false;
    }
    return exact;
}

// ---------------------------------------------------------------------------------------------
// Booleans

CFTypeID CFLiteBoolean::typeID() const {
    return kBooleanTypeID;
}
CFTypeID CFBooleanGetTypeID() {
    return kBooleanTypeID;
}

namespace {
const CFLiteBoolean gTrue(true);
const CFLiteBoolean gFalse(false);
} // namespace

const CFBooleanRef kCFBooleanTrue = &gTrue;
const CFBooleanRef kCFBooleanFalse = &gFalse;

Boolean CFBooleanGetValue(CFBooleanRef boolean) {
    return boolean && boolean->value;
}

// ---------------------------------------------------------------------------------------------
// Data

CFTypeID CFLiteData::typeID() const {
    return kDataTypeID;
}
CFTypeID CFDataGetTypeID() {
    return kDataTypeID;
}

CFDataRef CFDataCreate(CFAllocatorRef, const UInt8* bytes, CFIndex length) {
    if (length < 0 || (!bytes && length > 0)) return nullptr;
    auto* d = new CFLiteData();
    if (length) d->bytes.assign(reinterpret_cast<const char*>(bytes), size_t(length));
    return d;
}

CFIndex CFDataGetLength(CFDataRef data) {
    return data ? CFIndex(data->bytes.size()) : 0;
}

const UInt8* CFDataGetBytePtr(CFDataRef data) {
    return data ? reinterpret_cast<const UInt8*>(data->bytes.data()) : nullptr;
}

// ---------------------------------------------------------------------------------------------
// Dictionaries

const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks = {0};
const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks = {0};

CFLiteDictionary::~CFLiteDictionary() {
    for (auto& [key, value] : entries) {
        CFRelease(key);
        CFRelease(value);
    }
}
CFTypeID CFLiteDictionary::typeID() const {
    return kDictionaryTypeID;
}
CFTypeID CFDictionaryGetTypeID() {
    return kDictionaryTypeID;
}

CFMutableDictionaryRef CFDictionaryCreateMutable(CFAllocatorRef, CFIndex, const CFDictionaryKeyCallBacks*,
                                                 const CFDictionaryValueCallBacks*) {
    return new CFLiteDictionary();
}

CFIndex CFDictionaryGetCount(CFDictionaryRef dict) {
    return dict ? CFIndex(dict->entries.size()) : 0;
}

namespace {
size_t findKey(CFDictionaryRef dict, const void* key) {
    auto k = static_cast<CFTypeRef>(key);
    for (size_t i = 0; i < dict->entries.size(); ++i)
        if (CFEqual(dict->entries[i].first, k)) return i;
    return size_t(-1);
}
} // namespace

const void* CFDictionaryGetValue(CFDictionaryRef dict, const void* key) {
    if (!dict || !key) return nullptr;
    const size_t i = findKey(dict, key);
    return i == size_t(-1) ? nullptr : dict->entries[i].second;
}

Boolean CFDictionaryContainsKey(CFDictionaryRef dict, const void* key) {
    return dict && key && findKey(dict, key) != size_t(-1);
}

void CFDictionarySetValue(CFMutableDictionaryRef dict, const void* key, const void* value) {
    if (!dict || !key || !value) return;
    auto v = static_cast<CFTypeRef>(value);
    CFRetain(v);
    const size_t i = findKey(dict, key);
    if (i != size_t(-1)) {
        CFRelease(dict->entries[i].second);
        dict->entries[i].second = v;
        return;
    }
    auto k = static_cast<CFTypeRef>(key);
    CFRetain(k);
    dict->entries.emplace_back(k, v);
}

void CFDictionaryRemoveValue(CFMutableDictionaryRef dict, const void* key) {
    if (!dict || !key) return;
    const size_t i = findKey(dict, key);
    if (i == size_t(-1)) return;
    CFRelease(dict->entries[i].first);
    CFRelease(dict->entries[i].second);
    dict->entries.erase(dict->entries.begin() + std::ptrdiff_t(i));
}

// ---------------------------------------------------------------------------------------------
// File URLs

CFTypeID CFLiteURL::typeID() const {
    return kURLTypeID;
}
CFTypeID CFURLGetTypeID() {
    return kURLTypeID;
}

namespace {
const char kFileScheme[] = "file://";

std::string percentEncodePath(const std::string& path) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        if (std::isalnum(c) || std::strchr("/-._~!$&'()*+,;=:@", c)) {
            out += char(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}
} // namespace

CFURLRef CFURLCreateWithFileSystemPath(CFAllocatorRef, CFStringRef filePath, CFURLPathStyle pathStyle,
                                       Boolean isDirectory) {
    if (!filePath || filePath->utf8.empty() || pathStyle != kCFURLPOSIXPathStyle) return nullptr;
    std::string path = filePath->utf8;
    if (isDirectory && path.back() != '/') path += '/';
    auto* url = new CFLiteURL();
    url->text = kFileScheme + percentEncodePath(path);
    return url;
}

CFURLRef CFURLCreateCopyDeletingLastPathComponent(CFAllocatorRef, CFURLRef url) {
    if (!url || url->text.compare(0, std::strlen(kFileScheme), kFileScheme) != 0) return nullptr;
    std::string path = url->text.substr(std::strlen(kFileScheme));
    if (path.size() > 1 && path.back() == '/') path.pop_back();
    const size_t slash = path.rfind('/');
    path = slash == std::string::npos ? std::string("/") : path.substr(0, slash + 1);
    auto* parent = new CFLiteURL();
    parent->text = kFileScheme + path;
    return parent;
}

CFStringRef CFURLCopyPath(CFURLRef url) {
    if (!url || url->text.compare(0, std::strlen(kFileScheme), kFileScheme) != 0) return nullptr;
    return new CFLiteString(url->text.substr(std::strlen(kFileScheme)));
}
