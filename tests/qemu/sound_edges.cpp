// Reads what sound_capture recorded in the emulated PC (the raw samples on
// its disk, the time lines on its console) and says when things reached
// the loopback card, on the guest's own clocks:
//
//   sound_edges probe CONSOLE DISK
//     the probe's tone arrived bit for bit, and how far ReportAudio's
//     figures put each frame from when the capture saw it arrive
//   sound_edges program CONSOLE DISK TONE_HZ STATION FIRST_UTC FRAMES [LIMIT_MS]
//     the program's sound demodulated, its frames decoded (FRAMES whole
//     ones, the first starting at FIRST_UTC, in seconds), and every
//     second's edge from then on timed against the guest's UTC second
//     (none more than LIMIT_MS, 2 unless given, from it)
//   sound_edges recording WAV TONE_HZ STATION FRAMES
//     the same decoding of a WAV file QEMU recorded from an emulated sound
//     card (its first channel), at least FRAMES whole frames, the carrier
//     at TONE_HZ; without the guest's clocks the edges are timed only
//     against each other
//
// Capture times come from a straight line fitted through the capture's
// (frames, monotonic time) reports: the loopback card moves its position
// on the kernel's timer ticks, so any one report is off by up to a tick.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/audio_demodulator.h"
#include "tests/decoder.h"
#include "tests/qemu/sound_tone.h"
#include "tests/station_decoder.h"

namespace {

struct Capture {
    unsigned rate = 0;
    std::int64_t utcMinusMonotonic = 0;  // from the first CLOCK line
    std::vector<std::int16_t> samples;
    double start = 0;        // fitted monotonic ns of frame 0
    double frameNs = 0;      // fitted ns per frame
    double worstResidual = 0;
    std::size_t reports = 0;
};

struct ProbeReport {
    long long written, delay, monotonic;
};

std::vector<std::string> ConsoleLines(const char* path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        line.erase(std::remove(line.begin(), line.end(), '\r'), line.end());
        lines.push_back(line);
    }
    return lines;
}

bool ReadCapture(const std::vector<std::string>& lines, const char* disk, Capture* capture) {
    std::vector<double> frames, times;
    long long end = -1;
    bool clock = false;
    for (const std::string& line : lines) {
        std::istringstream in(line);
        std::string word;
        in >> word;
        long long a = 0, b = 0;
        if (word == "CLOCK" && !clock && (in >> a >> b)) {
            capture->utcMinusMonotonic = b - a;
            clock = true;
        } else if (word == "CAPTURED" && (in >> a >> b)) {
            frames.push_back(static_cast<double>(a));
            times.push_back(static_cast<double>(b));
        } else if (word == "END") {
            in >> end;
        } else if (word == "RATE") {
            in >> capture->rate;
        }
    }
    if (!clock || end < 0 || frames.size() < 10 || capture->rate == 0) {
        std::printf("FAIL: the capture did not finish (no CLOCK, RATE, END or too few CAPTURED lines)\n");
        return false;
    }
    // Least squares: time = start + frameNs * frame.
    const double n = static_cast<double>(frames.size());
    double mf = 0, mt = 0;
    for (std::size_t i = 0; i < frames.size(); ++i) mf += frames[i] / n, mt += times[i] / n;
    double sff = 0, sft = 0;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        sff += (frames[i] - mf) * (frames[i] - mf);
        sft += (frames[i] - mf) * (times[i] - mt);
    }
    capture->frameNs = sft / sff;
    capture->start = mt - capture->frameNs * mf;
    for (std::size_t i = 0; i < frames.size(); ++i)
        capture->worstResidual = std::max(capture->worstResidual,
                                          std::fabs(times[i] - capture->start - capture->frameNs * frames[i]));
    capture->reports = frames.size();
    capture->samples.resize(static_cast<std::size_t>(end));
    std::ifstream in(disk, std::ios::binary);
    in.read(reinterpret_cast<char*>(capture->samples.data()), end * 2);
    if (in.gcount() != end * 2) {
        std::printf("FAIL: the disk holds %lld of %lld frames\n", static_cast<long long>(in.gcount() / 2), end);
        return false;
    }
    std::printf("capture: %lld frames at %u Hz; the card's clock runs %+.1f ppm against the monotonic clock "
                "(%zu reports, the worst %.2f ms off the fitted line)\n",
                end, capture->rate, (1e9 / capture->rate / capture->frameNs - 1) * 1e6, capture->reports,
                capture->worstResidual / 1e6);
    return true;
}

