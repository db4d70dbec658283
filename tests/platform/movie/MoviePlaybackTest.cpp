#include "PlatformAudio.h"
#include "PlatformCF.h"
#include "PlatformClock.h"
#include "PlatformComponents.h"
#include "PlatformFixed.h"
#include "PlatformMemory.h"
#include "PlatformMoviePlayback.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

struct MovieHolder {
    Movie movie = NewMovie(0);
    ~MovieHolder() { DisposeMovie(movie); }
};

// A video track of `count` one-pixel raw frames, each `each` long in a 600 scale.
Track addVideoTrack(Movie movie, int count, TimeValue each, Fixed width = Long2Fix(320),
                    Fixed height = Long2Fix(240)) {
    Track track = NewMovieTrack(movie, width, height, 0);
    Media media = NewTrackMedia(track, VideoMediaType, 600, nullptr, 0);
    Handle h = NewHandleClear(sizeof(ImageDescription));
    auto* d = reinterpret_cast<ImageDescription*>(*h);
    d->idSize = sizeof(ImageDescription);
    d->cType = FOUR_CHAR_CODE("raw ");
    d->width = 16;
    d->height = 12;
    d->depth = 24;
    d->hRes = d->vRes = Long2Fix(72);
    const std::vector<uint8_t> bytes(16 * 12 * 3, 0x80);
    for (int i = 0; i < count; ++i)
        EXPECT_EQ(AddMediaSample2(media, bytes.data(), ByteCount(bytes.size()), each, 0,
                                  reinterpret_cast<SampleDescriptionHandle>(h), 1, 0, nullptr),
                  noErr);
    DisposeHandle(h);
    EXPECT_EQ(InsertMediaIntoTrack(track, 0, 0, GetMediaDuration(media), fixed1), noErr);
    return track;
}

// A sound track of one second whose description is made from the stream (and layout).
Track addSoundTrack(Movie movie, double rate, uint32_t channels, const AudioChannelLayout* layout = nullptr,
                    ByteCount layoutSize = 0) {
    Track track = NewMovieTrack(movie, 0, 0, kFullVolume);
    Media media = NewTrackMedia(track, SoundMediaType, TimeScale(rate), nullptr, 0);
    const AudioStreamBasicDescription asbd{rate,
                                           FOUR_CHAR_CODE("lpcm"),
                                           kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked,
                                           2 * channels,
                                           1,
                                           2 * channels,
                                           channels,
                                           16,
                                           0};
    SoundDescriptionHandle desc = nullptr;
    EXPECT_EQ(QTSoundDescriptionCreate(&asbd, layout, layoutSize, nullptr, 0,
                                       kQTSoundDescriptionKind_Movie_AnyVersion, &desc),
              noErr);
    const std::vector<uint8_t> samples(size_t(rate) * 2 * channels, 0);
    EXPECT_EQ(AddMediaSample2(media, samples.data(), ByteCount(samples.size()), 1, 0,
                              reinterpret_cast<SampleDescriptionHandle>(desc), ItemCount(rate), 0, nullptr),
              noErr);
    DisposeHandle(reinterpret_cast<Handle>(desc));
    EXPECT_EQ(InsertMediaIntoTrack(track, 0, 0, GetMediaDuration(media), fixed1), noErr);
    return track;
}

TimeValue64 movieTime(Movie movie, TimeBase* base = nullptr) {
    TimeRecord r{};
    GetMovieTime(movie, &r);
    if (base) *base = r.base;
    return platform::wideToInt64(r.value);
}

template <class T> OSErr getMovie(Movie m, OSType cls, OSType id, T& value, ByteCount size = sizeof(T)) {
    return QTGetMovieProperty(m, cls, id, size, &value, nullptr);
}
template <class T>
OSErr setMovie(Movie m, OSType cls, OSType id, const T& value, ByteCount size = sizeof(T)) {
    return QTSetMovieProperty(m, cls, id, size, &value);
}

} // namespace

