// Whether a sound device keeps time: a device that plays nowhere (ALSA's
// null device, a file device on it) takes any amount of sound at once and
// reports no delay, and the program must neither run flat out on it nor
// place edges by it. The frames must be seen leaving at about the device's
// rate on the monotonic clock. A device that primes its buffers first
// (PulseAudio under Wine: its frames leave at two thirds of the rate for
// the first seconds, then steadily) is judged on its steady stretch only.
// Time is passed in.
#pragma once

#include <cstdint>

#include "platform/audio.h"

// A device whose delay stays 0 this long from the first report is
// refused ...
constexpr std::int64_t kCheckNanoseconds = 2'000'000'000;
// ... and after this long, one whose frames do not leave, or whose frames,
// from the first that leaves, never leave within kRateTolerance of its rate
// over a stretch (below).
constexpr std::int64_t kJudgeNanoseconds = 20'000'000'000;
// The rate is judged over a stretch of reports from this long ...
constexpr std::int64_t kStretchNanoseconds = 1'000'000'000;
// ... growing to this long, after which a new stretch begins: a device
// that starts slowly is judged afresh once its start is behind it.
constexpr std::int64_t kLongestStretchNanoseconds = 4'000'000'000;
// The rate is kept when within this fraction of the nominal rate (a
// position that moves in 10 ms packets reads 1 % off over a second).
constexpr double kRateTolerance = 0.05;
// Writes never run further ahead than this of a pace twice that tolerance
// above the nominal rate (from the first report): on a device that takes
// everything at once the program sleeps instead of filling the disk or a
// core, and the frames it takes read clearly too fast.
constexpr std::int64_t kAheadNanoseconds = 1'000'000'000;

enum PlaybackTiming { TIMING_UNKNOWN, TIMING_KEPT, TIMING_NONE };

struct PlaybackCheck {
    unsigned rate;
    PlaybackTiming verdict;
    bool started;                   // a report was seen
    std::int64_t startedAt;         // monotonic ns of the first report
    std::int64_t startWritten;      // frames written by then
    bool delayed;                   // a report showed a delay
    bool moving;                    // frames were seen leaving with a delay
    std::int64_t movedAt;           // monotonic ns of the first such report
    std::int64_t stretchAt, stretchPlayed;  // where the stretch judged began
    std::int64_t lastPlayed;
    std::int64_t steadyFrom;        // for TIMING_KEPT: monotonic ns from which the rate was kept
    char why[96];                   // for TIMING_NONE: what was wrong
};

// Starts watching a stream that (re)starts with frame 0 at nominal `rate`.
void StartPlaybackCheck(PlaybackCheck* check, unsigned rate);

// Takes one report; returns the verdict so far (once given, it stays).
PlaybackTiming CheckPlayback(PlaybackCheck* check, const AudioReport& report);

// The monotonic instant before which writing beyond `written` frames runs
// too far ahead; 0: write at once.
std::int64_t WriteAllowedAt(const PlaybackCheck& check, std::int64_t written);
