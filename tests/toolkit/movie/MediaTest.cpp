#include "KelvoCoreObjectsDescriptors.h"
#include "KelvoMedia.h"
#include "KelvoUserData.h"
#include "MovieFixtures.h"
#include "KelvoMovie.h"
#include "KelvoTrack.h"
#include "KelvoVideo.h"
#include "KelvoCoreVideoDataDescriptors.h"
#include "KelvoGraphicsMode.h"
#include "PlatformClock.h"
#include "PlatformGWorlds.h"
#include "PlatformMovieModelExtras.h"
#include "PlatformMoviePlayback.h"

#include <gtest/gtest.h>

#include <memory>

using namespace moviefixtures;

TEST(Media, WrapsTheTracksMediaOfTheRequiredType) {
    TwoTrackMovie f;
    Kelvo_Media m(f.video);
    ASSERT_TRUE(m.qtObjIsValid());
    EXPECT_EQ(m.media(), GetTrackMedia(f.video));
    EXPECT_EQ(m.type(), VideoMediaType);
    EXPECT_EQ(m.timeScale(), 600);
    EXPECT_EQ(m.duration(), 20);
    EXPECT_EQ(m.parentContainer(), f.video);
    EXPECT_EQ(m.samplesDescCount(), 1);
    EXPECT_TRUE(m.isA("Kelvo_Media"));
    EXPECT_TRUE(m.isA("Kelvo_Container"));

    Kelvo_Media wrongType(f.video, SoundMediaType);
    EXPECT_FALSE(wrongType.qtObjIsValid());
    EXPECT_EQ(wrongType.Error(), kKelvoNoTrack);
    Kelvo_Media rightType(f.sound, SoundMediaType);
    EXPECT_TRUE(rightType.qtObjIsValid());

    Kelvo_Media none(static_cast<Media>(nullptr));
    EXPECT_EQ(none.Error(), kKelvoNoMedia);
    Kelvo_Media noTrack(static_cast<Track>(nullptr));
    EXPECT_EQ(noTrack.Error(), kKelvoNoTrack);
    EXPECT_EQ(none.clone(), nullptr);
    EXPECT_EQ(none.qtLanguage(), -1);
    EXPECT_EQ(none.Error(), kKelvoNoMedia);
}

TEST(Media, SampleReferencesAreBuiltOnceFromTheSampleTable) {
    TwoTrackMovie f;
    Kelvo_Media m(f.video);
    EXPECT_EQ(m.samplesCount(), 2); // without building
    EXPECT_EQ(m.sampleReferencesCount(), 2);
    Kelvo_SampleReference* second = m.sampleReference(1);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->offset(), 4);
    EXPECT_EQ(second->size(), 4);
    EXPECT_EQ(second->count(), 1);
    EXPECT_EQ(second->sampleDuration(), 10);
    EXPECT_EQ(second->samplesRange().start(), 10);
    EXPECT_EQ(second->samplesRange().duration(), 10);
    EXPECT_EQ(second->samplesRange().scale(), 600);
    EXPECT_FALSE(second->isKeyFrame());
    EXPECT_TRUE(m.sampleReference(0)->isKeyFrame());
    EXPECT_EQ(second->indexOfSampleDescriptor(), 1);
    // The same entry every time: the table is kept.
    EXPECT_EQ(m.sampleReference(1), second);

    for (double bad : {2.0, -0.5}) {
        EXPECT_EQ(m.sampleReference(bad), nullptr);
        EXPECT_EQ(m.Error(), paramErr);
    }

    // A copy has a table of its own.
    Kelvo_Media copy(m);
    ASSERT_NE(copy.sampleReference(1), nullptr);
    EXPECT_NE(copy.sampleReference(1), second);
    EXPECT_EQ(copy.sampleReference(1)->offset(), 4);
}

