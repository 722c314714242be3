// The registry stand-in: text form, case-blind names, typed reads, persistence, corrupt
// files, the folder choice, and what concurrent and killed writers leave behind.
#include "registry/location.h"
#include "registry/store.h"

#include "temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <random>
#include <sstream>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace corvane::reg;

namespace {

using corvane::test::slurp;
using corvane::test::spit;
using corvane::test::TempDir;

std::vector<fs::path> filesStartingWith(const fs::path& dir, const std::string& prefix) {
    std::vector<fs::path> out;
    for (const auto& e : fs::directory_iterator(dir)) {
        if (e.path().filename().string().starts_with(prefix))
            out.push_back(e.path());
    }
    return out;
}

} // namespace

TEST(StoreFormat, NamesAndTextsSurviveTheRoundTrip) {
    const std::vector<std::string> awkward = {
        "",
        "plain",
        "with \"quotes\"",
        "back\\slash\\",
        "a = b",
        "line\nnext",
        "tab\tcr\r",
        std::string("nul\0x", 5),
        "\x01\x1f\x7f",
        "Grüße ✓",
        "[not a section]",
        "; not a comment",
        "int:5",
    };
    Data data;
    KeyData& key = data.makeKey("Software\\Test");
    for (std::size_t i = 0; i < awkward.size(); ++i) {
        key.set("s" + std::to_string(i) + awkward[i], Value::ofString(awkward[i]));
        key.set("i" + std::to_string(i) + awkward[i],
                Value::ofInteger(static_cast<std::int32_t>(i) - 1));
    }
    key.set("min", Value::ofInteger(INT32_MIN));
    key.set("max", Value::ofInteger(INT32_MAX));
    data.makeKey("SYSTEM\\Empty key");

    ParseError error;
    const auto back = parse(serialize(data), &error);
    ASSERT_TRUE(back) << "line " << error.line << ": " << error.message;
    ASSERT_EQ(back->keys().size(), 2u);
    EXPECT_EQ(back->keys()[0].values, key.values);
    EXPECT_TRUE(back->keyExists("system\\EMPTY KEY"));
}

TEST(StoreFormat, RejectsWhatIsNotAStore) {
    struct Case {
        const char* text;
        int line;
    };
    const Case cases[] = {
        {"\"a\" = int:1\n", 1},               // value before any section
        {"[K]\n\"a\" = int:2147483648\n", 2}, // beyond 32 bits
        {"[K]\n\"a\" = int:12x\n", 2},
        {"[K]\n\"a\" = int:\n", 2},
        {"[K]\n\"a\" = dword:1\n", 2},    // unknown type
        {"[K]\n\"a\" = str:\"open\n", 2}, // unterminated
        {"[K]\n\"a\" = str:\"x\" trailing\n", 2},
        {"[K]\n\"a\\q\" = int:1\n", 2},                   // unknown escape
        {"[K]\n\"a\\x4\" = int:1\n", 2},                  // short hex escape
        {"[K]\n\"Name\" = int:1\n\"NAME\" = int:2\n", 3}, // one name twice, case-blind
        {"[K\n", 1},
        {"[a\\\\b]\n", 1},          // empty path component
        {"[K]\nname = int:1\n", 2}, // unquoted name
    };
    for (const Case& c : cases) {
        ParseError error;
        EXPECT_FALSE(parse(c.text, &error)) << c.text;
        EXPECT_EQ(error.line, c.line) << c.text << " -> " << error.message;
    }
    // Comments, blank lines, spacing and CRLF endings are fine.
    EXPECT_TRUE(parse("; c\n# c\n\n  [K]  \r\n\"a\"=int:-5\r\n\"b\" =   str:\"x\"\n"));
}

