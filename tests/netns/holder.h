// The sockholder program run from a test: a known process holding loopback listeners,
// established connections and UDP sockets until the object goes.
#pragma once

#include <cstdint>
#include <fcntl.h>
#include <sstream>
#include <string>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace corvane::test {

class Holder {
public:
    explicit Holder(int connections) : Holder(std::to_string(connections)) {}
    // The sockholder's argument as it is: a number of connections, or "v6".
    explicit Holder(const std::string& argument) {
        int in[2], out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
            return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(in[0], 0);
            ::dup2(out[1], 1);
            ::execl(SOCKHOLDER, "sockholder", argument.c_str(), nullptr);
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        stdin_ = in[1];
        std::string line;
        char c;
        while (::read(out[0], &c, 1) == 1 && c != '\n')
            line += c;
        ::close(out[0]);
        std::istringstream(line) >> loPort >> anyPort >> udpPort >> udpConnectedPort;
    }
    ~Holder() {
        if (stdin_ >= 0)
            ::close(stdin_); // the holder exits at end of input
        if (pid_ > 0)
            ::waitpid(pid_, nullptr, 0);
    }
    Holder(const Holder&) = delete;
    Holder& operator=(const Holder&) = delete;
    bool ready() const { return pid_ > 0 && udpConnectedPort != 0; }
    uint32_t pid() const { return static_cast<uint32_t>(pid_); }

    uint16_t loPort = 0, anyPort = 0, udpPort = 0, udpConnectedPort = 0;

private:
    pid_t pid_ = -1;
    int stdin_ = -1;
};

} // namespace corvane::test
