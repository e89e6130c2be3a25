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

// The C library's local time: TZ or /etc/localtime on POSIX systems, TZ or
// the system's zone on Windows.
static ZoneState LocalZoneAt(std::int64_t utc) {
    const std::time_t t = static_cast<std::time_t>(utc);
    const std::tm* local = std::localtime(&t);
    if (local == nullptr) return {0, false};
    const std::int64_t wall = DaysFromCivil(local->tm_year + 1900LL, local->tm_mon + 1, local->tm_mday) * kSecondsPerDay +
                              local->tm_hour * 3600 + local->tm_min * 60 + local->tm_sec;
    return {static_cast<std::int32_t>(wall - utc), local->tm_isdst > 0};
}

ZoneState ZoneAt(Zone zone, std::int64_t utc) {
    switch (zone) {
    case ZONE_CET: {
        const std::int64_t year = BreakDownSeconds(utc).tm_year + 1900LL;
        const bool summer = utc >= EuSummerTimeStart(year) && utc < EuSummerTimeEnd(year);
        return {summer ? 7200 : 3600, summer};
    }
    case ZONE_LOCAL: return LocalZoneAt(utc);
    case ZONE_UTC: break;
    }
    return {0, false};
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
