// rtnetlink neighbour messages (RTM_NEWNEIGH) of a dump datagram.
#include "fuzz_support.h"
#include "neighbours.h"
#include "netlink_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return corvane::fuzz::guarded([&] {
        corvane::fuzz::eachRecordMessage(data, size, [](const nlmsghdr* m) {
            corvane::sys::Neighbour n;
            if (!corvane::sys::decodeNeighbour(m, n))
                return;
            FUZZ_CHECK(n.hardwareAddress.size() < m->nlmsg_len);
            if (corvane::sys::usableNeighbour(n, false) || corvane::sys::usableNeighbour(n, true))
                FUZZ_CHECK(!n.hardwareAddress.empty());
        });
    });
}
