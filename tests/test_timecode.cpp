#include <gtest/gtest.h>

#include <string>

#include "timecode/timecode.h"

// The frame as digits, grouped as 0-15 16-20 21-28 29-35 36-41 42-44 45-49
// 50-57 58 59.
static std::string FrameText(const DcfTime& record) {
    std::uint8_t frame[kFrameLength];
    DCF77(frame, record);
    static const int kGroupEnds[] = {15, 20, 28, 35, 41, 44, 49, 57, 58};
    std::string text;
    int group = 0;
    for (int i = 0; i < kFrameLength; ++i) {
        text += static_cast<char>('0' + frame[i]);
        if (group < 9 && i == kGroupEnds[group]) {
            text += ' ';
            ++group;
        }
    }
    return text;
}

static DcfTime Record(int year, int month, int day, int weekDay, int hour, int minute) {
    return DcfTime{year, month, day, weekDay, hour, minute, 0, 0, 0, 0};
}

TEST(Frame, WorkedExamples) {
    EXPECT_EQ(FrameText(Record(9, 12, 11, 5, 3, 24)),
              "0000000000000000 00001 00100100 1100000 100010 101 01001 10010000 0 2");
    EXPECT_EQ(FrameText(Record(10, 1, 1, 5, 0, 0)),
              "0000000000000000 00001 00000000 0000000 100000 101 10000 00001000 1 2");
}

TEST(Frame, FixedSymbolsAndFlags) {
    DcfTime r = Record(26, 12, 7, 1, 4, 23);
    std::uint8_t frame[kFrameLength];
    DCF77(frame, r);
    for (int i = 0; i <= 19; ++i) EXPECT_EQ(frame[i], 0) << "symbol " << i;  // UTC: no zone, no announcement
    EXPECT_EQ(frame[20], 1);
    EXPECT_EQ(frame[59], kMinuteMark);

    r.SummerTimeAnnounce = 1;
    r.ZoneBits = 1;  // summer time in force
    r.LeapSecondAnnounce = 1;
    DCF77(frame, r);
    EXPECT_EQ(frame[16], 1);
    EXPECT_EQ(frame[17], 1);
    EXPECT_EQ(frame[18], 0);
    EXPECT_EQ(frame[19], 1);
    r.ZoneBits = 2;  // standard time in force
    DCF77(frame, r);
    EXPECT_EQ(frame[17], 0);
    EXPECT_EQ(frame[18], 1);
}

TEST(Frame, ParitiesAreEven) {
    // Midnight: minute and hour digits and their parities all zero.
    EXPECT_EQ(FrameText(Record(0, 1, 1, 6, 0, 0)).substr(23, 16), "00000000 0000000");
    // The date parity covers weekday, month and year, not only the day.
    std::uint8_t a[kFrameLength], b[kFrameLength];
    DCF77(a, Record(9, 12, 11, 5, 3, 24));
    DCF77(b, Record(9, 12, 11, 4, 3, 24));
    EXPECT_NE(a[58], b[58]);
    // Every field combination keeps each parity group even.
    for (int minute = 0; minute < 60; ++minute)
        for (int hour = 0; hour < 24; hour += 5) {
            DCF77(a, Record(minute, 1 + minute % 12, 1 + minute % 31, 1 + minute % 7, hour, minute));
            int ones[3] = {0, 0, 0};
            for (int i = 21; i <= 28; ++i) ones[0] += a[i];
            for (int i = 29; i <= 35; ++i) ones[1] += a[i];
            for (int i = 36; i <= 58; ++i) ones[2] += a[i];
            EXPECT_EQ(ones[0] % 2, 0);
            EXPECT_EQ(ones[1] % 2, 0);
            EXPECT_EQ(ones[2] % 2, 0);
        }
}

TEST(Frame, GetBitTestsUnitsThenWholeTens) {
    EXPECT_EQ(GetBit(24, 20), 1);
    EXPECT_EQ(GetBit(24, 10), 0);
    EXPECT_EQ(GetBit(24, 4), 1);
    EXPECT_EQ(GetBit(24, 1), 0);
    // A year of 100 has a tens part of 10, not 0.
    EXPECT_EQ(GetBit(100, 80), 1);
    EXPECT_EQ(GetBit(100, 20), 1);
    EXPECT_EQ(GetBit(100, 40), 0);
    EXPECT_EQ(GetBit(100, 1), 0);
}

TEST(Calendar, LeapYears) {
    EXPECT_EQ(LEAP_YEAR(0), 1);
    EXPECT_EQ(LEAP_YEAR(8), 1);
    EXPECT_EQ(LEAP_YEAR(9), 0);
    EXPECT_EQ(LEAP_YEAR(100), 0);
    EXPECT_EQ(LEAP_YEAR(400), 1);
    EXPECT_EQ(LEAP_YEAR(2024), 1);
    EXPECT_EQ(DAYS_IN_MONTH(9, 2), 28);
    EXPECT_EQ(DAYS_IN_MONTH(96, 2), 29);
    EXPECT_EQ(DAYS_IN_MONTH(9, 4), 30);
    EXPECT_EQ(DAYS_IN_MONTH(9, 12), 31);
}

