// The movie converter's pixel formats beyond 8- and 16-bit grey and 8-bit colour, in every
// transfer syntax it writes: 16-bit colour, photometric interpretations it does not draw (written
// as the default 8-bit grey frame) and the combinations it refuses. pydicom reads what is written;
// dcmdump and dciodvfy check the files.
#include "ConverterFixtures.h"

#include "KelvoImage.h"

#include <cstdlib>

namespace {

using namespace convertertest;
using testsupport::ScratchDir;

struct Syntax {
    const char* uid;
    bool compressed;
};
const Syntax kSyntaxes[] = {
    {"1.2.840.10008.1.2", false},     {"1.2.840.10008.1.2.1", false},   {"1.2.840.10008.1.2.2", false},
    {"1.2.840.10008.1.2.4.50", true}, {"1.2.840.10008.1.2.4.90", true},
};

// The samples pydicom gave against what the test movie drew: `samples` channels of `bytes` bytes
// each (a 16-bit channel holds the 8-bit value times 257). Raw frames must match exactly,
// compressed ones within the codec's loss on average.
void expectFrames(const Peer& p, int frames, int samples, int bytes, bool lossy) {
    const size_t n = size_t(frames) * 64 * 64 * samples;
    ASSERT_EQ(p.samples.size(), n * bytes) << p.said;
    double total = 0;
    int mismatches = 0;
    for (int f = 0; f < frames; ++f)
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x) {
                const uint32_t px = pixelOf(f, x, y);
                const size_t at = ((size_t(f) * 64 + y) * 64 + x) * samples;
                for (int k = 0; k < samples; ++k) {
                    const int want8 = samples == 1 ? greyOf(px) : int((px >> (16 - 8 * k)) & 0xFF);
                    int got = 0;
                    if (bytes == 2) {
                        uint16_t v = 0;
                        std::memcpy(&v, p.samples.data() + (at + k) * 2, 2);
                        got = v;
                    } else {
                        got = uint8_t(p.samples[at + k]);
                    }
                    const int want = bytes == 2 ? want8 * 257 : want8;
                    total += std::abs(got - want);
                    if (got != want && !lossy && mismatches++ < 5)
                        ADD_FAILURE() << "frame " << f << " at " << x << "," << y << " channel " << k << ": "
                                      << got << " for " << want;
                }
            }
    if (lossy) {
        EXPECT_LE(total / double(n), 3.0) << p.said;
    }
}

// Photometric interpretations the converter does not draw in: the frame is the default image-pixel
// description (one 8-bit grey sample, MONOCHROME2) of the source's size, whatever the source said
// about samples, planes, palettes or bits; 16-bit colour is drawn as 16-bit colour when raw and as
// 8-bit colour when compressed; MONOCHROME1 frames are labelled MONOCHROME2, since the movie's
// brighter pixels are the higher samples.
TEST(MovieConverterFormats, OtherPhotometricsAndSixteenBitColourInEverySyntax) {
    struct Case {
        const char* what;
        void (*edit)(KelvoDicomDataImagePixel&);
        // Expected, raw and compressed: channels and bytes per channel.
        int rawSamples, rawBytes, compressedSamples;
        const char* rawPixels;
    };
    const Case cases[] = {
        {"YBR_FULL, three planar samples",
         [](KelvoDicomDataImagePixel& px) {
             px.PhotoInterpretation("YBR_FULL");
             px.PixelSamples(3);
             px.PlanarConfiguration(1);
             px.setUSValueProperty(0x0100, 8);
             px.setUSValueProperty(0x0101, 8);
             px.setUSValueProperty(0x0102, 7);
         },
         1, 1, 1, "pixels MONOCHROME2 1 8 8 7"},
        {"MONOCHROME1, 8 bits",
         [](KelvoDicomDataImagePixel& px) {
             px.PhotoInterpretation("MONOCHROME1");
             px.setUSValueProperty(0x0100, 8);
             px.setUSValueProperty(0x0101, 8);
             px.setUSValueProperty(0x0102, 7);
         },
         1, 1, 1, "pixels MONOCHROME2 1 8 8 7"},
        {"PALETTE COLOR, 16 bits",
         [](KelvoDicomDataImagePixel& px) { px.PhotoInterpretation("PALETTE COLOR"); }, 1, 1, 1,
         "pixels MONOCHROME2 1 8 8 7"},
        {"RGB, 16 bits",
         [](KelvoDicomDataImagePixel& px) {
             px.PhotoInterpretation("RGB");
             px.PixelSamples(3);
             px.setUSValueProperty(0x0100, 16);
             px.setUSValueProperty(0x0101, 16);
             px.setUSValueProperty(0x0102, 15);
         },
         3, 2, 3, "pixels RGB 3 16 16 15"},
    };
    for (const Syntax& syntax : kSyntaxes)
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(syntax.uid) + ", " + c.what);
            ScratchDir dir("render-movie-formats");
            TestMovie movie(2, 64, 64);
            auto tree = sourceTree("MR_small.dcm", syntax.uid, c.edit);
            KelvoDicomConvertMovie converter(movie.wrapper.get());
            converter.setDicomSource(tree.get());
            ASSERT_EQ(converter.Error(), 0);
            const std::string out = dir.file("formats.dcm");
            ASSERT_EQ(convertTo(converter, out), 0);
            dcmdump(out);
            // The default description replaces the whole image-pixel group, Pixel Spacing with it.
            std::string errors = dciodvfyErrors(out);
            if (c.rawSamples == 1) {
                const std::string spacing =
                    "Error - Missing attribute Type 1 Required Element=<PixelSpacing> Module=<ImagePlane>\n";
                if (errors.find(spacing) == 0) errors.erase(0, spacing.size());
            }
            EXPECT_EQ(errors, "");
            const Peer p = readBack(dir, out);
            EXPECT_EQ(line(p.said, "frames"), "frames 2");
            if (!syntax.compressed) {
                EXPECT_EQ(line(p.said, "pixels"), c.rawPixels);
                expectFrames(p, 2, c.rawSamples, c.rawBytes, false);
            } else {
                // Colour is coded as Y, Cb, Cr by baseline JPEG and labelled so.
                const bool jpeg = std::string(syntax.uid) == "1.2.840.10008.1.2.4.50";
                EXPECT_EQ(line(p.said, "pixels"), c.compressedSamples == 1 ? "pixels MONOCHROME2 1 8 8 7"
                                                  : jpeg                   ? "pixels YBR_FULL_422 3 8 8 7"
                                                                           : "pixels RGB 3 8 8 7");
                expectFrames(p, 2, c.compressedSamples, 1, true);
            }
            ASSERT_FALSE(gProgress.empty());
            EXPECT_EQ(gProgress.back(), 1.0);
            EXPECT_EQ(gProgressCodes.back(), 0);
        }
}

