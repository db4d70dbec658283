// Exporting movies to files, and the progress procedures of a movie's long operations.
//
// - A movie's progress procedure (SetMovieProgressProc) is told about its long operations
//   (flattening, exporting): an open message, update messages with the fraction done (a Fixed
//   from 0 to 1) and a close message, which always follows an open one. A procedure that answers
//   anything but noErr to an update stops the operation, which then answers userCanceledErr and
//   leaves no file behind. The procedure is called with no lock of the movie layer held: it may
//   call the movie layer, even for the movie being written (a change made meanwhile does not
//   reach the file; a movie or media disposed of meanwhile ends the operation with its error).
// - kMovieProgressDefault (-1) stands for the platform's own procedure, which shows nothing and
//   never cancels; null removes the procedure. GetMovieProgressProc answers what was set.
// - Export writes the whole movie, or only one of its tracks, as a movie file (file type 'MooV'),
//   flattened: the movie atom first, then every sample's bytes. The file is written beside the
//   destination and put in its place when complete, so a movie may be written over the file its
//   samples are read from, and a failed or cancelled write leaves what was there. A movie file
//   open for writing (CreateMovieFile) is not replaced (fBsyErr). There is no export dialog: the
//   flag that asks for one answers userCanceledErr, as a cancelled dialog does, and nothing is
//   written. Other file types have no exporter here (cantFindHandler).
#pragma once

#include "PlatformFiles.h"
#include "PlatformMovies.h"

// A movie's progress procedure: message, operation, fraction done, and the caller's constant.
using MovieProgressProcPtr = OSErr (*)(Movie theMovie, int16_t message, int16_t whatOperation,
                                       Fixed percentDone, intptr_t refcon);
using MovieProgressUPP = MovieProgressProcPtr;

// The platform's own procedure.
inline MovieProgressProcPtr const kMovieProgressDefault =
    reinterpret_cast<MovieProgressProcPtr>(intptr_t(-1));

enum : int16_t { movieProgressOpen = 0, movieProgressUpdatePercent = 1, movieProgressClose = 2 };

// Operations a progress procedure is told about.
enum : int16_t { progressOpFlatten = 1, progressOpExportMovie = 12 };

// Flags of ConvertMovieToFile and ConvertMovieToDataRef (createMovieFileDeleteCurFile replaces
// an existing file; without it an existing file is refused with dupFNErr).
enum : int32_t {
    showUserSettingsDialog = 1 << 1,
    movieToFileOnlyExport = 1 << 2,
    movieFileSpecValid = 1 << 3
};

constexpr OSType kQTFileTypeMovie = FOUR_CHAR_CODE("MooV");

void SetMovieProgressProc(Movie theMovie, MovieProgressUPP p, intptr_t refcon);
// The movie's procedure (null: none) and, when `refcon` is given, its constant.
MovieProgressUPP GetMovieProgressProc(Movie theMovie, intptr_t* refcon);

// Writes the movie, or only `onlyTrack` (which must be of the movie: trackNotInMovie), into the
// file the data reference names ('alis' only: couldNotResolveDataRef for another kind). There
// are no export components to choose: `userComp` must be null (paramErr). The checks run in the
// order: movie, track, component, dialog, file type, destination. The progress procedure is
// told about the export (progressOpExportMovie).
OSErr ConvertMovieToDataRef(Movie m, Track onlyTrack, Handle dataRef, OSType dataRefType, OSType fileType,
                            OSType creator, int32_t flags, ComponentInstance userComp);
// The same into a file record (null or empty: paramErr); `resID`, when given, receives movieInDataForkResID.
OSErr ConvertMovieToFile(Movie theMovie, Track onlyTrack, FSSpec* outputFile, OSType fileType, OSType creator,
                         int16_t scriptTag, int16_t* resID, int32_t flags, ComponentInstance userComp);

namespace platform::movie {

// Writes the movie flattened into a new file at `path` (createMovieFileDeleteCurFile replaces an
// existing file; a movie file open for writing there is refused with fBsyErr), telling the movie's progress
// procedure about it as `operation`. On failure no file is left. Called without the registry's lock.
OSErr writeFlattenedMovie(Movie movie, const std::string& path, int32_t createMovieFileFlags,
                          int16_t operation, Movie progressMovie);

} // namespace platform::movie
