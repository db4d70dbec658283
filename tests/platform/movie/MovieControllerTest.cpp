#include "PlatformComponents.h"
#include "PlatformFixed.h"
#include "PlatformMemory.h"
#include "PlatformGWorlds.h"
#include "PlatformMovieControllers.h"
#include "PlatformMoviePlayback.h"
#include "PlatformMovies.h"
#include "PlatformSequenceGrabber.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

// A movie of scale 600 with one video track of `frames` samples of 20 units (30 a second).
Movie frameMovie(int frames) {
    Movie movie = NewMovie(0);
    Track track = NewMovieTrack(movie, Long2Fix(4), Long2Fix(2), 0);
    Media media = NewTrackMedia(track, VideoMediaType, 600, nullptr, 0);
    Handle h = NewHandleClear(sizeof(ImageDescription));
    auto* d = reinterpret_cast<ImageDescription*>(*h);
    d->idSize = sizeof(ImageDescription);
    d->cType = FOUR_CHAR_CODE("raw ");
    d->width = 4;
    d->height = 2;
    d->depth = 24;
    const std::vector<uint8_t> bytes(24, 0x5A);
    for (int i = 0; i < frames; ++i)
        AddMediaSample2(media, bytes.data(), ByteCount(bytes.size()), 20, 0,
                        reinterpret_cast<SampleDescriptionHandle>(h), 1, 0, nullptr);
    DisposeHandle(h);
    InsertMediaIntoTrack(track, 0, 0, GetMediaDuration(media), fixed1);
    return movie;
}

TimeRecord timeRecord(int64_t value, TimeScale scale) {
    TimeRecord r{};
    r.value.lo = uint32_t(uint64_t(value));
    r.value.hi = int32_t(uint64_t(value) >> 32);
    r.scale = scale;
    return r;
}

int64_t valueOf(const TimeRecord& r) {
    return int64_t((uint64_t(uint32_t(r.value.hi)) << 32) | r.value.lo);
}

void* asParams(intptr_t v) {
    return reinterpret_cast<void*>(v);
}

struct ControllerFixture : ::testing::Test {
    Movie movie = frameMovie(10); // 200 units
    MovieController mc = nullptr;
    void SetUp() override {
        ASSERT_NE(movie, nullptr);
        const Rect r{0, 0, 2, 4};
        mc = NewMovieController(movie, &r, mcTopLeftMovie);
        ASSERT_NE(mc, nullptr);
    }
    void TearDown() override {
        DisposeMovieController(mc);
        DisposeMovie(movie);
    }
};

TEST_F(ControllerFixture, IsAComponentHoldingItsMovieAtIndexZero) {
    EXPECT_EQ(MCGetIndMovie(mc, 0), movie);
    EXPECT_EQ(MCGetIndMovie(mc, 1), nullptr);
    EXPECT_EQ(MCGetIndMovie(mc, -1), nullptr);
    ComponentDescription d{};
    ASSERT_EQ(GetComponentInfo(reinterpret_cast<Component>(mc), &d, nullptr, nullptr, nullptr), noErr);
    EXPECT_EQ(d.componentType, MovieControllerComponentType);
    int32_t flags = 0;
    EXPECT_EQ(MCDoAction(mc, mcActionGetFlags, &flags), noErr);
    EXPECT_EQ(flags, mcTopLeftMovie);

    // One opened by the component manager holds no movie until it is given one.
    MovieController bare = OpenDefaultComponent(MovieControllerComponentType, 0);
    ASSERT_NE(bare, nullptr);
    EXPECT_EQ(MCGetIndMovie(bare, 0), nullptr);
    TimeRecord tr{};
    EXPECT_EQ(MCDoAction(bare, mcActionGetSelectionBegin, &tr), invalidMovie);
    EXPECT_EQ(MCSetMovie(bare, movie, nullptr, Point{0, 0}), noErr);
    EXPECT_EQ(MCGetIndMovie(bare, 0), movie);
    EXPECT_EQ(MCSetMovie(bare, reinterpret_cast<Movie>(&tr), nullptr, Point{0, 0}), invalidMovie);
    EXPECT_EQ(MCGetIndMovie(bare, 0), movie);
    EXPECT_EQ(OpenDefaultComponent(FOUR_CHAR_CODE("zzzz"), 0), nullptr);
    EXPECT_EQ(OpenDefaultComponent(0, 0), nullptr);
    // Closed like any component; the movie stays the caller's.
    EXPECT_EQ(CloseComponent(bare), noErr);
    EXPECT_EQ(MCGetIndMovie(bare, 0), nullptr);
    EXPECT_EQ(GetMovieDuration(movie), 200);
}