// Suites named Movies run under the thread sanitizer too.
TEST(Movies, PlaybackTimeRunsFromTheTimeBaseOnTheClock) {
    platform::ManualClock clock(5000);
    platform::ScopedSystemClock scoped(clock);
    MovieHolder m;
    addVideoTrack(m.movie, 10, 60); // 600 units: one second
    TimeBase base = GetMovieTimeBase(m.movie);
    ASSERT_NE(base, nullptr);
    TimeBase reported = nullptr;
    EXPECT_EQ(movieTime(m.movie, &reported), 0);
    EXPECT_EQ(reported, base);
    EXPECT_EQ(GetMovieRate(m.movie), 0);

    clock.advance(0.5);
    EXPECT_EQ(movieTime(m.movie), 0); // stopped
    SetMovieRate(m.movie, fixed1);
    EXPECT_EQ(GetMovieRate(m.movie), fixed1);
    clock.advance(0.25);
    EXPECT_EQ(GetMovieTime(m.movie, nullptr), 150);
    // Setting the time while playing moves the time line.
    SetMovieTimeValue(m.movie, 100);
    EXPECT_EQ(GetMovieTime(m.movie, nullptr), 100);
    clock.advance(0.1);
    EXPECT_EQ(GetMovieTime(m.movie, nullptr), 160);
    SetMovieTimeValue(m.movie, 160); // the same value it already shows
    clock.advance(0.1);
    EXPECT_EQ(GetMovieTime(m.movie, nullptr), 220);
    SetMovieRate(m.movie, 2 * fixed1);
    clock.advance(0.1);
    EXPECT_EQ(GetMovieTime(m.movie, nullptr), 340);
    EXPECT_FALSE(IsMovieDone(m.movie));
    // Running into the end stops there; the rate stays.
    clock.advance(10);
    EXPECT_EQ(GetMovieTime(m.movie, nullptr), 600);
    EXPECT_TRUE(IsMovieDone(m.movie));
    EXPECT_EQ(GetMovieRate(m.movie), 2 * fixed1);

    // Backward to the beginning.
    SetMovieRate(m.movie, -fixed1);
    clock.advance(0.5);
    EXPECT_EQ(GetMovieTime(m.movie, nullptr), 300);
    EXPECT_FALSE(IsMovieDone(m.movie));
    clock.advance(5);
    EXPECT_EQ(GetMovieTime(m.movie, nullptr), 0);
    EXPECT_TRUE(IsMovieDone(m.movie));

    // A new scale keeps the moment.
    StopMovie(m.movie);
    SetMovieTimeValue(m.movie, 300);
    SetMovieTimeScale(m.movie, 1000);
    EXPECT_EQ(GetMovieTime(m.movie, nullptr), 500);
    GoToEndOfMovie(m.movie);
    EXPECT_EQ(GetMovieTime(m.movie, nullptr), 1000);
    GoToBeginningOfMovie(m.movie);
    EXPECT_EQ(GetMovieTime(m.movie, nullptr), 0);
    // An edit that shortens the movie keeps the time inside it, playing or not.
    SetMovieTimeValue(m.movie, 900);
    SetMovieRate(m.movie, fixed1);
    ASSERT_EQ(DeleteMovieSegment(m.movie, 0, 500), noErr);
    EXPECT_EQ(GetMovieTime(m.movie, nullptr), 500);
    EXPECT_TRUE(IsMovieDone(m.movie));
}

