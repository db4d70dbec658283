// Feeds arbitrary bytes to the codec engines' decoders. The first byte picks the format (its value
// modulo the number of formats); the rest is the stream. Whatever the bytes, a decoder returns a
// status: on success a consistent picture agreeing with what inspect reports, on failure an empty
// one.
#include "PlatformCodecEngines.h"

#include <cstdint>
#include <cstdlib>

using platform::codec::Format;
using platform::codec::Picture;

namespace {

// Streams may announce pictures of up to 1 GiB that their few bytes then fail to fill; the
// engines refuse more from the header alone (unit tests pin those limits). Decoding pictures
// this large from every mutated header would only spend the fuzzer's time and memory.
constexpr size_t kLargestDecoded = size_t(64) << 20;

constexpr Format kFormats[] = {Format::JPEG, Format::JPEG2000, Format::PNG, Format::BMP, Format::GIF};

bool sameLayout(const Picture& a, const Picture& b) {
    return a.width == b.width && a.height == b.height && a.components == b.components &&
           a.bitsPerSample == b.bitsPerSample && a.precision == b.precision;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const Format format = kFormats[data[0] % (sizeof kFormats / sizeof kFormats[0])];
    const uint8_t* stream = data + 1;
    const size_t length = size - 1;

    Picture layout;
    OSErr inspected = platform::codec::inspect(format, stream, length, layout);
    if (inspected == noErr) {
        if (!layout.samples.empty()) std::abort();
        if (layout.rowBytes() * size_t(layout.height) > kLargestDecoded) return 0;
    } else if (layout.width != 0 || !layout.samples.empty()) {
        std::abort();
    }

    Picture picture;
    OSErr decoded = platform::codec::decode(format, stream, length, picture);
    if (decoded == noErr) {
        if (!picture.isConsistent()) std::abort();
        // Decoding reads the same header that inspect reads.
        if (inspected != noErr || !sameLayout(layout, picture)) std::abort();
    } else if (picture.width != 0 || !picture.samples.empty()) {
        std::abort();
    }
    return 0;
}
