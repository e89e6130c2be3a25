// When each sample leaves the sound device, on the raw monotonic clock (the
// computer's oscillator, never slewed): a straight line fitted to the
// device's own reports. The card's crystal runs up to a few hundred ppm off
// and the device adds its own latency; the fit follows both. A jump of the
// latency (a device that changes its buffering, a stream that slips) moves
// the line, never its slope. Time is passed in.
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
// Until the fit is ready, a report this far off it means the device's
// latency jumped ...
constexpr std::int64_t kSlipNanoseconds = 20'000'000;
// ... and from then on one further off than this many times the reports'
// own spread about the line (the largest distance of recent ones, which
// forgets a report's over about 10 s of reports), and at least
// kLeastJumpNanoseconds, when the next report confirms it.
constexpr double kJumpSpread = 3;
constexpr double kSpreadKept = 0.999;
constexpr std::int64_t kLeastJumpNanoseconds = 500'000;
// The card's rate is believed within this of nominal at once, parts per
// million ...
constexpr double kMaxRatePpm = 1000;
// ... and further off only from a fit this long (until then no edges are
// placed by such a rate): over the first seconds a card whose position
// moves in packets reads far off its rate.
constexpr std::int64_t kRateBeyondSpanNanoseconds = 5'000'000'000;
// A rate is followed up to this far off nominal, ppm; beyond it the device
// is refused (no sound card's crystal is that far off: such a device
// resamples, or its position is made up).
constexpr double kFarthestRatePpm = 10000;

struct DeviceClock {
    unsigned rate;              // nominal frames a second
    bool moving;                // frames were seen leaving since the reset
    std::int64_t lastPlayed;    // frames gone out at the last report
    std::int64_t anchorFrame;   // before the stream moves: frames are placed
    std::int64_t anchorRaw;     //   at the nominal rate from here
    bool anyReport;
    int first, count;           // the points, a ring
    std::int64_t frame[kClockPoints];  // frame number leaving the output ...
    std::int64_t raw[kClockPoints];    // ... at this raw monotonic instant, ns
    int run[kClockPoints];      // the stretch of steady latency it belongs to
    int runs;                   // stretches begun since the reset
    bool pending;               // a report off the line, not yet confirmed
    std::int64_t pendingFrame, pendingRaw;
    double pendingOff;          // ns
    double spread;              // recent reports' distance from the line, ns
    double measuredPpm;         // the card's rate off nominal as measured
    bool beyondReach;           // beyond kFarthestRatePpm over a long fit
    // The fit: frame originFrame leaves at originRaw, the others `period`
    // raw ns apart.
    std::int64_t originFrame, originRaw;
    double period;
};

// Forgets every report: the stream (re)starts with frame 0.
void ResetDeviceClock(DeviceClock* clock, unsigned rate);

// Takes one report; `rawMinusMonotonic` is the raw monotonic clock minus
// the monotonic one at about the report's instant.
void NoteAudioReport(DeviceClock* clock, const AudioReport& report, std::int64_t rawMinusMonotonic);

// Drops the reports before raw instant `raw` from the fit: those of a
// device still priming its buffers.
void ForgetReportsBefore(DeviceClock* clock, std::int64_t raw);

// Where frame `n` leaves the output, and the card's frame period there,
// both on the raw monotonic clock.
struct FrameTime {
    std::int64_t raw;  // ns
    double period;     // ns
};
FrameTime WhenFrameLeaves(const DeviceClock& clock, std::int64_t n);

// The span of the reports in the fit, ns.
std::int64_t DeviceClockSpan(const DeviceClock& clock);

// Whether the fit places frames well enough to key edges by it: over a
// span of kReadySpanNanoseconds, and of kRateBeyondSpanNanoseconds where
// the rate reads beyond kMaxRatePpm.
bool DeviceClockReady(const DeviceClock& clock);
