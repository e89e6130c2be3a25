// The sound output on Linux, through ALSA's own library: one blocking
// playback stream of 16-bit samples at a rate the device plays exactly.
#include <alsa/asoundlib.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "audio.h"

// The standard rates, best first: the default is the first one accepted.
static const unsigned kRates[] = {192000, 96000, 48000, 44100};

// 200 ms of buffer in 20 ms periods. The program wakes once a period and
// has the other nine to get the processor back: 180 ms rides out a loaded
// two-core machine without an underrun. Samples already queued cannot be
// changed, so more would only delay the reaction to a UTC step.
constexpr unsigned kBufferMicroseconds = 200000;
constexpr unsigned kPeriodMicroseconds = 20000;

// Samples handed to the library at a time when they must be doubled for a
// device that only plays stereo.
constexpr std::size_t kStereoChunk = 1024;

// The open stream, or null.
static snd_pcm_t* stream = nullptr;
// The name the stream was opened with, for messages.
static std::string streamName;
// 1, or 2 where the device only plays stereo: each sample goes to both.
static unsigned channels = 1;
// Frames written since the stream last started afresh.
static std::int64_t framesWritten = 0;
// The message for the last AUDIO_GONE.
static std::string problem;
// Where samples are doubled for a stereo device.
static std::int16_t stereo[2 * kStereoChunk];

bool AudioAvailable() {
    return true;
}

// ALSA names one device each.
bool AudioNameAmbiguous() {
    return false;
}

// The library prints its own diagnostics on standard error, eight lines of
// configuration internals on a machine without a sound card; the program
// says what failed in one line with snd_strerror, so they are dropped.
static void DropLibraryMessage(const char*, int, const char*, int, const char*, ...) {}

static void SilenceLibrary() {
    snd_lib_error_set_handler(DropLibraryMessage);
}

// Sets what the program plays on a freshly opened device: interleaved
// 16-bit little-endian samples, mono where possible, and no resampling.
// On failure, the library's error with `what` naming the step.
static int Constrain(snd_pcm_t* pcm, snd_pcm_hw_params_t* params, const char** what) {
    int err = snd_pcm_hw_params_any(pcm, params);
    if (err < 0) return *what = "has no playback settings", err;
    err = snd_pcm_hw_params_set_access(pcm, params, SND_PCM_ACCESS_RW_INTERLEAVED);
    if (err < 0) return *what = "takes no interleaved writes", err;
    err = snd_pcm_hw_params_set_format(pcm, params, SND_PCM_FORMAT_S16_LE);
    if (err < 0) return *what = "takes no 16-bit samples", err;
    // Many hw: devices only take stereo.
    err = snd_pcm_hw_params_set_channels(pcm, params, 1);
    if (err < 0) err = snd_pcm_hw_params_set_channels(pcm, params, 2);
    if (err < 0) return *what = "takes neither one nor two channels", err;
    // A resampler can filter the carrier away: only rates the device plays.
    err = snd_pcm_hw_params_set_rate_resample(pcm, params, 0);
    if (err < 0) return *what = "cannot turn resampling off", err;
    return 0;
}

// The best standard rate the constrained settings accept exactly, or 0.
static unsigned BestRate(snd_pcm_t* pcm, snd_pcm_hw_params_t* params) {
    for (unsigned rate : kRates)
        if (snd_pcm_hw_params_test_rate(pcm, params, rate, 0) == 0) return rate;
    return 0;
}

// Closes `pcm` and leaves "device: what: the library's message" in `text`.
static bool Refuse(snd_pcm_t* pcm, char* text, std::size_t size, const char* device, const std::string& what,
                   int err) {
    std::snprintf(text, size, "%s: %s: %s", device, what.c_str(), snd_strerror(err));
    if (pcm != nullptr) snd_pcm_close(pcm);
    return false;
}

// ALSA plays one way: the device is named as opened.
OpenedAudio DescribeOpenedAudio() {
    return {streamName.c_str(), "", ""};
}

