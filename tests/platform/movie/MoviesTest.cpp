#include "PlatformFixed.h"
#include "PlatformMemory.h"
#include "PlatformMovies.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cstring>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

// A sample description of the format, with the size field right.
SampleDescriptionHandle makeDescription(OSType format, int16_t width = 16) {
    Handle h = NewHandleClear(sizeof(ImageDescription));
    auto* d = reinterpret_cast<ImageDescription*>(*h);
    d->idSize = sizeof(ImageDescription);
    d->cType = format;
    d->width = width;
    d->height = 16;
    return reinterpret_cast<SampleDescriptionHandle>(h);
}

void disposeDescription(SampleDescriptionHandle d) {
    DisposeHandle(reinterpret_cast<Handle>(d));
}

// A movie with one video track whose media holds samples of the given durations; sample i holds
// the byte i + 1 `bytesEach` times.
struct VideoMovie {
    Movie movie = nullptr;
    Track track = nullptr;
    Media media = nullptr;
    VideoMovie(const std::vector<int64_t>& durations, TimeScale mediaScale = 600, size_t bytesEach = 4) {
        movie = NewMovie(0);
        track = NewMovieTrack(movie, Long2Fix(320), Long2Fix(240), 0);
        media = NewTrackMedia(track, VideoMediaType, mediaScale, nullptr, 0);
        SampleDescriptionHandle desc = makeDescription(FOUR_CHAR_CODE("raw "));
        for (size_t i = 0; i < durations.size(); ++i) {
            std::vector<uint8_t> bytes(bytesEach, uint8_t(i + 1));
            EXPECT_EQ(AddMediaSample2(media, bytes.data(), ByteCount(bytes.size()), durations[i], 0, desc, 1,
                                      0, nullptr),
                      noErr);
        }
        disposeDescription(desc);
    }
    ~VideoMovie() { DisposeMovie(movie); }
};

// Counts sample times in [start, end] as the toolkit's frame counter does: the first search from
// 0 includes a sample lying at 0, later ones step forward.
int32_t frameCountInSelection(Movie movie, TimeValue start, TimeValue end, OSType mediaType) {
    int16_t flags = start == 0 ? int16_t(0xC001) : int16_t(nextTimeStep);
    int32_t count = -1;
    TimeValue t = start;
    const int16_t types = mediaType ? 1 : 0;
    for (;;) {
        TimeValue next = -1;
        GetMovieNextInterestingTime(movie, flags, types, &mediaType, t, fixed1, &next, nullptr);
        ++count;
        if (next < 0 || next > end) break;
        flags = nextTimeStep;
        t = next;
    }
    return count;
}

} // namespace

TEST(Movies, DisposedAndUnknownObjectsAreRefused) {
    Movie movie = NewMovie(0);
    ASSERT_NE(movie, nullptr);
    Track first = NewMovieTrack(movie, Long2Fix(10), Long2Fix(10), 0);
    Track second = NewMovieTrack(movie, 0, 0, 256);
    Media media = NewTrackMedia(first, VideoMediaType, 0, nullptr, 0);
    Media sound = NewTrackMedia(second, SoundMediaType, 44100, nullptr, 0);
    ASSERT_TRUE(first && second && media && sound);
    EXPECT_EQ(GetMediaTimeScale(media), 600);
    // A track takes one media only.
    EXPECT_EQ(NewTrackMedia(first, VideoMediaType, 600, nullptr, 0), nullptr);
    EXPECT_EQ(GetMoviesError(), paramErr);

    DisposeMovieTrack(first);
    EXPECT_EQ(GetMoviesError(), noErr);
    EXPECT_EQ(GetMovieTrackCount(movie), 1);
    EXPECT_EQ(GetTrackID(first), 0);
    EXPECT_EQ(GetMoviesError(), invalidTrack);
    EXPECT_EQ(GetMediaTimeScale(media), 0); // the track took its media along
    EXPECT_EQ(GetMoviesError(), invalidMedia);
    // A new media never takes the token of one that went.
    Track third = NewMovieTrack(movie, 0, 0, 0);
    Media fresh = NewTrackMedia(third, TextMediaType, 0, nullptr, 0);
    EXPECT_NE(fresh, media);
    EXPECT_EQ(GetMediaTrack(media), nullptr);
    EXPECT_EQ(GetMoviesError(), invalidMedia);

    DisposeMovie(movie);
    EXPECT_EQ(GetMoviesError(), noErr);
    EXPECT_EQ(GetMovieTrackCount(movie), 0);
    EXPECT_EQ(GetMoviesError(), invalidMovie);
    EXPECT_EQ(GetTrackMedia(second), nullptr);
    EXPECT_EQ(GetMoviesError(), invalidTrack);
    EXPECT_EQ(GetMediaSampleCount(sound), 0);
    EXPECT_EQ(GetMoviesError(), invalidMedia);
    DisposeMovie(movie);
    EXPECT_EQ(GetMoviesError(), invalidMovie);

    // Pointers the registry never handed out are never followed.
    int bogus = 0;
    const struct {
        const char* what;
        OSErr err;
    } cases[] = {
        {"movie", (GetMovieDuration(reinterpret_cast<Movie>(&bogus)), GetMoviesError())},
        {"track", (GetTrackDuration(reinterpret_cast<Track>(&bogus)), GetMoviesError())},
        {"media", (GetMediaDuration(reinterpret_cast<Media>(&bogus)), GetMoviesError())},
        {"null movie", (GetMovieTimeScale(nullptr), GetMoviesError())},
        {"null media", AddMediaSample2(nullptr, nullptr, 0, 1, 0, nullptr, 1, 0, nullptr)},
    };
    const OSErr expected[] = {invalidMovie, invalidTrack, invalidMedia, invalidMovie, invalidMedia};
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(cases[i].err, expected[i]) << cases[i].what;
}

