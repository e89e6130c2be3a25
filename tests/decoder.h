// An independent DCF77 receiver for tests: turns recorded edges of the
// keying line into pulses and pulses into decoded minutes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Edge {
    std::int64_t time;  // ns
    bool asserted;      // carrier reduced from here on
};

struct Pulse {
    std::int64_t onset;  // ns
    std::int64_t width;  // ns
};

struct DecodedMinute {
    std::int64_t start;  // onset of the frame's second 0
    bool valid;
    std::string error;   // why not valid
    int minute, hour, day, weekday, month, year;
    std::vector<int> bits;  // the 59 bits received
    int announce = 0;       // bit 16: a change of the zone's offset is near
    int summer = 0;         // bit 17: summer time in force
    int standard = 0;       // bit 18: standard time in force
};

std::vector<Pulse> PulsesFromEdges(const std::vector<Edge>& edges);

// Frames are the runs of 59 pulses between two missing seconds; a run of
// another length is reported as an invalid minute. Pulses before the first
// missing second belong to no complete frame and are skipped, unless the
// caller knows that the first pulse starts a minute. A reduction of half a
// second or more is no pulse of the code and breaks the framing.
std::vector<DecodedMinute> DecodeMinutes(const std::vector<Pulse>& pulses, bool firstPulseStartsMinute);
