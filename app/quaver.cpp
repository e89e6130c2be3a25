// quaver: measures the timing factor that dcf77tx asks for, by timing the
// transmitter's own pauses against the UTC clock.
#include <cstdio>
#include <cstring>

#include "keying/keying.h"
#include "platform/platform.h"
#include "platform/system_texts.h"

// The help; %s is where the factor goes for a run left unattended.
static const char* const kUsage =
    "Usage: quaver [SECONDS]\n"
    "Measures the timing factor for dcf77tx on this computer: runs SECONDS\n"
    "(2 to 86400, default 30) of dcf77tx's own pauses, a pulse and the rest of\n"
    "the second each second, times them against the UTC clock and prints the\n"
    "factor that makes them keep time. Nothing is opened or keyed.\n"
    "\n"
    "Give the factor to dcf77tx as --factor X or at its factor prompt, or set\n"
    "FACTOR=X in %s.\n"
    "With --follow every second and minute follow the UTC clock, so the factor\n"
    "only sets the pulse widths.\n"
    "\n"
    "  -h, --help      show this help and exit\n"
    "  -V, --version   show the name and version and exit\n"
    "\n"
    "Exit status: 0 after a measurement, --help or --version; 1 when the UTC\n"
    "clock was set during the measurement; 2 for a bad command line.\n";

// The measurement's length from a whole number of seconds, 2 to 86400.
static bool ReadSeconds(const char* text, int* seconds) {
    long value = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9' || value > 86400) return false;
        value = value * 10 + (*p - '0');
    }
    if (*text == '\0' || value < 2 || value > 86400) return false;
    *seconds = static_cast<int>(value);
    return true;
}

static int Refuse(const char* problem, const char* argument) {
    std::fprintf(stderr, "quaver: %s '%s'\nTry 'quaver --help'.\n", problem, argument);
    return 2;
}

int main(int argc, char** argv) {
    int seconds = 30;
    if (argc > 2) return Refuse("unexpected argument", argv[2]);
    if (argc == 2) {
        const char* arg = argv[1];
        if (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0) {
            std::printf(kUsage, kFactorSettingsPlace);
            return 0;
        }
        if (std::strcmp(arg, "-V") == 0 || std::strcmp(arg, "--version") == 0) {
            std::puts("quaver " DCF77TX_VERSION);
            return 0;
        }
        if (arg[0] == '-') return Refuse("unknown option", arg);
        if (!ReadSeconds(arg, &seconds)) return Refuse("the length must be whole seconds, 2 to 86400, not", arg);
    }
    // A progress line redrawn in place only where someone watches it; in a
    // log or a pipe the result alone.
    const bool terminal = IsTerminal(stdout);
    PrepareTimers();
    RaisePriority();
    std::printf("Timing %d s of dcf77tx pauses against the UTC clock.\n", seconds);
    const double ratio = MeasurePauseRatio(seconds, terminal ? stdout : nullptr);
    ReleaseTimers();
    // A ratio this far from 1 means the clock was set during the run.
    if (!(ratio > 0.5 && ratio < 2)) {
        std::printf("%sThe UTC clock changed during the measurement; run quaver again.\n", terminal ? "\n" : "");
        return 1;
    }
    if (!terminal) {
        char deviation[32];
        FormatPauseDeviation(deviation, sizeof deviation, ratio);
        std::printf("Pauses ran %s against UTC.\n", deviation);
    }
    const double factor = FactorForPauseRatio(ratio);
    std::printf("%sTiming Fudge Factor: %.1f\n", terminal ? "\n\n" : "\n", factor);
    std::printf("Type it at dcf77tx's factor prompt: it is the pause length, in pause units, that lasts 100 ms here.\n");
    std::printf("Or give it to dcf77tx as --factor %.1f, or set\n"
                "FACTOR=%.1f in %s.\n"
                "With --follow every second and minute follow the UTC clock, so the factor only\n"
                "sets the pulse widths.\n",
                factor, factor, kFactorSettingsPlace);
    return 0;
}
