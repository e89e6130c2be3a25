// dcf77tx: sends the computer's UTC time as a DCF77 time code on the DTR
// and RTS outputs of a serial port, one frame per minute, until stopped.
// Without arguments it asks for its settings; options replace the dialogue.
#include <climits>
#include <cstdio>
#include <ctime>
#include <string>

#include "app/audio_transmit.h"
#include "app/ntp_source.h"
#include "app/options.h"
#include "app/start_up.h"
#include "app/transmit.h"
#include "app/wav_render.h"
#include "keying/keying.h"
#include "platform/platform.h"
#include "timecode/civil.h"
#include "timecode/timecode.h"

// Prints console text at once, also when standard output is a pipe.
static void Say(const char* text) {
    std::fputs(text, stdout);
    std::fflush(stdout);
}

static std::tm BreakDownUtc(std::int64_t seconds) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    const std::tm* utc = std::gmtime(&t);
    return utc != nullptr ? *utc : std::tm{};
}

// Reads the settings as scanf does: what cannot be converted keeps the
// default and stays in the input for the next read.
static void AskSettings() {
    Say("\nInput your Serial Port Number: ");
    long port = 0;
    if (std::scanf("%ld", &port) == 1)
        Port = port > INT32_MAX ? INT32_MAX : port < INT32_MIN ? INT32_MIN : static_cast<std::int32_t>(port);
    Say("\nTiming Fudge Factor (run quaver.exe)");
    Say("\nInput your Timing Fudge Factor: ");
    double fudge = 0;
    if (std::scanf("%lf", &fudge) == 1) Fudge = fudge;
}

// Takes the settings from the command line; returns the exit status when
// the program ends here, -1 when it goes on to transmit.
static int ReadCommandLine(int argc, char** argv, Options* options) {
    UseUtf8Console();
    std::string problem;
    switch (ParseCommandLine(argc, argv, options, &problem)) {
    case SHOW_HELP:
        std::fputs(UsageText().c_str(), stdout);
        return 0;
    case SHOW_VERSION:
        std::puts("dcf77tx " DCF77TX_VERSION);
        return 0;
    case BAD:
        std::fprintf(stderr, "dcf77tx: %s\nTry 'dcf77tx --help'.\n", problem.c_str());
        return 2;
    case RUN:
        break;
    }
    // With --ntp, --wait-sync waits for an NTP server's answer instead.
    if (options->waitSync && options->ntp.empty() && ClockSynchronisation() == CLOCK_SYNC_UNKNOWN) {
        std::fputs("dcf77tx: --wait-sync is not supported here: the system does not say whether its clock is "
                   "synchronised; add --ntp SERVER to wait for an NTP server's time\nTry 'dcf77tx --help'.\n",
                   stderr);
        return 2;
    }
    Port = options->port;
    if (!options->device.empty()) Device = options->device.c_str();
    Fudge = options->factor;
    ExplainLineErrors = true;
    ReleaseLinesAtOpen = true;
    return -1;
}

static TransmitSettings SettingsOf(const Options& o) {
    TransmitSettings s{o.follow, o.verbose, o.zone, o.station};
    s.verbosity = o.verbosity;
    s.carrierHz = o.carrierHz;
    s.offset = o.offset;
    s.minutes = o.minutes;
    s.windows = o.windows;
    s.windowCount = o.windowCount;
    s.carrier = o.carrier;
    return s;
}

// The sound card as the output: a device, its list, or a WAV file; always
// on the UTC clock.
static int SendSound(const Options& options, TransmitSettings settings) {
    settings.follow = true;
    if (options.audio == "list") return ListSoundDevices();
    if (options.audio.empty())
        return RenderWav(options.wav.c_str(), options.rate != 0 ? options.rate : 192000,
                         options.minutes > 0 ? options.minutes : 10, settings,
                         options.timeGiven ? options.chosenFrameStart : -1);
    return TransmitAudio(options.audio.c_str(), options.rate, settings, options.timeGiven ? options.chosenFrameStart : -1);
}

