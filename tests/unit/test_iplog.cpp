// The address log file: when it is written, what goes in, and what it refuses to write into.
#include "hostinfo/iplog.h"
#include "temp_dir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace corvane;
using corvane::test::slurp;
using corvane::test::spit;
using corvane::test::TempDir;

namespace {

const QStringList twoAdapters = {QStringLiteral("07-06-2007 14:05:09,123 eth0: 10.0.0.5 255.0.0.0"),
                                 QStringLiteral("07-06-2007 14:05:09,125 eth1: 10.1.0.1 "
                                                "255.255.0.0")};

TEST(IpAddressLog, BannerOncePerStartThenOnlyChangedPassesAppend) {
    TempDir dir;
    const auto file = dir.path() / kIpLogFileName;
    spit(file, "earlier run\n");
    IpAddressLog log;
    // The first pass writes even when nothing changed since the last run.
    EXPECT_TRUE(log.passFinished(twoAdapters, false, file));
    const std::string first = "earlier run\n\nCorvane Startup\n" + twoAdapters[0].toStdString() +
                              "\n" + twoAdapters[1].toStdString() + "\n";
    EXPECT_EQ(slurp(file), first);
    EXPECT_FALSE(log.passFinished(twoAdapters, false, file));
    EXPECT_EQ(slurp(file), first);
    // A change writes every adapter's line, with no second banner.
    EXPECT_TRUE(log.passFinished(twoAdapters, true, file));
    EXPECT_EQ(slurp(file),
              first + twoAdapters[0].toStdString() + "\n" + twoAdapters[1].toStdString() + "\n");
}

TEST(IpAddressLog, FailedWriteKeepsTheBannerForTheFirstThatSucceeds) {
    TempDir dir;
    const auto file = dir.path() / kIpLogFileName;
    ASSERT_TRUE(std::filesystem::create_directory(file)); // no file can be opened there
    IpAddressLog log;
    EXPECT_FALSE(log.passFinished(twoAdapters, true, file));
    EXPECT_TRUE(log.startupPending());
    std::filesystem::remove(file);
    EXPECT_TRUE(log.passFinished({twoAdapters[0]}, false, file));
    EXPECT_EQ(slurp(file), "\nCorvane Startup\n" + twoAdapters[0].toStdString() + "\n");
    EXPECT_FALSE(log.startupPending());
}

TEST(IpAddressLog, NoAdapterLinesStillBringsTheBanner) {
    TempDir dir;
    const auto file = dir.path() / kIpLogFileName;
    IpAddressLog log;
    EXPECT_TRUE(log.passFinished({}, true, file));
    EXPECT_EQ(slurp(file), "\nCorvane Startup\n");
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST(IpAddressLog, WritesNothingThroughALinkOrIntoAFifo) {
    TempDir dir;
    const auto target = dir.path() / "elsewhere";
    spit(target, "untouched\n");
    const auto link = dir.path() / "link.txt";
    std::filesystem::create_symlink(target, link);
    EXPECT_FALSE(appendToFile(link, "x\n"));
    EXPECT_EQ(slurp(target), "untouched\n");
    const auto dangling = dir.path() / "dangling.txt";
    std::filesystem::create_symlink(dir.path() / "missing", dangling);
    EXPECT_FALSE(appendToFile(dangling, "x\n"));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "missing"));
    // Nobody reads the FIFO: a blocking open would hang here.
    const auto fifo = dir.path() / "fifo.txt";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(appendToFile(fifo, "x\n"));
}

} // namespace
