// The C runtime's terminal query the Windows platform layer uses, answered
// here by the POSIX calls it mirrors.
#pragma once

#include <cstdio>

int _fileno(std::FILE* stream);
int _isatty(int descriptor);