TEST(Movies, PlaybackStartsAtThePreferredRateAndSlavesFollowTheirMaster) {
    platform::ManualClock clock;
    platform::ScopedSystemClock scoped(clock);
    MovieHolder master, slave;
    addVideoTrack(master.movie, 10, 60);
    addVideoTrack(slave.movie, 10, 60);

    EXPECT_EQ(GetMoviePreferredRate(master.movie), fixed1);
    SetMoviePreferredRate(master.movie, fixed1 / 2);
    SetMovieActive(master.movie, false);
    StartMovie(master.movie);
    EXPECT_TRUE(GetMovieActive(master.movie));
    EXPECT_EQ(GetMovieRate(master.movie), fixed1 / 2);
    clock.advance(0.2);
    EXPECT_EQ(GetMovieTime(master.movie, nullptr), 60);
    StopMovie(master.movie);
    EXPECT_EQ(GetMovieRate(master.movie), 0);
    clock.advance(0.2);
    EXPECT_EQ(GetMovieTime(master.movie, nullptr), 60);
    EXPECT_EQ(PrerollMovie(master.movie, 0, fixed1), noErr);
    EXPECT_EQ(PrerollMovie(master.movie, -1, fixed1), paramErr);

    // A slave playing at normal speed runs 100 ahead of its master (its rate counts against the
    // master's).
    TimeBase masterBase = GetMovieTimeBase(master.movie);
    const TimeRecord zero{platform::int64ToWide(100), 600, masterBase};
    SetMovieRate(slave.movie, fixed1);
    SetMovieMasterTimeBase(slave.movie, masterBase, &zero);
    ASSERT_EQ(GetMoviesError(), noErr);
    EXPECT_EQ(GetTimeBaseMasterTimeBase(GetMovieTimeBase(slave.movie)), masterBase);
    EXPECT_EQ(GetMovieTime(slave.movie, nullptr), 160);
    clock.advance(0.1);
    EXPECT_EQ(GetMovieTime(slave.movie, nullptr), 160); // the master stands still
    SetMovieRate(master.movie, fixed1);
    clock.advance(0.1);
    EXPECT_EQ(GetMovieTime(master.movie, nullptr), 120);
    EXPECT_EQ(GetMovieTime(slave.movie, nullptr), 220);
    // Free again: the slave keeps its time and its own rate.
    SetMovieMasterTimeBase(slave.movie, nullptr, nullptr);
    clock.advance(0.1);
    EXPECT_EQ(GetMovieTime(slave.movie, nullptr), 280);

    // A slave of a clock component.
    ComponentDescription looking{clockComponentType, 0, 0, 0, 0};
    Component clockComponent = FindNextComponent(nullptr, &looking);
    ASSERT_NE(clockComponent, nullptr);
    SetMovieMasterClock(slave.movie, clockComponent, nullptr);
    EXPECT_EQ(GetMoviesError(), noErr);
    SetMovieMasterClock(slave.movie, nullptr, nullptr);

    // A caller that disposes of a movie's time base does not stop the movie from playing.
    StopMovie(master.movie);
    const TimeValue at = GetMovieTime(master.movie, nullptr);
    DisposeTimeBase(GetMovieTimeBase(master.movie));
    EXPECT_EQ(GetMovieTime(master.movie, nullptr), at);
    EXPECT_NE(GetMovieTimeBase(master.movie), nullptr);
    SetMovieRate(master.movie, fixed1);
    clock.advance(0.1);
    EXPECT_EQ(GetMovieTime(master.movie, nullptr), at + 60);
}

TEST(Movies, PlaybackCallsRefuseUnknownMovies) {
    MovieHolder gone;
    Movie disposed = gone.movie;
    DisposeMovie(disposed);
    gone.movie = NewMovie(0);
    for (Movie bad : {Movie(nullptr), disposed}) {
        EXPECT_EQ(GetMovieTimeBase(bad), nullptr);
        EXPECT_EQ(GetMoviesError(), invalidMovie);
        SetMovieRate(bad, fixed1);
        EXPECT_EQ(GetMoviesError(), invalidMovie);
        StartMovie(bad);
        EXPECT_EQ(GetMoviesError(), invalidMovie);
        EXPECT_EQ(GetMovieVolume(bad), 0);
        EXPECT_EQ(GetMoviesError(), invalidMovie);
        EXPECT_EQ(UpdateMovie(bad), invalidMovie);
        EXPECT_EQ(GetMovieClipRgn(bad), nullptr);
        EXPECT_EQ(GetMoviesError(), invalidMovie);
        // Properties of objects the layer does not know are the store's: none.
        Boolean b = false;
        EXPECT_EQ(QTGetMovieProperty(bad, kQTPropertyClass_Audio, kQTAudioPropertyID_Mute, 1, &b, nullptr),
                  bad ? kQTPropertyNotSupportedErr : paramErr);
    }
    EXPECT_EQ(GetTrackClipRgn(nullptr), nullptr);
    EXPECT_EQ(GetMoviesError(), invalidTrack);
    EXPECT_EQ(GetMediaHandler(nullptr), nullptr);
    EXPECT_EQ(GetMoviesError(), invalidMedia);
}

TEST(Movies, PlaybackVolumesAndTheMuteProperty) {
    MovieHolder m;
    EXPECT_EQ(GetMovieVolume(m.movie), kFullVolume);
    EXPECT_EQ(GetMoviePreferredVolume(m.movie), kFullVolume);
    SetMoviePreferredVolume(m.movie, 0x80);
    EXPECT_EQ(GetMoviePreferredVolume(m.movie), 0x80);
    SetMovieVolume(m.movie, -0x80);
    EXPECT_EQ(GetMovieVolume(m.movie), -0x80);
    Boolean muted = false;
    EXPECT_EQ(getMovie(m.movie, kQTPropertyClass_Audio, kQTAudioPropertyID_Mute, muted), noErr);
    EXPECT_TRUE(muted);
    EXPECT_EQ(setMovie(m.movie, kQTPropertyClass_Audio, kQTAudioPropertyID_Mute, Boolean(false)), noErr);
    EXPECT_EQ(GetMovieVolume(m.movie), 0x80);
    EXPECT_EQ(setMovie(m.movie, kQTPropertyClass_Audio, kQTAudioPropertyID_Mute, Boolean(true)), noErr);
    EXPECT_EQ(GetMovieVolume(m.movie), -0x80);
}

