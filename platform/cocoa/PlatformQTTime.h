// QTKit's movie times and time ranges, their arithmetic and their text forms.
//
// A time is a 64-bit count of units of its time scale (units per second). Its text form is
// "D:HH:MM:SS.FF/TS": days, hours, minutes and whole seconds, then FF, the units left over
// below one second (at least two digits; a count of scale units, not a decimal fraction), and
// the scale. 1.5 s at scale 600 is "0:00:00:01.300/600"; a negative time starts with '-'. A
// time whose scale is 0 or less cannot be split into seconds, so its whole value is written as
// the leftover units ("0:00:00:00.600/0"). The indefinite time is "INDEFINITE". A range is its
// time and its duration joined by '~'.
//
// The parse takes what the printer writes and also shorter forms: one to four colon-separated
// fields ending with the seconds ("90/1" and "1:30/1" are both 90 s), with or without the
// leftover units, in any number of digits, surrounded by blanks. A text it cannot read, or one
// whose value does not fit 64 bits, gives the zero time (a range: the zero range).
#pragma once

#include "PlatformCocoaString.h"

#include <cstdint>

enum : int32_t { kQTTimeIsIndefinite = 1 << 0 };

struct QTTime {
    int64_t timeValue;
    int32_t timeScale;
    int32_t flags;
};
static_assert(sizeof(QTTime) == 16);

struct QTTimeRange {
    QTTime time;
    QTTime duration;
};
static_assert(sizeof(QTTimeRange) == 32);

inline constexpr QTTime QTZeroTime{0, 1, 0};
inline constexpr QTTime QTIndefiniteTime{0, 1, kQTTimeIsIndefinite};

inline QTTime QTMakeTime(int64_t timeValue, int32_t timeScale) {
    return QTTime{timeValue, timeScale, 0};
}
inline QTTimeRange QTMakeTimeRange(QTTime time, QTTime duration) {
    return QTTimeRange{time, duration};
}

// The time at another scale, rounded to the nearest unit (halves away from zero) and saturated
// at the 64-bit range. A scale of 0 or less on either side gives 0 units at the new scale; the
// indefinite time stays indefinite.
QTTime QTMakeTimeScaled(QTTime time, int32_t timeScale);
// The sum of two times: at their common scale, or else at the finer of the two scales; the
// indefinite time when either is. Saturates at the 64-bit range.
QTTime QTTimeIncrement(QTTime time, QTTime increment);
// The end of a range: its time plus its duration.
QTTime QTTimeRangeEnd(QTTimeRange range);
// Same value, scale and flags.
bool QTEqualTimes(QTTime a, QTTime b);
bool QTEqualTimeRanges(QTTimeRange a, QTTimeRange b);

// Autoreleased texts.
NSString* QTStringFromTime(QTTime time);
NSString* QTStringFromTimeRange(QTTimeRange range);
// The zero time (range) for a null string or a text the parse cannot read.
QTTime QTTimeFromString(const NSString* text);
QTTimeRange QTTimeRangeFromString(const NSString* text);
