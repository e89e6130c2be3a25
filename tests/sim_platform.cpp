#include "sim_platform.h"

#include <cstdio>
#include <cstdlib>

namespace sim {
std::int64_t now;
std::int64_t utcAtZero;
std::int64_t monotonicRead;
std::int64_t utcRead;
std::int64_t wakeLatency;
std::int64_t lineLatency;
std::vector<LineEvent> changes;
std::vector<std::int64_t> sleepTargets;
int failingChange;
std::uint32_t failingError;
bool openFails, readFails, writeFails;
std::string openedName;
int timersPrepared;
std::int64_t stopAt;
std::string recordPath;

// Whether the simulation has been set up, by Reset or from the environment.
static bool started = false;

void Reset(std::int64_t start, std::int64_t utcStart) {
    started = true;
    now = start;
    utcAtZero = utcStart - start;
    monotonicRead = 1'000;  // 1 us: a pause finishing on the clock sees it move
    utcRead = 1'000;
    wakeLatency = 0;
    lineLatency = 0;
    changes.clear();
    sleepTargets.clear();
    failingChange = 0;
    failingError = 0;
    openFails = readFails = writeFails = false;
    openedName.clear();
    timersPrepared = 0;
    stopAt = 0;
    recordPath.clear();
}

// Ends a run whose virtual time is up: writes each line change as
// "<ns> <change>" and exits as if the program had been stopped.
static void StopWhenTimeIsUp() {
    if (stopAt == 0 || now < stopAt) return;
    std::FILE* out = std::fopen(recordPath.c_str(), "w");
    if (out == nullptr) std::abort();
    for (const LineEvent& e : changes) std::fprintf(out, "%lld %d\n", static_cast<long long>(e.time), e.change);
    std::fclose(out);
    std::exit(0);
}
static long long Setting(const char* name, long long fallback) {
    const char* text = std::getenv(name);
    return text != nullptr ? std::atoll(text) : fallback;
}

// A whole-program run is set up from the environment at its first call:
//   DCF_SIM_START_UTC_MS   UTC at start, ms since 1970
//   DCF_SIM_RUN_SECONDS    virtual seconds after which the run ends
//   DCF_SIM_RECORD         file that receives the recorded line changes
//   DCF_SIM_LINE_LATENCY_US, DCF_SIM_WAKE_LATENCY_US   optional delays
//   DCF_SIM_OPEN_FAILS     1: the port cannot be opened
static void Start() {
    if (started) return;
    const std::int64_t start = 1'000'000'000'000;
    Reset(start, Setting("DCF_SIM_START_UTC_MS", 0) * 1'000'000);
    stopAt = start + Setting("DCF_SIM_RUN_SECONDS", 600) * 1'000'000'000;
    const char* record = std::getenv("DCF_SIM_RECORD");
    recordPath = record != nullptr ? record : "/dev/null";
    lineLatency = Setting("DCF_SIM_LINE_LATENCY_US", 0) * 1'000;
    wakeLatency = Setting("DCF_SIM_WAKE_LATENCY_US", 0) * 1'000;
    openFails = Setting("DCF_SIM_OPEN_FAILS", 0) != 0;
}
}  // namespace sim

static std::uint32_t lastError;
static constexpr LineHandle kSimHandle = 7;

void FormatLineName(char* name, std::size_t size, std::int32_t port) {
    sim::Start();
    std::snprintf(name, size, "SIM%d", port);
}

bool OpenLine(const char* name, LineHandle* line) {
    sim::Start();
    sim::openedName = name;
    if (sim::openFails) {
        lastError = 2;
        return false;
    }
    *line = kSimHandle;
    return true;
}

bool ReadLineSettings(LineHandle line) {
    sim::Start();
    lastError = 5;
    return line == kSimHandle && !sim::readFails;
}

bool WriteKeyingSettings(LineHandle line) {
    sim::Start();
    lastError = 87;
    return line == kSimHandle && !sim::writeFails;
}

bool ChangeLine(LineHandle line, LineChange change) {
    sim::Start();
    if (line != kSimHandle) std::abort();
    // Recorded when issued; the call then takes lineLatency.
    const std::int64_t issued = sim::now;
    sim::now += sim::lineLatency;
    if (sim::failingChange != 0 && static_cast<int>(sim::changes.size()) + 1 == sim::failingChange) {
        lastError = sim::failingError;
        return false;
    }
    sim::changes.push_back({issued, change});
    sim::StopWhenTimeIsUp();
    return true;
}

void CloseLine(LineHandle) {}

std::uint32_t LastLineError() { return lastError; }

std::int64_t MonotonicNanoseconds() {
    sim::Start();
    sim::now += sim::monotonicRead;
    return sim::now;
}

void SleepUntilMonotonic(std::int64_t deadline) {
    sim::Start();
    sim::sleepTargets.push_back(deadline);
    if (deadline > sim::now) sim::now = deadline;
    sim::now += sim::wakeLatency;
    sim::StopWhenTimeIsUp();
}

UtcReading ReadUtcClock() {
    sim::Start();
    sim::now += sim::utcRead;
    const std::int64_t utc = sim::now + sim::utcAtZero;
    return {utc / 1'000'000'000, static_cast<std::int32_t>(utc % 1'000'000'000)};
}

void PrepareTimers() {
    sim::Start();
    ++sim::timersPrepared;
}
