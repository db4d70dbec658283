#include "PlatformMovieFileReader.h"
#include "PlatformMovieFileReaderParse.h"

#include "PlatformComponents.h"
#include "PlatformDataRef.h"
#include "PlatformEndian.h"
#include "PlatformFiles.h"
#include "PlatformMemory.h"
#include "PlatformMovieFiles.h"
#include "PlatformPendingCalls.h"
#include "PlatformProperties.h"
#include "PlatformQTFileFormat.h"

#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

using namespace platform::movie;

namespace {

using Lock = std::lock_guard<std::mutex>;

// A reference movie may name another: a chain ends after a few steps, so that a loop cannot hang.
constexpr int kMaxReferenceSteps = 4;

// ---------------------------------------------------------------------------------------------
// Changes: a movie's state is what its movie atom would hold; the saved state is a digest of it.

std::unordered_map<uintptr_t, uint64_t>& savedDigests() {
    static auto* map = new std::unordered_map<uintptr_t, uint64_t>();
    return *map;
}

uint64_t digestOf(const MovieRecord& movie) {
    AtomPlan plan;
    plan.isSelf = [](const MediaRecord&, size_t) { return false; };
    // Where each run's bytes lie, and whether in memory or in a data reference.
    plan.runOffset = [](const MediaRecord&, const SampleRun& r) -> int64_t {
        return r.dataOffset + (r.reference ? 0 : (int64_t(1) << 61));
    };
    plan.wideOffsets = true;
    Bytes atom;
    OSErr err = noErr;
    try {
        err = buildMovieAtom(movie, plan, atom);
    } catch (const std::bad_alloc&) {
        err = memFullErr;
    }
    // The current time is where the movie plays, not a change of it.
    if (!err && atom.size() >= 124) {
        const size_t at = atom[16] == 1 ? 120 : 108;
        std::memset(atom.data() + at, 0, 4);
    }
    uint64_t h = 1469598103934665603ull;
    auto mix = [&](uint8_t b) {
        h ^= b;
        h *= 1099511628211ull;
    };
    for (uint8_t b : atom)
        mix(b);
    mix(uint8_t(err & 0xFF));
    mix(uint8_t(uint16_t(err) >> 8));
    return h;
}

// The state of a movie as NewMovie makes it, for movies that were never opened or written.
uint64_t newMovieDigest() {
    static const uint64_t digest = [] {
        MovieRecord fresh;
        SetIdentityMatrix(&fresh.matrix);
        return digestOf(fresh);
    }();
    return digest;
}

// ---------------------------------------------------------------------------------------------
// Opening.

// Checks that every file the movie's samples lie in exists.
OSErr resolveDataRefs(Movie movie) {
    Lock lock(registry().mutex);
    MovieRecord* m = findMovie(movie);
    if (!m) return invalidMovie;
    for (const auto& t : m->tracks) {
        if (!t->media) continue;
        for (const DataRef& ref : t->media->dataRefs) {
            const std::string path = refPath(ref);
            if (path.empty()) continue;
            struct stat st {};
            if (stat(path.c_str(), &st) != 0) return couldNotResolveDataRef;
        }
    }
    return noErr;
}

OSErr openSource(const reader::Source& source, int16_t flags, int steps, Movie* movie);

OSErr openPath(const std::string& path, int16_t flags, int steps, Movie* movie) {
    *movie = nullptr;
    if (path.empty()) return couldNotResolveDataRef;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? fnfErr : couldNotResolveDataRef;
    struct stat st {};
    OSErr err = noErr;
    if (fstat(fd, &st) != 0)
        err = ioErr;
    else if (!S_ISREG(st.st_mode))
        err = couldNotResolveDataRef;
    if (!err) {
        reader::Source source;
        source.fd = fd;
        source.size = int64_t(st.st_size);
        source.path = path;
        err = openSource(source, flags, steps, movie);
    }
    close(fd);
    return err;
}

OSErr openSource(const reader::Source& source, int16_t flags, int steps, Movie* movie) {
    *movie = nullptr;
    reader::ParsedMovie parsed;
    OSErr err = noErr;
    try {
        err = reader::parseSource(source, parsed);
    } catch (const std::bad_alloc&) {
        err = memFullErr;
    }
    if (err) return err;
    if (parsed.isReference) {
        if (steps >= kMaxReferenceSteps) return badPublicMovieAtom;
        if (parsed.target.type != AliasDataHandlerSubType) return couldNotResolveDataRef;
        const std::string path = refPath(parsed.target);
        err = openPath(path, flags, steps + 1, movie);
        return err == fnfErr ? couldNotResolveDataRef : err;
    }
    try {
        err = reader::buildMovie(parsed, source, flags, movie);
    } catch (const std::bad_alloc&) {
        err = memFullErr;
    }
    if (err) return err;
    if (!(flags & newMovieDontResolveDataRefs)) return resolveDataRefs(*movie);
    return noErr;
}

// The bytes a memory reference names: 'hndl' a handle, 'ptr ' an address and a length.
bool memoryOfDataRef(Handle dataRef, OSType type, const uint8_t** data, int64_t* size) {
    const Size refSize = GetHandleSize(dataRef);
    if (type == HandleDataHandlerSubType) {
        Handle h = nullptr;
        if (refSize < Size(sizeof h)) return false;
        std::memcpy(&h, *dataRef, sizeof h);
        if (!h || !*h) return false;
        *data = reinterpret_cast<const uint8_t*>(*h);
        *size = std::max<Size>(GetHandleSize(h), 0);
        return true;
    }
    if (type == PointerDataHandlerSubType) {
        const uint8_t* p = nullptr;
        uint32_t length = 0;
        if (refSize < Size(sizeof p + sizeof length)) return false;
        std::memcpy(&p, *dataRef, sizeof p);
        std::memcpy(&length, *dataRef + sizeof p, sizeof length);
        if (!p) return false;
        *data = p;
        *size = length;
        return true;
    }
    return false;
}

OSErr openDataRef(Handle dataRef, OSType type, int16_t flags, Movie* movie) {
    *movie = nullptr;
    if (!dataRef || !*dataRef) return paramErr;
    if (type == AliasDataHandlerSubType) {
        const OSErr err = openPath(platform::aliasPath(dataRef), flags, 0, movie);
        return err == fnfErr ? couldNotResolveDataRef : err;
    }
    const uint8_t* data = nullptr;
    int64_t size = 0;
    if (!memoryOfDataRef(dataRef, type, &data, &size)) return couldNotResolveDataRef;
    return reader::openMemory(data, size, flags, movie);
}

// ---------------------------------------------------------------------------------------------
// Sizes and loading.

// The samples of a media whose decode intervals meet [start, end), one run at a time.
template <class Visit> void samplesInRange(const MediaRecord& m, int64_t start, int64_t end, Visit&& visit) {
    for (const SampleRun& r : m.runs) {
        if (r.firstDecodeTime >= end) break;
        int64_t first = 0, last = r.count; // [first, last)
        if (r.duration > 0) {
            if (start > r.firstDecodeTime) first = floorDiv(start - r.firstDecodeTime, r.duration);
            last = std::min<int64_t>(r.count, ceilDiv(end - r.firstDecodeTime, r.duration));
        } else if (r.firstDecodeTime < start) {
            continue;
        }
        if (first < last) visit(r, first, last - first);
    }
}

// The media ranges that [start, end) of a track shows, in media decode time.
template <class Visit>
void mediaRangesOfTrack(const TrackRecord& t, int64_t start, int64_t end, Visit&& visit) {
    int64_t at = 0;
    for (const Edit& e : t.edits) {
        const int64_t from = std::max(start, at), to = std::min(end, at + e.length);
        if (!e.empty && from < to) {
            const int64_t a = mediaTimeAt(e, from - at);
            const int64_t b = std::max(mediaTimeAt(e, to - at - 1) + 1, mediaTimeAt(e, to - at));
            visit(a, std::max(b, a + 1));
        }
        at += e.length;
        if (at >= end) break;
    }
}

void storeWide(wide* out, int64_t value) {
    out->lo = uint32_t(uint64_t(value));
    out->hi = int32_t(value >> 32);
}

int64_t mediaBytes(const MediaRecord& m, int64_t start, int64_t end) {
    int64_t total = 0;
    samplesInRange(m, start, end,
                   [&](const SampleRun& r, int64_t, int64_t n) { total += n * int64_t(r.size); });
    return total;
}

int64_t trackBytes(const TrackRecord& t, int64_t start, int64_t end) {
    if (!t.media) return 0;
    int64_t total = 0;
    mediaRangesOfTrack(t, start, end, [&](int64_t a, int64_t b) { total += mediaBytes(*t.media, a, b); });
    return total;
}

// Reads the samples in [start, end) of the media through, a block at a time.
OSErr loadMedia(const MediaRecord& m, int64_t start, int64_t end) {
    constexpr int64_t kBlock = int64_t(1) << 20;
    Bytes block;
    OSErr err = noErr;
    try {
        samplesInRange(m, start, end, [&](const SampleRun& r, int64_t first, int64_t n) {
            if (err || !r.reference) return;
            int64_t offset = r.dataOffset + first * int64_t(r.size);
            for (int64_t left = n * int64_t(r.size); left > 0 && !err;) {
                const int64_t k = std::min(left, kBlock);
                block.resize(size_t(k));
                err = readSampleBytes(m, r, offset, size_t(k), block.data());
                offset += k;
                left -= k;
            }
        });
    } catch (const std::bad_alloc&) {
        err = memFullErr;
    }
    return err;
}

OSErr loadTrack(const TrackRecord& t, int64_t start, int64_t end) {
    if (!t.media) return noErr;
    OSErr err = noErr;
    mediaRangesOfTrack(t, start, end, [&](int64_t a, int64_t b) {
        if (!err) err = loadMedia(*t.media, a, b);
    });
    return err;
}

bool validRange(TimeValue time, TimeValue duration) {
    return time >= 0 && duration >= 0;
}

int64_t rangeEnd(TimeValue time, TimeValue duration) {
    return int64_t(time) + int64_t(duration);
}

// The movie importer this layer registers for its own movie files.
Component movieImporter() {
    static Component component = [] {
        ComponentDescription d{FOUR_CHAR_CODE("eat "), FOUR_CHAR_CODE("MooV"), platform::kVendorCode, 0, 0};
        return platform::registerComponent(d, "Movie file", "Reads movie files", nullptr, {}, nullptr);
    }();
    return component;
}

} // namespace

