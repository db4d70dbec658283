// Next-interesting-time searches of movies, tracks and media against every interesting time
// listed out, on random movies: samples of several durations, display offsets of both signs
// (display times before 0 included) and sync flags, shown through segments of several rates with
// empty ones between.
#include "PlatformFixed.h"
#include "PlatformMemory.h"
#include "PlatformMovieModel.h"
#include "PlatformMovies.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

using namespace platform::movie;

namespace {

// Every display time where a (sync) sample starts within [from, to).
void allStarts(const MediaRecord& m, bool syncOnly, int64_t from, int64_t to, std::vector<int64_t>& out) {
    for (const SampleRun& r : m.runs) {
        if (syncOnly && (r.flags & mediaSampleNotSync)) continue;
        for (int64_t k = 0; k < r.count; ++k) {
            const int64_t s = r.firstDecodeTime + r.displayOffset + k * r.duration;
            if (s >= from && s < to) out.push_back(s);
        }
    }
}

// Every interesting time of the track: segment starts, and the first unit showing each sample
// that starts after a segment's first media time.
void allTrackTimes(const TrackRecord& t, int16_t flags, std::vector<int64_t>& times) {
    const bool edits = flags & (nextTimeTrackEdit | nextTimeMediaEdit);
    const bool sync = flags & nextTimeSyncSample;
    const bool samples = flags & (nextTimeMediaSample | nextTimeStep | nextTimeSyncSample);
    int64_t start = 0;
    for (const Edit& e : t.edits) {
        if (edits) times.push_back(start);
        if (samples && !e.empty && t.media) {
            const int64_t first = mediaTimeAt(e, 0);
            std::vector<int64_t> starts;
            allStarts(*t.media, sync, first, mediaTimeAt(e, e.length), starts);
            if (!sync || std::find(starts.begin(), starts.end(), first) != starts.end())
                times.push_back(start);
            for (int64_t k = 1; k < e.length; ++k)
                for (int64_t s : starts)
                    if (s > first && mediaTimeAt(e, k) >= s && mediaTimeAt(e, k - 1) < s)
                        times.push_back(start + k);
        }
        start += e.length;
    }
}

void expectedPick(std::vector<int64_t> times, int16_t flags, int64_t time, Fixed rate, int64_t end,
                  int64_t* found, int64_t* length) {
    std::sort(times.begin(), times.end());
    times.erase(std::unique(times.begin(), times.end()), times.end());
    *found = -1;
    *length = 0;
    const bool edge = flags & nextTimeEdgeOK;
    if (rate >= 0) {
        auto it =
            std::find_if(times.begin(), times.end(), [&](int64_t s) { return edge ? s >= time : s > time; });
        if (it == times.end()) return;
        *found = *it;
    } else {
        auto it = std::find_if(times.rbegin(), times.rend(),
                               [&](int64_t s) { return edge ? s <= time : s < time; });
        if (it == times.rend()) return;
        *found = *it;
    }
    auto next = std::upper_bound(times.begin(), times.end(), *found);
    *length = (next == times.end() ? std::max(end, *found) : *next) - *found;
}

SampleDescriptionHandle rawDescription() {
    Handle h = NewHandleClear(sizeof(ImageDescription));
    auto* d = reinterpret_cast<ImageDescription*>(*h);
    d->idSize = sizeof(ImageDescription);
    d->cType = FOUR_CHAR_CODE("raw ");
    d->width = 4;
    d->height = 4;
    return reinterpret_cast<SampleDescriptionHandle>(h);
}

Movie randomMovie(std::mt19937& rng, SampleDescriptionHandle desc) {
    Movie movie = NewMovie(0);
    const int tracks = 1 + int(rng() % 2);
    for (int ti = 0; ti < tracks; ++ti) {
        Track track = NewMovieTrack(movie, Long2Fix(4), Long2Fix(4), 0);
        Media media = NewTrackMedia(track, VideoMediaType, 600, nullptr, 0);
        const bool offsets = rng() % 3 == 0;
        const uint8_t bytes[16] = {};
        for (int r = 1 + int(rng() % 6); r > 0; --r) {
            const int count = 1 + int(rng() % 4);
            const int offset = offsets ? int(rng() % 9) - 2 : 0;
            EXPECT_EQ(AddMediaSample2(media, bytes, ByteCount(count * 2), 1 + rng() % 7, offset, desc,
                                      ItemCount(count), rng() % 2 ? mediaSampleNotSync : 0, nullptr),
                      noErr);
        }
        const int64_t mediaDuration = GetMediaDuration(media);
        const Fixed rates[] = {fixed1, 2 * fixed1, fixed1 / 2, fixed1 / 3 + 5, 3 * fixed1 + 77};
        for (int e = 1 + int(rng() % 3); e > 0; --e) {
            if (rng() % 4 == 0) {
                EXPECT_EQ(InsertEmptyTrackSegment(track, GetTrackDuration(track), TimeValue(1 + rng() % 5)),
                          noErr);
                continue;
            }
            const int64_t at = int64_t(rng() % uint64_t(mediaDuration));
            const int64_t length = 1 + int64_t(rng() % uint64_t(mediaDuration - at));
            // A segment too short for its rate is refused; the track goes on without it.
            InsertMediaIntoTrack(track, -1, TimeValue(at), TimeValue(length), rates[rng() % 5]);
        }
    }
    return movie;
}

} // namespace

