// NTP time as the raw monotonic clock (the computer's oscillator, which no
// time daemon steps or slews) mapped by a straight line fitted to the
// accepted measurements: NTP time = ntp0 + (raw − raw0) × rate. What the
// output sends is a copy of the line taken at minute boundaries, so that a
// new measurement never moves an edge inside a frame. Time is passed in.
#pragma once

#include <cstdint>

// The line's rate comes from the measurements themselves only once they
// span this long; before, the caller supplies one (the system clock's
// long-run rate against the raw clock).
constexpr std::int64_t kNtpRateSpanNanoseconds = 15 * 60 * 1'000'000'000LL;
// After the first measurement, one this far off the line is held, and
// applied only when the next one agrees with it within kNtpAgreeNanoseconds
// (both read on the raw clock at the line's rate).
constexpr std::int64_t kNtpDisagreeNanoseconds = 1'000'000'000;
constexpr std::int64_t kNtpAgreeNanoseconds = 50'000'000;
// A smaller change beyond this (and beyond the measurement's round trip)
// is the server correcting its time, not the oscillator's rate: the older
// measurements move with it, so that the rate measured stays.
constexpr std::int64_t kNtpStepNanoseconds = 20'000'000;
// ... and beyond what an oscillator this far off nominal drifts since the
// latest measurement: a quartz runs within 100 ppm, so a larger change is
// the server's, while a smaller one may be the raw clock's own rate (its
// error against the fallback), which the fit must learn, not hide.
constexpr double kNtpMostDriftPpm = 200;
// The measured rate serves the carrier once its standard error is below
// this (a tenth of a hertz at 77.5 kHz), parts per million.
constexpr double kNtpRateGoodPpm = 1.0;
// A measurement's error is taken as half its round trip, at least this.
constexpr std::int64_t kNtpLeastErrorNanoseconds = 50'000;
// The latest measurements kept for the fit (16 minutes apart: 8 hours).
constexpr int kNtpPoints = 32;

// A line from the raw clock to NTP time.
struct NtpLine {
    bool valid;
    std::int64_t raw0, ntp0;  // ns
    double rate;              // NTP ns per raw ns
};

struct NtpTime {
    int first, count;  // the accepted measurements, a ring
    std::int64_t raw[kNtpPoints], ntp[kNtpPoints], delay[kNtpPoints];
    bool held;  // a measurement far off the line, waiting for a second
    std::int64_t heldRaw, heldNtp, heldDelay;
    NtpLine newest;    // the line through the measurements as they stand
    bool rateMeasured; // its rate is theirs (span >= kNtpRateSpanNanoseconds)
    double rateErrorPpm;  // the standard error of that rate
    NtpLine output;    // the line the output uses, taken at a minute boundary
};

void ResetNtpTime(NtpTime* t);

enum NtpTaken {
    NTP_TAKEN,    // the measurement joined the fit
    NTP_STEPPED,  // off the line by over kNtpStepNanoseconds: the older ones moved with it
    NTP_HELD,     // off the line by over kNtpDisagreeNanoseconds: held for a second opinion
    NTP_REPLACED, // it agreed with the one held: the older measurements were dropped
};

// Takes a measurement: NTP time `ntp` at raw instant `raw`, from an
// exchange of round trip `delay`; `fallbackRate` is the rate to use while
// the measurements span too little.
NtpTaken NoteNtpMeasurement(NtpTime* t, std::int64_t raw, std::int64_t ntp, std::int64_t delay, double fallbackRate);

// At a minute boundary: the newest line, refitted with `fallbackRate`
// where its rate is not yet measured, becomes the output's. Returns how
// far that moves the output's NTP time at raw instant `raw`, ns (0 when
// the output had no line yet or nothing changed).
std::int64_t AdoptNtpLine(NtpTime* t, double fallbackRate, std::int64_t raw);

// NTP ns since 1970 at raw instant `raw` by `line`.
std::int64_t NtpOfRaw(const NtpLine& line, std::int64_t raw);

// Whether the measured rate is better than the system clock's long-run
// one: measured over kNtpRateSpanNanoseconds, its standard error below
// kNtpRateGoodPpm.
bool NtpRateGood(const NtpTime& t);
