#include "PlatformErrors.h"

namespace {
thread_local OSErr gMoviesError = noErr;
thread_local OSErr gStickyError = noErr;
} // namespace

OSErr GetMoviesError() {
    return gMoviesError;
}

OSErr GetMoviesStickyError() {
    return gStickyError;
}

void ClearMoviesStickyError() {
    gStickyError = noErr;
}

namespace platform {
OSErr setMoviesError(OSErr err) {
    if (err != noErr && gStickyError == noErr) gStickyError = err;
    return gMoviesError = err;
}
} // namespace platform
