#include "change_counts.h"

#include "route_rows.h"

#include <algorithm>
#include <cstring>
#include <libmnl/libmnl.h>
#include <linux/if_addr.h>
#include <linux/rtnetlink.h>
#include <net/if.h>

namespace corvane::sys {
namespace {

uint64_t mix(uint64_t h, uint64_t v) {
    h ^= v + 0x9E3779B97F4A7C15ull + (h << 6) + (h >> 2);
    return h;
}

uint64_t fnv(uint64_t h, const void* data, size_t n) {
    const auto* p = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < n; ++i)
        h = (h ^ p[i]) * 0x100000001B3ull;
    return h;
}

// The kernel keeps two routes apart when anything of theirs differs, metrics and flags
// included, though the decoded record shows neither; digest what it leaves out.
uint64_t routeExtras(const nlmsghdr* nlh) {
    const auto* rtm = static_cast<const rtmsg*>(mnl_nlmsg_get_payload(nlh));
    uint64_t h = 0xCBF29CE484222325ull; // FNV-1a offset basis
    const uint32_t lasting = rtm->rtm_flags & (RTNH_F_ONLINK | RTNH_F_PERVASIVE);
    h = fnv(h, &lasting, sizeof lasting);
    mnl_attr_parse(
        nlh, sizeof(rtmsg),
        [](const nlattr* a, void* data) {
            switch (mnl_attr_get_type(a)) {
            case RTA_METRICS:
            case RTA_FLOW:
            case RTA_NH_ID:
            case RTA_VIA:
            case RTA_ENCAP_TYPE:
            case RTA_ENCAP: {
                auto& hash = *static_cast<uint64_t*>(data);
                const uint16_t type = mnl_attr_get_type(a);
                hash = fnv(hash, &type, sizeof type);
                hash = fnv(hash, mnl_attr_get_payload(a), mnl_attr_get_payload_len(a));
                break;
            }
            default:
                break;
            }
            return MNL_CB_OK;
        },
        &h);
    return h;
}

uint64_t prefixKey(uint32_t destination, uint8_t prefixLength) {
    return (uint64_t{destination} << 8) | prefixLength;
}

template <typename Map> void adjust(Map& map, uint32_t key, int sign) {
    if (sign > 0) {
        ++map[key];
        return;
    }
    const auto it = map.find(key);
    if (it != map.end() && --it->second == 0)
        map.erase(it);
}

} // namespace

bool CountModel::RouteVariant::operator==(const RouteVariant& o) const {
    return type == o.type && protocol == o.protocol && scope == o.scope &&
           preferredSource == o.preferredSource && extras == o.extras &&
           std::equal(hops.begin(), hops.end(), o.hops.begin(), o.hops.end(),
                      [](const nl::NextHop& x, const nl::NextHop& y) {
                          return x.ifIndex == y.ifIndex && x.gateway == y.gateway &&
                                 x.viaOtherFamily == y.viaOtherFamily;
                      });
}

size_t CountModel::Hash::operator()(const RouteBase& b) const {
    uint64_t h = mix(b.destination, b.table);
    h = mix(h, (uint64_t{b.priority} << 16) | (uint64_t{b.prefixLength} << 8) | b.tos);
    return static_cast<size_t>(h);
}

size_t CountModel::Hash::operator()(const AddressKey& a) const {
    return static_cast<size_t>(
        mix(mix(a.local, a.index), (uint64_t{a.peer} << 8) | a.prefixLength));
}

void CountModel::apply(const nlmsghdr* nlh, Source source) {
    switch (nlh->nlmsg_type) {
    case RTM_NEWLINK:
    case RTM_DELLINK:
        applyLink(nlh, source);
        break;
    case RTM_NEWADDR:
    case RTM_DELADDR:
        applyAddress(nlh, source);
        break;
    case RTM_NEWROUTE:
    case RTM_DELROUTE:
        applyRoute(nlh, source);
        break;
    case RTM_DELNEXTHOP:
        // Routes through a removed next hop object go with it, unannounced.
        nexthopRemoved_ = true;
        break;
    default:
        break;
    }
}

