// The transmit loop of a run started with options: frames reckoned from the
// start or, when following, from the UTC clock, and a status line a frame.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"
#include "timecode/station.h"
#include "timecode/zone.h"

struct TransmitSettings {
    bool follow;   // take every second and minute from the UTC clock
    bool verbose;  // one status line per frame on standard output
    Zone zone;        // the time DCF77's frames carry
    Station station;  // the time code
};

// Gets ready to transmit, before the wait for the minute: scales the
// pulse lengths and loads what the zone needs; `now` is any recent UTC
// second.
void PrepareTransmit(const TransmitSettings& settings, std::int64_t now);

// Keys frames for ever from the UTC minute that began `minute` seconds
// after 1970, whose start the monotonic clock saw at `minuteStart`; the
// pauses are already anchored there.
[[noreturn]] void Transmit(std::int64_t minute, std::int64_t minuteStart, const TransmitSettings& settings);

// Room for a status line; the longest, MSF's, takes under 200 characters.
constexpr std::size_t kStatusLineSize = 320;

// The --verbose line of the frame keyed from UTC minute `frameStart`: its
// start, then the minute it carries as a clock shows it, and its symbols.
void FormatStatusLine(char* line, std::size_t size, Station station, Zone zone, std::int64_t frameStart,
                      const std::uint8_t* frame);
