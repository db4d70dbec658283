// Decompression sessions: frames of every codec drawn into a 32-bit frame buffer through the
// display transform, and the brightness and contrast effect over a source world.
#include "KelvoVideoDecompression.h"

#include "KelvoGraphicsRegion.h"
#include "KelvoVideo.h"
#include "PlatformCodecRegistry.h"
#include "PlatformEndian.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using platform::codec::Picture;

Picture gradient(int32_t width, int32_t height, int32_t components, int32_t bits = 8) {
    Picture p;
    p.width = width;
    p.height = height;
    p.components = components;
    p.bitsPerSample = bits;
    p.precision = bits;
    p.samples.resize(p.rowBytes() * size_t(height));
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            for (int32_t c = 0; c < components; ++c) {
                const uint32_t v = uint32_t((x * 13 + y * 29 + c * 71) % 256);
                const size_t at = ((size_t(y) * size_t(width) + size_t(x)) * size_t(components) + size_t(c));
                if (bits == 16) {
                    const uint16_t w = uint16_t(v * 257);
                    std::memcpy(p.samples.data() + at * 2, &w, 2);
                } else {
                    p.samples[at] = uint8_t(c == 3 ? 255 : v);
                }
            }
    return p;
}

ImageDescriptionHandle describe(CodecType cType, int16_t depth, int16_t width, int16_t height) {
    auto h = reinterpret_cast<ImageDescriptionHandle>(NewHandleClear(86));
    (*h)->idSize = 86;
    (*h)->cType = cType;
    (*h)->width = width;
    (*h)->height = height;
    (*h)->depth = depth;
    (*h)->clutID = -1;
    (*h)->hRes = (*h)->vRes = 0x00480000;
    (*h)->frameCount = 1;
    (*h)->spatialQuality = 1024;
    return h;
}

std::string pixels(Kelvo_QDGWorldBuffer& b) {
    std::string out;
    const auto* base = reinterpret_cast<const char*>(b.baseAddress());
    for (int32_t y = 0; y < b.height(); ++y)
        out.append(base + size_t(y) * size_t(b.rowBytes()), size_t(b.width()) * 4);
    return out;
}

struct Frame {
    std::vector<uint8_t> data;
    std::unique_ptr<Kelvo_ImgDesc> desc;
};

Frame encode(CodecType cType, int16_t depth, const Picture& p) {
    Frame f;
    EXPECT_EQ(platform::codecEncodeFrame(cType, depth, 1024, p, f.data), noErr) << cType;
    ImageDescriptionHandle h = describe(cType, depth, int16_t(p.width), int16_t(p.height));
    f.desc = std::make_unique<Kelvo_ImgDesc>(h);
    DisposeHandle(reinterpret_cast<Handle>(h));
    return f;
}

// Draws the frame through an image-sequence session into a new 32-bit buffer.
std::unique_ptr<Kelvo_QDGWorldBuffer> draw(Frame& f, int32_t width, int32_t height,
                                           Kelvo_DisplayTransform* transform = nullptr) {
    auto out = std::make_unique<Kelvo_QDGWorldBuffer>(width, height, 32);
    Kelvo_ISDecompressionSession s(f.desc.get());
    EXPECT_TRUE(s.qtObjIsValid());
    compressionInputRecord input{};
    input.kind = 2;
    input.pointer = pointerDataRecordForCompression{f.data.data(), int32_t(f.data.size()), f.desc.get()};
    s.inputStorage(&input);
    if (transform) s.displayTransformations(transform);
    EXPECT_TRUE(s.beginSession(out.get())) << s.Error();
    s.decompressData(-1, -1);
    EXPECT_EQ(s.Error(), 0);
    EXPECT_EQ(s.framesCount(), 1);
    s.endSession();
    return out;
}

