// The Cocoa build's QTKit views of a movie, a track and a media.
#include "KelvoCoreObjectsUtils.h"
#include "KelvoMedia.h"
#include "KelvoMovie.h"
#include "KelvoTrack.h"
#include "PlatformCocoa.h"
#include "PlatformMovies.h"

namespace {

// The code of a QTKit error; `fallback` when the factory failed without telling why.
int32_t codeOf(const NSError* error, int32_t fallback) {
    return error ? static_cast<int32_t>(error->code()) : fallback;
}

// The QTKit object that `make` gives for `ref`; `status` receives noErr, or the factory's error
// (`invalid` when it gives none).
template <class Object, class Ref>
Object* bridged(Ref ref, Object* (*make)(Ref, NSError**), int32_t invalid, int32_t& status) {
    NSError* error = nullptr;
    Object* object = make(ref, &error);
    status = object ? noErr : codeOf(error, invalid);
    return object;
}

// A QTKit movie over a copy of `movie` that disposes of the copy when it goes, so that the
// object's movie never depends on the wrapper's lifetime. `err` receives the copy's or QTKit's
// error.
QTMovie* qtMovieOf(Movie movie, int32_t& err) {
    err = noErr;
    Movie copy = Kelvo_Utils::MovieCopy(movie, err, false);
    if (!copy) {
        if (err == noErr) err = invalidMovie;
        return nullptr;
    }
    NSError* error = nullptr;
    QTMovie* object = QTMovie::movieWithQuickTimeMovie(copy, true, &error);
    if (!object) {
        // Nobody took the copy over.
        DisposeMovie(copy);
        err = codeOf(error, invalidMovie);
        return nullptr;
    }
    err = noErr;
    return object;
}

} // namespace

Kelvo_Movie::operator QTMovie*() const {
    if (!_movie) return nullptr;
    int32_t err = noErr;
    return qtMovieOf(_movie, err);
}

QTMovie* Kelvo_Movie::getQTMovie() {
    if (!_movie) {
        _status = kKelvoNoMovie;
        return nullptr;
    }
    int32_t err = noErr;
    QTMovie* object = qtMovieOf(_movie, err);
    _status = err;
    return object;
}

Kelvo_Track::operator QTTrack*() const {
    return _track ? QTTrack::trackWithQuickTimeTrack(_track, nullptr) : nullptr;
}

QTTrack* Kelvo_Track::getQTTrack() {
    if (!_track) {
        _status = kKelvoNoTrack;
        return nullptr;
    }
    return bridged(_track, &QTTrack::trackWithQuickTimeTrack, invalidTrack, _status);
}

QTMovie* Kelvo_Track::parentQTContainer() {
    QTTrack* object = getQTTrack();
    return object ? object->movie() : nullptr;
}

Kelvo_Media::operator QTMedia*() const {
    return _media ? QTMedia::mediaWithQuickTimeMedia(_media, nullptr) : nullptr;
}

QTMedia* Kelvo_Media::getQTMedia() {
    if (!_media) {
        _status = kKelvoNoMedia;
        return nullptr;
    }
    return bridged(_media, &QTMedia::mediaWithQuickTimeMedia, invalidMedia, _status);
}

QTTrack* Kelvo_Media::parentQTContainer() {
    QTMedia* object = getQTMedia();
    return object ? object->track() : nullptr;
}
