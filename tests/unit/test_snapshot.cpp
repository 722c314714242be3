// The process snapshot: parsing procfs and walking the snapshot through the library.
#include "platform/iphelper.h"
#include "proc_scan.h"

#include <QTemporaryDir>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace corvane;

TEST(ProcStat, ParsesFieldsAroundAwkwardNames) {
    struct {
        const char* text;
        bool ok;
        uint32_t pid, ppid, threads;
        const char* name;
    } cases[] = {
        {"42 (sshd) S 1 42 42 0 -1 4194560 1 0 0 0 0 0 0 0 20 0 3 0 100 1 1", true, 42, 1, 3,
         "sshd"},
        {"7 (a b) c)) R 2 7 7 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 0 0 0", true, 7, 2, 1, "a b) c)"},
        {"9 () S 1 9 9 0 -1 0 0 0 0 0 0 0 0 0 20 0 12 0", true, 9, 1, 12, ""},
        {"9 (x) S 1 9", false, 0, 0, 0, nullptr},
        {"abc (x) S 1 9 9 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0", false, 0, 0, 0, nullptr},
        {"", false, 0, 0, 0, nullptr},
        {")(", false, 0, 0, 0, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        sys::ProcessInfo p;
        ASSERT_EQ(sys::parseProcStat(c.text, p), c.ok);
        if (!c.ok)
            continue;
        EXPECT_EQ(p.pid, c.pid);
        EXPECT_EQ(p.parentPid, c.ppid);
        EXPECT_EQ(p.threads, c.threads);
        EXPECT_EQ(p.exeName, c.name);
    }
}

TEST(ProcScan, ReadsABuiltTreeSkippingWhatIsNotAProcess) {
    QTemporaryDir root;
    auto write = [&](const std::string& rel, const std::string& text) {
        const std::string path = root.path().toStdString() + "/" + rel;
        ::mkdir(path.substr(0, path.rfind('/')).c_str(), 0755);
        std::ofstream(path) << text;
    };
    write("300/stat", "300 (worker) S 1 0 0 0 -1 0 0 0 0 0 0 0 0 0 20 0 4 0 0");
    write("20/stat", "20 (init) S 0 0 0 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 0");
    write("55/stat", "garbage");
    write("self/stat", "1 (self) S 0 0 0 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 0");
    ::mkdir((root.path().toStdString() + "/77").c_str(), 0755); // vanished: no stat
    const auto list = sys::scanProcesses(root.path().toStdString());
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].pid, 20u);
    EXPECT_EQ(list[0].exeName, "init");
    EXPECT_EQ(list[1].pid, 300u);
    EXPECT_EQ(list[1].threads, 4u);
    EXPECT_TRUE(sys::scanProcesses("/nonexistent").empty());
}

TEST(Snapshot, FindsThisProcessAndRefusesBadHandles) {
    // The snapshot is only loaded after a loadable IP Helper library; any library serves.
    IpHelper snap;
    snap.bind(true, {REAL_TOOLHELP, REAL_TOOLHELP});
    ASSERT_TRUE(snap.CreateToolhelp32Snapshot);
    HANDLE h = snap.CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    PROCESSENTRY32 e{};
    e.dwSize = sizeof e;
    bool found = false;
    int count = 0;
    for (BOOL ok = snap.Process32First(h, &e); ok; ok = snap.Process32Next(h, &e)) {
        ++count;
        if (e.th32ProcessID == static_cast<DWORD>(::getpid())) {
            found = true;
            EXPECT_STREQ(e.szExeFile, "test_snapshot");
            EXPECT_EQ(e.th32ParentProcessID, static_cast<DWORD>(::getppid()));
        }
    }
    EXPECT_TRUE(found);
    EXPECT_GT(count, 1);
    // First starts the walk again.
    ASSERT_TRUE(snap.Process32First(h, &e));
    // A short record is refused rather than overrun.
    e.dwSize = 100;
    EXPECT_FALSE(snap.Process32Next(h, &e));
    EXPECT_TRUE(snap.CloseHandle(h));
    // Closed and made-up handles are refused.
    e.dwSize = sizeof e;
    EXPECT_FALSE(snap.Process32First(h, &e));
    EXPECT_FALSE(snap.CloseHandle(h));
    int dummy = 0;
    EXPECT_FALSE(snap.Process32First(&dummy, &e));
    EXPECT_EQ(snap.CreateToolhelp32Snapshot(0, 0), INVALID_HANDLE_VALUE);
}
