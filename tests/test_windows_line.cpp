// The Windows platform layer, built here against recording stand-ins of
// the Win32 functions: what it calls, in which order, with what.
#include <gtest/gtest.h>

#include <cstdlib>

#include "keying/keying.h"
#include "stderr_matcher.h"
#include "win32_stand_in.h"
#include "windows_zone.h"

// A port whose current settings differ from ours everywhere.
static DCB Unusual() {
    DCB d;
    std::memset(&d, 0, sizeof d);
    d.DCBlength = sizeof d;
    d.BaudRate = 115200;
    d.fBinary = 0;
    d.fParity = 1;
    d.fOutxCtsFlow = 1;
    d.fOutxDsrFlow = 1;
    d.fDtrControl = 2;  // handshake
    d.fDsrSensitivity = 1;
    d.fTXContinueOnXoff = 1;
    d.fOutX = 1;
    d.fInX = 1;
    d.fErrorChar = 1;
    d.fNull = 1;
    d.fRtsControl = 3;  // toggle
    d.fAbortOnError = 1;
    d.XonLim = 2048;
    d.XoffLim = 512;
    d.ByteSize = 7;
    d.Parity = 2;
    d.StopBits = 2;
    d.XonChar = 17;
    d.XoffChar = 19;
    d.ErrorChar = '?';
    d.EofChar = 26;
    d.EvtChar = 7;
    return d;
}

TEST(WindowsLine, OpensAndConfiguresThePortAsDocumented) {
    win32::Reset();
    win32::current = Unusual();
    Port = 3;
    PinOpen();
    ASSERT_EQ(win32::calls.size(), 3u);
    EXPECT_EQ(win32::calls[0],
              "CreateFileA \\\\.\\COM3 access c0000000 share 0 security null disposition 3 flags 0 template null");
    EXPECT_EQ(win32::calls[1], "GetCommState");
    EXPECT_TRUE(win32::dcbArrivedCleared);
    EXPECT_EQ(win32::calls[2], "SetCommState");

    const DCB& w = win32::lastWritten;
    const DCB before = Unusual();
    // Ours:
    EXPECT_EQ(w.BaudRate, 9600u);
    EXPECT_EQ(w.ByteSize, 8);
    EXPECT_EQ(w.Parity, 0);
    EXPECT_EQ(w.StopBits, 0);
    EXPECT_EQ(w.fBinary, 1u);
    EXPECT_EQ(w.fOutxCtsFlow, 0u);
    EXPECT_EQ(w.fOutxDsrFlow, 0u);
    EXPECT_EQ(w.fDsrSensitivity, 0u);
    EXPECT_EQ(w.fOutX, 0u);
    EXPECT_EQ(w.fInX, 0u);
    EXPECT_EQ(w.fNull, 0u);
    EXPECT_EQ(w.fDtrControl, 1u);
    EXPECT_EQ(w.fRtsControl, 1u);
    EXPECT_EQ(w.fAbortOnError, 0u);  // a receive error must not stop the keying
    // Everything else as read:
    EXPECT_EQ(w.DCBlength, before.DCBlength);
    EXPECT_EQ(w.fParity, before.fParity);
    EXPECT_EQ(w.fTXContinueOnXoff, before.fTXContinueOnXoff);
    EXPECT_EQ(w.fErrorChar, before.fErrorChar);
    EXPECT_EQ(w.XonLim, before.XonLim);
    EXPECT_EQ(w.XoffLim, before.XoffLim);
    EXPECT_EQ(w.XonChar, before.XonChar);
    EXPECT_EQ(w.XoffChar, before.XoffChar);
    EXPECT_EQ(w.ErrorChar, before.ErrorChar);
    EXPECT_EQ(w.EofChar, before.EofChar);
    EXPECT_EQ(w.EvtChar, before.EvtChar);

    // DTR before RTS, each its own call: SETDTR 5, SETRTS 3, CLRDTR 6, CLRRTS 4.
    win32::calls.clear();
    PinPlus12();
    PinMinus12();
    const std::vector<std::string> keyed = {"EscapeCommFunction 5", "EscapeCommFunction 3", "EscapeCommFunction 6",
                                            "EscapeCommFunction 4"};
    EXPECT_EQ(win32::calls, keyed);
}

