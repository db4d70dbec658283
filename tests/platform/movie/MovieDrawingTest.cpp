#include "PlatformClock.h"
#include "PlatformCodecEngines.h"
#include "PlatformCodecRegistry.h"
#include "PlatformFixed.h"
#include "PlatformMemory.h"
#include "PlatformMoviePlayback.h"

#include "PythonPeer.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

namespace {

using Pixel = std::array<uint8_t, 4>; // A, R, G, B

struct Frame {
    OSType cType;
    int16_t depth;
    std::vector<uint8_t> bytes;
};

SampleDescriptionHandle imageDescription(OSType cType, int16_t width, int16_t height, int16_t depth) {
    Handle h = NewHandleClear(sizeof(ImageDescription));
    auto* d = reinterpret_cast<ImageDescription*>(*h);
    d->idSize = sizeof(ImageDescription);
    d->cType = cType;
    d->width = width;
    d->height = height;
    d->depth = depth;
    d->clutID = -1;
    d->hRes = d->vRes = Long2Fix(72);
    d->frameCount = 1;
    return reinterpret_cast<SampleDescriptionHandle>(h);
}

// A video track of the frames (each `each` long in a 600 scale) shown from movie time 0.
Track addVideoTrack(Movie movie, int16_t width, int16_t height, const std::vector<Frame>& frames,
                    TimeValue each = 300) {
    Track track = NewMovieTrack(movie, Long2Fix(width), Long2Fix(height), 0);
    Media media = NewTrackMedia(track, VideoMediaType, 600, nullptr, 0);
    for (const Frame& f : frames) {
        SampleDescriptionHandle desc = imageDescription(f.cType, width, height, f.depth);
        EXPECT_EQ(
            AddMediaSample2(media, f.bytes.data(), ByteCount(f.bytes.size()), each, 0, desc, 1, 0, nullptr),
            noErr);
        DisposeHandle(reinterpret_cast<Handle>(desc));
    }
    EXPECT_EQ(InsertMediaIntoTrack(track, 0, 0, GetMediaDuration(media), fixed1), noErr);
    return track;
}

// An RGB frame of one colour.
Frame solid(int w, int h, uint8_t r, uint8_t g, uint8_t b) {
    Frame f{FOUR_CHAR_CODE("raw "), 24, {}};
    for (int i = 0; i < w * h; ++i)
        f.bytes.insert(f.bytes.end(), {r, g, b});
    return f;
}

// An RGB frame whose every pixel differs: r = 16x + seed, g = 16y, b = x ^ y.
Frame pattern(int w, int h, uint8_t seed) {
    Frame f{FOUR_CHAR_CODE("raw "), 24, {}};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            f.bytes.insert(f.bytes.end(), {uint8_t(16 * x + seed), uint8_t(16 * y), uint8_t(x ^ y)});
    return f;
}

struct World {
    GWorldPtr world = nullptr;
    World(int w, int h) {
        const Rect r{0, 0, int16_t(h), int16_t(w)};
        EXPECT_EQ(QTNewGWorld(&world, k32ARGBPixelFormat, &r, nullptr, nullptr, 0), noErr);
    }
    ~World() { DisposeGWorld(world); }
    Pixel at(int x, int y) const {
        PixMapHandle pm = GetGWorldPixMap(world);
        const uint8_t* p =
            reinterpret_cast<const uint8_t*>(GetPixBaseAddr(pm)) + y * GetPixRowBytes(pm) + x * 4;
        return Pixel{p[0], p[1], p[2], p[3]};
    }
    void set(int x, int y, Pixel v) {
        PixMapHandle pm = GetGWorldPixMap(world);
        std::memcpy(reinterpret_cast<uint8_t*>(GetPixBaseAddr(pm)) + y * GetPixRowBytes(pm) + x * 4, v.data(),
                    4);
    }
};

Pixel rgb(uint8_t r, uint8_t g, uint8_t b) {
    return Pixel{255, r, g, b};
}

void expectFrame(const World& w, const Frame& f, int width, int height) {
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uint8_t* s = f.bytes.data() + (y * width + x) * 3;
            ASSERT_EQ(w.at(x, y), rgb(s[0], s[1], s[2])) << x << "," << y;
        }
}

struct MovieHolder {
    Movie movie = NewMovie(0);
    ~MovieHolder() { DisposeMovie(movie); }
};

} // namespace

