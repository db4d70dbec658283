#include "KelvoCoreVideoDataDescriptors.h"
#include "KelvoDicomDataImagePixel.h"
#include "KelvoDicomUtils.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

using testsupport::ScratchDir;

KelvoDicomDataNode usNode(const char* vr, std::initializer_list<uint16_t> values) {
    KelvoDicomDataNode node(vr);
    for (uint16_t v : values)
        node.numberSet(0, &v);
    return node;
}

KelvoDicomDataNode owNode(const std::vector<uint8_t>& bytes) {
    KelvoDicomDataNode node("OW");
    Handle h = nullptr;
    PtrToHand(bytes.data(), &h, Size(bytes.size()));
    node.Value(h, 0);
    DisposeHandle(h);
    return node;
}

// A palette-colour view with the given red descriptor (green and blue the same) and tables.
void putPalette(KelvoDicomDataImagePixel& px, const char* vr, std::initializer_list<uint16_t> descriptor,
                const std::vector<uint8_t>& r, const std::vector<uint8_t>& g, const std::vector<uint8_t>& b) {
    px.PhotoInterpretation("PALETTE COLOR");
    KelvoDicomDataNode d = usNode(vr, descriptor);
    for (uint16_t e : {0x1101, 0x1102, 0x1103})
        px.setProperty(e, vr, d);
    KelvoDicomDataNode red = owNode(r), green = owNode(g), blue = owNode(b);
    px.setProperty(0x1201, "OW", red);
    px.setProperty(0x1202, "OW", green);
    px.setProperty(0x1203, "OW", blue);
}

TEST(ImagePixel, NewViewIsEightBitMonochrome) {
    KelvoDicomDataImagePixel px;
    EXPECT_EQ(px.Error(), 0);
    EXPECT_STREQ(px.PhotoInterpretation(), "MONOCHROME2");
    EXPECT_EQ(px.PixelSamples(), 1);
    EXPECT_EQ(px.getUSValueProperty(0x0100), 8);
    EXPECT_EQ(px.getUSValueProperty(0x0101), 8);
    EXPECT_EQ(px.getUSValueProperty(0x0102), 7);
    EXPECT_FALSE(px.HasKey(0x0006));
    EXPECT_EQ(px.displayQuality(), 512u);
    EXPECT_EQ(px.pixelEncoding(), nullptr);
    EXPECT_FALSE(px.useWindowing());
    EXPECT_TRUE(px.isA("KelvoDicomDataImagePixel"));
    EXPECT_TRUE(px.isA("KelvoDicomDataSet"));
    px.setUSValueProperty(0x0100, 16);
    EXPECT_TRUE(px.useWindowing());
    px.PhotoInterpretation("RGB");
    EXPECT_FALSE(px.useWindowing());
}

TEST(ImagePixel, DefaultWindowComesFromBitsStored) {
    KelvoDicomDataImagePixel px;
    px.setUSValueProperty(0x0100, 16);
    px.setUSValueProperty(0x0101, 12);
    Kelvo_NumericalRange window;
    px.getWindowLevelsDefault(window);
    EXPECT_EQ(window.getStart(), 2048.0);
    EXPECT_EQ(window.getEnd(), 4095.0);
    int32_t cMax = 9, cMin = 9, wMax = 9, wMin = 9;
    px.windowRange(cMax, cMin, wMax, wMin);
    EXPECT_EQ(cMax, 2048);
    EXPECT_EQ(cMin, -2048);
    EXPECT_EQ(wMax, 4095);
    EXPECT_EQ(wMin, 1);
    Kelvo_NumericalRange centre, width;
    px.getWindowCenterRange(centre);
    EXPECT_EQ(centre.getStart(), -2048.0);
    EXPECT_EQ(centre.getEnd(), 2048.0);
    px.getWindowWidthRange(width);
    EXPECT_EQ(width.getStart(), 1.0);
    EXPECT_EQ(width.getEnd(), 4095.0);

    // 16 and 32 bits stored reach the top of the unsigned range without overflow.
    px.setUSValueProperty(0x0101, 32);
    px.getWindowLevelsDefault(window);
    EXPECT_EQ(window.getStart(), 2147483648.0);
    EXPECT_EQ(window.getEnd(), 4294967295.0);
    px.windowRange(cMax, cMin, wMax, wMin);
    EXPECT_EQ(cMax, std::numeric_limits<int32_t>::max());
    EXPECT_EQ(cMin, -std::numeric_limits<int32_t>::max());

    // Without windowing every output is reset.
    px.setUSValueProperty(0x0100, 8);
    px.getWindowLevelsDefault(window);
    EXPECT_EQ(window.getStart(), 0.0);
    EXPECT_EQ(window.getEnd(), 0.0);
    px.windowRange(cMax, cMin, wMax, wMin);
    EXPECT_EQ(cMax | cMin | wMax | wMin, 0);
}