// A sound of a million frames is one run: any sample's reference is made when asked for, with
// the fields it would have in a table of one entry per sample, and a change made to one entry
// stays with it and goes with copies.
TEST(Media, SampleReferencesOfALongSoundAreMadeWhenAskedFor) {
    Movie movie = NewMovie(0);
    const int32_t frames = 1000000;
    Track track = addSoundTrack(movie, frames);
    Kelvo_Media m(track);
    EXPECT_EQ(m.sampleReferencesCount(), frames);
    Kelvo_SampleReference* last = m.sampleReference(frames - 1);
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->offset(), 4.0 * (frames - 1));
    EXPECT_EQ(last->size(), 4);
    EXPECT_EQ(last->count(), 1);
    EXPECT_EQ(last->samplesRange().start(), frames - 1);
    EXPECT_EQ(last->samplesRange().duration(), 1);
    EXPECT_EQ(last->samplesRange().scale(), 8000);
    EXPECT_TRUE(last->isKeyFrame());
    EXPECT_EQ(m.sampleReference(frames), nullptr);
    EXPECT_EQ(m.Error(), paramErr);

    last->offset() = 7;
    Kelvo_Media copy(m);
    EXPECT_EQ(copy.sampleReference(frames - 1)->offset(), 7);
    EXPECT_EQ(copy.sampleReference(500000)->offset(), 2000000);

    // The last unit of the movie (scale 600) shows the last 13 or 14 frames (scale 8000).
    Kelvo_TimeRange64 range(frames * 600.0 / 8000 - 1, 1);
    std::unique_ptr<Kelvo_QTObjectsList> list(m.listOfSampleReferences(&range));
    ASSERT_NE(list, nullptr);
    const int32_t n = list->count();
    ASSERT_TRUE(n == 13 || n == 14) << n;
    EXPECT_EQ(static_cast<Kelvo_SampleReference*>(list->getObjValueByRef(0))->offset(), 4.0 * (frames - n));
    EXPECT_EQ(static_cast<Kelvo_SampleReference*>(list->getObjValueByRef(n - 1))->offset(), 7);

    Kelvo_Track t(track);
    EXPECT_EQ(t.dataOffset(), 0);
    DisposeMovie(movie);
}

TEST(Media, ListsTheSampleReferencesOfARange) {
    TwoTrackMovie f;
    Kelvo_Media m(f.video);
    struct Case {
        double start, duration;
        int32_t count;
        double firstOffset;
    } cases[] = {{0, 20, 2, 0}, {0, 10, 1, 0}, {10, 10, 1, 4}, {5, 10, 2, 0}, {12, 2, 1, 4}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.start);
        Kelvo_TimeRange64 range(c.start, c.duration);
        std::unique_ptr<Kelvo_QTObjectsList> list(m.listOfSampleReferences(&range));
        ASSERT_NE(list, nullptr);
        ASSERT_EQ(list->count(), c.count);
        EXPECT_EQ(static_cast<Kelvo_SampleReference*>(list->getObjValueByRef(0))->offset(), c.firstOffset);
    }
    std::unique_ptr<Kelvo_QTObjectsList> all(m.listOfSampleReferences(nullptr));
    EXPECT_EQ(all->count(), 2);
}

TEST(Media, SampleReferenceWritesItsRunIntoASampleTable) {
    Kelvo_SampleReference r;
    EXPECT_TRUE(r.qtObjIsValid());
    r.offset() = 100;
    r.size() = 30;
    r.count(3);
    int32_t d = 20;
    r.sampleDuration(d);
    EXPECT_EQ(r.sampleSize(), 10);
    EXPECT_EQ(r.samplesRange().duration(), 60);
    bool key = false;
    r.isKeyFrame(key);
    EXPECT_EQ(r.characteristics(), 1);

    QTMutableSampleTableRef table = nullptr;
    ASSERT_EQ(QTSampleTableCreateMutable(nullptr, 600, nullptr, &table), noErr);
    EXPECT_FALSE(r.toQTNativeRecord(nullptr, 1));
    EXPECT_EQ(r.Error(), paramErr);
    EXPECT_TRUE(r.toQTNativeRecord(table, 1));
    EXPECT_EQ(QTSampleTableGetNumberOfSamples(table), 3);
    EXPECT_EQ(QTSampleTableGetDataOffset(table, 3), 120);
    EXPECT_EQ(QTSampleTableGetDecodeDuration(table, 2), 20);
    EXPECT_EQ(QTSampleTableGetSampleFlags(table, 1), 1u);

    // A reset reference has no samples: it is invalid and writes nothing.
    r.reset();
    EXPECT_FALSE(r.qtObjIsValid());
    EXPECT_FALSE(r.toQTNativeRecord(table, 1));
    EXPECT_EQ(QTSampleTableGetNumberOfSamples(table), 3);
    QTSampleTableRelease(table);

    Kelvo_SampleReference copy;
    copy = r;
    EXPECT_FALSE(copy.qtObjIsValid());
}

