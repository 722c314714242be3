#include "owners.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <dirent.h>
#include <exception>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <thread>
#include <unistd.h>
#include <utility>

namespace corvane::sys {
namespace {

bool processId(const char* name, uint32_t& pid) {
    const std::string_view s(name);
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), pid);
    return ec == std::errc() && end == s.data() + s.size() && pid != 0;
}

struct DirCloser {
    void operator()(DIR* d) const { ::closedir(d); }
};
using Dir = std::unique_ptr<DIR, DirCloser>;

// Opens dir relative to parent as a directory stream; null when it is gone or denied.
Dir openDirAt(int parent, const char* path) {
    const int fd = ::openat(parent, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    DIR* d = ::fdopendir(fd);
    if (!d)
        ::close(fd);
    return Dir(d);
}

// all: record every socket found, not only the ones asked for.
void scanProcess(int procFd, uint32_t pid, const char* pidName, SocketOwners& owners, bool all) {
    const std::string path = std::string(pidName) + "/fd";
    const Dir fds = openDirAt(procFd, path.c_str());
    if (!fds)
        return; // another user's process, or one that just ended
    const int fdsFd = ::dirfd(fds.get());
    char target[64]; // "socket:[4294967295]" fits; longer targets are not sockets
    while (const dirent* e = ::readdir(fds.get())) {
        if (e->d_name[0] == '.')
            continue;
        const ssize_t n = ::readlinkat(fdsFd, e->d_name, target, sizeof target);
        if (n <= 0 || static_cast<size_t>(n) >= sizeof target)
            continue;
        uint32_t inode;
        if (!socketInode(std::string_view(target, static_cast<size_t>(n)), inode))
            continue;
        const auto it = all ? owners.try_emplace(inode, pid).first : owners.find(inode);
        if (it != owners.end() && (it->second == 0 || pid < it->second))
            it->second = pid;
    }
}

// Merges a part's findings: a socket several processes share goes to the lowest pid.
void merge(SocketOwners& into, const SocketOwners& part) {
    for (const auto& [inode, pid] : part) {
        const auto [it, added] = into.try_emplace(inode, pid);
        if (!added && pid != 0 && (it->second == 0 || pid < it->second))
            it->second = pid;
    }
}

// One pass over <procRoot>/*/fd into owners. Reading fd links is nearly all kernel time
// and scales with the number of open files, so on a host with thousands of sockets the
// processes are split between two threads.
// split: the second half of the processes on a thread of its own, when the machine has a
// second core to run it.
void scanAll(const std::string& procRoot, SocketOwners& owners, bool all, bool split = true) {
    const Dir proc = openDirAt(AT_FDCWD, procRoot.c_str());
    if (!proc)
        return;
    const int procFd = ::dirfd(proc.get());
    std::vector<std::pair<uint32_t, std::string>> pids;
    while (const dirent* e = ::readdir(proc.get())) {
        uint32_t pid;
        if (processId(e->d_name, pid))
            pids.emplace_back(pid, e->d_name);
    }
    const auto scan = [&](std::size_t first, std::size_t last, SocketOwners& into) {
        for (std::size_t i = first; i < last; ++i)
            scanProcess(procFd, pids[i].first, pids[i].second.c_str(), into, all);
    };
    constexpr std::size_t splitAbove = 64;
    if (!split || pids.size() <= splitAbove || std::thread::hardware_concurrency() < 2) {
        scan(0, pids.size(), owners);
        return;
    }
    // The second half fills its own copy of what was asked; merged, the lowest pid wins.
    SocketOwners second = all ? SocketOwners() : owners;
    const std::size_t half = pids.size() / 2;
    // Out of memory on either side must come back as an exception on this thread, after the
    // helper has ended: a joinable thread destroyed, or one unwinding, ends the process.
    std::exception_ptr helperFailure, ownFailure;
    std::thread helper([&] {
        try {
            scan(half, pids.size(), second);
        } catch (...) {
            helperFailure = std::current_exception();
        }
    });
    try {
        scan(0, half, owners);
    } catch (...) {
        ownFailure = std::current_exception();
    }
    helper.join();
    if (ownFailure)
        std::rethrow_exception(ownFailure);
    if (helperFailure)
        std::rethrow_exception(helperFailure);
    merge(owners, second);
}

} // namespace

