#include "KelvoDataPresentation.h"
#include "PlatformClock.h"
#include "PlatformComponents.h"
#include "PlatformTimeBase.h"
#include "PlatformTimers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <algorithm>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace {

// A presentation of `samples` samples of `duration` units in `scale` units per second, on its
// own time controller: enough of a subclass to drive the base through the main loop.
class TestPresentation : public Kelvo_DataPresentation {
  public:
    TestPresentation(int32_t samples, int32_t duration, int32_t scale, bool withSource = true)
        : _samples(samples), _scale(scale) {
        if (withSource) _dataSource = &_source;
        _sampleDuration = duration;
        _initTimeController();
    }
    ~TestPresentation() override {
        if (_gone) *_gone = true;
    }

    // What the base decides, as a subclass sees it.
    Kelvo_TimeBase* timeBase() const { return _timeBase; }
    Kelvo_ProgressNotifier* progressNotifier() const { return _progressNotifier; }
    bool statisticsOn() const { return _statisticsEnabled != 0; }
    double dataRate() const { return _dataRate; }
    double sampleRate() const { return _sampleRate; }
    int32_t statisticsTime() const { return _statisticsTime; }
    void setSampleDuration(int32_t d) { _sampleDuration = d; }
    void setSamples(int32_t n) { _samples = n; }
    void callInitTimeController() { _initTimeController(); }

    void idle() override {
        if (!qtObjIsValid()) return;
        // The events' receiver may delete this presentation: nothing touches it afterwards.
        bool gone = false;
        _gone = &gone;
        double now = Time(kKelvoTimeCurrent);
        _eventsHandler.notifyEvent(kKelvoPresentationIdle, &now, 0);
        if (gone) return;
        _eventsHandler.notifyEvent(kKelvoPresentationDraw, nullptr, 0);
        if (gone) return;
        _gone = nullptr;
        if (_statisticsEnabled) statisticsUpdate();
        if (isDone()) Stop();
    }
    bool isDone() override { return !_timeBase || _timeBase->isDone(); }
    bool isPlaying() override { return _playing; }
    int32_t Time(int32_t kind) override {
        switch (kind) {
        case kKelvoTimeDuration:
            return _samples * _sampleDuration;
        case kKelvoTimeScale:
            return _scale;
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
        if (_statisticsEnabled) statisticsUpdate();
        _timeBase->rate(rate);
        _status = _timeBase->Error();
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
        _timeBase->currentTime(time);
        double now = Time(kKelvoTimeCurrent);
        _eventsHandler.notifyEvent(kKelvoPresentationIdle, &now, 0);
    }
    void statisticsReset() override {
        ++resets;
        Kelvo_DataPresentation::statisticsReset();
    }
    void statisticsUpdate() override {
        ++updates;
        _statisticsTime = Time(kKelvoTimeCurrent);
        _sampleRate = 25.0;
        _dataRate = 1000.0;
    }

    int updates = 0;
    int resets = 0;

  private:
    Kelvo_QTObj _source;
    int32_t _samples;
    int32_t _scale;
    bool _playing = false;
    bool* _gone = nullptr;
};

struct Event {
    uint32_t code;
    double time; // the current time an 'IDLE' carries, -1 for the others
    bool operator==(const Event&) const = default;
};

std::string codeText(uint32_t code) {
    return {char(code >> 24), char(code >> 16), char(code >> 8), char(code)};
}

void PrintTo(const Event& e, std::ostream* os) {
    *os << codeText(e.code) << "@" << e.time;
}

// Records every event; runs `action` (when set) after recording one.
struct Recorder {
    std::vector<Event> events;
    std::function<void(uint32_t)> action;

    static void callback(uint32_t code, void* data, int32_t, void* reference) {
        auto* self = static_cast<Recorder*>(reference);
        double t = code == kKelvoPresentationIdle && data ? *static_cast<double*>(data) : -1.0;
        self->events.push_back({code, t});
        if (self->action) self->action(code);
    }
    void attach(Kelvo_DataPresentation& p) { p.eventsHandler().setEventsHandler(&Recorder::callback, this); }

