#include "PlatformFixed.h"
#include "PlatformMovieModel.h"
#include "PlatformPendingToolboxCalls.h"

#include <algorithm>
#include <new>
#include <numeric>

using namespace platform::movie;

namespace {

using Lock = std::lock_guard<std::mutex>;

__int128 gcd128(__int128 a, __int128 b) {
    if (a < 0) a = -a;
    if (b < 0) b = -b;
    while (b != 0) {
        __int128 t = a % b;
        a = b;
        b = t;
    }
    return a;
}

bool fits64(__int128 v) {
    return v >= INT64_MIN && v <= INT64_MAX;
}

// The segment stretched (or shrunk) to `newLength`, showing the same media.
Edit scaled(const Edit& e, int64_t newLength) {
    Edit out = e;
    out.length = newLength;
    if (e.empty || newLength == e.length) return out;
    // k' units of the new segment show what k' * length / newLength units of the old one showed.
    __int128 base = __int128(e.base) * newLength;
    __int128 num = __int128(e.num) * e.length;
    __int128 den = __int128(e.den) * newLength;
    __int128 g = gcd128(gcd128(base, num), den);
    if (g > 1) base /= g, num /= g, den /= g;
    if (fits64(base) && fits64(num) && fits64(den)) {
        out.base = int64_t(base);
        out.num = int64_t(num);
        out.den = int64_t(den);
        advanceEdit(out, 0);
        return out;
    }
    // Too fine to keep exactly: the same media span over the new length.
    const int64_t first = mediaTimeAt(e, 0);
    const int64_t end = mediaTimeAt(e, e.length);
    out.anchor = first;
    out.base = 0;
    out.num = end - first;
    out.den = newLength;
    return out;
}

// Segments whose lengths move from one scale to another: boundaries round toward minus infinity
// and segments left with no length go.
void rescalePieces(std::vector<Edit>& pieces, int64_t from, int64_t to) {
    if (from == to) return;
    std::vector<Edit> out;
    int64_t cumulative = 0, previous = 0;
    for (const Edit& e : pieces) {
        cumulative += e.length;
        const int64_t boundary = convertTime(cumulative, from, to);
        if (boundary > previous) out.push_back(scaled(e, boundary - previous));
        previous = std::max(previous, boundary);
    }
    pieces = std::move(out);
}

// Copies of the segments covering [from, from + length) of the track, cut to it.
std::vector<Edit> piecesOf(const TrackRecord& t, int64_t from, int64_t length) {
    std::vector<Edit> out;
    int64_t start = 0;
    const int64_t to = from + length;
    for (const Edit& e : t.edits) {
        const int64_t end = start + e.length;
        const int64_t a = std::max(start, from), b = std::min(end, to);
        if (a < b) {
            Edit piece = e;
            advanceEdit(piece, a - start);
            piece.length = b - a;
            out.push_back(piece);
        }
        start = end;
    }
    return out;
}

OSErr insertPieces(TrackRecord& t, int64_t at, const std::vector<Edit>& pieces) {
    const int64_t duration = trackDuration(t);
    if (at < 0) at = duration;
    __int128 total = std::max(duration, at);
    for (const Edit& e : pieces)
        total += e.length;
    if (total > kMaxTime) return paramErr;
    if (at > duration) {
        Edit gap;
        gap.length = at - duration;
        t.edits.push_back(gap);
    }
    const size_t index = splitEditsAt(t, at);
    t.edits.insert(t.edits.begin() + std::ptrdiff_t(index), pieces.begin(), pieces.end());
    normalizeEdits(t);
    return noErr;
}

// Empty time of `length` opened at `at` in a track that reaches past it; a track ending by then
// keeps its edits, since none of them moves.
void openGap(TrackRecord& t, int64_t at, int64_t length) {
    if (at >= trackDuration(t)) return;
    Edit gap;
    gap.length = length;
    insertPieces(t, at, {gap});
}

void deleteRange(TrackRecord& t, int64_t start, int64_t length) {
    const int64_t duration = trackDuration(t);
    if (start >= duration || length <= 0) return;
    const int64_t end = std::min(duration, start + length);
    const size_t first = splitEditsAt(t, start);
    const size_t last = splitEditsAt(t, end);
    t.edits.erase(t.edits.begin() + std::ptrdiff_t(first), t.edits.begin() + std::ptrdiff_t(last));
    normalizeEdits(t);
}

OSErr scaleRange(TrackRecord& t, int64_t start, int64_t oldLength, int64_t newLength) {
    const int64_t duration = trackDuration(t);
    if (start >= duration) return noErr;
    const int64_t end = std::min(duration, start + oldLength);
    // Only the part of the range that the track covers is scaled, in proportion.
    if (end < start + oldLength) newLength = int64_t(__int128(newLength) * (end - start) / oldLength);
    if (__int128(duration) - (end - start) + newLength > kMaxTime) return paramErr;
    const size_t first = splitEditsAt(t, start);
    const size_t last = splitEditsAt(t, end);
    std::vector<Edit> middle(t.edits.begin() + std::ptrdiff_t(first), t.edits.begin() + std::ptrdiff_t(last));
    rescalePieces(middle, end - start, newLength);
    t.edits.erase(t.edits.begin() + std::ptrdiff_t(first), t.edits.begin() + std::ptrdiff_t(last));
    t.edits.insert(t.edits.begin() + std::ptrdiff_t(first), middle.begin(), middle.end());
    normalizeEdits(t);
    return noErr;
}

// The media segment [a, b) (display times) of `src` copied to the end of `dst`; `shift`
// receives how far its display times moved.
OSErr copyMedia(const MediaRecord& src, MediaRecord& dst, int64_t a, int64_t b, int64_t* shift) {
    *shift = 0;
    // The samples whose display intervals meet [a, b), and every sample between them in decode order.
    int64_t lo = INT64_MAX, hi = -1;
    for (const SampleRun& r : src.runs) {
        const int64_t first = r.firstDecodeTime + r.displayOffset;
        const int64_t kLow = std::max<int64_t>(0, floorDiv(__int128(a) - first, r.duration));
        const int64_t kHigh = std::min<int64_t>(r.count, ceilDiv(__int128(b) - first, r.duration));
        if (kLow >= kHigh) continue;
        lo = std::min(lo, r.firstNumber + kLow);
        hi = std::max(hi, r.firstNumber + kHigh - 1);
    }
    if (hi < lo) return noErr;
    std::vector<uint32_t> descriptionMap(src.descriptions.size() + 1, 0);
    const SampleRun& firstRun = *runOfNumber(src, lo);
    const int64_t firstDecode = firstRun.firstDecodeTime + (lo - firstRun.firstNumber) * firstRun.duration;
    *shift = dst.decodeEnd - firstDecode;
    for (int64_t n = lo; n <= hi;) {
        const SampleRun& r = *runOfNumber(src, n);
        const int64_t k = n - r.firstNumber;
        const int64_t count = std::min(r.count - k, hi - n + 1);
        uint32_t& mapped = descriptionMap[r.description];
        if (!mapped) {
            const Bytes& d = src.descriptions[r.description - 1];
            auto it = std::find(dst.descriptions.begin(), dst.descriptions.end(), d);
            if (it == dst.descriptions.end()) {
                dst.descriptions.push_back(d);
                it = dst.descriptions.end() - 1;
            }
            mapped = uint32_t(it - dst.descriptions.begin()) + 1;
        }
        const size_t bytes = size_t(count) * r.size;
        const size_t at = dst.storage.size();
        dst.storage.resize(at + bytes);
        if (OSErr err =
                readSampleBytes(src, r, r.dataOffset + k * int64_t(r.size), bytes, dst.storage.data() + at)) {
            dst.storage.resize(at);
            return err;
        }
        SampleRun run = r;
        run.count = count;
        run.dataOffset = int64_t(at);
        run.description = mapped;
        run.reference = false;
        run.firstNumber = dst.sampleCount;
        run.firstDecodeTime = dst.decodeEnd;
        dst.runs.push_back(run);
        dst.sampleCount += count;
        dst.decodeEnd += count * r.duration;
        dst.displayEnd = std::max(dst.displayEnd, dst.decodeEnd + r.displayOffset);
        n += count;
    }
    return noErr;
}

// What [srcIn, srcIn + srcDuration) of `src` shows, as segments for `dst` (in its movie's scale,
// over its media). `pad` fills the part past the source's end with empty time.
OSErr segmentFor(const TrackRecord& src, TrackRecord& dst, int64_t srcIn, int64_t srcDuration, bool pad,
                 std::vector<Edit>& pieces) {
    pieces = piecesOf(src, srcIn, srcDuration);
    if (pad) {
        int64_t covered = 0;
        for (const Edit& e : pieces)
            covered += e.length;
        if (covered < srcDuration) {
            Edit gap;
            gap.length = srcDuration - covered;
            pieces.push_back(gap);
        }
    }
    const bool showsMedia = std::any_of(pieces.begin(), pieces.end(), [](const Edit& e) { return !e.empty; });
    if (showsMedia && src.media != dst.media) {
        if (!src.media || !dst.media) return invalidMedia;
        if (src.media->type != dst.media->type) return mediaTypesDontMatch;
        if (src.media->scale != dst.media->scale) return paramErr;
        for (Edit& e : pieces) {
            if (e.empty) continue;
            const int64_t a = mediaTimeAt(e, 0), b = std::max(a + 1, mediaTimeAt(e, e.length));
            int64_t shift = 0;
            if (OSErr err = copyMedia(*src.media, *dst.media, a, b, &shift)) return err;
            e.anchor += shift;
        }
    }
    rescalePieces(pieces, src.movie->scale, dst.movie->scale);
    return noErr;
}

} // namespace

