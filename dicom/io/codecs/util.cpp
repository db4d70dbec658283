// Fixed tables shared by the lossless JPEG decoder and encoder.
#include "JPEGInternal.h"

namespace ljpeg {

const uint32_t hdMask[17] = {0x0000, 0x0001, 0x0003, 0x0007, 0x000F, 0x001F, 0x003F, 0x007F, 0x00FF,
                             0x01FF, 0x03FF, 0x07FF, 0x0FFF, 0x1FFF, 0x3FFF, 0x7FFF, 0xFFFF};

const int32_t extendTest[16] = {0,      0x0001, 0x0002, 0x0004, 0x0008, 0x0010, 0x0020, 0x0040,
                                0x0080, 0x0100, 0x0200, 0x0400, 0x0800, 0x1000, 0x2000, 0x4000};

const int32_t extendOffset[16] = {0,
                                  (-1 << 1) + 1,
                                  (-1 << 2) + 1,
                                  (-1 << 3) + 1,
                                  (-1 << 4) + 1,
                                  (-1 << 5) + 1,
                                  (-1 << 6) + 1,
                                  (-1 << 7) + 1,
                                  (-1 << 8) + 1,
                                  (-1 << 9) + 1,
                                  (-1 << 10) + 1,
                                  (-1 << 11) + 1,
                                  (-1 << 12) + 1,
                                  (-1 << 13) + 1,
                                  (-1 << 14) + 1,
                                  (-1 << 15) + 1};

void StandardDCTable(int which, HuffmanTable* htbl) {
    static const uint8_t kLuminanceBits[17] = {0, 0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
    static const uint8_t kChrominanceBits[17] = {0, 0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0};
    std::memset(htbl, 0, sizeof(*htbl));
    std::memcpy(htbl->bits, which == 0 ? kLuminanceBits : kChrominanceBits, sizeof(htbl->bits));
    for (int i = 0; i < 12; ++i)
        htbl->huffval[i] = uint8_t(i);
}

} // namespace ljpeg
