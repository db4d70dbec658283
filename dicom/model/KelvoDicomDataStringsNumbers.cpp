#include "KelvoDicomDataStringsNumbers.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <locale.h>
#include <string>

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Outcome of reading a number from a text.
enum class Read { kNone, kNumber, kRefused };

// A decimal integer after white space and an optional sign; digits end at the first other
// character (a separator ends the value). Beyond the 32-bit range: refused.
Read readInteger(const char* text, int32_t& out) {
    out = 0;
    if (!text) return Read::kNone;
    const char* p = text;
    while (isSpace(*p))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    if (*p < '0' || *p > '9') return Read::kNone;
    int64_t magnitude = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        magnitude = magnitude * 10 + (*p - '0');
        if (magnitude > int64_t(INT32_MAX) + 1) return Read::kRefused;
    }
    if (!negative && magnitude > INT32_MAX) return Read::kRefused;
    out = int32_t(negative ? -magnitude : magnitude);
    return Read::kNumber;
}

// A decimal number after white space and an optional sign, read the same way in every locale.
// Numbers too large for a double, infinities and NaNs are refused; numbers too small for one
// read as 0.
Read readDecimal(const char* text, double& out) {
    out = 0.0;
    if (!text) return Read::kNone;
    const char* p = text;
    while (isSpace(*p))
        ++p;
    if (*p == '+') {
        ++p;
        if (*p == '-' || *p == '+') return Read::kNone;
    }
    const char* end = p + std::strlen(p);
    double value = 0.0;
    auto [next, error] = std::from_chars(p, end, value, std::chars_format::general);
    if (error == std::errc::invalid_argument) return Read::kNone;
    if (error == std::errc::result_out_of_range) {
        // Tell an overflow from an underflow by the C locale's reader.
        static locale_t cLocale = newlocale(LC_ALL_MASK, "C", nullptr);
        std::string digits(p, size_t(next - p));
        double rough = cLocale ? strtod_l(digits.c_str(), nullptr, cLocale) : HUGE_VAL;
        if (std::isinf(rough)) return Read::kRefused;
        out = 0.0;
        return Read::kNumber;
    }
    if (!std::isfinite(value)) return Read::kRefused;
    out = value == 0.0 ? 0.0 : value;
    return Read::kNumber;
}

// "1e-05" -> "1e-5", "1e+20" -> "1e20": the exponent without its '+' and leading zeros.
std::string compactExponent(std::string text) {
    size_t e = text.find_first_of("eE");
    if (e == std::string::npos) return text;
    std::string mantissa = text.substr(0, e + 1);
    size_t i = e + 1;
    if (i < text.size() && text[i] == '-')
        mantissa += text[i++];
    else if (i < text.size() && text[i] == '+')
        ++i;
    while (i + 1 < text.size() && text[i] == '0')
        ++i;
    return mantissa + text.substr(i);
}

// "1.500e+00" -> "1.5e+00": trailing zeros of the mantissa dropped.
std::string trimMantissa(std::string text) {
    size_t e = text.find_first_of("eE");
    std::string mantissa = text.substr(0, e);
    std::string exponent = e == std::string::npos ? "" : text.substr(e);
    if (mantissa.find('.') != std::string::npos) {
        while (!mantissa.empty() && mantissa.back() == '0')
            mantissa.pop_back();
        if (!mantissa.empty() && mantissa.back() == '.') mantissa.pop_back();
    }
    return mantissa + exponent;
}

std::string format(double value, std::chars_format form, int precision, bool usePrecision) {
    char buffer[128];
    auto result = usePrecision ? std::to_chars(buffer, buffer + sizeof buffer, value, form, precision)
                               : std::to_chars(buffer, buffer + sizeof buffer, value, form);
    if (result.ec != std::errc()) return std::string();
    return std::string(buffer, result.ptr);
}

// Whether a text reads back as a finite number (a rounded-up text of the largest doubles would
// not).
bool readsBack(const std::string& text) {
    if (text.empty()) return false;
    double value = 0.0;
    auto result = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
    return result.ec == std::errc() && std::isfinite(value);
}

