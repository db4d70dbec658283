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
// (PlatformMovieFiles.h); SetMovieGWorld and MoviesTask its drawing (PlatformMoviePlayback.h).
OSErr PutMovieIntoHandle(Movie movie, Handle publicMovie);
OSStatus NewMovieFromProperties(ItemCount inputPropertyCount, QTNewMoviePropertyElement* inputProperties,
                                ItemCount outputPropertyCount, QTNewMoviePropertyElement* outputProperties,
                                Movie* theMovie);
OSErr GetMovieDefaultDataRef(Movie movie, Handle* outDataRef, OSType* outDataRefType);

// Components: movie controllers, sequence grabbers, importers. CloseComponent is the component
// manager's (PlatformComponents.h in the imaging layer).
OSErr CloseComponent(ComponentInstance instance);
// Whether the controller lets its selection be edited.
int32_t MCIsEditingEnabled(MovieController mc);
ComponentResult MCDoAction(MovieController mc, int16_t action, void* params);
TimeValue MCGetCurrentTime(MovieController mc, TimeScale* scale);
ComponentResult SGGetDataRef(SeqGrabComponent sg, Handle* dataRef, OSType* dataRefType, int32_t* whereFlags);
ComponentResult SGGetChannelSampleDescription(SGChannel channel, Handle sampleDesc);
// Defined with the imaging layer's graphics importers (PlatformGraphicsImport.cpp).
OSErr GetGraphicsImporterForFile(const FSSpec* file, GraphicsImportComponent* importer);
OSErr GetMovieImporterForDataRef(OSType dataRefType, Handle dataRef, int32_t flags, Component* importer);
