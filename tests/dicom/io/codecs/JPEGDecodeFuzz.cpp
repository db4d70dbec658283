// Untrusted streams into the lossless JPEG decoder. The first two bytes give the size of the
// caller's buffer (in units of 8 bytes), the rest is the stream. Both entry points must agree, and
// neither may touch memory outside the source and the destination (ASan watches).
#include "JPEGLib.h"

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2 || size > (1u << 20)) return 0;
    const uint32_t capacity = (uint32_t(data[0]) | (uint32_t(data[1]) << 8)) * 8;
    const uint32_t n = uint32_t(size - 2);

    auto* src = static_cast<uint8_t*>(std::malloc(n ? n : 1));
    if (n) std::memcpy(src, data + 2, n);
    auto* dst = static_cast<uint8_t*>(std::malloc(capacity ? capacity : 1));
    uint8_t* p = src;
    uint32_t outSize = n;
    const OSStatus status = DecodeJPEGData(&p, reinterpret_cast<uint16_t*>(dst), &outSize, capacity);
    if (status == noErr ? outSize > capacity : outSize != 0) std::abort();

    auto* copy = static_cast<uint8_t*>(std::malloc(n ? n : 1));
    if (n) std::memcpy(copy, data + 2, n);
    void* out = nullptr;
    uint32_t size2 = n;
    const OSStatus status2 = DecodeJPEGImage(&copy, &size2, &out, 0);
    if (copy != nullptr) std::abort();
    if (status == noErr) {
        if (status2 != noErr || size2 != outSize || std::memcmp(out, dst, outSize) != 0) std::abort();
    } else if (status != kJPEGOutputTooSmallErr && status2 != status) {
        std::abort();
    }
    std::free(out);
    std::free(dst);
    std::free(src);
    return 0;
}
