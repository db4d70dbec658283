#include "PlatformFiles.h"

#include "PlatformEndian.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

const char kFinderInfoAttr[] = "user.com.apple.FinderInfo";

bool copyPath(const char* path, char (&out)[kPlatformPathCapacity]) {
    size_t n = std::strlen(path);
    if (n == 0 || n >= sizeof out) return false;
    std::memcpy(out, path, n + 1);
    return true;
}

// The stored path, or null when the record holds no terminated text.
const char* pathOf(const char (&path)[kPlatformPathCapacity]) {
    if (!std::memchr(path, 0, sizeof path) || path[0] == 0) return nullptr;
    return path;
}

OSErr errnoToOSErr(int e) {
    switch (e) {
    case ENOENT:
        return fnfErr;
    case ENOTDIR:
        return dirNFErr;
    case ENAMETOOLONG:
        return bdNamErr;
    case EACCES:
    case EPERM:
        return -54; // permErr
    default:
        return ioErr;
    }
}

std::string parentOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// ---------------------------------------------------------------------------------------------
// Resource files

struct Resource {
    ResType type;
    int16_t id;
    std::string name;
    std::vector<uint8_t> data;
};

struct OpenResFile {
    std::string path;
    bool writable;
    bool dirty;
    std::vector<Resource> resources;
};

std::map<int16_t, OpenResFile>& openFiles() {
    static std::map<int16_t, OpenResFile> files;
    return files;
}
int16_t gCurrentResFile = -1;
int16_t gNextRefNum = 1;
OSErr gResError = noErr;

constexpr uint32_t kResDataOffset = 256;
constexpr uint32_t kMapHeaderSize = 28;

std::vector<uint8_t> encodeResourceFile(const std::vector<Resource>& resources) {
    std::vector<uint8_t> data;
    std::vector<uint32_t> dataOffsets;
    for (const Resource& r : resources) {
        dataOffsets.push_back(uint32_t(data.size()));
        uint8_t len[4];
        platform::storeBE32(len, uint32_t(r.data.size()));
        data.insert(data.end(), len, len + 4);
        data.insert(data.end(), r.data.begin(), r.data.end());
    }
    // Types in order of first appearance, each with its references.
    std::vector<ResType> types;
    for (const Resource& r : resources)
        if (std::find(types.begin(), types.end(), r.type) == types.end()) types.push_back(r.type);
    std::vector<uint8_t> typeList(2 + 8 * types.size());
    std::vector<uint8_t> refLists, names;
    platform::storeBE16(typeList.data(), uint16_t(types.size() - 1)); // 0xFFFF for no types
    for (size_t t = 0; t < types.size(); ++t) {
        uint8_t* entry = typeList.data() + 2 + 8 * t;
        uint16_t count = 0;
        uint32_t refListOffset = uint32_t(typeList.size() + refLists.size());
        for (size_t i = 0; i < resources.size(); ++i) {
            const Resource& r = resources[i];
            if (r.type != types[t]) continue;
            uint8_t ref[12] = {};
            platform::storeBE16(ref, uint16_t(r.id));
            if (r.name.empty()) {
                platform::storeBE16(ref + 2, 0xFFFF);
            } else {
                platform::storeBE16(ref + 2, uint16_t(names.size()));
                names.push_back(uint8_t(r.name.size()));
                names.insert(names.end(), r.name.begin(), r.name.end());
            }
            platform::storeBE32(ref + 4, dataOffsets[i] & 0x00FFFFFFu); // attributes 0, 24-bit offset
            refLists.insert(refLists.end(), ref, ref + 12);
            ++count;
        }
        platform::storeBE32(entry, types[t]);
        platform::storeBE16(entry + 4, uint16_t(count - 1));
        platform::storeBE16(entry + 6, uint16_t(refListOffset));
    }
    uint32_t mapLength = kMapHeaderSize + uint32_t(typeList.size() + refLists.size() + names.size());
    uint32_t mapOffset = kResDataOffset + uint32_t(data.size());
    uint8_t header[16];
    platform::storeBE32(header, kResDataOffset);
    platform::storeBE32(header + 4, mapOffset);
    platform::storeBE32(header + 8, uint32_t(data.size()));
    platform::storeBE32(header + 12, mapLength);

    std::vector<uint8_t> file(kResDataOffset, 0);
    std::memcpy(file.data(), header, 16);
    file.insert(file.end(), data.begin(), data.end());
    std::vector<uint8_t> map(kMapHeaderSize, 0);
    std::memcpy(map.data(), header, 16);
    platform::storeBE16(map.data() + 24, uint16_t(kMapHeaderSize));
    platform::storeBE16(map.data() + 26, uint16_t(kMapHeaderSize + typeList.size() + refLists.size()));
    map.insert(map.end(), typeList.begin(), typeList.end());
    map.insert(map.end(), refLists.begin(), refLists.end());
    map.insert(map.end(), names.begin(), names.end());
    file.insert(file.end(), map.begin(), map.end());
    return file;
}

