#include "resolver.h"

#include "roots.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstdlib>
#include <netinet/in.h>

namespace corvane::sys {
namespace {

std::vector<std::string_view> lines(std::string_view text) {
    std::vector<std::string_view> out;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        out.push_back(text.substr(0, end));
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + 1);
    }
    return out;
}

bool blank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

// Blank-separated words; a word starting a comment ends the line.
std::vector<std::string> words(std::string_view text) {
    std::vector<std::string> out;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && blank(text[i]))
            ++i;
        const size_t start = i;
        while (i < text.size() && !blank(text[i]))
            ++i;
        if (i == start)
            break;
        if (text[start] == '#' || text[start] == ';')
            break;
        out.emplace_back(text.substr(start, i - start));
    }
    return out;
}

// The words after a keyword that starts the line and is followed by a blank, as the C
// library's resolver reads them (an indented keyword is not one).
bool keyword(std::string_view line, std::string_view key, std::vector<std::string>& rest) {
    if (line.size() <= key.size() || line.substr(0, key.size()) != key || !blank(line[key.size()]))
        return false;
    rest = words(line.substr(key.size()));
    return true;
}

std::string envOr(const char* name, const char* fallback) {
    const char* v = std::getenv(name);
    return v && *v ? v : fallback;
}

} // namespace

ResolverConfig parseResolvConf(std::string_view text) {
    ResolverConfig cfg;
    std::vector<std::string> rest;
    for (std::string_view line : lines(text)) {
        if (keyword(line, "nameserver", rest)) {
            if (!rest.empty())
                cfg.nameservers.push_back(rest.front());
        } else if (keyword(line, "search", rest)) {
            cfg.search = rest; // domain and search replace each other: the last one counts
        } else if (keyword(line, "domain", rest)) {
            cfg.search.clear();
            if (!rest.empty())
                cfg.search.push_back(rest.front());
        }
    }
    return cfg;
}

LinkResolver parseLinkResolver(std::string_view text) {
    LinkResolver link;
    for (std::string_view line : lines(text)) {
        if (line.empty() || line.front() == '#')
            continue;
        const size_t eq = line.find('=');
        if (eq == std::string_view::npos)
            continue;
        const std::string_view key = line.substr(0, eq);
        const std::vector<std::string> values = words(line.substr(eq + 1));
        // systemd-resolved names the list SERVERS, the network manager's own state DNS.
        if (key == "SERVERS" || key == "DNS") {
            link.servers = values;
        } else if (key == "DOMAINS") {
            link.domains.clear();
            for (const std::string& d : values)
                if (d.front() != '~' && d != ".") // "~x" only routes queries, it is no suffix
                    link.domains.push_back(d);
        }
    }
    return link;
}

bool hostsUseDns(std::optional<std::string_view> nsswitchText) {
    if (!nsswitchText)
        return true;
    for (std::string_view line : lines(*nsswitchText)) {
        line.remove_prefix(std::min(line.size(), line.find_first_not_of(" \t")));
        if (line.substr(0, 5) != "hosts")
            continue;
        line.remove_prefix(5);
        line.remove_prefix(std::min(line.size(), line.find_first_not_of(" \t")));
        if (line.empty() || line.front() != ':')
            continue;
        // The C library keeps the first line of a database and ignores later ones.
        bool inAction = false; // "[NOTFOUND=return]" and the like name no service
        for (const std::string& word : words(line.substr(1))) {
            if (word.front() == '[')
                inAction = true;
            if (!inAction && (word == "dns" || word == "resolve"))
                return true;
            if (word.back() == ']')
                inAction = false;
        }
        return false;
    }
    return true;
}

std::vector<std::string> ipv4Servers(const std::vector<std::string>& servers) {
    std::vector<std::string> out;
    for (const std::string& s : servers) {
        // systemd-resolved writes "address[:port][%ifindex][#server name]".
        const std::string address = s.substr(0, s.find_first_of(":%#"));
        in_addr a{};
        if (address.empty() || ::inet_pton(AF_INET, address.c_str(), &a) != 1)
            continue;
        char text[INET_ADDRSTRLEN];
        out.emplace_back(::inet_ntop(AF_INET, &a, text, sizeof text));
    }
    return out;
}

ResolverConfig readResolvConf() {
    std::string text;
    if (!readFile(resolvConf(), text))
        return {};
    return parseResolvConf(text);
}

bool dnsEnabled(const ResolverConfig& global) {
    const bool anyServer = std::any_of(
        global.nameservers.begin(), global.nameservers.end(), [](const std::string& server) {
            // An IPv6 server may carry its zone ("fe80::1%eth0").
            const std::string address = server.substr(0, server.find('%'));
            unsigned char bytes[sizeof(in6_addr)];
            return ::inet_pton(AF_INET, address.c_str(), bytes) == 1 ||
                   ::inet_pton(AF_INET6, address.c_str(), bytes) == 1;
        });
    if (!anyServer)
        return false;
    std::string text;
    if (!readFile(nsswitchConf(), text))
        return hostsUseDns(std::nullopt);
    return hostsUseDns(text);
}

std::optional<LinkResolver> readLinkResolver(uint32_t ifIndex) {
    const std::string dir = envOr("CORVANE_RESOLVED_NETIF_DIR", "/run/systemd/resolve/netif");
    std::string text;
    if (!readFile(dir + "/" + std::to_string(ifIndex), text))
        return std::nullopt;
    return parseLinkResolver(text);
}

std::vector<std::string> dnsServersFor(uint32_t ifIndex, const ResolverConfig& global) {
    if (const auto link = readLinkResolver(ifIndex)) {
        std::vector<std::string> own = ipv4Servers(link->servers);
        if (!own.empty())
            return own;
    }
    return ipv4Servers(global.nameservers);
}

std::string dnsSuffixFor(uint32_t ifIndex, const ResolverConfig& global) {
    if (const auto link = readLinkResolver(ifIndex); link && !link->domains.empty())
        return link->domains.front();
    return global.search.empty() ? std::string() : global.search.front();
}

} // namespace corvane::sys
