#include "routing/persistentroutes.h"

#include "corvane_result.h"
#include "helperclient/client.h"
#include "netmgr/route_home.h"
#include "platform/resulttext.h"
#include "session/machinestore.h"

#include <algorithm>
#include <cstdio>
#include <unordered_set>

namespace corvane {

const char* const persistentRoutesKey = reg::kPersistentRoutesKey;
const char* const persistentRoutes2Key = reg::kPersistentRoutes2Key;

namespace {

std::vector<std::string> readNames(const char* keyPath, std::string* failure) {
    std::vector<std::string> names;
    try {
        // One snapshot: the store file is read once, however many names it holds.
        const auto data = persistentRouteStore().snapshot();
        if (const reg::KeyData* key = data->findKey(keyPath)) {
            names.reserve(key->values.size());
            for (const auto& value : key->values)
                names.push_back(value.first);
        }
    } catch (const reg::StoreError& error) {
        names.clear();
        if (failure)
            *failure = error.what();
    }
    return names;
}

const char* keyOfName(std::string_view name) {
    return reg::looksWide(name) ? persistentRoutes2Key : persistentRoutesKey;
}

} // namespace

std::vector<std::string> ReadPersistentRouteNames(std::string* failure) {
    return readNames(persistentRoutesKey, failure);
}

std::vector<std::string> ReadWidePersistentRouteNames(std::string* failure) {
    return readNames(persistentRoutes2Key, failure);
}

bool IsPersistent(const std::string& name) {
    const std::optional<reg::Key> key = persistentRouteStore().open(keyOfName(name), false);
    return key && key->valueExists(name);
}

namespace {

// The store compares value names without regard to ASCII case; so does the batch.
std::string foldedName(std::string_view name) {
    std::string folded(name);
    for (char& c : folded)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return folded;
}

std::unordered_set<std::string> foldedNames(const reg::KeyData& key) {
    std::unordered_set<std::string> names;
    names.reserve(key.values.size());
    for (const auto& value : key.values)
        names.insert(foldedName(value.first));
    return names;
}

// Whether adding (or removing) the names would change the key.
bool wouldChange(const reg::KeyData& key, const std::vector<std::string>& names, bool add) {
    const std::unordered_set<std::string> present = foldedNames(key);
    return std::any_of(names.begin(), names.end(), [&](const std::string& name) {
        return present.contains(foldedName(name)) != add;
    });
}

// Told once, where the program was started from: the route is stored all the same.
void logPlacementFailures(const std::vector<std::string>& failures) {
    for (const std::string& line : failures)
        std::fprintf(stderr, "corvane: route kept in the store only: %s\n", line.c_str());
}

// The names added or removed in one locked write, each placed with (or taken from) the manager
// of its interface as well; false when the store could not be written (shown).
bool storeDirectly(const std::vector<std::string>& names, bool persistent) {
    std::vector<std::string> failures;
    std::vector<sys::netmgr::Placed> placed;
    std::vector<std::string> first;
    std::vector<std::string> wide;
    reg::splitRouteNamesByKey(names, first, wide);
    try {
        // The key is there afterwards, as after SetPersistent, even when no name changes.
        machineStore().updateIf([&](reg::Data& data) {
            const bool existed = data.findKey(persistentRoutesKey) != nullptr;
            reg::KeyData& k = data.makeKey(persistentRoutesKey);
            bool write = !existed;
            if (wouldChange(k, first, persistent)) {
                sys::netmgr::changeStoredRoutes(k, first, persistent, failures, &placed);
                write = true;
            }
            // The second key only once a name of its own is stored.
            const reg::KeyData* w = data.findKey(persistentRoutes2Key);
            if (!wide.empty() && (w ? wouldChange(*w, wide, persistent) : persistent)) {
                reg::changeWideRouteNames(data.makeKey(persistentRoutes2Key), wide, persistent);
                write = true;
            }
            return write;
        });
    } catch (const reg::StoreError& error) {
        // Not recorded, so not left with a manager either: nothing would take it out again.
        sys::netmgr::takeBack(placed);
        reportStoreError(error);
        return false;
    }
    logPlacementFailures(failures);
    return true;
}

// Whether the store the helper writes already holds what is asked: then nobody is asked for a
// password for a change that changes nothing.
bool alreadySo(const std::vector<std::string>& names, bool persistent) {
    try {
        const std::shared_ptr<const reg::Data> current = persistentRouteStore().snapshot();
        std::vector<std::string> first;
        std::vector<std::string> wide;
        reg::splitRouteNamesByKey(names, first, wide);
        // The first key is looked at for an empty batch too, as it always was.
        const auto so = [&](const char* path, const std::vector<std::string>& part) {
            if (part.empty() && (path != persistentRoutesKey || !wide.empty()))
                return true;
            const reg::KeyData* key = current->findKey(path);
            return key ? !wouldChange(*key, part, persistent) : !persistent;
        };
        return so(persistentRoutesKey, first) && so(persistentRoutes2Key, wide);
    } catch (const reg::StoreError&) {
        return false;
    }
}

// The names handed to the helper; false when it refused them or could not be asked (shown).
void reportThroughHelper(DWORD code) {
    reportStoreError(reg::StoreError(
        // One line: the box escapes a line feed inside the failure's text.
        QStringLiteral("%1 (through corvane-helper): %2")
            .arg(QString::fromStdString(persistentRouteStore().file().string()), resultText(code))
            .toStdString()));
}

bool storeThroughHelper(const std::vector<std::string>& names, bool persistent) {
    const helper::Reply reply = helper::setPersistentRoutes(names, persistent);
    if (reply.reached && reply.result == 0)
        return true;
    // The same distinctions as a change's box: a helper gone since the start is one that is
    // not installed any more.
    reportThroughHelper(reply.reached ? reply.result : ERROR_ACCESS_DENIED);
    return false;
}

} // namespace

namespace {

// The one text a name is stored in, or why it is not stored.
std::optional<std::string> storedText(const std::string& name, RefusedRouteName& why) {
    if (reg::looksWide(name)) {
        reg::StorableWideName stored = reg::storableWideRouteName(name);
        if (stored.fault == reg::WideRouteFault::None)
            return std::move(stored.name);
        why = {name, reg::RouteNameFault::None, stored.fault};
        return std::nullopt;
    }
    reg::StorableName stored = reg::storableRouteName(name);
    if (stored.fault == reg::RouteNameFault::None)
        return std::move(stored.name);
    why = {name, stored.fault, reg::WideRouteFault::None};
    return std::nullopt;
}

} // namespace

bool SetPersistent(const std::vector<std::string>& names, bool persistent,
                   std::vector<RefusedRouteName>* refused) {
    // Stored in the one text of each route, as the helper stores it: a name typed with
    // leading zeros then names the route its row shows.
    std::vector<std::string> wanted;
    wanted.reserve(names.size());
    bool allTaken = true;
    for (const std::string& name : names) {
        if (!persistent) {
            wanted.push_back(name);
            continue;
        }
        RefusedRouteName why;
        std::optional<std::string> stored = storedText(name, why);
        if (!stored) {
            allTaken = false;
            if (refused)
                refused->push_back(std::move(why));
            continue;
        }
        wanted.push_back(std::move(*stored));
    }
    if (persistentRoutesThroughHelper()) {
        if (alreadySo(wanted, persistent))
            return allTaken;
        return storeThroughHelper(wanted, persistent) && allTaken;
    }
    return storeDirectly(wanted, persistent) && allTaken;
}

bool SetPersistent(const std::string& name, bool persistent) {
    std::string stored = name;
    if (persistent) {
        RefusedRouteName why;
        std::optional<std::string> s = storedText(name, why);
        if (!s)
            return false;
        stored = std::move(*s);
    }
    if (persistentRoutesThroughHelper())
        return alreadySo({stored}, persistent) || storeThroughHelper({stored}, persistent);
    // A store left behind would bring the route back at start-up: shown when not written.
    return storeDirectly({stored}, persistent);
}

void ReportHelperStoreFailure(DWORD code) {
    reportThroughHelper(code);
}

} // namespace corvane
