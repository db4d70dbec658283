// The entry glue compiled into every plug-in: the exported entry, the kept resolver, and one
// small function per host service that looks its entry up by name the first time and keeps it.
// A service the host does not offer answers as a failure (nil, 0, false) instead of crashing.
#include "REALplugin.h"

namespace {

REALresolver gResolver = nullptr;

template <class F> F resolve(const char* name) {
    if (!gResolver) return nullptr;
    return reinterpret_cast<F>(gResolver(name));
}

// The entry of `name`, looked up once (a missing entry is asked again next time: the host may
// offer it later, for example after the plug-in that provides it loaded).
#define HOST_ENTRY(type, name)                                                                               \
    static type entry = nullptr;                                                                             \
    if (!entry) entry = resolve<type>(name)

RBBoolean getProp(REALobject object, const char* name, RBInteger kind, void* out) {
    using F = RBBoolean (*)(REALobject, const char*, RBInteger, void*);
    HOST_ENTRY(F, "REALGetPropValue");
    return entry ? entry(object, name, kind, out) : 0;
}

RBBoolean setProp(REALobject object, const char* name, RBInteger kind, const void* value) {
    using F = RBBoolean (*)(REALobject, const char*, RBInteger, const void*);
    HOST_ENTRY(F, "REALSetPropValue");
    return entry ? entry(object, name, kind, value) : 0;
}

} // namespace

extern "C" __attribute__((visibility("default"))) void REALPluginMain(REALresolver resolver) {
    if (!resolver) return;
    if (gResolver) {
        // Only the first load registers anything; a second one is reported and changes nothing.
        auto debugStr = reinterpret_cast<void (*)(const char*)>(resolver("DebugStr"));
        if (debugStr) debugStr("Plugin loaded twice?");
        return;
    }
    gResolver = resolver;
    auto registerVersion = reinterpret_cast<void (*)(RBInteger)>(resolver("RegisterPluginVersion"));
    if (registerVersion) registerVersion(RBInteger(kREALPluginVersion));
    PluginEntry();
}

void REALRegisterClass(REALClassRecord* record) {
    using F = void (*)(REALClassRecord*);
    HOST_ENTRY(F, "REALRegisterClass");
    if (entry) entry(record);
}

void SetClassConsoleSafe(REALClassRecord* record) {
    using F = void (*)(REALClassRecord*);
    HOST_ENTRY(F, "SetClassConsoleSafe");
    if (entry) entry(record);
}

RBInteger REALRegisterModule(REALModuleRecord* record) {
    using F = RBInteger (*)(REALModuleRecord*);
    HOST_ENTRY(F, "REALRegisterModule");
    return entry ? entry(record) : -1;
}

void* REALGetClassData(REALobject object, REALClassRecord* record) {
    using F = void* (*)(REALobject, REALClassRecord*);
    HOST_ENTRY(F, "REALGetClassData");
    return entry ? entry(object, record) : nullptr;
}

REALclassRef REALGetClassRef(const char* className) {
    using F = REALclassRef (*)(const char*);
    HOST_ENTRY(F, "REALGetClassRef");
    return entry ? entry(className) : nullptr;
}

REALobject REALnewInstance(REALclassRef classRef) {
    using F = REALobject (*)(REALclassRef);
    HOST_ENTRY(F, "REALnewInstance");
    return entry && classRef ? entry(classRef) : nullptr;
}

REALobject REALnewInstance(const char* className) {
    return REALnewInstance(REALGetClassRef(className));
}

void REALUnlockObject(REALobject object) {
    using F = void (*)(REALobject);
    HOST_ENTRY(F, "REALUnlockObject");
    if (entry && object) entry(object);
}

REALstring REALBuildString(const char* bytes, RBInteger length, REALstringEncoding encoding) {
    using F = REALstring (*)(const char*, RBInteger, REALstringEncoding);
    HOST_ENTRY(F, "REALBuildString");
    return entry ? entry(bytes, length, encoding) : nullptr;
}

const char* REALCString(REALstring string) {
    using F = const char* (*)(REALstring);
    HOST_ENTRY(F, "REALCString");
    return entry && string ? entry(string) : nullptr;
}

REALstring REALConvertString(REALstring string, REALstringEncoding encoding) {
    using F = REALstring (*)(REALstring, REALstringEncoding);
    HOST_ENTRY(F, "REALConvertString");
    return entry && string ? entry(string, encoding) : nullptr;
}

const void* REALGetStringContents(REALstring string, size_t* byteCount) {
    using F = const void* (*)(REALstring, size_t*);
    HOST_ENTRY(F, "REALGetStringContents");
    if (!entry || !string) {
        if (byteCount) *byteCount = 0;
        return nullptr;
    }
    return entry(string, byteCount);
}

REALstringEncoding REALGetStringEncoding(REALstring string) {
    using F = REALstringEncoding (*)(REALstring);
    HOST_ENTRY(F, "REALGetStringEncoding");
    return entry && string ? entry(string) : kREALTextEncodingUnknown;
}

void REALUnlockString(REALstring string) {
    using F = void (*)(REALstring);
    HOST_ENTRY(F, "REALUnlockString");
    if (entry && string) entry(string);
}

