#include "start_up.h"

#include "app/ntp_source.h"
#include "keying/keying.h"
#include "timecode/civil.h"
#include "timecode/timecode.h"

constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;
// The UTC clock is read again this long before the minute, so that a clock
// slewed or stepped during a long wait still starts the frames on its minute.
constexpr std::int64_t kRereadNanoseconds = 1'000'000'000;

void LoadFrameRules(const TransmitSettings& settings, std::int64_t now) {
    std::uint8_t frame[kFrameLength];
    BuildKeyedFrame(settings, now, frame);
    MinuteIsSent(settings, now);
}

// The UTC minute that begins next, at least `lead` ns after the reading.
static std::int64_t MinuteStartAfter(std::int64_t utc, std::int64_t instant, std::int64_t lead, std::int64_t* minute) {
    std::int64_t next = (FloorDiv(utc, 60 * kNanosecondsPerSecond) + 1) * 60;
    if (next * kNanosecondsPerSecond - utc < lead) next += 60;
    *minute = next;
    return instant + next * kNanosecondsPerSecond - utc;
}

std::int64_t NextMinuteStart(std::int64_t utc, std::int64_t instant, std::int64_t* minute) {
    return MinuteStartAfter(utc, instant, kStartLeadNanoseconds, minute);
}

static std::int64_t MinuteStartNow(std::int64_t lead, std::int64_t* minute) {
    std::int64_t instant = 0;
    const UtcReading reading = ReadUtcClockAt(&instant);
    std::int64_t utc = reading.seconds * kNanosecondsPerSecond + reading.nanoseconds;
    if (NtpInUse()) utc = SentTime(utc, instant + RawMinusMonotonic());
    return MinuteStartAfter(utc, instant, lead, minute);
}

std::int64_t WaitUntilShortlyBeforeMinute(std::int64_t* minute) {
    std::int64_t start = MinuteStartNow(kStartLeadNanoseconds, minute);
    LearnWakeLateness(start - kStartLeadNanoseconds - kRereadNanoseconds);
    start = MinuteStartNow(kStartLeadNanoseconds, minute);
    LearnWakeLateness(start - kStartLeadNanoseconds);
    return start;
}

std::int64_t WaitForNextMinute(std::int64_t* minute) {
    // No lead: a start at second 59.99 keys the minute that begins then.
    std::int64_t start = MinuteStartNow(0, minute);
    LearnWakeLateness(start - kStartLeadNanoseconds - kRereadNanoseconds);
    start = MinuteStartNow(0, minute);
    LearnWakeLateness(start - kStartLeadNanoseconds);
    PauseUntil(start);
    return start;
}
