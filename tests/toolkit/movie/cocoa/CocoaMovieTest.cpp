#include "KelvoCoreObjectsUtils.h"
#include "KelvoMedia.h"
#include "KelvoMovie.h"
#include "KelvoTrack.h"
#include "MovieFixtures.h"
#include "PlatformCocoa.h"
#include "PlatformErrors.h"

#include <gtest/gtest.h>

#include <memory>

using moviefixtures::TwoTrackMovie;

namespace {

bool movieLives(Movie movie) {
    GetMovieTimeScale(movie);
    return GetMoviesError() == noErr;
}

// A track or media wrapper that has no QTKit object to give: the conversion, the getter and the
// parent all give null, and the getter and the parent leave `status`.
template <class QTObject, class Wrapper>
void expectNoQTObject(const char* what, Wrapper& wrapper, QTObject* (Wrapper::*get)(), int32_t status) {
    SCOPED_TRACE(what);
    EXPECT_EQ(static_cast<QTObject*>(static_cast<const Wrapper&>(wrapper)), nullptr);
    EXPECT_EQ((wrapper.*get)(), nullptr);
    EXPECT_EQ(wrapper.Error(), status);
    EXPECT_EQ(wrapper.parentQTContainer(), nullptr);
    EXPECT_EQ(wrapper.Error(), status);
}

} // namespace

TEST(CocoaTrack, QTTrackOfTheTrackAndItsOwnMovie) {
    TwoTrackMovie m;
    {
        NSAutoreleasePool pool;
        Kelvo_Track track(m.video);
        const Kelvo_Track& constant = track;
        QTTrack* converted = static_cast<QTTrack*>(constant);
        ASSERT_NE(converted, nullptr);
        EXPECT_EQ(converted->quickTimeTrack(), m.video);

        QTTrack* qt = track.getQTTrack();
        ASSERT_NE(qt, nullptr);
        EXPECT_EQ(track.Error(), 0);
        EXPECT_EQ(qt->quickTimeTrack(), m.video);

        QTMovie* parent = track.parentQTContainer();
        ASSERT_NE(parent, nullptr);
        EXPECT_EQ(track.Error(), 0);
        EXPECT_EQ(parent->quickTimeMovie(), m.movie); // the track's own movie, not a copy
    }
    // Nothing made for the track disposes of the movie it belongs to.
    ASSERT_TRUE(movieLives(m.movie));
    EXPECT_EQ(GetMovieTrackCount(m.movie), 2);
}

TEST(CocoaTrack, NoTrackOrAGoneTrackGivesNothing) {
    NSAutoreleasePool pool;
    Kelvo_Track empty;
    expectNoQTObject("no track", empty, &Kelvo_Track::getQTTrack, kKelvoNoTrack);

    TwoTrackMovie m;
    Kelvo_Track gone(m.sound);
    DisposeMovieTrack(m.sound);
    expectNoQTObject("disposed track", gone, &Kelvo_Track::getQTTrack, invalidTrack);

    // A success clears an earlier failure's status.
    Kelvo_Track video(m.video);
    empty.getQTTrack();
    video = m.video;
    ASSERT_NE(video.getQTTrack(), nullptr);
    EXPECT_EQ(video.Error(), 0);
}

TEST(CocoaMedia, QTMediaOfTheMediaAndItsTrack) {
    TwoTrackMovie m;
    NSAutoreleasePool pool;
    Kelvo_Media media(m.sound);
    ASSERT_TRUE(media.qtObjIsValid());
    QTMedia* converted = static_cast<QTMedia*>(static_cast<const Kelvo_Media&>(media));
    ASSERT_NE(converted, nullptr);
    EXPECT_EQ(converted->quickTimeMedia(), GetTrackMedia(m.sound));

    QTMedia* qt = media.getQTMedia();
    ASSERT_NE(qt, nullptr);
    EXPECT_EQ(media.Error(), 0);
    EXPECT_EQ(qt->quickTimeMedia(), GetTrackMedia(m.sound));

    QTTrack* parent = media.parentQTContainer();
    ASSERT_NE(parent, nullptr);
    EXPECT_EQ(parent->quickTimeTrack(), m.sound);
    EXPECT_EQ(parent->movie()->quickTimeMovie(), m.movie);
}

