#include "wav_render.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/start_up.h"
#include "audio/render.h"
#include "audio/synthesis.h"
#include "audio/wav.h"
#include "platform/platform.h"
#include "timecode/civil.h"
#include "timecode/timecode.h"

constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;
// What rendering and writing a sample is taken to cost until a render has
// been timed: about twenty times the processor time a PC takes, twice the
// time it took on a busy one (time dcf77tx --wav x.wav --minutes 10).
constexpr double kRenderNanosecondsPerSample = 100;
// The render ends at least this long before the second it names, so that
// the command waiting for that second is running in time.
constexpr std::int64_t kLeadNanoseconds = 2 * kNanosecondsPerSecond;
// A render that ended too late is done again for a later minute, at the
// cost it was seen to take; this many tries in all.
constexpr int kRenderTries = 3;

static std::int64_t UtcNanoseconds() {
    const UtcReading r = ReadUtcClock();
    return r.seconds * kNanosecondsPerSecond + r.nanoseconds;
}

// The earliest UTC minute whose second 59 before begins at `at` ns or later.
static std::int64_t MinuteAfter(std::int64_t at) {
    const std::int64_t second = -FloorDiv(-at, kNanosecondsPerSecond);
    return -FloorDiv(-(second + 1), 60) * 60;
}

// The minutes after the leading second that a WAV file at `rate` holds.
static std::int64_t MostMinutes(unsigned rate) {
    return (static_cast<std::int64_t>(kMaxWavSamples / rate) - 1) / 60;
}

static std::uint64_t SamplesIn(unsigned rate, std::int64_t span) {
    return static_cast<std::uint64_t>(rate) * static_cast<std::uint64_t>(1 + 60 * span);
}

// How many minutes from UTC minute `first` on hold `frames` whole frames:
// every minute with the carrier or without windows, else those in the
// windows; 0 when more than `most` would.
static std::int64_t SpanMinutes(const TransmitSettings& s, std::int64_t first, int frames, std::int64_t most) {
    if (s.carrier || s.windowCount == 0) return frames <= most ? frames : 0;
    int sent = 0;
    for (std::int64_t m = 0; m < most; ++m)
        if (MinuteIsSent(s, first + 60 * m) && ++sent == frames) return m + 1;
    return 0;
}

struct WavPlan {
    std::int64_t first;  // the UTC minute of the first frame; -1: too long for a WAV file
    std::int64_t span;   // minutes from there to the end
};

// The first minute sent whose second 59 before begins at least the lead
// after the render ends, started at `now` and taking `perSample` ns a
// sample. The render's length depends on the windows it meets, so the
// minute moves on until both agree.
static WavPlan PlanWav(const TransmitSettings& s, int frames, unsigned rate, std::int64_t now, double perSample) {
    const std::int64_t most = MostMinutes(rate);
    for (std::int64_t from = MinuteAfter(now + kLeadNanoseconds);;) {
        // Windows of some length always hold a minute within two days.
        const std::int64_t first = s.carrier ? from : NextSentMinute(s, from);
        const std::int64_t span = first < 0 ? 0 : SpanMinutes(s, first, frames, most);
        if (span == 0) return {-1, 0};
        const auto cost = static_cast<std::int64_t>(static_cast<double>(SamplesIn(rate, span)) * perSample);
        const std::int64_t earliest = MinuteAfter(now + cost + kLeadNanoseconds);
        if (first >= earliest) return {first, span};
        from = earliest;
    }
}

// The file's minutes: the one before the first frame, whose second 59
// leads into it, then the span; silent outside the windows, or all carrier.
static std::vector<RenderedMinute> MinutesOf(const TransmitSettings& s, std::int64_t first, std::int64_t span) {
    std::vector<RenderedMinute> minutes(static_cast<std::size_t>(span) + 1);
    for (std::size_t i = 0; i < minutes.size(); ++i) {
        const std::int64_t start = first + 60 * (static_cast<std::int64_t>(i) - 1);
        RenderedMinute& m = minutes[i];
        m.keyed = !s.carrier && i > 0 && MinuteIsSent(s, start);
        m.level = s.carrier ? 1.0 : 0.0;
        if (!s.carrier) BuildKeyedFrame(s, start, m.frame.data());
    }
    return minutes;
}

// Where the samples are written first: for a regular file (or none yet) a
// temporary file beside it (beside the file a link names), renamed over it
// once complete, so that a failed render leaves nothing half-written; a
// device or a pipe directly.
struct WavTarget {
    std::string written;  // the file the samples go to
    std::string file;     // the file they end in; "": written in place
};

static WavTarget TargetOf(const char* path) {
    OutputPath found;
    FindOutputPath(path, &found);
    if (found.device) return {path, ""};
    return {std::string(found.file) + ".partial", found.file};
}

