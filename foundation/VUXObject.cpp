#include "VUXObject.h"

#include "PlatformRandom.h"

#include <cstdio>
#include <cstring>
#include <istream>
#include <ostream>

namespace VUX {

VUXObject::VUXObject() : _error(vuxNoErr) {
    makeIdentifier();
}

VUXObject::VUXObject(VUXObject const& other) : _error(other._error) {
    makeIdentifier();
}

VUXObject::~VUXObject() = default;

// The identifier is a label made of three draws of the process's private generator. It is
// never reseeded here, so objects made in quick succession still get different labels and no
// other user of a random generator in the process sees its sequence disturbed.
void VUXObject::makeIdentifier() {
    std::memset(_uid, 0, sizeof _uid);
    const unsigned long r1 = static_cast<unsigned long>(platform::random31());
    const unsigned long r2 = static_cast<unsigned long>(platform::random31());
    const unsigned long r3 = static_cast<unsigned long>(platform::random31());
    // At most 31 characters and the terminator: three 10-digit draws are cut short.
    const int written = std::snprintf(_uid, 32, "%lu.%lu.%lu", r1, r2, r3);
    (void)written;
}

bool VUXObject::isValidInstance(VUXObject*& object, int32_t& error, bool deleteIfInvalid) {
    if (!object) {
        error = vuxNullParamErr;
        return false;
    }
    if (object->isValid()) {
        error = vuxNoErr;
        return true;
    }
    error = object->error();
    if (deleteIfInvalid) {
        delete object;
        object = nullptr;
    }
    return false;
}

VUXObject& VUXObject::operator=(VUXObject const& other) {
    copy(other);
    return *this;
}

const char* VUXObject::className() const {
    return "VUXObject";
}

bool VUXObject::isA(const char* name) const {
    if (!name) return false;
    return std::strcmp(name, className()) == 0;
}

std::ostream& VUXObject::readableDescription(std::ostream& stream) const {
    stream << "<Object\tclass=" << className() << " uid=\"" << _uid
           << "\" valid=" << (isValid() ? "\"YES\"" : "\"NO\"") << " Error=\"" << static_cast<long>(error())
           << "\">\n";
    _readableDescription(stream);
    stream << "</Object>\n";
    return stream;
}

bool VUXObject::equal(VUXObject const& other) const {
    if (&other == this) return true;
    if (!isA(other.className())) return false;
    return _compare(other);
}

VUXObject* VUXObject::clone() const {
    if (!isValid()) return nullptr;
    return _clone();
}

void VUXObject::copy(VUXObject const& other) {
    if (&other == this || !isA(other.className())) return;
    _copy(other);
}

bool VUXObject::isValid() const {
    return true;
}

void VUXObject::defaultStatus() {
    _error = vuxNoErr;
}

int32_t VUXObject::error() const {
    return _error;
}

std::ostream& VUXObject::write(std::ostream& stream) const {
    if (!stream.good()) return stream;
    _toStream(stream);
    return stream;
}

std::istream& VUXObject::read(std::istream& stream) {
    if (!stream.good()) return stream;
    _fromStream(stream);
    return stream;
}

VUXObject* VUXObject::_clone() const {
    return nullptr;
}

void VUXObject::_readableDescription(std::ostream&) const {}

void VUXObject::_toStream(std::ostream& stream) const {
    stream << className() << ' ' << _uid;
}

void VUXObject::_fromStream(std::istream&) {}

bool VUXObject::_compare(VUXObject const&) const {
    return false;
}

void VUXObject::_copy(VUXObject const&) {}

std::ostream& operator<<(std::ostream& stream, VUXObject const& object) {
    return object.write(stream);
}

std::istream& operator>>(std::istream& stream, VUXObject& object) {
    return object.read(stream);
}

} // namespace VUX
