// Rendered sound received by the independent demodulator: each station at
// the common sample rates, across a minute where its frame changes in an
// interesting way. Frames, carrier frequency, levels, edge instants and
// phase are checked against the encoder and the stations' descriptions.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <numbers>
#include <string>
#include <utility>

#include "audio/render.h"
#include "audio_demodulator.h"
#include "station_decoder.h"
#include "timecode/station.h"

using Frame = std::array<std::uint8_t, 60>;
using Interval = std::pair<std::int64_t, std::int64_t>;  // ns

constexpr std::int64_t kMs = 1'000'000;
constexpr std::int64_t kSecond = 1'000'000'000;

static const char* Name(Station station) {
    return station == STATION_DCF77 ? "dcf77"
           : station == STATION_MSF ? "msf"
           : station == STATION_WWVB ? "wwvb"
                                     : "jjy";
}

static double CarrierHz(Station station) {
    return station == STATION_DCF77 ? 77500 : station == STATION_JJY ? 40000 : 60000;
}

// The carrier itself where the rate can carry it, else its highest odd
// subharmonic below 0.46 of the rate.
static double ToneHz(double carrier, unsigned rate) {
    int divisor = 1;
    while (carrier / divisor >= 0.46 * rate) divisor += 2;
    return carrier / divisor;
}

// The reduced level's amplitude over the full one.
static double ReducedRatio(Station station) {
    return station == STATION_DCF77  ? 0.15
           : station == STATION_WWVB ? std::pow(10.0, -17.0 / 20)
           : station == STATION_JJY  ? 0.10
                                     : 0;
}

// When the carrier is reduced in a second (ms from its start) for one symbol.
static std::vector<std::pair<int, int>> ReducedInSecond(Station station, std::uint8_t symbol) {
    switch (station) {
    case STATION_DCF77:
        if (symbol == kMinuteMark) return {};
        return {{0, symbol == kLongPulse ? 200 : 100}};
    case STATION_MSF:
        if (symbol == kMsfSplit) return {{0, 100}, {200, 300}};
        return {{0, symbol == kMinuteMark ? 500 : symbol == kMsfBoth ? 300 : symbol == kLongPulse ? 200 : 100}};
    case STATION_WWVB:
        return {{0, symbol == kMinuteMark ? 800 : symbol == kLongPulse ? 500 : 200}};
    case STATION_JJY:
        return {{symbol == kMinuteMark ? 200 : symbol == kLongPulse ? 500 : 800, 1000}};
    }
    return {};
}

// JJY's call sign from second 40 to 49 (ms from second 40): "JJY JJY" with a
// 90 ms unit (dot 1, dash 3; gaps of 1, 3 and 7 units), carrier off between
// the elements and after them.
static std::vector<std::pair<int, int>> CallSignOff() {
    const int unit = 90;
    const std::vector<std::string> word = {".---", ".---", "-.--"};
    std::vector<std::pair<int, int>> off;
    int t = 0;
    for (int w = 0; w < 2; ++w)
        for (std::size_t letter = 0; letter < word.size(); ++letter)
            for (std::size_t e = 0; e < word[letter].size(); ++e) {
                if (t > 0) {
                    const int gap = e > 0 ? 1 : letter > 0 ? 3 : 7;
                    off.push_back({t, t + gap * unit});
                    t += gap * unit;
                }
                t += (word[letter][e] == '-' ? 3 : 1) * unit;
            }
    off.push_back({t, 9000});
    return off;
}

// Every stretch of reduced carrier from the start of second 59 of frames[0]
// to the end of the last frame, joined where they touch.
static std::vector<Interval> NominalReductions(Station station, const std::vector<Frame>& frames, std::int64_t begin) {
    std::vector<Interval> reduced;
    auto add = [&](std::int64_t second, const std::vector<std::pair<int, int>>& within) {
        for (const auto& [from, to] : within) {
            const Interval i{second + from * kMs, second + to * kMs};
            if (!reduced.empty() && reduced.back().second == i.first) reduced.back().second = i.second;
            else reduced.push_back(i);
        }
    };
    std::uint8_t previous = frames[0][58];
    for (std::size_t f = 0; f < frames.size(); ++f)
        for (int s = f == 0 ? 59 : 0; s < 60; ++s) {
            const std::int64_t index = f == 0 ? 0 : 1 + 60 * static_cast<std::int64_t>(f - 1) + s;
            const std::int64_t second = begin + index * kSecond;
            const std::uint8_t symbol = frames[f][static_cast<std::size_t>(s)];
            if (symbol == kMorse) {
                if (previous != kMorse) add(second, CallSignOff());
            } else {
                add(second, ReducedInSecond(station, symbol));
            }
            previous = symbol;
        }
    return reduced;
}

