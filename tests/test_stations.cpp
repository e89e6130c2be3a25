// MSF, WWVB and JJY frames against the worked examples and rules of their
// operators' descriptions: one row per minute.
#include <gtest/gtest.h>

#include <string>

#include "timecode/civil.h"
#include "keying/keying.h"
#include "timecode/station.h"

static std::int64_t At(int year, int month, int day, int hour, int minute) {
    return DaysFromCivil(year, month, day) * kSecondsPerDay + hour * 3600 + minute * 60;
}

// A frame as the descriptions write it, a group of ten seconds a word: M a
// marker, C a Morse second; for MSF the A bits, then the B bits.
static std::string Written(Station station, std::int64_t carried) {
    std::uint8_t frame[60];
    if (station == STATION_MSF) MSF(frame, carried);
    if (station == STATION_WWVB) WWVB(frame, carried);
    if (station == STATION_JJY) JJY(frame, carried);
    std::string a, b;
    for (int second = 0; second < 60; ++second) {
        if (second > 0 && second % 10 == 0) {
            a += ' ';
            b += ' ';
        }
        const std::uint8_t s = frame[second];
        a += s == kMinuteMark ? 'M' : s == kMorse ? 'C' : s == kLongPulse || s == kMsfBoth ? '1' : '0';
        b += s == kMinuteMark ? 'M' : s == kMsfSplit || s == kMsfBoth ? '1' : '0';
    }
    return station == STATION_MSF ? "A " + a + " B " + b : a;
}

struct FrameCase {
    const char* what;
    Station station;
    std::int64_t carried;  // the minute the frame carries, UTC
    const char* written;
};

TEST(Stations, FramesOfTheDescriptions) {
    const FrameCase cases[] = {
        {"MSF Monday 15 January 2024, 12:34 GMT", STATION_MSF, At(2024, 1, 15, 12, 34),
         "A M000000000 0000000001 0010000001 0101010010 1001001101 0001111110 "
         "B M000000000 0000000000 0000000000 0000000000 0000000000 0000110000"},
        // Off-air, but for its DUT1 of -0.2 s (09B, 10B), which we send as 0.
        {"MSF Sunday 29 March 2020, 02:00 BST, just after the change", STATION_MSF, At(2020, 3, 29, 1, 0),
         "A M000000000 0000000001 0000000011 1010010000 0001000000 0001111110 "
         "B M000000000 0000000000 0000000000 0000000000 0000000000 0001001010"},
        {"MSF New Year 2025 in GMT", STATION_MSF, At(2025, 1, 1, 0, 0),
         "A M000000000 0000000001 0010100001 0000010110 0000000000 0001111110 "
         "B M000000000 0000000000 0000000000 0000000000 0000000000 0000011100"},
        // Off-air but for its DUT1 of -0.1 s (sign 010, 43 set): +0.0 is 101, 0000.
        {"WWVB Saturday 15 January 2022, 12:34 UTC", STATION_WWVB, At(2022, 1, 15, 12, 34),
         "M01100100M 000100010M 000000001M 010100101M 000000010M 001000000M"},
        {"WWVB Friday 1 March 2024, day 061 of a leap year", STATION_WWVB, At(2024, 3, 1, 0, 0),
         "M00000000M 000000000M 000000110M 000100101M 000000010M 010001000M"},
        {"WWVB day 366", STATION_WWVB, At(2024, 12, 31, 23, 59),
         "M10101001M 001000011M 001100110M 011000101M 000000010M 010001000M"},
        {"JJY Monday 15 January 2024, 12:34 JST", STATION_JJY, At(2024, 1, 15, 3, 34),
         "M01100100M 000100010M 000000001M 010100010M 000100100M 001000000M"},
        {"JJY Friday 10 June 2016, 17:15 JST: the call sign", STATION_JJY, At(2016, 6, 10, 8, 15),
         "M00100101M 000100111M 000100110M 001000010M CCCCCCCCCM 000000000M"},
        // The JST date changes at 15:00 UTC: 29 February 2024 is day 060.
        {"JJY 23:59 JST on Wednesday 28 February", STATION_JJY, At(2024, 2, 28, 14, 59),
         "M10101001M 001000011M 000000101M 100100100M 000100100M 011000000M"},
        {"JJY 00:00 JST on Thursday 29 February", STATION_JJY, At(2024, 2, 28, 15, 0),
         "M00000000M 000000000M 000000110M 000000000M 000100100M 100000000M"},
    };
    for (const FrameCase& c : cases) EXPECT_EQ(Written(c.station, c.carried), c.written) << c.what;
}

struct BitsCase {
    const char* what;
    Station station;
    std::int64_t carried;
    int warning, summer;  // MSF 53B and 58B; WWVB 57 and 58
};

