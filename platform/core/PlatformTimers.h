// Main-loop timers in the manner of the old event loop. A timer calls its procedure on the main
// thread when its fire time comes, then again every interval until it is removed; an interval of
// 0 makes a one-shot timer, which stays installed (idle) after firing until it is re-armed or
// removed. Fire times are read from the system clock (PlatformClock.h).
//
// Nothing runs by itself: the host program and tests drive the loop with platform::runOnce() and
// platform::runFor(), which also deliver posted events (PlatformEvents.h). A procedure may install or remove
// timers, re-arm its own, or delete the object that owns its timer (removing the timer in the process) while
// it runs.
#pragma once

#include "PlatformTypes.h"

#include <cstdint>
#include <optional>

struct OpaqueEventLoopRef;
using EventLoopRef = OpaqueEventLoopRef*;
struct OpaqueEventLoopTimerRef;
using EventLoopTimerRef = OpaqueEventLoopTimerRef*;
using EventLoopTimerProcPtr = void (*)(EventLoopTimerRef timer, void* userData);
using EventLoopTimerUPP = EventLoopTimerProcPtr;
// Seconds.
using EventTimerInterval = double;
using EventTime = double;

// Given as a fire time, it parks a timer: it stays installed and does not fire until re-armed.
constexpr EventTimerInterval kEventDurationForever = -1.0;
constexpr EventTimerInterval kEventDurationNoWait = 0.0;

inline EventLoopTimerUPP NewEventLoopTimerUPP(EventLoopTimerProcPtr proc) {
    return proc;
}
inline void DisposeEventLoopTimerUPP(EventLoopTimerUPP) {}

EventLoopRef GetMainEventLoop();
// The system clock in seconds.
EventTime GetCurrentEventTime();

// Installs a timer that fires `fireDelay` seconds from now, then every `interval` seconds. A
// null loop, procedure or result pointer, or a NaN or negative interval, gives paramErr; a
// negative delay installs a parked timer.
OSStatus InstallEventLoopTimer(EventLoopRef loop, EventTimerInterval fireDelay, EventTimerInterval interval,
                               EventLoopTimerUPP proc, void* userData, EventLoopTimerRef* outTimer);
// Removes and releases a timer; a timer that is not installed gives paramErr.
OSStatus RemoveEventLoopTimer(EventLoopTimerRef timer);
// The timer next fires `nextFire` seconds from now (a negative value parks it); its interval stays.
OSStatus SetEventLoopTimerNextFireTime(EventLoopTimerRef timer, EventTimerInterval nextFire);

namespace platform {

// Changes the interval of an installed timer; its next fire time stays.
OSStatus setEventLoopTimerInterval(EventLoopTimerRef timer, EventTimerInterval interval);
// Whether the timer is installed, and its interval and next fire time (seconds from now;
// nullopt when parked).
bool isEventLoopTimerInstalled(EventLoopTimerRef timer);
std::optional<EventTimerInterval> eventLoopTimerInterval(EventLoopTimerRef timer);
std::optional<EventTimerInterval> eventLoopTimerNextFire(EventLoopTimerRef timer);
int32_t installedTimerCount();

// Fires every timer that is due now, once each, in order of fire time and installation. Timers
// installed or re-armed for now during the pass wait for the next pass. Returns how many fired.
int32_t runOnce();
// Runs the loop for `seconds` of the system clock: fires timers as they fall due, waiting for
// each (a manual clock jumps from one fire time to the next). Ends with the clock at the end of
// the period. Returns how many timers fired.
int32_t runFor(double seconds);

// The event layer hands the loop its posted-event queue: each pass of runOnce first delivers the
// events posted before it, and runFor keeps passing while events wait. Timers are what the two
// count.
using PostedEventDispatch = int32_t (*)();
using PostedEventsWaiting = bool (*)();
void setPostedEventPump(PostedEventDispatch dispatch, PostedEventsWaiting waiting);

} // namespace platform
