// The still-image presentation (a picture taken from a port or an image, owned) and the buffer
// presentation (a caller's buffer, borrowed): their frames through the brightness and contrast
// effect, the redraw that rebuilds the frame, and the one-sample export that ffprobe and ffmpeg
// read back.
#include "KelvoCoreObjectsTypes.h"
#include "KelvoImageBase.h"
#include "KelvoMovie.h"
#include "KelvoStillPresentations.h"
#include "KelvoVideoCompression.h"
#include "MovieFixtures.h"
#include "PlatformFiles.h"
#include "PlatformGraphicsExport.h"
#include "PlatformTimers.h"
#include "TestFiles.h"
#include "VideoPresentationFixtures.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

using namespace vpfixtures;
using testsupport::ScratchDir;

namespace {

class StillPresentationsTest : public ::testing::Test {
  protected:
    void TearDown() override {
        EXPECT_EQ(platform::installedTimerCount(), 0);
        EXPECT_EQ(platform::liveWindowCount(), windows);
        EXPECT_EQ(platform::installedEventHandlerCount(), handlers);
    }
    int32_t windows = platform::liveWindowCount();
    int32_t handlers = platform::installedEventHandlerCount();
};

// A caller's 32-bit world showing frame k.
struct World {
    Kelvo_QDGWorldBuffer buffer;
    explicit World(int k, int w = kW, int h = kH) : buffer(w, h, k32ARGBPixelFormat) {
        paintFrame(buffer.buffer(), k);
    }
    GWorldPtr world() const { return buffer.buffer(); }
};

// A transform whose gamma is `g`.
Kelvo_DisplayTransform gammaTransform(double g) {
    Kelvo_DisplayTransform t;
    t.Gamma(g);
    return t;
}

} // namespace

TEST_F(StillPresentationsTest, TheStillImageTakesACopyOfItsPicture) {
    Kelvo_StillImagePresentation s;
    EXPECT_FALSE(s.qtObjIsValid());
    EXPECT_STREQ(s.qtObjName(), "Kelvo_StillImagePresentation");
    EXPECT_TRUE(s.isA("Kelvo_StillImagePresentation"));
    EXPECT_TRUE(s.isA("Kelvo_VideoPresentation"));
    EXPECT_EQ(s.SamplesCount(), 0);
    s.setSource(static_cast<GrafPtr>(nullptr));
    EXPECT_EQ(s.Error(), 79);
    s.setSource(static_cast<Kelvo_Image*>(nullptr));
    EXPECT_EQ(s.Error(), 79);
    EXPECT_FALSE(s.qtObjIsValid());

    // From a port: the picture as it was when handed in.
    World picture(2);
    s.setSource(picture.world());
    EXPECT_EQ(s.Error(), 0);
    ASSERT_TRUE(s.qtObjIsValid());
    EXPECT_EQ(s.SamplesCount(), 1);
    EXPECT_EQ(s.Time(kKelvoTimeDuration), 0);
    EXPECT_TRUE(s.isDone());
    EXPECT_FALSE(s.isPlaying());
    ASSERT_NE(s.sourceBuffer(), nullptr);
    EXPECT_NE(s.sourceBuffer()->buffer(), picture.world());
    EXPECT_EQ(pixelsOf(s.sourceBuffer()->buffer()), effectFrame(2, 0, 0));
    EXPECT_EQ(pixelsOf(s.dataSourceGraphics()), effectFrame(2, 0, 0));
    EXPECT_EQ(Kelvo_Rect(*s.displayTransform()->SrcRect()), Kelvo_Rect(kW, kH));
    ASSERT_NE(s.effectDescription(), nullptr);
    paintFrame(picture.world(), 5);
    EXPECT_EQ(pixelsOf(s.sourceBuffer()->buffer()), effectFrame(2, 0, 0));

    // Playing does nothing to a still picture.
    s.Play(1.0);
    s.PlayAction(kKelvoPlayActionForward);
    s.PlayTime(100);
    EXPECT_FALSE(s.isPlaying());
    EXPECT_EQ(s.Time(kKelvoTimeCurrent), 0);
    EXPECT_FALSE(s.autoIdlingEnabled(true));

    // Shown in a world; a new picture is drawn there at once.
    World screen(0);
    Recorder rec;
    rec.attach(s);
    s.ShowWithinGWorld(screen.world(), nullptr);
    EXPECT_EQ(s.Error(), 0);
    EXPECT_EQ(pixelsOf(screen.world()), effectFrame(2, 0, 0));
    ASSERT_EQ(rec.count(kKelvoPresentationDraw), 1);
    EXPECT_EQ(rec.events.back().parameter, 0);
    World next(4);
    s.setSource(next.world());
    EXPECT_EQ(s.Error(), 0);
    EXPECT_EQ(pixelsOf(screen.world()), effectFrame(4, 0, 0));

    // From an image: the image as drawn.
    Kelvo_OSType argb(Kelvo_Image::kARGB);
    std::unique_ptr<Kelvo_Image> image(Kelvo_Image::createWithQDContext(picture.buffer, argb, nullptr));
    ASSERT_NE(image, nullptr);
    s.setSource(image.get());
    EXPECT_EQ(s.Error(), 0);
    ASSERT_TRUE(s.qtObjIsValid());
    EXPECT_EQ(pixelsOf(s.dataSourceGraphics()), effectFrame(5, 0, 0));
    EXPECT_EQ(pixelsOf(screen.world()), effectFrame(5, 0, 0));

    // Emptied by reset and by defaultStatus.
    s.reset();
    EXPECT_FALSE(s.qtObjIsValid());
    EXPECT_EQ(s.sourceBuffer(), nullptr);
    EXPECT_EQ(s.dataSourceBuffer(), nullptr);
    EXPECT_EQ(s.SamplesCount(), 0);
    s.setSource(picture.world());
    s.defaultStatus();
    EXPECT_FALSE(s.qtObjIsValid());
}