double CapturedAt(const Capture& capture, double frame) {
    return capture.start + capture.frameNs * frame;
}

int Probe(const std::vector<std::string>& lines, const Capture& capture) {
    std::vector<ProbeReport> reports;
    long long made = -1;
    unsigned rate = 0;
    for (const std::string& line : lines) {
        std::istringstream in(line);
        std::string word;
        in >> word;
        ProbeReport r{};
        if (word == "REPORT" && (in >> r.written >> r.delay >> r.monotonic)) reports.push_back(r);
        if (word == "PROBE-DONE") in >> made;
        if (word == "OPENED") in >> rate;
    }
    if (made < 0 || rate != capture.rate) {
        std::printf("FAIL: the probe did not finish at the capture's rate (opened at %u Hz)\n", rate);
        return 1;
    }
    const auto first = std::find_if(capture.samples.begin(), capture.samples.end(), [](std::int16_t s) { return s != 0; });
    const long long offset = first - capture.samples.begin();
    // The loopback card drops a tick's worth of what is drained at the
    // end (its twin sees the playback stop): the last buffer, 200 ms, is
    // counted apart.
    const long long drained = made - rate / 5;
    long long wrong = 0, wrongDrained = 0, missing = 0;
    for (long long k = 0; k < made; ++k) {
        const long long at = offset + k;
        if (at >= static_cast<long long>(capture.samples.size())) {
            ++missing;
        } else if (capture.samples[static_cast<std::size_t>(at)] != ToneSample(k, rate)) {
            ++(k < drained ? wrong : wrongDrained);
        }
    }
    std::printf("probe: %lld frames played from capture frame %lld: %lld differ (and %lld of the drained last "
                "200 ms), %lld not captured\n",
                made, offset, wrong, wrongDrained, missing);
    // Frame `written` leaves `delay` frames after the report's instant.
    std::vector<double> errors;
    for (const ProbeReport& r : reports) {
        if (r.delay <= 0 || offset + r.written >= static_cast<long long>(capture.samples.size())) continue;
        const double predicted = static_cast<double>(r.monotonic) + r.delay * 1e9 / rate;
        errors.push_back((predicted - CapturedAt(capture, static_cast<double>(offset + r.written))) / 1e6);
    }
    if (errors.empty() || wrong != 0 || missing != 0) {
        std::printf("FAIL: %s\n", wrong != 0 ? "the tone arrived altered" : "no report of a running stream");
        return 1;
    }
    double mean = 0;
    for (double e : errors) mean += e / static_cast<double>(errors.size());
    std::sort(errors.begin(), errors.end());
    std::printf("ReportAudio: %zu reports put their frames %+.3f ms from when they arrived on average "
                "(min %+.3f, median %+.3f, max %+.3f ms)\n",
                errors.size(), mean, errors.front(), errors[errors.size() / 2], errors.back());
    return std::fabs(mean) < 5 && errors.back() - errors.front() < 20 ? 0 : 1;
}


