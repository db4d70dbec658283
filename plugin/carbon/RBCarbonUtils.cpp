#include "RBCarbonUtils.h"

#include "PlatformCFURL.h"

#include <cstring>
#include <limits>
#include <new>

namespace {

constexpr int32_t kBadArgument = -50;
constexpr int32_t kNoConversion = -5224;
constexpr int32_t kUnreadableString = -109;

bool fitsInt16(int64_t value) {
    return value >= std::numeric_limits<int16_t>::min() && value <= std::numeric_limits<int16_t>::max();
}

const bool kInstalled = [] {
    RBInstallBridgeRoutes(tarnwick::bridgeRoutes());
    return true;
}();

// A data reference made by `init`, or none when it is not valid.
template <class Init> Kelvo_DataReference* validReference(Init init) {
    auto* reference = new (std::nothrow) Kelvo_DataReference();
    if (!reference) return nullptr;
    init(*reference);
    if (!reference->qtObjIsValid()) {
        delete reference;
        return nullptr;
    }
    return reference;
}

} // namespace

unsigned char* RBFolderitemToCrossPlatformPath(REALfolderItem item, unsigned char& ok) {
    if (!item) return nullptr;
    ok = false;
    char* path = nullptr;
    if (RBUtils_FolderitemToXPath(item, path) != 0 || !path) return nullptr;
    // Handed out as unsigned bytes, so made as such: the caller's delete[] then matches.
    const size_t length = std::strlen(path);
    auto* text = new (std::nothrow) unsigned char[length + 1];
    if (text) std::memcpy(text, path, length + 1);
    delete[] path;
    ok = text != nullptr;
    return text;
}

int32_t RBUtils_StringLength(REALstring s) {
    if (!s) return 0;
    using LenB = RBInteger (*)(REALstring);
    // Looked up once; a host that lacks it is asked again next time.
    static LenB lenB = nullptr;
    if (!lenB) lenB = reinterpret_cast<LenB>(REALLoadGlobalMethod("LenB( s as string ) as integer"));
    return lenB ? lenB(s) : 0;
}

int32_t RBUtils_IntArrayToRect(REALintArray values, Rect* rect, unsigned char sizes) {
    if (!rect) return kBadArgument;
    *rect = Rect{};
    if (!values || REALGetArrayUBound(values) != 3) return kBadArgument;
    const int64_t left = REALGetArrayInt(values, 0);
    const int64_t top = REALGetArrayInt(values, 1);
    const int64_t third = REALGetArrayInt(values, 2);
    const int64_t fourth = REALGetArrayInt(values, 3);
    const int64_t right = sizes ? left + third : third;
    const int64_t bottom = sizes ? top + fourth : fourth;
    // An edge that a rectangle cannot hold is refused rather than wrapped into another place.
    if (!fitsInt16(left) || !fitsInt16(top) || !fitsInt16(right) || !fitsInt16(bottom)) return kBadArgument;
    rect->top = int16_t(top);
    rect->left = int16_t(left);
    rect->bottom = int16_t(bottom);
    rect->right = int16_t(right);
    return 0;
}

namespace tarnwick {

REALstring charToRealString(unsigned char c) {
    using Chr = REALstring (*)(RBInteger);
    // Asked every time, as the shared conversion asks for the framework's.
    auto chr = reinterpret_cast<Chr>(REALLoadGlobalMethod("Chr(char as integer) as string"));
    if (!chr) return REALBuildString("", 0, kREALTextEncodingUTF8);
    return chr(RBInteger(c));
}

int32_t RealStringToCString(REALstring s, char*& out) {
    out = nullptr;
    if (!s) return 0;
    REALstring converted = REALConvertString(s, kREALTextEncodingUTF8);
    if (!converted) return kNoConversion;
    // The converted string's C text, as long as strlen finds it.
    const char* text = REALCString(converted);
    const size_t length = text ? std::strlen(text) : 0;
    int32_t status = kUnreadableString;
    if (length > 0) {
        out = new (std::nothrow) char[length + 1];
        if (out) {
            std::memcpy(out, text, length + 1);
            status = 0;
        }
    }
    REALUnlockString(converted);
    return status;
}

CFStringRef StringToCFString(REALstring s) {
    return s ? REALGetStringCFString(s) : nullptr;
}

bool FolderitemToFSSpec(REALfolderItem item, FSSpec* spec) {
    if (!item || !spec) return false;
    return REALFSSpecFromFolderItem(item, spec) != 0;
}

REALfolderItem FSSpecToFolderitem(const FSSpec* spec) {
    return spec ? REALFolderItemFromFSSpec(spec) : nullptr;
}

Kelvo_DataReference* FenraFolderitemToDataReference(REALfolderItem item) {
    if (!item) return nullptr;
    RBBoolean exists = 0;
    if (REALGetPropValue(item, "Exists", &exists) && exists) {
        FSSpec spec;
        if (!tarnwick::FolderitemToFSSpec(item, &spec)) return nullptr;
        return validReference([&](Kelvo_DataReference& r) { r.initWithFile(&spec); });
    }
    // A file not made yet: the file URL of its shell path.
    REALstring shellPath = RBUtils_FolderitemGetPath(item);
    if (!shellPath) return nullptr;
    CFStringRef path = tarnwick::StringToCFString(shellPath);
    REALUnlockString(shellPath);
    if (!path) return nullptr;
    CFURLRef url = CFURLCreateWithFileSystemPath(kCFAllocatorDefault, path, kCFURLPOSIXPathStyle, false);
    CFRelease(path);
    if (!url) return nullptr;
    Kelvo_DataReference* reference =
        validReference([&](Kelvo_DataReference& r) { r.initWithCFSource(static_cast<CFTypeRef>(url)); });
    CFRelease(url);
    return reference;
}

const RBBridgeRoutes& bridgeRoutes() {
    static const RBBridgeRoutes routes{&charToRealString,   &RealStringToCString, &StringToCFString,
                                       &FolderitemToFSSpec, &FSSpecToFolderitem,  &FenraFolderitemToDataReference,
                                       true};
    // Installed when the build loads; asked here so that the installation is part of every build
    // that uses these conversions.
    (void)kInstalled;
    return routes;
}

} // namespace tarnwick
