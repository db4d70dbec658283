// The in-memory movie model: movies, their tracks, each track's media, the samples of a media,
// edit lists that place media time in a track, user data and metadata.
//
// - Movies, tracks and media are reached through references that are tokens checked against a
//   registry: an unknown or disposed movie is refused with invalidMovie, a track with
//   invalidTrack, a media with invalidMedia; nothing is ever dereferenced. A movie owns its
//   tracks, a track its media: disposing of the owner disposes of what it owns. A media that the
//   core made alone (platform::newDetachedMedia) is a media of no track, which starts without
//   samples, descriptions or data references.
// - Times. A movie has a time scale (600 when new); track times are movie times. A media has its
//   own scale. Times are 64-bit inside and exact: a time given in one scale reads back exactly
//   in that scale; where a time moves to another scale it rounds toward minus infinity, except
//   the length of a track segment made from a media segment, which rounds to nearest. The 32-bit
//   calls saturate what they hand out. No time may pass a quarter of the 64-bit range, so that
//   sums of times never overflow: a call that would take one past it is refused with paramErr.
// - Edits. A track's edit list is a row of segments, each either empty (it shows nothing) or a
//   stretch of its media shown at a rate; track time t inside a segment that starts at track time
//   T and shows media from M over a track length L and a media length D shows media time
//   M + floor((t - T) * D / L). A track's duration is the sum of its segments; its offset is the
//   length of its leading empty segments. A movie's duration is its longest track's.
// - Samples. AddMediaSample2 keeps the sample bytes in the media's memory; sample references
//   name bytes in one of the media's data references (the media's memory when it has none).
//   A sample description added with a sample becomes a new description unless it is byte for
//   byte the last one added; without one the last description is used. Sample numbers count
//   from 1; decode times run without gaps from 0; a sample shows at its decode time plus its
//   display offset.
// - Every call sets the value that GetMoviesError() answers (and the sticky error,
//   PlatformErrors.h). Every call is safe from any thread.
#pragma once

#include "PlatformAtoms.h"
#include "PlatformCompressionSessions.h"
#include "PlatformDescriptions.h"
#include "PlatformErrors.h"
#include "PlatformMatrix.h"
#include "PlatformMedia.h"
#include "PlatformMetaData.h"
#include "PlatformObjects.h"
#include "PlatformTimeBase.h"
#include "PlatformTypes.h"
#include "PlatformUserData.h"

// Error numbers of the movie toolbox.
constexpr OSErr invalidDuration = -2014;
constexpr OSErr invalidTime = -2015;
constexpr OSErr mediaTypesDontMatch = -2018;
constexpr OSErr badTrackIndex = -2028;
constexpr OSErr trackIDNotFound = -2029;
constexpr OSErr trackNotInMovie = -2030;
constexpr OSErr timeNotInMedia = -2032;
constexpr OSErr invalidSampleNum = -2037;
constexpr OSErr invalidSampleDescIndex = -2039;
constexpr OSErr invalidSampleDescription = -2041;
constexpr OSErr dataNotOpenForWrite = -2043;
constexpr OSErr endOfDataReached = -2046;

constexpr TimeScale kMovieDefaultTimeScale = 600;

// The property class of a movie's or track's sound settings (movie creation takes it too).
constexpr OSType kQTPropertyClass_Audio = FOUR_CHAR_CODE("audi");

// Track searches (GetMovieIndTrackType): by media type, by characteristic, enabled tracks only.
enum : int32_t {
    movieTrackMediaType = 1 << 0,
    movieTrackCharacteristic = 1 << 1,
    movieTrackEnabledOnly = 1 << 2
};
// Characteristics of media types: visual ('vide', 'text', 'tx3g', 'sbtl', 'mpeg') and audible
// ('soun', 'mpeg').
constexpr OSType VisualMediaCharacteristic = FOUR_CHAR_CODE("eyes");
constexpr OSType AudioMediaCharacteristic = FOUR_CHAR_CODE("ears");
constexpr OSType VideoMediaType = FOUR_CHAR_CODE("vide");
constexpr OSType SoundMediaType = FOUR_CHAR_CODE("soun");
constexpr OSType TextMediaType = FOUR_CHAR_CODE("text");

