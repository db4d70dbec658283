// Movie-toolbox and imaging calls that the foundation's QuickTime utilities make and that the
// movie and imaging layers answer: the graphics importers found for a data reference (CG images are the
// imaging layer's, PlatformCoreGraphics.h; the user data lists themselves are the core's, PlatformUserData.h;
// the user data of movies, tracks and media is the movie layer's, PlatformMovies.h; the sticky error is the
// core's, PlatformErrors.h). They are declared here, where the foundation sees them, and defined by
// those layers.
#pragma once

#include "PlatformErrors.h"
#include "PlatformObjects.h"
#include "PlatformTypes.h"
#include "PlatformUserData.h"

// A data reference as the movie toolbox takes it: its type and its handle.
struct DataReferenceRecord {
    OSType dataRefType;
    Handle dataRef;
};

constexpr OSErr couldNotResolveDataRef = -2000;
constexpr int32_t kGraphicsImporterDontValidate = 1; // the flag that skips validation of the data
constexpr int32_t kMovieImporterDontUseGraphicsImporters = 4;

// A graphics importer that can read the data reference ('alis', 'hndl' or 'ptr '), or
// cantFindHandler; defined with the imaging layer's graphics importers
// (PlatformGraphicsImport.cpp).
OSErr GetGraphicsImporterForDataRefWithFlags(Handle dataRef, OSType dataRefType,
                                             GraphicsImportComponent* importer, int32_t flags);