namespace platform::movie {

int64_t mediaTimeAt(const Edit& e, int64_t k) {
    return e.anchor + floorDiv(__int128(e.base) + __int128(k) * e.num, e.den);
}

void advanceEdit(Edit& e, int64_t units) {
    if (e.empty) return;
    const __int128 base = __int128(e.base) + __int128(units) * e.num;
    const int64_t whole = floorDiv(base, e.den);
    e.anchor += whole;
    e.base = int64_t(base - __int128(whole) * e.den);
}

void normalizeEdits(TrackRecord& t) {
    std::vector<Edit> out;
    for (const Edit& e : t.edits) {
        if (e.length <= 0) continue;
        if (e.empty && !out.empty() && out.back().empty) {
            out.back().length += e.length;
            continue;
        }
        out.push_back(e);
    }
    while (!out.empty() && out.back().empty)
        out.pop_back();
    t.edits = std::move(out);
}

size_t splitEditsAt(TrackRecord& t, int64_t at) {
    int64_t start = 0;
    for (size_t i = 0; i < t.edits.size(); ++i) {
        if (at == start) return i;
        const Edit e = t.edits[i];
        if (at < start + e.length) {
            Edit first = e, second = e;
            first.length = at - start;
            second.length = e.length - first.length;
            advanceEdit(second, first.length);
            t.edits[i] = first;
            t.edits.insert(t.edits.begin() + std::ptrdiff_t(i + 1), second);
            return i + 1;
        }
        start += e.length;
    }
    return t.edits.size();
}

void rescaleEdits(TrackRecord& t, int64_t fromScale, int64_t toScale) {
    rescalePieces(t.edits, fromScale, toScale);
    normalizeEdits(t);
}

namespace {

struct SearchKinds {
    bool edits, sync, samples;
    explicit SearchKinds(int16_t flags)
        : edits(flags & (nextTimeTrackEdit | nextTimeMediaEdit)), sync(flags & nextTimeSyncSample),
          samples(flags & (nextTimeMediaSample | nextTimeStep | nextTimeSyncSample)) {}
};

// The first unit k of a segment with anchor + floor((base + k * num) / den) >= s.
int64_t unitShowing(const Edit& e, int64_t s) {
    return ceilDiv(__int128(s - e.anchor) * e.den - e.base, e.num);
}

// Whether the segment's start is an interesting time: it shows a sample from its first unit on;
// for sync samples, only when one starts right there.
bool segmentStartCounts(const TrackRecord& t, const Edit& e, const SearchKinds& kinds) {
    if (kinds.edits) return true;
    if (!kinds.samples || e.empty || !t.media) return false;
    if (!kinds.sync) return true;
    const int64_t first = mediaTimeAt(e, 0);
    return sampleStartAfter(*t.media, true, first, mediaTimeAt(e, e.length), first) == first;
}

} // namespace

// Inside a segment, the interesting times after its start are those where a sample starting
// after the segment's first media time comes into view; the unit showing a media time grows with
// it, so the neighbour of a track time is the unit of the neighbouring sample start.
std::optional<int64_t> trackTimeAfter(const TrackRecord& t, int16_t flags, int64_t time, bool strict) {
    if (strict && time == INT64_MAX) return std::nullopt;
    const int64_t target = strict ? time + 1 : time;
    const SearchKinds kinds(flags);
    std::optional<int64_t> best;
    int64_t start = 0;
    for (const Edit& e : t.edits) {
        const int64_t end = start + e.length;
        if (best && start >= *best) break;
        if (start >= target && segmentStartCounts(t, e, kinds)) {
            best = start;
            break;
        }
        if (end > target && kinds.samples && !e.empty && t.media && e.num > 0) {
            const int64_t units = std::max<int64_t>(1, target - start);
            if (units < e.length) {
                const int64_t first = mediaTimeAt(e, 0);
                const int64_t low = std::max(mediaTimeAt(e, units - 1) + 1, first + 1);
                const std::optional<int64_t> s =
                    sampleStartAfter(*t.media, kinds.sync, low, mediaTimeAt(e, e.length), low);
                if (s) {
                    const int64_t k = unitShowing(e, *s);
                    if (k > 0 && k < e.length && (!best || start + k < *best)) best = start + k;
                }
            }
        }
        start = end;
    }
    return best;
}

std::optional<int64_t> trackTimeBefore(const TrackRecord& t, int16_t flags, int64_t time, bool strict) {
    if (strict && time == INT64_MIN) return std::nullopt;
    const int64_t target = strict ? time - 1 : time;
    const SearchKinds kinds(flags);
    int64_t end = 0;
    for (const Edit& e : t.edits)
        end += e.length;
    for (size_t i = t.edits.size(); i-- > 0;) {
        const Edit& e = t.edits[i];
        const int64_t start = end - e.length;
        end = start;
        if (start > target) continue;
        if (kinds.samples && !e.empty && t.media && e.num > 0) {
            const int64_t units = std::min(target - start, e.length - 1);
            if (units >= 1) {
                const int64_t first = mediaTimeAt(e, 0), mediaEnd = mediaTimeAt(e, e.length);
                const std::optional<int64_t> s =
                    sampleStartBefore(*t.media, kinds.sync, first + 1, mediaEnd, mediaTimeAt(e, units));
                if (s) {
                    const int64_t k = unitShowing(e, *s);
                    if (k > 0 && k < e.length) return start + k;
                }
            }
        }
        if (segmentStartCounts(t, e, kinds)) return start;
    }
    return std::nullopt;
}

} // namespace platform::movie

