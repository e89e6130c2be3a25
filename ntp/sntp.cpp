#include "ntp/sntp.h"


namespace {

constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;
// Seconds from 1900-01-01 (NTP's origin) to 1970-01-01 (Unix time's).
constexpr std::int64_t kNtpToUnixSeconds = 2'208'988'800;
constexpr int kClientMode = 3;
constexpr int kServerMode = 4;
constexpr int kVersion = 4;
constexpr int kUnsynchronised = 3;  // leap indicator: the server's clock is not set
constexpr int kMaxStratum = 15;

NtpTimestamp ReadTimestamp(const unsigned char* at) {
    NtpTimestamp value = 0;
    for (int i = 0; i < 8; ++i) value = value << 8 | at[i];
    return value;
}

void WriteTimestamp(unsigned char* at, NtpTimestamp value) {
    for (int i = 7; i >= 0; --i, value >>= 8) at[i] = static_cast<unsigned char>(value & 0xff);
}

// A Kiss-o'-Death code as text: four ASCII characters, trailing NULs
// dropped; anything unprintable from the network shown as '?'.
std::string KissCode(const unsigned char* at) {
    std::string code;
    int end = 4;
    while (end > 0 && at[end - 1] == 0) --end;
    for (int i = 0; i < end; ++i) code += at[i] >= 0x20 && at[i] < 0x7f ? static_cast<char>(at[i]) : '?';
    return code;
}

}  // namespace

void BuildSntpRequest(unsigned char* packet, NtpTimestamp origin) {
    for (std::size_t i = 0; i < kNtpPacketSize; ++i) packet[i] = 0;
    packet[0] = static_cast<unsigned char>(0 << 6 | kVersion << 3 | kClientMode);  // leap indicator 0
    WriteTimestamp(packet + 40, origin);
}

SntpVerdict ParseSntpReply(const unsigned char* data, std::size_t length, NtpTimestamp origin, SntpReply* reply,
                           std::string* reason) {
    if (length < kNtpPacketSize) {
        *reason = std::to_string(length) + " bytes, less than NTP's 48";
        return SNTP_NOT_OURS;
    }
    const int leap = data[0] >> 6;
    const int version = data[0] >> 3 & 7;
    const int mode = data[0] & 7;
    const int stratum = data[1];
    if (mode != kServerMode) {
        *reason = "mode " + std::to_string(mode) + ", not a server's 4";
        return SNTP_NOT_OURS;
    }
    // Versions 1 to 3 lay out the same 48 bytes; 0 and 5-7 are not NTP.
    if (version < 1 || version > kVersion) {
        *reason = "version " + std::to_string(version) + ", not 1-4";
        return SNTP_NOT_OURS;
    }
    if (ReadTimestamp(data + 24) != origin) {
        *reason = "origin does not match our request";
        return SNTP_NOT_OURS;
    }
    // A kiss carries no time (and often leap indicator 3): read it first.
    if (stratum == 0) {
        const std::string code = KissCode(data + 12);
        *reason = "Kiss-o'-Death " + code;
        if (code == "RATE") return SNTP_KISS_RATE;
        if (code == "DENY" || code == "RSTR") return SNTP_KISS_STOP;
        return SNTP_REFUSED;
    }
    if (stratum > kMaxStratum) {
        *reason = "stratum " + std::to_string(stratum);
        return SNTP_REFUSED;
    }
    if (leap == kUnsynchronised) {
        *reason = "unsynchronised (leap indicator 3)";
        return SNTP_REFUSED;
    }
    reply->receive = ReadTimestamp(data + 32);
    reply->transmit = ReadTimestamp(data + 40);
    if (reply->transmit == 0) {
        *reason = "no transmit timestamp";
        return SNTP_REFUSED;
    }
    // Compared across an era's end as well.
    if (static_cast<std::int64_t>(reply->transmit - reply->receive) < 0) {
        *reason = "transmit timestamp before receive timestamp";
        return SNTP_REFUSED;
    }
    reply->stratum = stratum;
    reply->leap = leap;
    return SNTP_GOOD;
}

std::int64_t NtpToUnixNanoseconds(NtpTimestamp timestamp, std::int64_t reference) {
    // The era: the seconds nearest the reference's, RFC 4330's
    // most-significant-bit rule made to hold in any era.
    const std::int64_t referenceSeconds = reference / kNanosecondsPerSecond + kNtpToUnixSeconds;
    const auto seconds = static_cast<std::uint32_t>(timestamp >> 32);
    const auto step = static_cast<std::int32_t>(seconds - static_cast<std::uint32_t>(referenceSeconds));
    const std::int64_t ntpSeconds = referenceSeconds + step;
    // Rounded to the nearest nanosecond: a fraction's step is 0.23 ns.
    const std::uint64_t fraction = timestamp & 0xffffffffu;
    const auto nanoseconds = static_cast<std::int64_t>((fraction * 1'000'000'000u + (1u << 31)) >> 32);
    return (ntpSeconds - kNtpToUnixSeconds) * kNanosecondsPerSecond + nanoseconds;
}

NtpTimestamp UnixNanosecondsToNtp(std::int64_t unixNanoseconds) {
    std::int64_t seconds = unixNanoseconds / kNanosecondsPerSecond;
    std::int64_t nanoseconds = unixNanoseconds % kNanosecondsPerSecond;
    if (nanoseconds < 0) nanoseconds += kNanosecondsPerSecond, --seconds;
    const auto fraction = (static_cast<std::uint64_t>(nanoseconds) << 32) + kNanosecondsPerSecond / 2;
    return static_cast<NtpTimestamp>(static_cast<std::uint32_t>(seconds + kNtpToUnixSeconds)) << 32 |
           fraction / kNanosecondsPerSecond;
}

// The differences stay within 68 years each (T2 and T3 are read in the era
// nearest the client's clock), so their sums fit 64 bits.
std::int64_t SntpOffset(std::int64_t t1, std::int64_t t2, std::int64_t t3, std::int64_t t4) {
    return ((t2 - t1) + (t3 - t4)) / 2;
}

std::int64_t SntpDelay(std::int64_t t1, std::int64_t t2, std::int64_t t3, std::int64_t t4) {
    return (t4 - t1) - (t3 - t2);
}
