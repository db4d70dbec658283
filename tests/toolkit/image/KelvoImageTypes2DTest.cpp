// The 2D image template: storage and description, the conversions with 32-bit worlds (checked
// against PIL pictures and numpy's grey), and the image operations on small fixtures worked out
// by hand.
#include "ImagePeer.h"
#include "KelvoImageTypes2D.h"
#include "WorldSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <numeric>
#include <vector>

namespace {

using worldsupport::pixelAt;
using worldsupport::rgbAt;
using worldsupport::worldOf;

using Grey8 = KelvoImage2DT<uint8_t, 1>;
using Grey16 = KelvoImage2DT<uint16_t, 1>;
using GreyF = KelvoImage2DT<float, 1>;
using RGB = KelvoImage2DT<uint8_t, 3>;
using ARGB = KelvoImage2DT<uint8_t, 4>;

// An image whose depth a test sets, as the image classes do.
template <class T, int N> class DepthImage : public KelvoImage2DT<T, N> {
  public:
    DepthImage(const Kelvo_Size& size, uint32_t format, int16_t depth) : KelvoImage2DT<T, N>(size, format) {
        this->_depth = depth;
    }
};

template <class Image, class T> std::unique_ptr<Image> imageOf(int w, int h, const std::vector<T>& samples) {
    auto image = std::make_unique<Image>(Kelvo_Size(w, h), 40);
    EXPECT_EQ(size_t(image->bufferSize()), samples.size());
    std::memcpy(image->buffer(), samples.data(), samples.size() * sizeof(T));
    return image;
}

template <class T, int N> std::vector<T> samplesOf(const KelvoImage2DT<T, N>& image) {
    return std::vector<T>(image.buffer(), image.buffer() + image.bufferSize());
}

// ---------------------------------------------------------------------------------------------
// Storage

TEST(KelvoImage2DT, ConstructionAndLayout) {
    Grey8 g(Kelvo_Size(5, 3), 40);
    EXPECT_TRUE(g.qtObjIsValid());
    EXPECT_EQ(g.Error(), 0);
    EXPECT_EQ(g.bufferSize(), 15);
    EXPECT_EQ(g.bufferRawBytesSize(), 15);
    EXPECT_EQ(g.rowBytes(), 5);
    EXPECT_TRUE(g.bufferLocked());
    EXPECT_EQ(samplesOf(g), std::vector<uint8_t>(15, 0));
    EXPECT_STREQ(g.qtObjName(), "KelvoImage2DT");
    EXPECT_TRUE(g.isA("KelvoImage2DT"));
    EXPECT_TRUE(g.isA("KelvoVideoBufferT"));
    EXPECT_TRUE(g.isA("Kelvo_QTObj"));
    EXPECT_FALSE(g.isA("Kelvo_QDGWorldBuffer"));
    EXPECT_EQ(g.allocSubGWorld(const_cast<Kelvo_Rect&>(g.bounds())), nullptr);

    struct Depths {
        int16_t depth, bits;
        uint32_t channels;
        int32_t rowBytes;
    } depths[] = {{Grey8(Kelvo_Size(4, 2), 40).depth(), 8, 1, 4},
                  {Grey16(Kelvo_Size(4, 2), 16).depth(), 16, 1, 8},
                  {GreyF(Kelvo_Size(4, 2), 32).depth(), 32, 1, 16},
                  {RGB(Kelvo_Size(4, 2), 24).depth(), 24, 3, 12},
                  {ARGB(Kelvo_Size(4, 2), 32).depth(), 32, 4, 16}};
    for (const Depths& d : depths)
        EXPECT_EQ(d.depth, d.bits);
    EXPECT_EQ(Grey16(Kelvo_Size(4, 2), 16).rowBytes(), 8);
    EXPECT_EQ(GreyF(Kelvo_Size(4, 2), 32).bufferRawBytesSize(), 32);
    EXPECT_EQ(RGB(Kelvo_Size(4, 2), 24).channels(), 3u);
    EXPECT_EQ(ARGB(Kelvo_Size(4, 2), 32).bufferSize(), 32);

    // Fractions of a pixel are dropped.
    Grey8 fractional(Kelvo_Size(2.7, 3.2), 40);
    EXPECT_EQ(fractional.width(), 2);
    EXPECT_EQ(fractional.height(), 3);

    struct Bad {
        const char* what;
        Kelvo_Size size;
        uint32_t format;
    } bad[] = {{"no width", Kelvo_Size(0, 3), 40},
               {"negative", Kelvo_Size(-2, 3), 40},
               {"NaN", Kelvo_Size(std::nan(""), 3), 40},
               {"beyond 16 bits", Kelvo_Size(40000, 2), 40},
               {"no pixel format", Kelvo_Size(2, 2), 0}};
    for (const Bad& b : bad) {
        Grey8 image(b.size, b.format);
        EXPECT_FALSE(image.qtObjIsValid()) << b.what;
        EXPECT_EQ(image.Error(), -50) << b.what;
        EXPECT_EQ(image.clone(), nullptr) << b.what;
        EXPECT_EQ(image.erase(nullptr), -50) << b.what; // nothing to erase, the status stays
    }
}

TEST(KelvoImage2DT, DescriptionOfEachInstance) {
    struct Case {
        std::unique_ptr<Kelvo_QTObj> owner;
        ImageDescriptionHandle desc;
        OSType type;
        int16_t depth;
        int32_t dataSize;
    };
    auto describe = [](auto* image) {
        EXPECT_EQ(image->allocQTDescription(), 0);
        return image->qtDescription();
    };
    auto* g8 = new Grey8(Kelvo_Size(3, 2), 40);
    auto* mono = new DepthImage<uint8_t, 1>(Kelvo_Size(3, 2), 1, 1);
    auto* g16 = new Grey16(Kelvo_Size(3, 2), 16);
    auto* gf = new GreyF(Kelvo_Size(3, 2), 32);
    auto* rgb = new RGB(Kelvo_Size(3, 2), 24);
    auto* argb = new ARGB(Kelvo_Size(3, 2), 32);
    Case cases[] = {
        {std::unique_ptr<Kelvo_QTObj>(g8), describe(g8), FOUR_CHAR_CODE("raw "), 40, 6},
        {std::unique_ptr<Kelvo_QTObj>(mono), describe(mono), FOUR_CHAR_CODE("raw "), 40, 6},
        {std::unique_ptr<Kelvo_QTObj>(g16), describe(g16), FOUR_CHAR_CODE("b16g"), 16, 12},
        {std::unique_ptr<Kelvo_QTObj>(gf), describe(gf), FOUR_CHAR_CODE("raw "), 32, 24},
        {std::unique_ptr<Kelvo_QTObj>(rgb), describe(rgb), FOUR_CHAR_CODE("raw "), 24, 18},
        {std::unique_ptr<Kelvo_QTObj>(argb), describe(argb), FOUR_CHAR_CODE("raw "), 32, 24},
    };
    for (const Case& c : cases) {
        ASSERT_NE(c.desc, nullptr);
        ASSERT_EQ(GetHandleSize(reinterpret_cast<Handle>(c.desc)), 86);
        const ImageDescription& d = **c.desc;
        EXPECT_EQ(d.idSize, 86);
        EXPECT_EQ(d.cType, c.type);
        EXPECT_EQ(d.depth, c.depth);
        EXPECT_EQ(d.width, 3);
        EXPECT_EQ(d.height, 2);
        EXPECT_EQ(d.spatialQuality, 768u);
        EXPECT_EQ(d.temporalQuality, 0u);
        EXPECT_EQ(d.hRes, 72);
        EXPECT_EQ(d.vRes, 72);
        EXPECT_EQ(d.dataSize, c.dataSize);
        EXPECT_EQ(d.frameCount, 1);
        EXPECT_EQ(d.clutID, -1);
        EXPECT_EQ(d.dataRefIndex, -1);
        EXPECT_EQ(d.vendor, 0);
        EXPECT_EQ(d.name[0], 0);
    }
    // Making it again replaces the cached one (ASan sees a leak otherwise).
    EXPECT_EQ(g8->allocQTDescription(), 0);
    EXPECT_NE(g8->qtDescription(), nullptr);

    // Samples beyond the 32-bit data size of a description (shown over a few borrowed ones:
    // nothing reads them) are refused, not described with a wrapped size.
    float few[4] = {};
    GreyF huge(Kelvo_Size(1, 1), 32);
    huge.initWithData(few, Kelvo_Rect(Rect{0, 0, 32767, 32767}), 0);
    EXPECT_EQ(huge.allocQTDescription(), -50);
    EXPECT_EQ(huge.qtDescription(), nullptr);
    Kelvo_QDGWorldBuffer* drawn = nullptr;
    EXPECT_EQ((drawToQDBuffer<float, 1>(huge, drawn, nullptr)), -50);
    EXPECT_EQ(drawn, nullptr);
}

TEST(KelvoImage2DT, InitWithDataCopiesOrBorrows) {
    std::vector<uint8_t> caller{1, 2, 3, 4, 5, 6};
    Grey8 image(Kelvo_Size(2, 2), 40);
    const Kelvo_Rect threeByTwo(3, 2);
    image.initWithData(caller.data(), threeByTwo, 1);
    EXPECT_EQ(image.width(), 3);
    EXPECT_NE(image.buffer(), caller.data());
    EXPECT_EQ(samplesOf(image), caller);
    EXPECT_TRUE(image.bufferLocked());

    {
        Grey8 borrower(Kelvo_Size(1, 1), 40);
        borrower.initWithData(caller.data(), threeByTwo, 0);
        EXPECT_EQ(borrower.buffer(), caller.data());
        EXPECT_TRUE(borrower.qtObjIsValid());
        EXPECT_FALSE(borrower.bufferLocked());
        // Copying into a borrower goes to a buffer of its own, never into the caller's.
        const std::vector<uint8_t> other{9, 9, 9, 9, 9, 9};
        borrower.initWithData(other.data(), threeByTwo, 1);
        EXPECT_NE(borrower.buffer(), caller.data());
        EXPECT_EQ(samplesOf(borrower), other);
        EXPECT_EQ(caller[0], 1);
        borrower.initWithData(caller.data(), threeByTwo, 0);
    } // the caller's samples outlive the borrower (ASan would see a bad free)
    EXPECT_EQ(caller[5], 6);

    // Null data or empty bounds change nothing.
    image.initWithData(nullptr, threeByTwo, 1);
    image.initWithData(caller.data(), Kelvo_Rect(), 0);
    EXPECT_NE(image.buffer(), caller.data());
    EXPECT_EQ(image.width(), 3);

    // Bounds away from the origin: their top-left pixel is the first sample.
    Grey8 placed(Kelvo_Size(1, 1), 40);
    const Kelvo_Rect away(Rect{10, 20, 12, 23}); // top 10, left 20, 3 x 2
    placed.initWithData(caller.data(), away, 0);
    EXPECT_EQ(placed.value(Kelvo_Point(20, 10)).values[0], 1);
    EXPECT_EQ(placed.value(Kelvo_Point(22, 11)).values[0], 6);
    EXPECT_EQ(placed.value(Kelvo_Point(2, 1)).values[0], 0); // outside the bounds
    std::unique_ptr<Grey8> part(placed.crop(Kelvo_Rect(Rect{11, 21, 12, 23})));
    ASSERT_TRUE(part);
    EXPECT_EQ(samplesOf(*part), (std::vector<uint8_t>{5, 6}));
    Kelvo_Rect all(Rect{0, 0, 100, 100});
    placed.erase(&all); // clipped to the bounds
    EXPECT_EQ(caller, std::vector<uint8_t>(6, 0));
}

TEST(KelvoImage2DT, ValueReadsAndWritesPixels) {
    auto rgb = imageOf<RGB, uint8_t>(2, 2, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
    const KelvoImageValue2DT<uint8_t, 3>& v = rgb->value(Kelvo_Point(1, 1));
    EXPECT_EQ(v.count, 3u);
    EXPECT_EQ(v.values[0], 10);
    EXPECT_EQ(v.values[2], 12);
    // The right and bottom edges lie outside: the zeroed value.
    for (Kelvo_Point p : {Kelvo_Point(2, 0), Kelvo_Point(0, 2), Kelvo_Point(-1, 0)}) {
        const auto& outside = rgb->value(p);
        EXPECT_EQ(outside.values[0] + outside.values[1] + outside.values[2], 0);
    }
    KelvoImageValue2DT<uint8_t, 3> w;
    w.values[0] = 70, w.values[1] = 80, w.values[2] = 90;
    rgb->value(Kelvo_Point(0, 1), w);
    rgb->value(Kelvo_Point(2, 1), w); // outside: nothing
    EXPECT_EQ(samplesOf(*rgb), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 70, 80, 90, 10, 11, 12}));
    EXPECT_EQ(*rgb->_coordToMemory(Kelvo_Point(1, 0)), 4);
    // A whole buffer's worth of samples at once.
    std::vector<uint8_t> fresh(12, 5);
    EXPECT_EQ(rgb->copyBuffer(fresh.data()), 0);
    EXPECT_EQ(samplesOf(*rgb), fresh);
    EXPECT_EQ(rgb->copyBuffer(nullptr), -50);
    EXPECT_EQ(samplesOf(*rgb), fresh);
    std::unique_ptr<KelvoImageValue2DT<uint8_t, 3>> copy(w.clone());
    EXPECT_EQ(copy->values[1], 80);
    copy->defaultStatus();
    EXPECT_EQ(copy->values[1], 0);
}