TEST(Movies, PlaybackAudioPropertiesCheckSizesAndRanges) {
    MovieHolder m;
    const OSType audio = kQTPropertyClass_Audio;
    OSType type = 0;
    ByteCount size = 0;
    UInt32 flags = 0;
    EXPECT_EQ(QTGetMoviePropertyInfo(m.movie, audio, kQTAudioPropertyID_Balance, &type, &size, &flags),
              noErr);
    EXPECT_EQ(type, kQTPropertyValueType_Float32);
    EXPECT_EQ(size, 4u);
    EXPECT_TRUE(flags & kComponentPropertyFlagCanSetNow);

    const struct {
        OSType id;
        float value;
        OSErr status;
    } sets[] = {
        {kQTAudioPropertyID_Balance, -1.0f, noErr}, {kQTAudioPropertyID_Balance, 1.01f, paramErr},
        {kQTAudioPropertyID_Gain, 2.5f, noErr},     {kQTAudioPropertyID_Gain, -0.5f, paramErr},
        {kQTAudioPropertyID_Pitch, -300.0f, noErr}, {kQTAudioPropertyID_Gain, __builtin_nanf(""), paramErr},
    };
    for (const auto& s : sets)
        EXPECT_EQ(setMovie(m.movie, audio, s.id, s.value), s.status) << s.value;
    float f = 0;
    EXPECT_EQ(getMovie(m.movie, audio, kQTAudioPropertyID_Balance, f), noErr);
    EXPECT_EQ(f, -1.0f);
    EXPECT_EQ(getMovie(m.movie, audio, kQTAudioPropertyID_Gain, f), noErr);
    EXPECT_EQ(f, 2.5f);
    EXPECT_EQ(getMovie(m.movie, audio, kQTAudioPropertyID_Pitch, f), noErr);
    EXPECT_EQ(f, -300.0f);

    // Wrong sizes never read or write past the caller's bytes.
    uint8_t guard[8] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
    ByteCount used = 99;
    EXPECT_EQ(QTGetMovieProperty(m.movie, audio, kQTAudioPropertyID_Gain, 2, guard, &used),
              kQTPropertyBadValueSizeErr);
    EXPECT_EQ(used, 0u);
    EXPECT_EQ(guard[0], 0xEE);
    EXPECT_EQ(QTSetMovieProperty(m.movie, audio, kQTAudioPropertyID_Gain, 2, guard),
              kQTPropertyBadValueSizeErr);
    EXPECT_EQ(QTSetMovieProperty(m.movie, audio, kQTAudioPropertyID_Gain, 4, nullptr), paramErr);
    EXPECT_EQ(QTGetMovieProperty(m.movie, audio, FOUR_CHAR_CODE("zzzz"), 8, guard, &used),
              kQTPropertyNotSupportedErr);
    // No sound tracks: no summary.
    AudioStreamBasicDescription asbd{};
    EXPECT_EQ(getMovie(m.movie, audio, kQTAudioPropertyID_SummaryASBD, asbd), kQTPropertyNotSupportedErr);

    // Other properties live in the core's store.
    const uint32_t stored = 42;
    ASSERT_EQ(platform::setStoredProperty(
                  m.movie, FOUR_CHAR_CODE("test"), FOUR_CHAR_CODE("valu"), FOUR_CHAR_CODE("ul32"),
                  kComponentPropertyFlagCanGetNow | kComponentPropertyFlagCanSetNow, &stored, 4),
              noErr);
    uint32_t back = 0;
    EXPECT_EQ(getMovie(m.movie, FOUR_CHAR_CODE("test"), FOUR_CHAR_CODE("valu"), back), noErr);
    EXPECT_EQ(back, 42u);
}

