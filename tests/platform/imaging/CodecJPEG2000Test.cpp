// The JPEG 2000 engine against OpenJPEG's own tools: every JPEG 2000 frame of the pydicom corpus,
// codestreams of the coding options opj_compress offers (signed and subsampled ones included),
// round trips through opj_decompress, JP2 colour, and damaged or absurd streams.
#include "CodecPeerSupport.h"
#include "PlatformCodecEngines.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

namespace {

using codectest::bytesOf;
using codectest::Picture;
using codectest::sampleAt;
using platform::codec::decode;
using platform::codec::encode;
using platform::codec::EncodeOptions;
using platform::codec::Format;
using platform::codec::inspect;

bool isJP2(const std::vector<uint8_t>& bytes) {
    return bytes.size() >= 12 && bytes[4] == 'j' && bytes[5] == 'P' && bytes[6] == ' ' && bytes[7] == ' ';
}

// Samples as opj_decompress writes them to a .rawl file: the components one after another, one
// byte a sample up to 8 bits, else two bytes little-endian; signed samples as their two's
// complement. Each is kept to the low `precision` bits, as the engine keeps them.
struct RawImage {
    bool ok = false;
    std::vector<uint8_t> bytes;
};

RawImage opjDecompress(const std::string& streamPath, const std::vector<uint8_t>& stream) {
    std::string input = streamPath + (isJP2(stream) ? ".jp2" : ".j2k");
    codectest::writeBytes(input, stream);
    std::string output = streamPath + ".rawl";
    int status = -1;
    testsupport::run("opj_decompress -quiet -i '" + input + "' -o '" + output + "' >/dev/null 2>&1", &status);
    RawImage raw;
    raw.ok = status == 0;
    if (raw.ok) raw.bytes = bytesOf(output);
    return raw;
}

// Whether our picture holds, sample for sample, what opj_decompress wrote.
::testing::AssertionResult sameAsRaw(const Picture& ours, const RawImage& raw) {
    if (!raw.ok) return ::testing::AssertionFailure() << "opj_decompress failed";
    const size_t pixels = size_t(ours.width) * size_t(ours.height);
    const size_t width = ours.precision <= 8 ? 1 : 2;
    if (raw.bytes.size() != pixels * size_t(ours.components) * width)
        return ::testing::AssertionFailure() << "raw size " << raw.bytes.size();
    const uint32_t mask = (1u << ours.precision) - 1;
    for (int c = 0; c < ours.components; ++c)
        for (size_t i = 0; i < pixels; ++i) {
            size_t at = (size_t(c) * pixels + i) * width;
            uint32_t peer = width == 1 ? raw.bytes[at] : uint32_t(raw.bytes[at + 1]) << 8 | raw.bytes[at];
            uint32_t mine = sampleAt(ours, i * size_t(ours.components) + size_t(c));
            if ((peer & mask) != mine)
                return ::testing::AssertionFailure()
                       << "component " << c << " sample " << i << ": " << mine << " vs " << (peer & mask);
        }
    return ::testing::AssertionSuccess();
}

// A picture of the sizes and layout given, filled with a smooth pattern and some detail.
Picture pattern(int32_t width, int32_t height, int32_t components, int32_t bits, int32_t precision) {
    Picture p;
    p.width = width;
    p.height = height;
    p.components = components;
    p.bitsPerSample = bits;
    p.precision = precision;
    p.samples.resize(p.rowBytes() * size_t(height));
    const uint32_t top = (1u << precision) - 1;
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            for (int32_t c = 0; c < components; ++c) {
                // A smooth wave and a fixed noise of a few per cent, which lossy coding must spend
                // bits on.
                uint32_t hash =
                    (uint32_t(x) * 73856093u) ^ (uint32_t(y) * 19349663u) ^ (uint32_t(c) * 83492791u);
                double noise = double((hash * 2654435761u) >> 24) / 255.0 - 0.5;
                double v = 0.5 + 0.4 * std::sin((x + 3 * c) * 0.11) * std::cos((y - c) * 0.07) + 0.08 * noise;
                uint32_t s = uint32_t(std::lround(v * top));
                size_t i = (size_t(y) * size_t(width) + size_t(x)) * size_t(components) + size_t(c);
                if (bits == 8)
                    p.samples[i] = uint8_t(s);
                else
                    reinterpret_cast<uint16_t*>(p.samples.data())[i] = uint16_t(s);
            }
    return p;
}

Picture decodeBytes(const std::vector<uint8_t>& bytes, OSErr* status) {
    Picture p;
    *status = decode(Format::JPEG2000, bytes.data(), bytes.size(), p);
    return p;
}

// The offset of the SIZ segment's Xsiz field in a codestream, or of the codestream in a JP2 file.
size_t sizFields(const std::vector<uint8_t>& bytes) {
    for (size_t i = 0; i + 40 < bytes.size(); ++i)
        if (bytes[i] == 0xFF && bytes[i + 1] == 0x4F && bytes[i + 2] == 0xFF && bytes[i + 3] == 0x51)
            return i + 8;
    return 0;
}

void put32(std::vector<uint8_t>& bytes, size_t at, uint32_t v) {
    bytes[at] = uint8_t(v >> 24), bytes[at + 1] = uint8_t(v >> 16), bytes[at + 2] = uint8_t(v >> 8);
    bytes[at + 3] = uint8_t(v);
}

// Writes planar raw samples for opj_compress's -F input: one byte a sample up to 8 bits, else
// two bytes big-endian.
void writeRawInput(const std::string& path, const std::vector<std::vector<int32_t>>& planes, int precision) {
    std::string out;
    for (const auto& plane : planes)
        for (int32_t v : plane) {
            if (precision <= 8) {
                out += char(v & 0xFF);
            } else {
                out += char((v >> 8) & 0xFF);
                out += char(v & 0xFF);
            }
        }
    testsupport::writeFile(path, out);
}

} // namespace

