// The short roads pixels take: 8-bit pictures placed straight into the worlds frames are drawn in,
// JPEG rows written straight into 32-bit A, R, G, B pixels (alone and through a decompression
// sequence), BMP and PNG rows written straight into R, G, B pixels (alone and through an
// importer), and an importer's checked picture reused by its next draw. Each gives what the
// general road gives.
#include "PlatformCodecEngines.h"
#include "PlatformCodecRegistry.h"
#include "PlatformCompressionSessions.h"
#include "PlatformDecompressionSessions.h"
#include "PlatformGWorlds.h"
#include "PlatformGraphicsImport.h"
#include "PlatformMemory.h"
#include "TestFiles.h"

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

// R, G, B rows with room after each: what a target holds, padding included.
struct RGBRows {
    static constexpr size_t kPad = 5;
    int32_t width, height;
    std::string bytes;
    RGBRows(int32_t w, int32_t h) : width(w), height(h), bytes((size_t(w) * 3 + kPad) * size_t(h), '\xAB') {}
    platform::codec::RowTarget target() {
        platform::codec::RowTarget t;
        t.base = reinterpret_cast<uint8_t*>(bytes.data());
        t.rowBytes = size_t(width) * 3 + kPad;
        t.width = width, t.height = height;
        t.layout = platform::codec::RowLayout::RGB24;
        return t;
    }
    bool untouched() const { return bytes == std::string(bytes.size(), '\xAB'); }
    // The picture's rows with the padding as it was.
    std::string expected(const Picture& p) const {
        std::string e = std::string(bytes.size(), '\xAB');
        for (int32_t y = 0; y < height; ++y)
            std::memcpy(e.data() + size_t(y) * (size_t(width) * 3 + kPad),
                        p.samples.data() + size_t(y) * p.rowBytes(), p.rowBytes());
        return e;
    }
};

TEST(DirectPaths, BMPAndPNGRowsWrittenAsRGBEqualTheDecodedPicture) {
    struct Case {
        Format format;
        Picture picture;
        bool direct; // decodes to 8-bit RGB
    } cases[] = {
        {Format::BMP, patterned(7, 5, 3), true}, // 21-byte rows: padded in the file
        {Format::BMP, patterned(8, 3, 3), true},  {Format::BMP, patterned(7, 5, 1), false}, // grey palette
        {Format::BMP, patterned(7, 5, 4), false}, // bit fields with alpha
        {Format::PNG, patterned(7, 5, 3), true},  {Format::PNG, patterned(7, 5, 1), false},
        {Format::PNG, patterned(7, 5, 4), false}, {Format::PNG, widened(patterned(7, 5, 3)), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.format == Format::BMP ? "BMP " : "PNG ") +
                     std::to_string(c.picture.components) + " x " + std::to_string(c.picture.bitsPerSample));
        std::vector<uint8_t> stream;
        ASSERT_EQ(platform::codec::encode(c.format, c.picture, platform::codec::EncodeOptions(), stream),
                  noErr);
        Picture decoded;
        ASSERT_EQ(platform::codec::decode(c.format, stream.data(), stream.size(), decoded), noErr);
        const platform::codec::DecodeOptions options;
        RGBRows rows(c.picture.width, c.picture.height);
        const OSErr err =
            platform::codec::decodeInto(c.format, stream.data(), stream.size(), options, rows.target());
        if (!c.direct) {
            EXPECT_EQ(err, codecUnimpErr);
            EXPECT_TRUE(rows.untouched());
            continue;
        }
        ASSERT_EQ(err, noErr);
        EXPECT_EQ(rows.bytes, rows.expected(decoded));

        // A target of another size is refused untouched; a cut stream fails with its status.
        RGBRows other(c.picture.width + 1, c.picture.height);
        EXPECT_EQ(
            platform::codec::decodeInto(c.format, stream.data(), stream.size(), options, other.target()),
            codecBadDataErr);
        EXPECT_TRUE(other.untouched());
        RGBRows cut(c.picture.width, c.picture.height);
        EXPECT_EQ(
            platform::codec::decodeInto(c.format, stream.data(), stream.size() / 2, options, cut.target()),
            codecBadDataErr);
        // Rows too short for the width are refused.
        platform::codec::RowTarget narrow = cut.target();
        narrow.rowBytes = size_t(c.picture.width) * 3 - 1;
        EXPECT_EQ(platform::codec::decodeInto(c.format, stream.data(), stream.size(), options, narrow),
                  paramErr);
    }
    // JPEG rows are not written as R, G, B.
    const std::vector<uint8_t> jpeg = jpegOf(3);
    RGBRows rows(40, 24);
    EXPECT_EQ(platform::codec::decodeInto(Format::JPEG, jpeg.data(), jpeg.size(),
                                          platform::codec::DecodeOptions(), rows.target()),
              codecUnimpErr);
    EXPECT_TRUE(rows.untouched());
}

