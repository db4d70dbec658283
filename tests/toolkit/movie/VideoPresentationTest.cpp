// The video presentation base, through a small presentation of frames painted into its
// data-source buffer: display set-up, drawing through the brightness and contrast effect,
// grabs, full screen with its keyboard control through the main-loop pump, and export to movie
// files that ffprobe and ffmpeg read back.
#include "KelvoCoreObjectsTypes.h"
#include "KelvoImageBase.h"
#include "KelvoMovie.h"
#include "KelvoTrackProviders.h"
#include "KelvoVideoCompression.h"
#include "KelvoVideoDecompression.h"
#include "KelvoVideoPresentation.h"
#include "MovieFixtures.h"
#include "PlatformClock.h"
#include "PlatformDecompressionSessions.h"
#include "PlatformEndian.h"
#include "PlatformFiles.h"
#include "PlatformGraphicsExport.h"
#include "PlatformTimers.h"
#include "TestFiles.h"
#include "VideoPresentationFixtures.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include <ostream>

// Rectangles compared and printed as the tests state them.
static bool operator==(const Rect& a, const Rect& b) {
    return a.top == b.top && a.left == b.left && a.bottom == b.bottom && a.right == b.right;
}
static void PrintTo(const Rect& r, std::ostream* os) {
    *os << "{" << r.top << ", " << r.left << ", " << r.bottom << ", " << r.right << "}";
}

using namespace vpfixtures;
using testsupport::ScratchDir;

namespace {

// `samples` frames of 24 units in a scale of 600 on its own time controller; frame k (time
// k x 24) is painted into the data-source buffer when it is shown.
class TestVideo : public Kelvo_VideoPresentation {
  public:
    explicit TestVideo(int32_t samples, int w = kW, int h = kH, bool withSource = true) : _samples(samples) {
        _sampleDuration = 24;
        if (withSource) {
            _dataSourceBuffer = new Kelvo_QDGWorldBuffer(w, h, k32ARGBPixelFormat);
            _dataSource = _dataSourceBuffer;
            Kelvo_Rect r(w, h);
            _displayTransform = new Kelvo_DisplayTransform(r, r);
            paintFrame(_dataSourceBuffer->buffer(), 0);
            initDataPlayer();
        }
        _initTimeController();
    }
    ~TestVideo() override { _playing = false; }

    void idle() override {
        if (!qtObjIsValid()) return;
        AliveScope alive(*this);
        shown = Time(kKelvoTimeCurrent) / _sampleDuration;
        paintFrame(_dataSourceBuffer->buffer(), shown);
        double now = Time(kKelvoTimeCurrent);
        _eventsHandler.notifyEvent(kKelvoPresentationIdle, &now, 0);
        if (alive.gone()) return;
        drawToDisplay();
        if (alive.gone()) return;
        if (_playing && isDone()) Stop();
    }
    bool isDone() override { return !_timeBase || _timeBase->isDone(); }
    bool isPlaying() override { return _playing; }
    int32_t Time(int32_t kind) override {
        switch (kind) {
        case kKelvoTimeDuration:
            return _samples * _sampleDuration;
        case kKelvoTimeScale:
            return 600;
        case kKelvoTimeCurrent:
            return _timeBase ? _timeBase->currentTime() : 0;
        default:
            return 0;
        }
    }
    int32_t SamplesCount() override { return _samples; }
    void Play(double rate) override {
        if (!qtObjIsValid() || !_timeBase || _playing) return;
        if (isDone()) PlayTime(0);
        _timeBase->rate(rate);
        _playing = true;
        _eventsHandler.notifyEvent(kKelvoPresentationStart, nullptr, 0);
    }
    void Stop() override {
        if (!_playing) return;
        _timeBase->rate(0.0);
        _playing = false;
        _eventsHandler.notifyEvent(kKelvoPresentationStop, nullptr, 0);
    }
    void PlayAction(int32_t action) override {
        const int32_t now = Time(kKelvoTimeCurrent), end = Time(kKelvoTimeDuration);
        switch (action) {
        case kKelvoPlayActionStart:
            PlayTime(0);
            break;
        case kKelvoPlayActionEnd:
            PlayTime(end);
            break;
        case kKelvoPlayActionBack:
            PlayTime(std::max(0, now - _sampleDuration));
            break;
        case kKelvoPlayActionForward:
            PlayTime(std::min(end, now + _sampleDuration));
            break;
        default:
            break;
        }
    }
    void PlayTime(int32_t time) override {
        if (!_timeBase) return;
        Stop();
        _timeBase->currentTime(time);
        idle();
    }
    void Update() override { idle(); }

    void setGamma(double g) { _displayTransform->Gamma(g); }
    bool hasFullScreenHandler() const { return _fullScreenHandler != nullptr; }
    int shown = 0;