// Every JPEG 2000 frame of the corpus decodes to what opj_decompress makes of it, sample for
// sample (signed frames by their bit patterns); the frame opj_decompress refuses (its SIZ holds
// a sequence delimiter) we refuse too.
TEST(CodecJPEG2000, CorpusFramesDecodeAsOpjDecompress) {
    testsupport::ScratchDir dir("codec-j2k-corpus");
    std::vector<std::string> frames =
        codectest::corpusFrames(dir.path().string(), {"1.2.840.10008.1.2.4.90", "1.2.840.10008.1.2.4.91"});
    ASSERT_GE(frames.size(), 7u) << "pydicom's corpus or its extraction is missing";
    std::set<std::string> decoded, refused;
    for (const std::string& f : frames) {
        std::string name = codectest::baseName(f);
        std::vector<uint8_t> bytes = bytesOf(f);
        OSErr err;
        Picture ours = decodeBytes(bytes, &err);
        RawImage peer = opjDecompress(f, bytes);
        Picture layout;
        OSErr inspected = inspect(Format::JPEG2000, bytes.data(), bytes.size(), layout);
        if (!peer.ok) {
            EXPECT_EQ(err, codecBadDataErr) << name;
            EXPECT_EQ(inspected, codecBadDataErr) << name;
            refused.insert(name);
            continue;
        }
        ASSERT_EQ(err, noErr) << name;
        EXPECT_TRUE(ours.isConsistent()) << name;
        EXPECT_TRUE(sameAsRaw(ours, peer)) << name;
        ASSERT_EQ(inspected, noErr) << name;
        EXPECT_EQ(layout.width, ours.width) << name;
        EXPECT_EQ(layout.height, ours.height) << name;
        EXPECT_EQ(layout.components, ours.components) << name;
        EXPECT_EQ(layout.precision, ours.precision) << name;
        decoded.insert(name);
    }
    // A JP2 file inside DICOM, 14- and 16-bit signed frames, lossless and lossy RGB.
    for (const char* name : {"GDCMJ2K_TextGBR.0.bin", "693_J2KI.0.bin", "J2K_pixelrep_mismatch.0.bin",
                             "MR_small_jp2klossless.0.bin", "SC_rgb_gdcm_KY.0.bin", "JPEG2000.0.bin"})
        EXPECT_EQ(decoded.count(name), 1u) << name;
    EXPECT_EQ(refused, (std::set<std::string>{"JPEG2000-embedded-sequence-delimiter.0.bin"}));
}