static char SymbolChar(std::uint8_t symbol) {
    switch (symbol) {
    case kShortPulse: return '0';
    case kLongPulse: return '1';
    case kMinuteMark: return 'M';
    case kMsfSplit: return 'S';
    case kMsfBoth: return 'B';
    default: return 'C';
    }
}

struct RenderCase {
    Station station;
    unsigned rate;
    std::int64_t firstFrame;  // UTC s at which frames[1] is keyed
};

TEST(AudioRender, DemodulatedAsEachStationSends) {
    const RenderCase cases[] = {
        // DCF77 (CET) carrying 01:59 CET, 03:00 CEST and 03:01 CEST: bits 16-18 101, 110, 010.
        {STATION_DCF77, 48000, 1711846680},   // 15.5 kHz, the fifth subharmonic
        {STATION_DCF77, 96000, 1711846680},   // 25.83 kHz, the third
        {STATION_DCF77, 192000, 1711846680},  // the carrier itself
        {STATION_DCF77, 44100, 1711846680},   // 15.5 kHz at the CD rate
        // MSF carrying 00:59 GMT, 02:00 BST and 02:01 BST: 53B 1, 1, 0; 58B 0, 1, 1.
        {STATION_MSF, 48000, 1711846680},
        {STATION_MSF, 96000, 1711846680},
        {STATION_MSF, 192000, 1711846680},
        // WWVB: 23:59 UTC, then the first minute of the day US summer time starts (57 set).
        {STATION_WWVB, 48000, 1710028680},
        {STATION_WWVB, 96000, 1710028680},
        {STATION_WWVB, 192000, 1710028680},
        // JJY: 00:15 JST on 29 February 2024, a call-sign minute, between ordinary ones.
        {STATION_JJY, 48000, 1709133240},
        {STATION_JJY, 96000, 1709133240},
        {STATION_JJY, 192000, 1709133240},
    };
    for (const RenderCase& c : cases) {
        const std::string name = Name(c.station);
        SCOPED_TRACE(name + " at " + std::to_string(c.rate) + " Hz");
        std::vector<Frame> frames(4);
        for (std::size_t f = 0; f < frames.size(); ++f)
            BuildFrame(c.station, c.station == STATION_DCF77 ? ZONE_CET : ZONE_UTC,
                       c.firstFrame + 60 * (static_cast<std::int64_t>(f) - 1), frames[f].data());
        const auto started = std::chrono::steady_clock::now();
        const std::vector<std::int16_t> samples = RenderFrames(c.station, CarrierHz(c.station), c.rate, frames);
        const auto rendered = std::chrono::steady_clock::now();
        ASSERT_EQ(samples.size(), std::size_t{c.rate} * (1 + 60 * (frames.size() - 1)));
        const std::int64_t begin = (c.firstFrame - 1) * kSecond;
        const std::int64_t end = begin + static_cast<std::int64_t>(samples.size() / c.rate) * kSecond;
        const double tone = ToneHz(CarrierHz(c.station), c.rate);
        const Demodulation d = Demodulate(samples.data(), samples.size(), c.rate, tone, begin);
        const auto demodulated = std::chrono::steady_clock::now();

        EXPECT_NEAR(d.carrierHz, tone, 0.01);
        EXPECT_NEAR(d.fullPeak, std::pow(10.0, -1.0 / 20), 0.003);  // -1 dBFS
        EXPECT_NEAR(d.reducedRatio, ReducedRatio(c.station), 0.005);
        EXPECT_LT(d.maxPhaseJumpRad, 0.01);

        // Every level change, in order, within two samples of its instant.
        std::vector<Edge> nominal;
        for (const Interval& i : NominalReductions(c.station, frames, begin)) {
            if (i.first > begin) nominal.push_back({i.first, true});
            if (i.second < end) nominal.push_back({i.second, false});
        }
        ASSERT_EQ(d.edges.size(), nominal.size());
        const double sample = 1e9 / c.rate;
        double worst = 0, sum = 0;
        for (std::size_t i = 0; i < nominal.size(); ++i) {
            const double offset = static_cast<double>(d.edges[i].time - nominal[i].time) / sample;
            ASSERT_EQ(d.edges[i].asserted, nominal[i].asserted) << "edge " << i << " at " << nominal[i].time;
            EXPECT_LE(std::abs(offset), 2.0) << "edge " << i << " at " << nominal[i].time;
            worst = std::max(worst, std::abs(offset));
            sum += offset;
        }

        // Every reduction at its station's level, away from its ramps: JJY's
        // call sign keys the carrier off.
        for (const Interval& i : NominalReductions(c.station, frames, begin)) {
            const std::int64_t s = (i.first - begin) / kSecond;
            const std::uint8_t symbol =
                s == 0 ? frames[0][59] : frames[static_cast<std::size_t>(1 + (s - 1) / 60)][(s - 1) % 60];
            const double expected = (symbol == kMorse ? 0 : ReducedRatio(c.station)) * std::pow(10.0, -1.0 / 20);
            int peak = 0;
            for (std::int64_t k = (i.first - begin + 2 * kMs) * c.rate / kSecond;
                 k < (i.second - begin - 2 * kMs) * c.rate / kSecond; ++k)
                peak = std::max(peak, std::abs(static_cast<int>(samples[static_cast<std::size_t>(k)])));
            EXPECT_NEAR(peak / 32767.0, expected, 0.01) << "reduction at " << i.first;
        }

        // The frames, read back from the edges, are the encoder's.
        if (c.station == STATION_DCF77) {
            const std::vector<DecodedMinute> minutes = DecodeMinutes(PulsesFromEdges(d.edges), true);
            ASSERT_EQ(minutes.size(), frames.size() - 1);
            for (std::size_t m = 0; m < minutes.size(); ++m) {
                EXPECT_TRUE(minutes[m].valid) << minutes[m].error;
                std::vector<int> bits(frames[m + 1].begin(), frames[m + 1].begin() + 59);
                EXPECT_EQ(minutes[m].bits, bits) << "frame " << m + 1;
            }
        } else {
            // Every second that starts with an edge of its own: not the first
            // (it starts with the recording), nor JJY's Morse after its first
            // second, nor JJY's last (its reduction runs to the end).
            std::map<std::int64_t, char> expected;
            for (std::size_t f = 1; f < frames.size(); ++f)
                for (std::size_t s = 0; s < 60; ++s) {
                    const bool morseGoesOn = frames[f][s] == kMorse && frames[f][s - 1] == kMorse;
                    const bool last = f + 1 == frames.size() && s == 59;
                    if (c.station == STATION_JJY && (morseGoesOn || last)) continue;
                    expected[c.firstFrame + 60 * static_cast<std::int64_t>(f - 1) + static_cast<std::int64_t>(s)] =
                        SymbolChar(frames[f][s]);
                }
            const std::map<std::int64_t, char> seconds = ReadSeconds(name, d.edges);
            EXPECT_EQ(seconds, expected);
            // WWVB's and JJY's frames begin after a marker the recording
            // holds for the second frame on; JJY's last ends with the recording.
            const std::size_t first = c.station == STATION_WWVB || c.station == STATION_JJY ? 2 : 1;
            const std::size_t whole = frames.size() - first - (c.station == STATION_JJY ? 1 : 0);
            const std::vector<StationFrame> decoded = DecodeStationFrames(name, seconds, d.edges);
            ASSERT_EQ(decoded.size(), whole);
            for (std::size_t f = 0; f < decoded.size(); ++f) {
                EXPECT_EQ(decoded[f].error, "") << "frame " << f + first;
                EXPECT_EQ(decoded[f].start, c.firstFrame + 60 * static_cast<std::int64_t>(f + first - 1));
            }
            if (c.station == STATION_JJY) {
                EXPECT_TRUE(decoded[0].callSign);
            }
        }

        std::printf("%-5s %6u Hz, tone %9.3f Hz: carrier %+.2e Hz, full %+.1e, reduced %+.1e, "
                    "%zu edges mean %+.4f worst %.4f samples, phase jump %.1e rad (render %.2f s, demodulate %.2f s)\n",
                    name.c_str(), c.rate, tone, d.carrierHz - tone, d.fullPeak - std::pow(10.0, -1.0 / 20),
                    d.reducedRatio - ReducedRatio(c.station), d.edges.size(), sum / static_cast<double>(nominal.size()),
                    worst, d.maxPhaseJumpRad, std::chrono::duration<double>(rendered - started).count(),
                    std::chrono::duration<double>(demodulated - rendered).count());
    }
}

