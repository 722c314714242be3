// Holds a known set of IPv4 endpoints open for the socket table tests: a TCP listener on
// 127.0.0.1 and one on 0.0.0.0, N established loopback connections (both ends), a bound UDP
// socket and a connected one. Prints "<lo-port> <any-port> <udp-port> <udp-connected-port>"
// once everything is in place and holds it all until its standard input closes.
#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
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

} // namespace

int main(int argc, char** argv) {
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
