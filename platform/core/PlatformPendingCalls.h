// Calls on movies, tracks, media, ports and components that the imaging and movie layers
// answer. Until those layers provide them, each call here answers with the platform's status
// for the object it cannot reach; the layers replace the definitions in PlatformPendingCalls.cpp.
#pragma once

#include "PlatformDescriptions.h"
#include "PlatformFiles.h"
#include "PlatformMetaData.h"
#include "PlatformObjects.h"

struct GDevice;

// Bounds of ports are the imaging layer's (GetPortBounds, PlatformGWorlds.h). The importer's
// natural bounds come from the imaging layer's graphics importers (PlatformGraphicsImport.cpp).
ComponentResult GraphicsImportGetNaturalBounds(GraphicsImportComponent importer, Rect* bounds);

// The movie's box and the track's dimensions (GetMoviesError() tells the result).
void GetMovieBox(Movie movie, Rect* box);
void GetTrackDimensions(Track track, Fixed* width, Fixed* height);
Track GetMediaTrack(Media media);

// Movies.
OSErr PutMovieIntoHandle(Movie movie, Handle publicMovie);
OSStatus NewMovieFromProperties(ItemCount inputPropertyCount, QTNewMoviePropertyElement* inputProperties,
                                ItemCount outputPropertyCount, QTNewMoviePropertyElement* outputProperties,
                                Movie* theMovie);
void DisposeMovie(Movie movie);
Boolean GetMovieActive(Movie movie);
// A null matrix is the identity.
void SetMovieMatrix(Movie movie, const MatrixRecord* matrix);
void SetTrackMatrix(Track track, const MatrixRecord* matrix);
// The index-th track (1-based) with the characteristic or media type; flags 2 = characteristic.
Track GetMovieIndTrackType(Movie movie, int32_t index, OSType trackType, int32_t flags);
TimeValue GetMovieDuration(Movie movie);
// The movie's size before its matrix.
void GetMovieNaturalBoundsRect(Movie movie, Rect* naturalBounds);
// Where the movie draws (a null device: the port's own), the time it shows, and one round of its
// work (drawing the frame at that time).
void SetMovieGWorld(Movie movie, CGrafPtr port, GDevice** gdh);
void SetMovieTimeValue(Movie movie, TimeValue newtime);
void MoviesTask(Movie movie, int32_t maxMilliSecToUse);
OSErr GetMovieDefaultDataRef(Movie movie, Handle* outDataRef, OSType* outDataRefType);

// The metadata store of a movie, track or media, with a count for the caller to release
// (QTMetaDataRelease); null otherwise. The movie layer makes the stores (platform::newMetaData).
OSStatus QTCopyMovieMetaData(Movie inMovie, QTMetaDataRef* outMetaData);
OSStatus QTCopyTrackMetaData(Track inTrack, QTMetaDataRef* outMetaData);
OSStatus QTCopyMediaMetaData(Media inMedia, QTMetaDataRef* outMetaData);

// Media.
OSErr GetMediaDataRef(Media media, int16_t index, Handle* dataRef, OSType* dataRefType,
                      int32_t* dataRefAttributes);
void GetMediaSampleDescription(Media media, int32_t index, SampleDescriptionHandle descH);

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
