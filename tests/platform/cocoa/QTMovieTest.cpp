#include "PlatformCocoaError.h"
#include "PlatformErrors.h"
#include "PlatformFixed.h"
#include "PlatformMovies.h"
#include "PlatformQTMovie.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

// Whether the movie layer still knows the movie.
bool movieLives(Movie movie) {
    GetMovieTimeScale(movie);
    return GetMoviesError() == noErr;
}

// A movie with one video track and its media, disposed of with the fixture unless a test
// disposed of it first (disposing twice is refused harmlessly).
struct OneTrackMovie {
    Movie movie = NewMovie(0);
    Track track = NewMovieTrack(movie, Long2Fix(32), Long2Fix(16), 0);
    Media media = NewTrackMedia(track, VideoMediaType, 600, nullptr, 0);
    ~OneTrackMovie() { DisposeMovie(movie); }
};

} // namespace

TEST(NSError, CarriesItsDomainAndCode) {
    NSAutoreleasePool pool;
    NSError* error = NSError::errorWithDomain(NSOSStatusErrorDomain, invalidTrack);
    ASSERT_NE(error, nullptr);
    EXPECT_STREQ(error->domain()->UTF8String(), "NSOSStatusErrorDomain");
    EXPECT_EQ(error->code(), invalidTrack);
    EXPECT_EQ(NSAutoreleasePool::innermostCount(), 1u);
    EXPECT_EQ(NSError::errorWithDomain(nullptr, 1), nullptr);
}

TEST(QTMovie, DisposesOfItsMovieOnlyWhenAsked) {
    Movie kept = NewMovie(0);
    Movie adopted = NewMovie(0);
    {
        NSAutoreleasePool pool;
        NSError* error = NSError::errorWithDomain(NSOSStatusErrorDomain, 1); // overwritten
        QTMovie* borrowing = QTMovie::movieWithQuickTimeMovie(kept, false, &error);
        ASSERT_NE(borrowing, nullptr);
        EXPECT_EQ(error, nullptr);
        EXPECT_EQ(borrowing->quickTimeMovie(), kept);
        QTMovie* owning = QTMovie::movieWithQuickTimeMovie(adopted, true, nullptr);
        ASSERT_NE(owning, nullptr);
        EXPECT_EQ(owning->quickTimeMovie(), adopted);
        EXPECT_TRUE(movieLives(adopted));
    }
    EXPECT_TRUE(movieLives(kept));
    EXPECT_FALSE(movieLives(adopted));
    DisposeMovie(kept);
}

TEST(QTMovie, TrackAndMediaKnowTheirOwners) {
    OneTrackMovie m;
    {
        NSAutoreleasePool pool;
        QTMedia* media = QTMedia::mediaWithQuickTimeMedia(m.media, nullptr);
        ASSERT_NE(media, nullptr);
        EXPECT_EQ(media->quickTimeMedia(), m.media);
        ASSERT_NE(media->track(), nullptr);
        EXPECT_EQ(media->track()->quickTimeTrack(), m.track);
        ASSERT_NE(media->track()->movie(), nullptr);
        EXPECT_EQ(media->track()->movie()->quickTimeMovie(), m.movie);

        QTTrack* track = QTTrack::trackWithQuickTimeTrack(m.track, nullptr);
        ASSERT_NE(track, nullptr);
        EXPECT_EQ(track->quickTimeTrack(), m.track);
        EXPECT_EQ(track->movie()->quickTimeMovie(), m.movie);
    }
    // The movie objects that tracks made for their movie leave it to its owner.
    EXPECT_TRUE(movieLives(m.movie));
    EXPECT_EQ(GetMovieTrackCount(m.movie), 1);
}

