#include "KelvoCoreIdling.h"
#include "PlatformClock.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

namespace {

class CountingIdler : public Kelvo_CoreIdler {
  public:
    explicit CountingIdler(const platform::Clock& clock) : _clock(clock) {}
    void idle() override {
        times.push_back(_clock.nowNanoseconds() / 1'000'000);
        if (onIdle) onIdle();
    }
    bool canIdleNow() override { return allowed; }
    bool _canChangeIdlingTimeNow() override { return changeable; }

    std::vector<int64_t> times; // milliseconds of the manual clock
    std::function<void()> onIdle;
    bool allowed = true;
    bool changeable = true;

  private:
    const platform::Clock& _clock;
};

class CoreIdlingTest : public ::testing::Test {
  protected:
    void TearDown() override { EXPECT_EQ(platform::installedTimerCount(), 0); }
    platform::ManualClock clock{1'000'000'000};
    platform::ScopedSystemClock scope{clock};
};

} // namespace

TEST_F(CoreIdlingTest, FiresAtOnceThenEveryPeriod) {
    CountingIdler idler(clock);
    idler.idlingTimeInMilliSec(40.0);
    EXPECT_TRUE(idler.autoIdlingEnabled(true));
    EXPECT_TRUE(idler.autoIdlingEnabled());
    EXPECT_EQ(platform::runOnce(), 1);
    platform::runFor(0.100);
    EXPECT_EQ(idler.times, (std::vector<int64_t>{1000, 1040, 1080}));
    EXPECT_EQ(*platform::eventLoopTimerInterval(idler.idlingTimer()), 0.040);
}

TEST_F(CoreIdlingTest, ChangingThePeriodChangesTheInterval) {
    CountingIdler idler(clock);
    idler.idlingTimeInMilliSec(40.0);
    idler.autoIdlingEnabled(true);
    platform::runOnce();
    clock.advanceMilliseconds(10);
    idler.idlingTimeInMilliSec(25.0); // next fire 25 ms from now, then every 25 ms
    platform::runFor(0.080);
    EXPECT_EQ(idler.times, (std::vector<int64_t>{1000, 1035, 1060, 1085}));
    EXPECT_EQ(idler.idlingTimeInMilliSec(), 25.0);
    // Ignored: not positive, NaN, unchanged, or refused by the subclass.
    for (double ms : {-5.0, 0.0, std::nan(""), 25.0}) {
        idler.idlingTimeInMilliSec(ms);
        EXPECT_EQ(idler.idlingTimeInMilliSec(), 25.0);
    }
    idler.changeable = false;
    idler.idlingTimeInMilliSec(10.0);
    EXPECT_EQ(idler.idlingTimeInMilliSec(), 25.0);
    EXPECT_EQ(*platform::eventLoopTimerInterval(idler.idlingTimer()), 0.025);
}

TEST_F(CoreIdlingTest, EnablingTwiceInstallsOneTimer) {
    CountingIdler idler(clock);
    idler.idlingTimeInMilliSec(10.0);
    EXPECT_TRUE(idler.autoIdlingEnabled(true));
    EventLoopTimerRef timer = idler.idlingTimer();
    EXPECT_TRUE(idler.autoIdlingEnabled(true));
    EXPECT_EQ(idler.idlingTimer(), timer);
    EXPECT_EQ(platform::installedTimerCount(), 1);
    // The protocol's slots answer for the same object.
    Kelvo_IdleProtocol& protocol = idler;
    EXPECT_TRUE(protocol.autoIdlingEnabled());
    EXPECT_EQ(protocol.idlingTimeInMilliSec(), 10.0);
    EXPECT_TRUE(protocol.autoIdlingEnabled(false)); // the stop succeeded
    EXPECT_FALSE(idler.autoIdlingEnabled());
    EXPECT_EQ(idler.idlingTimer(), nullptr);
}

TEST_F(CoreIdlingTest, ValidityAndTypeNames) {
    CountingIdler idler(clock);
    EXPECT_FALSE(idler.qtObjIsValid()); // period 0.0
    idler.idlingTimeInMilliSec(1.0);
    EXPECT_TRUE(idler.qtObjIsValid());
    EXPECT_STREQ(idler.qtObjName(), "Kelvo_CoreIdler");
    for (const char* name : {"Kelvo_IdleProtocol", "Kelvo_CoreIdler", "Kelvo_QTObj"})
        EXPECT_TRUE(idler.isA(name));
    EXPECT_FALSE(idler.isA("Kelvo_Region"));
    EXPECT_FALSE(idler.isA(nullptr));
}

TEST_F(CoreIdlingTest, TimerProcedureIdlesOnlyWillingProtocols) {
    CountingIdler idler(clock);
    idler.allowed = false;
    PresentationDefaultIdlingTimer(nullptr, static_cast<Kelvo_QTObj*>(&idler));
    EXPECT_TRUE(idler.times.empty());
    idler.allowed = true;
    PresentationDefaultIdlingTimer(nullptr, static_cast<Kelvo_QTObj*>(&idler));
    EXPECT_EQ(idler.times.size(), 1u);
    Kelvo_QTObj plain;
    PresentationDefaultIdlingTimer(nullptr, &plain); // not an idle protocol: nothing
    PresentationDefaultIdlingTimer(nullptr, nullptr);
}

TEST_F(CoreIdlingTest, FailedStartLeavesTheIdlerStopped) {
    struct BadPeriod : CountingIdler {
        using CountingIdler::CountingIdler;
        double idlingTimeInMilliSec() override { return -1.0; }
    } idler(clock);
    EXPECT_FALSE(idler.autoIdlingEnabled(true));
    EXPECT_EQ(idler.Error(), paramErr);
    EXPECT_FALSE(idler.autoIdlingEnabled());
    EXPECT_EQ(idler.idlingTimer(), nullptr);
}

TEST_F(CoreIdlingTest, AnIdlerMayDeleteItselfWhileIdling) {
    auto* idler = new CountingIdler(clock);
    idler->idlingTimeInMilliSec(5.0);
    idler->autoIdlingEnabled(true);
    int calls = 0;
    idler->onIdle = [&] {
        ++calls;
        delete idler; // its destructor removes the timer that is firing
    };
    platform::runFor(0.050);
    EXPECT_EQ(calls, 1);
}

TEST_F(CoreIdlingTest, DestroyingARunningIdlerRemovesItsTimer) {
    {
        CountingIdler idler(clock);
        idler.idlingTimeInMilliSec(5.0);
        idler.autoIdlingEnabled(true);
        EXPECT_EQ(platform::installedTimerCount(), 1);
    }
    EXPECT_EQ(platform::runFor(0.050), 0);
}
