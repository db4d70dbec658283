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
OSErr encodeBMP(const Picture& in, const EncodeOptions& options, std::vector<uint8_t>& out);
OSErr inspectBMP(const uint8_t* data, size_t size, Picture& layout);

OSErr decodeGIF(const uint8_t* data, size_t size, Picture& out);
OSErr inspectGIF(const uint8_t* data, size_t size, Picture& layout);

} // namespace platform::codec::detail
