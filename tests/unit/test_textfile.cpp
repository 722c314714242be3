// Writing a report to a path someone else may have prepared: links planted in its place,
// pipes without a reader, devices, the standard output behind /dev/stdout; and the file's
// mode and name length.
#include "report/textfile.h"

#include "temp_dir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace corvane;

namespace {

using corvane::test::slurp;
using corvane::test::spit;
using corvane::test::TempDir;

const QByteArray report("IP Information for host test\n");

bool write(const fs::path& p, QString* error = nullptr) {
    QString ignored;
    return writeWholeFile(QString::fromStdString(p.string()), report, error ? *error : ignored);
}

mode_t modeOf(const fs::path& p) {
    struct stat st {};
    ::lstat(p.c_str(), &st);
    return st.st_mode & 07777;
}

// Runs the work in a child under an alarm, so that a write that would block for ever fails
// the test instead of holding it; the child's exit status.
int inChild(const std::function<int()>& work) {
    const pid_t child = ::fork();
    if (child == 0) {
        ::alarm(10);
        ::_exit(work());
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace

TEST(ReportFile, ALinkInThePlaceOfTheFileIsReplacedNotFollowed) {
    TempDir dir;
    // A shared folder as /tmp is, and links in it that another user planted.
    const fs::path shared = dir.path() / "shared";
    fs::create_directory(shared);
    fs::permissions(shared, fs::perms::all | fs::perms::sticky_bit);
    const fs::path victim = dir.path() / "passwd";
    spit(victim, "root:x:0:0::/root:/bin/sh\n");
    ::chmod(victim.c_str(), 0600);
    const fs::path absent = dir.path() / "profile.d" / "corvane.sh";
    fs::create_directory(absent.parent_path());
    const std::pair<fs::path, fs::path> links[] = {{shared / "r.txt", victim},
                                                   {shared / "dangling.txt", absent},
                                                   {dir.path() / "own.txt", victim}};
    for (const auto& [link, target] : links) {
        SCOPED_TRACE(link);
        fs::create_symlink(target, link);
        ASSERT_EQ(::lchown(link.c_str(), 65534, 65534), 0);
        ASSERT_TRUE(write(link));
        EXPECT_FALSE(fs::is_symlink(link));
        EXPECT_EQ(slurp(link), report.toStdString());
        EXPECT_EQ(slurp(victim), "root:x:0:0::/root:/bin/sh\n");
        EXPECT_EQ(modeOf(victim), 0600u);
        EXPECT_FALSE(fs::exists(absent));
    }
}

TEST(ReportFile, KeepsTheModeOfAFileReplacedAndFitsAnyNameLength) {
    TempDir dir;
    const mode_t savedMask = ::umask(027);
    const fs::path fresh = dir.path() / "fresh.txt";
    const fs::path kept = dir.path() / "kept.txt";
    spit(kept, "old");
    ::chmod(kept.c_str(), 0604);
    const fs::path longName = dir.path() / std::string(250, 'r');
    const bool wroteFresh = write(fresh);
    const bool wroteKept = write(kept);
    const bool wroteLong = write(longName);
    ::umask(savedMask);

    ASSERT_TRUE(wroteFresh);
    EXPECT_EQ(modeOf(fresh), 0640u) << "0644 under the umask";
    ASSERT_TRUE(wroteKept);
    EXPECT_EQ(modeOf(kept), 0604u);
    EXPECT_EQ(slurp(kept), report.toStdString());
    ASSERT_TRUE(wroteLong);
    EXPECT_EQ(slurp(longName), report.toStdString());
    for (const auto& e : fs::directory_iterator(dir.path()))
        EXPECT_EQ(e.path().filename().string().find(".corvane-"), std::string::npos);

    QString error;
    EXPECT_FALSE(write(dir.path() / "missing" / "r.txt", &error));
    EXPECT_EQ(error, QStringLiteral("No such file or directory"));
}

// Root writing a report over a file that another user left in a folder both can write: the
// report is root's now, and must not keep the world-writable mode that user chose.
TEST(ReportFile, AFileAnotherUserOwnsLendsNotItsMode) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to be the user whose report replaces another's file";
    TempDir dir;
    ::chmod(dir.path().c_str(), 0711);
    const fs::path shared = dir.path() / "shared";
    fs::create_directory(shared);
    ::chmod(shared.c_str(), 0777);
    const fs::path planted = shared / "report.txt";
    const int made = inChild([&] {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            return 120;
        ::umask(0);
        const int fd = ::open(planted.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
        return fd >= 0 && ::close(fd) == 0 ? 0 : 1;
    });
    ASSERT_EQ(made, 0);
    ASSERT_EQ(modeOf(planted), 0666u);

    const mode_t savedMask = ::umask(022);
    const bool wrote = write(planted);
    ::umask(savedMask);
    ASSERT_TRUE(wrote);
    struct stat st {};
    ASSERT_EQ(::lstat(planted.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_EQ(st.st_mode & 07777, 0644u) << "a new file's mode, not the one planted";
    EXPECT_EQ(slurp(planted), report.toStdString());
}

TEST(ReportFile, PipesAndHarmlessDevicesAreWrittenInPlaceOtherDevicesRefused) {
    TempDir dir;
    const fs::path fifo = dir.path() / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // Nobody reads: an error at once rather than a wait for ever.
    EXPECT_EQ(inChild([&] {
                  QString error;
                  return !write(fifo, &error) && error.contains(QStringLiteral("reading")) ? 0 : 1;
              }),
              0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    EXPECT_TRUE(write(fifo));
    char got[128] = {};
    EXPECT_EQ(::read(reader, got, sizeof got), report.size());
    EXPECT_EQ(QByteArray(got), report);
    ::close(reader);
    EXPECT_EQ(fs::symlink_status(fifo).type(), fs::file_type::fifo);

    const fs::path toNull = dir.path() / "null";
    fs::create_symlink("/dev/null", toNull);
    EXPECT_TRUE(write("/dev/null"));
    EXPECT_TRUE(write(toNull));
    EXPECT_TRUE(fs::is_symlink(toNull));

    // A device that is no sink nor terminal is neither opened nor replaced, through a link
    // or not.
    const fs::path toRandom = dir.path() / "random";
    fs::create_symlink("/dev/random", toRandom);
    QString error;
    EXPECT_FALSE(write(toRandom, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("device"))) << error.toStdString();
    EXPECT_TRUE(fs::is_symlink(toRandom));
    EXPECT_FALSE(write("/dev/random"));
    EXPECT_EQ(fs::symlink_status("/dev/random").type(), fs::file_type::character);
    // Nor is anything created among the device nodes.
    const fs::path inDev = "/dev/corvane-report-test";
    EXPECT_FALSE(write(inDev));
    EXPECT_FALSE(fs::exists(fs::symlink_status(inDev)));
    fs::remove(inDev);
}

TEST(ReportFile, TheStandardOutputThroughALinkIsTheStreamItself) {
    TempDir dir;
    const fs::path out = dir.path() / "stdout.txt";
    spit(out, "");
    const fs::path link = dir.path() / "stdout";
    fs::create_symlink("/proc/self/fd/1", link);
    std::fflush(stdout);
    const int saved = ::dup(STDOUT_FILENO);
    const int file = ::open(out.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    ::dup2(file, STDOUT_FILENO);
    const bool written = write(link);
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    ::close(file);
    EXPECT_TRUE(written);
    EXPECT_EQ(slurp(out), report.toStdString());
    EXPECT_TRUE(fs::is_symlink(link));
}

// A text written while it is made: a file is replaced only when every piece reached it, and
// a failure on the way is reported, never a half file as a success.
TEST(ReportFile, PiecesReplaceTheFileOnlyWhenAllWereWritten) {
    TempDir dir;
    const fs::path file = dir.path() / "r.txt";
    const QString path = QString::fromStdString(file.string());
    spit(file, "old report\n");
    const auto pieces = [](int count) {
        return [count](const BytesOut& put) {
            for (int i = 0; i < count; ++i)
                put(std::string(1000, static_cast<char>('a' + i % 26)) + "\n");
        };
    };
    QString error;
    ASSERT_TRUE(writeFileInPieces(path, pieces(3), error)) << error.toStdString();
    EXPECT_EQ(slurp(file), std::string(1000, 'a') + "\n" + std::string(1000, 'b') + "\n" +
                               std::string(1000, 'c') + "\n");

    // The disk fills up half way (a file size limit stands in for it).
    spit(file, "old report\n");
    const int status = inChild([&] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit small{4096, 4096};
        if (::setrlimit(RLIMIT_FSIZE, &small) != 0)
            return 3;
        QString why;
        const bool written = writeFileInPieces(path, pieces(20), why);
        return written ? 1 : why.isEmpty() ? 2 : 0;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(slurp(file), "old report\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);

    // A maker that fails leaves the old file and no temporary one.
    EXPECT_THROW(writeFileInPieces(
                     path,
                     [](const BytesOut& put) {
                         put("half a report");
                         throw std::runtime_error("out of memory");
                     },
                     error),
                 std::runtime_error);
    EXPECT_EQ(slurp(file), "old report\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);

    // In place: a device that refuses writes fails the whole text, and later pieces are
    // dropped.
    int calls = 0;
    error.clear();
    EXPECT_FALSE(writeFileInPieces(
        QStringLiteral("/dev/full"),
        [&](const BytesOut& put) {
            for (int i = 0; i < 3; ++i)
                calls += put("line\n") ? 1 : 0;
        },
        error));
    EXPECT_EQ(calls, 0);
    EXPECT_FALSE(error.isEmpty());
}
