// When each sample leaves the sound device, on the UTC clock: a straight
// line fitted to the device's own reports. The card's crystal runs up to a
// few hundred ppm off UTC and the device adds its own latency; the fit
// follows both. Time is passed in.
#pragma once

#include <cstdint>

#include "platform/audio.h"

// Reports older than this drop out of the fit, so that the card's rate is
// followed as its crystal warms; 3000 of them at one a 10 ms block.
constexpr std::int64_t kClockWindowNanoseconds = 30'000'000'000;
constexpr int kClockPoints = 4096;
// Below this span of reports the fit takes the card's nominal rate (a
// rate from a shorter span is mostly the reports' jitter) and places no
// edges (see DeviceClockReady).
constexpr std::int64_t kReadySpanNanoseconds = 1'000'000'000;
// A report this far off the fit means the stream slipped: start afresh.
constexpr std::int64_t kSlipNanoseconds = 20'000'000;
// The card's rate is believed within this of nominal, parts per million.
constexpr double kMaxRatePpm = 1000;

struct DeviceClock {
    unsigned rate;              // nominal frames a second
    bool moving;                // frames were seen leaving since the reset
    std::int64_t lastPlayed;    // frames gone out at the last report
    std::int64_t lastFrame;     // the last report's point, also before the
    std::int64_t lastUtc;       //   stream moved
    bool anyReport;
    int first, count;           // the points, a ring
    std::int64_t frame[kClockPoints];  // frame number leaving the output ...
    std::int64_t utc[kClockPoints];    // ... at this UTC instant, ns
    // The fit: frame originFrame leaves at originUtc, the others `period`
    // UTC ns apart.
    std::int64_t originFrame, originUtc;
    double period;
};

// Forgets every report: the stream (re)starts with frame 0.
void ResetDeviceClock(DeviceClock* clock, unsigned rate);

// Takes one report; `offset` is the UTC clock minus the monotonic one at
// about the report's instant.
void NoteAudioReport(DeviceClock* clock, const AudioReport& report, std::int64_t offset);

// The UTC clock stepped by `by` ns: the reports taken before move with it.
void ShiftDeviceClock(DeviceClock* clock, std::int64_t by);

// Where frame `n` leaves the output, and the card's frame period there,
// both on the UTC clock.
struct FrameTime {
    std::int64_t utc;  // ns since 1970
    double period;     // ns
};
FrameTime WhenFrameLeaves(const DeviceClock& clock, std::int64_t n);

// The span of the reports in the fit, ns.
std::int64_t DeviceClockSpan(const DeviceClock& clock);

// Whether the fit places frames well enough to key edges by it.
bool DeviceClockReady(const DeviceClock& clock);
