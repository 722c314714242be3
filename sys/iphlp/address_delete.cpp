#include "address_delete.h"

#include "corvane_result.h"
#include "errors.h"
#include "netlink/message.h"
#include "netlink/read.h"
#include "netlink/socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <libmnl/libmnl.h>
#include <linux/if_addr.h>
#include <linux/if_link.h>
#include <linux/ip.h>
#include <linux/rtnetlink.h>

namespace corvane::sys {
namespace {

uint32_t hostMask(uint8_t prefix) {
    return prefix == 0 ? 0 : ~uint32_t{0} << (32 - prefix);
}

// Hands every well-formed attribute of a payload to f.
template <typename F> void eachAttribute(const void* payload, std::size_t length, F&& f) {
    const auto* a = static_cast<const nlattr*>(payload);
    int left = static_cast<int>(length);
    while (mnl_attr_ok(a, left)) {
        f(a);
        left -= static_cast<int>(MNL_ALIGN(a->nla_len));
        a = mnl_attr_next(a);
    }
}

template <typename F> void eachNested(const nlattr* nest, F&& f) {
    eachAttribute(mnl_attr_get_payload(nest), mnl_attr_get_payload_len(nest), f);
}

// IFLA_AF_SPEC / AF_INET / IFLA_INET_CONF of a link message: the interface's IPv4 settings
// as a plain array of 32-bit values, setting n at n - 1.
constexpr std::size_t promotionAt =
    static_cast<std::size_t>(IPV4_DEVCONF_PROMOTE_SECONDARIES - 1) * sizeof(uint32_t);

bool promotionIn(const nlmsghdr* m, bool& on) {
    if (m->nlmsg_type != RTM_NEWLINK || m->nlmsg_len < mnl_nlmsg_size(sizeof(ifinfomsg)))
        return false;
    bool found = false;
    const std::size_t head = MNL_ALIGN(sizeof(ifinfomsg));
    eachAttribute(static_cast<const char*>(mnl_nlmsg_get_payload(m)) + head,
                  mnl_nlmsg_get_payload_len(m) - head, [&](const nlattr* spec) {
                      if (mnl_attr_get_type(spec) != IFLA_AF_SPEC)
                          return;
                      eachNested(spec, [&](const nlattr* family) {
                          if (mnl_attr_get_type(family) != AF_INET)
                              return;
                          eachNested(family, [&](const nlattr* conf) {
                              if (mnl_attr_get_type(conf) != IFLA_INET_CONF ||
                                  mnl_attr_get_payload_len(conf) < promotionAt + sizeof(uint32_t))
                                  return;
                              uint32_t value = 0;
                              std::memcpy(&value,
                                          static_cast<const char*>(mnl_attr_get_payload(conf)) +
                                              promotionAt,
                                          sizeof value);
                              on = value != 0;
                              found = true;
                          });
                      });
                  });
    return found;
}

int readPromotionOf(uint32_t ifIndex, bool& on) {
    nl::Socket sock(NETLINK_ROUTE);
    if (!sock.ok())
        return sock.openError();
    char buf[MNL_SOCKET_BUFFER_SIZE];
    ifinfomsg* ifi;
    nlmsghdr* nlh = nl::putRequest(buf, RTM_GETLINK, &ifi);
    ifi->ifi_family = AF_UNSPEC;
    ifi->ifi_index = static_cast<int>(ifIndex);
    bool found = false;
    if (const int e = sock.transact(nlh, [&](const nlmsghdr* m) { found |= promotionIn(m, on); }))
        return e;
    return found ? 0 : EOPNOTSUPP;
}

int setPromotionOf(uint32_t ifIndex, bool on) {
    nl::Socket sock(NETLINK_ROUTE);
    if (!sock.ok())
        return sock.openError();
    char buf[MNL_SOCKET_BUFFER_SIZE];
    ifinfomsg* ifi;
    nlmsghdr* nlh = nl::putRequest(buf, RTM_SETLINK, &ifi);
    ifi->ifi_family = AF_UNSPEC;
    ifi->ifi_index = static_cast<int>(ifIndex);
    nlattr* spec = mnl_attr_nest_start(nlh, IFLA_AF_SPEC);
    nlattr* inet = mnl_attr_nest_start(nlh, AF_INET);
    nlattr* conf = mnl_attr_nest_start(nlh, IFLA_INET_CONF);
    mnl_attr_put_u32(nlh, IPV4_DEVCONF_PROMOTE_SECONDARIES, on ? 1 : 0);
    mnl_attr_nest_end(nlh, conf);
    mnl_attr_nest_end(nlh, inet);
    mnl_attr_nest_end(nlh, spec);
    return sock.transact(nlh);
}

} // namespace

std::vector<nl::Address> takenAlong(const std::vector<nl::Address>& addresses, const NteKey& key) {
    std::vector<nl::Address> along;
    const uint32_t mask = hostMask(key.prefixLength);
    const uint32_t network = ntohl(key.address) & mask;
    bool primary = false;
    for (const nl::Address& a : addresses)
        if (a.index == key.ifIndex && a.address == key.address &&
            a.prefixLength == key.prefixLength)
            primary = !(a.flags & IFA_F_SECONDARY);
    if (!primary)
        return along;
    // The kernel's rule: the secondaries of the same network and the same mask.
    for (const nl::Address& a : addresses)
        if (a.index == key.ifIndex && (a.flags & IFA_F_SECONDARY) &&
            a.prefixLength == key.prefixLength && (ntohl(a.address) & mask) == network &&
            a.address != key.address)
            along.push_back(a);
    return along;
}

DWORD deleteKeepingOthers(const NteKey& key, const AddressDeleteSteps& steps) {
    std::vector<nl::Address> addresses;
    if (const int e = steps.readAddresses(addresses))
        return resultFromErrno(e);
    bool turnedOn = false;
    if (!takenAlong(addresses, key).empty()) {
        bool on = false;
        int e = steps.readPromotion(on);
        if (e == 0 && !on) {
            e = steps.setPromotion(true);
            turnedOn = e == 0;
        }
        // Without the privilege the delete itself would be refused: say that.
        if (e == EPERM || e == EACCES)
            return ERROR_ACCESS_DENIED;
        if (e != 0)
            return ERROR_WOULD_DELETE_OTHERS;
    }
    const int removed = steps.remove();
    // Promotion happens within the delete itself: the setting can go back at once. Left on
    // where that fails, it costs nothing.
    if (turnedOn)
        steps.setPromotion(false);
    return removed == EADDRNOTAVAIL ? ERROR_NOT_FOUND : resultFromErrno(removed);
}

AddressDeleteSteps kernelPromotionSteps(const NteKey& key) {
    AddressDeleteSteps steps;
    steps.readAddresses = [key](std::vector<nl::Address>& out) {
        return nl::readAddresses(out, key.ifIndex);
    };
    steps.readPromotion = [key](bool& on) { return readPromotionOf(key.ifIndex, on); };
    steps.setPromotion = [key](bool on) { return setPromotionOf(key.ifIndex, on); };
    return steps;
}

} // namespace corvane::sys
