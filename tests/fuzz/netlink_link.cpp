// rtnetlink link messages (RTM_NEWLINK) of a dump datagram.
#include "fuzz_support.h"
#include "netlink/records.h"
#include "netlink_input.h"

#include <algorithm>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return corvane::fuzz::guarded([&] {
        corvane::fuzz::eachRecordMessage(data, size, [](const nlmsghdr* m) {
            corvane::sys::nl::Link link;
            if (!corvane::sys::nl::decodeLink(m, link))
                return;
            FUZZ_CHECK(link.index != 0);
            FUZZ_CHECK(link.mac.size() < m->nlmsg_len);
            FUZZ_CHECK(link.name.size() < m->nlmsg_len && link.kind.size() < m->nlmsg_len);
            FUZZ_CHECK(std::count(link.name.begin(), link.name.end(), '\0') == 0);
        });
    });
}