TEST(KelvoImage2DT, EraseClearsRectanglesWithinTheBuffer) {
    std::vector<uint16_t> ramp(12);
    std::iota(ramp.begin(), ramp.end(), 1);
    auto image = imageOf<Grey16, uint16_t>(4, 3, ramp);
    Kelvo_Rect middle(Rect{1, 1, 3, 3});
    EXPECT_EQ(image->erase(&middle), 0);
    EXPECT_EQ(samplesOf(*image), (std::vector<uint16_t>{1, 2, 3, 4, 5, 0, 0, 8, 9, 0, 0, 12}));
    // Beyond the right and bottom edges: clipped, nothing written past the buffer.
    Kelvo_Rect corner(Rect{2, 3, 50, 60});
    image->erase(&corner);
    EXPECT_EQ(samplesOf(*image), (std::vector<uint16_t>{1, 2, 3, 4, 5, 0, 0, 8, 9, 0, 0, 0}));
    Kelvo_Rect away(Rect{-9, -9, -2, -2});
    image->erase(&away);
    EXPECT_EQ(image->value(Kelvo_Point(0, 0)).values[0], 1);
    // No rectangle: everything.
    image->defaultStatus();
    EXPECT_EQ(samplesOf(*image), std::vector<uint16_t>(12, 0));
}

