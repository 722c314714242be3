// What adding and changing a route decides without a window: next-hop proposals, the route
// type, the record for the platform and the dialog's lists.
#pragma once

#include "iphlpapi.h"
#include "routing/route_rows.h"

#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace corvane {

// An interface as the route dialogs offer it.
struct RouteInterface {
    QString description;
    QString indexText;
    bool active = false; // the Interfaces page's active mark
    QString gatewayNode; // the text of its adapter's first "Gateway:" node, if any
};

// The contiguous masks for the prefixes 0 to 30 and 32 (no /31), shortest first.
QStringList routeMaskList();
inline const QStringList routeMetricList = {
    QStringLiteral("0"),  QStringLiteral("1"),  QStringLiteral("5"),
    QStringLiteral("10"), QStringLiteral("11"), QStringLiteral("20"),
    QStringLiteral("21"), QStringLiteral("30"), QStringLiteral("31")};

// The index of the first interface with this description; nothing when none has it.
std::optional<DWORD> interfaceIndexOf(const std::vector<RouteInterface>& faces,
                                      const QString& description);

// "Gateway: 192.168.1.1 (HSRP, ...)" gives "192.168.1.1"; empty for an empty text.
QString gatewayNodeAddress(const QString& nodeText);
// The next hop the routing list suggests for an interface: the last default route's, else the
// last route's through it; rows from the store never count.
QString routeListNextHop(const std::vector<RouteRow>& rows, DWORD ifIndex);
// The tree's gateway for the interface, else the routing list's.
QString nextHopProposal(const RouteInterface& face, const std::vector<RouteRow>& rows);

// The next hop of the last default route through the interface, "0.0.0.0" without one.
QString defaultGatewayText(const std::vector<RouteRow>& rows, DWORD ifIndex);
// Direct (3) when the typed next hop is not the interface's default gateway and is one of
// this computer's own addresses; indirect (4) otherwise.
DWORD routeTypeFor(const QString& nextHopText, const QString& gatewayText,
                   const QStringList& ownAddresses);

// The record SetIpForwardEntry takes; addresses in host order.
MIB_IPFORWARDROW newRouteRecord(std::uint32_t destination, std::uint32_t mask,
                                std::uint32_t nextHop, DWORD ifIndex, DWORD type, DWORD metric);
// The record that sets a listed live route again as it was: its own type, protocol, metric,
// next hop and interface.
MIB_IPFORWARDROW restoreRecord(const RouteRow& row);

// What is wrong with a route as typed, in a sentence that names the field; nothing when the
// texts make a route. Network and mask must be dotted quads, the mask contiguous; the next
// hop a dotted quad, or empty or 0.0.0.0 for a route on the link. Texts are taken as they
// are: the caller strips blanks first where it means to.
std::optional<QString> routeInputProblem(const QString& network, const QString& mask,
                                         const QString& nextHop);
// The next hop field alone, by the same rule.
std::optional<QString> nextHopProblem(const QString& nextHop);
// An empty next hop or 0.0.0.0 names no gateway: the route leads out of the interface itself.
bool onLinkNextHop(const QString& nextHop);
// A stored route name holds destination, mask, next hop and metric, but no interface: an
// on-link route could not be restored as it was made, so it cannot be made persistent.
std::optional<QString> persistentProblem(const QString& nextHop, bool persistent);
// The network of a valid address and mask as a dotted quad (address AND mask).
QString alignedNetwork(const QString& network, const QString& mask);