TEST(MovieController, RefusesMoviesAndInstancesThatNameNothing) {
    EXPECT_EQ(NewMovieController(nullptr, nullptr, 0), nullptr);
    EXPECT_EQ(GetMoviesError(), invalidMovie);
    Movie gone = NewMovie(0);
    DisposeMovie(gone);
    EXPECT_EQ(NewMovieController(gone, nullptr, 0), nullptr);
    EXPECT_EQ(GetMoviesError(), invalidMovie);

    // Not controllers: null, a stray pointer, a closed controller and another kind of component.
    Movie movie = NewMovie(0);
    MovieController closed = NewMovieController(movie, nullptr, 0);
    ASSERT_NE(closed, nullptr);
    DisposeMovieController(closed);
    SeqGrabComponent grabber = OpenDefaultComponent(SeqGrabComponentType, 0);
    ASSERT_NE(grabber, nullptr);
    int stray = 0;
    const MovieController strangers[] = {nullptr, reinterpret_cast<MovieController>(&stray), closed, grabber};
    for (MovieController s : strangers) {
        TimeRecord tr{};
        TimeScale scale = 77;
        EXPECT_EQ(MCDoAction(s, mcActionGetSelectionBegin, &tr), badComponentInstance);
        EXPECT_EQ(MCIsEditingEnabled(s), 0);
        EXPECT_EQ(MCEnableEditing(s, true), badComponentInstance);
        EXPECT_EQ(MCGetCurrentTime(s, &scale), 0);
        EXPECT_EQ(scale, 0);
        EXPECT_EQ(MCGetIndMovie(s, 0), nullptr);
        EXPECT_EQ(MCMovieChanged(s, movie), badComponentInstance);
        EXPECT_EQ(MCSetMovie(s, movie, nullptr, Point{0, 0}), badComponentInstance);
        EXPECT_EQ(MCIdle(s), badComponentInstance);
    }
    // Disposing of something that is not a controller leaves it alone.
    DisposeMovieController(grabber);
    EXPECT_EQ(SGInitialize(grabber), noErr);
    EXPECT_EQ(CloseComponent(grabber), noErr);
    DisposeMovie(movie);
}

// The selection as the toolkit's time ranges read it: editing enabled, then actions 53 and 54.
TEST_F(ControllerFixture, SelectionIsTheMoviesInItsScale) {
    EXPECT_EQ(MCIsEditingEnabled(mc), 0);
    EXPECT_EQ(MCEnableEditing(mc, true), noErr);
    EXPECT_EQ(MCIsEditingEnabled(mc), 1);

    // Set in a scale of 1200 (the movie's is 600), and in the movie's own scale (0).
    TimeRecord begin = timeRecord(100, 1200);
    TimeRecord duration = timeRecord(90, 0);
    EXPECT_EQ(MCDoAction(mc, mcActionSetSelectionBegin, &begin), noErr);
    EXPECT_EQ(MCDoAction(mc, mcActionSetSelectionDuration, &duration), noErr);
    TimeValue start = -1, length = -1;
    GetMovieSelection(movie, &start, &length);
    EXPECT_EQ(start, 50);
    EXPECT_EQ(length, 90);

    // A selection set on the movie is what the controller answers.
    SetMovieSelection(movie, 40, 120);
    TimeRecord out{};
    EXPECT_EQ(MCDoAction(mc, mcActionGetSelectionBegin, &out), noErr);
    EXPECT_EQ(valueOf(out), 40);
    EXPECT_EQ(out.scale, 600);
    EXPECT_EQ(MCDoAction(mc, mcActionGetSelectionDuration, &out), noErr);
    EXPECT_EQ(valueOf(out), 120);

    // Refusals leave the selection as it was.
    TimeRecord negative = timeRecord(-5, 600);
    TimeRecord huge = timeRecord(int64_t(1) << 40, 600);
    EXPECT_EQ(MCDoAction(mc, mcActionSetSelectionBegin, &negative), paramErr);
    EXPECT_EQ(MCDoAction(mc, mcActionSetSelectionDuration, &huge), paramErr);
    EXPECT_EQ(MCDoAction(mc, mcActionSetSelectionBegin, nullptr), paramErr);
    EXPECT_EQ(MCDoAction(mc, mcActionGetSelectionDuration, nullptr), paramErr);
    GetMovieSelection(movie, &start, &length);
    EXPECT_EQ(start, 40);
    EXPECT_EQ(length, 120);
}

