// Frames rendered as a perfect sound device plays them, without a device:
// for --wav and for tests. The same synthesis as live playing.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "timecode/station.h"

// One minute of a rendering: its frame keyed, or the carrier held at one
// level all minute (the second 59 before a keyed minute is keyed from this
// minute's frame, as live).
struct RenderedMinute {
    std::array<std::uint8_t, 60> frame;
    bool keyed;
    double level;  // when not keyed: 0 silence, 1 the full carrier
};

// Second 59 of frames[0] (the minute before), then frames[1 ..] whole, at
// `rate`: sample k lies k / rate s after the start, and frames[i] (i >= 1)
// begins at sample rate × (1 + 60 (i − 1)).
std::vector<std::int16_t> RenderFrames(Station station, double carrierHz, unsigned rate,
                                       const std::vector<std::array<std::uint8_t, 60>>& frames);

// Second 59 of minutes[0], then minutes[1 ..] whole, laid out as above,
// appended to `out` a second at a time as 16-bit little-endian; false
// when a write fails (errno says why).
bool WriteRenderedMinutes(std::FILE* out, Station station, double carrierHz, unsigned rate,
                          const std::vector<RenderedMinute>& minutes);
