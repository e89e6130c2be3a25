// A build without a sound library: no device plays.
#include <cstdio>

#include "platform/audio.h"

bool AudioAvailable() { return false; }

int ListAudioDevices(std::FILE*) { return 0; }

bool OpenAudio(const char* device, unsigned, unsigned*, char* problem, std::size_t size) {
    std::snprintf(problem, size, "%s: this build of the program has no sound output", device);
    return false;
}

AudioOutcome WriteAudio(const std::int16_t*, std::size_t) { return AUDIO_GONE; }

AudioOutcome ReportAudio(AudioReport*) { return AUDIO_GONE; }

void DrainAudio() {}

const char* AudioProblem() { return "no sound output in this build"; }
