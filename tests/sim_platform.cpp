#include "sim_platform.h"

#include <algorithm>
#include <climits>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/audio.h"
#include "platform/udp.h"

static void WriteAudioRecord();

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
std::uint32_t openError;
bool modemLinesMissing;
std::int64_t linesReleased;
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
unsigned audioRate;
double audioPpm;
std::int64_t audioLatency;
std::int64_t audioBuffer;
std::int64_t audioGranule;
std::int64_t audioJitter;
std::int64_t audioStallAt;
std::int64_t audioStallBy;
std::int64_t audioGoneAt;
bool audioOpenFails;
bool audioNameAmbiguous;
bool audioNamed;  // it names itself and its mode, as a system with several modes does
bool audioMissing;
std::vector<AudioSegment> audioPlayed;
std::int64_t lateWakeAt;
std::int64_t lateWakeBy;
std::int64_t syncedAt;
std::int64_t utcSlewAt;
std::int64_t utcSlewFor;
std::int64_t utcSlewPpb;
std::int64_t rawPpb;
std::int64_t audioJumpAt;
std::int64_t audioJumpBy;
bool audioKeepsNoTime;
std::int64_t audioSlowFor;
double audioSlowRate;
std::int64_t audioDelayLostAt;
std::int64_t ntpOffset;
std::int64_t ntpStepAt, ntpStepBy;
std::int64_t ntpOneWay;
std::int64_t ntpAnswersFrom;
std::string ntpKiss;
int ntpRequests;
// Virtual time of the last Reset, from which the UTC rate counts.
static std::int64_t resetAt = 0;

