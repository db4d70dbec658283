// Movie files in the QuickTime file format, written by the movie layer.
//
// - A movie file made for writing (CreateMovieStorage, CreateMovieFile) starts with its file type
//   atom and an open 'mdat'. The movie made with it has the file as its default data reference,
//   so that media made without a data reference take the file as theirs; samples added to a
//   media whose data reference is that file go straight into its 'mdat' as they are added.
// - The movie atom follows the data: adding or updating the movie writes it there, after fixing
//   the 'mdat' size (a 64-bit header once the data passes 4 GiB). Samples a media keeps in its
//   memory are copied into the data the first time they are written; samples in other files stay
//   there and are referred to.
// - Flattening writes a new file whose movie atom comes first, followed by every sample's bytes.
//   It is written under a temporary name and renamed into place when complete.
// - PutMovieIntoHandle (PlatformPendingCalls.h) puts the movie atom into a handle; samples that
//   lie in files are referred to where they are, and samples the media keeps in memory follow the
//   movie atom in an 'mdat' of the handle, which the atom refers to as itself.
// - GetMovieDefaultDataRef (PlatformPendingCalls.h) answers a copy of the movie's file reference;
//   a movie made without a file has none (couldNotResolveDataRef). SetMovieDefaultDataRef names
//   it (a copy of the reference's bytes is kept), so that new media store their samples there.
#pragma once

#include "PlatformFiles.h"
#include "PlatformMovies.h"

// Flags of movie file creation.
constexpr int32_t createMovieFileDeleteCurFile = int32_t(1u << 31);
constexpr int32_t createMovieFileDontCreateMovie = 1 << 30;
constexpr int32_t createMovieFileDontOpenFile = 1 << 29;
constexpr int32_t createMovieFileDontCreateResFile = 1 << 28;
constexpr int32_t newMovieActive = 1 << 0;

// The movie of a movie file lives in its data fork.
constexpr int16_t movieInDataForkResID = -1;

// Flags of flattening.
enum : int32_t {
    flattenAddMovieToDataFork = 1 << 0,
    flattenActiveTracksOnly = 1 << 2,
    flattenDontInterleaveFlatten = 1 << 3,
    flattenFSSpecPtrIsDataRefRecordPtr = 1 << 4,
    flattenCompressMovieResource = 1 << 5,
    flattenForceMovieResourceBeforeMovieData = 1 << 6
};

constexpr OSErr fnOpnErr = -38;    // the storage is not open
constexpr OSErr tmfoErr = -42;     // too many files open
constexpr OSErr fBsyErr = -47;     // the file is open for writing
constexpr OSErr dupFNErr = -48;    // the file exists and was not to be replaced
constexpr OSErr rfNumErr = -51;    // no movie file is open with that number
constexpr OSErr invalidDataRef = -2012;

// Makes the file that dataRef names (an 'alis' reference; couldNotResolveDataRef for another
// kind) and opens it for writing. An existing file is replaced with createMovieFileDeleteCurFile,
// else refused with dupFNErr. Unless createMovieFileDontCreateMovie, *newmovie receives a new
// movie (active with newMovieActive) whose default data reference is the file. A failure leaves
// no file behind and both outputs null.
OSErr CreateMovieStorage(Handle dataRef, OSType dataRefType, OSType creator, int16_t scriptTag,
                         int32_t createMovieFileFlags, DataHandler* outDataHandler, Movie* newmovie);
// Writes the movie atom after the data (replacing the one written before); fnOpnErr
// for a storage that is not open, paramErr for a movie with samples the file cannot refer to.
OSErr SetMovieDefaultDataRef(Movie movie, Handle dataRef, OSType dataRefType);
OSErr AddMovieToStorage(Movie movie, DataHandler dh);
OSErr UpdateMovieInStorage(Movie movie, DataHandler dh);
// Closes the file; what was not written with the movie stays as it is in the file.
OSErr CloseMovieStorage(DataHandler dh);
OSErr DeleteMovieStorage(Handle dataRef, OSType dataRefType);

// The same with a file record and a file number.
OSErr CreateMovieFile(const FSSpec* fileSpec, OSType creator, int16_t scriptTag, int32_t createMovieFileFlags,
                      int16_t* resRefNum, Movie* newmovie);
// The movie atom goes into the data fork: resId receives movieInDataForkResID.
OSErr AddMovieResource(Movie movie, int16_t resRefNum, int16_t* resId, const unsigned char* resName);
OSErr UpdateMovieResource(Movie movie, int16_t resRefNum, int16_t resId, const unsigned char* resName);
OSErr CloseMovieFile(int16_t resRefNum);
OSErr DeleteMovieFile(const FSSpec* fileSpec);

// Writes the movie into a new file with its movie atom first and every sample's bytes after it,
// the movie's file references resolved; the movies error tells how it went. The movie's progress
// procedure is told about the work and may cancel it, and the file takes its place only when
// complete (PlatformMovieExport.h).
void FlattenMovie(Movie movie, int32_t movieFlattenFlags, const FSSpec* fileSpec, OSType creator,
                  int16_t scriptTag, int32_t createMovieFileFlags, int16_t* resId, const unsigned char* resName);

// Reading movie files, movies from handles, data references and properties, the scrap, changes,
// data sizes and loading.
#include "PlatformMovieFileReader.h"
