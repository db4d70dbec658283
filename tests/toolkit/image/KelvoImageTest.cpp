// The image classes: their statistics, histograms and tone tables against numpy over PIL
// pictures, conversions between the six formats and with 32-bit worlds, and the pixel, geometry
// and tone operations on small fixtures worked out by hand.
#include "ImagePeer.h"
#include "KelvoImage.h"
#include "WorldSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using worldsupport::pixelAt;
using worldsupport::rgbAt;
using worldsupport::worldOf;

using ImagePtr = std::unique_ptr<Kelvo_Image>;

constexpr uint32_t kMono = Kelvo_Image::kMonochrome;
constexpr uint32_t kGrey = Kelvo_Image::kGrey;
constexpr uint32_t kFloat = Kelvo_Image::kGreyFloat;
constexpr uint32_t kG16 = Kelvo_Image::kGrey16;
constexpr uint32_t kRGB = Kelvo_Image::kRGB;
constexpr uint32_t kARGB = Kelvo_Image::kARGB;
constexpr uint32_t kFormats[] = {kMono, kRGB, kARGB, kGrey, kG16, kFloat};

ImagePtr imageOf(uint32_t format, int w, int h, const void* data) {
    ImagePtr image(Kelvo_Image::createWithData(Kelvo_OSType(format), Kelvo_Size(w, h), data));
    EXPECT_TRUE(image && image->qtObjIsValid()) << format;
    return image;
}

template <class T> ImagePtr imageOf(uint32_t format, int w, int h, const std::vector<T>& samples) {
    EXPECT_EQ(samples.size() * sizeof(T), size_t(w) * h * Kelvo_Image::bytesPerPixelOf(format));
    return imageOf(format, w, h, static_cast<const void*>(samples.data()));
}

template <class T> std::vector<T> samplesOf(const Kelvo_Image& image) {
    auto& any = const_cast<Kelvo_Image&>(image);
    const auto* p = static_cast<const T*>(any.buffer());
    return p ? std::vector<T>(p, p + any.bufferSize() / sizeof(T)) : std::vector<T>();
}

std::string bytesOf(Kelvo_Image& image) {
    return std::string(static_cast<const char*>(image.buffer()), image.bufferSize());
}

// ---------------------------------------------------------------------------------------------
// numpy's answers over PIL pictures

// A Mandelbrot grey (its first two samples forced to 0 and 255, so that the float image's bytes
// are its samples), 16-bit samples from it, an RGB picture and an ARGB one with a radial alpha;
// per channel numpy's statistics, bins and the images the equalisation and contrast-stretch
// tables make.
const char* kPeerScript = R"(import sys, os
import numpy as np
from PIL import Image
out = sys.argv[1]
W, H = 64, 48
grey = np.asarray(Image.effect_mandelbrot((W, H), (-2.0, -1.5, 1.0, 1.5), 100), dtype=np.uint8).copy()
grey.flat[0] = 0
grey.flat[1] = 255
ramp = np.asarray(Image.linear_gradient('L').resize((W, H)), dtype=np.uint8)
noise = np.asarray(Image.effect_noise((W, H), 40), dtype=np.uint8)
radial = np.asarray(Image.radial_gradient('L').resize((W, H)), dtype=np.uint8)
rgb = np.asarray(Image.merge('RGB', [Image.fromarray(grey), Image.fromarray(ramp), Image.fromarray(noise)]), dtype=np.uint8)
argb = np.dstack([radial, rgb])
rng = np.random.default_rng(5)
g16 = (grey.astype(np.uint16) * 257 - rng.integers(0, 200, grey.shape) * (grey > 0)).astype(np.uint16)
images = {'mono': np.where(grey < 129, 0, 255).astype(np.uint8).reshape(H, W, 1), 'grey': grey.reshape(H, W, 1), 'float': grey.astype(np.float32).reshape(H, W, 1),
          'g16': g16.reshape(H, W, 1), 'rgb': rgb, 'argb': argb}
for name, a in images.items():
    a.tofile(os.path.join(out, name + '.bin'))
lines = []
def put(key, values):
    lines.append(key + ' ' + ' '.join(repr(float(v)) for v in values))
def eq_table(x):
    bins = np.bincount(x, minlength=256)
    cum = np.cumsum(bins).astype(np.uint32)
    return np.floor(cum.astype(np.float32) * (np.float32(255) / np.float32(x.size))).astype(np.uint8)
def cs_table(x, low, high):
    bins = np.bincount(x, minlength=256)
    cum = np.cumsum(bins).astype(np.uint32)
    total = x.size
    scale = np.float32(100) / np.float32(total)
    lo_p = np.trunc(cum.astype(np.float32) * scale).astype(np.int64)
    hi_p = np.trunc((total - cum).astype(np.float32) * scale).astype(np.int64)
    li = int(np.nonzero(lo_p >= low)[0][0])
    hi = int(np.nonzero(hi_p >= high)[0][-1])
    t = np.zeros(256, dtype=np.int64)
    if li != hi:
        j = np.arange(256)
        mid = (j > li) & (j < hi)
        t[mid] = 255 * (j[mid] - li) // (hi - li)
        t[j >= max(hi, li + 1)] = 255
    return t
for name, a in images.items():
    for c in range(a.shape[2]):
        x = a[:, :, c].ravel()
        xd = x.astype(np.float64)
        mean = xd.mean()
        put('stats_%s_%d' % (name, c), [x.size, mean, xd.var(ddof=1), xd.std(ddof=1), np.abs(xd - mean).mean(), xd.min(), xd.max()])
        if name != 'g16':
            b = x.astype(np.uint8)
            put('bins_%s_%d' % (name, c), np.bincount(b, minlength=256))
    if name in ('g16', 'mono'):
        continue
    b = a.astype(np.uint8)
    eq = np.stack([eq_table(b[:, :, c].ravel())[b[:, :, c]] for c in range(a.shape[2])], axis=2)
    cs = np.stack([cs_table(b[:, :, c].ravel(), 2, 10)[b[:, :, c]] for c in range(a.shape[2])], axis=2)
    eq.astype(a.dtype).tofile(os.path.join(out, name + '_eq.bin'))
    cs.astype(a.dtype).tofile(os.path.join(out, name + '_cs.bin'))