TEST(Movies, PlaybackSoundSummaryOfTheSoundTracks) {
    MovieHolder m;
    addVideoTrack(m.movie, 1, 600);
    Track mono = addSoundTrack(m.movie, 22050, 1);
    struct {
        AudioChannelLayout head;
        AudioChannelDescription more;
    } stereo{};
    stereo.head.mChannelLayoutTag = kAudioChannelLayoutTag_UseChannelDescriptions;
    stereo.head.mNumberChannelDescriptions = 2;
    stereo.head.mChannelDescriptions[0].mChannelLabel = 1;
    stereo.more.mChannelLabel = 2;
    addSoundTrack(m.movie, 44100, 2, &stereo.head, sizeof stereo);

    AudioStreamBasicDescription asbd{};
    EXPECT_EQ(getMovie(m.movie, kQTPropertyClass_Audio, kQTAudioPropertyID_SummaryASBD, asbd), noErr);
    EXPECT_EQ(asbd.mSampleRate, 44100.0);
    EXPECT_EQ(asbd.mChannelsPerFrame, 2u);
    EXPECT_EQ(asbd.mFormatID, FOUR_CHAR_CODE("lpcm"));
    EXPECT_TRUE(asbd.mFormatFlags & kAudioFormatFlagIsFloat);
    EXPECT_EQ(asbd.mBitsPerChannel, 32u);
    EXPECT_EQ(setMovie(m.movie, kQTPropertyClass_Audio, kQTAudioPropertyID_SummaryASBD, asbd),
              kQTPropertyReadOnlyErr);

    ByteCount size = 0;
    EXPECT_EQ(QTGetMoviePropertyInfo(m.movie, kQTPropertyClass_Audio, kQTAudioPropertyID_SummaryChannelLayout,
                                     nullptr, &size, nullptr),
              noErr);
    ASSERT_EQ(size, sizeof stereo);
    std::vector<uint8_t> layout(size);
    ByteCount used = 0;
    EXPECT_EQ(QTGetMovieProperty(m.movie, kQTPropertyClass_Audio, kQTAudioPropertyID_SummaryChannelLayout,
                                 size - 1, layout.data(), &used),
              kQTPropertyBadValueSizeErr);
    EXPECT_EQ(QTGetMovieProperty(m.movie, kQTPropertyClass_Audio, kQTAudioPropertyID_SummaryChannelLayout,
                                 size, layout.data(), &used),
              noErr);
    EXPECT_EQ(used, size);
    EXPECT_EQ(std::memcmp(layout.data(), &stereo, sizeof stereo), 0);

    // Track audio properties belong to sound tracks.
    const float balance = 0.5f;
    EXPECT_EQ(QTSetTrackProperty(mono, kQTPropertyClass_Audio, kQTAudioPropertyID_Balance, 4, &balance),
              noErr);
    float back = 0;
    EXPECT_EQ(QTGetTrackProperty(mono, kQTPropertyClass_Audio, kQTAudioPropertyID_Balance, 4, &back, nullptr),
              noErr);
    EXPECT_EQ(back, 0.5f);
    Track video = GetMovieIndTrack(m.movie, 1);
    EXPECT_EQ(
        QTGetTrackProperty(video, kQTPropertyClass_Audio, kQTAudioPropertyID_Balance, 4, &back, nullptr),
        kQTPropertyNotSupportedErr);

    // Only the mono track left: a mono layout.
    DisposeMovieTrack(GetMovieIndTrack(m.movie, 3));
    uint32_t head[3] = {};
    EXPECT_EQ(QTGetMovieProperty(m.movie, kQTPropertyClass_Audio, kQTAudioPropertyID_SummaryChannelLayout,
                                 sizeof head, head, &used),
              noErr);
    EXPECT_EQ(head[0], (100u << 16) | 1);
    EXPECT_EQ(getMovie(m.movie, kQTPropertyClass_Audio, kQTAudioPropertyID_SummaryASBD, asbd), noErr);
    EXPECT_EQ(asbd.mSampleRate, 22050.0);
    EXPECT_EQ(asbd.mChannelsPerFrame, 1u);
}