// Sample flags (mediaSampleNotSync, bit 0: not a key frame) are the imaging layer's.

// Interesting-time searches.
enum : int16_t {
    nextTimeMediaSample = 1 << 0,
    nextTimeMediaEdit = 1 << 1,
    nextTimeTrackEdit = 1 << 2,
    nextTimeSyncSample = 1 << 3,
    nextTimeStep = 1 << 4,
    nextTimeEdgeOK = 1 << 14,
    nextTimeIgnoreActiveSegment = int16_t(1u << 15)
};

// Quality bits of a media (SetMediaQuality).
enum : int16_t {
    mediaQualityDraft = 0,
    mediaQualityNormal = 64,
    mediaQualityBetter = 128,
    mediaQualityBest = 192
};

#pragma pack(push, 2)
// One run of samples that lie in a data reference: numberOfSamples samples of dataSize /
// numberOfSamples bytes each, from dataOffset on.
struct SampleReferenceRecord {
    int32_t dataOffset;
    int32_t dataSize;
    TimeValue durationPerSample;
    int32_t numberOfSamples;
    int16_t sampleFlags;
};
static_assert(sizeof(SampleReferenceRecord) == 18);
#pragma pack(pop)
using SampleReferencePtr = SampleReferenceRecord*;

// ---------------------------------------------------------------------------------------------
// Movies.

// A new empty movie: time scale 600, active, no tracks, an identity matrix.
Movie NewMovie(int32_t flags);
void DisposeMovie(Movie movie);

TimeScale GetMovieTimeScale(Movie movie);
// Changes the scale; every time of the movie (edits, selection, preview, poster, current time)
// moves to it. A scale below 1 is refused with paramErr.
void SetMovieTimeScale(Movie movie, TimeScale timeScale);
TimeValue GetMovieDuration(Movie movie);
TimeValue64 GetMovieDuration64(Movie movie);
// The current time, kept between 0 and the duration. `currentTime`, when given, receives it in
// full with the movie's scale and the movie's time base. While the movie plays, the time is the
// time base's (PlatformMoviePlayback.h).
TimeValue GetMovieTime(Movie movie, TimeRecord* currentTime);
void SetMovieTimeValue(Movie movie, TimeValue newtime);

// The rectangle the movie's visual tracks cover before the movie's matrix, and after it.
void GetMovieNaturalBoundsRect(Movie movie, Rect* naturalBounds);
void GetMovieBox(Movie movie, Rect* box);
// Changes the movie's matrix so that the box becomes `box` (an empty natural rectangle: only
// moved). A box whose edges are out of order is refused with paramErr.
void SetMovieBox(Movie movie, const Rect* box);
// A refused call leaves the caller's matrix as it was.
void GetMovieMatrix(Movie movie, MatrixRecord* matrix);
// A null matrix is the identity.
void SetMovieMatrix(Movie movie, const MatrixRecord* matrix);

Boolean GetMovieActive(Movie movie);
void SetMovieActive(Movie movie, Boolean active);

// Selection, preview and poster, in movie time. A negative start or duration is refused with
// paramErr.
void GetMovieSelection(Movie movie, TimeValue* selectionTime, TimeValue* selectionDuration);
void SetMovieSelection(Movie movie, TimeValue selectionTime, TimeValue selectionDuration);
void GetMoviePreviewTime(Movie movie, TimeValue* previewTime, TimeValue* previewDuration);
void SetMoviePreviewTime(Movie movie, TimeValue previewTime, TimeValue previewDuration);
TimeValue GetMoviePosterTime(Movie movie);
void SetMoviePosterTime(Movie movie, TimeValue posterTime);

// The time of the next sample, step, sync sample or edit (flags) of the movie's enabled tracks of
// the given media types (none: every type), after `time` for a positive rate and before it for a
// negative one; with nextTimeEdgeOK `time` itself counts. -1 when there is none; `duration`
// receives the length of what was found up to the next such time.
void GetMovieNextInterestingTime(Movie movie, int16_t interestingTimeFlags, int16_t numMediaTypes,
                                 const OSType* whichMediaTypes, TimeValue time, Fixed rate,
                                 TimeValue* interestingTime, TimeValue* interestingDuration);