open(os.path.join(out, 'expected.txt'), 'w').write('\n'.join(lines) + '\n')
)";

struct Peer {
    std::string dir;
    std::map<std::string, std::vector<double>> expected;
};

const Peer& peer() {
    static testsupport::ScratchDir scratch("image-classes");
    static const Peer p = [] {
        Peer out;
        out.dir = scratch.path().string();
        if (imagepeer::runPeer(scratch, kPeerScript))
            out.expected = imagepeer::valuesOf(scratch.file("expected.txt"));
        return out;
    }();
    return p;
}

std::string peerFile(const std::string& name) {
    return testsupport::readFile(peer().dir + "/" + name);
}

void near(double got, double want, const std::string& what) {
    EXPECT_NEAR(got, want, std::fabs(want) * 1e-12 + 1e-9) << what;
}

TEST(Kelvo_Image, StatisticsHistogramsAndTablesMatchNumpy) {
    const Peer& p = peer();
    ASSERT_FALSE(p.expected.empty());
    struct Case {
        const char* name;
        uint32_t format;
        uint16_t channels;
    } cases[] = {{"mono", kMono, 1}, {"grey", kGrey, 1}, {"float", kFloat, 1},
                 {"g16", kG16, 1},   {"rgb", kRGB, 3},   {"argb", kARGB, 4}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string pixels = peerFile(std::string(c.name) + ".bin");
        ImagePtr image = imageOf(c.format, 64, 48, pixels.data());
        ASSERT_TRUE(image);
        ASSERT_EQ(bytesOf(*image), pixels);
        EXPECT_EQ(image->channelsCount(), c.channels);

        std::unique_ptr<Kelvo_QTObjectsList> infos(image->channelsInfo());
        ASSERT_TRUE(infos);
        EXPECT_EQ(infos->count(), c.channels);
        for (uint16_t ch = 0; ch < c.channels; ++ch) {
            const std::string key = std::string(c.name) + "_" + std::to_string(ch);
            const std::vector<double>& want = p.expected.at("stats_" + key);
            std::unique_ptr<Kelvo_ImageInfo> info(image->channelInfo(ch));
            ASSERT_TRUE(info) << key;
            std::unique_ptr<Kelvo_QTObj> listed((*infos)[ch]);
            ASSERT_TRUE(listed && listed->isA("Kelvo_ImageInfo"));
            EXPECT_EQ(static_cast<Kelvo_ImageInfo*>(listed.get())->mean, info->mean) << key;
            EXPECT_EQ(double(info->count), want[0]) << key;
            near(info->mean, want[1], key);
            near(info->variance, want[2], key);
            near(info->stdDeviation, want[3], key);
            near(info->meanAbsDeviation, want[4], key);
            EXPECT_EQ(info->min, want[5]) << key;
            EXPECT_EQ(info->max, want[6]) << key;
            if (c.format == kG16) continue;
            std::unique_ptr<Kelvo_Histogram> h(image->channelHistogram(ch));
            ASSERT_TRUE(h) << key;
            const std::vector<double>& bins = p.expected.at("bins_" + key);
            for (uint32_t b = 0; b < 256; ++b)
                ASSERT_EQ(h->intensityCount(b), bins[b]) << key << " bin " << b;
        }

        if (c.format == kG16) {
            // 16-bit samples have no 8-bit histogram.
            EXPECT_EQ(image->channelHistogram(0), nullptr);
            EXPECT_EQ(image->channelsHistogram(), nullptr);
            EXPECT_EQ(image->histEqualizeImage(), nullptr);
            EXPECT_EQ(image->histContrastStretchImage(2, 10), nullptr);
            continue;
        }
        std::unique_ptr<Kelvo_QTObjectsList> hists(image->channelsHistogram());
        ASSERT_TRUE(hists);
        EXPECT_EQ(hists->count(), c.channels);

        ImagePtr eq(image->histEqualizeImage());
        ASSERT_TRUE(eq);
        EXPECT_STREQ(eq->qtObjName(), image->qtObjName());
        ImagePtr cs(image->histContrastStretchImage(2, 10));
        ASSERT_TRUE(cs);
        // Monochrome tone operations give unchanged copies.
        const bool mono = c.format == kMono;
        EXPECT_EQ(bytesOf(*eq), mono ? pixels : peerFile(std::string(c.name) + "_eq.bin"));
        EXPECT_EQ(bytesOf(*cs), mono ? pixels : peerFile(std::string(c.name) + "_cs.bin"));
        // The tone operations made new images and left this one alone.
        EXPECT_EQ(bytesOf(*image), pixels);
    }
}