TEST(StoreKeys, CaseBlindKeysAndValuesKeepTheirFirstSpelling) {
    TempDir dir;
    Store store(dir.path() / "machine.reg");
    auto key = store.open("Software\\halvern\\zorvent", true);
    ASSERT_TRUE(key);
    key->writeInteger("Log IP Addresses", 1);
    key->writeInteger("log ip ADDRESSES", 0); // the same value
    key->writeString("Text", "abc");

    auto other = store.open("SOFTWARE\\HALVERN\\ZORVENT", false);
    ASSERT_TRUE(other);
    EXPECT_EQ(other->readInteger("Log IP addresses"), 0);
    EXPECT_EQ(other->valueNames(), (std::vector<std::string>{"Log IP Addresses", "Text"}));

    // Wrong type and missing values are read failures, not zero or empty.
    EXPECT_EQ(other->readInteger("Text"), std::nullopt);
    EXPECT_EQ(other->readString("Log IP Addresses"), std::nullopt);
    EXPECT_EQ(other->readInteger("absent"), std::nullopt);
    EXPECT_FALSE(other->valueExists("absent"));
    EXPECT_EQ(other->readString("text"), "abc");

    EXPECT_TRUE(other->deleteValue("TEXT"));
    EXPECT_FALSE(other->deleteValue("TEXT"));
    EXPECT_EQ(key->readString("Text"), std::nullopt);
}

TEST(StoreKeys, OpenCreatesOnlyWhenAskedAndKeysNest) {
    TempDir dir;
    const fs::path file = dir.path() / "machine.reg";
    Store store(file);
    EXPECT_FALSE(store.open("Software\\halvern\\zorvent", false));
    EXPECT_FALSE(fs::exists(file)) << "opening without creating must not write";

    ASSERT_TRUE(store.open("A\\B\\C", true));
    ASSERT_TRUE(store.open("A\\B\\D", true));
    ASSERT_TRUE(store.open("A\\X", true));
    EXPECT_TRUE(store.open("a\\b", false)) << "a parent of a key exists";
    EXPECT_EQ(store.open("A", false)->subkeys(), (std::vector<std::string>{"B", "X"}));
    EXPECT_EQ(store.open("A\\B", false)->subkeys(), (std::vector<std::string>{"C", "D"}));
    EXPECT_FALSE(store.open("", true));

    EXPECT_TRUE(store.deleteKey("a\\B"));
    EXPECT_FALSE(store.open("A\\B\\C", false));
    EXPECT_TRUE(store.open("A\\X", false));
    EXPECT_FALSE(store.deleteKey("A\\B"));
}

TEST(StoreKeys, ValuesPersistAcrossReopening) {
    TempDir dir;
    const fs::path file = dir.path() / "machine.reg";
    {
        Store store(file);
        auto key = store.open("Software\\halvern\\zorvent", true);
        key->writeInteger("Width", -731);
        key->writeString("Path", "C:\\x \"y\"\n");
    }
    Store again(file);
    auto key = again.open("software\\halvern\\zorvent", false);
    ASSERT_TRUE(key);
    EXPECT_EQ(key->readInteger("width"), -731);
    EXPECT_EQ(key->readString("path"), "C:\\x \"y\"\n");
    EXPECT_TRUE(filesStartingWith(dir.path(), ".corvane-").empty());
}

TEST(StoreFormat, ADamagedTextKeepsEveryLineThatCanBeRead) {
    const std::string text = "\"orphan\" = int:1\n"
                             "[Software\\halvern\\zorvent]\n"
                             "\"Auto update\" = int:1\n"
                             "\"Width\" = int:yes\n"
                             "\"Height\" = int:460\n"
                             "\"HEIGHT\" = int:7\n"
                             "[a\\\\b]\n"
                             "\"lost\" = int:1\n"
                             "[SYSTEM\\Routes]\n"
                             "\"10.0.0.0,255.0.0.0,10.1.1.1,1\" = str:\"\"\n";
    const TolerantParse read = parseTolerantly(text);
    std::vector<int> lines;
    for (const ParseError& e : read.unreadable)
        lines.push_back(e.line);
    EXPECT_EQ(lines, (std::vector<int>{1, 4, 6, 7, 8}));
    EXPECT_NE(read.unreadable[2].message.find("line 5"), std::string::npos); // the one kept
    EXPECT_NE(read.unreadable[4].message.find("line 7"), std::string::npos); // its section
    const KeyData* settings = read.data.findKey("software\\halvern\\zorvent");
    ASSERT_TRUE(settings);
    EXPECT_EQ(settings->find("Auto update")->integer, 1);
    EXPECT_EQ(settings->find("Height")->integer, 460);
    EXPECT_EQ(settings->find("Width"), nullptr);
    ASSERT_TRUE(read.data.findKey("SYSTEM\\Routes"));
    EXPECT_EQ(read.data.findKey("SYSTEM\\Routes")->values.size(), 1u);
    EXPECT_FALSE(read.data.keyExists("a"));

    const std::string listed = unreadableLinesText(read.unreadable, 2);
    EXPECT_EQ(listed.rfind("line 1: value outside a section; line 4: ", 0), 0u) << listed;
    EXPECT_TRUE(listed.ends_with("; and 3 more")) << listed;
}

