// Clocks and timer wake-ups on Linux.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sched.h>
#include <string>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/timex.h>
#include <unistd.h>

#include "platform.h"

// What PrepareTimers and RaisePriority were granted.
static RealTimeGrant granted = {false, false,
                                "run it as root, or with the limits the service unit sets "
                                "(LimitRTPRIO=10, LimitMEMLOCK=64M)"};

constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;

std::int64_t MonotonicNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * kNanosecondsPerSecond + now.tv_nsec;
}

std::int64_t RawMonotonicNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC_RAW, &now);
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
    granted.lockedMemory = mlockall(MCL_CURRENT | MCL_FUTURE) == 0;
}

// Timer slack and locked memory end with the process.
void ReleaseTimers() {}

void RaisePriority() {
    // Wake ahead of ordinary processes where the system allows it (root or
    // CAP_SYS_NICE). A pause watches the clock for 3 ms at most, and option
    // runs within 0.3 % of a core, so this cannot starve the machine;
    // without the privilege nothing changes.
    sched_param priority{};
    priority.sched_priority = 10;
    granted.priority = sched_setscheduler(0, SCHED_FIFO, &priority) == 0;
}

RealTimeGrant RealTimeGranted() { return granted; }

ClockSync ClockSynchronisation() {
    // The kernel's clock status, as NTP daemons and chrony keep it.
    timex status{};
    const int state = adjtimex(&status);
    if (state < 0) return CLOCK_SYNC_UNKNOWN;
    return state == TIME_ERROR || (status.status & STA_UNSYNC) != 0 ? CLOCK_UNSYNCHRONISED : CLOCK_SYNCHRONISED;
}

bool LocalZoneKnown() {
    const char* tz = std::getenv("TZ");
    // Without TZ the C library reads /etc/localtime, and takes UTC if none.
    if (tz == nullptr) return access("/etc/localtime", R_OK) == 0;
    const bool file = *tz == ':';
    if (file) ++tz;
    if (*tz == '\0') return false;
    // A rule such as EST5EDT or <+0130>-1:30 carries its offset; anything
    // else names a file of zone data.
    if (!file && std::strpbrk(tz, "0123456789") != nullptr && std::strchr(tz, '/') == nullptr) return true;
    if (*tz == '/') return access(tz, R_OK) == 0;
    const char* dir = std::getenv("TZDIR");
    const std::string path = std::string(dir != nullptr && *dir ? dir : "/usr/share/zoneinfo") + "/" + tz;
    return access(path.c_str(), R_OK) == 0;
}

bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) == 1; }
