#include "bus.h"

#include <array>
#include <cstdio>
#include <unistd.h>

namespace corvane::sys::netmgr::bus {
namespace {

struct Reply {
    sd_bus_message* m = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    ~Reply() {
        sd_bus_error_free(&error);
        sd_bus_message_unref(m);
    }
};

// Enters the variant of a Properties.Get reply when it holds the given type.
bool get(sd_bus* bus, const char* service, const std::string& path, const char* interface,
         const char* property, const char* type, Reply& reply) {
    if (!bus)
        return false;
    if (sd_bus_call_method(bus, service, path.c_str(), "org.freedesktop.DBus.Properties", "Get",
                           &reply.error, &reply.m, "ss", interface, property) < 0)
        return false;
    return sd_bus_message_enter_container(reply.m, 'v', type) > 0;
}

std::string netnsOf(const std::string& pidDir) {
    std::array<char, 64> buf{};
    const ssize_t n = ::readlink((pidDir + "/ns/net").c_str(), buf.data(), buf.size());
    return n > 0 ? std::string(buf.data(), static_cast<size_t>(n)) : std::string();
}

} // namespace

void BusDeleter::operator()(sd_bus* b) const {
    sd_bus_flush_close_unref(b);
}

Bus system() {
    sd_bus* b = nullptr;
    if (sd_bus_open_system(&b) < 0)
        return nullptr;
    Bus bus(b);
    // Every call on it waits this long at most, not the library's default of 25 seconds.
    if (sd_bus_set_method_call_timeout(
            b, std::chrono::duration_cast<std::chrono::microseconds>(kCallTimeout).count()) < 0)
        return nullptr;
    return bus;
}

bool hasOwner(sd_bus* bus, const char* name) {
    Reply reply;
    int has = 0;
    return bus &&
           sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                              "org.freedesktop.DBus", "NameHasOwner", &reply.error, &reply.m, "s",
                              name) >= 0 &&
           sd_bus_message_read(reply.m, "b", &has) > 0 && has;
}

uint32_t ownerPid(sd_bus* bus, const char* name) {
    Reply reply;
    uint32_t pid = 0;
    if (!bus ||
        sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                           "org.freedesktop.DBus", "GetConnectionUnixProcessID", &reply.error,
                           &reply.m, "s", name) < 0 ||
        sd_bus_message_read(reply.m, "u", &pid) <= 0)
        return 0;
    return pid;
}

bool servesOurNamespace(sd_bus* bus, const char* service, const std::string& procRoot) {
    if (!hasOwner(bus, service))
        return false;
    const uint32_t pid = ownerPid(bus, service);
    if (pid == 0)
        return false;
    std::string ours = netnsOf(procRoot + "/thread-self");
    if (ours.empty())
        ours = netnsOf(procRoot + "/self");
    const std::string theirs = netnsOf(procRoot + "/" + std::to_string(pid));
    return ours.empty() || theirs.empty() || ours == theirs;
}

std::optional<std::string> objectPath(sd_bus* bus, const char* service, const std::string& path,
                                      const char* interface, const char* property) {
    Reply reply;
    const char* value = nullptr;
    if (!get(bus, service, path, interface, property, "o", reply) ||
        sd_bus_message_read_basic(reply.m, 'o', &value) <= 0 || !value)
        return std::nullopt;
    return std::string(value);
}

std::optional<std::string> string(sd_bus* bus, const char* service, const std::string& path,
                                  const char* interface, const char* property) {
    Reply reply;
    const char* value = nullptr;
    if (!get(bus, service, path, interface, property, "s", reply) ||
        sd_bus_message_read_basic(reply.m, 's', &value) <= 0 || !value)
        return std::nullopt;
    return std::string(value);
}

std::optional<uint32_t> u32(sd_bus* bus, const char* service, const std::string& path,
                            const char* interface, const char* property) {
    Reply reply;
    uint32_t value = 0;
    if (!get(bus, service, path, interface, property, "u", reply) ||
        sd_bus_message_read_basic(reply.m, 'u', &value) <= 0)
        return std::nullopt;
    return value;
}

std::optional<std::map<std::string, std::string>> stringDict(sd_bus* bus, const char* service,
                                                             const std::string& path,
                                                             const char* interface,
                                                             const char* property) {
    Reply reply;
    if (!get(bus, service, path, interface, property, "a{sv}", reply) ||
        sd_bus_message_enter_container(reply.m, 'a', "{sv}") <= 0)
        return std::nullopt;
    std::map<std::string, std::string> out;
    for (;;) {
        int r = sd_bus_message_enter_container(reply.m, 'e', "sv");
        if (r < 0)
            return std::nullopt;
        if (r == 0)
            break;
        const char* key = nullptr;
        if (sd_bus_message_read_basic(reply.m, 's', &key) <= 0 || !key)
            return std::nullopt;
        const char* contents = nullptr;
        if (sd_bus_message_peek_type(reply.m, nullptr, &contents) < 0)
            return std::nullopt;
        const char* value = nullptr;
        if (contents && std::string_view(contents) == "s")
            r = sd_bus_message_read(reply.m, "v", "s", &value);
        else
            r = sd_bus_message_skip(reply.m, "v");
        if (r < 0 || sd_bus_message_exit_container(reply.m) < 0)
            return std::nullopt;
        if (value)
            out.emplace(key, value);
    }
    return out;
}

std::optional<std::string> networkdLink(sd_bus* bus, uint32_t ifIndex, const std::string& ifName) {
    if (!bus || ifIndex == 0 || ifIndex > 0x7FFFFFFF)
        return std::nullopt;
    Call call;
    const char* name = nullptr;
    const char* path = nullptr;
    if (sd_bus_call_method(bus, "org.freedesktop.network1", "/org/freedesktop/network1",
                           "org.freedesktop.network1.Manager", "GetLinkByIndex", &call.error,
                           &call.reply, "i", static_cast<int32_t>(ifIndex)) < 0 ||
        sd_bus_message_read(call.reply, "so", &name, &path) <= 0 || !name || !path ||
        ifName != name)
        return std::nullopt;
    return std::string(path);
}

Call::~Call() {
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
}

std::string Call::errorText() const {
    if (!sd_bus_error_is_set(&error))
        return {};
    std::string text = error.name ? error.name : "";
    if (error.message && *error.message)
        text += std::string(": ") + error.message;
    return printable(text);
}

std::string printable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b >= 0x7F) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", b);
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace corvane::sys::netmgr::bus
