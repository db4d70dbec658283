// Frame buffers: offscreen-world buffers and the pixel buffers they make over their pixels.
#include "KelvoVideo.h"

#include "PlatformPixelFormats.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

std::string fourCC(uint32_t t) {
    if (t < 256) return std::to_string(t);
    return std::string{char(t >> 24), char(t >> 16), char(t >> 8), char(t)};
}

uint8_t* pixel(const Kelvo_QDGWorldBuffer& b, int32_t x, int32_t y) {
    return reinterpret_cast<uint8_t*>(b.baseAddress()) + ptrdiff_t(y) * b.rowBytes() + ptrdiff_t(x) * 4;
}

// The status and the image of one CG conversion.
struct CGForm {
    int32_t status;
    size_t bpc, bpp;
    CGBitmapInfo info;
};

} // namespace

TEST(FrameBuffersTest, ConstructionAndNames) {
    Kelvo_QDGWorldBuffer empty(k32ARGBPixelFormat);
    EXPECT_FALSE(empty.qtObjIsValid());
    EXPECT_EQ(empty.Error(), 0);
    EXPECT_EQ(empty.baseAddress(), nullptr);
    EXPECT_EQ(empty.bufferSize(), 0);
    EXPECT_EQ(empty.depth(), 0);
    EXPECT_EQ(empty.toCVPixelBuffer(), nullptr);
    EXPECT_STREQ(empty.qtObjName(), "Kelvo_QDGWorldBuffer");
    EXPECT_TRUE(empty.isA("Kelvo_QDGWorldBuffer"));
    EXPECT_TRUE(empty.isA("KelvoVideoBufferT"));
    EXPECT_TRUE(empty.isA("Kelvo_QTObj"));
    EXPECT_FALSE(empty.isA("Kelvo_CVPixelBuffer"));
    EXPECT_FALSE(empty.isA(nullptr));
    Kelvo_CVPixelBuffer pb(k32ARGBPixelFormat);
    EXPECT_TRUE(pb.isA("KelvoVideoBufferT"));
    EXPECT_STREQ(pb.qtObjName(), "Kelvo_CVPixelBuffer");

    Kelvo_QDGWorldBuffer sized(Kelvo_Rect(Rect{5, 5, 15, 25}), k32ARGBPixelFormat);
    ASSERT_TRUE(sized.qtObjIsValid());
    EXPECT_EQ(sized.bounds().left(), 0); // only the size is taken
    EXPECT_EQ(sized.width(), 20);
    EXPECT_EQ(sized.height(), 10);
    EXPECT_TRUE(sized.isBufferOwned());
    EXPECT_TRUE(sized.bufferLocked());
    // init(0, 10), and sizes beyond 16 bits or a format of 0, give -50 and no buffer.
    EXPECT_EQ(sized.init(0, 10), paramErr);
    EXPECT_FALSE(sized.qtObjIsValid());
    EXPECT_EQ(sized.width(), 0);
    Kelvo_QDGWorldBuffer tooWide(40000, 10, k32ARGBPixelFormat);
    EXPECT_EQ(tooWide.Error(), paramErr);
    EXPECT_FALSE(tooWide.qtObjIsValid());
    Kelvo_QDGWorldBuffer noFormat(10, 10, 0);
    EXPECT_EQ(noFormat.Error(), paramErr);
    // An unknown format fails in the platform.
    Kelvo_QDGWorldBuffer unknown(10, 10, FOUR_CHAR_CODE("jpeg"));
    EXPECT_EQ(unknown.Error(), cDepthErr);
    EXPECT_FALSE(unknown.qtObjIsValid());
}

// Every format's bits, description depth and rows as the buffer reports them.
TEST(FrameBuffersTest, EveryFormatsSizes) {
    size_t count = 0;
    const platform::PixelFormatInfo* table = platform::pixelFormatTable(&count);
    for (size_t i = 0; i < count; ++i) {
        const uint32_t format = table[i].format;
        SCOPED_TRACE(fourCC(format));
        Kelvo_QDGWorldBuffer b(13, 3, format);
        ASSERT_TRUE(b.qtObjIsValid()) << b.Error();
        EXPECT_EQ(b.bitsPerPixel(), table[i].bitsPerPixel);
        EXPECT_EQ(b.depth(), table[i].descriptionDepth);
        EXPECT_EQ(b.rowBytes(), GetPixRowBytes(b.bufferPixMap()));
        EXPECT_GE(b.rowBytes(), platform::minimumRowBytes(table[i], 13));
        EXPECT_EQ(b.rowBytes() % 4, 0);
        EXPECT_EQ(b.bufferSize(), int64_t(b.rowBytes()) * 3);
        ASSERT_EQ(b.allocQTDescription(), noErr);
        EXPECT_EQ((*b.qtDescription())->depth, table[i].descriptionDepth);
        EXPECT_EQ((*b.qtDescription())->cType, table[i].codecType);
    }
}

