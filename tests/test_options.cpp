// The command line, one row per command line: what it sets, or the one
// line that refuses it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "app/options.h"
#include "sim_platform.h"

struct CommandLineCase {
    std::vector<const char*> arguments;  // after the program's name
    CommandLine outcome;
    const char* problem;  // on BAD
    std::int32_t port;
    const char* device;
    double factor;
    bool follow, verbose;
    Zone zone = ZONE_UTC;
    Station station = STATION_DCF77;
    const char* audio = "";
    const char* wav = "";
    unsigned rate = 0;
    bool noSound = false;  // the build has no sound output
    const char* tz = nullptr;  // the local zone, where the row sets one
};

// Sets TZ; empty unsets it.
static void SetZone(const char* zone) {
#ifdef _WIN32
    _putenv_s("TZ", zone);
#else
    if (*zone != '\0') setenv("TZ", zone, 1);
    else unsetenv("TZ");
#endif
}

TEST(Options, CommandLines) {
    const CommandLineCase cases[] = {
        // Nothing but the end of the options: the defaults.
        {{"--"}, RUN, "", 2, "", 100, false, false},
        {{"--port", "3", "--factor", "98.7"}, RUN, "", 3, "", 98.7, false, false},
        {{"--port=12", "--factor=101.5", "--follow", "--verbose"}, RUN, "", 12, "", 101.5, true, true},
        // Grouped short options, the value attached or in the next argument.
        {{"-vf100", "-p4"}, RUN, "", 4, "", 100, false, true},
        {{"-v", "-f", "95", "-p", "2147483647"}, RUN, "", 2147483647, "", 95, false, true},
        // A unique prefix of a long name; the last of a repeated option wins.
        {{"--fol", "--dev", "/dev/ttyUSB0", "-d", "/dev/serial/by-id/usb-FTDI-if00"}, RUN, "", 2,
         "/dev/serial/by-id/usb-FTDI-if00", 100, true, false},
        // A factor that keys a pulse as nothing, or a second over 2 s.
        {{"-f", "1e-3"}, BAD, "the factor 0.001 keys DCF77's 100 ms pulse as 0 ms", 0, "", 0, false, false},
        {{"-s", "wwvb", "-f", "0.2"}, BAD, "the factor 0.2 keys WWVB's 200 ms pulse as 0 ms", 0, "", 0, false, false},
        {{"-f", "200.1"}, BAD, "the factor 200.1 makes a second last over 2 s (at most 200)", 0, "", 0, false, false},
        {{"-f", "200"}, RUN, "", 2, "", 200, false, false},
        // Following the clock, no period but a second's last may reach
        // into the next second.
        {{"--follow", "-s", "wwvb", "-f", "128"}, BAD,
         "with --follow the factor 128 stretches WWVB's 800 ms period into the next second (below 124.94)", 0, "",
         0, false, false},
        {{"-s", "msf", "-f", "199.95", "--follow"}, BAD,
         "with --follow the factor 199.95 stretches MSF's 500 ms period into the next second (below 199.90)", 0, "", 0,
         false, false},
        {{"-s", "wwvb", "-f", "128"}, RUN, "", 2, "", 128, false, false, ZONE_UTC, STATION_WWVB},
        {{"--zone", "cet", "-vzlocal"}, RUN, "", 2, "", 100, false, true, ZONE_LOCAL},
        {{"-z", "cet"}, RUN, "", 2, "", 100, false, false, ZONE_CET},
        {{"-s", "jjy", "--station=msf"}, RUN, "", 2, "", 100, false, false, ZONE_UTC, STATION_MSF},
        {{"-z", "utc", "-s", "dcf77"}, RUN, "", 2, "", 100, false, false, ZONE_UTC, STATION_DCF77},
        {{"-swwvb", "-z", "cet"}, BAD, "--zone applies to DCF77 only", 0, "", 0, false, false},
        // Names in any letter case.
        {{"-s", "DCF77"}, RUN, "", 2, "", 100, false, false},
        {{"--zone=CET", "-s", "Dcf77"}, RUN, "", 2, "", 100, false, false, ZONE_CET},
        {{"-s", "dcf"}, BAD, "unknown station 'dcf' (dcf77, msf, wwvb, jjy or jjy60)", 0, "", 0, false, false},
        {{"--zone=CEST"}, BAD, "unknown zone 'CEST' (utc, cet or local)", 0, "", 0, false, false},
        {{"-vh"}, SHOW_HELP, "", 2, "", 100, false, true},
        {{"--version", "--bogus"}, SHOW_VERSION, "", 2, "", 100, false, false},
        {{"--bogus"}, BAD, "unknown option '--bogus'", 0, "", 0, false, false},
        {{"-vx"}, BAD, "unknown option '-x'", 0, "", 0, false, false},
        {{"--f"}, BAD, "ambiguous option '--f'", 0, "", 0, false, false},
        {{"--port"}, BAD, "option '--port' needs a value", 0, "", 0, false, false},
        {{"-vf"}, BAD, "option '-f' needs a value", 0, "", 0, false, false},
        {{"--follow=yes"}, BAD, "option '--follow' takes no value", 0, "", 0, false, false},
        {{"-p", "0"}, BAD, "the port must be a whole number from 1 up, not '0'", 0, "", 0, false, false},
        {{"-p", "+3"}, BAD, "the port must be a whole number from 1 up, not '+3'", 0, "", 0, false, false},
        {{"-p", "2147483648"}, BAD, "the port must be a whole number from 1 up, not '2147483648'", 0, "", 0, false,
         false},
        {{"-p", "3.5"}, BAD, "the port must be a whole number from 1 up, not '3.5'", 0, "", 0, false, false},
        {{"-f", "0"}, BAD, "the factor must be a finite number above 0, not '0'", 0, "", 0, false, false},
        {{"-f", "-100"}, BAD, "the factor must be a finite number above 0, not '-100'", 0, "", 0, false, false},
        {{"-f", "inf"}, BAD, "the factor must be a finite number above 0, not 'inf'", 0, "", 0, false, false},
        {{"-f", "nan"}, BAD, "the factor must be a finite number above 0, not 'nan'", 0, "", 0, false, false},
        {{"-f", "100x"}, BAD, "the factor must be a finite number above 0, not '100x'", 0, "", 0, false, false},
        {{"--device="}, BAD, "the device path is empty", 0, "", 0, false, false},
        // Whichever comes first.
        {{"-d", "/dev/ttyUSB0", "-p", "3"}, BAD, "--port and --device exclude each other", 0, "", 0, false, false},
        {{"-p", "3", "--device", "COM12"}, BAD, "--port and --device exclude each other", 0, "", 0, false, false},
        {{"3"}, BAD, "unexpected argument '3'", 0, "", 0, false, false},
        {{"-"}, BAD, "unexpected argument '-'", 0, "", 0, false, false},
        {{"--", "-v"}, BAD, "unexpected argument '-v'", 0, "", 0, false, false},
        // A chosen time, an offset, a run limit and windows.
        {{"-t", "2027-03-28 01:55", "-o", "-1", "-m", "10", "-w", "01:55-02:15,23:50-00:10", "-n"}, RUN, "", 2, "",
         100, false, false},
        {{"-t", "2023-02-29 12:00"}, BAD,
         "the time must be a date and time \"YYYY-MM-DD HH:MM\" from 1970 on, not '2023-02-29 12:00'", 0, "", 0, false,
         false},
        {{"--time=2027-03-28 1:55"}, BAD,
         "the time must be a date and time \"YYYY-MM-DD HH:MM\" from 1970 on, not '2027-03-28 1:55'", 0, "", 0, false,
         false},
        {{"-t", "1969-12-31 23:59"}, BAD,
         "the time must be a date and time \"YYYY-MM-DD HH:MM\" from 1970 on, not '1969-12-31 23:59'", 0, "", 0, false,
         false},
        // Single quotes, which cmd.exe passes on and splits at the space:
        // refused with the value double-quoted, rejoined where it was split.
        {{"--time", "'2026-03-29", "00:55'"}, BAD,
         "--time '2026-03-29: a value in single quotes (cmd.exe keeps them); use double quotes: "
         "--time \"2026-03-29 00:55\"", 0, "", 0, false, false},
        {{"-zcet", "-t'2026-03-29 00:55'"}, BAD,
         "--time '2026-03-29 00:55': a value in single quotes (cmd.exe keeps them); use double quotes: "
         "--time \"2026-03-29 00:55\"", 0, "", 0, false, false},
        {{"--audio=USB'"}, BAD,
         "--audio USB': a value in single quotes (cmd.exe keeps them); use double quotes: --audio \"USB\"", 0, "", 0,
         false, false},
        // A quote inside a value is the value's own.
        {{"-a", "Kim's headphones"}, RUN, "", 2, "", 100, false, false, ZONE_UTC, STATION_DCF77, "Kim's headphones"},
        // In the hour skipped in spring; in autumn the first 02:30 is taken.
        {{"-z", "cet", "-t", "2027-03-28 02:30"}, BAD, "the time '2027-03-28 02:30' does not occur in that zone", 0, "",
         0, false, false},
        {{"-s", "msf", "-t", "2027-03-28 01:00"}, BAD, "the time '2027-03-28 01:00' does not occur in the station's time",
         0, "", 0, false, false},
        {{"-o", "+24:01"}, BAD, "the offset must be [+|-]H[:MM] within 24 hours, not '+24:01'", 0, "", 0, false, false},
        {{"-o", "1:5"}, BAD, "the offset must be [+|-]H[:MM] within 24 hours, not '1:5'", 0, "", 0, false, false},
        {{"-o", "+1:60"}, BAD, "the offset must be [+|-]H[:MM] within 24 hours, not '+1:60'", 0, "", 0, false, false},
        {{"-m", "0"}, BAD, "the minutes must be a whole number from 1 up, not '0'", 0, "", 0, false, false},
        {{"-m", "-3"}, BAD, "the minutes must be a whole number from 1 up, not '-3'", 0, "", 0, false, false},
        {{"-w", "01:55-01:55"}, BAD,
         "the window must be HH:MM-HH:MM[,HH:MM-HH:MM...], each of some length, not '01:55-01:55'", 0, "", 0, false,
         false},
        {{"-w", "01:55-02:15,"}, BAD,
         "the window must be HH:MM-HH:MM[,HH:MM-HH:MM...], each of some length, not '01:55-02:15,'", 0, "", 0, false,
         false},
        {{"-w", "24:00-01:00"}, BAD,
         "the window must be HH:MM-HH:MM[,HH:MM-HH:MM...], each of some length, not '24:00-01:00'", 0, "", 0, false,
         false},
        {{"-n", "--wait-sync"}, BAD, "--dry-run waits for nothing: drop --wait-sync", 0, "", 0, false, false},
        {{"-n", "--audio", "list"}, BAD, "--dry-run opens nothing: drop --audio list", 0, "", 0, false, false},
        // Windows are of local time: a zone the C library does not know
        // would silently make them UTC.
        {{"-w", "01:00-02:00"}, BAD,
         "--window: the C library does not know this computer's zone (TZ 'Nowhere/City'; no zone data?)", 0, "", 0,
         false, false, ZONE_UTC, STATION_DCF77, "", "", 0, false, "Nowhere/City"},
        // The sound card: the factor is accepted and does nothing.
        {{"-a", "hw:1,0", "--rate", "48000", "-f", "98"}, RUN, "", 2, "", 98, false, false, ZONE_UTC, STATION_DCF77,
         "hw:1,0", "", 48000},
        {{"--audio=list"}, RUN, "", 2, "", 100, false, false, ZONE_UTC, STATION_DCF77, "list"},
        {{"--wav", "out.wav", "--rate=8000", "-s", "msf"}, RUN, "", 2, "", 100, false, false, ZONE_UTC, STATION_MSF, "",
         "out.wav", 8000},
        {{"--audio", "default", "-p", "3"}, BAD, "--audio and the serial port (--port, --device) exclude each other", 0,
         "", 0, false, false},
        {{"-d", "/dev/ttyUSB0", "-a", "default"}, BAD,
         "--audio and the serial port (--port, --device) exclude each other", 0, "", 0, false, false},
        {{"--wav", "x.wav", "-a", "default"}, BAD, "--wav renders a file: no --audio, --port or --device", 0, "", 0,
         false, false},
        {{"--rate", "7999"}, BAD, "the rate must be a whole number of Hz from 8000 to 384000, not '7999'", 0, "", 0,
         false, false},
        {{"--rate", "48k"}, BAD, "the rate must be a whole number of Hz from 8000 to 384000, not '48k'", 0, "", 0,
         false, false},
        {{"--rate", "384001"}, BAD, "the rate must be a whole number of Hz from 8000 to 384000, not '384001'", 0, "",
         0, false, false},
        {{"-a", ""}, BAD, "the sound device's name is empty", 0, "", 0, false, false},
        // A WAV file needs no sound output; it renders at once.
        {{"--wav", "x.wav"}, RUN, "", 2, "", 100, false, false, ZONE_UTC, STATION_DCF77, "", "x.wav", 0, true},
        {{"-a", "default"}, BAD, "sound output (--audio) is not available on this system", 0, "", 0, false, false,
         ZONE_UTC, STATION_DCF77, "", "", 0, true},
        {{"--wav", "x.wav", "--wait-sync"}, BAD, "--wav renders at once: drop --wait-sync", 0, "", 0, false, false},
        // NTP servers: a name, an address, [IPv6] with a port; --ntp follows the clock.
        {{"--ntp", "ntp.example.org", "--ntp=192.0.2.1:1123", "--ntp", "[2001:db8::1]:123", "--ntp", "::1"}, RUN, "", 2,
         "", 100, true, false},
        {{"--ntp", "a b"}, BAD, "--ntp needs a host name, an address or [IPv6], optionally :PORT (1-65535), not 'a b'",
         0, "", 0, false, false},
        {{"--ntp", "[::1"}, BAD, "--ntp needs a host name, an address or [IPv6], optionally :PORT (1-65535), not '[::1'",
         0, "", 0, false, false},
        {{"--ntp", "h:65536"}, BAD,
         "--ntp needs a host name, an address or [IPv6], optionally :PORT (1-65535), not 'h:65536'", 0, "", 0, false,
         false},
        {{"--ntp", "a", "--ntp", "b", "--ntp", "c", "--ntp", "d", "--ntp", "e", "--ntp", "f", "--ntp", "g", "--ntp", "h",
          "--ntp", "i"},
         BAD, "at most 8 NTP servers (--ntp)", 0, "", 0, false, false},
        {{"--wav", "x.wav", "--ntp", "h"}, BAD, "--wav renders at once: drop --ntp", 0, "", 0, false, false},
    };
    for (const CommandLineCase& c : cases) {
        std::vector<const char*> argv{"dcf77tx"};
        argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
        std::string line;
        for (const char* a : c.arguments) line += std::string(" ") + a;
        Options options;
        std::string problem;
        sim::audioMissing = c.noSound;
        const std::string savedTz = std::getenv("TZ") != nullptr ? std::getenv("TZ") : "";
        if (c.tz != nullptr) SetZone(c.tz);
        const CommandLine outcome = ParseCommandLine(static_cast<int>(argv.size()), argv.data(), &options, &problem);
        if (c.tz != nullptr) SetZone(savedTz.c_str());
        ASSERT_EQ(outcome, c.outcome) << line << ": " << problem;
        if (outcome == BAD) {
            EXPECT_EQ(problem, c.problem) << line;
            continue;
        }
        if (outcome != RUN) continue;
        EXPECT_EQ(options.port, c.port) << line;
        EXPECT_EQ(options.device, c.device) << line;
        EXPECT_EQ(options.factor, c.factor) << line;
        EXPECT_EQ(options.follow, c.follow) << line;
        EXPECT_EQ(options.verbose, c.verbose) << line;
        EXPECT_EQ(options.zone, c.zone) << line;
        EXPECT_EQ(options.station, c.station) << line;
        EXPECT_EQ(options.audio, c.audio) << line;
        EXPECT_EQ(options.wav, c.wav) << line;
        EXPECT_EQ(options.rate, c.rate) << line;
        if (!options.ntp.empty()) {
            EXPECT_EQ(options.ntp.size(), 4u) << line;
            EXPECT_EQ(options.ntp[1].host + " " + options.ntp[1].port, "192.0.2.1 1123") << line;
            EXPECT_EQ(options.ntp[2].host + " " + options.ntp[3].host, "2001:db8::1 ::1") << line;
        }
    }
    sim::audioMissing = false;
}

