#include "PlatformQTTime.h"

#include <cinttypes>
#include <cstdio>
#include <string>
#include <string_view>

namespace {

using Wide = __int128;

int64_t saturate(Wide v) {
    if (v > Wide(INT64_MAX)) return INT64_MAX;
    if (v < Wide(INT64_MIN)) return INT64_MIN;
    return int64_t(v);
}

bool indefinite(QTTime t) {
    return (t.flags & kQTTimeIsIndefinite) != 0;
}

std::string timeText(QTTime t) {
    if (indefinite(t)) return "INDEFINITE";
    const char* sign = t.timeValue < 0 ? "-" : "";
    // The magnitude of INT64_MIN does not fit int64_t.
    uint64_t magnitude = t.timeValue < 0 ? uint64_t(0) - uint64_t(t.timeValue) : uint64_t(t.timeValue);
    uint64_t seconds = 0, units = magnitude;
    if (t.timeScale > 0) {
        seconds = magnitude / uint64_t(t.timeScale);
        units = magnitude % uint64_t(t.timeScale);
    }
    char buf[96];
    std::snprintf(buf, sizeof buf, "%s%" PRIu64 ":%02u:%02u:%02u.%02" PRIu64 "/%" PRId32, sign,
                  seconds / 86400, unsigned(seconds / 3600 % 24), unsigned(seconds / 60 % 60),
                  unsigned(seconds % 60), units, t.timeScale);
    return buf;
}

std::string_view trimmed(std::string_view s) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

// A run of decimal digits at the front of `s`, consumed; false for none or a value beyond
// 64 bits.
bool takeNumber(std::string_view& s, Wide& out) {
    size_t n = 0;
    out = 0;
    while (n < s.size() && s[n] >= '0' && s[n] <= '9') {
        out = out * 10 + (s[n] - '0');
        if (out > Wide(UINT64_MAX)) return false;
        ++n;
    }
    s.remove_prefix(n);
    return n > 0;
}

bool parseTime(std::string_view s, QTTime& out) {
    s = trimmed(s);
    if (s == "INDEFINITE") {
        out = QTIndefiniteTime;
        return true;
    }
    bool negative = !s.empty() && s.front() == '-';
    if (negative) s.remove_prefix(1);

    // One to four fields, the last being the seconds.
    Wide fields[4];
    int count = 0;
    for (;;) {
        if (count == 4 || !takeNumber(s, fields[count])) return false;
        ++count;
        if (s.empty() || s.front() != ':') break;
        s.remove_prefix(1);
    }
    static constexpr Wide kUnit[4] = {1, 60, 3600, 86400};
    Wide seconds = 0;
    for (int i = 0; i < count; ++i)
        seconds += fields[i] * kUnit[count - 1 - i];

    Wide units = 0;
    if (!s.empty() && s.front() == '.') {
        s.remove_prefix(1);
        if (!takeNumber(s, units)) return false;
    }
    if (s.empty() || s.front() != '/') return false;
    s.remove_prefix(1);
    bool negativeScale = !s.empty() && s.front() == '-';
    if (negativeScale) s.remove_prefix(1);
    Wide scale = 0;
    if (!takeNumber(s, scale) || !s.empty()) return false;
    if (negativeScale) scale = -scale;
    if (scale > INT32_MAX || scale < INT32_MIN) return false;

    // Seconds count only with a positive scale (a time of scale 0 is all leftover units).
    Wide value = (scale > 0 ? seconds * scale : 0) + units;
    if (negative) value = -value;
    if (value > Wide(INT64_MAX) || value < Wide(INT64_MIN)) return false;
    out = QTTime{int64_t(value), int32_t(scale), 0};
    return true;
}

} // namespace

QTTime QTMakeTimeScaled(QTTime time, int32_t timeScale) {
    if (indefinite(time)) return QTTime{0, timeScale, time.flags};
    if (time.timeScale == timeScale) return time;
    if (time.timeScale <= 0 || timeScale <= 0) return QTTime{0, timeScale, time.flags};
    Wide scaled = Wide(time.timeValue) * timeScale;
    Wide q = scaled / time.timeScale, r = scaled % time.timeScale;
    // Halves away from zero.
    Wide twice = r < 0 ? -2 * r : 2 * r;
    if (twice >= time.timeScale) q += scaled < 0 ? -1 : 1;
    return QTTime{saturate(q), timeScale, time.flags};
}

QTTime QTTimeIncrement(QTTime time, QTTime increment) {
    if (indefinite(time) || indefinite(increment)) return QTIndefiniteTime;
    int32_t scale = time.timeScale >= increment.timeScale ? time.timeScale : increment.timeScale;
    QTTime a = QTMakeTimeScaled(time, scale), b = QTMakeTimeScaled(increment, scale);
    return QTTime{saturate(Wide(a.timeValue) + b.timeValue), scale, 0};
}

QTTime QTTimeRangeEnd(QTTimeRange range) {
    return QTTimeIncrement(range.time, range.duration);
}

bool QTEqualTimes(QTTime a, QTTime b) {
    return a.timeValue == b.timeValue && a.timeScale == b.timeScale && a.flags == b.flags;
}

bool QTEqualTimeRanges(QTTimeRange a, QTTimeRange b) {
    return QTEqualTimes(a.time, b.time) && QTEqualTimes(a.duration, b.duration);
}

NSString* QTStringFromTime(QTTime time) {
    return NSString::stringWithUTF8String(timeText(time).c_str());
}

NSString* QTStringFromTimeRange(QTTimeRange range) {
    return NSString::stringWithUTF8String((timeText(range.time) + "~" + timeText(range.duration)).c_str());
}

QTTime QTTimeFromString(const NSString* text) {
    QTTime t;
    if (!text || !parseTime(text->UTF8String(), t)) return QTZeroTime;
    return t;
}

QTTimeRange QTTimeRangeFromString(const NSString* text) {
    const QTTimeRange zero{QTZeroTime, QTZeroTime};
    if (!text) return zero;
    std::string_view s = text->UTF8String();
    size_t tilde = s.find('~');
    QTTimeRange r;
    if (tilde == std::string_view::npos || !parseTime(s.substr(0, tilde), r.time) ||
        !parseTime(s.substr(tilde + 1), r.duration))
        return zero;
    return r;
}
