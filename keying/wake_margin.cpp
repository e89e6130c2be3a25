#include "wake_margin.h"

#include <algorithm>

constexpr std::int64_t kMinute = 60'000'000'000;

WakeRecord EmptyWakeRecord() {
    WakeRecord r{};
    for (std::int64_t& m : r.minuteOf) m = -1;
    r.firstWake = -1;
    return r;
}

// Whether slot `slot` holds one of the last kWakeMinutes minutes before `minute`, inclusive.
static bool Recent(const WakeRecord& r, int slot, std::int64_t minute) {
    return r.minuteOf[slot] >= 0 && r.minuteOf[slot] <= minute && r.minuteOf[slot] > minute - kWakeMinutes;
}

void NoteWake(WakeRecord* r, std::int64_t now, std::int64_t late) {
    const std::int64_t minute = now / kMinute;
    const int slot = static_cast<int>(minute % kWakeMinutes);
    if (r->minuteOf[slot] != minute) {
        // A minute gone by: its slot starts afresh.
        r->minuteOf[slot] = minute;
        std::fill(r->late[slot], r->late[slot] + kWakeBins, 0);
        r->wakes[slot] = 0;
    }
    const std::int64_t bin = std::clamp<std::int64_t>(late / kWakeBinNanoseconds, 0, kWakeBins - 1);
    ++r->late[slot][bin];
    ++r->wakes[slot];
    if (r->firstWake < 0) r->firstWake = now;
}

// The lateness that at most 1000 - `perMille` of every 1000 `wakes`
// counted in `counts` exceed: the upper edge of the bin it lies in.
static std::int64_t Percentile(const std::int64_t* counts, std::int64_t wakes, int perMille) {
    std::int64_t above = 0;
    int bin = kWakeBins - 1;
    for (; bin > 0; --bin) {
        above += counts[bin];
        if (above * 1000 > wakes * (1000 - perMille)) break;
    }
    return (bin + 1) * kWakeBinNanoseconds;
}

std::int64_t WakeMargin(const WakeRecord& r, std::int64_t now) {
    const std::int64_t minute = now / kMinute;
    std::int64_t counts[kWakeBins] = {};
    std::int64_t wakes = 0;
    for (int slot = 0; slot < kWakeMinutes; ++slot) {
        if (!Recent(r, slot, minute)) continue;
        for (int bin = 0; bin < kWakeBins; ++bin) counts[bin] += r.late[slot][bin];
        wakes += r.wakes[slot];
    }
    if (wakes == 0) return kMinWakeMargin;
    // A pause watches the clock for about the margin less the lateness:
    // the wakes of the time the record covers, with their median lateness,
    // set how wide a margin the budget allows.
    const std::int64_t since = std::max(r.firstWake, (minute - kWakeMinutes + 1) * kMinute);
    const double span = static_cast<double>(std::max<std::int64_t>(now - since, 1'000'000'000));
    const auto watch = static_cast<std::int64_t>(kWakeBudget * span / static_cast<double>(wakes));
    const std::int64_t tail = Percentile(counts, wakes, 999);
    const std::int64_t margin = std::min(tail + tail / 4, watch + Percentile(counts, wakes, 500));
    // In whole microseconds, as the clock is watched.
    return std::clamp(margin / 1'000 * 1'000, kMinWakeMargin, kMaxWakeMargin);
}
