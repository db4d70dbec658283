// Drawing utilities: every source drawn through a display transform into a new 32-bit buffer,
// the fit-and-centre of the destination, the gamma and colour-discarding post-steps, and the
// statuses of missing sources.
#include "KelvoDrawingUtils.h"

#include "KelvoCoreVideoDataDescriptors.h"
#include "KelvoGraphicsRegion.h"
#include "PlatformErrors.h"
#include "PlatformGWorlds.h"
#include "PlatformGraphicsImport.h"
#include "PlatformPictures.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

// A transform whose colour-discarding flag a test can set (nothing public writes it).
class DiscardingTransform : public Kelvo_DisplayTransform {
  public:
    DiscardingTransform(Rect* src, Rect* dst) : Kelvo_DisplayTransform(src, dst) {}
    void discard(bool on) { _discardColor = on ? 1 : 0; }
};

struct WorldDeleter {
    void operator()(OpaqueGrafPort* w) const { DisposeGWorld(w); }
};
using World = std::unique_ptr<OpaqueGrafPort, WorldDeleter>;

// A 32-bit world whose pixel (x, y) is A 255, R x * 16, G y * 16, B 200 (or one colour).
World pattern(int16_t w, int16_t h, const uint8_t* solid = nullptr) {
    GWorldPtr world = nullptr;
    const Rect bounds{0, 0, h, w};
    EXPECT_EQ(QTNewGWorld(&world, k32ARGBPixelFormat, &bounds, nullptr, nullptr, 0), noErr);
    PixMapHandle map = GetGWorldPixMap(world);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            auto* p = reinterpret_cast<uint8_t*>((*map)->baseAddr + y * GetPixRowBytes(map) + x * 4);
            if (solid) {
                std::memcpy(p, solid, 4);
            } else {
                p[0] = 255, p[1] = uint8_t(x * 16), p[2] = uint8_t(y * 16), p[3] = 200;
            }
        }
    return World(world);
}

