// Calls on movies, ports and components that the imaging and movie layers answer: movie files
// and handles, drawing, controllers, grabbers and importers. Until those layers provide them,
// each call here answers with the platform's status for the object it cannot reach; the layers
// replace the definitions in PlatformPendingCalls.cpp. The in-memory movie model (movies,
// tracks, media, samples, edits) is the movie layer's (PlatformMovies.h).
#pragma once

#include "PlatformDescriptions.h"
#include "PlatformFiles.h"
#include "PlatformMetaData.h"
#include "PlatformObjects.h"

struct GDevice;

// Bounds of ports are the imaging layer's (GetPortBounds, PlatformGWorlds.h). The importer's
// natural bounds come from the imaging layer's graphics importers (PlatformGraphicsImport.cpp).
ComponentResult GraphicsImportGetNaturalBounds(GraphicsImportComponent importer, Rect* bounds);

// Movies. PutMovieIntoHandle and GetMovieDefaultDataRef are the movie layer's movie files
// (PlatformMovieFiles.h); so are NewMovieFromProperties and GetMovieImporterForDataRef
// (PlatformMovieFileReader.h).
OSErr PutMovieIntoHandle(Movie movie, Handle publicMovie);
// Where the movie draws (a null device: the port's own), and one round of its work (drawing the
// frame at its time).
void SetMovieGWorld(Movie movie, CGrafPtr port, GDevice** gdh);
void MoviesTask(Movie movie, int32_t maxMilliSecToUse);
OSErr GetMovieDefaultDataRef(Movie movie, Handle* outDataRef, OSType* outDataRefType);

// Components: importers. CloseComponent is the component manager's (PlatformComponents.h in the
// imaging layer); movie controllers and sequence grabbers are the movie layer's
// (PlatformMovieControllers.h, PlatformSequenceGrabber.h).
OSErr CloseComponent(ComponentInstance instance);
// Defined with the imaging layer's graphics importers (PlatformGraphicsImport.cpp).
OSErr GetGraphicsImporterForFile(const FSSpec* file, GraphicsImportComponent* importer);
