#include "../image/WorldSupport.h"
#include "KelvoMoviePresentations.h"
#include "KelvoVideoCompression.h"
#include "MovieFixtures.h"
#include "PlatformWindows.h"
#include "VideoPresentationFixtures.h"
#include "PlatformClock.h"
#include "PlatformFiles.h"
#include "PlatformMoviePlayback.h"
#include "PlatformTimers.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

using namespace moviefixtures;
using worldsupport::rgbAt;

namespace {

struct Event {
    uint32_t code;
    double time; // the current time of 'IDLE', the progress of 'MPRG', -1 for the others
    int32_t parameter;
    bool operator==(const Event&) const = default;
};

std::string codeText(uint32_t code) {
    return {char(code >> 24), char(code >> 16), char(code >> 8), char(code)};
}

void PrintTo(const Event& e, std::ostream* os) {
    *os << codeText(e.code) << "@" << e.time;
    if (e.parameter) *os << "(" << e.parameter << ")";
}

Event idleAt(double t) {
    return {kKelvoPresentationIdle, t, 0};
}
const Event kStart{kKelvoPresentationStart, -1, 0};
const Event kStop{kKelvoPresentationStop, -1, 0};
const Event kDraw{kKelvoPresentationDraw, -1, 0};

// Records every event; runs `action` (when set) after recording one.
struct Recorder {
    std::vector<Event> events;
    std::function<void(uint32_t)> action;

    static void callback(uint32_t code, void* data, int32_t parameter, void* reference) {
        auto* self = static_cast<Recorder*>(reference);
        const bool timed = code == kKelvoPresentationIdle || code == kKelvoPresentationMovieProgress;
        double t = timed && data ? *static_cast<double*>(data) : -1.0;
        self->events.push_back({code, t, parameter});
        if (self->action) self->action(code);
    }
    void attach(Kelvo_DataPresentation& p) { p.eventsHandler().setEventsHandler(&Recorder::callback, this); }

