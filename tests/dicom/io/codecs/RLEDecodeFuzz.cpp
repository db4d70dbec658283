// Untrusted frames into the RLE decoder. The first two bytes give the size of the caller's
// buffer, the rest is the frame, held in a block of exactly its size (ASan watches both ends).
#include "RLELib.h"

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2 || size > (1u << 20)) return 0;
    const uint32_t capacity = uint32_t(data[0]) | (uint32_t(data[1]) << 8);
    const uint32_t n = uint32_t(size - 2);
    auto* src = static_cast<uint32_t*>(std::malloc(n ? n : 1));
    if (n) std::memcpy(src, data + 2, n);
    auto* dst = static_cast<uint8_t*>(std::malloc(capacity ? capacity : 1));
    uint32_t outSize = n;
    const OSStatus status = RLEDecode(src, dst, &outSize, capacity);
    if (status == noErr ? outSize != capacity : outSize != 0) std::abort();
    std::free(dst);
    std::free(src);
    return 0;
}
