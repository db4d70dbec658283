#include "PlatformTimeBase.h"

#include "PlatformErrors.h"
#include "PlatformFixed.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <new>
#include <optional>
#include <set>
#include <thread>
#include <vector>

namespace {

using i128 = __int128;

constexpr i128 kMaxDenominator = i128(1) << 90;
// Beyond every time a 64-bit value can name in any scale: results past it saturate.
constexpr i128 kHugeSeconds = i128(1) << 100;

i128 absolute(i128 v) {
    return v < 0 ? -v : v;
}

i128 gcd(i128 a, i128 b) {
    a = absolute(a);
    b = absolute(b);
    while (b != 0) {
        i128 t = a % b;
        a = b;
        b = t;
    }
    return a;
}

// Division rounding toward minus infinity; d > 0.
i128 floorDiv(i128 n, i128 d) {
    i128 q = n / d;
    if ((n % d != 0) && (n < 0)) --q;
    return q;
}

// An exact fraction n / d with d > 0, kept in lowest terms. Past kMaxDenominator it gives up
// the lowest bits of precision rather than overflow.
struct Q {
    i128 n = 0;
    i128 d = 1;
};

Q make(i128 n, i128 d) {
    if (d < 0) {
        n = -n;
        d = -d;
    }
    if (d == 0) return Q{n < 0 ? -kHugeSeconds : kHugeSeconds, 1};
    i128 g = gcd(n, d);
    if (g > 1) {
        n /= g;
        d /= g;
    }
    while (d > kMaxDenominator) {
        n = floorDiv(n, 2);
        d /= 2;
    }
    // Compared by quotient: kHugeSeconds * d itself overflows once d passes 2^27.
    if (n / d >= kHugeSeconds) return Q{kHugeSeconds, 1};
    if (n / d <= -kHugeSeconds) return Q{-kHugeSeconds, 1};
    return Q{n, d};
}

Q fromValue(int64_t value, int64_t scale) {
    return make(value, scale);
}

// Products that would overflow are retried at lower precision, then saturate.
i128 mulOrSaturate(i128 a, i128 b, bool& overflow) {
    i128 r;
    overflow = __builtin_mul_overflow(a, b, &r);
    return r;
}

Q coarse(Q q, i128 maxDen) {
    while (q.d > maxDen) {
        q.n = floorDiv(q.n, 2);
        q.d /= 2;
    }
    return q;
}

Q mul(Q a, Q b) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        bool o1 = false, o2 = false;
        i128 n = mulOrSaturate(a.n, b.n, o1);
        i128 d = mulOrSaturate(a.d, b.d, o2);
        if (!o1 && !o2) return make(n, d);
        i128 maxDen = attempt == 0 ? (i128(1) << 48) : (i128(1) << 20);
        a = coarse(a, maxDen);
        b = coarse(b, maxDen);
    }
    bool negative = (a.n < 0) != (b.n < 0);
    return Q{negative ? -kHugeSeconds : kHugeSeconds, 1};
}

Q add(Q a, Q b) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        bool o1 = false, o2 = false, o3 = false, o4 = false;
        i128 x = mulOrSaturate(a.n, b.d, o1);
        i128 y = mulOrSaturate(b.n, a.d, o2);
        i128 d = mulOrSaturate(a.d, b.d, o3);
        i128 n;
        o4 = __builtin_add_overflow(x, y, &n);
        if (!o1 && !o2 && !o3 && !o4) return make(n, d);
        i128 maxDen = attempt == 0 ? (i128(1) << 48) : (i128(1) << 20);
        a = coarse(a, maxDen);
        b = coarse(b, maxDen);
    }
    return Q{(a.n < 0 && b.n < 0) ? -kHugeSeconds : kHugeSeconds, 1};
}

Q neg(Q a) {
    return Q{-a.n, a.d};
}

Q sub(Q a, Q b) {
    return add(a, neg(b));
}

int sign(Q a) {
    return a.n < 0 ? -1 : (a.n > 0 ? 1 : 0);
}

