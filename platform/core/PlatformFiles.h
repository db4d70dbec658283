// Path-based file records in place of the platform's volume and directory identifiers: an FSRef
// and an FSSpec each hold a path; an alias record holds its target's path. Finder information
// (file type, creator and Finder flags) lives in the extended attribute that the platform's own
// tools use on foreign volumes, and resource files are written in the classic resource-file
// layout in the data fork.
#pragma once

#include "PlatformMemory.h"
#include "PlatformTypes.h"

constexpr int kPlatformPathCapacity = 1024;

struct FSRef {
    char path[kPlatformPathCapacity];
};

struct FSSpec {
    char path[kPlatformPathCapacity];
};

struct FInfo {
    OSType fdType;
    OSType fdCreator;
    uint16_t fdFlags;
    Point fdLocation;
    int16_t fdFldr;
};
static_assert(sizeof(FInfo) == 16);

// An alias record: the target's path and its terminating zero.
using AliasHandle = Handle;

constexpr uint16_t kIsAlias = 0x8000;
constexpr OSErr dirNFErr = -120;
constexpr OSErr bdNamErr = -37;
constexpr OSErr resFNotFound = -193;
constexpr OSErr mapReadErr = -199;
constexpr OSErr addResFailed = -194;
constexpr OSErr resNotFound = -192;

// fnfErr when nothing exists at the path; bdNamErr for a path too long for the record.
OSStatus FSPathMakeRef(const UInt8* path, FSRef* ref, Boolean* isDirectory);
// The path into `path`; bdNamErr when it does not fit `maxPathSize` bytes with its zero.
OSStatus FSRefMakePath(const FSRef* ref, UInt8* path, UInt32 maxPathSize);
// The FSSpec record and the parent folder of an existing item (either may be null).
OSErr FSGetCatalogInfo(const FSRef* ref, uint32_t whichInfo, void* catalogInfo, void* outName, FSSpec* fsSpec,
                       FSRef* parentRef);
// An FSSpec record of the path, whether or not the item exists: fnfErr tells it is missing (the
// record is filled all the same, as the platform does for a file about to be created).
OSErr FSPathMakeFSSpec(const char* path, FSSpec* spec);
OSErr FSpDelete(const FSSpec* spec);
OSErr FSpGetFInfo(const FSSpec* spec, FInfo* info);
OSErr FSpSetFInfo(const FSSpec* spec, const FInfo* info);

// Aliases: the target's path. Resolving fails with fnfErr when the target is gone.
OSErr FSNewAlias(const FSRef* fromFile, const FSRef* target, AliasHandle* alias);
OSErr NewAlias(const FSSpec* fromFile, const FSSpec* target, AliasHandle* alias);
OSErr FSResolveAlias(const FSRef* fromFile, AliasHandle alias, FSRef* target, Boolean* wasChanged);

// Resource files. FSpOpenResFile makes the opened file the current one; AddResource copies the
// handle's bytes into it (the caller keeps the handle); CloseResFile writes it back.
void FSpCreateResFile(const FSSpec* spec, OSType creator, OSType fileType, int16_t scriptTag);
int16_t FSpOpenResFile(const FSSpec* spec, int8_t permission);
void AddResource(Handle data, ResType type, int16_t id, ConstStringPtr name);
// A new handle with a copy of the resource's bytes from the current file, owned by the caller.
Handle Get1Resource(ResType type, int16_t id);
void CloseResFile(int16_t refNum);
OSErr ResError();

constexpr int8_t fsRdPerm = 1;
constexpr int8_t fsWrPerm = 2;
constexpr int8_t fsRdWrPerm = 3;
