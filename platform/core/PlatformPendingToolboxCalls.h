// Movie-toolbox and imaging calls that the foundation's QuickTime utilities make and that the
// movie and imaging layers answer: movie user data, the movies sticky error and graphics importers
// found for a data reference (CG images are the imaging layer's, PlatformCoreGraphics.h). Until
// those layers provide them, each call here answers with the platform's status for the object it
// cannot reach and hands back nothing; the layers replace the definitions in
// PlatformPendingToolboxCalls.cpp.
#pragma once

#include "PlatformObjects.h"
#include "PlatformTypes.h"

// A data reference as the movie toolbox takes it: its type and its handle.
struct DataReferenceRecord {
    OSType dataRefType;
    Handle dataRef;
};

struct OpaqueUserData;
using UserData = OpaqueUserData*;

constexpr OSErr userDataItemNotFound = -2026;
constexpr OSErr couldNotResolveDataRef = -2000;
constexpr int32_t kGraphicsImporterDontValidate = 1; // the flag that skips validation of the data
constexpr int32_t kMovieImporterDontUseGraphicsImporters = 4;

// The movie's user data; null with invalidMovie until the movie layer exists.
UserData GetMovieUserData(Movie movie);
// The index-th item of the type (data copied into `data`, at most `size` bytes).
OSErr GetUserDataItem(UserData userData, void* data, int32_t size, OSType udType, int32_t index);
OSErr SetUserDataItem(UserData userData, void* data, int32_t size, OSType udType, int32_t index);

// The first movie-toolbox error since the sticky error was last cleared.
OSErr GetMoviesStickyError();
void ClearMoviesStickyError();

// A graphics importer that can read the data reference ('alis', 'hndl' or 'ptr '), or
// cantFindHandler; defined with the imaging layer's graphics importers
// (PlatformGraphicsImport.cpp).
OSErr GetGraphicsImporterForDataRefWithFlags(Handle dataRef, OSType dataRefType,
                                             GraphicsImportComponent* importer, int32_t flags);