  private:
    int32_t _samples;
    bool _playing = false;
};

// A transform that also removes colour.
class GreyTransform : public Kelvo_DisplayTransform {
  public:
    GreyTransform() { _discardColor = 1; }
};

class VideoPresentationTest : public ::testing::Test {
  protected:
    void TearDown() override {
        EXPECT_EQ(platform::installedTimerCount(), 0);
        EXPECT_EQ(platform::liveWindowCount(), windows);
        EXPECT_EQ(platform::installedEventHandlerCount(), handlers);
    }
    platform::ManualClock clock{5'000'000'000};
    platform::ScopedSystemClock scope{clock};
    int32_t windows = platform::liveWindowCount();
    int32_t handlers = platform::installedEventHandlerCount();
};

Kelvo_ImgDescComp compressionFor(OSType codec, int w = kW, int h = kH) {
    Kelvo_ImgDescComp p;
    p.dataFormat(codec);
    p.qtDepth(32);
    p.qtWidth(int16_t(w));
    p.qtHeight(int16_t(h));
    p.qtSpatialQuality(codecMaxQuality);
    return p;
}

// The effect description's atom of `type`: its size and bytes.
std::string atomBytes(QTAtomContainer c, uint32_t type) {
    QTAtom atom = QTFindChildByIndex(c, kParentAtomIsContainer, type, 1, nullptr);
    int32_t size = 0;
    Ptr data = nullptr;
    if (!atom || QTGetAtomDataPtr(c, atom, &size, &data) != noErr) return "";
    return std::string(data, size_t(size));
}

} // namespace

TEST_F(VideoPresentationTest, AFreshPresentationHasItsEffectReady) {
    TestVideo none(10, kW, kH, false);
    EXPECT_FALSE(none.qtObjIsValid());
    EXPECT_STREQ(none.qtObjName(), "Kelvo_VideoPresentation");
    for (const char* name :
         {"Kelvo_VideoPresentation", "Kelvo_DataPresentation", "Kelvo_CoreIdler", "Kelvo_QTObj"})
        EXPECT_TRUE(none.isA(name)) << name;
    EXPECT_FALSE(none.isA("Kelvo_Movie"));
    EXPECT_TRUE(none.autoScale());
    EXPECT_EQ(none.dataSourceGraphics(), nullptr);
    EXPECT_EQ(none.displayGraphics(), nullptr);
    EXPECT_EQ(none.brightness(), 0);
    none.initDataPlayer();
    EXPECT_EQ(none.Error(), 79); // no data-source buffer
    none.displaySetUp(nullptr, nullptr);
    EXPECT_EQ(none.displayBuffer(), nullptr);

    TestVideo p(10);
    ASSERT_TRUE(p.qtObjIsValid());
    EXPECT_EQ(p.Error(), 0);
    ASSERT_NE(p.effectDescription(), nullptr);
    EXPECT_EQ(QTContainerLockCount(p.effectDescription()), 1); // kept locked while held
    ASSERT_NE(p.effectSession(), nullptr);
    EXPECT_FALSE(p.effectSession()->isActive()); // nothing to draw into yet
    Recorder rec;
    rec.attach(p);
    p.Update();
    EXPECT_EQ(rec.codes(), (std::vector<std::string>{"IDLE"}));
    EXPECT_EQ(p.brightness(), 0);
    EXPECT_EQ(p.contrast(), 0);
    EXPECT_EQ(p.dataSourceGraphics(), p.dataSourceBuffer()->buffer());
    // Making the effect again keeps one locked description.
    p.initDataPlayer();
    EXPECT_EQ(p.Error(), 0);
    EXPECT_EQ(QTContainerLockCount(p.effectDescription()), 1);
}

TEST_F(VideoPresentationTest, DisplaySetUpFitsTheFrameAndDrawsIt) {
    // No port, no rect: an own 32-bit world exactly the frame's size, showing the frame.
    TestVideo p(10);
    Recorder rec;
    rec.attach(p);
    p.displaySetUp(nullptr, nullptr);
    EXPECT_EQ(p.Error(), 0);
    ASSERT_NE(p.displayBuffer(), nullptr);
    EXPECT_TRUE(p.displayBuffer()->isBufferOwned());
    EXPECT_EQ(p.displayBuffer()->width(), kW);
    EXPECT_EQ(p.displayBuffer()->height(), kH);
    EXPECT_EQ(p.displayBuffer()->pixelFormat(), uint32_t(k32ARGBPixelFormat));
    EXPECT_TRUE(p.effectSession()->isActive());
    EXPECT_EQ(pixelsOf(p.displayGraphics()), effectFrame(0, 0, 0));
    EXPECT_EQ(rec.count(kKelvoPresentationDraw), 1);

    // A 400 x 100 rect for a 200 x 200 frame: 100 x 100 centred across it, in the caller's world.
    TestVideo square(2, 200, 200);
    Kelvo_QDGWorldBuffer wide(400, 100, k32ARGBPixelFormat);
    Kelvo_Rect rect(400, 100);
    square.displaySetUp(wide.buffer(), &rect);
    EXPECT_EQ(square.Error(), 0);
    EXPECT_EQ(Rect(square.displayRect()), (Rect{0, 150, 100, 250}));
    EXPECT_FALSE(square.displayBuffer()->isBufferOwned());
    EXPECT_EQ(square.displayGraphics(), wide.buffer());
    EXPECT_EQ(Rect(*square.displayTransform()->DstRect()), (Rect{0, 150, 100, 250}));
    ASSERT_NE(square.displayTransform()->Clip(), nullptr);
    // Drawn there, halved; nothing outside it.
    const std::vector<uint8_t> left = pixelsOf(wide.buffer(), Rect{0, 0, 100, 150});
    EXPECT_TRUE(std::all_of(left.begin(), left.end(), [](uint8_t v) { return v == 0; }));
    const std::vector<uint8_t> inside = pixelsOf(wide.buffer(), Rect{10, 160, 11, 161});
    EXPECT_EQ(inside[0], 255);

    // Without auto scale the rect is taken as it is; a port without a rect gives its bounds.
    square.autoScale(false);
    EXPECT_FALSE(square.autoScale());
    square.displaySetUp(wide.buffer(), &rect);
    EXPECT_EQ(Rect(square.displayRect()), (Rect{0, 0, 100, 400}));
    square.autoScale(true);
    square.displaySetUp(wide.buffer(), nullptr);
    EXPECT_EQ(Rect(square.displayRect()), (Rect{0, 150, 100, 250}));

    // An own world for a rect placed away from the origin holds the whole picture.
    TestVideo q(2);
    Kelvo_Rect away(Rect{10, 20, 10 + kH, 20 + kW});
    q.displaySetUp(nullptr, &away);
    EXPECT_EQ(Rect(q.displayRect()), (Rect{0, 0, kH, kW}));
    EXPECT_EQ(pixelsOf(q.displayGraphics()), effectFrame(0, 0, 0));
}

TEST_F(VideoPresentationTest, ADestinationThatCannotBeMadeLeavesTheEffectDrawingNowhere) {
    TestVideo p(2);
    p.displaySetUp(nullptr, nullptr);
    ASSERT_TRUE(p.effectSession()->isActive());
    // A rect wider than any world: the old destination is gone and no new one comes.
    p.autoScale(false);
    Kelvo_Rect huge(Rect{-32768, -32768, 32767, 32767});
    p.displaySetUp(nullptr, &huge);
    EXPECT_NE(p.Error(), 0);
    EXPECT_EQ(p.displayBuffer(), nullptr);
    EXPECT_FALSE(p.effectSession()->isActive());
    Recorder rec;
    rec.attach(p);
    p.Update();
    EXPECT_EQ(rec.count(kKelvoPresentationDraw), 0);
    // A destination that can be made draws again.
    p.displaySetUp(nullptr, nullptr);
    EXPECT_EQ(p.Error(), 0);
    EXPECT_EQ(pixelsOf(p.displayGraphics()), effectFrame(0, 0, 0));
}

TEST_F(VideoPresentationTest, ShowWithinTakesThePlatformWindowsPort) {
    WindowRef window = nullptr;
    Rect bounds{100, 100, 100 + kH * 2, 100 + kW * 2};
    ASSERT_EQ(CreateNewWindow(kDocumentWindowClass, kWindowNoAttributes, &bounds, &window), noErr);
    {
        TestVideo p(2);
        p.ShowWithin(window, nullptr);
        EXPECT_EQ(p.displayGraphics(), GetWindowPort(window));
        EXPECT_EQ(Rect(p.displayRect()), (Rect{0, 0, kH * 2, kW * 2}));
        // Twice the frame: pixel (2x, 2y) of the window shows pixel (x, y) of the frame.
        const std::vector<uint8_t> px = pixelsOf(GetWindowPort(window), Rect{6, 10, 7, 11});
        EXPECT_EQ(px, pixelsOf(p.dataSourceGraphics(), Rect{3, 5, 4, 6}));
        // No window, or something that is not one: an own world.
        p.ShowWithin(nullptr, nullptr);
        EXPECT_TRUE(p.displayBuffer()->isBufferOwned());
        int notAWindow = 0;
        p.ShowWithin(&notAWindow, nullptr);
        EXPECT_TRUE(p.displayBuffer()->isBufferOwned());
        p.ShowWithinGWorld(GetWindowPort(window), nullptr);
        EXPECT_EQ(p.displayGraphics(), GetWindowPort(window));
    }
    DisposeWindow(window);
}

TEST_F(VideoPresentationTest, BrightnessAndContrastAreStoredBigEndianAndDrawn) {
    struct Case {
        int32_t brightness, contrast;
    };
    const Case cases[] = {{20, 0}, {0, 50}, {-30, -40}, {100, 100}, {-100, 0}, {7, -100}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.brightness << " " << c.contrast);
        TestVideo p(2);
        p.displaySetUp(nullptr, nullptr);
        Recorder rec;
        rec.attach(p);
        p.brightness(c.brightness);
        EXPECT_EQ(p.Error(), 0);
        p.contrast(c.contrast);
        EXPECT_EQ(p.Error(), 0);
        EXPECT_EQ(p.brightness(), c.brightness);
        EXPECT_EQ(p.contrast(), c.contrast);
        const uint32_t b = EndianU32_NtoB(uint32_t(c.brightness));
        EXPECT_EQ(atomBytes(p.effectDescription(), FOUR_CHAR_CODE("bryt")),
                  std::string(reinterpret_cast<const char*>(&b), 4));
        EXPECT_EQ(QTContainerLockCount(p.effectDescription()), 1);
        // Each change drew the frame again (not playing), the last through both.
        EXPECT_EQ(rec.count(kKelvoPresentationDraw), 2);
        EXPECT_EQ(pixelsOf(p.displayGraphics()), effectFrame(0, c.brightness, c.contrast));
    }
    // Values beyond the effect's range are stored as given and drawn at its limit.
    TestVideo p(2);
    p.displaySetUp(nullptr, nullptr);
    p.brightness(1000);
    EXPECT_EQ(p.brightness(), 1000);
    EXPECT_EQ(pixelsOf(p.displayGraphics()), effectFrame(0, 100, 0));
    // Without an effect description nothing is read or written.
    TestVideo none(2, kW, kH, false);
    none.brightness(5);
    EXPECT_EQ(none.brightness(), 0);
}

