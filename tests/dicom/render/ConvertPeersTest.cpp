// The converters' files decoded by independent peers: JPEG frames by DCMTK's dcmdjpeg, JPEG 2000
// frames (taken out of the file item by item) by OpenJPEG's opj_decompress, and an image converted
// from a JPEG file side by side with the file DCMTK's img2dcm makes of the same JPEG.
#include "ConverterFixtures.h"

#include "KelvoImage.h"
#include "KelvoImportGraphics.h"
#include "KelvoVideo.h"
#include "PlatformFiles.h"
#include "PlatformGWorlds.h"

#include <cctype>
#include <cstdlib>

namespace {

using namespace convertertest;
using testsupport::ScratchDir;

// Takes the frames out of an encapsulated file as FOLDER/frame<i>.<ext>, after checking the
// items: the empty offset table first, one item a frame, each of even length, holding a
// codestream that ends in its end marker with at most the one zero byte that pads it to even.
const char* kFramesPeer = R"PY(
import sys, struct, pydicom
path, folder, ext = sys.argv[1], sys.argv[2], sys.argv[3]
ds = pydicom.dcmread(path)
data, pos, items = ds.PixelData, 0, []
while pos + 8 <= len(data):
    g, e, n = struct.unpack('<HHI', data[pos:pos + 8])
    assert (g, e) == (0xFFFE, 0xE000), 'not an item'
    items.append(data[pos + 8:pos + 8 + n])
    pos += 8 + n
assert pos == len(data), 'items overrun the pixel data'
assert items[0] == b'', 'the offset table is not empty'
frames = items[1:]
assert len(frames) == int(ds.NumberOfFrames), 'not one item a frame'
padded = 0
for i, f in enumerate(frames):
    assert len(f) % 2 == 0, 'odd item'
    body = f[:-1] if f.endswith(b'\xff\xd9\x00') else f
    padded += len(body) != len(f)
    assert body.endswith(b'\xff\xd9'), 'item %d does not end in the end marker' % i
    open('%s/frame%d.%s' % (folder, i, ext), 'wb').write(body)
print('padded', padded)
)PY";

// Samples of a binary PGM (P5) or PPM (P6) of 8-bit samples as opj_decompress writes them (its
// header may carry a comment); empty when the file is not one of WIDTH x HEIGHT.
std::string pnmSamples(const std::string& path, int width, int height, int channels) {
    const std::string bytes = testsupport::readFile(path);
    std::vector<std::string> fields;
    size_t at = 0;
    while (fields.size() < 4 && at < bytes.size()) {
        if (bytes[at] == '#') {
            at = bytes.find('\n', at);
            if (at == std::string::npos) return std::string();
        } else if (std::isspace(uint8_t(bytes[at]))) {
            ++at;
        } else {
            const size_t end = bytes.find_first_of(" \t\r\n", at);
            if (end == std::string::npos) return std::string();
            fields.push_back(bytes.substr(at, end - at));
            at = end;
        }
    }
    ++at; // the one white space before the samples
    const std::vector<std::string> want = {channels == 1 ? "P5" : "P6", std::to_string(width),
                                           std::to_string(height), "255"};
    if (fields != want || bytes.size() - std::min(at, bytes.size()) != size_t(width) * height * channels)
        return std::string();
    return bytes.substr(at);
}

// How far the decoded samples (frames of 64 x 64, `samples` channels) are from what the test
// movie drew: mean and worst difference.
struct Loss {
    double mean = 0;
    int worst = 0;
};
Loss lossAgainstMovie(const std::string& decoded, int frame0, int frames, int samples) {
    Loss loss;
    double total = 0;
    for (int f = 0; f < frames; ++f)
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x) {
                const uint32_t px = pixelOf(frame0 + f, x, y);
                const size_t at = ((size_t(f) * 64 + y) * 64 + x) * samples;
                for (int k = 0; k < samples; ++k) {
                    const int want = samples == 1 ? greyOf(px) : int((px >> (16 - 8 * k)) & 0xFF);
                    const int d = std::abs(int(uint8_t(decoded[at + k])) - want);
                    total += d;
                    loss.worst = std::max(loss.worst, d);
                }
            }
    loss.mean = total / (double(frames) * 64 * 64 * samples);
    return loss;
}

void eightBit(KelvoDicomDataImagePixel& px) {
    px.setUSValueProperty(0x0100, 8);
    px.setUSValueProperty(0x0101, 8);
    px.setUSValueProperty(0x0102, 7);
}
void eightBitColour(KelvoDicomDataImagePixel& px) {
    px.PhotoInterpretation("RGB");
    px.PixelSamples(3);
    eightBit(px);
}

