// What the logon launcher asks of the system (Windows only). Paths and
// texts are UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// %ProgramData%\dcf77tx, where the settings and the log are.
std::string LogonFolder();

// The full path of `name` in this program's own folder.
std::string PathBesideThisProgram(const char* name);

// The file at `path` as UTF-8 (read as UTF-8, as UTF-16 after its byte-order
// mark, or else in the ANSI code page); false with the system's words.
bool ReadTextFile(const std::string& path, std::string* text, std::string* error);

// Appends `text` to the log, which first becomes `log`.old when `text`
// would take it past `limit` bytes.
void AppendToLog(const std::string& log, std::string_view text, std::int64_t limit);

// Runs `commandLine` with no window, its output and errors appended to the
// log line by line, and returns its exit status; -1, with the system's
// words in `error`, when it cannot start.
std::int64_t RunIntoLog(const std::string& commandLine, const std::string& log, std::int64_t limit,
                        std::string* error);

// Local time as "YYYY-MM-DD HH:MM:SS", for the log.
std::string LocalTimeText();

// Seconds on a clock that only moves forward, and a pause of `seconds`.
std::int64_t SecondsSinceBoot();
void SleepSeconds(int seconds);
