#include "PlatformClock.h"
#include "PlatformErrors.h"
#include "PlatformFixed.h"
#include "PlatformTimeBase.h"

#include <gtest/gtest.h>

namespace {

class TimeBaseEngineTest : public ::testing::Test {
  protected:
    void SetUp() override { tb = NewTimeBase(); }
    void TearDown() override { DisposeTimeBase(tb); }

    void bounds(int64_t start, int64_t stop, TimeScale scale) {
        TimeRecord a{platform::int64ToWide(start), scale, nullptr};
        TimeRecord b{platform::int64ToWide(stop), scale, nullptr};
        SetTimeBaseStartTime(tb, &a);
        SetTimeBaseStopTime(tb, &b);
    }
    TimeValue at600() { return GetTimeBaseTime(tb, 600, nullptr); }

    platform::ManualClock clock{5'000'000'000};
    platform::ScopedSystemClock scope{clock};
    TimeBase tb = nullptr;
};

} // namespace

TEST_F(TimeBaseEngineTest, NewTimeBaseDefaults) {
    ASSERT_NE(tb, nullptr);
    TimeRecord tr{};
    EXPECT_EQ(GetTimeBaseTime(tb, 0, &tr), 0);
    EXPECT_EQ(tr.scale, kTimeBaseDefaultScale);
    EXPECT_EQ(tr.base, tb);
    EXPECT_EQ(GetTimeBaseRate(tb), 0);
    GetTimeBaseStopTime(tb, 600, &tr);
    EXPECT_EQ(platform::wideToInt64(tr.value), kTimeBaseNoStopTime);
    EXPECT_EQ(GetTimeBaseMasterClock(tb), nullptr);
    EXPECT_EQ(GetTimeBaseMasterTimeBase(tb), nullptr);
    Boolean current = false, any = false;
    EXPECT_EQ(GetTimeBaseThreadAttachState(tb, &current, &any), noErr);
    EXPECT_TRUE(current);
    EXPECT_TRUE(any);
}

TEST_F(TimeBaseEngineTest, TimesAreExactAcrossScales) {
    SetTimeBaseValue(tb, 1, 600);
    EXPECT_EQ(GetTimeBaseTime(tb, 600, nullptr), 1);
    EXPECT_EQ(GetTimeBaseTime(tb, 1200, nullptr), 2);
    EXPECT_EQ(GetTimeBaseTime(tb, 1000, nullptr), 1); // 1.67 rounds down
    TimeRecord tr{};
    GetTimeBaseTime(tb, 0, &tr);
    EXPECT_EQ(tr.scale, 600); // the last scale given became the natural one
    SetTimeBaseValue(tb, 7, 3);
    EXPECT_EQ(GetTimeBaseTime(tb, 3, nullptr), 7);
    EXPECT_EQ(GetTimeBaseTime(tb, 0, &tr), 7);
    EXPECT_EQ(tr.scale, 3);
    SetTimeBaseValue(tb, 5, -1);
    EXPECT_EQ(GetMoviesError(), paramErr);
    EXPECT_EQ(GetTimeBaseTime(tb, 3, nullptr), 7);
}

TEST_F(TimeBaseEngineTest, RunsAtItsRateAndStopsAtTheEnd) {
    bounds(0, 6000, 600);
    SetTimeBaseRate(tb, fixed1);
    clock.advanceMilliseconds(5000);
    EXPECT_EQ(at600(), 3000);
    EXPECT_EQ(GetTimeBaseEffectiveRate(tb), fixed1);
    clock.advanceMilliseconds(6000);
    EXPECT_EQ(at600(), 6000);
    EXPECT_EQ(GetTimeBaseEffectiveRate(tb), 0);
    EXPECT_EQ(GetTimeBaseRate(tb), fixed1);
    // Reversed from the end, it runs back from there at once and stops at the start.
    SetTimeBaseRate(tb, -2 * fixed1);
    clock.advanceMilliseconds(1000);
    EXPECT_EQ(at600(), 4800);
    clock.advanceMilliseconds(10000);
    EXPECT_EQ(at600(), 0);
}

TEST_F(TimeBaseEngineTest, LoopAndPalindrome) {
    bounds(0, 6000, 600);
    SetTimeBaseRate(tb, fixed1);
    SetTimeBaseFlags(tb, loopTimeBase);
    clock.advanceMilliseconds(12000); // 7200 = one lap and 1200
    EXPECT_EQ(at600(), 1200);
    SetTimeBaseFlags(tb, loopTimeBase | palindromeLoopTimeBase);
    clock.advanceMilliseconds(10000); // 1200 + 6000: to the end and 1200 back
    EXPECT_EQ(at600(), 4800);
    EXPECT_EQ(GetTimeBaseEffectiveRate(tb), -fixed1);
    clock.advanceMilliseconds(9000); // 4800 - 5400: to the start and 600 forward
    EXPECT_EQ(at600(), 600);
    EXPECT_EQ(GetTimeBaseEffectiveRate(tb), fixed1);
    SetTimeBaseFlags(tb, 0);
    clock.advanceMilliseconds(20000);
    EXPECT_EQ(at600(), 6000);
}

TEST_F(TimeBaseEngineTest, StartTimeMovesATimeOutsideTheBounds) {
    SetTimeBaseRate(tb, fixed1);
    bounds(600, 1200, 600);
    EXPECT_EQ(at600(), 600);
    clock.advanceMilliseconds(500);
    EXPECT_EQ(at600(), 900);
}

TEST_F(TimeBaseEngineTest, MasterTimeBasesAndClocks) {
    TimeBase master = NewTimeBase();
    SetTimeBaseRate(master, 2 * fixed1);
    SetTimeBaseRate(tb, fixed1 / 2);
    SetTimeBaseMasterTimeBase(tb, master, nullptr);
    EXPECT_EQ(GetMoviesError(), noErr);
    EXPECT_EQ(GetTimeBaseMasterTimeBase(tb), master);
    clock.advanceMilliseconds(1000); // master +1200, slave +600
    EXPECT_EQ(GetTimeBaseTime(master, 600, nullptr), 1200);
    EXPECT_EQ(at600(), 600);
    EXPECT_EQ(GetTimeBaseEffectiveRate(tb), fixed1);
    // A stopped master stops its slave.
    SetTimeBaseRate(master, 0);
    clock.advanceMilliseconds(1000);
    EXPECT_EQ(at600(), 600);
    // A master chain must not loop back to the slave.
    SetTimeBaseMasterTimeBase(master, tb, nullptr);
    EXPECT_EQ(GetMoviesError(), paramErr);
    EXPECT_EQ(GetTimeBaseMasterTimeBase(master), nullptr);
    // Disposing of the master leaves the slave free-running from where it was.
    SetTimeBaseRate(master, fixed1);
    DisposeTimeBase(master);
    EXPECT_EQ(GetTimeBaseMasterTimeBase(tb), nullptr);
    clock.advanceMilliseconds(1000);
    EXPECT_EQ(at600(), 900);

    // A clock of its own, independent of the system clock.
    platform::ManualClock own(0);
    ComponentInstance ci = platform::openClock(&own);
    SetTimeBaseMasterClock(tb, reinterpret_cast<Component>(ci), nullptr);
    EXPECT_EQ(GetTimeBaseMasterClock(tb), ci);
    clock.advanceMilliseconds(1000);
    EXPECT_EQ(at600(), 900);
    own.advanceMilliseconds(2000);
    EXPECT_EQ(at600(), 1500);
    TimeRecord tr{};
    EXPECT_EQ(ClockGetTime(ci, &tr), noErr);
    EXPECT_EQ(platform::wideToInt64(tr.value), 2'000'000'000);
    EXPECT_EQ(tr.scale, kClockTimeScale);
    EXPECT_EQ(platform::closeClock(ci), noErr);
    EXPECT_EQ(GetTimeBaseMasterClock(tb), nullptr);
    EXPECT_EQ(at600(), 1500);
    EXPECT_EQ(ClockGetTime(ci, &tr), badComponentInstance);
}

TEST_F(TimeBaseEngineTest, RefusesUnknownTimeBases) {
    int bogus = 0;
    auto* fake = reinterpret_cast<TimeBase>(&bogus);
    EXPECT_EQ(GetTimeBaseTime(fake, 600, nullptr), 0);
    EXPECT_EQ(GetMoviesError(), paramErr);
    SetTimeBaseRate(fake, fixed1);
    EXPECT_EQ(GetMoviesError(), paramErr);
    SetTimeBaseMasterClock(tb, reinterpret_cast<Component>(&bogus), nullptr);
    EXPECT_EQ(GetMoviesError(), paramErr);
    SetTimeBaseStartTime(tb, nullptr);
    EXPECT_EQ(GetMoviesError(), paramErr);
    DisposeTimeBase(fake);
    EXPECT_EQ(GetMoviesError(), paramErr);
}

// A clock reading that shares no factor with a second leaves the fraction's denominator near
// 10^9, where saturation tests once overflowed.
TEST_F(TimeBaseEngineTest, ClockReadingsOfAnyNanosecondRunTheTimeBase) {
    clock.advanceNanoseconds(1);
    SetTimeBaseRate(tb, fixed1);
    clock.advanceNanoseconds(1'000'000'003);
    EXPECT_EQ(at600(), 600);
    EXPECT_EQ(GetTimeBaseEffectiveRate(tb), fixed1);
}
