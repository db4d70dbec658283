#include "VUXKelvo.h"

#include "PlatformSystem.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

namespace {

using VUX::VUXQT::VUXQTLoader;

// The loader keeps its state for the whole process, as it does in a host: the tests below are
// written to hold whether they run alone or one after the other in this order.

int gGestaltQTAsks = 0;
OSErr failingGestalt(OSType selector, SInt32* response) {
    if (selector == gestaltQuickTime) ++gGestaltQTAsks;
    *response = 0;
    return gestaltUndefSelectorErr;
}

OSErr failingEnterMovies() {
    return -108;
}

struct GestaltScope {
    explicit GestaltScope(platform::GestaltHandler h) : previous(platform::setGestaltHandler(h)) {}
    ~GestaltScope() { platform::setGestaltHandler(previous); }
    platform::GestaltHandler previous;
};

TEST(VUXQTLoader, AnAbsentToolboxIsAskedForAgain) {
    GestaltScope scope(failingGestalt);
    const int before = gGestaltQTAsks;
    if (VUXQTLoader::libraryVersion() != 0) GTEST_SKIP() << "the version was cached by an earlier test";
    EXPECT_EQ(VUXQTLoader::libraryVersion(), 0u);
    EXPECT_EQ(gGestaltQTAsks - before, 2);
    const int32_t starts = platform::enterMoviesCallCount();
    EXPECT_FALSE(VUXQTLoader::initQuickTime());
    EXPECT_EQ(platform::enterMoviesCallCount(), starts); // nothing to start
}

TEST(VUXQTLoader, AFailedStartIsTriedAgain) {
    platform::EnterMoviesHandler previous = platform::setEnterMoviesHandler(failingEnterMovies);
    const bool started = VUXQTLoader::initQuickTime();
    platform::setEnterMoviesHandler(previous);
    if (started) GTEST_SKIP() << "started by an earlier test";
    EXPECT_EQ(VUXQTLoader::error(), -108);
    EXPECT_TRUE(VUXQTLoader::initQuickTime());
    EXPECT_EQ(VUXQTLoader::error(), 0);
}

TEST(VUXQTLoader, StartsTheToolboxOnce) {
    EXPECT_TRUE(VUXQTLoader::initQuickTime());
    const int32_t starts = platform::enterMoviesCallCount();
    EXPECT_TRUE(VUXQTLoader::initQuickTime());
    EXPECT_TRUE(VUXQTLoader::isQuickTimeLoaded());
    EXPECT_EQ(platform::enterMoviesCallCount(), starts);
    // The version is this layer's, and once known it is not asked for again.
    EXPECT_EQ(VUXQTLoader::libraryVersion(), uint32_t(platform::kMovieToolboxVersion));
    GestaltScope scope(failingGestalt);
    EXPECT_EQ(VUXQTLoader::libraryVersion(), uint32_t(platform::kMovieToolboxVersion));
}

TEST(VUXQTLoader, VirtualRealityManager) {
    // This layer has none: the Gestalt error is kept.
    EXPECT_FALSE(VUXQTLoader::initQuickTimeVR());
    EXPECT_EQ(VUXQTLoader::error(), gestaltUndefSelectorErr);
    EXPECT_EQ(VUXQTLoader::libraryVRVersion(), 0u);
    EXPECT_EQ(VUXQTLoader::error(), gestaltUndefSelectorErr);
    EXPECT_EQ(VUXQTLoader::terminateQuickTimeVR(), 0);

    GestaltScope scope([](OSType selector, SInt32* response) -> OSErr {
        if (selector == gestaltQTVRMgrAttr)
            *response = 1;
        else if (selector == gestaltQTVRMgrVers)
            *response = 0x0250;
        else
            return gestaltUndefSelectorErr;
        return noErr;
    });
    EXPECT_TRUE(VUXQTLoader::isQuickTimeVRAvailable());
    EXPECT_TRUE(VUXQTLoader::isQuickTimeVRLoaded());
    EXPECT_EQ(VUXQTLoader::libraryVRVersion(), 0x0250u);
    EXPECT_EQ(VUXQTLoader::error(), 0);
}

TEST(VUXQTLoader, VersionsAndFolders) {
    EXPECT_EQ(VUX::VUXQT::VUXKelvoLibraryVersion(), 0x06708000u);
    EXPECT_STREQ(VUX::VUXQT::VUXKelvoLibraryVersionStr(), "6.7.0");

    std::unique_ptr<VUX::VUXCString> system(VUXQTLoader::qtSystemDirectoryPath());
    EXPECT_STREQ(system->data(), "/System/");
    EXPECT_EQ(system->length(), 8);
    std::unique_ptr<VUX::VUXCString> extensions(VUXQTLoader::qtExtensionsDirectoryPath());
    EXPECT_STREQ(extensions->data(), "/System/Library/QuickTime/");

    // This layer has neither a movie player nor a components folder.
    EXPECT_EQ(VUXQTLoader::qtApplicationDirectoryPath(), nullptr);
    EXPECT_EQ(VUXQTLoader::error(), kLSApplicationNotFoundErr);
    EXPECT_EQ(VUXQTLoader::qtComponentsDirectoryPath(), nullptr);
    EXPECT_EQ(VUXQTLoader::error(), fnfErr);

    // Where the platform knows them, the paths come through.
    auto previousApp = platform::setApplicationHandler(
        [](OSType, CFStringRef bundleID, CFStringRef, FSRef*, CFURLRef* url) -> OSStatus {
            char id[64];
            if (!bundleID || !CFStringGetCString(bundleID, id, sizeof id, kCFStringEncodingUTF8))
                return paramErr;
            CFStringRef path =
                CFStringCreateWithCString(nullptr, "/Applications/Movie Player.app", kCFStringEncodingUTF8);
            *url = CFURLCreateWithFileSystemPath(nullptr, path, kCFURLPOSIXPathStyle, true);
            CFRelease(path);
            return noErr;
        });
    std::unique_ptr<VUX::VUXCString> app(VUXQTLoader::qtApplicationDirectoryPath());
    platform::setApplicationHandler(previousApp);
    ASSERT_NE(app, nullptr);
    EXPECT_STREQ(app->data(), "/Applications/");
    EXPECT_EQ(VUXQTLoader::error(), 0);

    auto previousFolder =
        platform::setFolderHandler([](int16_t vRefNum, OSType type, Boolean create, FSRef* ref) -> OSErr {
            if (vRefNum != kOnAppropriateDisk || type != kQuickTimeComponentsFolderType || create)
                return paramErr;
            std::strcpy(ref->path, "/Library/QuickTime");
            return noErr;
        });
    std::unique_ptr<VUX::VUXCString> components(VUXQTLoader::qtComponentsDirectoryPath());
    platform::setFolderHandler(previousFolder);
    ASSERT_NE(components, nullptr);
    EXPECT_STREQ(components->data(), "/Library/QuickTime");
}

} // namespace