// Every offset and length is checked against the file before it is followed.
bool decodeResourceFile(const std::vector<uint8_t>& f, std::vector<Resource>& out) {
    out.clear();
    if (f.size() < 16) return false;
    uint64_t dataOffset = platform::loadBE32(&f[0]), mapOffset = platform::loadBE32(&f[4]);
    uint64_t dataLength = platform::loadBE32(&f[8]), mapLength = platform::loadBE32(&f[12]);
    if (dataOffset + dataLength > f.size() || mapOffset + mapLength > f.size() || mapLength < kMapHeaderSize)
        return false;
    const uint8_t* map = &f[mapOffset];
    uint64_t typeListOffset = platform::loadBE16(map + 24), nameListOffset = platform::loadBE16(map + 26);
    if (typeListOffset + 2 > mapLength) return false;
    const uint8_t* typeList = map + typeListOffset;
    uint64_t typeCount = uint16_t(platform::loadBE16(typeList) + 1);
    if (typeListOffset + 2 + 8 * typeCount > mapLength) return false;
    for (uint64_t t = 0; t < typeCount; ++t) {
        const uint8_t* entry = typeList + 2 + 8 * t;
        ResType type = platform::loadBE32(entry);
        uint64_t count = uint16_t(platform::loadBE16(entry + 4) + 1);
        uint64_t refOffset = typeListOffset + platform::loadBE16(entry + 6);
        if (refOffset + 12 * count > mapLength) return false;
        for (uint64_t i = 0; i < count; ++i) {
            const uint8_t* ref = map + refOffset + 12 * i;
            Resource r;
            r.type = type;
            r.id = int16_t(platform::loadBE16(ref));
            uint16_t nameOffset = platform::loadBE16(ref + 2);
            if (nameOffset != 0xFFFF) {
                uint64_t at = nameListOffset + nameOffset;
                if (at + 1 > mapLength || at + 1 + map[at] > mapLength) return false;
                r.name.assign(reinterpret_cast<const char*>(map + at + 1), map[at]);
            }
            uint64_t off = platform::loadBE32(ref + 4) & 0x00FFFFFFu;
            if (off + 4 > dataLength) return false;
            uint64_t len = platform::loadBE32(&f[dataOffset + off]);
            if (off + 4 + len > dataLength) return false;
            const uint8_t* bytes = &f[dataOffset + off + 4];
            r.data.assign(bytes, bytes + len);
            out.push_back(std::move(r));
        }
    }
    return true;
}

bool readWholeFile(const char* path, std::vector<uint8_t>& out) {
    FILE* file = std::fopen(path, "rb");
    if (!file) return false;
    out.clear();
    uint8_t buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, file)) > 0)
        out.insert(out.end(), buf, buf + n);
    bool ok = !std::ferror(file);
    std::fclose(file);
    return ok;
}

