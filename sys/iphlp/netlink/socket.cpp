#include "socket.h"

#include <cerrno>
#include <condition_variable>
#include <ctime>
#include <deque>
#include <exception>
#include <libmnl/libmnl.h>
#include <linux/netlink.h>
#include <mutex>
#include <sys/socket.h>
#include <thread>

namespace corvane::sys::nl {

Socket::Socket(int protocol, const std::vector<unsigned>& groups)
    : seq_(static_cast<uint32_t>(::time(nullptr))), buf_(size_t{64} * 1024) {
    nl_ = mnl_socket_open2(protocol, SOCK_CLOEXEC);
    if (!nl_) {
        openError_ = errno;
        return;
    }
    if (mnl_socket_bind(nl_, 0, MNL_SOCKET_AUTOPID) < 0) {
        openError_ = errno;
        mnl_socket_close(nl_);
        nl_ = nullptr;
        return;
    }
    portId_ = mnl_socket_get_portid(nl_);
    int one = 1;
    // The kernel's explanation of a refused change, so the user sees its reason.
    mnl_socket_setsockopt(nl_, NETLINK_EXT_ACK, &one, sizeof one);
    mnl_socket_setsockopt(nl_, NETLINK_GET_STRICT_CHK, &one, sizeof one);
    if (!groups.empty()) {
        // Announcements queue up while a big dump is read; the default buffer overflows after
        // a few hundred route changes and the reader has to start again. Privilege lifts the
        // system's cap; without it the capped size is the best there is.
        const int size = 8 * 1024 * 1024;
        const int fd = mnl_socket_get_fd(nl_);
        if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0)
            ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    }
    for (unsigned g : groups) {
        if (mnl_socket_setsockopt(nl_, NETLINK_ADD_MEMBERSHIP, &g, sizeof g) < 0) {
            openError_ = errno;
            mnl_socket_close(nl_);
            nl_ = nullptr;
            return;
        }
    }
}

Socket::~Socket() {
    if (nl_)
        mnl_socket_close(nl_);
}

int Socket::fd() const {
    return nl_ ? mnl_socket_get_fd(nl_) : -1;
}

long Socket::receive(bool wait) {
    for (;;) {
        const int flags = wait ? 0 : MSG_DONTWAIT;
        // Peek first so a datagram larger than the buffer is never cut.
        const ssize_t size = ::recv(fd(), buf_.data(), 0, flags | MSG_PEEK | MSG_TRUNC);
        if (size < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return 0;
            return -errno;
        }
        if (static_cast<size_t>(size) > buf_.size())
            buf_.resize(static_cast<size_t>(size));
        sockaddr_nl from{};
        iovec iov{buf_.data(), buf_.size()};
        msghdr msg{};
        msg.msg_name = &from;
        msg.msg_namelen = sizeof from;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        const ssize_t n = ::recvmsg(fd(), &msg, flags);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return 0;
            return -errno;
        }
        if (msg.msg_flags & MSG_TRUNC)
            return -EMSGSIZE;
        if (from.nl_pid != 0) // only the kernel speaks to us
            continue;
        return n;
    }
}

void forEachMessage(const uint8_t* data, size_t len,
                    const std::function<bool(const nlmsghdr*)>& f) {
    // Not mnl_nlmsg_ok: it compares the length as a signed int, so a message claiming more
    // than 2 GiB would pass. And the padding up to the next message must be there too: the
    // attribute walks of the decoders run up to it.
    size_t offset = 0;
    while (len - offset >= sizeof(nlmsghdr)) {
        const auto* nlh = reinterpret_cast<const nlmsghdr*>(data + offset);
        const size_t size = nlh->nlmsg_len;
        const size_t padded = (size + NLMSG_ALIGNTO - 1) & ~size_t{NLMSG_ALIGNTO - 1};
        if (size < sizeof(nlmsghdr) || padded > len - offset || !f(nlh))
            return;
        offset += padded;
    }
}

