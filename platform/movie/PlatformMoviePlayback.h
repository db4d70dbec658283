// Playing and showing movies: each movie's time base and rates, volumes, where a movie draws and
// the drawing of its frames, clip regions, media handlers, and the movie and track properties of
// the audio and visual classes.
//
// - Time. Every movie has a time base (GetMovieTimeBase, owned by the movie: not to be disposed
//   of) in the movie's time scale, running from 0 to the movie's duration and stopping at either
//   end. The movie's current time is the time base's: with a rate other than 0 it moves with the
//   clock that drives the time base (the system clock of PlatformClock.h, or the master time base
//   or clock the movie was slaved to). SetMovieTimeValue sets it.
// - Drawing. A movie draws into the port given to SetMovieGWorld. MoviesTask draws, into that
//   port, the frame that each enabled video track shows at the movie's current time: the sample
//   the track's edits place there, decoded through the imaging layer's codecs, scaled from its
//   description's size to the track's dimensions, placed by the track's and then the movie's
//   matrix, clipped by the track's clip region (track coordinates) and the movie's (movie
//   coordinates), back to front by layer (a lower layer is nearer; within a layer a later track
//   covers an earlier one), with the media handler's graphics mode. It draws only when something
//   it would draw changed since the last time, or after UpdateMovie. A track whose frame cannot
//   be decoded or drawn draws nothing and keeps the status (GetTrackStatus, GetMovieStatus).
// - Regions given to the set calls are copied; regions handed out are new copies that the caller
//   disposes of.
// - Media handlers are component instances (type 'mhlr', subtype the media type) that live as
//   long as their media.
// - Sound is timing only: volumes, balances and audio contexts are kept and answered, nothing is
//   heard.
//
// Every call sets the value GetMoviesError() answers; calls answering a status answer the same.
#pragma once

#include "PlatformCF.h"
#include "PlatformGWorlds.h"
#include "PlatformImageDescriptions.h"
#include "PlatformMovies.h"
#include "PlatformPendingDisplayCalls.h"
#include "PlatformPictures.h"
#include "PlatformProperties.h"
#include "PlatformRegions.h"
#include "PlatformTimeBase.h"

constexpr int16_t kFullVolume = 0x100;
constexpr int16_t kNoVolume = 0;

// ---------------------------------------------------------------------------------------------
// Time bases and rates.

// The movie's time base, made with the movie and disposed of with it.
TimeBase GetMovieTimeBase(Movie movie);
// The rate of the movie's time base: 0 stopped, 1.0 (0x10000) forward at normal speed,
// negative backward. A movie that reaches an end stops there and keeps its rate.
Fixed GetMovieRate(Movie movie);
void SetMovieRate(Movie movie, Fixed rate);
// The rate StartMovie plays at (1.0 for a new movie).
Fixed GetMoviePreferredRate(Movie movie);
void SetMoviePreferredRate(Movie movie, Fixed rate);
// Slaves the movie's time base to another time base or to a clock component (null: free
// running again). Without `slaveZero` the movie keeps its time; with it, the movie's time is
// slaveZero where the master's time is 0 (an offset between the two).
void SetMovieMasterTimeBase(Movie movie, TimeBase master, const TimeRecord* slaveZero);
void SetMovieMasterClock(Movie movie, Component clockMeister, const TimeRecord* slaveZero);
// StartMovie makes the movie active and plays it at its preferred rate; StopMovie sets the rate
// to 0.
void StartMovie(Movie movie);
void StopMovie(Movie movie);
void GoToBeginningOfMovie(Movie movie);
void GoToEndOfMovie(Movie movie);
// Whether the movie stands at the end it runs toward: its end for a rate of 0 or more, its
// beginning for a negative rate.
Boolean IsMovieDone(Movie movie);
// Everything a movie plays is in memory: preroll only checks its arguments.
OSErr PrerollMovie(Movie movie, TimeValue time, Fixed rate);

// ---------------------------------------------------------------------------------------------
// Tasking: when the movies that play next need MoviesTask (PlatformMovieTasks.cpp).
//
// A movie needs a task when the frame of one of its enabled video tracks changes, when it runs
// into the end of its time line (to stop, wrap round or turn), and at once when it waits to be
// drawn again (a new port, UpdateMovie). Only movies whose time moves count.

