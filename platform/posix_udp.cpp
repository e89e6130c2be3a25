// The NTP client's UDP socket on POSIX systems: a socket connected to the
// server, waited on with poll() against the monotonic clock.
#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/udp.h"

namespace {

constexpr std::int64_t kNanosecondsPerMillisecond = 1'000'000;

void Say(char* error, std::size_t size, const char* text) { std::snprintf(error, size, "%s", text); }

const sockaddr* Address(const UdpPeer& peer) { return reinterpret_cast<const sockaddr*>(peer.address); }

}  // namespace

bool ResolveUdpPeers(const char* host, const char* port, UdpPeer* peers, int max, int* count, char* error,
                     std::size_t errorSize) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_protocol = IPPROTO_UDP;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const int status = getaddrinfo(host, port, &hints, &found);
    if (status != 0) {
        Say(error, errorSize, status == EAI_SYSTEM ? std::strerror(errno) : gai_strerror(status));
        return false;
    }
    *count = 0;
    for (const addrinfo* a = found; a != nullptr && *count < max; a = a->ai_next) {
        if (a->ai_addrlen > sizeof peers[0].address) continue;
        std::memcpy(peers[*count].address, a->ai_addr, a->ai_addrlen);
        peers[*count].length = static_cast<int>(a->ai_addrlen);
        ++*count;
    }
    freeaddrinfo(found);
    if (*count == 0) Say(error, errorSize, "no address");
    return *count > 0;
}

void FormatUdpPeer(const UdpPeer& peer, char* text, std::size_t size) {
    char host[NI_MAXHOST], port[NI_MAXSERV];
    if (getnameinfo(Address(peer), static_cast<socklen_t>(peer.length), host, sizeof host, port, sizeof port,
                    NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
        Say(text, size, "?");
        return;
    }
    const bool six = Address(peer)->sa_family == AF_INET6;
    const bool standard = std::strcmp(port, "123") == 0;
    std::snprintf(text, size, "%s%s%s%s%s", six ? "[" : "", host, six ? "]" : "", standard ? "" : ":",
                  standard ? "" : port);
}

bool SameUdpPeer(const UdpPeer& a, const UdpPeer& b) {
    const sockaddr* x = Address(a);
    const sockaddr* y = Address(b);
    if (a.length < static_cast<int>(sizeof(sa_family_t)) || b.length < static_cast<int>(sizeof(sa_family_t)) ||
        x->sa_family != y->sa_family)
        return false;
    if (x->sa_family == AF_INET && a.length >= static_cast<int>(sizeof(sockaddr_in)) &&
        b.length >= static_cast<int>(sizeof(sockaddr_in))) {
        const auto* p = reinterpret_cast<const sockaddr_in*>(x);
        const auto* q = reinterpret_cast<const sockaddr_in*>(y);
        return p->sin_port == q->sin_port && p->sin_addr.s_addr == q->sin_addr.s_addr;
    }
    if (x->sa_family == AF_INET6 && a.length >= static_cast<int>(sizeof(sockaddr_in6)) &&
        b.length >= static_cast<int>(sizeof(sockaddr_in6))) {
        const auto* p = reinterpret_cast<const sockaddr_in6*>(x);
        const auto* q = reinterpret_cast<const sockaddr_in6*>(y);
        return p->sin6_port == q->sin6_port && p->sin6_scope_id == q->sin6_scope_id &&
               std::memcmp(&p->sin6_addr, &q->sin6_addr, sizeof p->sin6_addr) == 0;
    }
    return false;
}

bool OpenUdp(const UdpPeer& peer, UdpSocket* socket, char* error, std::size_t errorSize) {
    const int fd = ::socket(Address(peer)->sa_family, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd < 0) {
        Say(error, errorSize, std::strerror(errno));
        return false;
    }
    // Connected: the system drops datagrams from elsewhere and reports a
    // refused port. The system picks the local port; nothing is bound.
    if (connect(fd, Address(peer), static_cast<socklen_t>(peer.length)) != 0) {
        Say(error, errorSize, std::strerror(errno));
        close(fd);
        return false;
    }
    *socket = fd;
    return true;
}

bool SendUdp(UdpSocket socket, const void* data, std::size_t length, char* error, std::size_t errorSize) {
    ssize_t sent;
    do sent = send(static_cast<int>(socket), data, length, 0);
    while (sent < 0 && errno == EINTR);
    if (sent < 0) Say(error, errorSize, std::strerror(errno));
    return sent >= 0;
}

UdpReceived ReceiveUdp(UdpSocket socket, void* buffer, std::size_t size, std::size_t* length, UdpPeer* from,
                       std::int64_t deadline, char* error, std::size_t errorSize) {
    const int fd = static_cast<int>(socket);
    for (;;) {
        const std::int64_t left = deadline - MonotonicNanoseconds();
        if (left <= 0) return UDP_TIMEOUT;
        pollfd wait{fd, POLLIN, 0};
        const std::int64_t milliseconds = (left + kNanosecondsPerMillisecond - 1) / kNanosecondsPerMillisecond;
        const int ready = poll(&wait, 1, milliseconds > 1'000'000 ? 1'000'000 : static_cast<int>(milliseconds));
        if (ready < 0 && errno != EINTR) break;
        if (ready <= 0) continue;
        sockaddr_storage source{};
        socklen_t sourceLength = sizeof source;
        const ssize_t got =
            recvfrom(fd, buffer, size, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&source), &sourceLength);
        if (got < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
        if (got < 0) break;
        *length = static_cast<std::size_t>(got);
        from->length = sourceLength <= sizeof from->address ? static_cast<int>(sourceLength) : 0;
        std::memcpy(from->address, &source, static_cast<std::size_t>(from->length));
        return UDP_DATAGRAM;
    }
    Say(error, errorSize, std::strerror(errno));
    return UDP_FAILED;
}

void CloseUdp(UdpSocket socket) { close(static_cast<int>(socket)); }
