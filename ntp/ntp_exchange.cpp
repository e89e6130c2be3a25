#include "ntp/ntp_exchange.h"

#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "ntp/sntp.h"
#include "platform/platform.h"

namespace {

constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;
// A server whose time is further than this from the system clock is broken
// or forged; a system clock this far off wants setting by the system first.
constexpr std::int64_t kMostDaysOff = 30;
constexpr std::int64_t kDay = 86'400 * kNanosecondsPerSecond;
constexpr std::int64_t kMostOff = kMostDaysOff * kDay;
// What a server's own time with the request (T3 - T2, on its clock) may
// exceed the round trip (on ours) by: the two clocks' resolutions.
constexpr std::int64_t kMostHeldBeyondRoundTrip = 1'000'000;

// Requests sent by this process: one of the sources of their origins.
std::atomic<std::uint64_t> requestsSent{0};

std::uint64_t Mix(std::uint64_t z) {  // splitmix64's finaliser
    z += 0x9e3779b97f4a7c15u;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
    return z ^ (z >> 31);
}

// A random origin, so that a stale or forged reply is told apart. The
// system's random device is mixed with both clocks and a count: some MinGW
// toolchains gave a fixed sequence from std::random_device.
NtpTimestamp RandomOrigin() {
    std::uint64_t origin = Mix(requestsSent++ ^ static_cast<std::uint64_t>(RawMonotonicNanoseconds()));
    const UtcReading utc = ReadUtcClock();
    origin = Mix(origin ^ static_cast<std::uint64_t>(utc.seconds * kNanosecondsPerSecond + utc.nanoseconds));
    try {
        std::random_device device;
        origin = Mix(origin ^ (static_cast<std::uint64_t>(device()) << 32 | device()));
    } catch (const std::exception&) {
        // No random device here: the clocks alone.
    }
    return origin == 0 ? 1 : origin;  // zero would read as "no origin"
}

std::int64_t Nanoseconds(const UtcReading& reading) {
    return reading.seconds * kNanosecondsPerSecond + reading.nanoseconds;
}

std::string ServerLine(const NtpServer& server, const std::string& text) {
    return "dcf77tx: NTP server " + server.text + ": " + text;
}

bool IsHostCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
           c == '_' || c == ':' || c == '%';
}

bool IsHost(const std::string& host) {
    if (host.empty()) return false;
    for (char c : host)
        if (!IsHostCharacter(c)) return false;
    return true;
}

// "1" to "65535" in decimal, written back without leading zeros.
bool ReadPort(const std::string& text, std::string* port) {
    if (text.empty() || text.size() > 5) return false;
    long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > 65535) return false;
    *port = std::to_string(value);
    return true;
}

// Writes milliseconds as seconds with three decimals, unsigned.
std::string Seconds(std::int64_t nanoseconds) {
    const std::int64_t ms = (std::abs(nanoseconds) + 500'000) / 1'000'000;
    char text[32];
    std::snprintf(text, sizeof text, "%" PRId64 ".%03" PRId64, ms / 1000, ms % 1000);
    return text;
}

}  // namespace

bool ParseNtpServer(const char* text, NtpServer* server, std::string* problem) {
    const std::string value = text;
    const std::size_t npos = std::string::npos, colon = value.find(':');
    std::string host = value, port = "123";
    bool good = true;
    if (value.starts_with('[')) {  // [IPv6] or [IPv6]:PORT
        const std::size_t close = value.find(']');
        host = close == npos ? "" : value.substr(1, close - 1);
        const std::string rest = close == npos ? "" : value.substr(close + 1);
        good = host.find(':') != npos && (rest.empty() || (rest[0] == ':' && ReadPort(rest.substr(1), &port)));
    } else if (colon != npos && value.find(':', colon + 1) == npos) {  // NAME:PORT; more colons: a bare IPv6
        host = value.substr(0, colon);
        good = ReadPort(value.substr(colon + 1), &port);
    }
    if (!good || !IsHost(host)) {
        std::string shown;
        for (char c : value) shown += c >= 0x20 && c < 0x7f ? c : '?';
        *problem = "--ntp needs a host name, an address or [IPv6], optionally :PORT (1-65535), not '" + shown + "'";
        return false;
    }
    *server = {value, host, port};
    return true;
}

bool OpenNtpServer(const NtpServer& server, NtpConnection* connection, std::string* problem) {
    char error[256];
    int count = 0;
    connection->server = server;
    connection->open = false;
    if (!ResolveUdpPeers(server.host.c_str(), server.port.c_str(), &connection->peer, 1, &count, error,
                         sizeof error) ||
        !OpenUdp(connection->peer, &connection->socket, error, sizeof error)) {
        *problem = ServerLine(server, error);
        return false;
    }
    connection->open = true;
    return true;
}