// An IPv6 route as the dialog reads it.
struct TypedIpv6Route {
    std::array<std::uint8_t, 16> destination{}; // as typed, host bits and all
    std::uint8_t prefixLength = 0;
    bool hasGateway = false;
    std::array<std::uint8_t, 16> gateway{};
    bool hostBits() const;
    // The destination with the bits past the prefix cleared.
    std::array<std::uint8_t, 16> network() const;
};
// A network text with a colon is an IPv6 one.
bool ipv6Network(const QString& network);
// The network "2001:db8:5::/64", or an address with the prefix length ("64" or "/64") in the
// mask field, which is read only when the network names none; the next hop an IPv6 address
// (a link-local one is reached through the chosen interface), or empty or "::" for a route on
// the link. The route, or what is wrong with it in a sentence that names the field. Texts
// are taken as they are.
struct Ipv6RouteInput {
    std::optional<TypedIpv6Route> route;
    QString problem;
};
Ipv6RouteInput readIpv6Route(const QString& network, const QString& mask, const QString& nextHop);
// Compressed text of an IPv6 address ("2001:db8:5::").
QString ipv6Text(const std::array<std::uint8_t, 16>& address);

// The record CreateIpForwardEntry2 takes: the network (host bits cleared), a link-local next
// hop scoped to the interface.
MIB_IPFORWARD_ROW2 ipv6RouteRecord(const TypedIpv6Route& route, DWORD ifIndex, DWORD metric);
// The same record for an IPv4 route (addresses in host order, mask contiguous), for a table
// other than main; next hop 0 for a route on the link.
MIB_IPFORWARD_ROW2 ipv4RouteRecord2(std::uint32_t destination, std::uint32_t mask,
                                    std::uint32_t nextHop, DWORD ifIndex, DWORD metric);

// A routing table as the dialog offers them: by name or number.
struct RouteTableChoice {
    std::uint32_t id = 0;
    QString name;
};
inline constexpr std::uint32_t mainRouteTable = 254;
// The table a typed text names: one of the choices by name (letter case ignored) or a number
// from 1 to 4294967295; never 0 (no table) nor 255 (local: the kernel's routes of this host's
// addresses). Nothing for anything else.
std::optional<std::uint32_t> tableChoice(const QString& text,
                                         const std::vector<RouteTableChoice>& choices);
// The tables to offer: main first, then the others known, in number order, without local.
std::vector<RouteTableChoice> tableChoices(const std::vector<RouteTableChoice>& known);

// The name an added IPv6 route, or one of a table other than main, is stored under
// (registry/route_name2.h): the record CreateIpForwardEntry2 or CorvaneCreateRouteInTable
// takes, the table, and the interface's name; empty when the interface has none.
std::string wideRouteName(const MIB_IPFORWARD_ROW2& record, std::uint32_t table,
                          const std::string& ifName);
// The name of the interface with this index now; empty when none has it.
std::string interfaceNameOf(DWORD ifIndex);

// The persistent route name of a route as the user typed it.
std::string typedRouteName(const QString& network, const QString& mask, const QString& nextHop,
                           int metric);

// A listed route changed into another: the new record and the name it is stored under.
struct RouteChange {
    RouteRow old;
    MIB_IPFORWARDROW record{};
    std::string newName;
    bool persistent = false;
};

// What the platform answered; NO_ERROR where a step went through or was not needed.
struct RouteChangeResult {
    DWORD deleteRc = NO_ERROR; // the old route's deletion
    DWORD setRc = NO_ERROR;    // the new route
    DWORD backRc = NO_ERROR;   // the old route put back after the new one was refused
    bool changed() const { return setRc == NO_ERROR; }
    // The old route left the kernel and stays gone.
    bool oldGone() const { return deleteRc == NO_ERROR && setRc == NO_ERROR; }
};

// Deletes the old route and makes the new one. The old stored name leaves the store before
// the old route leaves the kernel, as in a deletion: the route keeper would bring back a
// stored route found missing. A refused deletion puts the name back and calls
// deletionRefused (the new route is made all the same); a refused new route puts the old
// route back as it was, and its name even when the route could not go back (the store then
// brings it back later), all before the caller says anything: a message box waits for the
// user, and a crash meanwhile would lose the route. Only a made route stores the new name.
RouteChangeResult changeRoute(const RouteChange& change,
                              const std::function<void(DWORD rc)>& deletionRefused);

} // namespace corvane
