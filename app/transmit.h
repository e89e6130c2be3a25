// The transmit loop of a run started with options: frames reckoned from the
// start or, when following, from the UTC clock, and a status line a frame.
#pragma once

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
