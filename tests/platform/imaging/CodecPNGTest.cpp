// The PNG engine against Python PIL: files PIL writes (and small ones written by hand where PIL
// writes no such file: grey below 8 bits, 16-bit colour, interlaced) decode to PIL's view of
// them; files we write read back in PIL as the picture we wrote. Truncated, corrupt and absurd
// streams give statuses.
#include "PlatformCodecEnginesInternal.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

using namespace platform::codec;

namespace {

// Writes the fixtures into a folder (`fixtures DIR`) or prints PIL's view of one file
// (`view FILE`): a line "width height components bits" and the samples, interleaved, in host
// order. A tRNS colour becomes an alpha channel and palettes are expanded, as libpng does.
const char* kPeer = R"PY(
import os, struct, sys, zlib
import numpy as np
from PIL import Image

def view(path):
    im = Image.open(path)
    im.load()
    t = im.info.get('transparency')
    if im.mode == 'P':
        a = np.asarray(im.convert('RGBA' if t is not None else 'RGB'))
    elif im.mode == '1':
        a = np.asarray(im.convert('L'))
    elif im.mode.startswith('I'):
        v = np.asarray(im).astype(np.uint16)
        a = v if t is None else np.dstack([v, np.where(v == t, 0, 65535).astype(np.uint16)])
    elif im.mode == 'L' and t is not None:
        v = np.asarray(im)
        a = np.dstack([v, np.where(v == t, 0, 255).astype(np.uint8)])
    elif im.mode == 'RGB' and t is not None:
        v = np.asarray(im)
        a = np.dstack([v, np.where((v == np.array(t, np.uint8)).all(axis=2), 0, 255).astype(np.uint8)])
    else:
        a = np.asarray(im)
    if a.ndim == 2:
        a = a[:, :, None]
    h, w, c = a.shape
    n = a.dtype.itemsize
    return b'%d %d %d %d\n' % (w, h, c, n * 8) + a.astype('=u%d' % n).tobytes()

def chunk(t, d):
    return struct.pack('>I', len(d)) + t + d + struct.pack('>I', zlib.crc32(t + d) & 0xffffffff)

def rows_of(a):
    if a.dtype == np.uint16:
        a = a.astype('>u2')
    return [r.tobytes() for r in a]

def packed(a, depth):
    per = 8 // depth
    rows = []
    for r in a:
        vals = [int(v) for v in r] + [0] * ((-len(r)) % per)
        out = bytearray()
        for i in range(0, len(vals), per):
            b = 0
            for v in vals[i:i + per]:
                b = (b << depth) | v
            out.append(b)
        rows.append(bytes(out))
    return rows

ADAM7 = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]

def interlaced(a):
    rows = []
    for xs, ys, dx, dy in ADAM7:
        sub = a[ys::dy, xs::dx]
        if sub.shape[0] and sub.shape[1]:
            rows += rows_of(sub)
    return rows

