#include "audio_transmit.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "audio/device_clock.h"
#include "audio/render.h"
#include "audio/synthesis.h"
#include "app/start_up.h"
#include "audio/wav.h"
#include "keying/keying.h"
#include "platform/audio.h"
#include "timecode/civil.h"
#include "timecode/timecode.h"

constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;
// Blocks of 10 ms: short against the device's buffer, long enough that
// the work a block takes stays small.
constexpr unsigned kBlocksPerSecond = 100;
// A change of the UTC clock against the monotonic one larger than this
// between two readings is a step (as for the serial lines).
constexpr std::int64_t kStepNanoseconds = 20'000'000;


// The run's state between blocks.
struct AudioRun {
    TransmitSettings settings;
    std::int64_t chosen;      // the UTC minute whose frame carries --time; -1: none
    bool shiftSet;            // the first frame fixed settings.shift
    DeviceClock clock;
    Carrier carrier;
    std::int64_t written;     // frames written since the stream (re)started
    std::int64_t nextSecond;  // the UTC second planned next
    bool inFrame;             // the seconds planned so far belong to `frame`
    std::uint8_t frame[kFrameLength];
    bool quiet;               // an interruption was reported and no frame has been sent since
    std::int64_t sendingFor;  // the UTC minute `sending` holds for
    bool sending;             // whether that minute lies in a window
    int sent;                 // whole frames (or minutes of carrier) sent
    std::int64_t endAt;       // the run ends here, UTC ns; 0: not yet
};

static bool Sending(AudioRun* run, std::int64_t minute) {
    if (run->sendingFor != minute) {
        run->sendingFor = minute;
        run->sending = !run->settings.carrier && MinuteIsSent(run->settings, minute);
    }
    return run->sending;
}

// The frame keyed from UTC minute `frameStart`; the first one fixes which
// minute --time makes the frames carry.
static void KeyedFrame(AudioRun* run, std::int64_t frameStart, std::uint8_t* frame) {
    if (run->chosen >= 0 && !run->shiftSet) {
        run->settings.shift = run->chosen - frameStart;
        run->shiftSet = true;
    }
    BuildKeyedFrame(run->settings, frameStart, frame);
}

// Plans UTC second `second`: a frame's second, from a minute in a window
// on which the device's clock is known; the second 59 that leads into
// such a minute; silence outside the windows and after the run; else the
// full carrier.
static void PlanNextSecond(AudioRun* run, std::int64_t second) {
    const TransmitSettings& s = run->settings;
    const int position = static_cast<int>(FloorMod(second, 60));
    const std::int64_t start = second * kNanosecondsPerSecond, minute = second - position;
    if (run->endAt != 0) {
        PlanLevel(&run->carrier, start, 0.0);
        return;
    }
    if (position == 0) {
        run->inFrame = Sending(run, minute) && DeviceClockReady(run->clock);
        if (run->inFrame) {
            KeyedFrame(run, second, run->frame);
            run->quiet = false;
            if (s.verbose) {
                char status[kStatusLineSize];
                FormatStatusLine(status, sizeof status, s, second, run->frame);
                std::fputs(status, stdout);
                std::fflush(stdout);
            }
        }
    }
    if (run->inFrame) {
        PlanSecond(&run->carrier, s.station, run->frame[position], position, start);
    } else if (position == 59 && Sending(run, minute + 60) && DeviceClockReady(run->clock)) {
        std::uint8_t before[kFrameLength];
        KeyedFrame(run, minute + 60, run->frame);
        BuildKeyedFrame(run->settings, minute, before);
        PlanSecond(&run->carrier, s.station, before[59], 59, start);
    } else {
        PlanLevel(&run->carrier, start, s.carrier || Sending(run, minute) ? 1.0 : 0.0);
    }
    if (position == 59 && (run->inFrame || s.carrier) && s.minutes > 0 && ++run->sent == s.minutes)
        run->endAt = start + kNanosecondsPerSecond;
}

// Ends the frame in progress after a step or a restart: the carrier goes
// to full from `from` until the next minute starts a whole frame.
static void Interrupt(AudioRun* run, std::int64_t from, const char* what) {
    if (!run->quiet) {
        std::fprintf(stderr, "dcf77tx: %s: the frame in progress ends; whole frames again from the next minute\n",
                     what);
        std::fflush(stderr);
    }
    run->quiet = true;
    run->inFrame = false;
    CutPlan(&run->carrier, from, run->settings.carrier || Sending(run, FloorDiv(from, 60 * kNanosecondsPerSecond) * 60) ? 1.0 : 0.0);
    run->nextSecond = FloorDiv(from, kNanosecondsPerSecond) + 1;
}

// After an underrun or a suspend the stream counts its frames from 0 and
// no earlier report maps them; returns true, that the run was restarted.
static bool StartAfresh(AudioRun* run, unsigned rate) {
    ResetDeviceClock(&run->clock, rate);
    run->written = 0;
    return true;
}

static int Gone(const char* device) {
    std::fprintf(stderr, "dcf77tx: the sound device %s went away: %s\n", device, AudioProblem());
    return 1;
}

