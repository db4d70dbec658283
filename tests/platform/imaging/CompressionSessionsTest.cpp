// Image sequences and compression sessions: frames compressed from worlds and pixel buffers
// decode back to the pixels they were made from (exactly for the lossless codecs).
#include "PlatformCompressionSessions.h"

#include "PlatformCodecRegistry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using platform::codec::Picture;

// A world of `format` holding a pattern of colours: sharp steps, or (smooth) gentle gradients
// that lossy codecs keep well.
GWorldPtr patternWorld(OSType format, int16_t width, int16_t height, bool smooth = false) {
    Rect bounds{0, 0, height, width};
    GWorldPtr world = nullptr;
    if (QTNewGWorld(&world, format, &bounds, nullptr, nullptr, 0) != noErr) return nullptr;
    Picture p;
    p.width = width;
    p.height = height;
    p.components = 3;
    p.samples.resize(size_t(width) * size_t(height) * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t* px = p.samples.data() + (size_t(y) * size_t(width) + size_t(x)) * 3;
            px[0] = uint8_t(smooth ? x : x * 16);
            px[1] = uint8_t(smooth ? y : y * 32);
            px[2] = uint8_t(smooth ? 128 : (x + y) * 8);
        }
    platform::pictureToPixMap(p, GetGWorldPixMap(world));
    return world;
}

struct Compressed {
    ImageDescriptionHandle desc = nullptr;
    std::vector<uint8_t> data;
    ~Compressed() { DisposeHandle(reinterpret_cast<Handle>(desc)); }
};

OSErr compressWorld(GWorldPtr world, const Rect& rect, CodecType cType, int16_t depth, CodecQ quality,
                    Compressed& out) {
    PixMapHandle map = GetGWorldPixMap(world);
    out.desc = reinterpret_cast<ImageDescriptionHandle>(NewHandle(4));
    ImageSequence seq = 0;
    OSErr err = CompressSequenceBegin(&seq, map, nullptr, &rect, nullptr, depth, cType, anyCodec, quality, 0,
                                      0, nullptr, 0, out.desc);
    if (err) return err;
    int32_t size = 0;
    err = GetMaxCompressionSize(map, &rect, depth, quality, cType, anyCodec, &size);
    if (err) return err;
    out.data.resize(size_t(size));
    uint8_t similarity = 9;
    err = CompressSequenceFrame(seq, map, &rect, 0, reinterpret_cast<Ptr>(out.data.data()), &size,
                                &similarity, nullptr);
    EXPECT_EQ(similarity, 0);
    if (err == noErr) out.data.resize(size_t(size));
    CDSequenceEnd(seq);
    return err;
}

TEST(ImageSequenceCompression, LosslessCodecsGiveBackThePixels) {
    struct Case {
        OSType world;
        CodecType cType;
        int16_t depth;
        int32_t components;
    } cases[] = {
        {32, FOUR_CHAR_CODE("png "), 32, 4}, {32, FOUR_CHAR_CODE("png "), 24, 3},
        {32, FOUR_CHAR_CODE("WRLE"), 24, 3}, {32, FOUR_CHAR_CODE("raw "), 24, 3},
        {32, FOUR_CHAR_CODE("raw "), 32, 4}, {40, FOUR_CHAR_CODE("raw "), 40, 1},
        {40, FOUR_CHAR_CODE("png "), 40, 1}, {24, FOUR_CHAR_CODE("8BPS"), 24, 3},
    };
    for (const Case& c : cases) {
        GWorldPtr world = patternWorld(c.world, 12, 6);
        ASSERT_NE(world, nullptr);
        const Rect rect{1, 2, 5, 10}; // 8 x 4 from (2, 1)
        Compressed out;
        ASSERT_EQ(compressWorld(world, rect, c.cType, c.depth, 1024, out), noErr)
            << c.cType << " " << c.depth;
        const ImageDescription& d = **out.desc;
        EXPECT_EQ(d.cType, c.cType);
        EXPECT_EQ(d.width, 8);
        EXPECT_EQ(d.height, 4);
        EXPECT_EQ(d.depth, c.depth);
        EXPECT_EQ(d.idSize, 86);
        Picture decoded;
        ASSERT_EQ(platform::codecDecodeFrame(out.desc, out.data.data(), out.data.size(), decoded), noErr);
        Picture expected;
        ASSERT_EQ(platform::framePicture(GetGWorldPixMap(world), rect, c.cType, c.depth, expected), noErr);
        EXPECT_EQ(expected.components, c.components);
        EXPECT_EQ(decoded.components, expected.components) << c.cType << " " << c.depth;
        EXPECT_EQ(decoded.samples, expected.samples) << c.cType << " " << c.depth;
        DisposeGWorld(world);
    }
}

