#include "PlatformTimers.h"

#include "PlatformClock.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

struct OpaqueEventLoopRef {
    int unused;
};

struct OpaqueEventLoopTimerRef {
    EventLoopTimerUPP proc = nullptr;
    void* userData = nullptr;
    int64_t nextFire = 0; // nanoseconds of the system clock; kParked when parked
    int64_t interval = 0; // nanoseconds; 0 = one-shot
    uint64_t order = 0;   // installation order, the tie-break between equal fire times
    bool removed = false;
    bool rearmedWhileFiring = false;
    bool firing = false;
};

namespace {

constexpr int64_t kParked = INT64_MAX;
// Passes run at one instant before runFor gives up on timers that keep re-arming for "now".
constexpr int kMaxPassesAtOneInstant = 10000;

using TimerPtr = std::shared_ptr<OpaqueEventLoopTimerRef>;

struct MainLoop {
    OpaqueEventLoopRef ref{};
    std::mutex mutex;
    std::map<EventLoopTimerRef, TimerPtr> timers;
    uint64_t nextOrder = 1;
};

MainLoop& mainLoop() {
    static MainLoop* loop = new MainLoop(); // lives as long as the process
    return *loop;
}

int64_t now() {
    return platform::systemClock().nowNanoseconds();
}

TimerPtr find(MainLoop& loop, EventLoopTimerRef timer) {
    auto it = loop.timers.find(timer);
    return it == loop.timers.end() ? nullptr : it->second;
}

// A fire time `seconds` from `base`; a negative (or infinite) delay parks the timer.
int64_t fireTimeFrom(int64_t base, double seconds) {
    if (seconds < 0.0 || std::isinf(seconds)) return kParked;
    int64_t t = platform::saturatingAdd(base, platform::secondsToNanoseconds(seconds));
    return t == INT64_MAX ? kParked : t;
}

// After a timer fired: the next multiple of its interval after `at`, keeping its phase.
int64_t nextAfterFire(const OpaqueEventLoopTimerRef& t, int64_t at) {
    if (t.interval <= 0) return kParked;
    int64_t next = platform::saturatingAdd(t.nextFire, t.interval);
    if (next <= at) {
        int64_t behind = (at - next) / t.interval + 1;
        if (behind > INT64_MAX / t.interval) return kParked;
        next = platform::saturatingAdd(next, behind * t.interval);
    }
    return next == INT64_MAX ? kParked : next;
}

void fire(std::unique_lock<std::mutex>& lock, const TimerPtr& t) {
    t->firing = true;
    t->rearmedWhileFiring = false;
    int64_t firedAt = now();
    EventLoopTimerUPP proc = t->proc;
    void* userData = t->userData;
    lock.unlock();
    proc(reinterpret_cast<EventLoopTimerRef>(t.get()), userData);
    lock.lock();
    t->firing = false;
    if (t->removed || t->rearmedWhileFiring) return;
    t->nextFire = nextAfterFire(*t, std::max(firedAt, t->nextFire));
}

std::optional<int64_t> earliestFire(MainLoop& loop) {
    std::optional<int64_t> best;
    for (auto& [ref, t] : loop.timers)
        if (t->nextFire != kParked && (!best || t->nextFire < *best)) best = t->nextFire;
    return best;
}

} // namespace

EventLoopRef GetMainEventLoop() {
    return &mainLoop().ref;
}

EventTime GetCurrentEventTime() {
    return double(now()) / 1e9;
}

OSStatus InstallEventLoopTimer(EventLoopRef loopRef, EventTimerInterval fireDelay,
                               EventTimerInterval interval, EventLoopTimerUPP proc, void* userData,
                               EventLoopTimerRef* outTimer) {
    if (outTimer) *outTimer = nullptr;
    MainLoop& loop = mainLoop();
    if (loopRef != &loop.ref || !proc || !outTimer || std::isnan(fireDelay) || std::isnan(interval) ||
        interval < 0.0)
        return paramErr;
    auto t = std::make_shared<OpaqueEventLoopTimerRef>();
    t->proc = proc;
    t->userData = userData;
    t->interval = std::isinf(interval) ? 0 : platform::secondsToNanoseconds(interval);
    std::lock_guard<std::mutex> lock(loop.mutex);
    t->nextFire = fireTimeFrom(now(), fireDelay);
    t->order = loop.nextOrder++;
    EventLoopTimerRef ref = t.get();
    loop.timers.emplace(ref, std::move(t));
    *outTimer = ref;
    return noErr;
}

OSStatus RemoveEventLoopTimer(EventLoopTimerRef timer) {
    MainLoop& loop = mainLoop();
    std::lock_guard<std::mutex> lock(loop.mutex);
    TimerPtr t = find(loop, timer);
    if (!t) return paramErr;
    t->removed = true;
    loop.timers.erase(timer); // a firing timer lives on in the pump until its procedure returns
    return noErr;
}

