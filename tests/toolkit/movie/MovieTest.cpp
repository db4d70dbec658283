#include "KelvoCoreComponents.h"
#include "KelvoDataReference.h"
#include "KelvoMovie.h"
#include "KelvoVideo.h"
#include "MovieFixtures.h"
#include "PlatformComponents.h"
#include "PlatformFiles.h"
#include "PlatformClock.h"
#include "PlatformGWorlds.h"
#include "PlatformMovieControllers.h"
#include "PlatformMovieFiles.h"
#include "PlatformMoviePlayback.h"
#include "KelvoAudio.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>

using namespace moviefixtures;
using testsupport::ScratchDir;

namespace {

bool haveFFprobe() {
    int status = -1;
    testsupport::run("ffprobe -version >/dev/null 2>&1", &status);
    return status == 0;
}

} // namespace

TEST(Movie, AdoptsOrBorrowsPlatformMovies) {
    TwoTrackMovie f;
    {
        Kelvo_Movie m(f.movie, false);
        ASSERT_TRUE(m.qtObjIsValid());
        EXPECT_FALSE(m.ownsMovie());
        EXPECT_EQ(m.movie(), f.movie);
        EXPECT_STREQ(m.qtObjName(), "Kelvo_Movie");
    }
    // A borrowed movie outlives its wrapper.
    EXPECT_EQ(GetMovieTrackCount(f.movie), 2);
    EXPECT_EQ(GetMoviesError(), noErr);

    // Opening another movie in an object releases the one it owned (the sanitizer build sees a
    // leak otherwise).
    Kelvo_DataReference memory(true);
    Kelvo_Movie owned(NewMovie(0), nullptr, memory);
    EXPECT_TRUE(owned.ownsMovie());
    Kelvo_DataReference invalidRef;
    owned.setMovieWithDataRef(&invalidRef, false);
    EXPECT_FALSE(owned.qtObjIsValid());

    Kelvo_Movie none(static_cast<Movie>(nullptr), false);
    EXPECT_EQ(none.Error(), kKelvoNothingToWorkOn);
    EXPECT_EQ(none.clone(), nullptr);
    Kelvo_Movie copyOfNone(none);
    EXPECT_EQ(copyOfNone.Error(), kKelvoBadArgumentObject);
    Kelvo_Movie controlled(static_cast<MovieController>(nullptr));
    EXPECT_EQ(controlled.Error(), paramErr);
    FSSpec* noSpec = nullptr;
    Kelvo_Movie fromNothing(noSpec, false);
    EXPECT_EQ(fromNothing.Error(), paramErr);

    // Queries on an invalid movie.
    EXPECT_EQ(none.time(), -1);
    EXPECT_EQ(none.timeScale(), -1);
    EXPECT_EQ(none.duration(), -1);
    EXPECT_EQ(none.tracksCount(), 0);
    EXPECT_EQ(none.samplesCount(nullptr, 0), -1);
    EXPECT_EQ(none.posterTime(), -1);
    EXPECT_EQ(none.Error(), kKelvoNoMovie);
    EXPECT_EQ(none.rate(), 0);
    EXPECT_EQ(none.qtLanguage(), -1);
    EXPECT_EQ(none.qtUDataList(), nullptr);
    EXPECT_FALSE(none._edit(1, nullptr));
}

TEST(Movie, OpeningNeedsAValidReference) {
    int32_t err = 0;
    Kelvo_DataReference invalid;
    EXPECT_EQ(Kelvo_Movie::open(invalid, err), nullptr);
    EXPECT_EQ(err, kKelvoNothingToWorkOn);
    EXPECT_EQ(Kelvo_Movie::create(invalid, err), nullptr);
    EXPECT_EQ(err, kKelvoNothingToWorkOn);
    // A valid reference always gives an object, whose status tells how opening went.
    Kelvo_DataReference memory(true);
    std::unique_ptr<Kelvo_Movie> opened(Kelvo_Movie::open(memory, err));
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(err, 0);

    // A file that is not there gives no movie, and says so: a reference that cannot be resolved
    // counts as success only when a movie came.
    const std::string missing =
        (std::filesystem::temp_directory_path() / "kelvo-no-such-movie-file.mov").string();
    FSSpec spec;
    FSPathMakeFSSpec(missing.c_str(), &spec);
    Kelvo_DataReference file(&spec);
    opened.reset(Kelvo_Movie::open(file, err));
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(err, 0);
    EXPECT_FALSE(opened->qtObjIsValid());
    EXPECT_EQ(opened->Error(), couldNotResolveDataRef);
    Kelvo_Movie byPath(missing.c_str());
    EXPECT_FALSE(byPath.qtObjIsValid());
    EXPECT_NE(byPath.Error(), 0);
}

