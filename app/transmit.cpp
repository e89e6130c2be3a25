#include "transmit.h"

#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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
    // The C library reads the local zone's rules on first use.
    std::uint8_t frame[kFrameLength];
    BuildFrame(settings.station, settings.zone, now, frame);
}

static const char* const kStationNames[] = {"DCF77", "MSF", "WWVB", "JJY"};

// The frame's symbols as text: DCF77's 59 bits grouped by field; for the
// others ten seconds a group, M a marker and C a Morse second, and for MSF
// the A bits, then the B bits.
static void FormatSymbols(char* text, Station station, const std::uint8_t* frame) {
    static const int kDcf77GroupEnds[] = {15, 20, 28, 35, 41, 44, 49, 57, 99};
    int n = 0;
    if (station == STATION_DCF77) {
        for (int second = 0, group = 0; second < kFrameLength - 1; ++second) {
            text[n++] = static_cast<char>('0' + frame[second]);
            if (second == kDcf77GroupEnds[group]) {
                text[n++] = ' ';
                ++group;
            }
        }
        text[n] = '\0';
        return;
    }
    for (int line = 0; line < (station == STATION_MSF ? 2 : 1); ++line) {
        if (station == STATION_MSF) {
            text[n++] = line == 0 ? 'A' : 'B';
            text[n++] = ' ';
        }
        for (int second = 0; second < kFrameLength; ++second) {
            const std::uint8_t s = frame[second];
            const bool bitA = s == kLongPulse || s == kMsfBoth, bitB = s == kMsfSplit || s == kMsfBoth;
            text[n++] = s == kMinuteMark ? 'M' : s == kMorse ? 'C' : (line == 0 ? bitA : bitB) ? '1' : '0';
            if (second % 10 == 9) text[n++] = ' ';
        }
    }
    text[n - 1] = '\0';
}

// "2026-12-07 10:15:00 UTC  DCF77 Mon 2026-12-07 11:16 CET  <symbols>": the
// frame's start, then the minute it carries as a clock will show it.
void FormatStatusLine(char* line, std::size_t size, Station station, Zone zone, std::int64_t frameStart,
                      const std::uint8_t* frame) {
    static const char* const kWeekDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    const std::int64_t carried = CarriedMinute(station, frameStart);
    const CarriedZone carriedZone = ZoneCarried(station, zone, carried);
    char zoneName[32];
    if (carriedZone.name != nullptr) {
        std::snprintf(zoneName, sizeof zoneName, "%s", carriedZone.name);
    } else {
        const int east = carriedZone.offset < 0 ? -carriedZone.offset : carriedZone.offset;
        std::snprintf(zoneName, sizeof zoneName, "UTC%c%02d:%02d%s", carriedZone.offset < 0 ? '-' : '+', east / 3600,
                      east / 60 % 60, carriedZone.summer ? " summer" : "");
    }
    const std::tm start = BreakDownSeconds(frameStart);
    const std::tm local = BreakDownSeconds(carried + carriedZone.offset);
    char symbols[160];
    FormatSymbols(symbols, station, frame);
    std::snprintf(line, size, "%04d-%02d-%02d %02d:%02d:%02d UTC  %s %s %04d-%02d-%02d %02d:%02d %s  %s\n",
                  start.tm_year + 1900, start.tm_mon + 1, start.tm_mday, start.tm_hour, start.tm_min, start.tm_sec,
                  kStationNames[station], kWeekDays[local.tm_wday], local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, zoneName, symbols);
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
    BuildFrame(settings.station, settings.zone, frameStart, frame);
    if (settings.verbose) FormatStatusLine(status, kStatusLineSize, settings.station, settings.zone, frameStart, frame);
    *builtFor = frameStart;
}

void Transmit(std::int64_t minute, std::int64_t minuteStart, const TransmitSettings& settings) {
    std::int64_t second = minute;  // the UTC second keyed next, since 1970
    // The UTC clock minus the monotonic one, as last read.
    std::int64_t offset = minute * kNanosecondsPerSecond - minuteStart;
    bool inFrame = false;  // the frame's seconds from 0 on have all been keyed
    std::int64_t builtFor = minute - 60;  // the UTC minute whose frame `next` holds
    std::uint8_t frame[kFrameLength], next[kFrameLength];
    char status[kStatusLineSize] = "";  // the status line of `next`
    for (;;) {
        if (settings.follow) {
            // Once a second: where the clock says this second begins.
            std::int64_t now = 0;
            const UtcReading reading = ReadUtcClockAt(&now);
            const std::int64_t utc = reading.seconds * kNanosecondsPerSecond + reading.nanoseconds;
            const std::int64_t fresh = utc - now;
            const std::int64_t onset = second * kNanosecondsPerSecond - fresh;
            if (std::llabs(fresh - offset) > kStepNanoseconds || now - onset > kLateNanoseconds) {
                // Stepped or held up: the frame in progress would carry the
                // wrong time, so it ends here; the clock's own seconds go on
                // unkeyed until its next minute starts a frame.
                inFrame = false;
                second = reading.seconds + 1;
            }
            offset = fresh;
        }
        const int position = static_cast<int>(FloorMod(second, 60));
        // Each frame is built during the second before it (below); only the
        // first, and one after a step, before its own onset.
        if (position == 0 && builtFor != second) Build(settings, second, next, status, &builtFor);
        if (settings.follow) PauseUntil(second * kNanosecondsPerSecond - offset);
        if (position == 0) {
            std::memcpy(frame, next, sizeof frame);
            inFrame = true;
        }
        SecondInProgress keyed{};
        if (inFrame) keyed = BeginSecond(settings.station, frame, position);
        if (inFrame && position == 0 && settings.verbose) {
            std::fputs(status, stdout);
            std::fflush(stdout);
        }
        // A local zone may read files: while the onset's period runs.
        if (position == 59) Build(settings, second + 1, next, status, &builtFor);
        if (inFrame) EndSecond(keyed, settings.follow);
        ++second;
    }
}
