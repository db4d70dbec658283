// The types that media handlers and drawing share. Clip regions, graphics modes, media handlers
// and movie time bases are the movie layer's (PlatformMoviePlayback.h); sequence-grabber
// channels are its grabber's (PlatformSequenceGrabber.h); offscreen worlds and the current port
// are the imaging layer's (PlatformGWorlds.h).
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

