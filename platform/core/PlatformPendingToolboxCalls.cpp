#include "PlatformPendingToolboxCalls.h"

#include "PlatformErrors.h"
#include "PlatformPendingCalls.h"

UserData GetMovieUserData(Movie) {
    platform::setMoviesError(invalidMovie);
    return nullptr;
}

OSErr GetUserDataItem(UserData, void*, int32_t, OSType, int32_t) {
    return platform::setMoviesError(userDataItemNotFound);
}

OSErr SetUserDataItem(UserData, void*, int32_t, OSType, int32_t) {
    return platform::setMoviesError(paramErr);
}

// No movie exists before the movie layer, so no call has failed on one yet.
OSErr GetMoviesStickyError() {
    return noErr;
}

void ClearMoviesStickyError() {}
