#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "keying/keying.h"
#include "sim_platform.h"
#include "stretched_pause.h"

struct CalibrationCase {
    const char* what;
    double stretch;            // how long the pause really runs
    const char* factor;        // what the tool prints
    const char* deviation = "";  // and how far the pauses ran off, where given
};

// What the transmitter then makes of the printed factor.
static void DeriveFrom(const char* factor) {
    ASSERT_EQ(std::sscanf(factor, "%lf", &Fudge), 1);
    DeriveDurations();
}

TEST(Calibration, FactorBringsTheMinuteBackToSixtySeconds) {
    const CalibrationCase cases[] = {
        {"keeps time", 1.0, "100.0"},
        {"1 % long", 1.01, "99.0"},
        {"0.3 % short", 0.997, "100.3"},
        {"0.06 % long", 1.0006, "99.9"},
        {"0.04 % long: 1000 ms is still nearest", 1.0004, "100.0"},
        {"12 % long", 1.12, "89.3"},
        // Too little to show: no minus sign on a zero.
        {"0.00004 % short", 0.9999996, "100.0", "+0.0000 %"},
        {"0.0003 % short", 0.999997, "100.0", "-0.0003 %"},
    };
    for (const CalibrationCase& c : cases) {
        sim::Reset();
        pauseStretch = c.stretch;
        const double ratio = MeasurePauseRatio(30, nullptr);
        EXPECT_NEAR(ratio, c.stretch, 1e-6) << c.what;
        char printed[32];
        std::snprintf(printed, sizeof printed, "%.1f", FactorForPauseRatio(ratio));
        EXPECT_STREQ(printed, c.factor) << c.what;
        if (*c.deviation != '\0') {
            char deviation[32];
            FormatPauseDeviation(deviation, sizeof deviation, ratio);
            EXPECT_STREQ(deviation, c.deviation) << c.what;
        }
        DeriveFrom(printed);
        // A minute is 60 * ms1000 pause units; no whole millisecond either
        // side would come closer to 60 s.
        const double minute = 60 * ms1000 * c.stretch;
        EXPECT_LE(std::fabs(minute - 60000), 60 * 0.5 * c.stretch + 1e-6) << c.what;
        EXPECT_EQ(ms100 + ms900, ms1000) << c.what;
    }
}

TEST(Calibration, ExactPausesGiveTheNominalDurations) {
    sim::Reset();
    pauseStretch = 1.0;
    char printed[32];
    std::snprintf(printed, sizeof printed, "%.1f", FactorForPauseRatio(MeasurePauseRatio(30, nullptr)));
    DeriveFrom(printed);
    EXPECT_EQ(ms100, 100);
    EXPECT_EQ(ms200, 200);
    EXPECT_EQ(ms800, 800);
    EXPECT_EQ(ms900, 900);
    EXPECT_EQ(ms1000, 1000);
}

TEST(Calibration, ShowsProgressEverySecond) {
    sim::Reset();
    pauseStretch = 1.0;
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    MeasurePauseRatio(5, out);
    std::rewind(out);
    char text[1024] = {};
    const std::size_t length = std::fread(text, 1, sizeof text - 1, out);
    std::fclose(out);
    int updates = 0;
    for (std::size_t i = 0; i < length; ++i) updates += text[i] == '\r';
    EXPECT_EQ(updates, 5);
    EXPECT_NE(std::string(text).find("5 of 5 s"), std::string::npos) << text;
}
