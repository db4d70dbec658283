#include "PlatformPendingCalls.h"

#include "PlatformErrors.h"

// ---------------------------------------------------------------------------------------------
// Movies in handles and files: not made yet.

OSStatus NewMovieFromProperties(ItemCount, QTNewMoviePropertyElement*, ItemCount, QTNewMoviePropertyElement*,
                                Movie* theMovie) {
    if (theMovie) *theMovie = nullptr;
    return platform::setMoviesError(invalidMovie);
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

OSErr GetMovieImporterForDataRef(OSType, Handle, int32_t, Component* importer) {
    if (importer) *importer = nullptr;
    return cantFindHandler;
}
