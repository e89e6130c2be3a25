// When to ask each NTP server, and what its answers add up to: a burst at
// the start, a burst every 16 minutes, a back-off on silence, and the
// Kiss-o'-Death obeyed. Time (the monotonic clock, ns) is passed in.
#pragma once

#include <cstdint>

#include "ntp/ntp_exchange.h"

constexpr std::int64_t kNtpSecond = 1'000'000'000;
// The start: up to 8 requests 2 s apart, ended early by 4 good answers.
constexpr int kNtpStartRequests = 8, kNtpStartEnough = 4;
constexpr std::int64_t kNtpStartSpacing = 2 * kNtpSecond;
// Then a burst of 4 every 16 minutes, its requests a minute apart.
constexpr int kNtpBurstRequests = 4;
constexpr std::int64_t kNtpBurstSpacing = 60 * kNtpSecond;
constexpr std::int64_t kNtpBurstInterval = 16 * 60 * kNtpSecond;
// A burst without a good answer: one request after a minute, then after
// twice as long each time, at most an hour.
constexpr std::int64_t kNtpFirstBackOff = 60 * kNtpSecond;
constexpr std::int64_t kNtpLongestBackOff = 3600 * kNtpSecond;
// Kiss-o'-Death RATE doubles the interval between bursts, up to a day.
constexpr std::int64_t kNtpLongestInterval = 24 * 3600 * kNtpSecond;
// The servers' winners combined are those this recent.
constexpr std::int64_t kNtpFreshNanoseconds = 20 * 60 * kNtpSecond;
constexpr int kNtpMaxServers = 8;

struct NtpAsking {
    bool stopped;           // DENY or RSTR: never asked again
    std::int64_t due;       // when the next request is due
    int burstSize, asked, good;  // the burst under way
    std::int64_t burstStart;
    NtpSample best;         // its answer with the least round trip
    std::int64_t interval;  // between bursts
    std::int64_t backOff;   // after a silent burst; 0: none
    bool faultSaid, rateSaid;
    bool hasWinner;         // the latest burst's best answer
    NtpSample winner;
};

void StartNtpAsking(NtpAsking* a, std::int64_t now);

// What one exchange's outcome means.
struct NtpNews {
    bool winner;  // a burst ended with an answer: `winner` is new
    bool say;     // the outcome is to be said (a burst without an answer, a
                  // Kiss-o'-Death), once until the server answers again
};

// Takes the outcome of the request made at `now`.
NtpNews NoteNtpOutcome(NtpAsking* a, NtpOutcome outcome, const NtpSample& sample, std::int64_t now);

// The latest winners of the servers, combined: the median of their NTP
// time minus the raw clock, placed at the newest one's raw instant (with
// an even count, the mean of the middle two), its system offset and round
// trip likewise; only winners within kNtpFreshNanoseconds of raw `nowRaw`
// count. False when there is none.
bool CombineNtpWinners(const NtpAsking* servers, int count, std::int64_t nowRaw, NtpSample* combined);