TEST(Movies, PlaybackApertureModesChangeTrackDimensions) {
    MovieHolder m;
    Track track = addVideoTrack(m.movie, 1, 600);
    const OSType visual = kQTPropertyClass_Visual;
    Boolean has = true;
    EXPECT_EQ(getMovie(m.movie, visual, kQTVisualPropertyID_HasApertureModeDimensions, has), noErr);
    EXPECT_FALSE(has);
    FixedPoint p{};
    EXPECT_EQ(
        QTGetTrackProperty(track, visual, kQTVisualPropertyID_EncodedPixelsDimensions, sizeof p, &p, nullptr),
        kQTPropertyNotSupportedErr);

    EXPECT_EQ(GenerateMovieApertureModeDimensions(m.movie), noErr);
    EXPECT_EQ(getMovie(m.movie, visual, kQTVisualPropertyID_HasApertureModeDimensions, has), noErr);
    EXPECT_TRUE(has);
    EXPECT_EQ(
        QTGetTrackProperty(track, visual, kQTVisualPropertyID_EncodedPixelsDimensions, sizeof p, &p, nullptr),
        noErr);
    EXPECT_EQ(p.x, Long2Fix(16));
    EXPECT_EQ(p.y, Long2Fix(12));
    EXPECT_EQ(QTGetTrackProperty(track, visual, kQTVisualPropertyID_ClassicDimensions, sizeof p, &p, nullptr),
              noErr);
    EXPECT_EQ(p.x, Long2Fix(320));

    OSType mode = 0;
    EXPECT_EQ(getMovie(m.movie, visual, kQTVisualPropertyID_ApertureMode, mode), noErr);
    EXPECT_EQ(mode, kQTApertureMode_Classic);
    EXPECT_EQ(setMovie(m.movie, visual, kQTVisualPropertyID_ApertureMode, kQTApertureMode_EncodedPixels),
              noErr);
    Fixed w = 0, h = 0;
    GetTrackDimensions(track, &w, &h);
    EXPECT_EQ(w, Long2Fix(16));
    EXPECT_EQ(h, Long2Fix(12));
    EXPECT_EQ(setMovie(m.movie, visual, kQTVisualPropertyID_ApertureMode, FOUR_CHAR_CODE("nope")), paramErr);
    // A dimension written with a 4-byte value is refused, not read past it.
    const int32_t four = 0;
    EXPECT_EQ(QTSetTrackProperty(track, visual, kQTVisualPropertyID_CleanApertureDimensions, 4, &four),
              kQTPropertyBadValueSizeErr);
    const FixedPoint clean{Long2Fix(14), Long2Fix(10)};
    EXPECT_EQ(
        QTSetTrackProperty(track, visual, kQTVisualPropertyID_CleanApertureDimensions, sizeof clean, &clean),
        noErr);
    EXPECT_EQ(setMovie(m.movie, visual, kQTVisualPropertyID_ApertureMode, kQTApertureMode_CleanAperture),
              noErr);
    GetTrackDimensions(track, &w, &h);
    EXPECT_EQ(w, Long2Fix(14));
    EXPECT_EQ(setMovie(m.movie, visual, kQTVisualPropertyID_HasApertureModeDimensions, Boolean(false)),
              kQTPropertyReadOnlyErr);

    EXPECT_EQ(RemoveTrackApertureModeDimensions(track), noErr);
    GetTrackDimensions(track, &w, &h);
    EXPECT_EQ(w, Long2Fix(320));
    EXPECT_EQ(h, Long2Fix(240));
    EXPECT_EQ(getMovie(m.movie, visual, kQTVisualPropertyID_HasApertureModeDimensions, has), noErr);
    EXPECT_FALSE(has);
    EXPECT_EQ(GenerateTrackApertureModeDimensions(track), noErr);
    GetTrackDimensions(track, &w, &h); // the movie is in clean aperture mode
    EXPECT_EQ(w, Long2Fix(16));
    EXPECT_EQ(RemoveMovieApertureModeDimensions(m.movie), noErr);
    GetTrackDimensions(track, &w, &h);
    EXPECT_EQ(w, Long2Fix(320));

    Track sound = addSoundTrack(m.movie, 8000, 1);
    EXPECT_EQ(GenerateTrackApertureModeDimensions(sound), invalidMedia);
    EXPECT_EQ(GenerateTrackApertureModeDimensions(nullptr), invalidTrack);
}