TEST(MovieSearches, FindTheNeighbouringTimeOfEveryKind) {
    std::mt19937 rng(20261211);
    SampleDescriptionHandle desc = rawDescription();
    const int16_t kinds[] = {nextTimeMediaSample,
                             nextTimeSyncSample,
                             nextTimeMediaEdit,
                             nextTimeStep,
                             nextTimeMediaSample | nextTimeMediaEdit,
                             nextTimeSyncSample | nextTimeTrackEdit};
    for (int iter = 0; iter < 400 && !HasFailure(); ++iter) {
        Movie movie = randomMovie(rng, desc);
        const int64_t duration = GetMovieDuration(movie);
        Track track = GetMovieIndTrack(movie, 1);
        Media media = GetTrackMedia(track);
        for (int q = 0; q < 40; ++q) {
            const int16_t flags = int16_t(kinds[rng() % 6] | (rng() % 2 ? nextTimeEdgeOK : 0));
            const TimeValue time = TimeValue(int64_t(rng() % uint64_t(duration + 6)) - 3);
            const Fixed rate = rng() % 2 ? fixed1 : -fixed1;
            SCOPED_TRACE(testing::Message()
                         << "movie " << iter << " flags " << flags << " time " << time << " rate " << rate);
            int64_t movieFound = 0, movieLength = 0, trackFound = 0, trackLength = 0, mediaFound = 0,
                    mediaLength = 0;
            {
                std::lock_guard<std::mutex> lock(registry().mutex);
                MovieRecord& m = *findMovie(movie);
                std::vector<int64_t> times, trackTimes, mediaTimes;
                for (const auto& t : m.tracks)
                    allTrackTimes(*t, flags, times);
                expectedPick(times, flags, time, rate, movieDuration(m), &movieFound, &movieLength);
                allTrackTimes(*m.tracks.front(), flags, trackTimes);
                expectedPick(trackTimes, flags, time, rate, trackDuration(*m.tracks.front()), &trackFound,
                             &trackLength);
                const MediaRecord& md = *m.tracks.front()->media;
                allStarts(md, flags & nextTimeSyncSample, INT64_MIN, INT64_MAX, mediaTimes);
                expectedPick(mediaTimes, flags, time, rate, md.displayEnd, &mediaFound, &mediaLength);
            }
            TimeValue found = -2, length = -2;
            GetMovieNextInterestingTime(movie, flags, 0, nullptr, time, rate, &found, &length);
            EXPECT_EQ(found, movieFound);
            EXPECT_EQ(length, movieLength);
            GetTrackNextInterestingTime(track, flags, time, rate, &found, &length);
            EXPECT_EQ(found, trackFound);
            EXPECT_EQ(length, trackLength);
            TimeValue64 found64 = -2, length64 = -2;
            GetMediaNextInterestingDisplayTime(media, flags, time, rate, &found64, &length64);
            EXPECT_EQ(found64, mediaFound);
            EXPECT_EQ(length64, mediaLength);
        }
        DisposeMovie(movie);
    }
    DisposeHandle(reinterpret_cast<Handle>(desc));
}