TEST_F(ControllerFixture, GoesToTimesAndStepsByFrames) {
    TimeScale scale = 0;
    EXPECT_EQ(MCGetCurrentTime(mc, &scale), 0);
    EXPECT_EQ(scale, 600);
    TimeRecord to = timeRecord(1, 10); // a tenth of a second: 60 units
    EXPECT_EQ(MCDoAction(mc, mcActionGoToTime, &to), noErr);
    EXPECT_EQ(MCGetCurrentTime(mc, nullptr), 60);
    EXPECT_EQ(MCDoAction(mc, mcActionStep, asParams(2)), noErr);
    EXPECT_EQ(MCGetCurrentTime(mc, nullptr), 100);
    EXPECT_EQ(MCDoAction(mc, mcActionStep, asParams(-3)), noErr);
    EXPECT_EQ(MCGetCurrentTime(mc, nullptr), 40);
    // Steps stop at the ends.
    EXPECT_EQ(MCDoAction(mc, mcActionStep, asParams(-50)), noErr);
    EXPECT_EQ(MCGetCurrentTime(mc, nullptr), 0);
    EXPECT_EQ(MCDoAction(mc, mcActionStep, asParams(50)), noErr);
    EXPECT_EQ(MCGetCurrentTime(mc, nullptr), 180);
    // A time past the end is the end; before the start, the start.
    to = timeRecord(5000, 600);
    EXPECT_EQ(MCDoAction(mc, mcActionGoToTime, &to), noErr);
    EXPECT_EQ(MCGetCurrentTime(mc, nullptr), 200);
    to = timeRecord(-10, 600);
    EXPECT_EQ(MCDoAction(mc, mcActionGoToTime, &to), noErr);
    EXPECT_EQ(MCGetCurrentTime(mc, nullptr), 0);
    EXPECT_EQ(MCDoAction(mc, mcActionGoToTime, nullptr), paramErr);
}

TEST_F(ControllerFixture, KeepsRateAndLoopingAndRefusesUnknownActions) {
    Fixed rate = -1;
    EXPECT_EQ(MCDoAction(mc, mcActionGetPlayRate, &rate), noErr);
    EXPECT_EQ(rate, 0);
    EXPECT_EQ(MCDoAction(mc, mcActionPlay, asParams(fixed1 / 2)), noErr);
    EXPECT_EQ(MCDoAction(mc, mcActionGetPlayRate, &rate), noErr);
    EXPECT_EQ(rate, fixed1 / 2);
    // Playing sets the movie's rate; stopping sets it back to 0.
    EXPECT_EQ(GetMovieRate(movie), fixed1 / 2);
    EXPECT_EQ(MCDoAction(mc, mcActionPlay, asParams(0)), noErr);
    EXPECT_EQ(GetMovieRate(movie), 0);
    EXPECT_EQ(MCDoAction(mc, mcActionPlay, asParams(fixed1 / 2)), noErr);
    Boolean on = false;
    EXPECT_EQ(MCDoAction(mc, mcActionSetLooping, asParams(1)), noErr);
    EXPECT_EQ(MCDoAction(mc, mcActionGetLooping, &on), noErr);
    EXPECT_TRUE(on);
    EXPECT_EQ(MCDoAction(mc, mcActionSetLoopIsPalindrome, asParams(1)), noErr);
    EXPECT_EQ(MCDoAction(mc, mcActionGetLoopIsPalindrome, &on), noErr);
    EXPECT_TRUE(on);
    EXPECT_EQ(MCDoAction(mc, mcActionSetLooping, asParams(0)), noErr);
    EXPECT_EQ(MCDoAction(mc, mcActionGetLooping, &on), noErr);
    EXPECT_FALSE(on);
    for (int16_t unknown : {int16_t(0), int16_t(2), int16_t(5), int16_t(48), int16_t(55), int16_t(-1)})
        EXPECT_EQ(MCDoAction(mc, unknown, &rate), badComponentSelector) << unknown;
    for (int16_t getter :
         {mcActionGetLooping, mcActionGetLoopIsPalindrome, mcActionGetFlags, mcActionGetPlayRate})
        EXPECT_EQ(MCDoAction(mc, getter, nullptr), paramErr) << getter;
}