RBBoolean REALGetPropValue(REALobject object, const char* name, REALstring* value) {
    return getProp(object, name, kREALPropString, value);
}
RBBoolean REALGetPropValue(REALobject object, const char* name, RBInteger* value) {
    return getProp(object, name, kREALPropInteger, value);
}
RBBoolean REALGetPropValue(REALobject object, const char* name, double* value) {
    return getProp(object, name, kREALPropDouble, value);
}
RBBoolean REALGetPropValue(REALobject object, const char* name, RBBoolean* value) {
    return getProp(object, name, kREALPropBoolean, value);
}
RBBoolean REALGetPropValue(REALobject object, const char* name, REALobject* value) {
    return getProp(object, name, kREALPropObject, value);
}
RBBoolean REALSetPropValue(REALobject object, const char* name, REALstring value) {
    return setProp(object, name, kREALPropString, &value);
}
RBBoolean REALSetPropValue(REALobject object, const char* name, RBInteger value) {
    return setProp(object, name, kREALPropInteger, &value);
}
RBBoolean REALSetPropValue(REALobject object, const char* name, double value) {
    return setProp(object, name, kREALPropDouble, &value);
}
RBBoolean REALSetPropValue(REALobject object, const char* name, RBBoolean value) {
    return setProp(object, name, kREALPropBoolean, &value);
}
RBBoolean REALSetPropValue(REALobject object, const char* name, REALobject value) {
    return setProp(object, name, kREALPropObject, &value);
}

REALproc REALLoadObjectMethod(REALobject object, const char* declaration) {
    using F = REALproc (*)(REALobject, const char*);
    HOST_ENTRY(F, "REALLoadObjectMethod");
    return entry && object && declaration ? entry(object, declaration) : nullptr;
}

REALproc REALLoadFrameworkMethod(const char* declaration) {
    using F = REALproc (*)(const char*);
    HOST_ENTRY(F, "REALLoadFrameworkMethod");
    return entry && declaration ? entry(declaration) : nullptr;
}

REALmemoryBlock REALNewMemoryBlock(RBInteger size) {
    using F = REALmemoryBlock (*)(RBInteger);
    HOST_ENTRY(F, "REALNewMemoryBlock");
    return entry ? entry(size) : nullptr;
}

void* REALMemoryBlockGetPtr(REALmemoryBlock block) {
    using F = void* (*)(REALmemoryBlock);
    HOST_ENTRY(F, "REALMemoryBlockGetPtr");
    return entry && block ? entry(block) : nullptr;
}

RBInteger REALMemoryBlockGetSize(REALmemoryBlock block) {
    using F = RBInteger (*)(REALmemoryBlock);
    HOST_ENTRY(F, "REALMemoryBlockGetSize");
    return entry && block ? entry(block) : 0;
}

REALstring REALpathFromFolderItem(REALfolderItem item) {
    using F = REALstring (*)(REALfolderItem);
    HOST_ENTRY(F, "REALpathFromFolderItem");
    return entry && item ? entry(item) : nullptr;
}

void REALRaiseException(REALobject exception) {
    using F = void (*)(REALobject);
    HOST_ENTRY(F, "REALRaiseException");
    if (entry && exception) entry(exception);
}

RBBoolean REALRegisterEventPump(REALEventPump pump) {
    using F = RBBoolean (*)(REALEventPump);
    HOST_ENTRY(F, "REALRegisterEventPump");
    return entry && pump ? entry(pump) : 0;
}

REALproc REALLoadGlobalMethod(const char* declaration) {
    using F = REALproc (*)(const char*);
    HOST_ENTRY(F, "REALLoadGlobalMethod");
    return entry && declaration ? entry(declaration) : nullptr;
}

RBInteger REALGetArrayUBound(REALintArray array) {
    using F = RBInteger (*)(REALintArray);
    HOST_ENTRY(F, "REALGetArrayUBound");
    return entry && array ? entry(array) : -1;
}

RBInteger REALGetArrayInt(REALintArray array, RBInteger index) {
    using F = RBInteger (*)(REALintArray, RBInteger);
    HOST_ENTRY(F, "REALGetArrayInt");
    return entry && array ? entry(array, index) : 0;
}

const CFLiteString* REALGetStringCFString(REALstring string) {
    using F = const CFLiteString* (*)(REALstring);
    HOST_ENTRY(F, "REALGetStringCFString");
    return entry && string ? entry(string) : nullptr;
}

RBBoolean REALFSSpecFromFolderItem(REALfolderItem item, FSSpec* spec) {
    using F = RBBoolean (*)(REALfolderItem, FSSpec*);
    HOST_ENTRY(F, "REALFSSpecFromFolderItem");
    return entry && item && spec ? entry(item, spec) : 0;
}

REALfolderItem REALFolderItemFromFSSpec(const FSSpec* spec) {
    using F = REALfolderItem (*)(const FSSpec*);
    HOST_ENTRY(F, "REALFolderItemFromFSSpec");
    return entry && spec ? entry(spec) : nullptr;
}

void* REALHandlePointer(RBInteger handle) {
    using F = void* (*)(RBInteger);
    HOST_ENTRY(F, "REALHandlePointer");
    return entry ? entry(handle) : nullptr;
}

RBBoolean REALSetHandlePointer(RBInteger handle, void* pointer) {
    using F = RBBoolean (*)(RBInteger, void*);
    HOST_ENTRY(F, "REALSetHandlePointer");
    return entry ? entry(handle, pointer) : 0;
}

RBBoolean REALGetPictureDescription(REALobject picture, REALPictureDescription* description) {
    using F = RBBoolean (*)(REALobject, REALPictureDescription*);
    HOST_ENTRY(F, "REALGetPictureDescription");
    return entry && picture && description ? entry(picture, description) : 0;
}

REALobject REALBuildPictureFromPictureDescription(const REALPictureDescription* description) {
    using F = REALobject (*)(const REALPictureDescription*);
    HOST_ENTRY(F, "REALBuildPictureFromPictureDescription");
    return entry && description ? entry(description) : nullptr;
}

void REALSetMovieMovie(REALobject movie, void* platformMovie) {
    using F = void (*)(REALobject, void*);
    HOST_ENTRY(F, "REALSetMovieMovie");
    if (entry && movie) entry(movie, platformMovie);
}