TEST(Media, QualityTakesOnlyTheFourLevels) {
    TwoTrackMovie f;
    Kelvo_Media m(f.video);
    EXPECT_EQ(m.quality(), -1);
    m.quality(32);
    EXPECT_EQ(m.Error(), paramErr);
    m.quality(0);
    EXPECT_EQ(m.Error(), 0);
    EXPECT_EQ(GetMediaQuality(m.media()), 0);
    m.quality(64);
    EXPECT_EQ(m.quality(), 64);
    m.quality(128);
    EXPECT_EQ(m.quality(), 192);
    Kelvo_Media none;
    EXPECT_EQ(none.quality(), -1);
    EXPECT_EQ(none.Error(), kKelvoBadArgumentObject);
    none.quality(64);
    EXPECT_EQ(none.Error(), kKelvoBadArgumentObject);
}

TEST(Media, TimesConvertFromTheTrack) {
    TwoTrackMovie f;
    ASSERT_EQ(InsertEmptyTrackSegment(f.video, 0, 5), noErr); // media time = track time - 5
    Kelvo_Media m(f.video);
    EXPECT_EQ(m.timeToMediaTime(12.0), 7.0);
    EXPECT_EQ(m.timeToMediaTime(2.0), -1.0);
    SetMovieTimeValue(f.movie, 15);
    EXPECT_EQ(m.time(), 10);

    Kelvo_TimeRange64 out;
    Kelvo_TimeRange64 in(10, 100); // ends past the media
    m.timeRangeToMediaTimeRange(&out, &in);
    EXPECT_EQ(out.start(), 5);
    EXPECT_EQ(out.duration(), 15); // clipped to the media's end
    EXPECT_EQ(out.scale(), 600);
    Kelvo_TimeRange64 inside(10, 5);
    m.timeRangeToMediaTimeRange(&out, &inside);
    EXPECT_EQ(out.duration(), 5);
    m.timeRangeToMediaTimeRange(nullptr, &in);
    EXPECT_EQ(m.Error(), paramErr);
    Kelvo_TimeRange64 before(0, 3);
    m.timeRangeToMediaTimeRange(&out, &before);
    EXPECT_EQ(out.start(), -1.0);

    m.sampleTimeInfoForTime(20, out);
    EXPECT_EQ(m.Error(), 0);
    EXPECT_EQ(out.start(), 10);
    EXPECT_EQ(out.duration(), 10);
    m.sampleTimeInfoForTime(1, out);
    EXPECT_EQ(out.start(), -1.0);

    EXPECT_EQ(m.timeToSampleNum(12), 2);
    EXPECT_EQ(m.timeToSampleNum(99), 0);
    EXPECT_NE(m.Error(), 0);
}

TEST(Media, DescriptionsAndDataReferences) {
    TwoTrackMovie f;
    Kelvo_Media m(f.video);
    std::unique_ptr<Kelvo_QTObjectsList> descs(m.listOfSampleDescriptors());
    ASSERT_NE(descs, nullptr);
    EXPECT_EQ(descs->count(), 1);
    std::unique_ptr<Kelvo_SmpDescriptor> bad(m.sampleDescriptor(2));
    EXPECT_EQ(bad, nullptr);
    EXPECT_NE(m.Error(), 0);
    EXPECT_EQ(m.dataRefCount(), 0);
    std::unique_ptr<Kelvo_QTObjectsList> refs(m.listOfDataReferences());
    EXPECT_EQ(refs->count(), 0);
}

