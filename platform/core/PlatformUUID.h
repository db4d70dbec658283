// UUIDs in the platform's record layout, and a process-wide sequence that never repeats, for
// identifiers that must stay unique within one process.
#pragma once

#include "PlatformTypes.h"

struct QTUUID {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];
};
static_assert(sizeof(QTUUID) == 16);

// A new random (version 4) UUID. Two UUIDs made in one process always differ: part of
// data4 comes from the unique sequence below.
OSErr QTCreateUUID(QTUUID* outUUID, int32_t creationFlags);
Boolean QTEqualUUIDs(const QTUUID* a, const QTUUID* b);

namespace platform {
// The next value of a 64-bit sequence that starts at a random value and counts up by one: no
// value comes back within a process before 2^64 calls.
uint64_t nextUniqueU64();
} // namespace platform