TEST(QTMovie, MediaOfNoTrackHasNoTrackObject) {
    Media detached = platform::newDetachedMedia();
    {
        NSAutoreleasePool pool;
        NSError* error = nullptr;
        QTMedia* media = QTMedia::mediaWithQuickTimeMedia(detached, &error);
        ASSERT_NE(media, nullptr);
        EXPECT_EQ(error, nullptr);
        EXPECT_EQ(media->quickTimeMedia(), detached);
        EXPECT_EQ(media->track(), nullptr);
    }
    platform::disposeMedia(detached);
}

// Null and disposed references give no object and the platform's error for the reference, and
// leave the caller's error pointer optional.
TEST(QTMovie, RefusesWhatTheMovieLayerDoesNotKnow) {
    struct Case {
        const char* name;
        std::function<NSObject*(OneTrackMovie&, NSError**)> make;
        OSErr code;
    };
    const Case cases[] = {
        {"null movie",
         [](OneTrackMovie&, NSError** e) { return QTMovie::movieWithQuickTimeMovie(nullptr, true, e); },
         invalidMovie},
        {"disposed movie",
         [](OneTrackMovie& m, NSError** e) {
             DisposeMovie(m.movie);
             return QTMovie::movieWithQuickTimeMovie(m.movie, true, e);
         },
         invalidMovie},
        {"null track",
         [](OneTrackMovie&, NSError** e) { return QTTrack::trackWithQuickTimeTrack(nullptr, e); },
         invalidTrack},
        {"disposed track",
         [](OneTrackMovie& m, NSError** e) {
             DisposeMovieTrack(m.track);
             return QTTrack::trackWithQuickTimeTrack(m.track, e);
         },
         invalidTrack},
        {"track of a disposed movie",
         [](OneTrackMovie& m, NSError** e) {
             DisposeMovie(m.movie);
             return QTTrack::trackWithQuickTimeTrack(m.track, e);
         },
         invalidTrack},
        {"null media",
         [](OneTrackMovie&, NSError** e) { return QTMedia::mediaWithQuickTimeMedia(nullptr, e); },
         invalidMedia},
        {"disposed media",
         [](OneTrackMovie& m, NSError** e) {
             DisposeTrackMedia(m.media);
             return QTMedia::mediaWithQuickTimeMedia(m.media, e);
         },
         invalidMedia},
        {"media of a disposed track",
         [](OneTrackMovie& m, NSError** e) {
             DisposeMovieTrack(m.track);
             return QTMedia::mediaWithQuickTimeMedia(m.media, e);
         },
         invalidMedia},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        NSAutoreleasePool pool;
        {
            OneTrackMovie m;
            NSError* error = nullptr;
            EXPECT_EQ(c.make(m, &error), nullptr);
            ASSERT_NE(error, nullptr);
            EXPECT_EQ(error->code(), c.code);
            EXPECT_STREQ(error->domain()->UTF8String(), "NSOSStatusErrorDomain");
        }
        OneTrackMovie m;
        EXPECT_EQ(c.make(m, nullptr), nullptr);
    }
}

// An object may outlive the movie its reference names: what it answers is then refused by the
// movie layer, and letting it go touches nothing that has gone.
TEST(QTMovie, ObjectsOutliveTheirMovie) {
    NSAutoreleasePool pool;
    Movie movie = NewMovie(0);
    Track t = NewMovieTrack(movie, 0, 0, 256);
    Media md = NewTrackMedia(t, SoundMediaType, 600, nullptr, 0);
    QTMedia* media = QTMedia::mediaWithQuickTimeMedia(md, nullptr);
    ASSERT_NE(media, nullptr);
    media->retain();
    DisposeMovie(movie);
    pool.drain();
    EXPECT_EQ(GetTrackMovie(media->track()->quickTimeTrack()), nullptr);
    EXPECT_EQ(GetMoviesError(), invalidTrack);
    EXPECT_FALSE(movieLives(media->track()->movie()->quickTimeMovie()));
    EXPECT_EQ(QTMedia::mediaWithQuickTimeMedia(media->quickTimeMedia(), nullptr), nullptr);
    media->release();
}