TEST(Movie, TracksByIndexTypeAndCharacteristic) {
    TwoTrackMovie f;
    Kelvo_Movie m(f.movie, false);
    EXPECT_EQ(m.tracksCount(), 2);
    EXPECT_EQ(m.track(0), nullptr);
    EXPECT_EQ(m.track(1), f.video);
    EXPECT_EQ(m.track(3), nullptr);
    EXPECT_EQ(m[0].track(), f.video);
    EXPECT_EQ(m[1].track(), f.sound);
    EXPECT_TRUE(m.qtHasVideo());
    EXPECT_TRUE(m.qtHasSound());
    EXPECT_FALSE(m.isStreamingMovie());
    EXPECT_FALSE(m.isHintedMovie());

    std::unique_ptr<Kelvo_QTObjectsList> all(m.trackList(nullptr, 0));
    ASSERT_NE(all, nullptr);
    EXPECT_EQ(all->count(), 2);
    Kelvo_OSType soun(SoundMediaType), eyes(VisualMediaCharacteristic);
    std::unique_ptr<Kelvo_QTObjectsList> sounds(m.trackListByType(&soun, false));
    ASSERT_EQ(sounds->count(), 1);
    EXPECT_EQ(sounds->getObjValueByRef(0)->qtObjReference(), f.sound);
    SetTrackEnabled(f.video, false);
    std::unique_ptr<Kelvo_QTObjectsList> visible(m.trackListByCharacteristic(&eyes, true));
    EXPECT_EQ(visible->count(), 0);
    SetTrackEnabled(f.video, true);

    // The front-most enabled video track is the one of the lowest layer.
    Track front = addTrack(f.movie, VideoMediaType, {20});
    SetTrackLayer(front, -1);
    std::unique_ptr<Kelvo_Track> found(m.getFrontmostVideoTrack());
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->track(), front);

    // The controller type lives in the movie's user data.
    EXPECT_EQ(m.getMovieControllerType(), nullptr);
    EXPECT_FALSE(m.isQTVRMovie());
    Kelvo_OSType qtvr(FOUR_CHAR_CODE("qtvr"));
    m.setMovieControllerType(&qtvr);
    EXPECT_EQ(m.Error(), 0);
    EXPECT_TRUE(m.isQTVRMovie());
    std::unique_ptr<Kelvo_OSType> type(m.getMovieControllerType());
    ASSERT_NE(type, nullptr);
    EXPECT_EQ(type->getOSType(), FOUR_CHAR_CODE("qtvr"));

    m.removeTrack(7);
    EXPECT_EQ(m.Error(), kKelvoNoTrack);
    m.removeTrack(3);
    EXPECT_EQ(m.Error(), 0);
    EXPECT_EQ(m.tracksCount(), 2);
}

TEST(Movie, TimesAndSampleSteps) {
    TwoTrackMovie f;
    Kelvo_Movie m(f.movie, false);
    EXPECT_EQ(m.timeScale(), 600);
    EXPECT_EQ(m.duration(), 20);
    m.posterTime(10);
    struct Case {
        int32_t selector, value;
    } cases[] = {{0, 20}, {1, 600}, {2, 0}, {3, 10}, {4, 0}};
    for (const Case& c : cases)
        EXPECT_EQ(Kelvo_MovieTime(f.movie, c.selector), c.value) << c.selector;
    EXPECT_EQ(Kelvo_MovieTime(nullptr, 0), 0);

    // Sample times of any type: video at 0 and 10, sound at 0.
    EXPECT_EQ(m.samplesCount(nullptr, 0), 2);
    EXPECT_EQ(m.samplesCount(nullptr, SoundMediaType), 1);
    Kelvo_TimeRange firstHalf(0, 9);
    EXPECT_EQ(m.samplesCount(&firstHalf, VideoMediaType), 1);
    EXPECT_EQ(GetMovieFrameCountInSelection(nullptr, 0, 10, 0), -1);

    // Stepping over samples of any type, then to both ends.
    m.seekTime(4, nullptr);
    EXPECT_EQ(m.time(), 10);
    m.seekTime(3, nullptr);
    EXPECT_EQ(m.time(), 0);
    m.seekTime(2, nullptr);
    EXPECT_EQ(m.time(), 20);
    m.seekTime(1, nullptr);
    EXPECT_EQ(m.time(), 0);
    m.seekTime(9, nullptr);
    EXPECT_EQ(m.Error(), 0);

    Kelvo_TimeRange64 info;
    m.sampleTimeInfoForTime(15, info);
    EXPECT_EQ(m.Error(), 0);
    EXPECT_EQ(info.start(), 10);
    EXPECT_EQ(info.duration(), 10);
    m.sampleTimeInfoForTimeAndType(15, SoundMediaType, info);
    EXPECT_EQ(info.start(), 0);
    EXPECT_EQ(info.duration(), 20);
    m.sampleTimeInfoForTime(-1, info);
    EXPECT_EQ(m.Error(), kKelvoNegativeTime);
    EXPECT_EQ(info.start(), -1.0);
}

