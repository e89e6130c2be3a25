// A stand-in SNTP server for tests: a thread on a loopback address and an
// ephemeral port that answers every request with its clock (the system's
// UTC plus a set offset), or with one chosen fault.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

enum SntpStandInFault {
    STAND_IN_GOOD,
    STAND_IN_SHORT,           // a 40-byte reply
    STAND_IN_OTHER_PORT,      // the reply sent from another port
    STAND_IN_WRONG_ORIGIN,    // the request's timestamp not echoed
    STAND_IN_UNSYNCHRONISED,  // leap indicator 3
    STAND_IN_KISS_RATE,
    STAND_IN_KISS_DENY,
    STAND_IN_YEAR_OFF,        // the offset and a year more
    STAND_IN_SLOW_TO_ANSWER,  // says it held the request a second, longer than the round trip
    STAND_IN_SILENT,          // reads requests, never answers
};

struct SntpStandIn {
    std::intptr_t socket = -1, otherSocket = -1;
    std::string address;  // "127.0.0.1" or "::1"
    int port = 0;
    SntpStandInFault fault = STAND_IN_GOOD;
    std::int64_t offset = 0;  // ns the stand-in's clock is ahead of the system's
    std::atomic<int> requests{0};
    std::atomic<std::uint64_t> lastOrigin{0};  // the transmit timestamp of the last request
    std::atomic<bool> stop{false};
    std::thread thread;
};

// Opens the stand-in on `address` and starts answering; false with the
// system's words in `problem` (no IPv6 loopback, say).
bool StartSntpStandIn(SntpStandIn* server, const char* address, SntpStandInFault fault, std::int64_t offset,
                      std::string* problem);
void StopSntpStandIn(SntpStandIn* server);

// The server as --ntp takes it: "127.0.0.1:PORT" or "[::1]:PORT".
std::string SntpStandInName(const SntpStandIn& server);

// A loopback port with nothing listening on it (bound, then let go).
int ClosedUdpPort(const char* address);
