// NTP time from the measurements (ntp_time.h) and when each server is
// asked (ntp_schedule.h), on made-up times.
#include <gtest/gtest.h>

#include <vector>

#include "ntp/ntp_schedule.h"
#include "ntp/ntp_time.h"

constexpr std::int64_t kS = 1'000'000'000, kMs = 1'000'000;
constexpr std::int64_t kRaw0 = 5'000 * kS, kNtp0 = 1'700'000'000 * kS;

struct Measured {
    double seconds;   // raw clock since kRaw0
    double offsetMs;  // NTP minus raw, less kNtp0 − kRaw0
    double delayMs;
};

struct NtpTimeCase {
    const char* what;
    std::vector<Measured> measured;
    double fallbackPpm;
    NtpTaken last;         // what the last measurement was taken as
    double probeSeconds;   // the newest line's NTP minus raw there ...
    double probeOffsetMs;  // ... is this
    bool rateGood;
};

TEST(NtpTime, MeasurementsMakeTheLine) {
    const NtpTimeCase cases[] = {
        {"one: the fallback rate", {{0, 7, 1}}, 10, NTP_TAKEN, 600, 13, false},
        // 10 minutes at +20 ppm: too short, the fallback's slope through their mean.
        {"short span: fallback", {{0, 0, 1}, {600, 12, 1}}, 0, NTP_TAKEN, 600, 6, false},
        {"16 minutes: measured rate", {{0, 0, 1}, {960, 19.2, 1}}, 0, NTP_TAKEN, 1920, 38.4, true},
        // An undisciplined clock: the raw one 40 ppm fast of NTP, the
        // fallback saying 0; 38 ms in 16 minutes is drift to learn, not a step.
        {"16 minutes at -40 ppm: measured, not stepped", {{0, 0, 1}, {960, -38.4, 1}}, 0, NTP_TAKEN, 1920, -76.8, true},
        {"16 minutes, 10 ms round trips: not better", {{0, 0, 10}, {960, 19.2, 10}}, 0, NTP_TAKEN, 1920, 38.4, false},
        {"a 300 ms correction moves the line, not the rate", {{0, 0, 1}, {960, 19.2, 1}, {1920, 338.4, 1}}, 0,
         NTP_STEPPED, 2880, 357.6, true},
        {"1.5 s off: held", {{0, 0, 1}, {960, 1500, 1}}, 0, NTP_HELD, 960, 0, false},
        {"two agree: applied, the old dropped", {{0, 0, 1}, {960, 1500, 1}, {1020, 1530, 1}}, 0, NTP_REPLACED, 1020,
         1515, false},
        {"two that disagree: the second held", {{0, 0, 1}, {960, 1500, 1}, {1020, 3000, 1}}, 0, NTP_HELD, 1020, 0,
         false},
        {"back on the line: the held one forgotten", {{0, 0, 1}, {960, 1500, 1}, {1020, 1, 1}, {1080, 1501, 1}}, 0,
         NTP_HELD, 1080, 1.059, true},
    };
    for (const NtpTimeCase& c : cases) {
        NtpTime t;
        ResetNtpTime(&t);
        NtpTaken taken = NTP_TAKEN;
        for (const Measured& m : c.measured) {
            const std::int64_t raw = kRaw0 + static_cast<std::int64_t>(m.seconds * kS);
            taken = NoteNtpMeasurement(&t, raw, raw + kNtp0 - kRaw0 + static_cast<std::int64_t>(m.offsetMs * kMs),
                                       static_cast<std::int64_t>(m.delayMs * kMs), 1 + c.fallbackPpm * 1e-6);
        }
        EXPECT_EQ(taken, c.last) << c.what;
        const std::int64_t probe = kRaw0 + static_cast<std::int64_t>(c.probeSeconds * kS);
        EXPECT_NEAR(static_cast<double>(NtpOfRaw(t.newest, probe) - probe - (kNtp0 - kRaw0)) / kMs, c.probeOffsetMs,
                    0.01)
            << c.what;
        EXPECT_EQ(NtpRateGood(t), c.rateGood) << c.what;
    }
}

TEST(NtpTime, TheOutputMovesOnlyWhenAdopted) {
    NtpTime t;
    ResetNtpTime(&t);
    EXPECT_EQ(AdoptNtpLine(&t, 1, kRaw0), 0);
    EXPECT_FALSE(t.output.valid);
    NoteNtpMeasurement(&t, kRaw0, kNtp0, kMs, 1);
    EXPECT_EQ(AdoptNtpLine(&t, 1, kRaw0), 0);
    EXPECT_EQ(NtpOfRaw(t.output, kRaw0 + 60 * kS), kNtp0 + 60 * kS);
    // A correction of 300 ms reaches the output at the next adoption.
    NoteNtpMeasurement(&t, kRaw0 + 90 * kS, kNtp0 + 90 * kS + 300 * kMs, kMs, 1);
    EXPECT_EQ(NtpOfRaw(t.output, kRaw0 + 100 * kS), kNtp0 + 100 * kS);
    EXPECT_EQ(AdoptNtpLine(&t, 1, kRaw0 + 120 * kS), 300 * kMs);
    EXPECT_EQ(NtpOfRaw(t.output, kRaw0 + 120 * kS), kNtp0 + 120 * kS + 300 * kMs);
    // The fallback's rate as it stands at the adoption: 10 ppm through
    // the two measurements' mean, read 100 s after the last.
    EXPECT_NEAR(static_cast<double>(AdoptNtpLine(&t, 1 + 10e-6, kRaw0 + 190 * kS)), 1.45 * kMs, 1000);
}