// rowBytes() drops the flag bits of the map's row-bytes word; wide 32-bit buffers keep exact rows.
TEST(FrameBuffersTest, RowBytesDropTheFlagBitsWithoutACap) {
    struct Case {
        int32_t columns;
        uint16_t flags;
    };
    const Case cases[] = {
        {10, kPixMapFlag}, {4096, kPixMapFlag | kLongRowBytesFlag}, {5000, kPixMapFlag | kLongRowBytesFlag}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.columns);
        Kelvo_QDGWorldBuffer b(c.columns, 2, k32ARGBPixelFormat);
        ASSERT_TRUE(b.qtObjIsValid());
        EXPECT_EQ(uint16_t((*b.bufferPixMap())->rowBytes) & kRowBytesFlagsMask, c.flags);
        EXPECT_EQ(b.rowBytes(), c.columns * 4);
        EXPECT_EQ(b.bufferSize(), int64_t(c.columns) * 8);
        // The last pixel of the last row is inside the buffer.
        pixel(b, c.columns - 1, 1)[3] = 0x5A;
        EXPECT_EQ(reinterpret_cast<uint8_t*>(b.baseAddress())[b.bufferSize() - 1], 0x5A);
    }
}

// Wrapping a caller's world borrows it; deleting the buffer leaves the world alive.
TEST(FrameBuffersTest, WrappingACallersWorldLeavesItAlive) {
    GWorldPtr world = nullptr;
    const Rect bounds{0, 0, 6, 8};
    ASSERT_EQ(QTNewGWorld(&world, k8IndexedGrayPixelFormat, &bounds, nullptr, nullptr, 0), noErr);
    {
        Kelvo_QDGWorldBuffer wrapped(world, false);
        ASSERT_TRUE(wrapped.qtObjIsValid());
        EXPECT_FALSE(wrapped.isBufferOwned());
        EXPECT_EQ(wrapped.buffer(), world);
        EXPECT_EQ(wrapped.pixelFormat(), k8IndexedGrayPixelFormat);
        EXPECT_EQ(wrapped.width(), 8);
        EXPECT_EQ(wrapped.height(), 6);
        EXPECT_FALSE(wrapped.bufferLocked());
        wrapped.toCVPixelBuffer();
        Kelvo_Rect part(Rect{1, 0, 3, 8});
        EXPECT_TRUE(wrapped.allocSubGWorld(part));
    }
    ASSERT_TRUE(platform::isGWorld(world));
    GetPixBaseAddr(GetGWorldPixMap(world))[47] = 1;
    // A wrapper reset or re-initialised lets go of the world without disposing it, and then owns
    // what it makes.
    Kelvo_QDGWorldBuffer again(world, false);
    EXPECT_EQ(again.init(4, 4), noErr);
    EXPECT_TRUE(again.isBufferOwned());
    EXPECT_NE(again.buffer(), world);
    EXPECT_TRUE(platform::isGWorld(world));
    DisposeGWorld(world);
    // A null world makes nothing; one the platform does not know is refused.
    Kelvo_QDGWorldBuffer none(nullptr, false);
    EXPECT_FALSE(none.qtObjIsValid());
    EXPECT_EQ(none.Error(), 0);
    int bogus = 0;
    Kelvo_QDGWorldBuffer unknown(reinterpret_cast<GWorldPtr>(&bogus), false);
    EXPECT_FALSE(unknown.qtObjIsValid());
    EXPECT_EQ(unknown.Error(), paramErr);
}