def fixtures(out):
    rng = np.random.default_rng(7)
    def save(name, im, **kw):
        im.save(os.path.join(out, name + '.png'), **kw)
    def hand(name, w, h, depth, colour, rows, interlace=0, extra=b''):
        raw = b''.join(b'\0' + r for r in rows)
        ihdr = struct.pack('>IIBBBBB', w, h, depth, colour, 0, 0, interlace)
        data = (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', ihdr) + extra + chunk(b'IDAT', zlib.compress(raw)) +
                chunk(b'IEND', b''))
        open(os.path.join(out, name + '.png'), 'wb').write(data)

    pal = rng.integers(0, 256, (256, 3), dtype=np.uint8)
    idx = rng.integers(0, 256, (7, 13), dtype=np.uint8)
    p8 = Image.fromarray(idx, 'P')
    p8.putpalette(pal.tobytes())
    save('pil-palette8', p8)
    save('pil-palette8-trns', p8, transparency=bytes(range(0, 180, 3)))
    for bits in (1, 2, 4):
        im = Image.fromarray((idx % (1 << bits)).astype(np.uint8), 'P')
        im.putpalette(pal[:1 << bits].tobytes())
        save('pil-palette%d' % bits, im, bits=bits)
    g = rng.integers(0, 256, (9, 11), dtype=np.uint8)
    save('pil-grey8', Image.fromarray(g, 'L'))
    save('pil-grey8-trns', Image.fromarray(g, 'L'), transparency=int(g[2, 3]))
    save('pil-grey1', Image.fromarray(g > 127))
    save('pil-grey16', Image.fromarray(rng.integers(0, 65536, (9, 11), dtype=np.uint16)))
    save('pil-grey-alpha', Image.fromarray(rng.integers(0, 256, (9, 11, 2), dtype=np.uint8), 'LA'))
    rgb = rng.integers(0, 256, (10, 17, 3), dtype=np.uint8)
    save('pil-rgb', Image.fromarray(rgb, 'RGB'))
    save('pil-rgb-trns', Image.fromarray(rgb, 'RGB'), transparency=tuple(int(v) for v in rgb[4, 5]))
    save('pil-rgba', Image.fromarray(rng.integers(0, 256, (10, 17, 4), dtype=np.uint8), 'RGBA'))
    save('pil-line', Image.fromarray(rng.integers(0, 256, (1, 301, 3), dtype=np.uint8), 'RGB'))

    hand('hand-grey2', 11, 5, 2, 0, packed(g[:5] % 4, 2))
    hand('hand-grey4', 11, 5, 4, 0, packed(g[:5] % 16, 4))
    g16 = rng.integers(0, 65536, (3, 5), dtype=np.uint16)
    hand('hand-grey16-trns', 5, 3, 16, 0, rows_of(g16), extra=chunk(b'tRNS', struct.pack('>H', int(g16[1, 2]))))
    hand('hand-rgb16', 7, 5, 16, 2, rows_of(rng.integers(0, 65536, (5, 7, 3), dtype=np.uint16)))
    hand('hand-rgba16', 7, 5, 16, 6, rows_of(rng.integers(0, 65536, (5, 7, 4), dtype=np.uint16)))
    hand('hand-interlaced-rgb', 13, 11, 8, 2, interlaced(rng.integers(0, 256, (11, 13, 3), dtype=np.uint8)), 1)
    hand('hand-interlaced-grey16', 13, 11, 16, 0, interlaced(rng.integers(0, 65536, (11, 13), dtype=np.uint16)), 1)
    hand('hand-interlaced-palette', 9, 10, 8, 3, interlaced(rng.integers(0, 256, (10, 9), dtype=np.uint8)), 1,
         chunk(b'PLTE', pal.tobytes()))
    hand('hand-interlaced-1x1', 1, 1, 8, 0, interlaced(np.array([[77]], dtype=np.uint8)), 1)
    hand('hand-interlaced-3x2', 3, 2, 8, 4, interlaced(rng.integers(0, 256, (2, 3, 2), dtype=np.uint8)), 1)

    for name in sorted(os.listdir(out)):
        if name.endswith('.png'):
            open(os.path.join(out, name[:-4] + '.view'), 'wb').write(view(os.path.join(out, name)))

if sys.argv[1] == 'fixtures':
    fixtures(sys.argv[2])
else:
    sys.stdout.buffer.write(view(sys.argv[2]))
)PY";

// A folder of this test process's own: ctest runs every test in a process of its own, side by
// side, so fixtures shared between processes would be rebuilt under another's feet.
testsupport::ScratchDir& scratch() {
    static testsupport::ScratchDir dir("codec-png-fixtures");
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

// The fixture folder, made once a run.
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
    return v.samples.size() == size_t(v.width) * v.height * v.components * (v.bits / 8);
}

View pilView(const std::string& file) {
    View v;
    int status = -1;
    const std::string text = testsupport::run("/usr/bin/python3 " + peerScript() + " view " + file, &status);
    EXPECT_EQ(status, 0) << file;
    EXPECT_TRUE(parseView(text, v)) << file;
    return v;
}