TEST(ImageSequenceCompression, JPEGAndJPEG2000StayCloseToTheSource) {
    GWorldPtr world = patternWorld(32, 128, 128, true);
    const Rect rect{0, 0, 128, 128};
    const CodecQ qualities[] = {1023, 1024, 1023};
    const CodecType types[] = {FOUR_CHAR_CODE("jpeg"), FOUR_CHAR_CODE("mjp2"), FOUR_CHAR_CODE("mjp2")};
    for (int k = 0; k < 3; ++k) {
        const CodecType cType = types[k];
        const CodecQ quality = qualities[k];
        Compressed out;
        ASSERT_EQ(compressWorld(world, rect, cType, 24, quality, out), noErr);
        Picture decoded, expected;
        ASSERT_EQ(platform::codecDecodeFrame(out.desc, out.data.data(), out.data.size(), decoded), noErr);
        ASSERT_EQ(platform::framePicture(GetGWorldPixMap(world), rect, cType, 24, expected), noErr);
        ASSERT_EQ(decoded.samples.size(), expected.samples.size());
        // JPEG subsamples chroma: sharp colour edges ring in single channels, so it is held to a
        // mean; JPEG 2000 keeps every sample close.
        int worst = 0;
        double total = 0;
        for (size_t i = 0; i < decoded.samples.size(); ++i) {
            const int d = std::abs(int(decoded.samples[i]) - int(expected.samples[i]));
            worst = std::max(worst, d);
            total += d;
        }
        const double mean = total / double(decoded.samples.size());
        if (cType == FOUR_CHAR_CODE("jpeg")) {
            EXPECT_LE(mean, 1.0);
            EXPECT_LE(worst, 4);
        } else {
            EXPECT_LE(worst, quality >= 1024 ? 0 : 4) << quality;
        }
    }
    DisposeGWorld(world);
}

