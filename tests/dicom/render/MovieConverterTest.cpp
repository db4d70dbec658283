// The movie converter against pydicom, dcmdump and dciodvfy: movies made with the movie layer and
// by ffmpeg, written with and without a DICOM source tree from pydicom's corpus.
#include "ConverterFixtures.h"

namespace {

using namespace convertertest;
using testsupport::ScratchDir;

TEST(MovieConverter, WithoutSourceLetterboxesGreyFramesIntoTheDefaultFrame) {
    ScratchDir dir("render-movie-nosource");
    TestMovie movie(3, 32, 16);
    KelvoDicomConvertMovie converter(movie.wrapper.get());
    ASSERT_TRUE(converter.qtObjIsValid()) << converter.Error();
    const std::string out = dir.file("nosource.dcm");
    ASSERT_EQ(convertTo(converter, out), 0);
    dcmdump(out);
    const Peer p = readBack(dir, out);
    EXPECT_EQ(line(p.said, "frames"), "frames 3");
    EXPECT_EQ(line(p.said, "fip"), "fip 00181063");
    EXPECT_EQ(line(p.said, "frametime"), "frametime -");
    EXPECT_EQ(line(p.said, "rep"), "rep 2");
    EXPECT_EQ(line(p.said, "wc"), "wc 128 ww 256");
    ASSERT_EQ(p.samples.size(), size_t(3 * 512 * 512));
    // 32 x 16 scaled 16 times fits 512 x 256, centred: rows 128 to 383 hold the frame.
    for (int f = 0; f < 3; ++f)
        for (int y : {0, 127, 128, 200, 383, 384, 511})
            for (int x : {0, 15, 16, 300, 511}) {
                const uint8_t got = uint8_t(p.samples[size_t(f) * 512 * 512 + size_t(y) * 512 + x]);
                const uint8_t want = (y < 128 || y > 383) ? 0 : greyOf(pixelOf(f, x / 16, (y - 128) / 16));
                EXPECT_EQ(got, want) << "frame " << f << " at " << x << "," << y;
            }
    ASSERT_FALSE(gProgress.empty());
    EXPECT_EQ(gProgress.front(), 0.0);
    EXPECT_EQ(gProgress.back(), 1.0);
    for (size_t i = 1; i < gProgress.size(); ++i)
        EXPECT_LE(gProgress[i - 1], gProgress[i]);
}

TEST(MovieConverter, OneFrameMovieHasNoFrameIncrementPointer) {
    ScratchDir dir("render-movie-oneframe");
    TestMovie movie(1, 64, 64);
    auto tree = sourceTree("MR_small.dcm", nullptr, [](KelvoDicomDataImagePixel& px) {
        px.setUSValueProperty(0x0100, 8);
        px.setUSValueProperty(0x0101, 8);
        px.setUSValueProperty(0x0102, 7);
    });
    KelvoDicomConvertMovie converter(movie.wrapper.get());
    converter.setDicomSource(tree.get());
    const std::string out = dir.file("one.dcm");
    ASSERT_EQ(convertTo(converter, out), 0);
    dcmdump(out);
    const Peer p = readBack(dir, out);
    EXPECT_EQ(line(p.said, "frames"), "frames 1");
    EXPECT_EQ(line(p.said, "fip"), "fip -");
    EXPECT_EQ(line(p.said, "frametime"), "frametime -");
    EXPECT_EQ(line(p.said, "rep"), "rep 1");
    ASSERT_EQ(p.samples.size(), size_t(64 * 64));
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            ASSERT_EQ(uint8_t(p.samples[size_t(y) * 64 + x]), greyOf(pixelOf(0, x, y)));
}

TEST(MovieConverter, FfmpegMovieAsRGBUnderACorpusSource) {
    int have = -1;
    testsupport::run("command -v ffmpeg >/dev/null 2>&1", &have);
    if (have != 0) GTEST_SKIP() << "ffmpeg is not installed";
    ScratchDir dir("render-movie-ffmpeg");
    const std::string mov = dir.file("ffmpeg.mov");
    int status = -1;
    const std::string said =
        testsupport::run("ffmpeg -v error -y -f lavfi -i testsrc=size=32x16:rate=10:duration=1 "
                         "-c:v rawvideo -pix_fmt rgb24 '" +
                             mov + "' </dev/null 2>&1",
                         &status);
    ASSERT_EQ(status, 0) << said;
    const std::string expected =
        testsupport::run("ffmpeg -v error -i '" + mov + "' -map 0:v:0 -f rawvideo -pix_fmt rgb24 -");
    Kelvo_Movie movie(mov.c_str());
    ASSERT_TRUE(movie.qtObjIsValid());
    auto tree = sourceTree("MR_small.dcm", nullptr, [](KelvoDicomDataImagePixel& px) {
        px.PhotoInterpretation("RGB");
        px.PixelSamples(3);
        px.setUSValueProperty(0x0100, 8);
        px.setUSValueProperty(0x0101, 8);
        px.setUSValueProperty(0x0102, 7);
        px.setUSValueProperty(0x0011, 32);
        px.setUSValueProperty(0x0010, 16);
    });
    KelvoDicomConvertMovie converter(&movie);
    converter.setDicomSource(tree.get());
    const std::string out = dir.file("rgb.dcm");
    ASSERT_EQ(convertTo(converter, out), 0);
    dcmdump(out);
    const Peer p = readBack(dir, out);
    EXPECT_EQ(line(p.said, "frames"), "frames 10");
    EXPECT_EQ(line(p.said, "rep"), "rep 6");
    EXPECT_EQ(line(p.said, "frametime"), "frametime 40");
    EXPECT_EQ(line(p.said, "fip"), "fip 00181063");
    EXPECT_EQ(p.samples.size(), expected.size());
    EXPECT_TRUE(p.samples == expected);
    // The corpus file's own pixel data is not carried into the new file.
    EXPECT_EQ(testsupport::run("dcmdump '" + out + "' | grep -c 'PixelData'"), "1\n");
    EXPECT_EQ(dciodvfyErrors(out), "");
}

TEST(MovieConverter, JPEGFramesAreEvenItemsClosedByTheDelimiter) {
    ScratchDir dir("render-movie-jpeg");
    TestMovie movie(4, 64, 64);
    auto tree = sourceTree("MR_small.dcm", "1.2.840.10008.1.2.4.50");
    KelvoDicomConvertMovie converter(movie.wrapper.get());
    converter.setDicomSource(tree.get());
    ASSERT_EQ(converter.Error(), 0);
    const std::string out = dir.file("jpeg.dcm");
    ASSERT_EQ(convertTo(converter, out), 0);
    dcmdump(out);
    EXPECT_EQ(dciodvfyErrors(out), "");
    const std::string bytes = testsupport::readFile(out);
    ASSERT_GE(bytes.size(), 8u);
    EXPECT_EQ(bytes.substr(bytes.size() - 8), std::string("\xFE\xFF\xDD\xE0\0\0\0\0", 8));
    const Peer p = readBack(dir, out);
    EXPECT_EQ(line(p.said, "frames"), "frames 4");
    EXPECT_EQ(line(p.said, "offsets"), "offsets 0");
    const std::string items = line(p.said, "items");
    ASSERT_FALSE(items.empty()) << p.said;
    // The first item is the empty offset table, then one item a frame, each of even length.
    size_t count = 0;
    for (size_t at = 6; at < items.size();) {
        const size_t end = items.find(' ', at);
        const long n = std::stol(items.substr(at, end - at));
        EXPECT_EQ(n % 2, 0) << items;
        ++count;
        at = end == std::string::npos ? items.size() : end + 1;
    }
    EXPECT_EQ(count, 4u) << items;
    ASSERT_EQ(p.samples.size(), size_t(4 * 64 * 64 * 3)) << p.said;
    EXPECT_NE(p.said.find("uint8"), std::string::npos) << p.said;
    // 16-bit grey under JPEG becomes 8-bit colour; every frame within the codec's loss of the
    // movie's own.
    double total = 0;
    int worst = 0;
    for (int f = 0; f < 4; ++f)
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x) {
                const uint32_t px = pixelOf(f, x, y);
                const size_t at = ((size_t(f) * 64 + y) * 64 + x) * 3;
                for (int c = 0; c < 3; ++c) {
                    const int d =
                        std::abs(int(uint8_t(p.samples[at + c])) - int((px >> (16 - 8 * c)) & 0xFF));
                    total += d;
                    worst = std::max(worst, d);
                }
            }
    EXPECT_LE(total / double(p.samples.size()), 3.0);
    EXPECT_LE(worst, 24);
}

