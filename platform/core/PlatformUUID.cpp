#include "PlatformUUID.h"

#include "PlatformRandom.h"

#include <atomic>
#include <cstring>

namespace platform {

uint64_t nextUniqueU64() {
    static std::atomic<uint64_t> next{randomU64()};
    return next.fetch_add(1, std::memory_order_relaxed);
}

} // namespace platform

OSErr QTCreateUUID(QTUUID* outUUID, int32_t) {
    if (!outUUID) return paramErr;
    uint64_t high = platform::randomU64();
    // The sequence's low 62 bits keep the UUIDs of one process apart; the top two bits of data4
    // carry the variant.
    uint64_t low = platform::nextUniqueU64();
    outUUID->data1 = uint32_t(high >> 32);
    outUUID->data2 = uint16_t(high >> 16);
    outUUID->data3 = uint16_t((uint16_t(high) & 0x0FFF) | 0x4000);
    for (int i = 0; i < 8; ++i)
        outUUID->data4[i] = uint8_t(low >> (56 - 8 * i));
    outUUID->data4[0] = uint8_t((outUUID->data4[0] & 0x3F) | 0x80);
    return noErr;
}

Boolean QTEqualUUIDs(const QTUUID* a, const QTUUID* b) {
    if (!a || !b) return a == b;
    return std::memcmp(a, b, sizeof *a) == 0;
}