TEST(ImageSequenceCompression, RefusedSequencesAndFrames) {
    GWorldPtr world = patternWorld(32, 8, 8);
    PixMapHandle map = GetGWorldPixMap(world);
    Handle h = NewHandle(0);
    auto desc = reinterpret_cast<ImageDescriptionHandle>(h);
    ImageSequence seq = 7;
    const Rect outside{0, 0, 9, 8};
    EXPECT_EQ(CompressSequenceBegin(&seq, map, nullptr, &outside, nullptr, 32, FOUR_CHAR_CODE("png "),
                                    anyCodec, 512, 0, 0, nullptr, 0, desc),
              paramErr);
    EXPECT_EQ(seq, 0);
    EXPECT_EQ(CompressSequenceBegin(&seq, map, nullptr, nullptr, nullptr, 32, FOUR_CHAR_CODE("zzzz"),
                                    anyCodec, 512, 0, 0, nullptr, 0, desc),
              noCodecErr);
    ASSERT_EQ(CompressSequenceBegin(&seq, map, nullptr, nullptr, nullptr, 32, FOUR_CHAR_CODE("raw "),
                                    anyCodec, 512, 0, 0, nullptr, 0, desc),
              noErr);
    std::vector<uint8_t> data(8 * 8 * 4);
    int32_t size = int32_t(data.size()) - 1; // one byte short of the frame
    uint8_t similarity = 0;
    EXPECT_EQ(CompressSequenceFrame(seq, map, nullptr, 0, reinterpret_cast<Ptr>(data.data()), &size,
                                    &similarity, nullptr),
              codecSpoolErr);
    const Rect smaller{0, 0, 4, 4};
    size = int32_t(data.size());
    EXPECT_EQ(CompressSequenceFrame(seq, map, &smaller, 0, reinterpret_cast<Ptr>(data.data()), &size,
                                    &similarity, nullptr),
              paramErr);
    EXPECT_EQ(CompressSequenceFrame(seq, map, nullptr, 0, reinterpret_cast<Ptr>(data.data()), &size,
                                    &similarity, nullptr),
              noErr);
    EXPECT_EQ(size, 8 * 8 * 4);
    EXPECT_EQ(CDSequenceEnd(seq), noErr);
    EXPECT_EQ(CDSequenceEnd(seq), paramErr);
    EXPECT_EQ(CompressSequenceFrame(seq, map, nullptr, 0, reinterpret_cast<Ptr>(data.data()), &size,
                                    &similarity, nullptr),
              paramErr);
    DisposeHandle(h);
    DisposeGWorld(world);
}

struct Received {
    std::vector<std::vector<uint8_t>> frames;
    std::vector<TimeValue64> durations;
    ImageDescriptionHandle desc = nullptr;
    OSStatus lastError = 0;
};

OSStatus onFrame(void* refCon, ICMCompressionSessionRef, OSStatus error, ICMEncodedFrameRef frame, void*) {
    auto* r = static_cast<Received*>(refCon);
    r->lastError = error;
    if (error) return error;
    const uint8_t* p = ICMEncodedFrameGetDataPtr(frame);
    r->frames.emplace_back(p, p + ICMEncodedFrameGetDataSize(frame));
    r->durations.push_back(ICMEncodedFrameGetDecodeDuration(frame));
    EXPECT_EQ(ICMEncodedFrameGetTimeScale(frame), 600);
    EXPECT_EQ(ICMEncodedFrameGetMediaSampleFlags(frame), 0u);
    if (!r->desc) {
        EXPECT_EQ(ICMEncodedFrameGetImageDescription(frame, &r->desc), noErr);
    }
    return noErr;
}