int cmp(Q a, Q b) {
    return sign(sub(a, b));
}

// a - L * floor(a / L), in [0, L); L > 0.
Q floorMod(Q a, Q L) {
    Q ratio = mul(a, Q{L.d, L.n});
    i128 k = floorDiv(ratio.n, ratio.d);
    Q r = sub(a, mul(L, Q{k, 1}));
    // Guard against the rounding of a saturated product.
    if (sign(r) < 0) r = Q{0, 1};
    if (cmp(r, L) >= 0) r = Q{0, 1};
    return r;
}

// floor(q * scale), saturated to int64.
int64_t toScale(Q q, int64_t scale) {
    i128 whole = floorDiv(q.n, q.d);
    i128 rest = q.n - whole * q.d; // 0 <= rest < d
    bool overflow = false;
    i128 big = mulOrSaturate(whole, scale, overflow);
    if (overflow || big > INT64_MAX) return whole < 0 ? INT64_MIN : INT64_MAX;
    if (big < INT64_MIN) return INT64_MIN;
    i128 total = big + floorDiv(rest * scale, q.d);
    if (total > INT64_MAX) return INT64_MAX;
    if (total < INT64_MIN) return INT64_MIN;
    return int64_t(total);
}

Q fromFixed(Fixed f) {
    return make(f, 65536);
}

Fixed toFixed(Q q) {
    int64_t v = toScale(add(q, Q{1, 2 * 65536}), 65536); // rounded to nearest
    return v > INT32_MAX ? INT32_MAX : (v < INT32_MIN ? INT32_MIN : Fixed(v));
}

TimeValue saturate32(int64_t v) {
    return v > INT32_MAX ? INT32_MAX : (v < INT32_MIN ? INT32_MIN : TimeValue(v));
}

struct ClockInstance;

} // namespace

struct TimeBaseRecord {
    Fixed rate = 0;
    int32_t flags = 0;
    Q start{0, 1};
    Q stop{0, 1};
    bool hasStop = false;
    TimeScale natural = kTimeBaseDefaultScale;
    TimeBaseRecord* masterTB = nullptr;
    ClockInstance* masterClock = nullptr;
    std::vector<TimeBaseRecord*> slaves;
    // The time line is anchorValue at master time anchorMaster and moves by
    // direction * rate * (master time - anchorMaster), then folds into the bounds.
    Q anchorValue{0, 1};
    Q anchorMaster{0, 1};
    int direction = 1;
    std::optional<std::thread::id> thread;
};

