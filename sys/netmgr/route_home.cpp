#include "route_home.h"

#include "bus.h"
#include "registry/atomicfile.h"

#include <algorithm>
#include <arpa/inet.h>
#include <bit>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <ifaddrs.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <map>
#include <net/if.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>
#include <utility>

namespace corvane::sys::netmgr {
namespace {

constexpr const char* kNm = "org.freedesktop.NetworkManager";
constexpr const char* kNmDevice = "org.freedesktop.NetworkManager.Device";
constexpr const char* kNmActive = "org.freedesktop.NetworkManager.Connection.Active";
constexpr const char* kNmConnection = "org.freedesktop.NetworkManager.Settings.Connection";
constexpr const char* kNetworkd = "org.freedesktop.network1";
constexpr uint32_t kPreserveExternalIp = 0x1; // NM_DEVICE_REAPPLY_FLAGS_PRESERVE_EXTERNAL_IP

// What a change to a manager's routes came to.
struct Change {
    enum Kind { Made, AlreadySo, Failed };
    Kind kind = Made;
    std::string failure; // Failed
    static Change failed(std::string why) { return {Failed, std::move(why)}; }
};

struct Interface {
    uint32_t index = 0;
    std::string name;
};

std::optional<Interface> named(uint32_t index) {
    char name[IF_NAMESIZE] = {};
    if (index == 0 || !::if_indextoname(index, name))
        return std::nullopt;
    return Interface{index, name};
}

// The interface holding a local address (host order).
std::optional<Interface> holding(uint32_t address) {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return std::nullopt;
    std::optional<Interface> found;
    for (const ifaddrs* a = list; a && !found; a = a->ifa_next)
        if (a->ifa_addr && a->ifa_addr->sa_family == AF_INET && a->ifa_name &&
            ntohl(reinterpret_cast<const sockaddr_in*>(a->ifa_addr)->sin_addr.s_addr) == address)
            found = named(::if_nametoindex(a->ifa_name));
    ::freeifaddrs(list);
    return found;
}

// The interface the kernel reaches a next hop (host order) through, as `ip route get` asks.
std::optional<Interface> interfaceFor(uint32_t nextHop) {
    const reg::Descriptor fd(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
    if (!fd)
        return std::nullopt;
    const timeval wait{1, 0};
    ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    struct {
        nlmsghdr header;
        rtmsg route;
        rtattr dstAttr;
        uint32_t dst;
    } request{};
    request.header.nlmsg_len = sizeof request;
    request.header.nlmsg_type = RTM_GETROUTE;
    request.header.nlmsg_flags = NLM_F_REQUEST;
    request.header.nlmsg_seq = 1;
    request.route.rtm_family = AF_INET;
    request.route.rtm_dst_len = 32;
    request.dstAttr.rta_len = RTA_LENGTH(sizeof(uint32_t));
    request.dstAttr.rta_type = RTA_DST;
    request.dst = htonl(nextHop);
    if (::send(fd.get(), &request, sizeof request, 0) != static_cast<ssize_t>(sizeof request))
        return std::nullopt;
    alignas(nlmsghdr) char buf[8192];
    const ssize_t n = ::recv(fd.get(), buf, sizeof buf, 0);
    if (n <= 0)
        return std::nullopt;
    // The answer is one message: the route, or an error.
    const auto* h = reinterpret_cast<const nlmsghdr*>(buf);
    const auto got = static_cast<size_t>(n);
    if (got < sizeof(nlmsghdr) || h->nlmsg_len > got || h->nlmsg_type != RTM_NEWROUTE ||
        h->nlmsg_len < NLMSG_LENGTH(sizeof(rtmsg)))
        return std::nullopt;
    const auto* r = static_cast<const rtmsg*>(NLMSG_DATA(h));
    if (r->rtm_type == RTN_LOCAL)
        return holding(nextHop);
    int attrLen = static_cast<int>(RTM_PAYLOAD(h));
    for (const auto* a = RTM_RTA(r); RTA_OK(a, attrLen); a = RTA_NEXT(a, attrLen))
        if (a->rta_type == RTA_OIF && RTA_PAYLOAD(a) >= sizeof(uint32_t)) {
            uint32_t index = 0;
            std::memcpy(&index, RTA_DATA(a), sizeof index);
            return named(index);
        }
    return std::nullopt;
}

uint32_t prefixOf(uint32_t mask) {
    return static_cast<uint32_t>(std::popcount(mask));
}

// --- NetworkManager -------------------------------------------------------------------------

struct NmRoute {
    std::string dest, nextHop;
    uint32_t prefix = 0;
    std::optional<uint32_t> metric;
};

bool sameRoute(const NmRoute& r, const reg::RouteName& route) {
    return r.dest == reg::quadText(route.destination) && r.prefix == prefixOf(route.mask) &&
           r.nextHop == reg::quadText(route.nextHop) && r.metric == route.metric;
}

// Reads one route-data entry (an a{sv}, not yet entered).
int readNmRoute(sd_bus_message* m, NmRoute& out) {
    int r = sd_bus_message_enter_container(m, 'a', "{sv}");
    if (r <= 0)
        return r < 0 ? r : -EBADMSG;
    while ((r = sd_bus_message_enter_container(m, 'e', "sv")) > 0) {
        const char* key = nullptr;
        const char* contents = nullptr;
        if ((r = sd_bus_message_read_basic(m, 's', &key)) <= 0 ||
            (r = sd_bus_message_peek_type(m, nullptr, &contents)) < 0)
            return r < 0 ? r : -EBADMSG;
        const std::string_view k(key), type(contents ? contents : "");
        const char* text = nullptr;
        uint32_t number = 0;
        if ((k == "dest" || k == "next-hop") && type == "s") {
            r = sd_bus_message_read(m, "v", "s", &text);
            (k == "dest" ? out.dest : out.nextHop) = text ? text : "";
        } else if ((k == "prefix" || k == "metric") && type == "u") {
            r = sd_bus_message_read(m, "v", "u", &number);
            if (k == "prefix")
                out.prefix = number;
            else
                out.metric = number;
        } else {
            r = sd_bus_message_skip(m, "v");
        }
        if (r < 0 || (r = sd_bus_message_exit_container(m)) < 0)
            return r;
    }
    if (r < 0)
        return r;
    return sd_bus_message_exit_container(m);
}

// Enters the ipv4 setting's a{sv} of a GetSettings reply; 0 when there is none.
int enterIpv4(sd_bus_message* m) {
    int r = sd_bus_message_rewind(m, true);
    if (r < 0 || (r = sd_bus_message_enter_container(m, 'a', "{sa{sv}}")) <= 0)
        return r < 0 ? r : -EBADMSG;
    while ((r = sd_bus_message_enter_container(m, 'e', "sa{sv}")) > 0) {
        const char* setting = nullptr;
        if ((r = sd_bus_message_read_basic(m, 's', &setting)) <= 0)
            return r < 0 ? r : -EBADMSG;
        if (std::strcmp(setting, "ipv4") == 0)
            return sd_bus_message_enter_container(m, 'a', "{sv}") > 0 ? 1 : -EBADMSG;
        if ((r = sd_bus_message_skip(m, "a{sv}")) < 0 || (r = sd_bus_message_exit_container(m)) < 0)
            return r;
    }
    return r;
}

// The profile's route-data entries, in order.
int readNmRoutes(sd_bus_message* settings, std::vector<NmRoute>& routes) {
    int r = enterIpv4(settings);
    if (r <= 0)
        return r;
    while ((r = sd_bus_message_enter_container(settings, 'e', "sv")) > 0) {
        const char* key = nullptr;
        if ((r = sd_bus_message_read_basic(settings, 's', &key)) <= 0)
            return r < 0 ? r : -EBADMSG;
        if (std::strcmp(key, "route-data") == 0) {
            if ((r = sd_bus_message_enter_container(settings, 'v', "aa{sv}")) <= 0 ||
                (r = sd_bus_message_enter_container(settings, 'a', "a{sv}")) <= 0)
                return r < 0 ? r : -EBADMSG;
            while ((r = sd_bus_message_at_end(settings, false)) == 0) {
                NmRoute route;
                if ((r = readNmRoute(settings, route)) < 0)
                    return r;
                routes.push_back(std::move(route));
            }
            if (r < 0 || (r = sd_bus_message_exit_container(settings)) < 0 ||
                (r = sd_bus_message_exit_container(settings)) < 0)
                return r;
        } else if ((r = sd_bus_message_skip(settings, "v")) < 0) {
            return r;
        }
        if ((r = sd_bus_message_exit_container(settings)) < 0)
            return r;
    }
    return r;
}

int appendNmRoute(sd_bus_message* m, const reg::RouteName& route) {
    const std::string dest = reg::quadText(route.destination);
    const std::string hop = reg::quadText(route.nextHop);
    return sd_bus_message_append(m, "a{sv}", 4, "dest", "s", dest.c_str(), "prefix", "u",
                                 prefixOf(route.mask), "next-hop", "s", hop.c_str(), "metric", "u",
                                 route.metric);
}

// Writes the route-data variant: the entries kept, then ours added.
int copyRouteData(sd_bus_message* to, sd_bus_message* from, const std::vector<bool>& drop,
                  const std::vector<reg::RouteName>& adds) {
    int r;
    if ((r = sd_bus_message_open_container(to, 'v', "aa{sv}")) < 0 ||
        (r = sd_bus_message_open_container(to, 'a', "a{sv}")) < 0)
        return r;
    if (from) {
        if ((r = sd_bus_message_enter_container(from, 'v', "aa{sv}")) <= 0 ||
            (r = sd_bus_message_enter_container(from, 'a', "a{sv}")) <= 0)
            return r < 0 ? r : -EBADMSG;
        for (size_t i = 0; (r = sd_bus_message_at_end(from, false)) == 0; ++i) {
            r = i < drop.size() && drop[i] ? sd_bus_message_skip(from, "a{sv}")
                                           : sd_bus_message_copy(to, from, false);
            if (r < 0)
                return r;
        }
        if (r < 0 || (r = sd_bus_message_exit_container(from)) < 0 ||
            (r = sd_bus_message_exit_container(from)) < 0)
            return r;
    }
    for (const reg::RouteName& add : adds)
        if ((r = appendNmRoute(to, add)) < 0)
            return r;
    if ((r = sd_bus_message_close_container(to)) < 0)
        return r;
    return sd_bus_message_close_container(to);
}

// An ip setting with its route-data changed. The legacy "routes" and "addresses" are left
// out: sent, they would make NetworkManager ignore route-data and address-data, and with them
// the attributes (table, onlink, labels) only those carry.
int copyIpSetting(sd_bus_message* to, sd_bus_message* from, const std::vector<bool>& drop,
                  const std::vector<reg::RouteName>& adds) {
    int r;
    if ((r = sd_bus_message_enter_container(from, 'a', "{sv}")) <= 0)
        return r < 0 ? r : -EBADMSG;
    if ((r = sd_bus_message_open_container(to, 'a', "{sv}")) < 0)
        return r;
    bool sawRoutes = false;
    while ((r = sd_bus_message_enter_container(from, 'e', "sv")) > 0) {
        const char* key = nullptr;
        if ((r = sd_bus_message_read_basic(from, 's', &key)) <= 0)
            return r < 0 ? r : -EBADMSG;
        const std::string_view k(key);
        if (k == "routes" || k == "addresses") {
            r = sd_bus_message_skip(from, "v");
        } else if ((r = sd_bus_message_open_container(to, 'e', "sv")) >= 0 &&
                   (r = sd_bus_message_append_basic(to, 's', key)) >= 0) {
            if (k == "route-data") {
                sawRoutes = true;
                r = copyRouteData(to, from, drop, adds);
            } else {
                r = sd_bus_message_copy(to, from, false);
            }
            if (r >= 0)
                r = sd_bus_message_close_container(to);
        }
        if (r < 0 || (r = sd_bus_message_exit_container(from)) < 0)
            return r;
    }
    if (r < 0 || (r = sd_bus_message_exit_container(from)) < 0)
        return r;
    if (!sawRoutes && !adds.empty() &&
        ((r = sd_bus_message_open_container(to, 'e', "sv")) < 0 ||
         (r = sd_bus_message_append_basic(to, 's', "route-data")) < 0 ||
         (r = copyRouteData(to, nullptr, drop, adds)) < 0 ||
         (r = sd_bus_message_close_container(to)) < 0))
        return r;
    return sd_bus_message_close_container(to);
}

// The Update call: every setting as GetSettings gave it, the ipv4 routes changed.
int updateMessage(sd_bus* bus, const std::string& connection, sd_bus_message* settings,
                  const std::vector<bool>& drop, const std::vector<reg::RouteName>& adds,
                  sd_bus_message** out) {
    sd_bus_message* m = nullptr;
    int r =
        sd_bus_message_new_method_call(bus, &m, kNm, connection.c_str(), kNmConnection, "Update");
    if (r < 0)
        return r;
    const auto build = [&]() -> int {
        int r2;
        if ((r2 = sd_bus_message_rewind(settings, true)) < 0 ||
            (r2 = sd_bus_message_enter_container(settings, 'a', "{sa{sv}}")) <= 0)
            return r2 < 0 ? r2 : -EBADMSG;
        if ((r2 = sd_bus_message_open_container(m, 'a', "{sa{sv}}")) < 0)
            return r2;
        bool sawIpv4 = false;
        while ((r2 = sd_bus_message_enter_container(settings, 'e', "sa{sv}")) > 0) {
            const char* setting = nullptr;
            if ((r2 = sd_bus_message_read_basic(settings, 's', &setting)) <= 0)
                return r2 < 0 ? r2 : -EBADMSG;
            if ((r2 = sd_bus_message_open_container(m, 'e', "sa{sv}")) < 0 ||
                (r2 = sd_bus_message_append_basic(m, 's', setting)) < 0)
                return r2;
            if (std::strcmp(setting, "ipv4") == 0) {
                sawIpv4 = true;
                r2 = copyIpSetting(m, settings, drop, adds);
            } else if (std::strcmp(setting, "ipv6") == 0) {
                r2 = copyIpSetting(m, settings, {}, {});
            } else {
                r2 = sd_bus_message_copy(m, settings, false);
            }
            if (r2 < 0 || (r2 = sd_bus_message_close_container(m)) < 0 ||
                (r2 = sd_bus_message_exit_container(settings)) < 0)
                return r2;
        }
        if (r2 < 0)
            return r2;
        if (!sawIpv4 && !adds.empty()) {
            if ((r2 = sd_bus_message_open_container(m, 'e', "sa{sv}")) < 0 ||
                (r2 = sd_bus_message_append_basic(m, 's', "ipv4")) < 0 ||
                (r2 = sd_bus_message_open_container(m, 'a', "{sv}")) < 0 ||
                (r2 = sd_bus_message_open_container(m, 'e', "sv")) < 0 ||
                (r2 = sd_bus_message_append_basic(m, 's', "route-data")) < 0 ||
                (r2 = copyRouteData(m, nullptr, drop, adds)) < 0 ||
                (r2 = sd_bus_message_close_container(m)) < 0 ||
                (r2 = sd_bus_message_close_container(m)) < 0 ||
                (r2 = sd_bus_message_close_container(m)) < 0)
                return r2;
        }
        return sd_bus_message_close_container(m);
    };
    if ((r = build()) < 0) {
        sd_bus_message_unref(m);
        return r;
    }
    *out = m;
    return 0;
}

// The device's active connection: its settings object and uuid.
struct Active {
    std::string connection, uuid;
};
std::optional<Active> activeOn(sd_bus* bus, const std::string& device) {
    const auto active = bus::objectPath(bus, kNm, device, kNmDevice, "ActiveConnection");
    if (!active || *active == "/")
        return std::nullopt;
    auto connection = bus::objectPath(bus, kNm, *active, kNmActive, "Connection");
    auto uuid = bus::string(bus, kNm, *active, kNmActive, "Uuid");
    if (!connection || *connection == "/" || !uuid || uuid->empty())
        return std::nullopt;
    return Active{std::move(*connection), std::move(*uuid)};
}

std::optional<std::string> nmDevice(sd_bus* bus, const std::string& ifName) {
    bus::Call call;
    const char* path = nullptr;
    if (sd_bus_call_method(bus, kNm, "/org/freedesktop/NetworkManager",
                           "org.freedesktop.NetworkManager", "GetDeviceByIpIface", &call.error,
                           &call.reply, "s", ifName.c_str()) < 0 ||
        sd_bus_message_read(call.reply, "o", &path) <= 0 || !path)
        return std::nullopt;
    return std::string(path);
}

// Has the device take its changed profile at once, leaving alone the addresses and routes
// NetworkManager did not make; an older NetworkManager without that flag is not asked (a
// reapply there would remove them), and the profile applies at the next activation.
void reapply(sd_bus* bus, const std::string& device) {
    bus::Call call;
    sd_bus_call_method(bus, kNm, device.c_str(), kNmDevice, "Reapply", &call.error, &call.reply,
                       "a{sa{sv}}tu", 0, uint64_t{0}, kPreserveExternalIp);
}

// Changes the profile's routes in one update: each of ours dropped (the first entry matching
// it) or added (unless an entry matches it already). One change per route, in order.
std::vector<Change> changeNmProfile(sd_bus* bus, const std::string& connection,
                                    const std::vector<reg::RouteName>& wanted, bool add) {
    const auto all = [&](const Change& change) {
        return std::vector<Change>(wanted.size(), change);
    };
    bus::Call settings;
    if (sd_bus_call_method(bus, kNm, connection.c_str(), kNmConnection, "GetSettings",
                           &settings.error, &settings.reply, "") < 0)
        return all(Change::failed("its settings could not be read (" + settings.errorText() + ")"));
    std::vector<NmRoute> routes;
    if (readNmRoutes(settings.reply, routes) < 0)
        return all(Change::failed("its settings could not be read"));
    std::vector<bool> drop(routes.size(), false);
    std::vector<reg::RouteName> adds;
    std::vector<Change> changes;
    for (const reg::RouteName& route : wanted) {
        size_t match = 0;
        while (match < routes.size() && (drop[match] || !sameRoute(routes[match], route)))
            ++match;
        const bool repeated = add && std::find(adds.begin(), adds.end(), route) != adds.end();
        if (repeated || (add ? match < routes.size() : match == routes.size())) {
            changes.push_back({Change::AlreadySo, {}});
            continue;
        }
        if (add)
            adds.push_back(route);
        else
            drop[match] = true;
        changes.push_back({});
    }
    if (std::none_of(changes.begin(), changes.end(),
                     [](const Change& c) { return c.kind == Change::Made; }))
        return changes;
    sd_bus_message* update = nullptr;
    std::string failure;
    if (updateMessage(bus, connection, settings.reply, drop, adds, &update) < 0) {
        failure = "its settings could not be rewritten";
    } else {
        bus::Call call;
        const int r = sd_bus_call(bus, update, 0, &call.error, &call.reply);
        sd_bus_message_unref(update);
        if (r < 0)
            failure = "it refused the change (" + call.errorText() + ")";
    }
    if (!failure.empty())
        for (Change& c : changes)
            if (c.kind == Change::Made)
                c = Change::failed(failure);
    return changes;
}

Change changeNmProfile(sd_bus* bus, const std::string& connection, const reg::RouteName& route,
                       bool add) {
    return changeNmProfile(bus, connection, std::vector<reg::RouteName>{route}, add).front();
}

std::string nmFailure(const std::string& uuid, const std::string& what) {
    return "NetworkManager profile " + bus::printable(uuid) + ": " + what;
}

// --- systemd-networkd -----------------------------------------------------------------------

bool plainName(std::string_view name) {
    if (name.empty() || name == "." || name == "..")
        return false;
    for (const char c : name) {
        const auto b = static_cast<unsigned char>(c);
        if (b <= 0x20 || b >= 0x7F || c == '/' || c == '\\')
            return false;
    }
    return true;
}

// The .network file networkd uses for the link: the Link's NetworkFile property where the
// daemon has one, else the link's state file (what networkctl reads).
std::optional<std::string> networkFile(sd_bus* bus, const std::string& link, uint32_t ifIndex,
                                       const Homes& homes) {
    if (auto file =
            bus::string(bus, kNetworkd, link, "org.freedesktop.network1.Link", "NetworkFile");
        file && !file->empty())
        return file;
    try {
        const auto state = reg::readWholeFile(
            homes.networkdState + "/links/" + std::to_string(ifIndex), std::size_t{64} * 1024);
        if (!state)
            return std::nullopt;
        const std::string_view text = state->text;
        constexpr std::string_view key = "NETWORK_FILE=";
        for (size_t pos = 0; pos < text.size();) {
            size_t end = text.find('\n', pos);
            if (end == std::string_view::npos)
                end = text.size();
            const std::string_view line = text.substr(pos, end - pos);
            if (line.starts_with(key) && line.size() > key.size())
                return std::string(line.substr(key.size()));
            pos = end + 1;
        }
    } catch (const reg::StoreError&) {
    }
    return std::nullopt;
}

// A folder of ours to write in, never reached through a link.
bool ownFolder(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
}

// Adds the route to the drop-in or takes it out; the file goes with its last route.
Change changeDropin(const std::string& path, const reg::RouteName& route, bool add) {
    const std::string folder = path.substr(0, path.rfind('/'));
    try {
        if (add && ::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST)
            return Change::failed("the folder " + bus::printable(folder) +
                                  " could not be made: " + std::strerror(errno));
        if (!ownFolder(folder)) {
            struct stat st {};
            if (!add && ::lstat(folder.c_str(), &st) != 0 && errno == ENOENT)
                return {Change::AlreadySo, {}}; // nothing of ours is there to take out
            return Change::failed(bus::printable(folder) + " is not a folder of ours; left alone");
        }
        std::vector<reg::RouteName> routes;
        if (const auto file = reg::readWholeFile(path, 1 << 20))
            routes = parseDropin(file->text);
        const auto at = std::find(routes.begin(), routes.end(), route);
        if (add == (at != routes.end()))
            return {Change::AlreadySo, {}};
        if (add)
            routes.push_back(route);
        else
            routes.erase(at);
        if (!routes.empty()) {
            reg::writeFileAtomically(path, dropinText(routes), 0644);
        } else {
            if (::unlink(path.c_str()) != 0 && errno != ENOENT)
                return Change::failed(bus::printable(path) +
                                      " could not be removed: " + std::strerror(errno));
            ::rmdir(folder.c_str()); // stays when it holds drop-ins of others
        }
        return {};
    } catch (const reg::StoreError& error) {
        return Change::failed(bus::printable(error.what()));
    }
}

} // namespace

std::string dropinText(const std::vector<reg::RouteName>& routes) {
    std::string text = "# Persistent routes of Corvane: this file is rewritten whole.\n";
    for (const reg::RouteName& r : routes)
        text += "\n[Route]\nDestination=" + reg::quadText(r.destination) + "/" +
                std::to_string(prefixOf(r.mask)) + "\nGateway=" + reg::quadText(r.nextHop) +
                "\nMetric=" + std::to_string(r.metric) + "\n";
    return text;
}

std::vector<reg::RouteName> parseDropin(std::string_view text) {
    std::vector<reg::RouteName> routes;
    struct Section {
        bool route = false, dest = false, gateway = false, metric = false;
        reg::RouteName name;
    } section;
    const auto finish = [&] {
        if (section.route && section.dest && section.gateway && section.metric)
            routes.push_back(section.name);
        section = {};
    };
    for (size_t pos = 0; pos <= text.size();) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        if (line.starts_with('[')) {
            finish();
            section.route = line == "[Route]";
            continue;
        }
        const size_t eq = line.find('=');
        if (!section.route || eq == std::string_view::npos)
            continue;
        const std::string_view key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "Destination") {
            const size_t slash = value.find('/');
            if (slash == std::string_view::npos || value.size() - slash > 3)
                continue;
            unsigned prefix = 0;
            for (const char c : value.substr(slash + 1))
                prefix = c >= '0' && c <= '9' ? prefix * 10 + unsigned(c - '0') : 99;
            if (prefix > 32 || slash + 1 == value.size() ||
                !reg::readQuad(value.substr(0, slash), section.name.destination))
                continue;
            section.name.mask = prefix == 0 ? 0 : ~uint32_t{0} << (32 - prefix);
            section.dest = true;
        } else if (key == "Gateway") {
            section.gateway = reg::readQuad(value, section.name.nextHop);
        } else if (key == "Metric") {
            uint64_t metric = 0;
            bool digits = !value.empty() && value.size() <= 10;
            for (const char c : value)
                digits = digits && c >= '0' && c <= '9';
            if (!digits)
                continue;
            for (const char c : value)
                metric = metric * 10 + uint64_t(c - '0');
            section.metric = metric <= 0xFFFFFFFFU;
            section.name.metric = static_cast<uint32_t>(metric);
        }
    }
    finish();
    return routes;
}

