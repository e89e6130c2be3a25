// The broadcast time and its DCF77 encoding: one record per minute, one
// 60-symbol frame built from it, and the calendar that steps it.
#pragma once

#include <cstdint>
#include <ctime>

// The minute that begins when the frame built from this record ends.
struct DcfTime {
    std::int32_t Year;                // year within the century, 0..99
    std::int32_t Month;               // 1..12
    std::int32_t Day;                 // 1..31
    std::int32_t WeekDay;             // 1 = Monday .. 7 = Sunday
    std::int32_t Hour;                // 0..23
    std::int32_t Minute;              // 0..59
    std::int32_t Second;              // of the clock reading; never encoded
    std::int32_t LeapSecondAnnounce;  // 0 or 1
    std::int32_t SummerTimeAnnounce;  // 0 or 1
    std::int32_t ZoneBits;            // bit 1: summer time, bit 2: standard time
};

// One symbol per second of the minute.
constexpr int kFrameLength = 60;
constexpr std::uint8_t kShortPulse = 0;  // bit value 0
constexpr std::uint8_t kLongPulse = 1;   // bit value 1
constexpr std::uint8_t kMinuteMark = 2;  // no pulse at all

// 1 when the BCD digit of `value` selected by `weight` has that bit set:
// weights 1..8 test the units, 10..80 the whole quotient by ten.
int GetBit(std::int32_t value, std::int32_t weight);

// Even parity over frame[from] .. frame[to - 1]; clears frame[to] first.
int Parity(std::uint8_t* frame, int from, int to);

// Fills all 60 symbols of `frame` from `record`.
void DCF77(std::uint8_t* frame, const DcfTime& record);

int LEAP_YEAR(std::int32_t year);
int DAYS_IN_MONTH(std::int32_t year, std::int32_t month);

// Sets the record from a UTC reading broken down as gmtime does.
void FillFromUtc(DcfTime& record, const std::tm& utc);

// Steps the record one minute ahead across hour, day, month and year.
void AdvanceMinute(DcfTime& record);
