// The raw image file: every class written and read back, the header pinned byte for byte and
// checked by Python's struct module, header-less pixels read by format, size and offset, and
// files whose header is short or does not agree with what follows it refused.
#include "ImagePeer.h"
#include "KelvoImage.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using ImagePtr = std::unique_ptr<Kelvo_Image>;

constexpr uint32_t kMono = Kelvo_Image::kMonochrome;
constexpr uint32_t kGrey = Kelvo_Image::kGrey;
constexpr uint32_t kFloat = Kelvo_Image::kGreyFloat;
constexpr uint32_t kG16 = Kelvo_Image::kGrey16;
constexpr uint32_t kRGB = Kelvo_Image::kRGB;
constexpr uint32_t kARGB = Kelvo_Image::kARGB;

// Pixels of a PIL picture in every format (13 x 9).
const char* kPeerScript = R"(import sys, os
import numpy as np
from PIL import Image
out = sys.argv[1]
W, H = 13, 9
grey = np.asarray(Image.effect_mandelbrot((W, H), (-2.0, -1.5, 1.0, 1.5), 80), dtype=np.uint8)
rgb = np.asarray(Image.merge('RGB', [Image.fromarray(grey), Image.linear_gradient('L').resize((W, H)),
                                     Image.effect_noise((W, H), 50)]), dtype=np.uint8)
argb = np.dstack([np.asarray(Image.radial_gradient('L').resize((W, H)), dtype=np.uint8), rgb])
np.where(grey < 129, 0, 255).astype(np.uint8).tofile(os.path.join(out, 'mono.bin'))
grey.tofile(os.path.join(out, 'grey.bin'))
(grey.astype(np.float32) / np.float32(7)).tofile(os.path.join(out, 'float.bin'))
(grey.astype(np.uint16) * 257).tofile(os.path.join(out, 'g16.bin'))
rgb.tofile(os.path.join(out, 'rgb.bin'))
argb.tofile(os.path.join(out, 'argb.bin'))
)";

// Python's reading of a raw file's header: the ten fields, big-endian.
const char* kHeaderScript = R"(import sys, struct
data = open(sys.argv[1], 'rb').read()
f = struct.unpack('>4sIIIIIIHHII', data[:40])
print(f[0].decode(), *f[1:], len(data) - 40)
)";

struct Case {
    const char* name;
    uint32_t format;
};
const Case kCases[] = {{"mono", kMono}, {"grey", kGrey}, {"float", kFloat},
                       {"g16", kG16},   {"rgb", kRGB},   {"argb", kARGB}};

class RawImageFile : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        scratch_ = new testsupport::ScratchDir("image-raw-file");
        peerRan_ = imagepeer::runPeer(*scratch_, kPeerScript);
    }
    static void TearDownTestSuite() {
        delete scratch_;
        scratch_ = nullptr;
    }

    std::string path(const std::string& name) const { return scratch_->file(name); }
    std::string pixels(const char* name) const {
        return testsupport::readFile(path(std::string(name) + ".bin"));
    }
    ImagePtr imageOf(uint32_t format, const std::string& bytes) const {
        ImagePtr image(Kelvo_Image::createWithData(Kelvo_OSType(format), Kelvo_Size(13, 9), bytes.data()));
        EXPECT_TRUE(image && image->qtObjIsValid());
        return image;
    }
    // The header as Python reads it.
    std::string pythonHeader(const std::string& file) const {
        const std::string script = path("header.py");
        testsupport::writeFile(script, kHeaderScript);
        int status = -1;
        std::string said = testsupport::run("/usr/bin/python3 " + script + " " + file + " 2>&1", &status);
        EXPECT_EQ(status, 0) << said;
        if (!said.empty() && said.back() == '\n') said.pop_back();
        return said;
    }

    static testsupport::ScratchDir* scratch_;
    static bool peerRan_;
};

testsupport::ScratchDir* RawImageFile::scratch_ = nullptr;
bool RawImageFile::peerRan_ = false;

std::string bytesOf(Kelvo_Image& image) {
    return std::string(static_cast<const char*>(image.buffer()), image.bufferSize());
}

uint32_t big32(const std::string& s, size_t at) {
    return uint32_t(uint8_t(s[at])) << 24 | uint32_t(uint8_t(s[at + 1])) << 16 |
           uint32_t(uint8_t(s[at + 2])) << 8 | uint8_t(s[at + 3]);
}

void putBig32(std::string& s, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        s[at + i] = char(v >> (24 - 8 * i));
}