TEST(Movie, SelectionTakesTheRangesScale) {
    TwoTrackMovie f;
    Kelvo_Movie m(f.movie, false);
    Kelvo_TimeRange64 noScale(5, 10);
    m.selection(&noScale);
    EXPECT_EQ(m.timeScale(), 600);
    std::unique_ptr<Kelvo_TimeRange64> got(m.selection());
    EXPECT_EQ(got->start(), 5);
    EXPECT_EQ(got->duration(), 10);
    EXPECT_EQ(got->scale(), 600);

    // The range's times count in its own scale.
    Kelvo_TimeRange64 fine(10, 20);
    fine.scale() = 1200;
    m.selection(&fine);
    EXPECT_EQ(m.timeScale(), 1200);
    EXPECT_EQ(m.duration(), 40);
    got.reset(m.selection());
    EXPECT_EQ(got->start(), 10);
    EXPECT_EQ(got->duration(), 20);

    m.selection(nullptr);
    got.reset(m.selection());
    EXPECT_EQ(got->start(), 0);
    EXPECT_EQ(got->duration(), 40);
}

TEST(Movie, EditsOfTheSelection) {
    TwoTrackMovie f;
    Kelvo_Movie m(f.movie, false);
    Kelvo_TimeRange64 firstHalf(0, 10);
    // An unknown operation only selects.
    EXPECT_TRUE(m._edit(5, &firstHalf));
    std::unique_ptr<Kelvo_TimeRange64> got(m.selection());
    EXPECT_EQ(got->duration(), 10);
    EXPECT_EQ(m.duration(), 20);

    std::unique_ptr<Kelvo_Movie> part(m.movieFromSelection());
    ASSERT_NE(part, nullptr);
    EXPECT_TRUE(part->ownsMovie());
    EXPECT_EQ(part->duration(), 10);
    EXPECT_EQ(part->tracksCount(), 2);

    EXPECT_TRUE(m.clear(&firstHalf));
    EXPECT_EQ(m.duration(), 10);

    // Appending: the movie itself, then another movie.
    m.addMovieSegment(nullptr, nullptr, true);
    EXPECT_EQ(m.Error(), 0);
    EXPECT_EQ(m.duration(), 20);
    m += *part;
    EXPECT_EQ(m.duration(), 30);
    Kelvo_Movie invalid(static_cast<Movie>(nullptr), false);
    m.addMovieSegment(&invalid, nullptr, true);
    EXPECT_EQ(m.Error(), kKelvoNothingToWorkOn);

    Kelvo_TimeRange gap(0, 5);
    m.qtAddEmptySegment(&gap);
    EXPECT_EQ(m.duration(), 35);
    m.qtDeleteSegment(&gap);
    EXPECT_EQ(m.duration(), 30);
    m.qtDeleteSegment(nullptr);
    EXPECT_EQ(m.Error(), paramErr);
    m.duration(nullptr, 60);
    EXPECT_EQ(m.duration(), 60);
}

TEST(Movie, EditStatesUndoEdits) {
    TwoTrackMovie f;
    {
        Kelvo_Movie m(f.movie, false);
        char name[] = "whole";
        ASSERT_TRUE(m.qtAddState(name));
        Kelvo_TimeRange part(0, 10);
        m.qtDeleteSegment(&part);
        EXPECT_EQ(m.duration(), 10);
        EXPECT_EQ(m.qtUseState(0), 0);
        EXPECT_EQ(m.duration(), 20);
        char* stateName = nullptr;
        m.getStateName(stateName, 0);
        ASSERT_NE(stateName, nullptr);
        EXPECT_STREQ(stateName, "whole");
        delete[] stateName;
        m.qtRemoveState(0);
        EXPECT_EQ(m.stateCount(), 0);
        ASSERT_TRUE(m.qtAddState(name)); // left for the destructor to dispose of
    }
    EXPECT_EQ(GetMovieDuration(f.movie), 20);
}

