// Holds TCP and UDP endpoints open for the benchmark world, in a process of its own:
//   corvane_bench_sockholder [--tcp N] [--udp M] [--tcp6 N6] [--udp6 M6]
// --tcp: one listener on 127.0.0.1 and N established loopback connections, both ends held;
// --udp: M UDP sockets bound on 127.0.0.1; --tcp6: one dual-stack listener on [::] (it takes
// IPv4 as well) and N6 connections to it over ::1; --udp6: M6 UDP sockets bound on ::1.
// Returns once every socket is in place, printing the holder's pid; the holder then sleeps
// until it is killed.
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <initializer_list>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "corvane_bench_sockholder: %s: %s\n", what, std::strerror(errno));
    std::exit(1);
}

union Endpoint {
    sockaddr any;
    sockaddr_in v4;
    sockaddr_in6 v6;
};

// Loopback of the family, or for IPv6 optionally the any address.
Endpoint address(int family, bool any = false) {
    Endpoint e{};
    if (family == AF_INET6) {
        e.v6.sin6_family = AF_INET6;
        e.v6.sin6_addr = any ? in6addr_any : in6addr_loopback;
    } else {
        e.v4.sin_family = AF_INET;
        e.v4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    }
    return e;
}

socklen_t lengthOf(int family) {
    return family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
}

int boundSocket(int family, int type, bool dualStack = false) {
    const int fd = ::socket(family, type, 0);
    if (fd < 0)
        fail("socket");
    if (dualStack) {
        const int off = 0;
        if (::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off) != 0)
            fail("IPV6_V6ONLY");
    }
    const Endpoint a = address(family, dualStack);
    if (::bind(fd, &a.any, lengthOf(family)) != 0)
        fail("bind");
    return fd;
}

// Every socket is a descriptor; the soft limit goes up to what the holder needs.
void allowDescriptors(long needed) {
    rlimit r{};
    if (::getrlimit(RLIMIT_NOFILE, &r) != 0)
        fail("getrlimit");
    const rlim_t want = static_cast<rlim_t>(needed) + 32;
    if (r.rlim_cur >= want)
        return;
    if (r.rlim_max != RLIM_INFINITY && r.rlim_max < want) {
        errno = EMFILE;
        fail("descriptor limit below the socket count");
    }
    r.rlim_cur = want;
    if (::setrlimit(RLIMIT_NOFILE, &r) != 0)
        fail("setrlimit");
}

// A listener and its connections; the IPv6 listener is a dual-stack one on [::], reached
// over ::1.
void holdTcp(int family, long connections) {
    const int listener = boundSocket(family, SOCK_STREAM, family == AF_INET6);
    if (::listen(listener, 128) != 0)
        fail("listen");
    Endpoint bound{};
    socklen_t len = sizeof bound;
    if (::getsockname(listener, &bound.any, &len) != 0)
        fail("getsockname");
    Endpoint server = address(family);
    if (family == AF_INET6)
        server.v6.sin6_port = bound.v6.sin6_port;
    else
        server.v4.sin_port = bound.v4.sin_port;
    // One at a time: the backlog never fills, whatever the count.
    for (long i = 0; i < connections; ++i) {
        const int c = ::socket(family, SOCK_STREAM, 0);
        if (c < 0 || ::connect(c, &server.any, lengthOf(family)) != 0)
            fail("connect");
        if (::accept(listener, nullptr, nullptr) < 0)
            fail("accept");
    }
}

void holdUdp(int family, long sockets) {
    for (long i = 0; i < sockets; ++i)
        boundSocket(family, SOCK_DGRAM);
}

long count(const char* text) {
    char* end = nullptr;
    const long n = std::strtol(text, &end, 10);
    if (*end != '\0' || n < 0) {
        std::fprintf(stderr, "corvane_bench_sockholder: not a count: %s\n", text);
        std::exit(2);
    }
    return n;
}

} // namespace

int main(int argc, char** argv) {
    // A TCP count of -1: no listener either.
    long tcp = -1;
    long udp = 0;
    long tcp6 = -1;
    long udp6 = 0;
    for (int i = 1; i < argc; ++i) {
        long* target = nullptr;
        if (std::strcmp(argv[i], "--tcp") == 0)
            target = &tcp;
        else if (std::strcmp(argv[i], "--udp") == 0)
            target = &udp;
        else if (std::strcmp(argv[i], "--tcp6") == 0)
            target = &tcp6;
        else if (std::strcmp(argv[i], "--udp6") == 0)
            target = &udp6;
        if (!target || i + 1 >= argc) {
            std::fprintf(stderr, "usage: corvane_bench_sockholder [--tcp N] [--udp M] "
                                 "[--tcp6 N6] [--udp6 M6]\n");
            return 2;
        }
        *target = count(argv[++i]);
    }

    int ready[2];
    if (::pipe(ready) != 0)
        fail("pipe");
    const pid_t holder = ::fork();
    if (holder < 0)
        fail("fork");
    if (holder == 0) {
        ::close(ready[0]);
        allowDescriptors((tcp >= 0 ? 1 + 2 * tcp : 0) + udp + (tcp6 >= 0 ? 1 + 2 * tcp6 : 0) +
                         udp6);
        if (tcp >= 0)
            holdTcp(AF_INET, tcp);
        holdUdp(AF_INET, udp);
        if (tcp6 >= 0)
            holdTcp(AF_INET6, tcp6);
        holdUdp(AF_INET6, udp6);
        // Let go of the caller's output so that a $(...) around the starter ends.
        const int null = ::open("/dev/null", O_RDWR);
        if (null < 0)
            fail("/dev/null");
        for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO})
            ::dup2(null, fd);
        ::close(null);
        const char ok = 1;
        if (::write(ready[1], &ok, 1) != 1)
            std::_Exit(1);
        ::close(ready[1]);
        for (;;)
            ::pause();
    }
    ::close(ready[1]);
    char ok = 0;
    ssize_t n;
    while ((n = ::read(ready[0], &ok, 1)) < 0 && errno == EINTR) {
    }
    if (n != 1) {
        ::waitpid(holder, nullptr, 0);
        return 1;
    }
    std::printf("%d\n", static_cast<int>(holder));
    return 0;
}
