#include "VUXString.h"

#include "VUXUtils.h"

#include <cctype>
#include <cstring>
#include <istream>
#include <limits>
#include <memory>
#include <new>
#include <ostream>
#include <string>
#include <typeinfo>

namespace VUX {

namespace {

bool isSpace(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}
char toLowerChar(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}
char toUpperChar(char c) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

// A zeroed buffer of n bytes, or null.
char* newBuffer(uint64_t n) {
    if (n == 0 || n > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) ||
        n > std::numeric_limits<size_t>::max())
        return nullptr;
    return new (std::nothrow) char[static_cast<size_t>(n)]();
}

uint64_t textLength(VUXStringT<char> const& s) {
    return s.data() ? static_cast<uint64_t>(s.length()) : 0;
}

// Reads exactly n bytes; false on a short read.
bool readExactly(std::istream& stream, void* out, std::streamsize n) {
    stream.read(static_cast<char*>(out), n);
    return stream.gcount() == n;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// VUXStringT<char>

template <typename CharT> VUXStringT<CharT>::VUXStringT(uint32_t encoding) : _encoding(encoding) {}

template <typename CharT>
VUXStringT<CharT>::VUXStringT(VUXStringT const& other) : VUXObject(other), _encoding(other._encoding) {}

template <typename CharT> VUXStringT<CharT>::~VUXStringT() = default;

template <typename CharT> const char* VUXStringT<CharT>::className() const {
    return "VUXStringT";
}

template <typename CharT> bool VUXStringT<CharT>::isA(const char* name) const {
    return VUXObject::isA(name) || (name && std::strcmp(name, "VUXStringT") == 0);
}

template <typename CharT> void VUXStringT<CharT>::defaultStatus() {
    VUXObject::defaultStatus();
    _storage.defaultStatus();
}

template <typename CharT> uint16_t VUXStringT<CharT>::checksum() const {
    return bsdChecksum(data(), static_cast<uint64_t>(length()) * sizeof(CharT));
}

template <typename CharT> bool VUXStringT<CharT>::empty() const {
    return !VUXObject::isValid() || length() == 0;
}

template <typename CharT> VUXRange<int64_t> VUXStringT<CharT>::stringRange() const {
    return VUXRange<int64_t>(0, length());
}

template <typename CharT> const CharT* VUXStringT<CharT>::data() const {
    return _storage.length() ? static_cast<const CharT*>(_storage.data()) : nullptr;
}

template <typename CharT> VUXRawData const& VUXStringT<CharT>::bytes() const {
    return _storage;
}

template <typename CharT> VUXRawData* VUXStringT<CharT>::copyBytes() const {
    return new (std::nothrow) VUXRawData(_storage);
}

template <typename CharT> uint32_t VUXStringT<CharT>::encoding() const {
    return _encoding;
}

template <typename CharT> void VUXStringT<CharT>::append(VUXStringT const& s) {
    if (!isValid() || &s == this || s.length() == 0) return;
    _append(s);
}

template <typename CharT> void VUXStringT<CharT>::remove(VUXRange<int64_t> const& r) {
    if (!isValid()) return;
    if (!r.isValid() || r.left >= r.right || r.left < 0 || r.right > length()) {
        _error = vuxRangeErr;
        return;
    }
    _remove(r);
}

template <typename CharT> void VUXStringT<CharT>::insertAt(int64_t pos, VUXStringT const& s) {
    if (!isValid()) return;
    if (pos < 0) {
        _error = vuxParamErr;
        return;
    }
    if (pos < length()) {
        if (s.length() != 0) _insert(pos, s);
    } else {
        append(s);
    }
}

template <typename CharT> VUXStringT<CharT>* VUXStringT<CharT>::concat(VUXStringT const& s) const {
    if (!isValid()) return dynamic_cast<VUXStringT*>(s.clone());
    if (s.length() == 0) return dynamic_cast<VUXStringT*>(clone());
    return _concat(s);
}

template <typename CharT> VUXStringT<CharT>* VUXStringT<CharT>::subString(VUXRange<int64_t> const& r) const {
    if (empty()) return nullptr;
    if (!r.isValid() || r.left >= r.right) {
        const_cast<VUXStringT*>(this)->_error = vuxRangeErr;
        return nullptr;
    }
    VUXRange<int64_t> range(r.left, r.right);
    const int64_t end = length();
    if (range.left < 0) {
        range.left = 0;
        range.right = end;
    } else if (range.right > end) {
        range.right = end;
    }
    if (range.left > range.right) {
        const_cast<VUXStringT*>(this)->_error = vuxRangeErr;
        return nullptr;
    }
    return _extract(range);
}

template <typename CharT> int64_t VUXStringT<CharT>::find(VUXStringT const& s, bool caseSensitive) const {
    if (empty() || s.empty()) return kVUXStringNotFound;
    return _find(s, caseSensitive);
}

template <typename CharT>
VUXList<int64_t>* VUXStringT<CharT>::findAll(VUXStringT const& s, bool caseSensitive) const {
    if (empty() || s.empty()) return nullptr;
    return _findAll(s, caseSensitive);
}

template <typename CharT> void VUXStringT<CharT>::capitalize() {
    if (!empty()) _capitalize();
}
template <typename CharT> void VUXStringT<CharT>::trim() {
    if (!empty()) _trim();
}
template <typename CharT> void VUXStringT<CharT>::uppercase() {
    if (!empty()) _toUpper();
}
template <typename CharT> void VUXStringT<CharT>::lowercase() {
    if (!empty()) _toLower();
}

template <typename CharT>
void VUXStringT<CharT>::replace(VUXStringT const& target, VUXStringT const& with, bool caseSensitive) {
    if (empty() || target.empty()) return;
    const int64_t pos = find(target, caseSensitive);
    if (pos == kVUXStringNotFound) return;
    _replace(pos, static_cast<uint64_t>(target.length()), with);
}

template <typename CharT>
void VUXStringT<CharT>::replaceAll(VUXStringT const& target, VUXStringT const& with, bool caseSensitive) {
    std::unique_ptr<VUXList<int64_t>> positions(findAll(target, caseSensitive));
    if (!positions || positions->isEmpty()) return;
    _replaceAll(*positions, static_cast<uint64_t>(target.length()), with);
}

template <typename CharT> void VUXStringT<CharT>::_toStream(std::ostream& stream) const {
    const uint16_t mark = 1;
    const uint32_t encoding = _encoding;
    const uint64_t rawLength = _storage.length();
    stream.write(reinterpret_cast<const char*>(&mark), sizeof mark);
    stream.write(reinterpret_cast<const char*>(&encoding), sizeof encoding);
    stream.write(reinterpret_cast<const char*>(&rawLength), sizeof rawLength);
    if (rawLength && _storage.data())
        stream.write(static_cast<const char*>(_storage.data()), static_cast<std::streamsize>(rawLength));
}

template <typename CharT> void VUXStringT<CharT>::_fromStream(std::istream& stream) {
    auto refuse = [&]() {
        _error = vuxParamErr;
        stream.setstate(std::ios::failbit);
    };
    uint16_t mark = 0;
    uint32_t encoding = 0;
    uint64_t rawLength = 0;
    if (!readExactly(stream, &mark, sizeof mark) || !readExactly(stream, &encoding, sizeof encoding) ||
        !readExactly(stream, &rawLength, sizeof rawLength))
        return refuse();
    if (mark != 1) {
        if (mark != 0x0100) return refuse();
        encoding = __builtin_bswap32(encoding);
        rawLength = __builtin_bswap64(rawLength);
    }
    if (rawLength % sizeof(CharT) != 0) return refuse();

    if (rawLength == 0) {
        _storage.defaultStatus();
        _encoding = encoding;
        return;
    }

    // A length is believed only as far as the stream holds bytes behind it.
    char* buffer = nullptr;
    const std::istream::pos_type here = stream.tellg();
    if (here != std::istream::pos_type(-1)) {
        stream.seekg(0, std::ios::end);
        const std::istream::pos_type end = stream.tellg();
        stream.seekg(here);
        if (end == std::istream::pos_type(-1) || !stream) return refuse();
        if (rawLength > static_cast<uint64_t>(end - here)) return refuse();
        buffer = newBuffer(rawLength);
        if (!buffer) {
            _error = vuxMemFullErr;
            stream.seekg(static_cast<std::streamoff>(rawLength), std::ios::cur);
            return;
        }
        if (!readExactly(stream, buffer, static_cast<std::streamsize>(rawLength))) {
            delete[] buffer;
            return refuse();
        }
    } else {
        // A stream that cannot tell its size is read in pieces, so that memory follows the
        // bytes that really come.
        std::string bytes;
        char chunk[65536];
        while (bytes.size() < rawLength) {
            const auto want = static_cast<std::streamsize>(
                rawLength - bytes.size() < sizeof chunk ? rawLength - bytes.size() : sizeof chunk);
            stream.read(chunk, want);
            bytes.append(chunk, static_cast<size_t>(stream.gcount()));
            if (stream.gcount() != want) break;
        }
        if (bytes.size() != rawLength) return refuse();
        buffer = newBuffer(rawLength);
        if (!buffer) {
            _error = vuxMemFullErr;
            return;
        }
        std::memcpy(buffer, bytes.data(), bytes.size());
    }
    if (buffer[rawLength - 1] != 0) {
        delete[] buffer;
        return refuse();
    }
    _encoding = encoding;
    adoptBuffer(reinterpret_cast<CharT*>(buffer), rawLength / sizeof(CharT));
}

template <typename CharT> bool VUXStringT<CharT>::_compare(VUXObject const& other) const {
    auto const& o = dynamic_cast<VUXStringT<char> const&>(other);
    if (o._encoding != _encoding || o._storage.length() != _storage.length()) return false;
    if (_storage.length() == 0) return true;
    if (!_storage.data() || !o._storage.data()) return _storage.data() == o._storage.data();
    return std::memcmp(_storage.data(), o._storage.data(), static_cast<size_t>(_storage.length())) == 0;
}

template <typename CharT> void VUXStringT<CharT>::_copy(VUXObject const& other) {
    auto const& o = dynamic_cast<VUXStringT<char> const&>(other);
    _encoding = o._encoding;
    _storage = o._storage;
}

template <typename CharT> void VUXStringT<CharT>::adoptBuffer(CharT* buffer, uint64_t rawLength) {
    _storage.wrapData(buffer, rawLength * sizeof(CharT), true);
}

template <typename CharT> bool VUXStringT<CharT>::ownStorage() {
    if (_storage.isDataOwner() || _storage.length() == 0) return true;
    char* buffer = newBuffer(_storage.length());
    if (!buffer) {
        _error = vuxMemFullErr;
        return false;
    }
    std::memcpy(buffer, _storage.data(), static_cast<size_t>(_storage.length()));
    _storage.wrapData(buffer, _storage.length(), true);
    return true;
}

template class VUXStringT<char>;

// ---------------------------------------------------------------------------------------------
// VUXCString

VUXCString::VUXCString() : VUXStringT<char>(kVUXStringEncodingASCII) {}

VUXCString::VUXCString(const char* s) : VUXStringT<char>(kVUXStringEncodingASCII) {
    _initWithCString(s);
}

VUXCString::VUXCString(const void* bytes, uint64_t size, bool wrap)
    : VUXStringT<char>(kVUXStringEncodingASCII) {
    if (!bytes || size == 0) return;
    const char* text = static_cast<const char*>(bytes);
    if (wrap && text[size - 1] == 0) {
        _storage.wrapData(bytes, size, false);
        return;
    }
    const uint64_t count = wrap ? size - 1 : size;
    char* buffer = newBuffer(count + 1);
    if (!buffer) {
        _error = vuxMemFullErr;
        return;
    }
    std::memcpy(buffer, text, static_cast<size_t>(count));
    adoptBuffer(buffer, count + 1);
}

VUXCString::VUXCString(VUXCString const& other) : VUXStringT<char>(other) {
    _storage = other._storage;
}

VUXCString::~VUXCString() = default;

const char* VUXCString::className() const {
    return "VUXCString";
}

VUXCString& VUXCString::operator=(VUXCString const& other) {
    copy(other);
    return *this;
}

VUXCString& VUXCString::operator=(const char* s) {
    _initWithCString(s);
    return *this;
}

VUXCString& VUXCString::operator+=(const char* s) {
    if (!s || !*s) return *this;
    const uint64_t oldLength = textLength(*this);
    const uint64_t addLength = std::strlen(s);
    char* buffer = newBuffer(oldLength + addLength + 1);
    if (!buffer) {
        _error = vuxMemFullErr;
        return *this;
    }
    // `s` may point into this string: read both before the old buffer goes.
    if (oldLength) std::memcpy(buffer, data(), static_cast<size_t>(oldLength));
    std::memcpy(buffer + oldLength, s, static_cast<size_t>(addLength));
    adoptBuffer(buffer, oldLength + addLength + 1);
    return *this;
}

VUXCString& VUXCString::operator()(const void* bytes, uint64_t size, bool adopt) {
    if (!bytes || size == 0) {
        defaultStatus();
        return *this;
    }
    if (adopt) {
        // Handing the string its own buffer leaves nothing to take over.
        if (bytes == _storage.data()) return *this;
        defaultStatus();
        char* buffer = static_cast<char*>(const_cast<void*>(bytes));
        buffer[size - 1] = 0; // the buffer is ours now: make sure the text ends inside it
        adoptBuffer(buffer, size);
        return *this;
    }
    // The bytes may lie inside this string's buffer: they are copied before it goes.
    char* buffer = newBuffer(size + 1);
    if (!buffer) {
        defaultStatus();
        _error = vuxMemFullErr;
        return *this;
    }
    std::memcpy(buffer, bytes, static_cast<size_t>(size));
    defaultStatus();
    adoptBuffer(buffer, size + 1);
    return *this;
}

int64_t VUXCString::length() const {
    const uint64_t raw = _storage.length();
    return raw ? static_cast<int64_t>(raw - 1) : 0;
}

VUXObject* VUXCString::_clone() const {
    return new (std::nothrow) VUXCString(*this);
}

void VUXCString::_readableDescription(std::ostream& stream) const {
    if (data()) {
        stream << "<value>";
        // The text is shown as markup-safe characters so that the description stays well-formed.
        for (const char* p = data(); *p; ++p) {
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
            default:
                stream << *p;
            }
        }
        stream << "</value>\n<length>";
    } else {
        stream << "<value/>\n<length>";
    }
    stream << static_cast<uint64_t>(length()) << "</length>\n";
}

void VUXCString::_initWithCString(const char* s) {
    if (!s || !*s) return;
    const uint64_t n = std::strlen(s) + 1;
    if (!_storage.alloc(n, s)) _error = _storage.error();
}

void VUXCString::_append(VUXStringT<char> const& s) {
    const uint64_t oldLength = textLength(*this);
    const uint64_t addLength = textLength(s);
    char* buffer = newBuffer(oldLength + addLength + 1);
    if (!buffer) {
        _error = vuxMemFullErr;
        return;
    }
    if (oldLength) std::memcpy(buffer, data(), static_cast<size_t>(oldLength));
    if (addLength) std::memcpy(buffer + oldLength, s.data(), static_cast<size_t>(addLength));
    adoptBuffer(buffer, oldLength + addLength + 1);
}

VUXStringT<char>* VUXCString::_concat(VUXStringT<char> const& s) const {
    const uint64_t aLength = textLength(*this);
    const uint64_t bLength = textLength(s);
    auto* result = new (std::nothrow) VUXCString();
    if (!result) return nullptr;
    char* buffer = newBuffer(aLength + bLength + 1);
    if (!buffer) {
        const_cast<VUXCString*>(this)->_error = vuxMemFullErr;
        return result;
    }
    if (aLength) std::memcpy(buffer, data(), static_cast<size_t>(aLength));
    if (bLength) std::memcpy(buffer + aLength, s.data(), static_cast<size_t>(bLength));
    result->adoptBuffer(buffer, aLength + bLength + 1);
    return result;
}

void VUXCString::_insert(int64_t pos, VUXStringT<char> const& s) {
    const uint64_t oldLength = textLength(*this);
    const uint64_t addLength = textLength(s);
    if (pos < 0 || static_cast<uint64_t>(pos) > oldLength) {
        _error = vuxParamErr;
        return;
    }
    const auto at = static_cast<size_t>(pos);
    char* buffer = newBuffer(oldLength + addLength + 1);
    if (!buffer) {
        _error = vuxMemFullErr;
        return;
    }
    // `s` may be this very string: both are read before the old buffer goes.
    if (at) std::memcpy(buffer, data(), at);
    if (addLength) std::memcpy(buffer + at, s.data(), static_cast<size_t>(addLength));
    if (oldLength > at)
        std::memcpy(buffer + at + addLength, data() + at, static_cast<size_t>(oldLength) - at);
    adoptBuffer(buffer, oldLength + addLength + 1);
}

void VUXCString::_remove(VUXRange<int64_t> const& r) {
    const auto oldLength = static_cast<int64_t>(textLength(*this));
    // The terminating NUL is never among the removed characters.
    const int64_t left = r.left;
    const int64_t right = r.right < oldLength ? r.right : oldLength - 1;
    if (left < 0 || left > right) {
        _error = vuxRangeErr;
        return;
    }
    const int64_t removed = right - left + 1;
    const uint64_t newLength = static_cast<uint64_t>(oldLength - removed);
    char* buffer = newBuffer(newLength + 1);
    if (!buffer) {
        _error = vuxMemFullErr;
        return;
    }
    if (left) std::memcpy(buffer, data(), static_cast<size_t>(left));
    if (oldLength > right + 1)
        std::memcpy(buffer + left, data() + right + 1, static_cast<size_t>(oldLength - right - 1));
    adoptBuffer(buffer, newLength + 1);
}

VUXStringT<char>* VUXCString::_extract(VUXRange<int64_t> const& r) const {
    auto* result = new (std::nothrow) VUXCString();
    if (!result) return nullptr;
    // Up to the terminating NUL, which a range ending at length() takes as its last character.
    if (r.left < 0 || r.left > r.right || r.right > length() || !data()) return result;
    const uint64_t count = static_cast<uint64_t>(r.right - r.left + 1);
    char* buffer = newBuffer(count + 1);
    if (!buffer) {
        const_cast<VUXCString*>(this)->_error = vuxMemFullErr;
        return result;
    }
    std::memcpy(buffer, data() + r.left, static_cast<size_t>(count));
    result->adoptBuffer(buffer, count + 1);
    return result;
}

int64_t VUXCString::_find(VUXStringT<char> const& s, bool caseSensitive) const {
    return _find(data(), s.data(), caseSensitive);
}

int64_t VUXCString::_find(const char* text, const char* pattern, bool caseSensitive) const {
    if (!text || !pattern || !*pattern) return kVUXStringNotFound;
    const size_t textLen = std::strlen(text);
    const size_t patternLen = std::strlen(pattern);
    if (patternLen > textLen) return kVUXStringNotFound;
    for (size_t i = 0; i + patternLen <= textLen; ++i) {
        size_t k = 0;
        if (caseSensitive) {
            while (k < patternLen && text[i + k] == pattern[k])
                ++k;
        } else {
            while (k < patternLen && toLowerChar(text[i + k]) == toLowerChar(pattern[k]))
                ++k;
        }
        if (k == patternLen) return static_cast<int64_t>(i);
    }
    return kVUXStringNotFound;
}

VUXList<int64_t>* VUXCString::_findAll(VUXStringT<char> const& s, bool caseSensitive) const {
    auto* positions = new (std::nothrow) VUXList<int64_t>(0, true);
    if (!positions) return nullptr;
    const char* text = data();
    const char* pattern = s.data();
    if (!text || !pattern || !*pattern) return positions;
    const size_t textLen = std::strlen(text);
    const auto patternLen = static_cast<int64_t>(std::strlen(pattern));
    int64_t point = 0;
    while (static_cast<size_t>(point) <= textLen) {
        const int64_t found = _find(text + point, pattern, caseSensitive);
        if (found == kVUXStringNotFound) break;
        const int64_t position = point + found;
        if (!positions->append(position)) break;
        point = position + patternLen;
    }
    return positions;
}

void VUXCString::_replace(int64_t pos, uint64_t count, VUXStringT<char> const& with) {
    VUXList<int64_t> positions(1, true);
    positions.append(pos);
    _replaceAll(positions, count, with);
}

void VUXCString::_replaceAll(VUXContainer<int64_t> const& positions, uint64_t count,
                             VUXStringT<char> const& with) {
    const uint64_t oldLength = textLength(*this);
    const uint64_t withLength = textLength(with);
    const int64_t n = positions.count();
    if (n <= 0) return;
    // The positions must be ascending, apart and inside the text.
    uint64_t nextFree = 0;
    for (int64_t i = 0; i < n; ++i) {
        const int64_t p = positions.item(i);
        if (p < 0 || static_cast<uint64_t>(p) < nextFree || count > oldLength ||
            static_cast<uint64_t>(p) > oldLength - count) {
            _error = vuxParamErr;
            return;
        }
        nextFree = static_cast<uint64_t>(p) + (count ? count : 1);
    }
    const uint64_t un = static_cast<uint64_t>(n);
    if (withLength &&
        un > (static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) - oldLength) / withLength) {
        _error = vuxMemFullErr;
        return;
    }
    const uint64_t newLength = oldLength - un * count + un * withLength;
    char* buffer = newBuffer(newLength + 1);
    if (!buffer) {
        _error = vuxMemFullErr;
        return;
    }
    // `with` may be this very string: everything is read from the old buffer.
    const char* text = data();
    const char* replacement = with.data();
    uint64_t from = 0, to = 0;
    for (int64_t i = 0; i < n; ++i) {
        const auto p = static_cast<uint64_t>(positions.item(i));
        std::memcpy(buffer + to, text + from, static_cast<size_t>(p - from));
        to += p - from;
        if (withLength) std::memcpy(buffer + to, replacement, static_cast<size_t>(withLength));
        to += withLength;
        from = p + count;
    }
    if (oldLength > from) std::memcpy(buffer + to, text + from, static_cast<size_t>(oldLength - from));
    adoptBuffer(buffer, newLength + 1);
}

