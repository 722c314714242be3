// The adapter pass as data: from the platform's adapter list to a description of the IP Info
// tree, the Host Info lists and the flags other pages read. No widgets, so it can be tested
// against any adapter list.
#pragma once

#include "iphlpapi.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <vector>

namespace corvane {

// Bits of an adapter node's data word.
namespace nodebit {
inline constexpr uint32_t Apipa = 0x1;
inline constexpr uint32_t Dhcp = 0x2;
inline constexpr uint32_t SeveralAddresses = 0x4;
inline constexpr uint32_t NoConnectionName = 0x8;
inline constexpr uint32_t NotActive = 0x8000;
} // namespace nodebit

struct TreeNode {
    QString text;
    int image = 0;
    uint32_t data = 0;
    std::vector<TreeNode> children;
};

struct GatewayMac {
    QString text;       // "00-00-0C-07-AC-01", empty when unknown
    uint64_t value = 0; // the six bytes, first one most significant
};

struct PerAdapterDns {
    bool autoconfigEnabled = false;
    QStringList servers; // DnsServerList texts in order, an empty first entry kept
};

// One IPv6 address of an adapter, as the tree shows it.
struct Ipv6Address {
    QString address; // without zone: the adapter is its zone
    int prefixLength = 0;
    QString scope;      // "link", "global", "host" ...
    QString state;      // "preferred", "deprecated", "tentative", "duplicate", then ", temporary"
    bool inUse = false; // a source the host may use: neither tentative nor duplicate
};

struct Ipv6Gateway {
    QString address;
    ULONG metric = 0;
};

// What the host knows of an adapter's IPv6: its addresses, its default routers in the main
// table and the DNS servers it asks.
struct Ipv6Adapter {
    std::vector<Ipv6Address> addresses;
    std::vector<Ipv6Gateway> gateways;
    QStringList dnsServers;
};

// What the pass asks the system while it runs; the window supplies the real answers.
class AdapterPassEnv {
public:
    virtual ~AdapterPassEnv() = default;
    // Empty when the system knows no name for the adapter.
    virtual QString connectionName(const QString& adapterName, DWORD ifIndex) = 0;
    // Administrative state; a failed query is reported by the implementation and is false.
    virtual bool isInterfaceUp(DWORD ifIndex) = 0;
    virtual GatewayMac gatewayMac(const QString& address) = 0;
    // Nothing when the query failed (reported by the implementation).
    virtual std::optional<PerAdapterDns> perAdapterInfo(DWORD ifIndex) = 0;
    // The adapter's DNS suffix, or "none".
    virtual QString dnsSuffix(DWORD ifIndex) = 0;
    virtual QDateTime now() = 0;
    // Nothing when IPv6 is not shown or the adapter has no IPv6 address.
    virtual const Ipv6Adapter* ipv6(DWORD /*ifIndex*/) { return nullptr; }
};

struct AdapterPassResult {
    std::vector<TreeNode> adapters;
    QStringList addresses;  // active addresses in order, "0.0.0.0" entries included
    QStringList dnsServers; // distinct, in order of first appearance; IPv6 ones last
    QStringList addresses6; // IPv6 addresses in use, by adapter, for the Host Info list
    bool anyActive = false;
    bool severalAddresses = false;
    std::vector<DWORD> inactiveIndexes; // interface rows to lose their active mark
    std::vector<DWORD> severalIndexes;  // interface rows to gain 0x80
    QStringList deleteChoices;          // adapters offered by the delete-address dialog
    std::vector<ULONG> deadContexts;    // "0.0.0.0" entries of the several-addresses layout
    QStringList logLines;               // only when logging
};

AdapterPassResult runAdapterPass(const IP_ADAPTER_INFO* list, AdapterPassEnv& env, bool logging);

// Text helpers the pass uses; exposed for their own tests.
QString mediaTypeText(UINT type);
QString macText(const BYTE (&address)[MAX_ADAPTER_ADDRESS_LENGTH]);
// "%d.%m.%y %H:%M" in local time; "infinite" for a lease without end and "unknown" for a
// time the platform does not know (0) or the C library cannot convert.
QString leaseTimeText(INT64 secondsSinceEpoch);
// An address's scope and state words, from the unicast address table's numbers.
QString ipv6ScopeText(ULONG scopeLevel);
QString ipv6StateText(int dadState, bool temporary);

// The virtual-router note for a gateway's physical address, or empty when none applies.
QString virtualRouterText(uint64_t macValue, const QString& macText);

} // namespace corvane
