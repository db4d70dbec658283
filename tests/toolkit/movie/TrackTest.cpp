#include "KelvoCoreVideoDataDescriptors.h"
#include "KelvoDataReference.h"
#include "KelvoMedia.h"
#include "KelvoTrack.h"
#include "KelvoVideo.h"
#include "MovieFixtures.h"
#include "PlatformFiles.h"
#include "PlatformMovieModelExtras.h"
#include "PlatformMoviePlayback.h"
#include "PlatformProperties.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>

using namespace moviefixtures;

TEST(Track, WrapsTheMoviesTrackAndReportsMissingOnes) {
    TwoTrackMovie f;
    Kelvo_Track t(f.movie, 1);
    ASSERT_TRUE(t.qtObjIsValid());
    EXPECT_EQ(t.track(), f.video);
    EXPECT_EQ(t.type(), VideoMediaType);
    EXPECT_EQ(t.id(), GetTrackID(f.video));
    EXPECT_EQ(t.parentContainer(), f.movie);
    EXPECT_STREQ(t.qtObjName(), "Kelvo_Track");
    EXPECT_TRUE(t.isA("Kelvo_Container"));

    t.layer(-2);
    EXPECT_EQ(t.layer(), -2);
    t.enabled(false);
    EXPECT_FALSE(t.enabled());
    Kelvo_Rect& bounds = t.qtBounds();
    EXPECT_EQ(bounds.width(), kWidth);
    EXPECT_EQ(bounds.height(), kHeight);

    std::unique_ptr<Kelvo_QTObj> copy(t.clone());
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->qtObjReference(), f.video);

    Kelvo_Track none(nullptr, 1);
    EXPECT_EQ(none.Error(), kKelvoNoMovie);
    Kelvo_Track missing(f.movie, 3);
    EXPECT_FALSE(missing.qtObjIsValid());
    EXPECT_EQ(missing.Error(), kKelvoNoTrack);
    EXPECT_EQ(missing.id(), 0);
    EXPECT_EQ(missing.time(), -1);
    EXPECT_EQ(missing.duration(), -1);
    EXPECT_EQ(missing.samplesCount(nullptr), -1);
    EXPECT_EQ(missing.clone(), nullptr);
}

TEST(Track, TimeStaysWithinTheTrack) {
    TwoTrackMovie f;
    Kelvo_Track t(f.video);
    ASSERT_EQ(InsertEmptyTrackSegment(f.video, 0, 5), noErr); // offset 5, duration 25
    EXPECT_EQ(t.offset(), 5);
    t.time(15);
    EXPECT_EQ(t.Error(), 0);
    EXPECT_EQ(GetMovieTime(f.movie, nullptr), 15);
    EXPECT_EQ(t.time(), 10);
    // One past offset + duration is refused and leaves the movie time alone.
    t.time(5 + 25 + 1);
    EXPECT_EQ(t.Error(), paramErr);
    EXPECT_EQ(GetMovieTime(f.movie, nullptr), 15);
    EXPECT_EQ(t.timeScale(), 600);

    Kelvo_TimeRange64 info;
    t.timeInfo(info);
    EXPECT_EQ(info.start(), 10);
    EXPECT_EQ(info.duration(), 15);
    EXPECT_EQ(info.scale(), 600);
}

TEST(Track, CountsAndFindsSampleTimes) {
    TwoTrackMovie f;
    Kelvo_Track t(f.video);
    // Samples at 0 and 10, duration 20.
    EXPECT_EQ(t.samplesCount(nullptr), 2);
    struct Case {
        int32_t start, duration, count;
    } cases[] = {{0, 20, 2}, {0, 9, 1}, {5, 15, 1}, {10, 10, 0}, {11, 9, 0}, {30, 1, 0}};
    for (const Case& c : cases) {
        Kelvo_TimeRange r(c.start, c.duration);
        EXPECT_EQ(t.samplesCount(&r), c.count) << c.start << "+" << c.duration;
    }
    Kelvo_TimeRange negative(-1, 5);
    EXPECT_EQ(t.samplesCount(&negative), -1);

    Kelvo_TimeRange64 info;
    t.sampleTimeInfoForTime(15, info);
    EXPECT_EQ(t.Error(), 0);
    EXPECT_EQ(info.start(), 10);
    EXPECT_EQ(info.duration(), 10);
    t.sampleTimeInfoForTime(-1, info);
    EXPECT_EQ(t.Error(), kKelvoNegativeTime);
    EXPECT_EQ(info.start(), -1.0);
    EXPECT_EQ(info.duration(), -1.0);
}

