// sock_diag answers (SOCK_DIAG_BY_FAMILY) of a dump datagram, with repeats dropped as a dump
// over several reads drops them.
#include "fuzz_support.h"
#include "netlink/diag.h"
#include "netlink_input.h"

#include <unordered_set>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return corvane::fuzz::guarded([&] {
        using namespace corvane::sys::nl;
        std::vector<InetSocket> sockets;
        corvane::fuzz::eachRecordMessage(data, size, [&](const nlmsghdr* m) {
            InetSocket s;
            if (decodeInetSocket(m, s))
                sockets.push_back(s);
        });
        const size_t before = sockets.size();
        dropRepeats(sockets);
        FUZZ_CHECK(sockets.size() <= before);
        std::unordered_set<uint64_t> cookies;
        for (const InetSocket& s : sockets)
            FUZZ_CHECK(s.cookie == ~uint64_t{0} || cookies.insert(s.cookie).second);
    });
}
