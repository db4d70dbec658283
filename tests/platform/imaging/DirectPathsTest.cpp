// The short roads pixels take: 8-bit pictures placed straight into the worlds frames are drawn in,
// JPEG rows written straight into 32-bit A, R, G, B pixels (alone and through a decompression
// sequence), and an importer's checked picture reused by its next draw. Each gives what the
// general road gives.
#include "PlatformCodecEngines.h"
#include "PlatformCodecRegistry.h"
#include "PlatformCompressionSessions.h"
#include "PlatformDecompressionSessions.h"
#include "PlatformGWorlds.h"
#include "PlatformGraphicsImport.h"
#include "PlatformMemory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

using platform::codec::Format;
using platform::codec::Picture;

Picture patterned(int32_t w, int32_t h, int components) {
    Picture p;
    p.width = w, p.height = h, p.components = components;
    p.samples.resize(size_t(w) * size_t(h) * size_t(components));
    for (size_t i = 0; i < p.samples.size(); ++i)
        p.samples[i] = uint8_t((i * 37) ^ (i >> 3));
    return p;
}

// The same picture in 16-bit samples of full precision: the general road, sample for sample.
Picture widened(const Picture& p) {
    Picture w = p;
    w.bitsPerSample = w.precision = 16;
    w.samples.resize(p.samples.size() * 2);
    for (size_t i = 0; i < p.samples.size(); ++i) {
        const uint16_t v = uint16_t(p.samples[i] * 257);
        std::memcpy(w.samples.data() + 2 * i, &v, 2);
    }
    return w;
}

struct World {
    GWorldPtr world = nullptr;
    World(OSType format, int16_t w, int16_t h) {
        const Rect bounds{0, 0, h, w};
        EXPECT_EQ(QTNewGWorld(&world, format, &bounds, nullptr, nullptr, 0), noErr);
    }
    ~World() {
        if (world) DisposeGWorld(world);
    }
    PixMapHandle pm() const { return GetGWorldPixMap(world); }
    std::string bytes() const {
        const auto* base = reinterpret_cast<const char*>(GetPixBaseAddr(pm()));
        return std::string(base, size_t(GetPixRowBytes(pm())) * size_t((**pm()).bounds.bottom));
    }
};

TEST(DirectPaths, EightBitPicturesPlacedDirectlyEqualTheGeneralRoad) {
    for (OSType format :
         {OSType(k32ARGBPixelFormat), OSType(k8IndexedGrayPixelFormat), OSType(k24RGBPixelFormat)}) {
        for (int components = 1; components <= 4; ++components) {
            SCOPED_TRACE(std::to_string(format) + " from " + std::to_string(components));
            const Picture p = patterned(7, 5, components); // odd rows: padding in every world
            World direct(format, 9, 5), general(format, 9, 5);
            ASSERT_EQ(platform::pictureToPixMap(p, direct.pm()), noErr);
            ASSERT_EQ(platform::pictureToPixMap(widened(p), general.pm()), noErr);
            EXPECT_EQ(direct.bytes(), general.bytes());
        }
    }
}

std::vector<uint8_t> jpegOf(int components) {
    std::vector<uint8_t> stream;
    EXPECT_EQ(platform::codec::encode(Format::JPEG, patterned(40, 24, components),
                                      platform::codec::EncodeOptions(), stream),
              noErr);
    return stream;
}

