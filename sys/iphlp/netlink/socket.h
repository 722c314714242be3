// A netlink socket that talks to the kernel only: replies must come from port 0 with our
// sequence number and port id, and no message is ever parsed from a truncated read.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct mnl_socket;
struct nlmsghdr;

namespace corvane::sys::nl {

using MessageFn = std::function<void(const nlmsghdr*)>;

struct DumpStatus {
    int error = 0;            // errno of the kernel's answer or of the socket, 0 on success
    bool interrupted = false; // the kernel marked the dump inconsistent (NLM_F_DUMP_INTR)
};

class Socket {
public:
    // protocol: NETLINK_ROUTE or NETLINK_SOCK_DIAG. groups: rtnetlink multicast groups to
    // join (RTNLGRP_* numbers), for event sockets.
    explicit Socket(int protocol, const std::vector<unsigned>& groups = {});
    ~Socket();
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    bool ok() const { return nl_ != nullptr; }
    int openError() const { return openError_; }
    int fd() const;
    uint32_t portId() const { return portId_; }

    // Sends a dump request (flags, sequence number and port are set here) and hands every
    // reply message to onMessage until the kernel says done.
    DumpStatus dump(nlmsghdr* request, const MessageFn& onMessage);
    // The same while onMessage answers true. Stopped early, the rest of the dump is never
    // made, and the socket serves no further request: it is closed with it.
    DumpStatus dumpWhile(nlmsghdr* request, const std::function<bool(const nlmsghdr*)>& onMessage);
    // As dump, with the datagrams received on a thread of its own, where the kernel makes
    // them, while this thread runs meanwhile and then decodes them with onMessage: a big
    // dump then costs about the kernel's time alone. Without a thread, a plain dump after
    // meanwhile.
    DumpStatus dumpReadAhead(nlmsghdr* request, const MessageFn& onMessage,
                             const std::function<void()>& meanwhile);

    // Sends a request with an acknowledgement asked for and waits for it. Replies other than
    // the acknowledgement go to onReply. The kernel's own explanation of a refusal, when it
    // gives one, lands in *detail.
    int transact(nlmsghdr* request, const MessageFn& onReply = {}, std::string* detail = nullptr);

    // Reads whatever is queued without waiting (event sockets). Returns 0, or ENOBUFS when
    // the kernel dropped events because the queue overflowed: the caller must re-read all.
    int drain(const MessageFn& onMessage);

private:
    // One read of one datagram; returns its length, 0 when nothing is queued (non-blocking),
    // or -errno. Datagrams not sent by the kernel are dropped.
    long receive(bool wait);
    uint32_t sendDump(nlmsghdr* request, DumpStatus& status);
    // One datagram of the dump of seq; true once the dump has ended there.
    bool handle(const uint8_t* data, size_t n, uint32_t seq, DumpStatus& status,
                const std::function<bool(const nlmsghdr*)>& onMessage);
    uint32_t nextSeq() { return ++seq_; }

    mnl_socket* nl_ = nullptr;
    int openError_ = 0;
    uint32_t portId_ = 0;
    uint32_t seq_;
    std::vector<uint8_t> buf_;
};

// Walks the messages of one datagram; stops at the end or at a malformed message.
void forEachMessage(const uint8_t* data, size_t len, const std::function<bool(const nlmsghdr*)>& f);

} // namespace corvane::sys::nl
