#include "session/settingslogic.h"

#include "session/autostart.h"

namespace corvane {
namespace {

using enum Option;

// Each row in the enum's order, which is the order values are first written in.
template <typename F> void eachInWritingOrder(F&& f) {
    for (std::size_t i = 0; i < optionCount; ++i)
        f(optionRow(static_cast<Option>(i)));
}

constexpr const char* kWidth = "Width";
constexpr const char* kHeight = "Height";

std::optional<bool> readBool(const reg::Key& key, std::string_view name) {
    const auto v = key.readInteger(name);
    if (!v)
        return std::nullopt;
    return *v != 0;
}

} // namespace

bool loadSettings(OptionRecord& record, reg::Store& store) {
    if (const auto key = store.open(kSettingsKey, true)) {
        eachInWritingOrder([&](const OptionRow& row) {
            if (row.resetStep == kFixedWhenMissing && row.saved != Saved::Alone)
                record.setOption(row.option, readBool(*key, row.valueName).value_or(row.defaultOn));
        });

        for (const Option o : kResetOrder) {
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
    eachInWritingOrder([&](const OptionRow& row) {
        if (row.resetStep != kFixedWhenMissing)
            record.setOption(row.option, row.defaultOn);
    });
    const int width = record.mainWindowWidth();
    const int height = record.mainWindowHeight();
    // One locked write for the whole set: a crash leaves the old set or the new one.
    store.update([&](reg::Data& data) {
        reg::KeyData& key = data.makeKey(kSettingsKey);
        eachInWritingOrder([&](const OptionRow& row) {
            if (row.resetStep != kFixedWhenMissing)
                key.set(row.valueName, reg::Value::ofInteger(row.defaultOn ? 1 : 0));
        });
        key.set(kWidth, reg::Value::ofInteger(width));
        key.set(kHeight, reg::Value::ofInteger(height));
    });
}

void saveSettings(OptionRecord& record, reg::Store& store, bool sizeOnly,
                  const std::string& executable) {
    store.update([&](reg::Data& data) {
        reg::KeyData& key = data.makeKey(kSettingsKey);
        if (!sizeOnly) {
            eachInWritingOrder([&](const OptionRow& row) {
                if (row.saved == Saved::WithOthers)
                    key.set(row.valueName,
                            reg::Value::ofInteger(record.option(row.option) ? 1 : 0));
            });
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
    eachInWritingOrder([&](const OptionRow& row) {
        if (row.saved != Saved::Alone)
            return;
        if (const auto v = readBool(*key, row.valueName)) {
            record.setOption(row.option, *v);
            return;
        }
        if (auto created = store.open(kSettingsKey, true)) {
            created->writeInteger(row.valueName, row.defaultOn ? 1 : 0);
            record.setOption(row.option, row.defaultOn);
        }
    });
}

void saveCloseMode(OptionRecord& record, reg::Store& store) {
    auto key = store.open(kSettingsKey, false);
    if (!key)
        return;
    eachInWritingOrder([&](const OptionRow& row) {
        if (row.saved == Saved::Alone)
            key->writeInteger(row.valueName, record.option(row.option) ? 1 : 0);
    });
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