bool socketInode(std::string_view target, uint32_t& inode) {
    constexpr std::string_view prefix = "socket:[";
    if (!target.starts_with(prefix) || !target.ends_with(']'))
        return false;
    const char* first = target.data() + prefix.size();
    const char* last = target.data() + target.size() - 1;
    const auto [end, ec] = std::from_chars(first, last, inode);
    return ec == std::errc() && end == last && first != last;
}

SocketOwners socketOwners(const std::string& procRoot, const std::vector<uint32_t>& inodes) {
    SocketOwners owners;
    owners.reserve(inodes.size());
    for (const uint32_t inode : inodes) {
        if (inode != 0)
            owners.emplace(inode, 0);
    }
    if (!owners.empty())
        scanAll(procRoot, owners, false);
    return owners;
}

namespace {

// The last pass over every process, and whether one is under way in the background.
struct LastPass {
    std::mutex lock;
    std::condition_variable finished;
    bool warming = false;
    pid_t warmer = 0; // the process whose thread warms: a forked child has no such thread
    std::string procRoot;
    std::chrono::steady_clock::time_point at;
    SocketOwners all; // every socket inode the pass saw
};

LastPass& lastPass() {
    static auto* pass = new LastPass; // never destroyed: a warming thread may outlive statics
    return *pass;
}

// Longer than any pass takes; past it a listing makes its own.
constexpr auto kWarmWait = std::chrono::seconds(10);

} // namespace

SocketOwners recentSocketOwners(const std::string& procRoot, const std::vector<uint32_t>& inodes,
                                int maxAgeMs) {
    LastPass& last = lastPass();
    const auto answer = [&inodes](const SocketOwners& all) {
        SocketOwners owners;
        owners.reserve(inodes.size());
        for (const uint32_t inode : inodes) {
            if (inode == 0)
                continue;
            const auto it = all.find(inode);
            owners.emplace(inode, it == all.end() ? 0 : it->second);
        }
        return owners;
    };
    std::unique_lock guard(last.lock);
    // A pass begun for this listing ahead of it is waited for.
    last.finished.wait_for(guard, kWarmWait,
                           [&] { return !last.warming || last.warmer != ::getpid(); });
    const auto now = std::chrono::steady_clock::now();
    const bool fresh =
        last.procRoot == procRoot && now - last.at < std::chrono::milliseconds(maxAgeMs);
    if (fresh && std::all_of(inodes.begin(), inodes.end(), [&last](uint32_t inode) {
            return inode == 0 || last.all.contains(inode);
        }))
        return answer(last.all);

    SocketOwners all;
    all.reserve(last.all.size() + inodes.size());
    scanAll(procRoot, all, true);
    last.procRoot = procRoot;
    last.at = std::chrono::steady_clock::now();
    last.all = std::move(all);
    return answer(last.all);
}

void warmSocketOwners(const std::string& procRoot, const std::function<void()>& first) {
    LastPass& last = lastPass();
    {
        const std::lock_guard guard(last.lock);
        if (last.warming && last.warmer == ::getpid())
            return;
        last.warming = true;
        last.warmer = ::getpid();
    }
    const auto done = [&last](const std::string* root, SocketOwners* all) {
        const std::lock_guard guard(last.lock);
        if (root) {
            last.procRoot = *root;
            last.at = std::chrono::steady_clock::now();
            last.all = std::move(*all);
        }
        last.warming = false;
        last.finished.notify_all();
    };
    try {
        std::thread([procRoot, done, first] {
            SocketOwners all;
            try {
                if (first)
                    first();
                // One core: the other one is the reads' that this pass runs beside.
                scanAll(procRoot, all, true, false);
            } catch (...) {
                done(nullptr, nullptr); // out of memory: the listing makes its own pass
                return;
            }
            done(&procRoot, &all);
        }).detach();
    } catch (...) {
        done(nullptr, nullptr); // no thread to be had: the listing makes its own pass
    }
}

} // namespace corvane::sys
