// Clocks and timer wake-ups on Linux.
#include <cerrno>
#include <ctime>
#include <sys/prctl.h>

#include "platform.h"

constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;

std::int64_t MonotonicNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * kNanosecondsPerSecond + now.tv_nsec;
}

void SleepUntilMonotonic(std::int64_t deadline) {
    timespec until{};
    until.tv_sec = static_cast<time_t>(deadline / kNanosecondsPerSecond);
    until.tv_nsec = static_cast<long>(deadline % kNanosecondsPerSecond);
    // An absolute deadline: a signal that interrupts the sleep costs nothing.
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}

UtcReading ReadUtcClock() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return {static_cast<std::int64_t>(now.tv_sec), static_cast<std::int32_t>(now.tv_nsec)};
}

void PrepareTimers() {
    // The default 50 us of timer slack would let the kernel wake us later.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
}
