#include <algorithm>

#include "keying.h"

constexpr std::int64_t kNanosecondsPerMs = 1'000'000;

// Monotonic deadline of the last pause; the next pause counts from here.
static std::int64_t chainDeadline = 0;
// Whether chainDeadline belongs to a chain that the next pause may extend.
static bool chainRunning = false;
// Recent timer wake-up lateness: the peak, decaying by a sixteenth a pause.
static std::int64_t wakeLatency = 0;

std::int64_t EarlyWakeNanoseconds() {
    // A quarter on top of the recent peak covers most wake-ups; the upper
    // bound keeps a busy machine from turning the pauses into spinning.
    return std::clamp(wakeLatency + wakeLatency / 4, kMinEarlyWakeNanoseconds, kMaxEarlyWakeNanoseconds);
}

static void NoteWakeLatency(std::int64_t late) {
    wakeLatency = std::max(late, wakeLatency - wakeLatency / 16);
}

// Sleeps until shortly before `deadline`, then watches the monotonic clock
// for the rest, since a timer alone wakes a varying while too late. `now`
// is a reading taken just before.
static std::int64_t WaitUntil(std::int64_t deadline, std::int64_t now) {
    const std::int64_t early = EarlyWakeNanoseconds();
    if (deadline - now > early) {
        const std::int64_t target = deadline - early;
        SleepUntilMonotonic(target);
        now = MonotonicNanoseconds();
        NoteWakeLatency(now - target);
    }
    while (now < deadline) now = MonotonicNanoseconds();
    return now;
}

void AnchorPauses(std::int64_t instant) {
    chainDeadline = instant;
    chainRunning = true;
}

std::int64_t PauseUntil(std::int64_t deadline) {
    const std::int64_t now = MonotonicNanoseconds();
    AnchorPauses(deadline);
    return deadline > now ? WaitUntil(deadline, now) : now;
}

void PauseMs(std::int32_t ms) {
    const std::int64_t now = MonotonicNanoseconds();
    // A pause that starts long after the previous one ended (the process was
    // held up) would otherwise race through the missed time with no pauses.
    if (!chainRunning || now - chainDeadline > kChainBreakNanoseconds) AnchorPauses(now);
    if (ms <= 0) return;
    chainDeadline += ms * kNanosecondsPerMs;
    WaitUntil(chainDeadline, now);
}
