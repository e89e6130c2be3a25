#include <algorithm>

#include "keying.h"
#include "wake_margin.h"

constexpr std::int64_t kNanosecondsPerMs = 1'000'000;

// Monotonic deadline of the last pause; the next pause counts from here.
static std::int64_t chainDeadline = 0;
// Whether chainDeadline belongs to a chain that the next pause may extend.
static bool chainRunning = false;
// Recent timer wake-up lateness: the peak, decaying by a sixteenth a pause.
static std::int64_t wakeLatency = 0;
// Whether the pauses wake by the lateness learned in `wakes` (the keying,
// from its start-up wait on) rather than by the decaying peak (quaver).
static bool learning = false;
// The timer's lateness over the last minutes, learned from every wake.
static WakeRecord wakes = EmptyWakeRecord();

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
    const std::int64_t early = learning ? WakeMargin(wakes, now) : EarlyWakeNanoseconds();
    if (deadline - now > early) {
        const std::int64_t target = deadline - early;
        SleepUntilMonotonic(target);
        now = MonotonicNanoseconds();
        NoteWakeLatency(now - target);
        if (learning) NoteWake(&wakes, now, now - target);
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

void LearnWakeLateness(std::int64_t until) {
    learning = true;
    // Steps as far apart as a second's pauses, so that the record's count
    // of wakes stands for the keying's.
    constexpr std::int64_t kStep = 500'000'000;
    for (std::int64_t now = MonotonicNanoseconds(); now < until; now = MonotonicNanoseconds()) {
        const std::int64_t target = std::min(until, now + kStep);
        SleepUntilMonotonic(target);
        const std::int64_t woke = MonotonicNanoseconds();
        NoteWake(&wakes, woke, woke - target);
    }
}