TEST_F(StillPresentationsTest, ARedrawRebuildsTheFrameAndKeepsBrightnessAndContrast) {
    Kelvo_StillImagePresentation s;
    World picture(3);
    s.setSource(picture.world());
    World screen(0);
    s.ShowWithinGWorld(screen.world(), nullptr);
    s.brightness(25);
    s.contrast(-10);
    EXPECT_EQ(pixelsOf(screen.world()), effectFrame(3, 25, -10));

    // Update rebuilds the effect from scratch and puts both values back.
    s.Update();
    EXPECT_EQ(s.Error(), 0);
    EXPECT_FALSE(s.redrawPending());
    EXPECT_EQ(s.brightness(), 25);
    EXPECT_EQ(s.contrast(), -10);
    EXPECT_EQ(QTContainerLockCount(s.effectDescription()), 1);
    EXPECT_EQ(pixelsOf(screen.world()), effectFrame(3, 25, -10));

    // A transform's gamma applies to the picture as handed in, once, however often it is drawn.
    Kelvo_DisplayTransform gamma = gammaTransform(2.0);
    const uint8_t* table = gamma.GammaTable();
    std::vector<uint8_t> expected = effectFrame(3, 0, 0);
    for (size_t i = 0; i < expected.size(); ++i)
        if (i % 4 != 0) expected[i] = table[expected[i]];
    for (int round = 0; round < 3; ++round) {
        s.displayProperties(&gamma);
        EXPECT_EQ(s.Error(), 0);
        EXPECT_EQ(pixelsOf(s.dataSourceGraphics()), expected) << round;
    }
    EXPECT_EQ(s.brightness(), 25);
    Kelvo_DisplayTransform plain;
    s.displayProperties(&plain);
    EXPECT_EQ(pixelsOf(screen.world()), effectFrame(3, 25, -10));

    // Restoring writes both values when either is set, nothing when both are 0.
    s.restoreBrightnessAndCostrast(0, 0);
    EXPECT_EQ(s.brightness(), 25);
    s.restoreBrightnessAndCostrast(5, 0);
    EXPECT_EQ(s.Error(), 0);
    EXPECT_EQ(s.brightness(), 5);
    EXPECT_EQ(s.contrast(), 0);
    s.idle();
    EXPECT_EQ(pixelsOf(screen.world()), effectFrame(3, 5, 0));

    // refresh takes the frame back from the picture.
    paintFrame(s.dataSourceGraphics(), 7);
    s.refresh();
    EXPECT_EQ(pixelsOf(s.dataSourceGraphics()), effectFrame(3, 0, 0));
}