// ---------------------------------------------------------------------------------------------
// Tracks.

// A new track at the end of the movie's list, with a new unique id (ids are never reused within
// a movie), enabled, layer 0, an identity matrix. Negative dimensions are refused with paramErr.
Track NewMovieTrack(Movie movie, Fixed width, Fixed height, int16_t trackVolume);
void DisposeMovieTrack(Track track);
int32_t GetMovieTrackCount(Movie movie);
// The 1-based index-th track; badTrackIndex outside 1..count.
Track GetMovieIndTrack(Movie movie, int32_t index);
// The index-th track (1-based) with the characteristic or media type; flags 2 = characteristic.
Track GetMovieIndTrackType(Movie movie, int32_t index, OSType trackType, int32_t flags);
int32_t GetTrackID(Track track);
// The track with the id; trackIDNotFound when there is none.
Track GetMovieTrack(Movie movie, int32_t trackID);
Movie GetTrackMovie(Track track);

void GetTrackDimensions(Track track, Fixed* width, Fixed* height);
void SetTrackDimensions(Track track, Fixed width, Fixed height);
void GetTrackMatrix(Track track, MatrixRecord* matrix);
void SetTrackMatrix(Track track, const MatrixRecord* matrix);
Boolean GetTrackEnabled(Track track);
void SetTrackEnabled(Track track, Boolean isEnabled);
int16_t GetTrackLayer(Track track);
void SetTrackLayer(Track track, int16_t layer);
int16_t GetTrackVolume(Track track);
void SetTrackVolume(Track track, int16_t volume);
TimeValue GetTrackDuration(Track track);
// The length of the track's leading empty segments; setting it changes only that length.
TimeValue GetTrackOffset(Track track);
void SetTrackOffset(Track track, TimeValue movieOffsetTime);

// Alternate groups: tracks that stand for one another, as a ring. SetTrackAlternate(t, other)
// moves t into other's group; a null other takes t out of its group. GetTrackAlternate answers
// the next track of the ring (the track itself when alone).
void SetTrackAlternate(Track track, Track alternateT);
Track GetTrackAlternate(Track track);

// Track references of a type, indexed from 1; the referenced track must be of the same movie
// (else trackNotInMovie). Adding a track already referenced answers its index. Deleting closes
// the gap; disposing of a track removes the references to it.
OSErr AddTrackReference(Track theTrack, Track refTrack, OSType refType, int32_t* addedIndex);
OSErr DeleteTrackReference(Track theTrack, OSType refType, int32_t index);
OSErr SetTrackReference(Track theTrack, Track refTrack, OSType refType, int32_t index);
Track GetTrackReference(Track theTrack, OSType refType, int32_t index);
// The type after refType (0: the first), 0 after the last.
OSType GetNextTrackReferenceType(Track theTrack, OSType refType);
int32_t GetTrackReferenceCount(Track theTrack, OSType refType);

// ---------------------------------------------------------------------------------------------
// Media.

// The track's media, of the type and time scale (600 for 0). dataRef (null: none) becomes the
// media's data reference 1. A track that has a media already is refused with paramErr.
Media NewTrackMedia(Track track, OSType mediaType, TimeScale timeScale, Handle dataRef, OSType dataRefType);
// Disposes of the media; its track, whose segments named times of that media, is left empty.
void DisposeTrackMedia(Media media);
Media GetTrackMedia(Track track);
Track GetMediaTrack(Media media);

TimeScale GetMediaTimeScale(Media media);
// Changes the scale of a media that has no samples yet: the samples' times and the edits that
// show them are whole units of the old scale, so a media with samples refuses (paramErr), as does
// a scale below 1.
void SetMediaTimeScale(Media media, TimeScale timeScale);
TimeValue GetMediaDuration(Media media);
TimeValue64 GetMediaDecodeDuration(Media media);
// The media's type, and its handler's maker and name (the empty text here).
void GetMediaHandlerDescription(Media media, OSType* mediaType, Str255 creatorName,
                                OSType* creatorManufacturer);