uint32_t pixel(GWorldPtr world, int x, int y) {
    PixMapHandle map = GetGWorldPixMap(world);
    const Rect& b = (*map)->bounds;
    const auto* p = reinterpret_cast<const uint8_t*>((*map)->baseAddr + (y - b.top) * GetPixRowBytes(map) +
                                                     (x - b.left) * 4);
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// Whether the buffer holds the world's pixels exactly.
void expectSamePixels(Kelvo_QDGWorldBuffer& buffer, GWorldPtr world) {
    ASSERT_EQ(buffer.width(), Kelvo_Rect(world).width());
    ASSERT_EQ(buffer.height(), Kelvo_Rect(world).height());
    for (int y = 0; y < buffer.height(); ++y)
        for (int x = 0; x < buffer.width(); ++x)
            ASSERT_EQ(pixel(buffer.buffer(), x, y), pixel(world, x, y)) << x << "," << y;
}

// A 6 x 4 RGB PNG that PIL writes, with PIL's pixels as A, R, G, B bytes beside it.
struct PeerImage {
    std::string path;
    std::string argb;
};

const PeerImage& peerImage() {
    static testsupport::ScratchDir scratch("drawing-utils");
    static const PeerImage image = [] {
        PeerImage p;
        p.path = scratch.file("image.png");
        const std::string pixels = scratch.file("image.argb");
        int status = -1;
        const std::string said = testsupport::run(
            "/usr/bin/python3 -c \"import sys, numpy as np; from PIL import Image; "
            "a = np.random.default_rng(3).integers(0, 256, (4, 6, 3), dtype=np.uint8); "
            "Image.fromarray(a, 'RGB').save(sys.argv[1]); "
            "v = np.asarray(Image.open(sys.argv[1]).convert('RGBA'))[:, :, [3, 0, 1, 2]]; "
            "open(sys.argv[2], 'wb').write(v.tobytes())\" " +
                p.path + " " + pixels + " 2>&1",
            &status);
        if (status != 0) ADD_FAILURE() << said;
        p.argb = testsupport::readFile(pixels);
        return p;
    }();
    return image;
}

FSSpec specOf(const std::string& path) {
    FSSpec spec{};
    std::snprintf(spec.path, sizeof spec.path, "%s", path.c_str());
    return spec;
}

// The buffer's pixels in [x0, x0 + w) x [0, h), as A, R, G, B bytes.
std::string bytesOf(GWorldPtr world, int x0, int w, int h) {
    std::string out;
    for (int y = 0; y < h; ++y)
        for (int x = x0; x < x0 + w; ++x) {
            const uint32_t v = pixel(world, x, y);
            const char px[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
            out.append(px, 4);
        }
    return out;
}

} // namespace

TEST(DrawingUtils, WorldsDataAndPicturesDrawUntouchedWithoutPostSteps) {
    World source = pattern(8, 6);
    int32_t err = -1;
    // No transform, and a transform of gamma 1.0 without colour discarding: the same pixels.
    std::unique_ptr<Kelvo_QDGWorldBuffer> plain(Kelvo_DrawingUtils::draw(source.get(), nullptr, err));
    ASSERT_TRUE(plain);
    EXPECT_EQ(err, noErr);
    expectSamePixels(*plain, source.get());
    Kelvo_DisplayTransform identity;
    ASSERT_EQ(identity.Gamma(), 1.0);
    std::unique_ptr<Kelvo_QDGWorldBuffer> through(Kelvo_DrawingUtils::draw(source.get(), &identity, err));
    ASSERT_TRUE(through);
    EXPECT_EQ(err, noErr);
    expectSamePixels(*through, source.get());

    // Uncompressed data with its description, as a record and through the input record.
    Kelvo_ImgDesc desc(source.get());
    PixMapHandle map = GetGWorldPixMap(source.get());
    pointerDataRecordForCompression data{GetPixBaseAddr(map), GetPixRowBytes(map) * 6, &desc};
    compressionInputRecord input{};
    input.kind = 2;
    input.pointer = data;
    std::unique_ptr<Kelvo_QDGWorldBuffer> fromData(Kelvo_DrawingUtils::draw(input, nullptr, err));
    ASSERT_TRUE(fromData);
    EXPECT_EQ(err, noErr);
    expectSamePixels(*fromData, source.get());

    // A recorded picture, whose frame does not start at the origin.
    World port = pattern(20, 20);
    CGrafPtr savedPort = nullptr;
    GDHandle savedDevice = nullptr;
    GetGWorld(&savedPort, &savedDevice);
    SetGWorld(port.get(), nullptr);
    const Rect frame{4, 2, 10, 10}; // 8 x 6 at (2, 4)
    PicHandle picture = OpenPicture(&frame);
    ASSERT_NE(picture, nullptr);
    const Rect all{0, 0, 6, 8};
    CopyBits(GetPortBitMapForCopyBits(source.get()), GetPortBitMapForCopyBits(port.get()), &all, &frame, srcCopy,
             nullptr);
    ClosePicture();
    SetGWorld(savedPort, savedDevice);
    input.kind = 3;
    input.picture = picture;
    std::unique_ptr<Kelvo_QDGWorldBuffer> fromPicture(Kelvo_DrawingUtils::draw(input, nullptr, err));
    ASSERT_TRUE(fromPicture);
    EXPECT_EQ(err, noErr);
    expectSamePixels(*fromPicture, source.get());
    CGrafPtr after = nullptr;
    GetGWorld(&after, nullptr);
    EXPECT_EQ(after, savedPort);
    KillPicture(picture);
}

TEST(DrawingUtils, FitsAndCentresIntoTheDestinationAndClipsTheCallersTransform) {
    const uint8_t colour[4] = {255, 10, 20, 30};
    World source = pattern(100, 100, colour);
    Rect dst{0, 0, 100, 200};
    Kelvo_DisplayTransform t(nullptr, &dst);
    int32_t err = -1;
    std::unique_ptr<Kelvo_QDGWorldBuffer> out(Kelvo_DrawingUtils::draw(source.get(), &t, err));
    ASSERT_TRUE(out);
    EXPECT_EQ(err, noErr);
    EXPECT_EQ(out->width(), 200);
    EXPECT_EQ(out->height(), 100);
    const uint32_t c = 0xFF0A141E;
    for (int y : {0, 50, 99}) {
        EXPECT_EQ(pixel(out->buffer(), 49, y), 0u);
        EXPECT_EQ(pixel(out->buffer(), 50, y), c);
        EXPECT_EQ(pixel(out->buffer(), 149, y), c);
        EXPECT_EQ(pixel(out->buffer(), 150, y), 0u);
    }
    // The caller's transform now holds the source, the fitted destination and a clip to it.
    const Rect fitted{0, 50, 100, 150}, whole{0, 0, 100, 100};
    EXPECT_EQ(std::memcmp(t.DstRect(), &fitted, sizeof fitted), 0);
    EXPECT_EQ(std::memcmp(t.SrcRect(), &whole, sizeof whole), 0);
    ASSERT_NE(t.Clip(), nullptr);
    RgnHandle expected = NewRgn();
    RectRgn(expected, &fitted);
    EXPECT_TRUE(EqualRgn(t.Clip()->region(), expected));
    DisposeRgn(expected);
}

TEST(DrawingUtils, GammaAndColourDiscarding) {
    const uint8_t red[4] = {0, 255, 0, 0};
    World world = pattern(3, 2, red);
    EXPECT_EQ(Kelvo_DrawingUtils::discardColor(world.get()), noErr);
    EXPECT_EQ(pixel(world.get(), 2, 1), 0xFF4C4C4Cu); // (306 x 255) >> 10 = 76

    World source = pattern(8, 6);
    DiscardingTransform t(nullptr, nullptr);
    t.Gamma(2.0);
    ASSERT_NE(t.GammaTable(), nullptr);
    int32_t err = -1;
    std::unique_ptr<Kelvo_QDGWorldBuffer> gamma(Kelvo_DrawingUtils::draw(source.get(), &t, err));
    ASSERT_TRUE(gamma);
    EXPECT_EQ(err, noErr);
    const uint8_t* table = t.GammaTable();
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 8; ++x) {
            const uint32_t v = pixel(source.get(), x, y);
            const uint32_t want = 0xFF000000u | uint32_t(table[(v >> 16) & 0xFF]) << 16 |
                                  uint32_t(table[(v >> 8) & 0xFF]) << 8 | table[v & 0xFF];
            ASSERT_EQ(pixel(gamma->buffer(), x, y), want);
        }
    // Discarding after the gamma step: every pixel grey.
    t.discard(true);
    std::unique_ptr<Kelvo_QDGWorldBuffer> grey(Kelvo_DrawingUtils::draw(source.get(), &t, err));
    ASSERT_TRUE(grey);
    EXPECT_EQ(err, noErr);
    const uint32_t v = pixel(gamma->buffer(), 5, 3);
    const uint32_t g = (306u * ((v >> 16) & 0xFF) + 601u * ((v >> 8) & 0xFF) + 117u * (v & 0xFF)) >> 10;
    EXPECT_EQ(pixel(grey->buffer(), 5, 3), 0xFF000000u | g << 16 | g << 8 | g);

    // A world of another format is converted in place, not overwritten as 32-bit pixels.
    GWorldPtr greyWorld = nullptr;
    const Rect bounds{0, 0, 1, 4};
    ASSERT_EQ(QTNewGWorld(&greyWorld, k8IndexedGrayPixelFormat, &bounds, nullptr, nullptr, 0), noErr);
    PixMapHandle map = GetGWorldPixMap(greyWorld);
    std::memcpy((*map)->baseAddr, "\x00\x40\x80\xFF", 4);
    EXPECT_EQ(Kelvo_DrawingUtils::discardColor(greyWorld), noErr);
    EXPECT_EQ(std::memcmp((*map)->baseAddr, "\x00\x40\x80\xFF", 4), 0);
    DisposeGWorld(greyWorld);
}