TEST(Kelvo_Image, ChannelArgumentsAndSmallImages) {
    // The one-channel classes answer for their channel whatever is asked.
    const std::vector<uint8_t> g = {1, 2, 3, 4, 5, 6};
    ImagePtr grey = imageOf(kGrey, 3, 2, g);
    std::unique_ptr<Kelvo_ImageInfo> any(grey->channelInfo(5));
    ASSERT_TRUE(any);
    EXPECT_EQ(any->mean, 3.5);
    EXPECT_EQ(any->count, 6u);

    // RGB has three channels; ARGB's channel 3 is blue.
    std::vector<uint8_t> rgb, argb;
    for (int i = 0; i < 6; ++i) {
        rgb.insert(rgb.end(), {10, 20, 30});
        argb.insert(argb.end(), {255, 10, 20, 30});
    }
    ImagePtr colour = imageOf(kRGB, 3, 2, rgb);
    EXPECT_EQ(colour->channelInfo(3), nullptr);
    EXPECT_EQ(colour->Error(), -50);
    EXPECT_EQ(colour->channelHistogram(3), nullptr);
    std::unique_ptr<Kelvo_ImageInfo> red(colour->channelInfo(0));
    ASSERT_TRUE(red);
    EXPECT_EQ(red->mean, 10.0);
    EXPECT_EQ(red->count, 6u);
    ImagePtr alpha = imageOf(kARGB, 3, 2, argb);
    std::unique_ptr<Kelvo_ImageInfo> blue(alpha->channelInfo(3));
    ASSERT_TRUE(blue);
    EXPECT_EQ(blue->mean, 30.0);
    EXPECT_EQ(alpha->channelInfo(4), nullptr);
    std::unique_ptr<Kelvo_QTObjectsList> hists(alpha->channelsHistogram());
    ASSERT_TRUE(hists);
    ASSERT_EQ(hists->count(), 4);
    std::unique_ptr<Kelvo_QTObj> first((*hists)[0]);
    EXPECT_EQ(static_cast<Kelvo_Histogram*>(first.get())->intensityCount(255), 6.0); // alpha first
    EXPECT_EQ(static_cast<Kelvo_Histogram*>(first.get())->total(), 6u);

    // Equalising an ARGB image maps its alpha through the alpha table too: all 255 stays 255.
    ImagePtr eq(alpha->histEqualizeImage());
    ASSERT_TRUE(eq);
    EXPECT_EQ(samplesOf<uint8_t>(*eq)[0], 255);

    // Three samples are too few to describe.
    const std::vector<uint8_t> three = {1, 2, 3};
    ImagePtr tiny = imageOf(kGrey, 3, 1, three);
    EXPECT_EQ(tiny->channelInfo(0), nullptr);
    EXPECT_EQ(tiny->Error(), -50);
    EXPECT_EQ(tiny->channelsInfo(), nullptr);
}

// ---------------------------------------------------------------------------------------------
// The factory and the classes' answers

TEST(Kelvo_Image, FactoryMakesEachClass) {
    struct Case {
        uint32_t format;
        const char* name;
        int16_t depth;
        uint32_t bytesPerPixel, rowBytes;
        uint16_t channels;
        bool greys;
    } cases[] = {{kMono, "Kelvo_Image8BitMonochrome", 8, 1, 5, 1, true},
                 {kGrey, "Kelvo_Image8BitGrey", 8, 1, 5, 1, true},
                 {kFloat, "Kelvo_Image8BitGreyFloat", 8, 4, 20, 1, true},
                 {kG16, "Kelvo_Image16BitGrey", 12, 2, 10, 1, false},
                 {kRGB, "Kelvo_ImageRGB", 24, 3, 15, 3, false},
                 {kARGB, "Kelvo_ImageARGB", 32, 4, 20, 4, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Kelvo_Size size(5, 3);
        ImagePtr image(Kelvo_Image::create(Kelvo_OSType(c.format), &size));
        ASSERT_TRUE(image);
        EXPECT_TRUE(image->qtObjIsValid());
        EXPECT_STREQ(image->qtObjName(), c.name);
        EXPECT_TRUE(image->isA(c.name));
        EXPECT_TRUE(image->isA("Kelvo_Image"));
        EXPECT_TRUE(image->isA("Kelvo_QTObj"));
        EXPECT_EQ(image->isA("Kelvo_Image8Greys"), c.greys);
        EXPECT_FALSE(image->isA(nullptr));
        EXPECT_EQ(image->pixelFormat(), c.format);
        EXPECT_EQ(image->depth(), c.depth);
        EXPECT_EQ(image->bytesPerPixel(), c.bytesPerPixel);
        EXPECT_EQ(image->rowBytes(), c.rowBytes);
        EXPECT_EQ(image->channelsCount(), c.channels);
        EXPECT_EQ(image->bufferSize(), c.rowBytes * 3);
        EXPECT_EQ(image->width(), 5u);
        EXPECT_EQ(image->size(), Kelvo_Size(5, 3));
        EXPECT_EQ(image->displayQuality(), 768u);
        EXPECT_EQ(image->qtObjReference(), image->buffer());
        EXPECT_EQ(bytesOf(*image), std::string(c.rowBytes * 3, '\0'));

        // A clone is a new image of the class with the same pixels.
        ImagePtr twin(static_cast<Kelvo_Image*>(image->clone()));
        ASSERT_TRUE(twin);
        EXPECT_STREQ(twin->qtObjName(), c.name);
        EXPECT_NE(twin->buffer(), image->buffer());

        // Emptied, it is invalid and answers nothing.
        image->defaultStatus();
        EXPECT_FALSE(image->qtObjIsValid());
        EXPECT_EQ(image->width(), 0u);
        EXPECT_EQ(image->height(), 0u);
        EXPECT_EQ(image->buffer(), nullptr);
        EXPECT_EQ(image->bufferSize(), 0u);
        EXPECT_EQ(image->clone(), nullptr);
        EXPECT_EQ(image->channelInfo(0), nullptr);
        EXPECT_EQ(image->channelsHistogram(), nullptr);
        EXPECT_EQ(image->opAddConst(1), nullptr);
        EXPECT_EQ(image->histEqualizeImage(), nullptr);
        EXPECT_EQ(image->image(static_cast<Kelvo_DisplayTransform*>(nullptr)), nullptr);
        EXPECT_FALSE(image->value(Kelvo_Point(0, 0), Kelvo_ImageValue()));
        EXPECT_EQ(image->Error(), 0);
    }
    for (uint32_t code : {0u, 8u, uint32_t(FOUR_CHAR_CODE("raw ")), 2u}) {
        Kelvo_Size size(2, 2);
        EXPECT_EQ(Kelvo_Image::create(Kelvo_OSType(code), &size), nullptr) << code;
        EXPECT_EQ(Kelvo_Image::createWithData(Kelvo_OSType(code), size, nullptr), nullptr) << code;
    }
    // A size that makes no buffer gives an empty image, not a failure.
    Kelvo_Size none(0, 0);
    ImagePtr empty(Kelvo_Image::create(Kelvo_OSType(kGrey), &none));
    ASSERT_TRUE(empty);
    EXPECT_FALSE(empty->qtObjIsValid());
    EXPECT_EQ(empty->width(), 0u);
}

TEST(Kelvo_Image, CreateWithDataCopiesAndDuplicateChecksItsSource) {
    std::vector<uint16_t> samples = {1, 2, 4096, 65535};
    ImagePtr image = imageOf(kG16, 2, 2, samples);
    samples[0] = 99;
    EXPECT_EQ(samplesOf<uint16_t>(*image), (std::vector<uint16_t>{1, 2, 4096, 65535}));

    int32_t status = 0;
    ImagePtr copy(Kelvo_Image::duplicate(image.get(), status));
    ASSERT_TRUE(copy);
    EXPECT_EQ(status, 0);
    EXPECT_STREQ(copy->qtObjName(), "Kelvo_Image16BitGrey");
    EXPECT_EQ(bytesOf(*copy), bytesOf(*image));
    EXPECT_NE(copy->buffer(), image->buffer());

    EXPECT_EQ(Kelvo_Image::duplicate(nullptr, status), nullptr);
    EXPECT_EQ(status, 79);
    // A source that reports itself invalid with a status.
    Kelvo_Image8BitGrey failed;
    EXPECT_EQ(failed.channelInfo(0), nullptr);
    const std::vector<uint8_t> three = {1, 2, 3};
    Kelvo_Image8BitGrey small(Kelvo_Size(3, 1), const_cast<uint8_t*>(three.data()));
    EXPECT_EQ(small.channelInfo(0), nullptr); // sets -50
    small.deleteDataBuffer();
    status = 0;
    EXPECT_EQ(Kelvo_Image::duplicate(&small, status), nullptr);
    EXPECT_EQ(status, 79);

    // The display quality travels with a copy.
    image->displayQuality() = 512;
    Kelvo_ImageRGB rgb;
    rgb = *image;
    EXPECT_EQ(rgb.displayQuality(), 512u);
}

// ---------------------------------------------------------------------------------------------
// Conversions

// A PIL picture as 32-bit world bytes, and numpy's grey and monochrome cut of it.
const char* kWorldScript = R"(import sys, os
import numpy as np
from PIL import Image
out = sys.argv[1]
im = Image.effect_mandelbrot((9, 7), (-2.0, -1.5, 1.0, 1.5), 60).convert('RGB')
rgb = np.asarray(Image.merge('RGB', [im.getchannel(0), Image.linear_gradient('L').resize((9, 7)),
                                     Image.effect_noise((9, 7), 60)]), dtype=np.uint8)
alpha = np.asarray(Image.radial_gradient('L').resize((9, 7)), dtype=np.uint8)
argb = np.dstack([alpha, rgb])
argb.tofile(os.path.join(out, 'argb.bin'))
r, g, b = [rgb[:, :, i].astype(np.uint32) for i in range(3)]
grey = ((117 * b + 601 * g + 306 * r) >> 10).astype(np.uint8)
grey.tofile(os.path.join(out, 'grey.bin'))
np.where(grey < 129, 0, 255).astype(np.uint8).tofile(os.path.join(out, 'mono.bin'))
)";

