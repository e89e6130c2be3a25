#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

#include "keying/keying.h"

struct DurationCase {
    const char* what;
    double fudge;
    std::int32_t expected[5];  // ms100 ms200 ms800 ms900 ms1000
};

static void ExpectDurations(const DurationCase& c) {
    Fudge = c.fudge;
    DeriveDurations();
    const std::int32_t got[5] = {ms100, ms200, ms800, ms900, ms1000};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(got[i], c.expected[i]) << c.what << ", duration " << i;
}

TEST(Durations, FromFactor) {
    const DurationCase cases[] = {
        {"nominal", 100, {100, 200, 800, 900, 1000}},
        {"slow pause", 98.7, {99, 197, 790, 888, 987}},
        {"fast pause", 101.5, {102, 203, 812, 913, 1015}},
        {"whole factor", 95, {95, 190, 760, 855, 950}},
        {"needs the 64-bit significand", 32.05, {32, 64, 257, 289, 321}},
        {"zero", 0, {0, 0, 0, 0, 0}},
        {"below half: no 0-pulse", 0.3, {0, 1, 2, 3, 3}},
        {"negative rounds half up", -0.25, {0, 0, -2, -2, -2}},
        {"negative", -100, {-100, -200, -800, -900, -1000}},
        {"not a number", std::numeric_limits<double>::quiet_NaN(), {0, 0, 0, 0, 0}},
        {"beyond 32 bits", 1e12, {INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX}},
        {"far below", -1e300, {INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN}},
        {"infinite", std::numeric_limits<double>::infinity(),
         {INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX}},
        // ms1000 saturates while the rests still fit.
        {"ms1000 alone saturates", 2.3e8, {230000000, 460000000, 1840000000, 2070000000, INT32_MAX}},
    };
    for (const DurationCase& c : cases) ExpectDurations(c);
}

TEST(Durations, RoundsHalfUp) {
    EXPECT_EQ(keying::round(2.5), 3);
    EXPECT_EQ(keying::round(2.4999), 2);
    EXPECT_EQ(keying::round(-2.5), -2);
    EXPECT_EQ(keying::round(7), 7);
    EXPECT_EQ(keying::round(-0.5), 0);
    EXPECT_TRUE(std::isnan(keying::round(std::numeric_limits<double>::quiet_NaN())));
}

// The evaluation the durations are defined by, written out in the x87
// extended format, where this build has it.
static double ReferenceScaled(double factor, std::int32_t constant, std::int32_t minus) {
    return static_cast<double>(static_cast<long double>(factor) * constant / 100 - minus);
}

// Factors just beside the values whose scaled result lies half-way between
// two whole numbers are where a single rounding step too many shows.
static double FactorNear(std::mt19937_64& random) {
    std::uniform_int_distribution<int> whole(-4000, 400000);
    std::uniform_int_distribution<int> ulps(-4, 4);
    std::uniform_int_distribution<int> kind(0, 2);
    double f = (whole(random) + 0.5) / (kind(random) == 0 ? 10.0 : kind(random) == 1 ? 20.0 : 2.0);
    for (int n = ulps(random); n != 0; n += n > 0 ? -1 : 1)
        f = std::nextafter(f, n > 0 ? INFINITY : -INFINITY);
    return f;
}

TEST(Durations, SoftwareEvaluationMatchesExtendedPrecision) {
    if (std::numeric_limits<long double>::digits != 64)
        GTEST_SKIP() << "long double here is not the x87 extended format";
    const unsigned seed = std::random_device{}();
    std::printf("seed %u (replay: DCF_TEST_SEED=%u)\n", seed, seed);
    const char* replay = std::getenv("DCF_TEST_SEED");
    std::mt19937_64 random(replay != nullptr ? std::strtoul(replay, nullptr, 10) : seed);
    std::uniform_real_distribution<double> anyFactor(-3000.0, 3000.0);
    std::uniform_int_distribution<std::int32_t> minus(-3000000, 3000000);
    const std::int32_t constants[] = {100, 200, 1000};
    int mismatches = 0;
    for (int i = 0; i < 200000 && mismatches < 10; ++i) {
        const double f = i % 2 == 0 ? FactorNear(random) : anyFactor(random);
        for (std::int32_t c : constants) {
            const std::int32_t m = c == 1000 ? (i % 3 == 0 ? minus(random) : static_cast<std::int32_t>(std::floor(f * 2))) : 0;
            const double expected = ReferenceScaled(f, c, m);
            const double got = ExtendedScaledInSoftware(f, c, m);
            if (got != expected) ++mismatches;
            EXPECT_EQ(got, expected) << "factor " << f << " constant " << c << " minus " << m;
            EXPECT_EQ(ExtendedScaled(f, c, m), expected);
        }
    }
}

TEST(Durations, EveryNominalSecondHasTheSameLength) {
    for (double f = 0.5; f < 400; f += 0.0137) {
        Fudge = f;
        DeriveDurations();
        ASSERT_EQ(ms100 + ms900, ms1000) << "factor " << f;
        ASSERT_EQ(ms200 + ms800, ms1000) << "factor " << f;
    }
}