TEST(MovieConverter, BadInputGivesAStatusAndNoFile) {
    ScratchDir dir("render-movie-bad");
    {
        // Sound only, no video.
        Movie m = NewMovie(0);
        Track t = NewMovieTrack(m, 0, 0, 256);
        (void)NewTrackMedia(t, SoundMediaType, 600, nullptr, 0);
        Kelvo_Movie sound(m, false);
        KelvoDicomConvertMovie converter(&sound);
        EXPECT_FALSE(converter.qtObjIsValid());
        EXPECT_EQ(converter.Error(), 79);
        DisposeMovie(m);
    }
    {
        TestMovie empty(0, 32, 16);
        KelvoDicomConvertMovie converter(empty.wrapper.get());
        EXPECT_EQ(converter.Error(), 79);
        const std::string out = dir.file("empty.dcm");
        EXPECT_EQ(convertTo(converter, out), 79);
        EXPECT_EQ(std::filesystem::file_size(out), 0u);
    }
    {
        KelvoDicomDataTree tree;
        KelvoDicomConvertMovie converter;
        EXPECT_FALSE(converter.setDataSource(&tree));
        EXPECT_EQ(converter.Error(), 10);
    }
    TestMovie movie(2, 32, 16);
    {
        KelvoDicomConvertMovie converter(movie.wrapper.get());
        converter.convert(nullptr); // a destination that could not be opened
        EXPECT_EQ(converter.Error(), -50);
    }
    {
        // Two samples a pixel cannot be extracted: the header was written, then cut off again.
        auto tree = sourceTree("MR_small.dcm", nullptr, [](KelvoDicomDataImagePixel& px) {
            px.setUSValueProperty(0x0002, 2);
            px.setUSValueProperty(0x0100, 8);
        });
        KelvoDicomConvertMovie converter(movie.wrapper.get());
        converter.setDicomSource(tree.get());
        const std::string out = dir.file("samples.dcm");
        EXPECT_EQ(convertTo(converter, out), -50);
        EXPECT_EQ(std::filesystem::file_size(out), 0u);
        ASSERT_FALSE(gProgress.empty());
        EXPECT_EQ(gProgress.back(), 1.0);
    }
    {
        // RLE frames are not encoded here: refused rather than written without frames.
        auto tree = sourceTree("MR_small.dcm", "1.2.840.10008.1.2.5");
        KelvoDicomConvertMovie converter(movie.wrapper.get());
        converter.setDicomSource(tree.get());
        EXPECT_EQ(converter.Error(), 0);
        const std::string out = dir.file("rle.dcm");
        EXPECT_EQ(convertTo(converter, out), -50);
        EXPECT_EQ(std::filesystem::file_size(out), 0u);
    }
    {
        auto tree = sourceTree("MR_small.dcm", "1.2.3.4.5.6.7");
        KelvoDicomConvertMovie converter(movie.wrapper.get());
        converter.setDicomSource(tree.get());
        EXPECT_EQ(converter.Error(), 301);
    }
}

} // namespace

