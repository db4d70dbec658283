// Any frame and parameters into the lossless JPEG encoder: whatever it accepts, the decoder must
// give back (each sample with its point-transformed bits cleared).
#include "JPEGLib.h"

#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 8) return 0;
    const uint32_t width = 1 + data[0] % 64;
    const uint32_t height = 1 + data[1] % 64;
    const uint32_t maxValue = 2 + ((uint32_t(data[2]) | (uint32_t(data[3]) << 8)) % 65534);
    const uint32_t params[kJPEGParamCount] = {uint32_t(data[4] & 1),
                                              uint32_t(data[4] >> 1) % (height + 1),
                                              uint32_t(data[5] % 8),
                                              width,
                                              height,
                                              uint32_t(data[6] % 8),
                                              maxValue};
    std::vector<uint8_t> samples(size_t(width) * height);
    for (size_t i = 0; i < samples.size(); ++i) {
        const uint32_t v = 7 + i < size ? data[7 + i] : 0;
        samples[i] = uint8_t(maxValue < 255 ? v % (maxValue + 1) : v);
    }

    void* out = nullptr;
    uint32_t outSize = 0;
    const OSStatus status = JPEG14Encode(samples.data(), &out, &outSize, params);
    if (status != noErr) {
        if (status != paramErr && status != kJPEGNoHuffmanCodeErr) std::abort();
        return 0;
    }
    if (outSize % 2 != 0) std::abort();

    const int bytesPerSample = maxValue > 255 ? 2 : 1;
    std::vector<uint8_t> decoded(samples.size() * size_t(bytesPerSample));
    uint8_t* p = static_cast<uint8_t*>(out);
    uint32_t decodedSize = outSize;
    const OSStatus decodeStatus = DecodeJPEGData(&p, reinterpret_cast<uint16_t*>(decoded.data()),
                                                 &decodedSize, uint32_t(decoded.size()));
    if (decodeStatus != noErr || decodedSize != decoded.size()) std::abort();
    const uint32_t pt = params[kJPEGParamPointTransform];
    for (size_t i = 0; i < samples.size(); ++i) {
        uint32_t v = decoded[i];
        if (bytesPerSample == 2) std::memcpy(&v, &decoded[2 * i], 2), v &= 0xFFFF;
        if (v != ((uint32_t(samples[i]) >> pt) << pt)) std::abort();
    }
    std::free(out);
    return 0;
}
