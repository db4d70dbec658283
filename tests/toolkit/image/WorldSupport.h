// 32-bit worlds for the image tests: filled from A, R, G, B bytes, read back pixel by pixel.
#pragma once

#include "KelvoVideo.h"
#include "PlatformGWorlds.h"
#include "PlatformPixelFormats.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

namespace worldsupport {

// A new 32-bit world buffer of w x h holding `argb` (4 bytes a pixel, rows packed).
inline std::unique_ptr<Kelvo_QDGWorldBuffer> worldOf(int32_t w, int32_t h, const std::string& argb) {
    auto world = std::make_unique<Kelvo_QDGWorldBuffer>(w, h, k32ARGBPixelFormat);
    EXPECT_TRUE(world->qtObjIsValid());
    EXPECT_EQ(argb.size(), size_t(w) * size_t(h) * 4);
    for (int32_t y = 0; y < h; ++y)
        std::memcpy(world->baseAddress() + ptrdiff_t(y) * world->rowBytes(), argb.data() + size_t(y) * w * 4,
                    size_t(w) * 4);
    return world;
}

// The pixel (x, y) of a 32-bit world buffer as A << 24 | R << 16 | G << 8 | B.
inline uint32_t pixelAt(const Kelvo_QDGWorldBuffer& world, int32_t x, int32_t y) {
    const auto* p =
        reinterpret_cast<const uint8_t*>(world.baseAddress()) + ptrdiff_t(y) * world.rowBytes() + x * 4;
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// The colour of a pixel without its alpha.
inline uint32_t rgbAt(const Kelvo_QDGWorldBuffer& world, int32_t x, int32_t y) {
    return pixelAt(world, x, y) & 0xFFFFFFu;
}

} // namespace worldsupport