TEST(ImagePixel, StoredWindowWidensTheRanges) {
    KelvoDicomDataImagePixel px;
    px.setUSValueProperty(0x0100, 16);
    px.setUSValueProperty(0x0101, 12);
    px.setStringValueProperty(0x1050, "40");
    px.setStringValueProperty(0x1051, "400");
    int32_t cMax, cMin, wMax, wMin;
    px.windowRange(cMax, cMin, wMax, wMin);
    EXPECT_EQ(cMax, 60);
    EXPECT_EQ(cMin, -40);
    EXPECT_EQ(wMax, 600);
    EXPECT_EQ(wMin, 1);
    Kelvo_NumericalRange centre, width;
    px.getWindowCenterRange(centre);
    EXPECT_EQ(centre.getStart(), -40.0);
    EXPECT_EQ(centre.getEnd(), 60.0);
    px.getWindowWidthRange(width);
    EXPECT_EQ(width.getStart(), 1.0);
    EXPECT_EQ(width.getEnd(), 600.0);

    // windowRange widens only with both elements; the range getters with their own.
    px.RemoveKey(0x1051);
    px.windowRange(cMax, cMin, wMax, wMin);
    EXPECT_EQ(cMax, 40);
    EXPECT_EQ(wMax, 4095);
    px.getWindowCenterRange(centre);
    EXPECT_EQ(centre.getEnd(), 60.0);

    // Several values: the first one counts.
    px.setStringValueProperty(0x1050, "100\\300");
    Kelvo_NumericalRange window;
    px.getWindowLevelsDefault(window);
    EXPECT_EQ(window.getStart(), 100.0);
}

TEST(ImagePixel, HostileWindowTextsStayDefined) {
    struct Case {
        const char* centre;
        const char* width;
        int32_t cMax, cMin, wMax;
    };
    const int32_t big = std::numeric_limits<int32_t>::max();
    const Case cases[] = {
        {"nan", "nan", 0, 0, 0},
        {"1e300", "1e300", big, -big, big},
        {"-1e300", "-inf", std::numeric_limits<int32_t>::min(), big, std::numeric_limits<int32_t>::min()},
        {"", "abc", 0, 0, 0},
        {"2147483000", "10", big, -2147483000, 15},
    };
    for (const Case& c : cases) {
        KelvoDicomDataImagePixel px;
        px.setUSValueProperty(0x0100, 16);
        px.setStringValueProperty(0x1050, c.centre);
        px.setStringValueProperty(0x1051, c.width);
        int32_t cMax, cMin, wMax, wMin;
        px.windowRange(cMax, cMin, wMax, wMin);
        EXPECT_EQ(cMax, c.cMax) << c.centre;
        EXPECT_EQ(cMin, c.cMin) << c.centre;
        EXPECT_EQ(wMax, c.wMax) << c.width;
        Kelvo_NumericalRange centre;
        px.getWindowCenterRange(centre); // must not trap under the sanitizers
        px.getWindowWidthRange(centre);
    }
}

TEST(ImagePixel, SettingTheDefaultWindowStoresWholeNumbers) {
    KelvoDicomDataImagePixel px;
    px.setWindowLevelsDefault(Kelvo_NumericalRange(7, 7));
    EXPECT_FALSE(px.HasKey(0x1050));
    px.setWindowLevelsDefault(Kelvo_NumericalRange(40.9, -400.7));
    EXPECT_STREQ(px.getStringValueProperty(0x1050), "40");
    EXPECT_STREQ(px.getStringValueProperty(0x1051), "-400");
    px.setWindowLevelsDefault(Kelvo_NumericalRange(std::nan(""), 1e20));
    EXPECT_STREQ(px.getStringValueProperty(0x1050), "0");
    EXPECT_STREQ(px.getStringValueProperty(0x1051), "2147483647");
}

