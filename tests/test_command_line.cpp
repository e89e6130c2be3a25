// The whole program started with options, on the simulated platform: what
// it refuses, what it keys without and with following the UTC clock, and
// its status lines.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <sstream>

#include "program_run.h"

static const std::string kNominal = "100\t200\t800\t900\t1000\n";

struct EndsAtOnceCase {
    const char* arguments;
    int status;
    std::string out, err;
    const char* simConf = "open_fails 1\n";  // the machine: by default, a port that cannot be opened
};

TEST(CommandLine, EndsAtOnce) {
    const EndsAtOnceCase cases[] = {
        // Refused before anything is opened: an open would fail loudly here.
        {"--port 3 --bogus", 2, "", "dcf77tx: unknown option '--bogus'\nTry 'dcf77tx --help'.\n"},
        {"-f 0 -v", 2, "", "dcf77tx: the factor must be a finite number above 0, not '0'\nTry 'dcf77tx --help'.\n"},
        {"-d /dev/ttyUSB0 -p 1", 2, "", "dcf77tx: --port and --device exclude each other\nTry 'dcf77tx --help'.\n"},
        // A port that cannot be used is refused before the wait, in the
        // system's words alone, the device by path or formed from its number.
        {"--device /dev/ttyUSB7 --follow", 1, kNominal, "dcf77tx: /dev/ttyUSB7: " + std::string(std::strerror(2)) + "\n"},
        {"-p 5 -f 98.7", 1, "99\t197\t790\t888\t987\n", "dcf77tx: SIM5: " + std::string(std::strerror(2)) + "\n"},
        {"--device /dev/ttyS0 --wait-sync", 1, kNominal,
         "dcf77tx: /dev/ttyS0: " + std::string(std::strerror(EACCES)) +
             "; add yourself to its group (usermod -aG dialout sim) and log in again\n",
         "open_fails 1\nopen_error 13\nsynced_after_ms 100000\n"},
        // A device without modem-control lines, such as a pseudo-terminal.
        {"--device /dev/pts/0 --follow --verbose --minutes 2", 1, kNominal,
         "dcf77tx: /dev/pts/0: not a serial port with DTR and RTS: " + std::string(std::strerror(ENOTTY)) + "\n",
         "modem_lines_missing 1\n"},
        // A carrier waits for no minute: the port is opened first.
        {"--device /dev/ttyUSB7 --carrier", 1, "", "dcf77tx: /dev/ttyUSB7: " + std::string(std::strerror(2)) + "\n"},
        {"--follow --ntp host:0", 2, "",
         "dcf77tx: --ntp needs a host name, an address or [IPv6], optionally :PORT (1-65535), not 'host:0'\n"
         "Try 'dcf77tx --help'.\n"},
        // A dry run with --ntp: the offset, then NTP time's next minute;
        // a fault is one line, and the system clock's minute follows.
        {"-n --ntp 192.0.2.1", 0,
         "system clock 2.500 s slow of 192.0.2.1 (delay 0.001 s, stratum 2)\n"
         "2009-12-11 12:36:00 UTC  DCF77  clocks show Fri 2009-12-11 12:37 UTC at 12:37 UTC  NTP +2500 ms\n",
         "", "ntp_offset_ms 2500\nntp_one_way_us 600\n"},
        {"-n --ntp 192.0.2.1", 0, "2009-12-11 12:36:00 UTC  DCF77  clocks show Fri 2009-12-11 12:37 UTC at 12:37 UTC\n",
         "dcf77tx: NTP server 192.0.2.1: no answer\n"
         "dcf77tx: no time from NTP server 192.0.2.1: the frames below carry the system clock's time\n",
         "ntp_silent 1\n"},
        {"-n --ntp 192.0.2.1", 0, "2009-12-11 12:35:00 UTC  DCF77  clocks show Fri 2009-12-11 12:36 UTC at 12:36 UTC\n",
         "dcf77tx: NTP server 192.0.2.1: Kiss-o'-Death RATE: asking less often\n"
         "dcf77tx: no time from NTP server 192.0.2.1: the frames below carry the system clock's time\n",
         "ntp_kiss RATE\n"},
        // More minutes than a WAV file's sizes can count, said with the limit.
        {"--wav big.wav --minutes 187", 2, "",
         "dcf77tx: a WAV file at 192000 Hz holds at most 186 minutes: --minutes 187 is too many\n"
         "Try 'dcf77tx --help'.\n"},
    };
    for (const EndsAtOnceCase& c : cases) {
        // Time enough for the start's eight requests to a silent server.
        RunSettings settings{"", 1260534896000, 30};
        settings.simConf = c.simConf;
        settings.arguments = c.arguments;
        const ProgramRun run = RunProgram(settings);
        EXPECT_EQ(run.status, c.status) << c.arguments;
        EXPECT_EQ(run.out, c.out) << c.arguments;
        EXPECT_EQ(run.err, c.err) << c.arguments;
        EXPECT_TRUE(run.changes.empty()) << c.arguments;
    }
}