struct WorldPeer {
    std::string argb, grey, mono;
};

const WorldPeer& worldPeer() {
    static testsupport::ScratchDir scratch("image-worlds");
    static const WorldPeer p = [] {
        WorldPeer out;
        if (!imagepeer::runPeer(scratch, kWorldScript)) return out;
        out.argb = testsupport::readFile(scratch.file("argb.bin"));
        out.grey = testsupport::readFile(scratch.file("grey.bin"));
        out.mono = testsupport::readFile(scratch.file("mono.bin"));
        return out;
    }();
    return p;
}

TEST(Kelvo_Image, FromWorldsInEveryFormat) {
    const WorldPeer& p = worldPeer();
    ASSERT_EQ(p.argb.size(), 63u * 4);
    auto world = worldOf(9, 7, p.argb);
    std::string rgb;
    for (size_t i = 0; i < 63; ++i)
        rgb.append(p.argb, i * 4 + 1, 3);
    std::vector<uint16_t> g16;
    std::vector<float> gf;
    for (char c : p.grey) {
        g16.push_back(uint16_t(uint8_t(c) * 257));
        gf.push_back(float(uint8_t(c)));
    }
    for (uint32_t format : kFormats) {
        SCOPED_TRACE(format);
        ImagePtr image(Kelvo_Image::createWithQDContext(*world, Kelvo_OSType(format), nullptr));
        ASSERT_TRUE(image);
        EXPECT_EQ(image->Error(), 0);
        EXPECT_EQ(image->size(), Kelvo_Size(9, 7));
        switch (format) {
        case kMono:
            EXPECT_EQ(bytesOf(*image), p.mono);
            break;
        case kGrey:
            EXPECT_EQ(bytesOf(*image), p.grey);
            break;
        case kG16:
            EXPECT_EQ(samplesOf<uint16_t>(*image), g16);
            break;
        case kFloat:
            EXPECT_EQ(samplesOf<float>(*image), gf);
            break;
        case kRGB:
            EXPECT_EQ(bytesOf(*image), rgb);
            break;
        case kARGB:
            EXPECT_EQ(bytesOf(*image), p.argb);
            break;
        }
        // Assigning a world to an image with a buffer of the same size reads it again.
        image->erase(nullptr);
        *image = *world;
        EXPECT_EQ(image->Error(), 0);
        ImagePtr again(Kelvo_Image::createWithQDContext(*world, Kelvo_OSType(format), nullptr));
        EXPECT_EQ(bytesOf(*image), bytesOf(*again));
    }

    // The monochrome cut: grey 128 is black, 129 white.
    auto cut = worldOf(2, 1, std::string("\xFF\x80\x80\x80\xFF\x81\x81\x81", 8));
    ImagePtr mono(Kelvo_Image::createWithQDContext(*cut, Kelvo_OSType(kMono), nullptr));
    ASSERT_TRUE(mono);
    EXPECT_EQ(samplesOf<uint8_t>(*mono), (std::vector<uint8_t>{0, 255}));

    // With a size the world is drawn scaled into it: a uniform world stays uniform.
    auto flat = worldOf(4, 4, std::string(64, '\x00').replace(0, 64, std::string(16 * 4, '\x00')));
    for (int i = 0; i < 16; ++i)
        std::memcpy(flat->baseAddress() + i * 4, "\xFF\x10\x20\x30", 4);
    Kelvo_Size half(2, 2);
    ImagePtr scaled(Kelvo_Image::createWithQDContext(*flat, Kelvo_OSType(kRGB), &half));
    ASSERT_TRUE(scaled);
    EXPECT_EQ(scaled->size(), half);
    EXPECT_EQ(bytesOf(*scaled), std::string("\x10\x20\x30\x10\x20\x30\x10\x20\x30\x10\x20\x30", 12));

    // A world that is not 32-bit cannot be read: no image rather than one of zeros.
    Kelvo_QDGWorldBuffer greyWorld(4, 4, 40);
    ASSERT_TRUE(greyWorld.qtObjIsValid());
    EXPECT_EQ(Kelvo_Image::createWithQDContext(greyWorld, Kelvo_OSType(kGrey), nullptr), nullptr);
    Kelvo_Image8BitGrey fromGrey;
    fromGrey.initWithQDContext(&greyWorld);
    EXPECT_EQ(fromGrey.Error(), 9);

    // No world, or an empty one.
    Kelvo_ImageRGB target;
    target.initWithQDContext(nullptr);
    EXPECT_EQ(target.Error(), -108);
    Kelvo_QDGWorldBuffer nothing(k32ARGBPixelFormat);
    target.initWithQDContext(&nothing);
    EXPECT_NE(target.Error(), 0);
    EXPECT_FALSE(target.qtObjIsValid());
}

