// Processor time the sound output's work takes: per 10 ms block, one
// reading of the clocks and one device report taken into the fits, the
// seconds planned as they come, and the block synthesized, as the audio
// loop does. The device is
// modelled (a card 200 ppm fast), so the figure is the synthesis's and the
// fit's alone, with no waiting.
//   audio_bench [MINUTES]   audio minutes per case, default 10
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "audio/device_clock.h"
#include "audio/synthesis.h"
#include "audio/utc_scale.h"
#include "timecode/station.h"
#include "timecode/timecode.h"

static double CpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
}

int main(int argc, char** argv) {
    const int minutes = argc > 1 ? std::atoi(argv[1]) : 10;
    const unsigned rates[] = {44100, 48000, 96000, 192000, 384000};
    const Station stations[] = {STATION_DCF77, STATION_JJY};
    const char* const names[] = {"DCF77", "JJY"};
    std::printf("audio minutes per case: %d\n%-6s %7s %10s %14s\n", minutes, "code", "rate", "tone Hz", "CPU % of a core");
    for (int s = 0; s < 2; ++s) {
        for (unsigned rate : rates) {
            // Minute 15 of the hour: JJY's call sign, its busiest minute.
            const std::int64_t first = 1'709'133'300 - 60;
            const Tone tone = ToneFor(StationCarrierHz(stations[s]), rate);
            static DeviceClock clock;
            static UtcScale scale;
            ResetDeviceClock(&clock, rate);
            ResetUtcScale(&scale);
            Carrier carrier = StartCarrier(tone.hz, 1.0);
            std::vector<std::int16_t> block(rate / 100);
            const double period = 1e9 / (rate * 1.0002);
            std::uint8_t frame[kFrameLength];
            std::int64_t written = 0, nextSecond = first, sum = 0;
            const double before = CpuSeconds();
            for (std::int64_t b = 0; b < minutes * 6000LL; ++b) {
                const std::int64_t monotonic = static_cast<std::int64_t>(static_cast<double>(written) * period);
                NoteClockReading(&scale, monotonic, first * 1'000'000'000LL + monotonic);
                NoteAudioReport(&clock, {monotonic, written + rate / 10, rate / 10}, 0);
                const FrameTime at = WhenFrameLeaves(clock, written + rate / 10);
                const std::int64_t utc = UtcOfRaw(scale, at.raw);
                const double spacing = at.period * scale.rate;
                const std::int64_t end = utc + static_cast<std::int64_t>(spacing * static_cast<double>(block.size()));
                while (nextSecond * 1'000'000'000 - kRampNanoseconds < end) {
                    const int position = static_cast<int>(nextSecond % 60);
                    if (position == 0) BuildFrame(stations[s], ZONE_UTC, nextSecond, frame);
                    PlanSecond(&carrier, stations[s], frame[position], position, nextSecond * 1'000'000'000);
                    ++nextSecond;
                }
                Synthesize(&carrier, utc, spacing, block.data(), block.size());
                sum += block[b % block.size()];
                written += static_cast<std::int64_t>(block.size());
            }
            const double cpu = CpuSeconds() - before;
            std::printf("%-6s %7u %10.1f %14.3f%s\n", names[s], rate, tone.hz, 100 * cpu / (minutes * 60.0),
                        sum == 1 ? " " : "");
        }
    }
    return 0;
}
