#include "KelvoDicomDataStringsNames.h"

#include <cstring>
#include <string>

KelvoDicomDataPersonName::KelvoDicomDataPersonName(const char* firstName, const char* lastName) {
    setCleanValue(_components[kFirst], firstName, kMaxSize, forbiddenChars, sizeof forbiddenChars, '\\');
    setCleanValue(_components[kLast], lastName, kMaxSize, forbiddenChars, sizeof forbiddenChars, '\\');
}

KelvoDicomDataPersonName::KelvoDicomDataPersonName(const KelvoDicomDataPersonName& other)
    : KelvoDicomDataElementValueString(other) {
    for (int i = 0; i < kComponents; ++i)
        setCleanValue(_components[i], other._components[i], kMaxSize, forbiddenChars, sizeof forbiddenChars,
                      '\\');
    std::memcpy(_ideographic, other._ideographic, sizeof _ideographic);
    std::memcpy(_phonetic, other._phonetic, sizeof _phonetic);
}

void KelvoDicomDataPersonName::clearAll() {
    std::memset(_text, 0, sizeof _text);
    std::memset(_components, 0, sizeof _components);
    std::memset(_ideographic, 0, sizeof _ideographic);
    std::memset(_phonetic, 0, sizeof _phonetic);
}

void KelvoDicomDataPersonName::defaultStatus() {
    KelvoDicomDataElementValueString::defaultStatus();
    clearAll();
}

void KelvoDicomDataPersonName::parse(const char* text) {
    KelvoDicomTextScanner scanner;
    const char* p = text;
    // The alphabetic group: components split at '^'; after the fifth '^' the rest of the group
    // is dropped.
    int component = kLast;
    size_t position = 0;
    bool dropping = false;
    for (; *p; ++p) {
        const bool delimiter = scanner.delimiterAllowed(p);
        if (delimiter && *p == '\\') return;
        if (delimiter && *p == '=') break;
        if (delimiter && *p == '^') {
            if (component == kSuffix) {
                dropping = true;
            } else if (!dropping) {
                ++component;
                position = 0;
            }
            continue;
        }
        if (!dropping && position < kMaxSize) _components[component][position++] = *p;
    }
    if (!*p) return;
    ++p; // past the '='
    // The ideographic group, then the phonetic group (to the end of the value), kept as read.
    char* groups[2] = {_ideographic, _phonetic};
    for (char* group : groups) {
        size_t length = 0;
        for (; *p; ++p) {
            const bool delimiter = scanner.delimiterAllowed(p);
            if (delimiter && *p == '\\') return;
            if (delimiter && *p == '=' && group == _ideographic) break;
            if (length < kGroupMaxSize) group[length++] = *p;
        }
        if (!*p) return;
        ++p;
    }
}

bool KelvoDicomDataPersonName::_initWithStringData(const char* text) {
    std::string kept = text ? text : "";
    defaultStatus();
    if (!text || !*text) return true;
    parse(kept.c_str());
    return true;
}

const char* KelvoDicomDataPersonName::stringValue() {
    int last = -1;
    for (int i = 0; i < kComponents; ++i)
        if (_components[i][0]) last = i;
    std::string joined;
    for (int i = 0; i <= last; ++i) {
        if (i > 0) joined += '^';
        joined += _components[i];
    }
    std::memset(_text, 0, sizeof _text);
    _setValue(_text, joined.c_str(), kMaxSize);
    if (_ideographic[0] || _phonetic[0]) {
        size_t used = std::strlen(_text);
        _text[used++] = '=';
        _setValue(_text + used, _ideographic, kGroupMaxSize);
        if (_phonetic[0]) {
            used += std::strlen(_text + used);
            _text[used++] = '=';
            _setValue(_text + used, _phonetic, kGroupMaxSize);
        }
    }
    return _text;
}

void KelvoDicomDataPersonName::_initWithOther(const KelvoDicomDataElementValueString& other) {
    if (&other == this) return;
    if (!other.isA(qtObjName())) {
        takeOverByText(other);
        return;
    }
    const auto& name = static_cast<const KelvoDicomDataPersonName&>(other);
    defaultStatus();
    for (int i = 0; i < kComponents; ++i)
        _setValue(_components[i], name._components[i], kMaxSize);
    std::memcpy(_ideographic, name._ideographic, sizeof _ideographic);
    std::memcpy(_phonetic, name._phonetic, sizeof _phonetic);
    _copyList(other);
}

void KelvoDicomDataPersonName::_listOfForbiddenChars(const char*& list, uint32_t& count) const {
    list = forbiddenChars;
    count = sizeof forbiddenChars;
}
