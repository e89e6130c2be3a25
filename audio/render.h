// Frames rendered as a perfect sound device plays them, without a device:
// for --wav and for tests. The same synthesis as live playing.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "timecode/station.h"

// Second 59 of frames[0] (the minute before), then frames[1 ..] whole, at
// `rate`: sample k lies k / rate s after the start, and frames[i] (i >= 1)
// begins at sample rate × (1 + 60 (i − 1)).
std::vector<std::int16_t> RenderFrames(Station station, double carrierHz, unsigned rate,
                                       const std::vector<std::array<std::uint8_t, 60>>& frames);

// The same samples appended to `out` a second at a time, as 16-bit
// little-endian; false when a write fails.
bool WriteRenderedFrames(std::FILE* out, Station station, double carrierHz, unsigned rate,
                         const std::vector<std::array<std::uint8_t, 60>>& frames);