std::optional<std::string> dropinFor(std::string_view networkFile, const std::string& root) {
    const size_t slash = networkFile.rfind('/');
    const std::string_view base =
        slash == std::string_view::npos ? networkFile : networkFile.substr(slash + 1);
    if (!plainName(base) || !base.ends_with(".network") || base.size() == 8)
        return std::nullopt;
    return root + "/" + std::string(base) + ".d/" + kDropinName;
}

bool isDropinPath(std::string_view path, const std::string& root) {
    if (!path.starts_with(root + "/"))
        return false;
    const std::string_view rest = path.substr(root.size() + 1);
    const size_t slash = rest.find('/');
    if (slash == std::string_view::npos || rest.substr(slash + 1) != kDropinName)
        return false;
    const std::string_view folder = rest.substr(0, slash);
    return folder.ends_with(".network.d") &&
           dropinFor(folder.substr(0, folder.size() - 2), root) == std::string(path);
}

namespace {

// One bus connection and one look at who runs for a whole batch of routes.
//
// networkd is not reloaded after its drop-in changes: a reload reconfigures the link, and
// networkd then removes every route on it that it did not make, other people's routes that
// were never persistent among them. It reads the drop-in at its next reload or start; until
// then the route keeper puts the route back whenever networkd removes it.
class Session {
public:
    explicit Session(const Homes& homes) : homes_(homes) {}
    const Homes& homes() const { return homes_; }
    sd_bus* bus() {
        if (!opened_) {
            opened_ = true;
            bus_ = bus::system();
        }
        return bus_.get();
    }
    bool nmServes() { return serves(nm_, kNm); }
    // Asked once for a batch: its routes mostly share an interface.
    std::optional<std::string> nmDevice(const std::string& ifName) {
        const auto [at, added] = devices_.try_emplace(ifName);
        if (added)
            at->second = netmgr::nmDevice(bus(), ifName);
        return at->second;
    }
    std::optional<Active> activeOn(const std::string& device) {
        const auto [at, added] = active_.try_emplace(device);
        if (added)
            at->second = netmgr::activeOn(bus(), device);
        return at->second;
    }
    bool networkdServes() { return serves(networkd_, kNetworkd); }

private:
    bool serves(std::optional<bool>& known, const char* service) {
        if (!known)
            known = bus() && bus::servesOurNamespace(bus(), service, homes_.procRoot);
        return *known;
    }
    const Homes& homes_;
    bus::Bus bus_;
    bool opened_ = false;
    std::optional<bool> nm_, networkd_;
    std::map<std::string, std::optional<std::string>> devices_;
    std::map<std::string, std::optional<Active>> active_;
};

// The routes of a batch bound for one NetworkManager profile: it is read, updated and applied
// once for them all, not once for each (a profile update writes its file to disk).
struct NmBatch {
    std::string device, uuid;
    std::vector<reg::RouteName> routes;
    std::vector<std::size_t> slots; // what each route is to the caller
};
using NmBatches = std::map<std::string, NmBatch>; // by the profile's settings object

// With batches, a route bound for a NetworkManager profile joins its batch (slot tells it
// there) and nothing is placed yet.
Placement place(const reg::RouteName& route, Session& session, NmBatches* batches = nullptr,
                std::size_t slot = 0) {
    Placement placed;
    const auto iface = interfaceFor(route.nextHop);
    if (!iface || iface->name == "lo" || !session.bus())
        return placed;
    sd_bus* bus = session.bus();
    // A device of NetworkManager's without an active profile is one it leaves alone (perhaps
    // to networkd): nothing to keep the route in there.
    if (session.nmServes())
        if (const auto device =
                batches ? session.nmDevice(iface->name) : nmDevice(bus, iface->name))
            if (const auto active = batches ? session.activeOn(*device) : activeOn(bus, *device)) {
                if (batches) {
                    NmBatch& batch = (*batches)[active->connection];
                    batch.device = *device;
                    batch.uuid = active->uuid;
                    batch.routes.push_back(route);
                    batch.slots.push_back(slot);
                    return placed;
                }
                const Change change = changeNmProfile(bus, active->connection, route, true);
                if (change.kind == Change::Failed) {
                    placed.failure = nmFailure(active->uuid, change.failure);
                } else if (change.kind == Change::Made) {
                    reapply(bus, *device);
                    placed.data = std::string(kNmPrefix) + active->uuid;
                }
                return placed;
            }
    if (session.networkdServes())
        if (const auto link = bus::networkdLink(bus, iface->index, iface->name)) {
            const auto file = networkFile(bus, *link, iface->index, session.homes());
            if (!file)
                return placed; // a link networkd leaves unmanaged
            const auto path = dropinFor(*file, session.homes().networkdRoot);
            if (!path) {
                placed.failure = "systemd-networkd: no drop-in folder for " + bus::printable(*file);
                return placed;
            }
            const Change change = changeDropin(*path, route, true);
            if (change.kind == Change::Failed) {
                placed.failure = "systemd-networkd: " + change.failure;
                return placed;
            }
            placed.data = std::string(kNetworkdPrefix) + *path;
        }
    return placed;
}

std::string unplace(const reg::RouteName& route, std::string_view data, Session& session) {
    if (data.starts_with(kNmPrefix)) {
        const std::string uuid(data.substr(kNmPrefix.size()));
        if (!session.nmServes())
            return nmFailure(uuid, "NetworkManager is not running");
        sd_bus* bus = session.bus();
        bus::Call found;
        const char* connection = nullptr;
        if (sd_bus_call_method(bus, kNm, "/org/freedesktop/NetworkManager/Settings",
                               "org.freedesktop.NetworkManager.Settings", "GetConnectionByUuid",
                               &found.error, &found.reply, "s", uuid.c_str()) < 0 ||
            sd_bus_message_read(found.reply, "o", &connection) <= 0 || !connection)
            return {}; // the profile is gone, and our entry with it
        const Change change = changeNmProfile(bus, connection, route, false);
        if (change.kind == Change::AlreadySo)
            return {};
        if (change.kind == Change::Failed)
            return nmFailure(uuid, change.failure);
        if (const auto iface = interfaceFor(route.nextHop))
            if (const auto device = nmDevice(bus, iface->name))
                if (const auto active = activeOn(bus, *device); active && active->uuid == uuid)
                    reapply(bus, *device);
        return {};
    }
    if (data.starts_with(kNetworkdPrefix)) {
        const std::string_view path = data.substr(kNetworkdPrefix.size());
        if (!isDropinPath(path, session.homes().networkdRoot))
            return "systemd-networkd: " + bus::printable(path) +
                   " is not a drop-in of Corvane's; left alone";
        const Change change = changeDropin(std::string(path), route, false);
        if (change.kind == Change::Failed)
            return "systemd-networkd: " + change.failure;
    }
    return {};
}

std::string folded(std::string_view name) {
    std::string out(name);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

} // namespace

std::string changeProfileRoutes(const std::string& connection, const reg::RouteName& route,
                                bool add) {
    const bus::Bus bus = bus::system();
    if (!bus)
        return "no system bus";
    const Change change = changeNmProfile(bus.get(), connection, route, add);
    return change.kind == Change::Failed ? change.failure : std::string();
}

Placement placeRoute(const reg::RouteName& route, const Homes& homes) {
    Session session(homes);
    return place(route, session);
}

std::string unplaceRoute(const reg::RouteName& route, std::string_view data, const Homes& homes) {
    Session session(homes);
    return unplace(route, data, session);
}

namespace {

// Takes each route out of the place its data names, those of one NetworkManager profile in
// one update; a failure for each that failed, printable, at its index.
std::vector<std::string> unplaceAll(const std::vector<Placed>& all, Session& session) {
    std::vector<std::string> failures(all.size());
    std::map<std::string, std::vector<std::size_t>> byUuid;
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (all[i].data.starts_with(kNmPrefix))
            byUuid[all[i].data.substr(kNmPrefix.size())].push_back(i);
        else
            failures[i] = unplace(all[i].route, all[i].data, session);
    }
    for (const auto& [uuid, members] : byUuid) {
        if (members.size() == 1) {
            failures[members.front()] =
                unplace(all[members.front()].route, all[members.front()].data, session);
            continue;
        }
        if (!session.nmServes()) {
            for (const std::size_t i : members)
                failures[i] = nmFailure(uuid, "NetworkManager is not running");
            continue;
        }
        sd_bus* bus = session.bus();
        bus::Call found;
        const char* connection = nullptr;
        if (sd_bus_call_method(bus, kNm, "/org/freedesktop/NetworkManager/Settings",
                               "org.freedesktop.NetworkManager.Settings", "GetConnectionByUuid",
                               &found.error, &found.reply, "s", uuid.c_str()) < 0 ||
            sd_bus_message_read(found.reply, "o", &connection) <= 0 || !connection)
            continue; // the profile is gone, and our entries with it
        std::vector<reg::RouteName> routes;
        for (const std::size_t i : members)
            routes.push_back(all[i].route);
        const std::vector<Change> changes = changeNmProfile(bus, connection, routes, false);
        std::unordered_set<std::string> reapplied;
        for (std::size_t k = 0; k < members.size(); ++k) {
            if (changes[k].kind == Change::Failed)
                failures[members[k]] = nmFailure(uuid, changes[k].failure);
            if (changes[k].kind != Change::Made)
                continue;
            if (const auto iface = interfaceFor(routes[k].nextHop))
                if (const auto device = nmDevice(bus, iface->name);
                    device && !reapplied.contains(*device))
                    if (const auto active = activeOn(bus, *device);
                        active && active->uuid == uuid) {
                        reapply(bus, *device);
                        reapplied.insert(*device);
                    }
        }
    }
    return failures;
}

} // namespace

