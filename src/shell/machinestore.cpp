#include "shell/machinestore.h"

#include "shell/prompter.h"

#include <memory>

namespace corvane {
namespace {

struct State {
    std::filesystem::path machineFolder = reg::kMachineFolder;
    std::unique_ptr<reg::Store> store;
    reg::StoreLocation location;
    bool fallbackPending = false;
};

State& state() {
    static State s;
    return s;
}

QString path(const std::filesystem::path& p) {
    return QString::fromStdString(p.string());
}

} // namespace

reg::Store& machineStore() {
    State& s = state();
    if (!s.store) {
        s.location = reg::locateMachineStore(s.machineFolder);
        s.fallbackPending = s.location.fellBack;
        s.store = std::make_unique<reg::Store>(s.location.folder / reg::kMachineStoreFile);
    }
    return *s.store;
}

void resetMachineStore(const std::filesystem::path& machineFolder) {
    State& s = state();
    s.store.reset();
    s.machineFolder = machineFolder;
    s.fallbackPending = false;
}

void reportStoreEvents() {
    State& s = state();
    if (!s.store)
        return;
    if (s.fallbackPending) {
        s.fallbackPending = false;
        showMessage(QStringLiteral("The machine-wide settings folder %1 cannot be written (%2).\n"
                                   "Your settings are kept in %3 instead.")
                        .arg(path(s.location.refusedFolder),
                             QString::fromStdString(s.location.reason), path(s.location.folder)),
                    QStringLiteral("Corvane"), MsgIcon::Information);
    }
    for (const reg::StoreEvent& e : s.store->takeEvents()) {
        showMessage(QStringLiteral("The settings file %1 could not be read (%2).\n"
                                   "It has been kept as %3, and the default settings are used.")
                        .arg(path(e.file), QString::fromStdString(e.reason), path(e.keptAs)),
                    QStringLiteral("Corvane"), MsgIcon::Warning);
    }
}

void reportStoreError(const reg::StoreError& error) {
    showMessage(QStringLiteral("The settings could not be saved.\n%1")
                    .arg(QString::fromStdString(error.what())),
                QStringLiteral("Error"), MsgIcon::Error);
}

} // namespace corvane
