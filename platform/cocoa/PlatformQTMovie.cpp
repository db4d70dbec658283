#include "PlatformQTMovie.h"

#include "PlatformErrors.h"
#include "PlatformMovies.h"

namespace {

// Answers false and hands out the error for `code`, the platform's answer when it has one.
bool refuse(OSErr code, NSError** error) {
    if (error) *error = NSError::errorWithDomain(NSOSStatusErrorDomain, code);
    return false;
}

void succeed(NSError** error) {
    if (error) *error = nullptr;
}

// Whether the movie layer knows the reference; the probes below change nothing.
bool checkMovie(Movie movie, NSError** error) {
    if (!movie) return refuse(invalidMovie, error);
    GetMovieTimeScale(movie);
    OSErr err = GetMoviesError();
    return err == noErr || refuse(err, error);
}

bool checkTrack(Track track, NSError** error) {
    if (!track) return refuse(invalidTrack, error);
    if (GetTrackMovie(track)) return true;
    OSErr err = GetMoviesError();
    return refuse(err != noErr ? err : invalidTrack, error);
}

bool checkMedia(Media media, NSError** error) {
    if (!media) return refuse(invalidMedia, error);
    GetMediaTimeScale(media);
    OSErr err = GetMoviesError();
    return err == noErr || refuse(err, error);
}

} // namespace

QTMovie* QTMovie::movieWithQuickTimeMovie(Movie movie, bool disposeWhenDone, NSError** error) {
    if (!checkMovie(movie, error)) return nullptr;
    succeed(error);
    return autoreleased(new QTMovie(movie, disposeWhenDone));
}

QTMovie::~QTMovie() {
    if (_disposeWhenDone) DisposeMovie(_movie);
}

QTTrack* QTTrack::trackWithQuickTimeTrack(Track track, NSError** error) {
    if (!checkTrack(track, error)) return nullptr;
    QTMovie* movie = QTMovie::movieWithQuickTimeMovie(GetTrackMovie(track), false, error);
    if (!movie) return nullptr;
    movie->retain();
    return autoreleased(new QTTrack(track, movie));
}

QTTrack::~QTTrack() {
    _movie->release();
}

QTMedia* QTMedia::mediaWithQuickTimeMedia(Media media, NSError** error) {
    if (!checkMedia(media, error)) return nullptr;
    QTTrack* track = nullptr;
    if (Track owner = GetMediaTrack(media)) {
        track = QTTrack::trackWithQuickTimeTrack(owner, error);
        if (!track) return nullptr;
        track->retain();
    }
    succeed(error);
    return autoreleased(new QTMedia(media, track));
}

QTMedia::~QTMedia() {
    if (_track) _track->release();
}