TEST(MovieDrawing, RawFramesDrawAtTheMovieTimeThroughEditsAndStayAtTheEnd) {
    MovieHolder m;
    const Frame first = pattern(8, 6, 1), second = pattern(8, 6, 100);
    Track track = addVideoTrack(m.movie, 8, 6, {first, second});
    World port(8, 6);
    SetMovieGWorld(m.movie, port.world, nullptr);
    ASSERT_EQ(GetMoviesError(), noErr);
    CGrafPtr got = nullptr;
    GDHandle device = nullptr;
    GetMovieGWorld(m.movie, &got, &device);
    EXPECT_EQ(got, port.world);
    EXPECT_EQ(device, GetGWorldDevice(port.world));

    MoviesTask(m.movie, 0);
    ASSERT_EQ(GetMoviesError(), noErr);
    expectFrame(port, first, 8, 6);
    SetMovieTimeValue(m.movie, 300);
    MoviesTask(m.movie, 0);
    expectFrame(port, second, 8, 6);
    // At the very end the last frame stays.
    GoToEndOfMovie(m.movie);
    SetMovieTimeValue(m.movie, 0);
    GoToEndOfMovie(m.movie);
    MoviesTask(m.movie, 0);
    expectFrame(port, second, 8, 6);

    // An empty segment shows nothing: what the port held stays.
    ASSERT_EQ(InsertEmptyTrackSegment(track, 0, 300), noErr);
    SetMovieTimeValue(m.movie, 100);
    port.set(0, 0, rgb(1, 2, 3));
    MoviesTask(m.movie, 0);
    EXPECT_EQ(port.at(0, 0), rgb(1, 2, 3));
    // And the shifted track shows its first frame after it.
    SetMovieTimeValue(m.movie, 300);
    MoviesTask(m.movie, 0);
    expectFrame(port, first, 8, 6);
}

TEST(MovieDrawing, RawDepthsAndPngDecodeExactly) {
    // 'raw ' 32 is A, R, G, B; 'raw ' 8 is grey where 0 is white.
    Frame argb{FOUR_CHAR_CODE("raw "), 32, {255, 10, 20, 30, 255, 40, 50, 60}};
    Frame grey{FOUR_CHAR_CODE("raw "), 8, {0, 255}};
    // 4:2:2 video range with neutral chroma: Y 235 is white, 16 black.
    Frame yuv{FOUR_CHAR_CODE("2vuy"), 24, {128, 235, 128, 16}};
    platform::codec::Picture picture;
    picture.width = 2;
    picture.height = 1;
    picture.components = 3;
    picture.samples = {200, 100, 50, 1, 2, 3};
    Frame png{FOUR_CHAR_CODE("png "), 24, {}};
    ASSERT_EQ(platform::codecEncodeFrame(FOUR_CHAR_CODE("png "), 24, 1024, picture, png.bytes), noErr);
    const struct {
        const Frame* frame;
        Pixel left, right;
    } cases[] = {
        {&argb, rgb(10, 20, 30), rgb(40, 50, 60)},
        {&grey, rgb(255, 255, 255), rgb(0, 0, 0)},
        {&yuv, rgb(255, 255, 255), rgb(0, 0, 0)},
        {&png, rgb(200, 100, 50), rgb(1, 2, 3)},
    };
    for (const auto& c : cases) {
        MovieHolder m;
        addVideoTrack(m.movie, 2, 1, {*c.frame});
        World port(2, 1);
        SetMovieGWorld(m.movie, port.world, nullptr);
        MoviesTask(m.movie, 0);
        EXPECT_EQ(GetMoviesError(), noErr);
        EXPECT_EQ(port.at(0, 0), c.left) << c.frame->depth;
        EXPECT_EQ(port.at(1, 0), c.right) << c.frame->depth;
    }
}

// Frames of other sizes lie one after another in the media: each draws from its own bytes.
TEST(MovieDrawing, FramesOfOtherSizesDrawFromTheirOwnBytes) {
    const Frame argb{FOUR_CHAR_CODE("raw "), 32, {255, 10, 20, 30, 255, 40, 50, 60}};
    const Frame grey{FOUR_CHAR_CODE("raw "), 8, {0, 255}};
    const Frame rgb24{FOUR_CHAR_CODE("raw "), 24, {1, 2, 3, 4, 5, 6}};
    MovieHolder m;
    addVideoTrack(m.movie, 2, 1, {argb, grey, rgb24});
    World port(2, 1);
    SetMovieGWorld(m.movie, port.world, nullptr);
    const struct {
        TimeValue time;
        Pixel left, right;
    } cases[] = {
        {0, rgb(10, 20, 30), rgb(40, 50, 60)},
        {300, rgb(255, 255, 255), rgb(0, 0, 0)},
        {600, rgb(1, 2, 3), rgb(4, 5, 6)},
    };
    for (const auto& c : cases) {
        SetMovieTimeValue(m.movie, c.time);
        MoviesTask(m.movie, 0);
        EXPECT_EQ(GetMoviesError(), noErr);
        EXPECT_EQ(port.at(0, 0), c.left) << c.time;
        EXPECT_EQ(port.at(1, 0), c.right) << c.time;
    }
}

