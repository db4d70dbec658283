// Fuzzes the registry's frame decoding. The first six bytes choose the description: the codec
// (an index into the installed codecs' name list, one past it an uninstalled type), the depth,
// and the width and height as big-endian 16-bit values; the rest is the frame.
#include "PlatformCodecRegistry.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

const std::vector<OSType>& codecTypes() {
    static const std::vector<OSType> types = [] {
        std::vector<OSType> v;
        CodecNameSpecListPtr list = nullptr;
        if (GetCodecNameList(&list, 1) == noErr) {
            for (int i = 0; i < list->count; ++i)
                v.push_back(list->list[i].cType);
            DisposeCodecNameList(list);
        }
        v.push_back(FOUR_CHAR_CODE("zzzz"));
        return v;
    }();
    return types;
}

constexpr int16_t kDepths[] = {1, 8, 16, 24, 32, 40, 2, 0};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 6) return 0;
    const std::vector<OSType>& types = codecTypes();
    ImageDescription d{};
    d.idSize = int32_t(sizeof d);
    d.cType = types[data[0] % types.size()];
    d.depth = kDepths[data[1] % std::size(kDepths)];
    // Positive sides are kept to 2048 pixels so that runs explore streams rather than memory.
    auto side = [](uint8_t hi, uint8_t lo) {
        const auto v = int16_t((hi << 8) | lo);
        return v > 0 ? int16_t(1 + (v - 1) % 2048) : v;
    };
    d.width = side(data[2], data[3]);
    d.height = side(data[4], data[5]);
    Handle h = nullptr;
    if (PtrToHand(&d, &h, Size(sizeof d)) != noErr) return 0;
    auto desc = reinterpret_cast<ImageDescriptionHandle>(h);
    platform::codec::Picture out;
    const OSErr err = platform::codecDecodeFrame(desc, data + 6, size - 6, out);
    if (err == noErr) {
        // A decoded frame is whole and is the frame the description names.
        if (!out.isConsistent() || out.width != d.width || out.height != d.height) std::abort();
    } else if (!out.samples.empty() || out.width != 0) {
        std::abort();
    }
    DisposeHandle(h);
    return 0;
}
