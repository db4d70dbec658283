// The pixel drawer: its free functions (rescale, window table, window reduction), its set-up and
// failure statuses, the MONOCHROME1/2 end-to-end rule, and frames of test-time fixtures and of
// pydicom's corpus drawn beside DCMTK's dcmj2pnm.
#include "KelvoDicomPixelDataDrawer.h"

#include "KelvoVideoDecompression.h"
#include "PixelDrawerFixtures.h"
#include "PixelDrawerPeer.h"
#include "PythonPeer.h"
#include "VUXDicomLib.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <cstdlib>
#include <limits>
#include <sstream>

namespace {

using drawertest::describeGrey;
using drawertest::picture;
using drawertest::setWindow;
using testsupport::ScratchDir;

std::vector<uint8_t> words(std::initializer_list<int32_t> values) {
    std::vector<uint8_t> bytes;
    for (int32_t v : values) {
        const uint16_t w = uint16_t(v);
        bytes.push_back(uint8_t(w & 0xFF));
        bytes.push_back(uint8_t(w >> 8));
    }
    return bytes;
}

DicomStoredValues layout(uint16_t allocated, uint16_t stored, uint16_t high, bool isSigned) {
    KelvoDicomDataImagePixel px;
    drawertest::describeGrey(px, "MONOCHROME2", 4, 4, allocated, stored, isSigned);
    px.setUSValueProperty(0x0102, high);
    return DicomStoredValues::of(px);
}

DicomStoredValues rescaled(DicomStoredValues v, double slope, double intercept) {
    v.rescale = true;
    v.slope = slope;
    v.intercept = intercept;
    return v;
}

// The picture of the word `word` under a window, through a table made for `v`.
int pictureOf(const DicomStoredValues& v, uint16_t word, double centre, double width, bool invert = false) {
    std::vector<uint8_t> t(kDicomWindowTableSize, 0xAA);
    SetupWindowLevelsTable(centre, width, t.data(), v, invert);
    return t[word];
}

// ---------------------------------------------------------------------------------------------
// Free functions

TEST(PixelDrawerFunctions, StoredValuesAreMaskedToBitsStoredAndSignExtendedFromHighBit) {
    struct Case {
        const char* what;
        uint16_t allocated, stored, high;
        bool isSigned;
        uint16_t word;
        int32_t value;
    } cases[] = {
        {"12-bit unsigned", 16, 12, 11, false, 4095, 4095},
        {"overlay bits above High Bit", 16, 12, 11, false, 0xF123, 0x123},
        {"12-bit signed stored without sign extension", 16, 12, 11, true, 0x0FFF, -1},
        {"12-bit signed, sign-extended and overlay bit", 16, 12, 11, true, 0x7800, -2048},
        {"10-bit signed -79", 16, 10, 9, true, uint16_t(0x3B1 | 0xFC00), -79},
        {"10-bit signed, top bits garbage", 16, 10, 9, true, uint16_t(0x3B1 | 0x5400), -79},
        {"16-bit signed", 16, 16, 15, true, 0x8000, -32768},
        {"16-bit unsigned", 16, 16, 15, false, 0xFFFF, 65535},
        {"stored bits high in the word", 16, 12, 15, false, 0xABC5, 0xABC},
        {"stored bits high in the word, signed", 16, 12, 15, true, 0xFFF5, -1},
        {"8-bit signed", 8, 8, 7, true, 0x80, -128},
        {"7-bit signed in 8 bits", 8, 7, 6, true, 0xC0, -64},
        {"7-bit unsigned, bit 7 set", 8, 7, 6, false, 0xFF, 127},
        {"Bits Stored 0 is taken as all bits", 16, 0, 15, false, 0xFFFF, 65535},
        {"High Bit beyond the word: low bits", 16, 12, 20, false, 0xF00F, 0x00F},
        {"Bits Stored beyond Bits Allocated", 8, 12, 11, false, 0xFF, 255},
    };
    for (const Case& c : cases) {
        const DicomStoredValues v = layout(c.allocated, c.stored, c.high, c.isSigned);
        EXPECT_EQ(v.valueOfWord(c.word), c.value) << c.what;
        EXPECT_LE(v.entries(), kDicomWindowTableSize) << c.what;
    }
}

TEST(PixelDrawerFunctions, ModalityValuesKeepTheirRange) {
    const DicomStoredValues s16 = layout(16, 16, 15, true), u16 = layout(16, 16, 15, false);
    struct Case {
        DicomStoredValues v;
        uint16_t word;
        int32_t value;
    } cases[] = {
        {rescaled(s16, 1, -1024), uint16_t(-301), -1325}, // below the intercept
        {rescaled(s16, 1, -1024), 0x8000, -33792},        // past the 16-bit range below
        {rescaled(u16, 1, 0), 64710, 64710},              // near the top of 16 unsigned bits
        {rescaled(u16, 1, 1000), 65535, 66535},           // past it
        {rescaled(u16, 0.5, -100), 301, 50},              // 50.5 truncated toward zero
        {rescaled(s16, 0.5, 0), uint16_t(-7), -3},        // -3.5 truncated toward zero
        {rescaled(u16, 2, 0), 65535, 131070},
        {rescaled(u16, 1e30, 0), 1000, 2147483647}, // saturated
        {rescaled(s16, 1e30, 0), uint16_t(-1), -2147483647 - 1},
        {rescaled(u16, std::numeric_limits<double>::quiet_NaN(), 0), 5, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.v.valueOfWord(c.word), c.value) << c.word << " x " << c.v.slope << " + " << c.v.intercept;
    // A description's rescale: an intercept alone keeps the identity slope.
    KelvoDicomDataImagePixel px;
    drawertest::describeGrey(px, "MONOCHROME2", 4, 4, 16, 16, false);
    px.Intercept(-1000.0f);
    EXPECT_EQ(DicomStoredValues::of(px).valueOfWord(2000), 1000);
}

// Expected pictures are the linear VOI function worked out by hand (and what dcmj2pnm shows for
// the same values).
TEST(PixelDrawerFunctions, WindowTableIsTheLinearVOIFunctionOfTheModalityValue) {
    const DicomStoredValues u12 = layout(16, 12, 11, false), s10 = layout(16, 10, 9, true),
                            s16 = layout(16, 16, 15, true), u16 = layout(16, 16, 15, false);
    struct Case {
        const char* what;
        DicomStoredValues v;
        uint16_t word;
        double centre, width;
        int expected;
    } cases[] = {
        {"40/400: 0", u12, 0, 40, 400, 102},
        {"40/400: the centre", u12, 40, 40, 400, 127},
        {"40/400: the end of the ramp", u12, 239, 40, 400, 255},
        {"40/400: below the ramp's end", u12, 238, 40, 400, 254},
        {"signed 10-bit -79 under -100/600", s10, uint16_t(-79), -100, 600, 136},
        {"signed 10-bit -512 under -100/600", s10, 0x200, -100, 600, 0},
        {"below the intercept under the lung window", rescaled(s16, 1, -1024), uint16_t(-301), -600, 1500, 4},
        {"near 65535 with rescale 1/0", rescaled(u16, 1, 0), 64710, 60000, 12000, 227},
        {"near -32768 with intercept -1024", rescaled(s16, 1, -1024), 0x8001, 0, 2000, 0},
        {"width 1 below the threshold", u12, 99, 100, 1, 0},
        {"width 1 at the threshold", u12, 100, 100, 1, 255},
        {"width 1, half centre", u12, 100, 100.5, 1, 0},
        {"centre far above the data", u12, 4095, 90000, 100, 0},
        {"centre far below the data", s16, 0x8000, -90000, 100, 255},
        {"slope 0.5", rescaled(u16, 0.5, -100), 300, 50, 101, 128},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(pictureOf(c.v, c.word, c.centre, c.width), c.expected) << c.what;
        EXPECT_EQ(pictureOf(c.v, c.word, c.centre, c.width, true), 255 - c.expected)
            << c.what << ", inverted";
    }
    // Windows that are no numbers, or no width, give defined values.
    for (double w :
         {0.0, -10.0, std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()})
        for (uint16_t word : {uint16_t(0), uint16_t(100), uint16_t(4095)}) {
            const int v = pictureOf(u12, word, 100, w);
            EXPECT_TRUE(v == 0 || v == 255 || v == 127) << w << " " << word << " " << v;
        }
    EXPECT_EQ(pictureOf(u12, 100, std::numeric_limits<double>::quiet_NaN(), 100) != 0xAA, true);
    SetupWindowLevelsTable(40, 400, nullptr, u12, false);
    // Every word has its entry: bits above High Bit leave the picture as it is.
    std::vector<uint8_t> t(kDicomWindowTableSize, 0xAA);
    SetupWindowLevelsTable(40, 400, t.data(), u12, false);
    for (uint32_t word = 0; word < kDicomWindowTableSize; ++word)
        ASSERT_EQ(t[word], t[word & 0x0FFF]) << word;
}

// Samples as they lie in the frame, little or big endian, with or without bits above High Bit,
// draw as their stored values do.
TEST(PixelDrawerFunctions, WindowReductionWritesBytesOverTheSamples) {
    struct Case {
        DicomStoredValues v;
        double centre, width;
        std::vector<uint16_t> samples;
        std::vector<uint8_t> out;
    } cases[] = {
        {layout(16, 12, 11, false),
         40,
         400,
         {0, 40, 239, 0xF000, 0x7028, 0x10EF, 238, 0x8FFF},
         {102, 127, 255, 102, 127, 255, 254, 255}},
        {layout(16, 10, 9, true),
         -100,
         600,
         {uint16_t(-79), 0x3B1, 0x7FB1, 0x200, 0xFE00, 0x1FF, 0, 1},
         {136, 136, 136, 0, 0, 255, 170, 170}},
        {layout(16, 12, 15, false),
         40,
         400,
         {0x0000, 0x0280, 0xEEF0, 0x000F, 0x0EE5, 0xFFFF, 0x0020, 0x0010},
         {102, 127, 255, 102, 254, 255, 103, 102}},
    };
    for (const Case& c : cases)
        for (bool swapped : {false, true}) {
            std::vector<uint8_t> table(kDicomWindowTableSize);
            SetupWindowLevelsTable(c.centre, c.width, table.data(), c.v, false, swapped);
            // Frames of several lengths: whole groups and a tail.
            for (size_t n : {size_t(1), size_t(3), size_t(4), size_t(7), c.samples.size()}) {
                std::vector<uint8_t> data;
                for (size_t i = 0; i < n; ++i) {
                    const uint16_t w = c.samples[i];
                    data.push_back(uint8_t(swapped ? w >> 8 : w & 0xFF));
                    data.push_back(uint8_t(swapped ? w & 0xFF : w >> 8));
                }
                ApplyWindowLevels(data.data(), uint32_t(n), table.data());
                EXPECT_EQ(std::vector<uint8_t>(data.begin(), data.begin() + long(n)),
                          std::vector<uint8_t>(c.out.begin(), c.out.begin() + long(n)))
                    << n << " samples, swapped " << swapped;
            }
        }
    std::vector<uint8_t> table(kDicomWindowTableSize, 9);
    ApplyWindowLevels(nullptr, 4, table.data());
    std::vector<uint8_t> data = words({1, 2});
    ApplyWindowLevels(data.data(), 2, nullptr);
    EXPECT_EQ(data, words({1, 2}));
}

// ---------------------------------------------------------------------------------------------
// The drawer

TEST(PixelDrawer, NewDrawerIsDetached) {
    KelvoDicomPixelDataDrawer drawer;
    EXPECT_STREQ(drawer.qtObjName(), "KelvoDicomPixelDataDrawer");
    EXPECT_TRUE(drawer.isA("KelvoDicomPixelDataDrawer"));
    EXPECT_TRUE(drawer.isA("Kelvo_QTObj"));
    EXPECT_FALSE(drawer.qtObjIsValid());
    EXPECT_EQ(drawer.Error(), 0);
    EXPECT_EQ(drawer.windowLevels().getStart(), 0.0);
    EXPECT_EQ(drawer.windowLevels().getEnd(), 1.0);
    EXPECT_EQ(drawer.autoCorrectionEnabled(), 1);
    EXPECT_EQ(drawer.lutWindow(), nullptr);
    EXPECT_EQ(drawer.qtPixelBuffer(), nullptr);
    EXPECT_EQ(drawer.decompressionSession(), nullptr);
    drawer.refreshData();
    drawer.playData(true);
    drawer.playDataCompressed(10);
    EXPECT_EQ(drawer.Error(), 0);
}

TEST(PixelDrawer, AttachRefusesWhatItCannotDraw) {
    std::vector<uint8_t> frame(64 * 64 * 8, 0);
    struct Case {
        const char* what;
        int32_t status;
        void (*describe)(KelvoDicomDataImagePixel&);
    } cases[] = {
        {"1-bit grey (the frame buffer holds fewer bytes than pixels)", -50,
         [](KelvoDicomDataImagePixel& px) { describeGrey(px, "MONOCHROME2", 64, 64, 1, 1, false); }},
        {"32-bit grey", -50,
         [](KelvoDicomDataImagePixel& px) { describeGrey(px, "MONOCHROME2", 8, 8, 32, 32, false); }},
        {"16-bit RGB", -50,
         [](KelvoDicomDataImagePixel& px) {
             describeGrey(px, "RGB", 8, 8, 16, 16, false);
             px.PhotoInterpretation("RGB");
         }},
        {"an edge beyond what a description holds", -50,
         [](KelvoDicomDataImagePixel& px) { describeGrey(px, "MONOCHROME2", 40000, 1, 8, 8, false); }},
        {"no pixels", -50,
         [](KelvoDicomDataImagePixel& px) { describeGrey(px, "MONOCHROME2", 0, 0, 8, 8, false); }},
    };
    for (const Case& c : cases) {
        KelvoDicomDataImagePixel px;
        c.describe(px);
        // A frame buffer of the description's size: refreshing a refused frame stays inside it.
        std::vector<uint8_t> exact(std::max<size_t>(px.size(), 1), 0);
        KelvoDicomPixelDataDrawer drawer;
        drawer.attachDataSource(exact.data(), &px);
        drawer.refreshData();
        EXPECT_EQ(drawer.Error(), c.status) << c.what;
        EXPECT_FALSE(drawer.qtObjIsValid()) << c.what;
        EXPECT_EQ(drawer.qtPixelBuffer(), nullptr) << c.what;
        EXPECT_EQ(drawer.decompressionSession(), nullptr) << c.what;
        drawer.playData(true); // nothing to draw into
    }

    KelvoDicomPixelDataDrawer drawer;
    Kelvo_NumericalRange notADescription(1, 2);
    drawer.attachDataSource(frame.data(), &notADescription);
    EXPECT_EQ(drawer.Error(), 9);
    EXPECT_EQ(drawer.data(), frame.data()); // detached, but the pointer is kept
    EXPECT_FALSE(drawer.qtObjIsValid());
    drawer.attachDataSource(frame.data(), nullptr);
    EXPECT_EQ(drawer.Error(), 9);
    // No data: detached without error.
    KelvoDicomDataImagePixel px;
    drawer.attachDataSource(nullptr, &px);
    EXPECT_EQ(drawer.Error(), 0);
    EXPECT_FALSE(drawer.qtObjIsValid());
}

// The colour of every pixel of a one-row frame drawn with `describe` from `samples`.
std::vector<uint32_t> drawRow(KelvoDicomDataImagePixel& px, std::vector<uint8_t> frame) {
    KelvoDicomPixelDataDrawer drawer;
    drawer.attachDataSource(frame.data(), &px);
    EXPECT_EQ(drawer.Error(), 0);
    EXPECT_TRUE(drawer.qtObjIsValid());
    drawer.playData(true);
    EXPECT_EQ(drawer.decompressionSession()->Error(), 0);
    const drawertest::Picture p = picture(drawer);
    std::vector<uint32_t> row;
    for (int32_t x = 0; x < p.width; ++x)
        row.push_back(uint32_t(p.channel(x, 0, 1)) << 16 | uint32_t(p.channel(x, 0, 2)) << 8 |
                      p.channel(x, 0, 3));
    return row;
}

TEST(PixelDrawer, BottomOfTheWindowIsBlackForMonochrome2AndWhiteForMonochrome1) {
    for (const char* photometric : {"MONOCHROME2", "MONOCHROME1"}) {
        const bool two = std::strcmp(photometric, "MONOCHROME2") == 0;
        const uint32_t bottom = two ? 0x000000 : 0xFFFFFF, top = two ? 0xFFFFFF : 0x000000;
        KelvoDicomDataImagePixel px;
        describeGrey(px, photometric, 4, 1, 16, 12, false);
        setWindow(px, "1000", "201"); // the ramp from 900 to 1100
        std::vector<uint32_t> row = drawRow(px, words({900, 1100, 0, 1000}));
        EXPECT_EQ(row[0], bottom) << photometric;
        EXPECT_EQ(row[1], top) << photometric;
        EXPECT_EQ(row[2], bottom) << photometric;
        EXPECT_EQ(row[3], two ? 0x808080u : 0x7F7F7Fu) << photometric; // 128.1 in the table
        // 8-bit grey is not windowed: 0 is the bottom of its range.
        KelvoDicomDataImagePixel px8;
        describeGrey(px8, photometric, 4, 1, 8, 8, false);
        row = drawRow(px8, {0, 255, 1, 200});
        EXPECT_EQ(row[0], bottom) << photometric;
        EXPECT_EQ(row[1], top) << photometric;
        EXPECT_EQ(row[3], two ? 0xC8C8C8u : 0x373737u) << photometric;
    }
}

TEST(PixelDrawer, RescaleAndWindowOfAFrame) {
    // CT: signed samples, Hounsfield units through intercept -1024, window 40/400 in HU.
    KelvoDicomDataImagePixel ct;
    describeGrey(ct, "MONOCHROME1", 10, 1, 16, 12, true);
    ct.Intercept(-1024.0f);
    ct.Slope(1.0f);
    setWindow(ct, "40", "400");
    KelvoDicomPixelDataDrawer drawer;
    // The last two: -1325 HU (below the intercept) and a 12-bit -2048 stored with bits above it.
    std::vector<uint8_t> frame = words({1024, 1064, 0, 864, 1263, 2047, 1000, 1100, -301, 0x7800});
    drawer.attachDataSource(frame.data(), &ct);
    ASSERT_TRUE(drawer.qtObjIsValid());
    ASSERT_NE(drawer.lutWindow(), nullptr);
    drawer.refreshData();
    // -160 HU and below are the bottom; 0 HU is 102, 40 HU the middle, 239 HU the top.
    EXPECT_EQ(std::vector<uint8_t>(frame.begin(), frame.begin() + 10),
              (std::vector<uint8_t>{102, 127, 0, 0, 255, 255, 86, 150, 0, 0}));
    // The lung window reaches below the intercept.
    Kelvo_NumericalRange lung(-600, 1500);
    drawer.windowLevels(&lung);
    const std::vector<uint8_t> lungFrame = words({-301, 0, 1024, 0x7800, 0x0800, 0, 0, 0, 0, 0});
    std::copy(lungFrame.begin(), lungFrame.end(), frame.begin()); // the drawer's buffer stays
    drawer.refreshData();
    EXPECT_EQ(std::vector<uint8_t>(frame.begin(), frame.begin() + 5),
              (std::vector<uint8_t>{4, 55, 229, 0, 0}));

    // Intercept exactly 0: the same picture as no rescale at all.
    KelvoDicomDataImagePixel zero, none;
    describeGrey(zero, "MONOCHROME1", 4, 1, 16, 16, false);
    describeGrey(none, "MONOCHROME1", 4, 1, 16, 16, false);
    zero.Intercept(0.0f);
    zero.Slope(1.0f);
    setWindow(zero, "1000", "400");
    setWindow(none, "1000", "400");
    for (KelvoDicomDataImagePixel* px : {&zero, &none}) {
        KelvoDicomPixelDataDrawer zeroDrawer;
        frame = words({1000, 800, 1199, 3});
        zeroDrawer.attachDataSource(frame.data(), px);
        ASSERT_TRUE(zeroDrawer.qtObjIsValid());
        zeroDrawer.refreshData();
        EXPECT_EQ(std::vector<uint8_t>(frame.begin(), frame.begin() + 4),
                  (std::vector<uint8_t>{127, 0, 255, 0}));
    }

    // Slope 0.5, intercept -100, no inversion: 300 → 50.
    KelvoDicomDataImagePixel half;
    describeGrey(half, "MONOCHROME1", 2, 1, 16, 16, false);
    half.Intercept(-100.0f);
    half.Slope(0.5f);
    setWindow(half, "50", "101");
    KelvoDicomPixelDataDrawer halfDrawer;
    frame = words({300, 301});
    halfDrawer.attachDataSource(frame.data(), &half);
    halfDrawer.refreshData();
    EXPECT_EQ(frame[0], 128);
    EXPECT_EQ(frame[1], 128); // 50.5 truncated to 50
}

TEST(PixelDrawer, EightBitGreyIsShownByValue) {
    // Signed: -128 black and 127 white (MONOCHROME2); unsigned bits above High Bit are not value.
    struct Case {
        const char* photometric;
        uint16_t stored;
        bool isSigned;
        std::vector<uint8_t> samples;
        std::vector<uint32_t> greys;
    } cases[] = {
        {"MONOCHROME2", 8, true, {0x80, 0xFF, 0x00, 0x7F}, {0x00, 0x7F, 0x80, 0xFF}},
        {"MONOCHROME1", 8, true, {0x80, 0xFF, 0x00, 0x7F}, {0xFF, 0x80, 0x7F, 0x00}},
        {"MONOCHROME2", 7, false, {0x80, 0xFF, 0x05, 0x7F}, {0x00, 0x7F, 0x05, 0x7F}},
        {"MONOCHROME2", 8, false, {0x80, 0xFF, 0x05, 0x7F}, {0x80, 0xFF, 0x05, 0x7F}},
    };
    for (const Case& c : cases) {
        KelvoDicomDataImagePixel px;
        describeGrey(px, c.photometric, 4, 1, 8, c.stored, c.isSigned);
        const std::vector<uint32_t> row = drawRow(px, c.samples);
        for (size_t i = 0; i < 4; ++i)
            EXPECT_EQ(row[i], c.greys[i] * 0x010101u) << c.photometric << " " << c.stored << " " << i;
    }
}

TEST(PixelDrawer, AnInterceptWithoutSlopeKeepsTheIdentitySlope) {
    KelvoDicomDataImagePixel px;
    describeGrey(px, "MONOCHROME1", 2, 1, 16, 16, false);
    px.Intercept(-1000.0f);
    setWindow(px, "0", "2001");
    KelvoDicomPixelDataDrawer drawer;
    std::vector<uint8_t> frame = words({0, 2000});
    drawer.attachDataSource(frame.data(), &px);
    drawer.refreshData();
    EXPECT_EQ(frame[0], 0);   // -1000: the bottom
    EXPECT_EQ(frame[1], 255); // 1000: the top, not the flat intercept
}

TEST(PixelDrawer, EightBitFramesAreNeitherRescaledNorWindowed) {
    KelvoDicomDataImagePixel px;
    describeGrey(px, "MONOCHROME1", 4, 1, 8, 8, false);
    px.Intercept(10.0f);
    px.Slope(2.0f);
    setWindow(px, "10", "20");
    KelvoDicomPixelDataDrawer drawer;
    std::vector<uint8_t> frame = {0, 1, 128, 255};
    drawer.attachDataSource(frame.data(), &px);
    ASSERT_TRUE(drawer.qtObjIsValid());
    EXPECT_EQ(drawer.lutWindow(), nullptr);
    Kelvo_NumericalRange other(5, 5);
    drawer.windowLevels(&other);
    EXPECT_EQ(drawer.windowLevels().getStart(), 0.0); // ignored: no windowing
    drawer.refreshData();
    EXPECT_EQ(frame, (std::vector<uint8_t>{0, 1, 128, 255}));
    // MONOCHROME2 is complemented for depth 40.
    px.PhotoInterpretation("MONOCHROME2");
    drawer.attachDataSource(frame.data(), &px);
    EXPECT_TRUE(drawer.inversion());
    drawer.refreshData();
    EXPECT_EQ(frame, (std::vector<uint8_t>{255, 254, 127, 0}));
}

TEST(PixelDrawer, NewWindowRebuildsTheTableOnlyWhenItChanges) {
    KelvoDicomDataImagePixel px;
    describeGrey(px, "MONOCHROME2", 4, 4, 16, 12, false);
    setWindow(px, "40", "400");
    std::vector<uint8_t> frame(32, 0);
    KelvoDicomPixelDataDrawer drawer;
    drawer.attachDataSource(frame.data(), &px);
    ASSERT_TRUE(drawer.qtObjIsValid());
    EXPECT_EQ(drawer.windowLevels().getStart(), 40.0);
    EXPECT_EQ(drawer.windowLevels().getEnd(), 400.0);
    drawer.lutWindow()[4000] = 77; // a mark that only a rebuild removes
    Kelvo_NumericalRange same(40, 400);
    drawer.windowLevels(&same);
    drawer.windowLevels(nullptr);
    EXPECT_EQ(drawer.lutWindow()[4000], 77);
    Kelvo_NumericalRange other(4000, 100);
    drawer.windowLevels(&other);
    EXPECT_EQ(drawer.windowLevels().getStart(), 4000.0);
    EXPECT_EQ(drawer.lutWindow()[4000], 255 - 128); // rebuilt: the centre, inverted for MONOCHROME2
}

TEST(PixelDrawer, BigEndianFramesAreSwappedUnlessAutoCorrectionIsOff) {
    const dicmXferSyntaxInfo* big = VUX::VUXDCM::VUXDicomLibrary::xferSyntaxInfo("1.2.840.10008.1.2.2");
    ASSERT_NE(big, nullptr);
    KelvoDicomDataImagePixel px;
    describeGrey(px, "MONOCHROME1", 2, 1, 16, 16, false);
    setWindow(px, "128", "256");
    px.pixelEncoding() = big;
    KelvoDicomPixelDataDrawer drawer;
    std::vector<uint8_t> frame = {0x00, 0x40, 0x00, 0xC0}; // 64 and 192, high byte first
    drawer.attachDataSource(frame.data(), &px);
    ASSERT_TRUE(drawer.qtObjIsValid());
    drawer.refreshData();
    EXPECT_EQ(frame[0], 64);
    EXPECT_EQ(frame[1], 192);
    // Off: the owner has swapped the frame already.
    drawer.autoCorrectionEnabled() = 0;
    frame = {0x40, 0x00, 0xC0, 0x00};
    drawer.refreshData();
    EXPECT_EQ(frame[0], 64);
    EXPECT_EQ(frame[1], 192);
}

uint16_t paletteRed(int i) {
    return uint16_t(i * 257);
}
uint16_t paletteGreen(int i) {
    return uint16_t((255 - i) * 257);
}
uint16_t paletteBlue(int i) {
    return uint16_t(i < 2 ? 0xFFFF : 0x1234);
}

TEST(PixelDrawer, PaletteColourIsDrawnThroughTheTables) {
    KelvoDicomDataImagePixel px;
    describeGrey(px, "MONOCHROME2", 4, 1, 8, 8, false);
    drawertest::putPalette(px, 4, paletteRed, paletteGreen, paletteBlue);
    KelvoDicomPixelDataDrawer drawer;
    std::vector<uint8_t> frame = {0, 1, 3, 200};
    drawer.attachDataSource(frame.data(), &px);
    ASSERT_TRUE(drawer.qtObjIsValid()) << drawer.Error();
    ASSERT_NE(drawer.palette(), nullptr);
    EXPECT_FALSE(drawer.inversion());
    drawer.playData(true);
    const drawertest::Picture p = picture(drawer);
    auto rgb = [&](int x) {
        return std::vector<int>{p.channel(x, 0, 1), p.channel(x, 0, 2), p.channel(x, 0, 3)};
    };
    EXPECT_EQ(rgb(0), (std::vector<int>{0, 255, 255}));
    EXPECT_EQ(rgb(1), (std::vector<int>{1, 254, 255}));
    EXPECT_EQ(rgb(2), (std::vector<int>{3, 252, 0x12}));
    EXPECT_EQ(rgb(3), (std::vector<int>{3, 252, 0x12})); // past the last entry: the last
}

TEST(PixelDrawer, ANewDescriptionNeedsANewContext) {
    KelvoDicomDataImagePixel wide;
    describeGrey(wide, "MONOCHROME2", 8, 4, 16, 16, false);
    KelvoDicomDataImagePixel palette;
    describeGrey(palette, "MONOCHROME2", 16, 2, 8, 8, false);
    drawertest::putPalette(palette, 4, paletteRed, paletteGreen, paletteBlue);
    std::vector<uint8_t> frame(64, 0);
    KelvoDicomPixelDataDrawer drawer;
    drawer.attachDataSource(frame.data(), &wide);
    ASSERT_TRUE(drawer.qtObjIsValid());
    // The former table, session and buffer go with the former description.
    EXPECT_FALSE(drawer.initDicomImagePixelDesc(&palette));
    EXPECT_FALSE(drawer.qtObjIsValid());
    EXPECT_EQ(drawer.lutWindow(), nullptr);
    EXPECT_NE(drawer.palette(), nullptr);
    drawer.playData(true); // no session: nothing drawn
    drawer.initQTContext();
    ASSERT_TRUE(drawer.qtObjIsValid()) << drawer.Error();
    drawer.initQTContext(); // again: the first context is released
    ASSERT_TRUE(drawer.qtObjIsValid()) << drawer.Error();
    frame[17] = 1;
    drawer.playData(true);
    const drawertest::Picture p = picture(drawer);
    EXPECT_EQ(p.width, 16);
    EXPECT_EQ(p.channel(1, 1, 2), 254);
    EXPECT_EQ(drawer.initDicomImagePixelDesc(&wide), true);
    EXPECT_NE(drawer.lutWindow(), nullptr);
}

TEST(PixelDrawer, ReattachingStartsAfresh) {
    KelvoDicomDataImagePixel wide;
    describeGrey(wide, "MONOCHROME2", 8, 4, 16, 16, false);
    KelvoDicomDataImagePixel narrow;
    describeGrey(narrow, "RGB", 3, 2, 8, 8, false);
    narrow.PhotoInterpretation("RGB");
    std::vector<uint8_t> frame(64, 0);
    KelvoDicomPixelDataDrawer drawer;
    drawer.attachDataSource(frame.data(), &wide);
    ASSERT_TRUE(drawer.qtObjIsValid());
    EXPECT_NE(drawer.lutWindow(), nullptr);
    drawer.attachDataSource(frame.data(), &narrow);
    ASSERT_TRUE(drawer.qtObjIsValid());
    EXPECT_EQ(drawer.lutWindow(), nullptr);
    EXPECT_FALSE(drawer.inversion());
    EXPECT_EQ(drawer.qtPixelBuffer()->width(), 3);
    EXPECT_EQ(drawer.qtPixelBuffer()->height(), 2);
    EXPECT_STREQ(drawer.dataDescription().PhotoInterpretation(), "RGB");
    drawer.attachDataSource(nullptr, nullptr);
    EXPECT_FALSE(drawer.qtObjIsValid());
    EXPECT_EQ(drawer.qtPixelBuffer(), nullptr);
}

// ---------------------------------------------------------------------------------------------
// Beside dcmj2pnm

struct Entry {
    std::string origin, file, windows;
};

std::vector<Entry> manifest(const std::string& dir) {
    std::vector<Entry> entries;
    std::istringstream lines(testsupport::readFile(dir + "/manifest.tsv"));
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        Entry e;
        std::getline(fields, e.origin, '\t');
        std::getline(fields, e.file, '\t');
        std::getline(fields, e.windows, '\t');
        if (!e.file.empty()) entries.push_back(e);
    }
    return entries;
}

// Draws the file's first frame with its default window and with each window of the entry, and
// compares each picture with dcmj2pnm's: equal for frames that are not windowed; within one grey
// level for windowed ones, where DCMTK's arithmetic rounds differently from the table (each
// difference is counted and shown). Every sample is compared.
void compareWithDcmtk(const ScratchDir& dir, const Entry& e) {
    SCOPED_TRACE(e.file);
    drawertest::FileFrame file(e.file);
    ASSERT_TRUE(file.imagePixel);
    if (file.stored.empty()) {
        const std::string bytes = testsupport::readFile(e.file + ".frame");
        file.stored.assign(bytes.begin(), bytes.end());
    }
    ASSERT_FALSE(file.stored.empty());
    const bool windowed = file.imagePixel->useWindowing();
    // DCMTK inverts MONOCHROME1 inside its own arithmetic, where the drawer complements the
    // truncated table value: the two round differently, by one grey level at most.
    const std::string photometric = file.imagePixel->PhotoInterpretation();
    const bool rounded = windowed || photometric == "MONOCHROME1";
    // YBR colour: the drawer rounds the standard's equations (as pydicom converts, within one
    // level: PresentationBesideDcmj2pnmTest), DCMTK works in fixed point of its own and lands up
    // to two levels apart near the ends of the scale.
    const size_t tolerance = photometric.rfind("YBR", 0) == 0 ? 2u : (rounded ? 1u : 0u);
    std::vector<std::pair<bool, Kelvo_NumericalRange>> windows = {{false, Kelvo_NumericalRange()}};
    if (windowed && e.windows != "-") {
        std::istringstream list(e.windows);
        for (std::string w; std::getline(list, w, ';');) {
            double c = 0, width = 0;
            ASSERT_EQ(std::sscanf(w.c_str(), "%lf,%lf", &c, &width), 2) << w;
            windows.push_back({true, Kelvo_NumericalRange(c, width)});
        }
    }
    for (auto& [chosen, window] : windows) {
        std::vector<uint8_t> frame = file.working();
        KelvoDicomPixelDataDrawer drawer;
        drawer.attachDataSource(frame.data(), file.imagePixel.get());
        ASSERT_EQ(drawer.Error(), 0);
        ASSERT_TRUE(drawer.qtObjIsValid());
        if (chosen) drawer.windowLevels(&window);
        const double c = drawer.windowLevels().getStart(), w = drawer.windowLevels().getEnd();
        drawer.playData(true);
        ASSERT_EQ(drawer.decompressionSession()->Error(), 0);
        const drawertest::Picture ours = picture(drawer);
        const drawertest::Pnm theirs = drawertest::dcmj2pnm(dir, e.file, windowed, c, w);
        ASSERT_EQ(theirs.width, ours.width);
        ASSERT_EQ(theirs.height, ours.height);
        const size_t pixels = size_t(ours.width) * size_t(ours.height);
        size_t offByOne = 0, worst = 0;
        for (size_t i = 0; i < pixels; ++i) {
            const int32_t x = int32_t(i % size_t(ours.width)), y = int32_t(i / size_t(ours.width));
            size_t diff = 0;
            for (int ch = 0; ch < 3; ++ch) {
                const int a = ours.channel(x, y, 1 + ch);
                const int b =
                    theirs.samples[i * size_t(theirs.components) + size_t(theirs.components == 3 ? ch : 0)];
                diff = std::max(diff, size_t(std::abs(a - b)));
            }
            worst = std::max(worst, diff);
            if (diff == 1) ++offByOne;
            if (diff > tolerance) {
                ADD_FAILURE() << "pixel " << x << "," << y << " differs by " << diff << " (window " << c
                              << "/" << w << ")";
                return;
            }
        }
        std::printf("%-40s window %10g/%-10g %7zu pixels, %6zu off by one\n",
                    e.file.substr(e.file.rfind('/') + 1).c_str(), windowed ? c : 0.0, windowed ? w : 0.0,
                    pixels, offByOne);
    }
}

bool haveDcmtk() {
    if (testsupport::haveCommand("dcmj2pnm") && testsupport::haveCommand("dcmconv")) return true;
    std::printf("dcmj2pnm or dcmconv is not installed: the frames were not compared\n");
    return false;
}

TEST(PixelDrawerPeers, TestTimeFixturesMatchDcmj2pnm) {
    if (!haveDcmtk()) GTEST_SKIP();
    ScratchDir dir("pixel-drawer-made");
    const std::string files = testsupport::makePeerFixtures(dir, drawertest::kPeer, "make");
    ASSERT_FALSE(files.empty());
    const std::vector<Entry> entries = manifest(files);
    EXPECT_EQ(entries.size(), 20u);
    for (const Entry& e : entries)
        compareWithDcmtk(dir, e);
}

TEST(PixelDrawerPeers, CorpusImagesMatchDcmj2pnm) {
    if (!haveDcmtk()) GTEST_SKIP();
    ScratchDir dir("pixel-drawer-corpus");
    const std::string files = testsupport::makePeerFixtures(
        dir, drawertest::kPeer, std::string("corpus '") + testsupport::pydicomTestFiles() + "'");
    ASSERT_FALSE(files.empty());
    const std::vector<Entry> entries = manifest(files);
    EXPECT_GE(entries.size(), 20u);
    for (const Entry& e : entries)
        compareWithDcmtk(dir, e);
}

TEST(PixelDrawerPeers, CorpusImagesTheDrawerCannotTakeAreRefused) {
    // 1-bit and 32-bit grey, 16-bit colour: refused with -50 instead of drawn from bytes that are
    // not one a sample.
    for (const char* name : {"liver_1frame.dcm", "rtdose_1frame.dcm", "SC_rgb_rle_16bit.dcm"}) {
        drawertest::FileFrame file(std::string(testsupport::pydicomTestFiles()) + "/" + name);
        ASSERT_TRUE(file.imagePixel) << name;
        std::vector<uint8_t> frame = file.working();
        frame.resize(std::max<size_t>(frame.size(), 16));
        KelvoDicomPixelDataDrawer drawer;
        drawer.attachDataSource(frame.data(), file.imagePixel.get());
        EXPECT_EQ(drawer.Error(), -50) << name;
        EXPECT_FALSE(drawer.qtObjIsValid()) << name;
    }
}

// Frames of syntaxes that a platform codec decodes (JPEG baseline, JPEG 2000) reach the drawer
// compressed: the owner puts the compressed frame in the frame buffer and draws it with
// playDataCompressed. The codecs are not DCMTK's (libjpeg-turbo and OpenJPEG against DCMTK's
// IJG build, and DCMTK has no JPEG 2000 at all), so the pictures are compared within the spread
// of two decoders; each difference is counted and shown.
TEST(PixelDrawerPeers, CompressedFramesDrawnByThePlatformCodecsMatchDcmj2pnm) {
    if (!haveDcmtk()) GTEST_SKIP();
    ScratchDir dir("pixel-drawer-compressed");
    size_t compared = 0;
    for (const auto& entry : std::filesystem::directory_iterator(testsupport::pydicomTestFiles())) {
        const std::string name = entry.path().filename().string();
        // Single frames of 8-bit samples in JPEG baseline (DCMTK decodes no JPEG 2000).
        if (name.rfind(".dcm") != name.size() - 4) continue;
        SCOPED_TRACE(name);
        drawertest::FileFrame file(entry.path().string(), false);
        if (!file.imagePixel) continue; // no image, or none the reader opens (nor does dcmdump)
        const dicmXferSyntaxInfo* syntax = file.imagePixel->pixelEncoding();
        if (!syntax || !(syntax->flags & kDicmXferPlatformCodec) || syntax->id != 4 ||
            file.imagePixel->FramesCount() != 1 || file.imagePixel->getUSValueProperty(0x0100) != 8)
            continue;
        std::vector<uint8_t> frame = file.working();
        KelvoDicomPixelDataDrawer drawer;
        drawer.attachDataSource(frame.data(), file.imagePixel.get());
        ASSERT_EQ(drawer.Error(), 0);
        ASSERT_TRUE(drawer.qtObjIsValid());
        EXPECT_EQ(drawer.lutWindow(), nullptr);
        EXPECT_FALSE(drawer.inversion());
        drawer.playDataCompressed(uint32_t(file.stored.size()));
        ASSERT_EQ(drawer.decompressionSession()->Error(), 0);
        const drawertest::Picture ours = picture(drawer);
        const drawertest::Pnm theirs = drawertest::dcmj2pnm(dir, entry.path().string(), false, 0, 0);
        ASSERT_EQ(theirs.components, file.imagePixel->PixelSamples() == 1 ? 1 : 3);
        ASSERT_EQ(theirs.width, ours.width);
        ASSERT_EQ(theirs.height, ours.height);
        size_t differ = 0, worst = 0;
        const size_t pixels = size_t(ours.width) * size_t(ours.height);
        for (size_t i = 0; i < pixels; ++i) {
            size_t diff = 0;
            for (int ch = 0; ch < 3; ++ch)
                diff =
                    std::max(diff, size_t(std::abs(ours.channel(int32_t(i % size_t(ours.width)),
                                                                int32_t(i / size_t(ours.width)), 1 + ch) -
                                                   theirs.samples[i * size_t(theirs.components) +
                                                                  size_t(theirs.components == 3 ? ch : 0)])));
            differ += diff != 0;
            worst = std::max(worst, diff);
        }
        std::printf("%-40s %7zu pixels, %6zu differ, by %zu at most\n", name.c_str(), pixels, differ, worst);
        // Frames whose streams say nothing of their colour space (no JFIF or Adobe marker) take
        // it from Photometric Interpretation, as DCMTK does.
        EXPECT_LE(worst, 2u);
        ++compared;
    }
    EXPECT_GE(compared, 10u);
}

} // namespace