    std::vector<double> idleTimes() const {
        std::vector<double> times;
        for (const Event& e : events)
            if (e.code == kKelvoPresentationIdle) times.push_back(e.time);
        return times;
    }
    int count(uint32_t code) const {
        int n = 0;
        for (const Event& e : events)
            n += e.code == code;
        return n;
    }
};

// A movie (scale 600) of `samples` sound samples of `each` units and `bytes` bytes each: with the
// defaults one second of ten samples, a tick every 100 ms.
struct SoundMovie {
    Movie movie = NewMovie(0);
    SoundMovie(int samples = 10, int64_t each = 60, size_t bytes = 4) {
        addTrack(movie, SoundMediaType, std::vector<int64_t>(size_t(samples), each), bytes, false);
    }
    SoundMovie(const SoundMovie&) = delete;
    SoundMovie& operator=(const SoundMovie&) = delete;
    ~SoundMovie() { DisposeMovie(movie); }
};

// What the presentation keeps to itself, as the tests need to see it.
class SoundProbe : public Kelvo_MovieSoundPlay {
  public:
    using Kelvo_MovieSoundPlay::Kelvo_MovieSoundPlay;
    double dataRate() const { return _dataRate; }
    double sampleRate() const { return _sampleRate; }
    int32_t statisticsTime() const { return _statisticsTime; }
};

class VideoProbe : public Kelvo_MovieVideoPlay {
  public:
    double dataRate() const { return _dataRate; }
    double sampleRate() const { return _sampleRate; }
};

// The colour (R, G, B) of the k-th frame of a VideoMovie.
uint32_t frameColour(int k) {
    return uint32_t(20 * (k + 1)) << 16 | uint32_t(250 - 20 * k) << 8 | uint32_t(7 * k);
}

// A movie (scale 600) with a video track of kWidth x kHeight frames of the given durations, each
// of one colour (frameColour), and, when asked, a sound track as long.
struct VideoMovie {
    Movie movie = NewMovie(0);
    explicit VideoMovie(const std::vector<int64_t>& durations, bool withSound = false) {
        Track track = NewMovieTrack(movie, Long2Fix(kWidth), Long2Fix(kHeight), 0);
        Media media = NewTrackMedia(track, VideoMediaType, 600, nullptr, 0);
        SampleDescriptionHandle desc = rawDescription();
        int64_t total = 0;
        for (size_t k = 0; k < durations.size(); ++k) {
            const uint32_t c = frameColour(int(k));
            std::string pixels;
            for (int i = 0; i < kWidth * kHeight; ++i)
                pixels += {char(0xFF), char(c >> 16), char(c >> 8), char(c)};
            EXPECT_EQ(AddMediaSample2(media, reinterpret_cast<const uint8_t*>(pixels.data()),
                                      ByteCount(pixels.size()), durations[k], 0, desc, 1, 0, nullptr),
                      noErr);
            total += durations[k];
        }
        DisposeHandle(reinterpret_cast<Handle>(desc));
        EXPECT_EQ(InsertMediaIntoTrack(track, 0, 0, TimeValue(total), fixed1), noErr);
        if (withSound) addTrack(movie, SoundMediaType, {total}, 4, false);
    }
    VideoMovie(const VideoMovie&) = delete;
    VideoMovie& operator=(const VideoMovie&) = delete;
    ~VideoMovie() { DisposeMovie(movie); }
};

// A movie video presentation of `movie` shown in an own offscreen world of the frame's size.
template <class Presentation = Kelvo_MovieVideoPlay> std::unique_ptr<Presentation> showVideo(Movie movie) {
    Kelvo_Movie m(movie, false);
    auto p = std::make_unique<Presentation>();
    p->initDataSource(m);
    EXPECT_TRUE(p->qtObjIsValid()) << p->Error();
    p->displaySetUp(nullptr, nullptr);
    return p;
}

// The colour at the middle of the destination, and of the frame the movie drew.
uint32_t shown(Kelvo_MovieVideoPlay& p) {
    return p.displayBuffer() ? rgbAt(*p.displayBuffer(), kWidth / 2, kHeight / 2) : 0xDEADBEEF;
}
uint32_t rendered(Kelvo_MovieVideoPlay& p) {
    return p.dataSourceBuffer() ? rgbAt(*p.dataSourceBuffer(), kWidth / 2, kHeight / 2) : 0xDEADBEEF;
}

class MoviePresentationsTest : public ::testing::Test {
  protected:
    void TearDown() override { EXPECT_EQ(platform::installedTimerCount(), 0); }
    platform::ManualClock clock{5'000'000'000};
    platform::ScopedSystemClock scope{clock};
};

} // namespace

// ---------------------------------------------------------------------------------------------
// The movie sound presentation.

TEST_F(MoviePresentationsTest, SoundPlaysACopyOfAMovieWithSound) {
    SoundMovie f;
    SetMovieTimeValue(f.movie, 300);
    Kelvo_Movie movie(f.movie, false);
    Kelvo_MovieSoundPlay p(movie);
    ASSERT_TRUE(p.qtObjIsValid());
    EXPECT_EQ(p.Error(), 0);
    EXPECT_STREQ(p.qtObjName(), "Kelvo_MovieSoundPlay");
    for (const char* name :
         {"Kelvo_MovieSoundPlay", "Kelvo_DataPresentation", "Kelvo_CoreIdler", "Kelvo_QTObj"})
        EXPECT_TRUE(p.isA(name)) << name;
    EXPECT_FALSE(p.isA("Kelvo_VideoPresentation"));

    // Its own copy, from time 0, with the first sound sample's duration.
    ASSERT_NE(p.dataSource(), nullptr);
    EXPECT_NE(p.dataSource()->movie(), f.movie);
    EXPECT_TRUE(p.dataSource()->ownsMovie());
    EXPECT_EQ(p.Time(kKelvoTimeCurrent), 0);
    EXPECT_EQ(GetMovieTime(f.movie, nullptr), 300);
    EXPECT_EQ(p.Time(kKelvoTimeDuration), 600);
    EXPECT_EQ(p.Time(kKelvoTimeScale), 600);
    EXPECT_EQ(p.Time(3), 0);
    EXPECT_EQ(p.SampleDuration(), 60);
    EXPECT_EQ(p.SamplesCount(), 10);
    EXPECT_EQ(p.idlingTimeInMilliSec(), 100.0);
    EXPECT_FALSE(p.isPlaying());
    EXPECT_FALSE(p.isDone());
    // The time base is the copy's own.
    p.PlayTime(120);
    EXPECT_EQ(GetMovieTime(p.dataSource()->movie(), nullptr), 120);
    EXPECT_EQ(GetMovieTime(f.movie, nullptr), 300);

    // The copy goes with the presentation; the caller's movie stays.
    {
        Kelvo_MovieSoundPlay other(movie);
        ASSERT_TRUE(other.qtObjIsValid());
    }
    EXPECT_EQ(GetMovieTrackCount(f.movie), 1);
    EXPECT_EQ(GetMoviesError(), noErr);
}

TEST_F(MoviePresentationsTest, SoundRefusesAMovieWithoutSound) {
    TwoTrackMovie withSound;
    Movie pictures = NewMovie(0);
    addTrack(pictures, VideoMediaType, {10, 10});
    Kelvo_Movie none(static_cast<Movie>(nullptr), false);
    Kelvo_Movie silent(pictures, false);
    Kelvo_Movie both(withSound.movie, false);
    for (Kelvo_Movie* m : {&none, &silent}) {
        Kelvo_MovieSoundPlay p(*m);
        EXPECT_EQ(p.Error(), kKelvoNothingToWorkOn);
        EXPECT_FALSE(p.qtObjIsValid());
        EXPECT_EQ(p.dataSource(), nullptr);
        // Nothing works on it, and nothing is sent.
        Recorder rec;
        rec.attach(p);
        p.Play(1.0);
        p.PlayAction(kKelvoPlayActionForward);
        p.Stop();
        p.idle();
        EXPECT_TRUE(rec.events.empty());
        EXPECT_EQ(p.Time(kKelvoTimeDuration), 0);
        EXPECT_EQ(p.SamplesCount(), 0);
        EXPECT_TRUE(p.isDone());
        EXPECT_FALSE(p.isPlaying());
        EXPECT_FALSE(p.autoIdlingEnabled(true));
    }
    Kelvo_MovieSoundPlay p(both);
    EXPECT_TRUE(p.qtObjIsValid());
    EXPECT_EQ(p.SampleDuration(), 20);
    DisposeMovie(pictures);
}

TEST_F(MoviePresentationsTest, SoundPlaysThroughTheMainLoopAndStopsAtTheEnd) {
    SoundMovie f;
    Kelvo_Movie movie(f.movie, false);
    Kelvo_MovieSoundPlay p(movie);
    Recorder rec;
    rec.attach(p);
    ASSERT_TRUE(p.autoIdlingEnabled(true));
    EXPECT_EQ(*platform::eventLoopTimerInterval(p.idlingTimer()), 0.1);
    // Not playing: the timer fires, nothing idles.
    platform::runFor(0.25);
    EXPECT_TRUE(rec.events.empty());

    // Playing from the next turn of the loop: the timer's first fire comes at once.
    EXPECT_TRUE(p.autoIdlingEnabled(false));
    p.Play(1.0);
    EXPECT_TRUE(p.isPlaying());
    ASSERT_TRUE(p.autoIdlingEnabled(true));
    platform::runFor(1.5);
    // A tick every 100 ms, 60 units a tick, up to the end, where the tick that finds the movie
    // there stops it.
    std::vector<Event> expected{kStart};
    for (int k = 0; k <= 10; ++k)
        expected.push_back(idleAt(60.0 * k));
    expected.push_back(kStop);
    EXPECT_EQ(rec.events, expected);
    EXPECT_FALSE(p.isPlaying());
    EXPECT_TRUE(p.isDone());
    EXPECT_EQ(GetMovieRate(p.dataSource()->movie()), 0);
    EXPECT_EQ(p.SampleID(), 10);

    // Stopping a stopped movie sends nothing.
    rec.events.clear();
    p.Stop();
    EXPECT_TRUE(rec.events.empty());

    // Stopping a playing one reports its status.
    EXPECT_TRUE(p.autoIdlingEnabled(false));
    p.Play(1.0);
    p.Stop();
    EXPECT_EQ(rec.events, (std::vector<Event>{idleAt(0), kStart, kStop}));
    EXPECT_FALSE(p.isPlaying());
}

TEST_F(MoviePresentationsTest, SoundPlayOnAFinishedMovieStartsOverOnce) {
    SoundMovie f;
    Kelvo_Movie movie(f.movie, false);
    Kelvo_MovieSoundPlay p(movie);
    Recorder rec;
    rec.attach(p);
    p.PlayAction(kKelvoPlayActionEnd);
    ASSERT_TRUE(p.isDone());
    rec.events.clear();

    p.Play(2.0);
    EXPECT_EQ(rec.events, (std::vector<Event>{idleAt(0), kStart}));
    EXPECT_EQ(GetMovieRate(p.dataSource()->movie()), 2 * fixed1);
    // Playing already: a second Play sends nothing and keeps the rate.
    p.Play(1.0);
    EXPECT_EQ(rec.count(kKelvoPresentationStart), 1);
    EXPECT_EQ(GetMovieRate(p.dataSource()->movie()), 2 * fixed1);
    clock.advance(0.25);
    EXPECT_EQ(p.Time(kKelvoTimeCurrent), 300);

    // Run into the end with nobody ticking: the movie stands there with its rate, and the next
    // Play first ends that play, then starts over.
    clock.advance(5);
    EXPECT_TRUE(p.isDone());
    EXPECT_FALSE(p.isPlaying());
    rec.events.clear();
    p.Play(1.0);
    EXPECT_EQ(rec.events, (std::vector<Event>{kStop, idleAt(0), kStart}));
    EXPECT_TRUE(p.isPlaying());
    p.Stop();
}

TEST_F(MoviePresentationsTest, SoundPlayActionsStepBySample) {
    SoundMovie f;
    Kelvo_Movie movie(f.movie, false);
    Kelvo_MovieSoundPlay p(movie);
    Recorder rec;
    rec.attach(p);
    struct Step {
        int32_t action, time, status;
    };
    // From 100: forward, forward, back, end, forward (held at the end), start, back (a negative
    // time: refused with the movie's error, the time stays), unknown actions.
    const Step steps[] = {{4, 160, 0},
                          {4, 220, 0},
                          {3, 160, 0},
                          {2, 600, 0},
                          {4, 600, 0},
                          {1, 0, 0},
                          {3, 0, kKelvoNegativeTime}};
    p.PlayTime(100);
    for (const Step& s : steps) {
        rec.events.clear();
        p.PlayAction(s.action);
        EXPECT_EQ(p.Time(kKelvoTimeCurrent), s.time) << s.action;
        EXPECT_EQ(p.Error(), s.status) << s.action;
        // Setting the time reports it.
        EXPECT_EQ(rec.events, (std::vector<Event>{idleAt(s.time)})) << s.action;
    }
    for (int32_t action : {0, 5, -1}) {
        rec.events.clear();
        p.PlayAction(action);
        EXPECT_TRUE(rec.events.empty());
        EXPECT_EQ(p.Time(kKelvoTimeCurrent), 0);
    }
    // A time set while playing stops the movie first.
    p.Play(1.0);
    rec.events.clear();
    p.PlayTime(300);
    EXPECT_EQ(rec.events, (std::vector<Event>{kStop, idleAt(300)}));
    EXPECT_FALSE(p.isPlaying());
}

TEST_F(MoviePresentationsTest, SoundLoopsAndTurnsOnTheMoviesTimeBase) {
    struct Case {
        bool palindrome;
        std::vector<double> times;
    };
    const Case cases[] = {
        {false, {0, 60, 120, 180, 240, 300, 360, 420, 480, 540, 0, 60, 120}},
        {true, {0, 60, 120, 180, 240, 300, 360, 420, 480, 540, 600, 540, 480}},
    };
    for (const Case& c : cases) {
        SoundMovie f;
        Kelvo_Movie movie(f.movie, false);
        Kelvo_MovieSoundPlay p(movie);
        p.loop(true);
        p.palindrome(c.palindrome);
        EXPECT_TRUE(p.loop());
        EXPECT_EQ(p.palindrome(), c.palindrome);
        EXPECT_EQ(p.Error(), 0);
        // The movie is told to loop as well.
        int32_t hints = 0;
        GetMediaPlayHints(GetTrackMedia(GetMovieIndTrack(p.dataSource()->movie(), 1)), &hints);
        EXPECT_EQ(hints & hintsLoop, hintsLoop);

        Recorder rec;
        rec.attach(p);
        p.autoIdlingEnabled(true);
        p.Play(1.0);
        platform::runFor(1.25);
        EXPECT_EQ(rec.idleTimes(), c.times) << c.palindrome;
        EXPECT_TRUE(p.isPlaying());
        EXPECT_FALSE(p.isDone());
        EXPECT_EQ(rec.count(kKelvoPresentationStop), 0);

        p.loop(false);
        EXPECT_FALSE(p.loop());
        GetMediaPlayHints(GetTrackMedia(GetMovieIndTrack(p.dataSource()->movie(), 1)), &hints);
        EXPECT_EQ(hints & hintsLoop, 0);
        p.Stop();
    }
}

TEST_F(MoviePresentationsTest, SoundStatisticsMeasureAtLeastASecondOfPlay) {
    // Two seconds of 20 samples of 100 bytes: 1000 bytes a second.
    SoundMovie f(20, 60, 100);
    Kelvo_Movie movie(f.movie, false);
    SoundProbe p(movie);
    bool on = true;
    p.statisticsEnabled(on);
    p.Play(1.0);
    EXPECT_EQ(p.statisticsTime(), 0);
    // Half a second after the last update: nothing changes, the interval grows.
    clock.advance(0.5);
    p.statisticsUpdate();
    EXPECT_EQ(p.statisticsTime(), 0);
    EXPECT_EQ(p.dataRate(), 0.0);
    EXPECT_EQ(p.sampleRate(), 0.0);
    // A second after it: both rates over the second played.
    clock.advance(0.5);
    p.statisticsUpdate();
    EXPECT_EQ(p.statisticsTime(), 600);
    EXPECT_DOUBLE_EQ(p.dataRate(), 1000.0);
    // Samples 1 to 10: the first sample spans two durations.
    EXPECT_DOUBLE_EQ(p.sampleRate(), 9.0);
    // The next interval starts there.
    clock.advance(0.5);
    p.statisticsUpdate();
    EXPECT_EQ(p.statisticsTime(), 600);
    EXPECT_DOUBLE_EQ(p.sampleRate(), 9.0);
    clock.advance(0.5);
    p.statisticsUpdate();
    EXPECT_EQ(p.statisticsTime(), 1200);
    EXPECT_DOUBLE_EQ(p.dataRate(), 1000.0);
    EXPECT_DOUBLE_EQ(p.sampleRate(), 10.0);
    // Stopping resets them.
    p.Stop();
    EXPECT_EQ(p.statisticsTime(), 0);
    EXPECT_EQ(p.dataRate(), 0.0);
    EXPECT_EQ(p.sampleRate(), 0.0);
}

TEST_F(MoviePresentationsTest, SoundDeletedWhilePlayingOrFromItsOwnEventsLeavesNoTimer) {
    {
        SoundMovie f;
        Kelvo_Movie movie(f.movie, false);
        auto* p = new Kelvo_MovieSoundPlay(movie);
        p->autoIdlingEnabled(true);
        p->Play(1.0);
        platform::runFor(0.25);
        EXPECT_EQ(platform::installedTimerCount(), 1);
        Recorder rec;
        rec.attach(*p);
        delete p; // stops first: its last word is 'STOP'
        EXPECT_EQ(rec.events, (std::vector<Event>{kStop}));
        EXPECT_EQ(platform::installedTimerCount(), 0);
        EXPECT_EQ(platform::runFor(0.2), 0);
    }
    // On the third tick's 'IDLE', on the 'STOP' at the end, on 'STRT', and on the 'STOP' of a
    // Play that ends a finished run.
    struct Case {
        uint32_t code;
        int nth;
        bool finishedFirst;
    };
    const Case cases[] = {{kKelvoPresentationIdle, 3, false},
                          {kKelvoPresentationStop, 1, false},
                          {kKelvoPresentationStart, 1, false},
                          {kKelvoPresentationStop, 1, true}};
    for (const Case& c : cases) {
        SoundMovie f;
        Kelvo_Movie movie(f.movie, false);
        auto* p = new Kelvo_MovieSoundPlay(movie);
        if (c.finishedFirst) {
            p->Play(1.0);
            clock.advance(2);
        }
        Recorder rec;
        int seen = 0;
        rec.action = [&](uint32_t code) {
            if (code == c.code && ++seen == c.nth) {
                delete p;
                p = nullptr;
            }
        };
        rec.attach(*p);
        p->autoIdlingEnabled(true);
        p->Play(1.0);
        platform::runFor(2.0);
        EXPECT_EQ(p, nullptr) << codeText(c.code);
        EXPECT_EQ(platform::installedTimerCount(), 0) << codeText(c.code);
        delete p;
    }
}

// ---------------------------------------------------------------------------------------------
// The movie video presentation.

TEST_F(MoviePresentationsTest, VideoRendersACopyOfAMovieWithVideo) {
    // Frames at 0, 60, 90, 180 and 240; the sample in the middle (at 150) lasts 90.
    VideoMovie f({60, 30, 90, 60, 60}, true);
    SetMovieTimeValue(f.movie, 200);
    Kelvo_Movie movie(f.movie, false);
    Kelvo_MovieVideoPlay p;
    EXPECT_FALSE(p.qtObjIsValid());
    EXPECT_EQ(p.dataSource(), nullptr);
    p.initDataSource(movie);
    ASSERT_TRUE(p.qtObjIsValid()) << p.Error();
    EXPECT_EQ(p.Error(), 0);
    EXPECT_STREQ(p.qtObjName(), "Kelvo_MovieVideoPlay");
    for (const char* name : {"Kelvo_MovieVideoPlay", "Kelvo_VideoPresentation", "Kelvo_DataPresentation",
                             "Kelvo_CoreIdler", "Kelvo_QTObj"})
        EXPECT_TRUE(p.isA(name)) << name;
    EXPECT_FALSE(p.isA("Kelvo_MovieSoundPlay"));

    ASSERT_NE(p.dataSource(), nullptr);
    EXPECT_NE(p.dataSource()->movie(), f.movie);
    EXPECT_EQ(GetMovieTime(f.movie, nullptr), 200);
    EXPECT_EQ(p.Time(kKelvoTimeCurrent), 0);
    EXPECT_EQ(p.Time(kKelvoTimeDuration), 300);
    EXPECT_EQ(p.SampleDuration(), 90);
    EXPECT_EQ(p.SamplesCount(), 3);
    // The movie draws into a 32-bit world of its natural size, and shows time 0 there.
    ASSERT_NE(p.dataSourceBuffer(), nullptr);
    EXPECT_EQ(p.dataSourceBuffer()->bounds().width(), kWidth);
    EXPECT_EQ(p.dataSourceBuffer()->bounds().height(), kHeight);
    CGrafPtr port = nullptr;
    GetMovieGWorld(p.dataSource()->movie(), &port, nullptr);
    EXPECT_EQ(port, p.dataSourceGraphics());
    EXPECT_EQ(rendered(p), frameColour(0));
    ASSERT_NE(p.displayTransform(), nullptr);
    // The movie is told to flush its frames rather than mark them.
    int32_t hints = 0;
    GetMediaPlayHints(GetTrackMedia(GetMovieIndTrack(p.dataSource()->movie(), 1)), &hints);
    EXPECT_EQ(hints & hintsFlushVideoInsteadOfDirtying, hintsFlushVideoInsteadOfDirtying);

    // A second movie takes the first one's place, shown where the first one was.
    p.displaySetUp(nullptr, nullptr);
    p.PlayAction(kKelvoPlayActionEnd);
    EXPECT_EQ(shown(p), frameColour(4));
    VideoMovie other({10, 10, 10, 10});
    Kelvo_Movie second(other.movie, false);
    p.initDataSource(second);
    ASSERT_TRUE(p.qtObjIsValid()) << p.Error();
    EXPECT_EQ(p.Time(kKelvoTimeDuration), 40);
    EXPECT_EQ(p.SampleDuration(), 10);
    EXPECT_EQ(rendered(p), frameColour(0));
    EXPECT_EQ(shown(p), frameColour(0));

    // A movie of another size is fitted where the first one was shown, not cut to it.
    VideoMovie twice({10, 10});
    SetTrackDimensions(GetMovieIndTrack(twice.movie, 1), Long2Fix(kWidth * 2), Long2Fix(kHeight * 2));
    Kelvo_Movie third(twice.movie, false);
    p.initDataSource(third);
    ASSERT_TRUE(p.qtObjIsValid()) << p.Error();
    EXPECT_EQ(p.dataSourceBuffer()->width(), kWidth * 2);
    EXPECT_EQ(p.displayBuffer()->width(), kWidth);
    auto corners = [](const Rect* r) { return std::vector<int>{r->top, r->left, r->bottom, r->right}; };
    EXPECT_EQ(corners(p.displayTransform()->DstRect()), (std::vector<int>{0, 0, kHeight, kWidth}));
    EXPECT_EQ(corners(p.displayTransform()->SrcRect()), (std::vector<int>{0, 0, kHeight * 2, kWidth * 2}));
    EXPECT_EQ(shown(p), frameColour(0));
}

TEST_F(MoviePresentationsTest, VideoRefusesAMovieWithoutVideo) {
    SoundMovie sound;
    Kelvo_Movie none(static_cast<Movie>(nullptr), false);
    Kelvo_Movie silent(sound.movie, false);
    for (Kelvo_Movie* m : {&none, &silent}) {
        Kelvo_MovieVideoPlay p;
        Recorder rec;
        rec.attach(p);
        p.initDataSource(*m);
        EXPECT_EQ(p.Error(), kKelvoNothingToWorkOn);
        EXPECT_FALSE(p.qtObjIsValid());
        EXPECT_EQ(p.dataSource(), nullptr);
        EXPECT_EQ(p.dataSourceBuffer(), nullptr);
        p.Play(1.0);
        p.PlayAction(kKelvoPlayActionEnd);
        p.Update();
        p.idle();
        EXPECT_TRUE(rec.events.empty());
        EXPECT_TRUE(p.isDone());
        EXPECT_FALSE(p.autoIdlingEnabled(true));
    }
    // A movie already shown stays when the next one is refused.
    VideoMovie f({60, 60});
    Kelvo_Movie good(f.movie, false);
    Kelvo_MovieVideoPlay p;
    p.initDataSource(good);
    p.initDataSource(silent);
    EXPECT_EQ(p.Error(), kKelvoNothingToWorkOn);
    EXPECT_TRUE(p.qtObjIsValid());
    EXPECT_EQ(p.Time(kKelvoTimeDuration), 120);
}

TEST_F(MoviePresentationsTest, VideoTicksWithTheFramesAndDrawsEachOne) {
    VideoMovie f({60, 30, 90, 60, 60});
    auto p = showVideo(f.movie);
    EXPECT_EQ(shown(*p), frameColour(0));
    Recorder rec;
    std::vector<uint32_t> drawn;
    rec.action = [&](uint32_t code) {
        if (code == kKelvoPresentationDraw) drawn.push_back(shown(*p));
    };
    rec.attach(*p);
    ASSERT_TRUE(p->autoIdlingEnabled(true));
    platform::runOnce(); // not playing: the first fire idles nothing
    EXPECT_TRUE(rec.events.empty());

    // Playing brings the timer's next fire to the next frame, 60 units (100 ms) on.
    p->Play(1.0);
    EXPECT_NEAR(*platform::eventLoopTimerNextFire(p->idlingTimer()), 0.1, 1e-9);
    platform::runFor(0.7);
    // Then each tick comes when the next frame is due, not every period (150 ms here), up to the
    // end, where the tick that finds the movie there stops it.
    const std::vector<Event> expected{kStart, idleAt(60),  kDraw, idleAt(90),  kDraw, idleAt(180),
                                      kDraw,  idleAt(240), kDraw, idleAt(300), kDraw, kStop};
    EXPECT_EQ(rec.events, expected);
    EXPECT_EQ(drawn, (std::vector<uint32_t>{frameColour(1), frameColour(2), frameColour(3), frameColour(4),
                                            frameColour(4)}));
    EXPECT_TRUE(p->isDone());
    EXPECT_FALSE(p->isPlaying());

    // Stopping a stopped movie sends nothing; playing a finished one starts over, once.
    rec.events.clear();
    p->Stop();
    EXPECT_TRUE(rec.events.empty());
    p->autoIdlingEnabled(false);
    p->Play(2.0);
    EXPECT_EQ(rec.events, (std::vector<Event>{idleAt(0), kDraw, kStart}));
    EXPECT_EQ(shown(*p), frameColour(0));
    p->Play(1.0);
    EXPECT_EQ(rec.count(kKelvoPresentationStart), 1);
    EXPECT_EQ(GetMovieRate(p->dataSource()->movie()), 2 * fixed1);
    clock.advance(0.1); // 120 units at double speed: the third frame
    rec.events.clear();
    p->Update();
    EXPECT_EQ(rec.events, (std::vector<Event>{idleAt(120), kDraw}));
    EXPECT_EQ(shown(*p), frameColour(2));
    p->Stop();
    EXPECT_EQ(rec.events.back(), kStop);
}

TEST_F(MoviePresentationsTest, VideoGammaAndGreyApplyOnceHoweverOftenTheFrameIsDrawn) {
    // The movie draws a frame again only when it changes: redraws of a paused movie must not
    // adjust the frame they adjusted before.
    VideoMovie f({60, 60});
    auto p = showVideo(f.movie);
    Kelvo_DisplayTransform gamma;
    gamma.Gamma(2.0);
    const uint8_t* table = gamma.GammaTable();
    ASSERT_NE(table, nullptr);
    const uint32_t c = frameColour(0);
    const uint32_t once =
        uint32_t(table[c >> 16 & 255]) << 16 | uint32_t(table[c >> 8 & 255]) << 8 | table[c & 255];
    ASSERT_NE(once, c);
    p->displayProperties(&gamma);
    ASSERT_EQ(p->Error(), 0);
    EXPECT_EQ(shown(*p), once);
    for (int i = 0; i < 3; ++i) {
        p->idle();
        p->brightness(0);
        EXPECT_EQ(shown(*p), once) << i;
    }
    // The frame keeps what the movie drew.
    EXPECT_EQ(rendered(*p), c);

    struct GreyTransform : Kelvo_DisplayTransform {
        GreyTransform() { _discardColor = 1; }
    } discard;
    p->displayProperties(&discard);
    const uint32_t g = shown(*p);
    EXPECT_EQ(g >> 16 & 255, g & 255);
    p->idle();
    p->contrast(0);
    EXPECT_EQ(shown(*p), g);
    EXPECT_EQ(rendered(*p), c);
}

// A receiver of 'DRAW' may replace the movie or draw again while gamma or grey is on: the frame
// the draw adjusted is put back before the event, so a replaced world is never written to and a
// draw from inside a draw adjusts the frame once, as any draw does.
TEST_F(MoviePresentationsTest, VideoReplacedOrRedrawnFromInsideItsOwnDraw) {
    struct GreyTransform : Kelvo_DisplayTransform {
        GreyTransform() { _discardColor = 1; }
    };
    enum class Inside { Replace, Update, Step };
    for (bool grey : {false, true}) {
        for (Inside inside : {Inside::Replace, Inside::Update, Inside::Step}) {
            SCOPED_TRACE(std::string(grey ? "grey " : "gamma ") + (inside == Inside::Replace  ? "replace"
                                                                   : inside == Inside::Update ? "update"
                                                                                              : "step"));
            VideoMovie f({60, 60, 60, 60}), next({60, 60});
            auto p = showVideo(f.movie);
            Kelvo_DisplayTransform gamma;
            gamma.Gamma(2.0);
            GreyTransform discard;
            p->displayProperties(grey ? static_cast<Kelvo_DisplayTransform*>(&discard) : &gamma);
            ASSERT_EQ(p->Error(), 0);
            // What a plain draw shows of each frame.
            std::vector<uint32_t> plain;
            for (int k = 0; k < 3; ++k) {
                p->PlayTime(60 * k);
                plain.push_back(shown(*p));
            }
            ASSERT_NE(plain[0], frameColour(0));
            p->PlayTime(0);
            Kelvo_Movie second(next.movie, false);
            Recorder rec;
            int nested = 0;
            rec.action = [&](uint32_t code) {
                if (code != kKelvoPresentationDraw || nested++ > 0) return;
                if (inside == Inside::Replace) p->initDataSource(second);
                if (inside == Inside::Update) p->Update();
                if (inside == Inside::Step) p->PlayAction(kKelvoPlayActionForward);
            };
            rec.attach(*p);
            p->PlayAction(kKelvoPlayActionForward);
            EXPECT_GT(nested, 1);
            ASSERT_TRUE(p->qtObjIsValid()) << p->Error();
            EXPECT_EQ(p->Error(), 0);
            // Frame 1 was drawn; then the replacement's frame 0, frame 1 again, or frame 2.
            const int frame = inside == Inside::Replace ? 0 : inside == Inside::Update ? 1 : 2;
            EXPECT_EQ(p->Time(kKelvoTimeDuration), inside == Inside::Replace ? 120 : 240);
            // A new movie comes with a display transform of its own, which adjusts nothing.
            const uint32_t expected = inside == Inside::Replace ? frameColour(0) : plain[size_t(frame)];
            EXPECT_EQ(shown(*p), expected);
            EXPECT_EQ(rendered(*p), frameColour(frame));
            // and the next plain draw shows the same.
            rec.action = nullptr;
            p->idle();
            EXPECT_EQ(shown(*p), expected);
            EXPECT_EQ(rendered(*p), frameColour(frame));
            p->eventsHandler().setEventsHandler(nullptr, nullptr);
        }
    }
}

TEST_F(MoviePresentationsTest, VideoPlayActionsShowTheFrameStepped) {
    VideoMovie f({60, 60, 60, 60, 60});
    auto p = showVideo(f.movie);
    Recorder rec;
    rec.attach(*p);
    struct Step {
        int32_t action, time, status, frame;
    };
    const Step steps[] = {{4, 60, 0, 1},
                          {4, 120, 0, 2},
                          {3, 60, 0, 1},
                          {2, 300, 0, 4},
                          {4, 300, 0, 4},
                          {1, 0, 0, 0},
                          {3, 0, kKelvoNegativeTime, 0}};
    for (const Step& s : steps) {
        rec.events.clear();
        p->PlayAction(s.action);
        EXPECT_EQ(p->Time(kKelvoTimeCurrent), s.time) << s.action;
        EXPECT_EQ(p->Error(), s.status) << s.action;
        EXPECT_EQ(shown(*p), frameColour(s.frame)) << s.action;
        // A time set shows its frame; a refused one shows nothing.
        const std::vector<Event> drawnThere{idleAt(s.time), kDraw};
        EXPECT_EQ(rec.events, s.status == 0 ? drawnThere : std::vector<Event>{}) << s.action;
    }
    rec.events.clear();
    p->PlayAction(9);
    EXPECT_TRUE(rec.events.empty());
}

TEST_F(MoviePresentationsTest, VideoLoopsThroughItsEnd) {
    VideoMovie f({60, 60, 60});
    auto p = showVideo(f.movie);
    p->loop(true);
    EXPECT_TRUE(p->loop());
    Recorder rec;
    std::vector<uint32_t> drawn;
    rec.action = [&](uint32_t code) {
        if (code == kKelvoPresentationDraw) drawn.push_back(shown(*p));
    };
    rec.attach(*p);
    p->autoIdlingEnabled(true);
    p->Play(1.0);
    platform::runFor(0.75);
    EXPECT_EQ(rec.idleTimes(), (std::vector<double>{60, 120, 0, 60, 120, 0, 60}));
    EXPECT_EQ(drawn, (std::vector<uint32_t>{frameColour(1), frameColour(2), frameColour(0), frameColour(1),
                                            frameColour(2), frameColour(0), frameColour(1)}));
    EXPECT_EQ(rec.count(kKelvoPresentationStop), 0);
    EXPECT_FALSE(p->isDone());
    p->Stop();
}

TEST_F(MoviePresentationsTest, VideoStatisticsCountFramesShown) {
    // Two seconds of 60-unit frames of 2048 bytes.
    VideoMovie f(std::vector<int64_t>(20, 60));
    auto p = showVideo<VideoProbe>(f.movie);
    bool on = true;
    p->statisticsEnabled(on);
    p->autoIdlingEnabled(true);
    p->Play(1.0);
    platform::runFor(0.55);
    // Less than a second: nothing measured yet; stopping starts the measure over.
    EXPECT_EQ(p->sampleRate(), 0.0);
    p->Stop();
    p->PlayTime(0);
    p->Play(1.0);
    platform::runFor(1.05);
    EXPECT_DOUBLE_EQ(p->sampleRate(), 9.0);
    EXPECT_DOUBLE_EQ(p->dataRate(), 10.0 * kWidth * kHeight * 4);
    p->Stop();
    EXPECT_EQ(p->sampleRate(), 0.0);
}

TEST_F(MoviePresentationsTest, VideoDeletedWhilePlayingOrFromItsOwnEventsLeavesNoTimer) {
    VideoMovie other({60, 60});
    {
        VideoMovie f({60, 60, 60});
        auto* p = showVideo(f.movie).release();
        p->autoIdlingEnabled(true);
        p->Play(1.0);
        platform::runFor(0.15);
        EXPECT_EQ(platform::installedTimerCount(), 1);
        delete p;
        EXPECT_EQ(platform::installedTimerCount(), 0);
        // Its next-task callback went with its timer.
        SetMovieRate(other.movie, fixed1);
        EXPECT_EQ(platform::runFor(0.2), 0);
        StopMovie(other.movie);
    }
    // Deleted by a receiver while it plays, or, with `replaced`, by the receiver of the 'STOP' that
    // replacing the playing movie sends: nothing of it is touched afterwards.
    struct Case {
        uint32_t code;
        int nth;
        bool replaced = false;
    };
    const Case cases[] = {{kKelvoPresentationIdle, 2},
                          {kKelvoPresentationDraw, 2},
                          {kKelvoPresentationStop, 1},
                          {kKelvoPresentationStart, 1},
                          {kKelvoPresentationStop, 1, true}};
    for (const Case& c : cases) {
        VideoMovie f({60, 60, 60});
        auto* p = showVideo(f.movie).release();
        Recorder rec;
        int seen = 0;
        rec.action = [&](uint32_t code) {
            if (code == c.code && ++seen == c.nth) {
                delete p;
                p = nullptr;
            }
        };
        rec.attach(*p);
        p->autoIdlingEnabled(true);
        p->Play(1.0);
        if (c.replaced) {
            Kelvo_Movie next(other.movie, false);
            p->initDataSource(next);
        } else {
            platform::runFor(1.0);
        }
        EXPECT_EQ(p, nullptr) << codeText(c.code) << c.replaced;
        EXPECT_EQ(platform::installedTimerCount(), 0) << codeText(c.code) << c.replaced;
        SetMovieRate(other.movie, fixed1);
        StopMovie(other.movie);
        delete p;
    }
}

TEST_F(MoviePresentationsTest, VideoPlaysInFullScreenUnderTheKeys) {
    const int32_t windows = platform::liveWindowCount();
    VideoMovie f({60, 60, 60, 60, 60});
    auto p = showVideo(f.movie);
    Recorder rec;
    rec.attach(*p);
    ASSERT_TRUE(p->autoIdlingEnabled(true));
    p->FullScreenStart(nullptr, true);
    ASSERT_TRUE(p->isFullScreen());
    WindowRef window = p->fullScreenWindow();
    // The middle of where the frame is shown on the screen.
    auto onScreen = [&] {
        const Kelvo_Rect& r = p->displayRect();
        return rgbAt(*p->displayBuffer(), r.left() + r.width() / 2, r.top() + r.height() / 2);
    };
    EXPECT_EQ(onScreen(), frameColour(0));

    // Space plays; the frames reach the screen by the timer; Space again stops.
    EXPECT_EQ(vpfixtures::sendInput(window, kKelvoKeySpace), noErr);
    EXPECT_TRUE(p->isPlaying());
    platform::runFor(0.25);
    EXPECT_EQ(onScreen(), frameColour(2));
    EXPECT_EQ(vpfixtures::sendInput(window, kKelvoKeySpace), noErr);
    EXPECT_FALSE(p->isPlaying());
    EXPECT_EQ(rec.count(kKelvoPresentationStart), 1);
    EXPECT_EQ(rec.count(kKelvoPresentationStop), 1);
    // Arrows and pages step through the movie's frames.
    const int32_t at = p->Time(kKelvoTimeCurrent);
    EXPECT_EQ(vpfixtures::sendInput(window, kKelvoKeyRightArrow), noErr);
    EXPECT_EQ(p->Time(kKelvoTimeCurrent), at + 60);
    EXPECT_EQ(onScreen(), frameColour(3));
    EXPECT_EQ(vpfixtures::sendInput(window, kKelvoKeyPageDown), noErr);
    EXPECT_EQ(onScreen(), frameColour(4));
    EXPECT_EQ(vpfixtures::sendInput(window, kKelvoKeyPageUp), noErr);
    EXPECT_EQ(onScreen(), frameColour(0));
    // Escape gives the screen back; the frame is shown where it was before.
    EXPECT_EQ(vpfixtures::sendInput(window, kKelvoKeyEscape), noErr);
    EXPECT_FALSE(p->isFullScreen());
    EXPECT_EQ(shown(*p), frameColour(0));

    // Deleting one that plays in full screen leaves no window and no timer.
    p->FullScreenStart(nullptr, true);
    p->Play(1.0);
    platform::runFor(0.1);
    p.reset();
    EXPECT_EQ(platform::liveWindowCount(), windows);
}

// Exporting steps through the movie's samples: each frame becomes a sample of a new movie file
// that ffmpeg reads back.
TEST_F(MoviePresentationsTest, VideoExportsEachFrameToANewMovieFile) {
    if (!haveMoviePeers()) GTEST_SKIP() << "ffmpeg or ffprobe missing";
    testsupport::ScratchDir dir("kmoviepresentations");
    const std::string file = dir.file("exported.mov");
    FSSpec spec{};
    FSPathMakeFSSpec(file.c_str(), &spec);
    VideoMovie f({60, 60, 60, 60, 60});
    auto p = showVideo(f.movie);
    Recorder rec;
    rec.attach(*p);
    Kelvo_ImgDescComp desc;
    desc.dataFormat(FOUR_CHAR_CODE("raw "));
    desc.qtDepth(32);
    desc.qtWidth(kWidth);
    desc.qtHeight(kHeight);
    desc.qtFrameDur() = 60;
    p->presentationToMovie(&spec, &desc, nullptr);
    ASSERT_EQ(p->Error(), 0);
    // Progress k / 5 for each frame, then 1.0.
    std::vector<Event> progress;
    for (const Event& e : rec.events)
        if (e.code == kKelvoPresentationMovieProgress) progress.push_back(e);
    const uint32_t mprg = kKelvoPresentationMovieProgress;
    EXPECT_EQ(
        progress,
        (std::vector<Event>{
            {mprg, 0.0, 0}, {mprg, 0.2, 0}, {mprg, 0.4, 0}, {mprg, 0.6, 0}, {mprg, 0.8, 0}, {mprg, 1.0, 0}}));
    EXPECT_EQ(p->Time(kKelvoTimeCurrent), 300);

    auto info = ffprobe(file, "-select_streams v:0 -count_frames -show_entries "
                              "stream=codec_type,width,height,nb_read_frames:format=duration");
    EXPECT_EQ(info["codec_type"], "video") << info["output"];
    EXPECT_EQ(info["width"], std::to_string(kWidth));
    EXPECT_EQ(info["height"], std::to_string(kHeight));
    EXPECT_EQ(info["nb_read_frames"], "5");
    EXPECT_NEAR(std::atof(info["duration"].c_str()), 0.5, 0.002);
    const std::string decoded = ffmpegFramesRGB(file);
    const size_t frameBytes = size_t(kWidth) * kHeight * 3;
    ASSERT_EQ(decoded.size(), frameBytes * 5);
    for (int k = 0; k < 5; ++k) {
        const size_t middle = k * frameBytes + (size_t(kHeight / 2) * kWidth + kWidth / 2) * 3;
        const uint32_t c = uint32_t(uint8_t(decoded[middle])) << 16 |
                           uint32_t(uint8_t(decoded[middle + 1])) << 8 | uint8_t(decoded[middle + 2]);
        EXPECT_EQ(c, frameColour(k)) << k;
    }
}

// A movie file that ffmpeg made plays its frames as ffmpeg decodes them, and its sound.
TEST_F(MoviePresentationsTest, AnFFmpegMoviePlaysItsFramesAndSound) {
    if (!haveMoviePeers()) GTEST_SKIP() << "ffmpeg or ffprobe missing";
    testsupport::ScratchDir dir("kmoviepresentations");
    const std::string file = ffmpegMovie(dir);
    const std::string frames = ffmpegFramesRGB(file);
    const size_t frameBytes = size_t(kWidth) * kHeight * 3;
    ASSERT_EQ(frames.size(), frameBytes * kFFmpegFrames);
    Kelvo_Movie movie(file.c_str());
    ASSERT_TRUE(movie.qtObjIsValid()) << movie.Error();

    Kelvo_MovieVideoPlay video;
    video.initDataSource(movie);
    ASSERT_TRUE(video.qtObjIsValid()) << video.Error();
    EXPECT_EQ(video.SampleDuration(), movie.duration() / kFFmpegFrames);
    EXPECT_EQ(video.SamplesCount(), kFFmpegFrames);
    auto rgbOf = [](const Kelvo_QDGWorldBuffer& buffer) {
        std::string rgb;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                const uint32_t c = rgbAt(buffer, x, y);
                rgb += {char(c >> 16), char(c >> 8), char(c)};
            }
        return rgb;
    };
    for (int k = 0; k < kFFmpegFrames; ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(video.SampleID(), k == 0 ? 1 : k);
        EXPECT_EQ(rgbOf(*video.dataSourceBuffer()), frames.substr(k * frameBytes, frameBytes));
        video.PlayAction(kKelvoPlayActionForward);
    }

    Kelvo_MovieSoundPlay sound(movie);
    ASSERT_TRUE(sound.qtObjIsValid()) << sound.Error();
    EXPECT_GT(sound.SamplesCount(), 1);
    Recorder rec;
    rec.attach(sound);
    sound.autoIdlingEnabled(true);
    sound.Play(1.0);
    platform::runFor(1.0);
    EXPECT_EQ(rec.events.front(), kStart);
    EXPECT_EQ(rec.events.back(), kStop);
    EXPECT_EQ(rec.idleTimes().back(), double(movie.duration()));
    EXPECT_TRUE(sound.isDone());
}