TEST(MovieDrawing, JpegFramesMatchPilsDecodeOfTheSameBytes) {
    const int w = 32, h = 24;
    platform::codec::Picture picture;
    picture.width = w;
    picture.height = h;
    picture.components = 3;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            picture.samples.insert(picture.samples.end(),
                                   {uint8_t(x * 8), uint8_t(y * 10), uint8_t(128 + x - y)});
    Frame jpeg{FOUR_CHAR_CODE("jpeg"), 24, {}};
    ASSERT_EQ(platform::codecEncodeFrame(FOUR_CHAR_CODE("jpeg"), 24, 768, picture, jpeg.bytes), noErr);

    testsupport::ScratchDir scratch("movie-jpeg");
    const std::string in = scratch.file("frame.jpg"), out = scratch.file("frame.rgb");
    testsupport::writeFile(in, std::string(jpeg.bytes.begin(), jpeg.bytes.end()));
    const std::string script = testsupport::writePeerScript(scratch, R"(
import sys
from PIL import Image
open(sys.argv[2], 'wb').write(Image.open(sys.argv[1]).convert('RGB').tobytes())
)");
    ASSERT_EQ(testsupport::runPeerScript(script, in + " " + out), "");
    const std::string reference = testsupport::readFile(out);
    ASSERT_EQ(reference.size(), size_t(w * h * 3));

    MovieHolder m;
    addVideoTrack(m.movie, w, h, {jpeg});
    World port(w, h);
    SetMovieGWorld(m.movie, port.world, nullptr);
    MoviesTask(m.movie, 0);
    ASSERT_EQ(GetMoviesError(), noErr);
    int worst = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const Pixel p = port.at(x, y);
            EXPECT_EQ(p[0], 255);
            for (int c = 0; c < 3; ++c)
                worst =
                    std::max(worst, std::abs(int(p[1 + c]) - int(uint8_t(reference[(y * w + x) * 3 + c]))));
        }
    EXPECT_LE(worst, 2);
}