// Codestreams of every coding option opj_compress offers decode as opj_decompress decodes them.
TEST(CodecJPEG2000, OpjCompressOptionsDecodeAsOpjDecompress) {
    testsupport::ScratchDir dir("codec-j2k-options");
    struct Source {
        const char* file;
        Picture picture;
    } sources[] = {
        {"rgb.ppm", pattern(67, 45, 3, 8, 8)},
        {"grey12.pgm", pattern(64, 40, 1, 16, 12)},
        {"grey16.pgm", pattern(33, 70, 1, 16, 16)},
    };
    const char* options[] = {
        "",
        "-r 20",
        "-I -r 10",
        "-r 40,20,10",
        "-n 2",
        "-t 32,32 -n 3",
        "-p RPCL",
        "-p CPRL",
        "-SOP -EPH",
        "-b 16,16",
        "-M 63",
        "-c [32,32],[32,32]",
        "-TP R",
        "-mct 0",
        "-d 5,3",
        "-q 30,40",
        "-I -p PCRL -t 32,32",
    };
    for (const Source& source : sources) {
        codectest::writePnm(dir.file(source.file), source.picture);
        for (const char* option : options) {
            for (const char* extension : {".j2k", ".jp2"}) {
                std::string what = std::string(source.file) + " " + option + " " + extension;
                std::string out = dir.file(std::string("x") + extension);
                int status = -1;
                testsupport::run(std::string("opj_compress -i ") + dir.file(source.file) + " -o " + out +
                                     " " + option + " >/dev/null 2>&1",
                                 &status);
                if (status != 0) {
                    ADD_FAILURE() << "opj_compress refused " << what;
                    continue;
                }
                std::vector<uint8_t> stream = bytesOf(out);
                OSErr err;
                Picture ours = decodeBytes(stream, &err);
                ASSERT_EQ(err, noErr) << what;
                EXPECT_EQ(ours.width, source.picture.width) << what;
                EXPECT_EQ(ours.precision, source.picture.precision) << what;
                EXPECT_TRUE(sameAsRaw(ours, opjDecompress(dir.file("peer"), stream))) << what;
            }
        }
    }
}

// Signed components keep their two's-complement bit patterns; components subsampled unlike each
// other are refused, though opj_decompress upsamples them.
TEST(CodecJPEG2000, SignedAndSubsampledComponents) {
    testsupport::ScratchDir dir("codec-j2k-signed");
    struct Case {
        int precision;
        int components;
        const char* sampling; // opj_compress's -F suffix
        bool refused;
    } cases[] = {
        {12, 1, "", false}, {16, 1, "", false},           {8, 1, "", false},
        {7, 3, "", false},  {8, 3, "@1x1:2x2:2x2", true}, {10, 3, "@1x1:2x1:2x1", true},
    };
    const int width = 40, height = 24;
    for (const Case& c : cases) {
        std::string what =
            std::to_string(c.precision) + " bits, " + std::to_string(c.components) + c.sampling;
        bool isSigned = !c.refused;
        std::vector<std::vector<int32_t>> planes;
        for (int comp = 0; comp < c.components; ++comp) {
            int dx = comp > 0 && c.refused ? 2 : 1;
            int dy =
                comp > 0 && c.refused && std::string(c.sampling).find("2x2") != std::string::npos ? 2 : 1;
            std::vector<int32_t> plane;
            const int32_t half = 1 << (c.precision - 1);
            for (int y = 0; y < (height + dy - 1) / dy; ++y)
                for (int x = 0; x < (width + dx - 1) / dx; ++x) {
                    int32_t v =
                        int32_t(std::lround((half - 1) * std::sin(x * 0.3 + comp) * std::cos(y * 0.2)));
                    plane.push_back(isSigned ? v : v + half);
                }
            planes.push_back(plane);
        }
        writeRawInput(dir.file("in.raw"), planes, c.precision);
        std::string out = dir.file("x.j2k");
        int status = -1;
        testsupport::run("opj_compress -i " + dir.file("in.raw") + " -o " + out + " -n 3 -F " +
                             std::to_string(width) + "," + std::to_string(height) + "," +
                             std::to_string(c.components) + "," + std::to_string(c.precision) + "," +
                             (isSigned ? "s" : "u") + c.sampling + " >/dev/null 2>&1",
                         &status);
        ASSERT_EQ(status, 0) << what;
        std::vector<uint8_t> stream = bytesOf(out);
        OSErr err;
        Picture ours = decodeBytes(stream, &err);
        Picture layout;
        OSErr inspected = inspect(Format::JPEG2000, stream.data(), stream.size(), layout);
        RawImage peer = opjDecompress(dir.file("peer"), stream);
        ASSERT_TRUE(peer.ok) << what;
        if (c.refused) {
            EXPECT_EQ(err, codecUnimpErr) << what;
            EXPECT_EQ(inspected, codecUnimpErr) << what;
            continue;
        }
        ASSERT_EQ(err, noErr) << what;
        EXPECT_EQ(inspected, noErr) << what;
        EXPECT_EQ(ours.precision, c.precision) << what;
        EXPECT_EQ(ours.bitsPerSample, c.precision <= 8 ? 8 : 16) << what;
        EXPECT_TRUE(sameAsRaw(ours, peer)) << what;
        // The lossless codestream holds exactly what went in: -1 is all ones in the precision.
        const uint32_t mask = (1u << c.precision) - 1;
        for (size_t i = 0; i < size_t(width * height); ++i)
            ASSERT_EQ(sampleAt(ours, i * size_t(c.components)), uint32_t(planes[0][i]) & mask)
                << what << " " << i;
    }
}

