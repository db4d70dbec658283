// Diagnostic aid for the lossless JPEG codec.
#include "JPEGLib.h"

#include <cstdio>

void PrintMCU(int32_t count, const uint16_t* samples) {
    if (!samples) return;
    for (int32_t i = 0; i < count; ++i)
        std::printf("%d: %d ", int(i), int(samples[i]));
    std::printf("\n");
}
