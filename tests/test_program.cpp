// The whole program, its real main on the simulated platform, driven
// through standard input; its line changes are decoded independently.
#include <gtest/gtest.h>

#include "program_run.h"

TEST(Program, NewYear2010AndFortyEightHours) {
    // Thursday 31 December 2009, 23:58:30 UTC.
    const ProgramRun run = RunProgram({"2\n100\n", 1262303910000, 30 + 48 * 3600 + 5});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, kDialogue + "100\t200\t800\t900\t1000\n" + kWait + "\nZERO\n");
    EXPECT_EQ(run.err, "");

    const std::vector<DecodedMinute> minutes = Decode(run);
    ASSERT_EQ(minutes.size(), 48u * 60);
    // The first pulse falls on 23:59:00 and its frame carries 00:00 on
    // Friday 1 January 2010.
    EXPECT_GE(run.changes.front().utc, 1262303940 * kSecond);
    EXPECT_LT(run.changes.front().utc, 1262303940 * kSecond + kFirstOnsetSlack);
    EXPECT_TRUE(minutes[0].valid) << minutes[0].error;
    EXPECT_EQ(minutes[0].hour * 100 + minutes[0].minute, 0);
    EXPECT_EQ(minutes[0].day, 1);
    EXPECT_EQ(minutes[0].month, 1);
    EXPECT_EQ(minutes[0].year, 10);
    EXPECT_EQ(minutes[0].weekday, 5);
    EXPECT_EQ(minutes[1].hour * 100 + minutes[1].minute, 1);
    ExpectFramesFollowTheClock(minutes);

    // Timers are prepared before the busy wait for the minute, and the
    // priority raised only after it, before the first pulse.
    EXPECT_GT(run.timersPrepared, 0);
    EXPECT_LT(run.timersPrepared, 1262303940 * kSecond - 29 * kSecond);
    EXPECT_GE(run.priorityRaised, 1262303940 * kSecond);
    EXPECT_LE(run.priorityRaised, run.changes.front().utc);

    // Every change pairs DTR then RTS, and every onset lies on a whole second.
    for (std::size_t i = 0; i + 1 < run.changes.size(); i += 2) {
        const Change& dtr = run.changes[i];
        const Change& rts = run.changes[i + 1];
        ASSERT_TRUE((dtr.change == 5 && rts.change == 3) || (dtr.change == 6 && rts.change == 4)) << i;
        if (i == 0) continue;
        if (dtr.change == 5) {
            ASSERT_EQ(dtr.utc % kSecond, 0) << "onset " << i / 4;
        } else {
            ASSERT_EQ(dtr.utc % (100 * kMs), 0);
        }
    }
}

TEST(Program, LeapDay2024) {
    // Wednesday 28 February 2024, 23:58:58 UTC.
    const ProgramRun run = RunProgram({"2 100\n", 1709164738000, 2 + 3 * 60 + 5});
    const std::vector<DecodedMinute> minutes = Decode(run);
    ASSERT_EQ(minutes.size(), 3u);
    EXPECT_EQ(minutes[0].day, 29);
    EXPECT_EQ(minutes[0].month, 2);
    EXPECT_EQ(minutes[0].weekday, 4);
    ExpectFramesFollowTheClock(minutes);
}

TEST(Program, SlowLineChangesShiftNothing) {
    const ProgramRun run = RunProgram({"2\n100\n", 1262303938000, 2 + 10 * 60 + 5, 1000});
    const std::vector<DecodedMinute> minutes = Decode(run);
    ASSERT_EQ(minutes.size(), 10u);
    ExpectFramesFollowTheClock(minutes);
    // DTR moves on the grid, RTS one line change (1 ms) later.
    for (std::size_t i = 0; i + 1 < run.changes.size(); i += 2)
        ASSERT_EQ(run.changes[i + 1].utc - run.changes[i].utc, kMs);
    for (std::size_t i = 4; i < run.changes.size(); i += 2) {
        if (run.changes[i].change == 5) {
            ASSERT_EQ(run.changes[i].utc % kSecond, 0) << i;
        }
    }
}