bool writeWholeFile(const char* path, const std::vector<uint8_t>& bytes) {
    return PlatformWriteWholeFile(path, bytes.data(), bytes.size()) == noErr;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Records

OSStatus FSPathMakeRef(const UInt8* path, FSRef* ref, Boolean* isDirectory) {
    if (!path || !ref) return paramErr;
    const char* p = reinterpret_cast<const char*>(path);
    struct stat st;
    if (std::strlen(p) >= sizeof ref->path) return bdNamErr;
    if (::stat(p, &st) != 0) return errnoToOSErr(errno);
    if (!copyPath(p, ref->path)) return bdNamErr;
    if (isDirectory) *isDirectory = S_ISDIR(st.st_mode);
    return noErr;
}

OSStatus FSRefMakePath(const FSRef* ref, UInt8* path, UInt32 maxPathSize) {
    if (!ref || !path) return paramErr;
    const char* p = pathOf(ref->path);
    if (!p) return paramErr;
    size_t n = std::strlen(p);
    if (n + 1 > maxPathSize) return bdNamErr;
    std::memcpy(path, p, n + 1);
    return noErr;
}

OSErr FSGetCatalogInfo(const FSRef* ref, uint32_t, void*, void*, FSSpec* fsSpec, FSRef* parentRef) {
    if (!ref) return paramErr;
    const char* p = pathOf(ref->path);
    if (!p) return paramErr;
    struct stat st;
    if (::stat(p, &st) != 0) return errnoToOSErr(errno);
    if (fsSpec) copyPath(p, fsSpec->path);
    if (parentRef && !copyPath(parentOf(p).c_str(), parentRef->path)) return bdNamErr;
    return noErr;
}

OSErr FSPathMakeFSSpec(const char* path, FSSpec* spec) {
    if (!path || !spec) return paramErr;
    if (!copyPath(path, spec->path)) return bdNamErr;
    struct stat st;
    if (::stat(path, &st) != 0) return errnoToOSErr(errno);
    return noErr;
}

OSErr FSpDelete(const FSSpec* spec) {
    if (!spec || !pathOf(spec->path)) return paramErr;
    if (::unlink(spec->path) != 0) return errnoToOSErr(errno);
    return noErr;
}

OSErr FSpGetFInfo(const FSSpec* spec, FInfo* info) {
    if (!spec || !info || !pathOf(spec->path)) return paramErr;
    std::memset(info, 0, sizeof *info);
    struct stat st;
    if (::stat(spec->path, &st) != 0) return errnoToOSErr(errno);
    uint8_t raw[32] = {};
    ssize_t got = ::getxattr(spec->path, kFinderInfoAttr, raw, sizeof raw);
    if (got < 16) return noErr; // no Finder information: all zeros
    info->fdType = platform::loadBE32(raw);
    info->fdCreator = platform::loadBE32(raw + 4);
    info->fdFlags = platform::loadBE16(raw + 8);
    info->fdLocation.v = int16_t(platform::loadBE16(raw + 10));
    info->fdLocation.h = int16_t(platform::loadBE16(raw + 12));
    info->fdFldr = int16_t(platform::loadBE16(raw + 14));
    return noErr;
}

OSErr FSpSetFInfo(const FSSpec* spec, const FInfo* info) {
    if (!spec || !info || !pathOf(spec->path)) return paramErr;
    uint8_t raw[32] = {};
    platform::storeBE32(raw, info->fdType);
    platform::storeBE32(raw + 4, info->fdCreator);
    platform::storeBE16(raw + 8, info->fdFlags);
    platform::storeBE16(raw + 10, uint16_t(info->fdLocation.v));
    platform::storeBE16(raw + 12, uint16_t(info->fdLocation.h));
    platform::storeBE16(raw + 14, uint16_t(info->fdFldr));
    if (::setxattr(spec->path, kFinderInfoAttr, raw, sizeof raw, 0) != 0) return errnoToOSErr(errno);
    return noErr;
}

// ---------------------------------------------------------------------------------------------
// Aliases

static OSErr newAliasForPath(const char* target, AliasHandle* alias) {
    if (!alias) return paramErr;
    *alias = nullptr;
    if (!target || !*target) return paramErr;
    Handle h = nullptr;
    if (OSErr err = PtrToHand(target, &h, Size(std::strlen(target) + 1))) return err;
    *alias = h;
    return noErr;
}

OSErr FSNewAlias(const FSRef*, const FSRef* target, AliasHandle* alias) {
    if (!target) return paramErr;
    return newAliasForPath(pathOf(target->path), alias);
}

OSErr NewAlias(const FSSpec*, const FSSpec* target, AliasHandle* alias) {
    if (!target) return paramErr;
    return newAliasForPath(pathOf(target->path), alias);
}

OSErr FSResolveAlias(const FSRef*, AliasHandle alias, FSRef* target, Boolean* wasChanged) {
    if (wasChanged) *wasChanged = false;
    if (!alias || !*alias || !target) return paramErr;
    Size n = GetHandleSize(alias);
    // The record must hold a terminated path that fits an FSRef.
    const char* text = *alias;
    const void* end = std::memchr(text, 0, size_t(n));
    if (!end || text[0] == 0) return paramErr;
    struct stat st;
    if (::stat(text, &st) != 0) return errnoToOSErr(errno);
    if (!copyPath(text, target->path)) return bdNamErr;
    return noErr;
}

// ---------------------------------------------------------------------------------------------
// Resource files

OSErr ResError() {
    return gResError;
}

void FSpCreateResFile(const FSSpec* spec, OSType creator, OSType fileType, int16_t) {
    if (!spec || !pathOf(spec->path)) {
        gResError = paramErr;
        return;
    }
    struct stat st;
    if (::stat(spec->path, &st) == 0) {
        gResError = -48; // dupFNErr: the platform never overwrites here
        return;
    }
    if (!writeWholeFile(spec->path, encodeResourceFile({}))) {
        gResError = errnoToOSErr(errno);
        return;
    }
    FInfo info{};
    info.fdType = fileType;
    info.fdCreator = creator;
    FSpSetFInfo(spec, &info); // a volume without extended attributes keeps the file all the same
    gResError = noErr;
}

int16_t FSpOpenResFile(const FSSpec* spec, int8_t permission) {
    if (!spec || !pathOf(spec->path)) {
        gResError = paramErr;
        return -1;
    }
    std::vector<uint8_t> bytes;
    if (!readWholeFile(spec->path, bytes)) {
        gResError = fnfErr;
        return -1;
    }
    OpenResFile file{spec->path, (permission & fsWrPerm) != 0, false, {}};
    if (!decodeResourceFile(bytes, file.resources)) {
        gResError = mapReadErr;
        return -1;
    }
    if (gNextRefNum <= 0) gNextRefNum = 1;
    int16_t ref = gNextRefNum++;
    openFiles()[ref] = std::move(file);
    gCurrentResFile = ref;
    gResError = noErr;
    return ref;
}

void AddResource(Handle data, ResType type, int16_t id, ConstStringPtr name) {
    auto it = openFiles().find(gCurrentResFile);
    if (it == openFiles().end() || !data || !*data) {
        gResError = addResFailed;
        return;
    }
    OpenResFile& file = it->second;
    if (!file.writable) {
        gResError = -61; // wrPermErr
        return;
    }
    Resource r;
    r.type = type;
    r.id = id;
    if (name && name[0]) r.name.assign(reinterpret_cast<const char*>(name + 1), name[0]);
    Size n = GetHandleSize(data);
    r.data.assign(*data, *data + n);
    for (Resource& existing : file.resources)
        if (existing.type == type && existing.id == id) {
            existing = std::move(r);
            file.dirty = true;
            gResError = noErr;
            return;
        }
    file.resources.push_back(std::move(r));
    file.dirty = true;
    gResError = noErr;
}

Handle Get1Resource(ResType type, int16_t id) {
    auto it = openFiles().find(gCurrentResFile);
    if (it == openFiles().end()) {
        gResError = resFNotFound;
        return nullptr;
    }
    for (const Resource& r : it->second.resources)
        if (r.type == type && r.id == id) {
            Handle h = nullptr;
            gResError = PtrToHand(r.data.data(), &h, Size(r.data.size()));
            return h;
        }
    gResError = resNotFound;
    return nullptr;
}

void CloseResFile(int16_t refNum) {
    auto it = openFiles().find(refNum);
    if (it == openFiles().end()) {
        gResError = resFNotFound;
        return;
    }
    gResError = noErr;
    if (it->second.dirty &&
        !writeWholeFile(it->second.path.c_str(), encodeResourceFile(it->second.resources)))
        gResError = ioErr;
    openFiles().erase(it);
    if (gCurrentResFile == refNum) gCurrentResFile = openFiles().empty() ? -1 : openFiles().rbegin()->first;
}

// ---------------------------------------------------------------------------------------------
// Safe writing

namespace {

constexpr OSErr kPermissionDenied = -54; // permErr
constexpr OSErr kDiskFull = -34;         // dskFulErr

std::atomic<uint32_t> gTemporaryCounter{0};

// Where a write to `path` must land: the target of a symbolic link, else the path itself.
std::string writtenPath(const char* path) {
    struct stat st {};
    if (::lstat(path, &st) == 0 && S_ISLNK(st.st_mode)) {
        char* resolved = ::realpath(path, nullptr);
        if (resolved) {
            std::string out = resolved;
            std::free(resolved);
            return out;
        }
    }
    return path;
}

} // namespace

OSErr PlatformErrnoStatus(int e) {
    switch (e) {
    case ENOSPC:
    case EFBIG:
    case EDQUOT:
        return kDiskFull;
    case EROFS:
        return kPermissionDenied;
    default:
        return errnoToOSErr(e);
    }
}

OSErr PlatformSafeFile::open(const char* destination) {
    abandon();
    _error = 0;
    if (!destination || !destination[0]) return _error = paramErr;
    _destination = writtenPath(destination);
    struct stat st {};
    const bool replacing = ::stat(_destination.c_str(), &st) == 0;
    // Only a regular file is replaced: a folder, a device or a pipe is never renamed over.
    if (replacing && S_ISDIR(st.st_mode)) return _error = kPermissionDenied;
    if (replacing && !S_ISREG(st.st_mode)) return _error = ioErr;
    const std::string folder = parentOf(_destination);
    const size_t slash = _destination.find_last_of('/');
    const std::string name = slash == std::string::npos ? _destination : _destination.substr(slash + 1);
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[40];
        std::snprintf(suffix, sizeof suffix, ".%ld.%u.tmp", long(::getpid()), unsigned(++gTemporaryCounter));
        std::string candidate = folder + "/." + name + suffix;
        _fd = ::open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (_fd >= 0) {
            _temporary = std::move(candidate);
            break;
        }
        if (errno != EEXIST) return _error = PlatformErrnoStatus(errno);
    }
    if (_fd < 0) return _error = ioErr;
    if (replacing) {
        (void)::fchmod(_fd, st.st_mode & 07777);
        // The replaced file's extended attributes (its Finder information among them) stay.
        char names[4096];
        const ssize_t length = ::listxattr(_destination.c_str(), names, sizeof names);
        for (ssize_t at = 0; length > 0 && at < length; at += ssize_t(std::strlen(names + at)) + 1) {
            char value[4096];
            const ssize_t size = ::getxattr(_destination.c_str(), names + at, value, sizeof value);
            if (size >= 0) (void)::fsetxattr(_fd, names + at, value, size_t(size), 0);
        }
    }
    return noErr;
}

