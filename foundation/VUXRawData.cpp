#include "VUXRawData.h"

#include "VUXUtils.h"

#include <algorithm>
#include <limits>
#include <new>
#include <vector>

namespace VUX {

namespace {

// Lengths are kept in a signed 64-bit field.
constexpr uint64_t kMaxLength = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());

// Zeroed bytes, or null when they cannot be had.
char* allocateBytes(uint64_t length) {
    if (length == 0 || length > kMaxLength || length > std::numeric_limits<size_t>::max()) return nullptr;
    return new (std::nothrow) char[static_cast<size_t>(length)]();
}

} // namespace

VUXRawData::VUXRawData() : _dataOwner(false) {}

VUXRawData::VUXRawData(uint64_t length) : _dataOwner(false) {
    alloc(length, nullptr);
}

VUXRawData::VUXRawData(VUXRawBlock const& block, bool copy) : _dataOwner(false) {
    const void* address = reinterpret_cast<const void*>(block.left);
    const uint64_t length = block.right > 0 ? static_cast<uint64_t>(block.right) : 0;
    if (copy)
        alloc(length, address);
    else
        wrapData(address, length, false);
}

VUXRawData::VUXRawData(VUXRawData const& other) : VUXObject(other), _dataOwner(false) {
    _copy(other);
}

VUXRawData::~VUXRawData() {
    release();
}

void VUXRawData::release() {
    if (_dataOwner && _block.left != 0) delete[] reinterpret_cast<char*>(_block.left);
    _block.left = 0;
    _block.right = 0;
    _dataOwner = false;
}

void VUXRawData::take(char* bytes, uint64_t length, bool owner) {
    _block.left = reinterpret_cast<intptr_t>(bytes);
    _block.right = static_cast<int64_t>(length);
    _dataOwner = owner;
}

bool VUXRawData::alloc(uint64_t length, const void* source) {
    if (source && source == data()) return length == this->length();
    char* fresh = nullptr;
    if (length != 0) {
        fresh = allocateBytes(length);
        if (!fresh) {
            _error = vuxMemFullErr;
            return false;
        }
        // The source may lie inside the bytes about to be released: copy before releasing.
        if (source) std::memcpy(fresh, source, static_cast<size_t>(length));
    }
    defaultStatus();
    if (fresh) take(fresh, length, true);
    return this->length() == length;
}

bool VUXRawData::allocWithData(const void* source, uint64_t length) {
    if (!source) {
        _error = vuxNullParamErr;
        return false;
    }
    return alloc(length, source);
}

void VUXRawData::wrapData(const void* source, uint64_t length, bool owner) {
    if (length > kMaxLength) length = 0;
    if (source && source == data()) {
        // The same bytes: never free what is about to be kept.
        _block.right = static_cast<int64_t>(length);
        _dataOwner = _dataOwner || owner;
        _error = vuxNoErr;
        return;
    }
    defaultStatus();
    take(static_cast<char*>(const_cast<void*>(source)), length, owner && source != nullptr);
}

bool VUXRawData::resize(uint64_t length) {
    if (length == this->length()) return true;
    char* fresh = nullptr;
    if (length != 0) {
        fresh = allocateBytes(length);
        if (!fresh) {
            _error = vuxMemFullErr;
            return false;
        }
        const uint64_t keep = std::min(length, this->length());
        if (keep && data()) std::memcpy(fresh, data(), static_cast<size_t>(keep));
    }
    const int32_t error = _error;
    release();
    _error = error;
    if (fresh) take(fresh, length, true);
    return true;
}

void VUXRawData::zeroed() {
    if (length() && data()) std::memset(data(), 0, static_cast<size_t>(length()));
}

uint16_t VUXRawData::checkSum() const {
    if (!isValid()) return 0;
    return bsdChecksum(data(), length());
}

VUXRawData& VUXRawData::operator=(VUXRawData const& other) {
    copy(other);
    return *this;
}

VUXRawData& VUXRawData::operator=(VUXRawBlock const& block) {
    alloc(block.right > 0 ? static_cast<uint64_t>(block.right) : 0,
          reinterpret_cast<const void*>(block.left));
    return *this;
}