// Starts only once the system says its clock is synchronised, since a
// board without a real-time clock starts at a wrong time.
static void WaitForSynchronisedClock() {
    if (ClockSynchronisation() == CLOCK_SYNCHRONISED) return;
    Say("\nWaiting for the system clock to be synchronised.\n");
    while (ClockSynchronisation() != CLOCK_SYNCHRONISED) SleepUntilMonotonic(MonotonicNanoseconds() + 1'000'000'000);
}

// With --ntp the start asks the servers, and with --wait-sync waits for
// an answer rather than for the system clock.
static void StartNtpRun(const Options& options) {
    StartNtp(options.ntp);
    RunNtpStart(options.waitSync, options.verbose, true);
}

// Whether real-time priority and locked memory were obtained.
static void SayRealTime() {
    const RealTimeGrant g = RealTimeGranted();
    char line[300];
    if (g.priority && g.lockedMemory)
        std::snprintf(line, sizeof line, "real-time priority and locked memory obtained\n");
    else
        std::snprintf(line, sizeof line, "%s%s%s: onsets may come late under load; %s\n",
                      g.priority ? "" : "no real-time priority", !g.priority && !g.lockedMemory ? ", " : "",
                      g.lockedMemory ? "" : "no locked memory", g.advice);
    Say(line);
}

// A steady full carrier has no frame to wait for: it starts at once, the
// lines at rest as a closed port leaves them, and ends at the end of the
// `minutes`th UTC minute, the one under way counting as the first, as the
// sound output counts them; with `minutes` 0 it never ends.
static int SendCarrier(int minutes) {
    constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;
    PinOpen();
    PinMinus12();
    Say("steady full carrier, no time code\n");
    if (minutes == 0)
        for (;;) SleepUntilMonotonic(MonotonicNanoseconds() + 3600 * kNanosecondsPerSecond);
    std::int64_t now = 0;
    const UtcReading reading = ReadUtcClockAt(&now);
    const std::int64_t seconds = (reading.seconds / 60 + minutes) * 60 - reading.seconds;
    SleepUntilMonotonic(now + seconds * kNanosecondsPerSecond - reading.nanoseconds);
    PinClose();
    return 0;
}

int main(int argc, char** argv) {
    // Any argument at all means the command line, not the dialogue.
    const bool dialogue = argc <= 1;
    Options options;
    if (dialogue) {
        AskSettings();
    } else {
        const int status = ReadCommandLine(argc, argv, &options);
        if (status >= 0) return status;
    }
    TransmitSettings transmit = SettingsOf(options);
    if (options.dryRun && options.carrier) {
        Say("steady full carrier, no time code\n");
        return 0;
    }
    if (options.dryRun) {
        DeriveDurations();
        std::int64_t next = (ReadUtcClock().seconds / 60 + 1) * 60;
        if (!options.ntp.empty()) {
            // The frames of NTP time, after the start's measurement.
            StartNtp(options.ntp);
            RunNtpStart(false, true, false);
            std::int64_t instant = 0;
            const UtcReading utc = ReadUtcClockAt(&instant);
            const std::int64_t sent =
                SentTime(utc.seconds * 1'000'000'000 + utc.nanoseconds, instant + RawMinusMonotonic());
            next = (FloorDiv(sent, 60'000'000'000) + 1) * 60;
        }
        if (options.timeGiven) transmit.shift = options.chosenFrameStart - next;
        PrintFrames(next, options.minutes > 0 ? options.minutes : 1, transmit);
        return 0;
    }
    // The output: a sound device or file here, else the serial lines below.
    if (!options.audio.empty() || !options.wav.empty()) {
        if (!options.ntp.empty()) StartNtpRun(options);
        else if (options.waitSync && options.wav.empty()) WaitForSynchronisedClock();
        return SendSound(options, transmit);
    }
    if (options.carrier) {
        if (!options.ntp.empty()) StartNtpRun(options);
        else if (options.waitSync) WaitForSynchronisedClock();
        return SendCarrier(options.minutes);
    }
    DeriveDurations();
    if (options.station == STATION_DCF77) {
        std::printf("%ld\t%ld\t%ld\t%ld\t%ld\n", static_cast<long>(ms100), static_cast<long>(ms200),
                    static_cast<long>(ms800), static_cast<long>(ms900), static_cast<long>(ms1000));
    } else {
        // The other codes' pulse lengths and second, in pause units.
        std::int32_t lengths[8];
        const int count = StationLengths(options.station, lengths);
        for (int i = 0; i < count; ++i) std::printf(i + 1 < count ? "%ld\t" : "%ld\n", static_cast<long>(lengths[i]));
    }
    std::fflush(stdout);
    // Option runs find a port they cannot use before they wait for anything.
    if (!dialogue) PinOpen();
    if (!options.ntp.empty()) StartNtpRun(options);
    else if (options.waitSync) WaitForSynchronisedClock();
    Say("\nProgram will wait until next 00 second rollover.\n");
    if (dialogue) PinOpen();
    PrepareTimers();
    if (!dialogue) PrepareTransmit(transmit, ReadUtcClock().seconds);
    // The C library loads its time-zone data on the first breakdown; do
    // that now rather than between the minute's start and its first pulse.
    if (dialogue) BreakDownUtc(0);

    std::int64_t minute = 0;
    // Both sleep until shortly before the minute, learning how late the
    // timer wakes; the dialogue then pauses out the rest before it says
    // ZERO, an option run with its first onset.
    const std::int64_t minuteStart = dialogue ? WaitForNextMinute(&minute) : WaitUntilShortlyBeforeMinute(&minute);
    // Only now, once the wait is over (the dialogue has seen its minute
    // begin); and only when every second pauses, since keying without
    // pauses spins.
    if (ms800 > 0 && ms900 > 0 && ms1000 > 0) RaisePriority();
    Say("\nZERO\n");
    // The first frame's pauses count from the minute boundary itself, so
    // nothing done since (or before) then shifts the pulses.
    AnchorPauses(minuteStart);
    if (!dialogue) {
        if (options.verbose) SayRealTime();
        if (options.timeGiven) transmit.shift = options.chosenFrameStart - minute;
        return Transmit(minute, minuteStart, transmit);
    }

    // The frame keyed now carries the minute that begins when it ends.
    DcfTime record{};
    FillFromUtc(record, BreakDownUtc(minute));
    AdvanceMinute(record);
    for (;;) {
        OneMinute(record);
        AdvanceMinute(record);
    }
}
