#include "authority.h"

#include "protocol.h"

#include <cerrno>
#include <string>
#include <sys/stat.h>
#include <systemd/sd-bus.h>

namespace corvane::helper {
namespace {

class Call {
public:
    Call() = default;
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;
    ~Call() {
        sd_bus_message_unref(reply);
        sd_bus_error_free(&error);
    }
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
};

} // namespace

std::optional<uid_t> callerUid(sd_bus* bus, const char* sender) {
    Call c;
    if (sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                           "org.freedesktop.DBus", "GetConnectionUnixUser", &c.error, &c.reply, "s",
                           sender) < 0)
        return std::nullopt;
    uint32_t uid = 0;
    if (sd_bus_message_read(c.reply, "u", &uid) < 0)
        return std::nullopt;
    return static_cast<uid_t>(uid);
}

namespace {

std::optional<pid_t> callerPid(sd_bus* bus, const char* sender) {
    Call c;
    if (sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                           "org.freedesktop.DBus", "GetConnectionUnixProcessID", &c.error, &c.reply,
                           "s", sender) < 0)
        return std::nullopt;
    uint32_t pid = 0;
    if (sd_bus_message_read(c.reply, "u", &pid) < 0 || pid == 0 || pid > 0x7FFFFFFF)
        return std::nullopt;
    return static_cast<pid_t>(pid);
}

// 1 when both paths lead to one file, 0 when not, -errno when theirs cannot be followed.
int sameFile(const std::string& theirs, const char* ours) {
    struct stat a {};
    struct stat b {};
    if (::stat(theirs.c_str(), &a) != 0)
        return -errno;
    return ::stat(ours, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino ? 1 : 0;
}

} // namespace

// The pid is the one the bus daemon took from the socket when the caller connected. It may
// have been passed on since (the caller exited and its number went to a process here), and
// a connection may be handed to a process elsewhere: so this check stops the plain case,
// and each request's interface name, checked against this namespace, stops the rest.
bool inOwnNetworkNamespace(sd_bus* bus, const char* sender) {
    const std::optional<pid_t> pid = callerPid(bus, sender);
    if (!pid)
        return false;
    const std::string proc = "/proc/" + std::to_string(*pid);
    // The namespace's own file names it, but to follow another user's link takes ptrace
    // access, and the unit gives no CAP_SYS_PTRACE (it would let the helper read any
    // process). Where that is refused, an entry of /proc/PID/net, which the kernel shows to
    // anyone from the process's own namespace, with an inode number that namespace's alone,
    // tells the same.
    const int named = sameFile(proc + "/ns/net", "/proc/self/ns/net");
    if (named != -EACCES && named != -EPERM)
        return named == 1;
    return sameFile(proc + "/net/dev", "/proc/self/net/dev") == 1;
}

Verdict authorise(sd_bus* bus, const char* sender, const char* action, bool interactive,
                  const std::string& change) {
    constexpr uint32_t kAllowUserInteraction = 1;
    sd_bus_message* request = nullptr;
    if (sd_bus_message_new_method_call(
            bus, &request, "org.freedesktop.PolicyKit1", "/org/freedesktop/PolicyKit1/Authority",
            "org.freedesktop.PolicyKit1.Authority", "CheckAuthorization") < 0)
        return Verdict::Refused;
    Call c;
    const int appended = sd_bus_message_append(
        request, "(sa{sv})sa{ss}us", "system-bus-name", 1, "name", "s", sender, action, 1,
        kDetailChange, change.c_str(), interactive ? kAllowUserInteraction : 0, "");
    const int called =
        appended < 0 ? appended
                     : sd_bus_call(bus, request, kAuthorisationTimeoutUsec, &c.error, &c.reply);
    sd_bus_message_unref(request);
    if (called < 0)
        return Verdict::Refused;
    int authorised = 0;
    int challenge = 0;
    if (sd_bus_message_enter_container(c.reply, 'r', "bba{ss}") < 0 ||
        sd_bus_message_read(c.reply, "bb", &authorised, &challenge) < 0)
        return Verdict::Refused;
    return authorised ? Verdict::Allowed : Verdict::Refused;
}

} // namespace corvane::helper
