// The device clock and the UTC scale against a modelled sound card and
// modelled clocks, driven as the sound loop drives them: how closely a
// frame written now is placed on the UTC clock, and how close the carrier
// (the card's period as the synthesis spaces its samples) stays to
// 77.5 kHz, through steps and slews of the UTC clock and jumps of the
// card's latency, and past a card that starts slowly. The true time is
// the monotonic clock's.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "audio/device_clock.h"
#include "audio/playback_check.h"
#include "audio/utc_scale.h"

struct DeviceClockCase {
    const char* what;
    double cardPpm;      // the card's crystal against true time
    double rawPpm;       // the raw monotonic clock against true time
    double latencyUs;    // from the buffer to the output
    double jitterUs;     // the reports' instants, uniformly within ±
    int granule;         // frames the reported position moves by
    double stepMs;       // the UTC clock steps by this at kEventS
    double jumpMs;       // the latency grows by this at kEventS
    double slewPpm;      // the UTC clock runs this fast for 60 s from kEventS
    double placedUs;     // a frame written now placed within this once ready, but those leaving in the 2 s after the event
    double settleS;      // the carrier within 1 Hz of 77.5 kHz from this on, throughout
    double lateUs = 0;   // from kEventS, two reports in a row each second stamped this and 3 times this late
    double primeS = 0;   // the card plays at kPrimeRate of its rate this long from the start
};

constexpr double kEventS = 100, kPrimeRate = 0.64;

// A seed from DCF_SEED, or a fixed one; printed either way.
static unsigned Seed() {
    const char* given = std::getenv("DCF_SEED");
    const unsigned seed = given != nullptr ? static_cast<unsigned>(std::strtoul(given, nullptr, 10)) : 20261208u;
    std::printf("seed %u (set DCF_SEED to choose another)\n", seed);
    return seed;
}

TEST(DeviceClock, PlacesFramesAndKeepsTheCarrier) {
    // A position that moves in steps reads up to a step behind: frames are
    // placed late by half a step on average (125 us, and 500 us for USB).
    const DeviceClockCase cases[] = {
        {"a perfect card", 0, 0, 0, 0, 1, 0, 0, 0, 1, 0},
        {"200 ppm fast, 3 ms latency, HD Audio-like reports", 200, 0, 3000, 50, 12, 0, 0, 0, 300, 8},
        {"300 ppm slow, USB-like reports", -300, 0, 5000, 500, 48, 0, 0, 0, 900, 25},
        {"the raw clock 60 ppm slow", 200, -60, 3000, 50, 12, 0, 0, 0, 300, 8},
        {"the UTC clock stepped by 1 ms", 200, 0, 3000, 50, 12, 1, 0, 0, 300, 8},
        {"the UTC clock stepped by 10 ms", 200, 0, 3000, 50, 12, 10, 0, 0, 300, 8},
        {"the UTC clock stepped by -19 ms", 200, 0, 3000, 50, 12, -19, 0, 0, 300, 8},
        {"the UTC clock stepped by 100 ms", 200, 0, 3000, 50, 12, 100, 0, 0, 300, 8},
        {"the latency 5 ms longer", 200, 0, 3000, 50, 12, 0, 5, 0, 300, 8},
        {"the latency 15 ms shorter", 200, 0, 18000, 50, 12, 0, -15, 0, 300, 8},
        {"the UTC clock slewed 500 ppm for 60 s", 200, 0, 3000, 50, 12, 0, 0, 500, 300, 8},
        {"the UTC clock slewed -500 ppm for 60 s, USB-like reports", -300, 0, 5000, 500, 48, 0, 0, -500, 900, 25},
        // Beyond 1000 ppm only from a fit of 5 s: no edges before.
        {"0.5 % slow", -5000, 0, 3000, 50, 12, 0, 0, 0, 300, 8},
        // Two late reports that disagree are no jump of the latency.
        {"pairs of late reports", 200, 0, 3000, 50, 12, 0, 0, 0, 300, 8, 2000},
        // As PulseAudio under Wine: the fit begins where the rate is steady.
        {"two thirds of the rate for 3 s", 200, 0, 3000, 50, 12, 0, 0, 0, 300, 10, 0, 3},
    };
    std::mt19937 random(Seed());
    const unsigned rate = 48000;
    for (const DeviceClockCase& c : cases) {
        std::uniform_real_distribution<double> jitter(-c.jitterUs * 1e3, c.jitterUs * 1e3);
        const double period = 1e9 / (rate * (1 + c.cardPpm * 1e-6));
        const double started = 5e9, event = started + kEventS * 1e9, offset = 1.7e18;
        // Where frame 0 would have left had the card played steadily from the start.
        const double steadyFrom = started + c.primeS * 1e9 * (1 - kPrimeRate);
        auto raw = [&](double t) { return t + (t - started) * c.rawPpm * 1e-6; };
        // The UTC clock at true instant `t`, less `offset`.
        auto utc = [&](double t) {
            const double slewed = std::clamp(t - event, 0.0, 60e9) * c.slewPpm * 1e-6;
            return t + slewed + (t >= event ? c.stepMs * 1e6 : 0);
        };
        auto latency = [&](double t) { return c.latencyUs * 1e3 + (t >= event ? c.jumpMs * 1e6 : 0); };
        static DeviceClock clock;
        static UtcScale scale;
        static PlaybackCheck check;
        ResetDeviceClock(&clock, rate);
        ResetUtcScale(&scale);
        StartPlaybackCheck(&check, rate);
        double worstPlaced = 0, settled = 0;
        // A report every 10 ms for 200 s, 100 ms of frames queued ahead.
        for (int i = 0; i < 20'000; ++i) {
            const double t = started + i * 1e7;
            const double gone = t < started + c.primeS * 1e9 ? (t - started) * kPrimeRate : t - steadyFrom;
            const auto played = static_cast<std::int64_t>(std::floor(gone / period));
            const std::int64_t written = played + rate / 10;
            const double rawMinusMonotonic = raw(t) - t;
            NoteClockReading(&scale, static_cast<std::int64_t>(raw(t)),
                             static_cast<std::int64_t>(offset) + static_cast<std::int64_t>(utc(t)));
            const double sinceEvent = t - event, late = c.lateUs * 1e3 * (sinceEvent < 0 ? 0 : 1);
            const long inSecond = std::lround(std::fmod(std::max(sinceEvent, 0.0), 1e9) / 1e7);
            const double stamped = t + jitter(random) + (inSecond == 0 ? late : inSecond == 1 ? 3 * late : 0);
            const AudioReport report{static_cast<std::int64_t>(stamped), written,
                                     written - played / c.granule * c.granule +
                                         static_cast<std::int64_t>(latency(t) / period)};
            NoteAudioReport(&clock, report, static_cast<std::int64_t>(rawMinusMonotonic));
            const PlaybackTiming judged = check.verdict;
            ASSERT_NE(CheckPlayback(&check, report), TIMING_NONE) << c.what;
            if (judged != TIMING_KEPT && check.verdict == TIMING_KEPT)
                ForgetReportsBefore(&clock, check.steadyFrom + static_cast<std::int64_t>(rawMinusMonotonic));
            if (check.verdict != TIMING_KEPT || !DeviceClockReady(clock)) continue;
            const FrameTime at = WhenFrameLeaves(clock, written);
            const double leaves = steadyFrom + static_cast<double>(written) * period;
            const double heard = leaves + latency(leaves);
            const double placed =
                static_cast<double>(UtcOfRaw(scale, at.raw) - static_cast<std::int64_t>(offset)) - utc(heard);
            if (heard < event || heard >= event + 2e9) worstPlaced = std::max(worstPlaced, std::abs(placed));
            const double hzOff = 77500 * std::abs(at.period * scale.rate / period - 1);
            if (hzOff >= 1) settled = (i + 1) * 0.01;
        }
        std::printf("%s: placed within %.1f us, carrier within 1 Hz from %.2f s\n", c.what, worstPlaced / 1e3,
                    settled);
        EXPECT_LT(worstPlaced, c.placedUs * 1e3) << c.what;
        EXPECT_LE(settled, c.settleS) << c.what;
        EXPECT_FALSE(clock.beyondReach || scale.clamped) << c.what;
    }
}

