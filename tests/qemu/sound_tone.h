// The sound probe's tone: a carrier the rate can carry (77.5 kHz at 192 kHz,
// else its fifth subharmonic) whose first sample is the peak, so that the
// first frame played is the first non-zero frame the loopback records.
#pragma once

#include <cmath>
#include <cstdint>

inline std::int16_t ToneSample(long long k, unsigned rate) {
    const double hz = rate >= 192000 ? 77500.0 : 15500.0;
    const double cycles = std::fmod(static_cast<double>(k) * hz / rate, 1.0);
    return static_cast<std::int16_t>(std::lround(29000.0 * std::cos(2 * M_PI * cycles)));
}
