// The program's own files: beside the executable in a build folder, else in the installed
// folders relative to it; a folder others can write to is never used.
#include "platform/installpaths.h"
#include "platform/iphelper.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace corvane;
namespace fs = std::filesystem;

namespace {

class InstallPaths : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("corvane-paths-" + std::to_string(::getpid()));
        fs::remove_all(root_);
        fs::create_directories(bin());
        fs::create_directories(root_ / "lib/corvane");
        fs::permissions(bin(), fs::perms::owner_all | fs::perms::group_read |
                                   fs::perms::group_exec | fs::perms::others_read |
                                   fs::perms::others_exec);
    }
    void TearDown() override { fs::remove_all(root_); }
    std::string bin() const { return (root_ / "bin").string(); }
    static void touch(const fs::path& p) { std::ofstream(p) << "x"; }
    fs::path root_;
};

TEST_F(InstallPaths, BesideTheExecutableFirstThenTheInstalledFolder) {
    const std::string installed = bin() + "/../lib/corvane/libx.so";
    EXPECT_EQ(ownFile(bin(), "../lib/corvane", "libx.so"), installed);
    EXPECT_EQ(ownFile(bin(), "/opt/corvane/lib/", "libx.so"), "/opt/corvane/lib/libx.so");
    touch(bin() + "/libx.so");
    EXPECT_EQ(ownFile(bin(), "../lib/corvane", "libx.so"), bin() + "/libx.so");
    // A folder of that name beside it is not the file.
    fs::create_directory(bin() + "/liby.so");
    EXPECT_EQ(ownFile(bin(), "../lib/corvane", "liby.so"), bin() + "/../lib/corvane/liby.so");
}

TEST_F(InstallPaths, AFolderOthersCanWriteIsPassedOver) {
    touch(bin() + "/libx.so");
    EXPECT_TRUE(trustedFolder(bin()));
    for (const fs::perms extra : {fs::perms::group_write, fs::perms::others_write}) {
        fs::permissions(bin(), extra, fs::perm_options::add);
        EXPECT_FALSE(trustedFolder(bin()));
        EXPECT_EQ(ownFile(bin(), "../lib/corvane", "libx.so"), bin() + "/../lib/corvane/libx.so");
        fs::permissions(bin(), extra, fs::perm_options::remove);
    }
    EXPECT_FALSE(trustedFolder("/tmp"));
    EXPECT_FALSE(trustedFolder(bin() + "/libx.so"));
    EXPECT_FALSE(trustedFolder(bin() + "/missing"));
}

TEST(InstallPathsOfThisBuild, TheTestsFindTheBuildFolderFiles) {
    const std::string dir = executableDir();
    EXPECT_EQ(privateLibrary("libcorvane-iphlpapi.so"), dir + "/libcorvane-iphlpapi.so");
    EXPECT_EQ(dataFile("zorvent.hlp"), dir + "/zorvent.hlp");
    // Not beside it: the installed folder, which this build does not have.
    EXPECT_EQ(privateLibrary("absent.so"), "");
}

// No path, no library: dlopen("") would be the program itself, whose symbols must not be bound.
TEST(InstallPathsOfThisBuild, AnUntrustedLibraryIsNotBound) {
    IpHelper table;
    EXPECT_TRUE(table.bind(true, {"", ""}).base);
    EXPECT_FALSE(table.ipHelperLoaded());
    EXPECT_FALSE(table.GetIfTable);
    EXPECT_TRUE(table.bind(true, {REAL_IPHLPAPI, ""}).snapshot);
    EXPECT_FALSE(table.Process32First);
}

} // namespace
