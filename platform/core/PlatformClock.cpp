#include "PlatformClock.h"

#include <chrono>
#include <cmath>
#include <thread>

namespace platform {

namespace {
std::atomic<Clock*> gSystemClock{nullptr};
}

Clock::~Clock() = default;

int64_t SteadyClock::nowNanoseconds() const {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void SteadyClock::waitUntil(int64_t ns) {
    int64_t now = nowNanoseconds();
    if (ns > now) std::this_thread::sleep_for(std::chrono::nanoseconds(ns - now));
}

void ManualClock::waitUntil(int64_t ns) {
    int64_t current = _now.load();
    while (ns > current && !_now.compare_exchange_weak(current, ns)) {
    }
}

void ManualClock::advance(double seconds) {
    if (!(seconds > 0.0)) return;
    advanceNanoseconds(secondsToNanoseconds(seconds));
}

void ManualClock::advanceNanoseconds(int64_t ns) {
    if (ns <= 0) return;
    waitUntil(saturatingAdd(_now.load(), ns));
}

void ManualClock::advanceMilliseconds(int64_t ms) {
    if (ms <= 0) return;
    advanceNanoseconds(ms > INT64_MAX / 1000000 ? INT64_MAX : ms * 1000000);
}

Clock& steadyClock() {
    static SteadyClock clock;
    return clock;
}

Clock& systemClock() {
    Clock* c = gSystemClock.load();
    return c ? *c : steadyClock();
}

void setSystemClock(Clock* clock) {
    gSystemClock.store(clock);
}

ScopedSystemClock::ScopedSystemClock(Clock& clock) : _previous(gSystemClock.load()) {
    setSystemClock(&clock);
}

ScopedSystemClock::~ScopedSystemClock() {
    setSystemClock(_previous);
}

int64_t secondsToNanoseconds(double seconds) {
    if (std::isnan(seconds)) return 0;
    double ns = std::round(seconds * 1e9);
    if (ns >= 9.2e18) return INT64_MAX;
    if (ns <= -9.2e18) return INT64_MIN;
    return int64_t(ns);
}

int64_t saturatingAdd(int64_t a, int64_t b) {
    int64_t r;
    if (__builtin_add_overflow(a, b, &r)) return b > 0 ? INT64_MAX : INT64_MIN;
    return r;
}

} // namespace platform