// The time until the next task any movie needs, in `scale` units per second (rounded up, so that
// a task at that time finds the change made): 0 when one is due now, INT32_MAX when no movie is
// playing. A null result or a scale of 0 or less is refused with paramErr.
OSErr QTGetTimeUntilNextTask(int32_t* duration, int32_t scale);

// Called on the main thread, after a movie's rate changed to one that plays, with the time until
// the next task in the scale given at installation.
using QTNextTaskNeededSoonerCallbackProcPtr = void (*)(TimeValue duration, uint32_t flags, void* refcon);
using QTNextTaskNeededSoonerCallbackUPP = QTNextTaskNeededSoonerCallbackProcPtr;
inline QTNextTaskNeededSoonerCallbackUPP
NewQTNextTaskNeededSoonerCallbackUPP(QTNextTaskNeededSoonerCallbackProcPtr proc) {
    return proc;
}
inline void DisposeQTNextTaskNeededSoonerCallbackUPP(QTNextTaskNeededSoonerCallbackUPP) {}

// A (procedure, refcon) pair is installed once: installing it again only changes its scale and
// flags. A null procedure or a scale of 0 or less gives paramErr; uninstalling a pair that is not
// installed gives paramErr. A callback may install or uninstall callbacks while it runs.
OSErr QTInstallNextTaskNeededSoonerCallback(QTNextTaskNeededSoonerCallbackUPP callbackProc, TimeScale scale,
                                            uint32_t flags, void* refcon);
OSErr QTUninstallNextTaskNeededSoonerCallback(QTNextTaskNeededSoonerCallbackUPP callbackProc, void* refcon);

namespace platform {

// Tells every installed callback the time until the next task (the rate setters call it once
// the movie's lock is released).
void nextTaskNeededSooner();

} // namespace platform

// ---------------------------------------------------------------------------------------------
// Volumes (16-bit, 8.8 fixed: kFullVolume is 1.0; a negative volume is a muted one).

int16_t GetMovieVolume(Movie movie);
void SetMovieVolume(Movie movie, int16_t volume);
int16_t GetMoviePreferredVolume(Movie movie);
void SetMoviePreferredVolume(Movie movie, int16_t volume);

// ---------------------------------------------------------------------------------------------
// Drawing.

// Where the movie draws: an offscreen world (null: the current port) and its device (null: the
// port's own). A port that is not a world is refused with paramErr.
void SetMovieGWorld(Movie movie, CGrafPtr port, GDHandle gdh);
void GetMovieGWorld(Movie movie, CGrafPtr* port, GDHandle* gdh);
// Draws the movie's frame at its current time when it changed (see above); a null movie tasks
// every movie that has a port. The movies error is the first failing track's status, or noErr.
void MoviesTask(Movie movie, int32_t maxMilliSecToUse);
// Makes the next MoviesTask draw the movie's frame again.
OSErr UpdateMovie(Movie movie);
// A new picture (the caller kills it) of the movie's frame at the time, framed by the movie box,
// or of the track's frame, framed by the track's rectangle after the track's and the movie's
// matrices. Null when there is nothing to show (paramErr) or a frame cannot be decoded (the
// codec's status).
PicHandle GetMoviePict(Movie movie, TimeValue time);
PicHandle GetTrackPict(Track track, TimeValue time);

// Clip regions: null means none. The get calls hand out a new copy (or null).
RgnHandle GetMovieClipRgn(Movie movie);
void SetMovieClipRgn(Movie movie, RgnHandle theClip);
RgnHandle GetTrackClipRgn(Track track);
void SetTrackClipRgn(Track track, RgnHandle theClip);

// The status of the last drawing: GetMovieStatus answers the first track (in the movie's order)
// whose frame failed, and that track; noErr and null when every frame drew.
ComponentResult GetMovieStatus(Movie movie, Track* firstProblemTrack);
ComponentResult GetTrackStatus(Track track);

// ---------------------------------------------------------------------------------------------
// Media handlers.

enum : int32_t {
    hintsHighQuality = 1 << 8,
    hintsSingleField = 1 << 20,
};

