#include "PlatformWindows.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace {

constexpr int16_t kMaxScreenEdge = 8192;

struct Window {
    uint64_t id = 0;
    WindowClass windowClass = 0;
    WindowAttributes attributes = 0;
    Rect bounds{}; // global
    GWorldPtr port = nullptr;
    EventTargetRef target = nullptr;
    WindowGroupRef group = nullptr;
    bool visible = false;
};

struct FullScreenState {
    WindowRef window = nullptr;
    int16_t savedWidth = 0;
    int16_t savedHeight = 0;
};

struct Registry {
    std::mutex lock;
    uint64_t nextId = 1;
    std::unordered_map<uint64_t, std::unique_ptr<Window>> windows;
    std::unordered_map<uint64_t, FullScreenState> fullScreens;
    WindowRef focus = nullptr;
    int16_t screenWidth = 1024;
    int16_t screenHeight = 768;
};

Registry& registry() {
    static Registry* r = new Registry; // never destroyed: windows may outlive static destruction
    return *r;
}

template <typename Ref> Ref tokenOf(uint64_t id) {
    return reinterpret_cast<Ref>(uintptr_t(0x20000 + id * 16));
}
template <typename Ref> uint64_t idOf(Ref ref) {
    uintptr_t v = reinterpret_cast<uintptr_t>(ref);
    return v < 0x20000 ? 0 : (v - 0x20000) / 16;
}

Window* findWindow(Registry& r, WindowRef ref) {
    auto found = r.windows.find(idOf(ref));
    return found == r.windows.end() ? nullptr : found->second.get();
}

bool knownClass(WindowClass c) {
    switch (c) {
    case kAlertWindowClass:
    case kMovableAlertWindowClass:
    case kModalWindowClass:
    case kMovableModalWindowClass:
    case kFloatingWindowClass:
    case kDocumentWindowClass:
    case kUtilityWindowClass:
    case kHelpWindowClass:
    case kSheetWindowClass:
    case kToolbarWindowClass:
    case kPlainWindowClass:
    case kOverlayWindowClass:
    case kSheetAlertWindowClass:
    case kAltPlainWindowClass:
    case kSimpleWindowClass:
    case kDrawerWindowClass:
        return true;
    default:
        return false;
    }
}

// Groups are the classes' own: a token per class.
WindowGroupRef groupOfClass(WindowClass c) {
    return knownClass(c) ? reinterpret_cast<WindowGroupRef>(uintptr_t(0x1000 + c * 16)) : nullptr;
}

bool isGroup(WindowGroupRef g) {
    uintptr_t v = reinterpret_cast<uintptr_t>(g);
    return v >= 0x1000 && (v - 0x1000) % 16 == 0 && knownClass(WindowClass((v - 0x1000) / 16));
}

// Paints every pixel of a 32-bit world with one opaque colour.
void paint(GWorldPtr port, uint8_t red, uint8_t green, uint8_t blue) {
    PixMapHandle pm = GetGWorldPixMap(port);
    const PixMap& map = **pm;
    const int32_t width = map.bounds.right - map.bounds.left;
    const int32_t height = map.bounds.bottom - map.bounds.top;
    for (int32_t y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<uint8_t*>(map.baseAddr) + size_t(y) * size_t(map.longRowBytes);
        for (int32_t x = 0; x < width; ++x) {
            row[4 * x] = 0xFF;
            row[4 * x + 1] = red;
            row[4 * x + 2] = green;
            row[4 * x + 3] = blue;
        }
    }
}

OSStatus makeWindow(WindowClass windowClass, WindowAttributes attributes, const Rect& bounds,
                    WindowRef* out) {
    const Rect local{0, 0, int16_t(bounds.bottom - bounds.top), int16_t(bounds.right - bounds.left)};
    GWorldPtr port = nullptr;
    QDErr err = QTNewGWorld(&port, k32ARGBPixelFormat, &local, nullptr, nullptr, 0);
    if (err != noErr) return err;
    paint(port, 0xFF, 0xFF, 0xFF);
    Registry& r = registry();
    uint64_t id;
    {
        std::lock_guard<std::mutex> guard(r.lock);
        id = r.nextId++;
    }
    WindowRef ref = tokenOf<WindowRef>(id);
    auto w = std::make_unique<Window>();
    w->id = id;
    w->windowClass = windowClass;
    w->attributes = attributes;
    w->bounds = bounds;
    w->port = port;
    w->group = groupOfClass(windowClass);
    w->target = platform::newWindowEventTarget(ref);
    std::lock_guard<std::mutex> guard(r.lock);
    r.windows[id] = std::move(w);
    *out = ref;
    return noErr;
}

