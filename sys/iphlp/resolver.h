// The name resolver's configuration: the global resolver file, the per-link state that
// systemd-resolved keeps and the name service switch. Parsers work on text so tests can feed
// them anything; the readers find the files (CORVANE_RESOLV_CONF, CORVANE_RESOLVED_NETIF_DIR
// and CORVANE_NSSWITCH_CONF point them elsewhere).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::sys {

struct ResolverConfig {
    std::vector<std::string> nameservers; // as written, in file order, duplicates kept
    std::vector<std::string> search;      // the last "search" or "domain" line
};

// Per-link settings of systemd-resolved; an absent key leaves its list empty.
struct LinkResolver {
    std::vector<std::string> servers; // as written, possibly with ":port" or "#name"
    std::vector<std::string> domains; // search domains; routing-only ("~x") ones dropped
};

ResolverConfig parseResolvConf(std::string_view text);
LinkResolver parseLinkResolver(std::string_view text);

// Whether the switch's "hosts" line names a DNS service ("dns", or systemd-resolved's
// "resolve"). Without the file (nullopt) or the line the C library asks DNS first: yes.
bool hostsUseDns(std::optional<std::string_view> nsswitchText);

// The IPv4 servers of a list in canonical dotted form, order and duplicates kept. Entries
// that are IPv6, malformed, or carry a port or server name suffix are reduced or dropped.
std::vector<std::string> ipv4Servers(const std::vector<std::string>& servers);

// The file the resolver reads; an unreadable file is an empty configuration.
ResolverConfig readResolvConf();
// Host names are looked up in DNS and some name server is configured to answer.
bool dnsEnabled(const ResolverConfig& global);
// systemd-resolved's state for one link, when it keeps one.
std::optional<LinkResolver> readLinkResolver(uint32_t ifIndex);

// What a link resolves with: its own IPv4 servers when it has any, else the global ones.
std::vector<std::string> dnsServersFor(uint32_t ifIndex, const ResolverConfig& global);
// The link's first search domain, else the global one, else "".
std::string dnsSuffixFor(uint32_t ifIndex, const ResolverConfig& global);

} // namespace corvane::sys
