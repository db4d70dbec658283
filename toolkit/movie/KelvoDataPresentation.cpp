#include "KelvoDataPresentation.h"

#include "KelvoCoreComponents.h"
#include "PlatformComponents.h"

#include <cstring>
#include <new>

Kelvo_DataPresentation::Kelvo_DataPresentation() = default;

Kelvo_DataPresentation::~Kelvo_DataPresentation() {
    // Only this class's own operations: the subclass is already gone, and a timer left behind
    // would call into a dead object.
    Kelvo_CoreIdler::_stopIdlingLoop();
    _autoIdling = 0;
    delete _progressNotifier;
    _progressNotifier = nullptr;
    delete _timeBase;
    _timeBase = nullptr;
}

bool Kelvo_DataPresentation::isA(const char* name) const {
    if (!name) return false;
    return Kelvo_CoreIdler::isA(name) || std::strcmp(name, "Kelvo_DataPresentation") == 0;
}

bool Kelvo_DataPresentation::autoIdlingEnabled(bool enable) {
    // One sample or none has nothing to play over time, so no timer is armed for it. A timer that
    // runs can always be stopped, whatever the sample count has become since.
    if (enable && SamplesCount() < 2) return false;
    return Kelvo_CoreIdler::autoIdlingEnabled(enable);
}

double Kelvo_DataPresentation::idlingTimeInMilliSec() {
    const double stored = Kelvo_CoreIdler::idlingTimeInMilliSec();
    if (stored > 0.0) return stored;
    const int32_t duration = _sampleDuration;
    if (duration <= 0) return 0.0;
    const int32_t scale = Time(kKelvoTimeScale);
    if (scale <= 0) return 0.0;
    // Whole samples per second, as the presentations have always timed their ticks: a scale of
    // 1000 with samples of 33 ticks every 1000 / 30 ms.
    const int32_t samplesPerSecond = scale / duration;
    // Samples longer than a second: one tick per sample.
    const double period =
        samplesPerSecond > 0 ? 1000.0 / double(samplesPerSecond) : 1000.0 * double(duration) / double(scale);
    // Through the idler's setter, so that a timer armed before the period was known takes it.
    Kelvo_CoreIdler::idlingTimeInMilliSec(period);
    return period;
}

void Kelvo_DataPresentation::_initTimeController() {
    if (_timeBase || SamplesCount() < 2) return;
    Kelvo_Clock clock(systemMicrosecondClock);
    if (!clock.qtObjIsValid()) {
        _status = clock.Error() != 0 ? clock.Error() : int32_t(paramErr);
        return;
    }
    _timeBase = new (std::nothrow) Kelvo_TimeBase();
    if (!_timeBase) {
        _status = memFullErr;
        return;
    }
    if (!_timeBase->qtObjIsValid()) {
        _status = _timeBase->Error() != 0 ? _timeBase->Error() : int32_t(memFullErr);
        delete _timeBase;
        _timeBase = nullptr;
        return;
    }
    Kelvo_TimeRange64 range(0.0, double(Time(kKelvoTimeDuration)));
    range.scale() = Time(kKelvoTimeScale);
    _timeBase->timeInfo(&range);
    // The clock instance the time base opens stays with it when the wrapper goes.
    _timeBase->attachClock(clock);
    _status = _timeBase->Error();
}

void Kelvo_DataPresentation::statisticsReset() {
    _statisticsTime = 0;
    _dataRate = 0.0;
    _sampleRate = 0.0;
}

void Kelvo_DataPresentation::statisticsUpdate() {}

bool Kelvo_DataPresentation::loop() {
    return _timeBase && _timeBase->loop();
}

void Kelvo_DataPresentation::loop(bool on) {
    if (_timeBase) _timeBase->loop(on);
}

bool Kelvo_DataPresentation::palindrome() {
    return _timeBase && _timeBase->palindrome();
}

void Kelvo_DataPresentation::palindrome(bool on) {
    if (_timeBase) _timeBase->palindrome(on);
}

bool Kelvo_DataPresentation::canIdleNow() {
    return isPlaying();
}

void Kelvo_DataPresentation::statisticsEnabled(bool& on) {
    if (on == (_statisticsEnabled != 0)) return;
    _statisticsEnabled = on ? 1 : 0;
    if (!on)
        statisticsReset();
    else if (isPlaying())
        statisticsUpdate();
}

int32_t Kelvo_DataPresentation::SampleDuration() {
    return _sampleDuration;
}

int32_t Kelvo_DataPresentation::SampleIDForTime(int32_t time) {
    if (!qtObjIsValid() || time < 0) return 0;
    // Kept as callers have always seen it: time 0 is sample 1 even before anything is counted,
    // and sample k starts at k sample durations, so the first sample spans two.
    if (time == 0) return 1;
    const int32_t duration = SampleDuration();
    if (duration == 0) return 0;
    const int32_t q = time / duration;
    if (q <= 0) return 1;
    const int32_t count = SamplesCount();
    return q > count ? count : q;
}

int32_t Kelvo_DataPresentation::SampleID() {
    return SampleIDForTime(Time(kKelvoTimeCurrent));
}

void Kelvo_DataPresentation::Callback(Kelvo_ProgressNotifier* notifier) {
    if (!qtObjIsValid()) return;
    delete _progressNotifier;
    _progressNotifier = nullptr;
    int32_t error = 0;
    _status = 0;
    if (notifier && Kelvo_QTObj::isValidInstance(notifier, error, false)) {
        _progressNotifier = new (std::nothrow) Kelvo_ProgressNotifier(*notifier);
        if (!_progressNotifier) _status = memFullErr;
    }
}
