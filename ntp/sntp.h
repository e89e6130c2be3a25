// The SNTP packet (RFC 4330, NTP version 4 in client mode): the request,
// the reply read field by field, the NTP timestamp read as Unix time and
// the offset and delay of one exchange. Pure code: every time is passed in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr std::size_t kNtpPacketSize = 48;

// An NTP timestamp as sent: 32 bits of seconds since 1900 (within an era
// of 2^32 s), 32 bits of fraction.
using NtpTimestamp = std::uint64_t;

// The 48-byte client request; `origin` goes into the transmit timestamp
// and must come back in the reply's origin field.
void BuildSntpRequest(unsigned char* packet, NtpTimestamp origin);

enum SntpVerdict {
    SNTP_GOOD,        // a usable answer to our request
    SNTP_NOT_OURS,    // not an answer to our request (short, not a server's, another origin): wait on
    SNTP_REFUSED,     // an answer to our request that must not be used
    SNTP_KISS_RATE,   // Kiss-o'-Death RATE: ask less often
    SNTP_KISS_STOP,   // Kiss-o'-Death DENY or RSTR: do not ask again
};

// What a good reply says.
struct SntpReply {
    NtpTimestamp receive;   // T2: the request's arrival, server clock
    NtpTimestamp transmit;  // T3: the reply's departure, server clock
    int stratum;
    int leap;
};

// Reads `length` bytes of a reply to the request that carried `origin`,
// never past them. Every verdict but SNTP_GOOD leaves a short reason in the
// protocol's words in `reason`.
SntpVerdict ParseSntpReply(const unsigned char* data, std::size_t length, NtpTimestamp origin, SntpReply* reply,
                           std::string* reason);

// The timestamp as nanoseconds since 1970, its era (2^32 s, the first
// ending 2036-02-07 06:28:16 UTC) chosen so that it lies within 68 years
// of `reference` (ns since 1970, the client's clock).
std::int64_t NtpToUnixNanoseconds(NtpTimestamp timestamp, std::int64_t reference);

// Nanoseconds since 1970 as an NTP timestamp (its era dropped).
NtpTimestamp UnixNanosecondsToNtp(std::int64_t unixNanoseconds);

// RFC 4330's arithmetic on T1 (request sent, client clock), T2, T3 (server
// clock) and T4 (reply received, client clock), all ns since 1970: how far
// the server's clock is ahead of the client's, and the round trip less the
// server's own time.
std::int64_t SntpOffset(std::int64_t t1, std::int64_t t2, std::int64_t t3, std::int64_t t4);
std::int64_t SntpDelay(std::int64_t t1, std::int64_t t2, std::int64_t t3, std::int64_t t4);
