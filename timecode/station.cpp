#include "station.h"

#include <cstring>

#include "timecode/civil.h"
#include "timecode/timecode.h"

const char* StationName(Station station) {
    static const char* const kNames[] = {"DCF77", "MSF", "WWVB", "JJY"};
    return kNames[station];
}

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
