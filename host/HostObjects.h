// The host's own view of the opaque objects and strings it hands to plug-ins. Every pointer that
// comes back from a plug-in is checked against the set of live ones before it is used, so a stale
// or foreign pointer is refused instead of followed.
#pragma once

#include "HostRuntime.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct _ffi_type;

namespace sylhost {

// The foreign-function type of a value of this type, as calls pass it (a byref one as a pointer).
_ffi_type* ffiType(const TypeSpec& t);

struct HostObject {
    HostRuntime* host = nullptr;
    ClassInfo* cls = nullptr;
    int32_t refs = 1;
    bool dying = false;
    // Instance data: the data of each class of the chain, root first, zero-filled at creation.
    std::byte* data = nullptr;
    size_t size = 0;
};

struct HostString {
    HostRuntime* host = nullptr;
    int32_t refs = 1;
    // The bytes and a terminating NUL that is not part of them.
    std::string bytes;
    REALstringEncoding encoding = kREALTextEncodingUTF8;
};

// Null when the pointer is not a live object or string.
HostObject* liveObject(REALobject object);
HostString* liveString(REALstring string);
void registerLive(HostObject* object);
void registerLive(HostString* string);
void unregisterLive(HostObject* object);
void unregisterLive(HostString* string);

void retainObject(REALobject object);
void releaseObject(REALobject object);
void retainString(REALstring string);
void releaseString(REALstring string);

inline REALobject toReal(HostObject* object) {
    return reinterpret_cast<REALobject>(object);
}
inline REALstring toReal(HostString* string) {
    return reinterpret_cast<REALstring>(string);
}

// The text of a string converted to another encoding; false when a character has no form there.
bool convertEncoding(const std::string& bytes, REALstringEncoding from, REALstringEncoding to,
                     std::string& out);

// Built-in classes and framework methods (HostBuiltins.cpp).
void registerBuiltinClasses(HostRuntime& host);
REALproc frameworkMethod(const Declaration& decl);
// The path of a FolderItem (empty when it has none or is not a FolderItem).
std::string folderItemPath(REALobject item);
void setFolderItemPath(REALobject item, const std::string& path);
bool isFolderItem(REALobject item);
// The bytes of a MemoryBlock (null when not one).
std::byte* memoryBlockBytes(REALobject block, int32_t* size);
bool allocateMemoryBlock(REALobject block, int32_t size);

// Pictures, graphics, windows, movies and movie players, and their services (HostGraphics.cpp):
// the service of that name, or null.
void registerGraphicsClasses(HostRuntime& host);
void* graphicsService(const char* name);
// How pictures describe themselves: 8 (bitmap contexts, the default) or 4 (QuickDraw drawings, as
// the host's Carbon runtime does); other values change nothing.
void setPictureDescriptionType(RBInteger type);

// A host that runs without one of its built-in functions: while withheld, the global and
// framework method of that declaration are not found (as in an older runtime).
void withholdMethod(const std::string& declaration, bool withheld);

// Integer arrays of the Carbon runtime (HostServices.cpp): a new array of the values, and its
// release by whoever made it.
REALintArray newIntegerArray(const std::vector<int32_t>& values);
void releaseIntegerArray(REALintArray array);

} // namespace sylhost
