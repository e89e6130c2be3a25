// Times the transmitter against the UTC clock: runs the real program (its
// start-up wait, keying loop and pauses) on a line that only stamps each
// change, and reports how far the pulses fall from the UTC second grid.
//
//   timing_bench [minutes per run, default 5] [case ...]
//
// The cases: the deadline pause and a plain relative pause, each with
// instant line changes and with 1 ms ones, as a slow USB adapter takes;
// then --follow on a UTC clock left alone, stepped by +7.3 s halfway and
// running 100 ppm fast; then DCF77 in Central European Time, and MSF, WWVB
// and JJY with --follow; then the dialogue and the same program started
// with options, both of which learn the timer's lateness, side by side
// (the deadline cases run the dialogue too). Naming cases (deadline,
// relative, follow, zone, station, dialogue, options) runs only those
// whose name begins so. A column shows how far the UTC clock moved
// against the monotonic one during a run; the last, the platform's own
// timer wake-ups during it: a thread of this benchmark sleeps to absolute
// deadlines 10 times a second, as the program does (real-time priority
// and least timer slack where allowed), and notes how late it wakes.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <pthread.h>
#include <sched.h>
#include <string>
#include <sys/prctl.h>
#include <thread>
#include <time.h>
#include <unistd.h>
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
    int pulsesCut = 0;      // pulses of frames cut short by a step of the clock
    bool widths = true;     // the width columns apply (DCF77)
};

// How onsets are found and what they are measured against.
enum Analysis {
    GRID,   // DCF77's raises, against whole frames counted from the first
    CLOCK,  // DCF77's raises, against the nearest second of the UTC clock
    CODE,   // any code: the first change of DTR in each second, likewise
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

// Measured on the clock (CLOCK, CODE), the frame that a step of that clock
// cut short is left out.
static bool Analyse(const std::string& log, int minutes, Analysis analysis, Stats* stats) {
    const bool onClock = analysis != GRID;
    std::ifstream in(log);
    std::string word;
    long long cpu = 0;
    if (!(in >> word >> cpu) || word != "cpu") return false;
    std::vector<long long> raises, lowers, firsts;
    long long utc = 0, monotonic = 0;
    int change = 0;
    double firstOffset = 0, widestOffset = 0, lastOffset = 0;
    bool cut = false;  // inside a frame cut short by a step
    long long lastRaise = 0;
    int lastChange = 0;  // of DTR
    while (in >> utc >> monotonic >> change) {
        // A clock that is slewed or stepped during the run shows here.
        const double offset = static_cast<double>(utc - monotonic);
        if (raises.size() + lowers.size() == 0) firstOffset = lastOffset = offset;
        if (std::fabs(offset - firstOffset) > std::fabs(widestOffset)) widestOffset = offset - firstOffset;
        const bool stepped = onClock && std::fabs(offset - lastOffset) > 10e6;
        if (stepped) {
            cut = true;
            // A pulse that the step fell into is left out too.
            if (lastChange == 5 && !raises.empty()) {
                raises.pop_back();
                ++stats->pulsesCut;
            }
        }
        lastOffset = offset;
        // The next frame starts after the gap of at least one missing second.
        if (cut && !stepped && change == 5 && utc - lastRaise > 1.5 * kSecond) cut = false;
        if (change == 5) lastRaise = utc;
        if (change == 5 || change == 6) lastChange = change;
        if (cut) {
            stats->pulsesCut += change == 5;
            continue;
        }
        if (change == 5) raises.push_back(utc);
        if (change == 6) lowers.push_back(utc);
        // Every second's pattern starts with a line change at its onset.
        const long long second = std::llround(utc / kSecond);
        if ((change == 5 || change == 6) && std::llabs(utc - second * 1'000'000'000LL) < 50'000'000 &&
            (firsts.empty() || std::llround(firsts.back() / kSecond) != second))
            firsts.push_back(utc);
    }
    if (analysis == CODE) {
        raises = firsts;
        lowers.clear();
        stats->widths = false;
    }
    if (raises.size() < 2) return false;
    // Pulse k is second k % 59 of frame k / 59, which starts on the UTC
    // minute the first pulse is nearest to.
    const long long minute = std::llround(raises[0] / (60 * kSecond)) * 60'000'000'000LL;
    std::vector<double> errors, hours, width100, width200;
    for (std::size_t k = 0; k < raises.size(); ++k) {
        const long long expected = onClock ? std::llround(raises[k] / kSecond) * 1'000'000'000LL
                                           : minute + static_cast<long long>(k / 59) * 60'000'000'000LL +
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

// The platform's own timer wake-ups, sampled while the cases run.
static std::atomic<bool> sampling{true};
static std::mutex wakeLock;
static std::vector<double> wakeLateness;  // us, since the last case began

static long long Monotonic() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1'000'000'000LL + t.tv_nsec;
}

static void SampleTimerWakes() {
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    sched_param priority{};
    priority.sched_priority = 10;
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &priority);
    long long deadline = Monotonic();
    while (sampling) {
        // Deadlines 100 ms apart, off any grid the program keys on.
        deadline += 100'000'000 + 7'919 * (deadline % 13);
        const timespec until{static_cast<time_t>(deadline / 1'000'000'000), static_cast<long>(deadline % 1'000'000'000)};
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) != 0) {
        }
        const double late = static_cast<double>(Monotonic() - deadline) / 1e3;
        std::lock_guard<std::mutex> hold(wakeLock);
        wakeLateness.push_back(late);
    }
}

