#include "KelvoCoreObjectsTypes.h"

#include "KelvoCoreObjectsUtils.h"

#include "PlatformEndian.h"
#include "PlatformErrors.h"
#include "PlatformGeometry.h"
#include "PlatformMovieControllers.h"
#include "PlatformMovies.h"
#include "PlatformPendingCalls.h"
#include "PlatformTimeBase.h"

#include <cstdio>
#include <cstring>

// ---------------------------------------------------------------------------------------------
// Kelvo_OSType

void Kelvo_OSType::defaultStatus() {
    _value = 0;
    std::memset(_text, 0, sizeof _text);
}

const char* Kelvo_OSType::setOSType(uint32_t value) {
    _value = value;
    std::memcpy(_text, Kelvo_Utils::OSTypeToCString(value), sizeof _text);
    return _text;
}

const char* Kelvo_OSType::stringValue(const char* text) {
    return setOSType(Kelvo_Utils::CStringToOSType(text));
}

uint32_t Kelvo_OSType::nativeToBig() const {
    return platform::swap32(_value);
}

// ---------------------------------------------------------------------------------------------
// Kelvo_UUID

Kelvo_UUID::Kelvo_UUID() {
    QTUUID fresh{};
    _status = QTCreateUUID(&fresh, 0);
    if (_status == noErr) _uuid = fresh;
}

Kelvo_UUID::Kelvo_UUID(const Kelvo_UUID& other)
    : Kelvo_QTObj(other), _uuid(other._uuid), _splitter(other._splitter), _format(other._format) {}

void Kelvo_UUID::copy(Kelvo_QTObj& source) {
    if (&source == this) return;
    if (!source.isA(qtObjName())) {
        _status = kKelvoWrongType;
        return;
    }
    auto& other = static_cast<Kelvo_UUID&>(source);
    _uuid = other._uuid;
    _splitter = other._splitter;
    _format = other._format;
}

bool Kelvo_UUID::isEqual(const Kelvo_UUID& o) const {
    return QTEqualUUIDs(&_uuid, &o._uuid);
}

void Kelvo_UUID::formatType(int format) {
    if (format >= 0 && format <= 2) _format = format;
}

const char* Kelvo_UUID::stringValue() {
    std::memset(_text, 0, sizeof _text);
    // The last two numbers are the halves of part 4, each read as a little-endian 32-bit value.
    unsigned long first = platform::loadLE32(_uuid.data4);
    unsigned long second = platform::loadLE32(_uuid.data4 + 4);
    unsigned long p1 = _uuid.data1;
    unsigned p2 = _uuid.data2, p3 = _uuid.data3;
    char c = _splitter;
    if (c) {
        if (_format == 2)
            std::snprintf(_text, sizeof _text, "%04lX%c%02X%c%02X%c%04lX%c%04lX", p1, c, p2, c, p3, c, first,
                          c, second);
        else
            std::snprintf(_text, sizeof _text, "%lu%c%u%c%u%c%lu%c%lu", p1, c, p2, c, p3, c, first, c,
                          second);
    } else {
        if (_format == 2)
            std::snprintf(_text, sizeof _text, "%04lX%02X%02X%04lX%04lX", p1, p2, p3, first, second);
        else
            std::snprintf(_text, sizeof _text, "%lu%u%u%lu%lu", p1, p2, p3, first, second);
    }
    return _text;
}

// ---------------------------------------------------------------------------------------------
// Play selection of a movie controller, shared by both time ranges.

