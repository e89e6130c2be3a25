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

// Prints the sound devices; returns the exit status: 0 when one of them
// can play, else 1 with a line on what to do instead.
int ListSoundDevices();