namespace {

struct ClockInstance {
    platform::Clock* source = nullptr;
    std::vector<TimeBaseRecord*> slaves;
    // Opened by a time base for a clock component: it goes with its last slave.
    bool closeWhenUnused = false;
};

std::atomic<platform::ClockComponentResolver> clockResolver{nullptr};

struct Registry {
    std::recursive_mutex mutex;
    std::set<TimeBaseRecord*> timeBases;
    std::set<ClockInstance*> clocks;
};

Registry& registry() {
    static Registry* r = new Registry(); // lives as long as the process
    return *r;
}

TimeBaseRecord* known(TimeBase tb) {
    Registry& r = registry();
    return tb && r.timeBases.count(tb) ? tb : nullptr;
}

ClockInstance* knownClock(const void* p) {
    Registry& r = registry();
    auto* c = static_cast<ClockInstance*>(const_cast<void*>(p));
    return c && r.clocks.count(c) ? c : nullptr;
}

Q nanoseconds(int64_t ns) {
    return make(ns, 1000000000);
}

Q clockNow(const ClockInstance& c) {
    return nanoseconds((c.source ? *c.source : platform::systemClock()).nowNanoseconds());
}

struct State {
    Q value;
    int direction = 1;    // the sign the rate takes at this point of the time line
    bool atBound = false; // stopped at start or stop without looping
};

State evaluate(const TimeBaseRecord& tb);

Q masterNow(const TimeBaseRecord& tb) {
    if (tb.masterTB) return evaluate(*tb.masterTB).value;
    if (tb.masterClock) return clockNow(*tb.masterClock);
    return nanoseconds(platform::systemClock().nowNanoseconds());
}

// The rate of the master against the system clock.
Q masterRate(const TimeBaseRecord& tb);

Q effectiveRate(const TimeBaseRecord& tb) {
    State s = evaluate(tb);
    if (s.atBound) return Q{0, 1};
    return mul(mul(Q{s.direction, 1}, fromFixed(tb.rate)), masterRate(tb));
}

Q masterRate(const TimeBaseRecord& tb) {
    return tb.masterTB ? effectiveRate(*tb.masterTB) : Q{1, 1};
}

bool looping(const TimeBaseRecord& tb) {
    return (tb.flags & loopTimeBase) && tb.hasStop && cmp(tb.stop, tb.start) > 0;
}

State evaluate(const TimeBaseRecord& tb) {
    Q delta = sub(masterNow(tb), tb.anchorMaster);
    Q raw = add(tb.anchorValue, mul(mul(Q{tb.direction, 1}, fromFixed(tb.rate)), delta));
    State s;
    s.direction = tb.direction;
    if (looping(tb)) {
        Q length = sub(tb.stop, tb.start);
        Q x = sub(raw, tb.start);
        if (tb.flags & palindromeLoopTimeBase) {
            Q m = floorMod(x, add(length, length));
            if (cmp(m, length) <= 0) {
                s.value = add(tb.start, m);
            } else {
                s.value = sub(add(tb.start, add(length, length)), m);
                s.direction = -tb.direction;
            }
        } else {
            s.value = add(tb.start, floorMod(x, length));
        }
        return s;
    }
    s.value = raw;
    int motion = tb.direction * (tb.rate > 0 ? 1 : (tb.rate < 0 ? -1 : 0)) * sign(masterRate(tb));
    if (cmp(raw, tb.start) <= 0) {
        s.value = tb.start;
        s.atBound = cmp(raw, tb.start) < 0 || motion < 0;
    } else if (tb.hasStop && cmp(raw, tb.stop) >= 0) {
        s.value = tb.stop;
        s.atBound = cmp(raw, tb.stop) > 0 || motion > 0;
    }
    return s;
}

// Restarts the time line from where it is now, so that a change of rate, bounds, flags or
// master takes effect from this moment on.
void reanchor(TimeBaseRecord& tb) {
    State s = evaluate(tb);
    tb.anchorValue = s.value;
    tb.direction = s.direction;
    tb.anchorMaster = masterNow(tb);
}

OSErr fail(OSErr err) {
    return platform::setMoviesError(err);
}

// A scale from a caller: 0 means the natural scale; negative ones are refused.
bool resolveScale(const TimeBaseRecord& tb, int64_t s, int64_t& out) {
    if (s < 0) return false;
    out = s == 0 ? tb.natural : s;
    return true;
}

void detach(TimeBaseRecord& slave) {
    reanchor(slave);
    if (slave.masterTB) {
        auto& v = slave.masterTB->slaves;
        v.erase(std::remove(v.begin(), v.end(), &slave), v.end());
    }
    if (ClockInstance* c = slave.masterClock) {
        auto& v = c->slaves;
        v.erase(std::remove(v.begin(), v.end(), &slave), v.end());
        if (c->closeWhenUnused && v.empty()) {
            registry().clocks.erase(c);
            delete c;
        }
    }
    slave.masterTB = nullptr;
    slave.masterClock = nullptr;
    slave.anchorMaster = masterNow(slave);
}

TimeValue readTime(TimeBase tb, TimeScale s, TimeRecord* tr, const Q& (*which)(const TimeBaseRecord&),
                   bool isStop) {
    Registry& r = registry();
    std::lock_guard<std::recursive_mutex> lock(r.mutex);
    if (tr) *tr = TimeRecord{};
    TimeBaseRecord* t = known(tb);
    int64_t scale = 0;
    if (!t || !resolveScale(*t, s, scale)) {
        fail(paramErr);
        return 0;
    }
    int64_t value = (isStop && !t->hasStop) ? kTimeBaseNoStopTime : toScale(which(*t), scale);
    if (tr) {
        tr->value = platform::int64ToWide(value);
        tr->scale = TimeScale(scale);
        tr->base = tb;
    }
    fail(noErr);
    return saturate32(value);
}

const Q& currentOf(const TimeBaseRecord& tb) {
    static thread_local Q value;
    value = evaluate(tb).value;
    return value;
}
const Q& startOf(const TimeBaseRecord& tb) {
    return tb.start;
}
const Q& stopOf(const TimeBaseRecord& tb) {
    return tb.stop;
}

// Applies a time record given by a caller: a null record, unknown base or negative scale is
// refused; a non-zero scale becomes the natural one.
template <class F> void writeTime(TimeBase tb, const TimeRecord* tr, F apply) {
    Registry& r = registry();
    std::lock_guard<std::recursive_mutex> lock(r.mutex);
    TimeBaseRecord* t = known(tb);
    int64_t scale = 0;
    if (!t || !tr || !resolveScale(*t, tr->scale, scale)) {
        fail(paramErr);
        return;
    }
    reanchor(*t);
    apply(*t, fromValue(platform::wideToInt64(tr->value), scale));
    if (tr->scale > 0) t->natural = tr->scale;
    reanchor(*t);
    fail(noErr);
}

} // namespace