// One field of the window, read under the lock; its zero for a window that is not there.
template <class T> T fieldOf(WindowRef window, T Window::*field) {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    Window* w = findWindow(r, window);
    return w ? w->*field : T{};
}

// One field of the window into `out`, read under the lock; paramErr without `out`,
// errInvalidWindowRef for a window that is not there.
template <class T> OSStatus fieldInto(WindowRef window, T Window::*field, T* out) {
    if (!out) return paramErr;
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    Window* w = findWindow(r, window);
    if (!w) return errInvalidWindowRef;
    *out = w->*field;
    return noErr;
}

} // namespace

OSStatus CreateNewWindow(WindowClass windowClass, WindowAttributes attributes, const Rect* contentBounds,
                         WindowRef* outWindow) {
    if (outWindow) *outWindow = nullptr;
    if (!contentBounds || !outWindow) return paramErr;
    if (!knownClass(windowClass)) return errUnrecognizedWindowClass;
    // Edges are compared in 32 bits: a width past 32767 is refused, not wrapped.
    const int32_t width = int32_t(contentBounds->right) - contentBounds->left;
    const int32_t height = int32_t(contentBounds->bottom) - contentBounds->top;
    if (width <= 0 || height <= 0 || width > INT16_MAX || height > INT16_MAX) return paramErr;
    return makeWindow(windowClass, attributes, *contentBounds, outWindow);
}

void DisposeWindow(WindowRef window) {
    Registry& r = registry();
    std::unique_ptr<Window> w;
    {
        std::lock_guard<std::mutex> guard(r.lock);
        auto found = r.windows.find(idOf(window));
        if (found == r.windows.end()) return;
        w = std::move(found->second);
        r.windows.erase(found);
        if (r.focus == window) r.focus = nullptr;
    }
    platform::disposeWindowEventTarget(w->target);
    DisposeGWorld(w->port);
}

Boolean IsValidWindowPtr(WindowRef window) {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    return findWindow(r, window) != nullptr;
}

CGrafPtr GetWindowPort(WindowRef window) {
    return fieldOf(window, &Window::port);
}

WindowRef GetWindowFromPort(CGrafPtr port) {
    if (!port) return nullptr;
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    for (const auto& [id, w] : r.windows)
        if (w->port == port) return tokenOf<WindowRef>(id);
    return nullptr;
}

Rect* GetWindowPortBounds(WindowRef window, Rect* bounds) {
    if (!bounds) return nullptr;
    CGrafPtr port = GetWindowPort(window);
    if (!port) return nullptr;
    return GetPortBounds(port, bounds);
}

OSStatus GetWindowClass(WindowRef window, WindowClass* outClass) {
    return fieldInto(window, &Window::windowClass, outClass);
}

OSStatus GetWindowAttributes(WindowRef window, WindowAttributes* outAttributes) {
    return fieldInto(window, &Window::attributes, outAttributes);
}

OSStatus GetWindowBounds(WindowRef window, WindowRegionCode regionCode, Rect* globalBounds) {
    if (!globalBounds) return paramErr;
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    Window* w = findWindow(r, window);
    if (!w) return errInvalidWindowRef;
    if (regionCode != kWindowStructureRgn && regionCode != kWindowContentRgn &&
        regionCode != kWindowGlobalPortRgn)
        return errWindowRegionCodeInvalid;
    *globalBounds = w->bounds;
    return noErr;
}

OSStatus SetWindowBounds(WindowRef window, WindowRegionCode regionCode, const Rect* globalBounds) {
    if (!globalBounds) return paramErr;
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    Window* w = findWindow(r, window);
    if (!w) return errInvalidWindowRef;
    if (regionCode != kWindowStructureRgn && regionCode != kWindowContentRgn &&
        regionCode != kWindowGlobalPortRgn)
        return errWindowRegionCodeInvalid;
    const int32_t width = int32_t(globalBounds->right) - globalBounds->left;
    const int32_t height = int32_t(globalBounds->bottom) - globalBounds->top;
    if (width != int32_t(w->bounds.right) - w->bounds.left ||
        height != int32_t(w->bounds.bottom) - w->bounds.top)
        return paramErr;
    w->bounds = *globalBounds;
    return noErr;
}

void ShowWindow(WindowRef window) {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    if (Window* w = findWindow(r, window)) w->visible = true;
}

void HideWindow(WindowRef window) {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    if (Window* w = findWindow(r, window)) w->visible = false;
}

Boolean IsWindowVisible(WindowRef window) {
    return fieldOf(window, &Window::visible);
}

WindowGroupRef GetWindowGroupOfClass(WindowClass windowClass) {
    return groupOfClass(windowClass);
}

