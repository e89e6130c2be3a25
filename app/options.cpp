#include "options.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "app/schedule.h"
#include "keying/keying.h"
#include "platform/audio.h"
#include "platform/system_texts.h"

// The help, in the words of the system it runs on.
std::string UsageText() {
    return std::string("Usage: dcf77tx [OPTION]...\n"
                       "Sends the computer's time as a DCF77 (MSF, WWVB, JJY) time code on the DTR\n"
                       "and RTS lines of a serial port, or as a carrier from a sound card.\n"
                       "Without options it asks for the port and the factor.\n"
                       "\n") +
           kSerialOptionsHelp +
           "  -f, --factor X      timing factor, default 100\n"
           "      --follow        keep the transmission on the UTC clock: every frame starts\n"
           "                      on a UTC minute and carries the time read from the clock\n"
           "  -z, --zone ZONE     the time sent: utc (default; zone bits 0), cet (Central\n"
           "                      European Time with summer time, as the DCF77 transmitter\n"
           "                      sends it) or local (this computer's time zone); DCF77 only\n"
           "  -s, --station NAME  the time code: dcf77 (default), msf, wwvb, jjy (40 kHz)\n"
           "                      or jjy60 (60 kHz)\n"
           "  -t, --time \"YYYY-MM-DD HH:MM\"  the first whole frame carries this minute as\n"
           "                      the clock shows it; the seconds stay on UTC\n"
           "  -o, --offset [+|-]H[:MM]  shift the time shown, up to 24 h\n"
           "  -m, --minutes N     stop after N whole frames\n"
           "  -w, --window HH:MM-HH:MM[,...]  send only within these daily windows of\n"
           "                      local time, e.g. 01:55-02:15,02:55-03:15\n"
           "  -n, --dry-run       print the status lines of the frames (--minutes,\n"
           "                      default 1) at once; open nothing\n" +
           kWaitSyncHelp +
           "      --ntp SERVER    send the time of an NTP server (name, address or [IPv6],\n"
           "                      optionally :PORT); up to 8; implies --follow\n"
           "      --carrier       a steady full carrier, no time code\n"
           "  -v, --verbose       one status line per frame; twice: also the frame's symbols\n" +
           kAudioOptionHelp +
           "      --rate HZ       the sound's sample rate (default: the device's highest of\n"
           "                      192000, 96000, 48000, 44100; 192000 for --wav)\n"
           "      --wav FILE      render second 59, then --minutes whole frames (default 10)\n"
           "                      into a WAV file, at once; it says when to play it\n"
           "  -h, --help          show this help and exit\n"
           "  -V, --version       show the name and version and exit\n"
           "\n"
           "Exit status: 0 after --help, --version, --dry-run, --minutes or --wav, 1 when\n"
           "the serial port or the sound device fails, 2 for a bad command line.\n"
           "Otherwise it runs until it is stopped.\n";
}

// Longest device path accepted: the platform names the device in a buffer
// of this size, and a shortened path would name another device.
constexpr std::size_t kMaxDevicePath = 4000;

enum OptionName {
    PORT, DEVICE, FACTOR, FOLLOW, ZONE, STATION, VERBOSE, HELP, VERSION,
    TIME, OFFSET, MINUTES, WINDOW, DRY_RUN, WAIT_SYNC, CARRIER, AUDIO, RATE, WAV, NTP,
};

struct OptionDefinition {
    OptionName name;
    char shortName;  // 0: none
    const char* longName;
    bool takesValue;
};

static const OptionDefinition kOptions[] = {
    {PORT, 'p', "port", true},         {DEVICE, 'd', "device", true},    {FACTOR, 'f', "factor", true},
    {FOLLOW, 0, "follow", false},      {ZONE, 'z', "zone", true},        {STATION, 's', "station", true},
    {VERBOSE, 'v', "verbose", false},  {HELP, 'h', "help", false},       {VERSION, 'V', "version", false},
    {TIME, 't', "time", true},         {OFFSET, 'o', "offset", true},    {MINUTES, 'm', "minutes", true},
    {WINDOW, 'w', "window", true},     {DRY_RUN, 'n', "dry-run", false}, {WAIT_SYNC, 0, "wait-sync", false},
    {CARRIER, 0, "carrier", false},    {AUDIO, 'a', "audio", true},      {RATE, 0, "rate", true},
    {WAV, 0, "wav", true},             {NTP, 0, "ntp", true},
};

