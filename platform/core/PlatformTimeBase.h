// Time bases and clock components: the time lines on which movies and presentations play.
//
// A time base's time moves at its rate against its master: another time base, a clock component
// or, when it has neither (free-running), the system clock (PlatformClock.h). Times are kept as
// exact fractions, so a time set in one scale reads back exactly in that scale; reading in another
// scale rounds toward minus infinity.
//
// Start and stop bound the time line: without the loop flag the time stops at the bound it runs
// into (the rate is kept, the effective rate becomes 0); with the loop flag it wraps round to the
// other end; with the loop and palindrome flags it turns and runs back. A new time base has rate
// 0, start 0, no stop time (GetTimeBaseStopTime answers kTimeBaseNoStopTime) and the natural
// scale 600; every time given in another scale makes that scale the natural one. A scale of 0 in
// any call means the natural scale; a negative scale is refused with paramErr.
//
// Every call sets the value GetMoviesError() answers. Unknown or disposed time bases and clocks
// are refused with paramErr, never dereferenced. Disposing a time base or closing a clock leaves
// its slaves free-running at the time they had; a master chain that would loop is refused.
#pragma once

#include "PlatformClock.h"
#include "PlatformObjects.h"
#include "PlatformTypes.h"

struct TimeBaseRecord;
using TimeBase = TimeBaseRecord*;
struct ComponentRecord;
using Component = ComponentRecord*;

using CompTimeValue = wide;
struct TimeRecord {
    CompTimeValue value;
    TimeScale scale;
    TimeBase base;
};

enum : int32_t { loopTimeBase = 1, palindromeLoopTimeBase = 2, maintainTimeBaseZero = 4 };

constexpr int64_t kTimeBaseNoStopTime = INT64_MAX;
constexpr TimeScale kTimeBaseDefaultScale = 600;
// The scale of the times a clock component reports: nanoseconds.
constexpr TimeScale kClockTimeScale = 1000000000;

TimeBase NewTimeBase();
void DisposeTimeBase(TimeBase tb);

// The time in scale `s`, saturated to 32 bits; `tr`, when given, receives the full 64-bit value,
// the scale used and the time base.
TimeValue GetTimeBaseTime(TimeBase tb, TimeScale s, TimeRecord* tr);
void SetTimeBaseTime(TimeBase tb, const TimeRecord* tr);
void SetTimeBaseValue(TimeBase tb, TimeValue t, TimeScale s);

Fixed GetTimeBaseRate(TimeBase tb);
void SetTimeBaseRate(TimeBase tb, Fixed r);
// The rate against the system clock, 0 while stopped at a bound, negative while running back.
Fixed GetTimeBaseEffectiveRate(TimeBase tb);

TimeValue GetTimeBaseStartTime(TimeBase tb, TimeScale s, TimeRecord* tr);
void SetTimeBaseStartTime(TimeBase tb, const TimeRecord* tr);
TimeValue GetTimeBaseStopTime(TimeBase tb, TimeScale s, TimeRecord* tr);
void SetTimeBaseStopTime(TimeBase tb, const TimeRecord* tr);

int32_t GetTimeBaseFlags(TimeBase tb);
void SetTimeBaseFlags(TimeBase tb, int32_t flags);

// Makes `master` (null: none) the master of `slave`. Without `slaveZero` the slave keeps its
// time; with it, the slave's time is slaveZero where the master's time is 0.
void SetTimeBaseMasterTimeBase(TimeBase slave, TimeBase master, const TimeRecord* slaveZero);
TimeBase GetTimeBaseMasterTimeBase(TimeBase tb);
// Makes a clock component (a clock instance given as a component) the master clock.
void SetTimeBaseMasterClock(TimeBase slave, Component clockMeister, const TimeRecord* slaveZero);
ComponentInstance GetTimeBaseMasterClock(TimeBase tb);

OSErr GetTimeBaseThreadAttachState(TimeBase tb, Boolean* attachedToCurrentThread,
                                   Boolean* attachedToAnyThread);
OSErr AttachTimeBaseToCurrentThread(TimeBase tb);
OSErr DetachTimeBaseFromCurrentThread(TimeBase tb);

// The clock's time in kClockTimeScale.
ComponentResult ClockGetTime(ComponentInstance clock, TimeRecord* out);

namespace platform {

// A clock component instance reading `source` (null: the system clock, whichever it is at each
// reading). The caller keeps `source` alive while the instance exists.
ComponentInstance openClock(Clock* source);
OSErr closeClock(ComponentInstance clock);
bool isClockInstance(ComponentInstance clock);

// Tells whether a component (not an instance) is a clock and which time source it reads. The
// component manager sets it, so that a time base given a clock component opens an instance of
// its own, which it closes when nothing is attached to it any more.
using ClockComponentResolver = bool (*)(Component component, Clock** source);
void setClockComponentResolver(ClockComponentResolver resolver);

inline int64_t wideToInt64(const wide& w) {
    return int64_t((uint64_t(uint32_t(w.hi)) << 32) | uint64_t(w.lo));
}
inline wide int64ToWide(int64_t v) {
    wide w;
    w.hi = int32_t(uint32_t(uint64_t(v) >> 32));
    w.lo = uint32_t(uint64_t(v));
    return w;
}

} // namespace platform
