#include "KelvoCoreObjectsTimeBase.h"
#include "PlatformClock.h"
#include "PlatformErrors.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

namespace {

class CoreTimeBaseTest : public ::testing::Test {
  protected:
    static Kelvo_TimeRange64 range(int32_t scale, double start, double duration) {
        Kelvo_TimeRange64 r(start, duration);
        r.scale() = scale;
        return r;
    }
    platform::ManualClock clock{2'000'000'000};
    platform::ScopedSystemClock scope{clock};
};

} // namespace

TEST_F(CoreTimeBaseTest, BuiltFromARange) {
    Kelvo_TimeBase tb(range(600, 0, 6000));
    ASSERT_TRUE(tb.qtObjIsValid());
    TimeRecord stop{};
    EXPECT_EQ(GetTimeBaseStopTime(tb, 600, &stop), 6000);
    EXPECT_EQ(stop.scale, 600);
    std::unique_ptr<Kelvo_TimeRange64> info(tb.timeInfo());
    ASSERT_TRUE(info);
    EXPECT_EQ(info->start(), 0.0);
    EXPECT_EQ(info->duration(), 6000.0);
    EXPECT_EQ(info->scale(), 600);
    // A new range replaces the bounds and the scale.
    Kelvo_TimeRange64 other = range(1000, 500, 1500);
    tb.timeInfo(&other);
    EXPECT_EQ(tb.timeScale(), 1000);
    EXPECT_EQ(tb.currentTime(), 500);
    tb.timeInfo(nullptr);
    EXPECT_EQ(tb.Error(), -108);
}

TEST_F(CoreTimeBaseTest, PlaysToTheStopTimeAndStops) {
    Kelvo_TimeBase tb(range(600, 0, 6000));
    tb.rate(1.0);
    EXPECT_EQ(tb.rate(), 1.0);
    clock.advanceMilliseconds(5000);
    EXPECT_EQ(tb.currentTime(), 3000);
    EXPECT_FALSE(tb.isDone());
    EXPECT_EQ(tb.effectiveRate(), 1.0);
    clock.advanceMilliseconds(6000);
    EXPECT_EQ(tb.currentTime(), 6000);
    EXPECT_TRUE(tb.isDone());
    EXPECT_EQ(tb.effectiveRate(), 0.0);
    tb.currentTime(1200);
    EXPECT_FALSE(tb.isDone());
    EXPECT_EQ(tb.Error(), 0);
}

TEST_F(CoreTimeBaseTest, LoopAndPalindrome) {
    Kelvo_TimeBase tb(range(600, 0, 6000));
    tb.rate(1.0);
    tb.loop(true);
    tb.loop(true); // the bit is toggled once
    EXPECT_EQ(GetTimeBaseFlags(tb), loopTimeBase);
    EXPECT_TRUE(tb.loop());
    EXPECT_FALSE(tb.palindrome());
    clock.advanceMilliseconds(12000);
    EXPECT_EQ(tb.currentTime(), 1200);
    tb.currentTime(6000);
    EXPECT_FALSE(tb.isDone()); // never done while looping
    tb.currentTime(1200);
    tb.palindrome(true);
    EXPECT_EQ(GetTimeBaseFlags(tb), loopTimeBase | palindromeLoopTimeBase);
    clock.advanceMilliseconds(10000);
    EXPECT_EQ(tb.currentTime(), 4800); // to the end and back
    EXPECT_EQ(tb.effectiveRate(), -1.0);
    tb.loop(false);
    clock.advanceMilliseconds(60000);
    EXPECT_EQ(tb.currentTime(), 6000);
    EXPECT_TRUE(tb.isDone());
}

TEST_F(CoreTimeBaseTest, MasterTimeBase) {
    Kelvo_TimeBase master, slave;
    EXPECT_EQ(slave.timeMaster(), nullptr); // free-running
    master.rate(2.0);
    slave.rate(1.0);
    slave += master;
    EXPECT_EQ(slave.Error(), 0);
    clock.advanceMilliseconds(1000);
    EXPECT_EQ(slave.currentTime(), 1200);
    EXPECT_EQ(slave.effectiveRate(), 2.0);
    std::unique_ptr<Kelvo_QTObj> m(slave.timeMaster());
    ASSERT_TRUE(m);
    ASSERT_TRUE(m->isA("Kelvo_TimeBase"));
    EXPECT_EQ(m->qtObjReference(), static_cast<TimeBase>(master));
    m.reset(); // not owned: the master lives on
    EXPECT_EQ(master.rate(), 2.0);
    EXPECT_EQ(GetMoviesError(), noErr);
    Kelvo_TimeBase invalid(nullptr, false);
    slave.attachTimeBase(invalid);
    EXPECT_EQ(slave.Error(), kKelvoBadArgumentObject);
    master += slave; // a loop of masters is refused
    EXPECT_EQ(master.Error(), paramErr);
}

TEST_F(CoreTimeBaseTest, MasterClockStaysOpenAfterItsWrapperGoes) {
    platform::ManualClock own(0);
    ComponentInstance ci = platform::openClock(&own);
    Kelvo_TimeBase tb;
    tb.rate(1.0);
    {
        Kelvo_Clock clock(ci, 1, 0);
        tb += clock;
        EXPECT_EQ(tb.Error(), 0);
    }
    EXPECT_TRUE(platform::isClockInstance(ci));
    own.advanceMilliseconds(500);
    EXPECT_EQ(tb.currentTime(), 300);
    std::unique_ptr<Kelvo_QTObj> m(tb.timeMaster());
    ASSERT_TRUE(m);
    EXPECT_TRUE(m->isA("Kelvo_Clock"));
    EXPECT_TRUE(m->isA("Kelvo_Component"));
    m.reset();
    EXPECT_TRUE(platform::isClockInstance(ci));
    // A clock that owns its instance closes it, and its time bases run free again.
    { Kelvo_Clock owner(ci, 1, 1); }
    EXPECT_FALSE(platform::isClockInstance(ci));
    EXPECT_EQ(tb.timeMaster(), nullptr);
    clock.advanceMilliseconds(500);
    EXPECT_EQ(tb.currentTime(), 600);
    // An invalid clock is not attached.
    Kelvo_Clock none(nullptr, 1, 1);
    tb.attachClock(none);
    EXPECT_EQ(tb.timeMaster(), nullptr);
}

TEST_F(CoreTimeBaseTest, InvalidTimeBasesAnswerNeutralValues) {
    Kelvo_TimeBase fromNull(static_cast<Movie>(nullptr));
    int bogus = 0;
    Kelvo_TimeBase fromMovie(reinterpret_cast<Movie>(&bogus)); // no movie layer yet
    for (Kelvo_TimeBase* tb : {&fromNull, &fromMovie}) {
        EXPECT_FALSE(tb->qtObjIsValid());
        EXPECT_TRUE(tb->isDone());
        EXPECT_EQ(tb->currentTime(), -1);
        EXPECT_EQ(tb->rate(), 0.0);
        EXPECT_EQ(tb->effectiveRate(), 0.0);
        EXPECT_FALSE(tb->loop());
        EXPECT_EQ(tb->timeInfo(), nullptr);
        EXPECT_EQ(tb->timeMaster(), nullptr);
        EXPECT_FALSE(tb->isAttachedToAnyThread());
    }
}

TEST_F(CoreTimeBaseTest, AdoptedTimeBasesAndThreads) {
    TimeBase raw = NewTimeBase();
    SetTimeBaseValue(raw, 30, 30);
    {
        Kelvo_TimeBase adopted(raw, false);
        EXPECT_EQ(adopted.timeScale(), 30);
        EXPECT_EQ(adopted.currentTime(), 30);
        EXPECT_TRUE(adopted.isAttachedToCurrentThread());
        bool elsewhere = true;
        std::thread([&] { elsewhere = adopted.isAttachedToCurrentThread(); }).join();
        EXPECT_FALSE(elsewhere);
        EXPECT_TRUE(adopted.isAttachedToAnyThread());
    }
    EXPECT_EQ(GetTimeBaseTime(raw, 30, nullptr), 30); // not owned: still there
    EXPECT_EQ(GetMoviesError(), noErr);
    Kelvo_TimeBase owner(raw, true);
}
