// What the program needs from the operating system, besides the sound
// output (audio.h): a serial line whose DTR and RTS outputs it keys, a
// monotonic clock and timer to pause on, the UTC clock it starts from (and
// follows), real-time priority, the clock's synchronisation and the local
// zone, and the system's own words for a failure. Implemented once per
// operating system (posix_line.cpp with linux_clock.cpp, windows.cpp); the
// build picks the files, and tests and benchmarks link stand-ins instead.
// The names of files written, the console's text and the local zone's name
// (posix_names.cpp, windows_names.cpp) are the real ones in tests too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// An open serial line: a file descriptor or a Win32 handle.
using LineHandle = std::intptr_t;

// Modem-control changes, numbered as the Win32 EscapeCommFunction codes.
enum LineChange : int {
    RAISE_RTS = 3,
    LOWER_RTS = 4,
    RAISE_DTR = 5,
    LOWER_DTR = 6,
};

// Writes the device path of serial port `port` (COM1 is port 1) into `name`.
void FormatLineName(char* name, std::size_t size, std::int32_t port);

// Writes the path that opens the serial device the user named `device`.
void FormatDevicePath(char* name, std::size_t size, const char* device);

// Opens the device read-write and exclusively. False on failure, with the
// reason left for LastLineError.
bool OpenLine(const char* name, LineHandle* line);

// Reads the line's current settings into a record the platform keeps.
bool ReadLineSettings(LineHandle line);

// Applies 9600 baud, 8N1, raw, no flow control, modem status ignored to the
// record read last, writes it to the line and leaves DTR and RTS asserted.
bool WriteKeyingSettings(LineHandle line);

// Raises or lowers one modem-control output.
bool ChangeLine(LineHandle line, LineChange change);

// Negates DTR and RTS together, reading and writing the modem-control
// outputs as a whole; fails on a device that has none.
bool ReleaseModemLines(LineHandle line);

void CloseLine(LineHandle line);

// The operating system's error code for the line call that failed last;
// read it straight after the failing call.
std::uint32_t LastLineError();

// Nanoseconds on a clock that never steps; its origin is arbitrary.
std::int64_t MonotonicNanoseconds();

// Nanoseconds on the computer's oscillator as it runs: never stepped and
// never slewed by a time daemon (Linux CLOCK_MONOTONIC_RAW; on Windows
// the performance counter, the same as MonotonicNanoseconds). It may run
// tens of ppm off, but steadily: the sound output measures the card's rate
// on it. Its origin is arbitrary.
std::int64_t RawMonotonicNanoseconds();

// Blocks until the monotonic clock reads at least `deadline` (or a little
// later: the caller finishes the wait itself).
void SleepUntilMonotonic(std::int64_t deadline);

// The UTC clock at full resolution.
struct UtcReading {
    std::int64_t seconds;      // since 1970-01-01 00:00 UTC
    std::int32_t nanoseconds;  // 0 .. 999999999
};
UtcReading ReadUtcClock();

// Asks the system for timer wake-ups as close to their deadlines as it
// offers; called once before timing starts.
void PrepareTimers();

// Gives back what PrepareTimers asked the system for, where that outlives
// the process on some systems; called where the program ends by itself.
void ReleaseTimers();

// Lets the pauses wake ahead of other processes where the system allows
// it; called once the start-up's busy wait is over.
void RaisePriority();

// What PrepareTimers and RaisePriority obtained, and the one thing a user
// without them can do about it.
struct RealTimeGrant {
    bool priority;      // the pauses wake ahead of ordinary processes
    bool lockedMemory;  // no page of the program waits to come back in
    const char* advice;
};
RealTimeGrant RealTimeGranted();

// Whether the system says its clock is synchronised to a time source.
enum ClockSync { CLOCK_SYNCHRONISED, CLOCK_UNSYNCHRONISED, CLOCK_SYNC_UNKNOWN };
ClockSync ClockSynchronisation();

// Whether the C library knows the computer's zone: TZ names a rule or zone
// data that exists, or the system's own zone is set.
bool LocalZoneKnown();

// The system's own text for a line call's error code.
const char* LineErrorText(std::uint32_t code);

// The one thing to do about error `code` in opening device `name`, as a
// clause to follow the system's text ("; add ... and log in again"); empty
// when there is nothing to say.
const char* LineErrorAdvice(std::uint32_t code, const char* name);

// Whether `stream` writes to a terminal, where a line may be redrawn.
bool IsTerminal(std::FILE* stream);

// Text is UTF-8 throughout: file and device names, the command line and
// what is printed. Makes the console show it so; called first in option runs.
void UseUtf8Console();

// Where a file the program writes whole (--wav) goes.
struct OutputPath {
    bool device;      // a device or a pipe (/dev/null, NUL, CON): written in place
    char file[4096];  // else the regular file to replace: the path, or the
                      // file a symbolic link names (existing or not)
};
void FindOutputPath(const char* path, OutputPath* out);

// Opens `path` for writing from its start, binary.
std::FILE* OpenOutputFile(const char* path);

// Renames `written` over `file`, giving it the permissions (and on POSIX
// the owner, where allowed) `file` had. Null, or the system's words for
// the failure.
const char* ReplaceOutputFile(const char* written, const char* file);

void RemoveOutputFile(const char* path);

// The name of the local zone at `utc` for a status line, at most 9
// columns, the zone then `offset` seconds east of UTC with summer time
// `summer` in force: the C library's (CET, EST) where it knows a short
// one, else the usual abbreviation or UTC+1 style.
void LocalZoneText(char* text, std::size_t size, std::int64_t utc, std::int32_t offset, bool summer);
