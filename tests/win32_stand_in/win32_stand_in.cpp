#include "win32_stand_in.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "io.h"

namespace win32 {
std::vector<std::string> calls;
DCB current;
DCB lastWritten;
bool dcbArrivedCleared;
std::string failing;
DWORD failingError;
bool highResolutionTimers;
bool ordinaryTimers;
long long counter, frequency;
FILETIME systemTime;

void Reset() {
    calls.clear();
    std::memset(&current, 0, sizeof current);
    std::memset(&lastWritten, 0, sizeof lastWritten);
    dcbArrivedCleared = false;
    failing.clear();
    failingError = 0;
    highResolutionTimers = true;
    ordinaryTimers = true;
    counter = 0;
    frequency = 10'000'000;
    systemTime = {0, 0};
}
}  // namespace win32

static DWORD lastError = 0;
static HANDLE const kPort = reinterpret_cast<HANDLE>(0x40);
static HANDLE const kTimer = reinterpret_cast<HANDLE>(0x80);

// Records the call; false when it is the one set to fail.
static bool Call(const std::string& text, const char* function) {
    win32::calls.push_back(text);
    if (win32::failing != function) return true;
    lastError = win32::failingError;
    return false;
}

static std::string Hex(unsigned long long v) {
    char text[32];
    std::snprintf(text, sizeof text, "%llx", v);
    return text;
}

HANDLE CreateFileA(const char* name, DWORD access, DWORD share, void* security, DWORD disposition, DWORD flags,
                   HANDLE templateFile) {
    const bool ok = Call(std::string("CreateFileA ") + name + " access " + Hex(access) + " share " + Hex(share) +
                             " security " + (security ? "set" : "null") + " disposition " + Hex(disposition) +
                             " flags " + Hex(flags) + " template " + (templateFile ? "set" : "null"),
                         "CreateFileA");
    return ok ? kPort : INVALID_HANDLE_VALUE;
}

BOOL GetCommState(HANDLE file, DCB* dcb) {
    DCB cleared;
    std::memset(&cleared, 0, sizeof cleared);
    cleared.DCBlength = sizeof cleared;
    win32::dcbArrivedCleared = std::memcmp(dcb, &cleared, sizeof cleared) == 0;
    if (!Call(file == kPort ? "GetCommState" : "GetCommState on a wrong handle", "GetCommState")) return FALSE;
    *dcb = win32::current;
    return TRUE;
}

BOOL SetCommState(HANDLE file, DCB* dcb) {
    win32::lastWritten = *dcb;
    return Call(file == kPort ? "SetCommState" : "SetCommState on a wrong handle", "SetCommState");
}

BOOL EscapeCommFunction(HANDLE file, DWORD function) {
    return Call(std::string(file == kPort ? "" : "wrong handle ") + "EscapeCommFunction " + std::to_string(function),
                "EscapeCommFunction");
}

BOOL CloseHandle(HANDLE object) { return Call(object == kPort ? "CloseHandle" : "CloseHandle other", "CloseHandle"); }

DWORD GetLastError() { return lastError; }

BOOL QueryPerformanceCounter(LARGE_INTEGER* count) {
    count->QuadPart = win32::counter;
    return TRUE;
}

BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency) {
    frequency->QuadPart = win32::frequency;
    return TRUE;
}

HANDLE CreateWaitableTimerExW(void*, const wchar_t*, DWORD flags, DWORD) {
    win32::calls.push_back("CreateWaitableTimerExW flags " + Hex(flags));
    if (!win32::ordinaryTimers) return nullptr;
    return (flags & 2) != 0 && !win32::highResolutionTimers ? nullptr : kTimer;
}

BOOL SetWaitableTimer(HANDLE timer, const LARGE_INTEGER* due, long period, void*, void*, BOOL) {
    win32::calls.push_back("SetWaitableTimer " + std::to_string(due->QuadPart) + " period " + std::to_string(period) +
                           (timer == kTimer ? "" : " wrong timer"));
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE object, DWORD) {
    win32::calls.push_back(object == kTimer ? "WaitForSingleObject timer" : "WaitForSingleObject other");
    return 0;
}

void Sleep(DWORD milliseconds) { win32::calls.push_back("Sleep " + std::to_string(milliseconds)); }

void GetSystemTimePreciseAsFileTime(FILETIME* time) { *time = win32::systemTime; }

unsigned timeBeginPeriod(unsigned period) {
    win32::calls.push_back("timeBeginPeriod " + std::to_string(period));
    return 0;
}

unsigned timeEndPeriod(unsigned period) {
    win32::calls.push_back("timeEndPeriod " + std::to_string(period));
    return 0;
}

HANDLE GetCurrentThread() { return reinterpret_cast<HANDLE>(-2); }

// The system's text for error 2, as Windows words it.
DWORD FormatMessageA(DWORD, const void*, DWORD id, DWORD, char* buffer, DWORD size, void*) {
    const std::string text = id == 2 ? "The system cannot find the file specified.\r\n" : "";
    if (text.empty() || text.size() >= size) return 0;
    std::strcpy(buffer, text.c_str());
    return static_cast<DWORD>(text.size());
}

BOOL SetThreadPriority(HANDLE, int priority) {
    win32::calls.push_back("SetThreadPriority " + std::to_string(priority));
    return TRUE;
}

int _fileno(std::FILE* stream) { return fileno(stream); }

int _isatty(int descriptor) { return isatty(descriptor); }