TEST(DirectPaths, AnImporterDecodesRGBRowsAsItDrawsThem) {
    platform::installGraphicsImporters();
    for (Format format : {Format::BMP, Format::PNG, Format::JPEG}) {
        SCOPED_TRACE(int(format));
        std::vector<uint8_t> stream;
        ASSERT_EQ(
            platform::codec::encode(format, patterned(9, 6, 3), platform::codec::EncodeOptions(), stream),
            noErr);
        const OSType subType = format == Format::BMP   ? kQTFileTypeBMP
                               : format == Format::PNG ? kQTFileTypePNG
                                                       : kQTFileTypeJPEG;
        ComponentDescription looking{GraphicsImporterComponentType, subType, 0, 0, 0};
        GraphicsImportComponent importer = OpenComponent(FindNextComponent(nullptr, &looking));
        ASSERT_NE(importer, nullptr);
        Handle h = nullptr;
        ASSERT_EQ(PtrToHand(stream.data(), &h, Size(stream.size())), noErr);
        ASSERT_EQ(GraphicsImportSetDataHandle(importer, h), noErr);
        World drawn(k24RGBPixelFormat, 9, 6);
        GraphicsImportSetGWorld(importer, drawn.world, nullptr);
        ASSERT_EQ(GraphicsImportDraw(importer), noErr);

        RGBRows rows(9, 6);
        const ComponentResult err = platform::graphicsImportDecodeInto(importer, rows.target());
        if (format == Format::JPEG) {
            EXPECT_EQ(err, codecUnimpErr);
            EXPECT_TRUE(rows.untouched());
        } else {
            ASSERT_EQ(err, noErr);
            const size_t drawnRowBytes = size_t(GetPixRowBytes(drawn.pm()));
            const std::string world = drawn.bytes();
            for (size_t y = 0; y < 6; ++y)
                EXPECT_EQ(rows.bytes.substr(y * (27 + RGBRows::kPad), 27),
                          world.substr(y * drawnRowBytes, 27))
                    << "row " << y;
        }
        CloseComponent(importer);
        DisposeHandle(h);
        EXPECT_EQ(platform::graphicsImportDecodeInto(importer, rows.target()), badComponentInstance);
    }
}

// Files larger than the importer's first read (64 KiB) and than one piece of rows (256 KiB): a BMP
// is read a piece at a time, its layout from its head; a PNG is read whole. Both give the rows the
// importer draws; a cut BMP gives the status of the whole file.
TEST(DirectPaths, AnImporterDecodesRGBRowsOfALargeFileAsItDrawsThem) {
    testsupport::ScratchDir scratch("direct-paths");
    const int16_t w = 301, h = 400;
    for (Format format : {Format::BMP, Format::PNG}) {
        SCOPED_TRACE(int(format));
        std::vector<uint8_t> stream;
        ASSERT_EQ(
            platform::codec::encode(format, patterned(w, h, 3), platform::codec::EncodeOptions(), stream),
            noErr);
        ASSERT_GT(stream.size(), format == Format::BMP ? size_t(256 * 1024) : size_t(0));
        const std::string path = scratch.file(format == Format::BMP ? "large.bmp" : "large.png");
        testsupport::writeFile(path, std::string(stream.begin(), stream.end()));
        FSSpec spec{};
        std::memcpy(spec.path, path.data(), path.size());
        GraphicsImportComponent importer = nullptr;
        ASSERT_EQ(GetGraphicsImporterForFile(&spec, &importer), noErr);
        Rect bounds{};
        ASSERT_EQ(GraphicsImportGetNaturalBounds(importer, &bounds), noErr);
        EXPECT_EQ(bounds.right, w);
        EXPECT_EQ(bounds.bottom, h);
        World drawn(k24RGBPixelFormat, w, h);
        GraphicsImportSetGWorld(importer, drawn.world, nullptr);
        ASSERT_EQ(GraphicsImportDraw(importer), noErr);
        RGBRows rows(w, h);
        ASSERT_EQ(platform::graphicsImportDecodeInto(importer, rows.target()), noErr);
        const size_t drawnRowBytes = size_t(GetPixRowBytes(drawn.pm())), rowLength = size_t(w) * 3;
        const std::string world = drawn.bytes();
        size_t differing = 0;
        for (size_t y = 0; y < size_t(h); ++y)
            differing += rows.bytes.substr(y * (rowLength + RGBRows::kPad), rowLength + RGBRows::kPad) !=
                         world.substr(y * drawnRowBytes, rowLength) + std::string(RGBRows::kPad, '\xAB');
        EXPECT_EQ(differing, 0u);

        // Cut: the whole file's status, whichever way it is read.
        testsupport::writeFile(path, std::string(stream.begin(), stream.begin() + stream.size() / 2));
        Picture whole;
        const OSErr expected = platform::codec::decode(format, stream.data(), stream.size() / 2, whole);
        EXPECT_NE(expected, noErr);
        RGBRows cut(w, h);
        EXPECT_EQ(platform::graphicsImportDecodeInto(importer, cut.target()), expected);
        CloseComponent(importer);
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