TEST(Kelvo_Image, ToWorldsAndBetweenFormats) {
    const WorldPeer& p = worldPeer();
    auto world = worldOf(9, 7, p.argb);
    ImagePtr argb(Kelvo_Image::createWithQDContext(*world, Kelvo_OSType(kARGB), nullptr));
    ImagePtr grey(Kelvo_Image::createWithQDContext(*world, Kelvo_OSType(kGrey), nullptr));
    ASSERT_TRUE(argb && grey);

    // Colour images show their pixels exactly; grey ones show grey.
    std::unique_ptr<Kelvo_QDGWorldBuffer> shown(argb->image(static_cast<Kelvo_DisplayTransform*>(nullptr)));
    ASSERT_TRUE(shown);
    EXPECT_EQ(argb->Error(), 0);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 9; ++x)
            ASSERT_EQ(pixelAt(*shown, x, y), worldsupport::pixelAt(*world, x, y)) << x << "," << y;
    std::unique_ptr<Kelvo_QDGWorldBuffer> greyShown(
        grey->image(static_cast<Kelvo_DisplayTransform*>(nullptr)));
    ASSERT_TRUE(greyShown);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 9; ++x) {
            const uint32_t g = uint8_t(p.grey[size_t(y) * 9 + x]);
            ASSERT_EQ(rgbAt(*greyShown, x, y), g << 16 | g << 8 | g) << x << "," << y;
        }

    // Every format copied into every other: grey-valued pixels survive wherever no rounding is
    // involved (the float image is shown stretched from its range, and its range here is 0..255).
    std::vector<uint8_t> greyRamp(9 * 7);
    for (size_t i = 0; i < greyRamp.size(); ++i)
        greyRamp[i] = uint8_t(i * 255 / (greyRamp.size() - 1));
    ImagePtr source = imageOf(kGrey, 9, 7, greyRamp);
    for (uint32_t from : kFormats) {
        if (from == kMono) continue; // the cut loses the greys
        ImagePtr middle(Kelvo_Image::create(Kelvo_OSType(from), nullptr));
        middle->copy(*source);
        ASSERT_TRUE(middle->qtObjIsValid()) << from;
        for (uint32_t to : kFormats) {
            SCOPED_TRACE(std::to_string(from) + " -> " + std::to_string(to));
            ImagePtr target(Kelvo_Image::create(Kelvo_OSType(to), nullptr));
            target->copy(*middle);
            ASSERT_TRUE(target->qtObjIsValid());
            EXPECT_EQ(target->size(), Kelvo_Size(9, 7));
            for (uint32_t i = 0; i < greyRamp.size(); i += 5) {
                const Kelvo_Point at(int32_t(i % 9), int32_t(i / 9));
                const Kelvo_ImageValue& v = target->value(at);
                const double want = to == kMono ? (greyRamp[i] < 129 ? 0 : 255) : greyRamp[i];
                if (to == kG16) {
                    // The grey lands in both bytes.
                    EXPECT_EQ(v.grey(), greyRamp[i] * 257.0) << i;
                } else {
                    EXPECT_EQ(v.red(), want) << i;
                    EXPECT_EQ(v.blue(), want) << i;
                }
            }
        }
    }

    // A copy refuses what is not a valid image.
    Kelvo_ImageRGB rgb;
    Kelvo_Image8BitGrey empty;
    rgb.copy(empty);
    EXPECT_EQ(rgb.Error(), 9);
    Kelvo_Rect notAnImage(4, 4);
    rgb.copy(notAnImage);
    EXPECT_EQ(rgb.Error(), 10);
    EXPECT_FALSE(rgb.qtObjIsValid());
}

