#include "sim_platform.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

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
std::int64_t timersPrepared;
std::int64_t priorityRaised;
std::int64_t stopAt;
std::string recordPath;
std::int64_t utcStepAt;
std::int64_t utcStepBy;
std::int64_t utcRatePpb;
std::int64_t heldReadAt;
std::int64_t heldReadBy;
std::int64_t lateWakeAt;
std::int64_t lateWakeBy;
std::int64_t syncedAt;
// Virtual time of the last Reset, from which the UTC rate counts.
static std::int64_t resetAt = 0;

std::int64_t UtcAt(std::int64_t time) {
    const std::int64_t stepped = utcStepAt != 0 && time >= utcStepAt ? utcStepBy : 0;
    return time + utcAtZero + (time - resetAt) / 1'000 * utcRatePpb / 1'000'000 + stepped;
}

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
    priorityRaised = 0;
    stopAt = 0;
    recordPath.clear();
    utcStepAt = 0;
    utcStepBy = 0;
    utcRatePpb = 0;
    heldReadAt = 0;
    heldReadBy = 0;
    lateWakeAt = 0;
    lateWakeBy = 0;
    syncedAt = 0;
    resetAt = start;
}

// Writes each line change as "<ns> <change>", the UTC clock's reading at
// each change into <record>.utc, and when the timers were prepared and the
// priority raised into <record>.timing: at the end of every run, whether
// the program ends by itself or its virtual time is up.
static void WriteRecord() {
    if (recordPath.empty()) return;
    std::FILE* out = std::fopen(recordPath.c_str(), "w");
    if (out == nullptr) std::abort();
    for (const LineEvent& e : changes) std::fprintf(out, "%lld %d\n", static_cast<long long>(e.time), e.change);
    std::fclose(out);
    out = std::fopen((recordPath + ".utc").c_str(), "w");
    if (out == nullptr) std::abort();
    for (const LineEvent& e : changes) std::fprintf(out, "%lld\n", static_cast<long long>(e.utc));
    std::fclose(out);
    out = std::fopen((recordPath + ".timing").c_str(), "w");
    if (out == nullptr) std::abort();
    std::fprintf(out, "%lld %lld\n", static_cast<long long>(timersPrepared), static_cast<long long>(priorityRaised));
    std::fclose(out);
}

// Ends a run whose virtual time is up, as if the program had been stopped.
static void StopWhenTimeIsUp() {
    if (stopAt == 0 || now < stopAt) return;
    std::exit(0);
}
// A whole-program run is set up at its first platform call from the file
// dcf77tx_sim.conf in the working directory, of "name value" lines:
//   start_utc_ms        UTC at start, ms since 1970
//   run_seconds         virtual seconds after which the run ends
//   record              file that receives the recorded line changes
//   line_latency_us, wake_latency_us   optional delays
//   open_fails          1: the port cannot be opened
//   utc_step_after_ms, utc_step_ms   the UTC clock steps once, by this much
//   utc_rate_ppm        the UTC clock runs this much fast (negative: slow)
//   held_read_at_utc_ms, held_read_us   the first UTC reading at or after
//                       that instant holds its caller up this long
//   late_wake_at_utc_ms, late_wake_us   the first sleep that ends at or
//                       after that instant wakes this much late
//   synced_after_ms     the clock reports itself synchronised only this
//                       long after the start
static void Start() {
    if (started) return;
    std::FILE* conf = std::fopen("dcf77tx_sim.conf", "r");
    if (conf == nullptr) std::abort();
    long long startUtcMs = 0, runSeconds = 600, lineLatencyUs = 0, wakeLatencyUs = 0, fails = 0;
    long long stepAfterMs = 0, stepMs = 0, ratePpm = 0, heldAtMs = 0, heldUs = 0, lateAtMs = 0, lateUs = 0;
    long long syncedAfterMs = 0;
    char name[64], value[512];
    std::string record = "dcf_record";
    while (std::fscanf(conf, "%63s %511s", name, value) == 2) {
        const std::string key = name;
        const long long number = std::atoll(value);
        if (key == "start_utc_ms") startUtcMs = number;
        else if (key == "run_seconds") runSeconds = number;
        else if (key == "record") record = value;
        else if (key == "line_latency_us") lineLatencyUs = number;
        else if (key == "wake_latency_us") wakeLatencyUs = number;
        else if (key == "open_fails") fails = number;
        else if (key == "utc_step_after_ms") stepAfterMs = number;
        else if (key == "utc_step_ms") stepMs = number;
        else if (key == "utc_rate_ppm") ratePpm = number;
        else if (key == "held_read_at_utc_ms") heldAtMs = number;
        else if (key == "held_read_us") heldUs = number;
        else if (key == "late_wake_at_utc_ms") lateAtMs = number;
        else if (key == "late_wake_us") lateUs = number;
        else if (key == "synced_after_ms") syncedAfterMs = number;
    }
    std::fclose(conf);
    const std::int64_t start = 1'000'000'000'000;
    Reset(start, startUtcMs * 1'000'000);
    stopAt = start + runSeconds * 1'000'000'000;
    recordPath = record;
    std::atexit(WriteRecord);
    lineLatency = lineLatencyUs * 1'000;
    wakeLatency = wakeLatencyUs * 1'000;
    openFails = fails != 0;
    utcStepAt = stepMs != 0 ? start + stepAfterMs * 1'000'000 : 0;
    utcStepBy = stepMs * 1'000'000;
    utcRatePpb = ratePpm * 1'000;
    heldReadAt = heldAtMs * 1'000'000;
    heldReadBy = heldUs * 1'000;
    lateWakeAt = lateAtMs * 1'000'000;
    lateWakeBy = lateUs * 1'000;
    syncedAt = start + syncedAfterMs * 1'000'000;
}
}  // namespace sim