TEST_F(VideoPresentationTest, UpdateParamsKeepsTheSourceInTheFrame) {
    TestVideo p(2);
    p.displaySetUp(nullptr, nullptr);
    p.updateParams(nullptr);
    EXPECT_EQ(p.Error(), -50);
    TestVideo none(2, kW, kH, false);
    Kelvo_DisplayTransform any;
    none.updateParams(&any);
    EXPECT_EQ(none.Error(), -108);

    struct Case {
        Rect source, expected;
    };
    const Case cases[] = {
        {{0, 0, 8, 16}, {0, 0, 8, 16}},       // inside: kept
        {{0, 0, 0, 0}, {0, 0, kH, kW}},       // empty: the frame
        {{0, 0, kH + 1, kW}, {0, 0, kH, kW}}, // beyond: the frame
        {{-2, -2, 4, 4}, {0, 0, kH, kW}},
    };
    for (const Case& c : cases) {
        Kelvo_DisplayTransform t;
        t.SrcRect(&c.source);
        Rect elsewhere{0, 0, 3, 3};
        t.DstRect(&elsewhere);
        p.updateParams(&t);
        EXPECT_EQ(p.Error(), 0);
        EXPECT_EQ(Rect(*p.displayTransform()->SrcRect()), c.expected);
        EXPECT_EQ(Rect(*p.displayTransform()->DstRect()), Rect(p.displayRect())); // the display's
        EXPECT_NE(p.displayTransform()->Clip(), nullptr);
    }

    // displayProperties draws the left half of the frame across the whole display.
    Kelvo_DisplayTransform half;
    Rect left{0, 0, kH, kW / 2};
    half.SrcRect(&left);
    p.displayProperties(&half);
    EXPECT_EQ(p.Error(), 0);
    EXPECT_EQ(pixelsOf(p.displayGraphics(), Rect{0, 2, 1, 3}),
              pixelsOf(p.dataSourceGraphics(), Rect{0, 1, 1, 2}));
    std::unique_ptr<Kelvo_DisplayTransform> copy(p.displayProperties());
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy.get(), p.displayTransform());
    EXPECT_EQ(Rect(*copy->SrcRect()), left);
    EXPECT_EQ(none.displayProperties(), nullptr);
}

