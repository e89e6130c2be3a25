// Runs in the emulated PC: plays a steady tone through the program's own
// ALSA output (platform/alsa_audio.cpp) and prints what ReportAudio says,
// so that the host can compare it with when the frames really arrived:
//
//   sound_probe DEVICE RATE SECONDS
//
//   OPENED <rate>
//   REPORT <written> <delay> <monotonic ns>   about ten a second
//   OUTCOME <name>                            anything but AUDIO_PLAYING
//
// The tone's sample k is ToneSample(k, rate), as the host recomputes it.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/audio.h"
#include "tests/qemu/sound_tone.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: sound_probe DEVICE RATE SECONDS\n");
        return 2;
    }
    unsigned rate = 0;
    char problem[300];
    if (!OpenAudio(argv[1], static_cast<unsigned>(std::atoi(argv[2])), &rate, problem, sizeof problem)) {
        std::printf("OPEN-FAILED %s\n", problem);
        return 1;
    }
    std::printf("OPENED %u\n", rate);
    std::fflush(stdout);
    const long long total = static_cast<long long>(rate) * std::atoll(argv[3]);
    std::vector<std::int16_t> chunk(rate / 100);
    long long made = 0;
    for (int round = 0; made < total; ++round) {
        for (std::int16_t& sample : chunk) sample = ToneSample(made++, rate);
        AudioOutcome outcome = WriteAudio(chunk.data(), chunk.size());
        AudioReport report{};
        if (outcome == AUDIO_PLAYING) outcome = ReportAudio(&report);
        if (outcome != AUDIO_PLAYING) {
            std::printf("OUTCOME %s %s\n", outcome == AUDIO_GONE ? "gone" : "restarted", AudioProblem());
            return 1;
        }
        if (round % 10 == 0)
            std::printf("REPORT %lld %lld %lld\n", static_cast<long long>(report.written),
                        static_cast<long long>(report.delay), static_cast<long long>(report.monotonic));
    }
    DrainAudio();
    std::printf("PROBE-DONE %lld\n", made);
    return 0;
}