TEST(Media, VideoMediaOfVisualTracksOnly) {
    TwoTrackMovie f;
    Kelvo_MediaVideo v(f.video);
    ASSERT_TRUE(v.qtObjIsValid()) << v.Error();
    EXPECT_STREQ(v.qtObjName(), "Kelvo_MediaVideo");
    EXPECT_FALSE(v.isMPEG());
    // Two samples over 20 units of 600 a second.
    EXPECT_DOUBLE_EQ(v.staticFrameRate(), 60.0);
    std::unique_ptr<Kelvo_QTObj> copy(v.clone());
    ASSERT_NE(copy, nullptr);
    EXPECT_STREQ(copy->qtObjName(), "Kelvo_MediaVideo");
    std::unique_ptr<Kelvo_SmpDescriptor> desc(v.sampleDescriptor(1));
    ASSERT_NE(desc, nullptr);
    EXPECT_TRUE(desc->isA("Kelvo_ImgDesc"));

    // Safe on another thread when its handler and the decompressor of every description are.
    EXPECT_TRUE(v.isThreadSafe());
    Track unknownCodec = addTrack(f.movie, VideoMediaType, {20});
    SampleDescriptionHandle other = rawDescription();
    reinterpret_cast<ImageDescription*>(*other)->cType = FOUR_CHAR_CODE("zzzz");
    ASSERT_EQ(SetMediaSampleDescription(GetTrackMedia(unknownCodec), 1, other), noErr);
    DisposeHandle(reinterpret_cast<Handle>(other));
    Kelvo_MediaVideo undecodable(unknownCodec);
    ASSERT_TRUE(undecodable.qtObjIsValid());
    EXPECT_TRUE(Kelvo_Media(unknownCodec).isThreadSafe());
    EXPECT_FALSE(undecodable.isThreadSafe());

    Track text = addTrack(f.movie, TextMediaType, {20});
    for (Track t : {text, f.sound}) {
        Kelvo_MediaVideo other(t);
        EXPECT_FALSE(other.qtObjIsValid());
        EXPECT_EQ(other.Error(), kKelvoNoTrack);
        EXPECT_EQ(other.staticFrameRate(), 0);
    }
}

// The frame rate measured over the frames drawn, in frames a second.
TEST(Media, PlayBackRateCountsTheFramesDrawn) {
    platform::ManualClock clock(1000);
    platform::ScopedSystemClock scoped(clock);
    Movie movie = NewMovie(0);
    Track video = addTrack(movie, VideoMediaType, {60, 60, 60, 60}, size_t(kWidth) * kHeight * 4);
    Kelvo_MediaVideo v(video);
    ASSERT_TRUE(v.qtObjIsValid());
    EXPECT_EQ(v.playBackRate(), 0); // nothing drawn yet
    EXPECT_EQ(v.Error(), 0);
    GWorldPtr world = nullptr;
    Rect r{0, 0, kHeight, kWidth};
    ASSERT_EQ(QTNewGWorld(&world, k32ARGBPixelFormat, &r, nullptr, nullptr, 0), noErr);
    SetMovieGWorld(movie, world, nullptr);
    // Four frames, a tenth of a second apart: 10 frames a second.
    for (int k = 0; k < 4; ++k) {
        SetMovieTimeValue(movie, 60 * k);
        MoviesTask(movie, 0);
        clock.advance(0.1);
    }
    EXPECT_NEAR(v.playBackRate(), 10.0, 0.01);
    EXPECT_EQ(v.playBackRate(), 0); // the statistics were reset
    v.resetPlayBackRate();
    EXPECT_EQ(v.Error(), 0);
    SetMovieGWorld(movie, nullptr, nullptr);
    DisposeGWorld(world);
    DisposeMovie(movie);
}

