// What root's Qt may load: no window from a program folder others can write to, no plugin
// folder from the environment that another user could fill, and Qt's own paths fixed inside
// the program whatever qt.conf lies beside it.
#include "shell/pluginpaths.h"

#include "temp_dir.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace corvane;
namespace fs = std::filesystem;

namespace {

constexpr uid_t nobody = 65534;

class PluginPaths : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root: folders of another user are part of every case";
    }
    // A folder of `owner` with `mode` in the test's own folder.
    std::string folder(const std::string& name, mode_t mode, uid_t owner = 0) {
        const fs::path p = dir_.path() / name;
        fs::create_directories(p);
        EXPECT_EQ(::chown(p.c_str(), owner, owner), 0);
        EXPECT_EQ(::chmod(p.c_str(), mode), 0);
        return p.string();
    }
    test::TempDir dir_{"corvane-plugins"};
};

// Sets a variable for one test and puts the old value back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST_F(PluginPaths, RootOpensNoWindowFromAFolderOthersCanWrite) {
    const std::string open = folder("open", 0777);
    const std::string group = folder("group", 0775);
    const std::string own = folder("own", 0755);
    const std::string theirs = folder("theirs", 0755, nobody);
    EXPECT_NE(windowRefusal(open, 0).find("can be written by others"), std::string::npos);
    EXPECT_NE(windowRefusal(group, 0), "");
    EXPECT_NE(windowRefusal(theirs, 0).find("belongs to another user"), std::string::npos);
    EXPECT_NE(windowRefusal(own + "/../open", 0), "") << "the folder is judged after resolving";
    EXPECT_NE(windowRefusal("", 0), "");
    EXPECT_EQ(windowRefusal(own, 0), "");
    // A user's own program is the user's business: nothing there runs with more rights.
    EXPECT_EQ(windowRefusal(open, 1000), "");
}

TEST_F(PluginPaths, OnlyFoldersNobodyElseCanFillStayInTheList) {
    const std::string own = folder("own", 0755);
    const std::string theirs = folder("theirs", 0755, nobody);
    const std::string open = folder("open", 0777);
    const std::string loose = folder("loose", 0755);
    folder("loose/platforms", 0777);
    const std::string below = folder("below", 0755);
    folder("below/platforms", 0755, nobody);
    const std::string tidy = folder("tidy", 0755);
    folder("tidy/platforms", 0755);
    // A link to a good folder is as good, and stands resolved; one into another user's is not.
    fs::create_directory_symlink(own, dir_.path() / "link");
    fs::create_directory_symlink(theirs, dir_.path() / "badlink");

    std::vector<std::string> dropped;
    const std::string list = own + "::" + theirs + ":relative/plugins:" + open + ":" + loose + ":" +
                             below + ":" + dir_.path().string() + "/missing:" + tidy + ":" +
                             (dir_.path() / "link").string() + ":" +
                             (dir_.path() / "badlink").string() + ":";
    EXPECT_EQ(trustedPluginList(list, dropped), own + ":" + tidy + ":" + own);
    ASSERT_EQ(dropped.size(), 7u);
    EXPECT_EQ(dropped[0].rfind(theirs + ": ", 0), 0u) << dropped[0];
    EXPECT_NE(dropped[1].find("not an absolute path"), std::string::npos) << dropped[1];
    EXPECT_EQ(dropped[2].rfind(open + ": ", 0), 0u) << dropped[2];
    EXPECT_NE(dropped[3].find("platforms"), std::string::npos) << dropped[3];
    EXPECT_NE(dropped[4].find("platforms"), std::string::npos) << dropped[4];
    EXPECT_NE(dropped[5].find("missing"), std::string::npos) << dropped[5];
    EXPECT_NE(dropped[6].find("belongs to another user"), std::string::npos) << dropped[6];

    dropped.clear();
    EXPECT_EQ(trustedPluginList("", dropped), "");
    EXPECT_TRUE(dropped.empty());
}

TEST_F(PluginPaths, TheEnvironmentKeepsOnlyTrustedFolders) {
    const std::string own = folder("own", 0755);
    const std::string theirs = folder("theirs", 0755, nobody);
    // A name made to move the cursor on the terminal the warning goes to.
    const std::string sly = folder("sly\x1b[2J", 0777);
    const std::string list = theirs + ":" + own + ":" + sly;
    ScopedEnv plugins("QT_PLUGIN_PATH", list.c_str());
    ScopedEnv platform("QT_QPA_PLATFORM_PLUGIN_PATH", theirs.c_str());

    const std::vector<std::string> lines = dropUntrustedPluginPaths();
    ASSERT_NE(std::getenv("QT_PLUGIN_PATH"), nullptr);
    EXPECT_EQ(std::string(std::getenv("QT_PLUGIN_PATH")), own);
    EXPECT_EQ(std::getenv("QT_QPA_PLATFORM_PLUGIN_PATH"), nullptr);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].rfind("QT_PLUGIN_PATH: left out " + theirs, 0), 0u) << lines[0];
    EXPECT_EQ(lines[1].find('\x1b'), std::string::npos);
    EXPECT_NE(lines[1].find("sly?[2J"), std::string::npos) << lines[1];
    EXPECT_EQ(lines[2].rfind("QT_QPA_PLATFORM_PLUGIN_PATH: left out " + theirs, 0), 0u);

    // Nothing to leave out: the variable stays as it was.
    ::setenv("QT_PLUGIN_PATH", own.c_str(), 1);
    EXPECT_TRUE(dropUntrustedPluginPaths().empty());
    EXPECT_EQ(std::string(std::getenv("QT_PLUGIN_PATH")), own);
}

// Runs `program` and returns what it printed.
std::string output(const std::string& program) {
    std::string text;
    FILE* pipe = ::popen(("'" + program + "' 2>/dev/null").c_str(), "r");
    if (!pipe)
        return text;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe))
        text += buffer;
    EXPECT_EQ(::pclose(pipe), 0) << program;
    return text;
}

TEST(PinnedQtPaths, AQtConfBesideACopiedProgramIsIgnored) {
    test::TempDir dir("corvane-qtconf");
    const fs::path evil = dir.path() / "evil";
    fs::create_directories(evil / "plugins");
    fs::permissions(dir.path(), fs::perms::all);
    const std::string conf =
        "[Paths]\nPrefix=" + evil.string() + "\nPlugins=" + (evil / "plugins").string() + "\n";
    test::spit(dir.path() / "qt.conf", conf);
    test::spit(dir.path() / "qt6.conf", conf);
    for (const char* probe : {PINNED_PROBE, UNPINNED_PROBE})
        fs::copy_file(probe, dir.path() / fs::path(probe).filename());

    const std::string expected = std::string(SYSTEM_QT_PLUGINS) + "\n" SYSTEM_QT_PREFIX "\n";
    EXPECT_EQ(output((dir.path() / fs::path(PINNED_PROBE).filename()).string()), expected);
    EXPECT_EQ(output(PINNED_PROBE), expected);
    // Without the pinned paths the file beside the program would have been obeyed.
    EXPECT_EQ(output((dir.path() / fs::path(UNPINNED_PROBE).filename()).string()),
              (evil / "plugins").string() + "\n" + evil.string() + "\n");
}

} // namespace