TEST_F(StillPresentationsTest, TheStillImageExportsOneSample) {
    ScratchDir dir("kstillpresentation");
    Kelvo_StillImagePresentation s;
    Kelvo_ImgDescComp desc;
    desc.dataFormat(FOUR_CHAR_CODE("raw "));
    desc.qtDepth(32);
    desc.qtWidth(kW);
    desc.qtHeight(kH);
    desc.qtSpatialQuality(codecMaxQuality);
    FSSpec spec{};
    const std::string file = dir.file("still.mov");
    FSPathMakeFSSpec(file.c_str(), &spec);

    // Nothing to write without a picture; 80 without a file.
    s.presentationToMovie(&spec, &desc, nullptr);
    EXPECT_EQ(s.Error(), 0);
    World picture(6);
    s.setSource(picture.world());
    s.presentationToMovie(nullptr, &desc, nullptr);
    EXPECT_EQ(s.Error(), 80);

    World screen(0);
    s.ShowWithinGWorld(screen.world(), nullptr);
    s.brightness(-20);
    Recorder rec;
    rec.attach(s);
    s.presentationToMovie(&spec, &desc, nullptr);
    ASSERT_EQ(s.Error(), 0);
    ASSERT_EQ(rec.count(kKelvoPresentationMovieProgress), 1);
    for (const Event& e : rec.events) {
        if (e.code == kKelvoPresentationMovieProgress) {
            EXPECT_EQ(e.progress, 1.0);
        }
    }
    EXPECT_EQ(s.displayGraphics(), screen.world());
    EXPECT_EQ(pixelsOf(screen.world()), effectFrame(6, -20, 0));

    // A description with a frame duration keeps it.
    const std::string timed = dir.file("timed.mov");
    FSPathMakeFSSpec(timed.c_str(), &spec);
    desc.qtFrameDur() = 30;
    s.presentationToMovie(&spec, &desc, nullptr);
    ASSERT_EQ(s.Error(), 0);

    if (!moviefixtures::haveMoviePeers()) GTEST_SKIP() << "ffmpeg or ffprobe missing";
    struct Case {
        std::string file;
        double seconds;
    };
    for (const Case& c : {Case{file, 1.0}, Case{timed, 30 / 600.0}}) {
        auto info = moviefixtures::ffprobe(c.file, "-select_streams v:0 -count_frames -show_entries "
                                                   "stream=width,height,nb_read_frames:format=duration");
        EXPECT_EQ(info["nb_read_frames"], "1") << info["output"];
        EXPECT_EQ(info["width"], std::to_string(kW));
        EXPECT_NEAR(std::atof(info["duration"].c_str()), c.seconds, 0.002);
        EXPECT_TRUE(moviefixtures::ffmpegFramesRGB(c.file) == rgbOf(effectFrame(6, -20, 0)));
    }
}

