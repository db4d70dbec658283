// Display-side calls on movies, tracks and media handlers that the
// imaging and movie layers answer: clip regions, graphics modes, media handlers, movie time bases,
// and the drawing of pictures. Until those layers provide them, each call here answers with the
// platform's status for the object it cannot reach (invalidMovie, invalidTrack, invalidMedia,
// badComponentInstance, unimpErr) and hands back nothing; the layers replace the definitions in
// PlatformPendingDisplayCalls.cpp. Offscreen worlds and the current port are the imaging layer's
// (PlatformGWorlds.h); the graphics importers' drawing settings are the imaging layer's too
// (PlatformGraphicsImport.h). Matrices, tracks and media of movies are the movie layer's
// (PlatformMovies.h); CloseComponent is among the calls of PlatformPendingCalls.h.
#pragma once

#include "PlatformDescriptions.h"
#include "PlatformMatrix.h"
#include "PlatformObjects.h"
#include "PlatformPendingCalls.h"
#include "PlatformRegions.h"
#include "PlatformTimeBase.h"

using MediaHandler = ComponentInstance;

// A transfer mode and its op colour, as media handlers and decompressors take them.
struct ModifierTrackGraphicsModeRecord {
    int32_t graphicsMode;
    RGBColor opColor;
};
static_assert(sizeof(ModifierTrackGraphicsModeRecord) == 12);

constexpr OSErr unimpErr = -4;

// Movies, tracks and media (GetMoviesError() tells the result).
RgnHandle GetMovieClipRgn(Movie movie);
RgnHandle GetTrackClipRgn(Track track);
MediaHandler GetMediaHandler(Media media);
TimeBase GetMovieTimeBase(Movie movie);
ComponentResult MediaGetGraphicsMode(MediaHandler handler, int32_t* graphicsMode, RGBColor* opColor);
ComponentResult MediaHasCharacteristic(MediaHandler handler, OSType characteristic, Boolean* hasIt);
