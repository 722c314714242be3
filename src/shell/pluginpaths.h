// What Qt may load into a process that can run as root: its plugins come from the folders of
// the installed Qt (the program pins those; see shell/qtconf/qt.conf.in) and from folders named
// in the environment, which sudo -E may carry over from another user.
#pragma once

#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace corvane {

// Why a process with effective user `euid` must not open the window from a program in
// `exeDir`; empty when it may. Root refuses a folder that others could have written to:
// a library or qt.conf put beside the executable would run with root's rights.
std::string windowRefusal(const std::string& exeDir, uid_t euid);

// A plugin folder Qt may search: an absolute path to a trusted folder (installpaths.h) whose
// sub-folders, where Qt looks for each kind of plugin, are trusted as well. Returns the folder
// with links resolved, so that nobody can turn them elsewhere after the check; empty with the
// reason in why otherwise.
std::string trustedPluginFolder(const std::string& path, std::string& why);

// The entries of a colon-separated list of plugin folders that are trusted, resolved, in their
// order; each one left out is added to `dropped` with the reason.
std::string trustedPluginList(std::string_view list, std::vector<std::string>& dropped);

// QT_PLUGIN_PATH and QT_QPA_PLATFORM_PLUGIN_PATH keep only their trusted entries (and are
// unset when none is left), before any Qt application object reads them. Returns one line per
// entry left out.
std::vector<std::string> dropUntrustedPluginPaths();

} // namespace corvane
