// Windows as offscreen surfaces, window groups, and full-screen display on the main screen.
//
// - A window is a 32-bit (A, R, G, B) offscreen world of its content size, made white: its port
//   (GetWindowPort) is a world of PlatformGWorlds.h that the blitter draws into and that a caller
//   reads back. The port stays the same for the life of the window. There is no frame: the
//   structure and content rectangles are the same, in global (screen) coordinates; the port's
//   bounds start at (0, 0).
// - Each window has its own event target (PlatformEvents.h); disposing of the window removes the
//   handlers installed on it, and may be done from inside one of them.
// - The main screen is a size only (1024 x 768 unless a test sets another); nothing is shown.
//   BeginFullScreen makes a window that covers it and EndFullScreen disposes of that window and
//   puts the screen's size back.
// - Windows and restore states are tokens checked against the live ones: a stale or unknown one
//   answers errInvalidWindowRef (or paramErr, null, false), never a crash. Main thread only.
#pragma once

#include "PlatformEvents.h"
#include "PlatformGWorlds.h"
#include "PlatformTypes.h"

using WindowClass = UInt32;
using WindowAttributes = UInt32;
using WindowRegionCode = UInt16;
struct OpaqueWindowGroupRef;
using WindowGroupRef = OpaqueWindowGroupRef*;

enum : WindowClass {
    kAlertWindowClass = 1,
    kMovableAlertWindowClass = 2,
    kModalWindowClass = 3,
    kMovableModalWindowClass = 4,
    kFloatingWindowClass = 5,
    kDocumentWindowClass = 6,
    kUtilityWindowClass = 8,
    kHelpWindowClass = 10,
    kSheetWindowClass = 11,
    kToolbarWindowClass = 12,
    kPlainWindowClass = 13,
    kOverlayWindowClass = 14,
    kSheetAlertWindowClass = 15,
    kAltPlainWindowClass = 16,
    kSimpleWindowClass = 18,
    kDrawerWindowClass = 20
};

enum : WindowAttributes {
    kWindowNoAttributes = 0,
    kWindowCloseBoxAttribute = 1u << 0,
    kWindowHorizontalZoomAttribute = 1u << 1,
    kWindowVerticalZoomAttribute = 1u << 2,
    kWindowCollapseBoxAttribute = 1u << 3,
    kWindowResizableAttribute = 1u << 4,
    kWindowStandardHandlerAttribute = 1u << 25
};

enum : WindowRegionCode { kWindowStructureRgn = 32, kWindowContentRgn = 33, kWindowGlobalPortRgn = 40 };

constexpr OSStatus errInvalidWindowRef = -5600;
constexpr OSStatus errUnrecognizedWindowClass = -5605;
constexpr OSStatus windowGroupInvalidErr = -5616;
constexpr OSStatus errWindowRegionCodeInvalid = -30593;

// A new hidden window of the class whose content has the given global bounds. A null bounds or
// result pointer, or an empty rectangle, gives paramErr; an unknown class
// errUnrecognizedWindowClass; pixels that cannot be had memFullErr.
OSStatus CreateNewWindow(WindowClass windowClass, WindowAttributes attributes, const Rect* contentBounds,
                         WindowRef* outWindow);
// Disposes of the window, its port and its event target. Nothing for a window that is not one.
void DisposeWindow(WindowRef window);
Boolean IsValidWindowPtr(WindowRef window);

// The window's port (null for a window that is not one), and the window of a port.
CGrafPtr GetWindowPort(WindowRef window);
WindowRef GetWindowFromPort(CGrafPtr port);
// The port's bounds, (0, 0, height, width). Null for a window that is not one.
Rect* GetWindowPortBounds(WindowRef window, Rect* bounds);

OSStatus GetWindowClass(WindowRef window, WindowClass* outClass);
OSStatus GetWindowAttributes(WindowRef window, WindowAttributes* outAttributes);

// Global bounds of a region of the window: structure, content and port regions are the same.
OSStatus GetWindowBounds(WindowRef window, WindowRegionCode regionCode, Rect* globalBounds);
// Moves the window. The size cannot change (the port keeps its pixels for the window's life):
// a rectangle of another size gives paramErr and leaves the window as it was.
OSStatus SetWindowBounds(WindowRef window, WindowRegionCode regionCode, const Rect* globalBounds);

void ShowWindow(WindowRef window);
void HideWindow(WindowRef window);
Boolean IsWindowVisible(WindowRef window);

// The group of the windows of a class (null for an unknown class), and a window's group (its
// class's group until it is moved to another).
WindowGroupRef GetWindowGroupOfClass(WindowClass windowClass);
OSStatus SetWindowGroup(WindowRef window, WindowGroupRef group);
WindowGroupRef GetWindowGroup(WindowRef window);

// Full screen.
enum : int32_t {
    fullScreenHideCursor = 1 << 0,
    fullScreenAllowEvents = 1 << 1,
    fullScreenDontChangeMenuBar = 1 << 2,
    fullScreenPreflightSize = 1 << 3
};

// Takes the main screen (`whichGD` null; a device is refused with paramErr). `desiredWidth` and
// `desiredHeight`, when given and not 0, are the screen size to switch to (each 1 to 8192, else
// paramErr); otherwise they receive the size in use. With fullScreenPreflightSize only the size
// is answered: no window, no restore state. Otherwise `restoreState` (required) receives what
// EndFullScreen needs to put the screen back, and `newWindow`, when given, a visible plain window
// covering the screen, painted with `eraseColor` (black without one); without `newWindow` the
// window is still made and is disposed of by EndFullScreen.
OSErr BeginFullScreen(Ptr* restoreState, GDHandle whichGD, int16_t* desiredWidth, int16_t* desiredHeight,
                      WindowRef* newWindow, RGBColor* eraseColor, int32_t flags);
// Disposes of the full-screen window (unless the caller already did) and restores the screen's
// size. A state that BeginFullScreen did not give, or that was ended, gives paramErr.
OSErr EndFullScreen(Ptr fullState, int32_t flags);

namespace platform {

// The main screen's size in pixels. Tests set it; the default is 1024 x 768.
void setMainScreenSize(int16_t width, int16_t height);
void mainScreenSize(int16_t* width, int16_t* height);
int32_t liveWindowCount();

} // namespace platform
