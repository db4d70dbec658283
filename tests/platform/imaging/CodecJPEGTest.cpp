// The JPEG engine against libjpeg-turbo's own tools: every baseline and extended frame of the
// pydicom corpus, streams of every coding option cjpeg makes, the quality scale, and damaged or
// absurd streams.
#include "CodecPeerSupport.h"
#include "PlatformCodecEngines.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>

namespace {

using codectest::bytesOf;
using codectest::Picture;
using codectest::readPnm;
using platform::codec::decode;
using platform::codec::encode;
using platform::codec::EncodeOptions;
using platform::codec::Format;
using platform::codec::inspect;

// What djpeg makes of a stream, as a picture; empty when djpeg refuses it.
Picture djpeg(const std::string& jpegPath) {
    std::string pnm = jpegPath + ".djpeg.pnm";
    int status = -1;
    testsupport::run("djpeg -pnm -outfile '" + pnm + "' '" + jpegPath + "' 2>/dev/null", &status);
    return status == 0 ? readPnm(pnm) : Picture();
}

Picture decodeFile(const std::string& path, OSErr* status) {
    std::vector<uint8_t> bytes = bytesOf(path);
    Picture p;
    *status = decode(Format::JPEG, bytes.data(), bytes.size(), p);
    return p;
}

void expectSamePicture(const Picture& ours, const Picture& peer, const std::string& what) {
    EXPECT_EQ(ours.width, peer.width) << what;
    EXPECT_EQ(ours.height, peer.height) << what;
    EXPECT_EQ(ours.components, peer.components) << what;
    EXPECT_EQ(ours.bitsPerSample, peer.bitsPerSample) << what;
    EXPECT_TRUE(ours.samples == peer.samples) << what;
}

// A picture of the corpus to encode from: the 256 x 256 RGB frame of a secondary capture.
Picture corpusRgb(const testsupport::ScratchDir& dir) {
    std::vector<std::string> frames =
        codectest::corpusFrames(dir.path().string(), {"1.2.840.10008.1.2.4.50"});
    for (const std::string& f : frames)
        if (codectest::baseName(f) == "SC_rgb_jpeg.0.bin") {
            OSErr err;
            Picture p = decodeFile(f, &err);
            if (err == noErr) return p;
        }
    return Picture();
}

Picture lumaOf(const Picture& rgb) {
    Picture grey;
    grey.width = rgb.width;
    grey.height = rgb.height;
    grey.components = 1;
    for (size_t i = 0; i + 2 < rgb.samples.size(); i += 3)
        grey.samples.push_back(uint8_t(
            (rgb.samples[i] * 299 + rgb.samples[i + 1] * 587 + rgb.samples[i + 2] * 114 + 500) / 1000));
    return grey;
}

// The end of the stream's last marker segment: one past its EOI.
size_t endOfImage(const std::vector<uint8_t>& jpeg) {
    for (size_t i = jpeg.size(); i >= 2; --i)
        if (jpeg[i - 2] == 0xFF && jpeg[i - 1] == 0xD9) return i;
    return 0;
}

// The offset of the first SOFn marker's frame header (after its length).
size_t frameHeader(const std::vector<uint8_t>& jpeg) {
    for (size_t i = 2; i + 9 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && jpeg[i + 1] >= 0xC0 && jpeg[i + 1] <= 0xCF && jpeg[i + 1] != 0xC4 &&
            jpeg[i + 1] != 0xC8 && jpeg[i + 1] != 0xCC)
            return i + 4;
    return 0;
}

} // namespace