// A three-frame movie written as baseline JPEG and as JPEG 2000, in grey and in colour: dcmdjpeg
// and opj_decompress give back the movie's frames, within the loss of baseline JPEG and exactly
// for JPEG 2000 (the syntax written is the lossless one). Progress runs from 0 to 1.0, the last
// call with the conversion's status.
TEST(ConverterPeers, CompressedFramesDecodedByDcmdjpegAndOpjDecompress) {
    for (const char* tool : {"dcmdjpeg", "opj_decompress"})
        if (!testsupport::haveCommand(tool)) GTEST_SKIP() << tool << " is not installed";
    struct Case {
        const char* what;
        const char* syntax;
        void (*edit)(KelvoDicomDataImagePixel&);
        int samples;
    };
    const Case cases[] = {
        {"JPEG, grey", "1.2.840.10008.1.2.4.50", eightBit, 1},
        {"JPEG, colour", "1.2.840.10008.1.2.4.50", eightBitColour, 3},
        {"JPEG 2000, grey", "1.2.840.10008.1.2.4.90", eightBit, 1},
        {"JPEG 2000, colour", "1.2.840.10008.1.2.4.90", eightBitColour, 3},
    };
    TestMovie movie(3, 64, 64);
    int padded = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir("render-peers-codecs");
        auto tree = sourceTree("MR_small.dcm", c.syntax, c.edit);
        KelvoDicomConvertMovie converter(movie.wrapper.get());
        converter.setDicomSource(tree.get());
        const std::string out = dir.file("frames.dcm");
        ASSERT_EQ(convertTo(converter, out), 0);
        EXPECT_EQ(gProgress, (std::vector<double>{0.0, 1.0 / 3, 2.0 / 3, 1.0}));
        EXPECT_EQ(gProgressCodes, (std::vector<int32_t>{0, 0, 0, 0}));

        const bool jpeg = std::string(c.syntax) == "1.2.840.10008.1.2.4.50";
        const std::string ext = jpeg ? "jpg" : "j2k";
        const std::string bytes = testsupport::readFile(out);
        ASSERT_GE(bytes.size(), 8u);
        EXPECT_EQ(bytes.substr(bytes.size() - 8), std::string("\xFE\xFF\xDD\xE0\0\0\0\0", 8));
        const std::string script = testsupport::writePeerScript(dir, kFramesPeer);
        int status = -1;
        const std::string said = testsupport::run("/usr/bin/python3 " + script + " '" + out + "' '" +
                                                      dir.path().string() + "' " + ext + " 2>&1",
                                                  &status);
        ASSERT_EQ(status, 0) << said;
        padded += std::atoi(said.c_str() + said.find(' '));

        std::string decoded;
        if (jpeg) {
            // dcmdjpeg turns the file back into raw samples, YBR colour into RGB.
            const std::string raw = dir.file("raw.dcm");
            int status = -1;
            const std::string said = testsupport::run("dcmdjpeg '" + out + "' '" + raw + "' 2>&1", &status);
            ASSERT_EQ(status, 0) << said;
            const Peer p = readBack(dir, raw);
            EXPECT_EQ(line(p.said, "pixels"),
                      c.samples == 1 ? "pixels MONOCHROME2 1 8 8 7" : "pixels RGB 3 8 8 7");
            decoded = p.samples;
        } else {
            for (int f = 0; f < 3; ++f) {
                const std::string frame = dir.file("frame" + std::to_string(f) + ".j2k");
                const std::string image =
                    dir.file("frame" + std::to_string(f) + (c.samples == 1 ? ".pgm" : ".ppm"));
                int status = -1;
                const std::string said =
                    testsupport::run("opj_decompress -i '" + frame + "' -o '" + image + "' 2>&1", &status);
                ASSERT_EQ(status, 0) << said;
                const std::string samples = pnmSamples(image, 64, 64, c.samples);
                ASSERT_FALSE(samples.empty()) << said;
                decoded += samples;
            }
        }
        ASSERT_EQ(decoded.size(), size_t(3 * 64 * 64 * c.samples));
        const Loss loss = lossAgainstMovie(decoded, 0, 3, c.samples);
        if (jpeg) {
            EXPECT_LE(loss.mean, 3.0);
            EXPECT_LE(loss.worst, 32);
        } else {
            EXPECT_EQ(loss.worst, 0) << "mean " << loss.mean;
        }
    }
    // The codecs give the same bytes in every run, and some of these frames are odd: the padding
    // byte was written and read past.
    EXPECT_GT(padded, 0);
}

