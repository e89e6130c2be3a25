#include "wav_render.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "audio/render.h"
#include "audio/synthesis.h"
#include "audio/wav.h"
#include "keying/keying.h"
#include "timecode/civil.h"
#include "timecode/timecode.h"

int RenderWav(const char* path, unsigned rate, std::int64_t first, int minutes, const TransmitSettings& settings) {
    const double carrierHz = settings.carrierHz;
    const std::uint64_t samples = static_cast<std::uint64_t>(rate) * (1 + 60 * static_cast<std::uint64_t>(minutes));
    if (samples > kMaxWavSamples) {
        std::fprintf(stderr, "dcf77tx: %d minutes at %u Hz do not fit in a WAV file\n", minutes, rate);
        return 2;
    }
    PrepareTransmit(settings, first);
    std::vector<std::array<std::uint8_t, kFrameLength>> frames(static_cast<std::size_t>(minutes) + 1);
    for (std::size_t i = 0; i < frames.size(); ++i)
        BuildKeyedFrame(settings, first + 60 * (static_cast<std::int64_t>(i) - 1), frames[i].data());
    std::FILE* out = std::fopen(path, "wb");
    bool written = out != nullptr && WriteWavHeader(out, rate, samples) &&
                   WriteRenderedFrames(out, settings.station, carrierHz, rate, frames);
    const int error = errno;
    if (out != nullptr && std::fclose(out) != 0) written = false;
    if (!written) {
        std::fprintf(stderr, "dcf77tx: cannot write %s: %s\n", path, std::strerror(error));
        return 1;
    }
    char line[512];
    FormatToneLine(line, sizeof line, path, rate, carrierHz);
    const std::tm start = BreakDownSeconds(first - 1);
    std::printf("%s\nStarts at %04d-%02d-%02d %02d:%02d:%02d UTC: play it from that second; %d whole frames follow.\n",
                line, start.tm_year + 1900, start.tm_mon + 1, start.tm_mday, start.tm_hour, start.tm_min,
                start.tm_sec, minutes);
    if (settings.verbose)
        for (std::size_t i = 1; i < frames.size(); ++i) {
            char status[kStatusLineSize];
            FormatStatusLine(status, sizeof status, settings, first + 60 * (static_cast<std::int64_t>(i) - 1),
                             frames[i].data());
            std::fputs(status, stdout);
        }
    return 0;
}