FILE* PlatformSafeFile::stream() {
    if (_stream || _fd < 0) return _stream;
    _stream = ::fdopen(_fd, "w+b");
    if (!_stream) fail(PlatformErrnoStatus(errno));
    return _stream;
}

OSErr PlatformSafeFile::write(const void* data, size_t size) {
    if (_fd < 0) return _error ? _error : paramErr;
    if (_error) return _error;
    if (_stream) {
        if (size && std::fwrite(data, 1, size, _stream) != size) fail(PlatformErrnoStatus(errno));
        return _error;
    }
    const auto* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = ::write(_fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            fail(n < 0 ? PlatformErrnoStatus(errno) : ioErr);
            break;
        }
        p += n;
        size -= size_t(n);
    }
    return _error;
}

OSErr PlatformSafeFile::commit() {
    if (_fd < 0) return _error ? _error : paramErr;
    if (_stream) {
        if (std::fflush(_stream) != 0) fail(PlatformErrnoStatus(errno));
        if (std::ferror(_stream)) fail(ioErr);
    }
    if (_error == 0 && ::fsync(_fd) != 0) fail(PlatformErrnoStatus(errno));
    const int closed = _stream ? std::fclose(_stream) : ::close(_fd);
    if (closed != 0) fail(PlatformErrnoStatus(errno));
    _stream = nullptr;
    _fd = -1;
    if (_temporary.empty()) return _error; // published before: already in place
    if (_error == 0 && ::rename(_temporary.c_str(), _destination.c_str()) != 0)
        fail(PlatformErrnoStatus(errno));
    if (_error != 0) ::unlink(_temporary.c_str());
    _temporary.clear();
    return _error;
}