TEST_F(VideoPresentationTest, GammaAndColourDiscardingChangeTheFrameBeforeTheEffect) {
    TestVideo p(2);
    p.displaySetUp(nullptr, nullptr);
    p.setGamma(2.0);
    p.Update();
    const uint8_t* table = p.displayTransform()->GammaTable();
    ASSERT_NE(table, nullptr);
    std::vector<uint8_t> expected = pixelsOf(p.dataSourceGraphics());
    const std::vector<uint8_t> painted = effectFrame(0, 0, 0);
    for (size_t i = 0; i < painted.size(); ++i)
        EXPECT_EQ(expected[i], i % 4 == 0 ? 255 : table[painted[i]]) << i;
    EXPECT_EQ(pixelsOf(p.displayGraphics()), expected);

    GreyTransform grey;
    p.displayProperties(&grey);
    EXPECT_EQ(p.Error(), 0);
    const std::vector<uint8_t> shown = pixelsOf(p.displayGraphics());
    for (size_t i = 0; i < shown.size(); i += 4) {
        EXPECT_EQ(shown[i + 1], shown[i + 2]);
        EXPECT_EQ(shown[i + 2], shown[i + 3]);
    }
}

TEST_F(VideoPresentationTest, GrabsHandTheFrameToTheCallerAndLeaveTheDisplayAsItWas) {
    TestVideo p(2);
    Kelvo_QDGWorldBuffer screen(kW * 2, kH * 2, k32ARGBPixelFormat);
    p.displaySetUp(screen.buffer(), nullptr);
    p.brightness(30);
    const std::vector<uint8_t> before = pixelsOf(screen.buffer());

    // Without the effect: the data-source frame itself.
    std::unique_ptr<Kelvo_QDGWorldBuffer> plain(p.grabFrame(nullptr));
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(pixelsOf(plain->buffer()), effectFrame(0, 0, 0));

    // With the effect: the display's size, through brightness 30.
    std::unique_ptr<Kelvo_QDGWorldBuffer> shown(p.grabFrameAndEffect(nullptr));
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(p.Error(), 0);
    EXPECT_EQ(shown->width(), kW * 2);
    EXPECT_EQ(pixelsOf(shown->buffer()), before);
    // A transform's destination gives the size.
    Kelvo_DisplayTransform t;
    Rect dst{0, 0, kH, kW};
    t.DstRect(&dst);
    std::unique_ptr<Kelvo_QDGWorldBuffer> small(p.grabFrameAndEffect(&t));
    ASSERT_NE(small, nullptr);
    EXPECT_EQ(pixelsOf(small->buffer()), effectFrame(0, 30, 0));
    // The display is the caller's world again, with its rect and transform.
    EXPECT_EQ(p.displayGraphics(), screen.buffer());
    EXPECT_EQ(Rect(p.displayRect()), (Rect{0, 0, kH * 2, kW * 2}));
    EXPECT_EQ(Rect(*p.displayTransform()->DstRect()), (Rect{0, 0, kH * 2, kW * 2}));
    EXPECT_EQ(pixelsOf(screen.buffer()), before);
    CGrafPtr current = nullptr;
    GetGWorld(&current, nullptr);
    EXPECT_EQ(current, screen.buffer());

    // As images of the pixel type asked for.
    Kelvo_OSType argb(Kelvo_Image::kARGB);
    std::unique_ptr<Kelvo_Image> image(p.grabRawImageAndEffect(nullptr, argb));
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->width(), uint32_t(kW * 2));
    EXPECT_EQ(image->pixelFormat(), Kelvo_Image::kARGB);
    std::unique_ptr<Kelvo_Image> raw(p.grabRawImage(nullptr, argb));
    ASSERT_NE(raw, nullptr);
    EXPECT_EQ(raw->width(), uint32_t(kW));

    // Invalid presentations grab nothing.
    TestVideo none(2, kW, kH, false);
    EXPECT_EQ(none.grabFrame(nullptr), nullptr);
    EXPECT_EQ(none.grabFrameAndEffect(nullptr), nullptr);
    EXPECT_EQ(none.grabRawImage(nullptr, argb), nullptr);
}

