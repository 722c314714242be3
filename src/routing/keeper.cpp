#include "routing/keeper.h"

#include "platform/iphelper.h"
#include "platform/resulttext.h"
#include "platform/rtnetwatch.h"
#include "platform/version.h"
#include "routing/persistentroutes.h"
#include "routing/restore.h"
#include "routing/route_rows.h"
#include "session/machinestore.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ostream>
#include <poll.h>
#include <set>
#include <sys/inotify.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace corvane {
namespace {

using Clock = KeeperSchedule::Clock;
using Time = KeeperSchedule::Time;
using namespace std::chrono_literals;

// Without a folder to watch, the store is looked at this often.
constexpr auto storePollInterval = 5s;
// Every wait ends at least this often, whatever is due.
constexpr auto longestWait = 1s;
// Notifications are read at most this often: a storm is then read in batches rather than a
// few at a time, one wake-up each. Well within the socket's room, and the debounce.
constexpr auto readPause = 20ms;

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

class Keeper {
public:
    Keeper(std::ostream& log, KeeperSchedule::Timing timing) : log_(log), schedule_(timing) {}
    int run();

private:
    void check(Time now);
    void report(Time now, const std::string& name, const RestoreOutcome& outcome);
    void say(Time now, const std::string& line, bool limited);
    bool storeChanged(int inotifyFd);

