// The few Win32 declarations the Windows platform layer uses, so that it
// builds here against recording stand-ins (win32_stand_in.cpp) and its
// calls can be checked without Windows.
#pragma once

#include <cstdint>
#include <cstring>

typedef void* HANDLE;
typedef std::uint32_t DWORD;
typedef int BOOL;
typedef unsigned char BYTE;
typedef std::uint16_t WORD;

#define TRUE 1
#define FALSE 0
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1)))
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define OPEN_EXISTING 3
#define CBR_9600 9600
#define NOPARITY 0
#define ONESTOPBIT 0
#define DTR_CONTROL_ENABLE 1
#define CLRDTR 6
#define CLRRTS 4
#define RTS_CONTROL_ENABLE 1
#define TIMER_ALL_ACCESS 0x1F0003
#define INFINITE 0xFFFFFFFFu
#define ZeroMemory(p, n) std::memset((p), 0, (n))

struct DCB {
    DWORD DCBlength;
    DWORD BaudRate;
    DWORD fBinary : 1;
    DWORD fParity : 1;
    DWORD fOutxCtsFlow : 1;
    DWORD fOutxDsrFlow : 1;
    DWORD fDtrControl : 2;
    DWORD fDsrSensitivity : 1;
    DWORD fTXContinueOnXoff : 1;
    DWORD fOutX : 1;
    DWORD fInX : 1;
    DWORD fErrorChar : 1;
    DWORD fNull : 1;
    DWORD fRtsControl : 2;
    DWORD fAbortOnError : 1;
    DWORD fDummy2 : 17;
    WORD wReserved;
    WORD XonLim;
    WORD XoffLim;
    BYTE ByteSize;
    BYTE Parity;
    BYTE StopBits;
    char XonChar;
    char XoffChar;
    char ErrorChar;
    char EofChar;
    char EvtChar;
    WORD wReserved1;
};

struct LARGE_INTEGER {
    long long QuadPart;
};

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

HANDLE CreateFileA(const char* name, DWORD access, DWORD share, void* security, DWORD disposition, DWORD flags,
                   HANDLE templateFile);
BOOL GetCommState(HANDLE file, DCB* dcb);
BOOL SetCommState(HANDLE file, DCB* dcb);
BOOL EscapeCommFunction(HANDLE file, DWORD function);
BOOL CloseHandle(HANDLE object);
DWORD GetLastError();
BOOL QueryPerformanceCounter(LARGE_INTEGER* count);
BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency);
HANDLE CreateWaitableTimerExW(void* security, const wchar_t* name, DWORD flags, DWORD access);
BOOL SetWaitableTimer(HANDLE timer, const LARGE_INTEGER* due, long period, void* completion, void* argument,
                      BOOL resume);
DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds);
void Sleep(DWORD milliseconds);
void GetSystemTimePreciseAsFileTime(FILETIME* time);
unsigned timeBeginPeriod(unsigned period);
unsigned timeEndPeriod(unsigned period);
#define TIMERR_NOERROR 0
HANDLE GetCurrentThread();
BOOL SetThreadPriority(HANDLE thread, int priority);
#define THREAD_PRIORITY_HIGHEST 2
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000u
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200u
DWORD FormatMessageA(DWORD flags, const void* source, DWORD id, DWORD language, char* buffer, DWORD size,
                     void* arguments);
