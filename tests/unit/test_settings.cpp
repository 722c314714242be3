// The option load/save algorithms over a plain record, the start-up entry, and how the
// program reports what happened to its store.
#include "recording_prompter.h"
#include "registry/location.h"
#include "session/autostart.h"
#include "session/machinestore.h"
#include "session/settingslogic.h"

#include "temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace fs = std::filesystem;
using namespace corvane;
using enum Option;

namespace {

using corvane::test::slurp;
using corvane::test::TempDir;

// The dialog's behaviour without widgets: every box starts unchecked; a change of "Auto run"
// runs what cbxAutoRunClick does.
class MapRecord : public OptionRecord {
public:
    bool option(Option o) const override {
        const auto it = values.find(o);
        return it != values.end() && it->second;
    }
    void setOption(Option o, bool on) override {
        const bool was = option(o);
        values[o] = on;
        ++sets[o];
        if (o == AutoRun && was != on) {
            minimizedEnabled = on;
            changed = true;
        }
    }
    void setMinimizedEnabled(bool enabled) override { minimizedEnabled = enabled; }
    int storedWidth() const override { return width; }
    int storedHeight() const override { return height; }
    void setStoredSize(int w, int h) override {
        width = w;
        height = h;
    }
    bool autoRunChanged() const override { return changed; }
    int mainWindowWidth() const override { return 800; }
    int mainWindowHeight() const override { return 555; }

    std::map<Option, bool> values;
    std::map<Option, int> sets;
    bool minimizedEnabled = false;
    bool changed = false;
    int width = 0;
    int height = 0;
};

const std::map<Option, bool> kExpectedDefaults = {
    {AutoUpdate, true},        {AutoSaveSize, false},    {AutoExpand, false},
    {ColoredTables, true},     {IgnoreLocalhost, true},  {IgnoreBroadcasts, false},
    {OverwriteReport, true},   {Toolbar, true},          {NoErrorMessages, false},
    {AutoRun, false},          {Minimized, false},       {ResolvePorts, false},
    {ResolveAddresses, false}, {EstablishedOnly, false}, {RemoveDeadAddresses, true},
};

void expectDefaults(const MapRecord& r) {
    for (const auto& [o, on] : kExpectedDefaults)
        EXPECT_EQ(r.option(o), on) << valueName(o);
}

class SettingsTest : public ::testing::Test {
protected:
    SettingsTest() : store(dir.path() / "machine.reg") {
        const char* xdg = std::getenv("XDG_CONFIG_HOME");
        savedXdg = xdg ? std::optional<std::string>(xdg) : std::nullopt;
        ::setenv("XDG_CONFIG_HOME", (dir.path() / "xdg").c_str(), 1);
    }
    ~SettingsTest() override {
        if (savedXdg)
            ::setenv("XDG_CONFIG_HOME", savedXdg->c_str(), 1);
        else
            ::unsetenv("XDG_CONFIG_HOME");
    }
    reg::Key settingsKey() { return *store.open(kSettingsKey, true); }

    // A store holding the opposite of every default, so that a return to defaults shows.
    void storeNonDefaults(bool autoSaveSize) {
        MapRecord r;
        for (const auto& [o, on] : kExpectedDefaults)
            r.values[o] = !on;
        r.values[AutoSaveSize] = autoSaveSize;
        r.values[IpLogging] = true;
        r.values[ShowInactiveRoutes] = false;
        r.setStoredSize(1000, 700);
        saveSettings(r, store, false, "/opt/corvane/bin/corvane");
    }

    TempDir dir;
    reg::Store store;
    std::optional<std::string> savedXdg;
};

} // namespace

TEST_F(SettingsTest, FirstRunWritesDefaultsThenLoadsThem) {
    MapRecord r;
    EXPECT_FALSE(loadSettings(r, store));
    expectDefaults(r);
    reg::Key key = settingsKey();
    EXPECT_EQ(key.readInteger("Width"), 800);
    EXPECT_EQ(key.readInteger("Height"), 555);

    EXPECT_TRUE(loadSettings(r, store));
    expectDefaults(r);
    // Never written by the defaults, and read with their fixed meaning.
    for (const char* name :
         {"Log IP Addresses", "Show incactive persistent routes", "Ignore Oper Status",
          "Close immediately", "Show IPv6", "Show all routing tables"})
        EXPECT_FALSE(key.valueExists(name)) << name;
    EXPECT_FALSE(r.option(IpLogging));
    EXPECT_TRUE(r.option(ShowInactiveRoutes));
    EXPECT_FALSE(r.option(IgnoreOperStatus));
    // Options that came later: an older store lacks them and keeps its other values.
    EXPECT_TRUE(r.option(ShowIpv6));
    EXPECT_FALSE(r.option(AllRoutingTables));
    EXPECT_EQ(r.width, 0) << "the size is read only with Auto save size on";
}

