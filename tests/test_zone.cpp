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

static void ExpectMinute(const MinuteCase& c, Zone zone) {
    const DcfTime r = RecordForMinute(c.utc, zone);
    EXPECT_EQ(r.Year * 10000 + r.Month * 100 + r.Day, c.year * 10000 + c.month * 100 + c.day) << c.what;
    EXPECT_EQ(r.WeekDay, c.weekDay) << c.what;
    EXPECT_EQ(r.Hour * 100 + r.Minute, c.hour * 100 + c.minute) << c.what;
    EXPECT_EQ(r.SummerTimeAnnounce, c.announce) << c.what;
    EXPECT_EQ(r.ZoneBits, c.zoneBits) << c.what;
    EXPECT_EQ(r.LeapSecondAnnounce, 0) << c.what;
}

template <std::size_t N>
static void ExpectMinutes(const MinuteCase (&cases)[N], Zone zone) {
    for (const MinuteCase& c : cases) ExpectMinute(c, zone);
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
        if (!Usable(zone)) GTEST_SKIP() << "no zone names on Windows";
        Set(zone);
    }
    // Whether the C library here knows `zone`.
    static bool Usable(const char* zone) {
#ifdef _WIN32
        return std::strchr(zone, '/') == nullptr;
#else
        (void)zone;
        return true;
#endif
    }
    static void Set(const char* zone) {
#ifdef _WIN32
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

struct LocalMinuteCase {
    const char* zone;  // TZ
    MinuteCase minute;
};

TEST_F(LocalZone, MinutesAcrossChanges) {
    const LocalMinuteCase cases[] = {
        // Spring 2027: 02:00 EST on Sunday 14 March (07:00 UTC) becomes 03:00 EDT.
        {"America/New_York", {"01:00 EST", At(2027, 3, 14, 6, 0), 27, 3, 14, 7, 1, 0, 0, 2}},
        {"America/New_York", {"01:01 EST announces", At(2027, 3, 14, 6, 1), 27, 3, 14, 7, 1, 1, 1, 2}},
        {"America/New_York", {"03:00 EDT", At(2027, 3, 14, 7, 0), 27, 3, 14, 7, 3, 0, 1, 1}},
        {"America/New_York", {"03:01 EDT", At(2027, 3, 14, 7, 1), 27, 3, 14, 7, 3, 1, 0, 1}},
        // The date changes at 05:00 UTC in winter: still Saturday before.
        {"America/New_York", {"Saturday 23:59 EST", At(2027, 3, 14, 4, 59), 27, 3, 13, 6, 23, 59, 0, 2}},
        {"America/New_York", {"Sunday 00:00 EST", At(2027, 3, 14, 5, 0), 27, 3, 14, 7, 0, 0, 0, 2}},
        {"America/New_York", {"New Year's Eve 19:00 EST", At(2028, 1, 1, 0, 0), 27, 12, 31, 5, 19, 0, 0, 2}},
        // Ireland: the C library calls winter (GMT) daylight saving time;
        // summer (IST) is still summer time.
        {"Europe/Dublin", {"Dublin winter, standard", At(2027, 1, 13, 12, 0), 27, 1, 13, 3, 12, 0, 0, 2}},
        {"Europe/Dublin", {"00:59 GMT announces", At(2027, 3, 28, 0, 59), 27, 3, 28, 7, 0, 59, 1, 2}},
        {"Europe/Dublin", {"02:00 IST, summer", At(2027, 3, 28, 1, 0), 27, 3, 28, 7, 2, 0, 1, 1}},
        {"Europe/Dublin", {"02:01 IST", At(2027, 3, 28, 1, 1), 27, 3, 28, 7, 2, 1, 0, 1}},
        {"Europe/Dublin", {"01:59 IST announces", At(2027, 10, 31, 0, 59), 27, 10, 31, 7, 1, 59, 1, 1}},
        {"Europe/Dublin", {"01:00 GMT again", At(2027, 10, 31, 1, 0), 27, 10, 31, 7, 1, 0, 1, 2}},
        // Morocco: UTC+1 all year but the weeks around Ramadan (2025: from
        // 23 February to 6 April, UTC+0), which are its standard time.
        {"Africa/Casablanca", {"Casablanca January, summer", At(2025, 1, 15, 12, 0), 25, 1, 15, 3, 13, 0, 0, 1}},
        {"Africa/Casablanca", {"02:59 +01 announces", At(2025, 2, 23, 1, 59), 25, 2, 23, 7, 2, 59, 1, 1}},
        {"Africa/Casablanca", {"02:00 +00, standard", At(2025, 2, 23, 2, 0), 25, 2, 23, 7, 2, 0, 1, 2}},
        {"Africa/Casablanca", {"02:01 +00", At(2025, 2, 23, 2, 1), 25, 2, 23, 7, 2, 1, 0, 2}},
        {"Africa/Casablanca", {"03:00 +01 after Ramadan", At(2025, 4, 6, 2, 0), 25, 4, 6, 7, 3, 0, 1, 1}},
        // Offsets off the minute, rounded: a zone counting leap seconds is
        // 27 s short of CET; one 20 s past 01:30.
        {"right/Europe/Berlin", {"13:01 CET despite leap seconds", At(2025, 1, 15, 12, 1), 25, 1, 15, 3, 13, 1, 0, 2}},
        {"right/Europe/Berlin", {"14:01 CEST", At(2025, 7, 14, 12, 1), 25, 7, 14, 1, 14, 1, 0, 1}},
        {"XYZ-1:30:20", {"13:31 at +01:30:20", At(2027, 1, 13, 12, 1), 27, 1, 13, 3, 13, 31, 0, 2}},
    };
    for (const LocalMinuteCase& c : cases) {
        if (!Usable(c.zone)) continue;
        Set(c.zone);
        ExpectMinute(c.minute, ZONE_LOCAL);
    }
}

struct LocalOffsetCase {
    const char* zone;  // TZ
    std::int64_t utc;
    std::int32_t offset, roundedBy;
    bool summer;
};

TEST_F(LocalZone, OffsetsToTheMinuteAndSummerTime) {
    const LocalOffsetCase cases[] = {
        {"Europe/Dublin", At(2027, 1, 13, 12, 0), 0, 0, false},
        {"Europe/Dublin", At(2027, 7, 14, 12, 0), 3600, 0, true},
        {"Africa/Casablanca", At(2025, 3, 24, 12, 0), 0, 0, false},  // Ramadan
        {"Africa/Casablanca", At(2025, 7, 14, 12, 0), 3600, 0, true},
        // Summer around New Year, in the south.
        {"Australia/Sydney", At(2027, 1, 13, 12, 0), 11 * 3600, 0, true},
        {"Australia/Sydney", At(2027, 7, 14, 12, 0), 10 * 3600, 0, false},
        {"JST-9", At(2027, 7, 14, 12, 0), 9 * 3600, 0, false},  // never changes
        {"right/Europe/Berlin", At(2025, 1, 15, 12, 0), 3600, 27, false},
        {"right/Europe/Berlin", At(2025, 7, 14, 12, 0), 7200, 27, true},
        {"XYZ-1:30:20", At(2027, 1, 13, 12, 0), 5400, -20, false},
        {"XYZ+0:00:40", At(2027, 1, 13, 12, 0), -60, -20, false},  // 40 s west
    };
    for (const LocalOffsetCase& c : cases) {
        if (!Usable(c.zone)) continue;
        Set(c.zone);
        const ZoneState state = ZoneAt(ZONE_LOCAL, c.utc);
        EXPECT_EQ(state.offset, c.offset) << c.zone << " at " << c.utc;
        EXPECT_EQ(state.roundedBy, c.roundedBy) << c.zone << " at " << c.utc;
        EXPECT_EQ(state.summer, c.summer) << c.zone << " at " << c.utc;
    }
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