TEST(DecompressionSessions, EveryCodecDrawsWhatItDecodes) {
    struct Case {
        CodecType cType;
        int16_t depth;
        int32_t components;
        int32_t bits;
    } cases[] = {
        {FOUR_CHAR_CODE("raw "), 32, 4, 8},  {FOUR_CHAR_CODE("raw "), 24, 3, 8},
        {FOUR_CHAR_CODE("raw "), 40, 1, 8},  {FOUR_CHAR_CODE("raw "), 16, 3, 8},
        {FOUR_CHAR_CODE("raw "), 8, 1, 8},   {FOUR_CHAR_CODE("jpeg"), 24, 3, 8},
        {FOUR_CHAR_CODE("mjp2"), 24, 3, 8},  {FOUR_CHAR_CODE("png "), 32, 4, 8},
        {FOUR_CHAR_CODE("WRLE"), 24, 3, 8},  {FOUR_CHAR_CODE("8BPS"), 24, 3, 8},
        {FOUR_CHAR_CODE("cmyk"), 32, 3, 8},  {FOUR_CHAR_CODE("2vuy"), 24, 3, 8},
        {FOUR_CHAR_CODE("v216"), 24, 3, 16}, {FOUR_CHAR_CODE("b16g"), 40, 1, 16},
        {FOUR_CHAR_CODE("b48r"), 24, 3, 16},
    };
    for (const Case& c : cases) {
        Picture source = gradient(16, 8, c.components, c.bits);
        Frame f = encode(c.cType, c.depth, source);
        auto drawn = draw(f, 16, 8);
        // What the codec alone gives, drawn by hand into a 32-bit buffer.
        Picture decoded;
        ASSERT_EQ(platform::codecDecodeFrame(f.desc->hImageDesc(), f.data.data(), f.data.size(), decoded),
                  noErr);
        Kelvo_QDGWorldBuffer expected(16, 8, 32);
        ASSERT_EQ(platform::pictureToPixMap(decoded, expected.bufferPixMap()), noErr);
        EXPECT_EQ(pixels(*drawn), pixels(expected))
            << std::string(reinterpret_cast<const char*>(&c.cType), 4) << " " << c.depth;
    }
}

TEST(DecompressionSessions, TransformScalesClipsAndInverts) {
    // A 2 x 2 frame of four colours (A, R, G, B).
    const uint8_t frame[16] = {255, 10, 20, 30, 255, 40, 50, 60, 255, 70, 80, 90, 255, 100, 110, 120};
    Frame f;
    f.data.assign(frame, frame + 16);
    ImageDescriptionHandle h = describe(FOUR_CHAR_CODE("raw "), 32, 2, 2);
    f.desc = std::make_unique<Kelvo_ImgDesc>(h);
    DisposeHandle(reinterpret_cast<Handle>(h));

    // Scaled by 2: each pixel becomes a 2 x 2 block.
    Kelvo_DisplayTransform twice(Kelvo_Rect(2, 2), Kelvo_Rect(4, 4));
    auto scaled = draw(f, 4, 4, &twice);
    const std::string s = pixels(*scaled);
    auto at = [&](const std::string& p, int x, int y, int width) {
        return uint8_t(p[size_t((y * width + x) * 4 + 1)]);
    };
    const uint8_t reds[4][4] = {{10, 10, 40, 40}, {10, 10, 40, 40}, {70, 70, 100, 100}, {70, 70, 100, 100}};
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(at(s, x, y, 4), reds[y][x]) << x << "," << y;

    // Clipped to the left column: the right column keeps the buffer's zeros.
    Kelvo_DisplayTransform clipped(Kelvo_Rect(2, 2), Kelvo_Rect(4, 4));
    Kelvo_Rect left(2, 4);
    Kelvo_Region region;
    region = left;
    clipped.Clip(&region);
    const std::string c = pixels(*draw(f, 4, 4, &clipped));
    EXPECT_EQ(at(c, 1, 3, 4), 70);
    EXPECT_EQ(at(c, 2, 0, 4), 0);
    EXPECT_EQ(at(c, 3, 3, 4), 0);

    // notSrcCopy inverts the colours.
    Kelvo_DisplayTransform inverted(Kelvo_Rect(2, 2), Kelvo_Rect(2, 2));
    inverted.drawingMode().mode() = 4;
    const std::string i = pixels(*draw(f, 2, 2, &inverted));
    EXPECT_EQ(uint8_t(i[1]), 255 - 10);
    EXPECT_EQ(uint8_t(i[15]), 255 - 120);
}