// ---------------------------------------------------------------------------------------------
// Worlds

// A PIL picture of odd width with random alpha, its grey picture, and numpy's grey and
// monochrome cut of the colour picture by the toolkit's weighting.
const char* kWorldPeer = R"(import sys, os
import numpy as np
from PIL import Image
out = sys.argv[1]
rng = np.random.default_rng(23)
rgba = Image.fromarray(rng.integers(0, 256, (5, 7, 4), dtype=np.uint8), 'RGBA')
a = np.asarray(rgba)
a[:, :, [3, 0, 1, 2]].tofile(os.path.join(out, 'argb.bin'))
r, g, b = (a[:, :, i].astype(np.uint32) for i in range(3))
grey = ((117 * b + 601 * g + 306 * r) >> 10).astype(np.uint8)
grey.tofile(os.path.join(out, 'grey.bin'))
np.where(grey < 129, 0, 255).astype(np.uint8).tofile(os.path.join(out, 'mono.bin'))
lum = Image.effect_mandelbrot((9, 6), (-2.0, -1.5, 1.0, 1.5), 60)
np.asarray(lum, dtype=np.uint8).tofile(os.path.join(out, 'L.bin'))
)";

struct WorldPeer {
    std::string argb;
    std::vector<uint8_t> grey, mono, lum;
};