namespace platform::movie {

void markMovieSaved(const MovieRecord& movie) {
    try {
        auto& map = savedDigests();
        // Movies disposed of since leave their entries behind: drop them now and then.
        if (map.size() >= 2 * registry().movies.size() + 64)
            std::erase_if(map, [](const auto& entry) { return !registry().movies.count(entry.first); });
        map[reinterpret_cast<uintptr_t>(movie.token)] = digestOf(movie);
    } catch (const std::bad_alloc&) {
    }
}

} // namespace platform::movie

namespace platform::movie::reader {

OSErr openFile(const std::string& path, int16_t flags, Movie* movie) {
    return openPath(path, flags, 0, movie);
}

OSErr openMemory(const uint8_t* data, int64_t size, int16_t flags, Movie* movie) {
    Source source;
    source.memory = data;
    source.size = size;
    return openSource(source, flags, 0, movie);
}

bool fileHoldsMovie(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    bool holds = false;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        Source source;
        source.fd = fd;
        source.size = int64_t(st.st_size);
        holds = holdsMovie(source);
    }
    close(fd);
    return holds;
}

} // namespace platform::movie::reader

// ---------------------------------------------------------------------------------------------
// Movies from data references, handles and properties.

OSErr NewMovieFromDataRef(Movie* m, int16_t flags, int16_t* id, Handle dataRef, OSType dataRefType) {
    if (m) *m = nullptr;
    if (!m) return result(paramErr);
    Movie movie = nullptr;
    const OSErr err = openDataRef(dataRef, dataRefType, flags, &movie);
    if (movie && id) *id = dataRefType == AliasDataHandlerSubType ? movieInDataForkResID : 0;
    *m = movie;
    return result(err);
}

