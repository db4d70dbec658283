#include "KelvoDicomDataStringsCodes.h"

#include "KelvoDicomUtils.h"

#include <cstring>
#include <new>
#include <string>

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Code strings: spaces, '_' and digits as they are, letters upper-cased (ASCII only, whatever
// the process's locale), the separator ends the text.
void filterCode(char* destination, const char* text, uint32_t maximum) {
    if (!text) return;
    uint32_t n = 0;
    for (const char* p = text; *p && n < maximum; ++p) {
        char c = *p;
        if (c == ' ' || c == '_' || isDigit(c)) {
            destination[n++] = c;
        } else if (c == '\\') {
            break;
        } else {
            destination[n++] = (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
        }
    }
    destination[n] = 0;
}

// UIDs: digits and '.' as they are, anything else but the separator becomes '0'.
void filterUID(char* destination, const char* text, uint32_t maximum) {
    if (!text) return;
    uint32_t n = 0;
    for (const char* p = text; *p && n < maximum; ++p) {
        char c = *p;
        if (c == '.' || isDigit(c))
            destination[n++] = c;
        else if (c == '\\')
            break;
        else
            destination[n++] = '0';
    }
    destination[n] = 0;
}

std::string textOf(const KelvoDicomDataElementValueString& value) {
    const char* text = const_cast<KelvoDicomDataElementValueString&>(value).stringValue();
    return text ? text : "";
}

} // namespace

// ---------------------------------------------------------------------------------------------
// CS

KelvoDicomDataCodeString::KelvoDicomDataCodeString(const char* text) {
    filterCode(_text, text, kMaxSize);
}

KelvoDicomDataCodeString::KelvoDicomDataCodeString(const KelvoDicomDataCodeString& other)
    : KelvoDicomDataElementValueString(other) {
    std::memcpy(_text, other._text, sizeof _text);
}

void KelvoDicomDataCodeString::defaultStatus() {
    KelvoDicomDataElementValueString::defaultStatus();
    std::memset(_text, 0, sizeof _text);
}

Kelvo_QTObj* KelvoDicomDataCodeString::clone() {
    if (!qtObjIsValid()) return nullptr;
    return new (std::nothrow) KelvoDicomDataCodeString(*this);
}

bool KelvoDicomDataCodeString::_initWithStringData(const char* text) {
    std::string kept = text ? text : "";
    defaultStatus();
    if (text && maxSizeAllowed() > 0) filterCode(_text, kept.c_str(), maxSizeAllowed());
    return true;
}

void KelvoDicomDataCodeString::_initWithOther(const KelvoDicomDataElementValueString& other) {
    if (&other == this) return;
    if (!other.isA(qtObjName())) {
        takeOverByText(other);
        return;
    }
    std::memcpy(_text, static_cast<const KelvoDicomDataCodeString&>(other)._text, sizeof _text);
    _copyList(other);
}

// ---------------------------------------------------------------------------------------------
// UI

KelvoDicomDataUID::KelvoDicomDataUID(const char* text) {
    filterUID(_text, text, kMaxSize);
}

KelvoDicomDataUID::KelvoDicomDataUID(const KelvoDicomDataUID& other)
    : KelvoDicomDataElementValueString(other) {
    std::memcpy(_text, other._text, sizeof _text);
}

KelvoDicomDataUID* KelvoDicomDataUID::generate(const char* root) {
    char* made = DicmUtils_UIDCreate(root);
    if (!made) return nullptr;
    // A refused root gives an empty text: no UID.
    auto* uid = made[0] ? new (std::nothrow) KelvoDicomDataUID(made) : nullptr;
    delete[] made;
    return uid;
}

void KelvoDicomDataUID::defaultStatus() {
    KelvoDicomDataElementValueString::defaultStatus();
    std::memset(_text, 0, sizeof _text);
}

Kelvo_QTObj* KelvoDicomDataUID::clone() {
    if (!qtObjIsValid()) return nullptr;
    return new (std::nothrow) KelvoDicomDataUID(*this);
}

bool KelvoDicomDataUID::_initWithStringData(const char* text) {
    std::string kept = text ? text : "";
    defaultStatus();
    if (text && maxSizeAllowed() > 0) filterUID(_text, kept.c_str(), maxSizeAllowed());
    return true;
}

void KelvoDicomDataUID::_initWithOther(const KelvoDicomDataElementValueString& other) {
    if (&other == this) return;
    if (!other.isA(qtObjName())) {
        takeOverByText(other);
        return;
    }
    std::memcpy(_text, static_cast<const KelvoDicomDataUID&>(other)._text, sizeof _text);
    _copyList(other);
}

// ---------------------------------------------------------------------------------------------
// AE, LO, SH: the shared clean-up of forbidden characters

KelvoDicomDataApplicationEntity::KelvoDicomDataApplicationEntity(const char* text) {
    setCleanValue(_text, text, kMaxSize, forbiddenChars, sizeof forbiddenChars, '\\');
}

KelvoDicomDataApplicationEntity::KelvoDicomDataApplicationEntity(const KelvoDicomDataApplicationEntity& other)
    : KelvoDicomDataElementValueString(other) {
    setCleanValue(_text, other._text, kMaxSize, forbiddenChars, sizeof forbiddenChars, '\\');
}

bool KelvoDicomDataApplicationEntity::qtObjIsValid() {
    return static_cast<const KelvoDicomDataApplicationEntity*>(this)->qtObjIsValid();
}

bool KelvoDicomDataApplicationEntity::qtObjIsValid() const {
    if (_text[0] == 0) return true;
    for (uint32_t i = 0; i < kMaxSize && _text[i]; ++i)
        if (_text[i] != ' ') return true;
    return false;
}

void KelvoDicomDataApplicationEntity::defaultStatus() {
    KelvoDicomDataElementValueString::defaultStatus();
    std::memset(_text, 0, sizeof _text);
}

Kelvo_QTObj* KelvoDicomDataApplicationEntity::clone() {
    if (!qtObjIsValid()) return nullptr;
    return new (std::nothrow) KelvoDicomDataApplicationEntity(*this);
}

bool KelvoDicomDataApplicationEntity::_initWithStringData(const char* text) {
    std::string kept = text ? text : "";
    _text[0] = 0;
    _setValue(_text, text ? kept.c_str() : nullptr, int32_t(maxSizeAllowed()));
    return true;
}

void KelvoDicomDataApplicationEntity::_initWithOther(const KelvoDicomDataElementValueString& other) {
    if (&other == this) return;
    _initWithStringData(textOf(other).c_str());
    copyFurtherValuesFrom(other, vr());
}

void KelvoDicomDataApplicationEntity::_listOfForbiddenChars(const char*& list, uint32_t& count) const {
    list = forbiddenChars;
    count = sizeof forbiddenChars;
}

KelvoDicomDataLongString::KelvoDicomDataLongString(const char* text) {
    setCleanValue(_text, text, kMaxSize, forbiddenChars, sizeof forbiddenChars, '\\');
}

KelvoDicomDataLongString::KelvoDicomDataLongString(const KelvoDicomDataLongString& other)
    : KelvoDicomDataElementValueString(other) {
    setCleanValue(_text, other._text, kMaxSize, forbiddenChars, sizeof forbiddenChars, '\\');
}

void KelvoDicomDataLongString::defaultStatus() {
    KelvoDicomDataElementValueString::defaultStatus();
    std::memset(_text, 0, sizeof _text);
}

bool KelvoDicomDataLongString::_initWithStringData(const char* text) {
    std::string kept = text ? text : "";
    _text[0] = 0;
    _setValue(_text, text ? kept.c_str() : nullptr, int32_t(maxSizeAllowed()));
    return true;
}

void KelvoDicomDataLongString::_initWithOther(const KelvoDicomDataElementValueString& other) {
    if (&other == this) return;
    _initWithStringData(textOf(other).c_str());
    copyFurtherValuesFrom(other, vr());
}

void KelvoDicomDataLongString::_listOfForbiddenChars(const char*& list, uint32_t& count) const {
    list = forbiddenChars;
    count = sizeof forbiddenChars;
}

KelvoDicomDataShortString::KelvoDicomDataShortString(const char* text) {
    setCleanValue(_text, text, kMaxSize, forbiddenChars, sizeof forbiddenChars, '\\');
}

KelvoDicomDataShortString::KelvoDicomDataShortString(const KelvoDicomDataShortString& other)
    : KelvoDicomDataElementValueString(other) {
    setCleanValue(_text, other._text, kMaxSize, forbiddenChars, sizeof forbiddenChars, '\\');
}

void KelvoDicomDataShortString::defaultStatus() {
    KelvoDicomDataElementValueString::defaultStatus();
    std::memset(_text, 0, sizeof _text);
}

bool KelvoDicomDataShortString::_initWithStringData(const char* text) {
    std::string kept = text ? text : "";
    _text[0] = 0;
    _setValue(_text, text ? kept.c_str() : nullptr, int32_t(maxSizeAllowed()));
    return true;
}

void KelvoDicomDataShortString::_initWithOther(const KelvoDicomDataElementValueString& other) {
    if (&other == this) return;
    _initWithStringData(textOf(other).c_str());
    copyFurtherValuesFrom(other, vr());
}

void KelvoDicomDataShortString::_listOfForbiddenChars(const char*& list, uint32_t& count) const {
    list = forbiddenChars;
    count = sizeof forbiddenChars;
}
