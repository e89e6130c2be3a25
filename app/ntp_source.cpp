#include "ntp_source.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ntp/ntp_schedule.h"
#include "audio/utc_scale.h"
#include "keying/keying.h"
#include "ntp/ntp_time.h"
#include "platform/platform.h"

// One server of the run: its socket and its schedule.
struct NtpRunServer {
    NtpConnection connection;
    NtpAsking asking;
};

static NtpRunServer ntpServers[kNtpMaxServers];  // the servers of --ntp
static int ntpServerCount = 0;
static NtpTime ntpTime;              // the measurements and the lines they give
static NtpSample ntpLatest;          // the latest measurement, combined
static bool ntpMeasured = false;     // ntpLatest holds one
static std::string ntpLatestFrom;    // the server whose answer made it
static bool ntpRateAdopted = false;  // the output's line has a rate good enough for the carrier
static bool ntpOnSystemClock = false;  // the run started on the system clock, and said so
static UtcScale ntpSystemScale;        // the system clock against the raw one, from the start on

void StartNtp(const std::vector<NtpServer>& servers) {
    ntpServerCount = 0;
    ResetNtpTime(&ntpTime);
    ResetUtcScale(&ntpSystemScale);
    const std::int64_t now = MonotonicNanoseconds();
    for (const NtpServer& server : servers) {
        if (ntpServerCount == kNtpMaxServers) break;
        NtpRunServer& s = ntpServers[ntpServerCount++];
        s.connection = NtpConnection{server, UdpPeer{}, 0, false};
        StartNtpAsking(&s.asking, now);
    }
}

bool NtpInUse() { return ntpServerCount > 0; }

