#include "ntp_time.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

void ResetNtpTime(NtpTime* t) {
    t->first = t->count = 0;
    t->held = false;
    t->heldRaw = t->heldNtp = t->heldDelay = 0;
    t->newest = t->output = NtpLine{false, 0, 0, 1};
    t->rateMeasured = false;
    t->rateErrorPpm = 0;
}

std::int64_t NtpOfRaw(const NtpLine& line, std::int64_t raw) {
    const std::int64_t since = raw - line.raw0;
    return line.ntp0 + since + std::llround(static_cast<double>(since) * (line.rate - 1));
}

static int At(const NtpTime& t, int i) { return (t.first + i) % kNtpPoints; }

// The line through the measurements: least squares on NTP minus raw
// against raw, about the latest one so that the numbers stay small; with
// the fallback's slope while they span too little.
static void Fit(NtpTime* t, double fallbackRate) {
    const int last = At(*t, t->count - 1);
    const std::int64_t lastRaw = t->raw[last], lastOffset = t->ntp[last] - t->raw[last];
    double x[kNtpPoints], y[kNtpPoints], meanX = 0, meanY = 0, halfDelay = 0;
    for (int i = 0; i < t->count; ++i) {
        const int k = At(*t, i);
        x[i] = static_cast<double>(t->raw[k] - lastRaw);
        y[i] = static_cast<double>(t->ntp[k] - t->raw[k] - lastOffset);
        meanX += x[i] / t->count;
        meanY += y[i] / t->count;
        halfDelay += static_cast<double>(t->delay[k]) / 2 / t->count;
    }
    double sxx = 0, sxy = 0;
    for (int i = 0; i < t->count; ++i) {
        sxx += (x[i] - meanX) * (x[i] - meanX);
        sxy += (x[i] - meanX) * (y[i] - meanY);
    }
    const std::int64_t span = lastRaw - t->raw[At(*t, 0)];
    t->rateMeasured = span >= kNtpRateSpanNanoseconds && sxx > 0;
    const double slope = t->rateMeasured ? sxy / sxx : fallbackRate - 1;
    const double intercept = meanY - slope * meanX;
    if (t->rateMeasured) {
        // The measurements' error: their scatter about the line where
        // there are enough of them, at least half their round trip.
        double squares = 0;
        for (int i = 0; i < t->count; ++i) squares += std::pow(y[i] - intercept - slope * x[i], 2);
        const double scatter = t->count > 2 ? std::sqrt(squares / (t->count - 2)) : 0;
        const double error = std::max({scatter, halfDelay, static_cast<double>(kNtpLeastErrorNanoseconds)});
        t->rateErrorPpm = error / std::sqrt(sxx) * 1e6;
    }
    t->newest = {true, lastRaw, lastRaw + lastOffset + std::llround(intercept), 1 + slope};
}

static void Add(NtpTime* t, std::int64_t raw, std::int64_t ntp, std::int64_t delay) {
    if (t->count == kNtpPoints) {
        t->first = (t->first + 1) % kNtpPoints;
        --t->count;
    }
    const int k = At(*t, t->count++);
    t->raw[k] = raw;
    t->ntp[k] = ntp;
    t->delay[k] = delay;
}

NtpTaken NoteNtpMeasurement(NtpTime* t, std::int64_t raw, std::int64_t ntp, std::int64_t delay, double fallbackRate) {
    NtpTaken taken = NTP_TAKEN;
    const std::int64_t off = t->count > 0 ? ntp - NtpOfRaw(t->newest, raw) : 0;
    if (std::llabs(off) > kNtpDisagreeNanoseconds) {
        const double expected = static_cast<double>(raw - t->heldRaw) * t->newest.rate;
        if (!t->held || std::abs(static_cast<double>(ntp - t->heldNtp) - expected) > kNtpAgreeNanoseconds) {
            t->held = true;
            t->heldRaw = raw;
            t->heldNtp = ntp;
            t->heldDelay = delay;
            return NTP_HELD;
        }
        // Two agree: the server's time has moved, and the older
        // measurements describe a time no longer served.
        t->first = t->count = 0;
        Add(t, t->heldRaw, t->heldNtp, t->heldDelay);
        taken = NTP_REPLACED;
    } else if (const double drift = t->count > 0 ? kNtpMostDriftPpm * 1e-6 *
                                                        static_cast<double>(raw - t->raw[At(*t, t->count - 1)])
                                                  : 0;
               std::llabs(off) > std::max({kNtpStepNanoseconds, delay, static_cast<std::int64_t>(std::llround(drift))})) {
        for (int i = 0; i < t->count; ++i) t->ntp[At(*t, i)] += off;
        taken = NTP_STEPPED;
    }
    t->held = false;
    Add(t, raw, ntp, delay);
    Fit(t, fallbackRate);
    return taken;
}

std::int64_t AdoptNtpLine(NtpTime* t, double fallbackRate, std::int64_t raw) {
    if (t->count == 0) return 0;
    Fit(t, fallbackRate);
    const std::int64_t change = t->output.valid ? NtpOfRaw(t->newest, raw) - NtpOfRaw(t->output, raw) : 0;
    t->output = t->newest;
    return change;
}

bool NtpRateGood(const NtpTime& t) { return t.rateMeasured && t.rateErrorPpm < kNtpRateGoodPpm; }