TEST(MovieDrawing, MatricesLayersAndClipRegionsPlaceTheFrames) {
    MovieHolder m;
    Track back = addVideoTrack(m.movie, 8, 8, {solid(8, 8, 0, 0, 255)});
    Track front = addVideoTrack(m.movie, 2, 2, {solid(2, 2, 255, 0, 0)});
    SetTrackLayer(back, 1);
    // The 2 x 2 front track fills a 4 x 4 rectangle at (2, 2).
    SetTrackDimensions(front, Long2Fix(4), Long2Fix(4));
    MatrixRecord moved;
    SetIdentityMatrix(&moved);
    TranslateMatrix(&moved, Long2Fix(2), Long2Fix(2));
    SetTrackMatrix(front, &moved);

    auto draw = [&](World& port) {
        SetMovieGWorld(m.movie, port.world, nullptr);
        MoviesTask(m.movie, 0);
        ASSERT_EQ(GetMoviesError(), noErr);
    };
    {
        World port(8, 8);
        draw(port);
        EXPECT_EQ(port.at(0, 0), rgb(0, 0, 255));
        EXPECT_EQ(port.at(2, 2), rgb(255, 0, 0));
        EXPECT_EQ(port.at(5, 5), rgb(255, 0, 0));
        EXPECT_EQ(port.at(6, 6), rgb(0, 0, 255));
    }
    // Layers swapped: the big track covers the small one.
    SetTrackLayer(back, -1);
    {
        World port(8, 8);
        draw(port);
        EXPECT_EQ(port.at(3, 3), rgb(0, 0, 255));
    }
    SetTrackLayer(back, 1);

    // The front track's clip is in its own coordinates (before its matrix); the movie's clip in
    // movie coordinates. Both are copied in.
    RgnHandle clip = NewRgn();
    SetRectRgn(clip, 0, 0, 2, 2);
    SetTrackClipRgn(front, clip);
    SetRectRgn(clip, 0, 0, 8, 4);
    SetMovieClipRgn(m.movie, clip);
    DisposeRgn(clip);
    {
        World port(8, 8);
        draw(port);
        EXPECT_EQ(port.at(2, 2), rgb(255, 0, 0));
        EXPECT_EQ(port.at(3, 3), rgb(255, 0, 0));
        EXPECT_EQ(port.at(4, 3), rgb(0, 0, 255));
        EXPECT_EQ(port.at(0, 3), rgb(0, 0, 255));
        EXPECT_EQ(port.at(0, 4), (Pixel{0, 0, 0, 0})); // outside the movie's clip
    }
    RgnHandle out = GetMovieClipRgn(m.movie);
    ASSERT_NE(out, nullptr);
    Rect bounds{};
    GetRegionBounds(out, &bounds);
    EXPECT_EQ(bounds.right, 8);
    EXPECT_EQ(bounds.bottom, 4);
    SetEmptyRgn(out); // the caller's own copy
    DisposeRgn(out);
    out = GetMovieClipRgn(m.movie);
    ASSERT_NE(out, nullptr);
    EXPECT_FALSE(EmptyRgn(out));
    DisposeRgn(out);
    SetMovieClipRgn(m.movie, nullptr);
    SetTrackClipRgn(front, nullptr);
    EXPECT_EQ(GetMovieClipRgn(m.movie), nullptr);
    EXPECT_EQ(GetTrackClipRgn(front), nullptr);

    // The movie's matrix doubles everything; a clip under a scaling matrix scales with it.
    MatrixRecord twice;
    SetIdentityMatrix(&twice);
    ScaleMatrix(&twice, Long2Fix(2), Long2Fix(2), 0, 0);
    SetMovieMatrix(m.movie, &twice);
    clip = NewRgn();
    SetRectRgn(clip, 0, 0, 1, 1);
    SetTrackClipRgn(front, clip);
    DisposeRgn(clip);
    {
        World port(16, 16);
        draw(port);
        EXPECT_EQ(port.at(15, 15), rgb(0, 0, 255));
        EXPECT_EQ(port.at(4, 4), rgb(255, 0, 0));
        EXPECT_EQ(port.at(5, 5), rgb(255, 0, 0));
        EXPECT_EQ(port.at(6, 6), rgb(0, 0, 255)); // clipped away
    }
}

TEST(MovieDrawing, TheMovieBoxPlacesAndScalesTheFrame) {
    MovieHolder m;
    const Frame frame = pattern(4, 2, 5);
    addVideoTrack(m.movie, 4, 2, {frame});
    const Rect box{2, 3, 6, 11}; // twice the natural size, moved to (3, 2)
    SetMovieBox(m.movie, &box);
    World port(12, 8);
    SetMovieGWorld(m.movie, port.world, nullptr);
    MoviesTask(m.movie, 0);
    ASSERT_EQ(GetMoviesError(), noErr);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 12; ++x) {
            Pixel expected{0, 0, 0, 0};
            if (x >= 3 && x < 11 && y >= 2 && y < 6) {
                const uint8_t* s = frame.bytes.data() + (((y - 2) / 2) * 4 + (x - 3) / 2) * 3;
                expected = rgb(s[0], s[1], s[2]);
            }
            EXPECT_EQ(port.at(x, y), expected) << x << "," << y;
        }
}

