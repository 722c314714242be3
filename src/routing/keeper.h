// Keeps the stored persistent routes in the kernel: restores them, then puts back each one the
// kernel or a network manager removes once it can be applied again, until told to stop.
#pragma once

#include "routing/keeper_schedule.h"

#include <iosfwd>

namespace corvane {

// Runs until SIGTERM or SIGINT (0), or until the kernel cannot be watched any more (1). Says
// on log each route put back and, rate-limited, each one that could not be, names made
// printable.
int keepPersistentRoutes(std::ostream& log, KeeperSchedule::Timing timing = {});

} // namespace corvane
