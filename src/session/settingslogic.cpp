#include "session/settingslogic.h"

#include "session/autostart.h"

#include <array>
#include <utility>

namespace corvane {
namespace {

using enum Option;

// Read by LoadSettings step by step; a failure anywhere returns all options to defaults.
constexpr std::array kLoadOrder = {AutoUpdate,          AutoSaveSize,     AutoExpand,
                                   ColoredTables,       IgnoreLocalhost,  IgnoreBroadcasts,
                                   OverwriteReport,     Toolbar,          AutoRun,
                                   NoErrorMessages,     Minimized,        ResolvePorts,
                                   RemoveDeadAddresses, ResolveAddresses, EstablishedOnly};

constexpr std::array<std::pair<Option, bool>, 15> kDefaults = {{
    {AutoUpdate, true},
    {AutoSaveSize, false},
    {AutoExpand, false},
    {ColoredTables, true},
    {IgnoreLocalhost, true},
    {IgnoreBroadcasts, false},
    {OverwriteReport, true},
    {Toolbar, true},
    {NoErrorMessages, false},
    {AutoRun, false},
    {Minimized, false},
    {ResolvePorts, false},
    {ResolveAddresses, false},
    {EstablishedOnly, false},
    {RemoveDeadAddresses, true},
}};

constexpr std::array kSaveOrder = {
    AutoUpdate,       AutoSaveSize,      AutoExpand,       ColoredTables,   IgnoreLocalhost,
    IgnoreBroadcasts, OverwriteReport,   Toolbar,          NoErrorMessages, AutoRun,
    Minimized,        ResolvePorts,      ResolveAddresses, EstablishedOnly, RemoveDeadAddresses,
    IpLogging,        ShowInactiveRoutes};

constexpr const char* kWidth = "Width";
constexpr const char* kHeight = "Height";

std::optional<bool> readBool(const reg::Key& key, std::string_view name) {
    const auto v = key.readInteger(name);
    if (!v)
        return std::nullopt;
    return *v != 0;
}

} // namespace

std::string_view valueName(Option option) {
    switch (option) {
    case AutoUpdate:
        return "Auto update";
    case AutoSaveSize:
        return "Auto save size";
    case AutoExpand:
        return "Auto expand tree";
    case ColoredTables:
        return "Colored routing table";
    case IgnoreLocalhost:
        return "Ignore localhost";
    case IgnoreBroadcasts:
        return "Ignore broadcast addr";
    case OverwriteReport:
        return "Overwrite report";
    case Toolbar:
        return "Toolbar";
    case NoErrorMessages:
        return "Disable Error Messages";
    case AutoRun:
        return "Auto run";
    case Minimized:
        return "Minimize";
    case ResolvePorts:
        return "Resolve Port Names";
    case ResolveAddresses:
        return "Resolve IP Addresses";
    case EstablishedOnly:
        return "Only established TCP connections";
    case RemoveDeadAddresses:
        return "Remove Dead IP Addresses";
    case IpLogging:
        return "Log IP Addresses";
    case ShowInactiveRoutes:
        return "Show incactive persistent routes";
    case CloseMode:
        return "Close immediately";
    case IgnoreOperStatus:
        return "Ignore Oper Status";
    }
    return {};
}

bool loadSettings(OptionRecord& record, reg::Store& store) {
    if (const auto key = store.open(kSettingsKey, true)) {
        // Never written by the program: a missing value has a fixed meaning.
        record.setOption(IgnoreOperStatus, readBool(*key, "Ignore Oper Status").value_or(false));
        record.setOption(IpLogging, readBool(*key, "Log IP addresses").value_or(false));
        record.setOption(ShowInactiveRoutes,
                         readBool(*key, valueName(ShowInactiveRoutes)).value_or(true));

        for (const Option o : kLoadOrder) {
            const auto v = readBool(*key, valueName(o));
            if (!v) {
                writeDefaultSettings(record, store);
                return false;
            }
            record.setOption(o, *v);
        }
        if (record.option(AutoSaveSize)) {
            const auto w = key->readInteger(kWidth);
            const auto h = w ? key->readInteger(kHeight) : std::nullopt;
            if (!w || !h) {
                writeDefaultSettings(record, store);
                return false;
            }
            record.setStoredSize(*w, *h);
        }
    }
    record.setMinimizedEnabled(record.option(AutoRun));
    return true;
}

void writeDefaultSettings(OptionRecord& record, reg::Store& store) {
    // The boxes take the defaults even when the store then refuses them, so the program runs
    // with sensible options; the failure escapes to be reported.
    for (const auto& [o, on] : kDefaults)
        record.setOption(o, on);
    const int width = record.mainWindowWidth();
    const int height = record.mainWindowHeight();
    // One locked write for the whole set: a crash leaves the old set or the new one.
    store.update([&](reg::Data& data) {
        reg::KeyData& key = data.makeKey(kSettingsKey);
        for (const auto& [o, on] : kDefaults)
            key.set(valueName(o), reg::Value::ofInteger(on ? 1 : 0));
        key.set(kWidth, reg::Value::ofInteger(width));
        key.set(kHeight, reg::Value::ofInteger(height));
    });
}

void saveSettings(OptionRecord& record, reg::Store& store, bool sizeOnly,
                  const std::string& executable) {
    store.update([&](reg::Data& data) {
        reg::KeyData& key = data.makeKey(kSettingsKey);
        if (!sizeOnly) {
            for (const Option o : kSaveOrder)
                key.set(valueName(o), reg::Value::ofInteger(record.option(o) ? 1 : 0));
        }
        if (record.option(AutoSaveSize)) {
            key.set(kWidth, reg::Value::ofInteger(record.storedWidth()));
            key.set(kHeight, reg::Value::ofInteger(record.storedHeight()));
        }
    });
    if (!sizeOnly && record.autoRunChanged())
        writeStartupEntry(store, executable, record.option(AutoRun));
}

void loadCloseMode(OptionRecord& record, reg::Store& store) {
    const auto key = store.open(kSettingsKey, false);
    if (!key)
        return;
    if (const auto v = readBool(*key, valueName(CloseMode))) {
        record.setOption(CloseMode, *v);
        return;
    }
    if (auto created = store.open(kSettingsKey, true)) {
        created->writeInteger(valueName(CloseMode), 0);
        record.setOption(CloseMode, false);
    }
}

void saveCloseMode(OptionRecord& record, reg::Store& store) {
    if (auto key = store.open(kSettingsKey, false))
        key->writeInteger(valueName(CloseMode), record.option(CloseMode) ? 1 : 0);
}

std::optional<bool> storedStartMinimised(reg::Store& store) {
    std::optional<reg::Key> key;
    try {
        key = store.open(kSettingsKey, true);
    } catch (const reg::StoreError&) {
        return std::nullopt;
    }
    if (!key)
        return std::nullopt;
    return readBool(*key, valueName(Minimized)).value_or(false);
}

} // namespace corvane
