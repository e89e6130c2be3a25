#include "audio_transmit.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/ntp_source.h"
#include "app/start_up.h"
#include "audio/device_clock.h"
#include "audio/playback_check.h"
#include "audio/synthesis.h"
#include "audio/utc_scale.h"
#include "keying/keying.h"
#include "platform/audio.h"
#include "platform/platform.h"
#include "timecode/civil.h"
#include "timecode/timecode.h"

constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;
// Blocks of 10 ms: short against the device's buffer, long enough that
// the work a block takes stays small.
constexpr unsigned kBlocksPerSecond = 100;
// A step of the UTC clock larger than this ends the frame in progress and
// is said (as for the serial lines); a smaller one only moves the edges.
constexpr std::int64_t kStepNanoseconds = 20'000'000;


// The run's state between blocks.
struct AudioRun {
    TransmitSettings settings;
    std::int64_t chosen;      // the UTC minute whose frame carries --time; -1: none
    bool shiftSet;            // the first frame fixed settings.shift
    DeviceClock clock;
    UtcScale scale;
    PlaybackCheck check;
    Carrier carrier;
    std::int64_t written;     // frames written since the stream (re)started
    std::int64_t nextSecond;  // the UTC second planned next
    bool inFrame;             // the seconds planned so far belong to `frame`
    std::uint8_t frame[kFrameLength];
    bool begun;               // the carrier was due once; silence before
    bool quiet;               // an interruption was reported and no frame has been sent since
    std::int64_t sendingFor;  // the UTC minute `sending` holds for
    bool sending;             // whether that minute lies in a window
    int sent;                 // whole frames (or minutes of carrier) sent
    std::int64_t endAt;       // the run ends here, UTC ns; 0: not yet
    std::int64_t ntpMinute;   // with --ntp: the minute the NTP line was adopted in; -1: none yet
};

static bool Sending(AudioRun* run, std::int64_t minute) {
    if (run->sendingFor != minute) {
        run->sendingFor = minute;
        run->sending = !run->settings.carrier && MinuteIsSent(run->settings, minute);
    }
    return run->sending;
}

