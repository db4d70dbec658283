#include "PlatformClock.h"
#include "PlatformTimers.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace {

// Timers fire against a manual clock that only the test moves.
class TimersTest : public ::testing::Test {
  protected:
    void TearDown() override { EXPECT_EQ(platform::installedTimerCount(), 0); }
    platform::ManualClock clock{1'000'000'000};
    platform::ScopedSystemClock scope{clock};
};

struct Recorder {
    std::vector<int64_t> firedAt; // milliseconds of the manual clock
    std::function<void(EventLoopTimerRef)> onFire;
    platform::ManualClock* clock = nullptr;
};

void record(EventLoopTimerRef timer, void* userData) {
    auto* r = static_cast<Recorder*>(userData);
    r->firedAt.push_back(r->clock->nowNanoseconds() / 1'000'000);
    if (r->onFire) r->onFire(timer);
}

EventLoopTimerRef install(Recorder& r, double delay, double interval) {
    EventLoopTimerRef t = nullptr;
    EXPECT_EQ(InstallEventLoopTimer(GetMainEventLoop(), delay, interval, record, &r, &t), noErr);
    return t;
}

} // namespace

TEST_F(TimersTest, FiresAtOnceThenEveryInterval) {
    Recorder r;
    r.clock = &clock;
    EventLoopTimerRef t = install(r, 0.0, 0.040);
    EXPECT_EQ(platform::runOnce(), 1);
    EXPECT_EQ(platform::runOnce(), 0); // not due again yet
    EXPECT_EQ(platform::runFor(0.100), 2);
    EXPECT_EQ(r.firedAt, (std::vector<int64_t>{1000, 1040, 1080}));
    EXPECT_EQ(clock.nowNanoseconds(), 1'100'000'000);
    EXPECT_EQ(RemoveEventLoopTimer(t), noErr);
    EXPECT_EQ(RemoveEventLoopTimer(t), paramErr);
}

TEST_F(TimersTest, LateLoopKeepsPhaseWithoutBursts) {
    Recorder r;
    r.clock = &clock;
    EventLoopTimerRef t = install(r, 0.0, 0.040);
    platform::runOnce();
    clock.advanceMilliseconds(130); // three fire times missed
    EXPECT_EQ(platform::runOnce(), 1);
    EXPECT_NEAR(*platform::eventLoopTimerNextFire(t), 0.030, 1e-9); // next at 1160
    RemoveEventLoopTimer(t);
}

TEST_F(TimersTest, OneShotAndParkedTimers) {
    Recorder once, parked;
    once.clock = parked.clock = &clock;
    EventLoopTimerRef a = install(once, 0.010, 0.0);
    EventLoopTimerRef b = install(parked, kEventDurationForever, 0.010);
    platform::runFor(0.050);
    EXPECT_EQ(once.firedAt, (std::vector<int64_t>{1010}));
    EXPECT_TRUE(parked.firedAt.empty());
    EXPECT_TRUE(platform::isEventLoopTimerInstalled(a)); // a fired one-shot stays until removed
    EXPECT_EQ(SetEventLoopTimerNextFireTime(b, 0.005), noErr);
    platform::runFor(0.030);
    EXPECT_EQ(parked.firedAt, (std::vector<int64_t>{1055, 1065, 1075}));
    RemoveEventLoopTimer(a);
    RemoveEventLoopTimer(b);
}

TEST_F(TimersTest, IntervalChangeAndRearmFromCallback) {
    Recorder r;
    r.clock = &clock;
    EventLoopTimerRef t = install(r, 0.0, 0.040);
    r.onFire = [&](EventLoopTimerRef self) {
        if (r.firedAt.size() == 2) SetEventLoopTimerNextFireTime(self, 0.005);
    };
    platform::runFor(0.050);
    // Re-armed from its own procedure: the new time holds, the interval resumes after it.
    EXPECT_EQ(r.firedAt, (std::vector<int64_t>{1000, 1040, 1045}));
    EXPECT_EQ(platform::setEventLoopTimerInterval(t, 0.010), noErr); // next fire stays at 1085
    platform::runFor(0.050);
    EXPECT_EQ(r.firedAt, (std::vector<int64_t>{1000, 1040, 1045, 1085, 1095}));
    RemoveEventLoopTimer(t);
}

TEST_F(TimersTest, CallbacksMayAddAndRemoveTimers) {
    Recorder first, second, third;
    first.clock = second.clock = third.clock = &clock;
    EventLoopTimerRef b = nullptr, c = nullptr;
    // Both are due now and fire in installation order: the first removes the second before its
    // turn, installs a third (which waits for the next pass although it is due at once), and
    // removes itself.
    first.onFire = [&](EventLoopTimerRef self) {
        RemoveEventLoopTimer(b);
        c = install(third, 0.0, 0.0);
        RemoveEventLoopTimer(self);
    };
    EventLoopTimerRef a = install(first, 0.0, 0.010);
    b = install(second, 0.0, 0.010);
    EXPECT_EQ(platform::runOnce(), 1);
    EXPECT_EQ(first.firedAt.size(), 1u);
    EXPECT_TRUE(second.firedAt.empty());
    EXPECT_TRUE(third.firedAt.empty());
    EXPECT_FALSE(platform::isEventLoopTimerInstalled(a));
    EXPECT_FALSE(platform::isEventLoopTimerInstalled(b));
    EXPECT_EQ(platform::runOnce(), 1);
    EXPECT_EQ(third.firedAt.size(), 1u);
    RemoveEventLoopTimer(c);
}

TEST_F(TimersTest, RefusesBadArguments) {
    EventLoopTimerRef t = reinterpret_cast<EventLoopTimerRef>(0x1);
    EXPECT_EQ(InstallEventLoopTimer(nullptr, 0, 1, record, nullptr, &t), paramErr);
    EXPECT_EQ(t, nullptr);
    EXPECT_EQ(InstallEventLoopTimer(GetMainEventLoop(), 0, 1, nullptr, nullptr, &t), paramErr);
    EXPECT_EQ(InstallEventLoopTimer(GetMainEventLoop(), 0, -1, record, nullptr, &t), paramErr);
    EXPECT_EQ(InstallEventLoopTimer(GetMainEventLoop(), 0, 0.0 / 0.0, record, nullptr, &t), paramErr);
    EXPECT_EQ(InstallEventLoopTimer(GetMainEventLoop(), 0, 1, record, nullptr, nullptr), paramErr);
    int notATimer = 0;
    EXPECT_EQ(RemoveEventLoopTimer(reinterpret_cast<EventLoopTimerRef>(&notATimer)), paramErr);
    EXPECT_EQ(SetEventLoopTimerNextFireTime(reinterpret_cast<EventLoopTimerRef>(&notATimer), 1), paramErr);
}

TEST(ManualClockTest, MovesOnlyForward) {
    platform::ManualClock c(500);
    c.advance(-1.0);
    c.advance(0.0 / 0.0);
    c.waitUntil(100);
    EXPECT_EQ(c.nowNanoseconds(), 500);
    c.advance(1e30);
    EXPECT_EQ(c.nowNanoseconds(), INT64_MAX);
    EXPECT_EQ(platform::secondsToNanoseconds(-1e30), INT64_MIN);
}