OSErr NewMovieFromHandle(Movie* theMovie, Handle h, int16_t newMovieFlags, Boolean* dataRefWasChanged) {
    if (theMovie) *theMovie = nullptr;
    if (dataRefWasChanged) *dataRefWasChanged = false;
    if (!theMovie) return result(paramErr);
    if (!h || !*h) return result(nilHandleErr);
    Movie movie = nullptr;
    const OSErr err = platform::movie::reader::openMemory(
        reinterpret_cast<const uint8_t*>(*h), std::max<Size>(GetHandleSize(h), 0), newMovieFlags, &movie);
    *theMovie = movie;
    return result(err);
}

OSStatus NewMovieFromProperties(ItemCount inputPropertyCount, QTNewMoviePropertyElement* inputProperties,
                                ItemCount outputPropertyCount, QTNewMoviePropertyElement* outputProperties,
                                Movie* theMovie) {
    if (theMovie) *theMovie = nullptr;
    if (!theMovie || (inputPropertyCount && !inputProperties) || (outputPropertyCount && !outputProperties))
        return result(paramErr);
    int16_t flags = 0;
    enum class Location { none, dataRef, scrap, handle } location = Location::none;
    DataReferenceRecord ref{0, nullptr};
    Handle handle = nullptr;
    OSStatus status = noErr;
    auto flag = [&](QTNewMoviePropertyElement& p, int16_t bit) {
        if (p.propValueSize < 1 || !p.propValueAddress) return kQTPropertyBadValueSizeErr;
        if (*static_cast<const uint8_t*>(p.propValueAddress))
            flags |= bit;
        else
            flags &= int16_t(~bit);
        return noErr;
    };
    for (ItemCount i = 0; i < inputPropertyCount; ++i) {
        QTNewMoviePropertyElement& p = inputProperties[i];
        OSStatus s = noErr;
        if (p.propClass == kQTPropertyClass_DataLocation) {
            if (location != Location::none)
                s = paramErr; // one place to read the movie from
            else if (p.propID == kQTDataLocationPropertyID_DataReference) {
                if (p.propValueSize < sizeof ref || !p.propValueAddress)
                    s = kQTPropertyBadValueSizeErr;
                else {
                    std::memcpy(&ref, p.propValueAddress, sizeof ref);
                    location = Location::dataRef;
                }
            } else if (p.propID == kQTDataLocationPropertyID_Scrap) {
                location = Location::scrap;
            } else if (p.propID == kQTDataLocationPropertyID_MovieHandle ||
                       p.propID == kQTDataLocationPropertyID_LegacyMovieResourceHandle) {
                if (p.propValueSize < sizeof handle || !p.propValueAddress)
                    s = kQTPropertyBadValueSizeErr;
                else {
                    std::memcpy(&handle, p.propValueAddress, sizeof handle);
                    location = Location::handle;
                }
            } else {
                s = kQTPropertyNotSupportedErr;
            }
        } else if (p.propClass == kQTPropertyClass_MovieInstantiation) {
            if (p.propID == kQTMovieInstantiationPropertyID_DontResolveDataRefs)
                s = flag(p, newMovieDontResolveDataRefs);
            else if (p.propID == kQTMovieInstantiationPropertyID_DontAskUnresolvedDataRefs)
                s = flag(p, newMovieDontAskUnresolvedDataRefs);
            else if (p.propID == kQTMovieInstantiationPropertyID_AsyncOK)
                s = flag(p, newMovieAsyncOK);
            else
                s = kQTPropertyNotSupportedErr;
        } else if (p.propClass == kQTPropertyClass_NewMovieProperty) {
            if (p.propID == kQTNewMoviePropertyID_Active)
                s = flag(p, newMovieActive);
            else if (p.propID == kQTNewMoviePropertyID_DontInteractWithUser)
                s = flag(p, newMovieDontInteractWithUser);
            else
                s = kQTPropertyNotSupportedErr;
        } else if (p.propClass == kQTPropertyClass_Audio &&
                   p.propID == kQTAudioPropertyID_ChannelLayoutPolicy) {
            s = p.propValueSize >= 1 && p.propValueAddress ? noErr : kQTPropertyBadValueSizeErr;
        } else if (p.propClass == kQTPropertyClass_Context &&
                   p.propID == kQTContextPropertyID_VisualContext) {
            // No visual context draws movies here: the setting is taken and changes nothing.
            if (p.propValueSize < 4 || !p.propValueAddress) s = kQTPropertyBadValueSizeErr;
        } else {
            s = kQTPropertyNotSupportedErr;
        }
        p.propStatus = s;
        // A property this layer does not know is reported on itself; a bad one fails the call.
        if (s != noErr && s != kQTPropertyNotSupportedErr && !status) status = s;
    }
    if (status) return result(OSErr(status));

    Movie movie = nullptr;
    OSErr err = noErr;
    switch (location) {
    case Location::none:
        movie = NewMovie(flags & newMovieActive);
        err = movie ? noErr : memFullErr;
        if (movie) {
            SetMovieActive(movie, (flags & newMovieActive) != 0);
            err = noErr;
        }
        break;
    case Location::dataRef:
        err = openDataRef(ref.dataRef, ref.dataRefType, flags, &movie);
        break;
    case Location::scrap:
        movie = NewMovieFromScrap(flags);
        err = GetMoviesError();
        break;
    case Location::handle:
        if (!handle || !*handle)
            err = nilHandleErr;
        else
            err =
                platform::movie::reader::openMemory(reinterpret_cast<const uint8_t*>(*handle),
                                                    std::max<Size>(GetHandleSize(handle), 0), flags, &movie);
        break;
    }
    for (ItemCount i = 0; i < outputPropertyCount; ++i) {
        QTNewMoviePropertyElement& p = outputProperties[i];
        if (p.propClass == kQTPropertyClass_MovieResourceLocator &&
            p.propID == kQTMovieResourceLocatorPropertyID_FileOffset) {
            if (p.propValueSize != sizeof(int16_t) || !p.propValueAddress) {
                p.propStatus = kQTPropertyBadValueSizeErr;
                continue;
            }
            const int16_t id = location == Location::dataRef && ref.dataRefType == AliasDataHandlerSubType
                                   ? movieInDataForkResID
                                   : 0;
            std::memcpy(p.propValueAddress, &id, sizeof id);
            p.propStatus = noErr;
        } else {
            p.propStatus = kQTPropertyNotSupportedErr;
        }
    }
    *theMovie = movie;
    return result(err);
}

