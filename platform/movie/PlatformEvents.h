// Events in the manner of the old platform's event manager: events of a class and a kind with
// typed parameters, event targets (the application's and one for each window) with handlers
// installed on them, events sent to a target at once or posted to the main queue and delivered
// by the main-loop pump (platform::runOnce / runFor, PlatformTimers.h).
//
// - Handlers of a target run most recently installed first. A handler answers noErr when it
//   handled the event; eventNotHandledErr passes it on to the next handler, and after the last
//   handler of a window's target, to the application's target. Any other answer ends the
//   dispatch and is its result.
// - A handler may remove itself or any other handler, install handlers, dispose of its window or
//   post and send events while it runs: a handler removed during a dispatch is not called after
//   that, and the handlers of a disposed window's target stop there (the event still goes on to
//   the application when it was not handled).
// - Events, targets, handlers and call references are tokens checked against the live ones:
//   a stale or unknown one answers paramErr (or null, 0), never a crash.
// - Posted events with a kEventParamPostTarget parameter go to that target; otherwise to the
//   window of their kEventParamWindowRef parameter, then, for keyboard events, to the window of
//   the user focus, and else to the application. They are delivered in order of priority, then
//   of posting, before the timers of each pass of the pump. Posting is safe from any thread;
//   everything else belongs to the main thread.
#pragma once

#include "PlatformCF.h"
#include "PlatformTimers.h"
#include "PlatformTypes.h"

#include <cstdint>

struct OpaqueEventRef;
using EventRef = OpaqueEventRef*;
struct OpaqueEventTargetRef;
using EventTargetRef = OpaqueEventTargetRef*;
struct OpaqueEventHandlerRef;
using EventHandlerRef = OpaqueEventHandlerRef*;
struct OpaqueEventHandlerCallRef;
using EventHandlerCallRef = OpaqueEventHandlerCallRef*;
struct OpaqueEventQueueRef;
using EventQueueRef = OpaqueEventQueueRef*;
struct OpaqueWindowPtr;
using WindowRef = OpaqueWindowPtr*;

using EventParamName = OSType;
using EventParamType = OSType;
using ByteCount = uint32_t;
using ItemCount = uint32_t;
using EventAttributes = uint32_t;
using EventPriority = int16_t;

using EventHandlerProcPtr = OSStatus (*)(EventHandlerCallRef inHandlerCallRef, EventRef inEvent,
                                         void* inUserData);
using EventHandlerUPP = EventHandlerProcPtr;
inline EventHandlerUPP NewEventHandlerUPP(EventHandlerProcPtr proc) {
    return proc;
}
inline void DisposeEventHandlerUPP(EventHandlerUPP) {}

struct EventTypeSpec {
    UInt32 eventClass;
    UInt32 eventKind;
};
static_assert(sizeof(EventTypeSpec) == 8);

// Errors of the event manager.
constexpr OSStatus eventAlreadyPostedErr = -9860;
constexpr OSStatus eventClassInvalidErr = -9862;
constexpr OSStatus eventHandlerAlreadyInstalledErr = -9866;
constexpr OSStatus eventParameterNotFoundErr = -9870;
constexpr OSStatus eventNotHandledErr = -9874;
constexpr OSStatus eventNotInQueueErr = -9877;
// A parameter asked for as a type other than its own.
constexpr OSStatus errAECoercionFail = -1700;

// Event classes and the kinds used here.
constexpr UInt32 kEventClassMouse = FOUR_CHAR_CODE("mous");
constexpr UInt32 kEventClassKeyboard = FOUR_CHAR_CODE("keyb");
constexpr UInt32 kEventClassApplication = FOUR_CHAR_CODE("appl");
constexpr UInt32 kEventClassWindow = FOUR_CHAR_CODE("wind");
constexpr UInt32 kEventClassCommand = FOUR_CHAR_CODE("cmds");
enum : UInt32 {
    kEventMouseDown = 1,
    kEventMouseUp = 2,
    kEventMouseMoved = 5,
    kEventMouseDragged = 6,
    kEventMouseWheelMoved = 10
};
enum : UInt32 {
    kEventRawKeyDown = 1,
    kEventRawKeyRepeat = 2,
    kEventRawKeyUp = 3,
    kEventRawKeyModifiersChanged = 4
};

// Parameter names and types.
constexpr EventParamName kEventParamDirectObject = FOUR_CHAR_CODE("----");
constexpr EventParamName kEventParamPostTarget = FOUR_CHAR_CODE("ptrg");
constexpr EventParamName kEventParamWindowRef = FOUR_CHAR_CODE("wind");
constexpr EventParamName kEventParamKeyCode = FOUR_CHAR_CODE("kcod");
constexpr EventParamName kEventParamKeyMacCharCodes = FOUR_CHAR_CODE("kchr");
constexpr EventParamName kEventParamKeyModifiers = FOUR_CHAR_CODE("kmod");
constexpr EventParamName kEventParamMouseLocation = FOUR_CHAR_CODE("mloc");
constexpr EventParamName kEventParamMouseButton = FOUR_CHAR_CODE("mbtn");
constexpr EventParamName kEventParamClickCount = FOUR_CHAR_CODE("ccnt");
constexpr EventParamType typeWildCard = FOUR_CHAR_CODE("****");
constexpr EventParamType typeUInt32 = FOUR_CHAR_CODE("magn");
constexpr EventParamType typeSInt32 = FOUR_CHAR_CODE("long");
constexpr EventParamType typeChar = FOUR_CHAR_CODE("TEXT");
constexpr EventParamType typeQDPoint = FOUR_CHAR_CODE("QDpt");
constexpr EventParamType typeMouseButton = FOUR_CHAR_CODE("mbtn");
constexpr EventParamType typeWindowRef = FOUR_CHAR_CODE("wind");
constexpr EventParamType typeEventTargetRef = FOUR_CHAR_CODE("etrg");

