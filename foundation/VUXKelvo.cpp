#include "VUXKelvo.h"

#include "VUXQTUtils.h"

#include "PlatformCF.h"
#include "PlatformFiles.h"
#include "PlatformSystem.h"

#include <cstring>
#include <new>

namespace VUX::VUXQT {

namespace {
// The bundle identifier of the platform's movie player application.
const char kMoviePlayerBundleID[] = "com.apple.QuickTimePlayerX";
} // namespace

uint32_t VUXKelvoLibraryVersion() {
    return 0x06708000;
}

const char* VUXKelvoLibraryVersionStr() {
    return "6.7.0";
}

int32_t VUXQTLoader::_mVersion = 0;
int32_t VUXQTLoader::_mMovieToolboxCounter = 0;
int32_t VUXQTLoader::_mError = 0;

uint32_t VUXQTLoader::libraryVersion() {
    if (_mVersion != 0) return static_cast<uint32_t>(_mVersion);
    SInt32 response = 0;
    if (Gestalt(gestaltQuickTime, &response) != noErr) {
        _mVersion = 0;
        return 0;
    }
    _mVersion = response;
    return static_cast<uint32_t>(_mVersion);
}

bool VUXQTLoader::initQuickTime() {
    if (_mMovieToolboxCounter != 0) return _mMovieToolboxCounter > 0;
    _mError = 0;
    if (libraryVersion() == 0) return false;
    _mError = EnterMovies();
    if (_mError != noErr) return false;
    _mMovieToolboxCounter = 1;
    return true;
}

bool VUXQTLoader::isQuickTimeLoaded() {
    return initQuickTime();
}

bool VUXQTLoader::isQuickTimeVRAvailable() {
    SInt32 response = 0;
    _mError = Gestalt(gestaltQTVRMgrAttr, &response);
    return _mError == noErr && (response & 1) != 0;
}

bool VUXQTLoader::isQuickTimeVRLoaded() {
    return isQuickTimeVRAvailable();
}

bool VUXQTLoader::initQuickTimeVR() {
    if (isQuickTimeVRAvailable()) return true;
    return isQuickTimeVRAvailable();
}

int32_t VUXQTLoader::terminateQuickTimeVR() {
    return 0;
}

uint32_t VUXQTLoader::libraryVRVersion() {
    SInt32 response = 0;
    _mError = Gestalt(gestaltQTVRMgrVers, &response);
    return _mError == noErr ? static_cast<uint32_t>(response) : 0;
}

int32_t VUXQTLoader::error() {
    return _mError;
}

VUXCString* VUXQTLoader::qtApplicationDirectoryPath() {
    CFStringRef bundleID =
        CFStringCreateWithCString(kCFAllocatorDefault, kMoviePlayerBundleID, kCFStringEncodingUTF8);
    CFURLRef application = nullptr;
    _mError = LSFindApplicationForInfo(kLSUnknownCreator, bundleID, nullptr, nullptr, &application);
    if (bundleID) CFRelease(bundleID);
    if (!application) return nullptr;
    CFURLRef folder = CFURLCreateCopyDeletingLastPathComponent(kCFAllocatorDefault, application);
    CFRelease(application);
    if (!folder) return nullptr;
    CFStringRef path = CFURLCopyPath(folder);
    CFRelease(folder);
    char* text = nullptr;
    VUXQTUtils::CFStringToCString(path, text, true);
    if (!text) return nullptr;
    auto* result = new (std::nothrow) VUXCString(text);
    delete[] text;
    return result;
}

VUXCString* VUXQTLoader::qtSystemDirectoryPath() {
    return new (std::nothrow) VUXCString("/System/");
}

VUXCString* VUXQTLoader::qtExtensionsDirectoryPath() {
    return new (std::nothrow) VUXCString("/System/Library/QuickTime/");
}

VUXCString* VUXQTLoader::qtComponentsDirectoryPath() {
    FSRef folder;
    std::memset(&folder, 0, sizeof folder);
    _mError = static_cast<int16_t>(
        FSFindFolder(kOnAppropriateDisk, kQuickTimeComponentsFolderType, kDontCreateFolder, &folder));
    if (_mError != noErr) return nullptr;
    char* path = new (std::nothrow) char[257]();
    if (!path) return nullptr;
    _mError = FSRefMakePath(&folder, reinterpret_cast<UInt8*>(path), 256);
    if (_mError != noErr) {
        delete[] path;
        return nullptr;
    }
    auto* result = new (std::nothrow) VUXCString(path);
    delete[] path;
    return result;
}

} // namespace VUX::VUXQT