namespace {

// The errno carried by an NLMSG_ERROR message (0 for an acknowledgement), and the kernel's
// message text when extended acknowledgements are on.
int errorOf(const nlmsghdr* nlh, std::string* detail) {
    if (nlh->nlmsg_len < mnl_nlmsg_size(sizeof(nlmsgerr)))
        return EBADMSG;
    const auto* err = static_cast<const nlmsgerr*>(mnl_nlmsg_get_payload(nlh));
    if (detail && (nlh->nlmsg_flags & NLM_F_ACK_TLVS)) {
        // The attributes follow the echoed request, which is cut to its header unless
        // NLM_F_CAPPED is clear.
        size_t offset = sizeof(nlmsgerr);
        if (!(nlh->nlmsg_flags & NLM_F_CAPPED))
            offset += err->msg.nlmsg_len - sizeof(nlmsghdr);
        if (mnl_nlmsg_size(offset) <= nlh->nlmsg_len) {
            mnl_attr_parse(
                nlh, static_cast<unsigned>(offset),
                [](const nlattr* a, void* d) {
                    if (mnl_attr_get_type(a) == NLMSGERR_ATTR_MSG &&
                        mnl_attr_validate(a, MNL_TYPE_NUL_STRING) == 0)
                        *static_cast<std::string*>(d) = mnl_attr_get_str(a);
                    return MNL_CB_OK;
                },
                detail);
        }
    }
    return err->error < 0 ? -err->error : err->error;
}

} // namespace

DumpStatus Socket::dump(nlmsghdr* request, const MessageFn& onMessage) {
    return dumpWhile(request, [&onMessage](const nlmsghdr* m) {
        onMessage(m);
        return true;
    });
}

uint32_t Socket::sendDump(nlmsghdr* request, DumpStatus& status) {
    if (!nl_) {
        status.error = openError_ ? openError_ : EBADF;
        return 0;
    }
    request->nlmsg_flags |= NLM_F_REQUEST | NLM_F_DUMP;
    request->nlmsg_seq = nextSeq();
    request->nlmsg_pid = portId_;
    if (mnl_socket_sendto(nl_, request, request->nlmsg_len) < 0)
        status.error = errno;
    return request->nlmsg_seq;
}

bool Socket::handle(const uint8_t* data, size_t n, uint32_t seq, DumpStatus& status,
                    const std::function<bool(const nlmsghdr*)>& onMessage) {
    bool done = false;
    forEachMessage(data, n, [&](const nlmsghdr* nlh) {
        if (nlh->nlmsg_seq != seq || nlh->nlmsg_pid != portId_)
            return true; // a stale answer to an earlier request
        if (nlh->nlmsg_flags & NLM_F_DUMP_INTR)
            status.interrupted = true;
        if (nlh->nlmsg_type == NLMSG_DONE) {
            // A dump can end with an error the kernel met on the way.
            if (nlh->nlmsg_len >= mnl_nlmsg_size(sizeof(int))) {
                const int e = *static_cast<const int*>(mnl_nlmsg_get_payload(nlh));
                if (e < 0)
                    status.error = -e;
            }
            done = true;
            return false;
        }
        if (nlh->nlmsg_type == NLMSG_ERROR) {
            status.error = errorOf(nlh, nullptr);
            done = true;
            return false;
        }
        if (nlh->nlmsg_type >= NLMSG_MIN_TYPE && !status.error && onMessage && !onMessage(nlh)) {
            done = true;
            return false;
        }
        return true;
    });
    return done;
}

DumpStatus Socket::dumpWhile(nlmsghdr* request,
                             const std::function<bool(const nlmsghdr*)>& onMessage) {
    DumpStatus status;
    const uint32_t seq = sendDump(request, status);
    if (status.error)
        return status;
    for (;;) {
        const long n = receive(true);
        if (n < 0) {
            status.error = static_cast<int>(-n);
            return status; // the socket is in an unknown state; callers use a fresh one
        }
        if (handle(buf_.data(), static_cast<size_t>(n), seq, status, onMessage))
            return status;
    }
}