TEST(Movie, CopiesTracksIntoNewTracks) {
    TwoTrackMovie src, dst;
    Kelvo_Movie from(src.movie, false), to(dst.movie, false);
    EXPECT_EQ(Kelvo_MovieCopySoundTracks(from, to), 0);
    ASSERT_EQ(to.tracksCount(), 3);
    Track copied = to.track(3);
    EXPECT_EQ(Kelvo_Track(copied).type(), SoundMediaType);
    EXPECT_EQ(GetTrackDuration(copied), 20);
    Kelvo_Movie invalid(static_cast<Movie>(nullptr), false);
    EXPECT_EQ(Kelvo_MovieCopySoundTracks(invalid, to), kKelvoNoMovie);

    SetTrackEnabled(src.video, false);
    SetTrackLayer(src.video, 4);
    Kelvo_Track video(src.video);
    Kelvo_TimeRange second(10, 10);
    Track made = to.addTrackSegment(&video, &second, true);
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(to.Error(), 0);
    EXPECT_EQ(GetTrackOffset(made), 10);
    EXPECT_EQ(GetTrackDuration(made), 20);
    EXPECT_FALSE(GetTrackEnabled(made));
    EXPECT_EQ(GetTrackLayer(made), 4);
    Fixed w = 0, h = 0;
    GetTrackDimensions(made, &w, &h);
    EXPECT_EQ(w, Long2Fix(kWidth));
    EXPECT_EQ(to.addTrackSegment(nullptr, nullptr, false), nullptr);
    EXPECT_EQ(to.Error(), kKelvoNothingToWorkOn);
}

TEST(Movie, BoundsAndLanguage) {
    TwoTrackMovie f;
    Kelvo_Movie m(f.movie, false);
    EXPECT_EQ(m.qtNaturalBounds().width(), kWidth);
    EXPECT_EQ(m.qtBounds().height(), kHeight);
    Kelvo_Rect twice(kWidth * 2, kHeight * 2);
    m.qtBounds(twice);
    EXPECT_EQ(m.Error(), 0);
    EXPECT_EQ(m.qtBounds().width(), kWidth * 2);
    Kelvo_Rect empty;
    m.qtBounds(empty);
    EXPECT_EQ(m.Error(), paramErr);
    m.qtDisplayProperties(nullptr);
    EXPECT_EQ(m.qtBounds().width(), kWidth);

    // The language of the first enabled track with an alternate.
    EXPECT_EQ(m.qtLanguage(), -1);
    Track french = addTrack(f.movie, SoundMediaType, {20}, 4, false);
    SetMediaLanguage(GetTrackMedia(french), 1);
    SetTrackAlternate(french, f.sound);
    SetTrackEnabled(french, false);
    EXPECT_EQ(m.qtLanguage(), 0);
    m.qtLanguage(1);
    EXPECT_EQ(m.qtLanguage(), 1);
    EXPECT_FALSE(GetTrackEnabled(f.sound));
    EXPECT_GT(m.qtCreationTime(), 0u);
    m.enabled(false);
    EXPECT_FALSE(m.enabled());
}