TEST(ImagePixel, SamplesPlanarAndPhotometricRules) {
    struct Case {
        uint16_t samples;
        uint16_t stored;
        bool planar;
    };
    const Case cases[] = {{1, 1, false}, {2, 1, false}, {3, 3, true},
                          {4, 4, true},  {0, 1, false}, {5, 1, false}};
    for (const Case& c : cases) {
        KelvoDicomDataImagePixel px;
        px.PlanarConfiguration(1);
        px.PixelSamples(c.samples);
        EXPECT_EQ(px.PixelSamples(), c.stored) << c.samples;
        EXPECT_EQ(px.HasKey(0x0006), c.planar) << c.samples;
        if (c.planar) {
            EXPECT_EQ(px.PlanarConfiguration(), 0);
        }
    }
    KelvoDicomDataImagePixel px;
    px.PlanarConfiguration(7);
    EXPECT_EQ(px.PlanarConfiguration(), 0);
    px.PhotoInterpretation("RGB");
    EXPECT_EQ(px.PixelSamples(), 3);
    px.PhotoInterpretation("NOT A NAME");
    EXPECT_EQ(px.Error(), -50);
    px.PhotoInterpretation(nullptr);
    EXPECT_EQ(px.Error(), -50);
    EXPECT_STREQ(px.PhotoInterpretation(), "RGB");

    for (const char* ok : {"LIN", "LOG", "DISP"}) {
        px.PixelIntensityRelationShip(ok);
        EXPECT_EQ(px.Error(), 0);
        EXPECT_STREQ(px.PixelIntensityRelationShip(), ok);
    }
    px.PixelIntensityRelationShip("lin");
    EXPECT_EQ(px.Error(), -50);
    EXPECT_STREQ(px.PixelIntensityRelationShip(), "DISP");
}

TEST(ImagePixel, FramesRescaleAndRepresentation) {
    KelvoDicomDataImagePixel px;
    EXPECT_EQ(px.FramesCount(), 1);
    px.FramesCount(0);
    EXPECT_EQ(px.Error(), -50);
    EXPECT_FALSE(px.HasKey(0x0008));
    px.FramesCount(12);
    EXPECT_STREQ(px.getStringValueProperty(0x0008), "12");
    EXPECT_EQ(px.FramesCount(), 12);
    px.setStringValueProperty(0x0008, "0");
    EXPECT_EQ(px.FramesCount(), 1);
    px.setStringValueProperty(0x0008, "-4");
    EXPECT_EQ(px.FramesCount(), 1);

    EXPECT_FALSE(px.useRescaleIntercept());
    EXPECT_EQ(px.Intercept(), 0.0);
    EXPECT_EQ(px.Slope(), 0.0);
    px.Intercept(-1024.0f);
    EXPECT_STREQ(px.getStringValueProperty(0x1052), "-1024.000000");
    EXPECT_TRUE(px.useRescaleIntercept());
    EXPECT_EQ(px.Intercept(), -1024.0);
    px.Slope(0.5f);
    EXPECT_EQ(px.Slope(), 0.5);
    // A value whose "%f" form is too long for a decimal string is written shorter.
    px.Slope(1e20f);
    EXPECT_LE(std::strlen(px.getStringValueProperty(0x1053)), 16u);
    EXPECT_NEAR(px.Slope(), 1e20, 1e14);
    px.Slope(std::numeric_limits<float>::infinity());
    EXPECT_EQ(px.Error(), -50);
    EXPECT_NEAR(px.Slope(), 1e20, 1e14);

    EXPECT_FALSE(px.isTwoComplement());
    px.isTwoComplement(true);
    EXPECT_TRUE(px.isTwoComplement());
    EXPECT_EQ(px.getUSValueProperty(0x0103), 1);
}

TEST(ImagePixel, NodeAccessorsWantAValidNode) {
    KelvoDicomDataImagePixel px;
    px.WindowCenter(nullptr);
    EXPECT_EQ(px.Error(), -50);
    KelvoDicomDataNode invalid;
    px.WindowWidth(&invalid);
    EXPECT_EQ(px.Error(), -50);
    KelvoDicomDataNode ds("DS");
    ds.strValue("100\\200");
    px.WindowCenter(&ds);
    EXPECT_EQ(px.Error(), 0);
    EXPECT_STREQ(px.getStringValueProperty(0x1050), "100\\200");
    KelvoDicomDataNode at("AT");
    AttributeTagRecord tag{0x0018, 0x1063};
    at.atValueSet(&tag, -1);
    px.FrameIncrementPointer(&at);
    KelvoDicomDataNode back;
    px.getProperty(0x0009, back);
    AttributeTagRecord got{};
    back.atValueGet(&got, 0);
    EXPECT_EQ(got.group, 0x0018);
    EXPECT_EQ(got.element, 0x1063);
}