int16_t GetMediaLanguage(Media media);
void SetMediaLanguage(Media media, int16_t language);
int16_t GetMediaQuality(Media media);
void SetMediaQuality(Media media, int16_t quality);

// Data references.
OSErr GetMediaDataRefCount(Media media, int16_t* count);
OSErr GetMediaDataRef(Media media, int16_t index, Handle* dataRef, OSType* dataRefType,
                      int32_t* dataRefAttributes);
OSErr AddMediaDataRef(Media media, int16_t* index, Handle dataRef, OSType dataRefType);

// ---------------------------------------------------------------------------------------------
// Samples.

// A media in memory takes samples at any time: beginning and ending a run of media edits only
// checks the media.
OSErr BeginMediaEdits(Media media);
OSErr EndMediaEdits(Media media);

// Adds numberOfSamples samples of size / numberOfSamples bytes each (size must divide evenly),
// each decodeDurationPerSample long (at least 1) and shown displayOffset after its decode time.
// sampleDecodeTimeOut (may be null) receives the first one's decode time.
OSErr AddMediaSample2(Media media, const uint8_t* dataIn, ByteCount size, TimeValue64 decodeDurationPerSample,
                      TimeValue64 displayOffset, SampleDescriptionHandle sampleDescriptionH,
                      ItemCount numberOfSamples, uint32_t sampleFlags, TimeValue64* sampleDecodeTimeOut);
// Samples whose bytes lie in the media's data (see above) from dataOffset on.
OSErr AddMediaSampleReference(Media media, int32_t dataOffset, uint32_t size, TimeValue durationPerSample,
                              SampleDescriptionHandle sampleDescriptionH, int32_t numberOfSamples,
                              int16_t sampleFlags, TimeValue* sampleTime);
OSErr AddMediaSampleReferences(Media media, SampleDescriptionHandle sampleDescriptionH,
                               int32_t numberOfSampleRefs, SampleReferencePtr sampleRefs,
                               TimeValue* sampleTime);

int32_t GetMediaSampleCount(Media media);
int32_t GetMediaSampleDescriptionCount(Media media);
// Description `index` (1-based) into descH, resized to fit; invalidSampleDescIndex outside
// 1..count.
void GetMediaSampleDescription(Media media, int32_t index, SampleDescriptionHandle descH);
OSErr SetMediaSampleDescription(Media media, int32_t index, SampleDescriptionHandle descH);

// Decode times and sample numbers. A time outside the media gives invalidTime, a number outside
// 1..count invalidSampleNum; the outputs are then -1 (times) and 0 (numbers and durations).
void SampleNumToMediaTime(Media media, int32_t logicalSampleNum, TimeValue* sampleTime,
                          TimeValue* sampleDuration);
void MediaTimeToSampleNum(Media media, TimeValue time, int32_t* sampleNum, TimeValue* sampleTime,
                          TimeValue* sampleDuration);
void SampleNumToMediaDecodeTime(Media media, int64_t logicalSampleNum, TimeValue64* sampleDecodeTime,
                                TimeValue64* sampleDecodeDuration);
void MediaDecodeTimeToSampleNum(Media media, TimeValue64 decodeTime, int64_t* sampleNum,
                                TimeValue64* sampleDecodeTime, TimeValue64* sampleDecodeDuration);
// The sample shown at the display time, and when it is shown.
void MediaDisplayTimeToSampleNum(Media media, TimeValue64 displayTime, int64_t* sampleNum,
                                 TimeValue64* sampleDisplayTime, TimeValue64* sampleDisplayDuration);

// Reads the sample at decodeTime and up to maxNumberOfSamples - 1 following samples that share
// its description, size, duration, display offset and flags and whose bytes follow on (0 reads
// one). dataOut may be null to ask only the size; otherwise maxDataSize must hold the bytes
// (else paramErr, with the size told). Any output pointer may be null.
OSErr GetMediaSample2(Media media, uint8_t* dataOut, ByteCount maxDataSize, ByteCount* size,
                      TimeValue64 decodeTime, TimeValue64* sampleDecodeTime,
                      TimeValue64* decodeDurationPerSample, TimeValue64* displayOffset,
                      SampleDescriptionHandle sampleDescriptionH, ItemCount* sampleDescriptionIndex,
                      ItemCount maxNumberOfSamples, ItemCount* numberOfSamples, uint32_t* sampleFlags);