TEST(Movies, ATrackWhoseMediaWentShowsNothing) {
    VideoMovie v({10, 10});
    ASSERT_EQ(InsertMediaIntoTrack(v.track, 0, 0, 20, fixed1), noErr);
    SetMovieTimeValue(v.movie, 15);
    DisposeTrackMedia(v.media);
    EXPECT_EQ(GetMoviesError(), noErr);
    EXPECT_EQ(GetTrackMedia(v.track), nullptr);
    EXPECT_EQ(GetTrackDuration(v.track), 0);
    EXPECT_EQ(TrackTimeToMediaTime(5, v.track), -1);
    EXPECT_EQ(GetMovieTime(v.movie, nullptr), 0);
    EXPECT_EQ(GetMediaSampleCount(v.media), 0);
    EXPECT_EQ(GetMoviesError(), invalidMedia);
    EXPECT_EQ(BeginMediaEdits(v.media), invalidMedia);
    DisposeTrackMedia(v.media);
    EXPECT_EQ(GetMoviesError(), invalidMedia);
    // The track can take a new media.
    EXPECT_NE(NewTrackMedia(v.track, VideoMediaType, 600, nullptr, 0), nullptr);
}

TEST(Movies, AMediaMadeByTheCoreAloneBelongsToNoTrack) {
    Media media = platform::newDetachedMedia();
    EXPECT_EQ(GetMediaTrack(media), nullptr);
    EXPECT_EQ(GetMoviesError(), noErr);
    Handle ref = nullptr;
    OSType type = 1;
    EXPECT_EQ(GetMediaDataRef(media, 1, &ref, &type, nullptr), badDataRefIndex);
    EXPECT_EQ(ref, nullptr);
    EXPECT_NE(GetMediaUserData(media), nullptr);
    platform::disposeMedia(media);
    EXPECT_EQ(GetMediaUserData(media), nullptr);
    EXPECT_EQ(GetMoviesError(), invalidMedia);
}

TEST(Movies, TracksAreFoundByIndexIdTypeAndCharacteristic) {
    Movie movie = NewMovie(0);
    Track video = NewMovieTrack(movie, Long2Fix(320), Long2Fix(240), 0);
    Track sound = NewMovieTrack(movie, 0, 0, 256);
    Track text = NewMovieTrack(movie, Long2Fix(320), Long2Fix(20), 0);
    NewTrackMedia(video, VideoMediaType, 600, nullptr, 0);
    NewTrackMedia(sound, SoundMediaType, 44100, nullptr, 0);
    NewTrackMedia(text, TextMediaType, 600, nullptr, 0);
    SetTrackEnabled(video, false);

    EXPECT_EQ(GetMovieIndTrack(movie, 2), sound);
    EXPECT_EQ(GetMovieIndTrack(movie, 4), nullptr);
    EXPECT_EQ(GetMoviesError(), badTrackIndex);
    EXPECT_EQ(GetTrackID(text), 3);
    EXPECT_EQ(GetMovieTrack(movie, 2), sound);
    EXPECT_EQ(GetMovieTrack(movie, 9), nullptr);
    EXPECT_EQ(GetMoviesError(), trackIDNotFound);
    EXPECT_EQ(GetTrackMovie(text), movie);

    const struct {
        int32_t index;
        OSType type;
        int32_t flags;
        Track expected;
    } cases[] = {
        {1, VisualMediaCharacteristic, movieTrackCharacteristic, video},
        {2, VisualMediaCharacteristic, movieTrackCharacteristic, text},
        {1, VisualMediaCharacteristic, movieTrackCharacteristic | movieTrackEnabledOnly, text},
        {2, VisualMediaCharacteristic, movieTrackCharacteristic | movieTrackEnabledOnly, nullptr},
        {1, AudioMediaCharacteristic, movieTrackCharacteristic, sound},
        {1, SoundMediaType, movieTrackMediaType, sound},
        {1, VideoMediaType, movieTrackMediaType | movieTrackEnabledOnly, nullptr},
    };
    for (const auto& c : cases)
        EXPECT_EQ(GetMovieIndTrackType(movie, c.index, c.type, c.flags), c.expected)
            << c.index << " " << c.flags;

    // Ids are never reused within a movie.
    DisposeMovieTrack(text);
    Track again = NewMovieTrack(movie, 0, 0, 0);
    EXPECT_EQ(GetTrackID(again), 4);
    EXPECT_EQ(GetMovieIndTrack(movie, 3), again);
    DisposeMovie(movie);
}

TEST(Movies, TrackSettingsAlternateGroupsAndReferences) {
    Movie movie = NewMovie(0);
    Track a = NewMovieTrack(movie, Long2Fix(8), Long2Fix(6), 100);
    Track b = NewMovieTrack(movie, 0, 0, 0);
    Track c = NewMovieTrack(movie, 0, 0, 0);
    SetTrackLayer(a, -2);
    SetTrackVolume(a, 200);
    SetTrackDimensions(a, Long2Fix(16), Long2Fix(9));
    Fixed w = 0, h = 0;
    GetTrackDimensions(a, &w, &h);
    EXPECT_EQ(w, Long2Fix(16));
    EXPECT_EQ(h, Long2Fix(9));
    EXPECT_EQ(GetTrackLayer(a), -2);
    EXPECT_EQ(GetTrackVolume(a), 200);
    SetTrackDimensions(a, -1, 0);
    EXPECT_EQ(GetMoviesError(), paramErr);

    // Alternates form a ring; leaving it closes the ring.
    EXPECT_EQ(GetTrackAlternate(a), a);
    SetTrackAlternate(b, a);
    SetTrackAlternate(c, a);
    std::vector<Track> ring{a};
    for (Track t = GetTrackAlternate(a); t != a; t = GetTrackAlternate(t))
        ring.push_back(t);
    EXPECT_EQ(ring.size(), 3u);
    SetTrackAlternate(c, nullptr);
    EXPECT_EQ(GetTrackAlternate(c), c);
    EXPECT_EQ(GetTrackAlternate(GetTrackAlternate(a)), a);

    // References: indexes from 1, one entry per track, gone with the track.
    const OSType chap = FOUR_CHAR_CODE("chap"), sync = FOUR_CHAR_CODE("sync");
    int32_t index = 0;
    EXPECT_EQ(AddTrackReference(a, b, chap, &index), noErr);
    EXPECT_EQ(index, 1);
    EXPECT_EQ(AddTrackReference(a, c, chap, &index), noErr);
    EXPECT_EQ(index, 2);
    EXPECT_EQ(AddTrackReference(a, b, chap, &index), noErr);
    EXPECT_EQ(index, 1);
    EXPECT_EQ(AddTrackReference(a, c, sync, &index), noErr);
    EXPECT_EQ(GetNextTrackReferenceType(a, 0), chap);
    EXPECT_EQ(GetNextTrackReferenceType(a, chap), sync);
    EXPECT_EQ(GetNextTrackReferenceType(a, sync), 0u);
    EXPECT_EQ(GetTrackReference(a, chap, 2), c);
    EXPECT_EQ(GetTrackReference(a, chap, 3), nullptr);
    EXPECT_EQ(GetMoviesError(), badTrackIndex);
    Movie other = NewMovie(0);
    Track stranger = NewMovieTrack(other, 0, 0, 0);
    EXPECT_EQ(AddTrackReference(a, stranger, chap, &index), trackNotInMovie);
    EXPECT_EQ(index, 0);
    DisposeMovieTrack(c);
    EXPECT_EQ(GetTrackReferenceCount(a, chap), 1);
    EXPECT_EQ(GetTrackReferenceCount(a, sync), 0);
    EXPECT_EQ(GetNextTrackReferenceType(a, chap), 0u);
    EXPECT_EQ(DeleteTrackReference(a, chap, 2), badTrackIndex);
    EXPECT_EQ(DeleteTrackReference(a, chap, 1), noErr);
    EXPECT_EQ(GetTrackReferenceCount(a, chap), 0);
    DisposeMovie(other);
    DisposeMovie(movie);
}