TEST(Track, DurationScalesAndSegmentsEdit) {
    TwoTrackMovie f;
    Kelvo_Track t(f.video);
    t.duration(nullptr, 0);
    EXPECT_EQ(t.Error(), paramErr);
    t.duration(nullptr, 40);
    EXPECT_EQ(t.Error(), 0);
    EXPECT_EQ(t.duration(), 40);
    Kelvo_TimeRange gap(0, 10);
    t.qtAddEmptySegment(&gap);
    EXPECT_EQ(t.duration(), 50);
    EXPECT_EQ(t.offset(), 10);
    t.qtDeleteSegment(&gap);
    EXPECT_EQ(t.duration(), 40);
    t.qtAddEmptySegment(nullptr);
    EXPECT_EQ(t.Error(), paramErr);

    // The track appended to itself, and a source of another media type refused.
    Kelvo_Track same(f.video);
    t.addTrackSegment(&same, nullptr, -1, true);
    EXPECT_EQ(t.Error(), 0);
    EXPECT_EQ(t.duration(), 80);
    Kelvo_Track sound(f.sound);
    t.addTrackSegment(&sound, nullptr, 0, false);
    EXPECT_EQ(t.Error(), kKelvoNoTrack);
    EXPECT_EQ(t.duration(), 80);
}

TEST(Track, UsageChangesOnlyWhenItDiffers) {
    TwoTrackMovie f;
    Kelvo_Track t(f.video);
    EXPECT_TRUE(t.useInMovie());
    t.trackUsageEnabled(2, false);
    EXPECT_FALSE(t.useInMovie());
    // Already out of the movie: switching it off again changes nothing.
    t.trackUsageEnabled(2, false);
    EXPECT_FALSE(t.useInMovie());
    EXPECT_TRUE(t.useInPreview());
    EXPECT_TRUE(t.useInPoster());
    t.useInPoster(false);
    EXPECT_EQ(GetTrackUsage(f.video), 4);
}

TEST(Track, NameIsAUserDataItem) {
    TwoTrackMovie f;
    Kelvo_Track t(f.video);
    char* text = reinterpret_cast<char*>(1);
    t.name(&text, 0);
    EXPECT_EQ(text, nullptr);
    EXPECT_NE(t.Error(), 0);

    char name[] = "Frames";
    text = name;
    t.name(&text, 1);
    EXPECT_EQ(t.Error(), 0);
    text = name;
    t.name(&text, 1); // replaces rather than adds
    EXPECT_EQ(CountUserDataType(GetTrackUserData(f.video), FOUR_CHAR_CODE("name")), 1);
    char* read = nullptr;
    t.name(&read, 0);
    ASSERT_NE(read, nullptr);
    EXPECT_STREQ(read, "Frames");
    std::free(read);

    t.name(nullptr, 0);
    EXPECT_EQ(t.Error(), memFullErr);
    Kelvo_Track none;
    none.name(&read, 0);
    EXPECT_EQ(none.Error(), memFullErr);
}

TEST(Track, ReferencesAndAlternateGroups) {
    TwoTrackMovie f;
    Track chapters = addTrack(f.movie, TextMediaType, {20});
    Kelvo_Track video(f.video), sound(f.sound), text(chapters);
    Kelvo_OSType chap(FOUR_CHAR_CODE("chap")), sync(FOUR_CHAR_CODE("sync"));
    EXPECT_EQ(video.addTrackReference(&text, &chap), 1);
    EXPECT_EQ(video.addTrackReference(&sound, &chap), 2);
    EXPECT_EQ(video.addTrackReference(&sound, &sync), 1);
    EXPECT_EQ(video.addTrackReference(&sound, nullptr), -1);
    EXPECT_EQ(video.countTrackReference(&chap), 2);
    EXPECT_EQ(video.countTrackReference(nullptr), 3);

    std::unique_ptr<Kelvo_QTObjectsList> types(video.listOfTrackReferenceTypes());
    ASSERT_NE(types, nullptr);
    EXPECT_EQ(types->count(), 2);
    std::unique_ptr<Kelvo_QTObjectsList> refs(video.listOfTrackReference(&chap));
    ASSERT_NE(refs, nullptr);
    ASSERT_EQ(refs->count(), 2);
    EXPECT_EQ(refs->getObjValueByRef(0)->qtObjReference(), chapters);
    EXPECT_EQ(video.listOfTrackReference(nullptr), nullptr);
    EXPECT_EQ(video.Error(), paramErr);

    EXPECT_TRUE(video.removeTrackReference(&chap, 1));
    EXPECT_FALSE(video.removeTrackReference(&chap, 5));
    EXPECT_TRUE(video.removeAllTrackReference(&sync));
    EXPECT_EQ(video.countTrackReference(nullptr), 1);

    // A group of two: the chain from the video track ends with it.
    Kelvo_Track other(addTrack(f.movie, VideoMediaType, {20}));
    video.addToAlternateGroup(&other);
    EXPECT_EQ(video.Error(), 0);
    std::unique_ptr<Kelvo_QTObjectsList> group(video.alternateGroup());
    ASSERT_NE(group, nullptr);
    ASSERT_EQ(group->count(), 2);
    EXPECT_EQ(group->getObjValueByRef(0)->qtObjReference(), other.track());
    EXPECT_EQ(group->getObjValueByRef(1)->qtObjReference(), f.video);
    video.removeFromAlternateGroup();
    group.reset(video.alternateGroup());
    EXPECT_EQ(group->count(), 1);
}