TEST(WindowsLineDeathTest, FailuresCarryGetLastError) {
    win32::Reset();
    Port = 12;
    win32::failing = "CreateFileA";
    win32::failingError = 5;  // access denied: the port is in use
    EXPECT_EXIT(PinOpen(), ::testing::ExitedWithCode(1), StderrIs("CreateFile failed: \\\\.\\COM12 (00000005)\n"));
    win32::failing = "GetCommState";
    win32::failingError = 0x1f;
    EXPECT_EXIT(PinOpen(), ::testing::ExitedWithCode(1),
                FailureLineIs("GetCommState", "0000001f"));
    win32::failing = "SetCommState";
    win32::failingError = 0x57;
    EXPECT_EXIT(PinOpen(), ::testing::ExitedWithCode(1),
                FailureLineIs("SetCommState", "00000057"));
    win32::failing = "EscapeCommFunction";
    win32::failingError = 0x16;
    EXPECT_EXIT(PinPlus12(), ::testing::ExitedWithCode(1),
                FailureLineIs("EscapeCommFunction", "00000016"));
}

TEST(WindowsLineDeathTest, OptionRunsReleaseTheLinesAtTheOpen) {
    win32::Reset();
    Port = 3;
    ExplainLineErrors = ReleaseLinesAtOpen = true;
    PinOpen();
    // SetCommState raises both lines; CLRDTR 6 and CLRRTS 4 let go of them.
    const std::vector<std::string> opened = {
        "CreateFileA \\\\.\\COM3 access c0000000 share 0 security null disposition 3 flags 0 template null",
        "GetCommState", "SetCommState", "EscapeCommFunction 6", "EscapeCommFunction 4"};
    EXPECT_EQ(win32::calls, opened);
    // A failure says what failed in the system's words, without the
    // function's name or a code.
    win32::failing = "EscapeCommFunction";
    win32::failingError = 2;
    EXPECT_EXIT(PinOpen(), ::testing::ExitedWithCode(1),
                StderrIs("dcf77tx: \\\\.\\COM3: not a serial port with DTR and RTS: The system cannot find the file "
                         "specified\n"));
    win32::failing = "CreateFileA";
    EXPECT_EXIT(PinOpen(), ::testing::ExitedWithCode(1),
                StderrIs("dcf77tx: \\\\.\\COM3: The system cannot find the file specified\n"));
    // A device is named as it was given, not as the path opened.
    Device = "COM99";
    EXPECT_EXIT(PinOpen(), ::testing::ExitedWithCode(1),
                StderrIs("dcf77tx: COM99: The system cannot find the file specified\n"));
    Device = nullptr;
    ExplainLineErrors = ReleaseLinesAtOpen = false;
}

