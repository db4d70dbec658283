// DICOM RLE Lossless frames (transfer syntax 1.2.840.10008.1.2.5): a 64-byte header of segment
// count and offsets, then up to 15 PackBits segments, each one byte plane of the frame.
#pragma once

#include "PlatformTypes.h"

enum : int32_t {
    kRLESegmentCountErr = -1000, // a segment count of 0 or above 15
    kRLECorruptErr = -1001,      // offsets outside the frame, or segments that do not fill their planes
};

struct RLEHeader {
    uint32_t count;       // segments, 1-15
    uint32_t offsets[15]; // from the start of the header; only the first `count` are read
};

// Reads the header at the start of a frame of srcSize bytes (the file's little-endian order).
// paramErr for a frame shorter than the header, kRLESegmentCountErr for a count of 0 or over 15.
OSStatus RLEheaderDecode(const uint32_t* src, uint32_t srcSize, RLEHeader* header);

// Whether a frame of srcSize bytes can decode into dstCapacity bytes, before anything of that
// size is allocated: the header as RLEDecode reads it, and no segment asked to fill more than 64
// bytes for each of its bytes (the most PackBits gives). kRLECorruptErr when not.
OSStatus RLEcheckFrame(const uint32_t* src, uint32_t srcSize, uint32_t dstCapacity);

// Decodes one frame: *size bytes at src (header and segments) into dst, which holds dstCapacity
// bytes: one plane of dstCapacity / count bytes for each segment, segment k at plane k (for
// 16-bit samples the high-order bytes first, for colour all red, then green, then blue). Every
// plane must be filled exactly by its segment; bytes a segment holds beyond that (an even-length
// pad) are ignored. On success *size is the number of bytes written, else 0.
OSStatus RLEDecode(const uint32_t* src, uint8_t* dst, uint32_t* size, uint32_t dstCapacity);
