// Edges and carrier of the real program on the simulated sound device
// (a card 200 ppm fast, 3 ms latency, reports in 0.25 ms steps with ±50 us
// of jitter) through a step of the UTC clock, a jump of the card's latency
// or a slew of the UTC clock, 100 s into the run (inside its second whole
// frame); and on a card started as PulseAudio under Wine starts (10 ms
// packets, two thirds of its rate for 3 s), or one 0.5 % slow. Each case runs dcf77tx_sim in a directory of its own under
// /tmp/audio_clock_bench; the recording is demodulated and every edge timed
// against the simulated UTC clock's second, the carrier measured in 2 s
// slices against true time.
// The review's slews run for longer, at 8000 Hz, with and without --ntp
// and a simulated NTP server on the true time, to which each slew brings
// the system clock: the carrier's worst offset from 30 minutes after the
// start on, the edges' worst against the second sent (the system clock's,
// or NTP time's), from the first frame and from 30 minutes on.
//   audio_clock_bench [CASE ...]   cases whose names begin so; default all
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "audio_demodulator.h"

constexpr std::int64_t kMs = 1'000'000, kSecond = 1'000'000'000;
constexpr std::int64_t kSimStart = 1'000 * kSecond;  // the simulated monotonic clock at start
constexpr std::int64_t kStartUtcMs = 1260534896500;  // 2009-12-11 12:34:56.5 UTC
constexpr std::int64_t kEventMs = 100'000, kLatencyUs = 3000;

struct Case {
    const char* name;
    double stepMs, jumpMs, slewPpm;  // the event
    int seconds;                     // run length
    const char* card = "";           // more for the simulated card
};

struct Figures {
    double before = 0, within2 = 0, after = 0;          // worst edge offsets, ms
    double hzBefore = 0, hzDuring = 0, hzAfter = 0;     // worst carrier offsets, Hz
    int edges = 0;
    std::string said;
};

static void Worst(double* worst, double value) { *worst = std::max(*worst, std::abs(value)); }

// Runs the simulated program in `dir` with `options`: what it said on
// standard error, one line after another, and the sound it played (its
// first segment's start and frame period). False when it played nothing.
static bool RunRecorded(const std::string& dir, const std::string& options, const char* name, std::string* said,
                        long long* start, double* period, std::vector<std::int16_t>* samples) {
    const std::string command = "cd " + dir + " && " SIM_PROGRAM " " + options + " >out 2>err";
    if (std::system(command.c_str()) != 0) std::fprintf(stderr, "%s: the program failed\n", name);
    std::ifstream err(dir + "/err");
    for (std::string line; std::getline(err, line);) *said += (said->empty() ? "" : " / ") + line;
    std::ifstream segments(dir + "/dcf_record.audio.segments");
    std::ifstream samplesIn(dir + "/dcf_record.audio", std::ios::binary);
    std::size_t count = 0;
    if (!(segments >> *start >> *period >> count) || count == 0) return false;
    samples->resize(count);
    samplesIn.read(reinterpret_cast<char*>(samples->data()), static_cast<std::streamsize>(count * 2));
    return true;
}