// The next sample start (or sync sample start) of the media in display time, as the movie's
// search does.
void GetMediaNextInterestingDisplayTime(Media media, int16_t interestingTimeFlags, TimeValue64 time,
                                        Fixed rate, TimeValue64* interestingDisplayTime,
                                        TimeValue64* interestingDisplayDuration);

// ---------------------------------------------------------------------------------------------
// Edits (times of tracks in movie time, of media in media time).

// Places [mediaTime, mediaTime + mediaDuration) of the track's media at trackStart (-1: the end)
// at the rate (positive; 1.0 shows it at its own speed). A start past the end leaves an empty
// segment before it. The media segment must lie in the media (timeNotInMedia, -2032).
OSErr InsertMediaIntoTrack(Track track, TimeValue trackStart, TimeValue mediaTime, TimeValue mediaDuration,
                           Fixed mediaRate);
OSErr InsertEmptyTrackSegment(Track dstTrack, TimeValue dstIn, TimeValue dstDuration);
// Copies what [srcIn, srcIn + srcDuration) of srcTrack shows to dstIn of dstTrack (-1: the end).
// Between different media the samples are copied into the destination media, which must be of
// the same type (mediaTypesDontMatch).
OSErr InsertTrackSegment(Track srcTrack, Track dstTrack, TimeValue srcIn, TimeValue srcDuration,
                         TimeValue dstIn);
OSErr DeleteTrackSegment(Track theTrack, TimeValue startTime, TimeValue duration);
// Stretches or shrinks [startTime, startTime + oldDuration) to newDuration.
OSErr ScaleTrackSegment(Track theTrack, TimeValue startTime, TimeValue oldDuration, TimeValue newDuration);
// The rate of the segment at the time: 0 in an empty one, and 0 with invalidTime outside the
// track.
Fixed GetTrackEditRate(Track theTrack, TimeValue atTime);
// The media time shown at track time `value`, -1 in an empty segment or outside the track.
TimeValue TrackTimeToMediaTime(TimeValue value, Track theTrack);
TimeValue64 TrackTimeToMediaDisplayTime(TimeValue64 value, Track theTrack);
void GetTrackNextInterestingTime(Track theTrack, int16_t interestingTimeFlags, TimeValue time, Fixed rate,
                                 TimeValue* interestingTime, TimeValue* interestingDuration);

// Movie segments: copies every track's part of the source range into the destination at dstIn.
// Within one movie each track takes its own copy; into another movie each source track becomes
// a new track. The other tracks of the destination get an empty segment, so that everything
// after dstIn keeps in step.
OSErr InsertMovieSegment(Movie srcMovie, Movie dstMovie, TimeValue srcIn, TimeValue srcDuration,
                         TimeValue dstIn);
OSErr InsertEmptyMovieSegment(Movie dstMovie, TimeValue dstIn, TimeValue dstDuration);
OSErr DeleteMovieSegment(Movie theMovie, TimeValue startTime, TimeValue duration);
OSErr ScaleMovieSegment(Movie theMovie, TimeValue startTime, TimeValue oldDuration, TimeValue newDuration);

// ---------------------------------------------------------------------------------------------
// User data and metadata, made with their owner and gone with it.

// The owner's list (owned by the owner: not to be disposed of).
UserData GetMovieUserData(Movie movie);
UserData GetTrackUserData(Track track);
UserData GetMediaUserData(Media media);

// The metadata store of a movie, track or media, with a count for the caller to release
// (QTMetaDataRelease).
OSStatus QTCopyMovieMetaData(Movie inMovie, QTMetaDataRef* outMetaData);
OSStatus QTCopyTrackMetaData(Track inTrack, QTMetaDataRef* outMetaData);
OSStatus QTCopyMediaMetaData(Media inMedia, QTMetaDataRef* outMetaData);