void CloseNtpServer(NtpConnection* connection) {
    if (connection->open) CloseUdp(connection->socket);
    connection->open = false;
}

NtpOutcome ExchangeNtp(NtpConnection* connection, std::int64_t deadline, NtpSample* sample, std::string* why) {
    unsigned char request[kNtpPacketSize];
    const NtpTimestamp origin = RandomOrigin();
    BuildSntpRequest(request, origin);
    char error[256];
    // The readings around the exchange, in mirror order on each side.
    const std::int64_t t1 = Nanoseconds(ReadUtcClock());
    const std::int64_t rawSent = RawMonotonicNanoseconds();
    if (!SendUdp(connection->socket, request, sizeof request, error, sizeof error)) {
        *why = ServerLine(connection->server, error);
        return NTP_FAILED;
    }
    std::string refused;  // why the last datagram was dropped
    for (;;) {
        unsigned char reply[512];
        std::size_t length = 0;
        UdpPeer from{};
        const UdpReceived received =
            ReceiveUdp(connection->socket, reply, sizeof reply, &length, &from, deadline, error, sizeof error);
        const std::int64_t rawReceived = RawMonotonicNanoseconds();
        const std::int64_t t4 = Nanoseconds(ReadUtcClock());
        if (received == UDP_TIMEOUT) {
            *why = ServerLine(connection->server, refused.empty() ? "no answer" : "reply refused: " + refused);
            return refused.empty() ? NTP_NO_ANSWER : NTP_BAD_REPLY;
        }
        if (received == UDP_FAILED) {
            *why = ServerLine(connection->server, error);
            return NTP_FAILED;
        }
        if (!SameUdpPeer(from, connection->peer)) {
            char text[64];
            FormatUdpPeer(from, text, sizeof text);
            refused = std::string("a datagram from ") + text + ", not the server";
            continue;
        }
        SntpReply answer{};
        std::string reason;
        switch (ParseSntpReply(reply, length, origin, &answer, &reason)) {
        case SNTP_NOT_OURS: refused = reason; continue;
        case SNTP_REFUSED: *why = ServerLine(connection->server, "reply refused: " + reason); return NTP_BAD_REPLY;
        case SNTP_KISS_RATE:
            *why = ServerLine(connection->server, reason + ": asking less often");
            return NTP_KISS_RATE;
        case SNTP_KISS_STOP:
            *why = ServerLine(connection->server, reason + ": not asking again");
            return NTP_KISS_STOP;
        case SNTP_GOOD: break;
        }
        const std::int64_t t2 = NtpToUnixNanoseconds(answer.receive, t4);
        const std::int64_t t3 = NtpToUnixNanoseconds(answer.transmit, t4);
        if (const std::int64_t off = std::abs(t3 - t4); off > kMostOff) {
            const std::string days = std::to_string((off + kDay / 2) / kDay);
            *why = ServerLine(connection->server, "reply refused: its time is " + days +
                                                      " days from the system clock's (more than " +
                                                      std::to_string(kMostDaysOff) + ")");
            return NTP_BAD_REPLY;
        }
        // A server that says it held the request longer than the whole
        // round trip took has a broken clock; its reply would win every
        // burst on its negative delay.
        if (const std::int64_t held = t3 - t2; held > rawReceived - rawSent + kMostHeldBeyondRoundTrip) {
            *why = ServerLine(connection->server,
                              "reply refused: it held the request " + Seconds(held) + " s, longer than the round trip");
            return NTP_BAD_REPLY;
        }
        sample->raw = rawSent + (rawReceived - rawSent) / 2;
        sample->ntp = t2 + (t3 - t2) / 2;
        sample->delay = (rawReceived - rawSent) - (t3 - t2);
        sample->systemOffset = SntpOffset(t1, t2, t3, t4);
        sample->stratum = answer.stratum;
        return NTP_SAMPLE;
    }
}

void FormatNtpOffsetLine(char* line, std::size_t size, const char* server, const NtpSample& sample) {
    std::snprintf(line, size, "system clock %s s %s of %s (delay %s%s s, stratum %d)",
                  Seconds(sample.systemOffset).c_str(), sample.systemOffset < 0 ? "fast" : "slow", server,
                  sample.delay < 0 ? "-" : "", Seconds(sample.delay).c_str(), sample.stratum);
}