TEST(DrawingUtils, MissingSourcesGiveTheirStatusesAndNoBuffer) {
    int32_t err = 0;
    World source = pattern(2, 2);
    Kelvo_ImgDesc desc(source.get());
    char byte = 0;
    pointerDataRecordForCompression empty{&byte, 0, &desc};
    EXPECT_EQ(Kelvo_DrawingUtils::draw(empty, nullptr, err), nullptr);
    EXPECT_EQ(err, -108);
    pointerDataRecordForCompression noDesc{&byte, 1, nullptr};
    EXPECT_EQ(Kelvo_DrawingUtils::draw(noDesc, nullptr, err), nullptr);
    EXPECT_EQ(err, -108);

    compressionInputRecord input{};
    input.kind = 6;
    EXPECT_EQ(Kelvo_DrawingUtils::draw(input, nullptr, err), nullptr);
    EXPECT_EQ(err, 79);
    EXPECT_EQ(Kelvo_DrawingUtils::draw(static_cast<GWorldPtr>(nullptr), nullptr, err), nullptr);
    EXPECT_EQ(err, 79);
    EXPECT_EQ(Kelvo_DrawingUtils::draw(static_cast<PicHandle>(nullptr), nullptr, err), nullptr);
    EXPECT_EQ(err, -108);
    EXPECT_EQ(Kelvo_DrawingUtils::draw(static_cast<const FSSpec*>(nullptr), nullptr, err), nullptr);
    EXPECT_EQ(err, -43);
    err = 0;
    EXPECT_EQ(Kelvo_DrawingUtils::draw(static_cast<Movie>(nullptr), 0, nullptr, err), nullptr);
    EXPECT_NE(err, 0);
    Kelvo_DataReference* none = nullptr;
    EXPECT_EQ(Kelvo_DrawingUtils::draw(none, nullptr, err), nullptr);
    EXPECT_EQ(err, -108);

    const uint8_t table[256] = {};
    EXPECT_EQ(Kelvo_DrawingUtils::discardColor(nullptr), -50);
    EXPECT_EQ(Kelvo_DrawingUtils::changeGamma(source.get(), nullptr), -50);
    EXPECT_EQ(Kelvo_DrawingUtils::changeGamma(nullptr, table), -50);
    int bogus = 0;
    EXPECT_EQ(Kelvo_DrawingUtils::discardColor(reinterpret_cast<GWorldPtr>(&bogus)), -108);
    // A picture that is no picture of ours draws nothing into a blank buffer.
    Picture bare{10, Rect{0, 0, 2, 2}};
    Handle h = nullptr;
    ASSERT_EQ(PtrToHand(&bare, &h, sizeof bare), noErr);
    std::unique_ptr<Kelvo_QDGWorldBuffer> blank(
        Kelvo_DrawingUtils::draw(reinterpret_cast<PicHandle>(h), nullptr, err));
    ASSERT_TRUE(blank);
    EXPECT_EQ(pixel(blank->buffer(), 1, 1), 0u);
    DisposeHandle(h);
}

