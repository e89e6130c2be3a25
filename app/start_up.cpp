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

std::int64_t NextMinuteStart(std::int64_t utc, std::int64_t instant, std::int64_t* minute) {
    std::int64_t next = (FloorDiv(utc, 60 * kNanosecondsPerSecond) + 1) * 60;
    if (next * kNanosecondsPerSecond - utc < kStartLeadNanoseconds) next += 60;
    *minute = next;
    return instant + next * kNanosecondsPerSecond - utc;
}

static std::int64_t NextMinuteStartNow(std::int64_t* minute) {
    std::int64_t instant = 0;
    const UtcReading reading = ReadUtcClockAt(&instant);
    std::int64_t utc = reading.seconds * kNanosecondsPerSecond + reading.nanoseconds;
    if (NtpInUse()) utc = SentTime(utc, instant + RawMinusMonotonic());
    return NextMinuteStart(utc, instant, minute);
}

std::int64_t WaitUntilShortlyBeforeMinute(std::int64_t* minute) {
    std::int64_t start = NextMinuteStartNow(minute);
    LearnWakeLateness(start - kStartLeadNanoseconds - kRereadNanoseconds);
    start = NextMinuteStartNow(minute);
    LearnWakeLateness(start - kStartLeadNanoseconds);
    return start;
}
