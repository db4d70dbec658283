// The BMP engine against Python PIL: files PIL writes (1, 8, 24 and 32 bits) and files written
// by hand where PIL writes none (4 bits, RLE8 and RLE4, top-down, 16-bit 5-5-5 and 5-6-5, bit
// fields with alpha in V4 and V5 headers, the OS/2 core header) decode to PIL's view of them;
// files we write read back in PIL as the picture we wrote. Truncated, corrupt and absurd files
// give statuses.
#include "PlatformCodecEnginesInternal.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

using namespace platform::codec;

namespace {

// `fixtures DIR` writes the fixtures and PIL's view of each; `view FILE` prints PIL's view of
// one file: a line "width height components bits" and the samples. A palette of greys is seen
// as grey, as our reader does.
const char* kPeer = R"PY(
import os, struct, sys
import numpy as np
from PIL import Image

def view(path):
    im = Image.open(path)
    im.load()
    if im.mode == 'P':
        pal = im.getpalette()
        grey = all(pal[i] == pal[i + 1] == pal[i + 2] for i in range(0, len(pal), 3))
        im = im.convert('L' if grey else 'RGB')
    elif im.mode == '1':
        im = im.convert('L')
    a = np.asarray(im)
    if a.ndim == 2:
        a = a[:, :, None]
    h, w, c = a.shape
    return b'%d %d %d 8\n' % (w, h, c) + a.tobytes()

def bmp(path, w, h, bits, rows=None, data=None, palette=None, header=40, compression=0, masks=None,
        topdown=False, colours=None):
    if data is None:
        stride = (w * bits + 31) // 32 * 4
        data = b''.join(r + b'\0' * (stride - len(r)) for r in rows)
    entry = 3 if header == 12 else 4
    pal = b''.join(bytes([b, g, r]) + b'\0' * (entry - 3) for r, g, b in (palette or []))
    if header == 12:
        ih = struct.pack('<IHHHH', 12, w, h, 1, bits)
    else:
        used = len(palette) if colours is None and palette else (colours or 0)
        ih = struct.pack('<IiiHHIIiiII', header, w, -h if topdown else h, 1, bits, compression, len(data),
                         2835, 2835, used, 0)
        m = list(masks or [0, 0, 0, 0])
        if header >= 56:
            ih += struct.pack('<IIII', *m)
        ih += b'\0' * (header - len(ih))
        if header == 40 and masks:
            ih += struct.pack('<III', *m[:3])
    off = 14 + len(ih) + len(pal)
    open(path, 'wb').write(b'BM' + struct.pack('<IHHI', off + len(data), 0, 0, off) + ih + pal + data)

def nibbles(vals):
    vals = list(vals) + [0] * (len(vals) % 2)
    return bytes((vals[i] << 4) | vals[i + 1] for i in range(0, len(vals), 2))

def fixtures(out):
    rng = np.random.default_rng(11)
    p = lambda name: os.path.join(out, name + '.bmp')
    pal = [tuple(int(v) for v in c) for c in rng.integers(0, 256, (256, 3))]

    Image.fromarray(rng.integers(0, 2, (9, 13)).astype(bool)).save(p('pil-1bit'))
    Image.fromarray(rng.integers(0, 256, (7, 11), dtype=np.uint8), 'L').save(p('pil-grey'))
    im = Image.fromarray(rng.integers(0, 256, (7, 11), dtype=np.uint8), 'P')
    im.putpalette(bytes(v for c in pal for v in c))
    im.save(p('pil-palette'))
    Image.fromarray(rng.integers(0, 256, (5, 13, 3), dtype=np.uint8), 'RGB').save(p('pil-rgb'))
    Image.fromarray(rng.integers(0, 256, (6, 9, 4), dtype=np.uint8), 'RGBA').save(p('pil-rgba32'))

