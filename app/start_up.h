// What both transmit loops do before their first frame, and the start-up
// waits: of a run started with options, and of the dialogue.
#pragma once

#include <cstdint>

#include "app/schedule.h"

// Loads what building frames needs, so that no onset waits for it: the C
// library reads the local zone's rules on first use. `now` is any recent
// UTC second.
void LoadFrameRules(const TransmitSettings& settings, std::int64_t now);

// How long before its minute the start-up wait of an option run ends: time
// for the work before the first onset, which then pauses out the rest;
// also where the dialogue's stops sleeping in steps.
constexpr std::int64_t kStartLeadNanoseconds = 50'000'000;

// The UTC minute (seconds since 1970) that begins next, at least
// kStartLeadNanoseconds after the UTC reading `utc` (ns since 1970) taken
// at monotonic `instant`; returns the monotonic instant it begins at.
std::int64_t NextMinuteStart(std::int64_t utc, std::int64_t instant, std::int64_t* minute);

// The start-up wait of an option run: sleeps until kStartLeadNanoseconds
// before the next minute, learning the timer's lateness on the way, and
// returns the monotonic instant that minute begins at, the minute itself
// in `minute`.
std::int64_t WaitUntilShortlyBeforeMinute(std::int64_t* minute);

// The dialogue's start-up wait: for the next UTC minute however near (a
// start inside second 0 waits for the one after), sleeping until
// kStartLeadNanoseconds before it, learning the timer's lateness on the
// way, then pausing out the rest. Returns once that minute has begun: the
// monotonic instant it began at, the minute itself in `minute`.
std::int64_t WaitForNextMinute(std::int64_t* minute);
