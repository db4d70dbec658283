#include "KelvoDicomDataStringsDates.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>
#include <string>

// A date-time in its DICOM form, as read.
struct KelvoDicomDateTimeFields {
    uint32_t year = 0, month = 0, day = 0, hours = 0, minutes = 0, seconds = 0, microseconds = 0;
    int parts = 0;          // components given: 1 the year ... 6 the seconds
    int fractionDigits = 0; // digits of the fraction given, 0 without one
    bool offset = false;
    bool negative = false;
    uint32_t offsetHours = 0, offsetMinutes = 0;
};

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads a field as the C library's "%0Nlu" does, without its sign and its overflow: white space
// is skipped, then up to `width` digits are taken. False (and `p` unmoved) when no digit follows.
bool readNumber(const char*& p, int width, uint32_t& out) {
    const char* q = p;
    while (isSpace(*q))
        ++q;
    uint32_t value = 0;
    int n = 0;
    while (n < width && *q >= '0' && *q <= '9') {
        value = value * 10 + uint32_t(*q - '0');
        ++q;
        ++n;
    }
    if (n == 0) return false;
    out = value;
    p = q;
    return true;
}

// A separator of the form ("-", ".", ":"), which must follow the number at once.
bool readLiteral(const char*& p, char c) {
    if (*p != c) return false;
    ++p;
    return true;
}

// The fraction of a second after a '.': up to six digits, scaled to microseconds (".25" is
// 250000), further digits ignored. False when no digit follows.
bool readFraction(const char* p, uint32_t& microseconds) {
    uint32_t value = 0;
    int n = 0;
    while (n < 6 && p[n] >= '0' && p[n] <= '9') {
        value = value * 10 + uint32_t(p[n] - '0');
        ++n;
    }
    if (n == 0) return false;
    for (int i = n; i < 6; ++i)
        value *= 10;
    microseconds = value;
    return true;
}

uint32_t daysInMonth(uint32_t month, uint32_t year) {
    switch (month) {
    case 4:
    case 6:
    case 9:
    case 11:
        return 30;
    case 2:
        return ((year % 4 == 0 && year % 100 != 0) || year % 400 == 0) ? 29 : 28;
    default:
        return 31;
    }
}

bool isBlank(const char* text) {
    for (; *text; ++text)
        if (!isSpace(*text)) return false;
    return true;
}

// The fields as the formatters see them: never wider than their places in the text.
unsigned two(uint32_t value) {
    return unsigned(value % 100);
}
unsigned four(uint32_t value) {
    return unsigned(value % 10000);
}
unsigned six(uint32_t value) {
    return unsigned(value % 1000000);
}

bool isCalendarDate(uint32_t year, uint32_t month, uint32_t day) {
    return year >= 1 && year <= KelvoDicomDataDate::kMaxYear && month >= 1 && month <= 12 && day >= 1 &&
           day <= daysInMonth(month, year);
}

uint32_t digitsValue(const char* p, int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i)
        v = v * 10 + uint32_t(p[i] - '0');
    return v;
}