// ---------------------------------------------------------------------------------------------
// Shortcuts and flattened copies.

OSErr CreateShortcutMovieFile(const FSSpec* fileSpec, OSType, int16_t, int32_t createMovieFileFlags,
                              Handle targetDataRef, OSType targetDataRefType) {
    if (!fileSpec || !std::memchr(fileSpec->path, 0, sizeof fileSpec->path) || !fileSpec->path[0] ||
        !targetDataRef || !*targetDataRef)
        return result(paramErr);
    const Size refSize = GetHandleSize(targetDataRef);
    if (refSize < 0 || refSize > (1 << 20)) return result(paramErr);
    const std::string path = fileSpec->path;
    struct stat st {};
    if (stat(path.c_str(), &st) == 0 && !(createMovieFileFlags & createMovieFileDeleteCurFile))
        return result(dupFNErr);
    // ftyp, then moov { rmra { rmda { rdrf: flags, type, size, reference } } }.
    Bytes b;
    auto u32 = [&](uint32_t v) {
        uint8_t x[4];
        platform::storeBE32(x, v);
        b.insert(b.end(), x, x + 4);
    };
    const uint32_t rdrf = 8 + 12 + uint32_t(refSize);
    u32(20);
    u32(FOUR_CHAR_CODE("ftyp"));
    u32(FOUR_CHAR_CODE("qt  "));
    u32(0x20050300);
    u32(FOUR_CHAR_CODE("qt  "));
    u32(8 + 8 + 8 + rdrf);
    u32(FOUR_CHAR_CODE("moov"));
    u32(8 + 8 + rdrf);
    u32(FOUR_CHAR_CODE("rmra"));
    u32(8 + rdrf);
    u32(FOUR_CHAR_CODE("rmda"));
    u32(rdrf);
    u32(FOUR_CHAR_CODE("rdrf"));
    u32(0);
    u32(targetDataRefType);
    u32(uint32_t(refSize));
    b.insert(b.end(), *targetDataRef, *targetDataRef + refSize);
    // Written whole or not at all: a failure leaves what was at the path.
    const OSErr err = PlatformWriteWholeFile(path.c_str(), b.data(), b.size());
    return result(err == noErr ? noErr : err == fnfErr || err == dirNFErr ? fnfErr : ioErr);
}

