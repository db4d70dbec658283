// Tasking: how long until the playing movies need MoviesTask again, the callbacks told when that
// comes sooner than planned, and the play hints of whole movies.
#include "PlatformErrors.h"
#include "PlatformFixed.h"
#include "PlatformMovieModel.h"
#include "PlatformMoviePlayback.h"
#include "PlatformMoviePlaybackState.h"

#include <algorithm>
#include <climits>
#include <mutex>
#include <optional>
#include <vector>

using namespace platform::movie;

namespace {

// The time in movie units until the movie next needs a task at `rate` (the effective rate, not
// 0), from its time `now`: the next frame change of an enabled video track or the end of the time
// line it runs toward.
int64_t unitsUntilNextTask(const MovieRecord& m, int64_t now, Fixed rate) {
    const int16_t flags = nextTimeMediaSample | nextTimeMediaEdit;
    auto video = [](const TrackRecord& t) { return t.enabled && t.media && t.media->type == VideoMediaType; };
    if (rate > 0) {
        // The frame changes when the time reaches the next sample's start.
        int64_t next = movieDuration(m);
        for (const auto& t : m.tracks) {
            if (!video(*t)) continue;
            const std::optional<int64_t> s = trackTimeAfter(*t, flags, now, true);
            if (s && *s < next) next = *s;
        }
        return std::max<int64_t>(next - now, 0);
    }
    // Running back, the frame changes once the time falls below the start of the sample shown: a
    // unit before it, or at 0, the other end.
    int64_t next = 0;
    for (const auto& t : m.tracks) {
        if (!video(*t)) continue;
        const std::optional<int64_t> s = trackTimeBefore(*t, flags, now, false);
        if (s && *s - 1 > next) next = *s - 1;
    }
    return std::max<int64_t>(now - next, 0);
}

// `units` of the movie's scale at `rate` in units of `scale`, rounded up and saturated.
int64_t toScale(int64_t units, TimeScale movieScale, Fixed rate, int32_t scale) {
    if (units <= 0) return 0;
    const __int128 magnitude = rate < 0 ? -__int128(rate) : __int128(rate);
    const __int128 n = __int128(units) * scale * fixed1;
    const __int128 d = __int128(movieScale) * magnitude;
    if (d <= 0) return INT32_MAX;
    const __int128 q = (n + d - 1) / d;
    return q > INT32_MAX ? INT32_MAX : int64_t(q);
}

// The least time until a task over every movie whose time moves; nullopt when none moves.
std::optional<int64_t> timeUntilNextTask(int32_t scale) {
    std::lock_guard<std::mutex> lock(registry().mutex);
    std::optional<int64_t> least;
    for (auto& entry : registry().movies) {
        MovieRecord& m = *entry.second;
        MoviePlayback* p = m.playback.state.get();
        // A movie never played has no time base yet and cannot be playing.
        if (!p) continue;
        syncMovieTime(m);
        const Fixed rate = GetTimeBaseEffectiveRate(p->timeBase);
        if (GetMoviesError() != noErr || rate == 0) continue;
        int64_t wait = 0;
        if (!(p->port && p->redraw && m.active)) {
            wait = toScale(unitsUntilNextTask(m, m.time, rate), m.scale, rate, scale);
        }
        if (!least || wait < *least) least = wait;
    }
    return least;
}

struct SoonerCallback {
    QTNextTaskNeededSoonerCallbackUPP proc;
    void* refcon;
    TimeScale scale;
    uint32_t flags;
};

std::mutex& callbacksMutex() {
    static std::mutex m;
    return m;
}
std::vector<SoonerCallback>& callbacks() {
    static std::vector<SoonerCallback> all;
    return all;
}

std::optional<SoonerCallback> installed(QTNextTaskNeededSoonerCallbackUPP proc, void* refcon) {
    std::lock_guard<std::mutex> lock(callbacksMutex());
    for (const SoonerCallback& c : callbacks())
        if (c.proc == proc && c.refcon == refcon) return c;
    return std::nullopt;
}

} // namespace

OSErr QTGetTimeUntilNextTask(int32_t* duration, int32_t scale) {
    if (duration) *duration = 0;
    if (!duration || scale <= 0) return result(paramErr);
    const std::optional<int64_t> wait = timeUntilNextTask(scale);
    *duration = wait ? int32_t(*wait) : INT32_MAX;
    return result(noErr);
}

OSErr QTInstallNextTaskNeededSoonerCallback(QTNextTaskNeededSoonerCallbackUPP callbackProc, TimeScale scale,
                                            uint32_t flags, void* refcon) {
    if (!callbackProc || scale <= 0) return result(paramErr);
    std::lock_guard<std::mutex> lock(callbacksMutex());
    for (SoonerCallback& c : callbacks()) {
        if (c.proc == callbackProc && c.refcon == refcon) {
            c.scale = scale;
            c.flags = flags;
            return result(noErr);
        }
    }
    callbacks().push_back({callbackProc, refcon, scale, flags});
    return result(noErr);
}

OSErr QTUninstallNextTaskNeededSoonerCallback(QTNextTaskNeededSoonerCallbackUPP callbackProc, void* refcon) {
    std::lock_guard<std::mutex> lock(callbacksMutex());
    auto& all = callbacks();
    auto it = std::find_if(all.begin(), all.end(), [&](const SoonerCallback& c) {
        return c.proc == callbackProc && c.refcon == refcon;
    });
    if (it == all.end()) return result(paramErr);
    all.erase(it);
    return result(noErr);
}

void platform::nextTaskNeededSooner() {
    std::vector<SoonerCallback> pending;
    {
        std::lock_guard<std::mutex> lock(callbacksMutex());
        pending = callbacks();
    }
    for (const SoonerCallback& c : pending) {
        // One that an earlier callback uninstalled is not called; its scale may have changed.
        const std::optional<SoonerCallback> now = installed(c.proc, c.refcon);
        if (!now) continue;
        const std::optional<int64_t> wait = timeUntilNextTask(now->scale);
        if (!wait) continue;
        now->proc(TimeValue(*wait), now->flags, now->refcon);
    }
}

void SetMoviePlayHints(Movie movie, int32_t flags, int32_t flagsMask) {
    onRecord(movie, [&](MovieRecord& m) {
        for (const auto& t : m.tracks) {
            if (!t->media) continue;
            MediaPlayback* p = playbackOf(*t->media);
            if (!p) {
                result(memFullErr);
                return;
            }
            p->playHints = (p->playHints & ~flagsMask) | (flags & flagsMask);
        }
        result(noErr);
    });
}
