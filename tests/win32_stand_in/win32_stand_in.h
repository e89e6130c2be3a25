// What the recording Win32 stand-ins saw, and how they answer.
#pragma once

#include <string>
#include <vector>

#include "windows.h"

namespace win32 {
extern std::vector<std::string> calls;  // one line per call, in order
extern DCB current;                     // what GetCommState reports
extern DCB lastWritten;                 // what SetCommState was given
extern bool dcbArrivedCleared;          // GetCommState got a cleared DCB with its length set
extern std::string failing;             // name of the function that fails; empty: none
extern DWORD failingError;
extern bool highResolutionTimers;       // whether the system offers them
extern bool ordinaryTimers;             // whether it can make any waitable timer
extern long long counter, frequency;    // the performance counter
extern FILETIME systemTime;
void Reset();
}  // namespace win32