// "YYYY[MM[DD[HH[MM[SS[.F{1-6}]]]]]][&ZZXX]", spaces around it allowed. False for any other text
// and for a field out of its range (the offset from -1200 to +1400).
bool readDicomDateTime(const char* text, KelvoDicomDateTimeFields& f) {
    f = KelvoDicomDateTimeFields();
    while (isSpace(*text))
        ++text;
    const char* p = text;
    int n = 0;
    while (p[n] >= '0' && p[n] <= '9')
        ++n;
    if (n < 4 || n > 14 || n % 2) return false;
    f.parts = 1 + (n - 4) / 2;
    // The year's four digits, then two for each component after it.
    uint32_t* fields[6] = {&f.year, &f.month, &f.day, &f.hours, &f.minutes, &f.seconds};
    f.year = digitsValue(p, 4);
    for (int i = 1; i < f.parts; ++i)
        *fields[i] = digitsValue(p + 4 + 2 * (i - 1), 2);
    p += n;
    if (*p == '.') {
        if (f.parts != 6) return false;
        ++p;
        while (p[f.fractionDigits] >= '0' && p[f.fractionDigits] <= '9')
            ++f.fractionDigits;
        if (f.fractionDigits < 1 || f.fractionDigits > 6) return false;
        f.microseconds = digitsValue(p, f.fractionDigits);
        for (int i = f.fractionDigits; i < 6; ++i)
            f.microseconds *= 10;
        p += f.fractionDigits;
    }
    if (*p == '+' || *p == '-') {
        f.offset = true;
        f.negative = *p == '-';
        ++p;
        for (int i = 0; i < 4; ++i)
            if (p[i] < '0' || p[i] > '9') return false;
        f.offsetHours = digitsValue(p, 2);
        f.offsetMinutes = digitsValue(p + 2, 2);
        p += 4;
    }
    while (isSpace(*p))
        ++p;
    if (*p) return false;
    if (f.year < 1) return false;
    if (f.parts >= 2 && (f.month < 1 || f.month > 12)) return false;
    if (f.parts >= 3 && (f.day < 1 || f.day > daysInMonth(f.month, f.year))) return false;
    if (f.hours > 23 || f.minutes > 59 || f.seconds > 60) return false;
    const uint32_t zone = f.offsetHours * 60 + f.offsetMinutes;
    if (f.offsetMinutes > 59 || zone > (f.negative ? 12u * 60 : 14u * 60)) return false;
    return true;
}