TEST_F(VideoPresentationTest, FullScreenTakesTheScreenAndGivesItBack) {
    TestVideo p(10);
    Kelvo_QDGWorldBuffer screen(kW, kH, k32ARGBPixelFormat);
    p.displaySetUp(screen.buffer(), nullptr);
    Recorder rec;
    rec.attach(p);
    p.FullScreenStop(); // off: nothing
    EXPECT_TRUE(rec.events.empty());

    p.FullScreenStart(nullptr, false);
    EXPECT_EQ(p.Error(), 0);
    ASSERT_TRUE(p.isFullScreen());
    WindowRef window = p.fullScreenWindow();
    EXPECT_EQ(platform::liveWindowCount(), windows + 1);
    EXPECT_EQ(GetWindowGroup(window), GetWindowGroupOfClass(kDocumentWindowClass));
    EXPECT_EQ(p.displayGraphics(), GetWindowPort(window));
    // 1024 x 768 screen, 2:1 frame: 1024 x 512 centred.
    EXPECT_EQ(Rect(p.displayRect()), (Rect{128, 0, 640, 1024}));
    EXPECT_EQ(pixelsOf(GetWindowPort(window), Rect{128, 0, 129, 1}),
              pixelsOf(p.dataSourceGraphics(), Rect{0, 0, 1, 1}));
    EXPECT_FALSE(p.hasFullScreenHandler()); // no keyboard control without the loop flag
    EXPECT_EQ(rec.codes(), (std::vector<std::string>{"IDLE", "DRAW", "FSTR"}));

    p.FullScreenStart(nullptr, true); // on already: nothing
    EXPECT_EQ(p.fullScreenWindow(), window);
    EXPECT_EQ(rec.count(kKelvoPresentationFullScreenStart), 1);

    rec.events.clear();
    p.FullScreenStop();
    EXPECT_EQ(p.Error(), 0);
    EXPECT_FALSE(p.isFullScreen());
    EXPECT_EQ(platform::liveWindowCount(), windows);
    EXPECT_EQ(p.displayGraphics(), screen.buffer());
    EXPECT_EQ(Rect(p.displayRect()), (Rect{0, 0, kH, kW}));
    EXPECT_EQ(rec.codes(), (std::vector<std::string>{"IDLE", "DRAW", "FSTP"}));

    // From an own world, back to an own world of the same rect.
    TestVideo own(2);
    own.displaySetUp(nullptr, nullptr);
    own.FullScreenStart(nullptr, true);
    own.FullScreenStop();
    ASSERT_NE(own.displayBuffer(), nullptr);
    EXPECT_TRUE(own.displayBuffer()->isBufferOwned());
    EXPECT_EQ(own.displayBuffer()->width(), kW);
}

