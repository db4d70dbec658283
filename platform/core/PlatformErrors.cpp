#include "PlatformErrors.h"

namespace {
thread_local OSErr gMoviesError = noErr;
}

OSErr GetMoviesError() {
    return gMoviesError;
}

namespace platform {
OSErr setMoviesError(OSErr err) {
    return gMoviesError = err;
}
} // namespace platform
