#include "transmit.h"

#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/ntp_source.h"
#include "app/start_up.h"
#include "keying/keying.h"
#include "timecode/civil.h"
#include "timecode/timecode.h"

constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;
// A change of the UTC clock against the monotonic one larger than this
// between two readings a second apart is a step, not a slew: the kernel
// slews by half a millisecond a second at most.
constexpr std::int64_t kStepNanoseconds = 20'000'000;
// An onset that could not be keyed until this long after it was due (the
// process was held up) gives up its frame rather than key it late.
constexpr std::int64_t kLateNanoseconds = 20'000'000;

// The scaled offset of every 10 nominal ms of a second, on which the
// periods of every code end (JJY's Morse unit is 90 ms); worked out before
// the start so that no onset waits for the arithmetic.
static std::int32_t scaledEnds[101];

static std::int32_t ScaledEnd(int nominal) {
    assert(nominal >= 0 && nominal <= 1000 && nominal % 10 == 0);
    return scaledEnds[nominal / 10];
}

void PrepareTransmit(const TransmitSettings& settings, std::int64_t now) {
    for (int i = 0; i <= 100; ++i) scaledEnds[i] = ScaledDuration(i * 10);
    LoadFrameRules(settings, now);
}

// Keying one second of the frame: each period of its pattern begins with
// its line change and lasts until the next, scaled as the durations are;
// the last, when following the clock, until the clock's next second. As
// with the five durations, a period that scales to nothing changes nothing.
// Between the onset's change and its pause the caller may do some work:
// the pause counts from the change, so the work takes nothing from it.
struct SecondInProgress {
    SecondPattern pattern;
    int period;          // the period begun last
    std::int32_t start;  // where it begins in the second, pause units
    std::int32_t end;
};

static void BeginPeriod(SecondInProgress& s) {
    for (; s.period < s.pattern.count; ++s.period) {
        s.start = s.end;
        s.end = ScaledEnd(s.pattern.end[s.period]);
        if (s.end == s.start) continue;
        if (s.pattern.asserted[s.period]) PinPlus12();
        else PinMinus12();
        return;
    }
}

static SecondInProgress BeginSecond(Station station, const std::uint8_t* frame, int position) {
    SecondInProgress s{PatternOf(station, frame[position], position), 0, 0, 0};
    BeginPeriod(s);
    return s;
}

static void EndSecond(SecondInProgress& s, bool follow) {
    while (s.period < s.pattern.count) {
        if (!follow || s.period + 1 < s.pattern.count) PauseMs(s.end - s.start);
        ++s.period;
        BeginPeriod(s);
    }
}

// Builds the frame keyed from UTC minute `frameStart`, and its status line.
static void Build(const TransmitSettings& settings, std::int64_t frameStart, std::uint8_t* frame, char* status,
                  std::int64_t* builtFor) {
    BuildKeyedFrame(settings, frameStart, frame);
    if (settings.verbose) {
        FormatStatusLine(status, kStatusLineSize, settings, frameStart, frame);
        AddNtpOffset(status, kStatusLineSize);
    }
    *builtFor = frameStart;
}

static void Say(const char* text) {
    std::fputs(text, stdout);
    std::fflush(stdout);
}

// "clock stepped +30.000 s: frame cut, next whole frame at 19:12".
static void SayCut(const char* what, std::int64_t nanoseconds, std::int64_t nextMinute) {
    const std::tm next = BreakDownSeconds(nextMinute);
    char line[160];
    if (std::strcmp(what, "clock stepped") == 0 || std::strcmp(what, "NTP time moved") == 0)
        std::snprintf(line, sizeof line, "%s %+.3f s: frame cut, next whole frame at %02d:%02d UTC\n", what,
                      static_cast<double>(nanoseconds) / 1e9, next.tm_hour, next.tm_min);
    else
        std::snprintf(line, sizeof line, "%s %lld ms: frame cut, next whole frame at %02d:%02d UTC\n", what,
                      static_cast<long long>(nanoseconds / 1'000'000), next.tm_hour, next.tm_min);
    Say(line);
}

