// Time bases, rates, volumes and audio contexts of movies, and the playback state of movies,
// tracks and media.
#include "PlatformMoviePlayback.h"

#include "PlatformComponents.h"
#include "PlatformErrors.h"
#include "PlatformFixed.h"
#include "PlatformMoviePlaybackState.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <new>
#include <unordered_set>

namespace platform::movie {

MoviePlayback::~MoviePlayback() {
    if (timeBase) DisposeTimeBase(timeBase);
    if (clip) DisposeRgn(clip);
    if (audioContext) QTAudioContextRelease(audioContext);
    if (token) platform::removeStoredProperties(token);
}

TrackPlayback::~TrackPlayback() {
    if (clip) DisposeRgn(clip);
    if (token) platform::removeStoredProperties(token);
}

void PlaybackDeleter::operator()(MoviePlayback* p) const {
    delete p;
}
void PlaybackDeleter::operator()(TrackPlayback* p) const {
    delete p;
}
void PlaybackDeleter::operator()(MediaPlayback* p) const {
    delete p;
}

namespace {

// A time base for the movie, standing at its time.
bool newMovieTimeBase(MovieRecord& m, MoviePlayback& p) {
    p.timeBase = NewTimeBase();
    if (!p.timeBase) return false;
    const TimeRecord start{platform::int64ToWide(0), m.scale, nullptr};
    SetTimeBaseStartTime(p.timeBase, &start);
    const TimeRecord now{platform::int64ToWide(m.time), m.scale, nullptr};
    SetTimeBaseTime(p.timeBase, &now);
    p.syncedTime = m.time;
    p.stopDuration = -1;
    return true;
}

} // namespace

MoviePlayback* playbackOf(MovieRecord& m) {
    if (MoviePlayback* p = m.playback.state.get()) {
        // A caller that disposed of the movie's time base leaves the movie stopped at its time,
        // on a new one.
        GetTimeBaseFlags(p->timeBase);
        if (GetMoviesError() == paramErr && !newMovieTimeBase(m, *p)) return nullptr;
        return p;
    }
    auto* p = new (std::nothrow) MoviePlayback();
    if (!p) return nullptr;
    p->token = m.token;
    if (!newMovieTimeBase(m, *p)) {
        delete p;
        return nullptr;
    }
    m.playback.state.reset(p);
    return p;
}

TrackPlayback* playbackOf(TrackRecord& t) {
    if (!t.playback.state) {
        auto* p = new (std::nothrow) TrackPlayback();
        if (!p) return nullptr;
        p->token = t.token;
        t.playback.state.reset(p);
    }
    return t.playback.state.get();
}

MediaPlayback* playbackOf(MediaRecord& m) {
    if (!m.playback.state) m.playback.state.reset(new (std::nothrow) MediaPlayback());
    return m.playback.state.get();
}

void syncMovieTime(MovieRecord& m) {
    MoviePlayback* p = playbackOf(m);
    if (!p) return;
    const int64_t duration = movieDuration(m);
    if (p->stopDuration != duration || p->stopScale != m.scale) {
        const TimeRecord stop{platform::int64ToWide(duration), m.scale, nullptr};
        SetTimeBaseStopTime(p->timeBase, &stop);
        const TimeRecord start{platform::int64ToWide(0), m.scale, nullptr};
        SetTimeBaseStartTime(p->timeBase, &start);
        p->stopDuration = duration;
        p->stopScale = m.scale;
    }
    if (m.time != p->syncedTime) {
        // The record's time was set (or moved by an edit or a new scale) since the time base
        // last drove it: the time base takes it.
        const TimeRecord now{platform::int64ToWide(m.time), m.scale, nullptr};
        SetTimeBaseTime(p->timeBase, &now);
    } else {
        TimeRecord now{};
        GetTimeBaseTime(p->timeBase, m.scale, &now);
        m.time = std::clamp<int64_t>(platform::wideToInt64(now.value), 0, duration);
    }
    p->syncedTime = m.time;
}

TimeBase refreshMovieTime(MovieRecord& m) {
    syncMovieTime(m);
    MoviePlayback* p = m.playback.state.get();
    return p ? p->timeBase : nullptr;
}

void movieTimeWasSet(MovieRecord& m) {
    MoviePlayback* p = m.playback.state.get();
    if (!p) return; // the time base, when made, starts at the record's time
    const TimeRecord now{platform::int64ToWide(m.time), m.scale, nullptr};
    SetTimeBaseTime(p->timeBase, &now);
    p->syncedTime = m.time;
}

} // namespace platform::movie