OSStatus SetEventLoopTimerNextFireTime(EventLoopTimerRef timer, EventTimerInterval nextFire) {
    MainLoop& loop = mainLoop();
    if (std::isnan(nextFire)) return paramErr;
    std::lock_guard<std::mutex> lock(loop.mutex);
    TimerPtr t = find(loop, timer);
    if (!t) return paramErr;
    t->nextFire = fireTimeFrom(now(), nextFire);
    if (t->firing) t->rearmedWhileFiring = true;
    return noErr;
}

namespace platform {

OSStatus setEventLoopTimerInterval(EventLoopTimerRef timer, EventTimerInterval interval) {
    MainLoop& loop = mainLoop();
    if (std::isnan(interval) || interval < 0.0) return paramErr;
    std::lock_guard<std::mutex> lock(loop.mutex);
    TimerPtr t = find(loop, timer);
    if (!t) return paramErr;
    t->interval = std::isinf(interval) ? 0 : secondsToNanoseconds(interval);
    return noErr;
}

bool isEventLoopTimerInstalled(EventLoopTimerRef timer) {
    MainLoop& loop = mainLoop();
    std::lock_guard<std::mutex> lock(loop.mutex);
    return find(loop, timer) != nullptr;
}

std::optional<EventTimerInterval> eventLoopTimerInterval(EventLoopTimerRef timer) {
    MainLoop& loop = mainLoop();
    std::lock_guard<std::mutex> lock(loop.mutex);
    TimerPtr t = find(loop, timer);
    if (!t) return std::nullopt;
    return double(t->interval) / 1e9;
}

std::optional<EventTimerInterval> eventLoopTimerNextFire(EventLoopTimerRef timer) {
    MainLoop& loop = mainLoop();
    std::lock_guard<std::mutex> lock(loop.mutex);
    TimerPtr t = find(loop, timer);
    if (!t || t->nextFire == kParked) return std::nullopt;
    return double(t->nextFire - now()) / 1e9;
}

int32_t installedTimerCount() {
    MainLoop& loop = mainLoop();
    std::lock_guard<std::mutex> lock(loop.mutex);
    return int32_t(loop.timers.size());
}

namespace {
std::atomic<PostedEventDispatch> gDispatchPosted{nullptr};
std::atomic<PostedEventsWaiting> gPostedWaiting{nullptr};
} // namespace

void setPostedEventPump(PostedEventDispatch dispatch, PostedEventsWaiting waiting) {
    gDispatchPosted = dispatch;
    gPostedWaiting = waiting;
}

int32_t runOnce() {
    if (PostedEventDispatch dispatch = gDispatchPosted) dispatch();
    MainLoop& loop = mainLoop();
    std::unique_lock<std::mutex> lock(loop.mutex);
    int64_t at = now();
    std::vector<TimerPtr> due;
    for (auto& [ref, t] : loop.timers)
        if (t->nextFire <= at) due.push_back(t);
    std::sort(due.begin(), due.end(), [](const TimerPtr& a, const TimerPtr& b) {
        return a->nextFire != b->nextFire ? a->nextFire < b->nextFire : a->order < b->order;
    });
    int32_t fired = 0;
    for (const TimerPtr& t : due) {
        // An earlier procedure may have removed or re-armed this one.
        if (t->removed || t->nextFire > at) continue;
        fire(lock, t);
        ++fired;
    }
    return fired;
}

int32_t runFor(double seconds) {
    Clock& clock = systemClock();
    int64_t deadline =
        saturatingAdd(clock.nowNanoseconds(), seconds > 0.0 ? secondsToNanoseconds(seconds) : 0);
    int32_t fired = 0;
    int64_t lastInstant = INT64_MIN;
    int passesAtInstant = 0;
    for (;;) {
        int64_t at = clock.nowNanoseconds();
        if (at == lastInstant) {
            if (++passesAtInstant > kMaxPassesAtOneInstant) break;
        } else {
            lastInstant = at;
            passesAtInstant = 0;
        }
        fired += runOnce();
        std::optional<int64_t> next;
        {
            MainLoop& loop = mainLoop();
            std::lock_guard<std::mutex> lock(loop.mutex);
            next = earliestFire(loop);
        }
        PostedEventsWaiting waiting = gPostedWaiting;
        if (waiting && waiting()) continue;
        if (!next || *next > deadline) break;
        if (*next > clock.nowNanoseconds()) clock.waitUntil(*next);
    }
    clock.waitUntil(deadline);
    return fired;
}

} // namespace platform
