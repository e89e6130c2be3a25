// The platform on Windows: port n is the COM device \\.\COMn, driven with
// the Win32 communications functions; pauses wait on a high-resolution
// waitable timer against the performance counter.
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform.h"

// Settings read by ReadLineSettings, changed and written back by
// WriteKeyingSettings.
static DCB lineSettings;
// GetLastError of the line call that failed last.
static DWORD lastLineError = 0;
// The timer pauses wait on; a high-resolution one where the system has it.
static HANDLE pauseTimer = nullptr;
// Whether PrepareTimers has run, and whether it asked for the 1 ms tick.
static bool timersPrepared = false;
static bool finerTick = false;

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

static bool Failed() {
    lastLineError = GetLastError();
    return false;
}

void FormatLineName(char* name, std::size_t size, std::int32_t port) {
    std::snprintf(name, size, "\\\\.\\COM%d", static_cast<int>(port));
}

void FormatDevicePath(char* name, std::size_t size, const char* device) {
    // COM1 to COM9 open by their bare names too, but COM10 and up only in
    // the device namespace; a full path is taken as it is.
    const bool bareCom = (device[0] == 'C' || device[0] == 'c') && (device[1] == 'O' || device[1] == 'o') &&
                         (device[2] == 'M' || device[2] == 'm');
    std::snprintf(name, size, bareCom ? "\\\\.\\%s" : "%s", device);
}

bool OpenLine(const char* name, LineHandle* line) {
    const HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return Failed();
    *line = reinterpret_cast<LineHandle>(h);
    return true;
}

bool ReadLineSettings(LineHandle line) {
    ZeroMemory(&lineSettings, sizeof lineSettings);
    lineSettings.DCBlength = sizeof lineSettings;
    return GetCommState(reinterpret_cast<HANDLE>(line), &lineSettings) || Failed();
}

bool WriteKeyingSettings(LineHandle line) {
    DCB& d = lineSettings;
    d.BaudRate = CBR_9600;
    d.ByteSize = 8;
    d.Parity = NOPARITY;
    d.StopBits = ONESTOPBIT;
    d.fBinary = TRUE;
    d.fOutxCtsFlow = FALSE;
    d.fOutxDsrFlow = FALSE;
    d.fDsrSensitivity = FALSE;
    d.fOutX = FALSE;
    d.fInX = FALSE;
    d.fNull = FALSE;
    // We never read the port, and its receive input is often left open: a
    // break or framing error there must not stop the driver from taking
    // our DTR and RTS changes until someone clears the error.
    d.fAbortOnError = FALSE;
    // Enabled: raised when the settings take effect, then moved only by us.
    d.fDtrControl = DTR_CONTROL_ENABLE;
    d.fRtsControl = RTS_CONTROL_ENABLE;
    return SetCommState(reinterpret_cast<HANDLE>(line), &d) || Failed();
}

bool ChangeLine(LineHandle line, LineChange change) {
    // The change codes are EscapeCommFunction's own: SETDTR, CLRRTS, ...
    return EscapeCommFunction(reinterpret_cast<HANDLE>(line), static_cast<DWORD>(change)) || Failed();
}

bool ReleaseModemLines(LineHandle line) {
    const HANDLE h = reinterpret_cast<HANDLE>(line);
    return (EscapeCommFunction(h, CLRDTR) && EscapeCommFunction(h, CLRRTS)) || Failed();
}

void CloseLine(LineHandle line) { CloseHandle(reinterpret_cast<HANDLE>(line)); }

std::uint32_t LastLineError() { return lastLineError; }

std::int64_t MonotonicNanoseconds() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    // Split so that the product cannot overflow for any uptime.
    const std::int64_t whole = counter.QuadPart / frequency.QuadPart;
    const std::int64_t part = counter.QuadPart % frequency.QuadPart;
    return whole * 1'000'000'000 + part * 1'000'000'000 / frequency.QuadPart;
}

// The performance counter is never slewed by the time service.
std::int64_t RawMonotonicNanoseconds() { return MonotonicNanoseconds(); }

void SleepUntilMonotonic(std::int64_t deadline) {
    const std::int64_t remaining = deadline - MonotonicNanoseconds();
    if (remaining <= 0) return;
    PrepareTimers();
    LARGE_INTEGER due;
    due.QuadPart = -(remaining / 100);  // relative, in 100 ns units
    if (pauseTimer != nullptr && due.QuadPart < 0 && SetWaitableTimer(pauseTimer, &due, 0, nullptr, nullptr, FALSE)) {
        WaitForSingleObject(pauseTimer, INFINITE);
        return;
    }
    Sleep(static_cast<DWORD>(remaining / 1'000'000));
}

UtcReading ReadUtcClock() {
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    // 100 ns units since 1601; 1970 began 11644473600 s later.
    const std::int64_t ticks = (static_cast<std::int64_t>(now.dwHighDateTime) << 32 | now.dwLowDateTime) -
                               116444736000000000LL;
    return {ticks / 10'000'000, static_cast<std::int32_t>(ticks % 10'000'000 * 100)};
}

void PrepareTimers() {
    // Once only, also when no timer could be made: each tick request would
    // otherwise need a release of its own.
    if (timersPrepared) return;
    timersPrepared = true;
    pauseTimer = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, TIMER_ALL_ACCESS);
    if (pauseTimer != nullptr) return;
    // Older systems: an ordinary timer (or Sleep), with the scheduler tick
    // at 1 ms instead of 15.6 ms.
    finerTick = timeBeginPeriod(1) == TIMERR_NOERROR;
    pauseTimer = CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
}

void ReleaseTimers() {
    if (finerTick) timeEndPeriod(1);
    finerTick = false;
}

// Whether RaisePriority was granted its priority.
static bool priorityRaised = false;

void RaisePriority() {
    // Ahead of ordinary threads; a pause watches the clock for 3 ms at most.
    priorityRaised = SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST) != 0;
}

// Windows keeps a running program's pages in memory without asking.
RealTimeGrant RealTimeGranted() { return {priorityRaised, true, "run it from an administrator's console"}; }

// Windows keeps no status of its clock's synchronisation that a program
// may read without the time service's own tools.
ClockSync ClockSynchronisation() { return CLOCK_SYNC_UNKNOWN; }

bool LocalZoneKnown() {
    // The C runtime takes the system's zone without TZ, and knows only
    // rules with an offset (CET-1CEST) in it, no zone names.
    const char* tz = std::getenv("TZ");
    return tz == nullptr || std::strpbrk(tz, "0123456789") != nullptr;
}

const char* LineErrorText(std::uint32_t code) {
    static char text[256];
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                                   sizeof text, nullptr);
    if (n == 0) std::snprintf(text, sizeof text, "error %lu", static_cast<unsigned long>(code));
    // Without the line end and the full stop the system adds.
    for (DWORD i = n; i > 0 && (text[i - 1] == '\r' || text[i - 1] == '\n' || text[i - 1] == '.'); --i) text[i - 1] = '\0';
    return text;
}

// Access to a COM port is denied while another program holds it, which the
// system's text says plainly enough.
const char* LineErrorAdvice(std::uint32_t, const char*) { return ""; }

bool IsTerminal(std::FILE* stream) { return _isatty(_fileno(stream)) != 0; }