static const OptionDefinition* ByShortName(char c) {
    for (const OptionDefinition& o : kOptions)
        if (o.shortName != 0 && o.shortName == c) return &o;
    return nullptr;
}

// An exact long name, or the only one that `given` begins.
static const OptionDefinition* ByLongName(const std::string& given, bool* ambiguous) {
    const OptionDefinition* found = nullptr;
    int matches = 0;
    for (const OptionDefinition& o : kOptions) {
        if (given == o.longName) return &o;
        if (std::strncmp(o.longName, given.c_str(), given.size()) == 0) {
            found = &o;
            ++matches;
        }
    }
    *ambiguous = matches > 1;
    return matches == 1 ? found : nullptr;
}

// A whole number from 1 to `max`.
static bool ReadCount(const char* text, int max, int* count) {
    long long value = 0;
    if (*text == '\0') return false;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9') return false;
        value = value * 10 + (*p - '0');
        if (value > max) return false;
    }
    if (value < 1) return false;
    *count = static_cast<int>(value);
    return true;
}

static bool ReadPort(const char* text, std::int32_t* port) {
    int value = 0;
    if (!ReadCount(text, INT32_MAX, &value)) return false;
    *port = value;
    return true;
}

static bool ReadFactor(const char* text, double* factor) {
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || !std::isfinite(value) || !(value > 0)) return false;
    *factor = value;
    return true;
}

// Sample rates from telephone quality to the fastest sound cards.
constexpr unsigned kMinRate = 8000, kMaxRate = 384000;

static bool ReadRate(const char* text, unsigned* rate) {
    std::int32_t value = 0;
    if (!ReadPort(text, &value) || value < static_cast<std::int32_t>(kMinRate) ||
        value > static_cast<std::int32_t>(kMaxRate))
        return false;
    *rate = static_cast<unsigned>(value);
    return true;
}

// Reads `count` decimal digits at `text`, at most `max`; advances `text`.
static bool ReadDigits(const char** text, int count, int max, int* value) {
    *value = 0;
    for (int i = 0; i < count; ++i, ++*text) {
        if (**text < '0' || **text > '9') return false;
        *value = *value * 10 + (**text - '0');
    }
    return *value <= max;
}

// "YYYY-MM-DD HH:MM", a date that exists.
static bool ReadClockMinute(const char* text, ClockMinute* m) {
    const char* p = text;
    if (!ReadDigits(&p, 4, 9999, &m->year) || *p++ != '-' || !ReadDigits(&p, 2, 12, &m->month) || *p++ != '-' ||
        !ReadDigits(&p, 2, 31, &m->day) || *p++ != ' ' || !ReadDigits(&p, 2, 23, &m->hour) || *p++ != ':' ||
        !ReadDigits(&p, 2, 59, &m->minute) || *p != '\0')
        return false;
    if (m->year < 1970 || m->month < 1 || m->day < 1) return false;
    static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (m->year % 4 == 0 && m->year % 100 != 0) || m->year % 400 == 0;
    return m->day <= kDays[m->month - 1] && (m->month != 2 || m->day <= 28 || leap);
}

// [+|-]H[:MM], at most 24 hours either way.
static bool ReadOffset(const char* text, std::int32_t* offset) {
    const char* p = text;
    const int sign = *p == '-' ? -1 : 1;
    if (*p == '+' || *p == '-') ++p;
    int hours = 0, minutes = 0;
    const int digits = p[0] >= '0' && p[0] <= '9' && p[1] >= '0' && p[1] <= '9' ? 2 : 1;
    if (!ReadDigits(&p, digits, 24, &hours)) return false;
    if (*p == ':' && (++p, !ReadDigits(&p, 2, 59, &minutes))) return false;
    if (*p != '\0' || hours * 60 + minutes > 24 * 60) return false;
    *offset = sign * (hours * 3600 + minutes * 60);
    return true;
}