// A copy is a world of its own with the same pixels, whatever the source's row padding.
TEST(FrameBuffersTest, CopyBufferCopiesRowByRow) {
    std::vector<uint8_t> pixels(3 * 64);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = uint8_t(i);
    GWorldPtr source = nullptr;
    const Rect bounds{0, 0, 3, 5};
    ASSERT_EQ(QTNewGWorldFromPtr(&source, k24RGBPixelFormat, &bounds, nullptr, nullptr, 0, pixels.data(), 64),
              noErr);
    Kelvo_QDGWorldBuffer copy(source, true);
    ASSERT_TRUE(copy.qtObjIsValid());
    EXPECT_TRUE(copy.isBufferOwned());
    EXPECT_TRUE(copy.bufferLocked());
    EXPECT_EQ(copy.pixelFormat(), k24RGBPixelFormat);
    EXPECT_EQ(copy.rowBytes(), 16);
    for (int32_t y = 0; y < 3; ++y)
        EXPECT_EQ(std::memcmp(copy.baseAddress() + y * 16, pixels.data() + y * 64, 15), 0) << y;
    pixels[0] = 0xEE; // the copy does not follow
    EXPECT_EQ(uint8_t(copy.baseAddress()[0]), 0);
    // Copying its own world, or a world over its own pixels, keeps the pixels.
    copy.baseAddress()[1] = 0x42;
    EXPECT_EQ(copy.copyBuffer(copy.buffer()), noErr);
    EXPECT_EQ(uint8_t(copy.baseAddress()[1]), 0x42);
    Kelvo_Rect part(Rect{1, 0, 3, 5});
    EXPECT_EQ(copy.copyBuffer(copy.allocSubGWorld(part)), noErr);
    EXPECT_EQ(copy.height(), 2);
    EXPECT_EQ(uint8_t(copy.baseAddress()[0]), 64); // row 1 of the first copy
    std::unique_ptr<Kelvo_QTObj> clone(copy.clone());
    ASSERT_TRUE(clone);
    EXPECT_TRUE(clone->isA("Kelvo_QDGWorldBuffer"));
    DisposeGWorld(source);
    EXPECT_EQ(copy.copyBuffer(nullptr), paramErr);
    EXPECT_TRUE(copy.qtObjIsValid()); // a refused copy leaves the buffer alone
}

// erase zeroes the bytes of a rectangle (all for null, nothing for an empty one), clipped to the
// buffer, bit by bit for one-bit pixels and plane by plane for planar ones.
TEST(FrameBuffersTest, EraseZeroesTheRectangle) {
    Kelvo_QDGWorldBuffer b(6, 4, k32ARGBPixelFormat);
    std::memset(b.baseAddress(), 0xFF, size_t(b.bufferSize()));
    Kelvo_Rect r(Rect{1, 2, 3, 4});
    EXPECT_EQ(b.erase(&r), noErr);
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 6; ++x)
            EXPECT_EQ(pixel(b, x, y)[0], (y >= 1 && y < 3 && x >= 2 && x < 4) ? 0 : 0xFF) << x << "," << y;
    Kelvo_Rect empty(Rect{2, 2, 2, 5});
    b.erase(&empty);
    EXPECT_EQ(pixel(b, 3, 2)[1], 0);
    EXPECT_EQ(pixel(b, 4, 2)[1], 0xFF);
    Kelvo_Rect beyond(Rect{3, 5, 40, 40});
    b.erase(&beyond);
    EXPECT_EQ(pixel(b, 5, 3)[2], 0);
    EXPECT_EQ(pixel(b, 4, 3)[2], 0xFF);
    b.erase(nullptr);
    EXPECT_EQ(pixel(b, 0, 0)[0], 0);

    Kelvo_QDGWorldBuffer bits(16, 1, k1MonochromePixelFormat);
    std::memset(bits.baseAddress(), 0xFF, 2);
    Kelvo_Rect some(Rect{0, 3, 1, 13});
    bits.erase(&some);
    EXPECT_EQ(uint8_t(bits.baseAddress()[0]), 0xE0);
    EXPECT_EQ(uint8_t(bits.baseAddress()[1]), 0x07);

    Kelvo_QDGWorldBuffer planar(4, 1, k24PlanarRGBPixelFormat);
    std::memset(planar.baseAddress(), 0xFF, 12);
    Kelvo_Rect middle(Rect{0, 1, 1, 3});
    planar.erase(&middle);
    const std::vector<uint8_t> want = {0xFF, 0, 0, 0xFF, 0xFF, 0, 0, 0xFF, 0xFF, 0, 0, 0xFF};
    EXPECT_EQ(std::vector<uint8_t>(planar.baseAddress(), planar.baseAddress() + 12), want);
}