TEST(DrawingUtils, ImageFilesDataReferencesAndImportersDrawWhatPILReads) {
    const PeerImage& peer = peerImage();
    ASSERT_EQ(peer.argb.size(), 6u * 4u * 4u);
    const FSSpec spec = specOf(peer.path);
    int32_t err = -1;
    std::unique_ptr<Kelvo_QDGWorldBuffer> plain(Kelvo_DrawingUtils::draw(&spec, nullptr, err));
    ASSERT_TRUE(plain);
    EXPECT_EQ(err, noErr);
    EXPECT_EQ(bytesOf(plain->buffer(), 0, 6, 4), peer.argb);

    // Into a 12 x 4 destination: fitted and centred at x 3, the rest blank.
    Rect dst{0, 0, 4, 12};
    Kelvo_DisplayTransform t(nullptr, &dst);
    FSSpec file = spec;
    Kelvo_DataReference reference(&file);
    ASSERT_TRUE(reference.qtObjIsValid());
    std::unique_ptr<Kelvo_QDGWorldBuffer> fitted(Kelvo_DrawingUtils::draw(&reference, &t, err));
    ASSERT_TRUE(fitted);
    EXPECT_EQ(err, noErr);
    EXPECT_EQ(fitted->width(), 12);
    EXPECT_EQ(bytesOf(fitted->buffer(), 3, 6, 4), peer.argb);
    EXPECT_EQ(bytesOf(fitted->buffer(), 0, 3, 4), std::string(3 * 4 * 4, '\0'));
    EXPECT_EQ(bytesOf(fitted->buffer(), 9, 3, 4), std::string(3 * 4 * 4, '\0'));

    // A file that is no image: the importer look-up's status, no buffer.
    testsupport::ScratchDir scratch("drawing-utils-text");
    testsupport::writeFile(scratch.file("text.png"), "only words");
    const FSSpec text = specOf(scratch.file("text.png"));
    EXPECT_EQ(Kelvo_DrawingUtils::draw(&text, nullptr, err), nullptr);
    EXPECT_NE(err, noErr);
    EXPECT_EQ(Kelvo_DrawingUtils::draw(static_cast<GraphicsImportComponent>(nullptr), nullptr, err), nullptr);
    EXPECT_EQ(uint32_t(err), 0x80008001u);
    EXPECT_EQ(Kelvo_DrawingUtils::drawCGImage(nullptr, nullptr, err), nullptr);
    EXPECT_EQ(uint32_t(err), 0x80008001u);
}

