// Who asks, and whether polkit lets them: both asked of the system, never read from the
// request. The bus daemon stamps each message with its sender's unique name, which no client
// can choose; polkit and the uid are asked about that name.
//
// These questions go out on a connection of the helper's own (the asker), never the one that
// callers write to: a caller's flood then cannot sit between a question and its answer, and
// nothing of theirs piles up while the helper waits.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>
#include <systemd/sd-bus.h>
#include <unordered_map>

namespace corvane::helper {

struct Caller {
    uid_t uid = 0;
    // Whether the connection belongs to a process in the helper's own network namespace; no
    // when that cannot be told.
    bool sameNamespace = false;
};

// What the bus daemon says of a unique name, asked once per name: a unique name is never
// given again, and its connection's uid and pid are those it connected with.
class Callers {
public:
    explicit Callers(sd_bus* asker) : asker_(asker) {}
    std::optional<Caller> of(const char* sender);

private:
    static constexpr std::size_t kRemembered = 256;
    sd_bus* asker_;
    std::unordered_map<std::string, Caller> known_;
};

enum class Verdict { Allowed, NotAllowed, NotAuthenticated, Failed };

// polkit's answer: authorised, or why not. An authentication that was asked for and not
// given (challenge, or the agent dismissed) is told apart from a plain no.
Verdict verdictOf(bool authorised, bool challenge, bool dismissed);
// The same from CheckAuthorization's reply; an error or a reply of another shape is Failed.
Verdict verdictOf(sd_bus_message* reply);

// Sends CheckAuthorization with the sender as subject on the asker; interactive lets an
// authentication agent ask the user, and change (kDetailChange) tells it what for. The
// answer, or its error or timeout, goes to callback(reply, userdata). A negative errno when
// it could not be sent.
using PolkitCallback = int (*)(sd_bus_message* reply, void* userdata, sd_bus_error*);
int askPolkit(sd_bus* asker, sd_bus_slot** slot, const char* sender, const char* action,
              bool interactive, const std::string& change, PolkitCallback callback, void* userdata);

} // namespace corvane::helper
