// The QuickTime loader: whether the movie toolbox is present and which version it is, its start
// once per process, whether the QuickTime VR manager is present, and the folders where the
// platform keeps its movie player, system files, extensions and components. Beside it, the
// foundation library's own version.
#pragma once

#include "VUXString.h"

#include <cstdint>

namespace VUX::VUXQT {

// The foundation library's version: 0x06708000 and "6.7.0".
uint32_t VUXKelvoLibraryVersion();
const char* VUXKelvoLibraryVersionStr();

// Static members only. Its state (the version cache, the movie-toolbox counter and the last
// error) belongs to the host's main thread.
class VUXQTLoader {
  public:
    VUXQTLoader() = delete;

    // The movie toolbox's version (Gestalt 'qtim'), cached once known; 0 while it is absent,
    // and then asked again on every call.
    static uint32_t libraryVersion();
    // Starts the movie toolbox the first time it succeeds; later calls answer without starting
    // it again. A failed start is recorded and tried again on the next call.
    static bool initQuickTime();
    static bool isQuickTimeLoaded();
    // Gestalt 'qtvr' bit 0; the Gestalt error is recorded.
    static bool isQuickTimeVRAvailable();
    static bool isQuickTimeVRLoaded();
    static bool initQuickTimeVR();
    static int32_t terminateQuickTimeVR();
    // Gestalt 'qtvv', or 0 on an error (recorded).
    static uint32_t libraryVRVersion();
    static int32_t error();

    // New strings owned by the caller, or null (the platform's error is recorded).
    static VUXCString* qtApplicationDirectoryPath();
    static VUXCString* qtSystemDirectoryPath();
    static VUXCString* qtExtensionsDirectoryPath();
    static VUXCString* qtComponentsDirectoryPath();

  private:
    static int32_t _mVersion;
    static int32_t _mMovieToolboxCounter;
    static int32_t _mError;
};

} // namespace VUX::VUXQT
