// Track providers: frames handed over ready-made or drawn and compressed on the way become the
// samples of a new video track; movie files written that way are read back by ffprobe and their
// frames decoded by ffmpeg to what was drawn.
#include "KelvoCoreGraphics.h"
#include "KelvoCoreVideoDataDescriptors.h"
#include "KelvoMovie.h"
#include "KelvoTrackProviders.h"
#include "KelvoVideo.h"
#include "KelvoVideoCompression.h"
#include "MovieFixtures.h"
#include "PlatformFiles.h"
#include "PlatformGraphicsExport.h"
#include "PlatformMemory.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>

using namespace moviefixtures;
using testsupport::ScratchDir;

namespace {

// A compression description of kWidth x kHeight frames for the codec.
Kelvo_ImgDescComp compressionFor(OSType codec) {
    Kelvo_ImgDescComp p;
    p.dataFormat(codec);
    p.qtDepth(32);
    p.qtWidth(kWidth);
    p.qtHeight(kHeight);
    p.qtSpatialQuality(codecMaxQuality);
    return p;
}

// A raw description of the frames handed to the simple provider.
Kelvo_ImgDesc rawFrames() {
    SampleDescriptionHandle h = rawDescription();
    Kelvo_ImgDesc desc(h);
    DisposeHandle(reinterpret_cast<Handle>(h));
    return desc;
}

// Frame `f` as A, R, G, B bytes: smooth gradients that move from frame to frame.
std::vector<uint8_t> frameARGB(int f) {
    std::vector<uint8_t> pixels;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            pixels.push_back(255);
            pixels.push_back(uint8_t(x * 4 + f * 20));
            pixels.push_back(uint8_t(y * 12 + f * 10));
            pixels.push_back(uint8_t(200 - f * 40));
        }
    return pixels;
}

std::string rgbOf(const std::vector<uint8_t>& argb) {
    std::string rgb;
    for (size_t i = 0; i < argb.size(); i += 4)
        rgb.append(reinterpret_cast<const char*>(&argb[i + 1]), 3);
    return rgb;
}

// Draws frame `f` into the provider's world, as a presentation would.
void drawFrame(Kelvo_TrackVideoProvider& provider, int f) {
    Kelvo_QDGWorldBuffer world(provider.dataProvider(), false);
    ASSERT_TRUE(world.qtObjIsValid());
    ASSERT_EQ(world.width(), kWidth);
    const std::vector<uint8_t> pixels = frameARGB(f);
    auto* base = reinterpret_cast<uint8_t*>(world.baseAddress());
    for (int y = 0; y < kHeight; ++y)
        std::memcpy(base + size_t(y) * world.rowBytes(), &pixels[size_t(y) * kWidth * 4], size_t(kWidth) * 4);
}

int64_t trackDuration(Track track) {
    return GetTrackDuration(track);
}

// ffprobe reads the file's one video track with its frame count, size and duration, and ffmpeg
// decodes its frames to the RGB bytes drawn: exactly, or within a lossy codec's error.
void expectFileHolds(const std::string& file, const std::string& drawn, bool lossless, int frames,
                     double seconds) {
    auto info = ffprobe(file, "-select_streams v:0 -count_frames -show_entries "
                              "stream=codec_type,codec_name,width,height,nb_read_frames:format=duration");
    EXPECT_EQ(info["codec_type"], "video") << info["output"];
    EXPECT_EQ(info["codec_name"], lossless ? "rawvideo" : "mjpeg");
    EXPECT_EQ(info["width"], std::to_string(kWidth));
    EXPECT_EQ(info["height"], std::to_string(kHeight));
    EXPECT_EQ(info["nb_read_frames"], std::to_string(frames));
    EXPECT_NEAR(std::atof(info["duration"].c_str()), seconds, 0.002);

    const std::string decoded = ffmpegFramesRGB(file);
    ASSERT_EQ(decoded.size(), drawn.size());
    if (lossless) {
        EXPECT_EQ(decoded, drawn);
        return;
    }
    double total = 0;
    int worst = 0;
    for (size_t i = 0; i < drawn.size(); ++i) {
        const int d = std::abs(int(uint8_t(decoded[i])) - int(uint8_t(drawn[i])));
        total += d;
        worst = std::max(worst, d);
    }
    EXPECT_LT(total / double(drawn.size()), 4.0);
    EXPECT_LT(worst, 24);
}

} // namespace