TEST(DirectPaths, JPEGRowsWrittenAsARGBEqualTheDecodedPicture) {
    for (int components : {1, 3}) {
        SCOPED_TRACE(components);
        const std::vector<uint8_t> stream = jpegOf(components);
        Picture picture;
        ASSERT_EQ(platform::codec::decode(Format::JPEG, stream.data(), stream.size(), picture), noErr);
        World expected(k32ARGBPixelFormat, 40, 24);
        ASSERT_EQ(platform::pictureToPixMap(picture, expected.pm()), noErr);

        World direct(k32ARGBPixelFormat, 40, 24);
        platform::codec::RowTarget target;
        target.base = reinterpret_cast<uint8_t*>(GetPixBaseAddr(direct.pm()));
        target.rowBytes = size_t(GetPixRowBytes(direct.pm()));
        target.width = 40, target.height = 24;
        ASSERT_EQ(platform::codec::decodeInto(Format::JPEG, stream.data(), stream.size(),
                                              platform::codec::DecodeOptions(), target),
                  noErr);
        EXPECT_EQ(direct.bytes(), expected.bytes());

        // Through a decompression sequence into a world of the frame's size (straight in), and
        // into a larger one (through a picture and the blitter): the same pixels.
        Handle h = NewHandleClear(sizeof(ImageDescription));
        auto* d = reinterpret_cast<ImageDescription*>(*h);
        d->idSize = sizeof(ImageDescription);
        d->cType = FOUR_CHAR_CODE("jpeg");
        d->width = 40, d->height = 24;
        d->depth = components == 1 ? 40 : 24;
        d->clutID = -1;
        for (int16_t width : {40, 41}) {
            World drawn(k32ARGBPixelFormat, width, 24);
            ImageSequence seq = 0;
            ASSERT_EQ(DecompressSequenceBeginS(&seq, reinterpret_cast<ImageDescriptionHandle>(h),
                                               reinterpret_cast<Ptr>(const_cast<uint8_t*>(stream.data())),
                                               int32_t(stream.size()), drawn.world, nullptr, nullptr, nullptr,
                                               srcCopy, nullptr, 0, 0x200, nullptr),
                      noErr);
            ASSERT_EQ(DecompressSequenceFrameS(seq,
                                               reinterpret_cast<Ptr>(const_cast<uint8_t*>(stream.data())),
                                               int32_t(stream.size()), 0, nullptr, nullptr),
                      noErr);
            CDSequenceEnd(seq);
            const size_t rowBytes = size_t(GetPixRowBytes(drawn.pm()));
            const std::string got = drawn.bytes(), want = expected.bytes();
            for (int y = 0; y < 24; ++y)
                EXPECT_EQ(got.substr(size_t(y) * rowBytes, 160),
                          want.substr(size_t(y) * size_t(GetPixRowBytes(expected.pm())), 160))
                    << "row " << y << " into width " << width;
        }
        DisposeHandle(h);

        // A target of another size is refused untouched; a cut stream fails with its status.
        target.width = 39;
        EXPECT_EQ(platform::codec::decodeInto(Format::JPEG, stream.data(), stream.size(),
                                              platform::codec::DecodeOptions(), target),
                  codecBadDataErr);
        target.width = 40;
        EXPECT_EQ(platform::codec::decodeInto(Format::JPEG, stream.data(), stream.size() / 2,
                                              platform::codec::DecodeOptions(), target),
                  codecBadDataErr);
        EXPECT_EQ(platform::codec::decodeInto(Format::PNG, stream.data(), stream.size(),
                                              platform::codec::DecodeOptions(), target),
                  codecUnimpErr);
    }
}

TEST(DirectPaths, ACheckedPictureIsDrawnOnceAndANewSourceDropsIt) {
    std::vector<uint8_t> png, other;
    ASSERT_EQ(platform::codec::encode(Format::PNG, patterned(6, 4, 3), platform::codec::EncodeOptions(), png),
              noErr);
    ASSERT_EQ(
        platform::codec::encode(Format::PNG, patterned(5, 3, 1), platform::codec::EncodeOptions(), other),
        noErr);
    platform::installGraphicsImporters();
    ComponentDescription looking{GraphicsImporterComponentType, kQTFileTypePNG, 0, 0, 0};
    GraphicsImportComponent importer = OpenComponent(FindNextComponent(nullptr, &looking));
    ASSERT_NE(importer, nullptr);
    Handle first = nullptr, second = nullptr;
    ASSERT_EQ(PtrToHand(png.data(), &first, Size(png.size())), noErr);
    ASSERT_EQ(PtrToHand(other.data(), &second, Size(other.size())), noErr);
    ASSERT_EQ(GraphicsImportSetDataHandle(importer, first), noErr);

    World plain(k32ARGBPixelFormat, 6, 4), checked(k32ARGBPixelFormat, 6, 4);
    GraphicsImportSetGWorld(importer, plain.world, nullptr);
    ASSERT_EQ(GraphicsImportDraw(importer), noErr);
    Boolean valid = false;
    ASSERT_EQ(GraphicsImportValidate(importer, &valid), noErr);
    EXPECT_TRUE(valid);
    Rect bounds{};
    ASSERT_EQ(GraphicsImportGetNaturalBounds(importer, &bounds), noErr);
    EXPECT_EQ(bounds.right, 6);
    GraphicsImportSetGWorld(importer, checked.world, nullptr);
    ASSERT_EQ(GraphicsImportDraw(importer), noErr);
    EXPECT_EQ(checked.bytes(), plain.bytes());

    // Checked, then given another image: the next draw is of the new one.
    ASSERT_EQ(GraphicsImportValidate(importer, &valid), noErr);
    ASSERT_EQ(GraphicsImportSetDataHandle(importer, second), noErr);
    ASSERT_EQ(GraphicsImportGetNaturalBounds(importer, &bounds), noErr);
    EXPECT_EQ(bounds.right, 5);
    World grey(k32ARGBPixelFormat, 5, 3), greyPlain(k32ARGBPixelFormat, 5, 3);
    GraphicsImportSetGWorld(importer, grey.world, nullptr);
    ASSERT_EQ(GraphicsImportDraw(importer), noErr);
    Picture decoded;
    ASSERT_EQ(platform::codec::decode(Format::PNG, other.data(), other.size(), decoded), noErr);
    ASSERT_EQ(platform::pictureToPixMap(decoded, greyPlain.pm()), noErr);
    EXPECT_EQ(grey.bytes(), greyPlain.bytes());

    // Data that holds no image: not valid, with the decoder's status.
    SetHandleSize(second, 20);
    EXPECT_NE(GraphicsImportValidate(importer, &valid), noErr);
    EXPECT_FALSE(valid);
    EXPECT_EQ(GraphicsImportValidate(importer, nullptr), paramErr);
    CloseComponent(importer);
    DisposeHandle(first);
    DisposeHandle(second);
}

} // namespace
