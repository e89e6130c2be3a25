// Zone rules and the records of minutes around changes of the UTC offset.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "timecode/civil.h"
#include "app/schedule.h"
#include "timecode/zone.h"

// Seconds since 1970 of a UTC date and time.
static std::int64_t At(int year, int month, int day, int hour, int minute) {
    return DaysFromCivil(year, month, day) * kSecondsPerDay + hour * 3600 + minute * 60;
}

struct ChangeCase {
    int year;
    int marchDay, octoberDay;  // the last Sundays
};

TEST(Zone, EuChangesAndOffsetsAroundThem) {
    const ChangeCase cases[] = {
        {2009, 29, 25},
        {2010, 28, 31},  // 31 October a Sunday
        {2013, 31, 27},  // 31 March a Sunday
        {2021, 28, 31},
        {2024, 31, 27},  // leap year, 31 March a Sunday
        {2027, 28, 31},
        {2099, 29, 25},
    };
    for (const ChangeCase& c : cases) {
        const std::int64_t start = At(c.year, 3, c.marchDay, 1, 0);
        const std::int64_t end = At(c.year, 10, c.octoberDay, 1, 0);
        EXPECT_EQ(EuSummerTimeStart(c.year), start) << c.year;
        EXPECT_EQ(EuSummerTimeEnd(c.year), end) << c.year;
        EXPECT_EQ(ZoneAt(ZONE_CET, start - 1).offset, 3600) << c.year;
        EXPECT_EQ(ZoneAt(ZONE_CET, start).offset, 7200) << c.year;
        EXPECT_TRUE(ZoneAt(ZONE_CET, start).summer) << c.year;
        EXPECT_EQ(ZoneAt(ZONE_CET, end - 1).offset, 7200) << c.year;
        EXPECT_EQ(ZoneAt(ZONE_CET, end).offset, 3600) << c.year;
        EXPECT_FALSE(ZoneAt(ZONE_CET, end).summer) << c.year;
        EXPECT_EQ(ZoneAt(ZONE_UTC, start).offset, 0) << c.year;
    }
}

struct MinuteCase {
    const char* what;
    std::int64_t utc;  // the minute's start
    int year, month, day, weekDay, hour, minute;
    int announce, zoneBits;
};

template <std::size_t N>
static void ExpectMinutes(const MinuteCase (&cases)[N], Zone zone) {
    for (const MinuteCase& c : cases) {
        const DcfTime r = RecordForMinute(c.utc, zone);
        EXPECT_EQ(r.Year * 10000 + r.Month * 100 + r.Day, c.year * 10000 + c.month * 100 + c.day) << c.what;
        EXPECT_EQ(r.WeekDay, c.weekDay) << c.what;
        EXPECT_EQ(r.Hour * 100 + r.Minute, c.hour * 100 + c.minute) << c.what;
        EXPECT_EQ(r.SummerTimeAnnounce, c.announce) << c.what;
        EXPECT_EQ(r.ZoneBits, c.zoneBits) << c.what;
        EXPECT_EQ(r.LeapSecondAnnounce, 0) << c.what;
    }
}

TEST(Zone, CetMinutesAcrossChanges) {
    const MinuteCase cases[] = {
        // Spring 2010: 01:00 UTC on 28 March, 01:59 CET is followed by 03:00 CEST.
        {"01:00 CET", At(2010, 3, 28, 0, 0), 10, 3, 28, 7, 1, 0, 0, 2},
        {"01:01 CET announces", At(2010, 3, 28, 0, 1), 10, 3, 28, 7, 1, 1, 1, 2},
        {"01:59 CET", At(2010, 3, 28, 0, 59), 10, 3, 28, 7, 1, 59, 1, 2},
        {"03:00 CEST still announces", At(2010, 3, 28, 1, 0), 10, 3, 28, 7, 3, 0, 1, 1},
        {"03:01 CEST", At(2010, 3, 28, 1, 1), 10, 3, 28, 7, 3, 1, 0, 1},
        // Autumn 2010: 01:00 UTC on 31 October; 02:00-02:59 is sent twice.
        {"02:00 CEST", At(2010, 10, 31, 0, 0), 10, 10, 31, 7, 2, 0, 0, 1},
        {"02:01 CEST announces", At(2010, 10, 31, 0, 1), 10, 10, 31, 7, 2, 1, 1, 1},
        {"02:59 CEST", At(2010, 10, 31, 0, 59), 10, 10, 31, 7, 2, 59, 1, 1},
        {"02:00 CET, the hour again", At(2010, 10, 31, 1, 0), 10, 10, 31, 7, 2, 0, 1, 2},
        {"02:01 CET", At(2010, 10, 31, 1, 1), 10, 10, 31, 7, 2, 1, 0, 2},
        // 2027: 28 March and 31 October.
        {"2027 01:59 CET", At(2027, 3, 28, 0, 59), 27, 3, 28, 7, 1, 59, 1, 2},
        {"2027 03:00 CEST", At(2027, 3, 28, 1, 0), 27, 3, 28, 7, 3, 0, 1, 1},
        {"2027 03:01 CEST", At(2027, 3, 28, 1, 1), 27, 3, 28, 7, 3, 1, 0, 1},
        {"2027 02:59 CEST", At(2027, 10, 31, 0, 59), 27, 10, 31, 7, 2, 59, 1, 1},
        {"2027 02:00 CET", At(2027, 10, 31, 1, 0), 27, 10, 31, 7, 2, 0, 1, 2},
        // New Year 2009/10 in CET: the date changes at 23:00 UTC.
        {"Thursday 23:59 CET", At(2009, 12, 31, 22, 59), 9, 12, 31, 4, 23, 59, 0, 2},
        {"Friday 00:00 CET", At(2009, 12, 31, 23, 0), 10, 1, 1, 5, 0, 0, 0, 2},
    };
    ExpectMinutes(cases, ZONE_CET);
    // UTC: no zone bits, nothing announced, even at a change.
    const DcfTime utc = RecordForMinute(At(2010, 3, 28, 1, 0), ZONE_UTC);
    EXPECT_EQ(utc.Hour * 100 + utc.Minute, 100);
    EXPECT_EQ(utc.ZoneBits + utc.SummerTimeAnnounce, 0);
}