// ---------------------------------------------------------------------------------------------
// Pixel access, arithmetic, geometry and tone on small fixtures

TEST(Kelvo_Image, ValuesReadAndWriteEachClass) {
    std::vector<uint8_t> argbPixels = {255, 1, 2, 3, 9, 8, 7, 6};
    ImagePtr argb = imageOf(kARGB, 2, 1, argbPixels);
    const Kelvo_ImageValue& a = argb->value(Kelvo_Point(0, 0));
    EXPECT_EQ(a.grey(), 255.0);
    EXPECT_EQ(a.red(), 1.0);
    EXPECT_EQ(a.green(), 2.0);
    EXPECT_EQ(a.blue(), 3.0);

    std::vector<uint8_t> rgbPixels = {1, 2, 3, 4, 5, 6};
    ImagePtr rgb = imageOf(kRGB, 2, 1, rgbPixels);
    Kelvo_ImageValue before;
    before.grey() = 42;
    const_cast<Kelvo_ImageValue&>(rgb->value(Kelvo_Point(5, 5))) = before;
    const Kelvo_ImageValue& c = (*rgb)(Kelvo_Point(1, 0));
    EXPECT_EQ(c.grey(), 42.0); // grey is left as it was
    EXPECT_EQ(c.red(), 4.0);
    EXPECT_EQ(c.blue(), 6.0);

    // Writes truncate toward zero and keep the low bits.
    Kelvo_ImageValue v;
    v.grey() = 300.7;
    v.red() = -1.5;
    v.green() = 256.0;
    v.blue() = 7.9;
    EXPECT_TRUE(rgb->value(Kelvo_Point(0, 0), v));
    EXPECT_EQ(samplesOf<uint8_t>(*rgb), (std::vector<uint8_t>{255, 0, 7, 4, 5, 6}));
    EXPECT_TRUE(argb->value(Kelvo_Point(1, 0), v));
    EXPECT_EQ(samplesOf<uint8_t>(*argb), (std::vector<uint8_t>{255, 1, 2, 3, 44, 255, 0, 7}));
    EXPECT_FALSE(argb->value(Kelvo_Point(2, 0), v));

    struct Grey {
        uint32_t format;
        double read;
    } greys[] = {{kGrey, 44}, {kMono, 44}, {kG16, 300}, {kFloat, 300.7f}};
    for (const Grey& g : greys) {
        SCOPED_TRACE(g.format);
        Kelvo_Size size(2, 2);
        ImagePtr image(Kelvo_Image::create(Kelvo_OSType(g.format), &size));
        EXPECT_TRUE((*image)(Kelvo_Point(1, 1), v));
        const Kelvo_ImageValue& back = image->value(Kelvo_Point(1, 1));
        EXPECT_EQ(back.grey(), g.read);
        EXPECT_EQ(back.red(), g.read);
        EXPECT_EQ(back.blue(), g.read);
        EXPECT_FALSE(image->value(Kelvo_Point(-1, 0), v));
        // A NaN or huge value is stored without undefined conversions.
        Kelvo_ImageValue odd;
        odd.grey() = std::nan("");
        EXPECT_TRUE(image->value(Kelvo_Point(0, 0), odd));
        odd.grey() = 1e300;
        EXPECT_TRUE(image->value(Kelvo_Point(0, 0), odd));
    }
}

TEST(Kelvo_Image, ArithmeticMakesNewImages) {
    const std::vector<uint8_t> a = {10, 250, 0, 100};
    const std::vector<uint8_t> b = {5, 10, 1, 100};
    ImagePtr ia = imageOf(kGrey, 2, 2, a);
    ImagePtr ib = imageOf(kGrey, 2, 2, b);
    ImagePtr sum(*ia + *ib);
    ASSERT_TRUE(sum);
    EXPECT_STREQ(sum->qtObjName(), "Kelvo_Image8BitGrey");
    EXPECT_EQ(samplesOf<uint8_t>(*sum), (std::vector<uint8_t>{15, 4, 1, 200}));
    ImagePtr diff(*ia - *ib);
    EXPECT_EQ(samplesOf<uint8_t>(*diff), (std::vector<uint8_t>{5, 240, 255, 0}));
    ImagePtr plus(*ia + 300.0); // 300 truncated to its low 8 bits: 44
    EXPECT_EQ(samplesOf<uint8_t>(*plus), (std::vector<uint8_t>{54, 38, 44, 144}));
    ImagePtr minus(*ia - 10.9);
    EXPECT_EQ(samplesOf<uint8_t>(*minus), (std::vector<uint8_t>{0, 240, 246, 90}));
    EXPECT_EQ(samplesOf<uint8_t>(*ia), a);

    // Another class, or another size: no result.
    std::vector<uint8_t> rgbPixels(12, 1);
    ImagePtr rgb = imageOf(kRGB, 2, 2, rgbPixels);
    EXPECT_EQ(ia->opAddImage(*rgb), nullptr);
    EXPECT_EQ(rgb->opAddImage(*ia), nullptr);
    ImagePtr mono = imageOf(kMono, 2, 2, a);
    EXPECT_EQ(ia->opSubImage(*mono), nullptr);
    ImagePtr wide = imageOf(kGrey, 4, 1, a);
    EXPECT_EQ(ia->opAddImage(*wide), nullptr);
    EXPECT_EQ(ia->Error(), 9);

    const std::vector<float> f = {1.5f, -2.0f, 0.25f, 8.0f};
    ImagePtr fa = imageOf(kFloat, 2, 2, f);
    ImagePtr fsum(*fa + 0.1);
    EXPECT_EQ(samplesOf<float>(*fsum),
              (std::vector<float>{1.5f + 0.1f, -2.0f + 0.1f, 0.25f + 0.1f, 8.0f + 0.1f}));
    const std::vector<uint16_t> w = {65535, 1, 2, 3};
    ImagePtr wa = imageOf(kG16, 2, 2, w);
    ImagePtr wsum(*wa + 65538.0); // low 16 bits: 2
    EXPECT_EQ(samplesOf<uint16_t>(*wsum), (std::vector<uint16_t>{1, 3, 4, 5}));
}

