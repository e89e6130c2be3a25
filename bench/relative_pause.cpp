// The plain pause, for comparison: each one simply sleeps its milliseconds
// from whenever it is called, so line time and wake-up latency add up.
#include <ctime>

#include "keying/keying.h"

void PauseMs(std::int32_t ms) {
    if (ms <= 0) return;
    const timespec wait{ms / 1000, static_cast<long>(ms % 1000) * 1'000'000};
    nanosleep(&wait, nullptr);
}

void AnchorPauses(std::int64_t) {}

std::int64_t PauseUntil(std::int64_t deadline) {
    const std::int64_t left = deadline - MonotonicNanoseconds();
    if (left <= 0) return deadline - left;
    const timespec wait{static_cast<time_t>(left / 1'000'000'000), static_cast<long>(left % 1'000'000'000)};
    nanosleep(&wait, nullptr);
    return MonotonicNanoseconds();
}

std::int64_t EarlyWakeNanoseconds() { return 0; }
void LearnWakeLateness(std::int64_t until) {
    const std::int64_t left = until - MonotonicNanoseconds();
    if (left <= 0) return;
    const timespec wait{static_cast<time_t>(left / 1'000'000'000), static_cast<long>(left % 1'000'000'000)};
    nanosleep(&wait, nullptr);
}
