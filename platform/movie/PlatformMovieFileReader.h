// Movie files in the QuickTime file format, read by the movie layer.
//
// - Opening reads the movie atom only: every table is read into the in-memory model, while the
//   samples stay where they are. Samples in a file stay there and are read when asked for
//   (GetMediaSample2, drawing); samples in a handle or a block of memory are copied into the
//   media, since the caller may dispose of the handle once the movie is made.
// - Every size, count and offset of the file is checked against the bytes that hold it before
//   anything is reserved: a truncated file, an atom whose size lies, a table that would run past
//   its atom or a sample past the end of the data is refused with badPublicMovieAtom (or
//   invalidSampleTable for tables that disagree with each other or with the data), never read.
// - A movie opened from a file has the file as its default data reference. Opening or writing a
//   movie clears its changed state (HasMovieChanged); any later change of what the movie file
//   would hold sets it again.
#pragma once

#include "PlatformFiles.h"
#include "PlatformMovies.h"

constexpr OSErr wrPermErr = -61;            // the file is open for reading only
constexpr OSErr noTypeErr = -102;           // nothing of that type on the scrap
constexpr OSErr badPublicMovieAtom = -2002; // the movie atom is damaged
constexpr OSErr invalidSampleTable = -2011; // sample tables that disagree with their data
constexpr OSErr dataNotOpenForRead = -2042;
constexpr OSErr noMovieFound = -2048;

// Flags of new movies.
enum : int16_t {
    newMovieDontResolveDataRefs = 1 << 1,
    newMovieDontAskUnresolvedDataRefs = 1 << 2,
    newMovieDontAutoAlternates = 1 << 3,
    newMovieDontUpdateForeBackPointers = 1 << 4,
    newMovieDontAutoUpdateClock = 1 << 5,
    newMovieAsyncOK = 1 << 8,
    newMovieIdleImportOK = 1 << 10,
    newMovieDontInteractWithUser = 1 << 11
};

// Flags of data handlers opened on a movie storage.
enum : int32_t { kDataHCanRead = 1 << 0, kDataHCanWrite = 1 << 3 };

// Load states and the flags of loading into memory.
enum : int32_t {
    kMovieLoadStateError = -1,
    kMovieLoadStateLoading = 1000,
    kMovieLoadStatePlayable = 10000,
    kMovieLoadStatePlaythroughOK = 20000,
    kMovieLoadStateComplete = 100000
};
enum : int32_t {
    keepInRam = 1 << 0,
    unkeepInRam = 1 << 1,
    flushFromRam = 1 << 2,
    loadForwardTrackEdits = 1 << 3,
    loadBackwardTrackEdits = 1 << 4
};

// Properties of NewMovieFromProperties: classes and identifiers.
constexpr OSType kQTPropertyClass_DataLocation = FOUR_CHAR_CODE("dloc");
constexpr OSType kQTDataLocationPropertyID_DataReference = FOUR_CHAR_CODE("dref");
constexpr OSType kQTDataLocationPropertyID_Scrap = FOUR_CHAR_CODE("scrp");
constexpr OSType kQTDataLocationPropertyID_LegacyMovieResourceHandle = FOUR_CHAR_CODE("rezh");
constexpr OSType kQTDataLocationPropertyID_MovieHandle = FOUR_CHAR_CODE("hzer");
constexpr OSType kQTPropertyClass_MovieInstantiation = FOUR_CHAR_CODE("mins");
constexpr OSType kQTMovieInstantiationPropertyID_DontResolveDataRefs = FOUR_CHAR_CODE("rdrn");
constexpr OSType kQTMovieInstantiationPropertyID_DontAskUnresolvedDataRefs = FOUR_CHAR_CODE("aurn");
constexpr OSType kQTMovieInstantiationPropertyID_AsyncOK = FOUR_CHAR_CODE("asok");
constexpr OSType kQTPropertyClass_NewMovieProperty = FOUR_CHAR_CODE("mprp");
constexpr OSType kQTNewMoviePropertyID_Active = FOUR_CHAR_CODE("actv");
constexpr OSType kQTNewMoviePropertyID_DontInteractWithUser = FOUR_CHAR_CODE("intn");
constexpr OSType kQTAudioPropertyID_ChannelLayoutPolicy = FOUR_CHAR_CODE("aucp");
constexpr OSType kQTPropertyClass_Context = FOUR_CHAR_CODE("ctxt");
constexpr OSType kQTContextPropertyID_VisualContext = FOUR_CHAR_CODE("visu");
constexpr OSType kQTPropertyClass_MovieResourceLocator = FOUR_CHAR_CODE("rloc");
constexpr OSType kQTMovieResourceLocatorPropertyID_FileOffset = FOUR_CHAR_CODE("rezi");

// Opens a movie file (its path in the record) for reading (fsRdPerm) or for updating its movie
// (fsWrPerm, fsRdWrPerm); *resRefNum receives the number CloseMovieFile takes. fnfErr for a
// missing file, fBsyErr when the file is open for writing already.
OSErr OpenMovieFile(const FSSpec* fileSpec, int16_t* resRefNum, int8_t permission);
// The movie of an open movie file. *resId, when given, receives movieInDataForkResID; the
// movie's default data reference is the file. dataRefWasChanged (may be null) receives false.
OSErr NewMovieFromFile(Movie* theMovie, int16_t resRefNum, int16_t* resId, unsigned char* resName,
                       int16_t newMovieFlags, Boolean* dataRefWasChanged);