TEST(Movies, BoundsFollowEnabledTracksAndTheMatrix) {
    Movie movie = NewMovie(0);
    Track left = NewMovieTrack(movie, Long2Fix(320), Long2Fix(240), 0);
    Track right = NewMovieTrack(movie, Long2Fix(100), Long2Fix(300), 0);
    NewMovieTrack(movie, 0, 0, 256); // a sound track has no area
    MatrixRecord shift;
    SetIdentityMatrix(&shift);
    TranslateMatrix(&shift, Long2Fix(320), 0);
    SetTrackMatrix(right, &shift);
    Rect r{};
    GetMovieNaturalBoundsRect(movie, &r);
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.top, 0);
    EXPECT_EQ(r.right, 420);
    EXPECT_EQ(r.bottom, 300);

    // A new box becomes the movie's matrix; the natural bounds stay.
    const Rect half{10, 20, 160, 230};
    SetMovieBox(movie, &half);
    GetMovieBox(movie, &r);
    EXPECT_EQ(r.top, 10);
    EXPECT_EQ(r.left, 20);
    EXPECT_EQ(r.bottom, 160);
    EXPECT_EQ(r.right, 230);
    MatrixRecord m;
    GetMovieMatrix(movie, &m);
    EXPECT_EQ(m.matrix[0][0], fixed1 / 2);
    SetMovieMatrix(movie, nullptr);
    SetTrackEnabled(right, false);
    GetMovieBox(movie, &r);
    EXPECT_EQ(r.right, 320);
    EXPECT_EQ(r.bottom, 240);
    const Rect inverted{10, 10, 0, 0};
    SetMovieBox(movie, &inverted);
    EXPECT_EQ(GetMoviesError(), paramErr);
    SetTrackEnabled(left, false);
    GetMovieBox(movie, &r);
    EXPECT_EQ(r.right, 0);
    DisposeMovie(movie);
}

TEST(Movies, SamplesAreFoundByTimeAndNumber) {
    // Durations 10, 10, 20, 5: samples start at 0, 10, 20 and 40; the media ends at 45.
    VideoMovie v({10, 10, 20, 5});
    EXPECT_EQ(GetMediaSampleCount(v.media), 4);
    EXPECT_EQ(GetMediaDuration(v.media), 45);
    EXPECT_EQ(GetMediaSampleDescriptionCount(v.media), 1); // the same description each time

    const struct {
        TimeValue time;
        OSErr err;
        int32_t number;
        TimeValue start, duration;
    } cases[] = {
        {0, noErr, 1, 0, 10},   {9, noErr, 1, 0, 10},        {10, noErr, 2, 10, 10},
        {25, noErr, 3, 20, 20}, {39, noErr, 3, 20, 20},      {40, noErr, 4, 40, 5},
        {44, noErr, 4, 40, 5},  {45, invalidTime, 0, -1, 0}, {-1, invalidTime, 0, -1, 0},
    };
    for (const auto& c : cases) {
        int32_t number = 99;
        TimeValue start = 99, duration = 99;
        MediaTimeToSampleNum(v.media, c.time, &number, &start, &duration);
        EXPECT_EQ(GetMoviesError(), c.err) << c.time;
        EXPECT_EQ(number, c.number) << c.time;
        EXPECT_EQ(start, c.start) << c.time;
        EXPECT_EQ(duration, c.duration) << c.time;
    }
    const struct {
        int32_t number;
        OSErr err;
        TimeValue start;
    } numbers[] = {{1, noErr, 0}, {4, noErr, 40}, {0, invalidSampleNum, -1}, {5, invalidSampleNum, -1}};
    for (const auto& c : numbers) {
        TimeValue start = 99;
        SampleNumToMediaTime(v.media, c.number, &start, nullptr);
        EXPECT_EQ(GetMoviesError(), c.err) << c.number;
        EXPECT_EQ(start, c.start) << c.number;
    }

    // Reads: one sample, then as many alike as asked for.
    uint8_t bytes[16] = {};
    ByteCount size = 0;
    ItemCount count = 0;
    TimeValue64 start = 0;
    EXPECT_EQ(GetMediaSample2(v.media, bytes, sizeof bytes, &size, 25, &start, nullptr, nullptr, nullptr,
                              nullptr, 0, &count, nullptr),
              noErr);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(start, 20);
    EXPECT_EQ(bytes[0], 3);
    EXPECT_EQ(GetMediaSample2(v.media, bytes, sizeof bytes, &size, 0, nullptr, nullptr, nullptr, nullptr,
                              nullptr, 8, &count, nullptr),
              noErr);
    EXPECT_EQ(count, 2u); // the two 10-long samples
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(bytes[4], 2);
    // A buffer too small is refused, with the size told.
    EXPECT_EQ(GetMediaSample2(v.media, bytes, 3, &size, 40, nullptr, nullptr, nullptr, nullptr, nullptr, 1,
                              nullptr, nullptr),
              paramErr);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(GetMediaSample2(v.media, bytes, sizeof bytes, &size, 45, nullptr, nullptr, nullptr, nullptr,
                              nullptr, 1, nullptr, nullptr),
              invalidTime);
}

