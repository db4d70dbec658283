#include "VUXUtils.h"

#include "VUXObject.h"

#include <algorithm>
#include <cstring>

namespace VUX {

namespace {

bool hostIsLittleEndian() {
    const uint16_t probe = 1;
    unsigned char first;
    std::memcpy(&first, &probe, 1);
    return first == 1;
}

} // namespace

bool isPlatformLittleEndian() {
    static const bool littleEndian = hostIsLittleEndian();
    return littleEndian;
}

int32_t ostypeToChar(uint32_t code, char* out) {
    if (!out) return vuxNullParamErr;
    std::memset(out, 0, 4);
    if (code == 0) return vuxNoErr;
    out[0] = static_cast<char>(code >> 24);
    out[1] = static_cast<char>(code >> 16);
    out[2] = static_cast<char>(code >> 8);
    out[3] = static_cast<char>(code);
    return vuxNoErr;
}

int32_t charToOSType(const char* text, uint32_t& code) {
    code = 0;
    if (!text) return vuxNullParamErr;
    if (std::strlen(text) != 4) return vuxParamErr;
    const auto* b = reinterpret_cast<const unsigned char*>(text);
    code = (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | uint32_t(b[3]);
    return vuxNoErr;
}

template <typename T> int32_t swapDataEndianess(T* data, int64_t count) {
    if (!data) return vuxNullParamErr;
    if (count <= 0) return vuxNoErr;
    auto* bytes = reinterpret_cast<unsigned char*>(data);
    for (int64_t i = 0; i < count; ++i, bytes += sizeof(T))
        std::reverse(bytes, bytes + sizeof(T));
    return vuxNoErr;
}

template int32_t swapDataEndianess<uint16_t>(uint16_t*, int64_t);
template int32_t swapDataEndianess<int16_t>(int16_t*, int64_t);
template int32_t swapDataEndianess<uint32_t>(uint32_t*, int64_t);
template int32_t swapDataEndianess<int32_t>(int32_t*, int64_t);
template int32_t swapDataEndianess<float>(float*, int64_t);
template int32_t swapDataEndianess<double>(double*, int64_t);

void charToHex(uint8_t byte, char* out) {
    if (!out) return;
    static const char digits[] = "0123456789ABCDEF";
    out[0] = digits[byte >> 4];
    out[1] = digits[byte & 0x0F];
    out[2] = 0;
}

void hexToChar(const char* text, uint8_t& byte) {
    byte = 0;
    if (!text) return;
    unsigned value = 0;
    for (int i = 0; i < 2; ++i) {
        const char c = text[i];
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = unsigned(c - '0');
        else if (c >= 'A' && c <= 'F')
            digit = unsigned(c - 'A' + 10);
        else
            break;
        value = (value << 4) + digit;
    }
    byte = static_cast<uint8_t>(value);
}

uint16_t bsdChecksum(const void* data, uint64_t length) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    if (!bytes) length = 0;
    // The accumulator is a signed 32-bit sum that wraps on very long blocks; unsigned arithmetic
    // gives the same bits without overflow.
    uint32_t sum = 0;
    uint64_t i = 0;
    for (; i + 1 < length; i += 2) {
        uint16_t word;
        std::memcpy(&word, bytes + i, 2);
        sum += word;
    }
    if (length & 1) sum += bytes[length - 1];
    const int32_t signedSum = static_cast<int32_t>(sum);
    const int32_t folded = (signedSum & 0xFFFF) + (signedSum >> 16);
    uint32_t s = static_cast<uint32_t>(folded);
    s += s >> 16;
    return static_cast<uint16_t>(~s);
}

void freeVUXCString(char*& str) {
    if (!str) return;
    delete[] str;
    str = nullptr;
}

} // namespace VUX