enum : EventPriority { kEventPriorityLow = 0, kEventPriorityStandard = 1, kEventPriorityHigh = 2 };
enum : EventAttributes { kEventAttributeNone = 0, kEventAttributeUserEvent = 1 };

// Events. A new event holds one reference; RetainEvent and ReleaseEvent count them and the last
// release frees it. A class of 0 gives eventClassInvalidErr; a null result pointer paramErr.
OSStatus CreateEvent(CFAllocatorRef allocator, UInt32 inClassID, UInt32 kind, EventTime when,
                     EventAttributes flags, EventRef* outEvent);
EventRef RetainEvent(EventRef inEvent);
void ReleaseEvent(EventRef inEvent);
EventRef CopyEvent(EventRef inOther);
UInt32 GetEventClass(EventRef inEvent);
UInt32 GetEventKind(EventRef inEvent);
EventTime GetEventTime(EventRef inEvent);

// Parameters are bytes kept with their type. Getting one as another type than its own answers
// errAECoercionFail unless typeWildCard is asked; a buffer shorter than the value receives what
// fits, and `outActualSize` the whole size. A missing one answers eventParameterNotFoundErr.
OSStatus SetEventParameter(EventRef inEvent, EventParamName inName, EventParamType inType, ByteCount inSize,
                           const void* inDataPtr);
OSStatus GetEventParameter(EventRef inEvent, EventParamName inName, EventParamType inDesiredType,
                           EventParamType* outActualType, ByteCount inBufferSize, ByteCount* outActualSize,
                           void* outData);

// Targets.
EventTargetRef GetApplicationEventTarget();
// The target of a window; null for a window that does not exist (PlatformWindows.h).
EventTargetRef GetWindowEventTarget(WindowRef inWindow);

// Handlers. A null target or procedure, a null or empty type list, or a target that is gone
// gives paramErr. `outRef` may be null: the handler then lives as long as its target.
OSStatus InstallEventHandler(EventTargetRef inTarget, EventHandlerUPP inHandler, ItemCount inNumTypes,
                             const EventTypeSpec* inList, void* inUserData, EventHandlerRef* outRef);
inline OSStatus InstallApplicationEventHandler(EventHandlerUPP h, ItemCount n, const EventTypeSpec* list,
                                               void* userData, EventHandlerRef* outRef) {
    return InstallEventHandler(GetApplicationEventTarget(), h, n, list, userData, outRef);
}
inline OSStatus InstallWindowEventHandler(WindowRef w, EventHandlerUPP h, ItemCount n,
                                          const EventTypeSpec* list, void* userData,
                                          EventHandlerRef* outRef) {
    return InstallEventHandler(GetWindowEventTarget(w), h, n, list, userData, outRef);
}
// Removes a handler; one that was removed (or went with its window) gives paramErr.
OSStatus RemoveEventHandler(EventHandlerRef inHandlerRef);
OSStatus AddEventTypesToHandler(EventHandlerRef inHandlerRef, ItemCount inNumTypes,
                                const EventTypeSpec* inList);
OSStatus RemoveEventTypesFromHandler(EventHandlerRef inHandlerRef, ItemCount inNumTypes,
                                     const EventTypeSpec* inList);
// From inside a handler: runs the handlers after it (and the application's) at once and answers
// what they answered; those handlers are not run again when the caller returns. A call
// reference whose handler has returned gives paramErr.
OSStatus CallNextEventHandler(EventHandlerCallRef inCallRef, EventRef inEvent);

// Dispatches the event to the target now and answers the dispatch's result
// (eventNotHandledErr when no handler took it).
OSStatus SendEventToEventTarget(EventRef inEvent, EventTargetRef inTarget);

// The main queue. Posting retains the event until it is delivered or removed; an event already
// in the queue gives eventAlreadyPostedErr, a priority outside low..high paramErr.
EventQueueRef GetMainEventQueue();
EventQueueRef GetCurrentEventQueue();
OSStatus PostEventToQueue(EventQueueRef inQueue, EventRef inEvent, EventPriority inPriority);
OSStatus RemoveEventFromQueue(EventQueueRef inQueue, EventRef inEvent);
Boolean IsEventInQueue(EventQueueRef inQueue, EventRef inEvent);
ItemCount GetNumEventsInQueue(EventQueueRef inQueue);
OSStatus FlushEventQueue(EventQueueRef inQueue);

// The window that keyboard events without a target go to (null: the application).
OSStatus SetUserFocusWindow(WindowRef inWindow);
WindowRef GetUserFocusWindow();

namespace platform {

// Delivers the events posted before the call, in queue order; returns how many were delivered.
// The main-loop pump calls it at the start of each pass.
int32_t dispatchPostedEvents();

// For the window layer: a window's target is made with the window, and disposing of it removes
// its handlers (a dispatch under way stops at that target).
EventTargetRef newWindowEventTarget(WindowRef window);
void disposeWindowEventTarget(EventTargetRef target);

// Handlers installed on every target, and events alive (for tests that check for leaks).
int32_t installedEventHandlerCount();
int32_t liveEventCount();

} // namespace platform
