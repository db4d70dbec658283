#include "PlatformMoviePendingCalls.h"

#include "PlatformErrors.h"

// ---------------------------------------------------------------------------------------------
// Not made yet.

ComponentResult MediaGenerateApertureModeDimensions(MediaHandler) {
    return badComponentInstance;
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

OSErr SetTrackApertureModeDimensionsUsingSampleDescription(Track, SampleDescriptionHandle) {
    return platform::setMoviesError(invalidTrack);
}

void SetAutoTrackAlternatesEnabled(Movie, Boolean) {
    platform::setMoviesError(invalidMovie);
}
