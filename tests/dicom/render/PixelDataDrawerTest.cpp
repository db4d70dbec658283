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

uint16_t wordAt(const std::vector<uint8_t>& bytes, size_t i) {
    return uint16_t(bytes[2 * i] | bytes[2 * i + 1] << 8);
}

std::vector<uint8_t> table(double centre, double width, float offset) {
    std::vector<uint8_t> t(kDicomWindowTableSize, 0xAA);
    SetupWindowLevelsTable(centre, width, t.data(), offset);
    return t;
}

// ---------------------------------------------------------------------------------------------
// Free functions

TEST(PixelDrawerFunctions, SlopeInterceptRescalesInPlace) {
    struct Case {
        int32_t raw;
        bool isSigned;
        float slope, intercept;
        uint16_t expected;
    } cases[] = {
        {0x8001, true, 1.0f, 0.0f, 0x8001},   // identity: untouched, whatever the sign
        {100, false, 1.0f, -1024.0f, 0xFC64}, // -924 as 16 bits
        {-1, true, 2.0f, 0.0f, 0xFFFE},       // read as signed: -2
        {0xFFFF, false, 2.0f, 0.0f, 0xFFFE},  // read as unsigned: 131070, low 16 bits
        {7, false, 0.5f, 0.0f, 3},            // 3.5 truncated toward zero
        {-7, true, 0.5f, 0.0f, 0xFFFD},       // -3.5 truncated toward zero: -3
        {65535, false, 1.0f, 10.0f, 9},       // 65545: low 16 bits
        {3, false, 0.1f, 0.2f, 0},            // 0.5 in single precision, truncated
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> data = words({c.raw, c.raw});
        ApplySlopeIntercept(data.data(), 1, c.intercept, c.slope, c.isSigned);
        EXPECT_EQ(wordAt(data, 0), c.expected) << c.raw << " x " << c.slope << " + " << c.intercept;
        EXPECT_EQ(wordAt(data, 1), uint16_t(c.raw)) << "only `count` samples change";
    }
    // Values no 16-bit sample holds, and slopes that are not numbers, stay defined.
    std::vector<uint8_t> data = words({1000, 1000});
    ApplySlopeIntercept(data.data(), 1, 0.0f, std::numeric_limits<float>::quiet_NaN(), false);
    EXPECT_EQ(wordAt(data, 0), 0);
    ApplySlopeIntercept(data.data() + 2, 1, 0.0f, 1e30f, false);
    EXPECT_EQ(wordAt(data, 1), 0xFF80); // saturated at the largest float below 2^31
    data = words({1000, 1000});
    ApplySlopeIntercept(data.data(), 2, -1.0f, -std::numeric_limits<float>::infinity(), true);
    EXPECT_EQ(wordAt(data, 0), 0x0000); // -2^31: its low 16 bits
    ApplySlopeIntercept(nullptr, 5, 1.0f, 2.0f, false);
}

TEST(PixelDrawerFunctions, WindowTableFollowsTheLinearVOIFunction) {
    // Centre 40, width 400: c = 39.5, w = 399, the ramp ends at 239.
    std::vector<uint8_t> t = table(40, 400, 0.0f);
    EXPECT_EQ(t[0], 102);
    EXPECT_EQ(t[40], 127);
    EXPECT_EQ(t[238], 254);
    EXPECT_EQ(t[239], 255);
    for (uint32_t x = 240; x < kDicomWindowTableSize; ++x)
        ASSERT_EQ(t[x], 255) << x;
    // Width 1 is a threshold at c = centre - 0.5.
    t = table(100, 1, 0.0f);
    EXPECT_EQ(t[99], 0);
    EXPECT_EQ(t[100], 255);
    t = table(100.5, 1, 0.0f);
    EXPECT_EQ(t[100], 0);
    EXPECT_EQ(t[101], 255);
    // A window wholly below or above the table.
    t = table(-5000, 100, 0.0f);
    EXPECT_EQ(t[0], 255);
    t = table(90000, 100, 0.0f);
    EXPECT_EQ(t[65535], 0);
    // The offset shifts the centre: index 0 stands for the value `offset`.
    const std::vector<uint8_t> shifted = table(40, 400, -1024.0f), plain = table(40 + 1024, 400, 0.0f);
    EXPECT_EQ(shifted, plain);
    EXPECT_EQ(shifted[1024 + 40], 127);
    // Windows that are no numbers, or no width, fill the table with defined values.
    for (double w :
         {0.0, -10.0, std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()}) {
        t = table(100, w, 0.0f);
        for (uint8_t v : t)
            ASSERT_TRUE(v == 0 || v == 255 || w > 1.0) << w;
    }
    t = table(std::numeric_limits<double>::quiet_NaN(), 100, 0.0f);
    SetupWindowLevelsTable(40, 400, nullptr, 0.0f);
}