    idx = rng.integers(0, 16, (3, 5))
    bmp(p('hand-4bit'), 5, 3, 4, [nibbles(r) for r in idx], palette=pal[:16])
    bmp(p('hand-4bit-6-colours'), 5, 3, 4, [nibbles(r % 6) for r in idx], palette=pal[:6])
    bmp(p('hand-8bit-reversed-greys'), 6, 2, 8, [bytes(range(0, 60, 10)), bytes(range(250, 190, -10))],
        palette=[(255 - i,) * 3 for i in range(256)])
    bmp(p('hand-8bit-top-down'), 6, 3, 8, [bytes(rng.integers(0, 256, 6, dtype=np.uint8)) for _ in range(3)],
        palette=pal, topdown=True)
    bmp(p('hand-24bit-top-down'), 5, 4, 24, [bytes(rng.integers(0, 256, 15, dtype=np.uint8)) for _ in range(4)],
        topdown=True)
    words = lambda n, mask: [struct.pack('<%dH' % n, *[int(v) & mask for v in rng.integers(0, 65536, n)])
                             for _ in range(3)]
    bmp(p('hand-16bit-555'), 5, 3, 16, words(5, 0xFFFF))
    bmp(p('hand-16bit-565'), 5, 3, 16, words(5, 0xFFFF), compression=3, masks=[0xF800, 0x7E0, 0x1F, 0])
    quads = [bytes(rng.integers(0, 256, 16, dtype=np.uint8)) for _ in range(3)]
    bmp(p('hand-32bit-v4-bgra'), 4, 3, 32, quads, header=108, compression=3,
        masks=[0xFF0000, 0xFF00, 0xFF, 0xFF000000])
    bmp(p('hand-32bit-v5-rgba'), 4, 3, 32, quads, header=124, compression=3,
        masks=[0xFF, 0xFF00, 0xFF0000, 0xFF000000])
    bmp(p('hand-32bit-v5-no-alpha'), 4, 3, 32, quads, header=124, compression=3,
        masks=[0xFF0000, 0xFF00, 0xFF, 0])
    bmp(p('hand-32bit-v4-uncompressed'), 4, 3, 32, quads, header=108, compression=0,
        masks=[0xFF0000, 0xFF00, 0xFF, 0xFF000000])
    bmp(p('hand-core-8bit'), 5, 2, 8, [bytes(rng.integers(0, 256, 5, dtype=np.uint8)) for _ in range(2)],
        palette=pal, header=12)
    bmp(p('hand-core-24bit'), 3, 2, 24, [bytes(rng.integers(0, 256, 9, dtype=np.uint8)) for _ in range(2)],
        header=12)
    # Runs (one clipped at the row's end), a literal of odd length (padded), end of line, a
    # literal of even length, end of bitmap. Deltas and empty rows are in
    # the hand-worked cases: PIL misreads them, and refuses
    # a stream that leaves pixels unset.
    rle8 = bytes([3, 10, 0, 3, 1, 2, 3, 0, 1, 20, 0, 0, 2, 5, 0, 0, 7, 33, 0, 0, 5, 0, 4, 9, 0, 0,
                  0, 4, 11, 12, 13, 14, 3, 0, 0, 1])
    bmp(p('hand-rle8'), 7, 5, 8, data=rle8, palette=pal, compression=1)
    rle4 = bytes([6, 0x12, 0, 0, 0, 4, 0x34, 0x56, 2, 0x78, 0, 0, 3, 0x9A, 0, 0, 0, 1])
    bmp(p('hand-rle4'), 6, 3, 4, data=rle4, palette=pal[:16], compression=2)

    for name in sorted(os.listdir(out)):
        if name.endswith('.bmp'):
            open(os.path.join(out, name[:-4] + '.view'), 'wb').write(view(os.path.join(out, name)))

if sys.argv[1] == 'fixtures':
    fixtures(sys.argv[2])
else:
    sys.stdout.buffer.write(view(sys.argv[2]))
)PY";

// A folder of this test process's own: ctest runs every test in a process of its own, side by
// side, so fixtures shared between processes would be rebuilt under another's feet.
testsupport::ScratchDir& scratch() {
    static testsupport::ScratchDir dir("codec-bmp-fixtures");
    return dir;
}

