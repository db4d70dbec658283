#include "KelvoDicomNumbers.h"

#include <cfloat>
#include <charconv>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <locale.h>
#include <new>

namespace {

// Value format codes of the six VRs.
constexpr int32_t kUL = kDicmFormatUL;
constexpr int32_t kUS = kDicmFormatUS;
constexpr int32_t kSS = kDicmFormatSS;
constexpr int32_t kSL = kDicmFormatSL;
constexpr int32_t kFL = kDicmFormatFL;
constexpr int32_t kFD = kDicmFormatFD;

bool isNumberType(int32_t type) {
    return type >= kUL && type <= kFD;
}

// An integral floating value as a signed 32-bit integer; values outside that range give its
// lowest value (as the old processors answered), NaN gives 0.
int32_t truncate32(double r) {
    if (std::isnan(r)) return 0;
    if (r >= -2147483648.0 && r < 2147483648.0) return int32_t(r);
    return INT32_MIN;
}

// The same to 64 bits; outside the range the lowest value, whose low 32 bits are 0.
int64_t truncate64(double r) {
    if (std::isnan(r)) return 0;
    if (r >= -9223372036854775808.0 && r < 9223372036854775808.0) return int64_t(r);
    return INT64_MIN;
}

// The nearest float of a double, with round-to-nearest overflow: up to half a unit beyond the
// largest float it is the largest float, further out infinity.
float nearestFloat(double x) {
    if (std::isnan(x)) return std::numeric_limits<float>::quiet_NaN();
    const double largest = double(FLT_MAX);
    if (x <= largest && x >= -largest) return float(x);
    const double halfUnitBeyond = largest + 0x1p103;
    float magnitude = std::fabs(x) < halfUnitBeyond ? FLT_MAX : std::numeric_limits<float>::infinity();
    return x < 0 ? -magnitude : magnitude;
}

// Rounding of floating arguments into integer storage: ties go towards minus infinity.
double roundTiesDown(double x) {
    double r = std::floor(x);
    if (x - r > 0.5) r = std::ceil(x);
    return r;
}

double roundTiesDown(float x) {
    float r = std::floor(x);
    if (double(x) - double(r) > 0.5) r = std::ceil(x);
    return double(r);
}

// The text of a decimal integer in the manner of strtol: leading white space, a sign, digits up
// to the first other character; no digits give 0. The result saturates well outside 32 bits.
int64_t readInteger(const char* text) {
    const char* p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    int64_t magnitude = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        if (magnitude < (int64_t(1) << 40)) magnitude = magnitude * 10 + (*p - '0');
    }
    return negative ? -magnitude : magnitude;
}

int32_t saturate32(int64_t v) {
    return v > INT32_MAX ? INT32_MAX : (v < INT32_MIN ? INT32_MIN : int32_t(v));
}

// Floating texts are read with the C conventions whatever locale the host set.
locale_t cLocale() {
    static locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(0));
    return c;
}

float readFloat(const char* text) {
    locale_t c = cLocale();
    return c ? strtof_l(text, nullptr, c) : std::strtof(text, nullptr);
}

double readDouble(const char* text) {
    locale_t c = cLocale();
    return c ? strtod_l(text, nullptr, c) : std::strtod(text, nullptr);
}

// "%f" of a value, cut to the 39 characters the text buffer holds, independent of the locale.
void formatFixed(char (&out)[41], double value) {
    char wide[400];
    auto result = std::to_chars(wide, wide + sizeof wide, value, std::chars_format::fixed, 6);
    size_t length = result.ec == std::errc() ? size_t(result.ptr - wide) : 0;
    if (length > 39) length = 39;
    std::memcpy(out, wide, length);
    out[length] = 0;
}

