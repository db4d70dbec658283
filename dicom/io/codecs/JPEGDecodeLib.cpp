// Lossless JPEG decoder: the entry points.
#include "JPEGInternal.h"

#include <cstdio>

namespace ljpeg {

OSStatus DecodeStream(const uint8_t* data, uint32_t size, OutputSink& sink, uint32_t* outBytes) {
    *outBytes = 0;
    ByteSource src{data, size, 0};
    DecompressInfo info;
    OSStatus err = ReadFileHeader(src, info);
    if (err == noErr) err = ReadScanHeader(src, info);
    if (err == noErr) err = DecodeImage(src, info, sink, outBytes);
    return err;
}

} // namespace ljpeg

namespace {

// Into the caller's buffer, which must hold the whole frame.
struct CallerBuffer final : ljpeg::OutputSink {
    uint8_t* dst;
    uint32_t capacity;
    CallerBuffer(uint8_t* d, uint32_t c) : dst(d), capacity(c) {}
    uint8_t* reserve(const ljpeg::DecompressInfo&, uint32_t bytes, OSStatus* status) override {
        if (bytes > capacity) {
            *status = kJPEGOutputTooSmallErr;
            return nullptr;
        }
        return dst;
    }
};

// Into a new block of the frame's size.
struct NewBuffer final : ljpeg::OutputSink {
    uint8_t* block = nullptr;
    bool verbose;
    explicit NewBuffer(bool v) : verbose(v) {}
    uint8_t* reserve(const ljpeg::DecompressInfo& info, uint32_t bytes, OSStatus* status) override {
        if (verbose) {
            std::fprintf(stderr, "sample precision=%d\n", int(info.dataPrecision));
            std::fprintf(stderr, "image height=%d\n", int(info.imageHeight));
            std::fprintf(stderr, "image width=%d\n", int(info.imageWidth));
            std::fprintf(stderr, "component=%d\n", int(info.numComponents));
        }
        block = static_cast<uint8_t*>(std::malloc(bytes ? bytes : 1));
        if (!block) *status = memFullErr;
        return block;
    }
};

} // namespace

OSStatus DecodeJPEGData(uint8_t** src, uint16_t* dst, uint32_t* size, uint32_t dstCapacity) {
    if (!size) return kJPEGNoSourceErr;
    const uint32_t inSize = *size;
    *size = 0;
    if (!src || !*src || inSize == 0) return kJPEGNoSourceErr;
    if (!dst) return paramErr;
    CallerBuffer sink(reinterpret_cast<uint8_t*>(dst), dstCapacity);
    uint32_t outBytes = 0;
    const OSStatus err = ljpeg::DecodeStream(*src, inSize, sink, &outBytes);
    if (err == noErr) *size = outBytes;
    return err;
}

OSStatus DecodeJPEGImage(uint8_t** src, uint32_t* size, void** dst, uint32_t verbose) {
    // The source is ours from here on, whatever happens.
    uint8_t* data = src ? *src : nullptr;
    if (src) *src = nullptr;
    const uint32_t inSize = size ? *size : 0;
    if (size) *size = 0;
    if (dst) *dst = nullptr;
    OSStatus err = noErr;
    if (!data || inSize == 0) {
        err = kJPEGNoSourceErr;
    } else if (!dst) {
        err = paramErr;
    } else {
        NewBuffer sink(verbose != 0);
        uint32_t outBytes = 0;
        err = ljpeg::DecodeStream(data, inSize, sink, &outBytes);
        if (err == noErr) {
            *dst = sink.block;
            *size = outBytes;
        } else {
            std::free(sink.block);
        }
    }
    std::free(data);
    return err;
}

OSStatus DecodeJPEGImage1Buffer(void** buffer, uint32_t* size) {
    if (!buffer) return kJPEGNoSourceErr;
    uint8_t* src = static_cast<uint8_t*>(*buffer);
    void* out = nullptr;
    const OSStatus err = DecodeJPEGImage(&src, size, &out, 0);
    *buffer = out;
    return err;
}
