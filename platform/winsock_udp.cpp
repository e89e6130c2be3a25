// The NTP client's UDP socket on Windows: Winsock, a socket connected to
// the server, waited on with select() against the monotonic clock.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "platform/udp.h"

namespace {

constexpr std::int64_t kNanosecondsPerMicrosecond = 1'000;
constexpr std::int64_t kSliceMicroseconds = 50'000;

// The system's text for a Winsock error, without its line end and full stop.
void Say(char* error, std::size_t size, int code) {
    char text[256];
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             static_cast<DWORD>(code), 0, text, sizeof text, nullptr);
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == '.' || text[n - 1] == ' ')) --n;
    text[n] = '\0';
    if (n == 0) std::snprintf(text, sizeof text, "Winsock error %d", code);
    // On a UDP socket this error means the server's port answered with
    // ICMP "port unreachable", which the text does not say.
    std::snprintf(error, size, "%s%s", code == WSAECONNRESET ? "port unreachable: " : "", text);
}

// Winsock started once for the process; zero or WSAStartup's error.
int StartWinsock() {
    static const int status = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data);
    }();
    return status;
}

const sockaddr* Address(const UdpPeer& peer) { return reinterpret_cast<const sockaddr*>(peer.address); }

}  // namespace

bool ResolveUdpPeers(const char* host, const char* port, UdpPeer* peers, int max, int* count, char* error,
                     std::size_t errorSize) {
    if (const int status = StartWinsock(); status != 0) return Say(error, errorSize, status), false;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_protocol = IPPROTO_UDP;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (const int status = getaddrinfo(host, port, &hints, &found); status != 0)
        return Say(error, errorSize, status), false;
    *count = 0;
    for (const addrinfo* a = found; a != nullptr && *count < max; a = a->ai_next) {
        if (a->ai_addrlen > sizeof peers[0].address) continue;
        std::memcpy(peers[*count].address, a->ai_addr, a->ai_addrlen);
        peers[*count].length = static_cast<int>(a->ai_addrlen);
        ++*count;
    }
    freeaddrinfo(found);
    if (*count == 0) std::snprintf(error, errorSize, "no address");
    return *count > 0;
}

void FormatUdpPeer(const UdpPeer& peer, char* text, std::size_t size) {
    char host[NI_MAXHOST], port[NI_MAXSERV];
    if (StartWinsock() != 0 || getnameinfo(Address(peer), peer.length, host, sizeof host, port, sizeof port,
                                           NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
        std::snprintf(text, size, "?");
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
    if (a.length < static_cast<int>(sizeof(sockaddr)) || b.length < static_cast<int>(sizeof(sockaddr)) ||
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
    if (const int status = StartWinsock(); status != 0) return Say(error, errorSize, status), false;
    const SOCKET s = ::socket(Address(peer)->sa_family, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) return Say(error, errorSize, WSAGetLastError()), false;
    // Connected: the system drops datagrams from elsewhere and reports a
    // refused port. The system picks the local port; nothing is bound.
    if (connect(s, Address(peer), peer.length) != 0) {
        Say(error, errorSize, WSAGetLastError());
        closesocket(s);
        return false;
    }
    *socket = static_cast<UdpSocket>(s);
    return true;
}

bool SendUdp(UdpSocket socket, const void* data, std::size_t length, char* error, std::size_t errorSize) {
    if (send(static_cast<SOCKET>(socket), static_cast<const char*>(data), static_cast<int>(length), 0) != SOCKET_ERROR)
        return true;
    Say(error, errorSize, WSAGetLastError());
    return false;
}

UdpReceived ReceiveUdp(UdpSocket socket, void* buffer, std::size_t size, std::size_t* length, UdpPeer* from,
                       std::int64_t deadline, char* error, std::size_t errorSize) {
    const SOCKET s = static_cast<SOCKET>(socket);
    for (;;) {
        const std::int64_t left = deadline - MonotonicNanoseconds();
        if (left <= 0) return UDP_TIMEOUT;
        // In slices: Wine keeps a refused port as the socket's pending
        // error without waking select (Windows wakes it, and recvfrom fails).
        const std::int64_t microseconds =
            std::min((left + kNanosecondsPerMicrosecond - 1) / kNanosecondsPerMicrosecond, kSliceMicroseconds);
        timeval wait{0, static_cast<long>(microseconds)};
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(s, &readable);
        const int ready = select(0, &readable, nullptr, nullptr, &wait);
        if (ready == SOCKET_ERROR) break;
        if (ready == 0) {
            int pending = 0, size = sizeof pending;
            if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&pending), &size) == 0 && pending != 0) {
                Say(error, errorSize, pending);
                return UDP_FAILED;
            }
            continue;
        }
        sockaddr_storage source{};
        int sourceLength = sizeof source;
        const int got = recvfrom(s, static_cast<char*>(buffer), static_cast<int>(size), 0,
                                 reinterpret_cast<sockaddr*>(&source), &sourceLength);
        if (got == SOCKET_ERROR && WSAGetLastError() == WSAEMSGSIZE) {
            *length = size;  // cut to the buffer, as the caller asked
        } else if (got == SOCKET_ERROR) {
            break;
        } else {
            *length = static_cast<std::size_t>(got);
        }
        from->length = sourceLength <= static_cast<int>(sizeof from->address) ? sourceLength : 0;
        std::memcpy(from->address, &source, static_cast<std::size_t>(from->length));
        return UDP_DATAGRAM;
    }
    Say(error, errorSize, WSAGetLastError());
    return UDP_FAILED;
}

void CloseUdp(UdpSocket socket) { closesocket(static_cast<SOCKET>(socket)); }
