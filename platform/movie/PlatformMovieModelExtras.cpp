#include "PlatformMovieModelExtras.h"

#include "PlatformMemory.h"
#include "PlatformMovieFiles.h"
#include "PlatformMovieModel.h"
#include "PlatformProperties.h"

#include <chrono>
#include <new>
#include <unordered_set>

using namespace platform::movie;

namespace platform::movie {

uint32_t macTimeNow() {
    // 2082844800 seconds lie between 1904-01-01 and 1970-01-01.
    const int64_t unix =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    return uint32_t(std::clamp<int64_t>(unix + 2082844800LL, 0, UINT32_MAX));
}

UserData copyUserData(UserData list) {
    // The flat form keeps every item type and text as it is.
    Handle flat = NewHandle(0);
    if (!flat) return nullptr;
    UserData copy = nullptr;
    if (PutUserDataIntoHandle(list, flat) == noErr) NewUserDataFromHandle(flat, &copy);
    DisposeHandle(flat);
    return copy;
}

RgnHandle copyRegion(RgnHandle rgn) {
    RgnHandle copy = NewRgn();
    if (!copy) return nullptr;
    CopyRgn(rgn, copy);
    if (QDError() != noErr) {
        DisposeRgn(copy);
        return nullptr;
    }
    return copy;
}

} // namespace platform::movie

struct TrackStateRecord {
    Track track = nullptr;
    TimeScale scale = 0;
    std::vector<Edit> edits;
};

struct MovieStateRecord {
    Movie movie = nullptr;
    TimeScale scale = 0;
    std::vector<std::pair<Track, std::vector<Edit>>> tracks;
};

struct OpaqueQTSampleTable {
    struct Row {
        int64_t firstNumber; // 1-based
        int64_t firstDecodeTime;
        int64_t count;
        int64_t dataOffset;
        ByteCount size;
        int64_t duration;
        int64_t displayOffset;
        MediaSampleFlags flags;
        QTSampleDescriptionID description;
    };
    TimeScale scale = 0;
    std::vector<Row> rows;
    int64_t samples = 0;
    int64_t decodeEnd = 0;
};

