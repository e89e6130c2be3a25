#include "render.h"

#include "audio/synthesis.h"
#include "keying/keying.h"

constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;

// The symbol and position keyed in second `s` of the rendering: second 0
// is second 59 of frames[0].
static void SymbolOf(const std::vector<std::array<std::uint8_t, 60>>& frames, std::int64_t s, std::uint8_t* symbol,
                     int* position) {
    if (s == 0) {
        *symbol = frames[0][59];
        *position = 59;
        return;
    }
    *symbol = frames[1 + (s - 1) / 60][(s - 1) % 60];
    *position = static_cast<int>((s - 1) % 60);
}

// Renders second `s` into `out` (rate samples), its time 0 the start of
// the rendering; plans second s + 1 first, since its first ramp begins
// before second s ends.
static void RenderSecond(Carrier* c, Station station, unsigned rate,
                         const std::vector<std::array<std::uint8_t, 60>>& frames, std::int64_t s, std::int16_t* out) {
    const std::int64_t seconds = 1 + 60 * (static_cast<std::int64_t>(frames.size()) - 1);
    std::uint8_t symbol = 0;
    int position = 0;
    if (s == 0) {
        SymbolOf(frames, 0, &symbol, &position);
        PlanSecond(c, station, symbol, position, 0);
    }
    if (s + 1 < seconds) {
        SymbolOf(frames, s + 1, &symbol, &position);
        PlanSecond(c, station, symbol, position, (s + 1) * kNanosecondsPerSecond);
    }
    Synthesize(c, s * kNanosecondsPerSecond, 1e9 / rate, out, rate);
}

// A carrier that starts at second 59's first level, with no ramp into it.
static Carrier StartRendering(Station station, double carrierHz, unsigned rate,
                              const std::vector<std::array<std::uint8_t, 60>>& frames) {
    const SecondPattern first = PatternOf(station, frames[0][59], 59);
    const double level = first.asserted[0] ? ReducedLevel(station, frames[0][59]) : 1.0;
    return StartCarrier(ToneFor(carrierHz, rate).hz, level);
}

std::vector<std::int16_t> RenderFrames(Station station, double carrierHz, unsigned rate,
                                       const std::vector<std::array<std::uint8_t, 60>>& frames) {
    if (frames.empty()) return {};
    const std::int64_t seconds = 1 + 60 * (static_cast<std::int64_t>(frames.size()) - 1);
    std::vector<std::int16_t> samples(static_cast<std::size_t>(seconds) * rate);
    Carrier c = StartRendering(station, carrierHz, rate, frames);
    for (std::int64_t s = 0; s < seconds; ++s) RenderSecond(&c, station, rate, frames, s, samples.data() + s * rate);
    return samples;
}

bool WriteRenderedFrames(std::FILE* out, Station station, double carrierHz, unsigned rate,
                         const std::vector<std::array<std::uint8_t, 60>>& frames) {
    if (frames.empty()) return true;
    const std::int64_t seconds = 1 + 60 * (static_cast<std::int64_t>(frames.size()) - 1);
    std::vector<std::int16_t> second(rate);
    std::vector<unsigned char> bytes(2 * static_cast<std::size_t>(rate));
    Carrier c = StartRendering(station, carrierHz, rate, frames);
    for (std::int64_t s = 0; s < seconds; ++s) {
        RenderSecond(&c, station, rate, frames, s, second.data());
        for (unsigned k = 0; k < rate; ++k) {
            const auto v = static_cast<std::uint16_t>(second[k]);
            bytes[2 * k] = static_cast<unsigned char>(v & 0xff);
            bytes[2 * k + 1] = static_cast<unsigned char>(v >> 8);
        }
        if (std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size()) return false;
    }
    return true;
}