TEST_F(RawImageFile, EveryClassWrittenAndReadBack) {
    ASSERT_TRUE(peerRan_);
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        const std::string bytes = pixels(c.name);
        ImagePtr image = imageOf(c.format, bytes);
        const std::string file = path(std::string(c.name) + ".mw1");
        image->write(file.c_str(), 0);
        EXPECT_EQ(image->Error(), 0);
        EXPECT_TRUE(Kelvo_Image::isValidFile(file.c_str()));

        const uint16_t depth = uint16_t(image->depth());
        const std::string want = ".mw1 2 40 13 9 " + std::to_string(bytes.size()) + " " +
                                 std::to_string(c.format) + " " + std::to_string((depth & 0xFFF8) >> 3) +
                                 " " + std::to_string(depth) + " 0 0 " + std::to_string(bytes.size());
        EXPECT_EQ(pythonHeader(file), want);
        EXPECT_EQ(testsupport::readFile(file).substr(40), bytes);

        int32_t status = -1;
        ImagePtr back(Kelvo_Image::open(file.c_str(), status));
        ASSERT_TRUE(back);
        EXPECT_EQ(status, 0);
        EXPECT_STREQ(back->qtObjName(), image->qtObjName());
        EXPECT_EQ(back->size(), Kelvo_Size(13, 9));
        EXPECT_EQ(bytesOf(*back), bytes);
    }
}

TEST_F(RawImageFile, HeaderPinnedByteForByte) {
    const std::vector<uint8_t> grey = {1, 2, 3, 4, 5, 6};
    Kelvo_Image8BitGrey image(Kelvo_Size(3, 2), const_cast<uint8_t*>(grey.data()));
    const std::string file = path("pinned.mw1");
    image.write(file.c_str(), 0);
    const std::string golden("\x2E\x6D\x77\x31"
                             "\x00\x00\x00\x02"
                             "\x00\x00\x00\x28"
                             "\x00\x00\x00\x03"
                             "\x00\x00\x00\x02"
                             "\x00\x00\x00\x06"
                             "\x00\x00\x00\x28"
                             "\x00\x01\x00\x08"
                             "\x00\x00\x00\x00"
                             "\x00\x00\x00\x00"
                             "\x01\x02\x03\x04\x05\x06",
                             46);
    EXPECT_EQ(testsupport::readFile(file), golden);

    // The bytes-per-pixel field is the depth in whole bytes: a 16-bit image of 12 bits records 1.
    struct Depth {
        uint16_t top;
        const char* fields;
    } depths[] = {{4096, "\x00\x01\x00\x0C"}, {4097, "\x00\x02\x00\x10"}};
    for (const Depth& d : depths) {
        const std::vector<uint16_t> samples = {0, d.top};
        Kelvo_Image16BitGrey wide(Kelvo_Size(2, 1), const_cast<uint16_t*>(samples.data()));
        wide.write(file.c_str(), 0);
        const std::string written = testsupport::readFile(file);
        EXPECT_EQ(written.substr(28, 4), std::string(d.fields, 4)) << d.top;
        EXPECT_EQ(big32(written, 24), kG16);
        Kelvo_Image::Kelvo_ImageHeader header{};
        wide.setImageHeader(header);
        EXPECT_EQ(header.depth, d.top == 4096 ? 12 : 16);
    }
    // The buffer size counts bytes: 4 a float sample.
    const std::vector<float> f = {1.0f, 2.0f};
    Kelvo_Image8BitGreyFloat floats(Kelvo_Size(2, 1), const_cast<float*>(f.data()));
    floats.write(file.c_str(), 0);
    EXPECT_EQ(big32(testsupport::readFile(file), 20), 8u);
}

