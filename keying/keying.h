// The keying of a serial port's DTR and RTS outputs, which move together
// as a single keying line: asserted while the carrier is reduced, negated
// for the full carrier. Here are the line itself and its failures, the
// pulse durations scaled by the timing factor, each station's pattern of a
// second (DCF77, MSF, WWVB, JJY), the deadline pauses and their wake-up
// margin (wake_margin.h), the paired reading of the UTC and monotonic
// clocks, and the calibration of the factor; the sound output keys its
// carrier with the same patterns and durations.
#pragma once

#include <cstdint>
#include <cstdio>

#include "platform/platform.h"
#include "timecode/station.h"
#include "timecode/timecode.h"

extern LineHandle hCom;      // the open serial line, set by PinOpen
extern std::int32_t Port;    // serial port number, COM1 = 1
extern const char* Device;   // the serial device by path; null: port `Port`
extern double Fudge;         // pause units per nominal 100 ms; 100 is nominal
extern std::int32_t ms100;   // asserted part of a 0 second
extern std::int32_t ms200;   // asserted part of a 1 second
extern std::int32_t ms800;   // negated rest of a 1 second
extern std::int32_t ms900;   // negated rest of a 0 second
extern std::int32_t ms1000;  // the unbroken negated minute-mark second
extern bool ExplainLineErrors;  // option runs: say each failure once, in the system's words
extern bool ReleaseLinesAtOpen;  // option runs: negate DTR and RTS at the open

// Opens and configures `Device`, or port `Port` when it is null; on failure
// reports it and exits with 1. With ReleaseLinesAtOpen it also negates both
// lines, which refuses a device that has none.
void PinOpen();
void PinClose();

// Asserts (PinPlus12) or negates (PinMinus12) DTR, then RTS.
void PinPlus12();
void PinMinus12();

// A reduced (PowerLow) or full (PowerHigh) carrier interval of `ms`
// milliseconds; a zero count does nothing at all.
void PowerLow(std::int32_t ms);
void PowerHigh(std::int32_t ms);

// Keys the frame of `record`; returns when its minute-mark second is over.
void OneMinute(const DcfTime& record);

// Sets the five durations from `Fudge`.
void DeriveDurations();

// `nominal` milliseconds in pause units: scaled by `Fudge` and rounded as
// the five durations are. An interval of a second lasts the difference of
// the scaled offsets of its ends, so that every second lasts ms1000.
std::int32_t ScaledDuration(std::int32_t nominal);
// The same for another factor than `Fudge`.
std::int32_t ScaledDurationFor(double factor, std::int32_t nominal);

// One second of the carrier: periods in order, each asserted (carrier
// reduced) or negated (full), with its end in nominal ms after the
// second's start; the last ends at 1000.
struct SecondPattern {
    int count;
    bool asserted[16];
    std::int16_t end[16];
};
SecondPattern PatternOf(Station station, std::uint8_t symbol, int position);

// The station's pulse lengths and second in pause units, as the program
// shows them; returns how many.
int StationLengths(Station station, std::int32_t* lengths);

// `factor` × `constant` / 100 − `minus`, evaluated with a 64-bit significand
// and then rounded to double, whatever the compiler's long double is.
double ExtendedScaled(double factor, std::int32_t constant, std::int32_t minus);
// The same evaluation in integer arithmetic, for targets whose long double
// is not the x87 extended format.
double ExtendedScaledInSoftware(double factor, std::int32_t constant, std::int32_t minus);

namespace keying {
// Rounds half-way values up (-2.5 gives -2), unlike the C library's round,
// whose name this would otherwise clash with.
double round(double x);
}  // namespace keying

// Pauses `ms` milliseconds counted from the end of the previous pause, so
// that line operations and wake-up latency between pauses never accumulate.
// A chain of pauses starts afresh when a pause begins more than
// kChainBreakNanoseconds after the previous one ended. Zero or a negative
// count pauses nothing.
void PauseMs(std::int32_t ms);
constexpr std::int64_t kChainBreakNanoseconds = 1'000'000'000;

// Makes the next pause count from `instant` on the monotonic clock.
void AnchorPauses(std::int64_t instant);

// Pauses until `deadline` on the monotonic clock (not at all when it has
// passed), and makes the next pause count from it. Returns the monotonic
// clock's reading when it returned.
std::int64_t PauseUntil(std::int64_t deadline);

// Pauses like one keyed second with nominal durations, a 0 second when
// `bit` is 0 and a 1 second otherwise, with no line change.
void PauseOneSecond(int bit);

// Times `seconds` seconds of PauseOneSecond against the UTC clock and
// returns how much longer (above 1) or shorter they ran than nominal.
// Shows its progress on `progress` once a second when it is not null.
double MeasurePauseRatio(int seconds, std::FILE* progress);

// The timing factor that makes pauses running `ratio` times their nominal
// length key a minute as close to 60 s as whole milliseconds allow.
double FactorForPauseRatio(double ratio);

// How far pauses running `ratio` times their length are off, as
// "+0.0300 %": in percent to four decimals, signed.
void FormatPauseDeviation(char* text, std::size_t size, double ratio);

// How long before its deadline a pause stops sleeping and starts watching
// the clock: follows the wake-up latency seen lately, within bounds.
std::int64_t EarlyWakeNanoseconds();

// From now on the pauses wake as early as the timer's lateness over the
// last minutes asks (keying/wake_margin.h) rather than by
// EarlyWakeNanoseconds; until monotonic `until` this sleeps in steps,
// learning from each wake. For the keying, dialogue and option runs alike.
void LearnWakeLateness(std::int64_t until);
constexpr std::int64_t kMinEarlyWakeNanoseconds = 50'000;
constexpr std::int64_t kMaxEarlyWakeNanoseconds = 500'000;

// Reads the UTC clock and the monotonic instant of the reading: the middle
// of two monotonic reads around it, which cancels their cost. A reading
// whose two reads lie more than kNarrowBracketNanoseconds apart (the thread
// was held up between them) is taken again, up to kReadingAttempts times in
// all, and the narrowest kept.
UtcReading ReadUtcClockAt(std::int64_t* instant);
constexpr std::int64_t kNarrowBracketNanoseconds = 20'000;
constexpr int kReadingAttempts = 5;

// The raw monotonic clock minus the monotonic one, read between two
// readings of the latter no more than 20 us apart where the system allows.
std::int64_t RawMinusMonotonic();
