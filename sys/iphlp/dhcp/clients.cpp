#include "clients.h"

#include "dhclient.h"
#include "dhcpcd.h"
#include "proc_entry.h"
#include "process.h"
#include "roots.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <dirent.h>
#include <map>
#include <mutex>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane::sys::dhcp {
namespace {

std::vector<std::string> splitArguments(std::string_view raw) {
    std::vector<std::string> args;
    size_t start = 0;
    while (start < raw.size()) {
        size_t end = raw.find('\0', start);
        if (end == std::string_view::npos)
            end = raw.size();
        args.emplace_back(raw.substr(start, end - start));
        start = end + 1;
    }
    // A rewritten process title leaves its unused space as trailing NULs.
    while (!args.empty() && args.back().empty())
        args.pop_back();
    return args;
}

bool oneOf(const std::string& s, std::initializer_list<const char*> set) {
    return std::any_of(set.begin(), set.end(), [&](const char* x) { return s == x; });
}

std::optional<Invocation> parseDhclient(const std::vector<std::string>& args) {
    Invocation inv;
    inv.kind = ClientKind::Dhclient;
    inv.leaseFile = dhclient::kDefaultLeaseFile;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        // IPv6 work, one-shot release or stop, or no configuration at all.
        if (oneOf(a, {"-6", "-S", "-T", "-P", "-N", "-R", "-r", "-x", "-n", "--version"}))
            return std::nullopt;
        if (oneOf(a, {"-pf", "-lf", "-cf", "-df", "-e", "-p", "-s", "-g", "-D", "-4o6",
                      "--decline-wait-time"})) {
            if (i + 1 >= args.size())
                return std::nullopt;
            if (a == "-lf")
                inv.leaseFile = args[i + 1];
            inv.options.push_back(a);
            inv.options.push_back(args[++i]);
        } else if (oneOf(a,
                         {"-sf", "--dad-wait-time", "--prefix-len-hint", "--address-prefix-len"})) {
            // Renewals run the client's configured hook, never a script a command line names;
            // the others are of no use to an IPv4 client.
            ++i;
        } else if (oneOf(a, {"-4", "-i", "-I", "--no-pid"})) {
            inv.options.push_back(a);
        } else if (!a.empty() && a[0] != '-') {
            inv.interfaces.push_back(a);
        }
        // Anything else (-1, -d, -nw, -v, -q, -w) is about how it was run, not what it does.
    }
    return inv;
}

// getopt-style: "-4w", "-fFILE", "-f FILE", "--config=FILE", "--config FILE".
std::optional<Invocation> parseDhcpcd(const std::vector<std::string>& args) {
    static constexpr std::string_view withValue = "CcefFhIijlmOoQrSstuvWyXZz";
    static constexpr std::string_view oneShot = "kNnxUPTVg";
    Invocation inv;
    inv.kind = ClientKind::Dhcpcd;
    bool v4 = false, v6 = false, manager = false;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.size() > 2 && a[0] == '-' && a[1] == '-') {
            const std::string name = a.substr(2, a.find('=') - 2);
            if (oneOf(name, {"release", "rebind", "renew", "exit", "dumplease", "printpidfile",
                             "test", "variables", "version", "help", "reconfigure"}))
                return std::nullopt;
            v4 |= name == "ipv4only";
            v6 |= name == "ipv6only";
            manager |= name == "manager";
            if (oneOf(name, {"background", "nobackground", "debug", "quiet", "waitip", "manager"}))
                continue;
            if (name == "script") {
                if (a.find('=') == std::string::npos && ++i >= args.size())
                    return std::nullopt;
                continue;
            }
            inv.options.push_back(a);
            if (a.find('=') == std::string::npos &&
                oneOf(name,
                      {"nohook",   "env",           "fqdn",           "config",         "hostname",
                       "clientid", "vendorclassid", "logfile",        "leasetime",      "metric",
                       "nooption", "option",        "require",        "request",        "inform",
                       "static",   "timeout",       "userclass",      "vendor",         "whitelist",
                       "reboot",   "blacklist",     "denyinterfaces", "allowinterfaces"})) {
                if (i + 1 >= args.size())
                    return std::nullopt;
                inv.options.push_back(args[++i]);
            }
            continue;
        }
        if (a.size() < 2 || a[0] != '-') {
            inv.interfaces.push_back(a);
            continue;
        }
        std::string kept = "-";
        const auto keepFlags = [&] {
            if (kept.size() > 1)
                inv.options.push_back(kept);
            kept = "-";
        };
        for (size_t k = 1; k < a.size(); ++k) {
            const char c = a[k];
            if (oneShot.find(c) != std::string_view::npos)
                return std::nullopt;
            if (withValue.find(c) != std::string_view::npos) {
                keepFlags();
                std::string value;
                if (k + 1 < a.size())
                    value = a.substr(k + 1);
                else if (i + 1 < args.size())
                    value = args[++i];
                else
                    return std::nullopt;
                // -c names a script: not replayed, as for dhclient.
                if (c != 'c') {
                    inv.options.push_back("-" + std::string(1, c));
                    inv.options.push_back(std::move(value));
                }
                break;
            }
            v4 |= c == '4';
            v6 |= c == '6';
            manager |= c == 'M';
            // Backgrounding, quietness and debugging are about how it was run; -B would keep
            // a restarted client in the foreground until the wait for it times out. Manager
            // mode is kept apart: with it, a command naming one interface acts on them all.
            if (std::string_view("bBdqwM").find(c) == std::string_view::npos)
                kept += c;
        }
        keepFlags();
    }
    if (v6 && !v4)
        return std::nullopt;
    inv.manager = manager || inv.interfaces.size() != 1;
    return inv;
}