TEST_F(RawImageFile, HeaderlessPixelsReadByFormatSizeAndOffset) {
    ASSERT_TRUE(peerRan_);
    const std::string bytes = pixels("rgb");
    ImagePtr image = imageOf(kRGB, bytes);
    const std::string raw = path("raw.bin");
    image->write(raw.c_str(), 1);
    EXPECT_EQ(testsupport::readFile(raw), bytes);
    EXPECT_FALSE(Kelvo_Image::isValidFile(raw.c_str()));
    int32_t status = 0;
    EXPECT_EQ(Kelvo_Image::open(raw.c_str(), status), nullptr);
    EXPECT_EQ(status, 111);

    ImagePtr back(Kelvo_Image::createWithBinaryFile(raw.c_str(), Kelvo_OSType(kRGB), Kelvo_Size(13, 9), 0));
    ASSERT_TRUE(back);
    EXPECT_EQ(bytesOf(*back), bytes);

    // The pixels of a full file, after its header; the last row alone.
    const std::string full = path("full.mw1");
    image->write(full.c_str(), 0);
    ImagePtr skipped(
        Kelvo_Image::createWithBinaryFile(full.c_str(), Kelvo_OSType(kRGB), Kelvo_Size(13, 9), 40));
    ASSERT_TRUE(skipped);
    EXPECT_EQ(bytesOf(*skipped), bytes);
    ImagePtr row(
        Kelvo_Image::createWithBinaryFile(full.c_str(), Kelvo_OSType(kRGB), Kelvo_Size(13, 1), 40 + 8 * 39));
    ASSERT_TRUE(row);
    EXPECT_EQ(bytesOf(*row), bytes.substr(8 * 39));

    // Whatever does not fit the file, or names nothing, gives nothing.
    struct Bad {
        const char* what;
        const char* file;
        uint32_t format;
        Kelvo_Size size;
        int64_t offset;
    } bad[] = {{"a row beyond the end", "raw.bin", kRGB, Kelvo_Size(13, 10), 0},
               {"an offset beyond the end", "raw.bin", kRGB, Kelvo_Size(13, 9), 1},
               {"a negative offset", "raw.bin", kRGB, Kelvo_Size(1, 1), -1},
               {"a huge size", "raw.bin", kARGB, Kelvo_Size(30000, 30000), 0},
               {"an empty size", "raw.bin", kRGB, Kelvo_Size(0, 9), 0},
               {"an unknown format", "raw.bin", FOUR_CHAR_CODE("raw "), Kelvo_Size(1, 1), 0},
               {"no file", "missing.bin", kGrey, Kelvo_Size(1, 1), 0}};
    for (const Bad& b : bad)
        EXPECT_EQ(
            Kelvo_Image::createWithBinaryFile(path(b.file).c_str(), Kelvo_OSType(b.format), b.size, b.offset),
            nullptr)
            << b.what;
    EXPECT_EQ(Kelvo_Image::createWithBinaryFile(nullptr, Kelvo_OSType(kGrey), Kelvo_Size(1, 1), 0), nullptr);
}

TEST_F(RawImageFile, FirstVersionCodes) {
    // Version 1 numbered 8-bit grey 1 and float grey 2; from version 2 code 1 is monochrome.
    struct Code {
        uint32_t version, code;
        const char* cls;
    } codes[] = {{1, 1, "Kelvo_Image8BitGrey"},
                 {0, 2, "Kelvo_Image8BitGreyFloat"},
                 {2, 1, "Kelvo_Image8BitMonochrome"},
                 {1, 24, "Kelvo_ImageRGB"}};
    const std::vector<uint8_t> grey = {10, 20, 30, 40};
    Kelvo_Image8BitGrey source(Kelvo_Size(2, 2), const_cast<uint8_t*>(grey.data()));
    const std::string file = path("version.mw1");
    for (const Code& c : codes) {
        source.write(file.c_str(), 0);
        std::string bytes = testsupport::readFile(file);
        const uint32_t pixelBytes = Kelvo_Image::bytesPerPixelOf(c.code == 2 ? kFloat : c.code);
        bytes.resize(40 + 4 * pixelBytes, '\x01');
        putBig32(bytes, 4, c.version);
        putBig32(bytes, 20, 4 * pixelBytes);
        putBig32(bytes, 24, c.code);
        testsupport::writeFile(file, bytes);
        int32_t status = -1;
        ImagePtr image(Kelvo_Image::open(file.c_str(), status));
        ASSERT_TRUE(image) << c.cls << " " << status;
        EXPECT_STREQ(image->qtObjName(), c.cls);
        Kelvo_Image::Kelvo_ImageHeader header{};
        EXPECT_EQ(Kelvo_Image::readImageHeader(file.c_str(), nullptr, header), 0);
        EXPECT_EQ(header.pixelFormat, image->pixelFormat());
    }
}