TEST(ImagePixel, SizesAreCheckedAgainstSixteenAndThirtyTwoBits) {
    KelvoDicomDataImagePixel px;
    Kelvo_Size size(640.7, 480.2);
    px.imageSize(&size);
    Kelvo_Size* back = px.imageSize();
    EXPECT_EQ(back->width(), 640.0);
    EXPECT_EQ(back->height(), 480.0);
    delete back;
    for (Kelvo_Size bad :
         {Kelvo_Size(65536, 1), Kelvo_Size(-1, 1), Kelvo_Size(std::nan(""), 1), Kelvo_Size(1, 1e300)}) {
        px.imageSize(&bad);
        EXPECT_EQ(px.Error(), -50);
        EXPECT_EQ(px.getUSValueProperty(0x0011), 640);
    }
    Kelvo_Size edge(65535, 65535);
    px.imageSize(&edge);
    EXPECT_EQ(px.getUSValueProperty(0x0011), 65535);
    px.imageSize(nullptr);
    EXPECT_EQ(px.getUSValueProperty(0x0011), 0);
    EXPECT_EQ(px.getUSValueProperty(0x0010), 0);

    px.setUSValueProperty(0x0010, 100);
    px.setUSValueProperty(0x0011, 200);
    px.setUSValueProperty(0x0100, 12); // 12 bits allocated count as one byte
    EXPECT_EQ(px.size(), 20000u);
    px.setUSValueProperty(0x0100, 16);
    px.PixelSamples(3);
    EXPECT_EQ(px.size(), 120000u);
    EXPECT_EQ(px.size8Bit(), 60000u);
    // Beyond 32 bits there is no frame size.
    px.setUSValueProperty(0x0010, 65535);
    px.setUSValueProperty(0x0011, 65535);
    px.setUSValueProperty(0x0100, 64);
    EXPECT_EQ(px.size(), 0u);
    EXPECT_EQ(px.Error(), -50);
    EXPECT_EQ(px.size8Bit(), 0u);
    px.PixelSamples(1);
    EXPECT_EQ(px.size8Bit(), 65535u * 65535u);
}

TEST(ImagePixel, RenderingDecisionsFollowTheEncoding) {
    struct Case {
        const char* uid; // null: no encoding
        const char* photometric;
        uint16_t bitsAllocated;
        bool invert;
        bool swap;
    };
    const Case cases[] = {
        {nullptr, "MONOCHROME2", 16, true, false},
        {nullptr, "MONOCHROME1", 16, false, false},
        {"1.2.840.10008.1.2.2", "MONOCHROME2", 16, true, true},
        {"1.2.840.10008.1.2.2", "MONOCHROME2", 8, true, false},
        {"1.2.840.10008.1.2.1", "MONOCHROME2", 16, true, false},
        {"1.2.840.10008.1.2.4.50", "MONOCHROME2", 8, false, false},  // drawn by a platform codec
        {"1.2.840.10008.1.2.4.70", "MONOCHROME2", 16, true, false},  // lossless JPEG is ours
        {"1.2.840.10008.1.2.4.90", "MONOCHROME2", 16, false, false}, // JPEG 2000
    };
    for (const Case& c : cases) {
        KelvoDicomDataImagePixel px;
        px.PhotoInterpretation(c.photometric);
        px.setUSValueProperty(0x0100, c.bitsAllocated);
        px.pixelEncoding() = c.uid ? DicmDict_XFerSyntax(c.uid) : nullptr;
        EXPECT_EQ(px.needInversionForPhotoInterpretation(), c.invert) << (c.uid ? c.uid : "none");
        EXPECT_EQ(px.needByteSwapping(), c.swap) << (c.uid ? c.uid : "none");
    }
}

