// Flattened movie files are written from a plan made under the registry's lock (the movie atom
// and, for every run of samples, where its bytes go); the bytes are then copied a block at a
// time, each block read under the lock and written and reported without it, so that a progress
// procedure may call the movie layer. The file is written under a temporary name beside the
// destination and renamed over it at the end: a failed or cancelled export leaves whatever was
// there before, and a movie may be exported over a file its own samples are read from.
#include "PlatformMovieExport.h"

#include "PlatformDataRef.h"
#include "PlatformEndian.h"
#include "PlatformFiles.h"
#include "PlatformFixed.h"
#include "PlatformMovieFiles.h"
#include "PlatformMovieModel.h"
#include "PlatformQTFileFormat.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

using namespace platform::movie;

namespace {

using Lock = std::lock_guard<std::mutex>;

constexpr size_t kBlock = size_t(1) << 20;

// The movie's progress procedure, read once when an operation starts.
class Progress {
  public:
    Progress(Movie movie, int16_t operation) : movie_(movie), operation_(operation) {
        Lock lock(registry().mutex);
        if (MovieRecord* m = findMovie(movie)) {
            proc_ = m->progressProc;
            refcon_ = m->progressRefCon;
        }
        // The platform's own procedure shows nothing.
        if (proc_ == kMovieProgressDefault) proc_ = nullptr;
    }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;
    ~Progress() {
        if (opened_) proc_(movie_, movieProgressClose, operation_, fixed1, refcon_);
    }

    OSErr open() {
        if (!proc_) return noErr;
        opened_ = true;
        return proc_(movie_, movieProgressOpen, operation_, 0, refcon_) == noErr ? noErr : userCanceledErr;
    }
    // The fraction done; userCanceledErr when the procedure asks to stop.
    OSErr update(int64_t done, int64_t total) {
        if (!proc_) return noErr;
        const Fixed fraction = total <= 0 ? fixed1 : Fixed((__int128(done) * fixed1) / total);
        return proc_(movie_, movieProgressUpdatePercent, operation_, fraction, refcon_) == noErr
                   ? noErr
                   : userCanceledErr;
    }

