// What option runs send: the frame that carries a chosen minute, windows
// of local time, and the status line.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "app/schedule.h"
#include "timecode/civil.h"

static std::int64_t At(int year, int month, int day, int hour, int minute) {
    return DaysFromCivil(year, month, day) * kSecondsPerDay + hour * 3600 + minute * 60;
}

struct ChosenTimeCase {
    const char* what;
    Station station;
    Zone zone;
    std::int32_t offset;
    ClockMinute shown;
    std::int64_t frameStart;  // UTC; -1: the minute never occurs
};

TEST(Schedule, TheFrameThatCarriesAChosenMinute) {
    const std::int64_t never = -1;
    const ChosenTimeCase cases[] = {
        // EU spring change 2027: 01:59 CET, then 03:00 CEST one minute later.
        {"01:59 CET", STATION_DCF77, ZONE_CET, 0, {2027, 3, 28, 1, 59}, At(2027, 3, 28, 0, 58)},
        {"03:00 CEST", STATION_DCF77, ZONE_CET, 0, {2027, 3, 28, 3, 0}, At(2027, 3, 28, 0, 59)},
        {"02:30 in the skipped hour", STATION_DCF77, ZONE_CET, 0, {2027, 3, 28, 2, 30}, never},
        // Autumn: 02:30 occurs twice, in summer time first.
        {"02:30 doubled: the first", STATION_DCF77, ZONE_CET, 0, {2027, 10, 31, 2, 30}, At(2027, 10, 31, 0, 29)},
        {"29 February", STATION_DCF77, ZONE_CET, 0, {2024, 2, 29, 0, 0}, At(2024, 2, 28, 22, 59)},
        {"year end in UTC", STATION_DCF77, ZONE_UTC, 0, {2010, 1, 1, 0, 0}, At(2009, 12, 31, 23, 59)},
        // Shown with an offset: the clock reads 01:30 more than UTC.
        {"UTC+1:30", STATION_DCF77, ZONE_UTC, 5400, {2010, 1, 1, 1, 30}, At(2009, 12, 31, 23, 59)},
        // The other stations in their own time; WWVB and JJY carry the
        // minute a frame fills.
        {"MSF: the skipped hour", STATION_MSF, ZONE_UTC, 0, {2027, 3, 28, 1, 30}, never},
        {"MSF: 01:30 BST first", STATION_MSF, ZONE_UTC, 0, {2027, 10, 31, 1, 30}, At(2027, 10, 31, 0, 29)},
        {"WWVB New Year", STATION_WWVB, ZONE_UTC, 0, {2025, 1, 1, 0, 0}, At(2025, 1, 1, 0, 0)},
        {"JJY 29 February", STATION_JJY, ZONE_UTC, 0, {2024, 2, 29, 0, 0}, At(2024, 2, 28, 15, 0)},
        {"JJY worn in UTC+8", STATION_JJY, ZONE_UTC, -3600, {2024, 2, 29, 0, 0}, At(2024, 2, 28, 16, 0)},
    };
    for (const ChosenTimeCase& c : cases) {
        std::int64_t start = 0;
        const bool found = FrameStartShowing(c.station, c.zone, c.offset, c.shown, &start);
        ASSERT_EQ(found, c.frameStart != never) << c.what;
        if (!found) continue;
        EXPECT_EQ(start, c.frameStart) << c.what;
        // Keyed ten minutes later, the frames are those sent at the chosen
        // time itself, minute after minute.
        TransmitSettings s{false, false, c.zone, c.station};
        s.offset = c.offset;
        s.shift = -600;
        for (int minute = 0; minute < 3; ++minute) {
            std::uint8_t keyed[60], sent[60];
            BuildKeyedFrame(s, start + 600 + minute * 60, keyed);
            BuildFrame(c.station, c.zone, start + minute * 60, sent, c.offset);
            EXPECT_EQ(std::memcmp(keyed, sent, 60), 0) << c.what << ", minute " << minute;
        }
    }
}
