// Changes made as an unprivileged user would, without leaving the test process.
#pragma once

#include <cstdint>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace corvane::test {

// CAP_NET_ADMIN off in this thread's effective set, and so in the threads it starts, until the
// object goes; the process stays root.
class WithoutNetAdmin {
public:
    WithoutNetAdmin() { ok_ = set(false); }
    ~WithoutNetAdmin() { set(true); }
    WithoutNetAdmin(const WithoutNetAdmin&) = delete;
    WithoutNetAdmin& operator=(const WithoutNetAdmin&) = delete;
    bool ok() const { return ok_; }

private:
    static bool set(bool on) {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
        if (::syscall(SYS_capget, &header, data) != 0)
            return false;
        const uint32_t bit = 1U << (CAP_NET_ADMIN % 32);
        if (on)
            data[CAP_NET_ADMIN / 32].effective |= bit;
        else
            data[CAP_NET_ADMIN / 32].effective &= ~bit;
        return ::syscall(SYS_capset, &header, data) == 0;
    }
    bool ok_ = false;
};

} // namespace corvane::test
