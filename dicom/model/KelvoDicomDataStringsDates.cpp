#include "KelvoDicomDataStringsDates.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>
#include <string>

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

} // namespace

// ---------------------------------------------------------------------------------------------
// DA

KelvoDicomDataDate::KelvoDicomDataDate(const char* text) {
    parse(text);
}

KelvoDicomDataDate::KelvoDicomDataDate(uint32_t year, uint32_t month, uint32_t day) {
    setYear(year);
    setMonth(month);
    setDay(day);
}

KelvoDicomDataDate::KelvoDicomDataDate(const KelvoDicomDataDate& other)
    : KelvoDicomDataElementValueString(other), _year(other._year), _month(other._month), _day(other._day) {}

void KelvoDicomDataDate::setYear(uint32_t value) {
    if (value <= kMaxYear) _year = value;
}

void KelvoDicomDataDate::setMonth(uint32_t value) {
    if (value >= 1 && value <= 12) _month = value;
}

void KelvoDicomDataDate::setDay(uint32_t value) {
    if (value >= 1 && value <= daysInMonth(_month, _year)) _day = value;
}

void KelvoDicomDataDate::defaultStatus() {
    KelvoDicomDataElementValueString::defaultStatus();
    _text[0] = 0;
    _sqlText[0] = 0;
    // An empty date stays empty: it is never filled in with today.
    _year = _month = _day = 0;
}

void KelvoDicomDataDate::parse(const char* text) {
    _text[0] = 0;
    _sqlText[0] = 0;
    if (!text) return;
    const char separator = std::strchr(text, '-') ? '-' : std::strchr(text, '.') ? '.' : 0;
    const char* p = text;
    uint32_t year = 0, month = 0, day = 0;
    if (!readNumber(p, 4, year)) return;
    if (separator && !readLiteral(p, separator)) return;
    if (!readNumber(p, 2, month)) return;
    if (separator && !readLiteral(p, separator)) return;
    if (!readNumber(p, 2, day)) return;
    setYear(year);
    setMonth(month);
    setDay(day);
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
      _offsetNegative(other._offsetNegative) {}

void KelvoDicomDataDateTime::clearAll() {
    _text[0] = 0;
    _sqlText[0] = 0;
    _date.defaultStatus();
    _time.defaultStatus();
    _offsetHours = 0;
    _offsetMinutes = 0;
    _offsetRead = false;
    _offsetNegative = false;
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
    // Each value of the element in turn: the first here, the others as further values.
    const char separator = multipleValuesSeparator();
    size_t end = text.find(separator);
    parseDicom(text.substr(0, end));
    while (end != std::string::npos && multipleValuesAllowed()) {
        size_t start = end + 1;
        end = text.find(separator, start);
        auto* further = new (std::nothrow) KelvoDicomDataDateTime();
        if (!further) break;
        further->parseDicom(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (!_appendValueByRef(further)) delete further;
    }
    return true;
}

void KelvoDicomDataDateTime::parseDicom(const std::string& text) {
    // The offset: the first sign after the first character; a '.' before it starts the fraction.
    size_t sign = std::string::npos, dot = std::string::npos;
    for (size_t i = 1; i < text.size(); ++i) {
        if (text[i] == '+' || text[i] == '-') {
            sign = i;
            break;
        }
        if (text[i] == '.' && dot == std::string::npos) dot = i;
    }
    if (sign != std::string::npos) {
        const char* p = text.c_str() + sign + 1;
        uint32_t hours = 0, minutes = 0;
        if (readNumber(p, 2, hours)) {
            _offsetHours = text[sign] == '-' ? -int32_t(hours) : int32_t(hours);
            _offsetNegative = text[sign] == '-';
            _offsetRead = true;
            if (readNumber(p, 2, minutes)) _offsetMinutes = minutes;
        }
    }
    uint32_t microseconds = 0;
    bool fraction = dot != std::string::npos && readFraction(text.c_str() + dot + 1, microseconds);

    // Date and time: the numbers not read count as 0.
    uint32_t fields[6] = {0, 0, 0, 0, 0, 0};
    const int widths[6] = {4, 2, 2, 2, 2, 2};
    const char* p = text.c_str();
    int read = 0;
    while (read < 6 && readNumber(p, widths[read], fields[read]))
        ++read;
    if (read == 0 && !fraction && !_offsetRead) return; // an empty date-time stays empty
    _date.setYear(fields[0]);
    _date.setMonth(fields[1]);
    _date.setDay(fields[2]);
    _time.setHours(fields[3]);
    _time.setMinutes(fields[4]);
    _time.setSeconds(fields[5]);
    _time.setMicroseconds(microseconds);
}

void KelvoDicomDataDateTime::parseText(const char* text) {
    _text[0] = 0;
    _sqlText[0] = 0;
    if (!text) return;
    _date.defaultStatus();
    _date.parse(text);
    if (const char* space = std::strchr(text, ' ')) {
        std::string rest = space + 1;
        _time.defaultStatus();
        _time.parse(rest.c_str());
    }
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
    std::string out;
    char date[16];
    std::snprintf(date, sizeof date, "%04u%02u%02u", four(_date.year()), two(_date.month()),
                  two(_date.day()));
    out = date;
    out += _time.stringValue();
    if (offset) {
        const bool negative = _offsetHours < 0 || (_offsetHours == 0 && _offsetNegative);
        const uint32_t hours = uint32_t(_offsetHours < 0 ? -int64_t(_offsetHours) : int64_t(_offsetHours));
        char zone[16];
        std::snprintf(zone, sizeof zone, "%c%02u%02u", negative ? '-' : '+', two(hours), two(_offsetMinutes));
        out += zone;
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