// ---------------------------------------------------------------------------------------------
// Track edits.

OSErr InsertMediaIntoTrack(Track track, TimeValue trackStart, TimeValue mediaTime, TimeValue mediaDuration,
                           Fixed mediaRate) {
    return onRecord(track, invalidTrack, [&](TrackRecord& t) {
        MediaRecord* m = t.media;
        if (!m) return result(invalidMedia);
        if (trackStart < -1 || mediaRate <= 0) return result(paramErr);
        if (mediaDuration < 1) return result(invalidDuration);
        const int64_t mediaEnd = std::max(m->decodeEnd, m->displayEnd);
        if (mediaTime < 0 || int64_t(mediaTime) + mediaDuration > mediaEnd) return result(timeNotInMedia);
        // The track length at the rate, to the nearest unit of the movie's scale.
        const __int128 n = __int128(mediaDuration) * t.movie->scale * fixed1;
        const __int128 d = __int128(m->scale) * mediaRate;
        const int64_t length = floorDiv(2 * n + d, 2 * d);
        if (length < 1) return result(invalidDuration);
        Edit e;
        e.empty = false;
        e.length = length;
        e.anchor = mediaTime;
        e.base = 0;
        e.num = mediaDuration;
        e.den = length;
        try {
            if (OSErr err = insertPieces(t, trackStart, {e})) return result(err);
        } catch (const std::bad_alloc&) {
            return result(memFullErr);
        }
        return result(noErr);
    });
}

