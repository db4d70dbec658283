#include "PlatformPendingCalls.h"

#include "PlatformErrors.h"

// ---------------------------------------------------------------------------------------------
// Movies in handles and files, and their drawing: not made yet.

void SetMovieGWorld(Movie, CGrafPtr, GDevice**) {
    platform::setMoviesError(invalidMovie);
}

void MoviesTask(Movie, int32_t) {
    platform::setMoviesError(invalidMovie);
}
