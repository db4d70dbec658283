#include "RBPluginUtils.h"

#include "KelvoCoreObjectsTypes.h"
#include "PlatformCFURL.h"
#include "PlatformFiles.h"
#include "PlatformMemory.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

namespace {

constexpr int32_t kNoConversion = -5224;
constexpr int32_t kUnreadableString = -109;
constexpr CFIndex kPathBufferSize = 2048;
constexpr CFIndex kXPathBufferSize = 1024;

REALstring utf8String(const char* text) {
    return REALBuildString(text, RBInteger(std::strlen(text)), kREALTextEncodingUTF8);
}

// A copy of a platform string as a new C string in UTF-8 of at most `capacity` bytes with its NUL.
char* copyCString(CFStringRef text, CFIndex capacity) {
    if (!text) return nullptr;
    char* buffer = new (std::nothrow) char[size_t(capacity)];
    if (!buffer) return nullptr;
    if (!CFStringGetCString(text, buffer, capacity, kCFStringEncodingUTF8)) {
        delete[] buffer;
        return nullptr;
    }
    return buffer;
}

// The path of a folder item as a new C string, through its URL.
char* folderItemPathText(REALfolderItem item) {
    CFURLRef url = CreateCFUrlWithFolderitem(item);
    if (!url) return nullptr;
    CFStringRef path = CFURLCopyFileSystemPath(url, kCFURLPOSIXPathStyle);
    CFRelease(url);
    char* text = copyCString(path, kPathBufferSize);
    if (path) CFRelease(path);
    if (text && !*text) {
        delete[] text;
        return nullptr;
    }
    return text;
}

RBBridgeRoutes& routes() {
    static RBBridgeRoutes installed{};
    return installed;
}

} // namespace

void RBInstallBridgeRoutes(const RBBridgeRoutes& r) {
    routes() = r;
}

REALstring charToRealString(unsigned char c) {
    if (routes().charToString) return routes().charToString(c);
    using Chr = REALstring (*)(RBInteger);
    auto chr = reinterpret_cast<Chr>(REALLoadFrameworkMethod("Chr(char as integer) as string"));
    if (!chr) return REALBuildString("", 0, kREALTextEncodingUTF8);
    return chr(RBInteger(c));
}

int32_t RealStringToCString(REALstring s, char*& out) {
    if (routes().stringToCString) return routes().stringToCString(s, out);
    out = nullptr;
    if (!s) return 0;
    REALstring converted = REALConvertString(s, kREALTextEncodingUTF8);
    if (!converted) return kNoConversion;
    size_t size = 0;
    const void* bytes = REALGetStringContents(converted, &size);
    if (!bytes || size == 0) {
        REALUnlockString(converted);
        return kUnreadableString;
    }
    out = new (std::nothrow) char[size + 1];
    if (out) {
        std::memcpy(out, bytes, size);
        out[size] = 0;
    }
    REALUnlockString(converted);
    return out ? 0 : kUnreadableString;
}

CFStringRef StringToCFString(REALstring s) {
    if (routes().stringToCFString) return routes().stringToCFString(s);
    if (!s) return nullptr;
    size_t size = 0;
    const void* bytes = REALGetStringContents(s, &size);
    if (!bytes || size == 0) return nullptr;
    return CFStringCreateWithBytes(kCFAllocatorDefault, static_cast<const UInt8*>(bytes), CFIndex(size),
                                   REALGetStringEncoding(s), false);
}

REALstring FenraOSTypeToRBString(OSType code) {
    Kelvo_OSType type(code);
    const char* text = type.stringValue();
    return utf8String(text ? text : "");
}

REALmemoryBlock HandleToMemoryBlock(Handle& handle, bool dispose) {
    if (!handle) return nullptr;
    Size size = GetHandleSize(handle);
    REALmemoryBlock block = REALNewMemoryBlock(size);
    void* bytes = block ? REALMemoryBlockGetPtr(block) : nullptr;
    if (bytes && size > 0) {
        HLock(handle);
        std::memcpy(bytes, *handle, size_t(size));
        HUnlock(handle);
    }
    if (dispose) {
        DisposeHandle(handle);
        handle = nullptr;
    }
    return block;
}