static void SayError(const std::string& line) {
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

void NoteSystemClock(std::int64_t raw, std::int64_t utc) { NoteClockReading(&ntpSystemScale, raw, utc); }

// Reads the system clock for NoteSystemClock.
static void ReadSystemClock() {
    std::int64_t instant = 0;
    const UtcReading utc = ReadUtcClockAt(&instant);
    NoteSystemClock(instant + RawMinusMonotonic(), utc.seconds * 1'000'000'000 + utc.nanoseconds);
}

// One exchange with server `s` made at monotonic `now`, over by
// `deadline`; a burst's winner joins NTP time, the servers' combined.
static void Ask(NtpRunServer& s, std::int64_t now, std::int64_t deadline) {
    NtpSample sample{};
    std::string why;
    // A server that could not be opened (no network yet) is tried again
    // as if it had not answered.
    const NtpOutcome outcome = !s.connection.open && !OpenNtpServer(s.connection.server, &s.connection, &why)
                                   ? NTP_FAILED
                                   : ExchangeNtp(&s.connection, deadline, &sample, &why);
    const NtpNews news = NoteNtpOutcome(&s.asking, outcome, sample, now);
    if (news.say) SayError(why);
    if (!news.winner) return;
    NtpAsking askings[kNtpMaxServers];
    for (int i = 0; i < ntpServerCount; ++i) askings[i] = ntpServers[i].asking;
    NtpSample combined{};
    if (!CombineNtpWinners(askings, ntpServerCount, s.asking.winner.raw, &combined)) return;
    NoteNtpMeasurement(&ntpTime, combined.raw, combined.ntp, combined.delay, ntpSystemScale.rate);
    ntpLatest = combined;
    ntpLatestFrom = s.connection.server.text;
    ntpMeasured = true;
}

// The server asked next: the one due first, not stopped; -1 when none.
static int NextDue() {
    int next = -1;
    for (int i = 0; i < ntpServerCount; ++i) {
        const NtpAsking& a = ntpServers[i].asking;
        if (!a.stopped && (next < 0 || a.due < ntpServers[next].asking.due)) next = i;
    }
    return next;
}

void ServiceNtp(std::int64_t deadline) {
    for (;;) {
        const int next = NextDue();
        const std::int64_t now = MonotonicNanoseconds();
        if (next < 0 || ntpServers[next].asking.due > now) return;
        const std::int64_t end = deadline < now + kNtpAnswerWait ? deadline : now + kNtpAnswerWait;
        if (end - now < kNtpLeastWait) return;
        Ask(ntpServers[next], now, end);
    }
}

static bool StartBurstsOver() {
    for (int i = 0; i < ntpServerCount; ++i) {
        const NtpAsking& a = ntpServers[i].asking;
        if (!a.stopped && a.burstSize == kNtpStartRequests) return false;
    }
    return true;
}

void RunNtpStart(bool waitForAnswer, bool sayOffset, bool live) {
    for (;;) {
        ReadSystemClock();
        ServiceNtp(MonotonicNanoseconds() + kNtpAnswerWait);
        const int next = NextDue();
        if (next < 0 || (StartBurstsOver() && (!waitForAnswer || ntpMeasured))) break;
        SleepUntilMonotonic(ntpServers[next].asking.due);
    }
    if (ntpMeasured) {
        ReadSystemClock();
        AdoptNtpAtMinute(RawMonotonicNanoseconds());
        for (int i = 0; i < ntpServerCount && sayOffset; ++i) {
            if (!ntpServers[i].asking.hasWinner) continue;
            char line[300];
            FormatNtpOffsetLine(line, sizeof line, ntpServers[i].connection.server.text.c_str(),
                                ntpServers[i].asking.winner);
            std::printf("%s\n", line);
        }
        std::fflush(stdout);
    } else {
        std::string names;
        for (int i = 0; i < ntpServerCount; ++i)
            names += (i == 0 ? "" : ", ") + ntpServers[i].connection.server.text;
        // A dry run prints the system clock's frames, and says so too.
        SayError(live ? "dcf77tx: no answer from NTP server " + names +
                            " yet: sending the system clock's time until one comes"
                      : "dcf77tx: no time from NTP server " + names + ": the frames below carry the system clock's time");
        ntpOnSystemClock = live;
    }
}

std::int64_t SentTime(std::int64_t utc, std::int64_t raw) {
    return ntpTime.output.valid ? NtpOfRaw(ntpTime.output, raw) : utc;
}

bool NtpTimeSent() { return ntpTime.output.valid; }

void AdoptNtpAtMinute(std::int64_t raw) {
    const bool before = ntpTime.output.valid;
    AdoptNtpLine(&ntpTime, ntpSystemScale.rate, raw);
    ntpRateAdopted = NtpRateGood(ntpTime);
    if (before || !ntpTime.output.valid || !ntpOnSystemClock) return;
    char line[300];
    FormatNtpOffsetLine(line, sizeof line, ntpLatestFrom.c_str(), ntpLatest);
    SayError(std::string("dcf77tx: NTP time takes over: ") + line);
}

bool NtpCarrierRate(double* rate) {
    if (!ntpRateAdopted || !ntpTime.output.valid) return false;
    *rate = ntpTime.output.rate;
    return true;
}

void AddNtpOffset(char* line, std::size_t size) {
    if (!NtpInUse() || !ntpMeasured) return;
    char* end = std::strchr(line, '\n');
    if (end == nullptr) return;
    const std::string rest = end;
    const long long ms = std::llabs(ntpLatest.systemOffset + (ntpLatest.systemOffset < 0 ? -500'000 : 500'000)) /
                         1'000'000 * (ntpLatest.systemOffset < 0 ? -1 : 1);
    char offset[40];
    // Within 100 columns where the line leaves room, else shorter.
    const std::size_t used = static_cast<std::size_t>(end - line);
    std::snprintf(offset, sizeof offset, used + 14 <= 100 ? "  NTP %+lld ms" : " %+lldms", ms);
    std::snprintf(end, size - used, "%s%s", offset, rest.c_str());
}
