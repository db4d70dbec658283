// Display-side calls on movies, tracks, media handlers and sequence-grabber channels that the
// imaging and movie layers answer: clip regions, matrices, graphics modes, the visual
// characteristic, movie time bases, and the drawing of pictures. Until those layers
// provide them, each call here answers with the platform's status for the object it cannot reach
// (invalidMovie, invalidTrack, invalidMedia, badComponentInstance, unimpErr) and hands back
// nothing; the layers replace the definitions in PlatformPendingDisplayCalls.cpp. Offscreen worlds
// and the current port are the imaging layer's (PlatformGWorlds.h); the graphics importers' drawing
// settings are the imaging layer's too (PlatformGraphicsImport.h). (GetMovieIndTrackType,
// GetMediaTrack and CloseComponent are among the calls of PlatformPendingCalls.h.)
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
constexpr OSType VisualMediaCharacteristic = FOUR_CHAR_CODE("eyes");
enum : int32_t {
    movieTrackMediaType = 1 << 0,
    movieTrackCharacteristic = 1 << 1,
    movieTrackEnabledOnly = 1 << 2
};

// Movies, tracks and media (GetMoviesError() tells the result).
RgnHandle GetMovieClipRgn(Movie movie);
RgnHandle GetTrackClipRgn(Track track);
void GetMovieMatrix(Movie movie, MatrixRecord* matrix);
void GetTrackMatrix(Track track, MatrixRecord* matrix);
Media GetTrackMedia(Track track);
MediaHandler GetMediaHandler(Media media);
TimeBase GetMovieTimeBase(Movie movie);
ComponentResult MediaGetGraphicsMode(MediaHandler handler, int32_t* graphicsMode, RGBColor* opColor);
ComponentResult MediaHasCharacteristic(MediaHandler handler, OSType characteristic, Boolean* hasIt);

// Sequence-grabber channels.
ComponentResult SGGetChannelClip(SGChannel channel, RgnHandle* clipRgn);