void VUXCString::_capitalize() {
    if (!ownStorage()) return;
    char* text = static_cast<char*>(_storage.data());
    const auto n = static_cast<size_t>(length());
    // The first character and every character behind whitespace; a run of whitespace before a
    // word still capitalises the word.
    for (size_t i = 0; i < n; ++i)
        if (i == 0 || isSpace(text[i - 1])) text[i] = toUpperChar(text[i]);
}

void VUXCString::_trim() {
    const auto n = static_cast<size_t>(length());
    const char* text = data();
    size_t first = 0;
    while (first < n && isSpace(text[first]))
        ++first;
    if (first == n) {
        _storage.defaultStatus();
        return;
    }
    size_t last = n - 1;
    while (last > first && isSpace(text[last]))
        --last;
    const size_t keep = last - first + 1;
    if (first == 0 && keep == n) return;
    char* buffer = newBuffer(keep + 1);
    if (!buffer) {
        _error = vuxMemFullErr;
        return;
    }
    std::memcpy(buffer, text + first, keep);
    adoptBuffer(buffer, keep + 1);
    if (!_storage.isValid()) _error = _storage.error();
}

void VUXCString::_toUpper() {
    if (!ownStorage()) return;
    char* text = static_cast<char*>(_storage.data());
    for (int64_t i = 0; i < length(); ++i)
        text[i] = toUpperChar(text[i]);
}

void VUXCString::_toLower() {
    if (!ownStorage()) return;
    char* text = static_cast<char*>(_storage.data());
    for (int64_t i = 0; i < length(); ++i)
        text[i] = toLowerChar(text[i]);
}

VUXCString operator+(VUXCString const& a, VUXCString const& b) {
    const uint64_t aLength = a.data() ? static_cast<uint64_t>(a.length()) : 0;
    const uint64_t bLength = b.data() ? static_cast<uint64_t>(b.length()) : 0;
    VUXCString result;
    char* buffer = newBuffer(aLength + bLength + 1);
    if (!buffer) return result;
    if (aLength) std::memcpy(buffer, a.data(), static_cast<size_t>(aLength));
    if (bLength) std::memcpy(buffer + aLength, b.data(), static_cast<size_t>(bLength));
    result(buffer, aLength + bLength + 1, true);
    return result;
}

} // namespace VUX
