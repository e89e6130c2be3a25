// The sound card as the output: the carrier synthesized and keyed on the
// UTC clock on a sound device, or rendered into a WAV file at once.
#pragma once

#include <cstdint>

#include "app/schedule.h"

// Sends frames on sound device `device` at `rate` Hz (0: the device's
// best), always following the UTC clock, within the windows, for ever or
// `settings.minutes` whole frames; with `chosen` (the UTC minute whose
// frame carries --time; -1: none) the first whole frame is that one.
// Returns the exit status: 0 after the run limit, the sound drained.
int TransmitAudio(const char* device, unsigned rate, TransmitSettings settings, std::int64_t chosen);

// Writes `path`: second 59 of the minute before UTC minute `first`, then
// `minutes` whole frames keyed from it (under `settings.shift`), at `rate`
// Hz. Returns the exit status.
int RenderWav(const char* path, unsigned rate, std::int64_t first, int minutes, const TransmitSettings& settings);

// Prints the sound devices; returns the exit status.
int ListSoundDevices();