// Every JPEG baseline and extended frame of the corpus decodes to what djpeg makes of it, byte
// for byte (the same library, the same colour conversion and upsampling: YBR_FULL_422 frames
// included); the frames djpeg refuses (12-bit) we refuse as a kind we do not decode.
TEST(CodecJPEG, CorpusFramesDecodeAsDjpeg) {
    testsupport::ScratchDir dir("codec-jpeg-corpus");
    std::vector<std::string> frames =
        codectest::corpusFrames(dir.path().string(), {"1.2.840.10008.1.2.4.50", "1.2.840.10008.1.2.4.51"});
    ASSERT_GE(frames.size(), 15u) << "pydicom's corpus or its extraction is missing";
    std::set<std::string> decoded, refused;
    for (const std::string& f : frames) {
        std::string name = codectest::baseName(f);
        OSErr err;
        Picture ours = decodeFile(f, &err);
        Picture peer = djpeg(f);
        std::vector<uint8_t> bytes = bytesOf(f);
        Picture layout;
        OSErr inspected = inspect(Format::JPEG, bytes.data(), bytes.size(), layout);
        if (peer.samples.empty()) {
            EXPECT_EQ(err, codecUnimpErr) << name;
            EXPECT_EQ(inspected, codecUnimpErr) << name;
            EXPECT_TRUE(ours.samples.empty()) << name;
            refused.insert(name);
            continue;
        }
        ASSERT_EQ(err, noErr) << name;
        EXPECT_TRUE(ours.isConsistent()) << name;
        expectSamePicture(ours, peer, name);
        ASSERT_EQ(inspected, noErr) << name;
        EXPECT_EQ(layout.width, ours.width) << name;
        EXPECT_EQ(layout.height, ours.height) << name;
        EXPECT_EQ(layout.components, ours.components) << name;
        EXPECT_TRUE(layout.samples.empty()) << name;
        decoded.insert(name);
    }
    // The cases that matter most are there: YBR_FULL_422, RGB without a colour transform, an odd
    // 3 x 3 frame, and the 12-bit extended frames.
    for (const char* name : {"SC_rgb_dcmtk_+eb+cy+np.0.bin", "SC_jpeg_no_color_transform.0.bin",
                             "SC_rgb_small_odd_jpeg.0.bin", "SC_rgb_jpeg_app14_dcmd.0.bin"})
        EXPECT_EQ(decoded.count(name), 1u) << name;
    EXPECT_EQ(refused, (std::set<std::string>{"JPEG-lossy.0.bin", "JPGExtended.0.bin"}));
}

// Lossless frames belong to the DICOM layer's own decoder.
TEST(CodecJPEG, LosslessFramesAreNotThisEngines) {
    testsupport::ScratchDir dir("codec-jpeg-lossless");
    std::vector<std::string> frames =
        codectest::corpusFrames(dir.path().string(), {"1.2.840.10008.1.2.4.70"});
    ASSERT_FALSE(frames.empty());
    for (const std::string& f : frames) {
        OSErr err;
        Picture p = decodeFile(f, &err);
        EXPECT_EQ(err, codecUnimpErr) << f;
        EXPECT_TRUE(p.samples.empty());
    }
}

// Every coding option cjpeg offers, on a real picture, decodes as djpeg decodes it.
TEST(CodecJPEG, CjpegCodingOptionsDecodeAsDjpeg) {
    testsupport::ScratchDir dir("codec-jpeg-options");
    Picture rgb = corpusRgb(dir);
    ASSERT_EQ(rgb.components, 3);
    codectest::writePnm(dir.file("rgb.ppm"), rgb);
    codectest::writePnm(dir.file("grey.pgm"), lumaOf(rgb));
    const char* options[] = {
        "-quality 75", "-quality 95 -sample 1x1",
        "-sample 2x1", "-sample 1x2",
        "-sample 4x1", "-progressive",
        "-arithmetic", "-progressive -arithmetic",
        "-restart 1",  "-restart 3B",
        "-optimize",   "-rgb",
        "-grayscale",  "-dct float",
        "-quality 5",  "-smooth 50",
    };
    for (const char* input : {"rgb.ppm", "grey.pgm"}) {
        for (const char* option : options) {
            if (std::string(input) == "grey.pgm" && std::string(option) == "-rgb") continue;
            std::string what = std::string(input) + " " + option;
            std::string out = dir.file("x.jpg");
            int status = -1;
            testsupport::run(std::string("cjpeg ") + option + " -outfile " + out + " " + dir.file(input) +
                                 " 2>/dev/null",
                             &status);
            ASSERT_EQ(status, 0) << what;
            OSErr err;
            Picture ours = decodeFile(out, &err);
            ASSERT_EQ(err, noErr) << what;
            expectSamePicture(ours, djpeg(out), what);
        }
    }
}

