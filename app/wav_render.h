// The sound rendered into a WAV file at once, for --wav.
#pragma once

#include <cstdint>

#include "app/schedule.h"
#include "app/transmit.h"

// Writes `path`: second 59 of the minute before UTC minute `first`, then
// `minutes` whole frames keyed from it (under `settings.shift`), at `rate`
// Hz. Returns the exit status.
int RenderWav(const char* path, unsigned rate, std::int64_t first, int minutes, const TransmitSettings& settings);