TEST(StoreFailures, ADamagedFileIsCopiedAsideOnceAndOnlyItsBadLinesAreLost) {
    TempDir dir;
    const fs::path file = dir.path() / "machine.reg";
    const std::string damaged = "[Software\\halvern\\zorvent]\n\"Auto update\" = int:yes\n"
                                "\"Width\" = int:731\n[SYSTEM\\Routes]\n\"1,2,3,4\" = str:\"\"\n";
    spit(file, damaged);

    Store store(file);
    auto key = store.open("Software\\halvern\\zorvent", false);
    ASSERT_TRUE(key);
    EXPECT_EQ(key->readInteger("Width"), 731);
    EXPECT_EQ(key->readInteger("Auto update"), std::nullopt);
    EXPECT_TRUE(store.open("SYSTEM\\Routes", false)->valueExists("1,2,3,4"));
    const auto events = store.takeEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].file, file);
    ASSERT_EQ(events[0].unreadable.size(), 1u);
    EXPECT_EQ(events[0].unreadable[0].line, 2);
    EXPECT_TRUE(events[0].copyFailure.empty());
    EXPECT_TRUE(events[0].keptAs.filename().string().starts_with("machine.reg.corrupt-"));
    EXPECT_EQ(slurp(events[0].keptAs), damaged);
    // Reading leaves the file as it was, for whoever reads it next.
    EXPECT_EQ(slurp(file), damaged);

    // Read again, here or by another process, it is the same damage with the same copy.
    EXPECT_EQ(key->readInteger("Width"), 731);
    EXPECT_TRUE(store.takeEvents().empty());
    Store other(file);
    EXPECT_EQ(other.open("Software\\halvern\\zorvent", false)->readInteger("Width"), 731);
    const auto again = other.takeEvents();
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0].keptAs, events[0].keptAs);
    EXPECT_EQ(filesStartingWith(dir.path(), "machine.reg.corrupt-").size(), 1u);

    // The next write keeps what could be read; the copy holds the rest, made again when it
    // was removed meanwhile.
    fs::remove(events[0].keptAs);
    key->writeInteger("Auto update", 1);
    EXPECT_TRUE(parse(slurp(file)));
    EXPECT_EQ(key->readInteger("Auto update"), 1);
    EXPECT_EQ(key->readInteger("Width"), 731);
    EXPECT_TRUE(store.open("SYSTEM\\Routes", false)->valueExists("1,2,3,4"));
    const auto copies = filesStartingWith(dir.path(), "machine.reg.corrupt-");
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_EQ(slurp(copies[0]), damaged);
    store.takeEvents();

    // Another damaged file in the same second gets its own copy.
    spit(file, "junk\n");
    EXPECT_EQ(key->readInteger("Auto update"), std::nullopt);
    const auto second = store.takeEvents();
    ASSERT_EQ(second.size(), 1u);
    EXPECT_NE(second[0].keptAs, copies[0]);
    EXPECT_EQ(slurp(second[0].keptAs), "junk\n");
    EXPECT_EQ(slurp(copies[0]), damaged);
}

TEST(StoreFailures, AFileThatCannotBeReadIsNotReplaced) {
    TempDir dir;
    const fs::path file = dir.path() / "machine.reg";
    fs::create_directory(file); // opens, but every read fails
    Store store(file);
    EXPECT_FALSE(store.open("K", false));
    EXPECT_THROW(store.open("K", true), StoreError);
    EXPECT_TRUE(fs::is_directory(file));
    EXPECT_TRUE(store.takeEvents().empty());
}

