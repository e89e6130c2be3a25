// The sound card as the output: the carrier synthesized and keyed on the
// UTC clock on a sound device, or rendered into a WAV file at once.
#pragma once

#include <cstdint>

#include "app/transmit.h"

// Sends frames on sound device `device` at `rate` Hz (0: the device's
// best) for ever, always following the UTC clock. Returns the exit status
// when the device fails or goes away.
int TransmitAudio(const char* device, unsigned rate, const TransmitSettings& settings);

// Writes `path`: second 59 of the minute before UTC minute `first`, then
// `minutes` whole frames from it, at `rate` Hz. Returns the exit status.
int RenderWav(const char* path, unsigned rate, std::int64_t first, int minutes, const TransmitSettings& settings);

// Prints the sound devices; returns the exit status.
int ListSoundDevices();
