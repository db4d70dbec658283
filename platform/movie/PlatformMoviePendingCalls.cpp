#include "PlatformMoviePendingCalls.h"

#include "PlatformErrors.h"

namespace {

template <class T> T refuse(OSErr err, T answer) {
    platform::setMoviesError(err);
    return answer;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Playback's calls.

Fixed GetMovieRate(Movie) {
    return refuse(invalidMovie, Fixed(0));
}

void SetMovieRate(Movie, Fixed) {
    platform::setMoviesError(invalidMovie);
}

Fixed GetMoviePreferredRate(Movie) {
    return refuse(invalidMovie, Fixed(0));
}

void SetMoviePreferredRate(Movie, Fixed) {
    platform::setMoviesError(invalidMovie);
}

void SetMovieMasterTimeBase(Movie, TimeBase, const TimeRecord*) {
    platform::setMoviesError(invalidMovie);
}

int16_t GetMovieVolume(Movie) {
    return refuse(invalidMovie, int16_t(0));
}

void SetMovieVolume(Movie, int16_t) {
    platform::setMoviesError(invalidMovie);
}

int16_t GetMoviePreferredVolume(Movie) {
    return refuse(invalidMovie, int16_t(0));
}

void SetMoviePreferredVolume(Movie, int16_t) {
    platform::setMoviesError(invalidMovie);
}

ComponentResult GetMovieStatus(Movie, Track* firstProblemTrack) {
    if (firstProblemTrack) *firstProblemTrack = nullptr;
    return refuse(invalidMovie, ComponentResult(invalidMovie));
}

void GetMovieGWorld(Movie, CGrafPtr* port, GDevice*** gdh) {
    if (port) *port = nullptr;
    if (gdh) *gdh = nullptr;
    platform::setMoviesError(invalidMovie);
}

PicHandle GetTrackPict(Track, TimeValue) {
    return refuse(invalidTrack, PicHandle(nullptr));
}

void SetMovieClipRgn(Movie, RgnHandle) {
    platform::setMoviesError(invalidMovie);
}

void SetTrackClipRgn(Track, RgnHandle) {
    platform::setMoviesError(invalidTrack);
}

ComponentResult MediaSetGraphicsMode(MediaHandler, int32_t, const RGBColor*) {
    return badComponentInstance;
}

ComponentResult MediaGetSoundBalance(MediaHandler, int16_t* balance) {
    if (balance) *balance = 0;
    return badComponentInstance;
}

ComponentResult MediaSetSoundBalance(MediaHandler, int16_t) {
    return badComponentInstance;
}

ComponentResult MediaGetPublicInfo(MediaHandler, OSType, void*, Size* ioDataSize) {
    if (ioDataSize) *ioDataSize = 0;
    return badComponentInstance;
}

ComponentResult MediaGenerateApertureModeDimensions(MediaHandler) {
    return badComponentInstance;
}

ComponentResult VideoMediaGetStatistics(MediaHandler) {
    return badComponentInstance;
}

ComponentResult VideoMediaResetStatistics(MediaHandler) {
    return badComponentInstance;
}

void GetMediaPlayHints(Media, int32_t* flags) {
    if (flags) *flags = 0;
    platform::setMoviesError(invalidMedia);
}

void SetMediaPlayHints(Media, int32_t) {
    platform::setMoviesError(invalidMedia);
}

void GetTrackLoadSettings(Track, TimeValue* preloadTime, TimeValue* preloadDuration, int32_t* preloadFlags,
                          int32_t* defaultHints) {
    if (preloadTime) *preloadTime = 0;
    if (preloadDuration) *preloadDuration = 0;
    if (preloadFlags) *preloadFlags = 0;
    if (defaultHints) *defaultHints = 0;
    platform::setMoviesError(invalidTrack);
}

void SetTrackLoadSettings(Track, TimeValue, TimeValue, int32_t, int32_t) {
    platform::setMoviesError(invalidTrack);
}

OSErr GenerateMovieApertureModeDimensions(Movie) {
    return platform::setMoviesError(invalidMovie);
}

OSErr RemoveMovieApertureModeDimensions(Movie) {
    return platform::setMoviesError(invalidMovie);
}

OSErr GenerateTrackApertureModeDimensions(Track) {
    return platform::setMoviesError(invalidTrack);
}

OSErr RemoveTrackApertureModeDimensions(Track) {
    return platform::setMoviesError(invalidTrack);
}

OSErr SetTrackApertureModeDimensionsUsingSampleDescription(Track, SampleDescriptionHandle) {
    return platform::setMoviesError(invalidTrack);
}

void SetAutoTrackAlternatesEnabled(Movie, Boolean) {
    platform::setMoviesError(invalidMovie);
}

OSStatus QTAudioContextCreateForAudioDevice(CFAllocatorRef, CFStringRef, CFDictionaryRef,
                                            QTAudioContextRef* newAudioContextOut) {
    if (newAudioContextOut) *newAudioContextOut = nullptr;
    return badComponentInstance;
}

void QTAudioContextRelease(QTAudioContextRef) {}

OSStatus SetMovieAudioContext(Movie, QTAudioContextRef) {
    return platform::setMoviesError(invalidMovie);
}