TEST(PixelDrawerFunctions, WindowReductionWritesBytesOverTheSamples) {
    std::vector<uint8_t> t(kDicomWindowTableSize);
    for (uint32_t i = 0; i < kDicomWindowTableSize; ++i)
        t[i] = uint8_t(i * 7 + (i >> 8));
    struct Case {
        bool isSigned;
        int32_t offset;
        std::initializer_list<int32_t> samples;
        std::vector<uint8_t> out;
    } cases[] = {
        {false, 0, {5, 300, 65535, 0}, {t[5], t[300], t[65535], t[0]}},
        {true, 0, {-1, 7, -32768, 32767}, {0, t[7], 0, t[32767]}},
        // Rescaled values down to the offset index the table from 0.
        {false, -1024, {-1024, 0, 64511, 5}, {t[0], t[1024], t[65535], t[1029]}},
        {true, -1024, {-1024, -1025, 100, 31743}, {t[0], 0, t[1124], t[32767]}},
        {true, 100, {50, 100, 150, -32768}, {0, t[0], t[50], t[32668]}},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> data = words(c.samples);
        const std::vector<uint8_t> before = data;
        ApplyWindowLevels(data.data(), c.isSigned, uint32_t(c.out.size()), t.data(), c.offset);
        EXPECT_EQ(std::vector<uint8_t>(data.begin(), data.begin() + long(c.out.size())), c.out)
            << "signed " << c.isSigned << " offset " << c.offset;
        // Samples not overtaken by the output keep their shifted value.
        for (size_t i = c.out.size() / 2; i < c.out.size(); ++i)
            EXPECT_EQ(wordAt(data, i), uint16_t(wordAt(before, i) - uint16_t(c.offset)));
    }
    ApplyWindowLevels(nullptr, false, 4, t.data(), 0);
    std::vector<uint8_t> data = words({1, 2});
    ApplyWindowLevels(data.data(), false, 2, nullptr, 0);
    EXPECT_EQ(data, words({1, 2}));
}

// Frames of any length give what one sample after the other gives, output bytes overwriting the
// samples already read and the shifted samples left behind them.
TEST(PixelDrawerFunctions, WindowReductionOfWholeFramesEqualsTheSampleBySampleRule) {
    std::vector<uint8_t> t(kDicomWindowTableSize);
    for (uint32_t i = 0; i < kDicomWindowTableSize; ++i)
        t[i] = uint8_t((i * 2654435761u) >> 24);
    uint32_t seed = 12345;
    for (uint32_t count : {1u, 7u, 8u, 9u, 16u, 37u, 1000u})
        for (bool isSigned : {false, true})
            for (int32_t offset : {0, -1024, 100, -7}) {
                std::vector<uint8_t> data(2 * size_t(count));
                for (uint8_t& b : data) {
                    seed = seed * 1103515245u + 12345u;
                    b = uint8_t(seed >> 16);
                }
                std::vector<uint8_t> expected = data;
                for (uint32_t i = 0; i < count; ++i) {
                    uint16_t v = uint16_t(expected[2 * i] | expected[2 * i + 1] << 8);
                    if (offset != 0) {
                        v = uint16_t(v - uint16_t(offset));
                        expected[2 * i] = uint8_t(v);
                        expected[2 * i + 1] = uint8_t(v >> 8);
                    }
                    expected[i] = isSigned && int16_t(v) < 0 ? 0 : t[v];
                }
                ApplyWindowLevels(data.data(), isSigned, count, t.data(), offset);
                ASSERT_EQ(data, expected)
                    << count << " samples, signed " << isSigned << ", offset " << offset;
            }
}