TEST(StoreLocation, ChoosesOverrideThenMachineFolderThenUserFolder) {
    TempDir dir;
    const char* savedConfig = std::getenv(kConfigDirVariable);
    const std::string savedConfigValue = savedConfig ? savedConfig : "";
    const char* savedXdg = std::getenv("XDG_CONFIG_HOME");
    const std::string savedXdgValue = savedXdg ? savedXdg : "";
    ::setenv("XDG_CONFIG_HOME", (dir.path() / "home-config").c_str(), 1);

    ::setenv(kConfigDirVariable, (dir.path() / "override").c_str(), 1);
    auto loc = locateMachineStore(dir.path() / "etc-corvane");
    EXPECT_EQ(loc.folder, dir.path() / "override");
    EXPECT_FALSE(loc.fellBack);
    EXPECT_TRUE(fs::is_directory(loc.folder));

    ::unsetenv(kConfigDirVariable);
    loc = locateMachineStore(dir.path() / "etc-corvane");
    EXPECT_EQ(loc.folder, dir.path() / "etc-corvane");
    EXPECT_FALSE(loc.fellBack);

    // A folder that cannot be made (its parent is a file) stands for one we may not write;
    // running as root, permissions alone would not refuse us.
    spit(dir.path() / "plainfile", "x");
    loc = locateMachineStore(dir.path() / "plainfile" / "corvane");
    EXPECT_TRUE(loc.fellBack);
    EXPECT_EQ(loc.refusedFolder, dir.path() / "plainfile" / "corvane");
    EXPECT_FALSE(loc.reason.empty());
    EXPECT_EQ(loc.folder, dir.path() / "home-config" / "corvane");
    EXPECT_TRUE(fs::is_directory(loc.folder));

    if (savedConfig)
        ::setenv(kConfigDirVariable, savedConfigValue.c_str(), 1);
    if (savedXdg)
        ::setenv("XDG_CONFIG_HOME", savedXdgValue.c_str(), 1);
    else
        ::unsetenv("XDG_CONFIG_HOME");
}

namespace {

// Many values all carrying one generation number: a torn write would mix generations.
void writeGeneration(Store& store, int generation, int values) {
    store.update([&](Data& d) {
        d.eraseKey("Big");
        KeyData& k = d.makeKey("Big");
        k.values.emplace_back("generation", Value::ofInteger(generation));
        for (int i = 0; i < values; ++i) {
            k.values.emplace_back(
                "value " + std::to_string(i),
                Value::ofString(std::string(40, 'x') + std::to_string(generation)));
        }
    });
}

int waitFor(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

// The generation a store holds, after checking that every value carries it.
int completeGeneration(const fs::path& file, int values) {
    const std::string text = slurp(file);
    ParseError error;
    const auto data = parse(text, &error);
    if (!data) {
        ADD_FAILURE() << "line " << error.line << ": " << error.message;
        return -1;
    }
    const KeyData* key = data->findKey("Big");
    if (!key || key->values.size() != static_cast<std::size_t>(values) + 1) {
        ADD_FAILURE() << "the key or some of its values are missing";
        return -1;
    }
    const int generation = key->values.front().second.integer;
    const std::string expected = std::string(40, 'x') + std::to_string(generation);
    for (std::size_t i = 1; i < key->values.size(); ++i) {
        if (key->values[i].second.text != expected) {
            ADD_FAILURE() << key->values[i].first << " is of another generation";
            return -1;
        }
    }
    return generation;
}

WriteStage deathStage;

} // namespace

TEST(StoreCrashSafety, DeathAtEachStageOfAWriteKeepsOneWholeContent) {
    struct Case {
        WriteStage stage;
        int survivor; // generation found afterwards
    };
    const Case cases[] = {{WriteStage::Created, 0},
                          {WriteStage::HalfWritten, 0},
                          {WriteStage::Flushed, 0},
                          {WriteStage::Renamed, 1}};
    for (const Case& c : cases) {
        TempDir dir;
        const fs::path file = dir.path() / "machine.reg";
        Store store(file);
        writeGeneration(store, 0, 500);
        deathStage = c.stage;
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            setWriteStageHook([](WriteStage s) {
                if (s == deathStage)
                    ::raise(SIGKILL);
            });
            writeGeneration(store, 1, 500);
            ::_exit(0);
        }
        ASSERT_TRUE(WIFSIGNALED(waitFor(child)));
        EXPECT_EQ(completeGeneration(file, 500), c.survivor) << static_cast<int>(c.stage);
        // The next writer is not blocked by the dead one's lock or its leftovers, and clears
        // them away.
        writeGeneration(store, 2, 500);
        EXPECT_EQ(completeGeneration(file, 500), 2);
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir.path()))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{"machine.reg", "machine.reg.lock"}));
    }
}