TEST_F(SettingsTest, SavedOptionsLoadBack) {
    storeNonDefaults(true);
    settingsKey().writeInteger("Ignore Oper Status", 1);
    settingsKey().writeInteger("Auto expand tree", -7); // any non-zero integer is true
    MapRecord r;
    ASSERT_TRUE(loadSettings(r, store));
    for (const auto& [o, on] : kExpectedDefaults) {
        if (o != AutoSaveSize) {
            EXPECT_EQ(r.option(o), !on) << valueName(o);
        }
    }
    EXPECT_TRUE(r.option(IpLogging)) << "the loader's spelling differs only in case";
    EXPECT_FALSE(r.option(ShowInactiveRoutes));
    EXPECT_TRUE(r.option(IgnoreOperStatus));
    EXPECT_EQ(r.width, 1000);
    EXPECT_EQ(r.height, 700);
    EXPECT_TRUE(r.minimizedEnabled);
}

TEST_F(SettingsTest, AnyUnreadableValueReturnsEveryOptionToItsDefault) {
    struct Case {
        const char* what;
        bool autoSaveSize;
        std::function<void(reg::Key&)> damage;
    };
    const Case cases[] = {
        {"Remove Dead IP Addresses missing", false,
         [](reg::Key& k) { k.deleteValue("Remove Dead IP Addresses"); }},
        {"Auto update missing", false, [](reg::Key& k) { k.deleteValue("auto update"); }},
        {"Toolbar holds a string", false, [](reg::Key& k) { k.writeString("Toolbar", "1"); }},
        {"Width missing with Auto save size on", true, [](reg::Key& k) { k.deleteValue("Width"); }},
        {"Height missing with Auto save size on", true,
         [](reg::Key& k) { k.deleteValue("Height"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        store.deleteKey(kSettingsKey);
        storeNonDefaults(c.autoSaveSize);
        reg::Key key = settingsKey();
        c.damage(key);

        MapRecord r;
        EXPECT_FALSE(loadSettings(r, store));
        expectDefaults(r);
        MapRecord again;
        EXPECT_TRUE(loadSettings(again, store));
        expectDefaults(again);
        EXPECT_EQ(key.readInteger("Width"), 800);
    }
    // Width without "Auto save size" is never read, so its absence harms nothing.
    store.deleteKey(kSettingsKey);
    storeNonDefaults(false);
    settingsKey().deleteValue("Width");
    MapRecord r;
    EXPECT_TRUE(loadSettings(r, store));
    EXPECT_TRUE(r.option(Minimized));
}

TEST_F(SettingsTest, SizeOnlySaveWritesTheSizeAndNothingElse) {
    MapRecord r;
    loadSettings(r, store);
    loadSettings(r, store);
    r.values[Toolbar] = false;
    r.values[AutoRun] = true;
    r.changed = true;
    r.setStoredSize(640, 480);
    saveSettings(r, store, true, "/usr/bin/corvane");
    EXPECT_EQ(settingsKey().readInteger("Width"), 800) << "Auto save size is off";

    r.values[AutoSaveSize] = true;
    saveSettings(r, store, true, "/usr/bin/corvane");
    EXPECT_EQ(settingsKey().readInteger("Width"), 640);
    EXPECT_EQ(settingsKey().readInteger("Height"), 480);
    EXPECT_EQ(settingsKey().readInteger("Toolbar"), 1);
    EXPECT_EQ(settingsKey().readInteger("Auto save size"), 0);
    EXPECT_FALSE(store.open(kStartupListKey, false)) << "the start-up entry is not a size";
}

TEST_F(SettingsTest, StartupEntryIsWrittenOnlyAfterAutoRunChangedAndDisabledNotRemoved) {
    const std::string exe = "/opt/cor vane/corvane";
    MapRecord r;
    r.values[AutoRun] = true;
    saveSettings(r, store, false, exe);
    EXPECT_FALSE(store.open(kStartupListKey, false));
    EXPECT_FALSE(fs::exists(autostartFile()));

    r.changed = true;
    saveSettings(r, store, false, exe);
    auto run = store.open(kStartupListKey, false);
    ASSERT_TRUE(run);
    EXPECT_EQ(run->readString("Corvane"), exe + " -a");
    EXPECT_EQ(autostartFile(), dir.path() / "xdg" / "autostart" / "corvane.desktop");
    std::string entry = slurp(autostartFile());
    EXPECT_NE(entry.find("Exec=\"/opt/cor vane/corvane\" -a\n"), std::string::npos) << entry;
    EXPECT_EQ(entry.find("Hidden="), std::string::npos);

    r.values[AutoRun] = false;
    saveSettings(r, store, false, exe);
    EXPECT_EQ(run->readString("corvane"), "REM " + exe + " -a");
    entry = slurp(autostartFile());
    EXPECT_NE(entry.find("Hidden=true\n"), std::string::npos) << entry;
    EXPECT_NE(entry.find("Exec="), std::string::npos);
}

TEST(DesktopEntry, ExecQuotesWhatTheLauncherWouldSplitOrExpand) {
    struct Case {
        const char* path;
        const char* exec;
    };
    const Case cases[] = {
        {"/usr/bin/corvane", "Exec=/usr/bin/corvane -a\n"},
        {"/opt/my apps/corvane", "Exec=\"/opt/my apps/corvane\" -a\n"},
        // Inside quotes " ` $ \ take a backslash, which the string escaping doubles again.
        {"/opt/a\"b$c/corvane", "Exec=\"/opt/a\\\\\"b\\\\$c/corvane\" -a\n"},
        {"/opt/a\\b/corvane", "Exec=\"/opt/a\\\\\\\\b/corvane\" -a\n"},
        {"/opt/100%/corvane", "Exec=/opt/100%%/corvane -a\n"},
    };
    for (const Case& c : cases) {
        const std::string entry = desktopEntry(c.path, true);
        EXPECT_NE(entry.find(c.exec), std::string::npos) << entry;
    }
}

TEST_F(SettingsTest, CloseModeIsReadWithoutCreatingTheKeyAndWrittenWhenMissing) {
    MapRecord r;
    r.values[CloseMode] = true;
    loadCloseMode(r, store);
    EXPECT_TRUE(r.option(CloseMode)) << "no key: the box keeps its state";
    saveCloseMode(r, store);
    EXPECT_FALSE(store.open(kSettingsKey, false)) << "saving does not create the key either";

    reg::Key key = settingsKey();
    loadCloseMode(r, store);
    EXPECT_FALSE(r.option(CloseMode));
    EXPECT_EQ(key.readInteger("Close immediately"), 0);

    r.values[CloseMode] = true;
    saveCloseMode(r, store);
    r.values[CloseMode] = false;
    loadCloseMode(r, store);
    EXPECT_TRUE(r.option(CloseMode));
}

TEST_F(SettingsTest, StartMinimisedReadsMinimizeOrNothingWhenTheStoreIsUnusable) {
    EXPECT_EQ(storedStartMinimised(store), false);
    EXPECT_TRUE(store.open(kSettingsKey, false)) << "the key is created";
    settingsKey().writeInteger("MINIMIZE", 1);
    EXPECT_EQ(storedStartMinimised(store), true);

    reg::Store unusable(dir.path()); // a folder where the file should be
    EXPECT_EQ(storedStartMinimised(unusable), std::nullopt);
}

namespace {

class MachineStoreTest : public ::testing::Test {
protected:
    MachineStoreTest() {
        const char* cfg = std::getenv(reg::kConfigDirVariable);
        savedConfig = cfg ? std::optional<std::string>(cfg) : std::nullopt;
        const char* xdg = std::getenv("XDG_CONFIG_HOME");
        savedXdg = xdg ? std::optional<std::string>(xdg) : std::nullopt;
    }
    ~MachineStoreTest() override {
        restore(reg::kConfigDirVariable, savedConfig);
        restore("XDG_CONFIG_HOME", savedXdg);
        resetMachineStore();
    }
    static void restore(const char* name, const std::optional<std::string>& value) {
        if (value)
            ::setenv(name, value->c_str(), 1);
        else
            ::unsetenv(name);
    }
    TempDir dir;
    test::RecordingPrompter prompts;
    std::optional<std::string> savedConfig;
    std::optional<std::string> savedXdg;
};

} // namespace

TEST_F(MachineStoreTest, UnwritableMachineFolderFallsBackAndSaysSoOnce) {
    ::unsetenv(reg::kConfigDirVariable);
    ::setenv("XDG_CONFIG_HOME", (dir.path() / "xdg").c_str(), 1);
    std::ofstream(dir.path() / "file") << "x";
    resetMachineStore(dir.path() / "file" / "corvane");

    MapRecord r;
    loadSettings(r, machineStore());
    reportStoreEvents();
    loadSettings(r, machineStore());
    reportStoreEvents();
    ASSERT_EQ(prompts.messages.size(), 1u);
    const QString text = prompts.messages[0].text;
    EXPECT_TRUE(text.contains(QString::fromStdString((dir.path() / "file" / "corvane").string())));
    EXPECT_TRUE(text.contains(QString::fromStdString((dir.path() / "xdg" / "corvane").string())));
    EXPECT_TRUE(fs::exists(dir.path() / "xdg" / "corvane" / "machine.reg"));
}

// Every start of a normal user's window, report and restore meets the same refusal: it is said
// once for the user, and again only when the situation it told of has changed.
TEST_F(MachineStoreTest, TheFallbackIsToldOncePerUserUntilTheSituationChanges) {
    ::unsetenv(reg::kConfigDirVariable);
    ::setenv("XDG_CONFIG_HOME", (dir.path() / "xdg").c_str(), 1);
    const fs::path parent = dir.path() / "file";
    const fs::path machine = parent / "corvane";
    const fs::path marker = dir.path() / "xdg" / "corvane" / "machine-folder-refused";
    const auto unwritable = [&] {
        fs::remove_all(parent);
        std::ofstream(parent) << "x";
    };
    // One start: the store is opened and what it has to tell is told (or taken, without a
    // window); the count of notices about the fallback.
    const auto start = [&](bool windowless) {
        resetMachineStore(machine);
        const std::size_t before = prompts.messages.size();
        machineStore();
        int told = 0;
        if (windowless) {
            for (const StoreNotice& n : takeStoreNotices())
                told += n.text.contains(QStringLiteral("cannot be written"));
        } else {
            reportStoreEvents();
            for (std::size_t i = before; i < prompts.messages.size(); ++i)
                told += prompts.messages[i].text.contains(QStringLiteral("cannot be written"));
        }
        return told;
    };

    unwritable();
    EXPECT_EQ(start(false), 1);
    EXPECT_EQ(fs::status(marker).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(start(false), 0) << "a second start";
    EXPECT_EQ(start(true), 0) << "a command without a window";

    // Writable again, then refused again: news once more.
    fs::remove(parent);
    fs::create_directories(parent);
    EXPECT_EQ(start(false), 0);
    EXPECT_FALSE(fs::exists(marker));
    unwritable();
    EXPECT_EQ(start(true), 1) << "told by the command without a window, and remembered";
    EXPECT_EQ(start(false), 0);

    // A marker of another situation, or one that cannot be read, is no memory of this one.
    { std::ofstream(marker) << "/elsewhere\nPermission denied\n"; }
    EXPECT_EQ(start(false), 1);
    fs::remove(marker);
    fs::create_symlink(dir.path() / "xdg" / "elsewhere", marker);
    EXPECT_EQ(start(false), 1);
    EXPECT_EQ(start(false), 0) << "the link was replaced by the marker";
    EXPECT_FALSE(fs::is_symlink(marker));
}

TEST_F(MachineStoreTest, ACorruptStoreIsReportedOnceNamingTheKeptFile) {
    ::setenv(reg::kConfigDirVariable, dir.path().c_str(), 1);
    resetMachineStore();
    std::ofstream(dir.path() / "machine.reg")
        << "[Software\\halvern\\zorvent]\n\"Auto update\" 1\n";

    MapRecord r;
    EXPECT_FALSE(loadSettings(r, machineStore()));
    reportStoreEvents();
    EXPECT_TRUE(loadSettings(r, machineStore()));
    reportStoreEvents();
    expectDefaults(r);

    ASSERT_EQ(prompts.messages.size(), 1u);
    const auto& m = prompts.messages[0];
    EXPECT_EQ(m.icon, MsgIcon::Warning);
    const auto kept = [&] {
        for (const auto& e : fs::directory_iterator(dir.path())) {
            if (e.path().filename().string().starts_with("machine.reg.corrupt-"))
                return e.path();
        }
        return fs::path();
    }();
    ASSERT_FALSE(kept.empty());
    EXPECT_TRUE(m.text.contains(QString::fromStdString(kept.string()))) << m.text.toStdString();
    EXPECT_TRUE(m.text.contains(QStringLiteral("line 2: "))) << m.text.toStdString();
}

// The stored form is the users' installed state: what a first run, an "Ok" and a close write
// stays the same byte for byte, and a load followed by a save changes nothing.
TEST_F(SettingsTest, TheStoredFormStaysByteForByte) {
    const fs::path file = dir.path() / "machine.reg";
    const std::string head =
        R"(; Corvane settings store: [key path] sections, "name" = int:N or "name" = str:"text"

[Software\halvern\zorvent]
)";
    const std::string firstRun = head + R"("Auto update" = int:1
"Auto save size" = int:0
"Auto expand tree" = int:0
"Colored routing table" = int:1
"Ignore localhost" = int:1
"Ignore broadcast addr" = int:0
"Overwrite report" = int:1
"Toolbar" = int:1
"Disable Error Messages" = int:0
"Auto run" = int:0
"Minimize" = int:0
"Resolve Port Names" = int:0
"Resolve IP Addresses" = int:0
"Only established TCP connections" = int:0
"Remove Dead IP Addresses" = int:1
"Width" = int:800
"Height" = int:555
"Close immediately" = int:0
)";
    const std::string body = R"("Auto update" = int:0
"Auto save size" = int:1
"Auto expand tree" = int:1
"Colored routing table" = int:0
"Ignore localhost" = int:0
"Ignore broadcast addr" = int:1
"Overwrite report" = int:0
"Toolbar" = int:0
"Disable Error Messages" = int:1
"Auto run" = int:1
"Minimize" = int:1
"Resolve Port Names" = int:1
"Resolve IP Addresses" = int:1
"Only established TCP connections" = int:1
"Remove Dead IP Addresses" = int:0
)";
    const std::string tail = R"("Close immediately" = int:1
"Log IP Addresses" = int:1
"Show incactive persistent routes" = int:0
"Show IPv6" = int:1
"Show all routing tables" = int:0
)";

    MapRecord r;
    loadCloseMode(r, store);
    EXPECT_FALSE(loadSettings(r, store));
    EXPECT_TRUE(loadSettings(r, store));
    loadCloseMode(r, store);
    EXPECT_EQ(slurp(file), firstRun);

    for (const auto& [o, on] : kExpectedDefaults)
        r.values[o] = !on;
    r.values[IpLogging] = true;
    r.values[ShowInactiveRoutes] = false;
    r.values[CloseMode] = true;
    r.changed = false;
    r.setStoredSize(1000, 700);
    saveCloseMode(r, store); // "Ok"
    saveSettings(r, store, false, "/opt/corvane/bin/corvane");
    EXPECT_EQ(slurp(file), head + body + "\"Width\" = int:1000\n\"Height\" = int:700\n" + tail);
    r.setStoredSize(1010, 710);
    saveSettings(r, store, true, "/opt/corvane/bin/corvane"); // the close
    const std::string closed = head + body + "\"Width\" = int:1010\n\"Height\" = int:710\n" + tail;
    EXPECT_EQ(slurp(file), closed);

    MapRecord back;
    loadCloseMode(back, store);
    EXPECT_TRUE(loadSettings(back, store));
    back.changed = false;
    saveCloseMode(back, store);
    saveSettings(back, store, false, "/opt/corvane/bin/corvane");
    EXPECT_EQ(slurp(file), closed);
}

