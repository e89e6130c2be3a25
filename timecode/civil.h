// Calendar arithmetic on seconds since 1970, independent of the C library's
// time-zone state, for any instant a 64-bit count holds.
#pragma once

#include <cstdint>
#include <ctime>

constexpr std::int64_t kSecondsPerDay = 86'400;

// Floor division and the matching remainder (0 .. divisor - 1).
std::int64_t FloorDiv(std::int64_t value, std::int64_t divisor);
std::int64_t FloorMod(std::int64_t value, std::int64_t divisor);

// The fields gmtime gives for `seconds` since 1970-01-01 00:00 (tm_year,
// tm_mon, tm_mday, tm_wday, tm_yday, tm_hour, tm_min, tm_sec; tm_isdst 0).
std::tm BreakDownSeconds(std::int64_t seconds);

// Days since 1970-01-01 of a date in the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(std::int64_t year, int month, int day);
