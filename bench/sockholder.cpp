// Holds IPv4 endpoints open for the benchmark world, in a process of its own:
//   corvane_bench_sockholder [--tcp N] [--udp M]
// --tcp: one listener on 127.0.0.1 and N established loopback connections, both ends held;
// --udp: M UDP sockets bound on 127.0.0.1. Returns once every socket is in place, printing
// the holder's pid; the holder then sleeps until it is killed.
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

sockaddr_in loopback(uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

int boundSocket(int type) {
    const int fd = ::socket(AF_INET, type, 0);
    const sockaddr_in a = loopback(0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0)
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

void holdTcp(long connections) {
    const int listener = boundSocket(SOCK_STREAM);
    if (::listen(listener, 128) != 0)
        fail("listen");
    sockaddr_in server{};
    socklen_t len = sizeof server;
    if (::getsockname(listener, reinterpret_cast<sockaddr*>(&server), &len) != 0)
        fail("getsockname");
    // One at a time: the backlog never fills, whatever the count.
    for (long i = 0; i < connections; ++i) {
        const int c = ::socket(AF_INET, SOCK_STREAM, 0);
        if (c < 0 || ::connect(c, reinterpret_cast<const sockaddr*>(&server), sizeof server) != 0)
            fail("connect");
        if (::accept(listener, nullptr, nullptr) < 0)
            fail("accept");
    }
}

void holdUdp(long sockets) {
    for (long i = 0; i < sockets; ++i)
        boundSocket(SOCK_DGRAM);
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
    long tcp = -1;
    long udp = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--tcp") == 0 && i + 1 < argc)
            tcp = count(argv[++i]);
        else if (std::strcmp(argv[i], "--udp") == 0 && i + 1 < argc)
            udp = count(argv[++i]);
        else {
            std::fprintf(stderr, "usage: corvane_bench_sockholder [--tcp N] [--udp M]\n");
            return 2;
        }
    }

    int ready[2];
    if (::pipe(ready) != 0)
        fail("pipe");
    const pid_t holder = ::fork();
    if (holder < 0)
        fail("fork");
    if (holder == 0) {
        ::close(ready[0]);
        allowDescriptors((tcp >= 0 ? 1 + 2 * tcp : 0) + udp);
        if (tcp >= 0)
            holdTcp(tcp);
        holdUdp(udp);
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