// A sub-world starts at the rectangle's top-left pixel with the buffer's rows and format.
TEST(FrameBuffersTest, SubWorldAddressing) {
    Kelvo_QDGWorldBuffer b(10, 8, k32ARGBPixelFormat);
    Kelvo_Rect r(Rect{2, 3, 6, 8});
    GWorldPtr sub = b.allocSubGWorld(r);
    ASSERT_TRUE(sub);
    EXPECT_EQ(b.wrappedGWorld(), sub);
    PixMapHandle pm = GetGWorldPixMap(sub);
    EXPECT_EQ(GetPixBaseAddr(pm), b.baseAddress() + 2 * b.rowBytes() + 3 * 4);
    EXPECT_EQ(GetPixRowBytes(pm), b.rowBytes());
    EXPECT_EQ((*pm)->pixelFormat, k32ARGBPixelFormat);
    Rect bounds{};
    GetPortBounds(sub, &bounds);
    EXPECT_EQ(bounds.right, 5);
    EXPECT_EQ(bounds.bottom, 4);
    // Erasing the sub-world paints the buffer's pixels.
    CGrafPtr savedPort = nullptr;
    GDHandle savedDevice = nullptr;
    GetGWorld(&savedPort, &savedDevice);
    SetGWorld(sub, nullptr);
    EraseRect(&bounds);
    SetGWorld(savedPort, savedDevice);
    EXPECT_EQ(pixel(b, 3, 2)[1], 0xFF);
    EXPECT_EQ(pixel(b, 7, 5)[1], 0xFF);
    EXPECT_EQ(pixel(b, 8, 5)[1], 0);
    EXPECT_EQ(pixel(b, 3, 6)[1], 0);
    // A new sub-world replaces the old one (which is disposed: nothing leaks).
    Kelvo_Rect other(Rect{0, 0, 1, 1});
    GWorldPtr replaced = b.allocSubGWorld(other);
    ASSERT_TRUE(replaced);
    EXPECT_EQ(b.wrappedGWorld(), replaced);
    EXPECT_EQ(GetPortBounds(replaced, &bounds)->right, 1);
    // An indexed buffer's sub-world has its colour table.
    Kelvo_QDGWorldBuffer indexed(16, 2, k8IndexedPixelFormat);
    Kelvo_Rect half(Rect{0, 8, 2, 16});
    GWorldPtr indexedSub = indexed.allocSubGWorld(half);
    ASSERT_TRUE(indexedSub);
    EXPECT_TRUE((*GetGWorldPixMap(indexedSub))->pmTable);
    // Rectangles outside the buffer, empty ones, and pixels the world cannot start on are refused.
    struct Refused {
        uint32_t format;
        Rect rect;
    };
    const Refused refused[] = {
        {k32ARGBPixelFormat, Rect{0, 0, 9, 4}},      {k32ARGBPixelFormat, Rect{2, 2, 2, 4}},
        {k1MonochromePixelFormat, Rect{0, 3, 2, 8}}, {k2vuyPixelFormat, Rect{0, 1, 2, 4}},
        {k24PlanarRGBPixelFormat, Rect{0, 0, 2, 4}},
    };
    for (const Refused& c : refused) {
        SCOPED_TRACE(fourCC(c.format));
        Kelvo_QDGWorldBuffer f(16, 8, c.format);
        Kelvo_Rect rect(c.rect);
        EXPECT_EQ(f.allocSubGWorld(rect), nullptr);
        EXPECT_EQ(f.Error(), paramErr);
    }
    Kelvo_QDGWorldBuffer bits(16, 2, k1MonochromePixelFormat);
    Kelvo_Rect aligned(Rect{1, 8, 2, 16});
    GWorldPtr bitsSub = bits.allocSubGWorld(aligned);
    ASSERT_TRUE(bitsSub);
    EXPECT_EQ(GetPixBaseAddr(GetGWorldPixMap(bitsSub)), bits.baseAddress() + bits.rowBytes() + 1);
}