// Every way a provider cannot be made, with the status that says why; none leaves a track.
TEST(TrackProviders, ConstructionFailuresSayWhy) {
    Kelvo_Movie movie;
    ASSERT_TRUE(movie.qtObjIsValid());
    Kelvo_Movie noMovie(static_cast<Movie>(nullptr), false);
    ASSERT_FALSE(noMovie.qtObjIsValid());
    Kelvo_ImgDesc raw = rawFrames();
    Kelvo_ImgDescComp good = compressionFor(FOUR_CHAR_CODE("raw "));
    Kelvo_ImgDescComp noSize;
    noSize.dataFormat(FOUR_CHAR_CODE("raw "));
    Kelvo_ImgDesc zeroSized = rawFrames();
    zeroSized.qtWidth(0);

    struct Case {
        const char* name;
        std::function<Kelvo_TrackProvider*()> make;
        int32_t status;
    };
    const Case cases[] = {
        {"simple, null movie", [&] { return new Kelvo_TrackVideoSimpleProvider(nullptr, &raw, 600); }, -2010},
        {"simple, empty movie", [&] { return new Kelvo_TrackVideoSimpleProvider(&noMovie, &raw, 600); },
         -2010},
        {"simple, no description", [&] { return new Kelvo_TrackVideoSimpleProvider(&movie, nullptr, 600); },
         -108},
        {"simple, no size", [&] { return new Kelvo_TrackVideoSimpleProvider(&movie, &zeroSized, 600); }, -50},
        {"simple, negative time scale", [&] { return new Kelvo_TrackVideoSimpleProvider(&movie, &raw, -1); },
         -50},
        {"compressing, null movie", [&] { return new Kelvo_TrackVideoProvider(nullptr, &good, 600); }, -2010},
        {"compressing, no description", [&] { return new Kelvo_TrackVideoProvider(&movie, nullptr, 600); },
         -108},
        {"compressing, empty bounds", [&] { return new Kelvo_TrackVideoProvider(&movie, &noSize, 600); },
         -50},
        {"compressing, no time scale", [&] { return new Kelvo_TrackVideoProvider(&movie, &good, 0); }, -50},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<Kelvo_TrackProvider> p(c.make());
        EXPECT_FALSE(p->qtObjIsValid());
        EXPECT_EQ(p->Error(), c.status);
        EXPECT_EQ(p->track(), nullptr);
        EXPECT_EQ(p->media(), nullptr);
        p->BeginSession();
        EXPECT_FALSE(p->isEditing());
        EXPECT_EQ(GetMovieTrackCount(movie.movie()), 0);
    }
    Kelvo_TrackVideoProvider invalid(&movie, &noSize, 600);
    EXPECT_EQ(invalid.sampleDuration(), 0);
    EXPECT_EQ(invalid.trackParameters(), nullptr);
    EXPECT_EQ(invalid.dataProvider(), nullptr);
}

namespace {

// The base's own operations, on a provider of a media type of the test's choosing.
class SoundLikeProvider : public Kelvo_TrackProvider {
  public:
    SoundLikeProvider(Kelvo_Movie* movie, Kelvo_QTObj* parameters, uint32_t type)
        : Kelvo_TrackProvider(movie, parameters), _type(type) {}
    uint32_t mediaType() override { return _type; }
    void BeginSession() override { StartSession(); }
    void EndSession() override { FlushMedia(); }

  private:
    uint32_t _type;
};

} // namespace

