// Movie-toolbox calls that the toolkit's movie, track and media wrappers make and that other
// parts of the movie layer answer. Until those parts provide them, each call here answers with
// the platform's status for the object it cannot reach and hands back nothing.
#pragma once

#include "PlatformCF.h"
#include "PlatformDescriptions.h"
#include "PlatformFiles.h"
#include "PlatformObjects.h"
#include "PlatformPendingDisplayCalls.h"
#include "PlatformTimeBase.h"
#include "PlatformTypes.h"
#include "PlatformMovieControllers.h"
#include "PlatformMovieExport.h"
#include "PlatformMovieFileReader.h"
#include "PlatformMovieFiles.h"
#include "PlatformMoviePlayback.h"

// Track load settings, a media handler's own aperture dimensions, aperture dimensions from a
// given description and automatic alternates: not made yet.
void GetTrackLoadSettings(Track theTrack, TimeValue* preloadTime, TimeValue* preloadDuration,
                          int32_t* preloadFlags, int32_t* defaultHints);
void SetTrackLoadSettings(Track theTrack, TimeValue preloadTime, TimeValue preloadDuration,
                          int32_t preloadFlags, int32_t defaultHints);
ComponentResult MediaGenerateApertureModeDimensions(MediaHandler mh);
OSErr SetTrackApertureModeDimensionsUsingSampleDescription(Track theTrack,
                                                           SampleDescriptionHandle sampleDesc);
void SetAutoTrackAlternatesEnabled(Movie theMovie, Boolean enable);
