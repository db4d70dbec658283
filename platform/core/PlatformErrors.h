// The last error of the movie toolbox calls (atom containers included), as GetMoviesError()
// answers it. Every call of the layer sets it. The sticky error keeps the first error since it
// was last cleared, so that a caller can run a series of calls and look once at the end.
#pragma once

#include "PlatformTypes.h"

OSErr GetMoviesError();

// The first movie-toolbox error since the sticky error was last cleared.
OSErr GetMoviesStickyError();
void ClearMoviesStickyError();

namespace platform {
OSErr setMoviesError(OSErr err);
} // namespace platform