TEST(DrawingUtils, CGImagesOfImportersOverBlackInColourOrGrey) {
    const PeerImage& peer = peerImage();
    const FSSpec spec = specOf(peer.path);
    GraphicsImportComponent importer = nullptr;
    ASSERT_EQ(GetGraphicsImporterForFile(&spec, &importer), noErr);
    int32_t err = -1;
    CGImageRef image = Kelvo_DrawingUtils::drawCGImage(importer, nullptr, err);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(err, noErr);
    platform::codec::Picture colour;
    ASSERT_EQ(platform::cgImageToPicture(image, colour), noErr);
    ASSERT_EQ(colour.width, 6);
    ASSERT_EQ(colour.components, 4);
    for (size_t i = 0; i < 24; ++i) {
        ASSERT_EQ(colour.samples[i * 4 + 3], 255);
        for (int c = 0; c < 3; ++c) ASSERT_EQ(char(colour.samples[i * 4 + size_t(c)]), peer.argb[i * 4 + 1 + size_t(c)]);
    }
    CGImageRelease(image);

    // Discarding colour redraws it grey, 8 bits a pixel; the caller's transform is not changed.
    Rect dst{0, 0, 8, 12};
    DiscardingTransform t(nullptr, &dst);
    t.discard(true);
    image = Kelvo_DrawingUtils::drawCGImage(importer, &t, err);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(err, noErr);
    EXPECT_EQ(CGImageGetBitsPerPixel(image), 8u);
    EXPECT_EQ(CGImageGetWidth(image), 12u);
    EXPECT_EQ(CGImageGetHeight(image), 8u);
    platform::codec::Picture grey;
    ASSERT_EQ(platform::cgImageToPicture(image, grey), noErr);
    const auto* first = reinterpret_cast<const uint8_t*>(peer.argb.data());
    EXPECT_EQ(grey.samples[0], platform::greyOf(first[1], first[2], first[3]));
    EXPECT_EQ(t.Clip(), nullptr);
    EXPECT_EQ(t.SrcRect()->right, 0);
    CGImageRelease(image);
    CloseComponent(importer);
}