// Our lossless codestreams and JP2 files hold exactly what went in, for opj_decompress and for
// our decoder; lossy ones stay close and shrink with the quality.
TEST(CodecJPEG2000, EncodedStreamsReadBackThroughOpjDecompress) {
    testsupport::ScratchDir dir("codec-j2k-roundtrip");
    const Picture pictures[] = {
        pattern(61, 37, 1, 8, 8),   pattern(64, 64, 3, 8, 8),   pattern(20, 30, 4, 8, 8),
        pattern(50, 20, 1, 16, 12), pattern(31, 33, 1, 16, 16), pattern(16, 16, 3, 16, 10),
        pattern(1, 1, 1, 8, 8),     pattern(1, 200, 3, 8, 8),   pattern(30, 30, 1, 8, 5),
    };
    for (const Picture& in : pictures) {
        for (bool jp2 : {false, true}) {
            std::string what = std::to_string(in.width) + "x" + std::to_string(in.height) + "x" +
                               std::to_string(in.components) + "x" + std::to_string(in.precision) +
                               (jp2 ? " jp2" : " j2k");
            EncodeOptions lossless;
            lossless.quality = 1024;
            std::vector<uint8_t> stream;
            ASSERT_EQ(encode(Format::JPEG2000, in, lossless, stream, jp2), noErr) << what;
            EXPECT_EQ(isJP2(stream), jp2) << what;
            OSErr err;
            Picture back = decodeBytes(stream, &err);
            ASSERT_EQ(err, noErr) << what;
            EXPECT_EQ(back.bitsPerSample, in.bitsPerSample) << what;
            EXPECT_EQ(back.precision, in.precision) << what;
            EXPECT_TRUE(back.samples == in.samples) << what;
            EXPECT_TRUE(sameAsRaw(in, opjDecompress(dir.file("peer"), stream))) << what;
        }
    }

    // Lossy: the size follows the rate 2^((1023 - q) / 128) of the 12288 bytes of samples (plus
    // the headers), and the error falls as the quality rises.
    const Picture& rgb = pictures[1];
    struct Lossy {
        uint32_t quality;
        size_t largest;
        double psnr; // the least peak signal-to-noise ratio, in dB
    } levels[] = {{0, 300, 12}, {256, 400, 18}, {512, 1000, 28}, {768, 3300, 35}, {1023, 12288, 45}};
    size_t previous = 0;
    for (const Lossy& level : levels) {
        EncodeOptions options;
        options.quality = level.quality;
        std::vector<uint8_t> stream;
        ASSERT_EQ(encode(Format::JPEG2000, rgb, options, stream), noErr) << level.quality;
        EXPECT_GT(stream.size(), previous) << level.quality;
        EXPECT_LE(stream.size(), level.largest) << level.quality;
        previous = stream.size();
        OSErr err;
        Picture back = decodeBytes(stream, &err);
        ASSERT_EQ(err, noErr) << level.quality;
        EXPECT_TRUE(sameAsRaw(back, opjDecompress(dir.file("peer"), stream))) << level.quality;
        double squares = 0;
        for (size_t i = 0; i < rgb.samples.size(); ++i)
            squares += std::pow(double(back.samples[i]) - double(rgb.samples[i]), 2);
        double psnr = 10 * std::log10(255.0 * 255.0 / std::max(squares / double(rgb.samples.size()), 1e-9));
        EXPECT_GT(psnr, level.psnr) << level.quality;
    }

    Picture two = pattern(8, 8, 2, 8, 8);
    Picture inconsistent = pictures[0];
    inconsistent.samples.pop_back();
    for (const Picture* bad : {&two, &inconsistent}) {
        std::vector<uint8_t> out{1};
        EXPECT_EQ(encode(Format::JPEG2000, *bad, EncodeOptions(), out), paramErr);
        EXPECT_TRUE(out.empty());
    }
}

