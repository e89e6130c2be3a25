// The device clock against a modelled sound card: how closely it places a
// frame written now, and how soon it knows the card's rate.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>

#include "audio/device_clock.h"

struct DeviceClockCase {
    const char* what;
    double cardPpm;      // the card's crystal against the monotonic clock
    double utcPpm;       // the UTC clock against the monotonic clock
    double latencyUs;    // from the buffer to the output
    double jitterUs;     // the reports' instants, uniformly within ±
    int granule;         // frames the reported position moves by
    double placedUs;     // a frame written now, placed within this once ready
    double settleS;      // the rate within 1 Hz of 77.5 kHz from this on
};

TEST(DeviceClock, PlacesFramesAndLearnsTheRate) {
    // A position that moves in steps reads up to a step behind: frames are
    // placed late by half a step on average (125 us, and 500 us for USB).
    const DeviceClockCase cases[] = {
        {"a perfect card", 0, 0, 0, 0, 1, 1, 0},
        {"200 ppm fast, 3 ms latency, HD Audio-like reports", 200, 0, 3000, 50, 12, 300, 8},
        {"300 ppm slow, USB-like reports", -300, 0, 5000, 500, 48, 900, 25},
        {"the UTC clock slewing 500 ppm as well", 200, 500, 3000, 50, 12, 300, 8},
    };
    const unsigned seed = std::random_device{}();
    std::printf("seed %u\n", seed);
    std::mt19937 random(seed);
    const unsigned rate = 48000;
    for (const DeviceClockCase& c : cases) {
        std::uniform_real_distribution<double> jitter(-c.jitterUs * 1e3, c.jitterUs * 1e3);
        const double period = 1e9 / (rate * (1 + c.cardPpm * 1e-6));
        const std::int64_t started = 5'000'000'000, offset = 1'700'000'000'000'000'000;
        // The UTC clock at monotonic instant `t`, less `offset`.
        auto utcAt = [&](double t) { return t + (t - started) * c.utcPpm * 1e-6; };
        static DeviceClock clock;
        ResetDeviceClock(&clock, rate);
        double worstPlaced = 0, settled = 0;
        // A report every 10 ms for two minutes, 100 ms of frames queued ahead.
        for (int i = 0; i < 12'000; ++i) {
            const double t = started + i * 1e7;
            const auto played = static_cast<std::int64_t>(std::floor((t - started) / period));
            const std::int64_t written = played + rate / 10;
            const AudioReport report{static_cast<std::int64_t>(t + jitter(random)), written,
                                     written - played / c.granule * c.granule +
                                         static_cast<std::int64_t>(c.latencyUs * 1e3 / period)};
            NoteAudioReport(&clock, report, offset + static_cast<std::int64_t>(utcAt(t) - t));
            if (!DeviceClockReady(clock)) continue;
            const double truth = utcAt(started + written * period + c.latencyUs * 1e3);
            const double placed = static_cast<double>(WhenFrameLeaves(clock, written).utc - offset) - truth;
            worstPlaced = std::max(worstPlaced, std::abs(placed));
            const double periodOnUtc = utcAt(started + period) - utcAt(started);
            const double hzOff = 77500 * std::abs(WhenFrameLeaves(clock, written).period / periodOnUtc - 1);
            if (hzOff >= 1) settled = (i + 1) * 0.01;
        }
        std::printf("%s: placed within %.1f us, rate settled after %.2f s\n", c.what, worstPlaced / 1e3, settled);
        EXPECT_LT(worstPlaced, c.placedUs * 1e3) << c.what;
        EXPECT_LE(settled, c.settleS) << c.what;
    }
}