struct StepCase {
    const char* what;
    DcfTime before, after;
};

TEST(Calendar, AdvanceMinute) {
    const StepCase cases[] = {
        {"year end, Thursday to Friday", {9, 12, 31, 4, 23, 59, 0, 1, 0, 0}, {10, 1, 1, 5, 0, 0, 0, 0, 0, 0}},
        {"28 February, year 8 is leap", {8, 2, 28, 4, 23, 59, 0, 0, 0, 0}, {8, 2, 29, 5, 0, 0, 0, 0, 0, 0}},
        {"28 February, year 0 is leap", {0, 2, 28, 1, 23, 59, 0, 0, 0, 0}, {0, 2, 29, 2, 0, 0, 0, 0, 0, 0}},
        {"28 February, year 9 is not", {9, 2, 28, 6, 23, 59, 0, 0, 0, 0}, {9, 3, 1, 7, 0, 0, 0, 0, 0, 0}},
        {"29 February to 1 March", {24, 2, 29, 4, 23, 59, 0, 0, 0, 0}, {24, 3, 1, 5, 0, 0, 0, 0, 0, 0}},
        {"Sunday to Monday", {9, 12, 13, 7, 23, 59, 0, 0, 0, 0}, {9, 12, 14, 1, 0, 0, 0, 0, 0, 0}},
        {"30 April to 1 May", {9, 4, 30, 4, 23, 59, 0, 0, 0, 0}, {9, 5, 1, 5, 0, 0, 0, 0, 0, 0}},
        {"hour carry", {9, 6, 15, 1, 13, 59, 0, 0, 0, 0}, {9, 6, 15, 1, 14, 0, 0, 0, 0, 0}},
        {"plain minute; second and flags kept", {9, 6, 15, 1, 12, 30, 42, 1, 1, 3}, {9, 6, 15, 1, 12, 31, 42, 1, 1, 3}},
        {"year 99 wraps to 0", {99, 12, 31, 4, 23, 59, 0, 0, 0, 0}, {0, 1, 1, 5, 0, 0, 0, 0, 0, 0}},
    };
    for (const StepCase& c : cases) {
        DcfTime r = c.before;
        AdvanceMinute(r);
        EXPECT_EQ(FrameText(r), FrameText(c.after)) << c.what;
        EXPECT_EQ(r.Second, c.after.Second) << c.what;
        EXPECT_EQ(r.ZoneBits, c.after.ZoneBits) << c.what;
        EXPECT_EQ(r.Year, c.after.Year) << c.what;
    }
}

struct FillCase {
    const char* what;
    int tmYear, tmMon, tmMday, tmWday, tmHour, tmMin, tmSec;
    DcfTime expected;
};

TEST(Calendar, FillFromUtc) {
    const FillCase cases[] = {
        {"Sunday is 7", 109, 11, 13, 0, 10, 20, 30, {9, 12, 13, 7, 10, 20, 30, 0, 0, 0}},
        {"January is 1, 2000 is 0", 100, 0, 1, 6, 0, 0, 0, {0, 1, 1, 6, 0, 0, 0, 0, 0, 0}},
        {"Monday is 1", 126, 11, 7, 1, 4, 23, 59, {26, 12, 7, 1, 4, 23, 59, 0, 0, 0}},
        {"year 2100 is 0", 200, 2, 1, 1, 0, 0, 0, {0, 3, 1, 1, 0, 0, 0, 0, 0, 0}},
    };
    for (const FillCase& c : cases) {
        std::tm utc{};
        utc.tm_year = c.tmYear;
        utc.tm_mon = c.tmMon;
        utc.tm_mday = c.tmMday;
        utc.tm_wday = c.tmWday;
        utc.tm_hour = c.tmHour;
        utc.tm_min = c.tmMin;
        utc.tm_sec = c.tmSec;
        DcfTime r{1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
        FillFromUtc(r, utc);
        const DcfTime& e = c.expected;
        EXPECT_EQ(r.Year, e.Year) << c.what;
        EXPECT_EQ(r.Month, e.Month) << c.what;
        EXPECT_EQ(r.Day, e.Day) << c.what;
        EXPECT_EQ(r.WeekDay, e.WeekDay) << c.what;
        EXPECT_EQ(r.Hour, e.Hour) << c.what;
        EXPECT_EQ(r.Minute, e.Minute) << c.what;
        EXPECT_EQ(r.Second, e.Second) << c.what;
        EXPECT_EQ(r.LeapSecondAnnounce + r.SummerTimeAnnounce + r.ZoneBits, 0) << c.what;
    }
}

// Stepping minute by minute must agree with the C library's calendar for
// every minute of four years across the leap day of 2024.
TEST(Calendar, SteppingFollowsGmtime) {
    std::time_t t = 1672531200;  // 2023-01-01 00:00 UTC
    DcfTime r{};
    FillFromUtc(r, *std::gmtime(&t));
    for (int i = 0; i < 4 * 366 * 24 * 60; ++i) {
        AdvanceMinute(r);
        t += 60;
        DcfTime expected{};
        FillFromUtc(expected, *std::gmtime(&t));
        ASSERT_EQ(FrameText(r), FrameText(expected)) << "minute " << i;
    }
}
