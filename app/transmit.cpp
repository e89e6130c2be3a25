#include "transmit.h"

#include <cstdio>
#include <cstdlib>

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

UtcReading ReadUtcClockAt(std::int64_t* instant) {
    const std::int64_t before = MonotonicNanoseconds();
    const UtcReading reading = ReadUtcClock();
    const std::int64_t after = MonotonicNanoseconds();
    *instant = before + (after - before) / 2;
    return reading;
}

// The zone as a receiver shows it from bits 17 and 18, or the local
// zone's offset.
static void FormatZone(char* text, std::size_t size, const DcfTime& record, Zone zone, std::int64_t minute) {
    if (zone == ZONE_UTC) {
        std::snprintf(text, size, "UTC");
    } else if (zone == ZONE_CET) {
        std::snprintf(text, size, "%s", record.ZoneBits == 1 ? "CEST" : "CET");
    } else {
        const int offset = ZoneAt(zone, minute).offset;
        const int east = offset < 0 ? -offset : offset;
        std::snprintf(text, size, "UTC%c%02d:%02d%s", offset < 0 ? '-' : '+', east / 3600, east / 60 % 60,
                      record.ZoneBits == 1 ? " summer" : "");
    }
}

// "2026-12-07 10:15:00 UTC  DCF77 Mon 2026-12-07 11:16 CET  <bits 0-58>",
// the bits grouped as the frame's fields.
static void PrintStatusLine(std::int64_t frameStart, const DcfTime& record, const char* zone,
                            const std::uint8_t* frame) {
    static const char* const kWeekDays[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    static const int kGroupEnds[] = {15, 20, 28, 35, 41, 44, 49, 57};
    const std::tm start = BreakDownSeconds(frameStart);
    char bits[80];
    int n = 0;
    for (int second = 0, group = 0; second < kFrameLength - 1; ++second) {
        bits[n++] = static_cast<char>('0' + frame[second]);
        if (group < 8 && second == kGroupEnds[group]) {
            bits[n++] = ' ';
            ++group;
        }
    }
    bits[n] = '\0';
    const char* weekDay = record.WeekDay >= 1 && record.WeekDay <= 7 ? kWeekDays[record.WeekDay - 1] : "???";
    std::printf("%04d-%02d-%02d %02d:%02d:%02d UTC  DCF77 %s %04d-%02d-%02d %02d:%02d %s  %s\n",
                start.tm_year + 1900, start.tm_mon + 1, start.tm_mday, start.tm_hour, start.tm_min, start.tm_sec,
                weekDay, 2000 + record.Year, record.Month, record.Day, record.Hour, record.Minute, zone, bits);
    std::fflush(stdout);
}

// Keys the pulse that starts a second of the frame, and without following
// the clock also the rest of that second, as OneMinute does. The status
// line is printed while the first pulse is on: the pause after it counts
// from the onset, so the printing takes nothing from the timing.
static void KeySecond(int position, const std::uint8_t* frame, bool follow, bool status, std::int64_t frameStart,
                      const DcfTime& record, const char* zone) {
    const std::uint8_t symbol = frame[position];
    const std::int32_t width = symbol == kLongPulse ? ms200 : symbol == kShortPulse ? ms100 : 0;
    const std::int32_t rest = symbol == kLongPulse ? ms800 : symbol == kShortPulse ? ms900 : ms1000;
    if (width != 0) PinPlus12();
    if (status) PrintStatusLine(frameStart, record, zone, frame);
    if (width != 0) PauseMs(width);
    if (!follow) {
        PowerHigh(rest);
    } else if (width != 0) {
        // The rest of the second lasts until the clock's next second.
        PinMinus12();
    }
}

void Transmit(std::int64_t minute, std::int64_t minuteStart, const TransmitSettings& settings) {
    std::int64_t second = minute;  // the UTC second keyed next, since 1970
    // The UTC clock minus the monotonic one, as last read.
    std::int64_t offset = minute * kNanosecondsPerSecond - minuteStart;
    bool inFrame = false;  // the frame's seconds from 0 on have all been keyed
    std::int64_t builtFor = minute - 60;  // the UTC minute whose frame is built
    DcfTime record{};
    std::uint8_t frame[kFrameLength];
    char zone[32] = "";
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
        // The next frame is built in the minute mark's second, whose lack
        // of a pulse leaves time for it (a local zone may read files), or
        // when a step lands on a minute without one.
        const std::int64_t frameStart = second - position + (position == 59 ? 60 : 0);
        if ((position == 59 || position == 0) && builtFor != frameStart) {
            // The frame carries the minute that begins when it ends.
            record = RecordForMinute(frameStart + 60, settings.zone);
            DCF77(frame, record);
            FormatZone(zone, sizeof zone, record, settings.zone, frameStart + 60);
            builtFor = frameStart;
        }
        if (settings.follow) PauseUntil(second * kNanosecondsPerSecond - offset);
        if (position == 0) inFrame = true;
        if (inFrame)
            KeySecond(position, frame, settings.follow, settings.verbose && position == 0, second, record, zone);
        ++second;
    }
}
