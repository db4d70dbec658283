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

struct GDevice;
struct OpaqueQTAudioContext;
using QTAudioContextRef = OpaqueQTAudioContext*;

// Rates, time bases, volumes, drawing, clips, media handlers, play hints, aperture modes and
// audio contexts: the movie layer's playback.
Fixed GetMovieRate(Movie theMovie);
void SetMovieRate(Movie theMovie, Fixed rate);
Fixed GetMoviePreferredRate(Movie theMovie);
void SetMoviePreferredRate(Movie theMovie, Fixed rate);
void SetMovieMasterTimeBase(Movie theMovie, TimeBase master, const TimeRecord* slaveZero);
int16_t GetMovieVolume(Movie theMovie);
void SetMovieVolume(Movie theMovie, int16_t volume);
int16_t GetMoviePreferredVolume(Movie theMovie);
void SetMoviePreferredVolume(Movie theMovie, int16_t volume);
ComponentResult GetMovieStatus(Movie theMovie, Track* firstProblemTrack);
void GetMovieGWorld(Movie theMovie, CGrafPtr* port, GDevice*** gdh);
PicHandle GetTrackPict(Track theTrack, TimeValue time);
void SetMovieClipRgn(Movie theMovie, RgnHandle theClip);
void SetTrackClipRgn(Track theTrack, RgnHandle theClip);
ComponentResult MediaSetGraphicsMode(MediaHandler mh, int32_t mode, const RGBColor* opColor);
ComponentResult MediaGetSoundBalance(MediaHandler mh, int16_t* balance);
ComponentResult MediaSetSoundBalance(MediaHandler mh, int16_t balance);
ComponentResult MediaGetPublicInfo(MediaHandler mh, OSType infoSelector, void* infoDataPtr, Size* ioDataSize);
ComponentResult MediaGenerateApertureModeDimensions(MediaHandler mh);
ComponentResult VideoMediaGetStatistics(MediaHandler mh);
ComponentResult VideoMediaResetStatistics(MediaHandler mh);
void GetMediaPlayHints(Media theMedia, int32_t* flags);
void SetMediaPlayHints(Media theMedia, int32_t flags);
void GetTrackLoadSettings(Track theTrack, TimeValue* preloadTime, TimeValue* preloadDuration,
                          int32_t* preloadFlags, int32_t* defaultHints);
void SetTrackLoadSettings(Track theTrack, TimeValue preloadTime, TimeValue preloadDuration,
                          int32_t preloadFlags, int32_t defaultHints);
OSErr GenerateMovieApertureModeDimensions(Movie theMovie);
OSErr RemoveMovieApertureModeDimensions(Movie theMovie);
OSErr GenerateTrackApertureModeDimensions(Track theTrack);
OSErr RemoveTrackApertureModeDimensions(Track theTrack);
OSErr SetTrackApertureModeDimensionsUsingSampleDescription(Track theTrack,
                                                           SampleDescriptionHandle sampleDesc);
void SetAutoTrackAlternatesEnabled(Movie theMovie, Boolean enable);
OSStatus QTAudioContextCreateForAudioDevice(CFAllocatorRef allocator, CFStringRef coreAudioDeviceUID,
                                            CFDictionaryRef options, QTAudioContextRef* newAudioContextOut);
void QTAudioContextRelease(QTAudioContextRef audioContext);
OSStatus SetMovieAudioContext(Movie theMovie, QTAudioContextRef audioContext);