// With privilege separation dhcpcd rewrites its title: "dhcpcd: eth0 [ip4]" for a daemon
// serving one interface, "dhcpcd: [manager] [ip4] [ip6]" for the manager, and
// "dhcpcd: [privileged proxy] ..." and the like for its helper processes.
std::optional<Invocation> parseDhcpcdTitle(std::string_view title) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < title.size()) {
        const size_t start = title.find_first_not_of(' ', i);
        if (start == std::string_view::npos)
            break;
        const size_t end = std::min(title.find(' ', start), title.size());
        words.emplace_back(title.substr(start, end - start));
        i = end;
    }
    if (words.empty())
        return std::nullopt;
    Invocation inv;
    inv.kind = ClientKind::Dhcpcd;
    inv.titled = true;
    if (words[0] == "[manager]" || words[0] == "[master]")
        inv.manager = true;
    else if (words[0][0] == '[')
        return std::nullopt;
    else
        inv.interfaces.push_back(words[0]);
    const bool v4 = std::find(words.begin(), words.end(), "[ip4]") != words.end();
    const bool v6 = std::find(words.begin(), words.end(), "[ip6]") != words.end();
    if (v6 && !v4)
        return std::nullopt;
    // A daemon limited to IPv4 answers only commands limited the same way.
    if (v4 && !v6)
        inv.options.emplace_back("-4");
    return inv;
}

std::string baseName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string linkTarget(const std::string& path) {
    std::array<char, 256> buf{};
    const ssize_t n = ::readlink(path.c_str(), buf.data(), buf.size());
    return n > 0 ? std::string(buf.data(), static_cast<size_t>(n)) : std::string();
}

// Only a DHCP client in this network namespace manages interfaces of that name here. When
// either namespace cannot be read (no privilege), the client is given the benefit.
bool sameNetworkNamespace(const std::string& theirs, const std::string& ours) {
    return ours.empty() || theirs.empty() || theirs == ours;
}

// The client programs as installed, by file identity: a process is one of them only when
// it runs that very file, whatever its command line calls it.
struct Binaries {
    std::vector<FileId> dhclient, dhcpcd;

    static std::vector<FileId> installed(const char* name) {
        std::vector<FileId> ids;
        for (const char* dir : kSystemProgramDirs) {
            struct stat st = {};
            const std::string path = std::string(dir) + "/" + name;
            if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
                ids.push_back({st.st_dev, st.st_ino});
        }
        return ids;
    }
    Binaries() : dhclient(installed("dhclient")), dhcpcd(installed("dhcpcd")) {}
    const std::vector<FileId>& of(ClientKind kind) const {
        return kind == ClientKind::Dhclient ? dhclient : dhcpcd;
    }
};

bool isDhcpcdUser(uid_t uid) {
    passwd pw{};
    passwd* found = nullptr;
    std::array<char, 1024> buf{};
    if (::getpwuid_r(uid, &pw, buf.data(), buf.size(), &found) != 0 || !found)
        return false;
    const std::string name = found->pw_name;
    return name == "dhcpcd" || name == "_dhcpcd";
}

// Whose arguments may be replayed with privilege. Anyone can give a process a client's
// name, and a setuid program started by anyone has a /proc directory owned by root; so a
// client is the installed binary with every uid root's. dhcpcd's privilege-separated
// processes run as its own user instead; only interface and protocol are taken from their
// title, never a path. Without privilege another user's executable cannot be looked at:
// such a client is believed for reading its lease, and marked as not verified.
bool trusted(const ProcessEntry& p, const Invocation& inv, const Binaries& binaries) {
    const auto& ids = binaries.of(inv.kind);
    if (p.exe) {
        if (std::find(ids.begin(), ids.end(), *p.exe) == ids.end())
            return false;
    } else if (!p.exeHidden || ::geteuid() == 0) {
        return false;
    }
    const uid_t uid = p.uids[0];
    if (std::any_of(p.uids.begin(), p.uids.end(), [&](uid_t u) { return u != uid; }))
        return false;
    return uid == 0 || (inv.titled && isDhcpcdUser(uid));
}