bool OpenAudio(const char* device, unsigned rate, unsigned* opened, char* text, std::size_t size) {
    SilenceLibrary();
    snd_pcm_t* pcm = nullptr;
    int err = snd_pcm_open(&pcm, device, SND_PCM_STREAM_PLAYBACK, 0);
    if (err < 0) return Refuse(nullptr, text, size, device, "cannot open for playback", err);
    snd_pcm_hw_params_t* params;
    snd_pcm_hw_params_alloca(&params);
    const char* what = "";
    err = Constrain(pcm, params, &what);
    if (err < 0) return Refuse(pcm, text, size, device, what, err);
    if (rate == 0) {
        rate = BestRate(pcm, params);
        if (rate == 0)
            return Refuse(pcm, text, size, device, "plays none of 192000, 96000, 48000 and 44100 Hz exactly",
                          snd_pcm_hw_params_set_rate(pcm, params, kRates[0], 0));
    }
    const std::string at = " at " + std::to_string(rate) + " Hz";
    err = snd_pcm_hw_params_set_rate(pcm, params, rate, 0);
    if (err < 0) return Refuse(pcm, text, size, device, "cannot play exactly" + at, err);
    unsigned buffer = kBufferMicroseconds;
    unsigned period = kPeriodMicroseconds;
    int dir = 0;
    err = snd_pcm_hw_params_set_buffer_time_near(pcm, params, &buffer, &dir);
    if (err >= 0) err = snd_pcm_hw_params_set_period_time_near(pcm, params, &period, &dir);
    if (err >= 0) err = snd_pcm_hw_params(pcm, params);
    if (err < 0) return Refuse(pcm, text, size, device, "cannot set up its buffer" + at, err);
    unsigned count = 1;
    snd_pcm_hw_params_get_channels(params, &count);
    snd_pcm_uframes_t bufferFrames = 0;
    snd_pcm_hw_params_get_buffer_size(params, &bufferFrames);

    // Time stamps on the monotonic clock, the one the pauses run on. The
    // stream starts when the first writes have filled the buffer: from then
    // on the device has the most to play while the program catches up.
    snd_pcm_sw_params_t* sw;
    snd_pcm_sw_params_alloca(&sw);
    err = snd_pcm_sw_params_current(pcm, sw);
    if (err >= 0) err = snd_pcm_sw_params_set_tstamp_mode(pcm, sw, SND_PCM_TSTAMP_ENABLE);
    if (err >= 0) err = snd_pcm_sw_params_set_tstamp_type(pcm, sw, SND_PCM_TSTAMP_TYPE_MONOTONIC);
    if (err >= 0) err = snd_pcm_sw_params_set_start_threshold(pcm, sw, bufferFrames);
    if (err >= 0) err = snd_pcm_sw_params(pcm, sw);
    if (err < 0) return Refuse(pcm, text, size, device, "gives no monotonic time stamps" + at, err);

    if (stream != nullptr) snd_pcm_close(stream);
    stream = pcm;
    streamName = device;
    channels = count;
    framesWritten = 0;
    *opened = rate;
    return true;
}

// An underrun or a suspend restarts the stream; anything else ends it.
static AudioOutcome Failure(int err) {
    if (err == -EPIPE || err == -ESTRPIPE) {
        const int again = snd_pcm_recover(stream, err, 1);
        if (again >= 0) {
            framesWritten = 0;
            return AUDIO_RESTARTED;
        }
        err = again;
    }
    problem = streamName + ": " + snd_strerror(err);
    return AUDIO_GONE;
}

AudioOutcome WriteAudio(const std::int16_t* samples, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
        const std::int16_t* frames = samples + done;
        std::size_t n = count - done;
        if (channels == 2) {
            n = n < kStereoChunk ? n : kStereoChunk;
            for (std::size_t i = 0; i < n; ++i) stereo[2 * i] = stereo[2 * i + 1] = frames[i];
            frames = stereo;
        }
        const snd_pcm_sframes_t wrote = snd_pcm_writei(stream, frames, n);
        if (wrote == -EINTR || wrote == -EAGAIN) continue;
        if (wrote < 0) return Failure(static_cast<int>(wrote));
        done += static_cast<std::size_t>(wrote);
        framesWritten += wrote;
    }
    return AUDIO_PLAYING;
}

// Before the stream starts (until the first writes fill the buffer) the
// delay reads 0 and maps nothing: report only after such writes.
AudioOutcome ReportAudio(AudioReport* report) {
    snd_pcm_status_t* status;
    snd_pcm_status_alloca(&status);
    const int err = snd_pcm_status(stream, status);
    if (err < 0) return Failure(err);
    switch (snd_pcm_status_get_state(status)) {
    case SND_PCM_STATE_XRUN:
        return Failure(-EPIPE);
    case SND_PCM_STATE_SUSPENDED:
        return Failure(-ESTRPIPE);
    case SND_PCM_STATE_DISCONNECTED:
        return Failure(-ENODEV);
    default:
        break;
    }
    snd_htimestamp_t when{};
    snd_pcm_status_get_htstamp(status, &when);
    report->monotonic = static_cast<std::int64_t>(when.tv_sec) * 1'000'000'000 + when.tv_nsec;
    report->written = framesWritten;
    report->delay = snd_pcm_status_get_delay(status);
    return AUDIO_PLAYING;
}

