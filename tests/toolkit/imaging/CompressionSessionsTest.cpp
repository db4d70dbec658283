// Compression sessions: frames of a frame buffer compressed into handles, files and media.
#include "KelvoVideoCompression.h"

#include "KelvoVideo.h"
#include "PlatformCodecRegistry.h"
#include "PlatformFixed.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cmath>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

Kelvo_ImgDescComp parametersFor(CodecType cType, int16_t depth) {
    Kelvo_ImgDescComp p;
    p.dataFormat(cType);
    p.qtDepth(depth);
    p.qtSpatialQuality(1024);
    return p;
}

// A 32-bit buffer of 16 x 8 with a gradient.
std::unique_ptr<Kelvo_QDGWorldBuffer> gradient() {
    auto b = std::make_unique<Kelvo_QDGWorldBuffer>(16, 8, 32);
    auto* base = reinterpret_cast<uint8_t*>(b->baseAddress());
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 16; ++x) {
            uint8_t* px = base + size_t(y) * size_t(b->rowBytes()) + size_t(x) * 4;
            px[0] = 0xFF;
            px[1] = uint8_t(x * 16);
            px[2] = uint8_t(y * 32);
            px[3] = 77;
        }
    return b;
}

TEST(CompressionSessions, MinimumFrameDuration) {
    struct Case {
        double rate;
        int32_t duration;
        int32_t expected;
    } cases[] = {{25.0, 0, 24}, {0.0, 0, 24}, {0.0, 40, 40}, {29.97, 40, 20}};
    for (const Case& c : cases) {
        Kelvo_ImgDescComp p = parametersFor(FOUR_CHAR_CODE("png "), 32);
        p.qtFrameRate(c.rate);
        p.qtFrameDur() = c.duration;
        Kelvo_ImageSequenceCompressionSession s(&p, 600);
        EXPECT_EQ(s.minimumFrameDuration(), c.expected) << c.rate << " " << c.duration;
        Kelvo_ICMCompressionSession i(&p, 600);
        EXPECT_EQ(i.minimumFrameDuration(), c.expected);
    }
    // A negative rate is refused, and one set into the field directly is no rate: neither gives
    // a negative duration.
    Kelvo_ImgDescComp negative = parametersFor(FOUR_CHAR_CODE("png "), 32);
    for (double rate : {-25.0, -0.5, std::nan(""), 1e9}) {
        negative.qtFrameRate(rate);
        EXPECT_EQ(negative.Error(), -50) << rate;
        EXPECT_EQ(negative.qtFrameRate(), 0.0) << rate;
    }
    negative.qtFixFrameRate() = X2Fix(-25.0);
    negative.qtFrameDur() = 40;
    EXPECT_EQ(Kelvo_ImageSequenceCompressionSession(&negative, 600).minimumFrameDuration(), 40);
    negative.qtFrameDur() = 0;
    EXPECT_EQ(Kelvo_ICMCompressionSession(&negative, 600).minimumFrameDuration(), 24);
    Kelvo_ImageSequenceCompressionSession none;
    EXPECT_FALSE(none.qtObjIsValid()); // no parameters
    EXPECT_EQ(none.minimumFrameDuration(), 0);
}