TEST(ImagePixel, PaletteDescriptorOfZeroEntriesRoundTrips) {
    KelvoDicomDataImagePixel px;
    std::vector<uint8_t> r(131072), g(131072), b(131072);
    for (size_t i = 0; i < r.size(); ++i) {
        r[i] = uint8_t(i);
        g[i] = uint8_t(i >> 8);
        b[i] = uint8_t(~i);
    }
    putPalette(px, "US", {0, 0, 16}, r, g, b);
    ASSERT_TRUE(px.hasColorPalette());
    KelvoDicomPixelLut* lut = px.colorPalette();
    ASSERT_NE(lut, nullptr);
    EXPECT_EQ(px.Error(), 0);
    EXPECT_EQ(lut->entries(), 65536u);
    EXPECT_EQ(lut->bitsPerEntry(), 16);
    EXPECT_EQ(lut->firstMappedValue(), 0u);
    EXPECT_FALSE(lut->hasAlpha());
    EXPECT_EQ(std::memcmp(lut->lutData(kDicomLutBlue), b.data(), b.size()), 0);

    KelvoDicomDataImagePixel out;
    out.PhotoInterpretation("PALETTE COLOR");
    out.colorPalette(lut);
    EXPECT_EQ(out.Error(), 0);
    for (uint16_t e : {0x1101, 0x1102, 0x1103}) {
        KelvoDicomDataNode d;
        out.getProperty(e, d);
        EXPECT_STREQ(d.VR(), "US");
        ASSERT_EQ(d.valueCount(), 3) << std::hex << e;
        EXPECT_EQ(d.usValue(0), 0);
        EXPECT_EQ(d.usValue(1), 0);
        EXPECT_EQ(d.usValue(2), 16);
    }
    EXPECT_FALSE(out.HasKey(0x1104));
    KelvoDicomPixelLut* again = out.colorPalette();
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->entries(), 65536u);
    EXPECT_EQ(std::memcmp(again->lutData(kDicomLutRed), r.data(), r.size()), 0);
    delete again;
    delete lut;
}

TEST(ImagePixel, SignedDescriptorsAndAlphaPalettes) {
    KelvoDicomDataImagePixel px;
    std::vector<uint8_t> t(512, 7);
    putPalette(px, "SS", {256, uint16_t(-100), 16}, t, t, t);
    KelvoDicomPixelLut* lut = px.colorPalette();
    ASSERT_NE(lut, nullptr);
    EXPECT_EQ(int32_t(lut->firstMappedValue()), -100);

    // Written back from a signed image, the descriptor keeps SS and the signed first value.
    KelvoDicomDataImagePixel out;
    out.PhotoInterpretation("PALETTE COLOR");
    out.isTwoComplement(true);
    out.colorPalette(lut);
    KelvoDicomDataNode d;
    out.getProperty(0x1101, d);
    EXPECT_STREQ(d.VR(), "SS");
    EXPECT_EQ(d.shortValue(1), -100);
    delete lut;

    // An alpha table makes a 32-bit, four-table palette of 8-bit entries.
    std::vector<uint8_t> a(256, 0x80);
    KelvoDicomDataNode alpha = owNode(a);
    px.setProperty(0x1204, "OW", alpha);
    lut = px.colorPalette();
    ASSERT_NE(lut, nullptr);
    EXPECT_TRUE(lut->hasAlpha());
    EXPECT_EQ(lut->bitsPerEntry(), 8);
    EXPECT_EQ(lut->lutData(kDicomLutAlpha)[255], 0x80);
    KelvoDicomDataImagePixel withAlpha;
    withAlpha.PhotoInterpretation("PALETTE COLOR");
    withAlpha.colorPalette(lut);
    KelvoDicomDataNode ad;
    withAlpha.getProperty(0x1104, ad);
    EXPECT_STREQ(ad.VR(), "US");
    EXPECT_EQ(ad.valueCount(), 3);
    EXPECT_TRUE(withAlpha.HasKey(0x1204));
    delete lut;
}

