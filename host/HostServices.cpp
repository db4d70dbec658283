// The services a plug-in looks up by name through the resolver. Each checks what it is given
// (live objects and strings, known records) and answers a failure with nil, 0 or false.
#include "HostObjects.h"
#include "HostRuntime.h"
#include "PlatformCF.h"
#include "PlatformFiles.h"

#include <sys/stat.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace sylhost {

namespace {

HostRuntime* host() {
    return HostRuntime::active();
}

void svcRegisterPluginVersion(RBInteger version) {
    HostRuntime* h = host();
    if (!h) return;
    if (PluginInfo* p = h->plugin(h->currentPlugin())) p->version = version;
}

void svcDebugStr(const char* message) {
    HostRuntime* h = host();
    if (!h || !message) return;
    if (PluginInfo* p = h->plugin(h->currentPlugin())) p->messages.emplace_back(message);
}

void svcRegisterClass(REALClassRecord* record) {
    if (HostRuntime* h = host()) h->registerClass(record, h->currentPlugin());
}

void svcSetClassConsoleSafe(REALClassRecord* record) {
    if (record) record->flags |= kREALConsoleSafe;
}

RBInteger svcRegisterModule(REALModuleRecord* record) {
    HostRuntime* h = host();
    return h ? h->registerModule(record, h->currentPlugin()) : -50;
}

void* svcGetClassData(REALobject object, REALClassRecord* record) {
    HostObject* o = liveObject(object);
    if (!o || !record) return nullptr;
    ClassInfo* cls = o->host->classOfRecord(record);
    if (!cls || cls->dataSize == 0) return nullptr;
    // The data sits where the class's own chain puts it; an object too small to hold it there
    // has none (a class whose data starts at the root shares the place of every root's data).
    if (cls->dataOffset + cls->dataSize > o->size) return nullptr;
    return o->data + cls->dataOffset;
}

REALclassRef svcGetClassRef(const char* name) {
    HostRuntime* h = host();
    if (!h || !name) return nullptr;
    ClassInfo* cls = h->classNamed(name);
    if (!cls || !h->visible(cls)) return nullptr;
    return reinterpret_cast<REALclassRef>(cls);
}

REALobject svcNewInstance(REALclassRef ref) {
    HostRuntime* h = host();
    if (!h || !ref) return nullptr;
    // Only a class of this host: a pointer that is not one is refused, not followed.
    for (const auto& cls : h->classes())
        if (reinterpret_cast<REALclassRef>(cls.get()) == ref)
            return h->visible(cls.get()) ? h->makeObject(cls.get()) : nullptr;
    return nullptr;
}

void svcUnlockObject(REALobject object) {
    releaseObject(object);
}

REALstring svcBuildString(const char* bytes, RBInteger length, REALstringEncoding encoding) {
    HostRuntime* h = host();
    if (!h || length < 0 || (length > 0 && !bytes)) return nullptr;
    return h->makeString(std::string(bytes ? bytes : "", size_t(length)), encoding);
}

const char* svcCString(REALstring string) {
    HostString* s = liveString(string);
    return s ? s->bytes.c_str() : nullptr;
}

REALstring svcConvertString(REALstring string, REALstringEncoding encoding) {
    HostString* s = liveString(string);
    if (!s) return nullptr;
    std::string converted;
    if (!convertEncoding(s->bytes, s->encoding, encoding, converted)) return nullptr;
    return s->host->makeString(std::move(converted), encoding);
}

const void* svcGetStringContents(REALstring string, size_t* byteCount) {
    HostString* s = liveString(string);
    if (byteCount) *byteCount = s ? s->bytes.size() : 0;
    return s ? s->bytes.data() : nullptr;
}

REALstringEncoding svcGetStringEncoding(REALstring string) {
    HostString* s = liveString(string);
    return s ? s->encoding : kREALTextEncodingUnknown;
}

void svcUnlockString(REALstring string) {
    releaseString(string);
}

bool kindMatches(const TypeSpec& type, RBInteger kind) {
    switch (kind) {
    case kREALPropString:
        return type.kind == TypeKind::String;
    case kREALPropInteger:
        return type.kind == TypeKind::Integer;
    case kREALPropDouble:
        return type.kind == TypeKind::Double;
    case kREALPropBoolean:
        return type.kind == TypeKind::Boolean;
    case kREALPropObject:
        return type.kind == TypeKind::Object;
    default:
        return false;
    }
}

RBBoolean svcGetPropValue(REALobject object, const char* name, RBInteger kind, void* out) {
    HostObject* o = liveObject(object);
    if (!o || !name || !out) return 0;
    const PropertyInfo* prop = o->host->findProperty(o->cls, name);
    if (!prop || !kindMatches(prop->type, kind)) return 0;
    Value value;
    if (!o->host->callGetter(*prop, object, value)) return 0;
    switch (kind) {
    case kREALPropString: {
        REALstring s = value.string();
        retainString(s);
        *static_cast<REALstring*>(out) = s;
        break;
    }
    case kREALPropInteger:
        *static_cast<RBInteger*>(out) = RBInteger(value.asInteger());
        break;
    case kREALPropDouble:
        *static_cast<double*>(out) = value.asReal();
        break;
    case kREALPropBoolean:
        *static_cast<RBBoolean*>(out) = value.asBoolean() ? 1 : 0;
        break;
    case kREALPropObject: {
        REALobject v = value.object();
        retainObject(v);
        *static_cast<REALobject*>(out) = v;
        break;
    }
    }
    return 1;
}

RBBoolean svcSetPropValue(REALobject object, const char* name, RBInteger kind, const void* in) {
    HostObject* o = liveObject(object);
    if (!o || !name || !in) return 0;
    const PropertyInfo* prop = o->host->findProperty(o->cls, name);
    if (!prop || !prop->setter || !kindMatches(prop->type, kind)) return 0;
    Value value;
    switch (kind) {
    case kREALPropString: {
        REALstring s = *static_cast<const REALstring*>(in);
        if (s && !liveString(s)) return 0;
        retainString(s);
        value = Value::adoptString(s);
        break;
    }
    case kREALPropInteger:
        value = Value::integer(*static_cast<const RBInteger*>(in));
        break;
    case kREALPropDouble:
        value = Value::real(*static_cast<const double*>(in));
        break;
    case kREALPropBoolean:
        value = Value::boolean(*static_cast<const RBBoolean*>(in) != 0);
        break;
    case kREALPropObject: {
        REALobject v = *static_cast<const REALobject*>(in);
        if (v && !liveObject(v)) return 0;
        retainObject(v);
        value = Value::adoptObject(v);
        break;
    }
    default:
        return 0;
    }
    return o->host->callSetter(*prop, object, value) ? 1 : 0;
}

REALproc svcLoadObjectMethod(REALobject object, const char* declaration) {
    HostObject* o = liveObject(object);
    if (!o || !declaration) return nullptr;
    auto decl = parseDeclaration(declaration);
    if (!decl) return nullptr;
    for (const ClassInfo* cls = o->cls; cls; cls = cls->super)
        for (const auto& m : cls->methods)
            if (sameSignature(m.decl, *decl) && (!o->host->console() || m.consoleSafe)) return m.function;
    return nullptr;
}

// Built-in functions this host runs without, by their declaration text.
std::vector<std::string>& withheldMethods() {
    static std::vector<std::string> withheld;
    return withheld;
}

bool isWithheld(const Declaration& decl) {
    for (const auto& text : withheldMethods()) {
        auto known = parseDeclaration(text);
        if (known && sameSignature(*known, decl)) return true;
    }
    return false;
}

REALproc svcLoadFrameworkMethod(const char* declaration) {
    if (!declaration) return nullptr;
    auto decl = parseDeclaration(declaration);
    return decl && !isWithheld(*decl) ? frameworkMethod(*decl) : nullptr;
}

REALmemoryBlock svcNewMemoryBlock(RBInteger size) {
    HostRuntime* h = host();
    if (!h || size < 0) return nullptr;
    REALobject block = h->makeObject(h->classNamed("MemoryBlock"));
    if (block && !allocateMemoryBlock(block, size)) {
        releaseObject(block);
        return nullptr;
    }
    return block;
}

void* svcMemoryBlockGetPtr(REALmemoryBlock block) {
    return memoryBlockBytes(block, nullptr);
}

RBInteger svcMemoryBlockGetSize(REALmemoryBlock block) {
    int32_t size = 0;
    return memoryBlockBytes(block, &size) ? size : 0;
}

REALstring svcPathFromFolderItem(REALfolderItem item) {
    HostObject* o = liveObject(item);
    if (!o || !isFolderItem(item)) return nullptr;
    std::string path = folderItemPath(item);
    if (path.empty()) return nullptr;
    return o->host->makeString(path, kREALTextEncodingUTF8);
}

void svcRaiseException(REALobject exception) {
    if (HostRuntime* h = host()) h->raise(exception);
}

RBBoolean svcRegisterEventPump(REALEventPump pump) {
    HostRuntime* h = host();
    if (!h || !pump) return 0;
    h->registerEventPump(pump, h->currentPlugin());
    return h->manualClock() ? 1 : 0;
}

// ---- The Carbon runtime's services ----
// Global methods, integer arrays, strings as platform strings and folder items as file records.

// "LenB( s as string ) as integer": the string's length in bytes.
RBInteger globalLenB(REALstring string) {
    HostString* s = liveString(string);
    return s ? RBInteger(s->bytes.size()) : 0;
}

struct GlobalMethod {
    const char* declaration;
    REALproc function;
};

const GlobalMethod kGlobalMethods[] = {
    {"LenB(s as string) as integer", (REALproc)&globalLenB},
};

// The language's built-in functions: those above and the framework methods.
REALproc svcLoadGlobalMethod(const char* declaration) {
    if (!declaration) return nullptr;
    auto decl = parseDeclaration(declaration);
    if (!decl || isWithheld(*decl)) return nullptr;
    for (const auto& g : kGlobalMethods) {
        auto known = parseDeclaration(g.declaration);
        if (known && sameSignature(*known, *decl)) return g.function;
    }
    return frameworkMethod(*decl);
}

struct HostIntArray {
    std::vector<int32_t> values;
};

// The arrays alive now: a pointer that is not one of them is refused, not followed.
std::map<const HostIntArray*, std::unique_ptr<HostIntArray>>& liveArrays() {
    static std::map<const HostIntArray*, std::unique_ptr<HostIntArray>> arrays;
    return arrays;
}

const HostIntArray* liveArray(REALintArray array) {
    auto found = liveArrays().find(reinterpret_cast<const HostIntArray*>(array));
    return found == liveArrays().end() ? nullptr : found->second.get();
}

RBInteger svcGetArrayUBound(REALintArray array) {
    const HostIntArray* a = liveArray(array);
    return a ? RBInteger(a->values.size()) - 1 : -1;
}

RBInteger svcGetArrayInt(REALintArray array, RBInteger index) {
    const HostIntArray* a = liveArray(array);
    if (!a || index < 0 || size_t(index) >= a->values.size()) return 0;
    return a->values[size_t(index)];
}

// A new platform string of the string's bytes in its own encoding (the caller releases it); none
// for nil, empty or bytes that are not text in that encoding.
CFStringRef svcGetStringCFString(REALstring string) {
    HostString* s = liveString(string);
    if (!s || s->bytes.empty()) return nullptr;
    return CFStringCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<const UInt8*>(s->bytes.data()),
                                   CFIndex(s->bytes.size()), s->encoding, false);
}

