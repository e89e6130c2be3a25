// One SNTP exchange with one server over the platform's UDP socket: the
// request with a random origin, the reply checked field by field, and the
// sample it gives, tied to the raw monotonic clock so that a step or slew
// of the system clock does not move it. Reads the clocks through the
// platform layer; the packet itself is built and read in sntp.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/udp.h"

// A server as given on the command line: a name, an IPv4 address or an
// [IPv6] address, optionally followed by :PORT (1-65535; default 123).
struct NtpServer {
    std::string text;  // as typed, for messages
    std::string host;  // without brackets
    std::string port;  // decimal
};

// Reads --ntp's value; false with one line saying what is wrong (empty,
// a space, a port outside 1-65535, an unclosed bracket ...).
bool ParseNtpServer(const char* text, NtpServer* server, std::string* problem);

// An open exchange with a server: its address, socket and the request out.
struct NtpConnection {
    NtpServer server;
    UdpPeer peer;
    UdpSocket socket;
    bool open;
};

// Resolves the server and opens a socket to its first address; false with
// one line naming the server and the system's words. Such lines, here and
// from ExchangeNtp, read "dcf77tx: NTP server TEXT: ..." with no line end.
bool OpenNtpServer(const NtpServer& server, NtpConnection* connection, std::string* problem);
void CloseNtpServer(NtpConnection* connection);

// What one exchange measured.
struct NtpSample {
    std::int64_t raw;           // raw monotonic ns midway between request and reply
    std::int64_t ntp;           // the server's UTC then, ns since 1970
    std::int64_t systemOffset;  // the server's time minus the system clock's, ns
    std::int64_t delay;         // the round trip less the server's own time, ns (raw clock)
    int stratum;
};

enum NtpOutcome {
    NTP_SAMPLE,     // a good reply: `sample` holds it
    NTP_NO_ANSWER,  // nothing valid came before the deadline
    NTP_BAD_REPLY,  // a reply that fails a check; `why` says which; nothing from it is used
    NTP_KISS_RATE,  // Kiss-o'-Death RATE: ask less often
    NTP_KISS_STOP,  // Kiss-o'-Death DENY or RSTR: never ask this server again
    NTP_FAILED,     // the system refused to send or receive (a refused port ...); `why` says so
};

// Sends one request and waits for its reply until the monotonic clock
// reads `deadline`; datagrams from elsewhere or not answering this request
// are dropped while waiting. `why` gets one line naming the server for
// every outcome but NTP_SAMPLE.
NtpOutcome ExchangeNtp(NtpConnection* connection, std::int64_t deadline, NtpSample* sample, std::string* why);

// The measurement in chrony's words, for the server as typed:
// "system clock 1.250 s slow of 192.0.2.1 (delay 0.012 s, stratum 2)"
// ("fast" when the system clock is ahead of the server).
void FormatNtpOffsetLine(char* line, std::size_t size, const char* server, const NtpSample& sample);
