// Whether a sound device keeps time: a device that plays nowhere (ALSA's
// null device, a file device on it) takes any amount of sound at once and
// reports no delay, and the program must neither run flat out on it nor
// place edges by it. The frames must be seen leaving at about the device's
// rate on the monotonic clock soon after the start. Time is passed in.
#pragma once

#include <cstdint>

#include "platform/audio.h"

// The frames are watched this long from the first report that shows them
// leaving (or, when none does, from the first report at all) ...
constexpr std::int64_t kCheckNanoseconds = 2'000'000'000;
// ... and must leave within this fraction of the nominal rate.
constexpr double kRateTolerance = 0.05;
// Writes never run further ahead of the nominal rate (from the first
// report) than this: on a device that takes everything at once the
// program sleeps instead of filling the disk or a core.
constexpr std::int64_t kAheadNanoseconds = 1'000'000'000;

enum PlaybackTiming { TIMING_UNKNOWN, TIMING_KEPT, TIMING_NONE };

struct PlaybackCheck {
    unsigned rate;
    PlaybackTiming verdict;
    bool started;                   // a report was seen
    std::int64_t startedAt;         // monotonic ns of the first report
    std::int64_t startWritten;      // frames written by then
    bool moving;                    // frames were seen leaving with a delay
    std::int64_t movedAt, movedPlayed;
    std::int64_t lastPlayed;
    char why[96];                   // for TIMING_NONE: what was wrong
};

// Starts watching a stream that (re)starts with frame 0 at nominal `rate`.
void StartPlaybackCheck(PlaybackCheck* check, unsigned rate);

// Takes one report; returns the verdict so far (once given, it stays).
PlaybackTiming CheckPlayback(PlaybackCheck* check, const AudioReport& report);

// The monotonic instant before which writing beyond `written` frames runs
// too far ahead; 0: write at once.
std::int64_t WriteAllowedAt(const PlaybackCheck& check, std::int64_t written);