// JP2 colour: sYCC becomes RGB as opj_decompress converts it; e-sYCC and CMYK are refused. The
// colour box of an opj_compress file is rewritten for each.
TEST(CodecJPEG2000, JP2ColourSpaces) {
    testsupport::ScratchDir dir("codec-j2k-colour");
    codectest::writePnm(dir.file("in.ppm"), pattern(48, 32, 3, 8, 8));
    int status = -1;
    testsupport::run("opj_compress -mct 0 -i " + dir.file("in.ppm") + " -o " + dir.file("x.jp2") +
                         " >/dev/null 2>&1",
                     &status);
    ASSERT_EQ(status, 0);
    std::vector<uint8_t> file = bytesOf(dir.file("x.jp2"));
    size_t colr = 0;
    for (size_t i = 0; i + 11 < file.size() && !colr; ++i)
        if (std::memcmp(file.data() + i, "colr", 4) == 0 && file[i + 4] == 1)
            colr = i + 7; // after method, precedence, approx
    ASSERT_GT(colr, 0u);
    struct Case {
        uint32_t enumerated;
        OSErr expected;
    } cases[] = {{16, noErr}, {18, noErr}, {24, codecUnimpErr}, {12, codecUnimpErr}};
    for (const Case& c : cases) {
        std::vector<uint8_t> patched = file;
        put32(patched, colr, c.enumerated);
        OSErr err;
        Picture ours = decodeBytes(patched, &err);
        EXPECT_EQ(err, c.expected) << c.enumerated;
        Picture layout;
        EXPECT_EQ(inspect(Format::JPEG2000, patched.data(), patched.size(), layout), c.expected)
            << c.enumerated;
        if (c.expected == noErr) {
            EXPECT_TRUE(sameAsRaw(ours, opjDecompress(dir.file("peer"), patched))) << c.enumerated;
        }
    }
}

// A codestream or JP2 file cut anywhere is an error (the decoder is strict), never a partial
// picture: single- and multi-layer codestreams, and a JP2 file.
TEST(CodecJPEG2000, EveryTruncationIsAnError) {
    testsupport::ScratchDir dir("codec-j2k-truncation");
    Picture in = pattern(24, 20, 3, 8, 8);
    std::vector<std::vector<uint8_t>> streams(2);
    EncodeOptions lossless;
    lossless.quality = 1024;
    ASSERT_EQ(encode(Format::JPEG2000, in, lossless, streams[0]), noErr);
    ASSERT_EQ(encode(Format::JPEG2000, in, lossless, streams[1], true), noErr);
    codectest::writePnm(dir.file("in.ppm"), in);
    int status = -1;
    testsupport::run("opj_compress -n 3 -r 40,20,10 -p RLCP -i " + dir.file("in.ppm") + " -o " +
                         dir.file("l.j2k") + " >/dev/null 2>&1",
                     &status);
    ASSERT_EQ(status, 0);
    streams.push_back(bytesOf(dir.file("l.j2k")));
    for (const std::vector<uint8_t>& full : streams) {
        OSErr err;
        decodeBytes(full, &err);
        ASSERT_EQ(err, noErr);
        for (size_t n = 0; n < full.size(); ++n) {
            Picture p;
            p.width = 99;
            OSErr cut = decode(Format::JPEG2000, full.data(), n, p);
            EXPECT_EQ(cut, codecBadDataErr) << "cut at " << n << " of " << full.size();
            EXPECT_EQ(p.width, 0);
            EXPECT_TRUE(p.samples.empty());
        }
    }
    Picture p;
    EXPECT_EQ(decode(Format::JPEG2000, nullptr, 0, p), codecBadDataErr);
    const uint8_t notJ2K[] = {0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1};
    EXPECT_EQ(decode(Format::JPEG2000, notJ2K, sizeof notJ2K, p), codecBadDataErr);
}