// The base: a track without size for sound-like media, the movie toolbox's error when the media
// cannot be made, no editing session without media, and parameters kept as a clone.
TEST(TrackProviders, BaseMakesTracksAndSessions) {
    Kelvo_Movie movie;
    Kelvo_ImgDesc raw = rawFrames();
    SoundLikeProvider sound(&movie, &raw, SoundMediaType);
    EXPECT_FALSE(sound.qtObjIsValid());
    EXPECT_EQ(sound.Error(), 0);
    sound.StartSession();
    EXPECT_EQ(sound.Error(), -2008);
    EXPECT_FALSE(sound.isEditing());
    ASSERT_NE(sound.NewTrack(8000, 256), nullptr);
    EXPECT_TRUE(sound.qtObjIsValid());
    Fixed w = -1, h = -1;
    GetTrackDimensions(sound.track(), &w, &h);
    EXPECT_EQ(w, 0);
    EXPECT_EQ(h, 0);
    EXPECT_EQ(GetTrackVolume(sound.track()), 256);
    EXPECT_EQ(GetMediaTimeScale(sound.media()), 8000);
    sound.trackParameters(&raw); // changes nothing
    std::unique_ptr<Kelvo_QTObj> params(sound.trackParameters());
    ASSERT_NE(params, nullptr);
    EXPECT_NE(params.get(), static_cast<Kelvo_QTObj*>(&raw));
    sound.BeginSession();
    EXPECT_TRUE(sound.isEditing());
    sound.BeginSession(); // already editing: nothing
    EXPECT_EQ(sound.Error(), 0);

    // No media type: the movie toolbox refuses the media, and no empty track stays behind.
    const int32_t tracksBefore = GetMovieTrackCount(movie.movie());
    SoundLikeProvider none(&movie, &raw, 0);
    EXPECT_EQ(none.NewTrack(600, 0), nullptr);
    EXPECT_EQ(none.Error(), paramErr);
    EXPECT_EQ(none.track(), nullptr);
    EXPECT_EQ(GetMovieTrackCount(movie.movie()), tracksBefore);
    Kelvo_Rect empty;
    EXPECT_EQ(none.NewTrack(empty, 600), nullptr);
    EXPECT_EQ(none.Error(), paramErr);
}

// Ready-made frames: refused outside a session, appended to the track when the session ends, and
// a flush without a session changes nothing.
TEST(TrackProviders, SimpleProviderAddsReadyMadeFrames) {
    Kelvo_Movie movie;
    Kelvo_ImgDesc raw = rawFrames();
    Kelvo_TrackVideoSimpleProvider p(&movie, &raw, Kelvo_TrackProvider::defaultTimeScale);
    ASSERT_TRUE(p.qtObjIsValid()) << p.Error();
    EXPECT_TRUE(p.isA("Kelvo_TrackProvider"));
    EXPECT_TRUE(p.isA("Kelvo_QTObj"));
    EXPECT_STREQ(p.qtObjName(), "Kelvo_TrackVideoSimpleProvider");
    EXPECT_EQ(p.mediaType(), VideoMediaType);
    EXPECT_EQ(GetMediaTimeScale(p.media()), 600);
    Fixed w = 0, h = 0;
    GetTrackDimensions(p.track(), &w, &h);
    EXPECT_EQ(w, Long2Fix(kWidth));
    EXPECT_EQ(h, Long2Fix(kHeight));
    std::unique_ptr<Kelvo_QTObj> params(p.trackParameters());
    ASSERT_NE(params, nullptr);
    EXPECT_TRUE(params->isA("Kelvo_ImgDesc"));

    const int32_t frameBytes = kWidth * kHeight * 4;
    Handle data = NewHandleClear(frameBytes);
    p.addSample(data, frameBytes, 20, 0);
    EXPECT_EQ(p.Error(), 200);
    EXPECT_EQ(GetMediaSampleCount(p.media()), 0);
    p.FlushMedia(); // no session: the status stays
    EXPECT_EQ(p.Error(), 200);

    p.BeginSession();
    ASSERT_TRUE(p.isEditing()) << p.Error();
    for (int i = 0; i < 3; ++i) {
        p.addSample(data, frameBytes, 20 + i, i == 0 ? 0 : mediaSampleNotSync);
        EXPECT_EQ(p.Error(), 0);
    }
    // Bytes the handle does not hold are not read.
    p.addSample(data, frameBytes + 1, 20, 0);
    EXPECT_EQ(p.Error(), paramErr);
    p.addSample(nullptr, frameBytes, 20, 0);
    EXPECT_EQ(p.Error(), paramErr);
    EXPECT_EQ(trackDuration(p.track()), 0); // nothing in the track before the flush
    p.EndSession();
    EXPECT_EQ(p.Error(), 0);
    EXPECT_FALSE(p.isEditing());
    EXPECT_EQ(GetMediaSampleCount(p.media()), 3);
    EXPECT_EQ(trackDuration(p.track()), 63);

    // A second session appends only its own frames at the end of the track; an empty one changes
    // nothing.
    p.BeginSession();
    p.addSample(data, frameBytes, 30, 0);
    p.EndSession();
    EXPECT_EQ(trackDuration(p.track()), 93);
    EXPECT_EQ(TrackTimeToMediaTime(70, p.track()), 70);
    p.BeginSession();
    p.EndSession();
    EXPECT_EQ(p.Error(), 0);
    EXPECT_EQ(trackDuration(p.track()), 93);
    DisposeHandle(data);
}