// A JPEG file made by PIL, read through the platform's graphics importer and written by the image
// converter as raw samples, against the file img2dcm makes of the same JPEG: pydicom reads both to
// the same pixels (the decoders agree to the last bit on grey and within a step of colour
// conversion rounding on colour).
TEST(ConverterPeers, ImageFromAJPEGSideBySideWithImg2dcm) {
    if (!testsupport::haveCommand("img2dcm")) GTEST_SKIP() << "img2dcm is not installed";
    const char* makeJPEGs = R"PY(
import sys
from PIL import Image
folder = sys.argv[1]
w, h = 96, 64
rgb = Image.new('RGB', (w, h))
rgb.putdata([((x * 5 + y) % 256, (y * 7 + 40) % 256, (x * y) % 256) for y in range(h) for x in range(w)])
rgb.save(folder + '/colour.jpg', quality=90)
grey = Image.new('L', (w, h))
grey.putdata([(x * 3 + y * 2 + (x * y) % 17) % 256 for y in range(h) for x in range(w)])
grey.save(folder + '/grey.jpg', quality=90)
)PY";
    ScratchDir dir("render-peers-img2dcm");
    const std::string files = testsupport::makePeerFixtures(dir, makeJPEGs);
    ASSERT_FALSE(files.empty());
    struct Case {
        const char* name;
        uint32_t format;
        void (*edit)(KelvoDicomDataImagePixel&);
        int worst;
    };
    const Case cases[] = {
        {"grey", Kelvo_Image::kGrey,
         [](KelvoDicomDataImagePixel& px) {
             eightBit(px);
             px.setUSValueProperty(0x0011, 96);
             px.setUSValueProperty(0x0010, 64);
         },
         0},
        {"colour", Kelvo_Image::kRGB,
         [](KelvoDicomDataImagePixel& px) {
             eightBitColour(px);
             px.setUSValueProperty(0x0011, 96);
             px.setUSValueProperty(0x0010, 64);
         },
         2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string jpeg = files + "/" + c.name + ".jpg";
        const std::string reference = dir.file(std::string(c.name) + "-img2dcm.dcm");
        int status = -1;
        const std::string said =
            testsupport::run("img2dcm -i JPEG '" + jpeg + "' '" + reference + "' 2>&1", &status);
        ASSERT_EQ(status, 0) << said;

        FSSpec spec{};
        std::snprintf(spec.path, sizeof spec.path, "%s", jpeg.c_str());
        GWorldPtr drawn = nullptr;
        ASSERT_EQ(KelvoFile_ImportGraphicsFile(&spec, &drawn, nullptr), noErr);
        std::unique_ptr<Kelvo_Image> image;
        {
            Kelvo_QDGWorldBuffer world(drawn, false);
            image.reset(Kelvo_Image::createWithQDContext(world, Kelvo_OSType(c.format), nullptr));
        }
        DisposeGWorld(drawn);
        ASSERT_TRUE(image && image->qtObjIsValid());
        auto tree = sourceTree("MR_small.dcm", nullptr, c.edit);
        KelvoDicomConvertImage converter(image.get());
        converter.setDicomSource(tree.get());
        const std::string ours = dir.file(std::string(c.name) + "-ours.dcm");
        ASSERT_EQ(convertTo(converter, ours), 0);
        dcmdump(ours);
        EXPECT_EQ(dciodvfyErrors(ours), "");

        const Peer mine = readBack(dir, ours);
        const Peer theirs = readBack(dir, reference);
        EXPECT_EQ(line(mine.said, "shape"), line(theirs.said, "shape")) << theirs.said;
        ASSERT_EQ(mine.samples.size(), theirs.samples.size());
        ASSERT_EQ(mine.samples.size(), size_t(96 * 64 * (c.format == Kelvo_Image::kGrey ? 1 : 3)));
        int worst = 0;
        double total = 0;
        for (size_t i = 0; i < mine.samples.size(); ++i) {
            const int d = std::abs(int(uint8_t(mine.samples[i])) - int(uint8_t(theirs.samples[i])));
            worst = std::max(worst, d);
            total += d;
        }
        EXPECT_LE(worst, c.worst) << "mean " << total / double(mine.samples.size());
    }
}

} // namespace
