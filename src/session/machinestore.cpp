#include "session/machinestore.h"

#include "helperclient/client.h"
#include "platform/systemtext.h"
#include "registry/atomicfile.h"

#include <memory>
#include <optional>
#include <utility>

namespace corvane {
namespace {

struct State {
    std::filesystem::path machineFolder = reg::kMachineFolder;
    std::unique_ptr<reg::Store> store;
    reg::StoreLocation location;
    bool fallbackPending = false;
    bool fallbackQueued = false; // among the pending notices, not yet told
    bool held = false;
    std::vector<StoreNotice> pending;
    std::optional<bool> routesThroughHelper; // asked once, on first need
    std::unique_ptr<reg::Store> routeStore;
};

State& state() {
    static State s;
    return s;
}

QString path(const std::filesystem::path& p) {
    return systemText(p.string());
}

QString damageNotice(const reg::StoreEvent& e) {
    QString text = QStringLiteral("The settings file %1 could not be read in full (%2).\n")
                       .arg(path(e.file), systemText(reg::unreadableLinesText(e.unreadable)));
    if (!e.keptAs.empty())
        return text + QStringLiteral("It has been kept as %1; the settings that could be read "
                                     "are used.")
                          .arg(path(e.keptAs));
    return text + QStringLiteral("No copy of it could be kept (%1), so it is left as it is and "
                                 "no setting can be saved; the settings that could be read are "
                                 "used.")
                      .arg(systemText(e.copyFailure));
}

// The fallback is told once per user: a marker in the user's folder remembers the situation
// it told of (the refused folder and why), and another situation is told again. A marker that
// cannot be read or written only means telling again.
constexpr const char* kFallbackToldFile = "machine-folder-refused";
constexpr std::size_t kMaxMarkerSize = 8192;

std::string fallbackSituation(const reg::StoreLocation& location) {
    return location.refusedFolder.string() + '\n' + location.reason + '\n';
}

bool fallbackTold(const reg::StoreLocation& location) {
    try {
        const std::optional<reg::FileContent> marker =
            reg::readWholeFile(location.folder / kFallbackToldFile, kMaxMarkerSize);
        return marker && marker->text == fallbackSituation(location);
    } catch (const reg::StoreError&) {
        return false;
    }
}

void rememberFallbackTold(const reg::StoreLocation& location) {
    try {
        reg::writeFileAtomically(location.folder / kFallbackToldFile, fallbackSituation(location),
                                 0600);
    } catch (const reg::StoreError&) {
    }
}

// The machine folder takes this user's writes again: a later refusal is news.
void forgetFallbackTold() {
    std::error_code ec;
    std::filesystem::remove(reg::userConfigHome() / "corvane" / kFallbackToldFile, ec);
}

// Moves what the store has noticed since the last look to the pending notices.
void collect(State& s) {
    if (!s.store)
        return;
    if (s.fallbackPending) {
        s.fallbackPending = false;
        s.fallbackQueued = true;
        s.pending.push_back(
            {QStringLiteral("The machine-wide settings folder %1 cannot be written (%2).\n"
                            "Your settings are kept in %3 instead.")
                 .arg(path(s.location.refusedFolder), systemText(s.location.reason),
                      path(s.location.folder)),
             QStringLiteral("Corvane"), MsgIcon::Information});
    }
    for (const reg::StoreEvent& e : s.store->takeEvents())
        s.pending.push_back({damageNotice(e), QStringLiteral("Corvane"), MsgIcon::Warning});
}

// The pending notices leave to be told: the fallback among them counts as said.
std::vector<StoreNotice> takePending(State& s) {
    if (std::exchange(s.fallbackQueued, false))
        rememberFallbackTold(s.location);
    return std::exchange(s.pending, {});
}

void showPending(State& s) {
    // Taken first: a box runs the event loop, which may report again meanwhile.
    for (const StoreNotice& n : takePending(s))
        showMessage(n.text, n.caption, n.icon);
}

} // namespace

reg::Store& machineStore() {
    State& s = state();
    if (!s.store) {
        s.location = reg::locateMachineStore(s.machineFolder);
        s.fallbackPending = s.location.fellBack && !fallbackTold(s.location);
        if (!s.location.fellBack && s.location.folder == s.machineFolder)
            forgetFallbackTold();
        s.store = std::make_unique<reg::Store>(s.location.folder / reg::kMachineStoreFile);
    }
    return *s.store;
}

bool persistentRoutesThroughHelper() {
    machineStore();
    State& s = state();
    if (!s.routesThroughHelper)
        s.routesThroughHelper = s.location.fellBack && helper::reachable();
    return *s.routesThroughHelper;
}

reg::Store& persistentRouteStore() {
    if (!persistentRoutesThroughHelper())
        return machineStore();
    State& s = state();
    if (!s.routeStore)
        s.routeStore =
            std::make_unique<reg::Store>(s.location.refusedFolder / reg::kMachineStoreFile);
    return *s.routeStore;
}

std::filesystem::path machineStoreFolder() {
    machineStore();
    return state().location.folder;
}

void resetMachineStore(const std::filesystem::path& machineFolder) {
    State& s = state();
    s.store.reset();
    s.routesThroughHelper.reset();
    s.routeStore.reset();
    s.machineFolder = machineFolder;
    s.fallbackPending = false;
    s.fallbackQueued = false;
    s.held = false;
    s.pending.clear();
}

void reportStoreEvents() {
    State& s = state();
    collect(s);
    if (!s.held)
        showPending(s);
}

void holdStoreNotices() {
    state().held = true;
}

void releaseStoreNotices() {
    State& s = state();
    s.held = false;
    collect(s);
    showPending(s);
}

std::vector<StoreNotice> takeStoreNotices() {
    State& s = state();
    collect(s);
    return takePending(s);
}

void reportStoreError(const reg::StoreError& error) {
    State& s = state();
    collect(s); // what led to the failure comes first
    s.pending.push_back(
        {QStringLiteral("The settings could not be saved.\n%1").arg(systemText(error.what())),
         QStringLiteral("Error"), MsgIcon::Error});
    if (!s.held)
        showPending(s);
}

} // namespace corvane