const WorldPeer& worldPeer() {
    static testsupport::ScratchDir scratch("image-worlds");
    static const WorldPeer p = [] {
        WorldPeer out;
        if (!imagepeer::runPeer(scratch, kWorldPeer)) return out;
        out.argb = testsupport::readFile(scratch.file("argb.bin"));
        out.grey = imagepeer::samplesOf<uint8_t>(scratch.file("grey.bin"));
        out.mono = imagepeer::samplesOf<uint8_t>(scratch.file("mono.bin"));
        out.lum = imagepeer::samplesOf<uint8_t>(scratch.file("L.bin"));
        return out;
    }();
    return p;
}

// Every instance read from the world against the peer's picture.
void expectWorldMatchesPeer(const Kelvo_QDGWorldBuffer& world, const WorldPeer& p) {
    const size_t n = 35;
    std::vector<uint8_t> argb(n * 4), rgb(n * 3), grey(n), mono(n);
    std::vector<uint16_t> grey16(n), mono16(n);
    std::vector<float> greyF(n), monoF(n);
    ASSERT_EQ((dataFromQDContext<uint8_t, 4>(world, argb.data(), 0)), 0);
    ASSERT_EQ((dataFromQDContext<uint8_t, 3>(world, rgb.data(), 0)), 0);
    ASSERT_EQ((dataFromQDContext<uint8_t, 1>(world, grey.data(), 0)), 0);
    ASSERT_EQ((dataFromQDContext<uint8_t, 1>(world, mono.data(), 1)), 0);
    ASSERT_EQ((dataFromQDContext<uint16_t, 1>(world, grey16.data(), 0)), 0);
    ASSERT_EQ((dataFromQDContext<uint16_t, 1>(world, mono16.data(), 1)), 0);
    ASSERT_EQ((dataFromQDContext<float, 1>(world, greyF.data(), 0)), 0);
    ASSERT_EQ((dataFromQDContext<float, 1>(world, monoF.data(), 1)), 0);
    EXPECT_EQ(std::string(argb.begin(), argb.end()), p.argb);
    for (size_t i = 0; i < n; ++i) {
        ASSERT_EQ(rgb[i * 3], uint8_t(p.argb[i * 4 + 1])) << i;
        ASSERT_EQ(rgb[i * 3 + 2], uint8_t(p.argb[i * 4 + 3])) << i;
        ASSERT_EQ(grey[i], p.grey[i]) << i;
        ASSERT_EQ(mono[i], p.mono[i]) << i;
        ASSERT_EQ(grey16[i], p.grey[i] * 257) << i;
        ASSERT_EQ(mono16[i], p.mono[i]) << i; // the cut is 0 or 255 at every sample size
        ASSERT_EQ(greyF[i], float(p.grey[i])) << i;
        ASSERT_EQ(monoF[i], float(p.mono[i])) << i;
    }
}

TEST(DataFromQDContext, EveryInstanceMatchesThePeer) {
    const WorldPeer& p = worldPeer();
    ASSERT_EQ(p.argb.size(), 35u * 4);
    auto packed = worldOf(7, 5, p.argb);
    ASSERT_EQ(packed->rowBytes(), 28);
    expectWorldMatchesPeer(*packed, p);

    // The same pixels in rows padded by 12 bytes.
    const int32_t rowBytes = 7 * 4 + 12;
    std::vector<uint8_t> memory(size_t(rowBytes) * 5, 0xEE);
    for (int y = 0; y < 5; ++y)
        std::memcpy(memory.data() + y * rowBytes, p.argb.data() + y * 28, 28);
    GWorldPtr padded = nullptr;
    const Rect bounds{0, 0, 5, 7};
    ASSERT_EQ(QTNewGWorldFromPtr(&padded, k32ARGBPixelFormat, &bounds, nullptr, nullptr, 0, memory.data(),
                                 rowBytes),
              noErr);
    {
        Kelvo_QDGWorldBuffer wrapped(padded, false);
        ASSERT_EQ(wrapped.rowBytes(), rowBytes);
        expectWorldMatchesPeer(wrapped, p);
    }
    DisposeGWorld(padded);
}

TEST(DataFromQDContext, GreyWeightingAndMonochromeCut) {
    struct Case {
        uint32_t pixel;
        uint8_t grey, mono;
    } cases[] = {
        {0xFFFFFFFF, 255, 255}, {0xFFFF0000, 76, 0},    {0xFF00FF00, 149, 255}, {0xFF0000FF, 29, 0},
        {0x00808080, 128, 0},   {0x00818181, 129, 255}, {0xFF000000, 0, 0},
    };
    for (const Case& c : cases) {
        const char bytes[4] = {char(c.pixel >> 24), char(c.pixel >> 16), char(c.pixel >> 8), char(c.pixel)};
        auto world = worldOf(1, 1, std::string(bytes, 4));
        uint8_t grey = 1, mono = 1;
        ASSERT_EQ((dataFromQDContext<uint8_t, 1>(*world, &grey, 0)), 0);
        ASSERT_EQ((dataFromQDContext<uint8_t, 1>(*world, &mono, 1)), 0);
        EXPECT_EQ(grey, c.grey) << std::hex << c.pixel;
        EXPECT_EQ(mono, c.mono) << std::hex << c.pixel;
    }
}

