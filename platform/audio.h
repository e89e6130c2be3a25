// The sound output: one playback stream of signed 16-bit mono samples on a
// named device, and what the device reports about when a sample leaves it.
// Implemented with ALSA on Linux and WASAPI on Windows; a build without a
// sound library picks a file that refuses every device. Tests link a
// simulated device instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Whether this build can play sound at all.
bool AudioAvailable();

// Prints the playback devices, one a line: the name to give --audio, then
// the rates among 192000, 96000, 48000 and 44100 Hz it accepts exactly, or
// why it cannot play. Returns how many of them can play.
int ListAudioDevices(std::FILE* out);

// Opens `device` for playback at exactly `rate` Hz, never through a
// resampler; with `rate` 0, at the highest of 192000, 96000, 48000 and
// 44100 Hz that it accepts exactly. On success `opened` holds the rate.
// On failure false, with one line in `problem` naming the device, the
// rate and the sound library's own message.
bool OpenAudio(const char* device, unsigned rate, unsigned* opened, char* problem, std::size_t size);

// The device the last successful OpenAudio opened, as the start line names it.
struct OpenedAudio {
    const char* name;  // the system's own name for it, else the name given
    const char* mode;  // how it plays, where the system has several ways; else ""
    const char* note;  // one line on why it plays in a lesser way than it offers; else ""
};
OpenedAudio DescribeOpenedAudio();

// Whether the last OpenAudio refusal was the command line's fault: a name
// that matches several devices, which `problem` then lists.
bool AudioNameAmbiguous();

// What the device said about its timing, taken together.
struct AudioReport {
    std::int64_t monotonic;  // MonotonicNanoseconds() instant of the report
    std::int64_t written;    // frames written since the stream (re)started
    std::int64_t delay;      // frames from the next one written until it leaves the output
};

enum AudioOutcome {
    AUDIO_PLAYING,    // all is well
    AUDIO_RESTARTED,  // an underrun or suspend was recovered: the stream
                      // started afresh, earlier reports map nothing now
    AUDIO_GONE,       // the device went away; AudioProblem() says how
};

// Queues all `count` samples, blocking while the device's buffer is full.
AudioOutcome WriteAudio(const std::int16_t* samples, std::size_t count);

// Fills `report` from the device's own status.
AudioOutcome ReportAudio(AudioReport* report);

// Plays out what is queued, then closes the device.
void DrainAudio();

// The sound library's message for the last AUDIO_GONE.
const char* AudioProblem();