std::string peerScript() {
    static const std::string path = [] {
        std::string p = scratch().file("peer.py");
        testsupport::writeFile(p, kPeer);
        return p;
    }();
    return path;
}

std::string fixtureFolder() {
    static const std::string folder = [] {
        std::string dir = scratch().file("files");
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        int status = -1;
        const std::string said =
            testsupport::run("/usr/bin/python3 " + peerScript() + " fixtures " + dir + " 2>&1", &status);
        if (status != 0) ADD_FAILURE() << said;
        return status == 0 ? dir : std::string();
    }();
    return folder;
}

struct View {
    int width = 0, height = 0, components = 0, bits = 0;
    std::string samples;
};

bool parseView(const std::string& text, View& v) {
    const size_t eol = text.find('\n');
    if (eol == std::string::npos) return false;
    std::istringstream head(text.substr(0, eol));
    if (!(head >> v.width >> v.height >> v.components >> v.bits)) return false;
    v.samples = text.substr(eol + 1);
    return v.samples.size() == size_t(v.width) * v.height * v.components;
}

// PIL scales 5- and 6-bit fields down (v * 255 / 31); we round: `tolerance` allows for that.
void expectSameAsView(const Picture& got, const View& view, int tolerance, const std::string& name) {
    ASSERT_EQ(got.width, view.width) << name;
    ASSERT_EQ(got.height, view.height) << name;
    ASSERT_EQ(got.components, view.components) << name;
    ASSERT_EQ(got.bitsPerSample, 8) << name;
    ASSERT_EQ(got.samples.size(), view.samples.size()) << name;
    size_t differing = 0;
    for (size_t i = 0; i < view.samples.size(); ++i)
        differing += std::abs(int(got.samples[i]) - int(uint8_t(view.samples[i]))) > tolerance;
    EXPECT_EQ(differing, 0u) << name;
}

std::vector<uint8_t> bytesOf(const std::string& s) {
    return {s.begin(), s.end()};
}

Picture makePicture(int32_t w, int32_t h, int32_t comps, uint32_t seed) {
    Picture p;
    p.width = w;
    p.height = h;
    p.components = comps;
    p.samples.resize(p.rowBytes() * size_t(h));
    for (uint8_t& b : p.samples) {
        seed = seed * 1664525u + 1013904223u;
        b = uint8_t(seed >> 24);
    }
    return p;
}

void put32(std::vector<uint8_t>& f, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        f[at + i] = uint8_t(v >> (8 * i));
}
void put16(std::vector<uint8_t>& f, size_t at, uint16_t v) {
    f[at] = uint8_t(v), f[at + 1] = uint8_t(v >> 8);
}

// A BMP with a 40-byte header, a palette of `greys` entries i -> (i, i, i) and the given pixel
// bytes (biSizeImage says how many).
std::vector<uint8_t> handMade(int32_t w, int32_t h, uint16_t bits, uint32_t compression, uint32_t greys,
                              const std::vector<uint8_t>& pixels, uint32_t imageSize) {
    const size_t off = 14 + 40 + 4 * size_t(greys);
    std::vector<uint8_t> f(off, 0);
    f[0] = 'B', f[1] = 'M';
    put32(f, 2, uint32_t(off + pixels.size()));
    put32(f, 10, uint32_t(off));
    put32(f, 14, 40);
    put32(f, 18, uint32_t(w));
    put32(f, 22, uint32_t(h));
    put16(f, 26, 1);
    put16(f, 28, bits);
    put32(f, 30, compression);
    put32(f, 34, imageSize);
    put32(f, 46, greys);
    for (uint32_t i = 0; i < greys; ++i)
        f[54 + 4 * i] = f[55 + 4 * i] = f[56 + 4 * i] = uint8_t(i);
    f.insert(f.end(), pixels.begin(), pixels.end());
    return f;
}