// Our picture against PIL's view. PIL reads 16-bit colour as 8 bits (the high bytes): then the
// high bytes are compared.
void expectSameAsView(const Picture& got, const View& view, const std::string& name) {
    ASSERT_EQ(got.width, view.width) << name;
    ASSERT_EQ(got.height, view.height) << name;
    ASSERT_EQ(got.components, view.components) << name;
    if (got.bitsPerSample == view.bits) {
        EXPECT_TRUE(std::memcmp(got.samples.data(), view.samples.data(), view.samples.size()) == 0 &&
                    got.samples.size() == view.samples.size())
            << name;
        return;
    }
    ASSERT_EQ(got.bitsPerSample, 16) << name;
    ASSERT_EQ(view.bits, 8) << name;
    size_t differing = 0;
    for (size_t i = 0; i < view.samples.size(); ++i) {
        uint16_t s;
        std::memcpy(&s, &got.samples[2 * i], 2);
        differing += uint8_t(s >> 8) != uint8_t(view.samples[i]);
    }
    EXPECT_EQ(differing, 0u) << name;
}

std::vector<uint8_t> bytesOf(const std::string& s) {
    return {s.begin(), s.end()};
}

Picture makePicture(int32_t w, int32_t h, int32_t comps, int32_t bits, uint32_t seed) {
    Picture p;
    p.width = w;
    p.height = h;
    p.components = comps;
    p.bitsPerSample = p.precision = bits;
    p.samples.resize(p.rowBytes() * size_t(h));
    for (uint8_t& b : p.samples) {
        seed = seed * 1664525u + 1013904223u;
        b = uint8_t(seed >> 24);
    }
    return p;
}

uint32_t crc32(const uint8_t* p, size_t n) {
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) {
        c ^= p[i];
        for (int k = 0; k < 8; ++k)
            c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
    }
    return ~c;
}

void storeBE32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24), p[1] = uint8_t(v >> 16), p[2] = uint8_t(v >> 8), p[3] = uint8_t(v);
}

// Recomputes the CRC of the chunk at `at` (its length field).
void fixCRC(std::vector<uint8_t>& png, size_t at) {
    const uint32_t length =
        uint32_t(png[at]) << 24 | uint32_t(png[at + 1]) << 16 | png[at + 2] << 8 | png[at + 3];
    storeBE32(&png[at + 8 + length], crc32(&png[at + 4], 4 + length));
}

// Our 6x5 RGB file: signature, IHDR at 8, IDAT at 33.
std::vector<uint8_t> smallFile() {
    std::vector<uint8_t> out;
    EXPECT_EQ(detail::encodePNG(makePicture(6, 5, 3, 8, 99), EncodeOptions{}, out), noErr);
    return out;
}

} // namespace

TEST(CodecPNG, DecodesWhatPILWritesAsPILSeesIt) {
    const std::string dir = fixtureFolder();
    ASSERT_FALSE(dir.empty()) << "the PIL peer could not write the fixtures";
    // What each fixture decodes to: components and bits.
    const std::map<std::string, std::pair<int, int>> expected = {
        {"pil-palette8", {3, 8}},
        {"pil-palette8-trns", {4, 8}},
        {"pil-palette1", {3, 8}},
        {"pil-palette2", {3, 8}},
        {"pil-palette4", {3, 8}},
        {"pil-grey8", {1, 8}},
        {"pil-grey8-trns", {2, 8}},
        {"pil-grey1", {1, 8}},
        {"pil-grey16", {1, 16}},
        {"pil-grey-alpha", {2, 8}},
        {"pil-rgb", {3, 8}},
        {"pil-rgb-trns", {4, 8}},
        {"pil-rgba", {4, 8}},
        {"pil-line", {3, 8}},
        {"hand-grey2", {1, 8}},
        {"hand-grey4", {1, 8}},
        {"hand-grey16-trns", {2, 16}},
        {"hand-rgb16", {3, 16}},
        {"hand-rgba16", {4, 16}},
        {"hand-interlaced-rgb", {3, 8}},
        {"hand-interlaced-grey16", {1, 16}},
        {"hand-interlaced-palette", {3, 8}},
        {"hand-interlaced-1x1", {1, 8}},
        {"hand-interlaced-3x2", {2, 8}},
    };
    for (const auto& [name, shape] : expected) {
        SCOPED_TRACE(name);
        const std::vector<uint8_t> file = bytesOf(testsupport::readFile(dir + "/" + name + ".png"));
        ASSERT_FALSE(file.empty());
        View view;
        ASSERT_TRUE(parseView(testsupport::readFile(dir + "/" + name + ".view"), view));
        Picture got;
        ASSERT_EQ(detail::decodePNG(file.data(), file.size(), got), noErr);
        EXPECT_TRUE(got.isConsistent());
        EXPECT_EQ(got.components, shape.first);
        EXPECT_EQ(got.bitsPerSample, shape.second);
        EXPECT_EQ(got.precision, shape.second);
        expectSameAsView(got, view, name);

        Picture layout;
        ASSERT_EQ(detail::inspectPNG(file.data(), file.size(), layout), noErr);
        EXPECT_EQ(layout.width, got.width);
        EXPECT_EQ(layout.height, got.height);
        EXPECT_EQ(layout.components, got.components);
        EXPECT_EQ(layout.bitsPerSample, got.bitsPerSample);
        EXPECT_TRUE(layout.samples.empty());
    }
}