TEST(MovieDrawing, UndecodableFramesGiveAStatusAndNoPixels) {
    MovieHolder m;
    Frame bad{FOUR_CHAR_CODE("jpeg"), 24, {0xFF, 0xD8, 0xFF, 0xE0, 1, 2, 3, 4, 5, 6}};
    Frame shortRaw{FOUR_CHAR_CODE("raw "), 24, {1, 2, 3}};
    Track good = addVideoTrack(m.movie, 2, 2, {solid(2, 2, 9, 9, 9)});
    Track broken = addVideoTrack(m.movie, 4, 4, {bad});
    Track truncated = addVideoTrack(m.movie, 4, 4, {shortRaw});
    SetTrackEnabled(truncated, false);
    World port(4, 4);
    SetMovieGWorld(m.movie, port.world, nullptr);
    MoviesTask(m.movie, 0);
    EXPECT_EQ(GetMoviesError(), codecBadDataErr);
    Track problem = nullptr;
    EXPECT_EQ(GetMovieStatus(m.movie, &problem), codecBadDataErr);
    EXPECT_EQ(problem, broken);
    EXPECT_EQ(GetTrackStatus(broken), codecBadDataErr);
    EXPECT_EQ(GetTrackStatus(good), noErr);
    EXPECT_EQ(port.at(0, 0), rgb(9, 9, 9));
    EXPECT_EQ(port.at(3, 3), (Pixel{0, 0, 0, 0}));

    // A raw frame shorter than its description is refused too, and its picture is none.
    SetTrackEnabled(broken, false);
    SetTrackEnabled(truncated, true);
    UpdateMovie(m.movie);
    MoviesTask(m.movie, 0);
    EXPECT_EQ(GetTrackStatus(truncated), codecBadDataErr);
    EXPECT_EQ(port.at(3, 3), (Pixel{0, 0, 0, 0}));
    EXPECT_EQ(GetTrackPict(truncated, 0), nullptr);
    EXPECT_EQ(GetMoviesError(), codecBadDataErr);

    EXPECT_EQ(GetMovieStatus(nullptr, &problem), invalidMovie);
    EXPECT_EQ(GetTrackStatus(nullptr), invalidTrack);
    MoviesTask(nullptr, 0); // every movie with a port; nothing to fail on a null movie
}

TEST(MovieDrawing, TaskRedrawsOnlyChangesAndMeasuresTheFrameRate) {
    platform::ManualClock clock(1000);
    platform::ScopedSystemClock scoped(clock);
    MovieHolder m;
    std::vector<Frame> frames;
    for (int i = 0; i < 10; ++i)
        frames.push_back(solid(2, 2, uint8_t(10 * i), 0, 0));
    Track track = addVideoTrack(m.movie, 2, 2, frames, 60);
    MediaHandler handler = GetMediaHandler(GetTrackMedia(track));
    ASSERT_NE(handler, nullptr);
    World port(2, 2);
    SetMovieGWorld(m.movie, port.world, nullptr);
    MoviesTask(m.movie, 0);
    EXPECT_EQ(port.at(0, 0), rgb(0, 0, 0));
    // Nothing changed: the port is left alone until UpdateMovie.
    port.set(0, 0, rgb(7, 7, 7));
    MoviesTask(m.movie, 0);
    EXPECT_EQ(port.at(0, 0), rgb(7, 7, 7));
    EXPECT_EQ(UpdateMovie(m.movie), noErr);
    MoviesTask(m.movie, 0);
    EXPECT_EQ(port.at(0, 0), rgb(0, 0, 0));

    // Playing at normal speed, a frame every tenth of a second.
    EXPECT_EQ(VideoMediaResetStatistics(handler), noErr);
    EXPECT_EQ(VideoMediaGetStatistics(handler), 0);
    StartMovie(m.movie);
    for (int i = 1; i <= 5; ++i) {
        clock.advanceMilliseconds(100);
        MoviesTask(m.movie, 0);
        EXPECT_EQ(port.at(0, 0), rgb(uint8_t(10 * i), 0, 0));
        MoviesTask(m.movie, 0); // the same frame: not drawn again, not counted
    }
    EXPECT_EQ(VideoMediaGetStatistics(handler), Long2Fix(10));
    EXPECT_EQ(VideoMediaResetStatistics(handler), noErr);
    EXPECT_EQ(VideoMediaGetStatistics(handler), 0);
}

TEST(MovieDrawing, GraphicsModesTheBlitterOffersAreHonoured) {
    MovieHolder m;
    Track track = addVideoTrack(m.movie, 1, 1, {solid(1, 1, 10, 20, 30)});
    MediaHandler handler = GetMediaHandler(GetTrackMedia(track));
    int32_t mode = -1;
    RGBColor op{};
    EXPECT_EQ(MediaGetGraphicsMode(handler, &mode, &op), noErr);
    EXPECT_EQ(mode, ditherCopy);
    EXPECT_EQ(op.red, 0x8000);
    World port(1, 1);
    SetMovieGWorld(m.movie, port.world, nullptr);
    const struct {
        int32_t mode;
        OSErr status;
        Pixel pixel;
    } cases[] = {
        {notSrcCopy, noErr, rgb(245, 235, 225)},
        {ditherCopy | notSrcCopy, noErr, rgb(245, 235, 225)},
        {srcCopy, noErr, rgb(10, 20, 30)},
        {32 /* blend */, paramErr, rgb(10, 20, 30)}, // not offered: nothing drawn
    };
    for (const auto& c : cases) {
        const RGBColor grey{0x4000, 0x4000, 0x4000};
        EXPECT_EQ(MediaSetGraphicsMode(handler, c.mode, &grey), noErr);
        MoviesTask(m.movie, 0);
        EXPECT_EQ(GetTrackStatus(track), c.status) << c.mode;
        EXPECT_EQ(port.at(0, 0), c.pixel) << c.mode;
    }
    EXPECT_EQ(MediaGetGraphicsMode(handler, &mode, &op), noErr);
    EXPECT_EQ(mode, 32);
    EXPECT_EQ(op.green, 0x4000);
}