void CountModel::applyLink(const nlmsghdr* nlh, Source source) {
    if (nlh->nlmsg_len < mnl_nlmsg_size(sizeof(ifinfomsg)))
        return;
    const auto* ifi = static_cast<const ifinfomsg*>(mnl_nlmsg_get_payload(nlh));
    // Bridges announce their ports' state on the same group, family AF_BRIDGE; a port
    // leaving its bridge is announced as a deletion of the port, which stays.
    if (ifi->ifi_family != AF_UNSPEC || ifi->ifi_index <= 0)
        return;
    const auto index = static_cast<uint32_t>(ifi->ifi_index);
    if (nlh->nlmsg_type == RTM_NEWLINK) {
        const bool up = ifi->ifi_flags & IFF_UP;
        links_[index] = up;
        // Judged now, not at the next check: the link may be up again by then, its routes
        // gone all the same.
        if (!up && source == Source::Event)
            noteRoutesThrough(index);
        return;
    }
    links_.erase(index);
    // Its addresses go with it, announced or not.
    std::vector<AddressKey> gone;
    for (const AddressKey& a : addresses_)
        if (a.index == index)
            gone.push_back(a);
    for (const AddressKey& a : gone) {
        forgetAddress(a);
        noteSourceLoss(a.local);
    }
    noteRoutesThrough(index);
}

void CountModel::noteRoutesThrough(uint32_t index) {
    if (hopsByIf_.count(index))
        rereadNeed_ = true;
}

void CountModel::noteSourceLoss(uint32_t local) {
    if (routesBySource_.count(local) && !addressesByLocal_.count(local))
        rereadNeed_ = true;
}

void CountModel::forgetAddress(const AddressKey& key) {
    if (addresses_.erase(key) == 0)
        return;
    adjust(addressesByIf_, key.index, -1);
    adjust(addressesByLocal_, key.local, -1);
}

void CountModel::applyAddress(const nlmsghdr* nlh, Source source) {
    if (nlh->nlmsg_len < mnl_nlmsg_size(sizeof(ifaddrmsg)))
        return;
    const auto* ifa = static_cast<const ifaddrmsg*>(mnl_nlmsg_get_payload(nlh));
    if (ifa->ifa_family != AF_INET)
        return;
    struct Found {
        const nlattr* local = nullptr;
        const nlattr* peer = nullptr;
    } found;
    mnl_attr_parse(
        nlh, sizeof(ifaddrmsg),
        [](const nlattr* a, void* data) {
            auto* f = static_cast<Found*>(data);
            if (mnl_attr_validate(a, MNL_TYPE_U32) < 0)
                return MNL_CB_OK;
            if (mnl_attr_get_type(a) == IFA_LOCAL)
                f->local = a;
            else if (mnl_attr_get_type(a) == IFA_ADDRESS)
                f->peer = a;
            return MNL_CB_OK;
        },
        &found);
    // IFA_LOCAL is this host's address; IFA_ADDRESS the peer's, or the same without one.
    if (!found.local)
        found.local = found.peer;
    if (!found.local)
        return;
    AddressKey key{ifa->ifa_index, mnl_attr_get_u32(found.local),
                   found.peer ? mnl_attr_get_u32(found.peer) : 0, ifa->ifa_prefixlen};
    if (nlh->nlmsg_type == RTM_NEWADDR) {
        if (addresses_.insert(key).second) {
            adjust(addressesByIf_, key.index, +1);
            adjust(addressesByLocal_, key.local, +1);
        }
        return;
    }
    forgetAddress(key);
    if (source == Source::Event) {
        // The interface's last address gone: its routes went with it, even should an address
        // come back before the next check.
        if (!addressesByIf_.count(key.index))
            noteRoutesThrough(key.index);
        noteSourceLoss(key.local);
    }
}

void CountModel::count(const RouteVariant& v, int sign) {
    if (sign > 0)
        routeRows_ += v.hops.size();
    else
        routeRows_ -= std::min<uint64_t>(routeRows_, v.hops.size());
    for (const nl::NextHop& hop : v.hops)
        if (hop.ifIndex)
            adjust(hopsByIf_, hop.ifIndex, sign);
    if (v.preferredSource)
        adjust(routesBySource_, v.preferredSource, sign);
}

