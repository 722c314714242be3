// The program's own files: beside the executable in a build folder, else in the installed
// folders relative to it; a folder others can write to is never used.
#include "platform/installpaths.h"
#include "platform/iphelper.h"

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
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

// The folder itself is not enough: its owner and every folder above it decide who could swap it.
TEST_F(InstallPaths, AFolderIsTrustedOnlyWithItsOwnerAndTheFoldersAbove) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to give a folder to another user";
    ::chmod(root_.c_str(), 0755);
    std::string why;
    EXPECT_TRUE(trustedFolder(bin(), &why)) << why;
    ASSERT_EQ(::chown(bin().c_str(), 65534, 65534), 0);
    EXPECT_FALSE(trustedFolder(bin(), &why));
    EXPECT_NE(why.find("belongs to another user"), std::string::npos) << why;
    ASSERT_EQ(::chown(bin().c_str(), 0, 0), 0);
    // A parent others may write to lets them rename the folder away and put theirs there...
    ::chmod(root_.c_str(), 0777);
    EXPECT_FALSE(trustedFolder(bin(), &why));
    EXPECT_NE(why.find(root_.string()), std::string::npos) << why;
    // ...unless its sticky bit keeps them from renaming what is not theirs, as in /tmp.
    ::chmod(root_.c_str(), 01777);
    EXPECT_TRUE(trustedFolder(bin(), &why)) << why;
    EXPECT_TRUE(trustedFolder(bin() + "/../bin", &why)) << why;
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

// What another user does: work run as nobody in a child; its exit status.
int asNobody(const std::function<int()>& work) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(120);
        ::umask(0);
        ::_exit(work());
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Root started with another user's environment (sudo -E) and a library it names: loaded only
// when nobody but root or the caller could have put it there or changed it.
TEST_F(InstallPaths, CodeNamedFromOutsideOnlyWhereNobodyElseCouldPutIt) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to be the user another one tries to lend code";
    ::chmod(root_.c_str(), 0755);
    const fs::path lib = root_ / "lib/corvane/libours.so";
    fs::copy_file(REAL_IPHLPAPI, lib);
    ::chmod(lib.c_str(), 0755);
    std::string why;
    EXPECT_EQ(trustedCodeFile(lib.string(), why), lib.string()) << why;
    // A link to it is followed here, once: what is loaded is the file checked.
    fs::create_symlink(lib, root_ / "link.so");
    EXPECT_EQ(trustedCodeFile((root_ / "link.so").string(), why), lib.string()) << why;
    // Missing in a folder of ours: loading it fails, nobody else can create it.
    EXPECT_EQ(trustedCodeFile((root_ / "no/such.so").string(), why),
              (root_ / "no/such.so").string());

    // The other user's folder, their library, their link, and a folder all may write to.
    const fs::path theirs = root_ / "theirs";
    const fs::path shared = root_ / "shared";
    fs::create_directory(theirs);
    ASSERT_EQ(::chown(theirs.c_str(), 65534, 65534), 0);
    fs::create_directory(shared);
    ::chmod(shared.c_str(), 01777);
    ASSERT_EQ(asNobody([&] {
                  const std::string copy =
                      "cp " + std::string(REAL_IPHLPAPI) + " " + (theirs / "lib.so").string() +
                      " && cp " + REAL_IPHLPAPI + " " + (shared / "lib.so").string() +
                      " && ln -s " + lib.string() + " " + (theirs / "link.so").string();
                  return std::system(copy.c_str()) == 0 ? 0 : 1;
              }),
              0);
    fs::copy_file(REAL_IPHLPAPI, shared / "roots.so");
    fs::copy_file(REAL_IPHLPAPI, root_ / "writable.so");
    ::chmod((root_ / "writable.so").c_str(), 0757);
    fs::copy_file(REAL_IPHLPAPI, theirs / "planted.so");
    const std::pair<fs::path, std::string> refused[] = {
        {theirs / "lib.so", "belongs to another user"},
        {shared / "lib.so", "belongs to another user"},
        {shared / "roots.so", "can be written by others"},
        {root_ / "writable.so", "can be written by others"},
        {theirs / "planted.so", "belongs to another user"},
        {theirs / "absent.so", "belongs to another user"},
        {shared / "absent.so", "can be written by others"},
        {root_ / "lib", "not a regular file"},
        {"lib/corvane/libours.so", "not an absolute path"},
    };
    for (const auto& [path, reason] : refused) {
        SCOPED_TRACE(path);
        why.clear();
        EXPECT_EQ(trustedCodeFile(path.string(), why), "");
        EXPECT_NE(why.find(reason), std::string::npos) << why;
    }
    // Their link to our library leads to a file they cannot change: that file is loaded.
    EXPECT_EQ(trustedCodeFile((theirs / "link.so").string(), why), lib.string()) << why;

    // The program itself: the other user's library is passed over for the installed one.
    ::setenv("CORVANE_IPHLPAPI_LIB", (theirs / "lib.so").c_str(), 1);
    const LibraryPaths paths = LibraryPaths::standard();
    ::unsetenv("CORVANE_IPHLPAPI_LIB");
    EXPECT_EQ(paths.ipHelper, privateLibrary("libcorvane-iphlpapi.so"));
}

} // namespace
