#include "utc_scale.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

void ResetUtcScale(UtcScale* s) {
    s->any = false;
    s->lastRaw = s->offset = s->steps = 0;
    s->startRaw = s->startSteady = s->slotRaw = s->slotSteady = 0;
    s->first = s->slots = 0;
    s->rate = 1;
    s->measuredPpm = 0;
    s->clamped = false;
}

static void SetRate(UtcScale* s, double rate) {
    s->measuredPpm = (rate - 1) * 1e6;
    const double limit = kMaxScalePpm * 1e-6;
    s->clamped = s->clamped || std::abs(rate - 1) > limit;
    s->rate = std::clamp(rate, 1 - limit, 1 + limit);
}

static void MedianRate(UtcScale* s) {
    double rates[kRateSlots];
    for (int i = 0; i < s->slots; ++i) rates[i] = s->slotRate[(s->first + i) % kRateSlots];
    const int middle = s->slots / 2;
    std::nth_element(rates, rates + middle, rates + s->slots);
    double median = rates[middle];
    if (s->slots % 2 == 0) median = (median + *std::max_element(rates, rates + middle)) / 2;
    SetRate(s, median);
}

std::int64_t NoteClockReading(UtcScale* s, std::int64_t raw, std::int64_t utc) {
    const std::int64_t offset = utc - raw;
    if (!s->any) {
        s->any = true;
        s->lastRaw = s->startRaw = s->slotRaw = raw;
        s->offset = offset;
        s->startSteady = s->slotSteady = offset;
        return 0;
    }
    const std::int64_t elapsed = raw - s->lastRaw;
    const double expected = (s->rate - 1) * static_cast<double>(elapsed);
    const double change = static_cast<double>(offset - s->offset) - expected;
    const double allowed = kMaxSlewPpm * 1e-6 * static_cast<double>(elapsed) + kReadingNanoseconds;
    const std::int64_t step = std::abs(change) > allowed ? std::llround(change) : 0;
    s->steps += step;
    s->offset = offset;
    s->lastRaw = raw;
    const std::int64_t steady = offset - s->steps;
    if (raw - s->slotRaw >= kRateSlotNanoseconds) {
        const int slot = (s->first + s->slots) % kRateSlots;
        if (s->slots == kRateSlots)
            s->first = (s->first + 1) % kRateSlots;
        else
            ++s->slots;
        s->slotRate[slot] = 1 + static_cast<double>(steady - s->slotSteady) / static_cast<double>(raw - s->slotRaw);
        s->slotRaw = raw;
        s->slotSteady = steady;
        MedianRate(s);
    } else if (s->slots == 0 && raw - s->startRaw >= 1'000'000'000) {
        // Before the first slot: the mean since the start.
        SetRate(s, 1 + static_cast<double>(steady - s->startSteady) / static_cast<double>(raw - s->startRaw));
    }
    return step;
}

std::int64_t UtcOfRaw(const UtcScale& s, std::int64_t raw) {
    return raw + s.offset + std::llround((s.rate - 1) * static_cast<double>(raw - s.lastRaw));
}
