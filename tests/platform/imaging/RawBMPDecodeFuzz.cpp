// Fuzzes the BMP, PNG and raw-family decoders. The first byte chooses the decoder (0 BMP, 1 PNG,
// 2 raw); the rest is its stream. A raw input starts with a layout: a byte choosing the
// compression type, a byte choosing the depth, and the width and height as big-endian int16.
//
// Beyond not crashing, a decoded picture must be consistent, and it must survive our own
// encoding: BMP and PNG re-encode and decode to the same picture, and so do the raw layouts that
// are exact (all but the 4:2:2 ones).
#include "PlatformCodecEnginesInternal.h"
#include "PlatformCodecRaw.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

using namespace platform::codec;

namespace {

// Pictures beyond this many bytes are inspected but not decoded: a small stream may announce a
// large picture (an RLE bitmap of one end code), which is valid but slow to fuzz.
constexpr size_t kDecodeBudget = size_t(16) << 20;

void check(bool ok) {
    if (!ok) std::abort();
}

using Decoder = OSErr (*)(const uint8_t*, size_t, Picture&);
using Encoder = OSErr (*)(const Picture&, const EncodeOptions&, std::vector<uint8_t>&);

void fuzzFormat(Decoder decode, Decoder inspect, Encoder encode, const uint8_t* data, size_t size) {
    Picture layout;
    const OSErr inspected = inspect(data, size, layout);
    check(inspected != noErr || layout.samples.empty());
    if (inspected == noErr && layout.rowBytes() * size_t(layout.height) > kDecodeBudget) return;
    Picture picture;
    const OSErr decoded = decode(data, size, picture);
    if (decoded != noErr) {
        check(picture.samples.empty() && picture.width == 0);
        return;
    }
    check(inspected == noErr);
    check(picture.isConsistent());
    check(picture.width == layout.width && picture.height == layout.height &&
          picture.components == layout.components && picture.bitsPerSample == layout.bitsPerSample);
    std::vector<uint8_t> encoded;
    const OSErr status = encode(picture, EncodeOptions{}, encoded);
    if (status == paramErr) return; // a shape the format does not write (BMP: grey + alpha, 16 bits)
    check(status == noErr);
    Picture again;
    check(decode(encoded.data(), encoded.size(), again) == noErr);
    check(again.samples == picture.samples && again.components == picture.components);
}

void fuzzRaw(const uint8_t* data, size_t size) {
    static constexpr OSType kTypes[] = {
        FOUR_CHAR_CODE("raw "), FOUR_CHAR_CODE("8BPS"), FOUR_CHAR_CODE("cmyk"), FOUR_CHAR_CODE("2vuy"),
        FOUR_CHAR_CODE("v216"), FOUR_CHAR_CODE("b16g"), FOUR_CHAR_CODE("b48r"), FOUR_CHAR_CODE("jpeg"),
    };
    static constexpr int32_t kDepths[] = {1, 8, 16, 24, 32, 40, 48, 0, 2, 12};
    if (size < 6) return;
    const OSType type = kTypes[data[0] % std::size(kTypes)];
    const int32_t depth = kDepths[data[1] % std::size(kDepths)];
    const int32_t width = int16_t(data[2] << 8 | data[3]);
    const int32_t height = int16_t(data[4] << 8 | data[5]);
    data += 6, size -= 6;
    Picture picture;
    const OSErr decoded = decodeRaw(type, depth, width, height, data, size, picture);
    const size_t frame = rawFrameSize(type, depth, width, height);
    if (decoded != noErr) {
        check(picture.samples.empty());
        check(decoded != codecBadDataErr || size < frame);
        return;
    }
    check(isRawFamily(type) && frame > 0 && frame <= size);
    check(picture.isConsistent() && picture.width == width && picture.height == height);
    std::vector<uint8_t> encoded;
    check(encodeRaw(type, depth, picture, encoded) == noErr);
    check(encoded.size() == frame);
    Picture again;
    check(decodeRaw(type, depth, width, height, encoded.data(), encoded.size(), again) == noErr);
    if (type != FOUR_CHAR_CODE("2vuy") && type != FOUR_CHAR_CODE("v216"))
        check(again.samples == picture.samples);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    switch (data[0] % 3) {
    case 0:
        fuzzFormat(detail::decodeBMP, detail::inspectBMP, detail::encodeBMP, data + 1, size - 1);
        break;
    case 1:
        fuzzFormat(detail::decodePNG, detail::inspectPNG, detail::encodePNG, data + 1, size - 1);
        break;
    default:
        fuzzRaw(data + 1, size - 1);
        break;
    }
    return 0;
}