namespace {

int64_t timeValue(const TimeRecord& tr) {
    return Kelvo_Utils::ConvertWideToSInt64(tr.value);
}

// 0 or 1 counts as success; anything else ends the query with that result as a 16-bit error.
int32_t queryPlaySelection(MovieController mc, int64_t& start, int64_t& duration) {
    start = duration = 0;
    if (!mc) return paramErr;
    if (!MCIsEditingEnabled(mc)) return 0;
    TimeRecord tr{};
    ComponentResult r = MCDoAction(mc, mcActionGetSelectionBegin, &tr);
    if (r != 0 && r != 1) return int16_t(r);
    int64_t begin = timeValue(tr);
    tr = TimeRecord{};
    r = MCDoAction(mc, mcActionGetSelectionDuration, &tr);
    if (r != 0 && r != 1) return int16_t(r);
    start = begin;
    duration = timeValue(tr);
    return 0;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Kelvo_TimeRange

Kelvo_TimeRange::Kelvo_TimeRange(Movie movie) {
    if (!movie) {
        _status = invalidMovie;
        return;
    }
    _duration = GetMovieDuration(movie);
}

Kelvo_QTObj* Kelvo_TimeRange::clone() {
    if (!qtObjIsValid()) return nullptr;
    return new Kelvo_TimeRange(*this);
}

void Kelvo_TimeRange::setWithMovieController(MovieController mc) {
    int64_t start = 0, duration = 0;
    _status = queryPlaySelection(mc, start, duration);
    if (_status != 0) {
        defaultStatus();
        return;
    }
    // Movie times of the controller's 64-bit records, kept to this range's 32 bits.
    _start = int32_t(start);
    _duration = int32_t(duration);
}

bool Kelvo_TimeRange::operator==(const Kelvo_TimeRange& o) const {
    if (&o == this) return true;
    if (!o.qtObjIsValid()) return false;
    return _start == o._start && _duration == o._duration;
}

bool Kelvo_TimeRange::operator!=(const Kelvo_TimeRange& o) const {
    if (&o == this) return false;
    if (!o.qtObjIsValid()) return true;
    return _start != o._start || _duration != o._duration;
}

// ---------------------------------------------------------------------------------------------
// Kelvo_TimeRange64

Kelvo_TimeRange64& Kelvo_TimeRange64::operator=(const Kelvo_TimeRange64& other) {
    if (&other == this) return *this;
    _scale = other._scale;
    _start = other._start;
    _duration = other._duration;
    return *this;
}

Kelvo_TimeRange64& Kelvo_TimeRange64::operator=(const Kelvo_TimeRange& range) {
    defaultStatus();
    _start = range.start();
    _duration = range.duration();
    return *this;
}

Kelvo_TimeRange64& Kelvo_TimeRange64::operator=(MovieController mc) {
    defaultStatus();
    _fromMovieController(mc);
    return *this;
}

void Kelvo_TimeRange64::defaultStatus() {
    _scale = 0;
    _start = _duration = 0.0;
}

Kelvo_QTObj* Kelvo_TimeRange64::clone() {
    if (!qtObjIsValid()) return nullptr;
    return new Kelvo_TimeRange64(*this);
}

void Kelvo_TimeRange64::_fromMovieController(MovieController mc) {
    int64_t start = 0, duration = 0;
    _status = queryPlaySelection(mc, start, duration);
    _start = double(start);
    _duration = double(duration);
    if (_status == 0 && mc) {
        TimeScale scale = 0;
        MCGetCurrentTime(mc, &scale);
        _scale = scale;
    }
}

double Kelvo_TimeRange64::startInSeconds() const {
    if (_scale < 1 || !(_start > 0)) return 0.0;
    return _start / _scale;
}

double Kelvo_TimeRange64::durationInSeconds() const {
    if (_scale < 1 || !(_duration > 0)) return 0.0;
    return _duration / _scale;
}

double Kelvo_TimeRange64::endInSeconds() const {
    if (_scale < 1 || !qtObjIsValid()) return 0.0;
    return (_start + _duration) / _scale;
}

Kelvo_TimeRange64::operator Kelvo_TimeRange() const {
    Kelvo_TimeRange r;
    toTimeRange(r);
    return r;
}

void Kelvo_TimeRange64::toTimeRange(Kelvo_TimeRange& range) const {
    range(platform::truncToInt32(_start), platform::truncToInt32(_duration));
}

bool Kelvo_TimeRange64::operator==(const Kelvo_TimeRange64& o) const {
    if (&o == this) return true;
    if (!o.qtObjIsValid()) return false;
    double s1 = _start, d1 = _duration, s2 = o._start, d2 = o._duration;
    if (_scale > 0) {
        s1 /= _scale;
        d1 /= _scale;
    }
    if (o._scale != 0) {
        s2 /= o._scale;
        d2 /= o._scale;
    }
    return s1 == s2 && d1 == d2;
}
