// The SNTP packet read field by field, the era rule, the arithmetic, the
// --ntp value and the offset line, one row per rule or fault.
#include <gtest/gtest.h>

#include <vector>

#include "ntp/ntp_exchange.h"
#include "ntp/sntp.h"

namespace {

constexpr std::int64_t kSecond = 1'000'000'000;
constexpr std::int64_t kEraEnd = 2'085'978'496;  // 2036-02-07 06:28:16 UTC, Unix seconds
constexpr NtpTimestamp kOrigin = 0x0123456789abcdefu;

struct ReplyFields {
    int leap = 0, version = 4, mode = 4, stratum = 2;
    const char* id = "GPS";
    NtpTimestamp origin = kOrigin;
    std::int64_t receive = 1'700'000'000 * kSecond;  // Unix ns, server clock
    std::int64_t transmit = 1'700'000'000 * kSecond + 1'000;
    bool zeroTransmit = false;
    std::size_t length = 48;  // more: a key and MAC after the header
};

void Put(unsigned char* at, NtpTimestamp value) {
    for (int i = 7; i >= 0; --i, value >>= 8) at[i] = static_cast<unsigned char>(value);
}

// The reply in a buffer of exactly its length, so that a read past it is
// caught by AddressSanitizer.
std::vector<unsigned char> Reply(const ReplyFields& f) {
    std::vector<unsigned char> packet(f.length, 0xa5);
    packet[0] = static_cast<unsigned char>(f.leap << 6 | f.version << 3 | f.mode);
    packet[1] = static_cast<unsigned char>(f.stratum);
    for (int i = 0; i < 4; ++i) packet[12 + i] = static_cast<unsigned char>(f.id[i]);
    Put(&packet[24], f.origin);
    Put(&packet[32], UnixNanosecondsToNtp(f.receive));
    Put(&packet[40], f.zeroTransmit ? 0 : UnixNanosecondsToNtp(f.transmit));
    return packet;
}

}  // namespace

TEST(Sntp, RequestIsVersion4ClientModeWithTheOrigin) {
    unsigned char packet[kNtpPacketSize];
    BuildSntpRequest(packet, kOrigin);
    EXPECT_EQ(packet[0], 0x23);  // leap 0, version 4, mode 3
    for (std::size_t i = 1; i < 40; ++i) EXPECT_EQ(packet[i], 0) << i;
    const unsigned char origin[] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(packet[40 + i], origin[i]);
}

TEST(Sntp, EveryShortLengthIsNotAnAnswer) {
    const std::vector<unsigned char> whole = Reply({});
    for (std::size_t length = 0; length < kNtpPacketSize; ++length) {
        const std::vector<unsigned char> cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
        SntpReply reply{};
        std::string reason;
        EXPECT_EQ(ParseSntpReply(cut.data(), length, kOrigin, &reply, &reason), SNTP_NOT_OURS) << length;
        EXPECT_EQ(reason, std::to_string(length) + " bytes, less than NTP's 48");
    }
}

TEST(Sntp, ReplyFields) {
    struct Row {
        const char* what;
        ReplyFields fields;
        SntpVerdict verdict;
        const char* reason;
    } rows[] = {
        {"good", {}, SNTP_GOOD, ""},
        {"a key and MAC after the header", {.length = 68}, SNTP_GOOD, ""},
        {"version 3 server", {.version = 3}, SNTP_GOOD, ""},
        {"leap second announced", {.leap = 1}, SNTP_GOOD, ""},
        {"stratum 15", {.stratum = 15}, SNTP_GOOD, ""},
        {"our own request echoed", {.mode = 3}, SNTP_NOT_OURS, "mode 3, not a server's 4"},
        {"broadcast", {.mode = 5}, SNTP_NOT_OURS, "mode 5, not a server's 4"},
        {"version 0", {.version = 0}, SNTP_NOT_OURS, "version 0, not 1-4"},
        {"version 5", {.version = 5}, SNTP_NOT_OURS, "version 5, not 1-4"},
        {"stale or forged", {.origin = kOrigin ^ 1}, SNTP_NOT_OURS, "origin does not match our request"},
        {"forged kiss", {.stratum = 0, .id = "DENY", .origin = 7}, SNTP_NOT_OURS, "origin does not match our request"},
        {"kiss RATE", {.leap = 3, .stratum = 0, .id = "RATE"}, SNTP_KISS_RATE, "Kiss-o'-Death RATE"},
        {"kiss DENY", {.leap = 3, .stratum = 0, .id = "DENY"}, SNTP_KISS_STOP, "Kiss-o'-Death DENY"},
        {"kiss RSTR", {.leap = 3, .stratum = 0, .id = "RSTR"}, SNTP_KISS_STOP, "Kiss-o'-Death RSTR"},
        {"other kiss", {.stratum = 0, .id = "INIT"}, SNTP_REFUSED, "Kiss-o'-Death INIT"},
        {"unprintable kiss", {.stratum = 0, .id = "A\033\n"}, SNTP_REFUSED, "Kiss-o'-Death A??"},
        {"unsynchronised stratum", {.leap = 3, .stratum = 16}, SNTP_REFUSED, "stratum 16"},
        {"stratum 255", {.stratum = 255}, SNTP_REFUSED, "stratum 255"},
        {"unsynchronised", {.leap = 3}, SNTP_REFUSED, "unsynchronised (leap indicator 3)"},
        {"no transmit time", {.zeroTransmit = true}, SNTP_REFUSED, "no transmit timestamp"},
        {"sent before received", {.transmit = 1'700'000'000 * kSecond - 1'000}, SNTP_REFUSED,
         "transmit timestamp before receive timestamp"},
    };
    for (const Row& row : rows) {
        const std::vector<unsigned char> packet = Reply(row.fields);
        SntpReply reply{};
        std::string reason;
        EXPECT_EQ(ParseSntpReply(packet.data(), packet.size(), kOrigin, &reply, &reason), row.verdict) << row.what;
        if (row.verdict != SNTP_GOOD) {
            EXPECT_EQ(reason, row.reason) << row.what;
            continue;
        }
        EXPECT_EQ(reply.stratum, row.fields.stratum) << row.what;
        EXPECT_EQ(reply.leap, row.fields.leap) << row.what;
        EXPECT_EQ(NtpToUnixNanoseconds(reply.receive, row.fields.receive), row.fields.receive) << row.what;
        EXPECT_EQ(NtpToUnixNanoseconds(reply.transmit, row.fields.receive), row.fields.transmit) << row.what;
    }
}

