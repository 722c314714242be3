#include "owners.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <deque>
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

// A name of /proc as the kernel writes numbers: decimal, without leading zeros, so that the
// number written back names the same entry.
bool numberName(const char* name, uint32_t& value) {
    const std::string_view s(name);
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    return ec == std::errc() && end == s.data() + s.size() && (s[0] != '0' || s.size() == 1);
}

bool processId(const char* name, uint32_t& pid) {
    return numberName(name, pid) && pid != 0;
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

// The inode of the socket an fd link of a process points to; false for anything else.
bool socketAt(int fdsFd, const char* name, uint32_t& inode) {
    char target[64]; // "socket:[4294967295]" fits; longer targets are not sockets
    const ssize_t n = ::readlinkat(fdsFd, name, target, sizeof target);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof target)
        return false;
    return socketInode(std::string_view(target, static_cast<size_t>(n)), inode);
}

// all: record every socket found, not only the ones asked for.
void record(SocketOwners& owners, bool all, uint32_t inode, uint32_t pid) {
    const auto it = all ? owners.try_emplace(inode, pid).first : owners.find(inode);
    if (it != owners.end() && (it->second == 0 || pid < it->second))
        it->second = pid;
}

void scanFds(int fdsFd, uint32_t pid, const std::vector<uint32_t>& fds, SocketOwners& owners,
             bool all) {
    for (const uint32_t fd : fds) {
        char name[16];
        *std::to_chars(name, name + sizeof name - 1, fd).ptr = '\0';
        if (uint32_t inode; socketAt(fdsFd, name, inode))
            record(owners, all, inode, pid);
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

// One pass over <procRoot>/*/fd that any number of threads can share: each takes the next
// process nobody has taken, and what each found is merged as it leaves. Reading fd links is
// nearly all kernel time and scales with the number of open files, so on a host with
// thousands of sockets a second core halves it.
class ProcessPass {
public:
    // Lists the processes now. all: record every socket found; else only those of asked,
    // which every answer holds, owned by 0 where no process is found.
    ProcessPass(const std::string& procRoot, bool all, SocketOwners asked = {})
        : proc_(openDirAt(AT_FDCWD, procRoot.c_str())), all_(all), found_(std::move(asked)) {
        if (!proc_)
            return;
        while (const dirent* e = ::readdir(proc_.get())) {
            uint32_t pid;
            if (processId(e->d_name, pid))
                pids_.emplace_back(pid, e->d_name);
        }
    }

    size_t processes() const { return pids_.size(); }

    // Scans until no process and no batch of files is left. Out of memory comes back as an
    // exception, after this thread has stopped taking work.
    void work() {
        SocketOwners own = all_ ? SocketOwners() : asked();
        for (;;) {
            if (Batch batch; takeBatch(batch)) {
                scanFds(::dirfd(batch.fds->get()), batch.pid, batch.numbers, own, all_);
                continue;
            }
            const size_t i = next_.fetch_add(1);
            if (i >= pids_.size())
                break;
            scanProcess(pids_[i].first, pids_[i].second, own);
        }
        const std::lock_guard guard(mergeLock_);
        merge(found_, own);
    }

    // Once every work() has returned.
    SocketOwners take() { return std::move(found_); }

private:
    // Files of one process for any thread to read.
    struct Batch {
        std::shared_ptr<const Dir> fds;
        uint32_t pid = 0;
        std::vector<uint32_t> numbers;
    };
    // One holder can have tens of thousands of sockets, a pass of its own longer than all the
    // others: its files are shared out in batches rather than left to one thread.
    static constexpr size_t kBatch = 512;

    void scanProcess(uint32_t pid, const std::string& pidName, SocketOwners& own) {
        const std::string path = pidName + "/fd";
        auto fds = std::make_shared<const Dir>(openDirAt(::dirfd(proc_.get()), path.c_str()));
        if (!*fds)
            return; // another user's process, or one that just ended
        const int fdsFd = ::dirfd(fds->get());
        std::vector<uint32_t> numbers;
        while (const dirent* e = ::readdir(fds->get())) {
            if (e->d_name[0] == '.')
                continue;
            if (uint32_t fd; numberName(e->d_name, fd))
                numbers.push_back(fd);
            else if (uint32_t inode; socketAt(fdsFd, e->d_name, inode))
                record(own, all_, inode, pid); // not a number: read where it is
        }
        if (numbers.size() > kBatch) {
            const std::lock_guard guard(batchLock_);
            for (size_t from = kBatch; from < numbers.size(); from += kBatch) {
                const auto first = numbers.begin() + static_cast<std::ptrdiff_t>(from);
                const auto last = numbers.begin() + static_cast<std::ptrdiff_t>(
                                                        std::min(from + kBatch, numbers.size()));
                batches_.push_back({fds, pid, std::vector<uint32_t>(first, last)});
            }
            numbers.resize(kBatch);
        }
        scanFds(fdsFd, pid, numbers, own, all_);
    }

    bool takeBatch(Batch& out) {
        const std::lock_guard guard(batchLock_);
        if (batches_.empty())
            return false;
        out = std::move(batches_.front());
        batches_.pop_front();
        return true;
    }

    SocketOwners asked() {
        const std::lock_guard guard(mergeLock_);
        return found_;
    }

    Dir proc_;
    bool all_;
    std::vector<std::pair<uint32_t, std::string>> pids_;
    std::atomic<size_t> next_{0};
    std::mutex batchLock_;
    std::deque<Batch> batches_;
    std::mutex mergeLock_;
    SocketOwners found_;
};

// One pass into owners, with a helper thread when there are many processes and a second
// core to run it.
void scanAll(const std::string& procRoot, SocketOwners& owners, bool all) {
    ProcessPass pass(procRoot, all, owners);
    constexpr std::size_t splitAbove = 64;
    if (pass.processes() <= splitAbove || std::thread::hardware_concurrency() < 2) {
        pass.work();
        owners = pass.take();
        return;
    }
    // Out of memory on either side must come back as an exception on this thread, after the
    // helper has ended: a joinable thread destroyed, or one unwinding, ends the process.
    std::exception_ptr helperFailure, ownFailure;
    std::thread helper([&] {
        try {
            pass.work();
        } catch (...) {
            helperFailure = std::current_exception();
        }
    });
    try {
        pass.work();
    } catch (...) {
        ownFailure = std::current_exception();
    }
    helper.join();
    if (ownFailure)
        std::rethrow_exception(ownFailure);
    if (helperFailure)
        std::rethrow_exception(helperFailure);
    owners = pass.take();
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

// The last pass over every process, and the one under way in the background, if any.
struct LastPass {
    std::mutex lock;
    std::condition_variable finished;
    bool warming = false;
    pid_t warmer = 0; // the process whose thread warms: a forked child has no such thread
    // The background pass, while processes are left for a thread to join in on, and how
    // many threads work on it; the last to leave publishes it.
    std::shared_ptr<ProcessPass> sharing;
    std::string sharingRoot;
    int sharers = 0;
    bool sharingFailed = false;
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

// Works on the background pass, if it still has processes left. The last thread to leave
// it publishes what it found, or nothing when a thread ran out of memory.
void shareWarmPass(LastPass& last) {
    std::shared_ptr<ProcessPass> pass;
    {
        const std::lock_guard guard(last.lock);
        if (!last.sharing || last.warmer != ::getpid())
            return;
        pass = last.sharing;
        ++last.sharers;
    }
    bool failed = false;
    try {
        pass->work();
    } catch (...) {
        failed = true;
    }
    const std::lock_guard guard(last.lock);
    last.sharingFailed = last.sharingFailed || failed;
    if (--last.sharers > 0 || last.sharing != pass)
        return;
    // Nobody works on it any more and every process was taken.
    if (!last.sharingFailed) {
        last.procRoot = last.sharingRoot;
        last.at = std::chrono::steady_clock::now();
        last.all = pass->take();
    }
    last.sharing.reset();
    last.warming = false;
    last.finished.notify_all();
}

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
    // A pass begun for this listing ahead of it is joined rather than waited for.
    shareWarmPass(last);
    std::unique_lock guard(last.lock);
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
    std::shared_ptr<ProcessPass> pass;
    try {
        // Listed here, so that a listing coming before the thread is ready can join in.
        pass = std::make_shared<ProcessPass>(procRoot, true);
    } catch (...) {
        return; // out of memory: the listing makes its own pass
    }
    {
        const std::lock_guard guard(last.lock);
        if (last.warming && last.warmer == ::getpid())
            return;
        last.warming = true;
        last.warmer = ::getpid();
        last.sharing = pass;
        last.sharingRoot = procRoot;
        last.sharers = 0;
        last.sharingFailed = false;
    }
    const auto give = [&last] {
        // Without a thread of its own the pass is the listing's to make.
        const std::lock_guard guard(last.lock);
        last.sharing.reset();
        last.warming = false;
        last.finished.notify_all();
    };
    try {
        std::thread([&last, first] {
            try {
                if (first)
                    first();
            } catch (...) {
                // out of memory: that read is the caller's again; the pass goes on
            }
            shareWarmPass(last);
        }).detach();
    } catch (...) {
        give();
    }
}

} // namespace corvane::sys
