#include "PlatformDataRef.h"

#include "PlatformCFURL.h"
#include "PlatformEndian.h"
#include "PlatformMemory.h"

#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

OSErr newHandleWith(const void* bytes, size_t size, Handle* out) {
    if (size > size_t(INT32_MAX)) return memFullErr;
    return PtrToHand(bytes, out, Size(size));
}

OSErr newAlias(const std::string& path, Handle* outDataRef, OSType* outType) {
    if (path.empty()) return paramErr;
    OSErr err = newHandleWith(path.c_str(), path.size() + 1, outDataRef);
    if (err == noErr) *outType = AliasDataHandlerSubType;
    return err;
}

OSErr newURLRef(const std::string& text, Handle* outDataRef, OSType* outType) {
    OSErr err = newHandleWith(text.c_str(), text.size() + 1, outDataRef);
    if (err == noErr) *outType = URLDataHandlerSubType;
    return err;
}

// The text of a reference that holds one zero-terminated text ('alis' and 'url ').
bool refText(Handle dataRef, std::string& out) {
    if (!dataRef || !*dataRef) return false;
    Size n = GetHandleSize(dataRef);
    const void* end = std::memchr(*dataRef, 0, size_t(n));
    if (!end || (*dataRef)[0] == 0) return false;
    out.assign(*dataRef);
    return true;
}

bool startOutputs(Handle* outDataRef, OSType* outType) {
    if (!outDataRef || !outType) return false;
    *outDataRef = nullptr;
    *outType = 0;
    return true;
}

