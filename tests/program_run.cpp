#include "program_run.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

static std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// std::system gives the wait status where a shell runs it (the code in the
// second byte) and the exit code itself on Windows.
static int ExitCode(int status) { return status > 255 ? status >> 8 : status; }

std::string RunDirectory() {
    return std::string("run_") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
}

// Runs the program in a directory of the running test's own, where it
// finds its simulated machine's settings in dcf77tx_sim.conf.
ProgramRun RunProgram(const RunSettings& s) {
    const std::string dir = RunDirectory();
    std::filesystem::create_directories(dir);
    std::ofstream(dir + "/dcf_in") << s.input;
    std::ofstream(dir + "/dcf77tx_sim.conf") << "start_utc_ms " << s.startUtcMs << "\nrun_seconds " << s.runSeconds
                                             << "\nline_latency_us " << s.lineLatencyUs << "\nopen_fails "
                                             << (s.openFails ? 1 : 0) << "\nutc_step_after_ms " << s.utcStepAfterMs
                                             << "\nutc_step_ms " << s.utcStepMs << "\nutc_rate_ppm " << s.utcRatePpm
                                             << "\nheld_read_at_utc_ms " << s.heldReadAtUtcMs << "\nheld_read_us "
                                             << s.heldReadUs << "\nlate_wake_at_utc_ms " << s.lateWakeAtUtcMs
                                             << "\nlate_wake_us " << s.lateWakeUs << "\nsynced_after_ms "
                                             << s.syncedAfterMs
                                             << "\nrecord dcf_record\n"
                                             << s.simConf;
    std::filesystem::remove(dir + "/dcf_record");
    ProgramRun run;
    // A write past the limit fails with EFBIG instead of ending the program.
    const std::string limit =
        s.fileBlocks > 0 ? "trap '' XFSZ && ulimit -f " + std::to_string(s.fileBlocks) + " && " : "";
    const std::string command =
        "cd " + dir + " && " + limit + SIM_PROGRAM " " + s.arguments + " <dcf_in >dcf_out 2>dcf_err";
    run.status = ExitCode(std::system(command.c_str()));
    run.out = ReadFile(dir + "/dcf_out");
    run.err = ReadFile(dir + "/dcf_err");
    std::ifstream changes(dir + "/dcf_record");
    long long time = 0;
    int change = 0;
    const std::int64_t utcAtZero = s.startUtcMs * kMs - kSimStart;
    while (changes >> time >> change) run.changes.push_back({time + utcAtZero, change});
    std::ifstream clock(dir + "/dcf_record.utc");
    long long utc = 0;
    for (std::size_t i = 0; i < run.changes.size() && clock >> utc; ++i)
        run.changesOnClock.push_back({utc, run.changes[i].change});
    std::ifstream timing(dir + "/dcf_record.timing");
    long long prepared = 0, raised = 0, released = 0;
    if (timing >> prepared >> raised >> released) {  // 0: never called
        run.timersPrepared = prepared != 0 ? prepared + utcAtZero : 0;
        run.priorityRaised = raised != 0 ? raised + utcAtZero : 0;
        run.linesReleased = released != 0 ? released + utcAtZero : 0;
    }
    return run;
}

std::vector<DecodedMinute> Decode(const ProgramRun& run) { return Decode(run.changes); }

std::vector<DecodedMinute> Decode(const std::vector<Change>& changes) {
    std::vector<Edge> dtr;
    for (const Change& c : changes)
        if (c.change == 5 || c.change == 6) dtr.push_back({c.utc, c.change == 5});
    // The record starts with the first frame's second 0.
    return DecodeMinutes(PulsesFromEdges(dtr), true);
}

std::tm Utc(std::int64_t ns) {
    const std::time_t t = static_cast<std::time_t>(ns / kSecond);
    return *std::gmtime(&t);
}

void UseZone(const char* zone) {
#ifdef _WIN32
    _putenv_s("TZ", zone);
#else
    setenv("TZ", zone, 1);
#endif
}

const std::string kDialogue =
    "\nInput your Serial Port Number: \nTiming Fudge Factor (run quaver.exe)\nInput your Timing Fudge Factor: ";
const std::string kWait = "\nProgram will wait until next 00 second rollover.\n";

// Each decoded frame must carry the minute that begins when it ends, and
// start on a UTC minute: the first as soon as it can, the rest exactly.
void ExpectFramesFollowTheClock(const std::vector<DecodedMinute>& minutes) {
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