// Sets the C library's local zone for the test's duration. Windows' C
// library knows no zone names, only fixed offsets ("JST-9"); without TZ it
// takes the system's zone.
struct LocalZone : ::testing::Test {
    void Use(const char* zone) {
#ifdef _WIN32
        if (std::strchr(zone, '/') != nullptr) GTEST_SKIP() << "no zone names on Windows";
        _putenv_s("TZ", zone);
        _tzset();
#else
        setenv("TZ", zone, 1);
        tzset();
#endif
    }
    void TearDown() override {
#ifdef _WIN32
        _putenv_s("TZ", "");
        _tzset();
#else
        unsetenv("TZ");
        tzset();
#endif
    }
};

TEST_F(LocalZone, FixedOffsetEastOfUtc) {
    // Japan: nine hours east, no summer time, so standard time and nothing
    // announced; the date changes at 15:00 UTC.
    Use("JST-9");
    if (IsSkipped()) return;
    const DcfTime before = RecordForMinute(At(2024, 2, 28, 14, 59), ZONE_LOCAL);
    const DcfTime after = RecordForMinute(At(2024, 2, 28, 15, 0), ZONE_LOCAL);
    EXPECT_EQ(before.Day * 10000 + before.Hour * 100 + before.Minute, 282359);
    EXPECT_EQ(after.Month * 10000 + after.Day * 100 + after.Hour, 22900);
    EXPECT_EQ(after.WeekDay, 4);
    EXPECT_EQ(before.ZoneBits * 10 + before.SummerTimeAnnounce, 20);
    EXPECT_EQ(after.ZoneBits * 10 + after.SummerTimeAnnounce, 20);
}

TEST_F(LocalZone, BerlinSendsWhatCetSends) {
    Use("Europe/Berlin");
    if (IsSkipped()) return;
    for (std::int64_t change : {EuSummerTimeStart(2027), EuSummerTimeEnd(2027)})
        for (std::int64_t t = change - 2 * 3600; t <= change + 2 * 3600; t += 60) {
            const DcfTime local = RecordForMinute(t, ZONE_LOCAL);
            const DcfTime cet = RecordForMinute(t, ZONE_CET);
            ASSERT_EQ(std::memcmp(&local, &cet, sizeof local), 0) << t;
        }
}

TEST_F(LocalZone, NewYorkWestOfUtc) {
    Use("America/New_York");
    if (IsSkipped()) return;
    const MinuteCase cases[] = {
        // Spring 2027: 02:00 EST on Sunday 14 March (07:00 UTC) becomes 03:00 EDT.
        {"01:00 EST", At(2027, 3, 14, 6, 0), 27, 3, 14, 7, 1, 0, 0, 2},
        {"01:01 EST announces", At(2027, 3, 14, 6, 1), 27, 3, 14, 7, 1, 1, 1, 2},
        {"03:00 EDT", At(2027, 3, 14, 7, 0), 27, 3, 14, 7, 3, 0, 1, 1},
        {"03:01 EDT", At(2027, 3, 14, 7, 1), 27, 3, 14, 7, 3, 1, 0, 1},
        // The date changes at 05:00 UTC in winter: still Saturday before.
        {"Saturday 23:59 EST", At(2027, 3, 14, 4, 59), 27, 3, 13, 6, 23, 59, 0, 2},
        {"Sunday 00:00 EST", At(2027, 3, 14, 5, 0), 27, 3, 14, 7, 0, 0, 0, 2},
        {"New Year's Eve 19:00 EST", At(2028, 1, 1, 0, 0), 27, 12, 31, 5, 19, 0, 0, 2},
    };
    ExpectMinutes(cases, ZONE_LOCAL);
}

struct WindowCase {
    const char* what;
    Window windows[2];
    int count;
    std::int64_t frameStart;
    bool sent;
};

TEST_F(LocalZone, WindowsOfLocalTimeForOptionRuns) {
    // An hour east of UTC, where 01:55 local is 00:55 UTC.
    Use("CET-1");
    const WindowCase cases[] = {
        {"the first minute of a window", {{115, 135}}, 1, At(2027, 1, 10, 0, 55), true},
        {"the last", {{115, 135}}, 1, At(2027, 1, 10, 1, 14), true},
        {"its end is outside", {{115, 135}}, 1, At(2027, 1, 10, 1, 15), false},
        {"the second of two windows", {{115, 135}, {175, 195}}, 2, At(2027, 1, 10, 1, 56), true},
        {"between them", {{115, 135}, {175, 195}}, 2, At(2027, 1, 10, 1, 20), false},
        {"across midnight: before it", {{23 * 60 + 50, 10}}, 1, At(2027, 1, 10, 22, 55), true},
        {"across midnight: after it", {{23 * 60 + 50, 10}}, 1, At(2027, 1, 10, 23, 5), true},
        {"across midnight: outside", {{23 * 60 + 50, 10}}, 1, At(2027, 1, 10, 23, 10), false},
    };
    for (const WindowCase& c : cases) {
        TransmitSettings s{false, false, ZONE_UTC, STATION_DCF77};
        s.windows = c.windows;
        s.windowCount = c.count;
        EXPECT_EQ(MinuteIsSent(s, c.frameStart), c.sent) << c.what;
    }
}