// The demodulator itself, on a keyed tone made here with no renderer: a card
// running off its nominal rate, the tone asked for not quite the one played,
// the hardest image of the mixing (20 kHz at 44.1 kHz), and a phase step it
// must find.
struct ToneCase {
    double rate;    // as played
    double toneHz;  // as played
    double askedHz; // as given to the demodulator
    double reduced; // level while reduced
    double step;    // of the carrier's phase at 4.55 s, rad
};

TEST(AudioRender, DemodulatorFindsWhatWasMade) {
    const ToneCase cases[] = {
        {44108.82, 20000, 20000, 0, 0},         // carrier off, card 200 ppm fast
        {48000, 15500, 15500, 0.15, 0.02},      // a small phase step
        {191990.4, 77500, 77500.5, 0.10, 0},    // the tone asked for half a hertz off
    };
    const std::int64_t origin = 1'700'000'000 * kSecond;
    for (const ToneCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.rate) + " Hz, tone " + std::to_string(c.toneHz));
        // Reductions at each second from 1 to 7 of 100, 200 and 500 ms in turn,
        // the one at 2 s starting a third of a sample late.
        std::vector<Interval> reduced;
        for (int s = 1; s < 8; ++s) {
            const std::int64_t from = s * kSecond + (s == 2 ? static_cast<std::int64_t>(1e9 / c.rate / 3) : 0);
            reduced.push_back({from, s * kSecond + (s % 3 == 0 ? 500 : s % 3 == 1 ? 100 : 200) * kMs});
        }
        std::vector<std::int16_t> samples(static_cast<std::size_t>(8 * c.rate));
        for (std::size_t k = 0; k < samples.size(); ++k) {
            const double t = static_cast<double>(k) / c.rate;
            double level = 1;
            for (const auto& [from, to] : reduced) {
                // Raised-cosine ramps of 1 ms centred on each edge.
                const double down = std::clamp((t - static_cast<double>(from) * 1e-9) / 1e-3 + 0.5, 0.0, 1.0);
                const double up = std::clamp((t - static_cast<double>(to) * 1e-9) / 1e-3 + 0.5, 0.0, 1.0);
                const double depth = (std::cos(std::numbers::pi * up) - std::cos(std::numbers::pi * down)) / 2;
                level -= (1 - c.reduced) * depth;
            }
            const double phase = 2 * std::numbers::pi * std::fmod(c.toneHz * t, 1.0) + (t > 4.55 ? c.step : 0);
            samples[k] = static_cast<std::int16_t>(std::lround(29205 * level * std::sin(phase)));
        }
        const Demodulation d = Demodulate(samples.data(), samples.size(), c.rate, c.askedHz, origin);
        EXPECT_NEAR(d.carrierHz, c.toneHz, 1e-3);
        EXPECT_NEAR(d.fullPeak, 29205 / 32767.0, 1e-4);
        EXPECT_NEAR(d.reducedRatio, c.reduced, 1e-3);
        EXPECT_NEAR(d.maxPhaseJumpRad, c.step, 2e-3);
        ASSERT_EQ(d.edges.size(), 2 * reduced.size());
        for (std::size_t i = 0; i < d.edges.size(); ++i) {
            const std::int64_t nominal = origin + (i % 2 == 0 ? reduced[i / 2].first : reduced[i / 2].second);
            EXPECT_EQ(d.edges[i].asserted, i % 2 == 0);
            EXPECT_NEAR(static_cast<double>(d.edges[i].time - nominal) * c.rate / 1e9, 0, 0.05) << "edge " << i;
        }
    }
}