TEST(Program, KeyingWithoutPausesKeepsTheNormalPriority) {
    // A negative factor keys without pausing: at a raised priority that
    // would spin ahead of every other process. (Line changes of 1 ms let
    // the simulated time reach its end.)
    const ProgramRun run = RunProgram({"2\n-100\n", 1262303938000, 2 + 60, 1000});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_FALSE(run.changes.empty());
    EXPECT_GT(run.timersPrepared, 0);
    EXPECT_EQ(run.priorityRaised, 0);
}

struct StartCase {
    const char* what;
    std::int64_t startUtcMs;
    std::int64_t firstOnsetUtc;  // s
    int firstHour, firstMinute;
};

TEST(Program, StartsOnTheNextMinute) {
    const StartCase cases[] = {
        // 2009-12-11 12:34:56 UTC: the next minute is a few seconds away.
        {"in second 56", 1260534896000, 1260534900, 12, 36},
        // 12:34:00.3: already inside second 0, so it waits for 12:35:00.
        {"inside second 0", 1260534840300, 1260534900, 12, 36},
        // 12:34:59.999: the very next millisecond is the minute.
        {"at the end of second 59", 1260534899999, 1260534900, 12, 36},
    };
    for (const StartCase& c : cases) {
        const ProgramRun run = RunProgram({"2\n100\n", c.startUtcMs, 65 + 61});
        const std::vector<DecodedMinute> minutes = Decode(run);
        ASSERT_GE(minutes.size(), 1u) << c.what;
        EXPECT_GE(run.changes.front().utc, c.firstOnsetUtc * kSecond) << c.what;
        EXPECT_LT(run.changes.front().utc, c.firstOnsetUtc * kSecond + kFirstOnsetSlack) << c.what;
        EXPECT_EQ(minutes[0].hour, c.firstHour) << c.what;
        EXPECT_EQ(minutes[0].minute, c.firstMinute) << c.what;
        ExpectFramesFollowTheClock(minutes);
    }
}

struct HeldReadCase {
    const char* what;
    const char* input;
    const char* arguments;
    std::int64_t heldAtUtcMs;
};

TEST(Program, AHeldUpClockReadingMovesNoPulse) {
    // Starting 2009-12-11 12:34:56 UTC, the program is held up for 10 ms
    // right after one reading of the UTC clock: the one that sees 12:35
    // begin, whose instant anchors every later pulse, or, when following
    // the clock, one in the middle of the frame.
    const HeldReadCase cases[] = {
        {"dialogue", "2\n100\n", "", 1260534900000},
        {"options", "", "--port 2", 1260534900000},
        {"following", "", "--port 2 --follow", 1260534930500},
    };
    for (const HeldReadCase& c : cases) {
        RunSettings settings{c.input, 1260534896000, 4 + 2 * 60 + 5};
        settings.arguments = c.arguments;
        settings.heldReadAtUtcMs = c.heldAtUtcMs;
        settings.heldReadUs = 10'000;
        const ProgramRun run = RunProgram(settings);
        const std::vector<DecodedMinute> minutes = Decode(run);
        ASSERT_EQ(minutes.size(), 2u) << c.what;
        EXPECT_TRUE(minutes[0].valid && minutes[1].valid) << c.what;
        EXPECT_EQ(minutes[0].hour * 100 + minutes[0].minute, 1236) << c.what;
        EXPECT_EQ(minutes[1].hour * 100 + minutes[1].minute, 1237) << c.what;
        // The first onset waits for the held-up program; every later one
        // lies on its UTC second, as if nothing had happened.
        for (std::size_t i = 4; i < run.changes.size(); i += 2) {
            if (run.changes[i].change == 5) {
                ASSERT_EQ(run.changes[i].utc % kSecond, 0) << c.what << ", change " << i;
            }
        }
    }
}