TEST(CodecPNG, WhatWeWritePILReadsBackAndSoDoWe) {
    testsupport::ScratchDir scratch("codec-png");
    struct Shape {
        int32_t w, h, comps, bits;
        bool peer; // PIL reads 16-bit grey + alpha as RGBA: that one is checked by our round trip only
    } shapes[] = {
        {7, 5, 1, 8, true},  {7, 5, 1, 16, true},  {7, 5, 2, 8, true}, {7, 5, 2, 16, false},
        {13, 4, 3, 8, true}, {13, 4, 3, 16, true}, {9, 6, 4, 8, true}, {9, 6, 4, 16, true},
        {1, 1, 1, 8, true},  {300, 2, 3, 8, true},
    };
    for (const Shape& s : shapes) {
        const std::string name = std::to_string(s.w) + "x" + std::to_string(s.h) + "x" +
                                 std::to_string(s.comps) + "x" + std::to_string(s.bits);
        SCOPED_TRACE(name);
        const Picture in = makePicture(s.w, s.h, s.comps, s.bits, uint32_t(s.w * 31 + s.comps * 7 + s.bits));
        std::vector<uint8_t> png;
        ASSERT_EQ(detail::encodePNG(in, EncodeOptions{}, png), noErr);
        Picture back;
        ASSERT_EQ(detail::decodePNG(png.data(), png.size(), back), noErr);
        EXPECT_EQ(back.components, in.components);
        EXPECT_EQ(back.bitsPerSample, in.bitsPerSample);
        EXPECT_TRUE(back.samples == in.samples);
        if (!s.peer) continue;
        const std::string file = scratch.file(name + ".png");
        testsupport::writeFile(file, std::string(png.begin(), png.end()));
        expectSameAsView(in, pilView(file), name);
    }
}

TEST(CodecPNG, EncodingRefusesOtherShapes) {
    Picture five = makePicture(2, 2, 4, 8, 1);
    five.components = 5;
    Picture twelve = makePicture(2, 2, 1, 16, 1);
    twelve.bitsPerSample = 12;
    Picture shortSamples = makePicture(2, 2, 3, 8, 1);
    shortSamples.samples.pop_back();
    Picture empty;
    for (const Picture* p : {&five, &twelve, &shortSamples, &empty}) {
        std::vector<uint8_t> out = {1};
        EXPECT_EQ(detail::encodePNG(*p, EncodeOptions{}, out), paramErr);
        EXPECT_TRUE(out.empty());
    }
}

TEST(CodecPNG, EveryTruncationIsBadData) {
    const std::vector<uint8_t> file = smallFile();
    ASSERT_GT(file.size(), 60u);
    for (size_t cut = 0; cut < file.size(); ++cut) {
        Picture got;
        got.width = 3;
        EXPECT_EQ(detail::decodePNG(file.data(), cut, got), codecBadDataErr) << "cut at " << cut;
        EXPECT_EQ(got.width, 0);
        EXPECT_TRUE(got.samples.empty());
        // The header alone (through the IDAT chunk's header) is enough to inspect.
        Picture layout;
        EXPECT_EQ(detail::inspectPNG(file.data(), cut, layout), cut < 41 ? codecBadDataErr : noErr) << cut;
    }
    Picture got;
    EXPECT_EQ(detail::decodePNG(nullptr, 100, got), codecBadDataErr);
}

