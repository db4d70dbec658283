// Display-side calls on sequence-grabber channels that the movie layer answers, and the types
// that media handlers and drawing share. Until that layer provides them, each call here answers
// with the platform's status for the object it cannot reach (badComponentInstance) and hands back
// nothing; the layer replaces the definitions in PlatformPendingDisplayCalls.cpp. Clip regions,
// graphics modes, media handlers and movie time bases are the movie layer's
// (PlatformMoviePlayback.h); offscreen worlds and the current port are the imaging layer's
// (PlatformGWorlds.h). CloseComponent is among the calls of PlatformPendingCalls.h.
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

// Sequence-grabber channels.
ComponentResult SGGetChannelClip(SGChannel channel, RgnHandle* clipRgn);