TEST(MovieDrawing, PicturesOfFramesAtATime) {
    MovieHolder m;
    const Frame first = pattern(4, 4, 3), second = pattern(4, 4, 90);
    Track track = addVideoTrack(m.movie, 4, 4, {first, second});
    // The movie stands at 0; the picture is of time 300.
    PicHandle pic = GetMoviePict(m.movie, 300);
    ASSERT_NE(pic, nullptr);
    EXPECT_EQ(GetMoviesError(), noErr);
    World port(4, 4);
    CGrafPtr savedPort = nullptr;
    GDHandle savedDevice = nullptr;
    GetGWorld(&savedPort, &savedDevice);
    SetGWorld(port.world, nullptr);
    const Rect frame{0, 0, 4, 4};
    DrawPicture(pic, &frame);
    expectFrame(port, second, 4, 4);
    KillPicture(pic);

    // A track's picture is framed by the track's place in the movie.
    MatrixRecord moved;
    SetIdentityMatrix(&moved);
    TranslateMatrix(&moved, Long2Fix(10), Long2Fix(20));
    SetTrackMatrix(track, &moved);
    pic = GetTrackPict(track, 0);
    ASSERT_NE(pic, nullptr);
    Rect bounds = (**reinterpret_cast<Picture**>(pic)).picFrame;
    EXPECT_EQ(bounds.left, 10);
    EXPECT_EQ(bounds.top, 20);
    EXPECT_EQ(bounds.right, 14);
    DrawPicture(pic, &frame);
    expectFrame(port, first, 4, 4);
    KillPicture(pic);
    SetGWorld(savedPort, savedDevice);

    EXPECT_EQ(GetMoviePict(m.movie, 601), nullptr);
    EXPECT_EQ(GetMoviesError(), invalidTime);
    EXPECT_EQ(GetMoviePict(nullptr, 0), nullptr);
    EXPECT_EQ(GetMoviesError(), invalidMovie);
    MovieHolder empty;
    EXPECT_EQ(GetMoviePict(empty.movie, 0), nullptr);
    EXPECT_EQ(GetMoviesError(), paramErr);
}

// Under the thread sanitizer too (suite Movies): drawing on one thread while others play, clip and
// ask the handler.
TEST(Movies, PlaybackDrawsWhileOtherThreadsChangeTheMovie) {
    MovieHolder m;
    Track track = addVideoTrack(m.movie, 4, 4, {pattern(4, 4, 1), pattern(4, 4, 2), pattern(4, 4, 3)}, 10);
    Media media = GetTrackMedia(track);
    World port(4, 4);
    SetMovieGWorld(m.movie, port.world, nullptr);
    std::vector<std::thread> threads;
    threads.emplace_back([&] {
        for (int i = 0; i < 200; ++i)
            MoviesTask(i % 2 ? m.movie : nullptr, 0);
    });
    threads.emplace_back([&] {
        for (int i = 0; i < 200; ++i) {
            SetMovieTimeValue(m.movie, i % 30);
            SetMovieRate(m.movie, i % 3 ? fixed1 : 0);
            RgnHandle clip = NewRgn();
            SetRectRgn(clip, 0, 0, 1 + i % 4, 4);
            SetTrackClipRgn(track, clip);
            DisposeRgn(clip);
        }
    });
    threads.emplace_back([&] {
        for (int i = 0; i < 200; ++i) {
            MediaHandler h = GetMediaHandler(media);
            Boolean has = false;
            EXPECT_EQ(MediaHasCharacteristic(h, VisualMediaCharacteristic, &has), noErr);
            VideoMediaGetStatistics(h);
            PicHandle pic = GetMoviePict(m.movie, i % 30);
            if (pic) KillPicture(pic);
        }
    });
    for (auto& t : threads)
        t.join();
    StopMovie(m.movie);
    UpdateMovie(m.movie);
    MoviesTask(m.movie, 0);
    EXPECT_EQ(GetTrackStatus(track), noErr);
}
