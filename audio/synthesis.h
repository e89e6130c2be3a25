// The carrier a sound card plays: a tone at the station's frequency or an
// odd subharmonic of it, its level keyed second by second. Each sample is
// computed from the UTC instant at which it leaves the output, so the
// caller, which knows the device, passes in where the samples land.
#pragma once

#include <cstddef>
#include <cstdint>

#include "timecode/station.h"

// What is synthesized for a carrier at a sample rate.
struct Tone {
    double hz;     // the tone itself
    int harmonic;  // the carrier is this harmonic of the tone; 1: the carrier itself
};

// The carrier where it lies below 0.46 of the rate (the output's own
// filters cut above that), else its highest odd subharmonic below there.
Tone ToneFor(double carrierHz, unsigned rate);

// The station's carrier frequency (JJY: Fukushima's 40 kHz).
double StationCarrierHz(Station station);

// "hw:0,0 at 192000 Hz: 77500 Hz carrier", or "default at 48000 Hz:
// 15500 Hz, the fifth subharmonic of 77500 Hz (audible)"; with a `mode`,
// "Speakers at 192000 Hz (exclusive, event-driven): 77500 Hz carrier".
void FormatToneLine(char* line, std::size_t size, const char* device, unsigned rate, double carrierHz,
                    const char* mode = "");

// Peak of the full carrier in sample units: −1 dBFS.
constexpr double kFullPeak = 32767 * 0.8912509381337456;

// The reduced carrier during `symbol`'s second, as a fraction of the full
// amplitude: DCF77 15 %, WWVB −17 dB, JJY 10 % (its Morse seconds key the
// carrier off), MSF off.
double ReducedLevel(Station station, std::uint8_t symbol);

// Each change of level is a raised-cosine ramp this long, centred on its
// instant: the mid-point is the edge a receiver sees.
constexpr std::int64_t kRampNanoseconds = 1'000'000;

// A change of the carrier's level (a fraction of full) centred at `at`,
// UTC ns since 1970.
struct LevelChange {
    std::int64_t at;
    double level;
};

constexpr int kMaxPlanned = 64;

// The synthesis's state for a whole run: the tone's phase, which never
// jumps, and the level changes planned and not yet over.
struct Carrier {
    double toneHz;
    double phase;  // of the next sample, in cycles, 0 <= phase < 1
    double base;   // the level before planned[0]
    double last;   // the amplitude of the last sample written
    int count;
    LevelChange planned[kMaxPlanned];
};

// A carrier at `level` with nothing planned.
Carrier StartCarrier(double toneHz, double level);

// Plans a change to `level` at `at`, after every change planned so far;
// nothing when the level is already that.
void PlanLevel(Carrier* carrier, std::int64_t at, double level);

// Plans the second of `symbol` at `position` of a frame that starts at
// UTC `start` ns.
void PlanSecond(Carrier* carrier, Station station, std::uint8_t symbol, int position, std::int64_t start);

// Drops every planned change and ramps from the amplitude written last to
// `level`, the ramp starting at `from`.
void CutPlan(Carrier* carrier, std::int64_t from, double level);

// Writes `count` samples: the first leaves the output at UTC `first` ns,
// each next one `spacing` ns later as the card really plays them, so the
// tone is corrected for the card's own rate too.
void Synthesize(Carrier* carrier, std::int64_t first, double spacing, std::int16_t* out, std::size_t count);