// Writes the file to `to`; returns the system's reason for a failure, else "".
static std::string WriteWav(const std::string& to, unsigned rate, const TransmitSettings& s,
                            const std::vector<RenderedMinute>& minutes) {
    std::FILE* out = OpenOutputFile(to.c_str());
    if (out == nullptr) return std::strerror(errno);
    errno = 0;
    int error = 0;
    const std::uint64_t samples = SamplesIn(rate, static_cast<std::int64_t>(minutes.size()) - 1);
    if (!WriteWavHeader(out, rate, samples) || !WriteRenderedMinutes(out, s.station, s.carrierHz, rate, minutes))
        error = errno != 0 ? errno : EIO;
    // Buffered samples meet a full disk or a size limit only here.
    if (std::fclose(out) != 0 && error == 0) error = errno != 0 ? errno : EIO;
    return error != 0 ? std::strerror(error) : "";
}

// Renames the temporary file over the target; returns the reason for a failure.
static std::string Publish(const WavTarget& target) {
    if (target.file.empty()) return "";
    const char* problem = ReplaceOutputFile(target.written.c_str(), target.file.c_str());
    return problem != nullptr ? problem : "";
}

static void Discard(const WavTarget& target) {
    if (!target.file.empty()) RemoveOutputFile(target.written.c_str());
}

static void Announce(const char* path, unsigned rate, const TransmitSettings& s, bool tied, std::int64_t first,
                     int frames, const std::vector<RenderedMinute>& minutes) {
    char line[512];
    FormatToneLine(line, sizeof line, path, rate, s.carrierHz);
    if (s.carrier) {
        std::printf("%s\nsteady full carrier, no time code\nPlay it at any time: %d minute%s and 1 second of it.\n",
                    line, frames, frames == 1 ? "" : "s");
        return;
    }
    char when[128];
    const std::tm start = BreakDownSeconds(first - 1);
    if (tied)
        std::snprintf(when, sizeof when, "Starts at %04d-%02d-%02d %02d:%02d:%02d UTC: play it from that second",
                      start.tm_year + 1900, start.tm_mon + 1, start.tm_mday, start.tm_hour, start.tm_min, start.tm_sec);
    else
        std::snprintf(when, sizeof when, "Starts with a second 59: play it from second 59 of any minute");
    const std::size_t span = minutes.size() - 1;
    char within[96] = "";
    if (span > static_cast<std::size_t>(frames))
        std::snprintf(within, sizeof within, " within %zu minutes, silent outside the windows", span);
    std::printf("%s\n%s; %d whole frame%s follow%s%s.\n", line, when, frames, frames == 1 ? "" : "s",
                frames == 1 ? "s" : "", within);
    if (!s.verbose) return;
    for (std::size_t i = 1; i < minutes.size(); ++i) {
        if (!minutes[i].keyed) continue;
        char status[kStatusLineSize];
        FormatStatusLine(status, sizeof status, s, first + 60 * (static_cast<std::int64_t>(i) - 1),
                         minutes[i].frame.data());
        std::fputs(status, stdout);
    }
}

int RenderWav(const char* path, unsigned rate, int frames, TransmitSettings settings, std::int64_t chosen) {
    // Frames that carry the clock's own minutes, or silences that fall on
    // the windows, hold only when played from the second named; a carrier,
    // or frames that carry --time, at any second 59.
    const bool tied = !settings.carrier && (chosen < 0 || settings.windowCount > 0);
    const WavTarget target = TargetOf(path);
    // A device or a pipe has taken the samples already: nothing to redo.
    const bool redo = tied && !target.file.empty();
    double perSample = kRenderNanosecondsPerSample;
    for (int tries = 1;; ++tries) {
        const std::int64_t started = UtcNanoseconds();
        const WavPlan plan = PlanWav(settings, frames, rate, started, perSample);
        if (plan.first < 0) {
            std::fprintf(stderr,
                         "dcf77tx: a WAV file at %u Hz holds at most %lld minutes: --minutes %d %s\n"
                         "Try 'dcf77tx --help'.\n",
                         rate, static_cast<long long>(MostMinutes(rate)), frames,
                         settings.windowCount > 0 && !settings.carrier ? "within the windows spans more"
                                                                       : "is too many");
            return 2;
        }
        if (chosen >= 0) settings.shift = chosen - plan.first;
        LoadFrameRules(settings, plan.first);
        const std::vector<RenderedMinute> minutes = MinutesOf(settings, plan.first, plan.span);
        std::string problem = WriteWav(target.written, rate, settings, minutes);
        const std::int64_t ended = UtcNanoseconds();
        const bool late = redo && ended + kLeadNanoseconds > (plan.first - 1) * kNanosecondsPerSecond;
        if (problem.empty() && !late) problem = Publish(target);
        if (!problem.empty()) {
            Discard(target);
            std::fprintf(stderr, "dcf77tx: cannot write %s: %s\n", path, problem.c_str());
            return 1;
        }
        if (!late) {
            Announce(path, rate, settings, tied, plan.first, frames, minutes);
            return 0;
        }
        if (tries == kRenderTries) {
            Discard(target);
            std::fprintf(stderr, "dcf77tx: cannot render %s in time: %d tries each ended after the second it was for\n",
                         path, kRenderTries);
            return 1;
        }
        const double took = static_cast<double>(ended - started) / static_cast<double>(SamplesIn(rate, plan.span));
        perSample = std::max(perSample, 1.5 * took);
    }
}