OSErr PlatformSafeFile::publish() {
    if (_fd < 0) return _error ? _error : paramErr;
    if (_error) return _error;
    if (_temporary.empty()) return noErr;
    if (_stream && std::fflush(_stream) != 0) fail(PlatformErrnoStatus(errno));
    if (_error == 0 && ::fsync(_fd) != 0) fail(PlatformErrnoStatus(errno));
    if (_error == 0 && ::rename(_temporary.c_str(), _destination.c_str()) != 0)
        fail(PlatformErrnoStatus(errno));
    if (_error == 0) _temporary.clear();
    return _error;
}

void PlatformSafeFile::abandon() {
    if (_stream)
        std::fclose(_stream);
    else if (_fd >= 0)
        ::close(_fd);
    _stream = nullptr;
    _fd = -1;
    if (!_temporary.empty()) ::unlink(_temporary.c_str());
    _temporary.clear();
}

OSErr PlatformWriteWholeFile(const char* path, const void* data, size_t size) {
    PlatformSafeFile file;
    if (OSErr err = file.open(path)) return err;
    file.write(data, size);
    return file.commit();
}

bool PlatformSameFile(const char* a, const char* b) {
    struct stat sa {
    }, sb{};
    if (!a || !b || ::stat(a, &sa) != 0 || ::stat(b, &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool PlatformSameFile(const char* path, int fd) {
    struct stat sa {
    }, sb{};
    if (!path || fd < 0 || ::stat(path, &sa) != 0 || ::fstat(fd, &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}
