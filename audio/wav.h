// The header of a 16-bit mono PCM WAV file, for --wav.
#pragma once

#include <cstdint>
#include <cstdio>

// The largest sample count a WAV file's 32-bit sizes can describe.
constexpr std::uint64_t kMaxWavSamples = (0xffffffffull - 36) / 2;

// Writes the 44-byte RIFF header of `samples` samples at `rate`; the
// samples follow as 16-bit little-endian. False when the write fails.
bool WriteWavHeader(std::FILE* out, unsigned rate, std::uint64_t samples);