DumpStatus Socket::dumpReadAhead(nlmsghdr* request, const MessageFn& onMessage,
                                 const std::function<void()>& meanwhile) {
    DumpStatus status;
    const uint32_t seq = sendDump(request, status);
    if (status.error) {
        meanwhile();
        return status;
    }
    // Datagrams as received, in order; the last one ends the dump or stands for the error.
    struct Received {
        std::vector<uint8_t> data;
        int error = 0;
    };
    std::mutex lock;
    std::condition_variable arrived;
    std::deque<Received> queue;
    const auto read = [&] {
        DumpStatus seen; // the reader's own look, only to know where the dump ends
        for (bool last = false; !last;) {
            Received r;
            const long n = receive(true);
            if (n < 0) {
                r.error = static_cast<int>(-n);
                last = true;
            } else {
                r.data.assign(buf_.begin(), buf_.begin() + n);
                last = handle(r.data.data(), r.data.size(), seq, seen, {});
            }
            const std::lock_guard guard(lock);
            queue.push_back(std::move(r));
            arrived.notify_one();
        }
    };
    std::thread reader;
    try {
        reader = std::thread([&] {
            try {
                read();
            } catch (...) { // out of memory: the dump ends as a failure
                const std::lock_guard guard(lock);
                queue.push_back({{}, ENOMEM});
                arrived.notify_one();
            }
        });
    } catch (...) {
        meanwhile(); // no thread to be had: read here, after the rest
        read();
    }
    std::exception_ptr failure;
    try {
        if (reader.joinable())
            meanwhile();
        const auto wrapped = [&onMessage](const nlmsghdr* m) {
            onMessage(m);
            return true;
        };
        for (bool done = false; !done;) {
            Received r;
            {
                std::unique_lock guard(lock);
                // The reader always ends with a datagram that ends the dump or an error, so
                // this waits no longer than the blocking receive of a plain dump would.
                arrived.wait(guard, [&] { return !queue.empty(); });
                r = std::move(queue.front());
                queue.pop_front();
            }
            if (r.error) {
                status.error = r.error;
                break;
            }
            done = handle(r.data.data(), r.data.size(), seq, status, wrapped);
        }
    } catch (...) {
        failure = std::current_exception(); // after the reader has ended, as it must
    }
    if (reader.joinable())
        reader.join();
    if (failure)
        std::rethrow_exception(failure);
    return status;
}

int Socket::transact(nlmsghdr* request, const MessageFn& onReply, std::string* detail) {
    if (!nl_)
        return openError_ ? openError_ : EBADF;
    request->nlmsg_flags |= NLM_F_REQUEST | NLM_F_ACK;
    request->nlmsg_seq = nextSeq();
    request->nlmsg_pid = portId_;
    const uint32_t seq = request->nlmsg_seq;
    if (mnl_socket_sendto(nl_, request, request->nlmsg_len) < 0)
        return errno;
    for (;;) {
        const long n = receive(true);
        if (n < 0)
            return static_cast<int>(-n);
        int result = -1;
        forEachMessage(buf_.data(), static_cast<size_t>(n), [&](const nlmsghdr* nlh) {
            if (nlh->nlmsg_seq != seq || nlh->nlmsg_pid != portId_)
                return true;
            if (nlh->nlmsg_type == NLMSG_ERROR) {
                result = errorOf(nlh, detail);
                return false;
            }
            if (nlh->nlmsg_type >= NLMSG_MIN_TYPE && onReply)
                onReply(nlh);
            return true;
        });
        if (result >= 0)
            return result;
    }
}

int Socket::drain(const MessageFn& onMessage) {
    if (!nl_)
        return openError_ ? openError_ : EBADF;
    for (;;) {
        const long n = receive(false);
        if (n == 0)
            return 0;
        if (n < 0)
            return static_cast<int>(-n);
        forEachMessage(buf_.data(), static_cast<size_t>(n), [&](const nlmsghdr* nlh) {
            if (nlh->nlmsg_type >= NLMSG_MIN_TYPE)
                onMessage(nlh);
            return true;
        });
    }
}

} // namespace corvane::sys::nl