// The file record of the item's path, existing or not; false for an item without a path, one too
// long for the record, or one whose folder is not there: a record names a file in a folder.
RBBoolean svcFSSpecFromFolderItem(REALfolderItem item, FSSpec* spec) {
    if (!spec || !isFolderItem(item)) return 0;
    std::string path = folderItemPath(item);
    if (path.empty() || path.size() >= sizeof spec->path) return 0;
    const size_t slash = path.find_last_of('/');
    const std::string folder = slash == 0 ? std::string("/") : path.substr(0, slash);
    struct stat st;
    if (slash == std::string::npos || ::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return 0;
    std::memset(spec->path, 0, sizeof spec->path);
    std::memcpy(spec->path, path.data(), path.size());
    return 1;
}

// A new folder item of the record's path; nil for a record without one.
REALfolderItem svcFolderItemFromFSSpec(const FSSpec* spec) {
    HostRuntime* h = host();
    if (!h || !spec) return nullptr;
    const void* end = std::memchr(spec->path, '\0', sizeof spec->path);
    if (!end || spec->path[0] == '\0') return nullptr;
    REALobject item = h->makeObject(h->classNamed("FolderItem"));
    setFolderItemPath(item, spec->path);
    if (folderItemPath(item).empty()) {
        releaseObject(item);
        return nullptr;
    }
    return item;
}

} // namespace