TEST_F(VideoPresentationTest, KeysInFullScreenArriveThroughTheMainLoop) {
    TestVideo p(10);
    p.displaySetUp(nullptr, nullptr);
    Recorder rec;
    rec.attach(p);
    p.FullScreenStart(nullptr, true);
    ASSERT_TRUE(p.hasFullScreenHandler());
    EXPECT_EQ(platform::installedEventHandlerCount(), handlers + 1);
    p.FullScreenLoop(); // installed once
    EXPECT_EQ(platform::installedEventHandlerCount(), handlers + 1);
    WindowRef window = p.fullScreenWindow();

    struct Step {
        uint32_t key;
        const char* name;
        bool playing;
        int32_t time;
    };
    const Step steps[] = {
        {kKelvoKeyRightArrow, "RIGHT", false, 24}, {kKelvoKeyRightArrow, "RIGHT", false, 48},
        {kKelvoKeyLeftArrow, "LEFT", false, 24},   {kKelvoKeyPageDown, "PAGEDOWN", false, 240},
        {kKelvoKeyPageUp, "PAGEUP", false, 0},     {kKelvoKeyF9, "PAGEDOWN", false, 240},
        {kKelvoKeyF7, "PAGEUP", false, 0},         {kKelvoKeySpace, "SPACE", true, 0},
        {kKelvoKeySpace, "SPACE", false, 0},       {kKelvoKeyF8, "SPACE", true, 0},
        {kKelvoKeyF8, "SPACE", false, 0},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.name);
        rec.events.clear();
        postInput(window, s.key);
        platform::runOnce();
        EXPECT_EQ(p.isPlaying(), s.playing);
        EXPECT_EQ(p.Time(kKelvoTimeCurrent), s.time);
        ASSERT_FALSE(rec.events.empty());
        EXPECT_EQ(rec.events.back().code, kKelvoPresentationFullScreenKeyDown);
        EXPECT_EQ(rec.events.back().key, s.name);
    }
    // Space at the end starts over from the start.
    p.PlayAction(kKelvoPlayActionEnd);
    ASSERT_TRUE(p.isDone());
    postInput(window, kKelvoKeySpace);
    platform::runOnce();
    EXPECT_TRUE(p.isPlaying());
    EXPECT_EQ(p.Time(kKelvoTimeCurrent), 0);
    p.Stop();

    // Other keys, other kinds and other classes are left to others; nothing is sent for them.
    rec.events.clear();
    EXPECT_EQ(sendInput(window, 117), eventNotHandledErr);
    postInput(window, 117);
    platform::runOnce();
    EXPECT_EQ(sendInput(window, kKelvoKeySpace, false, kEventRawKeyUp), eventNotHandledErr);
    EXPECT_EQ(sendInput(window, 0, true, kEventMouseUp), eventNotHandledErr);
    EXPECT_EQ(Kelvo_VideoPresentation::fullScreenEventHandler(nullptr, nullptr, nullptr), noErr);
    EventRef other = nullptr;
    CreateEvent(nullptr, kEventClassWindow, 1, 0, kEventAttributeNone, &other);
    EXPECT_EQ(Kelvo_VideoPresentation::fullScreenEventHandler(nullptr, other, &p), noErr);
    ReleaseEvent(other);
    EXPECT_TRUE(rec.events.empty());
    EXPECT_FALSE(p.isPlaying());

    // Without a callback keys still act, silently.
    p.eventsHandler().setEventsHandler(nullptr, nullptr);
    postInput(window, kKelvoKeyRightArrow);
    platform::runOnce();
    EXPECT_EQ(p.Time(kKelvoTimeCurrent), 24);
    rec.attach(p);

    // Escape ends full screen; the window and its handler go.
    rec.events.clear();
    postInput(window, kKelvoKeyEscape);
    platform::runOnce();
    EXPECT_FALSE(p.isFullScreen());
    EXPECT_EQ(platform::liveWindowCount(), windows);
    EXPECT_EQ(platform::installedEventHandlerCount(), handlers);
    EXPECT_EQ(rec.codes(), (std::vector<std::string>{"IDLE", "DRAW", "FSTP", "FKDN"}));
    EXPECT_EQ(rec.events.back().key, "ESC");

    // A mouse down does the same.
    p.FullScreenStart(nullptr, true);
    rec.events.clear();
    postInput(p.fullScreenWindow(), 0, true);
    platform::runOnce();
    EXPECT_FALSE(p.isFullScreen());
    EXPECT_EQ(rec.events.back().key, "ESC");
}

TEST_F(VideoPresentationTest, FullScreenKeepsPlaying) {
    TestVideo p(10);
    p.displaySetUp(nullptr, nullptr);
    ASSERT_TRUE(p.autoIdlingEnabled(true));
    p.Play(1.0);
    platform::runFor(0.05);
    p.FullScreenStart(nullptr, true);
    EXPECT_TRUE(p.isPlaying());
    platform::runFor(0.05);
    p.FullScreenStop();
    EXPECT_TRUE(p.isPlaying());
    platform::runFor(1.0);
    EXPECT_FALSE(p.isPlaying());
    EXPECT_TRUE(p.autoIdlingEnabled(false));
}