std::string parentPath(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string baseName(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

namespace platform {
std::string aliasPath(Handle dataRef) {
    std::string path;
    return refText(dataRef, path) ? path : std::string();
}
} // namespace platform

OSErr QTNewDataReferenceFromFSSpec(const FSSpec* file, UInt32, Handle* outDataRef, OSType* outType) {
    if (!startOutputs(outDataRef, outType) || !file) return paramErr;
    if (!std::memchr(file->path, 0, sizeof file->path)) return paramErr;
    return newAlias(file->path, outDataRef, outType);
}

OSErr QTNewDataReferenceFromFSRef(const FSRef* file, UInt32, Handle* outDataRef, OSType* outType) {
    if (!startOutputs(outDataRef, outType) || !file) return paramErr;
    if (!std::memchr(file->path, 0, sizeof file->path)) return paramErr;
    return newAlias(file->path, outDataRef, outType);
}

OSErr QTNewDataReferenceFromCFURL(CFURLRef url, UInt32, Handle* outDataRef, OSType* outType) {
    if (!startOutputs(outDataRef, outType) || !url) return paramErr;
    if (platform::isFileURLText(url->text)) {
        CFStringRef path = CFURLCopyFileSystemPath(url, kCFURLPOSIXPathStyle);
        if (!path) return paramErr;
        OSErr err = newAlias(path->utf8, outDataRef, outType);
        CFRelease(path);
        return err;
    }
    return newURLRef(url->text, outDataRef, outType);
}

OSErr QTNewDataReferenceFromFullPathCFString(CFStringRef path, int32_t pathStyle, UInt32, Handle* outDataRef,
                                             OSType* outType) {
    if (!startOutputs(outDataRef, outType) || !path) return paramErr;
    if (pathStyle != kQTNativeDefaultPathStyle && pathStyle != kQTPOSIXPathStyle) return paramErr;
    return newAlias(path->utf8, outDataRef, outType);
}

OSErr QTNewDataReferenceFromFSRefCFString(const FSRef* directory, CFStringRef fileName, UInt32,
                                          Handle* outDataRef, OSType* outType) {
    if (!startOutputs(outDataRef, outType) || !directory || !fileName || fileName->utf8.empty())
        return paramErr;
    if (!std::memchr(directory->path, 0, sizeof directory->path)) return paramErr;
    std::string path = directory->path;
    if (path.empty()) return paramErr;
    if (path.back() != '/') path += '/';
    return newAlias(path + fileName->utf8, outDataRef, outType);
}

OSErr QTNewDataReferenceWithDirectoryCFString(Handle dataRef, OSType dataRefType, CFStringRef fileName,
                                              UInt32, Handle* outDataRef, OSType* outType) {
    if (!startOutputs(outDataRef, outType) || !fileName || fileName->utf8.empty()) return paramErr;
    std::string base;
    if (!refText(dataRef, base)) return paramErr;
    if (base.back() != '/') base += '/';
    if (dataRefType == AliasDataHandlerSubType) return newAlias(base + fileName->utf8, outDataRef, outType);
    if (dataRefType == URLDataHandlerSubType) return newURLRef(base + fileName->utf8, outDataRef, outType);
    return paramErr;
}

OSErr QTGetDataReferenceTargetNameCFString(Handle dataRef, OSType dataRefType, CFStringRef* name) {
    if (!name) return paramErr;
    *name = nullptr;
    std::string text;
    if (!refText(dataRef, text)) return paramErr;
    if (dataRefType == AliasDataHandlerSubType) {
        *name = new CFLiteString(baseName(text));
        return noErr;
    }
    if (dataRefType == URLDataHandlerSubType) {
        CFURLRef url = CFURLCreateWithBytes(nullptr, reinterpret_cast<const UInt8*>(text.data()),
                                            CFIndex(text.size()), kCFStringEncodingUTF8, nullptr);
        if (!url) return coreFoundationUnknownErr;
        *name = CFURLCopyLastPathComponent(url);
        CFRelease(url);
        return noErr;
    }
    return paramErr;
}

OSErr QTGetDataReferenceDirectoryDataReference(Handle dataRef, OSType dataRefType, UInt32, Handle* outDataRef,
                                               OSType* outType) {
    if (!startOutputs(outDataRef, outType)) return paramErr;
    std::string text;
    if (!refText(dataRef, text)) return paramErr;
    if (dataRefType == AliasDataHandlerSubType) return newAlias(parentPath(text), outDataRef, outType);
    if (dataRefType == URLDataHandlerSubType) {
        std::string path = platform::urlPathPart(text);
        size_t at = text.find(path);
        if (path.empty() || at == std::string::npos) return paramErr;
        std::string parent = parentPath(path);
        if (parent != "/") parent += '/';
        return newURLRef(text.substr(0, at) + parent, outDataRef, outType);
    }
    return paramErr;
}

// ---------------------------------------------------------------------------------------------
// Data handlers of memory references

struct OpaqueDataHandler {
    OSType type = 0;
    std::vector<uint8_t> record; // the handle value, or the address and the length
    bool hasName = false;
    std::string name;
    std::vector<std::pair<OSType, std::vector<uint8_t>>> atoms;
};

namespace {

size_t recordSize(OSType type) {
    if (type == HandleDataHandlerSubType) return sizeof(Handle);
    if (type == PointerDataHandlerSubType) return sizeof(void*) + sizeof(int32_t);
    return 0;
}

// Every length inside the reference is checked against the bytes that remain.
bool parseMemoryRef(const uint8_t* p, size_t n, OpaqueDataHandler& h) {
    size_t rec = recordSize(h.type);
    if (rec == 0 || n < rec) return false;
    h.record.assign(p, p + rec);
    size_t at = rec;
    if (at == n) return true;
    size_t len = p[at];
    if (at + 1 + len > n) return false;
    h.hasName = true;
    h.name.assign(reinterpret_cast<const char*>(p + at + 1), len);
    at += 1 + len;
    while (at < n) {
        if (n - at < 8) return false;
        uint32_t size = platform::loadBE32(p + at);
        if (size < 8 || size > n - at) return false;
        OSType type = platform::loadBE32(p + at + 4);
        h.atoms.emplace_back(type, std::vector<uint8_t>(p + at + 8, p + at + size));
        at += size;
    }
    return true;
}

void setAtom(OpaqueDataHandler& h, OSType type, std::vector<uint8_t> data) {
    for (auto& a : h.atoms)
        if (a.first == type) {
            a.second = std::move(data);
            return;
        }
    h.atoms.emplace_back(type, std::move(data));
}

} // namespace

OSErr OpenADataHandler(Handle dataRef, OSType dataHandlerSubType, Handle, OSType, TimeBaseRecord*, int32_t,
                       DataHandler* handler) {
    if (!handler) return paramErr;
    *handler = nullptr;
    if (!dataRef || !*dataRef || recordSize(dataHandlerSubType) == 0) return cantFindHandler;
    auto* h = new OpaqueDataHandler();
    h->type = dataHandlerSubType;
    if (!parseMemoryRef(reinterpret_cast<const uint8_t*>(*dataRef), size_t(GetHandleSize(dataRef)), *h)) {
        delete h;
        return paramErr;
    }
    *handler = h;
    return noErr;
}

ComponentResult DataHSetDataRefExtension(DataHandler handler, Handle extension, OSType idType) {
    if (!handler) return badComponentInstance;
    if (!extension || !*extension) return paramErr;
    const auto* p = reinterpret_cast<const uint8_t*>(*extension);
    size_t n = size_t(GetHandleSize(extension));
    if (idType == kDataRefExtensionFileName) {
        // A length-prefixed name whose length fits the handle.
        if (n < 1 || size_t(p[0]) + 1 > n) return paramErr;
        handler->hasName = true;
        handler->name.assign(reinterpret_cast<const char*>(p + 1), p[0]);
        return noErr;
    }
    if (idType == kDataRefExtensionMacOSFileType && n != 4) return paramErr;
    if (idType == kDataRefExtensionMIMEType && (n < 1 || size_t(p[0]) + 1 > n)) return paramErr;
    setAtom(*handler, idType, std::vector<uint8_t>(p, p + n));
    return noErr;
}

ComponentResult DataHGetDataRefExtension(DataHandler handler, Handle* extension, OSType idType) {
    if (!extension) return paramErr;
    *extension = nullptr;
    if (!handler) return badComponentInstance;
    if (idType == kDataRefExtensionFileName) {
        if (!handler->hasName) return cantFindHandler;
        std::string p(1, char(handler->name.size()));
        p += handler->name;
        return newHandleWith(p.data(), p.size(), extension);
    }
    for (const auto& a : handler->atoms)
        if (a.first == idType) return newHandleWith(a.second.data(), a.second.size(), extension);
    return cantFindHandler;
}

ComponentResult DataHGetDataRef(DataHandler handler, Handle* dataRef) {
    if (!dataRef) return paramErr;
    *dataRef = nullptr;
    if (!handler) return badComponentInstance;
    std::vector<uint8_t> bytes = handler->record;
    // Extension atoms follow a name field, empty when no name was given.
    if (handler->hasName || !handler->atoms.empty()) {
        bytes.push_back(uint8_t(handler->name.size()));
        bytes.insert(bytes.end(), handler->name.begin(), handler->name.end());
    }
    for (const auto& a : handler->atoms) {
        uint8_t head[8];
        platform::storeBE32(head, uint32_t(a.second.size() + 8));
        platform::storeBE32(head + 4, a.first);
        bytes.insert(bytes.end(), head, head + 8);
        bytes.insert(bytes.end(), a.second.begin(), a.second.end());
    }
    return newHandleWith(bytes.data(), bytes.size(), dataRef);
}

OSErr CloseComponent(DataHandler handler) {
    if (!handler) return OSErr(badComponentInstance);
    delete handler;
    return noErr;
}
