#include "PlatformPendingCalls.h"

#include "PlatformErrors.h"

// ---------------------------------------------------------------------------------------------
// Movies in handles and files, and their drawing: not made yet.

OSStatus NewMovieFromProperties(ItemCount, QTNewMoviePropertyElement*, ItemCount, QTNewMoviePropertyElement*,
                                Movie* theMovie) {
    if (theMovie) *theMovie = nullptr;
    return platform::setMoviesError(invalidMovie);
}

void SetMovieGWorld(Movie, CGrafPtr, GDevice**) {
    platform::setMoviesError(invalidMovie);
}

void MoviesTask(Movie, int32_t) {
    platform::setMoviesError(invalidMovie);
}

// ---------------------------------------------------------------------------------------------
// Importers.

OSErr GetMovieImporterForDataRef(OSType, Handle, int32_t, Component* importer) {
    if (importer) *importer = nullptr;
    return cantFindHandler;
}
