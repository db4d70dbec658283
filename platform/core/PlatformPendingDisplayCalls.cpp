#include "PlatformPendingDisplayCalls.h"

#include "PlatformErrors.h"

#include <cstring>

RgnHandle GetMovieClipRgn(Movie) {
    platform::setMoviesError(invalidMovie);
    return nullptr;
}

RgnHandle GetTrackClipRgn(Track) {
    platform::setMoviesError(invalidTrack);
    return nullptr;
}

// A media made in the core has no handler.
MediaHandler GetMediaHandler(Media media) {
    platform::setMoviesError(media ? noErr : invalidMedia);
    return nullptr;
}

TimeBase GetMovieTimeBase(Movie) {
    platform::setMoviesError(invalidMovie);
    return nullptr;
}

ComponentResult MediaGetGraphicsMode(MediaHandler, int32_t* graphicsMode, RGBColor* opColor) {
    if (graphicsMode) *graphicsMode = 0;
    if (opColor) *opColor = RGBColor{0, 0, 0};
    return badComponentInstance;
}

ComponentResult MediaHasCharacteristic(MediaHandler, OSType, Boolean* hasIt) {
    if (hasIt) *hasIt = false;
    return badComponentInstance;
}