// The compressing provider's frame duration: the description's, else 24 when the description
// and time scale give none, and the frames written last that long; setting it holds even over a
// frame rate.
TEST(TrackProviders, SampleDurationOfTheCompressingProvider) {
    Kelvo_Movie movie;
    struct Case {
        int32_t timeScale;
        int32_t frameDuration;
        double frameRate;
        int32_t expected;
    };
    const Case cases[] = {
        {600, 0, 0, 24}, {600, 10, 0, 10}, {600, 0, 30, 20}, {10, 0, 0, 24}, {10, 0, 30, 24}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.timeScale << " " << c.frameDuration << " " << c.frameRate);
        Kelvo_ImgDescComp desc = compressionFor(FOUR_CHAR_CODE("raw "));
        desc.qtFrameDur() = c.frameDuration;
        desc.qtFrameRate(c.frameRate);
        Kelvo_TrackVideoProvider p(&movie, &desc, c.timeScale);
        ASSERT_TRUE(p.qtObjIsValid()) << p.Error();
        EXPECT_EQ(p.sampleDuration(), c.expected);
        // The frames written last that long in the track's time scale.
        p.BeginSession();
        for (int f = 0; f < 2; ++f) {
            drawFrame(p, f);
            p.addSample();
        }
        p.EndSession();
        EXPECT_EQ(p.Error(), 0);
        EXPECT_EQ(GetMediaSampleCount(p.media()), 2);
        EXPECT_EQ(GetMediaDecodeDuration(p.media()), 2 * c.expected);
    }
    Kelvo_ImgDescComp desc = compressionFor(FOUR_CHAR_CODE("raw "));
    desc.qtFrameRate(30);
    Kelvo_TrackVideoProvider p(&movie, &desc, 600);
    p.sampleDuration(15);
    EXPECT_EQ(p.sampleDuration(), 15);
    std::unique_ptr<Kelvo_QTObj> params(p.trackParameters());
    ASSERT_NE(params, nullptr);
    ASSERT_TRUE(params->isA("Kelvo_ImgDescComp"));
    EXPECT_EQ(static_cast<Kelvo_ImgDescComp*>(params.get())->qtFrameDur(), 15);
    EXPECT_FALSE(static_cast<Kelvo_ImgDescComp*>(params.get())->qtMultiPassEncoding());
}

// Sessions of the compressing provider: begun twice is refused, frames outside one are refused,
// and a provider destroyed while editing still puts its frames into the track.
TEST(TrackProviders, CompressingProviderSessions) {
    Kelvo_Movie movie;
    Kelvo_ImgDescComp desc = compressionFor(FOUR_CHAR_CODE("raw "));
    desc.qtMultiPassEncoding() = true;
    Track track = nullptr;
    {
        Kelvo_TrackVideoProvider p(&movie, &desc, 600);
        ASSERT_TRUE(p.qtObjIsValid()) << p.Error();
        EXPECT_STREQ(p.qtObjName(), "Kelvo_TrackVideoProvider");
        EXPECT_TRUE(p.isA("Kelvo_TrackProvider"));
        ASSERT_NE(p.dataProvider(), nullptr);
        track = p.track();
        p.addSample();
        EXPECT_EQ(p.Error(), 200);
        p.BeginSession();
        ASSERT_TRUE(p.isEditing()) << p.Error();
        p.BeginSession();
        EXPECT_EQ(p.Error(), 200);
        EXPECT_TRUE(p.isEditing());
        for (int f = 0; f < 2; ++f) {
            drawFrame(p, f);
            p.addSample();
            EXPECT_EQ(p.Error(), 0);
        }
    }
    EXPECT_EQ(GetMediaSampleCount(GetTrackMedia(track)), 2);
    EXPECT_EQ(GetTrackDuration(track), 48);
}