TEST(Movies, DisplayOffsetsReorderTheShownSamples) {
    Movie movie = NewMovie(0);
    Track track = NewMovieTrack(movie, Long2Fix(16), Long2Fix(16), 0);
    Media media = NewTrackMedia(track, VideoMediaType, 600, nullptr, 0);
    SampleDescriptionHandle desc = makeDescription(FOUR_CHAR_CODE("avc1"));
    const uint8_t byte = 0;
    // Decode order I P B, shown I B P.
    AddMediaSample2(media, &byte, 1, 10, 10, desc, 1, 0, nullptr);
    AddMediaSample2(media, &byte, 1, 10, 20, nullptr, 1, mediaSampleNotSync, nullptr);
    AddMediaSample2(media, &byte, 1, 10, 0, nullptr, 1, mediaSampleNotSync, nullptr);
    const struct {
        TimeValue64 display;
        int64_t number;
        TimeValue64 start;
    } cases[] = {{10, 1, 10}, {25, 3, 20}, {30, 2, 30}, {39, 2, 30}, {9, 0, -1}, {40, 0, -1}};
    for (const auto& c : cases) {
        int64_t number = 99;
        TimeValue64 start = 99;
        MediaDisplayTimeToSampleNum(media, c.display, &number, &start, nullptr);
        EXPECT_EQ(number, c.number) << c.display;
        EXPECT_EQ(start, c.start) << c.display;
    }
    // Sync samples only: the I frame.
    TimeValue64 next = 0;
    GetMediaNextInterestingDisplayTime(media, nextTimeSyncSample, 10, fixed1, &next, nullptr);
    EXPECT_EQ(next, -1);
    GetMediaNextInterestingDisplayTime(media, nextTimeMediaSample, 10, fixed1, &next, nullptr);
    EXPECT_EQ(next, 20);
    disposeDescription(desc);
    DisposeMovie(movie);
}

TEST(Movies, SampleDescriptionsAndBadSamplesAreChecked) {
    Movie movie = NewMovie(0);
    Track track = NewMovieTrack(movie, 0, 0, 0);
    Media media = NewTrackMedia(track, VideoMediaType, 600, nullptr, 0);
    EXPECT_EQ(BeginMediaEdits(media), noErr);
    OSType type = 0;
    GetMediaHandlerDescription(media, &type, nullptr, nullptr);
    EXPECT_EQ(type, VideoMediaType);
    SetMediaLanguage(media, 3);
    SetMediaQuality(media, mediaQualityBetter);
    EXPECT_EQ(GetMediaLanguage(media), 3);
    EXPECT_EQ(GetMediaQuality(media), mediaQualityBetter);
    const uint8_t bytes[6] = {1, 2, 3, 4, 5, 6};
    SampleDescriptionHandle jpeg = makeDescription(FOUR_CHAR_CODE("jpeg"));
    SampleDescriptionHandle wide = makeDescription(FOUR_CHAR_CODE("jpeg"), 32);
    // Without any description there is nothing to reuse.
    EXPECT_EQ(AddMediaSample2(media, bytes, 2, 1, 0, nullptr, 1, 0, nullptr), paramErr);
    const struct {
        const char* what;
        ByteCount size;
        TimeValue64 duration;
        ItemCount count;
        OSErr err;
    } cases[] = {
        {"uneven split", 5, 1, 2, paramErr},
        {"no samples", 6, 1, 0, paramErr},
        {"zero duration", 6, 0, 1, paramErr},
        {"three of two bytes", 6, 5, 3, noErr},
    };
    for (const auto& c : cases)
        EXPECT_EQ(AddMediaSample2(media, bytes, c.size, c.duration, 0, jpeg, c.count, 0, nullptr), c.err)
            << c.what;
    TimeValue64 at = 0;
    EXPECT_EQ(AddMediaSample2(media, bytes, 6, 5, 0, wide, 1, 0, &at), noErr);
    EXPECT_EQ(at, 15);
    EXPECT_EQ(EndMediaEdits(media), noErr);
    EXPECT_EQ(GetMediaSampleDescriptionCount(media), 2);
    EXPECT_EQ(GetMediaSampleCount(media), 4);

    // A description whose size field runs past its handle is refused.
    (**jpeg).descSize = 200;
    EXPECT_EQ(AddMediaSample2(media, bytes, 6, 5, 0, jpeg, 1, 0, nullptr), invalidSampleDescription);
    EXPECT_EQ(GetMediaSampleCount(media), 4);

    Handle out = NewHandle(0);
    GetMediaSampleDescription(media, 2, reinterpret_cast<SampleDescriptionHandle>(out));
    EXPECT_EQ(GetMoviesError(), noErr);
    ASSERT_EQ(GetHandleSize(out), Size(sizeof(ImageDescription)));
    EXPECT_EQ(reinterpret_cast<ImageDescription*>(*out)->width, 32);
    GetMediaSampleDescription(media, 3, reinterpret_cast<SampleDescriptionHandle>(out));
    EXPECT_EQ(GetMoviesError(), invalidSampleDescIndex);
    EXPECT_EQ(GetHandleSize(out), 0);
    EXPECT_EQ(SetMediaSampleDescription(media, 1, wide), noErr);
    GetMediaSampleDescription(media, 1, reinterpret_cast<SampleDescriptionHandle>(out));
    EXPECT_EQ(reinterpret_cast<ImageDescription*>(*out)->width, 32);
    DisposeHandle(out);

    // A media with samples keeps its scale: their times are units of it.
    SetMediaTimeScale(media, 1000);
    EXPECT_EQ(GetMoviesError(), paramErr);
    EXPECT_EQ(GetMediaTimeScale(media), 600);
    disposeDescription(jpeg);
    disposeDescription(wide);
    DisposeMovie(movie);
}

