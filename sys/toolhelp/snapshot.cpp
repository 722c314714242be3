// Process snapshot entry points over procfs.
#include "proc_scan.h"
#include "tlhelp32.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <unordered_set>

namespace {

struct Snapshot {
    std::vector<corvane::sys::ProcessInfo> processes;
    size_t next = 0;
};

// Live handles, so that a stale or made-up handle is refused instead of dereferenced.
std::mutex handlesLock;
std::unordered_set<Snapshot*> handles;

Snapshot* lookup(HANDLE h) {
    std::lock_guard lock(handlesLock);
    auto* s = static_cast<Snapshot*>(h);
    return handles.contains(s) ? s : nullptr;
}

std::string procRoot() {
    const char* root = std::getenv("CORVANE_PROC_ROOT");
    return root && *root ? root : "/proc";
}

BOOL fill(Snapshot* s, PROCESSENTRY32* entry) {
    if (!s || !entry || entry->dwSize < sizeof(PROCESSENTRY32))
        return 0;
    if (s->next >= s->processes.size())
        return 0;
    const auto& p = s->processes[s->next++];
    std::memset(entry, 0, sizeof *entry);
    entry->dwSize = sizeof *entry;
    entry->th32ProcessID = p.pid;
    entry->th32ParentProcessID = p.parentPid;
    entry->cntThreads = p.threads;
    const size_t n = std::min(p.exeName.size(), sizeof entry->szExeFile - 1);
    std::memcpy(entry->szExeFile, p.exeName.data(), n);
    return 1;
}

// A failure of any kind is the entry points' plain "no".
template <typename Fn> BOOL guarded(Fn&& fn) noexcept {
    try {
        return fn();
    } catch (...) {
        return 0;
    }
}

} // namespace

extern "C" {

HANDLE CreateToolhelp32Snapshot(DWORD flags, DWORD /*processId*/) {
    if (!(flags & TH32CS_SNAPPROCESS))
        return INVALID_HANDLE_VALUE;
    auto* s = new (std::nothrow) Snapshot;
    if (!s)
        return INVALID_HANDLE_VALUE;
    try {
        s->processes = corvane::sys::scanProcesses(procRoot());
        std::lock_guard lock(handlesLock);
        handles.insert(s);
    } catch (...) {
        // Nothing may unwind into a C caller.
        delete s;
        return INVALID_HANDLE_VALUE;
    }
    return s;
}

BOOL Process32First(HANDLE snapshot, PROCESSENTRY32* entry) {
    return guarded([&] {
        Snapshot* s = lookup(snapshot);
        if (s)
            s->next = 0;
        return fill(s, entry);
    });
}

BOOL Process32Next(HANDLE snapshot, PROCESSENTRY32* entry) {
    return guarded([&] { return fill(lookup(snapshot), entry); });
}

BOOL CloseHandle(HANDLE handle) {
    return guarded([&]() -> BOOL {
        std::lock_guard lock(handlesLock);
        auto* s = static_cast<Snapshot*>(handle);
        if (!handles.erase(s))
            return 0;
        delete s;
        return 1;
    });
}
}