static Figures Run(const Case& c) {
    std::string dir = "/tmp/audio_clock_bench/" + std::string(c.name);
    std::replace(dir.begin(), dir.end(), ' ', '_');
    std::filesystem::create_directories(dir);
    const double slewSeconds = 60;
    std::ofstream(dir + "/dcf77tx_sim.conf")
        << "start_utc_ms " << kStartUtcMs << "\nrun_seconds " << c.seconds
        << "\nrecord dcf_record\naudio_rate 48000\naudio_ppm 200\naudio_latency_us " << kLatencyUs
        << "\naudio_granule 12\naudio_jitter_us 50\nutc_step_after_ms " << kEventMs << "\nutc_step_ms " << c.stepMs
        << "\naudio_jump_after_ms " << kEventMs << "\naudio_jump_us " << c.jumpMs * 1000 << "\nutc_slew_after_ms "
        << kEventMs << "\nutc_slew_ms " << (c.slewPpm != 0 ? slewSeconds * 1000 : 0) << "\nutc_slew_ppm " << c.slewPpm
        << "\n" << c.card;
    Figures f;
    long long start = 0;
    double period = 0;
    std::vector<std::int16_t> samples;
    if (!RunRecorded(dir, "--audio sim", c.name, &f.said, &start, &period, &samples)) return f;

    const std::int64_t utcAtZero = kStartUtcMs * kMs - kSimStart, eventAt = kSimStart + kEventMs * kMs;
    auto utcAt = [&](std::int64_t t) {
        const double slewed = std::clamp(static_cast<double>(t - eventAt), 0.0, slewSeconds * 1e9);
        return t + utcAtZero + (t >= eventAt ? static_cast<std::int64_t>(c.stepMs * 1e6) : 0) +
               static_cast<std::int64_t>(slewed * c.slewPpm * 1e-6);
    };
    auto heard = [&](double k) {
        const std::int64_t left = start + static_cast<std::int64_t>(k * period);
        return left + kLatencyUs * 1000 + (left >= eventAt ? static_cast<std::int64_t>(c.jumpMs * 1e6) : 0);
    };
    const std::int64_t event = utcAt(eventAt);
    const Demodulation d = Demodulate(samples.data(), samples.size(), 1e9 / period, 15500, 0);
    // From the first whole frame, 12:35:00.
    const std::int64_t firstFrame = 1260534900 * kSecond;
    for (const Edge& e : d.edges) {
        const std::int64_t at = utcAt(heard(static_cast<double>(e.time) / period));
        if (at < firstFrame - kSecond / 2) continue;
        const std::int64_t grid = e.asserted ? kSecond : 100 * kMs;
        const double off = static_cast<double>((at % grid + grid + grid / 2) % grid - grid / 2) / kMs;
        ++f.edges;
        Worst(at < event ? &f.before : at < event + 2 * kSecond ? &f.within2 : &f.after, off);
    }
    // The fifth harmonic against 77.5 kHz, in 2 s slices from the first frame.
    const std::size_t slice = static_cast<std::size_t>(2e9 / period);
    for (std::size_t from = 0; from + slice <= samples.size(); from += slice) {
        const std::int64_t at = utcAt(heard(static_cast<double>(from)));
        if (at < firstFrame) continue;
        const Demodulation s = Demodulate(samples.data() + from, slice, 1e9 / period, 15500, 0);
        if (s.fullPeak == 0) continue;  // silent until a later first frame
        const double hz = 5 * s.carrierHz - 77500;
        const std::int64_t end = utcAt(heard(static_cast<double>(from + slice)));
        const bool slewing = c.slewPpm != 0 && end > event && at < event + static_cast<std::int64_t>(slewSeconds * 1e9);
        Worst(end <= event ? &f.hzBefore : slewing || at < event + 30 * kSecond ? &f.hzDuring : &f.hzAfter, hz);
    }
    return f;
}

// A slew of the system clock toward the NTP server's time.
struct Slew {
    const char* name;
    double afterS, forS, ppm;  // from, how long, how fast
    int seconds;               // run length
};

struct SlewFigures {
    double hz = 0, hz30 = 0, edges = 0, edges30 = 0;  // worst: carrier from the first frame, from 30 min, Hz; edges, ms
    int edgeCount = 0;
    std::string said;
};

static SlewFigures RunSlew(const Slew& c, bool ntp) {
    std::string dir = "/tmp/audio_clock_bench/" + std::string(c.name) + (ntp ? " ntp" : "");
    std::replace(dir.begin(), dir.end(), ' ', '_');
    std::filesystem::create_directories(dir);
    const double correctionMs = c.ppm * c.forS / 1000;
    std::ofstream(dir + "/dcf77tx_sim.conf")
        << "start_utc_ms " << kStartUtcMs << "\nrun_seconds " << c.seconds
        << "\nrecord dcf_record\naudio_rate 8000\naudio_ppm 200\naudio_latency_us " << kLatencyUs
        << "\naudio_granule 2\naudio_jitter_us 50\nutc_slew_after_ms " << std::llround(c.afterS * 1000)
        << "\nutc_slew_ms " << std::llround(c.forS * 1000) << "\nutc_slew_ppm " << c.ppm << "\nntp_offset_ms "
        << std::llround(correctionMs) << "\n";
    SlewFigures f;
    long long start = 0;
    double period = 0;
    std::vector<std::int16_t> samples;
    if (!RunRecorded(dir, ntp ? "--audio sim --ntp 192.0.2.1" : "--audio sim", c.name, &f.said, &start, &period,
                     &samples))
        return f;
    // The second sent: the slewed system clock's, or the server's.
    const std::int64_t trueAtZero = kStartUtcMs * kMs - kSimStart, slewAt = kSimStart + std::llround(c.afterS * 1e9);
    auto sentAt = [&](std::int64_t t) -> std::int64_t {
        if (ntp) return t + trueAtZero + std::llround(correctionMs * 1e6);
        const double slewed = std::clamp(static_cast<double>(t - slewAt), 0.0, c.forS * 1e9);
        return t + trueAtZero + static_cast<std::int64_t>(slewed * c.ppm * 1e-6);
    };
    const double tone = 77500.0 / 23;
    const std::int64_t after30 = kSimStart + 30 * 60 * kSecond;
    const Demodulation d = Demodulate(samples.data(), samples.size(), 1e9 / period, tone, 0);
    const std::int64_t firstFrame = (sentAt(kSimStart) / (60 * kSecond) + 2) * 60 * kSecond;
    for (const Edge& e : d.edges) {
        const std::int64_t heard = start + e.time + kLatencyUs * 1000, at = sentAt(heard);
        if (at < firstFrame - kSecond / 2) continue;
        const std::int64_t grid = e.asserted ? kSecond : 100 * kMs;
        const double off = static_cast<double>((at % grid + grid + grid / 2) % grid - grid / 2) / kMs;
        ++f.edgeCount;
        Worst(&f.edges, off);
        if (heard >= after30) Worst(&f.edges30, off);
    }
    // The 23rd harmonic against 77.5 kHz, in 10 s slices, by true time.
    const std::size_t slice = static_cast<std::size_t>(10e9 / period);
    for (std::size_t from = 0; from + slice <= samples.size(); from += slice) {
        const std::int64_t at = start + static_cast<std::int64_t>(static_cast<double>(from) * period);
        if (sentAt(at) < firstFrame) continue;
        const Demodulation s = Demodulate(samples.data() + from, slice, 1e9 / period, tone, 0);
        Worst(&f.hz, 23 * s.carrierHz - 77500);
        if (at >= after30) Worst(&f.hz30, 23 * s.carrierHz - 77500);
    }
    return f;
}