OSStatus SetWindowGroup(WindowRef window, WindowGroupRef group) {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    Window* w = findWindow(r, window);
    if (!w) return errInvalidWindowRef;
    if (!isGroup(group)) return windowGroupInvalidErr;
    w->group = group;
    return noErr;
}

WindowGroupRef GetWindowGroup(WindowRef window) {
    return fieldOf(window, &Window::group);
}

EventTargetRef GetWindowEventTarget(WindowRef window) {
    return fieldOf(window, &Window::target);
}

OSStatus SetUserFocusWindow(WindowRef window) {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    if (window && !findWindow(r, window)) return errInvalidWindowRef;
    r.focus = window;
    return noErr;
}

WindowRef GetUserFocusWindow() {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    return r.focus;
}

OSErr BeginFullScreen(Ptr* restoreState, GDHandle whichGD, int16_t* desiredWidth, int16_t* desiredHeight,
                      WindowRef* newWindow, RGBColor* eraseColor, int32_t flags) {
    const bool preflight = (flags & fullScreenPreflightSize) != 0;
    if (restoreState) *restoreState = nullptr;
    if (newWindow) *newWindow = nullptr;
    if (whichGD || (!preflight && !restoreState)) return paramErr;
    Registry& r = registry();
    int16_t savedWidth, savedHeight;
    {
        std::lock_guard<std::mutex> guard(r.lock);
        savedWidth = r.screenWidth;
        savedHeight = r.screenHeight;
    }
    int16_t width = savedWidth, height = savedHeight;
    const bool wantsSize = desiredWidth && desiredHeight && (*desiredWidth != 0 || *desiredHeight != 0);
    if (wantsSize) {
        if (*desiredWidth < 1 || *desiredWidth > kMaxScreenEdge || *desiredHeight < 1 ||
            *desiredHeight > kMaxScreenEdge)
            return paramErr;
        width = *desiredWidth;
        height = *desiredHeight;
    }
    if (desiredWidth) *desiredWidth = width;
    if (desiredHeight) *desiredHeight = height;
    if (preflight) return noErr;

    WindowRef window = nullptr;
    const Rect screen{0, 0, height, width};
    OSStatus err = makeWindow(kPlainWindowClass, kWindowNoAttributes, screen, &window);
    if (err != noErr) return OSErr(err);
    const RGBColor black{0, 0, 0};
    const RGBColor& c = eraseColor ? *eraseColor : black;
    paint(GetWindowPort(window), uint8_t(c.red >> 8), uint8_t(c.green >> 8), uint8_t(c.blue >> 8));
    ShowWindow(window);
    std::lock_guard<std::mutex> guard(r.lock);
    r.screenWidth = width;
    r.screenHeight = height;
    uint64_t id = r.nextId++;
    r.fullScreens[id] = FullScreenState{window, savedWidth, savedHeight};
    *restoreState = tokenOf<Ptr>(id);
    if (newWindow) *newWindow = window;
    return noErr;
}

OSErr EndFullScreen(Ptr fullState, int32_t) {
    Registry& r = registry();
    FullScreenState state;
    {
        std::lock_guard<std::mutex> guard(r.lock);
        auto found = r.fullScreens.find(idOf(fullState));
        if (found == r.fullScreens.end()) return paramErr;
        state = found->second;
        const uint64_t id = found->first;
        r.fullScreens.erase(found);
        // Full screens may overlap. The one begun right after this one saved the size this one
        // set: it inherits this one's saved size instead, so that whichever ends last puts the
        // screen back as it was before the first began.
        FullScreenState* next = nullptr;
        uint64_t nextId = UINT64_MAX;
        for (auto& [otherId, other] : r.fullScreens)
            if (otherId > id && otherId < nextId) nextId = otherId, next = &other;
        if (next) {
            next->savedWidth = state.savedWidth;
            next->savedHeight = state.savedHeight;
        } else {
            r.screenWidth = state.savedWidth;
            r.screenHeight = state.savedHeight;
        }
    }
    // A window the caller disposed of already is not one any more: this does nothing then.
    DisposeWindow(state.window);
    return noErr;
}

namespace platform {

void setMainScreenSize(int16_t width, int16_t height) {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    r.screenWidth = std::clamp<int16_t>(width, 1, kMaxScreenEdge);
    r.screenHeight = std::clamp<int16_t>(height, 1, kMaxScreenEdge);
}

void mainScreenSize(int16_t* width, int16_t* height) {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    if (width) *width = r.screenWidth;
    if (height) *height = r.screenHeight;
}

int32_t liveWindowCount() {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    return int32_t(r.windows.size());
}

} // namespace platform
