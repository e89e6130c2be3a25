// The command line: options that replace the start-up dialogue.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ntp/ntp_exchange.h"
#include "timecode/station.h"
#include "timecode/zone.h"

// A daily window of local time, in minutes since midnight; `end` may lie
// before `start` for a window that runs past midnight.
struct Window {
    int start, end;
};
constexpr int kMaxWindows = 16;
constexpr std::size_t kMaxNtpServers = 8;

// A minute as a clock shows it: "YYYY-MM-DD HH:MM".
struct ClockMinute {
    int year, month, day, hour, minute;
};

struct Options {
    std::int32_t port = 2;   // COM1 = 1
    std::string device;      // the serial device by path; empty: by port
    double factor = 100.0;   // the timing factor
    bool follow = false;     // keep every second and minute on the UTC clock
    bool verbose = false;    // one status line per frame
    int verbosity = 0;       // how often -v was given: 2 adds each frame's symbols
    Zone zone = ZONE_UTC;    // the time DCF77's frames carry
    Station station = STATION_DCF77;
    std::string audio;       // the sound device to send on; "list": list them
    std::string wav;         // the WAV file to render into
    unsigned rate = 0;       // sample rate; 0: the device's best, 192000 for --wav
    double carrierHz = 77500;     // the station's carrier; jjy60 is JJY on 60 kHz
    bool timeGiven = false;       // --time: the first whole frame carries `time`
    ClockMinute time{};
    std::int64_t chosenFrameStart = 0;  // the UTC minute whose frame carries `time`
    std::int32_t offset = 0;      // --offset, seconds added to the time shown
    int minutes = 0;              // --minutes: stop after this many frames; 0 never
    Window windows[kMaxWindows];  // --window: send only within these
    int windowCount = 0;
    bool dryRun = false;          // print the frames, open nothing
    bool waitSync = false;        // start once the system clock is synchronised
    bool carrier = false;         // a steady full carrier, no time code
    std::vector<NtpServer> ntp;   // --ntp: send the time these servers give
};

enum CommandLine {
    RUN,           // run with the options read
    SHOW_HELP,     // print the usage, status 0
    SHOW_VERSION,  // print name and version, status 0
    BAD,           // refuse with the message, status 2
};

// Reads argv[1 ..] with the POSIX conventions (grouped short options, an
// attached or separate value, --name=value, unique prefixes of long names,
// "--" ends the options). On BAD, `problem` holds one line naming it.
CommandLine ParseCommandLine(int argc, const char* const* argv, Options* options, std::string* problem);

// The text that --help prints.
std::string UsageText();