// The level between frames: the full carrier within the windows once the
// first frame was due (or always with --carrier), else silence.
static double CarrierLevel(AudioRun* run, std::int64_t minute) {
    return run->settings.carrier || (run->begun && Sending(run, minute)) ? 1.0 : 0.0;
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

// Whether edges may be keyed: the device keeps time, and its clock is
// known well enough.
static bool Keyable(const AudioRun& run) {
    return run.check.verdict == TIMING_KEPT && DeviceClockReady(run.clock);
}

// Plans UTC second `second`: a frame's second, from a minute in a window
// on which the device's clock is known; the seconds 58 (full carrier) and
// 59 that lead into such a minute; silence outside the windows, before the
// first frame and after the run; else the full carrier.
static void PlanNextSecond(AudioRun* run, std::int64_t second) {
    const TransmitSettings& s = run->settings;
    const int position = static_cast<int>(FloorMod(second, 60));
    const std::int64_t start = second * kNanosecondsPerSecond, minute = second - position;
    if (run->endAt != 0) {
        PlanLevel(&run->carrier, start, 0.0);
        return;
    }
    if (position == 0) {
        run->inFrame = Sending(run, minute) && Keyable(*run);
        if (run->inFrame) {
            KeyedFrame(run, second, run->frame);
            run->begun = true;
            run->quiet = false;
            if (s.verbose) {
                char status[kStatusLineSize];
                FormatStatusLine(status, sizeof status, s, second, run->frame);
                AddNtpOffset(status, sizeof status);
                std::fputs(status, stdout);
                std::fflush(stdout);
            }
        }
    }
    if (run->inFrame) {
        PlanSecond(&run->carrier, s.station, run->frame[position], position, start);
    } else if (position == 59 && Sending(run, minute + 60) && Keyable(*run)) {
        std::uint8_t before[kFrameLength];
        KeyedFrame(run, minute + 60, run->frame);
        BuildKeyedFrame(run->settings, minute, before);
        run->begun = true;
        PlanSecond(&run->carrier, s.station, before[59], 59, start);
    } else if (position == 58 && Sending(run, minute + 60) && Keyable(*run)) {
        // The full carrier a second ahead, so that a second 59 that
        // starts reduced (WWVB's marker) is heard as such.
        run->begun = true;
        PlanLevel(&run->carrier, start, 1.0);
    } else {
        PlanLevel(&run->carrier, start, CarrierLevel(run, minute));
    }
    if (position == 59 && (run->inFrame || s.carrier) && s.minutes > 0 && ++run->sent == s.minutes)
        run->endAt = start + kNanosecondsPerSecond;
}

// Ends the frame in progress after a step or a restart: the carrier goes
// to full (or stays silent before the first frame) from `from` until the
// next minute starts a whole frame.
static void Interrupt(AudioRun* run, std::int64_t from, const char* what) {
    if (!run->quiet) {
        std::fprintf(stderr, "dcf77tx: %s: the frame in progress ends; whole frames again from the next minute\n",
                     what);
        std::fflush(stderr);
    }
    run->quiet = true;
    run->inFrame = false;
    CutPlan(&run->carrier, from, CarrierLevel(run, FloorDiv(from, 60 * kNanosecondsPerSecond) * 60));
    run->nextSecond = FloorDiv(from, kNanosecondsPerSecond) + 1;
}

// With --ntp: the block's first frame `first` (the system clock's reading
// of raw instant `raw`) as NTP time, and the rate its frames are spaced by;
// at the block that reaches into a new minute (`span` ns long), before its
// first second is planned, the newest NTP line is adopted, and when that
// moves the time sent by over kStepNanoseconds `moved` says so.
static void NtpBlock(AudioRun* run, std::int64_t raw, std::int64_t span, std::int64_t* first, double* rate,
                     char* moved, std::size_t size) {
    const std::int64_t before = SentTime(*first, raw);
    const std::int64_t minute = FloorDiv(before + span + kRampNanoseconds, 60 * kNanosecondsPerSecond);
    if (minute != run->ntpMinute) {
        AdoptNtpAtMinute(raw);
        run->ntpMinute = minute;
    }
    *first = SentTime(*first, raw);
    if (std::llabs(*first - before) > kStepNanoseconds)
        std::snprintf(moved, size, "NTP time moved %+.3f s", static_cast<double>(*first - before) / 1e9);
    NtpCarrierRate(rate);
}

// After an underrun or a suspend the stream counts its frames from 0 and
// no earlier report maps them; returns true, that the run was restarted.
static bool StartAfresh(AudioRun* run, unsigned rate) {
    ResetDeviceClock(&run->clock, rate);
    StartPlaybackCheck(&run->check, rate);
    run->written = 0;
    return true;
}

// What else to do when no sound device plays: one line after the failure.
static const char* const kOtherOutputs = "--wav FILE, --dry-run, or a serial port (--device PATH)";

static int Gone(const char* device) {
    std::fprintf(stderr, "dcf77tx: the sound device %s went away: %s\n", device, AudioProblem());
    return 1;
}

// Says once that the UTC clock's rate lies beyond what the program follows.
static void SayUtcRateBeyondReach(const AudioRun& run, bool* said) {
    if (!run.scale.clamped || *said) return;
    std::fprintf(stderr,
                 "dcf77tx: the UTC clock runs %+.0f ppm off the computer's oscillator, beyond the %.0f ppm "
                 "followed: the carrier's frequency is off by the rest\n",
                 run.scale.measuredPpm, kMaxScalePpm);
    std::fflush(stderr);
    *said = true;
}

int TransmitAudio(const char* device, unsigned rate, TransmitSettings settings, std::int64_t chosen) {
    unsigned opened = 0;
    char line[512];
    if (!OpenAudio(device, rate, &opened, line, sizeof line)) {
        // A name that matches several devices is the command line's fault.
        const bool usage = AudioNameAmbiguous();
        std::fprintf(stderr, "dcf77tx: %s\n", line);
        if (usage)
            std::fputs("Try 'dcf77tx --help'.\n", stderr);
        else
            std::fprintf(stderr, "Try 'dcf77tx --audio list', or %s.\n", kOtherOutputs);
        return usage ? 2 : 1;
    }
    const double carrierHz = settings.carrierHz;
    const OpenedAudio named = DescribeOpenedAudio();
    if (*named.note != '\0') std::fprintf(stderr, "dcf77tx: %s\n", named.note);
    FormatToneLine(line, sizeof line, named.name, opened, carrierHz, named.mode);
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
    run.ntpMinute = -1;
    ResetDeviceClock(&run.clock, opened);
    ResetUtcScale(&run.scale);
    StartPlaybackCheck(&run.check, opened);
    // Silent until the first frame (or the carrier) is due: one ramp up.
    run.carrier = StartCarrier(ToneFor(carrierHz, opened).hz, 0.0);
    run.written = 0;
    run.nextSecond = 0;
    run.inFrame = false;
    run.begun = false;
    run.quiet = false;
    std::vector<std::int16_t> block(opened / kBlocksPerSecond);
    bool restarted = false;  // the stream started afresh since the last block
    bool saidUtc = false;
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
        const std::int64_t rawMinusMonotonic = RawMinusMonotonic();
        const std::int64_t utc = reading.seconds * kNanosecondsPerSecond + reading.nanoseconds;
        const std::int64_t step = NoteClockReading(&run.scale, now + rawMinusMonotonic, utc);
        NoteAudioReport(&run.clock, report, rawMinusMonotonic);
        const PlaybackTiming judged = run.check.verdict;
        if (NtpInUse()) NoteSystemClock(now + rawMinusMonotonic, utc);
        if (CheckPlayback(&run.check, report) == TIMING_NONE) {
            std::fprintf(stderr, "dcf77tx: the sound device %s reports no playback timing: %s\n", device,
                         run.check.why);
            return 1;
        }
        // The fit starts where the device's rate was found steady.
        if (judged != TIMING_KEPT && run.check.verdict == TIMING_KEPT)
            ForgetReportsBefore(&run.clock, run.check.steadyFrom + rawMinusMonotonic);
        if (run.check.verdict == TIMING_KEPT && run.clock.beyondReach) {
            // Its edges and carrier would be off: none is played.
            std::fprintf(stderr,
                         "dcf77tx: the sound device %s plays %+.0f ppm off %u Hz by the computer's oscillator, "
                         "beyond the %.0f ppm followed\n",
                         device, run.clock.measuredPpm, run.clock.rate, kFarthestRatePpm);
            return 1;
        }
        if (run.check.verdict == TIMING_KEPT) SayUtcRateBeyondReach(run, &saidUtc);

        // The block's first frame on the UTC clock as it reads now; its
        // frames spaced as the card plays them on the UTC clock's lasting
        // rate, so that a slew moves the edges and not the carrier.
        const FrameTime at = WhenFrameLeaves(run.clock, run.written);
        std::int64_t first = UtcOfRaw(run.scale, at.raw);
        double rate = run.scale.rate;
        char moved[80] = "";
        if (NtpInUse())
            NtpBlock(&run, at.raw, static_cast<std::int64_t>(at.period * static_cast<double>(block.size())), &first,
                     &rate, moved, sizeof moved);
        const double spacing = at.period * rate;
        if (*moved != '\0') Interrupt(&run, first, moved);
        else if (std::llabs(step) > kStepNanoseconds && !NtpTimeSent()) Interrupt(&run, first, "the UTC clock stepped");
        if (restarted) Interrupt(&run, first, "the sound output ran dry (an underrun or a suspend) and restarted");
        restarted = false;
        if (run.endAt != 0 && first > run.endAt + kRampNanoseconds) {
            DrainAudio();
            return 0;
        }
        // Nothing planned yet, or (a bug or a device gone astray) long past.
        if (run.nextSecond * kNanosecondsPerSecond < first - kNanosecondsPerSecond)
            run.nextSecond = FloorDiv(first, kNanosecondsPerSecond) + 1;
        // Every second whose first ramp begins before this block ends.
        const std::int64_t end = first + static_cast<std::int64_t>(spacing * static_cast<double>(block.size()));
        while (run.nextSecond * kNanosecondsPerSecond - kRampNanoseconds < end) PlanNextSecond(&run, run.nextSecond++);
        Synthesize(&run.carrier, first, spacing, block.data(), block.size());

        // A device that takes everything at once is written at about its
        // rate while the check finds it out.
        const std::int64_t allowed = WriteAllowedAt(run.check, run.written);
        if (allowed > now) SleepUntilMonotonic(allowed);
        const AudioOutcome outcome = WriteAudio(block.data(), block.size());
        if (outcome == AUDIO_GONE) return Gone(device);
        if (outcome == AUDIO_RESTARTED) {
            // The stream starts afresh, with none of this block.
            restarted = StartAfresh(&run, opened);
            continue;
        }
        run.written += static_cast<std::int64_t>(block.size());
        // The servers are asked while the device has sound enough queued.
        if (NtpInUse()) {
            const std::int64_t queued = static_cast<std::int64_t>(static_cast<double>(report.delay) * at.period);
            ServiceNtp(MonotonicNanoseconds() + queued - kNtpOnsetMargin);
        }
    }
}

int ListSoundDevices() {
    const int playable = ListAudioDevices(stdout);
    std::fflush(stdout);
    if (playable > 0) return 0;
    std::fprintf(stderr, "dcf77tx: no sound device can play here\nTry %s.\n", kOtherOutputs);
    return 1;
}