// The sound properties of a movie with a sound track, and their arguments' checks.
TEST(Movie, SoundPropertiesOfAMovieWithSound) {
    struct SoundMovie {
        Movie movie = NewMovie(0);
        ~SoundMovie() { DisposeMovie(movie); }
    } f;
    addTrack(f.movie, VideoMediaType, {600});
    addSoundTrack(f.movie, 8000);
    Kelvo_Movie m(f.movie, false);
    auto rawBalance = [&] {
        float v = 99;
        EXPECT_EQ(QTGetMovieProperty(f.movie, kQTPropertyClass_Audio, kQTAudioPropertyID_Balance, sizeof v,
                                     &v, nullptr),
                  noErr);
        return v;
    };
    EXPECT_FALSE(m.mute());
    EXPECT_EQ(m.Error(), 0);
    m.mute(true);
    EXPECT_EQ(m.Error(), 0);
    EXPECT_TRUE(m.mute());

    EXPECT_EQ(m.balance(), 0);
    int32_t left = -100;
    m.balance(left);
    EXPECT_EQ(m.Error(), 0);
    EXPECT_EQ(rawBalance(), -1.0f);
    EXPECT_EQ(m.balance(), -100);
    for (int32_t bad : {101, -101}) {
        m.balance(bad);
        EXPECT_EQ(m.Error(), paramErr) << bad;
        EXPECT_EQ(rawBalance(), -1.0f) << bad; // nothing written
    }
    int32_t right = 25;
    m.balance(right);
    EXPECT_EQ(m.balance(), 25);

    float gain = 0.5f;
    m.gain(gain);
    EXPECT_EQ(m.Error(), 0);
    EXPECT_EQ(m.gain(), 0.5f);
    float negative = -1;
    m.gain(negative);
    EXPECT_EQ(m.Error(), paramErr);
    EXPECT_EQ(m.gain(), 0.5f);
    float cents = 120;
    m.pitch(cents);
    EXPECT_EQ(m.pitch(), 120.0f);

    // The summary of the sound tracks: 32-bit float samples at the highest rate.
    std::unique_ptr<Kelvo_AudioStreamDescriptor> absd(m.summaryABSD());
    ASSERT_NE(absd, nullptr) << m.Error();
    AudioStreamBasicDescription raw{};
    ASSERT_EQ(QTGetMovieProperty(f.movie, kQTPropertyClass_Audio, kQTAudioPropertyID_SummaryASBD, sizeof raw,
                                 &raw, nullptr),
              noErr);
    EXPECT_EQ(absd->sampleRate(), 8000.0);
    EXPECT_EQ(absd->channelsPerFrame(), 2u);
    EXPECT_EQ(raw.mChannelsPerFrame, 2u);
    EXPECT_EQ(absd->bitsPerChannel(), 32u);
    EXPECT_TRUE(absd->isDataFloat());
    // The layout of the sum: a stereo tag and no channel descriptions (a 12-byte value).
    std::unique_ptr<Kelvo_AudioChannelLayout> layout(m.summaryChannelLayout());
    ASSERT_NE(layout, nullptr) << m.Error();
    EXPECT_EQ(m.Error(), 0);
    EXPECT_EQ(layout->channelLayoutTag(), kAudioChannelLayoutTag_Stereo);
    EXPECT_EQ(layout->channelsCount(), 2u);

    // Volumes.
    m.qtSndVolume(int16_t(0x80));
    EXPECT_EQ(m.qtSndVolume(), 0x80);
    m.preferredVolume(int16_t(0x40));
    EXPECT_EQ(m.preferredVolume(), 0x40);
    EXPECT_TRUE(m.setAudioContext(nullptr));
    QTAudioContextRef context = nullptr;
    EXPECT_EQ(GetMovieAudioContext(f.movie, &context), noErr);
    EXPECT_NE(context, nullptr);
    int notAString = 0;
    CFNumberRef number = CFNumberCreate(nullptr, kCFNumberSInt32Type, &notAString);
    EXPECT_FALSE(m.setAudioContext(number));
    EXPECT_EQ(m.Error(), paramErr);
    CFRelease(number);

    // A movie without sound has no audio properties; arguments are checked first.
    Movie silent = NewMovie(0);
    addTrack(silent, VideoMediaType, {10});
    Kelvo_Movie quiet(silent, false);
    EXPECT_FALSE(quiet.mute());
    EXPECT_EQ(quiet.Error(), kKelvoNoMovie);
    quiet.balance(left);
    EXPECT_EQ(quiet.Error(), kKelvoNoMovie);
    EXPECT_EQ(quiet.summaryABSD(), nullptr);
    int32_t tooMuch = 101;
    quiet.balance(tooMuch);
    EXPECT_EQ(quiet.Error(), paramErr);
    DisposeMovie(silent);
}

// Saving through the movie layer's writer: ffprobe reads what was written.
TEST(Movie, CreatedAndSavedFilesAreReadByFFprobe) {
    ScratchDir dir("kelvomovie");
    FSSpec spec;
    const std::string created = dir.file("created.mov");
    FSPathMakeFSSpec(created.c_str(), &spec); // a file still to be made
    Kelvo_DataReference ref(&spec);
    int32_t err = -1;
    {
        std::unique_ptr<Kelvo_Movie> m(Kelvo_Movie::create(ref, err));
        ASSERT_EQ(err, 0);
        ASSERT_NE(m, nullptr);
        ASSERT_NE(m->storageHandler(), nullptr);
        addTrack(m->movie(), VideoMediaType, {20, 20, 20}, size_t(kWidth) * kHeight * 4);
        // The first flush writes the movie into its storage and closes it.
        m->flush();
        EXPECT_EQ(m->Error(), 0);
        EXPECT_EQ(m->storageHandler(), nullptr);
    }
    // A movie created and dropped without a flush is still written by its destructor.
    const std::string dropped = dir.file("dropped.mov");
    FSSpec droppedSpec;
    FSPathMakeFSSpec(dropped.c_str(), &droppedSpec); // a file still to be made
    {
        Kelvo_DataReference droppedRef(&droppedSpec);
        std::unique_ptr<Kelvo_Movie> m(Kelvo_Movie::create(droppedRef, err));
        ASSERT_NE(m, nullptr);
        addTrack(m->movie(), VideoMediaType, {30}, size_t(kWidth) * kHeight * 4);
    }

    // A movie file made with its movie holds it after the first flush.
    const std::string made = dir.file("made.mov");
    FSSpec madeSpec;
    FSPathMakeFSSpec(made.c_str(), &madeSpec); // a file still to be made
    {
        Kelvo_Movie m(&madeSpec, true);
        ASSERT_EQ(m.Error(), 0);
        ASSERT_NE(m.movieFileRefNum(), 0);
        addTrack(m.movie(), VideoMediaType, {15, 15}, size_t(kWidth) * kHeight * 4);
        m.flush();
        EXPECT_EQ(m.Error(), 0);
    }

    // Saving a movie made in memory, flattened.
    Movie inMemory = NewMovie(0);
    addTrack(inMemory, VideoMediaType, {10, 10}, size_t(kWidth) * kHeight * 4);
    Kelvo_Movie memory(inMemory, false);
    const std::string flat = dir.file("flat.mov");
    FSSpec flatSpec;
    FSPathMakeFSSpec(flat.c_str(), &flatSpec); // a file still to be made
    EXPECT_EQ(Kelvo_Movie::saveAs(memory, &flatSpec, true), 0);
    EXPECT_EQ(Kelvo_Movie::saveAs(memory, nullptr, true), kKelvoMediaMissing);
    Kelvo_Movie invalid(static_cast<Movie>(nullptr), false);
    EXPECT_EQ(Kelvo_Movie::saveAs(invalid, &flatSpec, true), kKelvoNoMovie);
    DisposeMovie(inMemory);

    if (!haveFFprobe()) GTEST_SKIP() << "ffprobe missing";
    struct Expect {
        std::string file;
        const char* frames;
        double seconds;
    } expects[] = {{created, "3", 60 / 600.0},
                   {dropped, "1", 30 / 600.0},
                   {flat, "2", 20 / 600.0},
                   {made, "2", 30 / 600.0}};
    for (const Expect& e : expects) {
        SCOPED_TRACE(e.file);
        auto info = probeFirstStream(e.file);
        SCOPED_TRACE(info["output"]);
        EXPECT_EQ(info["codec_type"], "video");
        EXPECT_EQ(info["width"], std::to_string(kWidth));
        EXPECT_EQ(info["height"], std::to_string(kHeight));
        EXPECT_EQ(info["nb_frames"], e.frames);
        EXPECT_NEAR(std::atof(info["duration"].c_str()), e.seconds, 1e-3);
    }
}