struct UtcRateCase {
    const char* what;
    double stepAtS, stepMs;       // the UTC clock steps once by stepMs
    double slewS, slewPpm;        // it is slewed this much faster for slewS from the start
    double changeAtS, changePpm;  // from then on it runs this much faster: a lasting correction
    double readS;                 // the long-run rate read then ...
    double ratePpm;               // ... is this, within 0.01 ppm
};

TEST(UtcScale, LongRunRateIsTheMedianOfTheLastHour) {
    const UtcRateCase cases[] = {
        // A step is no part of the rate, inside the first 10 s slot too.
        {"a 10 ms step 5 s in", 5, 10, 0, 0, 0, 0, 8, 0},
        // The last hour's slots alone: half of them at the old rate, half at
        // the new, the median between; the first slot's slew long gone.
        {"slewed for 10 s, 40 ppm faster from 1 h on, 1 h 30 min in", 0, 0, 10, 500, 3600, 40, 5400, 20},
        // One slot more at the new rate: the new.
        {"40 ppm faster from 59 min 50 s on, 1 h 30 min in", 0, 0, 0, 0, 3590, 40, 5400, 40},
    };
    for (const UtcRateCase& c : cases) {
        static UtcScale scale;
        ResetUtcScale(&scale);
        // A reading every 10 ms; raw is true time.
        for (std::int64_t i = 0; i <= std::llround(c.readS * 100); ++i) {
            const std::int64_t t = 5'000'000'000 + i * 10'000'000, since = i * 10'000'000;
            const double changed = std::max(static_cast<double>(since) - c.changeAtS * 1e9, 0.0) * c.changePpm * 1e-6 +
                                   std::min(static_cast<double>(since), c.slewS * 1e9) * c.slewPpm * 1e-6;
            const std::int64_t stepped = since >= std::llround(c.stepAtS * 1e9) ? std::llround(c.stepMs * 1e6) : 0;
            NoteClockReading(&scale, t, 1'700'000'000'000'000'000 + t + stepped + std::llround(changed));
        }
        EXPECT_NEAR((scale.rate - 1) * 1e6, c.ratePpm, 0.01) << c.what;
        EXPECT_FALSE(scale.clamped) << c.what;
    }
}