TEST(Sntp, TimesAcrossTheEraAndTheArithmetic) {
    // T1 and T4 on the client's clock, T2 and T3 on the server's, Unix ns;
    // offset and delay worked out by hand.
    struct Row {
        const char* what;
        std::int64_t t1, t2, t3, t4;
        std::int64_t offset, delay;
    } rows[] = {
        {"server 2.5 s ahead", 1'000 * kSecond, 1'002'600'000'000, 1'002'601'000'000, 1'000'205'000'000,
         2'498'000'000, 204'000'000},
        {"server 1.25 s behind", 1'000 * kSecond, 998'760'000'000, 998'760'000'000, 1'000'020'000'000,
         -1'250'000'000, 20'000'000},
        {"era 1 server, era 0 client", (kEraEnd - 2) * kSecond, (kEraEnd + 1) * kSecond,
         (kEraEnd + 1) * kSecond + 500, (kEraEnd - 2) * kSecond + 100'000, 2'999'950'250, 99'500},
        {"era 0 server, era 1 client", (kEraEnd + 3) * kSecond, (kEraEnd - 1) * kSecond + 999'999'999,
         kEraEnd * kSecond + 1, (kEraEnd + 3) * kSecond + 2, -3'000'000'001, 0},
        {"1970", 0, 250'000'000, 250'000'000, 0, 250'000'000, 0},
    };
    for (const Row& row : rows) {
        // The server's timestamps go through the packet's 32-bit seconds and
        // are read back against the client's clock at T4.
        const std::int64_t t2 = NtpToUnixNanoseconds(UnixNanosecondsToNtp(row.t2), row.t4);
        const std::int64_t t3 = NtpToUnixNanoseconds(UnixNanosecondsToNtp(row.t3), row.t4);
        EXPECT_EQ(t2, row.t2) << row.what;
        EXPECT_EQ(t3, row.t3) << row.what;
        EXPECT_EQ(SntpOffset(row.t1, t2, t3, row.t4), row.offset) << row.what;
        EXPECT_EQ(SntpDelay(row.t1, t2, t3, row.t4), row.delay) << row.what;
    }
    // Era 1's first second is NTP second 0.
    EXPECT_EQ(UnixNanosecondsToNtp(kEraEnd * kSecond), 0u);
}

TEST(Sntp, ServerValues) {
    struct Row {
        const char* text;
        bool good;
        const char* host = "";
        const char* port = "";
        const char* shown = nullptr;  // in the refusal, where not the text itself
    } rows[] = {
        {"ntp.example.org", true, "ntp.example.org", "123"},
        {"192.0.2.1:1123", true, "192.0.2.1", "1123"},
        {"ntp_1.example:65535", true, "ntp_1.example", "65535"},
        {"[2001:db8::1]", true, "2001:db8::1", "123"},
        {"[::1]:00123", true, "::1", "123"},
        {"2001:db8::1", true, "2001:db8::1", "123"},  // bare IPv6: no port
        {"", false},
        {"time server", false},
        {"time\tserver", false, "", "", "time?server"},
        {"host:0", false},
        {"host:65536", false},
        {"host:", false},
        {"host:12a", false},
        {":123", false},
        {"[::1", false},
        {"[::1]123", false},
        {"[time.example]", false},  // brackets hold an IPv6 address
        {"[]:123", false},
        {"host/path", false},
    };
    for (const Row& row : rows) {
        NtpServer server{};
        std::string problem;
        EXPECT_EQ(ParseNtpServer(row.text, &server, &problem), row.good) << row.text;
        if (row.good) {
            EXPECT_EQ(server.text, row.text);
            EXPECT_EQ(server.host, row.host) << row.text;
            EXPECT_EQ(server.port, row.port) << row.text;
        } else {
            EXPECT_EQ(problem, std::string("--ntp needs a host name, an address or [IPv6], optionally :PORT "
                                           "(1-65535), not '") + (row.shown ? row.shown : row.text) + "'");
        }
    }
}

TEST(Sntp, OffsetLineInChronysWords) {
    struct Row {
        std::int64_t offset, delay;
        int stratum;
        const char* line;
    } rows[] = {
        {1'250'000'000, 12'000'000, 2, "system clock 1.250 s slow of S (delay 0.012 s, stratum 2)"},
        {-2'499'500'000, 499'999, 8, "system clock 2.500 s fast of S (delay 0.000 s, stratum 8)"},
        {-400'000, 1'500'000, 15, "system clock 0.000 s fast of S (delay 0.002 s, stratum 15)"},
        {61'000'000'000, -2'000'000, 1, "system clock 61.000 s slow of S (delay -0.002 s, stratum 1)"},
    };
    for (const Row& row : rows) {
        char line[120];
        FormatNtpOffsetLine(line, sizeof line, "S", {0, 0, row.offset, row.delay, row.stratum});
        EXPECT_STREQ(line, row.line);
    }
}
