// The engines behind platform::codec::decode, encode and inspect, one set a format. The
// dispatcher calls these; nothing else should. Each follows the contract of the public calls:
// `out` is empty on failure, statuses as documented there.
#pragma once

#include "PlatformCodecEngines.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace platform::codec::detail {

OSErr decodeJPEG(const uint8_t* data, size_t size, const DecodeOptions& options, Picture& out);
OSErr decodeJPEGInto(const uint8_t* data, size_t size, const DecodeOptions& options, const RowTarget& target);
OSErr encodeJPEG(const Picture& in, const EncodeOptions& options, std::vector<uint8_t>& out);
OSErr inspectJPEG(const uint8_t* data, size_t size, Picture& layout);

OSErr decodeJPEG2000(const uint8_t* data, size_t size, Picture& out);
OSErr encodeJPEG2000(const Picture& in, const EncodeOptions& options, std::vector<uint8_t>& out, bool jp2);
OSErr inspectJPEG2000(const uint8_t* data, size_t size, Picture& layout);

OSErr decodePNG(const uint8_t* data, size_t size, Picture& out);
// RGB24 rows of a picture that decodes to 8-bit RGB; codecUnimpErr for any other.
OSErr decodePNGInto(const uint8_t* data, size_t size, const RowTarget& target);
OSErr encodePNG(const Picture& in, const EncodeOptions& options, std::vector<uint8_t>& out);
OSErr inspectPNG(const uint8_t* data, size_t size, Picture& layout);

OSErr decodeBMP(const uint8_t* data, size_t size, Picture& out);
// RGB24 rows of a picture that decodes to 8-bit RGB; codecUnimpErr for any other.
OSErr decodeBMPInto(const uint8_t* data, size_t size, const RowTarget& target);
// The same from a stream read piece by piece: uncompressed files whose headers lie in their first
// 64 KiB; codecUnimpErr, nothing written, for any other.
OSErr decodeBMPIntoFrom(const ByteSource& source, const RowTarget& target);
OSErr encodeBMP(const Picture& in, const EncodeOptions& options, std::vector<uint8_t>& out);
OSErr inspectBMP(const uint8_t* data, size_t size, Picture& layout);
// The same from the first `size` bytes of a file of `total`.
OSErr inspectBMPHead(const uint8_t* data, size_t size, uint64_t total, Picture& layout);

OSErr decodeGIF(const uint8_t* data, size_t size, Picture& out);
OSErr inspectGIF(const uint8_t* data, size_t size, Picture& layout);

} // namespace platform::codec::detail