// CMYK streams become RGB: the Adobe-marked form that writers store inverted, decoded as PIL
// decodes and converts it.
TEST(CodecJPEG, CmykDecodesAsPilConverts) {
    testsupport::ScratchDir dir("codec-jpeg-cmyk");
    int status = -1;
    testsupport::run("/usr/bin/python3 -c \"\nfrom PIL import Image\n"
                     "im = Image.new('CMYK', (37, 21))\n"
                     "im.putdata([((x * 7) % 256, (y * 12) % 256, (x * y) % 256, (x + y * 3) % 256) "
                     "for y in range(21) for x in range(37)])\n"
                     "im.save('" +
                         dir.file("cmyk.jpg") +
                         "', quality=90)\n"
                         "back = Image.open('" +
                         dir.file("cmyk.jpg") +
                         "')\n"
                         "assert back.mode == 'CMYK'\n"
                         "back.convert('RGB').save('" +
                         dir.file("rgb.ppm") + "')\n\"",
                     &status);
    ASSERT_EQ(status, 0);
    OSErr err;
    Picture ours = decodeFile(dir.file("cmyk.jpg"), &err);
    ASSERT_EQ(err, noErr);
    expectSamePicture(ours, readPnm(dir.file("rgb.ppm")), "cmyk");
}

// The quality scale: our stream at quality q is exactly cjpeg's at round(q * 100 / 1023), baseline
// tables, for grey and RGB; streams grow with quality.
TEST(CodecJPEG, QualityMapsOntoCjpeg) {
    testsupport::ScratchDir dir("codec-jpeg-quality");
    Picture rgb = corpusRgb(dir);
    ASSERT_EQ(rgb.components, 3);
    Picture grey = lumaOf(rgb);
    codectest::writePnm(dir.file("rgb.ppm"), rgb);
    codectest::writePnm(dir.file("grey.pgm"), grey);
    struct Case {
        uint32_t quality;
        int cjpegQuality;
    } cases[] = {{0, 1},    {5, 1},     {6, 1},      {100, 10},   {256, 25},  {512, 50},
                 {768, 75}, {1000, 98}, {1023, 100}, {1024, 100}, {5000, 100}};
    for (const auto& [picture, file] : {std::pair{&rgb, "rgb.ppm"}, std::pair{&grey, "grey.pgm"}}) {
        size_t previous = 0;
        for (const Case& c : cases) {
            std::string what = std::string(file) + " q" + std::to_string(c.quality);
            std::vector<uint8_t> ours;
            EncodeOptions options;
            options.quality = c.quality;
            ASSERT_EQ(encode(Format::JPEG, *picture, options, ours), noErr) << what;
            std::string peer = dir.file("peer.jpg");
            int status = -1;
            testsupport::run("cjpeg -baseline -quality " + std::to_string(c.cjpegQuality) + " -outfile " +
                                 peer + " " + dir.file(file),
                             &status);
            ASSERT_EQ(status, 0) << what;
            EXPECT_TRUE(ours == bytesOf(peer)) << what;
            EXPECT_GE(ours.size(), previous) << what;
            previous = ours.size();
        }
    }
}