constexpr OSType MediaHandlerType = FOUR_CHAR_CODE("mhlr");
// Characteristics a media handler answers beyond the visual and audible ones: aperture modes
// (video media) and MPEG media.
constexpr OSType kCharacteristicSupportsApertureModes = FOUR_CHAR_CODE("apmd");
constexpr OSType kCharacteristicIsMPEG = FOUR_CHAR_CODE("mpeg");
constexpr OSType kMHInfoEncodedFrameRate = FOUR_CHAR_CODE("orat");

// The media's handler (cantFindHandler for a media type without one).
MediaHandler GetMediaHandler(Media media);
// Graphics modes of visual media (ditherCopy with a mid-grey op colour when new). Any mode is
// kept; drawing with a mode the blitter does not offer (copy, inverted copy, with or without the
// dither flag) fails with paramErr for that track. badComponentSelector for media without
// pictures, badComponentInstance for anything not a media handler.
ComponentResult MediaGetGraphicsMode(MediaHandler handler, int32_t* graphicsMode, RGBColor* opColor);
ComponentResult MediaSetGraphicsMode(MediaHandler handler, int32_t graphicsMode, const RGBColor* opColor);
ComponentResult MediaHasCharacteristic(MediaHandler handler, OSType characteristic, Boolean* hasIt);
// Public information by selector; 'orat' belongs to MPEG media, which this platform does not
// play: every selector answers badComponentSelector.
ComponentResult MediaGetPublicInfo(MediaHandler handler, OSType infoSelector, void* infoDataPtr,
                                   Size* ioDataSize);
// The sound balance of sound media (-128 left .. 128 right); badComponentSelector for others.
ComponentResult MediaGetSoundBalance(MediaHandler handler, int16_t* balance);
ComponentResult MediaSetSoundBalance(MediaHandler handler, int16_t balance);
// The frame rate (Fixed frames per second) measured on the system clock over the frames that
// MoviesTask drew since the last reset; 0 before two frames were drawn. badComponentSelector for
// media other than video.
ComponentResult VideoMediaGetStatistics(MediaHandler handler);
ComponentResult VideoMediaResetStatistics(MediaHandler handler);

// Play hints of a media; SetMediaPlayHints changes the bits of the mask.
void GetMediaPlayHints(Media media, int32_t* flags);
void SetMediaPlayHints(Media media, int32_t flags, int32_t flagsMask);
// The same for every media of the movie (they are kept by each media; this platform acts on none
// of the bits).
void SetMoviePlayHints(Movie movie, int32_t flags, int32_t flagsMask);

constexpr int32_t hintsLoop = 1 << 1;
constexpr int32_t hintsPalindrome = 1 << 9;
constexpr int32_t hintsFlushVideoInsteadOfDirtying = 1 << 22;

// ---------------------------------------------------------------------------------------------
// Movie and track properties.
//
// Class 'audi' (movies and tracks): 'mute' Boolean, 'bala' Float32 from -1 (left) to 1
// (right), 'gain' Float32 of 0 or more, 'pitc' Float32 (cents); movies also answer, read only,
// 'sasd', the AudioStreamBasicDescription that sums their enabled sound tracks (highest rate,
// most channels, 32-bit float samples), and 'clay', the AudioChannelLayout of that sum
// (kQTPropertyNotSupportedErr without sound tracks). Class 'visu': 'hamd' Boolean, whether
// aperture mode dimensions are kept; 'apmd' the aperture mode (OSType); tracks also answer the
// dimensions 'cldi', 'cadi', 'prdi', 'endi' (FixedPoint) once generated. Setting the aperture
// mode changes the dimensions of the tracks that have them to that mode's.
// Other properties are those stored for the movie or track in the core's property store, which
// also answers alone for objects that are not movies or tracks of this layer.
// A value of another size than the property's is refused with kQTPropertyBadValueSizeErr
// (a get needs at least the property's size), a value out of range with paramErr.

constexpr OSType kQTAudioPropertyID_Mute = FOUR_CHAR_CODE("mute");
constexpr OSType kQTAudioPropertyID_Balance = FOUR_CHAR_CODE("bala");
constexpr OSType kQTAudioPropertyID_Gain = FOUR_CHAR_CODE("gain");
constexpr OSType kQTAudioPropertyID_Pitch = FOUR_CHAR_CODE("pitc");
constexpr OSType kQTAudioPropertyID_SummaryASBD = FOUR_CHAR_CODE("sasd");
constexpr OSType kQTAudioPropertyID_SummaryChannelLayout = FOUR_CHAR_CODE("clay");