struct DialogueCase {
    const char* what;
    const char* input;
    const char* durations;
    const char* device;  // named by the failing open
};

TEST(Program, DialogueReadsAsScanfDoes) {
    const DialogueCase cases[] = {
        {"both on their own lines", "3\n100\n", "100\t200\t800\t900\t1000\n", "SIM3"},
        {"both on one line", "5 98.7\n", "99\t197\t790\t888\t987\n", "SIM5"},
        {"a point leaves .5 for the factor", "3.5\n", "1\t1\t4\t4\t5\n", "SIM3"},
        {"letters: both defaults", "abc\n7\n", "100\t200\t800\t900\t1000\n", "SIM2"},
        {"end of input: both defaults", "", "100\t200\t800\t900\t1000\n", "SIM2"},
        {"a port beyond 32 bits", "99999999999999999999 1e12\n", "2147483647\t2147483647\t2147483647\t2147483647\t2147483647\n", "SIM2147483647"},
        {"not a number", "4 nan\n", "0\t0\t0\t0\t0\n", "SIM4"},
    };
    for (const DialogueCase& c : cases) {
        RunSettings settings{c.input, 1260534896000, 10};
        settings.openFails = true;
        const ProgramRun run = RunProgram(settings);
        EXPECT_EQ(run.status, 1) << c.what;
        EXPECT_EQ(run.out, kDialogue + c.durations + kWait) << c.what;
        EXPECT_EQ(run.err, std::string("CreateFile failed: ") + c.device + " (00000002)\n") << c.what;
        EXPECT_TRUE(run.changes.empty()) << c.what;
    }
}

struct LateTimerCase {
    const char* what;
    const char* input;
    const char* durations;
    std::int64_t secondMs, zeroMs, oneMs;  // a keyed second and its two pulses, as the factor scales them
};

TEST(Program, DialogueOnsetsOnTimeWhereTheTimerWakesLate) {
    // A busy host whose timer wakes every sleep 0.8 ms late, more than the
    // half millisecond the dialogue once watched the clock for: it learns
    // the lateness while it waits for the minute, so that the first onset,
    // every later one and every pulse's end fall on the factor's grid,
    // and it prints what it always printed.
    const LateTimerCase cases[] = {
        {"nominal factor", "2\n100\n", "100\t200\t800\t900\t1000\n", 1000, 100, 200},
        {"factor 98.7: every pause scaled as before", "2 98.7\n", "99\t197\t790\t888\t987\n", 987, 99, 197},
    };
    const std::int64_t minute = 1260534900 * kSecond;  // 12:35:00 UTC, 4 s after the start
    for (const LateTimerCase& c : cases) {
        RunSettings settings{c.input, 1260534896000, 4 + 3 * 60 + 5};
        settings.simConf = "wake_latency_us 800\n";
        const ProgramRun run = RunProgram(settings);
        EXPECT_EQ(run.status, 0) << c.what << run.err;
        EXPECT_EQ(run.err, "") << c.what;
        EXPECT_EQ(run.out, kDialogue + c.durations + kWait + "\nZERO\n") << c.what;
        ASSERT_GT(run.changes.size(), 3u * 59 * 4) << c.what;
        EXPECT_EQ(run.changes.front().utc, minute) << c.what;
        std::int64_t onset = minute;
        for (std::size_t i = 2; i < run.changes.size(); ++i) {
            const Change& ch = run.changes[i];
            if (ch.change == 5) {
                onset = ch.utc;
                ASSERT_EQ((onset - minute) % (c.secondMs * kMs), 0) << c.what;
            } else if (ch.change == 6) {
                // A pulse's end, or the minute mark's second begun a second on.
                const std::int64_t since = (ch.utc - onset) / kMs;
                ASSERT_TRUE(ch.utc % kMs == 0 && (since == c.zeroMs || since == c.oneMs || since == c.secondMs))
                    << c.what << ": " << ch.utc - onset;
            }
        }
    }
}
