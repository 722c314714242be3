// When the route keeper looks at the kernel again, and when it may try a stored route again
// that it could not apply. Pure: time is handed in, so that tests drive it with a fake clock.
#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <set>
#include <string>

namespace corvane {

class KeeperSchedule {
public:
    using Clock = std::chrono::steady_clock;
    using Time = Clock::time_point;
    using Duration = std::chrono::milliseconds;

    struct Timing {
        // A burst of changes makes one check this long after its first change, and checks
        // come at most this often.
        Duration debounce{150};
        // A stored route that went while its link and addresses stayed was deleted by
        // someone, who may take its name out of the store only afterwards (Corvane itself
        // takes it out first): the route must not be back before the store says so.
        Duration deletionGrace{1000};
        Duration firstBackoff{1000};
        Duration maxBackoff{30000};
    };

    KeeperSchedule() = default;
    explicit KeeperSchedule(Timing timing) : timing_(timing) {}

    enum class Change {
        Route,         // only routes changed
        LinkOrAddress, // can make every route applicable that was not: back-off ends
        Other,         // the store, or lost notifications (any change at all)
    };
    // Something changed: a check follows within the debounce, or, for a route change alone,
    // after the deletion grace. Lost notifications may hide a link change: back-off ends.
    void changed(Time now, Change change);
    // The next check: the pending one or the earliest retry; none when nothing waits.
    std::optional<Time> nextCheck() const;
    bool checkDue(Time now) const;
    // A check ran: the pending one is done.
    void checked(Time now);

    // Whether the route may be tried now rather than wait for its back-off.
    bool mayTry(const std::string& name, Time now) const;
    // It could not be applied: it waits twice as long as before (capped) for its next try,
    // and a check is due then.
    void failed(const std::string& name, Time now);
    void applied(const std::string& name);
    // Forgets what is kept for names no longer stored.
    void keepOnly(const std::set<std::string>& names);
    // Its current wait; zero when it has none (tests, and the log).
    Duration backoffOf(const std::string& name) const;

private:
    struct Backoff {
        Duration wait{0};
        Time retryAt{};
    };
    Timing timing_;
    std::optional<Time> pending_;
    std::optional<Time> lastCheck_;
    std::map<std::string, Backoff> backoff_;
};

// Lets lines through while they come no faster than a few a second on average, with a burst
// allowed; counts what it held back, to be said with the next line let through.
class LogLimiter {
public:
    using Time = KeeperSchedule::Time;
    explicit LogLimiter(int burst = 20, std::chrono::milliseconds refill = std::chrono::seconds(1))
        : burst_(burst), tokens_(burst), refill_(refill) {}
    // Whether a line may be written now; false counts it as held back.
    bool allow(Time now);
    // The lines held back since the last call.
    unsigned takeSuppressed();

private:
    int burst_;
    int tokens_;
    std::chrono::milliseconds refill_;
    std::optional<Time> last_;
    unsigned suppressed_ = 0;
};

} // namespace corvane
