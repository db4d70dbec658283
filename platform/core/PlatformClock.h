// Clocks that drive timers and time bases. Time is counted in nanoseconds from an arbitrary
// origin and never goes backwards. The process has one system clock, read by the main-loop
// timers and by every time base that has no master of its own: a steady clock unless a program
// or a test puts a manual clock in its place, which then moves only when told to.
#pragma once

#include <atomic>
#include <cstdint>

namespace platform {

class Clock {
  public:
    virtual ~Clock();
    virtual int64_t nowNanoseconds() const = 0;
    // Returns once the clock reads at least `ns`: a steady clock sleeps, a manual clock jumps.
    virtual void waitUntil(int64_t ns) = 0;
};

class SteadyClock final : public Clock {
  public:
    int64_t nowNanoseconds() const override;
    void waitUntil(int64_t ns) override;
};

class ManualClock final : public Clock {
  public:
    explicit ManualClock(int64_t startNanoseconds = 0) : _now(startNanoseconds) {}
    int64_t nowNanoseconds() const override { return _now.load(); }
    // Moves the clock forward to `ns`; an earlier time is ignored.
    void waitUntil(int64_t ns) override;
    // Moves the clock forward; negative or NaN amounts are ignored, huge ones saturate.
    void advance(double seconds);
    void advanceNanoseconds(int64_t ns);
    void advanceMilliseconds(int64_t ms);

  private:
    std::atomic<int64_t> _now;
};

// The steady clock that stands in when no other system clock is set.
Clock& steadyClock();
Clock& systemClock();
// Makes `clock` the system clock (null restores the steady clock). The caller keeps the clock
// alive while it is in use.
void setSystemClock(Clock* clock);

// Puts a clock in place as the system clock for the life of the object, then restores the one
// that was there before.
class ScopedSystemClock {
  public:
    explicit ScopedSystemClock(Clock& clock);
    ~ScopedSystemClock();
    ScopedSystemClock(const ScopedSystemClock&) = delete;
    ScopedSystemClock& operator=(const ScopedSystemClock&) = delete;

  private:
    Clock* _previous;
};

// Seconds to nanoseconds, rounded to nearest; NaN gives 0, values beyond the range saturate.
int64_t secondsToNanoseconds(double seconds);
// Adds without leaving the int64 range.
int64_t saturatingAdd(int64_t a, int64_t b);

} // namespace platform
