#include "playback_check.h"

#include <cmath>
#include <cstdio>

void StartPlaybackCheck(PlaybackCheck* c, unsigned rate) {
    *c = PlaybackCheck{};
    c->rate = rate;
    c->verdict = TIMING_UNKNOWN;
}

static PlaybackTiming None(PlaybackCheck* c, const char* why) {
    std::snprintf(c->why, sizeof c->why, "%s", why);
    return c->verdict = TIMING_NONE;
}

PlaybackTiming CheckPlayback(PlaybackCheck* c, const AudioReport& report) {
    const std::int64_t played = report.written - report.delay;
    if (!c->started) {
        c->started = true;
        c->startedAt = report.monotonic;
        c->startWritten = report.written;
        c->lastPlayed = played;
    }
    if (c->verdict != TIMING_UNKNOWN) return c->verdict;
    c->delayed = c->delayed || report.delay > 0;
    if (!c->moving && report.delay > 0 && played > c->lastPlayed) {
        c->moving = true;
        c->movedAt = c->stretchAt = report.monotonic;
        c->stretchPlayed = played;
    }
    c->lastPlayed = played;
    if (!c->moving) {
        const std::int64_t waited = report.monotonic - c->startedAt;
        if (!c->delayed) return waited < kCheckNanoseconds ? TIMING_UNKNOWN : None(c, "its delay stays 0");
        return waited < kJudgeNanoseconds ? TIMING_UNKNOWN : None(c, "no frame leaves it");
    }
    const std::int64_t span = report.monotonic - c->stretchAt;
    if (span < kStretchNanoseconds) return TIMING_UNKNOWN;
    if (report.delay <= 0) return None(c, "its delay fell to 0");
    const double ratio = static_cast<double>(played - c->stretchPlayed) / (static_cast<double>(span) * c->rate * 1e-9);
    if (std::abs(ratio - 1) <= kRateTolerance) {
        c->steadyFrom = c->stretchAt;
        return c->verdict = TIMING_KEPT;
    }
    if (report.monotonic - c->movedAt >= kJudgeNanoseconds) {
        char why[96];
        std::snprintf(why, sizeof why, "its frames leave at %.3g times its rate of %u Hz", ratio, c->rate);
        return None(c, why);
    }
    if (span >= kLongestStretchNanoseconds) {
        c->stretchAt = report.monotonic;
        c->stretchPlayed = played;
    }
    return TIMING_UNKNOWN;
}

std::int64_t WriteAllowedAt(const PlaybackCheck& c, std::int64_t written) {
    if (!c.started) return 0;
    const double ahead = static_cast<double>(written - c.startWritten) / (c.rate * (1 + 2 * kRateTolerance)) * 1e9;
    return c.startedAt + static_cast<std::int64_t>(ahead) - kAheadNanoseconds;
}