TimeBase NewTimeBase() {
    Registry& r = registry();
    std::lock_guard<std::recursive_mutex> lock(r.mutex);
    auto* t = new (std::nothrow) TimeBaseRecord();
    if (!t) {
        fail(memFullErr);
        return nullptr;
    }
    t->anchorMaster = masterNow(*t);
    t->thread = std::this_thread::get_id();
    r.timeBases.insert(t);
    fail(noErr);
    return t;
}

void DisposeTimeBase(TimeBase tb) {
    Registry& r = registry();
    std::lock_guard<std::recursive_mutex> lock(r.mutex);
    TimeBaseRecord* t = known(tb);
    if (!t) {
        fail(tb ? paramErr : noErr);
        return;
    }
    std::vector<TimeBaseRecord*> slaves = t->slaves;
    for (TimeBaseRecord* s : slaves)
        detach(*s);
    detach(*t);
    r.timeBases.erase(t);
    delete t;
    fail(noErr);
}

TimeValue GetTimeBaseTime(TimeBase tb, TimeScale s, TimeRecord* tr) {
    return readTime(tb, s, tr, currentOf, false);
}

void SetTimeBaseTime(TimeBase tb, const TimeRecord* tr) {
    writeTime(tb, tr, [](TimeBaseRecord& t, Q v) { t.anchorValue = v; });
}

void SetTimeBaseValue(TimeBase tb, TimeValue t, TimeScale s) {
    TimeRecord tr{platform::int64ToWide(t), s, tb};
    SetTimeBaseTime(tb, &tr);
}

Fixed GetTimeBaseRate(TimeBase tb) {
    Registry& r = registry();
    std::lock_guard<std::recursive_mutex> lock(r.mutex);
    TimeBaseRecord* t = known(tb);
    fail(t ? noErr : paramErr);
    return t ? t->rate : 0;
}

void SetTimeBaseRate(TimeBase tb, Fixed rate) {
    Registry& r = registry();
    std::lock_guard<std::recursive_mutex> lock(r.mutex);
    TimeBaseRecord* t = known(tb);
    if (!t) {
        fail(paramErr);
        return;
    }
    reanchor(*t);
    t->rate = rate;
    fail(noErr);
}

Fixed GetTimeBaseEffectiveRate(TimeBase tb) {
    Registry& r = registry();
    std::lock_guard<std::recursive_mutex> lock(r.mutex);
    TimeBaseRecord* t = known(tb);
    fail(t ? noErr : paramErr);
    return t ? toFixed(effectiveRate(*t)) : 0;
}

TimeValue GetTimeBaseStartTime(TimeBase tb, TimeScale s, TimeRecord* tr) {
    return readTime(tb, s, tr, startOf, false);
}

