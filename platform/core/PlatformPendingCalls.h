// Calls on movies, ports and components that code below the imaging and movie layers makes:
// they are declared here, where that code can see them, and defined by those layers (each
// declaration names where). The in-memory movie model (movies, tracks, media, samples, edits)
// is the movie layer's (PlatformMovies.h).
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
// (PlatformMovieFileReader.h); SetMovieGWorld and MoviesTask are its drawing
// (PlatformMoviePlayback.h).
OSErr PutMovieIntoHandle(Movie movie, Handle publicMovie);
OSErr GetMovieDefaultDataRef(Movie movie, Handle* outDataRef, OSType* outDataRefType);

// Components: importers. CloseComponent is the component manager's (PlatformComponents.h in the
// imaging layer); movie controllers and sequence grabbers are the movie layer's
// (PlatformMovieControllers.h, PlatformSequenceGrabber.h).
OSErr CloseComponent(ComponentInstance instance);
// Defined with the imaging layer's graphics importers (PlatformGraphicsImport.cpp).
OSErr GetGraphicsImporterForFile(const FSSpec* file, GraphicsImportComponent* importer);
