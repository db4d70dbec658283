#include "PlatformMovieFiles.h"

#include "PlatformDataRef.h"
#include "PlatformEndian.h"
#include "PlatformMemory.h"
#include "PlatformMovieExport.h"
#include "PlatformMovieFileReaderParse.h"
#include "PlatformMovieModel.h"
#include "PlatformPendingCalls.h"
#include "PlatformQTFileFormat.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

using namespace platform::movie;

namespace {

using Lock = std::lock_guard<std::mutex>;

constexpr size_t kCopyBlock = size_t(1) << 20;

// The file type atom, then an 8-byte 'wide' atom that the 'mdat' header grows into once the data
// passes 4 GiB.
Bytes fileStart() {
    Bytes b(20 + 8 + 8, 0);
    platform::storeBE32(&b[0], 20);
    platform::storeBE32(&b[4], FOUR_CHAR_CODE("ftyp"));
    platform::storeBE32(&b[8], FOUR_CHAR_CODE("qt  "));
    platform::storeBE32(&b[12], 0x20050300);
    platform::storeBE32(&b[16], FOUR_CHAR_CODE("qt  "));
    platform::storeBE32(&b[20], 8);
    platform::storeBE32(&b[24], FOUR_CHAR_CODE("wide"));
    platform::storeBE32(&b[28], 8);
    platform::storeBE32(&b[32], FOUR_CHAR_CODE("mdat"));
    return b;
}

// A new movie file is written beside its destination, which stays as it was until the file is
// closed whole.
OSErr openNewFile(const std::string& path, int32_t flags, PlatformSafeFile& file) {
    struct stat st {};
    if (stat(path.c_str(), &st) == 0) {
        if (!(flags & createMovieFileDeleteCurFile)) return dupFNErr;
        if (!S_ISREG(st.st_mode)) return ioErr;
    }
    const OSErr err = file.open(path.c_str());
    if (err) return err == fnfErr || err == dirNFErr ? fnfErr : ioErr;
    return noErr;
}

OSErr commitStatus(OSErr err) {
    return err == noErr ? noErr : err == -34 ? dskFulErr : ioErr;
}

// Copies the whole file open as `from` into the temporary open as `to`.
OSErr copyWholeFile(int from, int to) {
    struct stat st {};
    if (fstat(from, &st) != 0) return ioErr;
    off_t in = 0, out = 0;
    int64_t left = int64_t(st.st_size);
    // In the kernel (sharing blocks where the file system can) while it will, else through a buffer.
    while (left > 0) {
        const ssize_t n = copy_file_range(from, &in, to, &out, size_t(std::min<int64_t>(left, 1 << 30)), 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        left -= n;
    }
    if (left > 0) {
        Bytes block;
        try {
            block.resize(kCopyBlock);
        } catch (const std::bad_alloc&) {
            return memFullErr;
        }
        while (left > 0) {
            const size_t n = size_t(std::min<int64_t>(left, int64_t(block.size())));
            if (OSErr err = readAll(from, block.data(), n, in)) return err == endOfDataReached ? ioErr : err;
            if (OSErr err = writeAll(to, block.data(), n, out)) return err;
            in += off_t(n);
            out += off_t(n);
            left -= int64_t(n);
        }
    }
    return noErr;
}

// The file a storage changes is never changed where it is: the first change after it was opened,
// or after a movie atom was put in place, goes to a copy beside it, which the next movie atom
// written whole (or closing, once the movie was taken out) puts in the file's place. A change that
// fails part way, or a storage closed before its changes were made whole, leaves the file as it was.
OSErr prepareToChange(StorageRecord& s) {
    if (s.readOnly) return wrPermErr;
    if (s.newFile && !s.newFile->isPublished()) return s.newFile->error();
    auto copy = std::unique_ptr<PlatformSafeFile>(new (std::nothrow) PlatformSafeFile());
    if (!copy) return memFullErr;
    if (OSErr err = copy->open(s.path.c_str())) return err == -54 ? OSErr(-54) : commitStatus(err);
    if (OSErr err = copyWholeFile(s.fd, copy->descriptor())) return err;
    // The file in place is whole: what is left of its writing is the sync and the close.
    OSErr closed = noErr;
    if (s.newFile)
        closed = commitStatus(s.newFile->commit());
    else
        closed = close(s.fd) == 0 ? noErr : ioErr;
    s.fd = copy->descriptor();
    s.newFile = std::move(copy);
    s.copyIsWhole = false;
    return closed;
}

StorageRecord* findStorage(DataHandler dh) {
    auto& map = registry().storages;
    auto it = map.find(reinterpret_cast<uintptr_t>(dh));
    return it == map.end() ? nullptr : it->second.get();
}

StorageRecord* findStorage(int16_t refNum) {
    if (refNum <= 0) return nullptr;
    for (auto& [key, s] : registry().storages)
        if (s->refNum == refNum) return s.get();
    return nullptr;
}

int16_t newRefNum() {
    for (int16_t n = 1; n < INT16_MAX; ++n)
        if (!findStorage(n)) return n;
    return 0;
}

// Copies the bytes of a run that the media keeps in memory into `write`, a block at a time.
template <class Write> OSErr copyRun(const MediaRecord& m, const SampleRun& r, Write&& write) {
    const int64_t total = r.count * int64_t(r.size);
    Bytes block;
    try {
        block.resize(size_t(std::min<int64_t>(total, int64_t(kCopyBlock))));
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
    for (int64_t done = 0; done < total;) {
        const size_t n = size_t(std::min<int64_t>(total - done, int64_t(block.size())));
        if (OSErr err = readSampleBytes(m, r, r.dataOffset + done, n, block.data())) return err;
        if (OSErr err = write(block.data(), n)) return err;
        done += int64_t(n);
    }
    return noErr;
}

OSErr closeStorage(StorageRecord* s) {
    OSErr err = noErr;
    // A new file is in place once a movie atom made it whole; one that never got one is not put
    // in place, and the destination stays as it was. So are changes to a file that no movie atom
    // (or the removal of its movie) made whole.
    if (s->newFile)
        err = s->newFile->isPublished() || s->copyIsWhole ? commitStatus(s->newFile->commit())
                                                          : (s->newFile->abandon(), noErr);
    else
        err = close(s->fd) == 0 ? noErr : ioErr;
    registry().storages.erase(reinterpret_cast<uintptr_t>(s->token));
    return err;
}

// Writes the movie atom after the data of an open storage.
OSErr writeMovie(StorageRecord& s, const MovieRecord& movie) {
    if (OSErr err = prepareToChange(s)) return err;
    auto inFile = [&](const MediaRecord& m, const SampleRun& r) {
        return !r.reference || m.dataRefs.empty();
    };
    // Samples in the media's memory join the file's data once.
    for (const auto& t : movie.tracks) {
        if (!t->media) continue;
        const MediaRecord& m = *t->media;
        auto& placed = s.placed[reinterpret_cast<uintptr_t>(m.token)];
        for (const SampleRun& r : m.runs) {
            if (!inFile(m, r)) continue;
            auto it = placed.find(r.firstNumber);
            // Runs only ever grow: a run copied whole is not copied again.
            if (it != placed.end() && it->second.first == r.count) continue;
            int64_t start = -1;
            OSErr err = copyRun(m, r, [&](const uint8_t* p, size_t n) {
                int64_t at = 0;
                OSErr e = appendToStorage(s, p, n, &at);
                if (start < 0) start = at;
                return e;
            });
            if (err) return err;
            placed[r.firstNumber] = {r.count, start < 0 ? s.dataEnd : start};
        }
    }
    // The 'mdat' header: 32-bit while it can be.
    uint8_t header[16];
    const int64_t dataSize = s.dataEnd - s.dataStart;
    if (dataSize + 8 <= int64_t(UINT32_MAX)) {
        platform::storeBE32(header, 8);
        platform::storeBE32(header + 4, FOUR_CHAR_CODE("wide"));
        platform::storeBE32(header + 8, uint32_t(dataSize + 8));
        platform::storeBE32(header + 12, FOUR_CHAR_CODE("mdat"));
    } else {
        platform::storeBE32(header, 1);
        platform::storeBE32(header + 4, FOUR_CHAR_CODE("mdat"));
        const uint64_t size = uint64_t(dataSize + 16);
        platform::storeBE32(header + 8, uint32_t(size >> 32));
        platform::storeBE32(header + 12, uint32_t(size));
    }
    if (OSErr err = writeAll(s.fd, header, sizeof header, s.mdatStart)) return err;

    AtomPlan plan;
    plan.isSelf = [&](const MediaRecord& m, size_t i) { return refPath(m.dataRefs[i]) == s.path; };
    plan.runOffset = [&](const MediaRecord& m, const SampleRun& r) -> int64_t {
        if (!inFile(m, r)) return r.dataOffset;
        auto& placed = s.placed[reinterpret_cast<uintptr_t>(m.token)];
        auto it = placed.find(r.firstNumber);
        return it == placed.end() ? -1 : it->second.second;
    };
    Bytes atom;
    try {
        if (OSErr err = buildMovieAtom(movie, plan, atom)) return err;
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
    if (OSErr err = writeAll(s.fd, atom.data(), atom.size(), s.dataEnd)) return err;
    s.fileEnd = s.dataEnd + int64_t(atom.size());
    if (ftruncate(s.fd, off_t(s.fileEnd)) != 0) return ioErr;
    // The movie atom the file held before stays readable until the new one is whole.
    if (s.oldMovieAt >= 0) {
        uint8_t free[4];
        platform::storeBE32(free, FOUR_CHAR_CODE("free"));
        if (OSErr err = writeAll(s.fd, free, 4, s.oldMovieAt + 4)) return err;
        s.oldMovieAt = -1;
    }
    return noErr;
}

OSErr createStorage(const std::string& path, int32_t flags, DataHandler* outDataHandler, int16_t* refNum,
                    Movie* newmovie, const Bytes& refBytes) {
    int fd = -1;
    {
        Lock lock(registry().mutex);
        auto file = std::unique_ptr<PlatformSafeFile>(new (std::nothrow) PlatformSafeFile());
        if (!file) return result(memFullErr);
        if (OSErr err = openNewFile(path, flags, *file)) return result(err);
        fd = file->descriptor();
        const Bytes start = fileStart();
        if (OSErr err = writeAll(fd, start.data(), start.size(), 0)) return result(err);
        if (flags & createMovieFileDontOpenFile) {
            if (OSErr err = commitStatus(file->commit())) return result(err);
            fd = -1;
        } else {
            auto s = std::unique_ptr<StorageRecord>(new (std::nothrow) StorageRecord());
            const int16_t number = newRefNum();
            if (!s || !number) return result(s ? tmfoErr : memFullErr);
            s->token = reinterpret_cast<DataHandler>(newToken());
            s->refNum = number;
            s->path = path;
            s->fd = fd;
            s->newFile = std::move(file);
            s->mdatStart = 20;
            s->dataStart = s->dataEnd = s->fileEnd = int64_t(start.size());
            if (outDataHandler) *outDataHandler = s->token;
            if (refNum) *refNum = s->refNum;
            registry().storages.emplace(reinterpret_cast<uintptr_t>(s->token), std::move(s));
        }
    }
    if (!newmovie || (flags & createMovieFileDontCreateMovie)) return result(noErr);
    Movie movie = NewMovie(flags & newMovieActive);
    Lock lock(registry().mutex);
    MovieRecord* m = movie ? findMovie(movie) : nullptr;
    if (!m) {
        if (fd >= 0) {
            for (auto& [key, s] : registry().storages)
                if (s->fd == fd) {
                    if (s->newFile) s->newFile->fail(memFullErr); // nothing is put in place
                    closeStorage(s.get());
                    break;
                }
        }
        if (outDataHandler) *outDataHandler = nullptr;
        if (refNum) *refNum = 0;
        return result(memFullErr);
    }
    m->active = (flags & newMovieActive) != 0;
    m->defaultDataRef.type = AliasDataHandlerSubType;
    m->defaultDataRef.bytes = refBytes;
    *newmovie = movie;
    return result(noErr);
}

std::string specPath(const FSSpec* spec) {
    if (!spec || !std::memchr(spec->path, 0, sizeof spec->path)) return {};
    return spec->path;
}

} // namespace

namespace platform::movie {

OSErr readAll(int fd, uint8_t* out, size_t size, int64_t offset) {
    while (size > 0) {
        const ssize_t n = pread(fd, out, size, off_t(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return ioErr;
        if (n == 0) return endOfDataReached;
        out += n;
        size -= size_t(n);
        offset += n;
    }
    return noErr;
}

OSErr writeAll(int fd, const uint8_t* data, size_t size, int64_t offset) {
    while (size > 0) {
        const ssize_t n = pwrite(fd, data, std::min(size, kCopyBlock), off_t(offset));
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno == ENOSPC ? dskFulErr : ioErr;
        }
        // A write of nothing sets no errno: what errno holds is left from an earlier call.
        if (n == 0) return ioErr;
        data += n;
        size -= size_t(n);
        offset += n;
    }
    return noErr;
}

std::string refPath(const DataRef& ref) {
    if (ref.type != AliasDataHandlerSubType || ref.bytes.empty()) return {};
    const auto* p = reinterpret_cast<const char*>(ref.bytes.data());
    return std::string(p, strnlen(p, ref.bytes.size()));
}

Bytes aliasBytes(const std::string& path) {
    Bytes b(path.begin(), path.end());
    b.push_back(0);
    return b;
}

StorageRecord* storageOfDataRef(const DataRef& ref) {
    if (ref.type != AliasDataHandlerSubType || registry().storages.empty()) return nullptr;
    const std::string path = refPath(ref);
    for (auto& [key, s] : registry().storages)
        if (s->path == path && !s->readOnly) return s.get();
    return nullptr;
}

OSErr appendToStorage(StorageRecord& s, const uint8_t* data, size_t size, int64_t* offset) {
    *offset = s.dataEnd;
    if (int64_t(size) > kMaxTime - s.dataEnd) return paramErr;
    if (OSErr err = prepareToChange(s)) return err;
    // A movie atom written before lay where the data goes on: it is written anew on update.
    if (s.fileEnd > s.dataEnd) {
        if (ftruncate(s.fd, off_t(s.dataEnd)) != 0) return ioErr;
        s.fileEnd = s.dataEnd;
    }
    if (OSErr err = writeAll(s.fd, data, size, s.dataEnd)) {
        // A new file missing samples its movie counts on is not put in place.
        if (s.newFile) s.newFile->fail(err);
        if (ftruncate(s.fd, off_t(s.dataEnd)) != 0) return ioErr;
        return err;
    }
    s.dataEnd += int64_t(size);
    s.fileEnd = s.dataEnd;
    return noErr;
}

OSErr readDataRefFile(const DataRef& ref, int64_t offset, size_t size, uint8_t* out) {
    if (offset < 0) return endOfDataReached;
    if (StorageRecord* s = storageOfDataRef(ref)) {
        if (offset > s->dataEnd || int64_t(size) > s->dataEnd - offset) return endOfDataReached;
        return readAll(s->fd, out, size, offset);
    }
    const std::string path = refPath(ref);
    if (path.empty()) return couldNotResolveDataRef;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return couldNotResolveDataRef;
    const OSErr err = readAll(fd, out, size, offset);
    close(fd);
    return err;
}

} // namespace platform::movie

// ---------------------------------------------------------------------------------------------
// Storages.

OSErr CreateMovieStorage(Handle dataRef, OSType dataRefType, OSType, int16_t, int32_t createMovieFileFlags,
                         DataHandler* outDataHandler, Movie* newmovie) {
    if (outDataHandler) *outDataHandler = nullptr;
    if (newmovie) *newmovie = nullptr;
    if (!dataRef || !*dataRef) return result(paramErr);
    if (dataRefType != AliasDataHandlerSubType) return result(couldNotResolveDataRef);
    const std::string path = platform::aliasPath(dataRef);
    if (path.empty()) return result(couldNotResolveDataRef);
    return createStorage(path, createMovieFileFlags, outDataHandler, nullptr, newmovie, aliasBytes(path));
}

OSErr AddMovieToStorage(Movie movie, DataHandler dh) {
    return onRecord(movie, invalidMovie, [&](MovieRecord& m) {
        StorageRecord* s = findStorage(dh);
        if (!s) return result(fnOpnErr);
        if (s->readOnly) return result(dataNotOpenForWrite);
        if (OSErr err = writeMovie(*s, m)) {
            if (s->newFile) s->newFile->fail(err);
            return result(err);
        }
        // Whole now: a new file takes its destination's place.
        if (s->newFile)
            if (OSErr err = commitStatus(s->newFile->publish())) return result(err);
        markMovieSaved(m);
        return result(noErr);
    });
}

OSErr UpdateMovieInStorage(Movie movie, DataHandler dh) {
    return AddMovieToStorage(movie, dh);
}

OSErr CloseMovieStorage(DataHandler dh) {
    Lock lock(registry().mutex);
    StorageRecord* s = findStorage(dh);
    if (!s) return result(fnOpnErr);
    return result(closeStorage(s));
}

OSErr DeleteMovieStorage(Handle dataRef, OSType dataRefType) {
    if (!dataRef || !*dataRef) return result(paramErr);
    if (dataRefType != AliasDataHandlerSubType) return result(couldNotResolveDataRef);
    const std::string path = platform::aliasPath(dataRef);
    if (path.empty()) return result(couldNotResolveDataRef);
    Lock lock(registry().mutex);
    // An open file is not pulled from under its writer.
    for (auto& [key, s] : registry().storages)
        if (s->path == path) return result(fBsyErr);
    if (unlink(path.c_str()) != 0) return result(errno == ENOENT ? fnfErr : ioErr);
    return result(noErr);
}

// ---------------------------------------------------------------------------------------------
// Movie files.

OSErr CreateMovieFile(const FSSpec* fileSpec, OSType, int16_t, int32_t createMovieFileFlags,
                      int16_t* resRefNum, Movie* newmovie) {
    if (resRefNum) *resRefNum = 0;
    if (newmovie) *newmovie = nullptr;
    const std::string path = specPath(fileSpec);
    if (path.empty()) return result(paramErr);
    return createStorage(path, createMovieFileFlags, nullptr, resRefNum, newmovie, aliasBytes(path));
}

OSErr AddMovieResource(Movie movie, int16_t resRefNum, int16_t* resId, const unsigned char*) {
    return onRecord(movie, invalidMovie, [&](MovieRecord& m) {
        StorageRecord* s = findStorage(resRefNum);
        if (!s) return result(rfNumErr);
        if (s->readOnly) return result(wrPermErr);
        if (OSErr err = writeMovie(*s, m)) {
            if (s->newFile) s->newFile->fail(err);
            return result(err);
        }
        // Whole now: a new file takes its destination's place.
        if (s->newFile)
            if (OSErr err = commitStatus(s->newFile->publish())) return result(err);
        markMovieSaved(m);
        if (resId) *resId = movieInDataForkResID;
        return result(noErr);
    });
}

OSErr UpdateMovieResource(Movie movie, int16_t resRefNum, int16_t, const unsigned char*) {
    return AddMovieResource(movie, resRefNum, nullptr, nullptr);
}

OSErr CloseMovieFile(int16_t resRefNum) {
    Lock lock(registry().mutex);
    StorageRecord* s = findStorage(resRefNum);
    if (!s) return result(rfNumErr);
    return result(closeStorage(s));
}

OSErr DeleteMovieFile(const FSSpec* fileSpec) {
    const std::string path = specPath(fileSpec);
    if (path.empty()) return result(paramErr);
    Handle h = nullptr;
    if (PtrToHand(path.c_str(), &h, Size(path.size() + 1)) != noErr) return result(memFullErr);
    const OSErr err = DeleteMovieStorage(h, AliasDataHandlerSubType);
    DisposeHandle(h);
    return err;
}

// ---------------------------------------------------------------------------------------------
// Existing movie files.

namespace {

// Opens an existing movie file as a storage: for reading, or for writing a new movie atom. A file
// whose movie atom follows its data at the end takes the new atom in its place; in any other
// file, new data and the new atom go after everything, and the old atom becomes free space once
// the new one is written.
OSErr openExisting(const std::string& path, bool writable, StorageRecord** out) {
    *out = nullptr;
    if (path.empty()) return couldNotResolveDataRef;
    if (writable)
        for (auto& [key, s] : registry().storages)
            if (s->path == path && !s->readOnly) return fBsyErr;
    // A file open for writing is only read: its changes go to a copy beside it (prepareToChange).
    const int fd = open(path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? fnfErr : (errno == EACCES || errno == EROFS ? OSErr(-54) : ioErr);
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return ioErr;
    }
    auto s = std::unique_ptr<StorageRecord>(new (std::nothrow) StorageRecord());
    const int16_t number = newRefNum();
    if (!s || !number) {
        close(fd);
        return s ? tmfoErr : memFullErr;
    }
    s->path = path;
    s->fd = fd;
    s->readOnly = !writable;
    s->dataStart = s->dataEnd = s->fileEnd = int64_t(st.st_size);
    if (writable) {
        reader::Source source;
        source.fd = fd;
        source.size = int64_t(st.st_size);
        reader::FileLayout layout;
        OSErr err = reader::fileLayout(source, layout);
        if (!err && layout.moovLastAfterData && (layout.mdatHeader == 16 || layout.wideBeforeData)) {
            s->mdatStart = layout.mdatHeader == 16 ? layout.mdatAt : layout.mdatAt - 8;
            s->dataStart = layout.mdatAt + layout.mdatHeader;
            s->dataEnd = layout.moovAt;
        } else if (!err) {
            // A new data atom at the end, with room for a 64-bit header.
            Bytes header = fileStart();
            s->mdatStart = source.size;
            err = prepareToChange(*s);
            if (!err) err = writeAll(s->fd, header.data() + 20, 16, s->mdatStart);
            s->dataStart = s->dataEnd = s->fileEnd = source.size + 16;
            s->oldMovieAt = layout.moovAt;
        }
        if (err) {
            if (!s->newFile) close(s->fd); // a copy made is removed with its record
            return err;
        }
    }
    s->token = reinterpret_cast<DataHandler>(newToken());
    s->refNum = number;
    StorageRecord* raw = s.get();
    try {
        registry().storages.emplace(reinterpret_cast<uintptr_t>(raw->token), std::move(s));
    } catch (const std::bad_alloc&) {
        if (s && !s->newFile) close(s->fd);
        return memFullErr;
    }
    *out = raw;
    return noErr;
}

} // namespace

OSErr OpenMovieFile(const FSSpec* fileSpec, int16_t* resRefNum, int8_t permission) {
    if (resRefNum) *resRefNum = 0;
    const std::string path = specPath(fileSpec);
    if (path.empty() || !resRefNum) return result(paramErr);
    Lock lock(registry().mutex);
    StorageRecord* s = nullptr;
    if (OSErr err = openExisting(path, (permission & fsWrPerm) != 0, &s)) return result(err);
    *resRefNum = s->refNum;
    return result(noErr);
}

OSErr NewMovieFromFile(Movie* theMovie, int16_t resRefNum, int16_t* resId, unsigned char* resName,
                       int16_t newMovieFlags, Boolean* dataRefWasChanged) {
    if (theMovie) *theMovie = nullptr;
    if (dataRefWasChanged) *dataRefWasChanged = false;
    if (resName) resName[0] = 0;
    if (!theMovie) return result(paramErr);
    std::string path;
    {
        Lock lock(registry().mutex);
        StorageRecord* s = findStorage(resRefNum);
        if (!s) return result(rfNumErr);
        path = s->path;
    }
    // The one movie of the file is in its data fork: any other id names nothing.
    if (resId && *resId != 0 && *resId != movieInDataForkResID) return result(resNotFound);
    Movie movie = nullptr;
    const OSErr err = reader::openFile(path, newMovieFlags, &movie);
    if (movie && resId) *resId = movieInDataForkResID;
    *theMovie = movie;
    return result(err);
}

OSErr OpenMovieStorage(Handle dataRef, OSType dataRefType, int32_t flags, DataHandler* outDataHandler) {
    if (outDataHandler) *outDataHandler = nullptr;
    if (!dataRef || !*dataRef || !outDataHandler) return result(paramErr);
    if (dataRefType != AliasDataHandlerSubType) return result(couldNotResolveDataRef);
    const std::string path = platform::aliasPath(dataRef);
    if (path.empty()) return result(couldNotResolveDataRef);
    Lock lock(registry().mutex);
    StorageRecord* s = nullptr;
    if (OSErr err = openExisting(path, (flags & kDataHCanWrite) != 0, &s)) return result(err);
    *outDataHandler = s->token;
    return result(noErr);
}

OSErr RemoveMovieResource(int16_t resRefNum, int16_t resId) {
    Lock lock(registry().mutex);
    StorageRecord* s = findStorage(resRefNum);
    if (!s) return result(rfNumErr);
    if (s->readOnly) return result(wrPermErr);
    if (resId != movieInDataForkResID) return result(resNotFound);
    reader::Source source;
    source.fd = s->fd;
    source.size = s->fileEnd;
    reader::FileLayout layout;
    const OSErr err = reader::fileLayout(source, layout);
    if (err == noMovieFound) return result(resNotFound);
    if (err) return result(err);
    if (OSErr e = prepareToChange(*s)) return result(e);
    uint8_t free[4];
    platform::storeBE32(free, FOUR_CHAR_CODE("free"));
    if (OSErr e = writeAll(s->fd, free, 4, layout.moovAt + 4)) {
        s->newFile->fail(e);
        return result(e);
    }
    if (s->oldMovieAt == layout.moovAt) s->oldMovieAt = -1;
    // A file without its movie is whole: closing puts it in place.
    s->copyIsWhole = true;
    return result(noErr);
}

// ---------------------------------------------------------------------------------------------
// Flattening and movies in handles.

namespace {

// Lays every sample that goes into the output one after another from `start`, and builds the
// movie atom for that layout.
struct Layout {
    std::unordered_map<const SampleRun*, int64_t> offsets;
    int64_t bytes = 0;
};

OSErr layOut(const MovieRecord& movie, AtomPlan& plan, Layout& layout, int64_t headerBefore,
             int64_t mdatHeader, Bytes& atom) {
    auto placeable = plan.selfContained ? std::function<bool(const MediaRecord&, const SampleRun&)>(
                                              [](const MediaRecord&, const SampleRun&) { return true; })
                                        : [](const MediaRecord& m, const SampleRun& r) {
                                              return !r.reference || m.dataRefs.empty();
                                          };
    layout.bytes = 0;
    for (const auto& t : movie.tracks) {
        if (!t->media) continue;
        for (const SampleRun& r : t->media->runs) {
            if (!placeable(*t->media, r)) continue;
            layout.offsets[&r] = layout.bytes;
            layout.bytes += r.count * int64_t(r.size);
        }
    }
    int64_t base = 0;
    plan.runOffset = [&](const MediaRecord&, const SampleRun& r) -> int64_t {
        auto it = layout.offsets.find(&r);
        return it == layout.offsets.end() ? r.dataOffset : base + it->second;
    };
    // The atom's size depends only on whether offsets are 64-bit: build it once to learn the
    // size, then again with the real offsets.
    if (OSErr err = buildMovieAtom(movie, plan, atom)) return err;
    base = headerBefore + int64_t(atom.size()) + mdatHeader;
    if (base + layout.bytes > int64_t(UINT32_MAX) && !plan.wideOffsets) {
        plan.wideOffsets = true;
        if (OSErr err = buildMovieAtom(movie, plan, atom)) return err;
        base = headerBefore + int64_t(atom.size()) + mdatHeader;
    }
    const OSErr err = buildMovieAtom(movie, plan, atom);
    plan.runOffset = nullptr;
    return err;
}

} // namespace

// Flattening tells the movie's progress procedure about its work (PlatformMovieExport.h).
void FlattenMovie(Movie movie, int32_t, const FSSpec* fileSpec, OSType, int16_t, int32_t createMovieFileFlags,
                  int16_t* resId, const unsigned char*) {
    if (!onRecord(movie, false, [](MovieRecord&) { return true; })) return;
    const std::string path = specPath(fileSpec);
    if (path.empty()) {
        result(paramErr);
        return;
    }
    const OSErr err = writeFlattenedMovie(movie, path, createMovieFileFlags, progressOpFlatten, movie);
    if (!err && resId) *resId = movieInDataForkResID;
    result(err);
}

OSErr PutMovieIntoHandle(Movie movie, Handle publicMovie) {
    return onRecord(movie, invalidMovie, [&](MovieRecord& m) {
        if (!publicMovie) return result(nilHandleErr);
        AtomPlan plan;
        // The handle is no file: references to files stay references.
        plan.isSelf = [](const MediaRecord&, size_t) { return false; };
        Layout layout;
        Bytes atom;
        try {
            if (OSErr err = layOut(m, plan, layout, 0, 8, atom)) return result(err);
        } catch (const std::bad_alloc&) {
            return result(memFullErr);
        }
        const int64_t total = int64_t(atom.size()) + (layout.bytes ? 8 + layout.bytes : 0);
        if (total > INT32_MAX) return result(paramErr);
        SetHandleSize(publicMovie, Size(total));
        if (MemError() != noErr || GetHandleSize(publicMovie) != Size(total)) return result(memFullErr);
        auto* out = reinterpret_cast<uint8_t*>(*publicMovie);
        std::memcpy(out, atom.data(), atom.size());
        if (layout.bytes) {
            uint8_t* data = out + atom.size();
            platform::storeBE32(data, uint32_t(8 + layout.bytes));
            platform::storeBE32(data + 4, FOUR_CHAR_CODE("mdat"));
            for (const auto& t : m.tracks) {
                if (!t->media) continue;
                for (const SampleRun& r : t->media->runs) {
                    auto it = layout.offsets.find(&r);
                    if (it == layout.offsets.end()) continue;
                    uint8_t* at = data + 8 + it->second;
                    if (OSErr err = copyRun(*t->media, r, [&](const uint8_t* p, size_t n) {
                            std::memcpy(at, p, n);
                            at += n;
                            return noErr;
                        }))
                        return result(err);
                }
            }
        }
        return result(noErr);
    });
}

OSErr SetMovieDefaultDataRef(Movie movie, Handle dataRef, OSType dataRefType) {
    if (!dataRef || !*dataRef || dataRefType == 0) return platform::setMoviesError(paramErr);
    const Size size = GetHandleSize(dataRef);
    if (size < 0) return platform::setMoviesError(paramErr);
    return onRecord(movie, invalidMovie, [&](MovieRecord& m) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(*dataRef);
        m.defaultDataRef.type = dataRefType;
        m.defaultDataRef.bytes.assign(bytes, bytes + size);
        return result(noErr);
    });
}

OSErr GetMovieDefaultDataRef(Movie movie, Handle* outDataRef, OSType* outDataRefType) {
    if (outDataRef) *outDataRef = nullptr;
    if (outDataRefType) *outDataRefType = 0;
    return onRecord(movie, invalidMovie, [&](MovieRecord& m) {
        if (!m.defaultDataRef.type) return result(couldNotResolveDataRef);
        if (outDataRef && PtrToHand(m.defaultDataRef.bytes.data(), outDataRef,
                                    Size(m.defaultDataRef.bytes.size())) != noErr)
            return result(memFullErr);
        if (outDataRefType) *outDataRefType = m.defaultDataRef.type;
        return result(noErr);
    });
}