TEST(CocoaMedia, NoMediaOrAGoneMediaGivesNothing) {
    NSAutoreleasePool pool;
    Kelvo_Media empty;
    expectNoQTObject("no media", empty, &Kelvo_Media::getQTMedia, kKelvoNoMedia);

    TwoTrackMovie m;
    Kelvo_Media gone(m.video);
    DisposeTrackMedia(GetTrackMedia(m.video));
    expectNoQTObject("disposed media", gone, &Kelvo_Media::getQTMedia, invalidMedia);
}

TEST(CocoaMovie, NoMovieOrAGoneMovieGivesNothing) {
    NSAutoreleasePool pool;
    Kelvo_Movie empty(static_cast<Movie>(nullptr), false);
    ASSERT_FALSE(empty.qtObjIsValid());
    EXPECT_EQ(static_cast<QTMovie*>(static_cast<const Kelvo_Movie&>(empty)), nullptr);
    EXPECT_EQ(empty.getQTMovie(), nullptr);
    EXPECT_EQ(empty.Error(), kKelvoNoMovie);

    // A borrowed movie that its owner disposed of cannot be copied.
    Movie movie = NewMovie(0);
    Kelvo_Movie borrowed(movie, false);
    ASSERT_TRUE(borrowed.qtObjIsValid());
    DisposeMovie(movie);
    EXPECT_EQ(static_cast<QTMovie*>(static_cast<const Kelvo_Movie&>(borrowed)), nullptr);
    EXPECT_EQ(borrowed.getQTMovie(), nullptr);
    EXPECT_EQ(borrowed.Error(), invalidMovie);
}

TEST(CocoaMovie, QTMovieOwnsACopyOfTheMovie) {
    TwoTrackMovie m;
    {
        int32_t err = 0;
        Movie probe = Kelvo_Utils::MovieCopy(m.movie, err, false);
        if (!probe)
            GTEST_SKIP() << "copying a movie needs NewMovieFromProperties to read a movie back from a "
                            "handle, which the movie layer cannot do yet (error "
                         << err << ")";
        DisposeMovie(probe);
    }
    Movie copy = nullptr;
    {
        NSAutoreleasePool pool;
        auto movie = std::make_unique<Kelvo_Movie>(m.movie, false);
        QTMovie* qt = movie->getQTMovie();
        ASSERT_NE(qt, nullptr);
        EXPECT_EQ(movie->Error(), 0);
        copy = qt->quickTimeMovie();
        ASSERT_NE(copy, nullptr);
        EXPECT_NE(copy, m.movie);
        EXPECT_EQ(GetMovieTrackCount(copy), 2);
        EXPECT_EQ(GetMovieDuration(copy), GetMovieDuration(m.movie));
        EXPECT_EQ(GetMovieTimeScale(copy), GetMovieTimeScale(m.movie));

        // Each conversion is a copy of its own, and the objects outlive the wrapper.
        QTMovie* other = static_cast<QTMovie*>(static_cast<const Kelvo_Movie&>(*movie));
        ASSERT_NE(other, nullptr);
        EXPECT_NE(other->quickTimeMovie(), copy);
        EXPECT_NE(other->quickTimeMovie(), m.movie);
        movie.reset();
        EXPECT_TRUE(movieLives(copy));
    }
    // The copy went with its object; the movie stays.
    EXPECT_FALSE(movieLives(copy));
    EXPECT_TRUE(movieLives(m.movie));
    EXPECT_EQ(GetMovieTrackCount(m.movie), 2);
}