TEST(Movies, SampleReferencesReadThroughTheirDataReference) {
    Movie movie = NewMovie(0);
    Track track = NewMovieTrack(movie, 0, 0, 0);
    Handle data = NewHandle(8);
    std::memcpy(*data, "abcdefgh", 8);
    Handle ref = NewHandle(sizeof(Handle));
    std::memcpy(*ref, &data, sizeof data);
    Media media = NewTrackMedia(track, TextMediaType, 600, ref, FOUR_CHAR_CODE("hndl"));
    int16_t count = 0;
    GetMediaDataRefCount(media, &count);
    EXPECT_EQ(count, 1);
    SampleDescriptionHandle desc = makeDescription(FOUR_CHAR_CODE("text"));
    (**desc).dataRefIndex = 1;
    const SampleReferenceRecord refs[] = {{2, 4, 30, 2, 0}, {6, 3, 10, 1, 0}};
    TimeValue at = -5;
    EXPECT_EQ(AddMediaSampleReferences(media, desc, 2, const_cast<SampleReferencePtr>(refs), &at), noErr);
    EXPECT_EQ(at, 0);
    EXPECT_EQ(GetMediaSampleCount(media), 3);
    EXPECT_EQ(GetMediaDuration(media), 70);
    char text[4] = {};
    ByteCount size = 0;
    EXPECT_EQ(GetMediaSample2(media, reinterpret_cast<uint8_t*>(text), sizeof text, &size, 30, nullptr,
                              nullptr, nullptr, nullptr, nullptr, 1, nullptr, nullptr),
              noErr);
    EXPECT_EQ(std::string(text, size), "ef");
    // A reference past the end of the data is told, not read.
    EXPECT_EQ(GetMediaSample2(media, reinterpret_cast<uint8_t*>(text), sizeof text, &size, 60, nullptr,
                              nullptr, nullptr, nullptr, nullptr, 1, nullptr, nullptr),
              endOfDataReached);
    // A description naming a data reference the media lacks is refused.
    (**desc).dataRefIndex = 2;
    EXPECT_EQ(AddMediaSampleReference(media, 0, 2, 10, desc, 1, 0, nullptr), badDataRefIndex);
    disposeDescription(desc);
    DisposeHandle(ref);
    DisposeHandle(data);
    DisposeMovie(movie);
}

TEST(Movies, TimeConversionsAcrossScalesAreExactIn64Bits) {
    // 29.97 frames a second in a 90 kHz media shown in a 600 movie: 10 frames of 3003.
    {
        VideoMovie v(std::vector<int64_t>(10, 3003), 90000);
        EXPECT_EQ(InsertMediaIntoTrack(v.track, 0, 0, 30030, fixed1), noErr);
        EXPECT_EQ(GetTrackDuration(v.track), 200); // 200.2 rounds to 200
        const struct {
            TimeValue track;
            TimeValue media;
        } cases[] = {{0, 0}, {1, 150}, {100, 15015}, {199, 29879}, {200, -1}, {-1, -1}};
        for (const auto& c : cases)
            EXPECT_EQ(TrackTimeToMediaTime(c.track, v.track), c.media) << c.track;
        // Doubling the movie's scale keeps every mapping.
        SetMovieTimeScale(v.movie, 1200);
        EXPECT_EQ(GetTrackDuration(v.track), 400);
        EXPECT_EQ(TrackTimeToMediaTime(200, v.track), 15015);
        EXPECT_EQ(TrackTimeToMediaTime(399, v.track), 29954);
    }
    // Nanosecond movie time over a media in seconds: the products pass 64 bits, the results do not.
    {
        VideoMovie v({2000000000}, 1);
        SetMovieTimeScale(v.movie, 1000000000);
        EXPECT_EQ(InsertMediaIntoTrack(v.track, 0, 0, 2000000000, fixed1), noErr);
        EXPECT_EQ(GetMovieDuration64(v.movie), 2000000000000000000LL);
        EXPECT_EQ(GetMovieDuration(v.movie), INT32_MAX); // the 32-bit call saturates
        EXPECT_EQ(TrackTimeToMediaDisplayTime(2000000000000000000LL - 1, v.track), 1999999999);
        EXPECT_EQ(TrackTimeToMediaDisplayTime(999999999, v.track), 0);
        EXPECT_EQ(TrackTimeToMediaDisplayTime(1000000000, v.track), 1);
        // Nothing may grow past what sums of times can hold: refused, and nothing changes.
        SetMovieTimeScale(v.movie, INT32_MAX);
        EXPECT_EQ(GetMoviesError(), paramErr);
        EXPECT_EQ(GetMovieTimeScale(v.movie), 1000000000);
        EXPECT_EQ(InsertMediaIntoTrack(v.track, -1, 0, 2000000000, fixed1), paramErr);
        EXPECT_EQ(ScaleTrackSegment(v.track, 0, 1, INT32_MAX), noErr);
        EXPECT_EQ(GetMovieDuration64(v.movie), 2000000000000000000LL - 1 + INT32_MAX);
        EXPECT_EQ(AddMediaSample2(v.media, nullptr, 0, INT64_MAX / 2, 0, nullptr, 1, 0, nullptr), paramErr);
        EXPECT_EQ(GetMediaSampleCount(v.media), 1);
    }
}

