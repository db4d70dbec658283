#include "KelvoCoreObjectsTimeBase.h"

#include "PlatformErrors.h"
#include "PlatformFixed.h"
#include "PlatformMoviePlayback.h"
#include "PlatformPendingDisplayCalls.h"

#include <cmath>
#include <new>

namespace {

// Truncation toward zero that stays defined: NaN gives 0, values beyond the range saturate.
int64_t truncToInt64(double x) {
    if (std::isnan(x)) return 0;
    if (x >= 9223372036854775807.0) return INT64_MAX;
    if (x <= -9223372036854775808.0) return INT64_MIN;
    return int64_t(x);
}

} // namespace

Kelvo_TimeBase::Kelvo_TimeBase() {
    _create();
}

Kelvo_TimeBase::Kelvo_TimeBase(TimeBase timeBase, bool owned) : _owned(owned ? 1 : 0) {
    _initWithTimeBase(timeBase);
}

Kelvo_TimeBase::Kelvo_TimeBase(Movie movie) {
    if (movie) _initWithTimeBase(GetMovieTimeBase(movie));
}

Kelvo_TimeBase::Kelvo_TimeBase(const Kelvo_TimeRange64& range) {
    _initWithRange(range);
}

Kelvo_TimeBase& Kelvo_TimeBase::operator=(const Kelvo_TimeRange64& range) {
    _initWithRange(range);
    return *this;
}

Kelvo_TimeBase::~Kelvo_TimeBase() {
    if (_timeBase && _owned) DisposeTimeBase(_timeBase);
}

void Kelvo_TimeBase::_create() {
    _timeBase = NewTimeBase();
    _owned = 1;
    if (!_timeBase) _status = GetMoviesError();
}

void Kelvo_TimeBase::_initWithTimeBase(TimeBase timeBase) {
    _timeBase = timeBase;
    if (!_timeBase) return;
    TimeRecord tr{};
    GetTimeBaseTime(_timeBase, 0, &tr);
    _timeScale = tr.scale;
}

void Kelvo_TimeBase::_initWithRange(const Kelvo_TimeRange64& range) {
    if (!_timeBase) _create();
    if (!_timeBase || !range.qtObjIsValid()) return;
    TimeRecord start{platform::int64ToWide(truncToInt64(range.start())), range.scale(), nullptr};
    TimeRecord stop{platform::int64ToWide(truncToInt64(range.end())), range.scale(), nullptr};
    SetTimeBaseStartTime(_timeBase, &start);
    SetTimeBaseStopTime(_timeBase, &stop);
    _timeScale = range.scale();
}

void Kelvo_TimeBase::attachClock(const Kelvo_Clock& clock) {
    if (!qtObjIsValid() || !clock.qtObjIsValid()) return;
    SetTimeBaseMasterClock(_timeBase, clock.id(), nullptr);
    _status = GetMoviesError();
}

void Kelvo_TimeBase::attachTimeBase(const Kelvo_TimeBase& master) {
    if (!qtObjIsValid()) return;
    if (!master.qtObjIsValid()) {
        _status = kKelvoBadArgumentObject;
        return;
    }
    SetTimeBaseMasterTimeBase(_timeBase, master._timeBase, nullptr);
    _status = GetMoviesError();
}

bool Kelvo_TimeBase::isDone() {
    if (!qtObjIsValid()) return true;
    if (loop()) return false;
    TimeRecord now{}, stop{};
    GetTimeBaseTime(_timeBase, _timeScale, &now);
    GetTimeBaseStopTime(_timeBase, _timeScale, &stop);
    return platform::wideToInt64(now.value) >= platform::wideToInt64(stop.value);
}

bool Kelvo_TimeBase::loop() {
    return qtObjIsValid() && (GetTimeBaseFlags(_timeBase) & loopTimeBase) != 0;
}

bool Kelvo_TimeBase::palindrome() {
    return qtObjIsValid() && (GetTimeBaseFlags(_timeBase) & palindromeLoopTimeBase) != 0;
}

void Kelvo_TimeBase::_toggleFlag(int32_t flag, bool on) {
    if (!qtObjIsValid()) return;
    int32_t flags = GetTimeBaseFlags(_timeBase);
    if (((flags & flag) != 0) == on) return;
    SetTimeBaseFlags(_timeBase, flags ^ flag);
    _status = GetMoviesError();
}

void Kelvo_TimeBase::loop(bool on) {
    _toggleFlag(loopTimeBase, on);
}

void Kelvo_TimeBase::palindrome(bool on) {
    _toggleFlag(palindromeLoopTimeBase, on);
}

int32_t Kelvo_TimeBase::currentTime() {
    if (!qtObjIsValid()) return -1;
    return GetTimeBaseTime(_timeBase, _timeScale, nullptr);
}

void Kelvo_TimeBase::currentTime(int32_t t) {
    if (!qtObjIsValid()) return;
    SetTimeBaseValue(_timeBase, t, _timeScale);
    _status = GetMoviesError();
}

double Kelvo_TimeBase::rate() {
    return qtObjIsValid() ? Fix2X(GetTimeBaseRate(_timeBase)) : 0.0;
}

double Kelvo_TimeBase::effectiveRate() {
    return qtObjIsValid() ? Fix2X(GetTimeBaseEffectiveRate(_timeBase)) : 0.0;
}

void Kelvo_TimeBase::rate(double r) {
    if (!qtObjIsValid()) return;
    SetTimeBaseRate(_timeBase, X2Fix(r));
    _status = GetMoviesError();
}

Kelvo_TimeRange64* Kelvo_TimeBase::timeInfo() {
    if (!qtObjIsValid()) return nullptr;
    TimeRecord start{}, stop{};
    GetTimeBaseStartTime(_timeBase, _timeScale, &start);
    GetTimeBaseStopTime(_timeBase, _timeScale, &stop);
    int64_t s = platform::wideToInt64(start.value), e = platform::wideToInt64(stop.value);
    auto* range = new (std::nothrow) Kelvo_TimeRange64(double(s), double(e) - double(s));
    if (range) range->scale() = _timeScale;
    return range;
}

void Kelvo_TimeBase::timeInfo(Kelvo_TimeRange64* range) {
    if (!isValidInstance(range, _status, false)) return;
    _initWithRange(*range);
}

bool Kelvo_TimeBase::isAttachedToCurrentThread() {
    if (!qtObjIsValid()) return false;
    Boolean current = false, any = false;
    _status = GetTimeBaseThreadAttachState(_timeBase, &current, &any);
    return _status == noErr && current;
}

bool Kelvo_TimeBase::isAttachedToAnyThread() {
    if (!qtObjIsValid()) return false;
    Boolean current = false, any = false;
    _status = GetTimeBaseThreadAttachState(_timeBase, &current, &any);
    return _status == noErr && any;
}

Kelvo_QTObj* Kelvo_TimeBase::timeMaster() {
    if (!qtObjIsValid()) return nullptr;
    Kelvo_QTObj* master = nullptr;
    if (ComponentInstance clock = GetTimeBaseMasterClock(_timeBase)) {
        master = new (std::nothrow) Kelvo_Clock(clock, 1, 0);
    } else if (TimeBase tb = GetTimeBaseMasterTimeBase(_timeBase)) {
        master = new (std::nothrow) Kelvo_TimeBase(tb, false);
    } else {
        return nullptr;
    }
    if (!master) {
        _status = memFullErr;
        return nullptr;
    }
    if (!master->qtObjIsValid()) {
        _status = master->Error();
        delete master;
        return nullptr;
    }
    return master;
}
