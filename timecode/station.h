// The four long-wave time codes this program can send. Each turns the
// minute it carries into one symbol per second; the keying turns symbols
// into line changes. DCF77's symbols are its frame's (timecode.h).
#pragma once

#include <cstdint>
#include <ctime>

#include "timecode/zone.h"

enum Station {
    STATION_DCF77,  // Germany, 77.5 kHz: the next minute, in UTC, CET or local time
    STATION_MSF,    // United Kingdom, 60 kHz: the next minute in UK civil time
    STATION_WWVB,   // United States, 60 kHz: the current minute in UTC
    STATION_JJY,    // Japan, 40 and 60 kHz: the current minute in JST
};

// Symbols beyond 0, 1 and the mark (kShortPulse, kLongPulse, kMinuteMark,
// which other stations use for their bits 0 and 1 and their markers).
constexpr std::uint8_t kMsfSplit = 3;  // MSF: bit A 0, bit B 1
constexpr std::uint8_t kMsfBoth = 4;   // MSF: bits A and B 1
constexpr std::uint8_t kMorse = 5;     // JJY: this second's part of the call sign

// "DCF77", "MSF", "WWVB" or "JJY".
const char* StationName(Station station);

// The UTC minute the frame keyed from `frameStart` carries.
std::int64_t CarriedMinute(Station station, std::int64_t frameStart);

// Fills the 60 symbols of the frame keyed from UTC minute `frameStart`.
// `shown` moves the date and time a clock will show by that many seconds
// (a whole number of minutes) without moving the summer-time rules: the
// bits that announce and tell summer time stay those of the true minute.
void BuildFrame(Station station, Zone zone, std::int64_t frameStart, std::uint8_t* frame, std::int32_t shown = 0);

// How the carried minute reads on a clock: its offset from UTC in seconds
// and the zone's name.
struct CarriedZone {
    std::int32_t offset;
    const char* name;  // null for the local zone, which has none of ours
    bool summer;
};
CarriedZone ZoneCarried(Station station, Zone zone, std::int64_t carried);

// The frames of each code, for the minute that begins at `carried`, its
// date and time moved by `shown` seconds as BuildFrame says.
void MSF(std::uint8_t* frame, std::int64_t carried, std::int32_t shown = 0);
void WWVB(std::uint8_t* frame, std::int64_t carried, std::int32_t shown = 0);
void JJY(std::uint8_t* frame, std::int64_t carried, std::int32_t shown = 0);

// Seconds 0-35 as WWVB and JJY share them: the markers of the whole frame,
// minute, hour and day of the year of `t`; every other second 0.
void PutMinuteHourDay(std::uint8_t* frame, const std::tm& t);