TEST(Movies, EditListsMapTrackTimeThroughEmptyAndScaledSegments) {
    VideoMovie v({10, 10, 10, 10});
    // 100 empty, the media at half speed (80), the media at double speed (20).
    ASSERT_EQ(InsertMediaIntoTrack(v.track, 0, 0, 40, fixed1), noErr);
    ASSERT_EQ(InsertEmptyTrackSegment(v.track, 0, 100), noErr);
    ASSERT_EQ(ScaleTrackSegment(v.track, 100, 40, 80), noErr);
    ASSERT_EQ(InsertMediaIntoTrack(v.track, -1, 0, 40, 2 * fixed1), noErr);
    EXPECT_EQ(GetTrackDuration(v.track), 200);
    EXPECT_EQ(GetTrackOffset(v.track), 100);
    EXPECT_EQ(GetMovieDuration(v.movie), 200);
    const struct {
        TimeValue track;
        TimeValue media;
    } cases[] = {{0, -1},   {99, -1}, {100, 0}, {101, 0},  {102, 1},
                 {179, 39}, {180, 0}, {181, 2}, {199, 38}, {200, -1}};
    for (const auto& c : cases)
        EXPECT_EQ(TrackTimeToMediaTime(c.track, v.track), c.media) << c.track;
    const struct {
        TimeValue at;
        Fixed rate;
        OSErr err;
    } rates[] = {{50, 0, noErr}, {120, fixed1 / 2, noErr}, {190, 2 * fixed1, noErr}, {200, 0, invalidTime}};
    for (const auto& r : rates) {
        EXPECT_EQ(GetTrackEditRate(v.track, r.at), r.rate) << r.at;
        EXPECT_EQ(GetMoviesError(), r.err) << r.at;
    }

    // Cutting inside the slow segment keeps the rest of it exactly where it was in the media.
    ASSERT_EQ(DeleteTrackSegment(v.track, 150, 20), noErr);
    EXPECT_EQ(GetTrackDuration(v.track), 180);
    EXPECT_EQ(TrackTimeToMediaTime(149, v.track), 24);
    EXPECT_EQ(TrackTimeToMediaTime(150, v.track), 35);
    EXPECT_EQ(TrackTimeToMediaTime(151, v.track), 35);
    EXPECT_EQ(TrackTimeToMediaTime(160, v.track), 0);
    // Moving the offset moves everything after it.
    SetTrackOffset(v.track, 10);
    EXPECT_EQ(GetTrackDuration(v.track), 90);
    EXPECT_EQ(TrackTimeToMediaTime(10, v.track), 0);

    // A segment outside the media, a zero rate or length are refused and change nothing.
    EXPECT_EQ(InsertMediaIntoTrack(v.track, 0, 30, 20, fixed1), timeNotInMedia);
    EXPECT_EQ(InsertMediaIntoTrack(v.track, 0, 0, 10, 0), paramErr);
    EXPECT_EQ(InsertMediaIntoTrack(v.track, 0, 0, 0, fixed1), invalidDuration);
    EXPECT_EQ(ScaleTrackSegment(v.track, 0, 10, 0), paramErr);
    EXPECT_EQ(GetTrackDuration(v.track), 90);
}

TEST(Movies, InterestingTimesCountTheFramesOfASelection) {
    VideoMovie v({10, 10, 10, 10});
    ASSERT_EQ(InsertMediaIntoTrack(v.track, 0, 0, 40, fixed1), noErr);
    const struct {
        TimeValue start, end;
        int32_t frames;
    } cases[] = {{0, 40, 4}, {0, 20, 3}, {0, 0, 1}, {5, 25, 2}, {10, 10, 0}, {35, 100, 0}};
    for (const auto& c : cases)
        EXPECT_EQ(frameCountInSelection(v.movie, c.start, c.end, VideoMediaType), c.frames)
            << c.start << ".." << c.end;
    // Another media type has no frames here.
    EXPECT_EQ(frameCountInSelection(v.movie, 0, 40, SoundMediaType), 0);

    // The sample holding a time, and its length: back with the edge, then forward from its start.
    TimeValue start = 0, length = 0;
    GetMovieNextInterestingTime(v.movie, nextTimeStep | nextTimeEdgeOK, 0, nullptr, 15, -fixed1, &start,
                                nullptr);
    EXPECT_EQ(start, 10);
    GetMovieNextInterestingTime(v.movie, nextTimeStep | nextTimeEdgeOK, 0, nullptr, start, fixed1, &start,
                                &length);
    EXPECT_EQ(start, 10);
    EXPECT_EQ(length, 10);

    // Through an empty and a slowed segment: frames fall at 100, 120, 140, 160 and last 20.
    ASSERT_EQ(InsertEmptyTrackSegment(v.track, 0, 100), noErr);
    ASSERT_EQ(ScaleTrackSegment(v.track, 100, 40, 80), noErr);
    EXPECT_EQ(frameCountInSelection(v.movie, 0, 1000, 0), 4);
    EXPECT_EQ(frameCountInSelection(v.movie, 110, 150, 0), 2);
    GetTrackNextInterestingTime(v.track, nextTimeMediaSample, 120, fixed1, &start, &length);
    EXPECT_EQ(start, 140);
    EXPECT_EQ(length, 20);
    GetTrackNextInterestingTime(v.track, nextTimeTrackEdit, 0, fixed1, &start, nullptr);
    EXPECT_EQ(start, 100);
    // A disabled track is not searched.
    SetTrackEnabled(v.track, false);
    EXPECT_EQ(frameCountInSelection(v.movie, 0, 1000, 0), 0);
}

TEST(Movies, SegmentsCopyBetweenTracksAndMovies) {
    VideoMovie v({10, 10, 10, 10});
    ASSERT_EQ(InsertMediaIntoTrack(v.track, 0, 0, 40, fixed1), noErr);

    // Into a new track with a media of its own: the samples shown are copied.
    Track copy = NewMovieTrack(v.movie, Long2Fix(320), Long2Fix(240), 0);
    Media copyMedia = NewTrackMedia(copy, VideoMediaType, 600, nullptr, 0);
    ASSERT_EQ(InsertTrackSegment(v.track, copy, 15, 20, 0), noErr);
    EXPECT_EQ(GetTrackDuration(copy), 20);
    EXPECT_EQ(GetMediaSampleCount(copyMedia), 3); // samples 2 to 4 are partly shown
    EXPECT_EQ(TrackTimeToMediaTime(0, copy), 5);
    uint8_t bytes[4] = {};
    ByteCount size = 0;
    TimeValue64 sampleStart = 0;
    EXPECT_EQ(GetMediaSample2(copyMedia, bytes, 4, &size, TrackTimeToMediaTime(0, copy), &sampleStart,
                              nullptr, nullptr, nullptr, nullptr, 1, nullptr, nullptr),
              noErr);
    EXPECT_EQ(bytes[0], 2); // the second sample's bytes
    EXPECT_EQ(sampleStart, 0);
    Media sound = NewTrackMedia(NewMovieTrack(v.movie, 0, 0, 256), SoundMediaType, 600, nullptr, 0);
    EXPECT_EQ(InsertTrackSegment(v.track, GetMediaTrack(sound), 0, 10, 0), mediaTypesDontMatch);

    // Within one movie every track takes its own copy and stays in step.
    EXPECT_EQ(InsertMovieSegment(v.movie, v.movie, 0, 10, 0), noErr);
    EXPECT_EQ(GetTrackDuration(v.track), 50);
    EXPECT_EQ(TrackTimeToMediaTime(10, v.track), 0);
    EXPECT_EQ(TrackTimeToMediaTime(5, v.track), 5);
    EXPECT_EQ(TrackTimeToMediaTime(10, copy), 5);
    EXPECT_EQ(TrackTimeToMediaTime(5, copy), 10);
    EXPECT_EQ(GetTrackDuration(GetMediaTrack(sound)), 0); // nothing to keep in step

    // Into another movie of another scale: a new track, times in its scale.
    Movie other = NewMovie(0);
    SetMovieTimeScale(other, 1200);
    EXPECT_EQ(InsertMovieSegment(v.movie, other, 10, 40, 0), noErr);
    EXPECT_EQ(GetMovieTrackCount(other), 2);
    Track pasted = GetMovieIndTrack(other, 1);
    EXPECT_EQ(GetTrackDuration(pasted), 80);
    EXPECT_EQ(TrackTimeToMediaDisplayTime(0, pasted), 0);
    EXPECT_EQ(TrackTimeToMediaDisplayTime(79, pasted), 39);
    Fixed w = 0;
    GetTrackDimensions(pasted, &w, nullptr);
    EXPECT_EQ(w, Long2Fix(320));
    DisposeMovie(v.movie); // the copy owns its samples
    v.movie = nullptr;
    ByteCount pastedSize = 0;
    EXPECT_EQ(GetMediaSample2(GetTrackMedia(pasted), bytes, 4, &pastedSize, 35, nullptr, nullptr, nullptr,
                              nullptr, nullptr, 1, nullptr, nullptr),
              noErr);
    EXPECT_EQ(pastedSize, 4u);
    EXPECT_EQ(bytes[0], 4);
    DisposeMovie(other);
}

