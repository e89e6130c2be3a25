// Times the transmitter against the UTC clock: runs the real program (its
// start-up wait, keying loop and pauses) on a line that only stamps each
// change, and reports how far the pulses fall from the UTC second grid.
//
//   timing_bench [minutes per run, default 5]
//
// Four runs: the deadline pause and a plain relative pause, each with
// instant line changes and with 1 ms ones, as a slow USB adapter takes.
// The last column shows how far the system's UTC clock itself was slewed
// or stepped during a run; the program does not follow such changes.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

constexpr double kSecond = 1e9;

struct Stats {
    double firstOnsetUs = 0;
    double onset[3] = {};      // median, 99th percentile, maximum of |error|, us
    double width100[3] = {};   // the same for the width error of 0 pulses
    double width200[3] = {};   // and of 1 pulses
    double driftMsPerHour = 0;
    double cpuPercent = 0;
    double utcMovedMs = 0;  // how far the UTC clock moved against the monotonic one
};

static void Summarise(std::vector<double> values, double* out) {
    if (values.empty()) return;
    for (double& v : values) v = std::fabs(v);
    std::sort(values.begin(), values.end());
    out[0] = values[values.size() / 2];
    out[1] = values[std::min(values.size() - 1, static_cast<std::size_t>(values.size() * 0.99))];
    out[2] = values.back();
}

// Least-squares slope of y over x.
static double Slope(const std::vector<double>& x, const std::vector<double>& y) {
    const double n = static_cast<double>(x.size());
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        sx += x[i];
        sy += y[i];
        sxx += x[i] * x[i];
        sxy += x[i] * y[i];
    }
    const double d = n * sxx - sx * sx;
    return d == 0 ? 0 : (n * sxy - sx * sy) / d;
}

static bool Analyse(const std::string& log, int minutes, Stats* stats) {
    std::ifstream in(log);
    std::string word;
    long long cpu = 0;
    if (!(in >> word >> cpu) || word != "cpu") return false;
    std::vector<long long> raises, lowers;
    long long utc = 0, monotonic = 0;
    int change = 0;
    double firstOffset = 0, widestOffset = 0;
    while (in >> utc >> monotonic >> change) {
        if (change == 5) raises.push_back(utc);
        if (change == 6) lowers.push_back(utc);
        // The program never reads the UTC clock after its start: a clock
        // that is slewed or stepped during the run shows here.
        const double offset = static_cast<double>(utc - monotonic);
        if (raises.size() + lowers.size() == 1) firstOffset = offset;
        if (std::fabs(offset - firstOffset) > std::fabs(widestOffset)) widestOffset = offset - firstOffset;
    }
    if (raises.size() < 2) return false;
    // Pulse k is second k % 59 of frame k / 59, which starts on the UTC
    // minute the first pulse is nearest to.
    const long long minute = std::llround(raises[0] / (60 * kSecond)) * 60'000'000'000LL;
    std::vector<double> errors, hours, width100, width200;
    for (std::size_t k = 0; k < raises.size(); ++k) {
        const long long expected = minute + static_cast<long long>(k / 59) * 60'000'000'000LL +
                                   static_cast<long long>(k % 59) * 1'000'000'000LL;
        errors.push_back(static_cast<double>(raises[k] - expected) / 1e3);
        hours.push_back(static_cast<double>(raises[k] - raises[0]) / 3600e9);
    }
    std::size_t low = 0;
    for (std::size_t k = 0; k + 1 < raises.size(); ++k) {
        while (low < lowers.size() && lowers[low] < raises[k]) ++low;
        if (low == lowers.size()) break;
        const double width = static_cast<double>(lowers[low] - raises[k]);
        if (width < 150e6) width100.push_back((width - 100e6) / 1e3);
        else width200.push_back((width - 200e6) / 1e3);
    }
    stats->firstOnsetUs = errors[0];
    Summarise(errors, stats->onset);
    Summarise(width100, stats->width100);
    Summarise(width200, stats->width200);
    stats->driftMsPerHour = Slope(hours, errors) / 1e3;
    stats->cpuPercent = static_cast<double>(cpu) / (minutes * 60 * kSecond) * 100;
    stats->utcMovedMs = widestOffset / 1e6;
    return true;
}

int main(int argc, char** argv) {
    const int minutes = argc > 1 ? std::atoi(argv[1]) : 5;
    if (minutes < 1) {
        std::fprintf(stderr, "usage: timing_bench [minutes per run]\n");
        return 2;
    }
    struct Run {
        const char* pause;
        const char* program;
        int latencyUs;
    } runs[] = {
        {"deadline", DEADLINE_PROGRAM, 0},
        {"deadline", DEADLINE_PROGRAM, 1000},
        {"relative", RELATIVE_PROGRAM, 0},
        {"relative", RELATIVE_PROGRAM, 1000},
    };
    std::printf("%d minutes per run, factor 100; errors in us against the UTC second (median / 99th "
                "percentile / maximum of the absolute error)\n\n",
                minutes);
    std::printf("| pause | line change | first onset | onset error | 100 ms width error | 200 ms width error | "
                "drift ms/h | CPU %% of a core | UTC clock moved ms |\n|---|---|---|---|---|---|---|---|---|\n");
    std::fflush(stdout);
    for (const Run& run : runs) {
        const std::string log = "/tmp/dcf_bench_" + std::string(run.pause) + std::to_string(run.latencyUs) + ".log";
        const std::string command = "printf '2\\n100\\n' | DCF_BENCH_LOG=" + log +
                                    " DCF_BENCH_MINUTES=" + std::to_string(minutes) +
                                    " DCF_BENCH_LINE_LATENCY_US=" + std::to_string(run.latencyUs) + " " +
                                    run.program + " >/dev/null";
        Stats s;
        if (std::system(command.c_str()) != 0 || !Analyse(log, minutes, &s)) {
            std::fprintf(stderr, "run failed: %s\n", command.c_str());
            return 1;
        }
        std::printf("| %s | %d ms | %+.0f | %.0f / %.0f / %.0f | %.0f / %.0f / %.0f | %.0f / %.0f / %.0f | %+.3f | "
                    "%.3f | %+.3f |\n",
                    run.pause, run.latencyUs / 1000, s.firstOnsetUs, s.onset[0], s.onset[1], s.onset[2],
                    s.width100[0], s.width100[1], s.width100[2], s.width200[0], s.width200[1], s.width200[2],
                    s.driftMsPerHour, s.cpuPercent, s.utcMovedMs);
        std::fflush(stdout);
    }
    return 0;
}