int main(int argc, char** argv) {
    const int minutes = argc > 1 ? std::atoi(argv[1]) : 5;
    if (minutes < 1) {
        std::fprintf(stderr, "usage: timing_bench [minutes per run] [case ...]\n");
        return 2;
    }
    struct Run {
        const char* name;
        const char* program;
        int latencyUs;
        const char* start;  // the program's command line, or its dialogue answered
        const char* clock;  // how its UTC clock is changed
        Analysis analysis;
    } runs[] = {
        {"deadline", DEADLINE_PROGRAM, 0, "", "", GRID},
        {"deadline", DEADLINE_PROGRAM, 1000, "", "", GRID},
        {"relative", RELATIVE_PROGRAM, 0, "", "", GRID},
        {"relative", RELATIVE_PROGRAM, 1000, "", "", GRID},
        {"follow", SKEWED_PROGRAM, 0, "--follow", "", CLOCK},
        {"follow, UTC stepped +7.3 s", SKEWED_PROGRAM, 0, "--follow", "DCF_BENCH_UTC_STEP_MS=7300 ", CLOCK},
        {"follow, UTC 100 ppm fast", SKEWED_PROGRAM, 0, "--follow", "DCF_BENCH_UTC_PPM=100 ", CLOCK},
        {"zone cet", DEADLINE_PROGRAM, 0, "--zone cet", "", GRID},
        {"station msf, follow", SKEWED_PROGRAM, 0, "--station msf --follow", "", CODE},
        {"station wwvb, follow", SKEWED_PROGRAM, 0, "--station wwvb --follow", "", CODE},
        {"station jjy, follow", SKEWED_PROGRAM, 0, "--station jjy --follow", "", CODE},
        {"dialogue", DEADLINE_PROGRAM, 0, "", "", GRID},
        {"dialogue", DEADLINE_PROGRAM, 1000, "", "", GRID},
        {"options", DEADLINE_PROGRAM, 0, "--port 2", "", GRID},
        {"options", DEADLINE_PROGRAM, 1000, "--port 2", "", GRID},
        {"options, follow", SKEWED_PROGRAM, 1000, "--port 2 --follow", "", CLOCK},
    };
    std::printf("%d minutes per run, factor 100; errors in us against the UTC second (median / 99th "
                "percentile / maximum of the absolute error)\n\n",
                minutes);
    std::printf("| case | line change | first onset | onset error | 100 ms width error | 200 ms width error | "
                "drift ms/h | CPU %% of a core | UTC clock moved ms | pulses cut | platform timer wake, late |\n"
                "|---|---|---|---|---|---|---|---|---|---|---|\n");
    std::fflush(stdout);
    std::thread sampler(SampleTimerWakes);
    for (const Run& run : runs) {
        bool chosen = argc <= 2;
        for (int i = 2; i < argc; ++i) chosen = chosen || std::string(run.name).rfind(argv[i], 0) == 0;
        if (!chosen) continue;
        // Named by this process too: others may be timing on the same machine.
        const std::string log =
            "/tmp/dcf_bench_" + std::to_string(getpid()) + "_" + std::to_string(&run - runs) + ".log";
        // A step halfway through the keying, after the wait for the minute.
        const std::string stepAfter = std::to_string(60 + minutes * 30);
        const std::string start = *run.start != '\0' ? std::string(run.start) + " </dev/null" : "<<<'2 100'";
        const std::string command = "DCF_BENCH_LOG=" + log + " DCF_BENCH_MINUTES=" + std::to_string(minutes) +
                                    " DCF_BENCH_LINE_LATENCY_US=" + std::to_string(run.latencyUs) +
                                    " DCF_BENCH_UTC_STEP_AFTER_S=" + stepAfter + " " + run.clock + run.program + " " +
                                    start + " >/dev/null";
        {
            std::lock_guard<std::mutex> hold(wakeLock);
            wakeLateness.clear();
        }
        Stats s;
        if (std::system(("bash -c \"" + command + "\"").c_str()) != 0 ||
            !Analyse(log, minutes, run.analysis, &s)) {
            std::fprintf(stderr, "run failed: %s\n", command.c_str());
            std::exit(1);
        }
        char widths[96] = "- | -";
        if (s.widths)
            std::snprintf(widths, sizeof widths, "%.0f / %.0f / %.0f | %.0f / %.0f / %.0f", s.width100[0],
                          s.width100[1], s.width100[2], s.width200[0], s.width200[1], s.width200[2]);
        double wakes[3] = {};
        std::size_t wakeCount = 0;
        {
            std::lock_guard<std::mutex> hold(wakeLock);
            Summarise(wakeLateness, wakes);
            wakeCount = wakeLateness.size();
        }
        std::printf("| %s | %d ms | %+.0f | %.0f / %.0f / %.0f | %s | %+.3f | %.3f | %+.3f | %d | %.0f / %.0f / %.0f "
                    "(%zu) |\n",
                    run.name, run.latencyUs / 1000, s.firstOnsetUs, s.onset[0], s.onset[1], s.onset[2], widths,
                    s.driftMsPerHour, s.cpuPercent, s.utcMovedMs, s.pulsesCut, wakes[0], wakes[1], wakes[2],
                    wakeCount);
        std::fflush(stdout);
    }
    sampling = false;
    sampler.join();
    return 0;
}
