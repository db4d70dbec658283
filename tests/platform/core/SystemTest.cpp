#include "PlatformSystem.h"

#include <gtest/gtest.h>

namespace {

TEST(PlatformSystem, GestaltAnswersForThisLayer) {
    SInt32 response = -1;
    EXPECT_EQ(Gestalt(gestaltQuickTime, &response), noErr);
    EXPECT_EQ(response, platform::kMovieToolboxVersion);
    EXPECT_EQ(Gestalt(gestaltSystemVersion, &response), noErr);
    EXPECT_EQ(response, 0x1068);
    EXPECT_EQ(Gestalt(gestaltQTVRMgrAttr, &response), gestaltUndefSelectorErr);
    EXPECT_EQ(response, 0);
    EXPECT_EQ(Gestalt(gestaltQuickTime, nullptr), paramErr);

    auto previous = platform::setGestaltHandler([](OSType, SInt32* r) -> OSErr {
        *r = 7;
        return noErr;
    });
    EXPECT_EQ(Gestalt(FOUR_CHAR_CODE("abcd"), &response), noErr);
    EXPECT_EQ(response, 7);
    platform::setGestaltHandler(previous);
    EXPECT_EQ(Gestalt(FOUR_CHAR_CODE("abcd"), &response), gestaltUndefSelectorErr);
}

TEST(PlatformSystem, MovieToolboxStartIsCountedAndReplaceable) {
    const int32_t before = platform::enterMoviesCallCount();
    EXPECT_EQ(EnterMovies(), noErr);
    auto previous = platform::setEnterMoviesHandler([]() -> OSErr { return -108; });
    EXPECT_EQ(EnterMovies(), -108);
    platform::setEnterMoviesHandler(previous);
    EXPECT_EQ(platform::enterMoviesCallCount() - before, 2);

    FSRef ref;
    EXPECT_EQ(FSFindFolder(kOnAppropriateDisk, kQuickTimeComponentsFolderType, kDontCreateFolder, &ref),
              fnfErr);
    CFURLRef url = reinterpret_cast<CFURLRef>(1);
    EXPECT_EQ(LSFindApplicationForInfo(kLSUnknownCreator, nullptr, nullptr, nullptr, &url),
              kLSApplicationNotFoundErr);
    EXPECT_EQ(url, nullptr);
}

} // namespace
