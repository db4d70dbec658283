#include "KelvoDicomLookupTables.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

// A palette whose red entry i is i, green 255 - i and blue i / 2 (8-bit tables).
KelvoDicomPixelLut rampPalette(uint32_t entries, bool alpha) {
    KelvoDicomPixelLut lut(entries, 8, alpha);
    std::vector<uint8_t> r(entries), g(entries), b(entries), a(entries);
    for (uint32_t i = 0; i < entries; ++i) {
        r[i] = uint8_t(i);
        g[i] = uint8_t(255 - i);
        b[i] = uint8_t(i / 2);
        a[i] = uint8_t(i ^ 0x5A);
    }
    lut.lutData(r.data(), kDicomLutRed);
    lut.lutData(g.data(), kDicomLutGreen);
    lut.lutData(b.data(), kDicomLutBlue);
    if (alpha) lut.lutData(a.data(), kDicomLutAlpha);
    return lut;
}

TEST(BaseLut, OnlyEightOrSixteenBitTablesOfOneToMaxEntriesExist) {
    struct Case {
        uint32_t entries;
        uint16_t bits;
        bool valid;
        uint32_t bytes;
    };
    const Case cases[] = {
        {256, 8, true, 256}, {256, 16, true, 512}, {65536, 16, true, 131072},
        {1, 8, true, 1},     {0, 8, false, 0},     {256, 12, false, 0},
        {256, 0, false, 0},  {65537, 8, false, 0}, {0xFFFFFFFFu, 16, false, 0},
    };
    for (const Case& c : cases) {
        KelvoDicomBaseLut t(c.entries, c.bits);
        EXPECT_EQ(t.qtObjIsValid(), c.valid) << c.entries << "/" << c.bits;
        EXPECT_EQ(t.sizeOfLuts(), c.bytes);
        EXPECT_EQ(t.Error(), c.valid ? 0 : -50);
        if (c.valid) {
            EXPECT_EQ(t.firstMappedValue(), 0u);
            EXPECT_EQ(t.lastMappedValue(), c.entries - 1);
        }
    }
    KelvoDicomBaseLut t;
    t.allocate(0, 8);
    EXPECT_EQ(t.Error(), -50);
    EXPECT_EQ(t.clone(), nullptr);
}

TEST(BaseLut, CopiesAreDeepAndKeepTheFirstMappedValue) {
    KelvoDicomBaseLut t(4, 16);
    const uint16_t entries[4] = {1, 2, 3, 65535};
    ASSERT_EQ(t.lutData(reinterpret_cast<const uint8_t*>(entries)), 0);
    t.firstMappedValue(10);
    KelvoDicomBaseLut copy(t);
    EXPECT_EQ(copy.Error(), 0);
    EXPECT_EQ(copy.firstMappedValue(), 10u);
    EXPECT_NE(copy.lutData(), t.lutData());
    EXPECT_EQ(std::memcmp(copy.lutData(), entries, sizeof entries), 0);
    copy.lutData()[0] = 99;
    EXPECT_EQ(t.lutData()[0], 1);

    // Copying an empty table leaves an empty table and says so.
    KelvoDicomBaseLut empty;
    copy = empty;
    EXPECT_FALSE(copy.qtObjIsValid());
    EXPECT_EQ(copy.Error(), -50);
}

TEST(BaseLut, ShortSourceFillsTheHeadAndReportsTheRest) {
    KelvoDicomBaseLut t(4, 8);
    const uint8_t full[4] = {9, 9, 9, 9};
    t.lutData(full);
    const uint8_t part[2] = {1, 2};
    EXPECT_EQ(t.lutData(part, 2), -50);
    EXPECT_EQ(t.lutData()[0], 1);
    EXPECT_EQ(t.lutData()[1], 2);
    EXPECT_EQ(t.lutData()[2], 0);
    EXPECT_EQ(t.lutData()[3], 0);
    EXPECT_EQ(t.lutData(full, 100), 0); // a longer source is cut to the table
    EXPECT_EQ(t.lutData(nullptr), -50);
}

