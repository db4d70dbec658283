// The records behind movie, track and media references, shared by the sources of the movie
// layer. Every record is reached under the registry's lock; nothing here locks by itself.
#pragma once

#include "PlatformFiles.h"
#include "PlatformMovies.h"
#include "PlatformRegions.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

namespace platform::movie {

using Bytes = std::vector<uint8_t>;

// Playback state of a movie, track or media (time base, port, clip regions, volumes, media
// handler): made on first use by the playback and drawing sources, which own its meaning. A
// copy of a record starts without it; a record's state goes with the record.
struct MoviePlayback;
struct TrackPlayback;
struct MediaPlayback;
struct PlaybackDeleter {
    void operator()(MoviePlayback* p) const;
    void operator()(TrackPlayback* p) const;
    void operator()(MediaPlayback* p) const;
};
template <class T> struct PlaybackSlot {
    std::unique_ptr<T, PlaybackDeleter> state;
    PlaybackSlot() = default;
    PlaybackSlot(const PlaybackSlot&) {}
    PlaybackSlot& operator=(const PlaybackSlot&) { return *this; }
    PlaybackSlot(PlaybackSlot&&) = default;
    PlaybackSlot& operator=(PlaybackSlot&&) = default;
};

// A run of samples alike: `count` samples of `size` bytes each, one after another from
// `dataOffset`, each `duration` long and shown `displayOffset` after its decode time.
struct SampleRun {
    int64_t firstNumber = 0; // 0-based number of the first sample
    int64_t firstDecodeTime = 0;
    int64_t count = 0;
    int64_t duration = 0;
    int64_t displayOffset = 0;
    int64_t dataOffset = 0;
    uint32_t size = 0;
    uint32_t flags = 0;
    uint32_t description = 0; // 1-based
    bool reference = false;   // bytes in a data reference rather than the media's memory
};

struct DataRef {
    OSType type = 0;
    Bytes bytes;
};

struct TrackRecord;

// What the searches for the samples near a time need of a media's runs, folded in as runs are
// appended (a media's runs are only ever appended to, or set whole on a new record): the least
// and greatest display offsets, and the indexes of the runs of sync samples in decode order.
struct RunIndex {
    size_t upto = 0;
    int64_t minOffset = 0, maxOffset = 0;
    std::vector<size_t> syncRuns;
};

// The calling thread, as a movie attached to it names it; a thread that ends leaves the movies
// attached to it attached to none (PlatformMovieThreads.cpp).
std::thread::id attachingThread();

// Seconds since 1 January 1904 UTC, the platform's calendar time (PlatformMovieModelExtras.cpp).
uint32_t macTimeNow();

// When a movie, track or media record was made and last changed by the toolkit's calls.
struct RecordTimes {
    uint32_t creation = macTimeNow();
    uint32_t modification = creation;
};

struct MediaRecord {
    Media token = nullptr;
    TrackRecord* track = nullptr;
    OSType type = 0;
    TimeScale scale = kMovieDefaultTimeScale;
    int16_t language = 0;
    int16_t quality = 0;
    std::vector<Bytes> descriptions;
    std::vector<DataRef> dataRefs;
    std::vector<SampleRun> runs;
    int64_t sampleCount = 0;
    int64_t decodeEnd = 0;
    int64_t displayEnd = 0;    // the end of the latest display interval
    Bytes storage;             // the bytes of the samples added to the media
    mutable RunIndex runIndex; // brought up to date by the searches, under the registry's lock
    UserData userData = nullptr;
    QTMetaDataRef metaData = nullptr;
    RecordTimes times;
    PlaybackSlot<MediaPlayback> playback;
};

// A segment of a track: `length` track units showing, when not empty, media time
// anchor + floor((base + k * num) / den) at its k-th unit. Splitting and scaling keep the
// mapping exact by moving `base`, `num` and `den` rather than rounding.
struct Edit {
    int64_t length = 0;
    bool empty = true;
    int64_t anchor = 0;
    int64_t base = 0;
    int64_t num = 1;
    int64_t den = 1;
};
// The media time a segment shows k units after its start.
int64_t mediaTimeAt(const Edit& e, int64_t k);
// The segment showing from `units` units further on: its base moves on and stays below its den.
void advanceEdit(Edit& e, int64_t units);

struct MovieRecord;

struct TrackReferences {
    OSType type = 0;
    std::vector<TrackRecord*> tracks;
};

// How a track's data is to be loaded ahead of playing (GetTrackLoadSettings): kept and stored in
// the file's 'load' atom; this platform holds every sample at hand and acts on none of it.
struct TrackLoadSettings {
    int32_t preloadTime = 0;
    int32_t preloadDuration = 0;
    int32_t preloadFlags = 0;
    int32_t defaultHints = 0;
    bool operator==(const TrackLoadSettings&) const = default;
};

struct TrackRecord {
    Track token = nullptr;
    MovieRecord* movie = nullptr;
    int32_t id = 0;
    Fixed width = 0;
    Fixed height = 0;
    MatrixRecord matrix{};
    bool enabled = true;
    int16_t layer = 0;
    int16_t volume = 0;
    std::vector<Edit> edits;
    MediaRecord* media = nullptr; // owned through the registry
    TrackRecord* alternate = this;
    std::vector<TrackReferences> references;
    UserData userData = nullptr;
    QTMetaDataRef metaData = nullptr;
    RecordTimes times;
    int32_t usage = 2 | 4 | 8; // in movie, in preview, in poster
    TrackLoadSettings load;
    PlaybackSlot<TrackPlayback> playback;
};

struct MovieRecord {
    Movie token = nullptr;
    TimeScale scale = kMovieDefaultTimeScale;
    int64_t time = 0;
    MatrixRecord matrix{};
    bool active = true;
    int64_t selectionStart = 0, selectionDuration = 0;
    int64_t previewStart = 0, previewDuration = 0;
    int64_t posterTime = 0;
    std::vector<std::unique_ptr<TrackRecord>> tracks;
    int32_t nextTrackID = 1;
    UserData userData = nullptr;
    QTMetaDataRef metaData = nullptr;
    DataRef defaultDataRef; // type 0: none; new media of the movie store their samples there
    // The procedure told about long operations (null: none; -1: the platform's own, which shows
    // nothing), and its constant (PlatformMovieExport.h).
    OSErr (*progressProc)(Movie, int16_t, int16_t, Fixed, intptr_t) = nullptr;
    intptr_t progressRefCon = 0;
    // Whether each alternate group shows the track that best fits the movie's language
    // (SetAutoTrackAlternatesEnabled), and that language (SetMovieLanguage; 0 until set).
    bool autoAlternates = false;
    int32_t language = 0;
    RecordTimes times;
    PlaybackSlot<MoviePlayback> playback;
    // The thread the movie is attached to (PlatformMovieThreads.h): the one that made it, until
    // it is detached; no thread (a default id) while detached or once that thread has ended.
    std::thread::id attachedTo = attachingThread();
};

// A movie file open for writing: samples stream into its 'mdat' from `dataStart` on, and the movie
// atom follows the data from `dataEnd` on.
struct StorageRecord {
    DataHandler token = nullptr;
    int16_t refNum = 0;
    std::string path;
    int fd = -1;
    int64_t mdatStart = 0; // the 'wide' atom that a 64-bit 'mdat' header grows into
    int64_t dataStart = 0;
    int64_t dataEnd = 0;
    int64_t fileEnd = 0;
    // A file opened for reading only: no samples go into it and no movie is written to it.
    bool readOnly = false;
    // The movie atom that was in an existing file opened for writing, when the new one cannot
    // take its place: it becomes free space once a new movie atom is written (-1: none).
    int64_t oldMovieAt = -1;
    // Where samples kept in a media's memory were copied into the file: media -> run's first
    // sample -> (samples copied, offset), so that each update copies them once.
    std::unordered_map<uintptr_t, std::unordered_map<int64_t, std::pair<int64_t, int64_t>>> placed;
    // A file is never changed where it is. A new file is written beside its destination and put
    // in place once a movie atom made it whole; the first change to an existing file, or to one
    // put in place, goes to a copy beside it that the next movie atom puts in its place. `fd` is
    // that file's descriptor; null while an existing file is only read (`fd` is then its own).
    std::unique_ptr<PlatformSafeFile> newFile;
    // The copy holds the file with its movie taken out, which closing puts in place (unless a
    // failed change spoilt it).
    bool copyIsWhole = false;
};

struct Registry {
    std::mutex mutex;
    std::unordered_map<uintptr_t, std::unique_ptr<MovieRecord>> movies;
    std::unordered_map<uintptr_t, TrackRecord*> tracks;
    std::unordered_map<uintptr_t, std::unique_ptr<MediaRecord>> media;
    std::unordered_map<uintptr_t, std::unique_ptr<StorageRecord>> storages;
    uintptr_t lastToken = 0;
};

Registry& registry();
// A token that no movie or track had before.
uintptr_t newToken();

// Look-ups under the lock: null when the reference names nothing (disposed or unknown). A media
// that the core made alone gets its record on first use.
MovieRecord* findMovie(Movie movie);
TrackRecord* findTrack(Track track);
MediaRecord* findMedia(Media media);

// The same look-ups by the reference's kind, and the error a call reports for one naming nothing.
inline MovieRecord* findRecord(Movie movie) {
    return findMovie(movie);
}
inline TrackRecord* findRecord(Track track) {
    return findTrack(track);
}
inline MediaRecord* findRecord(Media media) {
    return findMedia(media);
}
inline OSErr notFoundError(Movie) {
    return invalidMovie;
}
inline OSErr notFoundError(Track) {
    return invalidTrack;
}
inline OSErr notFoundError(Media) {
    return invalidMedia;
}
template <class Ref> using RecordOf = std::remove_pointer_t<decltype(findRecord(std::declval<Ref>()))>;

// Disposal under the lock.
void destroyMedia(MediaRecord* media);
void destroyTrack(TrackRecord* track);

// The disk is full (a write of a movie file ran out of space).
constexpr OSErr dskFulErr = -34;

// The longest time any movie, track or media may reach, so that sums of times never overflow.
constexpr int64_t kMaxTime = INT64_MAX / 4;

// Sets the movies error and answers it.
inline OSErr result(OSErr err) {
    return platform::setMoviesError(err);
}

// A call on one movie, track or media: under the registry's lock, `body` gets the record the
// reference names, sets the movies error and answers for the call. When the reference names
// nothing, the movies error is invalidMovie, invalidTrack or invalidMedia and the call answers
// `fallback` (for a call answering its error, that error).
template <class Ref, class F, class R = std::invoke_result_t<F&, RecordOf<Ref>&>>
R onRecord(Ref ref, std::type_identity_t<R> fallback, F&& body) {
    std::lock_guard<std::mutex> lock(registry().mutex);
    RecordOf<Ref>* record = findRecord(ref);
    if (!record) {
        result(notFoundError(ref));
        return fallback;
    }
    return body(*record);
}

// The same for a call answering nothing.
template <class Ref, class F> void onRecord(Ref ref, F&& body) {
    std::lock_guard<std::mutex> lock(registry().mutex);
    RecordOf<Ref>* record = findRecord(ref);
    if (!record) {
        result(notFoundError(ref));
        return;
    }
    body(*record);
}

// A call that cannot fail once the reference names a record: the movies error is noErr after
// `body` has read or set it.
template <class Ref, class F, class R = std::invoke_result_t<F&, RecordOf<Ref>&>>
R onRecordNoErr(Ref ref, std::type_identity_t<R> fallback, F&& body) {
    return onRecord(ref, fallback, [&](RecordOf<Ref>& record) {
        R answer = body(record);
        result(noErr);
        return answer;
    });
}

template <class Ref, class F> void onRecordNoErr(Ref ref, F&& body) {
    onRecord(ref, [&](RecordOf<Ref>& record) {
        body(record);
        result(noErr);
    });
}

// Times.
int64_t floorDiv(__int128 a, __int128 b);
int64_t ceilDiv(__int128 a, __int128 b);
int64_t convertTime(int64_t value, int64_t fromScale, int64_t toScale);
TimeValue saturate32(int64_t value);

int64_t trackDuration(const TrackRecord& track);
int64_t movieDuration(const MovieRecord& movie);
// A movie's current time never lies past its end.
inline void keepTimeInMovie(MovieRecord& movie) {
    movie.time = std::min(movie.time, movieDuration(movie));
}
// The movie's time base drives `time` while the movie plays (PlatformMoviePlayback.cpp):
// refreshMovieTime brings `time` up to the time base and answers the time base; movieTimeWasSet
// tells the time base of a time set in the record.
TimeBase refreshMovieTime(MovieRecord& movie);
void movieTimeWasSet(MovieRecord& movie);
// Drops zero-length segments, joins neighbouring empty ones and drops empty ones at the end.
void normalizeEdits(TrackRecord& track);
// Makes `at` (0 .. duration) a segment boundary; answers the index of the segment starting there
// (edits.size() at the end).
size_t splitEditsAt(TrackRecord& track, int64_t at);
// Moves every segment of the track to a new movie scale.
void rescaleEdits(TrackRecord& track, int64_t fromScale, int64_t toScale);

// Movie files (under the lock). The open storage writing the file a data reference names, or
// null; appends bytes to its data, answering where they start.
StorageRecord* storageOfDataRef(const DataRef& ref);
OSErr appendToStorage(StorageRecord& storage, const uint8_t* data, size_t size, int64_t* offset);
// The bytes of an 'alis' data reference naming the file at the path: the path and a NUL.
Bytes aliasBytes(const std::string& path);
// The path an 'alis' reference holds, up to its first NUL (empty for another kind or for none).
std::string refPath(const DataRef& ref);
// Reads all the bytes at the offset of the open file, going on after interrupted and partial
// reads: endOfDataReached when the file ends first, ioErr for a failure.
OSErr readAll(int fd, uint8_t* out, size_t size, int64_t offset);
// Writes all the bytes at the offset of the open file, going on after interrupted and partial
// writes: dskFulErr when the disk is full, ioErr for any other failure.
OSErr writeAll(int fd, const uint8_t* data, size_t size, int64_t offset);
// Reads bytes of the file a data reference names.
OSErr readDataRefFile(const DataRef& ref, int64_t offset, size_t size, uint8_t* out);
// The data reference a description's samples lie in (null: the media's memory).
const DataRef* descriptionDataRef(const MediaRecord& media, uint32_t description);

// Media.
OSErr addDescription(MediaRecord& media, SampleDescriptionHandle desc, uint32_t* index);
// The bytes of `size` at `offset` of where the run's data lies (the media's memory or its data
// reference: `offset` counts from there, not from the run's first sample) into `out`.
OSErr readSampleBytes(const MediaRecord& media, const SampleRun& run, int64_t offset, size_t size,
                      uint8_t* out);
// The run holding the 0-based sample number, or the run at the decode time; null when none.
const SampleRun* runOfNumber(const MediaRecord& media, int64_t number);
const SampleRun* runAtDecodeTime(const MediaRecord& media, int64_t time);
bool hasCharacteristic(OSType mediaType, OSType characteristic);

// New copies of a region and of a user data list; null when the copy cannot be made.
RgnHandle copyRegion(RgnHandle rgn);
UserData copyUserData(UserData list);

// The interesting times of a track in track time for the search flags (segment starts, and the
// times its samples or sync samples start showing) nearest `time`: the least one at or after it
// and the greatest one at or before it (strictly after or before when `strict`). Both look only
// at the segments and runs of samples around `time`.
std::optional<int64_t> trackTimeAfter(const TrackRecord& track, int16_t flags, int64_t time, bool strict);
std::optional<int64_t> trackTimeBefore(const TrackRecord& track, int16_t flags, int64_t time, bool strict);
// The least display time in [lo, hi) at or after `time` where a sample (or a sync sample) starts,
// and the greatest one in [lo, hi) at or before `time`.
std::optional<int64_t> sampleStartAfter(const MediaRecord& media, bool syncOnly, int64_t lo, int64_t hi,
                                        int64_t time);
std::optional<int64_t> sampleStartBefore(const MediaRecord& media, bool syncOnly, int64_t lo, int64_t hi,
                                         int64_t time);

} // namespace platform::movie