void CountModel::applyRoute(const nlmsghdr* nlh, Source source) {
    // An announced change of an IPv6 route, or of a table the forward table leaves out, is
    // a change of the Routes page's other rows: counted, not modelled. Its dumps are none of
    // ours, so an announcement repeated counts twice: one refresh too many, never one too few.
    if (source == Source::Event && nlh->nlmsg_len >= mnl_nlmsg_size(sizeof(rtmsg))) {
        const auto* rtm = static_cast<const rtmsg*>(mnl_nlmsg_get_payload(nlh));
        // A cached path (a learned MTU, a redirect) is no route of any table.
        if (rtm->rtm_family == AF_INET6) {
            if (!(rtm->rtm_flags & RTM_F_CLONED))
                ++routeChanges_;
            return;
        }
    }
    nl::Route r;
    if (!nl::decodeRouteChange(nlh, r))
        return;
    if (!listedRoute(r)) {
        if (source == Source::Event)
            ++routeChanges_;
        return;
    }
    const RouteBase base{r.table, r.destination, r.priority, r.prefixLength, r.tos};
    RouteVariant v{r.type,           r.protocol,           r.scope, r.preferredSource,
                   routeExtras(nlh), std::move(r.nextHops)};
    const auto it = routes_.find(base);
    if (nlh->nlmsg_type == RTM_DELROUTE) {
        if (it == routes_.end())
            return;
        auto& list = it->second;
        const auto vit = std::find(list.begin(), list.end(), v);
        if (vit == list.end())
            return;
        count(*vit, -1);
        list.erase(vit);
        ++routeChanges_;
        if (list.empty()) {
            routes_.erase(it);
            const auto b = bases_.find(prefixKey(base.destination, base.prefixLength));
            if (b != bases_.end()) {
                std::erase(b->second, base);
                if (b->second.empty())
                    bases_.erase(b);
            }
        }
        return;
    }
    if (it == routes_.end()) {
        count(v, +1);
        ++routeChanges_;
        routes_[base].push_back(std::move(v));
        bases_[prefixKey(base.destination, base.prefixLength)].push_back(base);
        return;
    }
    auto& list = it->second;
    if (std::find(list.begin(), list.end(), v) != list.end())
        return; // already known, from a dump or an earlier announcement
    count(v, +1);
    ++routeChanges_;
    // The kernel keeps routes of one destination, metric and TOS in a list: a replacement
    // takes the first one's place, an appended route goes last, any other new one first.
    if (source == Source::Event && (nlh->nlmsg_flags & NLM_F_REPLACE)) {
        count(list.front(), -1);
        list.front() = std::move(v);
    } else if (source == Source::Dump || (nlh->nlmsg_flags & NLM_F_APPEND)) {
        list.push_back(std::move(v));
    } else {
        list.insert(list.begin(), std::move(v));
    }
}

bool CountModel::takeRouteRereadNeed() {
    const bool need = rereadNeed_ || nexthopRemoved_;
    rereadNeed_ = false;
    nexthopRemoved_ = false;
    return need;
}

void CountModel::clearRoutes() {
    routes_.clear();
    bases_.clear();
    routeRows_ = 0;
    hopsByIf_.clear();
    routesBySource_.clear();
}

void CountModel::clear() {
    const uint32_t changes = routeChanges_;
    *this = CountModel{};
    routeChanges_ = changes + 1;
}

ChangeCounts CountModel::counts() const {
    const auto clamp = [](uint64_t n) {
        return static_cast<uint32_t>(std::min<uint64_t>(n, UINT32_MAX));
    };
    return {clamp(links_.size()), clamp(addresses_.size()), clamp(routeRows_), routeChanges_};
}

std::vector<nl::Route> CountModel::routesTo(uint32_t destination, uint8_t prefixLength) const {
    std::vector<nl::Route> out;
    const auto b = bases_.find(prefixKey(destination, prefixLength));
    if (b == bases_.end())
        return out;
    for (const RouteBase& base : b->second) {
        const auto it = routes_.find(base);
        if (it == routes_.end())
            continue;
        for (const RouteVariant& v : it->second) {
            nl::Route& r = out.emplace_back();
            r.table = base.table;
            r.destination = base.destination;
            r.prefixLength = base.prefixLength;
            r.tos = base.tos;
            r.priority = base.priority;
            r.type = v.type;
            r.protocol = v.protocol;
            r.scope = v.scope;
            r.preferredSource = v.preferredSource;
            r.nextHops = v.hops;
        }
    }
    return out;
}

} // namespace corvane::sys
