// Atom containers: trees of typed, numbered atoms where only leaves carry data.
//
// Semantics every caller relies on:
// - An atom reference is a non-zero int32 that stays valid while other atoms are edited and is
//   never reused within a container; 0 names the root. A removed atom's reference is refused with
//   invalidAtomErr. A whole-container copy (QTCopyAtom of atom 0) keeps every reference.
// - Children have a non-zero type and a positive id, unique per (type, id) under one parent.
//   Inserting with id 0 picks an unused id; an existing (type, id) is refused with
//   duplicateAtomTypeAndIDErr. Indexes are 1-based and counted per type (type 0 counts every type).
// - Insertion index 1..k places the new atom just before the index-th child of that type; 0 or
//   k+1 appends it after the last child of any type. QTInsertChildBeforeAtom orders atoms of
//   mixed types.
// - An atom holds either data or children: data on a parent is refused with notLeafAtomErr, and
//   so is a child under an atom that holds data.
// - Data are bytes as given; nothing is swapped.
// - The flat form is the public layout: a 12-byte header (10 zero bytes and a 16-bit lock count),
//   the root atom 'sean' with id 1, then atoms with 20-byte big-endian headers (size, type, id,
//   2 reserved bytes, 16-bit child count, 4 reserved bytes). Unflattening validates every size,
//   count and nesting depth, and refuses what does not add up.
// Every call sets the value GetMoviesError() answers.
#pragma once

#include "PlatformMemory.h"
#include "PlatformTypes.h"

struct OpaqueQTAtomContainer;
using QTAtomContainer = OpaqueQTAtomContainer*;
using QTAtom = int32_t;
using QTAtomType = uint32_t;
using QTAtomID = int32_t;

constexpr QTAtom kParentAtomIsContainer = 0;
constexpr int kQTAtomHeaderSize = 20;
constexpr int kQTAtomContainerHeaderSize = 12;
constexpr int kQTAtomMaxDepth = 256;
constexpr QTAtomType kQTAtomRootType = FOUR_CHAR_CODE("sean");

OSErr QTNewAtomContainer(QTAtomContainer* container);
OSErr QTDisposeAtomContainer(QTAtomContainer container);
// atom 0: a copy of the whole container with the same references. Otherwise a new container
// whose root holds a copy of the atom and its subtree.
OSErr QTCopyAtom(QTAtomContainer container, QTAtom atom, QTAtomContainer* target);
OSErr QTLockContainer(QTAtomContainer container);
OSErr QTUnlockContainer(QTAtomContainer container);
int32_t QTContainerLockCount(QTAtomContainer container);

OSErr QTInsertChild(QTAtomContainer container, QTAtom parent, QTAtomType type, QTAtomID id, int32_t index,
                    int32_t dataSize, const void* data, QTAtom* newAtom);
// Inserts before the sibling `before` (0 appends).
OSErr QTInsertChildBeforeAtom(QTAtomContainer container, QTAtom parent, QTAtomType type, QTAtomID id,
                              QTAtom before, int32_t dataSize, const void* data, QTAtom* newAtom);
// Appends copies of every root child of `children` under `parent`; nothing is inserted when one
// of them would duplicate a (type, id).
OSErr QTInsertChildren(QTAtomContainer container, QTAtom parent, QTAtomContainer children);

int32_t QTCountChildren(QTAtomContainer container, QTAtom parent);
int32_t QTCountChildrenOfType(QTAtomContainer container, QTAtom parent, QTAtomType type);
QTAtom QTFindChildByIndex(QTAtomContainer container, QTAtom parent, QTAtomType type, int32_t index,
                          QTAtomID* id);
QTAtom QTFindChildByID(QTAtomContainer container, QTAtom parent, QTAtomType type, QTAtomID id,
                       int32_t* index);
// The child after `current` (0 gives the first); `*next` is 0 after the last.
OSErr QTNextChildAnyType(QTAtomContainer container, QTAtom parent, QTAtom current, QTAtom* next);
// The distinct child types in order of first appearance; 0 after the last.
OSErr QTGetNextChildType(QTAtomContainer container, QTAtom parent, QTAtomType current, QTAtomType* next);
OSErr QTGetAtomTypeAndID(QTAtomContainer container, QTAtom atom, QTAtomType* type, QTAtomID* id);
// The parent of an atom (0 for a root child or the root); -1 for a reference that is not valid.
QTAtom QTGetAtomParent(QTAtomContainer container, QTAtom atom);
bool QTAtomIsValid(QTAtomContainer container, QTAtom atom);

OSErr QTGetAtomDataSize(QTAtomContainer container, QTAtom atom, int32_t* size);
// A pointer to the atom's data, valid until that atom's data or the container changes.
OSErr QTGetAtomDataPtr(QTAtomContainer container, QTAtom atom, int32_t* dataSize, Ptr* atomData);
OSErr QTCopyAtomDataToHandle(QTAtomContainer container, QTAtom atom, Handle target);
OSErr QTCopyAtomDataToPtr(QTAtomContainer container, QTAtom atom, Boolean sizeOrLessOK, int32_t size,
                          void* target, int32_t* actualSize);
OSErr QTSetAtomData(QTAtomContainer container, QTAtom atom, int32_t dataSize, const void* data);
OSErr QTSetAtomID(QTAtomContainer container, QTAtom atom, QTAtomID newID);

OSErr QTRemoveAtom(QTAtomContainer container, QTAtom atom);
OSErr QTRemoveChildren(QTAtomContainer container, QTAtom atom);
// The target keeps its reference, type and id, and takes copies of the data and children of
// `replacementAtom` (0: the replacement container's root children).
OSErr QTReplaceAtom(QTAtomContainer target, QTAtom targetAtom, QTAtomContainer replacement,
                    QTAtom replacementAtom);

// The flat form: its size, and a new handle holding it.
OSErr QTGetFlattenedSize(QTAtomContainer container, int32_t* size);
OSErr QTFlattenAtomContainer(QTAtomContainer container, Handle* flat);
OSErr QTFlattenAtomContainerToBytes(QTAtomContainer container, void* buffer, int32_t size);
// A new container from untrusted flat bytes; invalidAtomContainerErr when they do not validate.
OSErr QTUnflattenAtomContainer(const void* bytes, size_t size, QTAtomContainer* container);