TEST(Kelvo_Image, CropScaleBlendNormalise) {
    // 3 x 2 RGB: pixels p0 .. p5 of (10i, 10i + 1, 10i + 2).
    std::vector<uint8_t> px;
    for (int i = 0; i < 6; ++i)
        px.insert(px.end(), {uint8_t(10 * i), uint8_t(10 * i + 1), uint8_t(10 * i + 2)});
    ImagePtr rgb = imageOf(kRGB, 3, 2, px);

    Kelvo_Rect rect(Rect{0, 1, 2, 3}); // top 0, left 1, bottom 2, right 3
    ImagePtr crop(rgb->cropImage(&rect));
    ASSERT_TRUE(crop);
    EXPECT_EQ(crop->size(), Kelvo_Size(2, 2));
    EXPECT_EQ(samplesOf<uint8_t>(*crop),
              (std::vector<uint8_t>{10, 11, 12, 20, 21, 22, 40, 41, 42, 50, 51, 52}));
    Kelvo_Rect outside(Rect{0, 2, 2, 4});
    EXPECT_EQ(rgb->cropImage(&outside), nullptr);
    EXPECT_EQ(rgb->Error(), -50);
    EXPECT_EQ(rgb->cropImage(nullptr), nullptr);
    EXPECT_EQ(rgb->Error(), -108);

    ImagePtr scaled(rgb->scaleImage(Kelvo_Size(6, 1)));
    ASSERT_TRUE(scaled);
    EXPECT_EQ(samplesOf<uint8_t>(*scaled),
              (std::vector<uint8_t>{0, 1, 2, 0, 1, 2, 10, 11, 12, 10, 11, 12, 20, 21, 22, 20, 21, 22}));
    EXPECT_EQ(rgb->scaleImage(Kelvo_Size(0, 2)), nullptr);

    // other x (1 - t) + this x t.
    std::vector<uint8_t> white(18, 200);
    ImagePtr other = imageOf(kRGB, 3, 2, white);
    ImagePtr blended(rgb->blend(*other, 0.25f));
    ASSERT_TRUE(blended);
    EXPECT_EQ(samplesOf<uint8_t>(*blended)[0], 150);  // 200 * 0.75 + 0
    EXPECT_EQ(samplesOf<uint8_t>(*blended)[17], 163); // 150 + 52 * 0.25
    ImagePtr third(rgb->blend(*other, 1.0f / 3.0f));
    EXPECT_EQ(samplesOf<uint8_t>(*third)[3], 136); // 133.33 + 3.33, truncated
    ImagePtr grey = imageOf(kGrey, 3, 2, std::vector<uint8_t>(6, 1));
    EXPECT_EQ(rgb->blend(*grey, 0.5f), nullptr);
    Kelvo_ImageRGB hollow;
    EXPECT_EQ(rgb->blend(hollow, 0.5f), nullptr);
    EXPECT_EQ(rgb->Error(), 79);

    // Each channel onto [low, high] from its own range.
    ImagePtr norm(rgb->normalizeImage(0, 100));
    ASSERT_TRUE(norm);
    EXPECT_EQ(samplesOf<uint8_t>(*norm),
              (std::vector<uint8_t>{0, 0, 0, 20, 20, 20, 40, 40, 40, 60, 60, 60, 80, 80, 80, 100, 100, 100}));
    const std::vector<float> f = {2.0f, 4.0f, 6.0f, 10.0f};
    ImagePtr fl = imageOf(kFloat, 2, 2, f);
    ImagePtr fn(fl->normalizeImage(1.0, 0.0));
    EXPECT_EQ(samplesOf<float>(*fn), (std::vector<float>{0.0f, 0.25f, 0.5f, 1.0f}));
    EXPECT_EQ(samplesOf<uint8_t>(*rgb), px);
}

TEST(Kelvo_Image, InPlaceOperations) {
    std::vector<uint8_t> g = {10, 20, 30, 40};
    ImagePtr grey = imageOf(kGrey, 2, 2, g);
    grey->invert();
    EXPECT_EQ(samplesOf<uint8_t>(*grey), (std::vector<uint8_t>{30, 20, 10, 0}));
    Kelvo_Rect corner(Rect{1, 1, 2, 2});
    grey->erase(&corner);
    EXPECT_EQ(samplesOf<uint8_t>(*grey), (std::vector<uint8_t>{30, 20, 10, 0}));
    grey->erase(nullptr);
    EXPECT_EQ(samplesOf<uint8_t>(*grey), (std::vector<uint8_t>{0, 0, 0, 0}));

    // Byte swaps: the 16-bit and float images turn their samples round, twice back again.
    const std::vector<uint16_t> w = {0x0102, 0xA0B0, 0x00FF, 0x1000};
    ImagePtr g16 = imageOf(kG16, 2, 2, w);
    g16->swapBytes();
    EXPECT_EQ(samplesOf<uint16_t>(*g16), (std::vector<uint16_t>{0x0201, 0xB0A0, 0xFF00, 0x0010}));
    g16->swapBytes();
    EXPECT_EQ(samplesOf<uint16_t>(*g16), w);
    const std::vector<float> f = {1.0f, -2.5f, 3e9f, 0.0f};
    ImagePtr fl = imageOf(kFloat, 2, 2, f);
    fl->swapBytes();
    std::string reversed(reinterpret_cast<const char*>(&f[0]), 4);
    std::reverse(reversed.begin(), reversed.end());
    EXPECT_EQ(bytesOf(*fl).substr(0, 4), reversed);
    fl->swapBytes();
    EXPECT_EQ(samplesOf<float>(*fl), f);
    ImagePtr rgb = imageOf(kRGB, 1, 1, std::vector<uint8_t>{1, 2, 3});
    rgb->swapBytes();
    EXPECT_EQ(samplesOf<uint8_t>(*rgb), (std::vector<uint8_t>{1, 2, 3}));

    // 16-bit depth: 12 bits up to 4096, 16 from 4097.
    const std::vector<uint16_t> d12 = {0, 4096}, d16 = {0, 4097};
    EXPECT_EQ(imageOf(kG16, 2, 1, d12)->depth(), 12);
    EXPECT_EQ(imageOf(kG16, 2, 1, d16)->depth(), 16);
    EXPECT_EQ(Kelvo_Image16BitGrey().depth(), 16);
}

