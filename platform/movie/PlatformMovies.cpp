#include "PlatformFixed.h"
#include "PlatformMovieModel.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

namespace platform::movie {

Registry& registry() {
    static Registry* r = new Registry(); // lives as long as the process
    return *r;
}

uintptr_t newToken() {
    // Tokens look like aligned addresses, and no token is handed out twice.
    return registry().lastToken += 16;
}

MovieRecord* findMovie(Movie movie) {
    auto it = registry().movies.find(reinterpret_cast<uintptr_t>(movie));
    return it == registry().movies.end() ? nullptr : it->second.get();
}

TrackRecord* findTrack(Track track) {
    auto it = registry().tracks.find(reinterpret_cast<uintptr_t>(track));
    return it == registry().tracks.end() ? nullptr : it->second;
}

MediaRecord* findMedia(Media media) {
    if (!media) return nullptr;
    auto& all = registry().media;
    auto it = all.find(reinterpret_cast<uintptr_t>(media));
    const bool alive = platform::isMedia(media);
    if (it != all.end()) {
        if (alive) return it->second.get();
        // The core disposed of a media of its own: forget the record made for it.
        if (!it->second->track) {
            destroyMedia(it->second.get());
        }
        return nullptr;
    }
    if (!alive) return nullptr;
    // A media that the core made alone: it belongs to no track.
    auto record = std::unique_ptr<MediaRecord>(new (std::nothrow) MediaRecord());
    if (!record) return nullptr;
    record->token = media;
    if (NewUserData(&record->userData) != noErr) return nullptr;
    MediaRecord* raw = record.get();
    all.emplace(reinterpret_cast<uintptr_t>(media), std::move(record));
    return raw;
}

void destroyMedia(MediaRecord* media) {
    // The track's segments named times of this media only: the track now shows nothing.
    if (media->track) {
        media->track->media = nullptr;
        media->track->edits.clear();
    }
    if (media->userData) DisposeUserData(media->userData);
    if (media->metaData) QTMetaDataRelease(media->metaData);
    Media token = media->token;
    registry().media.erase(reinterpret_cast<uintptr_t>(token)); // destroys the record
    platform::disposeMedia(token);
}

void destroyTrack(TrackRecord* track) {
    if (track->media) destroyMedia(track->media);
    // Out of its alternate group.
    if (track->alternate != track) {
        TrackRecord* before = track->alternate;
        while (before->alternate != track)
            before = before->alternate;
        before->alternate = track->alternate;
    }
    MovieRecord* movie = track->movie;
    for (auto& other : movie->tracks) {
        for (TrackReferences& refs : other->references)
            refs.tracks.erase(std::remove(refs.tracks.begin(), refs.tracks.end(), track), refs.tracks.end());
        auto& types = other->references;
        types.erase(std::remove_if(types.begin(), types.end(),
                                   [](const TrackReferences& r) { return r.tracks.empty(); }),
                    types.end());
    }
    if (track->userData) DisposeUserData(track->userData);
    if (track->metaData) QTMetaDataRelease(track->metaData);
    registry().tracks.erase(reinterpret_cast<uintptr_t>(track->token));
    auto& list = movie->tracks;
    list.erase(std::remove_if(list.begin(), list.end(), [track](const auto& t) { return t.get() == track; }),
               list.end());
}

int64_t floorDiv(__int128 a, __int128 b) {
    if (b < 0) a = -a, b = -b;
    __int128 q = a / b;
    if ((a % b) != 0 && a < 0) --q;
    if (q > std::numeric_limits<int64_t>::max()) return std::numeric_limits<int64_t>::max();
    if (q < std::numeric_limits<int64_t>::min()) return std::numeric_limits<int64_t>::min();
    return int64_t(q);
}

int64_t ceilDiv(__int128 a, __int128 b) {
    return -floorDiv(-a, b);
}

int64_t convertTime(int64_t value, int64_t fromScale, int64_t toScale) {
    if (fromScale == toScale || fromScale <= 0) return value;
    return floorDiv(__int128(value) * toScale, fromScale);
}

TimeValue saturate32(int64_t value) {
    return TimeValue(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

int64_t trackDuration(const TrackRecord& track) {
    int64_t sum = 0;
    for (const Edit& e : track.edits)
        sum += e.length;
    return sum;
}

int64_t movieDuration(const MovieRecord& movie) {
    int64_t longest = 0;
    for (const auto& t : movie.tracks)
        longest = std::max(longest, trackDuration(*t));
    return longest;
}

bool hasCharacteristic(OSType mediaType, OSType characteristic) {
    if (characteristic == VisualMediaCharacteristic)
        return mediaType == VideoMediaType || mediaType == TextMediaType ||
               mediaType == FOUR_CHAR_CODE("tx3g") || mediaType == FOUR_CHAR_CODE("sbtl") ||
               mediaType == FOUR_CHAR_CODE("mpeg");
    if (characteristic == AudioMediaCharacteristic)
        return mediaType == SoundMediaType || mediaType == FOUR_CHAR_CODE("mpeg");
    return false;
}

} // namespace platform::movie

using namespace platform::movie;

namespace {

using Lock = std::lock_guard<std::mutex>;

Rect toRect(const FixedRect& r) {
    auto edge = [](Fixed f) { return int16_t(std::clamp<int32_t>(FixRound(f), INT16_MIN, INT16_MAX)); };
    // FixRound already saturates to 16 bits.
    return Rect{edge(r.top), edge(r.left), edge(r.bottom), edge(r.right)};
}

// The enabled tracks with an area, each through its matrix, joined.
Rect naturalRect(const MovieRecord& movie) {
    bool any = false;
    FixedRect all{0, 0, 0, 0};
    for (const auto& t : movie.tracks) {
        if (!t->enabled || t->width <= 0 || t->height <= 0) continue;
        FixedRect r{0, 0, t->width, t->height};
        TransformFixedRect(&t->matrix, &r, nullptr);
        if (!any) {
            all = r;
            any = true;
        } else {
            all.left = std::min(all.left, r.left);
            all.top = std::min(all.top, r.top);
            all.right = std::max(all.right, r.right);
            all.bottom = std::max(all.bottom, r.bottom);
        }
    }
    return any ? toRect(all) : Rect{0, 0, 0, 0};
}

Rect movieBox(const MovieRecord& movie) {
    Rect natural = naturalRect(movie);
    TransformRect(&movie.matrix, &natural, nullptr);
    return natural;
}

bool isEmpty(const Rect& r) {
    return r.bottom <= r.top || r.right <= r.left;
}

void rescaleMovie(MovieRecord& movie, TimeScale scale) {
    const int64_t from = movie.scale;
    for (auto& t : movie.tracks)
        rescaleEdits(*t, from, scale);
    auto conv = [&](int64_t v) { return convertTime(v, from, scale); };
    movie.time = conv(movie.time);
    movie.selectionStart = conv(movie.selectionStart);
    movie.selectionDuration = conv(movie.selectionDuration);
    movie.previewStart = conv(movie.previewStart);
    movie.previewDuration = conv(movie.previewDuration);
    movie.posterTime = conv(movie.posterTime);
    movie.scale = scale;
    keepTimeInMovie(movie);
}

bool trackMatches(const TrackRecord& t, OSType type, int32_t flags) {
    if ((flags & movieTrackEnabledOnly) && !t.enabled) return false;
    const OSType mediaType = t.media ? t.media->type : 0;
    if (flags & movieTrackCharacteristic) return hasCharacteristic(mediaType, type);
    return mediaType == type;
}

// The next (or previous) time of the candidates (in any order, repeats allowed) from `time`, and
// its length to the following candidate or `end`.
// The interesting time nearest `time` in the direction of `rate` (at `time` itself too with
// nextTimeEdgeOK) and how long until the next one after it (or until `end`), from searches of the
// interesting times after and before a time.
template <class After, class Before>
void pick(After&& after, Before&& before, int16_t flags, int64_t time, Fixed rate, int64_t end,
          int64_t* found, int64_t* length) {
    *found = -1;
    *length = 0;
    const bool edge = (flags & nextTimeEdgeOK) != 0;
    const std::optional<int64_t> at = rate >= 0 ? after(time, !edge) : before(time, !edge);
    if (!at) return;
    *found = *at;
    const std::optional<int64_t> next = after(*at, true);
    *length = (next ? *next : std::max(end, *at)) - *at;
}

// The least of two optional times, or the greatest.
std::optional<int64_t> least(std::optional<int64_t> a, std::optional<int64_t> b) {
    return !a ? b : !b ? a : std::min(*a, *b);
}
std::optional<int64_t> greatest(std::optional<int64_t> a, std::optional<int64_t> b) {
    return !a ? b : !b ? a : std::max(*a, *b);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Movies.

Movie NewMovie(int32_t) {
    auto movie = std::unique_ptr<MovieRecord>(new (std::nothrow) MovieRecord());
    if (!movie) {
        result(memFullErr);
        return nullptr;
    }
    SetIdentityMatrix(&movie->matrix);
    if (NewUserData(&movie->userData) != noErr) {
        result(memFullErr);
        return nullptr;
    }
    Lock lock(registry().mutex);
    movie->token = reinterpret_cast<Movie>(newToken());
    Movie token = movie->token;
    try {
        registry().movies.emplace(reinterpret_cast<uintptr_t>(token), std::move(movie));
    } catch (const std::bad_alloc&) {
        result(memFullErr);
        return nullptr;
    }
    result(noErr);
    return token;
}

void DisposeMovie(Movie movie) {
    std::unique_ptr<MovieRecord> gone;
    {
        Lock lock(registry().mutex);
        MovieRecord* m = findMovie(movie);
        if (!m) {
            result(invalidMovie);
            return;
        }
        while (!m->tracks.empty())
            destroyTrack(m->tracks.back().get());
        auto it = registry().movies.find(reinterpret_cast<uintptr_t>(movie));
        gone = std::move(it->second);
        registry().movies.erase(it);
    }
    if (gone->userData) DisposeUserData(gone->userData);
    if (gone->metaData) QTMetaDataRelease(gone->metaData);
    result(noErr);
}

TimeScale GetMovieTimeScale(Movie movie) {
    return onRecordNoErr(movie, TimeScale(0), [](MovieRecord& m) { return m.scale; });
}

void SetMovieTimeScale(Movie movie, TimeScale timeScale) {
    onRecord(movie, [&](MovieRecord& m) {
        // Every time of the movie must still fit once it is counted in the new scale.
        if (timeScale < 1 || __int128(movieDuration(m)) * timeScale / m.scale > kMaxTime) {
            result(paramErr);
            return;
        }
        if (timeScale != m.scale) rescaleMovie(m, timeScale);
        result(noErr);
    });
}

TimeValue64 GetMovieDuration64(Movie movie) {
    return onRecordNoErr(movie, TimeValue64(0), [](MovieRecord& m) { return movieDuration(m); });
}

TimeValue GetMovieDuration(Movie movie) {
    return saturate32(GetMovieDuration64(movie));
}

TimeValue GetMovieTime(Movie movie, TimeRecord* currentTime) {
    if (currentTime) *currentTime = TimeRecord{platform::int64ToWide(0), 0, nullptr};
    return onRecordNoErr(movie, TimeValue(0), [&](MovieRecord& m) {
        TimeBase base = refreshMovieTime(m);
        if (currentTime) *currentTime = TimeRecord{platform::int64ToWide(m.time), m.scale, base};
        return saturate32(m.time);
    });
}

void SetMovieTimeValue(Movie movie, TimeValue newtime) {
    onRecordNoErr(movie, [&](MovieRecord& m) {
        m.time = std::clamp<int64_t>(newtime, 0, movieDuration(m));
        movieTimeWasSet(m);
    });
}

void GetMovieNaturalBoundsRect(Movie movie, Rect* naturalBounds) {
    if (naturalBounds) *naturalBounds = Rect{0, 0, 0, 0};
    onRecordNoErr(movie, [&](MovieRecord& m) {
        if (naturalBounds) *naturalBounds = naturalRect(m);
    });
}

void GetMovieBox(Movie movie, Rect* box) {
    if (box) *box = Rect{0, 0, 0, 0};
    onRecordNoErr(movie, [&](MovieRecord& m) {
        if (box) *box = movieBox(m);
    });
}

void SetMovieBox(Movie movie, const Rect* box) {
    onRecord(movie, [&](MovieRecord& m) {
        if (!box || box->bottom < box->top || box->right < box->left) {
            result(paramErr);
            return;
        }
        Rect current = movieBox(m);
        if (isEmpty(current)) {
            TranslateMatrix(&m.matrix, Long2Fix(box->left - current.left), Long2Fix(box->top - current.top));
        } else {
            MapMatrix(&m.matrix, &current, box);
        }
        result(noErr);
    });
}

void GetMovieMatrix(Movie movie, MatrixRecord* matrix) {
    onRecordNoErr(movie, [&](MovieRecord& m) {
        if (matrix) *matrix = m.matrix;
    });
}

void SetMovieMatrix(Movie movie, const MatrixRecord* matrix) {
    onRecordNoErr(movie, [&](MovieRecord& m) {
        if (matrix)
            m.matrix = *matrix;
        else
            SetIdentityMatrix(&m.matrix);
    });
}

Boolean GetMovieActive(Movie movie) {
    return onRecordNoErr(movie, Boolean(false), [](MovieRecord& m) { return Boolean(m.active); });
}

void SetMovieActive(Movie movie, Boolean active) {
    onRecordNoErr(movie, [&](MovieRecord& m) { m.active = active != 0; });
}

namespace {
// Reads a pair of movie times; every output may be null.
void getPair(Movie movie, int64_t MovieRecord::*first, int64_t MovieRecord::*second, TimeValue* a,
             TimeValue* b) {
    if (a) *a = 0;
    if (b) *b = 0;
    onRecordNoErr(movie, [&](MovieRecord& m) {
        if (a) *a = saturate32(m.*first);
        if (b) *b = saturate32(m.*second);
    });
}

void setPair(Movie movie, int64_t MovieRecord::*first, int64_t MovieRecord::*second, TimeValue a,
             TimeValue b) {
    onRecord(movie, [&](MovieRecord& m) {
        if (a < 0 || b < 0) {
            result(paramErr);
            return;
        }
        m.*first = a;
        m.*second = b;
        result(noErr);
    });
}
} // namespace

void GetMovieSelection(Movie movie, TimeValue* selectionTime, TimeValue* selectionDuration) {
    getPair(movie, &MovieRecord::selectionStart, &MovieRecord::selectionDuration, selectionTime,
            selectionDuration);
}

void SetMovieSelection(Movie movie, TimeValue selectionTime, TimeValue selectionDuration) {
    setPair(movie, &MovieRecord::selectionStart, &MovieRecord::selectionDuration, selectionTime,
            selectionDuration);
}

void GetMoviePreviewTime(Movie movie, TimeValue* previewTime, TimeValue* previewDuration) {
    getPair(movie, &MovieRecord::previewStart, &MovieRecord::previewDuration, previewTime, previewDuration);
}

void SetMoviePreviewTime(Movie movie, TimeValue previewTime, TimeValue previewDuration) {
    setPair(movie, &MovieRecord::previewStart, &MovieRecord::previewDuration, previewTime, previewDuration);
}

TimeValue GetMoviePosterTime(Movie movie) {
    TimeValue t = 0;
    getPair(movie, &MovieRecord::posterTime, &MovieRecord::posterTime, &t, nullptr);
    return t;
}

void SetMoviePosterTime(Movie movie, TimeValue posterTime) {
    setPair(movie, &MovieRecord::posterTime, &MovieRecord::posterTime, posterTime, posterTime);
}

void GetMovieNextInterestingTime(Movie movie, int16_t interestingTimeFlags, int16_t numMediaTypes,
                                 const OSType* whichMediaTypes, TimeValue time, Fixed rate,
                                 TimeValue* interestingTime, TimeValue* interestingDuration) {
    if (interestingTime) *interestingTime = -1;
    if (interestingDuration) *interestingDuration = 0;
    onRecord(movie, [&](MovieRecord& m) {
        if (numMediaTypes < 0 || (numMediaTypes > 0 && !whichMediaTypes)) {
            result(paramErr);
            return;
        }
        std::vector<const TrackRecord*> tracks;
        for (const auto& t : m.tracks) {
            if (!t->enabled) continue;
            if (numMediaTypes > 0) {
                const OSType type = t->media ? t->media->type : 0;
                if (std::find(whichMediaTypes, whichMediaTypes + numMediaTypes, type) ==
                    whichMediaTypes + numMediaTypes)
                    continue;
            }
            tracks.push_back(t.get());
        }
        auto after = [&](int64_t x, bool strict) {
            std::optional<int64_t> best;
            for (const TrackRecord* t : tracks)
                best = least(best, trackTimeAfter(*t, interestingTimeFlags, x, strict));
            return best;
        };
        auto before = [&](int64_t x, bool strict) {
            std::optional<int64_t> best;
            for (const TrackRecord* t : tracks)
                best = greatest(best, trackTimeBefore(*t, interestingTimeFlags, x, strict));
            return best;
        };
        int64_t found = -1, length = 0;
        pick(after, before, interestingTimeFlags, time, rate, movieDuration(m), &found, &length);
        if (interestingTime) *interestingTime = saturate32(found);
        if (interestingDuration) *interestingDuration = saturate32(length);
        result(noErr);
    });
}

void GetTrackNextInterestingTime(Track theTrack, int16_t interestingTimeFlags, TimeValue time, Fixed rate,
                                 TimeValue* interestingTime, TimeValue* interestingDuration) {
    if (interestingTime) *interestingTime = -1;
    if (interestingDuration) *interestingDuration = 0;
    onRecordNoErr(theTrack, [&](TrackRecord& t) {
        auto after = [&](int64_t x, bool strict) {
            return trackTimeAfter(t, interestingTimeFlags, x, strict);
        };
        auto before = [&](int64_t x, bool strict) {
            return trackTimeBefore(t, interestingTimeFlags, x, strict);
        };
        int64_t found = -1, length = 0;
        pick(after, before, interestingTimeFlags, time, rate, trackDuration(t), &found, &length);
        if (interestingTime) *interestingTime = saturate32(found);
        if (interestingDuration) *interestingDuration = saturate32(length);
    });
}

void GetMediaNextInterestingDisplayTime(Media media, int16_t interestingTimeFlags, TimeValue64 time,
                                        Fixed rate, TimeValue64* interestingDisplayTime,
                                        TimeValue64* interestingDisplayDuration) {
    if (interestingDisplayTime) *interestingDisplayTime = -1;
    if (interestingDisplayDuration) *interestingDisplayDuration = 0;
    onRecordNoErr(media, [&](MediaRecord& md) {
        const bool sync = (interestingTimeFlags & nextTimeSyncSample) != 0;
        auto after = [&](int64_t x, bool strict) -> std::optional<int64_t> {
            if (strict && x == INT64_MAX) return std::nullopt;
            return sampleStartAfter(md, sync, INT64_MIN, INT64_MAX, strict ? x + 1 : x);
        };
        auto before = [&](int64_t x, bool strict) -> std::optional<int64_t> {
            if (strict && x == INT64_MIN) return std::nullopt;
            return sampleStartBefore(md, sync, INT64_MIN, INT64_MAX, strict ? x - 1 : x);
        };
        int64_t found = -1, length = 0;
        pick(after, before, interestingTimeFlags, time, rate, md.displayEnd, &found, &length);
        if (interestingDisplayTime) *interestingDisplayTime = found;
        if (interestingDisplayDuration) *interestingDisplayDuration = length;
    });
}

// ---------------------------------------------------------------------------------------------
// Tracks.

Track NewMovieTrack(Movie movie, Fixed width, Fixed height, int16_t trackVolume) {
    return onRecord(movie, Track(nullptr), [&](MovieRecord& m) -> Track {
        if (width < 0 || height < 0) {
            result(paramErr);
            return nullptr;
        }
        auto track = std::unique_ptr<TrackRecord>(new (std::nothrow) TrackRecord());
        if (!track || NewUserData(&track->userData) != noErr) {
            result(memFullErr);
            return nullptr;
        }
        track->token = reinterpret_cast<Track>(newToken());
        track->movie = &m;
        track->id = m.nextTrackID++;
        track->width = width;
        track->height = height;
        track->volume = trackVolume;
        SetIdentityMatrix(&track->matrix);
        TrackRecord* raw = track.get();
        try {
            registry().tracks.emplace(reinterpret_cast<uintptr_t>(raw->token), raw);
            m.tracks.push_back(std::move(track));
        } catch (const std::bad_alloc&) {
            registry().tracks.erase(reinterpret_cast<uintptr_t>(raw->token));
            result(memFullErr);
            return nullptr;
        }
        result(noErr);
        return raw->token;
    });
}

void DisposeMovieTrack(Track track) {
    onRecordNoErr(track, [](TrackRecord& t) {
        MovieRecord* m = t.movie;
        destroyTrack(&t);
        keepTimeInMovie(*m);
    });
}

int32_t GetMovieTrackCount(Movie movie) {
    return onRecordNoErr(movie, int32_t(0), [](MovieRecord& m) { return int32_t(m.tracks.size()); });
}

Track GetMovieIndTrack(Movie movie, int32_t index) {
    return onRecord(movie, Track(nullptr), [&](MovieRecord& m) -> Track {
        if (index < 1 || size_t(index) > m.tracks.size()) {
            result(badTrackIndex);
            return nullptr;
        }
        result(noErr);
        return m.tracks[size_t(index - 1)]->token;
    });
}

Track GetMovieIndTrackType(Movie movie, int32_t index, OSType trackType, int32_t flags) {
    return onRecord(movie, Track(nullptr), [&](MovieRecord& m) -> Track {
        if (index < 1) {
            result(badTrackIndex);
            return nullptr;
        }
        // Running past the last match is how callers end their walk: no error.
        result(noErr);
        int32_t seen = 0;
        for (const auto& t : m.tracks)
            if (trackMatches(*t, trackType, flags) && ++seen == index) return t->token;
        return nullptr;
    });
}

int32_t GetTrackID(Track track) {
    return onRecordNoErr(track, int32_t(0), [](TrackRecord& t) { return t.id; });
}

Track GetMovieTrack(Movie movie, int32_t trackID) {
    return onRecord(movie, Track(nullptr), [&](MovieRecord& m) -> Track {
        for (const auto& t : m.tracks)
            if (t->id == trackID) {
                result(noErr);
                return t->token;
            }
        result(trackIDNotFound);
        return nullptr;
    });
}

Movie GetTrackMovie(Track track) {
    return onRecordNoErr(track, Movie(nullptr), [](TrackRecord& t) { return t.movie->token; });
}

void GetTrackDimensions(Track track, Fixed* width, Fixed* height) {
    if (width) *width = 0;
    if (height) *height = 0;
    onRecordNoErr(track, [&](TrackRecord& t) {
        if (width) *width = t.width;
        if (height) *height = t.height;
    });
}

void SetTrackDimensions(Track track, Fixed width, Fixed height) {
    onRecord(track, [&](TrackRecord& t) {
        if (width < 0 || height < 0) {
            result(paramErr);
            return;
        }
        t.width = width;
        t.height = height;
        result(noErr);
    });
}

void GetTrackMatrix(Track track, MatrixRecord* matrix) {
    onRecordNoErr(track, [&](TrackRecord& t) {
        if (matrix) *matrix = t.matrix;
    });
}

void SetTrackMatrix(Track track, const MatrixRecord* matrix) {
    onRecordNoErr(track, [&](TrackRecord& t) {
        if (matrix)
            t.matrix = *matrix;
        else
            SetIdentityMatrix(&t.matrix);
    });
}

Boolean GetTrackEnabled(Track track) {
    return onRecordNoErr(track, Boolean(false), [](TrackRecord& t) { return Boolean(t.enabled); });
}

void SetTrackEnabled(Track track, Boolean isEnabled) {
    onRecordNoErr(track, [&](TrackRecord& t) { t.enabled = isEnabled != 0; });
}

int16_t GetTrackLayer(Track track) {
    return onRecordNoErr(track, int16_t(0), [](TrackRecord& t) { return t.layer; });
}

void SetTrackLayer(Track track, int16_t layer) {
    onRecordNoErr(track, [&](TrackRecord& t) { t.layer = layer; });
}

int16_t GetTrackVolume(Track track) {
    return onRecordNoErr(track, int16_t(0), [](TrackRecord& t) { return t.volume; });
}

void SetTrackVolume(Track track, int16_t volume) {
    onRecordNoErr(track, [&](TrackRecord& t) { t.volume = volume; });
}

TimeValue GetTrackDuration(Track track) {
    return onRecordNoErr(track, TimeValue(0), [](TrackRecord& t) { return saturate32(trackDuration(t)); });
}

TimeValue GetTrackOffset(Track track) {
    return onRecordNoErr(track, TimeValue(0), [](TrackRecord& t) {
        int64_t offset = 0;
        for (const Edit& e : t.edits) {
            if (!e.empty) break;
            offset += e.length;
        }
        return saturate32(offset);
    });
}

void SetTrackOffset(Track track, TimeValue movieOffsetTime) {
    onRecord(track, [&](TrackRecord& t) {
        if (movieOffsetTime < 0 || trackDuration(t) + movieOffsetTime > kMaxTime) {
            result(paramErr);
            return;
        }
        auto& edits = t.edits;
        size_t lead = 0;
        while (lead < edits.size() && edits[lead].empty)
            ++lead;
        if (lead == edits.size()) { // nothing shows: no offset to keep
            result(noErr);
            return;
        }
        edits.erase(edits.begin(), edits.begin() + std::ptrdiff_t(lead));
        if (movieOffsetTime > 0) {
            Edit gap;
            gap.length = movieOffsetTime;
            edits.insert(edits.begin(), gap);
        }
        result(noErr);
    });
}

void SetTrackAlternate(Track track, Track alternateT) {
    onRecord(track, [&](TrackRecord& t) {
        TrackRecord* other = nullptr;
        if (alternateT) {
            other = findTrack(alternateT);
            if (!other) {
                result(invalidTrack);
                return;
            }
            if (other->movie != t.movie) {
                result(trackNotInMovie);
                return;
            }
        }
        // Out of the present group first.
        if (t.alternate != &t) {
            TrackRecord* before = t.alternate;
            while (before->alternate != &t)
                before = before->alternate;
            before->alternate = t.alternate;
            t.alternate = &t;
        }
        if (other && other != &t) {
            t.alternate = other->alternate;
            other->alternate = &t;
        }
        result(noErr);
    });
}

Track GetTrackAlternate(Track track) {
    return onRecordNoErr(track, Track(nullptr), [](TrackRecord& t) { return t.alternate->token; });
}

namespace {
TrackReferences* referencesOf(TrackRecord& t, OSType type) {
    for (TrackReferences& r : t.references)
        if (r.type == type) return &r;
    return nullptr;
}
} // namespace

OSErr AddTrackReference(Track theTrack, Track refTrack, OSType refType, int32_t* addedIndex) {
    if (addedIndex) *addedIndex = 0;
    return onRecord(theTrack, invalidTrack, [&](TrackRecord& t) {
        TrackRecord* r = findTrack(refTrack);
        if (!r) return result(invalidTrack);
        if (r->movie != t.movie) return result(trackNotInMovie);
        if (refType == 0) return result(paramErr);
        TrackReferences* refs = referencesOf(t, refType);
        if (!refs) {
            t.references.push_back(TrackReferences{refType, {}});
            refs = &t.references.back();
        }
        auto it = std::find(refs->tracks.begin(), refs->tracks.end(), r);
        if (it == refs->tracks.end()) {
            refs->tracks.push_back(r);
            it = refs->tracks.end() - 1;
        }
        if (addedIndex) *addedIndex = int32_t(it - refs->tracks.begin()) + 1;
        return result(noErr);
    });
}

OSErr DeleteTrackReference(Track theTrack, OSType refType, int32_t index) {
    return onRecord(theTrack, invalidTrack, [&](TrackRecord& t) {
        TrackReferences* refs = referencesOf(t, refType);
        if (!refs || index < 1 || size_t(index) > refs->tracks.size()) return result(badTrackIndex);
        refs->tracks.erase(refs->tracks.begin() + (index - 1));
        if (refs->tracks.empty()) t.references.erase(t.references.begin() + (refs - t.references.data()));
        return result(noErr);
    });
}

OSErr SetTrackReference(Track theTrack, Track refTrack, OSType refType, int32_t index) {
    return onRecord(theTrack, invalidTrack, [&](TrackRecord& t) {
        TrackRecord* r = findTrack(refTrack);
        if (!r) return result(invalidTrack);
        if (r->movie != t.movie) return result(trackNotInMovie);
        TrackReferences* refs = referencesOf(t, refType);
        if (!refs || index < 1 || size_t(index) > refs->tracks.size()) return result(badTrackIndex);
        refs->tracks[size_t(index - 1)] = r;
        return result(noErr);
    });
}

Track GetTrackReference(Track theTrack, OSType refType, int32_t index) {
    return onRecord(theTrack, Track(nullptr), [&](TrackRecord& t) -> Track {
        TrackReferences* refs = referencesOf(t, refType);
        if (!refs || index < 1 || size_t(index) > refs->tracks.size()) {
            result(badTrackIndex);
            return nullptr;
        }
        result(noErr);
        return refs->tracks[size_t(index - 1)]->token;
    });
}

OSType GetNextTrackReferenceType(Track theTrack, OSType refType) {
    return onRecordNoErr(theTrack, OSType(0), [&](TrackRecord& t) -> OSType {
        const auto& all = t.references;
        if (refType == 0) return all.empty() ? 0 : all.front().type;
        for (size_t i = 0; i + 1 < all.size(); ++i)
            if (all[i].type == refType) return all[i + 1].type;
        return 0;
    });
}

int32_t GetTrackReferenceCount(Track theTrack, OSType refType) {
    return onRecordNoErr(theTrack, int32_t(0), [&](TrackRecord& t) {
        TrackReferences* refs = referencesOf(t, refType);
        return refs ? int32_t(refs->tracks.size()) : 0;
    });
}

// ---------------------------------------------------------------------------------------------
// User data and metadata.

UserData GetMovieUserData(Movie movie) {
    return onRecordNoErr(movie, UserData(nullptr), [](MovieRecord& m) { return m.userData; });
}

UserData GetTrackUserData(Track track) {
    return onRecordNoErr(track, UserData(nullptr), [](TrackRecord& t) { return t.userData; });
}

UserData GetMediaUserData(Media media) {
    return onRecordNoErr(media, UserData(nullptr), [](MediaRecord& m) { return m.userData; });
}

namespace {
// The owner's store (made on first use) with one more count for the caller.
OSStatus copyStore(QTMetaDataRef& store, OSType ownerType, QTMetaDataRef* out) {
    if (!store) store = platform::newMetaData(ownerType);
    if (!store) return result(memFullErr);
    *out = QTMetaDataRetain(store);
    return result(*out ? noErr : memFullErr);
}
} // namespace

OSStatus QTCopyMovieMetaData(Movie inMovie, QTMetaDataRef* outMetaData) {
    if (!outMetaData) return result(paramErr);
    *outMetaData = nullptr;
    return onRecord(inMovie, OSStatus(invalidMovie), [&](MovieRecord& m) {
        return copyStore(m.metaData, FOUR_CHAR_CODE("moov"), outMetaData);
    });
}

OSStatus QTCopyTrackMetaData(Track inTrack, QTMetaDataRef* outMetaData) {
    if (!outMetaData) return result(paramErr);
    *outMetaData = nullptr;
    return onRecord(inTrack, OSStatus(invalidTrack), [&](TrackRecord& t) {
        return copyStore(t.metaData, FOUR_CHAR_CODE("trak"), outMetaData);
    });
}

OSStatus QTCopyMediaMetaData(Media inMedia, QTMetaDataRef* outMetaData) {
    if (!outMetaData) return result(paramErr);
    *outMetaData = nullptr;
    return onRecord(inMedia, OSStatus(invalidMedia), [&](MediaRecord& m) {
        return copyStore(m.metaData, FOUR_CHAR_CODE("mdia"), outMetaData);
    });
}