// Any byte changed anywhere gives a status or a consistent picture; never a crash or a print.
TEST(CodecJPEG2000, DamagedBytesGiveStatuses) {
    Picture in = pattern(20, 16, 3, 8, 8);
    for (bool jp2 : {false, true}) {
        for (uint32_t quality : {512u, 1024u}) {
            EncodeOptions options;
            options.quality = quality;
            std::vector<uint8_t> full;
            ASSERT_EQ(encode(Format::JPEG2000, in, options, full, jp2), noErr);
            int failures = 0;
            for (size_t i = 0; i < full.size(); ++i) {
                for (uint8_t change : {uint8_t(0xFF), uint8_t(0x01), uint8_t(0x80)}) {
                    std::vector<uint8_t> bad = full;
                    bad[i] ^= change;
                    Picture p;
                    OSErr err = decode(Format::JPEG2000, bad.data(), bad.size(), p);
                    if (err == noErr) {
                        EXPECT_TRUE(p.isConsistent()) << i;
                    } else {
                        ++failures;
                        EXPECT_TRUE(err == codecBadDataErr || err == codecUnimpErr || err == codecSizeErr)
                            << err;
                        EXPECT_TRUE(p.samples.empty());
                    }
                }
            }
            EXPECT_GT(failures, 0);
        }
    }
}

// SIZ segments announcing absurd sizes or too many components are refused from the header,
// before the library allocates the image.
TEST(CodecJPEG2000, AbsurdSizes) {
    testsupport::ScratchDir dir("codec-j2k-sizes");
    Picture in = pattern(16, 16, 1, 8, 8);
    EncodeOptions lossless;
    lossless.quality = 1024;
    for (bool jp2 : {false, true}) {
        std::vector<uint8_t> stream;
        ASSERT_EQ(encode(Format::JPEG2000, in, lossless, stream, jp2), noErr);
        size_t siz = sizFields(stream);
        ASSERT_GT(siz, 0u);
        struct Case {
            uint32_t width, height;
            OSErr expected;
        } cases[] = {
            {65536, 16, codecSizeErr},
            {16, 65536, codecSizeErr},
            {65535, 65535, codecSizeErr},
            {40000, 40000, codecSizeErr},
            {0x7FFFFFFF, 0x7FFFFFFF, codecSizeErr},
            {0xFFFFFFFF, 0xFFFFFFFF, codecSizeErr},
        };
        for (const Case& c : cases) {
            std::vector<uint8_t> bad = stream;
            put32(bad, siz, c.width);       // Xsiz
            put32(bad, siz + 4, c.height);  // Ysiz
            put32(bad, siz + 16, c.width);  // XTsiz: one tile, as in the original
            put32(bad, siz + 20, c.height); // YTsiz
            Picture p;
            OSErr inspected = inspect(Format::JPEG2000, bad.data(), bad.size(), p);
            OSErr decoded = decode(Format::JPEG2000, bad.data(), bad.size(), p);
            // The library refuses some sizes itself, as damage; none may pass.
            EXPECT_TRUE(inspected == c.expected || inspected == codecBadDataErr)
                << c.width << "x" << c.height;
            EXPECT_EQ(decoded, inspected) << c.width << "x" << c.height;
            EXPECT_TRUE(p.samples.empty());
        }
    }
    // Five components: a valid codestream of a kind the engine does not decode.
    std::vector<std::vector<int32_t>> planes(5, std::vector<int32_t>(64, 7));
    writeRawInput(dir.file("five.raw"), planes, 8);
    int status = -1;
    testsupport::run("opj_compress -i " + dir.file("five.raw") + " -o " + dir.file("five.j2k") +
                         " -n 3 -F 8,8,5,8,u >/dev/null 2>&1",
                     &status);
    ASSERT_EQ(status, 0);
    std::vector<uint8_t> five = bytesOf(dir.file("five.j2k"));
    Picture p;
    EXPECT_EQ(inspect(Format::JPEG2000, five.data(), five.size(), p), codecUnimpErr);
    EXPECT_EQ(decode(Format::JPEG2000, five.data(), five.size(), p), codecUnimpErr);
}
