// The raw family of codecs: frames that are pixels stored as they are, in one of the platform's
// pixel layouts. A frame is `height` rows of `width` pixels in the layout. A row holds at least
// its pixels (1-bit rows padded to whole bytes, 4:2:2 rows to whole pixel pairs); writers may pad
// it further, and a frame read from a sample of whole rows takes their stride (ffmpeg's 33 x 17
// rgb24 frame is 17 rows of 100 bytes). Frames written here are packed; planar frames always are.
//
// Layouts (cType, depth):
//   'raw ' 1      1 bit a pixel, most significant bit first, 1 = black  -> grey 8 (0 or 255)
//   'raw ' 8, 40  8-bit grey where 0 is white (sample = 255 - byte)     -> grey 8
//   'raw ' 16     RGB 5-5-5 in big-endian words, top bit unused          -> RGB 8 (high bits
//                 replicated into the low ones)
//   'raw ' 24     R, G, B bytes                                          -> RGB 8
//   'raw ' 32     A, R, G, B bytes                                       -> RGBA 8
//   '8BPS' 24     planes R, G, B (width * height bytes each)             -> RGB 8
//   '8BPS' 32     planes R, G, B, A                                      -> RGBA 8
//   'cmyk'        C, M, Y, K bytes                                       -> RGB 8
//   '2vuy'        Cb, Y0, Cr, Y1 bytes, 4:2:2, BT.601 video range        -> RGB 8
//   'v216'        the same order in 16-bit little-endian samples, video
//                 range scaled by 256                                    -> RGB 16
//   'b16g'        16-bit grey in host byte order                         -> grey 16
//   'b48r'        16-bit R, G, B in host byte order                      -> RGB 16
// The types with a single layout ('cmyk', '2vuy', 'v216', 'b16g', 'b48r') do not consult the
// depth: descriptions give them various depths.
#pragma once

#include "PlatformCodecEngines.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace platform::codec {

// Whether the compression type is one of the raw family.
bool isRawFamily(OSType cType);

// Bytes of one frame of the layout; 0 for an unknown type or depth, and for dimensions beyond
// the pictures' limits.
size_t rawFrameSize(OSType cType, int32_t depth, int32_t width, int32_t height);

// The row stride of a frame held in a sample of `size` bytes: the sample spread over the rows
// when it is a whole number of rows at least as long as the layout's own, else the layout's
// own rows (planar layouts: the bytes of all planes' rows). 0 for an unknown type or depth, or
// when `size` is short of a frame.
size_t rawRowBytes(OSType cType, int32_t depth, int32_t width, int32_t height, size_t size);

// Decodes one frame into a picture, its rows at the stride of rawRowBytes. codecUnimpErr for an unknown type
// or depth, codecSizeErr for dimensions beyond the pictures' limits, codecBadDataErr when `size` is less than
// a frame (bytes after a frame are ignored), memFullErr; `out` is left empty on failure.
OSErr decodeRaw(OSType cType, int32_t depth, int32_t width, int32_t height, const uint8_t* data, size_t size,
                Picture& out);

// Encodes a picture of 8-bit samples (16-bit for 'v216', 'b16g' and 'b48r') into one frame.
// Grey layouts take 1 component; colour layouts take RGB or RGBA (alpha dropped where the layout
// has none, 255 where the picture has none). Another shape gives paramErr; an unknown type or
// depth codecUnimpErr.
OSErr encodeRaw(OSType cType, int32_t depth, const Picture& in, std::vector<uint8_t>& out);

} // namespace platform::codec
