// Runs the whole program, its real main on the simulated platform, in a
// directory of the running test's own, and reads back what it did.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "decoder.h"

constexpr std::int64_t kMs = 1'000'000;
constexpr std::int64_t kSecond = 1'000'000'000;
constexpr std::int64_t kSimStart = 1'000 * kSecond;  // the simulated monotonic clock at start

struct Change {
    std::int64_t utc;  // ns since 1970
    int change;        // 3 raise RTS, 4 lower RTS, 5 raise DTR, 6 lower DTR
};

struct ProgramRun {
    int status = -1;
    std::string out, err;
    std::vector<Change> changes;
    std::int64_t timersPrepared = 0, priorityRaised = 0;  // UTC ns
    std::int64_t linesReleased = 0;  // UTC ns of the open's release of DTR and RTS; 0: never
    // The same changes stamped by the simulated UTC clock, which may have
    // been stepped or run fast.
    std::vector<Change> changesOnClock;
};

struct RunSettings {
    std::string input;
    std::int64_t startUtcMs;
    int runSeconds;
    int lineLatencyUs = 0;
    bool openFails = false;
    std::string arguments = "";  // the command line after the program's name
    std::int64_t utcStepAfterMs = 0, utcStepMs = 0;
    int utcRatePpm = 0;
    std::int64_t heldReadAtUtcMs = 0, heldReadUs = 0;  // one UTC reading's caller held up
    std::int64_t lateWakeAtUtcMs = 0, lateWakeUs = 0;  // one sleep wakes late
    std::int64_t syncedAfterMs = 0;  // the clock says it is synchronised from then on
    std::string simConf = "";  // more "name value" lines for dcf77tx_sim.conf
    int fileBlocks = 0;  // the largest file it may write, in 512-byte blocks (POSIX shells only); 0: any
};

// The directory a test's run works in.
std::string RunDirectory();

ProgramRun RunProgram(const RunSettings& s);

// The minutes keyed on DTR, the first pulse taken as a frame's second 0.
std::vector<DecodedMinute> Decode(const ProgramRun& run);
std::vector<DecodedMinute> Decode(const std::vector<Change>& changes);

std::tm Utc(std::int64_t ns);

// Sets the local zone the simulated program inherits.
void UseZone(const char* zone);

extern const std::string kDialogue;
extern const std::string kWait;

// The first onset comes as soon as the start-up has seen the minute begin,
// which takes the simulated clock a few microseconds.
constexpr std::int64_t kFirstOnsetSlack = 100'000;

// Each decoded frame must carry the minute that begins when it ends, and
// start on a UTC minute: the first as soon as it can, the rest exactly.
void ExpectFramesFollowTheClock(const std::vector<DecodedMinute>& minutes);