TEST(DataFromQDContext, RefusesWhatItCannotRead) {
    uint8_t out[64] = {};
    auto world = worldOf(2, 2, std::string(16, '\x7F'));
    EXPECT_EQ((dataFromQDContext<uint8_t, 1>(*world, nullptr, 0)), 80);
    Kelvo_QDGWorldBuffer empty(k32ARGBPixelFormat); // no pixels
    EXPECT_EQ((dataFromQDContext<uint8_t, 4>(empty, out, 0)), 9);
    // 16-bit rows are shorter than four bytes a pixel.
    Kelvo_QDGWorldBuffer narrow(8, 2, k16GrayPixelFormat);
    ASSERT_TRUE(narrow.qtObjIsValid());
    EXPECT_EQ((dataFromQDContext<uint8_t, 3>(narrow, out, 0)), 9);
    // 48-bit rows are long enough but are not 32-bit pixels.
    Kelvo_QDGWorldBuffer deep(2, 2, k48RGBPixelFormat);
    ASSERT_TRUE(deep.qtObjIsValid());
    EXPECT_EQ((dataFromQDContext<float, 1>(deep, reinterpret_cast<float*>(out), 0)), 9);
}

TEST(DrawToQDBuffer, GreyAndColourImagesComeBackExactly) {
    const WorldPeer& p = worldPeer();
    ASSERT_EQ(p.lum.size(), 54u);
    Kelvo_QDGWorldBuffer* drawn = reinterpret_cast<Kelvo_QDGWorldBuffer*>(&drawn);

    // 8-bit grey: sample 0 black, 255 white, every sample back as it was.
    auto grey = imageOf<Grey8, uint8_t>(9, 6, p.lum);
    grey->value(Kelvo_Point(0, 5), KelvoImageValue2DT<uint8_t, 1>());
    grey->buffer()[1] = 255;
    ASSERT_EQ((drawToQDBuffer<uint8_t, 1>(*grey, drawn, nullptr)), 0);
    std::unique_ptr<Kelvo_QDGWorldBuffer> gw(drawn);
    ASSERT_TRUE(gw);
    EXPECT_EQ(gw->width(), 9);
    EXPECT_EQ(gw->height(), 6);
    EXPECT_EQ(rgbAt(*gw, 0, 5), 0x000000u);
    EXPECT_EQ(rgbAt(*gw, 1, 0), 0xFFFFFFu);
    std::vector<uint8_t> back(54);
    ASSERT_EQ((dataFromQDContext<uint8_t, 1>(*gw, back.data(), 0)), 0);
    EXPECT_EQ(back, samplesOf(*grey));

    // Colour: R, G, B through a world and back.
    std::vector<uint8_t> rgbSamples;
    for (size_t i = 0; i < 35; ++i)
        rgbSamples.insert(rgbSamples.end(), {uint8_t(p.argb[i * 4 + 1]), uint8_t(p.argb[i * 4 + 2]),
                                             uint8_t(p.argb[i * 4 + 3])});
    auto rgb = imageOf<RGB, uint8_t>(7, 5, rgbSamples);
    ASSERT_EQ((drawToQDBuffer<uint8_t, 3>(*rgb, drawn, nullptr)), 0);
    std::unique_ptr<Kelvo_QDGWorldBuffer> cw(drawn);
    std::vector<uint8_t> rgbBack(105);
    ASSERT_EQ((dataFromQDContext<uint8_t, 3>(*cw, rgbBack.data(), 0)), 0);
    EXPECT_EQ(rgbBack, rgbSamples);

    // A, R, G, B: the colours arrive whatever the alpha.
    const std::vector<uint8_t> argbSamples(p.argb.begin(), p.argb.end());
    auto argb = imageOf<ARGB, uint8_t>(7, 5, argbSamples);
    ASSERT_EQ((drawToQDBuffer<uint8_t, 4>(*argb, drawn, nullptr)), 0);
    std::unique_ptr<Kelvo_QDGWorldBuffer> aw(drawn);
    std::vector<uint8_t> argbBack(105);
    ASSERT_EQ((dataFromQDContext<uint8_t, 3>(*aw, argbBack.data(), 0)), 0);
    EXPECT_EQ(argbBack, rgbSamples);
    std::vector<uint8_t> withAlpha(140);
    ASSERT_EQ((dataFromQDContext<uint8_t, 4>(*aw, withAlpha.data(), 0)), 0);
    EXPECT_EQ(withAlpha, argbSamples);

    // An invalid image draws nothing.
    Grey8 invalid(Kelvo_Size(0, 0), 40);
    EXPECT_EQ((drawToQDBuffer<uint8_t, 1>(invalid, drawn, nullptr)), 9);
    EXPECT_EQ(drawn, nullptr);
}

