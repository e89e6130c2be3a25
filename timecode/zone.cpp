#include "zone.h"

#include <ctime>

#include "timecode/civil.h"

// The last Sunday of a 31-day month, as days since 1970.
static std::int64_t LastSundayOf31DayMonth(std::int64_t year, int month) {
    const std::int64_t last = DaysFromCivil(year, month, 31);
    return last - FloorMod(last + 4, 7);  // 1970-01-01 was a Thursday (4)
}

std::int64_t EuSummerTimeStart(std::int64_t year) { return LastSundayOf31DayMonth(year, 3) * kSecondsPerDay + 3600; }

std::int64_t EuSummerTimeEnd(std::int64_t year) { return LastSundayOf31DayMonth(year, 10) * kSecondsPerDay + 3600; }

std::int32_t UkOffsetAt(std::int64_t utc) {
    const std::int64_t year = BreakDownSeconds(utc).tm_year + 1900LL;
    return utc >= EuSummerTimeStart(year) && utc < EuSummerTimeEnd(year) ? 3600 : 0;
}

bool UsDaylightTimeAtStartOf(std::int64_t day) {
    const std::int64_t year = BreakDownSeconds(day * kSecondsPerDay).tm_year + 1900LL;
    // The second Sunday of March lies on 8 .. 14 March, the first of
    // November on 1 .. 7 November (1970-01-01 was a Thursday).
    const std::int64_t march8 = DaysFromCivil(year, 3, 8);
    const std::int64_t november1 = DaysFromCivil(year, 11, 1);
    const std::int64_t start = march8 + FloorMod(3 - march8, 7);
    const std::int64_t end = november1 + FloorMod(3 - november1, 7);
    // 02:00 local is after 00:00 UTC on both days in every mainland zone.
    return day > start && day <= end;
}

// The C library's local time: TZ or /etc/localtime on POSIX systems, TZ or
// the system's zone on Windows. The offset to the second, from the wall
// time it gives (a zone counting leap seconds, such as right/Europe/Berlin,
// is off UTC by them); 0 where the C library knows no local time.
static std::int64_t RawLocalOffset(std::int64_t utc) {
    const std::time_t t = static_cast<std::time_t>(utc);
    const std::tm* local = std::localtime(&t);
    if (local == nullptr) return 0;
    const std::int64_t wall = DaysFromCivil(local->tm_year + 1900LL, local->tm_mon + 1, local->tm_mday) * kSecondsPerDay +
                              local->tm_hour * 3600 + local->tm_min * 60 + local->tm_sec;
    return wall - utc;
}

// The offset to the nearest whole minute (halves upwards): frames carry
// whole minutes, and a clock set from a truncated one would be a minute off.
static std::int64_t RoundToMinute(std::int64_t offset) { return FloorDiv(offset + 30, 60) * 60; }

static ZoneState LocalZoneAt(std::int64_t utc) {
    const std::int64_t raw = RawLocalOffset(utc);
    const std::int64_t offset = RoundToMinute(raw);
    // Summer time is the larger of the year's offsets, not the C library's
    // tm_isdst: the zone database marks Irish winter (GMT) as daylight
    // saving time and summer (IST, UTC+1) as standard time, and Morocco's
    // weeks of UTC+0 around Ramadan as daylight saving time. DCF77's bits 17
    // and 18 tell which of the two offsets a clock shows, summer time (CEST)
    // being the larger; so a zone keeps summer time while it is ahead of the
    // smallest offset it has that year (Morocco: all year but the Ramadan
    // weeks), and a zone that never changes keeps standard time. Weekly
    // samples meet every period of a week or longer.
    const std::int64_t yearStart = DaysFromCivil(BreakDownSeconds(utc).tm_year + 1900LL, 1, 1) * kSecondsPerDay;
    bool summer = false;
    for (int week = 0; week < 53 && !summer; ++week)
        summer = RoundToMinute(RawLocalOffset(yearStart + week * 7 * kSecondsPerDay)) < offset;
    return {static_cast<std::int32_t>(offset), summer, static_cast<std::int32_t>(offset - raw)};
}

ZoneState ZoneAt(Zone zone, std::int64_t utc) {
    switch (zone) {
    case ZONE_CET: {
        const std::int64_t year = BreakDownSeconds(utc).tm_year + 1900LL;
        const bool summer = utc >= EuSummerTimeStart(year) && utc < EuSummerTimeEnd(year);
        return {summer ? 7200 : 3600, summer, 0};
    }
    case ZONE_LOCAL: return LocalZoneAt(utc);
    case ZONE_UTC: break;
    }
    return {0, false, 0};
}

DcfTime RecordForMinute(std::int64_t utc, Zone zone, std::int32_t shown) {
    const ZoneState state = ZoneAt(zone, utc);
    DcfTime record{};
    FillFromUtc(record, BreakDownSeconds(utc + state.offset + shown));
    if (zone == ZONE_UTC) return record;
    record.ZoneBits = state.summer ? 1 : 2;
    // A1 (bit 16): in the frames whose minutes lie from 59 minutes before
    // a change of offset up to the change itself. The offset just before
    // this minute then differs from the one 59 minutes after its start.
    record.SummerTimeAnnounce = ZoneAt(zone, utc - 1).offset != ZoneAt(zone, utc + 59 * 60).offset;
    return record;
}