namespace {

// 16-bit grey sources keep their 16 bits: the frames are drawn into a 16-bit grey world and
// written in the source's own encoding (implicit, explicit, big endian).
TEST(MovieConverter, SixteenBitGreyInEachEncodingOfTheSource) {
    for (const char* name : {"MR_small.dcm", "MR_small_implicit.dcm", "MR_small_bigendian.dcm"}) {
        SCOPED_TRACE(name);
        ScratchDir dir("render-movie-16bit");
        TestMovie movie(2, 64, 64);
        auto tree = sourceTree(name);
        KelvoDicomConvertMovie converter(movie.wrapper.get());
        converter.setDicomSource(tree.get());
        const std::string out = dir.file("grey16.dcm");
        ASSERT_EQ(convertTo(converter, out), 0);
        dcmdump(out);
        EXPECT_EQ(dciodvfyErrors(out), "");
        const Peer p = readBack(dir, out);
        EXPECT_EQ(line(p.said, "frames"), "frames 2");
        EXPECT_EQ(line(p.said, "shape"), "shape 2x64x64 uint16") << p.said;
        ASSERT_EQ(p.samples.size(), size_t(2 * 64 * 64 * 2));
        for (int f = 0; f < 2; ++f)
            for (int y = 0; y < 64; y += 7)
                for (int x = 0; x < 64; x += 5) {
                    uint16_t got = 0;
                    std::memcpy(&got, p.samples.data() + ((size_t(f) * 64 + y) * 64 + x) * 2, 2);
                    ASSERT_EQ(got >> 8, greyOf(pixelOf(f, x, y))) << "frame " << f << " at " << x << "," << y;
                }
    }
}

} // namespace

