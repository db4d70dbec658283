// The image converter against pydicom and dcmdump: toolkit images written under source trees
// from pydicom's corpus.
#include "ConverterFixtures.h"

#include "KelvoImage.h"

namespace {

using namespace convertertest;
using testsupport::ScratchDir;

// A 16-bit grey image of 64 x 64 whose sample at (x, y) is 1000 x + y.
std::unique_ptr<Kelvo_Image16BitGrey> greyImage16() {
    std::vector<uint16_t> samples(64 * 64);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            samples[size_t(y) * 64 + x] = uint16_t(1000 * x + y);
    return std::make_unique<Kelvo_Image16BitGrey>(Kelvo_Size(64, 64), samples.data());
}

TEST(ImageConverter, SixteenBitGreyIsWrittenAsItIsUnderOW) {
    for (const char* name : {"MR_small.dcm", "MR_small_bigendian.dcm", "MR_small_implicit.dcm"}) {
        SCOPED_TRACE(name);
        ScratchDir dir("render-image-grey16");
        auto image = greyImage16();
        ASSERT_TRUE(image->qtObjIsValid());
        auto tree = sourceTree(name);
        KelvoDicomConvertImage converter(image.get());
        ASSERT_TRUE(converter.qtObjIsValid()) << converter.Error();
        converter.setDicomSource(tree.get());
        const std::string out = dir.file("grey16.dcm");
        ASSERT_EQ(convertTo(converter, out), 0);
        const std::string dump = dcmdump(out);
        EXPECT_EQ(dciodvfyErrors(out), "");
        EXPECT_NE(dump.find("(7fe0,0010) OW"), std::string::npos);
        const Peer p = readBack(dir, out);
        ASSERT_EQ(p.samples.size(), size_t(64 * 64 * 2)) << p.said;
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x) {
                uint16_t got = 0;
                std::memcpy(&got, p.samples.data() + (size_t(y) * 64 + x) * 2, 2);
                ASSERT_EQ(got, uint16_t(1000 * x + y)) << x << "," << y;
            }
        EXPECT_EQ(gProgress, std::vector<double>{1.0});
    }
}

TEST(ImageConverter, ARGBImageIsScaledToTheFrame) {
    ScratchDir dir("render-image-argb");
    std::vector<uint8_t> pixels(size_t(640) * 480 * 4, 0x80);
    Kelvo_ImageARGB image(Kelvo_Size(640, 480), pixels.data());
    ASSERT_TRUE(image.qtObjIsValid());
    auto tree = sourceTree("MR_small.dcm", nullptr, [](KelvoDicomDataImagePixel& px) {
        px.PhotoInterpretation("ARGB");
        px.PixelSamples(4);
        px.setUSValueProperty(0x0100, 8);
        px.setUSValueProperty(0x0101, 8);
        px.setUSValueProperty(0x0102, 7);
        px.setUSValueProperty(0x0011, 512);
        px.setUSValueProperty(0x0010, 512);
    });
    KelvoDicomConvertImage converter(&image);
    converter.setDicomSource(tree.get());
    const std::string out = dir.file("argb.dcm");
    ASSERT_EQ(convertTo(converter, out), 0);
    const std::string dump = dcmdump(out);
    EXPECT_NE(dump.find("# 1048576, 1 PixelData"), std::string::npos) << dump;
    const std::string bytes = testsupport::readFile(out);
    // The pixel data close the file, 512 x 512 x 4 bytes of them.
    ASSERT_GT(bytes.size(), size_t(1048576 + 12));
    EXPECT_EQ(bytes.substr(bytes.size() - 1048576 - 12, 6), std::string("\xE0\x7F\x10\0OB", 6));
}

TEST(ImageConverter, RefusesWhatIsNotAnImage) {
    TestMovie movie(1, 32, 16);
    KelvoDicomConvertImage converter;
    EXPECT_FALSE(converter.setDataSource(movie.wrapper.get()));
    EXPECT_EQ(converter.Error(), 10);
    EXPECT_FALSE(converter.setDataSource(nullptr));
    EXPECT_EQ(converter.Error(), -50);
    converter.convert(nullptr);
    EXPECT_EQ(converter.Error(), -50);
}

TEST(ImageConverter, EncapsulatedSyntaxesAreRefusedWithoutAFile) {
    ScratchDir dir("render-image-jpeg");
    auto image = greyImage16();
    auto tree = sourceTree("MR_small.dcm", "1.2.840.10008.1.2.4.50");
    KelvoDicomConvertImage converter(image.get());
    converter.setDicomSource(tree.get());
    const std::string out = dir.file("jpeg.dcm");
    EXPECT_EQ(convertTo(converter, out), -50);
    EXPECT_EQ(std::filesystem::file_size(out), 0u);
}

} // namespace
