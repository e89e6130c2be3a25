// The logon launcher's settings (settings.txt: KEY=VALUE lines, # comments)
// and the command line of dcf77tx it makes of them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// What the settings leave out keeps these values.
struct LogonSettings {
    std::string output = "--audio";  // --audio or --device
    std::string device = "default";  // the sound device or serial port
    std::string factor = "100";      // the timing factor
    std::vector<std::string> ntp;    // NTP servers, each passed with --ntp
    std::vector<std::string> options{"--zone", "cet"};  // further options
};

// Reads the settings `text` (UTF-8) over `settings`. Keys in any case,
// blanks around keys and values ignored; a later line wins. False, with
// "line N: why" in `problem`, for a line that is no setting or a value
// that cannot be one.
bool ReadLogonSettings(std::string_view text, LogonSettings* settings, std::string* problem);

// dcf77tx's arguments: OUTPUT DEVICE --factor FACTOR --follow --verbose
// [--ntp SERVER]... OPTIONS.
std::vector<std::string> LogonArguments(const LogonSettings& settings);

// `program` and `arguments` as one Windows command line, each argument
// quoted where needed so that the C runtime reads it back unchanged.
std::string QuotedCommandLine(const std::string& program, const std::vector<std::string>& arguments);

// The seconds to wait before trying again after a run of `ranSeconds` that
// failed, `previous` being the wait before that run (0: none yet): 10 s,
// doubling up to 10 minutes; after a run longer than that, 10 s again.
int NextRetrySeconds(int previous, std::int64_t ranSeconds);