OSErr InsertEmptyTrackSegment(Track dstTrack, TimeValue dstIn, TimeValue dstDuration) {
    return onRecord(dstTrack, invalidTrack, [&](TrackRecord& t) {
        if (dstIn < -1 || dstDuration < 0) return result(paramErr);
        Edit gap;
        gap.length = dstDuration;
        try {
            if (OSErr err = insertPieces(t, dstIn, {gap})) return result(err);
        } catch (const std::bad_alloc&) {
            return result(memFullErr);
        }
        return result(noErr);
    });
}

OSErr InsertTrackSegment(Track srcTrack, Track dstTrack, TimeValue srcIn, TimeValue srcDuration,
                         TimeValue dstIn) {
    Lock lock(registry().mutex);
    TrackRecord* src = findTrack(srcTrack);
    TrackRecord* dst = findTrack(dstTrack);
    if (!src || !dst) return result(invalidTrack);
    if (srcIn < 0 || srcDuration < 0 || dstIn < -1) return result(paramErr);
    try {
        std::vector<Edit> pieces;
        if (OSErr err = segmentFor(*src, *dst, srcIn, srcDuration, false, pieces)) return result(err);
        if (OSErr err = insertPieces(*dst, dstIn, pieces)) return result(err);
    } catch (const std::bad_alloc&) {
        return result(memFullErr);
    }
    return result(noErr);
}

