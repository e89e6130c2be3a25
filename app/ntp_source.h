// The run's NTP servers (--ntp): asked on their schedule in the time the
// transmit loops leave free, and the NTP time their answers give, which
// the output sends in place of the system clock's. A new line from raw
// clock to NTP time reaches the output only at a minute boundary.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "ntp/ntp_exchange.h"

// An exchange waits at most this long for its answer ...
constexpr std::int64_t kNtpAnswerWait = 1'000'000'000;
// ... and is not begun with less than this left before its deadline.
constexpr std::int64_t kNtpLeastWait = 10'000'000;
// The serial loop asks only up to this long before the next onset.
constexpr std::int64_t kNtpOnsetMargin = 30'000'000;

// Takes the servers for this run; none: NTP is not used.
void StartNtp(const std::vector<NtpServer>& servers);
bool NtpInUse();

// Takes a reading of the system clock, `utc` at raw instant `raw` (both
// ns): its long-run rate against the raw clock serves NTP time while the
// measurements span too little for a rate of their own.
void NoteSystemClock(std::int64_t raw, std::int64_t utc);

// Asks the servers what is due, each exchange over by monotonic
// `deadline`. Says what the schedule says to, on standard error.
void ServiceNtp(std::int64_t deadline);

// The start: each server's burst, and with `waitForAnswer` on until a
// measurement comes. Then, with `sayOffset`, each server's offset line on
// standard output; without any answer, that the system clock's time is
// sent (until one comes, in a live run: `live`).
void RunNtpStart(bool waitForAnswer, bool sayOffset, bool live);

// The time sent at raw instant `raw`, whose system clock reading is `utc`
// (both ns): NTP time by the line adopted, else `utc`.
std::int64_t SentTime(std::int64_t utc, std::int64_t raw);

// Whether the time sent is NTP time yet, which no step of the system
// clock moves.
bool NtpTimeSent();

// At a minute boundary: the newest line becomes the output's. Says once
// that NTP time takes over from the system clock.
void AdoptNtpAtMinute(std::int64_t raw);

// The raw clock's rate against NTP time, once measured well enough to
// replace the system clock's long-run rate for the carrier.
bool NtpCarrierRate(double* rate);

// Ends the first line of a status line with the latest offset measured,
// "  NTP +2500 ms" (NTP time minus the system clock), when there is one.
void AddNtpOffset(char* line, std::size_t size);