// Movies written from a presentation: ffprobe reads the frame count, size and duration, ffmpeg
// decodes the frames to what the presentation drew (exactly for raw, within JPEG's loss).
TEST_F(VideoPresentationTest, ThePresentationBecomesAMovieFile) {
    if (!moviefixtures::haveMoviePeers()) GTEST_SKIP() << "ffmpeg or ffprobe missing";
    ScratchDir dir("kvideopresentation");
    constexpr int kFrames = 10;
    for (OSType codec : {FOUR_CHAR_CODE("raw "), FOUR_CHAR_CODE("jpeg")}) {
        const bool lossless = codec == FOUR_CHAR_CODE("raw ");
        SCOPED_TRACE(lossless ? "raw" : "jpeg");
        const std::string file = dir.file(lossless ? "raw.mov" : "jpeg.mov");
        FSSpec spec{};
        FSPathMakeFSSpec(file.c_str(), &spec);
        Kelvo_QDGWorldBuffer screen(kW * 2, kH * 2, k32ARGBPixelFormat);
        TestVideo p(kFrames);
        p.displaySetUp(screen.buffer(), nullptr);
        p.brightness(lossless ? 12 : 0);
        Recorder rec;
        rec.attach(p);
        Kelvo_ImgDescComp desc = compressionFor(codec);
        p.presentationToMovie(&spec, &desc, nullptr);
        ASSERT_EQ(p.Error(), 0);

        // Progress t / end for each frame, then 1.0.
        std::vector<double> progress;
        for (const Event& e : rec.events)
            if (e.code == kKelvoPresentationMovieProgress) {
                progress.push_back(e.progress);
                EXPECT_EQ(e.parameter, 0);
            }
        std::vector<double> expected;
        for (int k = 0; k < kFrames; ++k)
            expected.push_back(double(k * 24) / double(kFrames * 24));
        expected.push_back(1.0);
        EXPECT_EQ(progress, expected);
        // The display is the caller's world again.
        EXPECT_EQ(p.displayGraphics(), screen.buffer());
        EXPECT_EQ(p.displayBuffer()->width(), kW * 2);

        std::string drawn;
        for (int k = 0; k < kFrames; ++k)
            drawn += rgbOf(effectFrame(k, lossless ? 12 : 0, 0));
        auto info =
            moviefixtures::ffprobe(file, "-select_streams v:0 -count_frames -show_entries "
                                         "stream=codec_type,width,height,nb_read_frames:format=duration");
        EXPECT_EQ(info["codec_type"], "video") << info["output"];
        EXPECT_EQ(info["width"], std::to_string(kW));
        EXPECT_EQ(info["height"], std::to_string(kH));
        EXPECT_EQ(info["nb_read_frames"], std::to_string(kFrames));
        EXPECT_NEAR(std::atof(info["duration"].c_str()), kFrames * 24 / 600.0, 0.002);
        const std::string decoded = moviefixtures::ffmpegFramesRGB(file);
        ASSERT_EQ(decoded.size(), drawn.size());
        if (lossless) {
            EXPECT_TRUE(decoded == drawn);
        } else {
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
    }
}

TEST_F(VideoPresentationTest, ExportRangesProgressAndFailures) {
    ScratchDir dir("kvideopresentationrange");
    TestVideo p(10);
    p.displaySetUp(nullptr, nullptr);
    Kelvo_ImgDescComp desc = compressionFor(FOUR_CHAR_CODE("raw "));

    // A null file or an unusable description: nothing happens.
    p.presentationToMovie(nullptr, &desc, nullptr);
    EXPECT_EQ(p.Error(), -50);
    FSSpec spec{};
    const std::string file = dir.file("range.mov");
    FSPathMakeFSSpec(file.c_str(), &spec);
    p.presentationToMovie(&spec, nullptr, nullptr);
    EXPECT_EQ(p.Error(), -108);
    Kelvo_ImgDescComp unusable;
    unusable.reset();
    p.presentationToMovie(&spec, &unusable, nullptr);
    EXPECT_EQ(p.Error(), -50);
    EXPECT_FALSE(std::filesystem::exists(file));

    // A range: its samples only, progress through the notifier when no callback is set.
    std::vector<std::pair<double, int32_t>> reports;
    Kelvo_ProgressNotifier notifier(
        [](double progress, void* ref, int32_t status) {
            static_cast<std::vector<std::pair<double, int32_t>>*>(ref)->push_back({progress, status});
        },
        &reports);
    p.Callback(&notifier);
    Kelvo_TimeRange range(48, 72);
    p.presentationToMovie(&spec, &desc, &range);
    EXPECT_EQ(p.Error(), 0);
    EXPECT_EQ(reports, (std::vector<std::pair<double, int32_t>>{{0.4, 0}, {0.6, 0}, {0.8, 0}, {1.0, 0}}));
    {
        Kelvo_Movie written(file.c_str());
        ASSERT_TRUE(written.qtObjIsValid()) << written.Error();
        EXPECT_EQ(written.duration(), 72);
    }

    // A range already at its end writes no sample and reports 1.0 once.
    reports.clear();
    const std::string empty = dir.file("empty.mov");
    FSPathMakeFSSpec(empty.c_str(), &spec);
    Kelvo_TimeRange none(240, 0);
    p.presentationToMovie(&spec, &desc, &none);
    EXPECT_EQ(p.Error(), 0);
    EXPECT_EQ(reports, (std::vector<std::pair<double, int32_t>>{{1.0, 0}}));
    // The file is an empty movie, not one with a track nobody can read.
    {
        Kelvo_Movie written(empty.c_str());
        ASSERT_TRUE(written.qtObjIsValid()) << written.Error();
        EXPECT_EQ(written.duration(), 0);
        EXPECT_FALSE(written.qtHasVideo());
    }
    if (moviefixtures::haveMoviePeers()) {
        int status = -1;
        const std::string said = testsupport::run(
            "ffprobe -v error -show_entries format=nb_streams -of default=nw=1 '" + empty + "' 2>&1",
            &status);
        EXPECT_EQ(status, 0) << said;
        EXPECT_EQ(said, "nb_streams=0\n");
    }

    // A session that cannot begin: the status says why, nothing is written, and the display is
    // back on the caller's world, still drawing.
    Kelvo_QDGWorldBuffer screen(kW, kH, k32ARGBPixelFormat);
    p.displaySetUp(screen.buffer(), nullptr);
    Kelvo_ImgDescComp broken = compressionFor(FOUR_CHAR_CODE("raw "));
    (*broken.hImageDesc())->cType = FOUR_CHAR_CODE("zzzz");
    reports.clear();
    const std::string failed = dir.file("failed.mov");
    FSPathMakeFSSpec(failed.c_str(), &spec);
    p.presentationToMovie(&spec, &broken, nullptr);
    EXPECT_NE(p.Error(), 0);
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(p.displayGraphics(), screen.buffer());
    p.PlayTime(72);
    EXPECT_EQ(pixelsOf(screen.buffer()), effectFrame(3, 0, 0));

    // A file that cannot be made: nothing changes on the display.
    FSSpec nowhere{};
    FSPathMakeFSSpec((dir.file("missing") + "/dir/x.mov").c_str(), &nowhere);
    p.presentationToMovie(&nowhere, &desc, nullptr);
    EXPECT_NE(p.Error(), 0);
    EXPECT_EQ(p.displayGraphics(), screen.buffer());
}

TEST_F(VideoPresentationTest, DestroyingWhilePlayingOrInFullScreenLeavesNothingBehind) {
    {
        auto* p = new TestVideo(10);
        p->displaySetUp(nullptr, nullptr);
        p->autoIdlingEnabled(true);
        p->Play(1.0);
        platform::runFor(0.05);
        EXPECT_EQ(platform::installedTimerCount(), 1);
        delete p;
        EXPECT_EQ(platform::installedTimerCount(), 0);
    }
    {
        auto* p = new TestVideo(10);
        p->FullScreenStart(nullptr, true);
        p->autoIdlingEnabled(true);
        p->Play(1.0);
        platform::runFor(0.05);
        delete p;
        EXPECT_EQ(platform::liveWindowCount(), windows);
        EXPECT_EQ(platform::installedEventHandlerCount(), handlers);
    }
    // From inside its own events: a tick's 'DRAW', full screen's 'FSTR', a key's 'FKDN' and the
    // 'FSTP' of Escape, and an export's progress.
    struct Case {
        uint32_t code;
    };
    const Case cases[] = {{kKelvoPresentationDraw},
                          {kKelvoPresentationFullScreenStart},
                          {kKelvoPresentationFullScreenKeyDown},
                          {kKelvoPresentationFullScreenStop},
                          {kKelvoPresentationMovieProgress}};
    ScratchDir dir("kvideopresentationgone");
    for (const Case& c : cases) {
        SCOPED_TRACE(codeText(c.code));
        auto* p = new TestVideo(10);
        p->displaySetUp(nullptr, nullptr);
        Recorder rec;
        rec.action = [&](uint32_t code) {
            if (code == c.code && p) {
                delete p;
                p = nullptr;
            }
        };
        rec.attach(*p);
        if (c.code == kKelvoPresentationDraw) {
            p->autoIdlingEnabled(true);
            p->Play(1.0);
            platform::runFor(0.5);
        } else if (c.code == kKelvoPresentationMovieProgress) {
            FSSpec spec{};
            FSPathMakeFSSpec(dir.file("gone.mov").c_str(), &spec);
            Kelvo_ImgDescComp desc = compressionFor(FOUR_CHAR_CODE("raw "));
            p->presentationToMovie(&spec, &desc, nullptr);
        } else {
            p->FullScreenStart(nullptr, true);
            if (p) {
                WindowRef w = p->fullScreenWindow();
                postInput(w,
                          c.code == kKelvoPresentationFullScreenStop ? kKelvoKeyEscape : kKelvoKeyRightArrow);
                platform::runOnce();
            }
        }
        EXPECT_EQ(p, nullptr);
        delete p;
        EXPECT_EQ(platform::installedTimerCount(), 0);
        EXPECT_EQ(platform::liveWindowCount(), windows);
        EXPECT_EQ(platform::installedEventHandlerCount(), handlers);
    }
}
