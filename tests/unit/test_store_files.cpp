// The settings store against what may lie in its folder: links planted where it creates or
// reads files, things that are not regular files, temporary files of killed writers; and
// its cache of the parsed file, which must notice every other writer and stay quick.
#include "registry/store.h"

#include "temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace corvane::reg;

namespace {

using corvane::test::slurp;
using corvane::test::spit;
using corvane::test::TempDir;

void setModified(const fs::path& p, timespec when) {
    const timespec times[2] = {when, when};
    ASSERT_EQ(::utimensat(AT_FDCWD, p.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
}

timespec modified(const fs::path& p) {
    struct stat st {};
    ::lstat(p.c_str(), &st);
    return st.st_mtim;
}

timespec hourAgo() {
    return {std::time(nullptr) - 3600, 123456789};
}

std::set<std::string> namesIn(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        names.insert(e.path().filename().string());
    return names;
}

int waitFor(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

} // namespace

TEST(StoreFiles, NothingIsCreatedOrReadThroughALink) {
    TempDir dir;
    const fs::path file = dir.path() / "machine.reg";
    const fs::path elsewhere = dir.path() / "elsewhere";
    fs::create_symlink(elsewhere, dir.path() / "machine.reg.lock");
    Store store(file);
    try {
        store.open("K", true);
        ADD_FAILURE() << "the lock was taken through a link";
    } catch (const StoreError& e) {
        EXPECT_NE(std::string(e.what()).find("symbolic link"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(elsewhere))) << "the link's target was created";
    fs::remove(dir.path() / "machine.reg.lock");

    // A store file that is a link is neither read nor replaced: its target may be anything.
    const std::string victim = "[K]\n\"secret\" = int:7\n";
    spit(elsewhere, victim);
    fs::create_symlink(elsewhere, file);
    Store linked(file);
    EXPECT_FALSE(linked.open("K", false));
    EXPECT_THROW(linked.open("K\\New", true), StoreError);
    EXPECT_TRUE(fs::is_symlink(file));
    EXPECT_EQ(slurp(elsewhere), victim);
    EXPECT_TRUE(linked.takeEvents().empty());

    // Links on the way to the folder are the folder's owner's choice, and are followed.
    fs::create_directory(dir.path() / "real");
    fs::create_directory_symlink(dir.path() / "real", dir.path() / "via");
    Store viaLink(dir.path() / "via" / "machine.reg");
    ASSERT_TRUE(viaLink.open("K", true));
    EXPECT_TRUE(Store(dir.path() / "real" / "machine.reg").open("K", false));
}

TEST(StoreFiles, OnlyARegularFileOfBoundedSizeIsRead) {
    TempDir dir;
    const fs::path file = dir.path() / "machine.reg";
    ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    // A pipe nobody writes must not hold the reader: a child tries, under an alarm.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::alarm(10);
        Store store(file);
        const bool refused = !store.open("K", false);
        bool threw = false;
        try {
            store.open("K", true);
        } catch (const StoreError&) {
            threw = true;
        }
        ::_exit(refused && threw ? 0 : 1);
    }
    const int status = waitFor(child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    EXPECT_EQ(fs::symlink_status(file).type(), fs::file_type::fifo);

    fs::remove(file);
    spit(file, "; eleven b\n");
    EXPECT_EQ(readWholeFile(file, 11)->text, "; eleven b\n");
    EXPECT_THROW(readWholeFile(file, 10), StoreError);
    EXPECT_FALSE(readWholeFile(dir.path() / "absent"));
}

namespace {

WriteStage killAt;

// Runs a store write in a child that dies at the given stage; the temporary file it left.
fs::path leftoverOfKilledWriter(Store& store, const fs::path& dir, WriteStage stage) {
    const auto before = namesIn(dir);
    killAt = stage;
    const pid_t child = ::fork();
    if (child == 0) {
        setWriteStageHook([](WriteStage s) {
            if (s == killAt)
                ::raise(SIGKILL);
        });
        store.update([](Data& d) { d.makeKey("K").set("v", Value::ofInteger(2)); });
        ::_exit(0);
    }
    EXPECT_TRUE(WIFSIGNALED(waitFor(child)));
    for (const auto& name : namesIn(dir)) {
        if (!before.contains(name))
            return dir / name;
    }
    ADD_FAILURE() << "the killed writer left nothing";
    return {};
}

} // namespace

TEST(StoreFiles, TemporaryFilesOfKilledWritersGoWithTheNextWrite) {
    TempDir dir;
    const fs::path file = dir.path() / "machine.reg";
    Store store(file);
    store.update([](Data& d) { d.makeKey("K").set("v", Value::ofInteger(1)); });
    const fs::path left = leftoverOfKilledWriter(store, dir.path(), WriteStage::HalfWritten);
    const std::string prefix = ".corvane-";
    const std::string name = left.filename().string();
    ASSERT_EQ(name.rfind(prefix, 0), 0u) << name;

    // Beside it: a file named like it of a writer still at work, and one of another user.
    // Both stay.
    const pid_t alive = ::fork();
    if (alive == 0) {
        ::pause();
        ::_exit(0);
    }
    std::string working = name;
    working.replace(prefix.size(), name.find('-', prefix.size()) - prefix.size(),
                    std::to_string(alive));
    std::error_code copiedWorking;
    std::error_code copiedForeign;
    fs::copy_file(left, dir.path() / working, copiedWorking);
    std::string foreign = name;
    const std::size_t lastDigit = foreign.size() - 5;
    foreign[lastDigit] = foreign[lastDigit] == '0' ? '1' : '0';
    fs::copy_file(left, dir.path() / foreign, copiedForeign);
    const int owned = ::chown((dir.path() / foreign).c_str(), 65534, 65534);

    store.update([](Data& d) { d.makeKey("K").set("v", Value::ofInteger(3)); });
    ::kill(alive, SIGKILL);
    waitFor(alive);
    ASSERT_FALSE(copiedWorking);
    ASSERT_FALSE(copiedForeign);
    ASSERT_EQ(owned, 0);
    const auto names = namesIn(dir.path());
    EXPECT_FALSE(names.contains(name));
    EXPECT_TRUE(names.contains(working));
    EXPECT_TRUE(names.contains(foreign));
    EXPECT_EQ(store.open("K", false)->readInteger("v"), 3);
}

TEST(StoreCache, TheFileIsParsedAgainOnlyWhenItIsAnother) {
    TempDir dir;
    const fs::path file = dir.path() / "machine.reg";
    const timespec old = hourAgo();
    spit(file, "[K]\n\"v\" = int:1\n");
    setModified(file, old);
    Store store(file);
    const auto key = store.open("K", false);
    ASSERT_TRUE(key);
    EXPECT_EQ(key->readInteger("v"), 1);

    // Changed in place with size and time kept, it is the same file to the store: proof
    // that what was parsed is reused.
    spit(file, "[K]\n\"v\" = int:2\n");
    setModified(file, old);
    EXPECT_EQ(key->readInteger("v"), 1);
    // Any change of the time shows, down to the nanosecond.
    setModified(file, {old.tv_sec, old.tv_nsec + 1});
    EXPECT_EQ(key->readInteger("v"), 2);

    // Another file of the same size and time in its place.
    const fs::path other = dir.path() / "other";
    spit(other, "[K]\n\"v\" = int:3\n");
    setModified(other, modified(file));
    fs::rename(other, file);
    EXPECT_EQ(key->readInteger("v"), 3);

    // Another process's write.
    const pid_t child = ::fork();
    if (child == 0) {
        Store(file).open("K", false)->writeInteger("v", 4);
        ::_exit(0);
    }
    ASSERT_TRUE(WIFEXITED(waitFor(child)));
    EXPECT_EQ(key->readInteger("v"), 4);

    // A file changed so recently that a change within the same clock tick would not move its
    // time is not trusted to be the same.
    spit(file, "[K]\n\"v\" = int:5\n");
    const timespec recent = modified(file);
    EXPECT_EQ(key->readInteger("v"), 5);
    spit(file, "[K]\n\"v\" = int:6\n");
    setModified(file, recent);
    EXPECT_EQ(key->readInteger("v"), 6);

    fs::remove(file);
    EXPECT_EQ(key->readInteger("v"), std::nullopt);
}

namespace {

double secondsOf(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

// Bounds for a sanitized debug build on a shared machine; bench/storeload.cpp has figures.
TEST(StoreCache, BigFilesLoadInTimeLinearInTheirSize) {
    TempDir dir;
    const fs::path file = dir.path() / "machine.reg";
    std::string text;
    for (int i = 0; i < 10000; ++i)
        text += "[Key " + std::to_string(i) + "]\n";
    text += "\"v\" = int:1\n";
    spit(file, text);
    setModified(file, hourAgo());
    Store store(file);
    std::optional<Key> key;
    EXPECT_LT(secondsOf([&] { key = store.open("key 9999", false); }), 2.0);
    ASSERT_TRUE(key);
    // As many reads as one status report makes.
    EXPECT_LT(secondsOf([&] {
                  for (int i = 0; i < 25; ++i)
                      EXPECT_EQ(key->readInteger("v"), 1);
              }),
              0.5);

    text = "[Big]\n\"v\" = str:\"" + std::string(std::size_t{32} << 20, 'x') + "\\n\"\n";
    spit(file, text);
    setModified(file, hourAgo());
    EXPECT_LT(secondsOf([&] { key = store.open("Big", false); }), 5.0);
    EXPECT_LT(secondsOf([&] {
                  for (int i = 0; i < 25; ++i)
                      EXPECT_TRUE(key->valueExists("v"));
              }),
              0.5);
    EXPECT_EQ(key->readString("v")->size(), (std::size_t{32} << 20) + 1);
}
