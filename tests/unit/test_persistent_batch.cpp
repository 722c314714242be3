// Storing and removing many persistent route names at once: one store write, the same rules
// per name as one at a time, and a failed write shown once.
#include "recording_prompter.h"
#include "registry/location.h"
#include "routing/persistentroutes.h"
#include "session/machinestore.h"
#include "temp_dir.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <sys/inotify.h>
#include <unistd.h>
#include <vector>

using namespace corvane;

namespace {

class PersistentBatch : public ::testing::Test {
protected:
    PersistentBatch() {
        if (const char* cfg = std::getenv(reg::kConfigDirVariable))
            saved = cfg;
        ::setenv(reg::kConfigDirVariable, dir.path().c_str(), 1);
        resetMachineStore();
    }
    ~PersistentBatch() override {
        if (saved)
            ::setenv(reg::kConfigDirVariable, saved->c_str(), 1);
        else
            ::unsetenv(reg::kConfigDirVariable);
        resetMachineStore();
    }

    // Counts the times the store file is replaced while f runs.
    template <typename F> int writesDuring(F&& f) {
        const int fd = ::inotify_init1(IN_NONBLOCK);
        EXPECT_GE(fd, 0);
        EXPECT_GE(::inotify_add_watch(fd, dir.path().c_str(), IN_MOVED_TO | IN_CLOSE_WRITE), 0);
        f();
        int writes = 0;
        alignas(inotify_event) char buf[64 * (sizeof(inotify_event) + NAME_MAX + 1)];
        for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) {
            for (ssize_t at = 0; at < n;) {
                const auto* e = reinterpret_cast<const inotify_event*>(buf + at);
                if (e->len && std::string(e->name) == reg::kMachineStoreFile)
                    ++writes;
                at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
            }
        }
        ::close(fd);
        return writes;
    }
    static std::vector<std::string> names(int count, int first = 0) {
        std::vector<std::string> out;
        for (int i = first; i < first + count; ++i)
            out.push_back("10." + std::to_string(i / 256) + "." + std::to_string(i % 256) +
                          ".0,255.255.255.0,192.168.1.1,1");
        return out;
    }

    test::TempDir dir;
    test::RecordingPrompter prompts;
    std::optional<std::string> saved;
};

TEST_F(PersistentBatch, ManyNamesGoInOneWriteWithTheSingleNameRules) {
    ASSERT_TRUE(SetPersistent("10.0.0.0,255.255.255.0,192.168.1.1,1", true));
    std::vector<std::string> batch = names(2000);
    batch[0] = "10.0.0.0,255.255.255.0,192.168.1.1,1";          // stored already: not twice
    batch.emplace_back("10.0.5.0,255.255.255.0,192.168.1.1,1"); // a duplicate line of the list
    batch.emplace_back("10.0.6.0,255.255.255.0,0.0.0.0,1");     // would come back on-link
    batch.emplace_back("10.0.7.0,255.255.255.0,192.168.1.1");   // no metric: no route
    bool result = true;
    EXPECT_EQ(writesDuring([&] { result = SetPersistent(batch, true); }), 1);
    EXPECT_FALSE(result) << "names were left out";

    std::vector<std::string> stored = ReadPersistentRouteNames();
    ASSERT_EQ(stored.size(), 2000U);
    EXPECT_EQ(stored, names(2000)) << "in the list's order, after what was there";
    EXPECT_FALSE(IsPersistent("10.0.6.0,255.255.255.0,0.0.0.0,1"));
    EXPECT_TRUE(prompts.messages.empty());

    // Nothing new: no write at all, and every name taken.
    EXPECT_EQ(writesDuring([&] { result = SetPersistent(names(10), true); }), 0);
    EXPECT_TRUE(result);
}

// Written as the list loader takes it, a name is stored in the one text of its route: the
// text its row shows, and the text the helper stores.
TEST_F(PersistentBatch, NamesAreStoredInTheTextTheirRowShows) {
    EXPECT_TRUE(SetPersistent("10.061.0.0,255.255.0.0,192.168.001.1,07", true));
    std::vector<RefusedRouteName> refused;
    EXPECT_FALSE(SetPersistent(
        {"010.062.0.0,255.255.0.0,192.168.1.1,1", "10.63.0.0,255.255.0.0,0.0.0.0,1",
         "10.64.0.1,255.255.0.0,1.1.1.1,1", "10.65.0.0,255.255.0.0,192.168.1.1,4294967295"},
        true, &refused));
    EXPECT_EQ(ReadPersistentRouteNames(),
              (std::vector<std::string>{"10.61.0.0,255.255.0.0,192.168.1.1,7",
                                        "10.62.0.0,255.255.0.0,192.168.1.1,1",
                                        "10.65.0.0,255.255.0.0,192.168.1.1,-1"}));
    ASSERT_EQ(refused.size(), 2U);
    EXPECT_EQ(refused[0].name, "10.63.0.0,255.255.0.0,0.0.0.0,1");
    EXPECT_EQ(refused[0].fault, reg::RouteNameFault::NoGateway);
    EXPECT_EQ(refused[1].fault, reg::RouteNameFault::HostBits);
    EXPECT_TRUE(IsPersistent("10.61.0.0,255.255.0.0,192.168.1.1,7"));
    // Removal takes the name as stored, whatever it looks like.
    EXPECT_TRUE(SetPersistent("10.61.0.0,255.255.0.0,192.168.1.1,7", false));
    EXPECT_FALSE(IsPersistent("10.61.0.0,255.255.0.0,192.168.1.1,7"));
}

