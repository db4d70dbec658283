// Conversions of VUXCString between one text and many (split, paragraphs, join) and between
// text and bytes (hexadecimal and base64). Bad input gives shorter or empty results; nothing
// here sets a status.
#include "VUXString.h"

#include "VUXUtils.h"

#include <cctype>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

namespace VUX {

namespace {

const char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

char* newBuffer(uint64_t n) {
    if (n == 0 || n > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) ||
        n > std::numeric_limits<size_t>::max())
        return nullptr;
    return new (std::nothrow) char[static_cast<size_t>(n)]();
}

// A new string of the `count` characters at `text` (none: an empty string without storage).
VUXCString* newField(const char* text, uint64_t count) {
    return new (std::nothrow) VUXCString(text, count, false);
}

int base64Value(char c) {
    const char* at = std::strchr(kBase64Alphabet, c);
    return (c && at) ? static_cast<int>(at - kBase64Alphabet) : -1;
}

bool isBase64Char(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '/';
}

} // namespace

VUXArray<VUXObject*>* VUXCString::split(VUXStringT<char> const& separator) const {
    std::unique_ptr<VUXList<int64_t>> positions(findAll(separator, true));
    if (!positions || positions->isEmpty()) {
        auto* fields = new (std::nothrow) VUXArray<VUXObject*>(1, true);
        if (!fields) return nullptr;
        VUXObject* whole = new (std::nothrow) VUXCString(*this);
        fields->append(whole, true);
        return fields;
    }
    const int64_t n = positions->count();
    auto* fields = new (std::nothrow) VUXArray<VUXObject*>(n + 1, false);
    if (!fields) return nullptr;
    const char* text = data();
    const auto sepLength = static_cast<uint64_t>(separator.length());
    uint64_t start = 0;
    for (int64_t i = 0; i <= n; ++i) {
        const uint64_t end =
            i < n ? static_cast<uint64_t>(positions->item(i)) : static_cast<uint64_t>(length());
        VUXObject* field = newField(text + start, end - start);
        fields->append(field, true);
        start = end + sepLength;
    }
    return fields;
}

VUXList<VUXRange<int64_t>>* VUXCString::paragraphs() const {
    auto* list = new (std::nothrow) VUXList<VUXRange<int64_t>>(0, true);
    if (!list || empty()) return list;
    const char* text = data();
    const int64_t n = length();
    int64_t start = 0;
    for (int64_t p = 0; p < n; ++p) {
        if (text[p] == '\n' || text[p] == '\f' || text[p] == '\r') {
            list->append(VUXRange<int64_t>(start, p - 1));
            start = p + 1;
        }
    }
    list->append(VUXRange<int64_t>(start, n - 1));
    return list;
}

VUXCString* VUXCString::join(VUXContainer<char*> const& items, VUXCString const& separator) {
    auto* result = new (std::nothrow) VUXCString();
    const int64_t n = items.count();
    if (!result || n <= 0) return result;
    const uint64_t sepLength = separator.data() ? static_cast<uint64_t>(separator.length()) : 0;
    uint64_t total = 1;
    for (int64_t i = 0; i < n; ++i) {
        const char* item = items.item(i);
        total += item ? std::strlen(item) : 0; // a null item joins as an empty one
    }
    total += static_cast<uint64_t>(n - 1) * sepLength;
    char* buffer = newBuffer(total);
    if (!buffer) return result;
    uint64_t at = 0;
    for (int64_t i = 0; i < n; ++i) {
        if (i > 0 && sepLength) {
            std::memcpy(buffer + at, separator.data(), static_cast<size_t>(sepLength));
            at += sepLength;
        }
        if (const char* item = items.item(i)) {
            const size_t len = std::strlen(item);
            std::memcpy(buffer + at, item, len);
            at += len;
        }
    }
    result->adoptBuffer(buffer, total);
    return result;
}

VUXCString* VUXCString::hexEncode(VUXCString const& text) {
    auto* result = new (std::nothrow) VUXCString();
    const uint64_t n = text.data() ? static_cast<uint64_t>(text.length()) : 0;
    if (!result || n == 0) return result;
    if (n > (static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) - 1) / 2) return result;
    char* buffer = newBuffer(2 * n + 1);
    if (!buffer) return result;
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    char digits[3];
    for (uint64_t i = 0; i < n; ++i) {
        charToHex(bytes[i], digits);
        buffer[2 * i] = digits[0];
        buffer[2 * i + 1] = digits[1];
    }
    result->adoptBuffer(buffer, 2 * n + 1);
    return result;
}

void VUXCString::hexEncode() {
    std::unique_ptr<VUXCString> encoded(hexEncode(*this));
    if (!encoded || encoded->length() == 0) return;
    _storage = encoded->_storage; // an owned copy
}

