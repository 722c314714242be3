#include "neighbours.h"

#include "netlink/message.h"
#include "netlink/socket.h"

#include <cstring>
#include <libmnl/libmnl.h>
#include <linux/neighbour.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

namespace corvane::sys {
namespace {

// The kernel gives ages in the clock ticks of times(2).
std::chrono::milliseconds clockTicks(uint32_t ticks) {
    const long perSecond = ::sysconf(_SC_CLK_TCK);
    return std::chrono::milliseconds(int64_t{ticks} * 1000 / (perSecond > 0 ? perSecond : 100));
}

} // namespace

bool decodeNeighbour(const nlmsghdr* nlh, Neighbour& out) {
    if (nlh->nlmsg_type != RTM_NEWNEIGH || nlh->nlmsg_len < mnl_nlmsg_size(sizeof(ndmsg)))
        return false;
    const auto* ndm = static_cast<const ndmsg*>(mnl_nlmsg_get_payload(nlh));
    if (ndm->ndm_family != AF_INET)
        return false;
    out = Neighbour{};
    out.ifIndex = static_cast<uint32_t>(ndm->ndm_ifindex);
    out.state = ndm->ndm_state;
    struct Parse {
        Neighbour* n;
        bool haveDestination;
    } parse{&out, false};
    const int rc = mnl_attr_parse(
        nlh, sizeof(ndmsg),
        [](const nlattr* a, void* data) {
            auto* ctx = static_cast<Parse*>(data);
            const auto* p = static_cast<const uint8_t*>(mnl_attr_get_payload(a));
            const uint16_t len = mnl_attr_get_payload_len(a);
            switch (mnl_attr_get_type(a)) {
            case NDA_DST:
                if (len != 4)
                    return MNL_CB_ERROR;
                ctx->n->address = mnl_attr_get_u32(a);
                ctx->haveDestination = true;
                break;
            case NDA_LLADDR:
                ctx->n->hardwareAddress.assign(p, p + len);
                break;
            case NDA_CACHEINFO:
                if (len >= sizeof(nda_cacheinfo)) {
                    nda_cacheinfo ci;
                    std::memcpy(&ci, p, sizeof ci);
                    ctx->n->sinceUpdate = clockTicks(ci.ndm_updated);
                }
                break;
            default:
                break;
            }
            return MNL_CB_OK;
        },
        &parse);
    return rc >= 0 && parse.haveDestination;
}

bool usableNeighbour(const Neighbour& n, bool linkDoesArp) {
    if (n.hardwareAddress.empty())
        return false;
    if (!linkDoesArp)
        return n.state & NUD_PERMANENT;
    return n.state &
           (NUD_REACHABLE | NUD_STALE | NUD_DELAY | NUD_PROBE | NUD_PERMANENT | NUD_NOARP);
}

std::chrono::milliseconds resolutionWait(const std::optional<Neighbour>& entry,
                                         std::chrono::milliseconds budget,
                                         std::chrono::milliseconds failureMemory) {
    using std::chrono::milliseconds;
    if (!entry || !entry->sinceUpdate)
        return budget;
    const milliseconds age = *entry->sinceUpdate;
    if (entry->state & NUD_INCOMPLETE) {
        if (age < budget)
            return budget - age;
        return age < failureMemory ? milliseconds(0) : budget;
    }
    if (entry->state & NUD_FAILED)
        return age < failureMemory ? milliseconds(0) : budget;
    return budget;
}

int readNeighbours(uint32_t ifIndex, std::vector<Neighbour>& out) {
    nl::Socket sock(NETLINK_ROUTE);
    if (!sock.ok())
        return sock.openError();
    char buf[MNL_SOCKET_BUFFER_SIZE];
    ndmsg* ndm;
    nlmsghdr* nlh = nl::putRequest(buf, RTM_GETNEIGH, &ndm);
    ndm->ndm_family = AF_INET;
    // The kernel filters a dump by the attribute; strict checking refuses ndm_ifindex.
    mnl_attr_put_u32(nlh, NDA_IFINDEX, ifIndex);
    out.clear();
    Neighbour n;
    const nl::DumpStatus st = sock.dump(nlh, [&](const nlmsghdr* m) {
        if (decodeNeighbour(m, n) && n.ifIndex == ifIndex)
            out.push_back(n);
    });
    return st.error;
}

} // namespace corvane::sys
