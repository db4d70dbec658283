// The GIF engine against Python PIL: files PIL writes (and small ones written by hand for what
// PIL does not write: an image at an offset on a larger screen, a local colour map, interlacing
// of small images) decode to PIL's view of their first frame. Files built here byte by byte pin
// the screen around the image, clipping, and the statuses of truncated, corrupt and absurd
// streams.
#include "PlatformCodecEnginesInternal.h"

#include "PythonPeer.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

using namespace platform::codec;

namespace {

// Writes the fixtures into a folder (`fixtures DIR`): for each NAME.gif a NAME.view, PIL's view
// of its first frame: a line "width height components" and the samples, RGBA when the frame has
// a transparent index and RGB otherwise.
const char* kPeer = R"PY(
import os, struct, sys
import numpy as np
from PIL import Image

def view(path):
    im = Image.open(path)
    im.load()
    a = np.asarray(im.convert('RGBA' if im.info.get('transparency') is not None else 'RGB'))
    h, w, c = a.shape
    return b'%d %d %d\n' % (w, h, c) + a.astype(np.uint8).tobytes()

def lzw(indices, mincode):
    # Codes of a fixed width: a clear code before the table would grow wider.
    clear = 1 << mincode
    bits = mincode + 1
    per = (1 << bits) - clear - 2
    codes = []
    for i, v in enumerate(indices):
        if i % per == 0:
            codes.append(clear)
        codes.append(int(v))
    codes.append(clear + 1)
    out, acc, n = bytearray(), 0, 0
    for c in codes:
        acc |= c << n
        n += bits
        while n >= 8:
            out.append(acc & 255)
            acc >>= 8
            n -= 8
    if n:
        out.append(acc & 255)
    blocks = b''
    for i in range(0, len(out), 255):
        blocks += bytes([len(out[i:i + 255])]) + out[i:i + 255]
    return bytes([mincode]) + blocks + b'\0'

INTERLACE = [(0, 8), (4, 8), (2, 4), (1, 2)]

def hand(out, name, screen, image, idx, gpal=None, lpal=None, trans=None, bg=0, interlace=False):
    sw, sh = screen
    x, y = image
    h, w = idx.shape
    bits = lambda p: max(1, (len(p) // 3 - 1).bit_length()) - 1
    d = b'GIF89a' + struct.pack('<HHBBB', sw, sh, (0x80 | bits(gpal)) if gpal else 0, bg, 0)
    if gpal:
        d += gpal
    if trans is not None:
        d += b'\x21\xf9\x04' + bytes([1, 0, 0, trans, 0])
    flags = (0x80 | bits(lpal) if lpal else 0) | (0x40 if interlace else 0)
    d += b'\x2c' + struct.pack('<HHHHB', x, y, w, h, flags) + (lpal or b'')
    rows = [r for s, step in INTERLACE for r in range(s, h, step)] if interlace else range(h)
    d += lzw(np.concatenate([idx[r] for r in rows]), 8) + b';'
    open(os.path.join(out, name + '.gif'), 'wb').write(d)

def fixtures(out):
    rng = np.random.default_rng(11)
    def save(name, im, **kw):
        im.save(os.path.join(out, name + '.gif'), **kw)
    pal = rng.integers(0, 256, (256, 3), dtype=np.uint8)
    def paletted(h, w, colours):
        im = Image.fromarray(rng.integers(0, colours, (h, w), dtype=np.uint8), 'P')
        im.putpalette(pal[:colours].tobytes())
        return im
    save('pil-palette', paletted(7, 13, 256), interlace=False)
    save('pil-palette-interlaced', paletted(41, 37, 256))
    save('pil-palette4', paletted(9, 5, 4))
    save('pil-grey', Image.fromarray(rng.integers(0, 256, (12, 19), dtype=np.uint8), 'L'), interlace=False)
    def holed(h, w, colours, hole):
        im = paletted(h, w, colours)
        for x in range(0, w, 3):
            im.putpixel((x, x % h), hole)
        return im
    save('pil-transparent', holed(10, 6, 200, 7), transparency=7, optimize=False)
    save('pil-transparent-interlaced', holed(33, 20, 64, 0), transparency=0, optimize=False)
    frames = [paletted(8, 9, 256) for _ in range(3)]
    save('pil-animated', frames[0], save_all=True, append_images=frames[1:], duration=40)

    gpal = pal.tobytes()
    idx = rng.integers(0, 256, (13, 11), dtype=np.uint8)
    hand(out, 'hand-offset', (30, 25), (7, 4), idx, gpal=gpal)
    hand(out, 'hand-offset-transparent', (30, 25), (3, 9), idx, gpal=gpal, trans=int(idx[2, 2]))
    local = rng.integers(0, 256, (256, 3), dtype=np.uint8).tobytes()
    hand(out, 'hand-local-map', (13, 11), (0, 0), idx.T.copy(), gpal=gpal, lpal=local)
    hand(out, 'hand-local-map-only', (13, 11), (0, 0), idx.T.copy(), lpal=local)
    for h in (1, 2, 3, 5, 9, 17):
        hand(out, 'hand-interlaced-%d' % h, (4, h), (0, 0), rng.integers(0, 256, (h, 4), dtype=np.uint8),
             gpal=gpal, interlace=True)

    for name in sorted(os.listdir(out)):
        if name.endswith('.gif'):
            open(os.path.join(out, name[:-4] + '.view'), 'wb').write(view(os.path.join(out, name)))

fixtures(sys.argv[2])
)PY";

// The fixture folder, made once a process: tests run in processes of their own, in parallel,
// and each makes its own.
std::string fixtureFolder() {
    static testsupport::ScratchDir scratch("codec-gif");
    static const std::string folder = testsupport::makePeerFixtures(scratch, kPeer, "fixtures");
    return folder;
}

struct View {
    int width = 0, height = 0, components = 0;
    std::string samples;
};

bool parseView(const std::string& text, View& v) {
    const size_t eol = text.find('\n');
    if (eol == std::string::npos) return false;
    std::istringstream head(text.substr(0, eol));
    if (!(head >> v.width >> v.height >> v.components)) return false;
    v.samples = text.substr(eol + 1);
    return v.samples.size() == size_t(v.width) * v.height * v.components;
}

// ---------------------------------------------------------------------------------------------
// Files built here

struct Rgb {
    uint8_t r, g, b;
};

// A GIF of one image, its pixel data coded with codes of a fixed width (a clear code before the
// table would widen them), as any decoder must read.
struct GifSpec {
    uint16_t screenWidth = 6, screenHeight = 5;
    uint8_t background = 0;
    std::vector<Rgb> global = {{10, 20, 30}, {40, 50, 60}, {70, 80, 90}, {100, 110, 120}};
    std::optional<uint8_t> transparent;
    uint16_t left = 0, top = 0, width = 2, height = 2;
    std::vector<Rgb> local;
    std::vector<uint8_t> indices = {0, 1, 3, 1};
    uint8_t minCodeSize = 2;
};

struct Built {
    std::vector<uint8_t> bytes;
    size_t pixelData = 0; // offset of the LZW minimum code size, after the image descriptor
};

void putColours(std::vector<uint8_t>& out, const std::vector<Rgb>& colours) {
    for (const Rgb& c : colours)
        out.insert(out.end(), {c.r, c.g, c.b});
}

uint8_t sizeBits(const std::vector<Rgb>& colours) {
    uint8_t bits = 0;
    while ((2u << bits) < colours.size())
        ++bits;
    return bits;
}

Built build(const GifSpec& g) {
    Built b;
    std::vector<uint8_t>& o = b.bytes;
    auto le16 = [&](uint16_t v) { o.insert(o.end(), {uint8_t(v), uint8_t(v >> 8)}); };
    o = {'G', 'I', 'F', '8', '9', 'a'};
    le16(g.screenWidth);
    le16(g.screenHeight);
    o.push_back(g.global.empty() ? 0 : uint8_t(0x80 | sizeBits(g.global)));
    o.insert(o.end(), {g.background, 0});
    putColours(o, g.global);
    if (g.transparent) o.insert(o.end(), {0x21, 0xF9, 4, 1, 0, 0, *g.transparent, 0});
    o.push_back(0x2C);
    le16(g.left);
    le16(g.top);
    le16(g.width);
    le16(g.height);
    o.push_back(g.local.empty() ? 0 : uint8_t(0x80 | sizeBits(g.local)));
    putColours(o, g.local);
    b.pixelData = o.size();
    o.push_back(g.minCodeSize);
    const uint32_t clear = 1u << g.minCodeSize, bits = g.minCodeSize + 1u;
    const size_t per = (size_t(1) << bits) - clear - 2;
    std::vector<uint8_t> codes;
    uint32_t acc = 0, n = 0;
    auto put = [&](uint32_t code) {
        acc |= code << n;
        for (n += bits; n >= 8; n -= 8, acc >>= 8)
            codes.push_back(uint8_t(acc));
    };
    for (size_t i = 0; i < g.indices.size(); ++i) {
        if (i % per == 0) put(clear);
        put(g.indices[i]);
    }
    put(clear + 1);
    if (n) codes.push_back(uint8_t(acc));
    for (size_t i = 0; i < codes.size(); i += 255) {
        const size_t count = std::min<size_t>(255, codes.size() - i);
        o.push_back(uint8_t(count));
        o.insert(o.end(), codes.begin() + long(i), codes.begin() + long(i + count));
    }
    o.insert(o.end(), {0, ';'});
    return b;
}

std::vector<uint8_t> pixelsOf(const Picture& p, int32_t x, int32_t y) {
    const uint8_t* at = p.samples.data() + size_t(y) * p.rowBytes() + size_t(x) * size_t(p.components);
    return {at, at + p.components};
}

} // namespace

TEST(CodecGIF, DecodesWhatPILWritesAsPILSeesIt) {
    const std::string dir = fixtureFolder();
    ASSERT_FALSE(dir.empty()) << "the PIL peer could not write the fixtures";
    const std::map<std::string, int> expected = {
        {"pil-palette", 3},
        {"pil-palette-interlaced", 3},
        {"pil-palette4", 3},
        {"pil-grey", 3},
        {"pil-transparent", 4},
        {"pil-transparent-interlaced", 4},
        {"pil-animated", 3},
        {"hand-offset", 3},
        {"hand-offset-transparent", 4},
        {"hand-local-map", 3},
        {"hand-local-map-only", 3},
        {"hand-interlaced-1", 3},
        {"hand-interlaced-2", 3},
        {"hand-interlaced-3", 3},
        {"hand-interlaced-5", 3},
        {"hand-interlaced-9", 3},
        {"hand-interlaced-17", 3},
    };
    for (const auto& [name, components] : expected) {
        SCOPED_TRACE(name);
        const std::string text = testsupport::readFile(dir + "/" + name + ".gif");
        ASSERT_FALSE(text.empty());
        const std::vector<uint8_t> file(text.begin(), text.end());
        View view;
        ASSERT_TRUE(parseView(testsupport::readFile(dir + "/" + name + ".view"), view));
        Picture got;
        ASSERT_EQ(decode(Format::GIF, file.data(), file.size(), got), noErr);
        EXPECT_TRUE(got.isConsistent());
        EXPECT_EQ(got.components, components);
        EXPECT_EQ(got.bitsPerSample, 8);
        ASSERT_EQ(got.width, view.width);
        ASSERT_EQ(got.height, view.height);
        ASSERT_EQ(got.components, view.components);
        EXPECT_TRUE(std::memcmp(got.samples.data(), view.samples.data(), view.samples.size()) == 0);

        Picture layout;
        ASSERT_EQ(inspect(Format::GIF, file.data(), file.size(), layout), noErr);
        EXPECT_EQ(layout.width, got.width);
        EXPECT_EQ(layout.height, got.height);
        EXPECT_EQ(layout.components, got.components);
        EXPECT_TRUE(layout.samples.empty());
    }
}

TEST(CodecGIF, TheScreenAroundTheImageIsBackgroundOrTransparentAndTheImageIsClipped) {
    // The image 2x2 at (3,1) on a 6x5 screen whose background is entry 2.
    GifSpec spec;
    spec.left = 3, spec.top = 1, spec.background = 2;
    Picture got;
    Built b = build(spec);
    ASSERT_EQ(decode(Format::GIF, b.bytes.data(), b.bytes.size(), got), noErr);
    ASSERT_EQ(got.width, 6);
    ASSERT_EQ(got.height, 5);
    ASSERT_EQ(got.components, 3);
    for (int32_t y = 0; y < 5; ++y) {
        for (int32_t x = 0; x < 6; ++x) {
            const bool inside = x >= 3 && x < 5 && y >= 1 && y < 3;
            const Rgb c = spec.global[inside ? spec.indices[size_t((y - 1) * 2 + x - 3)] : 2];
            EXPECT_EQ(pixelsOf(got, x, y), (std::vector<uint8_t>{c.r, c.g, c.b})) << x << "," << y;
        }
    }

    // With entry 1 transparent: the screen and the image's entry-1 pixels are transparent.
    spec.transparent = 1;
    b = build(spec);
    ASSERT_EQ(decode(Format::GIF, b.bytes.data(), b.bytes.size(), got), noErr);
    ASSERT_EQ(got.components, 4);
    const std::vector<uint8_t> clear = {40, 50, 60, 0};
    EXPECT_EQ(pixelsOf(got, 0, 0), clear);
    EXPECT_EQ(pixelsOf(got, 4, 1), clear);
    EXPECT_EQ(pixelsOf(got, 3, 1), (std::vector<uint8_t>{10, 20, 30, 255}));
    EXPECT_EQ(pixelsOf(got, 3, 2), (std::vector<uint8_t>{100, 110, 120, 255}));

    // An image reaching past the screen's right and bottom edges keeps only what is on it; a
    // background entry beyond the map, or no global map, gives black.
    spec = GifSpec();
    spec.left = 5, spec.top = 4, spec.background = 9;
    b = build(spec);
    ASSERT_EQ(decode(Format::GIF, b.bytes.data(), b.bytes.size(), got), noErr);
    EXPECT_EQ(pixelsOf(got, 5, 4), (std::vector<uint8_t>{10, 20, 30}));
    EXPECT_EQ(pixelsOf(got, 4, 4), (std::vector<uint8_t>{0, 0, 0}));
    spec.local = spec.global;
    spec.global.clear();
    spec.background = 0;
    b = build(spec);
    ASSERT_EQ(decode(Format::GIF, b.bytes.data(), b.bytes.size(), got), noErr);
    EXPECT_EQ(pixelsOf(got, 5, 4), (std::vector<uint8_t>{10, 20, 30}));
    EXPECT_EQ(pixelsOf(got, 0, 0), (std::vector<uint8_t>{0, 0, 0}));

    // An image wholly off the screen leaves only the screen.
    spec = GifSpec();
    spec.left = 200;
    b = build(spec);
    ASSERT_EQ(decode(Format::GIF, b.bytes.data(), b.bytes.size(), got), noErr);
    EXPECT_EQ(pixelsOf(got, 5, 4), (std::vector<uint8_t>{10, 20, 30}));
}

TEST(CodecGIF, EncodingIsNotOffered) {
    Picture p;
    p.width = p.height = 1;
    p.components = 3;
    p.samples = {1, 2, 3};
    std::vector<uint8_t> out = {7};
    EXPECT_EQ(encode(Format::GIF, p, EncodeOptions{}, out), codecUnimpErr);
    EXPECT_TRUE(out.empty());
}

TEST(CodecGIF, EveryTruncationIsBadData) {
    GifSpec spec;
    spec.screenWidth = 23, spec.screenHeight = 9;
    spec.width = 23, spec.height = 9;
    spec.transparent = 3;
    spec.indices.clear();
    for (int i = 0; i < 23 * 9; ++i)
        spec.indices.push_back(uint8_t(i * 7 % 4));
    const Built b = build(spec);
    const std::vector<uint8_t>& file = b.bytes;
    Picture whole;
    ASSERT_EQ(detail::decodeGIF(file.data(), file.size(), whole), noErr);
    // Only the first image is read: the trailer is not needed.
    for (size_t cut = 0; cut + 1 < file.size(); ++cut) {
        Picture got;
        got.width = 3;
        EXPECT_EQ(detail::decodeGIF(file.data(), cut, got), codecBadDataErr) << "cut at " << cut;
        EXPECT_EQ(got.width, 0);
        EXPECT_TRUE(got.samples.empty());
        // The records through the image descriptor and the code size are enough to inspect.
        Picture layout;
        EXPECT_EQ(detail::inspectGIF(file.data(), cut, layout), cut <= b.pixelData ? codecBadDataErr : noErr)
            << cut;
    }
    Picture got;
    EXPECT_EQ(detail::decodeGIF(file.data(), file.size() - 1, got), noErr);
    EXPECT_EQ(got.samples, whole.samples);
    EXPECT_EQ(detail::decodeGIF(nullptr, 100, got), codecBadDataErr);
}

TEST(CodecGIF, CorruptAndAbsurdStreamsGiveStatuses) {
    struct Case {
        const char* name;
        std::vector<uint8_t> file;
        OSErr decoded;
        OSErr inspected;
    };
    std::vector<Case> cases;
    auto with = [](auto change) {
        GifSpec spec;
        change(spec);
        return build(spec);
    };
    const Built base = with([](GifSpec&) {});
    {
        std::vector<uint8_t> f = base.bytes;
        f[4] = '8'; // "GIF88a"
        cases.push_back({"signature", f, codecBadDataErr, codecBadDataErr});
    }
    {
        std::vector<uint8_t> f = base.bytes;
        f[base.pixelData - 10] = 0x3B; // the trailer where the image descriptor begins
        cases.push_back({"no image", f, codecBadDataErr, codecBadDataErr});
    }
    {
        std::vector<uint8_t> f = base.bytes;
        f[base.pixelData - 10] = 0x99; // a record nobody knows
        cases.push_back({"unknown record", f, codecBadDataErr, codecBadDataErr});
    }
    {
        std::vector<uint8_t> f = base.bytes;
        f[base.pixelData + 1] = 0; // the codes' first block empty: no codes at all
        cases.push_back({"no codes", f, codecBadDataErr, noErr});
    }
    cases.push_back({"code size 12", with([](GifSpec& s) { s.minCodeSize = 12; }).bytes, codecBadDataErr,
                     codecBadDataErr});
    cases.push_back({"screen 0 wide", with([](GifSpec& s) { s.screenWidth = 0; }).bytes, codecBadDataErr,
                     codecBadDataErr});
    cases.push_back(
        {"image 0 high", with([](GifSpec& s) { s.height = 0; }).bytes, codecBadDataErr, codecBadDataErr});
    cases.push_back({"no colour map", with([](GifSpec& s) { s.global.clear(); }).bytes, codecBadDataErr,
                     codecBadDataErr});
    // Fewer pixels in the stream than the image has; codes beyond the image's pixels are ignored.
    cases.push_back({"too few pixels", with([](GifSpec& s) { s.height = 3; }).bytes, codecBadDataErr, noErr});
    cases.push_back(
        {"more pixels than the image", with([](GifSpec& s) { s.height = 1; }).bytes, noErr, noErr});
    // A 65535-pixel square screen is more than a picture may hold; a 12000-pixel square one, or
    // an image of 65535x65535, more than a few bytes of codes can fill.
    const auto hugeScreen = [](GifSpec& s) { s.screenWidth = s.screenHeight = 65535; };
    cases.push_back({"65535 square screen", with(hugeScreen).bytes, codecSizeErr, codecSizeErr});
    const auto bigScreen = [](GifSpec& s) { s.screenWidth = s.screenHeight = 12000; };
    cases.push_back({"12000 square screen", with(bigScreen).bytes, codecBadDataErr, codecBadDataErr});
    const auto hugeImage = [](GifSpec& s) { s.width = s.height = 65535; };
    cases.push_back({"65535 square image", with(hugeImage).bytes, codecBadDataErr, codecBadDataErr});
    {
        // A graphics control extension of the wrong length.
        std::vector<uint8_t> f = with([](GifSpec& s) { s.transparent = 1; }).bytes;
        f[27] = 3;
        cases.push_back({"control extension length", f, codecBadDataErr, codecBadDataErr});
    }
    for (const Case& c : cases) {
        Picture got;
        EXPECT_EQ(detail::decodeGIF(c.file.data(), c.file.size(), got), c.decoded) << c.name;
        EXPECT_TRUE(got.samples.empty() || c.decoded == noErr) << c.name;
        Picture layout;
        EXPECT_EQ(detail::inspectGIF(c.file.data(), c.file.size(), layout), c.inspected) << c.name;
    }

    // Every single byte changed to each of a few values: a status, never a crash, and a success
    // is a whole picture.
    const Built bigger = with([](GifSpec& s) {
        s.transparent = 2;
        s.left = 1, s.top = 1, s.width = 4, s.height = 3;
        s.indices = {0, 1, 2, 3, 3, 2, 1, 0, 1, 1, 2, 2};
    });
    for (size_t at = 0; at < bigger.bytes.size(); ++at) {
        for (uint8_t value : {0x00, 0x01, 0x7F, 0x80, 0xFF}) {
            std::vector<uint8_t> f = bigger.bytes;
            f[at] = value;
            Picture got;
            const OSErr err = detail::decodeGIF(f.data(), f.size(), got);
            if (err == noErr)
                EXPECT_TRUE(got.isConsistent()) << at;
            else
                EXPECT_TRUE(got.samples.empty()) << at;
        }
    }
}