    std::vector<double> idleTimes() const {
        std::vector<double> times;
        for (const Event& e : events)
            if (e.code == kKelvoPresentationIdle) times.push_back(e.time);
        return times;
    }
};

class DataPresentationTest : public ::testing::Test {
  protected:
    void TearDown() override { EXPECT_EQ(platform::installedTimerCount(), 0); }
    platform::ManualClock clock{5'000'000'000};
    platform::ScopedSystemClock scope{clock};
};

} // namespace

TEST_F(DataPresentationTest, ANewPresentationIsInvalidUntilItHasADataSource) {
    TestPresentation none(10, 24, 600, false);
    EXPECT_FALSE(none.qtObjIsValid());
    EXPECT_STREQ(none.qtObjName(), "Kelvo_DataPresentation");
    for (const char* name :
         {"Kelvo_DataPresentation", "Kelvo_CoreIdler", "Kelvo_QTObj", "Kelvo_IdleProtocol"})
        EXPECT_TRUE(none.isA(name)) << name;
    EXPECT_FALSE(none.isA("Kelvo_Movie"));
    EXPECT_FALSE(none.isA(nullptr));
    EXPECT_EQ(none.SampleIDForTime(0), 0);
    EXPECT_FALSE(none.statisticsOn());
    EXPECT_FALSE(none.autoIdlingEnabled());
    EXPECT_FALSE(none.eventsHandler().qtObjIsValid());
    // An invalid presentation ignores a progress notifier.
    Kelvo_ProgressNotifier notifier([](double, void*, int32_t) {}, nullptr);
    none.Callback(&notifier);
    EXPECT_EQ(none.progressNotifier(), nullptr);

    TestPresentation p(10, 24, 600);
    EXPECT_TRUE(p.qtObjIsValid());
    EXPECT_EQ(p.Error(), 0);
    EXPECT_EQ(p.SampleDuration(), 24);
    EXPECT_EQ(p.statisticsTime(), 0);
    EXPECT_EQ(p.dataRate(), 0.0);
    EXPECT_EQ(p.sampleRate(), 0.0);
}

TEST_F(DataPresentationTest, TheTimeControllerSpansTheDurationOnTheSystemClock) {
    TestPresentation p(10, 24, 600);
    ASSERT_NE(p.timeBase(), nullptr);
    EXPECT_EQ(p.Error(), 0);
    std::unique_ptr<Kelvo_TimeRange64> range(p.timeBase()->timeInfo());
    ASSERT_NE(range, nullptr);
    EXPECT_EQ(range->start(), 0.0);
    EXPECT_EQ(range->duration(), 240.0);
    EXPECT_EQ(range->scale(), 600);
    // The master clock is the system clock: the time moves with it at the rate set.
    EXPECT_EQ(p.Time(kKelvoTimeCurrent), 0);
    p.timeBase()->rate(1.0);
    clock.advanceMilliseconds(100);
    EXPECT_EQ(p.Time(kKelvoTimeCurrent), 60);
    clock.advanceMilliseconds(1000);
    EXPECT_EQ(p.Time(kKelvoTimeCurrent), 240); // held at the stop time

    // The clock it opened goes with the presentation.
    {
        auto* owner = new TestPresentation(10, 24, 600);
        ComponentInstance master =
            GetTimeBaseMasterClock(static_cast<TimeBase>(owner->timeBase()->qtObjReference()));
        ASSERT_NE(master, nullptr);
        EXPECT_TRUE(platform::isClockInstance(master));
        delete owner;
        EXPECT_FALSE(platform::isClockInstance(master));
    }

    // A second call keeps the time base it has.
    Kelvo_TimeBase* first = p.timeBase();
    p.callInitTimeController();
    EXPECT_EQ(p.timeBase(), first);

    // One sample, or none, gets no time controller; nor do loop and palindrome.
    for (int32_t samples : {0, 1}) {
        TestPresentation still(samples, 24, 600);
        EXPECT_EQ(still.timeBase(), nullptr);
        still.loop(true);
        still.palindrome(true);
        EXPECT_FALSE(still.loop());
        EXPECT_FALSE(still.palindrome());
    }
}

// Without the system's clock component there is no time controller, and the presentation says
// why. Taking the clock out of the catalogue cannot be undone, so it happens in a child process.
static int presentWithoutTheClock() {
    ComponentDescription d{clockComponentType, systemMicrosecondClock, 0, 0, 0};
    Component micr = FindNextComponent(nullptr, &d);
    if (!micr || platform::unregisterComponent(micr) != noErr) return 2;
    TestPresentation p(10, 24, 600);
    if (p.timeBase() != nullptr || p.Error() == 0 || p.loop()) return 3;
    // Everything that needs no time base still answers.
    if (!p.qtObjIsValid() || p.SampleIDForTime(48) != 2 || p.idlingTimeInMilliSec() != 40.0) return 4;
    return 0;
}

TEST_F(DataPresentationTest, AMissingClockLeavesNoTimeController) {
    EXPECT_EXIT(std::exit(presentWithoutTheClock()), ::testing::ExitedWithCode(0), "");
}

TEST_F(DataPresentationTest, TheIdlingPeriodComesFromWholeSamplesPerSecond) {
    struct Case {
        int32_t scale, duration;
        double period;
    };
    const Case cases[] = {
        {600, 24, 40.0},
        {1000, 33, 1000.0 / 30.0}, // 30 whole samples a second, not 1000 / 33
        {600, 600, 1000.0},
        {30, 1, 1000.0 / 30.0},
        {600, 0, 0.0},
        {600, -24, 0.0},
        {0, 24, 0.0},
        {-600, 24, 0.0},
        // Samples longer than a second: one tick per sample.
        {600, 1200, 2000.0},
        {1, 3, 3000.0},
    };
    for (const Case& c : cases) {
        TestPresentation p(10, c.duration, c.scale);
        EXPECT_DOUBLE_EQ(p.idlingTimeInMilliSec(), c.period) << c.scale << "/" << c.duration;
        EXPECT_TRUE(std::isfinite(p.idlingTimeInMilliSec()));
    }

    // Once known, the period stays whatever the sample duration becomes; the idler's setter
    // changes it.
    TestPresentation p(10, 24, 600);
    EXPECT_EQ(p.idlingTimeInMilliSec(), 40.0);
    p.setSampleDuration(60);
    EXPECT_EQ(p.idlingTimeInMilliSec(), 40.0);
    p.idlingTimeInMilliSec(100.0);
    EXPECT_EQ(p.idlingTimeInMilliSec(), 100.0);
    EXPECT_EQ(static_cast<Kelvo_IdleProtocol&>(p).idlingTimeInMilliSec(), 100.0);
}

// A timer armed before the sample duration was known takes the period once it is worked out,
// instead of firing once and falling silent.
TEST_F(DataPresentationTest, APeriodWorkedOutLaterRetimesTheTimer) {
    TestPresentation p(10, 24, 600);
    p.setSampleDuration(0);
    ASSERT_TRUE(p.autoIdlingEnabled(true));
    EXPECT_EQ(*platform::eventLoopTimerInterval(p.idlingTimer()), 0.0);
    p.setSampleDuration(24);
    EXPECT_EQ(p.idlingTimeInMilliSec(), 40.0);
    EXPECT_EQ(*platform::eventLoopTimerInterval(p.idlingTimer()), 0.040);
    Recorder rec;
    rec.attach(p);
    p.Play(1.0);
    platform::runFor(0.1);
    EXPECT_EQ(rec.idleTimes(), (std::vector<double>{24, 48}));
    p.Stop();
}

TEST_F(DataPresentationTest, SampleIDForTimeCountsFromOneWithAFirstSampleOfTwoDurations) {
    TestPresentation p(10, 24, 600);
    struct Case {
        int32_t time, id;
    };
    const Case cases[] = {{-1, 0}, {0, 1},  {1, 1},   {23, 1},   {24, 1},   {47, 1},      {48, 2},
                          {71, 2}, {72, 3}, {239, 9}, {240, 10}, {264, 10}, {100000, 10}, {INT32_MIN, 0}};
    for (const Case& c : cases)
        EXPECT_EQ(p.SampleIDForTime(c.time), c.id) << c.time;

    // Time 0 is sample 1 even with nothing counted; later times are clamped to the count.
    p.setSamples(0);
    EXPECT_EQ(p.SampleIDForTime(0), 1);
    EXPECT_EQ(p.SampleIDForTime(100), 0);
    // Without a sample duration only time 0 has a sample.
    p.setSamples(10);
    p.setSampleDuration(0);
    EXPECT_EQ(p.SampleIDForTime(0), 1);
    EXPECT_EQ(p.SampleIDForTime(5), 0);

    // SampleID is the sample at the current time.
    p.setSampleDuration(24);
    for (int32_t t : {0, 47, 48, 130, 240}) {
        p.PlayTime(t);
        EXPECT_EQ(p.SampleID(), p.SampleIDForTime(t)) << t;
    }
}

TEST_F(DataPresentationTest, AutoIdlingNeedsTwoSamples) {
    for (int32_t samples : {0, 1}) {
        TestPresentation p(samples, 24, 600);
        EXPECT_FALSE(p.autoIdlingEnabled(true));
        EXPECT_FALSE(p.autoIdlingEnabled());
        EXPECT_EQ(p.idlingTimer(), nullptr);
        EXPECT_EQ(platform::installedTimerCount(), 0);
    }

    TestPresentation p(2, 24, 600);
    EXPECT_TRUE(p.autoIdlingEnabled(true));
    EXPECT_TRUE(p.autoIdlingEnabled());
    ASSERT_NE(p.idlingTimer(), nullptr);
    EXPECT_EQ(*platform::eventLoopTimerInterval(p.idlingTimer()), 0.040);
    EXPECT_EQ(platform::installedTimerCount(), 1);
    // A running timer can be stopped even once the samples are gone.
    p.setSamples(1);
    EXPECT_TRUE(p.autoIdlingEnabled(false));
    EXPECT_FALSE(p.autoIdlingEnabled());
    EXPECT_EQ(platform::installedTimerCount(), 0);
    // Through the idle protocol's slot as the companion plug-in calls it.
    p.setSamples(5);
    EXPECT_TRUE(static_cast<Kelvo_IdleProtocol&>(p).autoIdlingEnabled(true));
    EXPECT_TRUE(static_cast<Kelvo_IdleProtocol&>(p).autoIdlingEnabled());
    EXPECT_TRUE(p.autoIdlingEnabled(false));
}

TEST_F(DataPresentationTest, PlaysThroughTheMainLoopAndStopsAtTheEnd) {
    TestPresentation p(10, 24, 600);
    Recorder rec;
    rec.attach(p);
    ASSERT_TRUE(p.autoIdlingEnabled(true));
    // Not playing: the timer fires but nothing idles.
    platform::runFor(0.2);
    EXPECT_TRUE(rec.events.empty());
    EXPECT_FALSE(p.canIdleNow());

    // Playing from the next turn of the loop: the timer's first fire comes at once.
    EXPECT_TRUE(p.autoIdlingEnabled(false));
    p.Play(1.0);
    EXPECT_TRUE(p.canIdleNow());
    ASSERT_TRUE(p.autoIdlingEnabled(true));
    platform::runFor(0.6);
    std::vector<Event> expected{{kKelvoPresentationStart, -1}};
    // Ticks every 40 ms, 24 units of 600 a tick, from the start to the stop time.
    for (int k = 0; k <= 10; ++k) {
        expected.push_back({kKelvoPresentationIdle, 24.0 * k});
        expected.push_back({kKelvoPresentationDraw, -1});
    }
    expected.push_back({kKelvoPresentationStop, -1});
    EXPECT_EQ(rec.events, expected);
    EXPECT_FALSE(p.isPlaying());
    EXPECT_TRUE(p.isDone());
    EXPECT_EQ(p.SampleID(), 10);

    // Playing again from the end starts over.
    rec.events.clear();
    p.Play(1.0);
    ASSERT_GE(rec.events.size(), 2u);
    EXPECT_EQ(rec.events[0], (Event{kKelvoPresentationIdle, 0.0}));
    EXPECT_EQ(rec.events[1], (Event{kKelvoPresentationStart, -1}));
    platform::runFor(0.1);
    p.Stop();
    EXPECT_EQ(rec.events.back(), (Event{kKelvoPresentationStop, -1}));
    // Without a callback nothing is sent, and playing goes on as before.
    p.eventsHandler().setEventsHandler(nullptr, nullptr);
    rec.events.clear();
    p.Play(1.0);
    platform::runFor(0.1);
    EXPECT_TRUE(p.isPlaying());
    EXPECT_TRUE(rec.events.empty());
}

TEST_F(DataPresentationTest, LoopAndPalindromeFollowTheTimeBase) {
    struct Case {
        bool loop, palindrome;
        std::vector<double> times;
    };
    const Case cases[] = {
        // 10 samples of 24: the time line wraps round at 240, or runs back from it.
        {true, false, {0, 24, 48, 72, 96, 120, 144, 168, 192, 216, 0, 24, 48, 72}},
        {true, true, {0, 24, 48, 72, 96, 120, 144, 168, 192, 216, 240, 216, 192, 168}},
    };
    for (const Case& c : cases) {
        TestPresentation p(10, 24, 600);
        p.loop(c.loop);
        p.palindrome(c.palindrome);
        EXPECT_EQ(p.loop(), c.loop);
        EXPECT_EQ(p.palindrome(), c.palindrome);
        Recorder rec;
        rec.attach(p);
        p.autoIdlingEnabled(true);
        p.Play(1.0);
        platform::runFor(0.53);
        EXPECT_EQ(rec.idleTimes(), c.times) << c.palindrome;
        EXPECT_TRUE(p.isPlaying());
        EXPECT_FALSE(p.isDone());
        p.loop(false);
        p.palindrome(false);
        EXPECT_FALSE(p.loop());
        EXPECT_FALSE(p.palindrome());
    }
}

TEST_F(DataPresentationTest, PlayActionsStepBySample) {
    TestPresentation p(10, 24, 600);
    struct Step {
        int32_t action, time, sample;
    };
    // From time 100: forward, forward, back, end, forward (held), start, back (held), unknown.
    const Step steps[] = {{4, 124, 5}, {4, 148, 6}, {3, 124, 5}, {2, 240, 10}, {4, 240, 10},
                          {1, 0, 1},   {3, 0, 1},   {0, 0, 1},   {7, 0, 1}};
    p.PlayTime(100);
    for (const Step& s : steps) {
        p.PlayAction(s.action);
        EXPECT_EQ(p.Time(kKelvoTimeCurrent), s.time) << s.action;
        EXPECT_EQ(p.SampleID(), s.sample) << s.action;
    }
    EXPECT_EQ(p.Time(5), 0);
}

TEST_F(DataPresentationTest, StatisticsSwitchOnlyOnAChange) {
    TestPresentation p(10, 24, 600);
    bool on = false;
    p.statisticsEnabled(on); // already off: nothing
    EXPECT_EQ(p.resets + p.updates, 0);
    on = true;
    p.statisticsEnabled(on); // not playing: stored, no update
    EXPECT_TRUE(p.statisticsOn());
    EXPECT_EQ(p.updates, 0);
    p.statisticsEnabled(on); // unchanged
    EXPECT_EQ(p.updates, 0);

    p.autoIdlingEnabled(true);
    p.Play(1.0); // playing with statistics updates them, and so does every tick
    EXPECT_EQ(p.updates, 1);
    platform::runFor(0.1);
    EXPECT_EQ(p.updates, 4);
    EXPECT_EQ(p.sampleRate(), 25.0);
    EXPECT_EQ(p.statisticsTime(), 48);

    on = false;
    p.statisticsEnabled(on); // off: reset
    EXPECT_EQ(p.resets, 1);
    EXPECT_EQ(p.statisticsTime(), 0);
    EXPECT_EQ(p.dataRate(), 0.0);
    EXPECT_EQ(p.sampleRate(), 0.0);
    platform::runFor(0.1);
    EXPECT_EQ(p.updates, 4);

    on = true;
    p.statisticsEnabled(on); // on while playing: an update at once
    EXPECT_EQ(p.updates, 5);
    EXPECT_EQ(p.resets, 1);
    p.Stop();
}

TEST_F(DataPresentationTest, TheProgressNotifierIsAnOwnedCopy) {
    TestPresentation p(10, 24, 600);
    int calls = 0;
    auto* notifier =
        new Kelvo_ProgressNotifier([](double, void* ref, int32_t) { ++*static_cast<int*>(ref); }, &calls);
    p.Callback(notifier);
    EXPECT_EQ(p.Error(), 0);
    ASSERT_NE(p.progressNotifier(), nullptr);
    EXPECT_NE(p.progressNotifier(), notifier);
    delete notifier; // the copy outlives the caller's notifier
    p.progressNotifier()->Call(0.5, 0);
    EXPECT_EQ(calls, 1);
    // Null clears it.
    p.Callback(nullptr);
    EXPECT_EQ(p.progressNotifier(), nullptr);
    EXPECT_EQ(p.Error(), 0);
}

TEST_F(DataPresentationTest, DeletingAPlayingPresentationRemovesItsTimer) {
    auto* p = new TestPresentation(10, 24, 600);
    p->autoIdlingEnabled(true);
    p->Play(1.0);
    platform::runFor(0.05);
    EXPECT_EQ(platform::installedTimerCount(), 1);
    delete p;
    EXPECT_EQ(platform::installedTimerCount(), 0);
    EXPECT_EQ(platform::runFor(0.2), 0);
}

TEST_F(DataPresentationTest, DeletingFromInsideItsOwnEventLeavesNoTimer) {
    // On the third tick's 'IDLE', on its 'DRAW', and on the 'STOP' sent at the end.
    struct Case {
        uint32_t code;
        int nth;
    };
    const Case cases[] = {
        {kKelvoPresentationIdle, 3}, {kKelvoPresentationDraw, 1}, {kKelvoPresentationStop, 1}};
    for (const Case& c : cases) {
        auto* p = new TestPresentation(4, 24, 600);
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
        platform::runFor(1.0);
        EXPECT_EQ(p, nullptr) << codeText(c.code);
        EXPECT_EQ(platform::installedTimerCount(), 0) << codeText(c.code);
        EXPECT_EQ(rec.events.back().code, c.code);
        delete p;
    }
}
