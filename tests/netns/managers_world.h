// What the tests that run NetworkManager and systemd-networkd for real share: the namespaces'
// own /run and state folders, the daemons as processes of the test, and a private system bus.
#pragma once

#include "dhcp/process.h"
#include "netns.h"

#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace corvane::test::managers {

inline constexpr const char* kNetworkManager = "/usr/sbin/NetworkManager";
inline constexpr const char* kNetworkd = "/lib/systemd/systemd-networkd";
inline constexpr const char* kDbusDaemon = "/usr/bin/dbus-daemon";

inline bool waitFor(const std::function<bool()>& done, std::chrono::seconds limit) {
    return sys::dhcp::waitUntil(done, sys::dhcp::Clock::now() + limit);
}

// Once per process: a host name, /run (the bus socket, the daemons' state), NetworkManager's
// state and, with networkConfig, networkd's configuration folder are the test's own; a
// read-only /sys tells both daemons that no udev is coming, so they manage links at once.
inline bool isolate(const char* hostName, bool networkConfig) {
    static const bool done = [&] {
        ::mkdir("/var/lib/NetworkManager", 0755);
        if (networkConfig)
            ::mkdir("/etc/systemd/network", 0755);
        return ::unshare(CLONE_NEWUTS) == 0 &&
               ::sethostname(hostName, std::char_traits<char>::length(hostName)) == 0 &&
               ::mount("tmpfs", "/run", "tmpfs", 0, "mode=0755") == 0 &&
               ::mount("tmpfs", "/var/lib/NetworkManager", "tmpfs", 0, "mode=0755") == 0 &&
               (!networkConfig ||
                ::mount("tmpfs", "/etc/systemd/network", "tmpfs", 0, "mode=0755") == 0) &&
               ::umount2("/sys", MNT_DETACH) == 0 &&
               ::mount("sysfs", "/sys", "sysfs", MS_RDONLY, nullptr) == 0;
    }();
    return done;
}

// A process of the test's own, ended and reaped when the object goes.
struct Daemon {
    pid_t pid = -1;
    explicit Daemon(const std::vector<std::string>& argv) : pid(spawnQuietly(argv)) {}
    ~Daemon() {
        if (pid > 0)
            stopQuietly(pid);
    }
    Daemon(const Daemon&) = delete;
    Daemon& operator=(const Daemon&) = delete;
};

// The namespace's system bus, up once its socket is there; null when it did not come. The
// machine's system bus configuration, and after it the policy files given (a service's own,
// as its package installs it); root may own polkit's name, for a stand-in.
inline std::unique_ptr<Daemon> systemBus(const std::vector<std::string>& policies = {}) {
    shMayFail("mkdir -p /run/dbus");
    const std::string config = "/run/dbus/corvane-system.conf";
    {
        std::ofstream out(config);
        out << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-BUS Bus Configuration "
               "1.0//EN\"\n"
               " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n<busconfig>\n"
               "  <include>/usr/share/dbus-1/system.conf</include>\n"
               "  <policy user=\"root\"><allow own=\"org.freedesktop.PolicyKit1\"/></policy>\n";
        for (const std::string& p : policies)
            out << "  <include>" << p << "</include>\n";
        out << "</busconfig>\n";
    }
    auto bus = std::make_unique<Daemon>(std::vector<std::string>{
        kDbusDaemon, "--config-file=" + config, "--nofork", "--nopidfile"});
    if (!waitFor([] { return ::access("/run/dbus/system_bus_socket", F_OK) == 0; },
                 std::chrono::seconds(5)))
        return nullptr;
    return bus;
}

// NetworkManager with its keyfiles in folder and the config's [main] lines added; null when
// it did not answer within 10 s.
inline std::unique_ptr<Daemon> networkManager(const std::string& folder, const std::string& main) {
    std::ofstream(folder + "/nm.conf")
        << "[main]\nplugins=keyfile\nno-auto-default=*\ndns=none\nrc-manager=unmanaged\n"
           "hostname-mode=none\n"
        << main << "[keyfile]\npath=" << folder << "/nm\n[logging]\nlevel=WARN\n";
    shMayFail("mkdir -p " + folder + "/nm");
    auto daemon = std::make_unique<Daemon>(
        std::vector<std::string>{kNetworkManager, "--no-daemon", "--config=" + folder + "/nm.conf",
                                 "--state-file=" + folder + "/nm.state"});
    if (!waitFor([] { return shMayFail("nmcli -t general status >/dev/null 2>&1") == 0; },
                 std::chrono::seconds(10)))
        return nullptr;
    return daemon;
}

// networkd's run-time folders, its own, and the .network file for the test's link.
inline void prepareNetworkd(const std::string& networkFile, const std::string& text) {
    sh("mkdir -p /run/systemd/network /run/systemd/netif/links /run/systemd/netif/leases "
       "/run/systemd/netif/lldp && chown -R systemd-network:systemd-network "
       "/run/systemd/netif");
    std::ofstream("/run/systemd/network/" + networkFile) << text;
}

} // namespace corvane::test::managers
