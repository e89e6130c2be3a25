#include "render.h"

#include "audio/synthesis.h"
#include "keying/keying.h"

constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;

// Seconds in a rendering of `minutes`: second 59 of the first, then the
// others whole.
static std::int64_t SecondsIn(const std::vector<RenderedMinute>& minutes) {
    return 1 + 60 * (static_cast<std::int64_t>(minutes.size()) - 1);
}

// Plans second `s` of the rendering, which starts at `start` ns: second 0
// is second 59 of minutes[0].
static void PlanRenderedSecond(Carrier* c, Station station, const std::vector<RenderedMinute>& minutes,
                               std::int64_t s, std::int64_t start) {
    const std::size_t m = s == 0 ? 0 : static_cast<std::size_t>(1 + (s - 1) / 60);
    const int position = s == 0 ? 59 : static_cast<int>((s - 1) % 60);
    const RenderedMinute& minute = minutes[m];
    const bool leadsIn = position == 59 && m + 1 < minutes.size() && minutes[m + 1].keyed;
    if (minute.keyed || leadsIn)
        PlanSecond(c, station, minute.frame[static_cast<std::size_t>(position)], position, start);
    else
        PlanLevel(c, start, minute.level);
}

// Renders second `s` into `out` (rate samples), its time 0 the start of
// the rendering; plans second s + 1 first, since its first ramp begins
// before second s ends.
static void RenderSecond(Carrier* c, Station station, unsigned rate, const std::vector<RenderedMinute>& minutes,
                         std::int64_t s, std::int16_t* out) {
    if (s == 0) PlanRenderedSecond(c, station, minutes, 0, 0);
    if (s + 1 < SecondsIn(minutes)) PlanRenderedSecond(c, station, minutes, s + 1, (s + 1) * kNanosecondsPerSecond);
    Synthesize(c, s * kNanosecondsPerSecond, 1e9 / rate, out, rate);
}

// A carrier that starts at second 0's first level, with no ramp into it.
static Carrier StartRendering(Station station, double carrierHz, unsigned rate,
                              const std::vector<RenderedMinute>& minutes) {
    double level = minutes[0].level;
    if (minutes[0].keyed || (minutes.size() > 1 && minutes[1].keyed)) {
        const std::uint8_t symbol = minutes[0].frame[59];
        level = PatternOf(station, symbol, 59).asserted[0] ? ReducedLevel(station, symbol) : 1.0;
    }
    return StartCarrier(ToneFor(carrierHz, rate).hz, level);
}

std::vector<std::int16_t> RenderFrames(Station station, double carrierHz, unsigned rate,
                                       const std::vector<std::array<std::uint8_t, 60>>& frames) {
    if (frames.empty()) return {};
    std::vector<RenderedMinute> minutes;
    for (const auto& frame : frames) minutes.push_back({frame, true, 1.0});
    const std::int64_t seconds = SecondsIn(minutes);
    std::vector<std::int16_t> samples(static_cast<std::size_t>(seconds) * rate);
    Carrier c = StartRendering(station, carrierHz, rate, minutes);
    for (std::int64_t s = 0; s < seconds; ++s) RenderSecond(&c, station, rate, minutes, s, samples.data() + s * rate);
    return samples;
}

bool WriteRenderedMinutes(std::FILE* out, Station station, double carrierHz, unsigned rate,
                          const std::vector<RenderedMinute>& minutes) {
    if (minutes.empty()) return true;
    const std::int64_t seconds = SecondsIn(minutes);
    std::vector<std::int16_t> second(rate);
    std::vector<unsigned char> bytes(2 * static_cast<std::size_t>(rate));
    Carrier c = StartRendering(station, carrierHz, rate, minutes);
    for (std::int64_t s = 0; s < seconds; ++s) {
        RenderSecond(&c, station, rate, minutes, s, second.data());
        for (unsigned k = 0; k < rate; ++k) {
            const auto v = static_cast<std::uint16_t>(second[k]);
            bytes[2 * k] = static_cast<unsigned char>(v & 0xff);
            bytes[2 * k + 1] = static_cast<unsigned char>(v >> 8);
        }
        if (std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size()) return false;
    }
    return true;
}