// A time "HH:MM:SS[.F{1-6}]" or "HH[MM[SS[.F{1-6}]]]", spaces around it allowed, every field in
// range; false for anything else. Fields the text does not give are 0.
bool readTimeText(const char* text, uint32_t& hours, uint32_t& minutes, uint32_t& seconds,
                  uint32_t& microseconds) {
    hours = minutes = seconds = microseconds = 0;
    while (isSpace(*text))
        ++text;
    const char* p = text;
    const bool colons = std::strchr(text, ':') != nullptr;
    uint32_t* fields[3] = {&hours, &minutes, &seconds};
    int parts = 0;
    for (; parts < 3; ++parts) {
        if (parts > 0 && colons && !readLiteral(p, ':')) break;
        if (!(p[0] >= '0' && p[0] <= '9' && p[1] >= '0' && p[1] <= '9')) break;
        *fields[parts] = digitsValue(p, 2);
        p += 2;
    }
    if (parts == 0 || (colons && parts != 3)) return false;
    if (*p == '.') {
        if (parts != 3) return false;
        ++p;
        int n = 0;
        while (p[n] >= '0' && p[n] <= '9')
            ++n;
        if (n < 1 || n > 6) return false;
        microseconds = digitsValue(p, n);
        for (int i = n; i < 6; ++i)
            microseconds *= 10;
        p += n;
    }
    while (isSpace(*p))
        ++p;
    return *p == 0 && hours < 24 && minutes < 60 && seconds < 61;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// DA

KelvoDicomDataDate::KelvoDicomDataDate(const char* text) {
    parse(text);
}

KelvoDicomDataDate::KelvoDicomDataDate(uint32_t year, uint32_t month, uint32_t day) {
    // A date of the calendar, or none: a day the month does not have is refused, not dropped.
    if (year == 0 && month == 0 && day == 0) return;
    if (!isCalendarDate(year, month, day)) {
        _status = -50;
        return;
    }
    _year = year;
    _month = month;
    _day = day;
}

KelvoDicomDataDate::KelvoDicomDataDate(const KelvoDicomDataDate& other)
    : KelvoDicomDataElementValueString(other), _year(other._year), _month(other._month), _day(other._day) {}

// Each setter keeps the date one of the calendar as far as it is set: a value that would make the
// day held impossible is refused (-50) and the date stays as it was.
void KelvoDicomDataDate::setYear(uint32_t value) {
    if (value > kMaxYear || (_day != 0 && _day > daysInMonth(_month, value))) {
        _status = -50;
        return;
    }
    _year = value;
    _status = 0;
}

void KelvoDicomDataDate::setMonth(uint32_t value) {
    if (value < 1 || value > 12 || (_day != 0 && _day > daysInMonth(value, _year))) {
        _status = -50;
        return;
    }
    _month = value;
    _status = 0;
}

void KelvoDicomDataDate::setDay(uint32_t value) {
    if (value < 1 || value > daysInMonth(_month, _year)) {
        _status = -50;
        return;
    }
    _day = value;
    _status = 0;
}

void KelvoDicomDataDate::defaultStatus() {
    KelvoDicomDataElementValueString::defaultStatus();
    _text[0] = 0;
    _sqlText[0] = 0;
    // An empty date stays empty: it is never filled in with today.
    _year = _month = _day = 0;
}

bool KelvoDicomDataDate::readDate(const char* text, uint32_t& year, uint32_t& month, uint32_t& day) {
    while (isSpace(*text))
        ++text;
    // The separator of the date itself, not of a time after it ("2024-03-07 10:15:30.5").
    const std::string date(text, std::strcspn(text, " \t\n\v\f\r"));
    const char separator = date.find('-') != std::string::npos   ? '-'
                           : date.find('.') != std::string::npos ? '.'
                                                                 : 0;
    const char* p = text;
    year = month = day = 0;
    if (!separator) {
        // Without separators the fields are known by their places alone: all eight digits.
        for (int i = 0; i < 8; ++i)
            if (p[i] < '0' || p[i] > '9') return false;
    }
    if (!readNumber(p, 4, year)) return false;
    if (separator && !readLiteral(p, separator)) return false;
    if (!readNumber(p, 2, month)) return false;
    if (separator && !readLiteral(p, separator)) return false;
    if (!readNumber(p, 2, day)) return false;
    // Nothing but blanks after the day, or a space and what follows it (the time of a date-time).
    if (*p && !isSpace(*p)) return false;
    return isCalendarDate(year, month, day);
}

void KelvoDicomDataDate::parse(const char* text) {
    _text[0] = 0;
    _sqlText[0] = 0;
    if (!text) return;
    if (isBlank(text)) {
        // The empty value.
        _year = _month = _day = 0;
        _status = 0;
        return;
    }
    // All three or nothing: a text that does not read as a date of the calendar (29 February of
    // a year that has none, a month 13) is refused and the date keeps its value.
    uint32_t year = 0, month = 0, day = 0;
    if (!readDate(text, year, month, day)) {
        _status = -50;
        return;
    }
    _year = year;
    _month = month;
    _day = day;
    _status = 0;
}

bool KelvoDicomDataDate::_initWithStringData(const char* text) {
    std::string kept = text ? text : "";
    parse(text ? kept.c_str() : nullptr);
    return true;
}

const char* KelvoDicomDataDate::stringValue() {
    if (isEmpty())
        _text[0] = 0;
    else
        std::snprintf(_text, sizeof _text, "%04u%02u%02u", four(_year), two(_month), two(_day));
    return _text;
}

const char* KelvoDicomDataDate::sqlDate() {
    if (qtObjIsValid())
        std::snprintf(_sqlText, sizeof _sqlText, "%04u-%02u-%02u", four(_year), two(_month), two(_day));
    else
        _sqlText[0] = 0;
    return _sqlText;
}

void KelvoDicomDataDate::_initWithOther(const KelvoDicomDataElementValueString& other) {
    if (&other == this) return;
    if (!other.isA(qtObjName())) {
        takeOverByText(other);
        return;
    }
    const auto& date = static_cast<const KelvoDicomDataDate&>(other);
    _text[0] = 0;
    _sqlText[0] = 0;
    _year = date._year;
    _month = date._month;
    _day = date._day;
    _copyList(other);
}

// ---------------------------------------------------------------------------------------------
// TM

KelvoDicomDataTime::KelvoDicomDataTime(const char* text) {
    parse(text);
}

KelvoDicomDataTime::KelvoDicomDataTime(uint32_t hours, uint32_t minutes, uint32_t seconds) {
    setHours(hours);
    setMinutes(minutes);
    setSeconds(seconds);
}

KelvoDicomDataTime::KelvoDicomDataTime(const KelvoDicomDataTime& other)
    : KelvoDicomDataElementValueString(other), _hours(other._hours), _minutes(other._minutes),
      _seconds(other._seconds), _microseconds(other._microseconds), _empty(other._empty) {}

void KelvoDicomDataTime::setHours(uint32_t value) {
    if (value >= 24) return;
    _hours = value;
    _empty = false;
}

void KelvoDicomDataTime::setMinutes(uint32_t value) {
    if (value >= 60) return;
    _minutes = value;
    _empty = false;
}

void KelvoDicomDataTime::setSeconds(uint32_t value) {
    if (value >= 61) return;
    _seconds = value;
    _empty = false;
}

void KelvoDicomDataTime::setMicroseconds(uint32_t value) {
    if (value > 999999) return;
    _microseconds = value;
    _empty = false;
}

void KelvoDicomDataTime::clearFields() {
    _text[0] = 0;
    _sqlText[0] = 0;
    _hours = _minutes = _seconds = _microseconds = 0;
    _empty = true;
}

void KelvoDicomDataTime::defaultStatus() {
    KelvoDicomDataElementValueString::defaultStatus();
    clearFields();
}

void KelvoDicomDataTime::parse(const char* text) {
    _text[0] = 0;
    _sqlText[0] = 0;
    if (!text) return;
    const char* dot = std::strchr(text, '.');
    const char* p = text;
    if (std::strchr(text, ':')) {
        // "HH:MM:SS[.FFFFFF]": stored only when all three are read, each when in range; the
        // fields the text does not replace keep their values.
        uint32_t h = 0, m = 0, s = 0, f = 0;
        if (!readNumber(p, 2, h) || !readLiteral(p, ':') || !readNumber(p, 2, m) || !readLiteral(p, ':') ||
            !readNumber(p, 2, s))
            return;
        setHours(h);
        setMinutes(m);
        setSeconds(s);
        if (dot && readFraction(dot + 1, f)) setMicroseconds(f);
        return;
    }
    // "HH[MM[SS[.FFFFFF]]]": the fields read are taken as read, the others are 0.
    _hours = _minutes = _seconds = _microseconds = 0;
    _empty = true;
    uint32_t* fields[3] = {&_hours, &_minutes, &_seconds};
    for (int i = 0; i < 3; ++i) {
        if (!readNumber(p, 2, *fields[i])) return;
        _empty = false;
    }
    if (dot && *p == '.') readFraction(p + 1, _microseconds);
}

bool KelvoDicomDataTime::_initWithStringData(const char* text) {
    std::string kept = text ? text : "";
    if (text && !std::strchr(text, ':')) defaultStatus();
    parse(text ? kept.c_str() : nullptr);
    return true;
}

const char* KelvoDicomDataTime::stringValue() {
    if (_empty)
        _text[0] = 0;
    else if (_microseconds != 0)
        std::snprintf(_text, sizeof _text, "%02u%02u%02u.%06u", two(_hours), two(_minutes), two(_seconds),
                      six(_microseconds));
    else
        std::snprintf(_text, sizeof _text, "%02u%02u%02u", two(_hours), two(_minutes), two(_seconds));
    return _text;
}

const char* KelvoDicomDataTime::sqlTime() {
    std::snprintf(_sqlText, sizeof _sqlText, "%02u:%02u:%02u", two(_hours), two(_minutes), two(_seconds));
    return _sqlText;
}

void KelvoDicomDataTime::useCurrentTime() {
    defaultStatus();
    std::time_t now = std::time(nullptr);
    std::tm local{};
    if (!localtime_r(&now, &local)) return;
    setHours(uint32_t(local.tm_hour));
    setMinutes(uint32_t(local.tm_min));
    setSeconds(uint32_t(local.tm_sec));
}

void KelvoDicomDataTime::_initWithOther(const KelvoDicomDataElementValueString& other) {
    if (&other == this) return;
    if (!other.isA(qtObjName())) {
        takeOverByText(other);
        return;
    }
    const auto& time = static_cast<const KelvoDicomDataTime&>(other);
    _text[0] = 0;
    _sqlText[0] = 0;
    _hours = time._hours;
    _minutes = time._minutes;
    _seconds = time._seconds;
    _microseconds = time._microseconds;
    _empty = time._empty;
    _copyList(other);
}

// ---------------------------------------------------------------------------------------------
// DT

KelvoDicomDataDateTime::KelvoDicomDataDateTime(const char* text) {
    parseText(text);
}

KelvoDicomDataDateTime::KelvoDicomDataDateTime(const KelvoDicomDataDateTime& other)
    : KelvoDicomDataElementValueString(other), _date(other._date), _time(other._time),
      _offsetHours(other._offsetHours), _offsetMinutes(other._offsetMinutes), _offsetRead(other._offsetRead),
      _offsetNegative(other._offsetNegative), _timeParts(other._timeParts),
      _fractionDigits(other._fractionDigits) {}

void KelvoDicomDataDateTime::clearAll() {
    _text[0] = 0;
    _sqlText[0] = 0;
    _date.defaultStatus();
    _time.defaultStatus();
    _offsetHours = 0;
    _offsetMinutes = 0;
    _offsetRead = false;
    _offsetNegative = false;
    _timeParts = 3;
    _fractionDigits = 0;
}

void KelvoDicomDataDateTime::defaultStatus() {
    KelvoDicomDataElementValueString::defaultStatus();
    clearAll();
}

void KelvoDicomDataDateTime::utcOffsetHours(int32_t hours) {
    if (hours < -12 || hours > 14) return;
    _offsetHours = hours;
    _offsetRead = false;
    _offsetNegative = hours < 0;
}

void KelvoDicomDataDateTime::utcOffsetMinutes(uint32_t minutes) {
    if (minutes <= 59) _offsetMinutes = minutes;
}

bool KelvoDicomDataDateTime::_initWithData(KelvoDicomDataNode* node) {
    defaultStatus();
    if (!node) return false;
    Handle bytes = node->Value(0);
    if (!bytes) return true;
    std::string text(*bytes, size_t(GetHandleSize(bytes)));
    DisposeHandle(bytes);
    text.resize(std::strlen(text.c_str()));
    // Each value of the element in turn: the first here, the others as further values. A value
    // that is no date-time stays empty and the value reports it (-50).
    const char separator = multipleValuesSeparator();
    size_t end = text.find(separator);
    bool allRead = parseDicom(text.substr(0, end));
    while (end != std::string::npos && multipleValuesAllowed()) {
        size_t start = end + 1;
        end = text.find(separator, start);
        auto* further = new (std::nothrow) KelvoDicomDataDateTime();
        if (!further) break;
        if (!further->parseDicom(
                text.substr(start, end == std::string::npos ? std::string::npos : end - start)))
            allRead = false;
        if (!_appendValueByRef(further)) delete further;
    }
    if (!allRead) _status = -50;
    return true;
}

bool KelvoDicomDataDateTime::parseDicom(const std::string& text) {
    if (isBlank(text.c_str())) return true; // an empty date-time stays empty
    KelvoDicomDateTimeFields f;
    if (!readDicomDateTime(text.c_str(), f)) return false;
    takeFields(f);
    return true;
}

void KelvoDicomDataDateTime::takeFields(const KelvoDicomDateTimeFields& f) {
    clearAll();
    // Only the components given: a date-time of the year alone stays one ("2024"), never a
    // full date of zeros.
    _date._year = f.year;
    _date._month = f.parts >= 2 ? f.month : 0;
    _date._day = f.parts >= 3 ? f.day : 0;
    if (f.parts >= 4) {
        _time._hours = f.hours;
        _time._minutes = f.minutes;
        _time._seconds = f.seconds;
        _time._microseconds = f.microseconds;
        _time._empty = false;
        _timeParts = uint8_t(f.parts - 3);
        _fractionDigits = uint8_t(f.fractionDigits);
    }
    if (f.offset) {
        _offsetHours = f.negative ? -int32_t(f.offsetHours) : int32_t(f.offsetHours);
        _offsetMinutes = f.offsetMinutes;
        _offsetRead = true;
        _offsetNegative = f.negative;
    }
}

void KelvoDicomDataDateTime::parseText(const char* text) {
    _text[0] = 0;
    _sqlText[0] = 0;
    if (!text) return;
    if (isBlank(text)) {
        clearAll();
        _status = 0;
        return;
    }
    KelvoDicomDateTimeFields f;
    const bool dicom = readDicomDateTime(text, f);
    // A plain date, in either form, replaces the date alone: the time and the offset stay.
    if (dicom && (f.parts != 3 || f.offset)) {
        takeFields(f);
        _status = 0;
        return;
    }
    // The SQL-like form: "YYYY-MM-DD" (or "YYYY.MM.DD", or "YYYYMMDD"), and a time after a space.
    // Both parts must read and be in range, or nothing changes.
    uint32_t year = 0, month = 0, day = 0;
    if (!KelvoDicomDataDate::readDate(text, year, month, day)) {
        _status = -50;
        return;
    }
    while (isSpace(*text))
        ++text;
    const char* space = std::strchr(text, ' ');
    uint32_t hours = 0, minutes = 0, seconds = 0, microseconds = 0;
    const bool withTime = space && !isBlank(space);
    if (withTime && !readTimeText(space + 1, hours, minutes, seconds, microseconds)) {
        _status = -50;
        return;
    }
    _date._year = year;
    _date._month = month;
    _date._day = day;
    if (withTime) {
        _time.clearFields();
        _time._hours = hours;
        _time._minutes = minutes;
        _time._seconds = seconds;
        _time._microseconds = microseconds;
        _time._empty = false;
        _timeParts = 3;
        _fractionDigits = 0;
    }
    _status = 0;
}

bool KelvoDicomDataDateTime::_initWithStringData(const char* text) {
    std::string kept = text ? text : "";
    parseText(text ? kept.c_str() : nullptr);
    return true;
}

const char* KelvoDicomDataDateTime::stringValue() {
    const bool offset = _offsetHours != 0 || _offsetRead;
    if (_date.isEmpty() && _time.isEmpty() && !offset) {
        _text[0] = 0;
        return _text;
    }
    char part[32];
    std::string out;
    // Without a time the date keeps its own precision; a time needs the whole date before it.
    std::snprintf(part, sizeof part, "%04u", four(_date.year()));
    out = part;
    const bool wholeDate = !_time.isEmpty();
    if (wholeDate || _date.month() != 0 || _date.day() != 0) {
        std::snprintf(part, sizeof part, "%02u", two(_date.month()));
        out += part;
    }
    if (wholeDate || _date.day() != 0) {
        std::snprintf(part, sizeof part, "%02u", two(_date.day()));
        out += part;
    }
    if (!_time.isEmpty()) {
        // As many components as were given, and more when what they hold needs them.
        const uint32_t micro = _time.microseconds();
        const bool fraction = micro != 0 || _fractionDigits > 0;
        const bool secondsNeeded = _timeParts >= 3 || _time.seconds() != 0 || fraction;
        const bool minutesNeeded = secondsNeeded || _timeParts >= 2 || _time.minutes() != 0;
        std::snprintf(part, sizeof part, "%02u", two(_time.hours()));
        out += part;
        if (minutesNeeded) {
            std::snprintf(part, sizeof part, "%02u", two(_time.minutes()));
            out += part;
        }
        if (secondsNeeded) {
            std::snprintf(part, sizeof part, "%02u", two(_time.seconds()));
            out += part;
        }
        if (fraction) {
            // The digits of the fraction given, unless the value now needs more of them.
            int digits = _fractionDigits > 0 ? _fractionDigits : 6;
            uint32_t scale = 1;
            for (int i = digits; i < 6; ++i)
                scale *= 10;
            while (digits < 6 && micro % scale != 0) {
                ++digits;
                scale /= 10;
            }
            std::snprintf(part, sizeof part, "%06u", unsigned(six(micro) / scale));
            out += '.';
            out.append(part + 6 - digits, size_t(digits));
        }
    }
    if (offset) {
        const bool negative = _offsetHours < 0 || (_offsetHours == 0 && _offsetNegative);
        const uint32_t hours = uint32_t(_offsetHours < 0 ? -int64_t(_offsetHours) : int64_t(_offsetHours));
        std::snprintf(part, sizeof part, "%c%02u%02u", negative ? '-' : '+', two(hours), two(_offsetMinutes));
        out += part;
    }
    std::snprintf(_text, sizeof _text, "%s", out.c_str());
    return _text;
}

const char* KelvoDicomDataDateTime::sqlDateTime() {
    std::snprintf(_sqlText, sizeof _sqlText, "%s %s", _date.sqlDate(), _time.sqlTime());
    return _sqlText;
}

void KelvoDicomDataDateTime::takeOver(const KelvoDicomDataDateTime& other) {
    _text[0] = 0;
    _sqlText[0] = 0;
    _date._year = other._date._year;
    _date._month = other._date._month;
    _date._day = other._date._day;
    _time._hours = other._time._hours;
    _time._minutes = other._time._minutes;
    _time._seconds = other._time._seconds;
    _time._microseconds = other._time._microseconds;
    _time._empty = other._time._empty;
    _offsetHours = other._offsetHours;
    _offsetMinutes = other._offsetMinutes;
    _offsetRead = other._offsetRead;
    _offsetNegative = other._offsetNegative;
    _timeParts = other._timeParts;
    _fractionDigits = other._fractionDigits;
}

void KelvoDicomDataDateTime::_initWithOther(const KelvoDicomDataElementValueString& other) {
    if (&other == this) return;
    if (!other.isA(qtObjName())) {
        takeOverByText(other);
        return;
    }
    takeOver(static_cast<const KelvoDicomDataDateTime&>(other));
    _copyList(other);
}

// ---------------------------------------------------------------------------------------------
// AS

KelvoDicomDataAge::KelvoDicomDataAge(const char* text) {
    parse(text);
}

KelvoDicomDataAge::KelvoDicomDataAge(const KelvoDicomDataAge& other)
    : KelvoDicomDataElementValueString(other) {
    std::memcpy(_counts, other._counts, sizeof _counts);
}

bool KelvoDicomDataAge::qtObjIsValid() {
    return static_cast<const KelvoDicomDataAge*>(this)->qtObjIsValid();
}

bool KelvoDicomDataAge::qtObjIsValid() const {
    for (int32_t count : _counts)
        if (count > 0) return true;
    return false;
}

void KelvoDicomDataAge::defaultStatus() {
    KelvoDicomDataElementValueString::defaultStatus();
    std::memset(_counts, 0, sizeof _counts);
    _text[0] = 0;
}

void KelvoDicomDataAge::setCount(int unit, int32_t n) {
    _status = 0;
    if (n < 1 || n > 999) {
        _status = -50;
        return;
    }
    std::memset(_counts, 0, sizeof _counts);
    _counts[unit] = n;
}

void KelvoDicomDataAge::parse(const char* text) {
    if (!text) return;
    int count = 0;
    char unit = 0;
    if (std::sscanf(text, "%03d%c", &count, &unit) != 2) return;
    const char* found = static_cast<const char*>(std::memchr(kUnits, unit, sizeof kUnits));
    if (!found || unit == 0) {
        _status = -50;
        return;
    }
    setCount(int(found - kUnits), count);
}

bool KelvoDicomDataAge::_initWithStringData(const char* text) {
    std::string kept = text ? text : "";
    defaultStatus();
    parse(text ? kept.c_str() : nullptr);
    return true;
}

const char* KelvoDicomDataAge::stringValue() {
    _text[0] = 0;
    for (int i = 0; i < 4; ++i) {
        if (_counts[i] > 0) {
            const unsigned count = unsigned(_counts[i]) % 1000u;
            std::snprintf(_text, sizeof _text, "%03u%c", count, kUnits[i]);
            break;
        }
    }
    return _text;
}

void KelvoDicomDataAge::_initWithOther(const KelvoDicomDataElementValueString& other) {
    if (&other == this) return;
    if (!other.isA(qtObjName())) {
        takeOverByText(other);
        return;
    }
    _text[0] = 0;
    std::memcpy(_counts, static_cast<const KelvoDicomDataAge&>(other)._counts, sizeof _counts);
    _copyList(other);
}
