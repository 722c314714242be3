// Who asks, and whether polkit lets them: both asked of the system, never read from the
// request. The bus daemon stamps each message with its sender's unique name, which no client
// can choose; polkit and the uid are asked about that name.
#pragma once

#include <optional>
#include <string>
#include <sys/types.h>

struct sd_bus;

namespace corvane::helper {

// The uid of the connection behind a unique bus name, from the bus daemon.
std::optional<uid_t> callerUid(sd_bus* bus, const char* sender);

// Whether the connection behind a unique bus name belongs to a process in the helper's own
// network namespace; no when that cannot be told.
bool inOwnNetworkNamespace(sd_bus* bus, const char* sender);

enum class Verdict { Allowed, Refused };
// polkit's CheckAuthorization with the sender as subject; interactive lets an
// authentication agent ask the user, and change (kDetailChange) tells it what for.
// Anything but a clear yes is a refusal.
Verdict authorise(sd_bus* bus, const char* sender, const char* action, bool interactive,
                  const std::string& change);

} // namespace corvane::helper