static void RunSlews(int argc, char** argv) {
    const Slew slews[] = {
        {"review: 60 ms at 500 ppm from the start", 0, 120, 500, 40 * 60},
        {"review: 500 ppm for 25 min from 10 min", 600, 1500, 500, 40 * 60},
        {"review: 100 ms at 33 ppm two hours in", 7200, 3030, 33, 7200 + 3030 + 300},
        {"review: 60 s at 500 ppm from 100 s", 100, 60, 500, 40 * 60},
    };
    std::printf("\n| slew | --ntp | edges | edges' worst from the first frame, ms | from 30 min, ms | carrier's worst "
                "from the first frame, Hz | from 30 min, Hz | said |\n|---|---|---|---|---|---|---|---|\n");
    for (const Slew& c : slews) {
        bool chosen = argc < 2;
        for (int i = 1; i < argc; ++i) chosen = chosen || std::strncmp(c.name, argv[i], std::strlen(argv[i])) == 0;
        for (int ntp = 0; ntp < 2 && chosen; ++ntp) {
            const SlewFigures f = RunSlew(c, ntp != 0);
            std::printf("| %s | %s | %d | %.3f | %.3f | %.3f | %.3f | %s |\n", c.name + 8, ntp ? "yes" : "no",
                        f.edgeCount, f.edges, f.edges30, f.hz, f.hz30, f.said.empty() ? "nothing" : f.said.c_str());
            std::fflush(stdout);
        }
    }
}

int main(int argc, char** argv) {
    const Case cases[] = {
        {"steady", 0, 0, 0, 200},         {"step 1 ms", 1, 0, 0, 200},     {"step 10 ms", 10, 0, 0, 200},
        {"step 19 ms", 19, 0, 0, 200},    {"step 100 ms", 100, 0, 0, 200}, {"jump 5 ms", 0, 5, 0, 200},
        {"jump 15 ms", 0, 15, 0, 200},    {"slew 500 ppm", 0, 0, 500, 260},
        {"wine-like start", 0, 0, 0, 200, "audio_granule 480\naudio_slow_ms 3000\naudio_slow_rate 0.64\n"},
        {"0.5 % slow", 0, 0, 0, 200, "audio_ppm -5000\n"},
    };
    std::printf("| case | edges | edge offset before, ms | in the 2 s after | from then on | carrier before, Hz | "
                "in the 30 s after (the slew: during it) | from then on | said |\n|---|---|---|---|---|---|---|---|---|\n");
    for (const Case& c : cases) {
        bool chosen = argc < 2;
        for (int i = 1; i < argc; ++i) chosen = chosen || std::strncmp(c.name, argv[i], std::strlen(argv[i])) == 0;
        if (!chosen) continue;
        const Figures f = Run(c);
        std::printf("| %s | %d | %.3f | %.3f | %.3f | %.3f | %.3f | %.3f | %s |\n", c.name, f.edges, f.before,
                    f.within2, f.after, f.hzBefore, f.hzDuring, f.hzAfter, f.said.empty() ? "nothing" : f.said.c_str());
        std::fflush(stdout);
    }
    RunSlews(argc, argv);
    return 0;
}