TEST(CodecPNG, CorruptAndAbsurdHeadersGiveStatuses) {
    const std::vector<uint8_t> base = smallFile();
    auto withIHDR = [&](uint32_t w, uint32_t h, uint8_t depth, uint8_t colour) {
        std::vector<uint8_t> f = base;
        storeBE32(&f[16], w);
        storeBE32(&f[20], h);
        f[24] = depth;
        f[25] = colour;
        fixCRC(f, 8);
        return f;
    };
    struct Case {
        const char* name;
        std::vector<uint8_t> file;
        OSErr decoded;
        OSErr inspected;
    };
    std::vector<Case> cases;
    {
        std::vector<uint8_t> f = base;
        f[1] ^= 0x20;
        cases.push_back({"signature", f, codecBadDataErr, codecBadDataErr});
    }
    {
        std::vector<uint8_t> f = base;
        f[17] ^= 0x01; // IHDR width, CRC left stale
        cases.push_back({"IHDR CRC", f, codecBadDataErr, codecBadDataErr});
    }
    {
        std::vector<uint8_t> f = base;
        f[45] ^= 0x10; // inside the compressed data, CRC left stale
        cases.push_back({"IDAT CRC", f, codecBadDataErr, noErr});
    }
    {
        std::vector<uint8_t> f = base;
        f[45] ^= 0x10; // inside the compressed data, CRC made right: zlib's check fails
        fixCRC(f, 33);
        cases.push_back({"IDAT contents", f, codecBadDataErr, noErr});
    }
    {
        std::vector<uint8_t> f = base;
        storeBE32(&f[33], 0x7FFFFFF0); // an IDAT longer than the file
        cases.push_back({"IDAT length", f, codecBadDataErr, noErr});
    }
    cases.push_back({"too few rows of data", withIHDR(6, 6, 8, 2), codecBadDataErr, noErr});
    // Image data beyond the last row is ignored, as libpng and PIL do.
    cases.push_back({"more data than rows", withIHDR(6, 4, 8, 2), noErr, noErr});
    cases.push_back({"width 0", withIHDR(0, 5, 8, 2), codecBadDataErr, codecBadDataErr});
    cases.push_back({"width 2^31", withIHDR(0x80000000u, 5, 8, 2), codecBadDataErr, codecBadDataErr});
    cases.push_back({"height 2^32-1", withIHDR(6, 0xFFFFFFFFu, 8, 2), codecBadDataErr, codecBadDataErr});
    cases.push_back({"width 2^31-1", withIHDR(0x7FFFFFFFu, 5, 8, 2), codecSizeErr, codecSizeErr});
    cases.push_back({"width 65536", withIHDR(65536, 1, 8, 0), codecSizeErr, codecSizeErr});
    cases.push_back({"65535 square RGBA", withIHDR(65535, 65535, 16, 6), codecSizeErr, codecSizeErr});
    // 900 MB of grey that 60 bytes of deflate cannot hold: refused before the picture is made.
    cases.push_back({"30000 square grey", withIHDR(30000, 30000, 8, 0), codecBadDataErr, noErr});
    cases.push_back({"depth 3", withIHDR(6, 5, 3, 2), codecBadDataErr, codecBadDataErr});
    cases.push_back({"colour type 5", withIHDR(6, 5, 8, 5), codecBadDataErr, codecBadDataErr});
    cases.push_back({"palette without PLTE", withIHDR(6, 5, 8, 3), codecBadDataErr, codecBadDataErr});
    for (const Case& c : cases) {
        Picture got;
        EXPECT_EQ(detail::decodePNG(c.file.data(), c.file.size(), got), c.decoded) << c.name;
        EXPECT_TRUE(got.samples.empty() || c.decoded == noErr) << c.name;
        Picture layout;
        EXPECT_EQ(detail::inspectPNG(c.file.data(), c.file.size(), layout), c.inspected) << c.name;
    }
}