// Mid-points of the level changes on the guest's UTC clock, in ns.
std::vector<Edge> UtcEdges(const Capture& capture, double toneHz, Demodulation* d) {
    // What the program played: from its first non-zero frame to its last,
    // less a little at each end (the fade in and the drain).
    const auto& s = capture.samples;
    const auto first = std::find_if(s.begin(), s.end(), [](std::int16_t v) { return v != 0; });
    const auto last = std::find_if(s.rbegin(), s.rend(), [](std::int16_t v) { return v != 0; });
    const long long from = (first - s.begin()) + capture.rate / 10;
    const long long to = static_cast<long long>(s.size() - (last - s.rbegin())) - capture.rate / 10;
    if (to - from < capture.rate) return {};
    // The demodulator takes the card's rate as the monotonic clock sees it.
    const double utcOfFrom = CapturedAt(capture, static_cast<double>(from)) + static_cast<double>(capture.utcMinusMonotonic);
    *d = Demodulate(s.data() + from, static_cast<std::size_t>(to - from), 1e9 / capture.frameNs, toneHz,
                    static_cast<std::int64_t>(utcOfFrom));
    return d->edges;
}

// To the nearest millisecond: an edge 0.03 ms early is on its second, not
// in the millisecond before it.
std::string Clock(std::int64_t ns) {
    const std::int64_t ms = (ns + 500'000) / 1'000'000;
    const std::int64_t seconds = ms / 1000;
    char text[40];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld.%03lld", static_cast<long long>(seconds / 3600 % 24),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60),
                  static_cast<long long>(ms % 1000));
    return text;
}

void PrintCarrier(const Demodulation& d, double toneHz) {
    std::printf("program: carrier %.3f Hz (tone %.3f Hz), full at %.3f of full scale, reduced to %.3f, largest "
                "phase jump %.3f rad, %zu edges\n",
                d.carrierHz, toneHz, d.fullPeak, d.reducedRatio, d.maxPhaseJumpRad, d.edges.size());
}

// Frames decoded, each with the time (ns, on the edges' clock) it started on.
std::vector<std::pair<std::int64_t, std::string>> Frames(const std::vector<Edge>& edges, const std::string& station) {
    std::vector<std::pair<std::int64_t, std::string>> frames;
    if (station == "dcf77") {
        // Full carrier until the first whole frame: its first pulse starts a minute.
        for (const DecodedMinute& m : DecodeMinutes(PulsesFromEdges(edges), true)) {
            char text[80];
            std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d%s%s", 2000 + m.year, m.month, m.day, m.hour, m.minute,
                          m.summer ? " summer time" : "", m.valid ? "" : (" INVALID: " + m.error).c_str());
            frames.emplace_back(m.start, text);
        }
    } else {
        for (const StationFrame& f : DecodeStationFrames(station, ReadSeconds(station, edges), edges)) {
            char text[80];
            std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d%s%s", f.year < 100 ? 2000 + f.year : f.year, f.month, f.day, f.hour, f.minute,
                          f.error.empty() ? "" : " INVALID: ", f.error.c_str());
            frames.emplace_back(f.start * 1'000'000'000, text);
        }
    }
    return frames;
}

