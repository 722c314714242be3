#include "authority.h"

#include "protocol.h"

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

Verdict authorise(sd_bus* bus, const char* sender, const char* action, bool interactive) {
    constexpr uint32_t kAllowUserInteraction = 1;
    sd_bus_message* request = nullptr;
    if (sd_bus_message_new_method_call(
            bus, &request, "org.freedesktop.PolicyKit1", "/org/freedesktop/PolicyKit1/Authority",
            "org.freedesktop.PolicyKit1.Authority", "CheckAuthorization") < 0)
        return Verdict::Refused;
    Call c;
    const int appended =
        sd_bus_message_append(request, "(sa{sv})sa{ss}us", "system-bus-name", 1, "name", "s",
                              sender, action, 0, interactive ? kAllowUserInteraction : 0, "");
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