TEST(BaseLut, DescriptorIsThreeValuesWithZeroForFullSixteenBits) {
    struct Case {
        uint32_t entries;
        uint16_t bits;
        int32_t first;
        const char* vr;
        uint16_t expected[3];
    };
    const Case cases[] = {
        {65536, 16, 0, "US", {0, 0, 16}},
        {256, 8, 16, "US", {256, 16, 8}},
        {4096, 16, -100, "SS", {4096, uint16_t(-100), 16}},
    };
    for (const Case& c : cases) {
        KelvoDicomBaseLut t(c.entries, c.bits);
        t.firstMappedValue(uint32_t(c.first));
        KelvoDicomDataNode node(c.vr);
        node.strValue(nullptr); // an old value is replaced, not appended to
        t.dicomLutDescriptor(node);
        EXPECT_EQ(t.Error(), 0);
        ASSERT_EQ(node.valueCount(), 3);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(node.usValue(i), c.expected[i]) << c.entries << " value " << i;
    }
    KelvoDicomBaseLut t(16, 8);
    KelvoDicomDataNode wrong("OB");
    t.dicomLutDescriptor(wrong);
    EXPECT_EQ(t.Error(), -50);
    EXPECT_EQ(wrong.valueCount(), 0);
}

TEST(PixelLut, EightBitLookupClampsAroundTheFirstMappedValue) {
    KelvoDicomPixelLut lut = rampPalette(256, false);
    lut.firstMappedValue(16);
    ASSERT_TRUE(lut.qtObjIsValid());
    EXPECT_EQ(lut.requiredBitsDepth(), 24);
    EXPECT_EQ(lut.lastMappedValue(), 271u);
    const uint8_t source[] = {0, 16, 17, 255};
    uint8_t out[12] = {};
    lut.applyLutsToDataARGB(source, out, 4);
    const uint8_t expected[12] = {0, 255, 0, 0, 255, 0, 1, 254, 0, 239, 16, 119};
    EXPECT_EQ(std::memcmp(out, expected, sizeof out), 0);

    // Entries past the table clamp to its last entry.
    KelvoDicomPixelLut small = rampPalette(4, false);
    const uint8_t high[] = {200};
    uint8_t px[3];
    small.applyLutsToDataARGB(high, px, 1);
    EXPECT_EQ(px[0], 3);
}

TEST(PixelLut, NegativeFirstMappedValueShiftsUp) {
    KelvoDicomPixelLut lut = rampPalette(256, false);
    lut.firstMappedValue(-100);
    const uint8_t source[] = {0, 200};
    uint8_t out[6];
    lut.applyLutsToDataARGB(source, out, 2);
    EXPECT_EQ(out[0], 100);
    EXPECT_EQ(out[3], 255); // 300 clamps to the last entry
}

TEST(PixelLut, SixteenBitEntriesScaleToBytes) {
    KelvoDicomPixelLut lut(3, 16, false);
    ASSERT_TRUE(lut.qtObjIsValid());
    const uint16_t red[3] = {65535, 32768, 0};
    const uint16_t green[3] = {0, 257, 65534};
    const uint16_t blue[3] = {1, 65280, 128};
    lut.lutData(reinterpret_cast<const uint8_t*>(red), kDicomLutRed);
    lut.lutData(reinterpret_cast<const uint8_t*>(green), kDicomLutGreen);
    lut.lutData(reinterpret_cast<const uint8_t*>(blue), kDicomLutBlue);
    const uint8_t source[] = {0, 1, 2};
    uint8_t out[9];
    lut.applyLutsToDataARGB(source, out, 3);
    const uint8_t expected[9] = {255, 0, 0, 127, 1, 254, 0, 254, 0};
    EXPECT_EQ(std::memcmp(out, expected, sizeof out), 0);
}

TEST(PixelLut, AlphaPalettesAreEightBitAndWriteAlphaFirst) {
    KelvoDicomPixelLut lut(256, 16, true);
    ASSERT_TRUE(lut.qtObjIsValid());
    EXPECT_TRUE(lut.hasAlpha());
    EXPECT_EQ(lut.bitsPerEntry(), 8);
    EXPECT_EQ(lut.requiredBitsDepth(), 32);

    KelvoDicomPixelLut ramp = rampPalette(256, true);
    const uint8_t source[] = {7};
    uint8_t out[4];
    ramp.applyLutsToDataARGB(source, out, 1);
    const uint8_t expected[4] = {7 ^ 0x5A, 7, 248, 3};
    EXPECT_EQ(std::memcmp(out, expected, 4), 0);

    ramp.hasAlpha(false);
    EXPECT_FALSE(ramp.hasAlpha());
    EXPECT_EQ(ramp.requiredBitsDepth(), 24);
    ramp.hasAlpha(true);
    EXPECT_TRUE(ramp.hasAlpha());
    EXPECT_EQ(ramp.lutData(kDicomLutAlpha) != nullptr, true);

    // A palette of 16-bit entries cannot take alpha.
    KelvoDicomPixelLut wide(256, 16, false);
    wide.hasAlpha(true);
    EXPECT_FALSE(wide.hasAlpha());
}