std::mutex memoryMutex;
std::map<std::string, Invocation>& memory() {
    static std::map<std::string, Invocation> seen;
    return seen;
}

} // namespace

bool Invocation::names(const std::string& ifName) const {
    return std::find(interfaces.begin(), interfaces.end(), ifName) != interfaces.end();
}

std::optional<Invocation> parseCommandLine(std::string_view raw) {
    const std::vector<std::string> args = splitArguments(raw);
    if (args.empty())
        return std::nullopt;
    static constexpr std::string_view titlePrefix = "dhcpcd: ";
    if (args[0].compare(0, titlePrefix.size(), titlePrefix) == 0)
        return parseDhcpcdTitle(std::string_view(args[0]).substr(titlePrefix.size()));
    const std::string base = baseName(args[0]);
    if (base == "dhclient")
        return parseDhclient(args);
    if (base == "dhcpcd")
        return parseDhcpcd(args);
    return std::nullopt;
}

Clients::Clients(std::vector<Invocation> running, std::string dhcpcdDir)
    : running_(std::move(running)), dhcpcdDir_(std::move(dhcpcdDir)) {}

// As much of a command line as the entry reads.
constexpr size_t kClientCmdlineCap = size_t{256} * 1024;

Clients Clients::scan() {
    const std::string root = procRoot();
    std::string ours = linkTarget(root + "/thread-self/ns/net");
    if (ours.empty())
        ours = linkTarget(root + "/self/ns/net");
    const Binaries binaries;
    std::vector<Invocation> found;
    if (DIR* dir = ::opendir(root.c_str())) {
        while (const dirent* e = ::readdir(dir)) {
            char* end = nullptr;
            const long pid = std::strtol(e->d_name, &end, 10);
            if (pid <= 0 || pid > INT32_MAX || *end != '\0')
                continue;
            // Only a command line that names a client is worth the whole entry, which reads
            // and checks it again: a host runs hundreds of other processes.
            std::string cmdline;
            if (!readFile(root + "/" + e->d_name + "/cmdline", cmdline, kClientCmdlineCap) ||
                !parseCommandLine(cmdline))
                continue;
            const auto process = readProcessEntry(root, static_cast<int>(pid));
            if (!process)
                continue;
            auto inv = parseCommandLine(process->cmdline);
            if (!inv || !trusted(*process, *inv, binaries) ||
                !sameNetworkNamespace(process->netns, ours))
                continue;
            inv->pid = process->pid;
            inv->startTime = process->startTime;
            inv->verified = process->exe.has_value();
            found.push_back(std::move(*inv));
        }
        ::closedir(dir);
    }
    std::sort(found.begin(), found.end(),
              [](const Invocation& a, const Invocation& b) { return a.pid < b.pid; });
    return Clients(std::move(found));
}

std::optional<Lease> Clients::leaseOf(const Invocation& client, const std::string& ifName) const {
    if (!client.running())
        return std::nullopt;
    if (client.kind == ClientKind::Dhclient)
        return dhclient::readLease(client.leaseFile, ifName);
    return dhcpcd::readLease(dhcpcdDir_, client, ifName);
}

std::optional<Invocation> Clients::managing(const std::string& ifName) const {
    if (ifName.empty())
        return std::nullopt;
    auto found = std::find_if(running_.begin(), running_.end(),
                              [&](const Invocation& c) { return c.names(ifName); });
    if (found == running_.end())
        found = std::find_if(running_.begin(), running_.end(), [&](const Invocation& c) {
            if (!c.interfaces.empty())
                return false;
            // A manager's lease file is there exactly while it holds a lease.
            if (c.kind == ClientKind::Dhcpcd)
                return !dhcpcd::leaseFile(dhcpcdDir_, ifName).empty();
            return dhclient::readLease(c.leaseFile, ifName).has_value();
        });
    const std::lock_guard lock(memoryMutex);
    if (found != running_.end()) {
        Invocation remembered = *found;
        remembered.pid = 0;
        remembered.startTime = 0;
        memory()[ifName] = std::move(remembered);
        return *found;
    }
    const auto it = memory().find(ifName);
    if (it == memory().end())
        return std::nullopt;
    return it->second;
}

std::optional<Lease> Clients::leaseFor(const std::string& ifName) const {
    const auto client = managing(ifName);
    if (!client)
        return std::nullopt;
    return leaseOf(*client, ifName).value_or(Lease{});
}

void forgetRememberedClients() {
    const std::lock_guard lock(memoryMutex);
    memory().clear();
}

} // namespace corvane::sys::dhcp