// The movie that a data reference names: a movie file ('alis'), or a movie file or a movie atom
// in memory ('hndl', 'ptr '). Without newMovieDontResolveDataRefs, a movie whose samples lie in a
// file that does not exist is made and answered with couldNotResolveDataRef.
OSErr NewMovieFromDataRef(Movie* m, int16_t flags, int16_t* id, Handle dataRef, OSType dataRefType);
// The movie a handle holds (what PutMovieIntoHandle writes, or a whole movie file).
OSErr NewMovieFromHandle(Movie* theMovie, Handle h, int16_t newMovieFlags, Boolean* dataRefWasChanged);
// A movie from properties: its data location ('dloc': 'dref' a DataReferenceRecord, 'scrp' the
// scrap, 'hzer' or 'rezh' a handle holding a movie; none: a new empty movie), instantiation
// flags ('mins': 'rdrn', 'aurn', 'asok'), new-movie settings ('mprp': 'actv', 'intn'), and the
// audio ('audi' 'aucp') and visual context ('ctxt' 'visu') settings. The output ('rloc' 'rezi',
// 2 bytes) receives the movie's resource id. Each property's status tells how it was taken
// (kQTPropertyNotSupportedErr for one this layer does not know).
OSStatus NewMovieFromProperties(ItemCount inputPropertyCount, QTNewMoviePropertyElement* inputProperties,
                                ItemCount outputPropertyCount, QTNewMoviePropertyElement* outputProperties,
                                Movie* theMovie);

// An existing movie file ('alis') as a storage: kDataHCanWrite opens it for updating its movie
// (UpdateMovieInStorage writes the new movie atom, the old one becoming free space), else for
// reading.
OSErr OpenMovieStorage(Handle dataRef, OSType dataRefType, int32_t flags, DataHandler* outDataHandler);
// Takes the movie out of a movie file open for writing: its movie atom becomes free space.
// resNotFound for an id other than movieInDataForkResID; wrPermErr for a file open for reading.
OSErr RemoveMovieResource(int16_t resRefNum, int16_t resId);
// A movie file that holds only a reference to the movie of another data reference ('alis');
// opening it opens that movie.
OSErr CreateShortcutMovieFile(const FSSpec* fileSpec, OSType creator, int16_t scriptTag,
                              int32_t createMovieFileFlags, Handle targetDataRef, OSType targetDataRefType);
// Flattens the movie into the file (as FlattenMovie) and answers the movie read from it.
Movie FlattenMovieData(Movie theMovie, int32_t movieFlattenFlags, const FSSpec* theFile, OSType creator,
                       int16_t scriptTag, int32_t createMovieFileFlags);

// Whether the movie changed since it was made, opened, written or cleared. A change is anything
// that a movie file would hold differently: tracks, media, samples, descriptions, edits, user
// data, times, matrices, selection, preview and poster; the current time is where the movie
// plays, not a change.
Boolean HasMovieChanged(Movie theMovie);
void ClearMovieChanged(Movie theMovie);

// A movie importer when the data reference ('alis', 'hndl', 'ptr ') holds a movie this layer
// reads; cantFindHandler otherwise (no graphics importers stand in for movies).
OSErr GetMovieImporterForDataRef(OSType dataRefType, Handle dataRef, int32_t flags, Component* importer);

// The in-process scrap: one movie, copied on and off it.
OSErr PutMovieOnScrap(Movie theMovie, int32_t movieScrapFlags);
// A new movie from the scrap; null with noTypeErr when the scrap holds no movie.
Movie NewMovieFromScrap(int32_t newMovieFlags);

// The bytes of the samples that [startTime, startTime + duration) shows (movie and track time,
// or media decode time), summed over tracks; a sample shown twice counts twice.
OSErr GetMovieDataSize64(Movie theMovie, TimeValue startTime, TimeValue duration, wide* dataSize);
OSErr GetTrackDataSize64(Track theTrack, TimeValue startTime, TimeValue duration, wide* dataSize);
OSErr GetMediaDataSize64(Media theMedia, TimeValue startTime, TimeValue duration, wide* dataSize);

// Loading into memory: the samples of the range are read from where they lie, so that their
// data is at hand and any that cannot be read is reported (endOfDataReached,
// couldNotResolveDataRef); the flags only steer the system's own cache.
OSErr LoadMovieIntoRam(Movie theMovie, TimeValue time, TimeValue duration, int32_t flags);
OSErr LoadTrackIntoRam(Track theTrack, TimeValue time, TimeValue duration, int32_t flags);
OSErr LoadMediaIntoRam(Media theMedia, TimeValue time, TimeValue duration, int32_t flags);
// kMovieLoadStateComplete: every movie is read whole when it is made.
int32_t GetMovieLoadState(Movie theMovie);

namespace platform::movie {

struct MovieRecord;

// Under the registry's lock: records the movie's present state as its saved one.
void markMovieSaved(const MovieRecord& movie);

} // namespace platform::movie
