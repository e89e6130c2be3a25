// The transmit loop of a run started with options: frames reckoned from the
// start or, when following, from the UTC clock, and a status line a frame.
#pragma once

#include <cstdint>

#include "app/schedule.h"
#include "platform/platform.h"

// Gets ready to transmit, before the wait for the minute: scales the
// pulse lengths and loads what the zone needs; `now` is any recent UTC
// second.
void PrepareTransmit(const TransmitSettings& settings, std::int64_t now);

// Keys frames from the UTC minute that begins `minute` seconds after 1970,
// at `minuteStart` on the monotonic clock (or began: the first onset waits
// for it or is keyed at once); the pauses are already anchored there. Returns the exit status once the run limit is
// reached; without one it never returns.
int Transmit(std::int64_t minute, std::int64_t minuteStart, const TransmitSettings& settings);

// Prints the status lines of the frames a run from UTC minute `minute`
// would send, `count` of them, without keying anything.
void PrintFrames(std::int64_t minute, int count, const TransmitSettings& settings);