// A new empty movie, the scrap, and the edits that go through it.
TEST(Movie, NewMoviesTheScrapAndItsEdits) {
    Kelvo_Movie fresh;
    ASSERT_TRUE(fresh.qtObjIsValid()) << fresh.Error();
    EXPECT_EQ(fresh.Error(), 0);
    EXPECT_TRUE(fresh.ownsMovie());
    EXPECT_TRUE(fresh.isMemoryMovie());
    EXPECT_EQ(fresh.tracksCount(), 0);
    EXPECT_EQ(fresh.duration(), 0);
    EXPECT_TRUE(fresh.enabled()); // made active

    TwoTrackMovie f;
    Kelvo_Movie m(f.movie, false);
    // Copy leaves the movie alone and puts the range on the scrap.
    Kelvo_TimeRange64 second(10, 10);
    ASSERT_TRUE(m.copy(&second)) << m.Error();
    EXPECT_EQ(m.duration(), 20);
    std::unique_ptr<Kelvo_Movie> scrap(Kelvo_Movie::createFromScrap());
    ASSERT_NE(scrap, nullptr);
    ASSERT_TRUE(scrap->qtObjIsValid()) << scrap->Error();
    EXPECT_TRUE(scrap->ownsMovie());
    EXPECT_EQ(scrap->duration(), 10);
    EXPECT_EQ(scrap->tracksCount(), 2);
    EXPECT_EQ(scrap->samplesCount(nullptr, VideoMediaType), 1);

    // Paste over an empty selection at the end inserts; over a range replaces it.
    Kelvo_TimeRange64 end(20, 0);
    ASSERT_TRUE(m.paste(&end)) << m.Error();
    EXPECT_EQ(m.duration(), 30);
    Kelvo_TimeRange64 first(0, 10);
    ASSERT_TRUE(m.cut(&first));
    EXPECT_EQ(m.duration(), 20);
    scrap.reset(Kelvo_Movie::createFromScrap());
    EXPECT_EQ(scrap->duration(), 10);
    Kelvo_TimeRange64 head(0, 5);
    ASSERT_TRUE(m.clear(&head));
    EXPECT_EQ(m.duration(), 15);
    Kelvo_TimeRange64 five(0, 5);
    ASSERT_TRUE(m.paste(&five)); // 5 units replaced by the scrap's 10
    EXPECT_EQ(m.duration(), 20);

    // The sum of two movies is a new movie of both.
    TwoTrackMovie g;
    Kelvo_Movie other(g.movie, false);
    std::unique_ptr<Kelvo_Movie> sum(m + other);
    ASSERT_NE(sum, nullptr);
    ASSERT_TRUE(sum->qtObjIsValid());
    EXPECT_EQ(sum->Error(), 0);
    EXPECT_EQ(sum->duration(), 40);
    EXPECT_EQ(m.duration(), 20);
    Kelvo_Movie invalid(static_cast<Movie>(nullptr), false);
    std::unique_ptr<Kelvo_Movie> none(m + invalid);
    ASSERT_NE(none, nullptr);
    EXPECT_EQ(none->Error(), kKelvoNothingToWorkOn);
    EXPECT_FALSE(invalid.copy(&first));
}

