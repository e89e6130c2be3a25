#include <gtest/gtest.h>

#include <vector>

#include "keying/keying.h"
#include "keying/wake_margin.h"
#include "sim_platform.h"

constexpr std::int64_t kUs = 1'000;
constexpr std::int64_t kMs = 1'000'000;

class Pause : public ::testing::Test {
protected:
    void SetUp() override {
        sim::Reset();
        AnchorPauses(sim::now);  // drops any chain an earlier test left
        // Settle the wake-up estimate an earlier test may have raised.
        for (int i = 0; i < 200; ++i) PauseMs(1);
        sim::sleepTargets.clear();
    }
};

TEST_F(Pause, CountsFromTheAnchorNotFromItsStart) {
    const std::int64_t minute = sim::now;
    AnchorPauses(minute);
    sim::now += 3 * kMs;  // what happened since the minute began
    PauseMs(100);
    EXPECT_EQ(sim::now, minute + 100 * kMs);
    sim::now += 2 * kMs;  // two slow line changes
    PauseMs(900);
    EXPECT_EQ(sim::now, minute + 1000 * kMs);
}

TEST_F(Pause, WakesEarlyAndFinishesOnTheClock) {
    const std::int64_t begin = sim::now;
    AnchorPauses(begin);
    PauseMs(500);
    ASSERT_EQ(sim::sleepTargets.size(), 1u);
    EXPECT_EQ(sim::sleepTargets[0], begin + 500 * kMs - kMinEarlyWakeNanoseconds);
    EXPECT_EQ(sim::now, begin + 500 * kMs);
}

TEST_F(Pause, EarlyWakeFollowsLatencyWithinBounds) {
    EXPECT_EQ(EarlyWakeNanoseconds(), kMinEarlyWakeNanoseconds);
    sim::wakeLatency = 120 * kUs;
    for (int i = 0; i < 3; ++i) PauseMs(10);
    const std::int64_t early = EarlyWakeNanoseconds();
    EXPECT_GT(early, 120 * kUs);
    EXPECT_LT(early, 200 * kUs);
    // The timer now wakes in time, and the pause still ends on its deadline.
    const std::int64_t begin = sim::now;
    AnchorPauses(begin);
    PauseMs(10);
    EXPECT_GE(sim::now, begin + 10 * kMs);
    EXPECT_LT(sim::now, begin + 10 * kMs + kUs);  // the simulated clock reads in 1 us steps
    // A machine that wakes 30 ms late cannot make the pauses spin longer
    // than the bound: they simply end late, and the next one catches up.
    sim::wakeLatency = 30 * kMs;
    for (int i = 0; i < 3; ++i) PauseMs(100);
    EXPECT_EQ(EarlyWakeNanoseconds(), kMaxEarlyWakeNanoseconds);
    // Once the latency is gone the estimate decays back.
    sim::wakeLatency = 0;
    for (int i = 0; i < 200; ++i) PauseMs(10);
    EXPECT_EQ(EarlyWakeNanoseconds(), kMinEarlyWakeNanoseconds);
}

TEST_F(Pause, LateStartsCatchUpWithinTheChain) {
    const std::int64_t begin = sim::now;
    AnchorPauses(begin);
    sim::now += 250 * kMs;  // held up past the whole pause
    PauseMs(100);
    EXPECT_TRUE(sim::sleepTargets.empty());  // already past its deadline: returns at once
    EXPECT_LT(sim::now, begin + 251 * kMs);
    PauseMs(900);
    EXPECT_EQ(sim::now, begin + 1000 * kMs);  // back on the grid
}

TEST_F(Pause, LongGapStartsANewChain) {
    const std::int64_t begin = sim::now;
    AnchorPauses(begin);
    PauseMs(100);
    sim::now += kChainBreakNanoseconds + kMs;
    const std::int64_t resumed = sim::now;
    PauseMs(100);
    EXPECT_GE(sim::now, resumed + 100 * kMs);
    EXPECT_LT(sim::now, resumed + 101 * kMs);
}

TEST_F(Pause, ZeroAndNegativeCountsPauseNothing) {
    const std::int64_t begin = sim::now;
    AnchorPauses(begin);
    PauseMs(0);
    PauseMs(-5);
    PauseMs(-2147483647 - 1);
    EXPECT_TRUE(sim::sleepTargets.empty());
    EXPECT_LT(sim::now, begin + kMs);
    PauseMs(10);  // and they do not move the chain
    EXPECT_EQ(sim::now, begin + 10 * kMs);
}

TEST_F(Pause, FirstPauseWithoutAnchorCountsFromNow) {
    AnchorPauses(sim::now - 2 * kChainBreakNanoseconds);  // a stale chain
    const std::int64_t begin = sim::now;
    PauseMs(1234);
    EXPECT_GE(sim::now, begin + 1234 * kMs);
    EXPECT_LT(sim::now, begin + 1235 * kMs);
}

struct WakeMarginCase {
    const char* what;
    std::vector<std::int64_t> late;  // lateness of one wake each, in turn, ns
    std::int64_t every;              // ns between the wakes
    std::int64_t after;              // ns after the last wake that the margin is asked for
    std::int64_t low, high;          // the margin expected, inclusive
};

TEST(WakeMargin, LearnsAHighPercentileWithinBoundAndBudget) {
    const std::int64_t second = 1'000'000'000;
    auto repeat = [](std::int64_t late, int count) { return std::vector<std::int64_t>(count, late); };
    auto join = [](std::vector<std::int64_t> a, const std::vector<std::int64_t>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const WakeMarginCase cases[] = {
        {"nothing noted yet", {}, second / 2, 0, kMinWakeMargin, kMinWakeMargin},
        {"a quiet timer", repeat(20 * kUs, 600), second / 2, 0, kMinWakeMargin, kMinWakeMargin},
        {"a host's tail: 0.5 % of the wakes 0.9 ms late", join(repeat(30 * kUs, 597), repeat(900 * kUs, 3)),
         second / 2, 0, 1125 * kUs, 1160 * kUs},
        {"under 0.1 % late is left to the spin's own tail", join(repeat(30 * kUs, 2398), repeat(900 * kUs, 2)),
         second / 20, 0, 62 * kUs, 62 * kUs},
        {"never beyond the bound", repeat(20 * kMs, 600), second / 2, 0, kMaxWakeMargin, kMaxWakeMargin},
        {"the budget: 20 wakes a second watch 0.15 ms each at most",
         join(repeat(30 * kUs, 2160), repeat(900 * kUs, 240)), second / 20, 0, 195 * kUs, 200 * kUs},
        {"a tail five minutes old is forgotten", join(repeat(900 * kUs, 120), repeat(30 * kUs, 720)), second / 2, 0,
         62 * kUs, 62 * kUs},
        {"and so is everything after five quiet minutes", repeat(900 * kUs, 120), second / 2, 6 * 60 * second,
         kMinWakeMargin, kMinWakeMargin},
    };
    for (const WakeMarginCase& c : cases) {
        WakeRecord record = EmptyWakeRecord();
        std::int64_t now = 1'000 * second + 7;  // off the minute
        for (std::int64_t late : c.late) {
            now += c.every;
            NoteWake(&record, now, late);
        }
        const std::int64_t margin = WakeMargin(record, now + c.after);
        EXPECT_GE(margin, c.low) << c.what;
        EXPECT_LE(margin, c.high) << c.what;
    }
}