TEST(CompressionSession, FramesFromPixelBuffersReachTheCallback) {
    CVPixelBufferRef buffer = nullptr;
    ASSERT_EQ(CVPixelBufferCreate(nullptr, 10, 6, 32, nullptr, &buffer), 0);
    CVPixelBufferLockBaseAddress(buffer, 0);
    auto* base = static_cast<uint8_t*>(CVPixelBufferGetBaseAddress(buffer));
    const size_t rowBytes = CVPixelBufferGetBytesPerRow(buffer);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 10; ++x) {
            uint8_t* px = base + size_t(y) * rowBytes + size_t(x) * 4;
            px[0] = 0xFF;
            px[1] = uint8_t(x * 20);
            px[2] = uint8_t(y * 40);
            px[3] = uint8_t(x * y);
        }
    CVPixelBufferUnlockBaseAddress(buffer, 0);

    ICMCompressionSessionOptionsRef options = nullptr;
    ASSERT_EQ(ICMCompressionSessionOptionsCreate(nullptr, &options), 0);
    const int32_t depth = 24;
    ASSERT_EQ(ICMCompressionSessionOptionsSetProperty(options, kQTPropertyClass_ICMCompressionSessionOptions,
                                                      kICMCompressionSessionOptionsPropertyID_Depth, 4,
                                                      &depth),
              0);
    Received received;
    ICMEncodedFrameOutputRecord record{onFrame, &received, nullptr};
    ICMCompressionSessionRef session = nullptr;
    ASSERT_EQ(ICMCompressionSessionCreate(nullptr, 10, 6, FOUR_CHAR_CODE("png "), 600, options, nullptr,
                                          &record, &session),
              0);
    ICMCompressionSessionOptionsRelease(options);
    EXPECT_EQ(ICMCompressionSessionGetTimeScale(session), 600);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(ICMCompressionSessionEncodeFrame(session, buffer, i * 24, 24,
                                                   kICMValidTime_DisplayTimeStampIsValid |
                                                       kICMValidTime_DisplayDurationIsValid,
                                                   nullptr, nullptr, nullptr),
                  0);
    EXPECT_EQ(ICMCompressionSessionCompleteFrames(session, true, 0, 0), 0);
    ASSERT_EQ(received.frames.size(), 3u);
    EXPECT_EQ(received.durations[2], 24);
    ASSERT_NE(received.desc, nullptr);
    EXPECT_EQ((*received.desc)->cType, FOUR_CHAR_CODE("png "));
    EXPECT_EQ((*received.desc)->depth, 24);
    Picture decoded;
    ASSERT_EQ(platform::codecDecodeFrame(received.desc, received.frames[0].data(), received.frames[0].size(),
                                         decoded),
              noErr);
    ASSERT_EQ(decoded.components, 3);
    EXPECT_EQ(decoded.samples[(5 * 10 + 9) * 3 + 0], 180); // red of (9, 5)
    EXPECT_EQ(decoded.samples[(5 * 10 + 9) * 3 + 1], 200); // green
    EXPECT_EQ(decoded.samples[(5 * 10 + 9) * 3 + 2], 45);  // blue

    ImageDescriptionHandle fromSession = nullptr;
    ByteCount used = 0;
    EXPECT_EQ(ICMCompressionSessionGetProperty(session, kQTPropertyClass_ICMCompressionSession,
                                               kICMCompressionSessionPropertyID_ImageDescription,
                                               sizeof fromSession, &fromSession, &used),
              0);
    ASSERT_NE(fromSession, nullptr);
    EXPECT_EQ((*fromSession)->width, 10);
    DisposeHandle(reinterpret_cast<Handle>(fromSession));

    // A buffer of another size is not a frame of this session.
    CVPixelBufferRef other = nullptr;
    ASSERT_EQ(CVPixelBufferCreate(nullptr, 4, 4, 32, nullptr, &other), 0);
    EXPECT_EQ(ICMCompressionSessionEncodeFrame(session, other, 0, 0, 0, nullptr, nullptr, nullptr), paramErr);
    CVPixelBufferRelease(other);

    ICMCompressionPassModeFlags flags = 99;
    EXPECT_EQ(ICMCompressionSessionSupportsMultiPassEncoding(session, 0, &flags), 0);
    EXPECT_EQ(flags, 0u);
    ICMCompressionSessionRelease(session);
    EXPECT_EQ(ICMCompressionSessionGetTimeScale(session), 0);
    DisposeHandle(reinterpret_cast<Handle>(received.desc));
    CVPixelBufferRelease(buffer);

    EXPECT_EQ(ICMCompressionSessionCreate(nullptr, 10, 6, FOUR_CHAR_CODE("zzzz"), 600, nullptr, nullptr,
                                          &record, &session),
              noCodecErr);
    EXPECT_EQ(ICMCompressionSessionCreate(nullptr, 10, 6, FOUR_CHAR_CODE("png "), 0, nullptr, nullptr,
                                          &record, &session),
              paramErr);
}

} // namespace