TEST(Stations, SummerTimeBits) {
    const BitsCase cases[] = {
        // MSF: the recorded spring change of 2020 and the autumn change of 2024.
        {"23:59 GMT", STATION_MSF, At(2020, 3, 28, 23, 59), 0, 0},
        {"00:00 GMT", STATION_MSF, At(2020, 3, 29, 0, 0), 1, 0},
        {"00:59 GMT", STATION_MSF, At(2020, 3, 29, 0, 59), 1, 0},
        {"02:00 BST", STATION_MSF, At(2020, 3, 29, 1, 0), 1, 1},
        {"02:01 BST", STATION_MSF, At(2020, 3, 29, 1, 1), 0, 1},
        {"00:59 BST", STATION_MSF, At(2024, 10, 26, 23, 59), 0, 1},
        {"01:00 BST", STATION_MSF, At(2024, 10, 27, 0, 0), 1, 1},
        {"01:59 BST", STATION_MSF, At(2024, 10, 27, 0, 59), 1, 1},
        {"01:00 GMT", STATION_MSF, At(2024, 10, 27, 1, 0), 1, 0},
        {"01:01 GMT", STATION_MSF, At(2024, 10, 27, 1, 1), 0, 0},
        // WWVB 57: daylight time at the end of the UTC day, 58: at its start.
        {"standard time", STATION_WWVB, At(2022, 3, 12, 23, 59), 0, 0},
        {"the day it starts, from 00:00 UTC", STATION_WWVB, At(2022, 3, 13, 0, 0), 1, 0},
        {"the day it starts, all day", STATION_WWVB, At(2022, 3, 13, 23, 59), 1, 0},
        {"daylight time", STATION_WWVB, At(2022, 3, 14, 0, 0), 1, 1},
        {"the day it ends", STATION_WWVB, At(2021, 11, 7, 0, 0), 0, 1},
        {"standard again", STATION_WWVB, At(2021, 11, 8, 0, 0), 0, 0},
        {"the day it ends in 2022", STATION_WWVB, At(2022, 11, 6, 12, 0), 0, 1},
    };
    for (const BitsCase& c : cases) {
        std::uint8_t frame[60];
        const bool msf = c.station == STATION_MSF;
        if (msf) MSF(frame, c.carried);
        else WWVB(frame, c.carried);
        // MSF's B bits ride on A bits of 1; WWVB's bits are plain.
        const std::uint8_t set = msf ? kMsfBoth : kLongPulse;
        EXPECT_EQ(frame[msf ? 53 : 57] == set, c.warning == 1) << c.what;
        EXPECT_EQ(frame[58] == set, c.summer == 1) << c.what;
    }
}

struct PatternCase {
    const char* what;
    Station station;
    std::uint8_t symbol;
    int position;
    const char* periods;  // A asserted (carrier reduced), N negated, each with its end in ms
};

TEST(Stations, KeyingPatterns) {
    const PatternCase cases[] = {
        {"DCF77 0", STATION_DCF77, kShortPulse, 1, "A100 N1000"},
        {"DCF77 minute mark", STATION_DCF77, kMinuteMark, 59, "N1000"},
        {"MSF A0 B0", STATION_MSF, kShortPulse, 20, "A100 N1000"},
        {"MSF A1 B0", STATION_MSF, kLongPulse, 20, "A200 N1000"},
        {"MSF A1 B1", STATION_MSF, kMsfBoth, 54, "A300 N1000"},
        {"MSF A0 B1: off, on, off", STATION_MSF, kMsfSplit, 9, "A100 N200 A300 N1000"},
        {"MSF minute marker", STATION_MSF, kMinuteMark, 0, "A500 N1000"},
        {"WWVB 0", STATION_WWVB, kShortPulse, 4, "A200 N1000"},
        {"WWVB 1", STATION_WWVB, kLongPulse, 1, "A500 N1000"},
        {"WWVB marker", STATION_WWVB, kMinuteMark, 9, "A800 N1000"},
        // JJY starts each second at full carrier; the long one is a 0.
        {"JJY 0", STATION_JJY, kShortPulse, 4, "N800 A1000"},
        {"JJY 1", STATION_JJY, kLongPulse, 1, "N500 A1000"},
        {"JJY marker", STATION_JJY, kMinuteMark, 0, "N200 A1000"},
        // "JJY JJY" at 90 ms a unit: J's dot and two dashes, into second 41.
        {"JJY Morse, second 40", STATION_JJY, kMorse, 40, "N90 A180 N450 A540 N810 A900 N1000"},
        // J ends at 170; the next J begins 270 ms later (dot, then dashes).
        {"JJY Morse, second 41", STATION_JJY, kMorse, 41, "N170 A440 N530 A620 N890 A980 N1000"},
        // The last Y's dot ends 10 ms into second 48, its last dash at 730.
        {"JJY Morse, second 48", STATION_JJY, kMorse, 48, "N10 A100 N370 A460 N730 A1000"},
    };
    for (const PatternCase& c : cases) {
        const SecondPattern p = PatternOf(c.station, c.symbol, c.position);
        std::string periods;
        for (int i = 0; i < p.count; ++i)
            periods += (i > 0 ? " " : "") + std::string(p.asserted[i] ? "A" : "N") + std::to_string(p.end[i]);
        EXPECT_EQ(periods, c.periods) << c.what;
    }
    // Every second of every code fills the second, and its periods end on
    // whole 10 ms, where the transmitter keeps their scaled lengths.
    for (Station station : {STATION_DCF77, STATION_MSF, STATION_WWVB, STATION_JJY})
        for (std::uint8_t symbol = 0; symbol <= kMorse; ++symbol)
            for (int position = 40; position <= 48; ++position) {
                const SecondPattern p = PatternOf(station, symbol, position);
                ASSERT_EQ(p.end[p.count - 1], 1000) << station << " " << int(symbol) << " " << position;
                for (int i = 0; i < p.count; ++i) ASSERT_EQ(p.end[i] % 10, 0) << station << " " << position;
            }
}