TEST(DecompressionSessions, InputsAndStates) {
    Picture source = gradient(4, 4, 3);
    Frame f = encode(FOUR_CHAR_CODE("raw "), 24, source);
    Kelvo_ISDecompressionSession s(f.desc.get());
    Kelvo_QDGWorldBuffer out(4, 4, 32);
    EXPECT_FALSE(s.beginSession(&out)); // no input yet
    EXPECT_EQ(s.Error(), 79);
    // An empty handle changes nothing and is no error; a null one is.
    Handle empty = NewHandle(0);
    compressionInputRecord input{};
    input.kind = 1;
    input.handle = empty;
    s.inputStorage(&input);
    EXPECT_EQ(s.inputStorage().kind, 0u);
    input.handle = nullptr;
    s.inputStorage(&input);
    EXPECT_EQ(s.Error(), 79);
    DisposeHandle(empty);
    Handle data = nullptr;
    PtrToHand(f.data.data(), &data, Size(f.data.size()));
    input.handle = data;
    s.inputStorage(&input);
    EXPECT_EQ(s.inputStorage().kind, 2u);
    EXPECT_EQ(s.inputStorage().size, f.data.size());
    s.decompressData(0, 0);
    EXPECT_EQ(s.Error(), 200); // not begun
    Kelvo_QDGWorldBuffer none(32);
    EXPECT_FALSE(s.beginSession(&none));
    EXPECT_EQ(s.Error(), 80);
    ASSERT_TRUE(s.beginSession(&out));
    EXPECT_FALSE(s.beginSession(&out));
    EXPECT_EQ(s.Error(), 200);
    EXPECT_FALSE(s.sessionParameters(f.desc.get()));
    EXPECT_EQ(s.Error(), 200);
    s.decompressData(0, 0);
    s.decompressData(0, 0);
    EXPECT_EQ(s.framesCount(), 2);
    s.endSession();
    EXPECT_EQ(s.framesCount(), 0);
    DisposeHandle(data);

    // A world as input: its pixels, described by the world.
    GWorldPtr world = nullptr;
    Rect bounds{0, 0, 4, 4};
    ASSERT_EQ(QTNewGWorld(&world, 32, &bounds, nullptr, nullptr, 0), noErr);
    input.kind = 4;
    input.world = world;
    Kelvo_ISDecompressionSession fromWorld;
    fromWorld.inputStorage(&input);
    EXPECT_EQ(fromWorld.inputStorage().kind, 2u);
    EXPECT_EQ(fromWorld.inputStorage().data, static_cast<void*>(GetPixBaseAddr(GetGWorldPixMap(world))));
    DisposeGWorld(world);
}

// An effect description of 'brco' with its parameters in a flattened container.
struct Effect {
    QTAtomContainer parameters = nullptr;
    Handle flat = nullptr;
    Effect(int32_t sources, int16_t brightness, int16_t contrast) {
        QTNewAtomContainer(&parameters);
        const uint32_t what = EndianU32_NtoB(FOUR_CHAR_CODE("brco"));
        const int32_t srcs = int32_t(EndianU32_NtoB(uint32_t(sources)));
        const int16_t b = int16_t(EndianU16_NtoB(uint16_t(brightness)));
        const int16_t c = int16_t(EndianU16_NtoB(uint16_t(contrast)));
        QTInsertChild(parameters, 0, FOUR_CHAR_CODE("what"), 1, 0, 4, const_cast<uint32_t*>(&what), nullptr);
        QTInsertChild(parameters, 0, FOUR_CHAR_CODE("srcs"), 1, 0, 4, const_cast<int32_t*>(&srcs), nullptr);
        QTInsertChild(parameters, 0, FOUR_CHAR_CODE("bryt"), 1, 0, 2, const_cast<int16_t*>(&b), nullptr);
        QTInsertChild(parameters, 0, FOUR_CHAR_CODE("cntr"), 1, 0, 2, const_cast<int16_t*>(&c), nullptr);
        QTFlattenAtomContainer(parameters, &flat);
    }
    ~Effect() {
        QTDisposeAtomContainer(parameters);
        DisposeHandle(flat);
    }
};

std::string runEffect(int16_t brightness, int16_t contrast, int32_t sources, int32_t given, int32_t* status) {
    Effect e(sources, brightness, contrast);
    Kelvo_EffectDesc desc(e.parameters);
    Kelvo_ISEffectDecompressionSession s(&desc);
    compressionInputRecord input{};
    input.kind = 1;
    input.handle = e.flat;
    s.inputStorage(&input);
    Kelvo_QDGWorldBuffer source(3, 1, 32);
    auto* p = reinterpret_cast<uint8_t*>(source.baseAddress());
    const uint8_t values[12] = {255, 0, 0, 0, 255, 100, 128, 200, 255, 255, 255, 255};
    std::memcpy(p, values, 12);
    GWorldPtr worlds[1] = {source.buffer()};
    s.sources() = KelvoEffectSources{worlds, given};
    Kelvo_QDGWorldBuffer out(3, 1, 32);
    if (!s.beginSession(&out)) {
        *status = s.Error();
        EXPECT_FALSE(s.isActive());
        return std::string();
    }
    EXPECT_TRUE(s.beginSession(&out)); // already active: nothing changes
    s.decompressData(0, 600);          // time 0: untimed
    *status = s.Error();
    s.decompressData(300, 600);
    EXPECT_EQ(s.Error(), *status);
    return pixels(out);
}