    std::ostream& log_;
    KeeperSchedule schedule_;
    LogLimiter limiter_;
    std::string storeFile_;
    std::string lastUnreadable_;
    std::vector<std::string> lastNames_;
    std::vector<std::string> lastWide_; // of the second key
    // Names of the second key are stored: IPv6 changes and those of other tables count too.
    bool wide_ = false;
    // Destination and prefix length of each stored route: changes of other routes are no
    // cause for a check. Unset when a stored mask names no prefix (then every one is).
    std::optional<std::vector<std::pair<std::uint32_t, unsigned>>> watched_;
    bool watchedChanged_ = true;
    void watchNames(const std::vector<std::string>& names, bool wide);
    bool routeWatched(std::uint32_t destination, unsigned prefixLength) const;
};

void Keeper::watchNames(const std::vector<std::string>& names, bool wide) {
    wide_ = wide;
    // The kernel's filter knows IPv4 main routes only: with routes of the second key every
    // route change comes, and a check sorts them out.
    if (wide) {
        watched_.reset();
        watchedChanged_ = true;
        return;
    }
    std::vector<std::pair<std::uint32_t, unsigned>> watched;
    for (const std::string& name : names) {
        const std::optional<PersistentRoute> route = parsePersistentRouteName(name);
        if (!route)
            continue;
        const std::uint32_t inverse = ~route->mask;
        if ((inverse & (inverse + 1)) != 0) {
            watched_.reset();
            watchedChanged_ = true;
            return;
        }
        watched.emplace_back(route->destination & route->mask, std::popcount(route->mask));
    }
    std::sort(watched.begin(), watched.end());
    watched.erase(std::unique(watched.begin(), watched.end()), watched.end());
    watched_ = std::move(watched);
    watchedChanged_ = true;
}

bool Keeper::routeWatched(std::uint32_t destination, unsigned prefixLength) const {
    return !watched_ || std::binary_search(watched_->begin(), watched_->end(),
                                           std::pair{destination, prefixLength});
}

void Keeper::say(Time now, const std::string& line, bool limited) {
    if (limited && !limiter_.allow(now))
        return;
    if (const unsigned held = limiter_.takeSuppressed(); held > 0)
        log_ << "(" << held << " more messages not shown)\n";
    log_ << line << '\n' << std::flush;
}

void Keeper::check(Time now) {
    schedule_.checked(now);
    std::string unreadable;
    const std::vector<std::string> names = ReadPersistentRouteNames(&unreadable);
    const std::vector<std::string> wideNames = ReadWidePersistentRouteNames();
    if (unreadable != lastUnreadable_ && !unreadable.empty())
        say(now, "failed to read the stored routes: " + printableName(unreadable), false);
    lastUnreadable_ = unreadable;
    for (const StoreNotice& notice : takeStoreNotices())
        say(now, notice.text.toStdString(), false);
    if (names != lastNames_ || wideNames != lastWide_)
        watchNames(names, !wideNames.empty());
    lastNames_ = names;
    lastWide_ = wideNames;
    std::set<std::string> kept(names.begin(), names.end());
    kept.insert(wideNames.begin(), wideNames.end());
    schedule_.keepOnly(kept);
    std::vector<const std::string*> due;
    for (const std::string& name : names)
        if (schedule_.mayTry(name, now))
            due.push_back(&name);
    std::vector<const std::string*> wideDue;
    for (const std::string& name : wideNames)
        if (schedule_.mayTry(name, now))
            wideDue.push_back(&name);
    // Read once, and only when a name of the second key is due.
    WideLiveNetwork wide;
    for (const std::string* name : wideDue)
        report(now, *name, restoreStoredWideRoute(*name, wide));
    if (due.empty())
        return;
    // Read here rather than through the bound library, which reads a table again while the
    // kernel marks it interrupted: under a storm that costs several dumps a check.
    LiveNetwork live;
    std::vector<InterfaceAddress> addresses;
    int error = readMainRoutes(live.routes);
    if (error == 0)
        error = readIPv4Addresses(addresses);
    if (error != 0) {
        for (const std::string* name : due)
            schedule_.failed(*name, now);
        say(now, std::string("failed to read the routing table: ") + std::strerror(error), true);
        return;
    }
    for (const InterfaceAddress& a : addresses)
        live.locals.push_back(
            {a.address,
             a.prefixLength == 0 ? 0 : ~std::uint32_t{0} << (32 - std::min(a.prefixLength, 32u)),
             a.ifIndex});
    live.localsRead = true;
    for (const std::string* name : due)
        report(now, *name, restoreStoredRoute(*name, live));
}

void Keeper::report(Time now, const std::string& name, const RestoreOutcome& outcome) {
    switch (outcome.kind) {
    case RestoreOutcome::Kind::Present:
        schedule_.applied(name);
        break;
    case RestoreOutcome::Kind::Added:
        schedule_.applied(name);
        say(now, "applied " + printableName(name), false);
        break;
    case RestoreOutcome::Kind::Failed:
        schedule_.failed(name, now);
        say(now,
            "failed " + printableName(name) + ": " + outcome.reason + " (next try in " +
                std::to_string(schedule_.backoffOf(name).count() / 1000) + " s)",
            true);
        break;
    }
}

// Whether an inotify event named the store file (or events were lost).
bool Keeper::storeChanged(int inotifyFd) {
    alignas(inotify_event) std::array<char, 4096> buffer;
    bool changed = false;
    for (;;) {
        const ssize_t n = ::read(inotifyFd, buffer.data(), buffer.size());
        if (n <= 0)
            break;
        for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(buffer.data() + at);
            if ((e->mask & IN_Q_OVERFLOW) ||
                (e->len > 0 && std::strncmp(e->name, storeFile_.c_str(), e->len) == 0))
                changed = true;
            at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
        }
    }
    return changed;
}

