// Host objects and the toolkit objects they stand for. Every host object of the plug-in holds one
// toolkit object in its instance record, reached through the stub class's data whatever the
// object's own class: the companion's root class lays the record out at the same place and frees
// the toolkit object when the host object goes, unless the host object only refers to it.
//
// Nothing here raises anything in the host: failures give nil, false or nothing.
#pragma once

#include "KelvoCoreObjects.h"
#include "RBQTCommon.h"

#include <cstdint>

struct FenraInstanceRecord {
    // The toolkit object, null when the host object is empty.
    Kelvo_QTObj* object;
    // 1: the host object only refers to an object that another object owns.
    uint8_t byRef;
};
static_assert(sizeof(FenraInstanceRecord) == 2 * sizeof(void*));

struct FenraClassPair {
    const char* toolkitName;
    const char* hostName;
};

// Toolkit class names and the host classes their objects wrap into, ended by a pair of nulls.
extern const FenraClassPair FenraClassesTable[];

// The instance record of a host object (null for nil or an object without one).
FenraInstanceRecord* FenraInstanceRecordOf(REALobject object);
// The host class for a toolkit class name: names compare from their sixth character on, past the
// toolkit's five-letter prefix; the first row that matches wins. Null when none does.
const char* FenraHostClassNameFor(const char* toolkitName);

// The toolkit object of a host object, or null.
Kelvo_QTObj* FenraKelvoObjectInstance(REALobject object);
// A new host object of the class paired with the object's class, holding {object, byRef}; nil
// for a null object, a class without a row, or an instance the host refuses. The object is left
// to the caller when nil comes back.
REALobject FenraNewClassInstance(Kelvo_QTObj* object, uint8_t byRef);
// Wraps a new object the caller made and hands over (byRef 0); deletes it when it cannot be
// wrapped, so that nothing is left behind.
REALobject FenraWrapNewObject(Kelvo_QTObj* object);
bool FenraObjectIsValid(REALobject object);

// Generic members listed by many host classes.
// "Constructor(other)": self gets a deep copy of other's object.
void FenraNewClonedObject(REALobject self, REALobject other);
// "value(key as integer) as FenraObject": a new copy of the stored object.
REALobject FenraDictionaryGetValue(REALobject self, RBInteger key);
// "valueByRef(key as integer) as FenraObject": the stored object itself, by reference.
REALobject FenraDictionaryGetValueByRef(REALobject self, RBInteger key);
// The setter `value(key) = obj`.
void FenraDictionarySetValue(REALobject self, RBInteger key, REALobject object);
