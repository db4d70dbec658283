#include "VUXUtils.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <vector>

namespace {

using namespace VUX;

TEST(VUXUtils, HostOrder) {
    EXPECT_EQ(isPlatformLittleEndian(), std::endian::native == std::endian::little);
    EXPECT_EQ(isPlatformLittleEndian(), isPlatformLittleEndian());
}

TEST(VUXUtils, CharToOSType) {
    struct Case {
        const char* text;
        int32_t status;
        uint32_t code;
    };
    const Case cases[] = {
        {"moov", 0, 0x6D6F6F76u},
        {"\xFF\x01\x80 ", 0, 0xFF018020u},
        {"moo", -50, 0},
        {"moovy", -50, 0},
        {"", -50, 0},
        {nullptr, -107, 0},
    };
    for (const Case& c : cases) {
        uint32_t code = 0xDEADBEEF;
        EXPECT_EQ(charToOSType(c.text, code), c.status) << (c.text ? c.text : "(null)");
        EXPECT_EQ(code, c.code);
    }
}

TEST(VUXUtils, OSTypeToChar) {
    char out[5] = {'x', 'x', 'x', 'x', 'x'};
    EXPECT_EQ(ostypeToChar(0x3F3F3F3F, out), 0);
    EXPECT_EQ(std::memcmp(out, "????", 4), 0);
    EXPECT_EQ(out[4], 'x'); // no terminator is written
    EXPECT_EQ(ostypeToChar(0x6D6F6F76, out), 0);
    EXPECT_EQ(std::memcmp(out, "moov", 4), 0);
    EXPECT_EQ(ostypeToChar(0, out), 0);
    EXPECT_EQ(std::memcmp(out, "\0\0\0\0", 4), 0);
    EXPECT_EQ(ostypeToChar(0x6D6F6F76, nullptr), -107);
}

TEST(VUXUtils, SwapDataEndianess) {
    float one = 1.0f;
    unsigned char b[4];
    std::memcpy(b, &one, 4);
    ASSERT_EQ(std::memcmp(b, "\x00\x00\x80\x3F", 4), 0) << "test assumes a little-endian host";
    EXPECT_EQ(swapDataEndianess(&one, 1), 0);
    std::memcpy(b, &one, 4);
    EXPECT_EQ(std::memcmp(b, "\x3F\x80\x00\x00", 4), 0);

    std::vector<uint16_t> words = {0x0102, 0xA0B0};
    EXPECT_EQ(swapDataEndianess(words.data(), -3), 0);
    EXPECT_EQ(words[0], 0x0102);
    EXPECT_EQ(swapDataEndianess(words.data(), 0), 0);
    EXPECT_EQ(swapDataEndianess(words.data(), 2), 0);
    EXPECT_EQ(words, (std::vector<uint16_t>{0x0201, 0xB0A0}));

    int32_t l[2] = {0x01020304, -2};
    EXPECT_EQ(swapDataEndianess(l, 2), 0);
    EXPECT_EQ(l[0], 0x04030201);
    EXPECT_EQ(uint32_t(l[1]), 0xFEFFFFFFu);

    double d = 1.0;
    EXPECT_EQ(swapDataEndianess(&d, 1), 0);
    EXPECT_EQ(std::bit_cast<uint64_t>(d), 0x000000000000F03Full);
    EXPECT_EQ(swapDataEndianess<int16_t>(nullptr, 4), -107);
}

TEST(VUXUtils, HexDigits) {
    char out[3] = {'x', 'x', 'x'};
    charToHex(0xAB, out);
    EXPECT_STREQ(out, "AB");
    charToHex(0x05, out);
    EXPECT_STREQ(out, "05");

    struct Case {
        const char* text;
        uint8_t value;
    };
    const Case cases[] = {{"AB", 0xAB}, {"ab", 0},     {"4g", 4}, {"0F", 0x0F}, {"F", 0x0F},
                          {"", 0},      {"9A7", 0x9A}, {"-1", 0}, {nullptr, 0}};
    for (const Case& c : cases) {
        uint8_t v = 0x55;
        hexToChar(c.text, v);
        EXPECT_EQ(v, c.value) << (c.text ? c.text : "(null)");
    }
}

TEST(VUXUtils, BsdChecksum) {
    const unsigned char two[] = {0x01, 0x02};
    EXPECT_EQ(bsdChecksum(two, 2), 0xFDFE);
    EXPECT_EQ(bsdChecksum(two, 0), 0xFFFF);
    EXPECT_EQ(bsdChecksum(nullptr, 10), 0xFFFF);
    const unsigned char three[] = {0x01, 0x02, 0x03};
    EXPECT_EQ(bsdChecksum(three, 3), uint16_t(~(0x0201 + 0x03)));
    // Carries fold back into the low 16 bits.
    const unsigned char ff[] = {0xFF, 0xFF, 0x02, 0x00};
    EXPECT_EQ(bsdChecksum(ff, 4), uint16_t(~0x0002u));
    // Long blocks: the 32-bit accumulator wraps and the signed folding keeps going.
    std::vector<unsigned char> big(size_t(1) << 18, 0xFF);
    const uint16_t sum = bsdChecksum(big.data(), big.size());
    // 131072 words of 0xFFFF: 0x1FFFE0000 wraps to 0xFFFE0000 (negative); folded as the
    // old accumulator did: (0) + (-2) = -2, then 0xFFFFFFFE + 0xFFFF = 0x1FFFD -> low bits 0xFFFD.
    EXPECT_EQ(sum, uint16_t(~0x0000FFFDu));
}

TEST(VUXUtils, FreeCString) {
    char* s = new char[4];
    freeVUXCString(s);
    EXPECT_EQ(s, nullptr);
    freeVUXCString(s); // nothing for null
    EXPECT_EQ(s, nullptr);
}

} // namespace
