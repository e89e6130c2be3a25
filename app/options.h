// The command line: options that replace the start-up dialogue.
#pragma once

#include <cstdint>
#include <string>

#include "timecode/station.h"
#include "timecode/zone.h"

struct Options {
    std::int32_t port = 2;   // COM1 = 1
    std::string device;      // the serial device by path; empty: by port
    double factor = 100.0;   // the timing factor
    bool follow = false;     // keep every second and minute on the UTC clock
    bool verbose = false;    // one status line per frame
    Zone zone = ZONE_UTC;    // the time DCF77's frames carry
    Station station = STATION_DCF77;
    std::string audio;       // the sound device to send on; "list": list them
    std::string wav;         // the WAV file to render into
    unsigned rate = 0;       // sample rate; 0: the device's best, 192000 for --wav
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
extern const char* const kUsage;