bool changeStoredRoutes(reg::KeyData& key, const std::vector<std::string>& names, bool persistent,
                        std::vector<std::string>& failures, std::vector<Placed>* placed,
                        const Homes& homes) {
    Session session(homes);
    std::unordered_set<std::string> present;
    for (const auto& value : key.values)
        present.insert(folded(value.first));
    if (persistent) {
        const std::size_t before = key.values.size();
        NmBatches batches;
        for (const std::string& name : names) {
            if (!present.insert(folded(name)).second)
                continue;
            std::string data;
            if (const auto route = reg::readRouteName(name)) {
                Placement placement = place(*route, session, &batches, key.values.size());
                data = std::move(placement.data);
                if (!placement.failure.empty())
                    failures.push_back(bus::printable(name) + ": " + placement.failure);
                if (placed && !data.empty())
                    placed->push_back({*route, data});
            }
            key.values.emplace_back(name, reg::Value::ofString(std::move(data)));
        }
        for (const auto& [connection, batch] : batches) {
            const std::vector<Change> changes =
                changeNmProfile(session.bus(), connection, batch.routes, true);
            bool made = false;
            for (std::size_t k = 0; k < changes.size(); ++k) {
                auto& value = key.values[batch.slots[k]];
                if (changes[k].kind == Change::Failed)
                    failures.push_back(bus::printable(value.first) + ": " +
                                       nmFailure(batch.uuid, changes[k].failure));
                if (changes[k].kind != Change::Made)
                    continue;
                std::string data = std::string(kNmPrefix) + batch.uuid;
                if (placed)
                    placed->push_back({batch.routes[k], data});
                value.second = reg::Value::ofString(std::move(data));
                made = true;
            }
            if (made)
                reapply(session.bus(), batch.device);
        }
        return key.values.size() != before;
    }
    std::unordered_set<std::string> gone;
    for (const std::string& name : names)
        gone.insert(folded(name));
    std::vector<Placed> leaving;
    std::vector<std::string> leavingNames;
    const bool changed = std::erase_if(key.values, [&](const auto& value) {
                             if (!gone.contains(folded(value.first)))
                                 return false;
                             const auto route = reg::readRouteName(value.first);
                             if (route && value.second.type == reg::ValueType::String &&
                                 !value.second.text.empty()) {
                                 leaving.push_back({*route, value.second.text});
                                 leavingNames.push_back(value.first);
                             }
                             return true;
                         }) != 0;
    const std::vector<std::string> unplaced = unplaceAll(leaving, session);
    for (std::size_t i = 0; i < unplaced.size(); ++i)
        if (!unplaced[i].empty())
            failures.push_back(bus::printable(leavingNames[i]) + ": " + unplaced[i]);
    return changed;
}

void takeBack(const std::vector<Placed>& placed, const Homes& homes) {
    Session session(homes);
    unplaceAll(placed, session);
}

} // namespace corvane::sys::netmgr