// A movie taken from a controller is borrowed, and the controller hears of its changes.
TEST(Movie, ControllersHearOfChanges) {
    TwoTrackMovie f;
    MovieController mc = NewMovieController(f.movie, nullptr, 0);
    ASSERT_NE(mc, nullptr);
    {
        Kelvo_Movie m(mc);
        ASSERT_TRUE(m.qtObjIsValid()) << m.Error();
        EXPECT_FALSE(m.ownsMovie());
        EXPECT_EQ(m.controller(), mc);
        EXPECT_EQ(m.movie(), MCGetIndMovie(mc, 0));

        // Shortened under a time and a selection near the end: both stay inside the movie.
        Kelvo_TimeRange64 last(15, 5);
        m.selection(&last);
        m.time(18);
        Kelvo_TimeRange head(0, 12);
        m.qtDeleteSegment(&head);
        ASSERT_EQ(m.Error(), 0);
        EXPECT_EQ(m.duration(), 8);
        TimeScale scale = 0;
        EXPECT_LE(MCGetCurrentTime(mc, &scale), 8);
        EXPECT_EQ(scale, 600);
        TimeValue start = -1, length = -1;
        GetMovieSelection(f.movie, &start, &length);
        EXPECT_LE(start + length, 8);
    }
    // The controller's movie outlives the wrapper.
    EXPECT_EQ(MCGetIndMovie(mc, 0), f.movie);
    DisposeMovieController(mc);

    // A controller without a movie.
    MovieController empty = NewMovieController(nullptr, nullptr, 0);
    if (empty) {
        Kelvo_Movie none(empty);
        EXPECT_FALSE(none.qtObjIsValid());
        DisposeMovieController(empty);
    }
}

// Rates and times on a clock the test drives, and a slave that follows its master.
TEST(Movie, RatesRunOnTheClockAndSlavesFollowTheirMaster) {
    platform::ManualClock clock(1000);
    platform::ScopedSystemClock scoped(clock);
    Movie a = NewMovie(0), b = NewMovie(0);
    addTrack(a, VideoMediaType, {300, 300});
    addTrack(b, VideoMediaType, {300, 300});
    Kelvo_Movie master(a, false), slave(b, false);
    EXPECT_EQ(master.rate(), 0);
    EXPECT_EQ(master.preferredRate(), fixed1);
    master.preferredRate(fixed1 / 2);
    EXPECT_EQ(master.preferredRate(), fixed1 / 2);
    master.rate(fixed1);
    EXPECT_EQ(master.rate(), fixed1);
    clock.advance(0.25);
    EXPECT_EQ(master.time(), 150);

    double offset = 100;
    slave.rate(fixed1);
    slave.synchronize(master, &offset);
    EXPECT_EQ(slave.Error(), 0);
    clock.advance(0.1);
    EXPECT_EQ(master.time(), 210);
    EXPECT_EQ(slave.time(), 310); // 100 ahead of its master
    master.rate(0);
    clock.advance(0.1);
    EXPECT_EQ(slave.time(), 310); // the master stands still
    Kelvo_Movie invalid(static_cast<Movie>(nullptr), false);
    slave.synchronize(invalid, nullptr);
    EXPECT_EQ(slave.Error(), kKelvoNothingToWorkOn);
    DisposeMovie(b);
    DisposeMovie(a);
}

// Aperture modes of a movie with video: generated, chosen, removed.
TEST(Movie, ApertureModes) {
    TwoTrackMovie f;
    Kelvo_Movie m(f.movie, false);
    EXPECT_FALSE(m.hasApertureModes());
    m.generateApertureModes();
    EXPECT_EQ(m.Error(), 0);
    EXPECT_TRUE(m.hasApertureModes());
    const uint32_t initial = m.getApertureMode();
    EXPECT_NE(initial, 0u);
    m.setApertureMode(kQTApertureMode_EncodedPixels);
    EXPECT_EQ(m.Error(), 0);
    EXPECT_EQ(m.getApertureMode(), kQTApertureMode_EncodedPixels);
    m.setApertureMode(kQTApertureMode_EncodedPixels); // unchanged: nothing written
    EXPECT_EQ(m.Error(), 0);
    m.removeApertureModes();
    EXPECT_EQ(m.Error(), 0);
    EXPECT_FALSE(m.hasApertureModes());
    Kelvo_Movie invalid(static_cast<Movie>(nullptr), false);
    EXPECT_EQ(invalid.getApertureMode(), 0u);
    invalid.generateApertureModes();
    EXPECT_EQ(invalid.Error(), kKelvoNoMovie);
}

