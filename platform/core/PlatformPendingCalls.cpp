#include "PlatformPendingCalls.h"

#include "PlatformErrors.h"

#include <cstring>

void GetMovieBox(Movie, Rect* box) {
    if (box) std::memset(box, 0, sizeof *box);
    platform::setMoviesError(invalidMovie);
}

void GetTrackDimensions(Track, Fixed* width, Fixed* height) {
    if (width) *width = 0;
    if (height) *height = 0;
    platform::setMoviesError(invalidTrack);
}

// A media made in the core belongs to no track.
Track GetMediaTrack(Media media) {
    platform::setMoviesError(media ? noErr : invalidMedia);
    return nullptr;
}

// ---------------------------------------------------------------------------------------------
// Movies: no movie exists before the movie layer makes them.

OSErr PutMovieIntoHandle(Movie, Handle) {
    return platform::setMoviesError(invalidMovie);
}

OSStatus NewMovieFromProperties(ItemCount, QTNewMoviePropertyElement*, ItemCount, QTNewMoviePropertyElement*,
                                Movie* theMovie) {
    if (theMovie) *theMovie = nullptr;
    return platform::setMoviesError(invalidMovie);
}

void GetMovieNaturalBoundsRect(Movie, Rect* naturalBounds) {
    if (naturalBounds) std::memset(naturalBounds, 0, sizeof *naturalBounds);
    platform::setMoviesError(invalidMovie);
}

void SetMovieGWorld(Movie, CGrafPtr, GDevice**) {
    platform::setMoviesError(invalidMovie);
}

void SetMovieTimeValue(Movie, TimeValue) {
    platform::setMoviesError(invalidMovie);
}

void MoviesTask(Movie, int32_t) {
    platform::setMoviesError(invalidMovie);
}

void DisposeMovie(Movie) {
    platform::setMoviesError(invalidMovie);
}

Boolean GetMovieActive(Movie) {
    platform::setMoviesError(invalidMovie);
    return false;
}

void SetMovieMatrix(Movie, const MatrixRecord*) {
    platform::setMoviesError(invalidMovie);
}

void SetTrackMatrix(Track, const MatrixRecord*) {
    platform::setMoviesError(invalidTrack);
}

Track GetMovieIndTrackType(Movie, int32_t, OSType, int32_t) {
    platform::setMoviesError(invalidMovie);
    return nullptr;
}

TimeValue GetMovieDuration(Movie) {
    platform::setMoviesError(invalidMovie);
    return 0;
}

OSErr GetMovieDefaultDataRef(Movie, Handle* outDataRef, OSType* outDataRefType) {
    if (outDataRef) *outDataRef = nullptr;
    if (outDataRefType) *outDataRefType = 0;
    return platform::setMoviesError(invalidMovie);
}

// ---------------------------------------------------------------------------------------------
// Metadata: no movie, track or media exists yet to carry a store.

OSStatus QTCopyMovieMetaData(Movie, QTMetaDataRef* outMetaData) {
    if (outMetaData) *outMetaData = nullptr;
    return platform::setMoviesError(invalidMovie);
}

OSStatus QTCopyTrackMetaData(Track, QTMetaDataRef* outMetaData) {
    if (outMetaData) *outMetaData = nullptr;
    return platform::setMoviesError(invalidTrack);
}

OSStatus QTCopyMediaMetaData(Media, QTMetaDataRef* outMetaData) {
    if (outMetaData) *outMetaData = nullptr;
    return platform::setMoviesError(invalidMedia);
}

// ---------------------------------------------------------------------------------------------
// Media: a media made in the core has no data references and no sample descriptions.

OSErr GetMediaDataRef(Media media, int16_t, Handle* dataRef, OSType* dataRefType,
                      int32_t* dataRefAttributes) {
    if (dataRef) *dataRef = nullptr;
    if (dataRefType) *dataRefType = 0;
    if (dataRefAttributes) *dataRefAttributes = 0;
    return platform::setMoviesError(media ? badDataRefIndex : invalidMedia);
}

void GetMediaSampleDescription(Media media, int32_t, SampleDescriptionHandle descH) {
    if (descH) SetHandleSize(reinterpret_cast<Handle>(descH), 0);
    platform::setMoviesError(media ? badDataRefIndex : invalidMedia);
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