// The media handler's answers: characteristics, graphics mode, sound balance, play hints.
TEST(Media, HandlerQuestions) {
    TwoTrackMovie f;
    Kelvo_Media m(f.video);
    ASSERT_NE(m.mediaHandler(), nullptr);
    EXPECT_TRUE(m.HasCharacteristic(VisualMediaCharacteristic));
    EXPECT_EQ(m.Error(), 0);
    EXPECT_TRUE(m.qtHasVideo());
    EXPECT_FALSE(m.qtHasSound());
    EXPECT_TRUE(m.hasApertureModes());
    EXPECT_TRUE(m.isThreadSafe());
    EXPECT_TRUE(m.isDRMAuthorized(false));

    // The graphics mode and its colour are kept apart.
    EXPECT_EQ(m.graphicsMode(), ditherCopy);
    m.graphicsMode(srcCopy);
    EXPECT_EQ(m.Error(), 0);
    EXPECT_EQ(m.graphicsMode(), srcCopy);
    RGBColor red{0xFFFF, 0, 0};
    m.graphicsColor(red);
    EXPECT_EQ(m.graphicsColor().red, 0xFFFF);
    EXPECT_EQ(m.graphicsMode(), srcCopy);
    std::unique_ptr<Kelvo_GraphicsMode> mode(m.drawingMode());
    ASSERT_NE(mode, nullptr);
    EXPECT_EQ(mode->mode(), srcCopy);

    // Play hints: high quality and single field, as hints of the media and through the track.
    EXPECT_FALSE(m.highQualityEnabled());
    m.highQualityEnabled(true);
    EXPECT_TRUE(m.playHintsEnabled(hintsHighQuality));
    EXPECT_TRUE(Kelvo_Track(f.video).highQualityEnabled());
    m.singleFieldEnabled(true);
    EXPECT_TRUE(m.singleFieldEnabled());
    m.highQualityEnabled(false);
    EXPECT_FALSE(m.highQualityEnabled());
    EXPECT_TRUE(m.singleFieldEnabled());
    Kelvo_Movie movie(f.movie, false);
    EXPECT_TRUE(movie.singleFieldEnabled());
    movie.highQualityEnabled(true);
    EXPECT_TRUE(m.highQualityEnabled());

    // Sound media answer their balance; video media do not.
    EXPECT_EQ(m.qtSndVolume(), 0);
    EXPECT_EQ(m.Error(), kKelvoNoMedia);
    Kelvo_Media sound(f.sound);
    ASSERT_NE(sound.mediaHandler(), nullptr);
    EXPECT_TRUE(sound.qtHasSound());
    sound.qtSndVolume(-64);
    EXPECT_EQ(sound.Error(), 0);
    EXPECT_EQ(sound.qtSndVolume(), -64);
    EXPECT_EQ(sound.graphicsMode(), 0);
    EXPECT_EQ(sound.Error(), kKelvoNoMedia);

    Kelvo_Media none;
    EXPECT_FALSE(none.HasCharacteristic(VisualMediaCharacteristic));
    EXPECT_EQ(none.Error(), kKelvoNoMedia);
    EXPECT_FALSE(none.isThreadSafe());
    EXPECT_FALSE(none.playHintsEnabled(hintsHighQuality));
    EXPECT_EQ(none.Error(), kKelvoNoMedia);
}

TEST(Media, LanguageUserDataAndSegments) {
    TwoTrackMovie f;
    Kelvo_Media m(f.video);
    m.qtLanguage(3);
    EXPECT_EQ(m.qtLanguage(), 3);
    std::unique_ptr<Kelvo_UDataList> ud(m.qtUDataList());
    ASSERT_NE(ud, nullptr);
    EXPECT_TRUE(ud->qtObjIsValid());
    Kelvo_TimeRange gap(0, 5);
    m.qtAddEmptySegment(&gap);
    EXPECT_EQ(m.Error(), 0);
    EXPECT_EQ(GetTrackDuration(f.video), 25);
    m.qtDeleteSegment(&gap);
    EXPECT_EQ(GetTrackDuration(f.video), 20);
    m.qtAddEmptySegment(nullptr);
    EXPECT_EQ(m.Error(), paramErr);
    EXPECT_TRUE(m.enabled());
    m.enabled(false);
    EXPECT_FALSE(GetTrackEnabled(f.video));
    EXPECT_GT(m.qtCreationTime(), 0u);
    EXPECT_EQ(m.qtNaturalBounds().width(), 0);
    EXPECT_EQ(m.qtBounds().width(), kWidth);
}
