// The sound output where the build has no sound library: every device is
// refused, and nothing is ever played.
#include <cstdio>

#include "audio.h"

bool AudioAvailable() {
    return false;
}

bool AudioNameAmbiguous() {
    return false;
}

int ListAudioDevices(std::FILE* out) {
    std::fprintf(out, "no sound output in this build\n");
    return 0;
}

bool OpenAudio(const char* device, unsigned, unsigned*, char* problem, std::size_t size) {
    std::snprintf(problem, size, "%s: this build has no sound output", device);
    return false;
}

OpenedAudio DescribeOpenedAudio() {
    return {"", "", ""};
}

AudioOutcome WriteAudio(const std::int16_t*, std::size_t) {
    return AUDIO_GONE;
}

AudioOutcome ReportAudio(AudioReport*) {
    return AUDIO_GONE;
}

void DrainAudio() {}

const char* AudioProblem() {
    return "this build has no sound output";
}
