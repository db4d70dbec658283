// Frames of movie files that ffmpeg makes, drawn by our layer: opened from the file, drawn
// through SetMovieGWorld, SetMovieTimeValue and MoviesTask into an offscreen world, they equal
// what ffmpeg decodes (raw and PNG exactly; JPEG within the level or two by which JPEG decoders
// differ, and exactly what PIL decodes from the same sample).
#include "PlatformCompressionSessions.h"
#include "PlatformFixed.h"
#include "PlatformGWorlds.h"
#include "PlatformMemory.h"
#include "PlatformMovieFiles.h"
#include "PlatformMoviePlayback.h"
#include "PlatformMovies.h"

#include "PythonPeer.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using testsupport::readFile;
using testsupport::run;
using testsupport::ScratchDir;

bool ffmpeg(const std::string& args) {
    int status = 0;
    const std::string said = run("ffmpeg -v error -y " + args + " </dev/null 2>&1", &status);
    EXPECT_EQ(status, 0) << args << "\n" << said;
    return status == 0;
}

Movie openPath(const std::string& path) {
    Handle ref = nullptr;
    EXPECT_EQ(PtrToHand(path.c_str(), &ref, Size(path.size() + 1)), noErr);
    Movie movie = nullptr;
    int16_t id = 0;
    EXPECT_EQ(NewMovieFromDataRef(&movie, newMovieActive, &id, ref, FOUR_CHAR_CODE("alis")), noErr);
    DisposeHandle(ref);
    return movie;
}

// The world's pixels as R, G, B bytes, row after row.
std::string worldRGB(GWorldPtr world, int width, int height) {
    PixMapHandle pm = GetGWorldPixMap(world);
    std::string out;
    for (int y = 0; y < height; ++y) {
        const auto* row = reinterpret_cast<const uint8_t*>(GetPixBaseAddr(pm)) + y * GetPixRowBytes(pm);
        for (int x = 0; x < width; ++x)
            out.append(reinterpret_cast<const char*>(row + 4 * x + 1), 3);
    }
    return out;
}

// The largest difference between two images of the same size, and where it is.
int largestDifference(const std::string& a, const std::string& b, size_t* at = nullptr) {
    int most = 0;
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
        const int d = std::abs(int(uint8_t(a[i])) - int(uint8_t(b[i])));
        if (d > most) {
            most = d;
            if (at) *at = i;
        }
    }
    return most;
}

// The mean difference of the samples of two images of the same size.
double meanDifference(const std::string& a, const std::string& b) {
    double sum = 0;
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        sum += std::abs(int(uint8_t(a[i])) - int(uint8_t(b[i])));
    return a.empty() ? 0.0 : sum / double(a.size());
}

// Decodes each JPEG file given to R, G, B bytes next to it (name.rgb).
constexpr const char* kPilDecoder = R"(
import sys
from PIL import Image
for path in sys.argv[1:]:
    with Image.open(path) as im:
        open(path + '.rgb', 'wb').write(im.convert('RGB').tobytes())
)";

struct FramesCase {
    const char* name;
    const char* codec; // ffmpeg's video options
    // Against ffmpeg's decode: the largest difference of a sample, and of the mean. ffmpeg
    // brings subsampled chroma up another way than libjpeg, so on these small, busy 4:2:0
    // frames it differs at every colour edge; PIL's decode, through libjpeg, is the tight check.
    int tolerance;
    double meanTolerance;
    bool jpeg; // also compared with PIL's decode of each sample
};

const FramesCase kFramesCases[] = {
    {"rawvideo", "-c:v rawvideo -pix_fmt rgb24", 0, 0.0, false},
    {"png", "-c:v png -pix_fmt rgb24", 0, 0.0, false},
    {"mjpeg444", "-c:v mjpeg -pix_fmt yuvj444p -q:v 3", 2, 0.5, true},
    {"mjpeg420", "-c:v mjpeg -pix_fmt yuvj420p -q:v 3", 48, 4.0, true},
};

