// A UDP socket for the NTP client: one per server, connected to it, so
// that the system reports a refused port and drops what others send. The
// program never binds a chosen port and never listens. Implemented once
// per operating system (posix_udp.cpp, winsock_udp.cpp); the simulated
// platform of the tests has its own.
#pragma once

#include <cstddef>
#include <cstdint>

using UdpSocket = std::intptr_t;

// A server's address and port as the system holds it (a sockaddr).
struct UdpPeer {
    unsigned char address[128];
    int length;  // bytes of `address` in use
};

// Resolves `host` (a name, an IPv4 address or an IPv6 address without
// brackets) and `port` (decimal) into up to `max` peers; false with the
// system's own text (gai_strerror, FormatMessage) in `error`.
bool ResolveUdpPeers(const char* host, const char* port, UdpPeer* peers, int max, int* count, char* error,
                     std::size_t errorSize);

// The peer as text: "192.0.2.1", "[2001:db8::1]", with ":PORT" where the
// port is not 123.
void FormatUdpPeer(const UdpPeer& peer, char* text, std::size_t size);

// Whether two peers are the same address and port.
bool SameUdpPeer(const UdpPeer& a, const UdpPeer& b);

// Opens a socket connected to `peer`; false with the system's text.
bool OpenUdp(const UdpPeer& peer, UdpSocket* socket, char* error, std::size_t errorSize);

// Sends one datagram; false with the system's text.
bool SendUdp(UdpSocket socket, const void* data, std::size_t length, char* error, std::size_t errorSize);

enum UdpReceived {
    UDP_DATAGRAM,  // one datagram in `buffer`, `*length` bytes of it (cut to `size`), sent from `*from`
    UDP_TIMEOUT,   // nothing came before the monotonic clock read `deadline`
    UDP_FAILED,    // the system refused (a refused port, an unreachable network): its text in `error`
};

// Waits for one datagram until the monotonic clock (MonotonicNanoseconds)
// reads `deadline`.
UdpReceived ReceiveUdp(UdpSocket socket, void* buffer, std::size_t size, std::size_t* length, UdpPeer* from,
                       std::int64_t deadline, char* error, std::size_t errorSize);

void CloseUdp(UdpSocket socket);
