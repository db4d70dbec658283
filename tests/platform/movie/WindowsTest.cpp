#include "PlatformEvents.h"
#include "PlatformGWorlds.h"
#include "PlatformWindows.h"

#include <gtest/gtest.h>

#include <array>

namespace {

class WindowsTest : public ::testing::Test {
  protected:
    void SetUp() override { platform::setMainScreenSize(640, 480); }
    void TearDown() override {
        EXPECT_EQ(platform::liveWindowCount(), 0);
        EXPECT_EQ(platform::installedEventHandlerCount(), 0);
        platform::setMainScreenSize(1024, 768);
    }
};

// A, R, G, B of the port's pixel at (x, y).
std::array<uint8_t, 4> pixelAt(CGrafPtr port, int x, int y) {
    const PixMap& map = **GetPortPixMap(port);
    const auto* p =
        reinterpret_cast<const uint8_t*>(map.baseAddr) + size_t(y) * size_t(map.longRowBytes) + 4 * x;
    return {p[0], p[1], p[2], p[3]};
}

WindowRef newWindow(Rect bounds, WindowClass c = kDocumentWindowClass) {
    WindowRef w = nullptr;
    EXPECT_EQ(CreateNewWindow(c, kWindowCloseBoxAttribute, &bounds, &w), noErr);
    return w;
}

} // namespace