int32_t RGBColorToLong(const RGBColor& rgb) {
    return int32_t((uint32_t(rgb.red / 257) << 16) | (uint32_t(rgb.green / 257) << 8) |
                   uint32_t(rgb.blue / 257));
}

RGBColor LongToRGBColor(int32_t value) {
    uint32_t v = uint32_t(value);
    return RGBColor{uint16_t(((v >> 16) & 0xFF) * 257), uint16_t(((v >> 8) & 0xFF) * 257),
                    uint16_t((v & 0xFF) * 257)};
}

CFURLRef CreateCFUrlWithFolderitem(REALfolderItem item) {
    if (!item) return nullptr;
    REALstring urlText = nullptr;
    if (!REALGetPropValue(item, "UrlPath", &urlText) || !urlText) return nullptr;
    CFStringRef text = StringToCFString(urlText);
    REALUnlockString(urlText);
    if (!text) return nullptr;
    CFURLRef url = CFURLCreateWithString(kCFAllocatorDefault, text, nullptr);
    CFRelease(text);
    return url;
}

KelvoDataT<char>* FolderitemPath(REALfolderItem item) {
    char* text = folderItemPathText(item);
    if (!text) return nullptr;
    auto* path = new (std::nothrow) KelvoDataT<char>(text, uint32_t(std::strlen(text) + 1), uint8_t(0));
    delete[] text;
    if (path && !path->qtObjIsValid()) {
        delete path;
        path = nullptr;
    }
    return path;
}

bool FolderitemPath(REALfolderItem item, char*& out) {
    out = folderItemPathText(item);
    return out != nullptr;
}

bool FolderitemToFSRef(REALfolderItem item, FSRef* ref) {
    if (routes().withoutFileReferences) return false;
    if (!ref) return false;
    char* text = folderItemPathText(item);
    if (!text) return false;
    OSStatus status = FSPathMakeRef(reinterpret_cast<const UInt8*>(text), ref, nullptr);
    delete[] text;
    return status == noErr;
}

bool FolderitemToFSSpec(REALfolderItem item, FSSpec* spec) {
    if (routes().folderItemToFSSpec) return routes().folderItemToFSSpec(item, spec);
    if (!item || !spec) return false;
    RBBoolean exists = 0;
    if (REALGetPropValue(item, "Exists", &exists) && exists) {
        FSRef ref;
        if (!FolderitemToFSRef(item, &ref)) return false;
        return FSGetCatalogInfo(&ref, 0, nullptr, nullptr, spec, nullptr) == noErr;
    }
    // A file not made yet: its name in its parent folder, or in the root folder without a parent.
    REALstring name = nullptr;
    if (!REALGetPropValue(item, "name", &name) || !name) return false;
    char* nameText = nullptr;
    int32_t status = RealStringToCString(name, nameText);
    REALUnlockString(name);
    if (status != 0 || !nameText) return false;
    std::string folder = "/";
    REALobject parent = nullptr;
    if (REALGetPropValue(item, "parent", &parent) && parent) {
        FSRef parentRef;
        bool ok = FolderitemToFSRef(parent, &parentRef);
        REALUnlockObject(parent);
        if (!ok) {
            delete[] nameText;
            return false;
        }
        folder = parentRef.path;
    }
    std::string path = folder == "/" ? "/" + std::string(nameText) : folder + "/" + nameText;
    delete[] nameText;
    OSErr err = FSPathMakeFSSpec(path.c_str(), spec);
    return err == noErr || err == fnfErr;
}

REALfolderItem FSSpecToFolderitem(const FSSpec* spec) {
    if (routes().fsSpecToFolderItem) return routes().fsSpecToFolderItem(spec);
    if (!spec) return nullptr;
    FSRef ref;
    if (FSPathMakeRef(reinterpret_cast<const UInt8*>(spec->path), &ref, nullptr) != noErr) return nullptr;
    CFStringRef path = CFStringCreateWithCString(kCFAllocatorDefault, ref.path, kCFStringEncodingUTF8);
    if (!path) return nullptr;
    CFURLRef url = CFURLCreateWithFileSystemPath(kCFAllocatorDefault, path, kCFURLPOSIXPathStyle, false);
    CFRelease(path);
    if (!url) return nullptr;
    CFStringRef urlText = CFURLCopyString(url);
    CFRelease(url);
    char* text = copyCString(urlText, kPathBufferSize * 3);
    if (urlText) CFRelease(urlText);
    if (!text) return nullptr;
    using GetFolderItem = REALfolderItem (*)(REALstring, RBInteger);
    auto getFolderItem = reinterpret_cast<GetFolderItem>(
        REALLoadFrameworkMethod("GetFolderItem(path as string,pathMode as integer=0) as folderitem"));
    REALfolderItem item = nullptr;
    if (getFolderItem) {
        REALstring urlString = utf8String(text);
        if (urlString) {
            item = getFolderItem(urlString, 2);
            REALUnlockString(urlString);
        }
    }
    delete[] text;
    return item;
}