// Frames of a movie in memory, drawn through the movie layer: the first sample's colour fills
// the frame (the second sample's is checked with the files' frames).
TEST(Movie, FramesAreTheSamplesShown) {
    Movie movie = NewMovie(0);
    // Two frames of uniform colour: 0x01010101 and 0x02020202.
    addTrack(movie, VideoMediaType, {10, 10}, size_t(kWidth) * kHeight * 4);
    Kelvo_Movie m(movie, false);
    {
        Kelvo_QDGWorldBuffer* out = nullptr;
        m.frameAtTime(out, 5, nullptr);
        std::unique_ptr<Kelvo_QDGWorldBuffer> owned(out);
        ASSERT_NE(out, nullptr) << m.Error();
        EXPECT_EQ(m.Error(), 0);
        ASSERT_EQ(out->width(), kWidth);
        ASSERT_EQ(out->height(), kHeight);
        const auto* p = reinterpret_cast<const uint8_t*>(out->baseAddress());
        EXPECT_EQ(p[1], 1);
        EXPECT_EQ(p[(kHeight - 1) * out->rowBytes() + (kWidth - 1) * 4 + 3], 1);
    }
    Kelvo_QDGWorldBuffer* out = reinterpret_cast<Kelvo_QDGWorldBuffer*>(1);
    m.frameAtTime(out, -1, nullptr);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(m.Error(), paramErr);
    EXPECT_EQ(m.sizeOfSelection(nullptr), double(2 * kWidth * kHeight * 4));
    DisposeMovie(movie);

    // A frame shorter than its description cannot be drawn: the movie names the track at fault.
    TwoTrackMovie f;
    Kelvo_Movie broken(f.movie, false);
    GWorldPtr world = nullptr;
    Rect r{0, 0, kHeight, kWidth};
    ASSERT_EQ(QTNewGWorld(&world, k32ARGBPixelFormat, &r, nullptr, nullptr, 0), noErr);
    SetMovieGWorld(f.movie, world, nullptr);
    std::unique_ptr<Kelvo_Track> problem(broken.checkStatusForMoviePlayback());
    EXPECT_EQ(problem, nullptr); // nothing drawn yet
    EXPECT_EQ(broken.Error(), 0);
    MoviesTask(f.movie, 0);
    problem.reset(broken.checkStatusForMoviePlayback());
    ASSERT_NE(problem, nullptr);
    EXPECT_EQ(problem->track(), f.video);
    EXPECT_EQ(broken.Error(), codecBadDataErr);
    Kelvo_Track video(f.video);
    video.frameAtTime(out, 0, nullptr);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(video.Error(), codecBadDataErr);
    SetMovieGWorld(f.movie, nullptr, nullptr);
    DisposeGWorld(world);
}

// MPEG tracks are counted through the movie, after the movie drew once where the platform needs
// it; the count is the same either way.
TEST(Movie, MPEGTracksAreCountedThroughTheMovie) {
    Movie movie = NewMovie(0);
    Track mpeg = addTrack(movie, FOUR_CHAR_CODE("MPEG"), {10, 10, 10});
    Kelvo_Movie m(movie, false);
    EXPECT_EQ(m.samplesCount(nullptr, FOUR_CHAR_CODE("MPEG")), 3);
    Kelvo_Track t(mpeg);
    EXPECT_EQ(t.samplesCount(nullptr), 3);
    Kelvo_TimeRange lastTwo(5, 25);
    EXPECT_EQ(t.samplesCount(&lastTwo), 2);
    DisposeMovie(movie);
}

// A movie is safe on another thread only when the handler of every track is. The media handlers
// of the movie layer are; a media type without a handler is not.
TEST(Movie, ThreadSafeOnlyWhenEveryTrackIs) {
    TwoTrackMovie f;
    Kelvo_Movie both(f.movie, false);
    EXPECT_TRUE(Kelvo_Track(f.video).isThreadSafe());
    EXPECT_TRUE(Kelvo_Track(f.sound).isThreadSafe());
    EXPECT_TRUE(both.isThreadSafe());
    Track unknown = addTrack(f.movie, FOUR_CHAR_CODE("MPEG"), {20});
    EXPECT_FALSE(Kelvo_Track(unknown).isThreadSafe());
    EXPECT_FALSE(both.isThreadSafe());
    DisposeMovieTrack(unknown);
    EXPECT_TRUE(both.isThreadSafe());
    DisposeMovieTrack(f.sound);
    DisposeMovieTrack(f.video);
    EXPECT_FALSE(both.isThreadSafe()); // no track at all
}