// The shortest text of a finite number within `maximum` characters: exact when any text that
// short reads back as the number, else the one with the most significant digits that fits.
std::string decimalText(double value, bool exponential, size_t maximum) {
    if (value == 0.0) return exponential ? "0E+00" : "0";
    if (!exponential) {
        char buffer[128];
        auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
        std::string shortest = compactExponent(std::string(buffer, result.ptr));
        if (shortest.size() <= maximum) return shortest;
        for (int precision = 17; precision >= 1; --precision) {
            std::string plain = compactExponent(format(value, std::chars_format::general, precision, true));
            std::string scientific = compactExponent(
                trimMantissa(format(value, std::chars_format::scientific, precision - 1, true)));
            const bool plainFits = plain.size() <= maximum && readsBack(plain);
            const bool scientificFits = scientific.size() <= maximum && readsBack(scientific);
            if (plainFits && scientificFits) return plain.size() <= scientific.size() ? plain : scientific;
            if (plainFits) return plain;
            if (scientificFits) return scientific;
        }
        return std::string();
    }
    auto upper = [](std::string text) {
        for (char& c : text)
            if (c == 'e') c = 'E';
        return text;
    };
    std::string shortest = upper(format(value, std::chars_format::scientific, 0, false));
    if (shortest.size() <= maximum) return shortest;
    for (int precision = 16; precision >= 0; --precision) {
        std::string text = upper(trimMantissa(format(value, std::chars_format::scientific, precision, true)));
        if (text.size() <= maximum && readsBack(text)) return text;
    }
    return std::string();
}

} // namespace

// ---------------------------------------------------------------------------------------------
// IS

KelvoDicomIntegerString::KelvoDicomIntegerString(const char* text) {
    parse(text);
}

void KelvoDicomIntegerString::defaultStatus() {
    KelvoDicomDataElementValueString::defaultStatus();
    _value = 0;
    std::memset(_text, 0, sizeof _text);
}

void KelvoDicomIntegerString::parse(const char* text) {
    int32_t value = 0;
    if (readInteger(text, value) == Read::kRefused) {
        _status = -50;
        value = 0;
    }
    _value = value;
}

bool KelvoDicomIntegerString::_initWithStringData(const char* text) {
    std::string kept = text ? text : "";
    defaultStatus();
    parse(text ? kept.c_str() : nullptr);
    return true;
}

const char* KelvoDicomIntegerString::stringValue() {
    std::snprintf(_text, sizeof _text, "%d", int(_value));
    return _text;
}

void KelvoDicomIntegerString::_initWithOther(const KelvoDicomDataElementValueString& other) {
    if (&other == this) return;
    if (!other.isA(qtObjName())) {
        takeOverByText(other);
        return;
    }
    defaultStatus();
    _value = static_cast<const KelvoDicomIntegerString&>(other)._value;
    _copyList(other);
}

// ---------------------------------------------------------------------------------------------
// DS

KelvoDicomDecimalString::KelvoDicomDecimalString(double value) {
    store(value);
}

KelvoDicomDecimalString::KelvoDicomDecimalString(const char* text) {
    parse(text);
}

void KelvoDicomDecimalString::store(double value) {
    if (!std::isfinite(value)) {
        _status = -50;
        return;
    }
    _value = value;
}

void KelvoDicomDecimalString::defaultStatus() {
    KelvoDicomDataElementValueString::defaultStatus();
    _value = 0.0;
    _exponential = 0;
    std::memset(_text, 0, sizeof _text);
}

void KelvoDicomDecimalString::parse(const char* text) {
    double value = 0.0;
    if (readDecimal(text, value) == Read::kRefused) {
        _status = -50;
        value = 0.0;
    }
    _value = value;
}

bool KelvoDicomDecimalString::_initWithStringData(const char* text) {
    std::string kept = text ? text : "";
    defaultStatus();
    parse(text ? kept.c_str() : nullptr);
    return true;
}

const char* KelvoDicomDecimalString::stringValue() {
    std::memset(_text, 0, sizeof _text);
    if (std::isfinite(_value)) {
        std::string text = decimalText(_value, _exponential != 0, kMaxSize);
        std::memcpy(_text, text.data(), text.size() < kMaxSize ? text.size() : kMaxSize);
    }
    return _text;
}

float KelvoDicomDecimalString::floatValue() const {
    constexpr double kFloatMax = double(std::numeric_limits<float>::max());
    if (std::isnan(_value)) return 0.0f;
    if (_value > kFloatMax) return std::numeric_limits<float>::infinity();
    if (_value < -kFloatMax) return -std::numeric_limits<float>::infinity();
    return float(_value);
}

void KelvoDicomDecimalString::_initWithOther(const KelvoDicomDataElementValueString& other) {
    if (&other == this) return;
    if (!other.isA(qtObjName())) {
        takeOverByText(other);
        return;
    }
    const auto& decimal = static_cast<const KelvoDicomDecimalString&>(other);
    defaultStatus();
    _value = decimal._value;
    _exponential = decimal._exponential;
    _copyList(other);
}
