// Calls of the in-memory movie model that the toolkit's movie, track and media wrappers use:
// snapshots of edits, copies of settings, record times, the movie language, track usage, the
// movie's selection edits and sample tables.
//
// - An edit state is a snapshot of the edit lists of a movie's tracks (or of one track), in the
//   time scale of the moment. Restoring it gives every track still present the edits it had
//   then, moved to the movie's present scale; tracks made since keep theirs. A state belongs to
//   its caller until disposed of; a state that was disposed of (or never made) is refused with
//   paramErr, the state of another movie or track with invalidMovie or invalidTrack.
// - Creation and modification times are seconds since 1904 (UTC). A record is created with both
//   set to the moment; the calls here that change a record move its modification time.
// - Sample tables are counted objects: created with a count of 1 and gone at its release.
#pragma once

#include "PlatformCF.h"
#include "PlatformCompressionSessions.h"
#include "PlatformMovies.h"

struct MovieStateRecord;
struct TrackStateRecord;
using MovieEditState = MovieStateRecord*;
using TrackEditState = TrackStateRecord*;

// Track usage (GetTrackUsage, SetTrackUsage).
enum : int32_t { trackUsageInMovie = 1 << 1, trackUsageInPreview = 1 << 2, trackUsageInPoster = 1 << 3 };

using QTMutableSampleTableRef = QTSampleTableRef;
using QTSampleDescriptionID = int32_t;

// Edit states (null when the movie or track is unknown or memory fails).
MovieEditState NewMovieEditState(Movie theMovie);
OSErr UseMovieEditState(Movie theMovie, MovieEditState toState);
OSErr DisposeMovieEditState(MovieEditState state);
TrackEditState NewTrackEditState(Track theTrack);
OSErr UseTrackEditState(Track theTrack, TrackEditState state);
OSErr DisposeTrackEditState(TrackEditState state);

// Settings: a movie's matrix and user data; a track's matrix, layer, volume, usage and user
// data. The destination's user data is replaced by a copy of the source's.
OSErr CopyMovieSettings(Movie srcMovie, Movie dstMovie);
OSErr CopyTrackSettings(Track srcTrack, Track dstTrack);

// Record times (0 for an unknown record).
uint32_t GetMovieCreationTime(Movie theMovie);
uint32_t GetMovieModificationTime(Movie theMovie);
uint32_t GetTrackCreationTime(Track theTrack);
uint32_t GetTrackModificationTime(Track theTrack);
uint32_t GetMediaCreationTime(Media theMedia);
uint32_t GetMediaModificationTime(Media theMedia);

// In every alternate group of two or more tracks that holds a track whose media has the
// language, that track (the first of the ring from the group's enabled one) becomes the group's
// only enabled track; other groups are left as they are. The movie keeps the language for its
// automatic alternates.
void SetMovieLanguage(Movie theMovie, int32_t language);

// Automatic alternates (off for a new movie). Turning them on, and setting the movie's language
// while they are on, leaves one enabled track in every alternate group of two or more tracks:
// of the tracks whose media has the movie's language (all of them when none has), the one of
// highest media quality; among equals, the first of the ring from the group's enabled track.
// Tracks joined to a group later are not chosen among until the next of those calls.
void SetAutoTrackAlternatesEnabled(Movie theMovie, Boolean enable);

// How the track's data would be loaded ahead of playing: kept with the track and saved in its
// movie file. An unknown track answers zeros.
void GetTrackLoadSettings(Track theTrack, TimeValue* preloadTime, TimeValue* preloadDuration,
                          int32_t* preloadFlags, int32_t* defaultHints);
void SetTrackLoadSettings(Track theTrack, TimeValue preloadTime, TimeValue preloadDuration,
                          int32_t preloadFlags, int32_t defaultHints);

int32_t GetTrackUsage(Track theTrack);
void SetTrackUsage(Track theTrack, int32_t usage);

// The selection as a new movie (the caller disposes of it) of the same time scale; cutting also
// deletes it from the movie, clearing only deletes it. Pasting replaces the selection with the
// whole source movie, which then becomes the selection.
Movie CopyMovieSelection(Movie theMovie);
Movie CutMovieSelection(Movie theMovie);
void ClearMovieSelection(Movie theMovie);
void PasteMovieSelection(Movie theMovie, Movie src);

// Sample tables: one row per run of samples alike, numbered from 1 in decode order.
OSStatus QTSampleTableCreateMutable(CFAllocatorRef allocator, TimeScale timescale, void* hints,
                                    QTMutableSampleTableRef* newSampleTable);
void QTSampleTableRelease(QTSampleTableRef sampleTable);
// Appends numberOfSamples samples of dataSize bytes each (at least 1 sample and 1 byte; a
// duration of at least 1), their bytes one after another from dataOffset.
OSStatus QTSampleTableAddSampleReferences(QTMutableSampleTableRef sampleTable, int64_t dataOffset,
                                          ByteCount dataSize, TimeValue64 decodeDuration,
                                          TimeValue64 displayOffset, int64_t numberOfSamples,
                                          MediaSampleFlags sampleFlags,
                                          QTSampleDescriptionID sampleDescriptionID,
                                          int64_t* newSampleNumOut);
int64_t QTSampleTableGetNumberOfSamples(QTSampleTableRef sampleTable);
TimeScale QTSampleTableGetTimeScale(QTSampleTableRef sampleTable);
// Per sample (1-based; 0 outside the table, -1 for the decode time).
TimeValue64 QTSampleTableGetDecodeTime(QTSampleTableRef sampleTable, int64_t sampleNum);
TimeValue64 QTSampleTableGetDecodeDuration(QTSampleTableRef sampleTable, int64_t sampleNum);
TimeValue64 QTSampleTableGetDisplayOffset(QTSampleTableRef sampleTable, int64_t sampleNum);
int64_t QTSampleTableGetDataOffset(QTSampleTableRef sampleTable, int64_t sampleNum);
ByteCount QTSampleTableGetDataSizePerSample(QTSampleTableRef sampleTable, int64_t sampleNum);
MediaSampleFlags QTSampleTableGetSampleFlags(QTSampleTableRef sampleTable, int64_t sampleNum);
QTSampleDescriptionID QTSampleTableGetSampleDescriptionID(QTSampleTableRef sampleTable, int64_t sampleNum);

// The media's samples from the sample at startDecodeTime on (at most maxNumberOfSamples, 0: no
// limit; and as many as start within maxDecodeDuration of it, 0: no limit) as a new table in the
// media's time scale, its description ids the media's description indexes. Data offsets are
// those of the sample's data reference, or of the media's own memory.
OSErr CopyMediaMutableSampleTable(Media theMedia, TimeValue64 startDecodeTime,
                                  TimeValue64* sampleTableStartDecodeTimeOut, int64_t maxNumberOfSamples,
                                  TimeValue64 maxDecodeDuration, QTMutableSampleTableRef* sampleTableOut);