namespace {

using Lock = std::lock_guard<std::mutex>;

// The states and tables handed out and not yet disposed of: anything else is refused.
struct Handed {
    std::unordered_set<const void*> live;
    bool has(const void* p) const { return p && live.count(p) != 0; }
};

Handed& handed() {
    static Handed h;
    return h;
}

void touch(MovieRecord& m) {
    m.times.modification = macTimeNow();
}

void touch(TrackRecord& t) {
    t.times.modification = macTimeNow();
    if (t.movie) touch(*t.movie);
}

// The items of one user data list in place of another's. Both are the model's own lists.
OSErr replaceUserData(UserData from, UserData to) {
    if (!from || !to || from == to) return noErr;
    UserData copy = copyUserData(from);
    if (!copy) return memFullErr;
    OSErr err = noErr;
    // Empty the destination, then move every item of the copy over.
    for (OSType type = GetNextUserDataType(to, 0); type != 0; type = GetNextUserDataType(to, 0)) {
        while (CountUserDataType(to, type) > 0)
            if ((err = RemoveUserData(to, type, 1)) != noErr) break;
        if (err != noErr) break;
    }
    for (OSType type = GetNextUserDataType(copy, 0); err == noErr && type != 0;
         type = GetNextUserDataType(copy, type)) {
        const int16_t n = CountUserDataType(copy, type);
        for (int16_t i = 1; err == noErr && i <= n; ++i) {
            Handle item = NewHandle(0);
            if (!item) {
                err = memFullErr;
                break;
            }
            err = GetUserData(copy, item, type, i);
            if (err == noErr) err = AddUserData(to, item, type);
            DisposeHandle(item);
        }
    }
    DisposeUserData(copy);
    return err;
}

// Hands out the state once `fill` has filled it (under the lock); null, with memFullErr, when
// memory runs out.
template <class State, class Fill> State* handOut(std::unique_ptr<State>& state, Fill fill) {
    try {
        fill(*state);
        handed().live.insert(state.get());
    } catch (const std::bad_alloc&) {
        result(memFullErr);
        return nullptr;
    }
    result(noErr);
    return state.release();
}

// Takes back a state handed out; paramErr for anything else.
template <class State> OSErr disposeHanded(State* state) {
    Lock lock(registry().mutex);
    if (!handed().has(state)) return result(paramErr);
    handed().live.erase(state);
    delete state;
    return result(noErr);
}

std::vector<Edit> rescaled(const std::vector<Edit>& edits, int64_t from, int64_t to) {
    if (from == to) return edits;
    TrackRecord scratch;
    scratch.edits = edits;
    rescaleEdits(scratch, from, to);
    return scratch.edits;
}

const OpaqueQTSampleTable::Row* rowOf(QTSampleTableRef table, int64_t sampleNum) {
    if (!handed().has(table) || sampleNum < 1 || sampleNum > table->samples) return nullptr;
    auto it =
        std::upper_bound(table->rows.begin(), table->rows.end(), sampleNum,
                         [](int64_t n, const OpaqueQTSampleTable::Row& r) { return n < r.firstNumber; });
    return &*--it;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Edit states.

MovieEditState NewMovieEditState(Movie theMovie) {
    auto state = std::unique_ptr<MovieStateRecord>(new (std::nothrow) MovieStateRecord());
    if (!state) {
        result(memFullErr);
        return nullptr;
    }
    return onRecord(theMovie, MovieEditState(nullptr), [&](MovieRecord& m) {
        return handOut(state, [&](MovieStateRecord& s) {
            s.movie = theMovie;
            s.scale = m.scale;
            for (auto& t : m.tracks)
                s.tracks.emplace_back(t->token, t->edits);
        });
    });
}

OSErr UseMovieEditState(Movie theMovie, MovieEditState toState) {
    return onRecord(theMovie, invalidMovie, [&](MovieRecord& m) {
        if (!handed().has(toState)) return result(paramErr);
        if (toState->movie != theMovie) return result(invalidMovie);
        try {
            for (auto& [token, edits] : toState->tracks) {
                TrackRecord* t = findTrack(token);
                if (!t || t->movie != &m) continue;
                t->edits = rescaled(edits, toState->scale, m.scale);
                touch(*t);
            }
        } catch (const std::bad_alloc&) {
            return result(memFullErr);
        }
        keepTimeInMovie(m);
        return result(noErr);
    });
}

OSErr DisposeMovieEditState(MovieEditState state) {
    return disposeHanded(state);
}

TrackEditState NewTrackEditState(Track theTrack) {
    auto state = std::unique_ptr<TrackStateRecord>(new (std::nothrow) TrackStateRecord());
    if (!state) {
        result(memFullErr);
        return nullptr;
    }
    return onRecord(theTrack, TrackEditState(nullptr), [&](TrackRecord& t) {
        return handOut(state, [&](TrackStateRecord& s) {
            s.track = theTrack;
            s.scale = t.movie->scale;
            s.edits = t.edits;
        });
    });
}

OSErr UseTrackEditState(Track theTrack, TrackEditState state) {
    return onRecord(theTrack, invalidTrack, [&](TrackRecord& t) {
        if (!handed().has(state)) return result(paramErr);
        if (state->track != theTrack) return result(invalidTrack);
        try {
            t.edits = rescaled(state->edits, state->scale, t.movie->scale);
        } catch (const std::bad_alloc&) {
            return result(memFullErr);
        }
        touch(t);
        keepTimeInMovie(*t.movie);
        return result(noErr);
    });
}

OSErr DisposeTrackEditState(TrackEditState state) {
    return disposeHanded(state);
}

// ---------------------------------------------------------------------------------------------
// Settings and times.

OSErr CopyMovieSettings(Movie srcMovie, Movie dstMovie) {
    Lock lock(registry().mutex);
    MovieRecord* src = findMovie(srcMovie);
    MovieRecord* dst = findMovie(dstMovie);
    if (!src || !dst) return result(invalidMovie);
    dst->matrix = src->matrix;
    OSErr err = replaceUserData(src->userData, dst->userData);
    touch(*dst);
    return result(err);
}

OSErr CopyTrackSettings(Track srcTrack, Track dstTrack) {
    Lock lock(registry().mutex);
    TrackRecord* src = findTrack(srcTrack);
    TrackRecord* dst = findTrack(dstTrack);
    if (!src || !dst) return result(invalidTrack);
    dst->matrix = src->matrix;
    dst->layer = src->layer;
    dst->volume = src->volume;
    dst->usage = src->usage;
    OSErr err = replaceUserData(src->userData, dst->userData);
    touch(*dst);
    return result(err);
}

uint32_t GetMovieCreationTime(Movie theMovie) {
    return onRecordNoErr(theMovie, uint32_t(0), [](MovieRecord& m) { return m.times.creation; });
}

uint32_t GetMovieModificationTime(Movie theMovie) {
    return onRecordNoErr(theMovie, uint32_t(0), [](MovieRecord& m) { return m.times.modification; });
}

uint32_t GetTrackCreationTime(Track theTrack) {
    return onRecordNoErr(theTrack, uint32_t(0), [](TrackRecord& t) { return t.times.creation; });
}

uint32_t GetTrackModificationTime(Track theTrack) {
    return onRecordNoErr(theTrack, uint32_t(0), [](TrackRecord& t) { return t.times.modification; });
}

uint32_t GetMediaCreationTime(Media theMedia) {
    return onRecordNoErr(theMedia, uint32_t(0), [](MediaRecord& m) { return m.times.creation; });
}

uint32_t GetMediaModificationTime(Media theMedia) {
    return onRecordNoErr(theMedia, uint32_t(0), [](MediaRecord& m) { return m.times.modification; });
}

// ---------------------------------------------------------------------------------------------
// Language and usage.

namespace {

// The alternate groups of two or more tracks, each as its ring from its first enabled track
// (or from its first track in the movie's order when none is enabled).
std::vector<std::vector<TrackRecord*>> alternateGroups(MovieRecord& m) {
    std::vector<std::vector<TrackRecord*>> groups;
    std::unordered_set<const TrackRecord*> seen;
    for (auto& t : m.tracks) {
        if (seen.count(t.get()) || t->alternate == t.get()) continue;
        std::vector<TrackRecord*> ring;
        for (TrackRecord* r = t.get();; r = r->alternate) {
            ring.push_back(r);
            seen.insert(r);
            if (r->alternate == t.get()) break;
        }
        auto start = std::find_if(ring.begin(), ring.end(), [](TrackRecord* r) { return r->enabled; });
        if (start != ring.end()) std::rotate(ring.begin(), start, ring.end());
        groups.push_back(std::move(ring));
    }
    return groups;
}

void enableOnly(MovieRecord& m, const std::vector<TrackRecord*>& ring, const TrackRecord* chosen) {
    bool changed = false;
    for (TrackRecord* r : ring) {
        changed = changed || r->enabled != (r == chosen);
        r->enabled = r == chosen;
    }
    if (changed) touch(m);
}

// The automatic choice in every group (see SetAutoTrackAlternatesEnabled).
void chooseAlternates(MovieRecord& m) {
    for (const std::vector<TrackRecord*>& ring : alternateGroups(m)) {
        const bool anyFits = std::any_of(ring.begin(), ring.end(), [&](const TrackRecord* r) {
            return r->media && r->media->language == m.language;
        });
        // A track without media ranks below every quality.
        auto rank = [](const TrackRecord* r) { return r->media ? int32_t(r->media->quality) : INT32_MIN; };
        const TrackRecord* best = nullptr;
        for (const TrackRecord* r : ring) {
            if (anyFits && !(r->media && r->media->language == m.language)) continue;
            if (!best || rank(r) > rank(best)) best = r;
        }
        enableOnly(m, ring, best);
    }
}

} // namespace

void SetAutoTrackAlternatesEnabled(Movie theMovie, Boolean enable) {
    onRecordNoErr(theMovie, [&](MovieRecord& m) {
        m.autoAlternates = enable != 0;
        if (m.autoAlternates) chooseAlternates(m);
    });
}

void GetTrackLoadSettings(Track theTrack, TimeValue* preloadTime, TimeValue* preloadDuration,
                          int32_t* preloadFlags, int32_t* defaultHints) {
    const TrackLoadSettings load =
        onRecordNoErr(theTrack, TrackLoadSettings{}, [](TrackRecord& t) { return t.load; });
    if (preloadTime) *preloadTime = load.preloadTime;
    if (preloadDuration) *preloadDuration = load.preloadDuration;
    if (preloadFlags) *preloadFlags = load.preloadFlags;
    if (defaultHints) *defaultHints = load.defaultHints;
}

void SetTrackLoadSettings(Track theTrack, TimeValue preloadTime, TimeValue preloadDuration,
                          int32_t preloadFlags, int32_t defaultHints) {
    onRecordNoErr(theTrack, [&](TrackRecord& t) {
        const TrackLoadSettings load{preloadTime, preloadDuration, preloadFlags, defaultHints};
        if (load == t.load) return;
        t.load = load;
        touch(t);
    });
}

void SetMovieLanguage(Movie theMovie, int32_t language) {
    onRecordNoErr(theMovie, [&](MovieRecord& m) {
        m.language = language;
        if (m.autoAlternates) {
            chooseAlternates(m);
            return;
        }
        for (const std::vector<TrackRecord*>& ring : alternateGroups(m)) {
            auto chosen = std::find_if(ring.begin(), ring.end(), [&](TrackRecord* r) {
                return r->media && r->media->language == language;
            });
            if (chosen != ring.end()) enableOnly(m, ring, *chosen);
        }
    });
}

int32_t GetTrackUsage(Track theTrack) {
    return onRecordNoErr(theTrack, int32_t(0), [](TrackRecord& t) { return t.usage; });
}

void SetTrackUsage(Track theTrack, int32_t usage) {
    onRecordNoErr(theTrack, [&](TrackRecord& t) {
        t.usage = usage & (trackUsageInMovie | trackUsageInPreview | trackUsageInPoster);
        touch(t);
    });
}

// ---------------------------------------------------------------------------------------------
// Selection edits. They are made of the public edit calls, each of which takes the lock.

Movie CopyMovieSelection(Movie theMovie) {
    TimeValue start = 0, duration = 0;
    GetMovieSelection(theMovie, &start, &duration);
    if (GetMoviesError() != noErr) return nullptr;
    const TimeScale scale = GetMovieTimeScale(theMovie);
    Movie copy = NewMovie(newMovieActive);
    if (!copy) return nullptr;
    SetMovieTimeScale(copy, scale);
    OSErr err = GetMoviesError();
    if (err == noErr && duration > 0) err = InsertMovieSegment(theMovie, copy, start, duration, 0);
    if (err != noErr) {
        DisposeMovie(copy);
        result(err);
        return nullptr;
    }
    result(noErr);
    return copy;
}

Movie CutMovieSelection(Movie theMovie) {
    Movie copy = CopyMovieSelection(theMovie);
    if (!copy) return nullptr;
    ClearMovieSelection(theMovie);
    if (OSErr err = GetMoviesError(); err != noErr) {
        DisposeMovie(copy);
        result(err);
        return nullptr;
    }
    return copy;
}

void ClearMovieSelection(Movie theMovie) {
    TimeValue start = 0, duration = 0;
    GetMovieSelection(theMovie, &start, &duration);
    if (GetMoviesError() != noErr) return;
    if (duration > 0 && DeleteMovieSegment(theMovie, start, duration) != noErr) return;
    SetMovieSelection(theMovie, start, 0);
    onRecordNoErr(theMovie, [](MovieRecord& m) { touch(m); });
}

void PasteMovieSelection(Movie theMovie, Movie src) {
    TimeValue start = 0, duration = 0;
    GetMovieSelection(theMovie, &start, &duration);
    if (GetMoviesError() != noErr) return;
    const TimeValue srcDuration = GetMovieDuration(src);
    if (OSErr err = GetMoviesError(); err != noErr) {
        result(err);
        return;
    }
    // Insert first, so that a refused insertion leaves the selection in place.
    const TimeValue at = start + duration;
    if (srcDuration > 0 && InsertMovieSegment(src, theMovie, 0, srcDuration, at) != noErr) return;
    if (duration > 0 && DeleteMovieSegment(theMovie, start, duration) != noErr) return;
    const TimeScale from = GetMovieTimeScale(src);
    const TimeScale to = GetMovieTimeScale(theMovie);
    SetMovieSelection(theMovie, start, saturate32(convertTime(srcDuration, from, to)));
    onRecordNoErr(theMovie, [](MovieRecord& m) { touch(m); });
}

// ---------------------------------------------------------------------------------------------
// Sample tables.

OSStatus QTSampleTableCreateMutable(CFAllocatorRef, TimeScale timescale, void*,
                                    QTMutableSampleTableRef* newSampleTable) {
    if (!newSampleTable) return paramErr;
    *newSampleTable = nullptr;
    if (timescale < 1) return paramErr;
    auto table = std::unique_ptr<OpaqueQTSampleTable>(new (std::nothrow) OpaqueQTSampleTable());
    if (!table) return memFullErr;
    table->scale = timescale;
    Lock lock(registry().mutex);
    try {
        handed().live.insert(table.get());
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
    *newSampleTable = table.release();
    return noErr;
}

void QTSampleTableRelease(QTSampleTableRef sampleTable) {
    {
        Lock lock(registry().mutex);
        if (!handed().has(sampleTable)) return;
        handed().live.erase(sampleTable);
    }
    platform::removeStoredProperties(sampleTable);
    delete sampleTable;
}

OSStatus QTSampleTableAddSampleReferences(QTMutableSampleTableRef sampleTable, int64_t dataOffset,
                                          ByteCount dataSize, TimeValue64 decodeDuration,
                                          TimeValue64 displayOffset, int64_t numberOfSamples,
                                          MediaSampleFlags sampleFlags,
                                          QTSampleDescriptionID sampleDescriptionID,
                                          int64_t* newSampleNumOut) {
    if (newSampleNumOut) *newSampleNumOut = 0;
    Lock lock(registry().mutex);
    if (!handed().has(sampleTable)) return paramErr;
    OpaqueQTSampleTable& t = *sampleTable;
    if (dataOffset < 0 || dataSize == 0 || decodeDuration < 1 || numberOfSamples < 1 ||
        sampleDescriptionID < 0 || std::abs(displayOffset) > kMaxTime ||
        numberOfSamples > kMaxTime / decodeDuration ||
        t.decodeEnd > kMaxTime - numberOfSamples * decodeDuration ||
        __int128(dataSize) * numberOfSamples > kMaxTime - __int128(dataOffset))
        return paramErr;
    try {
        t.rows.push_back({t.samples + 1, t.decodeEnd, numberOfSamples, dataOffset, dataSize, decodeDuration,
                          displayOffset, sampleFlags, sampleDescriptionID});
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
    if (newSampleNumOut) *newSampleNumOut = t.samples + 1;
    t.samples += numberOfSamples;
    t.decodeEnd += numberOfSamples * decodeDuration;
    return noErr;
}

int64_t QTSampleTableGetNumberOfSamples(QTSampleTableRef sampleTable) {
    Lock lock(registry().mutex);
    return handed().has(sampleTable) ? sampleTable->samples : 0;
}

TimeScale QTSampleTableGetTimeScale(QTSampleTableRef sampleTable) {
    Lock lock(registry().mutex);
    return handed().has(sampleTable) ? sampleTable->scale : 0;
}

TimeValue64 QTSampleTableGetDecodeTime(QTSampleTableRef sampleTable, int64_t sampleNum) {
    Lock lock(registry().mutex);
    const auto* r = rowOf(sampleTable, sampleNum);
    return r ? r->firstDecodeTime + (sampleNum - r->firstNumber) * r->duration : -1;
}

TimeValue64 QTSampleTableGetDecodeDuration(QTSampleTableRef sampleTable, int64_t sampleNum) {
    Lock lock(registry().mutex);
    const auto* r = rowOf(sampleTable, sampleNum);
    return r ? r->duration : 0;
}

TimeValue64 QTSampleTableGetDisplayOffset(QTSampleTableRef sampleTable, int64_t sampleNum) {
    Lock lock(registry().mutex);
    const auto* r = rowOf(sampleTable, sampleNum);
    return r ? r->displayOffset : 0;
}

int64_t QTSampleTableGetDataOffset(QTSampleTableRef sampleTable, int64_t sampleNum) {
    Lock lock(registry().mutex);
    const auto* r = rowOf(sampleTable, sampleNum);
    return r ? r->dataOffset + (sampleNum - r->firstNumber) * int64_t(r->size) : 0;
}

ByteCount QTSampleTableGetDataSizePerSample(QTSampleTableRef sampleTable, int64_t sampleNum) {
    Lock lock(registry().mutex);
    const auto* r = rowOf(sampleTable, sampleNum);
    return r ? r->size : 0;
}

MediaSampleFlags QTSampleTableGetSampleFlags(QTSampleTableRef sampleTable, int64_t sampleNum) {
    Lock lock(registry().mutex);
    const auto* r = rowOf(sampleTable, sampleNum);
    return r ? r->flags : 0;
}

QTSampleDescriptionID QTSampleTableGetSampleDescriptionID(QTSampleTableRef sampleTable, int64_t sampleNum) {
    Lock lock(registry().mutex);
    const auto* r = rowOf(sampleTable, sampleNum);
    return r ? r->description : 0;
}

OSErr CopyMediaMutableSampleTable(Media theMedia, TimeValue64 startDecodeTime,
                                  TimeValue64* sampleTableStartDecodeTimeOut, int64_t maxNumberOfSamples,
                                  TimeValue64 maxDecodeDuration, QTMutableSampleTableRef* sampleTableOut) {
    if (sampleTableStartDecodeTimeOut) *sampleTableStartDecodeTimeOut = 0;
    if (!sampleTableOut) return result(paramErr);
    *sampleTableOut = nullptr;
    if (startDecodeTime < 0 || maxNumberOfSamples < 0 || maxDecodeDuration < 0) return result(paramErr);
    auto table = std::unique_ptr<OpaqueQTSampleTable>(new (std::nothrow) OpaqueQTSampleTable());
    if (!table) return result(memFullErr);
    return onRecord(theMedia, invalidMedia, [&](MediaRecord& m) {
        table->scale = m.scale;
        const SampleRun* first = m.sampleCount > 0 ? runAtDecodeTime(m, startDecodeTime) : nullptr;
        if (m.sampleCount > 0 && !first) return result(invalidTime);
        try {
            int64_t from = 0, start = 0;
            if (first) {
                from = first->firstNumber + (startDecodeTime - first->firstDecodeTime) / first->duration;
                start = first->firstDecodeTime + (from - first->firstNumber) * first->duration;
            }
            int64_t left = maxNumberOfSamples > 0 ? maxNumberOfSamples : INT64_MAX;
            const int64_t until = maxDecodeDuration > 0 ? start + maxDecodeDuration : INT64_MAX;
            for (const SampleRun& run : m.runs) {
                const int64_t runEnd = run.firstNumber + run.count;
                if (runEnd <= from) continue;
                const int64_t skip = std::max<int64_t>(0, from - run.firstNumber);
                const int64_t t0 = run.firstDecodeTime + skip * run.duration;
                if (t0 >= until || left == 0) break;
                int64_t n = std::min(run.count - skip, left);
                if (maxDecodeDuration > 0) n = std::min(n, ceilDiv(until - t0, run.duration));
                table->rows.push_back({table->samples + 1, table->decodeEnd, n,
                                       run.dataOffset + skip * int64_t(run.size), run.size, run.duration,
                                       run.displayOffset, run.flags, QTSampleDescriptionID(run.description)});
                table->samples += n;
                table->decodeEnd += n * run.duration;
                left -= n;
            }
            handed().live.insert(table.get());
            if (sampleTableStartDecodeTimeOut) *sampleTableStartDecodeTimeOut = start;
        } catch (const std::bad_alloc&) {
            return result(memFullErr);
        }
        // Rows of the table count decode time from the table's first sample.
        *sampleTableOut = table.release();
        return result(noErr);
    });
}