TEST(Kelvo_Image, MonochromeToneOperationsGiveCopies) {
    const std::vector<uint8_t> m = {0, 255, 255, 0};
    ImagePtr mono = imageOf(kMono, 2, 2, m);
    ImagePtr grey = imageOf(kGrey, 2, 2, std::vector<uint8_t>{9, 9, 9, 9});
    std::vector<ImagePtr> results;
    results.emplace_back(mono->blend(*grey, 0.5f));
    results.emplace_back(mono->normalizeImage(10, 20));
    results.emplace_back(mono->histEqualizeImage());
    results.emplace_back(mono->histContrastStretchImage(5, 5));
    for (const ImagePtr& r : results) {
        ASSERT_TRUE(r);
        EXPECT_STREQ(r->qtObjName(), "Kelvo_Image8BitMonochrome");
        EXPECT_EQ(samplesOf<uint8_t>(*r), m);
        EXPECT_NE(r->buffer(), mono->buffer());
    }
    // Grey 8-bit images do not hand their pixels out as a platform buffer.
    void* pointer = nullptr;
    uint32_t length = 7;
    EXPECT_EQ(static_cast<Kelvo_Image8Greys&>(*mono).qtBuffer(pointer, length), -2053);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(pointer, nullptr);
}

TEST(Kelvo_Image, DescriptionsOfEachClass) {
    struct Case {
        uint32_t format;
        OSType type;
        int16_t depth;
        int32_t dataSize;
    } cases[] = {{kMono, FOUR_CHAR_CODE("raw "), 40, 6},  {kGrey, FOUR_CHAR_CODE("raw "), 40, 6},
                 {kFloat, FOUR_CHAR_CODE("raw "), 40, 6}, {kG16, FOUR_CHAR_CODE("b16g"), 40, 12},
                 {kRGB, FOUR_CHAR_CODE("raw "), 24, 18},  {kARGB, FOUR_CHAR_CODE("raw "), 32, 24}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        Kelvo_Size size(3, 2);
        ImagePtr image(Kelvo_Image::create(Kelvo_OSType(c.format), &size));
        image->displayQuality() = 0x200;
        std::unique_ptr<Kelvo_ImgDesc> desc(image->qtDataDescriptor());
        ASSERT_TRUE(desc) << image->Error();
        EXPECT_EQ(desc->dataFormat(), c.type);
        EXPECT_EQ(desc->qtDepth(), c.depth);
        EXPECT_EQ(desc->qtWidth(), 3);
        EXPECT_EQ(desc->qtHeight(), 2);
        EXPECT_EQ(desc->qtDataSize(), c.dataSize);
        EXPECT_EQ(desc->qtSpatialQuality(), 0x200u);
        EXPECT_EQ(desc->qtFrameCount(), 1);
    }
}

TEST(Kelvo_Image, PlanesSplitAndMerge) {
    std::vector<uint8_t> px = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    auto rgbImage = std::make_unique<Kelvo_ImageRGB>(Kelvo_Size(2, 2), px.data());
    std::unique_ptr<uint8_t[]> planar(rgbImage->bufferPlanar());
    ASSERT_TRUE(planar);
    EXPECT_EQ(std::vector<uint8_t>(planar.get(), planar.get() + 12),
              (std::vector<uint8_t>{1, 4, 7, 10, 2, 5, 8, 11, 3, 6, 9, 12}));
    std::vector<uint8_t> mem(12);
    rgbImage->splitPlanes(mem.data());
    EXPECT_EQ(std::memcmp(mem.data(), planar.get(), 12), 0);
    mem[0] = 100;
    rgbImage->mergePlanes(mem.data());
    EXPECT_EQ(samplesOf<uint8_t>(*rgbImage), (std::vector<uint8_t>{100, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
    rgbImage->splitPlanes(nullptr);
    EXPECT_EQ(rgbImage->Error(), -50);
    rgbImage->mergePlanes(nullptr);
    EXPECT_EQ(rgbImage->Error(), -108);

    Kelvo_ImageARGB argb(Kelvo_Size(2, 1), px.data());
    std::vector<uint8_t> planes(8);
    argb.splitPlanes(planes.data());
    EXPECT_EQ(planes, (std::vector<uint8_t>{1, 5, 2, 6, 3, 7, 4, 8}));
    argb.mergePlanes(planes.data());
    EXPECT_EQ(samplesOf<uint8_t>(argb), std::vector<uint8_t>(px.begin(), px.begin() + 8));
    Kelvo_ImageARGB hollow;
    EXPECT_EQ(hollow.bufferPlanar(), nullptr);
}

TEST(Kelvo_Image, FloatBytesStretchFromTheirRange) {
    const std::vector<float> f = {-1.0f, 0.0f, 1.0f, 3.0f};
    Kelvo_Image8BitGreyFloat image(Kelvo_Size(2, 2), const_cast<float*>(f.data()));
    std::unique_ptr<uint8_t[]> bytes(image.convertToChar());
    ASSERT_TRUE(bytes);
    EXPECT_EQ(std::vector<uint8_t>(bytes.get(), bytes.get() + 4), (std::vector<uint8_t>{0, 63, 127, 255}));
    EXPECT_EQ(Kelvo_Image8BitGreyFloat().convertToChar(), nullptr);
}

} // namespace