// HH:MM-HH:MM[,HH:MM-HH:MM...]; a window of no length is refused.
static bool ReadWindows(const char* text, Options* options) {
    const char* p = text;
    options->windowCount = 0;
    for (;;) {
        int h1 = 0, m1 = 0, h2 = 0, m2 = 0;
        if (!ReadDigits(&p, 2, 23, &h1) || *p++ != ':' || !ReadDigits(&p, 2, 59, &m1) || *p++ != '-' ||
            !ReadDigits(&p, 2, 24, &h2) || *p++ != ':' || !ReadDigits(&p, 2, 59, &m2))
            return false;
        // 24:00 ends a day.
        if (h2 == 24 && m2 != 0) return false;
        const Window w{h1 * 60 + m1, (h2 * 60 + m2) % (24 * 60)};
        if (w.start == w.end || options->windowCount == kMaxWindows) return false;
        options->windows[options->windowCount++] = w;
        if (*p == '\0') return true;
        if (*p++ != ',') return false;
    }
}

// Letters compared without regard to case.
static bool SameName(const char* given, const char* name) {
    for (; *given && *name; ++given, ++name)
        if (std::tolower(static_cast<unsigned char>(*given)) != *name) return false;
    return *given == *name;
}

// Which of the options that exclude others were given.
struct Given {
    bool port, zone, factor;
};