TEST(ImagePixel, DamagedPalettesAreRefusedOrReported) {
    // A table shorter than its descriptor: the palette is made, its tail is zero, -50 says so.
    KelvoDicomDataImagePixel shortTable;
    std::vector<uint8_t> full(256, 9), half(128, 5);
    putPalette(shortTable, "US", {256, 0, 8}, full, half, full);
    KelvoDicomPixelLut* lut = shortTable.colorPalette();
    ASSERT_NE(lut, nullptr);
    EXPECT_EQ(shortTable.Error(), -50);
    EXPECT_EQ(lut->lutData(kDicomLutGreen)[127], 5);
    EXPECT_EQ(lut->lutData(kDicomLutGreen)[128], 0);
    delete lut;

    struct Case {
        std::initializer_list<uint16_t> descriptor;
    };
    const Case cases[] = {{{256, 0, 12}}, {{256, 0}}};
    for (const Case& c : cases) {
        KelvoDicomDataImagePixel px;
        putPalette(px, "US", c.descriptor, full, full, full);
        EXPECT_EQ(px.colorPalette(), nullptr);
        EXPECT_EQ(px.Error(), -50);
    }

    // Not a palette image: nothing is written.
    KelvoDicomDataImagePixel mono;
    KelvoDicomPixelLut table(256, 8, false);
    mono.colorPalette(&table);
    EXPECT_FALSE(mono.HasKey(0x1101));
    EXPECT_EQ(mono.colorPalette(), nullptr);
}

TEST(ImagePixel, RealPaletteMatchesTheReferenceReader) {
    // The "hot iron" colour palette shipped with pydicom: its descriptor, tables and pydicom's
    // own colour for each of the 256 indices.
    const std::string palette = "/usr/lib/python3/dist-packages/pydicom/data/palettes/hotiron.dcm";
    if (!std::ifstream(palette).good()) GTEST_SKIP() << "pydicom palettes not installed";
    ScratchDir dir("kelvo-palette");
    const std::string blob = dir.file("palette.bin");
    const std::string script =
        "import struct,sys,numpy as np,pydicom\n"
        "from pydicom.pixel_data_handlers.util import apply_color_lut\n"
        "ds=pydicom.dcmread(sys.argv[1]); out=open(sys.argv[2],'wb')\n"
        "out.write(struct.pack('<3H',*ds.RedPaletteColorLookupTableDescriptor))\n"
        "for k in ('Red','Green','Blue'):\n"
        "  d=ds[k+'PaletteColorLookupTableData'].value; out.write(struct.pack('<I',len(d))+d)\n"
        "out.write(apply_color_lut(np.arange(256,dtype=np.uint8),ds).astype(np.uint8).tobytes())\n";
    testsupport::writeFile(dir.file("p.py"), script);
    int status = 0;
    testsupport::run("/usr/bin/python3 " + dir.file("p.py") + " " + palette + " " + blob, &status);
    ASSERT_EQ(status, 0);
    const std::string bytes = testsupport::readFile(blob);
    ASSERT_GE(bytes.size(), 6u);
    uint16_t descriptor[3];
    std::memcpy(descriptor, bytes.data(), 6);
    size_t at = 6;
    std::vector<uint8_t> tables[3];
    for (auto& t : tables) {
        uint32_t n = 0;
        std::memcpy(&n, bytes.data() + at, 4);
        t.assign(bytes.begin() + long(at + 4), bytes.begin() + long(at + 4 + n));
        at += 4 + n;
    }
    ASSERT_EQ(bytes.size(), at + 256 * 3);

    KelvoDicomDataImagePixel px;
    putPalette(px, "US", {descriptor[0], descriptor[1], descriptor[2]}, tables[0], tables[1], tables[2]);
    KelvoDicomPixelLut* lut = px.colorPalette();
    ASSERT_NE(lut, nullptr);
    EXPECT_EQ(px.Error(), 0);
    uint8_t indices[256], rgb[256 * 3];
    for (int i = 0; i < 256; ++i)
        indices[i] = uint8_t(i);
    lut->applyLutsToDataARGB(indices, rgb, 256);
    EXPECT_EQ(std::memcmp(rgb, bytes.data() + at, sizeof rgb), 0);
    delete lut;
}

