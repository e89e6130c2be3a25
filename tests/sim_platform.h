// A simulated platform: a virtual clock that sleeps advance at once, and a
// serial line that records every change with its virtual time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

struct LineEvent {
    std::int64_t time;  // virtual monotonic nanoseconds
    LineChange change;
    std::int64_t utc;   // the simulated UTC clock's reading then, ns
};

namespace sim {
extern std::int64_t now;             // virtual monotonic clock, ns
extern std::int64_t utcAtZero;       // UTC ns since 1970 when `now` is 0
extern std::int64_t monotonicRead;   // virtual time one monotonic reading takes
extern std::int64_t utcRead;         // virtual time one UTC reading takes
extern std::int64_t wakeLatency;     // how late every sleep wakes
extern std::int64_t lineLatency;     // how long every line change takes
extern std::vector<LineEvent> changes;
extern std::vector<std::int64_t> sleepTargets;
extern int failingChange;            // 1-based line change that fails; 0: none
extern std::uint32_t failingError;
extern bool openFails, readFails, writeFails;
extern std::uint32_t openError;      // the error of a failing open
extern bool modemLinesMissing;       // the line has no DTR and RTS, as a pseudo-terminal
extern std::int64_t linesReleased;   // when ReleaseModemLines ran; 0: not yet
extern std::string openedName;
extern std::int64_t timersPrepared;  // when PrepareTimers ran; 0: not yet
extern std::int64_t priorityRaised;  // when RaisePriority ran; 0: not yet
extern std::int64_t stopAt;          // virtual time at which the run ends; 0: never
extern std::string recordPath;       // where an ended run writes `changes`
extern std::int64_t utcStepAt;       // virtual time at which UTC is stepped; 0: never
extern std::int64_t utcStepBy;       // by how much, ns
extern std::int64_t utcRatePpb;      // how much faster UTC runs, parts per 10^9
extern std::int64_t heldReadAt;      // UTC ns from which the next UTC reading is held up; 0: none
extern std::int64_t heldReadBy;      // how long that reading's caller is held after it, ns
extern std::int64_t lateWakeAt;      // UTC ns from which the next sleep wakes late; 0: none
extern std::int64_t lateWakeBy;      // by how much, ns
extern std::int64_t syncedAt;        // virtual time from which the clock is synchronised
extern std::int64_t utcSlewAt;       // virtual time from which UTC is slewed; 0: never
extern std::int64_t utcSlewFor;      // for this long, ns ...
extern std::int64_t utcSlewPpb;      // ... running this much faster, parts per 10^9
extern std::int64_t rawPpb;          // how much faster the raw monotonic clock runs than the monotonic one

// The simulated sound device: it plays `audioRate` frames a second of its
// own crystal, `audioPpm` fast against the monotonic clock, from a buffer
// of `audioBuffer` frames that starts playing when full; each frame leaves
// the output `audioLatency` ns after it leaves the buffer.
extern unsigned audioRate;
extern double audioPpm;
extern std::int64_t audioLatency;
extern std::int64_t audioBuffer;
extern std::int64_t audioGranule;   // the played count it reports moves in these steps
extern std::int64_t audioJitter;    // its reports' instants are off by up to this, ns
extern std::int64_t audioStallAt;   // the first write from here is held up ... ; 0: never
extern std::int64_t audioStallBy;   // ... this long, ns
extern std::int64_t audioGoneAt;    // the device goes away here; 0: never
extern std::int64_t audioJumpAt;    // frames leaving the buffer from here on ... ; 0: never
extern std::int64_t audioJumpBy;    // ... take this much longer to the output (and the delay says so), ns
extern bool audioKeepsNoTime;       // as ALSA's null device: every write returns at once, the delay reads 0
extern std::int64_t audioSlowFor;   // each run of the stream plays slowly this long from its start ...
extern double audioSlowRate;        // ... at this fraction of its rate (PulseAudio under Wine priming)
extern std::int64_t audioDelayLostAt;  // from here on the delay reads 0 (it still plays); 0: never
extern bool audioOpenFails;
extern bool audioNameAmbiguous;     // its name matches several devices
extern bool audioMissing;           // the build has no sound output

// One run of the stream from its start: what it played, frame k leaving
// the output at start + k × period + audioLatency (+ audioJumpBy where
// it left the buffer from audioJumpAt on); but for the frames of a slow
// start, where `start` is that of the steady frames after it.
struct AudioSegment {
    std::int64_t start;  // virtual monotonic ns
    double period;       // ns
    std::vector<std::int16_t> samples;
};
extern std::vector<AudioSegment> audioPlayed;

// The simulated NTP server: its time is the true time (the UTC clock's
// before any step, slew or rate of it) plus `ntpOffset`, plus `ntpStepBy`
// from virtual time `ntpStepAt` on; each way takes `ntpOneWay`. It
// answers nothing before virtual time `ntpAnswersFrom`, and may answer
// only a Kiss-o'-Death with code `ntpKiss` ("RATE").
extern std::int64_t ntpOffset;
extern std::int64_t ntpStepAt, ntpStepBy;
extern std::int64_t ntpOneWay;
extern std::int64_t ntpAnswersFrom;
extern std::string ntpKiss;
extern int ntpRequests;             // requests it was sent

// The simulated UTC clock at virtual time `time`, ns since 1970.
std::int64_t UtcAt(std::int64_t time);

// Back to a fresh machine at virtual time `start`, UTC `utcStart` ns.
void Reset(std::int64_t start = 1'000'000'000'000, std::int64_t utcStart = 0);
}  // namespace sim