std::int64_t UtcAt(std::int64_t time) {
    const std::int64_t stepped = utcStepAt != 0 && time >= utcStepAt ? utcStepBy : 0;
    const std::int64_t slewed = utcSlewAt != 0 && time > utcSlewAt ? std::min(time - utcSlewAt, utcSlewFor) : 0;
    return time + utcAtZero + (time - resetAt) / 1'000 * utcRatePpb / 1'000'000 + stepped +
           slewed / 1'000 * utcSlewPpb / 1'000'000;
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
    openError = 2;
    modemLinesMissing = false;
    linesReleased = 0;
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
    utcSlewAt = utcSlewFor = utcSlewPpb = 0;
    rawPpb = 0;
    resetAt = start;
    audioRate = 48000;
    audioPpm = 0;
    audioLatency = 0;
    audioBuffer = 4800;
    audioGranule = 1;
    audioJitter = 0;
    audioStallAt = audioStallBy = audioGoneAt = 0;
    audioJumpAt = audioJumpBy = 0;
    audioKeepsNoTime = false;
    audioSlowFor = audioDelayLostAt = 0;
    audioSlowRate = 1;
    audioOpenFails = audioMissing = audioNameAmbiguous = false;
    audioPlayed.clear();
    ntpOffset = ntpStepAt = ntpStepBy = 0;
    ntpOneWay = 500'000;
    ntpAnswersFrom = 0;
    ntpKiss.clear();
    ntpRequests = 0;
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
    std::fprintf(out, "%lld %lld %lld\n", static_cast<long long>(timersPrepared), static_cast<long long>(priorityRaised),
                 static_cast<long long>(linesReleased));
    std::fclose(out);
    WriteAudioRecord();
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
//   open_error          the error of that open (default 2)
//   modem_lines_missing 1: the line has no DTR and RTS (a pseudo-terminal)
//   utc_step_after_ms, utc_step_ms   the UTC clock steps once, by this much
//   utc_rate_ppm        the UTC clock runs this much fast (negative: slow)
//   utc_slew_after_ms, utc_slew_ms, utc_slew_ppm   the UTC clock runs this
//                       much fast for a while, as a time daemon slews it
//   raw_ppm             the raw monotonic clock runs this much fast
//   held_read_at_utc_ms, held_read_us   the first UTC reading at or after
//                       that instant holds its caller up this long
//   audio_rate, audio_ppm, audio_latency_us, audio_buffer_ms, audio_granule,
//   audio_jitter_us     the sound device (see sim_platform.h)
//   audio_stall_after_ms, audio_stall_ms   the first write from then on is
//                       held up this long
//   audio_gone_after_ms the sound device goes away then
//   audio_jump_after_ms, audio_jump_us   from then on the device's latency
//                       (and the delay it reports) is this much longer
//   audio_keeps_no_time 1: the device plays nowhere, as ALSA's null device
//   audio_slow_ms, audio_slow_rate   each run of the stream plays at this
//                       fraction of its rate for this long from its start
//   audio_delay_lost_after_ms   from then on the delay reads 0
//   audio_open_fails    1: the sound device cannot be opened; 2: its name
//                       matches several devices
//   audio_named         1: the device names itself, its mode and a note
//   late_wake_at_utc_ms, late_wake_us   the first sleep that ends at or
//                       after that instant wakes this much late
//   synced_after_ms     the clock reports itself synchronised only this
//                       long after the start
//   ntp_offset_ms, ntp_one_way_us   the NTP server's time ahead of the true
//                       time, and its one-way delay (default 500 us)
//   ntp_step_after_ms, ntp_step_ms  the server's time steps once
//   ntp_silent 1        it answers nothing
//   ntp_answers_after_ms  it answers only from then on
//   ntp_kiss CODE       it answers every request with a Kiss-o'-Death
static void Start() {
    if (started) return;
    std::FILE* conf = std::fopen("dcf77tx_sim.conf", "r");
    if (conf == nullptr) std::abort();
    long long startUtcMs = 0, runSeconds = 600, lineLatencyUs = 0, wakeLatencyUs = 0, fails = 0;
    long long rate = 48000, latencyUs = 0, bufferMs = 100, granule = 1, jitterUs = 0, stallAfterMs = 0, stallMs = 0;
    long long goneAfterMs = 0, audioFails = 0, named = 0;
    double ppm = 0;
    long long stepAfterMs = 0, stepMs = 0, ratePpm = 0, heldAtMs = 0, heldUs = 0, lateAtMs = 0, lateUs = 0;
    long long syncedAfterMs = 0, slewAfterMs = 0, slewMs = 0, jumpAfterMs = 0, jumpUs = 0, noTime = 0;
    long long openErrorCode = 2, noModemLines = 0, slowMs = 0, delayLostAfterMs = 0;
    double slewPpm = 0, rawPpm = 0, slowRate = 1;
    long long ntpOffsetMs = 0, ntpOneWayUs = 500, ntpStepAfterMs = 0, ntpStepMs = 0, silent = 0, answersAfterMs = 0;
    std::string kiss;
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
        else if (key == "audio_rate") rate = number;
        else if (key == "audio_ppm") ppm = std::atof(value);
        else if (key == "audio_latency_us") latencyUs = number;
        else if (key == "audio_buffer_ms") bufferMs = number;
        else if (key == "audio_granule") granule = number;
        else if (key == "audio_jitter_us") jitterUs = number;
        else if (key == "audio_stall_after_ms") stallAfterMs = number;
        else if (key == "audio_stall_ms") stallMs = number;
        else if (key == "audio_gone_after_ms") goneAfterMs = number;
        else if (key == "audio_open_fails") audioFails = number;
        else if (key == "audio_named") named = number;
        else if (key == "late_wake_at_utc_ms") lateAtMs = number;
        else if (key == "late_wake_us") lateUs = number;
        else if (key == "synced_after_ms") syncedAfterMs = number;
        else if (key == "utc_slew_after_ms") slewAfterMs = number;
        else if (key == "utc_slew_ms") slewMs = number;
        else if (key == "utc_slew_ppm") slewPpm = std::atof(value);
        else if (key == "raw_ppm") rawPpm = std::atof(value);
        else if (key == "audio_jump_after_ms") jumpAfterMs = number;
        else if (key == "audio_jump_us") jumpUs = number;
        else if (key == "audio_keeps_no_time") noTime = number;
        else if (key == "open_error") openErrorCode = number;
        else if (key == "modem_lines_missing") noModemLines = number;
        else if (key == "audio_slow_ms") slowMs = number;
        else if (key == "audio_slow_rate") slowRate = std::atof(value);
        else if (key == "audio_delay_lost_after_ms") delayLostAfterMs = number;
        else if (key == "ntp_offset_ms") ntpOffsetMs = number;
        else if (key == "ntp_one_way_us") ntpOneWayUs = number;
        else if (key == "ntp_step_after_ms") ntpStepAfterMs = number;
        else if (key == "ntp_step_ms") ntpStepMs = number;
        else if (key == "ntp_silent") silent = number;
        else if (key == "ntp_answers_after_ms") answersAfterMs = number;
        else if (key == "ntp_kiss") kiss = value;
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
    openError = static_cast<std::uint32_t>(openErrorCode);
    modemLinesMissing = noModemLines != 0;
    utcStepAt = stepMs != 0 ? start + stepAfterMs * 1'000'000 : 0;
    utcStepBy = stepMs * 1'000'000;
    utcRatePpb = ratePpm * 1'000;
    heldReadAt = heldAtMs * 1'000'000;
    heldReadBy = heldUs * 1'000;
    audioRate = static_cast<unsigned>(rate);
    audioPpm = ppm;
    audioLatency = latencyUs * 1'000;
    audioBuffer = rate * bufferMs / 1000;
    audioGranule = granule;
    audioJitter = jitterUs * 1'000;
    audioStallAt = stallMs != 0 ? start + stallAfterMs * 1'000'000 : 0;
    audioStallBy = stallMs * 1'000'000;
    audioGoneAt = goneAfterMs != 0 ? start + goneAfterMs * 1'000'000 : 0;
    audioOpenFails = audioFails != 0;
    audioNameAmbiguous = audioFails == 2;
    audioNamed = named != 0;
    lateWakeAt = lateAtMs * 1'000'000;
    lateWakeBy = lateUs * 1'000;
    syncedAt = start + syncedAfterMs * 1'000'000;
    utcSlewAt = slewMs != 0 ? start + slewAfterMs * 1'000'000 : 0;
    utcSlewFor = slewMs * 1'000'000;
    utcSlewPpb = std::llround(slewPpm * 1'000);
    rawPpb = std::llround(rawPpm * 1'000);
    audioJumpAt = jumpUs != 0 ? start + jumpAfterMs * 1'000'000 : 0;
    audioJumpBy = jumpUs * 1'000;
    audioKeepsNoTime = noTime != 0;
    audioSlowFor = slowMs * 1'000'000;
    audioSlowRate = slowRate;
    audioDelayLostAt = delayLostAfterMs != 0 ? start + delayLostAfterMs * 1'000'000 : 0;
    ntpOffset = ntpOffsetMs * 1'000'000;
    ntpOneWay = ntpOneWayUs * 1'000;
    ntpStepAt = ntpStepMs != 0 ? start + ntpStepAfterMs * 1'000'000 : 0;
    ntpStepBy = ntpStepMs * 1'000'000;
    ntpAnswersFrom = silent != 0 ? INT64_MAX : start + answersAfterMs * 1'000'000;
    ntpKiss = kiss;
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
        lastError = sim::openError;
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
    if (sim::modemLinesMissing) {
        lastError = ENOTTY;
        return false;
    }
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

bool ReleaseModemLines(LineHandle line) {
    sim::Start();
    if (line != kSimHandle) std::abort();
    if (sim::modemLinesMissing) {
        lastError = ENOTTY;
        return false;
    }
    sim::linesReleased = sim::now;
    return true;
}

void CloseLine(LineHandle) {}

std::uint32_t LastLineError() { return lastError; }

std::int64_t MonotonicNanoseconds() {
    sim::Start();
    sim::now += sim::monotonicRead;
    return sim::now;
}

std::int64_t RawMonotonicNanoseconds() {
    sim::Start();
    sim::now += sim::monotonicRead;
    return sim::now + (sim::now - sim::resetAt) / 1'000 * sim::rawPpb / 1'000'000;
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

// The sound device. Frame k of a segment leaves the buffer at
// start + k × period, the segment's first frame as soon as the buffer is
// first full (after a slow start: the frames of that start leave at
// audioSlowRate times the rate, and `start` is where the steady ones
// would have begun).
static bool audioOpen = false;
static bool audioStarted = false;  // the current segment is playing
static std::int64_t streamStartedAt;  // when it began to play
static std::uint32_t jitterState = 12345;

static sim::AudioSegment& Segment() { return sim::audioPlayed.back(); }

static std::int64_t Written() { return static_cast<std::int64_t>(Segment().samples.size()); }

// Frames of the current segment gone from the buffer by `time`.
static std::int64_t Played(std::int64_t time) {
    if (!audioStarted || time < streamStartedAt) return 0;
    const double since = static_cast<double>(time - streamStartedAt), period = Segment().period;
    const double gone = since < static_cast<double>(sim::audioSlowFor)
                            ? since * sim::audioSlowRate / period
                            : static_cast<double>(time - Segment().start) / period;
    return static_cast<std::int64_t>(std::floor(gone)) + 1;
}

// When frame `k` of the current segment leaves the buffer.
static std::int64_t Leaves(std::int64_t k) {
    const double at = static_cast<double>(k) * Segment().period;
    if (at < static_cast<double>(sim::audioSlowFor) * sim::audioSlowRate)
        return streamStartedAt + static_cast<std::int64_t>(std::ceil(at / sim::audioSlowRate));
    return Segment().start + static_cast<std::int64_t>(std::ceil(at));
}

static void NewSegment() {
    sim::audioPlayed.push_back({0, 1e9 / (sim::audioRate * (1 + sim::audioPpm * 1e-6)), {}});
    audioStarted = false;
}

// Writes each segment's start, period and played frames into
// <record>.audio.segments ("start period frames" lines) and the frames
// themselves into <record>.audio (16-bit, this machine's order).
static void WriteAudioRecord() {
    if (!audioOpen) return;
    std::FILE* segments = std::fopen((sim::recordPath + ".audio.segments").c_str(), "w");
    std::FILE* samples = std::fopen((sim::recordPath + ".audio").c_str(), "wb");
    if (segments == nullptr || samples == nullptr) std::abort();
    for (sim::AudioSegment& s : sim::audioPlayed) {
        std::size_t played = s.samples.size();
        if (&s == &Segment()) {
            const std::int64_t gone = Played(sim::now);
            if (gone < static_cast<std::int64_t>(played)) played = static_cast<std::size_t>(gone);
        }
        if (&s == &Segment() && !audioStarted) played = 0;
        std::fprintf(segments, "%lld %.9f %zu\n", static_cast<long long>(s.start), s.period, played);
        if (played > 0) std::fwrite(s.samples.data(), sizeof(std::int16_t), played, samples);
    }
    std::fclose(segments);
    std::fclose(samples);
}

bool AudioAvailable() { return !sim::audioMissing; }

bool AudioNameAmbiguous() { return sim::audioNameAmbiguous; }

int ListAudioDevices(std::FILE* out) {
    sim::Start();
    if (sim::audioOpenFails) {
        std::fprintf(out, "sim  (cannot open: No such file or directory)\n");
        return 0;
    }
    std::fprintf(out, "sim %u\n", sim::audioRate);
    return 1;
}

// The name the device was opened with.
static std::string audioName;

bool OpenAudio(const char* device, unsigned rate, unsigned* opened, char* problem, std::size_t size) {
    sim::Start();
    if (sim::audioNameAmbiguous) {
        std::snprintf(problem, size, "--audio %s matches several playback devices: %s 1, %s 2", device, device, device);
        return false;
    }
    if (sim::audioOpenFails || (rate != 0 && rate != sim::audioRate)) {
        std::snprintf(problem, size, "cannot play on %s at %u Hz: Invalid argument", device,
                      rate != 0 ? rate : sim::audioRate);
        return false;
    }
    *opened = sim::audioRate;
    audioName = device;
    audioOpen = true;
    NewSegment();
    return true;
}

OpenedAudio DescribeOpenedAudio() {
    if (!sim::audioNamed) return {audioName.c_str(), "", ""};
    return {"Sim Output", "shared at the mix rate",
            "sim refused exclusive mode at 192000 Hz: not allowed; playing shared at the mix rate, 48000 Hz"};
}

// Frames written to a device that keeps no time: counted, never kept.
static std::int64_t framesDiscarded = 0;

AudioOutcome WriteAudio(const std::int16_t* samples, std::size_t count) {
    sim::Start();
    if (sim::audioGoneAt != 0 && sim::now >= sim::audioGoneAt) return AUDIO_GONE;
    if (sim::audioKeepsNoTime) {
        framesDiscarded += static_cast<std::int64_t>(count);
        sim::StopWhenTimeIsUp();
        return AUDIO_PLAYING;
    }
    if (sim::audioStallAt != 0 && sim::now >= sim::audioStallAt) {
        sim::now += sim::audioStallBy;
        sim::audioStallAt = 0;
    }
    if (audioStarted && Played(sim::now) > Written()) {
        // Ran dry: the stream is prepared afresh and reports so.
        NewSegment();
        return AUDIO_RESTARTED;
    }
    for (std::size_t i = 0; i < count;) {
        std::int64_t room = sim::audioBuffer - (Written() - Played(sim::now));
        if (room == 0) {
            // Blocks until the next frame leaves the buffer.
            sim::now = std::max(sim::now + 1, Leaves(Played(sim::now)));
            continue;
        }
        const std::size_t take = std::min<std::size_t>(static_cast<std::size_t>(room), count - i);
        Segment().samples.insert(Segment().samples.end(), samples + i, samples + i + take);
        i += take;
        if (!audioStarted && Written() >= sim::audioBuffer) {
            audioStarted = true;
            streamStartedAt = sim::now;
            Segment().start = sim::now + static_cast<std::int64_t>(static_cast<double>(sim::audioSlowFor) *
                                                                   (1 - sim::audioSlowRate));
        }
    }
    sim::StopWhenTimeIsUp();
    return AUDIO_PLAYING;
}

AudioOutcome ReportAudio(AudioReport* report) {
    sim::Start();
    if (sim::audioGoneAt != 0 && sim::now >= sim::audioGoneAt) return AUDIO_GONE;
    jitterState = jitterState * 1664525u + 1013904223u;
    const std::int64_t jitter =
        sim::audioJitter == 0 ? 0 : static_cast<std::int64_t>(jitterState >> 8) % (2 * sim::audioJitter + 1) - sim::audioJitter;
    if (sim::audioKeepsNoTime) {
        *report = {sim::now, framesDiscarded, 0};
        return AUDIO_PLAYING;
    }
    const std::int64_t played = Played(sim::now) / sim::audioGranule * sim::audioGranule;
    report->monotonic = sim::now + jitter;
    report->written = Written();
    // As ALSA's status: no delay before the stream starts.
    const std::int64_t latency = sim::audioLatency + (sim::audioJumpAt != 0 && sim::now >= sim::audioJumpAt ? sim::audioJumpBy : 0);
    report->delay = audioStarted ? Written() - played + static_cast<std::int64_t>(static_cast<double>(latency) / Segment().period) : 0;
    if (sim::audioDelayLostAt != 0 && sim::now >= sim::audioDelayLostAt) report->delay = 0;
    return AUDIO_PLAYING;
}

void DrainAudio() {
    sim::Start();
    if (audioStarted) sim::now = Leaves(Written());
    WriteAudioRecord();
}

const char* AudioProblem() { return "No such device"; }
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

// As on Linux, for a device of group dialout and a user named so.
const char* LineErrorAdvice(std::uint32_t code, const char*) {
    return code == EACCES ? "; add yourself to its group (usermod -aG dialout sim) and log in again" : "";
}

// A simulated run's output goes to files and pipes.
bool IsTerminal(std::FILE*) { return false; }

// The simulated NTP server, behind every address: a host named
// "nowhere.invalid" does not resolve. One reply waits at a time.
static unsigned char ntpReply[48];
static std::int64_t ntpReplyAt = -1;  // virtual time it arrives; -1: none
static constexpr UdpSocket kSimSocket = 9;
static UdpPeer ntpPeer;  // the server the socket was opened to

// The server's time at virtual time `time`, ns since 1970.
static std::int64_t ServerTime(std::int64_t time) {
    return time + sim::utcAtZero + sim::ntpOffset + (sim::ntpStepAt != 0 && time >= sim::ntpStepAt ? sim::ntpStepBy : 0);
}

static void PutTimestamp(unsigned char* at, std::int64_t unixNs) {
    const std::uint64_t seconds = static_cast<std::uint64_t>(unixNs / 1'000'000'000 + 2'208'988'800LL);
    const std::uint64_t fraction = (static_cast<std::uint64_t>(unixNs % 1'000'000'000) << 32) / 1'000'000'000;
    const std::uint64_t value = seconds << 32 | (fraction & 0xffffffffu);
    for (int i = 0; i < 8; ++i) at[i] = static_cast<unsigned char>(value >> (56 - 8 * i));
}

bool ResolveUdpPeers(const char* host, const char* port, UdpPeer* peers, int max, int* count, char* error,
                     std::size_t errorSize) {
    sim::Start();
    if (std::strcmp(host, "nowhere.invalid") == 0 || max < 1) {
        std::snprintf(error, errorSize, "Name or service not known");
        return false;
    }
    std::snprintf(reinterpret_cast<char*>(peers[0].address), sizeof peers[0].address, "%s:%s", host, port);
    peers[0].length = static_cast<int>(std::strlen(reinterpret_cast<char*>(peers[0].address)) + 1);
    *count = 1;
    return true;
}

void FormatUdpPeer(const UdpPeer& peer, char* text, std::size_t size) {
    std::snprintf(text, size, "%s", reinterpret_cast<const char*>(peer.address));
}

bool SameUdpPeer(const UdpPeer& a, const UdpPeer& b) {
    return a.length == b.length && std::memcmp(a.address, b.address, static_cast<std::size_t>(a.length)) == 0;
}

bool OpenUdp(const UdpPeer& peer, UdpSocket* socket, char*, std::size_t) {
    ntpPeer = peer;
    *socket = kSimSocket;
    return true;
}

// Answers a request at once: mode 4, stratum 2, the request's transmit
// timestamp as origin, the server's time on arrival and departure.
bool SendUdp(UdpSocket socket, const void* data, std::size_t length, char* error, std::size_t errorSize) {
    sim::Start();
    if (socket != kSimSocket || length < 48) {
        std::snprintf(error, errorSize, "Bad file descriptor");
        return false;
    }
    ++sim::ntpRequests;
    ntpReplyAt = -1;
    if (sim::now < sim::ntpAnswersFrom) return true;
    const unsigned char* request = static_cast<const unsigned char*>(data);
    std::memset(ntpReply, 0, sizeof ntpReply);
    ntpReply[0] = 0x24;  // no leap warning, version 4, server
    ntpReply[1] = sim::ntpKiss.empty() ? 2 : 0;
    ntpReply[2] = 6;
    ntpReply[3] = 0xec;
    std::memcpy(ntpReply + 12, sim::ntpKiss.empty() ? "GPS\0" : sim::ntpKiss.c_str(), 4);
    const std::int64_t arrives = sim::now + sim::ntpOneWay;
    PutTimestamp(ntpReply + 16, ServerTime(arrives) - 1'000'000'000);
    std::memcpy(ntpReply + 24, request + 40, 8);
    PutTimestamp(ntpReply + 32, ServerTime(arrives));
    PutTimestamp(ntpReply + 40, ServerTime(arrives));
    ntpReplyAt = arrives + sim::ntpOneWay;
    return true;
}

UdpReceived ReceiveUdp(UdpSocket, void* buffer, std::size_t size, std::size_t* length, UdpPeer* from,
                       std::int64_t deadline, char*, std::size_t) {
    sim::Start();
    if (ntpReplyAt < 0 || ntpReplyAt > deadline) {
        sim::now = std::max(sim::now, deadline);
        sim::StopWhenTimeIsUp();
        return UDP_TIMEOUT;
    }
    sim::now = std::max(sim::now, ntpReplyAt);
    ntpReplyAt = -1;
    *length = std::min(size, sizeof ntpReply);
    std::memcpy(buffer, ntpReply, *length);
    *from = ntpPeer;
    sim::StopWhenTimeIsUp();
    return UDP_DATAGRAM;
}

void CloseUdp(UdpSocket) {}