// Our streams read back through djpeg close to what went in, and our decoder reads them as djpeg
// does. Shapes the engine cannot write are refused.
TEST(CodecJPEG, EncodedStreamsReadBackThroughDjpeg) {
    testsupport::ScratchDir dir("codec-jpeg-roundtrip");
    Picture rgb = corpusRgb(dir);
    ASSERT_EQ(rgb.components, 3);
    struct Case {
        const Picture picture;
        uint32_t quality;
        double meanError; // the largest mean absolute error allowed
    } cases[] = {{rgb, 1023, 1.5}, {rgb, 512, 4.0}, {lumaOf(rgb), 1023, 0.8}, {lumaOf(rgb), 512, 3.0}};
    for (const Case& c : cases) {
        std::string what =
            std::to_string(c.picture.components) + " components, q" + std::to_string(c.quality);
        std::vector<uint8_t> stream;
        EncodeOptions options;
        options.quality = c.quality;
        ASSERT_EQ(encode(Format::JPEG, c.picture, options, stream), noErr) << what;
        std::string path = dir.file("ours.jpg");
        codectest::writeBytes(path, stream);
        Picture peer = djpeg(path);
        ASSERT_EQ(peer.width, c.picture.width) << what;
        ASSERT_EQ(peer.height, c.picture.height) << what;
        ASSERT_EQ(peer.components, c.picture.components) << what;
        double total = 0;
        for (size_t i = 0; i < peer.samples.size(); ++i)
            total += std::abs(int(peer.samples[i]) - int(c.picture.samples[i]));
        EXPECT_LE(total / double(peer.samples.size()), c.meanError) << what;
        OSErr err;
        expectSamePicture(decodeFile(path, &err), peer, what);
        EXPECT_EQ(err, noErr);
    }

    Picture twoComponents = rgb;
    twoComponents.components = 2;
    twoComponents.samples.resize(twoComponents.rowBytes() * size_t(twoComponents.height));
    Picture sixteenBits = lumaOf(rgb);
    sixteenBits.bitsPerSample = 16;
    sixteenBits.samples.resize(sixteenBits.samples.size() * 2);
    Picture inconsistent = rgb;
    inconsistent.samples.pop_back();
    for (const Picture* bad : {&twoComponents, &sixteenBits, &inconsistent}) {
        std::vector<uint8_t> out{1, 2, 3};
        EXPECT_EQ(encode(Format::JPEG, *bad, EncodeOptions(), out), paramErr);
        EXPECT_TRUE(out.empty());
    }
}

// A stream cut anywhere before its end of image is an error, never a picture filled in with
// grey; bytes after the end of image (DICOM's padding) are ignored. Both a single-scan frame of
// the corpus and a progressive stream, whose cuts fall between scans too.
TEST(CodecJPEG, EveryTruncationIsAnError) {
    testsupport::ScratchDir dir("codec-jpeg-truncation");
    std::vector<std::string> frames =
        codectest::corpusFrames(dir.path().string(), {"1.2.840.10008.1.2.4.50"});
    std::vector<std::vector<uint8_t>> streams;
    for (const std::string& f : frames)
        if (codectest::baseName(f) == "SC_rgb_small_odd_jpeg.0.bin") streams.push_back(bytesOf(f));
    ASSERT_EQ(streams.size(), 1u);
    Picture small = corpusRgb(dir);
    ASSERT_EQ(small.components, 3);
    small.width = 16, small.height = 16;
    small.samples.resize(small.rowBytes() * 16);
    codectest::writePnm(dir.file("small.ppm"), small);
    int status = -1;
    testsupport::run("cjpeg -progressive -outfile " + dir.file("p.jpg") + " " + dir.file("small.ppm"),
                     &status);
    ASSERT_EQ(status, 0);
    streams.push_back(bytesOf(dir.file("p.jpg")));

    for (const std::vector<uint8_t>& full : streams) {
        size_t end = endOfImage(full);
        ASSERT_GT(end, 0u);
        Picture whole;
        ASSERT_EQ(decode(Format::JPEG, full.data(), full.size(), whole), noErr);
        for (size_t n = 0; n < full.size(); ++n) {
            Picture p;
            p.width = 99;
            OSErr err = decode(Format::JPEG, full.data(), n, p);
            if (n < end) {
                EXPECT_EQ(err, codecBadDataErr) << "cut at " << n << " of " << full.size();
                EXPECT_EQ(p.width, 0);
                EXPECT_TRUE(p.samples.empty());
            } else {
                EXPECT_EQ(err, noErr) << "cut at " << n;
                EXPECT_TRUE(p.samples == whole.samples);
            }
        }
    }
    Picture p;
    EXPECT_EQ(decode(Format::JPEG, nullptr, 0, p), codecBadDataErr);
    EXPECT_EQ(decode(Format::JPEG, nullptr, 10, p), paramErr);
}

