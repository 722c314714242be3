#include "authority.h"

#include "helperclient/protocol.h"

#include <cerrno>
#include <cstring>
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

std::optional<uint32_t> askDaemon(sd_bus* bus, const char* method, const char* sender) {
    Call c;
    if (sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                           "org.freedesktop.DBus", method, &c.error, &c.reply, "s", sender) < 0)
        return std::nullopt;
    uint32_t value = 0;
    if (sd_bus_message_read(c.reply, "u", &value) < 0)
        return std::nullopt;
    return value;
}

// 1 when both paths lead to one file, 0 when not, -errno when theirs cannot be followed.
int sameFile(const std::string& theirs, const char* ours) {
    struct stat a {};
    struct stat b {};
    if (::stat(theirs.c_str(), &a) != 0)
        return -errno;
    return ::stat(ours, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino ? 1 : 0;
}

// The pid is the one the bus daemon took from the socket when the caller connected. It may
// have been passed on since (the caller exited and its number went to a process here), and
// a connection may be handed to a process elsewhere: so this check stops the plain case,
// and each request's interface name, checked against this namespace, stops the rest.
bool inOwnNetworkNamespace(sd_bus* bus, const char* sender) {
    const std::optional<uint32_t> pid = askDaemon(bus, "GetConnectionUnixProcessID", sender);
    if (!pid || *pid == 0 || *pid > 0x7FFFFFFF)
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

} // namespace

std::optional<Caller> Callers::of(const char* sender) {
    if (!sender)
        return std::nullopt;
    if (const auto found = known_.find(sender); found != known_.end())
        return found->second;
    const std::optional<uint32_t> uid = askDaemon(asker_, "GetConnectionUnixUser", sender);
    if (!uid)
        return std::nullopt;
    const Caller caller{static_cast<uid_t>(*uid), inOwnNetworkNamespace(asker_, sender)};
    // Most callers connect for one request; a flood of connections must not grow this.
    if (known_.size() >= kRemembered)
        known_.clear();
    known_.emplace(sender, caller);
    return caller;
}

Verdict verdictOf(bool authorised, bool challenge, bool dismissed) {
    if (authorised)
        return Verdict::Allowed;
    return challenge || dismissed ? Verdict::NotAuthenticated : Verdict::NotAllowed;
}

Verdict verdictOf(sd_bus_message* reply) {
    if (!reply || sd_bus_message_is_method_error(reply, nullptr))
        return Verdict::Failed;
    int authorised = 0;
    int challenge = 0;
    if (sd_bus_message_enter_container(reply, 'r', "bba{ss}") < 0 ||
        sd_bus_message_read(reply, "bb", &authorised, &challenge) < 0 ||
        sd_bus_message_enter_container(reply, 'a', "{ss}") < 0)
        return Verdict::Failed;
    bool dismissed = false;
    for (;;) {
        const char* key = nullptr;
        const char* value = nullptr;
        const int r = sd_bus_message_read(reply, "{ss}", &key, &value);
        if (r < 0)
            return Verdict::Failed;
        if (r == 0)
            break;
        dismissed = dismissed || std::strcmp(key, "polkit.dismissed") == 0;
    }
    return verdictOf(authorised != 0, challenge != 0, dismissed);
}

int askPolkit(sd_bus* asker, sd_bus_slot** slot, const char* sender, const char* action,
              bool interactive, const std::string& change, PolkitCallback callback,
              void* userdata) {
    constexpr uint32_t kAllowUserInteraction = 1;
    sd_bus_message* request = nullptr;
    int r = sd_bus_message_new_method_call(
        asker, &request, "org.freedesktop.PolicyKit1", "/org/freedesktop/PolicyKit1/Authority",
        "org.freedesktop.PolicyKit1.Authority", "CheckAuthorization");
    if (r < 0)
        return r;
    r = sd_bus_message_append(request, "(sa{sv})sa{ss}us", "system-bus-name", 1, "name", "s",
                              sender, action, 1, kDetailChange, change.c_str(),
                              interactive ? kAllowUserInteraction : 0, "");
    if (r >= 0)
        r = sd_bus_call_async(asker, slot, request, callback, userdata, kAuthorisationTimeoutUsec);
    sd_bus_message_unref(request);
    return r;
}

} // namespace corvane::helper