int TransmitAudio(const char* device, unsigned rate, TransmitSettings settings, std::int64_t chosen) {
    unsigned opened = 0;
    char line[512];
    if (!OpenAudio(device, rate, &opened, line, sizeof line)) {
        std::fprintf(stderr, "dcf77tx: %s\n", line);
        return 1;
    }
    const double carrierHz = settings.carrierHz;
    FormatToneLine(line, sizeof line, device, opened, carrierHz);
    std::printf("%s\n%s", line, settings.carrier ? "steady full carrier, no time code\n" : "");
    std::fflush(stdout);
    LoadFrameRules(settings, ReadUtcClock().seconds);

    static AudioRun run;  // large: the clock's reports
    run.settings = settings;
    run.chosen = chosen;
    run.shiftSet = false;
    run.sendingFor = -1;
    run.sent = 0;
    run.endAt = 0;
    ResetDeviceClock(&run.clock, opened);
    // Fades in from silence at the first sample.
    run.carrier = StartCarrier(ToneFor(carrierHz, opened).hz, 0.0);
    run.written = 0;
    run.nextSecond = 0;
    run.inFrame = false;
    run.quiet = false;
    bool fadeIn = true;
    std::vector<std::int16_t> block(opened / kBlocksPerSecond);
    std::int64_t offset = 0;  // the UTC clock minus the monotonic one, as read last
    bool haveOffset = false;
    bool restarted = false;  // the stream started afresh since the last block
    for (;;) {
        AudioReport report{};
        const AudioOutcome reported = ReportAudio(&report);
        if (reported == AUDIO_GONE) return Gone(device);
        if (reported == AUDIO_RESTARTED) {
            // The stream starts afresh, its report to come.
            restarted = StartAfresh(&run, opened);
            continue;
        }
        std::int64_t now = 0;
        const UtcReading reading = ReadUtcClockAt(&now);
        const std::int64_t fresh = reading.seconds * kNanosecondsPerSecond + reading.nanoseconds - now;
        const bool stepped = haveOffset && std::llabs(fresh - offset) > kStepNanoseconds;
        if (stepped) ShiftDeviceClock(&run.clock, fresh - offset);
        offset = fresh;
        haveOffset = true;
        NoteAudioReport(&run.clock, report, offset);

        const FrameTime at = WhenFrameLeaves(run.clock, run.written);
        if (stepped) Interrupt(&run, at.utc, "the UTC clock stepped");
        if (restarted) Interrupt(&run, at.utc, "the sound output ran dry (an underrun or a suspend) and restarted");
        restarted = false;
        if (run.endAt != 0 && at.utc > run.endAt + kRampNanoseconds) {
            DrainAudio();
            return 0;
        }
        if (fadeIn) {
            CutPlan(&run.carrier, at.utc, 1.0);
            fadeIn = false;
        }
        // Nothing planned yet, or (a bug or a device gone astray) long past.
        if (run.nextSecond * kNanosecondsPerSecond < at.utc - kNanosecondsPerSecond)
            run.nextSecond = FloorDiv(at.utc, kNanosecondsPerSecond) + 1;
        // Every second whose first ramp begins before this block ends.
        const std::int64_t end = at.utc + static_cast<std::int64_t>(at.period * static_cast<double>(block.size()));
        while (run.nextSecond * kNanosecondsPerSecond - kRampNanoseconds < end) PlanNextSecond(&run, run.nextSecond++);
        Synthesize(&run.carrier, at.utc, at.period, block.data(), block.size());

        const AudioOutcome outcome = WriteAudio(block.data(), block.size());
        if (outcome == AUDIO_GONE) return Gone(device);
        if (outcome == AUDIO_RESTARTED) {
            // The stream starts afresh, with none of this block.
            restarted = StartAfresh(&run, opened);
            continue;
        }
        run.written += static_cast<std::int64_t>(block.size());
    }
}

int RenderWav(const char* path, unsigned rate, std::int64_t first, int minutes, const TransmitSettings& settings) {
    const double carrierHz = settings.carrierHz;
    const std::uint64_t samples = static_cast<std::uint64_t>(rate) * (1 + 60 * static_cast<std::uint64_t>(minutes));
    if (samples > kMaxWavSamples) {
        std::fprintf(stderr, "dcf77tx: %d minutes at %u Hz do not fit in a WAV file\n", minutes, rate);
        return 2;
    }
    LoadFrameRules(settings, first);
    std::vector<std::array<std::uint8_t, kFrameLength>> frames(static_cast<std::size_t>(minutes) + 1);
    for (std::size_t i = 0; i < frames.size(); ++i)
        BuildKeyedFrame(settings, first + 60 * (static_cast<std::int64_t>(i) - 1), frames[i].data());
    std::FILE* out = std::fopen(path, "wb");
    bool written = out != nullptr && WriteWavHeader(out, rate, samples) &&
                   WriteRenderedFrames(out, settings.station, carrierHz, rate, frames);
    const int error = errno;
    if (out != nullptr && std::fclose(out) != 0) written = false;
    if (!written) {
        std::fprintf(stderr, "dcf77tx: cannot write %s: %s\n", path, std::strerror(error));
        return 1;
    }
    char line[512];
    FormatToneLine(line, sizeof line, path, rate, carrierHz);
    const std::tm start = BreakDownSeconds(first - 1);
    std::printf("%s\nStarts at %04d-%02d-%02d %02d:%02d:%02d UTC: play it from that second; %d whole frames follow.\n",
                line, start.tm_year + 1900, start.tm_mon + 1, start.tm_mday, start.tm_hour, start.tm_min,
                start.tm_sec, minutes);
    if (settings.verbose)
        for (std::size_t i = 1; i < frames.size(); ++i) {
            char status[kStatusLineSize];
            FormatStatusLine(status, sizeof status, settings, first + 60 * (static_cast<std::int64_t>(i) - 1),
                             frames[i].data());
            std::fputs(status, stdout);
        }
    return 0;
}

int ListSoundDevices() {
    if (ListAudioDevices(stdout) > 0) return 0;
    std::fprintf(stderr, "dcf77tx: no sound devices to play on\n");
    return 1;
}