TEST_F(StillPresentationsTest, TheBufferPresentationShowsTheCallersBufferAndLeavesIt) {
    Kelvo_QDGWorldBuffer empty(k32ARGBPixelFormat);
    Kelvo_VideoBufferPresentation invalid(empty);
    EXPECT_FALSE(invalid.qtObjIsValid());
    EXPECT_EQ(invalid.SamplesCount(), 0);

    World caller(1);
    const std::vector<uint8_t> original = pixelsOf(caller.world());
    auto* p = new Kelvo_VideoBufferPresentation(caller.buffer);
    ASSERT_TRUE(p->qtObjIsValid());
    EXPECT_EQ(p->Error(), 0);
    EXPECT_STREQ(p->qtObjName(), "Kelvo_VideoBufferPresentation");
    EXPECT_TRUE(p->isA("Kelvo_VideoPresentation"));
    EXPECT_EQ(p->SamplesCount(), 1);
    EXPECT_EQ(p->dataSourceGraphics(), caller.world());

    World screen(0);
    p->ShowWithinGWorld(screen.world(), nullptr);
    EXPECT_EQ(pixelsOf(screen.world()), effectFrame(1, 0, 0));
    p->contrast(40);
    EXPECT_EQ(pixelsOf(screen.world()), effectFrame(1, 0, 40));
    // Gamma reaches the display, not the caller's pixels, however often it is drawn.
    Kelvo_DisplayTransform gamma = gammaTransform(0.5);
    std::vector<uint8_t> expected = effectFrame(1, 0, 0);
    for (size_t i = 0; i < expected.size(); ++i)
        if (i % 4 != 0) expected[i] = brco(gamma.GammaTable()[expected[i]], 0, 40);
    for (int round = 0; round < 3; ++round) {
        p->displayProperties(&gamma);
        EXPECT_EQ(p->Error(), 0);
        EXPECT_EQ(pixelsOf(screen.world()), expected) << round;
        EXPECT_EQ(pixelsOf(caller.world()), original) << round;
    }
    Kelvo_DisplayTransform plain;
    p->displayProperties(&plain);
    EXPECT_EQ(pixelsOf(screen.world()), effectFrame(1, 0, 40));

    // Its export has no range to write: an empty movie that is still a movie file, which other
    // tools and this one open.
    {
        ScratchDir dir("kbufferexport");
        const std::string file = dir.file("buffer.mov");
        FSSpec spec{};
        FSPathMakeFSSpec(file.c_str(), &spec);
        Kelvo_ImgDescComp desc;
        desc.dataFormat(FOUR_CHAR_CODE("raw "));
        desc.qtDepth(32);
        desc.qtWidth(kW);
        desc.qtHeight(kH);
        p->presentationToMovie(&spec, &desc, nullptr);
        EXPECT_EQ(p->Error(), 0);
        Kelvo_Movie written(file.c_str());
        EXPECT_TRUE(written.qtObjIsValid()) << written.Error();
        EXPECT_EQ(written.duration(), 0);
        if (moviefixtures::haveMoviePeers()) {
            int status = -1;
            const std::string said = testsupport::run(
                "ffprobe -v error -show_entries format=nb_streams -of default=nw=1 '" + file + "' 2>&1",
                &status);
            EXPECT_EQ(status, 0) << said;
            EXPECT_EQ(said, "nb_streams=0\n");
        }
        EXPECT_EQ(pixelsOf(screen.world()), effectFrame(1, 0, 40));
    }

    // What the caller draws into its buffer shows on the next update.
    paintFrame(caller.world(), 2);
    p->Update();
    EXPECT_EQ(pixelsOf(screen.world()), effectFrame(2, 0, 40));
    paintFrame(caller.world(), 1);

    // Gone in full screen: no window left, the caller's buffer as it was.
    p->FullScreenStart(nullptr, true);
    EXPECT_EQ(platform::liveWindowCount(), windows + 1);
    delete p;
    EXPECT_EQ(platform::liveWindowCount(), windows);
    ASSERT_TRUE(caller.buffer.qtObjIsValid());
    EXPECT_EQ(pixelsOf(caller.world()), original);
    paintFrame(caller.world(), 3); // still the caller's to use
    EXPECT_EQ(pixelsOf(caller.world()), effectFrame(3, 0, 0));
}