// Applies one option; false with `problem` set when its value is refused.
static bool Apply(const OptionDefinition& o, const char* value, Options* options, std::string* problem, Given* given) {
    switch (o.name) {
    case PORT:
        given->port = true;
        if (ReadPort(value, &options->port)) return true;
        *problem = std::string("the port must be a whole number from 1 up, not '") + value + "'";
        return false;
    case DEVICE:
        options->device = value;
        if (options->device.empty()) *problem = "the device path is empty";
        else if (options->device.size() > kMaxDevicePath) *problem = "the device path is too long";
        else return true;
        return false;
    case FACTOR:
        given->factor = true;
        if (ReadFactor(value, &options->factor)) return true;
        *problem = std::string("the factor must be a finite number above 0, not '") + value + "'";
        return false;
    case ZONE:
        given->zone = true;
        if (SameName(value, "utc")) options->zone = ZONE_UTC;
        else if (SameName(value, "cet")) options->zone = ZONE_CET;
        else if (SameName(value, "local")) options->zone = ZONE_LOCAL;
        else *problem = std::string("unknown zone '") + value + "' (utc, cet or local)";
        return problem->empty();
    case STATION:
        options->carrierHz = SameName(value, "dcf77") ? 77500 : SameName(value, "jjy") ? 40000 : 60000;
        if (SameName(value, "dcf77")) options->station = STATION_DCF77;
        else if (SameName(value, "msf")) options->station = STATION_MSF;
        else if (SameName(value, "wwvb")) options->station = STATION_WWVB;
        else if (SameName(value, "jjy") || SameName(value, "jjy60")) options->station = STATION_JJY;
        else *problem = std::string("unknown station '") + value + "' (dcf77, msf, wwvb, jjy or jjy60)";
        return problem->empty();
    case AUDIO:
    case WAV:
        (o.name == AUDIO ? options->audio : options->wav) = value;
        if (*value != '\0') return true;
        *problem = o.name == AUDIO ? "the sound device's name is empty" : "the WAV file's name is empty";
        return false;
    case RATE:
        if (ReadRate(value, &options->rate)) return true;
        *problem = std::string("the rate must be a whole number of Hz from 8000 to 384000, not '") + value + "'";
        return false;
    case TIME:
        options->timeGiven = true;
        if (ReadClockMinute(value, &options->time)) return true;
        *problem = std::string("the time must be a date and time \"YYYY-MM-DD HH:MM\" from 1970 on, not '") + value + "'";
        return false;
    case OFFSET:
        if (ReadOffset(value, &options->offset)) return true;
        *problem = std::string("the offset must be [+|-]H[:MM] within 24 hours, not '") + value + "'";
        return false;
    case MINUTES:
        if (ReadCount(value, 1'000'000'000, &options->minutes)) return true;
        *problem = std::string("the minutes must be a whole number from 1 up, not '") + value + "'";
        return false;
    case WINDOW:
        if (ReadWindows(value, options)) return true;
        *problem = std::string("the window must be HH:MM-HH:MM[,HH:MM-HH:MM...], each of some length, not '") +
                   value + "'";
        return false;
    case NTP: {
        NtpServer server;
        if (!ParseNtpServer(value, &server, problem)) return false;
        if (options->ntp.size() == kMaxNtpServers) {
            *problem = "at most 8 NTP servers (--ntp)";
            return false;
        }
        options->ntp.push_back(server);
        options->follow = true;
        return true;
    }
    case FOLLOW: options->follow = true; return true;
    case VERBOSE:
        options->verbose = true;
        ++options->verbosity;
        return true;
    case DRY_RUN: options->dryRun = true; return true;
    case WAIT_SYNC: options->waitSync = true; return true;
    case CARRIER: options->carrier = true; return true;
    default: return true;
    }
}

// A factor is refused when it keys a pulse of the station as nothing or
// stretches a second past 2 s; when following the clock, also when a
// period that must end within the second would reach the next one, since
// every frame would then be cut.
static std::string FactorProblem(const Options& options) {
    static const std::int32_t kShortestPulse[] = {100, 100, 200, 200};
    // The latest end of a period that is not a second's last: DCF77's 1
    // (200 ms), MSF's minute marker (500), WWVB's marker and JJY's 0 (800),
    // and JJY's Morse, whose last element ends at 980 ms in second 41.
    static const std::int32_t kLatestInnerEnd[] = {200, 500, 800, 980};
    char text[200] = "";
    const char* name = StationName(options.station);
    const std::int32_t shortest = kShortestPulse[options.station], inner = kLatestInnerEnd[options.station];
    if (ScaledDurationFor(options.factor, shortest) <= 0)
        std::snprintf(text, sizeof text, "the factor %g keys %s's %d ms pulse as 0 ms", options.factor, name, shortest);
    else if (ScaledDurationFor(options.factor, 1000) > 2000)
        std::snprintf(text, sizeof text, "the factor %g makes a second last over 2 s (at most 200)", options.factor);
    else if (options.follow && ScaledDurationFor(options.factor, inner) >= 1000)
        std::snprintf(text, sizeof text,
                      "with --follow the factor %g stretches %s's %d ms period into the next second (below %.2f)",
                      options.factor, name, inner, 99950.0 / inner);
    return text;
}

// cmd.exe passes single quotes on as part of a value and splits it at its
// spaces ('2026-03-29 00:55' arrives as '2026-03-29 and 00:55'), so a
// value that begins or ends with one is refused, shown double-quoted;
// `next` is the argument after the value, or null.
static bool SingleQuoted(const std::string& option, const char* value, const char* next, std::string* problem) {
    const std::string given = value;
    if (given.empty() || (given.front() != '\'' && given.back() != '\'')) return false;
    std::string plain = given.substr(given.front() == '\'' ? 1 : 0);
    if (!plain.empty() && plain.back() == '\'') plain.pop_back();
    else if (given.front() == '\'' && next != nullptr && *next != '\0' && next[std::strlen(next) - 1] == '\'')
        plain += " " + std::string(next, std::strlen(next) - 1);
    *problem = option + " " + given + ": a value in single quotes (cmd.exe keeps them); use double quotes: " +
               option + " \"" + plain + "\"";
    return true;
}

static CommandLine Refuse(std::string* problem, const std::string& text) {
    *problem = text;
    return BAD;
}

CommandLine ParseCommandLine(int argc, const char* const* argv, Options* options, std::string* problem) {
    Given given{};
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') return Refuse(problem, "unexpected argument '" + arg + "'");
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        // Each argument is a list of (option, value) uses: one for a long
        // option, one or more grouped short ones.
        if (arg[1] == '-') {
            const std::size_t equals = arg.find('=');
            const std::string name = arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
            bool ambiguous = false;
            const OptionDefinition* o = ByLongName(name, &ambiguous);
            if (o == nullptr)
                return Refuse(problem, (ambiguous ? "ambiguous option '--" : "unknown option '--") + name + "'");
            const std::string full = std::string("--") + o->longName;
            const char* value = nullptr;
            if (equals != std::string::npos) {
                if (!o->takesValue) return Refuse(problem, "option '" + full + "' takes no value");
                value = argv[i] + equals + 1;
            } else if (o->takesValue) {
                if (i + 1 >= argc) return Refuse(problem, "option '" + full + "' needs a value");
                value = argv[++i];
            }
            if (o->name == HELP) return SHOW_HELP;
            if (o->name == VERSION) return SHOW_VERSION;
            if (value != nullptr && SingleQuoted(full, value, i + 1 < argc ? argv[i + 1] : nullptr, problem))
                return BAD;
            if (!Apply(*o, value, options, problem, &given)) return BAD;
            continue;
        }
        for (std::size_t k = 1; k < arg.size(); ++k) {
            const OptionDefinition* o = ByShortName(arg[k]);
            if (o == nullptr) return Refuse(problem, std::string("unknown option '-") + arg[k] + "'");
            const char* value = nullptr;
            if (o->takesValue) {
                // The rest of the argument, or else the next one.
                if (k + 1 < arg.size()) value = argv[i] + k + 1;
                else if (i + 1 < argc) value = argv[++i];
                else return Refuse(problem, std::string("option '-") + arg[k] + "' needs a value");
            }
            if (o->name == HELP) return SHOW_HELP;
            if (o->name == VERSION) return SHOW_VERSION;
            if (value != nullptr && SingleQuoted(std::string("--") + o->longName, value,
                                                 i + 1 < argc ? argv[i + 1] : nullptr, problem))
                return BAD;
            if (!Apply(*o, value, options, problem, &given)) return BAD;
            if (value != nullptr) break;
        }
    }
    if (given.port && !options->device.empty()) return Refuse(problem, "--port and --device exclude each other");
    const bool serial = given.port || !options->device.empty(), sound = !options->audio.empty();
    if (sound && serial) return Refuse(problem, "--audio and the serial port (--port, --device) exclude each other");
    if (!options->wav.empty() && (sound || serial)) return Refuse(problem, "--wav renders a file: no --audio, --port or --device");
    // A WAV file needs no sound library.
    if (sound && !AudioAvailable()) return Refuse(problem, "sound output (--audio) is not available on this system");
    if (!options->wav.empty() && options->waitSync) return Refuse(problem, "--wav renders at once: drop --wait-sync");
    if (!options->wav.empty() && !options->ntp.empty()) return Refuse(problem, "--wav renders at once: drop --ntp");
    // The other codes carry their own country's time.
    if (given.zone && options->station != STATION_DCF77) return Refuse(problem, "--zone applies to DCF77 only");
    if (options->dryRun && options->waitSync) return Refuse(problem, "--dry-run waits for nothing: drop --wait-sync");
    if (options->dryRun && options->audio == "list") return Refuse(problem, "--dry-run opens nothing: drop --audio list");
    if (given.factor) {
        const std::string factor = FactorProblem(*options);
        if (!factor.empty()) return Refuse(problem, factor);
    }
    // The windows are of local time too: an unknown zone would make them UTC.
    const char* local = options->zone == ZONE_LOCAL ? "--zone local" : options->windowCount > 0 ? "--window" : nullptr;
    if (local != nullptr && !LocalZoneKnown())
        return Refuse(problem, std::string(local) + ": the C library does not know this computer's zone (TZ '" +
                                   std::string(std::getenv("TZ") != nullptr ? std::getenv("TZ") : "") +
                                   "'; no zone data?)");
    if (options->timeGiven &&
        !FrameStartShowing(options->station, options->zone, options->offset, options->time, &options->chosenFrameStart))
        return Refuse(problem, "the time '" + FormatClockMinute(options->time) + "' does not occur in " +
                                   (options->station == STATION_DCF77 ? "that zone" : "the station's time"));
    return RUN;
}
