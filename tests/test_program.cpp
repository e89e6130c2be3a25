// The whole program, its real main on the simulated platform, driven
// through standard input; its line changes are decoded independently.
#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "decoder.h"

constexpr std::int64_t kMs = 1'000'000;
constexpr std::int64_t kSecond = 1'000'000'000;
constexpr std::int64_t kSimStart = 1'000 * kSecond;  // the simulated monotonic clock at start

struct Change {
    std::int64_t utc;  // ns since 1970
    int change;        // 3 raise RTS, 4 lower RTS, 5 raise DTR, 6 lower DTR
};

struct ProgramRun {
    int status = -1;
    std::string out, err;
    std::vector<Change> changes;
    std::int64_t timersPrepared = 0, priorityRaised = 0;  // UTC ns
};

static std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

struct RunSettings {
    std::string input;
    std::int64_t startUtcMs;
    int runSeconds;
    int lineLatencyUs = 0;
    bool openFails = false;
};

// std::system gives the wait status where a shell runs it (the code in the
// second byte) and the exit code itself on Windows.
static int ExitCode(int status) { return status > 255 ? status >> 8 : status; }

// Runs the program in a directory of the running test's own, where it
// finds its simulated machine's settings in dcf77tx_sim.conf.
static ProgramRun RunProgram(const RunSettings& s) {
    const std::string dir = std::string("run_") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::filesystem::create_directories(dir);
    std::ofstream(dir + "/dcf_in") << s.input;
    std::ofstream(dir + "/dcf77tx_sim.conf") << "start_utc_ms " << s.startUtcMs << "\nrun_seconds " << s.runSeconds
                                             << "\nline_latency_us " << s.lineLatencyUs << "\nopen_fails "
                                             << (s.openFails ? 1 : 0) << "\nrecord dcf_record\n";
    std::filesystem::remove(dir + "/dcf_record");
    ProgramRun run;
    const std::string command = "cd " + dir + " && " SIM_PROGRAM " <dcf_in >dcf_out 2>dcf_err";
    run.status = ExitCode(std::system(command.c_str()));
    run.out = ReadFile(dir + "/dcf_out");
    run.err = ReadFile(dir + "/dcf_err");
    std::ifstream changes(dir + "/dcf_record");
    long long time = 0;
    int change = 0;
    const std::int64_t utcAtZero = s.startUtcMs * kMs - kSimStart;
    while (changes >> time >> change) run.changes.push_back({time + utcAtZero, change});
    std::ifstream timing(dir + "/dcf_record.timing");
    long long prepared = 0, raised = 0;
    if (timing >> prepared >> raised) {  // 0: never called
        run.timersPrepared = prepared != 0 ? prepared + utcAtZero : 0;
        run.priorityRaised = raised != 0 ? raised + utcAtZero : 0;
    }
    return run;
}

static std::vector<DecodedMinute> Decode(const ProgramRun& run) {
    std::vector<Edge> dtr;
    for (const Change& c : run.changes)
        if (c.change == 5 || c.change == 6) dtr.push_back({c.utc, c.change == 5});
    // The record starts with the first frame's second 0.
    return DecodeMinutes(PulsesFromEdges(dtr), true);
}

static std::tm Utc(std::int64_t ns) {
    const std::time_t t = static_cast<std::time_t>(ns / kSecond);
    return *std::gmtime(&t);
}

static const std::string kDialogue =
    "\nInput your Serial Port Number: \nTiming Fudge Factor (run quaver.exe)\nInput your Timing Fudge Factor: ";
static const std::string kWait = "\nProgram will wait until next 00 second rollover.\n";

// The first onset comes as soon as the start-up has seen the minute begin,
// which takes the simulated clock a few microseconds.
constexpr std::int64_t kFirstOnsetSlack = 100'000;

// Each decoded frame must carry the minute that begins when it ends, and
// start on a UTC minute: the first as soon as it can, the rest exactly.
static void ExpectFramesFollowTheClock(const std::vector<DecodedMinute>& minutes) {
    for (const DecodedMinute& m : minutes) {
        ASSERT_TRUE(m.valid) << m.error;
        const std::int64_t late = m.start % (60 * kSecond);
        if (&m == &minutes.front()) ASSERT_LT(late, kFirstOnsetSlack);
        else ASSERT_EQ(late, 0) << "frame starts off the minute";
        const std::tm next = Utc(m.start + 60 * kSecond);
        ASSERT_EQ(m.minute, next.tm_min);
        ASSERT_EQ(m.hour, next.tm_hour);
        ASSERT_EQ(m.day, next.tm_mday);
        ASSERT_EQ(m.month, next.tm_mon + 1);
        ASSERT_EQ(m.year, (next.tm_year + 1900) % 100);
        ASSERT_EQ(m.weekday, next.tm_wday == 0 ? 7 : next.tm_wday);
    }
}

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
