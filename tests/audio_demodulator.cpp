#include "audio_demodulator.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

using Complex = std::complex<double>;

constexpr double kTwoPi = 2 * std::numbers::pi;
constexpr double kFullScale = 32767.0;

// Into [-pi, pi).
static double Wrap(double angle) { return angle - kTwoPi * std::floor(angle / kTwoPi + 0.5); }

static double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

// The mixer's phase at sample k, kept exact however long the recording.
static Complex Mixer(double cycles, std::size_t k) {
    const double turns = cycles * static_cast<double>(k);
    return std::polar(1.0, -kTwoPi * (turns - std::floor(turns)));
}

// Mixing a real tone down leaves an image at twice its frequency. A box over
// whole periods of that image cancels it; the shortest one that does (to 1e-4)
// keeps the edges sharp. Rates where none is short get the best within 12 ms.
static std::size_t BoxLength(double cycles, double rate) {
    const double image = std::sin(std::numbers::pi * 2 * cycles);
    const auto longest = std::max<std::size_t>(1, static_cast<std::size_t>(rate * 0.012));
    std::size_t best = 1;
    double bestLeak = 2;
    for (std::size_t n = 1; n <= longest; ++n) {
        const double leak =
            std::abs(std::sin(std::numbers::pi * static_cast<double>(n) * 2 * cycles) / (static_cast<double>(n) * image));
        if (leak < 1e-4) return n;
        if (leak < bestLeak) best = n, bestLeak = leak;
    }
    return best;
}

// The carrier's amplitude (fraction of full scale) centred on each sample
// from `from` to `to`, through two boxes in a row: a symmetric kernel, so a
// symmetric ramp crosses its mid-point where the ramp itself does.
static std::vector<double> Envelope(const std::int16_t* samples, double cycles, std::size_t box, std::size_t from,
                                    std::size_t to) {
    const std::size_t lo = from - (box - 1), length = to - from + 2 * (box - 1);
    std::vector<Complex> sum1(length + 1), sum2(length - box + 2);
    Complex osc = Mixer(cycles, lo);
    const Complex step = std::polar(1.0, -kTwoPi * cycles);
    for (std::size_t i = 0; i < length; ++i, osc *= step) sum1[i + 1] = sum1[i] + static_cast<double>(samples[lo + i]) * osc;
    for (std::size_t j = 0; j + 1 < sum2.size(); ++j) sum2[j + 1] = sum2[j] + (sum1[j + box] - sum1[j]);
    std::vector<double> envelope(to - from);
    const double scale = 2.0 / (static_cast<double>(box) * static_cast<double>(box) * kFullScale);
    for (std::size_t c = 0; c < envelope.size(); ++c) envelope[c] = std::abs(sum2[c + box] - sum2[c]) * scale;
    return envelope;
}

// The mid-point of the level change found between blocks near sample `p`,
// as a fractional sample number; negative when it cannot be placed.
static double MidPoint(const std::int16_t* samples, std::size_t count, double rate, double cycles, std::size_t box,
                       std::size_t block, std::size_t p) {
    // The change lies within a block of p; allow for the ramp (about 1 ms,
    // up to 4) and the filter's spread, and read each level over 10 ms beyond.
    const auto guard = static_cast<std::ptrdiff_t>(block + 2 * box + static_cast<std::size_t>(std::ceil(rate * 0.004)));
    const auto plateau = static_cast<std::ptrdiff_t>(std::ceil(rate * 0.010));
    const auto at = static_cast<std::ptrdiff_t>(p);
    const std::ptrdiff_t from = std::max<std::ptrdiff_t>(at - guard - plateau, static_cast<std::ptrdiff_t>(box) - 1);
    const std::ptrdiff_t to = std::min<std::ptrdiff_t>(at + guard + plateau, static_cast<std::ptrdiff_t>(count - box) + 1);
    if (at - guard <= from || at + guard + 1 >= to) return -1;
    const std::vector<double> e =
        Envelope(samples, cycles, box, static_cast<std::size_t>(from), static_cast<std::size_t>(to));
    const auto before = e.begin() + (at - guard - from), after = e.begin() + (at + guard + 1 - from);
    const double mid = (Median({e.begin(), before}) + Median({after, e.end()})) / 2;
    double best = -1;
    for (std::ptrdiff_t k = at - guard; k < at + guard; ++k) {
        const double a = e[static_cast<std::size_t>(k - from)] - mid, b = e[static_cast<std::size_t>(k + 1 - from)] - mid;
        if ((a < 0) == (b < 0) || a == b) continue;
        const double t = static_cast<double>(k) + a / (a - b);
        if (best < 0 || std::abs(t - static_cast<double>(p)) < std::abs(best - static_cast<double>(p))) best = t;
    }
    return best;
}

