// DICOM RLE Lossless decoder.
#include "RLELib.h"

#include "PlatformEndian.h"

#include <cstring>

namespace {

constexpr uint32_t kHeaderSize = 64;
constexpr uint64_t kMaxExpansion = 64;

// One PackBits segment into one plane. False when the segment ends before the plane is full or a
// run would go past the plane's end.
bool unpackSegment(const uint8_t* in, const uint8_t* inEnd, uint8_t* out, uint8_t* outEnd) {
    while (out < outEnd) {
        if (in >= inEnd) return false;
        const int n = int8_t(*in++);
        if (n >= 0) {
            const size_t count = size_t(n) + 1;
            if (size_t(inEnd - in) < count || size_t(outEnd - out) < count) return false;
            std::memcpy(out, in, count);
            in += count;
            out += count;
        } else if (n != -128) {
            const size_t count = size_t(1 - n);
            if (in >= inEnd || size_t(outEnd - out) < count) return false;
            std::memset(out, *in++, count);
            out += count;
        }
    }
    return true;
}

} // namespace

OSStatus RLEheaderDecode(const uint32_t* src, uint32_t srcSize, RLEHeader* header) {
    if (!src || !header || srcSize < kHeaderSize) return paramErr;
    const auto* bytes = reinterpret_cast<const uint8_t*>(src);
    header->count = platform::loadLE32(bytes);
    if (header->count == 0 || header->count > 15) return kRLESegmentCountErr;
    for (uint32_t k = 0; k < header->count; ++k)
        header->offsets[k] = platform::loadLE32(bytes + 4 + 4 * k);
    return noErr;
}

OSStatus RLEcheckFrame(const uint32_t* src, uint32_t srcSize, uint32_t dstCapacity) {
    if (!src || srcSize == 0 || dstCapacity == 0) return paramErr;
    if (srcSize < kHeaderSize) return kRLECorruptErr;
    RLEHeader header;
    const OSStatus err = RLEheaderDecode(src, srcSize, &header);
    if (err != noErr) return err;
    // Segments lie after the header, in order, inside the frame.
    uint32_t previous = kHeaderSize;
    for (uint32_t k = 0; k < header.count; ++k) {
        if (header.offsets[k] < previous || header.offsets[k] > srcSize) return kRLECorruptErr;
        previous = header.offsets[k];
    }
    if (dstCapacity % header.count != 0) return kRLECorruptErr;
    const uint64_t planeSize = dstCapacity / header.count;
    // A replicate run of two bytes gives at most 128: a segment fills at most 64 bytes a byte.
    for (uint32_t k = 0; k < header.count; ++k) {
        const uint32_t end = k + 1 < header.count ? header.offsets[k + 1] : srcSize;
        if (planeSize > uint64_t(end - header.offsets[k]) * kMaxExpansion) return kRLECorruptErr;
    }
    return noErr;
}

OSStatus RLEDecode(const uint32_t* src, uint8_t* dst, uint32_t* size, uint32_t dstCapacity) {
    if (!size) return paramErr;
    const uint32_t frameSize = *size;
    *size = 0;
    if (!src || !dst || frameSize == 0 || dstCapacity == 0) return paramErr;
    const OSStatus err = RLEcheckFrame(src, frameSize, dstCapacity);
    if (err != noErr) return err;
    RLEHeader header;
    RLEheaderDecode(src, frameSize, &header);
    const uint32_t planeSize = dstCapacity / header.count;

    const auto* frame = reinterpret_cast<const uint8_t*>(src);
    for (uint32_t k = 0; k < header.count; ++k) {
        const uint32_t end = k + 1 < header.count ? header.offsets[k + 1] : frameSize;
        uint8_t* plane = dst + size_t(k) * planeSize;
        if (!unpackSegment(frame + header.offsets[k], frame + end, plane, plane + planeSize))
            return kRLECorruptErr;
    }
    *size = dstCapacity;
    return noErr;
}