using namespace platform::movie;

namespace {

// A call on the movie's playback state after its time was brought up to date; memFullErr when
// the state cannot be made.
template <class R, class F> R onPlayback(Movie movie, R fallback, F&& body) {
    return onRecord(movie, fallback, [&](MovieRecord& m) -> R {
        syncMovieTime(m);
        MoviePlayback* p = m.playback.state.get();
        if (!p) {
            result(memFullErr);
            return fallback;
        }
        return body(m, *p);
    });
}

void setTime(Movie movie, bool toEnd) {
    onPlayback(movie, 0, [&](MovieRecord& m, MoviePlayback&) {
        m.time = toEnd ? movieDuration(m) : 0;
        movieTimeWasSet(m);
        result(noErr);
        return 0;
    });
}

} // namespace

TimeBase GetMovieTimeBase(Movie movie) {
    return onPlayback(movie, TimeBase(nullptr), [](MovieRecord&, MoviePlayback& p) {
        result(noErr);
        return p.timeBase;
    });
}

Fixed GetMovieRate(Movie movie) {
    return onPlayback(movie, Fixed(0), [](MovieRecord&, MoviePlayback& p) {
        const Fixed rate = GetTimeBaseRate(p.timeBase);
        result(noErr);
        return rate;
    });
}

namespace {

// After a change to a rate that plays, the movie may need its next task sooner than planned. The
// callbacks run without the registry's lock and leave the caller the rate setter's own error.
void rateChanged(Fixed rate) {
    const OSErr err = GetMoviesError();
    if (err != noErr || rate == 0) return;
    platform::nextTaskNeededSooner();
    result(err);
}

} // namespace

void SetMovieRate(Movie movie, Fixed rate) {
    onPlayback(movie, 0, [&](MovieRecord&, MoviePlayback& p) {
        SetTimeBaseRate(p.timeBase, rate);
        result(GetMoviesError());
        return 0;
    });
    rateChanged(rate);
}

Fixed GetMoviePreferredRate(Movie movie) {
    return onPlayback(movie, Fixed(0), [](MovieRecord&, MoviePlayback& p) {
        result(noErr);
        return p.preferredRate;
    });
}

void SetMoviePreferredRate(Movie movie, Fixed rate) {
    onPlayback(movie, 0, [&](MovieRecord&, MoviePlayback& p) {
        p.preferredRate = rate;
        result(noErr);
        return 0;
    });
}

void SetMovieMasterTimeBase(Movie movie, TimeBase master, const TimeRecord* slaveZero) {
    onPlayback(movie, 0, [&](MovieRecord& m, MoviePlayback& p) {
        SetTimeBaseMasterTimeBase(p.timeBase, master, slaveZero);
        const OSErr err = GetMoviesError();
        // The time base may have jumped to the master's time.
        p.syncedTime = m.time;
        syncMovieTime(m);
        result(err);
        return 0;
    });
}

void SetMovieMasterClock(Movie movie, Component clockMeister, const TimeRecord* slaveZero) {
    onPlayback(movie, 0, [&](MovieRecord& m, MoviePlayback& p) {
        SetTimeBaseMasterClock(p.timeBase, clockMeister, slaveZero);
        const OSErr err = GetMoviesError();
        p.syncedTime = m.time;
        syncMovieTime(m);
        result(err);
        return 0;
    });
}

void StartMovie(Movie movie) {
    const Fixed rate = onPlayback(movie, Fixed(0), [](MovieRecord& m, MoviePlayback& p) {
        m.active = true;
        SetTimeBaseRate(p.timeBase, p.preferredRate);
        result(GetMoviesError());
        return p.preferredRate;
    });
    rateChanged(rate);
}

void StopMovie(Movie movie) {
    onPlayback(movie, 0, [](MovieRecord&, MoviePlayback& p) {
        SetTimeBaseRate(p.timeBase, 0);
        result(GetMoviesError());
        return 0;
    });
}

void GoToBeginningOfMovie(Movie movie) {
    setTime(movie, false);
}

void GoToEndOfMovie(Movie movie) {
    setTime(movie, true);
}

Boolean IsMovieDone(Movie movie) {
    return onPlayback(movie, Boolean(true), [](MovieRecord& m, MoviePlayback& p) {
        const Fixed rate = GetTimeBaseRate(p.timeBase);
        result(noErr);
        return Boolean(rate < 0 ? m.time <= 0 : m.time >= movieDuration(m));
    });
}