void SetTimeBaseStartTime(TimeBase tb, const TimeRecord* tr) {
    writeTime(tb, tr, [](TimeBaseRecord& t, Q v) { t.start = v; });
}

TimeValue GetTimeBaseStopTime(TimeBase tb, TimeScale s, TimeRecord* tr) {
    return readTime(tb, s, tr, stopOf, true);
}

void SetTimeBaseStopTime(TimeBase tb, const TimeRecord* tr) {
    writeTime(tb, tr, [](TimeBaseRecord& t, Q v) {
        t.stop = v;
        t.hasStop = true;
    });
}

int32_t GetTimeBaseFlags(TimeBase tb) {
    Registry& r = registry();
    std::lock_guard<std::recursive_mutex> lock(r.mutex);
    TimeBaseRecord* t = known(tb);
    fail(t ? noErr : paramErr);
    return t ? t->flags : 0;
}

void SetTimeBaseFlags(TimeBase tb, int32_t flags) {
    Registry& r = registry();
    std::lock_guard<std::recursive_mutex> lock(r.mutex);
    TimeBaseRecord* t = known(tb);
    if (!t) {
        fail(paramErr);
        return;
    }
    reanchor(*t);
    t->flags = flags;
    // Running back only exists in a palindrome loop; outside one the time line runs forward.
    if (!looping(*t) || !(flags & palindromeLoopTimeBase)) t->direction = 1;
    reanchor(*t);
    fail(noErr);
}

void SetTimeBaseMasterTimeBase(TimeBase slave, TimeBase master, const TimeRecord* slaveZero) {
    Registry& r = registry();
    std::lock_guard<std::recursive_mutex> lock(r.mutex);
    TimeBaseRecord* s = known(slave);
    TimeBaseRecord* m = master ? known(master) : nullptr;
    if (!s || (master && !m)) {
        fail(paramErr);
        return;
    }
    for (TimeBaseRecord* up = m; up; up = up->masterTB)
        if (up == s) {
            fail(paramErr); // the slave would drive itself
            return;
        }
    detach(*s);
    if (m) {
        s->masterTB = m;
        m->slaves.push_back(s);
    }
    s->anchorMaster = masterNow(*s);
    if (slaveZero && slaveZero->scale >= 0) {
        int64_t scale = slaveZero->scale == 0 ? s->natural : slaveZero->scale;
        s->anchorValue = fromValue(platform::wideToInt64(slaveZero->value), scale);
        s->anchorMaster = Q{0, 1};
    }
    fail(noErr);
}

TimeBase GetTimeBaseMasterTimeBase(TimeBase tb) {
    Registry& r = registry();
    std::lock_guard<std::recursive_mutex> lock(r.mutex);
    TimeBaseRecord* t = known(tb);
    fail(t ? noErr : paramErr);
    return t ? t->masterTB : nullptr;
}

void SetTimeBaseMasterClock(TimeBase slave, Component clockMeister, const TimeRecord* slaveZero) {
    // A clock component is looked up before the time bases are locked: the component manager
    // takes its own lock, and never inside this one.
    platform::Clock* componentSource = nullptr;
    const platform::ClockComponentResolver resolve = clockResolver.load();
    const bool isClockComponent = clockMeister && resolve && resolve(clockMeister, &componentSource);
    Registry& r = registry();
    std::lock_guard<std::recursive_mutex> lock(r.mutex);
    TimeBaseRecord* s = known(slave);
    ClockInstance* c = clockMeister ? knownClock(clockMeister) : nullptr;
    if (!s || (clockMeister && !c && !isClockComponent)) {
        fail(paramErr);
        return;
    }
    if (clockMeister && !c) {
        c = new (std::nothrow) ClockInstance();
        if (!c) {
            fail(memFullErr);
            return;
        }
        c->source = componentSource;
        c->closeWhenUnused = true;
        r.clocks.insert(c);
    }
    // Re-attaching a clock that this base opened must not close it on the way.
    const bool opened = c && c->closeWhenUnused;
    if (opened) c->closeWhenUnused = false;
    detach(*s);
    if (opened) c->closeWhenUnused = true;
    if (c) {
        s->masterClock = c;
        c->slaves.push_back(s);
    }
    s->anchorMaster = masterNow(*s);
    if (slaveZero && slaveZero->scale >= 0) {
        int64_t scale = slaveZero->scale == 0 ? s->natural : slaveZero->scale;
        s->anchorValue = fromValue(platform::wideToInt64(slaveZero->value), scale);
        s->anchorMaster = Q{0, 1};
    }
    fail(noErr);
}

