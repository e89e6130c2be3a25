// The whole program sending MSF, WWVB and JJY on the simulated platform,
// across a day boundary of each station's time scale, received by an
// independent decoder for each.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <sstream>
#include <string>

#include "program_run.h"
#include "station_decoder.h"

struct StationRunCase {
    const char* station;
    std::int64_t startUtcMs;
    int runSeconds;
    const char* durations;
    std::int64_t carriedAfterStart;  // s from a frame's start to the minute it carries
    std::int32_t offset;             // of the station's time scale from UTC, s
    std::size_t frames;              // at least
};

TEST(StationProgram, EachStationAcrossItsDayBoundary) {
    const StationRunCase cases[] = {
        // GMT in winter: New Year 2025 is carried by the frame keyed from 23:59 UTC.
        {"msf", 1735689450000, 30 + 5 * 60, "100\t200\t300\t500\t1000\n", 60, 0, 4},
        // Day 366 of 2024 (a leap year) to day 1 of 2025.
        {"wwvb", 1735689450000, 30 + 5 * 60, "200\t500\t800\t1000\n", 0, 0, 4},
        // 15:00 UTC is midnight in Japan: 28 February to 29 February 2024,
        // and 00:15 JST is a call-sign minute.
        {"jjy", 1709132250000, 30 + 20 * 60, "200\t500\t800\t1000\n", 0, 9 * 3600, 19},
    };
    for (const StationRunCase& c : cases) {
        RunSettings settings{"", c.startUtcMs, c.runSeconds};
        settings.arguments = std::string("--station ") + c.station + " --follow --verbose";
        const ProgramRun run = RunProgram(settings);
        ASSERT_EQ(run.status, 0) << c.station << run.err;
        // Every status line fits in 100 columns.
        std::istringstream lines(run.out);
        for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 100u) << line;
        EXPECT_EQ(run.out.substr(0, run.out.find('\n') + 1), c.durations) << c.station;
        std::vector<Edge> dtr;
        for (const Change& ch : run.changes)
            if (ch.change == 5 || ch.change == 6) dtr.push_back({ch.utc, ch.change == 5});
        const std::vector<StationFrame> frames = DecodeStationFrames(c.station, ReadSeconds(c.station, dtr), dtr);
        ASSERT_GE(frames.size(), c.frames) << c.station;
        bool callSignSeen = false;
        for (const StationFrame& f : frames) {
            const std::string what = std::string(c.station) + " frame at " + std::to_string(f.start);
            ASSERT_EQ(f.error, "") << what;
            ASSERT_EQ(f.start % 60, 0) << what;
            // What the carried minute reads on the station's clocks.
            const std::tm t = Utc((f.start + c.carriedAfterStart + c.offset) * kSecond);
            EXPECT_EQ(f.minute, t.tm_min) << what;
            EXPECT_EQ(f.hour, t.tm_hour) << what;
            EXPECT_EQ(f.summer + f.warning, 0) << what << ": no summer time in winter nor in Japan";
            if (std::string(c.station) == "msf") {
                EXPECT_EQ(f.year * 10000 + f.month * 100 + f.day,
                          (t.tm_year + 1900) % 100 * 10000 + (t.tm_mon + 1) * 100 + t.tm_mday)
                    << what;
                EXPECT_EQ(f.weekDay, t.tm_wday) << what;
            } else {
                EXPECT_EQ(f.dayOfYear, t.tm_yday + 1) << what;
            }
            if (std::string(c.station) == "wwvb") {
                EXPECT_EQ(f.year, (t.tm_year + 1900) % 100) << what;
                EXPECT_EQ(f.leapYear, t.tm_year + 1900 == 2024) << what;
            }
            if (std::string(c.station) == "jjy" && !f.callSign) {
                EXPECT_EQ(f.year, (t.tm_year + 1900) % 100) << what;
                EXPECT_EQ(f.weekDay, t.tm_wday) << what;
            }
            callSignSeen = callSignSeen || f.callSign;
            // Its status line names the station.
            const std::tm start = Utc(f.start * kSecond);
            char stamp[64];
            std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:00 UTC  ", start.tm_year + 1900,
                          start.tm_mon + 1, start.tm_mday, start.tm_hour, start.tm_min);
            std::string upper = c.station;
            for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
            EXPECT_NE(run.out.find(std::string(stamp) + upper + " "), std::string::npos) << what;
        }
        EXPECT_EQ(callSignSeen, std::string(c.station) == "jjy") << c.station;
    }
}