TEST(DrawToQDBuffer, SixteenBitAndFloatImages) {
    Kelvo_QDGWorldBuffer* drawn = nullptr;
    // Above 12 bits: drawn as 16-bit grey; multiples of 257 come back exactly.
    auto wide = imageOf<Grey16, uint16_t>(3, 2, {0, 257 * 17, 257 * 128, 257 * 200, 65535, 257});
    ASSERT_EQ((drawToQDBuffer<uint16_t, 1>(*wide, drawn, nullptr)), 0);
    std::unique_ptr<Kelvo_QDGWorldBuffer> ww(drawn);
    std::vector<uint16_t> back(6);
    ASSERT_EQ((dataFromQDContext<uint16_t, 1>(*ww, back.data(), 0)), 0);
    EXPECT_EQ(back, samplesOf(*wide));

    // Up to 12 bits: stretched between the extremes to 8-bit grey, in single precision (the top
    // of 100 .. 4095 comes to 254.99998, so 254).
    auto narrow = imageOf<Grey16, uint16_t>(3, 1, {100, 4095, 1000});
    ASSERT_EQ((drawToQDBuffer<uint16_t, 1>(*narrow, drawn, nullptr)), 0);
    std::unique_ptr<Kelvo_QDGWorldBuffer> nw(drawn);
    EXPECT_EQ(rgbAt(*nw, 0, 0), 0x000000u);
    EXPECT_EQ(rgbAt(*nw, 1, 0), 0xFEFEFEu);
    EXPECT_EQ(rgbAt(*nw, 2, 0), 0x393939u); // 900 x 255 / 3995 = 57.4
    auto exact = imageOf<Grey16, uint16_t>(2, 1, {0, 255});
    ASSERT_EQ((drawToQDBuffer<uint16_t, 1>(*exact, drawn, nullptr)), 0);
    std::unique_ptr<Kelvo_QDGWorldBuffer> ew(drawn);
    EXPECT_EQ(rgbAt(*ew, 0, 0), 0x000000u);
    EXPECT_EQ(rgbAt(*ew, 1, 0), 0xFFFFFFu);

    // Floats: stretched between their extremes; whole samples 0 .. 255 come back exactly.
    std::vector<float> levels{0, 255, 17, 128, 64, 200};
    auto floats = imageOf<GreyF, float>(2, 3, levels);
    ASSERT_EQ((drawToQDBuffer<float, 1>(*floats, drawn, nullptr)), 0);
    std::unique_ptr<Kelvo_QDGWorldBuffer> fw(drawn);
    std::vector<float> fback(6);
    ASSERT_EQ((dataFromQDContext<float, 1>(*fw, fback.data(), 0)), 0);
    EXPECT_EQ(fback, levels);
    // The image is left as it was.
    EXPECT_EQ(samplesOf(*floats), levels);
}

// ---------------------------------------------------------------------------------------------
// Operations

TEST(KelvoImage2DT, ArithmeticWrapsAndMakesNewImages) {
    auto a = imageOf<Grey8, uint8_t>(3, 1, {200, 10, 0});
    auto b = imageOf<Grey8, uint8_t>(3, 1, {100, 20, 255});
    std::unique_ptr<Grey8> sum(*a + *b);
    std::unique_ptr<Grey8> diff(*a - *b);
    std::unique_ptr<Grey8> plus(*a + uint8_t(60));
    std::unique_ptr<Grey8> minus(*a - uint8_t(11));
    ASSERT_TRUE(sum && diff && plus && minus);
    EXPECT_EQ(samplesOf(*sum), (std::vector<uint8_t>{44, 30, 255}));
    EXPECT_EQ(samplesOf(*diff), (std::vector<uint8_t>{100, 246, 1}));
    EXPECT_EQ(samplesOf(*plus), (std::vector<uint8_t>{4, 70, 60}));
    EXPECT_EQ(samplesOf(*minus), (std::vector<uint8_t>{189, 255, 245}));
    // The operands are untouched.
    EXPECT_EQ(samplesOf(*a), (std::vector<uint8_t>{200, 10, 0}));
    EXPECT_EQ(samplesOf(*b), (std::vector<uint8_t>{100, 20, 255}));

    auto f = imageOf<GreyF, float>(2, 1, {1.5f, -2.0f});
    std::unique_ptr<GreyF> twice(*f + *f);
    EXPECT_EQ(samplesOf(*twice), (std::vector<float>{3.0f, -4.0f}));
    auto w = imageOf<Grey16, uint16_t>(2, 1, {65535, 3});
    std::unique_ptr<Grey16> over(*w + uint16_t(2));
    EXPECT_EQ(samplesOf(*over), (std::vector<uint16_t>{1, 5}));

    // Another size: status 9 on the left image, null.
    auto other = imageOf<Grey8, uint8_t>(1, 3, {1, 2, 3});
    Grey8 invalid(Kelvo_Size(0, 1), 40);
    EXPECT_EQ(*a + *other, nullptr);
    EXPECT_EQ(a->Error(), 9);
    EXPECT_EQ(other->Error(), 0);
    auto c = imageOf<Grey8, uint8_t>(3, 1, {1, 2, 3});
    EXPECT_EQ(*c - invalid, nullptr);
    EXPECT_EQ(c->Error(), 9);
    EXPECT_EQ(invalid + uint8_t(1), nullptr);
    EXPECT_EQ(invalid.Error(), -50); // unchanged by the operator
}