ComponentInstance GetTimeBaseMasterClock(TimeBase tb) {
    Registry& r = registry();
    std::lock_guard<std::recursive_mutex> lock(r.mutex);
    TimeBaseRecord* t = known(tb);
    fail(t ? noErr : paramErr);
    return t ? reinterpret_cast<ComponentInstance>(t->masterClock) : nullptr;
}

OSErr GetTimeBaseThreadAttachState(TimeBase tb, Boolean* attachedToCurrentThread,
                                   Boolean* attachedToAnyThread) {
    Registry& r = registry();
    std::lock_guard<std::recursive_mutex> lock(r.mutex);
    if (attachedToCurrentThread) *attachedToCurrentThread = false;
    if (attachedToAnyThread) *attachedToAnyThread = false;
    TimeBaseRecord* t = known(tb);
    if (!t) return fail(paramErr);
    if (attachedToCurrentThread)
        *attachedToCurrentThread = t->thread && *t->thread == std::this_thread::get_id();
    if (attachedToAnyThread) *attachedToAnyThread = t->thread.has_value();
    return fail(noErr);
}

OSErr AttachTimeBaseToCurrentThread(TimeBase tb) {
    Registry& r = registry();
    std::lock_guard<std::recursive_mutex> lock(r.mutex);
    TimeBaseRecord* t = known(tb);
    if (!t) return fail(paramErr);
    t->thread = std::this_thread::get_id();
    return fail(noErr);
}

OSErr DetachTimeBaseFromCurrentThread(TimeBase tb) {
    Registry& r = registry();
    std::lock_guard<std::recursive_mutex> lock(r.mutex);
    TimeBaseRecord* t = known(tb);
    if (!t) return fail(paramErr);
    if (t->thread && *t->thread == std::this_thread::get_id()) t->thread.reset();
    return fail(noErr);
}

ComponentResult ClockGetTime(ComponentInstance clock, TimeRecord* out) {
    Registry& r = registry();
    std::lock_guard<std::recursive_mutex> lock(r.mutex);
    ClockInstance* c = knownClock(clock);
    if (!c) return badComponentInstance;
    if (!out) return paramErr;
    int64_t ns = (c->source ? *c->source : platform::systemClock()).nowNanoseconds();
    *out = TimeRecord{platform::int64ToWide(ns), kClockTimeScale, nullptr};
    return noErr;
}

namespace platform {

ComponentInstance openClock(Clock* source) {
    Registry& r = registry();
    std::lock_guard<std::recursive_mutex> lock(r.mutex);
    auto* c = new (std::nothrow) ClockInstance();
    if (!c) return nullptr;
    c->source = source;
    r.clocks.insert(c);
    return reinterpret_cast<ComponentInstance>(c);
}

OSErr closeClock(ComponentInstance clock) {
    Registry& r = registry();
    std::lock_guard<std::recursive_mutex> lock(r.mutex);
    ClockInstance* c = knownClock(clock);
    if (!c) return paramErr;
    std::vector<TimeBaseRecord*> slaves = c->slaves;
    for (TimeBaseRecord* s : slaves)
        detach(*s);
    r.clocks.erase(c);
    delete c;
    return noErr;
}

void setClockComponentResolver(ClockComponentResolver resolver) {
    clockResolver.store(resolver);
}

bool isClockInstance(ComponentInstance clock) {
    Registry& r = registry();
    std::lock_guard<std::recursive_mutex> lock(r.mutex);
    return knownClock(clock) != nullptr;
}

} // namespace platform
