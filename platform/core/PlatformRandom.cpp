#include "PlatformRandom.h"

#include <chrono>
#include <mutex>
#include <random>
#include <sys/random.h>

namespace platform {
namespace {

std::mt19937_64& generator() {
    static std::mt19937_64 gen = [] {
        uint64_t seed[4] = {};
        ssize_t got = getrandom(seed, sizeof seed, 0);
        if (got != ssize_t(sizeof seed)) {
            // Without the kernel's entropy, fall back to the clock and an address.
            seed[0] = uint64_t(std::chrono::steady_clock::now().time_since_epoch().count());
            seed[1] = uint64_t(std::chrono::system_clock::now().time_since_epoch().count());
            seed[2] = uint64_t(reinterpret_cast<uintptr_t>(&seed));
        }
        std::seed_seq seq{uint32_t(seed[0]),       uint32_t(seed[0] >> 32), uint32_t(seed[1]),
                          uint32_t(seed[1] >> 32), uint32_t(seed[2]),       uint32_t(seed[2] >> 32),
                          uint32_t(seed[3]),       uint32_t(seed[3] >> 32)};
        return std::mt19937_64(seq);
    }();
    return gen;
}

std::mutex gMutex;

} // namespace

uint64_t randomU64() {
    std::lock_guard<std::mutex> lock(gMutex);
    return generator()();
}

uint32_t randomU32() {
    return uint32_t(randomU64() >> 32);
}

int32_t random31() {
    return int32_t(randomU64() >> 33);
}

} // namespace platform
