#include "device_clock.h"

#include <algorithm>
#include <cstdlib>

static double NominalPeriod(unsigned rate) { return 1e9 / rate; }

void ResetDeviceClock(DeviceClock* c, unsigned rate) {
    c->rate = rate;
    c->moving = false;
    c->anyReport = false;
    c->first = c->count = 0;
    c->lastPlayed = c->lastFrame = c->lastUtc = 0;
    c->originFrame = c->originUtc = 0;
    c->period = NominalPeriod(rate);
}

static int At(const DeviceClock& c, int i) { return (c.first + i) % kClockPoints; }

// Least squares over the points, about the newest one so that the sums
// keep their precision; the card's nominal rate while the span is short.
static void Fit(DeviceClock* c) {
    const int newest = At(*c, c->count - 1);
    const std::int64_t n0 = c->frame[newest], u0 = c->utc[newest];
    double sx = 0, sy = 0;
    for (int i = 0; i < c->count; ++i) {
        sx += static_cast<double>(c->frame[At(*c, i)] - n0);
        sy += static_cast<double>(c->utc[At(*c, i)] - u0);
    }
    const double mx = sx / c->count, my = sy / c->count;
    double period = NominalPeriod(c->rate);
    if (DeviceClockSpan(*c) >= kReadySpanNanoseconds) {
        double sxx = 0, sxy = 0;
        for (int i = 0; i < c->count; ++i) {
            const double x = static_cast<double>(c->frame[At(*c, i)] - n0) - mx;
            sxx += x * x;
            sxy += x * (static_cast<double>(c->utc[At(*c, i)] - u0) - my);
        }
        const double limit = NominalPeriod(c->rate) * kMaxRatePpm * 1e-6;
        period = std::clamp(sxy / sxx, NominalPeriod(c->rate) - limit, NominalPeriod(c->rate) + limit);
    }
    // The line through the points' centre, taken at the newest point. A
    // position that moves in steps (USB cards: a packet's frames) reads up
    // to a step behind: the line runs late by half a step on average.
    c->period = period;
    c->originFrame = n0;
    c->originUtc = u0 + static_cast<std::int64_t>(my - mx * period);
}

void NoteAudioReport(DeviceClock* c, const AudioReport& report, std::int64_t offset) {
    // The frame leaving the output at the report's instant.
    const std::int64_t played = report.written - report.delay;
    const std::int64_t utc = report.monotonic + offset;
    // Until frames are seen going out, the stream has not started and its
    // delay (0, or all that is queued) says nothing about time.
    if (report.delay > 0 && c->anyReport && played > c->lastPlayed) c->moving = true;
    c->anyReport = true;
    c->lastPlayed = played;
    c->lastFrame = played;
    c->lastUtc = utc;
    if (!c->moving || report.delay <= 0) return;
    if (c->count > 0 && std::llabs(WhenFrameLeaves(*c, played).utc - utc) > kSlipNanoseconds) c->count = 0;
    if (c->count == kClockPoints) {
        c->first = (c->first + 1) % kClockPoints;
        --c->count;
    }
    const int slot = At(*c, c->count++);
    c->frame[slot] = played;
    c->utc[slot] = utc;
    while (c->count > 2 && utc - c->utc[c->first] > kClockWindowNanoseconds) {
        c->first = (c->first + 1) % kClockPoints;
        --c->count;
    }
    Fit(c);
}

void ShiftDeviceClock(DeviceClock* c, std::int64_t by) {
    for (int i = 0; i < c->count; ++i) c->utc[At(*c, i)] += by;
    c->lastUtc += by;
    c->originUtc += by;
}

FrameTime WhenFrameLeaves(const DeviceClock& c, std::int64_t n) {
    if (c.count == 0) {
        // Only the latest report, and the nominal rate.
        const double period = NominalPeriod(c.rate);
        return {c.lastUtc + static_cast<std::int64_t>(static_cast<double>(n - c.lastFrame) * period), period};
    }
    return {c.originUtc + static_cast<std::int64_t>(static_cast<double>(n - c.originFrame) * c.period), c.period};
}

std::int64_t DeviceClockSpan(const DeviceClock& c) {
    return c.count < 2 ? 0 : c.utc[At(c, c.count - 1)] - c.utc[c.first];
}

bool DeviceClockReady(const DeviceClock& c) { return DeviceClockSpan(c) >= kReadySpanNanoseconds; }