// The pixel buffer over a world buffer: one cached object, retained once more for each call;
// the world buffer balances those retains when it lets go of it (no leak either way).
TEST(FrameBuffersTest, ToCVPixelBufferIsCachedAndRetained) {
    auto world = std::make_unique<Kelvo_QDGWorldBuffer>(7, 3, k32ARGBPixelFormat);
    Kelvo_CVPixelBuffer* first = world->toCVPixelBuffer();
    ASSERT_TRUE(first);
    CVPixelBufferRef platformBuffer = first->buffer();
    EXPECT_EQ(CVPixelBufferGetRetainCount(platformBuffer), 2);
    Kelvo_CVPixelBuffer* second = world->toCVPixelBuffer(true);
    EXPECT_EQ(second, first);
    EXPECT_EQ(CVPixelBufferGetRetainCount(platformBuffer), 3);
    // Over the same pixels, rows and size.
    EXPECT_EQ(first->baseAddress(), world->baseAddress());
    EXPECT_EQ(first->rowBytes(), world->rowBytes());
    EXPECT_EQ(first->bufferSize(), world->bufferSize());
    EXPECT_EQ(first->width(), 7);
    EXPECT_EQ(first->pixelFormat(), k32ARGBPixelFormat);
    EXPECT_TRUE(first->bufferLocked());
    EXPECT_TRUE(first->isQDCompatible());
    // A caller that needs it longer retains it itself.
    CVPixelBufferRetain(platformBuffer);
    world.reset();
    EXPECT_EQ(CVPixelBufferGetRetainCount(platformBuffer), 1);
    CVPixelBufferRelease(platformBuffer);
}

// A pixel-buffer description: 86 bytes, 72 dpi both ways, the format's codec type and name.
TEST(FrameBuffersTest, PixelBufferDescription) {
    Kelvo_CVPixelBuffer pb(9, 4, k32ARGBPixelFormat);
    ASSERT_TRUE(pb.qtObjIsValid()) << pb.Error();
    EXPECT_TRUE(pb.bufferLocked());
    ASSERT_EQ(pb.allocQTDescription(), noErr);
    const ImageDescription& d = **pb.qtDescription();
    EXPECT_EQ(d.idSize, 86);
    EXPECT_EQ(GetHandleSize(reinterpret_cast<Handle>(pb.qtDescription())), 86);
    EXPECT_EQ(d.hRes, 72 << 16);
    EXPECT_EQ(d.vRes, 72 << 16);
    EXPECT_EQ(d.width, 9);
    EXPECT_EQ(d.height, 4);
    EXPECT_EQ(d.depth, 32);
    EXPECT_EQ(d.clutID, -1);
    EXPECT_EQ(uint16_t(d.dataRefIndex), 0xFFFF);
    EXPECT_EQ(d.dataSize, pb.bufferSize());
    EXPECT_EQ(pb.rowBytes(), 48); // 36 rounded to 16
    EXPECT_EQ(d.cType, kRawCodecType);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(d.name) + 1, d.name[0]), "32-bit ARGB");
    Kelvo_CVPixelBuffer grey(9, 4, k16GrayPixelFormat);
    ASSERT_EQ(grey.allocQTDescription(), noErr);
    EXPECT_EQ((*grey.qtDescription())->cType, k16GrayPixelFormat);
    EXPECT_EQ((*grey.qtDescription())->depth, 40);
    // A failing buffer: no description, no buffer.
    Kelvo_CVPixelBuffer bad(9, 4, FOUR_CHAR_CODE("jpeg"));
    EXPECT_EQ(bad.Error(), kCVReturnInvalidPixelFormat);
    EXPECT_FALSE(bad.qtObjIsValid());
    EXPECT_FALSE(bad.isQDCompatible());
}