std::vector<uint8_t> encoded(int32_t w, int32_t h, int32_t comps) {
    std::vector<uint8_t> out;
    EXPECT_EQ(detail::encodeBMP(makePicture(w, h, comps, 5), EncodeOptions{}, out), noErr);
    return out;
}

} // namespace

TEST(CodecBMP, DecodesWhatPILAndHandsWriteAsPILSeesIt) {
    const std::string dir = fixtureFolder();
    ASSERT_FALSE(dir.empty()) << "the PIL peer could not write the fixtures";
    struct Case {
        const char* name;
        int components;
        int tolerance;
    } cases[] = {
        {"pil-1bit", 1, 0},
        {"pil-grey", 1, 0},
        {"pil-palette", 3, 0},
        {"pil-rgb", 3, 0},
        {"pil-rgba32", 3, 0}, // uncompressed 32 bits: the fourth byte is not alpha
        {"hand-4bit", 3, 0},
        {"hand-4bit-6-colours", 3, 0},
        {"hand-8bit-reversed-greys", 1, 0},
        {"hand-8bit-top-down", 3, 0},
        {"hand-24bit-top-down", 3, 0},
        {"hand-16bit-555", 3, 1},
        {"hand-16bit-565", 3, 1},
        {"hand-32bit-v4-bgra", 4, 0},
        {"hand-32bit-v5-rgba", 4, 0},
        {"hand-32bit-v5-no-alpha", 3, 0},
        {"hand-32bit-v4-uncompressed", 3, 0},
        {"hand-core-8bit", 3, 0},
        {"hand-core-24bit", 3, 0},
        {"hand-rle8", 3, 0},
        {"hand-rle4", 3, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> file = bytesOf(testsupport::readFile(dir + "/" + c.name + ".bmp"));
        ASSERT_FALSE(file.empty());
        View view;
        ASSERT_TRUE(parseView(testsupport::readFile(dir + "/" + c.name + ".view"), view));
        Picture got;
        ASSERT_EQ(detail::decodeBMP(file.data(), file.size(), got), noErr);
        EXPECT_TRUE(got.isConsistent());
        EXPECT_EQ(got.components, c.components);
        expectSameAsView(got, view, c.tolerance, c.name);

        Picture layout;
        ASSERT_EQ(detail::inspectBMP(file.data(), file.size(), layout), noErr);
        EXPECT_EQ(layout.width, got.width);
        EXPECT_EQ(layout.height, got.height);
        EXPECT_EQ(layout.components, got.components);
        EXPECT_EQ(layout.bitsPerSample, 8);
        EXPECT_TRUE(layout.samples.empty());
    }
}

// 5-bit fields are scaled to 8 bits rounded: 16 -> 131.6 -> 132 (PIL truncates to 131).
TEST(CodecBMP, FieldsScaleRounded) {
    std::vector<uint8_t> pixels = {0x10, 0x42, 0x1F, 0x00}; // 0x4210: 16, 16, 16; 0x001F: blue 31
    std::vector<uint8_t> f = handMade(2, 1, 16, 0, 0, pixels, 4);
    Picture got;
    ASSERT_EQ(detail::decodeBMP(f.data(), f.size(), got), noErr);
    EXPECT_EQ(got.samples, (std::vector<uint8_t>{132, 132, 132, 0, 0, 255}));
}

TEST(CodecBMP, WhatWeWritePILReadsBackAndSoDoWe) {
    testsupport::ScratchDir scratch("codec-bmp");
    struct Shape {
        int32_t w, h, comps;
        uint16_t bits;   // what the file holds
        uint32_t header; // its header size
    } shapes[] = {
        {7, 5, 1, 8, 40},   {5, 3, 3, 24, 40}, {6, 4, 3, 24, 40},
        {9, 4, 4, 32, 108}, {1, 1, 1, 8, 40},  {300, 2, 3, 24, 40},
    };
    for (const Shape& s : shapes) {
        const std::string name =
            std::to_string(s.w) + "x" + std::to_string(s.h) + "x" + std::to_string(s.comps);
        SCOPED_TRACE(name);
        const Picture in = makePicture(s.w, s.h, s.comps, uint32_t(s.w * 7 + s.comps));
        std::vector<uint8_t> bmp;
        ASSERT_EQ(detail::encodeBMP(in, EncodeOptions{}, bmp), noErr);
        ASSERT_GE(bmp.size(), 54u);
        EXPECT_EQ(bmp[28], s.bits);
        EXPECT_EQ(bmp[14], s.header);
        EXPECT_EQ(bmp[22], s.h); // bottom-up
        Picture back;
        ASSERT_EQ(detail::decodeBMP(bmp.data(), bmp.size(), back), noErr);
        EXPECT_EQ(back.components, in.components);
        EXPECT_TRUE(back.samples == in.samples);
        const std::string file = scratch.file(name + ".bmp");
        testsupport::writeFile(file, std::string(bmp.begin(), bmp.end()));
        int status = -1;
        View view;
        ASSERT_TRUE(
            parseView(testsupport::run("/usr/bin/python3 " + peerScript() + " view " + file, &status), view));
        EXPECT_EQ(status, 0);
        expectSameAsView(in, view, 0, name);
    }
}

TEST(CodecBMP, EncodingRefusesOtherShapes) {
    Picture greyAlpha = makePicture(2, 2, 2, 1);
    Picture sixteen = makePicture(2, 2, 3, 1);
    sixteen.bitsPerSample = sixteen.precision = 16;
    sixteen.samples.resize(sixteen.rowBytes() * 2);
    Picture shortSamples = makePicture(2, 2, 3, 1);
    shortSamples.samples.pop_back();
    for (const Picture* p : {&greyAlpha, &sixteen, &shortSamples}) {
        std::vector<uint8_t> out = {1};
        EXPECT_EQ(detail::encodeBMP(*p, EncodeOptions{}, out), paramErr);
        EXPECT_TRUE(out.empty());
    }
}

// Run-length streams worked by hand over a grey palette of 16 entries (index i is grey i).
TEST(CodecBMP, RunLengthCodes) {
    struct Case {
        const char* name;
        int32_t w, h;
        bool rle4;
        std::vector<uint8_t> codes;
        OSErr status;
        std::vector<uint8_t> picture; // top row first
    } cases[] = {
        {"run clipped at the row's end", 3, 2, false, {5, 7, 0, 0, 1, 2, 0, 1}, noErr, {2, 0, 0, 7, 7, 7}},
        {"index beyond the palette is black", 2, 1, false, {2, 200, 0, 1}, noErr, {0, 0}},
        {"odd literal padded", 3, 2, false, {0, 3, 1, 2, 3, 0, 0, 0, 1, 4, 0, 1}, noErr, {4, 0, 0, 1, 2, 3}},
        {"delta beyond the picture", 2, 2, false, {1, 5, 0, 2, 9, 9, 1, 6, 0, 1}, noErr, {0, 0, 5, 0}},
        {"rows done without end of bitmap", 2, 2, false, {2, 1, 0, 0, 2, 2, 0, 0}, noErr, {2, 2, 1, 1}},
        {"rle4 runs alternate nibbles", 5, 1, true, {5, 0x3A, 0, 1}, noErr, {3, 10, 3, 10, 3}},
        {"rle4 odd literal", 3, 1, true, {0, 3, 0x12, 0x30, 0, 1}, noErr, {1, 2, 3}},
        {"ends inside a row", 2, 2, false, {2, 1, 0, 0, 1, 2}, codecBadDataErr, {}},
        {"ends inside a delta", 2, 2, false, {0, 2, 1}, codecBadDataErr, {}},
        {"literal beyond the data", 4, 1, false, {0, 4, 1, 2}, codecBadDataErr, {}},
        {"rle4 literal beyond the data", 4, 1, true, {0, 4, 0x12}, codecBadDataErr, {}},
    };
    for (const Case& c : cases) {
        for (bool sized : {true, false}) {
            const std::vector<uint8_t> f = handMade(c.w, c.h, c.rle4 ? 4 : 8, c.rle4 ? 2 : 1, 16, c.codes,
                                                    sized ? uint32_t(c.codes.size()) : 0);
            Picture got;
            EXPECT_EQ(detail::decodeBMP(f.data(), f.size(), got), c.status) << c.name;
            if (c.status == noErr) {
                EXPECT_EQ(got.components, 1) << c.name;
                EXPECT_EQ(got.samples, c.picture) << c.name;
            }
        }
    }
    // The declared size bounds the stream: codes after it are not read.
    std::vector<uint8_t> f = handMade(2, 1, 8, 1, 16, {2, 3, 0, 1}, 2);
    Picture got;
    ASSERT_EQ(detail::decodeBMP(f.data(), f.size(), got), codecBadDataErr);
}

TEST(CodecBMP, EveryTruncationIsBadData) {
    const std::string dir = fixtureFolder();
    ASSERT_FALSE(dir.empty());
    struct Source {
        const char* name;
        std::vector<uint8_t> file;
        size_t padding; // of the last row, which may be missing
    } sources[] = {
        {"grey 4x3", encoded(4, 3, 1), 0},
        {"rgb 4x3", encoded(4, 3, 3), 0},
        {"rgba 3x2", encoded(3, 2, 4), 0},
        {"rle8", bytesOf(testsupport::readFile(dir + "/hand-rle8.bmp")), 0},
        {"rle4", bytesOf(testsupport::readFile(dir + "/hand-rle4.bmp")), 0},
        {"16-bit bit fields", bytesOf(testsupport::readFile(dir + "/hand-16bit-565.bmp")), 2},
        {"core header", bytesOf(testsupport::readFile(dir + "/hand-core-8bit.bmp")), 3},
    };
    for (const Source& s : sources) {
        ASSERT_FALSE(s.file.empty()) << s.name;
        for (size_t cut = 0; cut < s.file.size(); ++cut) {
            Picture got;
            got.width = 1;
            const OSErr want = cut + s.padding >= s.file.size() ? noErr : codecBadDataErr;
            EXPECT_EQ(detail::decodeBMP(s.file.data(), cut, got), want) << s.name << " cut at " << cut;
            EXPECT_EQ(got.width == 0 && got.samples.empty(), want != noErr);
        }
    }
    Picture got;
    EXPECT_EQ(detail::decodeBMP(nullptr, 100, got), codecBadDataErr);
}

TEST(CodecBMP, CorruptAndAbsurdHeadersGiveStatuses) {
    const std::vector<uint8_t> rgb = encoded(4, 30, 3); // 414 bytes: pixels at 54
    struct Case {
        const char* name;
        size_t at;
        int width; // 2 or 4 bytes
        uint32_t value;
        OSErr status;
        size_t at2 = 0; // a second field of 4 bytes, when not 0
        uint32_t value2 = 0;
    } cases[] = {
        {"signature", 0, 2, 0x4D42 ^ 0x0100, codecBadDataErr},
        {"pixel offset huge", 10, 4, 0xFFFFFFF0u, codecBadDataErr},
        {"pixel offset near the end", 10, 4, 400, codecBadDataErr},
        {"no pixel offset", 10, 4, 0, noErr},
        {"header size huge", 14, 4, 0xFFFFFFFFu, codecBadDataErr},
        {"header size 8", 14, 4, 8, codecBadDataErr},
        {"header size 100", 14, 4, 100, codecUnimpErr},
        {"width negative", 18, 4, uint32_t(-4), codecBadDataErr},
        {"width 0", 18, 4, 0, codecBadDataErr},
        {"width 65536", 18, 4, 65536, codecSizeErr},
        {"width 2^31-1", 18, 4, 0x7FFFFFFFu, codecSizeErr},
        {"height 0", 22, 4, 0, codecBadDataErr},
        {"height most negative", 22, 4, 0x80000000u, codecSizeErr},
        {"height beyond the data", 22, 4, 10000, codecBadDataErr},
        {"20000 square RGB", 18, 4, 20000, codecSizeErr, 22, 20000},
        {"10000 square RGB in 360 bytes", 18, 4, 10000, codecBadDataErr, 22, 10000},
        {"bits 0", 28, 2, 0, codecBadDataErr},
        {"bits 7", 28, 2, 7, codecBadDataErr},
        {"bits 64", 28, 2, 64, codecBadDataErr},
        {"bits 2", 28, 2, 2, codecUnimpErr},
        {"RLE8 at 24 bits", 30, 4, 1, codecBadDataErr},
        {"RLE4 at 24 bits", 30, 4, 2, codecBadDataErr},
        {"JPEG inside", 30, 4, 4, codecUnimpErr},
        {"PNG inside", 30, 4, 5, codecUnimpErr},
        {"compression 9", 30, 4, 9, codecBadDataErr},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> f = rgb;
        if (c.width == 2)
            put16(f, c.at, uint16_t(c.value));
        else
            put32(f, c.at, c.value);
        if (c.at2) put32(f, c.at2, c.value2);
        Picture got;
        EXPECT_EQ(detail::decodeBMP(f.data(), f.size(), got), c.status) << c.name;
        EXPECT_EQ(got.samples.empty(), c.status != noErr) << c.name;
        Picture layout;
        EXPECT_EQ(detail::inspectBMP(f.data(), f.size(), layout), c.status) << c.name;
    }

    // Bit fields: each mask contiguous, colour masks present.
    struct Masks {
        const char* name;
        uint32_t r, g, b;
        OSErr status;
    } masks[] = {
        {"5-6-5", 0xF800, 0x07E0, 0x001F, noErr},
        {"4-4-4 high", 0xF000, 0x0F00, 0x00F0, noErr},
        {"zero red", 0, 0x07E0, 0x001F, codecBadDataErr},
        {"gap in green", 0xF800, 0x0660, 0x001F, codecBadDataErr},
        {"only beyond 16 bits", 0xF8000000u, 0x07E0, 0x001F, codecBadDataErr},
    };
    for (const Masks& m : masks) {
        // Three masks, then one pixel row; built in place so the buffer never grows.
        std::vector<uint8_t> pixels(16, 0xFF);
        put32(pixels, 0, m.r), put32(pixels, 4, m.g), put32(pixels, 8, m.b);
        std::vector<uint8_t> f = handMade(2, 1, 16, 3, 0, pixels, 4);
        put32(f, 10, 14 + 40 + 12);
        Picture got;
        EXPECT_EQ(detail::decodeBMP(f.data(), f.size(), got), m.status) << m.name;
        if (m.status == noErr) {
            EXPECT_EQ(got.samples, (std::vector<uint8_t>(6, 255))) << m.name;
        }
    }

    // A palette announcing more entries than the depth addresses reads only those; one that the
    // file cannot hold is refused.
    std::vector<uint8_t> many = handMade(2, 1, 1, 0, 2, {0x40, 0, 0, 0}, 4);
    put32(many, 46, 1000);
    Picture got;
    ASSERT_EQ(detail::decodeBMP(many.data(), many.size(), got), noErr);
    EXPECT_EQ(got.samples, (std::vector<uint8_t>{0, 1}));
    std::vector<uint8_t> shortPalette = handMade(2, 1, 8, 0, 2, {1, 0, 0, 0}, 4);
    put32(shortPalette, 46, 256);
    EXPECT_EQ(detail::decodeBMP(shortPalette.data(), shortPalette.size(), got), codecBadDataErr);
    // RLE data announced beyond the file.
    std::vector<uint8_t> rle = handMade(2, 1, 8, 1, 16, {2, 1, 0, 1}, 0x7FFFFFF0);
    EXPECT_EQ(detail::decodeBMP(rle.data(), rle.size(), got), codecBadDataErr);
}