static std::uint32_t lastError;
static constexpr LineHandle kSimHandle = 7;

void FormatLineName(char* name, std::size_t size, std::int32_t port) {
    sim::Start();
    std::snprintf(name, size, "SIM%d", port);
}

void FormatDevicePath(char* name, std::size_t size, const char* device) {
    sim::Start();
    std::snprintf(name, size, "%s", device);
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
    sim::changes.push_back({issued, change, sim::UtcAt(issued)});
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
    if (sim::lateWakeAt != 0 && sim::UtcAt(sim::now) >= sim::lateWakeAt) {
        sim::now += sim::lateWakeBy;
        sim::lateWakeAt = 0;
    }
    sim::StopWhenTimeIsUp();
}

UtcReading ReadUtcClock() {
    sim::Start();
    sim::now += sim::utcRead;
    const std::int64_t utc = sim::UtcAt(sim::now);
    // Preempted after reading the clock, before it could do anything else.
    if (sim::heldReadAt != 0 && utc >= sim::heldReadAt) {
        sim::now += sim::heldReadBy;
        sim::heldReadAt = 0;
    }
    return {utc / 1'000'000'000, static_cast<std::int32_t>(utc % 1'000'000'000)};
}

void PrepareTimers() {
    sim::Start();
    sim::timersPrepared = sim::now;
}

void ReleaseTimers() {}

void RaisePriority() {
    sim::Start();
    sim::priorityRaised = sim::now;
}

RealTimeGrant RealTimeGranted() { return {sim::priorityRaised != 0, sim::timersPrepared != 0, "nothing"}; }

ClockSync ClockSynchronisation() {
    sim::Start();
    return sim::now >= sim::syncedAt ? CLOCK_SYNCHRONISED : CLOCK_UNSYNCHRONISED;
}

// As on Linux, but without a system zone file to look for.
bool LocalZoneKnown() {
    const char* tz = std::getenv("TZ");
    if (tz == nullptr) return true;
    if (*tz == ':') ++tz;
    if (*tz == '\0') return false;
    if (std::strpbrk(tz, "0123456789") != nullptr && std::strchr(tz, '/') == nullptr) return true;
    const std::string path = std::string(*tz == '/' ? "" : "/usr/share/zoneinfo/") + tz;
    std::FILE* zone = std::fopen(path.c_str(), "rb");
    if (zone != nullptr) std::fclose(zone);
    return zone != nullptr;
}

const char* LineErrorText(std::uint32_t code) { return std::strerror(static_cast<int>(code)); }

// A simulated run's output goes to files and pipes.
bool IsTerminal(std::FILE*) { return false; }