// Outside the windows the line rests, negated, as a closed port leaves it.
static void SayRest(const TransmitSettings& settings, std::int64_t from) {
    const std::int64_t next = NextSentMinute(settings, from);
    char line[160];
    if (next < 0) {
        std::snprintf(line, sizeof line, "outside the windows: no window opens within two days\n");
    } else {
        const std::tm at = BreakDownSeconds(next + ZoneAt(ZONE_LOCAL, next).offset);
        std::snprintf(line, sizeof line, "outside the windows: the next opens at %02d:%02d local time\n", at.tm_hour,
                      at.tm_min);
    }
    Say(line);
}

// With --ntp: the time sent at monotonic `now`, whose system clock reading
// is `utc`; at a minute's first second the newest NTP line is adopted
// first, and how far that moves the time sent goes to `moved`.
static std::int64_t NtpTimeAt(std::int64_t utc, std::int64_t now, bool minuteBegins, std::int64_t* moved) {
    const std::int64_t raw = now + RawMinusMonotonic();
    NoteSystemClock(raw, utc);
    const std::int64_t before = SentTime(utc, raw);
    if (minuteBegins) AdoptNtpAtMinute(raw);
    const std::int64_t sent = SentTime(utc, raw);
    *moved = sent - before;
    return sent;
}

// "NTP time moves -0.250 s at this minute", with --verbose.
static void SayNtpMove(std::int64_t moved) {
    char line[80];
    std::snprintf(line, sizeof line, "NTP time moves %+.3f s at this minute\n", static_cast<double>(moved) / 1e9);
    Say(line);
}

