#include "options.h"

#include "platform/audio.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

const char* const kUsage =
    "Usage: dcf77tx [OPTION]...\n"
    "Sends the computer's time as a DCF77 time code on the DTR and RTS lines\n"
    "of a serial port. Without options it asks for the port and the factor.\n"
    "\n"
    "  -p, --port N        serial port number, COM1 = 1 (Linux: /dev/ttyS<N-1>); default 2\n"
    "  -d, --device PATH   the serial device by path: /dev/ttyUSB0, /dev/serial/by-id/...,\n"
    "                      on Windows COM12 or \\\\.\\COM12\n"
    "  -f, --factor X      timing factor, default 100\n"
    "      --follow        keep the transmission on the UTC clock: every frame starts\n"
    "                      on a UTC minute and carries the time read from the clock\n"
    "  -z, --zone ZONE     the time sent: utc (default; zone bits 0), cet (Central\n"
    "                      European Time with summer time, as the DCF77 transmitter\n"
    "                      sends it) or local (this computer's time zone); DCF77 only\n"
    "  -s, --station NAME  the time code: dcf77 (default), msf, wwvb or jjy\n"
    "  -v, --verbose       one status line per frame on standard output\n"
    "  -a, --audio DEVICE  send on a sound device (ALSA name: default, hw:1,0, ...) instead\n"
    "                      of a serial port; --audio list shows the devices\n"
    "      --rate HZ       the sound's sample rate (default: the device's highest of\n"
    "                      192000, 96000, 48000, 44100; 192000 for --wav)\n"
    "      --wav FILE      render second 59 and ten whole frames from the next minute\n"
    "                      into a WAV file, at once\n"
    "  -h, --help          show this help and exit\n"
    "  -V, --version       show the name and version and exit\n"
    "\n"
    "Exit status: 0 after --help or --version, 1 when the serial port or the sound\n"
    "device fails, 2 for a bad command line. Otherwise it runs until it is stopped.\n";

// Longest device path accepted: the platform names the device in a buffer
// of this size, and a shortened path would name another device.
constexpr std::size_t kMaxDevicePath = 4000;

enum OptionName { PORT, DEVICE, FACTOR, FOLLOW, ZONE, STATION, VERBOSE, HELP, VERSION, AUDIO, RATE, WAV };

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
    {AUDIO, 'a', "audio", true},       {RATE, 0, "rate", true},          {WAV, 0, "wav", true},
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

static bool ReadPort(const char* text, std::int32_t* port) {
    if (*text == '\0') return false;
    long long value = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9') return false;
        value = value * 10 + (*p - '0');
        if (value > INT32_MAX) return false;
    }
    if (value < 1) return false;
    *port = static_cast<std::int32_t>(value);
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

// Which of the options that exclude others were given.
struct Given {
    bool port, zone;
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
        if (ReadFactor(value, &options->factor)) return true;
        *problem = std::string("the factor must be a finite number above 0, not '") + value + "'";
        return false;
    case ZONE:
        given->zone = true;
        if (std::strcmp(value, "utc") == 0) options->zone = ZONE_UTC;
        else if (std::strcmp(value, "cet") == 0) options->zone = ZONE_CET;
        else if (std::strcmp(value, "local") == 0) options->zone = ZONE_LOCAL;
        else *problem = std::string("unknown zone '") + value + "' (utc, cet or local)";
        return problem->empty();
    case STATION:
        if (std::strcmp(value, "dcf77") == 0) options->station = STATION_DCF77;
        else if (std::strcmp(value, "msf") == 0) options->station = STATION_MSF;
        else if (std::strcmp(value, "wwvb") == 0) options->station = STATION_WWVB;
        else if (std::strcmp(value, "jjy") == 0) options->station = STATION_JJY;
        else *problem = std::string("unknown station '") + value + "' (dcf77, msf, wwvb or jjy)";
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
    case FOLLOW: options->follow = true; return true;
    case VERBOSE: options->verbose = true; return true;
    default: return true;
    }
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
            if (!Apply(*o, value, options, problem, &given)) return BAD;
            if (value != nullptr) break;
        }
    }
    if (given.port && !options->device.empty()) return Refuse(problem, "--port and --device exclude each other");
    const bool serial = given.port || !options->device.empty(), sound = !options->audio.empty();
    if (sound && serial) return Refuse(problem, "--audio and the serial port (--port, --device) exclude each other");
    if (!options->wav.empty() && (sound || serial)) return Refuse(problem, "--wav renders a file: no --audio, --port or --device");
    if ((sound || !options->wav.empty()) && !AudioAvailable())
        return Refuse(problem, "sound output (--audio, --wav) is not available on this system");
    // The other codes carry their own country's time.
    if (given.zone && options->station != STATION_DCF77) return Refuse(problem, "--zone applies to DCF77 only");
    return RUN;
}