class MovieFileFrames : public ::testing::TestWithParam<FramesCase> {};

TEST_P(MovieFileFrames, DrawTheFramesFFmpegDecodes) {
    if (!testsupport::haveCommand("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
    const FramesCase& c = GetParam();
    constexpr int kWidth = 48, kHeight = 32, kFrames = 4, kRate = 5;
    ScratchDir dir("movie-frames");
    const std::string file = dir.file("in.mov");
    ASSERT_TRUE(ffmpeg("-f lavfi -i testsrc2=size=" + std::to_string(kWidth) + "x" + std::to_string(kHeight) +
                       ":rate=" + std::to_string(kRate) + " -frames:v " + std::to_string(kFrames) + " " +
                       c.codec + " -f mov '" + file + "'"));
    // What ffmpeg decodes: frames of R, G, B bytes one after another, each frame as it is.
    ASSERT_TRUE(ffmpeg("-i '" + file +
                       "' -f rawvideo -pix_fmt rgb24 -sws_flags +accurate_rnd+full_chroma_int '" +
                       dir.file("ff.rgb") + "'"));
    const std::string decoded = readFile(dir.file("ff.rgb"));
    const size_t frameBytes = size_t(kWidth) * kHeight * 3;
    ASSERT_EQ(decoded.size(), frameBytes * kFrames);
    std::string pil;
    if (c.jpeg) {
        ASSERT_TRUE(ffmpeg("-i '" + file + "' -map 0:v -c copy -f image2 '" + dir.file("s%d.jpg") + "'"));
        const std::string script = testsupport::writePeerScript(dir, kPilDecoder);
        std::string args;
        for (int i = 1; i <= kFrames; ++i)
            args += " '" + dir.file("s" + std::to_string(i) + ".jpg") + "'";
        ASSERT_EQ(testsupport::runPeerScript(script, args), "");
        for (int i = 1; i <= kFrames; ++i)
            pil += readFile(dir.file("s" + std::to_string(i) + ".jpg.rgb"));
        ASSERT_EQ(pil.size(), decoded.size());
    }

    Movie movie = openPath(file);
    ASSERT_NE(movie, nullptr);
    const Rect bounds{0, 0, kHeight, kWidth};
    GWorldPtr world = nullptr;
    ASSERT_EQ(QTNewGWorld(&world, k32ARGBPixelFormat, &bounds, nullptr, nullptr, 0), noErr);
    SetMovieGWorld(movie, world, nullptr);
    ASSERT_EQ(GetMoviesError(), noErr);
    const TimeScale scale = GetMovieTimeScale(movie);
    std::string previous;
    for (int i = 0; i < kFrames; ++i) {
        SCOPED_TRACE("frame " + std::to_string(i));
        // The middle of the frame's interval.
        SetMovieTimeValue(movie, TimeValue((int64_t(2 * i + 1) * scale) / (2 * kRate)));
        MoviesTask(movie, 0);
        ASSERT_EQ(GetMoviesError(), noErr);
        const std::string drawn = worldRGB(world, kWidth, kHeight);
        const std::string expected = decoded.substr(i * frameBytes, frameBytes);
        size_t at = 0;
        const int most = largestDifference(drawn, expected, &at);
        EXPECT_LE(most, c.tolerance) << "at pixel " << at / 3 % kWidth << "," << at / 3 / kWidth;
        EXPECT_LE(meanDifference(drawn, expected), c.meanTolerance);
        if (c.jpeg) {
            EXPECT_EQ(largestDifference(drawn, pil.substr(i * frameBytes, frameBytes)), 0);
        }
        // The frames differ, so a frame drawn twice would show.
        EXPECT_NE(drawn, previous);
        previous = drawn;
    }
    DisposeMovie(movie);
    DisposeGWorld(world);
}

INSTANTIATE_TEST_SUITE_P(Peers, MovieFileFrames, ::testing::ValuesIn(kFramesCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ffmpeg pads each row of a 'raw ' sample to an even number of bytes (a 33 x 17 rgb24 frame is 17
// rows of 100 bytes): frames of odd widths and of every depth it writes as 'raw ' are drawn
// equal to its own decode, every frame and every value.
TEST(MovieFileRawFrames, PaddedRowsOfEveryDepthDrawAsFFmpegDecodesThem) {
    if (!testsupport::haveCommand("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
    struct Case {
        const char* pixFmt;
        int width, height;
    } cases[] = {
        {"rgb24", 33, 17}, {"rgb24", 97, 55},    {"gray", 33, 17},     {"gray", 97, 55},
        {"argb", 33, 17},  {"rgb555be", 33, 17}, {"rgb555be", 97, 55}, {"rgb24", 32, 16},
    };
    constexpr int kFrames = 3, kRate = 5;
    ScratchDir dir("movie-raw-frames");
    for (const Case& c : cases) {
        const std::string size = std::to_string(c.width) + "x" + std::to_string(c.height);
        SCOPED_TRACE(std::string(c.pixFmt) + " " + size);
        const std::string file = dir.file(std::string(c.pixFmt) + "-" + size + ".mov");
        ASSERT_TRUE(ffmpeg("-f lavfi -i testsrc=size=" + size + ":rate=" + std::to_string(kRate) +
                           " -c:v rawvideo -pix_fmt " + c.pixFmt + " -frames:v " + std::to_string(kFrames) +
                           " -f mov '" + file + "'"));
        const std::string rgb = dir.file("ff.rgb");
        ASSERT_TRUE(ffmpeg("-i '" + file + "' -f rawvideo -pix_fmt rgb24 '" + rgb + "'"));
        const std::string decoded = readFile(rgb);
        const size_t frameBytes = size_t(c.width) * c.height * 3;
        ASSERT_EQ(decoded.size(), frameBytes * kFrames);

        Movie movie = openPath(file);
        ASSERT_NE(movie, nullptr);
        const Rect bounds{0, 0, int16_t(c.height), int16_t(c.width)};
        GWorldPtr world = nullptr;
        ASSERT_EQ(QTNewGWorld(&world, k32ARGBPixelFormat, &bounds, nullptr, nullptr, 0), noErr);
        SetMovieGWorld(movie, world, nullptr);
        const TimeScale scale = GetMovieTimeScale(movie);
        for (int i = 0; i < kFrames; ++i) {
            SCOPED_TRACE("frame " + std::to_string(i));
            SetMovieTimeValue(movie, TimeValue((int64_t(2 * i + 1) * scale) / (2 * kRate)));
            MoviesTask(movie, 0);
            ASSERT_EQ(GetMoviesError(), noErr);
            const std::string drawn = worldRGB(world, c.width, c.height);
            size_t at = 0;
            EXPECT_EQ(largestDifference(drawn, decoded.substr(i * frameBytes, frameBytes), &at), 0)
                << "at pixel " << at / 3 % size_t(c.width) << "," << at / 3 / size_t(c.width);
        }
        DisposeMovie(movie);
        DisposeGWorld(world);
    }
}

} // namespace

// Raw frames of odd widths that we compress and write (packed rows, 24- and 32-bit colour, 8-bit
// grey) decode in ffmpeg without a word, to the pixels drawn here from the same file.
TEST(MovieFileRawFrames, OddWidthsWeWriteDecodeInFFmpeg) {
    if (!testsupport::haveCommand("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
    constexpr int16_t kW = 33, kH = 17;
    constexpr int kFrames = 3;
    ScratchDir dir("movie-raw-written");
    const Rect bounds{0, 0, kH, kW};
    GWorldPtr source = nullptr;
    ASSERT_EQ(QTNewGWorld(&source, k32ARGBPixelFormat, &bounds, nullptr, nullptr, 0), noErr);
    PixMapHandle map = GetGWorldPixMap(source);
    for (int16_t depth : {24, 32, 40}) {
        SCOPED_TRACE(depth);
        const std::string file = dir.file("written-" + std::to_string(depth) + ".mov");
        FSSpec spec;
        FSPathMakeFSSpec(file.c_str(), &spec);
        int16_t refNum = 0;
        Movie movie = nullptr;
        ASSERT_EQ(
            CreateMovieFile(&spec, FOUR_CHAR_CODE("TVOD"), -1, createMovieFileDeleteCurFile, &refNum, &movie),
            noErr);
        Track track = NewMovieTrack(movie, Long2Fix(kW), Long2Fix(kH), 0);
        Media media = NewTrackMedia(track, VideoMediaType, 600, nullptr, 0);
        ImageDescriptionHandle desc = reinterpret_cast<ImageDescriptionHandle>(NewHandle(0));
        ImageSequence seq = 0;
        ASSERT_EQ(CompressSequenceBegin(&seq, map, nullptr, &bounds, nullptr, depth, FOUR_CHAR_CODE("raw "),
                                        0, 0x200, 0, 0, nullptr, 0, desc),
                  noErr);
        std::vector<char> data(size_t(kW) * kH * 8 + 65536);
        for (int k = 0; k < kFrames; ++k) {
            auto* base = reinterpret_cast<uint8_t*>(GetPixBaseAddr(map));
            for (int y = 0; y < kH; ++y)
                for (int x = 0; x < kW; ++x) {
                    uint8_t* px = base + y * GetPixRowBytes(map) + 4 * x;
                    px[0] = 255;
                    px[1] = uint8_t(x * 7 + k * 40);
                    px[2] = uint8_t(y * 15);
                    px[3] = uint8_t((x ^ y) * 9 + k);
                }
            int32_t size = int32_t(data.size());
            ASSERT_EQ(CompressSequenceFrame(seq, map, &bounds, 0, data.data(), &size, nullptr, nullptr),
                      noErr);
            ASSERT_EQ(AddMediaSample2(media, reinterpret_cast<const uint8_t*>(data.data()), ByteCount(size),
                                      120, 0, reinterpret_cast<SampleDescriptionHandle>(desc), 1, 0, nullptr),
                      noErr);
        }
        CDSequenceEnd(seq);
        DisposeHandle(reinterpret_cast<Handle>(desc));
        ASSERT_EQ(InsertMediaIntoTrack(track, 0, 0, GetMediaDuration(media), fixed1), noErr);
        int16_t resId = 0;
        ASSERT_EQ(AddMovieResource(movie, refNum, &resId, nullptr), noErr);
        ASSERT_EQ(CloseMovieFile(refNum), noErr);
        DisposeMovie(movie);

        int status = -1;
        const std::string said = run("ffmpeg -v error -y -i '" + file + "' -f rawvideo -pix_fmt rgb24 '" +
                                         dir.file("ff.rgb") + "' </dev/null 2>&1",
                                     &status);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(said, "");
        const std::string decoded = readFile(dir.file("ff.rgb"));
        const size_t frameBytes = size_t(kW) * kH * 3;
        ASSERT_EQ(decoded.size(), frameBytes * kFrames);
        Movie back = openPath(file);
        ASSERT_NE(back, nullptr);
        GWorldPtr world = nullptr;
        ASSERT_EQ(QTNewGWorld(&world, k32ARGBPixelFormat, &bounds, nullptr, nullptr, 0), noErr);
        SetMovieGWorld(back, world, nullptr);
        for (int k = 0; k < kFrames; ++k) {
            SetMovieTimeValue(back, TimeValue(120 * k + 60));
            MoviesTask(back, 0);
            ASSERT_EQ(GetMoviesError(), noErr);
            EXPECT_EQ(largestDifference(worldRGB(world, kW, kH), decoded.substr(k * frameBytes, frameBytes)),
                      0)
                << "frame " << k;
        }
        DisposeMovie(back);
        DisposeGWorld(world);
    }
    DisposeGWorld(source);
}
