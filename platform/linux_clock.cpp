// Clocks and timer wake-ups on Linux.
#include <cerrno>
#include <ctime>
#include <sched.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <unistd.h>

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
    // Never wait for a page to come back in the middle of a pulse; allowed
    // to root or within the memory-lock limit, and harmless where refused.
    mlockall(MCL_CURRENT | MCL_FUTURE);
}

// Timer slack and locked memory end with the process.
void ReleaseTimers() {}

void RaisePriority() {
    // Wake ahead of ordinary processes where the system allows it (root or
    // CAP_SYS_NICE). A pause spins for half a millisecond at most, so this
    // cannot starve the machine; without the privilege nothing changes.
    sched_param priority{};
    priority.sched_priority = 10;
    sched_setscheduler(0, SCHED_FIFO, &priority);
}

bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) == 1; }
