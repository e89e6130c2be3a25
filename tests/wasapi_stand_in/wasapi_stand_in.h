// Stand-ins for the WASAPI endpoints, for the Windows build's tests under
// Wine: the real sound file asks CoCreateInstance for its device
// enumerator and gets these, on a virtual monotonic clock.
#pragma once

#include <windows.h>
#include <audioclient.h>

#include <cstdint>
#include <string>
#include <vector>

namespace wasapi {

// One playback endpoint and how it behaves.
struct Endpoint {
    std::wstring id, name;
    unsigned mixRate = 48000;
    unsigned mixChannels = 2;
    bool mixFloat = true;
    std::vector<unsigned> exclusiveRates;       // rates exclusive mode plays
    std::vector<std::string> exclusiveFormats;  // "16/1", "24/2", "float/2", ...
    HRESULT eventsRefusal = S_OK;               // Initialize's answer for event-driven exclusive mode
    HRESULT timerRefusal = S_OK;                // ... and for timer-driven exclusive mode
    double ppm = 0;                             // its crystal against the counter
    int unitsPerFrame = 4;                      // GetFrequency's units: bytes, as shared mode counts
    int inaccurateEvery = 0;                    // every nth reading is S_FALSE, its instant 5 ms off
    int lateEvery = 0;                          // every nth reading is held up 1 ms after the position
    std::int64_t stallAt = 0, stallFor = 0;     // the position stands still (ns after Start)
    std::int64_t jumpAt = 0, jumpFrames = 0;    // the position jumps ahead (ns after Start)
    int oddReading = 0;                         // this reading's position alone is 30 ms ahead
    std::int64_t packet = 0;                    // the position moves in packets this long (ns), as Wine's
    std::int64_t heldAt = 0, heldFor = 0;       // the position alone stands still, then catches up at twice its pace
    std::int64_t goneAt = 0;                    // invalidated from here (ns after Start); 0: never
    std::int64_t latency = 0;                   // the first frame is heard this long after Start (ns)
    std::int64_t silentAt = 0;                  // no buffer event from here (ns after Start); 0: always one
    unsigned alignFrames = 0;                   // exclusive buffers must be a multiple of this many frames
    HRESULT alignedSizeRefusal = S_OK;          // GetBufferSize's answer after refusing a buffer as unaligned
    HRESULT comAnswer = S_OK;                   // CoInitializeEx's (how the host set up the thread's COM)
};

extern std::vector<Endpoint> endpoints;
extern std::size_t defaultEndpoint;
extern std::int64_t now;  // the virtual monotonic clock, ns
extern std::int64_t utcMinusMonotonic;  // the virtual UTC clock's offset from it, ns

// What the stream that was set up saw.
extern std::string initialized;             // "exclusive events 16/1 48000 flags 40000", ...
extern unsigned rawOptions;                 // SetClientProperties' options
extern unsigned channels, bytesPerSample;   // the format the bytes are in
extern bool isFloat;
extern std::vector<std::uint8_t> bytes;     // everything released, in order
extern std::int64_t startedAt;              // when Start came; -1: not yet
extern std::vector<unsigned> executionStates;  // SetThreadExecutionState's arguments
extern int alive;                           // stand-in interfaces not yet released

// Frames heard by monotonic instant `t` (fractional), as the stream's
// endpoint plays them: what a correct report's position maps to.
double HeardAt(std::int64_t t);

void Reset();

}  // namespace wasapi
