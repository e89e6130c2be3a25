// A stand-in serial line for timing the real program: every DTR and RTS
// change is stamped on the UTC clock, optionally takes as long as a slow
// USB adapter's, and the run ends after a set number of minutes.
//   DCF_BENCH_LOG              file for the stamps
//   DCF_BENCH_MINUTES          whole frames to key
//   DCF_BENCH_LINE_LATENCY_US  time every change takes
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <sys/resource.h>
#include <vector>

#include "platform/platform.h"

struct Stamp {
    std::int64_t utc;        // CLOCK_REALTIME, ns
    std::int64_t monotonic;  // the pauses' own clock, ns
    int change;
};

static std::vector<Stamp> stamps;
static std::int64_t cpuAtFirstChange = 0;
static int onsets = 0;

static long long Setting(const char* name, long long fallback) {
    const char* text = std::getenv(name);
    return text != nullptr ? std::atoll(text) : fallback;
}

static std::int64_t CpuNanoseconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1'000'000'000LL +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1'000LL;
}

// Writes the stamps and the processor time used since the first change.
static void Finish() {
    const std::int64_t cpu = CpuNanoseconds() - cpuAtFirstChange;
    const char* path = std::getenv("DCF_BENCH_LOG");
    std::FILE* out = std::fopen(path != nullptr ? path : "dcf_bench.log", "w");
    if (out == nullptr) std::exit(3);
    std::fprintf(out, "cpu %lld\n", static_cast<long long>(cpu));
    for (const Stamp& s : stamps)
        std::fprintf(out, "%lld %lld %d\n", static_cast<long long>(s.utc), static_cast<long long>(s.monotonic),
                     s.change);
    std::fclose(out);
    std::exit(0);
}

void FormatLineName(char* name, std::size_t size, std::int32_t port) {
    std::snprintf(name, size, "bench line %d", port);
}

void FormatDevicePath(char* name, std::size_t size, const char* device) {
    std::snprintf(name, size, "%s", device);
}

bool OpenLine(const char*, LineHandle* line) {
    *line = 1;
    stamps.reserve(static_cast<std::size_t>(Setting("DCF_BENCH_MINUTES", 1) + 1) * 240);
    return true;
}

bool ReadLineSettings(LineHandle) { return true; }
bool WriteKeyingSettings(LineHandle) { return true; }

bool ChangeLine(LineHandle, LineChange change) {
    const UtcReading now = ReadUtcClock();
    const std::int64_t monotonic = MonotonicNanoseconds();
    if (stamps.empty()) cpuAtFirstChange = CpuNanoseconds();
    stamps.push_back({now.seconds * 1'000'000'000 + now.nanoseconds, monotonic, change});
    // Stop at the first onset after the last whole frame.
    if (change == RAISE_DTR && ++onsets > Setting("DCF_BENCH_MINUTES", 1) * 59) Finish();
    static const long long latency = Setting("DCF_BENCH_LINE_LATENCY_US", 0);
    if (latency > 0) {
        // A USB adapter blocks the caller while the request goes out.
        const timespec wait{0, static_cast<long>(latency * 1000)};
        nanosleep(&wait, nullptr);
    }
    return true;
}

bool ReleaseModemLines(LineHandle) { return true; }
void CloseLine(LineHandle) {}
std::uint32_t LastLineError() { return 0; }

const char* LineErrorText(std::uint32_t) { return "no error"; }
const char* LineErrorAdvice(std::uint32_t, const char*) { return ""; }