void withholdMethod(const std::string& declaration, bool withheld) {
    auto& list = withheldMethods();
    std::erase(list, declaration);
    if (withheld) list.push_back(declaration);
}

REALintArray newIntegerArray(const std::vector<int32_t>& values) {
    auto array = std::make_unique<HostIntArray>(HostIntArray{values});
    const HostIntArray* key = array.get();
    liveArrays().emplace(key, std::move(array));
    return reinterpret_cast<REALintArray>(const_cast<HostIntArray*>(key));
}

void releaseIntegerArray(REALintArray array) {
    liveArrays().erase(reinterpret_cast<const HostIntArray*>(array));
}

namespace {

struct Service {
    const char* name;
    void* function;
};

template <class F> void* fn(F f) {
    return reinterpret_cast<void*>(f);
}

const Service kServices[] = {
    {"RegisterPluginVersion", fn(&svcRegisterPluginVersion)},
    {"DebugStr", fn(&svcDebugStr)},
    {"REALRegisterClass", fn(&svcRegisterClass)},
    {"SetClassConsoleSafe", fn(&svcSetClassConsoleSafe)},
    {"REALRegisterModule", fn(&svcRegisterModule)},
    {"REALGetClassData", fn(&svcGetClassData)},
    {"REALGetClassRef", fn(&svcGetClassRef)},
    {"REALnewInstance", fn(&svcNewInstance)},
    {"REALUnlockObject", fn(&svcUnlockObject)},
    {"REALBuildString", fn(&svcBuildString)},
    {"REALCString", fn(&svcCString)},
    {"REALConvertString", fn(&svcConvertString)},
    {"REALGetStringContents", fn(&svcGetStringContents)},
    {"REALGetStringEncoding", fn(&svcGetStringEncoding)},
    {"REALUnlockString", fn(&svcUnlockString)},
    {"REALGetPropValue", fn(&svcGetPropValue)},
    {"REALSetPropValue", fn(&svcSetPropValue)},
    {"REALLoadObjectMethod", fn(&svcLoadObjectMethod)},
    {"REALLoadFrameworkMethod", fn(&svcLoadFrameworkMethod)},
    {"REALNewMemoryBlock", fn(&svcNewMemoryBlock)},
    {"REALMemoryBlockGetPtr", fn(&svcMemoryBlockGetPtr)},
    {"REALMemoryBlockGetSize", fn(&svcMemoryBlockGetSize)},
    {"REALpathFromFolderItem", fn(&svcPathFromFolderItem)},
    {"REALRaiseException", fn(&svcRaiseException)},
    {"REALLoadGlobalMethod", fn(&svcLoadGlobalMethod)},
    {"REALRegisterEventPump", fn(&svcRegisterEventPump)},
    {"REALGetArrayUBound", fn(&svcGetArrayUBound)},
    {"REALGetArrayInt", fn(&svcGetArrayInt)},
    {"REALGetStringCFString", fn(&svcGetStringCFString)},
    {"REALFSSpecFromFolderItem", fn(&svcFSSpecFromFolderItem)},
    {"REALFolderItemFromFSSpec", fn(&svcFolderItemFromFSSpec)},
};

} // namespace

void* HostRuntime::resolve(const char* name) {
    if (!name) return nullptr;
    for (const auto& s : kServices)
        if (std::strcmp(s.name, name) == 0) return s.function;
    return graphicsService(name);
}

} // namespace sylhost
