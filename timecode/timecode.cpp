#include "timecode.h"

#include <cassert>

int GetBit(std::int32_t value, std::int32_t weight) {
    if (weight <= 9) return (value % 10 & weight) != 0;
    return (value / 10 & weight / 10) != 0;
}

int Parity(std::uint8_t* frame, int from, int to) {
    frame[to] = 0;
    for (int i = from; i < to; ++i) frame[to] = static_cast<std::uint8_t>(frame[to] + frame[i]);
    return frame[to] & 1;
}

// Writes the BCD digits of `value` into consecutive symbols starting at
// `first`, one per weight, lowest weight first.
static int PutWeighted(std::uint8_t* frame, int first, std::int32_t value, const int* weights,
                       int count) {
    for (int i = 0; i < count; ++i) frame[first + i] = static_cast<std::uint8_t>(GetBit(value, weights[i]));
    return first + count;
}

void DCF77(std::uint8_t* frame, const DcfTime& record) {
    static const int kMinuteWeights[] = {1, 2, 4, 8, 10, 20, 40};
    static const int kHourWeights[] = {1, 2, 4, 8, 10, 20};
    static const int kDayWeights[] = {1, 2, 4, 8, 10, 20};
    static const int kWeekDayWeights[] = {1, 2, 4};
    static const int kMonthWeights[] = {1, 2, 4, 8, 10};
    static const int kYearWeights[] = {1, 2, 4, 8, 10, 20, 40, 80};

    // Bits 0-15: minute start, weather and call bit, all sent as 0.
    for (int i = 0; i <= 15; ++i) frame[i] = 0;
    frame[16] = static_cast<std::uint8_t>(record.SummerTimeAnnounce);  // A1
    frame[17] = static_cast<std::uint8_t>(GetBit(record.ZoneBits, 1));   // Z1, summer time
    frame[18] = static_cast<std::uint8_t>(GetBit(record.ZoneBits, 2));   // Z2, standard time
    frame[19] = static_cast<std::uint8_t>(record.LeapSecondAnnounce);    // A2
    frame[20] = 1;                                                       // S, start of time

    PutWeighted(frame, 21, record.Minute, kMinuteWeights, 7);
    frame[28] = static_cast<std::uint8_t>(Parity(frame, 21, 28));  // P1
    PutWeighted(frame, 29, record.Hour, kHourWeights, 6);
    frame[35] = static_cast<std::uint8_t>(Parity(frame, 29, 35));  // P2
    int next = PutWeighted(frame, 36, record.Day, kDayWeights, 6);
    next = PutWeighted(frame, next, record.WeekDay, kWeekDayWeights, 3);
    next = PutWeighted(frame, next, record.Month, kMonthWeights, 5);
    PutWeighted(frame, next, record.Year, kYearWeights, 8);
    frame[58] = static_cast<std::uint8_t>(Parity(frame, 36, 58));  // P3 covers the whole date
    frame[59] = kMinuteMark;
}

int LEAP_YEAR(std::int32_t year) {
    if (year % 4 != 0) return 0;
    if (year % 400 == 0) return 1;
    if (year % 100 == 0) return 0;
    return 1;
}

int DAYS_IN_MONTH(std::int32_t year, std::int32_t month) {
    static const int kCommon[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    static const int kLeap[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    assert(month >= 1 && month <= 12);
    return LEAP_YEAR(year) ? kLeap[month - 1] : kCommon[month - 1];
}

void FillFromUtc(DcfTime& record, const std::tm& utc) {
    // Computed in 64 bits: tm_year + 1900 must not overflow for any reading.
    record.Year = static_cast<std::int32_t>((static_cast<std::int64_t>(utc.tm_year) + 1900) % 100);
    record.Month = utc.tm_mon + 1;
    record.Day = utc.tm_mday;
    record.WeekDay = utc.tm_wday == 0 ? 7 : utc.tm_wday;
    record.Hour = utc.tm_hour;
    record.Minute = utc.tm_min;
    record.Second = utc.tm_sec;
    record.LeapSecondAnnounce = 0;
    record.SummerTimeAnnounce = 0;
    record.ZoneBits = 0;
}

void AdvanceMinute(DcfTime& record) {
    if (++record.Minute == 60) {
        record.Minute = 0;
        ++record.Hour;
    }
    if (record.Hour == 24) {
        record.Hour = 0;
        ++record.Day;
        if (++record.WeekDay == 8) record.WeekDay = 1;
    }
    if (record.Day > DAYS_IN_MONTH(record.Year, record.Month)) {
        record.Day = 1;
        ++record.Month;
        record.LeapSecondAnnounce = 0;
    }
    if (record.Month == 13) {
        record.Month = 1;
        // The frame carries two BCD digits of year; 99 steps to 0, not 100.
        if (++record.Year == 100) record.Year = 0;
    }
}
