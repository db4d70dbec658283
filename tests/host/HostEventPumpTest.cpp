// The host's event loop: plug-ins register pumps, and running the loop calls each with the time
// to advance (a manual clock) or for passes while the time goes by (the steady clock).
#include "HostRuntime.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

namespace {

struct PumpCall {
    RBInteger advance;
    RBBoolean run;
};

std::vector<PumpCall> gFirstCalls;
std::vector<PumpCall> gSecondCalls;
RBBoolean gFirstManual = 2;

void firstPump(RBInteger advance, RBBoolean run) {
    gFirstCalls.push_back({advance, run});
}
void secondPump(RBInteger advance, RBBoolean run) {
    gSecondCalls.push_back({advance, run});
}

using Register = RBBoolean (*)(REALEventPump);

void firstEntry(REALresolver resolver) {
    auto reg = reinterpret_cast<Register>(resolver("REALRegisterEventPump"));
    ASSERT_NE(reg, nullptr);
    gFirstManual = reg(&firstPump);
    // Registering the same pump again keeps one.
    reg(&firstPump);
    EXPECT_EQ(reg(nullptr), 0);
}

void secondEntry(REALresolver resolver) {
    reinterpret_cast<Register>(resolver("REALRegisterEventPump"))(&secondPump);
}

class HostEventPumpTest : public ::testing::Test {
  protected:
    void SetUp() override {
        gFirstCalls.clear();
        gSecondCalls.clear();
        gFirstManual = 2;
    }
};

TEST_F(HostEventPumpTest, AManualClockAdvancesEveryPumpByTheTimeRun) {
    sylhost::HostRuntime host;
    host.useManualClock(true);
    host.loadLinkedPlugin("first", &firstEntry);
    host.loadLinkedPlugin("second", &secondEntry);
    EXPECT_EQ(gFirstManual, 1);
    EXPECT_EQ(host.eventPumpCount(), 2u);

    host.runEventLoop(250);
    host.runEventLoop(0);
    ASSERT_EQ(gFirstCalls.size(), 2u);
    ASSERT_EQ(gSecondCalls.size(), 2u);
    EXPECT_EQ(gFirstCalls[0].advance, 250);
    EXPECT_EQ(gFirstCalls[0].run, 1);
    EXPECT_EQ(gSecondCalls[0].advance, 250);
    // No time: one pass that only fires what is due.
    EXPECT_EQ(gFirstCalls[1].advance, 0);
    EXPECT_EQ(gSecondCalls[1].advance, 0);
}

TEST_F(HostEventPumpTest, TheSteadyClockPassesUntilTheTimeIsOver) {
    sylhost::HostRuntime host;
    host.loadLinkedPlugin("first", &firstEntry);
    EXPECT_EQ(gFirstManual, 0);
    const auto start = std::chrono::steady_clock::now();
    host.runEventLoop(30);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
    ASSERT_GE(gFirstCalls.size(), 2u);
    for (const auto& c : gFirstCalls) {
        EXPECT_EQ(c.advance, 0);
        EXPECT_EQ(c.run, 1);
    }
}

} // namespace