TEST(ImagePixel, ImageDescriptionByPhotometricAndEncoding) {
    struct Case {
        const char* photometric;
        uint16_t planar;
        uint16_t bitsAllocated;
        const char* uid;
        uint32_t format;
        int16_t depth;
    };
    const Case cases[] = {
        {"MONOCHROME2", 0, 8, nullptr, FOUR_CHAR_CODE("raw "), 40},
        {"MONOCHROME1", 0, 16, nullptr, FOUR_CHAR_CODE("raw "), 40},
        {"RGB", 1, 8, nullptr, FOUR_CHAR_CODE("8BPS"), 24},
        {"RGB", 0, 8, nullptr, FOUR_CHAR_CODE("raw "), 24},
        {"CMYK", 0, 8, nullptr, FOUR_CHAR_CODE("cmyk"), 32},
        {"YBR_FULL_422", 0, 8, nullptr, FOUR_CHAR_CODE("2vuy"), 24},
        {"YBR_FULL_422", 0, 16, nullptr, FOUR_CHAR_CODE("v216"), 24},
        {"YBR_FULL", 0, 8, nullptr, FOUR_CHAR_CODE("raw "), 24},
        {"RGB", 1, 8, "1.2.840.10008.1.2.4.50", FOUR_CHAR_CODE("jpeg"), 24},
        {"MONOCHROME2", 0, 16, "1.2.840.10008.1.2.4.90", FOUR_CHAR_CODE("mjp2"), 40},
        {"MONOCHROME2", 0, 16, "1.2.840.10008.1.2.4.91", FOUR_CHAR_CODE("mjp2"), 40},
        {"RGB", 1, 8, "1.2.840.10008.1.2.5", FOUR_CHAR_CODE("8BPS"), 24}, // RLE is not a platform codec
    };
    for (const Case& c : cases) {
        KelvoDicomDataImagePixel px;
        px.PhotoInterpretation(c.photometric);
        px.PlanarConfiguration(c.planar);
        px.setUSValueProperty(0x0100, c.bitsAllocated);
        px.setUSValueProperty(0x0010, 3);
        px.setUSValueProperty(0x0011, 5);
        px.displayQuality() = 700;
        px.pixelEncoding() = c.uid ? DicmDict_XFerSyntax(c.uid) : nullptr;
        Kelvo_ImgDesc* desc = px.ImageParams();
        ASSERT_NE(desc, nullptr) << c.photometric;
        EXPECT_EQ(desc->dataFormat(), c.format) << c.photometric << " " << (c.uid ? c.uid : "");
        EXPECT_EQ(desc->qtDepth(), c.depth) << c.photometric;
        EXPECT_EQ(desc->qtWidth(), 5);
        EXPECT_EQ(desc->qtHeight(), 3);
        EXPECT_EQ(desc->qtSpatialQuality(), 700u);
        EXPECT_EQ(desc->qtFrameCount(), 1);
        EXPECT_EQ(desc->qtDataSize(), int32_t(px.PixelSamples()) * 15);
        delete desc;
    }
}

TEST(ImagePixel, ImageDescriptionOfPalettesAndOversizedFrames) {
    KelvoDicomDataImagePixel px;
    std::vector<uint8_t> t(256, 1);
    putPalette(px, "US", {256, 0, 8}, t, t, t);
    px.setUSValueProperty(0x0010, 10);
    px.setUSValueProperty(0x0011, 20);
    Kelvo_ImgDesc* desc = px.ImageParams();
    ASSERT_NE(desc, nullptr);
    EXPECT_EQ(desc->qtDepth(), 24);
    EXPECT_EQ(desc->qtDataSize(), 600);
    delete desc;
    KelvoDicomDataNode alpha = owNode(t);
    px.setProperty(0x1204, "OW", alpha);
    desc = px.ImageParams();
    ASSERT_NE(desc, nullptr);
    EXPECT_EQ(desc->qtDepth(), 32);
    EXPECT_EQ(desc->qtDataSize(), 800);
    delete desc;

    // Edges beyond the description's 16-bit fields cannot be described.
    KelvoDicomDataImagePixel wide;
    wide.setUSValueProperty(0x0011, 40000);
    wide.setUSValueProperty(0x0010, 10);
    EXPECT_EQ(wide.ImageParams(), nullptr);
    EXPECT_EQ(wide.Error(), -50);
}