TEST(KelvoImage2DT, CropTakesTheRectangle) {
    std::vector<uint8_t> nine(9);
    std::iota(nine.begin(), nine.end(), 0);
    auto g = imageOf<Grey8, uint8_t>(3, 3, nine);
    std::unique_ptr<Grey8> part(g->crop(Kelvo_Rect(Rect{1, 1, 3, 3})));
    ASSERT_TRUE(part);
    EXPECT_EQ(part->width(), 2);
    EXPECT_EQ(samplesOf(*part), (std::vector<uint8_t>{4, 5, 7, 8}));
    std::unique_ptr<Grey8> whole(g->crop(g->bounds()));
    EXPECT_EQ(samplesOf(*whole), nine);

    std::vector<uint8_t> rgbSamples(2 * 3 * 3);
    std::iota(rgbSamples.begin(), rgbSamples.end(), 0);
    auto rgb = imageOf<RGB, uint8_t>(3, 2, rgbSamples);
    std::unique_ptr<RGB> column(rgb->crop(Kelvo_Rect(Rect{0, 2, 2, 3})));
    ASSERT_TRUE(column);
    EXPECT_EQ(samplesOf(*column), (std::vector<uint8_t>{6, 7, 8, 15, 16, 17}));

    for (Rect r : {Rect{0, 0, 4, 2}, Rect{-1, 0, 1, 1}, Rect{1, 1, 1, 3}, Rect{0, 2, 3, 4}}) {
        auto fresh = imageOf<Grey8, uint8_t>(3, 3, nine);
        EXPECT_EQ(fresh->crop(Kelvo_Rect(r)), nullptr)
            << r.top << "," << r.left << "," << r.bottom << "," << r.right;
        EXPECT_EQ(fresh->Error(), -50);
        EXPECT_EQ(samplesOf(*fresh), nine);
    }
}

