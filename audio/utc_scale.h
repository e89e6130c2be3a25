// The UTC clock against the raw monotonic one: where an instant of the
// raw clock lies on the UTC clock now, and the UTC clock's rate against
// the raw one over the long run. Edges follow the UTC clock itself, steps
// and slews included; the carrier's frequency follows only the long-run
// rate, the system's lasting correction of its oscillator, and not a
// time daemon's temporary slew. Time is passed in.
#pragma once

#include <cstdint>

// The long-run rate is the median of the rates over slots of this length
// in the last kRateSlots of them: a slew shorter than half that window
// (an NTP daemon's of 500 ppm lasts seconds to minutes) moves it not at all.
constexpr std::int64_t kRateSlotNanoseconds = 10'000'000'000;
constexpr int kRateSlots = 360;
// A change of UTC against raw between two readings beyond this rate (and
// kReadingNanoseconds, what one reading may be off) is a step: it moves
// the edges but is no part of the rate.
constexpr double kMaxSlewPpm = 1000;
constexpr std::int64_t kReadingNanoseconds = 20'000;
// The long-run rate is believed within this of the raw clock's, ppm.
constexpr double kMaxScalePpm = 1000;

struct UtcScale {
    bool any;
    std::int64_t lastRaw;     // the latest reading, raw ns ...
    std::int64_t offset;      // ... and UTC minus raw then
    std::int64_t steps;       // the sum of the steps seen, ns
    std::int64_t startRaw, startSteady;  // the first reading; steady: offset less steps
    std::int64_t slotRaw, slotSteady;    // where the current slot began
    int first, slots;         // the slots' rates, a ring
    double slotRate[kRateSlots];
    double rate;              // UTC ns per raw ns over the long run
    double measuredPpm;       // (rate − 1) as measured, before holding it within kMaxScalePpm
    bool clamped;             // it was held there
};

void ResetUtcScale(UtcScale* scale);

// Takes a reading of both clocks at one instant; returns the step of the
// UTC clock seen since the last reading, ns (0: none).
std::int64_t NoteClockReading(UtcScale* scale, std::int64_t raw, std::int64_t utc);

// The UTC instant of raw instant `raw`, by the latest reading.
std::int64_t UtcOfRaw(const UtcScale& scale, std::int64_t raw);
