// The sequence grabber: a component (type 'barg') with one video channel (a component of type
// 'sgch', subtype 'vide') whose frames come from a source movie rather than from a camera.
//
// - A grabber is opened with OpenDefaultComponent('barg', 0) and closed with CloseComponent,
//   which closes its channels too; a channel is made with SGNewChannel and closed with
//   SGDisposeChannel (or CloseComponent). Calls on an unknown or closed instance answer
//   badComponentInstance and never dereference it.
// - The video channel shows the first video track of the source movie that the grabber was
//   given (platform::sequenceGrabberSetSourceMovie), which the grabber borrows and never disposes
//   of, or of the movie file it was given (platform::sequenceGrabberSetSourceDataRef), which it
//   opens and owns. Without a source, or once the movie is gone, the channel's description is
//   not available (seqGrabInfoNotAvailable, or the movies error).
// - Where recording would go (SGSetDataRef) and the settings (SGSetSettings, a user data list)
//   are kept as copies and handed back as new copies that the caller owns; so is the channel's
//   clip region.
// - Recording itself is not offered: nothing here writes frames.
// - Every call is safe from any thread.
#pragma once

#include "PlatformMovies.h"
#include "PlatformRegions.h"
#include "PlatformUserData.h"

constexpr OSType SeqGrabComponentType = FOUR_CHAR_CODE("barg");
constexpr OSType SeqGrabChannelType = FOUR_CHAR_CODE("sgch");

// Errors of the sequence grabber.
constexpr OSErr noDeviceForChannel = -9400;
constexpr OSErr couldntGetRequiredComponent = -9405;
constexpr OSErr badSGChannel = -9406;
constexpr OSErr seqGrabInfoNotAvailable = -9407;

// Where recorded data would go (SGSetDataRef's flags, kept and handed back as given).
enum : int32_t {
    seqGrabToDisk = 1,
    seqGrabToMemory = 2,
    seqGrabDontUseTempMemory = 4,
    seqGrabAppendToFile = 8,
    seqGrabDontAddMovieResource = 16,
    seqGrabDontMakeMovie = 32,
    seqGrabPreExtendFile = 64,
    seqGrabDataProcIsInterruptSafe = 128,
    seqGrabDataProcDoesOverlappingReads = 256
};

ComponentResult SGInitialize(SeqGrabComponent s);

// A new channel of the type: 'vide' only, once per grabber (a second one finds no device:
// noDeviceForChannel, as does 'soun'); another type: couldntGetRequiredComponent.
ComponentResult SGNewChannel(SeqGrabComponent s, OSType channelType, SGChannel* ref);
// Closes a channel of the grabber (badSGChannel for a channel of another grabber).
ComponentResult SGDisposeChannel(SeqGrabComponent s, SGChannel c);

// Where recording goes: a copy of the reference (null: none; an empty one is refused with
// paramErr), its type and the flags. The get call hands out
// a new handle (null when none was set) that the caller disposes of.
ComponentResult SGSetDataRef(SeqGrabComponent s, Handle dataRef, OSType dataRefType, int32_t whereFlags);
ComponentResult SGGetDataRef(SeqGrabComponent s, Handle* dataRef, OSType* dataRefType, int32_t* whereFlags);

// The image description of the source's video into `sampleDesc`, resized to fit.
ComponentResult SGGetChannelSampleDescription(SGChannel c, Handle sampleDesc);

// The channel's clip region: a copy is kept (null: none); the get call hands out a new copy
// that the caller disposes of, or null when there is none.
ComponentResult SGSetChannelClip(SGChannel c, RgnHandle theClip);
ComponentResult SGGetChannelClip(SGChannel c, RgnHandle* theClip);

// The settings as a user data list: the set call keeps a copy of the list; the get call hands
// out a new list (empty until settings are set) that the caller disposes of. Flags must be 0.
ComponentResult SGSetSettings(SeqGrabComponent s, UserData ud, int32_t flags);
ComponentResult SGGetSettings(SeqGrabComponent s, UserData* ud, int32_t flags);

namespace platform {

// The movie whose first video track the grabber's video channel shows (null: none);
// invalidMovie for a movie that names nothing.
ComponentResult sequenceGrabberSetSourceMovie(SeqGrabComponent s, Movie source);
// The same with the movie of a data reference (an 'alis' names a movie file), opened as
// NewMovieFromDataRef opens it: the grabber owns that movie and disposes of it when it is closed
// or given another source. NewMovieFromDataRef's status when the movie cannot be opened (the
// source is then left as it was); paramErr for no reference.
ComponentResult sequenceGrabberSetSourceDataRef(SeqGrabComponent s, Handle dataRef, OSType dataRefType);

} // namespace platform
