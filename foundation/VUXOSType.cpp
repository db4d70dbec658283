#include "VUXOSType.h"

#include "VUXUtils.h"

#include <cstring>
#include <istream>
#include <ostream>
#include <typeinfo>

namespace VUX {

VUXOSType::VUXOSType() : _text{}, _code(0) {}

VUXOSType::VUXOSType(uint32_t code) : _text{}, _code(0) {
    value(code);
}

VUXOSType::VUXOSType(const char* text) : _text{}, _code(0) {
    stringValue(text);
}

VUXOSType::VUXOSType(CFStringRef string) : _text{}, _code(0) {
    value(string ? UTGetOSTypeFromString(string) : 0);
}

VUXOSType::VUXOSType(VUXOSType const& other) : VUXObject(other), _text{}, _code(0) {
    value(other._code);
}

VUXOSType::~VUXOSType() = default;

VUXOSType* VUXOSType::createWithString(CFStringRef string) {
    return new VUXOSType(string);
}

void VUXOSType::value(uint32_t code) {
    std::memset(_text, 0, sizeof _text);
    _code = code;
    ostypeToChar(code, _text);
}

int32_t VUXOSType::stringValue(const char* text) {
    std::memset(_text, 0, sizeof _text);
    _error = charToOSType(text, _code);
    if (_error == vuxNoErr) std::memcpy(_text, text, 4);
    return _error;
}

VUXOSType& VUXOSType::operator=(uint32_t code) {
    value(code);
    return *this;
}

VUXOSType& VUXOSType::operator=(const char* text) {
    stringValue(text);
    return *this;
}

VUXOSType& VUXOSType::operator=(CFStringRef string) {
    if (string) value(UTGetOSTypeFromString(string));
    return *this;
}

VUXOSType& VUXOSType::operator=(VUXOSType const& other) {
    return dynamic_cast<VUXOSType&>(VUXObject::operator=(other));
}

VUXOSType::operator CFStringRef() const {
    return UTCreateStringForOSType(_code);
}

CFStringRef VUXOSType::stringFromOSType(VUXOSType const& type) {
    return UTCreateStringForOSType(type._code);
}

uint32_t VUXOSType::nativeToBigEndian(uint32_t code) {
    if (code == 0 || !isPlatformLittleEndian()) return code;
    return (code >> 24) | ((code >> 8) & 0x0000FF00u) | ((code << 8) & 0x00FF0000u) | (code << 24);
}

uint32_t VUXOSType::bigEndianToNative(uint32_t code) {
    return nativeToBigEndian(code);
}

VUXOSType VUXOSType::swap() const {
    const uint32_t c = _code;
    return VUXOSType((c >> 24) | ((c >> 8) & 0x0000FF00u) | ((c << 8) & 0x00FF0000u) | (c << 24));
}

VUXOSType VUXOSType::toBigEndian() const {
    return VUXOSType(nativeToBigEndian(_code));
}

VUXOSType VUXOSType::toNative() const {
    return VUXOSType(nativeToBigEndian(_code));
}

const char* VUXOSType::className() const {
    return "VUXOSType";
}

bool VUXOSType::isA(const char* name) const {
    if (VUXObject::isA(name)) return true;
    return name && std::strcmp(name, "VUXOSType") == 0;
}

void VUXOSType::defaultStatus() {
    std::memset(_text, 0, sizeof _text);
    _code = 0;
}

VUXObject* VUXOSType::_clone() const {
    return new VUXOSType(*this);
}

void VUXOSType::_readableDescription(std::ostream& stream) const {
    stream << "<ostype>" << static_cast<unsigned long>(_code) << "</ostype>\n<stringValue>";
    // The characters of a code can be anything; the markup characters among them are escaped so
    // that the description stays well-formed.
    for (const char* p = _text; *p; ++p) {
        switch (*p) {
        case '&':
            stream << "&amp;";
            break;
        case '<':
            stream << "&lt;";
            break;
        case '>':
            stream << "&gt;";
            break;
        case '"':
            stream << "&quot;";
            break;
        case '\'':
            stream << "&apos;";
            break;
        default:
            stream << *p;
        }
    }
    stream << "</stringValue>\n";
}

void VUXOSType::_toStream(std::ostream& stream) const {
    char bytes[4];
    ostypeToChar(_code, bytes);
    stream.write(bytes, 4);
}

void VUXOSType::_fromStream(std::istream& stream) {
    unsigned char bytes[4] = {0, 0, 0, 0};
    stream.read(reinterpret_cast<char*>(bytes), 4);
    value((uint32_t(bytes[0]) << 24) | (uint32_t(bytes[1]) << 16) | (uint32_t(bytes[2]) << 8) |
          uint32_t(bytes[3]));
}

bool VUXOSType::_compare(VUXObject const& other) const {
    return _code == dynamic_cast<VUXOSType const&>(other)._code;
}

void VUXOSType::_copy(VUXObject const& other) {
    value(dynamic_cast<VUXOSType const&>(other)._code);
}

} // namespace VUX