TEST(FrameBuffersTest, PixelBufferReferencesAndSubWorlds) {
    CVPixelBufferRef platformBuffer = nullptr;
    ASSERT_EQ(CVPixelBufferCreate(kCFAllocatorDefault, 8, 4, k32BGRAPixelFormat, nullptr, &platformBuffer),
              kCVReturnSuccess);
    {
        Kelvo_CVPixelBuffer pb(0u);
        EXPECT_EQ(pb.copyBuffer(nullptr), paramErr);
        ASSERT_EQ(pb.copyBuffer(platformBuffer), noErr);
        EXPECT_EQ(CVPixelBufferGetRetainCount(platformBuffer), 2);
        EXPECT_TRUE(CVPixelBufferIsLocked(platformBuffer));
        EXPECT_EQ(pb.pixelFormat(), k32BGRAPixelFormat);
        EXPECT_EQ(pb.width(), 8);
        EXPECT_EQ(pb.height(), 4);
        EXPECT_EQ(pb.copyBuffer(platformBuffer), noErr); // its own buffer again
        EXPECT_EQ(CVPixelBufferGetRetainCount(platformBuffer), 2);
        Kelvo_Rect r(Rect{1, 2, 3, 6});
        GWorldPtr sub = pb.allocSubGWorld(r);
        ASSERT_TRUE(sub);
        EXPECT_EQ(GetPixBaseAddr(GetGWorldPixMap(sub)), pb.baseAddress() + pb.rowBytes() + 8);
        EXPECT_EQ((*GetGWorldPixMap(sub))->pmTable, nullptr);
        std::memset(pb.baseAddress(), 0xFF, size_t(pb.bufferSize()));
        pb.erase(&r);
        EXPECT_EQ(uint8_t(pb.baseAddress()[pb.rowBytes() + 8]), 0);
        EXPECT_EQ(uint8_t(pb.baseAddress()[pb.rowBytes() + 7]), 0xFF);
    }
    EXPECT_EQ(CVPixelBufferGetRetainCount(platformBuffer), 1);
    EXPECT_FALSE(CVPixelBufferIsLocked(platformBuffer));
    // A world buffer that is not valid gives no pixel buffer.
    Kelvo_QDGWorldBuffer invalid(k32ARGBPixelFormat);
    Kelvo_CVPixelBuffer over(k32ARGBPixelFormat);
    EXPECT_EQ(over.initWithData(invalid, nullptr, nullptr), paramErr);
    CVPixelBufferRelease(platformBuffer);
}