TEST(Movies, MovieTimesSelectionPreviewAndPoster) {
    VideoMovie v({300, 300});
    ASSERT_EQ(InsertMediaIntoTrack(v.track, 0, 0, 600, fixed1), noErr);
    SetMovieTimeValue(v.movie, 450);
    EXPECT_EQ(GetMovieTime(v.movie, nullptr), 450);
    SetMovieTimeValue(v.movie, 5000);
    TimeRecord now{};
    EXPECT_EQ(GetMovieTime(v.movie, &now), 600); // kept within the movie
    EXPECT_EQ(platform::wideToInt64(now.value), 600);
    EXPECT_EQ(now.scale, 600);
    SetMovieSelection(v.movie, 100, 200);
    SetMoviePreviewTime(v.movie, 30, 60);
    SetMoviePosterTime(v.movie, 150);
    SetMovieSelection(v.movie, -1, 5);
    EXPECT_EQ(GetMoviesError(), paramErr);
    // A new scale carries every time along.
    SetMovieTimeScale(v.movie, 60);
    TimeValue a = 0, b = 0;
    GetMovieSelection(v.movie, &a, &b);
    EXPECT_EQ(a, 10);
    EXPECT_EQ(b, 20);
    GetMoviePreviewTime(v.movie, &a, &b);
    EXPECT_EQ(a, 3);
    EXPECT_EQ(b, 6);
    EXPECT_EQ(GetMoviePosterTime(v.movie), 15);
    EXPECT_EQ(GetMovieTime(v.movie, nullptr), 60);
    EXPECT_EQ(GetMovieDuration(v.movie), 60);
    SetMovieTimeScale(v.movie, 0);
    EXPECT_EQ(GetMoviesError(), paramErr);
    EXPECT_TRUE(GetMovieActive(v.movie));
    SetMovieActive(v.movie, false);
    EXPECT_FALSE(GetMovieActive(v.movie));
}

TEST(Movies, UserDataAndMetadataBelongToTheirOwners) {
    VideoMovie v({10});
    UserData lists[] = {GetMovieUserData(v.movie), GetTrackUserData(v.track), GetMediaUserData(v.media)};
    const OSType name = FOUR_CHAR_CODE("name");
    for (UserData ud : lists) {
        ASSERT_NE(ud, nullptr);
        EXPECT_EQ(SetUserDataItem(ud, "abc", 3, name, 1), noErr);
    }
    EXPECT_NE(lists[0], lists[1]);
    EXPECT_EQ(GetMovieUserData(v.movie), lists[0]); // the same list each time
    char back[3] = {};
    EXPECT_EQ(GetUserDataItem(GetTrackUserData(v.track), back, 3, name, 1), noErr);
    EXPECT_EQ(std::string(back, 3), "abc");

    // Metadata: one store per owner, kept by the owner; a copy holds its own count.
    QTMetaDataRef stores[3] = {};
    EXPECT_EQ(QTCopyMovieMetaData(v.movie, &stores[0]), noErr);
    EXPECT_EQ(QTCopyTrackMetaData(v.track, &stores[1]), noErr);
    EXPECT_EQ(QTCopyMediaMetaData(v.media, &stores[2]), noErr);
    const OSType owners[] = {FOUR_CHAR_CODE("moov"), FOUR_CHAR_CODE("trak"), FOUR_CHAR_CODE("mdia")};
    for (int i = 0; i < 3; ++i) {
        OSType owner = 0;
        EXPECT_EQ(QTMetaDataGetProperty(stores[i], kPropertyClass_MetaData, kQTMetaDataPropertyID_OwnerType,
                                        sizeof owner, &owner, nullptr),
                  noErr);
        EXPECT_EQ(owner, owners[i]);
    }
    const char key[] = "comment";
    EXPECT_EQ(QTMetaDataAddItem(stores[1], kQTMetaDataStorageFormatMdta, kQTMetaDataKeyFormatMdta,
                                reinterpret_cast<const UInt8*>(key), 7, reinterpret_cast<const UInt8*>("x"),
                                1, kQTMetaDataTypeUTF8, nullptr),
              noErr);
    QTMetaDataRef again = nullptr;
    EXPECT_EQ(QTCopyTrackMetaData(v.track, &again), noErr);
    EXPECT_EQ(again, stores[1]);
    QTMetaDataItem item = 0;
    EXPECT_EQ(QTMetaDataGetNextItem(again, 0, 0, kQTMetaDataKeyFormatMdta,
                                    reinterpret_cast<const UInt8*>(key), 7, &item),
              noErr);
    QTMetaDataRelease(again);

    DisposeMovie(v.movie);
    v.movie = nullptr;
    // The lists went with their owners; the copies still hold their stores.
    EXPECT_EQ(GetTrackUserData(v.track), nullptr);
    EXPECT_EQ(GetMoviesError(), invalidTrack);
    EXPECT_FALSE(platform::isUserData(lists[1]));
    QTMetaDataRef none = stores[0];
    EXPECT_EQ(QTCopyMovieMetaData(v.movie, &none), invalidMovie);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(QTMetaDataGetNextItem(stores[1], 0, 0, 0, nullptr, 0, &item), noErr);
    for (QTMetaDataRef s : stores)
        QTMetaDataRelease(s);
    EXPECT_EQ(QTMetaDataRetain(stores[1]), nullptr); // the last count went
}

