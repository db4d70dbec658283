// Byte-order helpers: swaps, and conversions between big-endian storage and the host order.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace platform {

constexpr bool kHostIsLittleEndian = std::endian::native == std::endian::little;

constexpr uint16_t swap16(uint16_t v) {
    return uint16_t((v >> 8) | (v << 8));
}
constexpr uint32_t swap32(uint32_t v) {
    return (v >> 24) | ((v >> 8) & 0x0000FF00u) | ((v << 8) & 0x00FF0000u) | (v << 24);
}
constexpr uint64_t swap64(uint64_t v) {
    return (uint64_t(swap32(uint32_t(v))) << 32) | uint64_t(swap32(uint32_t(v >> 32)));
}

// Reads and writes of unaligned values in a stated byte order.
inline uint16_t loadBE16(const void* p) {
    const auto* b = static_cast<const uint8_t*>(p);
    return uint16_t((b[0] << 8) | b[1]);
}
inline uint32_t loadBE32(const void* p) {
    const auto* b = static_cast<const uint8_t*>(p);
    return (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | uint32_t(b[3]);
}
inline uint16_t loadLE16(const void* p) {
    const auto* b = static_cast<const uint8_t*>(p);
    return uint16_t(b[0] | (b[1] << 8));
}
inline uint32_t loadLE32(const void* p) {
    const auto* b = static_cast<const uint8_t*>(p);
    return uint32_t(b[0]) | (uint32_t(b[1]) << 8) | (uint32_t(b[2]) << 16) | (uint32_t(b[3]) << 24);
}
inline void storeBE16(void* p, uint16_t v) {
    auto* b = static_cast<uint8_t*>(p);
    b[0] = uint8_t(v >> 8);
    b[1] = uint8_t(v);
}
inline void storeBE32(void* p, uint32_t v) {
    auto* b = static_cast<uint8_t*>(p);
    b[0] = uint8_t(v >> 24);
    b[1] = uint8_t(v >> 16);
    b[2] = uint8_t(v >> 8);
    b[3] = uint8_t(v);
}
inline void storeLE16(void* p, uint16_t v) {
    auto* b = static_cast<uint8_t*>(p);
    b[0] = uint8_t(v);
    b[1] = uint8_t(v >> 8);
}
inline void storeLE32(void* p, uint32_t v) {
    auto* b = static_cast<uint8_t*>(p);
    b[0] = uint8_t(v);
    b[1] = uint8_t(v >> 8);
    b[2] = uint8_t(v >> 16);
    b[3] = uint8_t(v >> 24);
}

} // namespace platform

// The platform's names for the same conversions (B = big-endian, L = little-endian, N = native).
constexpr uint16_t EndianU16_BtoN(uint16_t v) {
    return platform::kHostIsLittleEndian ? platform::swap16(v) : v;
}
constexpr uint16_t EndianU16_NtoB(uint16_t v) {
    return EndianU16_BtoN(v);
}
constexpr uint32_t EndianU32_BtoN(uint32_t v) {
    return platform::kHostIsLittleEndian ? platform::swap32(v) : v;
}
constexpr uint32_t EndianU32_NtoB(uint32_t v) {
    return EndianU32_BtoN(v);
}
constexpr uint64_t EndianU64_BtoN(uint64_t v) {
    return platform::kHostIsLittleEndian ? platform::swap64(v) : v;
}
constexpr uint64_t EndianU64_NtoB(uint64_t v) {
    return EndianU64_BtoN(v);
}
constexpr int16_t EndianS16_BtoN(int16_t v) {
    return int16_t(EndianU16_BtoN(uint16_t(v)));
}
constexpr int16_t EndianS16_NtoB(int16_t v) {
    return EndianS16_BtoN(v);
}
constexpr int32_t EndianS32_BtoN(int32_t v) {
    return int32_t(EndianU32_BtoN(uint32_t(v)));
}
constexpr int32_t EndianS32_NtoB(int32_t v) {
    return EndianS32_BtoN(v);
}
constexpr int64_t EndianS64_BtoN(int64_t v) {
    return int64_t(EndianU64_BtoN(uint64_t(v)));
}
constexpr int64_t EndianS64_NtoB(int64_t v) {
    return EndianS64_BtoN(v);
}
constexpr uint16_t EndianU16_LtoN(uint16_t v) {
    return platform::kHostIsLittleEndian ? v : platform::swap16(v);
}
constexpr uint16_t EndianU16_NtoL(uint16_t v) {
    return EndianU16_LtoN(v);
}
constexpr uint32_t EndianU32_LtoN(uint32_t v) {
    return platform::kHostIsLittleEndian ? v : platform::swap32(v);
}
constexpr uint32_t EndianU32_NtoL(uint32_t v) {
    return EndianU32_LtoN(v);
}
constexpr int16_t EndianS16_LtoN(int16_t v) {
    return int16_t(EndianU16_LtoN(uint16_t(v)));
}
constexpr int32_t EndianS32_LtoN(int32_t v) {
    return int32_t(EndianU32_LtoN(uint32_t(v)));
}