// CG forms of a pixel buffer: bits per component by format, bits per pixel from the format,
// bitmap info from the format description; 79 when the format has no such form, -50 when it
// is outside the bits-per-component table.
TEST(FrameBuffersTest, CGImagesAndContextsByFormat) {
    struct Case {
        uint32_t format;
        CGForm image, context;
    };
    const CGBitmapInfo argb = kCGImageAlphaFirst | kCGBitmapByteOrder32Big;
    const CGBitmapInfo bgra = kCGImageAlphaFirst | kCGBitmapByteOrder32Little;
    const CGBitmapInfo rgba = kCGImageAlphaLast | kCGBitmapByteOrder32Big;
    const CGBitmapInfo rgb555 = kCGImageAlphaNoneSkipFirst | kCGBitmapByteOrder16Big;
    const Case cases[] = {
        {k16BE555PixelFormat, {0, 5, 16, rgb555}, {0, 5, 16, rgb555}},
        {k24RGBPixelFormat, {0, 8, 24, kCGImageAlphaNone}, {79, 0, 0, 0}},
        {k32ARGBPixelFormat, {0, 8, 32, argb}, {0, 8, 32, argb}},
        {k32BGRAPixelFormat, {0, 8, 32, bgra}, {0, 8, 32, bgra}},
        {k32RGBAPixelFormat, {0, 8, 32, rgba}, {0, 8, 32, rgba}},
        {k8IndexedGrayPixelFormat, {79, 0, 0, 0}, {79, 0, 0, 0}},
        {k24BGRPixelFormat, {79, 0, 0, 0}, {79, 0, 0, 0}},
        {k16GrayPixelFormat, {-50, 0, 0, 0}, {79, 0, 0, 0}},
        {k48RGBPixelFormat, {-50, 0, 0, 0}, {79, 0, 0, 0}},
        {k32CMYKPixelFormat, {79, 0, 0, 0}, {79, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(fourCC(c.format));
        Kelvo_CVPixelBuffer pb(6, 5, c.format);
        ASSERT_TRUE(pb.qtObjIsValid());
        CGImageRef image = pb.toCGImage();
        EXPECT_EQ(pb.Error(), c.image.status);
        EXPECT_EQ(image != nullptr, c.image.status == 0);
        if (image) {
            EXPECT_EQ(CGImageGetWidth(image), 6u);
            EXPECT_EQ(CGImageGetHeight(image), 5u);
            EXPECT_EQ(CGImageGetBitsPerComponent(image), c.image.bpc);
            EXPECT_EQ(CGImageGetBitsPerPixel(image), c.image.bpp);
            EXPECT_EQ(CGImageGetBytesPerRow(image), size_t(pb.rowBytes()));
            EXPECT_EQ(CGImageGetBitmapInfo(image), c.image.info);
            EXPECT_EQ(CGColorSpaceGetModel(CGImageGetColorSpace(image)), kCGColorSpaceModelRGB);
            EXPECT_TRUE(CGImageGetShouldInterpolate(image));
            CGImageRelease(image);
        }
        CGContextRef context = pb.toCGBitmapContext();
        EXPECT_EQ(pb.Error(), c.context.status);
        EXPECT_EQ(context != nullptr, c.context.status == 0);
        if (context) {
            EXPECT_EQ(CGBitmapContextGetData(context), pb.baseAddress());
            EXPECT_EQ(CGBitmapContextGetBitsPerComponent(context), c.context.bpc);
            EXPECT_EQ(CGBitmapContextGetBitsPerPixel(context), c.context.bpp);
            EXPECT_EQ(CGBitmapContextGetBitmapInfo(context), c.context.info);
            CGContextRelease(context);
        }
    }
    EXPECT_EQ(Kelvo_CVPixelBuffer::cgBitsPerComponent(k8IndexedGrayPixelFormat), 8u);
    EXPECT_EQ(Kelvo_CVPixelBuffer::cgBitsPerComponent(k2vuyPixelFormat), 0u);
    // An image keeps the platform buffer alive after the frame buffer is gone.
    CGImageRef kept = nullptr;
    {
        Kelvo_CVPixelBuffer pb(2, 2, k32ARGBPixelFormat);
        pb.baseAddress()[1] = 0x33;
        kept = pb.toCGImage();
    }
    ASSERT_TRUE(kept);
    CFDataRef bytes = CGDataProviderCopyData(CGImageGetDataProvider(kept));
    EXPECT_EQ(CFDataGetBytePtr(bytes)[1], 0x33);
    CFRelease(bytes);
    CGImageRelease(kept);
    Kelvo_CVPixelBuffer invalid(k32ARGBPixelFormat);
    EXPECT_EQ(invalid.toCGImage(), nullptr);
}

// The free conversion: 32 bits a pixel for 'cmyk', 'BGRA' and depth 32, 8 bits for 8-bit grey.
TEST(FrameBuffersTest, CGImageFromPixelBufferAlphaInfos) {
    struct Case {
        uint32_t format;
        size_t bpp;
        CGBitmapInfo info;
        CGColorSpaceModel model;
        bool decodeInverted;
    };
    const Case cases[] = {
        {k32CMYKPixelFormat, 32, kCGImageAlphaNone, kCGColorSpaceModelCMYK, false},
        {k32BGRAPixelFormat, 32, kCGImageAlphaFirst | kCGBitmapByteOrder32Little, kCGColorSpaceModelRGB,
         false},
        {k32ARGBPixelFormat, 32, kCGImageAlphaFirst, kCGColorSpaceModelRGB, false},
        {k8IndexedGrayPixelFormat, 8, kCGImageAlphaNone, kCGColorSpaceModelMonochrome, true},
        {k8IndexedPixelFormat, 8, kCGImageAlphaNone, kCGColorSpaceModelMonochrome, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(fourCC(c.format));
        CVPixelBufferRef buffer = nullptr;
        ASSERT_EQ(CVPixelBufferCreate(kCFAllocatorDefault, 5, 3, c.format, nullptr, &buffer),
                  kCVReturnSuccess);
        CGImageRef image = CGImageFromPixelBuffer(buffer, c.format);
        ASSERT_TRUE(image);
        EXPECT_EQ(CGImageGetBitsPerComponent(image), 8u);
        EXPECT_EQ(CGImageGetBitsPerPixel(image), c.bpp);
        EXPECT_EQ(CGImageGetBitmapInfo(image), c.info);
        EXPECT_EQ(CGColorSpaceGetModel(CGImageGetColorSpace(image)), c.model);
        EXPECT_EQ(CGImageGetDecode(image) != nullptr, c.decodeInverted);
        CFDataRef data = CGDataProviderCopyData(CGImageGetDataProvider(image));
        EXPECT_EQ(size_t(CFDataGetLength(data)), 3 * CVPixelBufferGetBytesPerRow(buffer));
        CFRelease(data);
        CVPixelBufferRelease(buffer); // the image keeps it
        CGImageRelease(image);
    }
    CVPixelBufferRef buffer = nullptr;
    ASSERT_EQ(CVPixelBufferCreate(kCFAllocatorDefault, 5, 3, k24RGBPixelFormat, nullptr, &buffer),
              kCVReturnSuccess);
    EXPECT_EQ(CGImageFromPixelBuffer(buffer, k24RGBPixelFormat), nullptr);
    EXPECT_EQ(CGImageFromPixelBuffer(buffer, 0), nullptr);
    EXPECT_EQ(CGImageFromPixelBuffer(nullptr, k32ARGBPixelFormat), nullptr);
    CVPixelBufferRelease(buffer);
}

TEST(FrameBuffersTest, VideoContextOfAPixelBuffer) {
    Kelvo_CVPixelBuffer pb(12, 7, k32BGRAPixelFormat);
    QTVisualContextRef context = pb.toVideoContext();
    ASSERT_TRUE(context) << pb.Error();
    CFTypeRef value = nullptr;
    ASSERT_EQ(QTVisualContextGetAttribute(context, kQTVisualContextPixelBufferAttributesKey, &value), noErr);
    auto attributes = static_cast<CFDictionaryRef>(value);
    auto number = [&](CFStringRef key) {
        int32_t v = -1;
        auto n = static_cast<CFNumberRef>(CFDictionaryGetValue(attributes, key));
        EXPECT_TRUE(n && !n->isFloat);
        CFNumberGetValue(n, kCFNumberSInt32Type, &v);
        return v;
    };
    EXPECT_EQ(uint32_t(number(kCVPixelBufferPixelFormatTypeKey)), k32BGRAPixelFormat);
    EXPECT_EQ(number(kCVPixelBufferWidthKey), 12);
    EXPECT_EQ(number(kCVPixelBufferHeightKey), 7);
    EXPECT_EQ(number(kCVPixelBufferBytesPerRowAlignmentKey), 16);
    QTVisualContextRelease(context);
    Kelvo_CVPixelBuffer empty(k32BGRAPixelFormat);
    EXPECT_EQ(empty.toVideoContext(), nullptr);
    EXPECT_EQ(empty.Error(), paramErr);
}

TEST(FrameBuffersTest, CGContextWrapping) {
    Kelvo_QDGWorldBuffer b(5, 5, k32ARGBPixelFormat);
    CGContextRef context = b.startCGContextWrapping();
    ASSERT_TRUE(context);
    EXPECT_EQ(b.startCGContextWrapping(), context); // the open one
    EXPECT_EQ(CGBitmapContextGetData(context), b.baseAddress());
    EXPECT_EQ(b.stopCGContextWrapping(), nullptr);
    EXPECT_EQ(b.Error(), noErr);
    EXPECT_TRUE(b.startCGContextWrapping()); // released with the buffer
    Kelvo_QDGWorldBuffer grey(5, 5, k8IndexedGrayPixelFormat);
    EXPECT_EQ(grey.startCGContextWrapping(), nullptr);
    EXPECT_EQ(grey.Error(), cDepthErr);
}

// The end-to-end rule of depth 40 through frame buffers: sample 0 white, 255 black, notSrcCopy
// inverting, drawn into the 32-bit buffers that every drawing produces.
TEST(FrameBuffersTest, Depth40DrawsIntoA32BitBuffer) {
    Kelvo_QDGWorldBuffer grey(2, 1, k8IndexedGrayPixelFormat);
    grey.baseAddress()[0] = 0;
    grey.baseAddress()[1] = char(255);
    Kelvo_QDGWorldBuffer argb(2, 1, k32ARGBPixelFormat);
    const Rect all{0, 0, 1, 2};
    auto copy = [&](int16_t mode) {
        return CopyBits(GetPortBitMapForCopyBits(grey.buffer()), GetPortBitMapForCopyBits(argb.buffer()),
                        &all, &all, mode, nullptr);
    };
    ASSERT_EQ(copy(srcCopy), noErr);
    EXPECT_EQ(std::vector<uint8_t>(pixel(argb, 0, 0), pixel(argb, 0, 0) + 8),
              (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0}));
    ASSERT_EQ(copy(notSrcCopy), noErr);
    EXPECT_EQ(std::vector<uint8_t>(pixel(argb, 0, 0), pixel(argb, 0, 0) + 8),
              (std::vector<uint8_t>{0xFF, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}));
}