int Transmit(std::int64_t minute, std::int64_t minuteStart, const TransmitSettings& settings) {
    std::int64_t second = minute;  // the UTC second keyed next, since 1970
    // The UTC clock minus the monotonic one, as last read.
    std::int64_t offset = minute * kNanosecondsPerSecond - minuteStart;
    bool inFrame = false;  // the frame's seconds from 0 on have all been keyed
    bool resting = false;  // the line rests outside the windows
    int sent = 0;          // whole frames (or minutes of carrier) sent
    std::int64_t builtFor = minute - 60;  // the UTC minute whose frame `next` holds
    // Whether the minute `sendingFor` is sent; looked up in second 59 of
    // the minute before, so that no onset waits for the zone's rules.
    std::int64_t sendingFor = minute - 60;
    bool sending = false;
    std::uint8_t frame[kFrameLength], next[kFrameLength];
    char status[kStatusLineSize] = "";  // the status line of `next`
    if (settings.carrier) {
        PinMinus12();
        Say("steady full carrier, no time code\n");
    }
    for (;;) {
        if (settings.follow) {
            // Once a second: where the clock says this second begins.
            std::int64_t now = 0;
            const UtcReading reading = ReadUtcClockAt(&now);
            std::int64_t utc = reading.seconds * kNanosecondsPerSecond + reading.nanoseconds;
            // NTP time moves at a minute boundary: second 59 lasts longer or
            // shorter, and only a move of over a second cuts the frame.
            std::int64_t moved = 0;
            if (NtpInUse()) utc = NtpTimeAt(utc, now, FloorMod(second, 60) == 0, &moved);
            if (std::llabs(moved) <= kNanosecondsPerSecond) {
                if (settings.verbose && std::llabs(moved) >= 1'000'000) SayNtpMove(moved);
                offset += moved;
            }
            const std::int64_t fresh = utc - now;
            const std::int64_t onset = second * kNanosecondsPerSecond - fresh;
            const bool stepped = std::llabs(fresh - offset) > kStepNanoseconds;
            const std::int64_t nextMinute = (FloorDiv(utc, 60 * kNanosecondsPerSecond) + 1) * 60;
            if (stepped || now - onset > kLateNanoseconds) {
                // Stepped or held up: the frame in progress would carry the
                // wrong time, so it ends here; the clock's own seconds go on
                // unkeyed until its next minute starts a frame.
                if (moved != 0) SayCut("NTP time moved", moved, nextMinute);
                else if (stepped) SayCut("clock stepped", fresh - offset, nextMinute);
                else SayCut("held up", now - onset, nextMinute);
                inFrame = false;
                second = FloorDiv(utc, kNanosecondsPerSecond) + 1;
            }
            offset = fresh;
        }
        const int position = static_cast<int>(FloorMod(second, 60));
        if (sendingFor != second - position) {
            sendingFor = second - position;
            sending = !settings.carrier && MinuteIsSent(settings, sendingFor);
        }
        if (position == 0 && !sending && !resting && !settings.carrier) {
            PinMinus12();
            SayRest(settings, second);
        }
        if (position == 0) resting = !sending;
        // Each frame is built during the second before it (below); only the
        // first, and one after a step, before its own onset.
        if (position == 0 && sending && builtFor != second) Build(settings, second, next, status, &builtFor);
        // The start-up wait ends shortly before the first minute (following
        // the clock, the pause below waits for every onset).
        if (!settings.follow && second == minute) PauseUntil(minuteStart);
        if (settings.follow) {
            const std::int64_t due = second * kNanosecondsPerSecond - offset;
            // Woken late: keying the onset now would eat into its pulse.
            const std::int64_t late = PauseUntil(due) - due;
            if (late > kLateNanoseconds && (inFrame || (position == 0 && sending))) {
                SayCut("onset late by", late, second - position + 60);
                inFrame = false;
                ++second;
                continue;
            }
        }
        if (position == 0) {
            if (sending) std::memcpy(frame, next, sizeof frame);
            inFrame = sending;
        }
        SecondInProgress keyed{};
        if (inFrame) keyed = BeginSecond(settings.station, frame, position);
        if (inFrame && position == 0 && settings.verbose) Say(status);
        // A local zone may read files: while the onset's period runs.
        if (position == 59) {
            sendingFor = second + 1;
            sending = !settings.carrier && MinuteIsSent(settings, sendingFor);
            if (sending) Build(settings, second + 1, next, status, &builtFor);
        }
        const bool keyedFrame = inFrame;
        if (inFrame) EndSecond(keyed, settings.follow);
        else if (!settings.follow) PauseMs(ScaledEnd(1000));
        if (position == 59 && (keyedFrame || settings.carrier) && settings.minutes > 0 && ++sent == settings.minutes) {
            // The last second runs to its end before the line is let go.
            if (settings.follow) PauseUntil((second + 1) * kNanosecondsPerSecond - offset);
            PinClose();
            ReleaseTimers();
            return 0;
        }
        // The servers are asked after the second's last edge, done well
        // before the next onset.
        if (settings.follow && NtpInUse())
            ServiceNtp((second + 1) * kNanosecondsPerSecond - offset - kNtpOnsetMargin);
        ++second;
    }
}

void PrintFrames(std::int64_t minute, int count, const TransmitSettings& settings) {
    std::uint8_t frame[kFrameLength];
    char status[kStatusLineSize];
    for (int printed = 0; printed < count; minute += 60) {
        const std::int64_t start = NextSentMinute(settings, minute);
        if (start < 0) {
            Say("no window opens within two days\n");
            return;
        }
        minute = start;
        BuildKeyedFrame(settings, minute, frame);
        FormatStatusLine(status, sizeof status, settings, minute, frame);
        AddNtpOffset(status, sizeof status);
        std::string text = status;
        if (settings.verbosity >= 2) FormatFrameSeconds(&text, settings, frame);
        std::fputs(text.c_str(), stdout);
        ++printed;
    }
    std::fflush(stdout);
}