constexpr OSType kQTPropertyClass_Visual = FOUR_CHAR_CODE("visu");
constexpr OSType kQTVisualPropertyID_HasApertureModeDimensions = FOUR_CHAR_CODE("hamd");
constexpr OSType kQTVisualPropertyID_ApertureMode = FOUR_CHAR_CODE("apmd");
constexpr OSType kQTVisualPropertyID_ClassicDimensions = FOUR_CHAR_CODE("cldi");
constexpr OSType kQTVisualPropertyID_CleanApertureDimensions = FOUR_CHAR_CODE("cadi");
constexpr OSType kQTVisualPropertyID_ProductionApertureDimensions = FOUR_CHAR_CODE("prdi");
constexpr OSType kQTVisualPropertyID_EncodedPixelsDimensions = FOUR_CHAR_CODE("endi");

constexpr OSType kQTApertureMode_Classic = FOUR_CHAR_CODE("clas");
constexpr OSType kQTApertureMode_CleanAperture = FOUR_CHAR_CODE("clea");
constexpr OSType kQTApertureMode_ProductionAperture = FOUR_CHAR_CODE("prod");
constexpr OSType kQTApertureMode_EncodedPixels = FOUR_CHAR_CODE("enco");

constexpr OSType kQTPropertyValueType_Boolean = FOUR_CHAR_CODE("bool");
constexpr OSType kQTPropertyValueType_Float32 = FOUR_CHAR_CODE("fl32");
constexpr OSType kQTPropertyValueType_OSType = FOUR_CHAR_CODE("osty");
constexpr OSType kQTPropertyValueType_ASBD = FOUR_CHAR_CODE("asbd");
constexpr OSType kQTPropertyValueType_ChannelLayout = FOUR_CHAR_CODE("acly");

// QTGetMoviePropertyInfo, QTGetMovieProperty, QTSetMovieProperty and the track family are
// declared with the other families in PlatformProperties.h.

// Aperture mode dimensions of a video track, from its first sample description: encoded
// pixels (the description's size), clean aperture and production aperture (from its clean
// aperture and pixel aspect ratio), classic (the track's dimensions when they were made).
// Tracks without video media are refused with invalidMedia. Removing forgets them and gives the
// track its classic dimensions back. The movie calls do it for every video track.
OSErr GenerateTrackApertureModeDimensions(Track track);
OSErr RemoveTrackApertureModeDimensions(Track track);
// The same from a given image description instead of the track's first (invalidSampleDescription
// when it is shorter than an image description or than it says; paramErr for none).
OSErr SetTrackApertureModeDimensionsUsingSampleDescription(Track track, SampleDescriptionHandle sampleDesc);
// The media handler's form of GenerateTrackApertureModeDimensions, for its media's track:
// badComponentSelector for media other than video, badComponentInstance for anything not a media
// handler. It answers its status without setting the movies error, as every handler call does.
ComponentResult MediaGenerateApertureModeDimensions(MediaHandler mh);
OSErr GenerateMovieApertureModeDimensions(Movie movie);
OSErr RemoveMovieApertureModeDimensions(Movie movie);

// ---------------------------------------------------------------------------------------------
// Audio contexts: the audio device a movie would play to, kept by the movie (nothing plays).

struct OpaqueQTAudioContext;
using QTAudioContextRef = OpaqueQTAudioContext*;

// A new context (count 1) for the device named by its UID, a CFString (null: the default
// device); paramErr for another kind of object or a null result.
OSStatus QTAudioContextCreateForAudioDevice(CFAllocatorRef allocator, CFStringRef audioDeviceUID,
                                            CFDictionaryRef options, QTAudioContextRef* newAudioContext);
QTAudioContextRef QTAudioContextRetain(QTAudioContextRef context);
void QTAudioContextRelease(QTAudioContextRef context);
// The movie keeps (retains) the context; null gives the movie the default device again.
OSStatus SetMovieAudioContext(Movie movie, QTAudioContextRef audioContext);
OSStatus GetMovieAudioContext(Movie movie, QTAudioContextRef* audioContext);