Movie FlattenMovieData(Movie theMovie, int32_t movieFlattenFlags, const FSSpec* theFile, OSType creator,
                       int16_t scriptTag, int32_t createMovieFileFlags) {
    FlattenMovie(theMovie, movieFlattenFlags, theFile, creator, scriptTag, createMovieFileFlags, nullptr,
                 nullptr);
    if (OSErr err = GetMoviesError()) {
        result(err);
        return nullptr;
    }
    Movie movie = nullptr;
    const OSErr err = platform::movie::reader::openFile(
        theFile->path, int16_t(createMovieFileFlags & newMovieActive), &movie);
    result(err);
    return movie;
}

// ---------------------------------------------------------------------------------------------
// Changes.

Boolean HasMovieChanged(Movie theMovie) {
    return onRecordNoErr(theMovie, Boolean(false), [](MovieRecord& m) -> Boolean {
        const auto& map = savedDigests();
        auto it = map.find(reinterpret_cast<uintptr_t>(m.token));
        const uint64_t saved = it == map.end() ? newMovieDigest() : it->second;
        return digestOf(m) != saved;
    });
}

void ClearMovieChanged(Movie theMovie) {
    onRecordNoErr(theMovie, [](MovieRecord& m) { markMovieSaved(m); });
}

// ---------------------------------------------------------------------------------------------
// Importers.

