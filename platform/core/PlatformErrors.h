// The last error of the movie toolbox calls (atom containers included), as GetMoviesError()
// answers it. Every call of the layer sets it.
#pragma once

#include "PlatformTypes.h"

OSErr GetMoviesError();

namespace platform {
OSErr setMoviesError(OSErr err);
} // namespace platform
