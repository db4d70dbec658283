#include "PlatformCodecEngines.h"

namespace platform::codec {

bool pictureFits(int64_t width, int64_t height, int64_t components, int64_t bitsPerSample) {
    if (width <= 0 || height <= 0 || width > kMaxPictureSide || height > kMaxPictureSide) return false;
    if (components < 1 || components > 4) return false;
    if (bitsPerSample != 8 && bitsPerSample != 16) return false;
    // Both sides are below 2^16 and the rest below 2^3: the product stays far inside 64 bits.
    return uint64_t(width) * uint64_t(height) * uint64_t(components) * uint64_t(bitsPerSample / 8) <=
           kMaxPictureBytes;
}

bool Picture::isConsistent() const {
    if (!pictureFits(width, height, components, bitsPerSample)) return false;
    if (precision < 1 || precision > bitsPerSample) return false;
    return samples.size() == rowBytes() * size_t(height);
}

} // namespace platform::codec