TEST(Options, NewOptionsSetTheirValues) {
    const char* const argv[] = {"dcf77tx", "-vv", "-s", "JJY60", "-o", "-1:30", "-m", "10", "-w", "23:50-00:10",
                                "-t", "2024-02-29 00:00", "--carrier", "--wait-sync"};
    Options o;
    std::string problem;
    ASSERT_EQ(ParseCommandLine(14, argv, &o, &problem), RUN) << problem;
    EXPECT_EQ(o.verbosity, 2);
    EXPECT_EQ(o.station, STATION_JJY);
    EXPECT_EQ(o.carrierHz, 60000);
    EXPECT_EQ(o.offset, -5400);
    EXPECT_EQ(o.minutes, 10);
    ASSERT_EQ(o.windowCount, 1);
    EXPECT_EQ(o.windows[0].start, 23 * 60 + 50);
    EXPECT_EQ(o.windows[0].end, 10);
    // 00:00 shown on a JJY clock 1:30 behind JST is 16:30 UTC the day before.
    EXPECT_EQ(o.chosenFrameStart, 1709137800);
    EXPECT_TRUE(o.carrier && o.waitSync && o.timeGiven);
}

TEST(Options, HelpFitsIn80Columns) {
    const std::string usage = UsageText();
    std::string line;
    for (const char c : usage) {
        if (c != '\n') {
            line += c;
            continue;
        }
        EXPECT_LE(line.size(), 80u) << line;
        line.clear();
    }
}

// The help speaks of what exists on the system it runs on.
TEST(Options, HelpNamesThisSystemsDevices) {
#ifdef _WIN32
    const bool windows = true;
#else
    const bool windows = false;
#endif
    struct Word {
        const char* text;
        bool onLinux, onWindows;  // whether the help says it there
    };
    const Word words[] = {
        {"ALSA", true, false},      {"hw:1,0", true, false},   {"/dev/", true, false},
        {"/etc/", false, false},    {"COM3", false, true},     {"--ntp SERVER", true, true},
        {"\"YYYY-MM-DD HH:MM\"", true, true}, {"'YYYY", false, false},
    };
    const std::string usage = UsageText();
    for (const Word& w : words)
        EXPECT_EQ(usage.find(w.text) != std::string::npos, windows ? w.onWindows : w.onLinux) << w.text;
}
