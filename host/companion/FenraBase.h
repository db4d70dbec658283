// What the companion's source files share: the instance record of every host object, wrapping a
// toolkit object into a host object, and the tables of members that each file adds to the root
// classes before they are registered.
//
// Toolkit objects held by host objects may come from another plug-in, which links its own copy
// of the toolkit and platform: the companion reaches them only through their virtual operations
// and tells their classes apart by name (isA), so that their code, timers and platform objects
// stay those of the plug-in that made them.
#pragma once

#include "KelvoCoreObjects.h"
#include "REALplugin.h"

#include <cstdint>
#include <string>
#include <vector>

struct FenraBaseInstance {
    Kelvo_QTObj* object;
    uint8_t byRef;
};
static_assert(sizeof(FenraBaseInstance) == 2 * sizeof(void*));

// The instance record of a host object (null for nil).
FenraBaseInstance* FenraRecordOf(REALobject object);
// The toolkit object of a host object when it is of `toolkitClass` (by name), else null.
Kelvo_QTObj* FenraObjectOf(REALobject object, const char* toolkitClass = nullptr);
// The toolkit object of a host object as `T`, when it is of `toolkitClass`. Every toolkit class
// has Kelvo_QTObj as its first base, so the pointer stays where it is.
template <class T> T* FenraObjectAs(REALobject object, const char* toolkitClass) {
    return static_cast<T*>(FenraObjectOf(object, toolkitClass));
}
// Puts `object` (now owned by the host object, or by reference) into `self`, deleting what an
// owned record held before.
void FenraSetObject(REALobject self, Kelvo_QTObj* object, uint8_t byRef = 0);
// A new host object of `hostClass` owning `object`; the object is deleted and nil comes back
// when the host refuses the instance. Null objects give nil.
REALobject FenraWrapNew(Kelvo_QTObj* object, const char* hostClass);

// The path of a folder item, empty when it has none.
std::string FenraFolderItemPath(REALobject item);

// Members of one root class, kept alive for the host (it reads the records when they register).
struct FenraMembers {
    std::vector<REALPropertyRecord> properties;
    std::vector<REALMethodRecord> methods;
    std::vector<REALConstantRecord> constants;
    FenraMembers& property(const char* name, const char* type, REALproc getter, REALproc setter = nullptr);
    FenraMembers& method(const char* declaration, REALproc function, REALproc setter = nullptr);
    FenraMembers& constant(const char* declaration);
};

template <class F> REALproc FenraProc(F f) {
    return reinterpret_cast<REALproc>(f);
}

// Each source file fills the members of its classes by class name; the root class file attaches
// them to the records.
void FenraPresentationMembers(const char* className, FenraMembers& members);
void FenraImageMembers(const char* className, FenraMembers& members);
void FenraValueMembers(const char* className, FenraMembers& members);
void FenraMovieMembers(const char* className, FenraMembers& members);
void FenraProgressMembers(const char* className, FenraMembers& members);