namespace {

using namespace convertertest;
using testsupport::ScratchDir;

// The other compressed forms: 8-bit grey as baseline JPEG stays grey, and 16-bit grey under
// JPEG 2000 is written as 8-bit colour fragments; both decode within the codec's loss.
TEST(MovieConverter, GreyJPEGAndJPEG2000Frames) {
    struct Case {
        const char* syntax;
        bool eightBit;
        int samples;
    };
    for (const Case& c :
         {Case{"1.2.840.10008.1.2.4.50", true, 1}, Case{"1.2.840.10008.1.2.4.90", false, 3}}) {
        SCOPED_TRACE(c.syntax);
        ScratchDir dir("render-movie-codecs");
        TestMovie movie(3, 64, 64);
        auto tree = c.eightBit ? sourceTree("MR_small.dcm", c.syntax,
                                            [](KelvoDicomDataImagePixel& px) {
                                                px.setUSValueProperty(0x0100, 8);
                                                px.setUSValueProperty(0x0101, 8);
                                                px.setUSValueProperty(0x0102, 7);
                                            })
                               : sourceTree("MR_small.dcm", c.syntax);
        KelvoDicomConvertMovie converter(movie.wrapper.get());
        converter.setDicomSource(tree.get());
        ASSERT_EQ(converter.Error(), 0);
        const std::string out = dir.file("codec.dcm");
        ASSERT_EQ(convertTo(converter, out), 0);
        dcmdump(out);
        EXPECT_EQ(dciodvfyErrors(out), "");
        const Peer p = readBack(dir, out);
        ASSERT_EQ(p.samples.size(), size_t(3 * 64 * 64 * c.samples)) << p.said;
        double total = 0;
        for (int f = 0; f < 3; ++f)
            for (int y = 0; y < 64; ++y)
                for (int x = 0; x < 64; ++x) {
                    const uint32_t px = pixelOf(f, x, y);
                    const size_t at = ((size_t(f) * 64 + y) * 64 + x) * c.samples;
                    for (int k = 0; k < c.samples; ++k) {
                        const int want = c.samples == 1 ? greyOf(px) : int((px >> (16 - 8 * k)) & 0xFF);
                        total += std::abs(int(uint8_t(p.samples[at + k])) - want);
                    }
                }
        EXPECT_LE(total / double(p.samples.size()), 3.0) << p.said;
    }
}

// Bits Stored of 12 without a window gets the window of the whole range; a source with an unknown
// transfer syntax is reported with 301.
TEST(MovieConverter, DefaultWindowAndUnknownSyntax) {
    ScratchDir dir("render-movie-window");
    TestMovie movie(2, 64, 64);
    auto tree = sourceTree("MR_small.dcm", nullptr, [](KelvoDicomDataImagePixel& px) {
        px.RemoveKey(0x1050);
        px.RemoveKey(0x1051);
        px.setUSValueProperty(0x0101, 12);
        px.setUSValueProperty(0x0102, 11);
    });
    KelvoDicomConvertMovie converter(movie.wrapper.get());
    converter.setDicomSource(tree.get());
    const std::string out = dir.file("window.dcm");
    ASSERT_EQ(convertTo(converter, out), 0);
    const Peer p = readBack(dir, out);
    EXPECT_EQ(line(p.said, "wc"), "wc 2048 ww 4096");

    auto unknown = sourceTree("MR_small.dcm", "1.2.3.4.5.6.7");
    KelvoDicomConvertMovie refused(movie.wrapper.get());
    refused.setDicomSource(unknown.get());
    EXPECT_EQ(refused.Error(), 301);
    EXPECT_NE(refused.getDicomSource(), nullptr);
    const std::string second = dir.file("unknown.dcm");
    // The tree writer will not write a file whose header names a syntax it does not know: the
    // conversion fails with that and leaves nothing.
    EXPECT_EQ(convertTo(refused, second), 301);
    EXPECT_EQ(std::filesystem::file_size(second), 0u);
}

// Copies and clones take both sources (as clones of their own) and the notifier; reset drops
// them all.
TEST(MovieConverter, ClonesWriteTheSameFile) {
    ScratchDir dir("render-movie-clone");
    TestMovie movie(2, 64, 64);
    auto tree = sourceTree("MR_small.dcm");
    KelvoDicomConvertMovie converter(movie.wrapper.get());
    converter.setDicomSource(tree.get());
    EXPECT_NE(converter.getDicomSource(), tree.get());
    EXPECT_NE(converter.getDataSource(), movie.wrapper.get());
    std::unique_ptr<Kelvo_QTObj> clone(converter.clone());
    ASSERT_TRUE(clone && clone->isA("KelvoDicomConvertMovie") && clone->isA("KelvoDicomConverter"));
    KelvoDicomConvertMovie copied;
    copied.copy(converter);
    const std::string a = dir.file("a.dcm"), b = dir.file("b.dcm"), c = dir.file("c.dcm");
    ASSERT_EQ(convertTo(converter, a), 0);
    ASSERT_EQ(convertTo(*static_cast<KelvoDicomConvertMovie*>(clone.get()), b), 0);
    ASSERT_EQ(convertTo(copied, c), 0);
    EXPECT_TRUE(testsupport::readFile(a) == testsupport::readFile(b));
    EXPECT_TRUE(testsupport::readFile(a) == testsupport::readFile(c));
    converter.offsetTableEnabled() = true;
    converter.reset();
    EXPECT_FALSE(converter.qtObjIsValid());
    EXPECT_EQ(converter.getDicomSource(), nullptr);
    EXPECT_EQ(converter.Callback(), nullptr);
    EXPECT_FALSE(converter.offsetTableEnabled());
    converter.convert(nullptr);
    EXPECT_EQ(converter.Error(), -50); // no parameters after a reset
    converter.defaultStatus();
    FILE* f = std::fopen(dir.file("d.dcm").c_str(), "wb");
    converter.convert(f);
    std::fclose(f);
    EXPECT_EQ(converter.Error(), 79); // parameters again, but no movie
}

} // namespace