TEST(PixelDrawerFunctions, OffsetRule) {
    KelvoDicomDataImagePixel px;
    describeGrey(px, "MONOCHROME2", 4, 4, 16, 12, true);
    EXPECT_EQ(DicomWindowOffset(px), 0.0f);
    px.Intercept(-1024.0f);
    EXPECT_EQ(DicomWindowOffset(px), -1024.0f);
    px.Intercept(0.0f);
    EXPECT_EQ(DicomWindowOffset(px), -1024.0f);
    px.Intercept(-7.75f);
    EXPECT_EQ(DicomWindowOffset(px), -7.75f);
    KelvoDicomDataImagePixel slopeOnly;
    describeGrey(slopeOnly, "MONOCHROME2", 4, 4, 16, 12, true);
    slopeOnly.Slope(2.0f);
    EXPECT_EQ(DicomWindowOffset(slopeOnly), -1024.0f); // a rescale without intercept: intercept 0
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
    describeGrey(ct, "MONOCHROME1", 8, 1, 16, 12, true);
    ct.Intercept(-1024.0f);
    ct.Slope(1.0f);
    setWindow(ct, "40", "400");
    KelvoDicomPixelDataDrawer drawer;
    std::vector<uint8_t> frame = words({1024, 1064, 0, 864, 1263, 4095, 1000, 1100});
    drawer.attachDataSource(frame.data(), &ct);
    ASSERT_TRUE(drawer.qtObjIsValid());
    ASSERT_NE(drawer.lutWindow(), nullptr);
    EXPECT_EQ(std::vector<uint8_t>(drawer.lutWindow(), drawer.lutWindow() + kDicomWindowTableSize),
              table(40, 400, -1024.0f));
    drawer.refreshData();
    // -1024 HU and below are the bottom; 0 HU is 102, 40 HU the middle, 239 HU the top.
    EXPECT_EQ(std::vector<uint8_t>(frame.begin(), frame.begin() + 8),
              (std::vector<uint8_t>{102, 127, 0, 0, 255, 255, 86, 150}));

    // Intercept exactly 0: the table is built with the centre + 1024 and samples shift by +1024
    // before the look-up; the frame shows the same picture.
    KelvoDicomDataImagePixel zero;
    describeGrey(zero, "MONOCHROME1", 4, 1, 16, 16, false);
    zero.Intercept(0.0f);
    zero.Slope(1.0f);
    setWindow(zero, "1000", "400");
    KelvoDicomPixelDataDrawer zeroDrawer;
    frame = words({1000, 800, 1199, 3});
    zeroDrawer.attachDataSource(frame.data(), &zero);
    ASSERT_TRUE(zeroDrawer.qtObjIsValid());
    EXPECT_EQ(std::vector<uint8_t>(zeroDrawer.lutWindow(), zeroDrawer.lutWindow() + kDicomWindowTableSize),
              table(2024, 400, 0.0f));
    zeroDrawer.refreshData();
    EXPECT_EQ(frame[0], 127);
    EXPECT_EQ(frame[1], 0);
    EXPECT_EQ(frame[2], 255);
    EXPECT_EQ(frame[3], 0);
    EXPECT_EQ(wordAt(frame, 2), 1199 + 1024); // the back half keeps its shifted samples
    EXPECT_EQ(wordAt(frame, 3), 3 + 1024);

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
    drawer.lutWindow()[5000] = 77; // a mark that only a rebuild removes
    Kelvo_NumericalRange same(40, 400);
    drawer.windowLevels(&same);
    drawer.windowLevels(nullptr);
    EXPECT_EQ(drawer.lutWindow()[5000], 77);
    Kelvo_NumericalRange other(5000, 100);
    drawer.windowLevels(&other);
    EXPECT_EQ(drawer.windowLevels().getStart(), 5000.0);
    EXPECT_EQ(std::vector<uint8_t>(drawer.lutWindow(), drawer.lutWindow() + kDicomWindowTableSize),
              table(5000, 100, 0.0f));
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
    // Off: the owner has swapped and rescaled the frame already.
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
    std::string origin, file, windows, mask;
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
        std::getline(fields, e.mask, '\t');
        if (!e.file.empty()) entries.push_back(e);
    }
    return entries;
}

// Draws the file's first frame with its default window and with each window of the entry, and
// compares each picture with dcmj2pnm's: equal for frames that are not windowed; within one grey
// level for windowed ones, where DCMTK's arithmetic rounds differently from the table (each
// difference is counted and shown). Samples outside the mask follow rules of their own (pinned
// by the tests above) and are only counted.
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
    const std::string mask = e.mask == "-" ? std::string() : testsupport::readFile(e.mask);
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
        if (!mask.empty()) {
            ASSERT_EQ(mask.size(), pixels);
        }
        size_t offByOne = 0, apart = 0, worst = 0;
        for (size_t i = 0; i < pixels; ++i) {
            const int32_t x = int32_t(i % size_t(ours.width)), y = int32_t(i / size_t(ours.width));
            if (!mask.empty() && mask[i] == 0) {
                ++apart;
                continue;
            }
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
        std::printf("%-40s window %10g/%-10g %7zu pixels, %6zu off by one, %6zu compared apart\n",
                    e.file.substr(e.file.rfind('/') + 1).c_str(), windowed ? c : 0.0, windowed ? w : 0.0,
                    pixels, offByOne, apart);
        EXPECT_LT(apart, pixels) << "nothing was compared";
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