TEST(WindowsClock, CountersAndSystemTimeConvert) {
    win32::Reset();
    win32::frequency = 10'000'000;
    win32::counter = 123'456'789'012'345LL;  // about five months of uptime at 10 MHz
    EXPECT_EQ(MonotonicNanoseconds(), 12'345'678'901'234'500LL);

    // 2009-12-31 23:58:30.25 UTC in 100 ns units since 1601.
    const unsigned long long ticks = (1262303910ULL + 11644473600ULL) * 10'000'000ULL + 2'500'000ULL;
    win32::systemTime = {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    const UtcReading r = ReadUtcClock();
    EXPECT_EQ(r.seconds, 1262303910);
    EXPECT_EQ(r.nanoseconds, 250'000'000);
}

// Each case runs in a process of its own: the layer creates its timer once.
static void SleepsOnAHighResolutionTimer() {
    win32::Reset();
    PrepareTimers();
    win32::counter = 0;
    SleepUntilMonotonic(2'500'000);  // 2.5 ms ahead
    const std::vector<std::string> expected = {"CreateWaitableTimerExW flags 2", "SetWaitableTimer -25000 period 0",
                                               "WaitForSingleObject timer"};
    std::exit(win32::calls == expected ? 0 : 1);
}

static void FallsBackToAFinerTick() {
    win32::Reset();
    win32::highResolutionTimers = false;
    PrepareTimers();
    SleepUntilMonotonic(-5);  // already past: no wait at all
    ReleaseTimers();
    const std::vector<std::string> expected = {"CreateWaitableTimerExW flags 2", "timeBeginPeriod 1",
                                               "CreateWaitableTimerExW flags 0", "timeEndPeriod 1"};
    std::exit(win32::calls == expected ? 0 : 1);
}

// Without any timer every pause sleeps, and the finer tick is still asked
// for once and given back once.
static void SleepsWithoutATimer() {
    win32::Reset();
    win32::ordinaryTimers = false;
    PrepareTimers();
    win32::counter = 0;
    SleepUntilMonotonic(2'500'000);
    SleepUntilMonotonic(2'500'000);
    ReleaseTimers();
    ReleaseTimers();
    const std::vector<std::string> expected = {"CreateWaitableTimerExW flags 2", "timeBeginPeriod 1",
                                               "CreateWaitableTimerExW flags 0", "Sleep 2", "Sleep 2",
                                               "timeEndPeriod 1"};
    std::exit(win32::calls == expected ? 0 : 1);
}

TEST(WindowsClock, RaisesThePausingThread) {
    win32::Reset();
    RaisePriority();
    EXPECT_EQ(win32::calls, std::vector<std::string>{"SetThreadPriority 2"});
}

TEST(WindowsClockDeathTest, PausesWaitOnAHighResolutionTimerOrAFinerTick) {
    EXPECT_EXIT(SleepsOnAHighResolutionTimer(), ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(FallsBackToAFinerTick(), ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(SleepsWithoutATimer(), ::testing::ExitedWithCode(0), "");
}

TEST(WindowsLine, NamesDevicesGivenByPath) {
    // COM10 and up open only in the device namespace; a full path stays.
    const char* const cases[][2] = {
        {"COM12", "\\\\.\\COM12"},
        {"com3", "\\\\.\\com3"},
        {"\\\\.\\COM12", "\\\\.\\COM12"},
        {"\\\\?\\usb#vid_0403", "\\\\?\\usb#vid_0403"},
    };
    for (const auto& c : cases) {
        char name[64];
        FormatDevicePath(name, sizeof name, c[0]);
        EXPECT_STREQ(name, c[1]) << c[0];
    }
}

TEST(WindowsZone, AbbreviationsWhereKnownElseTheOffset) {
    struct {
        const char* keyName;
        int offset;
        bool summer;
        const char* text;
    } const cases[] = {
        {"W. Europe Standard Time", 3600, false, "CET"},
        {"Central Europe Standard Time", 7200, true, "CEST"},
        {"GMT Standard Time", 3600, true, "BST"},
        {"Eastern Standard Time", -4 * 3600, true, "EDT"},
        // An offset the name does not stand for, and zones not in the list.
        {"W. Europe Standard Time", 7200, false, "UTC+2"},
        {"Greenwich Standard Time", 3600, true, "UTC+1"},
        {"Venezuela Standard Time", -4 * 3600, false, "UTC-4"},
        {"Newfoundland Standard Time", -3 * 3600 - 1800, false, "NST"},
        {"Chatham Islands Standard Time", 13 * 3600 + 2700, true, "UTC+13:45"},
        {"", -1800, false, "UTC-0:30"},
    };
    for (const auto& c : cases) {
        char text[16];
        WindowsZoneText(text, sizeof text, c.keyName, c.offset, c.summer);
        EXPECT_STREQ(text, c.text) << c.keyName << " " << c.offset;
    }
}
