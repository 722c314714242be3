#include "routing/keeper_schedule.h"

#include <algorithm>
#include <utility>

namespace corvane {

void KeeperSchedule::changed(Time now, Change change) {
    Time due = now + (change == Change::Route ? std::max(timing_.debounce, timing_.deletionGrace)
                                              : timing_.debounce);
    if (lastCheck_)
        due = std::max(due, *lastCheck_ + timing_.debounce);
    // A burst joins the check already coming; only a change that wants an earlier one moves
    // it.
    if (!pending_ || due < *pending_)
        pending_ = due;
    if (change != Change::Route)
        for (auto& [name, b] : backoff_)
            b.retryAt = std::min(b.retryAt, *pending_);
}

std::optional<KeeperSchedule::Time> KeeperSchedule::nextCheck() const {
    std::optional<Time> next = pending_;
    for (const auto& [name, b] : backoff_)
        if (b.wait.count() > 0 && (!next || b.retryAt < *next))
            next = b.retryAt;
    // A retry that falls due during a burst waits for the burst's check, never earlier than
    // the window allows.
    if (next && lastCheck_)
        next = std::max(*next, *lastCheck_ + timing_.debounce);
    return next;
}

bool KeeperSchedule::checkDue(Time now) const {
    const std::optional<Time> next = nextCheck();
    return next && *next <= now;
}

void KeeperSchedule::checked(Time now) {
    pending_.reset();
    lastCheck_ = now;
}

bool KeeperSchedule::mayTry(const std::string& name, Time now) const {
    const auto it = backoff_.find(name);
    return it == backoff_.end() || it->second.retryAt <= now;
}

void KeeperSchedule::failed(const std::string& name, Time now) {
    Backoff& b = backoff_[name];
    b.wait = b.wait.count() == 0 ? timing_.firstBackoff : std::min(b.wait * 2, timing_.maxBackoff);
    b.retryAt = now + b.wait;
}

void KeeperSchedule::applied(const std::string& name) {
    backoff_.erase(name);
}

void KeeperSchedule::keepOnly(const std::set<std::string>& names) {
    std::erase_if(backoff_, [&](const auto& entry) { return !names.contains(entry.first); });
}

KeeperSchedule::Duration KeeperSchedule::backoffOf(const std::string& name) const {
    const auto it = backoff_.find(name);
    return it == backoff_.end() ? Duration{0} : it->second.wait;
}

bool LogLimiter::allow(Time now) {
    if (!last_) {
        last_ = now;
    } else if (const auto gained = (now - *last_) / refill_; gained > 0) {
        tokens_ = static_cast<int>(std::min<long long>(burst_, tokens_ + gained));
        *last_ += gained * refill_;
    }
    if (tokens_ > 0) {
        --tokens_;
        return true;
    }
    ++suppressed_;
    return false;
}

unsigned LogLimiter::takeSuppressed() {
    return std::exchange(suppressed_, 0);
}

} // namespace corvane
