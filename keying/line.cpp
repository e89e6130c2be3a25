#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "keying.h"

LineHandle hCom = -1;
std::int32_t Port = 2;
double Fudge = 100.0;
const char* Device = nullptr;
bool ExplainLineErrors = false;
bool ReleaseLinesAtOpen = false;
// The device path PinOpen opened, for the failure lines.
static char lineName[4096];

constexpr const char* kNoModemLines = "not a serial port with DTR and RTS: ";  // option runs' words
constexpr const char* kMoving = "cannot move DTR and RTS: ";
[[noreturn]] static void Refuse(const char* what, std::uint32_t code);

// Reports a failed line call as "File .. Line .. Function .. failed (code)", or in option runs
// Refuse's line, and ends the process; `code` is read by the caller straight after the call.
[[noreturn]] static void FailLine(const char* file, int line, const char* function, const char* what,
                                  std::uint32_t code) {
    if (ExplainLineErrors) Refuse(what, code);
    const char* bare = file;
    for (const char* p = file; *p; ++p)
        if (*p == '/' || *p == '\\') bare = p + 1;
    std::fprintf(stderr, "File %s Line %d Function %s failed (%.8x)\n", bare, line, function,
                 static_cast<unsigned>(code));
    ReleaseTimers();
    std::exit(1);
}

void PinOpen() {
    char* name = lineName;
    if (Device != nullptr) FormatDevicePath(name, sizeof lineName, Device);
    else FormatLineName(name, sizeof lineName, Port);
    if (!OpenLine(name, &hCom)) {
        const std::uint32_t code = LastLineError();
        if (ExplainLineErrors) Refuse("", code);
        std::fprintf(stderr, "CreateFile failed: %s (%.8x)\n", name, static_cast<unsigned>(code));
        std::exit(1);
    }
    if (!ReadLineSettings(hCom)) FailLine(__FILE__, __LINE__, "GetCommState", kNoModemLines, LastLineError());
    if (!WriteKeyingSettings(hCom)) FailLine(__FILE__, __LINE__, "SetCommState", "cannot set 9600 8N1: ", LastLineError());
    // Left asserted as the open leaves them, the lines would spoil the first frame.
    if (ReleaseLinesAtOpen && !ReleaseModemLines(hCom)) Refuse(kNoModemLines, LastLineError());
}

void PinPlus12() {
    if (!ChangeLine(hCom, RAISE_DTR)) FailLine(__FILE__, __LINE__, "EscapeCommFunction", kMoving, LastLineError());
    if (!ChangeLine(hCom, RAISE_RTS)) FailLine(__FILE__, __LINE__, "EscapeCommFunction", kMoving, LastLineError());
}

void PinMinus12() {
    if (!ChangeLine(hCom, LOWER_DTR)) FailLine(__FILE__, __LINE__, "EscapeCommFunction", kMoving, LastLineError());
    if (!ChangeLine(hCom, LOWER_RTS)) FailLine(__FILE__, __LINE__, "EscapeCommFunction", kMoving, LastLineError());
}

void PinClose() { CloseLine(hCom); }

// In option runs, the one failure line: "dcf77tx: /dev/ttyS0: not a serial
// port with DTR and RTS: Inappropriate ioctl for device", with the one thing
// to do where there is one; a device by the name it was given (COM12, not
// the \\.\COM12 opened).
[[noreturn]] static void Refuse(const char* what, std::uint32_t code) {
    std::fprintf(stderr, "dcf77tx: %s: %s%s%s\n", Device != nullptr ? Device : lineName, what, LineErrorText(code),
                 LineErrorAdvice(code, lineName));
    ReleaseTimers();
    std::exit(1);
}

void PowerLow(std::int32_t ms) {
    if (ms == 0) return;
    PinPlus12();
    PauseMs(ms);
}

void PowerHigh(std::int32_t ms) {
    if (ms == 0) return;
    PinMinus12();
    PauseMs(ms);
}

void OneMinute(const DcfTime& record) {
    std::uint8_t frame[kFrameLength];
    DCF77(frame, record);
    // Every second but the last starts with the carrier reduced; the length
    // of the reduction is the bit.
    for (int second = 0; second < kFrameLength; ++second) {
        if (frame[second] == kShortPulse) {
            PowerLow(ms100);
            PowerHigh(ms900);
        } else if (frame[second] == kLongPulse) {
            PowerLow(ms200);
            PowerHigh(ms800);
        }
    }
    // Second 59 has no reduction: the next frame's first pulse then marks
    // the minute boundary.
    PowerHigh(ms1000);
}
