// rtnetlink link, address and route messages kept as counts, as dump replies and as
// announcements.
#include "change_counts.h"
#include "fuzz_support.h"
#include "netlink_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return corvane::fuzz::guarded([&] {
        using corvane::sys::CountModel;
        CountModel dumped;
        CountModel announced;
        uint32_t messages = 0;
        corvane::fuzz::eachRecordMessage(data, size, [&](const nlmsghdr* m) {
            ++messages;
            dumped.apply(m, CountModel::Source::Dump);
            announced.apply(m, CountModel::Source::Event);
            if (messages % 8 == 0)
                announced.takeRouteRereadNeed();
        });
        for (const CountModel* model : {&dumped, &announced}) {
            const corvane::sys::ChangeCounts c = model->counts();
            // Each row stands for a message, or for a next hop of at least eight bytes.
            FUZZ_CHECK(c.interfaces <= messages && c.addresses <= messages);
            FUZZ_CHECK(c.routeRows <= size / 8);
        }
    });
}