TEST(ImagePixel, DescriptionBackIntoTheView) {
    struct Case {
        int16_t depth;
        uint16_t samples;
        uint16_t bits;
    };
    const Case cases[] = {{40, 1, 8}, {24, 3, 8}, {32, 4, 8}, {16, 1, 16}, {8, 1, 8}};
    for (const Case& c : cases) {
        Kelvo_ImgDesc desc;
        desc.qtWidth(64);
        desc.qtHeight(32);
        desc.qtDepth(c.depth);
        desc.qtSpatialQuality(300);
        KelvoDicomDataImagePixel px;
        px.ImageParams(&desc);
        EXPECT_EQ(px.Error(), 0);
        EXPECT_EQ(px.getUSValueProperty(0x0011), 64);
        EXPECT_EQ(px.getUSValueProperty(0x0010), 32);
        EXPECT_EQ(px.PixelSamples(), c.samples) << c.depth;
        EXPECT_EQ(px.getUSValueProperty(0x0100), c.bits) << c.depth;
        EXPECT_EQ(px.getUSValueProperty(0x0101), c.bits) << c.depth;
        EXPECT_EQ(px.getUSValueProperty(0x0102), c.bits - 1) << c.depth;
        EXPECT_EQ(px.displayQuality(), 300u);
        if (c.depth == 40) {
            EXPECT_STREQ(px.PhotoInterpretation(), "MONOCHROME2");
        }
        // Colour reads back as the same depth.
        if (c.samples != 1) {
            px.PhotoInterpretation(c.samples == 3 ? "RGB" : "CMYK");
            Kelvo_ImgDesc* again = px.ImageParams();
            ASSERT_NE(again, nullptr);
            EXPECT_EQ(again->qtDepth(), c.depth);
            delete again;
        }
    }
    KelvoDicomDataImagePixel px;
    px.ImageParams(nullptr);
    EXPECT_EQ(px.Error(), -50);
    Kelvo_ImgDesc negative;
    negative.qtWidth(-5);
    negative.qtDepth(24);
    px.ImageParams(&negative);
    EXPECT_EQ(px.Error(), -50);
    EXPECT_EQ(px.getUSValueProperty(0x0011), 0);
}

TEST(ImagePixel, ViewsOfAtomsCopiesAndReset) {
    // A group atom without a photometric interpretation gets MONOCHROME2.
    KelvoDicomDataSet plain(0x0028);
    plain.setUSValueProperty(0x0010, 4);
    KelvoDicomDataImagePixel fromAtom(plain.Dictionary(), plain.getRootOfItems());
    EXPECT_EQ(fromAtom.Error(), 0);
    EXPECT_STREQ(fromAtom.PhotoInterpretation(), "MONOCHROME2");
    EXPECT_EQ(fromAtom.getUSValueProperty(0x0010), 4);

    // Another group gives an empty view of group 0028.
    KelvoDicomDataSet other(0x0010);
    other.setStringValueProperty(0x0010, "Name");
    KelvoDicomDataImagePixel empty(other.Dictionary(), other.getRootOfItems());
    EXPECT_EQ(empty.count(), 0);
    EXPECT_EQ(empty.groupID(), 0x0028);

    KelvoDicomDataImagePixel px;
    px.displayQuality() = 100;
    px.pixelEncoding() = DicmDict_XFerSyntax("1.2.840.10008.1.2.2");
    px.setUSValueProperty(0x0010, 9);
    KelvoDicomDataImagePixel copy(px);
    EXPECT_EQ(copy.displayQuality(), 100u);
    EXPECT_EQ(copy.pixelEncoding(), px.pixelEncoding());
    Kelvo_QTObj* clone = px.clone();
    ASSERT_NE(clone, nullptr);
    EXPECT_STREQ(clone->qtObjName(), "KelvoDicomDataImagePixel");
    delete clone;
    KelvoDicomDataImagePixel target;
    target.Copy(px);
    EXPECT_EQ(target.getUSValueProperty(0x0010), 9);
    EXPECT_EQ(target.displayQuality(), 100u);
    target.Copy(plain); // not an image pixel view: nothing happens
    EXPECT_EQ(target.getUSValueProperty(0x0010), 9);
    target.setUSValueProperty(0x0011, 3); // still writes into its own group
    EXPECT_EQ(target.getUSValueProperty(0x0011), 3);

    px.defaultStatus();
    EXPECT_FALSE(px.HasKey(0x0010));
    EXPECT_STREQ(px.PhotoInterpretation(), "MONOCHROME2");
    EXPECT_EQ(px.getUSValueProperty(0x0100), 8);
}

} // namespace

// A group read without Photometric Interpretation reads as MONOCHROME2 without being given the
// element, so that dumps and writes show the group as it was.
TEST(ImagePixelFromAtom, AnAbsentPhotometricIsNotInvented) {
    KelvoDicomDataSet plain(0x0028);
    plain.setUSValueProperty(0x0010, 4);
    KelvoDicomDataImagePixel view(plain.Dictionary(), plain.getRootOfItems());
    EXPECT_STREQ(view.PhotoInterpretation(), "MONOCHROME2");
    EXPECT_FALSE(view.HasKey(0x0004));
    EXPECT_EQ(view.count(), 1);
}
