#include "sntp_stand_in.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
using SocketLength = int;
static void CloseSocket(std::intptr_t s) { closesocket(static_cast<SOCKET>(s)); }
static void StartSockets() {
    static WSADATA data;
    static const int started = WSAStartup(MAKEWORD(2, 2), &data);
    (void)started;
}
static std::string SocketProblem() { return "Winsock error " + std::to_string(WSAGetLastError()); }
#else
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
using SocketLength = socklen_t;
static void CloseSocket(std::intptr_t s) { close(static_cast<int>(s)); }
static void StartSockets() {}
static std::string SocketProblem() { return std::strerror(errno); }
#endif

#include "ntp/sntp.h"
#include "platform/platform.h"

namespace {

constexpr std::int64_t kYear = 365LL * 86'400 * 1'000'000'000;

std::int64_t UtcNow() {
    const UtcReading now = ReadUtcClock();
    return now.seconds * 1'000'000'000 + now.nanoseconds;
}

void PutTimestamp(unsigned char* at, NtpTimestamp value) {
    for (int i = 7; i >= 0; --i, value >>= 8) at[i] = static_cast<unsigned char>(value);
}

// A socket on `address`, port `port` (0: any free one); -1 on failure.
std::intptr_t OpenBound(const char* address, int port, sockaddr_storage* where, SocketLength* length) {
    StartSockets();
    *where = {};
    if (inet_pton(AF_INET6, address, &reinterpret_cast<sockaddr_in6*>(where)->sin6_addr) == 1) {
        auto* six = reinterpret_cast<sockaddr_in6*>(where);
        six->sin6_family = AF_INET6;
        six->sin6_port = htons(static_cast<unsigned short>(port));
        *length = sizeof(sockaddr_in6);
    } else {
        auto* four = reinterpret_cast<sockaddr_in*>(where);
        inet_pton(AF_INET, address, &four->sin_addr);
        four->sin_family = AF_INET;
        four->sin_port = htons(static_cast<unsigned short>(port));
        *length = sizeof(sockaddr_in);
    }
    const auto s = static_cast<std::intptr_t>(socket(where->ss_family, SOCK_DGRAM, IPPROTO_UDP));
    if (s < 0 || bind(s, reinterpret_cast<sockaddr*>(where), *length) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(where), length) != 0) {
        if (s >= 0) CloseSocket(s);
        return -1;
    }
    return s;
}

int PortOf(const sockaddr_storage& where) {
    return ntohs(where.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6&>(where).sin6_port
                                             : reinterpret_cast<const sockaddr_in&>(where).sin_port);
}

// Fills the reply to `request` as the fault asks; its length.
int Answer(const SntpStandIn& server, const unsigned char* request, std::int64_t received, unsigned char* reply) {
    const std::int64_t shift = server.offset + (server.fault == STAND_IN_YEAR_OFF ? kYear : 0);
    for (int i = 0; i < 48; ++i) reply[i] = 0;
    const bool kiss = server.fault == STAND_IN_KISS_RATE || server.fault == STAND_IN_KISS_DENY;
    const int leap = server.fault == STAND_IN_UNSYNCHRONISED || kiss ? 3 : 0;
    reply[0] = static_cast<unsigned char>(leap << 6 | 4 << 3 | 4);
    reply[1] = kiss ? 0 : 2;
    reply[2] = request[2];
    reply[3] = 0xec;  // 2^-20 s
    const char* id = server.fault == STAND_IN_KISS_RATE ? "RATE" : server.fault == STAND_IN_KISS_DENY ? "DENY" : "LOCL";
    for (int i = 0; i < 4; ++i) reply[12 + i] = static_cast<unsigned char>(id[i]);
    for (int i = 0; i < 8; ++i) reply[24 + i] = request[40 + i];
    if (server.fault == STAND_IN_WRONG_ORIGIN) reply[31] ^= 1;
    if (!kiss) {
        PutTimestamp(reply + 16, UnixNanosecondsToNtp(received + shift - 1'000'000'000));
        const std::int64_t held = server.fault == STAND_IN_SLOW_TO_ANSWER ? 1'000'000'000 : 0;
        PutTimestamp(reply + 32, UnixNanosecondsToNtp(received + shift - held));
        PutTimestamp(reply + 40, UnixNanosecondsToNtp(UtcNow() + shift));
    }
    return server.fault == STAND_IN_SHORT ? 40 : 48;
}

void Serve(SntpStandIn* server) {
    while (!server->stop) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(server->socket, &readable);
        timeval wait{0, 20'000};
        if (select(static_cast<int>(server->socket) + 1, &readable, nullptr, nullptr, &wait) <= 0) continue;
        unsigned char request[512], reply[48];
        sockaddr_storage client{};
        SocketLength length = sizeof client;
        const auto got = recvfrom(server->socket, reinterpret_cast<char*>(request), sizeof request, 0,
                                  reinterpret_cast<sockaddr*>(&client), &length);
        const std::int64_t received = UtcNow();
        if (got < 48) continue;
        std::uint64_t origin = 0;
        for (int i = 40; i < 48; ++i) origin = origin << 8 | request[i];
        server->lastOrigin = origin;
        ++server->requests;
        if (server->fault == STAND_IN_SILENT) continue;
        const int size = Answer(*server, request, received, reply);
        const std::intptr_t from = server->fault == STAND_IN_OTHER_PORT ? server->otherSocket : server->socket;
        sendto(from, reinterpret_cast<const char*>(reply), size, 0, reinterpret_cast<sockaddr*>(&client), length);
    }
}

}  // namespace

bool StartSntpStandIn(SntpStandIn* server, const char* address, SntpStandInFault fault, std::int64_t offset,
                      std::string* problem) {
    sockaddr_storage where{}, other{};
    SocketLength length = 0;
    server->address = address;
    server->fault = fault;
    server->offset = offset;
    server->socket = OpenBound(address, 0, &where, &length);
    server->otherSocket = server->socket < 0 ? -1 : OpenBound(address, 0, &other, &length);
    if (server->otherSocket < 0) {
        *problem = std::string("cannot open a UDP socket on ") + address + ": " + SocketProblem();
        if (server->socket >= 0) CloseSocket(server->socket);
        return false;
    }
    server->port = PortOf(where);
    server->thread = std::thread(Serve, server);
    return true;
}

void StopSntpStandIn(SntpStandIn* server) {
    server->stop = true;
    if (server->thread.joinable()) server->thread.join();
    CloseSocket(server->socket);
    CloseSocket(server->otherSocket);
}

std::string SntpStandInName(const SntpStandIn& server) {
    const bool six = server.address.find(':') != std::string::npos;
    return (six ? "[" + server.address + "]" : server.address) + ":" + std::to_string(server.port);
}

int ClosedUdpPort(const char* address) {
    sockaddr_storage where{};
    SocketLength length = 0;
    const std::intptr_t s = OpenBound(address, 0, &where, &length);
    if (s < 0) return 0;
    CloseSocket(s);
    return PortOf(where);
}