template <class Session> void framesAccumulateInAHandle() {
    auto buffer = gradient();
    Kelvo_ImgDescComp p = parametersFor(FOUR_CHAR_CODE("png "), 24);
    Session s(&p, 600);
    EXPECT_EQ(s.compressData(-1, -1), 200); // not begun
    EXPECT_EQ(s.framesCount(), 0);
    EXPECT_FALSE(s.beginSession(buffer.get())); // no output yet
    EXPECT_EQ(s.Error(), 80);
    Handle out = NewHandle(0);
    s.outputStorage() = KelvoCompressionOutput{2, out};
    Kelvo_QDGWorldBuffer empty(32);
    EXPECT_FALSE(s.beginSession(&empty));
    EXPECT_EQ(s.Error(), 79);
    ASSERT_TRUE(s.beginSession(buffer.get())) << s.Error();
    EXPECT_TRUE(s.isActive());
    // Parameters cannot change under a running session.
    Kelvo_ImgDescComp other = parametersFor(FOUR_CHAR_CODE("jpeg"), 24);
    EXPECT_FALSE(s.sessionParameters(&other));
    EXPECT_EQ(s.Error(), 200);
    EXPECT_EQ(s.sessionParameters()->dataFormat(), FOUR_CHAR_CODE("png "));
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(s.compressData(i * 24, 24), 0);
    EXPECT_EQ(s.framesCount(), 3);
    ASSERT_NE(s.compressedDataParameters(), nullptr);
    Handle desc = s.compressedDataParameters()->hdescCopy();
    s.endSession();
    EXPECT_FALSE(s.isActive());

    // Three identical frames back to back; each decodes to the buffer's pixels.
    const size_t total = size_t(GetHandleSize(out));
    ASSERT_EQ(total % 3, 0u);
    const size_t one = total / 3;
    platform::codec::Picture decoded;
    ASSERT_EQ(platform::codecDecodeFrame(reinterpret_cast<ImageDescriptionHandle>(desc),
                                         reinterpret_cast<uint8_t*>(*out) + one, one, decoded),
              0);
    EXPECT_EQ(decoded.width, 16);
    EXPECT_EQ(decoded.components, 3);
    EXPECT_EQ(decoded.samples[(7 * 16 + 15) * 3 + 0], 240); // red of (15, 7)
    EXPECT_EQ(decoded.samples[(7 * 16 + 15) * 3 + 1], 224);
    EXPECT_EQ(decoded.samples[(7 * 16 + 15) * 3 + 2], 77);
    DisposeHandle(desc);
    DisposeHandle(out);
}

TEST(CompressionSessions, ImageSequenceFramesAccumulateInAHandle) {
    framesAccumulateInAHandle<Kelvo_ImageSequenceCompressionSession>();
}

TEST(CompressionSessions, ICMFramesAccumulateInAHandle) {
    framesAccumulateInAHandle<Kelvo_ICMCompressionSession>();
}

TEST(CompressionSessions, FilesAndMedia) {
    auto buffer = gradient();
    Kelvo_ImgDescComp p = parametersFor(FOUR_CHAR_CODE("raw "), 32);
    for (int kind : {0, 1}) {
        std::FILE* file = std::tmpfile();
        std::unique_ptr<Kelvo_VideoCompressionSession> s;
        if (kind == 0)
            s = std::make_unique<Kelvo_ImageSequenceCompressionSession>(&p, 600);
        else
            s = std::make_unique<Kelvo_ICMCompressionSession>(&p, 600);
        s->outputStorage() = KelvoCompressionOutput{3, file};
        ASSERT_TRUE(s->beginSession(buffer.get()));
        ASSERT_EQ(s->compressData(0, 0), 0);
        ASSERT_EQ(s->compressData(24, 0), 0);
        s->endSession();
        EXPECT_EQ(std::ftell(file), 2 * 16 * 8 * 4) << kind;
        std::fclose(file);
    }
    // A media that is missing.
    Kelvo_ImageSequenceCompressionSession s(&p, 600);
    s.outputStorage() = KelvoCompressionOutput{1, nullptr};
    ASSERT_TRUE(s.beginSession(buffer.get()));
    EXPECT_EQ(s.compressData(0, 0), -2008);
    EXPECT_EQ(s.framesCount(), 0);
}

TEST(CompressionSessions, MultipassDescriptionsRunOnePassWithOurCodecs) {
    auto buffer = gradient();
    Kelvo_ImgDescComp p = parametersFor(FOUR_CHAR_CODE("png "), 24);
    p.qtMultiPassEncoding() = true;
    Kelvo_ICMCompressionSession s(&p, 600);
    Handle out = NewHandle(0);
    s.outputStorage() = KelvoCompressionOutput{2, out};
    ASSERT_TRUE(s.beginSession(buffer.get()));
    EXPECT_TRUE(s.isMultiPassSession());
    ASSERT_EQ(s.compressData(0, 24), 0);
    s.endSession(); // one pass was enough: the session ends
    EXPECT_FALSE(s.isActive());
    EXPECT_EQ(s.framesCount(), 1);
    EXPECT_GT(GetHandleSize(out), 0);
    DisposeHandle(out);
}