// The status lines that follow "ZERO", by the UTC second they name.
static std::map<std::string, std::string> StatusLines(const std::string& out) {
    std::map<std::string, std::string> lines;
    std::istringstream text(out.substr(out.find("\nZERO\n") + 6));
    std::string line;
    while (std::getline(text, line)) {
        std::string bits;
        for (char c : line.substr(line.size() < 67 ? 0 : line.size() - 67))
            if (c != ' ') bits += c;
        lines[line.substr(0, 19)] = bits;
    }
    return lines;
}

// Every decoded frame has its status line, naming its start and its bits.
static void ExpectStatusLinesMatch(const std::string& out, const std::vector<DecodedMinute>& minutes) {
    const std::map<std::string, std::string> lines = StatusLines(out);
    for (const DecodedMinute& m : minutes) {
        const std::tm start = Utc(m.start);
        char stamp[80];
        std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d", start.tm_year + 1900, start.tm_mon + 1,
                      start.tm_mday, start.tm_hour, start.tm_min, start.tm_sec);
        std::string bits;
        for (int b : m.bits) bits += static_cast<char>('0' + b);
        ASSERT_EQ(lines.count(stamp), 1u) << stamp << "\n" << out;
        EXPECT_EQ(lines.at(stamp), bits) << stamp;
    }
}

TEST(CommandLine, WithoutFollowingKeysWhatTheDialogueKeys) {
    // Thursday 31 December 2009, 23:58:30 UTC, into the new year.
    RunSettings settings{"", 1262303910000, 30 + 4 * 60 + 5};
    settings.arguments = "--port=3 -vv";
    const ProgramRun options = RunProgram(settings);
    const ProgramRun dialogue = RunProgram({"3\n100\n", 1262303910000, 30 + 4 * 60 + 5});
    EXPECT_EQ(options.status, 0) << options.err;
    EXPECT_EQ(options.err, "");
    EXPECT_EQ(options.out.substr(0, kNominal.size() + kWait.size() + 6), kNominal + kWait + "\nZERO\n");
    // The option run lets go of the lines the open asserted before it waits,
    // so that its first frame is whole; the dialogue leaves them as it
    // always has.
    EXPECT_GT(options.linesReleased, 0);
    EXPECT_LE(options.linesReleased, options.timersPrepared);
    EXPECT_EQ(dialogue.linesReleased, 0);
    // The dialogue reads the clock once more before its first pulse; every
    // change after the first pulse's onset falls on the same deadline.
    ASSERT_EQ(options.changes.size(), dialogue.changes.size());
    ASSERT_LE(options.changes[0].utc, dialogue.changes[0].utc);
    for (std::size_t i = 2; i < options.changes.size(); ++i) {
        ASSERT_EQ(options.changes[i].utc, dialogue.changes[i].utc) << i;
        ASSERT_EQ(options.changes[i].change, dialogue.changes[i].change) << i;
    }
    const std::vector<DecodedMinute> minutes = Decode(options);
    ASSERT_EQ(minutes.size(), 4u);
    ExpectStatusLinesMatch(options.out, minutes);
    EXPECT_NE(options.out.find("2009-12-31 23:59:00 UTC  DCF77  clocks show Fri 2010-01-01 00:00 UTC at 00:00 UTC\n"
                               "2009-12-31 23:59:00 UTC  "
                               "0000000000000000 00001 00000000 0000000 100000 101 10000 00001000 1\n"),
              std::string::npos)
        << options.out;
}

struct StepCase {
    const char* what;
    std::int64_t stepAfterMs;  // since the start at 12:34:56, ZERO at 12:35:00
    std::int64_t stepMs;
    std::int64_t lateWakeUs = 0;  // instead of a step, a sleep wakes this late then
};

