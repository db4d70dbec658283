#include "PlatformSystem.h"

namespace {

OSErr builtInGestalt(OSType selector, SInt32* response) {
    switch (selector) {
    case gestaltQuickTime:
        *response = platform::kMovieToolboxVersion;
        return noErr;
    case gestaltSystemVersion:
        *response = platform::kSystemVersion;
        return noErr;
    default:
        return gestaltUndefSelectorErr;
    }
}

OSErr builtInEnterMovies() {
    return noErr;
}

OSErr builtInFindFolder(int16_t, OSType, Boolean, FSRef*) {
    return fnfErr;
}

OSStatus builtInFindApplication(OSType, CFStringRef, CFStringRef, FSRef*, CFURLRef*) {
    return kLSApplicationNotFoundErr;
}

platform::GestaltHandler gGestalt = nullptr;
platform::EnterMoviesHandler gEnterMovies = nullptr;
platform::FolderHandler gFindFolder = nullptr;
platform::ApplicationHandler gFindApplication = nullptr;
int32_t gEnterMoviesCalls = 0;

} // namespace

OSErr Gestalt(OSType selector, SInt32* response) {
    if (!response) return paramErr;
    *response = 0;
    return gGestalt ? gGestalt(selector, response) : builtInGestalt(selector, response);
}

OSErr EnterMovies() {
    ++gEnterMoviesCalls;
    return gEnterMovies ? gEnterMovies() : builtInEnterMovies();
}

OSErr FSFindFolder(int16_t vRefNum, OSType folderType, Boolean createFolder, FSRef* foundRef) {
    if (!foundRef) return paramErr;
    return gFindFolder ? gFindFolder(vRefNum, folderType, createFolder, foundRef)
                       : builtInFindFolder(vRefNum, folderType, createFolder, foundRef);
}

OSStatus LSFindApplicationForInfo(OSType creator, CFStringRef bundleID, CFStringRef name, FSRef* outAppRef,
                                  CFURLRef* outAppURL) {
    if (outAppURL) *outAppURL = nullptr;
    if (!outAppRef && !outAppURL) return paramErr;
    return gFindApplication ? gFindApplication(creator, bundleID, name, outAppRef, outAppURL)
                            : builtInFindApplication(creator, bundleID, name, outAppRef, outAppURL);
}

namespace platform {

GestaltHandler setGestaltHandler(GestaltHandler handler) {
    GestaltHandler previous = gGestalt;
    gGestalt = handler;
    return previous;
}

EnterMoviesHandler setEnterMoviesHandler(EnterMoviesHandler handler) {
    EnterMoviesHandler previous = gEnterMovies;
    gEnterMovies = handler;
    return previous;
}

int32_t enterMoviesCallCount() {
    return gEnterMoviesCalls;
}

FolderHandler setFolderHandler(FolderHandler handler) {
    FolderHandler previous = gFindFolder;
    gFindFolder = handler;
    return previous;
}

ApplicationHandler setApplicationHandler(ApplicationHandler handler) {
    ApplicationHandler previous = gFindApplication;
    gFindApplication = handler;
    return previous;
}

} // namespace platform
