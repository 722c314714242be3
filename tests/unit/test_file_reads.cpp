// Reading files that another process names or plants: a link, a FIFO, a device, a file of
// another user or one that never ends is neither read nor allowed to hold the reader.
#include "dhcp/dhclient.h"
#include "foreign_file.h"
#include "roots.h"
#include "temp_dir.h"

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace corvane::sys;
namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;
// Only a hang fails on time: these reads would otherwise block for ever or read without end.
constexpr auto kHang = std::chrono::seconds(10);

void write(const fs::path& path, const std::string& content, mode_t mode = 0644) {
    std::ofstream(path, std::ios::binary) << content;
    ::chmod(path.c_str(), mode);
}

} // namespace

TEST(ForeignFiles, OnlyOwnRegularFilesNoOneElseMayWriteUnderTheCap) {
    const corvane::test::TempDir tmp("corvane-foreign");
    const fs::path& dir = tmp.path();
    const std::string lease =
        R"(lease { interface "eth0"; fixed-address 10.0.0.5; expire never; })";
    write(dir / "ok", lease);
    const auto file = readForeignFile(dir / "ok", 1024);
    ASSERT_TRUE(file);
    EXPECT_EQ(file->content, lease);
    struct stat st = {};
    ASSERT_EQ(::stat((dir / "ok").c_str(), &st), 0);
    EXPECT_EQ(file->modified.tv_sec, st.st_mtim.tv_sec);
    EXPECT_EQ(file->modified.tv_nsec, foreignFileTime(dir / "ok")->tv_nsec);
    ASSERT_TRUE(dhcp::dhclient::readLease(dir / "ok", "eth0"));
    EXPECT_TRUE(readForeignFile(dir / "ok", lease.size()));

    fs::create_symlink(dir / "ok", dir / "link");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    write(dir / "group", lease, 0664);
    write(dir / "others", lease, 0646);
    const std::vector<std::string> refused = {(dir / "link").string(),
                                              (dir / "fifo").string(),
                                              (dir / "group").string(),
                                              (dir / "others").string(),
                                              dir.string(),
                                              "/dev/zero",
                                              "/dev/null",
                                              "",
                                              "/nonexistent"};
    std::vector<std::string> unowned;
    if (::geteuid() == 0) {
        write(dir / "nobody", lease);
        ASSERT_EQ(::chown((dir / "nobody").c_str(), 65534, 65534), 0);
        unowned.push_back((dir / "nobody").string());
    }
    for (const auto& lists : {refused, unowned})
        for (const std::string& path : lists) {
            SCOPED_TRACE(path);
            const auto t0 = Clock::now();
            EXPECT_FALSE(readForeignFile(path, 1024));
            EXPECT_FALSE(foreignFileTime(path));
            EXPECT_FALSE(dhcp::dhclient::readLease(path, "eth0"));
            EXPECT_LT(Clock::now() - t0, kHang);
        }
    // Too big is refused whole, not read in part.
    EXPECT_FALSE(readForeignFile(dir / "ok", lease.size() - 1));
}

TEST(FileReads, ProcfsReadToItsEndDevicesAndFifosStopAtOnce) {
    // procfs reports a size of 0.
    std::string text;
    ASSERT_TRUE(readFile("/proc/self/status", text));
    EXPECT_NE(text.find("\nUid:"), std::string::npos);

    const auto t0 = Clock::now();
    EXPECT_FALSE(readFile("/dev/zero", text));
    EXPECT_TRUE(text.empty());
    EXPECT_LT(Clock::now() - t0, kHang);

    // A FIFO whose writer never writes.
    const corvane::test::TempDir tmp("corvane-reads");
    const std::string fifo = (tmp.path() / "fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int writer = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(writer, 0);
    EXPECT_FALSE(readFile(fifo, text));
    ::close(writer);

    write(tmp.path() / "exact", std::string(100, 'x'));
    EXPECT_TRUE(readFile(tmp.path() / "exact", text, 100));
    EXPECT_EQ(text.size(), 100u);
    EXPECT_FALSE(readFile(tmp.path() / "exact", text, 99));
}
