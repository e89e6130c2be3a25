#include "station.h"

#include <cstring>

#include "timecode/civil.h"
#include "timecode/timecode.h"

std::int64_t CarriedMinute(Station station, std::int64_t frameStart) {
    // DCF77 and MSF announce the minute that begins when the frame ends;
    // WWVB and JJY name the minute the frame fills.
    return station == STATION_DCF77 || station == STATION_MSF ? frameStart + 60 : frameStart;
}

void BuildFrame(Station station, Zone zone, std::int64_t frameStart, std::uint8_t* frame, std::int32_t shown) {
    const std::int64_t carried = CarriedMinute(station, frameStart);
    switch (station) {
    case STATION_DCF77: DCF77(frame, RecordForMinute(carried, zone, shown)); return;
    case STATION_MSF: MSF(frame, carried, shown); return;
    case STATION_WWVB: WWVB(frame, carried, shown); return;
    case STATION_JJY: JJY(frame, carried, shown); return;
    }
}

CarriedZone ZoneCarried(Station station, Zone zone, std::int64_t carried) {
    switch (station) {
    case STATION_MSF: {
        const std::int32_t offset = UkOffsetAt(carried);
        return {offset, offset != 0 ? "BST" : "GMT", offset != 0};
    }
    case STATION_WWVB: return {0, "UTC", false};
    case STATION_JJY: return {9 * 3600, "JST", false};
    case STATION_DCF77: break;
    }
    const ZoneState state = ZoneAt(zone, carried);
    if (zone == ZONE_UTC) return {0, "UTC", false};
    if (zone == ZONE_CET) return {state.offset, state.summer ? "CEST" : "CET", state.summer};
    return {state.offset, nullptr, state.summer};
}

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
