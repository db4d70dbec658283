// QTKit's movie, track and media objects over the movie layer's references.
//
// Each object wraps one platform reference and answers it back; a track knows the movie object
// of its movie and a media the track object of its track, both made with it and kept for its
// life. The factories check the reference against the movie layer first: a null, unknown or
// disposed reference gives no object and an error in NSOSStatusErrorDomain whose code is the
// platform's (invalidMovie, invalidTrack, invalidMedia). Objects are autoreleased, as the
// platform's factories answer them.
//
// Only a movie object made to dispose of its movie owns anything of the platform's. A track or
// media object does not keep its movie alive: once its owner disposes of the movie, the
// references it answers name nothing, and the movie layer refuses them without harm.
#pragma once

#include "PlatformCocoaError.h"
#include "PlatformMedia.h"
#include "PlatformObjects.h"

class QTMovie final : public NSObject {
  public:
    // A movie object for `movie`. With `disposeWhenDone` the object takes the movie over and
    // disposes of it when it goes; otherwise the movie stays its owner's. On failure the movie
    // is left as it was (still the caller's) and `*error`, when `error` is not null, receives
    // the error (autoreleased); on success `*error` is set to null.
    static QTMovie* movieWithQuickTimeMovie(Movie movie, bool disposeWhenDone, NSError** error);

    Movie quickTimeMovie() const { return _movie; }

  private:
    QTMovie(Movie movie, bool disposeWhenDone) : _movie(movie), _disposeWhenDone(disposeWhenDone) {}
    ~QTMovie() override;

    Movie _movie;
    bool _disposeWhenDone;
};

class QTTrack final : public NSObject {
  public:
    // A track object for `track`, with a movie object of the track's movie that does not
    // dispose of it. `error` as for movies.
    static QTTrack* trackWithQuickTimeTrack(Track track, NSError** error);

    Track quickTimeTrack() const { return _track; }
    // The movie object of the track's movie, owned by the track object.
    QTMovie* movie() const { return _movie; }

  private:
    QTTrack(Track track, QTMovie* movie) : _track(track), _movie(movie) {}
    ~QTTrack() override;

    Track _track;
    QTMovie* _movie;
};

class QTMedia final : public NSObject {
  public:
    // A media object for `media`, with a track object of the media's track (none for a media
    // that belongs to no track). `error` as for movies.
    static QTMedia* mediaWithQuickTimeMedia(Media media, NSError** error);

    Media quickTimeMedia() const { return _media; }
    // The track object of the media's track, owned by the media object; null for a media of
    // no track.
    QTTrack* track() const { return _track; }

  private:
    QTMedia(Media media, QTTrack* track) : _media(media), _track(track) {}
    ~QTMedia() override;

    Media _media;
    QTTrack* _track;
};
