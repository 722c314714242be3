// rtnetlink address messages (RTM_NEWADDR) of a dump datagram.
#include "fuzz_support.h"
#include "netlink/records.h"
#include "netlink_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return corvane::fuzz::guarded([&] {
        corvane::fuzz::eachRecordMessage(data, size, [](const nlmsghdr* m) {
            corvane::sys::nl::Address address;
            if (corvane::sys::nl::decodeAddress(m, address))
                FUZZ_CHECK(address.label.size() < m->nlmsg_len);
        });
    });
}