TEST_F(PersistentBatch, RemovalIgnoresLetterCaseAndLeavesTheOthers) {
    ASSERT_TRUE(SetPersistent(names(300), true));
    std::vector<std::string> gone = names(100, 100);
    for (std::string& name : gone)
        std::transform(name.begin(), name.end(), name.begin(), ::toupper);
    gone.emplace_back("not,a,route"); // removal takes any name, as one at a time
    bool result = false;
    EXPECT_EQ(writesDuring([&] { result = SetPersistent(gone, false); }), 1);
    EXPECT_TRUE(result);
    std::vector<std::string> want = names(100);
    const std::vector<std::string> rest = names(100, 200);
    want.insert(want.end(), rest.begin(), rest.end());
    EXPECT_EQ(ReadPersistentRouteNames(), want);
    // Names no longer stored: nothing to write.
    EXPECT_EQ(writesDuring([&] { SetPersistent(gone, false); }), 0);
}

TEST_F(PersistentBatch, AnEmptyBatchStillCreatesTheKey) {
    EXPECT_EQ(writesDuring([] { EXPECT_TRUE(SetPersistent(std::vector<std::string>{}, false)); }),
              1);
    std::string failure;
    EXPECT_TRUE(ReadPersistentRouteNames(&failure).empty());
    EXPECT_TRUE(failure.empty());
    EXPECT_TRUE(machineStore().open(persistentRoutesKey, false).has_value());
}

TEST_F(PersistentBatch, AStoreThatCannotBeWrittenIsShownOnce) {
    // A folder where the store file should be: it can be neither read nor replaced.
    std::filesystem::create_directory(dir.path() / reg::kMachineStoreFile);
    EXPECT_FALSE(SetPersistent(names(50), true));
    ASSERT_EQ(prompts.messages.size(), 1U);
    EXPECT_EQ(prompts.messages[0].caption, "Error");
    EXPECT_TRUE(prompts.messages[0].text.startsWith("The settings could not be saved."));
}

} // namespace

// IPv6 routes and routes of other tables go under the second key, in the one text of their
// route; the first key's section stays byte for byte what it was.
TEST_F(PersistentBatch, WideNamesGoUnderTheirOwnKeyAndLeaveTheFirstAsItWas) {
    ASSERT_TRUE(SetPersistent(names(3), true));
    const auto firstSection = [] {
        const auto data = machineStore().snapshot();
        reg::Data only;
        for (const auto& [name, value] : data->findKey(persistentRoutesKey)->values)
            only.makeKey(persistentRoutesKey).set(name, value);
        return reg::serialize(only);
    };
    const std::string before = firstSection();
    std::vector<RefusedRouteName> refused;
    bool result = true;
    EXPECT_EQ(writesDuring([&] {
                  result = SetPersistent({"INET6,2001:DB8:5:0::/64,FE80::1,0,254,dv0",
                                          "inet,10.98.0.0/16,10.9.0.254,81,100,dv0",
                                          "inet,10.97.0.0/16,10.9.0.254,81,254,dv0", // main
                                          "inet6,2001:db8:6::1/64,::,7,100,dv0",     // host bits
                                          "10.0.9.0,255.255.255.0,192.168.1.1,1"},
                                         true, &refused);
              }),
              1);
    EXPECT_FALSE(result);
    EXPECT_EQ(ReadWidePersistentRouteNames(),
              (std::vector<std::string>{"inet6,2001:db8:5::/64,fe80::1,1024,254,dv0",
                                        "inet,10.98.0.0/16,10.9.0.254,81,100,dv0"}));
    ASSERT_EQ(refused.size(), 2U);
    EXPECT_EQ(refused[0].wideFault, reg::WideRouteFault::FirstKey);
    EXPECT_EQ(refused[1].wideFault, reg::WideRouteFault::HostBits);
    std::vector<std::string> first = names(3);
    first.emplace_back("10.0.9.0,255.255.255.0,192.168.1.1,1");
    EXPECT_EQ(ReadPersistentRouteNames(), first);
    EXPECT_TRUE(IsPersistent("inet6,2001:db8:5::/64,fe80::1,1024,254,dv0"));
    EXPECT_TRUE(IsPersistent("INET6,2001:db8:5::/64,fe80::1,1024,254,DV0"))
        << "as the store compares";

    // Forgetting a wide name leaves the first key alone, and the other wide name.
    ASSERT_TRUE(SetPersistent("10.0.9.0,255.255.255.0,192.168.1.1,1", false));
    EXPECT_EQ(firstSection(), before);
    EXPECT_TRUE(SetPersistent("inet6,2001:db8:5::/64,fe80::1,1024,254,dv0", false));
    EXPECT_EQ(ReadWidePersistentRouteNames(),
              std::vector<std::string>{"inet,10.98.0.0/16,10.9.0.254,81,100,dv0"});
    EXPECT_EQ(firstSection(), before);
}