TEST(CommandLine, FollowingSurvivesClockSteps) {
    const StepCase cases[] = {
        {"+7 s inside second 16's pulse", 4'000 + 60'000 + 16'050, 7'000},
        {"-13 s late in a frame", 4'000 + 120'000 + 40'500, -13'000},
        {"-13 s early in a frame: the same minute starts again", 4'000 + 60'000 + 5'300, -13'000},
        {"+1 h during the minute mark", 4'000 + 60'000 + 59'400, 3'600'000},
        {"-1 day between a check and its onset", 4'000 + 120'000 + 29'950, -86'400'000},
        // Woken 60 ms late for an onset: keyed now, its pulse would last
        // 40 ms; the frame is cut instead.
        {"woken 60 ms late for second 31", 4'000 + 60'000 + 30'999, 0, 60'000},
    };
    const std::int64_t startUtcMs = 1260534896000;  // 2009-12-11 12:34:56
    for (const StepCase& c : cases) {
        RunSettings settings{"", startUtcMs, 4 + 8 * 60};
        settings.arguments = "--follow -vv";
        settings.utcStepAfterMs = c.stepAfterMs;
        settings.utcStepMs = c.stepMs;
        if (c.lateWakeUs != 0) {
            settings.lateWakeAtUtcMs = startUtcMs + c.stepAfterMs;
            settings.lateWakeUs = c.lateWakeUs;
        }
        const ProgramRun run = RunProgram(settings);
        ASSERT_EQ(run.status, 0) << c.what << run.err;
        // Every pulse keyed lasts its full length, and the cut is reported.
        std::vector<Edge> all;
        for (const Change& ch : run.changes)
            if (ch.change == 5 || ch.change == 6) all.push_back({ch.utc, ch.change == 5});
        for (const Pulse& p : PulsesFromEdges(all))
            EXPECT_TRUE(std::llabs(p.width - 100 * kMs) < kMs || std::llabs(p.width - 200 * kMs) < kMs || p.width > 500 * kMs)
                << c.what << " " << p.width;
        EXPECT_NE(run.out.find(": frame cut, next whole frame at "), std::string::npos) << c.what;
        // Split the run at the step, each part stamped on the clock of its time.
        const std::int64_t stepAt = (startUtcMs + c.stepAfterMs) * kMs;
        std::vector<Change> before, after;
        for (std::size_t i = 0; i < run.changes.size(); ++i)
            (run.changes[i].utc < stepAt ? before : after).push_back(run.changesOnClock[i]);
        const std::vector<DecodedMinute> early = Decode(before);
        ASSERT_GE(early.size(), 1u) << c.what;
        ExpectFramesFollowTheClock(early);

        // After the step every frame is whole, on the minute of the stepped
        // clock with that clock's time, from its second minute at the latest.
        std::vector<Edge> dtr;
        for (const Change& ch : after)
            if (ch.change == 5 || ch.change == 6) dtr.push_back({ch.utc, ch.change == 5});
        const std::vector<DecodedMinute> late = DecodeMinutes(PulsesFromEdges(dtr), false);
        ASSERT_GE(late.size(), 4u) << c.what;
        const std::int64_t steppedAt = stepAt + c.stepMs * kMs;
        const std::int64_t minute = 60 * kSecond;
        EXPECT_LE(late.front().start, (steppedAt / minute + 2) * minute) << c.what;
        for (std::size_t i = 1; i < late.size(); ++i) EXPECT_EQ(late[i].start - late[i - 1].start, minute) << c.what;
        ExpectFramesFollowTheClock(late);
        ExpectStatusLinesMatch(run.out, late);
        if (::testing::Test::HasFailure()) FAIL() << c.what;
    }
}

TEST(CommandLine, FollowingHoldsAClockThatRunsFast) {
    // The UTC clock gains 100 ppm on the pause clock: 0.72 s in two hours
    // without following; every onset stays within the gain of one second.
    RunSettings settings{"", 1260534896000, 4 + 2 * 3600};
    settings.arguments = "--follow";
    settings.utcRatePpm = 100;
    const ProgramRun run = RunProgram(settings);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<DecodedMinute> minutes = Decode(run.changesOnClock);
    ASSERT_GE(minutes.size(), 119u);
    for (const Change& c : run.changesOnClock) {
        if (c.change != 5) continue;
        const std::int64_t off = (c.utc + kSecond / 2) % kSecond - kSecond / 2;
        ASSERT_LE(std::llabs(off), 120'000) << "onset " << off << " ns off the second";
    }
    // Frames start within that of the minute, and carry the right minute.
    for (DecodedMinute m : minutes) {
        m.start = (m.start + kSecond / 2) / kSecond * kSecond;
        ExpectFramesFollowTheClock({m});
    }
}

TEST(CommandLine, CentralEuropeanTimeAcrossTheSpringChange) {
    // Sunday 28 March 2010, 00:57:30 UTC: the change is at 01:00 UTC.
    RunSettings settings{"", 1269737850000, 30 + 5 * 60 + 5};
    settings.arguments = "--zone cet -vv";
    const ProgramRun run = RunProgram(settings);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<DecodedMinute> minutes = Decode(run);
    ASSERT_EQ(minutes.size(), 5u);
    struct Expected {
        int hour, minute, announce, summer, standard;
    } expected[] = {{1, 59, 1, 0, 1}, {3, 0, 1, 1, 0}, {3, 1, 0, 1, 0}, {3, 2, 0, 1, 0}, {3, 3, 0, 1, 0}};
    for (std::size_t i = 0; i < minutes.size(); ++i) {
        const DecodedMinute& m = minutes[i];
        ASSERT_TRUE(m.valid) << m.error;
        EXPECT_EQ(m.start, 1269737880 * kSecond + static_cast<std::int64_t>(i) * 60 * kSecond + (i == 0 ? m.start % kSecond : 0));
        EXPECT_EQ(m.year * 10000 + m.month * 100 + m.day, 100328) << i;
        EXPECT_EQ(m.weekday, 7) << i;
        EXPECT_EQ(m.hour * 100 + m.minute, expected[i].hour * 100 + expected[i].minute) << i;
        EXPECT_EQ(m.announce, expected[i].announce) << i;
        EXPECT_EQ(m.summer, expected[i].summer) << i;
        EXPECT_EQ(m.standard, expected[i].standard) << i;
    }
    ExpectStatusLinesMatch(run.out, minutes);
    EXPECT_NE(run.out.find(" UTC  DCF77  clocks show Sun 2010-03-28 03:00 CEST at 01:00 UTC\n"), std::string::npos)
        << run.out;
}

// Windows' C library knows no zone names, only rules with an offset.
static bool ZoneNamesKnown() {
#ifdef _WIN32
    return false;
#else
    return true;
#endif
}

struct OptionRunCase {
    const char* what;
    const char* arguments;
    std::int64_t startUtcMs;
    int runSeconds;
    std::vector<int> carried;  // hour * 100 + minute of each frame decoded, in order
    std::int64_t keyedFromMs, keyedUntilMs;  // every onset lies within; 0: anywhere
    const char* said;  // a line the program prints
    std::int64_t syncedAfterMs = 0;
    const char* zone = "UTC0";  // the local zone
};

TEST(CommandLine, ChosenTimesLimitsAndWindows) {
    UseZone("UTC0");
    const std::int64_t dec11 = 1260534896000;  // 2009-12-11 12:34:56 UTC, a Friday
    const std::int64_t newYear = 1262303850000;  // 2009-12-31 23:57:30 UTC
    const OptionRunCase cases[] = {
        {"--time across the EU spring change, four frames", "--zone cet --time \"2027-03-28 01:58\" --minutes 4 -v",
         dec11, 6 * 60, {158, 159, 300, 301}, dec11 + 4'000, dec11 + 4'000 + 4 * 60'000,
         "clocks show Sun 2027-03-28 03:00 CEST at 12:38 UTC"},
        {"--offset: UTC+1:30 across New Year", "--offset +1:30 --minutes 2 --follow", newYear, 5 * 60, {129, 130},
         newYear + 30'000, newYear + 150'000, ""},
        {"a window across midnight", "--window 23:59-00:01 --follow", newYear, 5 * 60, {0, 1}, newYear + 90'000,
         newYear + 210'000, "outside the windows: the next opens at 23:59 local time"},
        {"a window that opens while the start-up waits", "--window 12:36-12:38 --minutes 5", dec11, 5 * 60,
         {1237, 1238}, dec11 + 64'000, dec11 + 184'000, ""},
        {"a dry run prints three frames and keys nothing", "-n -m 3 -z cet -t \"2027-10-31 02:58\"", dec11, 60, {}, 0, 0,
         "clocks show Sun 2027-10-31 02:58 CEST at 12:36 UTC\n"
         "2009-12-11 12:36:00 UTC  DCF77  clocks show Sun 2027-10-31 02:59 CEST at 12:37 UTC\n"
         "2009-12-11 12:37:00 UTC  DCF77  clocks show Sun 2027-10-31 02:00 CET at 12:38 UTC\n"},
        {"waiting for a synchronised clock", "--wait-sync --minutes 1 --follow", dec11, 4 * 60, {1238},
         dec11 + 124'000, dec11 + 184'000, "\nWaiting for the system clock to be synchronised.\n", 90'000},
        {"a steady carrier for two minutes", "--carrier --minutes 2", dec11, 4 * 60, {}, 1, 1,
         "steady full carrier, no time code\n"},
        {"a dry run of a carrier shows no time", "-n -v --carrier", dec11, 60, {}, 1, 1,
         "steady full carrier, no time code\n"},
        // Seconds 53 to 58 carry bits A and B; the carrier goes off.
        {"a dry run of MSF's seconds", "-n -vv -s msf -t \"2026-03-29 00:55\"", dec11, 60, {}, 0, 0,
         "  :52  A0 B0  off 0-100 ms\n  :53  A1 B1  off 0-300 ms\n"},
        // A zone counting leap seconds, summer time and the longest offset
        // still fit in 100 columns (checked below for every line).
        {"a zone counting leap seconds", "-n --zone local --offset -23:59 -t \"2026-07-01 12:00\"", dec11, 60, {}, 0,
         0, "clocks show Wed 2026-07-01 12:00 CEST -23:59 (+27 s) at 12:36 UTC\n", 0, "right/Europe/Berlin"},
    };
    for (const OptionRunCase& c : cases) {
        if (!ZoneNamesKnown() && std::strchr(c.zone, '/') != nullptr) continue;
        UseZone(c.zone);
        RunSettings settings{"", c.startUtcMs, c.runSeconds};
        settings.arguments = c.arguments;
        settings.syncedAfterMs = c.syncedAfterMs;
        const ProgramRun run = RunProgram(settings);
        EXPECT_EQ(run.status, 0) << c.what << run.err;
        std::vector<int> carried;
        for (const DecodedMinute& m : Decode(run)) {
            EXPECT_TRUE(m.valid) << c.what << ": " << m.error;
            carried.push_back(m.hour * 100 + m.minute);
        }
        EXPECT_EQ(carried, c.carried) << c.what;
        for (const Change& ch : run.changes) {
            if (ch.change != 5 || c.keyedFromMs == 0) continue;
            EXPECT_GE(ch.utc, c.keyedFromMs * kMs) << c.what;
            EXPECT_LT(ch.utc, c.keyedUntilMs * kMs) << c.what;
        }
        EXPECT_NE(run.out.find(c.said), std::string::npos) << c.what << "\n" << run.out;
        std::istringstream lines(run.out);
        for (std::string line; std::getline(lines, line);) {
            const bool status = line.find(" clocks show ") != std::string::npos;
            EXPECT_TRUE(!status || line.size() <= 100) << c.what << ": " << line.size() << " columns: " << line;
        }
    }
    UseZone("UTC0");
}

TEST(CommandLine, OnsetsOnTimeWhereTheTimerWakesLate) {
    // A busy host whose timer wakes every sleep 0.8 ms late, more than the
    // dialogue's pauses watch the clock for: option runs learn the lateness
    // (from their start-up wait on) and wake that much earlier, so that the
    // first onset, every later one and every pulse's end fall on the grid.
    for (const char* arguments : {"--minutes 3", "--follow --minutes 3 --zone cet"}) {
        RunSettings settings{"", 1260534896000, 4 + 3 * 60 + 5};
        settings.arguments = arguments;
        settings.simConf = "wake_latency_us 800\n";
        const ProgramRun run = RunProgram(settings);
        ASSERT_EQ(run.status, 0) << arguments << run.err;
        ASSERT_EQ(Decode(run).size(), 3u) << arguments;
        EXPECT_EQ(run.changes.front().utc, 1260534900 * kSecond) << arguments;
        for (const Change& c : run.changes) {
            if (c.change == 5) {
                ASSERT_EQ(c.utc % kSecond, 0) << arguments;
            } else if (c.change == 6) {
                ASSERT_EQ(c.utc % (100 * kMs), 0) << arguments;
            }
        }
    }
}

TEST(CommandLine, NtpTimeSent) {
    // 2009-12-11 12:34:26 UTC on the system clock, 2.5 s slow of the NTP
    // server; 20 minutes in the server corrects its time by +300 ms.
    const std::int64_t startUtcMs = 1260534866000, stepAfterMs = 20 * 60'000;
    RunSettings settings{"", startUtcMs, 40 * 60};
    settings.arguments = "--ntp 192.0.2.1 -vv --minutes 38";
    settings.simConf = "ntp_offset_ms 2500\nntp_step_after_ms " + std::to_string(stepAfterMs) + "\nntp_step_ms 300\n";
    const ProgramRun run = RunProgram(settings);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out.substr(0, run.out.find('\n', kNominal.size()) + 1),
              kNominal + "system clock 2.500 s slow of 192.0.2.1 (delay 0.001 s, stratum 2)\n");
    // NTP time as the program had it: the server's, the correction from
    // the minute at which it reached the output.
    std::vector<Change> sent = run.changes;
    std::int64_t movedAt = 0;  // true time of the first onset keyed on the corrected time
    auto offSecond = [](std::int64_t t) { return std::llabs((t + kSecond / 2) % kSecond - kSecond / 2); };
    for (Change& c : sent) {
        const std::int64_t early = c.utc + 2500 * kMs;
        if (movedAt == 0 && c.change == 5 && offSecond(early) > kMs) movedAt = c.utc;
        c.utc = early + (movedAt != 0 ? 300 * kMs : 0);
        if (c.change == 5) {
            EXPECT_LT(offSecond(c.utc), kMs) << c.utc;
        }
    }
    // It moved at a minute boundary of the corrected time, inside no frame:
    // 38 whole frames on consecutive minutes, each with its status line.
    EXPECT_GT(movedAt, (startUtcMs + stepAfterMs) * kMs);
    const std::int64_t minute = 60 * kSecond;
    EXPECT_LT(std::llabs((movedAt + 2800 * kMs + minute / 2) % minute - minute / 2), kMs);
    std::vector<DecodedMinute> minutes = Decode(sent);
    ASSERT_EQ(minutes.size(), 38u);
    for (DecodedMinute& m : minutes) m.start = (m.start + kSecond / 2) / kSecond * kSecond;
    ExpectFramesFollowTheClock(minutes);
    ExpectStatusLinesMatch(run.out, minutes);
    EXPECT_NE(run.out.find("UTC  NTP +2500 ms\n"), std::string::npos);
    EXPECT_NE(run.out.find("NTP time moves +0.300 s at this minute\n"), std::string::npos);
    EXPECT_NE(run.out.find("UTC  NTP +2800 ms\n"), std::string::npos);
}

TEST(CommandLine, NtpTakesOverFromTheSystemClock) {
    // The server answers only from 30 s after the start at 12:34:56: the
    // run starts on the system clock, says so, and NTP time, 2.5 s ahead,
    // takes over at the next minute, which cuts that frame.
    RunSettings settings{"", 1260534896000, 5 * 60};
    settings.arguments = "--ntp 192.0.2.1 --minutes 2";
    settings.simConf = "ntp_offset_ms 2500\nntp_answers_after_ms 30000\n";
    const ProgramRun run = RunProgram(settings);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "dcf77tx: NTP server 192.0.2.1: no answer\n"
                       "dcf77tx: no answer from NTP server 192.0.2.1 yet: sending the system clock's time until one "
                       "comes\n"
                       "dcf77tx: NTP time takes over: system clock 2.500 s slow of 192.0.2.1 (delay 0.001 s, stratum 2)\n");
    EXPECT_NE(run.out.find("\nNTP time moved +2.500 s: frame cut, next whole frame at 12:38 UTC\n"), std::string::npos)
        << run.out;
    // The 12:36 frame on the system clock, the 12:38 one on NTP time.
    const std::vector<DecodedMinute> minutes = Decode(run);
    ASSERT_EQ(minutes.size(), 2u);
    EXPECT_EQ(minutes[0].start, 1260534960 * kSecond);
    EXPECT_LT(std::llabs(minutes[1].start - (1260535080 * kSecond - 2500 * kMs)), kMs / 1000);
}
