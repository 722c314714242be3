// The program's machine-wide settings store: located on first use, and what happened to it
// (a per-user fallback, a damaged file kept aside, a failed write) told to the user once.
#pragma once

#include "platform/prompter.h"
#include "registry/location.h"
#include "registry/store.h"

#include <QString>
#include <filesystem>
#include <vector>

namespace corvane {

reg::Store& machineStore();
// The folder the store was found in (located on first use): machine-wide or per-user.
std::filesystem::path machineStoreFolder();

// Persistent routes belong to the machine: the boot-time restore reads them from the machine
// folder. A process that may not write that folder keeps its other settings in the user's
// folder, but where the privileged helper answers, the persistent routes are read from the
// machine folder's store (this store, read only) and written through the helper.
bool persistentRoutesThroughHelper();
reg::Store& persistentRouteStore();

// Forgets the store so that the next use locates it again under machineFolder (tests).
void resetMachineStore(const std::filesystem::path& machineFolder = reg::kMachineFolder);

// Shows, through the prompter, each event the store recorded since the last call, and the
// fallback to the per-user folder the first time it is known. While held, they wait.
void reportStoreEvents();

// The main window reads the store before it can show a box: its notices wait from then until
// the window is up, and are shown then, each once.
void holdStoreNotices();
void releaseStoreNotices();

struct StoreNotice {
    QString text; // control characters made harmless; lines separated by a line feed
    QString caption;
    MsgIcon icon = MsgIcon::Information;
};
// The notices not yet shown, taken to be told another way (a command without a window).
std::vector<StoreNotice> takeStoreNotices();

// Shows a failed store write under caption "Error" (held like the notices).
void reportStoreError(const reg::StoreError& error);

} // namespace corvane