// Any byte changed anywhere gives a status or a consistent picture; never a crash, a print or a
// partial picture.
TEST(CodecJPEG, DamagedBytesGiveStatuses) {
    testsupport::ScratchDir dir("codec-jpeg-damage");
    Picture rgb = corpusRgb(dir);
    ASSERT_EQ(rgb.components, 3);
    rgb.height = 24;
    rgb.samples.resize(rgb.rowBytes() * 24);
    codectest::writePnm(dir.file("in.ppm"), rgb);
    for (const char* option : {"-baseline", "-progressive", "-arithmetic -restart 1"}) {
        int status = -1;
        testsupport::run(std::string("cjpeg ") + option + " -outfile " + dir.file("x.jpg") + " " +
                             dir.file("in.ppm"),
                         &status);
        ASSERT_EQ(status, 0);
        std::vector<uint8_t> full = bytesOf(dir.file("x.jpg"));
        int failures = 0;
        for (size_t i = 0; i < full.size(); ++i) {
            for (uint8_t change : {uint8_t(0xFF), uint8_t(0x01), uint8_t(0x80)}) {
                std::vector<uint8_t> bad = full;
                bad[i] ^= change;
                Picture p;
                OSErr err = decode(Format::JPEG, bad.data(), bad.size(), p);
                if (err == noErr) {
                    EXPECT_TRUE(p.isConsistent()) << option << " byte " << i;
                } else {
                    ++failures;
                    EXPECT_TRUE(err == codecBadDataErr || err == codecUnimpErr || err == codecSizeErr) << err;
                    EXPECT_TRUE(p.samples.empty());
                }
            }
        }
        EXPECT_GT(failures, 0) << option;
    }
}

// Frame headers announcing absurd sizes are refused before anything of their size is made.
TEST(CodecJPEG, AbsurdFrameSizes) {
    testsupport::ScratchDir dir("codec-jpeg-sizes");
    Picture rgb = corpusRgb(dir);
    ASSERT_EQ(rgb.components, 3);
    std::vector<uint8_t> stream;
    ASSERT_EQ(encode(Format::JPEG, rgb, EncodeOptions(), stream), noErr);
    size_t sof = frameHeader(stream);
    ASSERT_GT(sof, 0u);
    struct Case {
        uint16_t width, height;
        OSErr inspected, decoded;
    } cases[] = {
        {65535, 65535, codecSizeErr, codecSizeErr}, // beyond the library's 65500
        {65500, 65500, codecSizeErr, codecSizeErr}, // 12 GB of samples
        {65500, 5500, codecSizeErr, codecSizeErr},  // just over 1 GiB
        {65500, 1, noErr, codecBadDataErr},         // fits, but the data is short
        {0, 256, codecBadDataErr, codecBadDataErr}, // empty
        {256, 0, codecBadDataErr, codecBadDataErr}, // height from a DNL marker: none
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bad = stream;
        bad[sof + 1] = uint8_t(c.height >> 8), bad[sof + 2] = uint8_t(c.height);
        bad[sof + 3] = uint8_t(c.width >> 8), bad[sof + 4] = uint8_t(c.width);
        Picture p;
        EXPECT_EQ(inspect(Format::JPEG, bad.data(), bad.size(), p), c.inspected)
            << c.width << "x" << c.height;
        EXPECT_EQ(decode(Format::JPEG, bad.data(), bad.size(), p), c.decoded) << c.width << "x" << c.height;
        EXPECT_TRUE(p.samples.empty());
    }
}