// The worlds frames are drawn in (32-bit ARGB, 24-bit RGB, 8-bit grey) are read straight into
// the codec's shape: the same samples as the general way through another format of the same
// pixels, from any rectangle, and into the storage of the frame before.
TEST(FramePicture, WorldsReadStraightGiveWhatTheGeneralWayGives) {
    struct Shape {
        OSType cType;
        int16_t depth;
    } shapes[] = {{FOUR_CHAR_CODE("raw "), 24}, {FOUR_CHAR_CODE("raw "), 32}, {FOUR_CHAR_CODE("raw "), 40},
                  {FOUR_CHAR_CODE("raw "), 8},  {FOUR_CHAR_CODE("jpeg"), 24}, {FOUR_CHAR_CODE("jpeg"), 32},
                  {FOUR_CHAR_CODE("jpeg"), 40}, {FOUR_CHAR_CODE("png "), 32}};
    constexpr int16_t kW = 23, kH = 11;
    const Rect whole{0, 0, kH, kW};
    const Rect part{3, 5, 9, 20};
    // Pixels of every value of every channel, alpha included.
    platform::codec::Picture p;
    p.width = kW;
    p.height = kH;
    p.components = 4;
    p.samples.resize(size_t(kW) * kH * 4);
    uint32_t seed = 7;
    for (uint8_t& v : p.samples) {
        seed = seed * 1103515245u + 12345u;
        v = uint8_t(seed >> 16);
    }
    for (OSType format : {k32ARGBPixelFormat, k24RGBPixelFormat, k8IndexedGrayPixelFormat}) {
        SCOPED_TRACE(format);
        GWorldPtr world = nullptr, other = nullptr;
        ASSERT_EQ(QTNewGWorld(&world, format, &whole, nullptr, nullptr, 0), noErr);
        ASSERT_EQ(platform::pictureToPixMap(p, GetGWorldPixMap(world)), noErr);
        // The same pixels in a format only the general way reads.
        const OSType general = format == k8IndexedGrayPixelFormat ? k16GrayPixelFormat : k32BGRAPixelFormat;
        ASSERT_EQ(QTNewGWorld(&other, general, &whole, nullptr, nullptr, 0), noErr);
        platform::codec::Picture pixels;
        ASSERT_EQ(platform::pixMapToPicture(GetGWorldPixMap(world), pixels), noErr);
        ASSERT_EQ(platform::pictureToPixMap(pixels, GetGWorldPixMap(other)), noErr);
        for (const Shape& s : shapes) {
            for (const Rect& r : {whole, part}) {
                SCOPED_TRACE(std::to_string(s.cType) + " " + std::to_string(s.depth) + " " +
                             std::to_string(r.right - r.left));
                platform::codec::Picture straight, expected;
                ASSERT_EQ(platform::framePicture(GetGWorldPixMap(world), r, s.cType, s.depth, straight),
                          noErr);
                ASSERT_EQ(platform::framePicture(GetGWorldPixMap(other), r, s.cType, s.depth, expected),
                          noErr);
                if (expected.bitsPerSample == 16) continue; // 16-bit grey keeps its depth for 16-bit codecs
                EXPECT_EQ(straight.width, expected.width);
                EXPECT_EQ(straight.height, expected.height);
                EXPECT_EQ(straight.components, expected.components);
                EXPECT_EQ(straight.bitsPerSample, 8);
                EXPECT_TRUE(straight.samples == expected.samples);
                // The next frame of the size goes where this one is.
                const uint8_t* storage = straight.samples.data();
                ASSERT_EQ(platform::framePicture(GetGWorldPixMap(world), r, s.cType, s.depth, straight),
                          noErr);
                EXPECT_EQ(straight.samples.data(), storage);
            }
        }
        // Outside the map: refused, the picture emptied.
        platform::codec::Picture refused;
        refused.width = 1;
        const Rect beyond{0, 0, kH, int16_t(kW + 1)};
        EXPECT_EQ(platform::framePicture(GetGWorldPixMap(world), beyond, FOUR_CHAR_CODE("raw "), 24, refused),
                  paramErr);
        EXPECT_EQ(refused.width, 0);
        DisposeGWorld(world);
        DisposeGWorld(other);
    }
}