OSErr DeleteTrackSegment(Track theTrack, TimeValue startTime, TimeValue duration) {
    return onRecord(theTrack, invalidTrack, [&](TrackRecord& t) {
        if (startTime < 0 || duration < 0) return result(paramErr);
        try {
            deleteRange(t, startTime, duration);
        } catch (const std::bad_alloc&) {
            return result(memFullErr);
        }
        keepTimeInMovie(*t.movie);
        return result(noErr);
    });
}

OSErr ScaleTrackSegment(Track theTrack, TimeValue startTime, TimeValue oldDuration, TimeValue newDuration) {
    return onRecord(theTrack, invalidTrack, [&](TrackRecord& t) {
        if (startTime < 0 || oldDuration < 1 || newDuration < 1) return result(paramErr);
        try {
            if (OSErr err = scaleRange(t, startTime, oldDuration, newDuration)) return result(err);
        } catch (const std::bad_alloc&) {
            return result(memFullErr);
        }
        keepTimeInMovie(*t.movie);
        return result(noErr);
    });
}

Fixed GetTrackEditRate(Track theTrack, TimeValue atTime) {
    return onRecord(theTrack, Fixed(0), [&](TrackRecord& t) -> Fixed {
        int64_t start = 0;
        for (const Edit& e : t.edits) {
            if (atTime >= start && atTime < start + e.length) {
                result(noErr);
                if (e.empty || !t.media) return 0;
                // (num / den) media units per track unit, in seconds per second.
                const __int128 n = __int128(e.num) * t.movie->scale * fixed1;
                const __int128 d = __int128(e.den) * t.media->scale;
                return Fixed(std::clamp<int64_t>(floorDiv(2 * n + d, 2 * d), 0, INT32_MAX));
            }
            start += e.length;
        }
        result(invalidTime);
        return 0;
    });
}

TimeValue64 TrackTimeToMediaDisplayTime(TimeValue64 value, Track theTrack) {
    return onRecordNoErr(theTrack, TimeValue64(-1), [&](TrackRecord& t) -> TimeValue64 {
        int64_t start = 0;
        for (const Edit& e : t.edits) {
            if (value >= start && value < start + e.length)
                return e.empty || !t.media ? -1 : mediaTimeAt(e, value - start);
            start += e.length;
        }
        return -1;
    });
}

TimeValue TrackTimeToMediaTime(TimeValue value, Track theTrack) {
    return saturate32(TrackTimeToMediaDisplayTime(value, theTrack));
}

// ---------------------------------------------------------------------------------------------
// Movie edits.