TEST(Movies, TheStickyErrorKeepsTheFirstFailure) {
    ClearMoviesStickyError();
    Movie movie = NewMovie(0);
    EXPECT_EQ(GetMoviesStickyError(), noErr);
    GetTrackDuration(nullptr);
    GetMediaDuration(nullptr);
    EXPECT_EQ(GetMoviesError(), invalidMedia);
    GetMovieDuration(movie);
    EXPECT_EQ(GetMoviesError(), noErr);
    EXPECT_EQ(GetMoviesStickyError(), invalidTrack);
    ClearMoviesStickyError();
    EXPECT_EQ(GetMoviesStickyError(), noErr);
    DisposeMovie(movie);
}

// Frames of real JPEG data, each of its own size, keep their bytes through the media's memory and
// through a copy into another movie.
TEST(Movies, JpegFramesMadeByPilKeepTheirBytes) {
    testsupport::ScratchDir dir("movie-jpeg-frames");
    int status = -1;
    testsupport::run("/usr/bin/python3 -c \"\nfrom PIL import Image, ImageDraw\n"
                     "for i in range(5):\n"
                     "    im = Image.new('RGB', (64, 48), (i * 50, 255 - i * 40, 90))\n"
                     "    ImageDraw.Draw(im).ellipse((i * 8, 4, 20 + i * 9, 40), fill=(255, 255, 255))\n"
                     "    im.save('" +
                         dir.file("") + "frame%d.jpg' % i, quality=60 + i * 8)\n\"",
                     &status);
    ASSERT_EQ(status, 0) << "python3 with PIL is needed";
    std::vector<std::string> frames;
    for (int i = 0; i < 5; ++i)
        frames.push_back(testsupport::readFile(dir.file("frame" + std::to_string(i) + ".jpg")));

    Movie movie = NewMovie(0);
    Track track = NewMovieTrack(movie, Long2Fix(64), Long2Fix(48), 0);
    Media media = NewTrackMedia(track, VideoMediaType, 600, nullptr, 0);
    SampleDescriptionHandle desc = makeDescription(FOUR_CHAR_CODE("jpeg"), 64);
    for (const std::string& f : frames)
        ASSERT_EQ(AddMediaSample2(media, reinterpret_cast<const uint8_t*>(f.data()), ByteCount(f.size()), 100,
                                  0, desc, 1, 0, nullptr),
                  noErr);
    disposeDescription(desc);
    ASSERT_EQ(InsertMediaIntoTrack(track, 0, 0, 500, fixed1), noErr);
    EXPECT_EQ(GetMediaSampleDescriptionCount(media), 1);

    Movie clip = NewMovie(0);
    ASSERT_EQ(InsertMovieSegment(movie, clip, 100, 300, 0), noErr);
    DisposeMovie(movie);
    Track copied = GetMovieIndTrack(clip, 1);
    Media copiedMedia = GetTrackMedia(copied);
    EXPECT_EQ(GetMediaSampleCount(copiedMedia), 3);
    EXPECT_EQ(frameCountInSelection(clip, 0, 300, VideoMediaType), 3);
    for (TimeValue t = 0; t < 300; t += 100) {
        const TimeValue64 at = TrackTimeToMediaDisplayTime(t, copied);
        ByteCount size = 0;
        ASSERT_EQ(GetMediaSample2(copiedMedia, nullptr, 0, &size, at, nullptr, nullptr, nullptr, nullptr,
                                  nullptr, 1, nullptr, nullptr),
                  noErr);
        std::string bytes(size, '\0');
        ASSERT_EQ(GetMediaSample2(copiedMedia, reinterpret_cast<uint8_t*>(bytes.data()), size, &size, at,
                                  nullptr, nullptr, nullptr, nullptr, nullptr, 1, nullptr, nullptr),
                  noErr);
        EXPECT_EQ(bytes, frames[size_t(t / 100 + 1)]) << t;
    }
    DisposeMovie(clip);
}

// Threads build and dispose of movies side by side, and each reads handles that another one may
// have disposed of: calls are refused or answered, never torn.
TEST(Movies, CallsFromManyThreads) {
    std::atomic<Track> shared{nullptr};
    std::atomic<int> failures{0};
    auto work = [&](int seed) {
        for (int round = 0; round < 200; ++round) {
            Movie movie = NewMovie(0);
            Track track = NewMovieTrack(movie, Long2Fix(8), Long2Fix(8), 0);
            Media media = NewTrackMedia(track, VideoMediaType, 600, nullptr, 0);
            SampleDescriptionHandle desc = makeDescription(FOUR_CHAR_CODE("raw "));
            const uint8_t bytes[4] = {uint8_t(seed), 1, 2, 3};
            if (AddMediaSample2(media, bytes, 4, 10, 0, desc, 2, 0, nullptr) != noErr) ++failures;
            disposeDescription(desc);
            if (InsertMediaIntoTrack(track, 0, 0, 20, fixed1) != noErr) ++failures;
            shared.store(track);
            Track other = shared.load();
            const TimeValue d = GetTrackDuration(other);
            if (!(d == 20 && GetMoviesError() == noErr) && !(d == 0 && GetMoviesError() == invalidTrack))
                ++failures;
            DisposeMovie(movie);
            if (GetTrackDuration(track) != 0 || GetMoviesError() != invalidTrack) ++failures;
        }
    };
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i)
        threads.emplace_back(work, i);
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(failures.load(), 0);
}