TEST(PixelLut, AlphaLeftFromAnEarlierSizeStaysInItsBounds) {
    // Reallocating without alpha keeps an existing alpha table as it was; applying the palette
    // must not read past that smaller table.
    KelvoDicomPixelLut lut = rampPalette(4, true);
    lut.allocate(256, 16, false);
    ASSERT_TRUE(lut.qtObjIsValid());
    ASSERT_TRUE(lut.hasAlpha());
    std::vector<uint8_t> source(256), out(256 * 4);
    for (int i = 0; i < 256; ++i)
        source[size_t(i)] = uint8_t(i);
    lut.applyLutsToDataARGB(source.data(), out.data(), 256);
    EXPECT_EQ(out[255 * 4], 3 ^ 0x5A); // alpha clamps to its own last entry
}

TEST(PixelLut, CopiesKeepTheFirstMappedValueAndOwnTheirTables) {
    KelvoDicomPixelLut lut = rampPalette(256, true);
    lut.firstMappedValue(10);
    KelvoDicomPixelLut copy(lut);
    EXPECT_EQ(copy.firstMappedValue(), 10u);
    EXPECT_TRUE(copy.hasAlpha());
    EXPECT_NE(copy.lutData(kDicomLutRed), lut.lutData(kDicomLutRed));
    Kelvo_QTObj* clone = lut.clone();
    ASSERT_NE(clone, nullptr);
    EXPECT_TRUE(clone->isA("KelvoDicomPixelLut"));
    EXPECT_FALSE(clone->isA("KelvoDicomBaseLut"));
    EXPECT_EQ(static_cast<KelvoDicomPixelLut*>(clone)->firstMappedValue(), 10u);
    delete clone;

    KelvoDicomPixelLut other = rampPalette(8, false);
    other.copy(lut);
    EXPECT_EQ(other.entries(), 256u);
    EXPECT_TRUE(other.hasAlpha());
}

TEST(PixelLut, BadArgumentsAreRefused) {
    KelvoDicomPixelLut empty;
    EXPECT_FALSE(empty.qtObjIsValid());
    EXPECT_EQ(empty.clone(), nullptr);
    uint8_t out[3] = {1, 2, 3};
    const uint8_t in[1] = {0};
    empty.applyLutsToDataARGB(in, out, 1);
    EXPECT_EQ(out[0], 1);

    KelvoDicomPixelLut lut = rampPalette(16, false);
    for (lutselector s : {0, 5, -1}) {
        EXPECT_EQ(lut.lutData(s), nullptr);
        EXPECT_EQ(lut.Error(), -50);
        EXPECT_EQ(lut.dicomLutData(s), nullptr);
    }
    EXPECT_EQ(lut.lutData(in, kDicomLutAlpha), nullptr); // no alpha table
    EXPECT_EQ(lut.Error(), -50);
    EXPECT_EQ(lut.dicomLutData(kDicomLutAlpha), nullptr);
    lut.applyLutsToDataARGB(nullptr, out, 1);
    lut.applyLutsToDataARGB(in, nullptr, 1);
    lut.applyLutsToDataARGB(in, out, 0);
    EXPECT_EQ(out[0], 1);

    // A table that cannot be made empties the whole palette.
    KelvoDicomPixelLut bad(0, 8, false);
    EXPECT_EQ(bad.Error(), -50);
    EXPECT_EQ(bad.lutData(kDicomLutRed), nullptr);
    KelvoDicomPixelLut odd = rampPalette(16, false);
    odd.initLuts(16, 12, false);
    EXPECT_FALSE(odd.qtObjIsValid());
    EXPECT_EQ(odd.Error(), -50);
}

TEST(PixelLut, TablesComeOutAsOWNodes) {
    KelvoDicomPixelLut lut(2, 16, false);
    const uint16_t red[2] = {0x1234, 0xABCD};
    lut.lutData(reinterpret_cast<const uint8_t*>(red), kDicomLutRed);
    KelvoDicomDataNode* node = lut.dicomLutData(kDicomLutRed);
    ASSERT_NE(node, nullptr);
    EXPECT_STREQ(node->VR(), "OW");
    EXPECT_EQ(node->dataBinarySize(), 4u);
    Handle h = node->Value(0);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(std::memcmp(*h, red, 4), 0);
    DisposeHandle(h);
    delete node;
}

} // namespace
