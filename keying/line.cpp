#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "keying.h"

LineHandle hCom = -1;
std::int32_t Port = 2;
double Fudge = 100.0;
const char* Device = nullptr;
bool ExplainLineErrors = false;
// The device path PinOpen opened, for the failure lines.
static char lineName[4096];

// "dcf77tx: /dev/ttyUSB0: No such file or directory", in option runs.
static void Explain(std::uint32_t code) {
    if (ExplainLineErrors) std::fprintf(stderr, "dcf77tx: %s: %s\n", lineName, LineErrorText(code));
}

// Reports a failed line call as "File .. Line .. Function .. failed (code)"
// and ends the process; `code` is read by the caller straight after the call.
[[noreturn]] static void FailLine(const char* file, int line, const char* function,
                                  std::uint32_t code) {
    const char* bare = file;
    for (const char* p = file; *p; ++p)
        if (*p == '/' || *p == '\\') bare = p + 1;
    std::fprintf(stderr, "File %s Line %d Function %s failed (%.8x)\n", bare, line, function,
                 static_cast<unsigned>(code));
    Explain(code);
    ReleaseTimers();
    std::exit(1);
}

void PinOpen() {
    char* name = lineName;
    if (Device != nullptr) FormatDevicePath(name, sizeof lineName, Device);
    else FormatLineName(name, sizeof lineName, Port);
    if (!OpenLine(name, &hCom)) {
        const std::uint32_t code = LastLineError();
        std::fprintf(stderr, "CreateFile failed: %s (%.8x)\n", name, static_cast<unsigned>(code));
        Explain(code);
        std::exit(1);
    }
    if (!ReadLineSettings(hCom)) FailLine(__FILE__, __LINE__, "GetCommState", LastLineError());
    if (!WriteKeyingSettings(hCom)) FailLine(__FILE__, __LINE__, "SetCommState", LastLineError());
}

void PinClose() { CloseLine(hCom); }

void PinPlus12() {
    if (!ChangeLine(hCom, RAISE_DTR)) FailLine(__FILE__, __LINE__, "EscapeCommFunction", LastLineError());
    if (!ChangeLine(hCom, RAISE_RTS)) FailLine(__FILE__, __LINE__, "EscapeCommFunction", LastLineError());
}

void PinMinus12() {
    if (!ChangeLine(hCom, LOWER_DTR)) FailLine(__FILE__, __LINE__, "EscapeCommFunction", LastLineError());
    if (!ChangeLine(hCom, LOWER_RTS)) FailLine(__FILE__, __LINE__, "EscapeCommFunction", LastLineError());
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