const char* vrForType(int32_t type) {
    switch (type) {
    case kUL:
        return "UL";
    case kUS:
        return "US";
    case kSS:
        return "SS";
    case kSL:
        return "SL";
    case kFL:
        return "FL";
    case kFD:
        return "FD";
    default:
        return nullptr;
    }
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Construction and state

KelvoDicomDataNumber::KelvoDicomDataNumber() {
    KelvoDicomDataElementValue::defaultStatus();
    clearText();
}

KelvoDicomDataNumber::KelvoDicomDataNumber(const KelvoDicomDataNumber& other)
    : KelvoDicomDataElementValue(other), _type(other._type) {
    clearText();
}

KelvoDicomDataNumber& KelvoDicomDataNumber::operator=(const KelvoDicomDataNumber& other) {
    if (&other != this) copy(const_cast<KelvoDicomDataNumber&>(other));
    return *this;
}

void KelvoDicomDataNumber::attach(const char* vr, void* storage) {
    const dicmVRInfo* info = DicmDict_VRInfo(vr);
    if (info) _type = int32_t(info->format);
    _valueStorage = storage;
}

void KelvoDicomDataNumber::clearNumber() {
    KelvoDicomDataElementValue::defaultStatus();
    clearText();
    if (!_valueStorage) return;
    switch (_type) {
    case kUL:
        *static_cast<uint32_t*>(_valueStorage) = 0;
        break;
    case kSL:
        *static_cast<int32_t*>(_valueStorage) = 0;
        break;
    case kUS:
        *static_cast<uint16_t*>(_valueStorage) = 0;
        break;
    case kSS:
        *static_cast<int16_t*>(_valueStorage) = 0;
        break;
    case kFL:
        *static_cast<float*>(_valueStorage) = 0.0f;
        break;
    case kFD:
        *static_cast<double*>(_valueStorage) = 0.0;
        break;
    default:
        break;
    }
}

void KelvoDicomDataNumber::defaultStatus() {
    KelvoDicomDataElementValue::defaultStatus();
    clearText();
}

bool KelvoDicomDataNumber::isA(const char* name) const {
    if (!name) return false;
    return KelvoDicomDataElementValue::isA(name) || std::strcmp(name, "KelvoDicomDataNumber") == 0;
}

int32_t KelvoDicomDataNumber::_numberType() const {
    if (_type != -1) return _type;
    const dicmVRInfo* info = DicmDict_VRInfo(vr());
    if (!info) return -1;
    _type = int32_t(info->format);
    return _type;
}

uint32_t KelvoDicomDataNumber::_dataLengthForDicom() const {
    if (!qtObjIsValid()) return 0;
    switch (_numberType()) {
    case kUL:
    case kSL:
    case kFL:
        return 4;
    case kUS:
    case kSS:
        return 2;
    case kFD:
        return 8;
    default:
        return 0;
    }
}

// ---------------------------------------------------------------------------------------------
// Getters: the stored first value converted to the asked type. Integer results wrap to the width
// asked for; floating values are floored first.

float KelvoDicomDataNumber::getFloat() const {
    if (!qtObjIsValid()) return 0.0f;
    switch (_type) {
    case kUL:
        return float(*static_cast<const uint32_t*>(_valueStorage));
    case kSL:
        return float(*static_cast<const int32_t*>(_valueStorage));
    case kUS:
        return float(*static_cast<const uint16_t*>(_valueStorage));
    case kSS:
        return float(*static_cast<const int16_t*>(_valueStorage));
    case kFL:
        return *static_cast<const float*>(_valueStorage);
    case kFD:
        return nearestFloat(*static_cast<const double*>(_valueStorage));
    default:
        return 0.0f;
    }
}

double KelvoDicomDataNumber::getDouble() const {
    if (!qtObjIsValid()) return 0.0;
    switch (_type) {
    case kUL:
        return double(*static_cast<const uint32_t*>(_valueStorage));
    case kSL:
        return double(*static_cast<const int32_t*>(_valueStorage));
    case kUS:
        return double(*static_cast<const uint16_t*>(_valueStorage));
    case kSS:
        return double(*static_cast<const int16_t*>(_valueStorage));
    case kFL:
        return double(*static_cast<const float*>(_valueStorage));
    case kFD:
        return *static_cast<const double*>(_valueStorage);
    default:
        return 0.0;
    }
}

int32_t KelvoDicomDataNumber::getSignedLong() const {
    if (!qtObjIsValid()) return 0;
    switch (_type) {
    case kUL:
        return int32_t(*static_cast<const uint32_t*>(_valueStorage));
    case kSL:
        return *static_cast<const int32_t*>(_valueStorage);
    case kUS:
        return int32_t(*static_cast<const uint16_t*>(_valueStorage));
    case kSS:
        return int32_t(*static_cast<const int16_t*>(_valueStorage));
    case kFL:
        return truncate32(std::floor(double(*static_cast<const float*>(_valueStorage))));
    case kFD:
        return truncate32(std::floor(*static_cast<const double*>(_valueStorage)));
    default:
        return 0;
    }
}

uint32_t KelvoDicomDataNumber::getUnsignedLong() const {
    if (!qtObjIsValid()) return 0;
    switch (_type) {
    case kUL:
        return *static_cast<const uint32_t*>(_valueStorage);
    case kSL:
        return uint32_t(*static_cast<const int32_t*>(_valueStorage));
    case kUS:
        return uint32_t(*static_cast<const uint16_t*>(_valueStorage));
    case kSS:
        return uint32_t(int32_t(*static_cast<const int16_t*>(_valueStorage)));
    case kFL:
        return uint32_t(uint64_t(truncate64(std::floor(double(*static_cast<const float*>(_valueStorage))))));
    case kFD:
        return uint32_t(uint64_t(truncate64(std::floor(*static_cast<const double*>(_valueStorage)))));
    default:
        return 0;
    }
}

int16_t KelvoDicomDataNumber::getSignedShort() const {
    return int16_t(getUnsignedShort());
}

uint16_t KelvoDicomDataNumber::getUnsignedShort() const {
    if (!qtObjIsValid()) return 0;
    switch (_type) {
    case kUL:
        return uint16_t(*static_cast<const uint32_t*>(_valueStorage));
    case kSL:
        return uint16_t(*static_cast<const int32_t*>(_valueStorage));
    case kUS:
        return *static_cast<const uint16_t*>(_valueStorage);
    case kSS:
        return uint16_t(*static_cast<const int16_t*>(_valueStorage));
    case kFL:
        return uint16_t(truncate32(std::floor(double(*static_cast<const float*>(_valueStorage)))));
    case kFD:
        return uint16_t(truncate32(std::floor(*static_cast<const double*>(_valueStorage))));
    default:
        return 0;
    }
}

// ---------------------------------------------------------------------------------------------
// Setters: the given number converted to the stored type.

void KelvoDicomDataNumber::setFromSigned(int32_t value) {
    if (!qtObjIsValid()) return;
    switch (_type) {
    case kUL:
        *static_cast<uint32_t*>(_valueStorage) = uint32_t(value);
        break;
    case kSL:
        *static_cast<int32_t*>(_valueStorage) = value;
        break;
    case kUS:
        *static_cast<uint16_t*>(_valueStorage) = uint16_t(value);
        break;
    case kSS:
        *static_cast<int16_t*>(_valueStorage) = int16_t(value);
        break;
    case kFL:
        *static_cast<float*>(_valueStorage) = float(value);
        break;
    case kFD:
        *static_cast<double*>(_valueStorage) = double(value);
        break;
    default:
        break;
    }
}

void KelvoDicomDataNumber::setFromUnsigned(uint32_t value) {
    if (!qtObjIsValid()) return;
    switch (_type) {
    case kUL:
        *static_cast<uint32_t*>(_valueStorage) = value;
        break;
    case kSL:
        *static_cast<int32_t*>(_valueStorage) = int32_t(value);
        break;
    case kUS:
        *static_cast<uint16_t*>(_valueStorage) = uint16_t(value);
        break;
    case kSS:
        *static_cast<int16_t*>(_valueStorage) = int16_t(value);
        break;
    case kFL:
        *static_cast<float*>(_valueStorage) = float(value);
        break;
    case kFD:
        *static_cast<double*>(_valueStorage) = double(value);
        break;
    default:
        break;
    }
}

namespace {

// An integral value (rounded already) into integer storage: UL keeps the low 32 bits of its
// 64-bit form, SL its 32-bit form, US and SS the low 16 bits of its 32-bit form.
void storeIntegral(int32_t type, void* storage, double r) {
    switch (type) {
    case kUL:
        *static_cast<uint32_t*>(storage) = uint32_t(uint64_t(truncate64(r)));
        break;
    case kSL:
        *static_cast<int32_t*>(storage) = truncate32(r);
        break;
    case kUS:
        *static_cast<uint16_t*>(storage) = uint16_t(truncate32(r));
        break;
    case kSS:
        *static_cast<int16_t*>(storage) = int16_t(truncate32(r));
        break;
    default:
        break;
    }
}

} // namespace

void KelvoDicomDataNumber::setFromFloat(float value) {
    if (!qtObjIsValid()) return;
    switch (_type) {
    case kFL:
        *static_cast<float*>(_valueStorage) = value;
        break;
    case kFD:
        *static_cast<double*>(_valueStorage) = double(value);
        break;
    default:
        storeIntegral(_type, _valueStorage, roundTiesDown(value));
        break;
    }
}

void KelvoDicomDataNumber::setFromDouble(double value) {
    if (!qtObjIsValid()) return;
    switch (_type) {
    case kFL:
        *static_cast<float*>(_valueStorage) = nearestFloat(value);
        break;
    case kFD:
        *static_cast<double*>(_valueStorage) = value;
        break;
    default:
        storeIntegral(_type, _valueStorage, roundTiesDown(value));
        break;
    }
}

float KelvoDicomDataNumber::floatValue() const {
    return getFloat();
}
void KelvoDicomDataNumber::floatValue(float value) {
    setFromFloat(value);
}
double KelvoDicomDataNumber::doubleValue() const {
    return getDouble();
}
void KelvoDicomDataNumber::doubleValue(double value) {
    setFromDouble(value);
}
int32_t KelvoDicomDataNumber::signedLongValue() const {
    return getSignedLong();
}
void KelvoDicomDataNumber::signedLongValue(int32_t value) {
    setFromSigned(value);
}
int16_t KelvoDicomDataNumber::signedShortValue() const {
    return getSignedShort();
}
void KelvoDicomDataNumber::signedShortValue(int16_t value) {
    setFromSigned(int32_t(value));
}
uint32_t KelvoDicomDataNumber::unsignedLongValue() const {
    return getUnsignedLong();
}
void KelvoDicomDataNumber::unsignedLongValue(uint32_t value) {
    setFromUnsigned(value);
}
uint16_t KelvoDicomDataNumber::unsignedShortValue() const {
    return getUnsignedShort();
}
void KelvoDicomDataNumber::unsignedShortValue(uint16_t value) {
    setFromUnsigned(uint32_t(value));
}

// ---------------------------------------------------------------------------------------------
// Text

const char* KelvoDicomDataNumber::stringValue() {
    clearText();
    if (!qtObjIsValid()) return _text;
    switch (_numberType()) {
    case kUL:
        std::snprintf(_text, 40, "%" PRIu32, getUnsignedLong());
        break;
    case kSL:
        std::snprintf(_text, 40, "%" PRId32, getSignedLong());
        break;
    case kUS:
        std::snprintf(_text, 40, "%u", unsigned(getUnsignedShort()));
        break;
    case kSS:
        std::snprintf(_text, 40, "%d", int(getSignedShort()));
        break;
    case kFL:
        formatFixed(_text, double(getFloat()));
        break;
    case kFD:
        formatFixed(_text, getDouble());
        break;
    default:
        break;
    }
    return _text;
}

// Only the first number of the text is read; further values stay as they were. UL texts are
// read as unsigned numbers up to 4294967295, so every UL value survives its own text form;
// negative texts keep their 32-bit pattern.
bool KelvoDicomDataNumber::parseText(const char* text) {
    if (!qtObjIsValid()) return false;
    if (!text || !isNumberType(_type)) {
        clearNumber();
        return false;
    }
    switch (_type) {
    case kUL: {
        int64_t v = readInteger(text);
        uint32_t bits =
            v >= 0 ? (v > int64_t(UINT32_MAX) ? UINT32_MAX : uint32_t(v)) : uint32_t(saturate32(v));
        *static_cast<uint32_t*>(_valueStorage) = bits;
        break;
    }
    case kSL:
        *static_cast<int32_t*>(_valueStorage) = saturate32(readInteger(text));
        break;
    case kUS:
        *static_cast<uint16_t*>(_valueStorage) = uint16_t(saturate32(readInteger(text)));
        break;
    case kSS:
        *static_cast<int16_t*>(_valueStorage) = int16_t(saturate32(readInteger(text)));
        break;
    case kFL:
        *static_cast<float*>(_valueStorage) = readFloat(text);
        break;
    case kFD:
        *static_cast<double*>(_valueStorage) = readDouble(text);
        break;
    default:
        break;
    }
    return true;
}

bool KelvoDicomDataNumber::_initWithStringData(const char* text) {
    return parseText(text);
}

// ---------------------------------------------------------------------------------------------
// Nodes

bool KelvoDicomDataNumber::nodeHasVR(KelvoDicomDataNode* node, const char* vr) {
    if (!node) {
        _status = -108;
        return false;
    }
    if (!node->qtObjIsValid()) {
        Kelvo_QTObj* object = node;
        int32_t error = 0;
        Kelvo_QTObj::isValidInstance(object, error, false);
        _status = error;
        return false;
    }
    if (std::strncmp(node->VR(), vr, 2) == 0) return true;
    _status = kKelvoWrongType;
    return false;
}

void KelvoDicomDataNumber::loadFromNode(KelvoDicomDataNode* node, int32_t index) {
    if (!_valueStorage) return;
    switch (_type) {
    case kUL:
        *static_cast<uint32_t*>(_valueStorage) = node->ulValue(index);
        break;
    case kSL:
        *static_cast<int32_t*>(_valueStorage) = node->longValue(index);
        break;
    case kUS:
        *static_cast<uint16_t*>(_valueStorage) = node->usValue(index);
        break;
    case kSS:
        *static_cast<int16_t*>(_valueStorage) = node->shortValue(index);
        break;
    case kFL:
        *static_cast<float*>(_valueStorage) = node->floatValue(index);
        break;
    case kFD:
        *static_cast<double*>(_valueStorage) = node->doubleValue(index);
        break;
    default:
        break;
    }
}

void KelvoDicomDataNumber::appendToNode(KelvoDicomDataNode* node) const {
    if (!_valueStorage) return;
    switch (_type) {
    case kUL:
        node->ulValueSet(*static_cast<const uint32_t*>(_valueStorage), -1);
        break;
    case kSL:
        node->longValueSet(*static_cast<const int32_t*>(_valueStorage), -1);
        break;
    case kUS:
        node->usValueSet(*static_cast<const uint16_t*>(_valueStorage), -1);
        break;
    case kSS:
        node->shortValueSet(*static_cast<const int16_t*>(_valueStorage), -1);
        break;
    case kFL:
        node->floatValueSet(*static_cast<const float*>(_valueStorage), -1);
        break;
    case kFD:
        node->doubleValueSet(*static_cast<const double*>(_valueStorage), -1);
        break;
    default:
        break;
    }
}

// Every value of the node is kept: the count is taken in 32 bits, so elements of more than
// 32767 values (long lookup tables) lose none.
bool KelvoDicomDataNumber::readNode(KelvoDicomDataNode* node) {
    clearNumber();
    if (!node || !_valueStorage) return false;
    loadFromNode(node, 0);
    const int32_t count = node->valueCount();
    if (count < 2) return true;
    if (!_list) {
        auto* list = new (std::nothrow) Kelvo_QTObjectsList();
        if (!list || !list->qtObjIsValid()) {
            _status = list ? list->Error() : -108;
            delete list;
            return false;
        }
        _list = list;
    }
    for (int32_t i = 1; i < count; ++i) {
        KelvoDicomDataNumber* further = createWithVR(vrForType(_type));
        if (!further) {
            _status = -108;
            return false;
        }
        further->loadFromNode(node, i);
        _list->addObjValueByRef(further);
    }
    return true;
}

KelvoDicomDataNode* KelvoDicomDataNumber::encode() const {
    const char* vr = vrForType(_type);
    if (!vr) return nullptr;
    auto* node = new (std::nothrow) KelvoDicomDataNode(vr);
    if (!node) return nullptr;
    appendToNode(node);
    if (_list) {
        const int32_t count = _list->count();
        for (int32_t i = 0; i < count; ++i) {
            Kelvo_QTObj* further = _list->getObjValueByRef(i);
            if (!further || !further->isA(qtObjName())) continue;
            static_cast<KelvoDicomDataNumber*>(further)->appendToNode(node);
        }
    }
    return node;
}

// A copy takes the source's value and exactly its further values: those this value held before
// are dropped, so the copy never keeps stale numbers.
void KelvoDicomDataNumber::copyNumber(Kelvo_QTObj& source) {
    if (&source == this || !source.isA(qtObjName())) return;
    auto& other = static_cast<KelvoDicomDataNumber&>(source);
    if (!_valueStorage || !other._valueStorage || other._type != _type) return;
    switch (_type) {
    case kUL:
        *static_cast<uint32_t*>(_valueStorage) = *static_cast<const uint32_t*>(other._valueStorage);
        break;
    case kSL:
        *static_cast<int32_t*>(_valueStorage) = *static_cast<const int32_t*>(other._valueStorage);
        break;
    case kUS:
        *static_cast<uint16_t*>(_valueStorage) = *static_cast<const uint16_t*>(other._valueStorage);
        break;
    case kSS:
        *static_cast<int16_t*>(_valueStorage) = *static_cast<const int16_t*>(other._valueStorage);
        break;
    case kFL:
        *static_cast<float*>(_valueStorage) = *static_cast<const float*>(other._valueStorage);
        break;
    case kFD:
        *static_cast<double*>(_valueStorage) = *static_cast<const double*>(other._valueStorage);
        break;
    default:
        break;
    }
    KelvoDicomDataElementValue::defaultStatus();
    _copyList(other);
}

// ---------------------------------------------------------------------------------------------
// Creation

KelvoDicomDataNumber* KelvoDicomDataNumber::createWithVR(const char* vr) {
    if (!vr || std::strlen(vr) != 2) return nullptr;
    if (std::strcmp(vr, "FD") == 0) return new (std::nothrow) KelvoDicomDataDouble();
    if (std::strcmp(vr, "FL") == 0) return new (std::nothrow) KelvoDicomDataFloat();
    if (std::strcmp(vr, "SS") == 0) return new (std::nothrow) KelvoDicomDataSignedShort();
    if (std::strcmp(vr, "SL") == 0) return new (std::nothrow) KelvoDicomDataSignedLong();
    if (std::strcmp(vr, "UL") == 0) return new (std::nothrow) KelvoDicomDataUnsignedLong();
    if (std::strcmp(vr, "US") == 0) return new (std::nothrow) KelvoDicomDataUnsignedShort();
    return nullptr;
}

KelvoDicomDataNumber* KelvoDicomDataNumber::createWithFloat(float value) {
    return new (std::nothrow) KelvoDicomDataFloat(value);
}
KelvoDicomDataNumber* KelvoDicomDataNumber::createWithDouble(double value) {
    return new (std::nothrow) KelvoDicomDataDouble(value);
}
KelvoDicomDataNumber* KelvoDicomDataNumber::createWithSignedLong(int32_t value) {
    return new (std::nothrow) KelvoDicomDataSignedLong(value);
}
KelvoDicomDataNumber* KelvoDicomDataNumber::createWithUnsignedLong(uint32_t value) {
    return new (std::nothrow) KelvoDicomDataUnsignedLong(value);
}
KelvoDicomDataNumber* KelvoDicomDataNumber::createWithSignedShort(int16_t value) {
    return new (std::nothrow) KelvoDicomDataSignedShort(value);
}
KelvoDicomDataNumber* KelvoDicomDataNumber::createWithUnsignedShort(uint16_t value) {
    return new (std::nothrow) KelvoDicomDataUnsignedShort(value);
}

// ---------------------------------------------------------------------------------------------
// The concrete classes. Constructors use only the non-virtual helpers, with the class's own VR.

#define KELVO_DICOM_NUMBER_IMPL(Class, Type, VR)                                                             \
    Class::Class() {                                                                                         \
        attach(VR, &_value);                                                                                 \
    }                                                                                                        \
    Class::Class(Type value) : _value(value) {                                                               \
        attach(VR, &_value);                                                                                 \
    }                                                                                                        \
    Class::Class(const char* text) {                                                                         \
        attach(VR, &_value);                                                                                 \
        parseText(text);                                                                                     \
    }                                                                                                        \
    Class::Class(KelvoDicomDataNode* node) {                                                                 \
        attach(VR, &_value);                                                                                 \
        if (nodeHasVR(node, VR)) readNode(node);                                                             \
    }                                                                                                        \
    Class::Class(const Class& other) : KelvoDicomDataNumber(other), _value(other._value) {                   \
        attach(VR, &_value);                                                                                 \
    }                                                                                                        \
    Class::~Class() = default;                                                                               \
    void Class::defaultStatus() {                                                                            \
        clearNumber();                                                                                       \
    }                                                                                                        \
    void Class::copy(Kelvo_QTObj& source) {                                                                  \
        copyNumber(source);                                                                                  \
    }                                                                                                        \
    Class* Class::clone() {                                                                                  \
        if (!qtObjIsValid()) return nullptr;                                                                 \
        return new (std::nothrow) Class(*this);                                                              \
    }                                                                                                        \
    bool Class::_initWithData(KelvoDicomDataNode* node) {                                                    \
        return readNode(node);                                                                               \
    }                                                                                                        \
    KelvoDicomDataNode* Class::_encodeForDicom() const {                                                     \
        return encode();                                                                                     \
    }                                                                                                        \
    const char* Class::vr() const {                                                                          \
        return VR;                                                                                           \
    }

KELVO_DICOM_NUMBER_IMPL(KelvoDicomDataFloat, float, "FL")
KELVO_DICOM_NUMBER_IMPL(KelvoDicomDataDouble, double, "FD")
KELVO_DICOM_NUMBER_IMPL(KelvoDicomDataUnsignedLong, uint32_t, "UL")
KELVO_DICOM_NUMBER_IMPL(KelvoDicomDataSignedLong, int32_t, "SL")
KELVO_DICOM_NUMBER_IMPL(KelvoDicomDataUnsignedShort, uint16_t, "US")
KELVO_DICOM_NUMBER_IMPL(KelvoDicomDataSignedShort, int16_t, "SS")
