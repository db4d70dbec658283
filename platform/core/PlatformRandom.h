// The process's one private random generator, seeded once from the kernel. Nothing in the
// project seeds or draws from the C library's generator, so callers elsewhere in a host process
// keep their own sequences.
#pragma once

#include <cstdint>

namespace platform {

uint32_t randomU32();
uint64_t randomU64();
// A value in 0 ... 2^31 - 1, the range of the C library's random().
int32_t random31();

} // namespace platform