// A session that cannot begin (no codec of the description's type) says why and leaves the
// provider not editing, its track empty.
TEST(TrackProviders, FailedBeginLeavesTheProviderNotEditing) {
    Kelvo_Movie movie;
    Kelvo_ImgDescComp desc = compressionFor(FOUR_CHAR_CODE("raw "));
    (*desc.hImageDesc())->cType = FOUR_CHAR_CODE("zzzz");
    Kelvo_TrackVideoProvider p(&movie, &desc, 600);
    ASSERT_TRUE(p.qtObjIsValid()) << p.Error();
    p.BeginSession();
    EXPECT_FALSE(p.isEditing());
    EXPECT_NE(p.Error(), 0);
    EXPECT_NE(p.Error(), 200);
    p.addSample();
    EXPECT_EQ(p.Error(), 200);
    EXPECT_EQ(GetMediaSampleCount(p.media()), 0);
    EXPECT_EQ(GetTrackDuration(p.track()), 0);
}

// Movie files written through the compressing provider: ffprobe reads their frame count, size
// and duration, and ffmpeg decodes the frames drawn (exactly for raw, within JPEG's loss).
TEST(TrackProviders, CompressedFramesReachTheMovieFile) {
    if (!haveMoviePeers()) GTEST_SKIP() << "ffmpeg or ffprobe missing";
    ScratchDir dir("ktrackproviders");
    constexpr int kFrames = 5;
    for (OSType codec : {FOUR_CHAR_CODE("raw "), FOUR_CHAR_CODE("jpeg")}) {
        const bool lossless = codec == FOUR_CHAR_CODE("raw ");
        SCOPED_TRACE(lossless ? "raw" : "jpeg");
        const std::string file = dir.file(lossless ? "raw.mov" : "jpeg.mov");
        FSSpec spec{};
        FSPathMakeFSSpec(file.c_str(), &spec);
        std::string drawn;
        {
            Kelvo_Movie movie(&spec, true);
            ASSERT_TRUE(movie.qtObjIsValid()) << movie.Error();
            Kelvo_ImgDescComp desc = compressionFor(codec);
            Kelvo_TrackVideoProvider p(&movie, &desc, 600);
            ASSERT_TRUE(p.qtObjIsValid()) << p.Error();
            p.BeginSession();
            ASSERT_TRUE(p.isEditing()) << p.Error();
            for (int f = 0; f < kFrames; ++f) {
                drawFrame(p, f);
                p.addSample();
                ASSERT_EQ(p.Error(), 0);
                drawn += rgbOf(frameARGB(f));
            }
            p.EndSession();
            ASSERT_EQ(p.Error(), 0);
            EXPECT_EQ(GetTrackDuration(p.track()), kFrames * 24);
            movie.flush();
            ASSERT_EQ(movie.Error(), 0);
        }
        expectFileHolds(file, drawn, lossless, kFrames, kFrames * 24 / 600.0);
    }
}

// Ready-made raw frames handed to the simple provider, as the raw-movie export does, make a file
// that ffmpeg decodes to exactly those frames.
TEST(TrackProviders, ReadyMadeFramesReachTheMovieFile) {
    if (!haveMoviePeers()) GTEST_SKIP() << "ffmpeg or ffprobe missing";
    ScratchDir dir("ktrackproviderssimple");
    constexpr int kFrames = 4;
    const std::string file = dir.file("simple.mov");
    FSSpec spec{};
    FSPathMakeFSSpec(file.c_str(), &spec);
    std::string drawn;
    {
        Kelvo_Movie movie(&spec, true);
        ASSERT_TRUE(movie.qtObjIsValid()) << movie.Error();
        Kelvo_ImgDesc raw = rawFrames();
        Kelvo_TrackVideoSimpleProvider p(&movie, &raw, 600);
        ASSERT_TRUE(p.qtObjIsValid()) << p.Error();
        p.BeginSession();
        for (int f = 0; f < kFrames; ++f) {
            const std::vector<uint8_t> pixels = frameARGB(f);
            Handle h = NewHandle(Size(pixels.size()));
            std::memcpy(*h, pixels.data(), pixels.size());
            p.addSample(h, int32_t(pixels.size()), 30, 0);
            DisposeHandle(h);
            ASSERT_EQ(p.Error(), 0);
            drawn += rgbOf(pixels);
        }
        p.EndSession();
        ASSERT_EQ(p.Error(), 0);
        movie.flush();
        ASSERT_EQ(movie.Error(), 0);
    }
    expectFileHolds(file, drawn, true, kFrames, kFrames * 30 / 600.0);
}
