// The sound rendered into a WAV file at once, for --wav.
#pragma once

#include <cstdint>

#include "app/schedule.h"

// Writes `path` at `rate` Hz: second 59 of the minute before the first
// frame, then `frames` whole frames keyed from the UTC clock's minutes
// with silence outside the windows, or with `settings.carrier` that many
// minutes of steady carrier. With `chosen` (the minute whose frame carries
// --time; -1: none) the first frame carries --time. The first frame is the
// first minute sent whose second 59 before begins after the render, started
// now, will have ended. Returns the exit status.
int RenderWav(const char* path, unsigned rate, int frames, TransmitSettings settings, std::int64_t chosen);