OSErr PrerollMovie(Movie movie, TimeValue time, Fixed) {
    return onRecord(movie, invalidMovie, [&](MovieRecord&) { return result(time < 0 ? paramErr : noErr); });
}

int16_t GetMovieVolume(Movie movie) {
    return onPlayback(movie, int16_t(0), [](MovieRecord&, MoviePlayback& p) {
        result(noErr);
        return p.volume;
    });
}

void SetMovieVolume(Movie movie, int16_t volume) {
    onPlayback(movie, 0, [&](MovieRecord&, MoviePlayback& p) {
        p.volume = volume;
        p.muted = volume < 0;
        result(noErr);
        return 0;
    });
}

int16_t GetMoviePreferredVolume(Movie movie) {
    return onPlayback(movie, int16_t(0), [](MovieRecord&, MoviePlayback& p) {
        result(noErr);
        return p.preferredVolume;
    });
}

void SetMoviePreferredVolume(Movie movie, int16_t volume) {
    onPlayback(movie, 0, [&](MovieRecord&, MoviePlayback& p) {
        p.preferredVolume = volume;
        result(noErr);
        return 0;
    });
}

// ---------------------------------------------------------------------------------------------
// Audio contexts.

struct OpaqueQTAudioContext {
    std::atomic<int32_t> count{1};
    CFStringRef deviceUID = nullptr; // retained; null: the default device
};

namespace {

std::mutex& contextsMutex() {
    static std::mutex m;
    return m;
}
std::unordered_set<QTAudioContextRef>& contexts() {
    static std::unordered_set<QTAudioContextRef> all;
    return all;
}
bool isContext(QTAudioContextRef c) {
    std::lock_guard<std::mutex> lock(contextsMutex());
    return contexts().count(c) != 0;
}

} // namespace

OSStatus QTAudioContextCreateForAudioDevice(CFAllocatorRef, CFStringRef audioDeviceUID, CFDictionaryRef,
                                            QTAudioContextRef* newAudioContext) {
    if (newAudioContext) *newAudioContext = nullptr;
    if (!newAudioContext) return paramErr;
    if (audioDeviceUID && CFGetTypeID(audioDeviceUID) != CFStringGetTypeID()) return paramErr;
    auto* c = new (std::nothrow) OpaqueQTAudioContext();
    if (!c) return memFullErr;
    if (audioDeviceUID) c->deviceUID = static_cast<CFStringRef>(CFRetain(audioDeviceUID));
    {
        std::lock_guard<std::mutex> lock(contextsMutex());
        contexts().insert(c);
    }
    *newAudioContext = c;
    return noErr;
}

QTAudioContextRef QTAudioContextRetain(QTAudioContextRef context) {
    if (!isContext(context)) return nullptr;
    context->count.fetch_add(1);
    return context;
}

void QTAudioContextRelease(QTAudioContextRef context) {
    {
        std::lock_guard<std::mutex> lock(contextsMutex());
        if (!contexts().count(context)) return;
        if (context->count.fetch_sub(1) != 1) return;
        contexts().erase(context);
    }
    if (context->deviceUID) CFRelease(context->deviceUID);
    delete context;
}

OSStatus SetMovieAudioContext(Movie movie, QTAudioContextRef audioContext) {
    if (audioContext && !QTAudioContextRetain(audioContext)) {
        // Still tell an unknown movie from an unknown context.
        return onRecord(movie, invalidMovie, [](MovieRecord&) { return result(paramErr); });
    }
    const OSErr err = onPlayback(movie, invalidMovie, [&](MovieRecord&, MoviePlayback& p) {
        std::swap(p.audioContext, audioContext);
        return result(noErr);
    });
    // The context given back (the one replaced, or the new one when the movie was refused).
    if (audioContext) QTAudioContextRelease(audioContext);
    return err;
}

OSStatus GetMovieAudioContext(Movie movie, QTAudioContextRef* audioContext) {
    if (audioContext) *audioContext = nullptr;
    if (!audioContext) return onRecord(movie, invalidMovie, [](MovieRecord&) { return result(paramErr); });
    return onPlayback(movie, invalidMovie, [&](MovieRecord&, MoviePlayback& p) {
        *audioContext = p.audioContext;
        return result(noErr);
    });
}
