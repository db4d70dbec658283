#include "PlatformPendingToolboxCalls.h"

#include "PlatformErrors.h"
#include "PlatformPendingCalls.h"

UserData GetMovieUserData(Movie) {
    platform::setMoviesError(invalidMovie);
    return nullptr;
}

UserData GetTrackUserData(Track) {
    platform::setMoviesError(invalidTrack);
    return nullptr;
}

UserData GetMediaUserData(Media) {
    platform::setMoviesError(invalidMedia);
    return nullptr;
}

ComponentResult SGGetSettings(SeqGrabComponent, UserData* ud, int32_t) {
    if (ud) *ud = nullptr;
    return badComponentInstance;
}

// No movie exists before the movie layer, so no call has failed on one yet.
OSErr GetMoviesStickyError() {
    return noErr;
}

void ClearMoviesStickyError() {}