VUXRawData& VUXRawData::operator+=(VUXRawData const& other) {
    if (&other == this || other.data() == data() || !other._dataOwner) return *this;
    const uint64_t oldLength = length();
    const uint64_t addLength = other.length();
    if (addLength > kMaxLength - oldLength) {
        _error = vuxMemFullErr;
        return *this;
    }
    if (resize(oldLength + addLength) && addLength)
        std::memcpy(static_cast<char*>(data()) + oldLength, other.data(), static_cast<size_t>(addLength));
    return *this;
}

VUXRawData& VUXRawData::operator+=(uint64_t n) {
    if (n > kMaxLength - length()) {
        _error = vuxMemFullErr;
        return *this;
    }
    resize(length() + n);
    return *this;
}

VUXRawData& VUXRawData::operator-=(uint64_t n) {
    if (n > length())
        defaultStatus();
    else
        resize(length() - n);
    return *this;
}

const char* VUXRawData::className() const {
    return "VUXRawData";
}

bool VUXRawData::isValid() const {
    return _block.left != 0 || _block.right == 0;
}

void VUXRawData::defaultStatus() {
    VUXObject::defaultStatus();
    release();
}

VUXObject* VUXRawData::_clone() const {
    return new VUXRawData(*this);
}

void VUXRawData::_readableDescription(std::ostream& stream) const {
    stream << "<dataOwner>" << (_dataOwner ? "YES" : "NO") << "</dataOwner>\n"
           << "<address>" << data() << "</address>\n<length>" << length() << "</length>\n";
}

void VUXRawData::_toStream(std::ostream& stream) const {
    if (length() && data())
        stream.write(static_cast<const char*>(data()), static_cast<std::streamsize>(length()));
}

void VUXRawData::_fromStream(std::istream& stream) {
    const std::istream::pos_type start = stream.tellg();
    if (start != std::istream::pos_type(-1) && stream.seekg(0, std::ios::end)) {
        const std::istream::pos_type end = stream.tellg();
        stream.seekg(start);
        const std::streamoff n = end - start;
        if (n < 0 || !stream) return;
        if (!alloc(static_cast<uint64_t>(n), nullptr) || !isValid()) return;
        if (n) stream.read(static_cast<char*>(data()), n);
        return;
    }
    // A stream that cannot seek: read what is left in pieces.
    stream.clear(stream.rdstate() & ~std::ios::failbit);
    std::vector<char> bytes;
    char chunk[4096];
    while (stream.read(chunk, sizeof chunk) || stream.gcount() > 0)
        bytes.insert(bytes.end(), chunk, chunk + stream.gcount());
    if (alloc(bytes.size(), bytes.empty() ? nullptr : bytes.data()) && !bytes.empty())
        std::memcpy(data(), bytes.data(), bytes.size());
}

bool VUXRawData::_compare(VUXObject const& other) const {
    auto const& o = dynamic_cast<VUXRawData const&>(other);
    if (o.length() != length() || o._dataOwner != _dataOwner) return false;
    if (!_dataOwner) return o.data() == data();
    if (length() == 0) return true;
    return std::memcmp(data(), o.data(), static_cast<size_t>(length())) == 0;
}

void VUXRawData::_copy(VUXObject const& other) {
    auto const& o = dynamic_cast<VUXRawData const&>(other);
    if (o._dataOwner) {
        // Referring to the other's own bytes is no copy of them: forget them first.
        if (!_dataOwner && data() == o.data()) take(nullptr, 0, false);
        alloc(o.length(), o.data());
    } else {
        wrapData(o.data(), o.length(), false);
    }
}

VUXRawData operator+(VUXRawData const& a, VUXRawData const& b) {
    VUXRawData sum(a.length() + b.length());
    if (!sum.isValid() || sum.length() != a.length() + b.length()) return sum;
    char* out = static_cast<char*>(sum.data());
    if (a.isDataOwner() && a.length()) {
        std::memcpy(out, a.data(), static_cast<size_t>(a.length()));
        out += a.length();
    }
    if (b.isDataOwner() && b.length()) std::memcpy(out, b.data(), static_cast<size_t>(b.length()));
    return sum;
}

} // namespace VUX