  private:
    Movie movie_;
    int16_t operation_;
    MovieProgressProcPtr proc_ = nullptr;
    intptr_t refcon_ = 0;
    bool opened_ = false;
};

// A run of samples to copy: found again by its media and first sample, since the lock is let go
// between blocks.
struct Job {
    Media media = nullptr;
    int64_t firstNumber = 0;
    int64_t dataOffset = 0;
    int64_t bytes = 0;
};

struct Plan {
    Bytes atom;
    std::vector<Job> jobs;
    int64_t total = 0;
    int64_t mdatHeader = 8;
};

constexpr int64_t kFileTypeAtomSize = 20;

// The movie atom for a file of a file type atom, the movie atom, then one 'mdat' holding every
// sample in track and run order (under the lock).
OSErr makePlan(const MovieRecord& movie, Plan& plan) {
    AtomPlan atomPlan;
    atomPlan.selfContained = true;
    atomPlan.isSelf = [](const MediaRecord&, size_t) { return true; };
    std::unordered_map<const SampleRun*, int64_t> offsets;
    for (const auto& t : movie.tracks) {
        if (!t->media) continue;
        for (const SampleRun& r : t->media->runs) {
            const int64_t bytes = r.count * int64_t(r.size);
            offsets[&r] = plan.total;
            plan.jobs.push_back(Job{t->media->token, r.firstNumber, r.dataOffset, bytes});
            plan.total += bytes;
        }
    }
    plan.mdatHeader = plan.total + 8 > int64_t(UINT32_MAX) ? 16 : 8;
    int64_t base = 0;
    atomPlan.runOffset = [&](const MediaRecord&, const SampleRun& r) -> int64_t {
        auto it = offsets.find(&r);
        return it == offsets.end() ? r.dataOffset : base + it->second;
    };
    // The atom's size depends only on whether offsets are 64-bit: built once to learn it, then
    // with the offsets that follow from it.
    if (OSErr err = buildMovieAtom(movie, atomPlan, plan.atom)) return err;
    base = kFileTypeAtomSize + int64_t(plan.atom.size()) + plan.mdatHeader;
    if (base + plan.total > int64_t(UINT32_MAX) && !atomPlan.wideOffsets) {
        atomPlan.wideOffsets = true;
        if (OSErr err = buildMovieAtom(movie, atomPlan, plan.atom)) return err;
        base = kFileTypeAtomSize + int64_t(plan.atom.size()) + plan.mdatHeader;
    }
    return buildMovieAtom(movie, atomPlan, plan.atom);
}

// Reads the next block of a job under the lock; the media or its run gone means the movie was
// changed under the export.
OSErr readBlock(const Job& job, int64_t done, size_t n, uint8_t* out) {
    Lock lock(registry().mutex);
    MediaRecord* m = findMedia(job.media);
    if (!m) return invalidMedia;
    const SampleRun* r = runOfNumber(*m, job.firstNumber);
    if (!r || r->firstNumber != job.firstNumber || r->dataOffset != job.dataOffset ||
        r->count * int64_t(r->size) < job.bytes)
        return invalidMedia;
    return readSampleBytes(*m, *r, job.dataOffset + done, n, out);
}

OSErr writeFile(int fd, const Plan& plan, Progress& progress) {
    uint8_t head[kFileTypeAtomSize];
    platform::storeBE32(head, uint32_t(kFileTypeAtomSize));
    platform::storeBE32(head + 4, FOUR_CHAR_CODE("ftyp"));
    platform::storeBE32(head + 8, FOUR_CHAR_CODE("qt  "));
    platform::storeBE32(head + 12, 0x20050300);
    platform::storeBE32(head + 16, FOUR_CHAR_CODE("qt  "));
    // The file is written front to back; `at` is where the next bytes go.
    int64_t at = 0;
    auto put = [&](const uint8_t* data, size_t size) {
        const OSErr err = writeAll(fd, data, size, at);
        at += int64_t(size);
        return err;
    };
    if (OSErr err = put(head, sizeof head)) return err;
    if (OSErr err = put(plan.atom.data(), plan.atom.size())) return err;
    uint8_t mdat[16];
    if (plan.mdatHeader == 8) {
        platform::storeBE32(mdat, uint32_t(plan.total + 8));
        platform::storeBE32(mdat + 4, FOUR_CHAR_CODE("mdat"));
    } else {
        const uint64_t size = uint64_t(plan.total + 16);
        platform::storeBE32(mdat, 1);
        platform::storeBE32(mdat + 4, FOUR_CHAR_CODE("mdat"));
        platform::storeBE32(mdat + 8, uint32_t(size >> 32));
        platform::storeBE32(mdat + 12, uint32_t(size));
    }
    if (OSErr err = put(mdat, size_t(plan.mdatHeader))) return err;
    std::vector<uint8_t> block;
    try {
        block.resize(size_t(std::min<int64_t>(plan.total, int64_t(kBlock))));
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
    int64_t written = 0;
    for (const Job& job : plan.jobs) {
        for (int64_t done = 0; done < job.bytes;) {
            const size_t n = size_t(std::min<int64_t>(job.bytes - done, int64_t(block.size())));
            if (OSErr err = readBlock(job, done, n, block.data())) return err;
            if (OSErr err = put(block.data(), n)) return err;
            done += int64_t(n);
            written += int64_t(n);
            if (OSErr err = progress.update(written, plan.total)) return err;
        }
    }
    // Every movie, even one without samples, reports that it is done.
    if (plan.total == 0) return progress.update(1, 1);
    return noErr;
}

// A new movie of the source's scale and matrix holding a copy of the one track.
Movie singleTrackMovie(Movie source, Track track, OSErr& err) {
    Movie copy = NewMovie(0);
    if (!copy) {
        err = GetMoviesError();
        return nullptr;
    }
    auto fail = [&](OSErr e) -> Movie {
        DisposeMovie(copy);
        err = e ? e : OSErr(memFullErr);
        return nullptr;
    };
    SetMovieTimeScale(copy, GetMovieTimeScale(source));
    MatrixRecord matrix;
    GetMovieMatrix(source, &matrix);
    SetMovieMatrix(copy, &matrix);
    Fixed width = 0, height = 0;
    GetTrackDimensions(track, &width, &height);
    Track t = NewMovieTrack(copy, width, height, GetTrackVolume(track));
    if (!t) return fail(GetMoviesError());
    GetTrackMatrix(track, &matrix);
    SetTrackMatrix(t, &matrix);
    SetTrackLayer(t, GetTrackLayer(track));
    SetTrackEnabled(t, GetTrackEnabled(track));
    if (Media media = GetTrackMedia(track)) {
        OSType type = 0;
        GetMediaHandlerDescription(media, &type, nullptr, nullptr);
        Media m = NewTrackMedia(t, type, GetMediaTimeScale(media), nullptr, 0);
        if (!m) return fail(GetMoviesError());
        SetMediaLanguage(m, GetMediaLanguage(media));
        SetMediaQuality(m, GetMediaQuality(media));
        const TimeValue duration = GetTrackDuration(track);
        if (duration > 0) {
            if (OSErr e = InsertTrackSegment(track, t, 0, duration, 0)) return fail(e);
        }
    }
    err = noErr;
    return copy;
}

// The checks every export makes, in order, then the destination's path (`destination` answers
// an error for one it cannot name) and the writing.
template <class Destination>
OSErr convert(Movie movie, Track onlyTrack, OSType fileType, int32_t flags, ComponentInstance userComp,
              Destination&& destination) {
    if (!onRecord(movie, false, [](MovieRecord&) { return true; })) return result(invalidMovie);
    if (onlyTrack) {
        Movie owner = GetTrackMovie(onlyTrack);
        if (!owner) return result(invalidTrack);
        if (owner != movie) return result(trackNotInMovie);
    }
    if (userComp) return result(paramErr);
    // There is no settings dialog: it answers as one the user cancelled.
    if (flags & showUserSettingsDialog) return result(userCanceledErr);
    if (fileType != kQTFileTypeMovie) return result(cantFindHandler);
    std::string path;
    if (OSErr err = destination(path)) return result(err);
    if (!onlyTrack) return result(writeFlattenedMovie(movie, path, flags, progressOpExportMovie, movie));
    OSErr err = noErr;
    Movie single = singleTrackMovie(movie, onlyTrack, err);
    if (!single) return result(err);
    err = writeFlattenedMovie(single, path, flags, progressOpExportMovie, movie);
    DisposeMovie(single);
    return result(err);
}

} // namespace

namespace platform::movie {

OSErr writeFlattenedMovie(Movie movie, const std::string& path, int32_t createMovieFileFlags,
                          int16_t operation, Movie progressMovie) {
    Plan plan;
    {
        Lock lock(registry().mutex);
        MovieRecord* m = findMovie(movie);
        if (!m) return invalidMovie;
        // A movie file open for writing is not replaced under its writer.
        for (const auto& [key, s] : registry().storages)
            if (s->path == path) return fBsyErr;
        try {
            if (OSErr err = makePlan(*m, plan)) return err;
        } catch (const std::bad_alloc&) {
            return memFullErr;
        }
    }
    if (path.empty()) return paramErr;
    struct stat st {};
    if (stat(path.c_str(), &st) == 0) {
        if (!(createMovieFileFlags & createMovieFileDeleteCurFile)) return dupFNErr;
        if (!S_ISREG(st.st_mode)) return ioErr;
    }
    PlatformSafeFile file;
    if (OSErr err = file.open(path.c_str())) return err == fnfErr || err == dirNFErr ? fnfErr : ioErr;
    Progress progress(progressMovie, operation);
    OSErr err = progress.open();
    if (!err) err = writeFile(file.descriptor(), plan, progress);
    file.fail(err);
    const OSErr committed = file.commit();
    return err ? err : (committed == -34 ? dskFulErr : committed ? ioErr : noErr);
}

} // namespace platform::movie

void SetMovieProgressProc(Movie theMovie, MovieProgressUPP p, intptr_t refcon) {
    onRecordNoErr(theMovie, [&](MovieRecord& m) {
        m.progressProc = p;
        m.progressRefCon = p ? refcon : 0;
    });
}

MovieProgressUPP GetMovieProgressProc(Movie theMovie, intptr_t* refcon) {
    if (refcon) *refcon = 0;
    return onRecordNoErr(theMovie, MovieProgressUPP(nullptr), [&](MovieRecord& m) {
        if (refcon) *refcon = m.progressRefCon;
        return m.progressProc;
    });
}

OSErr ConvertMovieToDataRef(Movie m, Track onlyTrack, Handle dataRef, OSType dataRefType, OSType fileType,
                            OSType, int32_t flags, ComponentInstance userComp) {
    return convert(m, onlyTrack, fileType, flags, userComp, [&](std::string& path) -> OSErr {
        if (!dataRef || !*dataRef) return paramErr;
        if (dataRefType != AliasDataHandlerSubType) return couldNotResolveDataRef;
        path = platform::aliasPath(dataRef);
        return path.empty() ? couldNotResolveDataRef : noErr;
    });
}

OSErr ConvertMovieToFile(Movie theMovie, Track onlyTrack, FSSpec* outputFile, OSType fileType, OSType,
                         int16_t, int16_t* resID, int32_t flags, ComponentInstance userComp) {
    const OSErr err =
        convert(theMovie, onlyTrack, fileType, flags, userComp, [&](std::string& path) -> OSErr {
            if (!outputFile || !std::memchr(outputFile->path, 0, sizeof outputFile->path) ||
                !outputFile->path[0])
                return paramErr;
            path = outputFile->path;
            return noErr;
        });
    if (!err && resID) *resID = movieInDataForkResID;
    return err;
}