REALfolderItem systemPathToFolderitem(const char* path) {
    if (!path || !*path) return nullptr;
    static REALclassRef folderItemClass = nullptr;
    if (!folderItemClass) folderItemClass = REALGetClassRef("Folderitem");
    if (!folderItemClass) return nullptr;
    REALfolderItem item = REALnewInstance(folderItemClass);
    if (!item) return nullptr;
    using Constructor = void (*)(REALobject, REALstring, RBInteger);
    auto constructor = reinterpret_cast<Constructor>(
        REALLoadObjectMethod(item, "Constructor(path as String,PathType as Integer)"));
    REALstring text = constructor ? utf8String(path) : nullptr;
    if (!text) {
        REALUnlockObject(item);
        return nullptr;
    }
    constructor(item, text, 1);
    REALUnlockString(text);
    return item;
}

int32_t RBUtils_FolderitemToXPath(REALfolderItem item, char*& out) {
    out = nullptr;
    if (!item) return -50;
    REALstring hostPath = REALpathFromFolderItem(item);
    if (!hostPath) return 50;
    CFStringRef text = StringToCFString(hostPath);
    REALUnlockString(hostPath);
    if (!text) return 107;
    CFURLRef url = CFURLCreateWithFileSystemPath(kCFAllocatorDefault, text, kCFURLPOSIXPathStyle, false);
    CFRelease(text);
    if (!url) return 108;
    char* buffer = new (std::nothrow) char[kXPathBufferSize];
    if (!buffer) {
        CFRelease(url);
        return -108;
    }
    CFStringRef path = CFURLCopyFileSystemPath(url, kCFURLPOSIXPathStyle);
    CFRelease(url);
    bool ok = path && CFStringGetCString(path, buffer, kXPathBufferSize, kCFStringEncodingUTF8);
    if (path) CFRelease(path);
    if (!ok) {
        delete[] buffer;
        return 100;
    }
    out = buffer;
    return 0;
}

REALstring RBUtils_FolderitemGetPath(REALfolderItem item) {
    REALstring path = nullptr;
    if (!item || !REALGetPropValue(item, "ShellPath", &path)) return nullptr;
    return path;
}

bool RBUtils_FolderitemGetPath(REALfolderItem item, char*& out) {
    out = nullptr;
    REALstring path = RBUtils_FolderitemGetPath(item);
    if (!path) return false;
    int32_t status = RealStringToCString(path, out);
    REALUnlockString(path);
    return status == 0 && out;
}

Kelvo_DataReference* FenraFolderitemToDataReference(REALfolderItem item) {
    if (routes().folderItemToDataReference) return routes().folderItemToDataReference(item);
    CFURLRef url = CreateCFUrlWithFolderitem(item);
    if (!url) return nullptr;
    auto* reference = new (std::nothrow) Kelvo_DataReference(static_cast<CFTypeRef>(url));
    CFRelease(url);
    if (reference && !reference->qtObjIsValid()) {
        delete reference;
        reference = nullptr;
    }
    return reference;
}

namespace {
void raiseNew(const char* className) {
    REALobject exception = REALnewInstance(className);
    if (!exception) return;
    REALRaiseException(exception);
    REALUnlockObject(exception);
}
} // namespace

void RaiseNILPtrException() {
    raiseNew("NILObjectException");
}

void RaiseOutOfBoundsException() {
    raiseNew("OutOfboundsException");
}

void RBUtils_DbgWriteResultToFile(const char* path, const char* text) {
    if (!path || !text) return;
    // A debug writer reports nothing; the file is written whole or not at all all the same.
    (void)PlatformWriteWholeFile(path, text, std::strlen(text) + 1);
}