// A stream may carry any number of scans, each walking the whole image: beyond 500 the stream
// is taken as hostile, though djpeg would go on. A sequential stream whose component scans are
// repeated is valid (each repeat replaces the coefficients), so the count is the only fault.
TEST(CodecJPEG, EndlessScansAreRefused) {
    testsupport::ScratchDir dir("codec-jpeg-scans");
    Picture rgb = corpusRgb(dir);
    ASSERT_EQ(rgb.components, 3);
    rgb.width = rgb.height = 16;
    rgb.samples.resize(rgb.rowBytes() * 16);
    codectest::writePnm(dir.file("in.ppm"), rgb);
    testsupport::writeFile(dir.file("scans.txt"), "0;\n1;\n2;\n");
    int status = -1;
    testsupport::run("cjpeg -scans " + dir.file("scans.txt") + " -outfile " + dir.file("s.jpg") + " " +
                         dir.file("in.ppm"),
                     &status);
    ASSERT_EQ(status, 0);
    std::vector<uint8_t> stream = bytesOf(dir.file("s.jpg"));
    size_t firstScan = 0;
    for (size_t i = 0; i + 1 < stream.size() && !firstScan; ++i)
        if (stream[i] == 0xFF && stream[i + 1] == 0xDA) firstScan = i;
    size_t end = endOfImage(stream);
    ASSERT_GT(firstScan, 0u);
    for (int repeats : {150, 170}) { // 450 and 510 scans
        std::vector<uint8_t> many(stream.begin(), stream.begin() + long(firstScan));
        for (int r = 0; r < repeats; ++r)
            many.insert(many.end(), stream.begin() + long(firstScan), stream.begin() + long(end) - 2);
        many.insert(many.end(), {0xFF, 0xD9});
        std::string path = dir.file("many.jpg");
        codectest::writeBytes(path, many);
        Picture peer = djpeg(path);
        ASSERT_FALSE(peer.samples.empty()) << repeats;
        OSErr err;
        Picture ours = decodeFile(path, &err);
        if (repeats * 3 <= 500) {
            EXPECT_EQ(err, noErr);
            expectSamePicture(ours, peer, "450 scans");
        } else {
            EXPECT_EQ(err, codecBadDataErr);
            EXPECT_TRUE(ours.samples.empty());
        }
    }
}

// The entry points check what every engine would: a format no engine has, null data with a
// size, an inconsistent picture; and they leave their outputs empty on failure.
TEST(CodecDispatch, RefusesWhatNoEngineCanTake) {
    const Format unknown = static_cast<Format>(99);
    const uint8_t byte = 0;
    Picture p;
    p.width = 5;
    EXPECT_EQ(decode(unknown, &byte, 1, p), noCodecErr);
    EXPECT_EQ(p.width, 0);
    EXPECT_EQ(inspect(unknown, &byte, 1, p), noCodecErr);
    for (Format f : {Format::JPEG, Format::JPEG2000, Format::PNG, Format::BMP}) {
        EXPECT_EQ(decode(f, nullptr, 4, p), paramErr);
        EXPECT_EQ(inspect(f, nullptr, 4, p), paramErr);
        EXPECT_NE(decode(f, &byte, 1, p), noErr);
        EXPECT_TRUE(p.samples.empty());
    }
    Picture grey;
    grey.width = grey.height = 2;
    grey.components = 1;
    grey.samples = {1, 2, 3, 4};
    std::vector<uint8_t> out;
    EXPECT_EQ(encode(unknown, grey, EncodeOptions(), out), noCodecErr);
    grey.samples.pop_back();
    for (Format f : {Format::JPEG, Format::JPEG2000, Format::PNG, Format::BMP}) {
        out.assign(3, 0);
        EXPECT_EQ(encode(f, grey, EncodeOptions(), out), paramErr);
        EXPECT_TRUE(out.empty());
    }
}
