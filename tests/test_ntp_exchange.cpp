// One SNTP exchange through the real sockets of the platform against the
// stand-in server on loopback: a good answer and each fault, one row each.
#include <gtest/gtest.h>

#include <set>

#include "ntp/ntp_exchange.h"
#include "platform/platform.h"
#include "sntp_stand_in.h"

namespace {

constexpr std::int64_t kMillisecond = 1'000'000;
constexpr std::int64_t kSecond = 1'000 * kMillisecond;

std::int64_t UtcNow() {
    const UtcReading now = ReadUtcClock();
    return now.seconds * kSecond + now.nanoseconds;
}

}  // namespace

TEST(NtpExchange, AgainstTheStandInServer) {
    // Replies the client must wait past end at the deadline.
    const std::int64_t kWait = 400 * kMillisecond;
#ifdef _WIN32
    const char* const kRefused = "";  // Windows and Wine have their own words (WSAECONNRESET, WSAECONNREFUSED)
#else
    const char* const kRefused = "Connection refused";
#endif
    struct Row {
        const char* what;
        const char* address;
        SntpStandInFault fault;
        std::int64_t offset;
        NtpOutcome outcome;
        const char* says;  // after "dcf77tx: NTP server NAME: "
        bool closedPort = false;
    } rows[] = {
        {"good, server 2.5 s ahead", "127.0.0.1", STAND_IN_GOOD, 2'500 * kMillisecond, NTP_SAMPLE, ""},
        {"good over IPv6, server 1.25 s behind", "::1", STAND_IN_GOOD, -1'250 * kMillisecond, NTP_SAMPLE, ""},
        {"short", "127.0.0.1", STAND_IN_SHORT, 0, NTP_BAD_REPLY, "reply refused: 40 bytes, less than NTP's 48"},
        {"from another port: dropped by the system", "127.0.0.1", STAND_IN_OTHER_PORT, 0, NTP_NO_ANSWER, "no answer"},
        {"wrong origin", "127.0.0.1", STAND_IN_WRONG_ORIGIN, 0, NTP_BAD_REPLY,
         "reply refused: origin does not match our request"},
        {"unsynchronised", "127.0.0.1", STAND_IN_UNSYNCHRONISED, 0, NTP_BAD_REPLY,
         "reply refused: unsynchronised (leap indicator 3)"},
        {"kiss RATE", "127.0.0.1", STAND_IN_KISS_RATE, 0, NTP_KISS_RATE, "Kiss-o'-Death RATE: asking less often"},
        {"kiss DENY", "::1", STAND_IN_KISS_DENY, 0, NTP_KISS_STOP, "Kiss-o'-Death DENY: not asking again"},
        {"a year off", "127.0.0.1", STAND_IN_YEAR_OFF, 0, NTP_BAD_REPLY,
         "reply refused: its time is 365 days from the system clock's (more than 30)"},
        {"held longer than the round trip", "127.0.0.1", STAND_IN_SLOW_TO_ANSWER, 0, NTP_BAD_REPLY,
         "reply refused: it held the request 1.000 s, longer than the round trip"},
        {"no answer", "127.0.0.1", STAND_IN_SILENT, 0, NTP_NO_ANSWER, "no answer"},
        {"nothing listening", "127.0.0.1", STAND_IN_GOOD, 0, NTP_FAILED, kRefused, true},
    };
    std::set<std::uint64_t> origins;  // one of its own for every request
    for (const Row& row : rows) {
        SntpStandIn standIn;
        std::string problem;
        if (!StartSntpStandIn(&standIn, row.address, row.fault, row.offset, &problem)) {
            // A machine without IPv6 loopback skips that row alone.
            ASSERT_STREQ(row.address, "::1") << problem;
            std::printf("skipped '%s': %s\n", row.what, problem.c_str());
            continue;
        }
        std::string name = SntpStandInName(standIn);
        if (row.closedPort) name = std::string(row.address) + ":" + std::to_string(ClosedUdpPort(row.address));
        NtpServer server;
        ASSERT_TRUE(ParseNtpServer(name.c_str(), &server, &problem)) << problem;
        NtpConnection connection{};
        ASSERT_TRUE(OpenNtpServer(server, &connection, &problem)) << problem;
        NtpSample sample{};
        std::string why;
        const NtpOutcome outcome = ExchangeNtp(&connection, MonotonicNanoseconds() + kWait, &sample, &why);
        const std::int64_t utc = UtcNow(), raw = RawMonotonicNanoseconds();
        CloseNtpServer(&connection);
        StopSntpStandIn(&standIn);
        EXPECT_EQ(outcome, row.outcome) << row.what << ": " << why;
        EXPECT_EQ(standIn.requests, row.closedPort ? 0 : 1) << row.what;
        EXPECT_TRUE(row.closedPort || origins.insert(standIn.lastOrigin).second) << row.what;
        if (outcome != NTP_SAMPLE) {
            const std::string server = "dcf77tx: NTP server " + name + ": ";
            EXPECT_EQ(why.rfind(server + row.says, 0), 0u) << row.what << ": " << why;
            EXPECT_GT(why.size(), server.size() + 8) << row.what << ": " << why;  // words after the name
            continue;
        }
        // An offset is right to within half the delay (a slow wake-up of the
        // stand-in under Wine has cost 27 ms of it).
        EXPECT_GE(sample.delay, 0) << row.what;
        EXPECT_LT(sample.delay, 50 * kMillisecond) << row.what;
        const std::int64_t within = sample.delay / 2 + kMillisecond;
        EXPECT_NEAR(sample.systemOffset, row.offset, within) << row.what;
        EXPECT_EQ(sample.stratum, 2) << row.what;
        // The server's time at the raw midpoint: the system's now less the
        // raw time since, plus the offset.
        EXPECT_NEAR(sample.ntp, utc - (raw - sample.raw) + row.offset, within) << row.what;
        EXPECT_LE(raw - sample.raw, kWait) << row.what;
    }
}

TEST(NtpExchange, PeersResolvedComparedAndShown) {
    struct Row {
        const char* host;
        const char* port;
        const char* shown;
        bool sameAsFirst;
    } rows[] = {
        {"127.0.0.1", "123", "127.0.0.1", true},
        {"127.0.0.1", "124", "127.0.0.1:124", false},  // another port
        {"127.0.0.2", "123", "127.0.0.2", false},      // another address
        {"::1", "123", "[::1]", false},                // another family
        {"::1", "65535", "[::1]:65535", false},
    };
    UdpPeer first{};
    for (const Row& row : rows) {
        UdpPeer peer{};
        int count = 0;
        char error[256] = "", shown[64];
        ASSERT_TRUE(ResolveUdpPeers(row.host, row.port, &peer, 1, &count, error, sizeof error)) << error;
        ASSERT_EQ(count, 1);
        if (&row == rows) first = peer;
        FormatUdpPeer(peer, shown, sizeof shown);
        EXPECT_STREQ(shown, row.shown);
        EXPECT_EQ(SameUdpPeer(peer, first), row.sameAsFirst) << row.shown;
    }
    UdpPeer peer{};
    int count = 0;
    char error[256] = "";
    // Refused by the resolver without asking a name server.
    EXPECT_FALSE(ResolveUdpPeers("127.0.0.1", "ntp", &peer, 1, &count, error, sizeof error));
    EXPECT_STRNE(error, "");  // the resolver's own words
}
