// Holds a known set of IPv4 endpoints open for the socket table tests: a TCP listener on
// 127.0.0.1 and one on 0.0.0.0, N established loopback connections (both ends), a bound UDP
// socket and a connected one. Prints "<lo-port> <any-port> <udp-port> <udp-connected-port>"
// once everything is in place and holds it all until its standard input closes.
// With the argument "v6" it holds IPv6 endpoints instead: a dual-stack TCP listener on
// [::]:8080, a dual-stack UDP socket on [::]:5355, an IPv6-only listener on ::1 with one
// connection to it, and an IPv4 connection to the dual-stack listener; it prints
// "<v6only-port> 8080 5355 <v4-client-port>".
#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

[[noreturn]] void fail(const char* what) {
    std::perror(what);
    std::exit(1);
}

sockaddr_in loopback(uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

uint16_t localPort(int fd) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        fail("getsockname");
    return ntohs(a.sin_port);
}

int bound(int type, sockaddr_in a) {
    const int fd = ::socket(AF_INET, type, 0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        fail("bind");
    return fd;
}

int bound6(int type, const in6_addr& address, uint16_t port, bool v6only) {
    const int fd = ::socket(AF_INET6, type, 0);
    const int only = v6only ? 1 : 0;
    const int one = 1;
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_port = htons(port);
    a.sin6_addr = address;
    if (fd < 0 || ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &only, sizeof only) != 0 ||
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0 ||
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        fail("bind6");
    return fd;
}

uint16_t localPort6(int fd) {
    sockaddr_in6 a{};
    socklen_t len = sizeof a;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        fail("getsockname");
    return ntohs(a.sin6_port);
}

int holdIpv6() {
    const int dual = bound6(SOCK_STREAM, in6addr_any, 8080, false);
    const int only = bound6(SOCK_STREAM, in6addr_loopback, 0, true);
    bound6(SOCK_DGRAM, in6addr_any, 5355, false);
    if (::listen(dual, 8) != 0 || ::listen(only, 8) != 0)
        fail("listen");
    sockaddr_in6 server{};
    server.sin6_family = AF_INET6;
    server.sin6_port = htons(localPort6(only));
    server.sin6_addr = in6addr_loopback;
    const int c6 = ::socket(AF_INET6, SOCK_STREAM, 0);
    if (c6 < 0 || ::connect(c6, reinterpret_cast<const sockaddr*>(&server), sizeof server) != 0 ||
        ::accept(only, nullptr, nullptr) < 0)
        fail("connect6");
    const sockaddr_in v4 = loopback(8080);
    const int c4 = ::socket(AF_INET, SOCK_STREAM, 0);
    if (c4 < 0 || ::connect(c4, reinterpret_cast<const sockaddr*>(&v4), sizeof v4) != 0 ||
        ::accept(dual, nullptr, nullptr) < 0)
        fail("connect4");
    std::printf("%u 8080 5355 %u\n", localPort6(only), localPort(c4));
    std::fflush(stdout);
    char c;
    while (::read(0, &c, 1) > 0) {
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "v6") == 0)
        return holdIpv6();
    const int connections = argc > 1 ? std::atoi(argv[1]) : 3;

    const int lo = bound(SOCK_STREAM, loopback(0));
    sockaddr_in any = loopback(0);
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    const int wild = bound(SOCK_STREAM, any);
    if (::listen(lo, connections + 8) != 0 || ::listen(wild, 8) != 0)
        fail("listen");
    const sockaddr_in server = loopback(localPort(lo));
    for (int i = 0; i < connections; ++i) {
        const int c = ::socket(AF_INET, SOCK_STREAM, 0);
        if (c < 0 || ::connect(c, reinterpret_cast<const sockaddr*>(&server), sizeof server) != 0)
            fail("connect");
        if (::accept(lo, nullptr, nullptr) < 0)
            fail("accept");
    }

    const int udp = bound(SOCK_DGRAM, loopback(0));
    const int udpConnected = ::socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in udpPeer = loopback(localPort(udp));
    if (udpConnected < 0 ||
        ::connect(udpConnected, reinterpret_cast<const sockaddr*>(&udpPeer), sizeof udpPeer) != 0)
        fail("udp connect");

    std::printf("%u %u %u %u\n", localPort(lo), localPort(wild), localPort(udp),
                localPort(udpConnected));
    std::fflush(stdout);
    char c;
    while (::read(0, &c, 1) > 0) {
    }
    return 0;
}