// The aperture calls that take their dimensions elsewhere: from a given description, and from
// the media handler of the track's media.
TEST(Movies, PlaybackApertureModesFromAGivenDescriptionAndFromTheHandler) {
    MovieHolder m;
    Track track = addVideoTrack(m.movie, 1, 600);
    const OSType visual = kQTPropertyClass_Visual;
    ASSERT_EQ(setMovie(m.movie, visual, kQTVisualPropertyID_ApertureMode, kQTApertureMode_EncodedPixels),
              noErr);
    Handle h = NewHandleClear(sizeof(ImageDescription));
    auto* d = reinterpret_cast<ImageDescription*>(*h);
    d->idSize = sizeof(ImageDescription);
    d->cType = FOUR_CHAR_CODE("raw ");
    d->width = 40;
    d->height = 30;
    d->depth = 24;
    d->hRes = d->vRes = Long2Fix(72);
    auto desc = reinterpret_cast<SampleDescriptionHandle>(h);
    EXPECT_EQ(SetTrackApertureModeDimensionsUsingSampleDescription(track, desc), noErr);
    EXPECT_EQ(GetMoviesError(), noErr);
    Fixed w = 0, hgt = 0;
    GetTrackDimensions(track, &w, &hgt);
    EXPECT_EQ(w, Long2Fix(40));
    EXPECT_EQ(hgt, Long2Fix(30));
    FixedPoint p{};
    EXPECT_EQ(QTGetTrackProperty(track, visual, kQTVisualPropertyID_ClassicDimensions, sizeof p, &p, nullptr),
              noErr);
    EXPECT_EQ(p.x, Long2Fix(320));

    // The handler's call takes the track's own first description again.
    MediaHandler handler = GetMediaHandler(GetTrackMedia(track));
    ASSERT_NE(handler, nullptr);
    EXPECT_EQ(MediaGenerateApertureModeDimensions(handler), noErr);
    GetTrackDimensions(track, &w, &hgt);
    EXPECT_EQ(w, Long2Fix(16));
    EXPECT_EQ(hgt, Long2Fix(12));

    // A description that says it is longer than its handle, or shorter than a description.
    (**desc).descSize = int32_t(sizeof(ImageDescription)) + 40;
    EXPECT_EQ(SetTrackApertureModeDimensionsUsingSampleDescription(track, desc), invalidSampleDescription);
    (**desc).descSize = 16;
    EXPECT_EQ(SetTrackApertureModeDimensionsUsingSampleDescription(track, desc), invalidSampleDescription);
    EXPECT_EQ(SetTrackApertureModeDimensionsUsingSampleDescription(track, nullptr), paramErr);
    EXPECT_EQ(SetTrackApertureModeDimensionsUsingSampleDescription(nullptr, desc), invalidTrack);
    Track sound = addSoundTrack(m.movie, 8000, 1);
    EXPECT_EQ(SetTrackApertureModeDimensionsUsingSampleDescription(sound, desc), invalidMedia);
    EXPECT_EQ(MediaGenerateApertureModeDimensions(GetMediaHandler(GetTrackMedia(sound))),
              badComponentSelector);
    EXPECT_EQ(MediaGenerateApertureModeDimensions(nullptr), badComponentInstance);
    GetTrackDimensions(track, &w, &hgt);
    EXPECT_EQ(w, Long2Fix(16));
    DisposeHandle(h);
}