TEST(Track, EditStatesRestoreTheTracksEdits) {
    TwoTrackMovie f;
    {
        Kelvo_Track t(f.video);
        char name[] = "before";
        ASSERT_TRUE(t.qtAddState(name));
        Kelvo_TimeRange part(0, 10);
        t.qtDeleteSegment(&part);
        EXPECT_EQ(t.duration(), 10);
        EXPECT_EQ(t.qtUseState(0), 0);
        EXPECT_EQ(t.duration(), 20);
        EXPECT_EQ(t.stateCount(), 1);
        // The state's snapshot goes with the wrapper (the sanitizer build sees a leak otherwise).
    }
    Kelvo_Track none;
    char name[] = "x";
    EXPECT_FALSE(none.qtAddState(name));
}

TEST(Track, DataOffsetIsTheSampleShownAtTheStart) {
    TwoTrackMovie f;
    Kelvo_Track t(f.video);
    EXPECT_EQ(t.dataOffset(), 0);
    // Showing from media time 10 on: the second sample's bytes follow the first's four.
    ASSERT_EQ(DeleteTrackSegment(f.video, 0, 10), noErr);
    EXPECT_EQ(t.dataOffset(), 4);
    Kelvo_Track none;
    EXPECT_EQ(none.dataOffset(), -1);
    EXPECT_EQ(none.Error(), kKelvoNoTrack);
}

// Frames of a track: the picture of its sample at a time.
TEST(Track, FramesSizesAndLoading) {
    Movie movie = NewMovie(0);
    Track video = addTrack(movie, VideoMediaType, {10, 10}, size_t(kWidth) * kHeight * 4);
    Kelvo_Track t(video);
    Kelvo_QDGWorldBuffer* out = reinterpret_cast<Kelvo_QDGWorldBuffer*>(1);
    t.frameAtTime(out, -1, nullptr);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(t.Error(), paramErr);
    t.frameAtTime(out, 5, nullptr);
    std::unique_ptr<Kelvo_QDGWorldBuffer> first(out);
    ASSERT_NE(out, nullptr) << t.Error();
    EXPECT_EQ(out->width(), kWidth);
    EXPECT_EQ(out->height(), kHeight);
    EXPECT_EQ(reinterpret_cast<const uint8_t*>(out->baseAddress())[1], 1);
    // The frame at the movie's time (the track's offset is not taken off).
    ASSERT_EQ(InsertEmptyTrackSegment(video, 0, 10), noErr);
    SetMovieTimeValue(movie, 12);
    t.frame(out, nullptr);
    std::unique_ptr<Kelvo_QDGWorldBuffer> current(out);
    ASSERT_NE(out, nullptr) << t.Error();
    EXPECT_EQ(reinterpret_cast<const uint8_t*>(out->baseAddress())[2], 1);
    t.thumbnail(out);
    std::unique_ptr<Kelvo_QDGWorldBuffer> thumb(out);
    ASSERT_NE(out, nullptr) << t.Error();
    EXPECT_EQ(out->width(), 100);
    EXPECT_EQ(out->height(), 100);

    const double frameBytes = double(kWidth) * kHeight * 4;
    EXPECT_EQ(t.sizeOfSelection(nullptr), 2 * frameBytes);
    EXPECT_EQ(t.Error(), 0);
    Kelvo_TimeRange second(20, 10);
    EXPECT_EQ(t.sizeOfSelection(&second), frameBytes);
    EXPECT_EQ(t.qtLoadInRAM(&second, 0), 0);
    EXPECT_EQ(t.qtLoadInRAM(nullptr, 0), 0);
    Kelvo_TimeRange empty(0, 0);
    EXPECT_EQ(t.qtLoadInRAM(&empty, 0), paramErr);
    EXPECT_TRUE(t.isDRMAuthorized(false));
    Kelvo_Track none;
    EXPECT_EQ(none.qtLoadInRAM(nullptr, 0), kKelvoNoTrack);
    DisposeMovie(movie);
}

