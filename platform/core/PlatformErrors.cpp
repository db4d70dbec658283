#include "PlatformErrors.h"

namespace {
// Both values of a thread in one small record. Every platform call sets it, so it takes the
// initial-exec model: a plug-in's four bytes fit the static space the loader keeps for libraries
// opened later, and each access is then one instruction instead of a call into the loader.
struct MoviesErrors {
    OSErr last = noErr;
    OSErr sticky = noErr;
};
thread_local MoviesErrors gErrors __attribute__((tls_model("initial-exec")));
} // namespace

OSErr GetMoviesError() {
    return gErrors.last;
}

OSErr GetMoviesStickyError() {
    return gErrors.sticky;
}

void ClearMoviesStickyError() {
    gErrors.sticky = noErr;
}

namespace platform {
OSErr setMoviesError(OSErr err) {
    MoviesErrors& e = gErrors;
    if (err != noErr && e.sticky == noErr) e.sticky = err;
    return e.last = err;
}
} // namespace platform
