// Measures the pause against the UTC clock, for the calibration tool.
#include <cmath>
#include <cstdio>

#include "keying.h"

void PauseOneSecond(int bit) {
    PauseMs(bit != 0 ? 200 : 100);
    PauseMs(bit != 0 ? 800 : 900);
}

// A UTC reading in nanoseconds since 1970.
static std::int64_t Nanoseconds(const UtcReading& r) { return r.seconds * 1'000'000'000 + r.nanoseconds; }

static std::int64_t UtcNanoseconds() { return Nanoseconds(ReadUtcClock()); }

double MeasurePauseRatio(int seconds, std::FILE* progress) {
    // The pauses count from the very instant the start was read at.
    std::int64_t instant = 0;
    const std::int64_t start = Nanoseconds(ReadUtcClockAt(&instant));
    AnchorPauses(instant);
    for (int second = 1; second <= seconds; ++second) {
        // Alternate the bits as a frame does, and show progress between
        // pauses, where the transmitter changes its lines.
        PauseOneSecond(second % 2);
        if (progress != nullptr) {
            const double ratio = static_cast<double>(UtcNanoseconds() - start) / (second * 1e9);
            std::fprintf(progress, "\rMeasuring: %3d of %d s, pauses run %+.4f %% against UTC ", second, seconds,
                         (ratio - 1) * 100);
            std::fflush(progress);
        }
    }
    return static_cast<double>(UtcNanoseconds() - start) / (seconds * 1e9);
}

double FactorForPauseRatio(double ratio) {
    // The minute lasts 60 * ms1000 pause units, and ms1000 is ten times the
    // factor rounded: aim it at the whole millisecond nearest 1000 / ratio.
    const double ms1000 = std::floor(1000 / ratio + 0.5);
    return ms1000 / 10;
}

void FormatPauseDeviation(char* text, std::size_t size, double ratio) {
    // Rounded first, so that a deviation too small to show reads +0.0000,
    // never -0.0000.
    double percent = std::round((ratio - 1) * 1e6) / 1e4;
    if (percent == 0) percent = 0;
    std::snprintf(text, size, "%+.4f %%", percent);
}
