// An independent receiver for rendered sound: recovers the amplitude-keyed
// carrier's levels, edges, frequency and phase from 16-bit samples, written
// from the stations' descriptions alone so that it shares no mistake with
// the synthesis it checks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "decoder.h"

struct Demodulation {
    double carrierHz;        // measured frequency of the tone
    double fullPeak;         // full-carrier peak amplitude, fraction of full scale (32767)
    double reducedRatio;     // median amplitude while reduced / full amplitude (0 for carrier off)
    double maxPhaseJumpRad;  // largest jump of the carrier's phase against a steady tone where it is measurable
    std::vector<Edge> edges; // level changes at their mid-points (half-way between the two levels), ns
};

// `rate` is the rate the samples were played at (may be fractional: a card
// running off nominal); sample k lies at originNs + k * 1e9 / rate.
// `toneHz` is the tone the samples are meant to carry.
Demodulation Demodulate(const std::int16_t* samples, std::size_t count, double rate, double toneHz,
                        std::int64_t originNs);