// One exchange's outcome in a run of them.
struct Asked {
    NtpOutcome outcome;
    std::int64_t delayMs;  // of a sample
};

struct AskingCase {
    const char* what;
    std::vector<Asked> asked;      // each made when the last was due
    std::vector<double> dueAfter;  // s after each that the next is due; -1: never
    bool winner;                   // a winner after the last
    std::int64_t winnerDelayMs;
    int said;                      // outcomes said in all
};

TEST(NtpSchedule, BurstsBackOffAndKissOfDeath) {
    const Asked s5{NTP_SAMPLE, 5}, s3{NTP_SAMPLE, 3}, s9{NTP_SAMPLE, 9}, none{NTP_NO_ANSWER, 0};
    const AskingCase cases[] = {
        // Four good answers end the start burst; the least delay wins;
        // then bursts of 4 a minute apart, 16 minutes from burst to burst.
        {"start burst, then 16 minutes", {s5, s3, none, s9, s5, s5, s5, s5, s5},
         {2, 2, 2, 2, 16 * 60 - 8, 60, 60, 60, 16 * 60 - 180}, true, 5, 0},
        // Eight without an answer: said once; then one request after 1, 2,
        // 4 ... minutes, never more than an hour apart.
        {"silence backs off to an hour",
         {none, none, none, none, none, none, none, none, none, none, none, none, none, none, none, none},
         {2, 2, 2, 2, 2, 2, 2, 60, 120, 240, 480, 960, 1920, 3600, 3600, 3600}, false, 0, 1},
        {"an answer after silence wins at once", {none, none, none, none, none, none, none, none, s9},
         {2, 2, 2, 2, 2, 2, 2, 60, 16 * 60}, true, 9, 1},
        // RATE ends the burst and doubles the interval; said once.
        {"RATE", {s5, {NTP_KISS_RATE, 0}, s3, s3, s3, s3, {NTP_KISS_RATE, 0}},
         {2, 32 * 60 - 2, 60, 60, 60, 32 * 60 - 180, 64 * 60}, false, 0, 1},
        {"DENY: never again", {s5, {NTP_KISS_STOP, 0}}, {2, -1}, false, 0, 1},
    };
    for (const AskingCase& c : cases) {
        NtpAsking a;
        std::int64_t now = 100 * kS;
        StartNtpAsking(&a, now);
        NtpNews news{};
        int said = 0;
        for (std::size_t i = 0; i < c.asked.size(); ++i) {
            ASSERT_EQ(a.due, now) << c.what << " " << i;
            NtpSample sample{now, now, 0, c.asked[i].delayMs * kMs, 2};
            news = NoteNtpOutcome(&a, c.asked[i].outcome, sample, now);
            said += news.say;
            if (c.dueAfter[i] < 0) {
                EXPECT_TRUE(a.stopped) << c.what;
                break;
            }
            EXPECT_EQ(a.due - now, static_cast<std::int64_t>(c.dueAfter[i] * kS)) << c.what << " " << i;
            now = a.due;
        }
        EXPECT_EQ(a.hasWinner && news.winner, c.winner) << c.what;
        if (c.winner) {
            EXPECT_EQ(a.winner.delay, c.winnerDelayMs * kMs) << c.what;
        }
        EXPECT_EQ(said, c.said) << c.what;
    }
}

TEST(NtpSchedule, ServersCombinedByTheirMedian) {
    NtpAsking s[4];
    const std::int64_t offsetsMs[4] = {300, -50, 20, 10};  // NTP minus raw, less kNtp0 − kRaw0
    for (int i = 0; i < 4; ++i) {
        StartNtpAsking(&s[i], 0);
        s[i].hasWinner = true;
        s[i].winner = {kRaw0 + i * kS, kNtp0 + i * kS + offsetsMs[i] * kMs, offsetsMs[i] * kMs, i * kMs, 2 + i};
    }
    NtpSample c{};
    ASSERT_TRUE(CombineNtpWinners(s, 3, kRaw0 + 10 * kS, &c));
    EXPECT_EQ(c.ntp - c.raw, kNtp0 - kRaw0 + 20 * kMs);  // of 300, -50, 20
    EXPECT_EQ(c.raw, kRaw0 + 2 * kS);
    ASSERT_TRUE(CombineNtpWinners(s, 4, kRaw0 + 10 * kS, &c));
    EXPECT_EQ(c.ntp - c.raw, kNtp0 - kRaw0 + 15 * kMs);  // the middle two's mean
    // One that has not answered for over 20 minutes no longer counts.
    ASSERT_TRUE(CombineNtpWinners(s, 2, kRaw0 + kNtpFreshNanoseconds + 1, &c));
    EXPECT_EQ(c.ntp - c.raw, kNtp0 - kRaw0 - 50 * kMs);
    EXPECT_FALSE(CombineNtpWinners(s, 1, kRaw0 + kNtpFreshNanoseconds + 1, &c));
}
