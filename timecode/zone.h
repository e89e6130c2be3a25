// The time zone a frame is sent in: the summer-time rules built in (the
// EU's, the UK's and the US's), the UTC offset in force at an instant, and
// the minute record of a UTC instant in that zone, with the zone bits and
// the announcement of a change.
#pragma once

#include <cstdint>

#include "timecode/timecode.h"

enum Zone {
    ZONE_UTC,    // UTC, zone bits 17 and 18 both 0, nothing announced
    ZONE_CET,    // Central European (Summer) Time by the EU rule, built in
    ZONE_LOCAL,  // the computer's own zone, as the C library knows it, to the minute
};

struct ZoneState {
    std::int32_t offset;     // seconds east of UTC, a whole number of minutes
    bool summer;             // summer time in force: the larger of the year's offsets
    std::int32_t roundedBy;  // seconds the zone's own offset was moved to reach a whole minute
};

// 01:00 UTC on the last Sunday of March and of October of `year`: the EU's
// start and end of summer time, in seconds since 1970.
std::int64_t EuSummerTimeStart(std::int64_t year);
std::int64_t EuSummerTimeEnd(std::int64_t year);

// UK civil time: BST (UTC+1) from 01:00 UTC on the last Sunday of March to
// 01:00 UTC on the last Sunday of October, GMT otherwise.
std::int32_t UkOffsetAt(std::int64_t utc);

// Whether US daylight saving time (02:00 local on the second Sunday of
// March to 02:00 local on the first Sunday of November, as in every
// mainland zone) is in force at 00:00 UTC of the day `day` days after 1970.
bool UsDaylightTimeAtStartOf(std::int64_t day);

// What `zone` says at `utc` seconds since 1970.
ZoneState ZoneAt(Zone zone, std::int64_t utc);

// The record of the minute that begins at `utc` seconds since 1970, in
// local time of `zone`: its date and time, zone bits 17 (summer) and 18
// (standard time), and bit 16 when the zone's offset changes within the
// hour that ends with this minute's start. `shown` moves the date and time
// by that many seconds; the zone bits stay those of `utc`.
DcfTime RecordForMinute(std::int64_t utc, Zone zone, std::int32_t shown = 0);