// Aperture modes of a video track, and the dimensions written back whole.
TEST(Track, ApertureModesAndDimensions) {
    TwoTrackMovie f;
    Kelvo_Track t(f.video);
    EXPECT_FALSE(t.hasApertureModes());
    t.generateApertureModes();
    EXPECT_EQ(t.Error(), 0);
    EXPECT_TRUE(t.hasApertureModes());
    std::unique_ptr<Kelvo_ApertureModesDimensions> d(t.getApertureDimensions());
    ASSERT_NE(d, nullptr) << t.Error();
    EXPECT_EQ(d->encoded().x, Long2Fix(kWidth));
    EXPECT_EQ(d->encoded().y, Long2Fix(kHeight));

    // New clean and production dimensions reach the track as full FixedPoint values.
    d->cleanDimensions(Kelvo_Rect(kWidth - 2, kHeight - 2));
    d->productionDimensions(Kelvo_Rect(kWidth * 2, kHeight));
    t.setApertureDimensions(d.get());
    EXPECT_EQ(t.Error(), 0);
    struct Case {
        OSType id;
        int32_t width, height;
    } cases[] = {{kQTVisualPropertyID_CleanApertureDimensions, kWidth - 2, kHeight - 2},
                 {kQTVisualPropertyID_ProductionApertureDimensions, kWidth * 2, kHeight},
                 {kQTVisualPropertyID_EncodedPixelsDimensions, kWidth, kHeight}};
    for (const Case& c : cases) {
        FixedPoint value{0, 0};
        ByteCount used = 0;
        EXPECT_EQ(QTGetTrackProperty(f.video, kQTPropertyClass_Visual, c.id, sizeof value, &value, &used),
                  noErr);
        EXPECT_EQ(used, sizeof(FixedPoint));
        EXPECT_EQ(value.x, Long2Fix(c.width));
        EXPECT_EQ(value.y, Long2Fix(c.height));
    }
    std::unique_ptr<Kelvo_ApertureModesDimensions> again(t.getApertureDimensions());
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->clean().x, Long2Fix(kWidth - 2));

    t.removeApertureModes();
    EXPECT_EQ(t.Error(), 0);
    EXPECT_FALSE(t.hasApertureModes());
    t.setApertureDimensions(nullptr);
    EXPECT_EQ(t.Error(), paramErr);
    // A sound track has none.
    Kelvo_Track sound(f.sound);
    EXPECT_EQ(sound.getApertureDimensions(), nullptr);
    EXPECT_EQ(sound.Error(), kKelvoNothingToWorkOn);
    sound.setApertureDimensions(d.get());
    EXPECT_EQ(sound.Error(), kKelvoNothingToWorkOn);
}

TEST(Track, ExportsOnlyItself) {
    TwoTrackMovie f;
    Kelvo_Track t(f.video);
    Kelvo_DataReference memory(true);
    Kelvo_OSType mov(FOUR_CHAR_CODE("MooV"));
    t.exportData(memory, mov, false);
    EXPECT_EQ(t.Error(), kKelvoMediaMissing);
    if (!haveMoviePeers()) GTEST_SKIP() << "ffmpeg or ffprobe missing";
    testsupport::ScratchDir dir("ktrackexport");
    const std::string file = dir.file("video.mov");
    FSSpec spec{};
    FSPathMakeFSSpec(file.c_str(), &spec);
    Kelvo_DataReference ref(&spec);
    t.exportData(ref, mov, false);
    ASSERT_EQ(t.Error(), 0);
    const std::string streams =
        testsupport::run("ffprobe -v error -show_entries stream=codec_type -of csv=p=0 '" + file + "'");
    EXPECT_EQ(streams, "video\n");
}