// What cannot be drawn is refused before a byte is written, in every syntax, without a progress
// call: grey of other than 8 or 16 bits, colour of fewer than 8, an empty photometric interpretation, no
// columns.
TEST(MovieConverterFormats, UndrawableFormatsAreRefusedInEverySyntax) {
    struct Case {
        const char* what;
        void (*edit)(KelvoDicomDataImagePixel&);
    };
    const Case cases[] = {
        {"MONOCHROME2 of 12 bits allocated",
         [](KelvoDicomDataImagePixel& px) { px.setUSValueProperty(0x0100, 12); }},
        {"MONOCHROME1 of 32 bits",
         [](KelvoDicomDataImagePixel& px) {
             px.PhotoInterpretation("MONOCHROME1");
             px.setUSValueProperty(0x0100, 32);
         }},
        {"RGB of 4 bits",
         [](KelvoDicomDataImagePixel& px) {
             px.PhotoInterpretation("RGB");
             px.PixelSamples(3);
             px.setUSValueProperty(0x0100, 4);
         }},
        {"an empty photometric interpretation",
         [](KelvoDicomDataImagePixel& px) { px.setStringValueProperty(0x0004, ""); }},
        {"no columns", [](KelvoDicomDataImagePixel& px) { px.setUSValueProperty(0x0011, 0); }},
    };
    TestMovie movie(2, 64, 64);
    for (const Syntax& syntax : kSyntaxes)
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(syntax.uid) + ", " + c.what);
            ScratchDir dir("render-movie-refused");
            auto tree = sourceTree("MR_small.dcm", syntax.uid, c.edit);
            KelvoDicomConvertMovie converter(movie.wrapper.get());
            converter.setDicomSource(tree.get());
            const std::string out = dir.file("refused.dcm");
            EXPECT_EQ(convertTo(converter, out), -50);
            EXPECT_EQ(std::filesystem::file_size(out), 0u);
            EXPECT_TRUE(gProgress.empty());
        }
}

// An odd number of 8-bit samples is followed by one zero byte, so that the pixel data keep the
// even length every value has: from a movie and from an image alike. A MONOCHROME1 source gives
// MONOCHROME2 frames, brighter pixels being higher samples in both.
TEST(MovieConverterFormats, OddSampleCountsArePaddedToEvenLength) {
    ScratchDir dir("render-odd");
    auto tree = sourceTree("MR_small.dcm", nullptr, [](KelvoDicomDataImagePixel& px) {
        px.PhotoInterpretation("MONOCHROME1");
        px.setUSValueProperty(0x0100, 8);
        px.setUSValueProperty(0x0101, 8);
        px.setUSValueProperty(0x0102, 7);
        px.setUSValueProperty(0x0011, 5);
        px.setUSValueProperty(0x0010, 3);
    });
    TestMovie movie(1, 5, 3);
    std::vector<uint8_t> grey(15);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            grey[size_t(y) * 5 + x] = greyOf(pixelOf(0, x, y));
    Kelvo_Image8BitGrey image(Kelvo_Size(5, 3), grey.data());
    KelvoDicomConvertMovie fromMovie(movie.wrapper.get());
    KelvoDicomConvertImage fromImage(&image);
    for (KelvoDicomConverter* converter :
         {static_cast<KelvoDicomConverter*>(&fromMovie), static_cast<KelvoDicomConverter*>(&fromImage)}) {
        SCOPED_TRACE(converter->qtObjName());
        converter->setDicomSource(tree.get());
        const std::string out = dir.file("odd.dcm");
        ASSERT_EQ(convertTo(*converter, out), 0);
        const std::string dump = dcmdump(out);
        EXPECT_NE(dump.find("#  16, 1 PixelData"), std::string::npos) << dump;
        const std::string bytes = testsupport::readFile(out);
        ASSERT_GT(bytes.size(), 28u);
        EXPECT_EQ(bytes.substr(bytes.size() - 28, 12), std::string("\xE0\x7F\x10\0OB\0\0\x10\0\0\0", 12));
        EXPECT_EQ(bytes.back(), '\0');
        const Peer p = readBack(dir, out);
        EXPECT_EQ(line(p.said, "pixels"), "pixels MONOCHROME2 1 8 8 7");
        ASSERT_EQ(p.samples.size(), 15u) << p.said;
        EXPECT_TRUE(std::equal(grey.begin(), grey.end(), p.samples.begin(),
                               [](uint8_t a, char b) { return a == uint8_t(b); }));
    }
}

} // namespace