OSErr InsertMovieSegment(Movie srcMovie, Movie dstMovie, TimeValue srcIn, TimeValue srcDuration,
                         TimeValue dstIn) {
    Lock lock(registry().mutex);
    MovieRecord* src = findMovie(srcMovie);
    MovieRecord* dst = findMovie(dstMovie);
    if (!src || !dst) return result(invalidMovie);
    if (srcIn < 0 || srcDuration < 0 || dstIn < -1) return result(paramErr);
    const int64_t at = dstIn < 0 ? movieDuration(*dst) : dstIn;
    const int64_t length = convertTime(srcDuration, src->scale, dst->scale);
    if (__int128(std::max(movieDuration(*dst), at)) + length + 1 > kMaxTime) return result(paramErr);
    try {
        if (src == dst) {
            // Every track takes its own part; all parts are read before any is inserted.
            std::vector<std::vector<Edit>> parts;
            for (auto& t : dst->tracks) {
                parts.emplace_back();
                if (OSErr err = segmentFor(*t, *t, srcIn, srcDuration, true, parts.back()))
                    return result(err);
            }
            for (size_t i = 0; i < dst->tracks.size(); ++i)
                insertPieces(*dst->tracks[i], at, parts[i]);
            return result(noErr);
        }
        // New tracks like the source's, with media like theirs, filled before anything else changes.
        std::vector<std::pair<TrackRecord*, std::vector<Edit>>> added;
        auto undo = [&](OSErr err) {
            for (auto& a : added)
                destroyTrack(a.first);
            return result(err);
        };
        for (const auto& s : src->tracks) {
            const auto shown = piecesOf(*s, srcIn, srcDuration);
            if (std::none_of(shown.begin(), shown.end(), [](const Edit& e) { return !e.empty; })) continue;
            auto t = std::unique_ptr<TrackRecord>(new TrackRecord());
            if (NewUserData(&t->userData) != noErr) return undo(memFullErr);
            t->token = reinterpret_cast<Track>(newToken());
            t->movie = dst;
            t->id = dst->nextTrackID++;
            t->width = s->width;
            t->height = s->height;
            t->matrix = s->matrix;
            t->enabled = s->enabled;
            t->layer = s->layer;
            t->volume = s->volume;
            TrackRecord* raw = t.get();
            registry().tracks.emplace(reinterpret_cast<uintptr_t>(raw->token), raw);
            dst->tracks.push_back(std::move(t));
            added.emplace_back(raw, std::vector<Edit>());
            if (s->media) {
                auto m = std::unique_ptr<MediaRecord>(new MediaRecord());
                m->token = platform::newDetachedMedia();
                if (!m->token) return undo(memFullErr);
                if (NewUserData(&m->userData) != noErr) {
                    platform::disposeMedia(m->token);
                    return undo(memFullErr);
                }
                m->type = s->media->type;
                m->scale = s->media->scale;
                m->language = s->media->language;
                m->quality = s->media->quality;
                m->track = raw;
                raw->media = m.get();
                registry().media.emplace(reinterpret_cast<uintptr_t>(m->token), std::move(m));
            }
            if (OSErr err = segmentFor(*s, *raw, srcIn, srcDuration, false, added.back().second))
                return undo(err);
        }
        for (auto& t : dst->tracks) {
            if (std::any_of(added.begin(), added.end(), [&](const auto& a) { return a.first == t.get(); }))
                continue;
            openGap(*t, at, length);
        }
        for (auto& a : added)
            insertPieces(*a.first, at, a.second);
    } catch (const std::bad_alloc&) {
        return result(memFullErr);
    }
    return result(noErr);
}

OSErr InsertEmptyMovieSegment(Movie dstMovie, TimeValue dstIn, TimeValue dstDuration) {
    return onRecord(dstMovie, invalidMovie, [&](MovieRecord& m) {
        if (dstIn < 0 || dstDuration < 0) return result(paramErr);
        if (__int128(movieDuration(m)) + dstDuration > kMaxTime) return result(paramErr);
        try {
            for (auto& t : m.tracks)
                openGap(*t, dstIn, dstDuration);
        } catch (const std::bad_alloc&) {
            return result(memFullErr);
        }
        return result(noErr);
    });
}

OSErr DeleteMovieSegment(Movie theMovie, TimeValue startTime, TimeValue duration) {
    return onRecord(theMovie, invalidMovie, [&](MovieRecord& m) {
        if (startTime < 0 || duration < 0) return result(paramErr);
        try {
            for (auto& t : m.tracks)
                deleteRange(*t, startTime, duration);
        } catch (const std::bad_alloc&) {
            return result(memFullErr);
        }
        keepTimeInMovie(m);
        return result(noErr);
    });
}

OSErr ScaleMovieSegment(Movie theMovie, TimeValue startTime, TimeValue oldDuration, TimeValue newDuration) {
    return onRecord(theMovie, invalidMovie, [&](MovieRecord& m) {
        if (startTime < 0 || oldDuration < 1 || newDuration < 1) return result(paramErr);
        try {
            for (auto& t : m.tracks)
                scaleRange(*t, startTime, oldDuration, newDuration);
        } catch (const std::bad_alloc&) {
            return result(memFullErr);
        }
        keepTimeInMovie(m);
        return result(noErr);
    });
}