// Idling tasks the movie: its frame is drawn into the movie's world.
TEST_F(ControllerFixture, IdleDrawsTheMovieFrame) {
    const Rect bounds{0, 0, 2, 4};
    GWorldPtr world = nullptr;
    ASSERT_EQ(QTNewGWorld(&world, k32ARGBPixelFormat, &bounds, nullptr, nullptr, 0), noErr);
    SetMovieGWorld(movie, world, nullptr);
    ASSERT_EQ(GetMoviesError(), noErr);
    PixMapHandle pm = GetGWorldPixMap(world);
    auto* first = reinterpret_cast<uint8_t*>(GetPixBaseAddr(pm));
    first[1] = first[2] = first[3] = 0;
    EXPECT_EQ(MCIdle(mc), noErr);
    EXPECT_EQ(first[1], 0x5A);
    EXPECT_EQ(first[2], 0x5A);
    EXPECT_EQ(first[3], 0x5A);
    first[1] = 0;
    EXPECT_EQ(MCDoAction(mc, mcActionIdle, nullptr), noErr);
    UpdateMovie(movie);
    EXPECT_EQ(MCDoAction(mc, mcActionIdle, nullptr), noErr);
    EXPECT_EQ(first[1], 0x5A);
    SetMovieGWorld(movie, nullptr, nullptr);
    DisposeGWorld(world);
}

// After an edit shortens the movie, the notice keeps the time and the selection inside it.
TEST_F(ControllerFixture, MovieChangedKeepsTimeAndSelectionInsideTheMovie) {
    SetMovieSelection(movie, 150, 40);
    SetMovieTimeValue(movie, 190);
    ASSERT_EQ(DeleteMovieSegment(movie, 0, 100), noErr);
    EXPECT_EQ(MCMovieChanged(mc, movie), noErr);
    TimeValue start = -1, length = -1;
    GetMovieSelection(movie, &start, &length);
    EXPECT_LE(start + length, GetMovieDuration(movie));
    EXPECT_EQ(start, 100);
    EXPECT_EQ(length, 0);
    EXPECT_LE(MCGetCurrentTime(mc, nullptr), 100);
    // Another movie is not the controller's business.
    Movie other = NewMovie(0);
    EXPECT_EQ(MCMovieChanged(mc, other), noErr);
    DisposeMovie(other);
}

// A movie disposed of under its controller is refused, never reached.
TEST(MovieController, MovieDisposedUnderTheController) {
    Movie movie = frameMovie(3);
    MovieController mc = NewMovieController(movie, nullptr, 0);
    ASSERT_NE(mc, nullptr);
    MCEnableEditing(mc, true);
    DisposeMovie(movie);
    TimeRecord tr{};
    TimeScale scale = 9;
    EXPECT_EQ(MCDoAction(mc, mcActionGetSelectionBegin, &tr), invalidMovie);
    EXPECT_EQ(MCDoAction(mc, mcActionGoToTime, &tr), invalidMovie);
    EXPECT_EQ(MCDoAction(mc, mcActionStep, asParams(1)), invalidMovie);
    EXPECT_EQ(MCDoAction(mc, mcActionPlay, asParams(fixed1)), invalidMovie);
    EXPECT_EQ(MCGetCurrentTime(mc, &scale), 0);
    EXPECT_EQ(scale, 0);
    EXPECT_EQ(MCMovieChanged(mc, movie), invalidMovie);
    EXPECT_EQ(CloseComponent(mc), noErr);
}

} // namespace