TEST(StoreCrashSafety, AKilledWriterLeavesTheOldOrTheNewContent) {
    TempDir dir;
    const fs::path file = dir.path() / "machine.reg";
    constexpr int kValues = 3000; // a few hundred kilobytes: a write takes a while
    {
        Store store(file);
        writeGeneration(store, 0, kValues);
    }
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> delayUs(0, 40000);
    int lastSeen = 0;
    for (int round = 0; round < 10; ++round) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            Store store(file);
            for (int g = 1;; ++g)
                writeGeneration(store, lastSeen + g, kValues);
        }
        ::usleep(static_cast<useconds_t>(delayUs(random)));
        ::kill(child, SIGKILL);
        const int status = waitFor(child);
        ASSERT_TRUE(WIFSIGNALED(status));

        const int generation = completeGeneration(file, kValues);
        ASSERT_GE(generation, lastSeen) << "round " << round;
        lastSeen = generation;
    }
    Store store(file);
    EXPECT_TRUE(store.open("Big", false));
    EXPECT_TRUE(store.takeEvents().empty());
}

TEST(StoreConcurrency, TwoWritersLoseNoUpdate) {
    TempDir dir;
    const fs::path file = dir.path() / "machine.reg";
    constexpr int kRounds = 60;
    std::vector<pid_t> children;
    for (int w = 0; w < 2; ++w) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            Store store(file);
            const std::string own = "writer " + std::to_string(w);
            for (int i = 0; i < kRounds; ++i) {
                store.update([&](Data& d) {
                    KeyData& k = d.makeKey("Counter");
                    const Value* v = k.find("count");
                    k.set("count", Value::ofInteger(v ? v->integer + 1 : 1));
                    k.set(own + " " + std::to_string(i), Value::ofInteger(i));
                });
            }
            ::_exit(0);
        }
        children.push_back(child);
    }
    for (const pid_t c : children) {
        const int status = waitFor(c);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    Store store(file);
    auto key = store.open("Counter", false);
    ASSERT_TRUE(key);
    EXPECT_EQ(key->readInteger("count"), 2 * kRounds);
    EXPECT_EQ(key->valueNames().size(), static_cast<std::size_t>(2 * kRounds + 1));
}

// Anyone who could open the lock file could hold it and freeze every writer, the privileged
// helper among them: the file is its owner's alone, and a held lock fails a write in bounded
// time.
TEST(StoreConcurrency, AHeldLockFailsAWriteInBoundedTimeAndOnlyItsOwnerMayOpenIt) {
    TempDir dir;
    const fs::path file = dir.path() / "machine.reg";
    const fs::path lock = dir.path() / "machine.reg.lock";
    spit(lock, "");
    fs::permissions(lock, fs::perms(0644));
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t holder = ::fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        const int fd = ::open(lock.c_str(), O_RDONLY);
        if (fd < 0 || ::flock(fd, LOCK_EX) != 0)
            ::_exit(1);
        (void)!::write(ready[1], "x", 1);
        ::sleep(20);
        ::_exit(0);
    }
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    Store store(file);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(store.update([](Data& d) { d.makeKey("Held"); }), StoreError);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, kLockWait - std::chrono::milliseconds(100));
    EXPECT_LT(waited, kLockWait + std::chrono::seconds(3));
    ::kill(holder, SIGKILL);
    waitFor(holder);
    ::close(ready[0]);
    ::close(ready[1]);

    store.update([](Data& d) { d.makeKey("Free"); });
    EXPECT_TRUE(store.open("Free", false));
    EXPECT_EQ(fs::status(lock).permissions() & fs::perms::mask,
              fs::perms::owner_read | fs::perms::owner_write);
    fs::remove(lock);
    store.update([](Data& d) { d.makeKey("Again"); });
    EXPECT_EQ(fs::status(lock).permissions() & (fs::perms::group_all | fs::perms::others_all),
              fs::perms::none);
}
