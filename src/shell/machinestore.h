// The program's machine-wide settings store: located on first use, and what happened to it
// (a per-user fallback, an unreadable file set aside, a failed write) told to the user once.
#pragma once

#include "registry/location.h"
#include "registry/store.h"

#include <filesystem>

namespace corvane {

reg::Store& machineStore();

// Forgets the store so that the next use locates it again under machineFolder (tests).
void resetMachineStore(const std::filesystem::path& machineFolder = reg::kMachineFolder);

// Shows, through the prompter, each event the store recorded since the last call, and the
// fallback to the per-user folder the first time it is known.
void reportStoreEvents();

// Shows a failed store write under caption "Error".
void reportStoreError(const reg::StoreError& error);

} // namespace corvane
