#include "schedule.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "keying/keying.h"
#include "timecode/civil.h"
#include "timecode/timecode.h"

// JJY on Kyushu's 60 kHz is named apart.
static const char* NameOf(const TransmitSettings& s) {
    return s.station == STATION_JJY && s.carrierHz == 60000 ? "JJY60" : StationName(s.station);
}

std::string FormatClockMinute(const ClockMinute& m) {
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d", m.year, m.month, m.day, m.hour, m.minute);
    return text;
}

// What a clock of the station shows for the minute that begins at UTC
// `carried`, as seconds since 1970 on its own dial.
static std::int64_t ShownAt(Station station, Zone zone, std::int32_t offset, std::int64_t carried) {
    return carried + ZoneCarried(station, zone, carried).offset + offset;
}

bool FrameStartShowing(Station station, Zone zone, std::int32_t offset, const ClockMinute& shown,
                       std::int64_t* frameStart) {
    const std::int64_t wanted = DaysFromCivil(shown.year, shown.month, shown.day) * kSecondsPerDay +
                                shown.hour * 3600 + shown.minute * 60;
    // Every offset a zone has had lies within a day of UTC: try each offset
    // found around the wanted minute, keep the earliest that fits.
    bool found = false;
    for (std::int64_t probe = wanted - offset - 27 * 3600; probe <= wanted - offset + 27 * 3600; probe += 900) {
        const std::int64_t carried = wanted - offset - ZoneCarried(station, zone, probe).offset;
        if (ShownAt(station, zone, offset, carried) != wanted) continue;
        const std::int64_t start = carried - CarriedMinute(station, 0);
        if (!found || start < *frameStart) *frameStart = start;
        found = true;
    }
    return found;
}

void BuildKeyedFrame(const TransmitSettings& settings, std::int64_t frameStart, std::uint8_t* frame) {
    BuildFrame(settings.station, settings.zone, frameStart + settings.shift, frame, settings.offset);
}

bool MinuteIsSent(const TransmitSettings& settings, std::int64_t frameStart) {
    if (settings.windowCount == 0) return true;
    const std::int64_t local = frameStart + ZoneAt(ZONE_LOCAL, frameStart).offset;
    const int minute = static_cast<int>(FloorMod(FloorDiv(local, 60), 24 * 60));
    for (int i = 0; i < settings.windowCount; ++i) {
        const Window& w = settings.windows[i];
        const bool inside = w.start < w.end ? minute >= w.start && minute < w.end : minute >= w.start || minute < w.end;
        if (inside) return true;
    }
    return false;
}

std::int64_t NextSentMinute(const TransmitSettings& settings, std::int64_t from) {
    for (std::int64_t minute = from; minute < from + 2 * kSecondsPerDay; minute += 60)
        if (MinuteIsSent(settings, minute)) return minute;
    return -1;
}

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

void FormatStatusLine(char* line, std::size_t size, const TransmitSettings& settings, std::int64_t frameStart,
                      const std::uint8_t* frame) {
    static const char* const kWeekDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    // Once the frame has ended a clock shows the minute that then begins.
    const std::int64_t shownFrom = frameStart + 60;
    const std::int64_t minute = shownFrom + settings.shift;
    const CarriedZone zone = ZoneCarried(settings.station, settings.zone, minute);
    char zoneName[64];
    if (zone.name != nullptr) std::snprintf(zoneName, sizeof zoneName, "%s", zone.name);
    else LocalZoneText(zoneName, sizeof zoneName, minute, zone.offset, zone.summer);
    char offset[32] = "";
    if (settings.offset != 0) {
        const std::int32_t east = settings.offset < 0 ? -settings.offset : settings.offset;
        std::snprintf(offset, sizeof offset, " %c%d:%02d", settings.offset < 0 ? '-' : '+', east / 3600,
                      east / 60 % 60);
    }
    // A zone whose offset is not whole minutes (one counting leap seconds)
    // is sent to the nearest minute: "(+27 s)" says by how much.
    const std::int32_t rounded =
        settings.station == STATION_DCF77 && settings.zone == ZONE_LOCAL ? ZoneAt(ZONE_LOCAL, minute).roundedBy : 0;
    if (rounded != 0)
        std::snprintf(offset + std::strlen(offset), sizeof offset - std::strlen(offset), " (%+d s)",
                      rounded);
    const std::tm start = BreakDownSeconds(frameStart);
    const std::tm shown = BreakDownSeconds(minute + zone.offset + settings.offset);
    const std::tm at = BreakDownSeconds(shownFrom);
    const int n = std::snprintf(line, size, "%04d-%02d-%02d %02d:%02d:%02d UTC  %s  clocks show %s %04d-%02d-%02d %02d:%02d %s%s at %02d:%02d UTC\n",
                                start.tm_year + 1900, start.tm_mon + 1, start.tm_mday, start.tm_hour, start.tm_min,
                                start.tm_sec, NameOf(settings), kWeekDays[shown.tm_wday], shown.tm_year + 1900,
                                shown.tm_mon + 1, shown.tm_mday, shown.tm_hour, shown.tm_min, zoneName, offset,
                                at.tm_hour, at.tm_min);
    if (settings.verbosity < 2 || n < 0 || static_cast<std::size_t>(n) >= size) return;
    char stamp[24], symbols[160];
    std::snprintf(stamp, sizeof stamp, "%.23s", line);
    FormatSymbols(symbols, settings.station, frame);
    std::snprintf(line + n, size - static_cast<std::size_t>(n), "%s  %s\n", stamp, symbols);
}

void FormatFrameSeconds(std::string* text, const TransmitSettings& settings, const std::uint8_t* frame) {
    static const char kSymbolNames[] = "01M??C";  // 0, 1, marker, Morse
    // MSF sends two bits a second, A and B, and switches its carrier off.
    const bool msf = settings.station == STATION_MSF;
    for (int second = 0; second < kFrameLength; ++second) {
        const std::uint8_t s = frame[second];
        const SecondPattern p = PatternOf(settings.station, s, second);
        char symbol[8];
        if (msf && s != kMinuteMark)
            std::snprintf(symbol, sizeof symbol, "A%d B%d", s == kLongPulse || s == kMsfBoth,
                          s == kMsfSplit || s == kMsfBoth);
        else
            std::snprintf(symbol, sizeof symbol, msf ? "%c    " : "%c", kSymbolNames[s]);
        char line[256];
        int n = std::snprintf(line, sizeof line, "  :%02d  %s  %s", second, symbol, msf ? "off" : "reduced");
        std::int16_t begin = 0;
        bool any = false;
        for (int i = 0; i < p.count; ++i) {
            if (p.asserted[i]) {
                n += std::snprintf(line + n, sizeof line - static_cast<std::size_t>(n), " %d-%d",
                                   static_cast<int>(ScaledDuration(begin)), static_cast<int>(ScaledDuration(p.end[i])));
                any = true;
            }
            begin = p.end[i];
        }
        std::snprintf(line + n, sizeof line - static_cast<std::size_t>(n), any ? " ms\n" : " never\n");
        *text += line;
    }
}