int Keeper::run() {
    const LoadFailure failure = iphlp().bind(platformVersion().xpFamily());
    if (failure.base) {
        log_ << "failed: " << loadFailureText(failure) << '\n';
        return 1;
    }
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    if (::sigprocmask(SIG_BLOCK, &stop, nullptr) != 0) {
        log_ << "failed to take the stop stopSignals: " << std::strerror(errno) << '\n';
        return 1;
    }
    const Fd stopSignals(::signalfd(-1, &stop, SFD_CLOEXEC | SFD_NONBLOCK));
    if (stopSignals.get() < 0) {
        log_ << "failed to take the stop stopSignals: " << std::strerror(errno) << '\n';
        return 1;
    }
    RouteChangeWatch watch;
    if (const int error = watch.open(); error != 0) {
        log_ << "failed to watch the kernel's routes: " << std::strerror(error) << '\n';
        return 1;
    }
    const std::filesystem::path store = persistentRouteStore().file();
    storeFile_ = store.filename().string();
    const Fd inotify(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
    const bool watchingStore =
        inotify.get() >= 0 &&
        ::inotify_add_watch(inotify.get(), store.parent_path().c_str(),
                            IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE | IN_DELETE |
                                IN_ATTRIB | IN_ONLYDIR) >= 0;
    if (!watchingStore)
        log_ << "cannot watch " << printableName(store.parent_path().string()) << " ("
             << std::strerror(errno) << "): the store is looked at every "
             << storePollInterval.count() << " s\n";
    log_ << std::flush;

    // What the boot-time restore would do, first; the watch is open already, so nothing
    // removed meanwhile goes unseen.
    bool wideWatched = false;
    const auto watchWide = [&] {
        if (const int error = watch.watchWide(); error != 0)
            log_ << "cannot watch IPv6 route changes: " << std::strerror(error) << '\n';
        wideWatched = true;
    };
    if (!ReadWidePersistentRouteNames().empty())
        watchWide();
    check(Clock::now());
    watchNames(lastNames_, !lastWide_.empty());
    Time nextStorePoll = Clock::now() + storePollInterval;
    Time nextRead = Clock::now();
    for (;;) {
        Time now = Clock::now();
        auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(longestWait);
        std::optional<Time> wake = schedule_.nextCheck();
        const bool reading = now >= nextRead;
        if (!reading && (!wake || nextRead < *wake))
            wake = nextRead;
        if (wake)
            wait = std::clamp(std::chrono::ceil<std::chrono::milliseconds>(*wake - now), 0ms, wait);
        std::array<pollfd, 3> fds{{{stopSignals.get(), POLLIN, 0},
                                   {inotify.get(), POLLIN, 0},
                                   {reading ? watch.fd() : -1, POLLIN, 0}}};
        if (::poll(fds.data(), fds.size(), static_cast<int>(wait.count())) < 0 && errno != EINTR) {
            log_ << "failed to wait: " << std::strerror(errno) << '\n';
            return 1;
        }
        now = Clock::now();
        if (fds[0].revents & POLLIN) {
            signalfd_siginfo info;
            if (::read(stopSignals.get(), &info, sizeof info) == sizeof info) {
                log_ << "stopped by signal " << info.ssi_signo << '\n' << std::flush;
                return 0;
            }
        }
        if ((fds[1].revents & POLLIN) && storeChanged(inotify.get()))
            schedule_.changed(now, KeeperSchedule::Change::Other);
        if (!watchingStore && now >= nextStorePoll) {
            nextStorePoll = now + storePollInterval;
            if (ReadPersistentRouteNames() != lastNames_ ||
                ReadWidePersistentRouteNames() != lastWide_)
                schedule_.changed(now, KeeperSchedule::Change::Other);
        }
        const auto filter = [this](std::uint32_t destination, unsigned prefixLength) {
            return routeWatched(destination, prefixLength);
        };
        if (fds[2].revents & (POLLIN | POLLERR)) {
            nextRead = now + readPause;
            const RouteChangeWatch::Changes c = watch.drain(filter);
            if (c.error != 0) {
                log_ << "failed to read the kernel's changes: " << std::strerror(c.error) << '\n';
                return 1;
            }
            // A lost notification may have been any change.
            if (c.any)
                schedule_.changed(now, c.overrun            ? KeeperSchedule::Change::Other
                                       : c.linksOrAddresses ? KeeperSchedule::Change::LinkOrAddress
                                                            : KeeperSchedule::Change::Route);
        }
        if (schedule_.checkDue(now))
            check(now);
        // The kernel drops the other routes' changes before they reach the socket.
        if (wide_ && !wideWatched)
            watchWide();
        if (std::exchange(watchedChanged_, false) &&
            !watch.passOnlyRoutes(watched_ ? &*watched_ : nullptr) && watched_)
            log_ << "cannot filter the route changes in the kernel: " << std::strerror(errno)
                 << '\n';
    }
}

} // namespace

int keepPersistentRoutes(std::ostream& log, KeeperSchedule::Timing timing) {
    Keeper keeper(log, timing);
    return keeper.run();
}

} // namespace corvane