VUXCString* VUXCString::hexDecode(VUXCString const& text) {
    auto* result = new (std::nothrow) VUXCString();
    const uint64_t n = text.data() ? static_cast<uint64_t>(text.length()) : 0;
    if (!result || n < 2 || (n & 1)) return result;
    char* buffer = newBuffer(n / 2 + 1);
    if (!buffer) return result;
    const char* digits = text.data();
    for (uint64_t i = 0; i < n / 2; ++i) {
        const char pair[3] = {digits[2 * i], digits[2 * i + 1], 0};
        uint8_t byte = 0;
        hexToChar(pair, byte);
        buffer[i] = static_cast<char>(byte);
    }
    result->adoptBuffer(buffer, n / 2 + 1);
    return result;
}

void VUXCString::hexDecode() {
    const uint64_t n = data() ? static_cast<uint64_t>(length()) : 0;
    if (n < 2 || (n & 1)) return;
    std::unique_ptr<VUXCString> decoded(hexDecode(*this));
    if (!decoded || !decoded->data()) return;
    // Only the text up to the first zero byte is kept.
    const size_t kept = std::strlen(decoded->data());
    char* buffer = newBuffer(kept + 1);
    if (!buffer) {
        _error = vuxMemFullErr;
        return;
    }
    std::memcpy(buffer, decoded->data(), kept);
    adoptBuffer(buffer, kept + 1);
}

VUXCString* VUXCString::base64Encode(VUXRawData const& data) {
    auto* result = new (std::nothrow) VUXCString();
    if (!result) return nullptr;
    const uint64_t n = data.isValid() ? data.length() : 0;
    if (n > (static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) / 4) * 3 - 3) return result;
    const uint64_t outLength = 4 * ((n + 2) / 3);
    char* buffer = newBuffer(outLength + 1);
    if (!buffer) return result;
    const auto* in = static_cast<const uint8_t*>(data.data());
    uint64_t o = 0;
    uint64_t i = 0;
    for (; i + 3 <= n; i += 3) {
        const uint8_t b0 = in[i], b1 = in[i + 1], b2 = in[i + 2];
        buffer[o++] = kBase64Alphabet[b0 >> 2];
        buffer[o++] = kBase64Alphabet[((b0 & 3) << 4) | (b1 >> 4)];
        buffer[o++] = kBase64Alphabet[((b1 & 15) << 2) | (b2 >> 6)];
        buffer[o++] = kBase64Alphabet[b2 & 63];
    }
    if (const uint64_t rest = n - i) {
        const uint8_t b0 = in[i], b1 = rest > 1 ? in[i + 1] : 0;
        buffer[o++] = kBase64Alphabet[b0 >> 2];
        buffer[o++] = kBase64Alphabet[((b0 & 3) << 4) | (b1 >> 4)];
        buffer[o++] = rest > 1 ? kBase64Alphabet[(b1 & 15) << 2] : '=';
        buffer[o++] = '=';
    }
    // No bytes give an empty text: a lone NUL.
    result->adoptBuffer(buffer, outLength + 1);
    return result;
}

VUXRawData* VUXCString::base64Decode(VUXCString const& text) {
    auto* result = new (std::nothrow) VUXRawData();
    if (!result) return nullptr;
    const uint64_t n = text.data() ? static_cast<uint64_t>(text.length()) : 0;
    if (n < 4) return result;
    // Room for every group the text could hold; the result keeps only the bytes decoded.
    const uint64_t room = ((n + 3) / 4) * 3;
    char* out = newBuffer(room);
    if (!out) return result;
    const char* chars = text.data();
    uint64_t written = 0;
    int group[4];
    int k = 0;
    for (uint64_t i = 0; i < n; ++i) {
        const char c = chars[i];
        if (c == '=' || !isBase64Char(c)) break;
        group[k++] = base64Value(c);
        if (k == 4) {
            out[written++] = static_cast<char>((group[0] << 2) | (group[1] >> 4));
            out[written++] = static_cast<char>(((group[1] << 4) | (group[2] >> 2)) & 0xFF);
            out[written++] = static_cast<char>(((group[2] << 6) | group[3]) & 0xFF);
            k = 0;
        }
    }
    if (k >= 2) {
        for (int j = k; j < 4; ++j)
            group[j] = 0;
        const uint8_t bytes[3] = {static_cast<uint8_t>((group[0] << 2) | (group[1] >> 4)),
                                  static_cast<uint8_t>(((group[1] << 4) | (group[2] >> 2)) & 0xFF),
                                  static_cast<uint8_t>(((group[2] << 6) | group[3]) & 0xFF)};
        for (int j = 0; j < k - 1; ++j)
            out[written++] = static_cast<char>(bytes[j]);
    }
    if (written)
        result->wrapData(out, written, true);
    else
        delete[] out;
    return result;
}

} // namespace VUX
