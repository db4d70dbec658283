// The Cocoa build's conversions of the four-character code and the time range.
#include "KelvoCoreObjectsTypes.h"
#include "PlatformCocoa.h"

#include <cmath>

namespace {

// NaN gives 0; values beyond the range give its nearest limit.
int64_t truncToInt64(double v) {
    if (std::isnan(v)) return 0;
    if (v >= 9223372036854775808.0) return INT64_MAX;
    if (v < -9223372036854775808.0) return INT64_MIN;
    return int64_t(v);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Kelvo_OSType

Kelvo_OSType& Kelvo_OSType::operator=(NSString* text) {
    if (text) setOSType(UTGetOSTypeFromString(text->cfString()));
    return *this;
}

Kelvo_OSType::operator NSString*() const {
    CFStringRef cf = UTCreateStringForOSType(_value);
    NSString* text = NSString::stringWithCFString(cf);
    if (cf) CFRelease(cf);
    return text;
}

// ---------------------------------------------------------------------------------------------
// Kelvo_TimeRange64

Kelvo_TimeRange64::Kelvo_TimeRange64(const QTTimeRange& range) {
    *this = range;
}

Kelvo_TimeRange64::Kelvo_TimeRange64(NSString* text) {
    *this = text;
}

Kelvo_TimeRange64& Kelvo_TimeRange64::operator=(const QTTimeRange& range) {
    _scale = range.time.timeScale;
    _start = double(range.time.timeValue);
    _duration = double(range.duration.timeValue);
    // A duration counted in another scale is brought to the range's scale, so that start and
    // duration are in the same units.
    int32_t durationScale = range.duration.timeScale;
    if (durationScale != _scale && durationScale > 0 && _scale > 0)
        _duration = _duration * _scale / durationScale;
    return *this;
}

Kelvo_TimeRange64& Kelvo_TimeRange64::operator=(NSString* text) {
    if (text) *this = QTTimeRangeFromString(text);
    return *this;
}

Kelvo_TimeRange64::operator QTTimeRange() const {
    QTTimeRange range;
    toQTTimeRange(range);
    return range;
}

void Kelvo_TimeRange64::toQTTimeRange(QTTimeRange& range) const {
    range.time = startInQTTime();
    range.duration = durationInQTTime();
}

QTTime Kelvo_TimeRange64::startInQTTime() const {
    return _scale > 0 ? QTMakeTime(truncToInt64(_start), _scale) : QTZeroTime;
}

QTTime Kelvo_TimeRange64::durationInQTTime() const {
    return _scale > 0 ? QTMakeTime(truncToInt64(_duration), _scale) : QTZeroTime;
}

QTTime Kelvo_TimeRange64::endInQTTime() const {
    return QTTimeRangeEnd(QTTimeRange(*this));
}

Kelvo_TimeRange64::operator NSString*() const {
    return QTStringFromTimeRange(QTTimeRange(*this));
}
