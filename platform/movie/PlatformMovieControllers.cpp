// Each controller keeps its state in a table of this file, keyed by the instance the component
// manager made; the manager's open and close callbacks add and remove the entries. The movie
// calls a controller makes run outside the table's lock, on a copy of the state taken under it.
#include "PlatformMovieControllers.h"
#include "PlatformMoviePlayback.h"

#include "PlatformComponents.h"
#include "PlatformFixed.h"
#include "PlatformMovieModel.h"
#include "PlatformPendingCalls.h"

#include <map>
#include <mutex>
#include <new>

namespace {

struct Controller {
    Movie movie = nullptr;
    Rect bounds{0, 0, 0, 0};
    int32_t flags = 0;
    bool editing = false;
    Fixed rate = 0;
    bool looping = false;
    bool palindrome = false;
};

struct Table {
    std::mutex mutex;
    std::map<ComponentInstance, Controller> controllers;
};

Table& table() {
    static Table* t = new Table(); // lives as long as the process, as the component does
    return *t;
}

OSErr openController(void*, Component, ComponentInstance* instance) {
    Table& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    try {
        t.controllers[*instance] = Controller{};
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
    return noErr;
}

OSErr closeController(void*, ComponentInstance instance) {
    Table& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    t.controllers.erase(instance);
    return noErr;
}

ComponentResult dispatchController(void*, ComponentInstance, int32_t selector, void* params) {
    if (selector == kComponentCanDoSelect) return 0;
    (void)params;
    return badComponentSelector;
}

void installControllerComponent() {
    static std::once_flag once;
    std::call_once(once, [] {
        Handle icon = platform::newPlainIconSuite(0xFFD8E0F0u, 0xFF303850u);
        platform::ComponentCallbacks callbacks;
        callbacks.open = openController;
        callbacks.close = closeController;
        callbacks.dispatch = dispatchController;
        platform::registerComponent(
            {MovieControllerComponentType, 0, platform::kVendorCode, cmpThreadSafe, 0}, "Movie Controller",
            "Holds a movie for its caller: selection, current time, stepping and play "
            "rate; draws no controller bar",
            icon, callbacks, nullptr);
        if (icon) DisposeHandle(icon);
    });
}

// Registered before anybody looks for a controller component.
const bool kInstallerAdded = platform::addComponentInstaller(installControllerComponent);

// A copy of the controller's state; false for an instance that is not a controller.
bool stateOf(MovieController mc, Controller& out) {
    if (!mc) return false;
    Table& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    auto it = t.controllers.find(mc);
    if (it == t.controllers.end()) return false;
    out = it->second;
    return true;
}

template <class F> bool update(MovieController mc, F change) {
    if (!mc) return false;
    Table& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    auto it = t.controllers.find(mc);
    if (it == t.controllers.end()) return false;
    change(it->second);
    return true;
}

int64_t wideValue(const wide& w) {
    return int64_t((uint64_t(uint32_t(w.hi)) << 32) | w.lo);
}

wide toWide(int64_t v) {
    return wide{uint32_t(uint64_t(v)), int32_t(uint64_t(v) >> 32)};
}

// A time record's time in the movie's scale (a record of scale 0 is in it already); false when
// it cannot be a 32-bit movie time.
bool movieTimeOf(const TimeRecord& record, TimeScale movieScale, TimeValue& out) {
    int64_t v = wideValue(record.value);
    if (record.scale > 0 && record.scale != movieScale) {
        if (v > platform::movie::kMaxTime || v < -platform::movie::kMaxTime) return false;
        v = platform::movie::convertTime(v, record.scale, movieScale);
    } else if (record.scale < 0) {
        return false;
    }
    if (v < INT32_MIN || v > INT32_MAX) return false;
    out = TimeValue(v);
    return true;
}

// Steps the movie's time `steps` frames (or samples when a track has no frames) on or back.
ComponentResult step(Movie movie, int32_t steps) {
    TimeValue now = GetMovieTime(movie, nullptr);
    if (OSErr err = GetMoviesError()) return err;
    const Fixed rate = steps < 0 ? -fixed1 : fixed1;
    for (int64_t n = steps < 0 ? -int64_t(steps) : steps; n > 0; --n) {
        TimeValue next = -1;
        GetMovieNextInterestingTime(movie, nextTimeStep, 0, nullptr, now, rate, &next, nullptr);
        if (GetMoviesError() != noErr || next < 0) break;
        now = next;
    }
    SetMovieTimeValue(movie, now);
    return GetMoviesError();
}

ComponentResult setSelection(Movie movie, const TimeRecord* record, bool begin) {
    if (!record) return paramErr;
    const TimeScale scale = GetMovieTimeScale(movie);
    if (OSErr err = GetMoviesError()) return err;
    TimeValue value = 0;
    if (!movieTimeOf(*record, scale, value)) return paramErr;
    TimeValue start = 0, duration = 0;
    GetMovieSelection(movie, &start, &duration);
    if (begin)
        start = value;
    else
        duration = value;
    SetMovieSelection(movie, start, duration);
    return GetMoviesError();
}

ComponentResult getSelection(Movie movie, TimeRecord* record, bool begin) {
    if (!record) return paramErr;
    const TimeScale scale = GetMovieTimeScale(movie);
    if (OSErr err = GetMoviesError()) return err;
    TimeValue start = 0, duration = 0;
    GetMovieSelection(movie, &start, &duration);
    record->value = toWide(begin ? start : duration);
    record->scale = scale;
    record->base = nullptr;
    return noErr;
}

template <class T> T pointerValue(void* params) {
    return T(reinterpret_cast<intptr_t>(params));
}

} // namespace

MovieController NewMovieController(Movie theMovie, const Rect* movieRect, int32_t someFlags) {
    if (!platform::movie::onRecord(theMovie, false, [](platform::movie::MovieRecord&) { return true; }))
        return nullptr;
    installControllerComponent();
    MovieController mc = OpenDefaultComponent(MovieControllerComponentType, 0);
    if (!mc) {
        platform::setMoviesError(memFullErr);
        return nullptr;
    }
    update(mc, [&](Controller& c) {
        c.movie = theMovie;
        c.flags = someFlags;
        if (movieRect) c.bounds = *movieRect;
    });
    platform::setMoviesError(noErr);
    return mc;
}

void DisposeMovieController(MovieController mc) {
    Controller c;
    if (stateOf(mc, c)) CloseComponent(mc);
}

ComponentResult MCSetMovie(MovieController mc, Movie theMovie, WindowRef, Point) {
    Controller c;
    if (!stateOf(mc, c)) return badComponentInstance;
    if (theMovie &&
        !platform::movie::onRecord(theMovie, false, [](platform::movie::MovieRecord&) { return true; }))
        return invalidMovie;
    if (!update(mc, [&](Controller& s) { s.movie = theMovie; })) return badComponentInstance;
    return noErr;
}

Movie MCGetIndMovie(MovieController mc, int16_t index) {
    Controller c;
    if (!stateOf(mc, c) || index != 0) return nullptr;
    return c.movie;
}

ComponentResult MCMovieChanged(MovieController mc, Movie m) {
    Controller c;
    if (!stateOf(mc, c)) return badComponentInstance;
    if (!m || m != c.movie) return noErr;
    // An edit may have shortened the movie: the time and the selection stay inside it.
    return platform::movie::onRecord(m, OSErr(invalidMovie), [](platform::movie::MovieRecord& r) {
        platform::movie::keepTimeInMovie(r);
        const int64_t duration = platform::movie::movieDuration(r);
        r.selectionStart = std::min(r.selectionStart, duration);
        r.selectionDuration = std::min(r.selectionDuration, duration - r.selectionStart);
        return platform::movie::result(noErr);
    });
}

int32_t MCIsEditingEnabled(MovieController mc) {
    Controller c;
    return stateOf(mc, c) && c.editing ? 1 : 0;
}

ComponentResult MCEnableEditing(MovieController mc, Boolean enabled) {
    return update(mc, [&](Controller& c) { c.editing = enabled != 0; }) ? ComponentResult(noErr)
                                                                        : badComponentInstance;
}

ComponentResult MCDoAction(MovieController mc, int16_t action, void* params) {
    Controller c;
    if (!stateOf(mc, c)) return badComponentInstance;
    // Actions on the controller's own state.
    switch (action) {
    case mcActionSetLooping:
        update(mc, [&](Controller& s) { s.looping = pointerValue<intptr_t>(params) != 0; });
        return noErr;
    case mcActionGetLooping:
        if (!params) return paramErr;
        *static_cast<Boolean*>(params) = c.looping;
        return noErr;
    case mcActionSetLoopIsPalindrome:
        update(mc, [&](Controller& s) { s.palindrome = pointerValue<intptr_t>(params) != 0; });
        return noErr;
    case mcActionGetLoopIsPalindrome:
        if (!params) return paramErr;
        *static_cast<Boolean*>(params) = c.palindrome;
        return noErr;
    case mcActionSetFlags:
        update(mc, [&](Controller& s) { s.flags = pointerValue<int32_t>(params); });
        return noErr;
    case mcActionGetFlags:
        if (!params) return paramErr;
        *static_cast<int32_t*>(params) = c.flags;
        return noErr;
    case mcActionGetPlayRate:
        if (!params) return paramErr;
        *static_cast<Fixed*>(params) = c.rate;
        return noErr;
    default:
        break;
    }
    // Actions on the movie.
    switch (action) {
    case mcActionIdle:
    case mcActionPlay:
    case mcActionGoToTime:
    case mcActionStep:
    case mcActionSetSelectionBegin:
    case mcActionSetSelectionDuration:
    case mcActionGetSelectionBegin:
    case mcActionGetSelectionDuration:
        break;
    default:
        return badComponentSelector;
    }
    if (!c.movie) return invalidMovie;
    switch (action) {
    case mcActionIdle:
        return MCIdle(mc);
    case mcActionPlay: {
        const Fixed rate = pointerValue<Fixed>(params);
        SetMovieRate(c.movie, rate);
        if (OSErr err = GetMoviesError()) return err;
        update(mc, [&](Controller& s) { s.rate = rate; });
        return noErr;
    }
    case mcActionGoToTime: {
        if (!params) return paramErr;
        const TimeScale scale = GetMovieTimeScale(c.movie);
        if (OSErr err = GetMoviesError()) return err;
        TimeValue t = 0;
        if (!movieTimeOf(*static_cast<const TimeRecord*>(params), scale, t)) return paramErr;
        SetMovieTimeValue(c.movie, std::max<TimeValue>(t, 0));
        return GetMoviesError();
    }
    case mcActionStep:
        return step(c.movie, pointerValue<int32_t>(params));
    case mcActionSetSelectionBegin:
        return setSelection(c.movie, static_cast<const TimeRecord*>(params), true);
    case mcActionSetSelectionDuration:
        return setSelection(c.movie, static_cast<const TimeRecord*>(params), false);
    case mcActionGetSelectionBegin:
        return getSelection(c.movie, static_cast<TimeRecord*>(params), true);
    case mcActionGetSelectionDuration:
        return getSelection(c.movie, static_cast<TimeRecord*>(params), false);
    default:
        return badComponentSelector;
    }
}

TimeValue MCGetCurrentTime(MovieController mc, TimeScale* scale) {
    if (scale) *scale = 0;
    Controller c;
    if (!stateOf(mc, c) || !c.movie) return 0;
    const TimeScale s = GetMovieTimeScale(c.movie);
    if (GetMoviesError() != noErr) return 0;
    const TimeValue t = GetMovieTime(c.movie, nullptr);
    if (GetMoviesError() != noErr) return 0;
    if (scale) *scale = s;
    return t;
}

ComponentResult MCIdle(MovieController mc) {
    Controller c;
    if (!stateOf(mc, c)) return badComponentInstance;
    if (!c.movie) return noErr;
    MoviesTask(c.movie, 0);
    return GetMoviesError();
}
