// How early a pause must wake to meet its deadline on this machine: the
// timer's lateness, learned as the run goes, as a high percentile of the
// last few minutes (99.9 %: at two wakes a second, nearly their peak),
// within a bound and a processor budget. Time is passed
// in; the record is plain data.
#pragma once

#include <cstdint>

constexpr int kWakeMinutes = 5;                      // how far back the lateness counts
constexpr int kWakeBins = 128;                       // lateness bins of kWakeBinNanoseconds
constexpr std::int64_t kWakeBinNanoseconds = 25'000;  // the last bin takes everything later
constexpr std::int64_t kMinWakeMargin = 50'000;
constexpr std::int64_t kMaxWakeMargin = 3'000'000;
// The share of one core the watching of the clock may take, on top of
// everything else the keying takes (about 0.02 %).
constexpr double kWakeBudget = 0.003;

struct WakeRecord {
    std::int64_t minuteOf[kWakeMinutes];  // the monotonic minute (ns / 60 s) a slot holds; -1: none
    std::int32_t late[kWakeMinutes][kWakeBins];
    std::int32_t wakes[kWakeMinutes];
    std::int64_t firstWake;  // monotonic ns of the first wake noted; -1: none yet
};

WakeRecord EmptyWakeRecord();

// Notes a timer wake at monotonic `now` that came `late` ns after the
// instant it was asked for.
void NoteWake(WakeRecord* record, std::int64_t now, std::int64_t late);

// How long before a deadline at or after `now` a pause should stop
// sleeping: a quarter above the 99.9th percentile of the lateness noted in
// the last kWakeMinutes minutes, within kMinWakeMargin .. kMaxWakeMargin
// and no more than the pauses' rate lets them watch the clock within
// kWakeBudget.
std::int64_t WakeMargin(const WakeRecord& record, std::int64_t now);
