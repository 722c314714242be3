// rtnetlink route messages of a dump or of announcements, decoded and replayed over a table
// as the route reader replays them.
#include "fuzz_support.h"
#include "netlink/read.h"
#include "netlink/records.h"
#include "netlink_input.h"

#include <linux/rtnetlink.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return corvane::fuzz::guarded([&] {
        using namespace corvane::sys::nl;
        std::vector<Route> table;
        size_t messages = 0;
        corvane::fuzz::eachRecordMessage(data, size, [&](const nlmsghdr* m) {
            ++messages;
            Route route;
            if (decodeRoute(m, route)) {
                FUZZ_CHECK(route.prefixLength <= 32);
                // A next hop takes at least its own header of the message.
                FUZZ_CHECK(route.nextHops.size() <= 1 + m->nlmsg_len / sizeof(rtnexthop));
            }
            applyRouteEvent(table, m);
        });
        FUZZ_CHECK(table.size() <= messages);
    });
}
