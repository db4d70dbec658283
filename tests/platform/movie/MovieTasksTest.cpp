#include "PlatformClock.h"
#include "PlatformFixed.h"
#include "PlatformGWorlds.h"
#include "PlatformMemory.h"
#include "PlatformMoviePlayback.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

namespace {

struct MovieHolder {
    Movie movie = NewMovie(0);
    ~MovieHolder() { DisposeMovie(movie); }
};

// A track of the media type whose samples (scale 600) have the given durations, shown from 0.
Track addTrack(Movie movie, OSType type, const std::vector<TimeValue>& durations) {
    Track track = NewMovieTrack(movie, Long2Fix(4), Long2Fix(4), 0);
    Media media = NewTrackMedia(track, type, 600, nullptr, 0);
    Handle h = NewHandleClear(sizeof(ImageDescription));
    auto* d = reinterpret_cast<ImageDescription*>(*h);
    d->idSize = sizeof(ImageDescription);
    d->cType = FOUR_CHAR_CODE("raw ");
    d->width = 4;
    d->height = 4;
    d->depth = 32;
    const std::vector<uint8_t> bytes(4 * 4 * 4, 0x80);
    for (TimeValue each : durations)
        EXPECT_EQ(AddMediaSample2(media, bytes.data(), ByteCount(bytes.size()), each, 0,
                                  reinterpret_cast<SampleDescriptionHandle>(h), 1, 0, nullptr),
                  noErr);
    DisposeHandle(h);
    EXPECT_EQ(InsertMediaIntoTrack(track, 0, 0, GetMediaDuration(media), fixed1), noErr);
    return track;
}

int32_t untilNextTask(int32_t scale = 1000) {
    int32_t wait = -1;
    EXPECT_EQ(QTGetTimeUntilNextTask(&wait, scale), noErr);
    return wait;
}

struct Call {
    TimeValue duration;
    uint32_t flags;
    void* refcon;
    bool operator==(const Call&) const = default;
};
std::vector<Call> calls;
void record(TimeValue duration, uint32_t flags, void* refcon) {
    calls.push_back({duration, flags, refcon});
}

class MovieTasks : public ::testing::Test {
  protected:
    void SetUp() override { calls.clear(); }
    platform::ManualClock clock{1'000'000'000};
    platform::ScopedSystemClock scope{clock};
};

} // namespace

TEST_F(MovieTasks, TheNextTaskComesWithTheNextFrameOfAPlayingMovie) {
    int32_t wait = 7;
    EXPECT_EQ(QTGetTimeUntilNextTask(nullptr, 1000), paramErr);
    EXPECT_EQ(QTGetTimeUntilNextTask(&wait, 0), paramErr);
    EXPECT_EQ(wait, 0);
    EXPECT_EQ(QTGetTimeUntilNextTask(&wait, -600), paramErr);

    MovieHolder m;
    // Frames at 0, 60, 90 and 150; the movie ends at 240.
    addTrack(m.movie, VideoMediaType, {60, 30, 60, 90});
    // Nothing plays: no task is needed.
    EXPECT_EQ(untilNextTask(), INT32_MAX);

    SetMovieRate(m.movie, fixed1);
    struct Step {
        double advance;   // seconds of the clock before asking
        int32_t expected; // milliseconds, rounded up
    };
    const Step steps[] = {
        {0.0, 100},   // 60 units to the second frame
        {0.03, 70},   // 42 units left: 70 ms
        {0.0701, 50}, // just past 60: the third frame at 90
        {0.05, 100},  // at 90: the fourth at 150
        {0.1, 150},   // at 150: the end at 240
    };
    for (const Step& s : steps) {
        clock.advance(s.advance);
        EXPECT_EQ(untilNextTask(), s.expected) << GetMovieTime(m.movie, nullptr);
    }
    // In another scale, and at double speed.
    SetMovieTimeValue(m.movie, 0);
    EXPECT_EQ(untilNextTask(600), 60);
    SetMovieRate(m.movie, 2 * fixed1);
    EXPECT_EQ(untilNextTask(), 50);
    // Running back from 120: the third frame gives way to the second once the time is below 90.
    SetMovieTimeValue(m.movie, 120);
    SetMovieRate(m.movie, -fixed1);
    EXPECT_EQ(untilNextTask(600), 31);
    // At the end (or the start) the time stands still: nothing more to task.
    clock.advance(1.0);
    EXPECT_EQ(GetMovieTime(m.movie, nullptr), 0);
    EXPECT_EQ(untilNextTask(), INT32_MAX);
    StopMovie(m.movie);
    EXPECT_EQ(untilNextTask(), INT32_MAX);
}

TEST_F(MovieTasks, AMovieWaitingToBeDrawnNeedsATaskNow) {
    MovieHolder m;
    addTrack(m.movie, VideoMediaType, {60, 60});
    GWorldPtr world = nullptr;
    const Rect bounds{0, 0, 4, 4};
    ASSERT_EQ(QTNewGWorld(&world, k32ARGBPixelFormat, &bounds, nullptr, nullptr, 0), noErr);
    SetMovieGWorld(m.movie, world, nullptr);
    SetMovieRate(m.movie, fixed1);
    EXPECT_EQ(untilNextTask(), 0);
    MoviesTask(m.movie, 0);
    EXPECT_EQ(untilNextTask(), 100);
    UpdateMovie(m.movie);
    EXPECT_EQ(untilNextTask(), 0);
    MoviesTask(m.movie, 0);
    // Looping: the end is where the time wraps round to the first frame.
    TimeBase base = GetMovieTimeBase(m.movie);
    SetTimeBaseFlags(base, loopTimeBase);
    clock.advance(0.1);
    MoviesTask(m.movie, 0);
    EXPECT_EQ(untilNextTask(600), 60);
    clock.advance(0.15);
    EXPECT_EQ(GetMovieTime(m.movie, nullptr), 30);
    SetMovieGWorld(m.movie, nullptr, nullptr);
    DisposeGWorld(world);
}

TEST_F(MovieTasks, ASoundOnlyMovieIsTaskedAtItsEnd) {
    MovieHolder m;
    addTrack(m.movie, SoundMediaType, {1, 1, 1, 1, 596});
    StartMovie(m.movie);
    EXPECT_EQ(untilNextTask(), 1000);
    clock.advance(0.25);
    EXPECT_EQ(untilNextTask(), 750);
}

TEST_F(MovieTasks, CallbacksHearOfARateThatPlays) {
    EXPECT_EQ(QTInstallNextTaskNeededSoonerCallback(nullptr, 1000, 0, nullptr), paramErr);
    EXPECT_EQ(QTInstallNextTaskNeededSoonerCallback(record, 0, 0, nullptr), paramErr);
    EXPECT_EQ(QTUninstallNextTaskNeededSoonerCallback(record, nullptr), paramErr);

    MovieHolder m;
    addTrack(m.movie, VideoMediaType, {60, 60});
    int a = 0, b = 0;
    ASSERT_EQ(QTInstallNextTaskNeededSoonerCallback(record, 1000, 0, &a), noErr);
    ASSERT_EQ(QTInstallNextTaskNeededSoonerCallback(record, 600, 3, &b), noErr);
    // The same pair again only takes the new scale and flags.
    ASSERT_EQ(QTInstallNextTaskNeededSoonerCallback(record, 1000, 5, &a), noErr);

    SetMovieRate(m.movie, fixed1);
    EXPECT_EQ(GetMoviesError(), noErr);
    EXPECT_EQ(calls, (std::vector<Call>{{100, 5, &a}, {60, 3, &b}}));
    calls.clear();
    SetMovieRate(m.movie, 0); // stopping needs no task sooner
    StopMovie(m.movie);
    EXPECT_TRUE(calls.empty());
    SetMoviePreferredRate(m.movie, 2 * fixed1);
    StartMovie(m.movie);
    EXPECT_EQ(calls, (std::vector<Call>{{50, 5, &a}, {30, 3, &b}}));

    EXPECT_EQ(QTUninstallNextTaskNeededSoonerCallback(record, &a), noErr);
    EXPECT_EQ(QTUninstallNextTaskNeededSoonerCallback(record, &a), paramErr);
    calls.clear();
    SetMovieRate(m.movie, fixed1);
    EXPECT_EQ(calls, (std::vector<Call>{{60, 3, &b}}));
    EXPECT_EQ(QTUninstallNextTaskNeededSoonerCallback(record, &b), noErr);
    // A refused rate change calls nobody.
    calls.clear();
    ASSERT_EQ(QTInstallNextTaskNeededSoonerCallback(record, 1000, 0, &a), noErr);
    SetMovieRate(nullptr, fixed1);
    EXPECT_EQ(GetMoviesError(), invalidMovie);
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(QTUninstallNextTaskNeededSoonerCallback(record, &a), noErr);
}

namespace {
struct Selfish {
    int calls = 0;
    static void proc(TimeValue, uint32_t, void* refcon) {
        auto* self = static_cast<Selfish*>(refcon);
        ++self->calls;
        // Uninstalls itself and the other one, and provokes an error of its own.
        QTUninstallNextTaskNeededSoonerCallback(proc, self);
        QTUninstallNextTaskNeededSoonerCallback(record, nullptr);
        GetMovieRate(nullptr);
    }
};
} // namespace

TEST_F(MovieTasks, ACallbackMayUninstallCallbacks) {
    MovieHolder m;
    addTrack(m.movie, VideoMediaType, {60});
    Selfish selfish;
    ASSERT_EQ(QTInstallNextTaskNeededSoonerCallback(Selfish::proc, 1000, 0, &selfish), noErr);
    ASSERT_EQ(QTInstallNextTaskNeededSoonerCallback(record, 1000, 0, nullptr), noErr);
    SetMovieRate(m.movie, fixed1);
    // The rate setter's own result stays for its caller.
    EXPECT_EQ(GetMoviesError(), noErr);
    EXPECT_EQ(selfish.calls, 1);
    EXPECT_TRUE(calls.empty());
    SetMovieRate(m.movie, 2 * fixed1);
    EXPECT_EQ(selfish.calls, 1);
    EXPECT_EQ(QTUninstallNextTaskNeededSoonerCallback(record, nullptr), paramErr);
}

TEST_F(MovieTasks, MoviePlayHintsReachEveryMedia) {
    MovieHolder m;
    Track video = addTrack(m.movie, VideoMediaType, {60});
    Track sound = addTrack(m.movie, SoundMediaType, {60});
    SetMediaPlayHints(GetTrackMedia(video), hintsHighQuality, hintsHighQuality);
    SetMoviePlayHints(m.movie, hintsLoop | hintsFlushVideoInsteadOfDirtying,
                      hintsLoop | hintsFlushVideoInsteadOfDirtying);
    EXPECT_EQ(GetMoviesError(), noErr);
    for (Track t : {video, sound}) {
        int32_t hints = 0;
        GetMediaPlayHints(GetTrackMedia(t), &hints);
        EXPECT_EQ(hints & (hintsLoop | hintsFlushVideoInsteadOfDirtying),
                  hintsLoop | hintsFlushVideoInsteadOfDirtying);
    }
    SetMoviePlayHints(m.movie, 0, hintsLoop);
    int32_t hints = 0;
    GetMediaPlayHints(GetTrackMedia(video), &hints);
    EXPECT_EQ(hints, hintsHighQuality | hintsFlushVideoInsteadOfDirtying);
    SetMoviePlayHints(nullptr, 0, hintsLoop);
    EXPECT_EQ(GetMoviesError(), invalidMovie);
}
