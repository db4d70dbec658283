// System services that the movie toolbox's clients ask about: Gestalt answers, the start of the
// movie toolbox, the platform's special folders and the look-up of applications. Each answers
// for this layer by default and can be replaced by a test through the hooks below.
#pragma once

#include "PlatformCF.h"
#include "PlatformFiles.h"
#include "PlatformTypes.h"

constexpr OSErr gestaltUndefSelectorErr = -5551;
constexpr OSStatus kLSApplicationNotFoundErr = -10814;
constexpr int16_t kOnAppropriateDisk = -32768;
constexpr Boolean kDontCreateFolder = false;
constexpr Boolean kCreateFolder = true;
constexpr OSType kLSUnknownCreator = 0;

constexpr OSType gestaltQuickTime = FOUR_CHAR_CODE("qtim");
constexpr OSType gestaltQTVRMgrAttr = FOUR_CHAR_CODE("qtvr");
constexpr OSType gestaltQTVRMgrVers = FOUR_CHAR_CODE("qtvv");
constexpr OSType gestaltSystemVersion = FOUR_CHAR_CODE("sysv");
constexpr OSType kQuickTimeComponentsFolderType = FOUR_CHAR_CODE("wcmp");

namespace platform {
// What this layer answers: the movie toolbox's version for 'qtim' and the system's for 'sysv'.
// It has no QuickTime VR manager, so 'qtvr' and 'qtvv' (like any other selector) are undefined.
constexpr SInt32 kMovieToolboxVersion = 0x07738000;
constexpr SInt32 kSystemVersion = 0x1068;
} // namespace platform

// paramErr for a null response; gestaltUndefSelectorErr for a selector without an answer.
OSErr Gestalt(OSType selector, SInt32* response);
// Starts the movie toolbox for the process; every call is counted.
OSErr EnterMovies();
// The folder of the given type; fnfErr when this layer has no such folder.
OSErr FSFindFolder(int16_t vRefNum, OSType folderType, Boolean createFolder, FSRef* foundRef);
// Finds an application by creator, bundle identifier or name; kLSApplicationNotFoundErr when
// none is installed. The URL, when asked for, belongs to the caller.
OSStatus LSFindApplicationForInfo(OSType creator, CFStringRef bundleID, CFStringRef name, FSRef* outAppRef,
                                  CFURLRef* outAppURL);

namespace platform {

// Test hooks: each setter installs a replacement (null restores this layer's own answers) and
// returns the one it replaced.
using GestaltHandler = OSErr (*)(OSType selector, SInt32* response);
GestaltHandler setGestaltHandler(GestaltHandler handler);

using EnterMoviesHandler = OSErr (*)();
EnterMoviesHandler setEnterMoviesHandler(EnterMoviesHandler handler);
// How many times EnterMovies was called in this process.
int32_t enterMoviesCallCount();

using FolderHandler = OSErr (*)(int16_t vRefNum, OSType folderType, Boolean createFolder, FSRef* foundRef);
FolderHandler setFolderHandler(FolderHandler handler);

using ApplicationHandler = OSStatus (*)(OSType creator, CFStringRef bundleID, CFStringRef name,
                                        FSRef* outAppRef, CFURLRef* outAppURL);
ApplicationHandler setApplicationHandler(ApplicationHandler handler);

} // namespace platform