namespace {

// The table with one more row, as a new option would add it.
template <std::size_t N>
constexpr std::array<OptionRow, N + 1> withRow(const std::array<OptionRow, N>& rows,
                                               OptionRow extra) {
    std::array<OptionRow, N + 1> out{};
    for (std::size_t i = 0; i < N; ++i)
        out[i] = rows[i];
    out[N] = extra;
    return out;
}

} // namespace

TEST(OptionTable, EveryOptionHasOneRowWithItsOwnValueName) {
    std::set<std::string> names;
    std::set<std::string> boxes;
    for (std::size_t i = 0; i < optionCount; ++i) {
        const auto o = static_cast<Option>(i);
        EXPECT_EQ(std::count_if(kOptionRows.begin(), kOptionRows.end(),
                                [&](const OptionRow& r) { return r.option == o; }),
                  1)
            << i;
        std::string name(valueName(o));
        std::ranges::transform(name, name.begin(), [](unsigned char c) { return std::tolower(c); });
        EXPECT_TRUE(names.insert(name).second) << "the store is case-blind: " << name;
        if (const char* box = optionRow(o).box) {
            EXPECT_TRUE(boxes.insert(box).second) << box;
        }
    }
    EXPECT_FALSE(names.contains("width") || names.contains("height"));

    // The stores in use were written by readers of this order.
    std::vector<std::string_view> order;
    for (const Option o : kResetOrder)
        order.push_back(valueName(o));
    EXPECT_EQ(order, (std::vector<std::string_view>{
                         "Auto update", "Auto save size", "Auto expand tree",
                         "Colored routing table", "Ignore localhost", "Ignore broadcast addr",
                         "Overwrite report", "Toolbar", "Auto run", "Disable Error Messages",
                         "Minimize", "Resolve Port Names", "Remove Dead IP Addresses",
                         "Resolve IP Addresses", "Only established TCP connections"}));

    // The guards the table is compiled against refuse the faults a new option could bring.
    using namespace optiontable;
    constexpr OptionRow fresh{.option = Option::Count, .valueName = "New", .defaultOn = true};
    static_assert(!everyOptionHasOneRow(withRow(kOptionRows, fresh)), "a row without an option");
    static_assert(!everyOptionHasOneRow(withRow(kOptionRows, kOptionRows[3])), "a second row");
    constexpr OptionRow resetting{.option = Option::Count,
                                  .valueName = "New",
                                  .defaultOn = true,
                                  .resetStep = kResettingOptions};
    static_assert(resetStepsAreTheFrozenOnes(withRow(kOptionRows, fresh)));
    static_assert(!resetStepsAreTheFrozenOnes(withRow(kOptionRows, resetting)),
                  "a sixteenth resetting value");
    constexpr OptionRow stealing{
        .option = Option::Count, .valueName = "New", .defaultOn = true, .resetStep = 4};
    static_assert(!resetStepsAreTheFrozenOnes(withRow(kOptionRows, stealing)), "a taken step");
    constexpr OptionRow unboxed{.option = Option::Count,
                                .valueName = "New",
                                .defaultOn = true,
                                .page = OptionPage::Logging,
                                .box = "cbxNew",
                                .caption = "New"};
    static_assert(!boxesArePaged(withRow(kOptionRows, unboxed)), "a box without a help topic");
}

