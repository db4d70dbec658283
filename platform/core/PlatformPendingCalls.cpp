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

// ---------------------------------------------------------------------------------------------
// Components (CloseComponent is the component manager's, in the imaging layer).

int32_t MCIsEditingEnabled(MovieController) {
    return 0;
}

ComponentResult MCDoAction(MovieController, int16_t, void*) {
    return badComponentInstance;
}

TimeValue MCGetCurrentTime(MovieController, TimeScale* scale) {
    if (scale) *scale = 0;
    return 0;
}

ComponentResult SGGetDataRef(SeqGrabComponent, Handle* dataRef, OSType* dataRefType, int32_t* whereFlags) {
    if (dataRef) *dataRef = nullptr;
    if (dataRefType) *dataRefType = 0;
    if (whereFlags) *whereFlags = 0;
    return badComponentInstance;
}

ComponentResult SGGetChannelSampleDescription(SGChannel, Handle) {
    return badComponentInstance;
}
