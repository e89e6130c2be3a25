// Pairs a UTC reading with the monotonic instant it was taken at.
#include "keying.h"

UtcReading ReadUtcClockAt(std::int64_t* instant) {
    UtcReading best{};
    std::int64_t bestWidth = 0;
    // A thread preempted between the three reads moves the midpoint by half
    // the delay; a pulse train anchored there would carry that for its whole
    // run. So a wide bracket is taken again, and the narrowest kept.
    for (int attempt = 0; attempt < kReadingAttempts; ++attempt) {
        const std::int64_t before = MonotonicNanoseconds();
        const UtcReading reading = ReadUtcClock();
        const std::int64_t after = MonotonicNanoseconds();
        if (attempt == 0 || after - before < bestWidth) {
            best = reading;
            bestWidth = after - before;
            *instant = before + bestWidth / 2;
        }
        if (bestWidth <= kNarrowBracketNanoseconds) break;
    }
    return best;
}

// The raw monotonic clock minus the monotonic one, read between two
// readings of the latter no more than 20 us apart where the system allows.
std::int64_t RawMinusMonotonic() {
    std::int64_t best = 0, narrowest = -1;
    for (int i = 0; i < 5 && (narrowest < 0 || narrowest > 20'000); ++i) {
        const std::int64_t before = MonotonicNanoseconds();
        const std::int64_t raw = RawMonotonicNanoseconds();
        const std::int64_t after = MonotonicNanoseconds();
        if (narrowest < 0 || after - before < narrowest) {
            narrowest = after - before;
            best = raw - (before + (after - before) / 2);
        }
    }
    return best;
}