int Program(const Capture& capture, double toneHz, const std::string& station, std::int64_t firstUtc, int wanted,
            double limitMs) {
    Demodulation d{};
    const std::vector<Edge> edges = UtcEdges(capture, toneHz, &d);
    PrintCarrier(d, toneHz);
    const std::int64_t start = firstUtc * 1'000'000'000;
    const std::vector<std::pair<std::int64_t, std::string>> frames = Frames(edges, station);
    int whole = 0;
    for (const auto& [at, text] : frames) {
        std::printf("frame from %s UTC: %s\n", Clock(at).c_str(), text.c_str());
        if (at >= start - 500'000'000 && text.find("INVALID") == std::string::npos) ++whole;
    }
    // Each second's first edge from the first whole frame on, against the
    // UTC second it belongs to (the edge nearest to the second).
    std::vector<double> offsets;
    std::int64_t second = -1;
    for (const Edge& e : edges) {
        const std::int64_t nearest = (e.time + 500'000'000) / 1'000'000'000;
        if (e.time < start - 500'000'000 || nearest == second) continue;
        second = nearest;
        const double off = static_cast<double>(e.time - nearest * 1'000'000'000) / 1e6;
        if (std::fabs(off) < 100) offsets.push_back(off);
    }
    if (offsets.empty()) {
        std::printf("FAIL: no edge from the first whole frame on\n");
        return 1;
    }
    double mean = 0;
    for (double o : offsets) mean += o / static_cast<double>(offsets.size());
    std::vector<double> sorted = offsets;
    std::sort(sorted.begin(), sorted.end());
    std::printf("edges on the UTC second: %zu seconds, mean %+.3f ms, min %+.3f, median %+.3f, max %+.3f ms\n",
                sorted.size(), mean, sorted.front(), sorted[sorted.size() / 2], sorted.back());
    std::printf("  the first ten: ");
    for (std::size_t i = 0; i < offsets.size() && i < 10; ++i) std::printf("%+.3f ", offsets[i]);
    std::printf("ms\n");
    bool ok = true;
    if (whole < wanted) {
        std::printf("FAIL: %d whole frames decoded from %s UTC on, %d wanted\n", whole, Clock(start).c_str(), wanted);
        ok = false;
    }
    if (std::fabs(sorted.front()) > limitMs || std::fabs(sorted.back()) > limitMs) {
        std::printf("FAIL: an edge more than %g ms from its UTC second\n", limitMs);
        ok = false;
    }
    return ok ? 0 : 1;
}

// The first channel of a 16-bit PCM WAV file, and its rate; empty where
// the file is not one.
std::vector<std::int16_t> ReadWav(const char* path, unsigned* rate) {
    std::ifstream in(path, std::ios::binary);
    char riff[12];
    if (!in.read(riff, 12) || std::memcmp(riff, "RIFF", 4) != 0 || std::memcmp(riff + 8, "WAVE", 4) != 0) return {};
    unsigned channels = 0, bits = 0;
    for (char head[8]; in.read(head, 8);) {
        std::uint32_t size = 0;
        std::memcpy(&size, head + 4, 4);
        if (std::memcmp(head, "fmt ", 4) == 0) {
            unsigned char fmt[16];
            if (size < 16 || !in.read(reinterpret_cast<char*>(fmt), 16)) return {};
            channels = fmt[2] | fmt[3] << 8;
            *rate = fmt[4] | fmt[5] << 8 | fmt[6] << 16 | static_cast<unsigned>(fmt[7]) << 24;
            bits = fmt[14] | fmt[15] << 8;
            in.seekg(size - 16 + (size & 1), std::ios::cur);
        } else if (std::memcmp(head, "data", 4) == 0) {
            if (bits != 16 || channels == 0) return {};
            // A recorder stopped early leaves the size unwritten: read to the end.
            std::vector<std::int16_t> all;
            for (std::int16_t sample; in.read(reinterpret_cast<char*>(&sample), 2);) all.push_back(sample);
            std::vector<std::int16_t> first;
            for (std::size_t i = 0; i < all.size(); i += channels) first.push_back(all[i]);
            return first;
        } else {
            in.seekg(size + (size & 1), std::ios::cur);
        }
    }
    return {};
}

int Recording(const char* path, double toneHz, const std::string& station, int wanted) {
    unsigned rate = 0;
    const std::vector<std::int16_t> s = ReadWav(path, &rate);
    // What the program played, less a little at each end (the fade in and
    // the drain), as for the capture.
    const auto first = std::find_if(s.begin(), s.end(), [](std::int16_t v) { return v != 0; });
    const auto last = std::find_if(s.rbegin(), s.rend(), [](std::int16_t v) { return v != 0; });
    const long long from = (first - s.begin()) + rate / 10;
    const long long to = static_cast<long long>(s.size() - (last - s.rbegin())) - rate / 10;
    if (rate == 0 || to - from < 2LL * rate) {
        std::printf("FAIL: %s holds no 16-bit recording of the program's sound\n", path);
        return 1;
    }
    std::printf("recording: %zu frames at %u Hz, the program's sound from %.3f s to %.3f s\n", s.size(), rate,
                static_cast<double>(from) / rate, static_cast<double>(to) / rate);
    // Times on the recording's own clock, from its first frame.
    const Demodulation d = Demodulate(s.data() + from, static_cast<std::size_t>(to - from), rate, toneHz,
                                      static_cast<std::int64_t>(static_cast<double>(from) * 1e9 / rate));
    PrintCarrier(d, toneHz);
    int whole = 0;
    std::int64_t firstWhole = -1;
    for (const auto& [at, text] : Frames(d.edges, station)) {
        std::printf("frame from %.3f s: %s\n", static_cast<double>(at) / 1e9, text.c_str());
        if (text.find("INVALID") != std::string::npos) continue;
        ++whole;
        if (firstWhole < 0) firstWhole = at;
    }
    // Each second's first edge from the first whole frame on, against a
    // line fitted through them: how evenly the seconds were laid out in
    // what the card played.
    std::vector<double> seconds, times;
    for (const Edge& e : d.edges) {
        if (firstWhole < 0 || e.time < firstWhole - 500'000'000) continue;
        const double second = std::round(static_cast<double>(e.time - firstWhole) / 1e9);
        if (!seconds.empty() && second == seconds.back()) continue;
        if (std::fabs(static_cast<double>(e.time - firstWhole) / 1e9 - second) > 0.1) continue;
        seconds.push_back(second);
        times.push_back(static_cast<double>(e.time - firstWhole) / 1e6);
    }
    if (seconds.size() >= 10) {
        const double n = static_cast<double>(seconds.size());
        double ms = 0, mt = 0;
        for (std::size_t i = 0; i < seconds.size(); ++i) ms += seconds[i] / n, mt += times[i] / n;
        double sss = 0, sst = 0;
        for (std::size_t i = 0; i < seconds.size(); ++i) {
            sss += (seconds[i] - ms) * (seconds[i] - ms);
            sst += (seconds[i] - ms) * (times[i] - mt);
        }
        const double msPerSecond = sst / sss;
        double worst = 0;
        for (std::size_t i = 0; i < seconds.size(); ++i)
            worst = std::max(worst, std::fabs(times[i] - mt - msPerSecond * (seconds[i] - ms)));
        std::printf("edges in the recording: %zu seconds, a second lasts %+.1f ppm of the recording's, the worst "
                    "edge %.3f ms off the fitted line\n",
                    seconds.size(), (msPerSecond / 1000 - 1) * 1e6, worst);
    }
    bool ok = true;
    if (whole < wanted) {
        std::printf("FAIL: %d whole frames decoded, %d wanted\n", whole, wanted);
        ok = false;
    }
    // The emulated card's position moves in bursts: the program's slips
    // after them jump the carrier's phase, which pulls the measured tone.
    if (std::fabs(d.carrierHz - toneHz) > toneHz * 1e-3) {
        std::printf("FAIL: the carrier is %.3f Hz, not %.3f Hz to 0.1 %%\n", d.carrierHz, toneHz);
        ok = false;
    }
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: sound_edges probe CONSOLE DISK\n"
                             "       sound_edges program CONSOLE DISK TONE_HZ STATION FIRST_UTC FRAMES [LIMIT_MS]\n"
                             "       sound_edges recording WAV TONE_HZ STATION FRAMES\n");
        return 2;
    }
    if (std::strcmp(argv[1], "recording") == 0 && argc == 6)
        return Recording(argv[2], std::atof(argv[3]), argv[4], std::atoi(argv[5]));
    const std::vector<std::string> lines = ConsoleLines(argv[2]);
    Capture capture;
    if (!ReadCapture(lines, argv[3], &capture)) return 1;
    if (std::strcmp(argv[1], "probe") == 0) return Probe(lines, capture);
    if (std::strcmp(argv[1], "program") == 0 && (argc == 8 || argc == 9))
        return Program(capture, std::atof(argv[4]), argv[5], std::atoll(argv[6]), std::atoi(argv[7]),
                       argc == 9 ? std::atof(argv[8]) : 2.0);
    std::fprintf(stderr, "unknown mode %s\n", argv[1]);
    return 2;
}