TEST(KelvoImage2DT, ScaleByNearestNeighbour) {
    auto g = imageOf<Grey8, uint8_t>(2, 2, {1, 2, 3, 4});
    std::unique_ptr<Grey8> up(g->scale(Kelvo_Size(4, 4)));
    ASSERT_TRUE(up);
    EXPECT_EQ(samplesOf(*up), (std::vector<uint8_t>{1, 1, 2, 2, 1, 1, 2, 2, 3, 3, 4, 4, 3, 3, 4, 4}));
    std::unique_ptr<Grey8> same(g->scale(Kelvo_Size(2, 2)));
    ASSERT_TRUE(same);
    EXPECT_NE(same->buffer(), g->buffer());
    EXPECT_EQ(samplesOf(*same), samplesOf(*g));
    EXPECT_EQ(g->scale(Kelvo_Size(0, 4)), nullptr);
    EXPECT_EQ(g->scale(Kelvo_Size(4, -1)), nullptr);
    EXPECT_EQ(g->Error(), 0);

    auto argb = imageOf<ARGB, uint8_t>(2, 1, {1, 2, 3, 4, 5, 6, 7, 8});
    std::unique_ptr<ARGB> wide(argb->scale(Kelvo_Size(3, 2)));
    ASSERT_TRUE(wide);
    // x scale 2/3: columns 0, 0, 1 on both rows.
    EXPECT_EQ(samplesOf(*wide),
              (std::vector<uint8_t>{1, 2, 3, 4, 1, 2, 3, 4, 5, 6, 7, 8, 1, 2, 3, 4, 1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST(KelvoImage2DT, BlendWeighsTheTwoImages) {
    auto a = imageOf<Grey8, uint8_t>(3, 1, {0, 100, 255});
    auto b = imageOf<Grey8, uint8_t>(3, 1, {200, 50, 0});
    // b x 0.75 + a x 0.25, truncated.
    std::unique_ptr<Grey8> mix(a->blend(*b, 0.25f));
    ASSERT_TRUE(mix);
    EXPECT_EQ(samplesOf(*mix), (std::vector<uint8_t>{150, 62, 63}));
    std::unique_ptr<Grey8> allA(a->blend(*b, 1.0f));
    EXPECT_EQ(samplesOf(*allA), samplesOf(*a));

    auto fa = imageOf<GreyF, float>(2, 1, {1.0f, -3.0f});
    auto fb = imageOf<GreyF, float>(2, 1, {2.0f, 5.0f});
    std::unique_ptr<GreyF> half(fa->blend(*fb, 0.5f));
    EXPECT_EQ(samplesOf(*half), (std::vector<float>{1.5f, 1.0f}));

    // Weights outside [0, 1] and NaN never reach an undefined conversion.
    std::unique_ptr<Grey8> wild(a->blend(*b, 1e30f));
    ASSERT_TRUE(wild);
    std::unique_ptr<Grey8> nan(a->blend(*b, std::nanf("")));
    ASSERT_TRUE(nan);
    EXPECT_EQ(samplesOf(*nan), std::vector<uint8_t>(3, 0));

    auto other = imageOf<Grey8, uint8_t>(1, 1, {9});
    EXPECT_EQ(a->blend(*other, 0.5f), nullptr);
    EXPECT_EQ(a->Error(), 9);
    EXPECT_EQ(samplesOf(*a), (std::vector<uint8_t>{0, 100, 255}));
}

TEST(KelvoImage2DT, InvertWorksInPlace) {
    auto g = imageOf<Grey8, uint8_t>(3, 1, {10, 20, 30});
    uint8_t* before = g->buffer();
    g->invert();
    EXPECT_EQ(g->buffer(), before);
    EXPECT_EQ(samplesOf(*g), (std::vector<uint8_t>{20, 10, 0}));
    // The largest sample of every channel together.
    auto rgb = imageOf<RGB, uint8_t>(1, 2, {1, 50, 3, 4, 5, 6});
    rgb->invert();
    EXPECT_EQ(samplesOf(*rgb), (std::vector<uint8_t>{49, 0, 47, 46, 45, 44}));
    auto f = imageOf<GreyF, float>(2, 1, {-1.0f, 2.5f});
    f->invert();
    EXPECT_EQ(samplesOf(*f), (std::vector<float>{3.5f, 0.0f}));
    Grey8 invalid(Kelvo_Size(0, 0), 40);
    invalid.invert();
}

TEST(KelvoImage2DT, NormaliseEachChannel) {
    auto g = imageOf<Grey8, uint8_t>(3, 1, {10, 20, 30});
    std::unique_ptr<Grey8> n(g->normalizeImage(0, 255));
    std::unique_ptr<Grey8> reversed(g->normalizeImage(255, 0));
    ASSERT_TRUE(n && reversed);
    EXPECT_EQ(samplesOf(*n), (std::vector<uint8_t>{0, 127, 255}));
    EXPECT_EQ(samplesOf(*reversed), samplesOf(*n));
    EXPECT_EQ(samplesOf(*g), (std::vector<uint8_t>{10, 20, 30}));

    auto w = imageOf<Grey16, uint16_t>(2, 1, {0, 65535});
    std::unique_ptr<Grey16> w2(w->normalizeImage(100, 200));
    EXPECT_EQ(samplesOf(*w2), (std::vector<uint16_t>{100, 200}));
    auto f = imageOf<GreyF, float>(3, 1, {2.0f, 4.0f, 6.0f});
    std::unique_ptr<GreyF> f2(f->normalizeImage(0.0f, 1.0f));
    EXPECT_EQ(samplesOf(*f2), (std::vector<float>{0.0f, 0.5f, 1.0f}));

    // Channels apart; a constant channel becomes low.
    auto rgb = imageOf<RGB, uint8_t>(3, 1, {0, 7, 10, 50, 7, 20, 100, 7, 40});
    std::unique_ptr<RGB> c(rgb->normalizeImage(10, 110));
    ASSERT_TRUE(c);
    EXPECT_EQ(samplesOf(*c), (std::vector<uint8_t>{10, 10, 10, 60, 10, 43, 110, 10, 110}));
    auto argb = imageOf<ARGB, uint8_t>(2, 1, {255, 0, 0, 0, 0, 255, 255, 255});
    std::unique_ptr<ARGB> a(argb->normalizeImage(0, 100));
    EXPECT_EQ(samplesOf(*a), (std::vector<uint8_t>{100, 0, 0, 0, 0, 100, 100, 100}));

    // Monochrome images are not normalised.
    auto mono = std::make_unique<Grey8>(Kelvo_Size(2, 1), 1);
    EXPECT_EQ(mono->normalizeImage(0, 255), nullptr);
    Grey8 invalid(Kelvo_Size(0, 0), 40);
    EXPECT_EQ(invalid.normalizeImage(0, 255), nullptr);
}

TEST(KelvoImage2DT, ResultsKeepPixelFormatAndTheirDepth) {
    // Operators, blend and scale take the image's depth; crop and normalisation the default.
    DepthImage<uint8_t, 1> a(Kelvo_Size(2, 2), 1, 1);
    DepthImage<uint8_t, 1> b(Kelvo_Size(2, 2), 1, 1);
    std::unique_ptr<Grey8> results[] = {
        std::unique_ptr<Grey8>(a + b),
        std::unique_ptr<Grey8>(a - uint8_t(1)),
        std::unique_ptr<Grey8>(a.blend(b, 0.5f)),
        std::unique_ptr<Grey8>(a.scale(Kelvo_Size(3, 3))),
        std::unique_ptr<Grey8>(a.scale(Kelvo_Size(2, 2))),
    };
    for (const auto& r : results) {
        ASSERT_TRUE(r);
        EXPECT_EQ(r->pixelFormat(), 1u);
        EXPECT_EQ(r->depth(), 1);
    }
    std::unique_ptr<Grey8> cropped(a.crop(Kelvo_Rect(Rect{0, 0, 1, 1})));
    ASSERT_TRUE(cropped);
    EXPECT_EQ(cropped->pixelFormat(), 1u);
    EXPECT_EQ(cropped->depth(), 8);
    DepthImage<uint8_t, 1> grey(Kelvo_Size(2, 2), 40, 4);
    std::unique_ptr<Grey8> normal(grey.normalizeImage(0, 9));
    ASSERT_TRUE(normal);
    EXPECT_EQ(normal->pixelFormat(), 40u);
    EXPECT_EQ(normal->depth(), 8);

    // Copies and clones keep the depth and own their samples.
    std::unique_ptr<Grey8> clone(a.clone());
    ASSERT_TRUE(clone);
    EXPECT_EQ(clone->depth(), 1);
    EXPECT_NE(clone->buffer(), a.buffer());
    EXPECT_TRUE(clone->bufferLocked());
}

} // namespace