static Demodulation Demodulated(const std::int16_t* samples, std::size_t count, double rate, double toneHz,
                                std::int64_t originNs) {
    Demodulation d{0, 0, 0, 0, {}};
    const double cycles = toneHz / rate;  // of the tone per sample
    const std::size_t box = BoxLength(cycles, rate);
    // Blocks of about 1 ms, whole boxes each: level and phase per block.
    const std::size_t block = box * std::max<std::size_t>(1, static_cast<std::size_t>(std::lround(rate * 0.001 / static_cast<double>(box))));
    const std::size_t blocks = count / block;
    if (blocks < 3) return d;
    std::vector<double> level(blocks), phase(blocks);
    const Complex step = std::polar(1.0, -kTwoPi * cycles);
    for (std::size_t b = 0; b < blocks; ++b) {
        Complex osc = Mixer(cycles, b * block), sum = 0;
        for (std::size_t i = b * block; i < (b + 1) * block; ++i, osc *= step) sum += static_cast<double>(samples[i]) * osc;
        sum *= 2.0 / (static_cast<double>(block) * kFullScale);
        level[b] = std::abs(sum);
        phase[b] = std::arg(sum);
    }

    const double top = *std::max_element(level.begin(), level.end());
    std::vector<double> high, low;
    for (double l : level) (l > 0.7 * top ? high : low).push_back(l);
    d.fullPeak = Median(high);
    low.erase(std::remove_if(low.begin(), low.end(), [&](double l) { return l >= 0.5 * d.fullPeak; }), low.end());
    const double reduced = Median(low);
    d.reducedRatio = d.fullPeak > 0 ? reduced / d.fullPeak : 0;

    // Edges: where the blocks cross half-way between the two levels, then
    // placed to the sample between the levels found on either side.
    const double threshold = (d.fullPeak + reduced) / 2;
    for (std::size_t b = 1; b < blocks; ++b) {
        const bool full = level[b] > threshold;
        if (full == (level[b - 1] > threshold)) continue;
        const double t = MidPoint(samples, count, rate, cycles, box, block, b * block);
        if (t < 0) continue;
        d.edges.push_back({originNs + std::llround(t * 1e9 / rate), !full});
    }

    // Frequency: a straight line through the phase of the full-carrier
    // blocks (away from any change), unwrapped along the slope found so far,
    // so that gaps of carrier off are bridged.
    std::vector<std::size_t> steady;
    for (std::size_t b = 1; b + 1 < blocks; ++b)
        if (std::min({level[b - 1], level[b], level[b + 1]}) > 0.9 * d.fullPeak) steady.push_back(b);
    if (steady.size() < 2) return d;
    double slope = 0, intercept = 0;
    std::size_t pairs = 0;
    for (std::size_t i = 1; i < steady.size(); ++i)
        if (steady[i] == steady[i - 1] + 1) slope += Wrap(phase[steady[i]] - phase[steady[i - 1]]), ++pairs;
    slope = pairs > 0 ? slope / static_cast<double>(pairs) : 0;
    for (int pass = 0; pass < 2; ++pass) {
        std::vector<double> unwrapped(steady.size());
        unwrapped[0] = phase[steady[0]];
        for (std::size_t i = 1; i < steady.size(); ++i) {
            const double predicted = unwrapped[i - 1] + slope * static_cast<double>(steady[i] - steady[i - 1]);
            unwrapped[i] = predicted + Wrap(phase[steady[i]] - predicted);
        }
        double meanX = 0, meanY = 0;
        for (std::size_t i = 0; i < steady.size(); ++i) meanX += static_cast<double>(steady[i]), meanY += unwrapped[i];
        meanX /= static_cast<double>(steady.size());
        meanY /= static_cast<double>(steady.size());
        double sxy = 0, sxx = 0;
        for (std::size_t i = 0; i < steady.size(); ++i) {
            const double x = static_cast<double>(steady[i]) - meanX;
            sxy += x * (unwrapped[i] - meanY);
            sxx += x * x;
        }
        slope = sxx > 0 ? sxy / sxx : slope;
        intercept = meanY - slope * meanX;
    }
    d.carrierHz = toneHz + slope * rate / (kTwoPi * static_cast<double>(block));

    // Phase jumps: every block on a level plateau with a carrier to measure
    // (full or reduced, not off), against the fitted tone, compared with the
    // last but one such block before it (a jump inside a block splits between
    // two neighbours); across a gap the fitted slope bridges it.
    int seen = 0;
    double last[2] = {0, 0};
    for (std::size_t b = 1; b + 1 < blocks; ++b) {
        if (level[b] < 0.05 * d.fullPeak || std::abs(level[b - 1] - level[b]) > 0.01 * d.fullPeak ||
            std::abs(level[b + 1] - level[b]) > 0.01 * d.fullPeak)
            continue;
        const double residual = Wrap(phase[b] - intercept - slope * static_cast<double>(b));
        if (seen >= 2) d.maxPhaseJumpRad = std::max(d.maxPhaseJumpRad, std::abs(Wrap(residual - last[0])));
        ++seen;
        last[0] = last[1];
        last[1] = residual;
    }
    return d;
}

Demodulation Demodulate(const std::int16_t* samples, std::size_t count, double rate, double toneHz,
                        std::int64_t originNs) {
    // A tone some hertz off the one asked for turns in the filters and skews
    // the edges: mix again with the tone as measured.
    const Demodulation d = Demodulated(samples, count, rate, toneHz, originNs);
    if (d.carrierHz == 0 || std::abs(d.carrierHz - toneHz) < 1e-3) return d;
    return Demodulated(samples, count, rate, d.carrierHz, originNs);
}