TEST_F(RawImageFile, ShortAndLyingFilesAreRefused) {
    const std::vector<uint8_t> grey = {10, 20, 30, 40, 50, 60};
    Kelvo_Image8BitGrey source(Kelvo_Size(3, 2), const_cast<uint8_t*>(grey.data()));
    const std::string good = path("good.mw1");
    source.write(good.c_str(), 0);
    const std::string bytes = testsupport::readFile(good);
    ASSERT_EQ(bytes.size(), 46u);

    struct Bad {
        const char* what;
        std::string bytes;
        int32_t status;
    };
    auto with = [&bytes](size_t at, uint32_t v) {
        std::string s = bytes;
        putBig32(s, at, v);
        return s;
    };
    const Bad bad[] = {
        {"an empty file", "", 111},
        {"half a header", bytes.substr(0, 20), 111},
        {"a header without pixels", bytes.substr(0, 40), 111},
        {"one pixel short", bytes.substr(0, 45), 111},
        {"a taller image than the file holds", with(16, 1000), 111},
        {"a height of 2^31 with a matching size", with(16, 0x80000000u), 111},
        {"a zero width", with(12, 0), 111},
        {"a buffer size that disagrees", with(20, 7), 111},
        {"a wrong signature", "x" + bytes.substr(1), 111},
        {"a pixel format of no class", with(24, 8), 79},
    };
    for (const Bad& b : bad) {
        const std::string file = path("bad.mw1");
        testsupport::writeFile(file, b.bytes);
        int32_t status = 0;
        EXPECT_EQ(Kelvo_Image::open(file.c_str(), status), nullptr) << b.what;
        EXPECT_EQ(status, b.status) << b.what;
    }

    // Files that cannot be opened, and where nothing can be written.
    int32_t status = 0;
    EXPECT_EQ(Kelvo_Image::open(path("missing.mw1").c_str(), status), nullptr);
    EXPECT_EQ(status, 100);
    EXPECT_EQ(Kelvo_Image::open(nullptr, status), nullptr);
    EXPECT_EQ(status, -50);
    EXPECT_FALSE(Kelvo_Image::isValidFile(nullptr));
    EXPECT_FALSE(Kelvo_Image::isValidFile(path("missing.mw1").c_str()));
    Kelvo_Image::Kelvo_ImageHeader header{};
    FILE* stream = reinterpret_cast<FILE*>(&header);
    EXPECT_EQ(Kelvo_Image::readImageHeader(path("missing.mw1").c_str(), &stream, header), 100);
    EXPECT_EQ(stream, nullptr);

    source.write(path("no-such-folder/x.mw1").c_str(), 0);
    EXPECT_EQ(source.Error(), 101);
    source.write(nullptr, 0);
    EXPECT_EQ(source.Error(), -50);
    if (std::FILE* full = std::fopen("/dev/full", "wb")) {
        std::fclose(full);
        source.write("/dev/full", 0);
        EXPECT_EQ(source.Error(), 101);
    }
    Kelvo_Image8BitGrey empty;
    empty.write(path("empty.mw1").c_str(), 0);
    EXPECT_EQ(empty.Error(), 0);
    EXPECT_FALSE(std::filesystem::exists(path("empty.mw1")));

    // A good header leaves its stream just after itself.
    ASSERT_EQ(Kelvo_Image::readImageHeader(good.c_str(), &stream, header), 0);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(ftello(stream), 40);
    EXPECT_EQ(header.width, 3u);
    EXPECT_EQ(header.bufferSize, 6u);
    std::fclose(stream);
}

TEST_F(RawImageFile, PixelsFromAnOpenStream) {
    const std::vector<uint16_t> samples = {1, 2, 3, 40000, 5, 6};
    Kelvo_Image16BitGrey source(Kelvo_Size(3, 2), const_cast<uint16_t*>(samples.data()));
    const std::string file = path("stream.mw1");
    source.write(file.c_str(), 0);

    Kelvo_Image16BitGrey image;
    FILE* stream = std::fopen(file.c_str(), "rb");
    ASSERT_NE(stream, nullptr);
    int64_t position = 40;
    image.image(stream, 3, 2, &position, 0);
    EXPECT_EQ(image.Error(), 0);
    EXPECT_EQ(std::memcmp(image.buffer(), samples.data(), 12), 0);
    // The last row, read again from the same stream, which is then closed.
    position = 40 + 6;
    image.image(stream, 3, 1, &position, 1);
    EXPECT_EQ(image.Error(), 0);
    EXPECT_EQ(image.size(), Kelvo_Size(3, 1));
    EXPECT_EQ(static_cast<const uint16_t*>(image.buffer())[0], 40000);

    struct Bad {
        const char* what;
        uint32_t w, h;
        int64_t position;
        int32_t status;
    } bad[] = {{"no width", 0, 2, 40, -50},
               {"beyond 16 bits", 40000, 1, 40, -50},
               {"a negative position", 3, 2, -1, -50},
               {"more than the file holds", 3, 3, 40, 111},
               {"a position past the end", 1, 1, 100, 111}};
    for (const Bad& b : bad) {
        stream = std::fopen(file.c_str(), "rb");
        ASSERT_NE(stream, nullptr);
        int64_t at = b.position;
        image.image(stream, b.w, b.h, &at, 1);
        EXPECT_EQ(image.Error(), b.status) << b.what;
        EXPECT_FALSE(image.qtObjIsValid()) << b.what;
    }
    image.image(static_cast<FILE*>(nullptr), 3, 2, &position, 1);
    EXPECT_EQ(image.Error(), -50);
}

} // namespace