// The RGB bytes a peer reads from a file: djpeg for JPEG, opj_decompress for JPEG 2000
// codestreams, PIL for PNG; empty when the peer fails.
std::string peerPixels(const testsupport::ScratchDir& dir, CodecType cType, const std::string& file) {
    std::string image = file;
    int status = -1;
    if (cType == FOUR_CHAR_CODE("jpeg")) {
        image = dir.file("peer.ppm");
        testsupport::run("djpeg -pnm -outfile '" + image + "' '" + file + "' 2>&1", &status);
        if (status != 0) return std::string();
    } else if (cType == FOUR_CHAR_CODE("mjp2")) {
        const std::string j2k = file + ".j2k";
        std::rename(file.c_str(), j2k.c_str());
        image = dir.file("peer.ppm");
        testsupport::run("opj_decompress -i '" + j2k + "' -o '" + image + "' > /dev/null 2>&1", &status);
        if (status != 0) return std::string();
    }
    return testsupport::run("/usr/bin/python3 -c \"import sys; from PIL import Image; "
                            "sys.stdout.buffer.write(Image.open(sys.argv[1]).convert('RGB').tobytes())\" '" +
                                image + "'",
                            &status);
}

TEST(CompressionSessions, StreamsThePeersDecode) {
    testsupport::ScratchDir dir("compression-sessions");
    // A smooth picture: lossy codecs keep it closely.
    auto b = std::make_unique<Kelvo_QDGWorldBuffer>(32, 16, 32);
    auto* base = reinterpret_cast<uint8_t*>(b->baseAddress());
    std::string expected;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 32; ++x) {
            uint8_t* px = base + size_t(y) * size_t(b->rowBytes()) + size_t(x) * 4;
            px[0] = 0xFF;
            px[1] = uint8_t(60 + x * 4);
            px[2] = uint8_t(90 + y * 6);
            px[3] = uint8_t(120 + x + y);
            expected.append(reinterpret_cast<const char*>(px + 1), 3);
        }
    struct Case {
        CodecType cType;
        uint32_t quality;
        int tolerance;
    } cases[] = {{FOUR_CHAR_CODE("jpeg"), 1023, 3},
                 {FOUR_CHAR_CODE("mjp2"), 1024, 0},
                 {FOUR_CHAR_CODE("mjp2"), 768, 4},
                 {FOUR_CHAR_CODE("png "), 512, 0}};
    for (const Case& c : cases)
        for (int kind = 0; kind < 2; ++kind) {
            Kelvo_ImgDescComp p = parametersFor(c.cType, 24);
            p.qtSpatialQuality(c.quality);
            std::unique_ptr<Kelvo_VideoCompressionSession> s;
            if (kind == 0)
                s = std::make_unique<Kelvo_ImageSequenceCompressionSession>(&p, 600);
            else
                s = std::make_unique<Kelvo_ICMCompressionSession>(&p, 600);
            const std::string path =
                dir.file("frame-" + std::to_string(c.cType) + "-" + std::to_string(kind));
            std::FILE* file = std::fopen(path.c_str(), "wb");
            ASSERT_NE(file, nullptr);
            s->outputStorage() = KelvoCompressionOutput{3, file};
            ASSERT_TRUE(s->beginSession(b.get()));
            ASSERT_EQ(s->compressData(0, 0), 0);
            s->endSession();
            std::fclose(file);
            const std::string got = peerPixels(dir, c.cType, path);
            ASSERT_EQ(got.size(), expected.size()) << c.cType << " " << kind;
            int worst = 0;
            for (size_t i = 0; i < got.size(); ++i)
                worst = std::max(worst, std::abs(int(uint8_t(got[i])) - int(uint8_t(expected[i]))));
            EXPECT_LE(worst, c.tolerance) << c.cType << " quality " << c.quality << " session " << kind;
        }
}

} // namespace