TEST(DecompressionSessions, BrightnessAndContrastEffect) {
    int32_t status = -1;
    const std::string identity = runEffect(0, 0, 1, 1, &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(identity, std::string("\xFF\x00\x00\x00\xFF\x64\x80\xC8\xFF\xFF\xFF\xFF", 12));
    const std::string brighter = runEffect(20, 0, 1, 1, &status);
    EXPECT_EQ(uint8_t(brighter[1]), 51);  // 0 + 20 * 2.55
    EXPECT_EQ(uint8_t(brighter[5]), 151); // 100 + 51
    EXPECT_EQ(uint8_t(brighter[9]), 255); // clamped
    const std::string flat = runEffect(0, -100, 1, 1, &status);
    EXPECT_EQ(uint8_t(flat[1]), 128);
    EXPECT_EQ(uint8_t(flat[9]), 128);
    const std::string steeper = runEffect(0, 100, 1, 1, &status);
    EXPECT_EQ(uint8_t(steeper[5]), 73); // (100 - 127.5) * 2 + 127.5 = 72.5, rounded half away from 0
    EXPECT_EQ(uint8_t(steeper[6]), 129);
    // Monotonic in the sample for every setting tried.
    for (int16_t b : {-100, -30, 0, 40, 100})
        for (int16_t c : {-100, -50, 0, 50, 100}) {
            const std::string o = runEffect(b, c, 1, 1, &status);
            EXPECT_LE(uint8_t(o[1]), uint8_t(o[5]));
            EXPECT_LE(uint8_t(o[5]), uint8_t(o[9]));
        }
    // Two sources wanted, one given.
    EXPECT_EQ(runEffect(0, 0, 2, 1, &status), "");
    EXPECT_EQ(status, -50);
    // Only effect descriptions.
    Kelvo_ImgDesc plain;
    Kelvo_ISEffectDecompressionSession s;
    EXPECT_FALSE(s.sessionParameters(&plain));
    EXPECT_EQ(s.Error(), 9);
}

TEST(DecompressionSessions, NewerInterfaceSessionTakesTheDestinationBuffer) {
    Picture source = gradient(4, 4, 3);
    Frame f = encode(FOUR_CHAR_CODE("png "), 24, source);
    Kelvo_ICMDecompressionSession s(f.desc.get());
    compressionInputRecord input{};
    input.kind = 2;
    input.pointer = pointerDataRecordForCompression{f.data.data(), int32_t(f.data.size()), f.desc.get()};
    s.inputStorage(&input);
    Kelvo_QDGWorldBuffer out(4, 4, 32);
    ASSERT_TRUE(s.beginSession(&out)) << s.Error();
    EXPECT_TRUE(s.isActive());
    CVPixelBufferRef destination = nullptr;
    ByteCount used = 0;
    ASSERT_EQ(ICMDecompressionFrameOptionsGetProperty(
                  s.frameOptions(), kQTPropertyClass_ICMDecompressionFrameOptions,
                  kICMDecompressionFrameOptionsPropertyID_DestinationPixelBuffer, sizeof destination,
                  &destination, &used),
              0);
    EXPECT_EQ(destination, out.toCVPixelBuffer()->buffer());
    s.decompressData(0, 0); // decodes nothing
    EXPECT_EQ(s.framesCount(), 0);
    // The platform session draws into that buffer when asked.
    ASSERT_EQ(ICMDecompressionSessionDecodeFrame(s.session(), f.data.data(), ByteCount(f.data.size()),
                                                 s.frameOptions(), nullptr, nullptr),
              0);
    EXPECT_EQ(reinterpret_cast<uint8_t*>(out.baseAddress())[1], source.samples[0]);
    s.endSession();
    EXPECT_FALSE(s.isActive());
}

} // namespace
