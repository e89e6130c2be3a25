#include "device_clock.h"

#include <algorithm>
#include <cmath>

static double NominalPeriod(unsigned rate) { return 1e9 / rate; }

void ResetDeviceClock(DeviceClock* c, unsigned rate) {
    c->rate = rate;
    c->moving = false;
    c->anyReport = false;
    c->first = c->count = 0;
    c->runs = 0;
    c->pending = false;
    c->spread = 0;
    c->measuredPpm = 0;
    c->beyondReach = false;
    c->lastPlayed = c->anchorFrame = c->anchorRaw = 0;
    c->originFrame = c->originRaw = 0;
    c->period = NominalPeriod(rate);
}

static int At(const DeviceClock& c, int i) { return (c.first + i) % kClockPoints; }

// Least squares with one slope for all the points and a line of its own
// for each stretch of steady latency, about the newest point so that the
// sums keep their precision; the card's nominal rate while the span is
// short.
static void Fit(DeviceClock* c) {
    const int newest = At(*c, c->count - 1);
    const std::int64_t n0 = c->frame[newest], r0 = c->raw[newest];
    double sxx = 0, sxy = 0, mx = 0, my = 0;
    for (int i = 0; i < c->count;) {
        int j = i;
        double sx = 0, sy = 0;
        for (; j < c->count && c->run[At(*c, j)] == c->run[At(*c, i)]; ++j) {
            sx += static_cast<double>(c->frame[At(*c, j)] - n0);
            sy += static_cast<double>(c->raw[At(*c, j)] - r0);
        }
        mx = sx / (j - i);
        my = sy / (j - i);
        for (int k = i; k < j; ++k) {
            const double x = static_cast<double>(c->frame[At(*c, k)] - n0) - mx;
            const double y = static_cast<double>(c->raw[At(*c, k)] - r0) - my;
            sxx += x * x;
            sxy += x * y;
        }
        i = j;
    }
    const double nominal = NominalPeriod(c->rate);
    double period = nominal;
    c->measuredPpm = 0;
    c->beyondReach = false;
    if (DeviceClockSpan(*c) >= kReadySpanNanoseconds && sxx > 0) {
        const bool longFit = DeviceClockSpan(*c) >= kRateBeyondSpanNanoseconds;
        const double limit = nominal * (longFit ? kFarthestRatePpm : kMaxRatePpm) * 1e-6;
        const double measured = sxy / sxx;
        c->measuredPpm = (nominal / measured - 1) * 1e6;
        c->beyondReach = longFit && std::abs(c->measuredPpm) > kFarthestRatePpm;
        period = std::clamp(measured, nominal - limit, nominal + limit);
    }
    // The newest stretch's line through its centre, taken at the newest
    // point. A position that moves in steps (USB cards: a packet's frames)
    // reads up to a step behind: the line runs late by half a step on
    // average.
    c->period = period;
    c->originFrame = n0;
    c->originRaw = r0 + static_cast<std::int64_t>(my - mx * period);
}

static void AddPoint(DeviceClock* c, std::int64_t played, std::int64_t raw) {
    if (c->count == kClockPoints) {
        c->first = (c->first + 1) % kClockPoints;
        --c->count;
    }
    const int slot = At(*c, c->count++);
    c->frame[slot] = played;
    c->raw[slot] = raw;
    c->run[slot] = c->runs;
}

void NoteAudioReport(DeviceClock* c, const AudioReport& report, std::int64_t rawMinusMonotonic) {
    // The frame leaving the output at the report's instant.
    const std::int64_t played = report.written - report.delay;
    const std::int64_t raw = report.monotonic + rawMinusMonotonic;
    // Until frames are seen going out, the stream has not started and its
    // delay (0, or all that is queued) says nothing about time: the
    // frames are placed one after another from the first report.
    if (report.delay > 0 && c->anyReport && played > c->lastPlayed) c->moving = true;
    if (!c->anyReport) {
        c->anchorFrame = report.written;
        c->anchorRaw = raw;
    }
    c->anyReport = true;
    c->lastPlayed = played;
    if (!c->moving || report.delay <= 0) return;
    if (c->count > 0) {
        const double off = static_cast<double>(raw - WhenFrameLeaves(*c, played).raw);
        const double limit = DeviceClockReady(*c)
                                 ? std::max(kJumpSpread * c->spread, static_cast<double>(kLeastJumpNanoseconds))
                                 : static_cast<double>(kSlipNanoseconds);
        if (std::abs(off) > limit) {
            // One report off the line may be a late one; two alike are
            // a jump of the latency: a new stretch, the same slope.
            if (!c->pending || std::abs(off - c->pendingOff) > limit) {
                c->pending = true;
                c->pendingFrame = played;
                c->pendingRaw = raw;
                c->pendingOff = off;
                return;
            }
            ++c->runs;
            AddPoint(c, c->pendingFrame, c->pendingRaw);
        } else {
            c->spread = std::max(std::abs(off), c->spread * kSpreadKept);
        }
    }
    c->pending = false;
    AddPoint(c, played, raw);
    while (c->count > 2 && raw - c->raw[c->first] > kClockWindowNanoseconds) {
        c->first = (c->first + 1) % kClockPoints;
        --c->count;
    }
    Fit(c);
}

void ForgetReportsBefore(DeviceClock* c, std::int64_t raw) {
    // The newest report stays: the line goes on from it.
    while (c->count > 1 && c->raw[c->first] < raw) {
        c->first = (c->first + 1) % kClockPoints;
        --c->count;
    }
    if (c->count > 0) Fit(c);
}

FrameTime WhenFrameLeaves(const DeviceClock& c, std::int64_t n) {
    if (c.count == 0) {
        const double period = NominalPeriod(c.rate);
        return {c.anchorRaw + static_cast<std::int64_t>(static_cast<double>(n - c.anchorFrame) * period), period};
    }
    return {c.originRaw + static_cast<std::int64_t>(static_cast<double>(n - c.originFrame) * c.period), c.period};
}

std::int64_t DeviceClockSpan(const DeviceClock& c) {
    return c.count < 2 ? 0 : c.raw[At(c, c.count - 1)] - c.raw[c.first];
}

bool DeviceClockReady(const DeviceClock& c) {
    const std::int64_t span = DeviceClockSpan(c);
    return span >= kReadySpanNanoseconds &&
           (span >= kRateBeyondSpanNanoseconds || std::abs(c.measuredPpm) <= kMaxRatePpm);
}