TEST(Movies, PlaybackMediaHandlersAnswerForTheirMedia) {
    Media videoMedia = nullptr;
    MediaHandler video = nullptr, sound = nullptr;
    {
        MovieHolder m;
        Track v = addVideoTrack(m.movie, 1, 600);
        Track s = addSoundTrack(m.movie, 8000, 1);
        videoMedia = GetTrackMedia(v);
        video = GetMediaHandler(videoMedia);
        ASSERT_NE(video, nullptr);
        EXPECT_EQ(GetMediaHandler(videoMedia), video); // one handler a media
        sound = GetMediaHandler(GetTrackMedia(s));
        ASSERT_NE(sound, nullptr);
        EXPECT_NE(sound, video);

        ComponentDescription cd{};
        EXPECT_EQ(GetComponentInfo(reinterpret_cast<Component>(video), &cd, nullptr, nullptr, nullptr),
                  noErr);
        EXPECT_EQ(cd.componentType, MediaHandlerType);
        EXPECT_EQ(cd.componentSubType, VideoMediaType);
        EXPECT_TRUE(cd.componentFlags & cmpThreadSafe);

        const struct {
            MediaHandler handler;
            OSType characteristic;
            bool has;
        } cases[] = {
            {video, VisualMediaCharacteristic, true},
            {video, AudioMediaCharacteristic, false},
            {video, kCharacteristicSupportsApertureModes, true},
            {video, kCharacteristicIsMPEG, false},
            {sound, AudioMediaCharacteristic, true},
            {sound, VisualMediaCharacteristic, false},
            {sound, kCharacteristicSupportsApertureModes, false},
            {video, FOUR_CHAR_CODE("skin"), false},
        };
        for (const auto& c : cases) {
            Boolean has = !c.has;
            EXPECT_EQ(MediaHasCharacteristic(c.handler, c.characteristic, &has), noErr);
            EXPECT_EQ(bool(has), c.has) << std::hex << c.characteristic;
        }

        int32_t mode = 0;
        EXPECT_EQ(MediaGetGraphicsMode(sound, &mode, nullptr), badComponentSelector);
        int16_t balance = 1;
        EXPECT_EQ(MediaGetSoundBalance(sound, &balance), noErr);
        EXPECT_EQ(balance, 0);
        EXPECT_EQ(MediaSetSoundBalance(sound, -64), noErr);
        EXPECT_EQ(MediaGetSoundBalance(sound, &balance), noErr);
        EXPECT_EQ(balance, -64);
        EXPECT_EQ(MediaSetSoundBalance(sound, 129), paramErr);
        EXPECT_EQ(MediaGetSoundBalance(video, &balance), badComponentSelector);
        EXPECT_EQ(VideoMediaGetStatistics(sound), badComponentSelector);

        Fixed rate = 0;
        Size size = sizeof rate;
        EXPECT_EQ(MediaGetPublicInfo(video, kMHInfoEncodedFrameRate, &rate, &size), badComponentSelector);
        EXPECT_EQ(size, 0);
        // No DRM: the handler has no protection property.
        Boolean prot = true;
        EXPECT_EQ(
            QTGetComponentProperty(video, FOUR_CHAR_CODE("drm "), FOUR_CHAR_CODE("prot"), 1, &prot, nullptr),
            kQTPropertyNotSupportedErr);

        int32_t hints = -1;
        GetMediaPlayHints(videoMedia, &hints);
        EXPECT_EQ(hints, 0);
        SetMediaPlayHints(videoMedia, hintsHighQuality | hintsSingleField, hintsHighQuality);
        GetMediaPlayHints(videoMedia, &hints);
        EXPECT_EQ(hints, hintsHighQuality);
        SetMediaPlayHints(videoMedia, hintsSingleField, hintsSingleField);
        SetMediaPlayHints(videoMedia, 0, hintsHighQuality);
        GetMediaPlayHints(videoMedia, &hints);
        EXPECT_EQ(hints, hintsSingleField);
    }
    // Gone with their media.
    Boolean has = false;
    EXPECT_EQ(MediaHasCharacteristic(video, VisualMediaCharacteristic, &has), badComponentInstance);
    EXPECT_EQ(VideoMediaGetStatistics(video), badComponentInstance);
    EXPECT_EQ(MediaSetGraphicsMode(sound, 0, nullptr), badComponentInstance);
    int32_t hints = 0;
    GetMediaPlayHints(videoMedia, &hints);
    EXPECT_EQ(GetMoviesError(), invalidMedia);

    // A media type without a handler.
    MovieHolder m;
    Track odd = NewMovieTrack(m.movie, 0, 0, 0);
    Media oddMedia = NewTrackMedia(odd, FOUR_CHAR_CODE("zzzz"), 600, nullptr, 0);
    EXPECT_EQ(GetMediaHandler(oddMedia), nullptr);
    EXPECT_EQ(GetMoviesError(), cantFindHandler);
}

TEST(Movies, PlaybackAudioContextsAreKeptByTheMovie) {
    MovieHolder m;
    QTAudioContextRef context = nullptr;
    CFStringRef uid = CFStringCreateWithCString(nullptr, "device-1", kCFStringEncodingUTF8);
    EXPECT_EQ(QTAudioContextCreateForAudioDevice(nullptr, uid, nullptr, &context), noErr);
    CFRelease(uid);
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(SetMovieAudioContext(m.movie, context), noErr);
    QTAudioContextRelease(context); // the movie keeps its own count
    QTAudioContextRef kept = nullptr;
    EXPECT_EQ(GetMovieAudioContext(m.movie, &kept), noErr);
    EXPECT_EQ(kept, context);
    EXPECT_EQ(QTAudioContextRetain(kept), kept);
    QTAudioContextRelease(kept);

    QTAudioContextRef defaultDevice = nullptr;
    EXPECT_EQ(QTAudioContextCreateForAudioDevice(nullptr, nullptr, nullptr, &defaultDevice), noErr);
    EXPECT_EQ(SetMovieAudioContext(m.movie, defaultDevice), noErr);
    QTAudioContextRelease(defaultDevice);
    EXPECT_EQ(SetMovieAudioContext(nullptr, defaultDevice), invalidMovie);

    // A device named by anything but a string is refused.
    int32_t n = 3;
    CFNumberRef number = CFNumberCreate(nullptr, kCFNumberSInt32Type, &n);
    QTAudioContextRef refused = reinterpret_cast<QTAudioContextRef>(1);
    EXPECT_EQ(
        QTAudioContextCreateForAudioDevice(nullptr, reinterpret_cast<CFStringRef>(number), nullptr, &refused),
        paramErr);
    EXPECT_EQ(refused, nullptr);
    CFRelease(number);
    EXPECT_EQ(SetMovieAudioContext(m.movie, reinterpret_cast<QTAudioContextRef>(&n)), paramErr);
}