OSErr GetMovieImporterForDataRef(OSType dataRefType, Handle dataRef, int32_t, Component* importer) {
    if (importer) *importer = nullptr;
    if (!importer || !dataRef || !*dataRef) return result(paramErr);
    bool holds = false;
    if (dataRefType == AliasDataHandlerSubType) {
        holds = platform::movie::reader::fileHoldsMovie(platform::aliasPath(dataRef));
    } else {
        const uint8_t* data = nullptr;
        int64_t size = 0;
        if (memoryOfDataRef(dataRef, dataRefType, &data, &size)) {
            platform::movie::reader::Source source;
            source.memory = data;
            source.size = size;
            holds = platform::movie::reader::holdsMovie(source);
        }
    }
    if (!holds) return result(cantFindHandler);
    *importer = movieImporter();
    return result(*importer ? noErr : cantFindHandler);
}

// ---------------------------------------------------------------------------------------------
// Sizes and loading.

OSErr GetMediaDataSize64(Media theMedia, TimeValue startTime, TimeValue duration, wide* dataSize) {
    if (dataSize) *dataSize = {0, 0};
    return onRecord(theMedia, invalidMedia, [&](MediaRecord& m) {
        if (!dataSize || !validRange(startTime, duration)) return result(paramErr);
        storeWide(dataSize, mediaBytes(m, startTime, rangeEnd(startTime, duration)));
        return result(noErr);
    });
}

OSErr GetTrackDataSize64(Track theTrack, TimeValue startTime, TimeValue duration, wide* dataSize) {
    if (dataSize) *dataSize = {0, 0};
    return onRecord(theTrack, invalidTrack, [&](TrackRecord& t) {
        if (!dataSize || !validRange(startTime, duration)) return result(paramErr);
        storeWide(dataSize, trackBytes(t, startTime, rangeEnd(startTime, duration)));
        return result(noErr);
    });
}

OSErr GetMovieDataSize64(Movie theMovie, TimeValue startTime, TimeValue duration, wide* dataSize) {
    if (dataSize) *dataSize = {0, 0};
    return onRecord(theMovie, invalidMovie, [&](MovieRecord& m) {
        if (!dataSize || !validRange(startTime, duration)) return result(paramErr);
        int64_t total = 0;
        for (const auto& t : m.tracks)
            total += trackBytes(*t, startTime, rangeEnd(startTime, duration));
        storeWide(dataSize, total);
        return result(noErr);
    });
}

OSErr LoadMediaIntoRam(Media theMedia, TimeValue time, TimeValue duration, int32_t) {
    return onRecord(theMedia, invalidMedia, [&](MediaRecord& m) {
        if (!validRange(time, duration)) return result(paramErr);
        return result(loadMedia(m, time, rangeEnd(time, duration)));
    });
}

OSErr LoadTrackIntoRam(Track theTrack, TimeValue time, TimeValue duration, int32_t) {
    return onRecord(theTrack, invalidTrack, [&](TrackRecord& t) {
        if (!validRange(time, duration)) return result(paramErr);
        return result(loadTrack(t, time, rangeEnd(time, duration)));
    });
}

OSErr LoadMovieIntoRam(Movie theMovie, TimeValue time, TimeValue duration, int32_t) {
    return onRecord(theMovie, invalidMovie, [&](MovieRecord& m) {
        if (!validRange(time, duration)) return result(paramErr);
        for (const auto& t : m.tracks)
            if (OSErr err = loadTrack(*t, time, rangeEnd(time, duration))) return result(err);
        return result(noErr);
    });
}

int32_t GetMovieLoadState(Movie theMovie) {
    return onRecordNoErr(theMovie, int32_t(kMovieLoadStateError),
                         [](MovieRecord&) { return int32_t(kMovieLoadStateComplete); });
}
