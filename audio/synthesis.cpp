#include "synthesis.h"

#include <cmath>
#include <cstdio>

#include "keying/keying.h"
#include "timecode/timecode.h"

constexpr double kTwoPi = 6.283185307179586;
// The highest tone a sound output passes as a fraction of its rate: its
// anti-imaging filter cuts from about 0.45 to 0.5 of the rate.
constexpr double kHighestFraction = 0.46;
// Tones below this are audible to most listeners.
constexpr double kAudibleHz = 20'000;

Tone ToneFor(double carrierHz, unsigned rate) {
    int harmonic = 1;
    while (carrierHz / harmonic >= kHighestFraction * rate) harmonic += 2;
    return {carrierHz / harmonic, harmonic};
}

double StationCarrierHz(Station station) {
    switch (station) {
    case STATION_DCF77: return 77'500;
    case STATION_MSF:
    case STATION_WWVB: return 60'000;
    case STATION_JJY: return 40'000;
    }
    return 77'500;
}

// "third", "fifth", ..., then "11th", "21st", "23rd".
static void FormatOrdinal(char* text, std::size_t size, int n) {
    static const char* const kWords[] = {"", "", "", "third", "", "fifth", "", "seventh", "", "ninth"};
    if (n < 10) {
        std::snprintf(text, size, "%s", kWords[n]);
        return;
    }
    const char* suffix = n % 100 / 10 == 1 ? "th" : n % 10 == 1 ? "st" : n % 10 == 3 ? "rd" : "th";
    std::snprintf(text, size, "%d%s", n, suffix);
}

void FormatToneLine(char* line, std::size_t size, const char* device, unsigned rate, double carrierHz,
                    const char* mode) {
    const Tone tone = ToneFor(carrierHz, rate);
    char at[160];
    std::snprintf(at, sizeof at, "%u Hz%s%s%s", rate, *mode != '\0' ? " (" : "", mode, *mode != '\0' ? ")" : "");
    if (tone.harmonic == 1) {
        std::snprintf(line, size, "%s at %s: %.6g Hz carrier", device, at, carrierHz);
        return;
    }
    char ordinal[16];
    FormatOrdinal(ordinal, sizeof ordinal, tone.harmonic);
    std::snprintf(line, size, "%s at %s: %.6g Hz, the %s subharmonic of %.6g Hz%s", device, at, tone.hz,
                  ordinal, carrierHz, tone.hz < kAudibleHz ? " (audible)" : "");
}

double ReducedLevel(Station station, std::uint8_t symbol) {
    switch (station) {
    case STATION_DCF77: return 0.15;
    case STATION_WWVB: return 0.14125375446227545;  // −17 dB
    case STATION_JJY: return symbol == kMorse ? 0.0 : 0.10;
    case STATION_MSF: return 0.0;
    }
    return 0.0;
}

Carrier StartCarrier(double toneHz, double level) {
    Carrier c{};
    c.toneHz = toneHz;
    c.base = level;
    c.last = level;
    return c;
}

void PlanLevel(Carrier* c, std::int64_t at, double level) {
    const double before = c->count > 0 ? c->planned[c->count - 1].level : c->base;
    if (level == before) return;
    // A plan never holds more than a few seconds' changes; more is a bug.
    if (c->count == kMaxPlanned) return;
    c->planned[c->count++] = {at, level};
}

void PlanSecond(Carrier* c, Station station, std::uint8_t symbol, int position, std::int64_t start) {
    const SecondPattern p = PatternOf(station, symbol, position);
    const double reduced = ReducedLevel(station, symbol);
    std::int64_t at = start;
    for (int i = 0; i < p.count; ++i) {
        PlanLevel(c, at, p.asserted[i] ? reduced : 1.0);
        at = start + p.end[i] * std::int64_t{1'000'000};
    }
}

void CutPlan(Carrier* c, std::int64_t from, double level) {
    c->count = 0;
    c->base = c->last;
    PlanLevel(c, from + kRampNanoseconds / 2, level);
}

// The rise of a ramp centred on 0 at `x` ramp lengths: 0 before, 1 after.
static double Rise(double x) {
    if (x <= -0.5) return 0.0;
    if (x >= 0.5) return 1.0;
    return 0.5 + 0.5 * std::sin(kTwoPi / 2 * x);
}

void Synthesize(Carrier* c, std::int64_t first, double spacing, std::int16_t* out, std::size_t count) {
    // Changes whose ramps ended before this block become the base level.
    const std::int64_t half = kRampNanoseconds / 2;
    int over = 0;
    while (over < c->count && c->planned[over].at + half <= first) c->base = c->planned[over++].level;
    for (int i = over; i < c->count; ++i) c->planned[i - over] = c->planned[i];
    c->count -= over;
    // Each change's centre and step, in ns from the block's first sample.
    double centre[kMaxPlanned], step[kMaxPlanned];
    double before = c->base;
    for (int i = 0; i < c->count; ++i) {
        centre[i] = static_cast<double>(c->planned[i].at - first);
        step[i] = c->planned[i].level - before;
        before = c->planned[i].level;
    }
    // The tone as a phasor turned by a fixed step a sample, set afresh from
    // the phase at every block so that rounding cannot build up.
    const double cycles = c->toneHz * spacing * 1e-9;
    const double turnRe = std::cos(kTwoPi * cycles), turnIm = std::sin(kTwoPi * cycles);
    double re = std::cos(kTwoPi * c->phase), im = std::sin(kTwoPi * c->phase);
    const double perRamp = 1.0 / kRampNanoseconds;
    double amplitude = c->last;
    for (std::size_t k = 0; k < count; ++k) {
        const double t = static_cast<double>(k) * spacing;
        amplitude = c->base;
        for (int i = 0; i < c->count; ++i) {
            const double x = (t - centre[i]) * perRamp;
            if (x <= -0.5) break;
            amplitude += step[i] * Rise(x);
        }
        out[k] = static_cast<std::int16_t>(std::lrint(amplitude * kFullPeak * im));
        const double nextRe = re * turnRe - im * turnIm;
        im = re * turnIm + im * turnRe;
        re = nextRe;
    }
    c->last = amplitude;
    c->phase += static_cast<double>(count) * cycles;
    c->phase -= std::floor(c->phase);
}
