// Path-based file records in place of the platform's volume and directory identifiers: an FSRef
// and an FSSpec each hold a path; an alias record holds its target's path. Finder information
// (file type, creator and Finder flags) lives in the extended attribute that the platform's own
// tools use on foreign volumes, and resource files are written in the classic resource-file
// layout in the data fork.
#pragma once

#include "PlatformMemory.h"
#include "PlatformTypes.h"

#include <cstddef>
#include <cstdio>
#include <string>

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

// Writing a file whole or not at all. The bytes go to a temporary file in the destination's
// folder (the folder of a symbolic link's target, so that the link stays a link); only once
// every write, the flush, the sync to disk and the close have succeeded is the temporary renamed
// over the destination. Any failure removes the temporary and leaves the destination as it was.
// A replaced file keeps its permission bits and extended attributes; a new one gets the usual
// 0666 less the umask. Only a regular file is replaced: a device or a pipe is refused (ioErr).
//
// Statuses: fnfErr or dirNFErr when the folder is missing, -54 when it may not be written,
// -34 when the disk is full or the file would exceed the process's file-size limit, ioErr for
// any other failure.
class PlatformSafeFile {
  public:
    PlatformSafeFile() = default;
    PlatformSafeFile(const PlatformSafeFile&) = delete;
    PlatformSafeFile& operator=(const PlatformSafeFile&) = delete;
    ~PlatformSafeFile() { abandon(); }

    OSErr open(const char* destination);
    bool isOpen() const { return _fd >= 0; }
    // The temporary as a stream (opened for writing and reading) or as a descriptor; use one.
    FILE* stream();
    int descriptor() const { return _fd; }
    // Writes every byte at the current position, or records the failure.
    OSErr write(const void* data, size_t size);
    // Notes a failure of the caller's own writes so that commit refuses to put the file in place.
    void fail(OSErr err) {
        if (_error == 0 && err != 0) _error = err;
    }
    OSErr error() const { return _error; }
    // Puts the file in place; the first failure of the whole write when there was one.
    OSErr commit();
    // Puts the file, whole so far, in place and keeps it open: later writes change it where it
    // is, and commit then only syncs and closes it.
    OSErr publish();
    bool isPublished() const { return _fd >= 0 && _temporary.empty(); }
    // Closes and removes the temporary; the destination stays as it was.
    void abandon();
    const std::string& destination() const { return _destination; }
    const std::string& temporaryPath() const { return _temporary; }

  private:
    int _fd = -1;
    FILE* _stream = nullptr;
    OSErr _error = 0;
    std::string _destination;
    std::string _temporary;
};

// Writes `size` bytes as the whole content of `path` through a PlatformSafeFile.
OSErr PlatformWriteWholeFile(const char* path, const void* data, size_t size);

// The status for a failed C library or system call's errno.
OSErr PlatformErrnoStatus(int e);

// Whether two paths name the same existing file (same device and inode): a path, a symbolic
// link to it or a hard link of it all do.
bool PlatformSameFile(const char* a, const char* b);
// Whether the path names the file open as `fd`.
bool PlatformSameFile(const char* path, int fd);