// A store from before an option existed lacks its value: the others stay as stored, the
// option takes its fixed default, and nothing is written for it.
TEST_F(SettingsTest, AValueOutsideTheResettingOnesMissingResetsNothing) {
    int checked = 0;
    for (const OptionRow& row : kOptionRows) {
        if (row.resetStep != kFixedWhenMissing)
            continue;
        SCOPED_TRACE(row.valueName);
        ++checked;
        store.deleteKey(kSettingsKey);
        storeNonDefaults(false);
        settingsKey().writeInteger(row.valueName, row.defaultOn ? 0 : 1);
        settingsKey().deleteValue(row.valueName);

        MapRecord r;
        r.values[row.option] = !row.defaultOn;
        if (row.saved == Saved::Alone)
            loadCloseMode(r, store);
        EXPECT_TRUE(loadSettings(r, store));
        EXPECT_EQ(r.option(row.option), row.defaultOn);
        for (const auto& [o, on] : kExpectedDefaults) {
            if (o != AutoSaveSize) {
                EXPECT_EQ(r.option(o), !on) << valueName(o);
            }
        }
        // Only the close mode's own load writes its missing value.
        EXPECT_EQ(settingsKey().valueExists(row.valueName), row.saved == Saved::Alone);
    }
    EXPECT_EQ(checked, static_cast<int>(optionCount) - kResettingOptions);
}