TEST_F(WindowsTest, PortIsAWhiteOffscreenWorldThatTheBlitterDrawsInto) {
    WindowRef w = newWindow({100, 50, 160, 130}); // 80 x 60 at (50, 100)
    ASSERT_NE(w, nullptr);
    CGrafPtr port = GetWindowPort(w);
    ASSERT_TRUE(platform::isGWorld(port));
    EXPECT_EQ(GetWindowFromPort(port), w);
    EXPECT_EQ(GetPixDepth(GetPortPixMap(port)), 32);
    Rect r{};
    ASSERT_EQ(GetWindowPortBounds(w, &r), &r);
    EXPECT_EQ(r.top, 0);
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.bottom, 60);
    EXPECT_EQ(r.right, 80);
    ASSERT_EQ(GetWindowBounds(w, kWindowContentRgn, &r), noErr);
    EXPECT_EQ(r.top, 100);
    EXPECT_EQ(r.left, 50);
    EXPECT_EQ(r.bottom, 160);
    EXPECT_EQ(r.right, 130);
    EXPECT_EQ(pixelAt(port, 0, 0), (std::array<uint8_t, 4>{0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_FALSE(IsWindowVisible(w));
    ShowWindow(w);
    EXPECT_TRUE(IsWindowVisible(w));
    HideWindow(w);
    EXPECT_FALSE(IsWindowVisible(w));

    // A 2 x 2 red world drawn scaled into the window's top-left 10 x 10.
    GWorldPtr red = nullptr;
    const Rect small{0, 0, 2, 2};
    ASSERT_EQ(QTNewGWorld(&red, k32ARGBPixelFormat, &small, nullptr, nullptr, 0), noErr);
    const PixMap& redMap = **GetGWorldPixMap(red);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x) {
            auto* p = reinterpret_cast<uint8_t*>(redMap.baseAddr) + y * redMap.longRowBytes + 4 * x;
            p[0] = 0xFF, p[1] = 0xFF, p[2] = 0, p[3] = 0;
        }
    const Rect dst{0, 0, 10, 10};
    ASSERT_EQ(CopyBits(GetPortBitMapForCopyBits(red), GetPortBitMapForCopyBits(port), &small, &dst, srcCopy,
                       nullptr),
              noErr);
    EXPECT_EQ(pixelAt(port, 9, 9), (std::array<uint8_t, 4>{0xFF, 0xFF, 0, 0}));
    EXPECT_EQ(pixelAt(port, 10, 9), (std::array<uint8_t, 4>{0xFF, 0xFF, 0xFF, 0xFF}));
    DisposeGWorld(red);
    DisposeWindow(w);
    EXPECT_FALSE(platform::isGWorld(port));
}

TEST_F(WindowsTest, CreationRefusesBadArguments) {
    struct Case {
        const char* what;
        WindowClass windowClass;
        Rect bounds;
        OSStatus expected;
    };
    const Case cases[] = {
        {"empty", kDocumentWindowClass, {10, 10, 10, 50}, paramErr},
        {"upside down", kDocumentWindowClass, {50, 10, 10, 50}, paramErr},
        {"wider than 16 bits", kDocumentWindowClass, {0, -20000, 10, 20000}, paramErr},
        {"unknown class", 7, {0, 0, 10, 10}, errUnrecognizedWindowClass},
        {"class 0", 0, {0, 0, 10, 10}, errUnrecognizedWindowClass},
    };
    for (const Case& c : cases) {
        WindowRef w = reinterpret_cast<WindowRef>(uintptr_t(1));
        EXPECT_EQ(CreateNewWindow(c.windowClass, 0, &c.bounds, &w), c.expected) << c.what;
        EXPECT_EQ(w, nullptr) << c.what;
    }
    WindowRef w = nullptr;
    EXPECT_EQ(CreateNewWindow(kDocumentWindowClass, 0, nullptr, &w), paramErr);
    const Rect ok{0, 0, 10, 10};
    EXPECT_EQ(CreateNewWindow(kDocumentWindowClass, 0, &ok, nullptr), paramErr);
}

TEST_F(WindowsTest, DisposedOrForeignWindowsAnswerStatuses) {
    WindowRef w = newWindow({0, 0, 10, 10});
    DisposeWindow(w);
    const WindowRef bad[] = {w, nullptr, reinterpret_cast<WindowRef>(uintptr_t(0xDEADBEE0))};
    for (WindowRef b : bad) {
        Rect r{};
        WindowClass c = 0;
        WindowAttributes a = 0;
        EXPECT_FALSE(IsValidWindowPtr(b));
        EXPECT_EQ(GetWindowPort(b), nullptr);
        EXPECT_EQ(GetWindowPortBounds(b, &r), nullptr);
        EXPECT_EQ(GetWindowEventTarget(b), nullptr);
        EXPECT_EQ(GetWindowBounds(b, kWindowContentRgn, &r), errInvalidWindowRef);
        EXPECT_EQ(SetWindowBounds(b, kWindowContentRgn, &r), errInvalidWindowRef);
        EXPECT_EQ(GetWindowClass(b, &c), errInvalidWindowRef);
        EXPECT_EQ(GetWindowAttributes(b, &a), errInvalidWindowRef);
        EXPECT_EQ(SetWindowGroup(b, GetWindowGroupOfClass(kDocumentWindowClass)), errInvalidWindowRef);
        EXPECT_EQ(GetWindowGroup(b), nullptr);
        ShowWindow(b);
        EXPECT_FALSE(IsWindowVisible(b));
        DisposeWindow(b); // a second dispose does nothing
    }
    EXPECT_EQ(SetUserFocusWindow(w), errInvalidWindowRef);
}

TEST_F(WindowsTest, BoundsMoveButKeepTheirSize) {
    WindowRef w = newWindow({0, 0, 30, 40});
    CGrafPtr port = GetWindowPort(w);
    const Rect moved{100, 200, 130, 240};
    EXPECT_EQ(SetWindowBounds(w, kWindowStructureRgn, &moved), noErr);
    Rect r{};
    ASSERT_EQ(GetWindowBounds(w, kWindowStructureRgn, &r), noErr);
    EXPECT_EQ(r.left, 200);
    EXPECT_EQ(r.top, 100);
    const Rect bigger{0, 0, 31, 40};
    EXPECT_EQ(SetWindowBounds(w, kWindowContentRgn, &bigger), paramErr);
    EXPECT_EQ(GetWindowBounds(w, 7, &r), errWindowRegionCodeInvalid);
    ASSERT_EQ(GetWindowBounds(w, kWindowContentRgn, &r), noErr);
    EXPECT_EQ(r.left, 200);
    EXPECT_EQ(GetWindowPort(w), port);
    WindowClass c = 0;
    WindowAttributes a = 0;
    EXPECT_EQ(GetWindowClass(w, &c), noErr);
    EXPECT_EQ(c, kDocumentWindowClass);
    EXPECT_EQ(GetWindowAttributes(w, &a), noErr);
    EXPECT_EQ(a, kWindowCloseBoxAttribute);
    DisposeWindow(w);
}

TEST_F(WindowsTest, WindowsMoveBetweenTheGroupsOfClasses) {
    WindowRef w = newWindow({0, 0, 10, 10}, kPlainWindowClass);
    EXPECT_EQ(GetWindowGroup(w), GetWindowGroupOfClass(kPlainWindowClass));
    WindowGroupRef documents = GetWindowGroupOfClass(kDocumentWindowClass);
    ASSERT_NE(documents, nullptr);
    EXPECT_NE(documents, GetWindowGroupOfClass(kPlainWindowClass));
    EXPECT_EQ(SetWindowGroup(w, documents), noErr);
    EXPECT_EQ(GetWindowGroup(w), documents);
    EXPECT_EQ(GetWindowGroupOfClass(7), nullptr);
    EXPECT_EQ(SetWindowGroup(w, nullptr), windowGroupInvalidErr);
    EXPECT_EQ(SetWindowGroup(w, reinterpret_cast<WindowGroupRef>(uintptr_t(0x1234))), windowGroupInvalidErr);
    EXPECT_EQ(GetWindowGroup(w), documents);
    DisposeWindow(w);
}

TEST_F(WindowsTest, FullScreenCoversTheScreenAndRestoresIt) {
    Ptr state = nullptr;
    WindowRef w = nullptr;
    ASSERT_EQ(BeginFullScreen(&state, nullptr, nullptr, nullptr, &w, nullptr, fullScreenAllowEvents), noErr);
    ASSERT_NE(state, nullptr);
    ASSERT_TRUE(IsValidWindowPtr(w));
    EXPECT_TRUE(IsWindowVisible(w));
    Rect r{};
    ASSERT_NE(GetWindowPortBounds(w, &r), nullptr);
    EXPECT_EQ(r.right, 640);
    EXPECT_EQ(r.bottom, 480);
    EXPECT_EQ(pixelAt(GetWindowPort(w), 639, 479), (std::array<uint8_t, 4>{0xFF, 0, 0, 0}));
    EXPECT_EQ(EndFullScreen(state, 0), noErr);
    EXPECT_FALSE(IsValidWindowPtr(w));
    EXPECT_EQ(EndFullScreen(state, 0), paramErr); // ended already
    EXPECT_EQ(EndFullScreen(nullptr, 0), paramErr);

    // A mode switch to the size asked for, undone at the end; an erase colour paints the window.
    int16_t width = 320, height = 200;
    RGBColor blue{0, 0, 0xFFFF};
    ASSERT_EQ(BeginFullScreen(&state, nullptr, &width, &height, &w, &blue, 0), noErr);
    int16_t sw = 0, sh = 0;
    platform::mainScreenSize(&sw, &sh);
    EXPECT_EQ(sw, 320);
    EXPECT_EQ(sh, 200);
    ASSERT_NE(GetWindowPortBounds(w, &r), nullptr);
    EXPECT_EQ(r.right, 320);
    EXPECT_EQ(pixelAt(GetWindowPort(w), 0, 0), (std::array<uint8_t, 4>{0xFF, 0, 0, 0xFF}));
    // The caller may dispose of the window itself: the end does not do it twice.
    DisposeWindow(w);
    EXPECT_EQ(EndFullScreen(state, 0), noErr);
    platform::mainScreenSize(&sw, &sh);
    EXPECT_EQ(sw, 640);
    EXPECT_EQ(sh, 480);
}

TEST_F(WindowsTest, FullScreenSizesAndRefusals) {
    // Zero sizes receive the size in use; a preflight answers the size only.
    int16_t width = 0, height = 0;
    Ptr state = reinterpret_cast<Ptr>(uintptr_t(1));
    ASSERT_EQ(BeginFullScreen(&state, nullptr, &width, &height, nullptr, nullptr, fullScreenPreflightSize),
              noErr);
    EXPECT_EQ(width, 640);
    EXPECT_EQ(height, 480);
    EXPECT_EQ(state, nullptr);
    width = 800, height = 600;
    ASSERT_EQ(BeginFullScreen(nullptr, nullptr, &width, &height, nullptr, nullptr, fullScreenPreflightSize),
              noErr);
    int16_t sw = 0, sh = 0;
    platform::mainScreenSize(&sw, &sh);
    EXPECT_EQ(sw, 640);

    struct Case {
        const char* what;
        int16_t width, height;
        bool device, noState;
    };
    const Case cases[] = {
        {"negative width", -5, 100, false, false}, {"zero height with a width", 100, 0, false, false},
        {"too tall", 100, 9000, false, false},     {"a device", 0, 0, true, false},
        {"no restore state", 0, 0, false, true},
    };
    GDHandle someDevice = reinterpret_cast<GDHandle>(uintptr_t(0x40));
    for (const Case& c : cases) {
        int16_t w = c.width, h = c.height;
        WindowRef win = nullptr;
        EXPECT_EQ(BeginFullScreen(c.noState ? nullptr : &state, c.device ? someDevice : nullptr, &w, &h, &win,
                                  nullptr, 0),
                  paramErr)
            << c.what;
        EXPECT_EQ(win, nullptr) << c.what;
    }
    EXPECT_EQ(platform::liveWindowCount(), 0);
}

TEST_F(WindowsTest, OverlappingFullScreensPutTheFirstSizeBackWhicheverEndsLast) {
    for (bool firstEndsFirst : {true, false}) {
        Ptr first = nullptr, second = nullptr;
        int16_t w1 = 800, h1 = 600, w2 = 320, h2 = 200;
        ASSERT_EQ(BeginFullScreen(&first, nullptr, &w1, &h1, nullptr, nullptr, 0), noErr);
        ASSERT_EQ(BeginFullScreen(&second, nullptr, &w2, &h2, nullptr, nullptr, 0), noErr);
        EXPECT_EQ(platform::liveWindowCount(), 2);
        EXPECT_EQ(EndFullScreen(firstEndsFirst ? first : second, 0), noErr);
        int16_t sw = 0, sh = 0;
        platform::mainScreenSize(&sw, &sh);
        EXPECT_EQ(sw, firstEndsFirst ? 320 : 800) << firstEndsFirst;
        EXPECT_EQ(EndFullScreen(firstEndsFirst ? second : first, 0), noErr);
        platform::mainScreenSize(&sw, &sh);
        EXPECT_EQ(sw, 640) << firstEndsFirst;
        EXPECT_EQ(sh, 480) << firstEndsFirst;
    }
}
