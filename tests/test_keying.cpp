#include <gtest/gtest.h>

#include <gmock/gmock.h>

#include <string>

#include "keying/keying.h"
#include "stderr_matcher.h"
#include "sim_platform.h"

constexpr std::int64_t kMs = 1'000'000;

// Starts each test on a fresh simulated machine with an open line.
class Keying : public ::testing::Test {
protected:
    void SetUp() override {
        sim::Reset();
        Port = 2;
        Fudge = 100;
        DeriveDurations();
        PinOpen();
        AnchorPauses(sim::now);
        start = sim::now;
    }
    std::int64_t start = 0;
};

static DcfTime FirstExample() { return DcfTime{9, 12, 11, 5, 3, 24, 0, 0, 0, 0}; }

TEST_F(Keying, AssertsAndNegatesDtrBeforeRts) {
    PinPlus12();
    PinMinus12();
    ASSERT_EQ(sim::changes.size(), 4u);
    EXPECT_EQ(sim::changes[0].change, RAISE_DTR);
    EXPECT_EQ(sim::changes[1].change, RAISE_RTS);
    EXPECT_EQ(sim::changes[2].change, LOWER_DTR);
    EXPECT_EQ(sim::changes[3].change, LOWER_RTS);
    EXPECT_EQ(sim::openedName, "SIM2");
}

TEST_F(Keying, OneMinuteKeysTheFrameOnTheMillisecondGrid) {
    sim::lineLatency = kMs;  // a slow USB adapter: 1 ms per modem-line change
    OneMinute(FirstExample());
    // 59 pulses of four changes each, none at second 59, whose start
    // negates the already negated line once more.
    ASSERT_EQ(sim::changes.size(), 59u * 4 + 2);
    const std::string expected = "00000000000000000000100100100110000010001010101001100100000";
    for (int second = 0; second < 59; ++second) {
        const LineEvent* c = &sim::changes[second * 4];
        EXPECT_EQ(c[0].change, RAISE_DTR);
        EXPECT_EQ(c[1].change, RAISE_RTS);
        EXPECT_EQ(c[2].change, LOWER_DTR);
        EXPECT_EQ(c[3].change, LOWER_RTS);
        // The pauses count from their deadlines: line time never adds up.
        EXPECT_EQ(c[0].time, start + second * 1000 * kMs) << "second " << second;
        const std::int64_t width = c[2].time - c[0].time;
        EXPECT_EQ(width, expected[second] == '1' ? 200 * kMs : 100 * kMs) << "second " << second;
    }
    // Second 59 is one unbroken negated second; the minute ends on time.
    EXPECT_EQ(sim::changes[236].change, LOWER_DTR);
    EXPECT_EQ(sim::changes[237].change, LOWER_RTS);
    EXPECT_EQ(sim::now, start + 60'000 * kMs);
}

TEST_F(Keying, ZeroDurationsChangeNothing) {
    Fudge = 0;
    DeriveDurations();
    OneMinute(FirstExample());
    EXPECT_TRUE(sim::changes.empty());
    EXPECT_LT(sim::now - start, kMs);
}

TEST_F(Keying, NoShortPulseBelowHalfAUnit) {
    Fudge = 0.3;  // ms100 0, ms200 1, ms800 2, ms900 3, ms1000 3
    DeriveDurations();
    OneMinute(FirstExample());
    // Only the 1-symbols assert the line; the 0-symbols just negate.
    int raises = 0;
    for (const LineEvent& e : sim::changes) raises += e.change == RAISE_DTR;
    EXPECT_EQ(raises, 13);  // the ones in the first worked example
    EXPECT_EQ(sim::changes.size(), 13u * 4 + 46 * 2 + 2);
}

TEST_F(Keying, NegativeDurationsKeyWithoutPausing) {
    Fudge = -100;
    DeriveDurations();
    OneMinute(FirstExample());
    EXPECT_EQ(sim::changes.size(), 59u * 4 + 2);
    EXPECT_LT(sim::now - start, 10 * kMs);
}

using KeyingDeathTest = Keying;

TEST_F(KeyingDeathTest, FailingLineChangeEndsTheProcess) {
    sim::failingChange = 3;  // the first negation, inside PinMinus12
    sim::failingError = 0x1f;
    EXPECT_EXIT(OneMinute(FirstExample()), ::testing::ExitedWithCode(1),
                FailureLineIs("EscapeCommFunction", "0000001f"));
}

TEST_F(KeyingDeathTest, DtrAndRtsFailuresDifferOnlyInTheLineNumber) {
    std::string failures[4];
    for (int change = 1; change <= 4; ++change) {
        sim::failingChange = change;
        std::string& seen = failures[change - 1];
        EXPECT_EXIT(
            {
                PinPlus12();
                PinMinus12();
            },
            ::testing::ExitedWithCode(1), ::testing::Truly([&seen](const std::string& text) {
                seen = text;
                return text.find("Function EscapeCommFunction failed") != std::string::npos;
            }));
    }
    for (int i = 0; i < 4; ++i)
        for (int j = i + 1; j < 4; ++j) EXPECT_NE(failures[i], failures[j]) << i << " and " << j;
}

TEST(KeyingOpenDeathTest, OpenFailuresNameTheDeviceOrTheCall) {
    sim::Reset();
    Port = 7;
    sim::openFails = true;
    EXPECT_EXIT(PinOpen(), ::testing::ExitedWithCode(1), StderrIs("CreateFile failed: SIM7 (00000002)\n"));
    sim::openFails = false;
    sim::readFails = true;
    EXPECT_EXIT(PinOpen(), ::testing::ExitedWithCode(1),
                FailureLineIs("GetCommState", "00000005"));
    sim::readFails = false;
    sim::writeFails = true;
    EXPECT_EXIT(PinOpen(), ::testing::ExitedWithCode(1),
                FailureLineIs("SetCommState", "00000057"));
}
