// Runs in the emulated PC: records the loopback card's capture side (what
// is played on its playback twin) to a raw disk for the host, and prints
// on the console when each stretch of it arrived:
//
//   sound_capture DEVICE RATE SECONDS DISK
//
//   CLOCK <monotonic ns> <UTC ns>     the two clocks read together
//   RATE <Hz>
//   CAPTURED <frames> <monotonic ns>  frames recorded so far, and when
//   END <frames>
//
// A test tool: it uses ALSA directly, on its own clock, independent of the
// program whose output it records.
#include <alsa/asoundlib.h>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

static std::int64_t Nanoseconds(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return now.tv_sec * 1'000'000'000LL + now.tv_nsec;
}

// The UTC clock against the monotonic one, read between two monotonic
// readings; without NTP in the guest the difference stays put.
static void PrintClocks() {
    const std::int64_t before = Nanoseconds(CLOCK_MONOTONIC);
    const std::int64_t utc = Nanoseconds(CLOCK_REALTIME);
    const std::int64_t after = Nanoseconds(CLOCK_MONOTONIC);
    std::printf("CLOCK %lld %lld\n", static_cast<long long>((before + after) / 2), static_cast<long long>(utc));
}

static int Fail(const char* what, int err) {
    std::printf("CAPTURE-FAILED %s: %s\n", what, snd_strerror(err));
    return 1;
}

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: sound_capture DEVICE RATE SECONDS DISK\n");
        return 2;
    }
    const unsigned rate = static_cast<unsigned>(std::atoi(argv[2]));
    const long long total = static_cast<long long>(rate) * std::atoll(argv[3]);
    std::FILE* disk = std::fopen(argv[4], "wb");
    if (disk == nullptr) return Fail(argv[4], -errno);
    snd_pcm_t* pcm = nullptr;
    int err = snd_pcm_open(&pcm, argv[1], SND_PCM_STREAM_CAPTURE, 0);
    if (err < 0) return Fail(argv[1], err);
    // Mono 16-bit at the rate asked: the loopback then holds its playback
    // side to the same, so nothing converts what is played.
    err = snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, 1, rate, 0, 500000);
    if (err < 0) return Fail("settings", err);
    snd_pcm_sw_params_t* sw;
    snd_pcm_sw_params_alloca(&sw);
    snd_pcm_sw_params_current(pcm, sw);
    snd_pcm_sw_params_set_tstamp_mode(pcm, sw, SND_PCM_TSTAMP_ENABLE);
    snd_pcm_sw_params_set_tstamp_type(pcm, sw, SND_PCM_TSTAMP_TYPE_MONOTONIC);
    snd_pcm_sw_params_set_start_threshold(pcm, sw, 1);
    err = snd_pcm_sw_params(pcm, sw);
    if (err < 0) return Fail("time stamps", err);
    PrintClocks();
    std::printf("RATE %u\n", rate);
    std::fflush(stdout);

    std::vector<std::int16_t> chunk(rate / 50);
    snd_pcm_status_t* status;
    snd_pcm_status_alloca(&status);
    long long read = 0;
    long long reported = 0;
    while (read < total) {
        const snd_pcm_sframes_t got = snd_pcm_readi(pcm, chunk.data(), chunk.size());
        if (got < 0) return Fail("read", static_cast<int>(got));
        std::fwrite(chunk.data(), 2, static_cast<std::size_t>(got), disk);
        read += got;
        // Every tenth of a second: the frames recorded by the status's time
        // are those read plus those waiting to be read.
        if (read - reported < rate / 10 || snd_pcm_status(pcm, status) < 0) continue;
        reported = read;
        snd_htimestamp_t when{};
        snd_pcm_status_get_htstamp(status, &when);
        std::printf("CAPTURED %lld %lld\n", read + snd_pcm_status_get_delay(status),
                    static_cast<long long>(when.tv_sec) * 1'000'000'000LL + when.tv_nsec);
    }
    std::fclose(disk);
    snd_pcm_close(pcm);
    PrintClocks();
    std::printf("END %lld\n", read);
    return 0;
}