void DrainAudio() {
    if (stream == nullptr) return;
    snd_pcm_drain(stream);
    snd_pcm_close(stream);
    stream = nullptr;
}

const char* AudioProblem() {
    return problem.c_str();
}

// One line for a device: its name, then the standard rates it plays
// exactly, or why it cannot be used now. Returns whether it can play.
static bool ListDevice(std::FILE* out, const char* name) {
    snd_pcm_t* pcm = nullptr;
    // Non-blocking: a device in use answers at once instead of waiting.
    int err = snd_pcm_open(&pcm, name, SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
    if (err < 0) {
        std::fprintf(out, "%s  (cannot open: %s)\n", name, snd_strerror(err));
        return false;
    }
    snd_pcm_hw_params_t* params;
    snd_pcm_hw_params_alloca(&params);
    const char* what = "";
    err = Constrain(pcm, params, &what);
    std::string rates;
    for (unsigned rate : kRates)
        if (err >= 0 && snd_pcm_hw_params_test_rate(pcm, params, rate, 0) == 0) rates += " " + std::to_string(rate);
    snd_pcm_close(pcm);
    if (err < 0)
        std::fprintf(out, "%s  (%s)\n", name, what);
    else if (rates.empty())
        std::fprintf(out, "%s  (no standard rate exactly)\n", name);
    else
        std::fprintf(out, "%s %s Hz\n", name, rates.c_str());
    return err >= 0 && !rates.empty();
}

// Every card's playback devices by hw: and plughw: name.
static void CardDevices(std::vector<std::string>* names) {
    int card = -1;
    while (snd_card_next(&card) == 0 && card >= 0) {
        snd_ctl_t* ctl = nullptr;
        if (snd_ctl_open(&ctl, ("hw:" + std::to_string(card)).c_str(), 0) < 0) continue;
        snd_ctl_card_info_t* info;
        snd_ctl_card_info_alloca(&info);
        snd_pcm_info_t* pcm;
        snd_pcm_info_alloca(&pcm);
        if (snd_ctl_card_info(ctl, info) >= 0) {
            const std::string id = snd_ctl_card_info_get_id(info);
            int device = -1;
            while (snd_ctl_pcm_next_device(ctl, &device) == 0 && device >= 0) {
                snd_pcm_info_set_device(pcm, static_cast<unsigned>(device));
                snd_pcm_info_set_subdevice(pcm, 0);
                snd_pcm_info_set_stream(pcm, SND_PCM_STREAM_PLAYBACK);
                if (snd_ctl_pcm_info(ctl, pcm) < 0) continue;
                const std::string where = "CARD=" + id + ",DEV=" + std::to_string(device);
                names->push_back("hw:" + where);
                names->push_back("plughw:" + where);
            }
        }
        snd_ctl_close(ctl);
    }
}

// The names the configuration offers for playback (default, sysdefault,
// front, dmix, ...), after the cards' own.
static void HintedDevices(std::vector<std::string>* names) {
    void** hints = nullptr;
    if (snd_device_name_hint(-1, "pcm", &hints) < 0) return;
    for (void** hint = hints; *hint != nullptr; ++hint) {
        char* name = snd_device_name_get_hint(*hint, "NAME");
        char* io = snd_device_name_get_hint(*hint, "IOID");
        // No IOID: both directions. The null device plays nowhere.
        if (name != nullptr && (io == nullptr || std::strcmp(io, "Output") == 0) && std::strcmp(name, "null") != 0) {
            bool known = false;
            for (const std::string& seen : *names) known = known || seen == name;
            if (!known) names->push_back(name);
        }
        std::free(name);
        std::free(io);
    }
    snd_device_name_free_hint(hints);
}

// Plug-ins the configuration names (JACK, OSS) print on standard error
// themselves when the list probes them, past the library's handler: the
// list's own lines say which cannot be opened, so standard error is
// pointed at /dev/null meanwhile. Returns what restores it.
static int QuietStandardError() {
    std::fflush(stderr);
    const int saved = dup(STDERR_FILENO);
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) {
        dup2(null, STDERR_FILENO);
        close(null);
    }
    return saved;
}

static void RestoreStandardError(int saved) {
    if (saved < 0) return;
    dup2(saved, STDERR_FILENO);
    close(saved);
}

int ListAudioDevices(std::FILE* out) {
    SilenceLibrary();
    const int saved = QuietStandardError();
    std::vector<std::string> names;
    CardDevices(&names);
    HintedDevices(&names);
    // With none that plays, the caller says so in its own words.
    int playable = 0;
    for (const std::string& name : names) {
        playable += ListDevice(out, name.c_str()) ? 1 : 0;
        std::fflush(out);
    }
    RestoreStandardError(saved);
    return playable;
}
